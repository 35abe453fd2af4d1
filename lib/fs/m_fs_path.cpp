/* Paths as text: splitting, joining, directory and last component.
 *
 * Pure text processing in both styles, so Windows paths are handled the same
 * on every host. Both slash and backslash separate components in either
 * style; only the separator written and the root rules differ:
 *   Unix:    a leading slash becomes an empty first component (root marker);
 *   Windows: two leading backslashes become the empty first component (UNC),
 *            and a drive ("C:") is a root of its own.
 */
#include "fs/m_fs_path_int.h"
#include "fs/m_fs_info.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <cstdarg>
#include <utility>

namespace m::detail {

Parts::~Parts() noexcept
{
	for (size_t i = 0; i < len_; i++)
		M_free(items_[i]);
	M_free(items_);
}

Parts::Parts(Parts &&other) noexcept : items_(other.items_), len_(other.len_), cap_(other.cap_)
{
	other.items_ = nullptr;
	other.len_   = 0;
	other.cap_   = 0;
}

Parts &Parts::operator=(Parts &&other) noexcept
{
	if (this != &other) {
		this->~Parts();
		items_       = other.items_;
		len_         = other.len_;
		cap_         = other.cap_;
		other.items_ = nullptr;
		other.len_   = 0;
		other.cap_   = 0;
	}
	return *this;
}

void Parts::push(const char *s, size_t len) noexcept
{
	if (len_ == cap_) {
		const size_t ncap = cap_ == 0 ? 8 : cap_ * 2;
		/* Components come from paths shorter than memory; a doubling that
         * overflows cannot happen before the allocator refuses. */
		items_ = static_cast<char **>(M_realloc(items_, ncap * sizeof(char *)));
		cap_   = ncap;
	}
	char *copy = static_cast<char *>(M_malloc(len + 1));
	if (len > 0)
		M_mem_copy(copy, s, len);
	copy[len]      = '\0';
	items_[len_++] = copy;
}

void Parts::push(const char *s) noexcept
{
	push(s == nullptr ? "" : s, M_str_len(s));
}

void Parts::push_all(const Parts &o, size_t from) noexcept
{
	for (size_t i = from; i < o.size(); i++)
		push(o.at(i));
}

void Parts::pop_back() noexcept
{
	if (len_ == 0)
		return;
	M_free(items_[--len_]);
}

M_fs_system_t resolve(M_fs_system_t sys) noexcept
{
	return sys == M_FS_SYSTEM_AUTO ? host_style() : sys;
}

bool is_drive(const char *s) noexcept
{
	return s != nullptr && s[0] != '\0' && s[1] == ':';
}

Parts split(const char *path, M_fs_system_t sys) noexcept
{
	Parts parts;
	if (M_str_isempty(path))
		return parts;

	sys = resolve(sys);
	if (sys == M_FS_SYSTEM_UNIX && path[0] == '/')
		parts.push("", 0);
	if (sys == M_FS_SYSTEM_WINDOWS && path[0] == '\\' && path[1] == '\\')
		parts.push("", 0);

	const char *start = path;
	for (const char *p = path;; p++) {
		if (*p == '/' || *p == '\\' || *p == '\0') {
			if (p > start)
				parts.push(start, static_cast<size_t>(p - start));
			if (*p == '\0')
				break;
			start = p + 1;
		}
	}
	return parts;
}

char *join(const Parts &in, M_fs_system_t sys) noexcept
{
	if (in.empty())
		return nullptr;
	sys                = resolve(sys);
	const bool windows = (sys == M_FS_SYSTEM_WINDOWS);

	/* Drop every empty component after the first. */
	Parts parts;
	parts.push(in.at(0));
	for (size_t i = 1; i < in.size(); i++) {
		if (in.at(i)[0] != '\0')
			parts.push(in.at(i));
	}

	if (parts.size() == 1 && parts.at(0)[0] == '\0')
		return M_strdup(windows ? "\\\\" : "/");

	M_buf_t   *buf = M_buf_create();
	const char sep = windows ? '\\' : '/';
	if (windows) {
		/* An empty first component is the UNC prefix: with one more empty
         * component in front, joining yields its two backslashes. A lone
         * root gets its separator ("C:" -> "C:\"). */
		const bool unc = parts.at(0)[0] == '\0';
		const bool lone =
		    parts.size() == 1 && (is_drive(parts.at(0)) || (parts.at(0)[0] == '\\' && parts.at(0)[1] == '\\'));
		if (unc)
			M_buf_add_byte(buf, static_cast<unsigned char>(sep));
		for (size_t i = 0; i < parts.size(); i++) {
			if (i > 0)
				M_buf_add_byte(buf, static_cast<unsigned char>(sep));
			M_buf_add_str(buf, parts.at(i));
		}
		if (lone)
			M_buf_add_byte(buf, static_cast<unsigned char>(sep));
	} else {
		for (size_t i = 0; i < parts.size(); i++) {
			if (i > 0)
				M_buf_add_byte(buf, static_cast<unsigned char>(sep));
			M_buf_add_str(buf, parts.at(i));
		}
	}
	return M_buf_finish_str(buf, nullptr);
}

} // namespace m::detail

