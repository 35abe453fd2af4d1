/* OpenPGP message encryption.
 *
 * Wraps data (a run of bytes) into a binary (unarmoured) OpenPGP message that
 * only the holder of the secret half of an M_pgp_pubkey_t can open:
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
 * with its default settings. It is made to be written as it is produced,
 * so its three nested packets have new-format headers with partial body
 * lengths (RFC 4880 4.2.2.4: chunks of 2^k bytes, then a last chunk of
 * definite length) instead of lengths known only at the end:
 *
 *   public-key encrypted session key packet (as above)
 *   symmetrically encrypted integrity protected data packet
 *                                           (tag 18, version 1, RFC 4880 5.13)
 *     one OpenPGP CFB pass from a zero IV, without resynchronisation, over
 *       the random prefix and its two check bytes
 *       compressed data packet (tag 8, algorithm 2 ZLIB)
 *         literal data packet  (tag 11, format 'b', no file name, date 0)
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
 * a failed hash operation (the integrity-protected form has no length
 * limit). After a failure out may hold the packets written before the
 * failure and must not be used as a message.
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
 * The same messages as M_pgp_encrypt_buf_ex, for data that is produced a
 * piece at a time (and compressed piece by piece, on any threads), so that
 * the whole plaintext is never in memory: the caller fills pieces in the
 * data's order, has each compressed (on any thread, with one deflater per
 * thread) and appends them to the message in order.
 *
 * The integrity-protected form is written as it is made: the message's
 * bytes go to the caller's write function from M_pgp_msg_create on, a
 * piece's as it is appended, the last ones at M_pgp_msg_finish, and only
 * ciphertext ever reaches it. The old form has lengths in front of its
 * data, so it is held until M_pgp_msg_finish, which hands it over whole.
 *
 * Every piece but the last holds exactly M_PGP_PIECE_LEN bytes of the
 * literal packet's body (the first piece's body begins with the packet's
 * six bytes of format, name and date, so it takes six bytes less of data):
 * in the integrity-protected form each piece is one partial chunk of the
 * literal packet. The compressed stream is a few bytes longer per piece
 * than one made in one piece, since each piece starts without the earlier
 * pieces' history; every peer opens it as it opens the one-piece form.
 *
 * A piece does not copy its data: it borrows the caller's bytes until it is
 * compressed, and compresses each run it was given where it lies, as a
 * DEFLATE stream of its own joined to the next. The caller keeps those
 * bytes unchanged until then, and wipes them when it is done with them. A
 * piece's compressed stream is card data too: its memory is wiped when it
 * is released, as all memory of the library is. */

/* Bytes of the literal packet's body in every piece but the last. */
#define M_PGP_PIECE_LEN ((size_t)1 << 22)

/* Make libdeflate take its memory from the library's allocator, so that
 * its states (which hold pieces of plaintext) are wiped when freed.
 * libdeflate's allocator is process-wide and may only change while none of
 * its objects exists: this sets it once per process (later calls do
 * nothing) and is safe on any thread. The library's compressors call it
 * themselves; a program that makes libdeflate objects of its own (an
 * inflater) calls it before the first one. */
M_API void M_pgp_deflate_use_library_memory(void);

/* Where a piece stands. A piece is a run of the literal packet's body: it
 * is begun empty, filled, compressed and appended, then begun again. */
typedef enum {
	M_PGP_PIECE_FREE = 0,  /* new, or appended: may be begun (M_pgp_msg_piece) */
	M_PGP_PIECE_FILLING,   /* begun: takes data (M_pgp_piece_add) until compressed */
	M_PGP_PIECE_COMPRESSED /* compressed, or its compression failed: to be appended */
} M_pgp_piece_state_t;

/* One thread's compressor of pieces (libdeflate's state). Opaque. */
typedef struct M_pgp_deflater M_pgp_deflater_t;
/* One piece: a run of the literal packet's body (the data), borrowed while
 * it is filled, its compressed stream once compressed. Reusable piece after
 * piece. Opaque. */
typedef struct M_pgp_piece M_pgp_piece_t;
/* A message being built from pieces. Opaque. */
typedef struct M_pgp_msg M_pgp_msg_t;

/* Where a message's bytes go (M_pgp_msg_create): len bytes at bytes, valid
 * during the call only; thunk as given. Return M_FALSE to stop: the message
 * then fails. */
typedef M_bool (*M_pgp_msg_write_cb)(const unsigned char *bytes, size_t len, void *thunk);

/* Create a compressor of pieces for one thread.
 *
 * Returns a new deflater, owned by the caller and released with
 * M_pgp_deflater_destroy; NULL when the compressor cannot be made. */
M_API M_pgp_deflater_t *M_pgp_deflater_create(void) M_WARN_UNUSED_RESULT;

/* Release a deflater.
 *
 * d: NULL is ignored. Invalid afterwards. */
M_API void M_pgp_deflater_destroy(M_pgp_deflater_t *d);

/* Create an empty piece. Its memory is taken as it is first filled and kept
 * for its next uses.
 *
 * Returns a new piece, owned by the caller and released with
 * M_pgp_piece_destroy; never NULL. */
M_API M_pgp_piece_t *M_pgp_piece_create(void) M_WARN_UNUSED_RESULT;

/* Release a piece; its memory is wiped.
 *
 * piece: NULL is ignored. Invalid afterwards. */
M_API void M_pgp_piece_destroy(M_pgp_piece_t *piece);

