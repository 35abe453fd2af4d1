/* OpenPGP message encryption.
 *
 * References: RFC 4880 section 4.2.1 (old-format packet headers), 5.1
 * (public-key encrypted session key packet, version 3), 5.6 (compressed data
 * packet), 5.7 (symmetrically encrypted data packet), 5.9 (literal data
 * packet), 5.13 and 5.14 (integrity protected data packet and its
 * modification detection code), 4.2.2 (new-format packet lengths), 13.9
 * (OpenPGP CFB mode), 13.1 (EME-PKCS1-v1_5, the same encoding
 * as RFC 8017 section 7.2.1) and 5.5.2 / 13.5 of RFC 4880 for the Elgamal
 * session key encryption.
 *
 * The message is built in out in one pass and the caller's data is never
 * copied: the session key packet first, then the data packet, inside which
 * the compressed packet is made straight from the data in its final place and
 * encrypted where it lies. For tables of hundreds of megabytes this spares a
 * copy of the table (the literal packet), a buffer for the compressed packet,
 * and the page faults and wipes of both.
 */
#include "pgp/pgp_encrypt.h"

#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <libdeflate.h>
#include <zlib.h>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "sys/m_thread.h"
#include "pgp/pgp_ecdh_int.h"
#include "pgp/pgp_encrypt_int.h"
#include "pgp/pgp_packet_int.h"
#include "pgp/pgp_pubkey_int.h"

namespace {

using m::detail::kMaxBlockSize;
using m::detail::kMaxKeySize;
using m::detail::put_be32;
using symalg_row = m::detail::sym_cipher;

const symalg_row *symalg_row_lookup(M_pgp_symalg_t symalg)
{
	return m::detail::cipher_by_symalg(symalg);
}

/* One OpenPGP CFB stream under one key from one IV. Bytes fed through
 * update() in any number of calls come out as one call over all of them
 * would give them: OpenSSL's CFB keeps its place inside a block between
 * calls, so pieces need not end on block boundaries. */
class cfb_stream {
  public:
	cfb_stream()                              = default;
	cfb_stream(const cfb_stream &)            = delete;
	cfb_stream &operator=(const cfb_stream &) = delete;
	~cfb_stream()
	{
		EVP_CIPHER_CTX_free(ctx_); /* clears the key schedule */
	}

	/* Starts the stream; false on a NULL key or iv, an unknown selector, a
     * cipher the crypto library cannot provide, or a failed cipher call. */
	[[nodiscard]] bool start(M_pgp_symalg_t symalg, const unsigned char *key, const unsigned char *iv)
	{
		const symalg_row *row = symalg_row_lookup(symalg);
		if (row == nullptr || key == nullptr || iv == nullptr || ctx_ != nullptr)
			return false;
		const EVP_CIPHER *cipher = m::detail::evp_of(row->cfb);
		if (cipher == nullptr)
			return false;
		ctx_ = EVP_CIPHER_CTX_new();
		return ctx_ != nullptr && EVP_EncryptInit_ex(ctx_, cipher, nullptr, nullptr, nullptr) == 1 &&
		       EVP_CIPHER_CTX_set_key_length(ctx_, static_cast<int>(row->key_size)) == 1 &&
		       EVP_EncryptInit_ex(ctx_, nullptr, nullptr, key, iv) == 1 && EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
	}

	/* Encrypts len bytes of in to out (which may be the same bytes). The
     * cipher takes an int count: long inputs go in slices of the stream. */
	[[nodiscard]] bool update(unsigned char *out, const unsigned char *in, size_t len)
	{
		constexpr size_t kSlice = static_cast<size_t>(1) << 30;
		static_assert(kSlice <= INT_MAX, "slice fits the cipher's count");
		if (ctx_ == nullptr)
			return false;
		for (size_t done = 0; done < len;) {
			const size_t chunk = (len - done < kSlice) ? len - done : kSlice;
			int          outl  = 0;
			if (EVP_EncryptUpdate(ctx_, out + done, &outl, in + done, static_cast<int>(chunk)) != 1 || outl < 0 ||
			    static_cast<size_t>(outl) != chunk)
				return false;
			done += chunk;
		}
		return true;
	}

	/* Ends the stream; a CFB stream has nothing left over, but whatever the
     * cipher hands back goes to tail and its count to tail_len. */
	[[nodiscard]] bool finish(unsigned char *tail, size_t &tail_len)
	{
		int finl = 0;
		if (ctx_ == nullptr || EVP_EncryptFinal_ex(ctx_, tail, &finl) != 1 || finl < 0)
			return false;
		tail_len = static_cast<size_t>(finl);
		return true;
	}

