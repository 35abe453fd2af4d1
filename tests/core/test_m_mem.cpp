#include <gtest/gtest.h>

#include "core/m_mem.h"
#include "core/m_mem_int.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

/* A runtime under the allocator that the tests control: it can refuse
 * requests (exhaustion) and can keep released blocks instead of freeing
 * them, so the bytes M_free left behind stay readable. */
struct fake_runtime {
	static inline bool                 fail_alloc   = false; /* every request fails */
	static inline bool                 keep_blocks  = false; /* release keeps memory */
	static inline size_t               last_request = 0;     /* bytes asked of the runtime */
	static inline size_t               requests     = 0;
	static inline size_t               releases     = 0;
	static inline std::vector<void *> *kept         = nullptr;

	static void *alloc(size_t len)
	{
		requests++;
		last_request = len;
		if (fail_alloc)
			return nullptr;
		return std::malloc(len);
	}

	static void release(void *p)
	{
		releases++;
		if (keep_blocks)
			kept->push_back(p);
		else
			std::free(p);
	}
};

/* Installs the fake runtime for one test and restores the real one. */
class runtime_guard {
  public:
	runtime_guard()
	{
		fake_runtime::fail_alloc   = false;
		fake_runtime::keep_blocks  = false;
		fake_runtime::last_request = 0;
		fake_runtime::requests     = 0;
		fake_runtime::releases     = 0;
		fake_runtime::kept         = &kept_;
		m::detail::mem_set_runtime(fake_runtime::alloc, fake_runtime::release);
	}
	~runtime_guard()
	{
		m::detail::mem_set_runtime(nullptr, nullptr);
		for (void *p : kept_)
			std::free(p);
		fake_runtime::kept = nullptr;
		M_malloc_clear_errorcb();
	}
	runtime_guard(const runtime_guard &)            = delete;
	runtime_guard &operator=(const runtime_guard &) = delete;

  private:
	std::vector<void *> kept_;
};

uint64_t header_size(const void *p)
{
	uint64_t v;
	std::memcpy(&v, static_cast<const unsigned char *>(p) - 16, sizeof(v));
	return v;
}

void set_header_size(void *p, uint64_t v)
{
	std::memcpy(static_cast<unsigned char *>(p) - 16, &v, sizeof(v));
}

bool all_bytes(const void *p, size_t len, unsigned char b)
{
	const auto *c = static_cast<const unsigned char *>(p);
	for (size_t i = 0; i < len; i++) {
		if (c[i] != b)
			return false;
	}
	return true;
}

void say(const char *s)
{
	ssize_t r = ::write(STDERR_FILENO, s, std::strlen(s));
	(void)r;
}

} // namespace

/* ---- Allocation ---------------------------------------------------------- */

TEST(m_mem, header_records_size_and_keeps_alignment)
{
	runtime_guard g;
	for (size_t size : {1, 7, 16, 100, 4096}) {
		void *p = M_malloc(size);
		ASSERT_NE(p, nullptr);
		EXPECT_EQ(fake_runtime::last_request, size + 16) << size;
		EXPECT_EQ(header_size(p), size);
		EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
		/* The second half of the header is unused and cleared. */
		EXPECT_TRUE(all_bytes(static_cast<unsigned char *>(p) - 8, 8, 0));
		M_free(p);
	}
}

TEST(m_mem, refused_sizes_yield_null_without_runtime_call)
{
	runtime_guard g;
	const size_t  refused[] = {0, SIZE_MAX, SIZE_MAX - 15};
	for (size_t size : refused) {
		EXPECT_EQ(M_malloc(size), nullptr) << size;
		EXPECT_EQ(M_malloc_zero(size), nullptr) << size;
		EXPECT_EQ(M_realloc(nullptr, size), nullptr) << size;
		EXPECT_EQ(M_realloc_zero(nullptr, size), nullptr) << size;
	}
	EXPECT_EQ(fake_runtime::requests, 0u);

	/* A refused size leaves a live block untouched. */
	auto *p = static_cast<char *>(M_malloc(4));
	std::memcpy(p, "abc", 4);
	EXPECT_EQ(M_realloc(p, SIZE_MAX - 15), nullptr);
	EXPECT_EQ(M_realloc_zero(p, SIZE_MAX), nullptr);
	EXPECT_STREQ(p, "abc");
	EXPECT_EQ(header_size(p), 4u);
	M_free(p);
}

