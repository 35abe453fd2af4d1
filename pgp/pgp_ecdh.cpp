/* ECDH session key encryption.
 *
 * References: RFC 6637 sections 7 (key derivation), 8 (encryption and the
 * padding of the session key block) and 9/10 (key and packet fields);
 * RFC 3394 (AES key wrap); RFC 7748 (X25519). Curve25519 keys are in the form
 * OpenPGP tools write: a point of 0x40 followed by the 32-byte u-coordinate,
 * and the X25519 output taken as it is for the shared secret.
 */
#include "pgp/pgp_ecdh_int.h"

#include <cstring>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "pgp/pgp_packet_int.h"
#include "pgp/pgp_pubkey_int.h"

namespace {

constexpr size_t kWrapBlock = 8;
/* The fixed text of the key derivation parameters (RFC 6637 section 8). */
constexpr unsigned char kAnonymousSender[20] = {'A', 'n', 'o', 'n', 'y', 'm', 'o', 'u', 's', ' ',
                                                'S', 'e', 'n', 'd', 'e', 'r', ' ', ' ', ' ', ' '};

/* The key derivation's hash: SHA-256, SHA-384 or SHA-512 (8, 9, 10). */
const EVP_MD *kdf_md(uint8_t hash_id)
{
	using m::detail::kHashSha256;
	using m::detail::kHashSha512;
	return hash_id >= kHashSha256 && hash_id <= kHashSha512 ? m::detail::hash_by_id(hash_id) : nullptr;
}

/* The OpenSSL group of a NIST curve; NULL for Curve25519 (a raw key). */
const char *nist_group(uint32_t curve)
{
	const m::detail::curve_info *c = m::detail::curve_by_id(curve);
	return c != nullptr ? c->group : nullptr;
}

/* The OpenSSL key objects of one exchange, freed on every path. */
struct exchange {
	EVP_PKEY     *peer = nullptr;
	EVP_PKEY     *eph  = nullptr;
	EVP_PKEY_CTX *ctx  = nullptr;

	exchange()                            = default;
	exchange(const exchange &)            = delete;
	exchange &operator=(const exchange &) = delete;
	~exchange()
	{
		EVP_PKEY_CTX_free(ctx);
		EVP_PKEY_free(eph); /* clears the private key */
		EVP_PKEY_free(peer);
	}
};

/* A point of a NIST curve as an OpenSSL key, or nullptr when the encoding
 * gives no point of the curve (the library checks that it lies on it). */
EVP_PKEY *nist_point(const char *group, const uint8_t *point, size_t len)
{
	OSSL_PARAM params[] = {
	    OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char *>(group), 0),
	    OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<uint8_t *>(point), len),
	    OSSL_PARAM_construct_end(),
	};
	EVP_PKEY     *pkey = nullptr;
	EVP_PKEY_CTX *ctx  = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
	if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx) != 1 ||
	    EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_PUBLIC_KEY, params) != 1)
		pkey = nullptr;
	EVP_PKEY_CTX_free(ctx);
	return pkey;
}

constexpr const char *kPointOffCurve   = "public point not on the curve";
constexpr const char *kPointSmallOrder = "public point of small order";

/* Whether X25519 with the u-coordinate gives the all-zero secret, which it
 * does exactly for the points of small order (curve and twist): their
 * multiples by a clamped scalar, a multiple of 8, are the neutral point.
 * OpenSSL refuses to derive such a secret. Any fixed scalar will do. */
