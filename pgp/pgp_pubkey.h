/* OpenPGP public key reader.
 *
 * Turns the contents of a public key file into an M_pgp_pubkey_t: the key
 * object that message encryption (pgp_encrypt.h) encrypts a session key to.
 *
 * Input forms:
 *   - ASCII armour (RFC 4880 section 6.2): text holding a
 *     "-----BEGIN PGP PUBLIC KEY BLOCK-----" header line, optional armour
 *     header lines (Version, Comment, ...), a blank line, the Base64 data and
 *     the "=" checksum line. The checksum line is required to find the block
 *     but is not verified. A private key block before the public one is
 *     passed over. LF and CRLF line ends are both accepted.
 *   - Binary packets: any input holding a byte outside tab, line feed,
 *     carriage return and 32..126 (a single NUL or 8-bit byte is enough).
 *
 * Which subkey is used: the first version-4 public-subkey packet (tag 14)
 * that may be used for encryption. Keys made by OpenPGP tools certify and
 * sign with the primary key and encrypt with a subkey, so the primary key is
 * never used. A recipient who revokes a subkey, lets it expire or marks it
 * for signing only has said it must not receive messages, so a subkey is
 * skipped when
 *   - a subkey revocation signature (type 0x28) follows it, whatever its
 *     date;
 *   - its latest binding signature (type 0x18, latest by creation time)
 *     carries a key expiration time that has passed (counted from the
 *     subkey's creation; 0 means never);
 *   - that binding signature carries key flags without either encryption
 *     flag (0x04 communications, 0x08 storage), or cannot be read.
 * The subkeys of a primary key that is revoked or expired are all skipped:
 * a key revocation signature (type 0x20) follows the primary key, or its key
 * expiration time has passed, taken from the latest direct-key signature
 * (type 0x1F) that sets one, else from the latest self-certification (types
 * 0x10..0x13) of the primary user ID: the user ID whose latest
 * self-certification is flagged primary, else the one certified last; a
 * user ID whose latest self-signature revokes it is passed over. Only
 * signatures that name the primary key as their issuer count as its own,
 * except the revocation. Each primary key in a file is judged on its own.
 * A subkey without a binding signature, or whose binding signature carries
 * no key flags, counts as usable. The signatures that follow a subkey are
 * those up to the next subkey or primary key packet. A subkey is judged
 * before its algorithm and numbers are read, so a signing subkey of any
 * algorithm in front of the encryption subkey is passed over.
 *
 * Signatures are read, not cryptographically verified: the rules above keep
 * an honest key file's wishes, but whoever can edit the file can remove a
 * revocation or an expiry (and could as well replace the key).
 *
 * The subkey used must be RSA (algorithm 1), Elgamal (algorithm 16) or ECDH
 * (algorithm 18, RFC 6637) on Curve25519 (in the form gpg writes, the point
 * prefixed with 0x40), NIST P-256, P-384 or P-521 with a key derivation by
 * SHA-256, -384 or -512 and AES key wrap. Its public numbers (RSA, Elgamal)
 * or its curve, point and key derivation parameters (ECDH) are kept with its
 * 20-byte SHA-1 version-4 fingerprint (RFC 4880 section 12.2) and 8-byte key
 * ID, the fingerprint's last 8 bytes, which is the long key ID OpenPGP tools
 * show.
 *
 * Failure reporting: the reader returns NULL and writes one English message
 * into a caller's character area; nothing else is changed. The messages are
 * listed with M_pgp_pubkey_create.
 *
 * Concurrency: nothing is shared between calls; a key object may be read by
 * several threads at once but must not be destroyed while in use.
 */
#ifndef M_PGP_PUBKEY_H
#define M_PGP_PUBKEY_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* A public key: RSA (modulus n, exponent e), Elgamal (prime p, generator g,
 * public value y) or ECDH (curve, public point, key derivation parameters),
 * with its fingerprint and 8-byte key ID. Opaque: created by
 * M_pgp_pubkey_create, released by M_pgp_pubkey_destroy, read by the message
 * encryption. */
struct M_pgp_pubkey;
typedef struct M_pgp_pubkey M_pgp_pubkey_t;

