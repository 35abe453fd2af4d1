/* Integer text conversion with one front end, and decimal amounts read as
 * scaled integers.
 *
 * Every _ex form runs the same steps: the front end (white space, sign,
 * base), an unsigned 64-bit accumulation that notes overflow but keeps
 * consuming digits (so the end position is the same whether or not the value
 * fits), then a narrowing step per result type. The short forms are the _ex
 * forms in base 10 over the whole string, with the result code dropped: the
 * saturated value already says what happened. */
#include "core/m_str_num.h"
#include "core/m_chr.h"

#include <cstdint>
#include <limits>

namespace {

/* Value of a digit character in bases up to 36, or 36 for any other byte
 * (not below any accepted base). */
constexpr unsigned digit_value(char c)
{
	if (c >= '0' && c <= '9')
		return static_cast<unsigned>(c - '0');
	if (c >= 'a' && c <= 'z')
		return static_cast<unsigned>(c - 'a') + 10;
	if (c >= 'A' && c <= 'Z')
		return static_cast<unsigned>(c - 'A') + 10;
	return 36;
}

static_assert(digit_value('z') == 35 && digit_value('Z') == 35 && digit_value('/') == 36);

bool is_hex_prefix(const char *s, size_t len)
{
	return len >= 2 && s[0] == '0' && M_chr_tolower(s[1]) == 'x';
}

/* What the shared accumulation found. */
struct accum_t {
	uint64_t           magnitude; /* value of the digits (valid unless overflow) */
	bool               negative;  /* a "-" was given */
	bool               overflow;  /* the digits exceed 64 bits */
	M_str_int_retval_t rv;        /* INVALID for bad arguments / base / no digit */
};

accum_t accumulate(const char *s, size_t len, unsigned char base, const char **end)
{
	accum_t r{0, false, false, M_STR_INT_INVALID};
	if (end != nullptr)
		*end = s;
	if (s == nullptr || len == 0)
		return r;

	M_bool neg = M_FALSE;
	M_str_intconv_prep(&s, &len, &base, &neg);
	r.negative = neg;
	if (base < 2 || base > 36) {
		if (end != nullptr)
			*end = s;
		return r;
	}

	size_t digits = 0;
	while (len > 0 && *s != '\0') {
		const unsigned d = digit_value(*s);
		if (d >= base)
			break;
		uint64_t next;
		if (__builtin_mul_overflow(r.magnitude, static_cast<uint64_t>(base), &next) ||
		    __builtin_add_overflow(next, static_cast<uint64_t>(d), &next)) {
			r.overflow = true;
		} else {
			r.magnitude = next;
		}
		s++;
		len--;
		digits++;
	}
	if (end != nullptr)
		*end = s;
	if (digits == 0)
		return r;
	r.rv = M_STR_INT_SUCCESS;
	return r;
}

/* Narrow the accumulation to the result type T, one of the four widths.
 * Signed: magnitudes up to max (max + 1 with "-") fit, beyond that the value
 * saturates at min or max. Unsigned: a "-" negates in 64 bits, as the C
 * library's conversions do ("-1" is the maximum), and digits beyond 64 bits
 * or a value beyond T saturate at T's maximum. */
template <typename T>
M_str_int_retval_t narrow(const char *s, size_t len, unsigned char base, T *out, const char **end)
{
	if (out == nullptr) {
		if (end != nullptr)
			*end = s;
		return M_STR_INT_INVALID;
	}
	const accum_t a = accumulate(s, len, base, end);
	if (a.rv != M_STR_INT_SUCCESS) {
		*out = 0;
		return a.rv;
	}
	constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<T>::max());
	if constexpr (std::numeric_limits<T>::is_signed) {
		if (a.negative) {
			if (a.overflow || a.magnitude > kMax + 1) {
				*out = std::numeric_limits<T>::min();
				return M_STR_INT_OVERFLOW;
			}
			/* 0 - magnitude in unsigned arithmetic, then two's complement. */
			*out = static_cast<T>(static_cast<int64_t>(0 - a.magnitude));
			return M_STR_INT_SUCCESS;
		}
		if (a.overflow || a.magnitude > kMax) {
			*out = std::numeric_limits<T>::max();
			return M_STR_INT_OVERFLOW;
		}
		*out = static_cast<T>(a.magnitude);
	} else {
		const uint64_t v = a.negative ? 0 - a.magnitude : a.magnitude;
		if (a.overflow || v > kMax) {
			*out = std::numeric_limits<T>::max();
			return M_STR_INT_OVERFLOW;
		}
		*out = static_cast<T>(v);
	}
	return M_STR_INT_SUCCESS;
}

/* The decimal number at the start of s as the _ex parser given reads it
 * (base 10, no length limit, the end not wanted); 0 where it leaves none. */
