/* Base64 coding of binary data (RFC 4648, section 4: the standard alphabet
 * "A-Z a-z 0-9 + /" with "=" padding).
 *
 * Encoding writes 4 characters for each started group of 3 bytes; a final
 * group of 1 byte gives 2 characters and "==", of 2 bytes 3 characters and
 * "=". Output can be wrapped into lines of a fixed length; it never ends with
 * a line feed and is always NUL-terminated.
 *
 * Decoding is strict about the data and relaxed about layout: white space
 * anywhere between characters (line breaks of wrapped text included) and at
 * the end is skipped, but every other character must belong to the alphabet;
 * "=" may only be the last significant character or the last two; and the
 * number of significant characters must be a multiple of 4. Any breach, and
 * too little room for the output, fails the whole decode.
 *
 * All functions work on caller memory, keep no state and never allocate.
 */
#ifndef M_BASE64_H
#define M_BASE64_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Room needed to Base64-encode len bytes, line feeds and the terminating NUL
 * included: 4 * ceil(len / 3) characters, plus that count divided by wrap
 * when wrapping, plus 1.
 *
 * wrap: line length; 0 means one unbroken line.
 *
 * Returns the size; 0 for len 0, and 0 when it does not fit a size_t. */
M_API size_t M_base64_encode_size(size_t len, size_t wrap);

/* Upper bound of the bytes decoded from len characters: (len / 4) * 3.
 *
 * Returns the bound; 0 for len 0. */
M_API size_t M_base64_decode_size(size_t len);

/* Write the Base64 text of inlen bytes, and a terminating NUL, into out.
 *
 * out:  destination of outlen bytes; NULL fails.
 * in:   bytes to encode; NULL fails.
 * wrap: line length (0: one line). A line feed follows every wrap-th
 *       character; one that would end the output is not written.
 *
 * Fails (0, out untouched) when a pointer is NULL, a length is 0, or outlen is
 * below M_base64_encode_size(inlen, wrap).
 *
 * Returns the number of characters written, line feeds included, NUL
 * excluded. */
M_API size_t M_base64_encode(char *out, size_t outlen, const unsigned char *in, size_t inlen, size_t wrap);

/* Decode Base64 text into bytes.
 *
 * out: destination of outlen bytes; NULL fails.
 * in:  text; NULL fails. Exactly inlen characters are read (a NUL inside
 *      them is malformed input).
 *
 * Fails (0) on any malformed input -- a character outside the alphabet (every
 * byte below "+" or above "z" and every byte of 128 or more, white space
 * aside), a misplaced "=", a significant length that is not a multiple of 4,
 * text of white space only -- and when outlen is too small. On failure some
 * bytes of out may already have been written; treat them as garbage.
 *
 * Returns the number of bytes written (no NUL is added). */
M_API size_t M_base64_decode(unsigned char *out, size_t outlen, const char *in, size_t inlen);

M_END_DECLS

#endif /* M_BASE64_H */
