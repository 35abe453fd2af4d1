#include "tests/test_util.h"

#include "core/m_mem_int.h"
#include "core/m_mem_sys_int.h"

#include <string_view>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

/* A runtime under the allocator that can refuse requests and keep released
 * blocks (so what M_free left stays readable); runtime_guard installs it. */
struct Fake {
	static inline bool                fail = false, keep = false;
	static inline size_t              last = 0, requests = 0, releases = 0;
	static inline std::vector<void *> kept;

	static void *alloc(size_t len)
	{
		requests++;
		last = len;
		return fail ? nullptr : std::malloc(len);
	}
	static void release(void *p)
	{
		releases++;
		keep ? kept.push_back(p) : std::free(p);
	}
};

struct runtime_guard {
	runtime_guard()
	{
		Fake::fail = Fake::keep = false;
		Fake::last = Fake::requests = Fake::releases = 0;
		m::detail::mem_set_runtime(Fake::alloc, Fake::release);
	}
	~runtime_guard()
	{
		m::detail::mem_set_runtime(nullptr, nullptr);
		for (void *p : Fake::kept)
			std::free(p);
		Fake::kept.clear();
		M_malloc_clear_errorcb();
	}
};

uint64_t header_size(const void *p)
{
	uint64_t v;
	std::memcpy(&v, static_cast<const unsigned char *>(p) - 16, sizeof(v));
	return v;
}

void *set_header_size(void *p, uint64_t v)
{
	std::memcpy(static_cast<unsigned char *>(p) - 16, &v, sizeof(v));
	return p;
}

bool all_bytes(const void *p, size_t len, unsigned char b)
{
	const auto *c = static_cast<const unsigned char *>(p);
	return std::all_of(c, c + len, [b](unsigned char x) { return x == b; });
}

void say(const char *s)
{
	(void)!::write(STDERR_FILENO, s, std::strlen(s));
}

} // namespace

TEST(m_mem, header_size_alignment_and_wipe)
{
	runtime_guard g;
	for (size_t size : {1, 7, 16, 100, 4096}) {
		auto *p = static_cast<unsigned char *>(size == 100 ? M_malloc_zero(size) : M_malloc(size));
		ASSERT_NE(p, nullptr);
		EXPECT_EQ(Fake::last, size + 16) << size;
		EXPECT_EQ(header_size(p), size);
		EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
		EXPECT_TRUE(all_bytes(p - 8, 8, 0)); /* the header's unused half is cleared */
		EXPECT_TRUE(size != 100 || all_bytes(p, size, 0));
		M_free(p);
	}
	/* Release wipes the whole block, header included, with 0xFF. */
	Fake::keep = true;
	auto *p    = static_cast<unsigned char *>(M_malloc(40));
	std::memset(p, 0x5A, 40);
	M_free(p);
	ASSERT_EQ(Fake::kept.size(), 1u);
	EXPECT_EQ(Fake::kept.back(), p - 16);
	EXPECT_TRUE(all_bytes(p - 16, 40 + 16, 0xFF));
	const size_t released = Fake::releases;
	M_free(nullptr);
	EXPECT_EQ(Fake::releases, released);
}

TEST(m_mem, refused_sizes_yield_null_without_runtime_call)
{
	runtime_guard g;
	for (size_t size : {size_t{0}, SIZE_MAX, SIZE_MAX - 15}) {
		EXPECT_EQ(M_malloc(size), nullptr) << size;
		EXPECT_EQ(M_malloc_zero(size), nullptr) << size;
		EXPECT_EQ(M_realloc(nullptr, size), nullptr) << size;
		EXPECT_EQ(M_realloc_zero(nullptr, size), nullptr) << size;
	}
	EXPECT_EQ(Fake::requests, 0u);
	/* A refused size leaves a live block untouched. */
	auto *p = static_cast<char *>(M_malloc(4));
	std::memcpy(p, "abc", 4);
	EXPECT_EQ(M_realloc(p, SIZE_MAX - 15), nullptr);
	EXPECT_EQ(M_realloc_zero(p, SIZE_MAX), nullptr);
	EXPECT_STREQ(p, "abc");
	EXPECT_EQ(header_size(p), 4u);
	M_free(p);
}

