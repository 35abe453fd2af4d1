/* OpenPGP public key reader.
 *
 * References: RFC 4880 section 4.2 (packet headers, old and new formats),
 * 5.5.2 (version-4 public key packets), 3.2 (multiprecision integers),
 * 6.2 (ASCII armour) and 12.2 (fingerprints and key IDs).
 *
 * The reader keeps the first version-4 public-subkey packet (tag 14) that
 * may encrypt: keys made by OpenPGP tools sign with the primary key and
 * encrypt with a subkey, so the primary key packet is never used; subkeys
 * that are revoked, expired or not for encryption are skipped (see the
 * header for the rules). Signature formats: RFC 4880 5.2.
 *
 * Where this reader is stricter than a plain walk:
 *   - an old-format packet of indeterminate length is refused with a message
 *     (the caller prints the message, so an empty one would be useless);
 *   - an RSA subkey whose exponent cannot be read is refused ("unable to read
 *     RSA e"), since a key without its exponent cannot encrypt;
 *   - the fields of the subkey are read only inside the packet's own length,
 *     so a short packet never borrows bytes of the packet after it.
 */
#include "pgp/pgp_pubkey.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include "core/m_mem.h"
#include "core/m_parser.h"
#include "core/m_str_fmt.h"
#include "formats/m_bincodec.h"
#include "sys/m_time.h"
#include "pgp/pgp_pubkey_int.h"

