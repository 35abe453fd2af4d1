/* OpenPGP messages: built from pieces of the data (M_pgp_msg_*), and the
 * one-shot forms on top of them.
 *
 * References: RFC 4880 section 4.2 (packet headers and partial lengths),
 * 5.6 (compressed data packet), 5.9 (literal data packet); the session key
 * packet is pgp_session.cpp's, the sealing of the data packet
 * pgp_seal.cpp's, the compression of pieces pgp_deflate.cpp's.
 *
 * The integrity-protected form goes out as it is made. Its plaintext is
 * the CFB prefix, the compressed packet and the MDC packet; the compressed
 * packet's body is the algorithm byte, the zlib header, the pieces' joined
 * stream and the Adler-32 trailer, written through a partial_packet into the
 * sealing stream, which frames its ciphertext the same way. The literal
 * packet lives inside the compressed stream, so its headers are part of the
 * plaintext the pieces compress: each piece is one chunk of it, with its
 * header (the packet's tag and a partial length, or the last chunk's
 * definite length) in front of its bytes.
 *
 * The old form needs its lengths in front: the message is held in one
 * buffer, room left for the headers ahead of the first piece; the literal
 * packet's header goes into the zlib stream as a stored block of its own
 * ahead of the pieces, and finishing fills the headers and encrypts the
 * data packet where it lies. */
#include "pgp/pgp_encrypt.h"

#include <cstring>
#include <new>

#include <openssl/crypto.h>

#include "core/m_mem.h"
#include "pgp/pgp_deflate_int.h"
#include "pgp/pgp_packet_int.h"
#include "pgp/pgp_seal_int.h"
#include "pgp/pgp_session_int.h"

namespace {

using m::detail::kOldHeaderLen;
using m::detail::sym_cipher;

constexpr size_t   kPieceLen  = M_PGP_PIECE_LEN;
constexpr unsigned kPieceBits = 22;
static_assert(size_t{1} << kPieceBits == kPieceLen, "a piece is a partial chunk of 2^22 bytes");

/* The literal packet's header in front of a piece's bytes (the integrity-
 * protected form): its tag byte and a length of up to five bytes. */
constexpr size_t kHeadRoom = 8;

/* Room in a piece's stream for the cost of its runs beyond one (each run is
 * a DEFLATE stream of its own): a few dozen bytes each. */
constexpr size_t kSpanSlack = 4096;

/* The literal packet's body before the data: format 'b', name length 0,
 * date 0. */
constexpr size_t        kLiteralPrefixLen                 = 6;
constexpr unsigned char kLiteralPrefix[kLiteralPrefixLen] = {'b', 0, 0, 0, 0, 0};

/* The old form's literal packet header with its prefix, stored in the zlib
 * stream ahead of the pieces; and the bytes of the data packet ahead of the
 * first piece: its header and prefix, the compressed packet's header and
 * algorithm, the zlib header, the stored block's header, the literal head. */
constexpr size_t kLitHeadLen = kOldHeaderLen + kLiteralPrefixLen;

constexpr uint64_t kUint32Limit = 0xFFFFFFFFu;

size_t legacy_head_len(const sym_cipher *cipher)
{
	return kOldHeaderLen + cipher->block_size + 2 + kOldHeaderLen + 1 + sizeof(m::detail::kZlibHeader) +
	       m::detail::kStoredHeaderLen + kLitHeadLen;
}

} // namespace

/* A run of bytes a piece borrows. */
struct piece_span {
	const unsigned char *data;
	size_t               len;
};

struct M_pgp_piece {
	piece_span    *spans      = nullptr; /* the body's bytes, borrowed, in order (M_malloc) */
	size_t         nspans     = 0;
	size_t         room       = 0;       /* spans the array holds */
	size_t         len        = 0;       /* body bytes held */
	unsigned char *packed     = nullptr; /* the compressed stream */
	size_t         packed_len = 0;
	size_t         packed_cap = 0;
	size_t         plain_len  = 0; /* bytes the stream inflates to: header and body */
	uint32_t       adler      = 1; /* their Adler-32 */
	uint64_t       seq        = 0; /* its place among the message's pieces */
	bool           mdc        = false;
	bool           begun      = false;
	bool           compressed = false;
	bool           last       = false;
	bool           failed     = false;
};

