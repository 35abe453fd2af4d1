/* Encryption to a public key. gpg is the oracle: it decrypts every cipher with
 * every kind of key in both message forms, messages of many pieces among
 * them, and lists the packets. Besides: the failures, the order pieces must
 * keep, and the joining of pieces against zlib (the block walk has its own
 * oracle in fuzz_deflate_walk, whose corpus every build replays). */
#include <memory>
#include <tuple>

#include <zlib.h>

#include "pgp/pgp_deflate_int.h"
#include "pgp/pgp_encrypt.h"
#include "pgp/pgp_pubkey.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp_test_util.h"

using namespace pgp_test;

namespace {

struct symalg_case {
	M_pgp_symalg_t symalg;
	const char    *name;
	unsigned       pgp_id;
	size_t         key_size;
};

const symalg_case symalgs[] = {{M_PGP_SYMALG_3DES, "3DES", 2, 24},         {M_PGP_SYMALG_CAST5, "CAST5", 3, 16},
                               {M_PGP_SYMALG_BLOWFISH, "BLOWFISH", 4, 16}, {M_PGP_SYMALG_AES128, "AES128", 7, 16},
                               {M_PGP_SYMALG_AES192, "AES192", 8, 24},     {M_PGP_SYMALG_AES256, "AES256", 9, 32}};

using key_ptr = std::unique_ptr<M_pgp_pubkey_t, void (*)(M_pgp_pubkey_t *)>;

key_ptr load_key(const std::string &file)
{
	const bytes data     = read_file(key_path(file));
	char        err[256] = "";
	key_ptr     k(M_pgp_pubkey_create(data.data(), data.size(), err, sizeof(err)), M_pgp_pubkey_destroy);
	EXPECT_NE(k, nullptr) << err;
	return k;
}

/* A key straight from a key packet body, without the reader's judgement of
 * signatures and numbers: the encryption's own checks need keys it refuses. */
key_ptr key_from_packet(const bytes &body)
{
	char    err[256] = "";
	key_ptr k(m::detail::pgp_read_key_packet(body.data(), body.size(), err, sizeof(err)), M_pgp_pubkey_destroy);
	EXPECT_NE(k, nullptr) << err;
	return k;
}

/* Encrypts data (flags 0 through the plain entry point); the input buffer
 * must come back empty either way. */
bool encrypt(const bytes &data, const M_pgp_pubkey_t *key, M_pgp_symalg_t alg, bytes &msg, unsigned flags = 0)
{
	M_buf_t *in = M_buf_create(), *out = M_buf_create();
	M_buf_add_bytes(in, data.data(), data.size());
	const bool ok = flags == 0 ? M_pgp_encrypt_buf(out, in, key, alg) : M_pgp_encrypt_buf_ex(out, in, key, alg, flags);
	EXPECT_EQ(M_buf_len(in), 0u);
	const std::string written = test_util::take(out);
	msg.assign(written.begin(), written.end());
	M_buf_cancel(in);
	return ok;
}

/* The first number of the session key packet (RSA c, Elgamal a, the ECDH
 * ephemeral point), after tag, length, version, key ID and algorithm. */
bytes first_mpi(const bytes &m)
{
	if (m.size() < 17)
		return {};
	const size_t n = ((size_t)m[15] << 8 | m[16]) + 7;
	return m.size() < 17 + n / 8 ? bytes() : bytes(m.begin() + 17, m.begin() + 17 + (long)(n / 8));
}

bytes all_byte_values()
{
	bytes b;
	for (int r = 0; r < 3; r++)
		for (int v = 0; v < 256; v++)
			b.push_back((unsigned char)(r == 1 ? 255 - v : v));
	return b;
}

/* CSV-like text of size bytes, deterministic. */
bytes csv_text(size_t size)
{
	std::string s;
	for (unsigned row = 0; s.size() < size; row++)
		s += std::to_string(row) + ",\"merchant" + std::to_string(row * 7919 % 97) + "\"," +
		     std::to_string(row * 2654435761u) + "," + std::to_string(row % 12 + 1) + "/27\r\n";
	return bytes(s.begin(), s.begin() + (long)size);
}

} // namespace

#if M_TEST_POSIX /* Linux only: gpg, the peer that opens our messages, runs through a POSIX shell */
/* -- gpg opens what we write. One GnuPG home holds every secret key. -- */

