/* Paths: text functions in both styles, normalisation (variables, "~", the
 * current directory, ".", "..", limits) and real symbolic links.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "containers/m_list_str.h"
#include "core/m_mem.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_info.h"
#include "fs/m_fs_path.h"
#include "tests/fs/fs_test_util.h"
#include "tests/test_util.h"

namespace {

constexpr M_fs_system_t WIN  = M_FS_SYSTEM_WINDOWS;
constexpr M_fs_system_t UNIX = M_FS_SYSTEM_UNIX;

/* Take an allocated string result; "(null)" stands for NULL. */
std::string take(char *s)
{
	std::string out = s == nullptr ? "(null)" : s;
	M_free(s);
	return out;
}

/* Normalise and report "code:result". */
std::string norm(const char *path, uint32_t flags, M_fs_system_t sys)
{
	char              *out = reinterpret_cast<char *>(1);
	const M_fs_error_t res = M_fs_path_norm(&out, path, flags, sys);
	if (res != M_FS_ERROR_SUCCESS) {
		EXPECT_EQ(out, nullptr) << "failure must leave *out NULL";
		return "error:" + std::to_string(static_cast<int>(res));
	}
	return take(out);
}

std::string err(M_fs_error_t e)
{
	return "error:" + std::to_string(static_cast<int>(e));
}

using fs_test::TempDir;
using fs_test::write_text;
using test_util::EnvGuard;

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

/* ---------------------------------------------------------------------------
 * Styles and tests on the text
 * ------------------------------------------------------------------------- */

TEST(m_fs_path, styles)
{
	EXPECT_EQ(M_fs_path_get_system_type(M_FS_SYSTEM_AUTO), M_FS_SYSTEM_UNIX);
	EXPECT_EQ(M_fs_path_get_system_type(WIN), WIN);
	EXPECT_EQ(M_fs_path_get_system_type(UNIX), UNIX);
	EXPECT_EQ(M_fs_path_get_system_sep(WIN), '\\');
	EXPECT_EQ(M_fs_path_get_system_sep(UNIX), '/');
	EXPECT_EQ(M_fs_path_get_system_sep(M_FS_SYSTEM_AUTO), '/');
	EXPECT_EQ(M_fs_path_get_system_sep(static_cast<M_fs_system_t>(3)), '/');
	EXPECT_EQ(M_fs_path_get_path_max(WIN), 260u);
	EXPECT_EQ(M_fs_path_get_path_max(UNIX), 260u);
}

TEST(m_fs_path, isabs_and_isunc)
{
	struct Case {
		const char   *path;
		M_fs_system_t sys;
		bool          abs;
	};
	const Case cases[] = {
	    {"C:\\x", WIN, true},
	    {"C:", WIN, true},
	    {"C:name", WIN, true},
	    {"\\\\srv\\s", WIN, true},
	    {"\\x", WIN, false},
	    {"x\\y", WIN, false},
	    {"/x", WIN, false},
	    {"/x", UNIX, true},
	    {"x/y", UNIX, false},
	    {"C:\\x", UNIX, false},
	    {"", WIN, false},
	    {nullptr, UNIX, false},
	    {"/x", M_FS_SYSTEM_AUTO, true},
	    {"/x", static_cast<M_fs_system_t>(3), false},
	};
	for (const Case &c : cases)
		EXPECT_EQ(M_fs_path_isabs(c.path, c.sys), c.abs) << (c.path ? c.path : "NULL") << " style " << c.sys;

	EXPECT_TRUE(M_fs_path_isunc("\\\\srv"));
	EXPECT_TRUE(M_fs_path_isunc("\\\\"));
	EXPECT_FALSE(M_fs_path_isunc("\\srv"));
	EXPECT_FALSE(M_fs_path_isunc("//srv"));
	EXPECT_FALSE(M_fs_path_isunc(nullptr));
}

/* Components joined with "|" for comparison. */
std::string components(const char *path, M_fs_system_t sys)
{
	M_list_str_t *l   = M_fs_path_componentize_path(path, sys);
	std::string   out = "[";
	for (size_t i = 0; i < M_list_str_len(l); i++) {
		if (i > 0)
			out += "|";
		out += M_list_str_at(l, i);
	}
	M_list_str_destroy(l);
	return out + "]";
}

