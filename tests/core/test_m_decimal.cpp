#include <gtest/gtest.h>

#include "core/m_decimal.h"
#include "tests/test_util.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>

/* The properties below check every operation against exact arithmetic done
 * here in 128-bit integers, with rounding written independently of the
 * library: round(|v| / 10^k) = (|v| + 5 * 10^(k-1)) / 10^k, sign restored. */

namespace {

__extension__ typedef __int128          i128;
__extension__ typedef unsigned __int128 u128;

M_decimal_t dec(int64_t num, uint8_t places)
{
	M_decimal_t d;
	d.num     = num;
	d.num_dec = places;
	return d;
}

std::string str(const M_decimal_t &d)
{
	char buf[300];
	if (M_decimal_to_str(&d, buf, sizeof(buf)) != M_DECIMAL_SUCCESS)
		return "<to_str failed>";
	return buf;
}

M_decimal_t parse(const char *s, M_decimal_retval_t *rv = nullptr, size_t *used = nullptr)
{
	M_decimal_t        d;
	const char        *end = nullptr;
	M_decimal_retval_t r   = M_decimal_from_str(s, std::strlen(s), &d, &end);
	if (rv != nullptr)
		*rv = r;
	if (used != nullptr)
		*used = static_cast<size_t>(end - s);
	return d;
}

u128 p10(int n)
{
	u128 v = 1;
	while (n-- > 0)
		v *= 10;
	return v;
}

u128 mag(i128 v)
{
	return v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v);
}

/* v / 10^k rounded half away from zero (k >= 0, 10^k fits). */
i128 round_div(i128 v, int k)
{
	if (k == 0)
		return v;
	u128 m = (mag(v) + 5 * p10(k - 1)) / p10(k);
	return v < 0 ? -static_cast<i128>(m) : static_cast<i128>(m);
}

bool fits64(i128 v)
{
	return v >= INT64_MIN && v <= INT64_MAX;
}

/* What the library must produce for the exact value v / 10^t (t <= 37):
 * the most places q <= t at which the rounded value fits, reduced; code 0
 * when nothing non-zero was dropped, 2 when rounded, 1 when even q = 0 does
 * not fit. */
struct Expect {
	M_decimal_retval_t rv;
	int64_t            num;
	int                places;
};

/* The value v / 10^t rounded to exactly q places (q <= t), reduced; or an
 * overflow when that does not fit. */
Expect expect_at(i128 v, int t, int q)
{
	i128 r = round_div(v, t - q);
	if (!fits64(r))
		return {M_DECIMAL_OVERFLOW, 0, 0};
	bool exact = r * static_cast<i128>(p10(t - q)) == v;
	int  pl    = q;
	if (r == 0)
		pl = 0;
	while (pl > 0 && r % 10 == 0) {
		r /= 10;
		pl--;
	}
	return {exact ? M_DECIMAL_SUCCESS : M_DECIMAL_TRUNCATION, static_cast<int64_t>(r), pl};
}

Expect expect_of(i128 v, int t)
{
	for (int q = t; q >= 0; q--) {
		Expect e = expect_at(v, t, q);
		if (e.rv != M_DECIMAL_OVERFLOW)
			return e;
	}
	return {M_DECIMAL_OVERFLOW, 0, 0};
}

/* The alignment's places for two operands: both reduced, the larger place
 * count, lowered while the operand with fewer places does not fit 64 bits
 * when scaled to it. */
int align_of(M_decimal_t a, M_decimal_t b)
{
	M_decimal_reduce(&a);
	M_decimal_reduce(&b);
	if (a.num_dec < b.num_dec)
		std::swap(a, b);
	if (b.num == 0)
		return a.num_dec; /* 0 fits at any places */
	for (int t = a.num_dec; t > b.num_dec; t--) {
		i128 y = 0;
		if (t - b.num_dec <= 20 &&
		    !__builtin_mul_overflow(static_cast<i128>(b.num), static_cast<i128>(p10(t - b.num_dec)), &y) && fits64(y))
			return t;
	}
	return b.num_dec;
}

/* What add and subtract must give for the exact result v / 10^t of a and b:
 * the exact value whenever it can be held; otherwise the value rounded to
 * the alignment's places, or an overflow when it does not fit there. */
Expect expect_sum(i128 v, int t, const M_decimal_t &a, const M_decimal_t &b)
{
	Expect e = expect_of(v, t);
	if (e.rv == M_DECIMAL_SUCCESS)
		return e;
	int ta = align_of(a, b);
	return expect_at(v, t, ta < t ? ta : t);
}

/* Random values with every digit count from 0 to 19 equally likely, both
 * signs, the extremes now and then, and 0 to max_places places. */
struct Gen {
	std::mt19937_64 rng{0x5eed1234u};

	int64_t num()
	{
		switch (rng() % 16) {
			case 0:
				return INT64_MIN;
			case 1:
				return INT64_MAX;
			case 2:
				return 0;
			default:
				break;
		}
		int      digits = static_cast<int>(rng() % 20);
		uint64_t m      = digits == 0 ? 0 : rng() % static_cast<uint64_t>(p10(digits));
		if (digits == 19)
			m = rng() % (static_cast<uint64_t>(INT64_MAX) + 1);
		return (rng() & 1) ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
	}

	M_decimal_t value(int max_places)
	{
		return dec(num(), static_cast<uint8_t>(rng() % static_cast<uint64_t>(max_places + 1)));
	}
};

i128 scaled(const M_decimal_t &d, int t)
{
	return static_cast<i128>(d.num) * static_cast<i128>(p10(t - d.num_dec));
}

void check_expect(const Expect &e, M_decimal_retval_t rv, const M_decimal_t &r, const std::string &what)
{
	ASSERT_EQ(rv, e.rv) << what;
	if (rv == M_DECIMAL_OVERFLOW)
		return;
	EXPECT_EQ(r.num, e.num) << what;
	EXPECT_EQ(r.num_dec, e.places) << what;
}

std::string show(const M_decimal_t &a, const M_decimal_t &b)
{
	return std::to_string(a.num) + "e-" + std::to_string(a.num_dec) + " , " + std::to_string(b.num) + "e-" +
	       std::to_string(b.num_dec);
}

} // namespace

/* ----- building and taking apart --------------------------------------- */

