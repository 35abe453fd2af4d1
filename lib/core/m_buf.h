/* Byte buffer: the library's one growable byte buffer.
 *
 * Text and binary output are built by appending to an M_buf_t; file contents
 * and decrypted data are read into it through a direct-write window; consumed
 * bytes are removed from its front without moving the rest; and when building
 * is done its storage is handed to the caller as a plain NUL-terminated block
 * (M_buf_finish, M_buf_finish_str) that is released with M_free.
 *
 * Layout (opaque to callers): a storage pointer and three unsigned 64-bit
 * counts, the capacity (alloc_size), the content length (data_length) and the
 * number of dropped bytes at the front (offset). The storage block, once it
 * exists, is always alloc_size + 1 bytes, and the byte after the content is
 * always 0, so content without embedded zero bytes reads as a C string.
 *
 * Growth: the first write allocates a capacity of 1024 (or, for a larger first
 * write, 2048 doubled until it fits); later growth doubles the capacity until
 * the content fits. Bytes dropped from the front are reclaimed only when space
 * runs short, by one move of the content to the start of the storage. A
 * capacity that would overflow when doubled makes the write a silent no-op.
 * Running out of memory ends the process inside the allocator (m_mem.h).
 *
 * Wipe: every byte that leaves the buffer other than by finishing (cut off the
 * end, dropped off the front, or left in a block that growth replaced) is
 * overwritten with 0xFF, so key material never lingers in freed memory.
 *
 * NULL: every function accepts a NULL buffer and then changes nothing; query
 * functions yield 0 or NULL; functions with an M_bool result still check their
 * other arguments and yield the result of that check (so a NULL buffer with a
 * representable value yields M_TRUE), except M_buf_add_bytes_hex which yields
 * M_FALSE. A NULL string counts as empty.
 *
 * Failure: functions that yield M_FALSE leave the buffer unchanged.
 *
 * Borrowed pointers: the result of M_buf_peek and a direct-write window stay
 * valid only until the next call that may grow, compact, finish or cancel the
 * buffer -- that is, any append, M_buf_direct_write_start, M_buf_finish,
 * M_buf_finish_str, M_buf_cancel, M_buf_merge or a join that takes the buffer
 * as destination. M_buf_truncate, M_buf_drop, M_buf_trim and
 * M_buf_direct_write_end never move the storage.
 *
 * Concurrency: none; a buffer belongs to one thread at a time.
 */
#ifndef M_BUF_H
#define M_BUF_H

#include "core/m_defs.h"
#include "core/m_str.h"

M_BEGIN_DECLS

/* The buffer object. Opaque: use the functions below. */
struct M_buf;
typedef struct M_buf M_buf_t;

/* Transformation flags for M_buf_add_str_transform and
 * M_buf_add_str_just_transform; combinable with bitwise OR. The steps run in
 * the order listed, each on the appended part only. */
typedef enum {
	M_BUF_TRANSFORM_NONE  = 0, /* append unchanged */
	M_BUF_TRANSFORM_UPPER = 1, /* ASCII letters to upper case */
	M_BUF_TRANSFORM_LOWER = 2, /* ASCII letters to lower case */
	M_BUF_TRANSFORM_LTRIM = 4, /* remove leading white space */
	M_BUF_TRANSFORM_RTRIM = 8  /* remove trailing white space */
} M_buf_transform_type_t;

/* Flags for M_buf_add_str_quoted; combinable with bitwise OR. */
typedef enum {
	M_BUF_QUOTE_FLAG_NONE   = 0, /* quote only when the string needs it */
	M_BUF_QUOTE_FLAG_ALWAYS = 1, /* always enclose in quote characters */
	M_BUF_QUOTE_FLAG_EMPTY  = 2  /* enclose an empty (or NULL) string, giving
	                              * two quote characters rather than nothing */
} M_buf_quote_flags_t;

/* ---------------------------------------------------------------------------
 * Lifetime and access
 * ------------------------------------------------------------------------- */

