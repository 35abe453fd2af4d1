#include <gtest/gtest.h>

#include "containers/m_list.h"
#include "containers/m_llist.h"
#include "containers/m_llist_int.h"
#include "containers/m_sort_compar.h"
#include "core/m_mem.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

/* Stable storage for the numbers the lists point to. */
struct numbers {
	std::deque<uint64_t> store;
	uint64_t            *add(uint64_t v)
	{
		store.push_back(v);
		return &store.back();
	}
};

uint64_t num(const M_llist_node_t *n)
{
	return *static_cast<const uint64_t *>(M_llist_node_val(n));
}

/* Walks level 0 both ways and checks the links agree with the tail. */
std::vector<uint64_t> forward(const M_llist_t *l)
{
	std::vector<uint64_t> out;
	const M_llist_node_t *prev = nullptr;
	for (M_llist_node_t *n = M_llist_first(l); n != nullptr; n = M_llist_node_next(n)) {
		EXPECT_EQ(M_llist_node_prev(n), prev);
		out.push_back(num(n));
		prev = n;
	}
	EXPECT_EQ(M_llist_last(l), prev);
	EXPECT_EQ(out.size(), M_llist_len(l));
	return out;
}

std::vector<std::string> strings(const M_llist_t *l)
{
	std::vector<std::string> out;
	size_t                   left = M_llist_len(l);
	for (M_llist_node_t *n = M_llist_first(l); n != nullptr && left > 0; n = M_llist_node_next(n), left--)
		out.emplace_back(static_cast<const char *>(M_llist_node_val(n)));
	return out;
}

int  frees = 0;
void count_free(void *p)
{
	frees++;
	M_free(p);
}

void *dup_str(const void *p)
{
	const char *s = static_cast<const char *>(p);
	return M_memdup(s, std::char_traits<char>::length(s) + 1);
}

int cmp_str(const void *a, const void *b, void *thunk)
{
	(void)thunk;
	return std::string(*static_cast<const char *const *>(a)).compare(*static_cast<const char *const *>(b));
}

/* A string list that owns copies and counts releases. */
M_llist_t *owned_strings(uint32_t flags)
{
	struct M_llist_callbacks cbs = {cmp_str, dup_str, dup_str, count_free};
	return M_llist_create(&cbs, flags);
}

M_llist_t *sorted_u64()
{
	struct M_llist_callbacks cbs = {M_sort_compar_u64, nullptr, nullptr, nullptr};
	return M_llist_create(&cbs, M_LLIST_SORTED);
}

} // namespace

TEST(m_llist, creation_flags)
{
	struct M_llist_callbacks cbs = {M_sort_compar_u64, nullptr, nullptr, nullptr};
	EXPECT_EQ(M_llist_create(&cbs, M_LLIST_SORTED | M_LLIST_CIRCULAR), nullptr);

	M_llist_t *plain = M_llist_create(nullptr, M_LLIST_NONE);
	ASSERT_NE(plain, nullptr);
	EXPECT_EQ(m::detail::llist_levels(plain), 1u);
	M_llist_destroy(plain, M_TRUE);

	M_llist_t *sorted = sorted_u64();
	ASSERT_NE(sorted, nullptr);
	EXPECT_EQ(m::detail::llist_levels(sorted), 4u);
	M_llist_destroy(sorted, M_FALSE);
}

