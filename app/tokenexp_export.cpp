/* The export file container: section and block headers, and the layers of a
 * block (Base64 text, AES-CBC ciphertext, a zlib stream, CSV text). */
#include "app/tokenexp_export.h"

#include "app/tokenexp_report.h"
#include "core/m_bithacks.h"
#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "core/m_str_num.h"
#include "formats/m_bincodec.h"
#include "pgp/pgp_encrypt.h"
#include "sys/m_proc.h"

#include <libdeflate.h>
#include <zlib.h>

#include <climits>
#include <cstring>

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
	uint64_t data_len;         /* N: bytes of Base64 text that follow the header line */
	uint64_t raw_len;          /* M: declared uncompressed length */
	bool     first_of_section; /* a section header, not a block header */
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

/* Most block data reserved ahead of reading it. The size comes from the
 * header, which may be damaged or hostile ("-55" reads as 2^64 - 55): room is
 * taken a slice at a time as the data actually arrives, so a short file never
 * costs more memory than it holds. */
constexpr size_t kBlockReadSlice = 1u << 20;

/* Read exactly len bytes of block data into buf (emptied first); a read
 * that fails leaves its result in read_err. */
bool read_block_data(M_fs_file_t *file, M_buf_t *buf, uint64_t len, M_fs_error_t *read_err)
{
	M_buf_truncate(buf, 0);
	while (len > 0) {
		size_t         room = len > kBlockReadSlice ? kBlockReadSlice : static_cast<size_t>(len);
		unsigned char *dst  = M_buf_direct_write_start(buf, &room);
		if (dst == nullptr)
			return false;
		if (room > len)
			room = static_cast<size_t>(len);
		size_t got = 0;
		*read_err  = M_fs_file_read(file, dst, room, &got, M_FS_FILE_RW_FULLBUF);
		if (*read_err != M_FS_ERROR_SUCCESS || got == 0) {
			M_buf_direct_write_end(buf, 0);
			return false;
		}
		M_buf_direct_write_end(buf, got);
		len -= got;
	}
	return true;
}

/* Base64 text -> the bytes it encodes, in place: decoding writes three
 * bytes for every four characters it has read, never ahead of them. Text
 * that does not decode leaves nothing. */
void decode_base64(M_buf_t *data)
{
	const size_t   text_len = M_buf_len(data);
	const size_t   room     = M_bincodec_decode_size(text_len, M_BINCODEC_BASE64);
	unsigned char *bytes    = tokenexp::content_in_place(data);
	size_t         decoded  = 0;
	if (room > 0 && bytes != nullptr)
		decoded = M_bincodec_decode(bytes, room, M_buf_peek(data), text_len, M_BINCODEC_BASE64);
	M_buf_truncate(data, decoded);
}

/* zlib's result as the reason an inflate failed. */
void inflate_error(int rc, char *err, size_t errlen)
{
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
}

/* Whether need bytes fit in what the memory limits leave (address space
 * and data), with a thread's working set to spare: while one block is
 * checked, the rest of the run (the pieces of the message, the blocks of
 * other threads, the allocator's own reservations) goes on taking memory. */
bool fits_with_slack(uint64_t need, uint64_t address, uint64_t data)
{
	const uint64_t with_slack = need + kTokenexpThreadWorkingSet;
	return with_slack <= address && with_slack <= data;
}

/* Whether the process's memory limits leave room for a block inflated into
 * room bytes: the buffer that takes it (its capacity a power of two), the
 * table parsed from it and its rows, each about the size of the text. A
 * block of the usual size is served by the thread count, whose working set
 * holds it several times over; only a larger one asks what the limits leave
 * now, so that an allocation that would fail (which ends the process) fails
 * the block instead. */
bool room_to_inflate(size_t room)
{
	const uint64_t text = M_uint64_round_up_to_power_of_two(room < 1024 ? 1024 : room);
	const uint64_t need = text + 2 * static_cast<uint64_t>(room);
	if (need <= kTokenexpThreadWorkingSet / 4)
		return true;
	uint64_t address = UINT64_MAX;
	uint64_t data    = UINT64_MAX;
	(void)M_proc_mem_room(&address, &data);
	return fits_with_slack(need, address, data);
}

/* The memory a table parsed from len bytes of CSV text takes at most, with
 * the block's rows written out: a pointer for every cell of every row, the
 * widest row deciding the cells of each (quotes are not looked at, so a
 * quoted delimiter counts as one more cell), and the rows up to three times
 * the text (rewritten cells are longer, and the buffer grows by doubling). */
uint64_t parse_need(const char *text, size_t len)
{
	uint64_t rows  = 2; /* the last line, and the header row a continuation block is given */
	uint64_t cols  = 1;
	uint64_t cells = 1;
	for (size_t i = 0; i < len; i++) {
		if (text[i] == ',') {
			cells++;
		} else if (text[i] == '\n') {
			rows++;
			cols  = cells > cols ? cells : cols;
			cells = 1;
		}
	}
	cols = cells > cols ? cells : cols;
	return rows * (cols + 1) * sizeof(char *) + 3 * static_cast<uint64_t>(len);
}

