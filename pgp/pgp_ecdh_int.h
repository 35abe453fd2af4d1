/* ECDH session key encryption (RFC 6637) for the message encryption. Kept
 * apart from the packet code so that the elliptic-curve work has one home.
 * C++ only. */
#ifndef M_PGP_ECDH_INT_H
#define M_PGP_ECDH_INT_H

#include <cstddef>
#include <cstdint>

#include <openssl/evp.h>

#include "core/m_buf.h"
#include "pgp/pgp_pubkey_int.h"

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

/* What is wrong with a public point ("public point at infinity", "public
 * point not on the curve", "public point of small order"): static text, or
 * NULL for a point that may be used. Every
 * elliptic-curve key is judged when it is read, so that a point nobody can
 * hold the secret of, or for which any signature verifies, never reaches a
 * prompt or an encryption. */

/* An ECDH key's point, in the form the key reader checked (0x40 || u on
 * Curve25519, 0x04 || x || y on a NIST curve): on its NIST curve (OpenSSL's
 * own check), or, on Curve25519, not of small order: the points of order 1,
 * 2, 4 and 8 of the curve and its twist (u = 0, u = 1, ...), whose shared
 * secret is all zero whatever the ephemeral key. */
[[nodiscard]] const char *ecdh_point_problem(const pgp_ecdh_key &k) noexcept;

/* An Ed25519 public key of 32 bytes (RFC 8032 5.1.3 encoding): refused when
 * y is not below p, when the encoding names no point of the curve, and when
 * the point is of small order (the identity among them: every signature
 * verifies with it). */
[[nodiscard]] const char *ed25519_point_problem(const unsigned char pt[32]) noexcept;

/* An ECDSA or NIST ECDH point as the crypto library read it (pkey NULL: it
 * could not, the encoding gives no point of the curve): the point at
 * infinity (encoded as the single byte 0) or a point off the curve. */
[[nodiscard]] const char *ec_point_problem(const EVP_PKEY *pkey, const unsigned char *pt, size_t pt_len) noexcept;

} // namespace m::detail

#endif /* M_PGP_ECDH_INT_H */
