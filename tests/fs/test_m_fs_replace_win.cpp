/* Replacing a file whole on Windows: the folder held while the replace
 * works, and the "\\.\" names. */
#include "tests/fs/fs_test.h"

#include "fs/m_fs_replace.h"

namespace {

using namespace fs_test;

/* The path in the system's own form: backslashes. */
std::string native(const std::string &p)
{
	return std::filesystem::path(p).make_preferred().string();
}

/* Nobody moves the output's folder while a replace works in it: the move
 * is refused, and the commit puts the new content in place. */
TEST(m_fs_replace, folder_is_held)
{
	TempDir           root;
	const std::string d = root.sub("d");
	ASSERT_TRUE(std::filesystem::create_directory(d));
	make_file(d + "/out", "old");
	M_fs_replace_t *rep = nullptr;
	ASSERT_EQ(M_fs_replace_begin(&rep, (d + "/out").c_str()), M_FS_ERROR_SUCCESS);
	ASSERT_EQ(M_fs_replace_write(rep, bytes("new"), 3), M_FS_ERROR_SUCCESS);
	std::error_code moved;
	std::filesystem::rename(d, root.sub("d2"), moved);
	EXPECT_TRUE(moved) << "the folder moved";
	EXPECT_EQ(M_fs_replace_commit(rep), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(d + "/out"), "new");
	EXPECT_EQ(names_in(d), "out");
}

/* "\\.\" with a drive and a path is a file, replaced whole (no tail of the
 * old content), and a missing folder under it is refused at the begin;
 * every other "\\.\" name is a device, written directly. */
TEST(m_fs_replace, device_namespace_paths)
{
	TempDir           dir;
	const std::string out = native(dir.sub("old.gpg"));
	ASSERT_EQ(out[1], ':') << out;
	make_file(out, "old content");
	EXPECT_EQ(M_fs_replace_bytes(("\\\\.\\" + out).c_str(), bytes("new"), 3), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(out), "new");
	EXPECT_EQ(names_in(dir.path()), "old.gpg");
	M_fs_replace_t *rep = reinterpret_cast<M_fs_replace_t *>(1);
	EXPECT_EQ(M_fs_replace_begin(&rep, ("\\\\.\\" + native(dir.sub("nodir/x.gpg"))).c_str()), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(rep, nullptr);
	EXPECT_EQ(M_fs_replace_bytes("\\\\.\\NUL", bytes("x"), 1), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(names_in(dir.path()), "old.gpg");
}

} // namespace
