/* File I/O: arguments, dispositions, the buffered layer observed through the
 * platform-call counters, and the whole-file operations.
 */
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "core/m_mem.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_int.h"
#include "fs/m_fs_perms.h"
#include "tests/fs/fs_test_util.h"
#include "tests/test_util.h"

namespace {

using fs_test::TempDir;
using test_util::EnvGuard;

const unsigned char *bytes(const char *s)
{
	return reinterpret_cast<const unsigned char *>(s);
}

const unsigned char *bytes(const std::string &s)
{
	return reinterpret_cast<const unsigned char *>(s.data());
}

/* Contents of a file read with the C runtime (independent of the layer under
 * test); "(missing)" when it cannot be opened. */
std::string slurp(const std::string &path)
{
	int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return "(missing)";
	std::string out;
	char        buf[4096];
	ssize_t     n;
	while ((n = ::read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	::close(fd);
	return out;
}

void put_file(const std::string &path, const std::string &data)
{
	int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
	::close(fd);
}

off_t disk_size(const std::string &path)
{
	struct stat st;
	return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
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

/* ---------------------------------------------------------------------------
 * Opening
 * ------------------------------------------------------------------------- */

TEST(m_fs_file, open_arguments)
{
	TempDir      dir;
	const auto   p  = dir.sub("f");
	M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), 0, 0, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_NOCREATE, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_APPEND, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_open(&fd, "", 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_open(&fd, nullptr, 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_open(nullptr, p.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	EXPECT_EQ(slurp(p), "(missing)") << "a refused open creates nothing";

	/* A directory is no file, for reading or for writing. */
	EXPECT_EQ(M_fs_file_open(&fd, dir.path().c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_PERMISSION);
	EXPECT_EQ(fd, nullptr);
	EXPECT_EQ(M_fs_file_open(&fd, dir.path().c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_PERMISSION);
	unsigned char *buf = nullptr;
	EXPECT_EQ(M_fs_file_read_bytes(dir.path().c_str(), 0, &buf, nullptr), M_FS_ERROR_PERMISSION);
	EXPECT_EQ(buf, nullptr);
}

TEST(m_fs_file, every_failed_open_clears_fd)
{
	/* A caller that tests *fd after a failure must find NULL, whichever
     * argument was wrong: a stale or uninitialised pointer must not survive. */
	TempDir    dir;
	const auto p = dir.sub("f");
	struct Case {
		const char *path;
		uint32_t    mode;
	};
	const Case cases[] = {
	    {nullptr, M_FS_FILE_MODE_READ},
	    {"", M_FS_FILE_MODE_WRITE},
	    {p.c_str(), 0},
	    {p.c_str(), M_FS_FILE_MODE_NOCREATE},
	    {p.c_str(), M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE},
	};
	for (const Case &c : cases) {
		M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
		EXPECT_NE(M_fs_file_open(&fd, c.path, 0, c.mode, nullptr), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(fd, nullptr) << (c.path != nullptr ? c.path : "NULL") << " mode " << c.mode;
	}
	EXPECT_EQ(slurp(p), "(missing)");
}

TEST(m_fs_file, directory_refused_with_permissions_too)
{
	/* Opening a directory with a permissions object takes the creating path
     * of the open; it must classify the directory the same way. */
	TempDir       dir;
	M_fs_perms_t *perms = M_fs_perms_create();
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE, M_FS_PERMS_WHO_USER,
	                    M_FS_PERMS_TYPE_EXACT);
	const uint32_t modes[] = {M_FS_FILE_MODE_READ, M_FS_FILE_MODE_WRITE, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE,
	                          M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_OVERWRITE};
	for (uint32_t mode : modes) {
		M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
		EXPECT_EQ(M_fs_file_open(&fd, dir.path().c_str(), 0, mode, perms), M_FS_ERROR_PERMISSION) << "mode " << mode;
		EXPECT_EQ(fd, nullptr);
	}
	struct stat st;
	ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
	EXPECT_TRUE(S_ISDIR(st.st_mode)) << "the directory is left as it was";
	EXPECT_EQ(st.st_mode & 0777, 0700u);
	M_fs_perms_destroy(perms);
}

TEST(m_fs_file, dispositions)
{
	TempDir      dir;
	const auto   p  = dir.sub("f");
	M_fs_file_t *fd = nullptr;

	/* Must exist. */
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE, nullptr),
	          M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), 0,
	                         M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_NOCREATE | M_FS_FILE_MODE_OVERWRITE, nullptr),
	          M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(slurp(p), "(missing)");

	/* Neither bit: created when missing, kept otherwise. */
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_write(fd, bytes("hello world"), 11, nullptr, 0), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_write(fd, bytes("HE"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(p), "HEllo world");

	/* Must exist and is emptied. */
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0,
	                         M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_NOCREATE | M_FS_FILE_MODE_OVERWRITE, nullptr),
	          M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(p), "");

	/* Append: every write goes to the end, whatever the position. */
	put_file(p, "abc");
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_APPEND, nullptr),
	          M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_write(fd, bytes("de"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(p), "abcde");
}

TEST(m_fs_file, replacing_restamps_times_reading_does_not)
{
	TempDir    dir;
	const auto p = dir.sub("f");
	put_file(p, "old");
	const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
	ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), old_times, 0), 0);

	/* Opening to read (must exist) leaves the times alone. */
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE, nullptr),
	          M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	struct stat st;
	ASSERT_EQ(::stat(p.c_str(), &st), 0);
	EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
	EXPECT_EQ(st.st_atim.tv_sec, 1000000000);

