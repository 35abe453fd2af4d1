/* The public key reader. Keys made by gpg (tests/data/keys, make_keys.sh)
 * are altered after their owner certified them and must be refused or passed
 * over; re-framed, re-armoured or extended without touching what was signed,
 * they must read as before. The fields and weak numbers of a chosen key
 * packet are a table of hand-made bodies. The end-to-end tests take gpg as
 * the oracle for what the accessors give (test_cli's -v report) and for the
 * choice over a real keyring (test_keyring), and hold the messages for the
 * files a merchant may give instead of a public key (test_cli's inputs). */
#include "pgp/pgp_pubkey.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp/pgp_sig_int.h"
#include "pgp_test_util.h"

using namespace pgp_test;

namespace {

constexpr const char *NO_ARMOR = "failed to locate base64 block in ascii-armored data";
constexpr const char *NO_KEY   = "no public key contained in buffer";
constexpr const char *SIGNING  = "no key in the file may encrypt (sign-only key)";
constexpr const char *UNBOUND  = "no usable encryption subkey (no subkey binding signature verifies)";
constexpr const char *NO_SELF  = "public key has no valid self-signature";
constexpr const char *TWO_KEYS = "key file holds more than one public key: export only the recipient's key";
constexpr const char *CRC      = "ascii-armored data fails its CRC-24 checksum";
constexpr const char *V4       = "public key not in version 4 format";
const std::string     SANITY   = "read_pubkey_from_parser: failed sanity check ";
const std::string     NOT_TAG  = SANITY + "packet_tag & 0x80";

/* The key ID read, or "error: <message>"; a failure must leave a message. */
std::string outcome(const bytes &data)
{
	char              err[256] = "";
	M_pgp_pubkey_t   *key = M_pgp_pubkey_create(data.empty() ? nullptr : data.data(), data.size(), err, sizeof(err));
	const std::string o   = key != nullptr ? hex(M_pgp_pubkey_key_id(key), 8) : "error: " + std::string(err);
	M_pgp_pubkey_destroy(key);
	return o;
}

/* The expected outcome: a key ID as it is, a message as outcome() gives it. */
std::string want(const std::string &w)
{
	const bool is_id = w.size() == 16 && w.find_first_not_of("0123456789ABCDEF") == std::string::npos;
	return is_id ? w : "error: " + w;
}

bytes text(const std::string &s)
{
	return bytes(s.begin(), s.end());
}

/* One packet of a key file. */
struct pkt {
	unsigned tag;
	bytes    body;
};
using pkts = std::vector<pkt>;

/* The packets of a well-formed binary key file (old and new headers). */
pkts packets_of(const bytes &f)
{
	pkts   out;
	size_t i = 0;
	while (i < f.size()) {
		const unsigned ctb = f[i++];
		size_t         len = 0;
		if (ctb & 0x40) {
			const unsigned first = f[i++];
			len                  = first < 192 ? first : ((size_t)(first - 192) << 8) + f[i++] + 192;
		} else {
			for (int k = 0; k < (1 << (ctb & 3)); k++)
				len = len << 8 | f[i++];
		}
		out.push_back(
		    {ctb & 0x40 ? ctb & 0x3fu : (ctb >> 2) & 0x0fu, bytes(f.begin() + (long)i, f.begin() + (long)(i + len))});
		i += len;
	}
	return out;
}

/* The packets with headers of one form: 0 new (shortest), 5 new with a
 * 4-byte length, 1 and 2 old with a 2- and 4-byte length. */
bytes frame(const pkts &ps, int form = 0)
{
	bytes out;
	for (const pkt &p : ps)
		out = cat({out, form == 0 || form == 5 ? new_packet(p.tag, p.body, form) : old_packet(p.tag, p.body, form)});
	return out;
}

pkts key_packets(const std::string &name)
{
	return packets_of(read_file(key_path(name + ".gpg")));
}

/* Offset of the hash prefix of a version-4 signature body. */
size_t prefix_at(const bytes &sig)
{
	const size_t unhashed_at = 6 + ((size_t)sig[4] << 8 | sig[5]);
	return unhashed_at + 2 + ((size_t)sig[unhashed_at] << 8 | sig[unhashed_at + 1]);
}

/* A copy of a signature packet claiming another type. */
pkt resigned(pkt sig, unsigned char type)
{
	sig.body[1] = type;
	return sig;
}

using edit = std::function<void(pkts &)>;

/* An edit adding a subpacket to rsa2048's binding (packet 4), in its hashed
 * or unhashed area. */
edit binding_gains(bool hashed, const bytes &sub)
{
	return [=](pkts &p) {
		bytes       &sig  = p[4].body;
		const size_t hlen = (size_t)sig[4] << 8 | sig[5];
		const size_t at   = hashed ? 4 : 6 + hlen;
		const size_t len  = ((size_t)sig[at] << 8 | sig[at + 1]) + sub.size();
		sig.insert(sig.begin() + (long)(at + 2 + len - sub.size()), sub.begin(), sub.end());
		sig[at]     = (unsigned char)(len >> 8);
		sig[at + 1] = (unsigned char)len;
	};
}

} // namespace

