/* Parser: a forward read cursor over a byte range.
 *
 * The library's one tool for taking apart text and binary data. A parser
 * either views bytes that the caller owns (a constant parser, made by
 * M_parser_create_const or M_parser_init; it never writes to those bytes) or
 * owns a growable buffer that data is appended to (a dynamic parser, made by
 * M_parser_create and filled with M_parser_append or a direct-write window).
 *
 * Reads consume from the front. Two marks remember a position: the user mark
 * (M_parser_mark and friends) and an internal mark that the searching readers
 * use for themselves. While either mark is set, consumed bytes stay in the
 * buffer so the cursor can go back to the mark.
 *
 * Wipe rule (dynamic parsers only): bytes consumed while neither mark is set
 * are overwritten with 0xFF before the cursor moves past them; clearing a mark
 * while the other is unset overwrites the bytes from the cleared mark up to
 * the cursor with 0xFF; bytes cut off by truncation are overwritten with
 * 0xFF. Key material read through a parser therefore does not linger.
 *
 * Making room (append, direct write) for n new bytes: the keep point is the
 * lower of the set marks, or the cursor when neither is set. The bytes from
 * the keep point on are moved to the start of the buffer (marks and cursor
 * keep their distances); when the free space is still below n, the buffer is
 * reallocated to the smallest power of two not below n plus the kept bytes.
 * A parser read to the end therefore reuses its buffer from the start.
 *
 * Line tracking (M_PARSER_FLAG_TRACKLINES): every consuming operation walks
 * the bytes it consumes; a line feed adds 1 to the line and sets the column to
 * 0, any other byte adds 1 to the column. Moving back (mark rewind, reset)
 * undoes this exactly: each line feed moved back over takes 1 from the line,
 * and the column is recounted from the nearest preceding line feed (or the
 * start of the data).
 *
 * Borrowed pointers: M_parser_peek, M_parser_peek_mark and a direct-write
 * window point into the parser's data. They stay valid until the next call
 * that may change the parser (any append, direct write, read, consume,
 * truncate, mark clear, or destroy). For a constant parser they point into
 * the caller's bytes.
 *
 * NULL: every function accepts a NULL parser; it then changes nothing and
 * yields 0, NULL or M_FALSE by its result type, or the failure code it names.
 *
 * Failure: unless a function says otherwise, a failed read leaves the parser
 * unchanged (nothing consumed, marks as they were).
 *
 * Threads: a parser has no lock; use each one from one thread at a time.
 */
#ifndef M_PARSER_H
#define M_PARSER_H

#include "core/m_defs.h"
#include "core/m_chr.h"
#include "core/m_buf.h"
#include "core/m_decimal.h"

M_BEGIN_DECLS

/* ---------------------------------------------------------------------------
 * Types
 * ------------------------------------------------------------------------- */

/* The parser object. Opaque: reach it only through the functions below. */
struct M_parser;
typedef struct M_parser M_parser_t;

/* Caller-provided storage for a constant parser (M_parser_init), so that a
 * parser can live on the stack without any allocation. Its contents are
 * private: do not read or write them, and reach the parser only through the
 * M_parser_t pointer that M_parser_init returns. That pointer addresses this
 * storage, so a copy of the storage is not a second parser: copy nothing,
 * call M_parser_init on the new storage instead. The size is fixed for this
 * ABI; the library checks at build time that the parser fits. */
typedef struct M_parser_storage {
	union {
		unsigned char bytes[128]; /* room for the private parser fields */
		uint64_t      align_u64;  /* forces 8-byte alignment */
		void         *align_ptr;  /* and pointer alignment */
	} opaque;
} M_parser_storage_t;

/* Parser flags (create, create_const, init). */
enum {
	M_PARSER_FLAG_NONE       = 0,      /* no line and column counting */
	M_PARSER_FLAG_TRACKLINES = 1u << 0 /* count lines and columns */
};

/* Flags of M_parser_consume_whitespace and M_parser_truncate_whitespace. */
enum {
	M_PARSER_WHITESPACE_NONE       = 0,       /* every M_chr_isspace byte */
	M_PARSER_WHITESPACE_TO_NEWLINE = 1u << 0, /* stop after the first line feed */
	M_PARSER_WHITESPACE_SPACEONLY  = 1u << 1  /* only the space character (32) */
};

/* Forms of M_parser_read_uint and M_parser_read_int. */
typedef enum {
	M_PARSER_INTEGER_ASCII        = 0, /* number text, M_str_to_*64_ex rules */
	M_PARSER_INTEGER_BIGENDIAN    = 1, /* 1 to 8 bytes, most significant first */
	M_PARSER_INTEGER_LITTLEENDIAN = 2  /* 1 to 8 bytes, least significant first */
} M_parser_integer_type_t;

/* Flags of the split functions. */
enum {
	M_PARSER_SPLIT_FLAG_NONE         = 0,      /* no delimiter: one piece */
	M_PARSER_SPLIT_FLAG_NODELIM_FAIL = 1u << 0 /* no delimiter: fail */
};

/* Flags of M_parser_read_stxetxlrc_message: which framing bytes the LRC
 * covers besides the message bytes. */
