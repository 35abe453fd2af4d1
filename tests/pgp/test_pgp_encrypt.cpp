#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <zlib.h>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "pgp/pgp_encrypt.h"
#include "pgp/pgp_ecdh_int.h"
#include "pgp/pgp_encrypt_int.h"
#include "pgp/pgp_pubkey.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp_test_util.h"

using namespace pgp_test;

namespace {

struct symalg_case {
	M_pgp_symalg_t symalg;
	const char    *name;
	unsigned       pgp_id;
	size_t         bs;
	size_t         key_size;
	const EVP_CIPHER *(*cipher)(void);
};

const symalg_case symalgs[] = {
    {M_PGP_SYMALG_3DES, "3DES", 2, 8, 24, EVP_des_ede3_cfb64},
    {M_PGP_SYMALG_CAST5, "CAST5", 3, 8, 16, EVP_cast5_cfb64},
    {M_PGP_SYMALG_BLOWFISH, "BLOWFISH", 4, 8, 16, EVP_bf_cfb64},
    {M_PGP_SYMALG_AES128, "AES128", 7, 16, 16, EVP_aes_128_cfb128},
    {M_PGP_SYMALG_AES192, "AES192", 8, 16, 24, EVP_aes_192_cfb128},
    {M_PGP_SYMALG_AES256, "AES256", 9, 16, 32, EVP_aes_256_cfb128},
};

struct key_deleter {
	void operator()(M_pgp_pubkey_t *k) const
	{
		M_pgp_pubkey_destroy(k);
	}
};
using key_ptr = std::unique_ptr<M_pgp_pubkey_t, key_deleter>;

struct buf_deleter {
	void operator()(M_buf_t *b) const
	{
		M_buf_cancel(b);
	}
};
using buf_ptr = std::unique_ptr<M_buf_t, buf_deleter>;

key_ptr load_key(const std::string &file)
{
	const bytes data     = read_file(key_path(file));
	char        err[256] = "";
	key_ptr     k(M_pgp_pubkey_create(data.data(), data.size(), err, sizeof(err)));
	EXPECT_NE(k, nullptr) << file << ": " << err;
	return k;
}

key_ptr key_from_packet(const bytes &body)
{
	const bytes pkt      = new_packet(TAG_PUBSUBKEY, body);
	char        err[256] = "";
	key_ptr     k(M_pgp_pubkey_create(pkt.data(), pkt.size(), err, sizeof(err)));
	EXPECT_NE(k, nullptr) << err;
	return k;
}

bytes buf_bytes(const M_buf_t *b)
{
	const unsigned char *p = reinterpret_cast<const unsigned char *>(M_buf_peek(b));
	return p == nullptr ? bytes() : bytes(p, p + M_buf_len(b));
}

/* The two message forms, for tests that run over both. */
struct form_case {
	unsigned    flags;
	const char *name;
};
const form_case forms[] = {{M_PGP_ENCRYPT_NONE, "tag 9"}, {M_PGP_ENCRYPT_MDC, "tag 18 + MDC"}};

/* Encrypts data (flags 0 through the plain entry point); the input buffer
 * must come back empty either way. */
bool encrypt(const bytes &data, const M_pgp_pubkey_t *key, M_pgp_symalg_t alg, bytes &msg, unsigned flags = 0)
{
	buf_ptr in(M_buf_create());
	buf_ptr out(M_buf_create());
	M_buf_add_bytes(in.get(), data.data(), data.size());
	const bool ok = flags == 0 ? M_pgp_encrypt_buf(out.get(), in.get(), key, alg)
	                           : M_pgp_encrypt_buf_ex(out.get(), in.get(), key, alg, flags);
	EXPECT_EQ(M_buf_len(in.get()), 0u);
	msg = buf_bytes(out.get());
	return ok;
}

uint32_t be32(const unsigned char *p)
{
	return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

/* Packet layout of one message as written. */
struct message_layout {
	size_t      pkesk_body = 0;
	unsigned    version    = 0;
	std::string key_id;
	unsigned    algorithm = 0;
	bytes       mpi1, mpi2;
	unsigned    mpi1_bits = 0, mpi2_bits = 0;
	unsigned    enc_tag  = 0; /* 9, or 18 with a new-format header */
	size_t      enc_hlen = 0; /* header bytes of the encrypted packet */
	size_t      enc_body = 0;
	bytes       encrypted; /* the tag 9 body, or the tag 18 body after its version byte */
	unsigned    seipd_version = 0;
};

::testing::AssertionResult split_mpi(const bytes &m, size_t &pos, size_t end, bytes &out, unsigned &bits)
{
	if (pos + 2 > end)
		return ::testing::AssertionFailure() << "MPI header past the packet";
	bits           = (unsigned)m[pos] << 8 | m[pos + 1];
	const size_t n = (bits + 7) / 8;
	pos += 2;
	if (pos + n > end)
		return ::testing::AssertionFailure() << "MPI past the packet";
	out.assign(m.begin() + (long)pos, m.begin() + (long)(pos + n));
	pos += n;
	if (n != 0 && (out[0] >> ((bits - 1) % 8)) != 1)
		return ::testing::AssertionFailure() << "MPI bit count does not match its top byte";
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult read_layout(const bytes &m, message_layout &l)
{
	if (m.size() < 5 || m[0] != 0x86)
		return ::testing::AssertionFailure() << "no session key packet header";
	l.pkesk_body     = be32(&m[1]);
	const size_t end = 5 + l.pkesk_body;
	if (end > m.size() || l.pkesk_body < 10)
		return ::testing::AssertionFailure() << "session key packet length " << l.pkesk_body;
	l.version   = m[5];
	l.key_id    = hex(&m[6], 8);
	l.algorithm = m[14];
	size_t pos  = 15;
	auto   r    = split_mpi(m, pos, end, l.mpi1, l.mpi1_bits);
	if (!r)
		return r;
	if (l.algorithm == 16) {
		r = split_mpi(m, pos, end, l.mpi2, l.mpi2_bits);
		if (!r)
			return r;
	} else if (l.algorithm == 18) {
		/* ECDH: the wrapped key follows its one-byte length (in mpi2). */
		if (pos >= end || pos + 1 + m[pos] > end)
			return ::testing::AssertionFailure() << "wrapped key past the packet";
		l.mpi2.assign(m.begin() + (long)pos + 1, m.begin() + (long)(pos + 1 + m[pos]));
		pos += 1 + m[pos];
	}
	if (pos != end)
		return ::testing::AssertionFailure() << "session key packet has " << end - pos << " spare bytes";
	if (m.size() >= end + 5 && m[end] == 0xA6) {
		l.enc_tag  = 9;
		l.enc_hlen = 5;
		l.enc_body = be32(&m[end + 1]);
	} else if (m.size() >= end + 2 && m[end] == 0xD2) {
		/* New-format length: one, two or five bytes (no partial lengths). */
		const unsigned b0 = m[end + 1];
		l.enc_tag         = 18;
		if (b0 < 192) {
			l.enc_hlen = 2;
			l.enc_body = b0;
		} else if (b0 < 224 && m.size() >= end + 3) {
			l.enc_hlen = 3;
			l.enc_body = ((b0 - 192) << 8) + m[end + 2] + 192;
		} else if (b0 == 255 && m.size() >= end + 6) {
			l.enc_hlen = 6;
			l.enc_body = be32(&m[end + 2]);
		} else {
			return ::testing::AssertionFailure() << "bad new-format length byte " << b0;
		}
	} else {
		return ::testing::AssertionFailure() << "no encrypted data packet header";
	}
	if (end + l.enc_hlen + l.enc_body != m.size())
		return ::testing::AssertionFailure()
		       << "encrypted packet length " << l.enc_body << " vs " << m.size() - end - l.enc_hlen << " bytes left";
	size_t start = end + l.enc_hlen;
	if (l.enc_tag == 18) {
		if (l.enc_body == 0)
			return ::testing::AssertionFailure() << "tag 18 packet without a version";
		l.seipd_version = m[start++];
	}
	l.encrypted.assign(m.begin() + (long)start, m.end());
	return ::testing::AssertionSuccess();
}

bytes cfb_decrypt(const symalg_case &a, const bytes &key, const unsigned char *iv, const unsigned char *in, size_t len)
{
	bytes           out(len + 32);
	EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
	int             l1 = 0, l2 = 0;
	EXPECT_EQ(EVP_DecryptInit_ex(ctx, a.cipher(), nullptr, nullptr, nullptr), 1);
	EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(ctx, (int)key.size()), 1);
	EXPECT_EQ(EVP_DecryptInit_ex(ctx, nullptr, nullptr, key.data(), iv), 1);
	EVP_CIPHER_CTX_set_padding(ctx, 0);
	if (len != 0) {
		EXPECT_EQ(EVP_DecryptUpdate(ctx, out.data(), &l1, in, (int)len), 1);
	}
	EXPECT_EQ(EVP_DecryptFinal_ex(ctx, out.data() + l1, &l2), 1);
	EVP_CIPHER_CTX_free(ctx);
	out.resize((size_t)(l1 + l2));
	return out;
}

::testing::AssertionResult check_compressed(const bytes &inner, const bytes &input);

/* Opens the encrypted packet with the session key by OpenPGP's CFB rules and
 * checks every layer inside it against the input. */
::testing::AssertionResult check_inner_layers(const symalg_case &a, const bytes &session_key, const bytes &encrypted,
                                              const bytes &input)
{
	const size_t bs = a.bs;
	if (encrypted.size() < bs + 2)
		return ::testing::AssertionFailure() << "encrypted packet shorter than the prefix";
	const unsigned char zero[16] = {0};
	const bytes         prefix   = cfb_decrypt(a, session_key, zero, encrypted.data(), bs + 2);
	if (prefix[bs] != prefix[bs - 2] || prefix[bs + 1] != prefix[bs - 1])
		return ::testing::AssertionFailure() << "prefix check bytes do not repeat";
	/* Resynchronisation: the IV is the ciphertext of prefix bytes 2..bs+1. */
	const bytes inner =
	    cfb_decrypt(a, session_key, encrypted.data() + 2, encrypted.data() + bs + 2, encrypted.size() - bs - 2);
	return check_compressed(inner, input);
}

/* The integrity-protected form: one CFB pass from a zero IV over prefix,
 * compressed packet and MDC packet, whose SHA-1 (computed here) covers
 * everything before its last 20 bytes. */
::testing::AssertionResult check_inner_layers_mdc(const symalg_case &a, const bytes &session_key,
                                                  const bytes &encrypted, const bytes &input)
{
	const size_t bs = a.bs;
	if (encrypted.size() < bs + 2 + 22)
		return ::testing::AssertionFailure() << "packet shorter than prefix and MDC";
	const unsigned char zero[16] = {0};
	const bytes         plain    = cfb_decrypt(a, session_key, zero, encrypted.data(), encrypted.size());
	if (plain[bs] != plain[bs - 2] || plain[bs + 1] != plain[bs - 1])
		return ::testing::AssertionFailure() << "prefix check bytes do not repeat";
	const size_t mdc = plain.size() - 22;
	if (plain[mdc] != 0xD3 || plain[mdc + 1] != 0x14)
		return ::testing::AssertionFailure() << "no MDC packet header at the end: " << hex(&plain[mdc], 2);
	unsigned char digest[EVP_MAX_MD_SIZE];
	unsigned int  dlen = 0;
	if (EVP_Digest(plain.data(), mdc + 2, digest, &dlen, EVP_sha1(), nullptr) != 1 || dlen != 20 ||
	    std::memcmp(digest, &plain[mdc + 2], 20) != 0)
		return ::testing::AssertionFailure() << "MDC is not the SHA-1 of what precedes it";
	return check_compressed(bytes(plain.begin() + (long)(bs + 2), plain.begin() + (long)mdc), input);
}

/* The compressed packet inside the encryption, checked against the input. */
::testing::AssertionResult check_compressed(const bytes &inner, const bytes &input)
{
	if (input.empty()) {
		if (!inner.empty())
			return ::testing::AssertionFailure() << "empty input, yet " << inner.size() << " bytes follow the prefix";
		return ::testing::AssertionSuccess();
	}
	if (inner.size() < 6 || inner[0] != 0xA2 || be32(&inner[1]) != inner.size() - 5 || inner[5] != 2)
		return ::testing::AssertionFailure() << "bad compressed packet header";
	const size_t lit_len = input.size() + 11;
	bytes        literal(lit_len + 1);
	uLongf       dl = (uLongf)literal.size();
	if (uncompress(literal.data(), &dl, inner.data() + 6, (uLong)(inner.size() - 6)) != Z_OK)
		return ::testing::AssertionFailure() << "compressed data does not inflate";
	if (dl != lit_len)
		return ::testing::AssertionFailure() << "literal packet of " << dl << " bytes, expected " << lit_len;
	const unsigned char head[] = {0xAE, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0};
	bytes               want(head, head + sizeof(head));
	want[1] = (unsigned char)((input.size() + 6) >> 24);
	want[2] = (unsigned char)((input.size() + 6) >> 16);
	want[3] = (unsigned char)((input.size() + 6) >> 8);
	want[4] = (unsigned char)(input.size() + 6);
	if (!std::equal(want.begin(), want.end(), literal.begin()))
		return ::testing::AssertionFailure() << "bad literal packet header " << hex(literal.data(), 11);
	if (!std::equal(input.begin(), input.end(), literal.begin() + 11))
		return ::testing::AssertionFailure() << "literal data differs from the input";
	return ::testing::AssertionSuccess();
}

bytes hex_to_bytes(const std::string &h)
{
	bytes b;
	for (size_t i = 0; i + 1 < h.size(); i += 2)
		b.push_back((unsigned char)std::stoul(h.substr(i, 2), nullptr, 16));
	return b;
}

bytes all_byte_values()
{
	bytes b;
	for (int r = 0; r < 3; r++)
		for (int v = 0; v < 256; v++)
			b.push_back((unsigned char)(r == 1 ? 255 - v : v));
	return b;
}

/* CSV-like text of about size bytes, deterministic. */
bytes csv_text(size_t size)
{
	bytes b;
	b.reserve(size + 128);
	unsigned x = 12345;
	char     line[160];
	for (unsigned row = 0; b.size() < size; row++) {
		x = x * 1103515245u + 12345u;
		int n =
		    std::snprintf(line, sizeof(line), "%u,\"merchant%u\",%08X%08X,%02u%02u,\"%u.%02u\"\r\n", row, (x >> 8) % 97,
		                  x, x ^ 0x5bd1e995u, (x >> 3) % 12 + 1, 20 + (x >> 5) % 15, (x >> 7) % 10000, (x >> 11) % 100);
		b.insert(b.end(), line, line + n);
	}
	b.resize(size);
	return b;
}

} // namespace

/* ---------------------------------------------------------------------------
 * Fixture: one GnuPG home with every secret key the tests decrypt with.
 * ------------------------------------------------------------------------- */

class pgp_encrypt : public ::testing::Test {
  protected:
	static void SetUpTestSuite()
	{
		home_ = new gpg_home();
		if (!home_->ok())
			return;
		for (const char *k : {"rsa2048", "rsa4096", "elg2048", "cv25519", "p256", "p384", "p521"}) {
			if (!home_->import(key_path(std::string(k) + ".sec.asc")))
				return;
		}
		imported_ = true;
	}
	static void TearDownTestSuite()
	{
		delete home_;
		home_ = nullptr;
	}

