/* The session key packet: a fresh key, encrypted to RSA, Elgamal or ECDH
 * (see pgp_session_int.h). */
#include "pgp/pgp_session_int.h"

#include <cstdint>
#include <cstring>

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "core/m_mem.h"
#include "pgp/pgp_ecdh_int.h"
#include "pgp/pgp_pubkey_int.h"

namespace {

using m::detail::kMaxKeySize;

constexpr unsigned char kPkeskVersion = 3;

/* Session key block around the key: algorithm id and 2-byte checksum. */
constexpr size_t kSkbOverhead = 3;
/* PKCS#1 v1.5: 0x00 0x02, at least 8 non-zero padding bytes, 0x00. */
constexpr size_t kPkcs1Overhead = 11;
/* Elgamal exponent draws before giving up on a malformed prime. */
constexpr unsigned kElgamalMaxDraws = 1000;

/* The packet's header and the fields before the encrypted key: version 3,
 * the key's ID, the algorithm; rest_len bytes follow. */
[[nodiscard]] bool add_pkesk_head(M_buf_t *out, const M_pgp_pubkey_t *key, unsigned char alg, size_t rest_len)
{
	const size_t body = 1 + sizeof(key->key_id) + 1 + rest_len;
	if (body > UINT32_MAX)
		return false;
	unsigned char hdr[m::detail::kOldHeaderLen];
	m::detail::put_old_header(hdr, m::detail::kTagPkesk, static_cast<uint32_t>(body));
	M_buf_add_bytes(out, hdr, sizeof(hdr));
	M_buf_add_byte(out, kPkeskVersion);
	M_buf_add_bytes(out, key->key_id, sizeof(key->key_id));
	M_buf_add_byte(out, alg);
	return true;
}

/* Opens a direct-write window of at least len bytes, or nullptr. */
unsigned char *reserve(M_buf_t *buf, size_t len)
{
	size_t         room = len;
	unsigned char *p    = M_buf_direct_write_start(buf, &room);
	if (p == nullptr || room < len)
		return nullptr;
	return p;
}

/* Big numbers and the context of one session key encryption, released with
 * their clearing forms on every path. */
struct bn_set {
	BN_CTX *ctx = nullptr;
	BIGNUM *m   = nullptr; /* the encoded session key block */
	BIGNUM *c   = nullptr; /* RSA: c. Elgamal: a */
	BIGNUM *b   = nullptr; /* Elgamal: b */
	BIGNUM *x   = nullptr; /* Elgamal: the random exponent */
	BIGNUM *pm1 = nullptr; /* Elgamal: p - 1 */
	BIGNUM *gcd = nullptr; /* Elgamal: gcd(x, p - 1) */
	BIGNUM *t   = nullptr; /* Elgamal: y^x mod p */