enum {
	M_PARSER_FRAME_LRC_NONE        = 0,       /* message bytes only */
	M_PARSER_FRAME_LRC_INCLUDE_STX = 1u << 0, /* the STX too */
	M_PARSER_FRAME_LRC_INCLUDE_ETX = 1u << 1  /* the ETX too */
};

/* Results of M_parser_read_stxetxlrc_message. */
typedef enum {
	M_PARSER_FRAME_ERROR_SUCCESS  = 0, /* a message was read */
	M_PARSER_FRAME_ERROR_INVALID  = 1, /* bad arguments or fewer than 4 unread bytes */
	M_PARSER_FRAME_ERROR_NO_STX   = 2, /* the first byte is not STX (0x02) */
	M_PARSER_FRAME_ERROR_NO_ETX   = 3, /* no ETX (0x03) yet */
	M_PARSER_FRAME_ERROR_NO_LRC   = 4, /* ETX present, the LRC byte not yet */
	M_PARSER_FRAME_ERROR_LRC_CALC = 5  /* the LRC byte does not match */
} M_parser_frame_error_t;

/* Byte test on the byte as an unsigned character (0 to 255). The signed
 * character form is M_chr_predicate_func of core/m_chr.h, which the M_chr_is*
 * classes fit directly. */
typedef M_bool (*M_parser_predicate_func)(unsigned char c);

/* ---------------------------------------------------------------------------
 * Lifecycle and filling
 * ------------------------------------------------------------------------- */

/* Create an empty dynamic parser, both marks unset.
 *
 * flags: M_PARSER_FLAG_* bits; other bits are ignored.
 * Returns the parser; the caller owns it and frees it with M_parser_destroy.
 * Never NULL (out of memory ends the process). */
M_API M_parser_t *M_parser_create(uint32_t flags) M_WARN_UNUSED_RESULT;

/* Create a constant parser viewing len bytes at data. The bytes are not
 * copied and never written; they must outlive the parser.
 *
 * data: the bytes; NULL yields NULL. A len of 0 gives an empty parser.
 * Returns the parser; the caller frees it with M_parser_destroy (which does
 * not touch data). */
