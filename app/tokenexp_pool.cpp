/* Blocks decoded, and the table compressed, on a pool of workers.
 *
 * The calling thread reads the file (tokenexp_read_blocks) into slots, one
 * block a slot, handed out in file order (block n in slot n mod the slot
 * count). A worker takes the oldest queued block and runs the block path on
 * it: Base64, decryption, inflation (no dependency on other blocks), then
 * the parse, which for a continuation block needs its section's header row
 * (or the table's columns when the section's first block held no table),
 * and the row stage, which needs the table's columns (fixed by the first
 * block of the run that held a table). Both come from earlier blocks; a
 * worker waits for them. Blocks are handed out oldest first, so the oldest
 * unfinished block never waits and the pool cannot stall.
 *
 * A finished block joins the table in file order: its rows are copied into
 * the piece being filled, its counts go to the totals, and a full piece is
 * queued for compression, which workers take before any block (it frees
 * memory). Compressed pieces are appended to the message in order and their
 * plaintext buffers wiped and reused. Slots and pieces are few, so the
 * reader waits (or works) when the pool is behind: memory stays a few
 * blocks and pieces beside the compressed message.
 *
 * A failure is kept with its block's place in the file: a failure of an
 * earlier block replaces it, blocks after it are not worked on, and the
 * result is decided once every block before it has joined. One mutex and
 * one condition variable guard all shared state; the work on a block or a
 * piece runs outside the lock. */
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

/* A section's header row, shared by its blocks: resolved once the first
 * block is parsed (NULL headers when it held no table). */
struct section_t {
	tokenexp::list_str_guard headers;
	bool                     resolved = false;
	size_t                   refs     = 0;
};

enum class slot_state : uint8_t { free, reading, queued, running, done };

struct slot_t {
	tokenexp_block_t       block;
	tokenexp::buf_guard    rows{M_buf_create()}; /* the block's part of the table */
	uint64_t               seq     = 0;
	slot_state             state   = slot_state::free;
	bool                   parsed  = false;
	section_t             *section = nullptr;
	tokenexp_row_counts_t  counts{};
	tokenexp_walk_result_t result = TOKENEXP_WALK_DONE;
	char                   err[kErrLen]{};
};

enum class piece_state : uint8_t { free, filling, queued, compressing, compressed };

struct piece_t {
	tokenexp::buf_guard plain{M_buf_create()}; /* table bytes, wiped once compressed */
	M_pgp_piece_t      *packed = nullptr;      /* the compressed piece, until appended */
	piece_state         state  = piece_state::free;
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

/* One thread's tools: its decryptor and its compressor. */
struct worker_tools_t {
	tokenexp_decryptor decryptor;
	M_pgp_deflater_t  *deflater;

	explicit worker_tools_t(const tokenexp_export_key &key) : decryptor(key), deflater(M_pgp_deflater_create()) {}
	worker_tools_t(const worker_tools_t &)            = delete;
	worker_tools_t &operator=(const worker_tools_t &) = delete;
	~worker_tools_t()
	{
		M_pgp_deflater_destroy(deflater);
	}
};

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

	/* Blocks, by place in the file. */
	uint64_t   next_read   = 0; /* the next block read */
	uint64_t   next_decode = 0; /* the next block handed to a worker */
	uint64_t   next_join   = 0; /* the next block to join the table */
	uint64_t   parsed_upto = 0; /* every block before it is parsed (or failed) */
	uint64_t   end_seq     = kNone;
	section_t *current     = nullptr; /* the reader's section */

	/* The table's columns, fixed by block columns_seq. */
	tokenexp::list_str_guard columns;
	uint64_t                 columns_seq = kNone;

	/* The first failure in file order. */
	uint64_t               fail_seq = kNone;
	tokenexp_walk_result_t fail_rc  = TOKENEXP_WALK_DONE;
	char                   fail_err[kErrLen]{};

