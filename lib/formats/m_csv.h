/* CSV tables: parsing text into a grid of cells with a header index, and
 * writing tables back out as CSV.
 *
 * Parsing works in place. The text is split into cells by writing NUL bytes
 * over the delimiters and line ends; cells point into the text. A whole table
 * therefore costs one copy of the text (none for M_csv_parse_inplace and
 * M_csv_parse_borrow), one zeroed block holding the row array and all cell
 * pointers, and the header index. Row 0 is the header row; the number of
 * columns comes from it.
 *
 * Cells are either present (a NUL-terminated text, possibly empty) or absent
 * (NULL). An unquoted empty field is absent; a quoted empty field (two quote
 * characters) is present and empty. Extra fields beyond the header row's
 * column count are dropped; missing trailing fields are absent. A carriage
 * return outside quotes ends the cell's text. Malformed quoting is never an
 * error: an unbalanced quote keeps the rest of the text in one cell.
 *
 * Output writes CSV into a byte buffer with the table's output control
 * characters (initially the parse delimiter and quote character). A cell is
 * quoted when its first or last byte is whitespace or it contains the
 * delimiter, the quote character, a line feed or a carriage return; quote
 * characters inside are doubled. Every row ends with "\r\n".
 *
 * A table is immutable after parsing, except for its output control
 * characters. Cell texts stay valid until M_csv_destroy.
 */
#ifndef M_CSV_H
#define M_CSV_H

#include "core/m_defs.h"
#include "core/m_buf.h"
#include "containers/m_list_str.h"

M_BEGIN_DECLS

/* A parsed CSV table (opaque). */
struct M_csv;
typedef struct M_csv M_csv_t;

/* Parse flags. */
typedef enum {
	M_CSV_FLAG_NONE            = 0, /* cells are taken as they stand */
	M_CSV_FLAG_TRIM_WHITESPACE = 1  /* trim leading and trailing whitespace of unquoted cells */
} M_csv_flags_t;

/* Row filter for output: row is the data row number (0 is the first row after
 * the header row). Return M_TRUE to keep the row. */
typedef M_bool (*M_csv_row_filter_cb)(const M_csv_t *table, size_t row, void *thunk);

/* Cell writer for output: buf is an empty scratch buffer; cell is the cell's
 * text or NULL when absent; header is the column's name. Return M_TRUE to use
 * what was written into buf as the cell's text (nothing written gives an empty
 * cell); M_FALSE writes the cell unchanged and ignores buf. */
typedef M_bool (*M_csv_cell_writer_cb)(M_buf_t *buf, const char *cell, const char *header, void *thunk);

/* ---------------------------------------------------------------------------
 * Parsing
 * ------------------------------------------------------------------------- */

/* Parse a copy of len bytes of text.
 *
 * data:  the CSV text; NULL (or len 0) yields NULL. Not kept after the call.
 * delim: field delimiter; quote: quote character; flags: M_csv_flags_t.
 *
 * Returns a new table (free with M_csv_destroy) owning its own copy of the
 * text, or NULL when data is NULL, len is 0 or the text holds no row (only
 * carriage returns). */