TEST(m_llist, null_arguments)
{
	numbers nb;
	M_llist_destroy(nullptr, M_TRUE);
	EXPECT_EQ(M_llist_insert(nullptr, nb.add(1)), nullptr);
	EXPECT_EQ(M_llist_insert_first(nullptr, nb.add(1)), nullptr);
	EXPECT_EQ(M_llist_insert_before(nullptr, nb.add(1)), nullptr);
	EXPECT_EQ(M_llist_insert_after(nullptr, nb.add(1)), nullptr);
	EXPECT_FALSE(M_llist_set_first(nullptr));
	EXPECT_FALSE(M_llist_set_last(nullptr));
	EXPECT_FALSE(M_llist_move_before(nullptr, nullptr));
	EXPECT_FALSE(M_llist_move_after(nullptr, nullptr));
	EXPECT_EQ(M_llist_len(nullptr), 0u);
	EXPECT_EQ(M_llist_first(nullptr), nullptr);
	EXPECT_EQ(M_llist_last(nullptr), nullptr);
	EXPECT_EQ(M_llist_node_next(nullptr), nullptr);
	EXPECT_EQ(M_llist_node_prev(nullptr), nullptr);
	EXPECT_EQ(M_llist_node_val(nullptr), nullptr);
	EXPECT_EQ(M_llist_find(nullptr, nb.add(1), 0), nullptr);
	EXPECT_EQ(M_llist_count(nullptr, nb.add(1), 0), 0u);
	EXPECT_EQ(M_llist_take_node(nullptr), nullptr);
	EXPECT_FALSE(M_llist_remove_node(nullptr));
	EXPECT_EQ(M_llist_remove_val(nullptr, nb.add(1), 0), 0u);
	M_llist_remove_duplicates(nullptr, 0);
	EXPECT_EQ(M_llist_duplicate(nullptr), nullptr);
	EXPECT_FALSE(M_llist_change_sorting(nullptr, M_sort_compar_u64, nullptr));
	M_llist_merge(nullptr, nullptr, M_TRUE, 0);

	M_llist_t *l = M_llist_create(nullptr, M_LLIST_NONE);
	EXPECT_EQ(M_llist_insert(l, nullptr), nullptr);
	EXPECT_EQ(M_llist_find(l, nullptr, M_LIST_MATCH_PTR), nullptr);
	M_llist_merge(&l, nullptr, M_TRUE, 0);
	EXPECT_EQ(M_llist_len(l), 0u);
	/* No equality callback: value searches find nothing, pointer ones work. */
	uint64_t *v = nb.add(7);
	M_llist_insert(l, v);
	EXPECT_EQ(M_llist_find(l, v, M_LIST_MATCH_VAL), nullptr);
	EXPECT_NE(M_llist_find(l, v, M_LIST_MATCH_PTR), nullptr);
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, sorted_small)
{
	numbers    nb;
	M_llist_t *l = sorted_u64();
	for (uint64_t v : {5, 1, 3})
		ASSERT_NE(M_llist_insert(l, nb.add(v)), nullptr);
	EXPECT_EQ(forward(l), (std::vector<uint64_t>{1, 3, 5}));
	EXPECT_EQ(num(M_llist_last(l)), 5u);

	/* Positional operations are refused on a sorted list. */
	EXPECT_EQ(M_llist_insert_first(l, nb.add(0)), nullptr);
	EXPECT_EQ(M_llist_insert_before(M_llist_first(l), nb.add(0)), nullptr);
	EXPECT_EQ(M_llist_insert_after(M_llist_first(l), nb.add(0)), nullptr);
	EXPECT_FALSE(M_llist_set_first(M_llist_last(l)));
	EXPECT_FALSE(M_llist_set_last(M_llist_first(l)));
	EXPECT_FALSE(M_llist_move_before(M_llist_last(l), M_llist_first(l)));
	EXPECT_EQ(M_llist_len(l), 3u);
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, sorted_random_inserts_and_removals)
{
	numbers                       nb;
	std::mt19937_64               gen(12345);
	M_llist_t                    *l = sorted_u64();
	std::vector<uint64_t>         model;
	std::vector<M_llist_node_t *> nodes;

	for (int round = 0; round < 4000; round++) {
		if (model.empty() || gen() % 3 != 0) {
			uint64_t        v = gen() % 500; /* plenty of equal values */
			M_llist_node_t *n = M_llist_insert(l, nb.add(v));
			ASSERT_NE(n, nullptr);
			nodes.push_back(n);
			model.push_back(v);
		} else {
			size_t          i = gen() % nodes.size();
			M_llist_node_t *n = nodes[i];
			uint64_t        v = num(n);
			EXPECT_TRUE(M_llist_remove_node(n));
			nodes.erase(nodes.begin() + static_cast<long>(i));
			model.erase(std::find(model.begin(), model.end(), v));
		}
		if (round % 500 == 0) {
			std::vector<uint64_t> want = model;
			std::sort(want.begin(), want.end());
			ASSERT_EQ(forward(l), want);
		}
	}
	std::vector<uint64_t> want = model;
	std::sort(want.begin(), want.end());
	EXPECT_EQ(forward(l), want);

	/* Every value present is found, and the node found is the first of its
     * equal run; values absent are not found. */
	for (uint64_t v = 0; v < 500; v++) {
		uint64_t        key = v;
		M_llist_node_t *n   = M_llist_find(l, &key, M_LIST_MATCH_VAL);
		size_t          cnt = static_cast<size_t>(std::count(model.begin(), model.end(), v));
		EXPECT_EQ(M_llist_count(l, &key, M_LIST_MATCH_VAL), cnt);
		if (cnt == 0) {
			EXPECT_EQ(n, nullptr);
			continue;
		}
		ASSERT_NE(n, nullptr);
		EXPECT_EQ(num(n), v);
		M_llist_node_t *p = M_llist_node_prev(n);
		if (p != nullptr) {
			EXPECT_LT(num(p), v);
		}
	}
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, sorted_equal_run_find)
{
	numbers    nb;
	M_llist_t *l = sorted_u64();
	uint64_t  *a = nb.add(4);
	uint64_t  *b = nb.add(4);
	uint64_t  *c = nb.add(4);
	M_llist_insert(l, nb.add(9));
	M_llist_insert(l, a);
	M_llist_insert(l, nb.add(2));
	M_llist_insert(l, b);
	M_llist_insert(l, c);

	/* Equal values keep insertion order; find yields the first of them. */
	uint64_t        four = 4;
	M_llist_node_t *n    = M_llist_find(l, &four, M_LIST_MATCH_VAL);
	ASSERT_NE(n, nullptr);
	EXPECT_EQ(M_llist_node_val(n), a);
	EXPECT_EQ(M_llist_node_val(M_llist_node_next(n)), b);
	EXPECT_EQ(num(M_llist_node_prev(n)), 2u);

	/* MATCH_PTR walks the run to the very pointer. */
	EXPECT_EQ(M_llist_node_val(M_llist_find(l, c, M_LIST_MATCH_PTR)), c);
	EXPECT_EQ(M_llist_find(l, &four, M_LIST_MATCH_PTR), nullptr);
	EXPECT_EQ(M_llist_count(l, b, M_LIST_MATCH_PTR), 1u);
	EXPECT_EQ(M_llist_count(l, &four, M_LIST_MATCH_VAL), 3u);

	EXPECT_EQ(M_llist_remove_val(l, b, M_LIST_MATCH_PTR), 1u);
	EXPECT_EQ(M_llist_count(l, &four, M_LIST_MATCH_VAL), 2u);
	EXPECT_EQ(M_llist_remove_val(l, &four, M_LIST_MATCH_VAL), 1u); /* the first only */
	EXPECT_EQ(M_llist_node_val(M_llist_find(l, &four, M_LIST_MATCH_VAL)), c);
	M_llist_insert(l, a);
	M_llist_insert(l, b);
	EXPECT_EQ(M_llist_remove_val(l, &four, M_LIST_MATCH_ALL), 3u);
	EXPECT_EQ(forward(l), (std::vector<uint64_t>{2, 9}));
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, level_cap_follows_size)
{
	/* A new sorted list has 4 levels and keeps them up to 16 values; past
     * that it gains at most one level per insert and never more than log2
     * of its size rounded up to a power of two. */
	numbers    nb;
	M_llist_t *l = sorted_u64();
	for (uint64_t i = 1; i <= 2048; i++) {
		const size_t before = m::detail::llist_levels(l);
		ASSERT_NE(M_llist_insert(l, nb.add(i * 2654435761u % 1000003u)), nullptr);
		const size_t after = m::detail::llist_levels(l);
		if (i <= 16) {
			ASSERT_EQ(after, 4u) << i;
			continue;
		}
		size_t lg = 0;
		for (uint64_t p = 1; p < i; p <<= 1)
			lg++;
		ASSERT_LE(after, before + 1) << i;
		ASSERT_LE(after, std::max<size_t>(4, lg)) << i;
	}
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, levels_shrink_back_to_one)
{
	numbers                       nb;
	M_llist_t                    *l = sorted_u64();
	std::vector<M_llist_node_t *> nodes;
	for (uint64_t i = 0; i < 4096; i++)
		nodes.push_back(M_llist_insert(l, nb.add((i * 7919) % 4096)));
	/* Far more than 4 levels by now, but no more than log2 of the size. */
	EXPECT_GT(m::detail::llist_levels(l), 4u);
	EXPECT_LE(m::detail::llist_levels(l), 12u);

	for (M_llist_node_t *n : nodes)
		ASSERT_TRUE(M_llist_remove_node(n));
	EXPECT_EQ(M_llist_len(l), 0u);
	EXPECT_EQ(M_llist_first(l), nullptr);
	EXPECT_EQ(M_llist_last(l), nullptr);
	EXPECT_EQ(m::detail::llist_levels(l), 1u);

	/* The list still works and grows again one level per insert at most. */
	for (uint64_t v : {3, 1, 2}) {
		size_t before = m::detail::llist_levels(l);
		ASSERT_NE(M_llist_insert(l, nb.add(v)), nullptr);
		EXPECT_LE(m::detail::llist_levels(l), before + 1);
	}
	EXPECT_EQ(forward(l), (std::vector<uint64_t>{1, 2, 3}));
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, circular)
{
	M_llist_t      *l = owned_strings(M_LLIST_CIRCULAR);
	M_llist_node_t *a = M_llist_insert(l, "a");
	M_llist_node_t *b = M_llist_insert(l, "b");
	M_llist_node_t *c = M_llist_insert(l, "c");
	EXPECT_EQ(M_llist_node_next(c), a);
	EXPECT_EQ(M_llist_node_prev(a), c);
	EXPECT_EQ(M_llist_node_next(a), b);
	EXPECT_EQ(M_llist_find(l, "zz", M_LIST_MATCH_VAL), nullptr); /* one pass, no endless loop */
	EXPECT_EQ(M_llist_find(l, "b", M_LIST_MATCH_VAL), b);
	EXPECT_EQ(M_llist_count(l, "c", M_LIST_MATCH_VAL), 1u);

	/* set_first / set_last only turn the ring. */
	EXPECT_TRUE(M_llist_set_first(b));
	EXPECT_EQ(M_llist_first(l), b);
	EXPECT_EQ(M_llist_last(l), a);
	EXPECT_EQ(strings(l), (std::vector<std::string>{"b", "c", "a"}));
	EXPECT_TRUE(M_llist_set_last(b));
	EXPECT_EQ(M_llist_first(l), c);
	EXPECT_EQ(strings(l), (std::vector<std::string>{"c", "a", "b"}));

	/* Inserting before the head makes a new head inside the ring. */
	M_llist_node_t *z = M_llist_insert_before(c, "z");
	EXPECT_EQ(M_llist_first(l), z);
	EXPECT_EQ(M_llist_node_prev(z), b);
	EXPECT_EQ(M_llist_node_next(b), z);

	frees = 0;
	EXPECT_EQ(M_llist_remove_val(l, "a", M_LIST_MATCH_VAL), 1u);
	EXPECT_EQ(frees, 1);
	EXPECT_EQ(strings(l), (std::vector<std::string>{"z", "c", "b"}));
	M_llist_destroy(l, M_TRUE);
	EXPECT_EQ(frees, 4);
}

