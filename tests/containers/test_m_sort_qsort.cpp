/* Tests for M_sort_qsort: results against std::sort over many element sizes
 * and input patterns, and the algorithm's fixed shape (insertion sort below
 * 7 elements, median of three from 8, spaced medians above 40). */
#include <gtest/gtest.h>

#include "containers/m_sort_qsort.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

/* Elements of size bytes: the key is byte 0 for sizes below 4, else the
 * 32-bit number at offset 0; the rest of the element is payload. */
struct Layout {
	size_t size;
};

uint32_t key_of(const unsigned char *e, size_t size)
{
	if (size < 4)
		return e[0];
	uint32_t k;
	std::memcpy(&k, e, 4);
	return k;
}

int cmp_key(const void *a, const void *b, void *thunk)
{
	const size_t   size = *static_cast<const size_t *>(thunk);
	const uint32_t ka   = key_of(static_cast<const unsigned char *>(a), size);
	const uint32_t kb   = key_of(static_cast<const unsigned char *>(b), size);
	return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

enum class Pattern { random, few_keys, sorted, reversed, equal, organ_pipe, sawtooth };

std::vector<std::string> make_elems(size_t n, size_t size, Pattern p, std::mt19937 &rng)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < n; i++) {
		uint32_t k = 0;
		switch (p) {
			case Pattern::random:
				k = static_cast<uint32_t>(rng());
				break;
			case Pattern::few_keys:
				k = static_cast<uint32_t>(rng() % 5);
				break;
			case Pattern::sorted:
				k = static_cast<uint32_t>(i);
				break;
			case Pattern::reversed:
				k = static_cast<uint32_t>(n - i);
				break;
			case Pattern::equal:
				k = 7;
				break;
			case Pattern::organ_pipe:
				k = static_cast<uint32_t>(i < n / 2 ? i : n - i);
				break;
			case Pattern::sawtooth:
				k = static_cast<uint32_t>(i % 17);
				break;
		}
		std::string e(size, '\0');
		if (size < 4) {
			e[0] = static_cast<char>(k & 0xFF);
		} else {
			std::memcpy(e.data(), &k, 4);
		}
		/* Payload: the original position, so lost or duplicated elements
		 * show up. */
		for (size_t b = (size < 4 ? 1 : 4); b < size; b++)
			e[b] = static_cast<char>((i >> (8 * ((b - 1) % 8))) & 0xFF);
		v.push_back(e);
	}
	return v;
}

/* Sort the elements with M_sort_qsort at a given byte offset (0 keeps the
 * 8-byte alignment, 1 forces byte swaps) and check against std::sort. */
void check_sort(const std::vector<std::string> &in, size_t size, size_t offset)
{
	std::vector<unsigned char> buf(in.size() * size + 16);
	unsigned char             *base = buf.data();
	base += (8 - reinterpret_cast<uintptr_t>(base) % 8) % 8 + offset;
	for (size_t i = 0; i < in.size(); i++)
		std::memcpy(base + i * size, in[i].data(), size);

	size_t thunk = size;
	M_sort_qsort(base, in.size(), size, cmp_key, &thunk);

	std::vector<std::string> got;
	for (size_t i = 0; i < in.size(); i++)
		got.emplace_back(reinterpret_cast<const char *>(base + i * size), size);

	/* Keys in order. */
	for (size_t i = 1; i < got.size(); i++) {
		ASSERT_LE(key_of(reinterpret_cast<const unsigned char *>(got[i - 1].data()), size),
		          key_of(reinterpret_cast<const unsigned char *>(got[i].data()), size))
		    << "n=" << in.size() << " size=" << size << " at " << i;
	}
	/* Same keys as std::sort gives. */
	std::vector<std::string> ref = in;
	std::sort(ref.begin(), ref.end(), [size](const std::string &a, const std::string &b) {
		return key_of(reinterpret_cast<const unsigned char *>(a.data()), size) <
		       key_of(reinterpret_cast<const unsigned char *>(b.data()), size);
	});
	for (size_t i = 0; i < ref.size(); i++)
		ASSERT_EQ(key_of(reinterpret_cast<const unsigned char *>(ref[i].data()), size),
		          key_of(reinterpret_cast<const unsigned char *>(got[i].data()), size));
	/* The same elements, whole bytes included (nothing lost or torn). */
	std::vector<std::string> a = in;
	std::vector<std::string> b = got;
	std::sort(a.begin(), a.end());
	std::sort(b.begin(), b.end());
	ASSERT_EQ(a, b) << "n=" << in.size() << " size=" << size;
}

} // namespace

TEST(m_sort_qsort, matches_std_sort_many_sizes_and_patterns)
{
	std::mt19937  rng(2024);
	const size_t  sizes[]    = {1, 3, 4, 7, 8, 12, 13, 16, 24, 40};
	const size_t  counts[]   = {0, 1, 2, 3, 6, 7, 8, 9, 40, 41, 42, 100, 257, 1000, 5000};
	const Pattern patterns[] = {Pattern::random, Pattern::few_keys,   Pattern::sorted,  Pattern::reversed,
	                            Pattern::equal,  Pattern::organ_pipe, Pattern::sawtooth};
	for (size_t size : sizes) {
		for (size_t n : counts) {
			for (Pattern p : patterns) {
				const auto in = make_elems(n, size, p, rng);
				check_sort(in, size, 0);
				check_sort(in, size, 1);
				if (HasFatalFailure())
					return;
			}
		}
	}
}

TEST(m_sort_qsort, large_adversarial_inputs)
{
	std::mt19937  rng(5);
	const Pattern patterns[] = {Pattern::random,   Pattern::few_keys, Pattern::sorted,
	                            Pattern::reversed, Pattern::equal,    Pattern::organ_pipe};
	for (Pattern p : patterns) {
		check_sort(make_elems(100000, 8, p, rng), 8, 0);
		check_sort(make_elems(30000, 13, p, rng), 13, 0);
	}
}