struct M_pgp_msg {
	const sym_cipher  *cipher = nullptr;
	bool               mdc    = false;
	unsigned char      session_key[m::detail::kMaxKeySize]{};
	M_pgp_msg_write_cb write     = nullptr;
	void              *thunk     = nullptr;
	uint64_t           begun     = 0; /* pieces begun */
	uint64_t           appended  = 0;
	bool               last_seen = false;
	bool               finished  = false;
	bool               failed    = false;
	uint64_t           data_len  = 0; /* bytes the pieces' streams inflate to */
	uint32_t           adler     = 1; /* their Adler-32 */
	/* The integrity-protected form: the sealing stream and, inside its
	 * plaintext, the compressed packet. */
	m::detail::seipd_stream   seipd;
	m::detail::partial_packet compressed;
	/* The old form: the whole message, and where its data packet starts. */
	M_buf_t *held    = nullptr;
	size_t   data_at = 0;

	~M_pgp_msg()
	{
		OPENSSL_cleanse(session_key, sizeof(session_key));
		M_buf_cancel(held);
	}
};

namespace {

unsigned char *content(M_buf_t *buf)
{
	return reinterpret_cast<unsigned char *>(const_cast<char *>(M_buf_peek(buf)));
}

/* The literal packet's header in front of a piece's body (the integrity-
 * protected form): the tag on the first piece, then a partial length for a
 * full piece or the definite length of the last. Returns its length. */
size_t put_literal_header(const M_pgp_piece_t *piece, unsigned char *head)
{
	size_t n = 0;
	if (piece->seq == 0)
		head[n++] = m::detail::new_tag_byte(m::detail::kTagLiteral);
	if (piece->last)
		n += m::detail::put_new_length(head + n, static_cast<uint32_t>(piece->len));
	else
		head[n++] = m::detail::partial_length(kPieceBits);
	return n;
}

/* A stored block (RFC 1951 3.2.4) of n bytes at dst, starting on a byte
 * boundary; final: the stream's last block. Returns its length. */
size_t put_stored(unsigned char *dst, const unsigned char *bytes, size_t n, bool final)
{
	dst[0] = final ? 1 : 0;
	dst[1] = static_cast<unsigned char>(n);
	dst[2] = static_cast<unsigned char>(n >> 8);
	dst[3] = static_cast<unsigned char>(~n);
	dst[4] = static_cast<unsigned char>(~n >> 8);
	std::memcpy(dst + m::detail::kStoredHeaderLen, bytes, n);
	return m::detail::kStoredHeaderLen + n;
}

/* The piece's stream: in the integrity-protected form its header (and on
 * the first piece the literal packet's format, name and date) as a stored
 * block, then each span compressed on its own, each left open but the
 * last of the last piece (an empty piece of the old form: one empty
 * stream). False on a compressor failure. */
[[nodiscard]] bool compress_spans(M_pgp_piece_t *piece, M_pgp_deflater_t *d)
{
	unsigned char head[kHeadRoom + kLiteralPrefixLen];
	size_t        n = piece->mdc ? put_literal_header(piece, head) : 0;
	if (piece->mdc && piece->seq == 0) {
		std::memcpy(head + n, kLiteralPrefix, kLiteralPrefixLen);
		n += kLiteralPrefixLen;
	}
	size_t bound = m::detail::kStoredHeaderLen + n + m::detail::deflate_piece_bound(0);
	for (size_t i = 0; i < piece->nspans; i++)
		bound += m::detail::deflate_piece_bound(piece->spans[i].len);
	if (piece->packed_cap < bound) {
		/* Room for a full piece in a few runs at once, so that the room is
		 * rarely made again (the old one is wiped whole when released). */
		const size_t room = m::detail::deflate_piece_bound(kHeadRoom + kPieceLen) + kSpanSlack;
		M_free(piece->packed);
		piece->packed_cap = bound > room ? bound : room;
		piece->packed     = static_cast<unsigned char *>(M_malloc(piece->packed_cap));
	}
	size_t at = 0;
	bool   ok = true;
	if (n != 0) {
		at = put_stored(piece->packed, head, n, piece->last && piece->nspans == 0);
	} else if (piece->nspans == 0) {
		at = m::detail::deflate_piece(d, nullptr, 0, piece->packed, bound, true);
		ok = at != 0;
	}
	piece->adler     = m::detail::adler32_of(1, head, n);
	piece->plain_len = n + piece->len - (piece->mdc && piece->seq == 0 ? kLiteralPrefixLen : 0);
	for (size_t i = 0; ok && i < piece->nspans; i++) {
		const piece_span &sp = piece->spans[i];
		const size_t      k  = m::detail::deflate_piece(d, sp.data, sp.len, piece->packed + at, bound - at,
		                                                piece->last && i + 1 == piece->nspans);
		piece->adler         = m::detail::adler32_of(piece->adler, sp.data, sp.len);
		ok                   = k != 0;
		at += k;
	}
	piece->packed_len = ok ? at : 0;
	return ok;
}

/* The old form, finished: the headers in front of the pieces, the Adler-32
 * after them, and the data packet encrypted in place. */
[[nodiscard]] bool seal_held(M_pgp_msg_t *msg)
{
	const size_t bs = msg->cipher->block_size;
	if (msg->appended == 0) {
		/* No data: the packet holds only the prefix. */
		M_buf_truncate(msg->held, msg->data_at + kOldHeaderLen + bs + 2);
		return m::detail::seal_symenc(content(msg->held) + msg->data_at, 0, msg->cipher, msg->session_key);
	}
	unsigned char lit[kLitHeadLen];
	m::detail::put_old_header(lit, m::detail::kTagLiteral, static_cast<uint32_t>(msg->data_len + kLiteralPrefixLen));
	std::memcpy(lit + kOldHeaderLen, kLiteralPrefix, kLiteralPrefixLen);
	unsigned char trailer[m::detail::kAdlerLen];
	m::detail::put_be32(trailer,
	                    m::detail::adler32_join(m::detail::adler32_of(1, lit, sizeof(lit)), msg->adler, msg->data_len));
	M_buf_add_bytes(msg->held, trailer, sizeof(trailer));

	/* The compressed packet: its header, the algorithm, the zlib header, a
	 * stored block that is not the last holding the literal head, then the
	 * pieces already in place. */
	unsigned char *at  = content(msg->held) + msg->data_at + kOldHeaderLen + bs + 2;
	const uint64_t len = M_buf_len(msg->held) - msg->data_at - kOldHeaderLen - bs - 2;
	if (len - kOldHeaderLen > kUint32Limit)
		return false;
	m::detail::put_old_header(at, m::detail::kTagCompressed, static_cast<uint32_t>(len - kOldHeaderLen));
	const unsigned char stream_head[] = {m::detail::kCompressZlib,
	                                     m::detail::kZlibHeader[0],
	                                     m::detail::kZlibHeader[1],
	                                     0x00,
	                                     kLitHeadLen,
	                                     0x00,
	                                     static_cast<unsigned char>(~kLitHeadLen & 0xFF),
	                                     0xFF};
	std::memcpy(at + kOldHeaderLen, stream_head, sizeof(stream_head));
	std::memcpy(at + kOldHeaderLen + sizeof(stream_head), lit, sizeof(lit));
	return m::detail::seal_symenc(content(msg->held) + msg->data_at, static_cast<size_t>(len), msg->cipher,
	                              msg->session_key);
}

/* The integrity-protected form, finished: the Adler-32 ends the compressed
 * packet (when there is one), the MDC packet the sealed packet. */
[[nodiscard]] bool finish_stream(M_pgp_msg_t *msg)
{
	unsigned char trailer[m::detail::kAdlerLen];
	m::detail::put_be32(trailer, msg->adler);
	if (msg->appended != 0 && (!msg->compressed.add(trailer, sizeof(trailer)) || !msg->compressed.finish()))
		return false;
	return msg->seipd.finish();
}

/* The piece's stream into the message (the caller has checked it). */
[[nodiscard]] bool take_piece(M_pgp_msg_t *msg, const M_pgp_piece_t *piece)
{
	if (!msg->mdc) {
		if (msg->data_len + piece->plain_len > kUint32Limit - kLiteralPrefixLen)
			return false;
		M_buf_add_bytes(msg->held, piece->packed, piece->packed_len);
		return true;
	}
	if (msg->appended == 0) {
		const unsigned char head[] = {m::detail::kCompressZlib, m::detail::kZlibHeader[0], m::detail::kZlibHeader[1]};
		if (!msg->compressed.start(m::detail::kTagCompressed, m::detail::seipd_stream::write_into, &msg->seipd) ||
		    !msg->compressed.add(head, sizeof(head)))
			return false;
	}
	return msg->compressed.add(piece->packed, piece->packed_len);
}

/* The one-shot forms write into a buffer. */
M_bool append_to_buf(const unsigned char *bytes, size_t len, void *thunk)
{
	M_buf_add_bytes(static_cast<M_buf_t *>(thunk), bytes, len);
	return M_TRUE;
}

/* Everything of M_pgp_encrypt_buf_ex after the arguments were checked:
 * the data cut into pieces, each compressed and appended in turn. */
[[nodiscard]] bool encrypt_buf(M_buf_t *out, const M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                               unsigned int flags)
{
	M_pgp_msg_t *msg = M_pgp_msg_create(key, symalg, flags, append_to_buf, out);
	if (msg == nullptr)
		return false;
	const auto       *data  = reinterpret_cast<const unsigned char *>(M_buf_peek(in));
	const size_t      n     = M_buf_len(in);
	bool              ok    = true;
	M_pgp_deflater_t *d     = n != 0 ? M_pgp_deflater_create() : nullptr;
	M_pgp_piece_t    *piece = n != 0 ? M_pgp_piece_create() : nullptr;
	for (size_t at = 0; ok && piece != nullptr;) {
		ok = d != nullptr && M_pgp_msg_piece(msg, piece);
		at += M_pgp_piece_add(piece, data + at, n - at);
		const bool last = at == n && !M_pgp_piece_full(piece);
		ok              = ok && M_pgp_piece_compress(piece, d, last) && M_pgp_msg_append(msg, piece);
		if (last)
			break;
	}
	ok = ok && M_pgp_msg_finish(msg);
	M_pgp_piece_destroy(piece);
	M_pgp_deflater_destroy(d);
	M_pgp_msg_destroy(msg);
	return ok;
}

} // namespace