/* Whether the process's memory limits leave room to parse the inflated
 * block in csv and write its rows. Without a limit nothing is counted; a
 * table of the usual size is served by the thread count. The cells of a
 * small text may still take gigabytes (a million short lines under a header
 * row of a thousand cells): counted, never trusted to the size. */
bool room_to_parse(const M_buf_t *csv)
{
	uint64_t address = UINT64_MAX;
	uint64_t data    = UINT64_MAX;
	(void)M_proc_mem_room(&address, &data);
	if (address == UINT64_MAX && data == UINT64_MAX)
		return true;
	const uint64_t need = parse_need(M_buf_peek(csv), M_buf_len(csv));
	return need <= kTokenexpThreadWorkingSet / 4 || fits_with_slack(need, address, data);
}

/* The zlib stream in data -> CSV text in csv (emptied first), inflated into
 * at least raw_len bytes of room (all the room the buffer then offers,
 * capped at what zlib's 32-bit count can take). raw_len comes from the file:
 * room beyond what the compressed bytes can possibly inflate to changes no
 * outcome, so a damaged or hostile length never costs gigabytes.
 *
 * libdeflate inflates a whole stream into a given room two to three times
 * as fast as zlib. Its results are not zlib's, though, and the message of a
 * failure is zlib's: on any failure the block goes through zlib's
 * uncompress, with the same room, which yields exactly that message (or,
 * where libdeflate is the stricter of the two, the text after all). */
bool inflate_block(libdeflate_decompressor *inflater, const M_buf_t *data, M_buf_t *csv, uint64_t raw_len, char *err,
                   size_t errlen)
{
	M_buf_truncate(csv, 0);
	const size_t comp_len  = M_buf_len(data);
	uint64_t     floor_len = raw_len > kMaxInflateRoom ? kMaxInflateRoom : raw_len;
	if (floor_len > max_inflated_size(comp_len))
		floor_len = max_inflated_size(comp_len);
	size_t want = static_cast<size_t>(floor_len);
	if (want == 0)
		want = 1;
	if (!room_to_inflate(want)) {
		M_snprintf(err, errlen,
		           "out of memory: the process's memory limit leaves no room for a block of up to %zu "
		           "bytes uncompressed",
		           want);
		return false;
	}
	unsigned char *dst     = M_buf_direct_write_start(csv, &want);
	const size_t   room    = want > kMaxInflateRoom ? kMaxInflateRoom : want;
	const size_t   src_len = comp_len > kMaxInflateRoom ? kMaxInflateRoom : comp_len;
	const auto    *src     = reinterpret_cast<const unsigned char *>(M_buf_peek(data));
	size_t         got     = 0;
	if (inflater != nullptr && src != nullptr && dst != nullptr &&
	    ::libdeflate_zlib_decompress(inflater, src, src_len, dst, room, &got) == LIBDEFLATE_SUCCESS) {
		M_buf_direct_write_end(csv, got);
		return true;
	}
	uLongf    produced = static_cast<uLongf>(room);
	const int rc       = uncompress(dst, &produced, src, static_cast<uLong>(src_len));
	if (rc != Z_OK) {
		M_buf_direct_write_end(csv, 0);
		inflate_error(rc, err, errlen);
		return false;
	}
	M_buf_direct_write_end(csv, static_cast<size_t>(produced));
	return true;
}

/* How reading one header line ended. */
enum class line_result_t { LINE, END, ERROR, TOO_LONG };

/* Longest header line accepted, in bytes before its line feed. Real header
 * lines are well under a hundred bytes; the bound keeps a file without line
 * feeds (a device, a damaged file) from growing the line buffer without end. */
constexpr size_t kMaxHeaderLine = size_t{64} * 1024;

/* Append the next non-blank line of file to buf, without its trailing
 * whitespace, refusing a line longer than kMaxHeaderLine. At the end of
 * the file a last line without a line feed counts; blank lines are skipped.
 * A read that fails leaves its result in read_err. crlf (when not NULL) is
 * set when the line ended in CR LF. */