TEST(m_mem, largest_accepted_size_reaches_the_runtime)
{
	/* 2^64 - 17 carries the header, so it is not refused: the runtime is
	 * asked for 2^64 - 1 bytes, fails, and the default handler ends the
	 * process. */
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    fake_runtime::fail_alloc = true;
		    void *p                  = M_malloc(SIZE_MAX - 16);
		    (void)p;
	    },
	    "^\\*\\*\\*\\*\\*\\*\\*\\*OUT OF MEMORY\\*\\*\\*\\*\\*\\*\\*\\*\\*\n$");
}

TEST(m_mem, malloc_zero_clears)
{
	runtime_guard g;
	auto         *p = static_cast<unsigned char *>(M_malloc_zero(64));
	ASSERT_NE(p, nullptr);
	EXPECT_TRUE(all_bytes(p, 64, 0));
	M_free(p);
}

TEST(m_mem, free_wipes_whole_block_with_ff)
{
	runtime_guard g;
	fake_runtime::keep_blocks = true;
	auto *p                   = static_cast<unsigned char *>(M_malloc(40));
	std::memset(p, 0x5A, 40);
	M_free(p);
	ASSERT_EQ(fake_runtime::kept->size(), 1u);
	void *block = fake_runtime::kept->back();
	EXPECT_EQ(block, p - 16);
	EXPECT_TRUE(all_bytes(block, 40 + 16, 0xFF));
}

TEST(m_mem, free_null_is_ignored)
{
	runtime_guard g;
	M_free(nullptr);
	EXPECT_EQ(fake_runtime::releases, 0u);
}

TEST(m_mem, realloc_shrink_keeps_larger_size_and_wipes_old_block)
{
	runtime_guard g;
	fake_runtime::keep_blocks = true;
	auto *p                   = static_cast<unsigned char *>(M_malloc(100));
	for (size_t i = 0; i < 100; i++)
		p[i] = static_cast<unsigned char>(i + 1);

	auto *q = static_cast<unsigned char *>(M_realloc(p, 10));
	ASSERT_NE(q, nullptr);
	EXPECT_NE(q, p); /* always moves */
	EXPECT_EQ(header_size(q), 100u);
	for (size_t i = 0; i < 100; i++)
		ASSERT_EQ(q[i], static_cast<unsigned char>(i + 1)) << i;
	ASSERT_EQ(fake_runtime::kept->size(), 1u);
	EXPECT_TRUE(all_bytes(fake_runtime::kept->back(), 116, 0xFF));
	M_free(q);
}

TEST(m_mem, realloc_grow_records_new_size)
{
	runtime_guard g;
	auto         *p = static_cast<char *>(M_malloc(4));
	std::memcpy(p, "xyz", 4);
	auto *q = static_cast<char *>(M_realloc(p, 200));
	ASSERT_NE(q, nullptr);
	EXPECT_EQ(header_size(q), 200u);
	EXPECT_STREQ(q, "xyz");
	M_free(q);
}

TEST(m_mem, realloc_zero_clears_only_the_new_tail)
{
	runtime_guard g;
	auto         *p = static_cast<unsigned char *>(M_malloc(4));
	std::memset(p, 0xAB, 4);
	auto *q = static_cast<unsigned char *>(M_realloc_zero(p, 8));
	ASSERT_NE(q, nullptr);
	EXPECT_TRUE(all_bytes(q, 4, 0xAB));
	EXPECT_TRUE(all_bytes(q + 4, 4, 0));
	M_free(q);

	auto *z = static_cast<unsigned char *>(M_realloc_zero(nullptr, 32));
	ASSERT_NE(z, nullptr);
	EXPECT_TRUE(all_bytes(z, 32, 0));
	M_free(z);
}

TEST(m_mem, realloc_null_allocates_and_size_zero_frees)
{
	runtime_guard g;
	void         *p = M_realloc(nullptr, 12);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(header_size(p), 12u);
	const size_t released = fake_runtime::releases;
	EXPECT_EQ(M_realloc(p, 0), nullptr);
	EXPECT_EQ(fake_runtime::releases, released + 1);

	void *z = M_realloc_zero(nullptr, 3);
	ASSERT_NE(z, nullptr);
	EXPECT_EQ(M_realloc_zero(z, 0), nullptr);
	EXPECT_EQ(fake_runtime::releases, released + 2);
}

