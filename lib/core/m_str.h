/* Strings: NUL-terminated byte strings, NULL-tolerant everywhere.
 *
 * Conventions of every function here:
 * - A string is a char array ending in a 0 byte; lengths are size_t and never
 *   count the terminator.
 * - A NULL string is a legal argument and counts as the empty string unless
 *   the function says otherwise.
 * - Every string a function returns newly made is a block of the allocator
 *   (m_mem.h): the caller frees it with M_free. Running out of memory ends
 *   the process inside the allocator, so NULL results mean only what each
 *   function says.
 * - In-place functions (M_str_trim, M_str_lower, ...) change the caller's
 *   string and never make it longer.
 * - Character classes are ASCII only (m_chr.h); nothing reads the locale.
 * - Equality tests (M_str_eq and relatives) examine every byte pair up to
 *   the end of the shorter string (or the limit), folding differences into
 *   an accumulator instead of returning at the first difference.
 */
#ifndef M_STR_H
#define M_STR_H

#include "core/m_defs.h"
#include "core/m_chr.h"

M_BEGIN_DECLS

/* Justification types, taken by M_str_justify, M_str_justify_max,
 * M_strdup_justify and the justified appends of the byte buffer.
 *
 * "Shorter" input is padded with the fill character to the width; "longer"
 * input is cut to the width, keeping its last or first characters, or the
 * operation is refused. */
typedef enum {
	M_STR_JUSTIFY_RIGHT              = 0, /* pad left;  cut keeps the last characters */
	M_STR_JUSTIFY_LEFT               = 1, /* pad right; cut keeps the last characters */
	M_STR_JUSTIFY_RIGHT_TRUNC_RIGHT  = 2, /* pad left;  cut keeps the first characters */
	M_STR_JUSTIFY_LEFT_TRUNC_RIGHT   = 3, /* pad right; cut keeps the first characters */
	M_STR_JUSTIFY_RIGHT_NOTRUNC      = 4, /* pad left;  longer input refused */
	M_STR_JUSTIFY_LEFT_NOTRUNC       = 5, /* pad right; longer input refused */
	M_STR_JUSTIFY_TRUNC_RIGHT        = 6, /* no padding; cut keeps the first characters */
	M_STR_JUSTIFY_TRUNC_LEFT         = 7, /* no padding; cut keeps the last characters */
	M_STR_JUSTIFY_CENTER             = 8, /* pad both sides; cut keeps the last characters */
	M_STR_JUSTIFY_CENTER_TRUNC_RIGHT = 9, /* pad both sides; cut keeps the first characters */
	M_STR_JUSTIFY_CENTER_NOTRUNC     = 10 /* pad both sides; longer input refused */
} M_str_justify_type_t;

/* Flags of M_str_implode. */
enum {
	M_STR_IMPLODE_NONE         = 0,     /* quote a piece only when it needs it */
	M_STR_IMPLODE_ALWAYS_QUOTE = 1 << 0 /* quote every piece */
};

/* Flags of M_str_explode_lines. */
enum {
	M_STR_EXPLODE_LINES_NONE     = 0,     /* text that does not fit is refused (NULL) */
	M_STR_EXPLODE_LINES_TRUNCATE = 1 << 0 /* text beyond max_lines lines is dropped */
};

/* ===========================================================================
 * Length, emptiness, copies
 * ========================================================================= */

/* Length of s. s: NULL yields 0. */
M_API size_t M_str_len(const char *s);

/* Length of s, but at most max characters are examined.
 * s: NULL yields 0. max: 0 yields 0; SIZE_MAX means no limit. */
M_API size_t M_str_len_max(const char *s, size_t max);

/* M_TRUE when s is NULL or its first byte is 0.
 * NULL: yields M_TRUE. */
M_API M_bool M_str_isempty(const char *s);

/* s itself, or a static empty string when s is NULL (never free the
 * result). */
M_API const char *M_str_safe(const char *s);

/* A copy of s in a new block (free with M_free).
 * s: NULL yields NULL; an empty string yields a new empty string. */
M_API char *M_strdup(const char *s) M_WARN_UNUSED_RESULT;

/* A copy of at most max characters of s in a new block (free with M_free).
 * s: NULL yields NULL. max 0 yields a new empty string. */