  private:
	EVP_CIPHER_CTX *ctx_ = nullptr;
};

/* Packet headers: old format (RFC 4880 4.2.1), length type 2 (4 bytes). */
constexpr unsigned char old_header(unsigned tag)
{
	return static_cast<unsigned char>(0x80 | (tag << 2) | 2);
}
constexpr unsigned char kHdrPkesk      = old_header(1);
constexpr unsigned char kHdrSymenc     = old_header(9);
constexpr unsigned char kHdrCompressed = old_header(8);
constexpr unsigned char kHdrLiteral    = old_header(11);
static_assert(kHdrPkesk == 0x86 && kHdrSymenc == 0xA6 && kHdrCompressed == 0xA2 && kHdrLiteral == 0xAE,
              "old-format headers with 4-byte lengths");
constexpr size_t kHdrLen = 5;

/* The integrity protected data packet has only a new-format header (RFC 4880
 * 4.2.2: 0xC0 | tag, then a one-, two- or five-byte length). */
constexpr unsigned char kHdrSeipd     = 0xC0 | 18;
constexpr unsigned char kSeipdVersion = 1;
/* The modification detection code packet: new-format tag 19, length 20. */
constexpr unsigned char kMdcHead[2]   = {0xC0 | 19, 20};
constexpr size_t        kSha1Len      = 20;
constexpr size_t        kMdcPacketLen = sizeof(kMdcHead) + kSha1Len;
static_assert(kHdrSeipd == 0xD2 && kMdcHead[0] == 0xD3 && kMdcHead[1] == 0x14 && kMdcPacketLen == 22,
              "tag 18 header, tag 19 packet of 22 bytes");
/* The most a new-format length takes: 0xFF and four bytes. */
constexpr size_t kNewLenMax = 5;

constexpr unsigned char kCompressAlgZlib  = 2;
constexpr unsigned char kLiteralFmtBinary = 'b';
constexpr unsigned char kPkeskVersion     = 3;
constexpr unsigned char kPgpAlgRsa        = m::detail::kPkRsa;
constexpr unsigned char kPgpAlgElgamal    = m::detail::kPkElgamal;
constexpr unsigned char kPgpAlgEcdh       = m::detail::kPkEcdh;

/* Literal packet body before the data: format, name length 0, date 0. */
constexpr size_t kLiteralPrefixLen = 6;
/* Compressed packet body before the stream: the algorithm byte. */
constexpr size_t kCompressedPrefixLen = 1;
/* Session key block around the key: algorithm id and 2-byte checksum. */
constexpr size_t kSkbOverhead = 3;
/* PKCS#1 v1.5: 0x00 0x02, at least 8 non-zero padding bytes, 0x00. */
constexpr size_t kPkcs1Overhead = 11;
/* Elgamal exponent draws before giving up on a malformed prime. */
constexpr unsigned kElgamalMaxDraws = 1000;

constexpr uint64_t kUint32Limit = 0xFFFFFFFFu;

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

/* Size in bits of the Elgamal random exponent for a prime of pbits bits. */
constexpr int elgamal_exp_bits(int pbits)
{
	if (pbits <= 5119)
		return pbits / 10 + 160;
	return ((pbits / 8) * 3 + 600) / 2;
}
static_assert(elgamal_exp_bits(2048) == 364, "2048-bit prime");
static_assert(elgamal_exp_bits(5119) == 671 && elgamal_exp_bits(5120) == 1260, "the rule changes above 5119 bits");

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
	const size_t body = 1 + sizeof(key->key_id) + 1 + 2 + w.ephemeral_len + 1 + w.wrapped_len;
	M_buf_add_byte(out, kHdrPkesk);
	if (!M_buf_add_uintbin(out, body, 4, M_FALSE))
		return false;
	M_buf_add_byte(out, kPkeskVersion);
	M_buf_add_bytes(out, key->key_id, sizeof(key->key_id));
	M_buf_add_byte(out, kPgpAlgEcdh);
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
	if (!draw_elgamal_exponent(bn, key, elgamal_exp_bits(modbits)))
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
	const size_t body = 1 + sizeof(key->key_id) + 1 + mpi_len(bn.c) + (is_rsa ? 0 : mpi_len(bn.b));
	M_buf_add_byte(out, kHdrPkesk);
	if (!M_buf_add_uintbin(out, body, 4, M_FALSE))
		return false;
	M_buf_add_byte(out, kPkeskVersion);
	M_buf_add_bytes(out, key->key_id, sizeof(key->key_id));
	M_buf_add_byte(out, is_rsa ? kPgpAlgRsa : kPgpAlgElgamal);
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

/* The encrypted packet is hashed and encrypted in pieces of this size, so
 * each piece is still in cache for its second use: the hash costs no second
 * trip through memory. */
constexpr size_t kMdcPiece = static_cast<size_t>(64) * 1024;

/* The literal packet's header for n bytes of data (binary, no file name,
 * date 0) into lit, and in *bound the most the zlib stream of that header
 * and the data can take. False when n does not fit a packet length. */
[[nodiscard]] bool literal_header(unsigned char (&lit)[kHdrLen + kLiteralPrefixLen], size_t n, size_t *bound)
{
	if (static_cast<uint64_t>(n) > kUint32Limit - sizeof(lit))
		return false;
	lit[0] = kHdrLiteral;
	put_be32(lit + 1, static_cast<uint32_t>(n + kLiteralPrefixLen));
	lit[5] = kLiteralFmtBinary; /* then file name length 0 and date 0 */
	*bound = m::detail::compress_after_head_bound(sizeof(lit), n);
	return *bound != 0;
}

/* The compressed data packet made in place at body (room for kHdrLen +
 * kCompressedPrefixLen + bound bytes): its header, the algorithm, then the
 * zlib stream of the literal packet (lit, then the n bytes of data). Its
 * length goes to *len. False on a compressor failure or a packet too long. */
[[nodiscard]] bool write_compressed_packet(unsigned char *body, size_t bound, const unsigned char *lit, size_t lit_len,
                                           const unsigned char *data, size_t n, size_t *len)
{
	constexpr size_t comp_head = kHdrLen + kCompressedPrefixLen;
	size_t           clen      = bound;
	if (!m::detail::compress_after_head(body + comp_head, &clen, lit, lit_len, data, n))
		return false;
	if (static_cast<uint64_t>(clen) > kUint32Limit - kCompressedPrefixLen)
		return false;
	body[0] = kHdrCompressed;
	put_be32(body + 1, static_cast<uint32_t>(clen + kCompressedPrefixLen));
	body[5] = kCompressAlgZlib;
	*len    = comp_head + clen;
	return true;
}

/* Where the data packet lies in its direct-write window. */
struct data_window {
	unsigned char *p;         /* the window: the packet's header first */
	unsigned char *prefix_at; /* the CFB prefix's place */
	unsigned char *body;      /* the compressed packet (L bytes), then the MDC packet */
	size_t         L;         /* the compressed packet's length; 0 for empty data */
};

/* The symmetrically encrypted data packet (RFC 4880 5.7): the old-format
 * header, the prefix encrypted from a zero IV, then the compressed packet
 * encrypted in place from the resynchronised IV, the ciphertext of prefix
 * bytes 2 .. bs + 1 (13.9). *written is the packet's length. */
[[nodiscard]] bool seal_symenc(const data_window &w, const symalg_row *row, const unsigned char *session_key,
                               const unsigned char *prefix, size_t *written)
{
	const size_t bs = row->block_size;
	if (static_cast<uint64_t>(w.L) > kUint32Limit - bs - 2)
		return false;
	w.p[0] = kHdrSymenc;
	put_be32(w.p + 1, static_cast<uint32_t>(bs + 2 + w.L));
	unsigned char iv[kMaxBlockSize] = {0};
	if (m::detail::do_encrypt_cfb(w.prefix_at, row->symalg, session_key, iv, prefix, bs + 2) != bs + 2)
		return false;
	std::memcpy(iv, w.prefix_at + 2, bs);
	if (w.L != 0 && m::detail::do_encrypt_cfb(w.body, row->symalg, session_key, iv, w.body, w.L) != w.L)
		return false;
	*written = kHdrLen + bs + 2 + w.L;
	return true;
}

/* One CFB stream from a zero IV over the prefix, the compressed packet (in
 * place) and the modification detection code packet (5.14, written at body
 * + L), whose SHA-1 covers the prefix, the compressed packet and its own two
 * header bytes. Each piece is hashed, then encrypted where it lies. */
[[nodiscard]] bool hash_and_encrypt_mdc(const data_window &w, const symalg_row *row, const unsigned char *session_key,
                                        const unsigned char *prefix)
{
	const size_t        bs = row->block_size;
	unsigned char       mdc_packet[kMdcPacketLen];
	EVP_MD_CTX         *md = EVP_MD_CTX_new();
	cfb_stream          cfb;
	const unsigned char iv[kMaxBlockSize] = {0};
	bool                ok                = md != nullptr && cfb.start(row->symalg, session_key, iv) &&
	          EVP_DigestInit_ex(md, EVP_sha1(), nullptr) == 1 && EVP_DigestUpdate(md, prefix, bs + 2) == 1 &&
	          cfb.update(w.prefix_at, prefix, bs + 2);
	for (size_t done = 0; ok && done < w.L;) {
		const size_t piece = (w.L - done < kMdcPiece) ? w.L - done : kMdcPiece;
		ok = EVP_DigestUpdate(md, w.body + done, piece) == 1 && cfb.update(w.body + done, w.body + done, piece);
		done += piece;
	}
	unsigned int  digest_len = 0;
	size_t        cfb_tail   = 0;
	unsigned char scratch[kMaxBlockSize];
	if (ok) {
		std::memcpy(mdc_packet, kMdcHead, sizeof(kMdcHead));
		ok = EVP_DigestUpdate(md, kMdcHead, sizeof(kMdcHead)) == 1 &&
		     EVP_DigestFinal_ex(md, mdc_packet + sizeof(kMdcHead), &digest_len) == 1 && digest_len == kSha1Len &&
		     cfb.update(w.body + w.L, mdc_packet, kMdcPacketLen) && cfb.finish(scratch, cfb_tail) && cfb_tail == 0;
	}
	EVP_MD_CTX_free(md);
	OPENSSL_cleanse(mdc_packet, sizeof(mdc_packet));
	return ok;
}

/* The header of the integrity protected packet, body_len bytes long, right
 * before its version byte at p + 1 + kNewLenMax; the packet is then moved
 * to the window's start p when the length took fewer than five bytes (only
 * for a packet under 8384 bytes, so the move stays small). Returns the
 * packet's length. */
size_t place_seipd_header(unsigned char *p, size_t body_len)
{
	unsigned char  len_bytes[kNewLenMax];
	const size_t   len_len = m::detail::put_new_length(len_bytes, static_cast<uint32_t>(body_len));
	unsigned char *start   = p + (kNewLenMax - len_len);
	start[0]               = kHdrSeipd;
	std::memcpy(start + 1, len_bytes, len_len);
	p[1 + kNewLenMax]    = kSeipdVersion;
	const size_t written = 1 + len_len + body_len;
	if (start != p)
		std::memmove(p, start, written);
	return written;
}

/* The symmetrically encrypted integrity protected data packet (5.13): a
 * new-format header, version 1, then the stream of hash_and_encrypt_mdc.
 * *written is the packet's length. */
[[nodiscard]] bool seal_seipd(const data_window &w, const symalg_row *row, const unsigned char *session_key,
                              const unsigned char *prefix, size_t *written)
{
	const size_t overhead = 1 + row->block_size + 2 + kMdcPacketLen;
	if (static_cast<uint64_t>(w.L) > kUint32Limit - overhead || !hash_and_encrypt_mdc(w, row, session_key, prefix))
		return false;
	*written = place_seipd_header(w.p, overhead + w.L);
	return true;
}

/* The data packet of the message for the data in in, appended to out in one
 * pass. The compressed data packet is made straight in its final place
 * inside the data packet and then encrypted where it lies; the literal
 * packet is never built as a copy of the data: its header goes into the zlib
 * stream as a stored block ahead of the compressed data (compress_after_head),
 * so the stream inflates to exactly the literal packet. The data thus exists
 * once (in in), and the message once (in out). The packet is the default
 * form (seal_symenc) or, with mdc, the integrity-protected form
 * (seal_seipd). */
[[nodiscard]] bool write_data_packet(M_buf_t *out, const symalg_row *row, const unsigned char *session_key,
                                     const M_buf_t *in, bool mdc)
{
	const size_t bs   = row->block_size;
	const size_t n    = M_buf_len(in);
	const auto  *data = reinterpret_cast<const unsigned char *>(M_buf_peek(in));

	/* The literal packet's header; an empty input has no literal packet. */
	unsigned char lit[kHdrLen + kLiteralPrefixLen] = {0};
	size_t        bound                            = 0;
	if (n != 0 && !literal_header(lit, n, &bound))
		return false;

	/* One window for the whole packet. The mdc header's length takes one to
     * five bytes; room for five is kept and the header moved up to the
     * packet's body once the length is known. */
	const size_t head      = mdc ? 1 + kNewLenMax + 1 : kHdrLen;
	const size_t comp_head = kHdrLen + kCompressedPrefixLen;
	const size_t tail      = mdc ? kMdcPacketLen : 0;
	if (bound > SIZE_MAX - head - (bs + 2) - comp_head - tail)
		return false;
	data_window w{reserve(out, head + bs + 2 + (n != 0 ? comp_head + bound : 0) + tail), nullptr, nullptr, 0};
	if (w.p == nullptr)
		return false;
	w.prefix_at = w.p + head;
	w.body      = w.prefix_at + bs + 2;
	if (n != 0 && !write_compressed_packet(w.body, bound, lit, sizeof(lit), data, n, &w.L))
		return false;

	/* The prefix: a random block, its last two bytes repeated. */
	unsigned char prefix[kMaxBlockSize + 2];
	static_assert(sizeof(prefix) >= 16 + 2, "room for the AES prefix");
	if (RAND_bytes(prefix, static_cast<int>(bs)) != 1)
		return false;
	prefix[bs]     = prefix[bs - 2];
	prefix[bs + 1] = prefix[bs - 1];

	size_t     written = 0;
	const bool ok =
	    mdc ? seal_seipd(w, row, session_key, prefix, &written) : seal_symenc(w, row, session_key, prefix, &written);
	OPENSSL_cleanse(prefix, sizeof(prefix));
	if (!ok)
		return false;
	M_buf_direct_write_end(out, written);
	return true;
}

/* Everything of M_pgp_encrypt_buf_ex after the arguments were checked; the
 * caller empties in afterwards whatever the result. */
[[nodiscard]] bool encrypt_buf(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                               unsigned int flags)
{
	/* out is rebuilt from nothing. */
	M_buf_truncate(out, 0);
	const symalg_row *row = symalg_row_lookup(symalg);
	if (row == nullptr)
		return false;
	const size_t key_size = row->key_size;

	/* A fresh session key and the block encrypted to the key: algorithm id,
     * key, and the sum of the key bytes modulo 65536, high byte first. */
	unsigned char skb[1 + kMaxKeySize + 2];
	static_assert(sizeof(skb) == kMaxKeySize + kSkbOverhead, "session key block layout");
	unsigned char *session_key = skb + 1;
	bool           ok          = RAND_bytes(session_key, static_cast<int>(key_size)) == 1;
	if (ok) {
		unsigned sum = 0;
		for (size_t i = 0; i < key_size; i++)
			sum += session_key[i];
		skb[0]                = row->id;
		skb[1 + key_size]     = static_cast<unsigned char>((sum >> 8) & 0xff);
		skb[1 + key_size + 1] = static_cast<unsigned char>(sum & 0xff);
		ok                    = write_session_key_packet(out, key, skb, key_size + kSkbOverhead) &&
		     write_data_packet(out, row, session_key, in, (flags & M_PGP_ENCRYPT_MDC) != 0);
	}
	OPENSSL_cleanse(skb, sizeof(skb));
	return ok;
}

} // namespace

