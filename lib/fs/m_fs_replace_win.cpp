/* Replacing a file on Windows (M_fs_file_replace): a temporary file in the
 * output's folder, written whole and flushed to the device, then moved over
 * the output with MoveFileExW (MOVEFILE_REPLACE_EXISTING |
 * MOVEFILE_WRITE_THROUGH), so the path shows the old content or the new,
 * never a mix. On any failure the temporary file is deleted and the output
 * keeps what it had.
 *
 * What is at the path decides how it is written:
 *   - nothing, or a file on a disk: replaced through the temporary file;
 *   - a file marked read-only, or a directory: M_FS_ERROR_PERMISSION, nothing
 *     changes;
 *   - a device (NUL, CON, a pipe): written directly, as a stream; nothing is
 *     moved over it.
 *
 * The names are the system's ANSI names (those CreateFileA takes elsewhere
 * in the library), widened for the wide calls with the ANSI code page.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "sys/m_rand.h"

namespace {

/* Longest part of the file name copied into the temporary name. */
constexpr size_t kTmpNameKeep = 200;

/* Attempts at a temporary name not taken yet. */
constexpr int kTmpTries = 100;

/* A path in the system's ANSI code page as a new wide string (M_free). */
wchar_t *widen(const char *s) noexcept
{
	const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
	if (n <= 0)
		return nullptr;
	auto *w = static_cast<wchar_t *>(M_malloc_zero(static_cast<size_t>(n) * sizeof(wchar_t)));
	if (MultiByteToWideChar(CP_ACP, 0, s, -1, w, n) != n) {
		M_free(w);
		return nullptr;
	}
	return w;
}

M_fs_error_t last_error() noexcept
{
	return M_fs_error_from_syserr(M_platform_errno());
}

/* The target's full path, with "~" and variables expanded. */
M_fs_error_t target_path(const char *path, char **full) noexcept
{
	return M_fs_path_norm(full, path, M_FS_PATH_NORM_ABSOLUTE | M_FS_PATH_NORM_HOME, M_FS_SYSTEM_WINDOWS);
}

/* What is at the path now: nothing (a new file), a disk file, a directory,
 * or a device. */
enum class Kind { Missing, File, ReadOnly, Dir, Device };

Kind kind_of(const wchar_t *path, M_fs_error_t *err) noexcept
{
	*err           = M_FS_ERROR_SUCCESS;
	const DWORD at = GetFileAttributesW(path);
	if (at != INVALID_FILE_ATTRIBUTES) {
		if (at & FILE_ATTRIBUTE_DIRECTORY)
			return Kind::Dir;
		if (at & FILE_ATTRIBUTE_READONLY)
			return Kind::ReadOnly;
	}
	HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE) {
		const DWORD e = GetLastError();
		if (e == ERROR_FILE_NOT_FOUND)
			return Kind::Missing;
		*err = M_fs_error_from_syserr(e);
		return Kind::Missing;
	}
	const DWORD type = GetFileType(h);
	CloseHandle(h);
	return type == FILE_TYPE_DISK ? Kind::File : Kind::Device;
}

/* Every byte to an open handle, flushed to the device when flush is set. */
M_fs_error_t write_handle(HANDLE h, const unsigned char *buf, size_t len, bool flush) noexcept
{
	M_fs_file_t file = {};
	file.handle      = h;
	M_fs_error_t res = M_fs_file_write_all(&file, buf, len);
	if (res == M_FS_ERROR_SUCCESS && flush && !FlushFileBuffers(h))
		res = last_error();
	return res;
}

M_fs_error_t write_direct(const wchar_t *path, const unsigned char *buf, size_t len) noexcept
{
	HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
	                       FILE_ATTRIBUTE_NORMAL, nullptr);
	if (h == INVALID_HANDLE_VALUE)
		return last_error();
	const M_fs_error_t res = write_handle(h, buf, len, false);
	CloseHandle(h);
	return res;
}

/* Create "<dir>\.<name>.<six random letters>" exclusively; its wide name goes
 * to *tmp (M_free). */
