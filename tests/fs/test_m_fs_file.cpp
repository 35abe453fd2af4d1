/* File I/O: the open modes as one table, the buffered layer observed through
 * the platform-call counters, and the whole-file operations.
 */
#include <cstdint>
#include <cstring>
#include <functional>
#include <tuple>
#include <sys/sysmacros.h>

#include "fs/m_fs_int.h"
#include "tests/fs/fs_test_util.h"

namespace {

using namespace fs_test;

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

constexpr uint32_t RD = M_FS_FILE_MODE_READ, WR = M_FS_FILE_MODE_WRITE, NOCREATE = M_FS_FILE_MODE_NOCREATE;
constexpr uint32_t OVER = M_FS_FILE_MODE_OVERWRITE, APPEND = M_FS_FILE_MODE_APPEND;

/* ---------------------------------------------------------------------------
 * Opening
 * ------------------------------------------------------------------------- */

/* Each mode on a missing or existing file (whose times are set back):
 * the result, a failure always clearing *fd, the contents after writing
 * (the write going to the start, after seeking there in append mode) and,
 * where nothing was written, whether opening renewed the times. */
TEST(m_fs_file, open_modes)
{
	TempDir       dir;
	M_fs_perms_t *perms = M_fs_perms_create();
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE, M_FS_PERMS_WHO_USER,
	                    M_FS_PERMS_TYPE_EXACT);
	const struct {
		const char   *before; /* nullptr: missing; "/": the directory itself */
		uint32_t      mode;
		M_fs_perms_t *perms;
		M_fs_error_t  result;
		const char   *write, *after;
		int           restamped; /* -1: not looked at */
	} rows[] = {
	    {nullptr, 0, nullptr, M_FS_ERROR_INVALID, nullptr, "(missing)", false},
	    {nullptr, NOCREATE, nullptr, M_FS_ERROR_INVALID, nullptr, "(missing)", false},
	    {nullptr, APPEND, nullptr, M_FS_ERROR_INVALID, nullptr, "(missing)", false},
	    {nullptr, RD | NOCREATE, nullptr, M_FS_ERROR_NOT_FOUND, nullptr, "(missing)", false},
	    {nullptr, WR | NOCREATE | OVER, nullptr, M_FS_ERROR_NOT_FOUND, nullptr, "(missing)", false},
	    {nullptr, WR, nullptr, M_FS_ERROR_SUCCESS, "hello", "hello", true},
	    {"hello world", WR, nullptr, M_FS_ERROR_SUCCESS, "HE", "HEllo world", true},
	    {"old", RD | NOCREATE, nullptr, M_FS_ERROR_SUCCESS, nullptr, "old", false},
	    {"old", RD | WR | NOCREATE, nullptr, M_FS_ERROR_SUCCESS, nullptr, "old", false},
	    {"old", RD | WR, nullptr, M_FS_ERROR_SUCCESS, nullptr, "old", false},
	    {"old", WR | OVER, nullptr, M_FS_ERROR_SUCCESS, nullptr, "", true},
	    {"old", WR | NOCREATE | OVER, nullptr, M_FS_ERROR_SUCCESS, nullptr, "", -1},
	    {"abc", RD | APPEND, nullptr, M_FS_ERROR_SUCCESS, "de", "abcde", true},
	    /* A directory is no file, with or without permissions to create. */
	    {"/", RD, nullptr, M_FS_ERROR_PERMISSION, nullptr, nullptr, false},
	    {"/", WR, nullptr, M_FS_ERROR_PERMISSION, nullptr, nullptr, false},
	    {"/", RD, perms, M_FS_ERROR_PERMISSION, nullptr, nullptr, false},
	    {"/", WR, perms, M_FS_ERROR_PERMISSION, nullptr, nullptr, false},
	    {"/", RD | WR, perms, M_FS_ERROR_PERMISSION, nullptr, nullptr, false},
	    {"/", WR | OVER, perms, M_FS_ERROR_PERMISSION, nullptr, nullptr, false},
	};
	int i = 0;
	for (const auto &r : rows) {
		SCOPED_TRACE("row " + std::to_string(i));
		const bool        is_dir = r.before != nullptr && std::string(r.before) == "/";
		const std::string p      = is_dir ? dir.sub(std::to_string(i)) + "d" : dir.sub(std::to_string(i));
		i++;
		if (is_dir) {
			ASSERT_EQ(::mkdir(p.c_str(), 0700), 0);
		} else if (r.before != nullptr) {
			make_file(p, r.before);
		}
		const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
		if (r.before != nullptr) {
			ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), old_times, 0), 0);
		}
		M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
		ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, r.mode, r.perms), r.result);
		if (r.result != M_FS_ERROR_SUCCESS) {
			EXPECT_EQ(fd, nullptr);
		} else {
			if (r.write != nullptr) {
				EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
				EXPECT_EQ(M_fs_file_write(fd, bytes(r.write), strlen(r.write), nullptr, 0), M_FS_ERROR_SUCCESS);
			}
			M_fs_file_close(fd);
		}
		struct stat st;
		if (r.before != nullptr && r.write == nullptr && r.restamped >= 0 && ::stat(p.c_str(), &st) == 0) {
			EXPECT_EQ(st.st_mtim.tv_sec > 1000000000, r.restamped == 1);
			EXPECT_EQ(st.st_atim.tv_sec > 1000000000, r.restamped == 1);
			EXPECT_EQ(S_ISDIR(st.st_mode), is_dir);
		}
		if (r.after != nullptr) { /* read after the times: reading renews them */
			EXPECT_EQ(slurp(p), r.after);
		}
	}
	M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
	EXPECT_EQ(M_fs_file_open(&fd, "", 0, RD, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	unsigned char *buf = nullptr;
	EXPECT_EQ(M_fs_file_read_bytes(dir.path().c_str(), 0, &buf, nullptr), M_FS_ERROR_PERMISSION);
	EXPECT_EQ(buf, nullptr);
	M_fs_perms_destroy(perms);
}

TEST(m_fs_file, creation_with_permissions)
{
	TempDir      dir;
	const mode_t old = ::umask(077);
	/* Exactly the requested modes: the umask does not apply, REMOVE gives
     * nothing, and an object with nothing set grants no access at all. */
	M_fs_perms_t *perms = M_fs_perms_create(), *none = M_fs_perms_create();
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE, M_FS_PERMS_WHO_USER,
	                    M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ, M_FS_PERMS_WHO_GROUP, M_FS_PERMS_TYPE_ADD);
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ, M_FS_PERMS_WHO_OTHER, M_FS_PERMS_TYPE_REMOVE);
	M_fs_file_t *fd = nullptr;
	for (const auto &[name, p, mode] : {std::tuple{"secret", perms, 0640u}, std::tuple{"nothing", none, 0u}}) {
		ASSERT_EQ(M_fs_file_open(&fd, dir.sub(name).c_str(), 0, WR, p), M_FS_ERROR_SUCCESS);
		M_fs_file_close(fd);
		EXPECT_EQ(mode_of(dir.sub(name)), mode) << name;
	}
	/* An existing file keeps its own modes. */
	ASSERT_EQ(::chmod(dir.sub("secret").c_str(), 0600), 0);
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("secret").c_str(), 0, WR | OVER, perms), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	EXPECT_EQ(mode_of(dir.sub("secret")), 0600u);
	/* Without permissions: 0666 less the umask. */
	::umask(022);
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("plain").c_str(), 0, WR, nullptr), M_FS_ERROR_SUCCESS);
	/* Descriptors do not leak into children. */
	const int flags = ::fcntl(fd->fd, F_GETFD);
	EXPECT_TRUE(flags >= 0 && (flags & FD_CLOEXEC));
	M_fs_file_close(fd);
	EXPECT_EQ(mode_of(dir.sub("plain")), 0644u);
	::umask(old);
	M_fs_perms_destroy(perms);
	M_fs_perms_destroy(none);
}

