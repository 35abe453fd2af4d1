/* OpenPGP's vocabulary: the new-format length, and the tables of ciphers,
 * hashes and curves with their look-ups (see pgp_packet_int.h). */
#include "pgp/pgp_packet_int.h"

#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/provider.h>

#include "core/m_defs.h"
#include "core/m_mem.h"

namespace m::detail {

namespace {

using namespace std::string_view_literals;

/* The ciphers (RFC 4880 9.2). The library's selector values are its own;
 * the id is what messages carry. */
constexpr sym_cipher kCiphers[] = {
    {M_PGP_SYMALG_3DES, 2, 8, 24, EVP_des_ede3_cfb64, nullptr, nullptr},
    {M_PGP_SYMALG_CAST5, 3, 8, 16, EVP_cast5_cfb64, nullptr, nullptr},
    {M_PGP_SYMALG_BLOWFISH, 4, 8, 16, EVP_bf_cfb64, nullptr, nullptr},
    {M_PGP_SYMALG_AES128, 7, 16, 16, EVP_aes_128_cfb128, EVP_aes_128_cbc, EVP_aes_128_wrap},
    {M_PGP_SYMALG_AES192, 8, 16, 24, EVP_aes_192_cfb128, EVP_aes_192_cbc, EVP_aes_192_wrap},
    {M_PGP_SYMALG_AES256, 9, 16, 32, EVP_aes_256_cfb128, EVP_aes_256_cbc, EVP_aes_256_wrap},
};
static_assert(M_ARRAY_LEN(kCiphers) == 6, "six ciphers");

/* The hashes (9.4) a signature or a key derivation may name. */
struct hash_row {
	uint8_t id;
	const EVP_MD *(*md)(void);
};
constexpr hash_row kHashes[] = {
    {kHashSha1, EVP_sha1}, {3, EVP_ripemd160},        {kHashSha256, EVP_sha256},
    {9, EVP_sha384},       {kHashSha512, EVP_sha512}, {11, EVP_sha224},
};

/* The curves by OID: RFC 6637 11 (NIST), RFC 5639 (Brainpool), SEC 2
 * (secp256k1), and the Curve25519 and Ed25519 OIDs gpg writes. */
constexpr curve_info kCurves[] = {
    {"cv25519", nullptr, "\x2b\x06\x01\x04\x01\x97\x55\x01\x05\x01"sv, PGP_CURVE_CURVE25519, 255, 33, 0x40, true,
     false},
    {"nistp256", "P-256", "\x2a\x86\x48\xce\x3d\x03\x01\x07"sv, PGP_CURVE_P256, 256, 65, 0x04, true, true},
    {"nistp384", "P-384", "\x2b\x81\x04\x00\x22"sv, PGP_CURVE_P384, 384, 97, 0x04, true, true},
    {"nistp521", "P-521", "\x2b\x81\x04\x00\x23"sv, PGP_CURVE_P521, 521, 133, 0x04, true, true},
    {"ed25519", nullptr, "\x2b\x06\x01\x04\x01\xda\x47\x0f\x01"sv, PGP_CURVE_ED25519, 255, 33, 0x40, false, true},
    {"brainpoolP256r1", "brainpoolP256r1", "\x2b\x24\x03\x03\x02\x08\x01\x01\x07"sv, PGP_CURVE_BRAINPOOL256, 256, 65,
     0x04, false, true},
    {"brainpoolP384r1", "brainpoolP384r1", "\x2b\x24\x03\x03\x02\x08\x01\x01\x0b"sv, PGP_CURVE_BRAINPOOL384, 384, 97,
     0x04, false, true},
    {"brainpoolP512r1", "brainpoolP512r1", "\x2b\x24\x03\x03\x02\x08\x01\x01\x0d"sv, PGP_CURVE_BRAINPOOL512, 512, 129,
     0x04, false, true},
    {"secp256k1", "secp256k1", "\x2b\x81\x04\x00\x0a"sv, PGP_CURVE_SECP256K1, 256, 65, 0x04, false, true},
};

/* The first row of a table that pred accepts, or NULL. */
template <typename Row, size_t N, typename Pred>
const Row *find_row(const Row (&rows)[N], Pred pred)
{
	for (const Row &r : rows) {
		if (pred(r))
			return &r;
	}
	return nullptr;
}

constexpr bool oids_fit()
{
	for (const curve_info &c : kCurves) {
		if (c.oid.size() > kMaxOidLen)
			return false;
	}
	return true;
}
static_assert(oids_fit(), "every OID fits the key object's room for it");

/* The provider handles are given back at exit, before OpenSSL's own
 * clean-up (registered earlier, so it runs later): a provider still
 * referenced when OpenSSL unloads its module would leave its memory
 * behind. */
OSSL_PROVIDER *g_providers[2] = {nullptr, nullptr};

void unload_providers()
{
	for (OSSL_PROVIDER *&prov : g_providers) {
		if (prov != nullptr)
			(void)OSSL_PROVIDER_unload(prov);
		prov = nullptr;
	}
}

} // namespace

size_t put_new_length(unsigned char *dst, uint32_t len) noexcept
{
	if (len < kLenTwoFirst) {
		dst[0] = static_cast<unsigned char>(len);
		return 1;
	}
	if (len < two_byte_length(kLenPartialFirst, 0)) {
		const uint32_t v = len - kLenTwoFirst;
		dst[0]           = static_cast<unsigned char>((v >> 8) + kLenTwoFirst);
		dst[1]           = static_cast<unsigned char>(v & 0xff);
		return 2;
	}
	dst[0] = kLenFour;
	put_be32(dst + 1, len);
	return 5;
}

bool digest_key(EVP_MD_CTX *ctx, const unsigned char *body, size_t len) noexcept
{
	unsigned char hdr[kHashHeaderMax];
	const size_t  n = put_key_hash_header(hdr, len);
	return EVP_DigestUpdate(ctx, hdr, n) == 1 && EVP_DigestUpdate(ctx, body, len) == 1;
}

partial_packet::~partial_packet()
{
	M_free(held_);
}

bool partial_packet::put(const unsigned char *bytes, size_t len) noexcept
{
	ok_ = ok_ && write_(bytes, len, thunk_);
	return ok_;
}

bool partial_packet::start(pgp_tag tag, write_fn write, void *thunk) noexcept
{
	write_                   = write;
	thunk_                   = thunk;
	have_                    = 0;
	ok_                      = write != nullptr;
	const unsigned char byte = new_tag_byte(tag);
	return put(&byte, 1);
}

bool partial_packet::add(const unsigned char *bytes, size_t len) noexcept
{
	const unsigned char chunk_len = partial_length(kChunkBits);
	if (held_ == nullptr)
		held_ = static_cast<unsigned char *>(M_malloc(1 + kPartialChunk));
	/* A chunk these bytes complete goes out from where they lie: its length,
	 * the bytes held before them, then theirs. */
	while (ok_ && have_ + len >= kPartialChunk) {
		const size_t take = kPartialChunk - have_;
		(void)(put(&chunk_len, 1) && (have_ == 0 || put(held_ + 1, have_)) && put(bytes, take));
		have_ = 0;
		bytes += take;
		len -= take;
	}
	if (ok_ && len > 0) {
		std::memcpy(held_ + 1 + have_, bytes, len);
		have_ += len;
	}
	return ok_;
}

unsigned char *partial_packet::window(size_t *room) noexcept
{
	if (held_ == nullptr)
		held_ = static_cast<unsigned char *>(M_malloc(1 + kPartialChunk));
	*room = kPartialChunk - have_;
	return held_ + 1 + have_;
}

bool partial_packet::commit(size_t n) noexcept
{
	have_ += n;
	if (ok_ && have_ == kPartialChunk) {
		/* A chunk goes out with its length in front, in one write. */
		held_[0] = partial_length(kChunkBits);
		have_    = 0;
		(void)put(held_, 1 + kPartialChunk);
	}
	return ok_;
}

bool partial_packet::finish() noexcept
{
	unsigned char len[kNewLengthMax];
	const size_t  n  = put_new_length(len, static_cast<uint32_t>(have_));
	const bool    ok = put(len, n) && (have_ == 0 || put(held_ + 1, have_));
	have_            = 0;
	ok_              = false;
	return ok;
}

void load_providers() noexcept
{
	static const bool loaded = [] {
		/* OpenSSL's exit handler is registered before ours. */
		(void)OPENSSL_init_crypto(0, nullptr);
		g_providers[0] = OSSL_PROVIDER_load(nullptr, "legacy");
		g_providers[1] = OSSL_PROVIDER_load(nullptr, "default");
		(void)std::atexit(unload_providers);
		return true;
	}();
	(void)loaded;
}

const sym_cipher *cipher_by_symalg(M_pgp_symalg_t symalg) noexcept
{
	return find_row(kCiphers, [symalg](const sym_cipher &c) { return c.symalg == symalg; });
}

const sym_cipher *cipher_by_id(uint8_t id) noexcept
{
	return find_row(kCiphers, [id](const sym_cipher &c) { return c.id == id; });
}

const sym_cipher *aes_by_key_size(size_t key_size) noexcept
{
	return find_row(kCiphers, [key_size](const sym_cipher &c) { return c.cbc != nullptr && c.key_size == key_size; });
}

const EVP_CIPHER *evp_of(const EVP_CIPHER *(*mode)(void)) noexcept
{
	if (mode == nullptr)
		return nullptr;
	load_providers();
	return mode();
}

const EVP_MD *hash_by_id(uint8_t id) noexcept
{
	const hash_row *h = find_row(kHashes, [id](const hash_row &r) { return r.id == id; });
	return h != nullptr ? h->md() : nullptr;
}

const curve_info *curve_by_oid(const unsigned char *oid, size_t oid_len) noexcept
{
	const std::string_view wanted(reinterpret_cast<const char *>(oid), oid_len);
	return find_row(kCurves, [wanted](const curve_info &c) { return c.oid == wanted; });
}

const curve_info *curve_by_id(uint32_t curve) noexcept
{
	return find_row(kCurves, [curve](const curve_info &c) { return c.curve == curve; });
}

} // namespace m::detail