/* Create a new, empty buffer. No storage is allocated until the first write.
 *
 * Returns the buffer; the caller owns it and ends it with M_buf_cancel,
 * M_buf_finish or M_buf_finish_str. Never NULL (out of memory ends the
 * process). */
M_API M_buf_t *M_buf_create(void) M_WARN_UNUSED_RESULT;

/* Free the buffer and its storage (both wiped with 0xFF by M_free).
 *
 * buf: NULL is ignored.
 *
 * Invalidates every borrowed pointer into the buffer, and buf itself. */
M_API void M_buf_cancel(M_buf_t *buf);

/* End the buffer and hand its storage to the caller.
 *
 * If bytes were dropped from the front, the content is first moved to the
 * start of the storage and terminated there. The structure is freed.
 *
 * buf:     NULL yields NULL (and a length of 0).
 * out_len: receives the content length; NULL when not wanted.
 *
 * Returns the storage, NUL-terminated after the content, owned by the caller
 * (free with M_free); NULL (length 0) when nothing was ever written to the
 * buffer. Invalidates every borrowed pointer into the buffer, and buf. */
M_API unsigned char *M_buf_finish(M_buf_t *buf, size_t *out_len) M_WARN_UNUSED_RESULT;

/* M_buf_finish typed as yielding a string.
 *
 * buf:     NULL yields NULL.
 * out_len: receives the content length; NULL when not wanted.
 *
 * Returns the string (free with M_free). A buffer to which nothing was ever
 * written yields NULL, not an empty string; a buffer that held bytes and was
 * truncated to 0 yields an empty string. Invalidates every borrowed pointer
 * into the buffer, and buf. */
M_API char *M_buf_finish_str(M_buf_t *buf, size_t *out_len) M_WARN_UNUSED_RESULT;

/* Number of content bytes.
 *
 * buf: NULL yields 0. */
M_API size_t M_buf_len(const M_buf_t *buf);

/* Capacity of the storage, not counting the terminator byte: 1024 while no
 * storage exists, afterwards a power of two of at least 1024.
 *
 * buf: NULL yields 0. */
M_API size_t M_buf_alloc_size(const M_buf_t *buf);

/* Borrow the content: a pointer to the first content byte, followed after
 * M_buf_len bytes by a 0 byte.
 *
 * buf: NULL yields NULL.
 *
 * Returns a borrowed pointer (do not free), valid until the next call that
 * may grow, compact, finish or cancel the buffer; NULL while no storage
 * exists. */
M_API const char *M_buf_peek(const M_buf_t *buf);

/* Shorten the content to len bytes. When the content is longer than len and
 * storage exists, the cut-off bytes are overwritten with 0xFF and a terminator
 * is written after the new end; otherwise nothing happens (a buffer is never
 * lengthened). M_buf_truncate(buf, 0) empties a buffer for reuse; dropped
 * bytes at the front stay dropped.
 *
 * buf: NULL is ignored.
 *
 * Borrowed pointers stay valid (the storage does not move). */
M_API void M_buf_truncate(M_buf_t *buf, size_t len);

/* Remove up to n bytes from the front of the content, in constant time: n is
 * limited to the content length, the removed bytes are overwritten with 0xFF
 * and nothing is moved.
 *
 * buf: NULL is ignored.
 *
 * A pointer from M_buf_peek keeps pointing at the same storage, which no
 * longer starts the content; call M_buf_peek again. */
M_API void M_buf_drop(M_buf_t *buf, size_t n);

/* Remove white space (tab, line feed, vertical tab, form feed, carriage
 * return, space) from the end, as M_buf_truncate does, then from the front,
 * as M_buf_drop does.
 *
 * buf: NULL is ignored. */
M_API void M_buf_trim(M_buf_t *buf);

