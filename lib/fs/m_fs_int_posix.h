/* Library-internal layouts and helpers of the file, information and
 * permission layers on POSIX (C++ only; included through m_fs_int.h).
 *
 * Owners and groups are user and group ids; the conversions between the
 * host's mode bits and the portable permission model, the account lookups
 * and the stat-based information live here.
 */
#ifndef M_FS_INT_POSIX_H
#define M_FS_INT_POSIX_H

#include <sys/stat.h>
#include <sys/types.h>

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

namespace m::detail {

/* Take over src's account ids of the owner or the group (M_fs_perms_merge). */
inline void copy_user_account(M_fs_perms &dest, const M_fs_perms &src) noexcept
{
	dest.uid = src.uid;
}
inline void copy_group_account(M_fs_perms &dest, const M_fs_perms &src) noexcept
{
	dest.gid = src.gid;
}

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

/* Build an information object from a stat result. name: the file's path or
 * name (its last component decides the hidden flag), may be NULL. btime:
 * creation time or 0. */
M_fs_info_t *info_from_stat(const struct stat &st, const char *name, M_time_t btime, uint32_t flags) noexcept;

/* with_info_path, then stat() of the normalised path: fn(norm, st) runs on
 * success and its code is returned; a failed stat gives its error. */
template <typename Fn>
M_fs_error_t with_info_stat(const char *path, Fn fn) noexcept
{
	return with_info_path(path, [&](const char *norm) {
		struct stat st;
		if (::stat(norm, &st) != 0)
			return m::detail::last_error();
		return fn(norm, static_cast<const struct stat &>(st));
	});
}

} // namespace m::detail

#endif /* M_FS_INT_POSIX_H */
