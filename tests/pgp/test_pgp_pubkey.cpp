#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <openssl/bn.h>

#include "pgp/pgp_pubkey.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp_test_util.h"

using namespace pgp_test;

namespace {

constexpr const char *NO_ARMOR = "failed to locate base64 block in ascii-armored data";
const std::string     SANITY   = "read_pubkey_from_parser: failed sanity check ";

/* Parses data; returns the key (or nullptr) and the message left behind. */
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

bytes text(const std::string &s)
{
	return bytes(s.begin(), s.end());
}

std::string key_id_of(const M_pgp_pubkey_t *key)
{
	return hex(key->key_id, sizeof(key->key_id));
}

/* The key ID gpg shows for the first encryption subkey in a key file. */
std::string gpg_first_encryption_subkey(const gpg_home &home, const std::string &path)
{
	std::string out;
	run(home.gpg("--with-colons --import-options show-only --import " + shell_quote(path) + " 2>/dev/null"), &out);
	size_t pos = 0;
	while (pos < out.size()) {
		size_t      end  = out.find('\n', pos);
		std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
		pos              = end == std::string::npos ? out.size() : end + 1;
		std::vector<std::string> f;
		size_t                   s = 0;
		for (;;) {
			size_t c = line.find(':', s);
			f.push_back(line.substr(s, c == std::string::npos ? std::string::npos : c - s));
			if (c == std::string::npos)
				break;
			s = c + 1;
		}
		if (f.size() > 11 && f[0] == "sub" && f[11].find('e') != std::string::npos)
			return f[4];
	}
	return "";
}

} // namespace

/* ---------------------------------------------------------------------------
 * Keys made by gpg
 * ------------------------------------------------------------------------- */

struct gpg_key_case {
	const char *name;
	uint32_t    type;
	int         bits; /* of n or p */
};

constexpr gpg_key_case gpg_keys[] = {
    {"rsa2048", M_PGP_PUBKEY_TYPE_RSA, 2048},     {"rsa3072", M_PGP_PUBKEY_TYPE_RSA, 3072},
    {"rsa4096", M_PGP_PUBKEY_TYPE_RSA, 4096},     {"elg2048", M_PGP_PUBKEY_TYPE_ELGAMAL, 2048},
    {"two_subkeys", M_PGP_PUBKEY_TYPE_RSA, 2048}, /* the first subkey: 2048, not 3072 */
};

constexpr const char *key_forms[] = {".asc", ".crlf.asc", ".hdr.asc", ".gpg"};

TEST(pgp_pubkey, key_id_equals_gpg_first_encryption_subkey)
{
	gpg_home home;
	ASSERT_TRUE(home.ok());
	for (const gpg_key_case &k : gpg_keys) {
		const std::string gpg_id = gpg_first_encryption_subkey(home, key_path(std::string(k.name) + ".asc"));
		ASSERT_EQ(gpg_id.size(), 16u) << k.name;
		/* The ID recorded when the key was made agrees with gpg today. */
		EXPECT_EQ(trim(read_text(key_path(std::string(k.name) + ".keyid"))), gpg_id) << k.name;

		for (const char *form : key_forms) {
			SCOPED_TRACE(std::string(k.name) + form);
			parse_result r;
			parse(read_file(key_path(std::string(k.name) + form)), r);
			ASSERT_NE(r.key, nullptr) << r.error;
			EXPECT_EQ(key_id_of(r.key), gpg_id);
			EXPECT_EQ(r.key->type, k.type);
			EXPECT_EQ(BN_num_bits(r.key->n_p), k.bits);
			ASSERT_NE(r.key->e_g, nullptr);
			if (k.type == M_PGP_PUBKEY_TYPE_RSA) {
				EXPECT_EQ(r.key->y, nullptr);
				EXPECT_TRUE(BN_is_word(r.key->e_g, 65537));
			} else {
				ASSERT_NE(r.key->y, nullptr);
				EXPECT_LT(BN_cmp(r.key->y, r.key->n_p), 0);
				EXPECT_LT(BN_cmp(r.key->e_g, r.key->n_p), 0);
			}
		}
	}
}

/* ---------------------------------------------------------------------------
 * Which subkey is used
 * ------------------------------------------------------------------------- */

namespace {

constexpr const char *NO_USABLE = "no usable encryption subkey (revoked, expired or not for encryption)";
constexpr const char *KEY_DEAD  = "public key is revoked or expired";

/* One subkey as gpg lists it today. */
struct gpg_subkey {
	std::string id;
	std::string validity; /* field 2: "r" revoked, "e" expired, ... */
	std::string caps;     /* field 12: "e" encryption, "s" signing, ... */
	bool        usable_for_encryption() const
	{
		return validity.find_first_of("reinx") == std::string::npos && caps.find('e') != std::string::npos;
	}
};

std::vector<gpg_subkey> gpg_subkeys(const gpg_home &home, const std::string &path)
{
	std::string out;
	run(home.gpg("--with-colons --import-options show-only --import " + shell_quote(path) + " 2>/dev/null"), &out);
	std::vector<gpg_subkey> subs;
	size_t                  pos = 0;
	while (pos < out.size()) {
		const size_t             end = std::min(out.find('\n', pos), out.size());
		std::vector<std::string> f;
		size_t                   s = pos;
		for (;;) {
			const size_t c = out.find(':', s);
			if (c == std::string::npos || c > end) {
				f.push_back(out.substr(s, end - s));
				break;
			}
			f.push_back(out.substr(s, c - s));
			s = c + 1;
		}
		if (f.size() > 11 && f[0] == "sub")
			subs.push_back({f[4], f[1], f[11]});
		pos = end + 1;
	}
	return subs;
}

} // namespace

/* Keys made by gpg (make_keys.sh) whose subkeys are revoked, expired or for
 * signing. The reader takes the subkey recorded when the key was made, which
 * gpg lists today as valid and able to encrypt; where none is recorded gpg
 * lists no such subkey and the reader fails. */
TEST(pgp_pubkey, gpg_keys_with_unusable_subkeys)
{
	struct state_case {
		const char *name;
		const char *message; /* nullptr: the recorded subkey is used */
	};
	constexpr state_case cases[] = {
	    {"revoked_first", nullptr},    {"revoked_only", NO_USABLE},   {"expired_first", nullptr},
	    {"expired_only", NO_USABLE},   {"sign_first", nullptr}, /* Ed25519 signing subkey first */
	    {"revoked_primary", KEY_DEAD}, {"expired_primary", KEY_DEAD},
	};
	gpg_home home;
	ASSERT_TRUE(home.ok());
	for (const state_case &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string             path = key_path(std::string(c.name) + ".asc");
		const std::string             id   = trim(read_text(key_path(std::string(c.name) + ".keyid")));
		const std::vector<gpg_subkey> subs = gpg_subkeys(home, path);
		ASSERT_FALSE(subs.empty());
		if (c.message != nullptr) {
			EXPECT_EQ(id, "");
			for (const gpg_subkey &g : subs)
				EXPECT_FALSE(g.usable_for_encryption()) << g.id;
			EXPECT_EQ(parse_error(read_file(path)), c.message);
			continue;
		}
		/* gpg skips the same subkeys: the first one it would use is ours. */
		const gpg_subkey *first = nullptr;
		for (const gpg_subkey &g : subs) {
			if (first == nullptr && g.usable_for_encryption())
				first = &g;
		}
		ASSERT_NE(first, nullptr);
		EXPECT_EQ(first->id, id);
		EXPECT_NE(subs.front().id, id); /* something was skipped */
		parse_result r;
		parse(read_file(path), r);
		ASSERT_NE(r.key, nullptr) << r.error;
		EXPECT_EQ(key_id_of(r.key), id);
	}
}