TEST(m_sort_qsort, random_u64_against_std_sort)
{
	std::mt19937_64 rng(99);
	for (int round = 0; round < 200; round++) {
		std::vector<uint64_t> v(rng() % 3000);
		for (auto &x : v)
			x = rng() % (round % 2 ? 50 : UINT64_MAX);
		std::vector<uint64_t> ref = v;
		std::sort(ref.begin(), ref.end());
		M_sort_qsort(
		    v.data(), v.size(), sizeof(uint64_t),
		    [](const void *a, const void *b, void *) {
			    const uint64_t x = *static_cast<const uint64_t *>(a);
			    const uint64_t y = *static_cast<const uint64_t *>(b);
			    return x < y ? -1 : (x > y ? 1 : 0);
		    },
		    nullptr);
		ASSERT_EQ(v, ref);
	}
}

namespace {

/* Records the positions (element indexes) of each comparison. */
struct Trace {
	const unsigned char               *base;
	std::vector<std::pair<long, long>> calls;
};

int traced(const void *a, const void *b, void *thunk)
{
	Trace     *t  = static_cast<Trace *>(thunk);
	const long ia = (static_cast<const unsigned char *>(a) - t->base) / 8;
	const long ib = (static_cast<const unsigned char *>(b) - t->base) / 8;
	t->calls.emplace_back(ia, ib);
	const uint64_t x = *static_cast<const uint64_t *>(a);
	const uint64_t y = *static_cast<const uint64_t *>(b);
	return x < y ? -1 : (x > y ? 1 : 0);
}

Trace run_traced(std::vector<uint64_t> &v)
{
	Trace t;
	t.base = reinterpret_cast<const unsigned char *>(v.data());
	M_sort_qsort(v.data(), v.size(), 8, traced, &t);
	return t;
}

} // namespace

TEST(m_sort_qsort, algorithm_shape)
{
	/* 6 sorted elements: insertion sort only, one comparison per element
	 * after the first, each with its left neighbour. */
	std::vector<uint64_t> v6 = {1, 2, 3, 4, 5, 6};
	Trace                 t  = run_traced(v6);
	ASSERT_EQ(t.calls.size(), 5u);
	for (size_t i = 0; i < 5; i++)
		EXPECT_EQ(t.calls[i], std::make_pair(static_cast<long>(i), static_cast<long>(i + 1)));

	/* 6 reversed elements: still no pivot and no partition; every
	 * comparison is of two neighbours, each element walking down to the
	 * front (1 + 2 + 3 + 4 + 5 comparisons). */
	std::vector<uint64_t> r6 = {6, 5, 4, 3, 2, 1};
	t                        = run_traced(r6);
	EXPECT_EQ(t.calls.size(), 15u);
	for (const auto &call : t.calls)
		EXPECT_EQ(call.second - call.first, 1) << call.first << "," << call.second;
	EXPECT_TRUE(std::is_sorted(r6.begin(), r6.end()));

	/* 7 elements: no median; the middle element becomes the pivot at the
	 * front and partitioning starts by comparing element 1 with it. */
	std::vector<uint64_t> v7 = {7, 6, 5, 4, 3, 2, 1};
	t                        = run_traced(v7);
	EXPECT_EQ(t.calls.front(), std::make_pair(1L, 0L));
	EXPECT_TRUE(std::is_sorted(v7.begin(), v7.end()));

	/* 8 to 40 elements: median of first, middle and last. */
	std::vector<uint64_t> v40(40);
	for (size_t i = 0; i < v40.size(); i++)
		v40[i] = (i * 7919) % 40;
	t = run_traced(v40);
	EXPECT_EQ(t.calls[0], std::make_pair(0L, 20L));
	EXPECT_TRUE(std::is_sorted(v40.begin(), v40.end()));

	/* 41 elements: spaced medians d = 41 / 8 = 5 apart: (0, 5, 10) first,
	 * then (15, 20, 25), then (30, 35, 40). */
	std::vector<uint64_t> v41(41);
	for (size_t i = 0; i < v41.size(); i++)
		v41[i] = (i * 7919) % 41;
	t = run_traced(v41);
	EXPECT_EQ(t.calls[0], std::make_pair(0L, 5L));
	bool saw_middle = false;
	bool saw_last   = false;
	for (size_t i = 0; i < 9 && i < t.calls.size(); i++) {
		saw_middle |= t.calls[i] == std::make_pair(15L, 20L);
		saw_last |= t.calls[i] == std::make_pair(30L, 35L);
	}
	EXPECT_TRUE(saw_middle);
	EXPECT_TRUE(saw_last);
	EXPECT_TRUE(std::is_sorted(v41.begin(), v41.end()));
}

TEST(m_sort_qsort, null_and_degenerate_arguments)
{
	uint64_t v[3] = {3, 1, 2};
	auto     cmp  = [](const void *a, const void *b, void *) {
        const uint64_t x = *static_cast<const uint64_t *>(a);
        const uint64_t y = *static_cast<const uint64_t *>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
	};
	M_sort_qsort(nullptr, 3, 8, cmp, nullptr);
	M_sort_qsort(v, 3, 8, nullptr, nullptr);
	M_sort_qsort(v, 3, 0, cmp, nullptr);
	M_sort_qsort(v, 1, 8, cmp, nullptr);
	EXPECT_EQ(v[0], 3u);
	EXPECT_EQ(v[1], 1u);
	M_sort_qsort(v, 3, 8, cmp, nullptr);
	EXPECT_EQ(v[0], 1u);
	EXPECT_EQ(v[2], 3u);
}
