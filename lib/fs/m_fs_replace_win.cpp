/* Replacing a file on Windows (m_fs_replace.h): a temporary file in the
 * output's folder, created when the replace begins, written as the data
 * comes and flushed to the device, given the old file's access list, then
 * moved over the output with MoveFileExW (MOVEFILE_REPLACE_EXISTING |
 * MOVEFILE_WRITE_THROUGH), so the path shows the old content or the new,
 * never a mix. On any failure the temporary file is deleted and the output
 * keeps what it had.
 *
 * Reading the path: "~" and "%NAME%" or "$NAME" components are expanded as
 * M_fs_path_norm does; the rest is the system's (GetFullPathNameW): it
 * makes the path absolute, takes out "." and "..", and turns a device name
 * such as NUL or CON into its device path \\.\NUL. A path that ends with a
 * separator names a folder and fails, as creating a file there would.
 *
 * What is at the path decides how it is written:
 *   - nothing, or a file on a disk: replaced through the temporary file,
 *     which an existing file's access list (DACL, with its protection from
 *     inheritance) is copied to before the move, so the output keeps who
 *     may read it; a new output gets what the folder passes on. Other
 *     names of a hard-linked file keep the old content.
 *   - the file a standard output or error handle of the process is open on
 *     (the program's output redirected to the same file): written to that
 *     handle, at its position; nothing is moved over it, as the handle's
 *     opener shares no deletion.
 *   - a file marked read-only, or a folder: M_FS_ERROR_PERMISSION, nothing
 *     changes;
 *   - a device (NUL, CON, a named pipe, anything under \\.\) or anything
 *     that is no disk file: written directly, as a stream; nothing is moved
 *     over it. It is opened by the first write, or by the commit when
 *     nothing was written.
 *
 * Interruption. From the begin to the commit or cancel, a console control
 * handler deletes the temporary file on Ctrl+C, Ctrl+Break and the closing
 * of the console, and lets the process end as it would have. The file is
 * opened sharing deletion only, so the handler can delete it while it is
 * open; a lock keeps the handler and the move from crossing. A process
 * ended outright (TerminateProcess, a power cut; logoff and shutdown too
 * when it has loaded user32.dll, as the system then calls no console
 * handler for them) may leave the temporary file; the output itself is
 * never damaged.
 *
 * The names are the system's ANSI names (those CreateFileA takes elsewhere
 * in the library, UTF-8 in programs whose manifest says so), widened for
 * the wide calls with the ANSI code page.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <aclapi.h>

#include "fs/m_fs_replace.h"

#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "sys/m_rand.h"

using m::detail::last_error;

namespace {

/* Longest part of the file name copied into the temporary name. */
constexpr size_t kTmpNameKeep = 200;

/* Attempts at a temporary name not taken yet. */
constexpr int kTmpTries = 100;

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
	HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE)
		return false;
	const bool ok = identity_of(h, who);
	CloseHandle(h);
	return ok;
}

/* The standard handle (output or error) open on the same disk file as
 * path; nullptr when there is none. */
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

/* What is at the path now. */
enum class Kind { Missing, File, ReadOnly, Dir, Device, Stream };

Kind kind_of(const wchar_t *path, M_fs_error_t *err) noexcept
{
	*err = M_FS_ERROR_SUCCESS;
	/* The device namespace: NUL, CON, COM1, named pipes. */
	if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'.' && path[3] == L'\\')
		return Kind::Device;
	const DWORD at = GetFileAttributesW(path);
	if (at != INVALID_FILE_ATTRIBUTES) {
		if (at & FILE_ATTRIBUTE_DIRECTORY)
			return Kind::Dir;
		if (at & FILE_ATTRIBUTE_READONLY)
			return Kind::ReadOnly;
	}
	HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE) {
		if (GetLastError() == ERROR_FILE_NOT_FOUND)
			return Kind::Missing;
		*err = last_error();
		return Kind::Missing;
	}
	const DWORD type = GetFileType(h);
	CloseHandle(h);
	if (type != FILE_TYPE_DISK)
		return Kind::Device;
	return stream_on(path) != nullptr ? Kind::Stream : Kind::File;
}

/* Every byte to an open handle. */
M_fs_error_t write_handle(HANDLE h, const unsigned char *buf, size_t len) noexcept
{
	M_fs_file_t file = {};
	file.handle      = h;
	return M_fs_file_write_all(&file, buf, len);
}

/* Create "<dir>\.<name>.<six random letters>" exclusively, sharing only
 * deletion (for the control handler); its name goes to *tmp (M_free). */
