/* Permissions: the object, the merge rules, account lookups, access tests and
 * applying modes to real files.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/m_mem.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_perms.h"
#include "tests/fs/fs_test_util.h"

namespace {

constexpr uint32_t R = M_FS_PERMS_MODE_READ;
constexpr uint32_t W = M_FS_PERMS_MODE_WRITE;
constexpr uint32_t X = M_FS_PERMS_MODE_EXEC;

constexpr M_fs_perms_who_t USER  = M_FS_PERMS_WHO_USER;
constexpr M_fs_perms_who_t GROUP = M_FS_PERMS_WHO_GROUP;
constexpr M_fs_perms_who_t OTHER = M_FS_PERMS_WHO_OTHER;

using fs_test::make_file;
using fs_test::TempDir;

mode_t mode_of(const std::string &p)
{
	struct stat st;
	return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::string my_user_name()
{
	struct passwd *pw = ::getpwuid(::geteuid());
	return pw != nullptr ? pw->pw_name : "";
}

std::string my_group_name()
{
	struct group *gr = ::getgrgid(::getegid());
	return gr != nullptr ? gr->gr_name : "";
}

TEST(m_fs_perms, new_object_is_empty)
{
	M_fs_perms_t *p = M_fs_perms_create();
	for (M_fs_perms_who_t who : {USER, GROUP, OTHER}) {
		EXPECT_FALSE(M_fs_perms_get_isset(p, who));
		EXPECT_FALSE(M_fs_perms_get_dir_isset(p, who));
		EXPECT_EQ(M_fs_perms_get_mode(p, who), 0u);
	}
	EXPECT_EQ(M_fs_perms_get_user(p), nullptr);
	EXPECT_EQ(M_fs_perms_get_group(p), nullptr);
	M_fs_perms_destroy(p);
	M_fs_perms_destroy(nullptr);
}

TEST(m_fs_perms, entries)
{
	M_fs_perms_t *p = M_fs_perms_create();
	M_fs_perms_set_mode(p, R | W, USER, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_mode(p, R, GROUP, M_FS_PERMS_TYPE_ADD);
	M_fs_perms_set_dir_mode(p, X | 0xF0u, OTHER, M_FS_PERMS_TYPE_REMOVE);

	EXPECT_TRUE(M_fs_perms_get_isset(p, USER));
	EXPECT_EQ(M_fs_perms_get_mode(p, USER), R | W);
	EXPECT_EQ(M_fs_perms_get_type(p, USER), M_FS_PERMS_TYPE_EXACT);
	EXPECT_EQ(M_fs_perms_get_type(p, GROUP), M_FS_PERMS_TYPE_ADD);
	EXPECT_FALSE(M_fs_perms_get_dir_isset(p, USER));
	EXPECT_FALSE(M_fs_perms_get_isset(p, OTHER));
	EXPECT_TRUE(M_fs_perms_get_dir_isset(p, OTHER));
	EXPECT_EQ(M_fs_perms_get_dir_mode(p, OTHER), X) << "only the three mode bits are kept";
	EXPECT_EQ(M_fs_perms_get_dir_type(p, OTHER), M_FS_PERMS_TYPE_REMOVE);

	/* Unknown classes and kinds are ignored; getters give 0. */
	const auto bad_who = static_cast<M_fs_perms_who_t>(3);
	M_fs_perms_set_mode(p, R, bad_who, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_mode(p, R, OTHER, static_cast<M_fs_perms_type_t>(7));
	EXPECT_FALSE(M_fs_perms_get_isset(p, OTHER));
	EXPECT_EQ(M_fs_perms_get_mode(p, bad_who), 0u);
	EXPECT_FALSE(M_fs_perms_get_isset(p, bad_who));
	EXPECT_EQ(M_fs_perms_get_dir_mode(nullptr, USER), 0u);
	EXPECT_FALSE(M_fs_perms_get_dir_isset(nullptr, USER));
	EXPECT_EQ(M_fs_perms_get_dir_type(nullptr, USER), M_FS_PERMS_TYPE_EXACT);
	EXPECT_EQ(M_fs_perms_get_type(nullptr, USER), M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_mode(nullptr, R, USER, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_dir_mode(nullptr, R, USER, M_FS_PERMS_TYPE_EXACT);

	/* unset_dir_mode clears only the directory entry; unset_mode both. */
	M_fs_perms_set_dir_mode(p, R, USER, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_unset_dir_mode(p, USER);
	EXPECT_TRUE(M_fs_perms_get_isset(p, USER));
	EXPECT_FALSE(M_fs_perms_get_dir_isset(p, USER));
	M_fs_perms_set_dir_mode(p, R, USER, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_unset_mode(p, USER);
	EXPECT_FALSE(M_fs_perms_get_isset(p, USER));
	EXPECT_FALSE(M_fs_perms_get_dir_isset(p, USER));
	M_fs_perms_unset_mode(nullptr, USER);
	M_fs_perms_unset_dir_mode(nullptr, USER);
	M_fs_perms_destroy(p);
}

struct MergeCase {
	bool              dest_set;
	uint32_t          dest_mode;
	M_fs_perms_type_t dest_type;
	uint32_t          src_mode;
	M_fs_perms_type_t src_type;
	uint32_t          want_mode;
	M_fs_perms_type_t want_type;
};

TEST(m_fs_perms, merge_rules)
{
	const MergeCase cases[] = {
	    /* Into an EXACT entry. */
	    {true, R, M_FS_PERMS_TYPE_EXACT, W, M_FS_PERMS_TYPE_ADD, R | W, M_FS_PERMS_TYPE_EXACT},
	    {true, R | W | X, M_FS_PERMS_TYPE_EXACT, W, M_FS_PERMS_TYPE_REMOVE, R | X, M_FS_PERMS_TYPE_EXACT},
	    {true, R | W, M_FS_PERMS_TYPE_EXACT, X, M_FS_PERMS_TYPE_EXACT, X, M_FS_PERMS_TYPE_EXACT},
	    /* Into an unset entry: src's entry as it is. */
	    {false, 0, M_FS_PERMS_TYPE_EXACT, W, M_FS_PERMS_TYPE_ADD, W, M_FS_PERMS_TYPE_ADD},
	    {false, 0, M_FS_PERMS_TYPE_EXACT, R, M_FS_PERMS_TYPE_REMOVE, R, M_FS_PERMS_TYPE_REMOVE},
	    /* Into an ADD entry: replaced by src's. */
	    {true, R, M_FS_PERMS_TYPE_ADD, W, M_FS_PERMS_TYPE_ADD, W, M_FS_PERMS_TYPE_ADD},
	    {true, R, M_FS_PERMS_TYPE_REMOVE, W, M_FS_PERMS_TYPE_EXACT, W, M_FS_PERMS_TYPE_EXACT},
	};
	for (const MergeCase &c : cases) {
		M_fs_perms_t *dest = M_fs_perms_create();
		if (c.dest_set) {
			M_fs_perms_set_mode(dest, c.dest_mode, GROUP, c.dest_type);
			M_fs_perms_set_dir_mode(dest, c.dest_mode, GROUP, c.dest_type);
		}
		M_fs_perms_t *src = M_fs_perms_create();
		M_fs_perms_set_mode(src, c.src_mode, GROUP, c.src_type);
		M_fs_perms_set_dir_mode(src, c.src_mode, GROUP, c.src_type);
		M_fs_perms_merge(&dest, src);
		EXPECT_TRUE(M_fs_perms_get_isset(dest, GROUP));
		EXPECT_EQ(M_fs_perms_get_mode(dest, GROUP), c.want_mode);
		EXPECT_EQ(M_fs_perms_get_type(dest, GROUP), c.want_type);
		EXPECT_EQ(M_fs_perms_get_dir_mode(dest, GROUP), c.want_mode);
		EXPECT_EQ(M_fs_perms_get_dir_type(dest, GROUP), c.want_type);
		/* Entries unset in src stay as they were. */
		EXPECT_FALSE(M_fs_perms_get_isset(dest, USER));
		M_fs_perms_destroy(dest);
	}
}

TEST(m_fs_perms, merge_ownership)
{
	/* *dest NULL: src becomes dest. */
	M_fs_perms_t *dest = nullptr;
	M_fs_perms_t *src  = M_fs_perms_create();
	M_fs_perms_merge(&dest, src);
	EXPECT_EQ(dest, src);

	/* A user in src replaces dest's. */
	src = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(src, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_merge(&dest, src);
	EXPECT_STREQ(M_fs_perms_get_user(dest), "root");
	/* No user in src keeps dest's. */
	M_fs_perms_merge(&dest, M_fs_perms_create());
	EXPECT_STREQ(M_fs_perms_get_user(dest), "root");

	/* NULL dest address: src is consumed (the sanitizer build sees leaks). */
	M_fs_perms_merge(nullptr, M_fs_perms_create());
	M_fs_perms_merge(&dest, nullptr);
	M_fs_perms_destroy(dest);
}

TEST(m_fs_perms, dup_is_deep)
{
	M_fs_perms_t *p = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(p, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_set_mode(p, R, OTHER, M_FS_PERMS_TYPE_ADD);
	M_fs_perms_t *d = M_fs_perms_dup(p);
	ASSERT_NE(d, nullptr);
	EXPECT_NE(M_fs_perms_get_user(d), M_fs_perms_get_user(p));
	M_fs_perms_destroy(p);
	EXPECT_STREQ(M_fs_perms_get_user(d), "root");
	EXPECT_EQ(M_fs_perms_get_mode(d, OTHER), R);
	EXPECT_EQ(M_fs_perms_get_type(d, OTHER), M_FS_PERMS_TYPE_ADD);
	M_fs_perms_destroy(d);
	EXPECT_EQ(M_fs_perms_dup(nullptr), nullptr);
}

TEST(m_fs_perms, accounts)
{
	M_fs_perms_t *p = M_fs_perms_create();
	EXPECT_EQ(M_fs_perms_set_user(p, "root"), M_FS_ERROR_SUCCESS);
	EXPECT_STREQ(M_fs_perms_get_user(p), "root");
	EXPECT_EQ(M_fs_perms_set_group(p, "root"), M_FS_ERROR_SUCCESS);
	EXPECT_STREQ(M_fs_perms_get_group(p), "root");

	/* An unknown account fails and changes nothing. */
	EXPECT_EQ(M_fs_perms_set_user(p, "no_such_user_mfs_4711"), M_FS_ERROR_GENERIC);
	EXPECT_STREQ(M_fs_perms_get_user(p), "root");
	EXPECT_EQ(M_fs_perms_set_group(p, "no_such_group_mfs_4711"), M_FS_ERROR_GENERIC);
	EXPECT_STREQ(M_fs_perms_get_group(p), "root");

	/* Setting the object's own current name again is safe: it is copied
     * before the old one is released. */
	EXPECT_EQ(M_fs_perms_set_user(p, M_fs_perms_get_user(p)), M_FS_ERROR_SUCCESS);
	EXPECT_STREQ(M_fs_perms_get_user(p), "root");
	EXPECT_EQ(M_fs_perms_set_group(p, M_fs_perms_get_group(p)), M_FS_ERROR_SUCCESS);
	EXPECT_STREQ(M_fs_perms_get_group(p), "root");

	/* NULL or empty clears. */
	EXPECT_EQ(M_fs_perms_set_user(p, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_get_user(p), nullptr);
	EXPECT_EQ(M_fs_perms_set_group(p, ""), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_get_group(p), nullptr);

	EXPECT_EQ(M_fs_perms_set_user(nullptr, "root"), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_set_group(nullptr, "root"), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_get_user(nullptr), nullptr);
	EXPECT_EQ(M_fs_perms_get_group(nullptr), nullptr);
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
	EXPECT_EQ(M_fs_perms_can_access(nullptr, 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_can_access("", 0), M_FS_ERROR_INVALID);
}

TEST(m_fs_perms, set_perms_merges_into_current_modes)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0644);

	M_fs_perms_t *p = M_fs_perms_create();
	M_fs_perms_set_mode(p, W, GROUP, M_FS_PERMS_TYPE_ADD);
	M_fs_perms_set_mode(p, R, OTHER, M_FS_PERMS_TYPE_REMOVE);
	ASSERT_EQ(M_fs_perms_set_perms(p, f.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(mode_of(f), 0660u);

	/* EXACT replaces one class; the others keep theirs. */
	M_fs_perms_t *q = M_fs_perms_create();
	M_fs_perms_set_mode(q, R | W | X, USER, M_FS_PERMS_TYPE_EXACT);
	ASSERT_EQ(M_fs_perms_set_perms(q, f.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(mode_of(f), 0760u);

	/* The same through an open file. */
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, f.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	M_fs_perms_t *r = M_fs_perms_create();
	M_fs_perms_set_mode(r, X, USER, M_FS_PERMS_TYPE_REMOVE);
	M_fs_perms_set_mode(r, R, OTHER, M_FS_PERMS_TYPE_ADD);
	ASSERT_EQ(M_fs_perms_set_perms_file(r, fd), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);
	EXPECT_EQ(mode_of(f), 0664u);

	EXPECT_EQ(M_fs_perms_set_perms(nullptr, f.c_str()), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_set_perms(p, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_set_perms(p, ""), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_set_perms(p, dir.sub("missing").c_str()), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_perms_set_perms_file(p, nullptr), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_perms_set_perms_file(nullptr, nullptr), M_FS_ERROR_INVALID);
	/* The caller's object is not consumed or changed. */
	EXPECT_EQ(M_fs_perms_get_type(p, GROUP), M_FS_PERMS_TYPE_ADD);
	M_fs_perms_destroy(p);
	M_fs_perms_destroy(q);
	M_fs_perms_destroy(r);
}

TEST(m_fs_perms, set_perms_on_directories)
{
	TempDir    dir;
	const auto d = dir.sub("d");
	ASSERT_EQ(::mkdir(d.c_str(), 0700), 0);

	/* Directory entries win for a directory, and ADD adds to what is there. */
	M_fs_perms_t *p = M_fs_perms_create();
	M_fs_perms_set_mode(p, R | W | X, OTHER, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_dir_mode(p, R | X, OTHER, M_FS_PERMS_TYPE_ADD);
	M_fs_perms_set_dir_mode(p, W, USER, M_FS_PERMS_TYPE_REMOVE);
	ASSERT_EQ(M_fs_perms_set_perms(p, d.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(mode_of(d), 0505u);

	/* Only file entries: they apply to a directory too. */
	M_fs_perms_t *q = M_fs_perms_create();
	M_fs_perms_set_mode(q, R | W | X, USER, M_FS_PERMS_TYPE_EXACT);
	M_fs_perms_set_mode(q, 0, OTHER, M_FS_PERMS_TYPE_EXACT);
	ASSERT_EQ(M_fs_perms_set_perms(q, d.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(mode_of(d), 0700u);
	M_fs_perms_destroy(p);
	M_fs_perms_destroy(q);
}

TEST(m_fs_perms, set_perms_owner)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0600);
	const std::string user  = my_user_name();
	const std::string group = my_group_name();
	if (user.empty() || group.empty())
		GTEST_SKIP() << "the current user or group has no name in the account databases";

	/* Giving a file to its own owner and group is always allowed. */
	M_fs_perms_t *p = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(p, user.c_str()), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_perms_set_group(p, group.c_str()), M_FS_ERROR_SUCCESS);
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
