/* The permissions model: entries, access masks, merging. */
#include "tests/fs/fs_test.h"

namespace {

using namespace fs_test;

TEST(m_fs_perms, entries)
{
	M_fs_perms_t *p = M_fs_perms_create();
	EXPECT_EQ(show(p), ".. .. .. .. -:-");
	M_fs_perms_set_mode(p, R | W, USER, EXACT);
	M_fs_perms_set_mode(p, R, GROUP, ADD);
	M_fs_perms_set_dir_mode(p, X | 0xF0u, OTHER, REMOVE); /* only the three mode bits are kept */
	/* Unknown classes and kinds are ignored. */
	M_fs_perms_set_mode(p, R, static_cast<M_fs_perms_who_t>(3), EXACT);
	M_fs_perms_set_mode(p, R, OTHER, static_cast<M_fs_perms_type_t>(7));
	EXPECT_EQ(show(p), "3=. 1+. .4- .. -:-");
	/* unset_dir_mode clears only the directory entry; unset_mode both. */
	M_fs_perms_set_dir_mode(p, R, USER, EXACT);
	M_fs_perms_set_dir_mode(p, R, GROUP, EXACT);
	M_fs_perms_unset_dir_mode(p, USER);
	M_fs_perms_unset_mode(p, GROUP);
	EXPECT_EQ(show(p), "3=. .. .4- .. -:-");
	/* A copy is deep. */
	ASSERT_EQ(M_fs_perms_set_user(p, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_t *d = M_fs_perms_dup(p);
	EXPECT_NE(M_fs_perms_get_user(d), M_fs_perms_get_user(p));
	M_fs_perms_destroy(p);
	EXPECT_EQ(show(d), "3=. .. .4- .. root:-");
	M_fs_perms_destroy(d);
}

/* The access masks of the eight modes for the owner and for the others, and
 * the mode each granted mask reads back as: the generic right or all the
 * file rights of a mode grant it, part of them does not. */
TEST(m_fs_perms, access_masks_and_granted_modes)
{
	const uint32_t owner[8] = {0x000F0000, 0x801F0089, 0x401F0116, 0xC01F019F,
	                           0x201F00A0, 0xA01F00A9, 0x601F01B6, 0xE01F01BF};
	const uint32_t other[8] = {0, 0x80120089, 0x40120116, 0xC012019F, 0x201200A0, 0xA01200A9, 0x601201B6, 0xE01201BF};
	for (uint32_t mode = 0; mode < 8; mode++) {
		EXPECT_EQ(m::detail::perms_access_mask(mode, true), owner[mode]) << mode;
		EXPECT_EQ(m::detail::perms_access_mask(mode, false), other[mode]) << mode;
		EXPECT_EQ(m::detail::perms_mode_from_access(other[mode]), mode);
		EXPECT_EQ(m::detail::perms_mode_from_access(other[mode] & 0x0FFFFFFF), mode) << "file rights alone";
		EXPECT_EQ(m::detail::perms_mode_from_access(other[mode] & 0xF0000000), mode) << "generic rights alone";
	}
	const std::pair<uint32_t, uint32_t> granted[] = {
	    {0x10000000, R | W | X}, {0x001F01FF, R | W | X}, {0x00120088, 0}, {0x00100116, 0}, {0x000F0000, 0}};
	for (const auto &[mask, mode] : granted)
		EXPECT_EQ(m::detail::perms_mode_from_access(mask), mode) << std::hex << mask;
}

/* Into an EXACT entry src's entry is applied; an unset, ADD or REMOVE entry
 * is replaced by src's; entries unset in src stay as they were; a user in src
 * replaces dest's, none keeps it. */
TEST(m_fs_perms, merge_rules)
{
	const struct {
		bool              dest_set;
		uint32_t          dest_mode;
		M_fs_perms_type_t dest_type;
		uint32_t          src_mode;
		M_fs_perms_type_t src_type;
		const char       *want;
	} cases[] = {{true, R, EXACT, W, ADD, "3=3= 3=3="},
	             {true, R | W | X, EXACT, W, REMOVE, "3=3= 5=5="},
	             {true, R | W, EXACT, X, EXACT, "3=3= 4=4="},
	             {false, 0, EXACT, W, ADD, "3=3= 2+2+"},
	             {true, R, REMOVE, W, EXACT, "3=3= 2=2="}};
	for (const auto &c : cases) {
		M_fs_perms_t *dest = M_fs_perms_create(), *src = M_fs_perms_create();
		for (auto set : {M_fs_perms_set_mode, M_fs_perms_set_dir_mode}) {
			set(dest, R | W, USER, EXACT);
			if (c.dest_set)
				set(dest, c.dest_mode, GROUP, c.dest_type);
			set(src, c.src_mode, GROUP, c.src_type);
		}
		M_fs_perms_merge(&dest, src);
		EXPECT_EQ(show(dest).substr(0, 9), c.want);
		M_fs_perms_destroy(dest);
	}
	/* *dest NULL: src becomes dest. A NULL dest address consumes src (the
     * sanitizer build sees leaks). */
	M_fs_perms_t *dest = nullptr, *src = M_fs_perms_create();
	M_fs_perms_merge(&dest, src);
	EXPECT_EQ(dest, src);
	src = M_fs_perms_create();
	ASSERT_EQ(M_fs_perms_set_user(src, "root"), M_FS_ERROR_SUCCESS);
	M_fs_perms_merge(&dest, src);
	M_fs_perms_merge(&dest, M_fs_perms_create());
	EXPECT_STREQ(M_fs_perms_get_user(dest), "root");
	M_fs_perms_merge(nullptr, M_fs_perms_create());
	M_fs_perms_destroy(dest);
}

} // namespace
