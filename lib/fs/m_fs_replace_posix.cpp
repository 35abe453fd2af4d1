/* Replacing a file on POSIX: temporary file, sync, rename (m_fs_replace.h).
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
 */
#include "fs/m_fs_replace.h"

#include "fs/m_fs_int.h"
#include "fs/m_platform_int.h"
#include "core/m_mem.h"
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
		return m::detail::open_error(EISDIR);
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
		res = m::detail::open_error(EISDIR);
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
		p = {Way::Refuse, m::detail::open_error(EISDIR), -1, 0, false, 0, 0};
	else if (!S_ISREG(st.st_mode) || in_system_dir(t.dir))
		p.way = Way::Direct;
	else if (!S_ISLNK(lst.st_mode) && ::access(t.full, W_OK) != 0)
		p = {Way::Refuse, m::detail::fs_error_from_errno(errno), -1, 0, false, 0, 0};
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

/* Sync the directory so that the rename itself survives a crash. Some file
 * systems cannot sync a directory; the new file is in place either way, so
 * a failure here is not the write's failure. */
void sync_dir(const char *dir) noexcept
{
	const int desc = m::detail::open_retry(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
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

/* The temporary file is gone from the handlers' sight: removed (with
 * remove), or renamed into place. */
void drop_temp(bool remove = true) noexcept
{
	sigset_t old;
	m::detail::SigGuard::block(&old);
	if (g_tmp_live && remove)
		(void)::unlink(g_tmp_path);
	g_tmp_live = 0;
	m::detail::SigGuard::unblock(&old);
}

/* Copy the complete temporary file into the target in place: the way to
 * write a mount point, which cannot be renamed over. Not atomic. */
M_fs_error_t copy_in_place(const char *full) noexcept
{
	constexpr size_t kChunk = 64 * 1024;
	const int        src    = m::detail::open_retry(g_tmp_path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
	if (src < 0)
		return m::detail::open_error(errno);
	const int dst = m::detail::open_retry(full, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0);
	if (dst < 0) {
		const int err = errno;
		(void)::close(src);
		return m::detail::open_error(err);
	}
	M_fs_file_t in     = {};
	in.fd              = src;
	auto        *chunk = static_cast<unsigned char *>(M_malloc(kChunk));
	M_fs_error_t res   = M_FS_ERROR_SUCCESS;
	for (;;) {
		size_t got = 0;
		res        = m::detail::file_read_sys(&in, chunk, kChunk, &got);
		if (res != M_FS_ERROR_SUCCESS || got == 0)
			break;
		res = write_desc(dst, chunk, got, false);
		if (res != M_FS_ERROR_SUCCESS)
			break;
	}
	M_free(chunk);
	if (res == M_FS_ERROR_SUCCESS) {
		M_fs_file_t out = {};
		out.fd          = dst;
		res             = m::detail::file_fsync_sys(&out);
	}
	(void)::close(src);
	if (::close(dst) != 0 && res == M_FS_ERROR_SUCCESS)
		res = m::detail::fs_error_from_errno(errno);
	return res;
}

/* Put the complete temporary file in place. */
M_fs_error_t commit_temp(M_fs_replace_t *rep) noexcept;

} // namespace

/* A replace in progress. */
struct M_fs_replace {
	Target       target;
	Plan         plan;
	int          desc; /* the temporary file, the opened stream, or the own descriptor; -1 none yet */
	M_fs_error_t err;  /* the first write failure, which sticks */
};

namespace {

/* Whether a replace is open: the signal record has room for one. */
bool g_open = false;

M_fs_error_t commit_temp(M_fs_replace_t *rep) noexcept
{
	if (m::detail::replace_test_hook != nullptr)
		m::detail::replace_test_hook(g_tmp_path);
	M_fs_error_t res = finish_temp(rep->desc, rep->plan);
	/* A network file system may report a failed write only here. */
	if (::close(rep->desc) != 0 && res == M_FS_ERROR_SUCCESS)
		res = m::detail::fs_error_from_errno(errno);
	rep->desc     = -1;
	bool in_place = false;
	if (res == M_FS_ERROR_SUCCESS && ::rename(g_tmp_path, rep->target.full) != 0) {
		/* A mount point (a single bind-mounted file) cannot be renamed over:
		 * it is written in place, which is not atomic. */
		in_place = errno == EBUSY;
		res      = in_place ? copy_in_place(rep->target.full) : m::detail::fs_error_from_errno(errno);
	}
	drop_temp(res != M_FS_ERROR_SUCCESS || in_place);
	if (res == M_FS_ERROR_SUCCESS && !in_place)
		sync_dir(rep->target.dir);
	return res;
}

/* The stream target opened for its first bytes (never created: it exists). */
M_fs_error_t open_stream(M_fs_replace_t *rep) noexcept
{
	if (rep->desc >= 0)
		return M_FS_ERROR_SUCCESS;
	rep->desc = m::detail::open_retry(rep->target.full, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0);
	return rep->desc < 0 ? m::detail::open_error(errno) : M_FS_ERROR_SUCCESS;
}

/* Release the replace: its descriptor (not the process's own), the signal
 * handlers, the object. */
void release(M_fs_replace_t *rep) noexcept
{
	if (rep->desc >= 0 && rep->plan.way != Way::OwnFd)
		(void)::close(rep->desc);
	g_replace_guard.restore();
	g_open = false;
	M_free(rep);
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
	auto        *r   = static_cast<M_fs_replace_t *>(M_malloc_zero(sizeof(M_fs_replace_t)));
	M_fs_error_t res = resolve_target(path, &r->target);
	if (res == M_FS_ERROR_SUCCESS) {
		r->plan = plan_for(r->target);
		res     = r->plan.way == Way::Refuse ? r->plan.err : M_FS_ERROR_SUCCESS;
	}
	/* A stream is opened by its first write, but must be writable now. */
	if (res == M_FS_ERROR_SUCCESS && r->plan.way == Way::Direct && ::access(r->target.full, W_OK) != 0)
		res = m::detail::fs_error_from_errno(errno);
	if (res != M_FS_ERROR_SUCCESS) {
		M_free(r);
		return res;
	}
	r->desc = r->plan.way == Way::OwnFd ? r->plan.fd : -1;
	g_open  = true;
	g_replace_guard.install(on_replace_signal, nullptr, 0);
	if (r->plan.way == Way::Replace) {
		r->desc = create_temp(r->target, &res);
		if (r->desc < 0) {
			release(r);
			return res;
		}
	}
	*rep = r;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_replace_write(M_fs_replace_t *rep, const unsigned char *buf, size_t len)
{
	if (rep == nullptr || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	if (rep->err == M_FS_ERROR_SUCCESS && rep->plan.way == Way::Direct)
		rep->err = open_stream(rep);
	if (rep->err == M_FS_ERROR_SUCCESS && len > 0)
		rep->err = write_desc(rep->desc, buf, len, false);
	return rep->err;
}

M_fs_error_t M_fs_replace_commit(M_fs_replace_t *rep)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	M_fs_error_t res = rep->err;
	if (res == M_FS_ERROR_SUCCESS && rep->plan.way == Way::Direct)
		res = open_stream(rep); /* nothing written: the stream is still emptied */
	if (res == M_FS_ERROR_SUCCESS && rep->plan.way == Way::Replace)
		res = commit_temp(rep);
	else if (rep->plan.way == Way::Replace)
		drop_temp();
	release(rep);
	return res;
}

void M_fs_replace_cancel(M_fs_replace_t *rep)
{
	if (rep == nullptr)
		return;
	if (rep->plan.way == Way::Replace)
		drop_temp();
	release(rep);
}

M_bool M_fs_replace_reaches(const char *path, const char *other)
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

M_bool M_fs_replace_reaches_stream(const char *path, M_fs_iostream_t stream)
{
	Target      t;
	struct stat out;
	struct stat in;
	if (M_str_isempty(path) || stream < M_FS_IOSTREAM_IN || stream > M_FS_IOSTREAM_ERR ||
	    resolve_target(path, &t) != M_FS_ERROR_SUCCESS || ::stat(t.full, &out) != 0 ||
	    ::fstat(static_cast<int>(stream), &in) != 0 || !S_ISREG(in.st_mode))
		return M_FALSE;
	return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

} // extern "C"