/* Open a direct-write window just past the content.
 *
 * len: on entry the number of bytes the caller wants to write (above 0); the
 *      buffer makes room for them by the growth rule. On return it holds the
 *      whole room now available at the window, which may exceed the request.
 *      NULL, or 0 on entry, yields NULL.
 * buf: NULL yields NULL (len untouched).
 *
 * Returns a borrowed pointer to write at most *len bytes to; NULL when the
 * arguments are refused or the capacity would overflow. Close the window with
 * M_buf_direct_write_end. Invalidates earlier borrowed pointers. */
M_API unsigned char *M_buf_direct_write_start(M_buf_t *buf, size_t *len) M_WARN_UNUSED_RESULT;

/* Close a direct-write window: the content grows by len, the number of bytes
 * actually written into the window, and a terminator is written after it.
 *
 * buf: NULL is ignored.
 * len: 0 does nothing. A len larger than the room of the window is refused
 *      (nothing changes), so a caller's mistake cannot push the content past
 *      the storage.
 *
 * Borrowed pointers stay valid. */
M_API void M_buf_direct_write_end(M_buf_t *buf, size_t len);

/* ---------------------------------------------------------------------------
 * Appending bytes and strings
 *
 * Every append goes at the end of the content and grows the buffer by the
 * growth rule; none copies a terminator from its input. Appends invalidate
 * borrowed pointers into the buffer.
 * ------------------------------------------------------------------------- */

/* Append len bytes.
 *
 * buf:   NULL is ignored.
 * bytes: NULL (or len 0) does nothing. bytes may point into the buffer's own
 *        storage (for instance a pointer from M_buf_peek): the bytes are
 *        appended as they read on entry, even though the buffer grows or
 *        compacts. The same holds for every input of the appends below. */
M_API void M_buf_add_bytes(M_buf_t *buf, const void *bytes, size_t len);

/* Append one byte.
 *
 * buf: NULL is ignored. */
M_API void M_buf_add_byte(M_buf_t *buf, unsigned char byte);

/* Append one character.
 *
 * buf: NULL is ignored. */
M_API void M_buf_add_char(M_buf_t *buf, char ch);

/* Append count copies of byte.
 *
 * buf: NULL is ignored. */
M_API void M_buf_add_fill(M_buf_t *buf, unsigned char byte, size_t count);

/* Append the characters of a string, without its terminator.
 *
 * buf: NULL is ignored.
 * str: NULL or empty does nothing. */
M_API void M_buf_add_str(M_buf_t *buf, const char *str);

/* Append a string with every ASCII letter upper-cased.
 *
 * buf: NULL is ignored.
 * str: NULL or empty does nothing. */
M_API void M_buf_add_str_upper(M_buf_t *buf, const char *str);

/* Append a string with every ASCII letter lower-cased.
 *
 * buf: NULL is ignored.
 * str: NULL or empty does nothing. */
M_API void M_buf_add_str_lower(M_buf_t *buf, const char *str);

/* Append str, then apply to the appended part only, in this order:
 * upper-casing (M_BUF_TRANSFORM_UPPER), lower-casing (M_BUF_TRANSFORM_LOWER),
 * removal of leading white space (M_BUF_TRANSFORM_LTRIM), removal of trailing
 * white space (M_BUF_TRANSFORM_RTRIM). Bits outside these four are ignored.
 *
 * buf: NULL is ignored.
 * str: NULL or empty does nothing. */
M_API void M_buf_add_str_transform(M_buf_t *buf, uint32_t flags, const char *str);

/* The transformation steps, usable on any writable region: each takes the
 * region (start, length) and yields its new length. The upper and lower steps
 * change only ASCII letters and keep the length; the left trim moves the rest
 * of the region forward over leading white space; the right trim only
 * shortens. No terminator is written.
 *
 * start: NULL (or len 0) yields 0 and changes nothing. */
M_API size_t M_buf_transform_upper_cb(char *start, size_t len);
M_API size_t M_buf_transform_lower_cb(char *start, size_t len);
M_API size_t M_buf_transform_ltrim_cb(char *start, size_t len);
M_API size_t M_buf_transform_rtrim_cb(char *start, size_t len);