	/* Nor does a read-write must-exist open, or one that may create. */
	const uint32_t keep_modes[] = {M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_NOCREATE,
	                               M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE};
	for (uint32_t mode : keep_modes) {
		ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, mode, nullptr), M_FS_ERROR_SUCCESS);
		M_fs_file_close(fd);
		ASSERT_EQ(::stat(p.c_str(), &st), 0);
		EXPECT_EQ(st.st_mtim.tv_sec, 1000000000) << "mode " << mode;
		EXPECT_EQ(st.st_atim.tv_sec, 1000000000) << "mode " << mode;
	}
	EXPECT_EQ(slurp(p), "old");

	/* Replacing an existing file gives it the current times. */
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_OVERWRITE, nullptr),
	          M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	ASSERT_EQ(::stat(p.c_str(), &st), 0);
	EXPECT_GT(st.st_mtim.tv_sec, 1000000000);
	EXPECT_GT(st.st_atim.tv_sec, 1000000000);
}

TEST(m_fs_file, creation_with_permissions)
{
	TempDir      dir;
	const auto   p   = dir.sub("secret");
	const mode_t old = ::umask(077);

	M_fs_perms_t *perms = M_fs_perms_create();
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE, M_FS_PERMS_WHO_USER,
	                    M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ, M_FS_PERMS_WHO_GROUP, M_FS_PERMS_TYPE_ADD);
	M_fs_perms_set_mode(perms, M_FS_PERMS_MODE_READ, M_FS_PERMS_WHO_OTHER, M_FS_PERMS_TYPE_REMOVE);

	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_WRITE, perms), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	struct stat st;
	ASSERT_EQ(::stat(p.c_str(), &st), 0);
	/* Exactly the requested modes: the umask does not apply, REMOVE gives
     * nothing. */
	EXPECT_EQ(st.st_mode & 0777, 0640u);

	/* An existing file keeps its own modes. */
	ASSERT_EQ(::chmod(p.c_str(), 0600), 0);
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_OVERWRITE, perms),
	          M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	ASSERT_EQ(::stat(p.c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0600u);

	/* A permissions object with nothing set grants no access to anyone. */
	M_fs_perms_t *none = M_fs_perms_create();
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("nothing").c_str(), 0, M_FS_FILE_MODE_WRITE, none), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	ASSERT_EQ(::stat(dir.sub("nothing").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0u);
	M_fs_perms_destroy(none);

	/* Without permissions: 0666 less the umask. */
	::umask(022);
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("plain").c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	ASSERT_EQ(::stat(dir.sub("plain").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0644u);

	::umask(old);
	M_fs_perms_destroy(perms);
}

TEST(m_fs_file, descriptors_do_not_leak_into_children)
{
	TempDir      dir;
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("f").c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
	const int flags = ::fcntl(fd->fd, F_GETFD);
	EXPECT_TRUE(flags >= 0 && (flags & FD_CLOEXEC));
	M_fs_file_close(fd);
}

TEST(m_fs_file, iostreams)
{
	M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
	EXPECT_EQ(M_fs_file_open_iostream(&fd, static_cast<M_fs_iostream_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	EXPECT_EQ(M_fs_file_open_iostream(nullptr, M_FS_IOSTREAM_OUT), M_FS_ERROR_INVALID);

	for (M_fs_iostream_t s : {M_FS_IOSTREAM_IN, M_FS_IOSTREAM_OUT, M_FS_IOSTREAM_ERR}) {
		ASSERT_EQ(M_fs_file_open_iostream(&fd, s), M_FS_ERROR_SUCCESS);
		ASSERT_NE(fd, nullptr);
		EXPECT_EQ(fd->fd, static_cast<int>(s));
		EXPECT_EQ(fd->buf_size, 0u);
		M_fs_file_close(fd);
		/* Closing the wrapper leaves the process's stream open. */
		EXPECT_NE(::fcntl(static_cast<int>(s), F_GETFD), -1) << "stream " << s;
	}
}

/* ---------------------------------------------------------------------------
 * Argument checks of the transfer functions
 * ------------------------------------------------------------------------- */

TEST(m_fs_file, transfer_arguments)
{
	TempDir      dir;
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("f").c_str(), 16, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_SUCCESS);
	unsigned char buf[4];
	size_t        n = 99;
	EXPECT_EQ(M_fs_file_read(nullptr, buf, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(n, 0u);
	EXPECT_EQ(M_fs_file_read(fd, nullptr, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_read(fd, buf, 0, &n, 0), M_FS_ERROR_INVALID);
	n = 99;
	EXPECT_EQ(M_fs_file_write(nullptr, buf, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(n, 0u);
	EXPECT_EQ(M_fs_file_write(fd, nullptr, 4, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write(fd, buf, 0, &n, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(nullptr, 1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, 1, static_cast<M_fs_file_seek_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, -1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_sync(nullptr, M_FS_FILE_SYNC_BUFFER), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_NONE), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER | M_FS_FILE_SYNC_OS), M_FS_ERROR_SUCCESS);
	/* A NULL count pointer is allowed. */
	EXPECT_EQ(M_fs_file_write(fd, bytes("ab"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_read(fd, buf, 4, nullptr, 0), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	M_fs_file_close(nullptr);

	/* The platform half refuses what one system call cannot carry. */
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("f").c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(m::detail::file_read_sys(fd, buf, static_cast<size_t>(0x100000000ull), &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(m::detail::file_read_sys(fd, buf, 4, nullptr), M_FS_ERROR_INVALID);
	M_fs_file_close(fd);
}

/* ---------------------------------------------------------------------------
 * Buffered reading
 * ------------------------------------------------------------------------- */

TEST(m_fs_file, buffered_read_small_file_byte_by_byte)
{
	TempDir    dir;
	const auto p = dir.sub("ten");
	put_file(p, "0123456789");
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 8192, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	std::string got;
	for (int i = 0; i < 10; i++) {
		unsigned char c = 0;
		size_t        n = 0;
		ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
		ASSERT_EQ(n, 1u);
		got += static_cast<char>(c);
	}
	EXPECT_EQ(got, "0123456789");
	unsigned char c = 0;
	size_t        n = 7;
	EXPECT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 0u);
	M_fs_file_close(fd);
}

TEST(m_fs_file, buffered_read_partial_chunks)
{
	TempDir           dir;
	const auto        p    = dir.sub("hundred");
	const std::string data = pattern(100);
	put_file(p, data);
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 8192, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	unsigned char buf[60];
	size_t        n = 0;
	ASSERT_EQ(M_fs_file_read(fd, buf, 60, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 60u);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), n), data.substr(0, 60));
	ASSERT_EQ(M_fs_file_read(fd, buf, 60, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 40u);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), n), data.substr(60));
	ASSERT_EQ(M_fs_file_read(fd, buf, 60, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 0u);
	M_fs_file_close(fd);
}

TEST(m_fs_file, buffered_read_costs_one_system_read_per_buffer)
{
	TempDir           dir;
	const auto        p    = dir.sub("big");
	const size_t      size = 64 * 1024 + 123;
	const std::string data = pattern(size);
	put_file(p, data);

	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 8192, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	m::detail::sys_counters_reset();
	std::string got;
	for (;;) {
		unsigned char c = 0;
		size_t        n = 0;
		ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
		if (n == 0)
			break;
		got += static_cast<char>(c);
	}
	const size_t reads = counters().read;
	M_fs_file_close(fd);

	EXPECT_EQ(got, data);
	/* At most one system read per 8 KiB, plus the one that finds the end. */
	EXPECT_LE(reads, size / 8192 + 2);
	EXPECT_GE(reads, 2u);
	EXPECT_EQ(counters().seek, 0u);
	EXPECT_EQ(counters().write, 0u);

	/* Unbuffered, the same walk costs one system read per byte. */
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	m::detail::sys_counters_reset();
	for (int i = 0; i < 100; i++) {
		unsigned char c = 0;
		size_t        n = 0;
		ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	}
	EXPECT_EQ(counters().read, 100u);
	M_fs_file_close(fd);
}

TEST(m_fs_file, seek_within_buffer_costs_nothing)
{
	TempDir           dir;
	const auto        p    = dir.sub("s");
	const std::string data = pattern(100000);
	put_file(p, data);

	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 8192, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	unsigned char c = 0;
	size_t        n = 0;
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	const size_t buffered = fd->read_ahead;
	ASSERT_GE(buffered, 8192u);
	EXPECT_EQ(M_buf_len(fd->read_buf), buffered);

	m::detail::sys_counters_reset();
	/* Forward by exactly the buffered count: still no system call. */
	ASSERT_EQ(M_fs_file_seek(fd, 1000, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(static_cast<char>(c), data[1001]);
	const size_t left = fd->read_ahead;
	ASSERT_EQ(M_fs_file_seek(fd, static_cast<int64_t>(left), M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 0u);
	EXPECT_EQ(counters().read, 0u);
	EXPECT_EQ(fd->read_ahead, 0u);

	/* Farther than the buffer: one system seek that accounts for the
     * read-ahead. */
	const size_t pos = 1002 + left;
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(static_cast<char>(c), data[pos]);
	m::detail::sys_counters_reset();
	const int64_t jump = static_cast<int64_t>(fd->read_ahead) + 5;
	ASSERT_EQ(M_fs_file_seek(fd, jump, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 1u);
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(n, 1u);
	EXPECT_EQ(static_cast<char>(c), data[pos + 1 + static_cast<size_t>(jump)]);

	/* Backwards from the current position also accounts for it. */
	ASSERT_EQ(M_fs_file_seek(fd, -2, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(static_cast<char>(c), data[pos + static_cast<size_t>(jump)]);

	/* From the end and the beginning. */
	ASSERT_EQ(M_fs_file_seek(fd, -3, M_FS_FILE_SEEK_END), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(static_cast<char>(c), data[data.size() - 3]);
	ASSERT_EQ(M_fs_file_seek(fd, 7, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(static_cast<char>(c), data[7]);
	M_fs_file_close(fd);
}

TEST(m_fs_file, refused_seek_keeps_position_and_buffers)
{
	TempDir           dir;
	const auto        p    = dir.sub("s");
	const std::string data = pattern(500);
	put_file(p, data);

	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 64, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	unsigned char c = 0;
	size_t        n = 0;
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	const size_t ahead = fd->read_ahead;
	ASSERT_GT(ahead, 0u);

	/* An unknown origin, and a distance that cannot be corrected for the
     * read-ahead, are refused without giving up the buffered bytes: the next
     * read continues where the caller was. */
	m::detail::sys_counters_reset();
	EXPECT_EQ(M_fs_file_seek(fd, 5, static_cast<M_fs_file_seek_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_seek(fd, INT64_MIN, M_FS_FILE_SEEK_CUR), M_FS_ERROR_INVALID);
	EXPECT_EQ(counters().seek, 0u);
	EXPECT_EQ(fd->read_ahead, ahead);
	EXPECT_EQ(M_buf_len(fd->read_buf), ahead);
	ASSERT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(n, 1u);
	EXPECT_EQ(static_cast<char>(c), data[1]);
	M_fs_file_close(fd);

	/* A pending write stays pending across a refused seek. */
	ASSERT_EQ(M_fs_file_open(&fd, dir.sub("w").c_str(), 64, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_write(fd, bytes("abc"), 3, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_seek(fd, 0, static_cast<M_fs_file_seek_t>(7)), M_FS_ERROR_INVALID);
	EXPECT_EQ(disk_size(dir.sub("w")), 0);
	M_fs_file_close(fd);
	EXPECT_EQ(slurp(dir.sub("w")), "abc");
}

/* ---------------------------------------------------------------------------
 * Buffered writing
 * ------------------------------------------------------------------------- */

/* Opens p with a 64-byte buffer and writes "short" (5 bytes): nothing may
 * reach the file yet. */
M_fs_file_t *open_with_pending_write(const std::string &p)
{
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), 64, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_SUCCESS);
	m::detail::sys_counters_reset();
	size_t n = 0;
	EXPECT_EQ(M_fs_file_write(fd, bytes("short"), 5, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 5u) << "the full count is reported";
	EXPECT_EQ(counters().write, 0u);
	EXPECT_EQ(counters().seek, 0u);
	EXPECT_EQ(disk_size(p), 0);
	return fd;
}

TEST(m_fs_file, short_write_waits_for_sync)
{
	TempDir      dir;
	const auto   p  = dir.sub("w");
	M_fs_file_t *fd = open_with_pending_write(p);
	/* A zero seek from the current position touches nothing. */
	EXPECT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_CUR), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(disk_size(p), 0);
	EXPECT_EQ(counters().write + counters().seek, 0u);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().write, 1u);
	EXPECT_EQ(counters().fsync, 0u);
	EXPECT_EQ(slurp(p), "short");
	M_fs_file_close(fd);
}

TEST(m_fs_file, short_write_waits_for_read)
{
	TempDir       dir;
	const auto    p  = dir.sub("w");
	M_fs_file_t  *fd = open_with_pending_write(p);
	unsigned char c  = 0;
	size_t        n  = 9;
	EXPECT_EQ(M_fs_file_read(fd, &c, 1, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 0u) << "the position is after the written bytes";
	EXPECT_EQ(slurp(p), "short");
	M_fs_file_close(fd);
}

TEST(m_fs_file, short_write_waits_for_seek)
{
	TempDir      dir;
	const auto   p  = dir.sub("w");
	M_fs_file_t *fd = open_with_pending_write(p);
	EXPECT_EQ(M_fs_file_seek(fd, 1, M_FS_FILE_SEEK_BEGIN), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(p), "short");
	unsigned char buf[8];
	size_t        n = 0;
	EXPECT_EQ(M_fs_file_read(fd, buf, 8, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), n), "hort");
	M_fs_file_close(fd);
}

TEST(m_fs_file, short_write_waits_for_close)
{
	TempDir      dir;
	const auto   p  = dir.sub("w");
	M_fs_file_t *fd = open_with_pending_write(p);
	M_fs_file_close(fd);
	EXPECT_EQ(counters().write, 1u);
	EXPECT_EQ(slurp(p), "short");
}

TEST(m_fs_file, full_buffer_goes_out)
{
	TempDir      dir;
	const auto   p  = dir.sub("w");
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 8, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
	m::detail::sys_counters_reset();
	for (const char *piece : {"abc", "def"})
		ASSERT_EQ(M_fs_file_write(fd, bytes(piece), 3, nullptr, 0), M_FS_ERROR_SUCCESS);
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
	put_file(p, data);
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, p.c_str(), 4096, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_SUCCESS);
	unsigned char buf[5];
	size_t        n = 0;
	ASSERT_EQ(M_fs_file_read(fd, buf, 5, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(fd->read_ahead, 95u);
	m::detail::sys_counters_reset();
	ASSERT_EQ(M_fs_file_write(fd, bytes("XY"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(counters().seek, 1u);
	EXPECT_EQ(fd->read_ahead, 0u);
	EXPECT_EQ(M_buf_len(fd->read_buf), 0u);
	/* Reading on writes the pending bytes out first, in their place. */
	ASSERT_EQ(M_fs_file_read(fd, buf, 3, &n, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), n), data.substr(7, 3));
	M_fs_file_close(fd);

	std::string expect = data;
	expect[5]          = 'X';
	expect[6]          = 'Y';
	EXPECT_EQ(slurp(p), expect);
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

	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, full.c_str(), 16, M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_NOCREATE, nullptr),
	          M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_write(fd, bytes("data"), 4, nullptr, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER | M_FS_FILE_SYNC_OS), M_FS_ERROR_IO);
	EXPECT_EQ(M_buf_len(fd->write_buf), 4u) << "unwritten bytes stay buffered";
	EXPECT_EQ(M_fs_file_sync(fd, M_FS_FILE_SYNC_BUFFER), M_FS_ERROR_IO);
	M_fs_file_close(fd); /* the failure is ignored here */

	/* Unbuffered, the device's ENOSPC surfaces directly (unclassified). */
	ASSERT_EQ(M_fs_file_open(&fd, full.c_str(), 0, M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_NOCREATE, nullptr),
	          M_FS_ERROR_SUCCESS);
	size_t n = 9;
	EXPECT_EQ(M_fs_file_write(fd, bytes("data"), 4, &n, 0), M_FS_ERROR_GENERIC);
	EXPECT_EQ(n, 0u);
	M_fs_file_close(fd);
}

/* ---------------------------------------------------------------------------
 * Whole-file operations
 * ------------------------------------------------------------------------- */

TEST(m_fs_file, read_bytes_limits)
{
	TempDir           dir;
	const auto        p    = dir.sub("f");
	const std::string data = pattern(3000);
	put_file(p, data);

	unsigned char *buf = nullptr;
	size_t         len = 0;
	ASSERT_EQ(M_fs_file_read_bytes(p.c_str(), data.size(), &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(len, data.size());
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), data);
	EXPECT_EQ(buf[len], 0) << "terminated";
	M_free(buf);

	buf = reinterpret_cast<unsigned char *>(1);
	len = 99;
	EXPECT_EQ(M_fs_file_read_bytes(p.c_str(), data.size() - 1, &buf, &len), M_FS_ERROR_FILE_TOO_BIG);
	EXPECT_EQ(buf, nullptr);
	EXPECT_EQ(len, 0u);

	ASSERT_EQ(M_fs_file_read_bytes(p.c_str(), 0, &buf, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf)), data);
	M_free(buf);
}

TEST(m_fs_file, read_bytes_empty_missing_and_arguments)
{
	TempDir    dir;
	const auto p = dir.sub("empty");
	put_file(p, "");
	unsigned char *buf = nullptr;
	size_t         len = 99;
	ASSERT_EQ(M_fs_file_read_bytes(p.c_str(), 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(len, 0u);
	ASSERT_NE(buf, nullptr);
	EXPECT_EQ(buf[0], 0);
	M_free(buf);

	const auto missing = dir.sub("missing");
	EXPECT_EQ(M_fs_file_read_bytes(missing.c_str(), 0, &buf, &len), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(buf, nullptr);
	EXPECT_EQ(slurp(missing), "(missing)") << "reading creates nothing";

	EXPECT_EQ(M_fs_file_read_bytes(nullptr, 0, &buf, &len), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_read_bytes("", 0, &buf, &len), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_read_bytes(p.c_str(), 0, nullptr, &len), M_FS_ERROR_INVALID);
}

TEST(m_fs_file, read_bytes_grows_without_asking_the_size)
{
	/* /proc files report size 0; only reading to the end finds their data. */
	struct stat st;
	if (::stat("/proc/self/status", &st) != 0)
		GTEST_SKIP() << "/proc is not mounted";
	EXPECT_EQ(st.st_size, 0);
	unsigned char *buf = nullptr;
	size_t         len = 0;
	ASSERT_EQ(M_fs_file_read_bytes("/proc/self/status", 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_GT(len, 0u);
	EXPECT_NE(std::string(reinterpret_cast<char *>(buf), len).find("Name:"), std::string::npos);
	M_free(buf);

	/* A large file in steps of at least 1024 bytes: far fewer reads than
     * 1 KiB steps would need. */
	TempDir           dir;
	const std::string data = pattern(256 * 1024);
	put_file(dir.sub("big"), data);
	m::detail::sys_counters_reset();
	ASSERT_EQ(M_fs_file_read_bytes(dir.sub("big").c_str(), 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), data);
	EXPECT_LE(counters().read, 256u);
	M_free(buf);
}

TEST(m_fs_file, write_bytes)
{
	TempDir    dir;
	const auto p = dir.sub("out");
	size_t     n = 0;
	ASSERT_EQ(M_fs_file_write_bytes(p.c_str(), bytes("first line\n"), 0, M_FS_FILE_MODE_WRITE, &n), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 11u);
	EXPECT_EQ(slurp(p), "first line\n");

	/* Replace. */
	ASSERT_EQ(M_fs_file_write_bytes(p.c_str(), bytes("abcdef"), 3, 0, &n), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(n, 3u);
	EXPECT_EQ(slurp(p), "abc");

	/* Append. */
	ASSERT_EQ(M_fs_file_write_bytes(p.c_str(), bytes("de"), 0, M_FS_FILE_MODE_APPEND, &n), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(p), "abcde");

	/* Binary data with zero bytes goes out whole with an explicit length. */
	const std::string bin("a\0b\0c", 5);
	ASSERT_EQ(M_fs_file_write_bytes(p.c_str(), bytes(bin), bin.size(), 0, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(p), bin);

	/* An empty string: refused, and the file is left created and empty. */
	n = 9;
	EXPECT_EQ(M_fs_file_write_bytes(p.c_str(), bytes(""), 0, 0, &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(n, 0u);
	EXPECT_EQ(slurp(p), "");
	const auto fresh = dir.sub("fresh");
	EXPECT_EQ(M_fs_file_write_bytes(fresh.c_str(), bytes(""), 0, 0, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(slurp(fresh), "");

	EXPECT_EQ(M_fs_file_write_bytes(nullptr, bytes("x"), 1, 0, &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write_bytes("", bytes("x"), 1, 0, &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write_bytes(p.c_str(), nullptr, 1, 0, &n), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_file_write_bytes(dir.sub("no/dir").c_str(), bytes("x"), 1, 0, &n), M_FS_ERROR_NOT_FOUND);
}

TEST(m_fs_file, home_expansion_on_open)
{
	TempDir dir;
	{
		EnvGuard home("HOME", dir.path().c_str());
		EXPECT_EQ(M_fs_file_write_bytes("~/in_home", bytes("h"), 1, 0, nullptr), M_FS_ERROR_SUCCESS);
	}
	EXPECT_EQ(slurp(dir.sub("in_home")), "h");
}

} // namespace