M_API char *M_strdup_max(const char *s, size_t max) M_WARN_UNUSED_RESULT;

/* A copy of s with M_str_upper applied; the _max form copies at most max
 * characters first. s: NULL yields NULL. Returns a new string (free with
 * M_free). */
M_API char *M_strdup_upper(const char *s) M_WARN_UNUSED_RESULT;
M_API char *M_strdup_upper_max(const char *s, size_t max) M_WARN_UNUSED_RESULT;

/* A copy of s with M_str_lower applied; the _max form copies at most max
 * characters first. s: NULL yields NULL. Returns a new string (free with
 * M_free). */
M_API char *M_strdup_lower(const char *s) M_WARN_UNUSED_RESULT;
M_API char *M_strdup_lower_max(const char *s, size_t max) M_WARN_UNUSED_RESULT;

/* A copy of s with M_str_title applied; the _max form copies at most max
 * characters first. s: NULL yields NULL. Returns a new string (free with
 * M_free). */
M_API char *M_strdup_title(const char *s) M_WARN_UNUSED_RESULT;
M_API char *M_strdup_title_max(const char *s, size_t max) M_WARN_UNUSED_RESULT;

/* A copy of s with M_str_trim applied; the _max form copies at most max
 * characters first. s: NULL yields NULL. Returns a new string (free with
 * M_free). */
M_API char *M_strdup_trim(const char *s) M_WARN_UNUSED_RESULT;
M_API char *M_strdup_trim_max(const char *s, size_t max) M_WARN_UNUSED_RESULT;

/* A new string: s justified to width characters (see M_str_justify_max).
 * s: NULL counts as empty.
 * Returns the new string (free with M_free), or NULL when the justification
 * is refused (type above 10, or s longer than width with a refusing type). */
M_API char *M_strdup_justify(const char *s, M_str_justify_type_t type, char fill, size_t width) M_WARN_UNUSED_RESULT;

/* A copy of s with M_str_unquote applied (the _max form copies at most max
 * characters first). s: NULL yields NULL. Free the result with M_free. */
M_API char *M_strdup_unquote(const char *s, char quote, char escape) M_WARN_UNUSED_RESULT;
M_API char *M_strdup_unquote_max(const char *s, char quote, char escape, size_t max) M_WARN_UNUSED_RESULT;

/* A copy of s in which every character found in set (set_len bytes) is
 * replaced by the string replacement.
 * s: NULL yields NULL. set: NULL or set_len 0 replaces nothing (plain copy).
 * replacement: NULL counts as empty (the characters are removed).
 * Free the result with M_free. */
M_API char *M_strdup_replace_charset(const char *s, const unsigned char *set, size_t set_len,
                                     const char *replacement) M_WARN_UNUSED_RESULT;

/* A copy of s in which every non-overlapping occurrence of search, from left
 * to right, is replaced by replacement.
 * s: NULL yields NULL. search: NULL or empty replaces nothing (plain copy).
 * replacement: NULL counts as empty. Free the result with M_free. */
M_API char *M_strdup_replace_str(const char *s, const char *search, const char *replacement) M_WARN_UNUSED_RESULT;

/* Copy src into dest (dest_size bytes): at most dest_size - 1 bytes and a
 * terminator; a longer src is cut silently.
 * dest: NULL yields M_FALSE. src: NULL gives an empty dest.
 * Returns M_FALSE only when dest is NULL or dest_size is 0 (dest unchanged). */
M_API M_bool M_str_cpy(char *dest, size_t dest_size, const char *src);

/* Append src to the string in dest (dest_size bytes in all) when the joined
 * string and its terminator fit.
 * dest, src: NULL yields M_FALSE.
 * Returns M_FALSE (dest unchanged) for any NULL argument, dest_size 0, a
 * dest that is not terminated within dest_size, or when the result would not
 * fit; M_TRUE otherwise. */
M_API M_bool M_str_cat(char *dest, size_t dest_size, const char *src);

/* ===========================================================================
 * In-place changes. Each yields s (NULL for NULL).
 * ========================================================================= */

/* ASCII letters to upper or lower case; the _max forms touch at most the
 * first max characters. s: NULL yields NULL; otherwise yields s. */