/* rsa2048.gpg: 0 primary key, 1 user ID, 2 its certification, 3 subkey,
 * 4 binding. Each row changes the packets; what was signed must be as
 * signed, and what was not signed must not matter. */
TEST(pgp_pubkey, keys_altered_after_certification)
{
	const std::string rsa = recorded_id("rsa2048"), newer = recorded_id("newer_subkey");
	const std::string older = v4_key_id(key_packets("newer_subkey")[3].body); /* its RSA subkey of 2020 */
	const pkts        elg = key_packets("elg2048"), uid_2020 = key_packets("uid_expiry_2020");
	const struct {
		const char *what;
		const char *key;
		edit        change;
		std::string want;
	} rows[] = {
	    {"subkey modulus bit flipped", "rsa2048", [](pkts &p) { p[3].body[100] ^= 1; }, UNBOUND},
	    {"binding given an expiry", "rsa2048", binding_gains(true, {5, 9, 0, 0, 0, 1}), UNBOUND},
	    {"binding damaged", "rsa2048", [](pkts &p) { p[4].body.back() ^= 1; }, UNBOUND},
	    {"binding hash prefix (not signed) changed", "rsa2048", [](pkts &p) { p[4].body[prefix_at(p[4].body)] ^= 1; },
	     rsa},
	    {"unknown critical subpacket, unhashed", "rsa2048", binding_gains(false, {2, 0x80 | 99, 0}), UNBOUND},
	    {"unknown subpacket, unhashed", "rsa2048", binding_gains(false, {2, 99, 0}), rsa},
	    {"foreign newer subkey appended", "rsa2048", [&](pkts &p) { p.insert(p.end(), elg.end() - 2, elg.end()); },
	     rsa},
	    {"... with our binding copied", "rsa2048",
	     [&](pkts &p) {
		     p.insert(p.end(), {elg[elg.size() - 2], pkt(p[4])});
	     },
	     rsa},
	    {"forged subkey revocation", "rsa2048", [](pkts &p) { p.push_back(resigned(p[4], 0x28)); }, rsa},
	    {"forged key revocation", "rsa2048", [](pkts &p) { p.insert(p.begin() + 1, resigned(p[2], 0x20)); }, rsa},
	    {"binding moved before the subkey", "rsa2048", [](pkts &p) { std::swap(p[3], p[4]); }, rsa},
	    {"binding's number with a leading zero byte", "rsa2048",
	     [](pkts &p) {
		     bytes       &b    = p[4].body;
		     const size_t at   = prefix_at(b) + 2;
		     const size_t bits = ((size_t)b[at] << 8 | b[at + 1]) + 8;
		     b[at]             = (unsigned char)(bits >> 8);
		     b[at + 1]         = (unsigned char)bits;
		     b.insert(b.begin() + (long)at + 2, 0);
	     },
	     rsa},
	    {"user ID altered", "rsa2048", [](pkts &p) { p[1].body[0] ^= 1; }, NO_SELF},
	    {"certification damaged", "rsa2048", [](pkts &p) { p[2].body.back() ^= 1; }, NO_SELF},
	    {"no user ID", "rsa2048", [](pkts &p) { p.erase(p.begin() + 1, p.begin() + 3); }, NO_SELF},
	    {"primary key altered", "rsa2048", [](pkts &p) { p[0].body[50] ^= 1; }, NO_SELF},
	    {"primary key of version 3", "rsa2048", [](pkts &p) { p[0].body[0] = 3; }, V4},
	    {"subkey of version 5", "rsa2048", [](pkts &p) { p[3].body[0] = 5; }, V4},
	    {"bare subkey", "rsa2048", [](pkts &p) { p.erase(p.begin(), p.begin() + 3); }, NO_KEY},
	    {"only subkey of a signing algorithm (3)", "rsa2048", [](pkts &p) { p[3].body[5] = 3; }, SIGNING},
	    {"second key", "rsa2048", [&](pkts &p) { p.insert(p.end(), elg.begin(), elg.end()); }, TWO_KEYS},
	    {"marker and unknown packets", "rsa2048",
	     [](pkts &p) {
		     p.insert(p.begin(), {10, text("PGP")});
		     p.insert(p.begin() + 4, {61, bytes(300, 7)});
	     },
	     rsa},
	    {"Elgamal y altered", "elg2048", [](pkts &p) { p[3].body.back() ^= 2; }, UNBOUND},
	    {"newest subkey first in the file", "newer_subkey",
	     [](pkts &p) { std::rotate(p.begin() + 3, p.begin() + 5, p.end()); }, newer},
	    {"newest binding damaged: the older", "newer_subkey", [](pkts &p) { p[6].body.back() ^= 1; }, older},
	    {"Ed25519 (27) primary, binding damaged", "ed25519_native", [](pkts &p) { p[4].body.back() ^= 1; }, UNBOUND},
	    {"as gpg: user ID A's expiry of 2020 counts, though B of 2021 sets none", "uid_expiry",
	     [&](pkts &p) { p[2] = uid_2020[2]; },
	     "public key expired on 2020-01-02; ask the recipient for their current public key"},
	    {"... unless A's newer certification sets none", "uid_expiry",
	     [&](pkts &p) { p.insert(p.begin() + 2, uid_2020[2]); }, recorded_id("uid_expiry")},
	    {"encrypting primary, certification damaged", "primary_encrypts", [](pkts &p) { p[2].body.back() ^= 1; },
	     NO_SELF}};
	for (const auto &r : rows) {
		pkts p = key_packets(r.key);
		r.change(p);
		EXPECT_EQ(outcome(frame(p)), want(r.want)) << r.what;
	}
}

