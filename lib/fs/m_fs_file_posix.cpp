/* Platform half of the file layer on POSIX: open/read/write/lseek/fsync/close.
 *
 * Nothing above this file touches a descriptor. Every function here makes
 * one system call (EINTR is retried here, so no caller ever sees it) and
 * reports a failure through the one errno translation (m_platform_posix.cpp).
 *
 * Mapping of the portable open mode:
 *   READ, WRITE, both       -> O_RDONLY, O_WRONLY, O_RDWR
 *   APPEND                  -> O_APPEND, with write access (plus read when
 *                              READ is set), as appending implies writing
 *   NOCREATE+OVERWRITE      -> O_TRUNC            (must exist, emptied)
 *   OVERWRITE               -> O_CREAT | O_TRUNC  (created or emptied)
 *   NOCREATE                -> no flag            (must exist)
 *   neither                 -> O_CREAT            (created when missing)
 * Always O_CLOEXEC, so descriptors do not leak into child processes.
 *
 * A directory is refused with M_FS_ERROR_PERMISSION, the answer the Windows
 * open gives, whether it is opened for reading or for writing.
 *
 * New files get 0666 less the umask, or exactly the modes (and owner and
 * group) of a given permissions object. Opening an existing file to replace
 * it (OVERWRITE without NOCREATE) stamps its access and modification times
 * with now. A must-exist open does not restamp: on this host a read-only
 * descriptor could change the times, and reading a file must not alter it.
 */
#include "fs/m_fs_int.h"
#include "fs/m_platform_int.h"
#include "core/m_mem.h"
#include "core/m_io_int.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "core/m_str_num.h"
#include "sys/m_sig_int.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* Widest length one platform read or write carries, kept from the Windows
 * layer so the two hosts refuse the same requests. */
constexpr uint64_t kMaxIoLen = UINT64_C(0xFFFFFFFF);

/* Flags for open(2) from the portable mode. */
int open_flags(uint32_t mode) noexcept
{
	const bool rd    = (mode & M_FS_FILE_MODE_READ) != 0;
	const bool wr    = (mode & M_FS_FILE_MODE_WRITE) != 0 || (mode & M_FS_FILE_MODE_APPEND) != 0;
	int        flags = O_CLOEXEC;

	if (rd && wr) {
		flags |= O_RDWR;
	} else if (wr) {
		flags |= O_WRONLY;
	} else {
		flags |= O_RDONLY;
	}
	if (mode & M_FS_FILE_MODE_APPEND)
		flags |= O_APPEND;

	const bool nocreate  = (mode & M_FS_FILE_MODE_NOCREATE) != 0;
	const bool overwrite = (mode & M_FS_FILE_MODE_OVERWRITE) != 0;
	if (overwrite)
		flags |= O_TRUNC;
	if (!nocreate)
		flags |= O_CREAT;
	return flags;
}

/* The result code of a failed open(2). EISDIR has no row in the error table;
 * it is the Windows open's "access denied" for a directory. */
M_fs_error_t open_error(int err) noexcept
{
	return err == EISDIR ? M_FS_ERROR_PERMISSION : M_fs_error_from_syserr(m::detail::syserr_from_errno(err));
}

int open_retry(const char *path, int flags, mode_t mode) noexcept
{
	int fd;
	do {
		fd = ::open(path, flags, mode);
	} while (fd < 0 && errno == EINTR);
	return fd;
}

/* Open creating the file with the exact modes (and owner) of perms. The file
 * is first tried as new (O_EXCL) so that only a file this call creates gets
 * them; an existing file is opened as it is, keeping its permissions. */
int open_with_perms(const char *path, int flags, const M_fs_perms_t *perms, M_fs_error_t *err) noexcept
{
	const mode_t mode = m::detail::perms_to_host_mode(perms, false);

	for (int attempt = 0; attempt < 2; attempt++) {
		int fd = open_retry(path, flags | O_EXCL, 0600);
		if (fd >= 0) {
			/* Created here: set exactly the requested modes (no umask). */
			if (::fchmod(fd, mode) != 0 ||
			    ((perms->user != nullptr || perms->group != nullptr) &&
			     ::fchown(fd, perms->user != nullptr ? perms->uid : static_cast<uid_t>(-1),
			              perms->group != nullptr ? perms->gid : static_cast<gid_t>(-1)) != 0)) {
				*err = M_fs_error_from_syserr(M_platform_errno());
				::close(fd);
				::unlink(path);
				return -1;
			}
			return fd;
		}
		if (errno != EEXIST) {
			*err = open_error(errno);
			return -1;
		}
		/* Exists: open it as it is. If it vanished in between, try again. */
		fd = open_retry(path, flags & ~O_CREAT, 0);
		if (fd >= 0)
			return fd;
		if (errno != ENOENT) {
			*err = open_error(errno);
			return -1;
		}
	}
	*err = M_FS_ERROR_GENERIC;
	return -1;
}