	void SetUp() override
	{
		ASSERT_TRUE(imported_) << "gpg could not set up its home";
	}

	/* gpg decrypts msg; returns its exit status, the plaintext and the
     * session key it used ("algo:hex"). */
	static int gpg_decrypt(const bytes &msg, bytes &plain, std::string *session_key = nullptr, bool ignore_mdc = true)
	{
		const std::string in = home_->file("msg.gpg"), out = home_->file("plain.bin"), err = home_->file("stderr.txt");
		std::remove(out.c_str());
		if (!write_file(in, msg.data(), msg.size()))
			return -1;
		const int rc =
		    run(home_->gpg(std::string(ignore_mdc ? "--ignore-mdc-error " : "") + "--show-session-key --output " +
		                   shell_quote(out) + " --decrypt " + shell_quote(in) + " 2>" + shell_quote(err)));
		plain = read_file(out);
		if (session_key != nullptr) {
			const std::string e   = read_text(err);
			const std::string tag = "session key: '";
			const size_t      p   = e.find(tag);
			*session_key =
			    p == std::string::npos ? "" : e.substr(p + tag.size(), e.find('\'', p + tag.size()) - p - tag.size());
		}
		return rc;
	}

	static std::string gpg_list_packets(const bytes &msg)
	{
		const std::string in = home_->file("msg.gpg");
		write_file(in, msg.data(), msg.size());
		std::string out;
		run(home_->gpg("--ignore-mdc-error --list-packets " + shell_quote(in) + " 2>/dev/null"), &out);
		return out;
	}