	/* Pieces, by place in the table. */
	uint64_t piece_fill   = 0; /* the piece being filled */
	uint64_t piece_next   = 0; /* the next piece to compress */
	uint64_t piece_append = 0; /* the next piece to append to the message */
	bool     pgp_failed   = false;

	size_t                table_len = 0;
	std::atomic<uint64_t> kept{0}; /* rows kept so far, for the progress line */
	size_t                running = 0;
	bool                  quit    = false;

	pool_t()                          = default;
	pool_t(const pool_t &)            = delete;
	pool_t &operator=(const pool_t &) = delete;
	~pool_t()
	{
		for (size_t i = 0; i < nslots; i++)
			release_section(slots[i].section);
		release_section(current);
		for (size_t i = 0; i < npieces; i++)
			M_pgp_piece_destroy(pieces[i].packed);
		delete_array(slots, nslots);
		delete_array(pieces, npieces);
		M_thread_cond_destroy(cv);
		M_thread_mutex_destroy(mu);
	}

	slot_t &slot(uint64_t seq)
	{
		return slots[seq % nslots];
	}

	static void release_section(section_t *&s)
	{
		if (s != nullptr && --s->refs == 0) {
			s->~section_t();
			M_free(s);
		}
		s = nullptr;
	}

	/* Whether work on block seq can stop: a block before it failed, or the
	 * run is being torn down. */
	bool abandoned(uint64_t seq) const
	{
		return fail_seq < seq || quit;
	}

	/* Whether the table's columns as block seq sees them are known: fixed by
	 * an earlier block, or every earlier block parsed without fixing them. */
	bool columns_known(uint64_t seq) const
	{
		return columns_seq < seq || parsed_upto >= seq;
	}

	void fail(uint64_t seq, tokenexp_walk_result_t rc, const char *err)
	{
		if (seq >= fail_seq)
			return;
		fail_seq = seq;
		fail_rc  = rc;
		M_str_cpy(fail_err, sizeof(fail_err), err);
	}

	void mark_parsed(slot_t &s)
	{
		s.parsed = true;
		while (parsed_upto < next_read && slot(parsed_upto).seq == parsed_upto && slot(parsed_upto).parsed)
			parsed_upto++;
	}

	void join();
	void append_pieces();
	bool take_and_run(worker_tools_t &tools);
	void run_block(slot_t &s, worker_tools_t &tools);
	void run_piece(uint64_t seq, worker_tools_t &tools);
};

/* Join every finished block that is next in file order (under the lock). */
void pool_t::join()
{
	while (next_join < fail_seq) {
		slot_t &s = slot(next_join);
		if (s.seq != next_join || s.state != slot_state::done)
			return;
		if (s.result != TOKENEXP_WALK_DONE)
			return; /* its failure is the run's */
		const size_t len = M_buf_len(s.rows.get());
		piece_t     *p   = &pieces[piece_fill % npieces];
		/* A piece is queued before the block that would take it past its
		 * size, so its buffer never grows past the size reserved for it. */
		if (p->state == piece_state::filling && M_buf_len(p->plain.get()) != 0 &&
		    M_buf_len(p->plain.get()) + len > kTokenexpPieceLen) {
			p->state = piece_state::queued;
			piece_fill++;
			p = &pieces[piece_fill % npieces];
		}
		if (p->state == piece_state::free) {
			size_t room = kTokenexpPieceLen;
			if (M_buf_direct_write_start(p->plain.get(), &room) != nullptr)
				M_buf_direct_write_end(p->plain.get(), 0);
			p->state = piece_state::filling;
		}
		if (p->state != piece_state::filling)
			return; /* every piece is in flight: go on once one is appended */
		M_buf_add_bytes(p->plain.get(), M_buf_peek(s.rows.get()), len);
		M_buf_truncate(s.rows.get(), 0);
		table_len += len;
		tokenexp_totals_add_block(totals, s.block.first_of_section, &s.counts);
		kept.store(totals->rows.kept, std::memory_order_relaxed);
		release_section(s.section);
		s.state = slot_state::free;
		if (table_len > max_table) {
			fail(next_join, TOKENEXP_WALK_STOPPED, "");
			return;
		}
		next_join++;
	}
}

