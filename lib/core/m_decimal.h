/* Decimal numbers: a small exact decimal type for money-like values.
 *
 * An M_decimal_t is a signed 64-bit integer (num) and a count of decimal
 * places (num_dec): its value is num / 10^num_dec. It is a plain value,
 * usually kept on the caller's stack; nothing here allocates or prints.
 *
 * Reduced form: while num_dec is above 0 and num is divisible by 10, num is
 * divided by 10 and num_dec lowered by one. Every operation that produces a
 * value leaves it reduced, except M_decimal_transform, whose whole point is
 * to give a chosen number of places.
 *
 * Result codes: every operation says through one code whether it was exact
 * (M_DECIMAL_SUCCESS), had to drop decimal places by rounding to make the
 * result fit (M_DECIMAL_TRUNCATION), could not represent the value at all
 * (M_DECIMAL_OVERFLOW), or was given bad arguments (M_DECIMAL_INVALID).
 *
 * Rounding: whenever places are dropped, the magnitude is rounded half up,
 * which is half away from zero: 1.25 -> 1.3 and -1.25 -> -1.3, 1.24 -> 1.2
 * and -1.24 -> -1.2. A sign never changes how an amount rounds. (Testing
 * the first dropped digit of a negative integer with a plain "5 or more"
 * would cut negative values toward zero while positive ones round up; the
 * magnitude is tested instead.)
 *
 * Arithmetic: add and subtract align their operands: the result keeps the
 * places of the operand with more places, or, when the other operand cannot
 * be held at that many places in 64 bits, the most places at which both can
 * be held (the sum is then rounded, M_DECIMAL_TRUNCATION). A sum that does
 * not fit 64 bits at the aligned places is an overflow; a sum that can be
 * held exactly always comes back exact. Multiply and divide compute the
 * exact result (in 128-bit integers, or digit by digit for division) and
 * round it once, keeping as many decimal places (up to 255) as let its
 * integer fit in 64 bits; only a result whose integer part alone does not
 * fit is an overflow.
 *
 * Destination after a failure: on M_DECIMAL_OVERFLOW or M_DECIMAL_INVALID the
 * destination holds 0 (0 places) and is not to be used as a result; the one
 * exception is M_decimal_transform, which leaves its argument unchanged.
 *
 * Text: M_decimal_from_str reads "[white space][+|-]digits[.digits][e|E
 * [+|-]digits]" or ".digits[e...]"; M_decimal_to_str writes "-0.05", "12", "1.50" (all places
 * of the value as it is, leading "0" before the point, "-" for negatives).
 */
#ifndef M_DECIMAL_H
#define M_DECIMAL_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* A decimal number. Public so callers can keep it by value; use the
 * functions below to build and change it so it stays in reduced form. */
typedef struct M_decimal {
	int64_t num;     /* the digits of the value as an integer */
	uint8_t num_dec; /* decimal places: the value is num / 10^num_dec */
} M_decimal_t;

/* Result code of the decimal operations. */
typedef enum {
	M_DECIMAL_SUCCESS    = 0, /* exact result */
	M_DECIMAL_OVERFLOW   = 1, /* the value does not fit */
	M_DECIMAL_TRUNCATION = 2, /* a result was produced, but decimal places
	                             were dropped (rounded) to make it fit */
	M_DECIMAL_INVALID    = 3  /* bad argument, unparsable text, division by
	                             zero, or operands that cannot be aligned */
} M_decimal_retval_t;

/* Largest place count; also the M_buf_add_decimal value that means "keep
 * the places the value has". */
#define M_DECIMAL_MAX_DEC 255

/* ---------------------------------------------------------------------------
 * Building and taking apart
 * ------------------------------------------------------------------------- */

/* Set dec to 0 with 0 places.
 *
 * dec: NULL does nothing. */
M_API void M_decimal_create(M_decimal_t *dec);

/* Set dec to integer / 10^implied_dec, reduced. 1500 with 2 places gives 15
 * with 0 places. Always exact.
 *
 * dec: NULL does nothing. */
M_API void M_decimal_from_int(M_decimal_t *dec, int64_t integer, uint8_t implied_dec);

/* The value as an integer scaled by 10^implied_dec: 1.5 with 2 places gives
 * 150; 1.25 with 1 place gives 13 and -1.25 gives -13 (rounded as
 * M_decimal_transform rounds).
 *
 * dec: NULL gives 0.
 *
 * Returns the scaled value, or 0 when the scaled value does not fit 64 bits
 * (so 0 is ambiguous: use M_decimal_transform when that matters). */
