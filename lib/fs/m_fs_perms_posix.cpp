/* Permissions on POSIX: account lookups, access tests, chmod/chown.
 *
 * The portable model maps onto the file mode directly: each class (user,
 * group, other) is three bits. Note the bit order differs: the model has
 * READ 1, WRITE 2, EXEC 4, the host r 4, w 2, x 1.
 */
#include "fs/m_fs_int.h"
#include "fs/m_fs_path_int.h"
#include "fs/m_platform_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

/* Shift of each class's three bits in a host mode. */
constexpr int kShift[3] = {6, 3, 0};

/* Scratch size for the _r account lookups: the system's hint, grown on
 * ERANGE up to a sane ceiling. */
size_t lookup_bufsize(int which) noexcept
{
	const long hint = ::sysconf(which);
	return hint > 0 ? static_cast<size_t>(hint) : 1024;
}
constexpr size_t kLookupMax = 1u << 20;

/* Run one _r lookup with a growing scratch block. fn(buf, len) returns the
 * lookup's error number (0 on success, found or not). */
template <typename Fn>
int with_lookup_buffer(int which, Fn fn) noexcept
{
	size_t len = lookup_bufsize(which);
	for (;;) {
		char *buf = static_cast<char *>(M_malloc(len));
		int   err = fn(buf, len);
		M_free(buf);
		if (err != ERANGE || len >= kLookupMax)
			return err;
		len *= 2;
	}
}

/* The account database's _r calls: by name (getpwnam_r, getgrnam_r) and by
 * id (getpwuid_r, getgrgid_r). Users and groups differ only in the record
 * type, so one lookup of each kind serves both. */
template <typename Rec>
using by_name_r = int (*)(const char *, Rec *, char *, size_t, Rec **);
template <typename Rec, typename Id>
using by_id_r = int (*)(Id, Rec *, char *, size_t, Rec **);

/* The id of the record named name; GENERIC when there is none. *out is only
 * written on success. */
template <typename Rec, typename Id>
M_fs_error_t lookup_id(int which, by_name_r<Rec> get, Id Rec::*field, const char *name, Id *out) noexcept
{
	Rec      *found = nullptr;
	Id        id    = 0;
	const int err   = with_lookup_buffer(which, [&](char *buf, size_t len) {
        Rec rec;
        found = nullptr;
        int e = get(name, &rec, buf, len, &found);
        if (e == 0 && found != nullptr)
            id = rec.*field;
        return e;
    });
	if (err != 0)
		return m::detail::fs_error_from_errno(err);
	if (found == nullptr)
		return M_FS_ERROR_GENERIC;
	*out = id;
	return M_FS_ERROR_SUCCESS;
}

/* A copy of one text field of the record for id; NULL when there is no such
 * record or the field is empty. */
template <typename Rec, typename Id>
char *lookup_text(int which, by_id_r<Rec, Id> get, Id id, char *Rec::*field) noexcept
{
	char *text = nullptr;
	(void)with_lookup_buffer(which, [&](char *buf, size_t len) {
		Rec  rec;
		Rec *found = nullptr;
		int  e     = get(id, &rec, buf, len, &found);
		if (e == 0 && found != nullptr && !M_str_isempty(rec.*field))
			text = M_strdup(rec.*field);
		return e;
	});
	return text;
}

/* Apply perms to the file described by st through the given chmod/chown. */
template <typename Chmod, typename Chown>
M_fs_error_t apply_perms(const M_fs_perms_t *perms, const struct stat &st, Chmod do_chmod, Chown do_chown) noexcept
{
	/* For a directory, a class's directory entry (when set) stands in for
     * its file entry, so that an ADD or REMOVE aimed at directories merges
     * into the directory's current rights rather than replacing them. */
	M_fs_perms_t *change = M_fs_perms_dup(perms);
	if (S_ISDIR(st.st_mode)) {
		for (int who = 0; who < 3; who++) {
			if (change->dir[who].isset)
				change->file[who] = change->dir[who];
		}
	}
	for (int who = 0; who < 3; who++)
		change->dir[who] = M_fs_perms_entry{M_FALSE, 0, M_FS_PERMS_TYPE_EXACT};

	M_fs_perms_t *current = m::detail::perms_from_stat(st);
	M_fs_perms_merge(&current, change);

	/* Keep the set-id and sticky bits; only the nine rwx bits are ours. */
	const mode_t mode = (st.st_mode & 07000) | m::detail::perms_to_host_mode(current, false);
	M_fs_perms_destroy(current);

	if (do_chmod(mode) != 0)
		return m::detail::last_error();
	if (perms->user != nullptr || perms->group != nullptr) {
		const uid_t uid = perms->user != nullptr ? perms->uid : static_cast<uid_t>(-1);
		const gid_t gid = perms->group != nullptr ? perms->gid : static_cast<gid_t>(-1);
		if (do_chown(uid, gid) != 0)
			return m::detail::last_error();
	}
	return M_FS_ERROR_SUCCESS;
}

/* Set (name looked up first; nothing changes when that fails) or clear
 * (name NULL or "") the owner or the group of perms: the name field and the
 * id field that go with it. */
template <typename Id>
M_fs_error_t set_account(M_fs_perms_t *perms, const char *name, char *M_fs_perms_t::*name_field,
                         Id M_fs_perms_t::*id_field, M_fs_error_t (*lookup)(const char *, Id *) noexcept) noexcept
{
	if (perms == nullptr)
		return M_FS_ERROR_INVALID;
	Id    id   = 0;
	char *copy = nullptr;
	if (!M_str_isempty(name)) {
		const M_fs_error_t res = lookup(name, &id);
		if (res != M_FS_ERROR_SUCCESS)
			return res;
		copy = M_strdup(name); /* before the release: name may be the current one */
	}
	M_free(perms->*name_field);
	perms->*name_field = copy;
	perms->*id_field   = id;
	return M_FS_ERROR_SUCCESS;
}

} // namespace