TEST(m_decimal, create_from_int_reduce)
{
	M_decimal_t d = dec(99, 9);
	M_decimal_create(&d);
	EXPECT_EQ(d.num, 0);
	EXPECT_EQ(d.num_dec, 0);

	M_decimal_from_int(&d, 1500, 2);
	EXPECT_EQ(d.num, 15);
	EXPECT_EQ(d.num_dec, 0);
	M_decimal_from_int(&d, -1230, 3);
	EXPECT_EQ(d.num, -123);
	EXPECT_EQ(d.num_dec, 2);
	M_decimal_from_int(&d, 0, 7);
	EXPECT_EQ(d.num, 0);
	EXPECT_EQ(d.num_dec, 0);
	M_decimal_from_int(&d, INT64_MIN, 255);
	EXPECT_EQ(d.num, INT64_MIN);
	EXPECT_EQ(d.num_dec, 255);

	d = dec(-1000, 2);
	M_decimal_reduce(&d);
	EXPECT_EQ(d.num, -10);
	EXPECT_EQ(d.num_dec, 0);
	d = dec(1000, 0); /* no places to drop: stays as it is */
	M_decimal_reduce(&d);
	EXPECT_EQ(d.num, 1000);
	EXPECT_EQ(M_decimal_num_decimals(&d), 0);
	d = dec(12, 5);
	EXPECT_EQ(M_decimal_num_decimals(&d), 5);

	M_decimal_t copy = dec(1, 1);
	M_decimal_duplicate(&copy, &d);
	EXPECT_EQ(copy.num, 12);
	EXPECT_EQ(copy.num_dec, 5);
	M_decimal_duplicate(&copy, nullptr);
	EXPECT_EQ(copy.num, 0);
	EXPECT_EQ(copy.num_dec, 0);
}

TEST(m_decimal, null_arguments)
{
	M_decimal_create(nullptr);
	M_decimal_from_int(nullptr, 5, 1);
	M_decimal_reduce(nullptr);
	M_decimal_duplicate(nullptr, nullptr);
	EXPECT_EQ(M_decimal_to_int(nullptr, 2), 0);
	EXPECT_EQ(M_decimal_num_decimals(nullptr), 0);
	EXPECT_EQ(M_decimal_transform(nullptr, 2), M_DECIMAL_INVALID);

	M_decimal_t a = dec(15, 1);
	M_decimal_t r = dec(7, 7);
	EXPECT_EQ(M_decimal_add(nullptr, &a, &a), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_add(&r, nullptr, &a), M_DECIMAL_INVALID);
	EXPECT_EQ(r.num, 0);
	r = dec(7, 7);
	EXPECT_EQ(M_decimal_subtract(&r, &a, nullptr), M_DECIMAL_INVALID);
	EXPECT_EQ(r.num, 0);
	EXPECT_EQ(M_decimal_multiply(&r, nullptr, nullptr), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_divide(&r, &a, nullptr), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_divide(nullptr, &a, &a), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_divide(&r, nullptr, &a), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_multiply(nullptr, &a, &a), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_subtract(nullptr, &a, &a), M_DECIMAL_INVALID);

	EXPECT_EQ(M_decimal_cmp(nullptr, nullptr), 0);
	EXPECT_EQ(M_decimal_cmp(nullptr, &a), -1);
	EXPECT_EQ(M_decimal_cmp(&a, nullptr), 1);

	const char *end = "x";
	EXPECT_EQ(M_decimal_from_str(nullptr, 3, &r, &end), M_DECIMAL_INVALID);
	EXPECT_EQ(end, nullptr);
	EXPECT_EQ(M_decimal_from_str("12", 2, nullptr, nullptr), M_DECIMAL_INVALID);
	EXPECT_EQ(M_decimal_from_str("12", 0, &r, nullptr), M_DECIMAL_INVALID);

	char buf[8] = "abcdefg";
	EXPECT_EQ(M_decimal_to_str(nullptr, buf, sizeof(buf)), M_DECIMAL_INVALID);
	EXPECT_EQ(buf[0], '\0');
	EXPECT_EQ(M_decimal_to_str(&a, nullptr, 8), M_DECIMAL_INVALID);
	buf[0] = 'z';
	EXPECT_EQ(M_decimal_to_str(&a, buf, 0), M_DECIMAL_INVALID);
	EXPECT_EQ(buf[0], 'z'); /* len 0: nothing may be written */
}

TEST(m_decimal, to_int)
{
	M_decimal_t d = dec(15, 1);
	EXPECT_EQ(M_decimal_to_int(&d, 2), 150);
	EXPECT_EQ(M_decimal_to_int(&d, 0), 2);
	d = dec(-15, 1);
	EXPECT_EQ(M_decimal_to_int(&d, 0), -2); /* magnitude rounds like 1.5 */
	d = dec(125, 2);
	EXPECT_EQ(M_decimal_to_int(&d, 1), 13);
	d = dec(-125, 2);
	EXPECT_EQ(M_decimal_to_int(&d, 1), -13);
	d = dec(-124, 2);
	EXPECT_EQ(M_decimal_to_int(&d, 1), -12);
	d = dec(INT64_MAX, 0);
	EXPECT_EQ(M_decimal_to_int(&d, 1), 0);    /* scaling overflows */
	EXPECT_EQ(M_decimal_num_decimals(&d), 0); /* the argument is untouched */
}

/* ----- rescaling --------------------------------------------------------- */

TEST(m_decimal, transform_table)
{
	struct Case {
		int64_t            num;
		uint8_t            places;
		uint8_t            to;
		int64_t            want;
		M_decimal_retval_t rv;
	};
	const Case cases[] = {
	    {125, 2, 1, 13, M_DECIMAL_TRUNCATION},   /* 1.25 -> 1.3 */
	    {-125, 2, 1, -13, M_DECIMAL_TRUNCATION}, /* -1.25 -> -1.3, not -1.2 */
	    {124, 2, 1, 12, M_DECIMAL_TRUNCATION},
	    {-124, 2, 1, -12, M_DECIMAL_TRUNCATION},
	    {-149, 2, 0, -1, M_DECIMAL_TRUNCATION},
	    {-150, 2, 0, -2, M_DECIMAL_TRUNCATION}, /* 150 not a multiple of 100 */
	    {-200, 2, 0, -2, M_DECIMAL_SUCCESS},
	    {12, 1, 3, 1200, M_DECIMAL_SUCCESS}, /* 1.2 -> 1.200, not reduced */
	    {0, 0, 200, 0, M_DECIMAL_SUCCESS},   /* zero only changes places */
	    {7, 3, 3, 7, M_DECIMAL_SUCCESS},
	    {INT64_MAX, 0, 1, INT64_MAX, M_DECIMAL_OVERFLOW},
	    {1, 0, 19, 1, M_DECIMAL_OVERFLOW},
	    {1, 0, 18, 1000000000000000000LL, M_DECIMAL_SUCCESS},
	    {-922337203685477580LL, 0, 1, -9223372036854775800LL, M_DECIMAL_SUCCESS},
	    {INT64_MIN, 0, 0, INT64_MIN, M_DECIMAL_SUCCESS},
	    {INT64_MIN, 3, 0, -9223372036854776LL, M_DECIMAL_TRUNCATION},
	    {INT64_MIN, 19, 0, -1, M_DECIMAL_TRUNCATION}, /* -0.92... -> -1 */
	    {4999999999999999999LL, 19, 0, 0, M_DECIMAL_TRUNCATION},
	    {5000000000000000000LL, 19, 0, 1, M_DECIMAL_TRUNCATION},
	    {INT64_MAX, 20, 0, 0, M_DECIMAL_TRUNCATION}, /* 0.09... */
	    {INT64_MAX, 255, 0, 0, M_DECIMAL_TRUNCATION},
	    {95, 1, 0, 10, M_DECIMAL_TRUNCATION},
	};
	for (const Case &c : cases) {
		M_decimal_t d = dec(c.num, c.places);
		SCOPED_TRACE(std::to_string(c.num) + " places " + std::to_string(c.places) + " to " + std::to_string(c.to));
		EXPECT_EQ(M_decimal_transform(&d, c.to), c.rv);
		if (c.rv == M_DECIMAL_OVERFLOW) {
			EXPECT_EQ(d.num, c.num); /* unchanged on overflow */
			EXPECT_EQ(d.num_dec, c.places);
		} else {
			EXPECT_EQ(d.num, c.want);
			EXPECT_EQ(d.num_dec, c.to);
		}
	}
}