namespace m::detail {

size_t do_encrypt_cfb(unsigned char *out, M_pgp_symalg_t symalg, const unsigned char *key, const unsigned char *iv,
                      const unsigned char *in, size_t in_len) noexcept
{
	if (out == nullptr || key == nullptr || iv == nullptr || in == nullptr)
		return 0;
	cfb_stream cfb;
	size_t     tail = 0;
	if (!cfb.start(symalg, key, iv) || !cfb.update(out, in, in_len) || !cfb.finish(out + in_len, tail))
		return 0;
	return in_len + tail;
}

/* The compressor is libdeflate's DEFLATE, framed here as the same RFC 1950
 * stream the packet has always held, made in well under half the time of
 * zlib's deflate. Level 6 gives a stream no larger than zlib's default level on token
 * tables (a 155 MB table of a million rows: 44.9 MB against 45.5 MB; level 5
 * already gives 46.3 MB). */
constexpr int kDeflateLevel = 6;

/* zlib stream framing (RFC 1950, RFC 1951 3.2.4): the 2-byte header, the
 * header of a stored block, the Adler-32 trailer. */
constexpr size_t kZlibHeaderLen   = 2;
constexpr size_t kStoredHeaderLen = 5;
constexpr size_t kAdlerLen        = 4;

/* Two pieces on two cores. libdeflate compresses a buffer in one call on one
 * core, and that call is most of an export's run time. A table of kSplitMin
 * bytes or more is therefore cut in two, and the pieces are compressed at the
 * same time on two threads, each into a raw DEFLATE stream of its own, both
 * in their places in the caller's window. The two streams are then joined
 * into one: the first stream's last block loses its final-block bit, an empty
 * stored block that is not the last (3 header bits, padding to the byte, LEN 0
 * and NLEN 0xFFFF, at most kSyncLen bytes) brings it to a byte boundary, and
 * the second stream follows unchanged. The joined stream inflates to exactly
 * the bytes of one stream made in one piece; it is a few bytes longer,
 * because the second piece starts without the first's history.
 *
 * The last block of the first stream is found by walking its blocks
 * (deflate_last_block, which decodes without inflating). The walk runs on
 * the first piece's thread after its compression, which is why that piece is
 * the smaller one (kSplitShare of 64). */
constexpr size_t kSplitMin   = static_cast<size_t>(8) << 20;
constexpr size_t kSplitShare = 30;
constexpr size_t kSyncLen    = 5;
constexpr size_t kMovePiece  = static_cast<size_t>(2) << 20;

/* libdeflate's working memory comes from the library's allocator, so the
 * compressor's state (which holds pieces of the plaintext table) is wiped
 * when it is freed. libdeflate's hook is process-wide and may only be set
 * while no compressor exists; a function-local static sets it exactly once,
 * before the first compressor is made, and is safe against concurrent first
 * calls. */
namespace {

void *deflate_malloc(size_t n) noexcept
{
	return n == 0 ? nullptr : M_malloc(n);
}

void deflate_free(void *p) noexcept
{
	M_free(p);
}

void install_deflate_allocator() noexcept
{
	static const bool installed = [] {
		::libdeflate_set_memory_allocator(deflate_malloc, deflate_free);
		return true;
	}();
	(void)installed;
}

/* One piece: src compressed into dst (room for cap bytes) as a raw DEFLATE
 * stream. out is the stream's length (0 on failure) and adler the Adler-32
 * continued from its starting value over src. */
struct deflate_piece {
	const unsigned char *src;
	size_t               len;
	unsigned char       *dst;
	size_t               cap;
	size_t               out;
	uint32_t             adler;
};

void deflate_piece_run(deflate_piece &p) noexcept
{
	static const unsigned char empty = 0;
	libdeflate_compressor     *c     = ::libdeflate_alloc_compressor(kDeflateLevel);
	p.out = c == nullptr ? 0 : ::libdeflate_deflate_compress(c, p.len != 0 ? p.src : &empty, p.len, p.dst, p.cap);
	if (c != nullptr)
		::libdeflate_free_compressor(c);
	if (p.len != 0)
		p.adler = ::libdeflate_adler32(p.adler, p.src, p.len);
}

void *deflate_piece_thread(void *arg)
{
	deflate_piece_run(*static_cast<deflate_piece *>(arg));
	return nullptr;
}

/* Make the raw stream at a, whose last block's header starts at bit last
 * and which ends at bit end, continue: the last block loses its final-block
 * bit, and an empty stored block that is not the last (its header bits and
 * the padding all zero, LEN 0, NLEN 0xFFFF) brings the stream to a byte
 * boundary. a must have room for (end + 10) / 8 + 4 bytes. Returns the
 * stream's length in bytes afterwards, where the next stream begins. */
size_t stream_close(unsigned char *a, uint64_t last, uint64_t end) noexcept
{
	a[last / 8] &= static_cast<unsigned char>(~(1U << (last % 8)));
	size_t k = static_cast<size_t>(end / 8);
	if (end % 8 != 0)
		a[k++] &= static_cast<unsigned char>((1U << (end % 8)) - 1);
	const size_t q = static_cast<size_t>((end + 3 + 7) / 8);
	for (; k < q; k++)
		a[k] = 0;
	a[q]     = 0x00;
	a[q + 1] = 0x00;
	a[q + 2] = 0xFF;
	a[q + 3] = 0xFF;
	return q + 4;
}

/* Join the raw stream b (blen bytes) to the raw stream a (alen bytes) as
 * described above; b lies after a, at least alen + kSyncLen bytes from a's
 * start. Returns the joined length (b moved down into place, its old bytes
 * past the joined stream wiped), or 0 when a is not one whole stream. */
size_t deflate_join(unsigned char *a, size_t alen, unsigned char *b, size_t blen) noexcept
{
	uint64_t last = 0;
	uint64_t end  = 0;
	if (!deflate_last_block(a, alen, &last, &end) || end > static_cast<uint64_t>(alen) * 8 ||
	    end + 8 <= static_cast<uint64_t>(alen) * 8)
		return 0;
	const size_t head = stream_close(a, last, end);
	/* b moves down piece by piece. Its old bytes past the joined stream are
	 * wiped and their pages given back as the move goes, so the move costs no
	 * more memory than one piece and leaves no second copy of the compressed
	 * table behind. Pieces end on multiples of kMovePiece in memory, so each
	 * release covers whole pages. */
	unsigned char *to       = a + head;
	unsigned char *released = to + blen > b ? to + blen : b;
	for (size_t done = 0; done < blen;) {
		const size_t align = kMovePiece - reinterpret_cast<uintptr_t>(b + done) % kMovePiece;
		const size_t piece = blen - done < align ? blen - done : align;
		std::memmove(to + done, b + done, piece);
		done += piece;
		if (b + done > released) {
			M_mem_wipe_release(released, static_cast<size_t>(b + done - released));
			released = b + done;
		}
	}
	return head + blen;
}

} // namespace

size_t compress_split_point(size_t src_len) noexcept
{
	if (src_len < kSplitMin || M_thread_num_cpus() < 2)
		return 0;
	return src_len / 64 * kSplitShare;
}

size_t compress_after_head_bound(size_t head_len, size_t src_len) noexcept
{
	if (head_len == 0 || head_len > 0xFFFF || src_len > SIZE_MAX / 2)
		return 0;
	/* Room for two pieces: libdeflate's bound is linear in the length plus a
	 * few bytes per block and per call, so two calls need at most one more
	 * call's bound than one. compress_after_head still checks the room it is
	 * given and compresses in one piece when two would not fit. */
	return kZlibHeaderLen + kStoredHeaderLen + head_len + ::libdeflate_deflate_compress_bound(nullptr, src_len) +
	       ::libdeflate_deflate_compress_bound(nullptr, 0) + kSyncLen + kAdlerLen;
}

bool compress_after_head(unsigned char *dst, size_t *dst_len, const unsigned char *head, size_t head_len,
                         const unsigned char *src, size_t src_len) noexcept
{
	return compress_after_head(dst, dst_len, head, head_len, src, src_len, compress_split_point(src_len));
}

bool compress_after_head(unsigned char *dst, size_t *dst_len, const unsigned char *head, size_t head_len,
                         const unsigned char *src, size_t src_len, size_t split) noexcept
{
	if (dst == nullptr || dst_len == nullptr || head == nullptr || head_len == 0 || head_len > 0xFFFF ||
	    (src == nullptr && src_len != 0) || (split != 0 && split >= src_len))
		return false;
	const size_t pre = kZlibHeaderLen + kStoredHeaderLen + head_len;
	if (*dst_len < pre + kAdlerLen)
		return false;
	const size_t room = *dst_len - pre - kAdlerLen;
	install_deflate_allocator();
	const size_t cap1 = ::libdeflate_deflate_compress_bound(nullptr, split);
	const size_t cap2 = ::libdeflate_deflate_compress_bound(nullptr, src_len - split);
	if (split != 0 && (cap1 > room || cap2 > room - cap1 || kSyncLen > room - cap1 - cap2))
		split = 0;

	/* zlib header: deflate with a 32 KiB window and the "default level" hint
	 * that libdeflate's own zlib streams carry at this level; 0x789C is a
	 * multiple of 31 as the check bits require. */
	dst[0] = 0x78;
	dst[1] = 0x9C;
	/* A stored block that is not the last (BFINAL 0, BTYPE 00, padding to
	 * the byte), LEN and its complement, then the head itself. It ends on a
	 * byte boundary, where the compressed data's own blocks begin. */
	dst[2] = 0x00;
	dst[3] = static_cast<unsigned char>(head_len & 0xFF);
	dst[4] = static_cast<unsigned char>(head_len >> 8);
	dst[5] = static_cast<unsigned char>(~head_len & 0xFF);
	dst[6] = static_cast<unsigned char>((~head_len >> 8) & 0xFF);
	std::memcpy(dst + kZlibHeaderLen + kStoredHeaderLen, head, head_len);

	const uint32_t adler_head = ::libdeflate_adler32(1, head, head_len);
	deflate_piece  one{src, split != 0 ? split : src_len, dst + pre, split != 0 ? cap1 : room, 0, adler_head};
	if (split == 0) {
		deflate_piece_run(one);
	} else {
		deflate_piece two{src + split, src_len - split, dst + pre + cap1 + kSyncLen, cap2, 0, 1};
		/* Without a second thread the second piece is made after the first:
		 * slower, but the same stream. */
		M_thread_t *thread = M_thread_start(deflate_piece_thread, &two);
		deflate_piece_run(one);
		if (thread != nullptr)
			(void)M_thread_join(thread);
		else
			deflate_piece_run(two);
		if (one.out != 0 && two.out != 0) {
			one.out   = deflate_join(one.dst, one.out, two.dst, two.out);
			one.adler = static_cast<uint32_t>(::adler32_combine(one.adler, two.adler, static_cast<z_off_t>(two.len)));
		} else {
			one.out = 0;
		}
	}
	if (one.out == 0)
		return false;
	put_be32(dst + pre + one.out, one.adler);
	*dst_len = pre + one.out + kAdlerLen;
	return true;
}

} // namespace m::detail

