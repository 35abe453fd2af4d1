/* Platform half of the file layer on POSIX: open/read/write/lseek/fsync/close.
 *
 * Nothing above this file touches a descriptor. Every function here makes
 * one system call (EINTR is retried here, so no caller ever sees it) and
 * reports a failure through the one errno translation (m_platform_posix.cpp).
 *
 * Mapping of the portable open mode:
 *   READ, WRITE, both       -> O_RDONLY, O_WRONLY, O_RDWR
 *   APPEND                  -> O_APPEND, with write access (plus read when
 *                              READ is set), as appending implies writing
 *   NOCREATE+OVERWRITE      -> O_TRUNC            (must exist, emptied)
 *   OVERWRITE               -> O_CREAT | O_TRUNC  (created or emptied)
 *   NOCREATE                -> no flag            (must exist)
 *   neither                 -> O_CREAT            (created when missing)
 * Always O_CLOEXEC, so descriptors do not leak into child processes.
 *
 * A directory is refused with M_FS_ERROR_PERMISSION, the answer the Windows
 * open gives, whether it is opened for reading or for writing.
 *
 * New files get 0666 less the umask, or exactly the modes (and owner and
 * group) of a given permissions object. Opening an existing file to replace
 * it (OVERWRITE without NOCREATE) stamps its access and modification times
 * with now. A must-exist open does not restamp: on this host a read-only
 * descriptor could change the times, and reading a file must not alter it.
 */
#include "fs/m_fs_int.h"
#include "fs/m_platform_int.h"
#include "core/m_mem.h"
#include "sys/m_io_int.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "core/m_str_num.h"
#include "sys/m_sig_int.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* Widest length one platform read or write carries, kept from the Windows
 * layer so the two hosts refuse the same requests. */
constexpr uint64_t kMaxIoLen = UINT64_C(0xFFFFFFFF);

/* Flags for open(2) from the portable mode. */
int open_flags(uint32_t mode) noexcept
{
	const bool rd    = (mode & M_FS_FILE_MODE_READ) != 0;
	const bool wr    = (mode & M_FS_FILE_MODE_WRITE) != 0 || (mode & M_FS_FILE_MODE_APPEND) != 0;
	int        flags = O_CLOEXEC;

	if (rd && wr) {
		flags |= O_RDWR;
	} else if (wr) {
		flags |= O_WRONLY;
	} else {
		flags |= O_RDONLY;
	}
	if (mode & M_FS_FILE_MODE_APPEND)
		flags |= O_APPEND;

	const bool nocreate  = (mode & M_FS_FILE_MODE_NOCREATE) != 0;
	const bool overwrite = (mode & M_FS_FILE_MODE_OVERWRITE) != 0;
	if (overwrite)
		flags |= O_TRUNC;
	if (!nocreate)
		flags |= O_CREAT;
	return flags;
}

/* Open creating the file with the exact modes (and owner) of perms. The file
 * is first tried as new (O_EXCL) so that only a file this call creates gets
 * them; an existing file is opened as it is, keeping its permissions. */
int open_with_perms(const char *path, int flags, const M_fs_perms_t *perms, M_fs_error_t *err) noexcept
{
	const mode_t mode = m::detail::perms_to_host_mode(perms, false);

	for (int attempt = 0; attempt < 2; attempt++) {
		int fd = m::detail::open_retry(path, flags | O_EXCL, 0600);
		if (fd >= 0) {
			/* Created here: set exactly the requested modes (no umask). */
			if (::fchmod(fd, mode) != 0 ||
			    ((perms->user != nullptr || perms->group != nullptr) &&
			     ::fchown(fd, perms->user != nullptr ? perms->uid : static_cast<uid_t>(-1),
			              perms->group != nullptr ? perms->gid : static_cast<gid_t>(-1)) != 0)) {
				*err = m::detail::last_error();
				::close(fd);
				::unlink(path);
				return -1;
			}
			return fd;
		}
		if (errno != EEXIST) {
			*err = m::detail::open_error(errno);
			return -1;
		}
		/* Exists: open it as it is. If it vanished in between, try again. */
		fd = m::detail::open_retry(path, flags & ~O_CREAT, 0);
		if (fd >= 0)
			return fd;
		if (errno != ENOENT) {
			*err = m::detail::open_error(errno);
			return -1;
		}
	}
	*err = M_FS_ERROR_GENERIC;
	return -1;
}

M_bool fd_usable(const M_fs_file_t *fd) noexcept
{
	return fd != nullptr && fd->handle >= 0;
}

/* One read(2) or write(2) for the _sys layer: the argument checks both
 * share, the call counted in counter and retried on EINTR, a failure
 * translated. *done receives the bytes moved (0 first). */
