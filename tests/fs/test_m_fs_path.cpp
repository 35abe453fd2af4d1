/* Paths: the text functions in both styles as one table, normalisation
 * (variables, "~", the current directory, ".", "..", limits, real symbolic
 * links) as another, and the host's directories.
 */
#include <functional>

#include "containers/m_list_str.h"
#include "fs/m_fs_info.h"
#include "tests/fs/fs_test_util.h"

namespace {

using namespace fs_test;
using test_util::EnvGuard;

constexpr M_fs_system_t WIN  = M_FS_SYSTEM_WINDOWS;
constexpr M_fs_system_t UNIX = M_FS_SYSTEM_UNIX;
constexpr M_fs_system_t AUTO = M_FS_SYSTEM_AUTO;

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
 * 'r' join_resolved(a, b, c), 'b' basename, 'd' dirname. */
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
	default:
		return take(M_fs_path_dirname(a, sys));
	}
	M_list_str_destroy(l);
	return out;
}

TEST(m_fs_path, text_functions)
{
	EXPECT_EQ(M_fs_path_get_system_type(AUTO), UNIX);
	EXPECT_EQ(M_fs_path_get_system_type(WIN), WIN);
	EXPECT_EQ(M_fs_path_get_system_sep(WIN), '\\');
	EXPECT_EQ(M_fs_path_get_system_sep(AUTO), '/');
	EXPECT_EQ(M_fs_path_get_system_sep(static_cast<M_fs_system_t>(3)), '/');
	EXPECT_EQ(M_fs_path_get_path_max(WIN), 260u);
	EXPECT_EQ(M_fs_path_get_path_max(UNIX), 260u);

	const struct {
		char          op;
		M_fs_system_t sys;
		const char   *a, *b, *c, *want;
	} rows[] = {
	    {'a', WIN, "C:\\x", 0, 0, "1"},
	    {'a', WIN, "C:", 0, 0, "1"},
	    {'a', WIN, "C:name", 0, 0, "1"},
	    {'a', WIN, "\\\\srv\\s", 0, 0, "1"},
	    {'a', WIN, "\\x", 0, 0, "0"},
	    {'a', WIN, "x\\y", 0, 0, "0"},
	    {'a', WIN, "/x", 0, 0, "0"},
	    {'a', WIN, "", 0, 0, "0"},
	    {'a', UNIX, "/x", 0, 0, "1"},
	    {'a', UNIX, "x/y", 0, 0, "0"},
	    {'a', UNIX, "C:\\x", 0, 0, "0"},
	    {'a', AUTO, "/x", 0, 0, "1"},
	    {'a', static_cast<M_fs_system_t>(3), "/x", 0, 0, "0"},
	    {'u', UNIX, "\\\\srv", 0, 0, "1"},
	    {'u', UNIX, "\\\\", 0, 0, "1"},
	    {'u', UNIX, "\\srv", 0, 0, "0"},
	    {'u', UNIX, "//srv", 0, 0, "0"},
	    /* A root is one empty component. */
	    {'c', WIN, "C:\\data\\x", 0, 0, "[C:][data][x]"},
	    {'c', WIN, "\\\\srv\\share", 0, 0, "[][srv][share]"},
	    {'c', WIN, "\\lost", 0, 0, "[lost]"},
	    {'c', WIN, "/usr/lib", 0, 0, "[usr][lib]"},
	    {'c', WIN, "a/b\\c", 0, 0, "[a][b][c]"},
	    {'c', WIN, "\\", 0, 0, ""},
	    {'c', WIN, "\\\\", 0, 0, "[]"},
	    {'c', UNIX, "/usr/lib", 0, 0, "[][usr][lib]"},
	    {'c', UNIX, "a//b\\\\c/", 0, 0, "[a][b][c]"},
	    {'c', UNIX, "/", 0, 0, "[]"},
	    {'c', UNIX, "", 0, 0, ""},
	    {'c', AUTO, "/x", 0, 0, "[][x]"},
	    {'p', WIN, "C:|data|x", 0, 0, "C:\\data\\x"},
	    {'p', WIN, "C:", 0, 0, "C:\\"},
	    {'p', WIN, "|srv|share", 0, 0, "\\\\srv\\share"},
	    {'p', WIN, "", 0, 0, "\\\\"},
	    {'p', UNIX, "", 0, 0, "/"},
	    {'p', UNIX, "|usr|lib", 0, 0, "/usr/lib"},
	    {'p', UNIX, "a||b|", 0, 0, "a/b"},
	    {'p', UNIX, "||x", 0, 0, "/x"},
	    {'j', WIN, "C:\\a", "b", 0, "C:\\a\\b"},
	    {'j', WIN, "C:\\a\\", "b", 0, "C:\\a\\b"},
	    {'j', WIN, "C:\\a", "D:\\x", 0, "D:\\x"},
	    {'j', WIN, "anything", "\\\\srv\\x", 0, "\\\\srv\\x"},
	    {'j', WIN, "a", "", 0, "a"},
	    {'j', UNIX, "/a", "b", 0, "/a/b"},
	    {'j', UNIX, "/a/", "b", 0, "/a/b"},
	    {'j', UNIX, "/a", "/b", 0, "/b"},
	    {'j', AUTO, "/a", "b", 0, "/a/b"},
	    {'j', UNIX, nullptr, "b", 0, "b"},
	    {'j', UNIX, "", nullptr, 0, ""},
	    {'j', UNIX, "a", nullptr, 0, "a"},
	    {'r', UNIX, "/etc", "conf/main.cfg", "other.cfg", "/etc/conf/other.cfg"},
	    {'r', UNIX, "/etc", "main.cfg", "/abs/x", "/abs/x"},
	    {'r', WIN, "C:\\d", "f.txt", "g.txt", "C:\\d\\g.txt"},
	    {'r', UNIX, nullptr, "f.txt", "g.txt", "./g.txt"},
	    {'r', UNIX, "", nullptr, "", "(null)"},
	    {'b', WIN, "C:\\exports\\today.exp", 0, 0, "today.exp"},
	    {'b', WIN, "today.exp", 0, 0, "today.exp"},
	    {'b', WIN, "C:", 0, 0, "(null)"},
	    {'b', WIN, "\\\\", 0, 0, "(null)"},
	    {'b', WIN, "\\\\srv\\share\\x", 0, 0, "x"},
	    {'b', UNIX, "/exports/today.exp", 0, 0, "today.exp"},
	    {'b', AUTO, "/exports/today.exp", 0, 0, "today.exp"},
	    {'b', UNIX, "dir/", 0, 0, "dir"},
	    {'b', UNIX, "/", 0, 0, "(null)"},
	    {'b', UNIX, "", 0, 0, "(null)"},
	    {'d', WIN, "C:\\exports\\today.exp", 0, 0, "C:\\exports"},
	    {'d', WIN, "C:", 0, 0, "C:\\"},
	    {'d', WIN, "C:\\x", 0, 0, "C:\\"},
	    {'d', WIN, "today.exp", 0, 0, "."},
	    {'d', WIN, "\\\\srv\\share\\x", 0, 0, "\\\\srv\\share"},
	    {'d', UNIX, "/exports/today.exp", 0, 0, "/exports"},
	    {'d', UNIX, "/exports", 0, 0, "/"},
	    {'d', UNIX, "/", 0, 0, "/"},
	    {'d', UNIX, "a/b/c", 0, 0, "a/b"},
	    {'d', UNIX, "today.exp", 0, 0, "."},
	    {'d', UNIX, "", 0, 0, "."},
	    {'d', UNIX, nullptr, 0, 0, "."},
	};
	for (const auto &r : rows)
		EXPECT_EQ(apply(r.op, r.sys, r.a, r.b, r.c), r.want)
		    << r.op << " style " << r.sys << " " << (r.a ? r.a : "NULL") << " " << (r.b ? r.b : "NULL");

	M_list_str_t *none = M_list_str_create(M_LIST_STR_NONE);
	EXPECT_EQ(take(M_fs_path_join_parts(none, UNIX)), "(null)");
	M_list_str_destroy(none);
	EXPECT_EQ(take(M_fs_path_join_vparts(WIN, 3, "C:", "a", "b")), "C:\\a\\b");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 3, "", "a", "b")), "/a/b");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 2, "a", static_cast<const char *>(nullptr))), "a");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 0)), "(null)");
}