TEST(m_fs_file, iostreams)
{
	M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
	EXPECT_EQ(M_fs_file_open_iostream(&fd, static_cast<M_fs_iostream_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	for (M_fs_iostream_t s : {M_FS_IOSTREAM_IN, M_FS_IOSTREAM_OUT, M_FS_IOSTREAM_ERR}) {
		ASSERT_EQ(M_fs_file_open_iostream(&fd, s), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(fd->fd, static_cast<int>(s));
		EXPECT_EQ(fd->buf_size, 0u);
		M_fs_file_close(fd);
		/* Closing the wrapper leaves the process's stream open. */
		EXPECT_NE(::fcntl(static_cast<int>(s), F_GETFD), -1) << "stream " << s;
	}
}

TEST(m_fs_file, transfer_arguments)
{
	TempDir       dir;
	M_fs_file_t  *fd = open_or_fail(dir.sub("f"), 16, RD | WR);
	unsigned char buf[4];
	size_t        n = 99;
	EXPECT_EQ(M_fs_file_read(nullptr, buf, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(n, 0u) << "the count is cleared on failure";
	EXPECT_EQ(M_fs_file_read(fd, buf, 0, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write(fd, buf, 0, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, 1, static_cast<M_fs_file_seek_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, -1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_NONE), M_FS_ERROR_SUCCESS);
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

/* ---------------------------------------------------------------------------
 * Buffered reading and seeking
 * ------------------------------------------------------------------------- */

TEST(m_fs_file, buffered_read_costs_one_system_read_per_buffer)
{
	TempDir           dir;
	const auto        p    = dir.sub("big");
	const size_t      size = 64 * 1024 + 123;
	const std::string data = pattern(size);
	make_file(p, data);
	M_fs_file_t *fd = open_or_fail(p, 8192, RD);
	m::detail::sys_counters_reset();
	std::string got, c;
	while (!(c = read_some(fd, 1)).empty())
		got += c;
	const size_t reads = counters().read;
	M_fs_file_close(fd);
	EXPECT_EQ(got, data);
	/* At most one system read per 8 KiB, plus the one that finds the end. */
	EXPECT_LE(reads, size / 8192 + 2);
	EXPECT_GE(reads, 2u);
	EXPECT_EQ(counters().seek + counters().write, 0u);

	/* Chunks larger than what is left get what is left. */
	fd = open_or_fail(p, 8192, RD);
	EXPECT_EQ(read_some(fd, 60000), data.substr(0, 60000));
	EXPECT_EQ(read_some(fd, 60000), data.substr(60000));
	EXPECT_EQ(read_some(fd, 60000), "");
	M_fs_file_close(fd);

	/* Unbuffered, a walk costs one system read per byte. */
	fd = open_or_fail(p, 0, RD);
	m::detail::sys_counters_reset();
	for (int i = 0; i < 100; i++)
		read_some(fd, 1);
	EXPECT_EQ(counters().read, 100u);
	M_fs_file_close(fd);
}

TEST(m_fs_file, seek_within_buffer_costs_nothing)
{
	TempDir           dir;
	const std::string data = pattern(100000);
	make_file(dir.sub("s"), data);
	M_fs_file_t *fd = open_or_fail(dir.sub("s"), 8192, RD);
	ASSERT_EQ(read_some(fd, 1), data.substr(0, 1));
	ASSERT_GE(fd->read_ahead, 8192u);
	EXPECT_EQ(M_buf_len(fd->read_buf), fd->read_ahead);

	m::detail::sys_counters_reset();
	/* Forward by exactly the buffered count: still no system call. */
	ASSERT_EQ(M_fs_file_seek(fd, 1000, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(read_some(fd, 1), data.substr(1001, 1));
	const size_t left = fd->read_ahead;
	ASSERT_EQ(M_fs_file_seek(fd, static_cast<int64_t>(left), M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek + counters().read, 0u);
	EXPECT_EQ(fd->read_ahead, 0u);

	/* Farther than the buffer: one system seek that accounts for the
     * read-ahead, and backwards from the current position too. */
	const size_t pos = 1002 + left;
	EXPECT_EQ(read_some(fd, 1), data.substr(pos, 1));
	m::detail::sys_counters_reset();
	const size_t jump = fd->read_ahead + 5;
	ASSERT_EQ(M_fs_file_seek(fd, static_cast<int64_t>(jump), M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 1u);
	EXPECT_EQ(read_some(fd, 1), data.substr(pos + 1 + jump, 1));
	ASSERT_EQ(M_fs_file_seek(fd, -2, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(read_some(fd, 1), data.substr(pos + jump, 1));
	ASSERT_EQ(M_fs_file_seek(fd, -3, M_FS_FILE_SEEK_END), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(read_some(fd, 1), data.substr(data.size() - 3, 1));
	ASSERT_EQ(M_fs_file_seek(fd, 7, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(read_some(fd, 1), data.substr(7, 1));

	/* An unknown origin, and a distance that cannot be corrected for the
     * read-ahead, are refused without giving up the buffered bytes. */
	const size_t ahead = fd->read_ahead;
	ASSERT_GT(ahead, 0u);
	m::detail::sys_counters_reset();
	EXPECT_EQ(M_fs_file_seek(fd, 5, static_cast<M_fs_file_seek_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, INT64_MIN, M_FS_FILE_SEEK_CUR), M_FS_ERROR_INVALID);
	EXPECT_EQ(counters().seek, 0u);
	EXPECT_EQ(fd->read_ahead, ahead);
	EXPECT_EQ(M_buf_len(fd->read_buf), ahead);
	EXPECT_EQ(read_some(fd, 1), data.substr(8, 1));
	M_fs_file_close(fd);
}

/* ---------------------------------------------------------------------------
 * Buffered writing
 * ------------------------------------------------------------------------- */

/* A short write stays in the buffer (the full count reported) until a sync,
 * a read, a seek or the close; a zero seek or a refused one touches nothing. */
TEST(m_fs_file, short_write_waits)
{
	const std::function<void(M_fs_file_t *)> events[] = {
	    [](M_fs_file_t *fd) { EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER), M_FS_ERROR_SUCCESS); },
	    [](M_fs_file_t *fd) { EXPECT_EQ(read_some(fd, 1), "") << "the position is after the written bytes"; },
	    [](M_fs_file_t *fd) {
		    ASSERT_EQ(M_fs_file_seek(fd, 1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
		    EXPECT_EQ(read_some(fd, 8), "hort");
	    },
	    [](M_fs_file_t *fd) { M_fs_file_close(fd); },
	};
	int i = 0;
	for (const auto &event : events) {
		TempDir      dir;
		const auto   p  = dir.sub("w");
		M_fs_file_t *fd = open_or_fail(p, 64, RD | WR);
		m::detail::sys_counters_reset();
		size_t n = 0;
		EXPECT_EQ(M_fs_file_write(fd, bytes("short"), 5, &n, 0), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(n, 5u);
		EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_file_seek(fd, 0, static_cast<M_fs_file_seek_t>(7)), M_FS_ERROR_INVALID);
		EXPECT_EQ(counters().write + counters().seek, 0u);
		EXPECT_EQ(slurp(p), "");
		event(fd);
		EXPECT_EQ(counters().write, 1u) << i;
		EXPECT_EQ(counters().fsync, 0u) << i;
		EXPECT_EQ(slurp(p), "short") << i;
		if (i++ != 3)
			M_fs_file_close(fd);
	}
}

TEST(m_fs_file, full_buffer_goes_out)
{
	TempDir      dir;
	const auto   p  = dir.sub("w");
	M_fs_file_t *fd = open_or_fail(p, 8, WR);
	m::detail::sys_counters_reset();
	ASSERT_EQ(M_fs_file_write(fd, bytes("abc"), 3, nullptr, 0), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_write(fd, bytes("def"), 3, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().write, 0u);
	ASSERT_EQ(M_fs_file_write(fd, bytes("gh"), 2, nullptr, M_FS_FILE_RW_FULLBUF), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().write, 1u);
	EXPECT_EQ(slurp(p), "abcdefgh");
	ASSERT_EQ(M_fs_file_write(fd, bytes("0123456789"), 10, nullptr, M_FS_FILE_RW_FULLBUF), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().write, 2u);
	EXPECT_EQ(slurp(p), "abcdefgh0123456789");
	M_fs_file_close(fd);
	EXPECT_EQ(counters().write, 2u) << "nothing left to write out";
}

TEST(m_fs_file, write_after_read_gives_back_read_ahead)
{
	TempDir           dir;
	const auto        p    = dir.sub("rw");
	const std::string data = pattern(100);
	make_file(p, data);
	M_fs_file_t *fd = open_or_fail(p, 4096, RD | WR);
	EXPECT_EQ(read_some(fd, 5), data.substr(0, 5));
	EXPECT_EQ(fd->read_ahead, 95u);
	m::detail::sys_counters_reset();
	ASSERT_EQ(M_fs_file_write(fd, bytes("XY"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 1u);
	EXPECT_EQ(fd->read_ahead, 0u);
	EXPECT_EQ(M_buf_len(fd->read_buf), 0u);
	/* Reading on writes the pending bytes out first, in their place. */
	EXPECT_EQ(read_some(fd, 3), data.substr(7, 3));
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(p), data.substr(0, 5) + "XY" + data.substr(7));
}

TEST(m_fs_file, failed_write_out_keeps_bytes_and_reports_io)
{
	/* A device that refuses every write with ENOSPC (the kernel's "full"
     * device, character 1:7), made in the scratch folder rather than trusting
     * whatever the machine's /dev holds. */
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

/* ---------------------------------------------------------------------------
 * Whole-file operations
 * ------------------------------------------------------------------------- */

TEST(m_fs_file, read_bytes)
{
	TempDir           dir;
	const std::string data = pattern(3000);
	make_file(dir.sub("f"), data);
	make_file(dir.sub("empty"), "");
	struct {
		std::string  path;
		size_t       max;
		M_fs_error_t result;
		const char  *contents; /* nullptr: data */
	} rows[] = {
	    {dir.sub("f"), data.size(), M_FS_ERROR_SUCCESS, nullptr},
	    {dir.sub("f"), 0, M_FS_ERROR_SUCCESS, nullptr},
	    {dir.sub("f"), data.size() - 1, M_FS_ERROR_FILE_TOO_BIG, ""},
	    {dir.sub("empty"), 0, M_FS_ERROR_SUCCESS, ""},
	    {dir.sub("missing"), 0, M_FS_ERROR_NOT_FOUND, ""},
	    {"", 0, M_FS_ERROR_INVALID, ""},
	};
	for (const auto &r : rows) {
		unsigned char *buf = reinterpret_cast<unsigned char *>(1);
		size_t         len = 99;
		EXPECT_EQ(M_fs_file_read_bytes(r.path.c_str(), r.max, &buf, &len), r.result) << r.path << " " << r.max;
		const std::string want = r.contents == nullptr ? data : r.contents;
		EXPECT_EQ(len, want.size()) << r.path;
		if (r.result == M_FS_ERROR_SUCCESS) {
			EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), want) << r.path;
			EXPECT_EQ(buf[len], 0) << "terminated";
		} else {
			EXPECT_EQ(buf, nullptr);
		}
		M_free(buf == reinterpret_cast<unsigned char *>(1) ? nullptr : buf);
	}
	EXPECT_EQ(slurp(dir.sub("missing")), "(missing)") << "reading creates nothing";

	/* /proc files report size 0; only reading to the end finds their data. */
	unsigned char *buf = nullptr;
	size_t         len = 0;
	ASSERT_EQ(M_fs_file_read_bytes("/proc/self/status", 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_NE(std::string(reinterpret_cast<char *>(buf), len).find("Name:"), std::string::npos);
	M_free(buf);
	/* A large file in steps of at least 1024 bytes. */
	const std::string big = pattern(256 * 1024);
	make_file(dir.sub("big"), big);
	m::detail::sys_counters_reset();
	ASSERT_EQ(M_fs_file_read_bytes(dir.sub("big").c_str(), 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), big);
	EXPECT_LE(counters().read, 256u);
	M_free(buf);
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
	} rows[] = {
	    {"first line\n", 0, WR, M_FS_ERROR_SUCCESS, 11, "first line\n"},
	    {"abcdef", 3, 0, M_FS_ERROR_SUCCESS, 3, "abc"},
	    {"de", 0, APPEND, M_FS_ERROR_SUCCESS, 2, "abcde"},
	    {std::string("a\0b\0c", 5), 5, 0, M_FS_ERROR_SUCCESS, 5, std::string("a\0b\0c", 5)},
	    /* An empty string is refused, and leaves the file emptied. */
	    {"", 0, 0, M_FS_ERROR_INVALID, 0, ""},
	};
	for (const auto &r : rows) {
		size_t n = 99;
		EXPECT_EQ(M_fs_file_write_bytes(p.c_str(), bytes(r.data), r.len, r.mode, &n), r.result) << r.after;
		EXPECT_EQ(n, r.written);
		EXPECT_EQ(slurp(p), r.after);
	}
	EXPECT_EQ(M_fs_file_write_bytes(dir.sub("fresh").c_str(), bytes(""), 0, 0, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(slurp(dir.sub("fresh")), "");
	EXPECT_EQ(M_fs_file_write_bytes("", bytes("x"), 1, 0, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write_bytes(dir.sub("no/dir").c_str(), bytes("x"), 1, 0, nullptr), M_FS_ERROR_NOT_FOUND);
	/* "~" is the home directory. */
	{
		test_util::EnvGuard home("HOME", dir.path().c_str());
		EXPECT_EQ(M_fs_file_write_bytes("~/in_home", bytes("h"), 1, 0, nullptr), M_FS_ERROR_SUCCESS);
	}
	EXPECT_EQ(slurp(dir.sub("in_home")), "h");
}

} // namespace
