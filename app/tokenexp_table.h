/* Token selection: which rows go into the token table and how their token
 * and date cells are written, and the joining of many parsed blocks into one
 * table. */
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
 * outlive it. headers: the header row of a continuation block, which has
 * none of its own; NULL (or empty) for a block that starts its section.
 * Returns the parsed block, or NULL when the text holds no table. */
M_csv_t *tokenexp_parse_block(char *csv, size_t len, const M_list_str_t *headers);

/* Append to out the data rows of a parsed block that opts' filter keeps, in
 * the given columns (matched by name; a column the block lacks is written
 * empty), with the token and date cells rewritten straight into out, as CSV
 * with "," and the double quote. */
void tokenexp_append_rows(M_buf_t *out, M_csv_t *block, const M_list_str_t *columns, tokenexp_opts_t *opts);

/* Table building state, owned by the run. */
struct tokenexp_table_t {
	M_buf_t                 *table = nullptr; /* the CSV token table being built (the caller's) */
	tokenexp_opts_t         *opts  = nullptr; /* filter settings */
	tokenexp::list_str_guard headers;         /* columns of the table: the first block's header row */
	tokenexp::list_str_guard section_headers; /* header row of the current section's first block */
};

/* Parse one block's CSV text in place and append its rows. The first block
 * of a section carries its own header row; continuation blocks are parsed
 * with the header row of their section's first block (with the table's
 * columns when that block held no table). The first block of the run fixes
 * the table's columns and writes the header row. csv is borrowed for the
 * call only. Returns M_FALSE when the text holds no table: nothing is
 * appended, and a first block that holds none creates no column list. */
M_bool tokenexp_table_add_block(tokenexp_table_t *t, char *csv, size_t len, M_bool first_of_section);

#endif