	static gpg_home *home_;
	static bool      imported_;
};

gpg_home *pgp_encrypt::home_     = nullptr;
bool      pgp_encrypt::imported_ = false;

/* ---------------------------------------------------------------------------
 * gpg opens what we write
 * ------------------------------------------------------------------------- */

TEST_F(pgp_encrypt, gpg_decrypts_every_selector_with_rsa_and_elgamal)
{
	const bytes input = csv_text(20000);
	for (const char *keyname : {"rsa2048", "elg2048"}) {
		key_ptr key = load_key(std::string(keyname) + ".asc");
		ASSERT_NE(key, nullptr);
		for (const symalg_case &a : symalgs) {
			for (const form_case &f : forms) {
				SCOPED_TRACE(std::string(keyname) + " " + a.name + " " + f.name);
				bytes msg;
				ASSERT_TRUE(encrypt(input, key.get(), a.symalg, msg, f.flags));

				message_layout l;
				ASSERT_TRUE(read_layout(msg, l));
				EXPECT_EQ(l.version, 3u);
				EXPECT_EQ(l.key_id, hex(key->key_id, 8));
				EXPECT_EQ(l.enc_tag, f.flags == 0 ? 9u : 18u);

				/* The integrity-protected form opens without weakening gpg. */
				bytes       plain;
				std::string sk;
				EXPECT_EQ(gpg_decrypt(msg, plain, &sk, f.flags == 0), 0);
				EXPECT_TRUE(plain == input) << "plaintext differs: " << plain.size() << " bytes back";

				/* The session key gpg recovered: our algorithm id and key size;
                 * with it the inner layers read back byte for byte. */
				const size_t colon = sk.find(':');
				ASSERT_NE(colon, std::string::npos) << sk;
				EXPECT_EQ(std::stoul(sk.substr(0, colon)), a.pgp_id);
				const bytes session_key = hex_to_bytes(sk.substr(colon + 1));
				EXPECT_EQ(session_key.size(), a.key_size);
				if (f.flags == 0) {
					EXPECT_TRUE(check_inner_layers(a, session_key, l.encrypted, input));
				} else {
					EXPECT_EQ(l.seipd_version, 1u);
					EXPECT_TRUE(check_inner_layers_mdc(a, session_key, l.encrypted, input));
				}
			}
		}
	}
}

/* ECDH keys made by gpg on each curve: gpg opens the message with every
 * cipher (session key blocks of 19, 27 and 35 bytes, padded to 24, 32 and
 * 40), and the session key packet has the form gpg writes. */
TEST_F(pgp_encrypt, gpg_decrypts_ecdh_on_every_curve)
{
	struct curve_case {
		const char *key;
		size_t      point_len; /* ephemeral point, prefix byte included */
		unsigned    point_bits;
		uint8_t     prefix;
	};
	constexpr curve_case curves[] = {
	    {"cv25519", 33, 263, 0x40},
	    {"p256", 65, 515, 0x04},
	    {"p384", 97, 771, 0x04},
	    {"p521", 133, 1059, 0x04},
	};
	const bytes input = csv_text(3000);
	for (const curve_case &c : curves) {
		key_ptr key = load_key(std::string(c.key) + ".asc");
		ASSERT_NE(key, nullptr);
		ASSERT_EQ(key->type, (uint32_t)M_PGP_PUBKEY_TYPE_ECDH);
		for (const symalg_case &a : symalgs) {
			SCOPED_TRACE(std::string(c.key) + " " + a.name);
			bytes msg;
			ASSERT_TRUE(encrypt(input, key.get(), a.symalg, msg));
			message_layout l;
			ASSERT_TRUE(read_layout(msg, l));
			EXPECT_EQ(l.algorithm, 18u);
			EXPECT_EQ(l.key_id, hex(key->key_id, 8));
			EXPECT_EQ(l.mpi1_bits, c.point_bits);
			ASSERT_EQ(l.mpi1.size(), c.point_len);
			EXPECT_EQ(l.mpi1[0], c.prefix);
			EXPECT_EQ(l.mpi2.size(), (a.key_size + 3 + 7) / 8 * 8 + 8);

			bytes       plain;
			std::string sk;
			EXPECT_EQ(gpg_decrypt(msg, plain, &sk), 0);
			EXPECT_TRUE(plain == input) << "plaintext differs: " << plain.size() << " bytes back";
			EXPECT_EQ(sk.substr(0, sk.find(':')), std::to_string(a.pgp_id));
		}
		/* A fresh ephemeral key for every message. */
		bytes m1, m2;
		ASSERT_TRUE(encrypt(input, key.get(), M_PGP_SYMALG_AES256, m1));
		ASSERT_TRUE(encrypt(input, key.get(), M_PGP_SYMALG_AES256, m2));
		message_layout l1, l2;
		ASSERT_TRUE(read_layout(m1, l1));
		ASSERT_TRUE(read_layout(m2, l2));
		EXPECT_NE(l1.mpi1, l2.mpi1);
	}
}

TEST_F(pgp_encrypt, gpg_decrypts_edge_inputs)
{
	key_ptr rsa = load_key("rsa4096.gpg");
	key_ptr elg = load_key("elg2048.hdr.asc");
	ASSERT_NE(rsa, nullptr);
	ASSERT_NE(elg, nullptr);

	struct edge {
		const char           *what;
		bytes                 input;
		const M_pgp_pubkey_t *key;
		M_pgp_symalg_t        alg;
		unsigned              flags;
	};
	const edge edges[] = {
	    {"empty, RSA", {}, rsa.get(), M_PGP_SYMALG_AES256, 0},
	    {"empty, Elgamal", {}, elg.get(), M_PGP_SYMALG_CAST5, 0},
	    {"one byte", {0x00}, rsa.get(), M_PGP_SYMALG_3DES, 0},
	    {"every byte value, RSA", all_byte_values(), rsa.get(), M_PGP_SYMALG_AES256, 0},
	    {"every byte value, Elgamal", all_byte_values(), elg.get(), M_PGP_SYMALG_BLOWFISH, 0},
	    {"MDC, empty", {}, rsa.get(), M_PGP_SYMALG_AES128, M_PGP_ENCRYPT_MDC},
	    {"MDC, one byte", {0xff}, elg.get(), M_PGP_SYMALG_3DES, M_PGP_ENCRYPT_MDC},
	};
	for (const edge &e : edges) {
		SCOPED_TRACE(e.what);
		bytes msg;
		ASSERT_TRUE(encrypt(e.input, e.key, e.alg, msg, e.flags));
		bytes plain = {'x'};
		EXPECT_EQ(gpg_decrypt(msg, plain, nullptr, e.flags == 0), 0);
		EXPECT_TRUE(plain == e.input) << plain.size() << " bytes back, " << e.input.size() << " sent";
	}
}

TEST_F(pgp_encrypt, gpg_decrypts_20_megabytes)
{
	key_ptr key = load_key("rsa2048.crlf.asc");
	ASSERT_NE(key, nullptr);
	bytes input = csv_text(20u << 20);
	/* Some bytes no text has, spread through the table. */
	for (size_t i = 0; i < input.size(); i += 4099)
		input[i] = (unsigned char)(i * 7);
	for (const form_case &f : forms) {
		SCOPED_TRACE(f.name);
		bytes msg;
		ASSERT_TRUE(encrypt(input, key.get(), M_PGP_SYMALG_AES256, msg, f.flags));
		bytes plain;
		EXPECT_EQ(gpg_decrypt(msg, plain, nullptr, f.flags == 0), 0);
		ASSERT_EQ(plain.size(), input.size());
		EXPECT_TRUE(plain == input);
	}
}

TEST_F(pgp_encrypt, gpg_lists_the_packets)
{
	key_ptr key = load_key("rsa2048.asc");
	ASSERT_NE(key, nullptr);
	bytes msg;
	ASSERT_TRUE(encrypt(csv_text(5000), key.get(), M_PGP_SYMALG_AES256, msg));
	const std::string list = gpg_list_packets(msg);
	const std::string id   = hex(key->key_id, 8);

	EXPECT_NE(list.find("# off=0 ctb=86 tag=1 hlen=5"), std::string::npos) << list;
	EXPECT_NE(list.find(":pubkey enc packet: version 3, algo 1, keyid " + id), std::string::npos) << list;
	EXPECT_NE(list.find("ctb=a6 tag=9 hlen=5"), std::string::npos) << list;
	EXPECT_NE(list.find(":encrypted data packet:"), std::string::npos) << list;
	EXPECT_EQ(list.find("mdc_method"), std::string::npos) << list;
	EXPECT_NE(list.find("ctb=a2 tag=8 hlen=5"), std::string::npos) << list;
	EXPECT_NE(list.find(":compressed packet: algo=2"), std::string::npos) << list;
	EXPECT_NE(list.find("ctb=ae tag=11 hlen=5 plen=5006"), std::string::npos) << list;
	EXPECT_NE(list.find(":literal data packet:"), std::string::npos) << list;
	EXPECT_NE(list.find("mode b (62), created 0, name=\"\","), std::string::npos) << list;
	EXPECT_NE(list.find("raw data: 5000 bytes"), std::string::npos) << list;

	key_ptr elg = load_key("elg2048.asc");
	ASSERT_NE(elg, nullptr);
	ASSERT_TRUE(encrypt(csv_text(100), elg.get(), M_PGP_SYMALG_AES128, msg));
	const std::string elist = gpg_list_packets(msg);
	EXPECT_NE(elist.find(":pubkey enc packet: version 3, algo 16, keyid " + hex(elg->key_id, 8)), std::string::npos)
	    << elist;
	EXPECT_NE(elist.find("raw data: 100 bytes"), std::string::npos) << elist;

	/* The integrity-protected form: a new-format tag 18 packet that gpg
     * reads as using the SHA-1 modification detection code. */
	ASSERT_TRUE(encrypt(csv_text(5000), key.get(), M_PGP_SYMALG_AES256, msg, M_PGP_ENCRYPT_MDC));
	const std::string mlist = gpg_list_packets(msg);
	EXPECT_NE(mlist.find("# off=0 ctb=86 tag=1 hlen=5"), std::string::npos) << mlist;
	EXPECT_NE(mlist.find("ctb=d2 tag=18 hlen=3"), std::string::npos) << mlist;
	EXPECT_NE(mlist.find("new-ctb"), std::string::npos) << mlist;
	EXPECT_NE(mlist.find("mdc_method: 2"), std::string::npos) << mlist;
	EXPECT_EQ(mlist.find("ctb=a6"), std::string::npos) << mlist;
	EXPECT_NE(mlist.find("ctb=a2 tag=8 hlen=5"), std::string::npos) << mlist;
	EXPECT_NE(mlist.find("ctb=ae tag=11 hlen=5 plen=5006"), std::string::npos) << mlist;
	EXPECT_NE(mlist.find("raw data: 5000 bytes"), std::string::npos) << mlist;
}

/* ---------------------------------------------------------------------------
 * Structure, without gpg
 * ------------------------------------------------------------------------- */

TEST(pgp_encrypt_layout, packet_headers_and_lengths)
{
	key_ptr rsa = load_key("rsa3072.asc");
	key_ptr elg = load_key("elg2048.gpg");
	ASSERT_NE(rsa, nullptr);
	ASSERT_NE(elg, nullptr);

	for (const symalg_case &a : symalgs) {
		SCOPED_TRACE(a.name);
		bytes msg;
		/* RSA: c is an MPI below n; body 12 + MPI bytes. */
		ASSERT_TRUE(encrypt(csv_text(3000), rsa.get(), a.symalg, msg));
		message_layout l;
		ASSERT_TRUE(read_layout(msg, l));
		EXPECT_EQ(l.version, 3u);
		EXPECT_EQ(l.key_id, hex(rsa->key_id, 8));
		EXPECT_EQ(l.algorithm, 1u);
		EXPECT_EQ(l.pkesk_body, 12 + l.mpi1.size());
		EXPECT_LE(l.mpi1_bits, 3072u);
		EXPECT_GT(l.mpi1_bits, 3000u); /* a random residue is almost never shorter */

		/* Elgamal: a and b below p; body 14 + both MPIs' bytes. */
		ASSERT_TRUE(encrypt(csv_text(3000), elg.get(), a.symalg, msg));
		ASSERT_TRUE(read_layout(msg, l));
		EXPECT_EQ(l.version, 3u);
		EXPECT_EQ(l.key_id, hex(elg->key_id, 8));
		EXPECT_EQ(l.algorithm, 16u);
		EXPECT_EQ(l.pkesk_body, 14 + l.mpi1.size() + l.mpi2.size());
		EXPECT_LE(l.mpi1_bits, 2048u);
		EXPECT_LE(l.mpi2_bits, 2048u);

		/* Empty input: the encrypted packet is the prefix alone. */
		ASSERT_TRUE(encrypt({}, elg.get(), a.symalg, msg));
		ASSERT_TRUE(read_layout(msg, l));
		EXPECT_EQ(l.enc_body, a.bs + 2);

		/* Integrity-protected: the same session key packet, then tag 18 with
         * the shortest new-format length of a body of version, prefix,
         * compressed packet and 22-byte MDC packet (one byte of length up
         * to 191, two up to 8383, else five). */
		for (const size_t size : {(size_t)0, (size_t)3000}) {
			SCOPED_TRACE(size);
			const bytes input = csv_text(size);
			bytes       legacy;
			ASSERT_TRUE(encrypt(input, rsa.get(), a.symalg, legacy));
			message_layout ll;
			ASSERT_TRUE(read_layout(legacy, ll));
			ASSERT_TRUE(encrypt(input, rsa.get(), a.symalg, msg, M_PGP_ENCRYPT_MDC));
			ASSERT_TRUE(read_layout(msg, l));
			EXPECT_EQ(l.enc_tag, 18u);
			EXPECT_EQ(l.seipd_version, 1u);
			EXPECT_EQ(l.pkesk_body, 12 + l.mpi1.size());
			/* Compressed packets of the same input have the same length. */
			EXPECT_EQ(l.enc_body, 1 + ll.enc_body + 22);
			EXPECT_EQ(l.enc_hlen, l.enc_body < 192 ? 2u : l.enc_body < 8384 ? 3u : 6u);
		}
	}
	/* The five-byte length: a compressed packet above 8 KiB. */
	bytes noise(20000);
	ASSERT_EQ(RAND_bytes(noise.data(), (int)noise.size()), 1);
	bytes          msg;
	message_layout l;
	ASSERT_TRUE(encrypt(noise, rsa.get(), M_PGP_SYMALG_AES256, msg, M_PGP_ENCRYPT_MDC));
	ASSERT_TRUE(read_layout(msg, l));
	EXPECT_EQ(l.enc_hlen, 6u);
	EXPECT_GT(l.enc_body, 20000u);
}

/* The session key block is checked by undoing the public-key step with key
 * pairs made here: RSA of a 46-byte modulus (the least AES-256 allows, so the
 * padding is exactly 8 bytes) and of 2048 bits, and Elgamal over a prime. */
namespace {

struct rsa_pair {
	BIGNUM *n = BN_new(), *e = BN_new(), *d = BN_new();
	~rsa_pair()
	{
		BN_free(n);
		BN_free(e);
		BN_clear_free(d);
	}
};

void make_rsa(rsa_pair &k, int bits)
{
	BN_CTX *ctx = BN_CTX_new();
	BIGNUM *p = BN_new(), *q = BN_new(), *p1 = BN_new(), *q1 = BN_new(), *phi = BN_new();
	BN_set_word(k.e, 65537);
	do {
		ASSERT_EQ(BN_generate_prime_ex(p, bits / 2, 0, nullptr, nullptr, nullptr), 1);
		ASSERT_EQ(BN_generate_prime_ex(q, bits / 2, 0, nullptr, nullptr, nullptr), 1);
		BN_mul(k.n, p, q, ctx);
		BN_sub(p1, p, BN_value_one());
		BN_sub(q1, q, BN_value_one());
		BN_mul(phi, p1, q1, ctx);
	} while (BN_num_bits(k.n) != bits || BN_mod_inverse(k.d, k.e, phi, ctx) == nullptr);
	BN_free(p);
	BN_free(q);
	BN_free(p1);
	BN_free(q1);
	BN_free(phi);
	BN_CTX_free(ctx);
}

bytes bn_bytes(const BIGNUM *b)
{
	bytes v((size_t)BN_num_bytes(b));
	BN_bn2bin(b, v.data());
	return v;
}

/* Checks an EME-PKCS1-v1_5 block of k bytes holding the session key block. */
::testing::AssertionResult check_pkcs1(const BIGNUM *m, size_t k, const symalg_case &a, bytes *session_key)
{
	bytes em(k);
	if (BN_bn2binpad(m, em.data(), (int)k) != (int)k)
		return ::testing::AssertionFailure() << "decrypted number longer than the modulus";
	if (em[0] != 0x00 || em[1] != 0x02)
		return ::testing::AssertionFailure() << "block type " << hex(em.data(), 2);
	const size_t skb_len = a.key_size + 3;
	const size_t pad_len = k - skb_len - 3;
	if (pad_len < 8)
		return ::testing::AssertionFailure() << "padding of " << pad_len << " bytes";
	for (size_t i = 0; i < pad_len; i++)
		if (em[2 + i] == 0)
			return ::testing::AssertionFailure() << "zero padding byte at " << i;
	if (em[2 + pad_len] != 0)
		return ::testing::AssertionFailure() << "no zero byte after the padding";
	const unsigned char *skb = &em[3 + pad_len];
	if (skb[0] != a.pgp_id)
		return ::testing::AssertionFailure() << "algorithm id " << int(skb[0]);
	unsigned sum = 0;
	for (size_t i = 0; i < a.key_size; i++)
		sum += skb[1 + i];
	if (((sum >> 8) & 0xff) != skb[1 + a.key_size] || (sum & 0xff) != skb[2 + a.key_size])
		return ::testing::AssertionFailure() << "checksum";
	if (session_key != nullptr)
		session_key->assign(skb + 1, skb + 1 + a.key_size);
	return ::testing::AssertionSuccess();
}

} // namespace

TEST(pgp_encrypt_layout, rsa_session_key_block_and_inner_layers)
{
	for (int bits : {368, 2048}) {
		rsa_pair pair;
		make_rsa(pair, bits);
		key_ptr key = key_from_packet(key_body(4, 1, {mpi(bn_bytes(pair.n)), mpi(bn_bytes(pair.e))}));
		ASSERT_NE(key, nullptr);
		const size_t k = (size_t)(bits + 7) / 8;
		for (const symalg_case &a : symalgs) {
			for (const form_case &f : forms) {
				SCOPED_TRACE(std::to_string(bits) + " " + a.name + " " + f.name);
				const bytes input = all_byte_values();
				bytes       msg;
				ASSERT_TRUE(encrypt(input, key.get(), a.symalg, msg, f.flags));
				message_layout l;
				ASSERT_TRUE(read_layout(msg, l));
				BIGNUM *c   = BN_bin2bn(l.mpi1.data(), (int)l.mpi1.size(), nullptr);
				BIGNUM *m   = BN_new();
				BN_CTX *ctx = BN_CTX_new();
				ASSERT_EQ(BN_mod_exp(m, c, pair.d, pair.n, ctx), 1);
				bytes session_key;
				EXPECT_TRUE(check_pkcs1(m, k, a, &session_key));
				if (session_key.size() == a.key_size) {
					EXPECT_TRUE(f.flags == 0 ? check_inner_layers(a, session_key, l.encrypted, input)
					                         : check_inner_layers_mdc(a, session_key, l.encrypted, input));
				}
				BN_free(c);
				BN_clear_free(m);
				BN_CTX_free(ctx);
			}
		}
	}
}

TEST(pgp_encrypt_layout, elgamal_session_key_block)
{
	BN_CTX *ctx = BN_CTX_new();
	BIGNUM *p = BN_new(), *g = BN_new(), *x = BN_new(), *y = BN_new();
	ASSERT_EQ(BN_generate_prime_ex(p, 512, 0, nullptr, nullptr, nullptr), 1);
	BN_set_word(g, 3);
	ASSERT_EQ(BN_rand_range(x, p), 1);
	ASSERT_EQ(BN_mod_exp(y, g, x, p, ctx), 1);
	key_ptr key = key_from_packet(key_body(4, 16, {mpi(bn_bytes(p)), mpi(bn_bytes(g)), mpi(bn_bytes(y))}));
	ASSERT_NE(key, nullptr);

	for (const symalg_case &a : symalgs) {
		SCOPED_TRACE(a.name);
		const bytes input = csv_text(777);
		bytes       msg;
		ASSERT_TRUE(encrypt(input, key.get(), a.symalg, msg));
		message_layout l;
		ASSERT_TRUE(read_layout(msg, l));
		ASSERT_EQ(l.algorithm, 16u);
		/* m = b / a^x mod p */
		BIGNUM *ea = BN_bin2bn(l.mpi1.data(), (int)l.mpi1.size(), nullptr);
		BIGNUM *eb = BN_bin2bn(l.mpi2.data(), (int)l.mpi2.size(), nullptr);
		BIGNUM *s = BN_new(), *m = BN_new();
		ASSERT_EQ(BN_mod_exp(s, ea, x, p, ctx), 1);
		ASSERT_NE(BN_mod_inverse(s, s, p, ctx), nullptr);
		ASSERT_EQ(BN_mod_mul(m, eb, s, p, ctx), 1);
		bytes session_key;
		EXPECT_TRUE(check_pkcs1(m, 64, a, &session_key));
		if (session_key.size() == a.key_size) {
			EXPECT_TRUE(check_inner_layers(a, session_key, l.encrypted, input));
		}
		BN_free(ea);
		BN_free(eb);
		BN_free(s);
		BN_clear_free(m);
	}
	BN_free(p);
	BN_free(g);
	BN_clear_free(x);
	BN_free(y);
	BN_CTX_free(ctx);
}

TEST(pgp_encrypt_layout, elgamal_exponent_size)
{
	EXPECT_EQ(m::detail::elgamal_exponent_bits(2048), 364);
	EXPECT_EQ(m::detail::elgamal_exponent_bits(3072), 467);
	EXPECT_EQ(m::detail::elgamal_exponent_bits(5119), 671);
	EXPECT_EQ(m::detail::elgamal_exponent_bits(5120), 1260);
	EXPECT_EQ(m::detail::elgamal_exponent_bits(8192), 1836);
}

TEST(pgp_encrypt_layout, messages_differ_every_time)
{
	key_ptr key = load_key("rsa2048.asc");
	ASSERT_NE(key, nullptr);
	bytes m1, m2;
	ASSERT_TRUE(encrypt(csv_text(100), key.get(), M_PGP_SYMALG_AES256, m1));
	ASSERT_TRUE(encrypt(csv_text(100), key.get(), M_PGP_SYMALG_AES256, m2));
	EXPECT_NE(m1, m2);
	/* Same packet tag, version, key ID and algorithm; the session key packet's
     * length may differ by a byte (the RSA value's MPI length varies), and
     * its contents and the ciphertext differ. */
	/* Tag 0x86, four length bytes, version, key ID, algorithm. */
	ASSERT_GE(m1.size(), 15u);
	ASSERT_GE(m2.size(), 15u);
	EXPECT_EQ(m1[0], m2[0]);
	EXPECT_TRUE(std::equal(m1.begin() + 5, m1.begin() + 15, m2.begin() + 5));
}

/* ---------------------------------------------------------------------------
 * Failures: false, and the input always left empty
 * ------------------------------------------------------------------------- */

TEST(pgp_encrypt_fail, modulus_too_short_for_the_session_key_block)
{
	struct row {
		M_pgp_symalg_t alg;
		size_t         least; /* smallest modulus in bytes: key size + 3 + 11 */
	};
	const row rows[] = {
	    {M_PGP_SYMALG_3DES, 38},   {M_PGP_SYMALG_CAST5, 30},  {M_PGP_SYMALG_BLOWFISH, 30},
	    {M_PGP_SYMALG_AES128, 30}, {M_PGP_SYMALG_AES192, 38}, {M_PGP_SYMALG_AES256, 46},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.least);
		for (unsigned char alg : {1, 16}) {
			auto body = [&](size_t n) {
				return alg == 1 ? rsa_body(n, (unsigned)n)
				                : key_body(4, 16, {mpi(number(n, (unsigned)n)), mpi({2}), mpi(number(n - 1, 9))});
			};
			key_ptr ok  = key_from_packet(body(r.least));
			key_ptr bad = key_from_packet(body(r.least - 1));
			ASSERT_NE(ok, nullptr);
			ASSERT_NE(bad, nullptr);
			bytes msg;
			EXPECT_TRUE(encrypt(csv_text(50), ok.get(), r.alg, msg)) << int(alg);
			EXPECT_FALSE(encrypt(csv_text(50), bad.get(), r.alg, msg)) << int(alg);
			/* Nothing of the failed message reaches the session key packet. */
			EXPECT_TRUE(msg.empty());
		}
	}
	/* Below 11 bytes no selector has room. */
	key_ptr tiny = key_from_packet(rsa_body(10));
	ASSERT_NE(tiny, nullptr);
	for (const symalg_case &a : symalgs) {
		bytes msg;
		EXPECT_FALSE(encrypt({'x'}, tiny.get(), a.symalg, msg)) << a.name;
		EXPECT_FALSE(encrypt({}, tiny.get(), a.symalg, msg)) << a.name;
	}
}

