/* File information: what the file layer knows about a file beyond its
 * contents.
 *
 * An M_fs_info_t holds a file's type, hidden flag, size, four times, owner
 * and group names, and its permissions (m_fs_perms.h). On Windows it comes
 * from the directory entry (FindFirstFileA) or the handle
 * (GetFileInformationByHandle): type, the hidden attribute, size, the access,
 * write and creation (ctime and btime) times, and the owner, group and
 * permissions of the security descriptor. On Linux it is read with stat
 * (by path) or fstat (for an open file):
 *   type    M_FS_TYPE_DIR for a directory, M_FS_TYPE_FILE for anything else;
 *   hidden  the file's name begins with ".";
 *   size    st_size in bytes;
 *   atime   last access, mtime last modification;
 *   ctime, btime  both the creation time when the file system records it;
 *           where it does not, btime is 0 and ctime the last status change
 *           (the nearest time this host keeps);
 *   user, group  the owner's and group's names from the account databases
 *           (left unset when an id has no name);
 *   perms   the user/group/other rwx bits as EXACT file entries, with the
 *           owner and group.
 *
 * Objects have no lock: one thread at a time. Destroy accepts NULL; the
 * getters yield 0, NULL or M_FALSE by result type for a NULL info.
 */
#ifndef M_FS_INFO_H
#define M_FS_INFO_H

#include "core/m_defs.h"
#include "fs/m_fs_error.h"
#include "sys/m_time.h"

M_BEGIN_DECLS

/* File types. */
typedef enum {
	M_FS_TYPE_UNKNOWN = 0, /* not read yet */
	M_FS_TYPE_FILE    = 1,
	M_FS_TYPE_DIR     = 2
} M_fs_type_t;

/* Flags of M_fs_info and M_fs_info_file (uint32_t); other bits have no
 * effect. */
typedef enum {
	M_FS_INFO_FLAG_NONE  = 0,
	M_FS_INFO_FLAG_BASIC = 1u << 1 /* skip owner, group and permissions */
} M_fs_info_flags_t;

/* A new zero-filled object (no names, type 0, no permissions).
 * Returns the object, owned by the caller (M_fs_info_destroy); never NULL. */
M_API M_fs_info_t *M_fs_info_create(void) M_WARN_UNUSED_RESULT;

/* Free the names, the permissions object and the object. NULL is ignored. */
M_API void M_fs_info_destroy(M_fs_info_t *info);

/* Getters. Each returns 0 (or NULL, M_FALSE) for a NULL info. Strings and
 * the permissions object are borrowed: valid until the field is set again or
 * info is destroyed. */
M_API const char         *M_fs_info_get_user(const M_fs_info_t *info);
M_API const char         *M_fs_info_get_group(const M_fs_info_t *info);
M_API M_fs_type_t         M_fs_info_get_type(const M_fs_info_t *info);
M_API M_bool              M_fs_info_get_ishidden(const M_fs_info_t *info);
M_API uint64_t            M_fs_info_get_size(const M_fs_info_t *info);
M_API M_time_t            M_fs_info_get_atime(const M_fs_info_t *info);
M_API M_time_t            M_fs_info_get_mtime(const M_fs_info_t *info);
M_API M_time_t            M_fs_info_get_ctime(const M_fs_info_t *info);
M_API M_time_t            M_fs_info_get_btime(const M_fs_info_t *info);
M_API const M_fs_perms_t *M_fs_info_get_perms(const M_fs_info_t *info);

/* Setters. Each ignores a NULL info. set_user and set_group store a copy of
 * the string (NULL clears the name). */
M_API void M_fs_info_set_user(M_fs_info_t *info, const char *user);
M_API void M_fs_info_set_group(M_fs_info_t *info, const char *group);
M_API void M_fs_info_set_type(M_fs_info_t *info, M_fs_type_t type);
M_API void M_fs_info_set_hidden(M_fs_info_t *info, M_bool hidden);
M_API void M_fs_info_set_size(M_fs_info_t *info, uint64_t size);
M_API void M_fs_info_set_atime(M_fs_info_t *info, M_time_t val);
M_API void M_fs_info_set_mtime(M_fs_info_t *info, M_time_t val);
M_API void M_fs_info_set_ctime(M_fs_info_t *info, M_time_t val);
M_API void M_fs_info_set_btime(M_fs_info_t *info, M_time_t val);

/* Store a permissions object, taking ownership of perms (it is destroyed with
 * info) and destroying the one held before. perms may be NULL. With a NULL
 * info, perms is destroyed so that it does not leak. */
M_API void M_fs_info_set_perms(M_fs_info_t *info, M_fs_perms_t *perms);

/* Read the information of a file by path.
 *
 * The path is normalised with link resolution and "~" expansion; the file is
 * read with stat (links followed).
 *
 * info:  receives a new object (free with M_fs_info_destroy), NULL on any
 *        failure; NULL: only tests that the file can be found.
 * path:  NULL or "": M_FS_ERROR_INVALID.
 * flags: M_FS_INFO_FLAG_BASIC skips owner, group and permissions.
 * Returns M_FS_ERROR_SUCCESS, a normalisation code, or the translated system
 * error (M_FS_ERROR_NOT_FOUND, M_FS_ERROR_NOT_FOUND for a file used as a
 * directory, M_FS_ERROR_PERMISSION, ...). */
M_API M_fs_error_t M_fs_info(M_fs_info_t **info, const char *path, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Read the information of an open file (fstat); otherwise as M_fs_info.
 *
 * info: receives a new object; NULL: success without reading.
 * fd:   NULL: M_FS_ERROR_INVALID (and *info NULL).
 * The hidden flag comes from the name the file was opened with (M_FALSE for
 * the standard streams). */
M_API M_fs_error_t M_fs_info_file(M_fs_info_t **info, M_fs_file_t *fd, uint32_t flags) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_FS_INFO_H */
