/* Blocks decoded, and the table compressed, by jobs that never wait; see
 * tokenexp_pool.h for the tour.
 *
 * Block n lives in slot n mod the slot count from its reading to its
 * joining; piece k (the k-th piece begun) in piece k mod the piece count
 * from its beginning to its appending. Four counters in file order say how
 * far each block has got: read, resolved (given its header row and columns,
 * its row job queued), joined; and a hold, the one block whose row job must
 * end before any later block can be resolved (a continuation block read
 * before the table has columns, whose own first line then becomes its
 * header row and may fix them). Two counters say the same of pieces: begun
 * and appended. One mutex and one condition variable guard every counter,
 * state and queue; the work on a block or a piece runs outside the lock, by
 * the one thread that took it. */
#include "app/tokenexp_pool.h"

#include "app/tokenexp_table.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_num.h"
#include "sys/m_thread.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t   kErrLen     = 256;
constexpr size_t   kMaxThreads = 64;
constexpr uint64_t kNone       = UINT64_MAX;

/* Working memory a thread brings to a run besides its stack. */
constexpr size_t kThreadWorkingSet = kTokenexpThreadWorkingSet;

/* One thread's tools: its decoder and its compressor. */
struct tools_t {
	tokenexp_decoder  decoder;
	M_pgp_deflater_t *deflater;

	explicit tools_t(const tokenexp_export_key &key) : decoder(key), deflater(M_pgp_deflater_create()) {}
	tools_t(const tools_t &)            = delete;
	tools_t &operator=(const tools_t &) = delete;
	~tools_t()
	{
		M_pgp_deflater_destroy(deflater);
	}
};

/* One export block in flight, from its reading to its joining. */
struct slot_t {
	tokenexp_block_t         block;
	uint64_t                 seq     = kNone; /* the block's place in the file */
	bool                     busy    = false; /* holds a block not yet joined */
	bool                     decoded = false; /* its decode job has ended */
	bool                     written = false; /* its row job has ended */
	tokenexp_walk_result_t   result  = TOKENEXP_WALK_DONE;
	char                     err[kErrLen]{};
	tokenexp::csv_guard      parsed;                 /* the block's table: parsed by the decode job when it starts its
	                                         * section, by the row job otherwise */
	tokenexp::list_str_guard header_row;             /* a section's first block: its header row, positions kept */
	tokenexp::list_str_guard own_columns;            /* the columns this block's header row would fix */
	tokenexp::list_str_guard parse_with;             /* a continuation block: the header row it is parsed with */
	const M_list_str_t      *columns      = nullptr; /* the table's columns its rows are written in */
	bool                     write_header = false;   /* it fixes the columns: the header row goes first */
	bool                     own_header   = false;   /* read before the table had columns: its own first line is
	                                                * its header row */
	tokenexp::buf_guard      rows{M_buf_create()};   /* its part of the table */
	size_t                   joined_len = 0;         /* bytes of rows joined so far */
	tokenexp_row_counts_t    counts{};

	void reset()
	{
		result       = TOKENEXP_WALK_DONE;
		err[0]       = '\0';
		decoded      = false;
		written      = false;
		write_header = false;
		own_header   = false;
		columns      = nullptr;
		joined_len   = 0;
		counts       = tokenexp_row_counts_t{};
		parsed.reset();
		header_row.reset();
		own_columns.reset();
		parse_with.reset();
	}
};

/* free: its place can take the next piece; filling: the sequencer adds
 * rows; queued: for compression, or being compressed; compressed: waiting
 * to be appended in order. */
enum class piece_state : uint8_t { free, filling, queued, compressed };

struct piece_t {
	M_pgp_piece_t *piece   = M_pgp_piece_create();
	piece_state    state   = piece_state::free;
	bool           last    = false;
	uint64_t       through = 0; /* the last block whose rows it holds: where its failure stands */

	piece_t()                           = default;
	piece_t(const piece_t &)            = delete;
	piece_t &operator=(const piece_t &) = delete;
	~piece_t()
	{
		M_pgp_piece_destroy(piece);
	}
};