TEST(m_decimal, transform_property)
{
	Gen gen;
	for (int i = 0; i < 20000; i++) {
		M_decimal_t d  = gen.value(18);
		const int   to = static_cast<int>(gen.rng() % 37);
		M_decimal_t r  = d;
		auto        rv = M_decimal_transform(&r, static_cast<uint8_t>(to));
		SCOPED_TRACE(std::to_string(d.num) + " places " + std::to_string(d.num_dec) + " to " + std::to_string(to));
		if (to >= d.num_dec) {
			i128 want = 0;
			bool overflow =
			    __builtin_mul_overflow(static_cast<i128>(d.num), static_cast<i128>(p10(to - d.num_dec)), &want);
			if (!overflow && fits64(want)) {
				ASSERT_EQ(rv, M_DECIMAL_SUCCESS);
				EXPECT_EQ(r.num, static_cast<int64_t>(want));
			} else {
				ASSERT_EQ(rv, M_DECIMAL_OVERFLOW);
				EXPECT_EQ(r.num, d.num);
			}
		} else {
			i128 want  = round_div(d.num, d.num_dec - to);
			bool exact = want * static_cast<i128>(p10(d.num_dec - to)) == d.num;
			ASSERT_EQ(rv, exact ? M_DECIMAL_SUCCESS : M_DECIMAL_TRUNCATION);
			EXPECT_EQ(r.num, static_cast<int64_t>(want));
		}
		if (rv != M_DECIMAL_OVERFLOW) {
			EXPECT_EQ(r.num_dec, to);
		}
	}
}

/* ----- arithmetic: listed cases ------------------------------------------ */

TEST(m_decimal, add_subtract_cases)
{
	M_decimal_t a = parse("0.1");
	M_decimal_t b = parse("0.25");
	M_decimal_t r;
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "0.35");
	EXPECT_EQ(M_decimal_subtract(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "-0.15");

	/* Results are reduced. */
	a = parse("0.75");
	b = parse("0.25");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(r.num, 1);
	EXPECT_EQ(r.num_dec, 0);

	/* dest may be an operand. */
	a = parse("1.5");
	EXPECT_EQ(M_decimal_add(&a, &a, &a), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(a), "3");

	/* A sum whose aligned integers overflow but whose value fits is exact:
	 * 500000000000000000.5 + 500000000000000000.5 = 1000000000000000001. */
	a = dec(5000000000000000005LL, 1);
	EXPECT_EQ(M_decimal_add(&r, &a, &a), M_DECIMAL_SUCCESS);
	EXPECT_EQ(r.num, 1000000000000000001LL);
	EXPECT_EQ(r.num_dec, 0);

	/* Places are given up rather than overflow. */
	a = dec(9000000000000000000LL, 0);
	b = parse("0.5");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 9000000000000000001LL);
	b = parse("-0.5");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 9000000000000000000LL); /* 8999999999999999999.5 rounds away from zero */
	b = parse("0.49");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 9000000000000000000LL);

	/* Overflow. */
	a = dec(INT64_MAX, 0);
	b = dec(1, 0);
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_OVERFLOW);
	EXPECT_EQ(r.num, 0);
	a = dec(INT64_MIN, 0);
	EXPECT_EQ(M_decimal_subtract(&r, &a, &b), M_DECIMAL_OVERFLOW);
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(r.num, INT64_MIN + 1);
	/* 0 - INT64_MIN is 2^63: one place too many for 64 bits. */
	b = dec(0, 0);
	EXPECT_EQ(M_decimal_subtract(&r, &b, &a), M_DECIMAL_OVERFLOW);
	/* A sum that does not fit at the aligned places overflows; it does not
	 * give up a place of its own. */
	a = dec(INT64_MIN, 1);
	r = dec(7, 7);
	EXPECT_EQ(M_decimal_subtract(&r, &b, &a), M_DECIMAL_OVERFLOW); /* 922337203685477580.8 */
	EXPECT_EQ(r.num, 0);
	EXPECT_EQ(r.num_dec, 0);
	a = dec(INT64_MAX, 2);
	b = dec(1, 2);
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_OVERFLOW);
	a = parse("922337203685477580.7");
	b = parse("0.1");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_OVERFLOW);
	b = parse("-0.1");
	EXPECT_EQ(M_decimal_subtract(&r, &a, &b), M_DECIMAL_OVERFLOW);
	a = parse("-922337203685477580.8");
	b = parse("0.1");
	EXPECT_EQ(M_decimal_subtract(&r, &a, &b), M_DECIMAL_OVERFLOW);
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "-922337203685477580.7");

	/* Alignment gives up the places the integer operand cannot be held at,
	 * rounding the sum once: 900000000000000000 at 2 places overflows, so
	 * 900000000000000000 + 0.25 is rounded to 1 place. */
	a = dec(900000000000000000LL, 0);
	b = parse("0.25");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "900000000000000000.3");
	b = parse("-0.25");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "899999999999999999.8"); /* .75 rounds away from zero */
	a = dec(-900000000000000000LL, 0);
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "-900000000000000000.3");

	/* But a sum that can be held exactly is exact even when the operands
	 * cannot be aligned at its places: -922337203685477581 does not fit at
	 * 1 place, yet the sum -0.3 does. */
	a = dec(-922337203685477581LL, 0);
	b = parse("922337203685477580.7");
	EXPECT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "-0.3");
}