/* Append the compressed pieces that are next in order (under the lock). */
void pool_t::append_pieces()
{
	while (piece_append < piece_fill) {
		piece_t &p = pieces[piece_append % npieces];
		if (p.state != piece_state::compressed)
			return;
		if (p.packed == nullptr || !M_pgp_msg_append(msg, p.packed))
			pgp_failed = true;
		p.packed = nullptr;
		p.state  = piece_state::free;
		piece_append++;
	}
}

/* Compress piece seq (taken under the lock; runs outside it). */
void pool_t::run_piece(uint64_t seq, worker_tools_t &tools)
{
	piece_t &p = pieces[seq % npieces];
	M_thread_mutex_unlock(mu);
	M_pgp_piece_t *packed = M_pgp_deflater_compress(
	    tools.deflater, reinterpret_cast<const unsigned char *>(M_buf_peek(p.plain.get())), M_buf_len(p.plain.get()));
	M_buf_truncate(p.plain.get(), 0);
	M_thread_mutex_lock(mu);
	p.packed = packed;
	p.state  = piece_state::compressed;
	append_pieces();
	join();
}

/* The block path on slot s (taken under the lock; runs outside it but for
 * the waits on earlier blocks and the publication of what it found). */
void pool_t::run_block(slot_t &s, worker_tools_t &tools)
{
	const uint64_t seq   = s.seq;
	const bool     first = s.block.first_of_section;
	if (abandoned(seq)) {
		s.state = slot_state::done;
		return;
	}
	M_thread_mutex_unlock(mu);
	s.result = tokenexp_block_decode(&s.block, &tools.decryptor, s.err, sizeof(s.err));
	M_thread_mutex_lock(mu);
	if (s.result != TOKENEXP_WALK_DONE) {
		fail(seq, s.result, s.err);
		if (first)
			s.section->resolved = true;
		mark_parsed(s);
		s.state = slot_state::done;
		return;
	}

	/* The header row a continuation block is parsed with. */
	const M_list_str_t *headers = nullptr;
	if (!first) {
		while (!s.section->resolved && !abandoned(seq))
			M_thread_cond_wait(cv, mu);
		while (s.section->headers == nullptr && !columns_known(seq) && !abandoned(seq))
			M_thread_cond_wait(cv, mu);
		if (abandoned(seq)) {
			s.state = slot_state::done;
			return;
		}
		headers = s.section->headers != nullptr ? s.section->headers.get() : columns.get();
	}
	M_thread_mutex_unlock(mu);
	tokenexp::csv_guard block(
	    tokenexp_parse_block(reinterpret_cast<char *>(tokenexp::content_in_place(s.block.csv.get())),
	                         M_buf_len(s.block.csv.get()), headers));
	tokenexp::list_str_guard section_headers(first && block != nullptr ? tokenexp_header_list(block.get(), M_TRUE)
	                                                                   : nullptr);
	M_thread_mutex_lock(mu);
	if (first) {
		s.section->headers  = std::move(section_headers);
		s.section->resolved = true;
		M_thread_cond_broadcast(cv);
	}
	while (!columns_known(seq) && !abandoned(seq))
		M_thread_cond_wait(cv, mu);
	if (abandoned(seq)) {
		s.state = slot_state::done;
		return;
	}
	bool write_header = false;
	if (columns == nullptr && block != nullptr) {
		columns.reset(tokenexp_header_list(block.get(), M_FALSE));
		columns_seq  = seq;
		write_header = true;
	}
	mark_parsed(s);
	M_thread_cond_broadcast(cv);
	const M_list_str_t *cols = columns.get();
	M_thread_mutex_unlock(mu);

	M_buf_truncate(s.rows.get(), 0);
	s.counts = tokenexp_row_counts_t{};
	if (block != nullptr) {
		if (write_header) {
			M_csv_output_set_control_chars(block.get(), ',', '"');
			M_csv_output_headers_buf(s.rows.get(), block.get(), cols);
		}
		s.counts = tokenexp_append_rows(s.rows.get(), block.get(), cols, opts);
	}
	block.reset();
	M_thread_mutex_lock(mu);
	s.state = slot_state::done;
	join();
}