namespace m::detail {

uint32_t perms_mode_from_host(mode_t mode, int who) noexcept
{
	const unsigned bits = (static_cast<unsigned>(mode) >> kShift[who]) & 7u;
	uint32_t       out  = 0;
	if (bits & 4u)
		out |= M_FS_PERMS_MODE_READ;
	if (bits & 2u)
		out |= M_FS_PERMS_MODE_WRITE;
	if (bits & 1u)
		out |= M_FS_PERMS_MODE_EXEC;
	return out;
}

mode_t perms_mode_to_host(uint32_t mode, int who) noexcept
{
	unsigned bits = 0;
	if (mode & M_FS_PERMS_MODE_READ)
		bits |= 4u;
	if (mode & M_FS_PERMS_MODE_WRITE)
		bits |= 2u;
	if (mode & M_FS_PERMS_MODE_EXEC)
		bits |= 1u;
	return static_cast<mode_t>(bits << kShift[who]);
}

M_fs_perms_t *perms_from_stat(const struct stat &st) noexcept
{
	M_fs_perms_t *p = M_fs_perms_create();
	for (int who = 0; who < 3; who++) {
		const uint32_t mode = perms_mode_from_host(st.st_mode, who);
		M_fs_perms_set_mode(p, mode, static_cast<M_fs_perms_who_t>(who), M_FS_PERMS_TYPE_EXACT);
	}
	p->user  = user_name(st.st_uid);
	p->uid   = st.st_uid;
	p->group = group_name(st.st_gid);
	p->gid   = st.st_gid;
	return p;
}

mode_t perms_to_host_mode(const M_fs_perms_t *perms, bool is_dir) noexcept
{
	if (perms == nullptr)
		return 0;
	mode_t mode = 0;
	for (int who = 0; who < 3; who++) {
		const M_fs_perms_entry *e = perms_entry_for(perms, who, is_dir);
		if (e != nullptr)
			mode |= perms_mode_to_host(e->mode, who);
	}
	return mode;
}

M_fs_error_t lookup_user(const char *name, uid_t *uid) noexcept
{
	return lookup_id(_SC_GETPW_R_SIZE_MAX, ::getpwnam_r, &passwd::pw_uid, name, uid);
}

M_fs_error_t lookup_group(const char *name, gid_t *gid) noexcept
{
	return lookup_id(_SC_GETGR_R_SIZE_MAX, ::getgrnam_r, &group::gr_gid, name, gid);
}

char *user_name(uid_t uid) noexcept
{
	return lookup_text(_SC_GETPW_R_SIZE_MAX, ::getpwuid_r, uid, &passwd::pw_name);
}

char *group_name(gid_t gid) noexcept
{
	return lookup_text(_SC_GETGR_R_SIZE_MAX, ::getgrgid_r, gid, &group::gr_name);
}

char *home_dir() noexcept
{
	const char *env = ::getenv("HOME");
	if (!M_str_isempty(env))
		return M_strdup(env);
	return lookup_text(_SC_GETPW_R_SIZE_MAX, ::getpwuid_r, ::getuid(), &passwd::pw_dir);
}

} // namespace m::detail

extern "C" {

M_fs_error_t M_fs_perms_set_user(M_fs_perms_t *perms, const char *user)
{
	return set_account(perms, user, &M_fs_perms_t::user, &M_fs_perms_t::uid, m::detail::lookup_user);
}

M_fs_error_t M_fs_perms_set_group(M_fs_perms_t *perms, const char *group)
{
	return set_account(perms, group, &M_fs_perms_t::group, &M_fs_perms_t::gid, m::detail::lookup_group);
}

M_fs_error_t M_fs_perms_can_access(const char *path, uint32_t mode)
{
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;

	int amode = F_OK;
	if (mode & M_FS_PERMS_MODE_READ)
		amode |= R_OK;
	if (mode & M_FS_PERMS_MODE_WRITE)
		amode |= W_OK;
	if (mode & M_FS_PERMS_MODE_EXEC)
		amode |= X_OK;

	return m::detail::with_info_path(path, [&](const char *norm) {
		return ::access(norm, amode) != 0 ? m::detail::last_error() : M_FS_ERROR_SUCCESS;
	});
}

M_fs_error_t M_fs_perms_set_perms(const M_fs_perms_t *perms, const char *path)
{
	if (perms == nullptr || M_str_isempty(path))
		return M_FS_ERROR_INVALID;

	return m::detail::with_info_stat(path, [&](const char *norm, const struct stat &st) {
		return apply_perms(
		    perms, st, [&](mode_t m) { return ::chmod(norm, m); },
		    [&](uid_t u, gid_t g) { return ::chown(norm, u, g); });
	});
}

M_fs_error_t M_fs_perms_set_perms_file(const M_fs_perms_t *perms, M_fs_file_t *fd)
{
	if (perms == nullptr || fd == nullptr || fd->handle < 0)
		return M_FS_ERROR_INVALID;

	struct stat st;
	if (::fstat(fd->handle, &st) != 0)
		return m::detail::last_error();
	const int desc = fd->handle;
	return apply_perms(
	    perms, st, [desc](mode_t m) { return ::fchmod(desc, m); },
	    [desc](uid_t u, gid_t g) { return ::fchown(desc, u, g); });
}

} // extern "C"