TEST(m_decimal, add_far_apart_places)
{
	/* Operands whose places differ by more than 19: the small one is below a
	 * unit of the large one's last place and only decides rounding. */
	M_decimal_t big  = dec(1, 0);
	M_decimal_t tiny = dec(5, 30); /* 5e-30 */
	M_decimal_t r;
	EXPECT_EQ(M_decimal_add(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 1);
	EXPECT_EQ(r.num_dec, 0);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	/* 1 - 5e-30 = 0.99999...95 at 19 places rounds to 1.0 */
	EXPECT_EQ(r.num, 1);
	EXPECT_EQ(r.num_dec, 0);

	/* 0.5 at 19 places past 1: 1 + 0.00000000000000000005 (20 places).
	 * Not representable (21 digits); 1.0000000000000000001 with 19 places
	 * has 20 digits, too many, so 18 places: 1.000000000000000000 -> 1. */
	tiny = dec(5, 20);
	EXPECT_EQ(M_decimal_add(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "1");

	/* A case where the far operand's remainder sits exactly on a half after
	 * the cut: 2 - 5e-22 at 19 places is 1.9999999999999999999|9995 ->
	 * 18 places fit: 1.999999999999999999|99999995 -> rounds to 2. */
	big  = dec(2, 0);
	tiny = dec(5, 22);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "2");

	/* 0.1 (1 place) minus 5e-21: 0.0999999999999999999|995 at 19 places
	 * (18 significant digits fit) -> 0.1 after rounding. */
	big  = dec(1, 1);
	tiny = dec(5, 21);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");
	/* 0.1 - 6e-21 = 0.099999999999999999994: 20 places would need 19 nines
	 * (too many), so 19 places, where the next digit 9 rounds up to 0.1. */
	tiny = dec(6, 21);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");
	EXPECT_EQ(M_decimal_add(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");

	/* Ties at the 20th place: 0.1 - 5e-20 = 0.0999999999999999999|5 rounds
	 * up in magnitude to 0.1 (places 19 apart: aligned exactly). */
	tiny = dec(5, 20);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");
	/* Just below the tie: 0.1 - 5.1e-20 = 0.0999999999999999999|49. */
	tiny = dec(51, 21);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.0999999999999999999");
	/* Just above it: 0.1 - 4.9e-20 = 0.0999999999999999999|51. */
	tiny = dec(49, 21);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &tiny), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");
	/* The far operand's remainder beyond the cut decides a near-tie: 0.1
	 * minus 5.000000000000000001e-20 (38 places) lies just below the tie,
	 * 0.1 minus 4.999999999999999999e-20 just above it. */
	M_decimal_t far = dec(5000000000000000001LL, 38);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &far), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.0999999999999999999");
	far = dec(4999999999999999999LL, 38);
	EXPECT_EQ(M_decimal_subtract(&r, &big, &far), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");
	far = dec(-4999999999999999999LL, 38); /* the same through add, and mirrored */
	EXPECT_EQ(M_decimal_add(&r, &big, &far), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "0.1");
	M_decimal_t nbig1 = dec(-1, 1);
	far               = dec(5000000000000000001LL, 38);
	EXPECT_EQ(M_decimal_add(&r, &nbig1, &far), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "-0.0999999999999999999");
	/* Same signs: 1.2345 + 7e-25 keeps 1.2345. */
	M_decimal_t v = dec(12345, 4);
	far           = dec(7, 25);
	EXPECT_EQ(M_decimal_add(&r, &v, &far), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(str(r), "1.2345");

	/* Far operands are also compared exactly. */
	EXPECT_EQ(M_decimal_cmp(&big, &tiny), 1);
	M_decimal_t ntiny = dec(-49, 200);
	M_decimal_t nbig  = dec(-1, 0);
	EXPECT_EQ(M_decimal_cmp(&nbig, &ntiny), -1);
	EXPECT_EQ(M_decimal_cmp(&ntiny, &nbig), 1);
	EXPECT_EQ(M_decimal_cmp(&ntiny, &tiny), -1);
}

TEST(m_decimal, multiply_cases)
{
	M_decimal_t a = parse("1.5");
	M_decimal_t b = parse("-0.2");
	M_decimal_t r;
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "-0.3");

	/* The product integer 9223372037000250000 exceeds 64 bits, but the
	 * reduced value fits: exact. */
	a = dec(3037000500LL, 5); /* 30370.005 */
	b = dec(3037000500LL, 5);
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "922337203.700025");

	/* Too many places: 1e-200 squared rounds to 0. */
	a = dec(1, 200);
	EXPECT_EQ(M_decimal_multiply(&r, &a, &a), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 0);
	EXPECT_EQ(r.num_dec, 0);
	/* 5e-128 squared is 2.5e-255 (26 at 256 places) -> 3e-255. */
	a = dec(5, 128);
	EXPECT_EQ(M_decimal_multiply(&r, &a, &a), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 3);
	EXPECT_EQ(r.num_dec, 255);

	/* A product that fits is exact even when the operands aligned at 3
	 * places would overflow: no digit of the integer part is lost. */
	a = parse("123456789.123");
	b = parse("1000000");
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(r), "123456789123000");
	/* Rounded once on the exact product: 0.5 * INT64_MAX is
	 * 4611686018427387903.5, not INT64_MAX (0.5 rounded to 1 first). */
	a = parse("0.5");
	b = dec(INT64_MAX, 0);
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, 4611686018427387904LL);
	EXPECT_EQ(r.num_dec, 0);
	a = parse("-0.5");
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(r.num, -4611686018427387904LL);
	a = parse("2.5");
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_OVERFLOW);
	EXPECT_EQ(r.num, 0);

	a = dec(INT64_MIN, 0);
	b = dec(-1, 0);
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_OVERFLOW);
	b = dec(1, 0);
	EXPECT_EQ(M_decimal_multiply(&r, &a, &b), M_DECIMAL_SUCCESS);
	EXPECT_EQ(r.num, INT64_MIN);
}

TEST(m_decimal, divide_cases)
{
	struct Case {
		const char        *a;
		const char        *b;
		const char        *want;
		M_decimal_retval_t rv;
	};
	const Case cases[] = {
	    {"1", "8", "0.125", M_DECIMAL_SUCCESS},
	    {"1", "3", "0.3333333333333333333", M_DECIMAL_TRUNCATION},
	    {"2", "-3", "-0.6666666666666666667", M_DECIMAL_TRUNCATION},
	    {"-2", "3", "-0.6666666666666666667", M_DECIMAL_TRUNCATION},
	    {"-2", "-3", "0.6666666666666666667", M_DECIMAL_TRUNCATION},
	    {"10", "4", "2.5", M_DECIMAL_SUCCESS},
	    {"1.5", "0.05", "30", M_DECIMAL_SUCCESS},
	    {"1", "0.001", "1000", M_DECIMAL_SUCCESS},
	    {"0", "7", "0", M_DECIMAL_SUCCESS},
	    {"1", "9223372036854775807", "0.0000000000000000001084202172485504434", M_DECIMAL_TRUNCATION},
	    {"9223372036854775807", "1", "9223372036854775807", M_DECIMAL_SUCCESS},
	    {"9223372036854775807", "2", "4611686018427387904", M_DECIMAL_TRUNCATION},
	    {"-9223372036854775808", "1", "-9223372036854775808", M_DECIMAL_SUCCESS},
	    {"-9223372036854775808", "-1", "", M_DECIMAL_OVERFLOW},
	    /* 922337203685477580.8 needs 2^63 at 1 place: one more than fits
		 * above zero, while its negation fits. */
	    {"-922337203685477580.8", "-1", "922337203685477581", M_DECIMAL_TRUNCATION},
	    {"-922337203685477580.8", "1", "-922337203685477580.8", M_DECIMAL_SUCCESS},
	    {"-92233720368547758.08", "-0.1", "922337203685477581", M_DECIMAL_TRUNCATION},
	    {"1000000000000000000", "0.001", "", M_DECIMAL_OVERFLOW},
	    {"1000000000000000000", "0.1", "", M_DECIMAL_OVERFLOW},
	    {"100000000000000000", "0.1", "1000000000000000000", M_DECIMAL_SUCCESS},
	    {"1", "0", "", M_DECIMAL_INVALID},
	    {"0", "0", "", M_DECIMAL_INVALID},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(std::string(c.a) + " / " + c.b);
		M_decimal_t        a  = parse(c.a);
		M_decimal_t        b  = parse(c.b);
		M_decimal_t        r  = dec(5, 5);
		M_decimal_retval_t rv = M_decimal_divide(&r, &a, &b);
		EXPECT_EQ(rv, c.rv);
		if (c.rv == M_DECIMAL_SUCCESS || c.rv == M_DECIMAL_TRUNCATION) {
			EXPECT_EQ(str(r), c.want);
		} else {
			EXPECT_EQ(r.num, 0);
		}
	}
}