TEST(m_fs_path, componentize)
{
	EXPECT_EQ(components("C:\\data\\x", WIN), "[C:|data|x]");
	EXPECT_EQ(components("\\\\srv\\share", WIN), "[|srv|share]");
	EXPECT_EQ(components("\\lost", WIN), "[lost]");
	EXPECT_EQ(components("/usr/lib", UNIX), "[|usr|lib]");
	EXPECT_EQ(components("/usr/lib", WIN), "[usr|lib]");
	EXPECT_EQ(components("a//b\\\\c/", UNIX), "[a|b|c]");
	EXPECT_EQ(components("a/b\\c", WIN), "[a|b|c]");
	EXPECT_EQ(components("/", UNIX), "[]");
	EXPECT_EQ(components("\\", WIN), "[]");
	EXPECT_EQ(components("\\\\", WIN), "[]");
	EXPECT_EQ(components("", UNIX), "[]");
	EXPECT_EQ(components(nullptr, UNIX), "[]");
	EXPECT_EQ(components("/x", M_FS_SYSTEM_AUTO), "[|x]");
}

TEST(m_fs_path, componentize_root_marker)
{
	/* A lone root is one empty component. */
	M_list_str_t *l = M_fs_path_componentize_path("/", UNIX);
	ASSERT_EQ(M_list_str_len(l), 1u);
	EXPECT_STREQ(M_list_str_at(l, 0), "");
	M_list_str_destroy(l);
	l = M_fs_path_componentize_path("\\\\", WIN);
	ASSERT_EQ(M_list_str_len(l), 1u);
	EXPECT_STREQ(M_list_str_at(l, 0), "");
	M_list_str_destroy(l);
}

std::string join_list(std::initializer_list<const char *> parts, M_fs_system_t sys)
{
	M_list_str_t *l = M_list_str_create(M_LIST_STR_NONE);
	for (const char *p : parts)
		M_list_str_insert(l, p);
	std::string out = take(M_fs_path_join_parts(l, sys));
	M_list_str_destroy(l);
	return out;
}

TEST(m_fs_path, join_parts)
{
	EXPECT_EQ(join_list({"C:", "data", "x"}, WIN), "C:\\data\\x");
	EXPECT_EQ(join_list({"C:"}, WIN), "C:\\");
	EXPECT_EQ(join_list({"", "srv", "share"}, WIN), "\\\\srv\\share");
	EXPECT_EQ(join_list({""}, WIN), "\\\\");
	EXPECT_EQ(join_list({""}, UNIX), "/");
	EXPECT_EQ(join_list({"", "usr", "lib"}, UNIX), "/usr/lib");
	EXPECT_EQ(join_list({"a", "", "b", ""}, UNIX), "a/b");
	EXPECT_EQ(join_list({"", "", "x"}, UNIX), "/x");
	EXPECT_EQ(join_list({}, UNIX), "(null)");
	EXPECT_EQ(take(M_fs_path_join_parts(nullptr, UNIX)), "(null)");

	EXPECT_EQ(take(M_fs_path_join_vparts(WIN, 3, "C:", "a", "b")), "C:\\a\\b");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 3, "", "a", "b")), "/a/b");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 2, "a", static_cast<const char *>(nullptr))), "a");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 0)), "(null)");
}

TEST(m_fs_path, join)
{
	EXPECT_EQ(take(M_fs_path_join("C:\\a", "b", WIN)), "C:\\a\\b");
	EXPECT_EQ(take(M_fs_path_join("C:\\a\\", "b", WIN)), "C:\\a\\b");
	EXPECT_EQ(take(M_fs_path_join("C:\\a", "D:\\x", WIN)), "D:\\x");
	EXPECT_EQ(take(M_fs_path_join("anything", "\\\\srv\\x", WIN)), "\\\\srv\\x");
	EXPECT_EQ(take(M_fs_path_join("/a", "b", UNIX)), "/a/b");
	EXPECT_EQ(take(M_fs_path_join("/a/", "b", UNIX)), "/a/b");
	EXPECT_EQ(take(M_fs_path_join("/a", "/b", UNIX)), "/b");
	EXPECT_EQ(take(M_fs_path_join("/a", "b", M_FS_SYSTEM_AUTO)), "/a/b");
	EXPECT_EQ(take(M_fs_path_join(nullptr, "b", UNIX)), "b");
	EXPECT_EQ(take(M_fs_path_join("", nullptr, UNIX)), "");
	EXPECT_EQ(take(M_fs_path_join("a", nullptr, UNIX)), "a");
	EXPECT_EQ(take(M_fs_path_join("a", "", WIN)), "a");
}

