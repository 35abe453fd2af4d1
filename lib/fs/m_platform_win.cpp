/* The host's last system error on Windows: GetLastError, already a Windows
 * error number, handed to the one table (M_fs_error_from_syserr); and the
 * conversions between the ANSI code page and UTF-16 the wide calls need. */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "fs/m_platform.h"
#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"

#include <cwchar>

namespace {

/* The last error this thread classified, for M_platform_strerror. */
thread_local DWORD t_last_error = 0;

} // namespace

extern "C" {

uint32_t M_platform_errno(void)
{
	const DWORD err = GetLastError();
	if (err != ERROR_SUCCESS)
		t_last_error = err;
	return static_cast<uint32_t>(err);
}

M_bool M_platform_strerror(char *buf, size_t len)
{
	if (buf == nullptr || len == 0)
		return t_last_error != ERROR_SUCCESS;
	buf[0] = '\0';
	if (t_last_error == ERROR_SUCCESS)
		return M_FALSE;
	/* The system's message ends in ".\r\n"; the line it goes on is the
	 * caller's, and POSIX texts have no full stop either. */
	char        room[512];
	const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, t_last_error, 0,
	                               room, sizeof(room), nullptr);
	if (n == 0) {
		M_snprintf(buf, len, "Windows error %lu", static_cast<unsigned long>(t_last_error));
		return M_TRUE;
	}
	M_str_trim(room);
	const size_t text_len = M_str_len(room);
	if (text_len > 0 && room[text_len - 1] == '.')
		room[text_len - 1] = '\0';
	M_str_cpy(buf, len, room);
	return M_TRUE;
}

} // extern "C"

namespace m::detail {

wchar_t *acp_to_wide(const char *s) noexcept
{
	const int n = s == nullptr ? 0 : MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
	if (n <= 0)
		return nullptr;
	auto *w = static_cast<wchar_t *>(M_malloc_zero(static_cast<size_t>(n) * sizeof(wchar_t)));
	if (MultiByteToWideChar(CP_ACP, 0, s, -1, w, n) != n) {
		M_free(w);
		return nullptr;
	}
	return w;
}

wchar_t *long_form(wchar_t *path) noexcept
{
	if (path == nullptr || std::wcslen(path) < MAX_PATH ||
	    (path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\'))
		return path;
	const DWORD n    = GetFullPathNameW(path, 0, nullptr, nullptr);
	auto       *full = static_cast<wchar_t *>(M_malloc_zero((static_cast<size_t>(n) + 1) * sizeof(wchar_t)));
	const DWORD got  = n == 0 ? 0 : GetFullPathNameW(path, n, full, nullptr);
	M_free(path);
	if (got == 0 || got >= n) {
		M_free(full);
		return nullptr;
	}
	/* "\\srv\share\x" becomes "\\?\UNC\srv\share\x", "C:\x" "\\?\C:\x". */
	const bool     unc    = full[0] == L'\\' && full[1] == L'\\';
	const wchar_t *prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
	const size_t   plen   = std::wcslen(prefix);
	const size_t   skip   = unc ? 1 : 0;
	auto          *out    = static_cast<wchar_t *>(M_malloc_zero((plen + got - skip + 1) * sizeof(wchar_t)));
	std::wcscpy(out, prefix);
	std::wcscpy(out + plen, full + skip); /* full ends in its NUL at got */
	M_free(full);
	return out;
}

char *wide_to_acp(const wchar_t *s) noexcept
{
	const int n = s == nullptr ? 0 : WideCharToMultiByte(CP_ACP, 0, s, -1, nullptr, 0, nullptr, nullptr);
	if (n <= 0)
		return nullptr;
	auto *out = static_cast<char *>(M_malloc_zero(static_cast<size_t>(n)));
	if (WideCharToMultiByte(CP_ACP, 0, s, -1, out, n, nullptr, nullptr) != n) {
		M_free(out);
		return nullptr;
	}
	return out;
}

} // namespace m::detail
