/* OpenPGP message encryption.
 *
 * Wraps a block of data into a binary (unarmoured) OpenPGP message that only
 * the holder of the secret half of an M_pgp_pubkey_t can open:
 *
 *   public-key encrypted session key packet (tag 1, version 3, RFC 4880 5.1)
 *   symmetrically encrypted data packet     (tag 9, no MDC,    RFC 4880 5.7)
 *     encrypted with a fresh random session key in OpenPGP CFB mode
 *     (RFC 4880 13.9: random prefix, two check bytes, resynchronisation)
 *       compressed data packet (tag 8, algorithm 2 ZLIB,  RFC 4880 5.6)
 *         literal data packet  (tag 11, format 'b', no file name, date 0)
 *           the input bytes
 *
 * Every packet uses the old packet format with a 4-byte length. The session
 * key is padded with PKCS#1 version 1.5 type 2 (RFC 8017 7.2.1) and encrypted
 * with RSA or Elgamal, as the key says; for an ECDH key it is padded to 8
 * bytes and AES-wrapped under a key agreed with a fresh ephemeral key on the
 * key's curve (RFC 6637). An empty input gives a message whose
 * encrypted packet holds only the CFB prefix.
 *
 * That default form carries no modification detection code, so GnuPG 2.2 and
 * later open it only with --ignore-mdc-error, and some other implementations
 * refuse it outright. M_pgp_encrypt_buf_ex with M_PGP_ENCRYPT_MDC writes the
 * integrity-protected form instead, which every current implementation opens
 * with its default settings:
 *
 *   public-key encrypted session key packet (as above)
 *   symmetrically encrypted integrity protected data packet
 *                                           (tag 18, version 1, RFC 4880 5.13,
 *                                            new-format header, definite length)
 *     one OpenPGP CFB pass from a zero IV, without resynchronisation, over
 *       the random prefix and its two check bytes
 *       the same compressed data packet as above
 *       modification detection code packet  (tag 19, RFC 4880 5.14: 0xD3 0x14
 *         and the SHA-1 of the prefix, the compressed packet and those two
 *         bytes)
 *
 * A recipient recomputes the SHA-1 and refuses the plaintext of a message
 * that was altered on its way.
 *
 * Nothing persists between calls: the session key, the CFB prefix and the
 * Elgamal exponent are new for every message; the key object is only read.
 * Calls on different buffers may run on different threads.
 */
#ifndef M_PGP_ENCRYPT_H
#define M_PGP_ENCRYPT_H

#include "core/m_defs.h"
#include "core/m_buf.h"
#include "pgp/pgp_pubkey.h"

M_BEGIN_DECLS

/* Symmetric cipher of the message. The values are the library's own; the
 * OpenPGP algorithm id written into messages is given beside each one.
 * Every other value makes encryption fail. */
typedef enum {
	M_PGP_SYMALG_3DES     = 2, /* TripleDES (id 2), 8-byte blocks, 24-byte key */
	M_PGP_SYMALG_CAST5    = 3, /* CAST5 (id 3), 8-byte blocks, 16-byte key */
	M_PGP_SYMALG_BLOWFISH = 4, /* Blowfish (id 4), 8-byte blocks, 16-byte key */
	M_PGP_SYMALG_AES128   = 5, /* AES-128 (id 7), 16-byte blocks, 16-byte key */
	M_PGP_SYMALG_AES192   = 6, /* AES-192 (id 8), 16-byte blocks, 24-byte key */
	M_PGP_SYMALG_AES256   = 7  /* AES-256 (id 9), 16-byte blocks, 32-byte key */
} M_pgp_symalg_t;

/* Encrypt the contents of a buffer into an OpenPGP message.
 *
 * out:    receives the message. It is emptied first; on success it holds
 *         exactly the message. NULL fails.
 * in:     the data to encrypt. It is also used as work space and is ALWAYS
 *         left empty when the call returns, on success and on failure (its
 *         former contents are overwritten as the buffer drops them). NULL
 *         fails, and so does the same buffer as out.
 * key:    the recipient's public key, only read. NULL fails.
 * symalg: the symmetric cipher (M_PGP_SYMALG_AES256 is the usual choice).
 *
 * Returns M_TRUE on success. M_FALSE, with no message, on: a NULL argument;
 * an unknown selector or a cipher the crypto library cannot provide; input
 * too large for the 4-byte packet lengths; a compression error; a key of
 * unknown type or without its numbers; an ECDH point or parameters the
 * crypto library refuses; a modulus too short for the session
 * key block (its byte length must be at least the block's length + 11, the
 * block being the cipher's key size + 3 bytes: 46 bytes for AES-256); a
 * failed big-number or cipher operation. After a failure out may hold the
 * packets written before the failure and must not be used as a message.
 *
 * Invalidates every pointer borrowed from out or in (M_buf_peek, direct-write
 * windows). */
