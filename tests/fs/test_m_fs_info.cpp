/* File information: the object's fields, and information read from real
 * files, directories and open descriptors.
 */
#include <ctime>
#include <pwd.h>

#include "fs/m_fs_info.h"
#include "tests/fs/fs_test_util.h"

namespace {

using namespace fs_test;

TEST(m_fs_info, object_fields)
{
	M_fs_info_t *info = M_fs_info_create();
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_UNKNOWN);
	M_fs_info_set_user(info, "alice");
	M_fs_info_set_group(info, "staff");
	M_fs_info_set_type(info, M_FS_TYPE_DIR);
	M_fs_info_set_hidden(info, M_TRUE);
	M_fs_info_set_size(info, 1ull << 40);
	M_fs_info_set_atime(info, 1);
	M_fs_info_set_mtime(info, 2);
	M_fs_info_set_ctime(info, 3);
	M_fs_info_set_btime(info, -4);
	EXPECT_STREQ(M_fs_info_get_group(info), "staff");
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_DIR);
	EXPECT_TRUE(M_fs_info_get_ishidden(info));
	EXPECT_EQ(M_fs_info_get_size(info), 1ull << 40);
	EXPECT_EQ(std::to_string(M_fs_info_get_atime(info)) + " " + std::to_string(M_fs_info_get_mtime(info)) + " " +
	              std::to_string(M_fs_info_get_ctime(info)) + " " + std::to_string(M_fs_info_get_btime(info)),
	          "1 2 3 -4");
	/* Names are copies; setting from the object's own name is safe. */
	M_fs_info_set_user(info, M_fs_info_get_user(info));
	EXPECT_STREQ(M_fs_info_get_user(info), "alice");
	M_fs_info_set_group(info, nullptr);
	EXPECT_EQ(M_fs_info_get_group(info), nullptr);
	/* Permissions are taken over; the same object again is kept, a replaced
     * one released, and without an object to take them they are released. */
	M_fs_perms_t *p1 = M_fs_perms_create();
	M_fs_info_set_perms(info, p1);
	M_fs_info_set_perms(info, p1);
	EXPECT_EQ(M_fs_info_get_perms(info), p1);
	M_fs_info_set_perms(info, M_fs_perms_create());
	EXPECT_NE(M_fs_info_get_perms(info), p1);
	M_fs_info_destroy(info);
	M_fs_info_set_perms(nullptr, M_fs_perms_create());
}

