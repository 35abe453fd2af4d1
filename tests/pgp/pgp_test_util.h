/* Helpers shared by the OpenPGP tests: test key files, hand-built packets and
 * a throwaway GnuPG home for the peer checks. */
#ifndef PGP_TEST_UTIL_H
#define PGP_TEST_UTIL_H

#include "tests/test_util.h"

#include <fstream>
#include <iterator>

#include <openssl/evp.h>

namespace pgp_test {

using bytes = std::vector<unsigned char>;

inline std::string key_path(const std::string &file)
{
	return std::string(M_TEST_DATA_DIR) + "/keys/" + file;
}

inline bytes read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::string &path)
{
	const bytes b = read_file(path);
	return std::string(b.begin(), b.end());
}

/* The key ID recorded beside a test key when it was made. */
inline std::string recorded_id(const std::string &name)
{
	const std::string s = read_text(key_path(name + ".keyid"));
	return s.substr(0, s.find_last_not_of("\r\n ") + 1);
}

using test_util::hex;

#if M_TEST_POSIX /* Linux only: gpg, the peer that opens our messages, runs through a POSIX shell */
/* Runs a shell command; returns its exit status (-1 when it did not exit)
 * and, when out is given, its standard output. */
inline int run(const std::string &cmd, std::string *out = nullptr)
{
	FILE *p = popen(cmd.c_str(), "r");
	if (p == nullptr)
		return -1;
	char   buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), p)) > 0) {
		if (out != nullptr)
			out->append(buf, n);
	}
	const int st = pclose(p);
	return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

inline std::string shell_quote(const std::string &s)
{
	std::string q = "'";
	for (char c : s)
		q += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return q + "'";
}

/* A GnuPG home in a fresh temporary folder, removed (agent included) by the
 * destructor. */
class gpg_home {
  public:
	gpg_home()
	{
		char tmpl[] = "/tmp/pgpt.XXXXXX";
		if (mkdtemp(tmpl) != nullptr)
			dir_ = tmpl;
	}
	~gpg_home()
	{
		if (dir_.empty())
			return;
		(void)run("GNUPGHOME=" + shell_quote(dir_) + " gpgconf --kill gpg-agent >/dev/null 2>&1");
		(void)run("rm -rf " + shell_quote(dir_));
	}
	gpg_home(const gpg_home &)            = delete;
	gpg_home &operator=(const gpg_home &) = delete;

	bool ok() const
	{
		return !dir_.empty();
	}
	std::string file(const std::string &name) const
	{
		return dir_ + "/" + name;
	}
	std::string gpg(const std::string &args) const
	{
		return "GNUPGHOME=" + shell_quote(dir_) + " gpg --batch --no-tty --quiet " + args;
	}
	bool import(const std::string &path) const
	{
		return run(gpg("--import " + shell_quote(path) + " >/dev/null 2>&1")) == 0;
	}

  private:
	std::string dir_;
};

#endif

/* A message sink (M_pgp_msg_create) appending to the bytes at thunk. */
inline M_bool add_to(const unsigned char *data, size_t len, void *thunk)
{
	static_cast<bytes *>(thunk)->insert(static_cast<bytes *>(thunk)->end(), data, data + len);
	return M_TRUE;
}

inline bytes cat(std::initializer_list<bytes> parts)
{
	bytes r;
	for (const bytes &p : parts)
		r.insert(r.end(), p.begin(), p.end());
	return r;
}

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Warray-bounds")
TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wstringop-overread")
/* An MPI of the given bytes; bits is the count written, which tests may set
 * to anything. */
inline bytes mpi_raw(unsigned bits, const bytes &value)
{
	return cat({{static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits & 0xff)}, value});
}