/* ----- arithmetic: properties against exact 128-bit results ------------- */

TEST(m_decimal, add_subtract_property)
{
	Gen gen;
	for (int i = 0; i < 40000; i++) {
		M_decimal_t a = gen.value(18);
		M_decimal_t b = gen.value(18);
		int         t = a.num_dec > b.num_dec ? a.num_dec : b.num_dec;
		M_decimal_t r;
		SCOPED_TRACE(show(a, b));

		auto rv = M_decimal_add(&r, &a, &b);
		check_expect(expect_sum(scaled(a, t) + scaled(b, t), t, a, b), rv, r, "add");
		rv = M_decimal_subtract(&r, &a, &b);
		check_expect(expect_sum(scaled(a, t) - scaled(b, t), t, a, b), rv, r, "subtract");
		if (::testing::Test::HasFatalFailure())
			return;
	}
}

TEST(m_decimal, add_property_small_values_are_exact)
{
	/* Amounts of everyday size never lose anything. */
	Gen gen;
	for (int i = 0; i < 20000; i++) {
		M_decimal_t a =
		    dec(static_cast<int64_t>(gen.rng() % 2000000001) - 1000000000, static_cast<uint8_t>(gen.rng() % 7));
		M_decimal_t b =
		    dec(static_cast<int64_t>(gen.rng() % 2000000001) - 1000000000, static_cast<uint8_t>(gen.rng() % 7));
		M_decimal_t r;
		ASSERT_EQ(M_decimal_add(&r, &a, &b), M_DECIMAL_SUCCESS) << show(a, b);
		ASSERT_EQ(M_decimal_subtract(&r, &r, &b), M_DECIMAL_SUCCESS) << show(a, b);
		ASSERT_EQ(M_decimal_cmp(&r, &a), 0) << show(a, b);
	}
}

TEST(m_decimal, multiply_property)
{
	Gen gen;
	for (int i = 0; i < 40000; i++) {
		M_decimal_t a = gen.value(18);
		M_decimal_t b = gen.value(18);
		M_decimal_t r;
		SCOPED_TRACE(show(a, b));
		auto rv = M_decimal_multiply(&r, &a, &b);
		check_expect(expect_of(static_cast<i128>(a.num) * b.num, a.num_dec + b.num_dec), rv, r, "multiply");
		if (::testing::Test::HasFatalFailure())
			return;
	}
}

TEST(m_decimal, divide_property)
{
	/* For r = a / b at P places: r is a / b rounded half away from zero at P
	 * places, exact exactly when the code says so, and P is the most places
	 * that fit (or the division is exact, or P is 255). All checked in
	 * 128 bits as |a| * 10^(P - e) against |r| * |b| with e = a.places -
	 * b.places. */
	Gen gen;
	int checked = 0;
	for (int i = 0; i < 40000; i++) {
		M_decimal_t a = gen.value(18);
		M_decimal_t b = gen.value(18);
		if (b.num == 0)
			continue;
		M_decimal_t r;
		SCOPED_TRACE(show(a, b));
		auto       rv = M_decimal_divide(&r, &a, &b);
		const u128 A  = mag(a.num);
		const u128 B  = mag(b.num);
		const int  e  = a.num_dec - b.num_dec;
		if (rv == M_DECIMAL_OVERFLOW) {
			/* The integer part of the quotient does not fit. */
			const bool neg   = (a.num < 0) != (b.num < 0);
			const u128 limit = neg ? (static_cast<u128>(1) << 63) : (static_cast<u128>(1) << 63) - 1;
			ASSERT_LT(e, 19);
			/* round(A / B * 10^-e) > limit, i.e. 2A*10^-e >= (2 limit + 1) B */
			u128 lhs = 2 * A;
			u128 rhs = (2 * limit + 1) * B;
			if (e <= 0)
				lhs *= p10(-e);
			else
				rhs *= p10(e);
			ASSERT_GE(lhs, rhs);
			continue;
		}
		ASSERT_TRUE(rv == M_DECIMAL_SUCCESS || rv == M_DECIMAL_TRUNCATION) << rv;
		const int  P = r.num_dec;
		const u128 R = mag(r.num);
		if (r.num != 0) {
			ASSERT_EQ(r.num < 0, (a.num < 0) != (b.num < 0));
		}
		/* num = A * 10^(P-e), den = B, compared with R. */
		u128 num = A;
		u128 den = B;
		int  k   = P - e;
		if (k >= 0) {
			if (k > 38 || (A != 0 && A > (~static_cast<u128>(0) / 4) / p10(k)))
				continue; /* beyond what this oracle computes */
			num *= p10(k);
		} else {
			den *= p10(-k);
		}
		if (R > (~static_cast<u128>(0) / 4) / den)
			continue;
		checked++;
		const u128 RB   = R * den;
		const u128 diff = num > RB ? num - RB : RB - num;
		if (rv == M_DECIMAL_SUCCESS) {
			ASSERT_EQ(diff, 0u);
		} else {
			ASSERT_NE(diff, 0u);
			/* Correct rounding: |num/den - R| <= 1/2, ties away from zero. */
			ASSERT_LE(2 * diff, den);
			if (2 * diff == den) {
				ASSERT_GT(RB, num);
			}
			/* Maximal places: scale R up over the zeros that reduction
			 * removed (to the most places it fits at, P2), then one place
			 * more must not fit: the exact quotient times 10^(P2 + 1) is
			 * at least limit + 1/2, i.e. 2 A 10^(P2+1-e) >= (2 limit + 1) B. */
			const bool neg   = (a.num < 0) != (b.num < 0);
			const u128 limit = neg ? (static_cast<u128>(1) << 63) : (static_cast<u128>(1) << 63) - 1;
			u128       R2    = R;
			int        P2    = P;
			while (R2 * 10 <= limit) {
				R2 *= 10;
				P2++;
			}
			if (P2 < 255) {
				u128      lhs = 2 * A;
				u128      rhs = 2 * limit + 1;
				const int k2  = P2 + 1 - e;
				bool      ok  = true;
				if (k2 >= 0) {
					ok = k2 <= 38 && !__builtin_mul_overflow(lhs, p10(k2), &lhs) &&
					     !__builtin_mul_overflow(rhs, B, &rhs);
				} else {
					u128 t = 0;
					ok = -k2 <= 38 && !__builtin_mul_overflow(B, p10(-k2), &t) && !__builtin_mul_overflow(rhs, t, &rhs);
				}
				if (ok) {
					ASSERT_GE(lhs, rhs) << "P2 " << P2;
				}
			}
		}
		if (P > 0) {
			ASSERT_NE(r.num % 10, 0); /* reduced */
		}
	}
	EXPECT_GT(checked, 20000);
}