TEST(m_mem, realloc_and_memdup)
{
	runtime_guard g;
	Fake::keep = true;
	/* Shrinking always moves, keeps the larger size and wipes the old block. */
	auto *p = static_cast<unsigned char *>(M_malloc(100));
	for (size_t i = 0; i < 100; i++)
		p[i] = static_cast<unsigned char>(i + 1);
	auto *q = static_cast<unsigned char *>(M_realloc(p, 10));
	ASSERT_NE(q, nullptr);
	EXPECT_NE(q, p);
	EXPECT_EQ(header_size(q), 100u);
	for (size_t i = 0; i < 100; i++)
		ASSERT_EQ(q[i], static_cast<unsigned char>(i + 1)) << i;
	ASSERT_EQ(Fake::kept.size(), 1u);
	EXPECT_TRUE(all_bytes(Fake::kept.back(), 116, 0xFF));
	/* Growing records the new size; the zeroing form clears only the tail. */
	std::memset(q, 0xAB, 4);
	auto *r = static_cast<unsigned char *>(M_realloc_zero(M_realloc(q, 4), 200));
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(header_size(r), 200u);
	EXPECT_TRUE(all_bytes(r, 4, 0xAB));
	EXPECT_TRUE(all_bytes(r + 100, 100, 0));
	/* NULL allocates; size 0 frees and yields NULL. */
	const size_t released = Fake::releases;
	EXPECT_EQ(M_realloc(r, 0), nullptr);
	auto *z = static_cast<unsigned char *>(M_realloc_zero(nullptr, 32));
	ASSERT_NE(z, nullptr);
	EXPECT_TRUE(all_bytes(z, 32, 0));
	EXPECT_EQ(M_realloc_zero(z, 0), nullptr);
	EXPECT_EQ(Fake::releases, released + 2);

	EXPECT_EQ(M_memdup("abc", 0), nullptr);
	auto *d = static_cast<char *>(M_memdup("abc", 4));
	EXPECT_STREQ(d, "abc");
	EXPECT_EQ(header_size(d), 4u);
	M_free(d);
	/* memdup_max: at least min_alloc bytes; NULL source with len 0 is a
	 * zeroed block of min_alloc. */
	const struct {
		const char *src;
		size_t      len, min, size; /* size 0: NULL */
	} dups[] = {
	    {nullptr, 3, 10, 0}, {nullptr, 0, 0, 0}, {nullptr, 0, 10, 10}, {"hello", 6, 32, 32}, {"hello", 6, 2, 6}};
	for (const auto &c : dups) {
		auto *m = static_cast<char *>(M_memdup_max(c.src, c.len, c.min));
		ASSERT_EQ(m == nullptr, c.size == 0) << c.len << "/" << c.min;
		if (m != nullptr) {
			EXPECT_EQ(header_size(m), c.size);
			EXPECT_TRUE(c.src == nullptr || std::strcmp(m, c.src) == 0);
		}
		M_free(m);
	}
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
		const size_t page = m::detail::mem_page_size();
#if M_TEST_POSIX /* Linux only: which pages are resident (mincore); Windows wipes all */
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
#else
		resident += len / page;
		resident_wiped = resident_wiped && all_bytes(static_cast<unsigned char *>(base), len, 0xFF);
#endif
		m::detail::mem_map_release(base, len);
	}
};

TEST(m_mem, large_blocks_grow_without_copies_and_are_wiped_before_unmapping)
{
	const size_t big  = m::detail::mem_map_threshold();
	const size_t page = m::detail::mem_page_size();

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
		uintptr_t old_page = reinterpret_cast<uintptr_t>(q) & ~static_cast<uintptr_t>(page - 1);
#if M_TEST_POSIX /* Linux only: mincore; Windows asks VirtualQuery */
		unsigned char v = 0;
		EXPECT_NE(mincore(reinterpret_cast<void *>(old_page), page, &v), 0);
#else
		MEMORY_BASIC_INFORMATION mbi;
		ASSERT_NE(VirtualQuery(reinterpret_cast<void *>(old_page), &mbi, sizeof(mbi)), 0u);
		EXPECT_EQ(mbi.State, static_cast<DWORD>(MEM_FREE));
#endif
	}
	/* Shrinking keeps the mapped block and its recorded size. */
	EXPECT_EQ(M_realloc(r, 10), r);
	EXPECT_EQ(header_size(r), 3 * big);
	auto *z = static_cast<unsigned char *>(M_malloc_zero(big));
	ASSERT_NE(z, nullptr);
	EXPECT_TRUE(all_bytes(z, big, 0));

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

