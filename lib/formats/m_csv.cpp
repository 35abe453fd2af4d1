/* CSV parsing in place (a sizing pass, one zeroed block of cell pointers, a
 * filling pass) and CSV output with column lists, row filters and cell
 * writers.
 *
 * Quoted cells are unescaped with the same quote state the filling pass
 * follows: outside quotes a quote character opens a quoted stretch, inside
 * one a doubled quote character stands for one and a lone one closes it; the
 * quote characters themselves are dropped and text around them is kept. This
 * is what makes every cell the output side writes come back unchanged, cells
 * made only of quote characters included.
 */
#include "formats/m_csv.h"

#include "containers/m_hash_stridx.h"
#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_text_int.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

struct M_csv {
	char          ***cells;      /* num_rows row arrays of num_cols cells; one block */
	size_t           num_rows;   /* rows of the text, the header row included */
	size_t           num_cols;   /* columns, from the header row */
	char            *data;       /* the parsed text; cells point into it */
	char            *names;      /* copies of given header names, or NULL */
	bool             owns_data;  /* data is freed with the table */
	char             delim;      /* output delimiter */
	char             quote;      /* output quote character */
	M_hash_stridx_t *header_idx; /* header name to column, case-insensitive */
};

namespace {

constexpr size_t kNoColumn = static_cast<size_t>(-1);

struct grid_size {
	size_t rows;
	size_t cols;
};

/* Byte classes of the two passes. Only four bytes matter to them, so both
 * skip runs of ordinary bytes through one table look-up per byte, and inside
 * quotes jump straight to the next quote character with memchr: a token table
 * is mostly digits and words, and this is where parsing spends its time. */
enum byte_class : unsigned char { kPlain = 0, kQuote, kDelim, kLineFeed, kReturn };

struct byte_classes {
	unsigned char of[256];
};

/* The classes for a delimiter and quote character, with the priority the
 * passes give them when they coincide: quote, then delimiter, then line
 * feed, then carriage return. */
byte_classes make_classes(char delim, char quote)
{
	byte_classes t{};
	t.of[static_cast<unsigned char>('\r')]  = kReturn;
	t.of[static_cast<unsigned char>('\n')]  = kLineFeed;
	t.of[static_cast<unsigned char>(delim)] = kDelim;
	t.of[static_cast<unsigned char>(quote)] = kQuote;
	return t;
}

#if defined(__SSE2__)
/* The four bytes both the reader and the writer look out for (quote,
 * delimiter, line feed, carriage return), each in all sixteen lanes. */
struct special_bytes {
	__m128i k[4];

	special_bytes(char delim, char quote)
	    : k{_mm_set1_epi8(quote), _mm_set1_epi8(delim), _mm_set1_epi8('\n'), _mm_set1_epi8('\r')}
	{}

	/* Bit j set when byte j of the sixteen at p is one of the four. */
	unsigned mask16(const char *p) const
	{
		const __m128i v   = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
		const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, k[0]), _mm_cmpeq_epi8(v, k[1])),
		                                 _mm_or_si128(_mm_cmpeq_epi8(v, k[2]), _mm_cmpeq_epi8(v, k[3])));
		return static_cast<unsigned>(_mm_movemask_epi8(hit));
	}
};
#else
/* Without SSE2 the byte classes do all the work. */
struct special_bytes {
	special_bytes(char /*delim*/, char /*quote*/) {}
};
#endif

/* Finds the bytes that are not kPlain, in order. With SSE2 (every x86-64)
 * sixty-four bytes are compared with the four special bytes at a time into
 * a bit mask, and the next calls take the following special bytes from that
 * mask: a token table has a delimiter every ten bytes or so, and each one
 * then costs a bit scan instead of a fresh comparison. The table finishes
 * the tail. */
class special_finder {
  public:
	special_finder(const byte_classes &t, const char *data, size_t len, char delim, char quote)
	    : t_(t), data_(data), len_(len), special_(delim, quote)
	{}

