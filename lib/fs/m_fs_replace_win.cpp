/* The replace's system primitives on Windows (m_fs_replace_int.h).
 *
 * The output's folder is opened when the replace begins and held without
 * sharing deletion, so nobody can move, rename or delete it until the
 * replace ends; the temporary file is created there, flushed, given the
 * old file's access list and renamed over the output by its own handle
 * (FileRenameInfo), so the name moved is the file written. A failure or a
 * console event that ends the process deletes the temporary file by its
 * handle too.
 *
 * Reading the path: "~" and "%NAME%" or "$NAME" components are expanded as
 * M_fs_path_norm does; the rest is the system's (GetFullPathNameW): it
 * makes the path absolute, takes out "." and "..", and turns a device name
 * such as NUL or CON into its device path \\.\NUL. "\\.\" followed by a
 * drive letter and a path (\\.\C:\data\old.gpg) names a file like any
 * other; every other "\\.\" path is a device. A path that ends with a
 * separator names a folder and fails, as creating a file there would.
 *
 * The names are the system's ANSI names (those CreateFileA takes elsewhere
 * in the library, UTF-8 in programs whose manifest says so), widened for
 * the wide calls with the ANSI code page.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <aclapi.h>

#include <algorithm>

#include "fs/m_fs_replace_int.h"

#include "core/m_str.h"
#include "sys/m_rand.h"

using m::detail::last_error;
using m::detail::ReplaceFacts;
using m::detail::ReplaceFound;

/* One replace: the held folder, the target, the open device. */
struct m::detail::ReplaceSys {
	wchar_t *target;      /* the target's full path */
	wchar_t *tmp;         /* the temporary file's, once created */
	HANDLE   folder;      /* held without FILE_SHARE_DELETE; NULL for a device */
	HANDLE   device;      /* a device opened by the check; NULL before */
	HANDLE   own;         /* ReplaceFound::Own: the standard handle */
	bool     device_path; /* a "\\.\" device name */
};

namespace {

/* Longest part of the file name copied into the temporary name. */
constexpr size_t kTmpNameKeep = 200;

/* Attempts at a temporary name not taken yet. */
constexpr int kTmpTries = 100;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/* The temporary file's handle while it may be deleted, for the control
 * handler, under the lock (the handler runs on a thread of its own). */
SRWLOCK g_lock = SRWLOCK_INIT;
HANDLE  g_tmp  = nullptr;

/* Mark the open file h deleted when its last handle closes. */
void delete_on_close(HANDLE h) noexcept
{
	FILE_DISPOSITION_INFO gone = {TRUE};
	(void)SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof(gone));
}

/* A console event that ends the process: the temporary file goes, then
 * the next handler (normally the one that ends the process) has the
 * event. */
BOOL WINAPI on_control(DWORD)
{
	AcquireSRWLockExclusive(&g_lock);
	if (g_tmp != nullptr)
		delete_on_close(g_tmp); /* gone when the ending process closes it */
	g_tmp = nullptr;
	ReleaseSRWLockExclusive(&g_lock);
	return FALSE;
}

/* Whether a path names something M_fs_path_norm would expand: "~" first, or
 * a component that begins with "%" or "$". */
bool needs_expansion(const char *path) noexcept
{
	if (path[0] == '~' && (path[1] == '\0' || path[1] == '\\' || path[1] == '/'))
		return true;
	for (const char *p = path; *p != '\0'; p++) {
		if ((*p == '%' || *p == '$') && (p == path || p[-1] == '\\' || p[-1] == '/'))
			return true;
	}
	return false;
}

