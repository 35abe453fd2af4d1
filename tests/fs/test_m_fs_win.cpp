/* Result codes: a few rows of the Windows error table and of the errno
 * translation, real failures of the host classified through both, and the
 * Windows text and size conversions.
 */
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <sys/wait.h>

#include "fs/m_fs_info.h"
#include "fs/m_fs_win.h"
#include "fs/m_platform.h"
#include "fs/m_platform_int.h"
#include "tests/fs/fs_test_util.h"

namespace {

using namespace fs_test;

TEST(m_fs_win, error_translation)
{
	/* Windows numbers only: in the table, beside it and far off. */
	const std::pair<uint32_t, M_fs_error_t> syserrs[] = {
	    {29, M_FS_ERROR_IO},       {183, M_FS_ERROR_FILE_EXISTS}, {267, M_FS_ERROR_NOT_DIR},
	    {1, M_FS_ERROR_GENERIC},   {266, M_FS_ERROR_GENERIC},     {UINT32_MAX, M_FS_ERROR_GENERIC},
	    {M_PLATFORM_SYSERR_OTHER, M_FS_ERROR_GENERIC},
	};
	for (const auto &[syserr, result] : syserrs)
		EXPECT_EQ(M_fs_error_from_syserr(syserr), result) << syserr;
	/* errno through the Windows number to the result. */
	const struct {
		int          err;
		uint32_t     syserr;
		M_fs_error_t result;
	} errnos[] = {
	    {0, 0, M_FS_ERROR_SUCCESS},
	    {ENOTDIR, 3, M_FS_ERROR_NOT_FOUND},
	    {ENFILE, 4, M_FS_ERROR_TOO_MANY_FILES},
	    {EPERM, 5, M_FS_ERROR_PERMISSION},
	    {EXDEV, 17, M_FS_ERROR_NOT_SAME_DEVICE},
	    {EROFS, 19, M_FS_ERROR_READONLY},
	    {ETXTBSY, 32, M_FS_ERROR_PERMISSION},
	    {ENAMETOOLONG, 206, M_FS_ERROR_NAME_TOO_LONG},
	    {ENOSPC, M_PLATFORM_SYSERR_OTHER, M_FS_ERROR_GENERIC},
	};
	for (const auto &c : errnos) {
		errno = c.err;
		EXPECT_EQ(M_platform_errno(), c.syserr) << "errno " << c.err;
		EXPECT_EQ(errno, c.err) << "M_platform_errno must leave errno alone";
		EXPECT_EQ(m::detail::fs_error_from_errno(c.err), c.result) << "errno " << c.err;
	}
}

TEST(m_fs_win, size_conversions)
{
	uint32_t d = 7;
	EXPECT_TRUE(M_win32_size_t_to_dword(0xFFFFFFFFu, &d));
	EXPECT_EQ(d, 0xFFFFFFFFu);
	EXPECT_FALSE(M_win32_size_t_to_dword(static_cast<size_t>(0x100000000ull), &d));
	EXPECT_EQ(d, 0u);
	EXPECT_TRUE(M_win32_size_t_to_dword(12, nullptr));
	int32_t i = 7;
	EXPECT_TRUE(M_win32_size_t_to_int(0x7FFFFFFF, &i));
	EXPECT_EQ(i, 0x7FFFFFFF);
	EXPECT_FALSE(M_win32_size_t_to_int(0x80000000u, &i));
	EXPECT_EQ(i, 0);
	EXPECT_TRUE(M_win32_size_t_to_int(5, nullptr));
}

TEST(m_fs_win, wide_text_to_utf8)
{
	const char16_t lone_high[] = {u'a', 0xD83D, u'b', 0}, lone_low[] = {0xDE00, u'x', 0};
	const char16_t high_at_end[] = {u'z', 0xD800, 0}, swapped_pair[] = {0xDC00, 0xD800, 0};
	const std::pair<const char16_t *, const char *> cases[] = {
	    {u"", ""},
	    {u"UTC", "UTC"},
	    {u"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9"},       /* two-byte sequences */
	    {u"\u07ff\u0800", "\xdf\xbf\xe0\xa0\x80"},     /* both sides of the 2/3-byte edge */
	    {u"\u20ac\uffff", "\xe2\x82\xac\xef\xbf\xbf"}, /* three-byte sequences */
	    {u"\U0001F600", "\xf0\x9f\x98\x80"},           /* a surrogate pair */
	    {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},           /* the last code point */
	    /* Lone surrogates cannot be represented: U+FFFD each. */
	    {lone_high, "a\xef\xbf\xbd"
	                "b"},
	    {lone_low, "\xef\xbf\xbdx"},
	    {high_at_end, "z\xef\xbf\xbd"},
	    {swapped_pair, "\xef\xbf\xbd\xef\xbf\xbd"},
	};
	for (const auto &[in, want] : cases) {
		char *r = M_win32_wchar_to_char(in);
		ASSERT_NE(r, nullptr);
		EXPECT_EQ(std::string(r), want);
		EXPECT_EQ(r[std::strlen(want)], '\0') << "terminated right after the text";
		M_free(r);
	}
}

/* ---------------------------------------------------------------------------
 * Real failures of the host
 * ------------------------------------------------------------------------- */

TEST(m_fs_win, real_failures)
{
	TempDir dir;
	make_file(dir.sub("plain"), "x");
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, dir.sub("missing").c_str(), 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE,
	                         nullptr),
	          M_FS_ERROR_NOT_FOUND);
	/* A missing directory on the way is the same class, and so is ENOTDIR:
     * Windows' "path not found". */
	EXPECT_EQ(M_fs_info(nullptr, dir.sub("nodir/x").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_file_open(&fd, dir.sub("plain/inner").c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_NOT_FOUND);
	/* A component above NAME_MAX, relative so the whole path stays below the
     * normaliser's 260 characters: the system itself refuses it. 260
     * characters or more are refused before any system call. */
	{
		CwdGuard in(dir.path());
		EXPECT_EQ(M_fs_file_open(&fd, std::string(NAME_MAX + 1, 'n').c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr),
		          M_FS_ERROR_NAME_TOO_LONG);
	}
	EXPECT_EQ(M_fs_file_open(&fd, dir.sub(std::string(300, 'm')).c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_NAME_TOO_LONG);
	EXPECT_EQ(fd, nullptr);
}

/* Access refused: directory permissions do not stop root, so a child gives
 * up root (when it has it) and reports what it saw. */
TEST(m_fs_win, real_failures_permission)
{
	TempDir dir;
	ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
	const std::string locked = dir.sub("locked");
	ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
	make_file(locked + "/f", "secret");
	ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
	const pid_t pid = ::fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		int rc = 0;
		if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
			::_exit(2);
		unsigned char *buf = nullptr;
		if (M_fs_file_read_bytes((locked + "/f").c_str(), 0, &buf, nullptr) != M_FS_ERROR_PERMISSION)
			rc |= 4;
		if (M_fs_perms_can_access((locked + "/f").c_str(), 0) != M_FS_ERROR_PERMISSION)
			rc |= 8;
		M_fs_file_t *fd = nullptr;
		if (M_fs_file_open(&fd, (locked + "/new").c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr) != M_FS_ERROR_PERMISSION)
			rc |= 16;
		::_exit(rc);
	}
	int status = 0;
	ASSERT_EQ(::waitpid(pid, &status, 0), pid);
	ASSERT_TRUE(WIFEXITED(status));
	if (WEXITSTATUS(status) == 2)
		GTEST_SKIP() << "could not drop to uid 65534 in the child";
	EXPECT_EQ(WEXITSTATUS(status), 0) << "bits: 4 read_bytes, 8 can_access, 16 open";
}

} // namespace