	/* Index of the first byte at or after i that is not kPlain, or len. */
	size_t next(size_t i)
	{
#if defined(__SSE2__)
		while (i < len_) {
			if (i - base_ < 64) { /* i lies in the window of the last mask */
				const uint64_t m = mask_ & (~static_cast<uint64_t>(0) << (i - base_));
				if (m != 0)
					return base_ + static_cast<size_t>(__builtin_ctzll(m));
				i = base_ + 64;
				continue;
			}
			if (len_ - i < 64)
				break;
			base_ = i;
			mask_ = 0;
			for (size_t j = 0; j < 4; j++)
				mask_ |= static_cast<uint64_t>(special_.mask16(data_ + i + 16 * j)) << (16 * j);
		}
#endif
		while (i < len_ && t_.of[static_cast<unsigned char>(data_[i])] == kPlain)
			i++;
		return i;
	}

  private:
	const byte_classes &t_;
	const char         *data_;
	size_t              len_;
	special_bytes       special_;
#if defined(__SSE2__)
	size_t   base_ = SIZE_MAX / 2; /* the mask's window: 64 bytes from here */
	uint64_t mask_ = 0;
#endif
};

/* Index of the first quote character at or after i, or len. */
inline size_t find_quote(const char *data, size_t i, size_t len, char quote)
{
	const void *q = std::memchr(data + i, quote, len - i);
	return q == nullptr ? len : static_cast<size_t>(static_cast<const char *>(q) - data);
}

/* Sizing pass: count the rows (every line feed outside quotes ends one, and a
 * last line counts when it holds anything but carriage returns) and the
 * columns of the first line. */
grid_size size_grid(const char *data, size_t len, char delim, char quote)
{
	const byte_classes t = make_classes(delim, quote);
	special_finder     plain(t, data, len, delim, quote);
	grid_size          g{0, 0};
	bool               in_quotes  = false;
	bool               line_chars = false; /* the current line holds a byte other than CR */

	size_t i = 0;
	while (i < len) {
		const size_t next = in_quotes ? find_quote(data, i, len, quote) : plain.next(i);
		if (next != i)
			line_chars = true;
		i = next;
		if (i >= len)
			break;
		switch (t.of[static_cast<unsigned char>(data[i])]) {
			case kQuote:
				line_chars = true;
				if (i + 1 < len && data[i + 1] == quote)
					i++;
				else
					in_quotes = !in_quotes;
				break;
			case kDelim:
				line_chars = true;
				if (g.rows == 0)
					g.cols++;
				break;
			case kLineFeed:
				if (g.rows == 0)
					g.cols++;
				g.rows++;
				line_chars = false;
				break;
			default: /* kReturn */
				break;
		}
		i++;
	}
	if (line_chars) {
		if (g.rows == 0)
			g.cols++;
		g.rows++;
	}
	return g;
}

/* Unescape a quoted cell in place (see the top of this file). */
void unescape_quoted(char *cell, char quote)
{
	char *out       = cell;
	bool  in_quotes = false;
	for (char *p = cell; *p != '\0'; p++) {
		if (*p == quote) {
			if (!in_quotes) {
				in_quotes = true;
				continue;
			}
			if (p[1] == quote) {
				*out++ = quote;
				p++;
				continue;
			}
			in_quotes = false;
			continue;
		}
		*out++ = *p;
	}
	*out = '\0';
}

[[gnu::noinline]] void finish_cell_slow(char **slot, bool quoted, char quote, uint32_t flags)
{
	char *cell = *slot;
	if (quoted) {
		unescape_quoted(cell, quote);
		return;
	}
	if (flags & M_CSV_FLAG_TRIM_WHITESPACE)
		M_str_trim(cell);
	if (*cell == '\0')
		*slot = nullptr;
}

/* An unquoted cell without trimming (nearly every cell) only needs its
 * emptiness checked; that stays inline in the filling pass. */