/* An array of n objects in the library's memory (wiped when released). */
template <typename T>
T *new_array(size_t n)
{
	T *a = static_cast<T *>(M_malloc(sizeof(T) * n));
	for (size_t i = 0; i < n; i++)
		new (&a[i]) T();
	return a;
}

template <typename T>
void delete_array(T *a, size_t n)
{
	if (a == nullptr)
		return;
	for (size_t i = 0; i < n; i++)
		a[i].~T();
	M_free(a);
}

/* A first-in first-out queue of slot or piece numbers, each in it at most
 * once, so its room is their count. */
struct job_queue {
	size_t *items = nullptr;
	size_t  room  = 0;
	size_t  head  = 0;
	size_t  count = 0;

	explicit job_queue(size_t n) : items(static_cast<size_t *>(M_malloc(sizeof(size_t) * n))), room(n) {}
	job_queue(const job_queue &)            = delete;
	job_queue &operator=(const job_queue &) = delete;
	~job_queue()
	{
		M_free(items);
	}
	void push(size_t i)
	{
		items[(head + count++) % room] = i;
	}
	bool pop(size_t *i)
	{
		if (count == 0)
			return false;
		*i   = items[head];
		head = (head + 1) % room;
		count--;
		return true;
	}
};

enum class job_kind : uint8_t { decode, rows, compress };

struct pool_t {
	const tokenexp_export_key *key       = nullptr;
	tokenexp_opts_t           *opts      = nullptr;
	M_pgp_msg_t               *msg       = nullptr;
	tokenexp_run_totals_t     *totals    = nullptr;
	tokenexp_progress_t       *progress  = nullptr;
	size_t                     max_table = 0;

	M_thread_mutex_t *mu = M_thread_mutex_create();
	M_thread_cond_t  *cv = M_thread_cond_create();

	size_t   nslots  = 0;
	slot_t  *slots   = nullptr;
	size_t   npieces = 0;
	piece_t *pieces  = nullptr;

	/* Jobs: blocks to decode, blocks whose rows are to be written, pieces
	 * to compress. The last two free memory and go first. */
	job_queue *decode_jobs   = nullptr;
	job_queue *row_jobs      = nullptr;
	job_queue *compress_jobs = nullptr;

	/* Blocks, in file order. */
	uint64_t read     = 0;     /* blocks read */
	uint64_t resolved = 0;     /* blocks given their header row and columns */
	uint64_t joined   = 0;     /* blocks joined to the table */
	uint64_t hold     = kNone; /* the block whose columns later blocks wait for */
	bool     read_all = false; /* the reading has ended */

	tokenexp::list_str_guard section_row; /* the current section's header row (NULL: none) */
	tokenexp::list_str_guard columns;     /* the table's columns, once fixed */

	/* Pieces, in the data's order. */
	uint64_t begun       = 0;
	uint64_t appended    = 0;
	bool     filling     = false; /* piece begun - 1 is being filled */
	bool     last_queued = false;

	/* The first failure in file order. */
	uint64_t               fail_at = kNone;
	tokenexp_walk_result_t fail_rc = TOKENEXP_WALK_DONE;
	char                   fail_err[kErrLen]{};

	size_t                table_len = 0;
	std::atomic<uint64_t> kept{0}; /* rows kept so far, for the progress line */
	size_t                running    = 0;
	bool                  sequencing = false;
	bool                  quit       = false;

	pool_t()                          = default;
	pool_t(const pool_t &)            = delete;
	pool_t &operator=(const pool_t &) = delete;
	~pool_t()
	{
		delete_array(slots, nslots);
		delete_array(pieces, npieces);
		delete_array(decode_jobs, 1);
		delete_array(row_jobs, 1);
		delete_array(compress_jobs, 1);
		M_thread_cond_destroy(cv);
		M_thread_mutex_destroy(mu);
	}

