/* Replacing a file on Windows (m_fs_replace.h): a temporary file in the
 * output's folder, created when the replace begins, written as the data
 * comes and flushed to the device, then moved over
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

#include "fs/m_fs_replace.h"

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
		if (GetLastError() == ERROR_FILE_NOT_FOUND)
			return Kind::Missing;
		*err = last_error();
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

/* Whether a replace is open: one at a time, as on POSIX. */
bool g_open = false;

} // namespace

/* A replace in progress. */
struct M_fs_replace {
	Kind         kind;
	char        *full;   /* the target's normalised path */
	wchar_t     *target; /* the same, wide */
	wchar_t     *tmp;    /* the temporary file (Missing, File); NULL else */
	HANDLE       h;      /* the temporary file, or the device once opened */
	M_fs_error_t err;    /* the first write failure, which sticks */
};

namespace {

/* The device opened for its first bytes (never created: it exists). */
M_fs_error_t open_device(M_fs_replace_t *rep) noexcept
{
	if (rep->h != INVALID_HANDLE_VALUE)
		return M_FS_ERROR_SUCCESS;
	rep->h = CreateFileW(rep->target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
	                     FILE_ATTRIBUTE_NORMAL, nullptr);
	return rep->h == INVALID_HANDLE_VALUE ? last_error() : M_FS_ERROR_SUCCESS;
}

/* Close what is open, delete the temporary file (unless moved), release. */
void release(M_fs_replace_t *rep, bool drop_tmp) noexcept
{
	if (rep->h != INVALID_HANDLE_VALUE)
		CloseHandle(rep->h);
	if (drop_tmp && rep->tmp != nullptr)
		(void)DeleteFileW(rep->tmp);
	M_free(rep->tmp);
	M_free(rep->target);
	M_free(rep->full);
	M_free(rep);
	g_open = false;
}

/* Flush, close and move the temporary file over the target. */
M_fs_error_t move_into_place(M_fs_replace_t *rep) noexcept
{
	M_fs_error_t res = FlushFileBuffers(rep->h) ? M_FS_ERROR_SUCCESS : last_error();
	if (!CloseHandle(rep->h) && res == M_FS_ERROR_SUCCESS)
		res = last_error();
	rep->h = INVALID_HANDLE_VALUE;
	if (res == M_FS_ERROR_SUCCESS &&
	    !MoveFileExW(rep->tmp, rep->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
		res = last_error();
	return res;
}

} // namespace

extern "C" {

M_fs_error_t M_fs_replace_begin(M_fs_replace_t **rep, const char *path)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	*rep = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	if (g_open)
		return M_FS_ERROR_GENERIC;
	auto *r          = static_cast<M_fs_replace_t *>(M_malloc_zero(sizeof(M_fs_replace_t)));
	r->h             = INVALID_HANDLE_VALUE;
	g_open           = true;
	M_fs_error_t res = target_path(path, &r->full);
	if (res == M_FS_ERROR_SUCCESS) {
		r->target = widen(r->full);
		res       = r->target == nullptr ? M_FS_ERROR_INVALID : M_FS_ERROR_SUCCESS;
	}
	if (res == M_FS_ERROR_SUCCESS)
		r->kind = kind_of(r->target, &res);
	if (res == M_FS_ERROR_SUCCESS && (r->kind == Kind::Dir || r->kind == Kind::ReadOnly)) {
		/* Refused as the system would refuse to write it, with its reason. */
		SetLastError(ERROR_ACCESS_DENIED);
		res = last_error();
	}
	if (res == M_FS_ERROR_SUCCESS && (r->kind == Kind::Missing || r->kind == Kind::File))
		r->h = create_temp(r->full, &r->tmp, &res);
	if (res != M_FS_ERROR_SUCCESS) {
		release(r, true);
		return res;
	}
	*rep = r;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_replace_write(M_fs_replace_t *rep, const unsigned char *buf, size_t len)
{
	if (rep == nullptr || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	if (rep->err == M_FS_ERROR_SUCCESS && rep->kind == Kind::Device)
		rep->err = open_device(rep);
	if (rep->err == M_FS_ERROR_SUCCESS && len > 0)
		rep->err = write_handle(rep->h, buf, len, false);
	return rep->err;
}

M_fs_error_t M_fs_replace_commit(M_fs_replace_t *rep)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	M_fs_error_t res = rep->err;
	if (res == M_FS_ERROR_SUCCESS && rep->kind == Kind::Device)
		res = open_device(rep); /* nothing written: the device is still opened */
	else if (res == M_FS_ERROR_SUCCESS)
		res = move_into_place(rep);
	release(rep, res != M_FS_ERROR_SUCCESS);
	return res;
}

void M_fs_replace_cancel(M_fs_replace_t *rep)
{
	if (rep != nullptr)
		release(rep, true);
}

M_bool M_fs_replace_reaches(const char *path, const char *other)
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

M_bool M_fs_replace_reaches_stream(const char *path, M_fs_iostream_t stream)
{
	static constexpr DWORD kStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
	if (M_str_isempty(path) || stream < M_FS_IOSTREAM_IN || stream > M_FS_IOSTREAM_ERR)
		return M_FALSE;
	HANDLE h = GetStdHandle(kStd[stream]);
	if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK)
		return M_FALSE;
	BY_HANDLE_FILE_INFORMATION hi;
	char                      *full    = nullptr;
	DWORD                      vol_out = 0;
	uint64_t                   idx_out = 0;
	if (!GetFileInformationByHandle(h, &hi) || target_path(path, &full) != M_FS_ERROR_SUCCESS)
		return M_FALSE;
	const bool found = identity(full, &vol_out, &idx_out);
	M_free(full);
	return found && hi.dwVolumeSerialNumber == vol_out &&
	       ((static_cast<uint64_t>(hi.nFileIndexHigh) << 32) | hi.nFileIndexLow) == idx_out;
}

} // extern "C"