class pgp_encrypt : public ::testing::Test {
  protected:
	static void SetUpTestSuite()
	{
		home_     = std::make_unique<gpg_home>();
		imported_ = home_->ok();
		for (const char *k : {"rsa2048", "rsa4096", "elg2048", "cv25519", "p256", "p384", "p521"})
			imported_ = imported_ && home_->import(key_path(std::string(k) + ".sec.asc"));
	}
	static void TearDownTestSuite()
	{
		home_.reset();
	}
	void SetUp() override
	{
		ASSERT_TRUE(imported_) << "gpg could not set up its home";
	}

	/* Runs gpg with args on msg; its standard error goes to err.txt. */
	static int gpg_on(const bytes &msg, const std::string &args, std::string *out = nullptr)
	{
		const std::string in = home_->file("msg.gpg");
		std::ofstream(in, std::ios::binary | std::ios::trunc).write((const char *)msg.data(), (long)msg.size());
		return run(home_->gpg(args + " " + shell_quote(in) + " 2>" + shell_quote(home_->file("err.txt"))), out);
	}

	/* Encrypts input (through the byte-array entry point if asked) and has
     * gpg decrypt it, checking the MDC of the integrity-protected form: the
     * plaintext must be input, the session key gpg recovered of our
     * algorithm and key size. */
	static void round_trip(const M_pgp_pubkey_t *key, const symalg_case &a, unsigned flags, const bytes &input,
	                       bool byte_array = false)
	{
		bytes          msg;
		unsigned char *arr = nullptr;
		size_t         len = 0;
		if (byte_array) {
			ASSERT_TRUE(M_pgp_encrypt(input.data(), input.size(), key, a.symalg, &arr, &len));
			msg.assign(arr, arr + len);
			EXPECT_EQ(arr[len], 0) << "terminated after the message";
			M_free(arr);
		} else {
			ASSERT_TRUE(encrypt(input, key, a.symalg, msg, flags));
		}
		const std::string out = home_->file("plain.bin");
		std::remove(out.c_str());
		EXPECT_EQ(gpg_on(msg, std::string(flags == 0 ? "--ignore-mdc-error " : "") + "--show-session-key --output " +
		                          shell_quote(out) + " --decrypt"),
		          0);
		EXPECT_TRUE(read_file(out) == input) << read_file(out).size() << " bytes back, " << input.size() << " sent";
		const std::string err = read_text(home_->file("err.txt"));
		const std::string tag = "session key: '" + std::to_string(a.pgp_id) + ":";
		const size_t      p   = err.find(tag);
		ASSERT_NE(p, std::string::npos) << err;
		EXPECT_EQ(err.find('\'', p + tag.size()) - p - tag.size(), 2 * a.key_size) << err;
	}

	static inline std::unique_ptr<gpg_home> home_;
	static inline bool                      imported_ = false;
};

/* Every cipher with RSA and Elgamal in both forms, and with ECDH on every
 * curve (session key blocks of 19, 27 and 35 bytes, padded to 24, 32 and
 * 40), the forms taking turns; the inputs take turns too (text, empty, one
 * byte, every byte value, the last through the byte-array form when it is
 * the old one), so that each meets every key kind in both forms. */
TEST_F(pgp_encrypt, gpg_decrypts_every_cipher_with_every_key_kind)
{
	const bytes inputs[] = {csv_text(3000), {}, {0x00}, all_byte_values()};
	for (const char *name : {"rsa4096.gpg", "elg2048.hdr.asc", "cv25519.asc", "p256.asc", "p384.asc", "p521.asc"}) {
		key_ptr key = load_key(name);
		ASSERT_NE(key, nullptr);
		const bool ecdh = key->type == M_PGP_PUBKEY_TYPE_ECDH;
		for (size_t i = 0; i < std::size(symalgs); i++) {
			for (unsigned flags : {0u, (unsigned)M_PGP_ENCRYPT_MDC}) {
				if (ecdh && (flags != 0) != (i % 2 == 1))
					continue;
				SCOPED_TRACE(std::string(name) + " " + symalgs[i].name + (flags != 0 ? " MDC" : ""));
				round_trip(key.get(), symalgs[i], flags, inputs[i % 4], flags == 0 && i == 3);
			}
		}
	}
}

/* Messages of pieces in both forms: the last piece short, or empty after
 * full ones (the first piece takes six bytes less of data than the others).
 * Pieces compressed out of order: the pool's tests (test_tokenexp, the
 * end-to-end test_parallel). */
