/* Library-internal parts of the file, information and permission layers
 * (C++ only, not a public header).
 *
 * Holds the portable parts of the opaque objects, the platform half of the
 * file layer (the _sys functions, one system call each), the counting seam
 * tests use to watch how many system calls the buffered layer makes, and
 * the normalisation the information and permission calls share. The
 * layouts of the open file and of the permissions object, and the host's
 * own helpers, are in m_fs_int_posix.h and m_fs_int_win.h.
 */
#ifndef M_FS_INT_H
#define M_FS_INT_H

#include "fs/m_fs_file.h"
#include "fs/m_fs_info.h"
#include "fs/m_fs_perms.h"
#include "fs/m_fs_path.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "fs/m_platform_int.h"

/* The system's handle of an open file: a descriptor, or a Windows HANDLE
 * (named without windows.h, which only the _win files include). */
#ifdef _WIN32
using M_fs_handle_t = void *;
#else
using M_fs_handle_t = int;
#endif

/* One open file. */
struct M_fs_file {
	M_fs_handle_t handle;     /* descriptor or HANDLE; -1 or INVALID_HANDLE_VALUE
                                 once closed */
	M_bool        own_handle; /* M_FALSE for the standard streams: never closed */
	size_t        buf_size;   /* size of the user-space buffers; 0 = unbuffered */
	M_buf_t      *read_buf;   /* fetched bytes the caller has not received yet */
	M_buf_t      *write_buf;  /* written bytes not yet in the file */
	size_t        read_ahead; /* system position minus caller position; always
                                 equal to the length of read_buf */
	char         *path;       /* normalised path it was opened with; NULL for
                                 the standard streams */
};

/* One mode entry of a permissions object. */
struct M_fs_perms_entry {
	M_bool            isset; /* the entry holds a value */
	uint32_t          mode;  /* M_FS_PERMS_MODE_* bits */
	M_fs_perms_type_t type;  /* EXACT, ADD or REMOVE */
};

/* File information. */
struct M_fs_info {
	char         *user;   /* owner name (owned) */
	char         *group;  /* group name (owned) */
	M_fs_type_t   type;   /* file or directory */
	M_bool        hidden; /* name begins with "." */
	uint64_t      size;   /* bytes */
	M_time_t      atime;  /* last access */
	M_time_t      mtime;  /* last modification */
	M_time_t      ctime;  /* creation (last status change when unknown) */
	M_time_t      btime;  /* creation, 0 when unknown */
	M_fs_perms_t *perms;  /* owned, or NULL */
};

/* ---------------------------------------------------------------------------
 * Platform half of the file layer (m_fs_file_posix.cpp, m_fs_file_win.cpp).
 * ------------------------------------------------------------------------- */