M_API M_parser_t *M_parser_create_const(const unsigned char *data, size_t len, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Set up caller-provided storage as a constant parser over len bytes at data.
 * All fields are zeroed first. No memory is allocated.
 *
 * storage: the storage (stack or otherwise), which must outlive every use of
 *          the returned parser; NULL yields NULL.
 * data:    the bytes (not copied, never written); NULL leaves the parser empty.
 * Returns the parser, which lives inside storage. It is not destroyed:
 * M_parser_destroy ignores it, and it holds nothing to release. */
M_API M_parser_t *M_parser_init(M_parser_storage_t *storage, const unsigned char *data, size_t len, uint32_t flags);

/* Release a parser created with M_parser_create or M_parser_create_const.
 * A dynamic parser's buffer is wiped with 0xFF and freed.
 *
 * parser: NULL is ignored; a parser set up by M_parser_init is left alone.
 * Invalidates every pointer borrowed from the parser. */
M_API void M_parser_destroy(M_parser_t *parser);

/* Append a copy of len bytes after the unread bytes of a dynamic parser,
 * making room as described at the top.
 *
 * parser: NULL or a constant parser yields false.
 * data:   NULL yields true when len is 0, false otherwise. It may point into
 *         the parser's own buffer (for instance at M_parser_peek): such bytes
 *         are copied aside before the buffer is compacted or moved.
 * Returns true on success. On false the parser is unchanged.
 * Invalidates pointers borrowed from the parser (the buffer may move).
 * NULL: yields M_FALSE. */
M_API M_bool M_parser_append(M_parser_t *parser, const unsigned char *data, size_t len);

/* Open a direct-write window after the unread bytes of a dynamic parser.
 *
 * parser: NULL or a constant parser yields NULL.
 * len:    on entry the number of bytes the caller wants to write (not 0); on
 *         return the whole free space of the window, which may be more.
 *         NULL or 0 yields NULL.
 * Returns a pointer into the parser's buffer, valid until the next call on
 * the parser; close the window with M_parser_direct_write_end. Invalidates
 * earlier borrowed pointers (room is made as for M_parser_append). */
M_API unsigned char *M_parser_direct_write_start(M_parser_t *parser, size_t *len) M_WARN_UNUSED_RESULT;

/* Close a direct-write window: count bytes written at the window become
 * unread data.
 *
 * parser: NULL or a constant parser is ignored. A count larger than the free
 *         space after the unread bytes is ignored (nothing is added), since
 *         those bytes cannot have been written inside the window. */
M_API void M_parser_direct_write_end(M_parser_t *parser, size_t count);

/* ---------------------------------------------------------------------------
 * Position and inspection (nothing is consumed)
 * ------------------------------------------------------------------------- */

/* Number of unread bytes; 0 for a NULL parser. */
M_API size_t M_parser_len(const M_parser_t *parser);

/* Number of bytes consumed since creation or the last reset (moving back to
 * a mark reduces it; compaction of the buffer does not). 0 for NULL. */
M_API size_t M_parser_current_offset(const M_parser_t *parser);

/* 1-based line of the cursor with M_PARSER_FLAG_TRACKLINES; 0 when tracking is
 * off or the parser is NULL. */
M_API size_t M_parser_current_line(const M_parser_t *parser);

/* 1-based column of the cursor with M_PARSER_FLAG_TRACKLINES; 0 when tracking
 * is off or the parser is NULL. */
M_API size_t M_parser_current_column(const M_parser_t *parser);

/* Pointer to the next unread byte (M_parser_len bytes follow).
 *
 * parser: NULL yields NULL.
 * Returns a borrowed pointer (see the top); NULL also for a dynamic parser
 * that never received data. */
M_API const unsigned char *M_parser_peek(const M_parser_t *parser);

/* Copy the next byte without consuming it.
 *
 * parser: NULL yields false.  byte: where the byte goes; NULL yields false.
 * Returns false when the parser is empty. */
M_API M_bool M_parser_peek_byte(const M_parser_t *parser, unsigned char *byte);

/* Copy the next len bytes without consuming them.
 *
 * parser: NULL yields false.  buf: receives len bytes; NULL yields false.
 * Returns false when len is 0 or fewer than len bytes remain (buf untouched). */
M_API M_bool M_parser_peek_bytes(const M_parser_t *parser, size_t len, unsigned char *buf);

/* Whether the next len bytes equal data (compared with M_mem_eq, every byte
 * examined).
 *
 * parser: NULL yields false.  data: NULL yields false.
 * Returns false when len is 0 or more than the unread count. */
M_API M_bool M_parser_compare(const M_parser_t *parser, const unsigned char *data, size_t len);

/* Whether the next bytes equal the string str (its length, or at most
 * max_len characters of it when max_len is not 0), ignoring ASCII case when
 * case_insensitive is set.
 *
 * parser: NULL yields false.  str: NULL counts as empty.
 * Returns false for an empty comparison or when fewer bytes remain than are
 * compared. */
M_API M_bool M_parser_compare_str(const M_parser_t *parser, const char *str, size_t max_len, M_bool case_insensitive);

/* ---------------------------------------------------------------------------
 * Marks
 * ------------------------------------------------------------------------- */

/* Set the user mark at the cursor (moving it if it was set). While it is
 * set, consumed bytes are kept and can be rewound to. NULL is ignored. */
M_API void M_parser_mark(M_parser_t *parser);

/* Clear the user mark. In a dynamic parser whose internal mark is unset, the
 * bytes from the mark up to the cursor are wiped with 0xFF. NULL or an unset
 * mark is ignored. Invalidates M_parser_peek_mark results. */
M_API void M_parser_mark_clear(M_parser_t *parser);

/* Number of bytes from the user mark to the cursor; 0 when unset or NULL. */
M_API size_t M_parser_mark_len(const M_parser_t *parser);

/* The bytes from the user mark to the cursor, without clearing the mark.
 *
 * parser: NULL yields NULL.
 * len:    receives the count (0 without a mark); NULL is allowed.
 * Returns a borrowed pointer to the marked bytes, or the cursor when no mark
 * is set. */
M_API const unsigned char *M_parser_peek_mark(const M_parser_t *parser, size_t *len);

/* Move the cursor back to the user mark, which stays set. The bytes become
 * unread again; the offset, line and column are restored.
 * Returns the count moved back; 0 when no mark is set or parser is NULL. */
M_API size_t M_parser_mark_rewind(M_parser_t *parser);

/* Constant parsers only: move the cursor back to the start of the data; the
 * offset becomes 0, line and column are restored, both marks are cleared.
 * Truncated bytes stay cut off.
 * Returns the count moved back; 0 for a dynamic or NULL parser (nothing
 * done), since a dynamic parser no longer holds what it consumed. */
M_API size_t M_parser_reset(M_parser_t *parser);

/* ---------------------------------------------------------------------------
 * Basic reads
 * ------------------------------------------------------------------------- */

/* Consume one byte into *byte.
 *
 * parser: NULL yields false.  byte: NULL yields false (nothing consumed).
 * Returns false when the parser is empty. */
M_API M_bool M_parser_read_byte(M_parser_t *parser, unsigned char *byte) M_WARN_UNUSED_RESULT;

/* Copy and consume exactly len bytes into buf.
 *
 * parser: NULL yields false.  buf: receives len bytes; NULL yields false.
 * Returns false when len is 0 or fewer than len bytes remain. */
M_API M_bool M_parser_read_bytes(M_parser_t *parser, size_t len, unsigned char *buf) M_WARN_UNUSED_RESULT;

/* Consume len bytes without copying them.
 *
 * parser: NULL yields false.
 * Returns true when done (len 0 succeeds), false when fewer bytes remain. */
M_API M_bool M_parser_consume(M_parser_t *parser, size_t len);

/* Read an unsigned integer.
 *
 * type M_PARSER_INTEGER_ASCII: converts the text at the cursor with
 *   M_str_to_uint64_ex over len bytes (all unread bytes when len is 0) in
 *   base (0 detects it: "0x" hexadecimal, "0" octal, else decimal) and
 *   consumes exactly the characters the conversion used. Fails when the
 *   parser is empty, len exceeds the unread count, or the conversion reports
 *   overflow or invalid text (nothing consumed).
 * M_PARSER_INTEGER_BIGENDIAN / _LITTLEENDIAN: len must be 1 to 8 and not
 *   exceed the unread count; the len bytes are consumed and form the value.
 *   base is ignored.
 * Any other type fails.
 *
 * parser: NULL yields false.  integer: receives the value; NULL yields false.
 * Returns true on success; on failure *integer is untouched. */
M_API M_bool M_parser_read_uint(M_parser_t *parser, M_parser_integer_type_t type, size_t len, unsigned char base,
                                uint64_t *integer) M_WARN_UNUSED_RESULT;

/* Read a signed integer: as M_parser_read_uint, with M_str_to_int64_ex for
 * text. The binary forms fill the low len bytes of the result without sign
 * extension (bytes FF FF read as 65535).
 *
 * parser: NULL yields false.  integer: NULL yields false. */
M_API M_bool M_parser_read_int(M_parser_t *parser, M_parser_integer_type_t type, size_t len, unsigned char base,
                               int64_t *integer) M_WARN_UNUSED_RESULT;

/* Read len bytes (1 to 10) of packed BCD, two decimal digits a byte, the
 * high nibble first (bytes 12 34 read as 1234).
 *
 * parser: NULL yields false.  integer: NULL yields false.
 * Returns false, consuming nothing, when len is out of range or exceeds the
 * unread count, a nibble is above 9, or the value exceeds 64 bits. */
M_API M_bool M_parser_read_uint_bcd(M_parser_t *parser, size_t len, uint64_t *integer) M_WARN_UNUSED_RESULT;

/* Read a decimal number (M_decimal_from_str syntax: white space, sign,
 * digits, fraction, exponent) from the next len bytes (0: all unread bytes).
 * The bytes that the conversion used are consumed, with line and column
 * tracking; bytes after the number stay unread.
 *
 * parser:            NULL yields M_DECIMAL_INVALID.
 * len:               more than the unread count, or an empty parser, yields
 *                    M_DECIMAL_INVALID.
 * truncation_fail:   when set, a number that lost digits to fit (cut off
 *                    or rounded, M_DECIMAL_TRUNCATION) is refused: nothing
 *                    is consumed.
 * decimal:           receives the value (0 on M_DECIMAL_OVERFLOW and
 *                    M_DECIMAL_INVALID; the shortened value on a refused
 *                    truncation); NULL yields M_DECIMAL_INVALID.
 *
 * Returns the conversion's code: M_DECIMAL_SUCCESS or M_DECIMAL_TRUNCATION
 * with the number consumed (except a truncation refused by truncation_fail,
 * which consumes nothing); M_DECIMAL_OVERFLOW or M_DECIMAL_INVALID with
 * nothing consumed. */
M_API M_decimal_retval_t M_parser_read_decimal(M_parser_t *parser, size_t len, M_bool truncation_fail,
                                               M_decimal_t *decimal) M_WARN_UNUSED_RESULT;

/* ---------------------------------------------------------------------------
 * Consuming without copying. Each returns the count consumed (0 when nothing
 * matched or the parser is NULL).
 *
 * "until" functions search (M_mem_mem) for a pattern and consume the bytes
 * before it, or up to and including it when eat_pat is set; without a match
 * nothing is consumed. A NULL or empty pattern matches nothing.
 * "boundary" functions do the same, and without a whole match they stop
 * before a partial match of the pattern at the end of the data (a suffix of
 * the data that begins the pattern), consuming what lies before it; *found
 * (when found is not NULL) tells whether the whole pattern was found.
 * "charset" functions consume bytes while they are in the set (the "not"
 * forms while they are not); a NULL or empty set contains nothing.
 * "predicate" functions consume bytes while func is true; "_max" forms
 * consume at most max bytes (0 means none). A NULL func matches nothing.
 *
 * The reading families below (caller buffer, string, new string, new parser,
 * M_buf_t) match in the same way, and count a match that would take no byte
 * at all (a pattern right at the cursor without eat_pat, a first byte that
 * fails the test) as nothing matched: they have nothing to return.
 * ------------------------------------------------------------------------- */

/* White space: M_chr_isspace bytes, or spaces only with
 * M_PARSER_WHITESPACE_SPACEONLY; with M_PARSER_WHITESPACE_TO_NEWLINE it stops
 * after the first line feed consumed. */
M_API size_t M_parser_consume_whitespace(M_parser_t *parser, uint32_t flags);

/* Until a byte pattern. pat: NULL matches nothing. */
M_API size_t M_parser_consume_until(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat);

/* Until a byte pattern, stopping before a partial match at the end.
 * pat: NULL matches nothing.  found: NULL allowed. */
M_API size_t M_parser_consume_boundary(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat,
                                       M_bool *found);

/* While the bytes are in charset (len bytes). charset: NULL is empty. */
M_API size_t M_parser_consume_charset(M_parser_t *parser, const unsigned char *charset, size_t len);

/* While the bytes are not in charset (len bytes). charset: NULL is empty, so
 * everything is consumed. */
M_API size_t M_parser_consume_not_charset(M_parser_t *parser, const unsigned char *charset, size_t len);

/* While func(byte) holds. func: NULL matches nothing. */
M_API size_t M_parser_consume_predicate(M_parser_t *parser, M_parser_predicate_func func);

/* While func(byte) holds, at most max bytes. func: NULL matches nothing. */
M_API size_t M_parser_consume_predicate_max(M_parser_t *parser, M_parser_predicate_func func, size_t max);

/* While func((char)byte) holds. func: NULL matches nothing. */
M_API size_t M_parser_consume_chr_predicate(M_parser_t *parser, M_chr_predicate_func func);

/* While func((char)byte) holds, at most max bytes. func: NULL matches
 * nothing. */
M_API size_t M_parser_consume_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func, size_t max);