namespace {

/* A signature subpacket: length (type included), type, data. */
bytes subpacket(unsigned type, const bytes &data)
{
	const size_t n = data.size() + 1;
	bytes        p;
	if (n < 192) {
		p.push_back(static_cast<unsigned char>(n));
	} else {
		p.push_back(static_cast<unsigned char>(((n - 192) >> 8) + 192));
		p.push_back(static_cast<unsigned char>((n - 192) & 0xff));
	}
	p.push_back(static_cast<unsigned char>(type));
	p.insert(p.end(), data.begin(), data.end());
	return p;
}

bytes be32_bytes(uint32_t v)
{
	return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
	        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

/* A version-4 signature packet with the given hashed and unhashed areas. */
bytes sig4(unsigned type, const bytes &hashed, const bytes &unhashed = {})
{
	bytes b = {4,
	           static_cast<unsigned char>(type),
	           1,
	           8,
	           static_cast<unsigned char>(hashed.size() >> 8),
	           static_cast<unsigned char>(hashed.size() & 0xff)};
	b.insert(b.end(), hashed.begin(), hashed.end());
	b.push_back(static_cast<unsigned char>(unhashed.size() >> 8));
	b.push_back(static_cast<unsigned char>(unhashed.size() & 0xff));
	b.insert(b.end(), unhashed.begin(), unhashed.end());
	b.insert(b.end(), {0xab, 0xcd});
	const bytes m = mpi(number(32, 77));
	b.insert(b.end(), m.begin(), m.end());
	return new_packet(2, b);
}

/* Hashed area of a binding signature: creation time, then optional fields. */
bytes bind_area(uint32_t created, int flags = -1, uint32_t expire = 0, bool has_expire = false)
{
	bytes h = subpacket(2, be32_bytes(created));
	if (flags >= 0)
		h = cat({h, subpacket(27, {static_cast<unsigned char>(flags)})});
	if (has_expire)
		h = cat({h, subpacket(9, be32_bytes(expire))});
	return h;
}

} // namespace

TEST(pgp_pubkey, signatures_after_a_subkey_decide_its_use)
{
	/* key_body() gives every subkey the creation time 0x5f010203 (2020). */
	const bytes    a_body = rsa_body(64, 41);
	const bytes    b_body = rsa_body(64, 42);
	const bytes    a      = new_packet(TAG_PUBSUBKEY, a_body);
	const bytes    b      = new_packet(TAG_PUBSUBKEY, b_body);
	const uint32_t t1 = 0x5f100000, t2 = 0x5f200000;
	const uint32_t day = 86400, forever = 0x7fffffff;
	const bytes    revoke = sig4(0x28, subpacket(2, be32_bytes(t2)));
	/* version-3 revocation: version, 5, type, time, issuer, algorithms, left 16 */
	const bytes revoke3 = new_packet(
	    2, cat({bytes{3, 5, 0x28}, be32_bytes(t1), bytes(8, 0x11), bytes{1, 8, 0xab, 0xcd}, mpi(number(32, 5))}));

	struct sig_case {
		const char *what;
		bytes       after_a; /* packets between subkey A and subkey B */
		char        taken;   /* 'A', 'B' */
	};
	const std::vector<sig_case> cases = {
	    {"no signature", {}, 'A'},
	    {"binding without key flags", sig4(0x18, bind_area(t1)), 'A'},
	    {"flags: encrypt communications", sig4(0x18, bind_area(t1, 0x04)), 'A'},
	    {"flags: encrypt storage", sig4(0x18, bind_area(t1, 0x08)), 'A'},
	    {"flags: sign", sig4(0x18, bind_area(t1, 0x02)), 'B'},
	    {"flags: certify and authenticate", sig4(0x18, bind_area(t1, 0x21)), 'B'},
	    {"flags subpacket empty", sig4(0x18, cat({subpacket(2, be32_bytes(t1)), subpacket(27, {})})), 'B'},
	    {"flags marked critical", sig4(0x18, cat({subpacket(2, be32_bytes(t1)), subpacket(0x80 | 27, {2})})), 'B'},
	    {"flags only in the unhashed area", sig4(0x18, bind_area(t1), subpacket(27, {2})), 'A'},
	    {"after a long subpacket (2-byte length)",
	     sig4(0x18, cat({subpacket(20, bytes(300, 'n')), bind_area(t1, 0x02)})), 'B'},
	    {"revoked after its binding", cat({sig4(0x18, bind_area(t1, 0x0c)), revoke}), 'B'},
	    {"revoked before a newer binding", cat({revoke, sig4(0x18, bind_area(t2 + 1, 0x0c))}), 'B'},
	    {"revoked by a version-3 signature", cat({sig4(0x18, bind_area(t1)), revoke3}), 'B'},
	    {"expired one day after creation", sig4(0x18, bind_area(t1, 0x0c, day, true)), 'B'},
	    {"expiry 0 means never", sig4(0x18, bind_area(t1, 0x0c, 0, true)), 'A'},
	    {"expiry far ahead", sig4(0x18, bind_area(t1, 0x0c, forever, true)), 'A'},
	    {"newer binding lifts the expiry",
	     cat({sig4(0x18, bind_area(t1, 0x0c, day, true)), sig4(0x18, bind_area(t2, 0x0c))}), 'A'},
	    {"newest binding counts, not the last in order",
	     cat({sig4(0x18, bind_area(t2, 0x0c, day, true)), sig4(0x18, bind_area(t1, 0x0c))}), 'B'},
	    {"newest binding's flags count", cat({sig4(0x18, bind_area(t1, 0x0c)), sig4(0x18, bind_area(t2, 0x02))}), 'B'},
	    {"unreadable binding (hashed area past the end)", new_packet(2, {4, 0x18, 1, 8, 0x01, 0x00, 0x02, 0x1b}), 'B'},
	    {"unreadable binding (subpacket past its area)", sig4(0x18, {0x05, 27, 0x0c}), 'B'},
	    {"other signature types say nothing", cat({sig4(0x10, bind_area(t1, 0x02)), sig4(0x20, {}), sig4(0x30, {})}),
	     'A'},
	    {"a user ID between (not a key packet) is walked over", cat({old_packet(TAG_USERID, text("x"), 0), revoke}),
	     'B'},
	};
	for (const sig_case &c : cases) {
		SCOPED_TRACE(c.what);
		parse_result r;
		parse(cat({a, c.after_a, b}), r);
		ASSERT_NE(r.key, nullptr) << r.error;
		EXPECT_EQ(key_id_of(r.key), v4_key_id(c.taken == 'A' ? a_body : b_body));
		/* With nothing after it, a skipped A leaves no usable subkey. */
		parse_result alone;
		parse(cat({a, c.after_a}), alone);
		if (c.taken == 'A')
			EXPECT_NE(alone.key, nullptr) << alone.error;
		else
			EXPECT_EQ(alone.error, NO_USABLE);
	}
}

TEST(pgp_pubkey, primary_key_revocation_and_expiry)
{
	const bytes pk_body = rsa_body(64, 61); /* created 0x5f010203 */
	const bytes pk      = new_packet(TAG_PUBKEY, pk_body);
	bytes       pk_id;
	{
		const std::string h = v4_key_id(pk_body);
		for (size_t i = 0; i < h.size(); i += 2)
			pk_id.push_back(static_cast<unsigned char>(std::stoul(h.substr(i, 2), nullptr, 16)));
	}
	const bytes issuer  = subpacket(16, pk_id);
	const bytes other   = subpacket(16, bytes(8, 0x42));
	bytes       fpr_sub = {4};
	fpr_sub.insert(fpr_sub.end(), 12, 0x99); /* only the last 8 bytes name the key */
	fpr_sub.insert(fpr_sub.end(), pk_id.begin(), pk_id.end());
	const bytes    uid  = old_packet(TAG_USERID, text("a"), 0);
	const bytes    uid2 = old_packet(TAG_USERID, text("b"), 0);
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

	struct primary_case {
		const char *what;
		bytes       packets; /* between the primary key and its subkey */
		bool        dead;
	};
	const std::vector<primary_case> cases = {
	    {"nothing said", cat({uid, self(0x13, t1, 0)}), false},
	    {"key revocation", cat({sig4(0x20, {}), uid, self(0x13, t1, 0)}), true},
	    {"direct-key expiry passed", cat({self(0x1f, t1, day), uid, self(0x13, t1, 0)}), true},
	    {"direct-key expiry ahead", cat({self(0x1f, t1, 0x7fffffff), uid, self(0x13, t1, day)}), false},
	    {"newest direct-key signature sets none: the user ID's counts",
	     cat({self(0x1f, t1, day), self(0x1f, t2, 0), uid, self(0x13, t1, 0)}), false},
	    {"user ID certification expiry passed", cat({uid, self(0x10, t1, day)}), true},
	    {"... issued by another key", cat({uid, self(0x13, t1, day, false, other)}), false},
	    {"... issuer named by fingerprint", cat({uid, self(0x12, t1, day, false, subpacket(33, fpr_sub))}), true},
	    {"newer certification without expiry", cat({uid, self(0x13, t1, day), self(0x13, t2, 0)}), false},
	    {"newest certification counts, not the last in order", cat({uid, self(0x13, t2, day), self(0x13, t1, 0)}),
	     true},
	    {"primary user ID's certification, not a newer one's",
	     cat({uid, self(0x13, t1, 0, true), uid2, self(0x13, t2, day)}), false},
	    {"primary user ID expired", cat({uid, self(0x13, t2, day, true), uid2, self(0x13, t2 + 1, 0)}), true},
	    {"no primary flag: the user ID certified last", cat({uid, self(0x13, t1, 0), uid2, self(0x13, t2, day)}), true},
	    {"no primary flag: the older expired one does not count",
	     cat({uid, self(0x13, t1, day), uid2, self(0x13, t2, 0)}), false},
	    {"a revoked user ID does not count",
	     cat({uid, self(0x13, t1, 0), uid2, self(0x13, t1, day, true), self(0x30, t2, 0)}), false},
	    {"a user attribute is never the primary user ID",
	     cat({uid, self(0x13, t1, 0), attr, self(0x13, t2, day, true)}), false},
	};
	for (const primary_case &c : cases) {
		SCOPED_TRACE(c.what);
		const bytes key = cat({pk, c.packets, sub});
		if (c.dead) {
			EXPECT_EQ(parse_error(key), KEY_DEAD);
		} else {
			parse_result r;
			parse(key, r);
			EXPECT_NE(r.key, nullptr) << r.error;
		}
	}

	/* Each key in a file is judged on its own: the subkey of a live key
     * after a revoked one is used. */
	parse_result two;
	parse(cat({pk, sig4(0x20, {}), uid, sub, pk, uid, sub}), two);
	ASSERT_NE(two.key, nullptr) << two.error;
	/* A revoked primary key without subkeys says so too. */
	EXPECT_EQ(parse_error(cat({pk, sig4(0x20, {}), uid})), KEY_DEAD);
}

/* A skipped subkey is judged before its fields are read: an unsupported
 * algorithm or damaged numbers behind a revocation do not stop the walk. */
TEST(pgp_pubkey, skipped_subkeys_are_not_read)
{
	const bytes revoke    = sig4(0x28, {});
	const bytes good      = rsa_body(64, 51);
	const bytes skipped[] = {
	    key_body(4, 22, {bytes{9, 0x2b, 6, 1, 4, 1, 0xda, 0x47, 0x0f, 1}, mpi(number(33, 1))}), /* EdDSA */
	    key_body(4, 1, {mpi_raw(1024, number(10, 1))}),                                         /* RSA n cut */
	    key_body(4, 99, {}),
	};
	for (const bytes &s : skipped) {
		parse_result r;
		parse(cat({new_packet(TAG_PUBSUBKEY, s), sig4(0x18, bind_area(0x5f100000, 0x02)),
		           new_packet(TAG_PUBSUBKEY, good)}),
		      r);
		ASSERT_NE(r.key, nullptr) << r.error;
		EXPECT_EQ(key_id_of(r.key), v4_key_id(good));
		/* Not skipped, the same subkey fails as it always has. */
		EXPECT_NE(parse_error(cat({new_packet(TAG_PUBSUBKEY, s), new_packet(TAG_PUBSUBKEY, good)})), "");
	}
	/* The version is still checked first, as it always was. */
	EXPECT_EQ(
	    parse_error(cat({new_packet(TAG_PUBSUBKEY, key_body(3, 1, {})), revoke, new_packet(TAG_PUBSUBKEY, good)})),
	    "public key not in version 4 format");
}

/* ECDH subkeys made by gpg: curve, point and the key derivation parameters
 * gpg chooses for each curve, and the key ID gpg shows. */
TEST(pgp_pubkey, ecdh_subkeys_made_by_gpg)
{
	struct ecdh_case {
		const char *name;
		uint32_t    curve;
		size_t      point_len;
		uint8_t     prefix, hash, cipher;
	};
	constexpr ecdh_case cases[] = {
	    {"cv25519", PGP_CURVE_CURVE25519, 33, 0x40, 8, 7},
	    {"p256", PGP_CURVE_P256, 65, 0x04, 8, 7},
	    {"p384", PGP_CURVE_P384, 97, 0x04, 9, 8},
	    {"p521", PGP_CURVE_P521, 133, 0x04, 10, 9},
	};
	gpg_home home;
	ASSERT_TRUE(home.ok());
	for (const ecdh_case &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string path = key_path(std::string(c.name) + ".asc");
		const std::string id   = gpg_first_encryption_subkey(home, path);
		ASSERT_EQ(id.size(), 16u);
		EXPECT_EQ(trim(read_text(key_path(std::string(c.name) + ".keyid"))), id);
		parse_result r;
		parse(read_file(path), r);
		ASSERT_NE(r.key, nullptr) << r.error;
		EXPECT_EQ(key_id_of(r.key), id);
		EXPECT_EQ(hex(r.key->fingerprint + 12, 8), id);
		EXPECT_EQ(r.key->type, (uint32_t)M_PGP_PUBKEY_TYPE_ECDH);
		EXPECT_EQ(r.key->ecdh.curve, c.curve);
		EXPECT_EQ(r.key->ecdh.point_len, c.point_len);
		EXPECT_EQ(r.key->ecdh.point[0], c.prefix);
		EXPECT_EQ(r.key->ecdh.kdf_hash, c.hash);
		EXPECT_EQ(r.key->ecdh.kdf_cipher, c.cipher);
		EXPECT_EQ(r.key->n_p, nullptr);
	}
}

TEST(pgp_pubkey, sign_only_key_has_no_public_key)
{
	for (const char *form : key_forms) {
		SCOPED_TRACE(form);
		EXPECT_EQ(parse_error(read_file(key_path(std::string("sign_only") + form))),
		          "no public key contained in buffer");
	}
}

TEST(pgp_pubkey, data_is_not_modified)
{
	const bytes  data = read_file(key_path("rsa2048.gpg"));
	const bytes  copy = data;
	parse_result r;
	parse(data, r);
	ASSERT_NE(r.key, nullptr);
	EXPECT_EQ(data, copy);
}

/* ---------------------------------------------------------------------------
 * Armour
 * ------------------------------------------------------------------------- */

TEST(pgp_pubkey, armour_needs_checksum_line)
{
	std::string asc = read_text(key_path("rsa2048.asc"));
	/* Drop the "=xxxx" line: the END line follows the data directly. */
	const size_t eq = asc.find("\n=");
	ASSERT_NE(eq, std::string::npos);
	const size_t eol    = asc.find('\n', eq + 1);
	std::string  no_sum = asc.substr(0, eq + 1) + asc.substr(eol + 1);
	EXPECT_EQ(parse_error(text(no_sum)), NO_ARMOR);

	/* An "=" as the very last byte is not a checksum line either. */
	EXPECT_EQ(parse_error(text(asc.substr(0, eq + 2))), NO_ARMOR);
	/* One byte after it is enough; the checksum is not verified. */
	parse_result r;
	parse(text(asc.substr(0, eq + 3)), r);
	EXPECT_NE(r.key, nullptr) << r.error;
}

TEST(pgp_pubkey, private_block_is_passed_over)
{
	const std::string sec = read_text(key_path("elg2048.sec.asc"));
	const std::string pub = read_text(key_path("rsa2048.asc"));
	parse_result      r;
	parse(text("Keys follow.\r\n" + sec + "\n" + pub), r);
	ASSERT_NE(r.key, nullptr) << r.error;
	EXPECT_EQ(key_id_of(r.key), trim(read_text(key_path("rsa2048.keyid"))));

	/* A private block alone is no public key block. */
	EXPECT_EQ(parse_error(text(sec)), NO_ARMOR);
}

TEST(pgp_pubkey, armour_header_variants)
{
	const std::string asc  = read_text(key_path("rsa3072.asc"));
	const std::string id   = trim(read_text(key_path("rsa3072.keyid")));
	const size_t      body = asc.find("\n\n");
	ASSERT_NE(body, std::string::npos);
	const std::string head = asc.substr(0, body + 1); /* header line with its LF */
	const std::string rest = asc.substr(body + 2);    /* the Base64 data on */

	const std::string variants[] = {
	    /* header lines, a blank line holding white space */
	    head + "Version: 1\nComment: a: b\n \t\r\n" + rest,
	    /* text before the block, and a dash run that is no header */
	    "--- note ---\nfoo -----BAR-----\n" + asc,
	    /* text after the header dashes on the same line */
	    head.substr(0, head.size() - 1) + "  trailing\n\n" + rest,
	};
	for (const std::string &v : variants) {
		parse_result r;
		parse(text(v), r);
		ASSERT_NE(r.key, nullptr) << r.error << "\n" << v.substr(0, 120);
		EXPECT_EQ(key_id_of(r.key), id);
	}

	const std::string failing[] = {
	    "",
	    "no armour here\n",
	    /* the header text must be exact */
	    "-----BEGIN PGP PUBLIC KEY BLOCK -----\n\n" + rest,
	    "-----BEGIN PGP MESSAGE-----\n\n" + rest,
	    /* the header line breaks before its closing dashes */
	    "-----BEGIN PGP PUBLIC KEY BLOCK\n-----\n\n" + rest,
	    /* no blank line after the header lines: the data is taken for
         * header lines until the "=" line, and nothing follows */
	    head + "Version: 1\n" + rest.substr(0, rest.find("\n=") + 1),
	};
	for (const std::string &v : failing)
		EXPECT_EQ(parse_error(text(v)), NO_ARMOR) << v.substr(0, 80);
}

TEST(pgp_pubkey, eight_bit_or_nul_byte_makes_input_binary)
{
	const std::string asc = read_text(key_path("rsa2048.hdr.asc"));
	const size_t      c   = asc.find("Comment: ");
	ASSERT_NE(c, std::string::npos);
	for (unsigned char b : {0x00, 0x7F, 0x80, 0xE9, 0xFF}) {
		bytes data  = text(asc);
		data[c + 9] = b;
		/* Read as packets, the first byte ("-") is no packet tag. */
		EXPECT_EQ(parse_error(data), SANITY + "packet_tag & 0x80") << int(b);
	}
}

TEST(pgp_pubkey, crlf_and_lf_read_alike_with_or_without_header_lines)
{
	/* Every armoured form of a key, CRLF with header lines included, gives
     * the very numbers and key ID of the binary form. */
	for (const char *name : {"rsa2048", "elg2048"}) {
		SCOPED_TRACE(name);
		parse_result bin;
		parse(read_file(key_path(std::string(name) + ".gpg")), bin);
		ASSERT_NE(bin.key, nullptr) << bin.error;

		std::string hdr_crlf;
		for (char c : read_text(key_path(std::string(name) + ".hdr.asc"))) {
			if (c == '\n')
				hdr_crlf += '\r';
			hdr_crlf += c;
		}
		ASSERT_NE(hdr_crlf.find("\r\nComment: "), std::string::npos);
		const bytes forms[] = {
		    read_file(key_path(std::string(name) + ".asc")),
		    read_file(key_path(std::string(name) + ".crlf.asc")),
		    read_file(key_path(std::string(name) + ".hdr.asc")),
		    text(hdr_crlf),
		};
		for (const bytes &f : forms) {
			parse_result r;
			parse(f, r);
			ASSERT_NE(r.key, nullptr) << r.error;
			EXPECT_EQ(key_id_of(r.key), key_id_of(bin.key));
			EXPECT_EQ(r.key->type, bin.key->type);
			EXPECT_EQ(BN_cmp(r.key->n_p, bin.key->n_p), 0);
			EXPECT_EQ(BN_cmp(r.key->e_g, bin.key->e_g), 0);
			if (bin.key->y != nullptr) {
				ASSERT_NE(r.key->y, nullptr);
				EXPECT_EQ(BN_cmp(r.key->y, bin.key->y), 0);
			} else {
				EXPECT_EQ(r.key->y, nullptr);
			}
		}
	}
}

TEST(pgp_pubkey, armour_block_search_step_by_step)
{
	/* A small subkey packet in Base64, wrapped in hand-made armour, so each
     * rule of the block search can be seen on its own. */
	const bytes       body = rsa_body(64, 11);
	const std::string id   = v4_key_id(body);
	const bytes       pkt  = new_packet(TAG_PUBSUBKEY, body);
	std::string       b64;
	{
		static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
		size_t            i          = 0;
		for (; i + 3 <= pkt.size(); i += 3) {
			const unsigned v = (unsigned)pkt[i] << 16 | (unsigned)pkt[i + 1] << 8 | pkt[i + 2];
			for (int s = 18; s >= 0; s -= 6)
				b64 += alphabet[(v >> s) & 63];
		}
		const size_t left = pkt.size() - i;
		if (left != 0) {
			unsigned v = (unsigned)pkt[i] << 16;
			if (left == 2)
				v |= (unsigned)pkt[i + 1] << 8;
			b64 += alphabet[(v >> 18) & 63];
			b64 += alphabet[(v >> 12) & 63];
			b64 += left == 2 ? alphabet[(v >> 6) & 63] : '=';
			b64 += '=';
		}
	}
	ASSERT_GT(b64.size(), 60u);
	const std::string line1 = b64.substr(0, 40) + "\n";
	const std::string line2 = b64.substr(40) + "\n";
	const std::string data  = line1 + line2;
	const std::string head  = "-----BEGIN PGP PUBLIC KEY BLOCK-----\n";
	const std::string sum   = "=abcd\n";
	const std::string end   = "-----END PGP PUBLIC KEY BLOCK-----\n";

	struct search_case {
		const char *what;
		std::string armour;
		std::string message; /* empty: the key is found */
	};
	const search_case cases[] = {
	    {"plain block", head + "\n" + data + sum + end, ""},
	    {"nothing after the checksum line", head + "\n" + data + "=", NO_ARMOR},
	    {"one byte after the =", head + "\n" + data + "=x", ""},
	    {"no checksum line", head + "\n" + data + end, NO_ARMOR},
	    /* a blank line inside the data is one more line of the block */
	    {"blank line inside the data", head + "\n" + line1 + "\n" + line2 + sum, ""},
	    /* a line of the data starting with "=" ends it there */
	    {"data line starting with =", head + "\n" + line1 + "=" + line2 + sum,
	     "unable to peek " + std::to_string(body.size()) + " bytes"},
	    /* a blank line turns the next line into data: no checksum line */
	    {"blank line before the checksum line", head + "\n" + data + "\n" + sum + end, NO_ARMOR},
	    /* the first byte after the blank line is taken as data unexamined */
	    {"= right after the blank line", head + "\n" + "=AAAA\n" + sum, "base64 decode failure"},
	    {"= right after the blank line, no more lines", head + "\n" + "=AAAA\n", NO_ARMOR},
	    /* six opening dashes: the sixth is header text */
	    {"six opening dashes", "-" + head + "\n" + data + sum, NO_ARMOR},
	    /* six closing dashes: the sixth is the rest of the header line */
	    {"six closing dashes", "-----BEGIN PGP PUBLIC KEY BLOCK------\n\n" + data + sum, ""},
	    /* four closing dashes and a line feed: no header line */
	    {"four closing dashes", "-----BEGIN PGP PUBLIC KEY BLOCK----\n\n" + data + sum, NO_ARMOR},
	    /* dashes inside the header text are part of it */
	    {"dashes inside the header text", "-----BEGIN PGP PUBLIC KEY BLOCK--x-----\n\n" + data + sum, NO_ARMOR},
	    /* the byte after five dashes is header text even when it is a line
         * feed, so a line of five dashes swallows the next header line */
	    {"line of five dashes before the header", "-----\n" + head + "\n" + data + sum, NO_ARMOR},
	    {"other text before the header", "-----x-----\n" + head + "\n" + data + sum, ""},
	    /* the blank line may hold tabs, spaces and carriage returns */
	    {"blank line of white space", head + " \t\r \n" + data + sum, ""},
	    /* a line starting with white space and then text is a header line */
	    {"indented header line", head + " Comment: x\n\n" + data + sum, ""},
	    /* after the public header, everything up to the blank line is
         * header lines, even an END line */
	    {"END line among the header lines", head + end + "\n" + data + sum, ""},
	    /* the lower-case header is not the public key header */
	    {"header case matters", "-----BEGIN PGP public KEY BLOCK-----\n\n" + data + sum, NO_ARMOR},
	};
	for (const search_case &c : cases) {
		parse_result r;
		parse(text(c.armour), r);
		if (c.message.empty()) {
			ASSERT_NE(r.key, nullptr) << c.what << ": " << r.error;
			EXPECT_EQ(key_id_of(r.key), id) << c.what;
		} else {
			EXPECT_EQ(r.key, nullptr) << c.what;
			EXPECT_EQ(r.error, c.message) << c.what;
		}
	}
}

TEST(pgp_pubkey, first_public_block_is_taken)
{
	const std::string a = read_text(key_path("rsa2048.asc"));
	const std::string b = read_text(key_path("rsa3072.asc"));
	parse_result      r;
	parse(text(a + b), r);
	ASSERT_NE(r.key, nullptr) << r.error;
	EXPECT_EQ(key_id_of(r.key), trim(read_text(key_path("rsa2048.keyid"))));
	parse_result s;
	parse(text(b + "\r\n" + a), s);
	ASSERT_NE(s.key, nullptr) << s.error;
	EXPECT_EQ(key_id_of(s.key), trim(read_text(key_path("rsa3072.keyid"))));
}

TEST(pgp_pubkey, printable_bytes_decide_the_form)
{
	const std::string asc = read_text(key_path("rsa2048.hdr.asc"));
	const size_t      c   = asc.find("Comment: ");
	ASSERT_NE(c, std::string::npos);
	/* Control bytes other than tab, line feed and carriage return: binary. */
	for (unsigned char b : {0x01, 0x08, 0x0B, 0x0C, 0x1B, 0x1F}) {
		bytes data  = text(asc);
		data[c + 9] = b;
		EXPECT_EQ(parse_error(data), SANITY + "packet_tag & 0x80") << int(b);
	}
	/* The edges of the printable range, and tab and CR, keep it text. */
	for (unsigned char b : {0x09, 0x0D, 0x20, 0x7E}) {
		bytes data  = text(asc);
		data[c + 9] = b;
		parse_result r;
		parse(data, r);
		ASSERT_NE(r.key, nullptr) << int(b) << ": " << r.error;
		EXPECT_EQ(key_id_of(r.key), trim(read_text(key_path("rsa2048.keyid"))));
	}
	/* A NUL or 8-bit byte at the very end, after the END line, counts too. */
	for (unsigned char b : {0x00, 0x80}) {
		bytes data = text(asc);
		data.push_back(b);
		EXPECT_EQ(parse_error(data), SANITY + "packet_tag & 0x80") << int(b);
	}
}

TEST(pgp_pubkey, base64_block_decoding_to_nothing)
{
	EXPECT_EQ(parse_error(text("-----BEGIN PGP PUBLIC KEY BLOCK-----\n\nA\n=AAAA\n")), "base64 decode failure");
}

/* ---------------------------------------------------------------------------
 * Packet walk
 * ------------------------------------------------------------------------- */

TEST(pgp_pubkey, packet_header_forms)
{
	/* 141 bytes: fits the one-byte new-format length; 213 bytes: needs the
     * two-byte form and still fits an old-format one-byte length. */
	const bytes small   = rsa_body(128, 7);
	const bytes large   = rsa_body(200, 8);
	const bytes primary = new_packet(TAG_PUBKEY, key_body(4, 1, {mpi(number(64, 3)), mpi({3})}));
	const bytes uid     = old_packet(TAG_USERID, text("Some One <one@test.invalid>"), 0);
	/* A long packet to skip that needs the 2-byte and 5-byte length forms. */
	const bytes filler(9000, 0x20);

	struct form_case {
		bytes input;
		bytes body;
	};
	const form_case cases[] = {
	    {cat({primary, uid, new_packet(TAG_PUBSUBKEY, small, 1)}), small},
	    {cat({primary, uid, new_packet(TAG_PUBSUBKEY, large, 2)}), large},
	    {cat({primary, uid, new_packet(TAG_PUBSUBKEY, small, 5)}), small},
	    {cat({primary, uid, old_packet(TAG_PUBSUBKEY, large, 0)}), large},
	    {cat({primary, uid, old_packet(TAG_PUBSUBKEY, small, 1)}), small},
	    {cat({primary, uid, old_packet(TAG_PUBSUBKEY, large, 2)}), large},
	    {cat({new_packet(61, bytes(8383, 0x20), 2), old_packet(TAG_USERID, filler, 1), new_packet(62, filler, 5),
	          old_packet(TAG_USERID, filler, 2), new_packet(TAG_PUBSUBKEY, small)}),
	     small},
	    /* a subkey packet is taken even without a primary key or binding
         * signature; packets after it are walked up to the next subkey */
	    {cat({old_packet(TAG_PUBSUBKEY, large, 1), old_packet(TAG_USERID, filler, 1),
	          new_packet(TAG_PUBSUBKEY, small)}),
	     large},
	};
	int i = 0;
	for (const form_case &c : cases) {
		parse_result r;
		parse(c.input, r);
		ASSERT_NE(r.key, nullptr) << "input " << i << ": " << r.error;
		EXPECT_EQ(key_id_of(r.key), v4_key_id(c.body)) << "input " << i;
		EXPECT_EQ(r.key->type, (uint32_t)M_PGP_PUBKEY_TYPE_RSA);
		EXPECT_EQ(BN_num_bytes(r.key->n_p), c.body.size() == small.size() ? 128 : 200);
		EXPECT_TRUE(BN_is_word(r.key->e_g, 65537));
		i++;
	}
}

TEST(pgp_pubkey, tag_number_is_six_bits_new_and_four_bits_old)
{
	const bytes a = rsa_body(64, 21);
	const bytes b = rsa_body(64, 22);
	/* New format: 0xEE carries tag 46, whose low four bits read 14; it is
     * skipped, and the real subkey after it is taken. */
	parse_result r;
	parse(cat({bytes{0xEE, (unsigned char)a.size()}, a, new_packet(TAG_PUBSUBKEY, b)}), r);
	ASSERT_NE(r.key, nullptr) << r.error;
	EXPECT_EQ(key_id_of(r.key), v4_key_id(b));
	/* Old format: bits 2 to 5; bit 6 clear, so 0xB8 is tag 14 with a
     * one-byte length, and 0x98 (tag 6, a primary key) is skipped. */
	parse_result o;
	parse(cat({old_packet(TAG_PUBKEY, a, 0), old_packet(TAG_PUBSUBKEY, b, 0)}), o);
	ASSERT_NE(o.key, nullptr) << o.error;
	EXPECT_EQ(key_id_of(o.key), v4_key_id(b));
	/* A new-format primary key packet is never used. */
	EXPECT_EQ(parse_error(new_packet(TAG_PUBKEY, a)), "no public key contained in buffer");
}

TEST(pgp_pubkey, subkey_of_exactly_0xffff_bytes)
{
	/* The largest subkey packet allowed, numbers then filler: its key ID is
     * hashed over the length bytes FF FF and the whole body. */
	bytes body = rsa_body(256, 31);
	body.resize(0xffff, 0x5a);
	parse_result r;
	parse(new_packet(TAG_PUBSUBKEY, body, 5), r);
	ASSERT_NE(r.key, nullptr) << r.error;
	EXPECT_EQ(key_id_of(r.key), v4_key_id(body));
	EXPECT_EQ(BN_num_bytes(r.key->n_p), 256);
	parse_result o;
	parse(old_packet(TAG_PUBSUBKEY, body, 1), o);
	ASSERT_NE(o.key, nullptr) << o.error;
	EXPECT_EQ(key_id_of(o.key), v4_key_id(body));

	/* One byte more is refused, however the length is written. */
	body.push_back(0x5a);
	EXPECT_EQ(parse_error(old_packet(TAG_PUBSUBKEY, body, 2)), "packet length greater than 0xffff");
	EXPECT_EQ(parse_error(new_packet(TAG_PUBSUBKEY, body, 5)), "packet length greater than 0xffff");
}

TEST(pgp_pubkey, first_of_two_subkeys_is_taken)
{
	const bytes  a = key_body(4, 16, {mpi(number(64, 1)), mpi({2}), mpi(number(60, 2))});
	const bytes  b = rsa_body(96, 3);
	parse_result r;
	parse(cat({new_packet(TAG_PUBSUBKEY, a), new_packet(TAG_PUBSUBKEY, b)}), r);
	ASSERT_NE(r.key, nullptr) << r.error;
	EXPECT_EQ(key_id_of(r.key), v4_key_id(a));
	EXPECT_EQ(r.key->type, (uint32_t)M_PGP_PUBKEY_TYPE_ELGAMAL);
	EXPECT_TRUE(BN_is_word(r.key->e_g, 2));
	EXPECT_EQ(BN_num_bytes(r.key->y), 60);

	/* The gpg key with two encryption subkeys: its first one. */
	parse_result g;
	parse(read_file(key_path("two_subkeys.gpg")), g);
	ASSERT_NE(g.key, nullptr) << g.error;
	EXPECT_EQ(key_id_of(g.key), trim(read_text(key_path("two_subkeys.keyid"))));
}

struct failure_row {
	const char *what;
	bytes       data;
	std::string message;
};

TEST(pgp_pubkey, failure_messages)
{
	const bytes rsa_n          = mpi(number(64, 5));
	const bytes e              = mpi({0x01, 0x00, 0x01});
	const bytes p              = mpi(number(64, 6));
	const bytes g              = mpi({0x05});
	const bytes body           = rsa_body(64);
	const bytes oid25519       = {10, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x97, 0x55, 0x01, 0x05, 0x01};
	const bytes ecdh_brainpool = {9, 0x2b, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07};
	const bytes point25519     = mpi(cat({bytes{0x40}, bytes(32, 9)}));
	const bytes kdf            = {3, 1, 8, 7};

	const std::vector<failure_row> rows = {
	    {"empty", {}, NO_ARMOR},
	    {"only packets that are not subkeys", cat({old_packet(TAG_USERID, text("x"), 0)}),
	     "no public key contained in buffer"},
	    {"primary key only", new_packet(TAG_PUBKEY, body), "no public key contained in buffer"},
	    {"tag without bit 0x80", {0x00, 0x01, 0x02}, SANITY + "packet_tag & 0x80"},
	    {"tag without bit 0x80 after a packet", cat({old_packet(TAG_USERID, text("x"), 0), bytes{0x3f}}),
	     SANITY + "packet_tag & 0x80"},
	    {"new-format length missing", {0xCE}, SANITY + "read_multiformat_length(parser, &packet_length)"},
	    {"new-format second length byte missing",
	     {0xCE, 0xC0},
	     SANITY + "read_multiformat_length(parser, &packet_length)"},
	    {"new-format 4-byte length short",
	     {0xCE, 0xFF, 0x00, 0x00},
	     SANITY + "read_multiformat_length(parser, &packet_length)"},
	    {"partial length 224", {0xCE, 0xE0, 0x04}, SANITY + "read_multiformat_length(parser, &packet_length)"},
	    {"partial length 254", {0xCD, 0xFE, 0x04}, SANITY + "read_multiformat_length(parser, &packet_length)"},
	    {"old-format 2-byte length short",
	     {0xB9, 0x01},
	     SANITY + "read_scalar_length(parser, packet_length_length, &packet_length)"},
	    {"old-format 4-byte length short",
	     {0xB6, 0x00, 0x00, 0x01},
	     SANITY + "read_scalar_length(parser, packet_length_length, &packet_length)"},
	    {"old-format 1-byte length missing",
	     {0xB4},
	     SANITY + "read_scalar_length(parser, packet_length_length, &packet_length)"},
	    {"old-format indeterminate length", cat({bytes{0xBB}, body}), "indeterminate packet length not supported"},
	    {"indeterminate length on a skipped packet", {0xB7, 'a', 'b'}, "indeterminate packet length not supported"},
	    {"skipped packet longer than the rest",
	     {0xB4, 0x05, 'a', 'b'},
	     SANITY + "M_parser_consume(parser, packet_length)"},
	    {"skipped packet with a huge length",
	     {0xCD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
	     SANITY + "M_parser_consume(parser, packet_length)"},
	    /* the packets after a subkey are walked before it is used */
	    {"damaged packet after the subkey", cat({new_packet(TAG_PUBSUBKEY, body), bytes{0x11}}),
	     SANITY + "packet_tag & 0x80"},
	    {"subkey longer than 0xffff", cat({bytes{0xCE, 0xFF, 0x00, 0x01, 0x00, 0x00}, body}),
	     "packet length greater than 0xffff"},
	    {"no byte after the subkey header", {0xCE, 0x05}, "unable to peek version byte"},
	    {"subkey of length 0", cat({bytes{0xCE, 0x00}, body}), "unable to peek version byte"},
	    {"version 3 subkey", new_packet(TAG_PUBSUBKEY, key_body(3, 1, {rsa_n, e})),
	     "public key not in version 4 format"},
	    {"version 5 subkey", new_packet(TAG_PUBSUBKEY, key_body(5, 1, {rsa_n, e})),
	     "public key not in version 4 format"},
	    /* the version is looked at before the body is known to be whole */
	    {"version 3 subkey cut short", {0xCE, 0x10, 0x03, 0x01}, "public key not in version 4 format"},
	    {"body shorter than its length", {0xCE, 0x10, 0x04, 0x01, 0x02}, "unable to peek 16 bytes"},
	    {"body shorter than a 2-byte length", cat({bytes{0xCE, 0xC1, 0x10, 0x04}, bytes(100, 1)}),
	     "unable to peek 464 bytes"},
	    {"creation date cut", {0xCE, 0x03, 0x04, 0x00, 0x00}, "unable to skip creation date"},
	    {"algorithm missing", {0xCE, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00}, "unable to read public key algorithm"},
	    /* the packet's length bounds the fields, even when bytes follow */
	    {"algorithm past the packet",
	     cat({bytes{0xCE, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00}, old_packet(TAG_USERID, {0x01}, 0)}),
	     "unable to read public key algorithm"},
	    {"RSA sign-only (2)", new_packet(TAG_PUBSUBKEY, key_body(4, 2, {rsa_n, e})),
	     "unsupported public key algorithm"},
	    {"RSA encrypt-only (3)", new_packet(TAG_PUBSUBKEY, key_body(4, 3, {rsa_n, e})),
	     "unsupported public key algorithm"},
	    {"Elgamal sign+encrypt (20)", new_packet(TAG_PUBSUBKEY, key_body(4, 20, {p, g, p})),
	     "unsupported public key algorithm"},
	    {"DSA (17)", new_packet(TAG_PUBSUBKEY, key_body(4, 17, {p, g, p, p})), "unsupported public key algorithm"},
	    {"ECDH on Brainpool P-256", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {ecdh_brainpool})),
	     "unsupported public key algorithm"},
	    {"ECDH curve missing", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {})), "unable to read ECDH curve"},
	    {"ECDH curve of length 0", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {bytes{0}})), "unable to read ECDH curve"},
	    {"ECDH curve cut", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {bytes{10, 0x2b, 0x06}})),
	     "unable to read ECDH curve"},
	    {"ECDH point missing", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519})), "unable to read ECDH point"},
	    {"ECDH point without 0x40",
	     new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519, mpi(cat({bytes{0x41}, bytes(32, 9)})), kdf})),
	     "unable to read ECDH point"},
	    {"ECDH point of the wrong length",
	     new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519, mpi(cat({bytes{0x40}, bytes(31, 9)})), kdf})),
	     "unable to read ECDH point"},
	    {"ECDH KDF parameters missing", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519, point25519})),
	     "unable to read ECDH KDF parameters"},
	    {"ECDH KDF parameters of length 2",
	     new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519, point25519, bytes{2, 1, 8, 7}})),
	     "unable to read ECDH KDF parameters"},
	    {"ECDH KDF with SHA-1", new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519, point25519, bytes{3, 1, 2, 7}})),
	     "unsupported ECDH KDF parameters"},
	    {"ECDH key wrap with CAST5",
	     new_packet(TAG_PUBSUBKEY, key_body(4, 18, {oid25519, point25519, bytes{3, 1, 8, 3}})),
	     "unsupported ECDH KDF parameters"},
	    {"RSA n missing", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {})), "unable to read RSA n"},
	    {"RSA n of 0 bits", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {mpi_raw(0, {}), e})), "unable to read RSA n"},
	    {"RSA n bit count cut", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {bytes{0x02}})), "unable to read RSA n"},
	    {"RSA n short", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {mpi_raw(1024, number(100, 1))})),
	     "unable to read RSA n"},
	    {"RSA n past the packet end",
	     cat({new_packet(TAG_PUBSUBKEY, key_body(4, 1, {mpi_raw(1024, number(100, 1))})),
	          old_packet(TAG_USERID, bytes(40, 0x11), 0)}),
	     "unable to read RSA n"},
	    {"RSA e missing", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {rsa_n})), "unable to read RSA e"},
	    {"RSA e of 0 bits", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {rsa_n, mpi_raw(0, {})})), "unable to read RSA e"},
	    {"RSA e short", new_packet(TAG_PUBSUBKEY, key_body(4, 1, {rsa_n, mpi_raw(17, {0x01})})),
	     "unable to read RSA e"},
	    {"elgamal p missing", new_packet(TAG_PUBSUBKEY, key_body(4, 16, {})), "unable to read elgamal p"},
	    {"elgamal p of 0 bits", new_packet(TAG_PUBSUBKEY, key_body(4, 16, {mpi_raw(0, {}), g, p})),
	     "unable to read elgamal p"},
	    {"elgamal g missing", new_packet(TAG_PUBSUBKEY, key_body(4, 16, {p})), "unable to read elgamal g"},
	    {"elgamal g short", new_packet(TAG_PUBSUBKEY, key_body(4, 16, {p, mpi_raw(16, {0x01})})),
	     "unable to read elgamal g"},
	    {"elgamal y missing", new_packet(TAG_PUBSUBKEY, key_body(4, 16, {p, g})), "unable to read elgamal y"},
	    {"elgamal y of 0 bits", new_packet(TAG_PUBSUBKEY, key_body(4, 16, {p, g, mpi_raw(0, {})})),
	     "unable to read elgamal y"},
	};

	for (const failure_row &row : rows)
		EXPECT_EQ(parse_error(row.data), row.message) << row.what;
}

