/* Signatures over keys, verified with OpenSSL's libcrypto.
 *
 * References: RFC 4880 5.2.2 (version-3 signatures), 5.2.3 (version 4 and
 * subpackets), 5.2.4 (the data a key signature hashes), 3.2 (MPIs), 9.4
 * (hash algorithm IDs); RFC 6637 9 (ECDSA key fields); the EdDSA form gpg
 * writes (algorithm 22); RFC 9580 5.5.5.10 and 5.2.3.4 (algorithm 27).
 * Which subpackets may be critical follows gpg 2.2, so that both judge a
 * signature alike.
 */
#include "pgp/pgp_sig_int.h"

#include <atomic>
#include <cstring>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include "pgp/pgp_ecdh_int.h"
#include "pgp/pgp_packet_int.h"

namespace {

using m::detail::pgp_sig;

std::atomic<uint64_t> g_verified{0};
std::atomic<uint64_t> g_failed{0};

using m::detail::get_be16;
using m::detail::get_be32;
using m::detail::kHashHeaderMax;
using m::detail::kLenFour;
using m::detail::kLenTwoFirst;
using m::detail::kPkDsa;
using m::detail::kPkEcdsa;
using m::detail::kPkEd25519;
using m::detail::kPkEddsa;
using m::detail::kPkRsa;
using m::detail::kPkRsaSign;
using m::detail::kTagPublicSubkey;
using m::detail::kTagUserAttr;
using m::detail::kTagUserId;
using m::detail::pgp_tag;
using m::detail::put_be32;
using m::detail::put_key_hash_header;
using m::detail::put_user_hash_header;
using m::detail::span_reader;
using m::detail::two_byte_length;

/* RSA, for signatures: the general and the sign-only id. */
bool is_rsa_alg(uint8_t alg)
{
	return alg == kPkRsa || alg == kPkRsaSign;
}

/* Subpacket types gpg 2.2 handles when marked critical: creation and
 * expiration times, exportable, trust, regular expression, revocable, key
 * expiration, preferences, revocation key, issuer, keyserver preferences and
 * server, primary user ID, policy, key flags, revocation reason, features,
 * embedded signature, issuer fingerprint. Notations (20) are not among them. */
constexpr uint64_t kCriticalKnown = 1ull << 2 | 1ull << 3 | 1ull << 4 | 1ull << 5 | 1ull << 6 | 1ull << 7 | 1ull << 9 |
                                    1ull << 11 | 1ull << 12 | 1ull << 16 | 1ull << 21 | 1ull << 22 | 1ull << 24 |
                                    1ull << 25 | 1ull << 26 | 1ull << 27 | 1ull << 29 | 1ull << 30 | 1ull << 32 |
                                    1ull << 33;

/* Key flags to uses, as gpg reads them: the first byte's known bits; any
 * other bit set, in it or a later byte, is an unknown use. */
unsigned usage_from_flags(const unsigned char *data, size_t len)
{
	if (len == 0)
		return m::detail::kPgpUseNone;
	unsigned       use   = 0;
	const unsigned flags = data[0];
	use |= (flags & 0x01) ? m::detail::kPgpUseCert : 0;
	use |= (flags & 0x02) ? m::detail::kPgpUseSign : 0;
	use |= (flags & 0x0c) ? m::detail::kPgpUseEncrypt : 0;
	use |= (flags & 0x20) ? m::detail::kPgpUseAuth : 0;
	bool unknown = (flags & ~0x2fu) != 0;
	for (size_t i = 1; i < len; i++)
		unknown = unknown || data[i] != 0;
	use |= unknown ? m::detail::kPgpUseUnknown : 0;
	return use != 0 ? use : m::detail::kPgpUseNone;
}

/* One subpacket of a signature: what the key judgements use. The first
 * subpacket of a type counts (the hashed area is read first). */
void take_subpacket(unsigned type, const unsigned char *data, size_t dlen, bool hashed, pgp_sig *sig, uint32_t *seen)
{
	const uint32_t bit   = type < 32 ? 1u << type : 0;
	const bool     first = (*seen & bit) == 0;
	*seen |= bit;
	if (type == 16 && dlen == 8 && !sig->has_issuer) {
		std::memcpy(sig->issuer, data, 8);
		sig->has_issuer = true;
	}
	if (!hashed || !first)
		return;
	if (type == 2 && dlen == 4)
		sig->created = get_be32(data);
	else if (type == 3 && dlen == 4)
		sig->sig_expire = get_be32(data);
	else if (type == 9 && dlen == 4)
		sig->key_expire = get_be32(data);
	else if (type == 25 && dlen >= 1)
		sig->primary_uid = data[0] != 0;
	else if (type == 27)
		sig->usage = usage_from_flags(data, dlen);
}

/* Reads one subpacket area; false when a subpacket runs past it. */
bool read_area(const unsigned char *p, size_t len, bool hashed, pgp_sig *sig, uint32_t *seen, const unsigned char **fpr)
{
	size_t pos = 0;
	while (pos < len) {
		size_t sub_len = p[pos++];
		if (sub_len >= kLenTwoFirst && sub_len < kLenFour) {
			if (pos >= len)
				return false;
			sub_len = two_byte_length(static_cast<unsigned>(sub_len), p[pos++]);
		} else if (sub_len == kLenFour) {
			if (len - pos < 4)
				return false;
			sub_len = get_be32(p + pos);
			pos += 4;
		}
		/* The length counts the type byte. */
		if (sub_len == 0 || sub_len > len - pos)
			return false;
		const unsigned type = p[pos] & 0x7f;
		if ((p[pos] & 0x80) != 0 && (type >= 64 || (kCriticalKnown >> type & 1) == 0))
			sig->unknown_critical = true;
		if (type == 33 && sub_len == 22 && p[pos + 1] == 4 && *fpr == nullptr)
			*fpr = p + pos + 2;
		take_subpacket(type, p + pos + 1, sub_len - 1, hashed, sig, seen);
		pos += sub_len;
	}
	return true;
}

/* Version 3 (and 2): version, 5, type, creation time, issuer, algorithms,
 * hash prefix, numbers. */
bool parse_v3(const unsigned char *p, size_t len, pgp_sig *sig)
{
	if (len < 19 || p[1] != 5)
		return false;
	sig->version     = 3;
	sig->type        = p[2];
	sig->trailer     = p + 2;
	sig->trailer_len = 5;
	sig->created     = get_be32(p + 3);
	std::memcpy(sig->issuer, p + 7, 8);
	sig->has_issuer  = true;
	sig->pk_alg      = p[15];
	sig->hash_alg    = p[16];
	sig->prefix[0]   = p[17];
	sig->prefix[1]   = p[18];
	sig->numbers     = p + 19;
	sig->numbers_len = len - 19;
	return true;
}

/* Version 4: version, type, algorithms, hashed area, unhashed area, hash
 * prefix, numbers. The issuer comes from an issuer subpacket, else from the
 * last 8 bytes of a version-4 issuer fingerprint. */
bool parse_v4(const unsigned char *p, size_t len, pgp_sig *sig)
{
	if (len < 6)
		return false;
	const size_t hashed_len = get_be16(p + 4);
	if (hashed_len > len - 6 || len - 6 - hashed_len < 2)
		return false;
	const size_t unhashed_at  = 6 + hashed_len;
	const size_t unhashed_len = get_be16(p + unhashed_at);
	const size_t prefix_at    = unhashed_at + 2 + unhashed_len;
	if (unhashed_len > len - unhashed_at - 2 || len - prefix_at < 2)
		return false;
	sig->version              = 4;
	sig->type                 = p[1];
	sig->pk_alg               = p[2];
	sig->hash_alg             = p[3];
	sig->trailer              = p;
	sig->trailer_len          = unhashed_at;
	sig->prefix[0]            = p[prefix_at];
	sig->prefix[1]            = p[prefix_at + 1];
	sig->numbers              = p + prefix_at + 2;
	sig->numbers_len          = len - prefix_at - 2;
	uint32_t             seen = 0;
	const unsigned char *fpr  = nullptr;
	if (!read_area(p + 6, hashed_len, true, sig, &seen, &fpr) ||
	    !read_area(p + unhashed_at + 2, unhashed_len, false, sig, &seen, &fpr))
		return false;
	if (!sig->has_issuer && fpr != nullptr) {
		std::memcpy(sig->issuer, fpr + 12, 8);
		sig->has_issuer = true;
	}
	return true;
}

/* ---- The signer's key ---- */

/* Builds a public key of the given OpenSSL type from its parameters. */
EVP_PKEY *pkey_from_params(const char *type, OSSL_PARAM_BLD *bld)
{
	OSSL_PARAM   *params = bld != nullptr ? OSSL_PARAM_BLD_to_param(bld) : nullptr;
	EVP_PKEY_CTX *ctx    = params != nullptr ? EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr) : nullptr;
	EVP_PKEY     *pkey   = nullptr;
	if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx) != 1 ||
	    EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_PUBLIC_KEY, params) != 1)
		pkey = nullptr;
	EVP_PKEY_CTX_free(ctx);
	OSSL_PARAM_free(params);
	return pkey;
}

