/* The public key reader: subkey and primary key signatures, and one table of
 * hand-made inputs (armour, packet framing, fields) with the exact message or
 * key ID each gives. Keys made by gpg are read in every form by the gpg round
 * trips of test_pgp_encrypt (gpg finds its secret key by the key ID we write)
 * and, with a real keyring, by the end-to-end test_keyring. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "pgp/pgp_pubkey.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp_test_util.h"

using namespace pgp_test;

namespace {

constexpr const char *NO_ARMOR  = "failed to locate base64 block in ascii-armored data";
constexpr const char *NO_KEY    = "no public key contained in buffer";
constexpr const char *NO_USABLE = "no usable encryption subkey (revoked, expired or not for encryption)";
constexpr const char *KEY_DEAD  = "public key is revoked or expired";
const std::string     SANITY    = "read_pubkey_from_parser: failed sanity check ";
const std::string     NOT_TAG   = SANITY + "packet_tag & 0x80";

/* The key (or nullptr) and the message left behind. */
struct parse_result {
	M_pgp_pubkey_t *key = nullptr;
	std::string     error;
	~parse_result()
	{
		M_pgp_pubkey_destroy(key);
	}
};

void parse(const bytes &data, parse_result &r)
{
	/* Empty until the reader writes: a failure without a message shows. */
	char err[256] = "";
	r.key         = M_pgp_pubkey_create(data.empty() ? nullptr : data.data(), data.size(), err, sizeof(err));
	r.error       = r.key == nullptr ? std::string(err) : std::string();
}

std::string parse_error(const bytes &data)
{
	parse_result r;
	parse(data, r);
	EXPECT_EQ(r.key, nullptr);
	return r.error;
}

/* The key ID read, or "error: <message>". */
std::string outcome(const bytes &data)
{
	parse_result r;
	parse(data, r);
	return r.key != nullptr ? hex(r.key->key_id, 8) : "error: " + r.error;
}

bytes text(const std::string &s)
{
	return bytes(s.begin(), s.end());
}

} // namespace

/* -- Signatures decide which subkey is used and whether the key is alive -- */

namespace {

/* A signature subpacket: length (type included), type, data. */
bytes subpacket(unsigned type, const bytes &data)
{
	const size_t n = data.size() + 1;
	bytes        p = n < 192 ? bytes{(unsigned char)n}
	                         : bytes{(unsigned char)(((n - 192) >> 8) + 192), (unsigned char)((n - 192) & 0xff)};
	return cat({p, {(unsigned char)type}, data});
}

bytes be32_bytes(uint32_t v)
{
	return {(unsigned char)(v >> 24), (unsigned char)(v >> 16), (unsigned char)(v >> 8), (unsigned char)v};
}

/* A version-4 signature packet with the given hashed and unhashed areas. */
bytes sig4(unsigned type, const bytes &hashed, const bytes &unhashed = {})
{
	auto len = [](const bytes &a) { return bytes{(unsigned char)(a.size() >> 8), (unsigned char)(a.size() & 0xff)}; };
	return new_packet(2, cat({{4, (unsigned char)type, 1, 8},
	                          len(hashed),
	                          hashed,
	                          len(unhashed),
	                          unhashed,
	                          {0xab, 0xcd},
	                          mpi(number(32, 77))}));
}

/* Hashed area of a binding signature: creation time, then optional fields. */
bytes bind_area(uint32_t created, int flags = -1, uint32_t expire = 0, bool has_expire = false)
{
	bytes h = subpacket(2, be32_bytes(created));
	if (flags >= 0)
		h = cat({h, subpacket(27, {(unsigned char)flags})});
	if (has_expire)
		h = cat({h, subpacket(9, be32_bytes(expire))});
	return h;
}

} // namespace