	void setup(size_t threads)
	{
		/* A slot and a piece per thread, and one more of each: a block is
		 * read far faster than it is decoded, so that keeps every thread
		 * busy, and each costs a block's or a piece's memory. */
		nslots        = threads + 1;
		npieces       = threads + 1;
		slots         = new_array<slot_t>(nslots);
		pieces        = new_array<piece_t>(npieces);
		decode_jobs   = new (M_malloc(sizeof(job_queue))) job_queue(nslots);
		row_jobs      = new (M_malloc(sizeof(job_queue))) job_queue(nslots);
		compress_jobs = new (M_malloc(sizeof(job_queue))) job_queue(npieces);
	}

	slot_t &slot(uint64_t seq)
	{
		return slots[seq % nslots];
	}

	piece_t &piece(uint64_t seq)
	{
		return pieces[seq % npieces];
	}

	/* Keep a failure when it stands before every one kept so far. */
	void fail(uint64_t at, tokenexp_walk_result_t rc, const char *err)
	{
		if (at >= fail_at)
			return;
		fail_at = at;
		fail_rc = rc;
		M_str_cpy(fail_err, sizeof(fail_err), err);
	}

	void resolve();
	void resolve_block(slot_t &s);
	bool sequence_once();
	bool join_once();
	bool begin_piece();
	void queue_piece(bool last);
	bool settled() const;
	bool work(tools_t &tools, bool reader);
	bool run_one(job_kind kind, tools_t &tools);
	void after_job();
	void run_decode(slot_t &s, bool skip, tools_t &tools);
	void run_rows(slot_t &s, bool skip);
	void run_compress(piece_t &p, tools_t &tools);
};

/* The in-order step (under the lock): every block decoded and next in file
 * order is given its header row and columns, and its row job queued; the
 * first failing one ends the resolving. */
void pool_t::resolve()
{
	if (hold != kNone && slot(hold).written) {
		/* The held block's own header row fixed the columns (or it held no
		 * table): later blocks can now be given them. */
		slot_t &h = slot(hold);
		if (columns == nullptr && h.own_columns != nullptr)
			columns = std::move(h.own_columns);
		hold = kNone;
	}
	while (hold == kNone && resolved < read && resolved < fail_at && slot(resolved).decoded) {
		slot_t &s = slot(resolved);
		if (s.result != TOKENEXP_WALK_DONE) {
			fail(resolved, s.result, s.err);
			return;
		}
		resolve_block(s);
		row_jobs->push(resolved % nslots);
		resolved++;
	}
}

void pool_t::resolve_block(slot_t &s)
{
	if (s.block.first_of_section) {
		section_row = std::move(s.header_row);
		if (columns == nullptr && s.parsed != nullptr) {
			columns        = std::move(s.own_columns);
			s.write_header = true;
		}
		s.columns = columns.get();
	} else if (section_row != nullptr || columns != nullptr) {
		/* Without a header row from its section's first block (that block
		 * held no table) the table's own columns are the best guess. */
		s.parse_with.reset(M_list_str_duplicate(section_row != nullptr ? section_row.get() : columns.get()));
		s.columns = columns.get();
	} else {
		s.own_header = true;
		hold         = s.seq;
	}
}

/* A decode job: no dependency on any other block. skip: a block after a
 * failure, whose work is moot. */
void pool_t::run_decode(slot_t &s, bool skip, tools_t &tools)
{
	if (!skip) {
		s.result = tools.decoder.decode(&s.block, s.err, sizeof(s.err));
		if (s.result == TOKENEXP_WALK_DONE && s.block.first_of_section) {
			s.parsed.reset(tokenexp_parse_block(reinterpret_cast<char *>(tokenexp::content_in_place(s.block.csv.get())),
			                                    M_buf_len(s.block.csv.get()), nullptr));
			if (s.parsed != nullptr) {
				s.header_row.reset(tokenexp_header_list(s.parsed.get(), M_TRUE));
				s.own_columns.reset(tokenexp_header_list(s.parsed.get(), M_FALSE));
			}
		}
	}
	M_thread_mutex_lock(mu);
	s.decoded = true;
}

