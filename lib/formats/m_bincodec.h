/* Binary codecs front end: one entry point for hexadecimal (m_hex.h) and
 * Base64 (m_base64.h) coding, chosen by a codec value, with sizing and
 * allocating variants. Conversions from one text coding to another and the
 * hex-or-Base64 detection live in m_bincodec_conv.h.
 *
 * Allocating functions return blocks from M_malloc that the caller frees with
 * M_free; they allocate exactly once. Nothing keeps state.
 */
#ifndef M_BINCODEC_H
#define M_BINCODEC_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Codec selector. Any other value gives no output and a size of 0. */
typedef enum {
	M_BINCODEC_BASE64        = 0, /* Base64 both ways */
	M_BINCODEC_HEX           = 1, /* hexadecimal both ways */
	M_BINCODEC_HEX_OR_BASE64 = 2  /* decoding only: hexadecimal when the text is an
	                               * even number of hex digits, else Base64 */
} M_bincodec_codec_t;

/* Room needed to encode len bytes with codec.
 *
 * wrap: line length (0: one line).
 *
 * Returns M_base64_encode_size for Base64 (terminator included);
 * M_hex_target_size for hex and hex-or-Base64; 0 for other codecs. */
M_API size_t M_bincodec_encode_size(size_t len, size_t wrap, M_bincodec_codec_t codec);

/* Upper bound of the bytes decoded from len characters with codec.
 *
 * Returns len / 2 for hex; M_base64_decode_size(len) for Base64; the larger
 * of the two for hex-or-Base64 (a bound that holds whichever codec the text
 * selects: Base64's alone gives 0 for the hex text "41"); 0 for other
 * codecs. */
M_API size_t M_bincodec_decode_size(size_t len, M_bincodec_codec_t codec);

/* Encode inlen bytes into caller memory (Base64 or hex only).
 *
 * out: destination of outlen bytes; NULL fails.
 * in:  bytes; NULL fails.
 *
 * Returns the characters written (see M_base64_encode, M_hex_encode); 0 on
 * failure, and always for hex-or-Base64 and unknown codecs. */
M_API size_t M_bincodec_encode(char *out, size_t outlen, const unsigned char *in, size_t inlen, size_t wrap,
                               M_bincodec_codec_t codec);

/* Encode inlen bytes into a new NUL-terminated text.
 *
 * in: bytes; NULL or inlen 0 yields NULL.
 *
 * Returns the text, owned by the caller (free with M_free); NULL for an empty
 * input, an unsupported codec (hex-or-Base64 included) or an encoding of 0
 * characters. */
M_API char *M_bincodec_encode_alloc(const unsigned char *in, size_t inlen, size_t wrap,
                                    M_bincodec_codec_t codec) M_WARN_UNUSED_RESULT;

/* Decode inlen characters into caller memory.
 *
 * out: destination of outlen bytes; NULL fails.
 * in:  text; NULL fails.
 *
 * Returns the bytes written: M_hex_decode for hex, M_base64_decode for
 * Base64, M_hex_or_base64_to_bin for hex-or-Base64; 0 on failure and for
 * unknown codecs. */
M_API size_t M_bincodec_decode(unsigned char *out, size_t outlen, const char *in, size_t inlen,
                               M_bincodec_codec_t codec);

/* Decode inlen characters into a new block, NUL-terminated after the bytes
 * for convenience.
 *
 * in:      text; NULL or inlen 0 yields NULL.
 * out_len: receives the number of decoded bytes (0 on failure); NULL yields
 *          NULL.
 *
 * Returns the block, owned by the caller (free with M_free); NULL for an
 * empty input, a decode size of 0 (hex needs at least 2 characters), an
 * unknown codec or a decode of 0 bytes. */
M_API unsigned char *M_bincodec_decode_alloc(const char *in, size_t inlen, size_t *out_len,
                                             M_bincodec_codec_t codec) M_WARN_UNUSED_RESULT;

/* Decode a NUL-terminated text into a new text, which must itself be valid
 * text: no NUL inside, and only printable characters or white space
 * (characters 9 to 13 and 32 to 126).
 *
 * in: text; NULL or empty yields NULL.
 *
 * Returns the text, owned by the caller (free with M_free); NULL when
 * decoding fails or the decoded bytes are not valid text. */
M_API char *M_bincodec_decode_str_alloc(const char *in, M_bincodec_codec_t codec) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_BINCODEC_H */
