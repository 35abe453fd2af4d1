/* Result codes: the Windows error table row by row, the errno translation,
 * and real failures of the host classified through both.
 */
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/m_mem.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_info.h"
#include "fs/m_fs_path.h"
#include "fs/m_fs_perms.h"
#include "fs/m_fs_win.h"
#include "fs/m_platform.h"
#include "fs/m_platform_int.h"
#include "tests/fs/fs_test_util.h"

namespace {

struct SyserrCase {
	uint32_t     syserr;
	M_fs_error_t expect;
};

/* Every row of the table, plus numbers around and between the rows. */
constexpr SyserrCase kSyserrCases[] = {
    {0, M_FS_ERROR_SUCCESS},
    {2, M_FS_ERROR_NOT_FOUND},
    {3, M_FS_ERROR_NOT_FOUND},
    {4, M_FS_ERROR_TOO_MANY_FILES},
    {5, M_FS_ERROR_PERMISSION},
    {17, M_FS_ERROR_NOT_SAME_DEVICE},
    {18, M_FS_ERROR_TOO_MANY_FILES},
    {19, M_FS_ERROR_READONLY},
    {25, M_FS_ERROR_SEEK},
    {29, M_FS_ERROR_IO},
    {30, M_FS_ERROR_IO},
    {32, M_FS_ERROR_PERMISSION},
    {50, M_FS_ERROR_NOT_SUPPORTED},
    {80, M_FS_ERROR_FILE_EXISTS},
    {87, M_FS_ERROR_INVALID},
    {145, M_FS_ERROR_DIR_NOT_EMPTY},
    {183, M_FS_ERROR_FILE_EXISTS},
    {206, M_FS_ERROR_NAME_TOO_LONG},
    {267, M_FS_ERROR_NOT_DIR},
    /* Not in the table. */
    {1, M_FS_ERROR_GENERIC},
    {6, M_FS_ERROR_GENERIC},
    {16, M_FS_ERROR_GENERIC},
    {20, M_FS_ERROR_GENERIC},
    {31, M_FS_ERROR_GENERIC},
    {33, M_FS_ERROR_GENERIC},
    {184, M_FS_ERROR_GENERIC},
    {266, M_FS_ERROR_GENERIC},
    {1332, M_FS_ERROR_GENERIC},
    {UINT32_MAX, M_FS_ERROR_GENERIC},
};

TEST(m_fs_win, table_row_by_row)
{
	for (const SyserrCase &c : kSyserrCases) {
		EXPECT_EQ(M_fs_error_from_syserr(c.syserr), c.expect) << "Windows error " << c.syserr;
	}
}

TEST(m_fs_win, enumeration_numbers_are_fixed)
{
	EXPECT_EQ(M_FS_ERROR_SUCCESS, 0);
	EXPECT_EQ(M_FS_ERROR_READONLY, 7);
	EXPECT_EQ(M_FS_ERROR_NOT_FOUND, 9);
	EXPECT_EQ(M_FS_ERROR_TOO_MANY_FILES, 13);
	EXPECT_EQ(M_FS_ERROR_NOT_DIR, 15);
	EXPECT_EQ(M_FS_ERROR_LINK_LOOP, 17);
	EXPECT_EQ(M_FS_ERROR_NOT_SAME_DEVICE, 19);
	/* No Windows number produces a reserved value. */
	for (uint32_t n = 0; n < 2000; n++) {
		const M_fs_error_t r = M_fs_error_from_syserr(n);
		EXPECT_NE(r, M_FS_ERROR_RESERVED_8);
		EXPECT_NE(r, M_FS_ERROR_RESERVED_14);
		EXPECT_NE(r, M_FS_ERROR_RESERVED_18);
	}
}

struct ErrnoCase {
	int          err;
	uint32_t     syserr;
	M_fs_error_t result;
};

constexpr ErrnoCase kErrnoCases[] = {
    {0, 0, M_FS_ERROR_SUCCESS},
    {ENOENT, 2, M_FS_ERROR_NOT_FOUND},
    {ENOTDIR, 3, M_FS_ERROR_NOT_FOUND},
    {EMFILE, 4, M_FS_ERROR_TOO_MANY_FILES},
    {ENFILE, 4, M_FS_ERROR_TOO_MANY_FILES},
    {EACCES, 5, M_FS_ERROR_PERMISSION},
    {EPERM, 5, M_FS_ERROR_PERMISSION},
    {EXDEV, 17, M_FS_ERROR_NOT_SAME_DEVICE},
    {EROFS, 19, M_FS_ERROR_READONLY},
    {ESPIPE, 25, M_FS_ERROR_SEEK},
    {EIO, 30, M_FS_ERROR_IO},
    {EBUSY, 32, M_FS_ERROR_PERMISSION},
    {ETXTBSY, 32, M_FS_ERROR_PERMISSION},
    {ENOTSUP, 50, M_FS_ERROR_NOT_SUPPORTED},
    {EEXIST, 80, M_FS_ERROR_FILE_EXISTS},
    {EINVAL, 87, M_FS_ERROR_INVALID},
    {ENOTEMPTY, 145, M_FS_ERROR_DIR_NOT_EMPTY},
    {ENAMETOOLONG, 206, M_FS_ERROR_NAME_TOO_LONG},
    {ENOSPC, M_PLATFORM_SYSERR_OTHER, M_FS_ERROR_GENERIC},
    {EAGAIN, M_PLATFORM_SYSERR_OTHER, M_FS_ERROR_GENERIC},
    {ERANGE, M_PLATFORM_SYSERR_OTHER, M_FS_ERROR_GENERIC},
};

TEST(m_fs_win, errno_translation_row_by_row)
{
	for (const ErrnoCase &c : kErrnoCases) {
		errno = c.err;
		EXPECT_EQ(M_platform_errno(), c.syserr) << "errno " << c.err;
		EXPECT_EQ(errno, c.err) << "M_platform_errno must leave errno alone";
		EXPECT_EQ(M_fs_error_from_syserr(M_platform_errno()), c.result) << "errno " << c.err;
		EXPECT_EQ(m::detail::fs_error_from_errno(c.err), c.result);
	}
	EXPECT_EQ(M_fs_error_from_syserr(M_PLATFORM_SYSERR_OTHER), M_FS_ERROR_GENERIC);
}

TEST(m_fs_win, size_conversions)
{
	uint32_t d = 7;
	EXPECT_TRUE(M_win32_size_t_to_dword(0, &d));
	EXPECT_EQ(d, 0u);
	EXPECT_TRUE(M_win32_size_t_to_dword(0xFFFFFFFFu, &d));
	EXPECT_EQ(d, 0xFFFFFFFFu);
	EXPECT_FALSE(M_win32_size_t_to_dword(static_cast<size_t>(0x100000000ull), &d));
	EXPECT_EQ(d, 0u);
	EXPECT_FALSE(M_win32_size_t_to_dword(SIZE_MAX, nullptr));
	EXPECT_TRUE(M_win32_size_t_to_dword(12, nullptr));

	int32_t i = 7;
	EXPECT_TRUE(M_win32_size_t_to_int(0x7FFFFFFF, &i));
	EXPECT_EQ(i, 0x7FFFFFFF);
	EXPECT_FALSE(M_win32_size_t_to_int(0x80000000u, &i));
	EXPECT_EQ(i, 0);
	EXPECT_FALSE(M_win32_size_t_to_int(SIZE_MAX, nullptr));
	EXPECT_TRUE(M_win32_size_t_to_int(5, nullptr));
}

/* UTF-16 to UTF-8: the result as a std::string ("(null)" for NULL). */
std::string utf8_of(const char16_t *s)
{
	char       *r   = M_win32_wchar_to_char(s);
	std::string out = r != nullptr ? r : "(null)";
	M_free(r);
	return out;
}

TEST(m_fs_win, wide_text_to_utf8)
{
	struct Case {
		const char16_t *in;
		const char     *want;
	};
	const char16_t lone_high[]    = {u'a', 0xD83D, u'b', 0};
	const char16_t lone_low[]     = {0xDE00, u'x', 0};
	const char16_t high_at_end[]  = {u'z', 0xD800, 0};
	const char16_t swapped_pair[] = {0xDC00, 0xD800, 0};
	const Case     cases[]        = {
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
	for (const Case &c : cases)
		EXPECT_EQ(utf8_of(c.in), c.want);
	EXPECT_EQ(M_win32_wchar_to_char(nullptr), nullptr);

	/* The block is terminated right after the text. */
	char *r = M_win32_wchar_to_char(u"ab");
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r[2], '\0');
	M_free(r);
}

using fs_test::TempDir;
using fs_test::write_text;

TEST(m_fs_win, real_failures_missing_file)
{
	TempDir dir;
	ASSERT_FALSE(dir.path().empty());
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(
	    M_fs_file_open(&fd, dir.sub("missing").c_str(), 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE, nullptr),
	    M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(fd, nullptr);
	/* A missing directory on the way is the same class. */
	EXPECT_EQ(M_fs_info(nullptr, dir.sub("nodir/x").c_str(), 0), M_FS_ERROR_NOT_FOUND);
}

TEST(m_fs_win, real_failures_component_is_a_file)
{
	TempDir dir;
	write_text(dir.sub("plain"), "x");
	M_fs_file_t *fd = nullptr;
	/* ENOTDIR: Windows' "path not found". */
	EXPECT_EQ(M_fs_file_open(&fd, dir.sub("plain/inner").c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(fd, nullptr);
}

TEST(m_fs_win, real_failures_name_too_long)
{
	TempDir dir;
	/* A single component above the file system's NAME_MAX, given relative to
     * the current directory so the whole path stays below the normaliser's
     * 260 characters: the system itself refuses it (ENAMETOOLONG). */
	const std::string name(NAME_MAX + 1, 'n');
	ASSERT_LT(name.size(), 260u);
	char *old_cwd = nullptr;
	ASSERT_EQ(M_fs_path_get_cwd(&old_cwd), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_path_set_cwd(dir.path().c_str()), M_FS_ERROR_SUCCESS);
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, name.c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_NAME_TOO_LONG);
	EXPECT_EQ(fd, nullptr);
	EXPECT_EQ(M_fs_path_set_cwd(old_cwd), M_FS_ERROR_SUCCESS);
	M_free(old_cwd);

	/* 260 characters or more: refused before any system call. */
	const std::string longer = dir.sub(std::string(300, 'm'));
	EXPECT_EQ(M_fs_file_open(&fd, longer.c_str(), 0, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_NAME_TOO_LONG);
}

TEST(m_fs_win, real_failures_permission)
{
	if (::geteuid() == 0)
		GTEST_SKIP() << "running as root: directory permissions do not stop root, so no access failure can be provoked";
	TempDir           dir;
	const std::string locked = dir.sub("locked");
	ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
	write_text(locked + "/f", "secret");
	ASSERT_EQ(::chmod(locked.c_str(), 0), 0);

	unsigned char *buf = nullptr;
	EXPECT_EQ(M_fs_file_read_bytes((locked + "/f").c_str(), 0, &buf, nullptr), M_FS_ERROR_PERMISSION);
	EXPECT_EQ(buf, nullptr);
	EXPECT_EQ(M_fs_perms_can_access((locked + "/f").c_str(), 0), M_FS_ERROR_PERMISSION);
	(void)::chmod(locked.c_str(), 0700);
}

TEST(m_fs_win, real_failures_permission_as_unprivileged_child)
{
	/* As root the check above cannot fail; a child that gives up root shows
     * the same mapping for real. */
	if (::geteuid() != 0)
		GTEST_SKIP() << "not root: covered by real_failures_permission";
	TempDir dir;
	ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
	const std::string locked = dir.sub("locked");
	ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
	write_text(locked + "/f", "secret");
	ASSERT_EQ(::chmod(locked.c_str(), 0), 0);

	const pid_t pid = ::fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		int rc = 0;
		if (::setgid(65534) != 0 || ::setuid(65534) != 0)
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
