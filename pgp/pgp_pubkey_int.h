/* Inside view of the public key object, shared by the message encryption
 * and the parts of the key reader (and reached by their tests): the armour
 * (pgp_armor.cpp), reading packets into a key (pgp_pubkey.cpp), which
 * self-signature verifies what (pgp_selfsig.cpp) and choosing the key as
 * gpg does (pgp_keychoice.cpp). C++ only. */
#ifndef M_PGP_PUBKEY_INT_H
#define M_PGP_PUBKEY_INT_H

#include <cstddef>
#include <cstdint>

#include <openssl/bn.h>

#include "core/m_parser.h"
#include "pgp/pgp_packet_int.h"
#include "pgp/pgp_pubkey.h"

/* Largest ECDH point: P-521 uncompressed, 1 + 2 * 66 bytes. */
constexpr size_t kPgpEcdhMaxPoint = 133;

/* The ECDH part of a key object (RFC 6637 section 9). */
struct pgp_ecdh_key {
	uint32_t curve;                      /* m::detail::pgp_curve */
	uint8_t  oid[m::detail::kMaxOidLen]; /* the curve OID as in the key packet */
	uint8_t  oid_len;
	uint8_t  point[kPgpEcdhMaxPoint]; /* the public point as in the key packet */
	uint8_t  point_len;
	uint8_t  kdf_hash;   /* OpenPGP hash id: 8, 9 or 10 (SHA-256/384/512) */
	uint8_t  kdf_cipher; /* OpenPGP cipher id: 7, 8 or 9 (AES-128/192/256) */
};

/* The key object. Allocated zero-filled by M_pgp_pubkey_create; the numbers
 * belong to it and are released by M_pgp_pubkey_destroy. */
struct M_pgp_pubkey {
	uint32_t     type;                    /* M_PGP_PUBKEY_TYPE_RSA, _ELGAMAL or _ECDH */
	BIGNUM      *n_p;                     /* RSA: modulus n. Elgamal: prime p. The encryption
                           * reads it as the modulus for both types. */
	BIGNUM      *e_g;                     /* RSA: public exponent e. Elgamal: generator g */
	BIGNUM      *y;                       /* RSA: NULL. Elgamal: public value y */
	uint8_t      key_id[8];               /* bytes 12..19 of the v4 fingerprint, in order */
	uint8_t      fingerprint[20];         /* the v4 fingerprint (the ECDH key derivation reads it) */
	pgp_ecdh_key ecdh;                    /* ECDH: curve, point and key derivation; the
                           * numbers above are NULL */
	uint8_t      primary_fingerprint[20]; /* the file's primary key */
	char        *user_id;                 /* its primary user ID (M_malloc, NUL
	                                       * ended) or NULL */
	size_t       user_id_len;             /* its bytes, NULs inside counted */
	int64_t      created;                 /* creation time of this key */
	int64_t      expires;                 /* when it may no longer be used; 0: never */
};

namespace m::detail {

/* The key ID is the last 8 bytes of the version-4 fingerprint. */
constexpr size_t kKeyIdOffset = 12;
static_assert(kKeyIdOffset + sizeof(M_pgp_pubkey::key_id) == kSha1Len,
              "the key ID is the last 8 bytes of the fingerprint");

/* Messages of M_pgp_pubkey_create that more than one part of the reader
 * gives. */
constexpr const char *kMsgNoArmor = "failed to locate base64 block in ascii-armored data";
constexpr const char *kMsgSecret  = "the key file holds a secret key: give the recipient's public key, e.g. from "
                                    "gpg --export";

/* Writes msg into the caller's message area (which may be absent: NULL or
 * of length 0). */
void set_error(char *error, size_t error_len, const char *msg) noexcept;

/* One packet of a key file: its tag number and where its body lies. */
struct pgp_file_packet {
	const unsigned char *body;
	size_t               len;
	unsigned             tag;
};

/* True when every byte may appear in armoured text: tab, line feed,
 * carriage return or printable ASCII. Anything else marks raw packets. */
[[nodiscard]] bool pgp_is_armor_text(const unsigned char *data, size_t len) noexcept;

/* Decodes the armoured public key blocks of a key file into a new parser
 * (M_parser_destroy), or returns NULL with the message of M_pgp_pubkey_create
 * in error (which may be NULL). Blocks after the first continue its
 * packets. */
[[nodiscard]] M_parser_t *pgp_parser_from_armor(const unsigned char *data, size_t data_len, char *error,
                                                size_t error_len) noexcept;

/* Reads the algorithm and fields of a key packet body whose fingerprint is
 * known, into a new key object (M_pgp_pubkey_destroy), leaving body after
 * the fields; NULL with the message in error. The numbers are not judged. */
[[nodiscard]] M_pgp_pubkey_t *pgp_read_key_fields(span_reader &body, const unsigned char fpr[kSha1Len], char *error,
                                                  size_t error_len) noexcept;

/* Chooses, as gpg does, the encryption key of the primary key at
 * pkts[primary] among the file's count packets (the primary key itself or
 * one of its subkeys), reads its numbers and judges them, and fills in what
 * a run report shows (primary fingerprint, user ID, dates). Returns a new
 * key object (M_pgp_pubkey_destroy) or NULL with the message of
 * M_pgp_pubkey_create in error. */
[[nodiscard]] M_pgp_pubkey_t *pgp_choose_key(const pgp_file_packet *pkts, size_t count, size_t primary, char *error,
                                             size_t error_len) noexcept;

/* Reads one version-4 key packet body (no header) as the encryption key:
 * its fingerprint, algorithm and fields, with the messages of
 * M_pgp_pubkey_create for them (from "packet length greater than 0xffff"
 * on). Nothing about signatures is known and the numbers are not judged:
 * the key reader calls it for the key it chose, then pgp_weak_numbers; the
 * tests call it for the fields alone, and for keys the reader would refuse.
 * The primary fingerprint, user ID and dates of the object are left empty.
 * Returns a new key object (M_pgp_pubkey_destroy) or NULL with a message in
 * error. */
[[nodiscard]] M_pgp_pubkey_t *pgp_read_key_packet(const unsigned char *body, size_t len, char *error,
                                                  size_t error_len) noexcept;

/* One packet of a key file: its tag number and body. */
using pgp_packet_cb = void (*)(unsigned tag, const unsigned char *body, size_t len, void *thunk);

/* The packets of a key file (its armoured blocks decoded, or its binary
 * packets), framed as M_pgp_pubkey_create frames them, to cb in file order;
 * nothing is judged. Returns false, having called cb for nothing, when the
 * file holds no armoured public key block or its packets cannot be framed.
 * For what the key file is beside the key it names (pgp_keyfile.h). */
[[nodiscard]] bool pgp_key_file_packets(const unsigned char *data, size_t data_len, pgp_packet_cb cb,
                                        void *thunk) noexcept;

/* The version-4 fingerprint of a key packet body; false when SHA-1 cannot
 * be had. */
[[nodiscard]] bool pgp_v4_fingerprint(const unsigned char *body, size_t len, unsigned char fpr[20]) noexcept;

/* The "weak public key: ..." message of M_pgp_pubkey_create for a key
 * object's numbers, or NULL when they are sound (and for ECDH keys). */
[[nodiscard]] const char *pgp_weak_numbers(const M_pgp_pubkey_t *key) noexcept;

} // namespace m::detail

#endif /* M_PGP_PUBKEY_INT_H */