/* ---------------------------------------------------------------------------
 * Normalisation, run in a scratch directory with links and variables set
 * ------------------------------------------------------------------------- */

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
	CwdGuard in(dir.path());
	EnvGuard appdata("APPDATA", "C:\\Users\\u\\AppData\\Roaming"), base("MFS_BASE", "/srv/data");
	EnvGuard empty("MFS_EMPTY_VAR", ""), unset("MFS_UNSET", nullptr), home("HOME", "/home/tester");
	std::string dotted = "x/"; /* the limit is on the text given, before ".." shortens it */
	while (dotted.size() < 258)
		dotted += "./";
	const uint32_t LINK = M_FS_PATH_NORM_RESOLVE_LINK, ABS = M_FS_PATH_NORM_ABSOLUTE, HOME = M_FS_PATH_NORM_HOME;
	const std::string LOOP = err(M_FS_ERROR_LINK_LOOP), GENERIC = err(M_FS_ERROR_GENERIC);

	const struct {
		std::string   path;
		uint32_t      flags;
		M_fs_system_t sys;
		std::string   want;
	} rows[] = {
	    {"a\\.\\b\\..\\c", 0, WIN, "a\\c"},
	    {"..\\..\\x", 0, WIN, "..\\..\\x"},
	    {"C:\\..\\x", 0, WIN, "C:\\x"},
	    {"a/b", 0, WIN, "a\\b"},
	    {"a\\..\\b", M_FS_PATH_NORM_NOPARENT, WIN, "a\\..\\b"},
	    {"a\\..", 0, WIN, "."},
	    {"\\\\srv\\share\\x", 0, WIN, "\\\\srv\\share\\x"},
	    {"\\\\srv\\share\\..\\..\\..\\y", 0, WIN, "\\\\y"},
	    {"\\\\", 0, WIN, "\\\\"},
	    {"\\", 0, WIN, GENERIC},
	    {"/", 0, WIN, GENERIC},
	    {"a/./b/../c", 0, UNIX, "a/c"},
	    {"../../x", 0, UNIX, "../../x"},
	    {"/../x", 0, UNIX, "/x"},
	    {"a/../b", M_FS_PATH_NORM_NOPARENT, UNIX, "a/../b"},
	    {"a//b/", 0, UNIX, "a/b"},
	    {"./.", 0, UNIX, "."},
	    {"/", 0, UNIX, "/"},
	    {"//", 0, UNIX, "/"},
	    {"a\\b", 0, UNIX, "a/b"},
	    {"x/../../y", 0, AUTO, "../y"},
	    {"", 0, UNIX, err(M_FS_ERROR_INVALID)},
	    /* Length. */
	    {std::string(259, 'a'), 0, WIN, std::string(259, 'a')},
	    {std::string(260, 'a'), 0, WIN, err(M_FS_ERROR_NAME_TOO_LONG)},
	    {std::string(259, 'a'), 0, UNIX, std::string(259, 'a')},
	    {std::string(260, 'a'), 0, UNIX, err(M_FS_ERROR_NAME_TOO_LONG)},
	    {dotted + "y", 0, UNIX, "x/y"},
	    /* Variables: "%" must close the name; an empty name removes the
         * component; an unset or empty variable is an error. */
	    {"%APPDATA%\\x", 0, WIN, "C:\\Users\\u\\AppData\\Roaming\\x"},
	    {"$APPDATA\\x", 0, WIN, "C:\\Users\\u\\AppData\\Roaming\\x"},
	    {"%APPDATA%\\..\\x", 0, WIN, "C:\\Users\\u\\AppData\\x"},
	    {"%MFS_UNSET%\\x", 0, WIN, GENERIC},
	    {"a/$MFS_UNSET", 0, UNIX, GENERIC},
	    {"$MFS_EMPTY_VAR/x", 0, UNIX, GENERIC},
	    {"$MFS_BASE/x", 0, UNIX, "/srv/data/x"},
	    {"$MFS_BASE/..", 0, UNIX, "/srv"},
	    {"a/$MFS_BASE/b", 0, UNIX, "a/srv/data/b"},
	    {"$MFS_BASE/x", ABS, UNIX, "/srv/data/x"}, /* the value's root kept: no current directory added */
	    {"%MFS_BASE", 0, UNIX, "%MFS_BASE"},
	    {"a/$/b/%%", 0, UNIX, "a/b"},
	    {"$", 0, UNIX, "."},
	    {"%%", HOME, UNIX, GENERIC},
	    {"$", ABS, UNIX, GENERIC},
	    /* Home. */
	    {"~", 0, UNIX, "~"},
	    {"~/x", HOME, UNIX, "/home/tester/x"},
	    {"~", HOME, UNIX, "/home/tester"},
	    {"~/../y", HOME, UNIX, "/home/y"},
	    {"~/x", 0, UNIX, "~/x"},
	    {"a/~", HOME, UNIX, "a/~"},
	    {"~user/x", HOME, UNIX, "~user/x"},
	    /* Absolute. */
	    {"x/y", ABS, UNIX, dir.sub("x/y")},
	    {"../z", ABS, UNIX, "/tmp/z"},
	    {".", ABS, UNIX, dir.path()},
	    {"/abs", ABS, UNIX, "/abs"},
	    {"C:\\x", ABS, WIN, "C:\\x"},
	    /* Links: relative, absolute and with "..", against the current
         * directory for relative paths; UNC paths are never read as links. */
	    {dir.sub("rel/x"), LINK, UNIX, dir.sub("real/x")},
	    {dir.sub("abs/x"), LINK, UNIX, dir.sub("real/x")},
	    {dir.sub("rel/up/f"), LINK, UNIX, dir.sub("real/sub/f")},
	    {dir.sub("rel/x"), 0, UNIX, dir.sub("rel/x")},
	    {"rel/x", LINK, UNIX, "real/x"},
	    {"\\\\srv\\share\\x", LINK, WIN, "\\\\srv\\share\\x"},
	    {dir.sub("a"), LINK, UNIX, LOOP},
	    {dir.sub("a/x"), LINK, UNIX, LOOP},
	    {dir.sub("self"), LINK, UNIX, LOOP},
	    {dir.sub("l2"), LINK, UNIX, dir.sub("target")},
	    {dir.sub("l1"), LINK, UNIX, LOOP},
	};
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
}
TEST_GCC12_FALSE_POSITIVE_END()

