/* ECDH session key encryption (RFC 6637) for the message encryption. Kept
 * apart from the packet code so that the elliptic-curve work has one home.
 * C++ only. */
#ifndef M_PGP_ECDH_INT_H
#define M_PGP_ECDH_INT_H

#include <cstddef>
#include <cstdint>

#include "core/m_buf.h"
#include "pgp/pgp_pubkey.h"

namespace m::detail {

/* Largest ephemeral point (P-521 uncompressed) and wrapped key (a session
 * key block of AES-256 padded to 40 bytes, plus the 8-byte wrap check). */
constexpr size_t kEcdhMaxEphemeral = 133;
constexpr size_t kEcdhMaxWrapped   = 56;

/* The result of wrapping a session key block to an ECDH key. */
struct ecdh_wrapped {
	unsigned char ephemeral[kEcdhMaxEphemeral]; /* the ephemeral public point, in
                                                  * the key's form (0x40 || u or
                                                  * 0x04 || x || y) */
	size_t        ephemeral_len;
	unsigned char wrapped[kEcdhMaxWrapped]; /* AES key wrap of the padded block */
	size_t        wrapped_len;
};

/* Wrap a session key block (algorithm id, key, checksum) to an ECDH key:
 * a fresh ephemeral key pair on the key's curve, the shared point, the key
 * derivation of RFC 6637 section 7 with the key's hash and fingerprint, and
 * AES key wrap (RFC 3394) of the block padded as in section 8.
 * key must be of type ECDH. Returns false on an unknown curve or parameters,
 * a public point the crypto library refuses, a block longer than 48 bytes,
 * or any failed crypto call. The secrets (ephemeral key, shared point, key
 * encryption key, padded block) are cleared on every path. */
[[nodiscard]] bool ecdh_wrap_session_key(const M_pgp_pubkey_t *key, const unsigned char *skb, size_t skb_len,
                                         ecdh_wrapped *out) noexcept;

/* The key encryption key of RFC 6637 section 7: hash(00 00 00 01 || shared ||
 * param) cut to kek_len bytes, param being the curve OID with its length,
 * algorithm 18, the KDF parameters, "Anonymous Sender    " and the
 * recipient's fingerprint. hash_id is the OpenPGP id (8, 9, 10). Exposed for
 * the tests. */
[[nodiscard]] bool ecdh_kdf(uint8_t hash_id, const unsigned char *shared, size_t shared_len, const unsigned char *param,
                            size_t param_len, unsigned char *kek, size_t kek_len) noexcept;

} // namespace m::detail

#endif /* M_PGP_ECDH_INT_H */