TEST_F(pgp_encrypt, gpg_decrypts_messages_of_pieces)
{
	key_ptr rsa = load_key("rsa2048.asc");
	ASSERT_NE(rsa, nullptr);
	const size_t piece = M_PGP_PIECE_LEN;
	bytes        text  = csv_text(2 * piece + 300000);
	for (unsigned char c : all_byte_values())
		text.insert(text.begin() + 150000, c);
	for (size_t len : {size_t(0), size_t(1), piece - 6, piece, 2 * piece - 6, text.size()}) {
		for (unsigned flags : {0u, (unsigned)M_PGP_ENCRYPT_MDC}) {
			SCOPED_TRACE(std::to_string(len) + " bytes, flags " + std::to_string(flags));
			round_trip(rsa.get(), symalgs[5], flags, bytes(text.begin(), text.begin() + (long)len));
		}
	}
}

/* The packets as gpg lists them: old-format 4-byte lengths in the old
 * form; new-format headers in the integrity-protected one, with definite
 * lengths while a message is short, partial ones once it is not. */
TEST_F(pgp_encrypt, gpg_lists_the_packets)
{
	key_ptr rsa = load_key("rsa2048.asc");
	ASSERT_NE(rsa, nullptr);
	const std::string lit = "ctb=ae tag=11 hlen=5 plen=5006";
	const struct {
		unsigned                 flags;
		size_t                   input;
		std::vector<std::string> present, absent;
	} lists[] = {{0,
	              5000,
	              {"# off=0 ctb=86 tag=1 hlen=5", ":pubkey enc packet: version 3, algo 1, keyid " + hex(rsa->key_id, 8),
	               "ctb=a6 tag=9 hlen=5", ":encrypted data packet:", "ctb=a2 tag=8 hlen=5",
	               ":compressed packet: algo=2", lit, "mode b (62), created 0, name=\"\",", "raw data: 5000 bytes"},
	              {"mdc_method"}},
	             /* tag 18, read as using the SHA-1 MDC */
	             {M_PGP_ENCRYPT_MDC,
	              5000,
	              {"# off=0 ctb=86 tag=1 hlen=5", "ctb=d2 tag=18 hlen=3", "new-ctb", "mdc_method: 2",
	               "ctb=c8 tag=8 hlen=3", "ctb=cb tag=11 hlen=3 plen=5006", "raw data: 5000 bytes"},
	              {"ctb=a6", "partial"}},
	             {M_PGP_ENCRYPT_MDC,
	              M_PGP_PIECE_LEN + 10,
	              {"ctb=d2 tag=18 hlen=2 plen=0 partial new-ctb", "mdc_method: 2",
	               "ctb=c8 tag=8 hlen=2 plen=0 partial new-ctb", "ctb=cb tag=11 hlen=2 plen=0 partial new-ctb",
	               "mode b (62), created 0, name=\"\",", "raw data: unknown length"},
	              {}}};
	for (const auto &l : lists) {
		bytes msg;
		ASSERT_TRUE(encrypt(csv_text(l.input), rsa.get(), M_PGP_SYMALG_AES256, msg, l.flags));
		std::string list;
		gpg_on(msg, "--ignore-mdc-error --list-packets", &list);
		for (const std::string &s : l.present)
			EXPECT_NE(list.find(s), std::string::npos) << s << "\n" << list;
		for (const std::string &s : l.absent)
			EXPECT_EQ(list.find(s), std::string::npos) << s << "\n" << list;
	}
}

#endif

/* The byte-array form: empty input is a success with nothing allocated; a
 * failure sets out and out_len to nothing; a missing key leaves them alone. */
TEST(pgp_encrypt_fail, byte_array_form)
{
	key_ptr       key  = load_key("rsa2048.gpg");
	unsigned char mark = 0, *out = &mark;
	size_t        len  = 99;
	const bytes   data = csv_text(10);
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), nullptr, M_PGP_SYMALG_AES256, &out, &len));
	EXPECT_EQ(out, &mark);
	EXPECT_EQ(len, 99u);
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), key.get(), M_PGP_SYMALG_AES256, nullptr, &len));
	EXPECT_FALSE(M_pgp_encrypt(data.data(), data.size(), key.get(), M_PGP_SYMALG_AES256, &out, nullptr));
	using row = std::tuple<const unsigned char *, size_t, M_pgp_symalg_t, bool>;
	for (const auto &[d, n, alg, ok] :
	     {row{nullptr, 10, M_PGP_SYMALG_AES256, true}, row{data.data(), 0, M_PGP_SYMALG_AES256, true},
	      row{data.data(), 10, static_cast<M_pgp_symalg_t>(1), false}}) {
		out = &mark;
		len = 99;
		EXPECT_EQ(M_pgp_encrypt(d, n, key.get(), alg, &out, &len), ok);
		EXPECT_EQ(out, nullptr);
		EXPECT_EQ(len, 0u);
	}
}

