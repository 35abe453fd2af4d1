/* Decimal numbers: num / 10^num_dec with a signed 64-bit num.
 *
 * How results are made exact:
 * - Every arithmetic operation first computes the exact result as a 128-bit
 *   magnitude M at some number of places p, plus what lies beyond M: the
 *   first digit after it (d0) and whether anything non-zero follows (sticky).
 *   One routine, normalize(), then drops the fewest places that let the
 *   rounded magnitude fit (and p fall to 255, or a given lower count),
 *   rounding the magnitude half up on the first dropped digit. Rounding
 *   happens once, on exact digits, so a representable result is always
 *   exact and an unrepresentable one is correctly rounded.
 * - Add and subtract keep the alignment's codes: a sum that cannot be held
 *   exactly is rounded to the places at which both operands can be held,
 *   and overflows when it does not fit there. Only a sum that can be held
 *   exactly escapes that rule (5e17+0.5 plus itself is 1e18+1, although
 *   the aligned integers overflow): reporting such a sum as an overflow, or
 *   rounding away places it fits with, would be a plainly wrong result.
 * - Multiply rounds the exact product to the most places that fit: aligning
 *   and lowering places on both operands first would drop digits of
 *   products that fit (123456789.123 * 1000000) and round twice.
 * - Two operands of add/subtract whose places differ by at most 19 are
 *   aligned exactly in 128 bits (|num| < 2^63, times 10^19, stays below
 *   2^127). A larger difference means the operand with more places is
 *   smaller than one unit of the other's last place; the sum is then built
 *   at 19 places past the other operand, and the small operand's remainder
 *   becomes d0 and sticky (see add_far()).
 * - Text is read as two 64-bit integers would read it: the integer part
 *   must fit by itself, and fraction digits that do not fit are cut off,
 *   not rounded. Only the fraction is taken digit by digit, so a sign or
 *   white space after the point is not read as part of it.
 * - Division generates quotient digits by long division: the remainder is
 *   below the divisor (< 2^63), so remainder * 10 fits 128 bits.
 * - Rounding tests the magnitude, so -1.25 rounds to -1.3 as 1.25 rounds to
 *   1.3. Testing the first dropped digit of the signed integer would never
 *   see "5 or more" for a negative value and would cut it toward zero.
 */
#include "core/m_decimal.h"

#include "core/m_mem.h"
#include "core/m_str_num.h"
#include "core/m_text_int.h"