/* An oracle without the 128-bit limit: magnitudes as decimal digit strings
 * at a common scale, for operands whose places lie far apart (up to 255)
 * and products with more than 255 places. */
namespace {

std::string digits_of(u128 v)
{
	std::string s;
	while (v != 0) {
		s.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
		v /= 10;
	}
	return std::string(s.rbegin(), s.rend()); /* "" is 0 */
}

std::string strip(std::string s)
{
	size_t i = 0;
	while (i < s.size() && s[i] == '0')
		i++;
	return s.substr(i);
}

int cmp_mag(const std::string &a, const std::string &b)
{
	if (a.size() != b.size())
		return a.size() < b.size() ? -1 : 1;
	return a < b ? -1 : (a > b ? 1 : 0);
}

std::string add_mag(const std::string &a, const std::string &b)
{
	std::string r;
	int         carry = 0;
	for (size_t i = 0; i < a.size() || i < b.size() || carry; i++) {
		int d = carry;
		if (i < a.size())
			d += a[a.size() - 1 - i] - '0';
		if (i < b.size())
			d += b[b.size() - 1 - i] - '0';
		r.push_back(static_cast<char>('0' + d % 10));
		carry = d / 10;
	}
	return strip(std::string(r.rbegin(), r.rend()));
}

std::string sub_mag(const std::string &a, const std::string &b) /* a >= b */
{
	std::string r;
	int         borrow = 0;
	for (size_t i = 0; i < a.size(); i++) {
		int d = a[a.size() - 1 - i] - '0' - borrow;
		if (i < b.size())
			d -= b[b.size() - 1 - i] - '0';
		borrow = d < 0;
		r.push_back(static_cast<char>('0' + (d + 10) % 10));
	}
	return strip(std::string(r.rbegin(), r.rend()));
}

/* Magnitude of d at scale places. */
std::string at_scale(const M_decimal_t &d, int scale)
{
	std::string m = digits_of(mag(d.num));
	return m.empty() ? m : m + std::string(static_cast<size_t>(scale - d.num_dec), '0');
}

/* The exact value (neg, m / 10^scale) rounded to exactly P places. */
Expect fit_at(bool neg, const std::string &m, int scale, int P)
{
	const std::string limit  = neg ? "9223372036854775808" : "9223372036854775807";
	const size_t      drop   = static_cast<size_t>(scale - P);
	std::string       prefix = m.size() > drop ? m.substr(0, m.size() - drop) : "";
	std::string       gone   = m.size() > drop ? m.substr(m.size() - drop) : std::string(drop - m.size(), '0') + m;
	if (!gone.empty() && gone[0] >= '5')
		prefix = add_mag(prefix, "1");
	prefix = strip(prefix);
	if (cmp_mag(prefix, limit) > 0)
		return {M_DECIMAL_OVERFLOW, 0, 0};
	const bool exact = gone.find_first_not_of('0') == std::string::npos;
	u128       v     = 0;
	for (char c : prefix)
		v = v * 10 + static_cast<u128>(c - '0');
	int pl = v == 0 ? 0 : P;
	while (pl > 0 && v % 10 == 0) {
		v /= 10;
		pl--;
	}
	const int64_t num = neg ? static_cast<int64_t>(0 - static_cast<uint64_t>(v)) : static_cast<int64_t>(v);
	return {exact ? M_DECIMAL_SUCCESS : M_DECIMAL_TRUNCATION, num, pl};
}

/* The expectation for the exact value (neg, m / 10^scale) at the most
 * places (up to 255) that fit. */
Expect best_fit(bool neg, const std::string &m, int scale)
{
	/* A prefix of more than 19 digits never fits: start below that. */
	int top = scale < 255 ? scale : 255;
	if (scale - static_cast<int>(m.size()) + 19 < top)
		top = scale - static_cast<int>(m.size()) + 19;
	for (int P = top; P >= 0; P--) {
		Expect e = fit_at(neg, m, scale, P);
		if (e.rv != M_DECIMAL_OVERFLOW)
			return e;
	}
	return {M_DECIMAL_OVERFLOW, 0, 0};
}

/* The expectation for a sum: exact when it can be held, else rounded to
 * the alignment's places (or an overflow there). */
Expect sum_fit(bool neg, const std::string &m, int scale, const M_decimal_t &a, const M_decimal_t &b)
{
	Expect e = best_fit(neg, m, scale);
	if (e.rv == M_DECIMAL_SUCCESS)
		return e;
	int ta = align_of(a, b);
	return fit_at(neg, m, scale, ta < scale ? ta : scale);
}

/* a + sign * b exactly, as (neg, magnitude) at scale. */
std::pair<bool, std::string> big_sum(const M_decimal_t &a, const M_decimal_t &b, bool subtract, int scale)
{
	const bool  an = a.num < 0;
	const bool  bn = (b.num < 0) != subtract && b.num != 0;
	std::string am = at_scale(a, scale);
	std::string bm = at_scale(b, scale);
	if (an == bn)
		return {an, add_mag(am, bm)};
	if (cmp_mag(am, bm) >= 0)
		return {an, sub_mag(am, bm)};
	return {bn, sub_mag(bm, am)};
}

} // namespace

TEST(m_decimal, far_apart_places_property)
{
	Gen gen;
	for (int i = 0; i < 10000; i++) {
		/* One operand with many places, the other with 19 or more fewer. */
		M_decimal_t a = gen.value(0);
		M_decimal_t b = gen.value(0);
		a.num_dec     = static_cast<uint8_t>(20 + gen.rng() % 236);
		b.num_dec     = static_cast<uint8_t>(gen.rng() % (a.num_dec - 18));
		if (i % 2)
			std::swap(a, b);
		const int   scale = a.num_dec > b.num_dec ? a.num_dec : b.num_dec;
		M_decimal_t r;
		SCOPED_TRACE(show(a, b));

		auto s  = big_sum(a, b, false, scale);
		auto rv = M_decimal_add(&r, &a, &b);
		check_expect(sum_fit(s.first, s.second, scale, a, b), rv, r, "add");
		s  = big_sum(a, b, true, scale);
		rv = M_decimal_subtract(&r, &a, &b);
		check_expect(sum_fit(s.first, s.second, scale, a, b), rv, r, "subtract");

		/* Products of up to 510 places. */
		M_decimal_t c  = gen.value(255);
		M_decimal_t d  = gen.value(255);
		i128        pr = static_cast<i128>(c.num) * d.num;
		rv             = M_decimal_multiply(&r, &c, &d);
		check_expect(best_fit(pr < 0, digits_of(mag(pr)), c.num_dec + d.num_dec), rv, r, "multiply " + show(c, d));

		/* Compare agrees with the digit strings. */
		auto diff = big_sum(a, b, true, scale);
		int  want = diff.second.empty() ? 0 : (diff.first ? -1 : 1);
		ASSERT_EQ(M_decimal_cmp(&a, &b), want);
		if (::testing::Test::HasFatalFailure())
			return;
	}
}