	bn_set()                          = default;
	bn_set(const bn_set &)            = delete;
	bn_set &operator=(const bn_set &) = delete;
	~bn_set()
	{
		BN_clear_free(m);
		BN_clear_free(c);
		BN_clear_free(b);
		BN_clear_free(x);
		BN_clear_free(pm1);
		BN_clear_free(gcd);
		BN_clear_free(t);
		BN_CTX_free(ctx);
	}
};

/* Appends an MPI: bit count, then the number's bytes without leading zeros. */
[[nodiscard]] bool add_mpi(M_buf_t *out, const BIGNUM *bn)
{
	const int    bits   = BN_num_bits(bn);
	const size_t nbytes = static_cast<size_t>(BN_num_bytes(bn));
	if (bits < 0 || bits > 0xffff)
		return false;
	if (!M_buf_add_uintbin(out, static_cast<uint64_t>(bits), 2, M_FALSE))
		return false;
	if (nbytes == 0)
		return true;
	unsigned char *dst = reserve(out, nbytes);
	if (dst == nullptr || BN_bn2bin(bn, dst) != static_cast<int>(nbytes))
		return false;
	M_buf_direct_write_end(out, nbytes);
	return true;
}

size_t mpi_len(const BIGNUM *bn)
{
	return 2 + static_cast<size_t>(BN_num_bytes(bn));
}

/* The session key packet of an ECDH key (RFC 6637 section 10): version 3,
 * key ID, algorithm 18, the ephemeral point as an MPI, then the wrapped
 * session key block after a one-byte length. */
[[nodiscard]] bool write_ecdh_session_key_packet(M_buf_t *out, const M_pgp_pubkey_t *key, const unsigned char *skb,
                                                 size_t skb_len)
{
	m::detail::load_providers();
	m::detail::ecdh_wrapped w;
	if (!m::detail::ecdh_wrap_session_key(key, skb, skb_len, &w) || w.ephemeral_len == 0 || w.wrapped_len > 0xff)
		return false;
	/* The point's bit count leaves out the leading zero bits of its first
     * byte (0x40 or 0x04). */
	unsigned bits = static_cast<unsigned>(w.ephemeral_len) * 8;
	for (unsigned char top = w.ephemeral[0]; top != 0 && !(top & 0x80); top = static_cast<unsigned char>(top << 1))
		bits--;
	if (!add_pkesk_head(out, key, m::detail::kPkEcdh, 2 + w.ephemeral_len + 1 + w.wrapped_len))
		return false;
	M_buf_add_byte(out, static_cast<unsigned char>(bits >> 8));
	M_buf_add_byte(out, static_cast<unsigned char>(bits & 0xff));
	M_buf_add_bytes(out, w.ephemeral, w.ephemeral_len);
	M_buf_add_byte(out, static_cast<unsigned char>(w.wrapped_len));
	M_buf_add_bytes(out, w.wrapped, w.wrapped_len);
	return true;
}

/* EME-PKCS1-v1_5 encoding of the session key block into k bytes (00 02,
 * non-zero random padding, 00, the block), as a number: free with
 * BN_clear_free. NULL on failure. */
[[nodiscard]] BIGNUM *eme_pkcs1_encode(size_t k, const unsigned char *skb, size_t skb_len)
{
	unsigned char *em = static_cast<unsigned char *>(M_malloc(k));
	if (em == nullptr)
		return nullptr;
	const size_t pad_len = k - skb_len - 3;
	em[0]                = 0x00;
	em[1]                = 0x02;
	for (size_t i = 0; i < pad_len; i++) {
		unsigned char r = 0;
		do {
			if (RAND_bytes(&r, 1) != 1) {
				M_free(em);
				return nullptr;
			}
		} while (r == 0);
		em[2 + i] = r;
	}
	em[2 + pad_len] = 0x00;
	std::memcpy(em + 3 + pad_len, skb, skb_len);
	BIGNUM *m = BN_bin2bn(em, static_cast<int>(k), nullptr);
	M_free(em); /* wiped by M_free */
	return m;
}

/* RSA: c = m^e mod n. */
[[nodiscard]] bool rsa_encrypt(bn_set &bn, const M_pgp_pubkey_t *key)
{
	bn.c = BN_new();
	return bn.c != nullptr && BN_mod_exp(bn.c, bn.m, key->e_g, key->n_p, bn.ctx) == 1;
}

/* The Elgamal random exponent x: xbits bits, the top one set, coprime to
 * p - 1. False when a call fails or no draw is coprime (a malformed prime). */
[[nodiscard]] bool draw_elgamal_exponent(bn_set &bn, const M_pgp_pubkey_t *key, int xbits)
{
	bn.x   = BN_new();
	bn.pm1 = BN_new();
	bn.gcd = BN_new();
	if (bn.x == nullptr || bn.pm1 == nullptr || bn.gcd == nullptr || BN_sub(bn.pm1, key->n_p, BN_value_one()) != 1)
		return false;
	unsigned draws = 0;
	for (;;) {
		if (++draws > kElgamalMaxDraws)
			return false;
		if (BN_rand(bn.x, xbits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1 || BN_gcd(bn.gcd, bn.x, bn.pm1, bn.ctx) != 1)
			return false;
		if (BN_is_one(bn.gcd))
			return true;
	}
}

/* Elgamal: a = g^x mod p (into c), b = y^x * m mod p, with x drawn for a
 * prime of modbits bits. */
[[nodiscard]] bool elgamal_encrypt(bn_set &bn, const M_pgp_pubkey_t *key, int modbits)
{
	if (!draw_elgamal_exponent(bn, key, m::detail::elgamal_exp_bits(modbits)))
		return false;
	/* x is secret: keep the exponentiations constant-time. */
	BN_set_flags(bn.x, BN_FLG_CONSTTIME);
	bn.c = BN_new();
	bn.b = BN_new();
	bn.t = BN_new();
	return bn.c != nullptr && bn.b != nullptr && bn.t != nullptr &&
	       BN_mod_exp(bn.c, key->e_g, bn.x, key->n_p, bn.ctx) == 1 &&
	       BN_mod_exp(bn.t, key->y, bn.x, key->n_p, bn.ctx) == 1 && BN_mod_mul(bn.b, bn.t, bn.m, key->n_p, bn.ctx) == 1;
}

/* The packet of an RSA or Elgamal key: version 3, key ID, algorithm, then
 * the MPIs (RSA: c; Elgamal: a, b). */
[[nodiscard]] bool add_pkesk(M_buf_t *out, const M_pgp_pubkey_t *key, const bn_set &bn, bool is_rsa)
{
	const size_t numbers = mpi_len(bn.c) + (is_rsa ? 0 : mpi_len(bn.b));
	if (!add_pkesk_head(out, key, is_rsa ? m::detail::kPkRsa : m::detail::kPkElgamal, numbers))
		return false;
	if (!add_mpi(out, bn.c))
		return false;
	if (!is_rsa && !add_mpi(out, bn.b))
		return false;
	return true;
}

/* Encrypt the session key block to the key and append the
 * public-key encrypted session key packet to out. */
[[nodiscard]] bool write_session_key_packet(M_buf_t *out, const M_pgp_pubkey_t *key, const unsigned char *skb,
                                            size_t skb_len)
{
	if (key->type == M_PGP_PUBKEY_TYPE_ECDH)
		return write_ecdh_session_key_packet(out, key, skb, skb_len);
	if (key->type != M_PGP_PUBKEY_TYPE_RSA && key->type != M_PGP_PUBKEY_TYPE_ELGAMAL)
		return false;
	const bool is_rsa = key->type == M_PGP_PUBKEY_TYPE_RSA;
	if (key->n_p == nullptr || key->e_g == nullptr || (!is_rsa && key->y == nullptr))
		return false;

	const int    modbits = BN_num_bits(key->n_p);
	const size_t k       = static_cast<size_t>(modbits + 7) / 8;
	if (k < kPkcs1Overhead || k - kPkcs1Overhead < skb_len)
		return false;

	bn_set bn;
	bn.m = eme_pkcs1_encode(k, skb, skb_len);
	if (bn.m == nullptr)
		return false;
	bn.ctx = BN_CTX_new();
	if (bn.ctx == nullptr || !(is_rsa ? rsa_encrypt(bn, key) : elgamal_encrypt(bn, key, modbits)))
		return false;
	return add_pkesk(out, key, bn, is_rsa);
}

} // namespace

namespace m::detail {

bool write_session_key(M_buf_t *out, const M_pgp_pubkey_t *key, const sym_cipher *cipher,
                       unsigned char *session_key) noexcept
{
	const size_t  key_size = cipher->key_size;
	unsigned char skb[1 + kMaxKeySize + 2];
	static_assert(sizeof(skb) == kMaxKeySize + kSkbOverhead, "session key block layout");
	bool ok = RAND_bytes(skb + 1, static_cast<int>(key_size)) == 1;
	if (ok) {
		unsigned sum = 0;
		for (size_t i = 0; i < key_size; i++)
			sum += skb[1 + i];
		skb[0]                = cipher->id;
		skb[1 + key_size]     = static_cast<unsigned char>((sum >> 8) & 0xff);
		skb[1 + key_size + 1] = static_cast<unsigned char>(sum & 0xff);
		std::memcpy(session_key, skb + 1, key_size);
		ok = write_session_key_packet(out, key, skb, key_size + kSkbOverhead);
	}
	OPENSSL_cleanse(skb, sizeof(skb));
	return ok;
}

} // namespace m::detail
