#include "tests/test_util.h"

#include "core/m_decimal.h"

/* The properties check every operation against exact arithmetic here, in
 * 128-bit integers and unbounded digit strings, with rounding of its own. */

namespace {

__extension__ typedef __int128          i128;
__extension__ typedef unsigned __int128 u128;

M_decimal_t dec(int64_t num, int places)
{
	return M_decimal_t{num, static_cast<uint8_t>(places)};
}

std::string str(const M_decimal_t &d)
{
	char buf[300];
	return M_decimal_to_str(&d, buf, sizeof(buf)) == M_DECIMAL_SUCCESS ? buf : "<to_str failed>";
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

struct Expect {
	M_decimal_retval_t rv;
	int64_t            num;
	int                places;
};

/* Magnitudes as digit strings ("" is 0). */

std::string digits_of(u128 v)
{
	std::string s;
	for (; v != 0; v /= 10)
		s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
	return s;
}

std::string strip(const std::string &s)
{
	const size_t i = s.find_first_not_of('0');
	return i == std::string::npos ? "" : s.substr(i);
}

int cmp_mag(const std::string &a, const std::string &b)
{
	if (a.size() != b.size())
		return a.size() < b.size() ? -1 : 1;
	return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

/* a + b, or a - b when sub (then a >= b). */
std::string addsub_mag(const std::string &a, const std::string &b, bool sub)
{
	std::string r;
	int         carry = 0;
	for (size_t i = 0; i < a.size() || i < b.size() || carry > 0; i++) {
		const int x = i < a.size() ? a[a.size() - 1 - i] - '0' : 0;
		const int y = i < b.size() ? b[b.size() - 1 - i] - '0' : 0;
		int       d = sub ? x - y - carry : x + y + carry;
		carry       = sub ? d < 0 : d / 10;
		d           = (d + 10) % 10;
		r.insert(r.begin(), static_cast<char>('0' + d));
		if (sub && i + 1 >= a.size())
			break;
	}
	return strip(r);
}

/* The exact value (neg, m / 10^scale) rounded half away from zero to
 * exactly P places, then reduced; an overflow when that does not fit. */
Expect fit_at(bool neg, const std::string &m, int scale, int P)
{
	const size_t drop   = static_cast<size_t>(scale - P);
	std::string  prefix = m.size() > drop ? m.substr(0, m.size() - drop) : "";
	std::string  gone   = m.size() > drop ? m.substr(m.size() - drop) : std::string(drop - m.size(), '0') + m;
	if (!gone.empty() && gone[0] >= '5')
		prefix = addsub_mag(prefix, "1", false);
	prefix = strip(prefix);
	if (cmp_mag(prefix, neg ? "9223372036854775808" : "9223372036854775807") > 0)
		return {M_DECIMAL_OVERFLOW, 0, 0};
	u128 v = 0;
	for (char c : prefix)
		v = v * 10 + static_cast<u128>(c - '0');
	int pl = v == 0 ? 0 : P;
	for (; pl > 0 && v % 10 == 0; pl--)
		v /= 10;
	const bool exact = gone.find_first_not_of('0') == std::string::npos;
	return {exact ? M_DECIMAL_SUCCESS : M_DECIMAL_TRUNCATION,
	        neg ? static_cast<int64_t>(0 - static_cast<uint64_t>(v)) : static_cast<int64_t>(v), pl};
}

/* At the most places (up to 255) at which the value fits. */
Expect best_fit(bool neg, const std::string &m, int scale)
{
	int top = scale < 255 ? scale : 255;
	if (scale - static_cast<int>(m.size()) + 19 < top) /* more than 19 digits never fit */
		top = scale - static_cast<int>(m.size()) + 19;
	for (int P = top; P >= 0; P--) {
		Expect e = fit_at(neg, m, scale, P);
		if (e.rv != M_DECIMAL_OVERFLOW)
			return e;
	}
	return {M_DECIMAL_OVERFLOW, 0, 0};
}

/* a + b (or a - b) exactly, as (negative, magnitude) at scale places. */
std::pair<bool, std::string> big_sum(const M_decimal_t &a, const M_decimal_t &b, bool subtract, int scale)
{
	auto at = [scale](const M_decimal_t &d) {
		std::string m = digits_of(mag(d.num));
		return m.empty() ? m : m + std::string(static_cast<size_t>(scale - d.num_dec), '0');
	};
	const bool  an = a.num < 0;
	const bool  bn = (b.num < 0) != subtract && b.num != 0;
	std::string am = at(a);
	std::string bm = at(b);
	if (an == bn)
		return {an, addsub_mag(am, bm, false)};
	if (cmp_mag(am, bm) >= 0)
		return {an, addsub_mag(am, bm, true)};
	return {bn, addsub_mag(bm, am, true)};
}

/* A sum is exact when it can be held; else rounded once, half away from zero,
 * at some place count up to the operands' larger one, or an overflow there. */
bool sum_fits(const std::pair<bool, std::string> &s, int scale, M_decimal_retval_t rv, const M_decimal_t &r)
{
	const Expect exact = best_fit(s.first, s.second, scale);
	if (exact.rv == M_DECIMAL_SUCCESS)
		return rv == exact.rv && r.num == exact.num && r.num_dec == exact.places;
	for (int places = 0; places <= scale; places++) {
		const Expect e = fit_at(s.first, s.second, scale, places);
		if (e.rv == rv && (rv == M_DECIMAL_OVERFLOW || (r.num == e.num && r.num_dec == e.places)))
			return true;
	}
	return false;
}

/* Random values with every digit count from 0 to 19 equally likely, both
 * signs, the extremes now and then, and 0 to max_places places. */
struct Gen {
	std::mt19937_64 rng{0x5eed1234u};

	int64_t num()
	{
		const uint64_t pick = rng() % 16;
		if (pick < 3)
			return pick == 0 ? INT64_MIN : pick == 1 ? INT64_MAX : 0;
		const int digits = static_cast<int>(rng() % 20);
		uint64_t  m      = digits == 0 ? 0 : rng() % static_cast<uint64_t>(p10(digits));
		m                = digits == 19 ? rng() % (static_cast<uint64_t>(INT64_MAX) + 1) : m;
		return (rng() & 1) ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
	}

	M_decimal_t value(int max_places)
	{
		return dec(num(), static_cast<int>(rng() % static_cast<uint64_t>(max_places + 1)));
	}
};

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

TEST(m_decimal, build_and_rescale)
{
	M_decimal_t d = dec(99, 9);
	M_decimal_create(&d);
	EXPECT_EQ(str(d), "0");
	M_decimal_from_int(&d, -1230, 3); /* reduced */
	EXPECT_EQ(d.num, -123);
	EXPECT_EQ(M_decimal_num_decimals(&d), 2);
	M_decimal_from_int(&d, INT64_MIN, 255);
	EXPECT_EQ(d.num_dec, 255);
	M_decimal_t copy = dec(1, 1);
	M_decimal_duplicate(&copy, &d);
	EXPECT_EQ(M_decimal_cmp(&copy, &d), 0);
	M_decimal_duplicate(&copy, nullptr); /* no source: zero */
	EXPECT_EQ(str(copy), "0");

	/* to_int rounds the magnitude; 0 when scaling overflows. */
	const struct {
		M_decimal_t d;
		int         to;
		int64_t     want;
	} ints[] = {{dec(15, 1), 2, 150}, {dec(-15, 1), 0, -2}, {dec(INT64_MAX, 0), 1, 0}};
	for (const auto &c : ints)
		EXPECT_EQ(M_decimal_to_int(&c.d, static_cast<uint8_t>(c.to)), c.want) << str(c.d);
}

TEST(m_decimal, transform_property)
{
	/* Up to 255 places either way; rescaling down rounds once (the digit
	 * oracle), up is exact or an overflow that leaves the value alone. */
	Gen gen;
	for (int i = 0; i < 20000 && !HasFailure(); i++) {
		const M_decimal_t d  = gen.value(i % 4 == 0 ? 255 : 18);
		const int         to = static_cast<int>(gen.rng() % (i % 4 == 1 ? 256 : 37));
		M_decimal_t       r  = d;
		const auto        rv = M_decimal_transform(&r, static_cast<uint8_t>(to));
		SCOPED_TRACE(std::to_string(d.num) + " places " + std::to_string(d.num_dec) + " to " + std::to_string(to));
		const std::string m = digits_of(mag(d.num));
		if (to >= d.num_dec) {
			const std::string up = m.empty() ? m : m + std::string(static_cast<size_t>(to - d.num_dec), '0');
			if (cmp_mag(up, d.num < 0 ? "9223372036854775808" : "9223372036854775807") > 0) {
				ASSERT_EQ(rv, M_DECIMAL_OVERFLOW);
				EXPECT_EQ(str(r), str(d));
				EXPECT_EQ(r.num_dec, d.num_dec);
				continue;
			}
			ASSERT_EQ(rv, M_DECIMAL_SUCCESS);
			EXPECT_EQ(static_cast<i128>(r.num), static_cast<i128>(d.num) * static_cast<i128>(p10(to - d.num_dec)));
		} else {
			const Expect e   = fit_at(d.num < 0, m, d.num_dec, to);
			M_decimal_t  red = r;
			M_decimal_reduce(&red);
			ASSERT_EQ(rv, e.rv);
			EXPECT_EQ(red.num, e.num);
			EXPECT_EQ(red.num_dec, e.places);
		}
		EXPECT_EQ(r.num_dec, to);
	}
}

TEST(m_decimal, arithmetic_boundaries)
{
	struct Case {
		char               op;
		M_decimal_t        a;
		M_decimal_t        b;
		std::string        want;
		M_decimal_retval_t rv;
	};
	const M_decimal_t max     = dec(INT64_MAX, 0);
	const Case        cases[] = {
	           /* Overflow leaves dest zero (the properties check the rest); the
	            * limit depends on the sign. */
        {'+', max, dec(1, 0), "0", M_DECIMAL_OVERFLOW},
        {'-', dec(0, 0), dec(INT64_MIN, 1), "0", M_DECIMAL_OVERFLOW}, /* never a place of its own given up */
        {'*', dec(25, 1), max, "0", M_DECIMAL_OVERFLOW},
        {'/', dec(1, 0), dec(0, 0), "0", M_DECIMAL_INVALID},
        {'/', dec(0, 0), dec(0, 3), "0", M_DECIMAL_INVALID},
    };
	for (const Case &c : cases) {
		M_decimal_t              r  = dec(5, 5);
		const M_decimal_retval_t rv = c.op == '+'   ? M_decimal_add(&r, &c.a, &c.b)
		                              : c.op == '-' ? M_decimal_subtract(&r, &c.a, &c.b)
		                              : c.op == '*' ? M_decimal_multiply(&r, &c.a, &c.b)
		                                            : M_decimal_divide(&r, &c.a, &c.b);
		EXPECT_EQ(rv, c.rv) << show(c.a, c.b) << " " << c.op;
		EXPECT_EQ(str(r), c.want) << show(c.a, c.b) << " " << c.op;
	}
	/* dest may be an operand; a NULL operand fails and clears dest. */
	M_decimal_t a = dec(15, 1);
	EXPECT_EQ(M_decimal_add(&a, &a, &a), M_DECIMAL_SUCCESS);
	EXPECT_EQ(str(a), "3");
	EXPECT_EQ(M_decimal_subtract(&a, &a, nullptr), M_DECIMAL_INVALID);
	EXPECT_EQ(str(a), "0");
	/* NULL orders below every value. */
	EXPECT_EQ(M_decimal_cmp(nullptr, &a), -1);
	EXPECT_EQ(M_decimal_cmp(&a, nullptr), 1);
}

TEST(m_decimal, add_subtract_multiply_compare_property)
{
	/* Operands near each other (up to 18 places), and one quarter with
	 * places far apart (20 to 255, and 19 or more fewer). */
	Gen gen;
	for (int i = 0; i < 40000 && !HasFatalFailure(); i++) {
		const bool  far = i % 4 == 3;
		M_decimal_t a   = gen.value(18);
		M_decimal_t b   = gen.value(18);
		if (far) {
			a.num_dec = static_cast<uint8_t>(20 + gen.rng() % 236);
			b.num_dec = static_cast<uint8_t>(gen.rng() % (a.num_dec - 18));
			if (i % 8 == 7)
				std::swap(a, b);
		} else if (i % 8 == 1) { /* equal values written with different places */
			b = a;
			if (M_decimal_transform(&b, static_cast<uint8_t>(a.num_dec + gen.rng() % 4)) != M_DECIMAL_SUCCESS)
				b = a;
		}
		const int   scale = a.num_dec > b.num_dec ? a.num_dec : b.num_dec;
		M_decimal_t r;
		SCOPED_TRACE(show(a, b));
		auto rv = M_decimal_add(&r, &a, &b);
		ASSERT_TRUE(sum_fits(big_sum(a, b, false, scale), scale, rv, r)) << "add: " << rv << " " << str(r);
		const auto diff = big_sum(a, b, true, scale);
		rv              = M_decimal_subtract(&r, &a, &b);
		ASSERT_TRUE(sum_fits(diff, scale, rv, r)) << "subtract: " << rv << " " << str(r);
		const int want = diff.second.empty() ? 0 : (diff.first ? -1 : 1);
		ASSERT_EQ(M_decimal_cmp(&a, &b), want);
		ASSERT_EQ(M_decimal_cmp(&b, &a), -want);

		const M_decimal_t c  = gen.value(far ? 255 : 18);
		const M_decimal_t d  = gen.value(far ? 255 : 18);
		const i128        pr = static_cast<i128>(c.num) * d.num;
		rv                   = M_decimal_multiply(&r, &c, &d);
		check_expect(best_fit(pr < 0, digits_of(mag(pr)), c.num_dec + d.num_dec), rv, r, "multiply " + show(c, d));
	}
}

TEST(m_decimal, divide_property)
{
	/* The quotient's digits by long division, far past 255 places (a final
	 * 1 stands for a nonzero rest), then rounded once like a product. */
	Gen gen;
	for (int i = 0; i < 20000 && !HasFatalFailure(); i++) {
		const M_decimal_t a = gen.value(18);
		const M_decimal_t b = gen.value(18);
		if (b.num == 0)
			continue;
		const u128  den   = mag(b.num);
		u128        rest  = mag(a.num) % den;
		std::string m     = digits_of(mag(a.num) / den);
		const int   whole = static_cast<int>(m.size());
		for (int k = 0; k < 280; k++, rest = rest * 10 % den)
			m += static_cast<char>('0' + static_cast<int>(rest * 10 / den));
		if (rest != 0)
			m += '1';
		const int   scale = static_cast<int>(m.size()) - whole + a.num_dec - b.num_dec;
		M_decimal_t r;
		const auto  rv = M_decimal_divide(&r, &a, &b);
		check_expect(best_fit((a.num < 0) != (b.num < 0), strip(m), scale), rv, r, "divide " + show(a, b));
	}
}

TEST(m_decimal, from_str_table)
{
	struct Case {
		std::string        s; /* its whole length is passed */
		int64_t            num;
		int                places;
		M_decimal_retval_t rv;
		size_t             used;
	};
	constexpr auto OK = M_DECIMAL_SUCCESS, TR = M_DECIMAL_TRUNCATION, OV = M_DECIMAL_OVERFLOW, IN = M_DECIMAL_INVALID;
	const Case     cases[] = {
	        {"12.340", 1234, 2, OK, 6},
	        {".5e1", 5, 0, OK, 4},
	        {"2.5E+1", 25, 0, OK, 6},
	        {"  +7.25xyz", 725, 2, OK, 7},
	        {"1e", 1, 0, OK, 1}, /* no exponent digits: ends before "e" */
	        {"", 0, 0, IN, 0},
	        {"1.-5", 0, 0, IN, 0}, /* the fraction takes no sign */
	        {"1.", 1, 0, OK, 2},   /* a point at the end adds nothing */
	        {".", 0, 0, IN, 0},    /* the point alone is no number */
	        {"1.e1", 0, 0, IN, 0},
	        {"1e-255", 1, 255, OK, 6},
	        {"0e255", 0, 0, OK, 5},
	        {"1e256", 0, 0, OV, 5},
	        {"1e19", 0, 0, OV, 4},                     /* the scaling up by the exponent overflows */
	        {"99999999999999999999e-5", 0, 0, OV, 20}, /* the integer part must fit */
	        {"922337203685477580.8e1", 9223372036854775800LL, 0, TR, 22},
	        {"0.5e-255", 1, 255, TR, 8},                                   /* beyond 255 places: rounded */
	        {"922337203685477580.79", INT64_MAX, 1, TR, 21},               /* digits that do not fit are cut off */
	        {"0.12345678901234567890", 1234567890123456789LL, 19, TR, 22}, /* a cut 0 counts */
	        {"1.50000000000000000000000", 15, 1, TR, 25},
	        {std::string("4.") + '\0' + "5", 4, 0, OK, 2}, /* a 0 byte ends the text */
	        /* Digits beyond 255 places only round. */
	        {"0." + std::string(254, '0') + "5" + std::string(2000, '0') + "1", 5, 255, TR, 2258},
    };
	for (const Case &c : cases) {
		SCOPED_TRACE(c.s.substr(0, 30));
		M_decimal_t d   = dec(7, 7);
		const char *end = nullptr;
		EXPECT_EQ(M_decimal_from_str(c.s.c_str(), c.s.size(), &d, &end), c.rv);
		EXPECT_EQ(d.num, c.num);
		EXPECT_EQ(d.num_dec, c.places);
		EXPECT_EQ(end, c.s.c_str() + c.used);
	}
}

TEST(m_decimal, to_str_sizes)
{
	/* 255 places: 259 bytes needed, 258 are not enough. */
	M_decimal_t d = dec(-1, 255);
	char        big[259];
	EXPECT_EQ(M_decimal_to_str(&d, big, sizeof(big)), M_DECIMAL_SUCCESS);
	EXPECT_EQ(std::string(big), "-0." + std::string(254, '0') + "1");
	EXPECT_EQ(M_decimal_to_str(&d, big, 258), M_DECIMAL_INVALID);

	/* Too small or no decimal: cleared to zero bytes; size 0: untouched. */
	d             = dec(125, 1);
	char small[5] = "xxxx";
	EXPECT_EQ(M_decimal_to_str(&d, small, 4), M_DECIMAL_INVALID);
	EXPECT_EQ(std::string(small, 4), std::string(4, '\0'));
	EXPECT_EQ(M_decimal_to_str(&d, small, 5), M_DECIMAL_SUCCESS);
	EXPECT_STREQ(small, "12.5");
	EXPECT_EQ(M_decimal_to_str(nullptr, small, 5), M_DECIMAL_INVALID);
	EXPECT_EQ(small[0], '\0');
	small[0] = 'z';
	EXPECT_EQ(M_decimal_to_str(&d, small, 0), M_DECIMAL_INVALID);
	EXPECT_EQ(small[0], 'z');
}