TEST(pgp_encrypt_layout, fresh_session_and_ephemeral_keys_every_time)
{
	/* (And the key's size: its number's bits, or its curve's.) */
	for (const auto &[file, bits] : {std::pair{"rsa2048.asc", 2048u}, {"p256.asc", 256u}, {"cv25519.asc", 255u}}) {
		key_ptr key = load_key(file);
		ASSERT_NE(key, nullptr);
		EXPECT_EQ(M_pgp_pubkey_bits(key.get()), bits) << file;
		bytes m1, m2;
		ASSERT_TRUE(encrypt(csv_text(100), key.get(), M_PGP_SYMALG_AES256, m1));
		ASSERT_TRUE(encrypt(csv_text(100), key.get(), M_PGP_SYMALG_AES256, m2));
		EXPECT_FALSE(first_mpi(m1).empty()) << file;
		EXPECT_NE(first_mpi(m1), first_mpi(m2)) << file;
		EXPECT_TRUE(std::equal(m1.begin() + 5, m1.begin() + 15, m2.begin() + 5)) << file;
	}
}

/* -- Failures: false, and the input always left empty -- */

TEST(pgp_encrypt_fail, modulus_too_short_for_the_session_key_block)
{
	/* The smallest modulus in bytes: key size + 3 + 11. */
	const std::pair<M_pgp_symalg_t, size_t> rows[] = {
	    {M_PGP_SYMALG_CAST5, 30}, {M_PGP_SYMALG_AES192, 38}, {M_PGP_SYMALG_AES256, 46}};
	for (const auto &[alg, least] : rows) {
		for (unsigned char kind : {1, 16}) {
			auto body = [&](size_t n) {
				return kind == 1 ? rsa_body(n, (unsigned)n)
				                 : key_body(4, 16, {mpi(number(n, (unsigned)n)), mpi({2}), mpi(number(n - 1, 9))});
			};
			key_ptr ok = key_from_packet(body(least)), bad = key_from_packet(body(least - 1));
			ASSERT_TRUE(ok && bad);
			bytes msg;
			EXPECT_TRUE(encrypt(csv_text(50), ok.get(), alg, msg)) << least << " " << int(kind);
			EXPECT_FALSE(encrypt(csv_text(50), bad.get(), alg, msg)) << least << " " << int(kind);
			EXPECT_TRUE(msg.empty()) << "nothing of a failed message is left";
		}
	}
	/* Below 11 bytes no selector has room, not even for empty input. */
	key_ptr tiny = key_from_packet(rsa_body(10));
	bytes   msg;
	EXPECT_FALSE(encrypt({}, tiny.get(), M_PGP_SYMALG_CAST5, msg));
}

/* Every failure leaves the input empty and out emptied of what it held. (A
 * modulus too short for the session key: the test above.) */