M_API int64_t M_decimal_to_int(const M_decimal_t *dec, uint8_t implied_dec);

/* Rescale dec to exactly num_dec places. The result is NOT reduced: 1.2 to 3
 * places is num 1200 with 3 places.
 *
 * More places: num is multiplied by 10 per added place; a zero num only
 * changes num_dec. Fewer places: num is divided, and its magnitude is rounded
 * half up on the first dropped digit (1.25 -> 1.3, -1.25 -> -1.3).
 *
 * dec: NULL gives M_DECIMAL_INVALID.
 *
 * Returns M_DECIMAL_SUCCESS when the value is unchanged (no digit other than
 * 0 was dropped), M_DECIMAL_TRUNCATION when digits were dropped (the result
 * is rounded), M_DECIMAL_OVERFLOW when the rescaled integer does not fit 64
 * bits; on overflow dec is left unchanged. */
M_API M_decimal_retval_t M_decimal_transform(M_decimal_t *dec, uint8_t num_dec);

/* Bring dec to reduced form (drop trailing zero places). The value does not
 * change.
 *
 * dec: NULL does nothing. */
M_API void M_decimal_reduce(M_decimal_t *dec);

/* The number of decimal places of dec (num_dec).
 *
 * dec: NULL gives 0. */
M_API uint8_t M_decimal_num_decimals(const M_decimal_t *dec);

/* Copy src into dest.
 *
 * dest: NULL does nothing.
 * src:  NULL sets dest to 0 with 0 places. */
M_API void M_decimal_duplicate(M_decimal_t *dest, const M_decimal_t *src);

/* ---------------------------------------------------------------------------
 * Arithmetic
 *
 * dest may be the same object as either operand. dest, dec1 and dec2: any
 * NULL gives M_DECIMAL_INVALID (dest, when not NULL, is then set to 0).
 * Results are reduced. On M_DECIMAL_OVERFLOW or M_DECIMAL_INVALID dest holds
 * 0 and is not to be used.
 * ------------------------------------------------------------------------- */

/* dest = dec1 + dec2.
 *
 * Alignment: both operands are reduced and brought to t places, t being the
 * larger of their place counts, or, when the operand with fewer places does
 * not fit 64 bits at t places, the most places at which it does.
 *
 * Returns M_DECIMAL_SUCCESS when the sum is exact (0.1 + 0.25 is 0.35);
 * M_DECIMAL_TRUNCATION when t had to be lowered and the sum was rounded to
 * t places (9000000000000000000 + 0.5 gives 9000000000000000001). The
 * exact sum is rounded, once, rather than the operand that has more places
 * first: 900000000000000000 - 0.25 gives 899999999999999999.8, the
 * correctly rounded 899999999999999999.75;
 * M_DECIMAL_OVERFLOW when the sum does not fit 64 bits at t places
 * (INT64_MAX + 1, and 922337203685477580.7 + 0.1 alike). A sum that can be
 * held exactly is never reported as an overflow or rounded, even when the
 * aligned integers of its operands would overflow (500000000000000000.5 +
 * 500000000000000000.5 is 1000000000000000001, exact). */
M_API M_decimal_retval_t M_decimal_add(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2);

/* dest = dec1 - dec2, with the codes of M_decimal_add. */
M_API M_decimal_retval_t M_decimal_subtract(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2);

/* dest = dec1 * dec2. The exact product has the sum of the operands'
 * places; when that exceeds 255 or its integer does not fit 64 bits, the
 * fewest places are dropped, rounding once (M_DECIMAL_TRUNCATION). A
 * product that can be held exactly always is (123456789.123 * 1000000 is
 * 123456789123000, M_DECIMAL_SUCCESS). M_DECIMAL_OVERFLOW when even the
 * integer part does not fit. */
M_API M_decimal_retval_t M_decimal_multiply(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2);

/* dest = dec1 / dec2.
 *
 * Precision: the quotient keeps as many decimal places (up to 255) as fit:
 * division stops when it is exact, or at the last place for which the
 * rounded integer still fits 64 bits. The last kept place is rounded half
 * away from zero on the rest of the exact quotient. 1 / 3 gives
 * 0.3333333333333333333 (19 places) with M_DECIMAL_TRUNCATION; 1 / 8 gives
 * 0.125 with M_DECIMAL_SUCCESS; 2 / -3 gives -0.6666666666666666667.
 *
 * Returns M_DECIMAL_INVALID when dec2 is 0; M_DECIMAL_OVERFLOW when the
 * integer part of the quotient does not fit (INT64_MIN / -1, or 1e18 /
 * 0.001); M_DECIMAL_TRUNCATION when the quotient had to be rounded;
 * M_DECIMAL_SUCCESS when it is exact. */