TEST(m_llist, plain_positioning)
{
	M_llist_t *l = owned_strings(M_LLIST_NONE);
	EXPECT_FALSE(M_llist_set_first(M_llist_insert(l, "b"))); /* needs two nodes */
	M_llist_node_t *d = M_llist_insert(l, "d");
	M_llist_node_t *a = M_llist_insert_first(l, "a");
	M_llist_insert_after(M_llist_first(l), "a2");
	M_llist_node_t *c = M_llist_insert_before(d, "c");
	M_llist_node_t *e = M_llist_insert_after(d, "e");
	EXPECT_EQ(strings(l), (std::vector<std::string>{"a", "a2", "b", "c", "d", "e"}));
	EXPECT_EQ(M_llist_last(l), e);
	EXPECT_EQ(M_llist_node_next(e), nullptr);
	EXPECT_EQ(M_llist_node_prev(a), nullptr);

	EXPECT_TRUE(M_llist_set_last(a));
	EXPECT_TRUE(M_llist_set_first(d));
	EXPECT_EQ(strings(l), (std::vector<std::string>{"d", "a2", "b", "c", "e", "a"}));
	EXPECT_TRUE(M_llist_move_before(a, c));
	EXPECT_TRUE(M_llist_move_after(d, e));
	EXPECT_EQ(strings(l), (std::vector<std::string>{"a2", "b", "a", "c", "e", "d"}));
	EXPECT_EQ(M_llist_last(l), d);
	EXPECT_FALSE(M_llist_move_after(d, d));

	/* Nodes of another list are refused. */
	M_llist_t      *other = owned_strings(M_LLIST_NONE);
	M_llist_node_t *x     = M_llist_insert(other, "x");
	EXPECT_FALSE(M_llist_move_before(x, a));
	EXPECT_EQ(M_llist_len(other), 1u);

	/* take hands the value over unreleased; remove releases it. */
	frees     = 0;
	char *val = static_cast<char *>(M_llist_take_node(x));
	EXPECT_STREQ(val, "x");
	EXPECT_EQ(frees, 0);
	M_free(val);
	EXPECT_EQ(M_llist_len(other), 0u);
	EXPECT_EQ(M_llist_first(other), nullptr);
	EXPECT_TRUE(M_llist_remove_node(c));
	EXPECT_EQ(frees, 1);
	EXPECT_EQ(strings(l), (std::vector<std::string>{"a2", "b", "a", "e", "d"}));
	M_llist_destroy(other, M_TRUE);
	M_llist_destroy(l, M_TRUE);
}