M_API char *M_str_upper(char *s);
M_API char *M_str_upper_max(char *s, size_t max);
M_API char *M_str_lower(char *s);
M_API char *M_str_lower_max(char *s, size_t max);

/* Title case: the first character and every character that follows white
 * space are upper-cased, all others lower-cased; the _max form touches at
 * most the first max characters. s: NULL yields NULL; otherwise yields s. */
M_API char *M_str_title(char *s);
M_API char *M_str_title_max(char *s, size_t max);

/* Remove white space (M_chr_isspace) from both ends, moving the rest to the
 * start. A string of white space only becomes empty.
 * s: NULL yields NULL; otherwise yields s. */
M_API char *M_str_trim(char *s);

/* M_str_trim on at most the first max characters: the string is first cut
 * after max characters (a 0 is written there when it is longer), then
 * trimmed. max 0 leaves s unchanged. s: NULL yields NULL; otherwise s. */
M_API char *M_str_trim_max(char *s, size_t max);

/* Remove every white space character (M_chr_isspace).
 * s: NULL yields NULL; otherwise yields s. */
M_API char *M_str_delete_spaces(char *s);

/* Remove every line feed and carriage return.
 * s: NULL yields NULL; otherwise yields s. */
M_API char *M_str_delete_newlines(char *s);

/* Replace every byte b by a. a = 0 is refused (s unchanged), since it would
 * cut the string; so is b = 0. s: NULL yields NULL; otherwise yields s. */
M_API char *M_str_replace_chr(char *s, char b, char a);

/* Write 0 over the first ch in s and yield the character after it, or the
 * end of s (its terminator) when ch does not occur.
 * s: NULL yields NULL. ch 0 yields NULL. The result points into s. */
M_API char *M_str_split_on_char(char *s, char ch);

/* ===========================================================================
 * Search
 * ========================================================================= */

/* First (M_str_chr) or last (M_str_rchr) occurrence of ch in s.
 * s: NULL yields NULL. ch 0 yields NULL (the terminator is not searched).
 * The result points into s. */
M_API char *M_str_chr(const char *s, char ch);
M_API char *M_str_rchr(const char *s, char ch);

/* First occurrence of needle in hay.
 * hay: NULL yields NULL. needle: NULL or empty yields hay.
 * The result points into hay. */
M_API char *M_str_str(const char *hay, const char *needle);

/* M_str_str ignoring ASCII case. */
M_API char *M_str_casestr(const char *hay, const char *needle);

/* Offset of the M_str_casestr match, or SIZE_MAX when there is none or
 * either string is NULL. */
M_API size_t M_str_casestr_pos(const char *hay, const char *needle);

/* First character of s that is in set.
 * s, set: NULL or empty yields NULL. The result points into s. */
M_API char *M_str_find_first_from_charset(const char *s, const char *set);

/* First character of s that is not in set; NULL when there is none.
 * s: NULL or empty yields NULL. set: NULL or empty yields s itself.
 * The result points into s. */
M_API char *M_str_find_first_not_from_charset(const char *s, const char *set);

/* ===========================================================================
 * Predicates over every character. NULL and the empty string pass every
 * class test (callers that need at least one character check the length).
 * The _max forms examine at most max characters.
 * ========================================================================= */

/* M_TRUE when pred holds for every character of s (at most max characters
 * for the _max form; max 0 examines nothing and yields M_TRUE).
 * s: NULL or empty yields M_TRUE. pred: NULL yields M_FALSE.
 * NULL: yields M_FALSE (pred is checked first). */
M_API M_bool M_str_ispredicate(const char *s, M_chr_predicate_func pred);
M_API M_bool M_str_ispredicate_max(const char *s, size_t max, M_chr_predicate_func pred);

