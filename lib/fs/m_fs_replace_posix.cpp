/* The replace's system primitives on POSIX (m_fs_replace_int.h).
 *
 * The output's folder is opened once, when the replace begins, and every
 * later step goes relative to that descriptor (openat, fstatat, renameat,
 * unlinkat), so a folder moved or swapped while the program works can
 * neither receive the temporary file's rename nor hide it: the move is
 * found before the rename (the held folder against a fresh look at its
 * path), and the temporary file is removed from wherever the folder went.
 * The directory part is handed to the system (realpath) rather than folded
 * as text, so "..", links and missing directories mean what they mean to
 * every other program. Targets that are streams rather than files
 * (devices, FIFOs, the process's own descriptors, anything in /dev or
 * /proc) are written as they stand: renaming over them would destroy a
 * system entry.
 */
#include "fs/m_fs_replace_int.h"

#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "core/m_str_num.h"
#include "sys/m_rand.h"
#include "sys/m_sig_int.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using m::detail::ReplaceFacts;
using m::detail::ReplaceFound;

/* One replace: the held folder, the names in it, what was found there. */
struct m::detail::ReplaceSys {
	char        dir[PATH_MAX]; /* the folder, resolved as the system resolves it */
	char        name[NAME_MAX + 1];
	char        full[PATH_MAX]; /* dir/name */
	int         dir_fd;         /* the folder, held from the resolve on */
	struct stat dir_st;         /* its identity when the replace began */
	struct stat old;            /* the file replaced (ReplaceFound::File) */
	int         own;            /* ReplaceFound::Own: the process's descriptor */
	char        tmp[NAME_MAX + 1];
	struct stat tmp_st; /* the temporary file as created */
};

