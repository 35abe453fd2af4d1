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

#include <cstring>

struct M_csv {
	char           ***cells;      /* num_rows row arrays of num_cols cells; one block */
	size_t            num_rows;   /* rows of the text, the header row included */
	size_t            num_cols;   /* columns, from the header row */
	char             *data;       /* the parsed text; cells point into it */
	char              delim;      /* output delimiter */
	char              quote;      /* output quote character */
	M_hash_stridx_t  *header_idx; /* header name to column, case-insensitive */
};

namespace {

constexpr size_t kNoColumn = static_cast<size_t>(-1);

struct grid_size {
	size_t rows;
	size_t cols;
};

/* Sizing pass: count the rows (every line feed outside quotes ends one, and a
 * last line counts when it holds anything but carriage returns) and the
 * columns of the first line. */
grid_size size_grid(const char *data, size_t len, char delim, char quote)
{
	grid_size g{0, 0};
	bool      in_quotes  = false;
	size_t    line_chars = 0;

	for (size_t i = 0; i < len; i++) {
		const char c = data[i];
		if (c == quote) {
			if (i + 1 < len && data[i + 1] == quote) {
				line_chars += 2;
				i++;
				continue;
			}
			line_chars++;
			in_quotes = !in_quotes;
			continue;
		}
		if (in_quotes) {
			line_chars++;
			continue;
		}
		if (c == delim) {
			line_chars++;
			if (g.rows == 0)
				g.cols++;
		} else if (c == '\n') {
			if (g.rows == 0)
				g.cols++;
			g.rows++;
			line_chars = 0;
		} else if (c != '\r') {
			line_chars++;
		}
	}
	if (line_chars > 0) {
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

void finish_cell(char **slot, bool quoted, char quote, uint32_t flags)
{
	char *cell = *slot;
	if (cell == nullptr)
		return;
	if (quoted) {
		unescape_quoted(cell, quote);
		return;
	}
	if (flags & M_CSV_FLAG_TRIM_WHITESPACE)
		M_str_trim(cell);
	if (*cell == '\0')
		*slot = nullptr;
}

/* Filling pass: write NULs over delimiters and line ends and point the cells
 * at their text. */
void fill_grid(char *data, size_t len, char delim, char quote, uint32_t flags, char ***cells, size_t num_rows,
               size_t num_cols)
{
	size_t row       = 0;
	size_t col       = 0;
	bool   in_quotes = false;
	bool   quoted    = false;

	cells[0][0] = data;
	for (size_t i = 0; i < len; i++) {
		const char c = data[i];
		if (c == quote) {
			if (!in_quotes) {
				in_quotes = true;
				quoted    = true;
			} else if (i + 1 < len && data[i + 1] == quote) {
				i++;
			} else {
				in_quotes = false;
			}
			continue;
		}
		if (in_quotes)
			continue;
		if (c == delim) {
			data[i] = '\0';
			if (col < num_cols)
				finish_cell(&cells[row][col], quoted, quote, flags);
			col++;
			if (col < num_cols)
				cells[row][col] = data + i + 1;
			quoted = false;
		} else if (c == '\n') {
			data[i] = '\0';
			if (col < num_cols)
				finish_cell(&cells[row][col], quoted, quote, flags);
			row++;
			if (row >= num_rows)
				return;
			cells[row][0] = data + i + 1;
			col           = 0;
			quoted        = false;
		} else if (c == '\r') {
			data[i] = '\0';
		}
	}
	if (row < num_rows && col < num_cols)
		finish_cell(&cells[row][col], quoted, quote, flags);
}

/* Parse a NUL-terminated text in place; on success the table owns data. */
M_csv_t *parse_owned(char *data, size_t len, char delim, char quote, uint32_t flags)
{
	const grid_size g = size_grid(data, len, delim, quote);
	if (g.rows == 0 || g.cols == 0)
		return nullptr;

	/* rows * (cols + 1) pointers: the row array, then every row's cells. */
	if (g.cols >= SIZE_MAX / sizeof(char *) || g.rows > SIZE_MAX / sizeof(char *) / (g.cols + 1))
		return nullptr;
	auto **block = static_cast<char **>(M_malloc_zero(g.rows * (g.cols + 1) * sizeof(char *)));
	if (block == nullptr)
		return nullptr;
	auto ***cells = reinterpret_cast<char ***>(block);
	char  **first = block + g.rows;
	for (size_t r = 0; r < g.rows; r++)
		cells[r] = first + r * g.cols;

	fill_grid(data, len, delim, quote, flags, cells, g.rows, g.cols);

	auto *csv       = static_cast<M_csv_t *>(M_malloc_zero(sizeof(M_csv_t)));
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

/* Write one cell with its delimiter, quoting it when needed. */
void write_cell(M_buf_t *buf, const char *cell, size_t len, char delim, char quote)
{
	if (cell == nullptr || len == 0) {
		M_buf_add_byte(buf, static_cast<unsigned char>(delim));
		return;
	}

	bool needs_quotes = M_chr_isspace(cell[0]) || M_chr_isspace(cell[len - 1]);
	bool has_quote    = false;
	for (size_t i = 0; i < len; i++) {
		const char c = cell[i];
		if (c == quote) {
			has_quote    = true;
			needs_quotes = true;
			break;
		}
		if (c == delim || c == '\n' || c == '\r')
			needs_quotes = true;
	}

	if (!needs_quotes) {
		M_buf_add_bytes(buf, cell, len);
		M_buf_add_byte(buf, static_cast<unsigned char>(delim));
		return;
	}

	M_buf_add_byte(buf, static_cast<unsigned char>(quote));
	if (!has_quote) {
		M_buf_add_bytes(buf, cell, len);
	} else {
		size_t start = 0;
		for (size_t i = 0; i < len; i++) {
			if (cell[i] != quote)
				continue;
			/* Write up to and including the quote, then the quote again. */
			M_buf_add_bytes(buf, cell + start, i + 1 - start);
			M_buf_add_byte(buf, static_cast<unsigned char>(quote));
			start = i + 1;
		}
		M_buf_add_bytes(buf, cell + start, len - start);
	}
	M_buf_add_byte(buf, static_cast<unsigned char>(quote));
	M_buf_add_byte(buf, static_cast<unsigned char>(delim));
}

void write_cell_str(M_buf_t *buf, const char *cell, char delim, char quote)
{
	write_cell(buf, cell, cell == nullptr ? 0 : std::strlen(cell), delim, quote);
}

/* Replace the delimiter after a row's last cell with the line end. */
void end_row(M_buf_t *buf)
{
	const size_t len = M_buf_len(buf);
	if (len > 0)
		M_buf_truncate(buf, len - 1);
	M_buf_add_bytes(buf, "\r\n", 2);
}

bool list_empty(const M_list_str_t *headers)
{
	return headers == nullptr || M_list_str_len(headers) == 0;
}

} // namespace

extern "C" {

M_csv_t *M_csv_parse(const char *data, size_t len, char delim, char quote, uint32_t flags)
{
	if (data == nullptr || len == 0 || len == SIZE_MAX)
		return nullptr;
	auto *copy = static_cast<char *>(M_malloc(len + 1));
	std::memcpy(copy, data, len);
	copy[len]    = '\0';
	M_csv_t *csv = parse_owned(copy, len, delim, quote, flags);
	if (csv == nullptr)
		M_free(copy);
	return csv;
}

M_csv_t *M_csv_parse_inplace(char *data, size_t len, char delim, char quote, uint32_t flags)
{
	if (data == nullptr || len == 0)
		return nullptr;
	return parse_owned(data, len, delim, quote, flags);
}

M_csv_t *M_csv_parse_add_headers(const char *data, size_t len, char delim, char quote, uint32_t flags,
                                 const M_list_str_t *headers)
{
	if (data == nullptr || len == 0)
		return nullptr;
	if (list_empty(headers))
		return M_csv_parse(data, len, delim, quote, flags);

	M_buf_t     *buf = M_buf_create();
	const size_t n   = M_list_str_len(headers);
	for (size_t i = 0; i < n; i++)
		write_cell_str(buf, M_list_str_at(headers, i), delim, quote);
	end_row(buf);
	M_buf_add_bytes(buf, data, len);

	size_t   total = 0;
	char    *text  = M_buf_finish_str(buf, &total);
	M_csv_t *csv   = parse_owned(text, total, delim, quote, flags);
	if (csv == nullptr)
		M_free(text);
	return csv;
}

void M_csv_destroy(M_csv_t *csv)
{
	if (csv == nullptr)
		return;
	M_hash_stridx_destroy(csv->header_idx);
	M_free(csv->cells);
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
	if (list_empty(headers)) {
		for (size_t c = 0; c < csv->num_cols; c++)
			write_cell_str(buf, csv->cells[0][c], csv->delim, csv->quote);
	} else {
		const size_t n = M_list_str_len(headers);
		for (size_t i = 0; i < n; i++)
			write_cell_str(buf, M_list_str_at(headers, i), csv->delim, csv->quote);
	}
	end_row(buf);
}

void M_csv_output_rows_buf(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers,
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

	M_buf_t *scratch = nullptr;
	for (size_t row = 0; row + 1 < csv->num_rows; row++) {
		if (filter != nullptr && !filter(csv, row, filter_thunk))
			continue;
		char **cells = csv->cells[row + 1];
		for (size_t i = 0; i < num_out; i++) {
			size_t      col  = all_cols ? i : col_map[i];
			const char *cell = col == kNoColumn ? nullptr : cells[col];
			const char *name = all_cols ? csv->cells[0][i] : M_list_str_at(headers, i);
			if (writer != nullptr) {
				if (scratch == nullptr)
					scratch = M_buf_create();
				M_buf_truncate(scratch, 0);
				if (writer(scratch, cell, name, writer_thunk)) {
					write_cell(buf, M_buf_peek(scratch), M_buf_len(scratch), csv->delim, csv->quote);
					continue;
				}
			}
			write_cell_str(buf, cell, csv->delim, csv->quote);
		}
		end_row(buf);
	}

	M_buf_cancel(scratch);
	if (col_map != stack_map)
		M_free(col_map);
}

} // extern "C"
