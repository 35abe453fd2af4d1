/* The export file container: section and block headers, and the layers of a
 * block (Base64 text, AES-CBC ciphertext, a zlib stream, CSV text). */
#include "app/tokenexp_export.h"

#include "app/tokenexp_key.h"
#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "core/m_str_num.h"
#include "formats/m_bincodec.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <climits>
#include <cstring>

const unsigned char tokenexp_export_iv[16] = {0x7a, 0x1e, 0x44, 0xc9, 0xb0, 0xd2, 0x83, 0x5f,
                                              0x7a, 0x1e, 0x44, 0xc9, 0xb0, 0xd2, 0x83, 0x5f};

namespace {

constexpr char kSectionStart[]  = "--QUORVEL";
constexpr char kSectionMarker[] = "--QUORVEL--ENCRYPTED--DATA--EXPORT---(";
constexpr char kSizeMarker[]    = "---DATABLOCK_SIZE=";

/* zlib's uncompress takes a 32-bit room; it never gets more. */
constexpr uint64_t kMaxInflateRoom = 0xFFFFFFFFu;

/* The most a zlib stream of len bytes can inflate to: deflate codes at best
 * a 258-byte match in two bits, so 1032 bytes out per byte in, plus slack for
 * a stream too short to hold even its header. */
uint64_t max_inflated_size(size_t len)
{
	return static_cast<uint64_t>(len) * 1032u + 1024u;
}

struct block_header_t {
	uint64_t data_len; /* N: bytes of Base64 text that follow the header line */
	uint64_t raw_len;  /* M: declared uncompressed length */
};

/* Find "---DATABLOCK_SIZE=N:M" in text from from on. */
bool parse_sizes(const char *from, block_header_t *hdr)
{
	const char *size = M_str_str(from, kSizeMarker);
	if (size == nullptr)
		return false;
	size += sizeof(kSizeMarker) - 1;
	const char *colon = M_str_chr(size, ':');
	if (colon == nullptr)
		return false;
	if (M_str_to_uint64_ex(size, static_cast<size_t>(colon - size), 0, &hdr->data_len, nullptr) != M_STR_INT_SUCCESS)
		return false;
	return M_str_to_uint64_ex(colon + 1, std::strlen(colon + 1), 0, &hdr->raw_len, nullptr) == M_STR_INT_SUCCESS;
}

/* OpenSSL's text for its latest error. */
const char *openssl_error()
{
	return ERR_error_string(ERR_get_error(), nullptr);
}

/* Most block data reserved ahead of reading it. The size comes from the
 * header, which may be damaged or hostile ("-55" reads as 2^64 - 55): room is
 * taken a piece at a time as the data actually arrives, so a short file never
 * costs more memory than it holds. */
constexpr size_t kBlockReadPiece = 1u << 20;

/* Read exactly len bytes of block data into buf (emptied first). */
bool read_block_data(M_fs_file_t *file, M_buf_t *buf, uint64_t len)
{
	M_buf_truncate(buf, 0);
	while (len > 0) {
		size_t         room = len > kBlockReadPiece ? kBlockReadPiece : static_cast<size_t>(len);
		unsigned char *dst  = M_buf_direct_write_start(buf, &room);
		if (dst == nullptr)
			return false;
		if (room > len)
			room = static_cast<size_t>(len);
		size_t got = 0;
		if (M_fs_file_read(file, dst, room, &got, M_FS_FILE_RW_FULLBUF) != M_FS_ERROR_SUCCESS || got == 0) {
			M_buf_direct_write_end(buf, 0);
			return false;
		}
		M_buf_direct_write_end(buf, got);
		len -= got;
	}
	return true;
}

/* Base64 text in line -> ciphertext in work -> compressed data in line ->
 * CSV text in work. */
tokenexp_walk_result_t process_block(const char *key, M_buf_t *line, M_buf_t *work, uint64_t raw_len, char *err,
                                     size_t errlen)
{
	/* Base64. Text that does not decode leaves the work buffer empty; the
	 * block then fails at the cipher's final step. */
	M_buf_truncate(work, 0);
	const size_t text_len = M_buf_len(line);
	size_t       room     = M_bincodec_decode_size(text_len, M_BINCODEC_BASE64);
	if (room > 0) {
		unsigned char *dst = M_buf_direct_write_start(work, &room);
		size_t         n   = M_bincodec_decode(dst, room, M_buf_peek(line), text_len, M_BINCODEC_BASE64);
		M_buf_direct_write_end(work, dst == nullptr ? 0 : n);
	}

	EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
	if (ctx == nullptr) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP cipher init key/iv): %s", openssl_error());
		return TOKENEXP_WALK_DECRYPT;
	}
	const EVP_CIPHER *cipher = tokenexp_key_convert(line, key, err, errlen);
	if (cipher == nullptr) {
		M_buf_truncate(line, 0);
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}
	if (EVP_DecryptInit_ex(ctx, cipher, nullptr, reinterpret_cast<const unsigned char *>(M_buf_peek(line)),
	                       tokenexp_export_iv) != 1) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP cipher init key/iv): %s", openssl_error());
		M_buf_truncate(line, 0);
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}

	/* The key bytes are no longer needed: the cipher holds its schedule. */
	M_buf_truncate(line, 0);
	const size_t cipher_len = M_buf_len(work);
	if (cipher_len > INT_MAX - 32) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP update): %s", "block too large");
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}
	size_t         out_room = cipher_len + 16;
	unsigned char *out      = M_buf_direct_write_start(line, &out_room);
	int            len1     = 0;
	if (EVP_DecryptUpdate(ctx, out, &len1, reinterpret_cast<const unsigned char *>(M_buf_peek(work)),
	                      static_cast<int>(cipher_len)) != 1) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP update): %s", openssl_error());
		M_buf_direct_write_end(line, 0);
		M_buf_truncate(line, 0);
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}
	if (len1 < 0) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP update): negative len written");
		M_buf_direct_write_end(line, 0);
		M_buf_truncate(line, 0);
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}
	int len2 = 0;
	if (EVP_DecryptFinal_ex(ctx, out + len1, &len2) != 1) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP final): %s", openssl_error());
		if (M_str_eq_end(err, "reason(100)") || M_str_eq_end(err, "bad decrypt"))
			M_snprintf(err, errlen,
			           "OpenSSL decrypt error (EVP final): bad decrypt (usually means you entered the wrong "
			           "quorvel export key)");
		M_buf_direct_write_end(line, 0);
		M_buf_truncate(line, 0);
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}
	if (len2 < 0) {
		M_snprintf(err, errlen, "OpenSSL decrypt error (EVP final): negative len written");
		M_buf_direct_write_end(line, 0);
		M_buf_truncate(line, 0);
		EVP_CIPHER_CTX_free(ctx);
		return TOKENEXP_WALK_DECRYPT;
	}
	M_buf_direct_write_end(line, static_cast<size_t>(len1) + static_cast<size_t>(len2));
	EVP_CIPHER_CTX_free(ctx);

	/* Inflate into at least M bytes of room (all the room the buffer then
	 * offers, capped at what zlib's 32-bit count can take). M comes from the
	 * file: room beyond what the compressed bytes can possibly inflate to
	 * changes no outcome, so a damaged or hostile M never costs gigabytes. */
	M_buf_truncate(work, 0);
	const size_t comp_len  = M_buf_len(line);
	uint64_t     floor_len = raw_len > kMaxInflateRoom ? kMaxInflateRoom : raw_len;
	if (floor_len > max_inflated_size(comp_len))
		floor_len = max_inflated_size(comp_len);
	size_t want = static_cast<size_t>(floor_len);
	if (want == 0)
		want = 1;
	unsigned char *dst      = M_buf_direct_write_start(work, &want);
	uLongf         produced = static_cast<uLongf>(want > kMaxInflateRoom ? kMaxInflateRoom : want);
	int            rc       = uncompress(dst, &produced, reinterpret_cast<const Bytef *>(M_buf_peek(line)),
	                                     static_cast<uLong>(comp_len > kMaxInflateRoom ? kMaxInflateRoom : comp_len));
	if (rc != Z_OK) {
		M_buf_direct_write_end(work, 0);
		M_buf_truncate(work, 0);
		switch (rc) {
			case Z_MEM_ERROR:
				M_snprintf(err, errlen, "out of memory");
				break;
			case Z_BUF_ERROR:
				M_snprintf(err, errlen, "destination buffer was not large enough");
				break;
			case Z_DATA_ERROR:
				M_snprintf(err, errlen, "compressed data was corrupted");
				break;
			default:
				M_snprintf(err, errlen, "unknown error code (%d)", rc);
				break;
		}
		return TOKENEXP_WALK_UNCOMPRESS;
	}
	M_buf_direct_write_end(work, static_cast<size_t>(produced));
	return TOKENEXP_WALK_DONE;
}