/* What the release of a mapped block saw: every resident page of it 0xFF,
 * and which pages were resident. */
struct unmap_probe {
	static inline size_t calls          = 0;
	static inline bool   resident_wiped = true;
	static inline size_t resident       = 0;

	static void unmap(void *base, size_t len)
	{
		calls++;
		const size_t               page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
		std::vector<unsigned char> vec((len + page - 1) / page);
		if (mincore(base, len, vec.data()) == 0) {
			for (size_t i = 0; i < vec.size(); i++) {
				if ((vec[i] & 1) == 0)
					continue;
				resident++;
				if (!all_bytes(static_cast<unsigned char *>(base) + i * page, page, 0xFF))
					resident_wiped = false;
			}
		}
		munmap(base, len);
	}
};

TEST(m_mem, large_blocks_grow_without_copies_and_are_wiped_before_unmapping)
{
	const size_t big  = m::detail::mem_map_threshold();
	const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));

	/* A runtime block that grows past the threshold becomes a mapping and
	 * keeps its bytes; growing the mapping further moves its pages. */
	auto *p = static_cast<unsigned char *>(M_malloc(big / 2));
	ASSERT_NE(p, nullptr);
	for (size_t i = 0; i < big / 2; i += 4093)
		p[i] = static_cast<unsigned char>(i % 251 + 1);
	auto *q = static_cast<unsigned char *>(M_realloc(p, big));
	ASSERT_NE(q, nullptr);
	EXPECT_EQ(header_size(q), big);
	q[big - 1] = 0x77;
	auto *r    = static_cast<unsigned char *>(M_realloc_zero(q, 3 * big));
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(header_size(r), 3 * big);
	for (size_t i = 0; i < big / 2; i += 4093)
		ASSERT_EQ(r[i], static_cast<unsigned char>(i % 251 + 1)) << i;
	EXPECT_EQ(r[big - 1], 0x77);
	EXPECT_TRUE(all_bytes(r + big, 2 * big, 0));
	if (r != q) {
		/* Moved: the old range is gone from the process, not left as a copy. */
		unsigned char v        = 0;
		uintptr_t     old_page = reinterpret_cast<uintptr_t>(q) & ~static_cast<uintptr_t>(page - 1);
		EXPECT_NE(mincore(reinterpret_cast<void *>(old_page), page, &v), 0);
	}

	/* Shrinking keeps the mapped block and its recorded size. */
	EXPECT_EQ(M_realloc(r, 10), r);
	EXPECT_EQ(header_size(r), 3 * big);

	/* A fresh large zeroed block reads as zeros. */
	auto *z = static_cast<unsigned char *>(M_malloc_zero(big));
	ASSERT_NE(z, nullptr);
	EXPECT_TRUE(all_bytes(z, big, 0));

	unmap_probe::calls          = 0;
	unmap_probe::resident       = 0;
	unmap_probe::resident_wiped = true;
	m::detail::mem_set_unmap(unmap_probe::unmap);
	std::memset(r + big, 0x5A, big / 4);
	M_free(r);
	M_free(z);
	m::detail::mem_set_unmap(nullptr);
	EXPECT_EQ(unmap_probe::calls, 2u);
	EXPECT_TRUE(unmap_probe::resident_wiped);
	/* At least every page that was written was wiped. */
	EXPECT_GE(unmap_probe::resident * page, big / 2 + big / 4);
}

/* A mapping the kernel refuses goes through the out-of-memory policy like
 * any runtime failure: the callbacks, then the default handler. (The address
 * space limit that makes the kernel refuse does not mix with the sanitizers'
 * shadow memory.) */
#if !defined(__SANITIZE_ADDRESS__)
TEST(m_mem, refused_mapping_reaches_the_out_of_memory_handler)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(
	    {
		    struct rlimit lim {};
		    getrlimit(RLIMIT_AS, &lim);
		    lim.rlim_cur = static_cast<rlim_t>(1) << 30;
		    setrlimit(RLIMIT_AS, &lim);
		    void *p = M_malloc(static_cast<size_t>(2) << 30);
		    std::_Exit(p == nullptr ? 3 : 4);
	    },
	    testing::KilledBySignal(SIGABRT), "OUT OF MEMORY");
}
#endif

