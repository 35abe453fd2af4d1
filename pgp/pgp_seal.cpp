/* OpenPGP CFB sealing of the data packet, in place (the old form) and as a
 * stream (the integrity-protected form); see pgp_seal_int.h. */
#include "pgp/pgp_seal_int.h"

#include <climits>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace m::detail {

namespace {

/* The modification detection code packet: new-format tag 19, length 20,
 * then the SHA-1. */
constexpr unsigned char kMdcHead[2]   = {new_tag_byte(kTagMdc), kSha1Len};
constexpr size_t        kMdcPacketLen = sizeof(kMdcHead) + kSha1Len;
static_assert(kMdcHead[0] == 0xD3 && kMdcHead[1] == 0x14 && kMdcPacketLen == 22, "tag 19 packet of 22 bytes");
constexpr unsigned char kSeipdVersion = 1;

/* The CFB prefix: a random cipher block, its last two bytes repeated. */
[[nodiscard]] bool make_prefix(unsigned char *prefix, size_t bs)
{
	if (RAND_bytes(prefix, static_cast<int>(bs)) != 1)
		return false;
	prefix[bs]     = prefix[bs - 2];
	prefix[bs + 1] = prefix[bs - 1];
	return true;
}

} // namespace

cfb_stream::~cfb_stream()
{
	EVP_CIPHER_CTX_free(ctx_); /* clears the key schedule */
}

bool cfb_stream::start(const sym_cipher *cipher, const unsigned char *key, const unsigned char *iv) noexcept
{
	if (cipher == nullptr || key == nullptr || iv == nullptr || ctx_ != nullptr)
		return false;
	const EVP_CIPHER *evp = evp_of(cipher->cfb);
	if (evp == nullptr)
		return false;
	ctx_ = EVP_CIPHER_CTX_new();
	return ctx_ != nullptr && EVP_EncryptInit_ex(ctx_, evp, nullptr, nullptr, nullptr) == 1 &&
	       EVP_CIPHER_CTX_set_key_length(ctx_, static_cast<int>(cipher->key_size)) == 1 &&
	       EVP_EncryptInit_ex(ctx_, nullptr, nullptr, key, iv) == 1 && EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
}

bool cfb_stream::update(unsigned char *out, const unsigned char *in, size_t len) noexcept
{
	/* The cipher takes an int count: long inputs go in slices of the stream. */
	constexpr size_t kSlice = static_cast<size_t>(1) << 30;
	static_assert(kSlice <= INT_MAX, "slice fits the cipher's count");
	if (ctx_ == nullptr)
		return false;
	for (size_t done = 0; done < len;) {
		const size_t n    = (len - done < kSlice) ? len - done : kSlice;
		int          outl = 0;
		if (EVP_EncryptUpdate(ctx_, out + done, &outl, in + done, static_cast<int>(n)) != 1 ||
		    static_cast<size_t>(outl) != n)
			return false;
		done += n;
	}
	return true;
}

bool cfb_stream::finish() noexcept
{
	unsigned char tail[EVP_MAX_BLOCK_LENGTH];
	int           finl = 0;
	return ctx_ != nullptr && EVP_EncryptFinal_ex(ctx_, tail, &finl) == 1 && finl == 0;
}

size_t do_encrypt_cfb(unsigned char *out, M_pgp_symalg_t symalg, const unsigned char *key, const unsigned char *iv,
                      const unsigned char *in, size_t in_len) noexcept
{
	cfb_stream cfb;
	if (out == nullptr || in == nullptr || !cfb.start(cipher_by_symalg(symalg), key, iv) ||
	    !cfb.update(out, in, in_len) || !cfb.finish())
		return 0;
	return in_len;
}

bool seal_symenc(unsigned char *p, size_t body_len, const sym_cipher *cipher, const unsigned char *session_key) noexcept
{
	const size_t bs = cipher->block_size;
	if (static_cast<uint64_t>(body_len) > 0xFFFFFFFFu - bs - 2)
		return false;
	put_old_header(p, kTagSymenc, static_cast<uint32_t>(bs + 2 + body_len));
	unsigned char *const prefix_at = p + kOldHeaderLen;
	unsigned char        prefix[kMaxBlockSize + 2];
	unsigned char        iv[kMaxBlockSize] = {0};
	bool                 ok =
	    make_prefix(prefix, bs) && do_encrypt_cfb(prefix_at, cipher->symalg, session_key, iv, prefix, bs + 2) == bs + 2;
	OPENSSL_cleanse(prefix, sizeof(prefix));
	if (!ok)
		return false;
	std::memcpy(iv, prefix_at + 2, bs);
	unsigned char *body = prefix_at + bs + 2;
	return body_len == 0 || do_encrypt_cfb(body, cipher->symalg, session_key, iv, body, body_len) == body_len;
}

seipd_stream::~seipd_stream()
{
	EVP_MD_CTX_free(md_);
}

bool seipd_stream::seal(const unsigned char *bytes, size_t len) noexcept
{
	/* The ciphertext is written straight into the packet's chunk, which
	 * goes out when full: no other copy is made. */
	while (ok_ && len > 0) {
		size_t         room = 0;
		unsigned char *out  = packet_.window(&room);
		const size_t   n    = len < room ? len : room;
		ok_                 = EVP_DigestUpdate(md_, bytes, n) == 1 && cfb_.update(out, bytes, n) && packet_.commit(n);
		bytes += n;
		len -= n;
	}
	return ok_;
}

bool seipd_stream::start(const sym_cipher *cipher, const unsigned char *session_key, write_fn write,
                         void *thunk) noexcept
{
	const unsigned char iv[kMaxBlockSize] = {0};
	unsigned char       prefix[kMaxBlockSize + 2];
	md_ = EVP_MD_CTX_new();
	ok_ = cipher != nullptr && md_ != nullptr && cfb_.start(cipher, session_key, iv) &&
	      EVP_DigestInit_ex(md_, EVP_sha1(), nullptr) == 1 && packet_.start(kTagSeipd, write, thunk) &&
	      packet_.add(&kSeipdVersion, 1) && make_prefix(prefix, cipher->block_size);
	ok_ = ok_ && seal(prefix, cipher->block_size + 2);
	OPENSSL_cleanse(prefix, sizeof(prefix));
	return ok_;
}

bool seipd_stream::add(const unsigned char *bytes, size_t len) noexcept
{
	return seal(bytes, len);
}

bool seipd_stream::write_into(const unsigned char *bytes, size_t len, void *thunk) noexcept
{
	return static_cast<seipd_stream *>(thunk)->add(bytes, len);
}

bool seipd_stream::finish() noexcept
{
	unsigned char mdc[kMdcPacketLen];
	unsigned int  digest_len = 0;
	std::memcpy(mdc, kMdcHead, sizeof(kMdcHead));
	ok_ = ok_ && EVP_DigestUpdate(md_, kMdcHead, sizeof(kMdcHead)) == 1 &&
	      EVP_DigestFinal_ex(md_, mdc + sizeof(kMdcHead), &digest_len) == 1 && digest_len == kSha1Len;
	/* The MDC packet is encrypted, not hashed again. */
	unsigned char out[kMdcPacketLen];
	ok_ =
	    ok_ && cfb_.update(out, mdc, sizeof(mdc)) && cfb_.finish() && packet_.add(out, sizeof(out)) && packet_.finish();
	const bool ok = ok_;
	ok_           = false;
	return ok;
}

} // namespace m::detail