/* M_TRUE when every character of s is one of: decimal digits 0 to 9 (M_chr_isdigit).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isnum(const char *s);
M_API M_bool M_str_isnum_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: hexadecimal digits, either case (M_chr_ishex).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_ishex(const char *s);
M_API M_bool M_str_ishex_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: letters and digits (M_chr_isalnum).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isalnum(const char *s);
M_API M_bool M_str_isalnum_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: letters, digits and space (M_chr_isalnumsp).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isalnumsp(const char *s);
M_API M_bool M_str_isalnumsp_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: letters (M_chr_isalpha).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isalpha(const char *s);
M_API M_bool M_str_isalpha_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: letters and space (M_chr_isalphasp).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isalphasp(const char *s);
M_API M_bool M_str_isalphasp_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: white space (M_chr_isspace).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isspace(const char *s);
M_API M_bool M_str_isspace_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: 7-bit ASCII (M_chr_isascii).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isascii(const char *s);
M_API M_bool M_str_isascii_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: visible characters (M_chr_isgraph).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isgraph(const char *s);
M_API M_bool M_str_isgraph_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: printable characters, 9 to 13 included (M_chr_isprint).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isprint(const char *s);
M_API M_bool M_str_isprint_max(const char *s, size_t max);

/* M_TRUE when every character of s is one of: digits and "." (M_chr_isdec).
 * s: NULL or empty yields M_TRUE. The _max form examines at most max. */
M_API M_bool M_str_isdec(const char *s);
M_API M_bool M_str_isdec_max(const char *s, size_t max);

/* M_TRUE when every character of s is in set (M_str_ischarset), or when no
 * character of s is in set (M_str_isnotcharset).
 * s: NULL or empty yields M_TRUE. set: NULL counts as empty. */
M_API M_bool M_str_ischarset(const char *s, const char *set);
M_API M_bool M_str_isnotcharset(const char *s, const char *set);

/* M_TRUE when s holds only digits and at most one ".", with at most two
 * digits after it. NULL or empty is M_FALSE. */
M_API M_bool M_str_ismoney(const char *s);

/* M_TRUE when the len bytes at bytes hold exactly one terminated string: the
 * last byte is 0, no earlier byte is 0, and every character passes
 * M_chr_isprint. bytes: NULL or len 0 yields M_FALSE. */
M_API M_bool M_str_isstr(const unsigned char *bytes, size_t len);

/* M_TRUE when s equals, ignoring case, "yes", "y", "true", "t", "1" or
 * "on". NULL or empty is M_FALSE. */
M_API M_bool M_str_istrue(const char *s);

/* ===========================================================================
 * Comparison
 * ========================================================================= */

/* Equality. The same pointer (NULL included) is equal; NULL equals NULL and
 * the empty string. Every byte pair is examined.
 * NULL: yields M_TRUE. */
M_API M_bool M_str_eq(const char *a, const char *b);

/* Equality of the first max characters; max 0 means no limit. Same NULL
 * rules as M_str_eq.
 * NULL: yields M_TRUE. */
M_API M_bool M_str_eq_max(const char *a, const char *b, size_t max);

/* M_str_eq and M_str_eq_max ignoring ASCII case.
 * NULL: yields M_TRUE.
 * NULL: yields M_TRUE. */
M_API M_bool M_str_caseeq(const char *a, const char *b);
M_API M_bool M_str_caseeq_max(const char *a, const char *b, size_t max);

/* M_TRUE when s begins with prefix: M_str_eq_max(s, prefix, length of
 * prefix). Because a length of 0 means no limit, an empty or NULL prefix
 * matches only a NULL or empty s. */
M_API M_bool M_str_eq_start(const char *s, const char *prefix);
M_API M_bool M_str_caseeq_start(const char *s, const char *prefix);

/* M_TRUE when s ends with suffix. s, suffix: NULL yields M_FALSE. A suffix
 * longer than s yields M_FALSE; an empty suffix always matches. */
M_API M_bool M_str_eq_end(const char *s, const char *suffix);
M_API M_bool M_str_caseeq_end(const char *s, const char *suffix);

/* Orders for sorting, as strcmp: negative, 0 or positive, comparing bytes as
 * unsigned values. NULL sorts as the empty string; the same pointer is
 * equal. The _max forms compare at most max characters (max 0: equal); the
 * case forms compare lower-cased bytes.
 * NULL: yields 0.
 * NULL: yields 0.
 * NULL: yields 0.
 * NULL: yields 0. */
M_API int M_str_cmpsort(const char *a, const char *b);
M_API int M_str_cmpsort_max(const char *a, const char *b, size_t max);
M_API int M_str_casecmpsort(const char *a, const char *b);
M_API int M_str_casecmpsort_max(const char *a, const char *b, size_t max);

