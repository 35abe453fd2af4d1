/* The sorts, the binary search and the standard comparators. Both sorts are
 * checked against std::sort / std::stable_sort over element sizes, counts and
 * input patterns (the quicksort's shape changes at 7, 8 and 40 elements). */
#include "tests/test_util.h"

#include "containers/m_sort_binary.h"
#include "containers/m_sort_compar.h"
#include "containers/m_sort_mergesort.h"
#include "containers/m_sort_qsort.h"

namespace {

/* The key: byte 0 below 4 bytes, else the 32-bit number at offset 0; the rest
 * of an element is its original position, so lost or torn elements show. */
uint32_t key_of(const void *e, size_t size)
{
	uint32_t k = 0;
	std::memcpy(&k, e, size < 4 ? 1 : 4);
	return k;
}

int cmp_key(const void *a, const void *b, void *thunk)
{
	const size_t   size = *static_cast<const size_t *>(thunk);
	const uint32_t ka = key_of(a, size), kb = key_of(b, size);
	return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

int cmp_int(const void *a, const void *b, void *thunk)
{
	if (thunk != nullptr)
		++*static_cast<int *>(thunk);
	const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
	return x < y ? -1 : (x > y ? 1 : 0);
}

/* The comparisons the quicksort makes on v. */
size_t comparisons(std::vector<int> v)
{
	int n = 0;
	M_sort_qsort(v.data(), v.size(), sizeof(int), cmp_int, &n);
	EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
	return static_cast<size_t>(n);
}

int sign(int v)
{
	return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

/* A length-prefixed block as the wrapped-binary comparator reads it. */
std::vector<unsigned char> wrap(const std::string &s)
{
	std::vector<unsigned char> w(8 + s.size());
	const uint64_t             len = s.size();
	std::memcpy(w.data(), &len, 8);
	std::memcpy(w.data() + 8, s.data(), s.size());
	return w;
}

using sort_fn = void (*)(void *, size_t, size_t, M_sort_compar_t, void *);

/* Sorts n elements of one pattern at a byte offset (0 keeps 8-byte alignment,
 * 1 forces byte-wise swaps) and compares with the standard library: exactly
 * with stable_sort when `stable`, else the keys and the multiset of elements. */
void check(sort_fn sort, bool stable, size_t n, size_t size, int pattern, size_t offset, std::mt19937 &rng)
{
	std::vector<std::string> in;
	for (size_t i = 0; i < n; i++) {
		const uint32_t keys[] = {static_cast<uint32_t>(rng()),
		                         static_cast<uint32_t>(rng() % 5),
		                         static_cast<uint32_t>(i),
		                         static_cast<uint32_t>(n - i),
		                         7,
		                         static_cast<uint32_t>(i < n / 2 ? i : n - i),
		                         static_cast<uint32_t>(i % 17)};
		std::string    e(size, '\0');
		std::memcpy(e.data(), &keys[pattern], size < 4 ? 1 : 4);
		for (size_t b = (size < 4 ? 1 : 4); b < size; b++)
			e[b] = static_cast<char>((i >> (8 * ((b - 1) % 8))) & 0xFF);
		in.push_back(e);
	}
	std::vector<char> buf(n * size + 16);
	char             *base = buf.data() + (8 - reinterpret_cast<uintptr_t>(buf.data()) % 8) % 8 + offset;
	for (size_t i = 0; i < n; i++)
		std::memcpy(base + i * size, in[i].data(), size);
	size_t thunk = size;
	sort(base, n, size, cmp_key, &thunk);
	std::vector<std::string> got, ref = in;
	for (size_t i = 0; i < n; i++)
		got.emplace_back(base + i * size, size);
	auto less = [size](const std::string &a, const std::string &b) {
		return key_of(a.data(), size) < key_of(b.data(), size);
	};
	std::stable_sort(ref.begin(), ref.end(), less);
	if (stable) {
		ASSERT_EQ(got, ref) << "n=" << n << " size=" << size << " pattern " << pattern;
		return;
	}
	for (size_t i = 0; i < n; i++)
		ASSERT_EQ(key_of(got[i].data(), size), key_of(ref[i].data(), size)) << "n=" << n << " size=" << size;
	std::sort(got.begin(), got.end());
	std::sort(ref.begin(), ref.end());
	ASSERT_EQ(got, ref) << "n=" << n << " size=" << size;
}

} // namespace

TEST(m_sort, both_sorts_match_the_standard_library)
{
	std::mt19937 rng(2024);
	const size_t sizes[]  = {1, 2, 3, 4, 5, 7, 8, 11, 12, 13, 16, 24, 40};
	const size_t counts[] = {0, 1, 2, 3, 5, 6, 7, 8, 9, 31, 40, 41, 42, 64, 65, 257, 1000};
	for (auto [sort, stable] : {std::pair<sort_fn, bool>{M_sort_qsort, false}, {M_sort_mergesort, true}}) {
		for (size_t size : sizes)
			for (size_t n : counts)
				for (int p = 0; p < 7; p++)
					for (size_t offset : {0, 1}) {
						check(sort, stable, n, size, p, offset, rng);
						if (HasFatalFailure())
							return;
					}
		for (int p = 0; p < 6; p++) {
			check(sort, stable, 30000, 8, p, 0, rng);
			check(sort, stable, 10000, 13, p, 0, rng);
		}
	}
	int    v[3] = {3, 1, 2};
	size_t four = sizeof(int);
	for (sort_fn sort : {M_sort_qsort, M_sort_mergesort}) {
		sort(nullptr, 3, 4, cmp_key, &four);
		sort(v, 3, 4, nullptr, nullptr);
		sort(v, 3, 0, cmp_key, &four);
		sort(v, 1, 4, cmp_key, &four);
		EXPECT_EQ(std::vector<int>(v, v + 3), (std::vector<int>{3, 1, 2}));
	}
}

/* The pivot choice and the gathering of equal elements keep the quicksort
 * at n log n comparisons on the inputs that make a plain one quadratic;
 * a short sorted array is left to insertion sort, one comparison a step. */
TEST(m_sort, qsort_comparison_bound)
{
	const int        n = 4096; /* 2^12 */
	std::vector<int> up(n), down(n), pipe(n), scrambled(n);
	for (int i = 0; i < n; i++) {
		up[i]        = i;
		down[i]      = n - i;
		pipe[i]      = std::min(i, n - i);
		scrambled[i] = (i * 7919) % n;
	}
	const std::vector<int> *inputs[] = {&up, &down, &pipe, &scrambled};
	for (size_t k = 0; k < 4; k++)
		EXPECT_LE(comparisons(*inputs[k]), 2u * n * 12) << "input " << k;
	EXPECT_LE(comparisons(std::vector<int>(n, 7)), 2u * n);
	EXPECT_EQ(comparisons({1, 2, 3, 4, 5, 6}), 5u);
}

TEST(m_sort, binary_search_and_insert_idx_against_bounds)
{
	std::mt19937 rng(8);
	for (int round = 0; round < 4000; round++) {
		std::vector<int> v(rng() % 40);
		for (int &x : v)
			x = static_cast<int>(rng() % 12);
		std::sort(v.begin(), v.end());
		const int    key = static_cast<int>(rng() % 14) - 1;
		const size_t lo  = static_cast<size_t>(std::lower_bound(v.begin(), v.end(), key) - v.begin());
		const size_t hi  = static_cast<size_t>(std::upper_bound(v.begin(), v.end(), key) - v.begin());
		/* Stable: after every equal element; unstable: anywhere in order. */
		ASSERT_EQ(M_sort_binary_insert_idx(v.data(), v.size(), 4, &key, M_TRUE, cmp_int, nullptr), hi);
		const size_t u = M_sort_binary_insert_idx(v.data(), v.size(), 4, &key, M_FALSE, cmp_int, nullptr);
		ASSERT_TRUE(u >= lo && u <= hi);
		/* Search: stable finds the first of the run; unstable any of it. */
		size_t idx = 12345;
		ASSERT_EQ(M_sort_binary_search(v.data(), v.size(), 4, &key, M_TRUE, cmp_int, nullptr, &idx), lo < hi);
		ASSERT_EQ(idx, lo < hi ? lo : 12345u);
		ASSERT_EQ(M_sort_binary_search(v.data(), v.size(), 4, &key, M_FALSE, cmp_int, nullptr, &idx), lo < hi);
		if (lo < hi) {
			ASSERT_EQ(v[idx], key);
		}
	}
}

TEST(m_sort, binary_early_outs)
{
	/* Unstable: a key at or past the last element costs one comparison. */
	std::vector<int> v(1000);
	for (size_t i = 0; i < v.size(); i++)
		v[i] = static_cast<int>(i);
	int    calls = 0, past = 5000, last = 999;
	size_t idx = 0;
	EXPECT_EQ(M_sort_binary_insert_idx(v.data(), 1000, 4, &past, M_FALSE, cmp_int, &calls), 1000u);
	EXPECT_FALSE(M_sort_binary_search(v.data(), 1000, 4, &past, M_FALSE, cmp_int, &calls, nullptr));
	EXPECT_TRUE(M_sort_binary_search(v.data(), 1000, 4, &last, M_FALSE, cmp_int, &calls, &idx));
	EXPECT_EQ(idx, 999u);
	EXPECT_EQ(calls, 3);
	/* Without an array, key or comparator the insertion point is the end. */
	EXPECT_EQ(M_sort_binary_insert_idx(nullptr, 3, 4, &past, M_TRUE, cmp_int, nullptr), 3u);
	EXPECT_EQ(M_sort_binary_insert_idx(v.data(), 3, 4, nullptr, M_TRUE, cmp_int, nullptr), 3u);
	EXPECT_EQ(M_sort_binary_insert_idx(v.data(), 3, 4, &past, M_TRUE, nullptr, nullptr), 3u);
	EXPECT_TRUE(M_sort_binary_search(v.data(), 3, 4, &v[2], M_TRUE, cmp_int, nullptr, nullptr));
}

TEST(m_sort, comparators)
{
	/* Comparators receive element addresses: addresses of stored pointers.
	 * The string order itself is the string module's (tested there); here
	 * the case rule, the descending forms, and a NULL string as the empty
	 * one. */
	const struct {
		const char *a, *b;
		int         cmp, casecmp;
	} strs[] = {{"A", "a", -1, 0}, {"B", "a", -1, 1}, {nullptr, "", 0, 0}, {"b", nullptr, 1, 1}};
	for (const auto &c : strs) {
		EXPECT_EQ(sign(M_sort_compar_str(&c.a, &c.b, nullptr)), c.cmp) << c.a << " " << c.b;
		EXPECT_EQ(sign(M_sort_compar_str_desc(&c.a, &c.b, nullptr)), -c.cmp) << c.a << " " << c.b;
		EXPECT_EQ(sign(M_sort_compar_str_casecmp(&c.a, &c.b, nullptr)), c.casecmp) << c.a << " " << c.b;
		EXPECT_EQ(sign(M_sort_compar_str_casecmp_desc(&c.a, &c.b, nullptr)), -c.casecmp) << c.a << " " << c.b;
	}
	uint64_t             n5 = 5, n7 = 7, n0 = 0;
	const uint64_t      *p5 = &n5, *p7 = &n7, *p0 = &n0, *p5b = &n5, *pnull = nullptr;
	int                  arr[2];
	const void          *lo = &arr[0], *hi = &arr[1], *lo2 = lo;
	auto                 w_ab = wrap("ab"), w_ac = wrap("ac"), w_abc = wrap("abc"), w_z = wrap("z"), w_ab2 = wrap("ab");
	const unsigned char *ab = w_ab.data(), *ac = w_ac.data(), *abc = w_abc.data(), *z = w_z.data(), *ab2 = w_ab2.data(),
	                    *nul = nullptr, *nul2 = nullptr;
	/* NULL addresses and NULL stored numbers count as 0; a NULL pointer or
	 * block sorts first ascending. Blocks compare with their length prefix. */
	const struct {
		M_sort_compar_t fn;
		const void     *a, *b;
		int             want;
	} rows[] = {{M_sort_compar_u64, &p5, &p7, -1},          {M_sort_compar_u64, &p7, &p5, 1},
	            {M_sort_compar_u64, &p5, &p5b, 0},          {M_sort_compar_u64_desc, &p5, &p7, 1},
	            {M_sort_compar_u64, nullptr, &p0, 0},       {M_sort_compar_u64, &pnull, &p5, -1},
	            {M_sort_compar_vp, &lo, &hi, -1},           {M_sort_compar_vp, &lo, &lo2, 0},
	            {M_sort_compar_vp_desc, &lo, &hi, 1},       {M_sort_compar_vp, nullptr, &lo, -1},
	            {M_sort_compar_vp, &lo, nullptr, 1},        {M_sort_compar_binwraped, &ab, &ac, -1},
	            {M_sort_compar_binwraped, &z, &ab, -1},     {M_sort_compar_binwraped, &ab, &abc, -1},
	            {M_sort_compar_binwraped, &ab, &ab2, 0},    {M_sort_compar_binwraped, nullptr, &ab, -1},
	            {M_sort_compar_binwraped, &ab, nullptr, 1}, {M_sort_compar_binwraped, &nul, &ab, -1},
	            {M_sort_compar_binwraped, &ab, &nul, 1},    {M_sort_compar_binwraped, &nul, &nul2, 0}};
	for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++)
		EXPECT_EQ(sign(rows[i].fn(rows[i].a, rows[i].b, nullptr)), rows[i].want) << "row " << i;
}