/* A row job: the block's rows, with what the in-order step gave it. */
void pool_t::run_rows(slot_t &s, bool skip)
{
	if (!skip) {
		if (!s.block.first_of_section)
			s.parsed.reset(tokenexp_parse_block(reinterpret_cast<char *>(tokenexp::content_in_place(s.block.csv.get())),
			                                    M_buf_len(s.block.csv.get()), s.parse_with.get()));
		if (s.own_header && s.parsed != nullptr) {
			s.own_columns.reset(tokenexp_header_list(s.parsed.get(), M_FALSE));
			s.columns      = s.own_columns.get();
			s.write_header = true;
		}
		M_buf_truncate(s.rows.get(), 0);
		if (s.parsed != nullptr) {
			if (s.write_header) {
				M_csv_output_set_control_chars(s.parsed.get(), ',', '"');
				M_csv_output_headers_buf(s.rows.get(), s.parsed.get(), s.columns);
			}
			s.counts = tokenexp_append_rows(s.rows.get(), s.parsed.get(), s.columns, opts);
		}
		s.parsed.reset();
	}
	M_thread_mutex_lock(mu);
	s.written = true;
}

/* A compress job: the piece alone. A failure stays in the piece, and its
 * appending fails the message. */
void pool_t::run_compress(piece_t &p, tools_t &tools)
{
	(void)M_pgp_piece_compress(p.piece, tools.deflater, p.last);
	M_thread_mutex_lock(mu);
	p.state = piece_state::compressed;
}

/* Begin the next piece (under the lock, by the sequencer); false when its
 * place is still taken by a piece not yet appended, or the message takes no
 * more. */
bool pool_t::begin_piece()
{
	piece_t &p = piece(begun);
	if (p.state != piece_state::free)
		return false;
	if (!M_pgp_msg_piece(msg, p.piece)) {
		fail(joined, TOKENEXP_WALK_ENCRYPT, "");
		return false;
	}
	p.state = piece_state::filling;
	begun++;
	filling = true;
	return true;
}

void pool_t::queue_piece(bool last)
{
	piece_t &p = piece(begun - 1);
	p.state    = piece_state::queued;
	p.last     = last;
	p.through  = joined;
	filling    = false;
	compress_jobs->push((begun - 1) % npieces);
	M_thread_cond_broadcast(cv);
}

/* Join the next block's rows, or as much of them as the piece being filled
 * takes (the sequencer, called under the lock; the copy runs outside it).
 * False when there is nothing to join now. */
bool pool_t::join_once()
{
	if (joined >= resolved || joined >= fail_at || !slot(joined).written || (!filling && !begin_piece()))
		return false;
	slot_t      &s   = slot(joined);
	const size_t len = M_buf_len(s.rows.get());
	if (s.joined_len == 0 && table_len + len > max_table) {
		fail(joined, TOKENEXP_WALK_TOO_LARGE, "");
		return false;
	}
	M_pgp_piece_t *p = piece(begun - 1).piece;
	M_thread_mutex_unlock(mu);
	s.joined_len += M_pgp_piece_add(p, reinterpret_cast<const unsigned char *>(M_buf_peek(s.rows.get())) + s.joined_len,
	                                len - s.joined_len);
	const bool full = M_pgp_piece_full(p);
	M_thread_mutex_lock(mu);
	if (full)
		queue_piece(false);
	if (s.joined_len == len) {
		table_len += len;
		tokenexp_totals_add_block(totals, s.block.first_of_section, &s.counts);
		kept.store(totals->rows.kept, std::memory_order_relaxed);
		s.busy = false;
		joined++;
		M_thread_cond_broadcast(cv);
	}
	return true;
}

/* One step of the sequencer (under the lock; the append runs outside it):
 * append the next compressed piece, else join rows, else queue the last
 * piece once every block has joined. False when none is due. */