TEST(pgp_pubkey, signatures_after_a_subkey_decide_its_use)
{
	/* key_body() gives every subkey the creation time 0x5f010203 (2020). */
	const bytes    a_body = rsa_body(64, 41), b_body = rsa_body(64, 42);
	const bytes    a = new_packet(TAG_PUBSUBKEY, a_body), b = new_packet(TAG_PUBSUBKEY, b_body);
	const uint32_t t1 = 0x5f100000, t2 = 0x5f200000, day = 86400, forever = 0x7fffffff;
	const bytes    revoke = sig4(0x28, subpacket(2, be32_bytes(t2)));
	/* version-3 revocation: version, 5, type, time, issuer, algorithms, left 16 */
	const bytes revoke3 = new_packet(
	    2, cat({bytes{3, 5, 0x28}, be32_bytes(t1), bytes(8, 0x11), bytes{1, 8, 0xab, 0xcd}, mpi(number(32, 5))}));

	const struct {
		const char *what;
		bytes       after_a; /* packets between subkey A and subkey B */
		char        taken;
	} cases[] = {
	    {"no signature", {}, 'A'},
	    {"binding without key flags", sig4(0x18, bind_area(t1)), 'A'},
	    {"flags: encrypt communications", sig4(0x18, bind_area(t1, 0x04)), 'A'},
	    {"flags: encrypt storage", sig4(0x18, bind_area(t1, 0x08)), 'A'},
	    {"flags: sign", sig4(0x18, bind_area(t1, 0x02)), 'B'},
	    {"flags subpacket empty", sig4(0x18, cat({subpacket(2, be32_bytes(t1)), subpacket(27, {})})), 'B'},
	    {"flags marked critical", sig4(0x18, cat({subpacket(2, be32_bytes(t1)), subpacket(0x80 | 27, {2})})), 'B'},
	    {"flags only in the unhashed area", sig4(0x18, bind_area(t1), subpacket(27, {2})), 'A'},
	    {"after a long subpacket", sig4(0x18, cat({subpacket(20, bytes(300, 'n')), bind_area(t1, 0x02)})), 'B'},
	    {"revoked after its binding", cat({sig4(0x18, bind_area(t1, 0x0c)), revoke}), 'B'},
	    {"revoked before a newer binding", cat({revoke, sig4(0x18, bind_area(t2 + 1, 0x0c))}), 'B'},
	    {"revoked by a version-3 signature", cat({sig4(0x18, bind_area(t1)), revoke3}), 'B'},
	    {"expired one day after creation", sig4(0x18, bind_area(t1, 0x0c, day, true)), 'B'},
	    {"expiry 0 means never", sig4(0x18, bind_area(t1, 0x0c, 0, true)), 'A'},
	    {"expiry far ahead", sig4(0x18, bind_area(t1, 0x0c, forever, true)), 'A'},
	    {"newer binding lifts expiry",
	     cat({sig4(0x18, bind_area(t1, 0x0c, day, true)), sig4(0x18, bind_area(t2, 0x0c))}), 'A'},
	    {"newest binding counts", cat({sig4(0x18, bind_area(t2, 0x0c, day, true)), sig4(0x18, bind_area(t1, 0x0c))}),
	     'B'},
	    {"newest binding's flags count", cat({sig4(0x18, bind_area(t1, 0x0c)), sig4(0x18, bind_area(t2, 0x02))}), 'B'},
	    {"unreadable binding (hashed area past the end)", new_packet(2, {4, 0x18, 1, 8, 0x01, 0x00, 0x02, 0x1b}), 'B'},
	    {"unreadable binding (subpacket past its area)", sig4(0x18, {0x05, 27, 0x0c}), 'B'},
	    {"other types say nothing", cat({sig4(0x10, bind_area(t1, 0x02)), sig4(0x20, {}), sig4(0x30, {})}), 'A'},
	    {"user ID walked over", cat({old_packet(TAG_USERID, text("x"), 0), revoke}), 'B'}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		EXPECT_EQ(outcome(cat({a, c.after_a, b})), v4_key_id(c.taken == 'A' ? a_body : b_body));
		/* With nothing after it, a skipped A leaves no usable subkey. */
		EXPECT_EQ(outcome(cat({a, c.after_a})),
		          c.taken == 'A' ? v4_key_id(a_body) : "error: " + std::string(NO_USABLE));
	}
}

