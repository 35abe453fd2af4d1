/* Export key conversion and block decryption. */
#include "app/tokenexp_cipher.h"

#include "core/m_buf.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "pgp/pgp_packet_int.h"
#include "sys/m_proc.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <climits>
#include <cstring>

const unsigned char tokenexp_export_iv[16] = {0x7a, 0x1e, 0x44, 0xc9, 0xb0, 0xd2, 0x83, 0x5f,
                                              0x7a, 0x1e, 0x44, 0xc9, 0xb0, 0xd2, 0x83, 0x5f};

namespace {

/* OpenSSL's text for its latest error. */
const char *openssl_error()
{
	return ERR_error_string(ERR_get_error(), nullptr);
}

} // namespace

const EVP_CIPHER *tokenexp_key_cipher(size_t key_len)
{
	const m::detail::sym_cipher *aes = m::detail::aes_by_key_size(key_len);
	return aes != nullptr ? m::detail::evp_of(aes->cbc) : nullptr;
}

tokenexp_export_key::tokenexp_export_key(const char *text)
    : bytes_{}, cipher_(nullptr), error_{}, locked_(M_proc_mem_lock(bytes_, sizeof(bytes_)))
{
	/* The text decodes into a buffer first (its length decides the cipher);
	 * the buffer wipes its storage when it is cancelled. */
	tokenexp::buf_guard decoded(M_buf_create());
	if (!M_buf_add_bytes_hex(decoded.get(), text)) {
		M_snprintf(error_, sizeof(error_),
		           "given quorvel key was incorrectly formatted, couldn't convert from hex to binary");
		return;
	}
	const size_t len = M_buf_len(decoded.get());
	cipher_          = tokenexp_key_cipher(len);
	if (cipher_ == nullptr) {
		M_snprintf(error_, sizeof(error_), "unsupported quorvel key size: %llu bits (expected 128, 192 or 256 bits)",
		           static_cast<unsigned long long>(len) * 8);
		return;
	}
	std::memcpy(bytes_, M_buf_peek(decoded.get()), len);
}

tokenexp_export_key::~tokenexp_export_key()
{
	OPENSSL_cleanse(bytes_, sizeof(bytes_));
	if (locked_)
		M_proc_mem_unlock(bytes_, sizeof(bytes_));
}

tokenexp_decryptor::tokenexp_decryptor(const tokenexp_export_key &key) : ctx_(EVP_CIPHER_CTX_new()), setup_error_{}
{
	if (ctx_ == nullptr) {
		M_snprintf(setup_error_, sizeof(setup_error_), "OpenSSL decrypt error (EVP cipher init key/iv): %s",
		           openssl_error());
	} else if (key.cipher() == nullptr) {
		M_snprintf(setup_error_, sizeof(setup_error_), "%s", key.error());
	} else if (EVP_DecryptInit_ex(ctx_.get(), key.cipher(), nullptr, key.bytes(), tokenexp_export_iv) != 1) {
		M_snprintf(setup_error_, sizeof(setup_error_), "OpenSSL decrypt error (EVP cipher init key/iv): %s",
		           openssl_error());
	}
}

namespace {

/* Why the final step failed; a padding failure nearly always means the key
 * was wrong, and says so. */
void final_error(char *err, size_t errlen)
{
	M_snprintf(err, errlen, "OpenSSL decrypt error (EVP final): %s", openssl_error());
	if (M_str_eq_end(err, "reason(100)") || M_str_eq_end(err, "bad decrypt"))
		M_snprintf(err, errlen,
		           "OpenSSL decrypt error (EVP final): bad decrypt (usually means you entered the wrong quorvel "
		           "export key)");
}

/* Decrypt len bytes at data in place with a keyed context reset for the
 * block; returns the plaintext's length, or -1 with the reason in err. */
long long decrypt_in_place(EVP_CIPHER_CTX *ctx, unsigned char *data, size_t len, char *err, size_t errlen)
{
	if (EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, tokenexp_export_iv) != 1) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP cipher init key/iv): %s", openssl_error());
		return -1;
	}
	if (len > INT_MAX - 32) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP update): %s", "block too large");
		return -1;
	}
	/* CBC decryption may write over its own input: each block's plaintext
	 * lands where its ciphertext was read, the last one held back until the
	 * padding is checked. */
	int len1 = 0;
	if (EVP_DecryptUpdate(ctx, data, &len1, data, static_cast<int>(len)) != 1) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP update): %s", openssl_error());
		return -1;
	}
	if (len1 < 0) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP update): negative len written");
		return -1;
	}
	int len2 = 0;
	if (EVP_DecryptFinal_ex(ctx, data + len1, &len2) != 1) {
		final_error(err, errlen);
		return -1;
	}
	if (len2 < 0) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP final): negative len written");
		return -1;
	}
	return static_cast<long long>(len1) + len2;
}

} // namespace

M_bool tokenexp_decryptor::decrypt(M_buf_t *data, char *err, size_t errlen)
{
	unsigned char  none[1] = {0}; /* somewhere to point at while data holds no storage */
	unsigned char *bytes   = tokenexp::content_in_place(data);
	long long      plain   = -1;
	if (setup_error_[0] != '\0')
		M_snprintf(err, errlen, "%s", setup_error_);
	else
		plain = decrypt_in_place(ctx_.get(), bytes != nullptr ? bytes : none, M_buf_len(data), err, errlen);
	M_buf_truncate(data, plain < 0 ? 0 : static_cast<size_t>(plain));
	return plain >= 0;
}
