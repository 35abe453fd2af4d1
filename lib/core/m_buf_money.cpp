/* Byte buffer: money and decimal appends.
 *
 * Kept apart from m_buf.cpp because these members sit on top of the decimal
 * type (m_decimal.h) rather than on the buffer's own growth rules: each one
 * formats into a small stack area and appends the text with one ordinary
 * append, so the buffer's growth and wipe rules apply unchanged.
 *
 * Money text is read as M_atofi_prec reads an amount with 2 places:
 * grouping commas skipped ("1,234.56" is 123456 hundredths), a third decimal
 * rounding the magnitude half up, the number ending at a second "." or any
 * other character. Two readings that M_atofi_prec would quietly turn into a
 * wrong amount are refused instead (false, nothing appended): text with no
 * digit at all (M_atofi_prec gives 0) and an amount whose hundredths do not
 * fit 64 bits (M_atofi_prec saturates). A check over the text decides
 * that; the amount itself is M_atofi_prec's.
 *
 * Justified forms write exactly width characters: "-" first for a negative
 * amount, then "0" padding, then the digits (as M_buf_add_int_just does);
 * a width of 0, or one smaller than the text, is refused.
 */
#include "core/m_buf.h"

#include "core/m_chr.h"
#include "core/m_decimal.h"
#include "core/m_str.h"
#include "core/m_str_num.h"
#include "core/m_text_int.h"

#include <cstring>

namespace {

constexpr uint8_t kKeepPlaces = M_DECIMAL_MAX_DEC;
/* Sign, 256 digits, point, terminator: the longest decimal text. */
constexpr size_t kDecimalText = 260;
static_assert(kDecimalText >= 1 + 256 + 1 + 1, "room for the longest decimal text");

/* Read money text as a whole number of hundredths (see above). */
[[nodiscard]] bool parse_hundredths(const char *amount, int64_t *out) noexcept
{
	if (amount == nullptr)
		return false;
	const char *s = amount;
	while (M_chr_isspace(*s))
		s++;
	bool negative = false;
	if (*s == '+' || *s == '-') {
		negative = *s == '-';
		s++;
	}

	/* The same walk as M_atofi_prec with 2 places, only noting whether a
	 * digit was seen and whether the hundredths leave the 64-bit range. */
	const uint64_t limit    = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : static_cast<uint64_t>(INT64_MAX);
	uint64_t       value    = 0;
	bool           digit    = false;
	bool           too_big  = false;
	bool           in_dec   = false;
	unsigned       decimals = 0;
	auto           push     = [&](uint64_t d) {
        uint64_t next = 0;
        if (__builtin_mul_overflow(value, 10u, &next) || __builtin_add_overflow(next, d, &next) || next > limit)
            too_big = true;
        else
            value = next;
	};
	for (; *s != '\0'; s++) {
		if (*s == ',')
			continue;
		if (*s == '.') {
			if (in_dec)
				break;
			in_dec = true;
			continue;
		}
		const int d = M_chr_digit(*s);
		if (d < 0)
			break;
		digit = true;
		if (in_dec && decimals == 2) {
			if (d >= 5 && !too_big) {
				if (value >= limit)
					too_big = true;
				else
					value++;
			}
			break;
		}
		push(static_cast<uint64_t>(d));
		if (in_dec)
			decimals++;
	}
	for (; decimals < 2 && !too_big; decimals++)
		push(0);
	if (!digit || too_big)
		return false;
	*out = M_atofi_prec(amount, 2);
	return true;
}

using m::detail::magnitude;

/* Decimal digits of v into out (no terminator); returns the count. */
size_t put_digits(char *out, uint64_t v) noexcept
{
	char        area[20];
	const char *start = m::detail::put_decimal_backwards(area + sizeof(area), v);
	const auto  n     = static_cast<size_t>(area + sizeof(area) - start);
	std::memcpy(out, start, n);
	return n;
}

/* Text of an amount in hundredths with a point: "-12.05". Returns the
 * length; out needs 24 bytes. */
size_t money_dot_text(char *out, int64_t amount) noexcept
{
	const uint64_t m = magnitude(amount);
	size_t         n = 0;
	if (amount < 0)
		out[n++] = '-';
	n += put_digits(out + n, m / 100);
	out[n++] = '.';
	out[n++] = static_cast<char>('0' + (m % 100) / 10);
	out[n++] = static_cast<char>('0' + m % 10);
	out[n]   = '\0';
	return n;
}

/* Append text (a leading "-" kept first) zero-padded in front to exactly
 * width characters. False, appending nothing, when width is 0 or smaller
 * than the text. */
bool add_zero_padded(M_buf_t *buf, const char *text, size_t len, size_t width) noexcept
{
	if (width == 0 || width < len)
		return false;
	if (buf == nullptr)
		return true;
	size_t skip = 0;
	if (len > 0 && text[0] == '-') {
		M_buf_add_char(buf, '-');
		skip = 1;
	}
	M_buf_add_fill(buf, '0', width - len);
	M_buf_add_bytes(buf, text + skip, len - skip);
	return true;
}

/* The decimal's text after optional rescaling; false when it cannot be
 * rescaled or written. */
bool decimal_text(const M_decimal_t *decimal, uint8_t num_decimals, char *out, size_t out_size) noexcept
{
	if (decimal == nullptr)
		return false;
	M_decimal_t d = *decimal;
	if (num_decimals != kKeepPlaces && M_decimal_transform(&d, num_decimals) == M_DECIMAL_OVERFLOW)
		return false;
	return M_decimal_to_str(&d, out, out_size) == M_DECIMAL_SUCCESS;
}

/* Read amount as hundredths and hand them, with the remaining arguments, to
 * add; M_FALSE without adding anything when amount is not a money amount. */
template <typename Add, typename... Rest>
M_bool add_parsed_money(M_buf_t *buf, const char *amount, Add add, Rest... rest) noexcept
{
	int64_t v = 0;
	if (!parse_hundredths(amount, &v))
		return M_FALSE;
	return add(buf, v, rest...);
}

} /* namespace */