TEST(m_decimal, cmp_property)
{
	Gen gen;
	for (int i = 0; i < 40000; i++) {
		M_decimal_t a = gen.value(18);
		M_decimal_t b = (i % 4 == 0) ? a : gen.value(18);
		if (i % 8 == 1) {
			/* Equal values written with different places. */
			b = a;
			if (M_decimal_transform(&b, static_cast<uint8_t>(a.num_dec + gen.rng() % 4)) != M_DECIMAL_SUCCESS)
				b = a;
		}
		int  t    = a.num_dec > b.num_dec ? a.num_dec : b.num_dec;
		i128 x    = scaled(a, t);
		i128 y    = scaled(b, t);
		int  want = (x > y) - (x < y);
		ASSERT_EQ(M_decimal_cmp(&a, &b), want) << show(a, b);
		ASSERT_EQ(M_decimal_cmp(&b, &a), -want) << show(a, b);
	}
	M_decimal_t x = parse("1.50");
	M_decimal_t y = dec(15, 1);
	EXPECT_EQ(M_decimal_cmp(&x, &y), 0);
	x = dec(150, 2); /* not reduced */
	EXPECT_EQ(M_decimal_cmp(&x, &y), 0);
}

/* ----- text ---------------------------------------------------------------- */

TEST(m_decimal, from_str_table)
{
	struct Case {
		const char        *s;
		int64_t            num;
		int                places;
		M_decimal_retval_t rv;
		size_t             used;
	};
	const Case cases[] = {
	    {"12.340", 1234, 2, M_DECIMAL_SUCCESS, 6},
	    {".5", 5, 1, M_DECIMAL_SUCCESS, 2},
	    {"1e3", 1000, 0, M_DECIMAL_SUCCESS, 3},
	    {"2.5e-1", 25, 2, M_DECIMAL_SUCCESS, 6},
	    {"2.5E+1", 25, 0, M_DECIMAL_SUCCESS, 6},
	    {"abc", 0, 0, M_DECIMAL_INVALID, 0},
	    {"", 0, 0, M_DECIMAL_INVALID, 0},
	    {"-", 0, 0, M_DECIMAL_INVALID, 0},
	    {".", 0, 0, M_DECIMAL_INVALID, 0},
	    {"1.x", 0, 0, M_DECIMAL_INVALID, 0},
	    {"1.-5", 0, 0, M_DECIMAL_INVALID, 0}, /* the fraction takes no sign */
	    {"1. 5", 0, 0, M_DECIMAL_INVALID, 0}, /* nor white space */
	    {"-1.5", -15, 1, M_DECIMAL_SUCCESS, 4},
	    {"-0.5", -5, 1, M_DECIMAL_SUCCESS, 4},
	    {"-.5", 0, 0, M_DECIMAL_INVALID, 0}, /* only text that starts with "." */
	    {"+.5", 0, 0, M_DECIMAL_INVALID, 0},
	    {" .5", 0, 0, M_DECIMAL_INVALID, 0},
	    {".5e1", 5, 0, M_DECIMAL_SUCCESS, 4},
	    {".e1", 0, 0, M_DECIMAL_INVALID, 0},
	    {"1.e1", 0, 0, M_DECIMAL_INVALID, 0},
	    {"1.+5", 0, 0, M_DECIMAL_INVALID, 0},
	    {"  +7.25xyz", 725, 2, M_DECIMAL_SUCCESS, 7},
	    {"12.", 12, 0, M_DECIMAL_SUCCESS, 3},
	    {"-0", 0, 0, M_DECIMAL_SUCCESS, 2},
	    {"0.000", 0, 0, M_DECIMAL_SUCCESS, 5},
	    {"007", 7, 0, M_DECIMAL_SUCCESS, 3},
	    {"1e", 1, 0, M_DECIMAL_SUCCESS, 1}, /* no exponent digits: ends before "e" */
	    {"1e+", 1, 0, M_DECIMAL_SUCCESS, 1},
	    {"1.5e2x", 150, 0, M_DECIMAL_SUCCESS, 5},
	    {"1e-255", 1, 255, M_DECIMAL_SUCCESS, 6},
	    {"1e256", 0, 0, M_DECIMAL_OVERFLOW, 5},
	    {"1e-256", 0, 0, M_DECIMAL_OVERFLOW, 6},
	    {"1e18", 1000000000000000000LL, 0, M_DECIMAL_SUCCESS, 4},
	    {"1e19", 0, 0, M_DECIMAL_OVERFLOW, 4},
	    {"0e300", 0, 0, M_DECIMAL_OVERFLOW, 5},
	    {"0e255", 0, 0, M_DECIMAL_SUCCESS, 5},
	    {"9223372036854775807", INT64_MAX, 0, M_DECIMAL_SUCCESS, 19},
	    {"9223372036854775808", 0, 0, M_DECIMAL_OVERFLOW, 19},
	    {"-9223372036854775808", INT64_MIN, 0, M_DECIMAL_SUCCESS, 20},
	    {"-9223372036854775809", 0, 0, M_DECIMAL_OVERFLOW, 20},
	    /* The integer part must fit, whatever the exponent would do. */
	    {"99999999999999999999e-5", 0, 0, M_DECIMAL_OVERFLOW, 20},
	    {"12345678901234567890.5", 0, 0, M_DECIMAL_OVERFLOW, 20},
	    {"0.001e20", 100000000000000000LL, 0, M_DECIMAL_SUCCESS, 8},
	    {"-0.001e19", -10000000000000000LL, 0, M_DECIMAL_SUCCESS, 9},
	    {"922337203685477580.7e1", INT64_MAX, 0, M_DECIMAL_SUCCESS, 22},
	    {"922337203685477580.8e1", 9223372036854775800LL, 0, M_DECIMAL_TRUNCATION, 22},
	    {"-922337203685477580.8e1", INT64_MIN, 0, M_DECIMAL_SUCCESS, 23},
	    {"5e-256", 0, 0, M_DECIMAL_OVERFLOW, 6},
	    {"0.5e-255", 1, 255, M_DECIMAL_TRUNCATION, 8}, /* beyond 255 places: rounded */
	    {"-0.4e-255", 0, 0, M_DECIMAL_TRUNCATION, 9},
	    /* The limit depends on the sign: 2^63 - 1 above zero, 2^63 below. */
	    {"922337203685477580.74", INT64_MAX, 1, M_DECIMAL_TRUNCATION, 21},
	    {"-922337203685477580.84", INT64_MIN, 1, M_DECIMAL_TRUNCATION, 22},
	    /* Fraction digits that do not fit are cut off, not rounded. */
	    {"922337203685477580.79", INT64_MAX, 1, M_DECIMAL_TRUNCATION, 21},
	    {"-922337203685477580.89", INT64_MIN, 1, M_DECIMAL_TRUNCATION, 22},
	    {"922337203685477580.8", 922337203685477580LL, 0, M_DECIMAL_TRUNCATION, 20},
	    {"-922337203685477580.8", INT64_MIN, 1, M_DECIMAL_SUCCESS, 21},
	    {"0.99999999999999999999", 999999999999999999LL, 18, M_DECIMAL_TRUNCATION, 22},
	    {"-0.99999999999999999999", -999999999999999999LL, 18, M_DECIMAL_TRUNCATION, 23},
	    {"1.23456789012345678951", 1234567890123456789LL, 18, M_DECIMAL_TRUNCATION, 22},
	    {"0.1234567890123456789012345", 1234567890123456789LL, 19, M_DECIMAL_TRUNCATION, 27},
	    /* A digit cut off counts even when it is 0. */
	    {"0.12345678901234567890", 1234567890123456789LL, 19, M_DECIMAL_TRUNCATION, 22},
	    {"1.50000000000000000000000", 15, 1, M_DECIMAL_TRUNCATION, 25},
	    {"1.500000000000000000", 15, 1, M_DECIMAL_SUCCESS, 20},
	    {"0.0000000000000000000000000000000000000000000123456789012345678999", 1234567890123456789LL, 62,
	     M_DECIMAL_TRUNCATION, 66},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.s);
		M_decimal_retval_t rv;
		size_t             used = 99;
		M_decimal_t        d    = parse(c.s, &rv, &used);
		EXPECT_EQ(rv, c.rv);
		EXPECT_EQ(d.num, c.num);
		EXPECT_EQ(d.num_dec, c.places);
		EXPECT_EQ(used, c.used);
	}

	/* len bounds the text, and so does a 0 byte. */
	M_decimal_t d;
	const char *end = nullptr;
	EXPECT_EQ(M_decimal_from_str("12.345", 4, &d, &end), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(d), "12.3");
	EXPECT_EQ(M_decimal_from_str("12.345", 3, &d, &end), M_DECIMAL_SUCCESS); /* "12." */
	EXPECT_EQ(str(d), "12");
	const char zero[] = {'4', '.', '\0', '5'};
	EXPECT_EQ(M_decimal_from_str(zero, sizeof(zero), &d, &end), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(d), "4");
	EXPECT_EQ(end, zero + 2);

	/* A very long fraction: digits beyond 255 places fall away. */
	std::string longfrac = "0." + std::string(300, '0') + "7";
	EXPECT_EQ(M_decimal_from_str(longfrac.c_str(), longfrac.size(), &d, &end), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(d.num, 0);
	std::string at255 = "0." + std::string(254, '0') + "5" + std::string(2000, '0') + "1";
	EXPECT_EQ(M_decimal_from_str(at255.c_str(), at255.size(), &d, &end), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(d.num, 5);
	EXPECT_EQ(d.num_dec, 255);
	EXPECT_EQ(end, at255.c_str() + at255.size());
}

TEST(m_decimal, to_str_table)
{
	struct Case {
		int64_t     num;
		uint8_t     places;
		const char *want;
	};
	const Case cases[] = {
	    {15, 1, "1.5"},
	    {5, 2, "0.05"},
	    {-5, 2, "-0.05"}, /* not "-.05" */
	    {-5, 1, "-0.5"},
	    {-15, 1, "-1.5"},
	    {12, 0, "12"},
	    {0, 0, "0"},
	    {0, 3, "0.000"},
	    {150, 2, "1.50"},
	    {-7, 0, "-7"},
	    {INT64_MIN, 0, "-9223372036854775808"},
	    {INT64_MAX, 19, "0.9223372036854775807"},
	    {INT64_MIN, 20, "-0.09223372036854775808"},
	};
	for (const Case &c : cases) {
		M_decimal_t d = dec(c.num, c.places);
		EXPECT_EQ(str(d), c.want) << c.num << " " << int(c.places);
	}

	/* 255 places: 259 bytes needed, 258 are not enough. */
	M_decimal_t d = dec(-1, 255);
	char        big[259];
	EXPECT_EQ(M_decimal_to_str(&d, big, sizeof(big)), M_DECIMAL_SUCCESS);
	EXPECT_EQ(std::strlen(big), 258u);
	EXPECT_EQ(std::string(big, 4), "-0.0");
	EXPECT_EQ(big[257], '1');
	EXPECT_EQ(M_decimal_to_str(&d, big, 258), M_DECIMAL_INVALID);

	/* Too small: cleared to zero bytes. */
	d = dec(125, 1);
	char small[4];
	std::memset(small, 'x', sizeof(small));
	EXPECT_EQ(M_decimal_to_str(&d, small, sizeof(small)), M_DECIMAL_INVALID);
	for (char ch : small)
		EXPECT_EQ(ch, '\0');
	char exact[5];
	EXPECT_EQ(M_decimal_to_str(&d, exact, sizeof(exact)), M_DECIMAL_SUCCESS);
	EXPECT_STREQ(exact, "12.5");
}

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_decimal, text_round_trip_property)
{
	Gen gen;
	for (int i = 0; i < 40000; i++) {
		/* Up to 255 places here: text has no 128-bit limit. */
		M_decimal_t d = gen.value(i % 2 == 0 ? 20 : 255);
		char        buf[300];
		ASSERT_EQ(M_decimal_to_str(&d, buf, sizeof(buf)), M_DECIMAL_SUCCESS);

		/* The text is the independent rendering of num / 10^places. */
		std::string digits =
		    std::to_string(d.num < 0 ? 0 - static_cast<uint64_t>(d.num) : static_cast<uint64_t>(d.num));
		if (digits.size() < static_cast<size_t>(d.num_dec) + 1)
			digits.insert(0, static_cast<size_t>(d.num_dec) + 1 - digits.size(), '0');
		if (d.num_dec > 0)
			digits.insert(digits.size() - d.num_dec, ".");
		ASSERT_EQ(std::string(buf), (d.num < 0 ? "-" : "") + digits);

		M_decimal_t back;
		const char *end = nullptr;
		ASSERT_EQ(M_decimal_from_str(buf, std::strlen(buf), &back, &end), M_DECIMAL_SUCCESS) << buf;
		ASSERT_EQ(end, buf + std::strlen(buf));
		M_decimal_t red = d;
		M_decimal_reduce(&red);
		ASSERT_EQ(back.num, red.num) << buf;
		ASSERT_EQ(back.num_dec, red.num_dec) << buf;

		/* And with an exponent that moves the point back and forth. */
		std::string withexp = std::string(buf) + "e-3";
		ASSERT_NE(M_decimal_from_str(withexp.c_str(), withexp.size(), &back, nullptr), M_DECIMAL_INVALID);
		if (red.num_dec + 3 <= 255) {
			M_decimal_t want = red;
			want.num_dec     = static_cast<uint8_t>(want.num_dec + 3);
			M_decimal_reduce(&want);
			ASSERT_EQ(M_decimal_cmp(&back, &want), 0) << withexp;
		}
	}
}
TEST_GCC12_FALSE_POSITIVE_END()
