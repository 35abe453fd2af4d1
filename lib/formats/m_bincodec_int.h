/* Shared inside the binary codecs only (not a public header). */
#ifndef M_BINCODEC_INT_H
#define M_BINCODEC_INT_H

#include <cstddef>

#include "formats/m_bincodec.h"

namespace m_bincodec_detail {

/* Bytes to allocate (terminator not counted) for decoding inlen characters
 * with codec: hex inlen / 2 (0 below 2 characters), Base64 its decode size,
 * hex-or-Base64 the larger of the two since the text picks the decoder.
 * 0 means nothing can be decoded. */
[[nodiscard]] size_t decode_alloc_size(size_t inlen, M_bincodec_codec_t codec);

} // namespace m_bincodec_detail

#endif /* M_BINCODEC_INT_H */