TEST(pgp_encrypt_fail, bad_arguments)
{
	key_ptr key = load_key("rsa2048.asc");
	ASSERT_NE(key, nullptr);
	const bytes data = csv_text(1000);

	buf_ptr in(M_buf_create());
	buf_ptr out(M_buf_create());
	auto    refill = [&] {
        M_buf_truncate(in.get(), 0);
        M_buf_add_bytes(in.get(), data.data(), data.size());
	};

	refill();
	EXPECT_FALSE(M_pgp_encrypt_buf(nullptr, in.get(), key.get(), M_PGP_SYMALG_AES256));
	EXPECT_EQ(M_buf_len(in.get()), 0u);

	refill();
	EXPECT_FALSE(M_pgp_encrypt_buf(out.get(), in.get(), nullptr, M_PGP_SYMALG_AES256));
	EXPECT_EQ(M_buf_len(in.get()), 0u);

	EXPECT_FALSE(M_pgp_encrypt_buf(out.get(), nullptr, key.get(), M_PGP_SYMALG_AES256));
	EXPECT_FALSE(M_pgp_encrypt_buf(nullptr, nullptr, nullptr, M_PGP_SYMALG_AES256));

	/* out is emptied first, also when the input or the key is missing. */
	for (const bool no_key : {false, true}) {
		M_buf_add_bytes(out.get(), "old", 3);
		refill();
		EXPECT_FALSE(M_pgp_encrypt_buf(out.get(), no_key ? in.get() : nullptr, no_key ? nullptr : key.get(),
		                               M_PGP_SYMALG_AES256));
		EXPECT_EQ(M_buf_len(out.get()), 0u) << no_key;
	}

	/* Unknown selectors, the library's values around the table. */
	for (int bad : {0, 1}) {
		refill();
		EXPECT_FALSE(M_pgp_encrypt_buf(out.get(), in.get(), key.get(), static_cast<M_pgp_symalg_t>(bad))) << bad;
		EXPECT_EQ(M_buf_len(in.get()), 0u);
	}

	/* Flag bits the library does not know: no form it was not asked for. */
	for (unsigned bad : {2u, 0x80000000u, M_PGP_ENCRYPT_MDC | 4u}) {
		refill();
		M_buf_add_bytes(out.get(), "old", 3);
		EXPECT_FALSE(M_pgp_encrypt_buf_ex(out.get(), in.get(), key.get(), M_PGP_SYMALG_AES256, bad)) << bad;
		EXPECT_EQ(M_buf_len(in.get()), 0u);
		EXPECT_EQ(M_buf_len(out.get()), 0u);
	}
	refill();
	EXPECT_FALSE(M_pgp_encrypt_buf_ex(out.get(), in.get(), nullptr, M_PGP_SYMALG_AES256, M_PGP_ENCRYPT_MDC));
	EXPECT_EQ(M_buf_len(in.get()), 0u);

	/* One buffer as both input and output would lose the data. */
	refill();
	EXPECT_FALSE(M_pgp_encrypt_buf(in.get(), in.get(), key.get(), M_PGP_SYMALG_AES256));
	EXPECT_EQ(M_buf_len(in.get()), 0u);

	/* out's old contents are replaced, not appended to. */
	refill();
	M_buf_add_bytes(out.get(), "old", 3);
	ASSERT_TRUE(M_pgp_encrypt_buf(out.get(), in.get(), key.get(), M_PGP_SYMALG_AES256));
	EXPECT_EQ(M_buf_peek(out.get())[0], '\x86');
	EXPECT_EQ(M_buf_len(in.get()), 0u);
}

