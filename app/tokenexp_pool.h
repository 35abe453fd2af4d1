/* The export on every processor the process may run on.
 *
 * A tour for the next reader. The calling thread reads the export file in
 * order (tokenexp_read_blocks), one export block into each free slot, and
 * queues the block's decode job. Jobs never wait for anything: a decode job
 * (Base64, decryption, inflation, and the parse of a block that starts its
 * section, whose header row is its own first line) needs only its block; a
 * row job (the parse of a continuation block with the header row it was
 * given, and the block's rows that pass the filters, written in the table's
 * columns) needs only what it was given when it was queued; a compress job
 * needs only its piece. Whatever depends on other blocks is decided in one
 * place, the in-order step, which runs under the pool's lock in file order
 * each time a job ends: it gives each block its section's header row and
 * the table's columns before it queues the block's row job, and it keeps
 * the first failure in file order, the only failure a run reports. Then the
 * sequencer, run by one thread at a time outside the lock, does in order
 * what must be done in order: it joins finished rows into the piece being
 * filled (queuing each full piece for compression) and appends compressed
 * pieces to the message, which in the integrity-protected form writes them
 * to the output at once.
 *
 * Why it cannot stall: every queued job runs to its end once a thread takes
 * it, and the in-order step and the sequencer only take what has ended; a
 * thread that finds nothing to do waits only while another thread is
 * running something, and that thread wakes it when it is done.
 *
 * Memory: slots and pieces are few (one of each per thread, and one more),
 * so a run holds a few blocks and pieces whatever the table's size; the
 * reader waits (or works) for a free slot, the sequencer for a free piece.
 * A thread count the process's memory limits cannot serve is reduced
 * (M_thread_affordable); a block larger than a thread's working set is
 * checked against what the limits leave before it is inflated.
 *
 * What comes out is what one thread gives: the same table, byte for byte,
 * the same counts and the same failure. With one thread (one processor, or
 * no thread to be had) the calling thread does all of it, between the
 * blocks it reads. */
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

/* How many threads a run uses, the calling thread included: the number of
 * processors the process may run on (M_thread_num_cpus), unless the
 * environment variable TOKENEXP_THREADS holds a number from 1 to 64, which
 * then wins (the tests run one input on one thread and on many and compare);
 * either lowered to what the process's memory limits can serve, each thread
 * with kTokenexpThreadWorkingSet (M_thread_affordable). 0 when not even one
 * thread's working set fits: the run cannot be made. Read here only. */
size_t tokenexp_thread_count(void);

/* Read the export file, decode its blocks with key, select rows by opts,
 * and put the token table into msg, piece by piece, the last piece
 * appended once the whole file was read (the caller finishes the message).
 *
 * threads:  threads to use, the calling thread included (0 counts as 1);
 *           fewer when the memory limit cannot serve them, and those that
 *           cannot be started are done without.
 * max_table: the largest table allowed (the program: kTokenexpMaxTable).
 * msg:      a message begun for the run; pieces are begun and appended to
 *           it in order.
 * totals:   blocks, sections, rows and table_len are added, each block
 *           once, in file order, as it joins the table.
 * progress: NULL, or the progress line, updated from the calling thread
 *           with the rows kept so far.
 * err:      the reason of a failure (errlen bytes).
 *
 * Returns TOKENEXP_WALK_DONE, or the first failure in file order: a
 * block's (PARSE, DECRYPT, UNCOMPRESS), TOKENEXP_WALK_TOO_LARGE for the
 * block that took the table past max_table, TOKENEXP_WALK_ENCRYPT for a
 * piece the message refused (a compressor failure, or a write of the
 * message that failed), or the reading's own (PARSE, READ) after every
 * block read. Every worker has ended and every buffer is wiped and released
 * on return. */
tokenexp_walk_result_t tokenexp_pool_run(M_fs_file_t *file, const tokenexp_export_key &key, tokenexp_opts_t *opts,
                                         size_t threads, size_t max_table, M_pgp_msg_t *msg,
                                         tokenexp_run_totals_t *totals, tokenexp_progress_t *progress, char *err,
                                         size_t errlen);

#endif