M_API M_bool M_pgp_encrypt_buf(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key,
                               M_pgp_symalg_t symalg) M_WARN_UNUSED_RESULT;

/* Message form flags for M_pgp_encrypt_buf_ex, combined with "|". */
typedef enum {
	M_PGP_ENCRYPT_NONE = 0,      /* the default form: symmetrically encrypted data packet (tag 9) */
	M_PGP_ENCRYPT_MDC  = 1u << 0 /* integrity protected data packet (tag 18) ending in an MDC packet */
} M_pgp_encrypt_flags_t;

/* Encrypt the contents of a buffer into an OpenPGP message of the form that
 * flags choose.
 *
 * out, in, key, symalg: as for M_pgp_encrypt_buf, with the same ownership,
 *         the same emptying of out first and of in on every path, and the
 *         same NULL rules.
 * flags:  M_PGP_ENCRYPT_NONE (0) writes exactly what M_pgp_encrypt_buf
 *         writes; M_PGP_ENCRYPT_MDC writes the integrity-protected form
 *         described at the top of this header. Any other bit fails, so a
 *         caller never gets a form it did not ask for.
 *
 * Returns M_TRUE on success. M_FALSE, with no message, on every failure of
 * M_pgp_encrypt_buf, on an unknown flag bit, and, with M_PGP_ENCRYPT_MDC, on
 * input whose packet would not fit a 4-byte length (the compressed packet
 * may then be at most 0xFFFFFFFF less the block size and 25 bytes) or a
 * failed hash operation. After a failure out may hold the packets written
 * before the failure and must not be used as a message.
 *
 * Invalidates every pointer borrowed from out or in (M_buf_peek, direct-write
 * windows). */
M_API M_bool M_pgp_encrypt_buf_ex(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                                  unsigned int flags) M_WARN_UNUSED_RESULT;

/* Encrypt a byte array into a newly allocated OpenPGP message.
 *
 * data:     the bytes to encrypt, only read. NULL is empty input.
 * data_len: number of bytes at data.
 * key:      the recipient's public key. NULL fails.
 * symalg:   the symmetric cipher, as for M_pgp_encrypt_buf.
 * out:      receives the message. NULL fails. Set to NULL before any work.
 * out_len:  receives the message's length. NULL fails. Set to 0 before any
 *           work.
 *
 * Empty input (NULL data or data_len 0) returns M_TRUE with *out NULL and
 * *out_len 0: nothing is encrypted and nothing allocated.
 *
 * Returns M_TRUE on success, *out then owned by the caller and released with
 * M_free (it is followed by a terminating NUL not counted in *out_len).
 * M_FALSE on any failure of M_pgp_encrypt_buf, with *out NULL and *out_len 0.
 * Invalidates nothing. */
M_API M_bool M_pgp_encrypt(const unsigned char *data, size_t data_len, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                           unsigned char **out, size_t *out_len) M_WARN_UNUSED_RESULT;

/* -- A message built from pieces --
 *
 * The same message as M_pgp_encrypt_buf_ex, for data that is compressed
 * piece by piece while it is still being produced, so that the whole
 * plaintext never has to be in memory at once. Each piece of the data is
 * compressed on its own (on any thread, with one deflater per thread) into
 * a raw DEFLATE stream; the pieces are appended to the message in the
 * data's order, each joined to the one before it (that piece's last block
 * loses its final-block bit and an empty stored block brings the stream to
 * a byte boundary); finishing writes the headers in front of the joined
 * stream, whose lengths are only then known, and encrypts the data packet
 * where it lies. The message is built in the caller's buffer and never
 * copied. The compressed packet inflates to exactly the literal packet of
 * the pieces' bytes in order; it is a few bytes longer per piece than a
 * stream made in one piece, since each piece starts without the earlier
 * pieces' history. Every peer opens it as it opens the one-piece form.
 *
 * Compressed pieces hold card data in compressed form: they are wiped when
 * they are released, as all memory of the library is. */

/* Make libdeflate take its memory from the library's allocator, so that
 * its states (which hold pieces of plaintext) are wiped when freed.
 * libdeflate's allocator is process-wide and may only change while none of
 * its objects exists: this sets it once per process (later calls do
 * nothing) and is safe on any thread. The library's compressors call it
 * themselves; a program that makes libdeflate objects of its own (an
 * inflater) calls it before the first one. */
M_API void M_pgp_deflate_use_library_memory(void);

