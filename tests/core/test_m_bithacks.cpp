#include <gtest/gtest.h>

#include "core/m_bithacks.h"

#include <cstdint>

TEST(m_bithacks, is_power_of_two)
{
	EXPECT_FALSE(M_uint32_is_power_of_two(0));
	EXPECT_FALSE(M_uint64_is_power_of_two(0));
	EXPECT_FALSE(M_size_t_is_power_of_two(0));
	for (unsigned k = 0; k < 32; k++) {
		const uint32_t p = UINT32_C(1) << k;
		EXPECT_TRUE(M_uint32_is_power_of_two(p)) << k;
		if (k > 1) {
			EXPECT_FALSE(M_uint32_is_power_of_two(p + 1)) << k;
		}
	}
	for (unsigned k = 0; k < 64; k++) {
		const uint64_t p = UINT64_C(1) << k;
		EXPECT_TRUE(M_uint64_is_power_of_two(p)) << k;
		EXPECT_TRUE(M_size_t_is_power_of_two(p)) << k;
		if (k > 1) {
			EXPECT_FALSE(M_uint64_is_power_of_two(p - 1)) << k;
			EXPECT_FALSE(M_size_t_is_power_of_two(p | 1)) << k;
		}
	}
	EXPECT_FALSE(M_uint32_is_power_of_two(UINT32_MAX));
	EXPECT_FALSE(M_uint64_is_power_of_two(UINT64_MAX));
}

TEST(m_bithacks, round_down)
{
	struct Case {
		uint64_t in;
		uint64_t out;
	};
	const Case cases[] = {
	    {0, 0},
	    {1, 1},
	    {2, 2},
	    {3, 2},
	    {5, 4},
	    {1023, 512},
	    {1024, 1024},
	    {UINT64_MAX, UINT64_C(1) << 63},
	    {(UINT64_C(1) << 40) + 7, UINT64_C(1) << 40},
	};
	for (const Case &c : cases) {
		EXPECT_EQ(M_uint64_round_down_to_power_of_two(c.in), c.out) << c.in;
		EXPECT_EQ(M_size_t_round_down_to_power_of_two(c.in), c.out) << c.in;
		if (c.in <= UINT32_MAX) {
			EXPECT_EQ(M_uint32_round_down_to_power_of_two(static_cast<uint32_t>(c.in)), c.out) << c.in;
		}
	}
	EXPECT_EQ(M_uint32_round_down_to_power_of_two(UINT32_MAX), UINT32_C(0x80000000));
}

TEST(m_bithacks, round_up_and_wrap)
{
	struct Case {
		uint64_t in;
		uint64_t out;
	};
	const Case cases[] = {
	    {0, 0},
	    {1, 1},
	    {2, 2},
	    {3, 4},
	    {5, 8},
	    {1000, 1024},
	    {1024, 1024},
	    {(UINT64_C(1) << 63) - 1, UINT64_C(1) << 63},
	    {UINT64_C(1) << 63, UINT64_C(1) << 63},
	    /* Above the largest power of two: wraps to 0. */
	    {(UINT64_C(1) << 63) + 1, 0},
	    {UINT64_MAX, 0},
	};
	for (const Case &c : cases) {
		EXPECT_EQ(M_uint64_round_up_to_power_of_two(c.in), c.out) << c.in;
		EXPECT_EQ(M_size_t_round_up_to_power_of_two(c.in), c.out) << c.in;
	}
	EXPECT_EQ(M_uint32_round_up_to_power_of_two(0), 0u);
	EXPECT_EQ(M_uint32_round_up_to_power_of_two(5), 8u);
	EXPECT_EQ(M_uint32_round_up_to_power_of_two(0x80000000u), 0x80000000u);
	EXPECT_EQ(M_uint32_round_up_to_power_of_two(0x80000001u), 0u);
	EXPECT_EQ(M_uint32_round_up_to_power_of_two(UINT32_MAX), 0u);
}

TEST(m_bithacks, log2)
{
	EXPECT_EQ(M_uint32_log2(0), 0);
	EXPECT_EQ(M_uint64_log2(0), 63);
	EXPECT_EQ(M_uint32_log2(1), 0);
	EXPECT_EQ(M_uint32_log2(0x80000000u), 31);
	EXPECT_EQ(M_uint32_log2(UINT32_MAX), 31);
	EXPECT_EQ(M_uint64_log2(UINT64_MAX), 63);
	/* Every bit position, exact powers and the values just below the next. */
	for (unsigned k = 0; k < 32; k++) {
		const uint32_t p = UINT32_C(1) << k;
		EXPECT_EQ(M_uint32_log2(p), k);
		EXPECT_EQ(M_uint32_log2(p | (p - 1)), k);
	}
	for (unsigned k = 0; k < 64; k++) {
		const uint64_t p = UINT64_C(1) << k;
		EXPECT_EQ(M_uint64_log2(p), k);
		EXPECT_EQ(M_uint64_log2(p | (p - 1)), k);
	}
	EXPECT_EQ(M_uint64_log2(1000), 9);
}

TEST(m_bithacks, sign_extend)
{
	EXPECT_EQ(M_sign_extend(0xFF, 8), -1);
	EXPECT_EQ(M_sign_extend(0x7F, 8), 127);
	EXPECT_EQ(M_sign_extend(0x80, 8), -128);
	EXPECT_EQ(M_sign_extend(0x0, 8), 0);
	EXPECT_EQ(M_sign_extend(0x1, 1), -1);
	EXPECT_EQ(M_sign_extend(0xFFFF, 16), -1);
	EXPECT_EQ(M_sign_extend(0x8000, 16), -32768);
	EXPECT_EQ(M_sign_extend(0xFFFFFFFFFFFFFFFFull, 64), -1);
	EXPECT_EQ(M_sign_extend(0x7FFFFFFFFFFFFFFFull, 64), INT64_MAX);
	/* Out-of-range widths leave the value as it is. */
	EXPECT_EQ(M_sign_extend(0xFF, 0), 255);
	EXPECT_EQ(M_sign_extend(0xFF, 65), 255);
}