bool x25519_small_order(const unsigned char u[32])
{
	static const unsigned char kScalar[32] = {0x77, 0x07, 0x6d, 0x0a, 0x73, 0x18, 0xa5, 0x7d, 0x3c, 0x16, 0xc1,
	                                          0x72, 0x51, 0xb2, 0x66, 0x45, 0xdf, 0x4c, 0x2f, 0x87, 0xeb, 0xc0,
	                                          0x99, 0x2a, 0xb1, 0x77, 0xfb, 0xa5, 0x1d, 0xb9, 0x2c, 0x2a};
	exchange                   ex;
	unsigned char              shared[32];
	size_t                     len = sizeof(shared);
	ex.eph                         = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, kScalar, sizeof(kScalar));
	ex.peer                        = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u, 32);
	const bool ok                  = ex.eph != nullptr && ex.peer != nullptr &&
	                (ex.ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, ex.eph, nullptr)) != nullptr &&
	                EVP_PKEY_derive_init(ex.ctx) == 1 && EVP_PKEY_derive_set_peer_ex(ex.ctx, ex.peer, 1) == 1 &&
	                EVP_PKEY_derive(ex.ctx, shared, &len) == 1;
	OPENSSL_cleanse(shared, sizeof(shared));
	return !ok;
}

/* An Ed25519 point (RFC 8032 5.1.3): y below p = 2^255 - 19 and x^2 =
 * (y^2 - 1) / (d y^2 + 1) a square, with d = -121665 / 121666, so x^2 =
 * 121666 (y^2 - 1) / (121666 - 121665 y^2); x = 0 only with its sign bit
 * clear. Its order is that of its image u = (1 + y) / (1 - y) on Curve25519
 * (the identity, y = 1, has none). */
const char *ed25519_problem(const unsigned char pt[32], BN_CTX *ctx)
{
	unsigned char be[32];
	for (size_t i = 0; i < 32; i++)
		be[i] = pt[31 - i];
	be[0] &= 0x7f;
	BIGNUM *p = BN_CTX_get(ctx), *y = BN_CTX_get(ctx), *y2 = BN_CTX_get(ctx), *num = BN_CTX_get(ctx);
	BIGNUM *den = BN_CTX_get(ctx), *one = BN_CTX_get(ctx);
	if (den == nullptr || !BN_set_bit(p, 255) || !BN_sub_word(p, 19) || BN_bin2bn(be, 32, y) == nullptr || !BN_one(one))
		return kPointOffCurve;
	if (BN_cmp(y, p) >= 0)
		return kPointOffCurve;
	if (BN_is_one(y))
		return kPointSmallOrder;
	const bool ok = BN_mod_sqr(y2, y, p, ctx) && BN_mod_sub(num, y2, one, p, ctx) && BN_mul_word(num, 121666) &&
	                BN_nnmod(num, num, p, ctx) && BN_copy(den, y2) != nullptr && BN_mul_word(den, 121665) &&
	                BN_sub_word(den, 121666) && BN_nnmod(den, den, p, ctx) && BN_mod_sub(den, p, den, p, ctx) &&
	                BN_mod_inverse(den, den, p, ctx) != nullptr && BN_mod_mul(num, num, den, p, ctx);
	if (!ok || (BN_is_zero(num) ? (pt[31] & 0x80) != 0 : BN_kronecker(num, p, ctx) != 1))
		return kPointOffCurve;
	/* u = (1 + y) / (1 - y), little-endian for X25519. */
	unsigned char u[32];
	if (!BN_mod_add(num, one, y, p, ctx) || !BN_mod_sub(den, one, y, p, ctx) ||
	    BN_mod_inverse(den, den, p, ctx) == nullptr || !BN_mod_mul(num, num, den, p, ctx) ||
	    BN_bn2lebinpad(num, u, 32) != 32)
		return kPointOffCurve;
	return x25519_small_order(u) ? kPointSmallOrder : nullptr;
}

/* The recipient's point as an OpenSSL key, and a fresh ephemeral key on the
 * same curve whose public point is written in the key's form. */