extern "C" {

M_bool M_pgp_encrypt_buf(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg)
{
	return M_pgp_encrypt_buf_ex(out, in, key, symalg, M_PGP_ENCRYPT_NONE);
}

M_bool M_pgp_encrypt_buf_ex(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                            unsigned int flags)
{
	/* A flag this code does not know asks for a form it cannot write. */
	constexpr unsigned int kKnownFlags = M_PGP_ENCRYPT_MDC;
	bool                   ok          = false;
	/* The output is emptied first on every path, so a failed call never
     * leaves an older message behind. One buffer for both would lose the
     * data that way, and the call would quietly encrypt nothing: refused. */
	if (out != in)
		M_buf_truncate(out, 0);
	if (out != nullptr && in != nullptr && key != nullptr && out != in && (flags & ~kKnownFlags) == 0)
		ok = encrypt_buf(out, in, key, symalg, flags);
	/* The plaintext must not linger in the work buffer, whatever happened. */
	M_buf_truncate(in, 0);
	return ok;
}

M_bool M_pgp_encrypt(const unsigned char *data, size_t data_len, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                     unsigned char **out, size_t *out_len)
{
	if (out == nullptr || out_len == nullptr || key == nullptr)
		return M_FALSE;
	*out     = nullptr;
	*out_len = 0;
	if (data == nullptr || data_len == 0)
		return M_TRUE;

	M_buf_t *in = M_buf_create();
	M_buf_add_bytes(in, data, data_len);
	M_buf_t   *msg = M_buf_create();
	const bool ok  = M_pgp_encrypt_buf(msg, in, key, symalg);
	M_buf_cancel(in);
	if (!ok) {
		M_buf_cancel(msg);
		return M_FALSE;
	}
	size_t len = 0;
	*out       = M_buf_finish(msg, &len);
	*out_len   = (*out == nullptr) ? 0 : len;
	return *out != nullptr;
}

} // extern "C"