TEST(pgp_pubkey, numbers_after_the_last_are_ignored)
{
	const bytes  body = cat({rsa_body(64, 9), bytes{0xde, 0xad}});
	parse_result r;
	parse(new_packet(TAG_PUBSUBKEY, body), r);
	ASSERT_NE(r.key, nullptr) << r.error;
	EXPECT_EQ(key_id_of(r.key), v4_key_id(body));
	/* A 1-bit number is the smallest that is accepted. */
	parse_result one;
	parse(new_packet(TAG_PUBSUBKEY, key_body(4, 1, {mpi(number(64, 9)), mpi({1})})), one);
	ASSERT_NE(one.key, nullptr) << one.error;
	EXPECT_TRUE(BN_is_one(one.key->e_g));
}

/* ---------------------------------------------------------------------------
 * Arguments
 * ------------------------------------------------------------------------- */

TEST(pgp_pubkey, null_and_short_arguments)
{
	char err[64];

	std::strcpy(err, "unchanged");
	EXPECT_EQ(M_pgp_pubkey_create(nullptr, 100, err, sizeof(err)), nullptr);
	EXPECT_STREQ(err, NO_ARMOR);

	const unsigned char one = '-';
	std::strcpy(err, "unchanged");
	EXPECT_EQ(M_pgp_pubkey_create(&one, 0, err, sizeof(err)), nullptr);
	EXPECT_STREQ(err, NO_ARMOR);

	/* No message area: the call still fails, and a good key still parses. */
	EXPECT_EQ(M_pgp_pubkey_create(&one, 1, nullptr, 100), nullptr);
	const bytes     good = read_file(key_path("rsa2048.asc"));
	M_pgp_pubkey_t *key  = M_pgp_pubkey_create(good.data(), good.size(), nullptr, 0);
	EXPECT_NE(key, nullptr);
	M_pgp_pubkey_destroy(key);
	/* A success leaves the message area as it was. */
	std::strcpy(err, "unchanged");
	key = M_pgp_pubkey_create(good.data(), good.size(), err, sizeof(err));
	EXPECT_NE(key, nullptr);
	EXPECT_STREQ(err, "unchanged");
	M_pgp_pubkey_destroy(key);

	/* A size of 0 writes nothing. */
	std::strcpy(err, "unchanged");
	EXPECT_EQ(M_pgp_pubkey_create(&one, 1, err, 0), nullptr);
	EXPECT_STREQ(err, "unchanged");

	/* The message is cut to the area, terminator included. */
	char small[8];
	std::memset(small, 'X', sizeof(small));
	EXPECT_EQ(M_pgp_pubkey_create(&one, 1, small, sizeof(small)), nullptr);
	EXPECT_STREQ(small, "failed ");

	/* A sanity message is cut the same way. */
	const unsigned char bad[] = {0x00, 0x01};
	std::memset(small, 'X', sizeof(small));
	EXPECT_EQ(M_pgp_pubkey_create(bad, sizeof(bad), small, sizeof(small)), nullptr);
	EXPECT_STREQ(small, "read_pu");

	M_pgp_pubkey_destroy(nullptr);
}

