/* Binary codecs front end: dispatch by codec value, sizing, and the
 * allocating forms. Every allocating form allocates exactly once, for its
 * result; the conversions (m_bincodec_conv.cpp) add one temporary block.
 */
#include "formats/m_bincodec.h"

#include <cstring>
#include <limits>

#include "core/m_mem.h"
#include "formats/m_base64.h"
#include "formats/m_bincodec_conv.h"
#include "formats/m_hex.h"

namespace {

/* Characters allowed in the result of a text decode: the printable range and
 * the white space characters 9 to 13. */
bool is_text(const unsigned char *p, size_t len)
{
	for (size_t i = 0; i < len; i++) {
		const unsigned char c = p[i];
		if (!((c >= 32 && c <= 126) || (c >= 9 && c <= 13)))
			return false;
	}
	return true;
}

/* Bytes to allocate (terminator not counted) for decoding inlen characters:
 * 0 means nothing can be decoded. */
size_t decode_alloc_size(size_t inlen, M_bincodec_codec_t codec)
{
	switch (codec) {
		case M_BINCODEC_HEX:
			return inlen < 2 ? 0 : inlen / 2;
		case M_BINCODEC_BASE64:
			return M_base64_decode_size(inlen);
		case M_BINCODEC_HEX_OR_BASE64: {
			/* The text may turn out to be hex, which needs inlen / 2 bytes: more than
			 * the Base64 bound for a 2-character text (1 against 0). */
			const size_t b64 = M_base64_decode_size(inlen);
			const size_t hex = inlen / 2;
			return b64 > hex ? b64 : hex;
		}
	}
	return 0;
}

} // namespace

extern "C" {

size_t M_bincodec_encode_size(size_t len, size_t wrap, M_bincodec_codec_t codec)
{
	switch (codec) {
		case M_BINCODEC_BASE64:
			return M_base64_encode_size(len, wrap);
		case M_BINCODEC_HEX:
		case M_BINCODEC_HEX_OR_BASE64:
			return M_hex_target_size(len, wrap);
	}
	return 0;
}

size_t M_bincodec_decode_size(size_t len, M_bincodec_codec_t codec)
{
	switch (codec) {
		case M_BINCODEC_HEX:
			return len / 2;
		case M_BINCODEC_BASE64:
			return M_base64_decode_size(len);
		case M_BINCODEC_HEX_OR_BASE64: {
			/* Either codec may be chosen: the bound must hold for both
			 * (two hex digits decode to a byte where Base64 gives none). */
			const size_t b64 = M_base64_decode_size(len);
			return b64 > len / 2 ? b64 : len / 2;
		}
	}
	return 0;
}

size_t M_bincodec_encode(char *out, size_t outlen, const unsigned char *in, size_t inlen, size_t wrap,
                         M_bincodec_codec_t codec)
{
	switch (codec) {
		case M_BINCODEC_BASE64:
			return M_base64_encode(out, outlen, in, inlen, wrap);
		case M_BINCODEC_HEX:
			return M_hex_encode(in, inlen, out, outlen, wrap);
		case M_BINCODEC_HEX_OR_BASE64:
			break;
	}
	return 0;
}

/* One byte more than the encode size: the hex size has no room for a NUL when
 * not wrapping, and the result is always handed out as a string. */
char *M_bincodec_encode_alloc(const unsigned char *in, size_t inlen, size_t wrap, M_bincodec_codec_t codec)
{
	if (in == nullptr || inlen == 0)
		return nullptr;
	if (codec != M_BINCODEC_BASE64 && codec != M_BINCODEC_HEX)
		return nullptr;
	const size_t size = M_bincodec_encode_size(inlen, wrap, codec);
	if (size == 0 || size == std::numeric_limits<size_t>::max())
		return nullptr;
	char *out = static_cast<char *>(M_malloc(size + 1));
	if (out == nullptr)
		return nullptr;
	const size_t n = M_bincodec_encode(out, size + 1, in, inlen, wrap, codec);
	if (n == 0) {
		M_free(out);
		return nullptr;
	}
	out[n] = '\0';
	return out;
}

size_t M_bincodec_decode(unsigned char *out, size_t outlen, const char *in, size_t inlen, M_bincodec_codec_t codec)
{
	switch (codec) {
		case M_BINCODEC_HEX:
			return M_hex_decode(in, inlen, out, outlen);
		case M_BINCODEC_BASE64:
			return M_base64_decode(out, outlen, in, inlen);
		case M_BINCODEC_HEX_OR_BASE64:
			return M_hex_or_base64_to_bin(out, outlen, in, inlen);
	}
	return 0;
}

/* The result gets a NUL after the bytes so decoded text can be used as a
 * string directly (see M_bincodec_decode_str_alloc); a decode of 0 bytes is
 * a failure, never an empty block. */
unsigned char *M_bincodec_decode_alloc(const char *in, size_t inlen, size_t *out_len, M_bincodec_codec_t codec)
{
	if (out_len == nullptr)
		return nullptr;
	*out_len = 0;
	if (in == nullptr || inlen == 0)
		return nullptr;
	const size_t size = decode_alloc_size(inlen, codec);
	if (size == 0 || size == std::numeric_limits<size_t>::max())
		return nullptr;
	unsigned char *out = static_cast<unsigned char *>(M_malloc(size + 1));
	if (out == nullptr)
		return nullptr;
	const size_t n = M_bincodec_decode(out, size, in, inlen, codec);
	if (n == 0) {
		M_free(out);
		return nullptr;
	}
	out[n]   = 0;
	*out_len = n;
	return out;
}

/* Decoded bytes that are not text are refused rather than truncated at an
 * embedded NUL, so a caller never sees part of a binary value as a string. */
char *M_bincodec_decode_str_alloc(const char *in, M_bincodec_codec_t codec)
{
	if (in == nullptr || *in == '\0')
		return nullptr;
	size_t         len = 0;
	unsigned char *out = M_bincodec_decode_alloc(in, std::strlen(in), &len, codec);
	if (out == nullptr)
		return nullptr;
	if (!is_text(out, len)) {
		M_free(out);
		return nullptr;
	}
	return reinterpret_cast<char *>(out);
}

} // extern "C"
