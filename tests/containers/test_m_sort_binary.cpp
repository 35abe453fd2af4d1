/* Tests for the binary search and binary insertion point. */
#include <gtest/gtest.h>

#include "containers/m_sort_binary.h"

#include <algorithm>
#include <random>
#include <vector>

namespace {

int cmp_int(const void *a, const void *b, void *thunk)
{
	if (thunk != nullptr)
		++*static_cast<int *>(thunk);
	const int x = *static_cast<const int *>(a);
	const int y = *static_cast<const int *>(b);
	return x < y ? -1 : (x > y ? 1 : 0);
}

size_t ins(const std::vector<int> &v, int key, bool stable)
{
	return M_sort_binary_insert_idx(v.data(), v.size(), sizeof(int), &key, stable, cmp_int, nullptr);
}

} // namespace

TEST(m_sort_binary, insert_idx_documented_cases)
{
	struct {
		std::vector<int> v;
		int              key;
		size_t           stable, unstable;
	} const cases[] = {
	    {{1, 2, 2, 2, 3}, 2, 4, 2},
	    {{1, 2, 2, 2}, 2, 4, 4},
	    {{2, 2, 2}, 2, 3, 3},
	    {{1, 3, 5}, 0, 0, 0},
	    {{1, 3, 5}, 1, 1, 0},
	    {{1, 3, 5}, 2, 1, 1},
	    {{1, 3, 5}, 4, 2, 2},
	    {{1, 3, 5}, 6, 3, 3},
	    {{5}, 5, 1, 1},
	    {{5}, 4, 0, 0},
	    {{}, 4, 0, 0},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(ins(c.v, c.key, true), c.stable) << "key " << c.key;
		EXPECT_EQ(ins(c.v, c.key, false), c.unstable) << "key " << c.key;
	}
}

TEST(m_sort_binary, insert_idx_against_bounds)
{
	std::mt19937 rng(8);
	for (int round = 0; round < 2000; round++) {
		std::vector<int> v(rng() % 40);
		for (int &x : v)
			x = static_cast<int>(rng() % 12);
		std::sort(v.begin(), v.end());
		const int    key = static_cast<int>(rng() % 14) - 1;
		const size_t lo  = static_cast<size_t>(std::lower_bound(v.begin(), v.end(), key) - v.begin());
		const size_t hi  = static_cast<size_t>(std::upper_bound(v.begin(), v.end(), key) - v.begin());
		/* Stable: after every equal element. */
		ASSERT_EQ(ins(v, key, true), hi);
		/* Unstable: anywhere that keeps the order. */
		const size_t u = ins(v, key, false);
		ASSERT_GE(u, lo);
		ASSERT_LE(u, hi);
	}
}

TEST(m_sort_binary, search)
{
	std::mt19937 rng(9);
	for (int round = 0; round < 2000; round++) {
		std::vector<int> v(rng() % 40);
		for (int &x : v)
			x = static_cast<int>(rng() % 12);
		std::sort(v.begin(), v.end());
		const int  key   = static_cast<int>(rng() % 14) - 1;
		const auto lo    = std::lower_bound(v.begin(), v.end(), key);
		const bool found = lo != v.end() && *lo == key;
		size_t     idx   = 12345;
		ASSERT_EQ(M_sort_binary_search(v.data(), v.size(), sizeof(int), &key, M_TRUE, cmp_int, nullptr, &idx), found);
		if (found) {
			ASSERT_EQ(idx, static_cast<size_t>(lo - v.begin())); /* first of the run */
		} else {
			ASSERT_EQ(idx, 12345u);
		}
		idx = 12345;
		ASSERT_EQ(M_sort_binary_search(v.data(), v.size(), sizeof(int), &key, M_FALSE, cmp_int, nullptr, &idx), found);
		if (found) {
			ASSERT_EQ(v[idx], key);
		}
	}
}

TEST(m_sort_binary, unstable_checks_ends_first)
{
	/* A key beyond the last element is answered with one comparison. */
	std::vector<int> v(1000);
	for (size_t i = 0; i < v.size(); i++)
		v[i] = static_cast<int>(i);
	int calls = 0;
	int key   = 5000;
	EXPECT_EQ(M_sort_binary_insert_idx(v.data(), v.size(), sizeof(int), &key, M_FALSE, cmp_int, &calls), 1000u);
	EXPECT_EQ(calls, 1);
	calls = 0;
	EXPECT_FALSE(M_sort_binary_search(v.data(), v.size(), sizeof(int), &key, M_FALSE, cmp_int, &calls, nullptr));
	EXPECT_EQ(calls, 1);
	calls = 0;
	key   = 999;
	size_t idx;
	EXPECT_TRUE(M_sort_binary_search(v.data(), v.size(), sizeof(int), &key, M_FALSE, cmp_int, &calls, &idx));
	EXPECT_EQ(idx, 999u);
	EXPECT_EQ(calls, 1);
}

TEST(m_sort_binary, null_arguments)
{
	int    v[3] = {1, 2, 3};
	int    key  = 2;
	size_t idx  = 77;
	EXPECT_EQ(M_sort_binary_insert_idx(nullptr, 3, sizeof(int), &key, M_TRUE, cmp_int, nullptr), 3u);
	EXPECT_EQ(M_sort_binary_insert_idx(v, 3, sizeof(int), nullptr, M_TRUE, cmp_int, nullptr), 3u);
	EXPECT_EQ(M_sort_binary_insert_idx(v, 3, sizeof(int), &key, M_TRUE, nullptr, nullptr), 3u);
	EXPECT_EQ(M_sort_binary_insert_idx(v, 0, sizeof(int), &key, M_TRUE, cmp_int, nullptr), 0u);
	EXPECT_FALSE(M_sort_binary_search(nullptr, 3, sizeof(int), &key, M_TRUE, cmp_int, nullptr, &idx));
	EXPECT_FALSE(M_sort_binary_search(v, 3, sizeof(int), nullptr, M_TRUE, cmp_int, nullptr, &idx));
	EXPECT_FALSE(M_sort_binary_search(v, 3, sizeof(int), &key, M_TRUE, nullptr, nullptr, &idx));
	EXPECT_FALSE(M_sort_binary_search(v, 0, sizeof(int), &key, M_TRUE, cmp_int, nullptr, &idx));
	EXPECT_EQ(idx, 77u);
	EXPECT_TRUE(M_sort_binary_search(v, 3, sizeof(int), &key, M_TRUE, cmp_int, nullptr, nullptr));
}
