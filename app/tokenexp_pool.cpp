/* Blocks decoded, and the table compressed, by jobs that never wait, the
 * books kept by the calling thread alone; see tokenexp_pool.h for the tour.
 *
 * Block n lives in slot n mod the slot count from its reading to its
 * joining; piece k (the k-th piece the message begun) in piece k mod the
 * piece count from its beginning to its appending. Three counters in file
 * order say how far the blocks have got: read, resolved (given its header
 * row and columns, its row job queued), joined; and a hold, the one block
 * whose row job must end before any later block can be resolved (a
 * continuation block read before the table has columns, whose own first
 * line then becomes its header row and may fix them). The message counts
 * the pieces. Each function that takes the mutex releases it before it
 * returns; the work on a block or a piece runs outside it. */
#include "app/tokenexp_pool.h"

#include "app/tokenexp_table.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_num.h"
#include "sys/m_thread.h"

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

/* Where a slot stands, and so who may touch the rest of it (see the tour
 * in tokenexp_pool.h). Guarded by the pool's mutex. */
enum class slot_state : uint8_t { free, decoding, decoded, writing, written };

/* One export block in flight, from its reading to its joining. */
struct slot_t {
	slot_state               state = slot_state::free;
	tokenexp_block_t         block;
	uint64_t                 seq    = kNone; /* the block's place in the file */
	tokenexp_walk_result_t   result = TOKENEXP_WALK_DONE;
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

/* Buffers of rows, last in first out; those left are released (wiped)
 * with it. */
struct buf_stack {
	struct item {
		M_buf_t *buf;
	};
	item  *items = nullptr;
	size_t count = 0;
	size_t room  = 0;

	buf_stack()                             = default;
	buf_stack(const buf_stack &)            = delete;
	buf_stack &operator=(const buf_stack &) = delete;
	~buf_stack()
	{
		while (count > 0)
			M_buf_cancel(items[--count].buf);
		M_free(items);
	}
	void push(M_buf_t *b)
	{
		if (count == room) {
			room  = room == 0 ? 8 : room * 2;
			items = static_cast<item *>(M_realloc(items, room * sizeof(item)));
		}
		items[count++].buf = b;
	}
	M_buf_t *pop()
	{
		return count > 0 ? items[--count].buf : M_buf_create();
	}
};

/* One piece of the message. Its state is the message's (M_pgp_piece_state);
 * the pool adds only the mark of a compress job holding it. The piece
 * borrows its rows from the slots' row buffers, where the row jobs wrote
 * them: a buffer whose last row it took is handed to it (owned), and goes
 * back to the spare ones, wiped, once the piece is appended, the pieces
 * before it (which may hold its first rows) having been appended first. */
struct piece_t {
	M_pgp_piece_t *piece       = M_pgp_piece_create();
	bool           compressing = false; /* a compress job holds it (guarded by the mutex) */
	bool           last        = false; /* queued as the message's last piece */
	uint64_t       through     = 0;     /* the last block whose rows it holds: where its failure stands */
	buf_stack      owned;               /* row buffers it was handed */

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

/* A job: what to do, and to which slot or piece. */
struct job_t {
	job_kind kind  = job_kind::decode;
	size_t   index = 0;
};

/* Workers take pieces first, which free the most memory (a piece's rows
 * are wiped and reused once it is appended); a calling thread that runs
 * the jobs itself takes a block's rows first, a short job that frees a
 * slot, so that it is soon back to its books, then pieces, then decoding,
 * which would only fill more memory. */
constexpr job_kind kCallerOrder[] = {job_kind::rows, job_kind::compress, job_kind::decode};
constexpr job_kind kWorkerOrder[] = {job_kind::compress, job_kind::rows, job_kind::decode};

struct pool_t {
	const tokenexp_export_key *key       = nullptr;
	tokenexp_opts_t           *opts      = nullptr;
	M_pgp_msg_t               *msg       = nullptr;
	tokenexp_run_totals_t     *totals    = nullptr;
	tokenexp_progress_t       *progress  = nullptr;
	size_t                     max_table = 0;

	size_t   nslots  = 0;
	slot_t  *slots   = nullptr;
	size_t   npieces = 0;
	piece_t *pieces  = nullptr;