/* Until a string pattern. pat: NULL or empty matches nothing. */
M_API size_t M_parser_consume_str_until(M_parser_t *parser, const char *pat, M_bool eat_pat);

/* Until a string pattern, stopping before a partial match at the end.
 * pat: NULL or empty matches nothing.  found: NULL allowed. */
M_API size_t M_parser_consume_str_boundary(M_parser_t *parser, const char *pat, M_bool eat_pat, M_bool *found);

/* While the bytes are characters of the string charset. charset: NULL is
 * empty. */
M_API size_t M_parser_consume_str_charset(M_parser_t *parser, const char *charset);

/* While the bytes are not characters of the string charset. charset: NULL
 * is empty, so everything is consumed. */
M_API size_t M_parser_consume_str_not_charset(M_parser_t *parser, const char *charset);

/* Through the next line feed, or everything when there is none. */
M_API size_t M_parser_consume_eol(M_parser_t *parser);

/* ---------------------------------------------------------------------------
 * Reading bytes into a caller buffer. Matching as for the consume family.
 * Each returns the count copied and consumed; 0 when nothing matched, the
 * parser or buf is NULL, or the bytes do not fit buf_len (then nothing is
 * consumed). buf is not terminated.
 * ------------------------------------------------------------------------- */

/* The next bytes, at most len of them (fewer when fewer remain). */
M_API size_t M_parser_read_bytes_max(M_parser_t *parser, size_t len, unsigned char *buf, size_t buf_len);