/* Take one job, pieces first, and run it (under the lock); false when
 * there is none. */
bool pool_t::take_and_run(worker_tools_t &tools)
{
	if (piece_next < piece_fill && pieces[piece_next % npieces].state == piece_state::queued) {
		const uint64_t seq          = piece_next++;
		pieces[seq % npieces].state = piece_state::compressing;
		running++;
		run_piece(seq, tools);
	} else if (next_decode < next_read && slot(next_decode).state == slot_state::queued) {
		slot_t &s = slot(next_decode++);
		s.state   = slot_state::running;
		running++;
		run_block(s, tools);
	} else {
		return false;
	}
	running--;
	M_thread_cond_broadcast(cv);
	return true;
}

void *worker_main(void *arg)
{
	auto          *pool = static_cast<pool_t *>(arg);
	worker_tools_t tools(*pool->key);
	M_thread_mutex_lock(pool->mu);
	while (!pool->quit) {
		if (!pool->take_and_run(tools))
			M_thread_cond_wait(pool->cv, pool->mu);
	}
	M_thread_mutex_unlock(pool->mu);
	return nullptr;
}

/* The reader's side: a slot for the next block, working or waiting while
 * none is free; NULL once a failure has made the rest of the file moot. */
struct reader_t {
	pool_t         *pool;
	worker_tools_t *tools;
};

tokenexp_block_t *reader_slot(void *thunk)
{
	auto   *r    = static_cast<reader_t *>(thunk);
	pool_t *pool = r->pool;
	M_thread_mutex_lock(pool->mu);
	for (;;) {
		if (pool->fail_seq < pool->next_read) {
			M_thread_mutex_unlock(pool->mu);
			return nullptr;
		}
		if (pool->slot(pool->next_read).state == slot_state::free)
			break;
		if (!pool->take_and_run(*r->tools))
			M_thread_cond_wait(pool->cv, pool->mu);
	}
	slot_t &s = pool->slot(pool->next_read);
	s.state   = slot_state::reading;
	M_thread_mutex_unlock(pool->mu);
	return &s.block;
}

tokenexp_walk_result_t reader_read(tokenexp_block_t * /*block*/, char * /*err*/, size_t /*errlen*/, void *thunk)
{
	pool_t *pool = static_cast<reader_t *>(thunk)->pool;
	M_thread_mutex_lock(pool->mu);
	slot_t &s = pool->slot(pool->next_read);
	if (s.block.first_of_section || pool->current == nullptr) {
		pool_t::release_section(pool->current);
		pool->current       = new (M_malloc(sizeof(section_t))) section_t();
		pool->current->refs = 1;
		/* A block outside any section (the walk hands out none) would have
		 * no header row to wait for. */
		pool->current->resolved = !s.block.first_of_section;
	}
	pool->current->refs++;
	s.section = pool->current;
	s.seq     = pool->next_read++;
	s.parsed  = false;
	s.state   = slot_state::queued;
	M_thread_cond_broadcast(pool->cv);
	M_thread_mutex_unlock(pool->mu);
	return TOKENEXP_WALK_DONE;
}

void reader_progress(uint64_t bytes_read, void *thunk)
{
	pool_t *pool = static_cast<reader_t *>(thunk)->pool;
	tokenexp_progress_update(pool->progress, bytes_read, pool->kept.load(std::memory_order_relaxed));
}

