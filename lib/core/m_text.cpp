/* The text kernel's byte-string coding (see m_text_int.h).
 *
 * The decoder is deliberately non-validating: every character maps to a
 * nibble value by plain arithmetic (see the tables below), so an ordinary
 * digit gives its usual value and anything else gives some byte without an
 * error. The encoder places a line feed after every wrap-th character, which
 * may fall between the two digits of one byte.
 */
#include "core/m_text_int.h"

#include "core/m_chr.h"

#include <array>
#include <limits>

namespace {

static_assert('0' == 0x30 && 'A' == 0x41 && 'a' == 0x61, "character set must be ASCII");

/* Value of a character as the high digit of a byte: (c - 7 when c is at or
 * above "A", else c) modulo 16. */
constexpr std::array<unsigned char, 256> make_high_table()
{
	std::array<unsigned char, 256> t{};
	for (unsigned c = 0; c < 256; c++)
		t[c] = static_cast<unsigned char>(((c >= 'A') ? c - 7 : c) % 16);
	return t;
}

/* Value of a character as the low digit: c - 48 below "A", c - 55 up to just
 * below "a", c - 87 from "a" on, all modulo 256. It is OR-ed, not added, into
 * the byte, so for non-digits it may also set high-nibble bits. */
constexpr std::array<unsigned char, 256> make_low_table()
{
	std::array<unsigned char, 256> t{};
	for (unsigned c = 0; c < 256; c++) {
		const unsigned sub = (c < 'A') ? 48 : (c < 'a') ? 55 : 87;
		t[c]               = static_cast<unsigned char>((c - sub) & 0xFF);
	}
	return t;
}

/* White space as the decoder skips it: tab, LF, VT, FF, CR and space. */
constexpr std::array<bool, 256> make_space_table()
{
	std::array<bool, 256> t{};
	for (unsigned c = 9; c <= 13; c++)
		t[c] = true;
	t[' '] = true;
	return t;
}

constexpr auto kHigh  = make_high_table();
constexpr auto kLow   = make_low_table();
constexpr auto kSpace = make_space_table();

static_assert(kHigh['0'] == 0 && kHigh['9'] == 9 && kHigh['A'] == 10 && kHigh['f'] == 15);
static_assert(kLow['0'] == 0 && kLow['F'] == 15 && kLow['a'] == 10 && kLow['f'] == 15);
static_assert(kHigh['Z'] == 3 && kLow['Z'] == 35, "non-digits follow the same arithmetic");

} // namespace

