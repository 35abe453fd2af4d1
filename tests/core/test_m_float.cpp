#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/m_float.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/* Same value and, for zeros, the same sign. */
void expect_same(double got, double want, const char *what, double input)
{
	if (std::isnan(want)) {
		EXPECT_TRUE(std::isnan(got)) << what << " of " << input;
		return;
	}
	EXPECT_EQ(got, want) << what << " of " << input;
	EXPECT_EQ(std::signbit(got), std::signbit(want)) << what << " sign of " << input;
}

/* Values near the places where the splitting and rounding rules change. */
std::vector<double> edge_values()
{
	return {0.0,
	        -0.0,
	        0.5,
	        -0.5,
	        0.49999999999999994,
	        -0.49999999999999994,
	        1.0,
	        -1.0,
	        1.5,
	        -1.5,
	        2.5,
	        -2.5,
	        0.25,
	        1.005,
	        9.999,
	        123.456,
	        -123.456,
	        4503599627370495.5,
	        -4503599627370495.5,
	        4503599627370496.0,
	        4503599627370497.0,
	        9007199254740993.0,
	        1e300,
	        -1e300,
	        std::numeric_limits<double>::denorm_min(),
	        -std::numeric_limits<double>::denorm_min(),
	        std::numeric_limits<double>::min(),
	        std::numeric_limits<double>::max(),
	        std::nextafter(1.0, 0.0),
	        std::nextafter(1.0, 2.0),
	        kInf,
	        -kInf,
	        kNaN};
}

} /* namespace */

TEST(m_float, modf_splits_like_the_standard_function)
{
	for (const double v : edge_values()) {
		double       want_ip = 0;
		const double want_fr = std::modf(v, &want_ip);
		double       ip      = 12345;
		const double fr      = M_math_modf(v, &ip);
		expect_same(fr, want_fr, "fraction", v);
		expect_same(ip, want_ip, "integer part", v);
	}
}

TEST(m_float, modf_named_cases)
{
	double ip = 0;
	EXPECT_EQ(M_math_modf(3.75, &ip), 0.75);
	EXPECT_EQ(ip, 3.0);
	EXPECT_EQ(M_math_modf(-3.75, &ip), -0.75);
	EXPECT_EQ(ip, -3.0);
	/* Infinity: integer part infinity, zero fraction of the same sign. */
	EXPECT_EQ(M_math_modf(-kInf, &ip), 0.0);
	EXPECT_TRUE(std::signbit(M_math_modf(-kInf, &ip)));
	EXPECT_EQ(ip, -kInf);
	EXPECT_TRUE(std::isnan(M_math_modf(kNaN, &ip)));
	EXPECT_TRUE(std::isnan(ip));
	/* NULL integer part: only the fraction comes back. */
	EXPECT_EQ(M_math_modf(7.5, nullptr), 0.5);
}

TEST(m_float, round_halves_away_from_zero)
{
	struct Case {
		double in;
		double out;
	};
	const Case cases[] = {
	    {0.5, 1.0},
	    {-0.5, -1.0},
	    {2.5, 3.0},
	    {-2.5, -3.0},
	    {1.4999999999999998, 1.0},
	    {0.49999999999999994, 0.0}, /* the floor(x + 0.5) trap */
	    {-0.49999999999999994, -0.0},
	    {234.49999999999994, 234.0},
	    {234.50000000000003, 235.0},
	    {4503599627370495.5, 4503599627370496.0},
	    {4503599627370497.0, 4503599627370497.0}, /* 2^52 and up: unchanged */
	    {1e300, 1e300},
	    {-0.0, -0.0},
	    {kInf, kInf},
	    {-kInf, -kInf},
	};
	for (const Case &c : cases)
		expect_same(M_math_round(c.in), c.out, "round", c.in);
	EXPECT_TRUE(std::isnan(M_math_round(kNaN)));
}

TEST(m_float, generated_values_agree_with_the_standard_functions)
{
	std::mt19937_64                        rng(20261206);
	std::uniform_real_distribution<double> small(-1000.0, 1000.0);
	for (int i = 0; i < 20000; i++) {
		/* Mix values with short fractions (many exact halves) and raw bit
		 * patterns covering every exponent. */
		double v;
		if (i % 3 == 0)
			v = std::round(small(rng) * 4) / 4;
		else if (i % 3 == 1)
			v = small(rng);
		else
			v = std::bit_cast<double>(rng());
		expect_same(M_math_round(v), std::round(v), "round", v);
		double       want_ip = 0;
		double       ip      = 0;
		const double want_fr = std::modf(v, &want_ip);
		expect_same(M_math_modf(v, &ip), want_fr, "fraction", v);
		expect_same(ip, want_ip, "integer part", v);
		if (HasFailure())
			break;
	}
}