/* The target's full wide path as the system resolves it (above). */
M_fs_error_t target_path(const char *path, wchar_t **full) noexcept
{
	*full            = nullptr;
	const size_t len = M_str_len(path);
	if (path[len - 1] == '\\' || path[len - 1] == '/') {
		SetLastError(ERROR_INVALID_NAME);
		return last_error();
	}
	char *expanded = nullptr;
	if (needs_expansion(path)) {
		const M_fs_error_t res = M_fs_path_norm(&expanded, path, M_FS_PATH_NORM_HOME, M_FS_SYSTEM_WINDOWS);
		if (res != M_FS_ERROR_SUCCESS)
			return res;
	}
	wchar_t *given = m::detail::acp_to_wide(expanded != nullptr ? expanded : path);
	M_free(expanded);
	if (given == nullptr)
		return M_FS_ERROR_INVALID;
	const DWORD n = GetFullPathNameW(given, 0, nullptr, nullptr);
	if (n > 0) {
		*full = static_cast<wchar_t *>(M_malloc_zero(n * sizeof(wchar_t)));
		if (GetFullPathNameW(given, n, *full, nullptr) >= n) {
			M_free(*full);
			*full = nullptr;
		}
	}
	M_fs_error_t res = M_FS_ERROR_SUCCESS;
	*full            = m::detail::long_form(*full); /* beyond MAX_PATH: \\?\ */
	if (*full == nullptr) {
		res = last_error();
		res = res == M_FS_ERROR_SUCCESS ? M_FS_ERROR_GENERIC : res;
	}
	M_free(given);
	return res;
}

/* A device path: "\\.\" not followed by a drive letter, a colon and a
 * separator. */
bool is_device_path(const wchar_t *p) noexcept
{
	if (p == nullptr || !(p[0] == L'\\' && p[1] == L'\\' && p[2] == L'.' && p[3] == L'\\'))
		return false;
	const wchar_t d = p[4];
	return !(((d >= L'A' && d <= L'Z') || (d >= L'a' && d <= L'z')) && p[5] == L':' && p[6] == L'\\');
}

/* Which file an open handle is: its volume and file ID (FileIdInfo, the
 * 128-bit ID; GetFileInformationByHandle's 64-bit index where that is not
 * answered), with its size and last write. */
struct Identity {
	uint64_t volume;
	uint64_t id[2];
	uint64_t size;
	int64_t  written;
};

bool identity_of(HANDLE h, Identity *who) noexcept
{
	*who = {};
	FILE_ID_INFO               fi;
	BY_HANDLE_FILE_INFORMATION hi;
	FILE_BASIC_INFO            basic;
	FILE_STANDARD_INFO         standard;
	if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK ||
	    !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof(basic)) ||
	    !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof(standard)))
		return false;
	who->size    = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
	who->written = basic.LastWriteTime.QuadPart;
	if (GetFileInformationByHandleEx(h, FileIdInfo, &fi, sizeof(fi))) {
		who->volume = fi.VolumeSerialNumber;
		M_mem_copy(who->id, fi.FileId.Identifier, sizeof(who->id));
	} else if (GetFileInformationByHandle(h, &hi)) {
		who->volume = hi.dwVolumeSerialNumber;
		who->id[0]  = (static_cast<uint64_t>(hi.nFileIndexHigh) << 32) | hi.nFileIndexLow;
	} else {
		return false;
	}
	return true;
}

/* Whether two identities are one file. A volume of 0 is one the system did
 * not tell (Wine's, for a handle it took over from its host): then the size
 * and the last write must agree as well. */
bool same(const Identity &a, const Identity &b) noexcept
{
	if (a.id[0] != b.id[0] || a.id[1] != b.id[1])
		return false;
	if (a.volume != 0 && b.volume != 0)
		return a.volume == b.volume;
	return a.size == b.size && a.written == b.written;
}

/* The identity of what a path names, links followed. */
bool identity(const wchar_t *path, Identity *who) noexcept
{
	HANDLE h =
	    CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE)
		return false;
	const bool ok = identity_of(h, who);
	CloseHandle(h);
	return ok;
}

/* The standard output or error handle open on the same disk file as path;
 * nullptr when there is none. */
