/* Character classes and conversions: plain ASCII rules, independent of any
 * locale.
 *
 * Every function takes one byte as a char and looks only at its value in the
 * range 0 to 255; bytes 128 to 255 belong to no class (except that nothing
 * is said about them by M_chr_isascii, which is false for them). No function
 * here reads the process locale, so the same byte always gives the same
 * answer, whatever setlocale() was told.
 *
 * None of these functions takes a pointer, allocates, or keeps state.
 */
#ifndef M_CHR_H
#define M_CHR_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* A character class as a function, taken by the string predicates
 * (M_str_ispredicate) and by the parser's consume operations. */
typedef M_bool (*M_chr_predicate_func)(char c);

/* ---------------------------------------------------------------------------
 * Classes. Each returns M_TRUE when c belongs to the class, else M_FALSE.
 * ------------------------------------------------------------------------- */

/* White space: 9 to 13 (tab, line feed, vertical tab, form feed, carriage
 * return) and space (32). */
M_API M_bool M_chr_isspace(char c);

/* Blank: space and tab only. */
M_API M_bool M_chr_isblank(char c);

/* Control characters: 0 to 31 and 127. */
M_API M_bool M_chr_iscntrl(char c);

/* 7-bit ASCII: 0 to 127. */
M_API M_bool M_chr_isascii(char c);

/* Visible characters: 33 to 126 (no space). */
M_API M_bool M_chr_isgraph(char c);

/* Printable: 32 to 126, and also the white space controls 9 to 13, so that
 * text with tabs and line breaks counts as printable. */
M_API M_bool M_chr_isprint(char c);

/* Upper-case letter A to Z. */
M_API M_bool M_chr_isupper(char c);

/* Lower-case letter a to z. */
M_API M_bool M_chr_islower(char c);

/* Letter of either case. */
M_API M_bool M_chr_isalpha(char c);

/* Letter of either case, or space. */
M_API M_bool M_chr_isalphasp(char c);

/* Decimal digit 0 to 9. */
M_API M_bool M_chr_isdigit(char c);

/* Decimal digit 0 to 9, or "." (a character of a decimal number). */
M_API M_bool M_chr_isdec(char c);

/* Letter or decimal digit. */
M_API M_bool M_chr_isalnum(char c);

/* Letter, decimal digit, or space. */
M_API M_bool M_chr_isalnumsp(char c);

/* Hexadecimal digit: 0 to 9, A to F, a to f. */
M_API M_bool M_chr_ishex(char c);

/* Punctuation: a visible character (M_chr_isgraph) that is neither a letter
 * nor a digit. */
M_API M_bool M_chr_ispunct(char c);

/* ---------------------------------------------------------------------------
 * Conversions
 * ------------------------------------------------------------------------- */

/* The upper-case form of an ASCII letter a to z; any other byte comes back
 * unchanged. */
M_API char M_chr_toupper(char c);

/* The lower-case form of an ASCII letter A to Z; any other byte comes back
 * unchanged. */
M_API char M_chr_tolower(char c);

/* The value 0 to 9 of a decimal digit; -1 for any other byte. */
M_API int M_chr_digit(char c);

/* The value 0 to 15 of a hexadecimal digit (either case); -1 for any other
 * byte. */
M_API int M_chr_xdigit(char c);

M_END_DECLS

#endif /* M_CHR_H */