/* Until a byte pattern. pat: NULL matches nothing. */
M_API size_t M_parser_read_bytes_until(M_parser_t *parser, unsigned char *buf, size_t buf_len, const unsigned char *pat,
                                       size_t pat_len, M_bool eat_pat);

/* Until a byte pattern or before a partial match at the end.
 * found: NULL allowed; false when the bytes do not fit. */
M_API size_t M_parser_read_bytes_boundary(M_parser_t *parser, unsigned char *buf, size_t buf_len,
                                          const unsigned char *pat, size_t pat_len, M_bool eat_pat, M_bool *found);

/* While the bytes are in charset (charset_len bytes; NULL is empty). */
M_API size_t M_parser_read_bytes_charset(M_parser_t *parser, const unsigned char *charset, size_t charset_len,
                                         unsigned char *buf, size_t buf_len);

/* While func(byte) holds. func: NULL matches nothing. */
M_API size_t M_parser_read_bytes_predicate(M_parser_t *parser, M_parser_predicate_func func, unsigned char *buf,
                                           size_t buf_len);

/* While func((char)byte) holds. func: NULL matches nothing. */
M_API size_t M_parser_read_bytes_chr_predicate(M_parser_t *parser, M_chr_predicate_func func, unsigned char *buf,
                                               size_t buf_len);

/* The bytes from the user mark to the cursor; the mark is cleared (wiping in
 * a dynamic parser) when they are copied. 0 without a mark. Nothing is
 * consumed here: the bytes were consumed when the cursor passed them. */
M_API size_t M_parser_read_bytes_mark(M_parser_t *parser, unsigned char *buf, size_t buf_len);

/* ---------------------------------------------------------------------------
 * Reading a NUL-terminated string into a caller buffer. The bytes read plus a
 * terminating 0 must fit buf_len; otherwise nothing is consumed and the
 * result is false or 0, with buf[0] set to 0 when buf_len is not 0. The
 * counts returned do not include the terminator.
 * ------------------------------------------------------------------------- */

/* Exactly len bytes (buf_len must be at least len + 1).
 * parser, buf: NULL yields false. Returns false when fewer remain or len is 0. */
M_API M_bool M_parser_read_str(M_parser_t *parser, size_t len, char *buf, size_t buf_len) M_WARN_UNUSED_RESULT;

/* At most len bytes (fewer when fewer remain). */
M_API size_t M_parser_read_str_max(M_parser_t *parser, size_t len, char *buf, size_t buf_len);

/* Until a string pattern. pat: NULL or empty matches nothing. */
M_API size_t M_parser_read_str_until(M_parser_t *parser, char *buf, size_t buf_len, const char *pat, M_bool eat_pat);

/* Until a string pattern or before a partial match at the end. found: NULL
 * allowed. */