TEST(m_mem, memdup_and_memdup_max)
{
	runtime_guard g;
	EXPECT_EQ(M_memdup(nullptr, 4), nullptr);
	EXPECT_EQ(M_memdup("abc", 0), nullptr);
	auto *d = static_cast<char *>(M_memdup("abc", 4));
	ASSERT_NE(d, nullptr);
	EXPECT_STREQ(d, "abc");
	EXPECT_EQ(header_size(d), 4u);
	M_free(d);

	EXPECT_EQ(M_memdup_max(nullptr, 3, 10), nullptr);
	EXPECT_EQ(M_memdup_max(nullptr, 0, 0), nullptr);
	void *u = M_memdup_max(nullptr, 0, 10);
	ASSERT_NE(u, nullptr);
	EXPECT_EQ(header_size(u), 10u);
	M_free(u);

	auto *m = static_cast<char *>(M_memdup_max("hello", 6, 32));
	ASSERT_NE(m, nullptr);
	EXPECT_EQ(header_size(m), 32u);
	EXPECT_STREQ(m, "hello");
	M_free(m);

	auto *l = static_cast<char *>(M_memdup_max("hello", 6, 2));
	ASSERT_NE(l, nullptr);
	EXPECT_EQ(header_size(l), 6u);
	M_free(l);
}

/* ---- Out-of-memory callbacks --------------------------------------------- */

namespace {

std::string g_calls;
bool        g_freed = false;

M_bool cb_a(void)
{
	g_calls += 'A';
	return M_FALSE;
}

M_bool cb_b(void)
{
	g_calls += 'B';
	return M_FALSE;
}

/* Releases memory (lets the runtime succeed again) and asks for a retry. */
M_bool cb_release(void)
{
	g_calls += 'R';
	g_freed                  = true;
	fake_runtime::fail_alloc = false;
	return M_TRUE;
}

M_bool cb_marker_a(void)
{
	say("A");
	return M_FALSE;
}

M_bool cb_marker_b(void)
{
	say("B");
	return M_FALSE;
}

M_bool cb_marker_c(void)
{
	say("C");
	return M_FALSE;
}

M_bool cb_marker_retry(void)
{
	say("R");
	return M_TRUE; /* claims progress but the runtime keeps failing */
}

} // namespace

TEST(m_mem, callback_registration_rules)
{
	runtime_guard g;
	EXPECT_FALSE(M_malloc_register_errorcb(nullptr));
	EXPECT_FALSE(M_malloc_deregister_errorcb(nullptr));
	EXPECT_FALSE(M_malloc_deregister_errorcb(cb_a)); /* none registered */

	for (int i = 0; i < 12; i++)
		EXPECT_TRUE(M_malloc_register_errorcb(i % 2 ? cb_a : cb_b)) << i; /* duplicates allowed */
	EXPECT_FALSE(M_malloc_register_errorcb(cb_a));                        /* 13th user callback */

	EXPECT_FALSE(M_malloc_deregister_errorcb(M_malloc_error));
	EXPECT_FALSE(M_malloc_deregister_errorcb(cb_release)); /* not found */
	EXPECT_TRUE(M_malloc_deregister_errorcb(cb_a));
	EXPECT_TRUE(M_malloc_register_errorcb(cb_a)); /* a slot is free again */
	EXPECT_FALSE(M_malloc_register_errorcb(cb_a));

	M_malloc_clear_errorcb();
	M_malloc_clear_errorcb(); /* nothing registered: does nothing */
	EXPECT_FALSE(M_malloc_deregister_errorcb(cb_a));
	for (int i = 0; i < 12; i++)
		EXPECT_TRUE(M_malloc_register_errorcb(cb_b));
}