/* One thread's compressor of pieces (libdeflate's state). Opaque. */
typedef struct M_pgp_deflater M_pgp_deflater_t;
/* One compressed piece, ready to be appended to a message. Opaque. */
typedef struct M_pgp_piece M_pgp_piece_t;
/* A message being built from pieces. Opaque. */
typedef struct M_pgp_msg M_pgp_msg_t;

/* Create a compressor of pieces for one thread.
 *
 * Returns a new deflater, owned by the caller and released with
 * M_pgp_deflater_destroy; NULL when the compressor cannot be made. */
M_API M_pgp_deflater_t *M_pgp_deflater_create(void) M_WARN_UNUSED_RESULT;

/* Release a deflater.
 *
 * d: NULL is ignored. Invalid afterwards. */
M_API void M_pgp_deflater_destroy(M_pgp_deflater_t *d);

/* Compress len bytes at data into a piece: a raw DEFLATE stream, its last
 * block found (by a walk over its blocks), and the Adler-32 of the bytes.
 * The data is only read; the caller may wipe or reuse it afterwards.
 *
 * d:    the calling thread's deflater; NULL yields NULL.
 * data: the bytes; NULL with len 0 is an empty piece; NULL with a length
 *       fails.
 *
 * Returns a new piece, owned by the caller until given to M_pgp_msg_append
 * (or released with M_pgp_piece_destroy); NULL on a compressor failure or
 * NULL d. Invalidates nothing the caller holds. */
M_API M_pgp_piece_t *M_pgp_deflater_compress(M_pgp_deflater_t *d, const unsigned char *data,
                                             size_t len) M_WARN_UNUSED_RESULT;

/* Release a piece that was not appended; its bytes are wiped.
 *
 * piece: NULL is ignored. Invalid afterwards. */
M_API void M_pgp_piece_destroy(M_pgp_piece_t *piece);

/* Start a message to key under symalg, of the form flags choose (as for
 * M_pgp_encrypt_buf_ex), in out: the session key is made and its packet
 * written, followed by room for the data packet's headers.
 *
 * out: receives the message; emptied first. It belongs to the message
 *      until the message is destroyed and must not be changed meanwhile.
 *      NULL yields NULL.
 * key: the recipient's public key, only read. NULL yields NULL.
 *
 * Returns a new message, owned by the caller and released with
 * M_pgp_msg_destroy; NULL on a NULL argument, an unknown selector or flag
 * bit, or any failure of the session key packet (as for
 * M_pgp_encrypt_buf_ex), out then empty. Invalidates every pointer borrowed
 * from out. */
M_API M_pgp_msg_t *M_pgp_msg_create(M_buf_t *out, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                                    unsigned int flags) M_WARN_UNUSED_RESULT;

/* Reserve room for a message of about len bytes in all, so that the
 * buffer is not grown (and copied) piece after piece. Room that is never
 * written costs no memory on systems that map large blocks lazily. A wrong
 * guess only costs growth later.
 *
 * msg: NULL is ignored. */
M_API void M_pgp_msg_reserve(M_pgp_msg_t *msg, size_t len);

/* Append the next piece of the data, in the data's order, joining it to the
 * pieces before it. The piece's stream is copied into the message and the
 * piece released.
 *
 * msg:   the message; NULL fails (and the piece is released).
 * piece: taken over on every path; NULL fails.
 *
 * Returns M_TRUE; M_FALSE on a NULL argument, a message already finished,
 * or data grown past what the packets' 4-byte lengths can hold (the message
 * can then only be destroyed). Invalidates the piece pointer and every
 * pointer borrowed from the message's buffer. */
M_API M_bool M_pgp_msg_append(M_pgp_msg_t *msg, M_pgp_piece_t *piece);

/* Finish the message: the data packet's headers are written in front of
 * the pieces and the packet encrypted in place (no data: the packet holds
 * only the CFB prefix, as for empty input to M_pgp_encrypt_buf_ex).
 *
 * msg: the message; NULL fails. It takes no more pieces afterwards, on
 *      success or failure.
 *
 * Returns M_TRUE on success, the buffer given to M_pgp_msg_create then
 * holding exactly the message. M_FALSE on a NULL message, a second finish,
 * or a failed cipher or hash operation; the buffer must then not be used as
 * a message. Invalidates every pointer borrowed from the buffer. */
M_API M_bool M_pgp_msg_finish(M_pgp_msg_t *msg) M_WARN_UNUSED_RESULT;

/* Release a message (its session key is wiped); the buffer stays the
 * caller's, as it is.
 *
 * msg: NULL is ignored. Invalid afterwards. */
M_API void M_pgp_msg_destroy(M_pgp_msg_t *msg);

M_END_DECLS

#endif /* M_PGP_ENCRYPT_H */