M_API size_t M_parser_read_str_boundary(M_parser_t *parser, char *buf, size_t buf_len, const char *pat, M_bool eat_pat,
                                        M_bool *found);

/* While the bytes are characters of charset (NULL is empty). */
M_API size_t M_parser_read_str_charset(M_parser_t *parser, const char *charset, char *buf, size_t buf_len);

/* While func(byte) holds. func: NULL matches nothing. */
M_API size_t M_parser_read_str_predicate(M_parser_t *parser, M_parser_predicate_func func, char *buf, size_t buf_len);

/* While func((char)byte) holds. func: NULL matches nothing. */
M_API size_t M_parser_read_str_chr_predicate(M_parser_t *parser, M_chr_predicate_func func, char *buf, size_t buf_len);

/* The bytes from the user mark to the cursor; the mark is cleared when they
 * are copied. 0 without a mark. */
M_API size_t M_parser_read_str_mark(M_parser_t *parser, char *buf, size_t buf_len);

/* ---------------------------------------------------------------------------
 * Reading a new string. Each returns a NUL-terminated copy of the bytes read,
 * which the caller frees with M_free; NULL when the parser is NULL or nothing
 * matched (then nothing is consumed).
 * ------------------------------------------------------------------------- */

/* Exactly len bytes (not 0). */
M_API char *M_parser_read_strdup(M_parser_t *parser, size_t len) M_WARN_UNUSED_RESULT;

/* Exactly len bytes (not 0), rendered as upper-case hexadecimal text (two
 * characters a byte). */
M_API char *M_parser_read_strdup_hex(M_parser_t *parser, size_t len) M_WARN_UNUSED_RESULT;

/* Until a string pattern. pat: NULL or empty matches nothing. */
M_API char *M_parser_read_strdup_until(M_parser_t *parser, const char *pat, M_bool eat_pat) M_WARN_UNUSED_RESULT;

/* Until a string pattern or before a partial match at the end. found: NULL
 * allowed. */
M_API char *M_parser_read_strdup_boundary(M_parser_t *parser, const char *pat, M_bool eat_pat,
                                          M_bool *found) M_WARN_UNUSED_RESULT;

/* While the bytes are characters of charset (NULL is empty). */
M_API char *M_parser_read_strdup_charset(M_parser_t *parser, const char *charset) M_WARN_UNUSED_RESULT;

/* While func(byte) holds. func: NULL matches nothing. */
M_API char *M_parser_read_strdup_predicate(M_parser_t *parser, M_parser_predicate_func func) M_WARN_UNUSED_RESULT;

/* While func(byte) holds, at most max bytes. */
M_API char *M_parser_read_strdup_predicate_max(M_parser_t *parser, M_parser_predicate_func func,
                                               size_t max) M_WARN_UNUSED_RESULT;

/* While func((char)byte) holds. func: NULL matches nothing. */
M_API char *M_parser_read_strdup_chr_predicate(M_parser_t *parser, M_chr_predicate_func func) M_WARN_UNUSED_RESULT;

/* While func((char)byte) holds, at most max bytes. */
M_API char *M_parser_read_strdup_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func,
                                                   size_t max) M_WARN_UNUSED_RESULT;

/* The bytes from the user mark to the cursor; the mark is cleared. NULL
 * without a mark or with an empty marked range (the mark then stays). */
M_API char *M_parser_read_strdup_mark(M_parser_t *parser) M_WARN_UNUSED_RESULT;

/* ---------------------------------------------------------------------------
 * Reading into a new dynamic parser. Each returns a new parser holding a copy
 * of the bytes read, with the same flags as the source (its line count starts
 * afresh); the caller frees it with M_parser_destroy. NULL when the parser is
 * NULL or nothing matched (then nothing is consumed).
 * ------------------------------------------------------------------------- */

/* Exactly len bytes (not 0). */
M_API M_parser_t *M_parser_read_parser(M_parser_t *parser, size_t len) M_WARN_UNUSED_RESULT;

/* Until a byte pattern. pat: NULL matches nothing. */
M_API M_parser_t *M_parser_read_parser_until(M_parser_t *parser, const unsigned char *pat, size_t len,
                                             M_bool eat_pat) M_WARN_UNUSED_RESULT;

/* Until a byte pattern or before a partial match at the end. found: NULL
 * allowed. */
M_API M_parser_t *M_parser_read_parser_boundary(M_parser_t *parser, const unsigned char *pat, size_t len,
                                                M_bool eat_pat, M_bool *found) M_WARN_UNUSED_RESULT;

/* While the bytes are in charset (len bytes; NULL is empty). */
M_API M_parser_t *M_parser_read_parser_charset(M_parser_t *parser, const unsigned char *charset,
                                               size_t len) M_WARN_UNUSED_RESULT;

/* While func(byte) holds. */
M_API M_parser_t *M_parser_read_parser_predicate(M_parser_t *parser, M_parser_predicate_func func) M_WARN_UNUSED_RESULT;

/* While func(byte) holds, at most max bytes. */
M_API M_parser_t *M_parser_read_parser_predicate_max(M_parser_t *parser, M_parser_predicate_func func,
                                                     size_t max) M_WARN_UNUSED_RESULT;