TEST(m_fs_info, regular_file)
{
	TempDir    dir;
	const auto f = dir.sub("data.txt");
	make_file(f, "twelve bytes", 0640);
	const struct timespec times[2] = {{1500000000, 0}, {1600000000, 0}};
	ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), times, 0), 0);

	M_fs_info_t *info = nullptr;
	ASSERT_EQ(M_fs_info(&info, f.c_str(), 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_FILE);
	EXPECT_EQ(M_fs_info_get_size(info), 12u);
	EXPECT_FALSE(M_fs_info_get_ishidden(info));
	EXPECT_EQ(M_fs_info_get_atime(info), 1500000000);
	EXPECT_EQ(M_fs_info_get_mtime(info), 1600000000);
	struct passwd *pw = ::getpwuid(::geteuid());
	if (pw != nullptr) {
		EXPECT_STREQ(M_fs_info_get_user(info), pw->pw_name);
	}
	const M_fs_perms_t *perms = M_fs_info_get_perms(info);
	ASSERT_NE(perms, nullptr);
	EXPECT_EQ(M_fs_perms_get_mode(perms, M_FS_PERMS_WHO_USER), M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE);
	EXPECT_EQ(M_fs_perms_get_mode(perms, M_FS_PERMS_WHO_GROUP), static_cast<uint32_t>(M_FS_PERMS_MODE_READ));
	EXPECT_EQ(M_fs_perms_get_mode(perms, M_FS_PERMS_WHO_OTHER), 0u);
	EXPECT_TRUE(M_fs_perms_get_isset(perms, M_FS_PERMS_WHO_OTHER));
	EXPECT_EQ(M_fs_perms_get_type(perms, M_FS_PERMS_WHO_USER), M_FS_PERMS_TYPE_EXACT);
	EXPECT_FALSE(M_fs_perms_get_dir_isset(perms, M_FS_PERMS_WHO_USER)) << "a file has no directory entries";
	EXPECT_STREQ(M_fs_perms_get_user(perms), M_fs_info_get_user(info));
	M_fs_info_destroy(info);

	/* BASIC leaves owner, group and permissions out. */
	ASSERT_EQ(M_fs_info(&info, f.c_str(), M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_user(info), nullptr);
	EXPECT_EQ(M_fs_info_get_group(info), nullptr);
	EXPECT_EQ(M_fs_info_get_perms(info), nullptr);
	EXPECT_EQ(M_fs_info_get_size(info), 12u);
	M_fs_info_destroy(info);

	/* Execute bits read back too. */
	ASSERT_EQ(::chmod(f.c_str(), 0751), 0);
	ASSERT_EQ(M_fs_info(&info, f.c_str(), 0), M_FS_ERROR_SUCCESS);
	const uint32_t got[] = {M_fs_perms_get_mode(M_fs_info_get_perms(info), M_FS_PERMS_WHO_USER),
	                        M_fs_perms_get_mode(M_fs_info_get_perms(info), M_FS_PERMS_WHO_GROUP),
	                        M_fs_perms_get_mode(M_fs_info_get_perms(info), M_FS_PERMS_WHO_OTHER)};
	EXPECT_EQ(got[0], M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE | M_FS_PERMS_MODE_EXEC);
	EXPECT_EQ(got[1], M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_EXEC);
	EXPECT_EQ(got[2], static_cast<uint32_t>(M_FS_PERMS_MODE_EXEC));
	M_fs_info_destroy(info);

	/* Missing: NOT_FOUND and no object; a NULL info only asks whether the
     * file is there. */
	info = reinterpret_cast<M_fs_info_t *>(1);
	EXPECT_EQ(M_fs_info(&info, dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(info, nullptr);
	EXPECT_EQ(M_fs_info(&info, "", 0), M_FS_ERROR_INVALID);
	EXPECT_EQ(M_fs_info(nullptr, dir.path().c_str(), 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info(nullptr, dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
}

TEST(m_fs_info, directories_hidden_files_and_links)
{
	TempDir dir;
	ASSERT_EQ(::mkdir(dir.sub(".cache").c_str(), 0755), 0);
	ASSERT_EQ(::chmod(dir.sub(".cache").c_str(), 0755), 0); /* whatever the umask */
	M_fs_info_t *info = nullptr;
	ASSERT_EQ(M_fs_info(&info, dir.sub(".cache").c_str(), 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_DIR);
	EXPECT_TRUE(M_fs_info_get_ishidden(info));
	/* A directory's rights are reported as its (file) mode entries. */
	EXPECT_EQ(M_fs_perms_get_mode(M_fs_info_get_perms(info), M_FS_PERMS_WHO_OTHER),
	          M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_EXEC);
	EXPECT_FALSE(M_fs_perms_get_dir_isset(M_fs_info_get_perms(info), M_FS_PERMS_WHO_USER));
	M_fs_info_destroy(info);

	/* A link is followed: the information is the target's. */
	make_file(dir.sub("target"), "abc", 0600);
	ASSERT_EQ(::symlink("target", dir.sub(".link").c_str()), 0);
	ASSERT_EQ(M_fs_info(&info, dir.sub(".link").c_str(), M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_size(info), 3u);
	EXPECT_FALSE(M_fs_info_get_ishidden(info)) << "the name after resolution is target";
	M_fs_info_destroy(info);
}

TEST(m_fs_info, ctime_is_the_creation_time)
{
	/* ctime and btime both carry the creation time. Only where the file
     * system keeps none (btime 0) does ctime fall back to the status-change
     * time. A status change later does not move a known creation time. */
	TempDir    dir;
	const auto f = dir.sub("born");
	make_file(f, "x", 0600);
	/* Let the clock reach the next second, so the status change below gets a
     * later time than the creation. */
	struct stat st;
	ASSERT_EQ(::stat(f.c_str(), &st), 0);
	while (::time(nullptr) <= st.st_ctim.tv_sec)
		::usleep(20000);
	::usleep(20000); /* file times come from a coarser clock */
	const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
	ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old_times, 0), 0);
	ASSERT_EQ(::stat(f.c_str(), &st), 0);
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, f.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	for (const bool by_fd : {false, true}) {
		M_fs_info_t *info = nullptr;
		ASSERT_EQ(by_fd ? M_fs_info_file(&info, fd, M_FS_INFO_FLAG_BASIC)
		                : M_fs_info(&info, f.c_str(), M_FS_INFO_FLAG_BASIC),
		          M_FS_ERROR_SUCCESS);
		const M_time_t btime = M_fs_info_get_btime(info);
		EXPECT_LE(btime, static_cast<M_time_t>(::time(nullptr)));
		if (btime != 0) {
			EXPECT_EQ(M_fs_info_get_ctime(info), btime);
			EXPECT_LT(btime, static_cast<M_time_t>(st.st_ctim.tv_sec));
			EXPECT_GT(btime, 1000000000) << "creation is not the modification time set afterwards";
		} else {
			EXPECT_EQ(M_fs_info_get_ctime(info), static_cast<M_time_t>(st.st_ctim.tv_sec));
		}
		M_fs_info_destroy(info);
	}
	M_fs_file_close(fd);
}

TEST(m_fs_info, open_file)
{
	TempDir    dir;
	const auto f = dir.sub(".hidden_data");
	make_file(f, "0123456789", 0600);
	M_fs_file_t *fd = nullptr;
	ASSERT_EQ(M_fs_file_open(&fd, f.c_str(), 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE, nullptr),
	          M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_seek(fd, 0, M_FS_FILE_SEEK_END), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_file_write(fd, reinterpret_cast<const unsigned char *>("ab"), 2, nullptr, 0), M_FS_ERROR_SUCCESS);
	M_fs_info_t *info = nullptr;
	ASSERT_EQ(M_fs_info_file(&info, fd, 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_FILE);
	EXPECT_EQ(M_fs_info_get_size(info), 12u);
	EXPECT_TRUE(M_fs_info_get_ishidden(info));
	EXPECT_EQ(M_fs_perms_get_mode(M_fs_info_get_perms(info), M_FS_PERMS_WHO_USER),
	          M_FS_PERMS_MODE_READ | M_FS_PERMS_MODE_WRITE);
	M_fs_info_destroy(info);
	EXPECT_EQ(M_fs_info_file(nullptr, fd, 0), M_FS_ERROR_SUCCESS);
	M_fs_file_close(fd);

	/* A standard stream has no name: never hidden. */
	ASSERT_EQ(M_fs_file_open_iostream(&fd, M_FS_IOSTREAM_ERR), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_info_file(&info, fd, M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_FALSE(M_fs_info_get_ishidden(info));
	M_fs_info_destroy(info);
	M_fs_file_close(fd);
}

} // namespace