TEST(m_fs_path, join_resolved)
{
	EXPECT_EQ(take(M_fs_path_join_resolved("/etc", "conf/main.cfg", "other.cfg", UNIX)), "/etc/conf/other.cfg");
	EXPECT_EQ(take(M_fs_path_join_resolved("/etc", "main.cfg", "/abs/x", UNIX)), "/abs/x");
	EXPECT_EQ(take(M_fs_path_join_resolved("C:\\d", "f.txt", "g.txt", WIN)), "C:\\d\\g.txt");
	EXPECT_EQ(take(M_fs_path_join_resolved(nullptr, "f.txt", "g.txt", UNIX)), "./g.txt");
	EXPECT_EQ(take(M_fs_path_join_resolved("", nullptr, "", UNIX)), "(null)");
}

TEST(m_fs_path, basename_and_dirname_windows)
{
	EXPECT_EQ(take(M_fs_path_basename("C:\\exports\\today.exp", WIN)), "today.exp");
	EXPECT_EQ(take(M_fs_path_basename("today.exp", WIN)), "today.exp");
	EXPECT_EQ(take(M_fs_path_basename("C:", WIN)), "(null)");
	EXPECT_EQ(take(M_fs_path_basename("\\\\", WIN)), "(null)");
	EXPECT_EQ(take(M_fs_path_basename("\\\\srv\\share\\x", WIN)), "x");

	EXPECT_EQ(take(M_fs_path_dirname("C:\\exports\\today.exp", WIN)), "C:\\exports");
	EXPECT_EQ(take(M_fs_path_dirname("C:", WIN)), "C:\\");
	EXPECT_EQ(take(M_fs_path_dirname("C:\\x", WIN)), "C:\\");
	EXPECT_EQ(take(M_fs_path_dirname("today.exp", WIN)), ".");
	EXPECT_EQ(take(M_fs_path_dirname("\\\\srv\\share\\x", WIN)), "\\\\srv\\share");
}

TEST(m_fs_path, basename_and_dirname_unix)
{
	EXPECT_EQ(take(M_fs_path_basename("/exports/today.exp", UNIX)), "today.exp");
	EXPECT_EQ(take(M_fs_path_basename("/exports/today.exp", M_FS_SYSTEM_AUTO)), "today.exp");
	EXPECT_EQ(take(M_fs_path_basename("today.exp", UNIX)), "today.exp");
	EXPECT_EQ(take(M_fs_path_basename("dir/", UNIX)), "dir");
	EXPECT_EQ(take(M_fs_path_basename("/", UNIX)), "(null)");
	EXPECT_EQ(take(M_fs_path_basename("", UNIX)), "(null)");
	EXPECT_EQ(take(M_fs_path_basename(nullptr, UNIX)), "(null)");

	EXPECT_EQ(take(M_fs_path_dirname("/exports/today.exp", UNIX)), "/exports");
	EXPECT_EQ(take(M_fs_path_dirname("/exports", UNIX)), "/");
	EXPECT_EQ(take(M_fs_path_dirname("/", UNIX)), "/");
	EXPECT_EQ(take(M_fs_path_dirname("a/b/c", UNIX)), "a/b");
	EXPECT_EQ(take(M_fs_path_dirname("today.exp", UNIX)), ".");
	EXPECT_EQ(take(M_fs_path_dirname("", UNIX)), ".");
	EXPECT_EQ(take(M_fs_path_dirname(nullptr, UNIX)), ".");
}

/* ---------------------------------------------------------------------------
 * Normalisation as text
 * ------------------------------------------------------------------------- */

