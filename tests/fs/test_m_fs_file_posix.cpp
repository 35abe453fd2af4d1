/* File I/O on what only POSIX has: modes and the umask, close-on-exec, the
 * descriptors 0 to 2, FIFOs, a full device, /proc and $HOME. */
#include "tests/fs/fs_test.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

namespace {

using namespace fs_test;

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
	const int flags = ::fcntl(fd->handle, F_GETFD);
	EXPECT_TRUE(flags >= 0 && (flags & FD_CLOEXEC));
	M_fs_file_close(fd);
	EXPECT_EQ(mode_of(dir.sub("plain")), 0644u);
	::umask(old);
	M_fs_perms_destroy(perms);
	M_fs_perms_destroy(none);
}

/* The process's streams: left open when the wrapper closes; having no name,
 * they are never hidden. */
TEST(m_fs_file, iostreams)
{
	M_fs_file_t *fd = reinterpret_cast<M_fs_file_t *>(1);
	EXPECT_EQ(M_fs_file_open_iostream(&fd, static_cast<M_fs_iostream_t>(3)), M_FS_ERROR_INVALID);
	EXPECT_EQ(fd, nullptr);
	for (M_fs_iostream_t s : {M_FS_IOSTREAM_IN, M_FS_IOSTREAM_OUT, M_FS_IOSTREAM_ERR}) {
		ASSERT_EQ(M_fs_file_open_iostream(&fd, s), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(fd->handle, static_cast<int>(s));
		M_fs_info_t *info = nullptr;
		ASSERT_EQ(M_fs_info_file(&info, fd, 0), M_FS_ERROR_SUCCESS);
		EXPECT_FALSE(M_fs_info_get_ishidden(info));
		M_fs_info_destroy(info);
		EXPECT_EQ(M_fs_info_file(nullptr, fd, 0), M_FS_ERROR_SUCCESS);
		M_fs_file_close(fd);
		EXPECT_NE(::fcntl(static_cast<int>(s), F_GETFD), -1) << "stream " << s;
	}
}

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

/* What only this host has: a FIFO has no position to tell; /proc files
 * report size 0, so only reading to the end finds their data; "~" is
 * $HOME. (The words of a failure are the C library's: the end-to-end
 * tests' messages hold them.) */
TEST(m_fs_file, host_files)
{
	TempDir dir;
	ASSERT_EQ(::mkfifo(dir.sub("p").c_str(), 0600), 0);
	M_fs_file_t *fd = open_or_fail(dir.sub("p"), 0, RD | WR);
	uint64_t     at = 99;
	EXPECT_EQ(M_fs_file_tell(fd, &at), M_FS_ERROR_SEEK);
	EXPECT_EQ(at, 0u);
	M_fs_file_close(fd);
	unsigned char *buf = nullptr;
	size_t         len = 0;
	ASSERT_EQ(M_fs_file_read_bytes("/proc/self/cmdline", 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), slurp("/proc/self/cmdline"));
	M_free(buf);
	EnvGuard home("HOME", dir.path().c_str());
	EXPECT_EQ(M_fs_file_write_bytes("~/in_home", bytes("h"), 1, 0, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(dir.sub("in_home")), "h");
}

} // namespace