inline void finish_cell(char **slot, bool quoted, char quote, uint32_t flags)
{
	char *cell = *slot;
	if (cell == nullptr)
		return;
	if (quoted || (flags & M_CSV_FLAG_TRIM_WHITESPACE)) {
		finish_cell_slow(slot, quoted, quote, flags);
		return;
	}
	if (*cell == '\0')
		*slot = nullptr;
}

/* Filling pass: write NULs over delimiters and line ends and point the cells
 * at their text. */
void fill_grid(char *data, size_t len, char delim, char quote, uint32_t flags, char ***cells, size_t num_rows,
               size_t num_cols)
{
	const byte_classes t = make_classes(delim, quote);
	special_finder     plain(t, data, len, delim, quote);
	size_t             row       = 0;
	size_t             col       = 0;
	bool               in_quotes = false;
	bool               quoted    = false;

	cells[0][0] = data;
	size_t i    = 0;
	while (i < len) {
		i = in_quotes ? find_quote(data, i, len, quote) : plain.next(i);
		if (i >= len)
			break;
		switch (t.of[static_cast<unsigned char>(data[i])]) {
			case kQuote:
				if (!in_quotes) {
					in_quotes = true;
					quoted    = true;
				} else if (i + 1 < len && data[i + 1] == quote) {
					i++;
				} else {
					in_quotes = false;
				}
				break;
			case kDelim:
				data[i] = '\0';
				if (col < num_cols)
					finish_cell(&cells[row][col], quoted, quote, flags);
				col++;
				if (col < num_cols)
					cells[row][col] = data + i + 1;
				quoted = false;
				break;
			case kLineFeed:
				data[i] = '\0';
				if (col < num_cols)
					finish_cell(&cells[row][col], quoted, quote, flags);
				row++;
				if (row >= num_rows)
					return;
				cells[row][0] = data + i + 1;
				col           = 0;
				quoted        = false;
				break;
			default: /* kReturn */
				data[i] = '\0';
				break;
		}
		i++;
	}
	if (row < num_rows && col < num_cols)
		finish_cell(&cells[row][col], quoted, quote, flags);
}

/* The header row given as names: one block holding a copy of each name, the
 * cells of row 0 pointing into it. An empty name gives an absent cell, as it
 * would written out as an unquoted empty field and parsed back. */
char *copy_names(const M_list_str_t *headers, char **row0)
{
	const size_t n     = M_list_str_len(headers);
	size_t       total = 0;
	for (size_t c = 0; c < n; c++)
		total += M_str_len(M_list_str_at(headers, c)) + 1;
	auto  *names = static_cast<char *>(M_malloc(total));
	size_t at    = 0;
	for (size_t c = 0; c < n; c++) {
		const char  *name = M_list_str_at(headers, c);
		const size_t len  = M_str_len(name);
		if (len == 0)
			continue;
		std::memcpy(names + at, name, len + 1);
		row0[c] = names + at;
		at += len + 1;
	}
	return names;
}

/* Parse a NUL-terminated text in place. With a non-empty list of headers the
 * names are the header row and every line of the text is a data row;
 * otherwise the text's first line is the header row. The table refers to
 * data but does not own it (the caller sets owns_data). */