bool pool_t::sequence_once()
{
	piece_t &next = piece(appended);
	if (appended < begun && next.state == piece_state::compressed) {
		M_thread_mutex_unlock(mu);
		const bool ok = M_pgp_msg_append(msg, next.piece);
		M_thread_mutex_lock(mu);
		if (!ok)
			fail(next.through, TOKENEXP_WALK_ENCRYPT, "");
		next.state = piece_state::free;
		appended++;
		M_thread_cond_broadcast(cv);
		return true;
	}
	if (join_once())
		return true;
	if (!read_all || joined != read || fail_at != kNone || last_queued || (!filling && !begin_piece()))
		return false;
	last_queued = true;
	queue_piece(true);
	return true;
}

/* Whether the run's outcome is decided and nothing is in flight: the last
 * piece appended, or, after a failure, every block before it joined and
 * every piece that was queued appended. */
bool pool_t::settled() const
{
	if (running != 0 || sequencing || decode_jobs->count != 0 || row_jobs->count != 0 || compress_jobs->count != 0)
		return false;
	if (fail_at == kNone)
		return last_queued && appended == begun;
	return read_all && joined >= fail_at && (appended == begun || (filling && appended + 1 == begun));
}

/* After a job has ended (under the lock): the in-order step, and the
 * sequencer when it is due and no other thread runs it. */
void pool_t::after_job()
{
	resolve();
	if (!sequencing) {
		sequencing = true;
		while (sequence_once())
			resolve();
		sequencing = false;
	}
	M_thread_cond_broadcast(cv);
}

/* Take one job of the kind and run it (under the lock); false when there
 * is none. */
bool pool_t::run_one(job_kind kind, tools_t &tools)
{
	size_t i = 0;
	if (!(kind == job_kind::compress ? compress_jobs : kind == job_kind::rows ? row_jobs : decode_jobs)->pop(&i))
		return false;
	running++;
	if (kind == job_kind::compress) {
		M_thread_mutex_unlock(mu);
		run_compress(pieces[i], tools);
	} else {
		const bool skip = slots[i].seq >= fail_at;
		M_thread_mutex_unlock(mu);
		if (kind == job_kind::rows)
			run_rows(slots[i], skip);
		else
			run_decode(slots[i], skip, tools);
	}
	running--;
	after_job();
	return true;
}

/* Take one job and run it (under the lock); false when there is none. The
 * thread that reads the file takes blocks first, whose jobs are short, so
 * that it is soon back to reading; the others take pieces first, which
 * free the most memory. Rows come before decoding: they free slots. */
bool pool_t::work(tools_t &tools, bool reader)
{
	static constexpr job_kind kReaderOrder[] = {job_kind::rows, job_kind::decode, job_kind::compress};
	static constexpr job_kind kWorkerOrder[] = {job_kind::compress, job_kind::rows, job_kind::decode};
	for (job_kind kind : reader ? kReaderOrder : kWorkerOrder) {
		if (run_one(kind, tools))
			return true;
	}
	return false;
}

void *worker_main(void *arg)
{
	auto   *pool = static_cast<pool_t *>(arg);
	tools_t tools(*pool->key);
	M_thread_mutex_lock(pool->mu);
	while (!pool->quit) {
		if (!pool->work(tools, false))
			M_thread_cond_wait(pool->cv, pool->mu);
	}
	M_thread_mutex_unlock(pool->mu);
	return nullptr;
}

/* The reader's side: a slot for the next block, working or waiting while
 * none is free; NULL once a failure has made the rest of the file moot. */
struct reader_t {
	pool_t  *pool;
	tools_t *tools;
};

tokenexp_block_t *reader_slot(void *thunk)
{
	auto   *r    = static_cast<reader_t *>(thunk);
	pool_t *pool = r->pool;
	M_thread_mutex_lock(pool->mu);
	for (;;) {
		if (pool->fail_at != kNone) {
			M_thread_mutex_unlock(pool->mu);
			return nullptr;
		}
		if (!pool->slot(pool->read).busy)
			break;
		if (!pool->work(*r->tools, true))
			M_thread_cond_wait(pool->cv, pool->mu);
	}
	slot_t &s = pool->slot(pool->read);
	s.busy    = true;
	M_thread_mutex_unlock(pool->mu);
	s.reset();
	return &s.block;
}

