/* Permissions on POSIX: accounts, access tests, modes, owners and groups. */
#include "tests/fs/fs_test.h"

#include <grp.h>
#include <pwd.h>

namespace {

using namespace fs_test;

TEST(m_fs_perms, accounts)
{
	M_fs_perms_t *p = M_fs_perms_create();
	/* An unknown account fails and changes nothing; the object's own name
     * again is safe (copied before the old one is released); NULL or empty
     * clears. */
	const std::pair<const char *, M_fs_error_t> steps[] = {
	    {"root", M_FS_ERROR_SUCCESS}, {"no_such_account_mfs_4711", M_FS_ERROR_GENERIC}, {nullptr, M_FS_ERROR_SUCCESS}};
	const char *want[] = {"root:root", "root:root", "-:-"};
	for (size_t i = 0; i < 3; i++) {
		EXPECT_EQ(M_fs_perms_set_user(p, steps[i].first), steps[i].second);
		EXPECT_EQ(M_fs_perms_set_group(p, steps[i].first), steps[i].second);
		EXPECT_EQ(M_fs_perms_set_user(p, M_fs_perms_get_user(p)), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_perms_set_group(p, M_fs_perms_get_group(p)), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(show(p).substr(12), want[i]);
	}
	M_fs_perms_destroy(p);
}

TEST(m_fs_perms, can_access)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0644);
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), R), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f/below").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	/* No execute bit at all: refused even to root. */
	EXPECT_EQ(M_fs_perms_can_access(f.c_str(), X), M_FS_ERROR_PERMISSION);
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
	    {f, {{false, W, USER, REMOVE}, {false, R, OTHER, ADD}}, 0464, true},
	    {d, {{false, R | W | X, OTHER, EXACT}, {true, R | X, OTHER, ADD}, {true, W, USER, REMOVE}}, 0505, false},
	    {d, {{false, R | W | X, USER, EXACT}, {false, 0, OTHER, EXACT}}, 0700, false}};
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
			EXPECT_EQ(M_fs_perms_set_perms_file(p, nullptr), M_FS_ERROR_INVALID);
			EXPECT_EQ(M_fs_perms_set_perms(p, dir.sub("missing").c_str()), M_FS_ERROR_NOT_FOUND);
		}
		M_fs_perms_destroy(p);
	}
}

/* Owner and group are set by name. As root the file goes to other accounts,
 * so the check holds only if the change was made; anyone else may give a
 * file to its own owner and group. */
TEST(m_fs_perms, set_perms_owner)
{
	TempDir    dir;
	const auto f = dir.sub("f");
	make_file(f, "x", 0600);
	const bool     root = ::geteuid() == 0;
	struct passwd *pw   = root ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
	struct group  *gr   = root ? ::getgrnam("nogroup") : ::getgrgid(::getegid());
	if (pw == nullptr || gr == nullptr)
		GTEST_SKIP() << "no account to give the file to";
	const uid_t   uid = pw->pw_uid;
	const gid_t   gid = gr->gr_gid;
	M_fs_perms_t *p   = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(p, pw->pw_name), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_perms_set_group(p, gr->gr_name), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_set_perms(p, f.c_str()), M_FS_ERROR_SUCCESS);
	struct stat st;
	ASSERT_EQ(::stat(f.c_str(), &st), 0);
	EXPECT_EQ(st.st_uid, uid);
	EXPECT_EQ(st.st_gid, gid);
	EXPECT_EQ(st.st_mode & 0777, 0600u) << "no entry set: modes unchanged";
	M_fs_perms_destroy(p);
}

} // namespace