template <typename T>
T whole_decimal(const char *s, M_str_int_retval_t (*parse)(const char *, size_t, unsigned char, T *, const char **))
{
	T v = 0;
	(void)parse(s, SIZE_MAX, 10, &v, nullptr);
	return v;
}

} // namespace

extern "C" {

void M_str_intconv_prep(const char **s, size_t *len, unsigned char *base, M_bool *negative)
{
	if (negative != nullptr)
		*negative = M_FALSE;
	if (s == nullptr || *s == nullptr || len == nullptr || base == nullptr || negative == nullptr)
		return;

	const char *p = *s;
	size_t      n = *len;
	while (n > 0 && M_chr_isspace(*p)) {
		p++;
		n--;
	}
	if (n > 0 && (*p == '+' || *p == '-')) {
		*negative = (*p == '-');
		p++;
		n--;
	}
	if (*base == 0) {
		if (is_hex_prefix(p, n)) {
			*base = 16;
		} else if (n > 0 && *p == '0') {
			*base = 8;
		} else {
			*base = 10;
		}
	}
	if (*base == 16 && is_hex_prefix(p, n)) {
		p += 2;
		n -= 2;
	}
	*s   = p;
	*len = n;
}

M_str_int_retval_t M_str_to_uint64_ex(const char *s, size_t len, unsigned char base, uint64_t *out, const char **end)
{
	return narrow<uint64_t>(s, len, base, out, end);
}

M_str_int_retval_t M_str_to_int64_ex(const char *s, size_t len, unsigned char base, int64_t *out, const char **end)
{
	return narrow<int64_t>(s, len, base, out, end);
}

M_str_int_retval_t M_str_to_int32_ex(const char *s, size_t len, unsigned char base, int32_t *out, const char **end)
{
	return narrow<int32_t>(s, len, base, out, end);
}

M_str_int_retval_t M_str_to_uint32_ex(const char *s, size_t len, unsigned char base, uint32_t *out, const char **end)
{
	return narrow<uint32_t>(s, len, base, out, end);
}

uint64_t M_str_to_uint64(const char *s)
{
	return whole_decimal(s, M_str_to_uint64_ex);
}

int64_t M_str_to_int64(const char *s)
{
	return whole_decimal(s, M_str_to_int64_ex);
}

uint32_t M_str_to_uint32(const char *s)
{
	return whole_decimal(s, M_str_to_uint32_ex);
}

int32_t M_str_to_int32(const char *s)
{
	return whole_decimal(s, M_str_to_int32_ex);
}

int64_t M_atofi_prec(const char *s, size_t places)
{
	if (s == nullptr)
		return 0;
	while (M_chr_isspace(*s))
		s++;
	if (*s == '\0')
		return 0;

	bool negative = false;
	if (*s == '+' || *s == '-') {
		negative = (*s == '-');
		s++;
	}

	/* The magnitude is kept unsigned and saturates at 2^63 (so that "-"
	 * can still reach INT64_MIN) rather than overflowing. */
	constexpr uint64_t kLimit   = static_cast<uint64_t>(INT64_MAX) + 1;
	uint64_t           value    = 0;
	bool               saturate = false;
	bool               in_dec   = false;
	size_t             decimals = 0;

	auto push_digit = [&](uint64_t d) {
		uint64_t next;
		if (__builtin_mul_overflow(value, 10u, &next) || __builtin_add_overflow(next, d, &next) || next > kLimit)
			saturate = true;
		else
			value = next;
	};

	for (; *s != '\0'; s++) {
		const char c = *s;
		if (c == ',')
			continue;
		if (c == '.') {
			if (in_dec)
				break;
			in_dec = true;
			continue;
		}
		const int d = M_chr_digit(c);
		if (d < 0)
			break;
		if (in_dec && decimals == places) {
			/* One digit past the wanted precision: round half up, stop. */
			if (d >= 5) {
				if (value >= kLimit)
					saturate = true;
				else
					value++;
			}
			break;
		}
		push_digit(static_cast<uint64_t>(d));
		if (in_dec)
			decimals++;
	}
	/* Make up missing decimals; a zero value stays zero however many places
	 * are asked for, and a large one saturates within a few steps. */
	for (; decimals < places && value != 0 && !saturate; decimals++)
		push_digit(0);

	if (negative)
		return saturate ? INT64_MIN : static_cast<int64_t>(0 - value);
	if (saturate || value > static_cast<uint64_t>(INT64_MAX))
		return INT64_MAX;
	return static_cast<int64_t>(value);
}

int32_t M_atofi100(const char *s)
{
	if (s == nullptr)
		return 0;
	const int64_t v = M_atofi_prec(s, 2);
	if (v < INT32_MIN || v > INT32_MAX)
		return -1;
	return static_cast<int32_t>(v);
}

} // extern "C"
