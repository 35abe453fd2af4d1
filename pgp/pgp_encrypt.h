/* OpenPGP message encryption.
 *
 * Wraps a block of data into a binary (unarmoured) OpenPGP message that only
 * the holder of the secret half of an M_pgp_pubkey_t can open:
 *
 *   public-key encrypted session key packet (tag 1, version 3, RFC 4880 5.1)
 *   symmetrically encrypted data packet     (tag 9, no MDC,    RFC 4880 5.7)
 *     encrypted with a fresh random session key in OpenPGP CFB mode
 *     (RFC 4880 13.9: random prefix, two check bytes, resynchronisation)
 *       compressed data packet (tag 8, algorithm 2 ZLIB,  RFC 4880 5.6)
 *         literal data packet  (tag 11, format 'b', no file name, date 0)
 *           the input bytes
 *
 * Every packet uses the old packet format with a 4-byte length. The session
 * key is padded with PKCS#1 version 1.5 type 2 (RFC 8017 7.2.1) and encrypted
 * with RSA or Elgamal, as the key says; for an ECDH key it is padded to 8
 * bytes and AES-wrapped under a key agreed with a fresh ephemeral key on the
 * key's curve (RFC 6637). An empty input gives a message whose
 * encrypted packet holds only the CFB prefix.
 *
 * That default form carries no modification detection code, so GnuPG 2.2 and
 * later open it only with --ignore-mdc-error, and some other implementations
 * refuse it outright. M_pgp_encrypt_buf_ex with M_PGP_ENCRYPT_MDC writes the
 * integrity-protected form instead, which every current implementation opens
 * with its default settings:
 *
 *   public-key encrypted session key packet (as above)
 *   symmetrically encrypted integrity protected data packet
 *                                           (tag 18, version 1, RFC 4880 5.13,
 *                                            new-format header, definite length)
 *     one OpenPGP CFB pass from a zero IV, without resynchronisation, over
 *       the random prefix and its two check bytes
 *       the same compressed data packet as above
 *       modification detection code packet  (tag 19, RFC 4880 5.14: 0xD3 0x14
 *         and the SHA-1 of the prefix, the compressed packet and those two
 *         bytes)
 *
 * A recipient recomputes the SHA-1 and refuses the plaintext of a message
 * that was altered on its way.
 *
 * Nothing persists between calls: the session key, the CFB prefix and the
 * Elgamal exponent are new for every message; the key object is only read.
 * Calls on different buffers may run on different threads.
 */
#ifndef M_PGP_ENCRYPT_H
#define M_PGP_ENCRYPT_H

#include "core/m_defs.h"
#include "core/m_buf.h"
#include "pgp/pgp_pubkey.h"

M_BEGIN_DECLS

/* Symmetric cipher of the message. The values are the library's own; the
 * OpenPGP algorithm id written into messages is given beside each one.
 * Every other value makes encryption fail. */
typedef enum {
	M_PGP_SYMALG_3DES     = 2, /* TripleDES (id 2), 8-byte blocks, 24-byte key */
	M_PGP_SYMALG_CAST5    = 3, /* CAST5 (id 3), 8-byte blocks, 16-byte key */
	M_PGP_SYMALG_BLOWFISH = 4, /* Blowfish (id 4), 8-byte blocks, 16-byte key */
	M_PGP_SYMALG_AES128   = 5, /* AES-128 (id 7), 16-byte blocks, 16-byte key */
	M_PGP_SYMALG_AES192   = 6, /* AES-192 (id 8), 16-byte blocks, 24-byte key */
	M_PGP_SYMALG_AES256   = 7  /* AES-256 (id 9), 16-byte blocks, 32-byte key */
} M_pgp_symalg_t;