/* RSA (n, e) or DSA (p, q, g, y) from MPIs. */
m::detail::signer_status integer_key(m::detail::sig_signer *s, span_reader &r)
{
	static const char *const rsa[]  = {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E};
	static const char *const dsa[]  = {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G,
	                                   OSSL_PKEY_PARAM_PUB_KEY};
	const bool               is_rsa = s->alg != kPkDsa;
	const char *const       *names  = is_rsa ? rsa : dsa;
	const size_t             count  = is_rsa ? 2 : 4;
	OSSL_PARAM_BLD          *bld    = OSSL_PARAM_BLD_new();
	BIGNUM                  *nums[4]{};
	bool                     ok = bld != nullptr;
	for (size_t i = 0; ok && i < count; i++) {
		const unsigned char *v   = nullptr;
		size_t               len = 0;
		ok = r.mpi(&v, &len) && len != 0 && (nums[i] = BN_bin2bn(v, (int)len, nullptr)) != nullptr &&
		     OSSL_PARAM_BLD_push_BN(bld, names[i], nums[i]) == 1;
		if (ok && i == 0 && is_rsa)
			s->rsa_len = (size_t)BN_num_bytes(nums[0]);
	}
	if (ok)
		s->pkey = pkey_from_params(is_rsa ? "RSA" : "DSA", bld);
	OSSL_PARAM_BLD_free(bld);
	for (BIGNUM *b : nums)
		BN_free(b);
	if (!ok)
		return m::detail::signer_status::unreadable;
	return s->pkey != nullptr ? m::detail::signer_status::ok : m::detail::signer_status::unsupported;
}

