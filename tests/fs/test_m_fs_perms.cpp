/* Permissions: the object, the merge rules, account lookups, access tests and
 * applying modes to real files.
 */
#include <grp.h>
#include <pwd.h>
#include <vector>

#include "tests/fs/fs_test_util.h"

namespace {

using namespace fs_test;

constexpr uint32_t R = M_FS_PERMS_MODE_READ, W = M_FS_PERMS_MODE_WRITE, X = M_FS_PERMS_MODE_EXEC;

constexpr M_fs_perms_who_t  USER = M_FS_PERMS_WHO_USER, GROUP = M_FS_PERMS_WHO_GROUP, OTHER = M_FS_PERMS_WHO_OTHER;
constexpr M_fs_perms_type_t EXACT = M_FS_PERMS_TYPE_EXACT, ADD = M_FS_PERMS_TYPE_ADD, REMOVE = M_FS_PERMS_TYPE_REMOVE;

TEST(m_fs_perms, entries)
{
	M_fs_perms_t *p = M_fs_perms_create();
	for (M_fs_perms_who_t who : {USER, GROUP, OTHER})
		EXPECT_FALSE(M_fs_perms_get_isset(p, who) || M_fs_perms_get_dir_isset(p, who)) << "a new object is empty";
	M_fs_perms_set_mode(p, R | W, USER, EXACT);
	M_fs_perms_set_mode(p, R, GROUP, ADD);
	M_fs_perms_set_dir_mode(p, X | 0xF0u, OTHER, REMOVE);
	EXPECT_TRUE(M_fs_perms_get_isset(p, USER));
	EXPECT_EQ(M_fs_perms_get_mode(p, USER), R | W);
	EXPECT_EQ(M_fs_perms_get_type(p, USER), EXACT);
	EXPECT_EQ(M_fs_perms_get_type(p, GROUP), ADD);
	EXPECT_FALSE(M_fs_perms_get_dir_isset(p, USER));
	EXPECT_FALSE(M_fs_perms_get_isset(p, OTHER));
	EXPECT_TRUE(M_fs_perms_get_dir_isset(p, OTHER));
	EXPECT_EQ(M_fs_perms_get_dir_mode(p, OTHER), X) << "only the three mode bits are kept";
	EXPECT_EQ(M_fs_perms_get_dir_type(p, OTHER), REMOVE);

	/* Unknown classes and kinds are ignored; getters give 0. */
	const auto bad_who = static_cast<M_fs_perms_who_t>(3);
	M_fs_perms_set_mode(p, R, bad_who, EXACT);
	M_fs_perms_set_mode(p, R, OTHER, static_cast<M_fs_perms_type_t>(7));
	EXPECT_FALSE(M_fs_perms_get_isset(p, OTHER));
	EXPECT_EQ(M_fs_perms_get_mode(p, bad_who), 0u);
	EXPECT_FALSE(M_fs_perms_get_isset(p, bad_who));

	/* unset_dir_mode clears only the directory entry; unset_mode both. */
	M_fs_perms_set_dir_mode(p, R, USER, EXACT);
	M_fs_perms_unset_dir_mode(p, USER);
	EXPECT_TRUE(M_fs_perms_get_isset(p, USER));
	EXPECT_FALSE(M_fs_perms_get_dir_isset(p, USER));
	M_fs_perms_set_dir_mode(p, R, USER, EXACT);
	M_fs_perms_unset_mode(p, USER);
	EXPECT_FALSE(M_fs_perms_get_isset(p, USER) || M_fs_perms_get_dir_isset(p, USER));

	/* A copy is deep. */
	ASSERT_EQ(M_fs_perms_set_user(p, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_t *d = M_fs_perms_dup(p);
	ASSERT_NE(d, nullptr);
	EXPECT_NE(M_fs_perms_get_user(d), M_fs_perms_get_user(p));
	M_fs_perms_destroy(p);
	EXPECT_STREQ(M_fs_perms_get_user(d), "root");
	EXPECT_EQ(M_fs_perms_get_mode(d, GROUP), R);
	EXPECT_EQ(M_fs_perms_get_type(d, GROUP), ADD);
	EXPECT_EQ(M_fs_perms_get_dir_mode(d, OTHER), X);
	M_fs_perms_destroy(d);
}

TEST(m_fs_perms, merge_rules)
{
	const struct {
		bool              dest_set;
		uint32_t          dest_mode;
		M_fs_perms_type_t dest_type;
		uint32_t          src_mode;
		M_fs_perms_type_t src_type;
		uint32_t          want_mode;
		M_fs_perms_type_t want_type;
	} cases[] = {
	    /* Into an EXACT entry. */
	    {true, R, EXACT, W, ADD, R | W, EXACT},
	    {true, R | W | X, EXACT, W, REMOVE, R | X, EXACT},
	    {true, R | W, EXACT, X, EXACT, X, EXACT},
	    /* Into an unset entry: src's entry as it is. */
	    {false, 0, EXACT, W, ADD, W, ADD},
	    {false, 0, EXACT, R, REMOVE, R, REMOVE},
	    /* Into an ADD or REMOVE entry: replaced by src's. */
	    {true, R, ADD, W, ADD, W, ADD},
	    {true, R, REMOVE, W, EXACT, W, EXACT},
	};
	for (const auto &c : cases) {
		M_fs_perms_t *dest = M_fs_perms_create(), *src = M_fs_perms_create();
		if (c.dest_set) {
			M_fs_perms_set_mode(dest, c.dest_mode, GROUP, c.dest_type);
			M_fs_perms_set_dir_mode(dest, c.dest_mode, GROUP, c.dest_type);
		}
		M_fs_perms_set_mode(src, c.src_mode, GROUP, c.src_type);
		M_fs_perms_set_dir_mode(src, c.src_mode, GROUP, c.src_type);
		M_fs_perms_merge(&dest, src);
		EXPECT_TRUE(M_fs_perms_get_isset(dest, GROUP));
		EXPECT_EQ(M_fs_perms_get_mode(dest, GROUP), c.want_mode);
		EXPECT_EQ(M_fs_perms_get_type(dest, GROUP), c.want_type);
		EXPECT_EQ(M_fs_perms_get_dir_mode(dest, GROUP), c.want_mode);
		EXPECT_EQ(M_fs_perms_get_dir_type(dest, GROUP), c.want_type);
		EXPECT_FALSE(M_fs_perms_get_isset(dest, USER)) << "entries unset in src stay as they were";
		M_fs_perms_destroy(dest);
	}

	/* *dest NULL: src becomes dest. A user in src replaces dest's; none in
     * src keeps it. A NULL dest address consumes src (the sanitizer build
     * sees leaks). */
	M_fs_perms_t *dest = nullptr, *src = M_fs_perms_create();
	M_fs_perms_merge(&dest, src);
	EXPECT_EQ(dest, src);
	src = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(src, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_merge(&dest, src);
	EXPECT_STREQ(M_fs_perms_get_user(dest), "root");
	M_fs_perms_merge(&dest, M_fs_perms_create());
	EXPECT_STREQ(M_fs_perms_get_user(dest), "root");
	M_fs_perms_merge(nullptr, M_fs_perms_create());
	M_fs_perms_destroy(dest);
}

TEST(m_fs_perms, accounts)
{
	M_fs_perms_t *p = M_fs_perms_create();
	using setter = M_fs_error_t (*)(M_fs_perms_t *, const char *);
	using getter = const char *(*)(const M_fs_perms_t *);
	for (auto [set, get] : {std::pair<setter, getter>{M_fs_perms_set_user, M_fs_perms_get_user},
	                        std::pair<setter, getter>{M_fs_perms_set_group, M_fs_perms_get_group}}) {
		EXPECT_EQ(set(p, "root"), M_FS_ERROR_SUCCESS);
		EXPECT_STREQ(get(p), "root");
		/* An unknown account fails and changes nothing. */
		EXPECT_EQ(set(p, "no_such_account_mfs_4711"), M_FS_ERROR_GENERIC);
		EXPECT_STREQ(get(p), "root");
		/* The object's own current name again is safe: it is copied before
         * the old one is released. */
		EXPECT_EQ(set(p, get(p)), M_FS_ERROR_SUCCESS);
		EXPECT_STREQ(get(p), "root");
		/* NULL or empty clears. */
		EXPECT_EQ(set(p, ""), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(get(p), nullptr);
		EXPECT_EQ(set(p, "root"), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(set(p, nullptr), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(get(p), nullptr);
	}
	M_fs_perms_destroy(p);
}

TEST(m_fs_perms, can_access)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0644);
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), R), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f/below").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	/* No execute bit at all: refused even to root. */
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), X), M_FS_ERROR_PERMISSION);
	EXPECT_EQ(M_fs_perms_can_access("", 0), M_FS_ERROR_INVALID);
}

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
	    {f, {{false, R | W | X, USER, EXACT}}, 0760, false},
	    {f, {{false, X, USER, REMOVE}, {false, R, OTHER, ADD}}, 0664, true},
	    {d, {{false, R | W | X, OTHER, EXACT}, {true, R | X, OTHER, ADD}, {true, W, USER, REMOVE}}, 0505, false},
	    {d, {{false, R | W | X, USER, EXACT}, {false, 0, OTHER, EXACT}}, 0700, false},
	};
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
			EXPECT_EQ(M_fs_perms_set_perms(p, dir.sub("missing").c_str()), M_FS_ERROR_NOT_FOUND);
		}
		M_fs_perms_destroy(p);
	}
}