/* Append the hexadecimal text (upper-case digits, no line breaks) of the
 * bytes of a string.
 *
 * buf: NULL is ignored.
 * str: NULL or empty does nothing. */
M_API void M_buf_add_str_hex(M_buf_t *buf, const char *str);

/* Decode hexadecimal text straight into the buffer: two digits a byte, white
 * space between digits skipped, digits not validated (see M_hex_decode).
 *
 * buf: NULL yields M_FALSE, whatever the text.
 * hex: NULL or empty yields M_TRUE (with a buffer) and adds nothing.
 *
 * Returns M_FALSE (buffer unchanged) for a NULL buffer or a text whose length
 * in characters, white space included, is odd; M_TRUE otherwise.
 * NULL: yields M_FALSE. */
M_API M_bool M_buf_add_bytes_hex(M_buf_t *buf, const char *hex);

/* Split str into lines (M_str_explode_lines: at most max_lines lines of at
 * most max_chars characters, white space at the start of each line skipped)
 * and append each line followed by newline, the last line included.
 *
 * buf:     NULL appends nothing but still yields the line count.
 * str:     NULL or empty yields 0.
 * newline: line ending, NULL meaning none.
 * truncate: M_TRUE to cut the text after max_lines lines; M_FALSE to refuse
 *          (yield 0, append nothing) text that does not fit.
 *
 * Returns the number of lines appended. */
M_API size_t M_buf_add_str_lines(M_buf_t *buf, const char *str, size_t max_lines, size_t max_chars, M_bool truncate,
                                 const char *newline);

/* ---------------------------------------------------------------------------
 * Justified appends
 *
 * justify_type takes the values of M_str_justify_type_t (m_str.h): padding on
 * the left, right or both sides (centred: the odd fill character goes on the
 * left) and cutting of longer input keeping its first or last characters, or
 * refusing it. Values above 10 are refused.
 * ------------------------------------------------------------------------- */

/* Append len bytes justified to width characters with fill.
 *
 * buf:   NULL appends nothing; the result still reports the argument check.
 * bytes: NULL counts as empty.
 *
 * Returns M_FALSE (nothing appended) for an unknown justification type, a
 * width of 0, or a longer input with a refusing type; M_TRUE otherwise. */
M_API M_bool M_buf_add_bytes_just(M_buf_t *buf, M_str_justify_type_t justify_type, char fill, const void *bytes,
                                  size_t len, size_t width);

/* M_buf_add_bytes_just for a string (NULL counts as empty). */
M_API M_bool M_buf_add_str_just(M_buf_t *buf, M_str_justify_type_t justify_type, char fill, const char *str,
                                size_t width);

/* M_buf_add_str_just applied to str after the transformation flags of
 * M_buf_add_str_transform (so trimmed white space does not count towards the
 * width). */
M_API M_bool M_buf_add_str_just_transform(M_buf_t *buf, M_str_justify_type_t justify_type, uint32_t flags, char fill,
                                          const char *str, size_t width);

/* ---------------------------------------------------------------------------
 * Numbers as text
 * ------------------------------------------------------------------------- */

/* Append a signed value as decimal text: "-" for negative values, then the
 * digits without leading zeros.
 *
 * buf: NULL is ignored. */
M_API void M_buf_add_int(M_buf_t *buf, int64_t value);

/* Append an unsigned value as decimal text.
 *
 * buf: NULL is ignored. */
M_API void M_buf_add_uint(M_buf_t *buf, uint64_t value);

/* Append exactly width characters: for a negative value "-" first, then the
 * digits of the magnitude right-aligned and padded with "0".
 *
 * buf: NULL appends nothing; the result still reports the width check.
 *
 * Returns M_FALSE (nothing appended) when width is 0 or smaller than the
 * number of characters the value needs, its "-" included; M_TRUE otherwise. */