tokenexp_walk_result_t reader_read(tokenexp_block_t * /*block*/, char * /*err*/, size_t /*errlen*/, void *thunk)
{
	pool_t *pool = static_cast<reader_t *>(thunk)->pool;
	M_thread_mutex_lock(pool->mu);
	pool->slot(pool->read).seq = pool->read;
	pool->decode_jobs->push(pool->read % pool->nslots);
	pool->read++;
	M_thread_cond_signal(pool->cv);
	M_thread_mutex_unlock(pool->mu);
	return TOKENEXP_WALK_DONE;
}

void reader_progress(uint64_t bytes_read, void *thunk)
{
	pool_t *pool = static_cast<reader_t *>(thunk)->pool;
	tokenexp_progress_update(pool->progress, bytes_read, pool->kept.load(std::memory_order_relaxed));
}

/* The reading has ended with rc: its own failure stands after every block
 * read. Then work or wait (under the lock) until the outcome is settled. */
void finish_run(pool_t &pool, tools_t &tools, tokenexp_walk_result_t rc, const char *err)
{
	pool.read_all = true;
	if (rc != TOKENEXP_WALK_DONE && rc != TOKENEXP_WALK_STOPPED)
		pool.fail(pool.read, rc, err);
	pool.after_job();
	while (!pool.settled()) {
		if (!pool.work(tools, false))
			M_thread_cond_wait(pool.cv, pool.mu);
	}
}

} // namespace

size_t tokenexp_thread_count(void)
{
	const char *forced = getenv("TOKENEXP_THREADS");
	uint64_t    n      = 0;
	if (forced == nullptr || M_str_to_uint64_ex(forced, std::strlen(forced), 10, &n, nullptr) != M_STR_INT_SUCCESS ||
	    n < 1 || n > kMaxThreads) {
		const size_t cpus = M_thread_num_cpus();
		n                 = cpus > kMaxThreads ? kMaxThreads : cpus;
	}
	return M_thread_affordable(static_cast<size_t>(n), kThreadWorkingSet);
}

tokenexp_walk_result_t tokenexp_pool_run(M_fs_file_t *file, const tokenexp_export_key &key, tokenexp_opts_t *opts,
                                         size_t threads, size_t max_table, M_pgp_msg_t *msg,
                                         tokenexp_run_totals_t *totals, tokenexp_progress_t *progress, char *err,
                                         size_t errlen)
{
	threads = M_thread_affordable(threads == 0 ? 1 : threads > kMaxThreads ? kMaxThreads : threads, kThreadWorkingSet);
	if (threads == 0)
		threads = 1; /* the caller was told before; a block that cannot fit fails on its own */
	pool_t pool;
	pool.key       = &key;
	pool.opts      = opts;
	pool.msg       = msg;
	pool.totals    = totals;
	pool.progress  = progress;
	pool.max_table = max_table;
	pool.setup(threads);

	M_thread_t *workers[kMaxThreads] = {nullptr};
	for (size_t i = 0; i + 1 < threads; i++)
		workers[i] = M_thread_start(worker_main, &pool);
	{
		tools_t                      tools(key);
		reader_t                     reader{&pool, &tools};
		char                         read_err[kErrLen] = "";
		const tokenexp_walk_result_t rc =
		    tokenexp_read_blocks(file, read_err, sizeof(read_err), reader_slot, reader_read, &reader,
		                         progress != nullptr ? reader_progress : nullptr, &totals->crlf_lines);
		M_thread_mutex_lock(pool.mu);
		finish_run(pool, tools, rc, read_err);
		pool.quit = true;
		M_thread_cond_broadcast(pool.cv);
		M_thread_mutex_unlock(pool.mu);
	}
	for (M_thread_t *w : workers)
		(void)M_thread_join(w);

	totals->table_len = pool.table_len;
	if (pool.fail_at == kNone)
		return TOKENEXP_WALK_DONE;
	M_str_cpy(err, errlen, pool.fail_err);
	return pool.fail_rc;
}