/* An Ed25519 key of 32 bytes, refused when its point is degenerate. */
m::detail::signer_status ed25519_key(m::detail::sig_signer *s, const unsigned char *pt)
{
	if ((s->problem = m::detail::ed25519_point_problem(pt)) != nullptr)
		return m::detail::signer_status::degenerate;
	s->pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, pt, 32);
	return s->pkey != nullptr ? m::detail::signer_status::ok : m::detail::signer_status::unsupported;
}

/* ECDSA or EdDSA: curve OID, then the point as an MPI. */
m::detail::signer_status curve_key(m::detail::sig_signer *s, span_reader &r)
{
	const unsigned char *oid_len = nullptr, *oid = nullptr, *pt = nullptr;
	size_t               pt_len = 0;
	if (!r.take(1, &oid_len) || *oid_len == 0 || *oid_len == 0xff || !r.take(*oid_len, &oid) || !r.mpi(&pt, &pt_len))
		return m::detail::signer_status::unreadable;
	const m::detail::curve_info *curve = m::detail::curve_by_oid(oid, *oid_len);
	if (curve == nullptr || !curve->sign || (curve->curve == m::detail::PGP_CURVE_ED25519) != (s->alg == kPkEddsa))
		return m::detail::signer_status::unsupported;
	if (curve->group == nullptr) {
		if (pt_len != 33 || pt[0] != 0x40)
			return m::detail::signer_status::unreadable;
		return ed25519_key(s, pt + 1);
	}
	OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
	if (bld != nullptr && OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, curve->group, 0) == 1 &&
	    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pt, pt_len) == 1)
		s->pkey = pkey_from_params("EC", bld);
	OSSL_PARAM_BLD_free(bld);
	if ((s->problem = m::detail::ec_point_problem(s->pkey, pt, pt_len)) != nullptr) {
		EVP_PKEY_free(s->pkey);
		s->pkey = nullptr;
		return m::detail::signer_status::degenerate;
	}
	return m::detail::signer_status::ok;
}

/* ---- Verification ---- */