TEST(pgp_pubkey, primary_key_revocation_and_expiry)
{
	const bytes pk_body = rsa_body(64, 61); /* created 0x5f010203 */
	const bytes pk      = new_packet(TAG_PUBKEY, pk_body);
	bytes       pk_id;
	for (size_t i = 0; i < 16; i += 2)
		pk_id.push_back((unsigned char)std::stoul(v4_key_id(pk_body).substr(i, 2), nullptr, 16));
	const bytes    issuer  = subpacket(16, pk_id);
	const bytes    other   = subpacket(16, bytes(8, 0x42));
	const bytes    fpr_sub = cat({{4}, bytes(12, 0x99), pk_id}); /* only the last 8 bytes name the key */
	const bytes    uid = old_packet(TAG_USERID, text("a"), 0), uid2 = old_packet(TAG_USERID, text("b"), 0);
	const bytes    attr = new_packet(17, bytes(20, 1));
	const bytes    sub  = new_packet(TAG_PUBSUBKEY, rsa_body(64, 62));
	const uint32_t t1 = 0x5f100000, t2 = 0x5f200000, day = 86400;

	/* A self-signature: creation time, expiry (0: none), primary flag. */
	auto self = [&](unsigned type, uint32_t created, uint32_t expire, bool primary = false, const bytes &who = {}) {
		bytes h = subpacket(2, be32_bytes(created));
		if (expire != 0)
			h = cat({h, subpacket(9, be32_bytes(expire))});
		if (primary)
			h = cat({h, subpacket(25, {1})});
		return sig4(type, h, who.empty() ? issuer : who);
	};
	const struct {
		const char *what;
		bytes       packets; /* between the primary key and its subkey */
		bool        dead;
	} cases[] = {
	    {"nothing said", cat({uid, self(0x13, t1, 0)}), false},
	    {"key revocation", cat({sig4(0x20, {}), uid, self(0x13, t1, 0)}), true},
	    {"direct-key expiry passed", cat({self(0x1f, t1, day), uid, self(0x13, t1, 0)}), true},
	    {"direct-key expiry ahead", cat({self(0x1f, t1, 0x7fffffff), uid, self(0x13, t1, day)}), false},
	    {"newest direct-key sets none", cat({self(0x1f, t1, day), self(0x1f, t2, 0), uid, self(0x13, t1, 0)}), false},
	    {"user ID certification expiry passed", cat({uid, self(0x10, t1, day)}), true},
	    {"... issued by another key", cat({uid, self(0x13, t1, day, false, other)}), false},
	    {"... issuer named by fingerprint", cat({uid, self(0x12, t1, day, false, subpacket(33, fpr_sub))}), true},
	    {"newer certification without expiry", cat({uid, self(0x13, t1, day), self(0x13, t2, 0)}), false},
	    {"newest certification counts", cat({uid, self(0x13, t2, day), self(0x13, t1, 0)}), true},
	    {"primary user ID's counts", cat({uid, self(0x13, t1, 0, true), uid2, self(0x13, t2, day)}), false},
	    {"primary user ID expired", cat({uid, self(0x13, t2, day, true), uid2, self(0x13, t2 + 1, 0)}), true},
	    {"no primary flag: the user ID certified last", cat({uid, self(0x13, t1, 0), uid2, self(0x13, t2, day)}), true},
	    {"older expired one ignored", cat({uid, self(0x13, t1, day), uid2, self(0x13, t2, 0)}), false},
	    {"revoked user ID ignored", cat({uid, self(0x13, t1, 0), uid2, self(0x13, t1, day, true), self(0x30, t2, 0)}),
	     false},
	    {"user attribute ignored", cat({uid, self(0x13, t1, 0), attr, self(0x13, t2, day, true)}), false},
	    /* Each key in a file is judged on its own. */
	    {"a live key after a revoked one", cat({sig4(0x20, {}), uid, sub, pk, uid}), false}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		const std::string o = outcome(cat({pk, c.packets, sub}));
		EXPECT_EQ(o == "error: " + std::string(KEY_DEAD), c.dead) << o;
		EXPECT_EQ(o.rfind("error", 0) == 0, c.dead) << o;
	}
	/* A revoked primary key without subkeys says so too. */
	EXPECT_EQ(parse_error(cat({pk, sig4(0x20, {}), uid})), KEY_DEAD);
}

/* A skipped subkey is judged before its fields are read (after its version):
 * an unsupported algorithm or damaged numbers behind it do not stop the walk;
 * not skipped, the same subkeys fail. */