/* ---------------------------------------------------------------------------
 * Links read one at a time
 * ------------------------------------------------------------------------- */

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
	const std::string pipe_entry = "/proc/self/fd/" + std::to_string(fds[0]);
	const std::pair<std::string, const char *> rows[] = {
	    {dir.sub("l"), "target/file"},    {dir.sub("short"), "anon_inod"}, {dir.sub("anon"), "(null)"},
	    {dir.path(), "(null)"},           {dir.sub("missing"), "(null)"},  {pipe_entry, "(null)"},
	};
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

/* ---------------------------------------------------------------------------
 * Host directories
 * ------------------------------------------------------------------------- */

TEST(m_fs_path, host_directories)
{
	EXPECT_EQ(M_fs_path_set_cwd(""), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_path_set_cwd("/nonexistent/mfs/dir"), M_FS_ERROR_NOT_FOUND);
	TempDir dir;
	{
		CwdGuard in(dir.path());
		char    *cwd = nullptr;
		ASSERT_EQ(M_fs_path_get_cwd(&cwd), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(take(cwd), dir.path());
	}
	{
		EnvGuard t("TMPDIR", "/var/tmp/../tmp");
		EXPECT_EQ(take(M_fs_path_tmpdir(UNIX)), "/var/tmp");
	}
	{
		EnvGuard t("TMPDIR", nullptr);
		EXPECT_EQ(take(M_fs_path_tmpdir(AUTO)), "/tmp");
	}
	{
		EnvGuard x("XDG_CONFIG_HOME", "/cfg/base");
		EXPECT_EQ(take(M_fs_path_user_confdir(UNIX)), "/cfg/base");
	}
	EnvGuard x("XDG_CONFIG_HOME", nullptr), h("HOME", "/home/cfguser");
	EXPECT_EQ(take(M_fs_path_user_confdir(UNIX)), "/home/cfguser/.config");
}

TEST(m_fs_path, ishidden)
{
	TempDir dir;
	make_file(dir.sub(".dot"), "x");
	make_file(dir.sub("plain"), "x");
	EXPECT_TRUE(M_fs_path_ishidden(dir.sub(".dot").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub("plain").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub(".missing").c_str(), nullptr));
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
