/* The host side of the path layer on Windows: the Windows path style,
 * GetEnvironmentVariableW, GetCurrentDirectoryW/SetCurrentDirectoryW, the
 * profile directory (SHGetFolderPathA), the temporary directory
 * (GetTempPathA) and the roaming application data for configuration.
 * Symbolic links are not reported on this host: M_fs_path_readlink always
 * answers "no link".
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <shlobj.h>

#include "fs/m_fs_int.h"
#include "fs/m_fs_path_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

namespace {

/* Room for a path: 260 characters and the terminator. */
constexpr DWORD kPathRoom = 261;

} // namespace

namespace m::detail {

M_fs_system_t host_style() noexcept
{
	return M_FS_SYSTEM_WINDOWS;
}

/* Two calls: the size with its terminator, then the value. An unset
 * variable (size 0), an empty one, and a value that changed in between
 * (another length) give NULL. The wide call: the ANSI one counts its sizes
 * in UTF-16 units, too few for the bytes of a UTF-8 value outside ASCII
 * (and Wine's then cuts the value short without a word). */
char *env_value(const char *name, size_t len) noexcept
{
	char       *key  = M_strdup_max(name, len);
	wchar_t    *wkey = acp_to_wide(key);
	const DWORD size = wkey != nullptr ? GetEnvironmentVariableW(wkey, nullptr, 0) : 0;
	char       *out  = nullptr;
	if (size > 1) {
		auto       *value = static_cast<wchar_t *>(M_malloc_zero(size * sizeof(wchar_t)));
		const DWORD got   = GetEnvironmentVariableW(wkey, value, size);
		if (got != 0 && got == size - 1)
			out = wide_to_acp(value);
		M_free(value);
	}
	M_free(wkey);
	M_free(key);
	return out;
}

char *home_dir() noexcept
{
	char room[kPathRoom] = {};
	if (SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, room) != S_OK || room[0] == '\0')
		return nullptr;
	return M_strdup(room);
}

} // namespace m::detail

M_fs_error_t m::detail::path_cwd_sys(char **cwd) noexcept
{
	/* The wide call: its length is not bound to MAX_PATH, and a folder may
	 * change between the size and the answer (then asked again). */
	for (DWORD size = MAX_PATH;;) {
		auto       *room = static_cast<wchar_t *>(M_malloc_zero(size * sizeof(wchar_t)));
		const DWORD n    = GetCurrentDirectoryW(size, room);
		if (n > 0 && n < size)
			*cwd = m::detail::wide_to_acp(room);
		M_free(room);
		if (n == 0)
			return m::detail::last_error();
		if (n < size)
			return *cwd != nullptr ? M_FS_ERROR_SUCCESS : M_FS_ERROR_GENERIC;
		size = n;
	}
}

M_fs_error_t m::detail::path_set_cwd_sys(const char *path) noexcept
{
	wchar_t *wide = m::detail::acp_to_wide(path);
	if (wide == nullptr)
		return M_FS_ERROR_INVALID;
	const BOOL done = SetCurrentDirectoryW(wide);
	M_free(wide);
	return done ? M_FS_ERROR_SUCCESS : m::detail::last_error();
}

M_fs_error_t m::detail::path_readlink_sys(char **, const char *) noexcept
{
	/* No links followed here: every path is its own target. */
	return M_FS_ERROR_SUCCESS;
}

extern "C" {

char *M_fs_path_user_confdir(M_fs_system_t sys_type)
{
	char *out = nullptr;
	if (M_fs_path_norm(&out, "%APPDATA%", M_FS_PATH_NORM_NONE, sys_type) != M_FS_ERROR_SUCCESS)
		return nullptr;
	return out;
}

char *M_fs_path_tmpdir(M_fs_system_t sys_type)
{
	char        room[kPathRoom];
	const DWORD n = GetTempPathA(sizeof(room), room);
	if (n == 0 || n >= sizeof(room))
		return nullptr;
	char *out = nullptr;
	if (M_fs_path_norm(&out, room, M_FS_PATH_NORM_ABSOLUTE, sys_type) != M_FS_ERROR_SUCCESS)
		return nullptr;
	return out;
}

} // extern "C"
