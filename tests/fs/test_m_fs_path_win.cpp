/* Paths on the Windows host. */
#include "tests/fs/fs_test.h"

#include <windows.h>

#include <shlobj.h>

namespace {

using namespace fs_test;

/* The Windows host: its own path style, variables of both forms read from
 * the process's environment, the profile, configuration and temporary
 * folders of the system, a path rooted on the current drive, no links. */
TEST(m_fs_path, windows_host)
{
	char *cwd = nullptr;
	ASSERT_EQ(M_fs_path_get_cwd(&cwd), M_FS_ERROR_SUCCESS);
	const std::string here = take(cwd);
	ASSERT_EQ(here[1], ':');
	char profile[MAX_PATH + 1] = {};
	ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
	char temp[MAX_PATH + 1] = {};
	ASSERT_GT(GetTempPathA(sizeof(temp), temp), 0u);
	std::string temp_dir = temp;
	temp_dir.pop_back(); /* the system's trailing backslash */

	EnvGuard var("MFS_VAR", "C:\\Users\\u\\AppData\\Roaming");
	EnvGuard unset("MFS_UNSET", nullptr);
	const struct {
		std::string path;
		uint32_t    flags;
		std::string want;
	} rows[] = {{"a/b", 0, "a\\b"},
	            {"%MFS_VAR%\\x", 0, "C:\\Users\\u\\AppData\\Roaming\\x"},
	            {"$MFS_VAR/..", 0, "C:\\Users\\u\\AppData"},
	            {"%MFS_UNSET%\\x", 0, err(M_FS_ERROR_GENERIC)},
	            {"\\dir\\f", 0, here.substr(0, 2) + "\\dir\\f"},
	            {"\\", 0, here.substr(0, 2) + "\\"},
	            {"f", M_FS_PATH_NORM_ABSOLUTE, here + "\\f"},
	            {"~\\x", M_FS_PATH_NORM_HOME, std::string(profile) + "\\x"},
	            {"C:\\a\\..\\..\\b", M_FS_PATH_NORM_RESOLVE_LINK, "C:\\b"}};
	for (const auto &r : rows)
		EXPECT_EQ(norm(r.path, r.flags, AUTO), r.want) << r.path;
	{
		EnvGuard appdata("APPDATA", "C:\\Users\\u\\AppData\\Roaming");
		EXPECT_EQ(take(M_fs_path_user_confdir(AUTO)), "C:\\Users\\u\\AppData\\Roaming");
	}
	EXPECT_EQ(take(M_fs_path_tmpdir(AUTO)), temp_dir);
	char *link = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_fs_path_readlink(&link, here.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(link, nullptr);
	EXPECT_EQ(M_fs_path_set_cwd("C:\\nonexistent\\mfs\\dir"), M_FS_ERROR_NOT_FOUND);
}

} // namespace
