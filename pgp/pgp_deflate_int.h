/* Compressing a message's data piece by piece: each piece is compressed on
 * its own (on any thread, with that thread's deflater) into a raw DEFLATE
 * stream, and the pieces, appended in order, make one stream. C++ only.
 *
 * A piece that another follows is left open: its last DEFLATE block loses
 * its final-block bit, and an empty stored block that is not the last
 * brings the stream to a byte boundary, where the next piece's stream
 * begins. The joined stream inflates to exactly the pieces' bytes in order;
 * it is a few bytes longer per piece than one stream, since each piece
 * starts without the history of the ones before. */
#ifndef M_PGP_DEFLATE_INT_H
#define M_PGP_DEFLATE_INT_H

#include <cstddef>
#include <cstdint>

#include "pgp/pgp_encrypt.h"

namespace m::detail {

/* zlib stream framing (RFC 1950): the 2-byte header (a 32 KiB window, the
 * "default level" hint), the Adler-32 trailer; and a stored block's header
 * (RFC 1951 3.2.4). */
constexpr unsigned char kZlibHeader[2]   = {0x78, 0x9C};
constexpr size_t        kAdlerLen        = 4;
constexpr size_t        kStoredHeaderLen = 5;

/* The most bytes deflate_piece can write for len bytes. */
[[nodiscard]] size_t deflate_piece_bound(size_t len) noexcept;

/* Compress len bytes at src (NULL only with len 0) into dst, which has room
 * for cap bytes (deflate_piece_bound), as a raw DEFLATE stream; unless last,
 * the stream is left open for the next piece's (above). Returns the
 * stream's length, 0 on failure (a NULL deflater, too little room, a stream
 * whose last block cannot be found). */
[[nodiscard]] size_t deflate_piece(M_pgp_deflater_t *d, const unsigned char *src, size_t len, unsigned char *dst,
                                   size_t cap, bool last) noexcept;

/* Adler-32 (RFC 1950) of len bytes continued from adler (1 to begin), and
 * of two runs joined: a's then b's, b covering b_len bytes. */
[[nodiscard]] uint32_t adler32_of(uint32_t adler, const unsigned char *bytes, size_t len) noexcept;
[[nodiscard]] uint32_t adler32_join(uint32_t a, uint32_t b, uint64_t b_len) noexcept;

} // namespace m::detail

#endif /* M_PGP_DEFLATE_INT_H */