struct NormCase {
	const char   *path;
	uint32_t      flags;
	M_fs_system_t sys;
	std::string   expect;
};

TEST(m_fs_path, norm_dots_and_separators)
{
	const NormCase cases[] = {
	    {"a\\.\\b\\..\\c", 0, WIN, "a\\c"},
	    {"..\\..\\x", 0, WIN, "..\\..\\x"},
	    {"C:\\..\\x", 0, WIN, "C:\\x"},
	    {"a/b", 0, WIN, "a\\b"},
	    {"a\\..\\b", M_FS_PATH_NORM_NOPARENT, WIN, "a\\..\\b"},
	    {"a\\..", 0, WIN, "."},
	    {"\\\\srv\\share\\x", 0, WIN, "\\\\srv\\share\\x"},
	    {"\\\\srv\\share\\..\\..\\..\\y", 0, WIN, "\\\\y"},
	    {"\\\\", 0, WIN, "\\\\"},
	    {"\\", 0, WIN, err(M_FS_ERROR_GENERIC)},
	    {"/", 0, WIN, err(M_FS_ERROR_GENERIC)},
	    {"a/./b/../c", 0, UNIX, "a/c"},
	    {"../../x", 0, UNIX, "../../x"},
	    {"/../x", 0, UNIX, "/x"},
	    {"a/../b", M_FS_PATH_NORM_NOPARENT, UNIX, "a/../b"},
	    {"a//b/", 0, UNIX, "a/b"},
	    {"./.", 0, UNIX, "."},
	    {"/", 0, UNIX, "/"},
	    {"//", 0, UNIX, "/"},
	    {"a\\b", 0, UNIX, "a/b"},
	    {"x/../../y", 0, M_FS_SYSTEM_AUTO, "../y"},
	    {"~", 0, UNIX, "~"},
	};
	for (const NormCase &c : cases)
		EXPECT_EQ(norm(c.path, c.flags, c.sys), c.expect) << c.path << " style " << c.sys << " flags " << c.flags;
}

TEST(m_fs_path, norm_arguments)
{
	char *out = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_norm(&out, nullptr, 0, UNIX), M_FS_ERROR_INVALID);
	EXPECT_EQ(out, nullptr);
	out = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_norm(&out, "", 0, UNIX), M_FS_ERROR_INVALID);
	EXPECT_EQ(out, nullptr);
	EXPECT_EQ(M_fs_path_norm(nullptr, "a", 0, UNIX), M_FS_ERROR_INVALID);
}

TEST(m_fs_path, norm_length_limit)
{
	const std::string p259(259, 'a');
	const std::string p260(260, 'a');
	EXPECT_EQ(norm(p259.c_str(), 0, WIN), p259);
	EXPECT_EQ(norm(p260.c_str(), 0, WIN), err(M_FS_ERROR_NAME_TOO_LONG));
	EXPECT_EQ(norm(p259.c_str(), 0, UNIX), p259);
	EXPECT_EQ(norm(p260.c_str(), 0, UNIX), err(M_FS_ERROR_NAME_TOO_LONG));
	/* The limit is on the text given, before ".." shortens it. */
	std::string dotted = "x/";
	while (dotted.size() < 257)
		dotted += "./";
	dotted += "y";
	EXPECT_GE(dotted.size(), 258u);
	EXPECT_EQ(norm(dotted.c_str(), 0, UNIX), "x/y");
}