/* Old-format packet (RFC 4880 4.2.1) with a length type of 0, 1 or 2. */
inline bytes old_packet(unsigned tag, const bytes &body, unsigned len_type)
{
	const size_t n = body.size();
	bytes        p = {static_cast<unsigned char>(0x80 | (tag << 2) | len_type)};
	for (int i = (1 << len_type) - 1; i >= 0; i--)
		p.push_back(static_cast<unsigned char>(n >> (8 * i)));
	return cat({p, body});
}
TEST_GCC12_FALSE_POSITIVE_END()
TEST_GCC12_FALSE_POSITIVE_END()

/* A well-formed MPI of value (first byte non-zero). */
inline bytes mpi(const bytes &value)
{
	unsigned bits = static_cast<unsigned>(value.size()) * 8;
	for (unsigned char top = value.empty() ? 0 : value[0]; top != 0 && !(top & 0x80); top <<= 1)
		bits--;
	return mpi_raw(bits, value);
}

/* A number of nbytes bytes with its top bit set, odd, filled from seed. */
inline bytes number(size_t nbytes, unsigned seed)
{
	bytes    v(nbytes);
	unsigned x = seed * 2654435761u + 1;
	for (size_t i = 0; i < nbytes; i++) {
		x    = x * 1103515245u + 12345u;
		v[i] = static_cast<unsigned char>(x >> 16);
	}
	v[0] |= 0x80;
	v[nbytes - 1] |= 0x01;
	return v;
}

/* Public key packet body: version, creation time 0x5f010203, algorithm,
 * then fields. */
inline bytes key_body(unsigned char version, unsigned char alg, const std::vector<bytes> &fields)
{
	bytes b = {version, 0x5f, 0x01, 0x02, 0x03, alg};
	for (const bytes &f : fields)
		b.insert(b.end(), f.begin(), f.end());
	return b;
}

/* New-format packet (RFC 4880 4.2.2); len_form 1, 2 or 5 forces the length
 * encoding, 0 picks the shortest. */
inline bytes new_packet(unsigned tag, const bytes &body, int len_form = 0)
{
	const size_t n = body.size();
	if (len_form == 0)
		len_form = n < 192 ? 1 : (n < 8384 ? 2 : 5);
	bytes p = {static_cast<unsigned char>(0xC0 | tag)};
	if (len_form == 1) {
		p.push_back(static_cast<unsigned char>(n));
	} else if (len_form == 2) {
		p.push_back(static_cast<unsigned char>(((n - 192) >> 8) + 192));
		p.push_back(static_cast<unsigned char>((n - 192) & 0xff));
	} else {
		p.push_back(0xFF);
		for (int s = 24; s >= 0; s -= 8)
			p.push_back(static_cast<unsigned char>(n >> s));
	}
	return cat({p, body});
}

/* An RSA subkey body with a modulus of nbytes bytes and exponent 65537. */
inline bytes rsa_body(size_t nbytes, unsigned seed = 1)
{
	return key_body(4, 1, {mpi(number(nbytes, seed)), mpi({0x01, 0x00, 0x01})});
}

