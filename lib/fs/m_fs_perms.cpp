/* Permissions object: the portable owner/group/mode model and its merge.
 *
 * Host work (account lookups, access tests, applying permissions) lives in
 * m_fs_perms_posix.cpp and m_fs_perms_win.cpp; this file only handles the
 * object.
 */
#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

namespace {

constexpr uint32_t kModeMask = M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE | M_FS_PERMS_MODE_EXEC;

bool who_ok(M_fs_perms_who_t who) noexcept
{
	return who == M_FS_PERMS_WHO_USER || who == M_FS_PERMS_WHO_GROUP || who == M_FS_PERMS_WHO_OTHER;
}

bool type_ok(M_fs_perms_type_t type) noexcept
{
	return type == M_FS_PERMS_TYPE_EXACT || type == M_FS_PERMS_TYPE_ADD || type == M_FS_PERMS_TYPE_REMOVE;
}

void set_entry(M_fs_perms_entry *e, uint32_t mode, M_fs_perms_type_t type) noexcept
{
	e->isset = M_TRUE;
	e->mode  = mode & kModeMask;
	e->type  = type;
}

/* One entry of src merged into the matching entry of dest. */
void merge_entry(M_fs_perms_entry *dest, const M_fs_perms_entry *src) noexcept
{
	if (!src->isset)
		return;
	if (dest->isset && dest->type == M_FS_PERMS_TYPE_EXACT) {
		switch (src->type) {
			case M_FS_PERMS_TYPE_ADD:
				dest->mode |= src->mode;
				break;
			case M_FS_PERMS_TYPE_REMOVE:
				dest->mode &= ~src->mode;
				break;
			case M_FS_PERMS_TYPE_EXACT:
				dest->mode = src->mode;
				break;
		}
	} else {
		dest->mode = src->mode;
		dest->type = src->type;
	}
	dest->isset = M_TRUE;
}

/* Access rights of the mask table: the read, write and execute bits of the
 * file rights, the standard rights only the owner gets, and the generic
 * right each mode bit carries. */
constexpr uint32_t kReadRights   = 0x00120089; /* FILE_GENERIC_READ */
constexpr uint32_t kWriteRights  = 0x00120116; /* FILE_GENERIC_WRITE */
constexpr uint32_t kExecRights   = 0x001200A0; /* FILE_GENERIC_EXECUTE */
constexpr uint32_t kOwnerRights  = 0x000F0000; /* DELETE, READ_CONTROL, WRITE_DAC, WRITE_OWNER */
constexpr uint32_t kAllRights    = 0x001F01FF; /* FILE_ALL_ACCESS */
constexpr uint32_t kGenericAll   = 0x10000000;
constexpr uint32_t kGenericRead  = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericExec  = 0x20000000;

constexpr uint32_t access_mask(uint32_t mode, bool owner) noexcept
{
	uint32_t mask = owner ? kOwnerRights : 0;
	if (mode & M_FS_PERMS_MODE_READ)
		mask |= kGenericRead | kReadRights;
	if (mode & M_FS_PERMS_MODE_WRITE)
		mask |= kGenericWrite | kWriteRights;
	if (mode & M_FS_PERMS_MODE_EXEC)
		mask |= kGenericExec | kExecRights;
	return mask;
}
static_assert(access_mask(0, true) == 0x000F0000 && access_mask(0, false) == 0, "no mode");
static_assert(access_mask(M_FS_PERMS_MODE_READ, true) == 0x801F0089 &&
                  access_mask(M_FS_PERMS_MODE_READ, false) == 0x80120089,
              "read");
static_assert(access_mask(M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE, true) == 0xC01F019F &&
                  access_mask(M_FS_PERMS_MODE_WRITE | M_FS_PERMS_MODE_EXEC, false) == 0x601201B6,
              "read and write, write and execute");
static_assert(access_mask(kModeMask, true) == 0xE01F01BF && access_mask(kModeMask, false) == 0xE01201BF, "all");

constexpr bool has_all(uint32_t granted, uint32_t rights) noexcept
{
	return (granted & rights) == rights;
}

} // namespace

namespace m::detail {

uint32_t perms_access_mask(uint32_t mode, bool owner) noexcept
{
	return access_mask(mode & kModeMask, owner);
}

uint32_t perms_mode_from_access(uint32_t granted) noexcept
{
	if ((granted & kGenericAll) || has_all(granted, kAllRights))
		return kModeMask;
	uint32_t mode = 0;
	if ((granted & kGenericRead) || has_all(granted, kReadRights))
		mode |= M_FS_PERMS_MODE_READ;
	if ((granted & kGenericWrite) || has_all(granted, kWriteRights))
		mode |= M_FS_PERMS_MODE_WRITE;
	if ((granted & kGenericExec) || has_all(granted, kExecRights))
		mode |= M_FS_PERMS_MODE_EXEC;
	return mode;
}

const M_fs_perms_entry *perms_entry_for(const M_fs_perms_t *perms, int who, bool is_dir) noexcept
{
	if (perms == nullptr || who < 0 || who > 2)
		return nullptr;
	const M_fs_perms_entry *e = (is_dir && perms->dir[who].isset) ? &perms->dir[who] : &perms->file[who];
	return (!e->isset || e->type == M_FS_PERMS_TYPE_REMOVE) ? nullptr : e;
}

} // namespace m::detail

