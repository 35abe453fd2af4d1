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

/* The model of round and modf from exact operations, not the runtime's (Windows'
 * rounds 0.49999999999999994 up, gives -4503599627370497 a fraction of +0): from
 * 2^52 on values are integers; below, the cast to int64_t truncates exactly. */
constexpr double kTwo52 = 4503599627370496.0;

double model_trunc(double v)
{
	return std::fabs(v) < kTwo52 ? std::copysign(static_cast<double>(static_cast<int64_t>(v)), v) : v;
}

double model_round(double v)
{
	if (!(std::fabs(v) < kTwo52))
		return v;
	const double t = model_trunc(v);
	return std::fabs(v - t) >= 0.5 ? std::copysign(std::fabs(t) + 1, v) : t;
}

void expect_like_model(double v)
{
	expect_same(M_math_round(v), model_round(v), "round", v);
	double       ip      = 12345;
	const double want_ip = std::isnan(v) ? v : model_trunc(v);
	expect_same(M_math_modf(v, &ip), std::isnan(v) ? v : std::copysign(std::isinf(v) ? 0.0 : v - want_ip, v),
	            "fraction", v);
	expect_same(ip, want_ip, "integer part", v);
}

} /* namespace */

TEST(m_float, generated_values_agree_with_the_model)
{
	std::mt19937_64                        rng(20261206);
	std::uniform_real_distribution<double> small(-1000.0, 1000.0);
	/* Where the rules change: the floor(x + 0.5) trap, 2^52 and 2^53,
	 * subnormals, infinities, NaN. */
	using L = std::numeric_limits<double>;
	for (const double v : {0.49999999999999994, 4503599627370495.5, 4503599627370497.0, 9007199254740993.0,
	                       L::denorm_min(), L::max(), L::infinity(), L::quiet_NaN()}) {
		expect_like_model(v);
		expect_like_model(-v);
	}
	/* The model itself at the traps, against known results. */
	for (const auto &[v, r] : {std::pair{0.49999999999999994, 0.0},
	                           {2.5, 3.0},
	                           {-2.5, -3.0},
	                           {4503599627370495.5, 4503599627370496.0},
	                           {-0.4, -0.0}}) {
		expect_same(model_round(v), r, "model round", v);
		expect_same(M_math_round(v), r, "round", v);
	}
	EXPECT_EQ(M_math_modf(7.5, nullptr), 0.5); /* NULL integer part: only the fraction */
	for (int i = 0; i < 20000 && !HasFailure(); i++) {
		/* Short fractions (many exact halves), plain values, and raw bit
		 * patterns covering every exponent. */
		const double v = i % 3 == 0   ? std::round(small(rng) * 4) / 4
		                 : i % 3 == 1 ? small(rng)
		                              : std::bit_cast<double>(rng());
		expect_like_model(v);
	}
}
