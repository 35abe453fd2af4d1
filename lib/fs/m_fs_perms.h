/* File permissions: a portable owner/group/mode model.
 *
 * An M_fs_perms_t holds an owner (user) name, a group name and six mode
 * entries: read, write and execute for the owner (USER), the group (GROUP)
 * and everyone else (OTHER), once for files and once for directories. Each
 * entry is either unset or set with a kind:
 *   EXACT  the mode is the whole set of rights of that class;
 *   ADD    rights to grant on top of what the file already has;
 *   REMOVE rights to take away.
 *
 * On Windows owner and group are accounts with their SIDs, modes become an
 * access list (one allowed entry per class set, with the mask table of the
 * permissions layer; "other" is everyone, S-1-1-0), permissions are read
 * back with Authz's access check, applying them writes a protected access
 * list, and access tests open the file (PathFileExistsA for mode 0).
 *
 * On Linux owner and group are user and group names of the system's
 * account databases, modes are the user/group/other rwx bits of the file
 * mode, applying permissions is chmod (and chown when an owner or group is
 * set), and access tests use access(). Windows security descriptors and
 * access lists are not part of this host's realisation.
 *
 * Directory entries: when the target of M_fs_perms_set_perms is a directory
 * and the directory entry of a class is set, that entry is used; otherwise
 * the class's file entry is used.
 *
 * Objects have no lock: one thread at a time. Destroy accepts NULL.
 */
#ifndef M_FS_PERMS_H
#define M_FS_PERMS_H

#include "core/m_defs.h"
#include "fs/m_fs_error.h"

M_BEGIN_DECLS

/* Mode bits (uint32_t). */
typedef enum {
	M_FS_PERMS_MODE_NONE  = 0,
	M_FS_PERMS_MODE_READ  = 1u << 0,
	M_FS_PERMS_MODE_WRITE = 1u << 1,
	M_FS_PERMS_MODE_EXEC  = 1u << 2
} M_fs_perms_mode_t;

/* Classes of a mode entry. */
typedef enum {
	M_FS_PERMS_WHO_USER  = 0, /* the owner */
	M_FS_PERMS_WHO_GROUP = 1, /* the group */
	M_FS_PERMS_WHO_OTHER = 2  /* everyone else */
} M_fs_perms_who_t;

/* Kinds of a mode entry. */
typedef enum {
	M_FS_PERMS_TYPE_EXACT  = 0, /* the mode is the whole set */
	M_FS_PERMS_TYPE_ADD    = 1, /* bits to grant on top of what is there */
	M_FS_PERMS_TYPE_REMOVE = 2  /* bits to take away */
} M_fs_perms_type_t;

/* A new empty object: no user, no group, no entry set.
 * Returns the object, owned by the caller (M_fs_perms_destroy); never NULL. */
M_API M_fs_perms_t *M_fs_perms_create(void) M_WARN_UNUSED_RESULT;

/* Deep copy (names, account ids, entries).
 * perms: NULL gives NULL.
 * Returns the copy, owned by the caller (M_fs_perms_destroy). */
M_API M_fs_perms_t *M_fs_perms_dup(const M_fs_perms_t *perms) M_WARN_UNUSED_RESULT;

/* Free the names and the object. NULL is ignored. */
M_API void M_fs_perms_destroy(M_fs_perms_t *perms);

/* Merge src into *dest and consume src.
 *
 * When src has a user, it replaces dest's user (name and account); the same
 * for the group. Then for every entry set in src: if dest's entry is set
 * with kind EXACT, an ADD in src ORs its bits into dest's mode, a REMOVE
 * clears them, and an EXACT replaces the mode (the kind stays EXACT);
 * otherwise dest's entry takes src's mode and kind. The entry is marked set.
 *
 * dest: address of the destination; *dest NULL: src becomes *dest. dest
 *       NULL: src is destroyed and nothing else happens.
 * src:  taken over in every case (freed, or stored in *dest); NULL: nothing
 *       happens. src is invalid afterwards. */
M_API void M_fs_perms_merge(M_fs_perms_t **dest, M_fs_perms_t *src);

/* Set the owner by account name (looked up in the password database).
 *
 * perms: NULL: M_FS_ERROR_INVALID.
 * user:  NULL or "" clears the owner (success).
 * Returns M_FS_ERROR_SUCCESS; M_FS_ERROR_GENERIC when no account has that
 * name; the translated system error when the lookup itself fails. On failure
 * perms is unchanged. */
M_API M_fs_error_t M_fs_perms_set_user(M_fs_perms_t *perms, const char *user);