bool make_keys(const pgp_ecdh_key &k, exchange &ex, unsigned char *eph_pub, size_t *eph_len)
{
	if (k.curve == m::detail::PGP_CURVE_CURVE25519) {
		if (k.point_len != 33 || k.point[0] != 0x40)
			return false;
		ex.peer    = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, k.point + 1, 32);
		ex.eph     = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
		size_t len = 32;
		if (ex.peer == nullptr || ex.eph == nullptr || EVP_PKEY_get_raw_public_key(ex.eph, eph_pub + 1, &len) != 1 ||
		    len != 32)
			return false;
		eph_pub[0] = 0x40;
		*eph_len   = 33;
		return true;
	}

	const char *group = nist_group(k.curve);
	if (group == nullptr || (ex.peer = nist_point(group, k.point, k.point_len)) == nullptr)
		return false;
	ex.eph = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", group);
	if (ex.eph == nullptr)
		return false;
	/* The point of a generated key is written uncompressed, 0x04 || x || y,
     * as RFC 6637 requires. */
	size_t len = 0;
	if (EVP_PKEY_get_octet_string_param(ex.eph, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, eph_pub,
	                                    m::detail::kEcdhMaxEphemeral, &len) != 1 ||
	    len != k.point_len || eph_pub[0] != 0x04)
		return false;
	*eph_len = len;
	return true;
}

} // namespace

namespace m::detail {

const char *ecdh_point_problem(const pgp_ecdh_key &k) noexcept
{
	/* The reader has checked the form: 0x40 || u, or 0x04 || x || y. */
	if (k.curve == m::detail::PGP_CURVE_CURVE25519)
		return x25519_small_order(k.point + 1) ? kPointSmallOrder : nullptr;
	const char *group = nist_group(k.curve);
	EVP_PKEY   *pkey  = group != nullptr ? nist_point(group, k.point, k.point_len) : nullptr;
	const char *why   = ec_point_problem(pkey, k.point, k.point_len);
	EVP_PKEY_free(pkey);
	return why;
}

const char *ed25519_point_problem(const unsigned char pt[32]) noexcept
{
	BN_CTX *ctx = BN_CTX_new();
	if (ctx == nullptr)
		return kPointOffCurve;
	BN_CTX_start(ctx);
	const char *why = ed25519_problem(pt, ctx);
	BN_CTX_end(ctx);
	BN_CTX_free(ctx);
	return why;
}

const char *ec_point_problem(const EVP_PKEY *pkey, const unsigned char *pt, size_t pt_len) noexcept
{
	if (pt_len == 1 && pt[0] == 0)
		return "public point at infinity";
	if (pkey == nullptr)
		return kPointOffCurve;
	/* The quick check (on the curve, not at infinity) is the whole check
	 * on these curves: their cofactor is 1. */
	EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, const_cast<EVP_PKEY *>(pkey), nullptr);
	const bool    ok  = ctx != nullptr && EVP_PKEY_public_check_quick(ctx) == 1;
	EVP_PKEY_CTX_free(ctx);
	return ok ? nullptr : kPointOffCurve;
}

bool ecdh_kdf(uint8_t hash_id, const unsigned char *shared, size_t shared_len, const unsigned char *param,
              size_t param_len, unsigned char *kek, size_t kek_len) noexcept
{
	const EVP_MD *md = kdf_md(hash_id);
	if (md == nullptr || kek_len > (size_t)EVP_MD_get_size(md))
		return false;
	static const unsigned char counter[4] = {0, 0, 0, 1};
	unsigned char              digest[EVP_MAX_MD_SIZE];
	unsigned int               dlen = 0;
	EVP_MD_CTX                *ctx  = EVP_MD_CTX_new();
	const bool                 ok   = ctx != nullptr && EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
	                EVP_DigestUpdate(ctx, counter, sizeof(counter)) == 1 &&
	                EVP_DigestUpdate(ctx, shared, shared_len) == 1 && EVP_DigestUpdate(ctx, param, param_len) == 1 &&
	                EVP_DigestFinal_ex(ctx, digest, &dlen) == 1;
	EVP_MD_CTX_free(ctx);
	if (ok)
		std::memcpy(kek, digest, kek_len);
	OPENSSL_cleanse(digest, sizeof(digest));
	return ok;
}

