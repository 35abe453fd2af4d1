/* OpenPGP public key reader.
 *
 * Turns the contents of a public key file into an M_pgp_pubkey_t: the key
 * object that message encryption (pgp_encrypt.h) encrypts a session key to.
 *
 * Input forms:
 *   - ASCII armour (RFC 4880 section 6.2): text holding a
 *     "-----BEGIN PGP PUBLIC KEY BLOCK-----" header line, optional armour
 *     header lines (Version, Comment, ...), a blank line, the Base64 data,
 *     and optionally the "=" checksum line, which, when present, must hold
 *     the CRC-24 of the decoded bytes. The data ends at the checksum line or
 *     at the line starting with "-" (the END line). A private key block
 *     before the public one is passed over. LF and CRLF line ends are both
 *     accepted. Further public key blocks continue the packets of the first
 *     (gpg writes a revocation certificate as a block of its own, so
 *     `cat key.asc revoke.asc` is one revoked key).
 *   - Binary packets: any input holding a byte outside tab, line feed,
 *     carriage return and 32..126 (a single NUL or 8-bit byte is enough).
 *
 * One recipient per file: the file holds one transferable public key, its
 * version-4 primary key packet (tag 6) followed by its user IDs, subkeys
 * and signatures. A second primary key (in the same or a later armoured
 * block) is refused, and so is a key packet of any version other than 4.
 * Packets before the primary key (a marker, a stray subkey with its
 * signatures) are passed over, as gpg does. Every packet is framed before
 * anything is judged, so damage anywhere fails the file.
 *
 * Only what the key's owner signed counts. Every signature the choice
 * relies on is verified with OpenSSL's libcrypto against the primary key:
 * user ID self-certifications (0x10..0x13) and their revocations (0x30),
 * direct-key signatures (0x1F), subkey bindings (0x18), and key and subkey
 * revocations (0x20, 0x28). Primary key algorithms: RSA, DSA, ECDSA on NIST
 * P-256/384/521, Brainpool P-256/384/512 and secp256k1, EdDSA on Ed25519
 * (algorithm 22, gpg's form) and Ed25519 (algorithm 27); hashes SHA-1,
 * SHA-224/256/384/512 and RIPEMD-160. A signature that does not verify, or
 * cannot be verified (another hash such as MD5, another algorithm), counts as
 * absent: a subkey without a binding that verifies is never used, and a
 * revocation that does not verify revokes nothing.
 *
 * A signature counts for what it verifies, not where it sits (gpg moves a
 * misplaced one when it imports a key: "1 signature reordered"):
 *   - a direct-key signature or key revocation anywhere after the primary
 *     key is about the primary key;
 *   - a user ID certification or revocation is about the user ID (or user
 *     attribute) it verifies over, and a subkey binding or revocation about
 *     the subkey it verifies over, wherever in the key either sits: after
 *     another user ID or subkey, before its own, at the end (a revocation
 *     certificate appended to the file).
 * To find its part cheaply, the first two bytes of the hash a signature
 * states are compared with its hash over each part of its kind (one hash
 * each, no public-key operation): the part it follows is tried first, then
 * the others, and it is verified only against parts that match, at most
 * three. Should none match, it is verified against the part it follows
 * alone, since a wrong stated prefix does not make a signature bad where it
 * sits. So a real key costs one verification per signature the choice
 * needs, wherever its signatures are.
 *
 * Every elliptic-curve point is judged when the key is read: the primary
 * key's (ECDSA, EdDSA, Ed25519) before any signature, the chosen ECDH key's
 * before it is returned. A point at infinity, off its curve, or of small
 * order (the identity of Ed25519, u = 0, u = 1 and the other points of
 * order 2, 4 and 8 on Curve25519 or its twist) is refused with the key's ID
 * and the problem, never passed over for another key.
 *
 * The encryption key is the one gpg 2.2 chooses (gpg is the reference; the
 * keyring test compares the two over the Debian keyring):
 *   1. The primary key is valid when a user ID's latest self-signature
 *      verifies (a user ID's revocation too); a direct-key signature alone
 *      does not make it valid (gpg refuses a key without a user ID). It is
 *      revoked by a key revocation that it made and that verifies, whatever
 *      its date. It expires at the key expiration time of its latest
 *      direct-key signature, when that sets one, else of the user ID whose
 *      latest self-certification is the most recent among those that set
 *      one (revoked and expired user IDs aside). Its uses come from the key
 *      flags in the same way, else from its algorithm (RSA may encrypt).
 *   2. A subkey may be used when its latest binding signature that verifies
 *      (and has not passed its own expiration time) gives key flags with
 *      either encryption flag (0x04, 0x08), or none and its algorithm
 *      encrypts; its key expiration, counted from its creation, has not
 *      passed; no subkey revocation verifies, whatever its date; it was not
 *      created after the time of the run; its fields can be read and nothing
 *      follows them (gpg reads a key packet by its fields, so it passes over
 *      one with bytes after them, or damaged, and may use an older subkey);
 *      and the primary key is valid and neither revoked nor expired.
 *   3. Of the usable subkeys the most recently created is chosen (on equal
 *      times the first); with none, the primary key when its uses include
 *      encryption.
 *   4. The chosen key must then be RSA (algorithm 1), Elgamal (16) or ECDH
 *      (18, RFC 6637) on Curve25519 (gpg's form, the point prefixed with
 *      0x40), NIST P-256, P-384 or P-521 with a key derivation by SHA-256,
 *      -384 or -512 and AES key wrap, and its numbers must not be weak: RSA
 *      and Elgamal moduli of 1024 to 16384 bits and odd, an RSA exponent odd,
 *      at least 3 and below the modulus, Elgamal g and y in 2 .. p-2.
 *
 * Where gpg 2.2 judges a signature otherwise than one might expect, this
 * reader follows gpg:
 *   - Only signatures whose issuer (issuer subpacket, else issuer
 *     fingerprint, hashed or not) is the primary key count. A revocation by
 *     a designated revoker is not looked at: its key is not in the file, as
 *     gpg has none to check it with when it reads one key.
 *   - A signature made after the time of the run counts: gpg honours a
 *     subkey binding or revocation dated in the future.
 *   - A signature with a subpacket marked critical that gpg does not handle
 *     (in the hashed or the unhashed area; notations included) is bad.
 *   - The first two bytes of the hash that a signature states (its hash
 *     prefix, not signed) are not compared: a wrong prefix does not make a
 *     signature bad, its numbers decide.
 *   - A signature older than the primary key, or any signature of a primary
 *     key created after the time of the run, is bad (a time conflict).
 *   - SHA-1 and RIPEMD-160 signatures count; MD5 ones do not.
 *   - The primary-key binding (0x19) that a signing subkey embeds is not
 *     needed: gpg asks for it only to accept data signatures, never to
 *     encrypt to a subkey.
 *
 * Where gpg 2.2 is plainly wrong, this reader keeps the sound behaviour:
 *   - Times are added in 64 bits: a key created in 2020 that expires after
 *     2106 is valid here; gpg adds creation time and expiry in 32 bits, so
 *     such a key looks expired to it.
 *   - A signature that names its signer only by an issuer fingerprint
 *     subpacket counts; gpg 2.2 ignores such a binding.
 *   - A Curve25519 ECDH key of small order is refused; gpg encrypts to it
 *     (its shared secret is all zero, so anyone can read the message).
 *   - With a key file on its command line (gpg -f), gpg does not move
 *     misplaced signatures as its import does: it then encrypts to a key
 *     whose revocation is appended. The rules above follow its import.
 *
 * The key object keeps the chosen key's numbers (RSA, Elgamal) or curve,
 * point and key derivation parameters (ECDH), its 20-byte SHA-1 version-4
 * fingerprint (RFC 4880 section 12.2) and 8-byte key ID (the long key ID
 * OpenPGP tools show), and, for a report of the run, the primary key's
 * fingerprint, the primary user ID and the key's dates (the accessors
 * below).
 *
 * Failure reporting: the reader returns NULL and writes one English message
 * into a caller's character area; nothing else is changed. The messages are
 * listed with M_pgp_pubkey_create.
 *
 * Concurrency: nothing is shared between calls but two counters of
 * verifications that tests read (atomic); a key object may be read by several
 * threads at once but must not be destroyed while in use.
 */