HANDLE create_temp(const wchar_t *full, wchar_t **tmp, M_fs_error_t *res) noexcept
{
	const wchar_t *slash = wcsrchr(full, L'\\');
	const size_t   dir   = static_cast<size_t>(slash - full);
	size_t         keep  = wcslen(slash + 1);
	keep                 = keep < kTmpNameKeep ? keep : kTmpNameKeep;
	const size_t room    = dir + keep + 10; /* "\." "." six letters, NUL */
	HANDLE       h       = INVALID_HANDLE_VALUE;
	*res                 = M_FS_ERROR_GENERIC;
	for (int i = 0; i < kTmpTries && h == INVALID_HANDLE_VALUE; i++) {
		*tmp = static_cast<wchar_t *>(M_malloc_zero(room * sizeof(wchar_t)));
		M_mem_copy(*tmp, full, dir * sizeof(wchar_t));
		wchar_t *p = *tmp + dir;
		*p++       = L'\\';
		*p++       = L'.';
		M_mem_copy(p, slash + 1, keep * sizeof(wchar_t));
		p += keep;
		*p++ = L'.';
		for (size_t k = 0; k < 6; k++)
			*p++ = static_cast<wchar_t>(L'a' + M_rand_max(nullptr, 26));
		h = CreateFileW(*tmp, GENERIC_WRITE | READ_CONTROL | WRITE_DAC, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
		                FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE) {
			*res = last_error();
			M_free(*tmp);
			*tmp = nullptr;
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

/* The one replace of the process, for the control handler: its temporary
 * file's name while it may be deleted, under the lock. */
SRWLOCK        g_lock = SRWLOCK_INIT;
const wchar_t *g_tmp  = nullptr;
bool           g_open = false;

/* Runs on a thread of its own: delete the temporary file, then let the
 * next handler (normally the one that ends the process) have the event. */
BOOL WINAPI on_control(DWORD)
{
	AcquireSRWLockExclusive(&g_lock);
	if (g_tmp != nullptr)
		(void)DeleteFileW(g_tmp);
	g_tmp = nullptr;
	ReleaseSRWLockExclusive(&g_lock);
	return FALSE;
}

} // namespace

/* A replace in progress. */
struct M_fs_replace {
	Kind         kind;
	wchar_t     *target;  /* the target's full path */
	wchar_t     *tmp;     /* the temporary file (Missing, File); NULL else */
	HANDLE       h;       /* the temporary file, the device once opened, or
	                         the standard handle (not ours to close) */
	bool         guarded; /* the control handler is in place */
	M_fs_error_t err;     /* the first write failure, which sticks */
};

namespace {

/* The device opened for its first bytes (never created: it exists). */
M_fs_error_t open_device(M_fs_replace_t *rep) noexcept
{
	if (rep->h != INVALID_HANDLE_VALUE)
		return M_FS_ERROR_SUCCESS;
	rep->h = CreateFileW(rep->target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
	                     FILE_ATTRIBUTE_NORMAL, nullptr);
	return rep->h == INVALID_HANDLE_VALUE ? last_error() : M_FS_ERROR_SUCCESS;
}

/* Close what is ours, delete the temporary file (unless moved), release. */
void release(M_fs_replace_t *rep, bool drop_tmp) noexcept
{
	if (rep->h != INVALID_HANDLE_VALUE && rep->kind != Kind::Stream)
		CloseHandle(rep->h);
	AcquireSRWLockExclusive(&g_lock);
	if (drop_tmp && g_tmp != nullptr)
		(void)DeleteFileW(g_tmp);
	g_tmp = nullptr;
	ReleaseSRWLockExclusive(&g_lock);
	if (rep->guarded)
		(void)SetConsoleCtrlHandler(on_control, FALSE);
	M_free(rep->tmp);
	M_free(rep->target);
	M_free(rep);
	g_open = false;
}

/* Give the temporary file the old one's access list, flush and close it,
 * and move it over the target, unless the control handler has deleted it. */
M_fs_error_t move_into_place(M_fs_replace_t *rep) noexcept
{
	M_fs_error_t res = rep->kind == Kind::File ? copy_access_list(rep->h, rep->target) : M_FS_ERROR_SUCCESS;
	if (res == M_FS_ERROR_SUCCESS && !FlushFileBuffers(rep->h))
		res = last_error();
	if (!CloseHandle(rep->h) && res == M_FS_ERROR_SUCCESS)
		res = last_error();
	rep->h = INVALID_HANDLE_VALUE;
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	AcquireSRWLockExclusive(&g_lock);
	if (g_tmp == nullptr) {
		/* The control handler deleted it: the process is ending. */
		SetLastError(ERROR_OPERATION_ABORTED);
		res = last_error();
	} else if (MoveFileExW(rep->tmp, rep->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
		g_tmp = nullptr; /* moved: nothing left to delete */
	} else {
		res = last_error();
	}
	ReleaseSRWLockExclusive(&g_lock);
	return res;
}

/* Decide how the target is written and, for a file, create the temporary
 * file with the control handler in place. */
M_fs_error_t prepare(M_fs_replace_t *r, const char *path) noexcept
{
	M_fs_error_t res = target_path(path, &r->target);
	if (res == M_FS_ERROR_SUCCESS)
		r->kind = kind_of(r->target, &res);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	if (r->kind == Kind::Dir || r->kind == Kind::ReadOnly) {
		/* Refused as the system would refuse to write it, with its reason. */
		SetLastError(ERROR_ACCESS_DENIED);
		return last_error();
	}
	if (r->kind == Kind::Stream)
		r->h = stream_on(r->target);
	if (r->kind != Kind::Missing && r->kind != Kind::File)
		return M_FS_ERROR_SUCCESS;
	r->guarded = SetConsoleCtrlHandler(on_control, TRUE) != 0;
	r->h       = create_temp(r->target, &r->tmp, &res);
	AcquireSRWLockExclusive(&g_lock);
	g_tmp = r->tmp;
	ReleaseSRWLockExclusive(&g_lock);
	return res;
}

} // namespace

extern "C" {

M_fs_error_t M_fs_replace_begin(M_fs_replace_t **rep, const char *path)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	*rep = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	if (g_open)
		return M_FS_ERROR_GENERIC;
	auto *r                = static_cast<M_fs_replace_t *>(M_malloc_zero(sizeof(M_fs_replace_t)));
	r->h                   = INVALID_HANDLE_VALUE;
	g_open                 = true;
	const M_fs_error_t res = prepare(r, path);
	if (res != M_FS_ERROR_SUCCESS) {
		release(r, true);
		return res;
	}
	*rep = r;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_replace_write(M_fs_replace_t *rep, const unsigned char *buf, size_t len)
{
	if (rep == nullptr || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	if (rep->err == M_FS_ERROR_SUCCESS && rep->kind == Kind::Device)
		rep->err = open_device(rep);
	if (rep->err == M_FS_ERROR_SUCCESS && len > 0)
		rep->err = write_handle(rep->h, buf, len);
	return rep->err;
}

M_fs_error_t M_fs_replace_commit(M_fs_replace_t *rep)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	M_fs_error_t res = rep->err;
	if (res == M_FS_ERROR_SUCCESS && rep->kind == Kind::Device)
		res = open_device(rep); /* nothing written: the device is still opened */
	else if (res == M_FS_ERROR_SUCCESS && rep->kind != Kind::Stream)
		res = move_into_place(rep);
	release(rep, res != M_FS_ERROR_SUCCESS);
	return res;
}

void M_fs_replace_cancel(M_fs_replace_t *rep)
{
	if (rep != nullptr)
		release(rep, true);
}

M_bool M_fs_replace_reaches(const char *path, const char *other)
{
	if (M_str_isempty(path) || M_str_isempty(other))
		return M_FALSE;
	wchar_t *full = nullptr;
	if (target_path(path, &full) != M_FS_ERROR_SUCCESS)
		return M_FALSE;
	Identity   target;
	const bool found = identity(full, &target);
	M_free(full);
	if (!found)
		return M_FALSE;
	return m::detail::with_info_path(other, [&](const char *norm) {
		       Identity   input;
		       wchar_t   *wide    = m::detail::long_form(m::detail::acp_to_wide(norm));
		       const bool reached = wide != nullptr && identity(wide, &input) && same(input, target);
		       M_free(wide);
		       return reached ? M_FS_ERROR_SUCCESS : M_FS_ERROR_GENERIC;
	       }) == M_FS_ERROR_SUCCESS;
}

M_bool M_fs_replace_reaches_stream(const char *path, M_fs_iostream_t stream)
{
	static constexpr DWORD kStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
	if (M_str_isempty(path) || stream < M_FS_IOSTREAM_IN || stream > M_FS_IOSTREAM_ERR)
		return M_FALSE;
	Identity input;
	Identity target;
	wchar_t *full = nullptr;
	if (!identity_of(GetStdHandle(kStd[stream]), &input) || target_path(path, &full) != M_FS_ERROR_SUCCESS)
		return M_FALSE;
	const bool found = identity(full, &target);
	M_free(full);
	return found && same(input, target);
}

} // extern "C"