namespace m::detail {

QuoteClasses quote_classes(char delim, char quote, char escape)
{
	QuoteClasses c{};
	for (unsigned i = 0; i < 256; i++) {
		if (M_chr_isspace(static_cast<char>(i)))
			c.of[i] = kQuoteEdge;
	}
	c.of[static_cast<unsigned char>('\n')] |= kQuoteBreak;
	c.of[static_cast<unsigned char>('\r')] |= kQuoteBreak;
	if (delim != '\0')
		c.of[static_cast<unsigned char>(delim)] |= kQuoteBreak;
	if (escape != '\0')
		c.of[static_cast<unsigned char>(escape)] |= kQuoteBreak;
	c.of[static_cast<unsigned char>(quote)] |= kQuoteChar;
	return c;
}

bool needs_quoting(const char *s, size_t len, const QuoteClasses &c)
{
	if (len == 0)
		return false;
	const auto *u = reinterpret_cast<const unsigned char *>(s);
	if (((c.of[u[0]] | c.of[u[len - 1]]) & kQuoteEdge) != 0)
		return true;
	for (size_t i = 0; i < len; i++) {
		if ((c.of[u[i]] & (kQuoteBreak | kQuoteChar)) != 0)
			return true;
	}
	return false;
}

bool plan_justify(M_str_justify_type_t type, size_t len, size_t width, JustifyPlan *plan)
{
	plan->cut_front = 0;
	plan->keep      = len;
	plan->left      = 0;
	plan->right     = 0;
	switch (type) {
		case M_STR_JUSTIFY_RIGHT_NOTRUNC:
		case M_STR_JUSTIFY_LEFT_NOTRUNC:
		case M_STR_JUSTIFY_CENTER_NOTRUNC:
			if (len > width)
				return false;
			break;
		case M_STR_JUSTIFY_RIGHT:
		case M_STR_JUSTIFY_LEFT:
		case M_STR_JUSTIFY_TRUNC_LEFT:
		case M_STR_JUSTIFY_CENTER:
			if (len > width) /* keep the last characters */
				plan->cut_front = len - width;
			break;
		case M_STR_JUSTIFY_RIGHT_TRUNC_RIGHT:
		case M_STR_JUSTIFY_LEFT_TRUNC_RIGHT:
		case M_STR_JUSTIFY_TRUNC_RIGHT:
		case M_STR_JUSTIFY_CENTER_TRUNC_RIGHT:
			break; /* keep the first characters */
		default:
			return false;
	}
	if (len > width) {
		plan->keep = width;
		return true;
	}
	const size_t fill = width - len;
	switch (type) {
		case M_STR_JUSTIFY_RIGHT:
		case M_STR_JUSTIFY_RIGHT_TRUNC_RIGHT:
		case M_STR_JUSTIFY_RIGHT_NOTRUNC:
			plan->left = fill;
			break;
		case M_STR_JUSTIFY_LEFT:
		case M_STR_JUSTIFY_LEFT_TRUNC_RIGHT:
		case M_STR_JUSTIFY_LEFT_NOTRUNC:
			plan->right = fill;
			break;
		case M_STR_JUSTIFY_CENTER:
		case M_STR_JUSTIFY_CENTER_TRUNC_RIGHT:
		case M_STR_JUSTIFY_CENTER_NOTRUNC:
			plan->left  = (fill + 1) / 2; /* the odd fill character goes on the left */
			plan->right = fill / 2;
			break;
		default: /* TRUNC_RIGHT, TRUNC_LEFT: only cut, never fill */
			break;
	}
	return true;
}

size_t hex_encoded_size(size_t len, size_t wrap)
{
	if (len == 0 || len > std::numeric_limits<size_t>::max() / 4)
		return 0;
	const size_t chars = 2 * len;
	if (wrap == 0)
		return chars;
	return chars + chars / wrap + 1;
}

size_t hex_encode(const unsigned char *in, size_t len, char *out, size_t wrap)
{
	size_t pos = 0;
	if (wrap == 0) {
		for (size_t i = 0; i < len; i++) {
			out[pos++] = kHexUpper[in[i] >> 4];
			out[pos++] = kHexUpper[in[i] & 0xF];
		}
		return pos;
	}
	size_t line = 0;
	for (size_t i = 0; i < len; i++) {
		out[pos++] = kHexUpper[in[i] >> 4];
		if (++line == wrap) { /* the low digit starts the next line */
			out[pos++] = '\n';
			line       = 0;
		}
		out[pos++] = kHexUpper[in[i] & 0xF];
		if (++line == wrap && i + 1 < len) {
			out[pos++] = '\n';
			line       = 0;
		}
	}
	return pos;
}

size_t hex_decode(const char *in, size_t len, unsigned char *out)
{
	const unsigned char *s = reinterpret_cast<const unsigned char *>(in);
	size_t               i = 0;
	size_t               o = 0;
	while (i < len) {
		while (i < len && kSpace[s[i]])
			i++;
		if (i >= len)
			break;
		const unsigned char hi = kHigh[s[i++]];
		if (i >= len) /* a high digit with nothing after it */
			break;
		while (i < len && kSpace[s[i]])
			i++;
		if (i >= len)
			break;
		const unsigned char lo = kLow[s[i++]];
		/* At most len / 2 bytes can come out. */
		out[o++] = static_cast<unsigned char>((hi << 4) | lo);
	}
	return o;
}

} /* namespace m::detail */
