/* Formatted output: the library's own printf engine.
 *
 * One interpreter walks the format text with a constant byte cursor
 * (M_parser_t) and hands every piece of output to a small writer that knows
 * the target. There are four targets here: a runtime stream (FILE), a raw file
 * descriptor, a fixed-size character array and a growable byte buffer
 * (M_buf_t); the file layer adds a fifth, its library files (M_mdprintf in
 * m_fs_file.h). The C library's printf family is never
 * used: numbers, including floating point, are converted here, so the text
 * does not depend on the locale or on the runtime.
 *
 * Directive language:  %[flags][width][.precision][length]conversion
 *
 *   flags      "-"  left-justify (and set the fill back to space)
 *              "+"  sign on non-negative numbers; wins over " " wherever given
 *              " "  a space in place of that sign
 *              "#"  alternative form (octal "0", hexadecimal "0x"/"0X")
 *              "0"  fill with "0", unless "-" was given before
 *   width      decimal digits, or "*" taking an int argument that is used
 *              only when above 0 (a negative width does NOT left-justify);
 *              widths and precisions written as digits stop growing at
 *              INT_MAX
 *   precision  "." then digits or "*" (again used only when above 0);
 *              "." alone means a precision of 0; a second "." is malformed
 *   length     none: 32-bit; "hh" 8-bit; "h" 16-bit; "l" a long of the
 *              host's size (64-bit on Linux, 32-bit on Windows); "ll",
 *              "z", "I64": 64-bit; "I32": 32-bit.
 *              Two modifiers in a row (other than "hh" and "ll") are
 *              malformed, and so is an "I" not followed by "64" or "32".
 *   conversion d i       signed decimal of the argument narrowed to its length
 *              u         unsigned decimal ("+" and " " have no effect)
 *              o O       unsigned octal; "#" adds a leading "0" if none;
 *                        "+" and " " put "+" or " " in front (before any
 *                        prefix), as for a non-negative "d": "%+o" of 8 is "+10"
 *              x X       unsigned hexadecimal; "#" adds "0x"/"0X", also for 0;
 *                        "+" and " " as for octal: "%+#x" of 255 is "+0xff"
 *              p P       pointer, always "0x"/"0X" and hexadecimal digits;
 *                        "+" and " " have no effect
 *              c         one byte from an int argument
 *              s         string, cut to the precision; always padded with
 *                        spaces; NULL prints "<NULL>" (precision not applied)
 *              f F e E g G  fixed-point decimal, 6 digits after the point by
 *                        default, at most 100; there is no exponent form;
 *                        "nan", "inf", "-inf" for the special values (NaN
 *                        counts as non-negative). The fraction F is scaled
 *                        to S = F * 10^p as a double and rounded halves away
 *                        from zero, carrying into the integer part: "%.2f" of
 *                        1.005 is "1.00" because the double nearest 1.005
 *                        lies just below it; "%.0f" of 2.5 is "3". When that
 *                        product reaches 2^52 or p exceeds 22 (the double
 *                        product has then lost low digits) S is computed
 *                        exactly instead, with the same rounding, so every
 *                        printed digit is a true digit of the value.
 *              %%        one "%"
 *   The precision has no effect on integer conversions.
 *
 * Integers with fill "0": the sign, then the prefix, then the digits padded
 * with zeros ("%05d" of -42 is "-0042", "%#06x" of 255 is "0x00ff").
 *
 * Malformed directives never fail a call: they write "%" followed by one "?"
 * for every byte read after the "%" (the offending byte included), and the
 * walk goes on after those bytes. "%y" writes "%?", "%5.2.1f" writes "%????"
 * followed by "1f", and a "%" at the very end of the format writes "%".
 *
 * No printf-format attribute: the language above is not a subset of printf's.
 * "O", "P", "I64" and "I32" are not printf conversions or lengths, so the
 * compiler's format check (an error under -Werror) would reject legal calls.
 * Callers must therefore match arguments to the format themselves; missing
 * arguments are not detected.
 *
 * Every entry point accepts a NULL format, which formats nothing. The engine
 * allocates nothing itself (numbers are built in fixed areas on the stack);
 * only the buffer targets grow their buffer. It keeps no shared state, so
 * calls are independent, but concurrent calls on one stream may interleave.
 */
#ifndef M_STR_FMT_H
#define M_STR_FMT_H

#include <stdarg.h>
#include <stdio.h>
#include <sys/types.h>

