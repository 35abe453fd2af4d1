/* Power-of-two rounding and de Bruijn logarithms.
 *
 * Rounding smears the highest set bit into every lower bit (OR with the
 * value shifted right by 1, 2, 4, ...); the highest bit alone is then the
 * smeared value minus itself shifted right by one, and the next power up is
 * the smeared value plus one. One template serves both widths.
 *
 * The logarithm isolates the highest bit, multiplies it by a de Bruijn
 * sequence and reads the bit position from the top bits of the product
 * (the multiply-and-lookup method). Entry 0 of each table gives the result
 * for an input of 0: 0 for 32 bits, 63 for 64 bits. */
#include "core/m_bithacks.h"

#include <array>
#include <type_traits>

namespace {

static_assert(sizeof(size_t) == sizeof(uint64_t), "the size_t forms are the 64-bit ones");

template <typename T>
constexpr T smear(T n)
{
	static_assert(std::is_unsigned_v<T>);
	for (unsigned shift = 1; shift < sizeof(T) * 8; shift <<= 1)
		n |= static_cast<T>(n >> shift);
	return n;
}

template <typename T>
constexpr bool is_pow2(T n)
{
	return n != 0 && (n & (n - 1)) == 0;
}

template <typename T>
constexpr T round_down(T n)
{
	n = smear(n);
	return static_cast<T>(n - (n >> 1));
}

template <typename T>
constexpr T round_up(T n)
{
	/* 0 - 1 smears to all ones and wraps back to 0; so does any value above
	 * the largest power of two. */
	return static_cast<T>(smear(static_cast<T>(n - 1)) + 1);
}

constexpr uint32_t kDeBruijn32 = 0x077CB531u;
constexpr uint64_t kDeBruijn64 = 0x07EDD5E59A4E28C2ull;

/* Each table maps (2^k * constant) >> shift back to k. */
constexpr std::array<uint8_t, 32> make_log_table32()
{
	std::array<uint8_t, 32> t{};
	for (uint8_t k = 0; k < 32; k++)
		t[static_cast<uint32_t>(kDeBruijn32 << k) >> 27] = k;
	return t;
}

constexpr std::array<uint8_t, 64> make_log_table64()
{
	std::array<uint8_t, 64> t{};
	for (uint8_t k = 0; k < 64; k++)
		t[static_cast<uint64_t>(kDeBruijn64 << k) >> 58] = k;
	return t;
}

constexpr auto kLog32 = make_log_table32();
constexpr auto kLog64 = make_log_table64();

static_assert(kLog32[0] == 0, "the 32-bit logarithm of 0 is 0");
static_assert(kLog64[0] == 63, "the 64-bit logarithm of 0 is 63");
static_assert(round_up<uint32_t>(0x80000001u) == 0, "round up wraps past the top power");

} // namespace

extern "C" {

M_bool M_uint32_is_power_of_two(uint32_t n)
{
	return is_pow2(n);
}
M_bool M_uint64_is_power_of_two(uint64_t n)
{
	return is_pow2(n);
}
M_bool M_size_t_is_power_of_two(size_t n)
{
	return is_pow2<uint64_t>(n);
}

uint32_t M_uint32_round_down_to_power_of_two(uint32_t n)
{
	return round_down(n);
}
uint64_t M_uint64_round_down_to_power_of_two(uint64_t n)
{
	return round_down(n);
}
size_t M_size_t_round_down_to_power_of_two(size_t n)
{
	return round_down<uint64_t>(n);
}

uint32_t M_uint32_round_up_to_power_of_two(uint32_t n)
{
	return round_up(n);
}
uint64_t M_uint64_round_up_to_power_of_two(uint64_t n)
{
	return round_up(n);
}
size_t M_size_t_round_up_to_power_of_two(size_t n)
{
	return round_up<uint64_t>(n);
}

uint8_t M_uint32_log2(uint32_t n)
{
	if (!is_pow2(n))
		n = round_down(n);
	return kLog32[static_cast<uint32_t>(n * kDeBruijn32) >> 27];
}

uint8_t M_uint64_log2(uint64_t n)
{
	if (!is_pow2(n))
		n = round_down(n);
	return kLog64[static_cast<uint64_t>(n * kDeBruijn64) >> 58];
}

int64_t M_sign_extend(uint64_t value, size_t bits)
{
	if (bits == 0 || bits > 64)
		return static_cast<int64_t>(value);
	const uint64_t m = static_cast<uint64_t>(1) << (bits - 1);
	/* Unsigned arithmetic wraps; the conversion to int64_t is two's
	 * complement (C++20). */
	return static_cast<int64_t>((value ^ m) - m);
}

} // extern "C"