namespace {

/* Longest part of the file name copied into the temporary name, so that
 * ".NAME.XXXXXX" stays within the 255 bytes a file name may have. */
constexpr size_t kTmpNameKeep = 240;

/* Links followed when looking for a descriptor behind the path; attempts
 * at a temporary name not taken yet. */
constexpr int kMaxHops  = 40;
constexpr int kTmpTries = 100;

/* The replace whose temporary file exists, for the signal handler; set and
 * cleared only while the signals are blocked. */
m::detail::ReplaceSys *volatile g_live = nullptr;
m::detail::SigGuard g_replace_guard;

/* A terminating signal while the temporary file exists: remove it (the
 * held folder makes the name right wherever the folder is now), then let
 * the signal do what it would have done. A broken pipe is not the end: the
 * write that met it fails with EPIPE and is reported. A file size limit
 * met by the write itself (the kernel sends SIGXFSZ as if this process sent
 * it) is left to the write, which then fails with EFBIG. */
void on_replace_signal(int sig, siginfo_t *info, void *)
{
	const int  saved_errno = errno;
	const bool own_limit = sig == SIGXFSZ && info != nullptr && info->si_code == SI_USER && info->si_pid == ::getpid();
	if (sig == SIGPIPE || own_limit) {
		errno = saved_errno;
		return;
	}
	m::detail::ReplaceSys *live = g_live;
	if (live != nullptr) {
		(void)::unlinkat(live->dir_fd, live->tmp, 0);
		g_live = nullptr;
	}
	g_replace_guard.pass_on(sig);
	errno = saved_errno;
}

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

/* Whether the process may act on files it does not own (CAP_FOWNER, which
 * root normally has): then a sticky folder does not stop it. */
bool may_override_owner() noexcept
{
	__user_cap_header_struct header                         = {_LINUX_CAPABILITY_VERSION_3, 0};
	__user_cap_data_struct   data[_LINUX_CAPABILITY_U32S_3] = {};
	if (::syscall(SYS_capget, &header, data) != 0)
		return ::geteuid() == 0;
	return (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

bool same_file(const struct stat &a, const struct stat &b) noexcept
{
	return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/* The folder held open: readable where allowed (so that it can be synced
 * after the rename), else only as a place (a folder the user may write but
 * not list). */
int open_folder(const char *dir) noexcept
{
	int desc = m::detail::open_retry(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
	if (desc < 0 && errno == EACCES)
		desc = m::detail::open_retry(dir, O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
	return desc;
}

/* The folder and the name of the path, the folder resolved and opened. */
M_fs_error_t resolve_into(m::detail::ReplaceSys *s, char *norm) noexcept
{
	char       *slash = M_str_rchr(norm, '/');
	const char *base  = slash != nullptr ? slash + 1 : norm;
	if (slash != nullptr && slash != norm)
		*slash = '\0'; /* norm is now the directory part */
	const char *dir = slash == nullptr ? "." : (slash == norm ? "/" : norm);
	if (names_dir(base))
		return m::detail::open_error(EISDIR);
	if (!M_str_cpy(s->name, sizeof(s->name), base))
		return M_FS_ERROR_NAME_TOO_LONG;
	if (::realpath(dir, s->dir) == nullptr)
		return m::detail::fs_error_from_errno(errno);
	if (!join_into(s->full, s->dir, s->name))
		return M_FS_ERROR_NAME_TOO_LONG;
	s->dir_fd = open_folder(s->dir);
	if (s->dir_fd < 0 || ::fstat(s->dir_fd, &s->dir_st) != 0)
		return m::detail::open_error(errno);
	return M_FS_ERROR_SUCCESS;
}

/* The permission bits a newly created file gets: 0666 less the umask. The
 * umask can only be read by setting it, so it is put straight back. */
mode_t new_file_mode() noexcept
{
	const mode_t mask = ::umask(077);
	::umask(mask);
	return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

M_fs_error_t m::detail::replace_resolve(const char *path, ReplaceSys **sys) noexcept
{
	*sys = nullptr;
	if (names_dir(path))
		return open_error(EISDIR);
	char        *norm = nullptr;
	M_fs_error_t res  = M_fs_path_norm(&norm, path, M_FS_PATH_NORM_HOME | M_FS_PATH_NORM_NOPARENT, M_FS_SYSTEM_AUTO);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	auto *s   = static_cast<ReplaceSys *>(M_malloc_zero(sizeof(ReplaceSys)));
	s->dir_fd = -1;
	res       = resolve_into(s, norm);
	M_free(norm);
	if (res != M_FS_ERROR_SUCCESS)
		replace_release(s);
	else
		*sys = s;
	return res;
}

ReplaceFacts m::detail::replace_examine(ReplaceSys *s) noexcept
{
	ReplaceFacts f = {ReplaceFound::Nothing, M_FS_ERROR_SUCCESS, true, M_FS_ERROR_SUCCESS};
	s->own         = own_descriptor(s->full);
	if (s->own >= 0) {
		f.found = ReplaceFound::Own;
		return f;
	}
	struct stat lst;
	if (::fstatat(s->dir_fd, s->name, &lst, AT_SYMLINK_NOFOLLOW) != 0) {
		if (errno != ENOENT)
			f.err = fs_error_from_errno(errno);
		return f;
	}
	f.replaceable  = !replace_sticky_refuses((s->dir_st.st_mode & S_ISVTX) != 0, lst.st_uid, s->dir_st.st_uid,
	                                         ::geteuid(), may_override_owner());
	struct stat st = lst;
	if (S_ISLNK(lst.st_mode) && ::fstatat(s->dir_fd, s->name, &st, 0) != 0) {
		/* A dangling link is replaced by a new file. */
		f.found = ReplaceFound::Link;
		f.err   = errno == ENOENT ? M_FS_ERROR_SUCCESS : fs_error_from_errno(errno);
		return f;
	}
	if (S_ISDIR(st.st_mode)) {
		f.found = ReplaceFound::Dir;
	} else if (!S_ISREG(st.st_mode) || in_system_dir(s->dir)) {
		f.found = ReplaceFound::Device;
	} else if (S_ISLNK(lst.st_mode)) {
		/* A link to a regular file is replaced by a new file of the default
		 * mode; the file it points at is left alone. */
		f.found = ReplaceFound::Link;
	} else {
		f.found  = ReplaceFound::File;
		f.access = ::faccessat(s->dir_fd, s->name, W_OK, 0) == 0 ? M_FS_ERROR_SUCCESS : fs_error_from_errno(errno);
		s->old   = lst;
	}
	return f;
}

M_fs_error_t m::detail::replace_refusal(ReplaceRefusal why) noexcept
{
	return why == ReplaceRefusal::IsDir ? open_error(EISDIR) : fs_error_from_errno(EPERM);
}

M_fs_error_t m::detail::replace_device_check(ReplaceSys *s) noexcept
{
	return ::faccessat(s->dir_fd, s->name, W_OK, 0) == 0 ? M_FS_ERROR_SUCCESS : fs_error_from_errno(errno);
}

M_fs_error_t m::detail::replace_target_open(ReplaceSys *s, M_fs_file_t **file) noexcept
{
	int desc;
	do {
		desc = ::openat(s->dir_fd, s->name, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
	} while (desc < 0 && errno == EINTR);
	if (desc < 0)
		return open_error(errno);
	*file = file_wrap(desc, true, nullptr);
	return M_FS_ERROR_SUCCESS;
}

M_fs_file_t *m::detail::replace_own(ReplaceSys *s) noexcept
{
	return file_wrap(s->own, false, nullptr);
}

M_fs_error_t m::detail::replace_temp_create(ReplaceSys *s, M_fs_file_t **file) noexcept
{
	static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	char                  keep[kTmpNameKeep + 1];
	M_str_cpy(keep, sizeof(keep), s->name);
	int desc = -1;
	int err  = EEXIST;
	for (int i = 0; i < kTmpTries && desc < 0 && err == EEXIST; i++) {
		char suffix[7];
		for (size_t k = 0; k < 6; k++)
			suffix[k] = kLetters[M_rand_max(nullptr, sizeof(kLetters) - 1)];
		suffix[6] = '\0';
		/* The handler must know the name from the moment the file exists,
		 * so the signals wait. */
		sigset_t old;
		SigGuard::block(&old);
		M_snprintf(s->tmp, sizeof(s->tmp), ".%s.%s", keep, suffix);
		desc = ::openat(s->dir_fd, s->tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
		err  = desc < 0 ? errno : 0;
		if (desc >= 0 && ::fstat(desc, &s->tmp_st) == 0)
			g_live = s;
		SigGuard::unblock(&old);
	}
	if (desc < 0)
		return open_error(err);
	*file = file_wrap(desc, true, nullptr);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::replace_temp_finish(ReplaceSys *s, M_fs_file_t *file, bool keep) noexcept
{
	/* Owner and group: both where allowed (root), else the group where
	 * the user is a member, else the file stays the user's own. */
	if (keep && ::fchown(file->handle, s->old.st_uid, s->old.st_gid) != 0)
		(void)::fchown(file->handle, static_cast<uid_t>(-1), s->old.st_gid);
	const mode_t mode = keep ? static_cast<mode_t>(s->old.st_mode & 0777) : new_file_mode();
	if (::fchmod(file->handle, mode) != 0)
		return fs_error_from_errno(errno);
	return file_fsync_sys(file);
}

M_fs_error_t m::detail::replace_folder_check(ReplaceSys *s) noexcept
{
	struct stat now;
	if (::stat(s->dir, &now) != 0 || !same_file(now, s->dir_st))
		return M_FS_ERROR_DIR_CHANGED;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::replace_temp_rename(ReplaceSys *s, M_fs_file_t **file, bool *busy) noexcept
{
	/* A network file system may report a failed write only at the close. */
	const int closed = ::close((*file)->handle);
	const int err    = errno;
	(*file)->handle  = -1;
	M_fs_file_close(*file);
	*file = nullptr;
	if (closed != 0)
		return fs_error_from_errno(err);
	struct stat now;
	if (::fstatat(s->dir_fd, s->tmp, &now, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(now, s->tmp_st)) {
		/* Not the file written: not ours to rename, nor to remove. */
		replace_temp_remove(s, nullptr);
		return M_FS_ERROR_DIR_CHANGED;
	}
	if (::renameat(s->dir_fd, s->tmp, s->dir_fd, s->name) != 0) {
		*busy = errno == EBUSY;
		return *busy ? M_FS_ERROR_SUCCESS : fs_error_from_errno(errno);
	}
	sigset_t old;
	SigGuard::block(&old);
	g_live = nullptr;
	SigGuard::unblock(&old);
	/* The rename itself is to survive a crash. Some file systems cannot
	 * sync a folder; the new file is in place either way. */
	(void)::fsync(s->dir_fd);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t m::detail::replace_temp_open_read(ReplaceSys *s, M_fs_file_t **file) noexcept
{
	const int desc = ::openat(s->dir_fd, s->tmp, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
	if (desc < 0)
		return open_error(errno);
	*file = file_wrap(desc, true, nullptr);
	return M_FS_ERROR_SUCCESS;
}

void m::detail::replace_temp_remove(ReplaceSys *s, M_fs_file_t *) noexcept
{
	sigset_t old;
	SigGuard::block(&old);
	struct stat now;
	if (g_live == s && ::fstatat(s->dir_fd, s->tmp, &now, AT_SYMLINK_NOFOLLOW) == 0 && same_file(now, s->tmp_st))
		(void)::unlinkat(s->dir_fd, s->tmp, 0);
	g_live = nullptr;
	SigGuard::unblock(&old);
}

void m::detail::replace_guard(bool on) noexcept
{
	if (on)
		g_replace_guard.install(on_replace_signal, nullptr, 0);
	else
		g_replace_guard.restore();
}

void m::detail::replace_release(ReplaceSys *s) noexcept
{
	if (s == nullptr)
		return;
	if (s->dir_fd >= 0)
		(void)::close(s->dir_fd);
	M_free(s);
}

bool m::detail::replace_reaches(const char *path, const char *other) noexcept
{
	ReplaceSys *s = nullptr;
	struct stat out;
	bool        reached = false;
	if (replace_resolve(path, &s) == M_FS_ERROR_SUCCESS && s != nullptr &&
	    ::fstatat(s->dir_fd, s->name, &out, 0) == 0) {
		reached = with_info_stat(other, [&](const char *, const struct stat &in) {
			          return same_file(in, out) ? M_FS_ERROR_SUCCESS : M_FS_ERROR_GENERIC;
		          }) == M_FS_ERROR_SUCCESS;
	}
	replace_release(s);
	return reached;
}

bool m::detail::replace_reaches_stream(const char *path, M_fs_iostream_t stream) noexcept
{
	ReplaceSys *s = nullptr;
	struct stat out;
	struct stat in;
	const bool  reached = replace_resolve(path, &s) == M_FS_ERROR_SUCCESS && s != nullptr &&
	                     ::fstatat(s->dir_fd, s->name, &out, 0) == 0 && ::fstat(file_std_handle(stream), &in) == 0 &&
	                     S_ISREG(in.st_mode) && same_file(in, out);
	replace_release(s);
	return reached;
}