/* After the reading: work or wait until the result is decided (under the
 * lock); the last piece is queued once every block has joined. */
void finish_run(pool_t &pool, worker_tools_t &tools, tokenexp_walk_result_t read_rc)
{
	bool flushed = false;
	for (;;) {
		const uint64_t limit = pool.fail_seq < pool.end_seq ? pool.fail_seq : pool.end_seq;
		if (pool.next_join >= limit) {
			if (pool.fail_seq != kNone || read_rc != TOKENEXP_WALK_DONE || pool.pgp_failed)
				return;
			if (!flushed) {
				piece_t &p = pool.pieces[pool.piece_fill % pool.npieces];
				if (p.state == piece_state::filling) {
					p.state = piece_state::queued;
					pool.piece_fill++;
				}
				flushed = true;
				M_thread_cond_broadcast(pool.cv);
			}
			if (pool.piece_append == pool.piece_fill)
				return;
		}
		if (!pool.take_and_run(tools))
			M_thread_cond_wait(pool.cv, pool.mu);
	}
}

} // namespace

size_t tokenexp_thread_count(void)
{
	const char *forced = getenv("TOKENEXP_THREADS");
	uint64_t    n      = 0;
	if (forced != nullptr && M_str_to_uint64_ex(forced, std::strlen(forced), 10, &n, nullptr) == M_STR_INT_SUCCESS &&
	    n >= 1 && n <= kMaxThreads)
		return static_cast<size_t>(n);
	const size_t cpus = M_thread_num_cpus();
	return cpus > kMaxThreads ? kMaxThreads : cpus;
}

tokenexp_walk_result_t tokenexp_pool_run(M_fs_file_t *file, const tokenexp_export_key &key, tokenexp_opts_t *opts,
                                         size_t threads, size_t max_table, M_pgp_msg_t *msg,
                                         tokenexp_run_totals_t *totals, tokenexp_progress_t *progress, char *err,
                                         size_t errlen, M_bool *compressed)
{
	if (threads == 0)
		threads = 1;
	if (threads > kMaxThreads)
		threads = kMaxThreads;
	pool_t pool;
	pool.key       = &key;
	pool.opts      = opts;
	pool.msg       = msg;
	pool.totals    = totals;
	pool.progress  = progress;
	pool.max_table = max_table;
	/* A slot and a piece per thread: a block is read far faster than it is
	 * decoded, so one slot per worker keeps every thread busy, and each
	 * slot and piece costs a block's or a piece's memory (a block of wide
	 * text rows is several megabytes, three times over). */
	pool.nslots  = threads;
	pool.slots   = new_array<slot_t>(pool.nslots);
	pool.npieces = threads;
	pool.pieces  = new_array<piece_t>(pool.npieces);

	M_thread_t *workers[kMaxThreads] = {nullptr};
	for (size_t i = 0; i + 1 < threads; i++)
		workers[i] = M_thread_start(worker_main, &pool);

	tokenexp_walk_result_t rc;
	{
		worker_tools_t tools(key);
		reader_t       reader{&pool, &tools};
		rc = tokenexp_read_blocks(file, err, errlen, reader_slot, reader_read, &reader,
		                          progress != nullptr ? reader_progress : nullptr);
		M_thread_mutex_lock(pool.mu);
		pool.end_seq = pool.next_read;
		finish_run(pool, tools, rc);
		pool.quit = true;
		M_thread_cond_broadcast(pool.cv);
		M_thread_mutex_unlock(pool.mu);
	}
	for (M_thread_t *w : workers)
		(void)M_thread_join(w);

	*compressed       = !pool.pgp_failed;
	totals->table_len = pool.table_len;
	if (pool.fail_seq != kNone && pool.fail_seq < pool.end_seq) {
		M_str_cpy(err, errlen, pool.fail_err);
		return pool.fail_rc;
	}
	return rc;
}