TEST(pgp_encrypt_fail, failures_after_out_was_emptied_leave_it_empty)
{
	/* out is emptied before the selector is looked up and before the key is
     * used, so these failures leave nothing of its old contents behind. */
	key_ptr key = load_key("rsa2048.asc");
	ASSERT_NE(key, nullptr);
	key_ptr tiny = key_from_packet(rsa_body(45));
	ASSERT_NE(tiny, nullptr);
	struct row {
		const char           *what;
		const M_pgp_pubkey_t *key;
		int                   alg;
		size_t                input;
	};
	const row rows[] = {
	    {"unknown selector 0", key.get(), 0, 1000},
	    {"unknown selector 8", key.get(), 8, 1000},
	    {"unknown selector, empty input", key.get(), 1, 0},
	    {"modulus of 45 bytes for AES-256", tiny.get(), M_PGP_SYMALG_AES256, 1000},
	    {"modulus of 45 bytes, empty input", tiny.get(), M_PGP_SYMALG_AES256, 0},
	};
	for (const row &r : rows) {
		buf_ptr     in(M_buf_create());
		buf_ptr     out(M_buf_create());
		const bytes data = csv_text(r.input);
		M_buf_add_bytes(in.get(), data.data(), data.size());
		M_buf_add_bytes(out.get(), "old contents", 12);
		EXPECT_FALSE(M_pgp_encrypt_buf(out.get(), in.get(), r.key, static_cast<M_pgp_symalg_t>(r.alg))) << r.what;
		EXPECT_EQ(M_buf_len(out.get()), 0u) << r.what;
		EXPECT_EQ(M_buf_len(in.get()), 0u) << r.what;
	}

	/* The byte-array form: a NULL key fails before out and out_len are set. */
	const bytes    data = csv_text(10);
	unsigned char  mark = 0;
	unsigned char *out  = &mark;
	size_t         len  = 99;
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), nullptr, M_PGP_SYMALG_AES256, &out, &len));
	EXPECT_EQ(out, &mark);
	EXPECT_EQ(len, 99u);
}

