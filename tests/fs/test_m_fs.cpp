/* The file-system layer on real files in a private scratch directory: file
 * I/O (the buffered layer observed through the platform-call counters),
 * paths, permissions, file information and the Windows conversions. */
#include "tests/test_util.h"

#include <csignal>
#include <filesystem>
#include <random>
#include <fstream>
#include <thread>
#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#include <shlobj.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sysmacros.h>
#endif

#include "containers/m_list_str.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_info.h"
#include "fs/m_fs_int.h"
#include "fs/m_fs_path.h"
#include "fs/m_fs_perms.h"
#include "fs/m_fs_replace.h"
#include "fs/m_fs_win.h"
#include "fs/m_platform.h"

namespace {

using test_util::EnvGuard;

/* A private directory under the system's temporary folder, removed with
 * everything in it (rights given back first, so that a test which took them
 * leaves nothing behind). */
class TempDir {
  public:
	TempDir()
	{
		std::random_device rd;
		for (int i = 0; i < 100 && path_.empty(); i++) {
			const auto      cand = std::filesystem::temp_directory_path() / ("mfs_" + std::to_string(rd()));
			std::error_code ec;
			if (std::filesystem::create_directory(cand, ec))
				path_ = cand.generic_string();
		}
	}
	~TempDir()
	{
#if M_TEST_POSIX /* Linux only: rights taken by a test are given back with chmod */
		(void)std::system(("chmod -R u+rwx '" + path_ + "' 2>/dev/null").c_str());
#endif
		std::error_code ec;
		std::filesystem::remove_all(path_, ec);
	}
	const std::string &path() const
	{
		return path_;
	}
	std::string sub(const std::string &name) const
	{
		return path_ + "/" + name;
	}

  private:
	std::string path_;
};

/* Run in another directory for one scope. */
class CwdGuard {
  public:
	explicit CwdGuard(const std::string &dir)
	{
		EXPECT_EQ(M_fs_path_get_cwd(&old_), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_path_set_cwd(dir.c_str()), M_FS_ERROR_SUCCESS);
	}
	~CwdGuard()
	{
		EXPECT_EQ(M_fs_path_set_cwd(old_), M_FS_ERROR_SUCCESS);
		M_free(old_);
	}

  private:
	char *old_ = nullptr;
};

/* Contents of a file read with the C++ runtime; "(missing)" if it cannot be. */
std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return "(missing)";
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/* Write data as the whole file at path with the C++ runtime, with the host
 * mode where the host has modes. */
void make_file(const std::string &path, const std::string &data, [[maybe_unused]] unsigned mode = 0644)
{
	{
		std::ofstream out(path, std::ios::binary | std::ios::trunc);
		ASSERT_TRUE(out.good()) << path;
		out << data;
	}
#if M_TEST_POSIX /* Linux only: the file mode */
	ASSERT_EQ(::chmod(path.c_str(), mode), 0);
#endif
}

#if M_TEST_POSIX /* Linux only: the file mode */
mode_t mode_of(const std::string &p)
{
	struct stat st;
	return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}
#endif

using test_util::take;

const unsigned char *bytes(const std::string &s)
{
	return reinterpret_cast<const unsigned char *>(s.data());
}

/* A pattern whose bytes differ with position, so offsets are checked too. */
std::string pattern(size_t len)
{
	std::string s(len, '\0');
	for (size_t i = 0; i < len; i++)
		s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
	return s;
}

m::detail::SysCounters &counters()
{
	return m::detail::sys_counters();
}

M_fs_file_t *open_or_fail(const std::string &p, size_t buf_size, uint32_t mode)
{
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), buf_size, mode, nullptr), M_FS_ERROR_SUCCESS) << p;
	return fd;
}

std::string read_some(M_fs_file_t *fd, size_t len)
{
	std::string buf(len, '\0');
	size_t      n = 99;
	EXPECT_EQ(M_fs_file_read(fd, reinterpret_cast<unsigned char *>(buf.data()), len, &n, 0), M_FS_ERROR_SUCCESS);
	return buf.substr(0, n);
}

constexpr uint32_t          RD = M_FS_FILE_MODE_READ, WR = M_FS_FILE_MODE_WRITE, NOCREATE = M_FS_FILE_MODE_NOCREATE;
constexpr uint32_t          OVER = M_FS_FILE_MODE_OVERWRITE, APPEND = M_FS_FILE_MODE_APPEND;
constexpr uint32_t          R = M_FS_PERMS_MODE_READ, W = M_FS_PERMS_MODE_WRITE, X = M_FS_PERMS_MODE_EXEC;
constexpr M_fs_perms_who_t  USER = M_FS_PERMS_WHO_USER, GROUP = M_FS_PERMS_WHO_GROUP, OTHER = M_FS_PERMS_WHO_OTHER;
constexpr M_fs_perms_type_t EXACT = M_FS_PERMS_TYPE_EXACT, ADD = M_FS_PERMS_TYPE_ADD, REMOVE = M_FS_PERMS_TYPE_REMOVE;
constexpr M_fs_system_t     WIN = M_FS_SYSTEM_WINDOWS, UNIX = M_FS_SYSTEM_UNIX, AUTO = M_FS_SYSTEM_AUTO;

/* Each mode on a missing file, an existing one or a directory: the result,
 * *fd cleared on failure, and the contents after writing at the start. */
TEST(m_fs_file, open_modes)
{
	TempDir       dir;
	M_fs_perms_t *rw = M_fs_perms_create();
	M_fs_perms_set_mode(rw, R | W, USER, EXACT);
	const struct {
		const char   *before; /* nullptr: missing; "/": a directory */
		uint32_t      mode;
		M_fs_perms_t *perms;
		M_fs_error_t  result;
		const char   *write, *after;
	} rows[] = {{nullptr, APPEND, nullptr, M_FS_ERROR_INVALID, nullptr, "(missing)"},
	            {nullptr, RD | NOCREATE, nullptr, M_FS_ERROR_NOT_FOUND, nullptr, "(missing)"},
	            {nullptr, WR, nullptr, M_FS_ERROR_SUCCESS, "hello", "hello"},
	            {"hello world", WR, nullptr, M_FS_ERROR_SUCCESS, "HE", "HEllo world"},
	            {"old", RD | WR | NOCREATE, nullptr, M_FS_ERROR_SUCCESS, nullptr, "old"},
	            {"old", WR | OVER, nullptr, M_FS_ERROR_SUCCESS, nullptr, ""},
	            {"old", WR | NOCREATE | OVER, nullptr, M_FS_ERROR_SUCCESS, nullptr, ""},
	            {"abc", RD | APPEND, nullptr, M_FS_ERROR_SUCCESS, "de", "abcde"},
	            {"/", RD, nullptr, M_FS_ERROR_PERMISSION, nullptr, nullptr},
	            {"/", RD | WR, rw, M_FS_ERROR_PERMISSION, nullptr, nullptr}};
	int i    = 0;
	for (const auto &r : rows) {
		SCOPED_TRACE("row " + std::to_string(i));
		const std::string p = dir.sub(std::to_string(i++));
		if (r.before != nullptr && r.before[0] == '/') {
			ASSERT_TRUE(std::filesystem::create_directory(p));
		} else if (r.before != nullptr) {
			make_file(p, r.before);
		}
		M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
		ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, r.mode, r.perms), r.result);
		if (r.result != M_FS_ERROR_SUCCESS) {
			EXPECT_EQ(fd, nullptr);
			fd = nullptr;
		} else if (r.write != nullptr) {
			EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
			EXPECT_EQ(M_fs_file_write(fd, bytes(r.write), strlen(r.write), nullptr, 0), M_FS_ERROR_SUCCESS);
		}
		M_fs_file_close(fd);
		if (r.after != nullptr) {
			EXPECT_EQ(slurp(p), r.after);
		}
	}
	M_fs_perms_destroy(rw);
}

#if M_TEST_POSIX /* Linux only: modes, the umask and close-on-exec */
/* Created with exactly the requested modes (the umask does not apply, REMOVE
 * gives nothing, an empty object no access at all); an existing file keeps
 * its own; without permissions 0666 less the umask; never inherited. */
TEST(m_fs_file, creation_with_permissions)
{
	TempDir       dir;
	const mode_t  old   = ::umask(077);
	M_fs_perms_t *perms = M_fs_perms_create(), *none = M_fs_perms_create();
	M_fs_perms_set_mode(perms, R | W, USER, EXACT);
	M_fs_perms_set_mode(perms, R, GROUP, ADD);
	M_fs_perms_set_mode(perms, R, OTHER, REMOVE);
	M_fs_file_t *fd = nullptr;
	for (auto [name, p, want] : {std::tuple{"secret", perms, 0640u}, std::tuple{"nothing", none, 0u}}) {
		ASSERT_EQ(M_fs_file_open(&fd, dir.sub(name).c_str(), 0, WR, p), M_FS_ERROR_SUCCESS);
		M_fs_file_close(fd);
		EXPECT_EQ(mode_of(dir.sub(name)), want) << name;
	}
	ASSERT_EQ(::chmod(dir.sub("secret").c_str(), 0600), 0);
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("secret").c_str(), 0, WR | OVER, perms), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	EXPECT_EQ(mode_of(dir.sub("secret")), 0600u);
	::umask(022);
	fd              = open_or_fail(dir.sub("plain"), 0, WR);
	const int flags = ::fcntl(fd->fd, F_GETFD);
	EXPECT_TRUE(flags >= 0 && (flags & FD_CLOEXEC));
	M_fs_file_close(fd);
	EXPECT_EQ(mode_of(dir.sub("plain")), 0644u);
	::umask(old);
	M_fs_perms_destroy(perms);
	M_fs_perms_destroy(none);
}
#endif