	/* Guarded by mu: the slots' states, the pieces' compressing marks, the
	 * job queues, and these two flags. work_cv wakes workers when a job is
	 * queued (or the run ends); done_cv wakes the calling thread when a job
	 * has ended. */
	M_thread_mutex_t *mu      = M_thread_mutex_create();
	M_thread_cond_t  *work_cv = M_thread_cond_create();
	M_thread_cond_t  *done_cv = M_thread_cond_create();
	job_queue        *queues[3]{};            /* by job_kind */
	bool              news        = false;    /* a job ended since the calling thread last waited */
	bool              quit        = false;    /* the run is over: workers end */
	size_t            running     = 0;        /* jobs taken and not yet ended */
	size_t            max_running = SIZE_MAX; /* the processors: see tokenexp_pool_run */

	/* The calling thread's tools when it runs the jobs itself (one thread,
	 * or no worker could be started); NULL while workers run them. */
	tools_t *caller_tools = nullptr;

	/* The calling thread's books, in file order. */
	uint64_t read     = 0;     /* blocks read */
	uint64_t resolved = 0;     /* blocks given their header row and columns, their row job queued */
	uint64_t joined   = 0;     /* blocks joined to the table */
	uint64_t hold     = kNone; /* the block whose row job must fix the columns before later blocks resolve */
	bool     read_all = false; /* the reading has ended */

	tokenexp::list_str_guard section_row; /* the current section's header row (NULL: none) */
	tokenexp::list_str_guard columns;     /* the table's columns, once fixed */

	/* The first failure in file order. */
	uint64_t               fail_at = kNone;
	tokenexp_walk_result_t fail_rc = TOKENEXP_WALK_DONE;
	char                   fail_err[kErrLen]{};

	size_t    table_len = 0;
	buf_stack spare; /* row buffers for the slots, wiped */

	pool_t()                          = default;
	pool_t(const pool_t &)            = delete;
	pool_t &operator=(const pool_t &) = delete;
	~pool_t()
	{
		delete_array(slots, nslots);
		delete_array(pieces, npieces);
		for (job_queue *q : queues)
			delete_array(q, 1);
		delete_array(caller_tools, 1);
		M_thread_cond_destroy(done_cv);
		M_thread_cond_destroy(work_cv);
		M_thread_mutex_destroy(mu);
	}