inline bytes be32(uint32_t v)
{
	return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
	        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

inline bytes digest(const EVP_MD *md, const bytes &in)
{
	unsigned char out[EVP_MAX_MD_SIZE];
	unsigned int  len = 0;
	EVP_Digest(in.data(), in.size(), out, &len, md, nullptr);
	return bytes(out, out + len);
}

/* SHA-1 key ID of a v4 key packet body (RFC 4880 12.2). */
inline std::string v4_key_id(const bytes &body)
{
	const bytes len = {static_cast<unsigned char>(body.size() >> 8), static_cast<unsigned char>(body.size())};
	return hex(digest(EVP_sha1(), cat({{0x99}, len, body})).data() + 12, 8);
}

/* A primary key made here, EdDSA on Ed25519 (algorithm 22) and created at
 * 0x5f000000, that signs anything: keys whose self-signatures sit anywhere
 * and cover any packet. Given a point instead, it holds no secret and
 * "signs" with R = the identity and S = 0, which verifies with a key at the
 * identity. The secret is fixed: with a fresh key, the two hash bytes by
 * which a reader first matches a signature to its subject would collide
 * about one run in a hundred, failing a count of verifications. */
class test_signer {
  public:
	explicit test_signer(const bytes &point = {})
	{
		unsigned char pub[32];
		size_t        len = sizeof(pub);
		if (point.empty()) {
			const unsigned char secret[32] = {0x51, 0x75, 0x6f, 0x72, 0x76, 0x65, 0x6c, 0x20, 0x74, 0x65, 0x73, 0x74};
			pkey_ = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret, sizeof(secret));
			EVP_PKEY_get_raw_public_key(pkey_, pub, &len);
		}
		const bytes oid = {9, 0x2b, 0x06, 0x01, 0x04, 0x01, 0xda, 0x47, 0x0f, 0x01};
		body = key_body(4, 22, {oid, mpi_raw(263, point.empty() ? cat({{0x40}, bytes(pub, pub + 32)}) : point)});
		overwrite_time(body, 0x5f000000);
		fpr = digest(EVP_sha1(), cat({{0x99, 0, static_cast<unsigned char>(body.size())}, body}));
	}
	~test_signer()
	{
		EVP_PKEY_free(pkey_);
	}
	test_signer(const test_signer &)            = delete;
	test_signer &operator=(const test_signer &) = delete;

	static void overwrite_time(bytes &key, uint32_t t)
	{
		const bytes b = be32(t);
		std::copy(b.begin(), b.end(), key.begin() + 1);
	}

	/* A version-4 signature body (SHA-256) of the type over the primary key
	 * and the subject, a packet body of tag 13 (user ID) or 14 (subkey), or
	 * none (tag 0); hashed: creation time, issuer fingerprint, then extra
	 * subpackets; unhashed: the issuer key ID. */
	bytes sign(unsigned char type, unsigned tag, const bytes &subject, const bytes &extra = {},
	           uint32_t created = 0x5f000100) const
	{
		const bytes hashed  = cat({{5, 2}, be32(created), {22, 33, 4}, fpr, extra});
		const bytes trailer = cat({{4, type, 22, 8, 0, static_cast<unsigned char>(hashed.size())}, hashed});
		const auto  hdr     = [](unsigned char c, const bytes &b) {
            return c == 0x99 ? bytes{c, static_cast<unsigned char>(b.size() >> 8), static_cast<unsigned char>(b.size())}
			                      : cat({{c}, be32(static_cast<uint32_t>(b.size()))});
		};
		bytes signed_data = cat({hdr(0x99, body), body});
		if (tag != 0)
			signed_data = cat({signed_data, hdr(tag == 14 ? 0x99 : 0xb4, subject), subject});
		signed_data          = cat({signed_data, trailer, {4, 0xff}, be32(static_cast<uint32_t>(trailer.size()))});
		const bytes   hash   = digest(EVP_sha256(), signed_data);
		unsigned char rs[64] = {1};
		size_t        rs_len = sizeof(rs);
		EVP_MD_CTX   *ctx    = EVP_MD_CTX_new();
		if (pkey_ != nullptr && (EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, pkey_) != 1 ||
		                         EVP_DigestSign(ctx, rs, &rs_len, hash.data(), 32) != 1))
			rs[0] ^= 1; /* a signature that fails */
		EVP_MD_CTX_free(ctx);
		return cat({trailer,
		            {0, 10, 9, 16},
		            bytes(fpr.end() - 8, fpr.end()),
		            {hash[0], hash[1]},
		            mpi_raw(256, bytes(rs, rs + 32)),
		            mpi_raw(256, bytes(rs + 32, rs + 64))});
	}

	bytes body; /* the primary key packet body */
	bytes fpr;

  private:
	EVP_PKEY *pkey_ = nullptr;
};

} // namespace pgp_test

#endif /* PGP_TEST_UTIL_H */