/* Add up to len bytes of data to a piece begun with M_pgp_msg_piece. The
 * piece borrows them: they must stay in place and unchanged until the piece
 * has been compressed (M_pgp_piece_compress has returned). Bytes that
 * continue the run added last join it.
 *
 * piece: NULL yields 0.
 * data:  the bytes, only read; NULL yields 0.
 *
 * Returns how many bytes the piece took: all len of them, or fewer when it
 * is then full (M_pgp_piece_full); 0 for a piece not begun, or already
 * compressed. */
M_API size_t M_pgp_piece_add(M_pgp_piece_t *piece, const unsigned char *data, size_t len);

/* Whether a piece holds all it may (and so cannot be the last).
 *
 * piece: NULL yields M_FALSE. */
M_API M_bool M_pgp_piece_full(const M_pgp_piece_t *piece);

/* Where a piece stands (above). Not to be asked while another thread
 * compresses the piece.
 *
 * piece: NULL yields M_PGP_PIECE_FREE. */
M_API M_pgp_piece_state_t M_pgp_piece_state(const M_pgp_piece_t *piece);

/* Compress a piece (on any thread, with that thread's deflater); the data
 * it borrowed is the caller's again when this returns.
 *
 * piece: a piece begun and filled; NULL fails.
 * d:     the calling thread's deflater; NULL fails.
 * last:  whether the piece is the message's last; every other piece must
 *        be full.
 *
 * Returns M_TRUE; M_FALSE on a NULL argument, a piece not begun or already
 * compressed, a piece not full that is not the last, or a compressor
 * failure (the piece is then to be appended all the same, and fails the
 * message). Invalidates nothing the caller holds. */
M_API M_bool M_pgp_piece_compress(M_pgp_piece_t *piece, M_pgp_deflater_t *d, M_bool last);

/* Start a message to key under symalg, of the form flags choose (as for
 * M_pgp_encrypt_buf_ex): the session key is made and encrypted to key, and
 * in the integrity-protected form the session key packet and the start of
 * the data packet are written at once.
 *
 * key:   the recipient's public key, only read; NULL yields NULL.
 * write: where the message goes (above); NULL yields NULL. thunk is passed
 *        to it.
 *
 * Returns a new message, owned by the caller and released with
 * M_pgp_msg_destroy; NULL on a NULL argument, an unknown selector or flag
 * bit, any failure of the session key packet (as for M_pgp_encrypt_buf_ex),
 * or a write that failed. */
M_API M_pgp_msg_t *M_pgp_msg_create(const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg, unsigned int flags,
                                    M_pgp_msg_write_cb write, void *thunk) M_WARN_UNUSED_RESULT;

/* Begin piece as the next piece of the message's data: it is emptied (its
 * stream of an earlier use dropped) and numbered after the pieces begun
 * before it.
 *
 * msg, piece: NULL fails.
 *
 * Returns M_TRUE; M_FALSE on a NULL argument or a message finished or
 * failed. */
M_API M_bool M_pgp_msg_piece(M_pgp_msg_t *msg, M_pgp_piece_t *piece);

/* Append the next compressed piece, in the order the pieces were begun. In
 * the integrity-protected form its stream is written at once. The piece
 * stays the caller's, to be begun again.
 *
 * msg, piece: NULL fails.
 *
 * Returns M_TRUE; M_FALSE on a NULL argument, a piece out of order or not
 * compressed (or whose compression failed), a message finished or failed,
 * a last piece appended before, data grown past what the old form's 4-byte
 * lengths hold, or a write that failed. After a failure the message takes
 * nothing more and can only be destroyed. */
M_API M_bool M_pgp_msg_append(M_pgp_msg_t *msg, M_pgp_piece_t *piece);

/* How many pieces were begun (M_pgp_msg_piece) and appended
 * (M_pgp_msg_append) so far: the next piece appended must be the one begun
 * as number appended (from 0), and the one being filled, if any, is number
 * begun - 1.
 *
 * msg: NULL yields 0. */
M_API uint64_t M_pgp_msg_pieces_begun(const M_pgp_msg_t *msg);
M_API uint64_t M_pgp_msg_pieces_appended(const M_pgp_msg_t *msg);

/* Whether the message's last piece (compressed with last set) has been
 * appended, so that only M_pgp_msg_finish remains.
 *
 * msg: NULL yields M_FALSE. */
M_API M_bool M_pgp_msg_last_appended(const M_pgp_msg_t *msg);

/* Finish the message: the rest of it is written (the old form: all of it,
 * its headers in front of the pieces and its data packet encrypted). With
 * no piece appended the data is empty and the data packet holds only the
 * CFB prefix (and the MDC packet), as for empty input to
 * M_pgp_encrypt_buf_ex.
 *
 * msg: NULL fails. It takes no more pieces afterwards, on success or
 *      failure.
 *
 * Returns M_TRUE when every byte of the message went to the write function.
 * M_FALSE on a NULL message, a second finish, a message that failed before,
 * pieces begun but not appended, an appended piece that was not the last
 * (its stream is open), or a failed cipher, hash or write. */
M_API M_bool M_pgp_msg_finish(M_pgp_msg_t *msg) M_WARN_UNUSED_RESULT;

/* Release a message (its session key is wiped).
 *
 * msg: NULL is ignored. Invalid afterwards. */
M_API void M_pgp_msg_destroy(M_pgp_msg_t *msg);

M_END_DECLS

#endif /* M_PGP_ENCRYPT_H */