TEST(m_llist, remove_duplicates)
{
	M_llist_t *l = owned_strings(M_LLIST_NONE);
	for (const char *s : {"x", "y", "x", "z", "y", "x"})
		M_llist_insert(l, s);
	frees = 0;
	M_llist_remove_duplicates(l, M_LIST_MATCH_VAL);
	EXPECT_EQ(frees, 3);
	EXPECT_EQ(strings(l), (std::vector<std::string>{"x", "y", "z"}));
	M_llist_destroy(l, M_TRUE);

	M_llist_t *s = owned_strings(M_LLIST_SORTED);
	for (const char *v : {"m", "b", "m", "a", "b", "m"})
		M_llist_insert(s, v);
	M_llist_remove_duplicates(s, M_LIST_MATCH_VAL);
	EXPECT_EQ(strings(s), (std::vector<std::string>{"a", "b", "m"}));
	M_llist_destroy(s, M_TRUE);

	/* By pointer, equal strings held in different copies all stay. */
	numbers    nb;
	M_llist_t *p   = sorted_u64();
	uint64_t  *one = nb.add(1);
	M_llist_insert(p, one);
	M_llist_insert(p, nb.add(1));
	M_llist_insert(p, one);
	M_llist_remove_duplicates(p, M_LIST_MATCH_PTR);
	EXPECT_EQ(M_llist_len(p), 2u);
	M_llist_destroy(p, M_FALSE);
}