template <typename Byte, typename Call>
M_fs_error_t io_sys(M_fs_file_t *fd, Byte *buf, size_t len, size_t *done, size_t &counter, Call call) noexcept
{
	if (done == nullptr)
		return M_FS_ERROR_INVALID;
	*done = 0;
	if (!fd_usable(fd) || buf == nullptr || len == 0 || static_cast<uint64_t>(len) > kMaxIoLen)
		return M_FS_ERROR_INVALID;

	counter++;
	const ssize_t n = m::detail::retry_eintr([&] { return call(fd->handle, buf, len); });
	if (n < 0)
		return m::detail::last_error();
	*done = static_cast<size_t>(n);
	return M_FS_ERROR_SUCCESS;
}

} // namespace

M_fs_error_t m::detail::open_error(int err) noexcept
{
	const M_fs_error_t res = M_fs_error_from_syserr(m::detail::syserr_from_errno(err));
	return err == EISDIR ? M_FS_ERROR_PERMISSION : res;
}

int m::detail::open_retry(const char *path, int flags, mode_t mode) noexcept
{
	int fd;
	do {
		fd = ::open(path, flags, mode);
	} while (fd < 0 && errno == EINTR);
	return fd;
}

M_fs_error_t m::detail::file_open_sys(M_fs_file_t **fd, char *norm, uint32_t mode, const M_fs_perms_t *perms)
{
	M_fs_error_t res     = M_FS_ERROR_SUCCESS;
	const int    flags   = open_flags(mode);
	const bool   restamp = (mode & M_FS_FILE_MODE_OVERWRITE) && !(mode & M_FS_FILE_MODE_NOCREATE);
	const bool   existed = restamp && ::access(norm, F_OK) == 0;

	m::detail::sys_counters().open++;
	int desc;
	if (perms != nullptr && (flags & O_CREAT)) {
		desc = open_with_perms(norm, flags, perms, &res);
	} else {
		desc = m::detail::open_retry(norm, flags, 0666);
		if (desc < 0)
			res = m::detail::open_error(errno);
	}
	if (desc < 0) {
		M_free(norm);
		return res;
	}

	/* A directory is not a file to read or write: refuse it at open, as the
     * Windows open does (access denied), instead of failing the first read. */
	struct stat st;
	if (::fstat(desc, &st) == 0 && S_ISDIR(st.st_mode)) {
		(void)::close(desc);
		M_free(norm);
		return m::detail::open_error(EISDIR);
	}

	if (existed) {
		/* Replacing an existing file counts as creating it anew: give it the
         * current times. Failure here does not matter to the caller. */
		(void)::futimens(desc, nullptr);
	}

	*fd = m::detail::file_wrap(desc, true, norm);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_read_sys(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len)
{
	return io_sys(fd, buf, buf_len, read_len, m::detail::sys_counters().read, ::read);
}

M_fs_error_t m::detail::file_write_sys(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len)
{
	return io_sys(fd, buf, count, wrote_len, m::detail::sys_counters().write, ::write);
}

M_fs_error_t m::detail::file_seek_sys(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from)
{
	if (!fd_usable(fd))
		return M_FS_ERROR_INVALID;
	int whence;
	switch (from) {
		case M_FS_FILE_SEEK_BEGIN:
			whence = SEEK_SET;
			break;
		case M_FS_FILE_SEEK_END:
			whence = SEEK_END;
			break;
		case M_FS_FILE_SEEK_CUR:
			whence = SEEK_CUR;
			break;
		default:
			return M_FS_ERROR_INVALID;
	}
	static_assert(sizeof(off_t) == sizeof(int64_t), "64-bit file offsets");

	m::detail::sys_counters().seek++;
	if (::lseek(fd->handle, static_cast<off_t>(offset), whence) == static_cast<off_t>(-1))
		return m::detail::last_error();
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_tell_sys(M_fs_file_t *fd, uint64_t *pos)
{
	*pos = 0;
	if (!fd_usable(fd))
		return M_FS_ERROR_INVALID;
	m::detail::sys_counters().seek++;
	const off_t at = ::lseek(fd->handle, 0, SEEK_CUR);
	if (at == static_cast<off_t>(-1))
		return m::detail::last_error();
	*pos = static_cast<uint64_t>(at);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_fsync_sys(M_fs_file_t *fd)
{
	if (!fd_usable(fd))
		return M_FS_ERROR_INVALID;
	m::detail::sys_counters().fsync++;
	int r;
	do {
		r = ::fsync(fd->handle);
	} while (r != 0 && errno == EINTR);
	if (r != 0)
		return m::detail::last_error();
	return M_FS_ERROR_SUCCESS;
}

void m::detail::file_close_sys(M_fs_file_t *fd)
{
	if (fd == nullptr)
		return;
	if (fd->handle >= 0 && fd->own_handle) {
		m::detail::sys_counters().close++;
		/* Not retried on EINTR: on Linux the descriptor is released anyway,
         * and a retry could close a descriptor another opener just got. */
		(void)::close(fd->handle);
	}
	fd->handle = -1;
	M_free(fd->path);
	M_free(fd);
}

M_fs_handle_t m::detail::file_std_handle(M_fs_iostream_t stream) noexcept
{
	/* The stream numbers are the descriptors: 0, 1 and 2. */
	return static_cast<int>(stream);
}
