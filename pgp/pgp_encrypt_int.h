/* Internal pieces of the OpenPGP message encryption, exposed for its tests
 * and for the replacement of the compressor. C++ only. */
#ifndef M_PGP_ENCRYPT_INT_H
#define M_PGP_ENCRYPT_INT_H

#include <cstddef>
#include <cstdint>

#include "core/m_buf.h"
#include "pgp/pgp_encrypt.h"

namespace m::detail {

/* Encrypt in_len bytes of in to out in one pass of the selector's cipher in
 * CFB mode (the full-block CFB of OpenPGP), starting a fresh stream from iv
 * (block size bytes) under key (the table's key size bytes). out must have
 * room for in_len bytes; in and out may be the same.
 * Returns the number of bytes written (in_len on success), 0 on failure: NULL
 * out, key, iv or in, an unknown selector, a cipher the crypto library cannot
 * provide, or a failed cipher call. Inputs above INT32_MAX bytes are fed to
 * the cipher in 1 GiB slices of one stream (its count is a signed int). */
[[nodiscard]] size_t do_encrypt_cfb(unsigned char *out, M_pgp_symalg_t symalg, const unsigned char *key,
                                    const unsigned char *iv, const unsigned char *in, size_t in_len) noexcept;

/* The compressor of the compressed data packet. These functions are the one
 * place it is called, so it can be exchanged without touching the packet code.
 *
 * compress_after_head: the RFC 1950 zlib stream of head followed by src,
 * without the two being joined in memory first. head (1 to 65535 bytes, such
 * as a packet header) goes into a stored block of its own, src is compressed
 * behind it (libdeflate at its level 6, whose streams are no larger than
 * zlib's default level on token tables), and the Adler-32 covers both, so the
 * stream inflates to exactly head and then src. dst has room for *dst_len
 * bytes (give it compress_after_head_bound).
 * The seven-argument form cuts src at split (0 < split < src_len) and
 * compresses the two pieces at the same time on two threads, then joins them
 * into one stream; split 0 compresses src in one piece. The six-argument form
 * takes compress_split_point(src_len). The pieces are made in one piece after
 * all when the room would not hold two.
 * On success *dst_len is set to the stream's length and true is returned.
 * False on NULL dst, dst_len or head, a head_len of 0 or above 65535, NULL src
 * with a non-zero length, a split not below src_len, too little room, or a
 * compressor error; *dst_len is then unchanged and dst's content undefined.
 *
 * compress_after_head_bound: the most bytes that call can write, in one or
 * two pieces; 0 when head_len is 0 or above 65535, or src_len above
 * SIZE_MAX / 2.
 *
 * compress_split_point: where the six-argument form cuts src_len bytes: 0
 * (one piece) below 8 MiB or with one processor online, else a little below
 * the middle. */
[[nodiscard]] size_t compress_after_head_bound(size_t head_len, size_t src_len) noexcept;
[[nodiscard]] bool compress_after_head(unsigned char *dst, size_t *dst_len, const unsigned char *head, size_t head_len,
                                       const unsigned char *src, size_t src_len) noexcept;
[[nodiscard]] bool compress_after_head(unsigned char *dst, size_t *dst_len, const unsigned char *head, size_t head_len,
                                       const unsigned char *src, size_t src_len, size_t split) noexcept;
[[nodiscard]] size_t compress_split_point(size_t src_len) noexcept;

/* Where the raw DEFLATE stream (RFC 1951) at the start of s[0 .. len) has its
 * last block: on success *last is the bit offset of that block's header and
 * *end the offset of the bit after the stream, both counted from the first
 * bit of s in DEFLATE's least significant bit first order, and true is
 * returned. Bytes of s after the stream are not looked at.
 * False, with *last and *end unchanged, on NULL s, last or end, or when s does
 * not begin with one whole stream that zlib's inflate would accept: a
 * truncated stream, a reserved block type, stored lengths that disagree, code
 * sets that are over-subscribed or incomplete, symbols that are not valid,
 * repeated code lengths past the set's end, a set without an end-of-block
 * code, or a distance reaching before the stream's start.
 * Nothing is inflated, so no plaintext is written anywhere; the walk's tables
 * live in one heap block allocated and freed by each call. Thread-safe. */
[[nodiscard]] bool deflate_last_block(const unsigned char *s, size_t len, uint64_t *last, uint64_t *end) noexcept;

} // namespace m::detail

#endif /* M_PGP_ENCRYPT_INT_H */