TEST(pgp_pubkey, skipped_subkeys_are_not_read)
{
	const bytes good = new_packet(TAG_PUBSUBKEY, rsa_body(64, 51)), sign = sig4(0x18, bind_area(0x5f100000, 0x02));
	const std::pair<bytes, std::string> subkeys[] = {
	    {key_body(4, 22, {bytes{9, 0x2b, 6, 1, 4, 1, 0xda, 0x47, 0x0f, 1}, mpi(number(33, 1))}),
	     "unsupported public key algorithm"},
	    {key_body(4, 1, {mpi_raw(1024, number(10, 1))}), "unable to read RSA n"},
	    {key_body(4, 99, {}), "unsupported public key algorithm"}};
	for (const auto &[body, message] : subkeys) {
		const bytes sub = new_packet(TAG_PUBSUBKEY, body);
		EXPECT_EQ(outcome(cat({sub, sign, good})), v4_key_id(rsa_body(64, 51)));
		EXPECT_EQ(parse_error(cat({sub, good})), message);
	}
	EXPECT_EQ(parse_error(cat({new_packet(TAG_PUBSUBKEY, key_body(3, 1, {})), sign, good})),
	          "public key not in version 4 format");
}

/* -- Hand-made inputs: armour, packet framing and fields -> key ID or message -- */

namespace {

/* Armour lines of a packet: Base64 by OpenSSL, cut after 40 characters. */
std::string base64_lines(const bytes &pkt)
{
	std::string b64(4 * ((pkt.size() + 2) / 3) + 1, '\0');
	b64.resize((size_t)EVP_EncodeBlock((unsigned char *)b64.data(), pkt.data(), (int)pkt.size()));
	return b64.substr(0, 40) + "\n" + b64.substr(40) + "\n";
}

} // namespace

