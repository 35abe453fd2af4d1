#include "tests/test_util.h"

#include <bit>
#include <cmath>
#include <limits>

#include "core/m_float.h"

namespace {

/* Same value and, for zeros, the same sign; any NaN matches NaN. */
void expect_same(double got, double want, const char *what, double input)
{
	if (std::isnan(want)) {
		EXPECT_TRUE(std::isnan(got)) << what << " of " << input;
		return;
	}
	EXPECT_EQ(got, want) << what << " of " << input;
	EXPECT_EQ(std::signbit(got), std::signbit(want)) << what << " sign of " << input;
}

void expect_like_std(double v)
{
	expect_same(M_math_round(v), std::round(v), "round", v);
	double       want_ip = 0;
	double       ip      = 12345;
	const double want_fr = std::modf(v, &want_ip);
	expect_same(M_math_modf(v, &ip), want_fr, "fraction", v);
	expect_same(ip, want_ip, "integer part", v);
}

} /* namespace */

TEST(m_float, generated_values_agree_with_the_standard_functions)
{
	std::mt19937_64                        rng(20261206);
	std::uniform_real_distribution<double> small(-1000.0, 1000.0);
	/* Where the rules change: the floor(x + 0.5) trap, 2^52 and 2^53,
	 * subnormals, infinities, NaN. */
	using L = std::numeric_limits<double>;
	for (const double v : {0.49999999999999994, 4503599627370495.5, 4503599627370497.0, 9007199254740993.0,
	                       L::denorm_min(), L::max(), L::infinity(), L::quiet_NaN()}) {
		expect_like_std(v);
		expect_like_std(-v);
	}
	EXPECT_EQ(M_math_modf(7.5, nullptr), 0.5); /* NULL integer part: only the fraction */
	for (int i = 0; i < 20000 && !HasFailure(); i++) {
		/* Short fractions (many exact halves), plain values, and raw bit
		 * patterns covering every exponent. */
		const double v = i % 3 == 0   ? std::round(small(rng) * 4) / 4
		                 : i % 3 == 1 ? small(rng)
		                              : std::bit_cast<double>(rng());
		expect_like_std(v);
	}
}