/* ===========================================================================
 * Justification
 * ========================================================================= */

/* Write src_len bytes of src justified to width characters into dest
 * (dest_size bytes), followed by a terminator.
 *
 * Refused (0 returned, dest unchanged) when width is not below dest_size,
 * when type is above 10, or when src_len exceeds width and the type is a
 * refusing one (4, 5, 10). Longer input is cut as its type says; the output
 * is width characters long except for types 6 and 7 with input not longer
 * than width, which only cut and never pad. Center types put (n + 1) / 2 of
 * n fill characters on the left and n / 2 on the right.
 *
 * dest: NULL refuses. src: NULL counts as empty (src_len is then ignored).
 * dest and src may be the same or overlapping memory.
 * Returns the output length, or 0 when refused (also for an empty result). */
M_API size_t M_str_justify_max(char *dest, size_t dest_size, const char *src, size_t src_len, M_str_justify_type_t type,
                               char fill, size_t width);

/* M_str_justify_max with src_len = M_str_len(src). */
M_API size_t M_str_justify(char *dest, size_t dest_size, const char *src, M_str_justify_type_t type, char fill,
                           size_t width);

/* ===========================================================================
 * Quoting
 *
 * A quoted string is the text between two quote characters, in which a quote
 * or escape character standing for itself is preceded by the escape
 * character. When escape equals quote (the CSV convention) a quote inside is
 * written twice.
 * ========================================================================= */

/* A new string: s wrapped in quote characters, with every quote and escape
 * character inside preceded by escape. The _max form quotes at most max
 * characters of s.
 * s: NULL counts as empty (the result is two quote characters).
 * quote 0 yields NULL; escape 0 means quote characters are doubled.
 * Free the result with M_free. */
M_API char *M_str_quote(const char *s, char quote, char escape) M_WARN_UNUSED_RESULT;
M_API char *M_str_quote_max(const char *s, char quote, char escape, size_t max) M_WARN_UNUSED_RESULT;

/* Quote s only when it needs it: when it begins or ends with white
 * space, or contains quote, escape, delim, a line feed or a carriage return.
 * out: receives the new quoted string (free with M_free) when quoting was
 *      needed, else NULL; NULL out yields M_FALSE.
 * s: NULL yields M_FALSE and *out NULL.
 * Returns M_TRUE when *out received a quoted copy. */
M_API M_bool M_str_quote_if_necessary(char **out, const char *s, char quote, char escape, char delim);

/* In place: when s (after trimming white space) begins and ends with quote,
 * remove those two characters and the escape character in front of each
 * escaped character. Text that is not quoted is only trimmed. The _max form
 * works on at most the first max characters (the string is cut there).
 * s: NULL yields NULL. Yields s. */
M_API char *M_str_unquote(char *s, char quote, char escape);
M_API char *M_str_unquote_max(char *s, char quote, char escape, size_t max);

/* In place: remove (M_str_remove_quoted) or keep only (M_str_keep_quoted)
 * the quoted parts of s, quote characters included in what is removed and
 * excluded from what is kept. An escaped quote inside a quoted part does not
 * end it. s: NULL yields NULL. Yields s. */
M_API char *M_str_remove_quoted(char *s, char quote, char escape);
M_API char *M_str_keep_quoted(char *s, char quote, char escape);

/* In place: remove or keep only the parts of s between open and close
 * (brackets do not nest: the first close ends a part). The brackets
 * themselves are removed in both cases. An unclosed part runs to the end.
 * s: NULL yields NULL. Yields s. */
M_API char *M_str_remove_bracketed(char *s, char open, char close);
M_API char *M_str_keep_bracketed(char *s, char open, char close);

/* As the bracketed forms, but brackets inside quoted text (between quote
 * characters, with escape) do not count. */
M_API char *M_str_remove_bracketed_quoted(char *s, char open, char close, char quote, char escape);
M_API char *M_str_keep_bracketed_quoted(char *s, char open, char close, char quote, char escape);

/* ===========================================================================
 * Splitting and joining
 *
 * An exploded string is an array of char pointers plus a count. All pieces
 * lie in one block, a copy of the input in which each delimiter has been
 * replaced by 0; the first entry points at the start of that block. Free it
 * with M_str_explode_free(parts, count). The pieces may be changed in place
 * but not freed individually.
 * ========================================================================= */