TEST(pgp_encrypt_fail, failures_leave_input_and_output_empty)
{
	key_ptr rsa = load_key("rsa2048.asc");
	ASSERT_NE(rsa, nullptr);
	auto changed = [](const char *file, auto change) {
		key_ptr k = load_key(file);
		change(*k);
		return k;
	};
	key_ptr odd_type  = changed("rsa2048.asc", [](M_pgp_pubkey &k) { k.type = 5; });
	key_ptr elg_no_y  = changed("rsa2048.asc", [](M_pgp_pubkey &k) { k.type = M_PGP_PUBKEY_TYPE_ELGAMAL; });
	key_ptr off_curve = changed("p256.asc", [](M_pgp_pubkey &k) { k.ecdh.point[64] ^= 1; });
	key_ptr kdf_hash  = changed("p256.asc", [](M_pgp_pubkey &k) { k.ecdh.kdf_hash = 2; });
	key_ptr kdf_wrap  = changed("p256.asc", [](M_pgp_pubkey &k) { k.ecdh.kdf_cipher = 3; });
	key_ptr curve     = changed("p256.asc", [](M_pgp_pubkey &k) { k.ecdh.curve = 9; });
	key_ptr no_e      = load_key("rsa2048.asc");
	BIGNUM *e         = no_e->e_g;
	no_e->e_g         = nullptr;

	const struct {
		const char           *what;
		const M_pgp_pubkey_t *key;
		int                   alg;
		unsigned              flags;
		size_t                input;
	} rows[]    = {{"no key", nullptr, M_PGP_SYMALG_AES256, 0, 1000},
	               {"unknown selector 1", rsa.get(), 1, 0, 1000},
	               {"unknown selector, empty input", rsa.get(), 1, 0, 0},
	               {"unknown flag 2", rsa.get(), M_PGP_SYMALG_AES256, 2, 1000},
	               {"key of unknown type", odd_type.get(), M_PGP_SYMALG_AES256, 0, 10},
	               {"Elgamal without y", elg_no_y.get(), M_PGP_SYMALG_AES256, 0, 10},
	               {"RSA without e", no_e.get(), M_PGP_SYMALG_AES256, 0, 10},
	               {"ECDH point off the curve", off_curve.get(), M_PGP_SYMALG_AES256, 0, 10},
	               {"ECDH derivation hash outside the table", kdf_hash.get(), M_PGP_SYMALG_AES256, 0, 10},
	               {"ECDH key wrap cipher outside the table", kdf_wrap.get(), M_PGP_SYMALG_AES256, 0, 10},
	               {"ECDH unknown curve", curve.get(), M_PGP_SYMALG_AES256, 0, 10}};
	M_buf_t *in = M_buf_create(), *out = M_buf_create();
	for (const auto &r : rows) {
		const bytes data = csv_text(r.input);
		M_buf_add_bytes(in, data.data(), data.size());
		M_buf_add_bytes(out, "old contents", 12);
		const auto alg = static_cast<M_pgp_symalg_t>(r.alg);
		EXPECT_FALSE(r.flags == 0 ? M_pgp_encrypt_buf(out, in, r.key, alg)
		                          : M_pgp_encrypt_buf_ex(out, in, r.key, alg, r.flags))
		    << r.what;
		EXPECT_EQ(M_buf_len(in) + M_buf_len(out), 0u) << r.what;
	}
	no_e->e_g      = e; /* given back, and the right types, so that destroy frees the numbers */
	odd_type->type = M_PGP_PUBKEY_TYPE_RSA;
	elg_no_y->type = M_PGP_PUBKEY_TYPE_RSA;

	/* Without out the input is still consumed; one buffer as both would
     * lose the data. */
	for (M_buf_t *o : {(M_buf_t *)nullptr, in}) {
		M_buf_add_bytes(in, "data", 4);
		EXPECT_FALSE(M_pgp_encrypt_buf(o, in, rsa.get(), M_PGP_SYMALG_AES256));
		EXPECT_EQ(M_buf_len(in), 0u);
	}
	EXPECT_FALSE(M_pgp_encrypt_buf(out, nullptr, rsa.get(), M_PGP_SYMALG_AES256));
	/* Old contents are replaced, not appended to. */
	M_buf_add_bytes(in, "data", 4);
	M_buf_add_bytes(out, "old", 3);
	EXPECT_TRUE(M_pgp_encrypt_buf(out, in, rsa.get(), M_PGP_SYMALG_AES256));
	EXPECT_EQ(M_buf_peek(out)[0], '\x86');
	M_buf_cancel(in);
	M_buf_cancel(out);
}

namespace {

/* The stream of data as one piece, left open or the last. */
bytes piece_stream(M_pgp_deflater_t *d, const bytes &data, bool last)
{
	bytes out(m::detail::deflate_piece_bound(data.size()));
	out.resize(
	    m::detail::deflate_piece(d, data.empty() ? nullptr : data.data(), data.size(), out.data(), out.size(), last));
	return out;
}

/* What zlib inflates a raw stream to, when it ends exactly at the input's
 * end; a marker byte string otherwise. */
bytes inflate_raw(const bytes &stream)
{
	z_stream z{};
	EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
	bytes out(1 << 20), got;
	z.next_in  = const_cast<Bytef *>(stream.data());
	z.avail_in = (uInt)stream.size();
	int rc     = Z_OK;
	while (rc == Z_OK) {
		z.next_out  = out.data();
		z.avail_out = (uInt)out.size();
		rc          = inflate(&z, Z_NO_FLUSH);
		got.insert(got.end(), out.data(), z.next_out);
	}
	inflateEnd(&z);
	return rc == Z_STREAM_END && z.avail_in == 0 ? got : bytes{'!', '!'};
}

} // namespace

