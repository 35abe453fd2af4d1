/* Number text conversion: integer text to 64-bit and 32-bit values, and
 * decimal amounts to scaled integers.
 *
 * All integer conversions share one front end (M_str_intconv_prep) for
 * leading white space, an optional sign, base detection and the "0x" prefix.
 * The _ex forms take a length, so they work on text that is not terminated
 * where the number ends; they report a result code and can say where the
 * conversion stopped. The short forms take a terminated string, always use
 * base 10, and saturate instead of reporting.
 *
 * Digits: "0" to "9" are 0 to 9, "a" to "z" and "A" to "Z" are 10 to 35. A
 * digit whose value is not below the base ends the number like any other
 * character. Bases 2 to 36 are accepted; 0 asks for detection ("0x" or "0X"
 * gives 16, a leading "0" gives 8, anything else 10).
 *
 * Character classes are ASCII (m_chr.h); nothing here reads the locale,
 * allocates or prints.
 */
#ifndef M_STR_NUM_H
#define M_STR_NUM_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Result of the _ex conversions. */
typedef enum {
	M_STR_INT_SUCCESS  = 0, /* at least one digit was converted and the value fits */
	M_STR_INT_OVERFLOW = 1, /* the value lies outside the type's range; the output
	                           holds the limit in the direction of the sign */
	M_STR_INT_INVALID  = 2  /* bad arguments, an unusable base, or no digit at all;
	                           the output holds 0 */
} M_str_int_retval_t;

/* The shared front end of the integer conversions.
 *
 * On the text *s with *len characters remaining: skips white space
 * (M_chr_isspace), then one "+" or "-", then settles the base: with *base 0,
 * "0x"/"0X" (two characters remaining) selects 16, a leading "0" selects 8,
 * anything else 10; with base 16 (given or detected) a "0x"/"0X" prefix is
 * skipped when two characters remain. Any other base is left as it is.
 * *s and *len are advanced past everything skipped; *negative is set to
 * M_TRUE when a "-" was seen, else M_FALSE.
 *
 * s, len, base, negative: all required; when any of them (or *s) is NULL the
 *   call does nothing (and *negative, when it can be written, is M_FALSE).
 * The front end stops at a 0 byte even when *len says more text follows. */
M_API void M_str_intconv_prep(const char **s, size_t *len, unsigned char *base, M_bool *negative);

/* Convert at most len characters of s to an unsigned 64-bit number.
 *
 * After the front end, digits below the base are accumulated while
 * characters remain within len and before a 0 byte. Characters after the
 * digits are not an error: only end tells where the number stopped. A "-"
 * gives the two's-complement negation of the value, so "-1" yields
 * UINT64_MAX with M_STR_INT_SUCCESS.
 *
 * s:    the text; NULL gives M_STR_INT_INVALID.
 * len:  characters that may be examined; 0 gives M_STR_INT_INVALID without
 *       reading s.
 * base: 0 (detect) or 2 to 36; any other base gives M_STR_INT_INVALID.
 * out:  receives the value; NULL gives M_STR_INT_INVALID (nothing stored).
 * end:  when not NULL, receives the address of the first character not used
 *       (just past the front end's part when the base is unusable, s itself
 *       when the arguments are bad). It points into s.
 *
 * Returns M_STR_INT_SUCCESS; M_STR_INT_OVERFLOW with *out = UINT64_MAX when
 * the digits exceed 64 bits (end still points past all the digits);
 * M_STR_INT_INVALID with *out = 0 when no digit was found. */
M_API M_str_int_retval_t M_str_to_uint64_ex(const char *s, size_t len, unsigned char base, uint64_t *out,
                                            const char **end);

/* As M_str_to_uint64_ex for int64_t. A magnitude above INT64_MAX (above
 * 2^63 with "-") gives INT64_MAX (INT64_MIN with "-") and
 * M_STR_INT_OVERFLOW; "-9223372036854775808" is INT64_MIN with success. */
M_API M_str_int_retval_t M_str_to_int64_ex(const char *s, size_t len, unsigned char base, int64_t *out,
                                           const char **end);