M_API M_decimal_retval_t M_decimal_divide(M_decimal_t *dest, const M_decimal_t *dec1, const M_decimal_t *dec2);

/* Compare by value: 1.50 equals 1.5. Exact for every pair of values,
 * however far apart their place counts are.
 *
 * dec1, dec2: NULL sorts before any value; two NULLs are equal.
 *
 * Returns -1, 0 or 1 as dec1 is less than, equal to or greater than dec2.
 * NULL: yields 0. */
M_API int M_decimal_cmp(const M_decimal_t *dec1, const M_decimal_t *dec2);

/* ---------------------------------------------------------------------------
 * Text
 * ------------------------------------------------------------------------- */

/* Parse a decimal number from at most len characters of string (a 0 byte
 * also ends the text).
 *
 * Syntax: the integer part as M_str_to_int64_ex reads it in base 10 (white
 * space, an optional "+" or "-", digits), optionally "." and the fraction
 * digits, optionally "e" or "E" with an optionally signed exponent of at
 * most 255 in magnitude. The sign applies to both parts: "-1.5" is minus
 * one and a half and "-0.5" minus one half. Only text that starts with "."
 * may leave out the integer part (".5"); " .5", "+.5" and "-.5" are
 * invalid. The fraction is the digits right after the point: "1.x",
 * "1.-5" and "1. 5" are invalid, and so is "." alone. A "." at the very end
 * of the text adds nothing ("12." is 12). An "e" not followed by exponent
 * digits is not part of the number ("1e" is 1, ending before the "e"). The
 * number ends at the first character that does not fit the syntax; that is
 * not an error, only endptr tells.
 *
 * Value: the integer part times 10 per fraction digit plus the fraction.
 * Fraction digits that would take the integer past 64 bits, or the places
 * past 255, are cut off (not rounded), and any digit cut off makes the
 * result M_DECIMAL_TRUNCATION: "0.12345678901234567890" gives
 * 0.1234567890123456789 with M_DECIMAL_TRUNCATION. Then the exponent: a
 * positive one moves the point right (overflow when the integer no longer
 * fits), a negative one adds places (beyond 255 they are rounded away, half
 * away from zero, as a product would round them).
 *
 * Examples: "12.340" gives 1234 with 2 places, ".5" 0.5, "1e3" 1000,
 * "2.5e-1" 0.25, "abc" M_DECIMAL_INVALID.
 *
 * string: NULL gives M_DECIMAL_INVALID.
 * len:    0 gives M_DECIMAL_INVALID without reading string.
 * val:    receives the value, reduced; NULL gives M_DECIMAL_INVALID.
 * endptr: when not NULL, receives the address just after the last character
 *         used (string itself on M_DECIMAL_INVALID). It points into string.
 *
 * Returns M_DECIMAL_SUCCESS for an exact value; M_DECIMAL_TRUNCATION when
 * digits were cut off or rounded away; M_DECIMAL_OVERFLOW when the integer
 * part does not fit 64 bits (also when a negative exponent would bring it
 * back into range: "99999999999999999999e-5"), when the exponent makes the
 * integer too large, or when the exponent exceeds 255 in magnitude (val is
 * 0); M_DECIMAL_INVALID for bad arguments or text without a number (val is
 * 0). */
M_API M_decimal_retval_t M_decimal_from_str(const char *string, size_t len, M_decimal_t *val, const char **endptr);

/* Write the text of dec into buf of len bytes, terminated.
 *
 * The text has all num_dec places of the value as it is (not reduced first):
 * at least one digit before the point, the point only when num_dec is above
 * 0, "-" first for a negative value: 1.5 gives "1.5", 0.05 "0.05", -0.05
 * "-0.05", 12 "12", 150 with 2 places "1.50".
 *
 * dec: NULL gives M_DECIMAL_INVALID.
 * buf: NULL gives M_DECIMAL_INVALID.
 *
 * Returns M_DECIMAL_SUCCESS, or M_DECIMAL_INVALID when len is 0 or the text
 * with its terminator does not fit len bytes; buf is then cleared to len
 * zero bytes (12.5 into 4 bytes leaves 4 zero bytes). At most 259 bytes are
 * ever needed (sign, 256 digits, point, terminator). */
M_API M_decimal_retval_t M_decimal_to_str(const M_decimal_t *dec, char *buf, size_t len);

M_END_DECLS

#endif /* M_DECIMAL_H */
