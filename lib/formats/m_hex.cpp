/* Hexadecimal coding: the public entry points over the text kernel's coder,
 * which also serves the byte buffer's hexadecimal appends. */
#include "formats/m_hex.h"

#include "core/m_text_int.h"

extern "C" {

size_t M_hex_target_size(size_t len, size_t wrap)
{
	return m::detail::hex_encoded_size(len, wrap);
}

size_t M_hex_encode(const unsigned char *in, size_t inlen, char *out, size_t outlen, size_t wrap)
{
	if (in == nullptr || out == nullptr || inlen == 0)
		return 0;
	const size_t need = m::detail::hex_encoded_size(inlen, wrap);
	if (need == 0 || outlen < need)
		return 0;
	const size_t pos = m::detail::hex_encode(in, inlen, out, wrap);
	if (pos < outlen)
		out[pos] = '\0';
	return pos;
}

size_t M_hex_decode(const char *in, size_t inlen, unsigned char *out, size_t outlen)
{
	if (in == nullptr || out == nullptr || inlen == 0 || inlen % 2 != 0 || inlen / 2 > outlen)
		return 0;
	return m::detail::hex_decode(in, inlen, out);
}

} // extern "C"