/* Messages built from pieces, in the caller's buffer: the session key
 * packet is written when the message starts, then room for the headers in
 * front of the compressed data (whose lengths are known only at the end),
 * then each piece's stream as it is appended (its own memory released at
 * once); finishing fills the headers and encrypts the data packet where it
 * lies. The message is never copied, and with its room reserved up front
 * (M_pgp_msg_reserve) its buffer never moves either. */
struct M_pgp_deflater {
	libdeflate_compressor *c;       /* libdeflate's state at kDeflateLevel */
	unsigned char         *scratch; /* output area of the next piece (handed over with it) */
	size_t                 cap;     /* bytes at scratch */
};

struct M_pgp_piece {
	unsigned char *bytes;    /* the raw DEFLATE stream */
	size_t         len;      /* bytes of the stream */
	size_t         data_len; /* bytes of data it inflates to */
	uint64_t       last;     /* bit offset of its last block's header */
	uint64_t       end;      /* bit offset of the stream's end */
	uint32_t       adler;    /* Adler-32 of its data */
};

struct M_pgp_msg {
	M_buf_t          *out;   /* the message being built (the caller's) */
	const symalg_row *row;   /* the cipher */
	unsigned int      flags; /* the message form */
	unsigned char     session_key[kMaxKeySize];
	size_t            data_at;  /* offset in out of the data packet's room */
	bool              any;      /* a piece was appended */
	size_t            last_at;  /* offset in out of the last piece's stream */
	uint64_t          last_bit; /* its last block's header, in bits from last_at */
	uint64_t          end_bit;  /* its end, in bits from last_at */
	uint64_t          data_len; /* bytes of data appended */
	uint32_t          adler;    /* Adler-32 of the data appended */
	bool              closed;   /* finished, or failed: takes no more pieces */
};