/* The hash of RFC 4880 5.2.4: the primary key, the subject, the trailer. */
bool hash_signed_data(const EVP_MD *md, const unsigned char *key_body, size_t key_len,
                      const m::detail::sig_subject &subj, const pgp_sig &sig, unsigned char *digest,
                      unsigned int *digest_len)
{
	unsigned char subj_hdr[kHashHeaderMax];
	size_t        subj_hdr_len = 0;
	if (subj.tag == kTagPublicSubkey)
		subj_hdr_len = put_key_hash_header(subj_hdr, subj.len);
	else if ((subj.tag == kTagUserId || subj.tag == kTagUserAttr) && sig.version == 4)
		subj_hdr_len = put_user_hash_header(subj_hdr, static_cast<pgp_tag>(subj.tag), subj.len);
	/* Version 3 signatures hash a user ID without a header; version 4 ones
	 * end in their version, 0xFF and the trailer's length. */
	unsigned char v4_tail[6] = {4, 0xff};
	put_be32(v4_tail + 2, static_cast<uint32_t>(sig.trailer_len));
	EVP_MD_CTX *ctx = EVP_MD_CTX_new();
	bool        ok  = ctx != nullptr && EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
	          m::detail::digest_key(ctx, key_body, key_len) && EVP_DigestUpdate(ctx, subj_hdr, subj_hdr_len) == 1 &&
	          (subj.tag == 0 || EVP_DigestUpdate(ctx, subj.body, subj.len) == 1) &&
	          EVP_DigestUpdate(ctx, sig.trailer, sig.trailer_len) == 1 &&
	          (sig.version != 4 || EVP_DigestUpdate(ctx, v4_tail, sizeof(v4_tail)) == 1) &&
	          EVP_DigestFinal_ex(ctx, digest, digest_len) == 1;
	EVP_MD_CTX_free(ctx);
	return ok;
}

/* r and s as the DER sequence DSA and ECDSA verifiers take. */
bool der_pair(span_reader &r, unsigned char **der, int *der_len)
{
	const unsigned char *rv = nullptr, *sv = nullptr;
	size_t               rl = 0, sl = 0;
	if (!r.mpi(&rv, &rl) || !r.mpi(&sv, &sl))
		return false;
	ECDSA_SIG *pair = ECDSA_SIG_new();
	BIGNUM    *bn_r = BN_bin2bn(rv, (int)rl, nullptr);
	BIGNUM    *bn_s = BN_bin2bn(sv, (int)sl, nullptr);
	if (pair == nullptr || bn_r == nullptr || bn_s == nullptr || ECDSA_SIG_set0(pair, bn_r, bn_s) != 1) {
		BN_free(bn_r);
		BN_free(bn_s);
		ECDSA_SIG_free(pair);
		return false;
	}
	*der     = nullptr;
	*der_len = i2d_ECDSA_SIG(pair, der);
	ECDSA_SIG_free(pair);
	return *der_len > 0;
}

/* Ed25519's 64-byte R || S: algorithm 22 as two MPIs of up to 32 bytes
 * each, algorithm 27 as the native 64 bytes. */
bool ed25519_sig(uint8_t alg, span_reader &r, unsigned char out[64])
{
	const unsigned char *v = nullptr;
	if (alg == kPkEd25519) {
		if (r.left != 64 || !r.take(64, &v))
			return false;
		std::memcpy(out, v, 64);
		return true;
	}
	std::memset(out, 0, 64);
	for (size_t half = 0; half < 2; half++) {
		size_t len = 0;
		if (!r.number(&v, &len) || len > 32)
			return false;
		std::memcpy(out + 32 * half + 32 - len, v, len);
	}
	return true;
}

/* The numbers of sig against the digest, by the signer's algorithm. */
bool verify_numbers(const m::detail::sig_signer &s, const EVP_MD *md, const pgp_sig &sig, const unsigned char *digest,
                    size_t digest_len)
{
	span_reader r{sig.numbers, sig.numbers_len};
	if (s.alg == kPkEddsa || s.alg == kPkEd25519) {
		unsigned char rs[64];
		EVP_MD_CTX   *ctx = EVP_MD_CTX_new();
		const bool    ok  = ed25519_sig(s.alg, r, rs) && ctx != nullptr &&
		                EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, s.pkey) == 1 &&
		                EVP_DigestVerify(ctx, rs, sizeof(rs), digest, digest_len) == 1;
		EVP_MD_CTX_free(ctx);
		return ok;
	}
	unsigned char       *der     = nullptr;
	int                  der_len = 0;
	unsigned char       *padded  = nullptr;
	const bool           is_rsa  = is_rsa_alg(s.alg);
	EVP_PKEY_CTX        *ctx     = EVP_PKEY_CTX_new_from_pkey(nullptr, s.pkey, nullptr);
	bool                 ok      = ctx != nullptr && EVP_PKEY_verify_init(ctx) == 1;
	const unsigned char *in      = nullptr;
	size_t               in_len  = 0;
	if (ok && is_rsa) {
		/* The number is padded (or cut of its zero bytes) to the modulus's
		 * length, which the verifier wants. */
		ok = r.number(&in, &in_len) && in_len <= s.rsa_len &&
		     (padded = static_cast<unsigned char *>(OPENSSL_zalloc(s.rsa_len))) != nullptr &&
		     EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, md) == 1;
		if (ok)
			std::memcpy(padded + s.rsa_len - in_len, in, in_len);
		in     = padded;
		in_len = s.rsa_len;
	} else if (ok) {
		ok     = der_pair(r, &der, &der_len);
		in     = der;
		in_len = (size_t)der_len;
	}
	ok = ok && EVP_PKEY_verify(ctx, in, in_len, digest, digest_len) == 1;
	OPENSSL_free(der);
	OPENSSL_free(padded);
	EVP_PKEY_CTX_free(ctx);
	return ok;
}