/* Public-key algorithm of a key object. */
typedef enum {
	M_PGP_PUBKEY_TYPE_RSA     = 0, /* RSA (OpenPGP algorithm 1) */
	M_PGP_PUBKEY_TYPE_ELGAMAL = 1, /* Elgamal, encrypt only (OpenPGP algorithm 16) */
	M_PGP_PUBKEY_TYPE_ECDH    = 2  /* ECDH (OpenPGP algorithm 18): Curve25519 or
                                    * NIST P-256, P-384, P-521 */
} M_pgp_pubkey_type_t;

/* Read a public key from the whole contents of a key file.
 *
 * data:      the file's bytes, armoured or binary; read only, neither modified
 *            nor kept. NULL is read as empty input.
 * data_len:  number of bytes at data. 0 fails at once.
 * error:     character area for the failure message; NULL means the message
 *            is not wanted (the call still fails the same way).
 * error_len: size of error in bytes, terminator included. The message is cut
 *            to fit (error_len - 1 characters and a NUL); 0 writes nothing.
 *
 * Returns a new key object, owned by the caller and released with
 * M_pgp_pubkey_destroy; or NULL on failure with one of these messages in
 * error:
 *   "failed to locate base64 block in ascii-armored data"
 *       data_len 0, or text input without a complete armoured public key
 *       block (the "=" checksum line included)
 *   "Failed to create parser"            binary input could not be loaded
 *   "base64 decode failure"              the armoured block decodes to nothing
 *   "no public key contained in buffer"  packets end before a public subkey
 *   "no usable encryption subkey (revoked, expired or not for encryption)"
 *       every subkey was skipped by the rules above
 *   "public key is revoked or expired"
 *       no subkey may be used and a primary key is revoked or expired
 *   "read_pubkey_from_parser: failed sanity check <check>" (also for a
 *       damaged packet among those that follow a subkey) where <check> is
 *       "M_parser_read_byte(parser, &packet_tag)"      (tag byte missing)
 *       "packet_tag & 0x80"                            (not a packet tag)
 *       "read_multiformat_length(parser, &packet_length)"
 *           (new-format length missing, or a partial body length)
 *       "read_scalar_length(parser, packet_length_length, &packet_length)"
 *           (old-format length bytes missing)
 *       "M_parser_consume(parser, packet_length)"      (packet runs past the end)
 *   "indeterminate packet length not supported"
 *       an old-format packet of indeterminate length (length type 3)
 *   "packet length greater than 0xffff"  the subkey packet is too long
 *   "unable to peek version byte"        the subkey packet has no body
 *   "public key not in version 4 format"
 *   "read_public_key: memory allocation failure"
 *   "unable to peek <n> bytes"           subkey body shorter than its length n
 *   "unable to skip version byte", "unable to skip creation date"
 *   "unable to read public key algorithm"
 *   "unsupported public key algorithm"   algorithm other than 1, 16 or 18,
 *                                        or ECDH on another curve
 *   "unable to read RSA n", "unable to read RSA e"
 *   "unable to read elgamal p", "unable to read elgamal g",
 *   "unable to read elgamal y"
 *       the number is missing, runs past the packet, or has 0 bits
 *   "unable to read ECDH curve"          curve OID missing, empty or cut
 *   "unable to read ECDH point"          point missing, cut, or not of the
 *                                        curve's length and form
 *   "unable to read ECDH KDF parameters" missing, or not of length 3 and
 *                                        reserved byte 1
 *   "unsupported ECDH KDF parameters"    hash not SHA-256/384/512 or key wrap
 *                                        not AES-128/192/256
 *   "pubkey memory allocation failure"
 *   "read_public_key: fingerprint failure"
 *       the crypto library could not compute SHA-1 (no provider offers it)
 *
 * Invalidates nothing; on failure nothing but error is written. */
M_API M_pgp_pubkey_t *M_pgp_pubkey_create(const unsigned char *data, size_t data_len, char *error,
                                          size_t error_len) M_WARN_UNUSED_RESULT;

/* Release a key object and its numbers.
 *
 * key: the object from M_pgp_pubkey_create; NULL is ignored.
 *
 * The object is wiped (M_free) and must not be used afterwards. */
M_API void M_pgp_pubkey_destroy(M_pgp_pubkey_t *key);

M_END_DECLS

#endif /* M_PGP_PUBKEY_H */