namespace {

__extension__ typedef __int128          i128;
__extension__ typedef unsigned __int128 u128;

constexpr int      kMaxDec   = M_DECIMAL_MAX_DEC;
constexpr u128     kMagLimit = static_cast<u128>(1) << 63; /* |INT64_MIN| */
constexpr uint64_t kU64One   = 1;

static_assert(sizeof(M_decimal_t) == 16, "M_decimal_t layout: int64 + uint8, padded");
static_assert(M_DECIMAL_MAX_DEC == 255, "places fit uint8_t");

/* Powers of ten as 128-bit values, 10^0 to 10^38 (10^38 < 2^127). */
constexpr auto kPow10 = [] {
	struct table {
		u128 v[39];
	} t{};
	u128 p = 1;
	for (int i = 0; i < 39; i++) {
		t.v[i] = p;
		p *= 10;
	}
	return t;
}();
static_assert(kPow10.v[19] == static_cast<u128>(10000000000000000000ULL), "10^19");

constexpr u128 pow10(int n) noexcept
{
	return kPow10.v[n];
}

/* Largest magnitude a result of the given sign may have. */
constexpr u128 mag_limit(bool neg) noexcept
{
	return neg ? kMagLimit : kMagLimit - 1;
}

u128 magnitude(i128 v) noexcept
{
	return v < 0 ? static_cast<u128>(0) - static_cast<u128>(v) : static_cast<u128>(v);
}

void set_zero(M_decimal_t *d) noexcept
{
	if (d != nullptr) {
		d->num     = 0;
		d->num_dec = 0;
	}
}

void set_value(M_decimal_t *d, bool neg, uint64_t mag, int places) noexcept
{
	d->num     = static_cast<int64_t>(neg ? static_cast<uint64_t>(0) - mag : mag);
	d->num_dec = static_cast<uint8_t>(places);
}

/* Bring the exact value  (neg ? -1 : 1) * (m + f) / 10^p,  where f is the
 * fraction of a unit whose first digit is d0 and whose further digits are
 * non-zero when sticky is set, into *out: drop the fewest places that make
 * p at most max_p and the rounded magnitude fit, rounding half up on the
 * first dropped digit, then reduce. No place below min_p is given up for
 * the sake of fitting: a value that does not fit at min_p places is an
 * overflow. p must not be negative. */
[[nodiscard]] M_decimal_retval_t normalize(bool neg, u128 m, int p, unsigned d0, bool sticky, M_decimal_t *out,
                                           int max_p = kMaxDec, int min_p = 0) noexcept
{
	const u128 limit = mag_limit(neg);
	unsigned   d     = d0;     /* first digit after m */
	bool       rest  = sticky; /* anything non-zero after d */

	for (;;) {
		u128 r = m + (d >= 5 ? 1 : 0);
		if (p <= max_p && r <= limit) {
			m = r;
			break;
		}
		if (p <= max_p && p <= min_p) {
			set_zero(out);
			return M_DECIMAL_OVERFLOW;
		}
		rest = rest || d != 0;
		d    = static_cast<unsigned>(m % 10);
		m /= 10;
		p--;
	}
	const bool truncated = rest || d != 0;

	if (m == 0)
		p = 0;
	while (p > 0 && m % 10 == 0) {
		m /= 10;
		p--;
	}
	set_value(out, neg, static_cast<uint64_t>(m), p);
	return truncated ? M_DECIMAL_TRUNCATION : M_DECIMAL_SUCCESS;
}

[[nodiscard]] M_decimal_retval_t normalize_exact(i128 v, int p, M_decimal_t *out) noexcept
{
	return normalize(v < 0, magnitude(v), p, 0, false, out);
}

/* Drop trailing zero places of a wide value. */
void reduce_wide(i128 &n, int &dec) noexcept
{
	if (n == 0) {
		dec = 0;
		return;
	}
	while (dec > 0 && n % 10 == 0) {
		n /= 10;
		dec--;
	}
}

/* x + y where x has more than 19 places more than y, both reduced and not 0.
 *
 * Then |x.num| < 2^63 < 10^19 gives |x| < 10^(19 - xd) <= 10^-(yd + 1): x is
 * below a tenth of one unit of y's last place. The result has y's sign and
 * at least |y| - |x| >= 0.9 * 10^-yd in magnitude, so it can keep at most
 * yd + 19 places. It is built at P = yd + 19 places: y scaled exactly, x cut
 * to P places (Aq) with its remainder Ar over 10^m (m = xd - P >= 1) giving
 * the digits beyond. When x has the opposite sign the remainder is
 * subtracted: M - Ar/10^m = (M - 1) + (10^m - Ar)/10^m. */
[[nodiscard]] M_decimal_retval_t add_far(i128 xn, int xd, i128 yn, int yd, M_decimal_t *out, int max_p,
                                         int min_p) noexcept
{
	const int  P       = yd + 19;
	const int  m       = xd - P;
	const bool res_neg = yn < 0;
	const bool x_neg   = xn < 0;
	const u128 xmag    = magnitude(xn);
	u128       M       = magnitude(yn) * pow10(19);
	u128       Aq      = 0;
	u128       Ar      = xmag;
	unsigned   d0      = 0;
	bool       sticky  = false;

	if (m < 20) {
		Aq = xmag / pow10(m);
		Ar = xmag % pow10(m);
	}

	if (x_neg == res_neg) {
		M += Aq;
		if (m >= 20) {
			/* Ar < 10^19 <= 10^(m-1): the first digit beyond is 0. */
			d0     = 0;
			sticky = Ar != 0;
		} else {
			d0     = static_cast<unsigned>(Ar / pow10(m - 1));
			sticky = Ar % pow10(m - 1) != 0;
		}
	} else {
		M -= Aq;
		if (Ar != 0) {
			M -= 1;
			if (m >= 20) {
				/* 10^m - Ar with Ar < 10^(m-1): digits 9, then non-zero. */
				d0     = 9;
				sticky = true;
			} else {
				u128 c = pow10(m) - Ar;
				d0     = static_cast<unsigned>(c / pow10(m - 1));
				sticky = c % pow10(m - 1) != 0;
			}
		}
	}
	return normalize(res_neg, M, P, d0, sticky, out, max_p, min_p);
}

/* The exact sum x + y of reduced operands (xd >= yd), brought to at most
 * max_p places but never below min_p for the sake of fitting. A zero y
 * (reduced to 0 places) may lie any distance away: the sum is x. */
[[nodiscard]] M_decimal_retval_t sum_at(i128 xn, int xd, i128 yn, int yd, M_decimal_t *out, int max_p,
                                        int min_p) noexcept
{
	if (yn == 0 || xd - yd <= 19) {
		const i128 v = yn == 0 ? xn : xn + yn * static_cast<i128>(pow10(xd - yd));
		return normalize(v < 0, magnitude(v), xd, 0, false, out, max_p, min_p);
	}
	return add_far(xn, xd, yn, yd, out, max_p, min_p);
}

/* Places at which both reduced operands can be held (xd >= yd): the
 * alignment target. x, having the most places, fits at any count up to xd
 * (fewer places only round it); y fits while its integer times the power of
 * ten stays inside 64 bits. */
int align_places(int xd, i128 yn, int yd) noexcept
{
	const u128 limit = mag_limit(yn < 0);
	u128       m     = magnitude(yn);
	int        t     = yd;
	while (t < xd && m * 10 <= limit) {
		m *= 10;
		t++;
	}
	return t;
}

/* x + y. The exact sum is the result whenever it can be held (even when the
 * two operands cannot be aligned at the places the sum needs: then the
 * operands' own alignment would have rounded a sum that fits). Otherwise the
 * operands are aligned as usual, at the most places at which both can be
 * held, the sum is rounded once to those places (M_DECIMAL_TRUNCATION), and
 * a sum that does not fit there is an overflow. So 922337203685477580.7 +
 * 0.1 overflows, as INT64_MAX + 1 does, rather than losing its place. */
[[nodiscard]] M_decimal_retval_t add_wide(i128 xn, int xd, i128 yn, int yd, M_decimal_t *out) noexcept
{
	reduce_wide(xn, xd);
	reduce_wide(yn, yd);
	if (xd < yd) {
		i128 tn = xn;
		xn      = yn;
		yn      = tn;
		int td  = xd;
		xd      = yd;
		yd      = td;
	}
	M_decimal_t              exact;
	const M_decimal_retval_t rv = sum_at(xn, xd, yn, yd, &exact, kMaxDec, 0);
	if (rv == M_DECIMAL_SUCCESS) {
		*out = exact;
		return rv;
	}
	const int t = align_places(xd, yn, yd);
	return sum_at(xn, xd, yn, yd, out, t, t);
}

bool digit_at(const char *s, size_t len, size_t i) noexcept
{
	return i < len && s[i] >= '0' && s[i] <= '9';
}

bool char_at(const char *s, size_t len, size_t i) noexcept
{
	return i < len && s[i] != '\0';
}

/* The integer part of a number's text, read as a 64-bit integer (white
 * space and a sign allowed): its magnitude into *m, its sign into *neg, the
 * bytes read into *i. The sign is taken from the text, since "-0" reads as 0
 * but "-0.5" is minus one half. On overflow *endptr (when not NULL) is where
 * the integer ends. */
[[nodiscard]] M_decimal_retval_t read_integer_part(const char *string, size_t len, size_t *i, bool *neg, u128 *m,
                                                   const char **endptr) noexcept
{
	int64_t                  iv   = 0;
	const char              *iend = nullptr;
	const M_str_int_retval_t r    = M_str_to_int64_ex(string, len, 10, &iv, &iend);
	if (r == M_STR_INT_INVALID || iend == nullptr)
		return M_DECIMAL_INVALID;
	if (r == M_STR_INT_OVERFLOW) {
		if (endptr != nullptr)
			*endptr = iend;
		return M_DECIMAL_OVERFLOW;
	}
	*i = static_cast<size_t>(iend - string);
	for (size_t k = 0; k < *i && !digit_at(string, len, k); k++) {
		if (string[k] == '-')
			*neg = true;
	}
	*m = m::detail::magnitude(iv);
	return M_DECIMAL_SUCCESS;
}

/* The fraction's digits at *i: [*frac_start, *frac_end) and *i moved past
 * them. Only digits right after the point count (a sign or white space there
 * would otherwise be read as part of it, and "1. 5" taken for 1.05). A point
 * at the very end after an integer part adds nothing. False when the text is
 * no number: a point followed by anything else, or neither integer part nor
 * fraction digits. */
[[nodiscard]] bool fraction_span(const char *string, size_t len, bool have_int, size_t *i, size_t *frac_start,
                                 size_t *frac_end) noexcept
{
	if (char_at(string, len, *i) && string[*i] == '.') {
		if (digit_at(string, len, *i + 1)) {
			*frac_start = *i + 1;
			*frac_end   = *frac_start;
			while (digit_at(string, len, *frac_end))
				(*frac_end)++;
			*i = *frac_end;
		} else if (!char_at(string, len, *i + 1) && have_int) {
			(*i)++;
		} else {
			return false;
		}
	}
	return have_int || *frac_start != *frac_end;
}

/* The integer part times 10 per fraction digit plus the fraction, one place
 * per digit: fraction digits that would take the value past limit (or past
 * 255 places) are cut off. Returns true when any digit was cut off (the
 * result is then a truncation). */
bool add_fraction_digits(const char *string, size_t frac_start, size_t frac_end, u128 limit, u128 *m,
                         int *places) noexcept
{
	for (size_t k = frac_start; k < frac_end; k++) {
		const u128 next = *m * 10 + static_cast<unsigned>(string[k] - '0');
		if (*places == kMaxDec || next > limit)
			return true;
		*m = next;
		(*places)++;
	}
	return false;
}

/* The exponent at *i, only taken when digits follow the marker and its sign:
 * its value into *exponent and *i moved past it. False when it is beyond
 * 255 either way (an overflow; *i is then past its digits). */
[[nodiscard]] bool read_exponent(const char *string, size_t len, size_t *i, int *exponent) noexcept
{
	if (!char_at(string, len, *i) || (string[*i] != 'e' && string[*i] != 'E'))
		return true;
	size_t j    = *i + 1;
	bool   eneg = false;
	if (char_at(string, len, j) && (string[j] == '+' || string[j] == '-')) {
		eneg = string[j] == '-';
		j++;
	}
	if (!digit_at(string, len, j))
		return true;
	int e = 0;
	while (digit_at(string, len, j)) {
		if (e <= kMaxDec)
			e = e * 10 + (string[j] - '0');
		j++;
	}
	*i = j;
	if (e > kMaxDec)
		return false;
	*exponent = eneg ? -e : e;
	return true;
}

/* Times 10^exponent, as a product would give it: a positive exponent takes
 * places away or grows the integer (false, an overflow, when it no longer
 * fits limit), a negative one adds places (rounded away beyond 255 later). */
[[nodiscard]] bool scale_by_exponent(int exponent, u128 limit, u128 *m, int *places) noexcept
{
	if (exponent <= 0) {
		*places -= exponent;
		return true;
	}
	if (exponent <= *places) {
		*places -= exponent;
		return true;
	}
	for (int k = *places; k < exponent && *m != 0; k++) {
		*m *= 10;
		if (*m > limit)
			return false;
	}
	*places = 0;
	return true;
}

} /* namespace */