extern "C" {

M_fs_perms_t *M_fs_perms_create(void)
{
	return static_cast<M_fs_perms_t *>(M_malloc_zero(sizeof(M_fs_perms_t)));
}

M_fs_perms_t *M_fs_perms_dup(const M_fs_perms_t *perms)
{
	if (perms == nullptr)
		return nullptr;
	M_fs_perms_t *d = M_fs_perms_create();
	*d              = *perms;
	d->user         = M_strdup(perms->user);
	d->group        = M_strdup(perms->group);
	return d;
}

void M_fs_perms_destroy(M_fs_perms_t *perms)
{
	if (perms == nullptr)
		return;
	M_free(perms->user);
	M_free(perms->group);
	M_free(perms);
}

void M_fs_perms_merge(M_fs_perms_t **dest, M_fs_perms_t *src)
{
	if (src == nullptr)
		return;
	if (dest == nullptr) {
		M_fs_perms_destroy(src);
		return;
	}
	if (*dest == nullptr) {
		*dest = src;
		return;
	}

	M_fs_perms_t *d = *dest;
	/* The account and its name travel together: on this host the name is
     * what identifies the owner, so a merged id without its name would make
     * the object describe an owner it cannot name. */
	if (src->user != nullptr) {
		M_free(d->user);
		d->user = src->user;
		m::detail::copy_user_account(*d, *src);
		src->user = nullptr;
	}
	if (src->group != nullptr) {
		M_free(d->group);
		d->group = src->group;
		m::detail::copy_group_account(*d, *src);
		src->group = nullptr;
	}
	for (size_t i = 0; i < 3; i++) {
		merge_entry(&d->file[i], &src->file[i]);
		merge_entry(&d->dir[i], &src->dir[i]);
	}
	M_fs_perms_destroy(src);
}

const char *M_fs_perms_get_user(const M_fs_perms_t *perms)
{
	return perms == nullptr ? nullptr : perms->user;
}

const char *M_fs_perms_get_group(const M_fs_perms_t *perms)
{
	return perms == nullptr ? nullptr : perms->group;
}

void M_fs_perms_set_mode(M_fs_perms_t *perms, uint32_t mode, M_fs_perms_who_t who, M_fs_perms_type_t type)
{
	if (perms == nullptr || !who_ok(who) || !type_ok(type))
		return;
	set_entry(&perms->file[who], mode, type);
}

void M_fs_perms_set_dir_mode(M_fs_perms_t *perms, uint32_t mode, M_fs_perms_who_t who, M_fs_perms_type_t type)
{
	if (perms == nullptr || !who_ok(who) || !type_ok(type))
		return;
	set_entry(&perms->dir[who], mode, type);
}

uint32_t M_fs_perms_get_mode(const M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	return (perms == nullptr || !who_ok(who)) ? 0 : perms->file[who].mode;
}

M_fs_perms_type_t M_fs_perms_get_type(const M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	return (perms == nullptr || !who_ok(who)) ? M_FS_PERMS_TYPE_EXACT : perms->file[who].type;
}

M_bool M_fs_perms_get_isset(const M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	return (perms == nullptr || !who_ok(who)) ? M_FALSE : perms->file[who].isset;
}

uint32_t M_fs_perms_get_dir_mode(const M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	return (perms == nullptr || !who_ok(who)) ? 0 : perms->dir[who].mode;
}

M_fs_perms_type_t M_fs_perms_get_dir_type(const M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	return (perms == nullptr || !who_ok(who)) ? M_FS_PERMS_TYPE_EXACT : perms->dir[who].type;
}

M_bool M_fs_perms_get_dir_isset(const M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	return (perms == nullptr || !who_ok(who)) ? M_FALSE : perms->dir[who].isset;
}

void M_fs_perms_unset_mode(M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	if (perms == nullptr || !who_ok(who))
		return;
	perms->file[who] = M_fs_perms_entry{M_FALSE, 0, M_FS_PERMS_TYPE_EXACT};
	perms->dir[who]  = M_fs_perms_entry{M_FALSE, 0, M_FS_PERMS_TYPE_EXACT};
}

void M_fs_perms_unset_dir_mode(M_fs_perms_t *perms, M_fs_perms_who_t who)
{
	if (perms == nullptr || !who_ok(who))
		return;
	perms->dir[who] = M_fs_perms_entry{M_FALSE, 0, M_FS_PERMS_TYPE_EXACT};
}

} // extern "C"