M_csv_t *parse_text(char *data, size_t len, char delim, char quote, uint32_t flags, const M_list_str_t *headers)
{
	const size_t given = headers == nullptr ? 0 : M_list_str_len(headers);
	grid_size    g     = size_grid(data, len, delim, quote);
	const size_t first = given == 0 ? 0 : 1; /* the grid row the text starts in */
	if (given != 0) {
		g.rows += 1;
		g.cols = given;
	}
	if (g.rows == 0 || g.cols == 0)
		return nullptr;

	/* rows * (cols + 1) pointers: the row array, then every row's cells. */
	if (g.cols >= SIZE_MAX / sizeof(char *) || g.rows > SIZE_MAX / sizeof(char *) / (g.cols + 1))
		return nullptr;
	auto **block = static_cast<char **>(M_malloc_zero(g.rows * (g.cols + 1) * sizeof(char *)));
	if (block == nullptr)
		return nullptr;
	auto ***cells = reinterpret_cast<char ***>(block);
	char  **cell0 = block + g.rows;
	for (size_t r = 0; r < g.rows; r++)
		cells[r] = cell0 + r * g.cols;

	auto *csv  = static_cast<M_csv_t *>(M_malloc_zero(sizeof(M_csv_t)));
	csv->names = given == 0 ? nullptr : copy_names(headers, cells[0]);
	if (g.rows > first)
		fill_grid(data, len, delim, quote, flags, cells + first, g.rows - first, g.cols);

	csv->cells      = cells;
	csv->num_rows   = g.rows;
	csv->num_cols   = g.cols;
	csv->data       = data;
	csv->delim      = delim;
	csv->quote      = quote;
	csv->header_idx = M_hash_stridx_create(2 * g.cols, 75, M_HASH_STRIDX_CASECMP);
	for (size_t c = 0; c < g.cols; c++) {
		const char *name = cells[0][c];
		if (name != nullptr && *name != '\0')
			M_hash_stridx_insert(csv->header_idx, name, c);
	}
	return csv;
}

/* Parse a copy of len bytes of data, which the table then owns. */
M_csv_t *parse_copy(const char *data, size_t len, char delim, char quote, uint32_t flags, const M_list_str_t *headers)
{
	if (data == nullptr || len == 0 || len == SIZE_MAX)
		return nullptr;
	auto *copy = static_cast<char *>(M_malloc(len + 1));
	std::memcpy(copy, data, len);
	copy[len]    = '\0';
	M_csv_t *csv = parse_text(copy, len, delim, quote, flags, headers);
	if (csv == nullptr) {
		M_free(copy);
		return nullptr;
	}
	csv->owns_data = true;
	return csv;
}

/* What the output side needs to know of each byte (the kernel's quoting
 * classes), worked out once per call instead of with four comparisons and
 * two class look-ups per cell. */
constexpr unsigned char kOutSpace = m::detail::kQuoteEdge;
constexpr unsigned char kOutBreak = m::detail::kQuoteBreak;
constexpr unsigned char kOutQuote = m::detail::kQuoteChar;

struct out_chars {
	unsigned char of[256];
	char          delim;
	char          quote;
};

out_chars make_out_chars(char delim, char quote)
{
	out_chars                     oc{};
	const m::detail::QuoteClasses classes = m::detail::quote_classes(delim, quote, '\0');
	std::memcpy(oc.of, classes.of, sizeof(oc.of));
	oc.delim = delim;
	oc.quote = quote;
	return oc;
}

/* Output goes straight into the caller's buffer through a direct-write
 * window at its end: an append call per cell cost more than the cell
 * itself, so cells are written into the window and the buffer's length is
 * settled only when the window closes (before a cell writer or a row end
 * needs the buffer, and at the end of the call). */
struct out_window {
	M_buf_t       *buf;
	unsigned char *start = nullptr; /* the window, NULL while closed */
	unsigned char *pos   = nullptr; /* next byte to write */
	size_t         room  = 0;       /* bytes the window holds from start */
};

void window_close(out_window &w)
{
	if (w.start != nullptr)
		M_buf_direct_write_end(w.buf, static_cast<size_t>(w.pos - w.start));
	w.start = nullptr;
	w.pos   = nullptr;
	w.room  = 0;
}

/* Room for n more bytes at the window's position; NULL when the buffer
 * cannot grow that far. */
unsigned char *window_room(out_window &w, size_t n)
{
	if (w.start != nullptr && w.room - static_cast<size_t>(w.pos - w.start) >= n)
		return w.pos;
	window_close(w);
	size_t want = n < 4096 ? 4096 : n;
	w.start     = M_buf_direct_write_start(w.buf, &want);
	w.pos       = w.start;
	w.room      = w.start == nullptr ? 0 : want;
	return w.start;
}

/* How a cell is written: whether it is quoted, and how many quote
 * characters it holds (each written twice). */
struct cell_shape {
	bool   quoted;
	size_t quotes;
};

