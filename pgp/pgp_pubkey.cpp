/* OpenPGP public key reader: reading a key file's packets into a key.
 *
 * References: RFC 4880 section 4.2 (packet headers, old and new formats),
 * 5.5.2 (version-4 public key packets), 3.2 (multiprecision integers),
 * 11.1 (the order of a transferable public key's packets) and 12.2
 * (fingerprints and key IDs); RFC 6637 (ECDH).
 *
 * The reader undoes the armour (pgp_armor.cpp), frames every packet of the
 * file and takes its one primary key; which of that key's self-signatures
 * verifies what (pgp_selfsig.cpp) and the choice of the encryption key as
 * gpg 2.2 makes it (pgp_keychoice.cpp; see the header for the rules) come
 * next. Only then are the chosen key's numbers read, here, and checked.
 */
#include "pgp/pgp_pubkey.h"

#include <cstdint>
#include <cstring>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include "core/m_mem.h"
#include "core/m_parser.h"
#include "core/m_str_fmt.h"
#include "pgp/pgp_ecdh_int.h"
#include "pgp/pgp_pubkey_int.h"

namespace {

using m::detail::pgp_file_packet;
using m::detail::set_error;
using m::detail::span_reader;

using m::detail::kKeyIdOffset;
using m::detail::kMsgNoArmor;
using m::detail::kMsgSecret;
using m::detail::kPkEcdh;
using m::detail::kPkElgamal;
using m::detail::kPkRsa;
using m::detail::kSha1Len;
using m::detail::kTagPublicKey;
using m::detail::kTagPublicSubkey;
using m::detail::kTagSecretKey;
using m::detail::kTagSecretSubkey;

/* A key packet body is at most 0xffff bytes: its fingerprint input carries
 * the length in two bytes. */
constexpr size_t kMaxKeyLen = 0xffff;

/* Sizes of RSA moduli and Elgamal primes that are accepted. */
constexpr int kMinModulusBits = 1024;
constexpr int kMaxModulusBits = 16384;

constexpr const char *kMsgNoKey   = "no public key contained in buffer";
constexpr const char *kMsgTwoKeys = "key file holds more than one public key: export only the recipient's key";
constexpr const char *kSanityFunc = "read_pubkey_from_parser";

void set_sanity_error(char *error, size_t error_len, const char *check)
{
	if (error == nullptr || error_len == 0)
		return;
	(void)M_snprintf(error, error_len, "%s: failed sanity check %s", kSanityFunc, check);
}

/* ---------------------------------------------------------------------------
 * Packet framing
 * ------------------------------------------------------------------------- */

/* RFC 4880 4.2.2 new-format length. Partial body lengths (224..254) are
 * refused: a key packet is never split. */
[[nodiscard]] bool read_multiformat_length(M_parser_t *parser, uint64_t *packet_length)
{
	unsigned char first = 0;
	if (!M_parser_read_byte(parser, &first))
		return false;
	if (first < m::detail::kLenTwoFirst) {
		*packet_length = first;
		return true;
	}
	if (first < m::detail::kLenPartialFirst) {
		unsigned char second = 0;
		if (!M_parser_read_byte(parser, &second))
			return false;
		*packet_length = m::detail::two_byte_length(first, second);
		return true;
	}
	if (first == m::detail::kLenFour)
		return M_parser_read_uint(parser, M_PARSER_INTEGER_BIGENDIAN, 4, 10, packet_length);
	return false;
}

/* RFC 4880 4.2.1 old-format length of 1, 2 or 4 bytes. */
[[nodiscard]] bool read_scalar_length(M_parser_t *parser, size_t packet_length_length, uint64_t *packet_length)
{
	return M_parser_read_uint(parser, M_PARSER_INTEGER_BIGENDIAN, packet_length_length, 10, packet_length);
}

/* Reads a packet header: its tag number and body length. */
[[nodiscard]] bool read_packet_header(M_parser_t *parser, unsigned *tag_num, uint64_t *packet_length, char *error,
                                      size_t error_len)
{
	unsigned char packet_tag = 0;
	if (!M_parser_read_byte(parser, &packet_tag)) {
		set_sanity_error(error, error_len, "M_parser_read_byte(parser, &packet_tag)");
		return false;
	}
	if (!m::detail::is_tag_byte(packet_tag)) {
		set_sanity_error(error, error_len, "packet_tag & 0x80");
		return false;
	}
	*tag_num = m::detail::tag_of(packet_tag);
	if (m::detail::is_new_format(packet_tag)) {
		if (!read_multiformat_length(parser, packet_length)) {
			set_sanity_error(error, error_len, "read_multiformat_length(parser, &packet_length)");
			return false;
		}
		return true;
	}
	const unsigned length_type = m::detail::old_length_type(packet_tag);
	if (length_type == m::detail::kOldLengthIndeterminate) {
		set_error(error, error_len, "indeterminate packet length not supported");
		return false;
	}
	if (!read_scalar_length(parser, (size_t)1 << length_type, packet_length)) {
		set_sanity_error(error, error_len, "read_scalar_length(parser, packet_length_length, &packet_length)");
		return false;
	}
	return true;
}

/* The checks of a key packet (primary or subkey) made before its body is
 * read: its length, a version byte, version 4, the whole body present. */
bool key_header_ok(M_parser_t *parser, uint64_t packet_length, char *error, size_t error_len)
{
	if (packet_length > kMaxKeyLen) {
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
	if (packet_length > M_parser_len(parser)) {
		if (error != nullptr && error_len != 0)
			(void)M_snprintf(error, error_len, "unable to peek %llu bytes", (unsigned long long)packet_length);
		return false;
	}
	return true;
}

/* The packets of the file, in order. */
struct packet_list {
	pgp_file_packet *items = nullptr;
	size_t           count = 0;
	size_t           cap   = 0;

	packet_list()                               = default;
	packet_list(const packet_list &)            = delete;
	packet_list &operator=(const packet_list &) = delete;
	~packet_list()
	{
		M_free(items);
	}

	void push(const pgp_file_packet &p)
	{
		if (count == cap) {
			cap   = cap == 0 ? 64 : cap * 2;
			items = static_cast<pgp_file_packet *>(M_realloc(items, cap * sizeof(*items)));
		}
		items[count++] = p;
	}
};

/* Frames every packet, recording its body. A damaged header, a key packet
 * that fails its checks or a body past the end fails the whole file. */
bool frame_packets(M_parser_t *parser, packet_list *out, char *error, size_t error_len)
{
	while (M_parser_len(parser) != 0) {
		unsigned tag_num       = 0;
		uint64_t packet_length = 0;
		if (!read_packet_header(parser, &tag_num, &packet_length, error, error_len))
			return false;
		if ((tag_num == kTagPublicKey || tag_num == kTagPublicSubkey) &&
		    !key_header_ok(parser, packet_length, error, error_len))
			return false;
		const unsigned char *body = M_parser_peek(parser);
		if (packet_length > M_parser_len(parser) || !M_parser_consume(parser, (size_t)packet_length)) {
			set_sanity_error(error, error_len, "M_parser_consume(parser, packet_length)");
			return false;
		}
		out->push(pgp_file_packet{body, (size_t)packet_length, tag_num});
	}
	return true;
}

/* ---------------------------------------------------------------------------
 * The fields of a key packet
 * ------------------------------------------------------------------------- */

/* An MPI as its bytes, for points that are not numbers: the bytes must be
 * exactly len (the bit count may leave leading zero bits). */
[[nodiscard]] bool read_mpi_bytes(span_reader &body, unsigned char *buf, size_t len)
{
	const unsigned char *bytes = nullptr;
	size_t               got   = 0;
	uint32_t             bits  = 0;
	if (!body.mpi(&bytes, &got, &bits) || bits == 0 || got != len)
		return false;
	std::memcpy(buf, bytes, len);
	return true;
}

/* An MPI as a number. A number of 0 bits is refused: no key has one. */
[[nodiscard]] BIGNUM *read_mpi(span_reader &body)
{
	const unsigned char *bytes = nullptr;
	size_t               len   = 0;
	uint32_t             bits  = 0;
	if (!body.mpi(&bytes, &len, &bits) || bits == 0)
		return nullptr;
	return BN_bin2bn(bytes, (int)len, nullptr);
}

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

/* RSA n and e, or Elgamal p, g and y. */
bool read_integers(span_reader &body, bool is_rsa, numbers &nums, char *error, size_t error_len)
{
	static const char *const rsa[] = {"unable to read RSA n", "unable to read RSA e"};
	static const char *const elg[] = {"unable to read elgamal p", "unable to read elgamal g",
	                                  "unable to read elgamal y"};
	for (size_t i = 0; i < (is_rsa ? 2u : 3u); i++) {
		if ((nums.n[i] = read_mpi(body)) == nullptr) {
			set_error(error, error_len, is_rsa ? rsa[i] : elg[i]);
			return false;
		}
	}
	return true;
}

/* RFC 6637 section 9: curve OID, public point, KDF parameters, and nothing
 * after them. */
bool read_ecdh(span_reader &body, pgp_ecdh_key *ecdh, char *error, size_t error_len)
{
	const unsigned char *oid_len = nullptr;
	const unsigned char *oid     = nullptr;
	if (!body.take(1, &oid_len) || *oid_len == 0 || *oid_len == 0xff || !body.take(*oid_len, &oid)) {
		set_error(error, error_len, "unable to read ECDH curve");
		return false;
	}
	const m::detail::curve_info *curve = m::detail::curve_by_oid(oid, *oid_len);
	if (curve == nullptr || !curve->ecdh) {
		/* Other curves (Brainpool, secp256k1, ...) are not offered by the
		 * crypto library everywhere: treated as another algorithm. */
		set_error(error, error_len, "unsupported public key algorithm");
		return false;
	}
	ecdh->curve   = curve->curve;
	ecdh->oid_len = *oid_len;
	std::memcpy(ecdh->oid, oid, *oid_len);
	if (!read_mpi_bytes(body, ecdh->point, curve->point_len) || ecdh->point[0] != curve->point_prefix) {
		set_error(error, error_len, "unable to read ECDH point");
		return false;
	}
	ecdh->point_len = curve->point_len;
	/* KDF parameters: length 3, reserved 1, hash id, key-wrap cipher id. */
	const unsigned char *kdf = nullptr;
	if (!body.take(4, &kdf) || kdf[0] != 3 || kdf[1] != 1 || body.left != 0) {
		set_error(error, error_len, "unable to read ECDH KDF parameters");
		return false;
	}
	if (kdf[2] < 8 || kdf[2] > 10 || kdf[3] < 7 || kdf[3] > 9) {
		set_error(error, error_len, "unsupported ECDH KDF parameters");
		return false;
	}
	ecdh->kdf_hash   = kdf[2];
	ecdh->kdf_cipher = kdf[3];
	return true;
}

/* Takes the file's one primary key, chooses its encryption key and reads
 * that key's numbers. Packets before the primary key (a marker packet, a
 * stray subkey with its signatures) are passed over, as gpg does. */
M_pgp_pubkey_t *read_keyblock(const packet_list &list, char *error, size_t error_len)
{
	size_t primary = 0;
	while (primary < list.count && list.items[primary].tag != kTagPublicKey)
		primary++;
	if (primary == list.count) {
		/* Secret key packets (tags 5 and 7): the other half of the pair. */
		bool secret = false;
		for (size_t i = 0; i < list.count; i++)
			secret = secret || list.items[i].tag == kTagSecretKey || list.items[i].tag == kTagSecretSubkey;
		set_error(error, error_len, secret ? kMsgSecret : kMsgNoKey);
		return nullptr;
	}
	for (size_t i = primary + 1; i < list.count; i++) {
		if (list.items[i].tag == kTagPublicKey) {
			set_error(error, error_len, kMsgTwoKeys);
			return nullptr;
		}
	}
	return m::detail::pgp_choose_key(list.items, list.count, primary, error, error_len);
}

/* The walk runs on a constant view of the bytes, since a dynamic parser
 * wipes the bytes it consumes and the packets are read after framing. */
M_pgp_pubkey_t *read_pubkey_from_parser(M_parser_t *parser, char *error, size_t error_len)
{
	M_parser_storage_t storage;
	M_parser_t        *view = M_parser_init(&storage, M_parser_peek(parser), M_parser_len(parser), 0);
	packet_list        list;
	if (!frame_packets(view, &list, error, error_len))
		return nullptr;
	return read_keyblock(list, error, error_len);
}

const m::detail::curve_info *curve_of(const M_pgp_pubkey_t *key)
{
	return key->type == M_PGP_PUBKEY_TYPE_ECDH ? m::detail::curve_by_id(key->ecdh.curve) : nullptr;
}

} // namespace

namespace m::detail {

/* Writes a message into the caller's area (which may be absent). */
void set_error(char *error, size_t error_len, const char *msg) noexcept
{
	if (error == nullptr || error_len == 0)
		return;
	(void)M_snprintf(error, error_len, "%s", msg);
}

/* SHA-1 version-4 fingerprint of a key packet body (RFC 4880 12.2): over
 * the body behind its hash header. */
bool pgp_v4_fingerprint(const unsigned char *body, size_t len, unsigned char fpr[kSha1Len]) noexcept
{
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int  digest_len = 0;
	EVP_MD_CTX   *ctx        = EVP_MD_CTX_new();
	const bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1 && digest_key(ctx, body, len) &&
	                EVP_DigestFinal_ex(ctx, digest, &digest_len) == 1 && digest_len == kSha1Len;
	EVP_MD_CTX_free(ctx);
	if (ok)
		std::memcpy(fpr, digest, kSha1Len);
	return ok;
}

/* Reads the algorithm and fields of a key packet body whose fingerprint is
 * known, into a new key object. */
M_pgp_pubkey_t *pgp_read_key_fields(span_reader &body, const unsigned char fpr[kSha1Len], char *error,
                                    size_t error_len) noexcept
{
	const unsigned char *skip = nullptr;
	if (!body.take(1, &skip)) {
		set_error(error, error_len, "unable to skip version byte");
		return nullptr;
	}
	if (!body.take(4, &skip)) {
		set_error(error, error_len, "unable to skip creation date");
		return nullptr;
	}
	const unsigned char *alg_byte = nullptr;
	if (!body.take(1, &alg_byte)) {
		set_error(error, error_len, "unable to read public key algorithm");
		return nullptr;
	}
	const unsigned alg = *alg_byte;
	numbers        nums;
	pgp_ecdh_key   ecdh{};
	uint32_t       type = M_PGP_PUBKEY_TYPE_ECDH;
	if (alg == kPkRsa || alg == kPkElgamal) {
		type = alg == kPkRsa ? M_PGP_PUBKEY_TYPE_RSA : M_PGP_PUBKEY_TYPE_ELGAMAL;
		if (!read_integers(body, alg == kPkRsa, nums, error, error_len))
			return nullptr;
	} else if (alg != kPkEcdh) {
		set_error(error, error_len, "unsupported public key algorithm");
		return nullptr;
	} else if (!read_ecdh(body, &ecdh, error, error_len)) {
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
	std::memcpy(key->key_id, fpr + kKeyIdOffset, sizeof(key->key_id));
	static_assert(sizeof(key->fingerprint) == kSha1Len, "a v4 fingerprint");
	std::memcpy(key->fingerprint, fpr, kSha1Len);
	key->ecdh = ecdh;
	return key;
}

/* The message for numbers too weak to protect a session key, or nullptr.
 * RSA: a modulus of 1024 to 16384 bits, odd, and an exponent that is odd,
 * at least 3 and below it. Elgamal: an odd prime of 1024 to 16384 bits, and
 * g and y in 2 .. p - 2 (1 and p - 1 have order at most 2). */
const char *pgp_weak_numbers(const M_pgp_pubkey_t *key) noexcept
{
	if (key->type == M_PGP_PUBKEY_TYPE_ECDH)
		return ecdh_point_problem(key->ecdh);
	const bool is_rsa = key->type == M_PGP_PUBKEY_TYPE_RSA;
	const int  bits   = BN_num_bits(key->n_p);
	if (bits < kMinModulusBits || bits > kMaxModulusBits)
		return is_rsa ? "weak public key: RSA modulus not of 1024 to 16384 bits"
		              : "weak public key: elgamal prime not of 1024 to 16384 bits";
	if (!BN_is_odd(key->n_p))
		return is_rsa ? "weak public key: RSA modulus is even" : "weak public key: elgamal prime is even";
	if (is_rsa) {
		if (!BN_is_odd(key->e_g) || BN_is_one(key->e_g) || BN_cmp(key->e_g, key->n_p) >= 0)
			return "weak public key: RSA exponent not odd, at least 3 and below the modulus";
		return nullptr;
	}
	BIGNUM    *pm2      = BN_dup(key->n_p);
	const bool ok       = pm2 != nullptr && BN_sub_word(pm2, 2) == 1;
	const bool in_range = ok && BN_cmp(key->e_g, BN_value_one()) > 0 && BN_cmp(key->e_g, pm2) <= 0 &&
	                      BN_cmp(key->y, BN_value_one()) > 0 && BN_cmp(key->y, pm2) <= 0;
	BN_free(pm2);
	return in_range ? nullptr : "weak public key: elgamal g or y outside 2 to p-2";
}

bool pgp_key_file_packets(const unsigned char *data, size_t data_len, pgp_packet_cb cb, void *thunk) noexcept
{
	if (data == nullptr || data_len == 0)
		return false;
	M_parser_t *parser =
	    pgp_is_armor_text(data, data_len) ? pgp_parser_from_armor(data, data_len, nullptr, 0) : M_parser_create(0);
	if (parser == nullptr || (!pgp_is_armor_text(data, data_len) && !M_parser_append(parser, data, data_len))) {
		M_parser_destroy(parser);
		return false;
	}
	M_parser_storage_t storage;
	M_parser_t        *view = M_parser_init(&storage, M_parser_peek(parser), M_parser_len(parser), 0);
	packet_list        list;
	const bool         framed = frame_packets(view, &list, nullptr, 0);
	for (size_t i = 0; framed && i < list.count; i++)
		cb(list.items[i].tag, list.items[i].body, list.items[i].len, thunk);
	M_parser_destroy(parser);
	return framed;
}

M_pgp_pubkey_t *pgp_read_key_packet(const unsigned char *body, size_t len, char *error, size_t error_len) noexcept
{
	if (len > kMaxKeyLen) {
		set_error(error, error_len, "packet length greater than 0xffff");
		return nullptr;
	}
	if (len == 0 || body == nullptr) {
		set_error(error, error_len, "unable to peek version byte");
		return nullptr;
	}
	if (body[0] != 4) {
		set_error(error, error_len, "public key not in version 4 format");
		return nullptr;
	}
	unsigned char fpr[kSha1Len];
	if (!pgp_v4_fingerprint(body, len, fpr)) {
		/* SHA-1 is in every provider set OpenSSL loads by default; should it
		 * be missing the key cannot be identified. */
		set_error(error, error_len, "read_public_key: fingerprint failure");
		return nullptr;
	}
	span_reader reader{body, len};
	return pgp_read_key_fields(reader, fpr, error, error_len);
}

} // namespace m::detail

extern "C" {

M_pgp_pubkey_t *M_pgp_pubkey_create(const unsigned char *data, size_t data_len, char *error, size_t error_len)
{
	if (data == nullptr || data_len == 0) {
		set_error(error, error_len, kMsgNoArmor);
		return nullptr;
	}

	M_parser_t *parser = nullptr;
	if (m::detail::pgp_is_armor_text(data, data_len)) {
		parser = m::detail::pgp_parser_from_armor(data, data_len, error, error_len);
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
	M_free(key->user_id);
	M_free(key);
}

const unsigned char *M_pgp_pubkey_primary_fingerprint(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->primary_fingerprint : nullptr;
}

const char *M_pgp_pubkey_primary_user_id(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->user_id : nullptr;
}

size_t M_pgp_pubkey_primary_user_id_len(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->user_id_len : 0;
}

const unsigned char *M_pgp_pubkey_fingerprint(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->fingerprint : nullptr;
}

const unsigned char *M_pgp_pubkey_key_id(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->key_id : nullptr;
}

M_pgp_pubkey_type_t M_pgp_pubkey_type(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? static_cast<M_pgp_pubkey_type_t>(key->type) : M_PGP_PUBKEY_TYPE_NONE;
}

size_t M_pgp_pubkey_bits(const M_pgp_pubkey_t *key)
{
	if (key == nullptr)
		return 0;
	const m::detail::curve_info *curve = curve_of(key);
	if (curve != nullptr)
		return curve->bits;
	const bool numbers = key->type == M_PGP_PUBKEY_TYPE_RSA || key->type == M_PGP_PUBKEY_TYPE_ELGAMAL;
	return numbers && key->n_p != nullptr ? (size_t)BN_num_bits(key->n_p) : 0;
}

const char *M_pgp_pubkey_curve(const M_pgp_pubkey_t *key)
{
	const m::detail::curve_info *curve = key != nullptr ? curve_of(key) : nullptr;
	return curve != nullptr ? curve->name : nullptr;
}

M_time_t M_pgp_pubkey_created(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->created : 0;
}

M_time_t M_pgp_pubkey_expires(const M_pgp_pubkey_t *key)
{
	return key != nullptr ? key->expires : 0;
}

} // extern "C"