TEST(m_mem, callback_releasing_memory_makes_allocation_succeed)
{
	runtime_guard g;
	g_calls.clear();
	g_freed = false;
	ASSERT_TRUE(M_malloc_register_errorcb(cb_a));
	ASSERT_TRUE(M_malloc_register_errorcb(cb_release));
	ASSERT_TRUE(M_malloc_register_errorcb(cb_b));

	fake_runtime::fail_alloc = true;
	void *p                  = M_malloc(64);
	ASSERT_NE(p, nullptr);
	EXPECT_TRUE(g_freed);
	/* Newest first; the oldest is not needed once a retry succeeds. */
	EXPECT_EQ(g_calls, "BR");
	EXPECT_EQ(fake_runtime::requests, 2u);
	M_free(p);
}

TEST(m_mem, callbacks_run_newest_first_and_default_last)
{
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    M_malloc_register_errorcb(cb_marker_a);
		    M_malloc_register_errorcb(cb_marker_b);
		    fake_runtime::fail_alloc = true;
		    void *p                  = M_malloc(8);
		    (void)p;
	    },
	    "^BA\\*\\*\\*\\*\\*\\*\\*\\*OUT OF MEMORY\\*\\*\\*\\*\\*\\*\\*\\*\\*\n$");
}

TEST(m_mem, each_callback_runs_at_most_once_per_request)
{
	/* The retrying callback is asked once; after the retry fails the walk
	 * continues below it, ending in the default handler. */
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    M_malloc_register_errorcb(cb_marker_a);
		    M_malloc_register_errorcb(cb_marker_retry);
		    M_malloc_register_errorcb(cb_marker_b);
		    fake_runtime::fail_alloc = true;
		    void *p                  = M_malloc(8);
		    (void)p;
	    },
	    "^BRA\\*+OUT OF MEMORY\\*+\n$");
}

TEST(m_mem, deregister_closes_the_gap_and_keeps_the_order)
{
	/* A, B, C registered; removing B moves C down one slot, so both of the
	 * others still run (newest first) before the default handler. */
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    M_malloc_register_errorcb(cb_marker_a);
		    M_malloc_register_errorcb(cb_marker_b);
		    M_malloc_register_errorcb(cb_marker_c);
		    if (!M_malloc_deregister_errorcb(cb_marker_b))
			    say("deregister failed");
		    fake_runtime::fail_alloc = true;
		    void *p                  = M_malloc(8);
		    (void)p;
	    },
	    "^CA\\*+OUT OF MEMORY\\*+\n$");
	/* With A registered twice, the first match from slot 1 upward goes: the
	 * table becomes B, A and the remaining A (now the newest) runs first. */
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    M_malloc_register_errorcb(cb_marker_a);
		    M_malloc_register_errorcb(cb_marker_b);
		    M_malloc_register_errorcb(cb_marker_a);
		    if (!M_malloc_deregister_errorcb(cb_marker_a))
			    say("deregister failed");
		    fake_runtime::fail_alloc = true;
		    void *p                  = M_malloc(8);
		    (void)p;
	    },
	    "^AB\\*+OUT OF MEMORY\\*+\n$");
}

TEST(m_mem, clear_leaves_only_the_default_handler)
{
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    M_malloc_register_errorcb(cb_marker_a);
		    M_malloc_register_errorcb(cb_marker_b);
		    M_malloc_clear_errorcb();
		    fake_runtime::fail_alloc = true;
		    void *p                  = M_malloc(8);
		    (void)p;
	    },
	    "^\\*\\*\\*\\*\\*\\*\\*\\*OUT OF MEMORY\\*\\*\\*\\*\\*\\*\\*\\*\\*\n$");
}

TEST(m_mem, default_handler_message_and_abort)
{
	EXPECT_DEATH(M_malloc_error(), "^\\*\\*\\*\\*\\*\\*\\*\\*OUT OF MEMORY\\*\\*\\*\\*\\*\\*\\*\\*\\*\n$");
	EXPECT_EXIT(M_malloc_error(), testing::KilledBySignal(SIGABRT), "OUT OF MEMORY");
}

/* ---- Header checks -------------------------------------------------------- */