[[gnu::always_inline]] inline cell_shape shape_of(const char *cell, size_t len, const out_chars &oc)
{
	const char delim = oc.delim;
	const char quote = oc.quote;
	if (cell == nullptr || len == 0)
		return {false, 0};

	bool needs_quotes =
	    ((oc.of[static_cast<unsigned char>(cell[0])] | oc.of[static_cast<unsigned char>(cell[len - 1])]) & kOutSpace) !=
	    0;
	size_t quotes = 0;
	size_t i      = 0;
#if defined(__SSE2__)
	/* Most cells hold none of the four bytes: pass sixteen at a time and
	 * leave the classification of a block with a hit to the loop below. */
	{
		const special_bytes special(delim, quote);
		while (len - i >= 16 && special.mask16(cell + i) == 0)
			i += 16;
	}
#else
	(void)delim;
	(void)quote;
#endif
	for (; i < len; i++) {
		const unsigned char k = oc.of[static_cast<unsigned char>(cell[i])];
		if (k & kOutQuote) {
			quotes++;
			needs_quotes = true;
		} else if (k & kOutBreak) {
			needs_quotes = true;
		}
	}
	return {needs_quotes, quotes};
}

/* Write what follows a cell at out: the delimiter, or CR LF after the last
 * cell of a row. Returns the position after it. */
unsigned char *end_cell(unsigned char *out, const out_chars &oc, bool last)
{
	if (last) {
		*out++ = '\r';
		*out++ = '\n';
	} else {
		*out++ = static_cast<unsigned char>(oc.delim);
	}
	return out;
}

/* Write one cell followed by the delimiter, or by CR LF when it is the last
 * of its row, quoting it when needed. */
void write_cell(out_window &w, const char *cell, size_t len, const out_chars &oc, bool last)
{
	if (cell == nullptr)
		len = 0;
	const cell_shape shape = shape_of(cell, len, oc);
	const size_t     wrap  = shape.quoted ? 2 : 0;
	unsigned char   *out   = window_room(w, len + shape.quotes + wrap + (last ? 2 : 1));
	if (out == nullptr)
		return;
	if (shape.quoted)
		*out++ = static_cast<unsigned char>(oc.quote);
	if (shape.quotes == 0) {
		if (len != 0)
			std::memcpy(out, cell, len);
		out += len;
	} else {
		for (size_t j = 0; j < len; j++) {
			*out++ = static_cast<unsigned char>(cell[j]);
			if (cell[j] == oc.quote)
				*out++ = static_cast<unsigned char>(oc.quote);
		}
	}
	if (shape.quoted)
		*out++ = static_cast<unsigned char>(oc.quote);
	w.pos = end_cell(out, oc, last);
}

void write_cell_str(out_window &w, const char *cell, const out_chars &oc, bool last)
{
	write_cell(w, cell, cell == nullptr ? 0 : std::strlen(cell), oc, last);
}

/* A row of no cells: what the cell writer would have ended it with. */
void end_empty_row(M_buf_t *buf)
{
	const size_t len = M_buf_len(buf);
	if (len > 0)
		M_buf_truncate(buf, len - 1);
	M_buf_add_bytes(buf, "\r\n", 2);
}

/* The cell a writer appended to the buffer from mark on, ended like any
 * other cell. One that needs quotes (rare: rewritten cells are digits and
 * dates) is written again, quoted, from a copy. */
void finish_written_cell(out_window &w, size_t mark, const out_chars &oc, bool last)
{
	const size_t len  = M_buf_len(w.buf) - mark;
	const char  *cell = len == 0 ? nullptr : M_buf_peek(w.buf) + mark;
	if (!shape_of(cell, len, oc).quoted) {
		unsigned char *out = window_room(w, 2);
		if (out != nullptr)
			w.pos = end_cell(out, oc, last);
		return;
	}
	auto *copy = static_cast<char *>(M_memdup(cell, len));
	M_buf_truncate(w.buf, mark);
	write_cell(w, copy, len, oc, last);
	M_free(copy);
}

