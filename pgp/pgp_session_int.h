/* The session key of a message: made fresh for every message and encrypted
 * to the recipient's key in a public-key encrypted session key packet.
 * C++ only.
 *
 * References: RFC 4880 5.1 (the packet, version 3), 13.1 (EME-PKCS1-v1_5,
 * the same encoding as RFC 8017 7.2.1), 5.5.2 and 13.5 (Elgamal); RFC 6637
 * (ECDH, pgp_ecdh_int.h). */
#ifndef M_PGP_SESSION_INT_H
#define M_PGP_SESSION_INT_H

#include <cstddef>

#include "core/m_buf.h"
#include "pgp/pgp_packet_int.h"
#include "pgp/pgp_pubkey.h"

namespace m::detail {

/* Make a fresh random session key for cipher into session_key (its key
 * size bytes; the caller wipes it) and append to out the packet that
 * carries it to key: the session key block (the cipher's id, the key, and
 * the sum of the key bytes modulo 65536, high byte first) padded with
 * PKCS#1 v1.5 type 2 and encrypted with RSA or Elgamal, or for an ECDH key
 * padded to a multiple of 8 bytes and AES-wrapped under a key agreed with a
 * fresh ephemeral key (an old-format header with a 4-byte length).
 * Returns false, out then holding part of a packet, on a key of unknown
 * type or without its numbers, a modulus too short for the block (its byte
 * length must be at least the block's length + 11), an ECDH point or
 * parameters the crypto library refuses, or a failed random, big-number or
 * cipher operation. Every secret is cleared on every path. */
[[nodiscard]] bool write_session_key(M_buf_t *out, const M_pgp_pubkey_t *key, const sym_cipher *cipher,
                                     unsigned char *session_key) noexcept;

/* Size in bits of the Elgamal random exponent for a prime of pbits bits. */
constexpr int elgamal_exp_bits(int pbits)
{
	if (pbits <= 5119)
		return pbits / 10 + 160;
	return ((pbits / 8) * 3 + 600) / 2;
}
static_assert(elgamal_exp_bits(2048) == 364, "2048-bit prime");
static_assert(elgamal_exp_bits(5119) == 671 && elgamal_exp_bits(5120) == 1260, "the rule changes above 5119 bits");

} // namespace m::detail

#endif /* M_PGP_SESSION_INT_H */