TEST(m_mem, corrupt_header_ends_process)
{
	const char *msg = "^M_free\\(\\): double-free or corrupt memory\n$";
	EXPECT_DEATH(
	    {
		    void *p = M_malloc(16);
		    set_header_size(p, 0);
		    M_free(p);
	    },
	    msg);
	EXPECT_DEATH(
	    {
		    void *p = M_malloc(16);
		    set_header_size(p, UINT64_MAX);
		    M_free(p);
	    },
	    msg);
	/* The same checks guard the old block of a reallocation, before its
	 * size is trusted for the copy. */
	EXPECT_DEATH(
	    {
		    void *p = M_malloc(16);
		    set_header_size(p, UINT64_MAX);
		    void *q = M_realloc(p, 32);
		    (void)q;
	    },
	    msg);
	EXPECT_DEATH(
	    {
		    void *p = M_malloc(16);
		    set_header_size(p, 0);
		    void *q = M_realloc_zero(p, 8);
		    (void)q;
	    },
	    msg);
	EXPECT_EXIT(
	    {
		    void *p = M_malloc(16);
		    set_header_size(p, 0);
		    M_free(p);
	    },
	    testing::KilledBySignal(SIGABRT), "");
}

TEST(m_mem, pointer_minus_one_is_invalid)
{
	EXPECT_DEATH(M_free(reinterpret_cast<void *>(UINTPTR_MAX)), "^M_free\\(\\): invalid pointer address\n$");
	EXPECT_DEATH(M_free(reinterpret_cast<void *>(16)), "^M_free\\(\\): double-free or corrupt memory\n$");
}