/* One output cell through a writer that appends to the output itself: the
 * window is closed so the buffer's length is exact, and what the writer
 * appended is the cell, or is dropped when it declines. */
void write_through(out_window &w, const char *cell, const char *name, M_csv_cell_writer_cb writer, void *thunk,
                   const out_chars &oc, bool last)
{
	window_close(w);
	const size_t mark = M_buf_len(w.buf);
	if (writer(w.buf, cell, name, thunk)) {
		finish_written_cell(w, mark, oc, last);
		return;
	}
	M_buf_truncate(w.buf, mark);
	write_cell_str(w, cell, oc, last);
}

/* A writer of the scratch-buffer kind, handed an empty scratch buffer and
 * its result appended to the output. */
struct scratch_writer {
	M_csv_cell_writer_cb writer;
	void                *thunk;
	M_buf_t             *scratch;
};

M_bool write_via_scratch(M_buf_t *out, const char *cell, const char *header, void *thunk)
{
	auto *s = static_cast<scratch_writer *>(thunk);
	if (s->scratch == nullptr)
		s->scratch = M_buf_create();
	M_buf_truncate(s->scratch, 0);
	if (!s->writer(s->scratch, cell, header, s->thunk))
		return M_FALSE;
	M_buf_add_bytes(out, M_buf_peek(s->scratch), M_buf_len(s->scratch));
	return M_TRUE;
}

bool list_empty(const M_list_str_t *headers)
{
	return headers == nullptr || M_list_str_len(headers) == 0;
}

} // namespace