TEST(m_fs_perms, set_perms_owner)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0600);
	struct passwd *pw = ::getpwuid(::geteuid());
	struct group  *gr = ::getgrgid(::getegid());
	if (pw == nullptr || gr == nullptr)
		GTEST_SKIP() << "the current user or group has no name in the account databases";
	/* Giving a file to its own owner and group is always allowed. */
	M_fs_perms_t *p = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(p, pw->pw_name), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_perms_set_group(p, gr->gr_name), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_set_perms(p, f.c_str()), M_FS_ERROR_SUCCESS);
	struct stat st;
	ASSERT_EQ(::stat(f.c_str(), &st), 0);
	EXPECT_EQ(st.st_uid, ::geteuid());
	EXPECT_EQ(st.st_gid, ::getegid());
	EXPECT_EQ(st.st_mode & 0777, 0600u) << "no entry set: modes unchanged";
	M_fs_perms_destroy(p);
	if (::geteuid() != 0) {
		/* Giving it away is not. */
		M_fs_perms_t *q = M_fs_perms_create();
		ASSERT_EQ(M_fs_perms_set_user(q, "root"), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_perms_set_perms(q, f.c_str()), M_FS_ERROR_PERMISSION);
		M_fs_perms_destroy(q);
	}
}

} // namespace