M_API M_bool M_buf_add_int_just(M_buf_t *buf, int64_t value, size_t width);

/* M_buf_add_int_just for an unsigned value. */
M_API M_bool M_buf_add_uint_just(M_buf_t *buf, uint64_t value, size_t width);

/* Append a value as hexadecimal text (upper or lower case digits), padded in
 * front with "0" to width characters; width 0 means no padding.
 *
 * buf: NULL appends nothing; the result still reports the width check.
 *
 * Returns M_FALSE (nothing appended) when the text is longer than a non-zero
 * width; M_TRUE otherwise. */
M_API M_bool M_buf_add_uinthex(M_buf_t *buf, uint64_t value, M_bool upper, size_t width);

/* Append a byte as two hexadecimal digits.
 *
 * buf: NULL is ignored. */
M_API void M_buf_add_bytehex(M_buf_t *buf, unsigned char byte, M_bool upper);

/* Append a pointer value as "0x" followed by its lower-case hexadecimal
 * digits (the text of the "%p" conversion).
 *
 * buf: NULL is ignored.
 * ptr: NULL gives "0x0". */
M_API void M_buf_add_ptr(M_buf_t *buf, const void *ptr);

/* ---------------------------------------------------------------------------
 * Numbers as binary
 * ------------------------------------------------------------------------- */

/* Append value as a width-byte binary number, width from 1 to 8; most
 * significant byte first unless little_endian.
 *
 * buf: NULL appends nothing; the result still reports the argument check.
 *
 * Returns M_FALSE (nothing appended) when width is outside 1 to 8 or, for
 * widths below 8, value is not below 2^(8 * width); M_TRUE otherwise. */
M_API M_bool M_buf_add_uintbin(M_buf_t *buf, uint64_t value, size_t width, M_bool little_endian);

/* Append value as packed binary-coded decimal, two digits a byte (high digit
 * in the high nibble), padded in front with zero bytes to width bytes.
 *
 * buf: NULL appends nothing; the result still reports the argument check.
 *
 * Returns M_FALSE (nothing appended) for width 0 or when the digits need more
 * than width bytes; M_TRUE otherwise. */
M_API M_bool M_buf_add_uintbcd(M_buf_t *buf, uint64_t value, size_t width);

/* Parse an unsigned number from str in base (2 to 36, or 0 to detect a "0x"
 * or "0" prefix) exactly as M_str_to_uint64_ex reads it -- leading white
 * space and a sign allowed ("-1" is the largest value), the number ending at
 * the first character that is not a digit of the base, what follows ignored
 * ("12x" is 12) -- and append it as M_buf_add_uintbin does.
 *
 * buf: NULL appends nothing; the result still reports the check.
 * str: NULL or empty yields M_FALSE.
 *
 * Returns M_FALSE (nothing appended) when the text does not parse (no digit,
 * or a base outside 2 to 36), the value overflows, or M_buf_add_uintbin would
 * refuse it. */
M_API M_bool M_buf_add_uintstrbin(M_buf_t *buf, const char *str, unsigned char base, size_t width,
                                  M_bool little_endian);

/* M_buf_add_uintstrbin, appending as M_buf_add_uintbcd does. */
M_API M_bool M_buf_add_uintstrbcd(M_buf_t *buf, const char *str, unsigned char base, size_t width);

/* ---------------------------------------------------------------------------
 * Replacing and quoting
 * ------------------------------------------------------------------------- */

/* Append len bytes in which every occurrence of the byte sequence search is
 * replaced by the sequence repl (searching resumes after each occurrence).
 *
 * buf:    NULL appends nothing; the result still reports the check.
 * bytes:  NULL (or len 0) appends nothing and yields M_TRUE.
 * search: NULL or search_len 0 yields M_FALSE (nothing appended).
 * repl:   NULL (or repl_len 0) deletes each occurrence.
 *
 * Returns M_TRUE when the arguments are usable. */