	void setup(size_t threads)
	{
		/* A slot and a piece per thread, and one more of each: a block is
		 * read far faster than it is decoded, so that keeps every thread
		 * busy, and each costs a block's or a piece's memory. */
		nslots  = threads + 1;
		npieces = threads + 1;
		slots   = new_array<slot_t>(nslots);
		pieces  = new_array<piece_t>(npieces);
		for (job_kind k : {job_kind::decode, job_kind::rows, job_kind::compress}) {
			const size_t room              = k == job_kind::compress ? npieces : nslots;
			queues[static_cast<size_t>(k)] = new (M_malloc(sizeof(job_queue))) job_queue(room);
		}
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

	/* The shared state, each call taking and releasing the mutex. */
	slot_state state_of(const slot_t &s);
	void       set_state(slot_t &s, slot_state to);
	bool       compressing(const piece_t &p);
	void       queue_job(job_kind kind, size_t index);
	bool       take_job(job_t *job, const job_kind (&order)[3], bool wait);
	void       run_job(const job_t &job, tools_t &tools);

	/* The calling thread's books. */
	bool              step();
	bool              resolve();
	void              resolve_block(slot_t &s);
	bool              join_next();
	bool              append_next();
	bool              queue_last();
	piece_t          *filling_piece();
	void              queue_piece(piece_t &p, bool last);
	bool              settled();
	void              idle();
	tokenexp_block_t *next_slot();

	/* The jobs, on any thread. */
	void run_decode(slot_t &s, tools_t &tools);
	void run_rows(slot_t &s);
};

slot_state pool_t::state_of(const slot_t &s)
{
	M_thread_mutex_lock(mu);
	const slot_state st = s.state;
	M_thread_mutex_unlock(mu);
	return st;
}

void pool_t::set_state(slot_t &s, slot_state to)
{
	M_thread_mutex_lock(mu);
	s.state = to;
	M_thread_mutex_unlock(mu);
}

bool pool_t::compressing(const piece_t &p)
{
	M_thread_mutex_lock(mu);
	const bool c = p.compressing;
	M_thread_mutex_unlock(mu);
	return c;
}

/* Hand a slot or piece to a job (the calling thread): from here on only the
 * thread that runs the job touches it, until the job marks it done. */
void pool_t::queue_job(job_kind kind, size_t index)
{
	M_thread_mutex_lock(mu);
	if (kind == job_kind::compress)
		pieces[index].compressing = true;
	else
		slots[index].state = kind == job_kind::decode ? slot_state::decoding : slot_state::writing;
	queues[static_cast<size_t>(kind)]->push(index);
	M_thread_cond_signal(work_cv);
	M_thread_mutex_unlock(mu);
}

/* Take the first queued job in order's kinds; with wait, wait for one until
 * the run is over. False when there is none (or the run is over). */
bool pool_t::take_job(job_t *job, const job_kind (&order)[3], bool wait)
{
	bool got = false;
	M_thread_mutex_lock(mu);
	while (!got && !quit) {
		for (job_kind k : order) {
			if (running < max_running && (got = queues[static_cast<size_t>(k)]->pop(&job->index))) {
				job->kind = k;
				running++;
				break;
			}
		}
		if (got || !wait)
			break;
		M_thread_cond_wait(work_cv, mu);
	}
	M_thread_mutex_unlock(mu);
	return got;
}

/* Run a job and mark its slot or piece done, handing it back to the
 * calling thread, which is woken. */
void pool_t::run_job(const job_t &job, tools_t &tools)
{
	if (job.kind == job_kind::compress) {
		piece_t &p = pieces[job.index];
		/* A failure stays in the piece, and its appending fails the message. */
		(void)M_pgp_piece_compress(p.piece, tools.deflater, p.last);
	} else if (job.kind == job_kind::rows) {
		run_rows(slots[job.index]);
	} else {
		run_decode(slots[job.index], tools);
	}
	M_thread_mutex_lock(mu);
	if (job.kind == job_kind::compress)
		pieces[job.index].compressing = false;
	else
		slots[job.index].state = job.kind == job_kind::decode ? slot_state::decoded : slot_state::written;
	running--;
	news = true;
	M_thread_cond_signal(done_cv);
	M_thread_mutex_unlock(mu);
}

/* A decode job: no dependency on any other block. */
void pool_t::run_decode(slot_t &s, tools_t &tools)
{
	s.result = tools.decoder.decode(&s.block, s.err, sizeof(s.err));
	if (s.result != TOKENEXP_WALK_DONE || !s.block.first_of_section)
		return;
	s.parsed.reset(tokenexp_parse_block(reinterpret_cast<char *>(tokenexp::content_in_place(s.block.csv.get())),
	                                    M_buf_len(s.block.csv.get()), nullptr));
	if (s.parsed != nullptr) {
		s.header_row.reset(tokenexp_header_list(s.parsed.get(), M_TRUE));
		s.own_columns.reset(tokenexp_header_list(s.parsed.get(), M_FALSE));
	}
}

/* A row job: the block's rows, with what the in-order step gave it. */
void pool_t::run_rows(slot_t &s)
{
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

/* The in-order step: every block decoded and next in file order is given
 * its header row and columns, and its row job queued; the first failing
 * one ends the resolving. True when it did anything. */
bool pool_t::resolve()
{
	bool did = false;
	if (hold != kNone && state_of(slot(hold)) == slot_state::written) {
		/* The held block's own header row fixed the columns (or it held no
		 * table): later blocks can now be given them. */
		slot_t &h = slot(hold);
		if (columns == nullptr && h.own_columns != nullptr)
			columns = std::move(h.own_columns);
		hold = kNone;
		did  = true;
	}
	while (hold == kNone && resolved < read && resolved < fail_at && state_of(slot(resolved)) == slot_state::decoded) {
		slot_t &s = slot(resolved);
		if (s.result != TOKENEXP_WALK_DONE) {
			fail(resolved, s.result, s.err);
			return true;
		}
		resolve_block(s);
		queue_job(job_kind::rows, resolved % nslots);
		resolved++;
		did = true;
	}
	return did;
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

/* The piece being filled, or the next one begun; NULL when the next one's
 * place is still taken (or the message takes no more). */
piece_t *pool_t::filling_piece()
{
	const uint64_t begun = M_pgp_msg_pieces_begun(msg);
	if (begun > 0) {
		piece_t &p = piece(begun - 1);
		if (!compressing(p) && M_pgp_piece_state(p.piece) == M_PGP_PIECE_FILLING)
			return &p;
	}
	piece_t &n = piece(begun);
	if (compressing(n) || M_pgp_piece_state(n.piece) != M_PGP_PIECE_FREE)
		return nullptr;
	if (!M_pgp_msg_piece(msg, n.piece)) {
		fail(joined, TOKENEXP_WALK_ENCRYPT, "");
		return nullptr;
	}
	n.last = false;
	return &n;
}

void pool_t::queue_piece(piece_t &p, bool last)
{
	p.last    = last;
	p.through = joined;
	queue_job(job_kind::compress, static_cast<size_t>(&p - pieces));
}

/* Join the next block's rows, or as much of them as the piece being filled
 * takes. True when it did. */
bool pool_t::join_next()
{
	if (joined >= resolved || joined >= fail_at || joined == hold || state_of(slot(joined)) != slot_state::written)
		return false;
	slot_t      &s   = slot(joined);
	const size_t len = M_buf_len(s.rows.get());
	if (s.joined_len == 0 && table_len + len > max_table) {
		fail(joined, TOKENEXP_WALK_TOO_LARGE, "");
		return true;
	}
	piece_t *p = filling_piece();
	if (p == nullptr)
		return false;
	/* The piece borrows the rows where the row job wrote them. */
	s.joined_len += M_pgp_piece_add(
	    p->piece, reinterpret_cast<const unsigned char *>(M_buf_peek(s.rows.get())) + s.joined_len, len - s.joined_len);
	if (M_pgp_piece_full(p->piece))
		queue_piece(*p, false);
	if (s.joined_len == len) {
		table_len += len;
		tokenexp_totals_add_block(totals, s.block.first_of_section, &s.counts);
		p->owned.push(s.rows.release());
		s.rows.reset(spare.pop());
		set_state(s, slot_state::free);
		joined++;
	}
	return true;
}

/* Append the next piece once it is compressed, unless it stands after the
 * first failure. True when it did. */
bool pool_t::append_next()
{
	const uint64_t appended = M_pgp_msg_pieces_appended(msg);
	if (appended >= M_pgp_msg_pieces_begun(msg))
		return false;
	piece_t &p = piece(appended);
	if (compressing(p) || M_pgp_piece_state(p.piece) != M_PGP_PIECE_COMPRESSED || p.through >= fail_at)
		return false;
	if (!M_pgp_msg_append(msg, p.piece))
		fail(p.through, TOKENEXP_WALK_ENCRYPT, "");
	/* Its rows are compressed, and the pieces before it appended. */
	while (p.owned.count > 0) {
		M_buf_t *b = p.owned.pop();
		M_buf_truncate(b, 0);
		spare.push(b);
	}
	return true;
}

/* Once every block has joined: queue the piece being filled (or an empty
 * one) as the last. True when it did. */
bool pool_t::queue_last()
{
	const uint64_t begun = M_pgp_msg_pieces_begun(msg);
	if (!read_all || fail_at != kNone || joined != read || (begun > 0 && piece(begun - 1).last))
		return false;
	piece_t *p = filling_piece();
	if (p == nullptr)
		return false;
	queue_piece(*p, true);
	return true;
}

/* One round of the books; true when anything moved. */
bool pool_t::step()
{
	const uint64_t failed_at = fail_at;
	bool           did       = resolve();
	did                      = append_next() || did;
	did                      = join_next() || did;
	did                      = queue_last() || did;
	return did || fail_at != failed_at;
}

/* Whether the run's outcome is decided: the last piece appended; or, after
 * a failure, every block before it joined and every piece before it
 * appended (a piece queued before it still due may fail earlier). */
bool pool_t::settled()
{
	if (!read_all)
		return false;
	if (fail_at == kNone)
		return M_pgp_msg_last_appended(msg);
	if (joined < fail_at)
		return false;
	const uint64_t appended = M_pgp_msg_pieces_appended(msg);
	if (appended >= M_pgp_msg_pieces_begun(msg))
		return true;
	const piece_t &p = piece(appended);
	return (!compressing(p) && M_pgp_piece_state(p.piece) == M_PGP_PIECE_FILLING) || p.through >= fail_at;
}

/* Nothing to do on the books: run a queued job (with no worker to run it),
 * or wait for one to end. */
void pool_t::idle()
{
	job_t job;
	if (caller_tools != nullptr && take_job(&job, kCallerOrder, false)) {
		run_job(job, *caller_tools);
		return;
	}
	M_thread_mutex_lock(mu);
	if (!news)
		M_thread_cond_wait(done_cv, mu);
	news = false;
	M_thread_mutex_unlock(mu);
}

/* The reader's next slot, once one is free; NULL once a failure has made
 * the rest of the file moot. */
tokenexp_block_t *pool_t::next_slot()
{
	while (fail_at == kNone) {
		slot_t &s = slot(read);
		if (state_of(s) == slot_state::free) {
			s.reset();
			return &s.block;
		}
		if (!step())
			idle();
	}
	return nullptr;
}

void *worker_main(void *arg)
{
	auto   *pool = static_cast<pool_t *>(arg);
	tools_t tools(*pool->key);
	job_t   job;
	while (pool->take_job(&job, kWorkerOrder, true))
		pool->run_job(job, tools);
	return nullptr;
}

/* The reader's callbacks, on the calling thread; the thunk is the pool. */
tokenexp_block_t *reader_slot(void *thunk)
{
	return static_cast<pool_t *>(thunk)->next_slot();
}

tokenexp_walk_result_t reader_read(tokenexp_block_t * /*block*/, char * /*err*/, size_t /*errlen*/, void *thunk)
{
	auto *pool                 = static_cast<pool_t *>(thunk);
	pool->slot(pool->read).seq = pool->read;
	pool->queue_job(job_kind::decode, pool->read % pool->nslots);
	pool->read++;
	return TOKENEXP_WALK_DONE;
}

void reader_progress(uint64_t bytes_read, void *thunk)
{
	const auto *pool = static_cast<const pool_t *>(thunk);
	tokenexp_progress_update(pool->progress, bytes_read, pool->totals->rows.kept);
}

/* The reading has ended with rc: its own failure stands after every block
 * read. Then keep the books (and run jobs) until the outcome is settled. */
void finish_run(pool_t &pool, tokenexp_walk_result_t rc, const char *err)
{
	pool.read_all = true;
	if (rc != TOKENEXP_WALK_DONE && rc != TOKENEXP_WALK_STOPPED)
		pool.fail(pool.read, rc, err);
	while (!pool.settled()) {
		if (!pool.step())
			pool.idle();
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
	/* No more jobs run at once than there are processors to run them: more
	 * would take the processors by turns, each evicting the others'
	 * compressor tables from the caches (eight threads on two processors
	 * took a fifth longer than two). The other workers wait for a turn. */
	pool.max_running = M_thread_num_cpus();

	/* With two threads or more, one worker per thread runs the jobs and the
	 * calling thread only keeps the books: a job it ran itself (a piece's
	 * compression takes as long as a dozen blocks' decoding) would leave the
	 * workers without new jobs until it ended. Its books cost a few percent
	 * of one processor. */
	M_thread_t *workers[kMaxThreads] = {nullptr};
	bool        any_worker           = false;
	for (size_t i = 0; threads > 1 && i < threads; i++) {
		workers[i] = M_thread_start(worker_main, &pool);
		any_worker = any_worker || workers[i] != nullptr;
	}
	if (!any_worker)
		pool.caller_tools = new (M_malloc(sizeof(tools_t))) tools_t(key);
	{
		char                         read_err[kErrLen] = "";
		const tokenexp_walk_result_t rc =
		    tokenexp_read_blocks(file, read_err, sizeof(read_err), reader_slot, reader_read, &pool,
		                         progress != nullptr ? reader_progress : nullptr, &totals->crlf_lines);
		finish_run(pool, rc, read_err);
	}
	/* Jobs still queued are moot; those running end before their thread. */
	M_thread_mutex_lock(pool.mu);
	pool.quit = true;
	M_thread_cond_broadcast(pool.work_cv);
	M_thread_mutex_unlock(pool.mu);
	for (M_thread_t *w : workers)
		(void)M_thread_join(w);

	totals->table_len = pool.table_len;
	if (pool.fail_at == kNone)
		return TOKENEXP_WALK_DONE;
	M_str_cpy(err, errlen, pool.fail_err);
	return pool.fail_rc;
}
