/* Conversions between text codings, and hex-or-Base64 detection.
 *
 * A conversion decodes into one temporary block, sized as the allocating
 * decoder sizes it, and encodes from there; the temporary block may hold key
 * material, which M_free wipes on release.
 */
#include "formats/m_bincodec_conv.h"

#include "core/m_mem.h"
#include "formats/m_base64.h"
#include "formats/m_hex.h"
#include "core/m_text_int.h"

namespace {

/* Every character up to a NUL, never beyond len, is a hex digit. The scan is
 * bounded by len so text that is not terminated is never read past its end. */
bool all_hex(const char *s, size_t len)
{
	for (size_t i = 0; i < len && s[i] != '\0'; i++) {
		if (!m::detail::is_hex_digit(static_cast<unsigned char>(s[i])))
			return false;
	}
	return true;
}

} // namespace

extern "C" {

size_t M_bincodec_convert(char *out, size_t outlen, size_t wrap, M_bincodec_codec_t out_codec, const char *in,
                          size_t inlen, M_bincodec_codec_t in_codec)
{
	if (out == nullptr || in == nullptr || inlen == 0)
		return 0;
	if (out_codec != M_BINCODEC_BASE64 && out_codec != M_BINCODEC_HEX)
		return 0;
	size_t         len   = 0;
	unsigned char *bytes = M_bincodec_decode_alloc(in, inlen, &len, in_codec);
	if (bytes == nullptr)
		return 0;
	const size_t n = M_bincodec_encode(out, outlen, bytes, len, wrap, out_codec);
	M_free(bytes);
	return n;
}

char *M_bincodec_convert_alloc(const char *in, size_t inlen, size_t wrap, M_bincodec_codec_t in_codec,
                               M_bincodec_codec_t out_codec)
{
	if (in == nullptr || inlen == 0)
		return nullptr;
	if (out_codec != M_BINCODEC_BASE64 && out_codec != M_BINCODEC_HEX)
		return nullptr;
	size_t         len   = 0;
	unsigned char *bytes = M_bincodec_decode_alloc(in, inlen, &len, in_codec);
	if (bytes == nullptr)
		return nullptr;
	char *text = M_bincodec_encode_alloc(bytes, len, wrap, out_codec);
	M_free(bytes);
	return text;
}

size_t M_hex_or_base64_to_bin(unsigned char *out, size_t outlen, const char *in, size_t inlen)
{
	if (in == nullptr || inlen == 0 || *in == '\0')
		return 0;
	if (inlen % 2 == 0 && all_hex(in, inlen))
		return M_hex_decode(in, inlen, out, outlen);
	return M_base64_decode(out, outlen, in, inlen);
}

} // extern "C"