M_API M_bool M_buf_add_bytes_replace(M_buf_t *buf, const void *bytes, size_t len, const void *search, size_t search_len,
                                     const void *repl, size_t repl_len);

/* M_buf_add_bytes_replace for strings.
 *
 * str:    NULL or empty appends nothing and yields M_TRUE.
 * search: NULL or empty yields M_FALSE.
 * repl:   NULL or empty deletes each occurrence. */
M_API M_bool M_buf_add_str_replace(M_buf_t *buf, const char *str, const char *search, const char *repl);

/* Append str enclosed in the quote character when it contains the quote
 * character, the escape character or any character of quote_chars (or when a
 * flag asks for it); inside the quotes every quote and escape character is
 * preceded by the escape character. A string that needs none of this is
 * appended unchanged.
 *
 * buf:         NULL appends nothing; the result still reports the check.
 * quote_chars: NULL or empty: no further characters force quoting.
 * flags:       M_buf_quote_flags_t bits.
 * str:         NULL counts as empty.
 *
 * Returns M_FALSE (nothing appended) when the string needs enclosing and
 * quote is 0 (a 0 byte cannot enclose text); M_TRUE otherwise, so a string
 * that needs no quotes is appended unchanged whatever quote is. An escape of
 * 0 means quote characters inside are doubled instead (a 0 byte would cut the
 * text short). */
M_API M_bool M_buf_add_str_quoted(M_buf_t *buf, char quote, char escape, const char *quote_chars, uint32_t flags,
                                  const char *str);

/* ---------------------------------------------------------------------------
 * Merging and joining
 * ------------------------------------------------------------------------- */

/* Append the content of src to dest and destroy src.
 *
 * dest: NULL: src is still destroyed.
 * src:  NULL does nothing; src equal to dest does nothing (nothing is
 *       appended or destroyed).
 *
 * src is invalid afterwards (ownership is taken even when dest is NULL). */
M_API void M_buf_merge(M_buf_t *dest, M_buf_t *src);

/* Append the contents of count buffers with the byte sep after every entry
 * but the last (NULL and empty entries included), destroying each buffer.
 *
 * buf:  NULL: nothing is appended, the buffers are still destroyed.
 * bufs: NULL or count 0 does nothing. The array itself is not freed; its
 *       entries are invalid afterwards. */
M_API void M_buf_bjoin_buf(M_buf_t *buf, unsigned char sep, M_buf_t **bufs, size_t count);

/* M_buf_bjoin_buf with a string separator (NULL or empty: none). */
M_API void M_buf_sjoin_buf(M_buf_t *buf, const char *sep, M_buf_t **bufs, size_t count);

/* Append count strings with the byte sep after every entry but the last;
 * NULL entries count as empty. The strings are not freed.
 *
 * buf:  NULL is ignored.
 * strs: NULL or count 0 does nothing. */
M_API void M_buf_bjoin_str(M_buf_t *buf, unsigned char sep, const char *const *strs, size_t count);

/* M_buf_bjoin_str with a string separator (NULL or empty: none). */
M_API void M_buf_sjoin_str(M_buf_t *buf, const char *sep, const char *const *strs, size_t count);

/* ---------------------------------------------------------------------------
 * Money and decimal appends (defined in m_buf_money.cpp)
 *
 * Money text is read as M_atofi_prec (m_str_num.h) reads an amount with 2
 * places, as a whole number of hundredths: leading white space and one
 * sign, then digits with "," skipped anywhere as a grouping mark ("1,234.56"
 * is 123456 hundredths), the first "." starting the decimals; a third
 * decimal rounds the magnitude half up ("12.345" is 1235, "-12.345" -1235)
 * and the number ends there, at a second "." or at any other character
 * ("12abc" is 1200, "1.2.3" is 120). Two texts are refused (false) where
 * M_atofi_prec would hand back a wrong amount: text without any digit
 * ("abc", "", "-"), and an amount whose hundredths do not fit 64 bits.
 *
 * Justified forms (_just) write exactly width characters: "-" first for a
 * negative amount, then "0" padding, then the text. They yield false,
 * appending nothing, when width is 0 or smaller than the text needs.
 *
 * buf: NULL appends nothing; the result still reports the check of the
 *   other arguments (text that parses, a value that fits the width).
 * Failure leaves the buffer unchanged.
 * ------------------------------------------------------------------------- */