#ifndef M_PGP_PUBKEY_H
#define M_PGP_PUBKEY_H

#include "core/m_defs.h"
#include "sys/m_time.h"

M_BEGIN_DECLS

/* A public key: RSA (modulus n, exponent e), Elgamal (prime p, generator g,
 * public value y) or ECDH (curve, public point, key derivation parameters),
 * with its fingerprint and 8-byte key ID. Opaque: created by
 * M_pgp_pubkey_create, released by M_pgp_pubkey_destroy, read by the message
 * encryption and the accessors below. */
struct M_pgp_pubkey;
typedef struct M_pgp_pubkey M_pgp_pubkey_t;

/* Public-key algorithm of a key object. */
typedef enum {
	M_PGP_PUBKEY_TYPE_RSA     = 0, /* RSA (OpenPGP algorithm 1) */
	M_PGP_PUBKEY_TYPE_ELGAMAL = 1, /* Elgamal, encrypt only (OpenPGP algorithm 16) */
	M_PGP_PUBKEY_TYPE_ECDH    = 2, /* ECDH (OpenPGP algorithm 18): Curve25519 or
                                    * NIST P-256, P-384, P-521 */
	M_PGP_PUBKEY_TYPE_NONE    = 3  /* no key: what M_pgp_pubkey_type gives for NULL */
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
 *       block (Base64 data ended by a checksum line or an END line)
 *   "the key file holds a secret key: give the recipient's public key, e.g.
 *    from gpg --export" (one line)
 *       text input with a private key block and no public one, or packets
 *       with secret key packets (tags 5, 7) and no primary public key
 *   "ascii-armored data fails its CRC-24 checksum"
 *       the checksum line is not four Base64 characters giving the CRC-24
 *       of the decoded data
 *   "key file holds more than one public key: export only the recipient's key"
 *       a second primary key packet, in the same or a later armoured block
 *   "Failed to create parser"            binary input could not be loaded
 *   "base64 decode failure"              the armoured block decodes to nothing
 *   "no public key contained in buffer"  no primary key packet (a subkey
 *       alone included)
 *   "unsupported primary key algorithm"  the primary key's signatures cannot
 *       be verified here (see above for the algorithms)
 *   "unable to read primary key"         its fields are damaged or cut
 *   "public key was revoked on YYYY-MM-DD; ask the recipient for their
 *    current public key", "public key expired on YYYY-MM-DD; ask ..."
 *       the primary key is revoked (the date of the revocation) or expired
 *       (the date it expired); dates in UTC
 *   "public key has no valid self-signature"
 *       no user ID self-signature verifies
 *   "no usable encryption subkey (no subkey binding signature verifies)"
 *       no key may be used, and a subkey that could encrypt had no binding
 *       signature that verifies
 *   "the key's encryption subkey was revoked on YYYY-MM-DD; ask ...",
 *   "the key's encryption subkey expired on YYYY-MM-DD; ask ..."
 *       no key may be used, and the most recently created subkey that could
 *       encrypt is revoked or expired (as for the primary key)
 *   "no key in the file may encrypt (sign-only key)"
 *       neither the primary key nor any subkey may encrypt, by algorithm or
 *       by the key flags of its valid self-signature or binding
 *   "no usable encryption subkey (revoked, expired or not for encryption)"
 *       no key may be used for another reason of the rules above (a subkey
 *       created after the time of the run)
 *   "weak public key: RSA modulus not of 1024 to 16384 bits"
 *   "weak public key: RSA modulus is even"
 *   "weak public key: RSA exponent not odd, at least 3 and below the modulus"
 *   "weak public key: elgamal prime not of 1024 to 16384 bits"
 *   "weak public key: elgamal prime is even"
 *   "weak public key: elgamal g or y outside 2 to p-2"
 *   "<which> <key ID>: public point <problem>"
 *       <which> is "primary key" or "subkey" (the chosen ECDH key), <key ID>
 *       its 16 hexadecimal digits, <problem> "at infinity", "not on the
 *       curve" or "of small order"
 *   "read_pubkey_from_parser: failed sanity check <check>" where <check> is
 *       "M_parser_read_byte(parser, &packet_tag)"      (tag byte missing)
 *       "packet_tag & 0x80"                            (not a packet tag)
 *       "read_multiformat_length(parser, &packet_length)"
 *           (new-format length missing, or a partial body length)
 *       "read_scalar_length(parser, packet_length_length, &packet_length)"
 *           (old-format length bytes missing)
 *       "M_parser_consume(parser, packet_length)"      (packet runs past the end)
 *   "indeterminate packet length not supported"
 *       an old-format packet of indeterminate length (length type 3)
 *   For any key packet (primary or subkey):
 *   "packet length greater than 0xffff"  the packet is too long
 *   "unable to peek version byte"        the packet has no body
 *   "public key not in version 4 format"
 *   "unable to peek <n> bytes"           body shorter than its length n
 *   For the chosen key:
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
 *   "unable to read ECDH KDF parameters" missing, not of length 3 and
 *                                        reserved byte 1, or followed by
 *                                        more bytes
 *   "unsupported ECDH KDF parameters"    hash not SHA-256/384/512 or key wrap
 *                                        not AES-128/192/256
 *   "pubkey memory allocation failure"
 *   "read_public_key: fingerprint failure"
 *       the crypto library could not compute SHA-1 (no provider offers it)
 *
 * Invalidates nothing; on failure nothing but error is written. */
M_API M_pgp_pubkey_t *M_pgp_pubkey_create(const unsigned char *data, size_t data_len, char *error,
                                          size_t error_len) M_WARN_UNUSED_RESULT;

/* Release a key object, its numbers and its user ID.
 *
 * key: the object from M_pgp_pubkey_create; NULL is ignored.
 *
 * The object is wiped (M_free) and must not be used afterwards; every
 * pointer the accessors below returned for it becomes invalid. */
M_API void M_pgp_pubkey_destroy(M_pgp_pubkey_t *key);

/* The accessors below describe a key object for a report of the run. Each
 * reads only; a pointer it returns belongs to the key object and stays
 * valid until M_pgp_pubkey_destroy. */

/* Fingerprint of the key file's primary key: 20 bytes (SHA-1, version 4),
 * not NUL-terminated; the key encrypted to may be a subkey of it.
 *
 * key: NULL: yields NULL. */
M_API const unsigned char *M_pgp_pubkey_primary_fingerprint(const M_pgp_pubkey_t *key);

/* The primary user ID, as gpg picks it: of the user IDs whose latest
 * self-certification verifies and is neither revoked nor expired, the most
 * recently certified one flagged primary, else the most recently certified
 * one. The bytes of the user ID packet with a NUL after them; a NUL inside
 * them is kept (M_pgp_pubkey_primary_user_id_len counts every byte), so a
 * caller that shows the user ID reads that many bytes, not up to the first
 * NUL. Usually UTF-8 but not checked, so escape it before printing.
 *
 * key: NULL: yields NULL.
 *
 * Returns NULL as well when the key has no such user ID. */
M_API const char *M_pgp_pubkey_primary_user_id(const M_pgp_pubkey_t *key);

/* Length in bytes of the primary user ID (M_pgp_pubkey_primary_user_id),
 * NULs inside it counted, the NUL after it not.
 *
 * key: NULL: yields 0.
 *
 * Returns 0 as well when the key has no such user ID. */
M_API size_t M_pgp_pubkey_primary_user_id_len(const M_pgp_pubkey_t *key);

/* Fingerprint of the key encrypted to (subkey or primary key): 20 bytes
 * (SHA-1, version 4), not NUL-terminated; the primary fingerprint when the
 * primary key is the one encrypted to.
 *
 * key: NULL: yields NULL. */
M_API const unsigned char *M_pgp_pubkey_fingerprint(const M_pgp_pubkey_t *key);

/* Key ID of the key encrypted to (subkey or primary key): 8 bytes, the last
 * 8 bytes of its fingerprint, as written into the encrypted message.
 *
 * key: NULL: yields NULL. */
M_API const unsigned char *M_pgp_pubkey_key_id(const M_pgp_pubkey_t *key);

/* Algorithm of the key encrypted to: M_PGP_PUBKEY_TYPE_RSA, _ELGAMAL or
 * _ECDH.
 *
 * key: NULL: yields M_PGP_PUBKEY_TYPE_NONE. */
M_API M_pgp_pubkey_type_t M_pgp_pubkey_type(const M_pgp_pubkey_t *key);

/* Size of the key encrypted to: the bits of the RSA modulus or Elgamal
 * prime, or of the ECDH curve (255 for Curve25519, 256, 384, 521).
 *
 * key: NULL: yields 0. */
M_API size_t M_pgp_pubkey_bits(const M_pgp_pubkey_t *key);

/* Curve of an ECDH key by the names gpg lists: "cv25519" (Curve25519),
 * "nistp256", "nistp384" or "nistp521" (static text); NULL for RSA and
 * Elgamal.
 *
 * key: NULL: yields NULL. */
M_API const char *M_pgp_pubkey_curve(const M_pgp_pubkey_t *key);

/* Creation time of the key encrypted to, in seconds since 1970 UTC.
 *
 * key: NULL: yields 0. */
M_API M_time_t M_pgp_pubkey_created(const M_pgp_pubkey_t *key);

/* The time after which the key encrypted to may no longer be used: the
 * earlier of its own expiration and its primary key's, in seconds since
 * 1970 UTC; 0 when neither expires.
 *
 * key: NULL: yields 0. */
M_API M_time_t M_pgp_pubkey_expires(const M_pgp_pubkey_t *key);

M_END_DECLS

#endif /* M_PGP_PUBKEY_H */