/* Encrypt the contents of a buffer into an OpenPGP message.
 *
 * out:    receives the message. It is emptied first; on success it holds
 *         exactly the message. NULL fails.
 * in:     the data to encrypt. It is also used as work space and is ALWAYS
 *         left empty when the call returns, on success and on failure (its
 *         former contents are overwritten as the buffer drops them). NULL
 *         fails, and so does the same buffer as out.
 * key:    the recipient's public key, only read. NULL fails.
 * symalg: the symmetric cipher (M_PGP_SYMALG_AES256 is the usual choice).
 *
 * Returns M_TRUE on success. M_FALSE, with no message, on: a NULL argument;
 * an unknown selector or a cipher the crypto library cannot provide; input
 * too large for the 4-byte packet lengths; a compression error; a key of
 * unknown type or without its numbers; an ECDH point or parameters the
 * crypto library refuses; a modulus too short for the session
 * key block (its byte length must be at least the block's length + 11, the
 * block being the cipher's key size + 3 bytes: 46 bytes for AES-256); a
 * failed big-number or cipher operation. After a failure out may hold the
 * packets written before the failure and must not be used as a message.
 *
 * Invalidates every pointer borrowed from out or in (M_buf_peek, direct-write
 * windows). */
M_API M_bool M_pgp_encrypt_buf(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key,
                               M_pgp_symalg_t symalg) M_WARN_UNUSED_RESULT;

/* Message form flags for M_pgp_encrypt_buf_ex, combined with "|". */
typedef enum {
	M_PGP_ENCRYPT_NONE = 0,      /* the default form: symmetrically encrypted data packet (tag 9) */
	M_PGP_ENCRYPT_MDC  = 1u << 0 /* integrity protected data packet (tag 18) ending in an MDC packet */
} M_pgp_encrypt_flags_t;

/* Encrypt the contents of a buffer into an OpenPGP message of the form that
 * flags choose.
 *
 * out, in, key, symalg: as for M_pgp_encrypt_buf, with the same ownership,
 *         the same emptying of out first and of in on every path, and the
 *         same NULL rules.
 * flags:  M_PGP_ENCRYPT_NONE (0) writes exactly what M_pgp_encrypt_buf
 *         writes; M_PGP_ENCRYPT_MDC writes the integrity-protected form
 *         described at the top of this header. Any other bit fails, so a
 *         caller never gets a form it did not ask for.
 *
 * Returns M_TRUE on success. M_FALSE, with no message, on every failure of
 * M_pgp_encrypt_buf, on an unknown flag bit, and, with M_PGP_ENCRYPT_MDC, on
 * input whose packet would not fit a 4-byte length (the compressed packet
 * may then be at most 0xFFFFFFFF less the block size and 25 bytes) or a
 * failed hash operation. After a failure out may hold the packets written
 * before the failure and must not be used as a message.
 *
 * Invalidates every pointer borrowed from out or in (M_buf_peek, direct-write
 * windows). */
M_API M_bool M_pgp_encrypt_buf_ex(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                                  unsigned int flags) M_WARN_UNUSED_RESULT;

/* Encrypt a byte array into a newly allocated OpenPGP message.
 *
 * data:     the bytes to encrypt, only read. NULL is empty input.
 * data_len: number of bytes at data.
 * key:      the recipient's public key. NULL fails.
 * symalg:   the symmetric cipher, as for M_pgp_encrypt_buf.
 * out:      receives the message. NULL fails. Set to NULL before any work.
 * out_len:  receives the message's length. NULL fails. Set to 0 before any
 *           work.
 *
 * Empty input (NULL data or data_len 0) returns M_TRUE with *out NULL and
 * *out_len 0: nothing is encrypted and nothing allocated.
 *
 * Returns M_TRUE on success, *out then owned by the caller and released with
 * M_free (it is followed by a terminating NUL not counted in *out_len).
 * M_FALSE on any failure of M_pgp_encrypt_buf, with *out NULL and *out_len 0.
 * Invalidates nothing. */
M_API M_bool M_pgp_encrypt(const unsigned char *data, size_t data_len, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                           unsigned char **out, size_t *out_len) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_PGP_ENCRYPT_H */