TEST(pgp_encrypt_fail, key_of_unknown_type_or_without_numbers)
{
	key_ptr key = load_key("rsa2048.asc");
	ASSERT_NE(key, nullptr);
	const uint32_t type = key->type;
	bytes          msg;

	key->type = 5;
	EXPECT_FALSE(encrypt(csv_text(10), key.get(), M_PGP_SYMALG_AES256, msg));
	key->type = type;

	/* An Elgamal object without y, an RSA one without e. */
	key->type = M_PGP_PUBKEY_TYPE_ELGAMAL;
	EXPECT_FALSE(encrypt(csv_text(10), key.get(), M_PGP_SYMALG_AES256, msg));
	key->type = type;

	BIGNUM *e = key->e_g;
	key->e_g  = nullptr;
	EXPECT_FALSE(encrypt(csv_text(10), key.get(), M_PGP_SYMALG_AES256, msg));
	key->e_g = e;

	EXPECT_TRUE(encrypt(csv_text(10), key.get(), M_PGP_SYMALG_AES256, msg));
}

TEST(pgp_encrypt_fail, ecdh_key_that_cannot_be_used)
{
	key_ptr key = load_key("p256.asc");
	ASSERT_NE(key, nullptr);
	bytes msg;
	ASSERT_TRUE(encrypt(csv_text(10), key.get(), M_PGP_SYMALG_AES256, msg));

	/* A point off the curve is refused by the key exchange. */
	key_ptr bad = load_key("p256.asc");
	bad->ecdh.point[64] ^= 1;
	EXPECT_FALSE(encrypt(csv_text(10), bad.get(), M_PGP_SYMALG_AES256, msg));

	/* Key derivation hash or key wrap cipher outside the table, or an
     * unknown curve. */
	const auto with = [&](auto change) {
		key_ptr k = load_key("p256.asc");
		change(*k);
		return encrypt(csv_text(10), k.get(), M_PGP_SYMALG_AES256, msg);
	};
	EXPECT_FALSE(with([](M_pgp_pubkey &k) { k.ecdh.kdf_hash = 2; }));
	EXPECT_FALSE(with([](M_pgp_pubkey &k) { k.ecdh.kdf_cipher = 3; }));
	EXPECT_FALSE(with([](M_pgp_pubkey &k) { k.ecdh.curve = 9; }));
	EXPECT_TRUE(with([](M_pgp_pubkey &k) { k.ecdh.kdf_hash = 10; })); /* any of the three hashes */
}

