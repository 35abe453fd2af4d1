/* OpenPGP's vocabulary, in one place for every part of pgp/ (and the
 * program's choice of export cipher): integers and packet framing on the
 * wire, multiprecision integers, and the algorithm ids with the crypto
 * library's objects for them. C++ only.
 *
 * References: RFC 4880 sections 3.1 and 3.2 (integers, MPIs), 4.2 (packet
 * headers, old and new formats, partial body lengths), 4.3 (tags), 9.1 to
 * 9.4 (public-key, symmetric, compression and hash algorithm ids); RFC 6637
 * section 11 and RFC 5639 (curve OIDs), and the Curve25519 and Ed25519
 * OIDs gpg writes. */
#ifndef M_PGP_PACKET_INT_H
#define M_PGP_PACKET_INT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <openssl/evp.h>

#include "pgp/pgp_encrypt.h"

namespace m::detail {

/* ---- Integers: big-endian on the wire ---- */

constexpr uint32_t get_be16(const unsigned char *p) noexcept
{
	return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

constexpr uint32_t get_be32(const unsigned char *p) noexcept
{
	return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
	       p[3];
}

inline void put_be16(unsigned char *dst, uint32_t v) noexcept
{
	dst[0] = static_cast<unsigned char>(v >> 8);
	dst[1] = static_cast<unsigned char>(v);
}

inline void put_be32(unsigned char *dst, uint32_t v) noexcept
{
	dst[0] = static_cast<unsigned char>(v >> 24);
	dst[1] = static_cast<unsigned char>(v >> 16);
	dst[2] = static_cast<unsigned char>(v >> 8);
	dst[3] = static_cast<unsigned char>(v);
}

/* ---- Packets ---- */

/* Packet tags (4.3). */
enum pgp_tag : uint8_t {
	kTagPkesk        = 1, /* public-key encrypted session key */
	kTagSignature    = 2,
	kTagSecretKey    = 5,
	kTagPublicKey    = 6,
	kTagSecretSubkey = 7,
	kTagCompressed   = 8,
	kTagSymenc       = 9, /* symmetrically encrypted data, no integrity protection */
	kTagLiteral      = 11,
	kTagUserId       = 13,
	kTagPublicSubkey = 14,
	kTagUserAttr     = 17,
	kTagSeipd        = 18, /* symmetrically encrypted integrity protected data */
	kTagMdc          = 19  /* modification detection code */
};

/* The first byte of an old-format header (4.2.1) with a length of
 * 1 << length_type bytes (length_type 0 to 2). */
constexpr unsigned char old_tag_byte(pgp_tag tag, unsigned length_type) noexcept
{
	return static_cast<unsigned char>(0x80 | tag << 2 | length_type);
}

/* An old-format header with a 4-byte length (4.2.1), 5 bytes at dst. */
constexpr size_t kOldHeaderLen = 5;
inline void      put_old_header(unsigned char *dst, pgp_tag tag, uint32_t body_len) noexcept
{
	dst[0] = old_tag_byte(tag, 2);
	put_be32(dst + 1, body_len);
}

/* The first byte of a new-format header (4.2.2). */
constexpr unsigned char new_tag_byte(pgp_tag tag) noexcept
{
	return static_cast<unsigned char>(0xC0 | tag);
}

/* Reading a header's first byte: bit 7 is always set and bit 6 marks the
 * new format, whose tag is the low six bits; an old-format tag is bits 5
 * to 2, with the length type (0 to 2: a length of 1 << type bytes; 3:
 * indeterminate) in bits 1 and 0. */
constexpr bool is_tag_byte(unsigned char b) noexcept
{
	return (b & 0x80) != 0;
}
constexpr bool is_new_format(unsigned char b) noexcept
{
	return (b & 0x40) != 0;
}
constexpr unsigned tag_of(unsigned char b) noexcept
{
	return is_new_format(b) ? b & 0x3fu : (b >> 2) & 0x0fu;
}
constexpr unsigned old_length_type(unsigned char b) noexcept
{
	return b & 0x03u;
}
constexpr unsigned kOldLengthIndeterminate = 3;
static_assert(tag_of(old_tag_byte(kTagUserId, 2)) == kTagUserId && old_length_type(old_tag_byte(kTagUserId, 2)) == 2 &&
                  tag_of(new_tag_byte(kTagUserAttr)) == kTagUserAttr && !is_new_format(old_tag_byte(kTagLiteral, 0)),
              "a header's first byte read back as it is written");

/* Reading a new-format length (4.2.2) by its first byte: below
 * kLenTwoFirst it is the length; up to kLenPartialFirst it and the next
 * byte give two_byte_length(); from there to 254 it is a partial body
 * length; kLenFour is followed by a four-byte length. Signature subpackets
 * (5.2.3.1) use the same forms without the partial one: two bytes from
 * kLenTwoFirst to 254. */
constexpr unsigned char kLenTwoFirst     = 192;
constexpr unsigned char kLenPartialFirst = 224;
constexpr unsigned char kLenFour         = 255;
constexpr uint32_t      two_byte_length(unsigned first, unsigned second) noexcept
{
	return ((first - kLenTwoFirst) << 8) + second + kLenTwoFirst;
}

/* The headers a packet's body is hashed behind when a fingerprint or a
 * signature covers it (5.2.4, 12.2): a key or subkey as an old-format
 * public key packet with a two-byte length (0x99); for a version 4
 * signature, a user ID behind its old-format tag byte (0xB4), a user
 * attribute behind its new-format one (0xD1), each with a four-byte length.
 * Returns the header's length (kHashHeaderMax at most). */
constexpr size_t kHashHeaderMax = 5;
inline size_t    put_key_hash_header(unsigned char *dst, size_t body_len) noexcept
{
	dst[0] = old_tag_byte(kTagPublicKey, 1);
	put_be16(dst + 1, static_cast<uint32_t>(body_len));
	return 3;
}
inline size_t put_user_hash_header(unsigned char *dst, pgp_tag tag, size_t body_len) noexcept
{
	dst[0] = tag == kTagUserAttr ? new_tag_byte(tag) : old_tag_byte(tag, 0);
	put_be32(dst + 1, static_cast<uint32_t>(body_len));
	return 5;
}
static_assert(old_tag_byte(kTagPublicKey, 1) == 0x99 && old_tag_byte(kTagUserId, 0) == 0xB4 &&
                  new_tag_byte(kTagUserAttr) == 0xD1,
              "the hash headers of RFC 4880 5.2.4");

/* Feed a key or subkey packet's body, behind its hash header, to a digest
 * begun by the caller. False when the digest refuses it. */
[[nodiscard]] bool digest_key(EVP_MD_CTX *ctx, const unsigned char *body, size_t len) noexcept;

/* The most bytes a new-format definite length takes: 0xFF and four bytes. */
constexpr size_t kNewLengthMax = 5;

/* A new-format definite length in its shortest form (one byte below 192,
 * two below 8384, else 0xFF and four bytes) at dst, which has room for
 * kNewLengthMax bytes; returns how many bytes it took. */
size_t put_new_length(unsigned char *dst, uint32_t len) noexcept;

/* A partial body length (4.2.2.4) announcing a chunk of 2^k bytes, k from
 * 0 to 30. The first chunk of a packet must hold at least 512 bytes; the
 * last chunk of a packet always has a definite length (possibly 0). */
constexpr unsigned char partial_length(unsigned k) noexcept
{
	return static_cast<unsigned char>(0xE0 | k);
}
constexpr size_t kMinFirstPartial = 512;

/* Where bytes of a message go as they are made: false stops the message. */
using write_fn = bool (*)(const unsigned char *bytes, size_t len, void *thunk);

/* A packet written as its body comes, before its length is known: the tag
 * byte at once, then the body in partial chunks of kPartialChunk bytes as
 * they fill, and at the end the rest as a last chunk of definite length
 * (a body shorter than one chunk gets a plain definite length). At most one
 * chunk is held: bytes added are copied only while they do not complete
 * one, and a chunk completed goes out from where its bytes lie. A chunk
 * filled through window() and commit() goes out with its length in front
 * in one write. Bytes go to the write function given to start(); a false
 * from it fails this and every later call. */
class partial_packet {
  public:
	static constexpr unsigned kChunkBits    = 16;
	static constexpr size_t   kPartialChunk = size_t{1} << kChunkBits;
	static_assert(kPartialChunk >= kMinFirstPartial, "a first chunk of at least 512 bytes");

	partial_packet()                                  = default;
	partial_packet(const partial_packet &)            = delete;
	partial_packet &operator=(const partial_packet &) = delete;
	~partial_packet();

	/* Write the packet's tag byte (new format) and take body bytes from now
	 * on. False when the write fails. */
	[[nodiscard]] bool start(pgp_tag tag, write_fn write, void *thunk) noexcept;
	/* Add len bytes of the body. */
	[[nodiscard]] bool add(const unsigned char *bytes, size_t len) noexcept;
	/* Where the next body bytes may be written in place: *room bytes (at
	 * least 1) inside the chunk held; commit() then takes n of them. */
	[[nodiscard]] unsigned char *window(size_t *room) noexcept;
	[[nodiscard]] bool           commit(size_t n) noexcept;
	/* Write what is held as the last chunk; the packet is then complete. */
	[[nodiscard]] bool finish() noexcept;

  private:
	[[nodiscard]] bool put(const unsigned char *bytes, size_t len) noexcept;

	write_fn       write_ = nullptr;
	void          *thunk_ = nullptr;
	unsigned char *held_  = nullptr; /* a length byte and kPartialChunk bytes (M_malloc), wiped when released */
	size_t         have_  = 0;
	bool           ok_    = false;
};

/* Public-key algorithm ids (9.1). */
enum pgp_pk_alg : uint8_t {
	kPkRsa     = 1,
	kPkRsaEnc  = 2, /* RSA, encryption only */
	kPkRsaSign = 3, /* RSA, signing only */
	kPkElgamal = 16,
	kPkDsa     = 17,
	kPkEcdh    = 18,
	kPkEcdsa   = 19,
	kPkEddsa   = 22, /* EdDSA as gpg writes it: Ed25519 by OID, point 0x40 || 32 bytes */
	kPkEd25519 = 27  /* native Ed25519 (RFC 9580) */
};

/* Compression algorithm ZLIB (9.3), the one messages here use. */
constexpr unsigned char kCompressZlib = 2;

/* ---- Reading a span ---- */

/* Reads fields from a span of bytes without ever passing its end. */
struct span_reader {
	const unsigned char *p;
	size_t               left;

	/* The next n bytes into *out; false (nothing taken) when fewer are left. */
	[[nodiscard]] bool take(size_t n, const unsigned char **out) noexcept
	{
		if (n > left)
			return false;
		*out = p;
		p += n;
		left -= n;
		return true;
	}

	/* An MPI (3.2): a two-byte bit count, then (bits + 7) / 8 bytes, high
	 * byte first, into *out and *len, the count into *bits when not NULL.
	 * Leading zero bytes a bit count too large allows are kept; a count of 0
	 * gives no bytes. False when the span ends first. */
	[[nodiscard]] bool mpi(const unsigned char **out, size_t *len, uint32_t *bits = nullptr) noexcept
	{
		const unsigned char *hdr = nullptr;
		if (!take(2, &hdr))
			return false;
		const uint32_t count = get_be16(hdr);
		if (bits != nullptr)
			*bits = count;
		*len = (count + 7) / 8;
		return take(*len, out);
	}

	/* An MPI as a number: its value bytes without the leading zero bytes a
	 * bit count too large leaves (gpg reads such a number by its value). */
	[[nodiscard]] bool number(const unsigned char **out, size_t *len) noexcept
	{
		if (!mpi(out, len))
			return false;
		while (*len != 0 && **out == 0) {
			++*out;
			--*len;
		}
		return true;
	}
};

/* ---- Symmetric ciphers (9.2) ---- */

/* One cipher: the library's selector, the OpenPGP id and sizes, and the
 * crypto library's full-block CFB of it (OpenPGP's CFB runs over whole
 * blocks: 64-bit CFB for the 8-byte ciphers, 128-bit CFB for AES); for AES
 * also CBC (the export blocks) and key wrap (ECDH, RFC 3394). */
struct sym_cipher {
	M_pgp_symalg_t symalg;
	uint8_t        id;
	size_t         block_size;
	size_t         key_size;
	const EVP_CIPHER *(*cfb)(void);
	const EVP_CIPHER *(*cbc)(void);  /* NULL but for AES */
	const EVP_CIPHER *(*wrap)(void); /* NULL but for AES */
};

/* The largest block and key of the table, for fixed-size arrays. */
constexpr size_t kMaxBlockSize = 16;
constexpr size_t kMaxKeySize   = 32;

/* The cipher of a library selector, of an OpenPGP id, or AES with a key of
 * key_size bytes (16, 24, 32); NULL for anything else. */
[[nodiscard]] const sym_cipher *cipher_by_symalg(M_pgp_symalg_t symalg) noexcept;
[[nodiscard]] const sym_cipher *cipher_by_id(uint8_t id) noexcept;
[[nodiscard]] const sym_cipher *aes_by_key_size(size_t key_size) noexcept;

/* The crypto library's object for a cipher's mode: the table's function
 * called once the providers are loaded (CAST5 and Blowfish live in
 * OpenSSL 3's legacy provider). NULL when the mode is not in the table or
 * the library cannot provide it. */
[[nodiscard]] const EVP_CIPHER *evp_of(const EVP_CIPHER *(*mode)(void)) noexcept;

/* Load OpenSSL's legacy and default providers, once per process. Loading
 * one explicitly stops the default one from loading on its own, so both
 * are loaded; a missing legacy provider leaves its ciphers unavailable. */
void load_providers() noexcept;

/* ---- Hashes (9.4) ---- */

constexpr uint8_t kHashSha1   = 2;
constexpr uint8_t kHashSha256 = 8;
constexpr uint8_t kHashSha512 = 10;
constexpr size_t  kSha1Len    = 20;

/* The hash of an OpenPGP id: SHA-1, RIPEMD-160 (when the crypto library
 * offers it), SHA-224/256/384/512; NULL for any other (MD5 among them). */
[[nodiscard]] const EVP_MD *hash_by_id(uint8_t id) noexcept;

/* ---- Elliptic curves ---- */

/* The curves keys may name, by OID. */
enum pgp_curve : uint32_t {
	PGP_CURVE_NONE       = 0,
	PGP_CURVE_CURVE25519 = 1, /* ECDH; point 0x40 || u */
	PGP_CURVE_P256       = 2, /* NIST P-256; point 0x04 || x || y */
	PGP_CURVE_P384       = 3,
	PGP_CURVE_P521       = 4,
	PGP_CURVE_ED25519    = 5, /* EdDSA; point 0x40 || 32 bytes */
	PGP_CURVE_BRAINPOOL256,
	PGP_CURVE_BRAINPOOL384,
	PGP_CURVE_BRAINPOOL512,
	PGP_CURVE_SECP256K1
};

/* Longest OID of the table. */
constexpr size_t kMaxOidLen = 10;

/* One curve: its OID, the length and first byte of its public point, its
 * size, gpg's name for it, OpenSSL's group name (NULL for the two
 * Curve25519 forms, which OpenSSL takes as raw keys), and whether keys on
 * it may be read for ECDH (the encryption offers these) or for signatures. */
struct curve_info {
	const char      *name;
	const char      *group;
	std::string_view oid;
	pgp_curve        curve;
	uint16_t         bits;
	uint8_t          point_len;
	uint8_t          point_prefix; /* 0x40: native form; 0x04: uncompressed x || y */
	bool             ecdh;
	bool             sign;
};

/* The curve of an OID, or of its enum value; NULL when none. */
[[nodiscard]] const curve_info *curve_by_oid(const unsigned char *oid, size_t oid_len) noexcept;
[[nodiscard]] const curve_info *curve_by_id(uint32_t curve) noexcept;

} // namespace m::detail

#endif /* M_PGP_PACKET_INT_H */