TEST(m_llist, duplicate_and_merge)
{
	M_llist_t *s = owned_strings(M_LLIST_SORTED);
	for (const char *v : {"c", "a", "b"})
		M_llist_insert(s, v);
	M_llist_t *dup = M_llist_duplicate(s);
	ASSERT_NE(dup, nullptr);
	EXPECT_EQ(strings(dup), (std::vector<std::string>{"a", "b", "c"}));
	EXPECT_NE(M_llist_node_val(M_llist_first(dup)), M_llist_node_val(M_llist_first(s))); /* copies */

	/* Merge without duplicates: the two values *dest already has are
     * released, the other is moved. */
	M_llist_t *src = owned_strings(M_LLIST_NONE);
	for (const char *v : {"b", "d", "a"})
		M_llist_insert(src, v);
	frees = 0;
	M_llist_merge(&dup, src, M_FALSE, M_LIST_MATCH_VAL);
	EXPECT_EQ(frees, 2);
	EXPECT_EQ(strings(dup), (std::vector<std::string>{"a", "b", "c", "d"}));

	/* With duplicates everything moves, in sorted places. */
	src = owned_strings(M_LLIST_NONE);
	M_llist_insert(src, "b");
	frees = 0;
	M_llist_merge(&dup, src, M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(frees, 0);
	EXPECT_EQ(strings(dup), (std::vector<std::string>{"a", "b", "b", "c", "d"}));

	/* A NULL destination simply takes src over. */
	M_llist_t *none = nullptr;
	M_llist_merge(&none, s, M_FALSE, 0);
	EXPECT_EQ(none, s);

	frees = 0;
	M_llist_destroy(dup, M_TRUE);
	M_llist_destroy(none, M_TRUE);
	EXPECT_EQ(frees, 8);
}

TEST(m_llist, change_sorting)
{
	numbers    nb;
	M_llist_t *l = M_llist_create(nullptr, M_LLIST_SORTED);
	ASSERT_NE(l, nullptr);
	/* Without a comparator a sorted list cannot place values. */
	EXPECT_EQ(M_llist_insert(l, nb.add(1)), nullptr);
	EXPECT_FALSE(M_llist_change_sorting(l, nullptr, nullptr));
	EXPECT_TRUE(M_llist_change_sorting(l, M_sort_compar_u64_desc, nullptr));
	for (uint64_t v : {2, 9, 4})
		M_llist_insert(l, nb.add(v));
	EXPECT_EQ(forward(l), (std::vector<uint64_t>{9, 4, 2}));
	EXPECT_FALSE(M_llist_change_sorting(l, M_sort_compar_u64, nullptr)); /* not empty */
	M_llist_destroy(l, M_FALSE);

	M_llist_t *plain = M_llist_create(nullptr, M_LLIST_NONE);
	EXPECT_FALSE(M_llist_change_sorting(plain, M_sort_compar_u64, nullptr));
	M_llist_destroy(plain, M_FALSE);
}

namespace {

/* Ascending numbers, descending when the context points to a true flag. */
int cmp_by_thunk(const void *a, const void *b, void *thunk)
{
	const bool desc = thunk != nullptr && *static_cast<bool *>(thunk);
	return desc ? M_sort_compar_u64(b, a, nullptr) : M_sort_compar_u64(a, b, nullptr);
}

} // namespace

TEST(m_llist, change_sorting_thunk)
{
	/* A NULL equality keeps the comparator and installs only the context. */
	numbers                  nb;
	bool                     desc = true;
	struct M_llist_callbacks cbs  = {cmp_by_thunk, nullptr, nullptr, nullptr};
	M_llist_t               *l    = M_llist_create(&cbs, M_LLIST_SORTED);
	EXPECT_TRUE(M_llist_change_sorting(l, nullptr, &desc));
	for (uint64_t v : {2, 9, 4})
		M_llist_insert(l, nb.add(v));
	EXPECT_EQ(forward(l), (std::vector<uint64_t>{9, 4, 2}));

	/* A duplicate starts without the context: the comparator sees NULL and
     * the copy comes out ascending. */
	M_llist_t *dup = M_llist_duplicate(l);
	ASSERT_NE(dup, nullptr);
	EXPECT_EQ(forward(dup), (std::vector<uint64_t>{2, 4, 9}));
	M_llist_destroy(dup, M_FALSE);
	M_llist_destroy(l, M_FALSE);
}