M_API M_csv_t *M_csv_parse(const char *data, size_t len, char delim, char quote, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Parse the caller's writable text in place.
 *
 * data: text of len bytes that must hold a NUL at data[len], allocated with
 *       M_malloc. On success the table takes it over (freed by
 *       M_csv_destroy); on failure it stays the caller's. NULL yields NULL.
 *
 * Returns a new table, or NULL as for M_csv_parse. The text is modified
 * (NULs written over delimiters and line ends, quoted cells unescaped) even
 * on success. */
M_API M_csv_t *M_csv_parse_inplace(char *data, size_t len, char delim, char quote, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Parse the caller's writable text in place, borrowing it: the table
 * refers to the text and never frees it, so no copy is made.
 *
 * data:    text of len bytes that must hold a NUL at data[len]; NULL (or len
 *          0) yields NULL. It is modified (NULs written over delimiters and
 *          line ends, quoted cells unescaped), also when NULL is returned,
 *          and must stay valid and unchanged until the table is destroyed.
 * headers: column names, in order, for a text without a header row of its
 *          own: the names (copied into the table) form the header row and
 *          every line of the text is a data row, exactly as if the names had
 *          been written as one row with delim and quote (the output rule
 *          below) and parsed with the text after it. An empty name gives an
 *          absent header cell. NULL or an empty list: the text's first line
 *          is its header row. Not kept after the call.
 *
 * Returns a new table (free with M_csv_destroy before the text), or NULL
 * when data is NULL, len is 0 or, without headers, the text holds no row.
 * With headers a text of no rows gives a table of the header row alone. */
M_API M_csv_t *M_csv_parse_borrow(char *data, size_t len, char delim, char quote, uint32_t flags,
                                  const M_list_str_t *headers) M_WARN_UNUSED_RESULT;

/* Parse a copy of text that carries no header row, using headers as its
 * header row: M_csv_parse_borrow on a copy that the table owns.
 *
 * data:    the CSV text (data rows only); NULL or len 0 yields NULL.
 * headers: column names, in order, as for M_csv_parse_borrow. NULL or an
 *          empty list makes this act as M_csv_parse.
 *
 * Returns a new table owning its copy of the text (free with
 * M_csv_destroy), or NULL as for M_csv_parse. Neither data nor headers is
 * kept. */
M_API M_csv_t *M_csv_parse_add_headers(const char *data, size_t len, char delim, char quote, uint32_t flags,
                                       const M_list_str_t *headers) M_WARN_UNUSED_RESULT;

/* Free the table, its header index and its text (a borrowed text stays the
 * caller's). NULL is ignored. Every cell and header text of the table
 * becomes invalid. */
M_API void M_csv_destroy(M_csv_t *csv);

/* ---------------------------------------------------------------------------
 * Access. Every function accepts a NULL table. The raw functions count the
 * header row as row 0; the get functions count data rows from 0.
 * Returned texts point into the table and stay valid until M_csv_destroy.
 * ------------------------------------------------------------------------- */

/* Rows of the text, the header row included; 0 for NULL. */
M_API size_t M_csv_raw_num_rows(const M_csv_t *csv);

/* Columns (from the header row); 0 for NULL. */
M_API size_t M_csv_raw_num_cols(const M_csv_t *csv);

/* Cell of raw row row (0 is the header row) and column col; NULL when out of
 * range, absent, or csv is NULL.
 * NULL: yields NULL. */
M_API const char *M_csv_raw_cell(const M_csv_t *csv, size_t row, size_t col);

/* Data rows (the header row excluded); 0 for NULL or a table without rows. */
M_API size_t M_csv_get_numrows(const M_csv_t *csv);

/* Columns; 0 for NULL. */
M_API size_t M_csv_get_numcols(const M_csv_t *csv);

/* Cell of data row row and column col; NULL when row + 1 is not below the
 * row count, col is not below the column count, the cell is absent, or csv
 * is NULL.
 * NULL: yields NULL. */
M_API const char *M_csv_get_cellbynum(const M_csv_t *csv, size_t row, size_t col);

/* Header cell of column col; NULL when out of range, absent or csv is NULL.
 * NULL: yields NULL. */
M_API const char *M_csv_get_header(const M_csv_t *csv, size_t col);

/* Column number of the header name colname, compared without regard to
 * ASCII case; of two equal names the later column is found. Returns
 * (size_t)-1 when the name is unknown or csv or colname is NULL. */
M_API size_t M_csv_get_cell_num(const M_csv_t *csv, const char *colname);

/* Cell of data row row in the column named colname (case-insensitive).
 * NULL when the row is out of range, the name is unknown, the cell is
 * absent, or csv or colname is NULL.
 * NULL: yields NULL. */
M_API const char *M_csv_get_cell(const M_csv_t *csv, size_t row, const char *colname);

/* ---------------------------------------------------------------------------
 * Output. Both output functions append to buf; they never clear it. A NULL
 * buf receives nothing.
 * ------------------------------------------------------------------------- */

/* Set the table's output delimiter and quote character. NULL csv: nothing. */
M_API void M_csv_output_set_control_chars(M_csv_t *csv, char delim, char quote);

/* Append one header row: the names of headers in list order, or, when
 * headers is NULL or empty, the table's header cells in column order (an
 * absent header cell is written empty). The row ends with "\r\n".
 *
 * csv: must be a parsed table (its control characters are used); NULL
 *      writes nothing. */
M_API void M_csv_output_headers_buf(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers);

/* Append the table's data rows that pass filter, each restricted to the
 * columns named in headers (in list order; a name the table lacks gives an
 * empty cell), or to all columns when headers is NULL or empty. Each cell
 * passes through writer when one is given.
 *
 * filter: row filter, or NULL to keep every row; filter_thunk is handed to
 *         it. writer: cell writer, or NULL; writer_thunk is handed to it.
 * A NULL csv or a table without data rows writes nothing. */
M_API void M_csv_output_rows_buf(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers,
                                 M_csv_row_filter_cb filter, void *filter_thunk, M_csv_cell_writer_cb writer,
                                 void *writer_thunk);

/* As M_csv_output_rows_buf, but a cell writer writes the cell straight into
 * buf instead of a scratch buffer: it is handed buf itself, holding all the
 * output so far, and appends the cell's text to it (it must not change what
 * buf held before the call). When it returns M_TRUE the appended text is the
 * cell, quoted afterwards if the output rule requires; when it returns
 * M_FALSE whatever it appended is removed and the cell is written unchanged.
 * The output is byte for byte that of M_csv_output_rows_buf with a writer
 * that appends the same text to its scratch buffer.
 *
 * buf:    NULL receives nothing. csv: NULL or a table without data rows
 *         writes nothing. headers, filter, writer and thunks: as for
 *         M_csv_output_rows_buf.
 *
 * Invalidates pointers from M_buf_peek(buf). */
M_API void M_csv_output_rows_buf_direct(M_buf_t *buf, const M_csv_t *csv, const M_list_str_t *headers,
                                        M_csv_row_filter_cb filter, void *filter_thunk, M_csv_cell_writer_cb writer,
                                        void *writer_thunk);

M_END_DECLS

#endif /* M_CSV_H */