bool ecdh_wrap_session_key(const M_pgp_pubkey_t *key, const unsigned char *skb, size_t skb_len,
                           ecdh_wrapped *out) noexcept
{
	if (key == nullptr || skb == nullptr || out == nullptr || key->type != M_PGP_PUBKEY_TYPE_ECDH)
		return false;
	const pgp_ecdh_key          &k          = key->ecdh;
	const m::detail::sym_cipher *kek_cipher = m::detail::cipher_by_id(k.kdf_cipher);
	const EVP_CIPHER            *wrap       = kek_cipher != nullptr ? m::detail::evp_of(kek_cipher->wrap) : nullptr;
	if (wrap == nullptr || kdf_md(k.kdf_hash) == nullptr || k.oid_len == 0 || k.oid_len > sizeof(k.oid))
		return false;
	const size_t kek_len = kek_cipher->key_size;

	/* RFC 6637 section 8: the block padded to a multiple of 8 bytes, each
     * padding byte holding the padding's length (PKCS #5). */
	unsigned char m[kEcdhMaxWrapped - kWrapBlock];
	const size_t  pad   = kWrapBlock - skb_len % kWrapBlock;
	const size_t  m_len = skb_len + pad;
	if (m_len > sizeof(m))
		return false;
	std::memcpy(m, skb, skb_len);
	std::memset(m + skb_len, static_cast<int>(pad), pad);

	/* Param (section 8): curve OID with its length, algorithm, the KDF
     * parameters, the fixed text and the recipient's fingerprint. */
	unsigned char param[1 + m::detail::kMaxOidLen + 1 + 4 + 20 + 20];
	size_t        pl = 0;
	param[pl++]      = k.oid_len;
	std::memcpy(param + pl, k.oid, k.oid_len);
	pl += k.oid_len;
	param[pl++] = m::detail::kPkEcdh;
	param[pl++] = 3;
	param[pl++] = 1;
	param[pl++] = k.kdf_hash;
	param[pl++] = k.kdf_cipher;
	std::memcpy(param + pl, kAnonymousSender, sizeof(kAnonymousSender));
	pl += sizeof(kAnonymousSender);
	std::memcpy(param + pl, key->fingerprint, sizeof(key->fingerprint));
	pl += sizeof(key->fingerprint);

	unsigned char shared[66]; /* P-521's x-coordinate is the longest */
	size_t        shared_len = sizeof(shared);
	unsigned char kek[32];
	bool          ok = false;
	{
		exchange ex;
		ok = make_keys(k, ex, out->ephemeral, &out->ephemeral_len) &&
		     (ex.ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, ex.eph, nullptr)) != nullptr &&
		     EVP_PKEY_derive_init(ex.ctx) == 1 &&
		     /* validates the recipient's point: on the curve, not small order */
		     EVP_PKEY_derive_set_peer_ex(ex.ctx, ex.peer, 1) == 1 &&
		     EVP_PKEY_derive(ex.ctx, shared, &shared_len) == 1 &&
		     ecdh_kdf(k.kdf_hash, shared, shared_len, param, pl, kek, kek_len);
	}

	if (ok) {
		EVP_CIPHER_CTX *c  = EVP_CIPHER_CTX_new();
		int             l1 = 0, l2 = 0;
		if (c != nullptr) {
			EVP_CIPHER_CTX_set_flags(c, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
			/* A NULL IV is the default initial value A6A6A6A6A6A6A6A6. */
			ok = EVP_EncryptInit_ex(c, wrap, nullptr, kek, nullptr) == 1 &&
			     EVP_EncryptUpdate(c, out->wrapped, &l1, m, static_cast<int>(m_len)) == 1 && l1 >= 0 &&
			     EVP_EncryptFinal_ex(c, out->wrapped + l1, &l2) == 1 && l2 >= 0 &&
			     static_cast<size_t>(l1) + static_cast<size_t>(l2) == m_len + kWrapBlock;
			EVP_CIPHER_CTX_free(c);
		} else {
			ok = false;
		}
		out->wrapped_len = ok ? m_len + kWrapBlock : 0;
	}
	OPENSSL_cleanse(m, sizeof(m));
	OPENSSL_cleanse(shared, sizeof(shared));
	OPENSSL_cleanse(kek, sizeof(kek));
	return ok;
}

} // namespace m::detail