/* While func((char)byte) holds. */
M_API M_parser_t *M_parser_read_parser_chr_predicate(M_parser_t          *parser,
                                                     M_chr_predicate_func func) M_WARN_UNUSED_RESULT;

/* While func((char)byte) holds, at most max bytes. */
M_API M_parser_t *M_parser_read_parser_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func,
                                                         size_t max) M_WARN_UNUSED_RESULT;

/* The bytes from the user mark to the cursor; the mark is cleared. NULL
 * without a mark or with an empty marked range (the mark then stays). */
M_API M_parser_t *M_parser_read_parser_mark(M_parser_t *parser) M_WARN_UNUSED_RESULT;

/* ---------------------------------------------------------------------------
 * Appending to an M_buf_t. Each returns the count of parser bytes consumed
 * (and appended); 0 when the parser or buf is NULL or nothing matched (then
 * nothing is consumed and buf is unchanged).
 * ------------------------------------------------------------------------- */

/* Exactly len bytes (not 0). */
M_API size_t M_parser_read_buf(M_parser_t *parser, M_buf_t *buf, size_t len);

/* Exactly len bytes (not 0), appended as upper-case hexadecimal text; the
 * result counts parser bytes, so 2 * result characters are appended. */
M_API size_t M_parser_read_buf_hex(M_parser_t *parser, M_buf_t *buf, size_t len);

/* At most len bytes (fewer when fewer remain). */
M_API size_t M_parser_read_buf_max(M_parser_t *parser, M_buf_t *buf, size_t len);

/* Until a byte pattern. pat: NULL matches nothing. */
M_API size_t M_parser_read_buf_until(M_parser_t *parser, M_buf_t *buf, const unsigned char *pat, size_t len,
                                     M_bool eat_pat);

/* Until a byte pattern or before a partial match at the end. found: NULL
 * allowed. */
M_API size_t M_parser_read_buf_boundary(M_parser_t *parser, M_buf_t *buf, const unsigned char *pat, size_t len,
                                        M_bool eat_pat, M_bool *found);

/* While the bytes are in charset (len bytes; NULL is empty). */
M_API size_t M_parser_read_buf_charset(M_parser_t *parser, M_buf_t *buf, const unsigned char *charset, size_t len);

/* While the bytes are not in charset (len bytes; NULL is empty, so
 * everything is read). */
M_API size_t M_parser_read_buf_not_charset(M_parser_t *parser, M_buf_t *buf, const unsigned char *charset, size_t len);

/* While func(byte) holds. */
M_API size_t M_parser_read_buf_predicate(M_parser_t *parser, M_buf_t *buf, M_parser_predicate_func func);

/* While func(byte) holds, at most max bytes. */
M_API size_t M_parser_read_buf_predicate_max(M_parser_t *parser, M_buf_t *buf, M_parser_predicate_func func,
                                             size_t max);

/* While func((char)byte) holds. */
M_API size_t M_parser_read_buf_chr_predicate(M_parser_t *parser, M_buf_t *buf, M_chr_predicate_func func);

/* While func((char)byte) holds, at most max bytes. */
M_API size_t M_parser_read_buf_chr_predicate_max(M_parser_t *parser, M_buf_t *buf, M_chr_predicate_func func,
                                                 size_t max);

/* The bytes from the user mark to the cursor; the mark is cleared (when
 * there were bytes to append). 0 without a mark. */
M_API size_t M_parser_read_buf_mark(M_parser_t *parser, M_buf_t *buf);

/* ---------------------------------------------------------------------------
 * Truncation: removes unread bytes from the end. In a dynamic parser the
 * removed bytes are wiped with 0xFF; a constant parser only stops seeing
 * them. The marks and the cursor are not affected. Counting functions return
 * the count removed (0 for a NULL parser).
 * ------------------------------------------------------------------------- */

/* Keep the first len unread bytes. Returns false (nothing done) when len
 * exceeds the unread count or parser is NULL. */
M_API M_bool M_parser_truncate(M_parser_t *parser, size_t len);

/* Trailing white space (flags as for M_parser_consume_whitespace; with
 * M_PARSER_WHITESPACE_TO_NEWLINE it stops after removing the first line
 * feed met from the end). */
M_API size_t M_parser_truncate_whitespace(M_parser_t *parser, uint32_t flags);

/* Trailing bytes in charset (len bytes; NULL is empty). */
M_API size_t M_parser_truncate_charset(M_parser_t *parser, const unsigned char *charset, size_t len);

/* Trailing bytes for which func(byte) holds. */
M_API size_t M_parser_truncate_predicate(M_parser_t *parser, M_parser_predicate_func func);

/* Trailing bytes for which func(byte) holds, at most max. */
M_API size_t M_parser_truncate_predicate_max(M_parser_t *parser, M_parser_predicate_func func, size_t max);

/* Trailing bytes for which func((char)byte) holds. */
M_API size_t M_parser_truncate_chr_predicate(M_parser_t *parser, M_chr_predicate_func func);

/* Trailing bytes for which func((char)byte) holds, at most max. */
M_API size_t M_parser_truncate_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func, size_t max);