/* The decimal type of m_decimal.h (declared again there with its fields). */
struct M_decimal;
typedef struct M_decimal M_decimal_t;

/* Append the amount in amount text as whole hundredths, as "%lld" writes it
 * (no point): "12.5" appends "1250", "-0.05" appends "-5", "1,234.56"
 * appends "123456".
 *
 * amount: NULL or empty does not parse.
 * Returns M_FALSE (nothing appended) when the text does not parse or the
 * hundredths do not fit 64 bits; M_TRUE otherwise. */
M_API M_bool M_buf_add_money(M_buf_t *buf, const char *amount);

/* M_buf_add_money zero-padded to exactly width characters: "1.5" with width
 * 6 appends "000150", "-0.05" with width 4 appends "-005". */
M_API M_bool M_buf_add_money_just(M_buf_t *buf, const char *amount, size_t width);

/* Append the amount with a point and two decimals ("%s%llu.%02llu" with "-"
 * for a negative amount): "12.5" appends "12.50", "-0.05" appends "-0.05",
 * "7" appends "7.00". */
M_API M_bool M_buf_add_money_dot(M_buf_t *buf, const char *amount);

/* M_buf_add_money_dot zero-padded to exactly width characters: "12.5" with
 * width 8 appends "00012.50", "-0.05" with width 6 appends "-00.05". The
 * sign comes first and once: formatting the whole and the hundredths as two
 * signed numbers ("%lld.%02lld") would write -1.05 as "-1.-5". */
M_API M_bool M_buf_add_money_dot_just(M_buf_t *buf, const char *amount, size_t width);

/* The four money appends for an amount already given in hundredths.
 * M_buf_add_int_money and M_buf_add_int_money_dot always yield M_TRUE;
 * the _just forms yield M_FALSE (nothing appended) when width is 0 or too
 * small. 1205 appends "1205", "12.05", or (width 7) "0001205", "0012.05";
 * -5 appends "-5", "-0.05", or (width 6) "-00005", "-00.05". */
M_API M_bool M_buf_add_int_money(M_buf_t *buf, int64_t amount);
M_API M_bool M_buf_add_int_money_dot(M_buf_t *buf, int64_t amount);
M_API M_bool M_buf_add_int_money_just(M_buf_t *buf, int64_t amount, size_t width);
M_API M_bool M_buf_add_int_money_dot_just(M_buf_t *buf, int64_t amount, size_t width);

/* Append a decimal as text (M_decimal_to_str: "-0.05", "1.50"), first
 * rescaled to num_decimals places with M_decimal_transform (rounding the
 * magnitude half up), or kept as it is when num_decimals is 255
 * (M_DECIMAL_MAX_DEC). 1.5 with 2 places appends "1.50"; 1.25 with 1
 * place "1.3"; -1.25 with 1 place "-1.3".
 *
 * decimal: NULL yields M_FALSE.
 * Returns M_FALSE (nothing appended) when the rescaled value does not fit
 * 64 bits; M_TRUE otherwise. */
M_API M_bool M_buf_add_decimal(M_buf_t *buf, const M_decimal_t *decimal, uint8_t num_decimals);

/* M_buf_add_decimal zero-padded to exactly width characters: 1.5 with 2
 * places and width 7 appends "0001.50"; -1.5 appends "-001.50". */
M_API M_bool M_buf_add_decimal_just(M_buf_t *buf, const M_decimal_t *decimal, uint8_t num_decimals, size_t width);

M_END_DECLS

#endif /* M_BUF_H */
