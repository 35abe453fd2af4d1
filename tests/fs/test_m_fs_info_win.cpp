/* File information on the Windows host: entries, handles, access lists. */
#include "tests/fs/fs_test.h"

#include <windows.h>

#include <aclapi.h>

namespace {

using namespace fs_test;

/* Information from the directory entry and from a handle: type, size, the
 * hidden attribute; permissions written as an access list of the mask table
 * and read back from the file's descriptor. */
TEST(m_fs_info, windows_entries_and_access_lists)
{
	TempDir dir;
	make_file(dir.sub("f"), "12345");
	make_file(dir.sub("h"), "x");
	ASSERT_TRUE(SetFileAttributesA(dir.sub("h").c_str(), FILE_ATTRIBUTE_HIDDEN));
	EXPECT_TRUE(M_fs_path_ishidden(dir.sub("h").c_str(), nullptr));
	EXPECT_FALSE(M_fs_path_ishidden(dir.sub("f").c_str(), nullptr));
	EXPECT_EQ(M_fs_info(nullptr, dir.sub("f*").c_str(), 0), M_FS_ERROR_INVALID) << "no wildcards";
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f").c_str(), 0), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("missing").c_str(), 0), M_FS_ERROR_NOT_FOUND);
	EXPECT_EQ(M_fs_perms_can_access(dir.sub("f").c_str(), R | W), M_FS_ERROR_SUCCESS);

	M_fs_info_t *info = nullptr;
	ASSERT_EQ(M_fs_info(&info, dir.sub("f").c_str(), M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_type(info), M_FS_TYPE_FILE);
	EXPECT_EQ(M_fs_info_get_size(info), 5u);
	EXPECT_LE(std::llabs(M_fs_info_get_mtime(info) - M_time()), 60);
	EXPECT_EQ(M_fs_info_get_ctime(info), M_fs_info_get_btime(info));
	M_fs_info_destroy(info);
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, dir.path().c_str(), 0, RD, nullptr), M_FS_ERROR_PERMISSION) << "a directory";
	fd = open_or_fail(dir.sub("f"), 0, RD);
	ASSERT_EQ(M_fs_info_file(&info, fd, M_FS_INFO_FLAG_BASIC), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_fs_info_get_size(info), 5u);
	M_fs_info_destroy(info);
	M_fs_file_close(fd);

	/* Owner read and write, everyone read: two allowed entries with the
	 * masks of the table, the owner's first, in the descriptor a new file
	 * gets. (Wine keeps only mode bits of what is applied to a file, so the
	 * descriptor is checked as built; applying it must succeed.) */
	M_fs_perms_t *p = M_fs_perms_create();
	M_fs_perms_set_mode(p, R | W, USER, EXACT);
	M_fs_perms_set_mode(p, R, OTHER, EXACT);
	M_fs_perms_set_mode(p, W, GROUP, REMOVE);
	EXPECT_EQ(M_fs_perms_set_user(p, "no_such_account_mfs_4711"), M_FS_ERROR_GENERIC);
	EXPECT_EQ(M_fs_perms_set_perms(p, dir.sub("f").c_str()), M_FS_ERROR_SUCCESS);
	M_fs_perms_t *none = M_fs_perms_create();
	for (M_fs_perms_t *perms : {p, none}) {
		void               *everyone = perms == p ? m::detail::everyone_sid() : nullptr;
		void               *acl      = nullptr;
		SECURITY_ATTRIBUTES sa       = {};
		SECURITY_DESCRIPTOR desc     = {};
		ASSERT_EQ(m::detail::perms_to_security_attributes(perms, everyone, &acl, &sa, &desc), M_FS_ERROR_SUCCESS);
		ASSERT_NE(M_fs_perms_get_user(perms), nullptr) << "the current user owns a new file";
		EXPECT_EQ(sa.lpSecurityDescriptor, &desc);
		BOOL present = FALSE, defaulted = FALSE;
		PACL dacl  = nullptr;
		PSID owner = nullptr;
		ASSERT_TRUE(GetSecurityDescriptorDacl(&desc, &present, &dacl, &defaulted));
		ASSERT_TRUE(GetSecurityDescriptorOwner(&desc, &owner, &defaulted));
		ASSERT_TRUE(present && dacl != nullptr && owner != nullptr);
		std::vector<std::pair<DWORD, bool>> aces; /* mask, is everyone */
		for (DWORD i = 0; i < dacl->AceCount; i++) {
			ACCESS_ALLOWED_ACE *ace = nullptr;
			ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&ace)));
			EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
			PSID sid = &ace->SidStart;
			EXPECT_TRUE(i > 0 || EqualSid(sid, owner)) << "the owner's entry first";
			aces.push_back({ace->Mask, IsWellKnownSid(sid, WinWorldSid) != 0});
		}
		const std::vector<std::pair<DWORD, bool>> want =
		    perms == p ? std::vector<std::pair<DWORD, bool>>{{0xC01F019F, false}, {0x80120089, true}}
		               : std::vector<std::pair<DWORD, bool>>{}; /* nothing set: an empty list grants nothing */
		EXPECT_EQ(aces, want);
		LocalFree(acl);
		if (everyone != nullptr)
			LocalFree(everyone);
	}
	M_fs_perms_destroy(none);
	M_fs_perms_destroy(p);
}

} // namespace