HANDLE stream_on(const wchar_t *path) noexcept
{
	static constexpr DWORD kStd[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
	Identity               target;
	if (!identity(path, &target))
		return nullptr;
	for (const DWORD which : kStd) {
		const HANDLE h = GetStdHandle(which);
		Identity     stream;
		if (identity_of(h, &stream) && same(stream, target))
			return h;
	}
	return nullptr;
}

/* Open the folder of the target and hold it: shared for reading and
 * writing (files come and go in it) but not for deletion, which is what a
 * move or a delete of the folder needs. */
M_fs_error_t hold_folder(m::detail::ReplaceSys *s) noexcept
{
	const wchar_t *slash = s->target != nullptr ? wcsrchr(s->target, L'\\') : nullptr;
	if (slash == nullptr) { /* a full path always has one */
		SetLastError(ERROR_INVALID_NAME);
		return last_error();
	}
	size_t len = static_cast<size_t>(slash - s->target);
	/* The root keeps its separator: "C:\", "\\.\C:\". */
	if (len > 0 && s->target[len - 1] == L':')
		len++;
	auto *dir = static_cast<wchar_t *>(M_malloc_zero((len + 1) * sizeof(wchar_t)));
	M_mem_copy(dir, s->target, len * sizeof(wchar_t));
	s->folder = CreateFileW(dir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
	                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	M_free(dir);
	if (s->folder != INVALID_HANDLE_VALUE)
		return M_FS_ERROR_SUCCESS;
	s->folder = nullptr;
	return last_error();
}

/* Create "<folder>\.<name>.<six random letters>" exclusively, sharing only
 * deletion; its name goes to s->tmp. */
HANDLE create_temp(m::detail::ReplaceSys *s, M_fs_error_t *res) noexcept
{
	const wchar_t *slash = wcsrchr(s->target, L'\\');
	const size_t   dir   = static_cast<size_t>(slash - s->target);
	const size_t   keep  = std::min(wcslen(slash + 1), kTmpNameKeep);
	const size_t   room  = dir + keep + 10; /* "\." "." six letters, NUL */
	HANDLE         h     = INVALID_HANDLE_VALUE;
	*res                 = M_FS_ERROR_GENERIC;
	for (int i = 0; i < kTmpTries && h == INVALID_HANDLE_VALUE; i++) {
		M_free(s->tmp);
		s->tmp = static_cast<wchar_t *>(M_malloc_zero(room * sizeof(wchar_t)));
		M_mem_copy(s->tmp, s->target, dir * sizeof(wchar_t));
		wchar_t *p = s->tmp + dir;
		*p++       = L'\\';
		*p++       = L'.';
		M_mem_copy(p, slash + 1, keep * sizeof(wchar_t));
		p += keep;
		*p++ = L'.';
		for (size_t k = 0; k < 6; k++)
			*p++ = static_cast<wchar_t>(L'a' + M_rand_max(nullptr, 26));
		h = CreateFileW(s->tmp, GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC, FILE_SHARE_DELETE,
		                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE) {
			*res = last_error();
			if (*res != M_FS_ERROR_FILE_EXISTS)
				break;
		}
	}
	if (h != INVALID_HANDLE_VALUE)
		*res = M_FS_ERROR_SUCCESS;
	return h;
}

/* Give the open temporary file the access list of the file it replaces,
 * protected from inheritance as that one is, or taking what the folder
 * passes on as that one does. An old file whose list cannot be read (no
 * right to read it) leaves the new one with the folder's. */
M_fs_error_t copy_access_list(HANDLE tmp, const wchar_t *old) noexcept
{
	PACL                 dacl = nullptr;
	PSECURITY_DESCRIPTOR sd   = nullptr;
	if (GetNamedSecurityInfoW(old, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
	    ERROR_SUCCESS)
		return M_FS_ERROR_SUCCESS;
	SECURITY_DESCRIPTOR_CONTROL control  = 0;
	DWORD                       revision = 0;
	SECURITY_INFORMATION        which    = DACL_SECURITY_INFORMATION;
	if (GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED))
		which |= PROTECTED_DACL_SECURITY_INFORMATION;
	else
		which |= UNPROTECTED_DACL_SECURITY_INFORMATION;
	const DWORD err = SetSecurityInfo(tmp, SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
	LocalFree(sd);
	return M_fs_error_from_syserr(err);
}

/* Rename the open file h to target, replacing what is there. */
bool rename_by_handle(HANDLE h, const wchar_t *target) noexcept
{
	const size_t len      = wcslen(target);
	const size_t size     = sizeof(FILE_RENAME_INFO) + len * sizeof(wchar_t);
	auto        *info     = static_cast<FILE_RENAME_INFO *>(M_malloc_zero(size));
	info->ReplaceIfExists = TRUE;
	info->FileNameLength  = static_cast<DWORD>(len * sizeof(wchar_t));
	M_mem_copy(info->FileName, target, len * sizeof(wchar_t));
	const bool ok = SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(size)) != 0;
	M_free(info);
	return ok;
}

} // namespace

M_fs_error_t m::detail::replace_resolve(const char *path, ReplaceSys **sys) noexcept
{
	auto        *s   = static_cast<ReplaceSys *>(M_malloc_zero(sizeof(ReplaceSys)));
	M_fs_error_t res = target_path(path, &s->target);
	if (res == M_FS_ERROR_SUCCESS) {
		s->device_path = is_device_path(s->target);
		if (!s->device_path)
			res = hold_folder(s);
	}
	if (res != M_FS_ERROR_SUCCESS) {
		replace_release(s);
		s = nullptr;
	}
	*sys = s;
	return res;
}

ReplaceFacts m::detail::replace_examine(ReplaceSys *s) noexcept
{
	ReplaceFacts f = {ReplaceFound::Device, M_FS_ERROR_SUCCESS, true, M_FS_ERROR_SUCCESS};
	if (s->device_path)
		return f;
	const DWORD at = GetFileAttributesW(s->target);
	if (at != INVALID_FILE_ATTRIBUTES && (at & FILE_ATTRIBUTE_DIRECTORY)) {
		f.found = ReplaceFound::Dir;
		return f;
	}
	HANDLE h = CreateFileW(s->target, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE) {
		f.found = ReplaceFound::Nothing;
		if (GetLastError() != ERROR_FILE_NOT_FOUND)
			f.err = last_error();
		return f;
	}
	const DWORD type = GetFileType(h);
	CloseHandle(h);
	if (type != FILE_TYPE_DISK)
		return f;
	s->own  = stream_on(s->target);
	f.found = s->own != nullptr ? ReplaceFound::Own : ReplaceFound::File;
	if (at != INVALID_FILE_ATTRIBUTES && (at & FILE_ATTRIBUTE_READONLY)) {
		/* Refused as the system would refuse to write it, with its reason. */
		SetLastError(ERROR_ACCESS_DENIED);
		f.access = last_error();
	}
	return f;
}

M_fs_error_t m::detail::replace_refusal(ReplaceRefusal) noexcept
{
	SetLastError(ERROR_ACCESS_DENIED);
	return last_error();
}

M_fs_error_t m::detail::replace_device_check(ReplaceSys *s) noexcept
{
	/* Opened now: a console that is not there, a pipe with no server, a
	 * device that refuses writing all fail before anything is produced. */
	s->device = CreateFileW(s->target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
	                        FILE_ATTRIBUTE_NORMAL, nullptr);
	if (s->device != INVALID_HANDLE_VALUE)
		return M_FS_ERROR_SUCCESS;
	s->device = nullptr;
	return last_error();
}

M_fs_error_t m::detail::replace_target_open(ReplaceSys *s, M_fs_file_t **file) noexcept
{
	const M_fs_error_t res = s->device == nullptr ? replace_device_check(s) : M_FS_ERROR_SUCCESS;
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	*file     = file_wrap(s->device, true, nullptr);
	s->device = nullptr;
	return M_FS_ERROR_SUCCESS;
}

M_fs_file_t *m::detail::replace_own(ReplaceSys *s) noexcept
{
	return file_wrap(s->own, false, nullptr);
}

M_fs_error_t m::detail::replace_temp_create(ReplaceSys *s, M_fs_file_t **file) noexcept
{
	M_fs_error_t res = M_FS_ERROR_SUCCESS;
	HANDLE       h   = create_temp(s, &res);
	if (h == INVALID_HANDLE_VALUE)
		return res;
	AcquireSRWLockExclusive(&g_lock);
	g_tmp = h;
	ReleaseSRWLockExclusive(&g_lock);
	*file = file_wrap(h, true, nullptr);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::replace_temp_finish(ReplaceSys *s, M_fs_file_t *file, bool keep) noexcept
{
	const M_fs_error_t res = keep ? copy_access_list(file->handle, s->target) : M_FS_ERROR_SUCCESS;
	return res == M_FS_ERROR_SUCCESS ? file_fsync_sys(file) : res;
}

M_fs_error_t m::detail::replace_folder_check(ReplaceSys *) noexcept
{
	/* The folder is held against moving and deletion. */
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::replace_temp_rename(ReplaceSys *s, M_fs_file_t **file, bool *busy) noexcept
{
	*busy            = false;
	M_fs_error_t res = M_FS_ERROR_SUCCESS;
	AcquireSRWLockExclusive(&g_lock);
	if (g_tmp == nullptr) {
		/* The control handler deleted it: the process is ending. */
		SetLastError(ERROR_OPERATION_ABORTED);
		res = last_error();
	} else if (rename_by_handle(g_tmp, s->target)) {
		g_tmp = nullptr; /* in place: nothing left to delete */
	} else {
		res = last_error();
	}
	ReleaseSRWLockExclusive(&g_lock);
	if (res == M_FS_ERROR_SUCCESS) {
		M_fs_file_close(*file);
		*file = nullptr;
	}
	return res;
}

M_fs_error_t m::detail::replace_temp_open_read(ReplaceSys *, M_fs_file_t **) noexcept
{
	/* No mount point here: a rename is never refused as busy. */
	return M_FS_ERROR_NOT_SUPPORTED;
}

void m::detail::replace_temp_remove(ReplaceSys *, M_fs_file_t *file) noexcept
{
	AcquireSRWLockExclusive(&g_lock);
	if (g_tmp != nullptr && file != nullptr && file->handle == g_tmp)
		delete_on_close(g_tmp);
	g_tmp = nullptr;
	ReleaseSRWLockExclusive(&g_lock);
}

void m::detail::replace_guard(bool on) noexcept
{
	(void)SetConsoleCtrlHandler(on_control, on ? TRUE : FALSE);
}

void m::detail::replace_release(ReplaceSys *s) noexcept
{
	if (s == nullptr)
		return;
	if (s->folder != nullptr)
		CloseHandle(s->folder);
	if (s->device != nullptr)
		CloseHandle(s->device);
	M_free(s->tmp);
	M_free(s->target);
	M_free(s);
}

bool m::detail::replace_reaches(const char *path, const char *other) noexcept
{
	wchar_t *full = nullptr;
	Identity target;
	if (target_path(path, &full) != M_FS_ERROR_SUCCESS || !identity(full, &target)) {
		M_free(full);
		return false;
	}
	M_free(full);
	return with_info_path(other, [&](const char *norm) {
		       Identity   input;
		       wchar_t   *wide    = m::detail::long_form(m::detail::acp_to_wide(norm));
		       const bool reached = wide != nullptr && identity(wide, &input) && same(input, target);
		       M_free(wide);
		       return reached ? M_FS_ERROR_SUCCESS : M_FS_ERROR_GENERIC;
	       }) == M_FS_ERROR_SUCCESS;
}

bool m::detail::replace_reaches_stream(const char *path, M_fs_iostream_t stream) noexcept
{
	Identity input;
	Identity target;
	wchar_t *full = nullptr;
	if (!identity_of(file_std_handle(stream), &input) || target_path(path, &full) != M_FS_ERROR_SUCCESS)
		return false;
	const bool found = identity(full, &target);
	M_free(full);
	return found && same(input, target);
}