extern "C" {

M_csv_t *M_csv_parse(const char *data, size_t len, char delim, char quote, uint32_t flags)
{
	return parse_copy(data, len, delim, quote, flags, nullptr);
}

M_csv_t *M_csv_parse_inplace(char *data, size_t len, char delim, char quote, uint32_t flags)
{
	if (data == nullptr || len == 0)
		return nullptr;
	M_csv_t *csv = parse_text(data, len, delim, quote, flags, nullptr);
	if (csv != nullptr)
		csv->owns_data = true;
	return csv;
}

M_csv_t *M_csv_parse_borrow(char *data, size_t len, char delim, char quote, uint32_t flags, const M_list_str_t *headers)
{
	if (data == nullptr || len == 0)
		return nullptr;
	return parse_text(data, len, delim, quote, flags, headers);
}

M_csv_t *M_csv_parse_add_headers(const char *data, size_t len, char delim, char quote, uint32_t flags,
                                 const M_list_str_t *headers)
{
	return parse_copy(data, len, delim, quote, flags, headers);
}

void M_csv_destroy(M_csv_t *csv)
{
	if (csv == nullptr)
		return;
	M_hash_stridx_destroy(csv->header_idx);
	M_free(csv->cells);
	M_free(csv->names);
	if (csv->owns_data)
		M_free(csv->data);
	M_free(csv);
}

size_t M_csv_raw_num_rows(const M_csv_t *csv)
{
	return csv == nullptr ? 0 : csv->num_rows;
}

size_t M_csv_raw_num_cols(const M_csv_t *csv)
{
	return csv == nullptr ? 0 : csv->num_cols;
}

const char *M_csv_raw_cell(const M_csv_t *csv, size_t row, size_t col)
{
	if (csv == nullptr || row >= csv->num_rows || col >= csv->num_cols)
		return nullptr;
	return csv->cells[row][col];
}

size_t M_csv_get_numrows(const M_csv_t *csv)
{
	if (csv == nullptr || csv->num_rows == 0)
		return 0;
	return csv->num_rows - 1;
}

size_t M_csv_get_numcols(const M_csv_t *csv)
{
	return M_csv_raw_num_cols(csv);
}

const char *M_csv_get_cellbynum(const M_csv_t *csv, size_t row, size_t col)
{
	if (csv == nullptr || row == SIZE_MAX)
		return nullptr;
	return M_csv_raw_cell(csv, row + 1, col);
}

const char *M_csv_get_header(const M_csv_t *csv, size_t col)
{
	return M_csv_raw_cell(csv, 0, col);
}

size_t M_csv_get_cell_num(const M_csv_t *csv, const char *colname)
{
	size_t col = 0;
	if (csv == nullptr || colname == nullptr || !M_hash_stridx_get(csv->header_idx, colname, &col))
		return kNoColumn;
	return col;
}

const char *M_csv_get_cell(const M_csv_t *csv, size_t row, const char *colname)
{
	const size_t col = M_csv_get_cell_num(csv, colname);
	if (col == kNoColumn)
		return nullptr;
	return M_csv_get_cellbynum(csv, row, col);
}

void M_csv_output_set_control_chars(M_csv_t *csv, char delim, char quote)
{
	if (csv == nullptr)
		return;
	csv->delim = delim;
	csv->quote = quote;
}

void M_csv_output_headers_buf(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers)
{
	if (buf == nullptr || csv == nullptr)
		return;
	const out_chars oc = make_out_chars(csv->delim, csv->quote);
	out_window      w{buf};
	if (list_empty(headers)) {
		for (size_t c = 0; c < csv->num_cols; c++)
			write_cell_str(w, csv->cells[0][c], oc, c + 1 == csv->num_cols);
		window_close(w);
		if (csv->num_cols == 0)
			end_empty_row(buf);
	} else {
		const size_t n = M_list_str_len(headers);
		for (size_t i = 0; i < n; i++)
			write_cell_str(w, M_list_str_at(headers, i), oc, i + 1 == n);
		window_close(w);
	}
}

void M_csv_output_rows_buf_direct(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers,
                                  M_csv_row_filter_cb filter, void *filter_thunk, M_csv_cell_writer_cb writer,
                                  void *writer_thunk)
{
	if (buf == nullptr || csv == nullptr || csv->num_rows < 2)
		return;

	/* The output columns: the table's own, or the listed names resolved once
	 * (the table cannot change while it is written). */
	const bool   all_cols = list_empty(headers);
	const size_t num_out  = all_cols ? csv->num_cols : M_list_str_len(headers);
	size_t       stack_map[64];
	size_t      *col_map = stack_map;
	if (!all_cols && num_out > M_ARRAY_LEN(stack_map))
		col_map = static_cast<size_t *>(M_malloc(num_out * sizeof(*col_map)));
	if (!all_cols) {
		for (size_t i = 0; i < num_out; i++)
			col_map[i] = M_csv_get_cell_num(csv, M_list_str_at(headers, i));
	}

	const out_chars oc = make_out_chars(csv->delim, csv->quote);
	out_window      w{buf};
	for (size_t row = 0; row + 1 < csv->num_rows; row++) {
		if (filter != nullptr && !filter(csv, row, filter_thunk))
			continue;
		char **cells = csv->cells[row + 1];
		for (size_t i = 0; i < num_out; i++) {
			const size_t col  = all_cols ? i : col_map[i];
			const char  *cell = col == kNoColumn ? nullptr : cells[col];
			const bool   last = i + 1 == num_out;
			if (writer != nullptr)
				write_through(w, cell, all_cols ? csv->cells[0][i] : M_list_str_at(headers, i), writer, writer_thunk,
				              oc, last);
			else
				write_cell_str(w, cell, oc, last);
		}
		if (num_out == 0) {
			window_close(w);
			end_empty_row(buf);
		}
	}
	window_close(w);
	if (col_map != stack_map)
		M_free(col_map);
}

void M_csv_output_rows_buf(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers, M_csv_row_filter_cb filter,
                           void *filter_thunk, M_csv_cell_writer_cb writer, void *writer_thunk)
{
	if (writer == nullptr) {
		M_csv_output_rows_buf_direct(buf, csv, headers, filter, filter_thunk, nullptr, nullptr);
		return;
	}
	scratch_writer s{writer, writer_thunk, nullptr};
	M_csv_output_rows_buf_direct(buf, csv, headers, filter, filter_thunk, write_via_scratch, &s);
	M_buf_cancel(s.scratch);
}

} // extern "C"