#if M_TEST_POSIX /* Linux only: descriptors 0, 1 and 2 (fcntl) */
/* The process's streams: left open when the wrapper closes; having no name,
 * they are never hidden. */
TEST(m_fs_file, iostreams)
{
	M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
	EXPECT_EQ(M_fs_file_open_iostream(&fd, static_cast<M_fs_iostream_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	for (M_fs_iostream_t s : {M_FS_IOSTREAM_IN, M_FS_IOSTREAM_OUT, M_FS_IOSTREAM_ERR}) {
		ASSERT_EQ(M_fs_file_open_iostream(&fd, s), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(fd->fd, static_cast<int>(s));
		M_fs_info_t *info = nullptr;
		ASSERT_EQ(M_fs_info_file(&info, fd, 0), M_FS_ERROR_SUCCESS);
		EXPECT_FALSE(M_fs_info_get_ishidden(info));
		M_fs_info_destroy(info);
		EXPECT_EQ(M_fs_info_file(nullptr, fd, 0), M_FS_ERROR_SUCCESS);
		M_fs_file_close(fd);
		EXPECT_NE(::fcntl(static_cast<int>(s), F_GETFD), -1) << "stream " << s;
	}
}
#endif

TEST(m_fs_file, transfer_arguments)
{
	TempDir       dir;
	M_fs_file_t  *fd = open_or_fail(dir.sub("f"), 16, RD | WR);
	unsigned char buf[4];
	size_t        n = 99;
	EXPECT_EQ(M_fs_file_read(nullptr, buf, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(n, 0u) << "the count is cleared on failure";
	EXPECT_EQ(M_fs_file_read(fd, buf, 0, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_read(fd, nullptr, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write(fd, nullptr, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write_bytes(dir.sub("f").c_str(), nullptr, 1, 0, &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_NONE), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_write(fd, buf, 0, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, -1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER | M_FS_FILE_SYNC_OS), M_FS_ERROR_SUCCESS);
	/* A NULL count pointer is allowed. */
	EXPECT_EQ(M_fs_file_write(fd, bytes("ab"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_read(fd, buf, 4, nullptr, 0), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	/* The platform half refuses what one system call cannot carry. */
	fd = open_or_fail(dir.sub("f"), 0, RD);
	EXPECT_EQ(m::detail::file_read_sys(fd, buf, static_cast<size_t>(0x100000000ull), &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(m::detail::file_read_sys(fd, buf, 4, nullptr), M_FS_ERROR_INVALID);
	M_fs_file_close(fd);
}

TEST(m_fs_file, seek_within_buffer_costs_nothing)
{
	TempDir           dir;
	const std::string data = pattern(100000);
	make_file(dir.sub("s"), data);
	M_fs_file_t *fd = open_or_fail(dir.sub("s"), 8192, RD);
	ASSERT_EQ(read_some(fd, 1), data.substr(0, 1));
	/* Forward by exactly the buffered count: no system call. */
	m::detail::sys_counters_reset();
	const size_t left = fd->read_ahead;
	ASSERT_EQ(M_fs_file_seek(fd, static_cast<int64_t>(left), M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 0u);
	EXPECT_EQ(read_some(fd, 1), data.substr(1 + left, 1));
	/* The caller's position, not the system's (which is ahead by the buffer). */
	uint64_t at = 0;
	EXPECT_EQ(M_fs_file_tell(fd, &at), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(at, 2 + left);
	/* Farther: one system seek that accounts for the read-ahead. */
	m::detail::sys_counters_reset();
	const size_t jump = fd->read_ahead + 5;
	ASSERT_EQ(M_fs_file_seek(fd, static_cast<int64_t>(jump), M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 1u);
	EXPECT_EQ(read_some(fd, 1), data.substr(2 + left + jump, 1));
	/* A distance that cannot be corrected for the read-ahead is refused
     * without giving up the buffered bytes. */
	const size_t ahead = fd->read_ahead;
	EXPECT_EQ(M_fs_file_seek(fd, INT64_MIN, M_FS_FILE_SEEK_CUR), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_buf_len(fd->read_buf), ahead);
	EXPECT_EQ(read_some(fd, 1), data.substr(3 + left + jump, 1));
	EXPECT_EQ(M_fs_file_seek(fd, 5, static_cast<M_fs_file_seek_t>(3)), M_FS_ERROR_INVALID);
	ASSERT_EQ(M_fs_file_seek(fd, -3, M_FS_FILE_SEEK_END), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(read_some(fd, 1), data.substr(data.size() - 3, 1));
	M_fs_file_close(fd);
#if M_TEST_POSIX /* Linux only: a FIFO made by name */
	/* A FIFO has no position to tell. */
	ASSERT_EQ(::mkfifo(dir.sub("p").c_str(), 0600), 0);
	fd = open_or_fail(dir.sub("p"), 0, RD | WR);
	EXPECT_EQ(M_fs_file_tell(fd, &at), M_FS_ERROR_SEEK);
	EXPECT_EQ(at, 0u);
	M_fs_file_close(fd);
#endif
}

/* A short write stays in the buffer (the full count reported), through a zero
 * or a refused seek, until a sync, a read, a seek or the close. */
TEST(m_fs_file, short_write_waits)
{
	const std::function<void(M_fs_file_t *)> events[] = {
	    [](M_fs_file_t *fd) { EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER), M_FS_ERROR_SUCCESS); },
	    [](M_fs_file_t *fd) { EXPECT_EQ(read_some(fd, 1), "") << "the position is after the written bytes"; },
	    [](M_fs_file_t *fd) {
		    ASSERT_EQ(M_fs_file_seek(fd, 1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
		    EXPECT_EQ(read_some(fd, 8), "hort");
	    },
	    [](M_fs_file_t *fd) { M_fs_file_close(fd); }};
	for (size_t i = 0; i < std::size(events); i++) {
		TempDir      dir;
		M_fs_file_t *fd = open_or_fail(dir.sub("w"), 64, RD | WR);
		m::detail::sys_counters_reset();
		size_t n = 0;
		EXPECT_EQ(M_fs_file_write(fd, bytes("short"), 5, &n, 0), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(n, 5u);
		EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_file_seek(fd, 0, static_cast<M_fs_file_seek_t>(7)), M_FS_ERROR_INVALID);
		EXPECT_EQ(counters().write + counters().seek, 0u);
		EXPECT_EQ(slurp(dir.sub("w")), "");
		uint64_t at = 0;
		EXPECT_EQ(M_fs_file_tell(fd, &at), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(at, 5u) << "the waiting bytes count";
		events[i](fd);
		EXPECT_EQ(counters().write, 1u) << i;
		EXPECT_EQ(counters().fsync, 0u) << i;
		EXPECT_EQ(slurp(dir.sub("w")), "short") << i;
		if (i != 3)
			M_fs_file_close(fd);
	}
}

/* Writing after a read gives back the read-ahead (one seek); reading on
 * writes the pending bytes out first, in their place. */
TEST(m_fs_file, write_after_read_gives_back_read_ahead)
{
	TempDir           dir;
	const std::string data = pattern(100);
	make_file(dir.sub("rw"), data);
	M_fs_file_t *fd = open_or_fail(dir.sub("rw"), 4096, RD | WR);
	EXPECT_EQ(read_some(fd, 5), data.substr(0, 5));
	EXPECT_EQ(fd->read_ahead, 95u);
	m::detail::sys_counters_reset();
	ASSERT_EQ(M_fs_file_write(fd, bytes("XY"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 1u);
	EXPECT_EQ(fd->read_ahead + M_buf_len(fd->read_buf), 0u);
	EXPECT_EQ(read_some(fd, 3), data.substr(7, 3));
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(dir.sub("rw")), data.substr(0, 5) + "XY" + data.substr(7));
}

#if M_TEST_POSIX /* Linux only: a full device made with mknod */
TEST(m_fs_file, failed_write_out_keeps_bytes_and_reports_io)
{
	/* A device that refuses every write with ENOSPC (the kernel's "full"
     * device, 1:7), made in the scratch folder, not the machine's /dev. */
	TempDir           dir;
	const std::string full = dir.sub("full");
	if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
		GTEST_SKIP() << "cannot make a device node here (mknod needs CAP_MKNOD)";
	const int probe = ::open(full.c_str(), O_WRONLY | O_CLOEXEC);
	if (probe < 0)
		GTEST_SKIP() << "the scratch folder does not allow devices (nodev)";
	::close(probe);
	M_fs_file_t *fd = open_or_fail(full, 16, WR | NOCREATE);
	ASSERT_EQ(M_fs_file_write(fd, bytes("data"), 4, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER | M_FS_FILE_SYNC_OS), M_FS_ERROR_IO);
	EXPECT_EQ(M_buf_len(fd->write_buf), 4u) << "unwritten bytes stay buffered";
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER), M_FS_ERROR_IO);
	M_fs_file_close(fd); /* the failure is ignored here */
	/* Unbuffered, the device's ENOSPC surfaces directly (unclassified). */
	fd       = open_or_fail(full, 0, WR | NOCREATE);
	size_t n = 9;
	EXPECT_EQ(M_fs_file_write(fd, bytes("data"), 4, &n, 0), M_FS_ERROR_GENERIC);
	EXPECT_EQ(n, 0u);
	M_fs_file_close(fd);
}
#endif

TEST(m_fs_file, read_bytes)
{
	TempDir           dir;
	const std::string data = pattern(3000), big = pattern(256 * 1024);
	make_file(dir.sub("f"), data);
	make_file(dir.sub("empty"), "");
	make_file(dir.sub("big"), big);
	const struct {
		std::string  path;
		size_t       max;
		M_fs_error_t result;
		std::string  contents;
	} rows[] = {
		{dir.sub("f"), data.size(), M_FS_ERROR_SUCCESS, data},
		{dir.sub("f"), data.size() - 1, M_FS_ERROR_FILE_TOO_BIG, ""},
		{dir.sub("empty"), 0, M_FS_ERROR_SUCCESS, ""},
		{dir.sub("missing"), 0, M_FS_ERROR_NOT_FOUND, ""},
		{dir.path(), 0, M_FS_ERROR_PERMISSION, ""},
		{"", 0, M_FS_ERROR_INVALID, ""},
#if M_TEST_POSIX /* Linux only: /proc */
		/* /proc files report size 0: only reading to the end finds their data */
		{"/proc/self/cmdline", 0, M_FS_ERROR_SUCCESS, slurp("/proc/self/cmdline")},
#endif
		{dir.sub("big"), 0, M_FS_ERROR_SUCCESS, big}
	};
	for (const auto &r : rows) {
		unsigned char *buf = reinterpret_cast<unsigned char *>(1);
		size_t         len = 99;
		EXPECT_EQ(M_fs_file_read_bytes(r.path.c_str(), r.max, &buf, &len), r.result) << r.path << " " << r.max;
		EXPECT_EQ(len, r.contents.size()) << r.path;
		if (r.result == M_FS_ERROR_SUCCESS) {
			EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), r.contents) << r.path;
			EXPECT_EQ(buf[len], 0) << "terminated";
			M_free(buf);
		} else {
			EXPECT_EQ(buf, nullptr) << r.path;
		}
	}
}

/* The system's words for a failure come from the call that failed, are cut
 * to the room given, and belong to the thread that met it. */
TEST(m_platform, strerror_names_the_last_failure_of_the_thread)
{
	TempDir        dir;
	unsigned char *buf = nullptr;
	char           missing[128];
	char           is_dir[128];
	char           cut[4];
	ASSERT_EQ(M_fs_file_read_bytes(dir.sub("missing").c_str(), 0, &buf, nullptr), M_FS_ERROR_NOT_FOUND);
	EXPECT_TRUE(M_platform_strerror(missing, sizeof(missing)));
#if M_TEST_POSIX /* Linux only: the C library's texts are the system's */
	EXPECT_STREQ(missing, std::strerror(ENOENT));
#endif
	const std::string text(missing);
	ASSERT_FALSE(text.empty());
	EXPECT_EQ(text.find_first_of(".\r\n", text.size() - 1), std::string::npos) << "a bare text: " << text;
	ASSERT_EQ(M_fs_file_write_bytes(dir.sub("missing/x").c_str(), bytes("x"), 1, 0, nullptr), M_FS_ERROR_NOT_FOUND);
	ASSERT_EQ(M_fs_file_read_bytes(dir.path().c_str(), 0, &buf, nullptr), M_FS_ERROR_PERMISSION);
	EXPECT_TRUE(M_platform_strerror(is_dir, sizeof(is_dir)));
	EXPECT_STRNE(is_dir, missing) << "the later failure's reason";
	EXPECT_TRUE(M_platform_strerror(cut, sizeof(cut)));
	EXPECT_EQ(std::string(cut), std::string(is_dir).substr(0, 3));
	std::thread([] {
		char fresh[8] = "x";
		EXPECT_FALSE(M_platform_strerror(fresh, sizeof(fresh)));
		EXPECT_STREQ(fresh, "");
	}).join();
}

TEST(m_fs_file, write_bytes)
{
	TempDir    dir;
	const auto p = dir.sub("out");
	const struct {
		std::string  data;
		size_t       len;
		uint32_t     mode;
		M_fs_error_t result;
		size_t       written;
		std::string  after;
	} rows[] = {{"first line\n", 0, WR, M_FS_ERROR_SUCCESS, 11, "first line\n"},
	            {"abcdef", 3, 0, M_FS_ERROR_SUCCESS, 3, "abc"},
	            {"de", 0, APPEND, M_FS_ERROR_SUCCESS, 2, "abcde"},
	            /* An empty string is refused, and leaves the file emptied. */
	            {"", 0, 0, M_FS_ERROR_INVALID, 0, ""}};
	for (const auto &r : rows) {
		size_t n = 99;
		EXPECT_EQ(M_fs_file_write_bytes(p.c_str(), bytes(r.data), r.len, r.mode, &n), r.result) << r.after;
		EXPECT_EQ(n, r.written);
		EXPECT_EQ(slurp(p), r.after);
	}
	EXPECT_EQ(M_fs_file_write_bytes(dir.sub("no/dir").c_str(), bytes("x"), 1, 0, nullptr), M_FS_ERROR_NOT_FOUND);
#if M_TEST_POSIX /* Linux only: the home directory from $HOME */
	/* "~" is the home directory. */
	EnvGuard home("HOME", dir.path().c_str());
	EXPECT_EQ(M_fs_file_write_bytes("~/in_home", bytes("h"), 1, 0, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(dir.sub("in_home")), "h");
#endif
}

#if M_TEST_POSIX /* Linux only: signals and file size limits in a forked child */
/* What a signal or a file size limit in the middle of a replace leaves: the
 * child writes "new" over "old" and meets its fate once the temporary file
 * is complete (the hook also checks that the file is still 0600 then). */
TEST(m_fs_file, replace_interrupted_leaves_old_file_and_no_temporary)
{
	const struct {
		int  sig;      /* raised from the hook; 0: none */
		bool ignored;  /* the process ignores it */
		bool limit;    /* a file size limit below the new content */
		int  killed;   /* the signal that ends the child, or 0 */
		bool replaced; /* the file holds the new content */
	} rows[] = {{SIGINT, false, false, SIGINT, false},   {SIGTERM, false, false, SIGTERM, false},
	            {SIGUSR2, false, false, SIGUSR2, false}, {SIGRTMIN + 3, false, false, SIGRTMIN + 3, false},
	            {SIGHUP, true, false, 0, true},          {0, false, true, 0, false}};
	for (const auto &r : rows) {
		TempDir           dir;
		const std::string out = dir.sub("out");
		make_file(out, "old", 0640);
		static int raise_sig;
		raise_sig       = r.sig;
		const pid_t pid = ::fork();
		if (pid == 0) {
			/* The disposition is set either way: a run started in the
			 * background inherits SIGINT ignored. */
			const struct rlimit small = {4, 4};
			if ((r.sig != 0 && ::signal(r.sig, r.ignored ? SIG_IGN : SIG_DFL) == SIG_ERR) ||
			    (r.limit && ::setrlimit(RLIMIT_FSIZE, &small)))
				::_exit(2);
			m::detail::replace_test_hook = [](const char *tmp) {
				struct stat st;
				if (::stat(tmp, &st) != 0 || (st.st_mode & 0777) != 0600 || st.st_size != 5)
					::_exit(3);
				if (raise_sig != 0)
					::raise(raise_sig);
			};
			/* Written in two steps: a limit met by the first write must
			 * still fail the commit. */
			M_fs_replace_t *rep = nullptr;
			if (M_fs_replace_begin(&rep, out.c_str()) != M_FS_ERROR_SUCCESS)
				::_exit(4);
			(void)M_fs_replace_write(rep, bytes("new"), 3);
			(void)M_fs_replace_write(rep, bytes("er"), 2);
			::_exit(M_fs_replace_commit(rep) == M_FS_ERROR_SUCCESS ? 0 : 1);
		}
		int status = 0;
		ASSERT_EQ(::waitpid(pid, &status, 0), pid);
		if (r.killed != 0)
			EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == r.killed) << r.sig << " " << status;
		else
			EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (r.replaced ? 0 : 1)) << r.sig << " " << status;
		EXPECT_EQ(slurp(out), r.replaced ? "newer" : "old") << r.sig;
		EXPECT_EQ(mode_of(out), 0640u) << r.sig;
		EXPECT_EQ(std::system(("test \"$(ls -A '" + dir.path() + "')\" = out").c_str()), 0) << r.sig;
	}
}
#endif

/* The names in a directory, sorted and joined with spaces. */
std::string names_in(const std::string &dir)
{
	std::vector<std::string> names;
	for (const auto &e : std::filesystem::directory_iterator(dir))
		names.push_back(e.path().filename().string());
	std::sort(names.begin(), names.end());
	std::string all;
	for (const auto &n : names)
		all += (all.empty() ? "" : " ") + n;
	return all;
}

/* A staged replace: the temporary file exists (0600 on POSIX) from the
 * begin, the output keeps its content until the commit, and a cancel leaves
 * nothing behind; the directory is checked before any data exists, and a
 * FIFO is not waited on before there is data. */
TEST(m_fs_replace, stages_keep_the_old_file_until_the_commit)
{
	TempDir           dir;
	const std::string out = dir.sub("out");
	make_file(out, "old", 0640);
	M_fs_replace_t *rep = nullptr;
	ASSERT_EQ(M_fs_replace_begin(&rep, out.c_str()), M_FS_ERROR_SUCCESS);
	const std::string listed = names_in(dir.path());
	ASSERT_EQ(listed.rfind(".out.", 0), 0u) << listed;
#if M_TEST_POSIX /* Linux only: mode bits */
	EXPECT_EQ(mode_of(dir.sub(listed.substr(0, listed.find(' ')))), 0600u);
#endif
	EXPECT_EQ(M_fs_replace_write(rep, bytes("new"), 3), M_FS_ERROR_SUCCESS);
	M_fs_replace_t *second = reinterpret_cast<M_fs_replace_t *>(1);
	EXPECT_EQ(M_fs_replace_begin(&second, dir.sub("other").c_str()), M_FS_ERROR_GENERIC);
	EXPECT_EQ(second, nullptr);
	EXPECT_EQ(slurp(out), "old");
	M_fs_replace_cancel(rep);
	EXPECT_EQ(names_in(dir.path()), "out");
	EXPECT_EQ(slurp(out), "old");

	ASSERT_EQ(M_fs_replace_begin(&rep, out.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_replace_write(rep, bytes("ab"), 2), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_replace_write(rep, bytes("cd"), 2), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_replace_commit(rep), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(out), "abcd");
	EXPECT_EQ(names_in(dir.path()), "out");
	EXPECT_EQ(M_fs_replace_begin(&rep, dir.sub("nodir/x").c_str()), M_FS_ERROR_NOT_FOUND);
#if M_TEST_POSIX /* Linux only: modes kept, FIFOs */
	EXPECT_EQ(mode_of(out), 0640u);
	ASSERT_EQ(::mkfifo(dir.sub("fifo").c_str(), 0600), 0);
	ASSERT_EQ(M_fs_replace_begin(&rep, dir.sub("fifo").c_str()), M_FS_ERROR_SUCCESS);
	M_fs_replace_cancel(rep);
	EXPECT_EQ(names_in(dir.path()), "fifo out");
#endif
}

std::string err(M_fs_error_t e)
{
	return "error:" + std::to_string(static_cast<int>(e));
}

/* Normalise and report the result or "error:<code>". */
std::string norm(const std::string &path, uint32_t flags, M_fs_system_t sys)
{
	char              *out = reinterpret_cast<char *>(1);
	const M_fs_error_t res = M_fs_path_norm(&out, path.c_str(), flags, sys);
	if (res != M_FS_ERROR_SUCCESS) {
		EXPECT_EQ(out, nullptr) << "failure must leave *out NULL";
		return err(res);
	}
	return take(out);
}

/* One text function: 'a' isabs, 'u' isunc ("1"/"0"), 'c' components (each
 * in brackets), 'p' join_parts of a split at '|', 'j' join(a, b),
 * 'r' join_resolved(a, b, c), 'b' basename, 'd' dirname, 'l' length,
 * 's' the file part of a stream name ("-": no stream). */
std::string apply(char op, M_fs_system_t sys, const char *a, const char *b, const char *c)
{
	M_list_str_t *l = nullptr;
	std::string   out, s = a != nullptr ? a : "";
	switch (op) {
		case 'a':
			return M_fs_path_isabs(a, sys) ? "1" : "0";
		case 'u':
			return M_fs_path_isunc(a) ? "1" : "0";
		case 'c':
			l = M_fs_path_componentize_path(a, sys);
			for (size_t i = 0; i < M_list_str_len(l); i++)
				out += std::string("[") + M_list_str_at(l, i) + "]";
			break;
		case 'p':
			l = M_list_str_create(M_LIST_STR_NONE);
			for (size_t pos = 0, bar = 0; bar != std::string::npos; pos = bar + 1) {
				bar = s.find('|', pos);
				M_list_str_insert(l, s.substr(pos, bar - pos).c_str());
			}
			out = take(M_fs_path_join_parts(l, sys));
			break;
		case 'j':
			return take(M_fs_path_join(a, b, sys));
		case 'r':
			return take(M_fs_path_join_resolved(a, b, c, sys));
		case 'b':
			return take(M_fs_path_basename(a, sys));
		case 'l':
			return std::to_string(M_fs_path_length(a, sys));
		case 's': {
			size_t len = 0;
			return M_fs_path_has_stream(a, sys, &len) ? s.substr(0, len) : "-";
		}
		default:
			return take(M_fs_path_dirname(a, sys));
	}
	M_list_str_destroy(l);
	return out;
}

TEST(m_fs_path, text_functions)
{
	const struct {
		char          op;
		M_fs_system_t sys;
		const char   *a, *b, *c, *want;
	} rows[] = {{'a', WIN, "C:\\x", 0, 0, "1"},
	            {'a', WIN, "C:", 0, 0, "1"},
	            {'a', WIN, "C:name", 0, 0, "1"},
	            {'a', WIN, "\\\\srv\\s", 0, 0, "1"},
	            {'a', WIN, "\\x", 0, 0, "0"},
	            {'a', UNIX, "/x", 0, 0, "1"},
	            {'a', UNIX, "C:\\x", 0, 0, "0"},
	            {'a', static_cast<M_fs_system_t>(3), "/x", 0, 0, "0"},
	            {'u', UNIX, "\\\\", 0, 0, "1"},
	            {'u', UNIX, "\\srv", 0, 0, "0"},
	            /* A root is one empty component. */
	            {'c', WIN, "C:\\data\\x", 0, 0, "[C:][data][x]"},
	            {'c', WIN, "\\\\srv\\share", 0, 0, "[][srv][share]"},
	            {'c', WIN, "\\lost", 0, 0, "[lost]"},
	            {'c', WIN, "\\", 0, 0, ""},
	            {'c', WIN, "\\\\", 0, 0, "[]"},
	            {'c', UNIX, "/usr/lib", 0, 0, "[][usr][lib]"},
	            {'c', UNIX, "a//b\\\\c/", 0, 0, "[a][b][c]"},
	            {'p', WIN, "C:|data|x", 0, 0, "C:\\data\\x"},
	            {'p', WIN, "C:", 0, 0, "C:\\"},
	            {'p', WIN, "|srv|share", 0, 0, "\\\\srv\\share"},
	            {'p', WIN, "", 0, 0, "\\\\"},
	            {'p', UNIX, "", 0, 0, "/"},
	            {'p', UNIX, "a||b|", 0, 0, "a/b"},
	            {'j', WIN, "C:\\a", "b", 0, "C:\\a\\b"},
	            {'j', WIN, "C:\\a", "D:\\x", 0, "D:\\x"},
	            {'j', UNIX, "/a/", "b", 0, "/a/b"},
	            {'j', UNIX, "/a", "/b", 0, "/b"},
	            {'j', UNIX, nullptr, "b", 0, "b"},
	            {'j', UNIX, "a", nullptr, 0, "a"},
	            {'r', UNIX, "/etc", "conf/main.cfg", "other.cfg", "/etc/conf/other.cfg"},
	            {'r', UNIX, "/etc", "main.cfg", "/abs/x", "/abs/x"},
	            {'r', WIN, "C:\\d", "f.txt", "g.txt", "C:\\d\\g.txt"},
	            {'r', UNIX, nullptr, "f.txt", "g.txt", "./g.txt"},
	            {'r', UNIX, "", nullptr, "", "(null)"},
	            {'b', WIN, "C:\\exports\\today.exp", 0, 0, "today.exp"},
	            {'b', WIN, "C:", 0, 0, "(null)"},
	            {'b', WIN, "\\\\srv\\share\\x", 0, 0, "x"},
	            {'b', UNIX, "/exports/today.exp", 0, 0, "today.exp"},
	            {'b', UNIX, "dir/", 0, 0, "dir"},
	            {'b', UNIX, "/", 0, 0, "(null)"},
	            {'d', WIN, "C:\\exports\\today.exp", 0, 0, "C:\\exports"},
	            {'d', WIN, "C:", 0, 0, "C:\\"},
	            {'d', WIN, "\\\\srv\\share\\x", 0, 0, "\\\\srv\\share"},
	            {'d', UNIX, "/exports/today.exp", 0, 0, "/exports"},
	            {'d', UNIX, "/", 0, 0, "/"},
	            {'d', UNIX, nullptr, 0, 0, "."},
	            /* Characters as the system counts them: UTF-16 units on Windows. */
	            {'l', WIN, "\xD0\x96x\xF0\x9F\x98\x80", 0, 0, "4"},
	            {'l', UNIX, "\xD0\x96x\xF0\x9F\x98\x80", 0, 0, "7"},
	            /* Streams: a colon but that of a drive. */
	            {'s', WIN, "out.gpg:hidden", 0, 0, "out.gpg"},
	            {'s', WIN, "x.exp::$DATA", 0, 0, "x.exp"},
	            {'s', WIN, "C:f.gpg:s", 0, 0, "C:f.gpg"},
	            {'s', WIN, "\\\\?\\C:\\x:s", 0, 0, "\\\\?\\C:\\x"},
	            {'s', WIN, "C:\\d\\f.gpg", 0, 0, "-"},
	            {'s', UNIX, "out.gpg:hidden", 0, 0, "-"}};
	EXPECT_EQ(M_fs_path_get_system_sep(WIN), '\\');
	for (const auto &r : rows)
		EXPECT_EQ(apply(r.op, r.sys, r.a, r.b, r.c), r.want)
		    << r.op << " style " << r.sys << " " << (r.a ? r.a : "NULL") << " " << (r.b ? r.b : "NULL");

	M_list_str_t *none = M_list_str_create(M_LIST_STR_NONE);
	EXPECT_EQ(take(M_fs_path_join_parts(none, UNIX)), "(null)");
	M_list_str_destroy(none);
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 3, "", "a", "b")), "/a/b");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 2, "a", static_cast<const char *>(nullptr))), "a");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 0)), "(null)");
}

#if M_TEST_POSIX /* Linux only: symbolic links, $HOME and the Unix style as the host's */
TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_fs_path, norm)
{
	TempDir dir;
	ASSERT_EQ(::mkdir(dir.sub("real").c_str(), 0755), 0);
	ASSERT_EQ(::mkdir(dir.sub("real/sub").c_str(), 0755), 0);
	ASSERT_EQ(::symlink("real", dir.sub("rel").c_str()), 0);                  /* relative */
	ASSERT_EQ(::symlink(dir.sub("real").c_str(), dir.sub("abs").c_str()), 0); /* absolute */
	ASSERT_EQ(::symlink("../real/sub", dir.sub("real/up").c_str()), 0);       /* with ".." */
	ASSERT_EQ(::symlink("b", dir.sub("a").c_str()), 0);
	ASSERT_EQ(::symlink("a", dir.sub("b").c_str()), 0);
	ASSERT_EQ(::symlink("self", dir.sub("self").c_str()), 0);
	/* l1 -> l2 -> ... -> l25 -> target: 24 rewrites from l2 are allowed. */
	for (int i = 1; i <= 25; i++) {
		const std::string to = i == 25 ? "target" : "l" + std::to_string(i + 1);
		ASSERT_EQ(::symlink(to.c_str(), dir.sub("l" + std::to_string(i)).c_str()), 0);
	}
	CwdGuard    in(dir.path());
	EnvGuard    appdata("APPDATA", "C:\\Users\\u\\AppData\\Roaming"), base("MFS_BASE", "/srv/data");
	EnvGuard    empty("MFS_EMPTY_VAR", ""), unset("MFS_UNSET", nullptr), home("HOME", "/home/tester");
	std::string dotted = "x/"; /* the limit is on the text given, before ".." shortens it */
	std::string cyrillic;
	while (cyrillic.size() < 40000)
		cyrillic += "\xD0\x96";
	while (dotted.size() < 4094)
		dotted += "./";
	const uint32_t    LINK = M_FS_PATH_NORM_RESOLVE_LINK, ABS = M_FS_PATH_NORM_ABSOLUTE, HOME = M_FS_PATH_NORM_HOME;
	const std::string LOOP = err(M_FS_ERROR_LINK_LOOP), GENERIC = err(M_FS_ERROR_GENERIC);

	const struct {
		std::string   path;
		uint32_t      flags;
		M_fs_system_t sys;
		std::string   want;
	} rows[] = {{"a\\.\\b\\..\\c", 0, WIN, "a\\c"},
	            {"C:\\..\\x", 0, WIN, "C:\\x"},
	            {"\\\\srv\\share\\x", 0, WIN, "\\\\srv\\share\\x"},
	            {"\\\\srv\\share\\..\\..\\..\\y", 0, WIN, "\\\\y"},
	            {"/", 0, WIN, GENERIC},
	            {"a\\..", 0, WIN, "."},
	            {"a/./b/../c", 0, UNIX, "a/c"},
	            {"../../x", 0, UNIX, "../../x"},
	            {"/../x", 0, UNIX, "/x"},
	            {"a/../b", M_FS_PATH_NORM_NOPARENT, UNIX, "a/../b"},
	            {"a//b/", 0, UNIX, "a/b"},
	            {"a\\b", 0, UNIX, "a/b"},
	            {"x/../../y", 0, AUTO, "../y"},
	            {"", 0, UNIX, err(M_FS_ERROR_INVALID)},
	            /* Length. */
	            {std::string(32766, 'a'), 0, WIN, std::string(32766, 'a')},
	            {std::string(32767, 'a'), 0, WIN, err(M_FS_ERROR_NAME_TOO_LONG)},
	            {cyrillic, 0, WIN, cyrillic}, /* 20,000 characters in 40,000 bytes */
	            {std::string(4096, 'a'), 0, UNIX, err(M_FS_ERROR_NAME_TOO_LONG)},
	            {dotted + "y", 0, UNIX, "x/y"},
	            /* Variables: "%" must close the name; an empty name removes the
         * component; an unset or empty variable is an error. */
	            {"%APPDATA%\\x", 0, WIN, "C:\\Users\\u\\AppData\\Roaming\\x"},
	            {"%MFS_UNSET%\\x", 0, WIN, GENERIC},
	            {"a/$MFS_UNSET", 0, UNIX, GENERIC},
	            {"$MFS_EMPTY_VAR/x", 0, UNIX, GENERIC},
	            {"$APPDATA\\x", 0, WIN, "C:\\Users\\u\\AppData\\Roaming\\x"},
	            {"$MFS_BASE/x", 0, UNIX, "/srv/data/x"},
	            {"a/$MFS_BASE/b", 0, UNIX, "a/srv/data/b"},
	            {"$MFS_BASE/x", ABS, UNIX, "/srv/data/x"}, /* the value's root kept: no current directory added */
	            {"%MFS_BASE", 0, UNIX, "%MFS_BASE"},
	            {"a/$/b/%%", 0, UNIX, "a/b"},
	            {"$", 0, UNIX, "."},
	            {"%%", HOME, UNIX, GENERIC},
	            {"$", ABS, UNIX, GENERIC},
	            /* Home. */
	            {"~/x", HOME, UNIX, "/home/tester/x"},
	            {"~/x", 0, UNIX, "~/x"},
	            {"a/~", HOME, UNIX, "a/~"},
	            {"~user/x", HOME, UNIX, "~user/x"},
	            /* Absolute. */
	            {"x/y", ABS, UNIX, dir.sub("x/y")},
	            {"../z", ABS, UNIX, "/tmp/z"},
	            /* Links: relative, absolute and with "..", against the current
         * directory for relative paths; UNC paths are never read as links. */
	            {dir.sub("rel/x"), LINK, UNIX, dir.sub("real/x")},
	            {dir.sub("rel/up/f"), LINK, UNIX, dir.sub("real/sub/f")},
	            {"rel/x", LINK, UNIX, "real/x"},
	            {"\\\\srv\\share\\x", LINK, WIN, "\\\\srv\\share\\x"},
	            {dir.sub("a"), LINK, UNIX, LOOP},
	            {dir.sub("l2"), LINK, UNIX, dir.sub("target")},
	            {dir.sub("l1"), LINK, UNIX, LOOP}};
	for (const auto &r : rows)
		EXPECT_EQ(norm(r.path, r.flags, r.sys), r.want) << r.path << " style " << r.sys << " flags " << r.flags;

	/* The file layer reports the loop rather than the system's ELOOP. */
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, dir.sub("a").c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_LINK_LOOP);
	EXPECT_EQ(fd, nullptr);
	/* Home is looked up each time; without $HOME the password database
     * still names one. */
	EnvGuard other("HOME", "/elsewhere/u2");
	EXPECT_EQ(norm("~/x", HOME, UNIX), "/elsewhere/u2/x");
	EnvGuard no_home("HOME", nullptr);
	EXPECT_EQ(norm("~", HOME, UNIX).rfind("/", 0), 0u);
	EXPECT_EQ(M_fs_path_set_cwd("/nonexistent/mfs/dir"), M_FS_ERROR_NOT_FOUND);
	EnvGuard xdg("XDG_CONFIG_HOME", "/cfg/base");
	EXPECT_EQ(take(M_fs_path_user_confdir(UNIX)), "/cfg/base");
}
TEST_GCC12_FALSE_POSITIVE_END()
#endif

#if M_TEST_POSIX /* Linux only: symbolic links and /proc/self/fd */
/* Kernel-object targets are told apart within the length readlink gives:
 * its result is not terminated, so a short target must not be compared past
 * its end. A directory, a missing file and kernel objects are no links. */
TEST(m_fs_path, readlink)
{
	TempDir dir;
	ASSERT_EQ(::symlink("target/file", dir.sub("l").c_str()), 0);
	ASSERT_EQ(::symlink("anon_inode:[eventfd]", dir.sub("anon").c_str()), 0);
	ASSERT_EQ(::symlink("anon_inod", dir.sub("short").c_str()), 0);
	int fds[2];
	ASSERT_EQ(::pipe(fds), 0);
	const std::string                          pipe_entry = "/proc/self/fd/" + std::to_string(fds[0]);
	const std::pair<std::string, const char *> rows[]     = {
	        {dir.sub("l"), "target/file"}, {dir.sub("short"), "anon_inod"}, {dir.sub("anon"), "(null)"},
	        {dir.path(), "(null)"},        {dir.sub("missing"), "(null)"},  {pipe_entry, "(null)"}};
	for (const auto &[path, want] : rows) {
		char *out = reinterpret_cast<char *>(1);
		EXPECT_EQ(M_fs_path_readlink(&out, path.c_str()), M_FS_ERROR_SUCCESS) << path;
		EXPECT_EQ(take(out), want) << path;
	}
	char *out = nullptr;
	EXPECT_EQ(M_fs_path_readlink(&out, ""), M_FS_ERROR_INVALID);
	/* The whole road: /dev/fd/N of a pipe reads as a file (process
     * substitution, /dev/stdin). */
	ASSERT_EQ(::write(fds[1], "through the pipe", 16), 16);
	::close(fds[1]);
	unsigned char *buf = nullptr;
	size_t         len = 0;
	EXPECT_EQ(M_fs_file_read_bytes(("/dev/fd/" + std::to_string(fds[0])).c_str(), 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), "through the pipe");
	M_free(buf);
	::close(fds[0]);
}
#endif

#if M_TEST_POSIX /* Linux only: a name beginning with "." is hidden */
TEST(m_fs_path, ishidden)
{
	TempDir dir;
	make_file(dir.sub(".dot"), "x");
	make_file(dir.sub("plain"), "x");
	EXPECT_TRUE(M_fs_path_ishidden(dir.sub(".dot").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub("plain").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub(".missing").c_str(), nullptr));
	EXPECT_EQ(M_fs_info(nullptr, dir.path().c_str(), 0), M_FS_ERROR_SUCCESS);
	/* "." and ".." name directories, not hidden files. */
	CwdGuard in(dir.path());
	EXPECT_FALSE(M_fs_path_ishidden(".", nullptr));
	EXPECT_FALSE(M_fs_path_ishidden("..", nullptr));
	/* With information at hand, its flag is the answer. */
	M_fs_info_t *info = M_fs_info_create();
	M_fs_info_set_hidden(info, M_TRUE);
	EXPECT_TRUE(M_fs_path_ishidden("plain", info));
	M_fs_info_destroy(info);
}
#endif

/* Every entry of a permissions object in one line: per class the file entry
 * and the directory entry as mode and kind ("=" exact, "+" add, "-" remove;
 * "." unset), then the owner. */
std::string show(const M_fs_perms_t *p)
{
	std::string out;
	for (M_fs_perms_who_t who : {USER, GROUP, OTHER, static_cast<M_fs_perms_who_t>(3)}) {
		out += M_fs_perms_get_isset(p, who)
		           ? std::to_string(M_fs_perms_get_mode(p, who)) + "=+-"[M_fs_perms_get_type(p, who)]
		           : ".";
		out += M_fs_perms_get_dir_isset(p, who)
		           ? std::to_string(M_fs_perms_get_dir_mode(p, who)) + "=+-"[M_fs_perms_get_dir_type(p, who)]
		           : ".";
		out += " ";
	}
	const char *user = M_fs_perms_get_user(p), *group = M_fs_perms_get_group(p);
	return out + (user ? user : "-") + ":" + (group ? group : "-");
}

TEST(m_fs_perms, entries)
{
	M_fs_perms_t *p = M_fs_perms_create();
	EXPECT_EQ(show(p), ".. .. .. .. -:-");
	M_fs_perms_set_mode(p, R | W, USER, EXACT);
	M_fs_perms_set_mode(p, R, GROUP, ADD);
	M_fs_perms_set_dir_mode(p, X | 0xF0u, OTHER, REMOVE); /* only the three mode bits are kept */
	/* Unknown classes and kinds are ignored. */
	M_fs_perms_set_mode(p, R, static_cast<M_fs_perms_who_t>(3), EXACT);
	M_fs_perms_set_mode(p, R, OTHER, static_cast<M_fs_perms_type_t>(7));
	EXPECT_EQ(show(p), "3=. 1+. .4- .. -:-");
	/* unset_dir_mode clears only the directory entry; unset_mode both. */
	M_fs_perms_set_dir_mode(p, R, USER, EXACT);
	M_fs_perms_set_dir_mode(p, R, GROUP, EXACT);
	M_fs_perms_unset_dir_mode(p, USER);
	M_fs_perms_unset_mode(p, GROUP);
	EXPECT_EQ(show(p), "3=. .. .4- .. -:-");
	/* A copy is deep. */
	ASSERT_EQ(M_fs_perms_set_user(p, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_t *d = M_fs_perms_dup(p);
	EXPECT_NE(M_fs_perms_get_user(d), M_fs_perms_get_user(p));
	M_fs_perms_destroy(p);
	EXPECT_EQ(show(d), "3=. .. .4- .. root:-");
	M_fs_perms_destroy(d);
}

/* Into an EXACT entry src's entry is applied; an unset, ADD or REMOVE entry
 * is replaced by src's; entries unset in src stay as they were; a user in src
 * replaces dest's, none keeps it. */
/* The access masks of the eight modes for the owner and for the others, and
 * the mode each granted mask reads back as: the generic right or all the
 * file rights of a mode grant it, part of them does not. */
TEST(m_fs_perms, access_masks_and_granted_modes)
{
	const uint32_t owner[8] = {0x000F0000, 0x801F0089, 0x401F0116, 0xC01F019F,
	                           0x201F00A0, 0xA01F00A9, 0x601F01B6, 0xE01F01BF};
	const uint32_t other[8] = {0, 0x80120089, 0x40120116, 0xC012019F, 0x201200A0, 0xA01200A9, 0x601201B6, 0xE01201BF};
	for (uint32_t mode = 0; mode < 8; mode++) {
		EXPECT_EQ(m::detail::perms_access_mask(mode, true), owner[mode]) << mode;
		EXPECT_EQ(m::detail::perms_access_mask(mode, false), other[mode]) << mode;
		EXPECT_EQ(m::detail::perms_mode_from_access(other[mode]), mode);
		EXPECT_EQ(m::detail::perms_mode_from_access(other[mode] & 0x0FFFFFFF), mode) << "file rights alone";
		EXPECT_EQ(m::detail::perms_mode_from_access(other[mode] & 0xF0000000), mode) << "generic rights alone";
	}
	const std::pair<uint32_t, uint32_t> granted[] = {
	    {0x10000000, R | W | X}, {0x001F01FF, R | W | X}, {0x00120088, 0}, {0x00100116, 0}, {0x000F0000, 0}};
	for (const auto &[mask, mode] : granted)
		EXPECT_EQ(m::detail::perms_mode_from_access(mask), mode) << std::hex << mask;
}

TEST(m_fs_perms, merge_rules)
{
	const struct {
		bool              dest_set;
		uint32_t          dest_mode;
		M_fs_perms_type_t dest_type;
		uint32_t          src_mode;
		M_fs_perms_type_t src_type;
		const char       *want;
	} cases[] = {{true, R, EXACT, W, ADD, "3=3= 3=3="},
	             {true, R | W | X, EXACT, W, REMOVE, "3=3= 5=5="},
	             {true, R | W, EXACT, X, EXACT, "3=3= 4=4="},
	             {false, 0, EXACT, W, ADD, "3=3= 2+2+"},
	             {true, R, REMOVE, W, EXACT, "3=3= 2=2="}};
	for (const auto &c : cases) {
		M_fs_perms_t *dest = M_fs_perms_create(), *src = M_fs_perms_create();
		for (auto set : {M_fs_perms_set_mode, M_fs_perms_set_dir_mode}) {
			set(dest, R | W, USER, EXACT);
			if (c.dest_set)
				set(dest, c.dest_mode, GROUP, c.dest_type);
			set(src, c.src_mode, GROUP, c.src_type);
		}
		M_fs_perms_merge(&dest, src);
		EXPECT_EQ(show(dest).substr(0, 9), c.want);
		M_fs_perms_destroy(dest);
	}
	/* *dest NULL: src becomes dest. A NULL dest address consumes src (the
     * sanitizer build sees leaks). */
	M_fs_perms_t *dest = nullptr, *src = M_fs_perms_create();
	M_fs_perms_merge(&dest, src);
	EXPECT_EQ(dest, src);
	src = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(src, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_merge(&dest, src);
	M_fs_perms_merge(&dest, M_fs_perms_create());
	EXPECT_STREQ(M_fs_perms_get_user(dest), "root");
	M_fs_perms_merge(nullptr, M_fs_perms_create());
	M_fs_perms_destroy(dest);
}

#if M_TEST_POSIX /* Linux only: the accounts root and its group */
TEST(m_fs_perms, accounts)
{
	M_fs_perms_t *p = M_fs_perms_create();
	/* An unknown account fails and changes nothing; the object's own name
     * again is safe (copied before the old one is released); NULL or empty
     * clears. */
	const std::pair<const char *, M_fs_error_t> steps[] = {
	    {"root", M_FS_ERROR_SUCCESS}, {"no_such_account_mfs_4711", M_FS_ERROR_GENERIC}, {nullptr, M_FS_ERROR_SUCCESS}};
	const char *want[] = {"root:root", "root:root", "-:-"};
	for (size_t i = 0; i < 3; i++) {
		EXPECT_EQ(M_fs_perms_set_user(p, steps[i].first), steps[i].second);
		EXPECT_EQ(M_fs_perms_set_group(p, steps[i].first), steps[i].second);
		EXPECT_EQ(M_fs_perms_set_user(p, M_fs_perms_get_user(p)), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_perms_set_group(p, M_fs_perms_get_group(p)), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(show(p).substr(12), want[i]);
	}
	M_fs_perms_destroy(p);
}
#endif

#if M_TEST_POSIX /* Linux only: rights from mode bits */
TEST(m_fs_perms, can_access)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0644);
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), R), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f/below").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	/* No execute bit at all: refused even to root. */
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), X), M_FS_ERROR_PERMISSION);
}
#endif

#if M_TEST_POSIX /* Linux only: rights read back as mode bits */
/* Entries merge into the current modes: ADD and REMOVE change what is there,
 * EXACT replaces one class; directory entries win for a directory, and file
 * entries apply to a directory without them. */
TEST(m_fs_perms, set_perms)
{
	TempDir    dir;
	const auto f = dir.sub("f"), d = dir.sub("d");
	make_file(f, "x", 0644);
	ASSERT_EQ(::mkdir(d.c_str(), 0700), 0);
	struct entry {
		bool              dir_entry;
		uint32_t          mode;
		M_fs_perms_who_t  who;
		M_fs_perms_type_t type;
	};
	const struct {
		std::string        path;
		std::vector<entry> entries;
		mode_t             want;
		bool               through_fd;
	} steps[] = {
	    {f, {{false, W, GROUP, ADD}, {false, R, OTHER, REMOVE}}, 0660, false},
	    {f, {{false, W, USER, REMOVE}, {false, R, OTHER, ADD}}, 0464, true},
	    {d, {{false, R | W | X, OTHER, EXACT}, {true, R | X, OTHER, ADD}, {true, W, USER, REMOVE}}, 0505, false},
	    {d, {{false, R | W | X, USER, EXACT}, {false, 0, OTHER, EXACT}}, 0700, false}};
	for (const auto &s : steps) {
		M_fs_perms_t *p = M_fs_perms_create();
		for (const entry &e : s.entries)
			(e.dir_entry ? M_fs_perms_set_dir_mode : M_fs_perms_set_mode)(p, e.mode, e.who, e.type);
		if (s.through_fd) {
			M_fs_file_t *fd = nullptr;
			ASSERT_EQ(M_fs_file_open(&fd, s.path.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
			EXPECT_EQ(M_fs_perms_set_perms_file(p, fd), M_FS_ERROR_SUCCESS);
			M_fs_file_close(fd);
		} else {
			EXPECT_EQ(M_fs_perms_set_perms(p, s.path.c_str()), M_FS_ERROR_SUCCESS);
		}
		EXPECT_EQ(mode_of(s.path), s.want);
		/* The caller's object is not consumed or changed. */
		EXPECT_EQ(M_fs_perms_get_type(p, s.entries[0].who), s.entries[0].type);
		if (&s == &steps[0]) {
			EXPECT_EQ(M_fs_perms_set_perms(p, ""), M_FS_ERROR_INVALID);
			EXPECT_EQ(M_fs_perms_set_perms_file(p, nullptr), M_FS_ERROR_INVALID);
			EXPECT_EQ(M_fs_perms_set_perms(p, dir.sub("missing").c_str()), M_FS_ERROR_NOT_FOUND);
		}
		M_fs_perms_destroy(p);
	}
}
#endif

#if M_TEST_POSIX /* Linux only: owners and groups from the account databases */
/* Owner and group are set by name. As root the file goes to other accounts,
 * so the check holds only if the change was made; anyone else may give a
 * file to its own owner and group. */
TEST(m_fs_perms, set_perms_owner)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0600);
	const bool     root = ::geteuid() == 0;
	struct passwd *pw   = root ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
	struct group  *gr   = root ? ::getgrnam("nogroup") : ::getgrgid(::getegid());
	if (pw == nullptr || gr == nullptr)
		GTEST_SKIP() << "no account to give the file to";
	const uid_t   uid = pw->pw_uid;
	const gid_t   gid = gr->gr_gid;
	M_fs_perms_t *p   = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(p, pw->pw_name), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_perms_set_group(p, gr->gr_name), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_set_perms(p, f.c_str()), M_FS_ERROR_SUCCESS);
	struct stat st;
	ASSERT_EQ(::stat(f.c_str(), &st), 0);
	EXPECT_EQ(st.st_uid, uid);
	EXPECT_EQ(st.st_gid, gid);
	EXPECT_EQ(st.st_mode & 0777, 0600u) << "no entry set: modes unchanged";
	M_fs_perms_destroy(p);
}
#endif