#include "core/m_defs.h"

/* The byte buffer is the opaque object of m_buf.h. */
#include "core/m_buf.h"

M_BEGIN_DECLS

/* ---------------------------------------------------------------------------
 * Runtime stream (FILE)
 * ------------------------------------------------------------------------- */

/* Format into a runtime stream with fwrite.
 *
 * stream: the stream; NULL yields -1 and writes nothing.
 * fmt:    the format; NULL formats nothing.
 * ap:     the arguments; the caller's ap is not consumed (it is copied).
 *
 * Returns the number of bytes written, or -1 when stream is NULL or any
 * fwrite came up short. Output written before a failure stays written. */
M_API ssize_t M_vfprintf(FILE *stream, const char *fmt, va_list ap);

/* As M_vfprintf with variable arguments. */
M_API ssize_t M_fprintf(FILE *stream, const char *fmt, ...);

/* As M_vfprintf on standard output. */
M_API ssize_t M_vprintf(const char *fmt, va_list ap);

/* As M_printf with variable arguments: M_fprintf(stdout, fmt, ...). */
M_API ssize_t M_printf(const char *fmt, ...);

/* ---------------------------------------------------------------------------
 * Raw file descriptor
 * ------------------------------------------------------------------------- */

/* Format into a raw file descriptor with write(2).
 *
 * Output is staged in a 512-byte area on the stack: small pieces collect
 * there, larger ones flush the stage and go out in 512-byte writes, and
 * whatever remains staged is written when the call ends. A write interrupted
 * by a signal before it moved anything is repeated; any other short write is
 * a failure.
 *
 * fd:  the descriptor; values below 1 yield -1 (descriptor 0, standard
 *      input, is refused).
 * fmt: the format; NULL formats nothing.
 *
 * Returns the number of bytes written, or -1 on a refused descriptor or a
 * failed write. Output written before a failure stays written. */
M_API ssize_t M_vdprintf(int fd, const char *fmt, va_list ap);

/* As M_vdprintf with variable arguments. */
M_API ssize_t M_dprintf(int fd, const char *fmt, ...);

/* ---------------------------------------------------------------------------
 * Fixed-size character array
 * ------------------------------------------------------------------------- */

/* Format into a character array of size bytes.
 *
 * buf:  destination; NULL (or size 0) stores nothing, which sizes the output
 *       without writing it.
 * size: bytes available at buf, the terminator included. As many bytes as
 *       fit are copied while one byte is kept for the terminator; the rest
 *       are counted but dropped.
 * fmt:  the format; NULL formats nothing.
 *
 * Returns the length of the complete output (without terminator), which
 * exceeds size - 1 when the output was cut; 0 when formatting failed. When
 * buf is not NULL and size is above 0 the text is always terminated. */
M_API ssize_t M_vsnprintf(char *buf, size_t size, const char *fmt, va_list ap);

/* As M_vsnprintf with variable arguments. */
M_API ssize_t M_snprintf(char *buf, size_t size, const char *fmt, ...);

/* ---------------------------------------------------------------------------
 * Growable byte buffer (M_buf_t)
 * ------------------------------------------------------------------------- */

/* Append the formatted text to a byte buffer (M_buf_add_bytes).
 *
 * buf: the buffer; NULL receives nothing and the result is then the length
 *      the output would have had.
 * fmt: the format; NULL formats nothing.
 *
 * Returns the number of bytes appended; 0 when formatting failed. Pointers
 * borrowed from buf (M_buf_peek, direct-write windows) are invalidated. */
M_API ssize_t M_vbprintf(M_buf_t *buf, const char *fmt, va_list ap);

/* As M_vbprintf with variable arguments. */
M_API ssize_t M_bprintf(M_buf_t *buf, const char *fmt, ...);

/* Format into a new string.
 *
 * out: receives the text as a new NUL-terminated string (free with M_free),
 *      or NULL when the output is empty or formatting failed. NULL discards
 *      the text and only its length is returned.
 * fmt: the format; NULL formats nothing (the result is 0 and *out NULL).
 *
 * Returns the length of the output; 0 when it is empty or formatting
 * failed. */
M_API ssize_t M_vasprintf(char **out, const char *fmt, va_list ap);

/* As M_vasprintf with variable arguments. */
M_API ssize_t M_asprintf(char **out, const char *fmt, ...);

M_END_DECLS

#endif /* M_STR_FMT_H */