/* How reading one header line ended. */
enum class line_result_t { LINE, END, ERROR, TOO_LONG };

/* Longest header line accepted, in bytes before its line feed. Real header
 * lines are well under a hundred bytes; the bound keeps a file without line
 * feeds (a device, a damaged file) from growing the line buffer without end. */
constexpr size_t kMaxHeaderLine = size_t{64} * 1024;

/* Append the next non-blank line of file to buf, without its trailing
 * whitespace (the rules of read_line_buf), refusing a line longer than
 * kMaxHeaderLine. */
line_result_t read_header_line(M_buf_t *buf, M_fs_file_t *file)
{
	const size_t start = M_buf_len(buf);

	for (;;) {
		bool   read_any = false;
		bool   got_lf   = false;
		size_t line_len = 0;
		for (;;) {
			unsigned char byte = 0;
			size_t        got  = 0;
			if (M_fs_file_read(file, &byte, 1, &got, M_FS_FILE_RW_NORMAL) != M_FS_ERROR_SUCCESS)
				return line_result_t::ERROR;
			if (got == 0)
				break;
			read_any = true;
			M_buf_add_byte(buf, byte);
			if (byte == '\n') {
				got_lf = true;
				break;
			}
			if (++line_len > kMaxHeaderLine)
				return line_result_t::TOO_LONG;
		}

		/* Trailing whitespace is not part of the line. */
		size_t len = M_buf_len(buf);
		while (len > start && M_chr_isspace(M_buf_peek(buf)[len - 1]))
			len--;
		M_buf_truncate(buf, len);

		if (got_lf && len <= start)
			continue; /* a blank line */
		if (read_any && len > start)
			return line_result_t::LINE;
		return line_result_t::END;
	}
}

