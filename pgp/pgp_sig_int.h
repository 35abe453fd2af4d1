/* Signatures over keys: reading version-3 and version-4 signature packets
 * and verifying them with the primary key that made them. Shared by the key
 * reader and its tests. C++ only.
 *
 * References: RFC 4880 section 5.2 (signature packets, subpackets, and what
 * a signature over a key, user ID or subkey hashes: 5.2.4), 3.2 (MPIs),
 * RFC 6637 (ECDSA keys), and the EdDSA key and signature forms gpg writes
 * (algorithm 22, Ed25519 point 0x40 || 32 bytes, signature r and s as MPIs);
 * algorithm 27 (native Ed25519: 32-byte key, 64-byte signature) as RFC 9580
 * defines it. */
#ifndef M_PGP_SIG_INT_H
#define M_PGP_SIG_INT_H

#include <cstddef>
#include <cstdint>

#include <openssl/evp.h>

namespace m::detail {

/* What a key may be used for, from key flags or its algorithm; the bits
 * gpg derives (it does not tell communications from storage encryption). */
constexpr unsigned kPgpUseCert    = 0x01;
constexpr unsigned kPgpUseSign    = 0x02;
constexpr unsigned kPgpUseEncrypt = 0x04;
constexpr unsigned kPgpUseAuth    = 0x08;
constexpr unsigned kPgpUseUnknown = 0x10; /* a flag this reader does not know */
constexpr unsigned kPgpUseNone    = 0x20; /* key flags present but naming no use */

/* Signature types (RFC 4880 5.2.1). */
constexpr uint8_t kSigCertFirst    = 0x10; /* user ID certifications 0x10..0x13 */
constexpr uint8_t kSigCertLast     = 0x13;
constexpr uint8_t kSigSubkeyBind   = 0x18;
constexpr uint8_t kSigDirectKey    = 0x1F;
constexpr uint8_t kSigKeyRevoke    = 0x20;
constexpr uint8_t kSigSubkeyRevoke = 0x28;
constexpr uint8_t kSigCertRevoke   = 0x30;

/* A signature packet as read: the fields key judgements need, and where
 * the bytes it hashes and its numbers lie (inside the packet body). */
struct pgp_sig {
	const unsigned char *trailer; /* hashed after the signed data: v4 from the
	                                   * version through the hashed subpackets,
	                                   * v3 the type and creation time */
	size_t               trailer_len;
	const unsigned char *numbers; /* the signature's numbers, to the body's end */
	size_t               numbers_len;
	int64_t              created;    /* creation time; 0 when not given */
	uint32_t             key_expire; /* key expiration, seconds after the key's
	                                   * creation; 0: never */
	uint32_t             sig_expire; /* signature expiration, seconds after its
	                                   * creation; 0: never */
	unsigned             usage;      /* kPgpUse* from the hashed key flags; 0 when
	                                   * there are none */
	uint8_t              version;    /* 3 or 4 (a version-2 one reads as 3) */
	uint8_t              type;
	uint8_t              pk_alg;
	uint8_t              hash_alg;
	uint8_t              prefix[2]; /* the first two bytes of the hash */
	uint8_t              issuer[8]; /* issuer key ID (also from an issuer
	                                   * fingerprint, hashed or not) */
	bool                 has_issuer;
	bool                 primary_uid;      /* hashed primary user ID flag set */
	bool                 unknown_critical; /* a subpacket marked critical that
	                                        * gpg does not handle, in either area */
};

/* Reads a signature packet body. False when its version is not 2, 3 or 4 or
 * a field or subpacket runs past its area; *sig is then unspecified. */
[[nodiscard]] bool sig_parse(const unsigned char *body, size_t len, pgp_sig *sig) noexcept;

/* The primary key as the crypto library's verifier. */
struct sig_signer {
	EVP_PKEY   *pkey    = nullptr;
	uint8_t     alg     = 0;       /* OpenPGP algorithm of the key */
	size_t      rsa_len = 0;       /* RSA: modulus length in bytes */
	int64_t     created = 0;       /* key creation time */
	const char *problem = nullptr; /* signer_status::degenerate: what is wrong
	                                * with the point (ecdh_point_problem's words) */

	sig_signer()                              = default;
	sig_signer(const sig_signer &)            = delete;
	sig_signer &operator=(const sig_signer &) = delete;
	~sig_signer()
	{
		EVP_PKEY_free(pkey);
	}
};

enum class signer_status {
	ok,
	unsupported, /* an algorithm (or curve) that cannot verify here */
	unreadable,  /* the key's fields are damaged */
	degenerate   /* an ECDSA or EdDSA point that must not be trusted: at
	              * infinity, off its curve, of small order */
};

/* Reads a version-4 key packet body (version, time, algorithm, fields) into
 * signer: RSA (1, 3), DSA (17), ECDSA (19) on NIST P-256/384/521, Brainpool
 * P-256/384/512 or secp256k1, EdDSA (22) on Ed25519, Ed25519 (27). The
 * point of an ECDSA or EdDSA key is judged (pgp_ecdh_int.h): a degenerate
 * one leaves no verifier and its problem in signer->problem. */
[[nodiscard]] signer_status sig_signer_init(sig_signer *signer, const unsigned char *body, size_t len) noexcept;

/* What a signature covers after the primary key itself. */
struct sig_subject {
	uint8_t              tag;  /* 0: nothing (direct-key, key revocation);
	                            * 13 user ID, 17 user attribute, 14 subkey */
	const unsigned char *body; /* the packet body of that component */
	size_t               len;
};

/* Verifies sig, made by signer over the primary key (key_body, key_len) and
 * subject, at time now. Fails for a hash other than SHA-1, SHA-2 or
 * RIPEMD-160 (when the crypto library offers it), a signature algorithm other
 * than the key's, numbers that do not verify, and, as gpg, a signature older
 * than the key or a key created after now. The unsigned hash prefix is not
 * compared (gpg 2.2 accepts a signature whose prefix is wrong). Counted in
 * sig_counts either way. */
[[nodiscard]] bool sig_verify(const sig_signer &signer, const unsigned char *key_body, size_t key_len,
                              const sig_subject &subject, const pgp_sig &sig, int64_t now) noexcept;

/* Whether the first two bytes of the hash that sig would verify over the
 * primary key and subject are the two it states. Cheap (one hash, no
 * public-key operation): the key reader uses it to find which user ID or
 * subkey a signature is about. False as well for a hash it cannot compute. */
[[nodiscard]] bool sig_prefix_matches(const unsigned char *key_body, size_t key_len, const sig_subject &subject,
                                      const pgp_sig &sig) noexcept;

/* Verifications made by this process so far, that passed and that failed;
 * either pointer may be NULL. For tests and benchmarks only. */
void sig_counts(uint64_t *verified, uint64_t *failed) noexcept;

} // namespace m::detail

#endif /* M_PGP_SIG_INT_H */