namespace {

using m::detail::Parts;

/* Whether a component list (of the style) starts with a root: the UNC or
 * slash root marker, or a lone Windows drive. */
bool starts_with_root(const Parts &parts, M_fs_system_t sys) noexcept
{
	if (parts.empty())
		return false;
	if (parts.at(0)[0] == '\0')
		return true;
	if (sys == M_FS_SYSTEM_WINDOWS) {
		const char *c = parts.at(0);
		return c[0] != '\0' && c[1] == ':' && c[2] == '\0';
	}
	return false;
}

/* The directory and last component of a path: dir gets a new string ("."
 * when nothing remains), base a new string or NULL (for a root). */
void dir_and_base(const char *path, M_fs_system_t sys, char **dir, char **base) noexcept
{
	sys         = m::detail::resolve(sys);
	Parts parts = m::detail::split(path, sys);

	if (parts.empty()) {
		if (dir != nullptr)
			*dir = M_strdup(".");
		if (base != nullptr)
			*base = nullptr;
		return;
	}
	if (parts.size() == 1 && starts_with_root(parts, sys)) {
		/* A root is its own directory and has no last component. */
		if (dir != nullptr)
			*dir = m::detail::join(parts, sys);
		if (base != nullptr)
			*base = nullptr;
		return;
	}
	if (base != nullptr)
		*base = parts.back()[0] == '\0' ? nullptr : M_strdup(parts.back());
	if (dir != nullptr) {
		parts.pop_back();
		*dir = parts.empty() ? M_strdup(".") : m::detail::join(parts, sys);
	}
}

} // namespace