extern "C" {

M_bool M_buf_add_int_money(M_buf_t *buf, int64_t amount)
{
	M_buf_add_int(buf, amount);
	return M_TRUE;
}

M_bool M_buf_add_int_money_just(M_buf_t *buf, int64_t amount, size_t width)
{
	return M_buf_add_int_just(buf, amount, width);
}

M_bool M_buf_add_int_money_dot(M_buf_t *buf, int64_t amount)
{
	char text[24];
	money_dot_text(text, amount);
	M_buf_add_str(buf, text);
	return M_TRUE;
}

M_bool M_buf_add_int_money_dot_just(M_buf_t *buf, int64_t amount, size_t width)
{
	char         text[24];
	const size_t n = money_dot_text(text, amount);
	return add_zero_padded(buf, text, n, width);
}

M_bool M_buf_add_money(M_buf_t *buf, const char *amount)
{
	return add_parsed_money(buf, amount, M_buf_add_int_money);
}

M_bool M_buf_add_money_just(M_buf_t *buf, const char *amount, size_t width)
{
	return add_parsed_money(buf, amount, M_buf_add_int_money_just, width);
}

M_bool M_buf_add_money_dot(M_buf_t *buf, const char *amount)
{
	return add_parsed_money(buf, amount, M_buf_add_int_money_dot);
}

M_bool M_buf_add_money_dot_just(M_buf_t *buf, const char *amount, size_t width)
{
	return add_parsed_money(buf, amount, M_buf_add_int_money_dot_just, width);
}

M_bool M_buf_add_decimal(M_buf_t *buf, const M_decimal_t *decimal, uint8_t num_decimals)
{
	char text[kDecimalText];
	if (!decimal_text(decimal, num_decimals, text, sizeof(text)))
		return M_FALSE;
	M_buf_add_str(buf, text);
	return M_TRUE;
}

M_bool M_buf_add_decimal_just(M_buf_t *buf, const M_decimal_t *decimal, uint8_t num_decimals, size_t width)
{
	char text[kDecimalText];
	if (!decimal_text(decimal, num_decimals, text, sizeof(text)))
		return M_FALSE;
	return add_zero_padded(buf, text, M_str_len(text), width);
}

} /* extern "C" */