TEST(pgp_pubkey, inputs_and_their_outcomes)
{
	const bytes       body = rsa_body(64, 11), body2 = rsa_body(64, 12);
	const std::string id = v4_key_id(body), id2 = v4_key_id(body2);
	const bytes       pkt   = new_packet(TAG_PUBSUBKEY, body);
	const std::string data  = base64_lines(pkt);
	const std::string line1 = data.substr(0, 41), line2 = data.substr(41);
	const std::string head = "-----BEGIN PGP PUBLIC KEY BLOCK-----\n", sum = "=abcd\n";
	const std::string end    = "-----END PGP PUBLIC KEY BLOCK-----\n";
	const std::string block  = head + "\n" + data + sum + end;
	const std::string block2 = head + "\n" + base64_lines(new_packet(TAG_PUBSUBKEY, body2)) + sum + end;
	std::string       crlf;
	for (char c : head + "Comment: x\n\n" + data + sum + end)
		crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
	const std::string sec = read_text(key_path("elg2048.sec.asc"));

	/* Packet fields. */
	const bytes rsa_n = mpi(number(64, 5)), e = mpi({0x01, 0x00, 0x01}), p = mpi(number(64, 6)), g = mpi({0x05});
	const bytes small = rsa_body(128, 7), large = rsa_body(200, 8), filler(9000, 0x20);
	const bytes primary   = new_packet(TAG_PUBKEY, key_body(4, 1, {mpi(number(64, 3)), mpi({3})}));
	const bytes uid       = old_packet(TAG_USERID, text("Some One <one@test.invalid>"), 0);
	const bytes elg       = key_body(4, 16, {mpi(number(64, 1)), mpi({2}), mpi(number(60, 2))});
	const bytes oid25519  = {10, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x97, 0x55, 0x01, 0x05, 0x01};
	const bytes brainpool = {9, 0x2b, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07};
	const bytes pt25519   = mpi(cat({bytes{0x40}, bytes(32, 9)}));
	const bytes kdf       = {3, 1, 8, 7};
	bytes       max_body  = rsa_body(256, 31);
	max_body.resize(0xffff, 0x5a); /* numbers, then filler */
	const bytes too_big = cat({max_body, {0x5a}});
	auto        sub     = [](unsigned char alg, const std::vector<bytes> &f, unsigned char v = 4) {
        return new_packet(TAG_PUBSUBKEY, key_body(v, alg, f));
	};
	const std::string MLEN = SANITY + "read_multiformat_length(parser, &packet_length)";
	const std::string SLEN = SANITY + "read_scalar_length(parser, packet_length_length, &packet_length)";
	const std::string SKIP = SANITY + "M_parser_consume(parser, packet_length)";
	const std::string ALG = "unsupported public key algorithm", V4 = "public key not in version 4 format";
	const std::string BIG = "packet length greater than 0xffff", INDET = "indeterminate packet length not supported";

	const struct {
		const char *what;
		bytes       input;
		std::string want; /* the key ID, or the message */
	} rows[] = {
	    /* Armour: the block search. */
	    {"plain block", text(block), id},
	    {"nothing after the checksum line", text(head + "\n" + data + "="), NO_ARMOR},
	    {"one byte after the =, not verified", text(head + "\n" + data + "=x"), id},
	    {"no checksum line", text(head + "\n" + data + end), NO_ARMOR},
	    {"blank line inside the data", text(head + "\n" + line1 + "\n" + line2 + sum), id},
	    {"data line starting with =", text(head + "\n" + line1 + "=" + line2 + sum),
	     "unable to peek " + std::to_string(body.size()) + " bytes"},
	    {"blank line before the checksum line", text(head + "\n" + data + "\n" + sum + end), NO_ARMOR},
	    {"= right after the blank line is data", text(head + "\n=AAAA\n" + sum), "base64 decode failure"},
	    {"Base64 decoding to nothing", text(head + "\nA\n=AAAA\n"), "base64 decode failure"},
	    {"six opening dashes", text("-" + head + "\n" + data + sum), NO_ARMOR},
	    {"six closing dashes", text("-----BEGIN PGP PUBLIC KEY BLOCK------\n\n" + data + sum), id},
	    {"four closing dashes", text("-----BEGIN PGP PUBLIC KEY BLOCK----\n\n" + data + sum), NO_ARMOR},
	    {"a message block", text("-----BEGIN PGP MESSAGE-----\n\n" + data + sum), NO_ARMOR},
	    {"other text before the header", text("--- note ---\nfoo -----BAR-----\n" + block), id},
	    {"text after the header dashes", text("-----BEGIN PGP PUBLIC KEY BLOCK-----  x\n\n" + data + sum), id},
	    {"blank line of white space", text(head + " \t\r \n" + data + sum), id},
	    {"header lines", text(head + "Version: 1\nComment: a: b\n \t\r\n" + data + sum), id},
	    {"no blank line after header lines", text(head + "Version: 1\n" + data + sum), NO_ARMOR},
	    {"CRLF with header lines", text(crlf), id},
	    {"the first public block, CRLF between", text(block2 + "\r\n" + block), id2},
	    {"a private block is passed over", text("Keys follow.\r\n" + sec + "\n" + block), id},
	    {"empty", {}, NO_ARMOR},
	    {"a NUL at the very end makes it binary", cat({text(block), {0x00}}), NOT_TAG},
	    {"sign-only key", read_file(key_path("sign_only.asc")), NO_KEY},
	    /* Packet framing: every length form, old and new. */
	    {"new, 1-byte length", cat({primary, uid, new_packet(TAG_PUBSUBKEY, small, 1)}), v4_key_id(small)},
	    {"new, 2-byte length", cat({primary, uid, new_packet(TAG_PUBSUBKEY, large, 2)}), v4_key_id(large)},
	    {"new, 5-byte length", cat({primary, uid, new_packet(TAG_PUBSUBKEY, small, 5)}), v4_key_id(small)},
	    {"old, 1-byte length", cat({primary, uid, old_packet(TAG_PUBSUBKEY, large, 0)}), v4_key_id(large)},
	    {"old, 2-byte length", cat({primary, uid, old_packet(TAG_PUBSUBKEY, small, 1)}), v4_key_id(small)},
	    {"old, 4-byte length", cat({primary, uid, old_packet(TAG_PUBSUBKEY, large, 2)}), v4_key_id(large)},
	    {"long packets skipped",
	     cat({new_packet(61, bytes(8383, 0x20), 2), old_packet(TAG_USERID, filler, 1), new_packet(62, filler, 5),
	          old_packet(TAG_USERID, filler, 2), new_packet(TAG_PUBSUBKEY, small)}),
	     v4_key_id(small)},
	    {"no primary key needed",
	     cat({old_packet(TAG_PUBSUBKEY, large, 1), old_packet(TAG_USERID, filler, 1),
	          new_packet(TAG_PUBSUBKEY, small)}),
	     v4_key_id(large)},
	    {"first of two", cat({new_packet(TAG_PUBSUBKEY, elg), new_packet(TAG_PUBSUBKEY, small)}), v4_key_id(elg)},
	    {"new tag 46", cat({bytes{0xEE, (unsigned char)small.size()}, small, new_packet(TAG_PUBSUBKEY, large)}),
	     v4_key_id(large)},
	    {"old tag 6", cat({old_packet(TAG_PUBKEY, small, 0), old_packet(TAG_PUBSUBKEY, large, 0)}), v4_key_id(large)},
	    {"a primary key is never used", new_packet(TAG_PUBKEY, small), NO_KEY},
	    {"subkey of 0xffff bytes", new_packet(TAG_PUBSUBKEY, max_body, 5), v4_key_id(max_body)},
	    {"one byte more, old", old_packet(TAG_PUBSUBKEY, too_big, 2), BIG},
	    {"subkey longer than 0xffff", cat({bytes{0xCE, 0xFF, 0x00, 0x01, 0x00, 0x00}, body}), BIG},
	    {"tag without bit 0x80", {0x00, 0x01, 0x02}, NOT_TAG},
	    {"damaged packet after the subkey", cat({pkt, bytes{0x11}}), NOT_TAG},
	    {"new-format length missing", {0xCE}, MLEN},
	    {"new-format second length byte missing", {0xCE, 0xC0}, MLEN},
	    {"new-format 4-byte length short", {0xCE, 0xFF, 0x00, 0x00}, MLEN},
	    {"partial length 224", {0xCE, 0xE0, 0x04}, MLEN},
	    {"old-format 1-byte length missing", {0xB4}, SLEN},
	    {"old-format 4-byte length short", {0xB6, 0x00, 0x00, 0x01}, SLEN},
	    {"old-format indeterminate length", cat({bytes{0xBB}, body}), INDET},
	    {"indeterminate length on a skipped packet", {0xB7, 'a', 'b'}, INDET},
	    {"skipped packet longer than the rest", {0xB4, 0x05, 'a', 'b'}, SKIP},
	    {"skipped packet with a huge length", {0xCD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, SKIP},
	    /* Fields. */
	    {"subkey of length 0", cat({bytes{0xCE, 0x00}, body}), "unable to peek version byte"},
	    {"version 3 subkey", sub(1, {rsa_n, e}, 3), V4},
	    {"version looked at before the body is whole", {0xCE, 0x10, 0x03, 0x01}, V4},
	    {"body shorter than its length", {0xCE, 0x10, 0x04, 0x01, 0x02}, "unable to peek 16 bytes"},
	    {"creation date cut", {0xCE, 0x03, 0x04, 0x00, 0x00}, "unable to skip creation date"},
	    {"algorithm missing", {0xCE, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00}, "unable to read public key algorithm"},
	    {"algorithm past the packet",
	     cat({bytes{0xCE, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00}, old_packet(TAG_USERID, {0x01}, 0)}),
	     "unable to read public key algorithm"},
	    {"RSA sign-only (2)", sub(2, {rsa_n, e}), ALG},
	    {"ECDH on Brainpool P-256", sub(18, {brainpool}), ALG},
	    {"ECDH curve of length 0", sub(18, {bytes{0}}), "unable to read ECDH curve"},
	    {"ECDH curve cut", sub(18, {bytes{10, 0x2b, 0x06}}), "unable to read ECDH curve"},
	    {"ECDH point missing", sub(18, {oid25519}), "unable to read ECDH point"},
	    {"point without 0x40", sub(18, {oid25519, mpi(cat({bytes{0x41}, bytes(32, 9)})), kdf}),
	     "unable to read ECDH point"},
	    {"point length", sub(18, {oid25519, mpi(cat({bytes{0x40}, bytes(31, 9)})), kdf}), "unable to read ECDH point"},
	    {"KDF length 2", sub(18, {oid25519, pt25519, bytes{2, 1, 8, 7}}), "unable to read ECDH KDF parameters"},
	    {"ECDH KDF with SHA-1", sub(18, {oid25519, pt25519, bytes{3, 1, 2, 7}}), "unsupported ECDH KDF parameters"},
	    {"KDF wrap CAST5", sub(18, {oid25519, pt25519, bytes{3, 1, 8, 3}}), "unsupported ECDH KDF parameters"},
	    {"RSA n of 0 bits", sub(1, {mpi_raw(0, {}), e}), "unable to read RSA n"},
	    {"RSA n bit count cut", sub(1, {bytes{0x02}}), "unable to read RSA n"},
	    {"RSA n short", sub(1, {mpi_raw(1024, number(100, 1))}), "unable to read RSA n"},
	    {"RSA n past the packet end",
	     cat({sub(1, {mpi_raw(1024, number(100, 1))}), old_packet(TAG_USERID, bytes(40, 0x11), 0)}),
	     "unable to read RSA n"},
	    {"RSA e of 0 bits", sub(1, {rsa_n, mpi_raw(0, {})}), "unable to read RSA e"},
	    {"RSA e short", sub(1, {rsa_n, mpi_raw(17, {0x01})}), "unable to read RSA e"},
	    {"elgamal p of 0 bits", sub(16, {mpi_raw(0, {}), g, p}), "unable to read elgamal p"},
	    {"elgamal g missing", sub(16, {p}), "unable to read elgamal g"},
	    {"elgamal g short", sub(16, {p, mpi_raw(16, {0x01})}), "unable to read elgamal g"},
	    {"elgamal y of 0 bits", sub(16, {p, g, mpi_raw(0, {})}), "unable to read elgamal y"},
	    {"bytes after the numbers", new_packet(TAG_PUBSUBKEY, cat({body, {0xde, 0xad}})),
	     v4_key_id(cat({body, {0xde, 0xad}}))},
	    {"a 1-bit number is the smallest", sub(1, {rsa_n, mpi({1})}), v4_key_id(key_body(4, 1, {rsa_n, mpi({1})}))}};
	for (const auto &r : rows) {
		const bool is_id = r.want.size() == 16 && r.want.find_first_not_of("0123456789ABCDEF") == std::string::npos;
		EXPECT_EQ(outcome(r.input), is_id ? r.want : "error: " + r.want) << r.what;
	}

	/* A byte outside tab, line feed, carriage return and the printable range
     * anywhere in armour makes the input binary, whose first byte ("-") is no
     * packet tag. */
	for (int b = 0; b < 256; b++) {
		const bool text_byte = b == 0x09 || b == 0x0D || (b >= 0x20 && b < 0x7F);
		if (b == 0x0A)
			continue;
		EXPECT_EQ(outcome(text(head + "Comment: " + std::string(1, (char)b) + "\n\n" + data + sum)),
		          text_byte ? id : "error: " + NOT_TAG)
		    << b;
	}
}

/* -- The message area, and objects of unknown type -- */

/* NULL data or size 0 reads as no armour; a success or an area of size 0
 * leaves the area as it was; messages, sanity ones too, are cut to the area,
 * terminator included; without an area the reader still works. */
TEST(pgp_pubkey, message_area)
{
	const unsigned char one = '-', bad[] = {0x00, 0x01};
	const bytes         good = read_file(key_path("rsa2048.asc"));
	const struct {
		const unsigned char *data;
		size_t               len, area;
		const char          *want;
	} rows[] = {{nullptr, 100, 64, NO_ARMOR}, {&one, 0, 64, NO_ARMOR},
	            {&one, 1, 0, "unchanged"},    {good.data(), good.size(), 64, "unchanged"},
	            {&one, 1, 8, "failed "},      {bad, 2, 8, "read_pu"}};
	for (const auto &r : rows) {
		char            err[64] = "unchanged";
		M_pgp_pubkey_t *key     = M_pgp_pubkey_create(r.data, r.len, err, r.area);
		EXPECT_EQ(key != nullptr, r.data == good.data());
		EXPECT_STREQ(err, r.want);
		M_pgp_pubkey_destroy(key);
	}
	EXPECT_EQ(M_pgp_pubkey_create(&one, 1, nullptr, 100), nullptr);
	M_pgp_pubkey_t *key = M_pgp_pubkey_create(good.data(), good.size(), nullptr, 0);
	EXPECT_NE(key, nullptr);
	M_pgp_pubkey_destroy(key);
}

/* Damaged input never reads out of bounds, and always explains a failure. */
TEST(pgp_pubkey, every_truncation_and_byte_flip)
{
	const bytes       bin = read_file(key_path("elg2048.gpg"));
	const std::string id  = recorded_id("elg2048");
	ASSERT_GT(bin.size(), 100u);
	size_t first_ok = 0;
	for (size_t len = 1; len <= bin.size(); len++) {
		const std::string o = outcome(bytes(bin.begin(), bin.begin() + (long)len));
		EXPECT_NE(o, "error: ") << len;
		if (o.rfind("error", 0) != 0) {
			EXPECT_EQ(o, id) << len;
			first_ok = first_ok == 0 ? len : first_ok;
		}
	}
	EXPECT_GT(first_ok, 0u);
	for (size_t i = 0; i < bin.size(); i++) {
		bytes damaged = bin;
		damaged[i] ^= 0xA5;
		EXPECT_NE(outcome(damaged), "error: ") << i;
	}
}