TEST(pgp_pubkey, destroy_of_unknown_type_leaves_numbers)
{
	/* An object of unknown type is freed without touching its numbers. */
	const bytes     data = read_file(key_path("rsa2048.gpg"));
	M_pgp_pubkey_t *key  = M_pgp_pubkey_create(data.data(), data.size(), nullptr, 0);
	ASSERT_NE(key, nullptr);
	BIGNUM *n = key->n_p;
	BIGNUM *e = key->e_g;
	key->type = 7;
	M_pgp_pubkey_destroy(key);
	/* Still ours to free: a double free would be reported by the sanitizer. */
	EXPECT_GT(BN_num_bits(n), 0);
	BN_free(n);
	BN_free(e);
}

/* ---------------------------------------------------------------------------
 * Damaged input never reads out of bounds, and always explains a failure
 * ------------------------------------------------------------------------- */

TEST(pgp_pubkey, every_truncation_and_byte_flip)
{
	const bytes       bin = read_file(key_path("elg2048.gpg"));
	const std::string id  = trim(read_text(key_path("elg2048.keyid")));
	ASSERT_GT(bin.size(), 100u);

	/* Cut short at every length: a key only once the subkey is whole. */
	size_t first_ok = 0;
	for (size_t len = 1; len <= bin.size(); len++) {
		parse_result r;
		parse(bytes(bin.begin(), bin.begin() + (long)len), r);
		if (r.key != nullptr) {
			EXPECT_EQ(key_id_of(r.key), id) << len;
			if (first_ok == 0)
				first_ok = len;
		} else {
			EXPECT_FALSE(r.error.empty()) << len;
		}
	}
	EXPECT_GT(first_ok, 0u);

	/* Every byte flipped in turn: a key or a message, never a crash. */
	for (size_t i = 0; i < bin.size(); i++) {
		bytes damaged = bin;
		damaged[i] ^= 0xA5;
		parse_result r;
		parse(damaged, r);
		if (r.key == nullptr) {
			EXPECT_FALSE(r.error.empty()) << i;
		}
	}

	/* The armoured form cut at every length. */
	const std::string asc = read_text(key_path("elg2048.asc"));
	for (size_t len = 0; len <= asc.size(); len += 7) {
		parse_result r;
		parse(text(asc.substr(0, len)), r);
		if (r.key == nullptr) {
			EXPECT_FALSE(r.error.empty()) << len;
		}
	}
}