namespace m::detail {

/* Open the normalised path norm (taken over: kept as the file's path, or
 * freed on failure) with the mode's access and disposition; see
 * M_fs_file_open, which checks the arguments. The new object is
 * unbuffered. */
M_fs_error_t file_open_sys(M_fs_file_t **fd, char *norm, uint32_t mode, const M_fs_perms_t *perms);

/* One system read (read(2), retried on EINTR; ReadFile). *read_len gets the
 * bytes read, 0 at the end of the file and on failure. INVALID for a NULL or
 * closed fd, NULL buf, len 0, NULL read_len, or len above 4,294,967,295. */
M_fs_error_t file_read_sys(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len);

/* One system write (write(2), retried on EINTR; WriteFile); the same
 * argument rules as reading. */
M_fs_error_t file_write_sys(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len);

/* lseek(2) or SetFilePointerEx. INVALID for a NULL or closed fd or an
 * unknown origin. */
M_fs_error_t file_seek_sys(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from);

/* The system's position (a move by 0 from the current one) into *pos (0 on
 * failure). INVALID for a NULL or closed fd. */
M_fs_error_t file_tell_sys(M_fs_file_t *fd, uint64_t *pos);

/* fsync(2) or FlushFileBuffers. INVALID for a NULL or closed fd. */
M_fs_error_t file_fsync_sys(M_fs_file_t *fd);

/* Close the descriptor or handle unless it is closed already or is a
 * standard stream; then free the path and the object. NULL is ignored. */
void file_close_sys(M_fs_file_t *fd);

/* The handle of a standard stream (descriptor 0, 1 or 2; GetStdHandle). */
M_fs_handle_t file_std_handle(M_fs_iostream_t stream) noexcept;

/* A new unbuffered file object over handle; own: closed by file_close_sys
 * (else left open, as the standard streams are). path (owned, may be NULL)
 * is kept for the object's life. */
M_fs_file_t *file_wrap(M_fs_handle_t handle, bool own, char *path) noexcept;

/* Counting seam: every platform call of the file layer bumps one counter.
 * The process has one thread per object, and these are plain counters read
 * by tests to observe what the buffered layer asks of the system. */
struct SysCounters {
	size_t open;
	size_t read;
	size_t write;
	size_t seek;
	size_t fsync;
	size_t close;
};

/* The live counters (never NULL). */
SysCounters &sys_counters() noexcept;

/* Set all counters to 0. */
void sys_counters_reset() noexcept;

/* The Windows access mask of a mode (M_FS_PERMS_MODE_* bits) for the owner
 * (owner true: the standard rights of delete, read control, write DAC and
 * write owner are added) or for the group and everyone:
 *   mode  owner       group, everyone
 *   none  0x000F0000  0
 *   r     0x801F0089  0x80120089
 *   w     0x401F0116  0x40120116
 *   x     0x201F00A0  0x201200A0   (and the sums of these for rw, rx, ...) */
uint32_t perms_access_mask(uint32_t mode, bool owner) noexcept;

/* The mode (M_FS_PERMS_MODE_* bits) an access check granted: everything for
 * GENERIC_ALL or all of 0x001F01FF; otherwise read for GENERIC_READ or all of
 * 0x00120089, write for GENERIC_WRITE or all of 0x00120116, execute for
 * GENERIC_EXECUTE or all of 0x001200A0. */
uint32_t perms_mode_from_access(uint32_t granted) noexcept;

/* The entry of class who (0 user, 1 group, 2 other) that applies to a file
 * (is_dir false) or a directory: the directory entry when is_dir and it is
 * set, else the file entry. NULL when that entry is not set or its kind is
 * REMOVE (it grants nothing by itself), or for a NULL perms. */
const M_fs_perms_entry *perms_entry_for(const M_fs_perms_t *perms, int who, bool is_dir) noexcept;

/* Give info the names of perms' owner and group (copies) and perms itself
 * (taken over). */
void info_take_perms(M_fs_info_t *info, M_fs_perms_t *perms) noexcept;

/* M_fs_info once its arguments are checked (path not empty, *info
 * cleared): the platform's look at the entry. */
M_fs_error_t info_path_sys(M_fs_info_t **info, const char *path, uint32_t flags) noexcept;

/* Normalise path the way the information and permission calls read it
 * (links resolved, "~" expanded; bits 4 and 8 of the Windows layout accepted
 * without effect) and hand the result to fn(const char *norm). Returns fn's
 * code, or the normalisation's when that fails. */
template <typename Fn>
M_fs_error_t with_info_path(const char *path, Fn fn) noexcept
{
	constexpr uint32_t kFlags = M_FS_PATH_NORM_RESOLVE_LINK | M_FS_PATH_NORM_HOME | 4u | 8u;
	char              *norm   = nullptr;
	M_fs_error_t       res    = M_fs_path_norm(&norm, path, kFlags, M_FS_SYSTEM_AUTO);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	res = fn(static_cast<const char *>(norm));
	M_free(norm);
	return res;
}

} // namespace m::detail

/* The platform's layouts and helpers. */
#ifdef _WIN32
#include "fs/m_fs_int_win.h"
#else
#include "fs/m_fs_int_posix.h"
#endif

#endif /* M_FS_INT_H */