HANDLE create_temp(const char *full, wchar_t **tmp, M_fs_error_t *res) noexcept
{
	char *dir  = M_fs_path_dirname(full, M_FS_SYSTEM_WINDOWS);
	char *name = M_fs_path_basename(full, M_FS_SYSTEM_WINDOWS);
	char  keep[kTmpNameKeep + 1];
	M_str_cpy(keep, sizeof(keep), name);
	HANDLE h = INVALID_HANDLE_VALUE;
	*res     = M_FS_ERROR_GENERIC;
	for (int i = 0; i < kTmpTries && h == INVALID_HANDLE_VALUE; i++) {
		char suffix[7];
		for (size_t k = 0; k < 6; k++)
			suffix[k] = static_cast<char>('a' + M_rand_max(nullptr, 26));
		suffix[6]   = '\0';
		char *tname = nullptr;
		M_asprintf(&tname, "%s\\.%s.%s", dir, keep, suffix);
		*tmp = widen(tname);
		M_free(tname);
		if (*tmp == nullptr)
			break;
		h = CreateFileW(*tmp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE) {
			*res = last_error();
			M_free(*tmp);
			*tmp = nullptr;
			if (*res != M_FS_ERROR_FILE_EXISTS)
				break;
		}
	}
	M_free(dir);
	M_free(name);
	if (h != INVALID_HANDLE_VALUE)
		*res = M_FS_ERROR_SUCCESS;
	return h;
}

M_fs_error_t replace_via_temp(const char *full, const wchar_t *target, const unsigned char *buf, size_t len) noexcept
{
	wchar_t     *tmp = nullptr;
	M_fs_error_t res = M_FS_ERROR_SUCCESS;
	HANDLE       h   = create_temp(full, &tmp, &res);
	if (h == INVALID_HANDLE_VALUE)
		return res;
	res = write_handle(h, buf, len, true);
	if (!CloseHandle(h) && res == M_FS_ERROR_SUCCESS)
		res = last_error();
	if (res == M_FS_ERROR_SUCCESS && !MoveFileExW(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
		res = last_error();
	if (res != M_FS_ERROR_SUCCESS)
		(void)DeleteFileW(tmp);
	M_free(tmp);
	return res;
}

/* The volume and file index of a path (links followed); false when it
 * cannot be opened. */
bool identity(const char *path, DWORD *volume, uint64_t *index) noexcept
{
	HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE)
		return false;
	BY_HANDLE_FILE_INFORMATION hi;
	const bool                 ok = GetFileInformationByHandle(h, &hi) != 0;
	CloseHandle(h);
	if (ok) {
		*volume = hi.dwVolumeSerialNumber;
		*index  = (static_cast<uint64_t>(hi.nFileIndexHigh) << 32) | hi.nFileIndexLow;
	}
	return ok;
}

} // namespace

extern "C" {

M_fs_error_t M_fs_file_replace(const char *path, const unsigned char *buf, size_t len)
{
	if (M_str_isempty(path) || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	char        *full = nullptr;
	M_fs_error_t res  = target_path(path, &full);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	wchar_t *target = widen(full);
	if (target == nullptr) {
		M_free(full);
		return M_FS_ERROR_INVALID;
	}
	switch (kind_of(target, &res)) {
		case Kind::Dir:
		case Kind::ReadOnly:
			res = M_FS_ERROR_PERMISSION;
			break;
		case Kind::Device:
			res = write_direct(target, buf, len);
			break;
		case Kind::Missing:
		case Kind::File:
			if (res == M_FS_ERROR_SUCCESS)
				res = replace_via_temp(full, target, buf, len);
			break;
	}
	M_free(target);
	M_free(full);
	return res;
}

M_bool M_fs_file_replace_reaches(const char *path, const char *other)
{
	if (M_str_isempty(path) || M_str_isempty(other))
		return M_FALSE;
	char *full = nullptr;
	if (target_path(path, &full) != M_FS_ERROR_SUCCESS)
		return M_FALSE;
	DWORD      vol_out = 0;
	uint64_t   idx_out = 0;
	const bool found   = identity(full, &vol_out, &idx_out);
	M_free(full);
	if (!found)
		return M_FALSE;
	return m::detail::with_info_path(other, [&](const char *norm) {
		       DWORD    vol = 0;
		       uint64_t idx = 0;
		       return identity(norm, &vol, &idx) && vol == vol_out && idx == idx_out ? M_FS_ERROR_SUCCESS
		                                                                             : M_FS_ERROR_GENERIC;
	       }) == M_FS_ERROR_SUCCESS;
}

} // extern "C"
