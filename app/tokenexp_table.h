/* Token selection: which rows go into the token table and how their token
 * and date cells are written, and the parsing of a block's text. */
#ifndef TOKENEXP_TABLE_H
#define TOKENEXP_TABLE_H

#include "app/tokenexp.h"
#include "app/tokenexp_guard.h"
#include "containers/m_list_str.h"
#include "core/m_buf.h"
#include "formats/m_csv.h"

/* Row filter: keeps a data row by merchant user and expiry range. thunk is
 * the run's tokenexp_opts_t. */
M_bool filter_cb(const M_csv_t *table, size_t row, void *thunk);

/* Per-output-call memory of the cell writer: the kind of each column name
 * seen (by the name's address, which stays put during one output call) and
 * whether the time zone setting was checked. Zero it before the call. */
typedef struct {
	const char *names[32]; /* column names seen, by address */
	uint8_t     kinds[32]; /* their kinds */
	size_t      count;     /* names held */
	M_bool      zone_ok;   /* the zone setting was checked during this call */
} tokenexp_writer_ctx_t;

/* Cell writer: appends the Luhn check digit to all-digit tokens and writes
 * the four date columns as local YYYYMMDD dates. thunk is NULL, or a zeroed
 * tokenexp_writer_ctx_t used for one output call only (it spares the name
 * comparisons and zone checks of every cell); the result is the same. */
M_bool cell_writer_cb(M_buf_t *buf, const char *cell, const char *header, void *thunk);

/* Parse one block's CSV text (delimiter ",", quote "`") in place: the
 * result borrows csv (writable, NUL-terminated at csv[len]), which must
 * outlive it. header_row: the header row of a continuation block, which has
 * none of its own; NULL (or empty) for a block whose first line is its
 * header row. Returns the parsed block, or NULL when the text holds no
 * table. */
M_csv_t *tokenexp_parse_block(char *csv, size_t len, const M_list_str_t *header_row);

/* The header row of a parsed block as a new list (free with
 * M_list_str_destroy): with keep_positions, a missing name becomes "" so
 * that positions stay those of the columns (a section's header row, for its
 * continuation blocks); without, the table's columns. */
M_list_str_t *tokenexp_header_list(const M_csv_t *csv, M_bool keep_positions);

/* The rows of one block as the row stage saw them. A stage filling it for
 * its own block (on any thread) leaves the run's totals alone; the run adds
 * each block's counts once the block has joined the table. */
struct tokenexp_row_counts_t {
	uint64_t read;      /* data rows of the block */
	uint64_t kept;      /* rows written to the table */
	uint64_t left_user; /* left out by -u (also those -s/-e would have left out) */
	uint64_t left_date; /* left out by -s/-e alone */
};

/* Add the counts of one block to a total. */
inline void tokenexp_row_counts_add(tokenexp_row_counts_t *total, const tokenexp_row_counts_t *block)
{
	total->read += block->read;
	total->kept += block->kept;
	total->left_user += block->left_user;
	total->left_date += block->left_date;
}

/* Append to out the data rows of a parsed block that pass the filters of
 * -u, -s and -e (when opts->filter is set: filter_cb's rules), in the given
 * columns (matched by name; a column the block lacks is written empty),
 * with the token and date cells rewritten straight into out, as CSV with
 * "," and the double quote. Returns the block's row counts; without a
 * filter nothing is counted row by row. */
tokenexp_row_counts_t tokenexp_append_rows(M_buf_t *out, M_csv_t *parsed, const M_list_str_t *columns,
                                           tokenexp_opts_t *opts);

#endif
