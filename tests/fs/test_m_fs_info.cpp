/* File information objects. */
#include "tests/fs/fs_test.h"

namespace {

using namespace fs_test;
using fs_test::show;

/* The fields of an information object in one line (times left out); the
 * permissions as show() gives them. */
std::string show(const M_fs_info_t *info)
{
	const char         *user = M_fs_info_get_user(info), *group = M_fs_info_get_group(info);
	const M_fs_perms_t *perms = M_fs_info_get_perms(info);
	return std::to_string(M_fs_info_get_type(info)) + " " + std::to_string(M_fs_info_get_size(info)) +
	       (M_fs_info_get_ishidden(info) ? " hidden " : " ") + (user ? user : "-") + ":" + (group ? group : "-") +
	       " [" + (perms ? show(perms) : "none") + "]";
}

TEST(m_fs_info, object_fields)
{
	M_fs_info_t *info = M_fs_info_create();
	EXPECT_EQ(show(info), std::to_string(M_FS_TYPE_UNKNOWN) + " 0 -:- [none]");
	M_fs_info_set_user(info, "alice");
	M_fs_info_set_group(info, "staff");
	M_fs_info_set_type(info, M_FS_TYPE_DIR);
	M_fs_info_set_hidden(info, M_TRUE);
	M_fs_info_set_size(info, 1ull << 40);
	/* Names are copies, so setting one from the object's own is safe.
     * Permissions are taken over: the same object again is kept, a replaced
     * one released, and without an object to take them they are released. */
	M_fs_info_set_user(info, M_fs_info_get_user(info));
	M_fs_info_set_group(info, nullptr);
	M_fs_perms_t *p1 = M_fs_perms_create();
	M_fs_info_set_perms(info, p1);
	M_fs_info_set_perms(info, p1);
	EXPECT_EQ(M_fs_info_get_perms(info), p1);
	M_fs_info_set_perms(info, M_fs_perms_create());
	EXPECT_NE(M_fs_info_get_perms(info), p1);
	EXPECT_EQ(show(info), std::to_string(M_FS_TYPE_DIR) + " 1099511627776 hidden alice:- [.. .. .. .. -:-]");
	M_fs_info_destroy(info);
	M_fs_info_set_perms(nullptr, M_fs_perms_create());
}

} // namespace