/* Set the group by name (looked up in the group database); the same rules as
 * M_fs_perms_set_user. */
M_API M_fs_error_t M_fs_perms_set_group(M_fs_perms_t *perms, const char *group);

/* The owner's name, or NULL (not set, or NULL perms). Borrowed: valid until
 * the owner is changed or perms is destroyed.
 * NULL: yields NULL. */
M_API const char *M_fs_perms_get_user(const M_fs_perms_t *perms);

/* The group's name, or NULL; borrowed as M_fs_perms_get_user. */
M_API const char *M_fs_perms_get_group(const M_fs_perms_t *perms);

/* Set the file entry of class who: set, mode bits, kind.
 * perms: NULL is ignored. An unknown who or kind is ignored. Only the three
 * mode bits are kept. */
M_API void M_fs_perms_set_mode(M_fs_perms_t *perms, uint32_t mode, M_fs_perms_who_t who, M_fs_perms_type_t type);

/* Set the directory entry of class who; the same rules as
 * M_fs_perms_set_mode. */
M_API void M_fs_perms_set_dir_mode(M_fs_perms_t *perms, uint32_t mode, M_fs_perms_who_t who, M_fs_perms_type_t type);

/* Mode bits of the file entry of class who; 0 for NULL perms or an unknown
 * who. */
M_API uint32_t M_fs_perms_get_mode(const M_fs_perms_t *perms, M_fs_perms_who_t who);

/* Kind of the file entry of class who; M_FS_PERMS_TYPE_EXACT (0) for NULL
 * perms or an unknown who. */
M_API M_fs_perms_type_t M_fs_perms_get_type(const M_fs_perms_t *perms, M_fs_perms_who_t who);

/* Whether the file entry of class who is set; M_FALSE for NULL perms or an
 * unknown who. */
M_API M_bool M_fs_perms_get_isset(const M_fs_perms_t *perms, M_fs_perms_who_t who);

/* The directory-entry twins of the three getters above. */
M_API uint32_t          M_fs_perms_get_dir_mode(const M_fs_perms_t *perms, M_fs_perms_who_t who);
M_API M_fs_perms_type_t M_fs_perms_get_dir_type(const M_fs_perms_t *perms, M_fs_perms_who_t who);
M_API M_bool            M_fs_perms_get_dir_isset(const M_fs_perms_t *perms, M_fs_perms_who_t who);

/* Clear both the file and the directory entry of class who.
 * perms: NULL is ignored; an unknown who is ignored. */
M_API void M_fs_perms_unset_mode(M_fs_perms_t *perms, M_fs_perms_who_t who);

/* Clear only the directory entry of class who. */
M_API void M_fs_perms_unset_dir_mode(M_fs_perms_t *perms, M_fs_perms_who_t who);

/* Test whether the calling process may access a file.
 *
 * The path is normalised as M_fs_info does (links resolved, "~" expanded).
 * path: NULL or "": M_FS_ERROR_INVALID.
 * mode: M_fs_perms_mode_t bits; 0 tests only that the file exists.
 * Returns M_FS_ERROR_SUCCESS, a normalisation code, or the translated system
 * error (M_FS_ERROR_NOT_FOUND for a missing file, M_FS_ERROR_PERMISSION for
 * a right not granted). */
M_API M_fs_error_t M_fs_perms_can_access(const char *path, uint32_t mode);

/* Apply permissions to an existing file named by path.
 *
 * The file's current permissions are read, perms is merged into a copy of
 * them (M_fs_perms_merge rules; the directory entries count when path is a
 * directory), and the result is set with chmod; with a user or group in
 * perms, chown sets them too.
 *
 * perms: borrowed, not changed; NULL: M_FS_ERROR_INVALID.
 * path:  normalised as M_fs_info does; NULL or "": M_FS_ERROR_INVALID.
 * Returns M_FS_ERROR_SUCCESS, a normalisation code, or the translated system
 * error (e.g. M_FS_ERROR_PERMISSION when changing the owner is not allowed).
 * A failing chown after a successful chmod leaves the new mode in place. */
M_API M_fs_error_t M_fs_perms_set_perms(const M_fs_perms_t *perms, const char *path);

/* Apply permissions to an open file (fchmod/fchown); otherwise as
 * M_fs_perms_set_perms.
 * perms: NULL: M_FS_ERROR_INVALID. fd: NULL: M_FS_ERROR_INVALID. */
M_API M_fs_error_t M_fs_perms_set_perms_file(const M_fs_perms_t *perms, M_fs_file_t *fd);

M_END_DECLS

#endif /* M_FS_PERMS_H */
