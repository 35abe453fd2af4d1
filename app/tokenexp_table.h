/* Token selection: which rows go into the token table and how their token
 * and date cells are written, and the joining of many parsed blocks into one
 * table. */
#ifndef TOKENEXP_TABLE_H
#define TOKENEXP_TABLE_H

#include "app/tokenexp.h"
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

/* Table building state, owned by the run. */
typedef struct {
	M_buf_t         *table;           /* the CSV token table being built */
	M_list_str_t    *headers;         /* columns of the table: the first block's header row */
	M_list_str_t    *section_headers; /* header row of the current section's first block */
	tokenexp_opts_t *opts;            /* filter settings */
} tokenexp_table_t;

/* Parse one block's CSV text (delimiter ",", quote "`") and append its rows.
 * The first block of a section carries its own header row; continuation
 * blocks are parsed with the header row of their section's first block (with
 * the table's columns when that block held no table). The first block of the
 * run fixes the table's columns and writes the header row. Returns M_FALSE
 * when the text holds no table: nothing is appended, and a first block that
 * holds none creates no column list. */
M_bool tokenexp_table_add_block(tokenexp_table_t *t, const char *csv, size_t len, M_bool first_of_section);

/* Release the header lists (the table buffer stays the caller's). */
void tokenexp_table_clear(tokenexp_table_t *t);

#endif