/* A mapping the kernel refuses goes through the out-of-memory policy. (The
 * address space limit does not mix with the sanitizers' shadow memory.) */
#if M_TEST_POSIX && !defined(__SANITIZE_ADDRESS__) /* Linux only: an address space limit (RLIMIT_AS) */
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
	    test_util::aborted(), "OUT OF MEMORY");
}
#endif

namespace {

std::string g_calls;

/* Writes its letter and gives up, or (Retry) claims progress although the
 * runtime keeps failing. */
template <char Letter, bool Retry = false>
M_bool marker(void)
{
	const char text[2] = {Letter, 0};
	say(text);
	g_calls += Letter;
	return Retry;
}
constexpr auto cb_a = marker<'A'>, cb_b = marker<'B'>, cb_c = marker<'C'>, cb_retry = marker<'R', true>;
/* Releases memory (lets the runtime succeed again) and asks for a retry. */
M_bool cb_release(void)
{
	g_calls += 'R';
	Fake::fail = false;
	return M_TRUE;
}

} // namespace

TEST(m_mem, callback_registration_rules)
{
	/* In call order: NULL refused; deregistering what is not there fails;
	 * duplicates allowed up to 12 user callbacks; the default handler cannot
	 * be removed; a removal frees a slot; clearing twice does nothing. */
	runtime_guard    g;
	std::vector<int> got{M_malloc_register_errorcb(nullptr), M_malloc_deregister_errorcb(nullptr),
	                     M_malloc_deregister_errorcb(cb_a)};
	for (int i = 0; i < 13; i++)
		got.push_back(M_malloc_register_errorcb(i % 2 ? cb_a : cb_b));
	got.insert(got.end(),
	           {M_malloc_deregister_errorcb(M_malloc_error), M_malloc_deregister_errorcb(cb_release),
	            M_malloc_deregister_errorcb(cb_a), M_malloc_register_errorcb(cb_a), M_malloc_register_errorcb(cb_a)});
	M_malloc_clear_errorcb();
	M_malloc_clear_errorcb();
	got.push_back(M_malloc_deregister_errorcb(cb_a));
	for (int i = 0; i < 13; i++)
		got.push_back(M_malloc_register_errorcb(cb_b));
	EXPECT_EQ(got, (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0,
	                                 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));

	/* A callback that releases memory makes the retry succeed: newest first,
	 * and the older ones are not asked once a retry succeeds. */
	M_malloc_clear_errorcb();
	g_calls.clear();
	for (M_malloc_error_cb cb : {cb_a, cb_release, cb_b})
		ASSERT_TRUE(M_malloc_register_errorcb(cb));
	Fake::fail = true;
	void *p    = M_malloc(64);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(g_calls, "BR");
	EXPECT_EQ(Fake::requests, 2u);
	M_free(p);
}

TEST(m_mem, out_of_memory_walks_the_callbacks_then_aborts)
{
	/* (De)registrations, then a failing request: each callback runs at most
	 * once, newest first, then the default handler aborts. Deregistering
	 * removes the first match from the oldest slot up and closes the gap. */
	const std::string oom = "\\*\\*\\*\\*\\*\\*\\*\\*OUT OF MEMORY\\*\\*\\*\\*\\*\\*\\*\\*\\*\n$";
	const struct {
		std::vector<std::pair<char, M_malloc_error_cb>> ops; /* '+', '-', or '0' for clear */
		size_t                                          size;
		const char                                     *output;
	} cases[] = {{{}, 8, ""},
	             {{}, SIZE_MAX - 16, ""},
	             {{{'+', cb_a}, {'+', cb_retry}, {'+', cb_b}}, 8, "BRA"},
	             {{{'+', cb_a}, {'+', cb_b}, {'+', cb_c}, {'-', cb_b}}, 8, "CA"},
	             {{{'+', cb_a}, {'+', cb_b}, {'+', cb_a}, {'-', cb_a}}, 8, "AB"},
	             {{{'+', cb_a}, {'+', cb_b}, {'0', nullptr}}, 8, ""}};
	for (const auto &c : cases) {
		EXPECT_EXIT(
		    {
			    runtime_guard g;
			    for (const auto &[op, cb] : c.ops) {
				    if (op == '0')
					    M_malloc_clear_errorcb();
				    else if (!(op == '+' ? M_malloc_register_errorcb(cb) : M_malloc_deregister_errorcb(cb)))
					    say("registration failed");
			    }
			    Fake::fail = true;
			    void *p    = M_malloc(c.size);
			    (void)p;
		    },
		    test_util::aborted(), "^" + std::string(c.output) + oom)
		    << c.output;
	}
	EXPECT_EXIT(M_malloc_error(), test_util::aborted(), "^" + oom);
}

