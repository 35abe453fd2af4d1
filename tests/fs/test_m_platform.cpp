/* The last system failure's words: from the call that failed, cut to the
 * room given, per thread. */
#include "tests/fs/fs_test.h"

#include <thread>

namespace {

using namespace fs_test;

TEST(m_platform, strerror_names_the_last_failure_of_the_thread)
{
	TempDir        dir;
	unsigned char *buf = nullptr;
	char           missing[128];
	char           is_dir[128];
	char           cut[4];
	ASSERT_EQ(M_fs_file_read_bytes(dir.sub("missing").c_str(), 0, &buf, nullptr), M_FS_ERROR_NOT_FOUND);
	EXPECT_TRUE(M_platform_strerror(missing, sizeof(missing)));
	const std::string text(missing);
	ASSERT_FALSE(text.empty());
	EXPECT_EQ(text.find_first_of(".\r\n", text.size() - 1), std::string::npos) << "a bare text: " << text;
	ASSERT_EQ(M_fs_file_write_bytes(dir.sub("missing/x").c_str(), bytes("x"), 1, 0, nullptr), M_FS_ERROR_NOT_FOUND);
	ASSERT_EQ(M_fs_file_read_bytes(dir.path().c_str(), 0, &buf, nullptr), M_FS_ERROR_PERMISSION);
	EXPECT_TRUE(M_platform_strerror(is_dir, sizeof(is_dir)));
	EXPECT_STRNE(is_dir, missing) << "the later failure's reason";
	EXPECT_TRUE(M_platform_strerror(cut, sizeof(cut)));
	EXPECT_EQ(std::string(cut), std::string(is_dir).substr(0, 3));
	std::thread([] {
		char fresh[8] = "x";
		EXPECT_FALSE(M_platform_strerror(fresh, sizeof(fresh)));
		EXPECT_STREQ(fresh, "");
	}).join();
}

} // namespace
