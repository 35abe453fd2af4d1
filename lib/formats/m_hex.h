/* Hexadecimal coding of binary data.
 *
 * Encoding writes two upper-case digits per byte ("0123456789ABCDEF"), high
 * nibble first, and can wrap its output into lines of a fixed length. A line
 * holds exactly the line length in characters, so a line may break between
 * the two digits of one byte; the output never ends with a line feed.
 *
 * Decoding is lenient on purpose: it accepts either case, skips white space
 * (tab, line feed, vertical tab, form feed, carriage return, space) between
 * digits, and does not validate digits -- any other character yields a byte
 * by the same arithmetic as a digit and is not reported. Callers that need
 * validation test the text first (M_str_ishex in m_str.h), as
 * M_hex_or_base64_to_bin (m_bincodec_conv.h) does.
 *
 * All functions work on caller memory, keep no state and never allocate.
 * Results are counts of characters or bytes written; 0 means failure.
 */
#ifndef M_HEX_H
#define M_HEX_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Room needed to hex-encode len bytes.
 *
 * wrap: line length; 0 means one unbroken line.
 *
 * Returns 2 * len without wrapping; with wrapping 2 * len + (2 * len) / wrap
 * + 1, which covers the line feeds and one spare byte. 0 for len 0, and 0
 * when the size does not fit a size_t. */
M_API size_t M_hex_target_size(size_t len, size_t wrap);

/* Write the hexadecimal text of inlen bytes into out.
 *
 * in:   bytes to encode; NULL fails.
 * out:  destination of outlen bytes; NULL fails.
 * wrap: line length (0: one line). A line feed follows every wrap-th
 *       character except at the very end.
 *
 * Fails (0, out untouched) when a pointer is NULL, inlen is 0, or outlen is
 * below M_hex_target_size(inlen, wrap). A terminating NUL is written after
 * the text only when outlen leaves room for it.
 *
 * Returns the number of characters written, line feeds included, NUL
 * excluded. */
M_API size_t M_hex_encode(const unsigned char *in, size_t inlen, char *out, size_t outlen, size_t wrap);

/* Decode hexadecimal text into bytes, two characters a byte, skipping white
 * space before each digit. Decoding stops (without failing) at the end of the
 * input, or when a high digit is the last significant character.
 *
 * in:  text; NULL fails. It need not be NUL-terminated; exactly inlen
 *      characters are read.
 * out: destination of outlen bytes; NULL fails.
 *
 * Fails (0) when a pointer is NULL, inlen is 0 or odd, or inlen / 2 exceeds
 * outlen; out is then untouched.
 *
 * Returns the number of bytes written (no NUL is added). */
M_API size_t M_hex_decode(const char *in, size_t inlen, unsigned char *out, size_t outlen);

M_END_DECLS

#endif /* M_HEX_H */