namespace {

/* The zlib stream's fixed bytes ahead of the pieces: header, and the stored
 * block holding the literal packet's header. */
constexpr size_t kLitHeadLen = kHdrLen + kLiteralPrefixLen;
constexpr size_t kStreamHead = m::detail::kZlibHeaderLen + m::detail::kStoredHeaderLen + kLitHeadLen;

/* Bytes of the data packet ahead of the first piece: the packet's header
 * (room for the longest), the CFB prefix, the compressed packet's header
 * and the stream's head. */
size_t data_head_len(const M_pgp_msg_t *msg)
{
	const size_t head = (msg->flags & M_PGP_ENCRYPT_MDC) != 0 ? 1 + kNewLenMax + 1 : kHdrLen;
	return head + msg->row->block_size + 2 + kHdrLen + kCompressedPrefixLen + kStreamHead;
}

unsigned char *content(M_buf_t *buf)
{
	return reinterpret_cast<unsigned char *>(const_cast<char *>(M_buf_peek(buf)));
}

/* Join the last piece's stream to the one about to follow: its last block
 * loses its final-block bit, and an empty stored block that is not the last
 * brings the stream to a byte boundary. */
void join_last(M_pgp_msg_t *msg)
{
	const size_t   had = M_buf_len(msg->out) - msg->last_at;
	const uint64_t end = msg->end_bit;
	const size_t   q   = static_cast<size_t>((end + 3 + 7) / 8);
	M_buf_add_fill(msg->out, 0, q + 4 - had);
	(void)m::detail::stream_close(content(msg->out) + msg->last_at, msg->last_bit, end);
}

/* Fill the headers in front of the pieces and encrypt the data packet in
 * place; the message then ends at the packet's end. */
[[nodiscard]] bool seal_msg(M_pgp_msg_t *msg)
{
	const symalg_row *row  = msg->row;
	const size_t      bs   = row->block_size;
	const bool        mdc  = (msg->flags & M_PGP_ENCRYPT_MDC) != 0;
	const size_t      head = mdc ? 1 + kNewLenMax + 1 : kHdrLen;
	size_t            L    = 0;
	if (msg->data_len == 0) {
		/* No data: the packet holds only the prefix (and the MDC packet). */
		M_buf_truncate(msg->out, msg->data_at + head + bs + 2);
	} else {
		unsigned char lit[kLitHeadLen] = {0};
		lit[0]                         = kHdrLiteral;
		put_be32(lit + 1, static_cast<uint32_t>(msg->data_len + kLiteralPrefixLen));
		lit[5]                   = kLiteralFmtBinary;
		const uint32_t lit_adler = ::libdeflate_adler32(1, lit, kLitHeadLen);
		unsigned char  trailer[m::detail::kAdlerLen];
		put_be32(trailer,
		         static_cast<uint32_t>(::adler32_combine(lit_adler, msg->adler, static_cast<z_off_t>(msg->data_len))));
		M_buf_add_bytes(msg->out, trailer, sizeof(trailer));
		const uint64_t len = M_buf_len(msg->out) - msg->data_at - head - bs - 2;
		if (len - kHdrLen > kUint32Limit)
			return false;
		L                 = static_cast<size_t>(len);
		unsigned char *at = content(msg->out) + msg->data_at + head + bs + 2;
		at[0]             = kHdrCompressed;
		put_be32(at + 1, static_cast<uint32_t>(L - kHdrLen));
		at[5] = kCompressAlgZlib;
		at += kHdrLen + kCompressedPrefixLen;
		const unsigned char stream_head[] = {
		    0x78, 0x9C, 0x00, kLitHeadLen, 0x00, static_cast<unsigned char>(~kLitHeadLen & 0xFF), 0xFF};
		static_assert(sizeof(stream_head) == m::detail::kZlibHeaderLen + m::detail::kStoredHeaderLen, "stream head");
		std::memcpy(at, stream_head, sizeof(stream_head));
		std::memcpy(at + sizeof(stream_head), lit, kLitHeadLen);
	}
	if (mdc)
		M_buf_add_fill(msg->out, 0, kMdcPacketLen);
	data_window w{content(msg->out) + msg->data_at, nullptr, nullptr, L};
	w.prefix_at = w.p + head;
	w.body      = w.prefix_at + bs + 2;

	unsigned char prefix[kMaxBlockSize + 2];
	if (RAND_bytes(prefix, static_cast<int>(bs)) != 1)
		return false;
	prefix[bs]         = prefix[bs - 2];
	prefix[bs + 1]     = prefix[bs - 1];
	size_t     written = 0;
	const bool ok      = mdc ? seal_seipd(w, row, msg->session_key, prefix, &written)
	                         : seal_symenc(w, row, msg->session_key, prefix, &written);
	OPENSSL_cleanse(prefix, sizeof(prefix));
	if (!ok)
		return false;
	M_buf_truncate(msg->out, msg->data_at + written);
	return true;
}

} // namespace

