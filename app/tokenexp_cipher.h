/* The export key converted once into AES key bytes, and the AES-CBC
 * decryption of the export file's blocks under it. */
#ifndef TOKENEXP_CIPHER_H
#define TOKENEXP_CIPHER_H

#include "app/tokenexp_guard.h"
#include "core/m_defs.h"

#include <openssl/evp.h>

/* The fixed initialisation vector of every block (AES-CBC), shared with
 * tools/mkexport, which writes export files. */
extern const unsigned char tokenexp_export_iv[16];

/* The AES-CBC cipher for an export key of key_len bytes: AES-128, -192 or
 * -256 for 16, 24 or 32 bytes; NULL for any other length. Shared with
 * tools/mkexport. */
const EVP_CIPHER *tokenexp_key_cipher(size_t key_len);

/* The export key, converted from its text once before the walk: the key
 * bytes (kept out of swap where the system allows it, wiped when the object
 * goes) and the cipher their count selects. A text that cannot be converted
 * is not an error yet: the walk reports error() at the first block it
 * decrypts, so a file without such a block ends as it would with any key.
 * Read-only once built: any number of decryptors, on any threads, may use
 * one key object. */
class tokenexp_export_key {
  public:
	/* Convert the hexadecimal key text (NULL counts as empty). */
	explicit tokenexp_export_key(const char *text);
	~tokenexp_export_key();
	tokenexp_export_key(const tokenexp_export_key &)            = delete;
	tokenexp_export_key &operator=(const tokenexp_export_key &) = delete;

	/* The AES-CBC cipher, or NULL when the text was refused. */
	const EVP_CIPHER *cipher() const
	{
		return cipher_;
	}
	/* The key bytes (as many as cipher() takes). */
	const unsigned char *bytes() const
	{
		return bytes_;
	}
	/* Why cipher() is NULL: the text was not hexadecimal of even length, or
	 * gave a number of bytes no cipher takes; "" when it is not NULL. */
	const char *error() const
	{
		return error_;
	}

  private:
	unsigned char     bytes_[32];
	const EVP_CIPHER *cipher_;
	char              error_[128];
	bool              locked_;
};

/* One thread's decryption of blocks: an EVP context keyed from the export
 * key once and reset with the export IV for each block. Each thread that
 * decrypts blocks owns one; the key object it was made from must outlive it.
 * A context that could not be made or keyed (the key refused, OpenSSL
 * failing) fails every block with the reason, in the words of the block
 * step where it used to be found. */
class tokenexp_decryptor {
  public:
	explicit tokenexp_decryptor(const tokenexp_export_key &key);

	/* Decrypt the AES-CBC ciphertext in data in place, removing the padding:
	 * data then holds the plaintext. Returns M_FALSE with the reason in err
	 * (errlen bytes) when the context is unusable or OpenSSL refuses the
	 * ciphertext; data is then emptied. */
	M_bool decrypt(M_buf_t *data, char *err, size_t errlen);

  private:
	tokenexp::cipher_guard ctx_;
	char                   setup_error_[256];
};

#endif
