/* Platform half of the file layer on Windows: CreateFileA, ReadFile,
 * WriteFile, SetFilePointerEx, FlushFileBuffers, SetFileTime, CloseHandle.
 *
 * Nothing above this file touches a handle. Every failing call reports its
 * GetLastError through the one table (M_fs_error_from_syserr).
 *
 * Mapping of the portable open mode:
 *   access         READ: GENERIC_READ; WRITE: GENERIC_WRITE; both;
 *                  APPEND: FILE_APPEND_DATA (plus GENERIC_READ with READ)
 *   disposition    NOCREATE+OVERWRITE: TRUNCATE_EXISTING; OVERWRITE:
 *                  CREATE_ALWAYS; NOCREATE: OPEN_EXISTING; neither:
 *                  OPEN_ALWAYS
 * Files are shared for reading, writing and deleting. A file that existed
 * before an OVERWRITE open (CREATE_ALWAYS) gets the current time as its
 * creation, access and write times; no other open changes them (opening a
 * file to read it must not alter it, on either host). A permissions object
 * becomes the new file's security descriptor.
 *
 * A directory is refused by the system (access denied) for reading and for
 * writing. The end of a pipe whose writer has gone (ERROR_BROKEN_PIPE) is
 * the end of the file, not a failure, as it is on every other host. Pipes
 * and consoles have no position: seeking them is M_FS_ERROR_SEEK.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

using m::detail::last_error;

namespace {

/* Widest length one ReadFile or WriteFile carries (a DWORD). */
constexpr uint64_t kMaxIoLen = UINT64_C(0xFFFFFFFF);

DWORD desired_access(uint32_t mode) noexcept
{
	const bool rd = (mode & M_FS_FILE_MODE_READ) != 0;
	if (mode & M_FS_FILE_MODE_APPEND)
		return FILE_APPEND_DATA | (rd ? GENERIC_READ : 0);
	const bool wr = (mode & M_FS_FILE_MODE_WRITE) != 0;
	return (rd ? GENERIC_READ : 0) | (wr ? GENERIC_WRITE : 0);
}

DWORD disposition(uint32_t mode) noexcept
{
	const bool nocreate  = (mode & M_FS_FILE_MODE_NOCREATE) != 0;
	const bool overwrite = (mode & M_FS_FILE_MODE_OVERWRITE) != 0;
	if (nocreate)
		return overwrite ? TRUNCATE_EXISTING : OPEN_EXISTING;
	return overwrite ? CREATE_ALWAYS : OPEN_ALWAYS;
}

bool usable(const M_fs_file_t *fd) noexcept
{
	return fd != nullptr && fd->handle != nullptr && fd->handle != INVALID_HANDLE_VALUE;
}

/* Only files on a disk have a position. */
bool seekable(const M_fs_file_t *fd) noexcept
{
	return GetFileType(fd->handle) == FILE_TYPE_DISK;
}

/* The security attributes of a new file from perms: a copy of perms (the
 * conversion may store the current user in it), the everyone SID and the
 * access list live until the open is done, then go. */
class NewFileSecurity {
  public:
	NewFileSecurity() noexcept = default;
	~NewFileSecurity() noexcept
	{
		if (acl_ != nullptr)
			LocalFree(acl_);
		if (everyone_ != nullptr)
			LocalFree(everyone_);
		M_fs_perms_destroy(copy_);
	}
	NewFileSecurity(const NewFileSecurity &)            = delete;
	NewFileSecurity &operator=(const NewFileSecurity &) = delete;

	M_fs_error_t build(const M_fs_perms_t *perms) noexcept
	{
		everyone_ = m::detail::everyone_sid();
		copy_     = M_fs_perms_dup(perms);
		return m::detail::perms_to_security_attributes(copy_, everyone_, &acl_, &sa_, &sd_);
	}
	SECURITY_ATTRIBUTES *attributes() noexcept
	{
		return &sa_;
	}

  private:
	M_fs_perms_t       *copy_     = nullptr;
	void               *everyone_ = nullptr;
	void               *acl_      = nullptr;
	SECURITY_ATTRIBUTES sa_       = {};
	SECURITY_DESCRIPTOR sd_       = {};
};

/* Creation, access and write times all set to now; failure ignored. */
void restamp(HANDLE h) noexcept
{
	M_time_filetime_t now;
	M_time_to_filetime(M_time(), &now);
	const FILETIME ft = {now.dwLowDateTime, now.dwHighDateTime};
	(void)SetFileTime(h, &ft, &ft, &ft);
}

} // namespace