/* Pieces left open join into one stream that zlib (the oracle) inflates to
 * exactly their bytes in order, whatever block ends the open piece (fixed
 * ones of every length, so at every bit offset, stored and dynamic ones);
 * the last piece's stream stays closed. */
TEST(pgp_encrypt_detail, open_pieces_join_into_one_stream)
{
	M_pgp_deflater_t *d = M_pgp_deflater_create();
	bytes             noise(70000);
	uint32_t          x = 12345;
	for (unsigned char &c : noise)
		c = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 24);
	std::vector<bytes> firsts = {{}, noise, csv_text(200000), all_byte_values()};
	for (size_t n = 1; n <= 24; n++)
		firsts.push_back(csv_text(n));
	const bytes second = csv_text(3000);
	for (const bytes &first : firsts) {
		const bytes joined =
		    cat({piece_stream(d, first, false), piece_stream(d, second, false), piece_stream(d, first, true)});
		EXPECT_TRUE(inflate_raw(joined) == cat({first, second, first})) << first.size();
	}
	EXPECT_TRUE(inflate_raw(piece_stream(d, noise, false)) == bytes({'!', '!'})) << "an open piece does not end";
	unsigned char room[4];
	EXPECT_EQ(m::detail::deflate_piece(d, noise.data(), noise.size(), room, sizeof(room), true), 0u) << "no room";
	EXPECT_EQ(m::detail::deflate_piece(nullptr, noise.data(), 1, room, sizeof(room), true), 0u);
	M_pgp_deflater_destroy(d);
}

/* Pieces keep their order and their sizes: every misuse fails the message. */
TEST(pgp_encrypt_fail, pieces_keep_their_order)
{
	key_ptr rsa = load_key("rsa2048.asc");
	ASSERT_NE(rsa, nullptr);
	const bytes data = csv_text(1 << 20);
	const struct {
		const char *what;
		bool        a_full, a_last, begin_b;
		const char *appends;
		bool        ok;
	} rows[] = {{"in order", true, false, true, "ab", true},
	            {"a short piece left open", false, false, true, "ab", false},
	            {"out of order", true, false, true, "ba", false},
	            {"open at the finish", true, false, false, "a", false},
	            {"begun, not appended", false, true, true, "a", false},
	            {"two last pieces", false, true, true, "ab", false}};
	for (const auto &r : rows) {
		bytes             msg;
		M_pgp_msg_t      *g    = M_pgp_msg_create(rsa.get(), M_PGP_SYMALG_AES256, M_PGP_ENCRYPT_MDC, add_to, &msg);
		M_pgp_deflater_t *d    = M_pgp_deflater_create();
		M_pgp_piece_t    *p[2] = {M_pgp_piece_create(), M_pgp_piece_create()};
		bool              ok   = M_pgp_msg_piece(g, p[0]);
		do
			(void)M_pgp_piece_add(p[0], data.data(), data.size());
		while (r.a_full && !M_pgp_piece_full(p[0]));
		EXPECT_EQ(M_pgp_piece_state(p[0]), M_PGP_PIECE_FILLING);
		ok = M_pgp_piece_compress(p[0], d, r.a_last) && ok;
		EXPECT_EQ(M_pgp_piece_state(p[0]), M_PGP_PIECE_COMPRESSED) << r.what << ": even when it failed";
		EXPECT_EQ(M_pgp_piece_add(p[0], data.data(), 1), 0u) << "compressed: takes nothing";
		if (r.begin_b)
			ok = M_pgp_msg_piece(g, p[1]) && M_pgp_piece_add(p[1], data.data(), 9) == 9 &&
			     M_pgp_piece_compress(p[1], d, M_TRUE) && ok;
		for (const char *c = r.appends; *c != '\0'; c++)
			ok = M_pgp_msg_append(g, p[*c - 'a']) && ok;
		EXPECT_EQ(M_pgp_msg_last_appended(g), r.a_last || r.ok) << r.what;
		ok = M_pgp_msg_finish(g) && ok;
		EXPECT_EQ(ok, r.ok) << r.what;
		EXPECT_FALSE(M_pgp_msg_piece(g, p[0])) << r.what << ": finished, takes no piece";
		M_pgp_piece_destroy(p[0]);
		M_pgp_piece_destroy(p[1]);
		M_pgp_deflater_destroy(d);
		M_pgp_msg_destroy(g);
	}
}