/* As M_str_to_uint64_ex for uint32_t. A "-" negates the value, and the
 * result must then fit 32 bits: any value above UINT32_MAX, including every
 * negated non-zero value, gives UINT32_MAX and M_STR_INT_OVERFLOW. */
M_API M_str_int_retval_t M_str_to_uint32_ex(const char *s, size_t len, unsigned char base, uint32_t *out,
                                            const char **end);

/* As M_str_to_int64_ex for int32_t, with the 32-bit limits. */
M_API M_str_int_retval_t M_str_to_int32_ex(const char *s, size_t len, unsigned char base, int32_t *out,
                                           const char **end);

/* Short forms: base 10 conversion of a terminated string, saturating. The
 * front end runs (white space and a sign are allowed), but with base 10 no
 * prefix is looked for: "0x10" is 0 and "010" is 10. */

/* s: the text; NULL, empty or digitless text gives 0. Returns the value,
 * UINT64_MAX when it does not fit; "-" negates in two's complement, so "-1"
 * is UINT64_MAX.
 * NULL: yields 0. */
M_API uint64_t M_str_to_uint64(const char *s);

/* s: the text; NULL, empty or digitless text gives 0. Returns the value,
 * INT64_MAX or INT64_MIN (by the sign) when it does not fit.
 * NULL: yields 0. */
M_API int64_t M_str_to_int64(const char *s);

/* s: the text; NULL, empty or digitless text gives 0. Returns the value,
 * UINT32_MAX when it does not fit; every negated non-zero value is out of
 * range, so "-5" gives UINT32_MAX.
 * NULL: yields 0. */
M_API uint32_t M_str_to_uint32(const char *s);

/* s: the text; NULL, empty or digitless text gives 0. Returns the value,
 * INT32_MAX or INT32_MIN (by the sign) when it does not fit.
 * NULL: yields 0. */
M_API int32_t M_str_to_int32(const char *s);

/* Read a decimal amount as a signed 64-bit integer scaled by 10^places.
 *
 * Leading white space is skipped, then one "+" or "-". Digits accumulate;
 * "," is skipped anywhere (grouping marks); the first "." starts the
 * decimals and a second "." ends the number, as does any other character.
 * A digit beyond places decimals rounds the value half up (5 or more adds 1
 * to the magnitude) and ends the number. Fewer decimals than places are
 * made up with zeros: "12" with 2 places is 1200, "1,234.567" is 123457,
 * "-0.5" is -50.
 *
 * s: the text; NULL or text of white space only gives 0.
 * places: decimal places of the result; the value saturates at INT64_MAX
 *   (INT64_MIN with "-") when the scaled magnitude does not fit, instead of
 *   wrapping.
 * NULL: yields 0. */
M_API int64_t M_atofi_prec(const char *s, size_t places);

/* M_atofi_prec with 2 places, as a signed 32-bit value.
 *
 * s: the text; NULL gives 0.
 * Returns the amount in hundredths, or -1 when the scaled value does not fit
 * 32 bits (note that "-0.01" also gives -1). */
M_API int32_t M_atofi100(const char *s);

/* ---------------------------------------------------------------------------
 * Money text (defined in m_str_money.cpp)
 * ------------------------------------------------------------------------- */

/* Rewrite a money amount with exactly two decimals: "12.5" gives "12.50",
 * "-0.05" gives "-0.05" (not "-.05"), "7" gives "7.00", "1.2e1" gives
 * "12.00".
 *
 * The text is read with M_decimal_from_str (m_decimal.h), rescaled to 2
 * places with M_decimal_transform and written with M_decimal_to_str. Only
 * white space may follow the number: reading just the number at the start
 * would turn "1,234.56" into "1.00", a wrong amount rather than a refusal.
 *
 * s: NULL or empty yields NULL.
 *
 * Returns a new string that the caller frees with M_free, or NULL when the
 * text does not read exactly (M_decimal_from_str reports anything but
 * success: "-.05", "abc", digits beyond 64 bits), has other text after the
 * number ("1,234.56", "12abc"), or needs more than two decimals ("1.234":
 * rescaling would round it). */
M_API char *M_str_dot_money_out(const char *s) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_STR_NUM_H */
