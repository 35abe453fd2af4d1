/* File information object: storage, getters and setters, and the argument
 * checks of reading it.
 *
 * Reading information from the host lives in m_fs_info_posix.cpp and
 * m_fs_info_win.cpp.
 */
#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

void m::detail::info_take_perms(M_fs_info_t *info, M_fs_perms_t *perms) noexcept
{
	info->user  = M_strdup(perms->user);
	info->group = M_strdup(perms->group);
	info->perms = perms;
}

extern "C" {

M_fs_error_t M_fs_info(M_fs_info_t **info, const char *path, uint32_t flags)
{
	if (info != nullptr)
		*info = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	return m::detail::info_path_sys(info, path, flags);
}

M_fs_info_t *M_fs_info_create(void)
{
	return static_cast<M_fs_info_t *>(M_malloc_zero(sizeof(M_fs_info_t)));
}

void M_fs_info_destroy(M_fs_info_t *info)
{
	if (info == nullptr)
		return;
	M_free(info->user);
	M_free(info->group);
	M_fs_perms_destroy(info->perms);
	M_free(info);
}

const char *M_fs_info_get_user(const M_fs_info_t *info)
{
	return info == nullptr ? nullptr : info->user;
}

const char *M_fs_info_get_group(const M_fs_info_t *info)
{
	return info == nullptr ? nullptr : info->group;
}

M_fs_type_t M_fs_info_get_type(const M_fs_info_t *info)
{
	return info == nullptr ? M_FS_TYPE_UNKNOWN : info->type;
}

M_bool M_fs_info_get_ishidden(const M_fs_info_t *info)
{
	return info == nullptr ? M_FALSE : info->hidden;
}

uint64_t M_fs_info_get_size(const M_fs_info_t *info)
{
	return info == nullptr ? 0 : info->size;
}

M_time_t M_fs_info_get_atime(const M_fs_info_t *info)
{
	return info == nullptr ? 0 : info->atime;
}

M_time_t M_fs_info_get_mtime(const M_fs_info_t *info)
{
	return info == nullptr ? 0 : info->mtime;
}

M_time_t M_fs_info_get_ctime(const M_fs_info_t *info)
{
	return info == nullptr ? 0 : info->ctime;
}

M_time_t M_fs_info_get_btime(const M_fs_info_t *info)
{
	return info == nullptr ? 0 : info->btime;
}

const M_fs_perms_t *M_fs_info_get_perms(const M_fs_info_t *info)
{
	return info == nullptr ? nullptr : info->perms;
}

void M_fs_info_set_user(M_fs_info_t *info, const char *user)
{
	if (info == nullptr)
		return;
	char *copy = M_strdup(user); /* copy first: user may be info->user itself */
	M_free(info->user);
	info->user = copy;
}

void M_fs_info_set_group(M_fs_info_t *info, const char *group)
{
	if (info == nullptr)
		return;
	char *copy = M_strdup(group);
	M_free(info->group);
	info->group = copy;
}

void M_fs_info_set_type(M_fs_info_t *info, M_fs_type_t type)
{
	if (info != nullptr)
		info->type = type;
}

void M_fs_info_set_hidden(M_fs_info_t *info, M_bool hidden)
{
	if (info != nullptr)
		info->hidden = hidden;
}

void M_fs_info_set_size(M_fs_info_t *info, uint64_t size)
{
	if (info != nullptr)
		info->size = size;
}

void M_fs_info_set_atime(M_fs_info_t *info, M_time_t val)
{
	if (info != nullptr)
		info->atime = val;
}

void M_fs_info_set_mtime(M_fs_info_t *info, M_time_t val)
{
	if (info != nullptr)
		info->mtime = val;
}

void M_fs_info_set_ctime(M_fs_info_t *info, M_time_t val)
{
	if (info != nullptr)
		info->ctime = val;
}

void M_fs_info_set_btime(M_fs_info_t *info, M_time_t val)
{
	if (info != nullptr)
		info->btime = val;
}

void M_fs_info_set_perms(M_fs_info_t *info, M_fs_perms_t *perms)
{
	if (info == nullptr) {
		M_fs_perms_destroy(perms);
		return;
	}
	if (info->perms != perms)
		M_fs_perms_destroy(info->perms);
	info->perms = perms;
}

} // extern "C"
