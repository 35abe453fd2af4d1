/* Library-internal layouts and helpers of the file, information and
 * permission layers on Windows (C++ only; included through m_fs_int.h).
 *
 * Owners and groups are SIDs kept in the permissions object. This header
 * names no Windows type (windows.h belongs to the _win.cpp files): handles,
 * SIDs, access lists and security records pass as void pointers between
 * those files.
 */
#ifndef M_FS_INT_WIN_H
#define M_FS_INT_WIN_H

/* Room for a SID: the largest one Windows defines (SECURITY_MAX_SID_SIZE). */
#define M_FS_SID_MAX 68

/* Permissions: owner, group, their SIDs, and the six entries (file
 * user/group/other, directory user/group/other). A SID is valid only while
 * the matching name is set. */
struct M_fs_perms {
	char                   *user;                    /* owner name; NULL = not set */
	char                   *group;                   /* group name; NULL = not set */
	unsigned char           user_sid[M_FS_SID_MAX];  /* owner's SID, when user is set */
	unsigned char           group_sid[M_FS_SID_MAX]; /* group's SID, when group is set */
	struct M_fs_perms_entry file[3];                 /* indexed by M_fs_perms_who_t */
	struct M_fs_perms_entry dir[3];
};

namespace m::detail {

/* Take over src's SID of the owner or the group (M_fs_perms_merge). */
inline void copy_user_account(M_fs_perms &dest, const M_fs_perms &src) noexcept
{
	M_mem_copy(dest.user_sid, src.user_sid, sizeof(dest.user_sid));
}
inline void copy_group_account(M_fs_perms &dest, const M_fs_perms &src) noexcept
{
	M_mem_copy(dest.group_sid, src.group_sid, sizeof(dest.group_sid));
}

/* Fill a SECURITY_ATTRIBUTES record (attributes) and the security
 * descriptor it points to (descriptor) for a new file from perms: an access
 * list from the entries (the everyone SID, may be NULL, stands for the
 * "other" class), the owner's and the group's SIDs. When perms has no user,
 * the current user is looked up and stored as its user. *acl receives the
 * access list, which the caller releases with LocalFree after use (NULL on
 * failure). Returns M_FS_ERROR_SUCCESS, M_FS_ERROR_INVALID for a NULL
 * argument, or the translated system error. */
M_fs_error_t perms_to_security_attributes(M_fs_perms_t *perms, void *everyone_sid, void **acl, void *attributes,
                                          void *descriptor) noexcept;

/* A new SID of "S-1-1-0" (everyone), to be released with LocalFree; NULL
 * when the conversion fails. */
void *everyone_sid() noexcept;

/* Build an information object from the attributes, size and times of a
 * directory entry or a handle (FILETIMEs as 64-bit counts), reading owner,
 * group and permissions from the security descriptor (NULL with
 * M_FS_INFO_FLAG_BASIC). Returns M_FS_ERROR_SUCCESS and the object in *out,
 * or the failure (nothing in *out). */
M_fs_error_t info_build(M_fs_info_t **out, uint32_t attributes, uint64_t size, int64_t atime, int64_t mtime,
                        int64_t ctime, void *descriptor, uint32_t flags) noexcept;

/* The permissions a security descriptor describes (Authz's access check for
 * the owner, the group and everyone, as exact file entries), with the
 * owner's and the group's names and SIDs. Returns M_FS_ERROR_SUCCESS and a
 * new object in *out, or M_FS_ERROR_INVALID when the owner's SID is not a
 * user's. */
M_fs_error_t perms_from_descriptor(void *descriptor, M_fs_perms_t **out) noexcept;

/* A string of the system's ANSI code page (the text of the "A" calls; UTF-8
 * in a program whose manifest says so) as a new UTF-16 string, and back;
 * released with M_free. NULL for NULL or text that does not convert. For
 * the wide calls whose sizes count UTF-16 units, which differ from the
 * bytes of UTF-8 text. */
wchar_t *acp_to_wide(const char *s) noexcept;
char    *wide_to_acp(const wchar_t *s) noexcept;

/* A full UTF-16 path in the extended-length form ("\\?\C:\...",
 * "\\?\UNC\srv\share\...") when it is too long for the plain form
 * (MAX_PATH, 260 units with the terminator), so that a long path opens
 * whether or not the system lets plain paths be long; a shorter path, or one
 * in the extended or device form already, is returned as it is. Takes
 * ownership of path (released or returned). NULL when path is NULL or its
 * full form cannot be had. Released with M_free. */
wchar_t *long_form(wchar_t *path) noexcept;

/* A path of the library (UTF-8) for the wide calls (long_form of its
 * UTF-16 text), released when it goes out of scope; p is NULL when the
 * text does not convert. */
struct wide_path {
	wchar_t *p;
	explicit wide_path(const char *path) noexcept : p(long_form(acp_to_wide(path))) {}
	~wide_path()
	{
		M_free(p);
	}
	wide_path(const wide_path &)            = delete;
	wide_path &operator=(const wide_path &) = delete;
};

} // namespace m::detail

#endif /* M_FS_INT_WIN_H */
