/* The text kernel: digit and text decisions that every module above the
 * core shares, so each rule is written once.
 *
 *   - hexadecimal digits: the digit sets, the digit test and value, and the
 *     byte-string coding (two digits a byte, optional line wrapping; the
 *     lenient decoder of m_hex.h);
 *   - decimal digits: the magnitude of a signed value, digit counts and the
 *     backwards digit writers the number printers use;
 *   - the justification plan: how a text is cut and filled for a width and
 *     an M_str_justify_type_t (m_str.h), for the string and buffer forms;
 *   - the quoting decision of delimited text (string implode and explode
 *     helpers, CSV output): which bytes force quotes.
 *
 * Internal: not part of the public C surface.
 */
#ifndef M_TEXT_INT_H
#define M_TEXT_INT_H

#include <cstddef>
#include <cstdint>

#include "core/m_str.h"

namespace m::detail {

/* ---------------------------------------------------------------------------
 * Hexadecimal digits
 * ------------------------------------------------------------------------- */

inline constexpr char kHexUpper[] = "0123456789ABCDEF";
inline constexpr char kHexLower[] = "0123456789abcdef";

/* The digit set of one case. */
constexpr const char *hex_digits(bool upper)
{
	return upper ? kHexUpper : kHexLower;
}

/* Whether c is a hexadecimal digit of either case. */
constexpr bool is_hex_digit(unsigned char c)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/* Value of a hexadecimal digit of either case; -1 for anything else. */
constexpr int hex_value(unsigned char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

/* Digits of v without leading zeros, written backwards so they end just
 * before end; returns where they start. end needs 16 bytes before it. */
inline char *put_hex_backwards(char *end, uint64_t v, bool upper)
{
	const char *digits = hex_digits(upper);
	char       *p      = end;
	do {
		*--p = digits[v & 0xF];
		v >>= 4;
	} while (v != 0);
	return p;
}

/* Room for the upper-case hexadecimal text of len bytes wrapped after every
 * wrap-th character (0: one line): 2 * len, plus the line feeds and one spare
 * byte when wrapping. 0 for len 0 and when the size does not fit. */
size_t hex_encoded_size(size_t len, size_t wrap);

/* Upper-case hexadecimal text of len bytes (len > 0) into out, which holds
 * hex_encoded_size(len, wrap) characters; a line feed follows every wrap-th
 * character except at the very end, so a line may break inside a byte.
 * Returns the characters written; no terminator is added. */
size_t hex_encode(const unsigned char *in, size_t len, char *out, size_t wrap);

/* Decode len characters (even) into at most len / 2 bytes at out, skipping
 * white space before each digit and not validating: any character yields a
 * nibble by the digit arithmetic. Stops at the end of the text or when a
 * high digit has nothing after it. Returns the bytes written. */
size_t hex_decode(const char *in, size_t len, unsigned char *out);

/* ---------------------------------------------------------------------------
 * Decimal digits
 * ------------------------------------------------------------------------- */

/* Magnitude of a signed value without overflow for INT64_MIN. */
constexpr uint64_t magnitude(int64_t v)
{
	return v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

/* Number of decimal digits of v (1 for 0). */
constexpr size_t decimal_digits(uint64_t v)
{
	size_t n = 1;
	while (v >= 10) {
		v /= 10;
		n++;
	}
	return n;
}

/* Decimal digits of v written backwards so they end just before end;
 * returns where they start. end needs 20 bytes before it. */
inline char *put_decimal_backwards(char *end, uint64_t v)
{
	char *p = end;
	do {
		*--p = static_cast<char>('0' + (v % 10));
		v /= 10;
	} while (v != 0);
	return p;
}

/* ---------------------------------------------------------------------------
 * Justification
 * ------------------------------------------------------------------------- */

/* How a text of len bytes is placed in a field of width for one
 * justification type. */
struct JustifyPlan {
	size_t cut_front; /* bytes of the text skipped at the front */
	size_t keep;      /* bytes of the text kept */
	size_t left;      /* fill characters before */
	size_t right;     /* fill characters after */
};

/* Plan a justification. Longer text is cut to width, keeping its last
 * characters (RIGHT, LEFT, TRUNC_LEFT, CENTER) or its first (the others),
 * or refused (the NOTRUNC types). Shorter text is filled: before it (RIGHT
 * types), after it (LEFT types), both sides with the odd character before
 * (CENTER types), or not at all (TRUNC_RIGHT, TRUNC_LEFT). Returns false for
 * a refused text or an unknown type (plan then unspecified). */
bool plan_justify(M_str_justify_type_t type, size_t len, size_t width, JustifyPlan *plan);

/* ---------------------------------------------------------------------------
 * Quoting decision
 * ------------------------------------------------------------------------- */

/* A delimited text is quoted when it starts or ends with white space
 * (M_chr_isspace), or holds the delimiter, a line feed, a carriage return,
 * the escape character or the quote character; quote characters inside are
 * then escaped (doubled in CSV). One class per byte: */
inline constexpr unsigned char kQuoteEdge  = 1; /* white space: forces quotes at either end */
inline constexpr unsigned char kQuoteBreak = 2; /* delimiter, LF, CR, escape: force quotes anywhere */
inline constexpr unsigned char kQuoteChar  = 4; /* the quote character: forces quotes, is escaped */

struct QuoteClasses {
	unsigned char of[256];
};

/* The classes for one delimiter, quote and escape character; a 0 delimiter
 * or escape takes part in nothing. */
QuoteClasses quote_classes(char delim, char quote, char escape);

/* Whether len bytes at s need quotes under classes c. */
bool needs_quoting(const char *s, size_t len, const QuoteClasses &c);

static_assert(decimal_digits(0) == 1 && decimal_digits(9) == 1 && decimal_digits(10) == 2);
static_assert(decimal_digits(UINT64_MAX) == 20);
static_assert(magnitude(INT64_MIN) == 9223372036854775808ULL);
static_assert(hex_value('f') == 15 && hex_value('F') == 15 && hex_value('g') == -1);

} /* namespace m::detail */

#endif /* M_TEXT_INT_H */
