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

} // namespace

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