line_result_t read_header_line(M_buf_t *buf, M_fs_file_t *file, M_fs_error_t *read_err, M_bool *crlf)
{
	const size_t start = M_buf_len(buf);

	for (;;) {
		bool   read_any = false;
		bool   got_lf   = false;
		size_t line_len = 0;
		for (;;) {
			unsigned char byte = 0;
			size_t        got  = 0;
			*read_err          = M_fs_file_read(file, &byte, 1, &got, M_FS_FILE_RW_NORMAL);
			if (*read_err != M_FS_ERROR_SUCCESS)
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
		if (crlf != nullptr)
			*crlf = got_lf && len >= start + 2 && M_buf_peek(buf)[len - 2] == '\r';
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

/* Read the next section or block header: its sizes, and for a section
 * header the section's name into section. Returns false when the walk ends
 * instead: at the end of the file (eof set), or on a structure error (eof
 * clear; err holds a reason only for a line over the bound). */
bool read_block_header(M_fs_file_t *file, M_buf_t *line, tokenexp::mem_guard<char> &section, block_header_t *hdr,
                       M_bool *eof, char *err, size_t errlen, M_fs_error_t *read_err, M_bool *crlf)
{
	M_buf_truncate(line, 0);
	if (header_line_missing(read_header_line(line, file, read_err, crlf), eof, err, errlen))
		return false;
	hdr->first_of_section = false;
	if (!M_str_eq_start(M_buf_peek(line), kSectionStart))
		return parse_sizes(M_buf_peek(line), hdr);

	if (header_line_missing(read_header_line(line, file, read_err, nullptr), eof, err, errlen))
		return false;
	const char *marker = M_str_str(M_buf_peek(line), kSectionMarker);
	if (marker == nullptr)
		return false;
	const char *name  = marker + sizeof(kSectionMarker) - 1;
	const char *close = M_str_chr(name, ')');
	if (close == nullptr || close == name || !parse_sizes(close, hdr))
		return false;
	section.reset(M_strdup_max(name, static_cast<size_t>(close - name)));
	hdr->first_of_section = true;
	return true;
}

/* How a walk that stopped reading headers ended: the whole file was read,
 * a read of it failed (with the reason), or the file's structure was broken
 * (with a reason, the general one when none was given). */
tokenexp_walk_result_t walk_end(M_bool eof, M_fs_error_t read_err, char *err, size_t errlen)
{
	if (read_err != M_FS_ERROR_SUCCESS) {
		tokenexp_fs_reason(read_err, err, errlen);
		return TOKENEXP_WALK_READ;
	}
	if (eof && (errlen == 0 || err[0] == '\0'))
		return TOKENEXP_WALK_DONE;
	if (errlen > 0 && err[0] == '\0')
		M_snprintf(err, errlen, TOKENEXP_BAD_HEADER);
	return TOKENEXP_WALK_PARSE;
}

} // namespace

tokenexp_decoder::tokenexp_decoder(const tokenexp_export_key &key) : decryptor_(key), inflater_(nullptr)
{
	/* The inflater's state holds plaintext: it takes the library's memory,
	 * wiped when freed. */
	M_pgp_deflate_use_library_memory();
	inflater_ = ::libdeflate_alloc_decompressor();
}

tokenexp_decoder::~tokenexp_decoder()
{
	::libdeflate_free_decompressor(inflater_);
}

tokenexp_walk_result_t tokenexp_decoder::decode(tokenexp_block_t *block, char *err, size_t errlen)
{
	M_buf_truncate(block->csv.get(), 0);
	decode_base64(block->data.get());
	if (!decryptor_.decrypt(block->data.get(), err, errlen))
		return TOKENEXP_WALK_DECRYPT;
	if (!inflate_block(inflater_, block->data.get(), block->csv.get(), block->raw_len, err, errlen))
		return TOKENEXP_WALK_UNCOMPRESS;
	if (!room_to_parse(block->csv.get())) {
		M_snprintf(err, errlen,
		           "out of memory: the process's memory limit leaves no room for the %zu bytes of CSV text of a block",
		           M_buf_len(block->csv.get()));
		M_buf_truncate(block->csv.get(), 0);
		return TOKENEXP_WALK_UNCOMPRESS;
	}
	return TOKENEXP_WALK_DONE;
}

tokenexp_walk_result_t tokenexp_read_blocks(M_fs_file_t *file, char *err, size_t errlen, tokenexp_slot_cb slot,
                                            tokenexp_read_cb read, void *thunk, tokenexp_progress_cb progress,
                                            M_bool *first_line_crlf)
{
	tokenexp::buf_guard       line(M_buf_create()); /* header lines */
	tokenexp::mem_guard<char> section;              /* the current section's name */
	block_header_t            hdr{0, 0, false};
	M_bool                    eof      = M_FALSE;
	M_fs_error_t              read_err = M_FS_ERROR_SUCCESS;
	M_bool                   *crlf     = first_line_crlf; /* asked of the first line only */
	for (;;) {
		if (progress != nullptr) {
			uint64_t at = 0;
			(void)M_fs_file_tell(file, &at);
			progress(at, thunk);
		}
		if (errlen > 0)
			err[0] = '\0';
		const bool got = read_block_header(file, line.get(), section, &hdr, &eof, err, errlen, &read_err, crlf);
		crlf           = nullptr;
		if (!got)
			break;
		if (!M_str_eq(section.get(), TOKENEXP_SECTION)) {
			/* Other sections are skipped unread; a block that runs past the
			 * end of the file means the file was cut off. */
			if (!skip_block(file, hdr.data_len)) {
				M_snprintf(err, errlen, "file truncated!");
				return TOKENEXP_WALK_PARSE;
			}
			continue;
		}
		tokenexp_block_t *block = slot(thunk);
		if (block == nullptr)
			return TOKENEXP_WALK_STOPPED;
		if (!read_block_data(file, block->data.get(), hdr.data_len, &read_err))
			break;
		block->raw_len                  = hdr.raw_len;
		block->first_of_section         = hdr.first_of_section;
		const tokenexp_walk_result_t rc = read(block, err, errlen, thunk);
		if (rc != TOKENEXP_WALK_DONE)
			return rc;
	}
	return walk_end(eof, read_err, err, errlen);
}
