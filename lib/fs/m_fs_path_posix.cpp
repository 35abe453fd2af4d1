/* The host side of the path layer on POSIX: the path style, the environment,
 * the current directory, link reading, the temporary and configuration
 * directories.
 */
#include "fs/m_fs_int.h"
#include "fs/m_fs_path_int.h"
#include "fs/m_platform_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

/* Room for a current directory: the longest path the system takes. */
constexpr size_t kCwdRoom = PATH_MAX;

/* Link targets of /proc/self/fd and /dev/fd entries that name kernel objects
 * rather than files: "pipe:[N]", "socket:[N]", any "<kind>:[N]", and
 * "anon_inode:<name>". */
bool is_pseudo_target(const char *t, size_t len) noexcept
{
	if (len == 0 || t[0] == '/')
		return false;
	/* readlink does not terminate its result: compare within len. */
	static constexpr char kAnon[] = "anon_inode:";
	if (len >= sizeof(kAnon) - 1 && M_mem_eq(t, kAnon, sizeof(kAnon) - 1))
		return true;
	size_t i = 0;
	while (i < len && ((t[i] >= 'a' && t[i] <= 'z') || t[i] == '_'))
		i++;
	return i > 0 && i + 1 < len && t[i] == ':' && t[i + 1] == '[' && t[len - 1] == ']';
}

} // namespace

namespace m::detail {

M_fs_system_t host_style() noexcept
{
	return M_FS_SYSTEM_UNIX;
}

char *env_value(const char *name, size_t len) noexcept
{
	char       *key   = M_strdup_max(name, len);
	const char *value = ::getenv(key);
	M_free(key);
	return M_str_isempty(value) ? nullptr : M_strdup(value);
}

} // namespace m::detail

M_fs_error_t m::detail::path_cwd_sys(char **cwd) noexcept
{
	char room[kCwdRoom];
	if (::getcwd(room, sizeof(room)) == nullptr)
		return m::detail::last_error();
	*cwd = M_strdup(room);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::path_set_cwd_sys(const char *path) noexcept
{
	if (::chdir(path) != 0)
		return m::detail::last_error();
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::path_readlink_sys(char **out, const char *path) noexcept
{
	char          target[PATH_MAX];
	const ssize_t n = ::readlink(path, target, sizeof(target));
	if (n < 0) {
		/* Not a link, or nothing there yet (a file about to be created):
         * both simply mean "no link". */
		if (errno == EINVAL || errno == ENOENT || errno == ENOTDIR)
			return M_FS_ERROR_SUCCESS;
		return m::detail::last_error();
	}
	const size_t len = static_cast<size_t>(n);
	if (len >= sizeof(target))
		return M_FS_ERROR_NAME_TOO_LONG;
	if (is_pseudo_target(target, len))
		return M_FS_ERROR_SUCCESS;

	char *copy = static_cast<char *>(M_malloc(len + 1));
	M_mem_copy(copy, target, len);
	copy[len] = '\0';
	*out      = copy;
	return M_FS_ERROR_SUCCESS;
}

extern "C" {

char *M_fs_path_user_confdir(M_fs_system_t sys_type)
{
	char        *out = nullptr;
	const char  *xdg = ::getenv("XDG_CONFIG_HOME");
	M_fs_error_t res;
	if (!M_str_isempty(xdg)) {
		res = M_fs_path_norm(&out, "$XDG_CONFIG_HOME", M_FS_PATH_NORM_NONE, sys_type);
	} else {
		res = M_fs_path_norm(&out, "~/.config", M_FS_PATH_NORM_HOME, sys_type);
	}
	return res == M_FS_ERROR_SUCCESS ? out : nullptr;
}

char *M_fs_path_tmpdir(M_fs_system_t sys_type)
{
	const char *dir = ::getenv("TMPDIR");
	if (M_str_isempty(dir))
		dir = "/tmp";
	char *out = nullptr;
	if (M_fs_path_norm(&out, dir, M_FS_PATH_NORM_ABSOLUTE, sys_type) != M_FS_ERROR_SUCCESS)
		return nullptr;
	return out;
}

} // extern "C"