extern "C" {

void M_decimal_create(M_decimal_t *dec)
{
	set_zero(dec);
}

void M_decimal_from_int(M_decimal_t *dec, int64_t integer, uint8_t implied_dec)
{
	if (dec == nullptr)
		return;
	dec->num     = integer;
	dec->num_dec = implied_dec;
	M_decimal_reduce(dec);
}

int64_t M_decimal_to_int(const M_decimal_t *dec, uint8_t implied_dec)
{
	if (dec == nullptr)
		return 0;
	M_decimal_t d = *dec;
	if (M_decimal_transform(&d, implied_dec) == M_DECIMAL_OVERFLOW)
		return 0;
	return d.num;
}

M_decimal_retval_t M_decimal_transform(M_decimal_t *dec, uint8_t num_dec)
{
	if (dec == nullptr)
		return M_DECIMAL_INVALID;
	if (num_dec == dec->num_dec)
		return M_DECIMAL_SUCCESS;

	if (num_dec > dec->num_dec) {
		const int diff = num_dec - dec->num_dec;
		if (dec->num != 0) {
			/* |num| >= 1 times 10^19 exceeds 64 bits. */
			if (diff > 18)
				return M_DECIMAL_OVERFLOW;
			i128 v = static_cast<i128>(dec->num) * static_cast<i128>(pow10(diff));
			if (v > INT64_MAX || v < INT64_MIN)
				return M_DECIMAL_OVERFLOW;
			dec->num = static_cast<int64_t>(v);
		}
		dec->num_dec = num_dec;
		return M_DECIMAL_SUCCESS;
	}

	/* Fewer places: divide the magnitude by p = 10^diff, round on the first
	 * dropped digit. The magnitude is below 10^19, so for diff 19 the
	 * quotient is 0 and the first dropped digit is its leading one; beyond
	 * that everything dropped starts with 0. */
	const int      diff = dec->num_dec - num_dec;
	const bool     neg  = dec->num < 0;
	const uint64_t mag  = m::detail::magnitude(dec->num);
	uint64_t       q    = 0;
	uint64_t       rem  = mag;
	unsigned       d    = 0;
	if (diff <= 19) {
		const uint64_t p = static_cast<uint64_t>(pow10(diff));
		q                = mag / p;
		rem              = mag % p;
		d                = static_cast<unsigned>(rem / static_cast<uint64_t>(pow10(diff - 1)));
	}
	if (d >= 5)
		q += kU64One;
	set_value(dec, neg, q, num_dec);
	return rem != 0 ? M_DECIMAL_TRUNCATION : M_DECIMAL_SUCCESS;
}

void M_decimal_reduce(M_decimal_t *dec)
{
	if (dec == nullptr)
		return;
	if (dec->num == 0) {
		dec->num_dec = 0;
		return;
	}
	while (dec->num_dec > 0 && dec->num % 10 == 0) {
		dec->num /= 10;
		dec->num_dec--;
	}
}

uint8_t M_decimal_num_decimals(const M_decimal_t *dec)
{
	return dec == nullptr ? 0 : dec->num_dec;
}

void M_decimal_duplicate(M_decimal_t *dest, const M_decimal_t *src)
{
	if (dest == nullptr)
		return;
	if (src == nullptr) {
		set_zero(dest);
		return;
	}
	*dest = *src;
}

M_decimal_retval_t M_decimal_add(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2)
{
	if (dest == nullptr || dec1 == nullptr || dec2 == nullptr) {
		set_zero(dest);
		return M_DECIMAL_INVALID;
	}
	const M_decimal_t a = *dec1;
	const M_decimal_t b = *dec2;
	return add_wide(a.num, a.num_dec, b.num, b.num_dec, dest);
}

M_decimal_retval_t M_decimal_subtract(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2)
{
	if (dest == nullptr || dec1 == nullptr || dec2 == nullptr) {
		set_zero(dest);
		return M_DECIMAL_INVALID;
	}
	const M_decimal_t a = *dec1;
	const M_decimal_t b = *dec2;
	/* -INT64_MIN needs the 65th bit: negate in 128 bits. */
	return add_wide(a.num, a.num_dec, -static_cast<i128>(b.num), b.num_dec, dest);
}

M_decimal_retval_t M_decimal_multiply(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2)
{
	if (dest == nullptr || dec1 == nullptr || dec2 == nullptr) {
		set_zero(dest);
		return M_DECIMAL_INVALID;
	}
	/* |a| * |b| <= 2^126: the product is exact in 128 bits. Its places (up
	 * to 510) are brought to 255 or fewer by normalize(). */
	const i128 prod = static_cast<i128>(dec1->num) * static_cast<i128>(dec2->num);
	return normalize_exact(prod, dec1->num_dec + dec2->num_dec, dest);
}

M_decimal_retval_t M_decimal_divide(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2)
{
	if (dest == nullptr || dec1 == nullptr || dec2 == nullptr || dec2->num == 0) {
		set_zero(dest);
		return M_DECIMAL_INVALID;
	}
	const bool neg   = (dec1->num < 0) != (dec2->num < 0);
	const u128 A     = m::detail::magnitude(dec1->num);
	const u128 B     = m::detail::magnitude(dec2->num);
	const u128 limit = mag_limit(neg);
	int        p     = static_cast<int>(dec1->num_dec) - static_cast<int>(dec2->num_dec);

	/* Quotient digits so far (Q, at p places) and the remainder R < B. */
	u128 Q = A / B;
	u128 R = A % B;

	/* A negative place count means the integer part still lacks digits. */
	while (p < 0) {
		if (Q > limit) {
			set_zero(dest);
			return M_DECIMAL_OVERFLOW;
		}
		R *= 10;
		Q = Q * 10 + R / B;
		R %= B;
		p++;
	}

	/* More places while the division is not exact and the digits fit. */
	while (R != 0 && p < kMaxDec) {
		const u128 Q2 = Q * 10 + (R * 10) / B;
		if (Q2 > limit)
			break;
		Q = Q2;
		R = (R * 10) % B;
		p++;
	}

	const unsigned d0     = static_cast<unsigned>((R * 10) / B);
	const bool     sticky = (R * 10) % B != 0;
	return normalize(neg, Q, p, d0, sticky, dest);
}

int M_decimal_cmp(const M_decimal_t *dec1, const M_decimal_t *dec2)
{
	if (dec1 == nullptr || dec2 == nullptr) {
		if (dec1 == dec2)
			return 0;
		return dec1 == nullptr ? -1 : 1;
	}
	const int s1 = (dec1->num > 0) - (dec1->num < 0);
	const int s2 = (dec2->num > 0) - (dec2->num < 0);
	if (s1 != s2)
		return s1 < s2 ? -1 : 1;
	if (s1 == 0)
		return 0;

	i128      a  = dec1->num;
	i128      b  = dec2->num;
	const int da = dec1->num_dec;
	const int db = dec2->num_dec;
	if (da > db) {
		if (da - db > 19) {
			/* a is below a tenth of one unit of b's last place: b has the
			 * larger magnitude, and both have the same sign. */
			return s1 > 0 ? -1 : 1;
		}
		b *= static_cast<i128>(pow10(da - db));
	} else if (db > da) {
		if (db - da > 19)
			return s1 > 0 ? 1 : -1;
		a *= static_cast<i128>(pow10(db - da));
	}
	return (a > b) - (a < b);
}

M_decimal_retval_t M_decimal_from_str(const char *string, size_t len, M_decimal_t *val, const char **endptr)
{
	if (endptr != nullptr)
		*endptr = string;
	set_zero(val);
	if (string == nullptr || len == 0 || val == nullptr)
		return M_DECIMAL_INVALID;

	/* The integer part, unless the text starts with the point. */
	size_t     i        = 0;
	bool       neg      = false;
	u128       m        = 0;
	const bool have_int = string[0] != '.';
	if (have_int) {
		const M_decimal_retval_t rv = read_integer_part(string, len, &i, &neg, &m, endptr);
		if (rv != M_DECIMAL_SUCCESS)
			return rv;
	}

	size_t frac_start = i;
	size_t frac_end   = i;
	if (!fraction_span(string, len, have_int, &i, &frac_start, &frac_end))
		return M_DECIMAL_INVALID;
	const u128 limit     = mag_limit(neg);
	int        places    = 0;
	const bool truncated = add_fraction_digits(string, frac_start, frac_end, limit, &m, &places);

	int        exponent = 0;
	const bool exp_fits = read_exponent(string, len, &i, &exponent);
	if (endptr != nullptr)
		*endptr = string + i;
	if (!exp_fits || !scale_by_exponent(exponent, limit, &m, &places))
		return M_DECIMAL_OVERFLOW; /* val is still 0 */

	const M_decimal_retval_t rv = normalize(neg, m, places, 0, false, val);
	if (rv == M_DECIMAL_SUCCESS && truncated)
		return M_DECIMAL_TRUNCATION;
	return rv;
}

M_decimal_retval_t M_decimal_to_str(const M_decimal_t *dec, char *buf, size_t len)
{
	if (buf == nullptr)
		return M_DECIMAL_INVALID;
	if (dec == nullptr || len == 0) {
		if (len != 0)
			M_mem_set(buf, 0, len);
		return M_DECIMAL_INVALID;
	}

	/* Digits of the magnitude, least significant first (at most 20). */
	char     rev[24];
	size_t   ndig = 0;
	uint64_t mag  = m::detail::magnitude(dec->num);
	do {
		rev[ndig++] = static_cast<char>('0' + mag % 10);
		mag /= 10;
	} while (mag != 0);

	const bool   neg    = dec->num < 0;
	const size_t places = dec->num_dec;
	const size_t width  = ndig > places + 1 ? ndig : places + 1; /* digits written */
	const size_t total  = (neg ? 1 : 0) + width + (places > 0 ? 1 : 0);
	if (total >= len) {
		M_mem_set(buf, 0, len);
		return M_DECIMAL_INVALID;
	}

	size_t o = 0;
	if (neg)
		buf[o++] = '-';
	for (size_t k = 0; k < width; k++) {
		/* Digit k counted from the most significant of the padded width. */
		const size_t from_right = width - 1 - k;
		if (places > 0 && k == width - places)
			buf[o++] = '.';
		buf[o++] = from_right < ndig ? rev[from_right] : '0';
	}
	buf[o] = '\0';
	return M_DECIMAL_SUCCESS;
}

} /* extern "C" */