/* The fields of an information object in one line (times left out); the
 * permissions as show() gives them. */
std::string show(const M_fs_info_t *info)
{
	const char         *user = M_fs_info_get_user(info), *group = M_fs_info_get_group(info);
	const M_fs_perms_t *perms = M_fs_info_get_perms(info);
	return std::to_string(M_fs_info_get_type(info)) + " " + std::to_string(M_fs_info_get_size(info)) +
	       (M_fs_info_get_ishidden(info) ? " hidden " : " ") + (user ? user : "-") + ":" + (group ? group : "-") +
	       " [" + (perms ? show(perms) : "none") + "]";
}

TEST(m_fs_info, object_fields)
{
	M_fs_info_t *info = M_fs_info_create();
	EXPECT_EQ(show(info), std::to_string(M_FS_TYPE_UNKNOWN) + " 0 -:- [none]");
	M_fs_info_set_user(info, "alice");
	M_fs_info_set_group(info, "staff");
	M_fs_info_set_type(info, M_FS_TYPE_DIR);
	M_fs_info_set_hidden(info, M_TRUE);
	M_fs_info_set_size(info, 1ull << 40);
	/* Names are copies, so setting one from the object's own is safe.
     * Permissions are taken over: the same object again is kept, a replaced
     * one released, and without an object to take them they are released. */
	M_fs_info_set_user(info, M_fs_info_get_user(info));
	M_fs_info_set_group(info, nullptr);
	M_fs_perms_t *p1 = M_fs_perms_create();
	M_fs_info_set_perms(info, p1);
	M_fs_info_set_perms(info, p1);
	EXPECT_EQ(M_fs_info_get_perms(info), p1);
	M_fs_info_set_perms(info, M_fs_perms_create());
	EXPECT_NE(M_fs_info_get_perms(info), p1);
	EXPECT_EQ(show(info), std::to_string(M_FS_TYPE_DIR) + " 1099511627776 hidden alice:- [.. .. .. .. -:-]");
	M_fs_info_destroy(info);
	M_fs_info_set_perms(nullptr, M_fs_perms_create());
}