namespace {

/* Public key algorithm numbers (RFC 4880 section 9.1). */
constexpr unsigned kPgpAlgRsa     = 1;
constexpr unsigned kPgpAlgElgamal = 16;
constexpr unsigned kPgpAlgEcdh    = 18;

/* The ECDH curves by OID (RFC 6637 section 11; Curve25519 as gpg writes it),
 * with the length of their public point. */
struct curve_row {
	pgp_ecdh_curve curve;
	uint8_t        oid_len;
	uint8_t        oid[kPgpEcdhMaxOid];
	uint8_t        point_len;
	uint8_t        point_prefix; /* 0x40: native form; 0x04: uncompressed x || y */
};
constexpr curve_row ecdh_curves[] = {
    {PGP_CURVE_CURVE25519, 10, {0x2b, 0x06, 0x01, 0x04, 0x01, 0x97, 0x55, 0x01, 0x05, 0x01}, 33, 0x40},
    {PGP_CURVE_P256, 8, {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07}, 65, 0x04},
    {PGP_CURVE_P384, 5, {0x2b, 0x81, 0x04, 0x00, 0x22}, 97, 0x04},
    {PGP_CURVE_P521, 5, {0x2b, 0x81, 0x04, 0x00, 0x23}, 133, 0x04},
};
static_assert(M_ARRAY_LEN(ecdh_curves) == 4, "four curves");

/* Packet tag of a public subkey (RFC 4880 section 5.5.1.2). */
constexpr unsigned kPgpTagPublicSubkey = 14;

/* The work buffer holds the fingerprint input: 0x99, the body length as two
 * bytes, then the body, which is at most 0xffff bytes. */
constexpr size_t kFprPrefixLen = 3;
constexpr size_t kMaxSubkeyLen = 0xffff;
constexpr size_t kWorkBufLen   = kFprPrefixLen + kMaxSubkeyLen;

/* An MPI holds at most 65535 bits. */
constexpr size_t kMaxMpiBytes = (0xffffu + 7) / 8;

constexpr size_t kSha1Len     = 20;
constexpr size_t kKeyIdOffset = 12;
static_assert(kKeyIdOffset + sizeof(M_pgp_pubkey::key_id) == kSha1Len,
              "the key ID is the last 8 bytes of the fingerprint");

constexpr std::string_view kArmorPubkeyHeader = "BEGIN PGP PUBLIC KEY BLOCK";

constexpr const char *kMsgNoArmor = "failed to locate base64 block in ascii-armored data";
constexpr const char *kSanityFunc = "read_pubkey_from_parser";

/* Writes a message into the caller's area (which may be absent). */
void set_error(char *error, size_t error_len, const char *msg)
{
	if (error == nullptr || error_len == 0)
		return;
	(void)M_snprintf(error, error_len, "%s", msg);
}

void set_sanity_error(char *error, size_t error_len, const char *check)
{
	if (error == nullptr || error_len == 0)
		return;
	(void)M_snprintf(error, error_len, "%s: failed sanity check %s", kSanityFunc, check);
}

/* True when every byte may appear in armoured text: tab, line feed, carriage
 * return or printable ASCII. Anything else marks raw packets. */
bool is_armor_text(const unsigned char *data, size_t len)
{
	for (size_t i = 0; i < len; i++) {
		const unsigned char c = data[i];
		if (c != '\t' && c != '\n' && c != '\r' && (c < 32 || c > 126))
			return false;
	}
	return true;
}

/* Locates the Base64 data of the first armoured public key block.
 *
 * States (one byte per step):
 *   0..4   counting the five dashes that open a header line
 *   5      first byte of the header text (taken unexamined)
 *   6..10  header text, then counting the five closing dashes
 *   11     byte after the closing dashes: is this the public key header?
 *   12     rest of a line (header line or armour header line)
 *   13     start of a line after the header line: blank line ends headers
 *   14     first byte of the Base64 data (taken unexamined)
 *   15     inside a line of the block
 *   16     first byte of a line in the block: "=" starts the checksum line
 *
 * On success *start and *len give the block, from its first byte through the
 * line feed before the checksum line. */
bool find_armor_block(const unsigned char *data, size_t data_len, size_t *start, size_t *len)
{
	unsigned state     = 0;
	size_t   hdr_start = 0;
	size_t   blk_start = 0;

	for (size_t pos = 0; pos < data_len; pos++) {
		const unsigned char c = data[pos];
		switch (state) {
			case 0:
			case 1:
			case 2:
			case 3:
			case 4:
				state = (c == '-') ? state + 1 : 0;
				break;
			case 5:
				hdr_start = pos;
				state     = 6;
				break;
			case 6:
			case 7:
			case 8:
			case 9:
			case 10:
				if (c == '\n')
					state = 0;
				else if (c == '-')
					state++;
				else
					state = 6;
				break;
			case 11: {
				/* pos - 5 is the first of the five closing dashes; the header
                 * text started at hdr_start, at least one byte before them. */
				const std::string_view hdr(reinterpret_cast<const char *>(data + hdr_start), pos - 5 - hdr_start);
				if (hdr == kArmorPubkeyHeader)
					state = (c == '\n') ? 13 : 12;
				else
					state = 0;
				break;
			}
			case 12:
				if (c == '\n')
					state = 13;
				break;
			case 13:
				if (c == '\n')
					state = 14;
				else if (c != '\t' && c != '\r' && c != ' ')
					state = 12;
				break;
			case 14:
				blk_start = pos;
				state     = 15;
				break;
			case 15:
				if (c == '\n')
					state = 16;
				break;
			case 16:
				if (c != '=') {
					state = 15;
					break;
				}
				/* The checksum line must hold something after the "=". */
				if (pos + 1 >= data_len)
					return false;
				*start = blk_start;
				*len   = pos - blk_start;
				return true;
			default:
				return false;
		}
	}
	return false;
}

/* RFC 4880 4.2.2 new-format length. Partial body lengths (224..254) are
 * refused: a key packet is never split. */
[[nodiscard]] bool read_multiformat_length(M_parser_t *parser, uint64_t *packet_length)
{
	unsigned char first = 0;
	if (!M_parser_read_byte(parser, &first))
		return false;
	if (first < 192) {
		*packet_length = first;
		return true;
	}
	if (first < 224) {
		unsigned char second = 0;
		if (!M_parser_read_byte(parser, &second))
			return false;
		*packet_length = ((uint64_t)(first - 192) << 8) + second + 192;
		return true;
	}
	if (first == 255)
		return M_parser_read_uint(parser, M_PARSER_INTEGER_BIGENDIAN, 4, 10, packet_length);
	return false;
}

/* RFC 4880 4.2.1 old-format length of 1, 2 or 4 bytes. */
[[nodiscard]] bool read_scalar_length(M_parser_t *parser, size_t packet_length_length, uint64_t *packet_length)
{
	return M_parser_read_uint(parser, M_PARSER_INTEGER_BIGENDIAN, packet_length_length, 10, packet_length);
}

/* Reads the fields of one packet body without ever passing its end. */
struct body_reader {
	M_parser_t *parser; /* positioned inside the body */
	size_t      remain; /* body bytes not yet consumed */

	[[nodiscard]] bool consume(size_t n)
	{
		if (n > remain || !M_parser_consume(parser, n))
			return false;
		remain -= n;
		return true;
	}

	[[nodiscard]] bool read_byte(unsigned char *byte)
	{
		if (remain < 1 || !M_parser_read_byte(parser, byte))
			return false;
		remain--;
		return true;
	}

	[[nodiscard]] bool read_bytes(size_t n, unsigned char *buf)
	{
		if (n > remain || !M_parser_read_bytes(parser, n, buf))
			return false;
		remain -= n;
		return true;
	}

	/* An MPI as its bytes, for points that are not numbers: the bytes must
     * be exactly len (the bit count may leave leading zero bits). */
	[[nodiscard]] bool read_mpi_bytes(unsigned char *buf, size_t len)
	{
		uint64_t bits = 0;
		if (remain < 2 || !M_parser_read_uint(parser, M_PARSER_INTEGER_BIGENDIAN, 2, 10, &bits))
			return false;
		remain -= 2;
		return bits != 0 && (bits + 7) / 8 == len && read_bytes(len, buf);
	}