TEST(m_fs_path, norm_environment)
{
	{
		EnvGuard appdata("APPDATA", "C:\\Users\\u\\AppData\\Roaming");
		EXPECT_EQ(norm("%APPDATA%\\x", 0, WIN), "C:\\Users\\u\\AppData\\Roaming\\x");
		EXPECT_EQ(norm("$APPDATA\\x", 0, WIN), "C:\\Users\\u\\AppData\\Roaming\\x");
		EXPECT_EQ(norm("%APPDATA%\\..\\x", 0, WIN), "C:\\Users\\u\\AppData\\x");
	}
	{
		EnvGuard appdata("APPDATA", nullptr);
		EXPECT_EQ(norm("%APPDATA%\\x", 0, WIN), err(M_FS_ERROR_GENERIC));
		EXPECT_EQ(norm("a/$APPDATA", 0, UNIX), err(M_FS_ERROR_GENERIC));
	}
	{
		EnvGuard empty("MFS_EMPTY_VAR", "");
		EXPECT_EQ(norm("$MFS_EMPTY_VAR/x", 0, UNIX), err(M_FS_ERROR_GENERIC));
	}
	EnvGuard base("MFS_BASE", "/srv/data");
	EXPECT_EQ(norm("$MFS_BASE/x", 0, UNIX), "/srv/data/x");
	EXPECT_EQ(norm("$MFS_BASE/..", 0, UNIX), "/srv");
	EXPECT_EQ(norm("a/$MFS_BASE/b", 0, UNIX), "a/srv/data/b");
	/* With the value's root kept, ABSOLUTE adds no current directory. */
	EXPECT_EQ(norm("$MFS_BASE/x", M_FS_PATH_NORM_ABSOLUTE, UNIX), "/srv/data/x");
	/* "%" must close the name; a lone "%x" is an ordinary component. */
	EXPECT_EQ(norm("%MFS_BASE", 0, UNIX), "%MFS_BASE");
	/* An empty name removes the component. */
	EXPECT_EQ(norm("a/$/b/%%", 0, UNIX), "a/b");
	EXPECT_EQ(norm("$", 0, UNIX), ".");
	EXPECT_EQ(norm("%%", M_FS_PATH_NORM_HOME, UNIX), err(M_FS_ERROR_GENERIC));
	EXPECT_EQ(norm("$", M_FS_PATH_NORM_ABSOLUTE, UNIX), err(M_FS_ERROR_GENERIC));
}

TEST(m_fs_path, norm_home)
{
	{
		EnvGuard home("HOME", "/home/tester");
		EXPECT_EQ(norm("~/x", M_FS_PATH_NORM_HOME, UNIX), "/home/tester/x");
		EXPECT_EQ(norm("~", M_FS_PATH_NORM_HOME, UNIX), "/home/tester");
		EXPECT_EQ(norm("~/../y", M_FS_PATH_NORM_HOME, UNIX), "/home/y");
		EXPECT_EQ(norm("~/x", 0, UNIX), "~/x");
		EXPECT_EQ(norm("a/~", M_FS_PATH_NORM_HOME, UNIX), "a/~");
		EXPECT_EQ(norm("~user/x", M_FS_PATH_NORM_HOME, UNIX), "~user/x");
	}
	{
		EnvGuard home("HOME", "/elsewhere/u2");
		EXPECT_EQ(norm("~/x", M_FS_PATH_NORM_HOME, UNIX), "/elsewhere/u2/x");
	}
	{
		/* No $HOME: the password database still names a home directory. */
		EnvGuard          home("HOME", nullptr);
		const std::string r = norm("~", M_FS_PATH_NORM_HOME, UNIX);
		EXPECT_EQ(r.rfind("/", 0), 0u) << r;
	}
}

TEST(m_fs_path, norm_absolute)
{
	TempDir dir;
	ASSERT_FALSE(dir.path().empty());
	CwdGuard in(dir.path());
	EXPECT_EQ(norm("x/y", M_FS_PATH_NORM_ABSOLUTE, UNIX), dir.path() + "/x/y");
	EXPECT_EQ(norm("../z", M_FS_PATH_NORM_ABSOLUTE, UNIX), "/tmp/z");
	EXPECT_EQ(norm(".", M_FS_PATH_NORM_ABSOLUTE, UNIX), dir.path());
	EXPECT_EQ(norm("/abs", M_FS_PATH_NORM_ABSOLUTE, UNIX), "/abs");
	EXPECT_EQ(norm("C:\\x", M_FS_PATH_NORM_ABSOLUTE, WIN), "C:\\x");
}

/* ---------------------------------------------------------------------------
 * Links
 * ------------------------------------------------------------------------- */