/* Trailing bytes that are characters of charset (NULL is empty). */
M_API size_t M_parser_truncate_str_charset(M_parser_t *parser, const char *charset);

/* Everything after the last occurrence (M_mem_rmem) of a byte pattern, and
 * the pattern itself too when eat_pat is set. Without an occurrence nothing
 * is removed. pat: NULL matches nothing. */
M_API size_t M_parser_truncate_until(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat);

/* As M_parser_truncate_until with a string pattern (NULL or empty matches
 * nothing). */
M_API size_t M_parser_truncate_str_until(M_parser_t *parser, const char *pat, M_bool eat_pat);

/* ---------------------------------------------------------------------------
 * Tests without consuming: whether each of the next len bytes (all unread
 * bytes when len is 0) passes. False for a NULL parser, an empty parser, a
 * len above the unread count, or a NULL func. A NULL charset is empty.
 * ------------------------------------------------------------------------- */

M_API M_bool M_parser_is_predicate(const M_parser_t *parser, size_t len, M_parser_predicate_func func);
M_API M_bool M_parser_is_chr_predicate(const M_parser_t *parser, size_t len, M_chr_predicate_func func);
M_API M_bool M_parser_is_charset(const M_parser_t *parser, size_t len, const unsigned char *charset,
                                 size_t charset_len);
M_API M_bool M_parser_is_str_charset(const M_parser_t *parser, size_t len, const char *charset);
/* The "not" forms: every byte fails the test. */
M_API M_bool M_parser_is_not_predicate(const M_parser_t *parser, size_t len, M_parser_predicate_func func);
M_API M_bool M_parser_is_not_chr_predicate(const M_parser_t *parser, size_t len, M_chr_predicate_func func);
M_API M_bool M_parser_is_not_charset(const M_parser_t *parser, size_t len, const unsigned char *charset,
                                     size_t charset_len);
M_API M_bool M_parser_is_not_str_charset(const M_parser_t *parser, size_t len, const char *charset);

/* ---------------------------------------------------------------------------
 * Splitting
 * ------------------------------------------------------------------------- */

/* Split all unread bytes at each delimiter byte into new dynamic parsers (one
 * per piece, delimiters left out, same flags as the source). With a non-zero
 * maxcnt at most maxcnt pieces are made, the last taking the rest, delimiters
 * included. A delimiter at the very end yields a last, empty piece.
 *
 * parser:     NULL yields NULL.
 * flags:      M_PARSER_SPLIT_FLAG_*; with M_PARSER_SPLIT_FLAG_NODELIM_FAIL
 *             data without any delimiter fails.
 * num_output: receives the piece count (0 on failure); NULL yields NULL.
 * Returns an array the caller releases with M_parser_split_free; NULL when
 * the parser is empty or the call fails (nothing consumed). On success every
 * unread byte is consumed. */
M_API M_parser_t **M_parser_split(M_parser_t *parser, unsigned char delim, size_t maxcnt, uint32_t flags,
                                  size_t *num_output) M_WARN_UNUSED_RESULT;

/* As M_parser_split with a byte pattern as delimiter. pat: NULL or len 0
 * yields NULL. */
M_API M_parser_t **M_parser_split_pat(M_parser_t *parser, const unsigned char *pat, size_t len, size_t maxcnt,
                                      uint32_t flags, size_t *num_output) M_WARN_UNUSED_RESULT;

/* As M_parser_split with a string pattern as delimiter. pat: NULL or empty
 * yields NULL. */
M_API M_parser_t **M_parser_split_str_pat(M_parser_t *parser, const char *pat, size_t maxcnt, uint32_t flags,
                                          size_t *num_output) M_WARN_UNUSED_RESULT;

/* Destroy num parsers of a split result and free the array. NULL is
 * ignored. */
M_API void M_parser_split_free(M_parser_t **parsers, size_t num);

/* ---------------------------------------------------------------------------
 * Framed message
 * ------------------------------------------------------------------------- */

/* Read a message framed as STX (0x02), message bytes, ETX (0x03, the first
 * one after the STX), and a one-byte LRC (M_mem_calc_lrc: XOR of the message
 * bytes, plus the STX and/or ETX as flags says).
 *
 * parser:  NULL yields M_PARSER_FRAME_ERROR_INVALID.
 * message: receives a new dynamic parser with the message bytes (same flags
 *          as the source; free with M_parser_destroy) on success, NULL
 *          otherwise; NULL yields M_PARSER_FRAME_ERROR_INVALID.
 * flags:   M_PARSER_FRAME_LRC_* bits.
 * Returns M_PARSER_FRAME_ERROR_SUCCESS with the whole frame consumed;
 * _INVALID (fewer than 4 unread bytes) or _NO_STX with nothing consumed;
 * _NO_ETX or _NO_LRC with the cursor left at the STX (wait for more data);
 * _LRC_CALC with the whole damaged frame consumed, so that the next call
 * looks at what follows it. */
M_API M_parser_frame_error_t M_parser_read_stxetxlrc_message(M_parser_t *parser, M_parser_t **message, uint32_t flags);

M_END_DECLS

#endif /* M_PARSER_H */
