#include "tests/test_util.h"

#include "core/m_bithacks.h"

#include <bit>

namespace {

/* One width's functions; <bit> is the oracle. log2 of 0 is the width's own
 * documented answer (0 for 32 bits, 63 for 64). */
template <typename T>
struct Ops {
	M_bool (*pow2)(T);
	T (*down)(T);
	T (*up)(T);
	uint8_t (*log2)(T);
	int log2_zero;
};

template <typename T>
void check_width(const Ops<T> &ops)
{
	constexpr int  bits = static_cast<int>(sizeof(T) * 8);
	std::vector<T> values{0, static_cast<T>(~T{0})};
	for (int k = 0; k < bits; k++) {
		const T p = static_cast<T>(T{1} << k);
		values.insert(values.end(), {p, static_cast<T>(p - 1), static_cast<T>(p + 1), static_cast<T>(p | (p - 1))});
	}
	std::mt19937_64 rng(3);
	for (int i = 0; i < 2000; i++)
		values.push_back(static_cast<T>(rng() >> (rng() % bits)));
	for (T v : values) {
		SCOPED_TRACE(testing::Message() << bits << "-bit " << v);
		EXPECT_EQ(ops.pow2(v), std::has_single_bit(v));
		EXPECT_EQ(ops.down(v), v == 0 ? T{0} : std::bit_floor(v));
		/* Above the largest power of two the answer wraps to 0. */
		EXPECT_EQ(ops.up(v), v == 0 || v > (T{1} << (bits - 1)) ? T{0} : std::bit_ceil(v));
		if (ops.log2 != nullptr) {
			EXPECT_EQ(ops.log2(v), v == 0 ? ops.log2_zero : std::bit_width(v) - 1);
		}
	}
}

} // namespace

TEST(m_bithacks, every_width_agrees_with_bit_header)
{
	check_width<uint32_t>({M_uint32_is_power_of_two, M_uint32_round_down_to_power_of_two,
	                       M_uint32_round_up_to_power_of_two, M_uint32_log2, 0});
	check_width<uint64_t>({M_uint64_is_power_of_two, M_uint64_round_down_to_power_of_two,
	                       M_uint64_round_up_to_power_of_two, M_uint64_log2, 63});
	check_width<size_t>(
	    {M_size_t_is_power_of_two, M_size_t_round_down_to_power_of_two, M_size_t_round_up_to_power_of_two, nullptr, 0});
}

TEST(m_bithacks, sign_extend)
{
	/* A shift is the oracle; widths outside 1 to 64 leave the value as it is. */
	std::mt19937_64 rng(5);
	for (size_t bits = 1; bits <= 64; bits++) {
		const uint64_t mask = bits == 64 ? UINT64_MAX : (UINT64_C(1) << bits) - 1;
		for (uint64_t v : {uint64_t{0}, mask, mask >> 1, (mask >> 1) + 1, rng() & mask, rng() & mask}) {
			const int shift = static_cast<int>(64 - bits);
			EXPECT_EQ(M_sign_extend(v, bits), static_cast<int64_t>(v << shift) >> shift) << v << "/" << bits;
		}
	}
	EXPECT_EQ(M_sign_extend(0xFF, 0), 255);
	EXPECT_EQ(M_sign_extend(0xFF, 65), 255);
}
