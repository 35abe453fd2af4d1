/* Internal pieces of the OpenPGP message encryption, exposed for its tests
 * and for the replacement of the compressor. C++ only. */
#ifndef M_PGP_ENCRYPT_INT_H
#define M_PGP_ENCRYPT_INT_H

#include <cstddef>
#include <cstdint>

#include "core/m_buf.h"
#include "pgp/pgp_encrypt.h"

namespace pgp_detail {

/* One row of the symmetric algorithm table. */
struct symalg_info {
    M_pgp_symalg_t symalg;     /* the library's selector */
    uint8_t        pgp_id;     /* OpenPGP symmetric algorithm id written in messages */
    size_t         block_size; /* cipher block size in bytes (CFB prefix length) */
    size_t         key_size;   /* session key length in bytes */
};

/* The row for a selector, or nullptr for an unknown one. */
[[nodiscard]] const symalg_info *symalg_lookup(M_pgp_symalg_t symalg) noexcept;

/* Encrypt in_len bytes of in to out in one pass of the selector's cipher in
 * CFB mode (the full-block CFB of OpenPGP), starting a fresh stream from iv
 * (block size bytes) under key (the table's key size bytes). out must have
 * room for in_len bytes; in and out may be the same.
 * Returns the number of bytes written (in_len on success), 0 on failure: NULL
 * out, key, iv or in, an unknown selector, a cipher the crypto library cannot
 * provide, in_len above INT32_MAX, or a failed cipher call. */
[[nodiscard]] size_t do_encrypt_cfb(unsigned char *out, M_pgp_symalg_t symalg,
                                    const unsigned char *key, const unsigned char *iv,
                                    const unsigned char *in, size_t in_len) noexcept;

/* Append the compressed form of src_len bytes at src to dst: an RFC 1950 zlib
 * stream at the default level. This is the one place the compressor is
 * called, so it can be exchanged without touching the packet code.
 * src must not point into dst. src_len 0 appends the stream of empty input.
 * Returns false (dst unchanged) on NULL dst, NULL src with a non-zero length
 * or a compressor error. */
[[nodiscard]] bool compress_append(M_buf_t *dst, const unsigned char *src, size_t src_len) noexcept;

} // namespace pgp_detail

#endif /* M_PGP_ENCRYPT_INT_H */
