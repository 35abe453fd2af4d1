/* File I/O in a scratch folder: open modes, the buffered layer observed
 * through the platform-call counters, and the whole-file operations. */
#include "tests/fs/fs_test.h"

namespace {

using namespace fs_test;

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
	EXPECT_EQ(m::detail::sys_counters().seek, 0u);
	EXPECT_EQ(read_some(fd, 1), data.substr(1 + left, 1));
	/* The caller's position, not the system's (which is ahead by the buffer). */
	uint64_t at = 0;
	EXPECT_EQ(M_fs_file_tell(fd, &at), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(at, 2 + left);
	/* Farther: one system seek that accounts for the read-ahead. */
	m::detail::sys_counters_reset();
	const size_t jump = fd->read_ahead + 5;
	ASSERT_EQ(M_fs_file_seek(fd, static_cast<int64_t>(jump), M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(m::detail::sys_counters().seek, 1u);
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
		EXPECT_EQ(m::detail::sys_counters().write + m::detail::sys_counters().seek, 0u);
		EXPECT_EQ(slurp(dir.sub("w")), "");
		uint64_t at = 0;
		EXPECT_EQ(M_fs_file_tell(fd, &at), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(at, 5u) << "the waiting bytes count";
		events[i](fd);
		EXPECT_EQ(m::detail::sys_counters().write, 1u) << i;
		EXPECT_EQ(m::detail::sys_counters().fsync, 0u) << i;
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
	EXPECT_EQ(m::detail::sys_counters().seek, 1u);
	EXPECT_EQ(fd->read_ahead + M_buf_len(fd->read_buf), 0u);
	EXPECT_EQ(read_some(fd, 3), data.substr(7, 3));
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(dir.sub("rw")), data.substr(0, 5) + "XY" + data.substr(7));
}

/* (A missing file and a directory: test_m_platform.) */
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
	} rows[] = {{dir.sub("f"), data.size(), M_FS_ERROR_SUCCESS, data},
	            {dir.sub("f"), data.size() - 1, M_FS_ERROR_FILE_TOO_BIG, ""},
	            {dir.sub("empty"), 0, M_FS_ERROR_SUCCESS, ""},
	            {"", 0, M_FS_ERROR_INVALID, ""},
	            {dir.sub("big"), 0, M_FS_ERROR_SUCCESS, big}};
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
}

} // namespace