/* Re-framing changes nothing that was signed: every header form reads alike. */
TEST(pgp_pubkey, every_packet_header_form)
{
	for (const char *name : {"rsa2048", "elg2048", "newer_subkey", "ed25519_native", "primary_encrypts"}) {
		for (int form : {0, 5, 1, 2})
			EXPECT_EQ(outcome(frame(key_packets(name), form)), recorded_id(name)) << name << " form " << form;
	}
}

/* Armour around gpg's own text (rsa2048.asc), and damaged packet framing. */
TEST(pgp_pubkey, armour_and_framing)
{
	const std::string asc = read_text(key_path("rsa2048.asc")), id = recorded_id("rsa2048");
	const std::string head = "-----BEGIN PGP PUBLIC KEY BLOCK-----\n", end = "-----END PGP PUBLIC KEY BLOCK-----\n";
	const size_t      data_at = asc.find("\n\n") + 2, sum_at = asc.rfind("\n=") + 1;
	const std::string data = asc.substr(data_at, sum_at - data_at), sum = asc.substr(sum_at, 6);
	const std::string line1 = data.substr(0, data.find('\n') + 1), rest = data.substr(line1.size());
	std::string       crlf;
	for (char c : asc)
		crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
	const std::string MLEN = SANITY + "read_multiformat_length(parser, &packet_length)";
	const std::string SLEN = SANITY + "read_scalar_length(parser, packet_length_length, &packet_length)";
	const std::string SKIP = SANITY + "M_parser_consume(parser, packet_length)";
	const struct {
		const char *what;
		bytes       input;
		std::string want;
	} rows[] = {
	    {"as gpg wrote it", text(asc), id},
	    {"CRLF line ends", text(crlf), id},
	    {"armour header lines", read_file(key_path("rsa2048.hdr.asc")), id},
	    {"no checksum line", text(head + "\n" + data + end), id},
	    {"checksum of other data", text(head + "\n" + data + "=AAAA\n" + end), CRC},
	    {"checksum line not 4 characters", text(head + "\n" + data + sum.substr(0, 4) + "\n"), CRC},
	    {"nothing after the =", text(head + "\n" + data + "="), NO_ARMOR},
	    {"neither checksum nor END line", text(head + "\n" + data), NO_ARMOR},
	    {"blank lines inside the data", text(head + "\n" + line1 + "\n" + rest + "\n" + sum + end), id},
	    {"= right after the blank line is data", text(head + "\n=AAAA\n" + sum), "base64 decode failure"},
	    {"Base64 decoding to nothing", text(head + "\nA\n=AAAA\n"), "base64 decode failure"},
	    {"six opening dashes", text("-" + head + "\n" + data + sum), NO_ARMOR},
	    {"six closing dashes", text("-----BEGIN PGP PUBLIC KEY BLOCK------\n\n" + data + sum), id},
	    {"four closing dashes", text("-----BEGIN PGP PUBLIC KEY BLOCK----\n\n" + data + sum), NO_ARMOR},
	    {"other text before the header", text("--- note ---\nfoo -----BAR-----\n" + asc), id},
	    {"text after the header dashes", text("-----BEGIN PGP PUBLIC KEY BLOCK-----  x\n\n" + data + sum), id},
	    {"blank line of white space", text(head + " \t\r \n" + data + sum), id},
	    {"no blank line after header lines", text(head + "Version: 1\n" + data + sum), NO_ARMOR},
	    {"a private block is passed over", text(read_text(key_path("elg2048.sec.asc")) + "\n" + asc), id},
	    {"two public key blocks", text(asc + read_text(key_path("elg2048.asc"))), TWO_KEYS},
	    {"gpg's revocation certificate after the key", read_file(key_path("revoked_appended.asc")),
	     "public key was revoked on 2026-12-07; ask the recipient for their current public key"},
	    {"a NUL at the very end makes it binary", cat({text(asc), {0x00}}), NOT_TAG},
	    {"damaged packet after the key", cat({read_file(key_path("rsa2048.gpg")), {0x11}}), NOT_TAG},
	    {"new-format length missing", {0xCE}, MLEN},
	    {"new-format second length byte missing", {0xCE, 0xC0}, MLEN},
	    {"new-format 4-byte length short", {0xCE, 0xFF, 0x00, 0x00}, MLEN},
	    {"partial length 224", {0xCE, 0xE0, 0x04}, MLEN},
	    {"old-format 1-byte length missing", {0xB4}, SLEN},
	    {"old-format 4-byte length short", {0xB6, 0x00, 0x00, 0x01}, SLEN},
	    {"old-format indeterminate length", {0xBB, 4, 1}, "indeterminate packet length not supported"},
	    {"skipped packet longer than the rest", {0xB4, 0x05, 'a', 'b'}, SKIP},
	    {"skipped packet with a huge length", {0xCD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, SKIP},
	    {"key packet longer than 0xffff", {0x9A, 0x00, 0x01, 0x00, 0x00, 4}, "packet length greater than 0xffff"},
	    {"key packet of length 0", {0xC6, 0x00}, "unable to peek version byte"},
	    {"key body shorter than its length", {0xC6, 0x10, 0x04, 0x01, 0x02}, "unable to peek 16 bytes"},
	    {"primary key of unsupported algorithm", new_packet(6, key_body(4, 16, {})),
	     "unsupported primary key algorithm"},
	    {"primary key cut", new_packet(6, key_body(4, 1, {mpi_raw(1024, {1})})), "unable to read primary key"}};
	for (const auto &r : rows)
		EXPECT_EQ(outcome(r.input), want(r.want)) << r.what;

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

/* The chosen key's packet: its fields, and numbers too weak to use. */
TEST(pgp_pubkey, key_packet_fields_and_weak_numbers)
{
	const bytes n1024 = number(128, 5), e = {0x01, 0x00, 0x01}, p = number(128, 6), g = {0x02};
	bytes       n_even = n1024, p_less1 = p;
	n_even.back() &= 0xfe;
	p_less1.back() &= 0xfe;
	const bytes oid25519 = {10, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x97, 0x55, 0x01, 0x05, 0x01};
	const bytes pt25519 = mpi(cat({bytes{0x40}, bytes(32, 9)})), kdf = {3, 1, 8, 7};
	const bytes rsa_ok = key_body(4, 1, {mpi(n1024), mpi(e)}), max = cat({rsa_ok, bytes(0xffff - rsa_ok.size(), 0)});
	const bytes ecdh_ok        = key_body(4, 18, {oid25519, pt25519, kdf});
	const std::string RSA_SIZE = "weak public key: RSA modulus not of 1024 to 16384 bits";
	const std::string RSA_E    = "weak public key: RSA exponent not odd, at least 3 and below the modulus";
	const std::string ELG_GY   = "weak public key: elgamal g or y outside 2 to p-2";
	const auto        rsa      = [](const bytes &n, const bytes &x) { return key_body(4, 1, {mpi(n), mpi(x)}); };
	const auto        elg      = [](const bytes &pp, const bytes &gg, const bytes &y) {
        return key_body(4, 16, {mpi(pp), mpi(gg), mpi(y)});
	};
	const struct {
		const char *what;
		bytes       body;
		std::string want;
	} rows[] = {
	    {"RSA 1024 bits", rsa_ok, v4_key_id(rsa_ok)},
	    {"RSA 16384 bits", rsa(number(2048, 7), e), v4_key_id(rsa(number(2048, 7), e))},
	    {"bytes after the RSA numbers", cat({rsa_ok, {1}}), v4_key_id(cat({rsa_ok, {1}}))},
	    {"body of 0xffff bytes", max, v4_key_id(max)},
	    {"body of 0x10000 bytes", cat({max, {0}}), "packet length greater than 0xffff"},
	    {"RSA 1016 bits", rsa(number(127, 5), e), RSA_SIZE},
	    {"RSA 16392 bits", rsa(number(2049, 5), e), RSA_SIZE},
	    {"RSA even modulus", rsa(n_even, e), "weak public key: RSA modulus is even"},
	    {"RSA e = 1", rsa(n1024, {1}), RSA_E},
	    {"RSA e = 2", rsa(n1024, {2}), RSA_E},
	    {"RSA e = 3", rsa(n1024, {3}), v4_key_id(rsa(n1024, {3}))},
	    {"RSA e = n", rsa(n1024, n1024), RSA_E},
	    {"Elgamal 1024 bits", elg(p, g, number(100, 3)), v4_key_id(elg(p, g, number(100, 3)))},
	    {"Elgamal 400 bits", elg(number(50, 6), g, {3}), "weak public key: elgamal prime not of 1024 to 16384 bits"},
	    {"Elgamal even p", elg(p_less1, g, {3}), "weak public key: elgamal prime is even"},
	    {"Elgamal g = 1", elg(p, {1}, {3}), ELG_GY},
	    {"Elgamal y = 1", elg(p, g, {1}), ELG_GY},
	    {"Elgamal y = p - 1", elg(p, g, p_less1), ELG_GY},
	    {"Elgamal g = p", elg(p, p, {3}), ELG_GY},
	    {"Curve25519", ecdh_ok, v4_key_id(ecdh_ok)},
	    {"bytes after the ECDH KDF parameters", cat({ecdh_ok, {0}}), "unable to read ECDH KDF parameters"},
	    {"version 3", key_body(3, 1, {mpi(n1024), mpi(e)}), V4},
	    {"empty", {}, "unable to peek version byte"},
	    {"creation date cut", {4, 0, 0}, "unable to skip creation date"},
	    {"algorithm missing", {4, 0, 0, 0, 0}, "unable to read public key algorithm"},
	    {"RSA sign-only (2)", key_body(4, 2, {mpi(n1024), mpi(e)}), "unsupported public key algorithm"},
	    {"ECDH on Brainpool P-256", key_body(4, 18, {bytes{9, 0x2b, 0x24, 3, 3, 2, 8, 1, 1, 7}}),
	     "unsupported public key algorithm"},
	    {"ECDH curve of length 0", key_body(4, 18, {bytes{0}}), "unable to read ECDH curve"},
	    {"ECDH curve cut", key_body(4, 18, {bytes{10, 0x2b, 0x06}}), "unable to read ECDH curve"},
	    {"ECDH point missing", key_body(4, 18, {oid25519}), "unable to read ECDH point"},
	    {"point without 0x40", key_body(4, 18, {oid25519, mpi(cat({bytes{0x41}, bytes(32, 9)})), kdf}),
	     "unable to read ECDH point"},
	    {"KDF length 2", key_body(4, 18, {oid25519, pt25519, bytes{2, 1, 8, 7}}), "unable to read ECDH KDF parameters"},
	    {"ECDH KDF with SHA-1", key_body(4, 18, {oid25519, pt25519, bytes{3, 1, 2, 7}}),
	     "unsupported ECDH KDF parameters"},
	    {"KDF wrap CAST5", key_body(4, 18, {oid25519, pt25519, bytes{3, 1, 8, 3}}), "unsupported ECDH KDF parameters"},
	    {"KDF wrap id 10", key_body(4, 18, {oid25519, pt25519, bytes{3, 1, 8, 10}}), "unsupported ECDH KDF parameters"},
	    {"RSA n of 0 bits", key_body(4, 1, {mpi_raw(0, {}), mpi(e)}), "unable to read RSA n"},
	    {"RSA n short", key_body(4, 1, {mpi_raw(1024, number(100, 1))}), "unable to read RSA n"},
	    {"RSA e short", key_body(4, 1, {mpi(n1024), mpi_raw(17, {0x01})}), "unable to read RSA e"},
	    {"elgamal p of 0 bits", key_body(4, 16, {mpi_raw(0, {}), mpi(g), mpi(p)}), "unable to read elgamal p"},
	    {"elgamal g missing", key_body(4, 16, {mpi(p)}), "unable to read elgamal g"},
	    {"elgamal y of 0 bits", key_body(4, 16, {mpi(p), mpi(g), mpi_raw(0, {})}), "unable to read elgamal y"}};
	for (const auto &r : rows) {
		char            err[128] = "";
		M_pgp_pubkey_t *key      = m::detail::pgp_read_key_packet(r.body.data(), r.body.size(), err, sizeof(err));
		const char     *weak     = key != nullptr ? m::detail::pgp_weak_numbers(key) : err;
		EXPECT_EQ(weak == nullptr ? hex(key->key_id, 8) : "error: " + std::string(weak), want(r.want)) << r.what;
		M_pgp_pubkey_destroy(key);
	}
}

/* NULL data or size 0 reads as no armour; a success or an area of size 0
 * leaves the area as it was; messages, sanity ones too, are cut to the area,
 * terminator included. (The pool's tests read keys without an area.) */
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
}

/* Damaged input never reads out of bounds, and always explains a failure;
 * a cut key reads only once it is whole, and no flipped byte of what was
 * signed gives another key. */
TEST(pgp_pubkey, every_truncation_and_byte_flip)
{
	const bytes       bin = read_file(key_path("elg2048.gpg"));
	const std::string id  = recorded_id("elg2048");
	ASSERT_GT(bin.size(), 100u);
	for (size_t len = 1; len <= bin.size(); len++) {
		const std::string o = outcome(bytes(bin.begin(), bin.begin() + (long)len));
		EXPECT_NE(o, "error: ") << len;
		EXPECT_EQ(o == id, len == bin.size()) << len;
	}
	for (size_t i = 0; i < bin.size(); i++) {
		bytes damaged = bin;
		damaged[i] ^= 0xA5;
		const std::string o = outcome(damaged);
		EXPECT_TRUE(o.rfind("error: ", 0) == 0 ? o.size() > 7 : o == id) << i;
	}
}

/* Keys built here by a primary key that signs anything: a self-signature
 * counts for what it verifies, wherever it sits; public points nobody can
 * hold the secret of are refused, naming the key. */
TEST(pgp_pubkey, keys_signed_here)
{
	const test_signer k, forged(cat({{0x40, 0x01}, bytes(31, 0)})); /* forged: the identity */
	const bytes       uid = text("Test <t@test.invalid>"), kdf = {3, 1, 8, 7}, enc = {2, 27, 0x0c};
	const bytes       x25519 = {10, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x97, 0x55, 0x01, 0x05, 0x01};
	const bytes       p256   = {8, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07},
	            ed           = {9, 0x2b, 6, 1, 4, 1, 0xda, 0x47, 15, 1};
	const auto ecdh          = [&](const bytes &oid, const bytes &point, uint32_t t) {
        bytes b = key_body(4, 18, {oid, mpi_raw(static_cast<unsigned>(point.size() * 8 - 1), point), kdf});
        test_signer::overwrite_time(b, t);
        return b;
	};
	const auto u = [](unsigned char low) {
		bytes v(33, 0);
		v[0] = 0x40;
		v[1] = low;
		return v;
	};
	const bytes order8 = {0x40, 0xe0, 0xeb, 0x7a, 0x7c, 0x3b, 0x41, 0xb8, 0xae, 0x16, 0x56,
	                      0xe3, 0xfa, 0xf1, 0x9f, 0xc4, 0x6a, 0xda, 0x09, 0x8d, 0xeb, 0x9c,
	                      0x32, 0xb1, 0xfd, 0x86, 0x62, 0x05, 0x16, 0x5f, 0x49, 0xb8, 0x00};
	const bytes A = ecdh(x25519, u(9), 0x5f000010), B = ecdh(x25519, u(9), 0x5f000020);
	const bytes Bx = cat({B, {0}}), Z = ecdh(x25519, u(0), 0x5f000030), Rx = cat({rsa_body(128), {0}});
	const pkt   P{6, k.body}, U{13, uid}, C{2, k.sign(0x13, 13, uid, {2, 27, 3})}, SA{14, A}, SB{14, B};
	const pkt   BA{2, k.sign(0x18, 14, A, enc)}, BB{2, k.sign(0x18, 14, B, enc)};
	const auto  bound    = [&](const bytes &sub) { return pkts{P, U, C, {14, sub}, {2, k.sign(0x18, 14, sub, enc)}}; };
	const auto  fpr_only = [](bytes sig) { /* without the unhashed issuer subpacket */
                                          const size_t at = 6 + sig[5];
                                          sig.erase(sig.begin() + (long)at, sig.begin() + (long)at + 12);
                                          return cat({bytes(sig.begin(), sig.begin() + (long)at),
		                                               {0, 0},
		                                               bytes(sig.begin() + (long)at, sig.end())});
	};
	const auto point = [](const char *which, const bytes &body, const char *problem) {
		return std::string(which) + " " + v4_key_id(body) + ": public point " + problem;
	};
	const bytes inf   = key_body(4, 19, {p256, mpi_raw(1, {0})}),
	            off   = key_body(4, 19, {p256, mpi(cat({{4}, bytes(64, 1)}))});
	const bytes ed_p  = key_body(4, 22, {ed, mpi_raw(263, cat({{0x40, 0xed}, bytes(30, 0xff), {0x7f}}))});
	const bytes ed27  = key_body(4, 27, {cat({{0xec}, bytes(30, 0xff), {0x7f}})});
	const bytes ed_no = key_body(4, 22, {ed, mpi_raw(263, u(2))});
	const struct {
		const char *what;
		pkts        p;
		std::string want;
	} rows[] = {
	    {"as built", {P, U, C, SA, BA}, v4_key_id(A)},
	    {"key revocation at the end",
	     {P, U, C, SA, BA, {2, k.sign(0x20, 0, {})}},
	     "public key was revoked on 2020-07-04; ask the recipient for their current public key"},
	    {"revocation of the newer subkey under the older",
	     {P, U, C, SA, BA, {2, k.sign(0x28, 14, B)}, SB, BB},
	     v4_key_id(A)},
	    {"certification that expires the key after the subkey",
	     {P, U, C, SA, BA, {2, k.sign(0x13, 13, uid, {5, 9, 0, 0, 0, 1}, 0x5f000200)}},
	     "public key expired on 2020-07-04; ask the recipient for their current public key"},
	    {"bindings under the wrong subkeys", {P, U, C, SA, BB, SB, BA}, v4_key_id(B)},
	    {"newer subkey's newest binding, sign only, under the older",
	     {P, U, C, SA, BA, {2, k.sign(0x18, 14, B, {2, 27, 2}, 0x5f000300)}, SB, BB},
	     v4_key_id(A)},
	    {"key expiring after 2106", {P, U, {2, k.sign(0x13, 13, uid, {5, 9, 0xf0, 0, 0, 0})}, SA, BA}, v4_key_id(A)},
	    {"binding naming its signer by fingerprint only", {P, U, C, SA, {2, fpr_only(BA.body)}}, v4_key_id(A)},
	    {"stray subkey before the primary key", {SB, BB, P, U, C, SA, BA}, v4_key_id(A)},
	    {"direct-key signature, no user ID", {P, {2, k.sign(0x1f, 0, {}, enc)}, SA, BA}, NO_SELF},
	    {"newer ECDH subkey with a trailing byte",
	     {P, U, C, SA, BA, {14, Bx}, {2, k.sign(0x18, 14, Bx, enc)}},
	     v4_key_id(A)},
	    {"newer RSA subkey with a trailing byte",
	     {P, U, C, SA, BA, {14, Rx}, {2, k.sign(0x18, 14, Rx, enc)}},
	     v4_key_id(A)},
	    {"Curve25519 u = 0", bound(Z), point("subkey", Z, "of small order")},
	    {"Curve25519 u = 1", bound(ecdh(x25519, u(1), 1)), point("subkey", ecdh(x25519, u(1), 1), "of small order")},
	    {"Curve25519 point of order 8", bound(ecdh(x25519, order8, 1)),
	     point("subkey", ecdh(x25519, order8, 1), "of small order")},
	    {"P-256 point off the curve", bound(ecdh(p256, cat({{4}, bytes(64, 1)}), 1)),
	     point("subkey", ecdh(p256, cat({{4}, bytes(64, 1)}), 1), "not on the curve")},
	    {"EdDSA primary at the identity, signatures forged",
	     {{6, forged.body}, U, {2, forged.sign(0x13, 13, uid)}, SA, {2, forged.sign(0x18, 14, A, enc)}},
	     point("primary key", forged.body, "of small order")},
	    {"ECDSA primary at infinity", {{6, inf}}, point("primary key", inf, "at infinity")},
	    {"ECDSA primary off the curve", {{6, off}}, point("primary key", off, "not on the curve")},
	    {"EdDSA primary with y = p", {{6, ed_p}}, point("primary key", ed_p, "not on the curve")},
	    {"EdDSA primary with no x for its y", {{6, ed_no}}, point("primary key", ed_no, "not on the curve")},
	    {"Ed25519 (27) primary of order 2", {{6, ed27}}, point("primary key", ed27, "of small order")}};
	for (const auto &r : rows)
		EXPECT_EQ(outcome(frame(r.p)), want(r.want)) << r.what;
}

/* The primary user ID is kept whole, a NUL inside it included, so a report
 * shows all of "Alice <a@x>\0 Mallory" and not a name cut short. */
TEST(pgp_pubkey, user_id_keeps_every_byte)
{
	const test_signer k;
	const bytes       uid = cat({text("Alice <a@x>"), {0}, text(" Mallory")}), sub = rsa_body(128);
	char              err[256] = "";
	const bytes       file     = frame(
	              {{6, k.body}, {13, uid}, {2, k.sign(0x13, 13, uid)}, {14, sub}, {2, k.sign(0x18, 14, sub, {2, 27, 0x0c})}});
	M_pgp_pubkey_t *key = M_pgp_pubkey_create(file.data(), file.size(), err, sizeof(err));
	ASSERT_NE(key, nullptr) << err;
	ASSERT_EQ(M_pgp_pubkey_primary_user_id_len(key), uid.size());
	EXPECT_EQ(std::memcmp(M_pgp_pubkey_primary_user_id(key), uid.data(), uid.size()), 0);
	EXPECT_EQ(M_pgp_pubkey_primary_user_id(key)[uid.size()], '\0');
	M_pgp_pubkey_destroy(key);
}

/* Where the self-signatures sit costs nothing: with every binding of many
 * subkeys moved to the end of the key, as many signatures are verified, and
 * none fails, as with each in its place. */
TEST(pgp_pubkey, misplaced_signatures_cost_no_more)
{
	const test_signer k;
	const bytes       uid      = text("Test <t@test.invalid>");
	pkts              in_place = {{6, k.body}, {13, uid}, {2, k.sign(0x13, 13, uid)}}, at_end = in_place, bindings;
	for (unsigned i = 0; i < 30; i++) {
		bytes sub = rsa_body(128, i);
		test_signer::overwrite_time(sub, 0x5f000010 + i); /* each newer: each is judged */
		bindings.insert(bindings.begin(), {2, k.sign(0x18, 14, sub, {2, 27, 0x0c})});
		in_place.insert(in_place.end(), {{14, sub}, bindings.front()});
		at_end.push_back({14, sub});
	}
	at_end.insert(at_end.end(), bindings.begin(), bindings.end());
	const auto cost = [&](const pkts &p) { /* {verified, failed} in the reading */
		                                   uint64_t ok0 = 0, failed0 = 0, ok = 0, failed = 0;
		                                   m::detail::sig_counts(&ok0, &failed0);
		                                   EXPECT_EQ(outcome(frame(p)), v4_key_id(in_place[61].body));
		                                   m::detail::sig_counts(&ok, &failed);
		                                   return std::make_pair(ok - ok0, failed - failed0);
	};
	const auto placed = cost(in_place);
	EXPECT_EQ(placed.second, 0u);
	EXPECT_EQ(cost(at_end), placed);
}
