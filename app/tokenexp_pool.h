/* The export on every processor the process may run on: blocks of
 * "RECURRING" sections are decoded on a pool of workers while the file is
 * read in order on the calling thread, their rows join the token table in
 * file order, and the table is compressed piece by piece, as soon as each
 * piece is complete, on the same workers. A compressed piece's plaintext is
 * wiped and its buffer reused, so the whole table is never in memory.
 *
 * What comes out is what the one-thread walk gives: the same table, byte
 * for byte (in the message), the same counts, and the same failure: the
 * first failing block in file order decides the result and its reason, and
 * nothing after it is observable. With one thread (one processor, or no
 * thread to be had) the same code runs on the calling thread alone. */
#ifndef TOKENEXP_POOL_H
#define TOKENEXP_POOL_H

#include "app/tokenexp.h"
#include "app/tokenexp_cipher.h"
#include "app/tokenexp_export.h"
#include "app/tokenexp_report.h"
#include "fs/m_fs_file.h"
#include "pgp/pgp_encrypt.h"

/* Largest token table the program outputs (its size is counted as the rows
 * join it): "Too much card data to output" past it. */
constexpr size_t kTokenexpMaxTable = 0x7FFFFFFF;

/* Most bytes of table compressed as one piece: a piece closes before the
 * block that would take it past this size (a larger block makes a piece of
 * its own). Each piece starts the compressor afresh, which
 * costs some bytes of the message: at this size under 0.1 % on token and
 * text tables, while a few pieces in flight stay small beside the message. */
constexpr size_t kTokenexpPieceLen = size_t{5} << 20;

/* How many threads a run uses, the calling thread included: the number of
 * processors the process may run on (M_thread_num_cpus), unless the
 * environment variable TOKENEXP_THREADS holds a number from 1 to 64, which
 * then wins (the tests run one input on one thread and on many and compare).
 * Read here only. */
size_t tokenexp_thread_count(void);

/* Walk the export file as tokenexp_walk does, decoding blocks with key,
 * selecting rows by opts, and append the token table to msg in pieces.
 *
 * threads:  threads to use, the calling thread included (0 counts as 1);
 *           those that cannot be started are done without.
 * max_table: the largest table allowed (the program: kTokenexpMaxTable).
 * msg:      receives every piece of the table, in order, when the walk
 *           ends TOKENEXP_WALK_DONE and *compressed is M_TRUE.
 * totals:   blocks, sections, rows and table_len are added, each block
 *           once, in file order, as it joins the table.
 * progress: NULL, or the progress line, updated from the calling thread
 *           with the rows kept so far.
 * err:      the reason of a failure (errlen bytes).
 * compressed: M_FALSE when a piece could not be compressed or appended
 *           (the message is then unusable: "Error using PGP to encrypt
 *           output."); M_TRUE otherwise.
 *
 * Returns the result of the walk: that of the first block in file order
 * that failed, TOKENEXP_WALK_STOPPED when the table grew past
 * max_table with a block, else the reading's own result. Every
 * worker has ended and every buffer is wiped and released on return. */
tokenexp_walk_result_t tokenexp_pool_run(M_fs_file_t *file, const tokenexp_export_key &key, tokenexp_opts_t *opts,
                                         size_t threads, size_t max_table, M_pgp_msg_t *msg,
                                         tokenexp_run_totals_t *totals, tokenexp_progress_t *progress, char *err,
                                         size_t errlen, M_bool *compressed);

#endif