TEST(m_mem, second_free_of_kept_block_is_detected)
{
	/* With the memory kept by the runtime (not reused), the wiped header
	 * reads as all ones and the second free stops with the message. */
	EXPECT_DEATH(
	    {
		    runtime_guard g;
		    fake_runtime::keep_blocks = true;
		    void *p                   = M_malloc(24);
		    M_free(p);
		    M_free(p);
	    },
	    "^M_free\\(\\): double-free or corrupt memory\n$");
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(m_mem, real_double_free_ends_process)
{
	/* On this host the C runtime reuses the header for its own lists, so
	 * either our check or the runtime's ends the process; it never goes
	 * on. Under AddressSanitizer the sanitizer reports first, hence this
	 * case runs in the plain build only. */
	EXPECT_DEATH(
	    {
		    void *p = M_malloc(24);
		    M_free(p);
		    M_free(p);
	    },
	    "");
}
#endif

/* ---- Byte operations ------------------------------------------------------ */

TEST(m_mem, set_and_copy_null_rules)
{
	char buf[8] = "abcdefg";
	EXPECT_EQ(M_mem_set(nullptr, 'x', 4), nullptr);
	EXPECT_EQ(M_mem_set(buf, 'x', 0), nullptr);
	EXPECT_EQ(M_mem_set(buf, 'x', 2), buf);
	EXPECT_STREQ(buf, "xxcdefg");

	EXPECT_EQ(M_mem_copy(nullptr, "ab", 2), nullptr);
	EXPECT_EQ(M_mem_copy(buf, nullptr, 2), buf);
	EXPECT_STREQ(buf, "xxcdefg");
	EXPECT_EQ(M_mem_move(nullptr, "ab", 2), nullptr);
	EXPECT_EQ(M_mem_move(buf, nullptr, 2), buf);

	/* Both are overlap-safe, in either direction. */
	char a[] = "123456789";
	EXPECT_EQ(M_mem_copy(a + 2, a, 5), a + 2);
	EXPECT_STREQ(a, "121234589");
	char b[] = "123456789";
	EXPECT_EQ(M_mem_move(b, b + 3, 5), b);
	EXPECT_STREQ(b, "456786789");
}

TEST(m_mem, eq_rules)
{
	const char *x   = "abcde";
	char        y[] = "abcde";
	EXPECT_TRUE(M_mem_eq(nullptr, nullptr, 5)); /* same pointer */
	EXPECT_FALSE(M_mem_eq(x, nullptr, 0));
	EXPECT_FALSE(M_mem_eq(nullptr, x, 3));
	EXPECT_TRUE(M_mem_eq(x, y, 0));
	EXPECT_TRUE(M_mem_eq(x, y, 5));
	y[4] = 'E'; /* difference in the last byte */
	EXPECT_FALSE(M_mem_eq(x, y, 5));
	EXPECT_TRUE(M_mem_eq(x, y, 4));
	y[0] = 'A'; /* difference in the first byte still compared to the end */
	EXPECT_FALSE(M_mem_eq(x, y, 5));
}

TEST(m_mem, cmpsort_order)
{
	EXPECT_EQ(M_mem_cmpsort(nullptr, 0, nullptr, 3), 0); /* same pointer */
	EXPECT_EQ(M_mem_cmpsort("a", 0, "b", 0), 0);         /* both empty */
	EXPECT_EQ(M_mem_cmpsort(nullptr, 1, "b", 1), -1);
	EXPECT_EQ(M_mem_cmpsort("a", 1, nullptr, 1), 1);
	EXPECT_LT(M_mem_cmpsort("b", 1, "aa", 2), 0); /* shorter first, whatever its content */
	EXPECT_GT(M_mem_cmpsort("aa", 2, "b", 1), 0);
	EXPECT_LT(M_mem_cmpsort("ab", 2, "ac", 2), 0);
	EXPECT_GT(M_mem_cmpsort("\xff", 1, "\x01", 1), 0); /* bytes compare unsigned */
	EXPECT_EQ(M_mem_cmpsort("ab", 2, "ab", 2), 0);
}

TEST(m_mem, chr_and_count)
{
	const char *s = "banana";
	EXPECT_EQ(M_mem_chr(nullptr, 'a', 6), nullptr);
	EXPECT_EQ(M_mem_chr(s, 'a', 6), s + 1);
	EXPECT_EQ(M_mem_chr(s, 'a', 1), nullptr);
	EXPECT_EQ(M_mem_count(s, 6, 'a'), 3u);
	EXPECT_EQ(M_mem_count(s, 0, 'a'), 0u);
	EXPECT_EQ(M_mem_count(nullptr, 6, 'a'), 0u);
	const unsigned char z[] = {0, 1, 0, 0};
	EXPECT_EQ(M_mem_count(z, sizeof(z), 0), 3u);
}

TEST(m_mem, mem_and_rmem_search)
{
	struct Case {
		const char *hay;
		size_t      hlen;
		const char *needle;
		size_t      nlen;
		long        first; /* offset, -1 none, -2 hay itself */
		long        last;
	};
	const Case cases[] = {
	    {"abcabc", 6, "bc", 2, 1, 4},     {"abcabc", 6, "abc", 3, 0, 3},
	    {"abcabc", 6, "abcabc", 6, 0, 0},                             /* haystack equal to needle */
	    {"abcabd", 6, "abd", 3, 3, 3},                                /* only at the last position */
	    {"abc", 3, "abcd", 4, -1, -1},                                /* needle longer than hay */
	    {"aaab", 4, "aab", 3, 1, 1},                                  /* first-byte hit that fails, then match */
	    {"abcabc", 6, "x", 1, -1, -1},    {"abcabc", 6, "", 0, 0, 0}, /* empty needle: hay */
	    {"abcabc", 6, nullptr, 3, 0, 0},                              /* NULL needle: hay */
	    {"a\0b\0b", 5, "\0b", 2, 1, 3},                               /* embedded zero bytes */
	};
	for (const Case &c : cases) {
		const void *f      = M_mem_mem(c.hay, c.hlen, c.needle, c.nlen);
		const void *l      = M_mem_rmem(c.hay, c.hlen, c.needle, c.nlen);
		const void *want_f = c.first < 0 ? nullptr : c.hay + c.first;
		const void *want_l = c.last < 0 ? nullptr : c.hay + c.last;
		EXPECT_EQ(f, want_f) << c.hay << "/" << c.nlen;
		EXPECT_EQ(l, want_l) << c.hay << "/" << c.nlen;
	}
	EXPECT_EQ(M_mem_mem(nullptr, 3, "a", 1), nullptr);
	EXPECT_EQ(M_mem_mem("abc", 0, "a", 1), nullptr);
	EXPECT_EQ(M_mem_rmem(nullptr, 3, "a", 1), nullptr);
	EXPECT_EQ(M_mem_rmem("abc", 0, nullptr, 0), nullptr);

	size_t idx = 99;
	EXPECT_TRUE(M_mem_mempos("xxabc", 5, "abc", 3, &idx));
	EXPECT_EQ(idx, 2u);
	EXPECT_TRUE(M_mem_mempos("xxabc", 5, "abc", 3, nullptr));
	idx = 99;
	EXPECT_FALSE(M_mem_mempos("xxabc", 5, "abd", 3, &idx));
	EXPECT_EQ(idx, 99u);
	EXPECT_TRUE(M_mem_contains("xxabc", 5, "xa", 2));
	EXPECT_FALSE(M_mem_contains("xxabc", 5, "ax", 2));
	EXPECT_FALSE(M_mem_contains(nullptr, 5, "ax", 2));
}

TEST(m_mem, swap_bytes)
{
	uint8_t b[] = {1, 2, 3};
	EXPECT_FALSE(M_mem_swap_bytes(nullptr, 3, 0, 1));
	EXPECT_FALSE(M_mem_swap_bytes(b, 0, 0, 0));
	EXPECT_FALSE(M_mem_swap_bytes(b, 3, 0, 3));
	EXPECT_FALSE(M_mem_swap_bytes(b, 3, 3, 0));
	EXPECT_TRUE(M_mem_swap_bytes(b, 3, 1, 1));
	EXPECT_TRUE(M_mem_swap_bytes(b, 3, 0, 2));
	EXPECT_EQ(b[0], 3);
	EXPECT_EQ(b[1], 2);
	EXPECT_EQ(b[2], 1);
}

TEST(m_mem, crc_check_values)
{
	const char *s = "123456789";
	EXPECT_EQ(M_mem_calc_crc8_ccitt(s, 9), 0xF4);
	EXPECT_EQ(M_mem_calc_crc16_ccitt(s, 9), 0x29B1);
	EXPECT_EQ(M_mem_calc_crc32(s, 9), 0xCBF43926u);
	/* Empty or NULL input is 0, not the initial register value. */
	EXPECT_EQ(M_mem_calc_crc8_ccitt(s, 0), 0);
	EXPECT_EQ(M_mem_calc_crc16_ccitt(s, 0), 0);
	EXPECT_EQ(M_mem_calc_crc32(s, 0), 0u);
	EXPECT_EQ(M_mem_calc_crc8_ccitt(nullptr, 9), 0);
	EXPECT_EQ(M_mem_calc_crc16_ccitt(nullptr, 9), 0);
	EXPECT_EQ(M_mem_calc_crc32(nullptr, 9), 0u);
	/* A single byte catches a mis-generated table or update step. */
	EXPECT_EQ(M_mem_calc_crc32("a", 1), 0xE8B7BE43u);
	EXPECT_EQ(M_mem_calc_crc16_ccitt("A", 1), 0xB915);
	EXPECT_EQ(M_mem_calc_crc8_ccitt("\xff", 1), 0xF3);
}

TEST(m_mem, lrc)
{
	const uint8_t b[] = {0x01, 0x02, 0x04, 0x80};
	EXPECT_EQ(M_mem_calc_lrc(b, 4), 0x87);
	EXPECT_EQ(M_mem_calc_lrc(b, 0), 0);
	EXPECT_EQ(M_mem_calc_lrc(nullptr, 4), 0);
	EXPECT_EQ(M_mem_calc_lrc("aa", 2), 0);
}

/* A wiped part of a kept block: its bytes no longer hold the old content, its
 * whole pages are no longer resident, and nothing around it changes. Both a
 * runtime block and a mapped one. */
TEST(m_mem, wipe_release_wipes_the_part_and_gives_back_its_pages)
{
	const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
	for (size_t size : {static_cast<size_t>(256) << 10, m::detail::mem_map_threshold() + (4u << 20)}) {
		auto *b = static_cast<unsigned char *>(M_malloc(size));
		std::memset(b, 'A', size);
		const size_t from = 3 * page + 17;
		const size_t len  = size / 2;
		M_mem_wipe_release(b + from, len);
		unsigned char *whole    = b + from + (page - reinterpret_cast<uintptr_t>(b + from) % page);
		unsigned char  resident = 1;
		ASSERT_EQ(mincore(whole, page, &resident), 0);
		EXPECT_EQ(resident & 1, 0) << size;
		for (size_t i = 0; i < size; i++) {
			const bool inside = i >= from && i < from + len;
			ASSERT_TRUE(inside ? b[i] != 'A' : b[i] == 'A') << size << " at " << i;
		}
		M_mem_wipe_release(nullptr, 10);
		M_mem_wipe_release(b, 0);
		EXPECT_EQ(b[0], 'A');
		M_free(b);
	}
}
