/* Library-internal parts of the file, information and permission layers
 * (C++ only, not a public header).
 *
 * Holds the layouts of the opaque objects, the platform half of the file
 * layer (the _sys functions, one system call each, EINTR retried there), the
 * counting seam tests use to watch how many system calls the buffered layer
 * makes, and the conversions between the host's mode bits and the portable
 * permission model.
 */
#ifndef M_FS_INT_H
#define M_FS_INT_H

#include <sys/stat.h>
#include <sys/types.h>

#include "fs/m_fs_file.h"
#include "fs/m_fs_info.h"
#include "fs/m_fs_perms.h"
#include "fs/m_fs_path.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "fs/m_platform_int.h"

/* One open file. */
struct M_fs_file {
	int      fd;         /* descriptor; -1 once closed */
	M_bool   own_fd;     /* M_FALSE for the standard streams: never closed */
	size_t   buf_size;   /* size of the user-space buffers; 0 = unbuffered */
	M_buf_t *read_buf;   /* fetched bytes the caller has not received yet */
	M_buf_t *write_buf;  /* written bytes not yet in the file */
	size_t   read_ahead; /* system position minus caller position; always
                             equal to the length of read_buf */
	char    *path;       /* normalised path it was opened with; NULL for
                             the standard streams */
};

/* One mode entry of a permissions object. */
struct M_fs_perms_entry {
	M_bool            isset; /* the entry holds a value */
	uint32_t          mode;  /* M_FS_PERMS_MODE_* bits */
	M_fs_perms_type_t type;  /* EXACT, ADD or REMOVE */
};

/* Permissions: owner, group, and the six entries (file user/group/other,
 * directory user/group/other). The ids stand where the Windows layout keeps
 * SIDs: valid only while the matching name is set. */
struct M_fs_perms {
	char                   *user;    /* owner name; NULL = not set */
	char                   *group;   /* group name; NULL = not set */
	uid_t                   uid;     /* owner's id, when user is set */
	gid_t                   gid;     /* group's id, when group is set */
	struct M_fs_perms_entry file[3]; /* indexed by M_fs_perms_who_t */
	struct M_fs_perms_entry dir[3];
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
 * Platform half of the file layer (m_fs_file_posix.cpp).
 * ------------------------------------------------------------------------- */

namespace m::detail {

/* Open path (normalised here) with the mode's access and disposition; see
 * M_fs_file_open. The new object is unbuffered. */
M_fs_error_t file_open_sys(M_fs_file_t **fd, const char *path, uint32_t mode, const M_fs_perms_t *perms);

/* One read(2) (retried on EINTR). *read_len gets the bytes read, 0 at the end
 * of the file and on failure. INVALID for a NULL or closed fd, NULL buf, len
 * 0, NULL read_len, or len above 4,294,967,295. */
M_fs_error_t file_read_sys(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len);

/* One write(2) (retried on EINTR); the same argument rules as reading. */
M_fs_error_t file_write_sys(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len);

/* lseek(2). INVALID for a NULL or closed fd or an unknown origin. */
M_fs_error_t file_seek_sys(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from);

/* lseek(2) by 0 from the current position: the system's position into
 * *pos (0 on failure). INVALID for a NULL or closed fd. */
M_fs_error_t file_tell_sys(M_fs_file_t *fd, uint64_t *pos);

/* fsync(2). INVALID for a NULL or closed fd. */
M_fs_error_t file_fsync_sys(M_fs_file_t *fd);

/* close(2) unless the descriptor is closed already or is a standard stream;
 * then frees the path and the object. NULL is ignored. */
void file_close_sys(M_fs_file_t *fd);

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

/* Test seam of the replace: when set, the commit calls it with the
 * temporary file's path once every byte is written to it, before its owner
 * and mode change and before the rename. NULL in normal use. */
extern void (*replace_test_hook)(const char *tmp_path);

/* open(2), retried while a signal interrupts it. */
int open_retry(const char *path, int flags, mode_t mode) noexcept;

/* The result code of a failed open(2). EISDIR has no row in the error table;
 * it is the Windows open's "access denied" for a directory. */
M_fs_error_t open_error(int err) noexcept;

/* Mode bits of a host mode for one class (0 user, 1 group, 2 other), as
 * M_FS_PERMS_MODE_* bits. */
uint32_t perms_mode_from_host(mode_t mode, int who) noexcept;

/* Host mode bits (0..7 shifted into place) of M_FS_PERMS_MODE_* bits for
 * one class. */
mode_t perms_mode_to_host(uint32_t mode, int who) noexcept;

/* A new permissions object describing a stat result: the three classes as
 * EXACT file entries, the owner's and the group's names and ids (names left
 * unset when the databases do not know the ids). */
M_fs_perms_t *perms_from_stat(const struct stat &st) noexcept;

/* The host mode (low nine bits) a permissions object gives a target: per
 * class the directory entry when is_dir and it is set, else the file entry;
 * an unset or REMOVE entry gives that class nothing. */
mode_t perms_to_host_mode(const M_fs_perms_t *perms, bool is_dir) noexcept;

/* Look up account names (getpwnam_r / getgrnam_r) and ids. Each returns
 * M_FS_ERROR_SUCCESS and fills the out value, M_FS_ERROR_GENERIC when no
 * account has the name, or the translated lookup error. */
M_fs_error_t lookup_user(const char *name, uid_t *uid) noexcept;
M_fs_error_t lookup_group(const char *name, gid_t *gid) noexcept;

/* Names of ids, as new strings (free with M_free), or NULL when unknown. */
char *user_name(uid_t uid) noexcept;
char *group_name(gid_t gid) noexcept;

/* The user's home directory: $HOME, else the password database entry of the
 * real user. A new string (free with M_free), or NULL. */
char *home_dir() noexcept;

/* Build an information object from a stat result. name: the file's path or
 * name (its last component decides the hidden flag), may be NULL. btime:
 * creation time or 0. */
M_fs_info_t *info_from_stat(const struct stat &st, const char *name, M_time_t btime, uint32_t flags) noexcept;

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

/* with_info_path, then stat() of the normalised path: fn(norm, st) runs on
 * success and its code is returned; a failed stat gives its error. */
template <typename Fn>
M_fs_error_t with_info_stat(const char *path, Fn fn) noexcept
{
	return with_info_path(path, [&](const char *norm) {
		struct stat st;
		if (::stat(norm, &st) != 0)
			return M_fs_error_from_syserr(M_platform_errno());
		return fn(norm, static_cast<const struct stat &>(st));
	});
}

} // namespace m::detail

#endif /* M_FS_INT_H */