extern "C" {

void M_pgp_deflate_use_library_memory(void)
{
	m::detail::install_deflate_allocator();
}

M_pgp_deflater_t *M_pgp_deflater_create(void)
{
	m::detail::install_deflate_allocator();
	libdeflate_compressor *c = ::libdeflate_alloc_compressor(m::detail::kDeflateLevel);
	if (c == nullptr)
		return nullptr;
	auto *d = static_cast<M_pgp_deflater_t *>(M_malloc_zero(sizeof(M_pgp_deflater_t)));
	d->c    = c;
	return d;
}

void M_pgp_deflater_destroy(M_pgp_deflater_t *d)
{
	if (d == nullptr)
		return;
	::libdeflate_free_compressor(d->c);
	M_free(d->scratch);
	M_free(d);
}

M_pgp_piece_t *M_pgp_deflater_compress(M_pgp_deflater_t *d, const unsigned char *data, size_t len)
{
	static const unsigned char empty = 0;
	if (d == nullptr || (data == nullptr && len != 0))
		return nullptr;
	/* Text compresses to well under half its size: the scratch area starts
	 * at half the piece (its pages are all touched by the wipe when it is
	 * freed) and grows to the full bound only for data that needs it. */
	const size_t bound = ::libdeflate_deflate_compress_bound(d->c, len);
	size_t       out   = 0;
	for (size_t want = len / 2 + 4096 < bound ? len / 2 + 4096 : bound; out == 0; want = bound) {
		if (want > d->cap) {
			M_free(d->scratch);
			d->scratch = static_cast<unsigned char *>(M_malloc(want));
			d->cap     = want;
		}
		out = ::libdeflate_deflate_compress(d->c, len != 0 ? data : &empty, len, d->scratch, d->cap);
		if (out == 0 && d->cap >= bound)
			break;
	}
	uint64_t last = 0;
	uint64_t end  = 0;
	/* The walk must find one whole stream ending in the last byte. */
	if (out == 0 || !m::detail::deflate_last_block(d->scratch, out, &last, &end) ||
	    end > static_cast<uint64_t>(out) * 8 || end + 8 <= static_cast<uint64_t>(out) * 8)
		return nullptr;
	auto *piece = static_cast<M_pgp_piece_t *>(M_malloc_zero(sizeof(M_pgp_piece_t)));
	/* The scratch area becomes the piece: no copy, and no area of half a
	 * piece held by every thread between pieces. */
	piece->bytes    = d->scratch;
	d->scratch      = nullptr;
	d->cap          = 0;
	piece->len      = out;
	piece->data_len = len;
	piece->last     = last;
	piece->end      = end;
	piece->adler    = len != 0 ? ::libdeflate_adler32(1, data, len) : 1;
	return piece;
}

void M_pgp_piece_destroy(M_pgp_piece_t *piece)
{
	if (piece == nullptr)
		return;
	M_free(piece->bytes);
	M_free(piece);
}

M_pgp_msg_t *M_pgp_msg_create(M_buf_t *out, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg, unsigned int flags)
{
	if (out != nullptr)
		M_buf_truncate(out, 0);
	const symalg_row *row = symalg_row_lookup(symalg);
	if (out == nullptr || key == nullptr || row == nullptr ||
	    (flags & ~static_cast<unsigned int>(M_PGP_ENCRYPT_MDC)) != 0)
		return nullptr;
	auto *msg  = static_cast<M_pgp_msg_t *>(M_malloc_zero(sizeof(M_pgp_msg_t)));
	msg->out   = out;
	msg->row   = row;
	msg->flags = flags;
	msg->adler = 1;
	/* A fresh session key and the block encrypted to the key: algorithm id,
	 * key, and the sum of the key bytes modulo 65536, high byte first. */
	const size_t  key_size = row->key_size;
	unsigned char skb[1 + kMaxKeySize + 2];
	bool          ok = RAND_bytes(skb + 1, static_cast<int>(key_size)) == 1;
	if (ok) {
		unsigned sum = 0;
		for (size_t i = 0; i < key_size; i++)
			sum += skb[1 + i];
		skb[0]                = row->id;
		skb[1 + key_size]     = static_cast<unsigned char>((sum >> 8) & 0xff);
		skb[1 + key_size + 1] = static_cast<unsigned char>(sum & 0xff);
		std::memcpy(msg->session_key, skb + 1, key_size);
		ok = write_session_key_packet(out, key, skb, key_size + kSkbOverhead);
	}
	OPENSSL_cleanse(skb, sizeof(skb));
	if (!ok) {
		M_buf_truncate(out, 0);
		M_pgp_msg_destroy(msg);
		return nullptr;
	}
	msg->data_at = M_buf_len(out);
	M_buf_add_fill(out, 0, data_head_len(msg));
	return msg;
}

void M_pgp_msg_reserve(M_pgp_msg_t *msg, size_t len)
{
	if (msg == nullptr || len == 0)
		return;
	size_t room = len;
	if (M_buf_direct_write_start(msg->out, &room) != nullptr)
		M_buf_direct_write_end(msg->out, 0);
}

M_bool M_pgp_msg_append(M_pgp_msg_t *msg, M_pgp_piece_t *piece)
{
	if (msg == nullptr || piece == nullptr || msg->closed ||
	    msg->data_len + piece->data_len > kUint32Limit - kLiteralPrefixLen) {
		M_pgp_piece_destroy(piece);
		if (msg != nullptr)
			msg->closed = true;
		return M_FALSE;
	}
	if (msg->any)
		join_last(msg);
	msg->any      = true;
	msg->last_at  = M_buf_len(msg->out);
	msg->last_bit = piece->last;
	msg->end_bit  = piece->end;
	M_buf_add_bytes(msg->out, piece->bytes, piece->len);
	msg->adler =
	    static_cast<uint32_t>(::adler32_combine(msg->adler, piece->adler, static_cast<z_off_t>(piece->data_len)));
	msg->data_len += piece->data_len;
	M_pgp_piece_destroy(piece);
	return M_TRUE;
}

M_bool M_pgp_msg_finish(M_pgp_msg_t *msg)
{
	if (msg == nullptr || msg->closed) {
		if (msg != nullptr)
			msg->closed = true;
		return M_FALSE;
	}
	msg->closed = true;
	return seal_msg(msg);
}

void M_pgp_msg_destroy(M_pgp_msg_t *msg)
{
	if (msg == nullptr)
		return;
	OPENSSL_cleanse(msg->session_key, sizeof(msg->session_key));
	M_free(msg);
}

} // extern "C"