/* Which signature algorithm a key of each algorithm makes. */
bool same_algorithm(uint8_t key_alg, uint8_t sig_alg)
{
	return is_rsa_alg(key_alg) ? is_rsa_alg(sig_alg) : key_alg == sig_alg;
}

bool verify_uncounted(const m::detail::sig_signer &s, const unsigned char *key_body, size_t key_len,
                      const m::detail::sig_subject &subj, const pgp_sig &sig, int64_t now)
{
	/* gpg: a signature older than its key, or by a key made in the
	 * future, is a time conflict and does not verify. */
	if (s.pkey == nullptr || sig.created < s.created || s.created > now || !same_algorithm(s.alg, sig.pk_alg))
		return false;
	const EVP_MD *md = m::detail::hash_by_id(sig.hash_alg);
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int  digest_len = 0;
	if (md == nullptr || !hash_signed_data(md, key_body, key_len, subj, sig, digest, &digest_len))
		return false;
	/* The two-byte hash prefix is not signed and, as for gpg 2.2, decides
	 * nothing: the numbers do. */
	return verify_numbers(s, md, sig, digest, digest_len);
}

} // namespace

namespace m::detail {

bool sig_parse(const unsigned char *body, size_t len, pgp_sig *sig) noexcept
{
	*sig = pgp_sig{};
	if (len < 1)
		return false;
	if (body[0] == 2 || body[0] == 3)
		return parse_v3(body, len, sig);
	return body[0] == 4 && parse_v4(body, len, sig);
}

signer_status sig_signer_init(sig_signer *signer, const unsigned char *body, size_t len) noexcept
{
	if (len < 6 || body[0] != 4)
		return signer_status::unreadable;
	signer->created = get_be32(body + 1);
	signer->alg     = body[5];
	span_reader r{body + 6, len - 6};
	switch (signer->alg) {
		case kPkRsa:
		case kPkRsaSign:
		case kPkDsa:
			return integer_key(signer, r);
		case kPkEcdsa:
		case kPkEddsa:
			return curve_key(signer, r);
		case kPkEd25519: {
			const unsigned char *raw = nullptr;
			if (!r.take(32, &raw))
				return signer_status::unreadable;
			return ed25519_key(signer, raw);
		}
		default:
			return signer_status::unsupported;
	}
}

bool sig_prefix_matches(const unsigned char *key_body, size_t key_len, const sig_subject &subject,
                        const pgp_sig &sig) noexcept
{
	const EVP_MD *md = m::detail::hash_by_id(sig.hash_alg);
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int  digest_len = 0;
	return md != nullptr && hash_signed_data(md, key_body, key_len, subject, sig, digest, &digest_len) &&
	       digest_len >= 2 && digest[0] == sig.prefix[0] && digest[1] == sig.prefix[1];
}

bool sig_verify(const sig_signer &signer, const unsigned char *key_body, size_t key_len, const sig_subject &subject,
                const pgp_sig &sig, int64_t now) noexcept
{
	const bool ok = verify_uncounted(signer, key_body, key_len, subject, sig, now);
	(ok ? g_verified : g_failed).fetch_add(1, std::memory_order_relaxed);
	return ok;
}

void sig_counts(uint64_t *verified, uint64_t *failed) noexcept
{
	if (verified != nullptr)
		*verified = g_verified.load(std::memory_order_relaxed);
	if (failed != nullptr)
		*failed = g_failed.load(std::memory_order_relaxed);
}

} // namespace m::detail