TEST(m_fs_path, readlink)
{
	TempDir dir;
	ASSERT_EQ(::symlink("target/file", dir.sub("l").c_str()), 0);
	char *out = nullptr;
	EXPECT_EQ(M_fs_path_readlink(&out, dir.sub("l").c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(take(out), "target/file");

	out = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_readlink(&out, dir.path().c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(out, nullptr) << "a directory is no link";
	out = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_readlink(&out, dir.sub("missing").c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(out, nullptr);
	EXPECT_EQ(M_fs_path_readlink(&out, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_path_readlink(&out, ""), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_path_readlink(nullptr, "x"), M_FS_ERROR_INVALID);
}

/* Kernel-object targets are told apart within the length readlink gives:
 * its result is not terminated, so a short target must not be compared
 * past its end. */
TEST(m_fs_path, readlink_pseudo_targets_by_length)
{
	TempDir dir;
	ASSERT_EQ(::symlink("anon_inode:[eventfd]", dir.sub("anon").c_str()), 0);
	ASSERT_EQ(::symlink("anon_inod", dir.sub("short").c_str()), 0);
	char *out = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_readlink(&out, dir.sub("anon").c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(out, nullptr);
	EXPECT_EQ(M_fs_path_readlink(&out, dir.sub("short").c_str()), M_FS_ERROR_SUCCESS);
	ASSERT_NE(out, nullptr);
	EXPECT_STREQ(out, "anon_inod");
	M_free(out);
}

TEST(m_fs_path, readlink_pipe_is_no_link)
{
	int fds[2];
	ASSERT_EQ(::pipe(fds), 0);
	const std::string entry = "/proc/self/fd/" + std::to_string(fds[0]);
	char              raw[64];
	const ssize_t     n = ::readlink(entry.c_str(), raw, sizeof(raw));
	if (n <= 0) {
		::close(fds[0]);
		::close(fds[1]);
		GTEST_SKIP() << "/proc is not mounted: no /proc/self/fd entries to read";
	}
	EXPECT_EQ(std::string(raw, 6), "pipe:[");

	char *out = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_readlink(&out, entry.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(out, nullptr);

	/* The whole road: /dev/fd/N of a pipe reads as a file (process
     * substitution, /dev/stdin). */
	ASSERT_EQ(::write(fds[1], "through the pipe", 16), 16);
	::close(fds[1]);
	const std::string dev = "/dev/fd/" + std::to_string(fds[0]);
	unsigned char    *buf = nullptr;
	size_t            len = 0;
	EXPECT_EQ(M_fs_file_read_bytes(dev.c_str(), 0, &buf, &len), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), "through the pipe");
	M_free(buf);
	::close(fds[0]);
}

TEST(m_fs_path, norm_follows_links)
{
	TempDir dir;
	ASSERT_EQ(::mkdir(dir.sub("real").c_str(), 0755), 0);
	ASSERT_EQ(::mkdir(dir.sub("real/sub").c_str(), 0755), 0);
	ASSERT_EQ(::symlink("real", dir.sub("rel").c_str()), 0);                  /* relative */
	ASSERT_EQ(::symlink(dir.sub("real").c_str(), dir.sub("abs").c_str()), 0); /* absolute */
	ASSERT_EQ(::symlink("../real/sub", dir.sub("real/up").c_str()), 0);       /* with ".." */

	const uint32_t f = M_FS_PATH_NORM_RESOLVE_LINK;
	EXPECT_EQ(norm(dir.sub("rel/x").c_str(), f, UNIX), dir.sub("real/x"));
	EXPECT_EQ(norm(dir.sub("abs/x").c_str(), f, UNIX), dir.sub("real/x"));
	EXPECT_EQ(norm(dir.sub("rel/up/f").c_str(), f, UNIX), dir.sub("real/sub/f"));
	/* Without the flag links stay as written. */
	EXPECT_EQ(norm(dir.sub("rel/x").c_str(), 0, UNIX), dir.sub("rel/x"));

	/* Relative paths resolve against the current directory. */
	CwdGuard in(dir.path());
	EXPECT_EQ(norm("rel/x", f, UNIX), "real/x");
}

TEST(m_fs_path, norm_link_loop)
{
	TempDir dir;
	ASSERT_EQ(::symlink("b", dir.sub("a").c_str()), 0);
	ASSERT_EQ(::symlink("a", dir.sub("b").c_str()), 0);
	ASSERT_EQ(::symlink("self", dir.sub("self").c_str()), 0);

	EXPECT_EQ(norm(dir.sub("a").c_str(), M_FS_PATH_NORM_RESOLVE_LINK, UNIX), err(M_FS_ERROR_LINK_LOOP));
	EXPECT_EQ(norm(dir.sub("a/x").c_str(), M_FS_PATH_NORM_RESOLVE_LINK, UNIX), err(M_FS_ERROR_LINK_LOOP));
	EXPECT_EQ(norm(dir.sub("self").c_str(), M_FS_PATH_NORM_RESOLVE_LINK, UNIX), err(M_FS_ERROR_LINK_LOOP));

	/* The file layer reports the loop rather than the system's ELOOP. */
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, dir.sub("a").c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_LINK_LOOP);
	EXPECT_EQ(fd, nullptr);
}

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_fs_path, norm_link_chain_limit)
{
	/* l1 -> l2 -> ... -> lN -> target: N rewrites. 24 are allowed. */
	for (int n : {24, 25}) {
		TempDir dir;
		for (int i = 1; i <= n; i++) {
			const std::string to = i == n ? "target" : "l" + std::to_string(i + 1);
			ASSERT_EQ(::symlink(to.c_str(), dir.sub("l" + std::to_string(i)).c_str()), 0);
		}
		const std::string r = norm(dir.sub("l1").c_str(), M_FS_PATH_NORM_RESOLVE_LINK, UNIX);
		if (n == 24)
			EXPECT_EQ(r, dir.sub("target"));
		else
			EXPECT_EQ(r, err(M_FS_ERROR_LINK_LOOP));
	}
}
TEST_GCC12_FALSE_POSITIVE_END()

TEST(m_fs_path, norm_unc_skips_links)
{
	/* UNC paths are never read as links (no system call on a share name). */
	EXPECT_EQ(norm("\\\\srv\\share\\x", M_FS_PATH_NORM_RESOLVE_LINK, WIN), "\\\\srv\\share\\x");
}

/* ---------------------------------------------------------------------------
 * Host directories
 * ------------------------------------------------------------------------- */

TEST(m_fs_path, cwd)
{
	char *cwd = nullptr;
	ASSERT_EQ(M_fs_path_get_cwd(&cwd), M_FS_ERROR_SUCCESS);
	ASSERT_NE(cwd, nullptr);
	EXPECT_EQ(cwd[0], '/');
	M_free(cwd);
	EXPECT_EQ(M_fs_path_get_cwd(nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_path_set_cwd(nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_path_set_cwd(""), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_path_set_cwd("/nonexistent/mfs/dir"), M_FS_ERROR_NOT_FOUND);

	TempDir dir;
	{
		CwdGuard in(dir.path());
		ASSERT_EQ(M_fs_path_get_cwd(&cwd), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(take(cwd), dir.path());
	}
}

TEST(m_fs_path, tmpdir_and_confdir)
{
	{
		EnvGuard t("TMPDIR", "/var/tmp/../tmp");
		EXPECT_EQ(take(M_fs_path_tmpdir(UNIX)), "/var/tmp");
	}
	{
		EnvGuard t("TMPDIR", nullptr);
		EXPECT_EQ(take(M_fs_path_tmpdir(M_FS_SYSTEM_AUTO)), "/tmp");
	}
	{
		EnvGuard x("XDG_CONFIG_HOME", "/cfg/base");
		EXPECT_EQ(take(M_fs_path_user_confdir(UNIX)), "/cfg/base");
	}
	{
		EnvGuard x("XDG_CONFIG_HOME", nullptr);
		EnvGuard h("HOME", "/home/cfguser");
		EXPECT_EQ(take(M_fs_path_user_confdir(UNIX)), "/home/cfguser/.config");
	}
}

TEST(m_fs_path, ishidden)
{
	TempDir dir;
	write_text(dir.sub(".dot"), "x");
	write_text(dir.sub("plain"), "x");
	EXPECT_TRUE(M_fs_path_ishidden(dir.sub(".dot").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub("plain").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub(".missing").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(nullptr, nullptr));

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

} // namespace
