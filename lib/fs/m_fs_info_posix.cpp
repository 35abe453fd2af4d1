/* File information on POSIX: stat/fstat, with the creation time from statx
 * where the file system records one.
 */
#include "fs/m_fs_int.h"
#include "fs/m_platform_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

/* Creation time of a file, or 0 when the system or file system does not
 * record it (statx may also be missing or filtered out). */
M_time_t birth_time(int dirfd, const char *path, int flags) noexcept
{
#if defined(STATX_BTIME)
	struct statx stx;
	if (::statx(dirfd, path, flags | AT_STATX_SYNC_AS_STAT, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME)) {
		return static_cast<M_time_t>(stx.stx_btime.tv_sec);
	}
#else
	(void)dirfd;
	(void)path;
	(void)flags;
#endif
	return 0;
}

/* True when the last component of name begins with "." (and is not "." or
 * "..", which only name a directory relative to another). */
bool name_is_hidden(const char *name) noexcept
{
	if (M_str_isempty(name))
		return false;
	const char *last = name;
	for (const char *p = name; *p != '\0'; p++) {
		if (*p == '/' && p[1] != '\0')
			last = p + 1;
	}
	if (last[0] != '.')
		return false;
	if (last[1] == '\0' || last[1] == '/')
		return false;
	if (last[1] == '.' && (last[2] == '\0' || last[2] == '/'))
		return false;
	return true;
}

} // namespace

namespace m::detail {

M_fs_info_t *info_from_stat(const struct stat &st, const char *name, M_time_t btime, uint32_t flags) noexcept
{
	M_fs_info_t *info = M_fs_info_create();
	info->type        = S_ISDIR(st.st_mode) ? M_FS_TYPE_DIR : M_FS_TYPE_FILE;
	info->hidden      = name_is_hidden(name);
	info->size        = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
	info->atime       = static_cast<M_time_t>(st.st_atim.tv_sec);
	info->mtime       = static_cast<M_time_t>(st.st_mtim.tv_sec);
	/* ctime is the creation time, as btime is. Only where the file system
     * records no creation time does ctime fall back to the status-change
     * time, the nearest this host has (btime then stays 0). */
	info->ctime = btime != 0 ? btime : static_cast<M_time_t>(st.st_ctim.tv_sec);
	info->btime = btime;

	if (!(flags & M_FS_INFO_FLAG_BASIC)) {
		info_take_perms(info, perms_from_stat(st));
	}
	return info;
}

} // namespace m::detail

M_fs_error_t m::detail::info_path_sys(M_fs_info_t **info, const char *path, uint32_t flags) noexcept
{
	return with_info_stat(path, [&](const char *norm, const struct stat &st) {
		if (info != nullptr)
			*info = info_from_stat(st, norm, birth_time(AT_FDCWD, norm, 0), flags);
		return M_FS_ERROR_SUCCESS;
	});
}

extern "C" {

M_fs_error_t M_fs_info_file(M_fs_info_t **info, M_fs_file_t *fd, uint32_t flags)
{
	if (info != nullptr)
		*info = nullptr;
	if (fd == nullptr || fd->handle < 0)
		return M_FS_ERROR_INVALID;
	if (info == nullptr)
		return M_FS_ERROR_SUCCESS;

	struct stat st;
	if (::fstat(fd->handle, &st) != 0)
		return m::detail::last_error();
	*info = m::detail::info_from_stat(st, fd->path, birth_time(fd->handle, "", AT_EMPTY_PATH), flags);
	return M_FS_ERROR_SUCCESS;
}

} // extern "C"
