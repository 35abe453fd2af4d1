/* Binary codecs: conversion of text from one coding to another, and decoding
 * of text that may be either hexadecimal or Base64.
 *
 * A conversion decodes into one temporary block (wiped and freed before it
 * returns) and encodes from it; the allocating form allocates once more for
 * its result, which the caller frees with M_free.
 */
#ifndef M_BINCODEC_CONV_H
#define M_BINCODEC_CONV_H

#include "core/m_defs.h"
#include "formats/m_bincodec.h"

M_BEGIN_DECLS

/* Decode text with in_codec and encode the bytes with out_codec into caller
 * memory.
 *
 * out:       destination of outlen bytes; NULL fails.
 * wrap:      line length of the output (0: one line).
 * out_codec: M_BINCODEC_BASE64 or M_BINCODEC_HEX; others fail.
 * in:        text; NULL or inlen 0 fails.
 * in_codec:  any decoding codec, hex-or-Base64 included.
 *
 * Returns the characters written; 0 when decoding or encoding fails (for
 * instance too little room in out). */
M_API size_t M_bincodec_convert(char *out, size_t outlen, size_t wrap, M_bincodec_codec_t out_codec, const char *in,
                                size_t inlen, M_bincodec_codec_t in_codec);

/* M_bincodec_convert into a new NUL-terminated text.
 *
 * in: text; NULL or inlen 0 yields NULL.
 *
 * Returns the text, owned by the caller (free with M_free); NULL on any
 * failure. */
M_API char *M_bincodec_convert_alloc(const char *in, size_t inlen, size_t wrap, M_bincodec_codec_t in_codec,
                                     M_bincodec_codec_t out_codec) M_WARN_UNUSED_RESULT;

/* Decode text that is hexadecimal or Base64, telling them apart by the text:
 * when inlen is even and every character (up to a NUL, and never beyond
 * inlen) is a hexadecimal digit -- white space not allowed -- the text is
 * decoded as hexadecimal; otherwise as Base64.
 *
 * out: destination of outlen bytes; NULL fails.
 * in:  text; NULL, inlen 0 or a first byte of NUL yields 0.
 *
 * Returns the bytes written; 0 on failure (see M_hex_decode,
 * M_base64_decode). */
M_API size_t M_hex_or_base64_to_bin(unsigned char *out, size_t outlen, const char *in, size_t inlen);

M_END_DECLS

#endif /* M_BINCODEC_CONV_H */