/* Split s at every byte delim. Consecutive delimiters give empty pieces and
 * a trailing delimiter an empty last piece: "a,,b," is "a", "", "b", "".
 * s: NULL or empty yields NULL. count: receives the number of pieces (0 on
 *   NULL result); NULL count yields NULL.
 * Returns the pieces (free with M_str_explode_free). */
M_API char **M_str_explode_str(unsigned char delim, const char *s, size_t *count) M_WARN_UNUSED_RESULT;

/* Split the len bytes at bytes (which may contain 0 bytes) at every delim.
 * lengths: when not NULL, receives a new array of the pieces' lengths (free
 *   with M_free; NULL when the result is NULL).
 * bytes: NULL or len 0 yields NULL. count: as M_str_explode_str. */
M_API char **M_str_explode(unsigned char delim, const char *bytes, size_t len, size_t *count,
                           size_t **lengths) M_WARN_UNUSED_RESULT;

/* As M_str_explode, but a delimiter between quote characters does not split
 * (escape protects a quote inside quotes; escape equal to quote means a
 * doubled quote). The quotes stay in the pieces. max_pieces limits the
 * number of pieces: the last piece holds the rest of the text, delimiters
 * included; 0 means no limit. */
M_API char **M_str_explode_quoted(unsigned char delim, const char *bytes, size_t len, char quote, char escape,
                                  size_t max_pieces, size_t *count, size_t **lengths) M_WARN_UNUSED_RESULT;

/* M_str_explode_quoted over a terminated string, without lengths. */
M_API char **M_str_explode_str_quoted(unsigned char delim, const char *s, char quote, char escape, size_t max_pieces,
                                      size_t *count) M_WARN_UNUSED_RESULT;

/* Split text into at most max_lines lines of at most max_chars characters.
 * A line feed ends a line (an empty line between two line feeds is kept; a
 * final line feed adds no line); a line longer than max_chars is wrapped at
 * the last white space that fits, or cut at max_chars when a word is longer.
 * White space at the start and at the end of each line is skipped (so a
 * carriage return before a line feed disappears).
 * s: NULL or empty yields NULL. max_lines, max_chars: 0 yields NULL.
 * flags: M_STR_EXPLODE_LINES_TRUNCATE drops what does not fit into
 *   max_lines lines; without it, such text yields NULL.
 * count: receives the number of lines; NULL yields NULL.
 * Returns the lines (free with M_str_explode_free). */
M_API char **M_str_explode_lines(size_t max_lines, size_t max_chars, const char *s, unsigned int flags,
                                 size_t *count) M_WARN_UNUSED_RESULT;

/* Split s at every delim (the pieces of M_str_explode_str) and convert each
 * piece with M_str_to_int64 (base 10, white space allowed, saturating). One
 * value per piece: an empty or digitless piece gives 0, so "1,,2" gives
 * 1, 0, 2.
 * s: NULL or empty yields NULL. count: receives the number of values (0 on a
 *   NULL result); NULL count yields NULL.
 * Returns a new array of count values (free with M_free). */
M_API int64_t *M_str_explode_int(unsigned char delim, const char *s, size_t *count) M_WARN_UNUSED_RESULT;

/* Free an exploded string: the pieces' block (when count is above 0), then
 * the array. parts: NULL is ignored. */
M_API void M_str_explode_free(char **parts, size_t count);

/* Join count strings into one new string separated by delim. A piece is
 * quoted (as M_str_quote_if_necessary decides, or always with
 * M_STR_IMPLODE_ALWAYS_QUOTE) with quote and escape; quote 0 never quotes.
 * parts: NULL or count 0 yields NULL; NULL entries count as empty.
 * Returns the new string (free with M_free). */
M_API char *M_str_implode(unsigned char delim, char quote, char escape, char **parts, size_t count,
                          unsigned int flags) M_WARN_UNUSED_RESULT;

/* Join count integers as decimal text separated by delim.
 * values: NULL or count 0 yields NULL. Free the result with M_free. */
M_API char *M_str_implode_int(unsigned char delim, const int64_t *values, size_t count) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_STR_H */