extern "C" {

M_fs_error_t M_fs_path_get_cwd(char **cwd)
{
	if (cwd == nullptr)
		return M_FS_ERROR_INVALID;
	*cwd = nullptr;
	return m::detail::path_cwd_sys(cwd);
}

M_fs_error_t M_fs_path_set_cwd(const char *path)
{
	return M_str_isempty(path) ? M_FS_ERROR_INVALID : m::detail::path_set_cwd_sys(path);
}

M_fs_error_t M_fs_path_readlink(char **out, const char *path)
{
	if (out == nullptr)
		return M_FS_ERROR_INVALID;
	*out = nullptr;
	return M_str_isempty(path) ? M_FS_ERROR_INVALID : m::detail::path_readlink_sys(out, path);
}

M_fs_system_t M_fs_path_get_system_type(M_fs_system_t sys_type)
{
	return m::detail::resolve(sys_type);
}

char M_fs_path_get_system_sep(M_fs_system_t sys_type)
{
	return m::detail::resolve(sys_type) == M_FS_SYSTEM_WINDOWS ? '\\' : '/';
}

size_t M_fs_path_get_path_max(M_fs_system_t sys_type)
{
	(void)sys_type;
	return m::detail::kPathMax;
}

size_t M_fs_path_length(const char *path, M_fs_system_t sys_type)
{
	const size_t len = M_str_len(path);
	if (m::detail::resolve(sys_type) != M_FS_SYSTEM_WINDOWS)
		return len;
	/* UTF-16 units: one for each character, two for one past U+FFFF (a
	 * four-byte sequence); a continuation byte adds nothing. */
	size_t units = 0;
	for (size_t i = 0; i < len; i++) {
		const auto c = static_cast<unsigned char>(path[i]);
		units += (c & 0xC0) == 0x80 ? 0 : (c >= 0xF0 ? 2 : 1);
	}
	return units;
}

M_bool M_fs_path_has_stream(const char *path, M_fs_system_t sys_type, size_t *file_len)
{
	if (file_len != nullptr)
		*file_len = 0;
	if (path == nullptr || m::detail::resolve(sys_type) != M_FS_SYSTEM_WINDOWS)
		return M_FALSE;
	/* The colon of a drive ("C:"), also behind the prefix of an
	 * extended-length or device path ("\\?\C:", "\\.\C:"), is no stream. */
	size_t start = 0;
	if ((path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
	    (path[2] == '?' || path[2] == '.') && (path[3] == '\\' || path[3] == '/'))
		start = 4;
	if (m::detail::is_drive(path + start))
		start += 2;
	const char *colon = M_str_chr(path + start, ':');
	if (colon == nullptr)
		return M_FALSE;
	if (file_len != nullptr)
		*file_len = static_cast<size_t>(colon - path);
	return M_TRUE;
}

M_bool M_fs_path_isunc(const char *p)
{
	return p != nullptr && p[0] == '\\' && p[1] == '\\';
}

M_bool M_fs_path_isabs(const char *p, M_fs_system_t sys_type)
{
	if (M_str_isempty(p))
		return M_FALSE;
	switch (m::detail::resolve(sys_type)) {
		case M_FS_SYSTEM_WINDOWS:
			return M_fs_path_isunc(p) || p[1] == ':';
		case M_FS_SYSTEM_UNIX:
			return p[0] == '/';
		default:
			return M_FALSE;
	}
}

M_list_str_t *M_fs_path_componentize_path(const char *path, M_fs_system_t sys_type)
{
	M_list_str_t *list  = M_list_str_create(M_LIST_STR_NONE);
	Parts         parts = m::detail::split(path, sys_type);
	for (size_t i = 0; i < parts.size(); i++)
		M_list_str_insert(list, parts.at(i));
	return list;
}

char *M_fs_path_join_parts(const M_list_str_t *path, M_fs_system_t sys_type)
{
	const size_t len = M_list_str_len(path);
	if (len == 0)
		return nullptr;
	Parts parts;
	for (size_t i = 0; i < len; i++)
		parts.push(M_list_str_at(path, i));
	return m::detail::join(parts, sys_type);
}

char *M_fs_path_join_vparts(M_fs_system_t sys_type, size_t num, ...)
{
	if (num == 0)
		return nullptr;
	Parts   parts;
	va_list ap;
	va_start(ap, num);
	for (size_t i = 0; i < num; i++) {
		/* Started just above; the analyser loses track of it here. */
		parts.push(va_arg(ap, const char *)); // NOLINT(clang-analyzer-valist.Uninitialized)
	}
	va_end(ap);
	return m::detail::join(parts, sys_type);
}

char *M_fs_path_join(const char *p1, const char *p2, M_fs_system_t sys_type)
{
	const M_fs_system_t sys = m::detail::resolve(sys_type);
	const char          sep = sys == M_FS_SYSTEM_WINDOWS ? '\\' : '/';

	if (M_fs_path_isabs(p2, sys))
		return M_strdup(p2);
	if (M_str_isempty(p1))
		return M_strdup(M_str_safe(p2));
	if (M_str_isempty(p2))
		return M_strdup(p1);

	M_buf_t *buf = M_buf_create();
	M_buf_add_str(buf, p1);
	if (p1[M_str_len(p1) - 1] != sep)
		M_buf_add_byte(buf, static_cast<unsigned char>(sep));
	M_buf_add_str(buf, p2);
	return M_buf_finish_str(buf, nullptr);
}

char *M_fs_path_join_resolved(const char *path, const char *part, const char *resolv_name, M_fs_system_t sys_type)
{
	if (M_str_isempty(path) && M_str_isempty(part) && M_str_isempty(resolv_name))
		return nullptr;
	if (M_fs_path_isabs(resolv_name, sys_type))
		return M_strdup(resolv_name);

	char *full = M_fs_path_join(path, part, sys_type);
	char *dir  = M_fs_path_dirname(full, sys_type);
	char *out  = M_fs_path_join(dir, resolv_name, sys_type);
	M_free(dir);
	M_free(full);
	return out;
}

char *M_fs_path_dirname(const char *path, M_fs_system_t sys_type)
{
	char *dir = nullptr;
	dir_and_base(path, sys_type, &dir, nullptr);
	return dir;
}

char *M_fs_path_basename(const char *path, M_fs_system_t sys_type)
{
	if (M_str_isempty(path))
		return nullptr;
	char *base = nullptr;
	dir_and_base(path, sys_type, nullptr, &base);
	return base;
}

M_bool M_fs_path_ishidden(const char *path, M_fs_info_t *info)
{
	if (info != nullptr)
		return M_fs_info_get_ishidden(info);
	if (M_str_isempty(path))
		return M_FALSE;

	M_fs_info_t *own = nullptr;
	if (M_fs_info(&own, path, M_FS_INFO_FLAG_BASIC) != M_FS_ERROR_SUCCESS)
		return M_FALSE;
	const M_bool hidden = M_fs_info_get_ishidden(own);
	M_fs_info_destroy(own);
	return hidden;
}

} // extern "C"
