/* Floating-point helpers working on the bits of a binary64 double.
 *
 * A double is sign (1 bit), biased exponent (11 bits, bias 1023) and
 * mantissa (52 bits, with an implicit leading 1 for normal numbers). For an
 * unbiased exponent e in [0, 51] the low 52 - e mantissa bits hold the
 * fraction, so clearing them yields the integer part exactly; below 0 the
 * whole value is fraction, and from 52 on there is no fraction at all.
 */
#include "core/m_float.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace {

static_assert(std::numeric_limits<double>::is_iec559, "double must be IEEE 754 binary64");
static_assert(sizeof(double) == sizeof(uint64_t), "double must be 64 bits");

constexpr uint64_t kSignBit      = 0x8000000000000000ULL;
constexpr uint64_t kMantissaMask = 0x000FFFFFFFFFFFFFULL;
constexpr int      kExpBias      = 1023;
constexpr int      kMantBits     = 52;

/* Unbiased exponent of a double's bits (1024 for infinities and NaN). */
constexpr int unbiased_exponent(uint64_t bits)
{
	return static_cast<int>((bits >> kMantBits) & 0x7FF) - kExpBias;
}

/* A zero carrying the sign of bits. */
inline double signed_zero(uint64_t bits)
{
	return std::bit_cast<double>(bits & kSignBit);
}

} /* namespace */

extern "C" {

double M_math_modf(double value, double *int_part)
{
	const uint64_t bits = std::bit_cast<uint64_t>(value);
	const int      exp  = unbiased_exponent(bits);
	double         ip;
	double         frac;

	if (exp < 0) {
		/* |value| < 1: everything is fraction. */
		ip   = signed_zero(bits);
		frac = value;
	} else if (exp >= kMantBits) {
		/* No bits below the binary point; infinities and NaN land here too. */
		ip = value;
		if (exp == 1024 && (bits & kMantissaMask) != 0) {
			frac = value; /* NaN: NaN for both parts */
		} else {
			frac = signed_zero(bits);
		}
	} else {
		const uint64_t frac_mask = kMantissaMask >> exp;
		if ((bits & frac_mask) == 0) {
			ip   = value;
			frac = signed_zero(bits);
		} else {
			ip = std::bit_cast<double>(bits & ~frac_mask);
			/* Exact: both operands share the exponent range of value. */
			frac = value - ip;
		}
	}

	if (int_part != nullptr)
		*int_part = ip;
	return frac;
}

double M_math_round(double value)
{
	const uint64_t bits = std::bit_cast<uint64_t>(value);
	const int      exp  = unbiased_exponent(bits);

	/* Magnitude 2^52 or more, infinities and NaN: nothing to round. */
	if (exp >= kMantBits)
		return value;
	/* Magnitude below one half: zero of the same sign. Testing the exponent
	 * (not value + 0.5) keeps 0.49999999999999994 from rounding up. */
	if (exp < -1)
		return signed_zero(bits);

	double       ip;
	const double frac = M_math_modf(value, &ip);
	/* ip has magnitude below 2^52, so adding 1 is exact. */
	if (frac >= 0.5)
		return ip + 1.0;
	if (frac <= -0.5)
		return ip - 1.0;
	return ip;
}

} /* extern "C" */
