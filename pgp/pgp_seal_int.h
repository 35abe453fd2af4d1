/* Sealing a message's data packet: OpenPGP's CFB encryption under the
 * session key, in the old form (a symmetrically encrypted data packet, tag
 * 9, sealed in place once the whole packet is in memory) and in the
 * integrity-protected form (tag 18, sealed as a stream while its plaintext
 * is still being made, with the modification detection code at its end).
 * C++ only.
 *
 * References: RFC 4880 5.7 (tag 9), 5.13 and 5.14 (tag 18 and the MDC
 * packet), 13.9 (OpenPGP CFB: the random prefix and its two check bytes,
 * resynchronised after them in the old form only). */
#ifndef M_PGP_SEAL_INT_H
#define M_PGP_SEAL_INT_H

#include <cstddef>
#include <cstdint>

#include <openssl/evp.h>

#include "pgp/pgp_packet_int.h"

namespace m::detail {

/* One OpenPGP CFB stream under one key from one IV. Bytes fed through
 * update() in any number of calls come out as one call over all of them
 * would give them: OpenSSL's CFB keeps its place inside a cipher block
 * between calls, so the slices fed need not end on cipher block
 * boundaries. */
class cfb_stream {
  public:
	cfb_stream()                              = default;
	cfb_stream(const cfb_stream &)            = delete;
	cfb_stream &operator=(const cfb_stream &) = delete;
	~cfb_stream();

	/* Starts the stream from iv (the cipher's block size) under key (its
	 * key size); false on a NULL cipher, key or iv, a cipher the crypto
	 * library cannot provide, a second start, or a failed cipher call. */
	[[nodiscard]] bool start(const sym_cipher *cipher, const unsigned char *key, const unsigned char *iv) noexcept;
	/* Encrypts len bytes of in to out (which may be the same bytes). */
	[[nodiscard]] bool update(unsigned char *out, const unsigned char *in, size_t len) noexcept;
	/* Ends the stream: a CFB stream has nothing left over, and whatever
	 * else the cipher hands back fails it. */
	[[nodiscard]] bool finish() noexcept;

  private:
	EVP_CIPHER_CTX *ctx_ = nullptr;
};

/* Encrypt in_len bytes of in to out in one pass of the selector's cipher in
 * CFB mode, a fresh stream from iv (block size bytes) under key (key size
 * bytes). out must have room for in_len bytes; in and out may be the same.
 * Returns in_len on success, 0 on failure: NULL out, key, iv or in, an
 * unknown selector, a cipher the crypto library cannot provide, or a failed
 * cipher call. */
[[nodiscard]] size_t do_encrypt_cfb(unsigned char *out, M_pgp_symalg_t symalg, const unsigned char *key,
                                    const unsigned char *iv, const unsigned char *in, size_t in_len) noexcept;

/* The packet of the old form, sealed in place: p holds the old-format
 * header's 5 bytes, room for the block size + 2 bytes of the prefix, then
 * body_len bytes of plaintext (the compressed packet; 0 for empty data).
 * The header is written, the prefix made, encrypted from a zero IV, and the
 * body encrypted from the resynchronised IV (the ciphertext of prefix bytes
 * 2 .. block size + 1). False when the packet's length does not fit 4
 * bytes or the random source or the cipher fails. */
[[nodiscard]] bool seal_symenc(unsigned char *p, size_t body_len, const sym_cipher *cipher,
                               const unsigned char *session_key) noexcept;

/* The integrity-protected packet as a stream: start() writes its header and
 * version and the encrypted prefix, add() hashes and encrypts plaintext as
 * it comes, finish() appends the modification detection code packet (0xD3
 * 0x14 and the SHA-1 of the prefix, the plaintext and those two bytes),
 * encrypted as well, and ends the packet. One CFB pass from a zero IV runs
 * over all of it, without resynchronisation. The packet's length is written
 * as partial body lengths (partial_packet), so nothing waits for the total.
 * A failure (the cipher, the hash, the random source, or the write) fails
 * every later call. Only ciphertext reaches the write function. */
class seipd_stream {
  public:
	seipd_stream()                                = default;
	seipd_stream(const seipd_stream &)            = delete;
	seipd_stream &operator=(const seipd_stream &) = delete;
	~seipd_stream();

	[[nodiscard]] bool start(const sym_cipher *cipher, const unsigned char *session_key, write_fn write,
	                         void *thunk) noexcept;
	[[nodiscard]] bool add(const unsigned char *bytes, size_t len) noexcept;
	[[nodiscard]] bool finish() noexcept;

	/* add() as a write function, thunk being the stream, so that a packet
	 * framed inside the plaintext writes straight into it. */
	static bool write_into(const unsigned char *bytes, size_t len, void *thunk) noexcept;

  private:
	[[nodiscard]] bool seal(const unsigned char *bytes, size_t len) noexcept;

	cfb_stream     cfb_;
	EVP_MD_CTX    *md_ = nullptr;
	partial_packet packet_;
	bool           ok_ = false;
};

} // namespace m::detail

#endif /* M_PGP_SEAL_INT_H */