TEST(m_mem, corrupt_header_ends_process)
{
	/* The header is checked before its size is trusted, also in realloc; a
	 * kept block's wiped header reads as all ones: a second release stops. */
	const char *corrupt = "^M_free\\(\\): double-free or corrupt memory\n$";
	const struct {
		void (*run)();
		const char *output;
	} cases[] = {{[] { M_free(set_header_size(M_malloc(16), 0)); }, corrupt},
	             {[] { M_free(set_header_size(M_malloc(16), UINT64_MAX)); }, corrupt},
	             {[] { (void)!M_realloc(set_header_size(M_malloc(16), UINT64_MAX), 32); }, corrupt},
	             {[] { M_free(reinterpret_cast<void *>(16)); }, corrupt},
	             {[] { M_free(reinterpret_cast<void *>(UINTPTR_MAX)); }, "^M_free\\(\\): invalid pointer address\n$"},
	             {[] {
		              runtime_guard g;
		              Fake::keep = true;
		              void *p    = M_malloc(24);
		              M_free(p);
		              M_free(p);
	              },
	              corrupt}};
	for (const auto &c : cases)
		EXPECT_EXIT(c.run(), test_util::aborted(), c.output);
}

TEST(m_mem, set_copy_move_eq)
{
	char buf[8] = "abcdefg";
	EXPECT_EQ(M_mem_set(buf, 'x', 0), nullptr);
	EXPECT_EQ(M_mem_set(buf, 'x', 2), buf);
	EXPECT_EQ(M_mem_copy(buf, nullptr, 2), buf); /* NULL source: dst back unchanged */
	EXPECT_STREQ(buf, "xxcdefg");
	/* Both are overlap-safe, in either direction. */
	char a[] = "123456789", b[] = "123456789";
	EXPECT_EQ(M_mem_copy(a + 2, a, 5), a + 2);
	EXPECT_STREQ(a, "121234589");
	EXPECT_EQ(M_mem_move(b, b + 3, 5), b);
	EXPECT_STREQ(b, "456786789");
}

