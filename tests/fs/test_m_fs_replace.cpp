/* Replacing a file whole, staged: what each host does alike. */
#include "tests/fs/fs_test.h"

#include "fs/m_fs_replace.h"

namespace {

using namespace fs_test;

/* A staged replace: the temporary file exists from the begin, the output
 * keeps its content until the commit, and a cancel leaves nothing behind;
 * the directory is checked before any data exists. */
TEST(m_fs_replace, stages_keep_the_old_file_until_the_commit)
{
	TempDir           dir;
	const std::string out = dir.sub("out");
	make_file(out, "old", 0640);
	M_fs_replace_t *rep = nullptr;
	ASSERT_EQ(M_fs_replace_begin(&rep, out.c_str()), M_FS_ERROR_SUCCESS);
	const std::string listed = names_in(dir.path());
	ASSERT_EQ(listed.rfind(".out.", 0), 0u) << listed;
	EXPECT_EQ(M_fs_replace_write(rep, bytes("new"), 3), M_FS_ERROR_SUCCESS);
	M_fs_replace_t *second = reinterpret_cast<M_fs_replace_t *>(1);
	EXPECT_EQ(M_fs_replace_begin(&second, dir.sub("other").c_str()), M_FS_ERROR_GENERIC);
	EXPECT_EQ(second, nullptr);
	EXPECT_EQ(slurp(out), "old");
	M_fs_replace_cancel(rep);
	EXPECT_EQ(names_in(dir.path()), "out");
	EXPECT_EQ(slurp(out), "old");

	ASSERT_EQ(M_fs_replace_begin(&rep, out.c_str()), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_replace_write(rep, bytes("ab"), 2), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_replace_write(rep, bytes("cd"), 2), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_replace_commit(rep), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(slurp(out), "abcd");
	EXPECT_EQ(names_in(dir.path()), "out");
	EXPECT_EQ(M_fs_replace_begin(&rep, dir.sub("nodir/x").c_str()), M_FS_ERROR_NOT_FOUND);
}

} // namespace
