/* The export on every processor the process may run on.
 *
 * A tour for the next reader. The pool is run as an event loop runs its
 * completions: on one thread. The calling thread alone keeps the books: it
 * reads the export file in order (tokenexp_read_blocks), one export block
 * into each free slot, and queues the block's decode job; it runs the
 * in-order step; it joins finished rows into pieces (a piece borrows the
 * rows where the row job wrote them: nothing is copied) and queues each
 * full piece's compress job; it appends compressed pieces to the message,
 * which in the integrity-protected form writes them to the output at once,
 * and then wipes the rows the piece held, once, for the next blocks.
 * Worker threads only take a job, run it, mark it done and signal. With
 * two threads or more a worker runs for each, and the calling thread runs
 * no job: when its books hold nothing to do it waits for a job to end. A
 * job it ran itself (a piece's compression takes as long as a dozen
 * blocks' decoding) would leave the workers without new jobs until it
 * ended: two threads took a fifth longer on two processors that way. The
 * books cost a few percent of one processor. No more jobs run at once than
 * the process has processors (M_thread_num_cpus); further workers wait for
 * a turn, as more would only evict each other's tables from the caches.
 *
 * Jobs never wait for anything: a decode job (Base64, decryption,
 * inflation, and the parse of a block that starts its section, whose header
 * row is its own first line) needs only its block; a row job (the parse of
 * a continuation block with the header row it was given, and the block's
 * rows that pass the filters, written in the table's columns) needs only
 * what it was given when it was queued; a compress job needs only its
 * piece. Whatever depends on other blocks is decided in the in-order step,
 * in file order: it gives each decoded block its section's header row and
 * the table's columns before it queues the block's row job, and it keeps
 * the first failure in file order, the only failure a run reports.
 *
 * Who may touch what. A slot's state, and whether a piece is being
 * compressed, are guarded by the pool's one mutex; they say who owns the
 * rest of the slot or piece:
 *
 *   slot free      the calling thread: no block; the reader takes it next
 *   slot decoding  the job's thread: its decode job is queued or running
 *   slot decoded   the calling thread: waits for the in-order step
 *   slot writing   the job's thread: its row job is queued or running
 *   slot written   the calling thread: its rows wait to join the table
 *
 * A piece's states are the message's own (M_pgp_piece_state), read by the
 * calling thread only, and never while a compress job holds the piece:
 *
 *   piece free        the calling thread: new or appended; may be begun
 *   piece filling     the calling thread: begun, takes the joined rows
 *   piece compressing the job's thread: its compress job is queued or
 *                     running (the pool's mark, set when it is queued and
 *                     cleared by the job; the message calls it filling)
 *   piece compressed  the calling thread: waits to be appended in order
 *
 * A buffer of rows belongs to its slot until its last row has joined a
 * piece, then to that piece (the piece before it may borrow its first rows)
 * until the piece is appended, when the calling thread wipes it and keeps
 * it for a slot. Every piece before an appended one was appended before it,
 * so no compress job reads a buffer once it is wiped.
 *
 * The message counts the pieces (begun, appended): the pool asks it and
 * keeps no count of its own. A piece begun but never queued (the run
 * failed while it was filled) stays filling and is destroyed with the pool.
 *
 * Why it cannot stall: every queued job runs to its end once a thread takes
 * it, and the calling thread waits only when it has nothing to do, which
 * happens only while some job is queued or running: a worker (or, with no
 * worker, the calling thread itself) runs it, and it wakes the calling
 * thread when it ends.
 *
 * Memory: slots and pieces are few (one of each per thread, and one more),
 * so a run holds a few blocks and pieces whatever the table's size; the
 * reader works for a free slot, the joining for a free piece. A thread
 * count the process's memory limits cannot serve is reduced
 * (M_thread_affordable); a block larger than a thread's working set is
 * checked against what the limits leave before it is inflated.
 *
 * What comes out is what one thread gives: the same table, byte for byte,
 * the same counts and the same failure. With one thread (one processor, or
 * no worker that could be started) the calling thread runs every job
 * itself, between the blocks it reads, when its books hold nothing to do. */
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

/* How many threads run a run's jobs (one: the calling thread; more:
 * workers, beside the calling thread that keeps the books): the number of
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
 * threads:  threads to run the jobs (0 counts as 1): 1 is the calling
 *           thread, more are workers; fewer when the memory limit cannot
 *           serve them, and those that cannot be started are done without
 *           (with none, the calling thread runs the jobs).
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