extern "C" {

M_pgp_piece_t *M_pgp_piece_create(void)
{
	return new (M_malloc_zero(sizeof(M_pgp_piece_t))) M_pgp_piece_t();
}

void M_pgp_piece_destroy(M_pgp_piece_t *piece)
{
	if (piece == nullptr)
		return;
	M_free(piece->spans);
	M_free(piece->packed);
	M_free(piece);
}

size_t M_pgp_piece_add(M_pgp_piece_t *piece, const unsigned char *data, size_t len)
{
	if (piece == nullptr || data == nullptr || !piece->begun || piece->compressed)
		return 0;
	const size_t take = len < kPieceLen - piece->len ? len : kPieceLen - piece->len;
	if (take == 0)
		return 0;
	piece_span *prev = piece->nspans != 0 ? &piece->spans[piece->nspans - 1] : nullptr;
	if (prev != nullptr && prev->data + prev->len == data) {
		prev->len += take;
	} else {
		if (piece->nspans == piece->room) {
			piece->room  = piece->room == 0 ? 8 : piece->room * 2;
			piece->spans = static_cast<piece_span *>(M_realloc(piece->spans, piece->room * sizeof(piece_span)));
		}
		if (piece->spans == nullptr) /* M_realloc ends the process rather than fail */
			return 0;
		piece->spans[piece->nspans++] = piece_span{data, take};
	}
	piece->len += take;
	return take;
}

M_bool M_pgp_piece_full(const M_pgp_piece_t *piece)
{
	return piece != nullptr && piece->len == kPieceLen;
}

M_pgp_piece_state_t M_pgp_piece_state(const M_pgp_piece_t *piece)
{
	if (piece == nullptr || !piece->begun)
		return M_PGP_PIECE_FREE;
	return piece->compressed ? M_PGP_PIECE_COMPRESSED : M_PGP_PIECE_FILLING;
}

M_bool M_pgp_piece_compress(M_pgp_piece_t *piece, M_pgp_deflater_t *d, M_bool last)
{
	if (piece == nullptr || !piece->begun || piece->compressed)
		return M_FALSE;
	piece->compressed = true;
	piece->last       = last;
	piece->failed     = d == nullptr || (!last && piece->len != kPieceLen) || !compress_spans(piece, d);
	/* The borrowed bytes are the caller's again. */
	piece->nspans = 0;
	return !piece->failed;
}

M_pgp_msg_t *M_pgp_msg_create(const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg, unsigned int flags,
                              M_pgp_msg_write_cb write, void *thunk)
{
	const sym_cipher *cipher = m::detail::cipher_by_symalg(symalg);
	if (key == nullptr || write == nullptr || cipher == nullptr ||
	    (flags & ~static_cast<unsigned int>(M_PGP_ENCRYPT_MDC)) != 0)
		return nullptr;
	auto *msg   = new (M_malloc(sizeof(M_pgp_msg_t))) M_pgp_msg_t();
	msg->cipher = cipher;
	msg->mdc    = (flags & M_PGP_ENCRYPT_MDC) != 0;
	msg->write  = write;
	msg->thunk  = thunk;
	msg->held   = M_buf_create();
	bool ok     = m::detail::write_session_key(msg->held, key, cipher, msg->session_key);
	if (ok && msg->mdc) {
		ok = write(content(msg->held), M_buf_len(msg->held), thunk) &&
		     msg->seipd.start(cipher, msg->session_key, write, thunk);
		M_buf_cancel(msg->held);
		msg->held = nullptr;
	} else if (ok) {
		msg->data_at = M_buf_len(msg->held);
		M_buf_add_fill(msg->held, 0, legacy_head_len(cipher));
	}
	if (!ok) {
		M_pgp_msg_destroy(msg);
		return nullptr;
	}
	return msg;
}

M_bool M_pgp_msg_piece(M_pgp_msg_t *msg, M_pgp_piece_t *piece)
{
	if (msg == nullptr || piece == nullptr || msg->finished || msg->failed)
		return M_FALSE;
	piece->seq        = msg->begun++;
	piece->mdc        = msg->mdc;
	piece->begun      = true;
	piece->compressed = false;
	piece->failed     = false;
	piece->len        = 0;
	piece->nspans     = 0;
	piece->packed_len = 0;
	/* The literal packet's body begins with its format, name and date,
	 * which the compression puts in front. */
	if (piece->mdc && piece->seq == 0)
		piece->len = kLiteralPrefixLen;
	return M_TRUE;
}

M_bool M_pgp_msg_append(M_pgp_msg_t *msg, M_pgp_piece_t *piece)
{
	if (msg == nullptr || piece == nullptr)
		return M_FALSE;
	const bool in_order = piece->begun && piece->compressed && !piece->failed && piece->seq == msg->appended;
	if (msg->finished || msg->failed || msg->last_seen || !in_order || !take_piece(msg, piece)) {
		msg->failed = true;
		return M_FALSE;
	}
	msg->adler = m::detail::adler32_join(msg->adler, piece->adler, piece->plain_len);
	msg->data_len += piece->plain_len;
	msg->appended++;
	msg->last_seen = piece->last;
	piece->begun   = false;
	return M_TRUE;
}

uint64_t M_pgp_msg_pieces_begun(const M_pgp_msg_t *msg)
{
	return msg != nullptr ? msg->begun : 0;
}

uint64_t M_pgp_msg_pieces_appended(const M_pgp_msg_t *msg)
{
	return msg != nullptr ? msg->appended : 0;
}

M_bool M_pgp_msg_last_appended(const M_pgp_msg_t *msg)
{
	return msg != nullptr && msg->last_seen;
}

M_bool M_pgp_msg_finish(M_pgp_msg_t *msg)
{
	if (msg == nullptr)
		return M_FALSE;
	const bool complete =
	    !msg->finished && !msg->failed && msg->begun == msg->appended && (msg->appended == 0 || msg->last_seen);
	msg->finished = true;
	if (!complete)
		return M_FALSE;
	if (msg->mdc)
		return finish_stream(msg);
	const bool ok = seal_held(msg) && msg->write(content(msg->held), M_buf_len(msg->held), msg->thunk);
	M_buf_cancel(msg->held);
	msg->held = nullptr;
	return ok;
}

void M_pgp_msg_destroy(M_pgp_msg_t *msg)
{
	if (msg == nullptr)
		return;
	msg->~M_pgp_msg();
	M_free(msg);
}

M_bool M_pgp_encrypt_buf(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg)
{
	return M_pgp_encrypt_buf_ex(out, in, key, symalg, M_PGP_ENCRYPT_NONE);
}

M_bool M_pgp_encrypt_buf_ex(M_buf_t *out, M_buf_t *in, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                            unsigned int flags)
{
	bool ok = false;
	/* The output is emptied first on every path, so a failed call never
	 * leaves an older message behind. One buffer for both would lose the
	 * data that way, and the call would quietly encrypt nothing: refused. */
	if (out != in)
		M_buf_truncate(out, 0);
	if (out != nullptr && in != nullptr && key != nullptr && out != in)
		ok = encrypt_buf(out, in, key, symalg, flags);
	/* The plaintext must not linger in the work buffer, whatever happened. */
	M_buf_truncate(in, 0);
	return ok;
}

M_bool M_pgp_encrypt(const unsigned char *data, size_t data_len, const M_pgp_pubkey_t *key, M_pgp_symalg_t symalg,
                     unsigned char **out, size_t *out_len)
{
	if (out == nullptr || out_len == nullptr || key == nullptr)
		return M_FALSE;
	*out     = nullptr;
	*out_len = 0;
	if (data == nullptr || data_len == 0)
		return M_TRUE;

	M_buf_t *in = M_buf_create();
	M_buf_add_bytes(in, data, data_len);
	M_buf_t   *msg = M_buf_create();
	const bool ok  = M_pgp_encrypt_buf(msg, in, key, symalg);
	M_buf_cancel(in);
	if (!ok) {
		M_buf_cancel(msg);
		return M_FALSE;
	}
	size_t len = 0;
	*out       = M_buf_finish(msg, &len);
	*out_len   = (*out == nullptr) ? 0 : len;
	return *out != nullptr;
}

} // extern "C"