/* The key derivation of RFC 6637 section 7 against a plain hash of its
 * inputs, for each hash and key length. */
TEST(pgp_encrypt_detail, ecdh_kdf_is_one_hash_round)
{
	const unsigned char shared[] = {1, 2, 3, 4, 5};
	const unsigned char param[]  = {9, 8, 7};
	const unsigned char in[]     = {0, 0, 0, 1, 1, 2, 3, 4, 5, 9, 8, 7};
	struct kdf_case {
		uint8_t id;
		const EVP_MD *(*md)(void);
	};
	for (const kdf_case &c : {kdf_case{8, EVP_sha256}, kdf_case{9, EVP_sha384}, kdf_case{10, EVP_sha512}}) {
		unsigned char want[EVP_MAX_MD_SIZE];
		unsigned int  wl = 0;
		ASSERT_EQ(EVP_Digest(in, sizeof(in), want, &wl, c.md(), nullptr), 1);
		for (size_t len : {16, 24, 32}) {
			unsigned char kek[32];
			ASSERT_TRUE(m::detail::ecdh_kdf(c.id, shared, sizeof(shared), param, sizeof(param), kek, len));
			EXPECT_EQ(hex(kek, len), hex(want, len)) << int(c.id) << " " << len;
		}
	}
	unsigned char kek[32];
	EXPECT_FALSE(m::detail::ecdh_kdf(2, shared, sizeof(shared), param, sizeof(param), kek, 16));
}

/* ---------------------------------------------------------------------------
 * The byte-array form
 * ------------------------------------------------------------------------- */

TEST_F(pgp_encrypt, byte_array_form)
{
	key_ptr key = load_key("rsa2048.gpg");
	ASSERT_NE(key, nullptr);
	const bytes    data = all_byte_values();
	unsigned char *out  = reinterpret_cast<unsigned char *>(0x1);
	size_t         len  = 99;

	ASSERT_TRUE(M_pgp_encrypt(data.data(), data.size(), key.get(), M_PGP_SYMALG_CAST5, &out, &len));
	ASSERT_NE(out, nullptr);
	const bytes msg(out, out + len);
	EXPECT_EQ(out[len], 0); /* terminated after the message */
	M_free(out);
	bytes plain;
	EXPECT_EQ(gpg_decrypt(msg, plain), 0);
	EXPECT_TRUE(plain == data);

	/* Empty input: true, nothing allocated. */
	out = reinterpret_cast<unsigned char *>(0x1);
	len = 99;
	EXPECT_TRUE(M_pgp_encrypt(data.data(), 0, key.get(), M_PGP_SYMALG_AES256, &out, &len));
	EXPECT_EQ(out, nullptr);
	EXPECT_EQ(len, 0u);
	out = reinterpret_cast<unsigned char *>(0x1);
	len = 99;
	EXPECT_TRUE(M_pgp_encrypt(nullptr, 10, key.get(), M_PGP_SYMALG_AES256, &out, &len));
	EXPECT_EQ(out, nullptr);
	EXPECT_EQ(len, 0u);

	/* NULL out, out_len or key. */
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), key.get(), M_PGP_SYMALG_AES256, nullptr, &len));
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), key.get(), M_PGP_SYMALG_AES256, &out, nullptr));
	out = reinterpret_cast<unsigned char *>(0x1);
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), nullptr, M_PGP_SYMALG_AES256, &out, &len));

	/* A failure sets out and out_len to nothing. */
	out = reinterpret_cast<unsigned char *>(0x1);
	len = 99;
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), key.get(), static_cast<M_pgp_symalg_t>(1), &out, &len));
	EXPECT_EQ(out, nullptr);
	EXPECT_EQ(len, 0u);
}

/* ---------------------------------------------------------------------------
 * Internals: the cipher table, CFB and the compressor
 * ------------------------------------------------------------------------- */

TEST(pgp_encrypt_detail, cipher_table)
{
	for (const symalg_case &a : symalgs) {
		const m::detail::symalg_info *info = m::detail::symalg_lookup(a.symalg);
		ASSERT_NE(info, nullptr) << a.name;
		EXPECT_EQ(info->pgp_id, a.pgp_id) << a.name;
		EXPECT_EQ(info->block_size, a.bs) << a.name;
		EXPECT_EQ(info->key_size, a.key_size) << a.name;
	}
	EXPECT_EQ(m::detail::symalg_lookup(static_cast<M_pgp_symalg_t>(0)), nullptr);
	EXPECT_EQ(m::detail::symalg_lookup(static_cast<M_pgp_symalg_t>(1)), nullptr);
}