TEST(m_fs_win, size_conversions)
{
	uint32_t d = 7;
	EXPECT_TRUE(M_win32_size_t_to_dword(0xFFFFFFFFu, &d));
	EXPECT_EQ(d, 0xFFFFFFFFu);
	EXPECT_FALSE(M_win32_size_t_to_dword(static_cast<size_t>(0x100000000ull), &d));
	EXPECT_EQ(d, 0u);
	int32_t i = 7;
	EXPECT_TRUE(M_win32_size_t_to_int(0x7FFFFFFF, &i));
	EXPECT_EQ(i, 0x7FFFFFFF);
	EXPECT_FALSE(M_win32_size_t_to_int(0x80000000u, &i));
	EXPECT_EQ(i, 0);
}

TEST(m_fs_win, wide_text_to_utf8)
{
	const char16_t lone_high[] = {u'a', 0xDBFF, u'b', 0}, swapped_pair[] = {0xDFFF, 0xD800, 0};
	const std::pair<const char16_t *, const char *> cases[] = {
	    {u"", ""},
	    {u"\u007f\u0080", "\x7f\xc2\x80"},                     /* both sides of the 1/2-byte edge */
	    {u"\u07ff\u0800", "\xdf\xbf\xe0\xa0\x80"},             /* both sides of the 2/3-byte edge */
	    {u"\uffff\U00010000", "\xef\xbf\xbf\xf0\x90\x80\x80"}, /* the 3/4-byte edge, a pair */
	    {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},                   /* the last code point */
	    /* Lone surrogates cannot be represented: U+FFFD each. */
	    {lone_high, "a\xef\xbf\xbd"
	                "b"},
	    {swapped_pair, "\xef\xbf\xbd\xef\xbf\xbd"}}; /* lone low, high at the end */
	for (const auto &[in, want] : cases) {
		char *r = M_win32_wchar_to_char(in);
		ASSERT_NE(r, nullptr);
		EXPECT_EQ(std::string(r), want);
		EXPECT_EQ(r[std::strlen(want)], '\0') << "terminated right after the text";
		M_free(r);
	}
}