/* Whether a header line could not be read, which ends the walk: cleanly at
 * the end of the file (eof set), as a structure error otherwise, with its
 * own text for a line over the bound. */
bool header_line_missing(line_result_t got, M_bool *eof, char *err, size_t errlen)
{
	*eof = got == line_result_t::END;
	if (got == line_result_t::TOO_LONG)
		M_snprintf(err, errlen, "header line too long (more than %zu bytes)", kMaxHeaderLine);
	return got != line_result_t::LINE;
}

/* Skip len bytes of a block the run does not read. The file layer lets the
 * position move past the end of the file, so the skip stops one byte short
 * and reads that byte: a block whose last byte is missing was cut off, and
 * the rows after it are lost. Reading it costs nothing extra, since the
 * next header line is fetched by the same read. */
bool skip_block(M_fs_file_t *file, uint64_t len)
{
	if (len == 0)
		return true;
	if (len - 1 > static_cast<uint64_t>(INT64_MAX) ||
	    M_fs_file_seek(file, static_cast<int64_t>(len - 1), M_FS_FILE_SEEK_CUR) != M_FS_ERROR_SUCCESS)
		return false;
	unsigned char last = 0;
	size_t        got  = 0;
	return M_fs_file_read(file, &last, 1, &got, M_FS_FILE_RW_NORMAL) == M_FS_ERROR_SUCCESS && got == 1;
}

} // namespace

M_bool read_line_buf(M_buf_t *buf, M_fs_file_t *file, M_bool *eof)
{
	if (eof != nullptr)
		*eof = M_FALSE;
	switch (read_header_line(buf, file)) {
		case line_result_t::LINE:
			return M_TRUE;
		case line_result_t::END:
			if (eof != nullptr)
				*eof = M_TRUE;
			return M_FALSE;
		case line_result_t::ERROR:
		case line_result_t::TOO_LONG:
			break;
	}
	return M_FALSE;
}

tokenexp_walk_result_t tokenexp_walk(M_fs_file_t *file, const char *key, M_buf_t *line, M_buf_t *work, char **section,
                                     char *err, size_t errlen, tokenexp_block_cb cb, void *thunk)
{
	M_bool eof = M_FALSE;
	for (;;) {
		if (errlen > 0)
			err[0] = '\0';
		M_buf_truncate(line, 0);
		if (header_line_missing(read_header_line(line, file), &eof, err, errlen))
			break;

		block_header_t hdr{0, 0};
		bool           first_of_section = false;
		if (M_str_eq_start(M_buf_peek(line), kSectionStart)) {
			if (header_line_missing(read_header_line(line, file), &eof, err, errlen))
				break;
			const char *text   = M_buf_peek(line);
			const char *marker = M_str_str(text, kSectionMarker);
			if (marker == nullptr) {
				eof = M_FALSE;
				break;
			}
			const char *name  = marker + sizeof(kSectionMarker) - 1;
			const char *close = M_str_chr(name, ')');
			if (close == nullptr || close == name || !parse_sizes(close, &hdr)) {
				eof = M_FALSE;
				break;
			}
			M_free(*section);
			*section         = M_strdup_max(name, static_cast<size_t>(close - name));
			first_of_section = true;
		} else if (!parse_sizes(M_buf_peek(line), &hdr)) {
			eof = M_FALSE;
			break;
		}

		if (!M_str_eq(*section, TOKENEXP_SECTION)) {
			/* Other sections are skipped unread; a block that runs past the
			 * end of the file means the file was cut off. */
			if (!skip_block(file, hdr.data_len)) {
				M_snprintf(err, errlen, "file truncated!");
				return TOKENEXP_WALK_PARSE;
			}
			continue;
		}

		if (!read_block_data(file, line, hdr.data_len)) {
			eof = M_FALSE;
			break;
		}
		tokenexp_walk_result_t rc = process_block(key, line, work, hdr.raw_len, err, errlen);
		if (rc != TOKENEXP_WALK_DONE)
			return rc;
		if (!cb(M_buf_peek(work), M_buf_len(work), first_of_section, thunk))
			return TOKENEXP_WALK_STOPPED;
	}

	if (eof && (errlen == 0 || err[0] == '\0'))
		return TOKENEXP_WALK_DONE;
	if (errlen > 0 && err[0] == '\0')
		M_snprintf(err, errlen, "couldn't read section header from export file");
	return TOKENEXP_WALK_PARSE;
}