TEST(pgp_encrypt_detail, do_encrypt_cfb_is_full_block_cfb)
{
	unsigned char key[32], iv[16], in[1000], out[1000];
	ASSERT_EQ(RAND_bytes(key, sizeof(key)), 1);
	ASSERT_EQ(RAND_bytes(iv, sizeof(iv)), 1);
	ASSERT_EQ(RAND_bytes(in, sizeof(in)), 1);
	for (const symalg_case &a : symalgs) {
		SCOPED_TRACE(a.name);
		/* Odd lengths too: CFB needs no padding. */
		for (size_t len : {(size_t)1, a.bs, a.bs + 2, (size_t)999}) {
			ASSERT_EQ(m::detail::do_encrypt_cfb(out, a.symalg, key, iv, in, len), len);
			const bytes back = cfb_decrypt(a, bytes(key, key + a.key_size), iv, out, len);
			EXPECT_TRUE(std::equal(back.begin(), back.end(), in)) << len;
		}
		/* Each call starts a fresh stream: same inputs, same output. */
		unsigned char again[1000];
		ASSERT_EQ(m::detail::do_encrypt_cfb(again, a.symalg, key, iv, in, 999), 999u);
		EXPECT_EQ(std::memcmp(again, out, 999), 0);
	}

	EXPECT_EQ(m::detail::do_encrypt_cfb(nullptr, M_PGP_SYMALG_AES256, key, iv, in, 10), 0u);
	EXPECT_EQ(m::detail::do_encrypt_cfb(out, M_PGP_SYMALG_AES256, nullptr, iv, in, 10), 0u);
	EXPECT_EQ(m::detail::do_encrypt_cfb(out, M_PGP_SYMALG_AES256, key, nullptr, in, 10), 0u);
	EXPECT_EQ(m::detail::do_encrypt_cfb(out, M_PGP_SYMALG_AES256, key, iv, nullptr, 10), 0u);
	EXPECT_EQ(m::detail::do_encrypt_cfb(out, static_cast<M_pgp_symalg_t>(0), key, iv, in, 10), 0u);
}

/* The compressed packet is made without joining the literal packet's header
 * and the data first: zlib (the oracle) must inflate the stream to exactly
 * the head and then the data, checking the Adler-32 over both. */
TEST(pgp_encrypt_detail, compress_after_head_inflates_to_head_then_data)
{
	const bytes literal_head = {0xAE, 0, 0, 0, 6, 'b', 0, 0, 0, 0, 0};
	struct row {
		const char *what;
		bytes       head;
		bytes       src;
	};
	const row rows[] = {
	    {"packet header, no data", literal_head, bytes()},
	    {"packet header, every byte value", literal_head, all_byte_values()},
	    {"packet header, CSV text", literal_head, csv_text(100000)},
	    {"one-byte head", bytes(1, 0xFF), csv_text(1000)},
	    {"longest head", bytes(65535, 0x5A), csv_text(1000)},
	};
	for (const row &r : rows) {
		const size_t bound = m::detail::compress_after_head_bound(r.head.size(), r.src.size());
		ASSERT_GT(bound, 0u) << r.what;
		bytes  dst(bound);
		size_t n = bound;
		ASSERT_TRUE(m::detail::compress_after_head(dst.data(), &n, r.head.data(), r.head.size(),
		                                           r.src.empty() ? nullptr : r.src.data(), r.src.size()))
		    << r.what;
		ASSERT_LE(n, bound) << r.what;
		bytes  back(r.head.size() + r.src.size() + 1);
		uLongf bl = (uLongf)back.size();
		ASSERT_EQ(uncompress(back.data(), &bl, dst.data(), (uLong)n), Z_OK) << r.what;
		back.resize(bl);
		bytes want = r.head;
		want.insert(want.end(), r.src.begin(), r.src.end());
		EXPECT_TRUE(back == want) << r.what;
	}

	unsigned char       d[64];
	const unsigned char h[1] = {1};
	size_t              n    = sizeof(d);
	EXPECT_FALSE(m::detail::compress_after_head(nullptr, &n, h, 1, h, 1));
	EXPECT_FALSE(m::detail::compress_after_head(d, nullptr, h, 1, h, 1));
	EXPECT_FALSE(m::detail::compress_after_head(d, &n, nullptr, 1, h, 1));
	EXPECT_FALSE(m::detail::compress_after_head(d, &n, h, 0, h, 1));
	EXPECT_FALSE(m::detail::compress_after_head(d, &n, h, 65536, h, 1));
	EXPECT_FALSE(m::detail::compress_after_head(d, &n, h, 1, nullptr, 1));
	/* Too little room is an error, not a cut stream. */
	const bytes big = all_byte_values();
	EXPECT_FALSE(m::detail::compress_after_head(d, &n, h, 1, big.data(), big.size()));
	EXPECT_EQ(n, sizeof(d));
	EXPECT_EQ(m::detail::compress_after_head_bound(0, 1), 0u);
	EXPECT_EQ(m::detail::compress_after_head_bound(65536, 1), 0u);
}

/* Two pieces compressed on two threads and joined must inflate to the same
 * bytes as one piece, wherever the cut falls: the first piece ending in a
 * stored, fixed or dynamic block, at any bit offset. */
TEST(pgp_encrypt_detail, compress_after_head_in_two_pieces_inflates_the_same)
{
	const bytes head = {0xAE, 0, 0, 0, 6, 'b', 0, 0, 0, 0, 0};
	bytes       noise(300000);
	uint32_t    x = 12345;
	for (unsigned char &c : noise)
		c = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 24);
	const bytes text = csv_text(200000);
	for (const bytes *src : std::initializer_list<const bytes *>{&text, &noise}) {
		const size_t bound = m::detail::compress_after_head_bound(head.size(), src->size());
		for (size_t split : {size_t(1), size_t(7), size_t(1000), src->size() / 3, src->size() / 2, src->size() - 1}) {
			bytes  dst(bound);
			size_t n = bound;
			ASSERT_TRUE(m::detail::compress_after_head(dst.data(), &n, head.data(), head.size(), src->data(),
			                                           src->size(), split))
			    << split;
			bytes  back(head.size() + src->size() + 1);
			uLongf bl = (uLongf)back.size();
			ASSERT_EQ(uncompress(back.data(), &bl, dst.data(), (uLong)n), Z_OK) << split;
			EXPECT_TRUE(bytes(back.begin() + (long)head.size(), back.begin() + (long)bl) == *src) << split;
		}
	}
	unsigned char d[64];
	size_t        n = sizeof(d);
	EXPECT_FALSE(m::detail::compress_after_head(d, &n, head.data(), head.size(), text.data(), 10, 10));
	EXPECT_EQ(m::detail::compress_split_point(1000), 0u);
}

TEST(pgp_encrypt_detail, cipher_without_provider_fails_cleanly)
{
	/* A fresh process whose OpenSSL cannot find its legacy provider: CAST5
     * and Blowfish must fail as unavailable, the rest keep working. */
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(
	    {
		    setenv("OPENSSL_MODULES", "/nonexistent-openssl-modules", 1);
		    key_ptr key = load_key("rsa2048.asc");
		    int     bad = 0;
		    for (const symalg_case &a : symalgs) {
			    bytes      msg;
			    const bool legacy = a.symalg == M_PGP_SYMALG_CAST5 || a.symalg == M_PGP_SYMALG_BLOWFISH;
			    if (encrypt(csv_text(100), key.get(), a.symalg, msg) == legacy)
				    bad++;
		    }
		    std::_Exit(bad);
	    },
	    ::testing::ExitedWithCode(0), "");
}
