/* Path normalisation.
 *
 * Order of work: length limit (the style's: UTF-16 units as Windows counts
 * them, bytes on Unix), separators (Windows style), components,
 * environment variables, "~", the current directory, then ".", ".." and
 * links in one left-to-right pass. When a prefix of the path turns out to be
 * a symbolic link, the path is rebuilt from the link's target and the
 * components not yet processed, and normalisation starts over on it. A set of
 * visited paths (shared across the restarts) stops link cycles: a path met
 * twice, or more than 24 rewrites, is M_FS_ERROR_LINK_LOOP.
 *
 * Environment values are split into components as they are inserted, so
 * that a value such as "/home/u" keeps its root and a following ".." removes
 * only its last component.
 */
#include "fs/m_fs_path_int.h"
#include "containers/m_hash_strvp.h"
#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

namespace {

using m::detail::Parts;

/* Paths recorded before a rewrite is refused: the original plus 24
 * rewrites. */
constexpr uint64_t kMaxVisited = 24;

/* The name of a variable component ("$NAME" or "%NAME%"), or false when the
 * component names no variable. */
bool variable_name(const char *comp, const char **name, size_t *len) noexcept
{
	const size_t clen = M_str_len(comp);
	if (clen >= 1 && comp[0] == '$') {
		*name = comp + 1;
		*len  = clen - 1;
		return true;
	}
	if (clen >= 2 && comp[0] == '%' && comp[clen - 1] == '%') {
		*name = comp + 1;
		*len  = clen - 2;
		return true;
	}
	return false;
}

/* Replace variable components by their values' components. An unset or
 * empty variable fails (the Windows reading of a variable fails for both). */
M_fs_error_t expand_env(Parts &parts, M_fs_system_t sys) noexcept
{
	bool any = false;
	for (size_t i = 0; i < parts.size(); i++) {
		if (parts.at(i)[0] == '$' || parts.at(i)[0] == '%')
			any = true;
	}
	if (!any)
		return M_FS_ERROR_SUCCESS;

	Parts out;
	for (size_t i = 0; i < parts.size(); i++) {
		const char *name = nullptr;
		size_t      len  = 0;
		if (!variable_name(parts.at(i), &name, &len)) {
			out.push(parts.at(i));
			continue;
		}
		if (len == 0)
			continue; /* "$" or "%%": the component goes away */

		char *value = m::detail::env_value(name, len);
		if (value == nullptr)
			return M_FS_ERROR_GENERIC;

		Parts vparts = m::detail::split(value, sys);
		M_free(value);
		/* A root marker inside the path would be dropped on joining; only a
         * leading one means anything. */
		out.push_all(vparts, (!out.empty() && !vparts.empty() && vparts.at(0)[0] == '\0') ? 1 : 0);
	}
	parts = static_cast<Parts &&>(out);
	return M_FS_ERROR_SUCCESS;
}

/* The longest path normalisation takes, plus one: MAX_PATH, but for a
 * Windows path in the extended-length form ("\\?\"), Windows' own way past
 * it. */
size_t path_limit(const char *path, M_fs_system_t sys) noexcept
{
	const bool extended = sys == M_FS_SYSTEM_WINDOWS && M_str_eq_max(path, "\\\\?\\", 4);
	return extended ? m::detail::kExtendedPathMax : m::detail::kPathMax;
}

M_fs_error_t norm_int(char **out, const char *path, uint32_t flags, M_fs_system_t sys, M_hash_strvp_t *visited);

/* A link target that is no file-system path: the "pipe:[N]", "socket:[N]"
 * and "anon_inode:..." targets of /proc/self/fd entries. Treating those as
 * no link keeps /dev/stdin and process substitution usable. */

/* The components of prefix R are joined and read as a link. On a link,
 * normalisation restarts on target + rest and its result is stored in *out;
 * *restarted tells the caller to return that result. */
M_fs_error_t follow_link(char **out, const Parts &r, const Parts &parts, size_t next, uint32_t flags, M_fs_system_t sys,
                         M_hash_strvp_t *visited, bool *restarted) noexcept
{
	*restarted   = false;
	char *prefix = m::detail::join(r, sys);
	char *target = nullptr;
	/* A prefix that cannot be read as a link (missing, no permission) is
     * kept as it is: opening the path reports the real failure. */
	const M_fs_error_t lres = M_fs_path_readlink(&target, prefix);
	M_free(prefix);
	if (lres != M_FS_ERROR_SUCCESS || target == nullptr) {
		M_free(target);
		return M_FS_ERROR_SUCCESS;
	}

	Parts rebuilt;
	Parts tparts = m::detail::split(target, sys);
	if (!M_fs_path_isabs(target, sys)) {
		/* A relative target replaces the link's own component. */
		rebuilt.push_all(r);
		rebuilt.pop_back();
	}
	M_free(target);
	rebuilt.push_all(tparts);
	rebuilt.push_all(parts, next);

	char *npath = m::detail::join(rebuilt, sys);
	if (npath == nullptr)
		npath = M_strdup(".");
	*restarted             = true;
	const M_fs_error_t res = norm_int(out, npath, flags, sys, visited);
	M_free(npath);
	return res;
}

/* A path that begins with one backslash names the root of the current
 * drive: it gets that drive ("C:") in front, as the system reads it. Without
 * a drive in the current directory (a host without drives) it stays as it
 * is. work is replaced when the drive is added. */
void root_on_current_drive(char **work) noexcept
{
	if ((*work)[0] != '\\' || (*work)[1] == '\\')
		return;
	char *cwd = m::detail::cwd_for_norm();
	if (cwd != nullptr && m::detail::is_drive(cwd)) {
		char *with = static_cast<char *>(M_malloc(M_str_len(*work) + 3));
		with[0]    = cwd[0];
		with[1]    = ':';
		M_mem_copy(with + 2, *work, M_str_len(*work) + 1);
		M_free(*work);
		*work = with;
	}
	M_free(cwd);
}

/* The components of path as normalisation reads them. Windows style takes
 * "/" as "\\", puts the current drive before a path rooted on it, and
 * clears M_FS_PATH_NORM_RESOLVE_LINK in *flags for a network share, where
 * links are not followed. */
Parts split_for_norm(const char *path, M_fs_system_t sys, uint32_t *flags) noexcept
{
	char *work = M_strdup(path);
	if (sys == M_FS_SYSTEM_WINDOWS) {
		for (char *p = work; *p != '\0'; p++) {
			if (*p == '/')
				*p = '\\';
		}
		root_on_current_drive(&work);
		if (M_fs_path_isunc(work))
			*flags &= ~static_cast<uint32_t>(M_FS_PATH_NORM_RESOLVE_LINK);
	}
	Parts parts = m::detail::split(work, sys);
	M_free(work);
	return parts;
}

/* The path's components from index from on, put under the components of
 * dir: the home directory in place of a first "~" (from 1), or the current
 * directory in front of a relative path (from 0). dir is a new string, freed
 * here, or NULL when it could not be read; NULL or a dir without components
 * (which getcwd never gives) fails. */
M_fs_error_t put_under(Parts &parts, size_t from, char *dir, M_fs_system_t sys) noexcept
{
	if (dir == nullptr)
		return M_FS_ERROR_GENERIC;
	Parts head = m::detail::split(dir, sys);
	M_free(dir);
	if (head.empty())
		return M_FS_ERROR_GENERIC;
	head.push_all(parts, from);
	parts = static_cast<Parts &&>(head);
	return M_FS_ERROR_SUCCESS;
}

/* ".." applied to the components r read so far. */
void go_up(Parts &r, M_fs_system_t sys) noexcept
{
	if (r.empty()) {
		r.push("..");
	} else if (r.back()[0] == '\0' || (sys == M_FS_SYSTEM_WINDOWS && m::detail::is_drive(r.back()))) {
		/* Nothing above a root. */
	} else if (M_str_eq(r.back(), "..")) {
		r.push("..");
	} else {
		r.pop_back();
	}
}

/* The one left-to-right pass over the components: "." dropped, ".." applied
 * (unless M_FS_PATH_NORM_NOPARENT), and with M_FS_PATH_NORM_RESOLVE_LINK each
 * prefix read as a link, a link restarting normalisation on its target. The
 * result goes to *out. */
M_fs_error_t resolve_components(char **out, const Parts &parts, uint32_t flags, M_fs_system_t sys,
                                M_hash_strvp_t *visited) noexcept
{
	const bool follow   = (flags & M_FS_PATH_NORM_RESOLVE_LINK) != 0;
	const bool noparent = (flags & M_FS_PATH_NORM_NOPARENT) != 0;
	Parts      r;
	for (size_t i = 0; i < parts.size(); i++) {
		const char *c = parts.at(i);
		if (M_str_eq(c, "."))
			continue;
		if (!noparent && M_str_eq(c, "..")) {
			go_up(r, sys);
			continue;
		}
		r.push(c);
		/* The root marker is never a link: no system call for it. */
		if (follow && c[0] != '\0') {
			bool               restarted = false;
			const M_fs_error_t res       = follow_link(out, r, parts, i + 1, flags, sys, visited, &restarted);
			if (restarted)
				return res;
		}
	}

	*out = r.empty() ? M_strdup(".") : m::detail::join(r, sys);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t norm_int(char **out, const char *path, uint32_t flags, M_fs_system_t sys, M_hash_strvp_t *visited)
{
	if (M_hash_strvp_num_keys(visited) > kMaxVisited || M_hash_strvp_get(visited, path, nullptr))
		return M_FS_ERROR_LINK_LOOP;
	M_hash_strvp_insert(visited, path, nullptr);

	if (M_fs_path_length(path, sys) >= path_limit(path, sys))
		return M_FS_ERROR_NAME_TOO_LONG;

	Parts parts = split_for_norm(path, sys, &flags);
	if (parts.empty())
		return M_FS_ERROR_GENERIC;

	M_fs_error_t res = expand_env(parts, sys);
	if (res != M_FS_ERROR_SUCCESS)
		return res;

	if (parts.empty()) {
		if (flags & (M_FS_PATH_NORM_HOME | M_FS_PATH_NORM_ABSOLUTE))
			return M_FS_ERROR_GENERIC;
		*out = M_strdup(".");
		return M_FS_ERROR_SUCCESS;
	}

	if ((flags & M_FS_PATH_NORM_HOME) && M_str_eq(parts.at(0), "~")) {
		res = put_under(parts, 1, m::detail::home_dir(), sys);
		if (res != M_FS_ERROR_SUCCESS)
			return res;
	}

	if ((flags & M_FS_PATH_NORM_ABSOLUTE) && parts.at(0)[0] != '\0' &&
	    !(sys == M_FS_SYSTEM_WINDOWS && m::detail::is_drive(parts.at(0)))) {
		res = put_under(parts, 0, m::detail::cwd_for_norm(), sys);
		if (res != M_FS_ERROR_SUCCESS)
			return res;
	}

	return resolve_components(out, parts, flags, sys, visited);
}

} // namespace

namespace m::detail {

char *cwd_for_norm() noexcept
{
	char *cwd = nullptr;
	if (M_fs_path_get_cwd(&cwd) != M_FS_ERROR_SUCCESS)
		return nullptr;
	return cwd;
}

} // namespace m::detail

extern "C" {

M_fs_error_t M_fs_path_norm(char **out, const char *path, uint32_t flags, M_fs_system_t sys_type)
{
	if (out == nullptr)
		return M_FS_ERROR_INVALID;
	*out = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;

	M_hash_strvp_t    *visited = M_hash_strvp_create(25, 75, 0, nullptr);
	const M_fs_error_t res     = norm_int(out, path, flags, m::detail::resolve(sys_type), visited);
	M_hash_strvp_destroy(visited, M_FALSE);
	if (res != M_FS_ERROR_SUCCESS) {
		M_free(*out);
		*out = nullptr;
	}
	return res;
}

} // extern "C"