#ifdef _WIN32
/* The Windows host: its own path style, variables of both forms read from
 * the process's environment, the profile, configuration and temporary
 * folders of the system, a path rooted on the current drive, no links. */
TEST(m_fs_path, windows_host)
{
	char *cwd = nullptr;
	ASSERT_EQ(M_fs_path_get_cwd(&cwd), M_FS_ERROR_SUCCESS);
	const std::string here = take(cwd);
	ASSERT_EQ(here[1], ':');
	char profile[MAX_PATH + 1] = {};
	ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
	char temp[MAX_PATH + 1] = {};
	ASSERT_GT(GetTempPathA(sizeof(temp), temp), 0u);
	std::string temp_dir = temp;
	temp_dir.pop_back(); /* the system's trailing backslash */

	EnvGuard var("MFS_VAR", "C:\\Users\\u\\AppData\\Roaming");
	EnvGuard unset("MFS_UNSET", nullptr);
	const struct {
		std::string path;
		uint32_t    flags;
		std::string want;
	} rows[] = {{"a/b", 0, "a\\b"},
	            {"%MFS_VAR%\\x", 0, "C:\\Users\\u\\AppData\\Roaming\\x"},
	            {"$MFS_VAR/..", 0, "C:\\Users\\u\\AppData"},
	            {"%MFS_UNSET%\\x", 0, err(M_FS_ERROR_GENERIC)},
	            {"\\dir\\f", 0, here.substr(0, 2) + "\\dir\\f"},
	            {"\\", 0, here.substr(0, 2) + "\\"},
	            {"f", M_FS_PATH_NORM_ABSOLUTE, here + "\\f"},
	            {"~\\x", M_FS_PATH_NORM_HOME, std::string(profile) + "\\x"},
	            {"C:\\a\\..\\..\\b", M_FS_PATH_NORM_RESOLVE_LINK, "C:\\b"}};
	for (const auto &r : rows)
		EXPECT_EQ(norm(r.path, r.flags, AUTO), r.want) << r.path;
	{
		EnvGuard appdata("APPDATA", "C:\\Users\\u\\AppData\\Roaming");
		EXPECT_EQ(take(M_fs_path_user_confdir(AUTO)), "C:\\Users\\u\\AppData\\Roaming");
	}
	EXPECT_EQ(take(M_fs_path_tmpdir(AUTO)), temp_dir);
	char *link = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_readlink(&link, here.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(link, nullptr);
	EXPECT_EQ(M_fs_path_set_cwd("C:\\nonexistent\\mfs\\dir"), M_FS_ERROR_NOT_FOUND);
}

/* Information from the directory entry and from a handle: type, size, the
 * hidden attribute; permissions written as an access list of the mask table
 * and read back from the file's descriptor. */
TEST(m_fs_info, windows_entries_and_access_lists)
{
	TempDir dir;
	make_file(dir.sub("f"), "12345");
	make_file(dir.sub("h"), "x");
	ASSERT_TRUE(SetFileAttributesA(dir.sub("h").c_str(), FILE_ATTRIBUTE_HIDDEN));
	EXPECT_TRUE(M_fs_path_ishidden(dir.sub("h").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub("f").c_str(), nullptr));
	EXPECT_EQ(M_fs_info(nullptr, dir.sub("f*").c_str(), 0), M_FS_ERROR_INVALID) << "no wildcards";
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f").c_str(), 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f").c_str(), R | W), M_FS_ERROR_SUCCESS);

	M_fs_info_t *info = nullptr;
	ASSERT_EQ(M_fs_info(&info, dir.sub("f").c_str(), M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_FILE);
	EXPECT_EQ(M_fs_info_get_size(info), 5u);
	EXPECT_LE(std::llabs(M_fs_info_get_mtime(info) - M_time()), 60);
	EXPECT_EQ(M_fs_info_get_ctime(info), M_fs_info_get_btime(info));
	M_fs_info_destroy(info);
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, dir.path().c_str(), 0, RD, nullptr), M_FS_ERROR_PERMISSION) << "a directory";
	fd = open_or_fail(dir.sub("f"), 0, RD);
	ASSERT_EQ(M_fs_info_file(&info, fd, M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_size(info), 5u);
	M_fs_info_destroy(info);
	M_fs_file_close(fd);

	/* Owner read and write, everyone read: two allowed entries with the
	 * masks of the table, the owner's first, in the descriptor a new file
	 * gets. (Wine keeps only mode bits of what is applied to a file, so the
	 * descriptor is checked as built; applying it must succeed.) */
	M_fs_perms_t *p = M_fs_perms_create();
	M_fs_perms_set_mode(p, R | W, USER, EXACT);
	M_fs_perms_set_mode(p, R, OTHER, EXACT);
	M_fs_perms_set_mode(p, W, GROUP, REMOVE);
	EXPECT_EQ(M_fs_perms_set_user(p, "no_such_account_mfs_4711"), M_FS_ERROR_GENERIC);
	EXPECT_EQ(M_fs_perms_set_perms(p, dir.sub("f").c_str()), M_FS_ERROR_SUCCESS);
	M_fs_perms_t *none = M_fs_perms_create();
	for (M_fs_perms_t *perms : {p, none}) {
		void               *everyone = perms == p ? m::detail::everyone_sid() : nullptr;
		void               *acl      = nullptr;
		SECURITY_ATTRIBUTES sa       = {};
		SECURITY_DESCRIPTOR desc     = {};
		ASSERT_EQ(m::detail::perms_to_security_attributes(perms, everyone, &acl, &sa, &desc), M_FS_ERROR_SUCCESS);
		ASSERT_NE(M_fs_perms_get_user(perms), nullptr) << "the current user owns a new file";
		EXPECT_EQ(sa.lpSecurityDescriptor, &desc);
		BOOL present = FALSE, defaulted = FALSE;
		PACL dacl  = nullptr;
		PSID owner = nullptr;
		ASSERT_TRUE(GetSecurityDescriptorDacl(&desc, &present, &dacl, &defaulted));
		ASSERT_TRUE(GetSecurityDescriptorOwner(&desc, &owner, &defaulted));
		ASSERT_TRUE(present && dacl != nullptr && owner != nullptr);
		std::vector<std::pair<DWORD, bool>> aces; /* mask, is everyone */
		for (DWORD i = 0; i < dacl->AceCount; i++) {
			ACCESS_ALLOWED_ACE *ace = nullptr;
			ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&ace)));
			EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
			PSID sid = &ace->SidStart;
			EXPECT_TRUE(i > 0 || EqualSid(sid, owner)) << "the owner's entry first";
			aces.push_back({ace->Mask, IsWellKnownSid(sid, WinWorldSid) != 0});
		}
		const std::vector<std::pair<DWORD, bool>> want =
		    perms == p ? std::vector<std::pair<DWORD, bool>>{{0xC01F019F, false}, {0x80120089, true}}
		               : std::vector<std::pair<DWORD, bool>>{}; /* nothing set: an empty list grants nothing */
		EXPECT_EQ(aces, want);
		LocalFree(acl);
		if (everyone != nullptr)
			LocalFree(everyone);
	}
	M_fs_perms_destroy(none);
	M_fs_perms_destroy(p);
}
#endif

} // namespace
