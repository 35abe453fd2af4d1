/* Paths on POSIX: normalisation with real links, $HOME and the Unix style,
 * readlink, and hidden names. */
#include "tests/fs/fs_test.h"

namespace {

using namespace fs_test;

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
	while (dotted.size() < 258)
		dotted += "./";
	std::string cyrillic; /* 200 characters in 400 bytes */
	while (cyrillic.size() < 400)
		cyrillic += "\xD0\x96";
	const std::string extended = "\\\\?\\C:\\", longest = extended + std::string(32766 - extended.size(), 'a');
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
	            {std::string(259, 'a'), 0, WIN, std::string(259, 'a')},
	            {std::string(260, 'a'), 0, WIN, err(M_FS_ERROR_NAME_TOO_LONG)},
	            {cyrillic, 0, WIN, cyrillic},
	            {cyrillic, 0, UNIX, err(M_FS_ERROR_NAME_TOO_LONG)},
	            {longest, 0, WIN, longest},
	            {longest + "a", 0, WIN, err(M_FS_ERROR_NAME_TOO_LONG)},
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
	            {"~/x", HOME, UNIX, "/home/tester/x"},
	            {"~/x", 0, UNIX, "~/x"},
	            {"a/~", HOME, UNIX, "a/~"},
	            {"~user/x", HOME, UNIX, "~user/x"},
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

} // namespace
