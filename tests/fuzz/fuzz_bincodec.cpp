/* Base64 and hexadecimal decoding on arbitrary text, through the front end
 * for each codec (caller memory, which calls the codec's own decoder, and
 * allocating forms) and the hex-or-Base64 detection. Whatever decodes must
 * encode again and decode back to the same bytes. */

#include "formats/m_bincodec.h"
#include "fuzz_common.h"

namespace {

void check_round_trip(const unsigned char *bytes, size_t len, M_bincodec_codec_t codec, size_t wrap)
{
	if (len == 0)
		return;
	char *text = M_bincodec_encode_alloc(bytes, len, wrap, codec);
	FUZZ_CHECK(text != nullptr);
	size_t         back_len = 0;
	unsigned char *back     = M_bincodec_decode_alloc(text, M_str_len(text), &back_len, codec);
	FUZZ_CHECK(back != nullptr);
	FUZZ_CHECK(back_len == len);
	FUZZ_CHECK(std::memcmp(back, bytes, len) == 0);
	M_free(back);
	M_free(text);
}

void decode_with(const char *in, size_t len, M_bincodec_codec_t codec)
{
	const size_t               need = M_bincodec_decode_size(len, codec);
	std::vector<unsigned char> out(need == 0 ? 1 : need);
	const size_t               got = M_bincodec_decode(out.data(), need, in, len, codec);
	FUZZ_CHECK(got <= need);

	/* One byte too little room must never write past the block. */
	if (got > 0) {
		std::vector<unsigned char> small(got - 1 == 0 ? 1 : got - 1);
		(void)M_bincodec_decode(small.data(), got - 1, in, len, codec);
	}

	size_t         alloc_len = 12345;
	unsigned char *alloc     = M_bincodec_decode_alloc(in, len, &alloc_len, codec);
	if (alloc != nullptr) {
		FUZZ_CHECK(alloc_len == got);
		FUZZ_CHECK(std::memcmp(alloc, out.data(), got) == 0);
		FUZZ_CHECK(alloc[alloc_len] == 0);
		if (codec != M_BINCODEC_HEX_OR_BASE64)
			check_round_trip(alloc, alloc_len, codec, codec == M_BINCODEC_BASE64 ? len % 80 : 0);
		M_free(alloc);
	} else {
		FUZZ_CHECK(got == 0);
		FUZZ_CHECK(alloc_len == 0);
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* Exact-size copy: the decoders must not read beyond inlen. */
	fuzz_copy<char> in(data, size);
	const char     *text = in.get();
	decode_with(text, size, M_BINCODEC_BASE64);
	decode_with(text, size, M_BINCODEC_HEX);
	decode_with(text, size, M_BINCODEC_HEX_OR_BASE64);

	/* The NUL-terminated form reads up to the NUL. */
	fuzz_copy<char> cstr(data, size, true);
	for (M_bincodec_codec_t c : {M_BINCODEC_BASE64, M_BINCODEC_HEX, M_BINCODEC_HEX_OR_BASE64})
		M_free(M_bincodec_decode_str_alloc(cstr.get(), c));
	return 0;
}