TEST(m_mem, search_compare_and_count_match_std)
{
	/* Short ranges over "ab" and a zero byte; sorting puts the shorter first,
	 * an empty needle is found at the start of a non-empty haystack. */
	std::mt19937 rng(5);
	auto         text = [&rng](size_t max) {
        const char  alphabet[] = {'a', 'b', '\0'};
        std::string s(rng() % (max + 1), 'a');
        for (char &c : s)
            c = alphabet[rng() % 3];
        return s;
	};
	for (int i = 0; i < 20000; i++) {
		const std::string      hay_s = text(8), needle_s = text(3);
		const std::string_view hay = hay_s, needle = needle_s;
		SCOPED_TRACE(testing::Message() << "[" << hay << "] [" << needle << "]");
		const size_t first = hay.empty() ? hay.npos : needle.empty() ? 0 : hay.find(needle);
		const size_t last  = hay.empty() ? hay.npos : needle.empty() ? 0 : hay.rfind(needle);
		const char  *h = hay.data(), *n = needle.data();
		ASSERT_EQ(M_mem_mem(h, hay.size(), n, needle.size()), first == hay.npos ? nullptr : h + first);
		ASSERT_EQ(M_mem_rmem(h, hay.size(), n, needle.size()), last == hay.npos ? nullptr : h + last);
		size_t idx = 99;
		ASSERT_EQ(M_mem_mempos(h, hay.size(), n, needle.size(), &idx), first != hay.npos);
		ASSERT_EQ(idx, first == hay.npos ? 99 : first);
		ASSERT_EQ(M_mem_contains(h, hay.size(), n, needle.size()), first != hay.npos);
		const size_t common = std::min(hay.size(), needle.size());
		ASSERT_EQ(M_mem_eq(h, n, common), hay.substr(0, common) == needle.substr(0, common));
		const int order = hay.size() != needle.size() ? (hay.size() < needle.size() ? -1 : 1) : hay.compare(needle);
		const int got   = M_mem_cmpsort(h, hay.size(), n, needle.size());
		ASSERT_EQ((got > 0) - (got < 0), (order > 0) - (order < 0));
		ASSERT_EQ(M_mem_count(h, hay.size(), '\0'), static_cast<size_t>(std::count(hay.begin(), hay.end(), '\0')));
		const size_t at = hay.find('b');
		ASSERT_EQ(M_mem_chr(h, 'b', hay.size()), at == hay.npos ? nullptr : h + at);
	}
	/* NULL: equal only to itself, sorts first; a NULL needle of any length
	 * is found at the start. */
	EXPECT_TRUE(M_mem_eq(nullptr, nullptr, 5));
	EXPECT_FALSE(M_mem_eq("a", nullptr, 0));
	EXPECT_LT(M_mem_cmpsort(nullptr, 1, "b", 1), 0);
	EXPECT_GT(M_mem_cmpsort("a", 1, nullptr, 1), 0);
	EXPECT_GT(M_mem_cmpsort("\xff", 1, "\x01", 1), 0); /* bytes compare unsigned */
	const char *abc = "abc";
	EXPECT_EQ(M_mem_mem(abc, 3, nullptr, 3), abc);

	uint8_t b[] = {1, 2, 3};
	EXPECT_EQ(
	    (std::vector<int>{M_mem_swap_bytes(b, 0, 0, 0), M_mem_swap_bytes(b, 3, 0, 3), M_mem_swap_bytes(b, 3, 3, 0),
	                      M_mem_swap_bytes(b, 3, 1, 1), M_mem_swap_bytes(b, 3, 0, 2), b[0], b[1], b[2]}),
	    (std::vector<int>{0, 0, 0, 1, 1, 3, 2, 1}));
}

TEST(m_mem, checksums)
{
	/* The catalogued check values of "123456789", and high bytes (the table's
	 * upper half). Empty input is 0, not the register's initial value. */
	const struct {
		const char *in;
		size_t      len;
		uint32_t    crc8, crc16, crc32, lrc;
	} cases[] = {{"123456789", 9, 0xF4, 0x29B1, 0xCBF43926u, 0x31},
	             {"\xff", 1, 0xF3, 0xFF00, 0xFF000000u, 0xFF},
	             {"\x01\x02\x04\x80", 4, 0x1D, 0xC158, 0x13A82A33u, 0x87},
	             {"abc", 0, 0, 0, 0, 0}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.in);
		EXPECT_EQ(M_mem_calc_crc8_ccitt(c.in, c.len), c.crc8);
		EXPECT_EQ(M_mem_calc_crc16_ccitt(c.in, c.len), c.crc16);
		EXPECT_EQ(M_mem_calc_crc32(c.in, c.len), c.crc32);
		EXPECT_EQ(M_mem_calc_lrc(c.in, c.len), c.lrc);
	}
}

/* A wiped part of a kept block, runtime or mapped: its bytes no longer hold the
 * old content, its whole pages are not resident, nothing around it changes. */
TEST(m_mem, wipe_release_wipes_the_part_and_gives_back_its_pages)
{
	const size_t page = m::detail::mem_page_size();
	for (size_t size : {static_cast<size_t>(256) << 10, m::detail::mem_map_threshold() + (4u << 20)}) {
		auto *b = static_cast<unsigned char *>(M_malloc(size));
		ASSERT_NE(b, nullptr);
		std::memset(b, 'A', size);
		const size_t from = 3 * page + 17;
		const size_t len  = size / 2;
		M_mem_wipe_release(b + from, len);
#if M_TEST_POSIX /* Linux only: which pages are resident (mincore) */
		unsigned char *whole    = b + from + (page - reinterpret_cast<uintptr_t>(b + from) % page);
		unsigned char  resident = 1;
		ASSERT_EQ(mincore(whole, page, &resident), 0);
		EXPECT_EQ(resident & 1, 0) << size;
#endif
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