M_bool fd_usable(const M_fs_file_t *fd) noexcept
{
	return fd != nullptr && fd->fd >= 0;
}

/* One read(2) or write(2) for the _sys layer: the argument checks both
 * share, the call counted in counter and retried on EINTR, a failure
 * translated. *done receives the bytes moved (0 first). */
template <typename Byte, typename Call>
M_fs_error_t io_sys(M_fs_file_t *fd, Byte *buf, size_t len, size_t *done, size_t &counter, Call call) noexcept
{
	if (done == nullptr)
		return M_FS_ERROR_INVALID;
	*done = 0;
	if (!fd_usable(fd) || buf == nullptr || len == 0 || static_cast<uint64_t>(len) > kMaxIoLen)
		return M_FS_ERROR_INVALID;

	counter++;
	const ssize_t n = m::detail::retry_eintr([&] { return call(fd->fd, buf, len); });
	if (n < 0)
		return M_fs_error_from_syserr(M_platform_errno());
	*done = static_cast<size_t>(n);
	return M_FS_ERROR_SUCCESS;
}

} // namespace

M_fs_error_t m::detail::file_open_sys(M_fs_file_t **fd, const char *path, uint32_t mode, const M_fs_perms_t *perms)
{
	/* *fd is cleared before any other check, so that every failure, an
     * argument error included, leaves it NULL. */
	if (fd == nullptr)
		return M_FS_ERROR_INVALID;
	*fd = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	if ((mode & (M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE)) == 0)
		return M_FS_ERROR_INVALID;

	/* Resolve links and "~"; bit 4 is accepted for the Windows layout's sake
     * and has no effect. */
	char        *norm = nullptr;
	M_fs_error_t res =
	    M_fs_path_norm(&norm, path, M_FS_PATH_NORM_RESOLVE_LINK | 4u | M_FS_PATH_NORM_HOME, M_FS_SYSTEM_AUTO);
	if (res != M_FS_ERROR_SUCCESS)
		return res;

	const int  flags   = open_flags(mode);
	const bool restamp = (mode & M_FS_FILE_MODE_OVERWRITE) && !(mode & M_FS_FILE_MODE_NOCREATE);
	const bool existed = restamp && ::access(norm, F_OK) == 0;

	m::detail::sys_counters().open++;
	int desc;
	if (perms != nullptr && (flags & O_CREAT)) {
		desc = open_with_perms(norm, flags, perms, &res);
	} else {
		desc = open_retry(norm, flags, 0666);
		if (desc < 0)
			res = open_error(errno);
	}
	if (desc < 0) {
		M_free(norm);
		return res;
	}

	/* A directory is not a file to read or write: refuse it at open, as the
     * Windows open does (access denied), instead of failing the first read. */
	struct stat st;
	if (::fstat(desc, &st) == 0 && S_ISDIR(st.st_mode)) {
		(void)::close(desc);
		M_free(norm);
		return M_FS_ERROR_PERMISSION;
	}

	if (existed) {
		/* Replacing an existing file counts as creating it anew: give it the
         * current times. Failure here does not matter to the caller. */
		(void)::futimens(desc, nullptr);
	}

	M_fs_file_t *f = static_cast<M_fs_file_t *>(M_malloc_zero(sizeof(*f)));
	f->fd          = desc;
	f->own_fd      = M_TRUE;
	f->path        = norm;
	*fd            = f;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_read_sys(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len)
{
	return io_sys(fd, buf, buf_len, read_len, m::detail::sys_counters().read, ::read);
}

M_fs_error_t m::detail::file_write_sys(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len)
{
	return io_sys(fd, buf, count, wrote_len, m::detail::sys_counters().write, ::write);
}

M_fs_error_t m::detail::file_seek_sys(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from)
{
	if (!fd_usable(fd))
		return M_FS_ERROR_INVALID;
	int whence;
	switch (from) {
		case M_FS_FILE_SEEK_BEGIN:
			whence = SEEK_SET;
			break;
		case M_FS_FILE_SEEK_END:
			whence = SEEK_END;
			break;
		case M_FS_FILE_SEEK_CUR:
			whence = SEEK_CUR;
			break;
		default:
			return M_FS_ERROR_INVALID;
	}
	static_assert(sizeof(off_t) == sizeof(int64_t), "64-bit file offsets");

	m::detail::sys_counters().seek++;
	if (::lseek(fd->fd, static_cast<off_t>(offset), whence) == static_cast<off_t>(-1))
		return M_fs_error_from_syserr(M_platform_errno());
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_tell_sys(M_fs_file_t *fd, uint64_t *pos)
{
	*pos = 0;
	if (!fd_usable(fd))
		return M_FS_ERROR_INVALID;
	m::detail::sys_counters().seek++;
	const off_t at = ::lseek(fd->fd, 0, SEEK_CUR);
	if (at == static_cast<off_t>(-1))
		return M_fs_error_from_syserr(M_platform_errno());
	*pos = static_cast<uint64_t>(at);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::file_fsync_sys(M_fs_file_t *fd)
{
	if (!fd_usable(fd))
		return M_FS_ERROR_INVALID;
	m::detail::sys_counters().fsync++;
	int r;
	do {
		r = ::fsync(fd->fd);
	} while (r != 0 && errno == EINTR);
	if (r != 0)
		return M_fs_error_from_syserr(M_platform_errno());
	return M_FS_ERROR_SUCCESS;
}

void m::detail::file_close_sys(M_fs_file_t *fd)
{
	if (fd == nullptr)
		return;
	if (fd->fd >= 0 && fd->own_fd) {
		m::detail::sys_counters().close++;
		/* Not retried on EINTR: on Linux the descriptor is released anyway,
         * and a retry could close a descriptor another opener just got. */
		(void)::close(fd->fd);
	}
	fd->fd = -1;
	M_free(fd->path);
	M_free(fd);
}

extern "C" {

M_fs_error_t M_fs_file_open_iostream(M_fs_file_t **fd, M_fs_iostream_t stream)
{
	if (fd == nullptr)
		return M_FS_ERROR_INVALID;
	*fd = nullptr;

	int desc;
	switch (stream) {
		case M_FS_IOSTREAM_IN:
			desc = STDIN_FILENO;
			break;
		case M_FS_IOSTREAM_OUT:
			desc = STDOUT_FILENO;
			break;
		case M_FS_IOSTREAM_ERR:
			desc = STDERR_FILENO;
			break;
		default:
			return M_FS_ERROR_INVALID;
	}

	M_fs_file_t *f = static_cast<M_fs_file_t *>(M_malloc_zero(sizeof(*f)));
	f->fd          = desc;
	f->own_fd      = M_FALSE; /* the process's stream outlives the wrapper */
	*fd            = f;
	return M_FS_ERROR_SUCCESS;
}

} // extern "C"

/* ---------------------------------------------------------------------------
 * Replacing a file (M_fs_file_replace): temporary file, sync, rename.
 *
 * The bytes go to a new file beside the target, and only a complete, synced
 * file is renamed over it, so the path shows the old content or the new,
 * never a mix; opening the path itself would follow a link planted there.
 * The directory part is handed to the system (realpath) rather than folded
 * as text, so "..", links and missing directories mean what they mean to
 * every other program. Targets that are streams rather than files (devices,
 * FIFOs, the process's own descriptors, anything in /dev or /proc) are
 * written as they stand: there is nothing to replace, and renaming over
 * them would destroy a system entry.
 * ------------------------------------------------------------------------- */

void (*m::detail::replace_test_hook)(const char *tmp_path) = nullptr;

namespace {

/* Longest part of the file name copied into the temporary name, so that
 * ".NAME.XXXXXX" stays within the 255 bytes a file name may have. */
constexpr size_t kTmpNameKeep = 240;

/* Links followed when looking for a descriptor behind the path. */
constexpr int kMaxHops = 40;

/* The temporary file's path, for the signal handlers: static storage, since
 * a handler must not allocate. Written only while the signals are blocked. */
char                  g_tmp_path[PATH_MAX];
volatile sig_atomic_t g_tmp_live = 0;
m::detail::SigGuard   g_replace_guard;

/* A terminating signal while the temporary file exists: remove it, then let
 * the signal do what it would have done. A file size limit met by the write
 * itself (the kernel sends SIGXFSZ as if this process sent it) is left to
 * the write, which then fails with EFBIG. */
void on_replace_signal(int sig, siginfo_t *info, void *)
{
	const int saved_errno = errno;
	if (sig == SIGXFSZ && info != nullptr && info->si_code == SI_USER && info->si_pid == ::getpid()) {
		errno = saved_errno;
		return;
	}
	if (g_tmp_live) {
		(void)::unlink(g_tmp_path);
		g_tmp_live = 0;
	}
	g_replace_guard.pass_on(sig);
	errno = saved_errno;
}

/* Where a replace lands. */
struct Target {
	char dir[PATH_MAX];  /* the directory, resolved as the system resolves it */
	char name[PATH_MAX]; /* the last component */
	char full[PATH_MAX]; /* dir/name */
};

enum class Way { Refuse, Replace, Direct, OwnFd };

/* How a target is written. */
struct Plan {
	Way          way;        /* what to do */
	M_fs_error_t err;        /* Refuse: why */
	int          fd;         /* OwnFd: the process's descriptor */
	mode_t       mode;       /* Replace: the new file's permission bits */
	bool         keep_owner; /* Replace: give it uid and gid */
	uid_t        uid;
	gid_t        gid;
};

/* dir and name joined into out (PATH_MAX bytes); false when too long. */
bool join_into(char *out, const char *dir, const char *name) noexcept
{
	out[0] = '\0';
	return M_str_cat(out, PATH_MAX, dir) && (M_str_eq(dir, "/") || M_str_cat(out, PATH_MAX, "/")) &&
	       M_str_cat(out, PATH_MAX, name);
}

/* A path whose text ends in "/", "." or ".." names a directory. */
bool names_dir(const char *path) noexcept
{
	const char *slash = M_str_rchr(path, '/');
	const char *last  = slash != nullptr ? slash + 1 : path;
	return *last == '\0' || M_str_eq(last, ".") || M_str_eq(last, "..");
}

/* The permission bits a newly created file gets: 0666 less the umask. The
 * umask can only be read by setting it, so it is put straight back. */
mode_t new_file_mode() noexcept
{
	const mode_t mask = ::umask(077);
	::umask(mask);
	return static_cast<mode_t>(0666 & ~mask);
}

M_fs_error_t resolve_target(const char *path, Target *t) noexcept
{
	if (names_dir(path))
		return M_FS_ERROR_PERMISSION;
	char        *norm = nullptr;
	M_fs_error_t res  = M_fs_path_norm(&norm, path, M_FS_PATH_NORM_HOME | M_FS_PATH_NORM_NOPARENT, M_FS_SYSTEM_AUTO);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	char       *slash = M_str_rchr(norm, '/');
	const char *base  = slash != nullptr ? slash + 1 : norm;
	if (slash != nullptr && slash != norm)
		*slash = '\0'; /* norm is now the directory part */
	const char *dir = slash == nullptr ? "." : (slash == norm ? "/" : norm);
	if (names_dir(base)) {
		res = M_FS_ERROR_PERMISSION;
	} else if (::realpath(dir, t->dir) == nullptr) {
		res = m::detail::fs_error_from_errno(errno);
	} else if (!M_str_cpy(t->name, sizeof(t->name), base) || !join_into(t->full, t->dir, t->name)) {
		res = M_FS_ERROR_NAME_TOO_LONG;
	}
	M_free(norm);
	return res;
}

/* dir is /proc/PID/fd of this process (/proc/self/fd resolves to it). */
bool is_own_fd_dir(const char *dir) noexcept
{
	char own[64];
	M_snprintf(own, sizeof(own), "/proc/%lld/fd", static_cast<long long>(::getpid()));
	return M_str_eq(dir, own);
}

/* The descriptor of this process that full names through its links
 * (/dev/stdout -> /proc/self/fd/1, /dev/fd/N, /proc/self/fd/N), or -1. */
int own_descriptor(const char *full) noexcept
{
	char cur[PATH_MAX];
	M_str_cpy(cur, sizeof(cur), full);
	for (int hop = 0; hop < kMaxHops; hop++) {
		char *slash = M_str_rchr(cur, '/');
		if (slash == nullptr)
			return -1;
		char dir[PATH_MAX];
		char real[PATH_MAX];
		M_str_cpy(dir, static_cast<size_t>(slash - cur) + 1, cur);
		if (::realpath(slash == cur ? "/" : dir, real) == nullptr)
			return -1;
		uint32_t num = 0;
		if (is_own_fd_dir(real) && M_str_isnum(slash + 1) &&
		    M_str_to_uint32_ex(slash + 1, M_str_len(slash + 1), 10, &num, nullptr) == M_STR_INT_SUCCESS &&
		    num <= INT32_MAX)
			return static_cast<int>(num);
		struct stat st;
		char        link[PATH_MAX];
		if (::lstat(cur, &st) != 0 || !S_ISLNK(st.st_mode))
			return -1;
		const ssize_t n = ::readlink(cur, link, sizeof(link) - 1);
		if (n < 0)
			return -1;
		link[n] = '\0';
		if (link[0] == '/')
			M_str_cpy(cur, sizeof(cur), link);
		else if (!join_into(cur, real, link))
			return -1;
	}
	return -1;
}

/* An existing entry of /dev or /proc is never renamed over. */
bool in_system_dir(const char *dir) noexcept
{
	return M_str_eq(dir, "/dev") || M_str_eq_start(dir, "/dev/") || M_str_eq(dir, "/proc") ||
	       M_str_eq_start(dir, "/proc/");
}

Plan plan_for(const Target &t) noexcept
{
	Plan p = {Way::Replace, M_FS_ERROR_SUCCESS, -1, new_file_mode(), false, 0, 0};
	p.fd   = own_descriptor(t.full);
	if (p.fd >= 0) {
		p.way = Way::OwnFd;
		return p;
	}
	struct stat lst;
	if (::lstat(t.full, &lst) != 0) {
		/* Nothing there yet: a new file. */
		if (errno != ENOENT)
			p = {Way::Refuse, m::detail::fs_error_from_errno(errno), -1, 0, false, 0, 0};
		return p;
	}
	struct stat st = lst;
	if (S_ISLNK(lst.st_mode) && ::stat(t.full, &st) != 0) {
		/* A dangling link is replaced by a new file. */
		if (errno != ENOENT)
			p = {Way::Refuse, m::detail::fs_error_from_errno(errno), -1, 0, false, 0, 0};
		return p;
	}
	if (S_ISDIR(st.st_mode))
		p = {Way::Refuse, M_FS_ERROR_PERMISSION, -1, 0, false, 0, 0};
	else if (!S_ISREG(st.st_mode) || in_system_dir(t.dir))
		p.way = Way::Direct;
	else if (!S_ISLNK(lst.st_mode) && ::access(t.full, W_OK) != 0)
		p = {Way::Refuse, M_FS_ERROR_PERMISSION, -1, 0, false, 0, 0};
	else if (!S_ISLNK(lst.st_mode))
		p = {Way::Replace, M_FS_ERROR_SUCCESS, -1,        static_cast<mode_t>(lst.st_mode & 0777),
		     true,         lst.st_uid,         lst.st_gid};
	/* A link to a regular file is replaced by a new file of the default
	 * mode; the file it points at is left alone. */
	return p;
}

/* Write all bytes to an open descriptor; with sync, flush them to the
 * device too. */
M_fs_error_t write_desc(int desc, const unsigned char *buf, size_t len, bool sync) noexcept
{
	M_fs_file_t file = {};
	file.fd          = desc;
	M_fs_error_t res = M_fs_file_write_all(&file, buf, len);
	if (res == M_FS_ERROR_SUCCESS && sync)
		res = m::detail::file_fsync_sys(&file);
	return res;
}

/* Open what is there (never creating it) and write the bytes as a stream. */
M_fs_error_t write_direct(const char *path, const unsigned char *buf, size_t len, bool sync) noexcept
{
	const int desc = open_retry(path, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0);
	if (desc < 0)
		return open_error(errno);
	M_fs_error_t res = write_desc(desc, buf, len, sync);
	if (::close(desc) != 0 && res == M_FS_ERROR_SUCCESS)
		res = m::detail::fs_error_from_errno(errno);
	return res;
}

/* Sync the directory so that the rename itself survives a crash. Some file
 * systems cannot sync a directory; the new file is in place either way, so
 * a failure here is not the write's failure. */
void sync_dir(const char *dir) noexcept
{
	const int desc = open_retry(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
	if (desc < 0)
		return;
	(void)::fsync(desc);
	(void)::close(desc);
}

/* The complete temporary file gets its final owner and mode, then goes to
 * the device. Owner and group: both where allowed (root), else the group
 * where the user is a member, else the file stays the user's own. */
M_fs_error_t finish_temp(int desc, const Plan &p) noexcept
{
	if (p.keep_owner && ::fchown(desc, p.uid, p.gid) != 0)
		(void)::fchown(desc, static_cast<uid_t>(-1), p.gid);
	if (::fchmod(desc, p.mode) != 0)
		return m::detail::fs_error_from_errno(errno);
	M_fs_file_t file = {};
	file.fd          = desc;
	return m::detail::file_fsync_sys(&file);
}

/* Create the temporary file beside the target (mode 0600, exclusively: an
 * existing name, a planted link included, is never opened). The handlers
 * must know its name from the moment it exists, so the signals wait. */
int create_temp(const Target &t, M_fs_error_t *res) noexcept
{
	char keep[kTmpNameKeep + 1];
	char tmp_name[PATH_MAX];
	char tmpl[PATH_MAX];
	M_str_cpy(keep, sizeof(keep), t.name);
	tmp_name[0] = '\0';
	if (!M_str_cat(tmp_name, sizeof(tmp_name), ".") || !M_str_cat(tmp_name, sizeof(tmp_name), keep) ||
	    !M_str_cat(tmp_name, sizeof(tmp_name), ".XXXXXX") || !join_into(tmpl, t.dir, tmp_name)) {
		*res = M_FS_ERROR_NAME_TOO_LONG;
		return -1;
	}
	sigset_t old;
	m::detail::SigGuard::block(&old);
	M_str_cpy(g_tmp_path, sizeof(g_tmp_path), tmpl);
	const int desc = ::mkostemp(g_tmp_path, O_CLOEXEC);
	const int err  = errno;
	g_tmp_live     = desc >= 0;
	m::detail::SigGuard::unblock(&old);
	if (desc < 0)
		*res = m::detail::fs_error_from_errno(err);
	return desc;
}

M_fs_error_t replace_via_temp(const Target &t, const Plan &p, const unsigned char *buf, size_t len) noexcept
{
	M_fs_error_t res  = M_FS_ERROR_SUCCESS;
	const int    desc = create_temp(t, &res);
	if (desc < 0)
		return res;
	res = write_desc(desc, buf, len, false);
	if (res == M_FS_ERROR_SUCCESS && m::detail::replace_test_hook != nullptr)
		m::detail::replace_test_hook(g_tmp_path);
	if (res == M_FS_ERROR_SUCCESS)
		res = finish_temp(desc, p);
	/* A network file system may report a failed write only here. */
	if (::close(desc) != 0 && res == M_FS_ERROR_SUCCESS)
		res = m::detail::fs_error_from_errno(errno);
	bool in_place = false;
	if (res == M_FS_ERROR_SUCCESS && ::rename(g_tmp_path, t.full) != 0) {
		/* A mount point (a single bind-mounted file) cannot be renamed over:
		 * it is written in place, which is not atomic. */
		in_place = errno == EBUSY;
		res      = in_place ? write_direct(t.full, buf, len, true) : m::detail::fs_error_from_errno(errno);
	}
	sigset_t old;
	m::detail::SigGuard::block(&old);
	if ((res != M_FS_ERROR_SUCCESS || in_place) && g_tmp_live)
		(void)::unlink(g_tmp_path);
	g_tmp_live = 0;
	m::detail::SigGuard::unblock(&old);
	if (res == M_FS_ERROR_SUCCESS && !in_place)
		sync_dir(t.dir);
	return res;
}

} // namespace

extern "C" {

M_fs_error_t M_fs_file_replace(const char *path, const unsigned char *buf, size_t len)
{
	if (M_str_isempty(path) || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	Target       t;
	M_fs_error_t res = resolve_target(path, &t);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	const Plan p = plan_for(t);
	if (p.way == Way::Refuse)
		return p.err;

	g_replace_guard.install(on_replace_signal, nullptr, 0);
	if (p.way == Way::OwnFd)
		res = write_desc(p.fd, buf, len, false);
	else if (p.way == Way::Direct)
		res = write_direct(t.full, buf, len, false);
	else
		res = replace_via_temp(t, p, buf, len);
	g_replace_guard.restore();
	return res;
}

M_bool M_fs_file_replace_reaches(const char *path, const char *other)
{
	Target      t;
	struct stat out;
	if (M_str_isempty(path) || M_str_isempty(other) || resolve_target(path, &t) != M_FS_ERROR_SUCCESS ||
	    ::stat(t.full, &out) != 0)
		return M_FALSE;
	return m::detail::with_info_stat(other, [&](const char *, const struct stat &in) {
		       return in.st_dev == out.st_dev && in.st_ino == out.st_ino ? M_FS_ERROR_SUCCESS : M_FS_ERROR_GENERIC;
	       }) == M_FS_ERROR_SUCCESS;
}

} // extern "C"