M_fs_error_t m::detail::file_open_sys(M_fs_file_t **fd, char *norm, uint32_t mode, const M_fs_perms_t *perms)
{
	M_fs_error_t    res = M_FS_ERROR_SUCCESS;
	NewFileSecurity security;
	if (perms != nullptr) {
		res = security.build(perms);
		if (res != M_FS_ERROR_SUCCESS) {
			M_free(norm);
			return res;
		}
	}
	const DWORD disp    = disposition(mode);
	const bool  existed = disp == CREATE_ALWAYS && M_fs_perms_can_access(norm, 0) == M_FS_ERROR_SUCCESS;

	sys_counters().open++;
	const m::detail::wide_path wide(norm);
	HANDLE                     h =
        wide.p == nullptr
	                            ? INVALID_HANDLE_VALUE
	                            : CreateFileW(wide.p, desired_access(mode), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          perms != nullptr ? security.attributes() : nullptr, disp, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (wide.p == nullptr)
		SetLastError(ERROR_INVALID_NAME);
	if (h == INVALID_HANDLE_VALUE) {
		res = last_error();
		M_free(norm);
		return res;
	}
	if (existed)
		restamp(h);
	*fd = file_wrap(h, true, norm);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_read_sys(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len)
{
	if (read_len == nullptr)
		return M_FS_ERROR_INVALID;
	*read_len = 0;
	if (!usable(fd) || buf == nullptr || buf_len == 0 || static_cast<uint64_t>(buf_len) > kMaxIoLen)
		return M_FS_ERROR_INVALID;
	sys_counters().read++;
	DWORD n = 0;
	if (!ReadFile(fd->handle, buf, static_cast<DWORD>(buf_len), &n, nullptr)) {
		/* The writer closed its end: that is the end of the data. */
		if (GetLastError() == ERROR_BROKEN_PIPE)
			return M_FS_ERROR_SUCCESS;
		return m::detail::last_error();
	}
	*read_len = n;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_write_sys(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len)
{
	if (wrote_len == nullptr)
		return M_FS_ERROR_INVALID;
	*wrote_len = 0;
	if (!usable(fd) || buf == nullptr || count == 0 || static_cast<uint64_t>(count) > kMaxIoLen)
		return M_FS_ERROR_INVALID;
	sys_counters().write++;
	DWORD n = 0;
	if (!WriteFile(fd->handle, buf, static_cast<DWORD>(count), &n, nullptr))
		return last_error();
	*wrote_len = n;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_seek_sys(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from)
{
	if (!usable(fd))
		return M_FS_ERROR_INVALID;
	DWORD method;
	switch (from) {
		case M_FS_FILE_SEEK_BEGIN:
			method = FILE_BEGIN;
			break;
		case M_FS_FILE_SEEK_END:
			method = FILE_END;
			break;
		case M_FS_FILE_SEEK_CUR:
			method = FILE_CURRENT;
			break;
		default:
			return M_FS_ERROR_INVALID;
	}
	sys_counters().seek++;
	if (!seekable(fd))
		return M_FS_ERROR_SEEK;
	LARGE_INTEGER dist;
	dist.QuadPart = offset;
	if (!SetFilePointerEx(fd->handle, dist, nullptr, method)) {
		/* A position before the start is a bad argument, as on every host. */
		const uint32_t err = M_platform_errno();
		return err == ERROR_NEGATIVE_SEEK ? M_FS_ERROR_INVALID : M_fs_error_from_syserr(err);
	}
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_tell_sys(M_fs_file_t *fd, uint64_t *pos)
{
	*pos = 0;
	if (!usable(fd))
		return M_FS_ERROR_INVALID;
	sys_counters().seek++;
	if (!seekable(fd))
		return M_FS_ERROR_SEEK;
	LARGE_INTEGER zero;
	LARGE_INTEGER at;
	zero.QuadPart = 0;
	if (!SetFilePointerEx(fd->handle, zero, &at, FILE_CURRENT))
		return last_error();
	*pos = static_cast<uint64_t>(at.QuadPart);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_fsync_sys(M_fs_file_t *fd)
{
	if (!usable(fd))
		return M_FS_ERROR_INVALID;
	sys_counters().fsync++;
	if (!FlushFileBuffers(fd->handle))
		return last_error();
	return M_FS_ERROR_SUCCESS;
}

void m::detail::file_close_sys(M_fs_file_t *fd)
{
	if (fd == nullptr)
		return;
	if (usable(fd) && fd->own_handle) {
		sys_counters().close++;
		(void)CloseHandle(fd->handle);
	}
	fd->handle = INVALID_HANDLE_VALUE;
	M_free(fd->path);
	M_free(fd);
}

M_fs_handle_t m::detail::file_std_handle(M_fs_iostream_t stream) noexcept
{
	static constexpr DWORD kStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
	return GetStdHandle(kStd[stream]);
}
