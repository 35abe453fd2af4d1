/* File information on Windows: the directory entry (FindFirstFileA) of a
 * path, or GetFileInformationByHandle for an open file, and the owner, the
 * group and the access list from the file's security descriptor.
 *
 * type     M_FS_TYPE_DIR with FILE_ATTRIBUTE_DIRECTORY, else M_FS_TYPE_FILE;
 * hidden   FILE_ATTRIBUTE_HIDDEN;
 * times    last access, last write, and the creation time for both ctime
 *          and btime (a zero FILETIME gives 0).
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <aclapi.h>

#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"

namespace {

int64_t ticks(const FILETIME &ft) noexcept
{
	return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

M_time_t time_of(int64_t t) noexcept
{
	if (t == 0)
		return 0;
	M_time_filetime_t ft;
	M_time_filetime_from_int64(t, &ft);
	return M_time_from_filetime(&ft);
}

/* Wildcards would make FindFirstFileA report some other entry. */
bool has_wildcard(const char *path) noexcept
{
	return M_str_chr(path, '*') != nullptr || M_str_chr(path, '?') != nullptr;
}

/* The owner, group and access list of a named file or an open handle
 * (read(what, &descriptor) returns a Windows error); NULL descriptor with
 * M_FS_INFO_FLAG_BASIC. The descriptor goes with LocalFree. */
template <typename Read>
M_fs_error_t build_with_security(M_fs_info_t **info, uint32_t flags, uint32_t attrs, uint64_t size, const FILETIME &at,
                                 const FILETIME &wt, const FILETIME &ct, Read read) noexcept
{
	PSECURITY_DESCRIPTOR sd = nullptr;
	if (!(flags & M_FS_INFO_FLAG_BASIC)) {
		const DWORD err =
		    read(OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sd);
		if (err != ERROR_SUCCESS)
			return M_fs_error_from_syserr(err);
	}
	const M_fs_error_t res = m::detail::info_build(info, attrs, size, ticks(at), ticks(wt), ticks(ct), sd, flags);
	if (sd != nullptr)
		LocalFree(sd);
	return res;
}

} // namespace

namespace m::detail {

M_fs_error_t info_build(M_fs_info_t **out, uint32_t attributes, uint64_t size, int64_t atime, int64_t mtime,
                        int64_t ctime, void *descriptor, uint32_t flags) noexcept
{
	M_fs_info_t *info = M_fs_info_create();
	info->type        = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? M_FS_TYPE_DIR : M_FS_TYPE_FILE;
	info->hidden      = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
	info->size        = size;
	info->atime       = time_of(atime);
	info->mtime       = time_of(mtime);
	info->ctime       = time_of(ctime);
	info->btime       = info->ctime;
	if (!(flags & M_FS_INFO_FLAG_BASIC)) {
		M_fs_perms_t      *perms = nullptr;
		const M_fs_error_t res   = perms_from_descriptor(descriptor, &perms);
		if (res != M_FS_ERROR_SUCCESS) {
			M_fs_info_destroy(info);
			return res;
		}
		info_take_perms(info, perms);
	}
	*out = info;
	return M_FS_ERROR_SUCCESS;
}

} // namespace m::detail

M_fs_error_t m::detail::info_path_sys(M_fs_info_t **info, const char *path, uint32_t flags) noexcept
{
	return with_info_path(path, [&](const char *norm) {
		if (has_wildcard(norm))
			return M_FS_ERROR_INVALID;
		const m::detail::wide_path wide(norm);
		if (wide.p == nullptr)
			return M_FS_ERROR_INVALID;
		WIN32_FIND_DATAW entry;
		HANDLE           find = FindFirstFileW(wide.p, &entry);
		if (find == INVALID_HANDLE_VALUE)
			return last_error();
		FindClose(find);
		if (info == nullptr)
			return M_FS_ERROR_SUCCESS;
		const uint64_t size = (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
		return build_with_security(
		    info, flags, entry.dwFileAttributes, size, entry.ftLastAccessTime, entry.ftLastWriteTime,
		    entry.ftCreationTime, [&](SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR *sd) {
			    return GetNamedSecurityInfoW(wide.p, SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, sd);
		    });
	});
}

extern "C" {

M_fs_error_t M_fs_info_file(M_fs_info_t **info, M_fs_file_t *fd, uint32_t flags)
{
	if (info != nullptr)
		*info = nullptr;
	if (fd == nullptr || fd->handle == INVALID_HANDLE_VALUE || fd->handle == nullptr)
		return M_FS_ERROR_INVALID;
	if (info == nullptr)
		return M_FS_ERROR_SUCCESS;

	BY_HANDLE_FILE_INFORMATION hi;
	if (!GetFileInformationByHandle(fd->handle, &hi))
		return m::detail::last_error();
	const uint64_t size = (static_cast<uint64_t>(hi.nFileSizeHigh) << 32) | hi.nFileSizeLow;
	return build_with_security(info, flags, hi.dwFileAttributes, size, hi.ftLastAccessTime, hi.ftLastWriteTime,
	                           hi.ftCreationTime, [&](SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR *sd) {
		                           return GetSecurityInfo(fd->handle, SE_FILE_OBJECT, what, nullptr, nullptr, nullptr,
		                                                  nullptr, sd);
	                           });
}

} // extern "C"