	/* RFC 4880 3.2: two-byte bit count, then (bits + 7) / 8 bytes, high
     * byte first. A number of 0 bits is refused: no key has one. */
	[[nodiscard]] BIGNUM *read_mpi()
	{
		uint64_t bits = 0;
		if (remain < 2 || !M_parser_read_uint(parser, M_PARSER_INTEGER_BIGENDIAN, 2, 10, &bits))
			return nullptr;
		remain -= 2;
		if (bits == 0)
			return nullptr;
		const size_t nbytes = (size_t)((bits + 7) / 8);
		static_assert(kMaxMpiBytes == 8192, "a 16-bit bit count covers 8192 bytes");
		unsigned char bytes[kMaxMpiBytes];
		if (nbytes > remain || !M_parser_read_bytes(parser, nbytes, bytes))
			return nullptr;
		remain -= nbytes;
		return BN_bin2bn(bytes, (int)nbytes, nullptr);
	}
};

/* Owns the numbers read so far; frees them unless released to a key. */
struct numbers {
	BIGNUM *n[3] = {nullptr, nullptr, nullptr};

	numbers()                           = default;
	numbers(const numbers &)            = delete;
	numbers &operator=(const numbers &) = delete;
	~numbers()
	{
		for (BIGNUM *b : n)
			BN_free(b);
	}
};

/* Reads the public subkey packet whose header has just been consumed:
 * fingerprint and key ID, algorithm and numbers. */
M_pgp_pubkey_t *read_public_key(M_parser_t *parser, uint64_t packet_length, char *error, size_t error_len)
{
	if (packet_length > kMaxSubkeyLen) {
		set_error(error, error_len, "packet length greater than 0xffff");
		return nullptr;
	}

	unsigned char version = 0;
	if (packet_length == 0 || !M_parser_peek_byte(parser, &version)) {
		set_error(error, error_len, "unable to peek version byte");
		return nullptr;
	}
	if (version != 4) {
		set_error(error, error_len, "public key not in version 4 format");
		return nullptr;
	}

	unsigned char *work = static_cast<unsigned char *>(M_malloc(kWorkBufLen));
	if (work == nullptr) {
		if (error != nullptr && error_len != 0)
			(void)M_snprintf(error, error_len, "%s: memory allocation failure", "read_public_key");
		return nullptr;
	}

	const size_t body_len = (size_t)packet_length;
	if (!M_parser_peek_bytes(parser, body_len, work + kFprPrefixLen)) {
		if (error != nullptr && error_len != 0)
			(void)M_snprintf(error, error_len, "unable to peek %llu bytes", (unsigned long long)packet_length);
		M_free(work);
		return nullptr;
	}

	/* RFC 4880 12.2: SHA-1 over 0x99, the two-byte length and the body. */
	work[0] = 0x99;
	work[1] = (unsigned char)(body_len >> 8);
	work[2] = (unsigned char)(body_len & 0xff);
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int  digest_len = 0;
	const bool    hashed = EVP_Digest(work, kFprPrefixLen + body_len, digest, &digest_len, EVP_sha1(), nullptr) == 1 &&
	                    digest_len == kSha1Len;
	M_free(work);
	if (!hashed) {
		/* SHA-1 is in every provider set OpenSSL loads by default; should it
         * be missing the key cannot be identified. */
		if (error != nullptr && error_len != 0)
			(void)M_snprintf(error, error_len, "%s: fingerprint failure", "read_public_key");
		return nullptr;
	}

	body_reader body{parser, body_len};
	if (!body.consume(1)) {
		set_error(error, error_len, "unable to skip version byte");
		return nullptr;
	}
	if (!body.consume(4)) {
		set_error(error, error_len, "unable to skip creation date");
		return nullptr;
	}
	unsigned char alg = 0;
	if (!body.read_byte(&alg)) {
		set_error(error, error_len, "unable to read public key algorithm");
		return nullptr;
	}

	numbers      nums;
	uint32_t     type = 0;
	pgp_ecdh_key ecdh{};
	if (alg == kPgpAlgRsa) {
		type = M_PGP_PUBKEY_TYPE_RSA;
		if ((nums.n[0] = body.read_mpi()) == nullptr) {
			set_error(error, error_len, "unable to read RSA n");
			return nullptr;
		}
		if ((nums.n[1] = body.read_mpi()) == nullptr) {
			set_error(error, error_len, "unable to read RSA e");
			return nullptr;
		}
	} else if (alg == kPgpAlgElgamal) {
		type = M_PGP_PUBKEY_TYPE_ELGAMAL;
		if ((nums.n[0] = body.read_mpi()) == nullptr) {
			set_error(error, error_len, "unable to read elgamal p");
			return nullptr;
		}
		if ((nums.n[1] = body.read_mpi()) == nullptr) {
			set_error(error, error_len, "unable to read elgamal g");
			return nullptr;
		}
		if ((nums.n[2] = body.read_mpi()) == nullptr) {
			set_error(error, error_len, "unable to read elgamal y");
			return nullptr;
		}
	} else if (alg == kPgpAlgEcdh) {
		/* RFC 6637 section 9: curve OID, public point, KDF parameters. */
		type                  = M_PGP_PUBKEY_TYPE_ECDH;
		unsigned char oid_len = 0;
		unsigned char oid[255];
		if (!body.read_byte(&oid_len) || oid_len == 0 || oid_len == 0xff || !body.read_bytes(oid_len, oid)) {
			set_error(error, error_len, "unable to read ECDH curve");
			return nullptr;
		}
		const curve_row *row = nullptr;
		for (const curve_row &c : ecdh_curves) {
			if (c.oid_len == oid_len && std::memcmp(c.oid, oid, oid_len) == 0)
				row = &c;
		}
		if (row == nullptr) {
			/* Other curves (Brainpool, secp256k1, ...) are not offered by
             * the crypto library everywhere: treated as another algorithm. */
			set_error(error, error_len, "unsupported public key algorithm");
			return nullptr;
		}
		ecdh.curve   = row->curve;
		ecdh.oid_len = oid_len;
		std::memcpy(ecdh.oid, oid, oid_len);
		if (!body.read_mpi_bytes(ecdh.point, row->point_len) || ecdh.point[0] != row->point_prefix) {
			set_error(error, error_len, "unable to read ECDH point");
			return nullptr;
		}
		ecdh.point_len = row->point_len;
		/* KDF parameters: length 3, reserved 1, hash id, key-wrap cipher id. */
		unsigned char kdf[4];
		if (!body.read_bytes(sizeof(kdf), kdf) || kdf[0] != 3 || kdf[1] != 1) {
			set_error(error, error_len, "unable to read ECDH KDF parameters");
			return nullptr;
		}
		if (kdf[2] < 8 || kdf[2] > 10 || kdf[3] < 7 || kdf[3] > 9) {
			set_error(error, error_len, "unsupported ECDH KDF parameters");
			return nullptr;
		}
		ecdh.kdf_hash   = kdf[2];
		ecdh.kdf_cipher = kdf[3];
	} else {
		set_error(error, error_len, "unsupported public key algorithm");
		return nullptr;
	}

	M_pgp_pubkey_t *key = static_cast<M_pgp_pubkey_t *>(M_malloc_zero(sizeof(*key)));
	if (key == nullptr) {
		set_error(error, error_len, "pubkey memory allocation failure");
		return nullptr;
	}
	key->type = type;
	key->n_p  = nums.n[0];
	key->e_g  = nums.n[1];
	key->y    = nums.n[2];
	nums.n[0] = nums.n[1] = nums.n[2] = nullptr;
	std::memcpy(key->key_id, digest + kKeyIdOffset, sizeof(key->key_id));
	static_assert(sizeof(key->fingerprint) == kSha1Len, "a v4 fingerprint");
	std::memcpy(key->fingerprint, digest, kSha1Len);
	key->ecdh = ecdh;
	return key;
}

/* ---------------------------------------------------------------------------
 * Signatures: read, never verified
 *
 * A subkey's usability is judged from the signatures that follow it, and the
 * primary key's from the signatures that follow it and its user IDs. Only
 * the fields those judgements need are read; the signatures' mathematics is
 * not checked, so a key file edited by a third party can hide a revocation or
 * an expiry. The judgement keeps honest key files from being used against
 * their owners' wishes; it is no defence against forged ones.
 * ------------------------------------------------------------------------- */

constexpr unsigned kPgpTagSignature = 2;
constexpr unsigned kPgpTagPublicKey = 6;
constexpr unsigned kPgpTagUserId    = 13;
constexpr unsigned kPgpTagUserAttr  = 17;

/* Signature types (RFC 4880 5.2.1). */
constexpr unsigned kSigCertFirst    = 0x10; /* user ID certifications 0x10..0x13 */
constexpr unsigned kSigCertLast     = 0x13;
constexpr unsigned kSigSubkeyBind   = 0x18;
constexpr unsigned kSigDirectKey    = 0x1F;
constexpr unsigned kSigKeyRevoke    = 0x20;
constexpr unsigned kSigSubkeyRevoke = 0x28;
constexpr unsigned kSigCertRevoke   = 0x30;

/* Signature subpackets (RFC 4880 5.2.3.1). */
constexpr unsigned kSubpktCreated    = 2;
constexpr unsigned kSubpktKeyExpire  = 9;
constexpr unsigned kSubpktIssuer     = 16;
constexpr unsigned kSubpktPrimaryUid = 25;
constexpr unsigned kSubpktKeyFlags   = 27;
constexpr unsigned kSubpktIssuerFpr  = 33;

/* Key flags that allow encryption (RFC 4880 5.2.3.21): communications and
 * storage. */
constexpr unsigned kKeyFlagsEncrypt = 0x04 | 0x08;

/* What a signature says about the key it belongs to. */
struct sig_info {
	int64_t  created     = 0;
	unsigned type        = 0;
	uint32_t key_expire  = 0; /* seconds after the key's creation; 0: never */
	unsigned flags       = 0; /* first byte of the key flags */
	uint8_t  issuer[8]   = {0};
	bool     readable    = false; /* version 3 or 4, every field in bounds */
	bool     has_expire  = false;
	bool     has_flags   = false;
	bool     primary_uid = false;
	bool     has_issuer  = false;
};

uint32_t be32(const unsigned char *p)
{
	return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

/* Reads the subpackets of one area; false when one runs past the area. Only
 * the issuer is taken from the unhashed area: it names the key to verify
 * with, which anyone could have added, so it decides nothing by itself. */
bool read_subpackets(const unsigned char *p, size_t len, bool hashed, sig_info *sig)
{
	size_t pos = 0;
	while (pos < len) {
		size_t sub_len = p[pos++];
		if (sub_len >= 192 && sub_len < 255) {
			if (pos >= len)
				return false;
			sub_len = ((sub_len - 192) << 8) + p[pos++] + 192;
		} else if (sub_len == 255) {
			if (len - pos < 4)
				return false;
			sub_len = be32(p + pos);
			pos += 4;
		}
		/* The length counts the type byte. */
		if (sub_len == 0 || sub_len > len - pos)
			return false;
		const unsigned       type = p[pos] & 0x7f; /* bit 7 marks a critical one */
		const unsigned char *data = p + pos + 1;
		const size_t         dlen = sub_len - 1;
		pos += sub_len;

		if (type == kSubpktIssuer && dlen == 8) {
			std::memcpy(sig->issuer, data, 8);
			sig->has_issuer = true;
		} else if (type == kSubpktIssuerFpr && dlen == 21 && data[0] == 4 && !sig->has_issuer) {
			std::memcpy(sig->issuer, data + 1 + 12, 8);
			sig->has_issuer = true;
		}
		if (!hashed)
			continue;
		if (type == kSubpktCreated && dlen == 4) {
			sig->created = be32(data);
		} else if (type == kSubpktKeyExpire && dlen == 4) {
			sig->key_expire = be32(data);
			sig->has_expire = true;
		} else if (type == kSubpktKeyFlags && dlen >= 1) {
			sig->flags     = data[0];
			sig->has_flags = true;
		} else if (type == kSubpktPrimaryUid && dlen == 1) {
			sig->primary_uid = data[0] != 0;
		} else if (type == kSubpktKeyFlags) {
			/* Empty key flags: the key may do nothing. */
			sig->flags     = 0;
			sig->has_flags = true;
		}
	}
	return true;
}

/* Reads a signature packet body (RFC 4880 5.2.2 version 3, 5.2.3 version 4).
 * The type is known whenever the body has a byte for it, even if the rest is
 * unreadable, so a damaged revocation still counts as one. */
sig_info read_signature(const unsigned char *p, size_t len)
{
	sig_info sig;
	if (len < 2)
		return sig;
	if (p[0] == 3 || p[0] == 2) {
		/* version, hashed length 5, type, creation time, issuer, ... */
		if (len < 15 || p[1] != 5) {
			sig.type = len >= 3 ? p[2] : 0;
			return sig;
		}
		sig.type    = p[2];
		sig.created = be32(p + 3);
		std::memcpy(sig.issuer, p + 7, 8);
		sig.has_issuer = true;
		sig.readable   = true;
		return sig;
	}
	sig.type = p[1];
	if (p[0] != 4 || len < 6)
		return sig;
	/* version, type, key algorithm, hash algorithm, hashed area, unhashed area */
	const size_t hashed_len = (size_t)p[4] << 8 | p[5];
	if (hashed_len > len - 6)
		return sig;
	const size_t unhashed_at = 6 + hashed_len;
	if (len - unhashed_at < 2)
		return sig;
	const size_t unhashed_len = (size_t)p[unhashed_at] << 8 | p[unhashed_at + 1];
	if (unhashed_len > len - unhashed_at - 2)
		return sig;
	sig.readable = read_subpackets(p + 6, hashed_len, true, &sig) &&
	               read_subpackets(p + unhashed_at + 2, unhashed_len, false, &sig);
	return sig;
}

/* The state of one subkey, gathered from the signatures after it. */
struct subkey_state {
	const unsigned char *body        = nullptr; /* the subkey packet's body */
	size_t               body_len    = 0;
	bool                 revoked     = false;
	bool                 has_binding = false;
	bool                 bad_binding = false;
	int64_t              bind_time   = 0;
	sig_info             binding; /* the latest binding signature */

	void add_signature(const sig_info &sig)
	{
		if (sig.type == kSigSubkeyRevoke) {
			/* A revocation counts whatever its date: a later binding
             * signature does not bring a revoked subkey back. */
			revoked = true;
		} else if (sig.type == kSigSubkeyBind) {
			if (!sig.readable) {
				/* What an unreadable binding signature allowed is unknown:
                 * the subkey is not used. */
				bad_binding = true;
				return;
			}
			if (!has_binding || sig.created >= bind_time) {
				binding     = sig;
				bind_time   = sig.created;
				has_binding = true;
			}
		}
	}

	/* Creation time of a version-4 subkey (0 when the body is too short). */
	int64_t created() const
	{
		return body_len >= 5 ? be32(body + 1) : 0;
	}

	bool usable(int64_t now) const
	{
		if (revoked || bad_binding)
			return false;
		if (!has_binding)
			return true; /* nothing says otherwise */
		if (binding.has_expire && binding.key_expire != 0 && created() + (int64_t)binding.key_expire < now)
			return false;
		if (binding.has_flags && (binding.flags & kKeyFlagsEncrypt) == 0)
			return false;
		return true;
	}
};

/* The state of a primary key, gathered from the packets between it and its
 * first subkey: its own revocation, its direct-key signatures and the
 * self-certifications of its user IDs. */
struct primary_state {
	sig_info direct;  /* latest direct-key signature */
	sig_info uid_sig; /* the user ID being read: its latest
                                   * self-signature (certification or
                                   * revocation of the certification) */
	sig_info flagged; /* latest certification flagged primary */
	sig_info any;     /* latest certification of any user ID */
	int64_t  created      = 0;
	uint8_t  id[8]        = {0};
	bool     have_id      = false; /* a version-4 key: its key ID is known */
	bool     revoked      = false;
	bool     have_direct  = false;
	bool     in_uid       = false;
	bool     uid_is_attr  = false; /* a user attribute: never the primary user ID */
	bool     have_uid_sig = false;
	bool     have_flagged = false;
	bool     have_any     = false;

	void start(const unsigned char *body, size_t len)
	{
		*this = primary_state{};
		if (len < 5 || body[0] != 4 || len > kMaxSubkeyLen)
			return; /* older or newer key formats: only revocations count */
		created = be32(body + 1);
		unsigned char fpr_in[kFprPrefixLen];
		fpr_in[0] = 0x99;
		fpr_in[1] = (unsigned char)(len >> 8);
		fpr_in[2] = (unsigned char)(len & 0xff);
		unsigned char digest[EVP_MAX_MD_SIZE];
		unsigned int  digest_len = 0;
		EVP_MD_CTX   *ctx        = EVP_MD_CTX_new();
		have_id                  = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1 &&
		          EVP_DigestUpdate(ctx, fpr_in, sizeof(fpr_in)) == 1 && EVP_DigestUpdate(ctx, body, len) == 1 &&
		          EVP_DigestFinal_ex(ctx, digest, &digest_len) == 1 && digest_len == kSha1Len;
		EVP_MD_CTX_free(ctx);
		if (have_id)
			std::memcpy(id, digest + kKeyIdOffset, sizeof(id));
	}

	bool self_issued(const sig_info &sig) const
	{
		return have_id && sig.readable && sig.has_issuer && std::memcmp(sig.issuer, id, sizeof(id)) == 0;
	}

	/* Closes the user ID being read: its latest self-signature, if it is a
     * certification, is a candidate for the primary user ID's. */
	void end_uid()
	{
		if (in_uid && !uid_is_attr && have_uid_sig && uid_sig.type != kSigCertRevoke) {
			if (uid_sig.primary_uid && (!have_flagged || uid_sig.created >= flagged.created)) {
				flagged      = uid_sig;
				have_flagged = true;
			}
			if (!have_any || uid_sig.created >= any.created) {
				any      = uid_sig;
				have_any = true;
			}
		}
		in_uid       = false;
		have_uid_sig = false;
	}

	void add_uid(bool is_attr)
	{
		end_uid();
		in_uid      = true;
		uid_is_attr = is_attr;
	}

	void add_signature(const sig_info &sig)
	{
		if (sig.type == kSigKeyRevoke) {
			revoked = true;
			return;
		}
		if (!self_issued(sig))
			return;
		if (sig.type == kSigDirectKey && !in_uid) {
			if (!have_direct || sig.created >= direct.created) {
				direct      = sig;
				have_direct = true;
			}
		} else if (in_uid && ((sig.type >= kSigCertFirst && sig.type <= kSigCertLast) || sig.type == kSigCertRevoke)) {
			if (!have_uid_sig || sig.created >= uid_sig.created) {
				uid_sig      = sig;
				have_uid_sig = true;
			}
		}
	}

	/* Revoked, or past the key expiration time of the latest direct-key
     * signature that sets one, else of the primary user ID's latest
     * self-certification (the user ID flagged primary, else the one
     * certified last). */
	bool dead(int64_t now)
	{
		end_uid();
		if (revoked)
			return true;
		const sig_info *from = nullptr;
		if (have_direct && direct.has_expire)
			from = &direct;
		else if (have_flagged)
			from = &flagged;
		else if (have_any)
			from = &any;
		return from != nullptr && from->has_expire && from->key_expire != 0 &&
		       created + (int64_t)from->key_expire < now;
	}
};

/* The structural checks of a subkey packet that come before its fields are
 * read: the same checks, in the same order, as read_public_key makes. */
bool subkey_header_ok(M_parser_t *parser, uint64_t packet_length, char *error, size_t error_len)
{
	if (packet_length > kMaxSubkeyLen) {
		set_error(error, error_len, "packet length greater than 0xffff");
		return false;
	}
	unsigned char version = 0;
	if (packet_length == 0 || !M_parser_peek_byte(parser, &version)) {
		set_error(error, error_len, "unable to peek version byte");
		return false;
	}
	if (version != 4) {
		set_error(error, error_len, "public key not in version 4 format");
		return false;
	}
	return true;
}

/* Reads the subkey whose whole body was recorded while walking. */
M_pgp_pubkey_t *read_recorded_subkey(const subkey_state &sub, char *error, size_t error_len)
{
	M_parser_storage_t storage;
	M_parser_t        *p = M_parser_init(&storage, sub.body, sub.body_len, 0);
	return read_public_key(p, sub.body_len, error, error_len);
}

constexpr const char *kMsgKeyDead        = "public key is revoked or expired";
constexpr const char *kMsgNoUsableSubkey = "no usable encryption subkey (revoked, expired or not for encryption)";

/* Walks the packets and reads the first usable version-4 subkey. Each subkey
 * is judged once the packets that belong to it (up to the next subkey or
 * primary key, or the end) have been seen, and before its algorithm is
 * looked at. */
M_pgp_pubkey_t *walk_packets(M_parser_t *parser, char *error, size_t error_len)
{
	const int64_t now        = M_time();
	bool          have_sub   = false; /* a subkey is being gathered */
	bool          saw_subkey = false;
	subkey_state  sub;
	/* The primary key before the subkeys; a stream that starts with a
     * subkey has none and nothing is known against its subkeys. */
	bool          in_primary   = false; /* between a primary and its first subkey */
	bool          primary_dead = false;
	bool          saw_dead     = false;
	primary_state primary;

	for (;;) {
		if (M_parser_len(parser) == 0) {
			if (in_primary && primary.dead(now))
				saw_dead = true;
			if (have_sub && sub.usable(now))
				return read_recorded_subkey(sub, error, error_len);
			set_error(error, error_len,
			          saw_dead     ? kMsgKeyDead
			          : saw_subkey ? kMsgNoUsableSubkey
			                       : "no public key contained in buffer");
			return nullptr;
		}

		unsigned char packet_tag = 0;
		if (!M_parser_read_byte(parser, &packet_tag)) {
			set_sanity_error(error, error_len, "M_parser_read_byte(parser, &packet_tag)");
			return nullptr;
		}
		if (!(packet_tag & 0x80)) {
			set_sanity_error(error, error_len, "packet_tag & 0x80");
			return nullptr;
		}

		unsigned tag_num       = 0;
		uint64_t packet_length = 0;
		if (packet_tag & 0x40) {
			tag_num = packet_tag & 0x3f;
			if (!read_multiformat_length(parser, &packet_length)) {
				set_sanity_error(error, error_len, "read_multiformat_length(parser, &packet_length)");
				return nullptr;
			}
		} else {
			tag_num                    = (packet_tag >> 2) & 0x0f;
			const unsigned length_type = packet_tag & 0x03;
			if (length_type == 3) {
				set_error(error, error_len, "indeterminate packet length not supported");
				return nullptr;
			}
			const size_t packet_length_length = (size_t)1 << length_type;
			if (!read_scalar_length(parser, packet_length_length, &packet_length)) {
				set_sanity_error(error, error_len, "read_scalar_length(parser, packet_length_length, &packet_length)");
				return nullptr;
			}
		}
		const bool whole = packet_length <= M_parser_len(parser);

		/* A subkey or primary key ends the packets of the subkey before. */
		if (have_sub && (tag_num == kPgpTagPublicSubkey || tag_num == kPgpTagPublicKey)) {
			if (sub.usable(now))
				return read_recorded_subkey(sub, error, error_len);
			have_sub = false;
		}
		/* ... and either ends what belongs to the primary key itself. */
		if (in_primary && (tag_num == kPgpTagPublicSubkey || tag_num == kPgpTagPublicKey)) {
			primary_dead = primary.dead(now);
			saw_dead     = saw_dead || primary_dead;
			in_primary   = false;
		}

		if (tag_num == kPgpTagPublicKey) {
			primary.start(whole ? M_parser_peek(parser) : nullptr, whole ? (size_t)packet_length : 0);
			in_primary   = true;
			primary_dead = false;
		} else if (tag_num == kPgpTagPublicSubkey) {
			saw_subkey = true;
			if (!subkey_header_ok(parser, packet_length, error, error_len))
				return nullptr;
			/* A body cut short fails as it always has. */
			if (!whole)
				return read_public_key(parser, packet_length, error, error_len);
			/* The subkeys of a revoked or expired primary key are not used. */
			if (!primary_dead) {
				sub          = subkey_state{};
				sub.body     = M_parser_peek(parser);
				sub.body_len = (size_t)packet_length;
				have_sub     = true;
			}
		} else if (in_primary && (tag_num == kPgpTagUserId || tag_num == kPgpTagUserAttr)) {
			primary.add_uid(tag_num == kPgpTagUserAttr);
		} else if (tag_num == kPgpTagSignature && whole) {
			const sig_info sig = read_signature(M_parser_peek(parser), (size_t)packet_length);
			if (have_sub)
				sub.add_signature(sig);
			else if (in_primary)
				primary.add_signature(sig);
		}

		if (!whole || !M_parser_consume(parser, (size_t)packet_length)) {
			set_sanity_error(error, error_len, "M_parser_consume(parser, packet_length)");
			return nullptr;
		}
	}
}

/* The walk records where each subkey's body lies and reads it after the
 * packets that follow it: it runs on a constant view of the bytes, since a
 * dynamic parser wipes the bytes it consumes. */
M_pgp_pubkey_t *read_pubkey_from_parser(M_parser_t *parser, char *error, size_t error_len)
{
	M_parser_storage_t storage;
	M_parser_t        *view = M_parser_init(&storage, M_parser_peek(parser), M_parser_len(parser), 0);
	return walk_packets(view, error, error_len);
}

/* Decodes the armoured block into a new parser, or fails with a message. */
M_parser_t *parser_from_armor(const unsigned char *data, size_t data_len, char *error, size_t error_len)
{
	size_t blk_start = 0;
	size_t blk_len   = 0;
	if (!find_armor_block(data, data_len, &blk_start, &blk_len)) {
		set_error(error, error_len, kMsgNoArmor);
		return nullptr;
	}

	M_parser_t *parser = M_parser_create(0);
	if (parser == nullptr) {
		set_error(error, error_len, "Failed to create parser");
		return nullptr;
	}

	/* The decoder skips the line breaks inside the block. */
	const char *b64  = reinterpret_cast<const char *>(data + blk_start);
	size_t      room = M_bincodec_decode_size(blk_len, M_BINCODEC_BASE64);
	if (room != 0) {
		unsigned char *dst = M_parser_direct_write_start(parser, &room);
		if (dst != nullptr) {
			const size_t n = M_bincodec_decode(dst, room, b64, blk_len, M_BINCODEC_BASE64);
			M_parser_direct_write_end(parser, n);
		}
	}
	if (M_parser_len(parser) == 0) {
		set_error(error, error_len, "base64 decode failure");
		M_parser_destroy(parser);
		return nullptr;
	}
	return parser;
}

} // namespace

extern "C" {

M_pgp_pubkey_t *M_pgp_pubkey_create(const unsigned char *data, size_t data_len, char *error, size_t error_len)
{
	if (data == nullptr || data_len == 0) {
		set_error(error, error_len, kMsgNoArmor);
		return nullptr;
	}

	M_parser_t *parser = nullptr;
	if (is_armor_text(data, data_len)) {
		parser = parser_from_armor(data, data_len, error, error_len);
		if (parser == nullptr)
			return nullptr;
	} else {
		parser = M_parser_create(0);
		if (parser == nullptr || !M_parser_append(parser, data, data_len)) {
			set_error(error, error_len, "Failed to create parser");
			M_parser_destroy(parser);
			return nullptr;
		}
	}

	M_pgp_pubkey_t *key = read_pubkey_from_parser(parser, error, error_len);
	M_parser_destroy(parser);
	return key;
}

void M_pgp_pubkey_destroy(M_pgp_pubkey_t *key)
{
	if (key == nullptr)
		return;
	/* The numbers are public, so a plain free is enough for them; the object
     * itself is wiped by M_free. An ECDH key holds no numbers (its point is
     * inside the object), and an object of unknown type is not trusted to
     * hold valid numbers. */
	if (key->type == M_PGP_PUBKEY_TYPE_RSA) {
		BN_free(key->n_p);
		BN_free(key->e_g);
	} else if (key->type == M_PGP_PUBKEY_TYPE_ELGAMAL) {
		BN_free(key->n_p);
		BN_free(key->e_g);
		BN_free(key->y);
	}
	M_free(key);
}

} // extern "C"
