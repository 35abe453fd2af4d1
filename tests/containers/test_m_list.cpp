/* Tests for the dynamic list: storage rules (capacity, front slack,
 * hysteresis), STACK indexing, sorted and stable inserts, set tests,
 * batching, searching, removal, duplicate and merge with their ownership. */
#include <gtest/gtest.h>

#include "containers/m_list.h"
#include "containers/m_list_int.h"
#include "containers/m_sort_compar.h"
#include "core/m_mem.h"

#include <algorithm>
#include <random>
#include <vector>

using m::detail::list_capacity;
using m::detail::list_front_slack;

namespace {

/* Values are pointers to ints; the comparator reads the ints. */
int cmp_int(const void *a, const void *b, void *thunk)
{
	M_UNUSED(thunk);
	const int x = **static_cast<const int *const *>(a);
	const int y = **static_cast<const int *const *>(b);
	return x < y ? -1 : (x > y ? 1 : 0);
}

/* Comparator on the first character only (ties among different strings). */
int cmp_first_char(const void *a, const void *b, void *thunk)
{
	int *calls = static_cast<int *>(thunk);
	if (calls != nullptr)
		++*calls;
	const char x = (*static_cast<const char *const *>(a))[0];
	const char y = (*static_cast<const char *const *>(b))[0];
	return x - y;
}

int g_frees  = 0;
int g_copies = 0;

void count_free(void *v)
{
	g_frees++;
	M_free(v);
}

void *int_dup(const void *v)
{
	g_copies++;
	return M_memdup(v, sizeof(int));
}

std::vector<int> contents(const M_list_t *l)
{
	std::vector<int> out;
	for (size_t i = 0; i < M_list_len(l); i++)
		out.push_back(*static_cast<const int *>(M_list_at(l, i)));
	return out;
}

/* A list that owns copies of ints. */
M_list_t *owning_list(uint32_t flags)
{
	struct M_list_callbacks cb = {cmp_int, int_dup, int_dup, count_free};
	return M_list_create(&cb, flags);
}

} // namespace

TEST(m_list, capacity_sequence_and_shrink_hysteresis)
{
	int       v[20];
	M_list_t *l = M_list_create(nullptr, M_LIST_NONE);
	EXPECT_EQ(list_capacity(l), 4u);

	std::vector<size_t> caps;
	for (int i = 0; i < 9; i++) {
		v[i] = i;
		ASSERT_TRUE(M_list_insert(l, &v[i]));
		caps.push_back(list_capacity(l));
	}
	/* The 5th insert doubles to 8, the 9th to 16. */
	EXPECT_EQ(caps, (std::vector<size_t>{4, 4, 4, 4, 8, 8, 8, 8, 16}));

	/* Down from 9 elements: 8 and 7 keep 16; 6 halves to 8. */
	ASSERT_TRUE(M_list_remove_last(l));
	EXPECT_EQ(list_capacity(l), 16u);
	ASSERT_TRUE(M_list_remove_last(l));
	EXPECT_EQ(M_list_len(l), 7u);
	EXPECT_EQ(list_capacity(l), 16u);
	ASSERT_TRUE(M_list_remove_last(l));
	EXPECT_EQ(M_list_len(l), 6u);
	EXPECT_EQ(list_capacity(l), 8u);
	/* Hysteresis: growing back to 8 elements does not reallocate. */
	ASSERT_TRUE(M_list_insert(l, &v[0]));
	ASSERT_TRUE(M_list_insert(l, &v[1]));
	EXPECT_EQ(list_capacity(l), 8u);
	/* 8 slots: half 4, shrink at count <= 3; never below 4. */
	while (M_list_len(l) > 4)
		ASSERT_TRUE(M_list_remove_last(l));
	EXPECT_EQ(list_capacity(l), 8u);
	ASSERT_TRUE(M_list_remove_last(l));
	EXPECT_EQ(list_capacity(l), 4u);
	while (M_list_len(l) > 0)
		ASSERT_TRUE(M_list_remove_first(l));
	EXPECT_EQ(list_capacity(l), 4u);
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, nevershrink_keeps_storage)
{
	int       v[16] = {};
	M_list_t *l     = M_list_create(nullptr, M_LIST_NEVERSHRINK);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	EXPECT_EQ(list_capacity(l), 16u);
	while (M_list_len(l) > 0)
		(void)M_list_take_last(l);
	EXPECT_EQ(list_capacity(l), 16u);
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, front_slack_queue_does_not_shift)
{
	int       v[8] = {0, 1, 2, 3, 4, 5, 6, 7};
	M_list_t *l    = M_list_create(nullptr, M_LIST_NONE);
	for (int i = 0; i < 4; i++)
		ASSERT_TRUE(M_list_insert(l, &v[i]));

	/* Removing at the front only advances the start. */
	EXPECT_EQ(M_list_take_first(l), &v[0]);
	EXPECT_EQ(list_front_slack(l), 1u);
	EXPECT_EQ(M_list_take_first(l), &v[1]);
	EXPECT_EQ(list_front_slack(l), 2u);

	/* Inserting at index 0 reuses the slack. */
	ASSERT_TRUE(M_list_insert_at(l, &v[7], 0));
	EXPECT_EQ(list_front_slack(l), 1u);
	EXPECT_EQ(list_capacity(l), 4u);

	/* Appending when the elements touch the end moves them down instead of
	 * growing. */
	ASSERT_TRUE(M_list_insert(l, &v[4]));
	EXPECT_EQ(list_front_slack(l), 0u);
	EXPECT_EQ(list_capacity(l), 4u);
	EXPECT_EQ(contents(l), (std::vector<int>{7, 2, 3, 4}));

	/* Emptying resets the start. */
	while (M_list_len(l) > 0)
		(void)M_list_take_first(l);
	EXPECT_EQ(list_front_slack(l), 0u);
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, stack_indexing)
{
	int       a = 1, b = 2, c = 3, d = 4;
	M_list_t *l = M_list_create(nullptr, M_LIST_STACK);
	ASSERT_TRUE(M_list_insert(l, &a));
	ASSERT_TRUE(M_list_insert(l, &b));
	ASSERT_TRUE(M_list_insert(l, &c));
	EXPECT_EQ(M_list_at(l, 0), &c);
	EXPECT_EQ(M_list_at(l, 1), &b);
	EXPECT_EQ(M_list_at(l, 2), &a);
	EXPECT_EQ(M_list_first(l), &c);
	EXPECT_EQ(M_list_last(l), &a);
	EXPECT_EQ(M_list_insert_idx(l, &d), 0u);

	size_t idx = 99;
	ASSERT_TRUE(M_list_index_of(l, &a, M_LIST_MATCH_PTR, &idx));
	EXPECT_EQ(idx, 2u);

	/* Positional insert counts from the newest too. */
	ASSERT_TRUE(M_list_insert_at(l, &d, 1));
	EXPECT_EQ(M_list_at(l, 0), &c);
	EXPECT_EQ(M_list_at(l, 1), &d);
	EXPECT_EQ(M_list_at(l, 2), &b);
	ASSERT_TRUE(M_list_insert_at(l, &d, 100)); /* past the end: the oldest end */
	EXPECT_EQ(M_list_last(l), &d);

	EXPECT_EQ(M_list_take_first(l), &c);
	EXPECT_EQ(M_list_take_last(l), &d);
	EXPECT_EQ(M_list_take_at(l, 1), &b);
	EXPECT_EQ(M_list_len(l), 2u);
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, invalid_flag_combinations)
{
	struct M_list_callbacks cb = {cmp_int, nullptr, nullptr, nullptr};
	EXPECT_EQ(M_list_create(nullptr, M_LIST_SORTED), nullptr);
	EXPECT_EQ(M_list_create(nullptr, M_LIST_SET_VAL), nullptr);
	EXPECT_EQ(M_list_create(&cb, M_LIST_SORTED | M_LIST_STACK), nullptr);
	struct M_list_callbacks nocmp = {nullptr, nullptr, nullptr, nullptr};
	EXPECT_EQ(M_list_create(&nocmp, M_LIST_SORTED), nullptr);

	M_list_t *ok = M_list_create(nullptr, M_LIST_SET_PTR | M_LIST_STACK);
	EXPECT_NE(ok, nullptr);
	M_list_destroy(ok, M_TRUE);
}

TEST(m_list, stable_sorted_inserts)
{
	/* Case-insensitive stable list of strings: b, A, a holds A, a, b. */
	const char             *b = "b", *A = "A", *a = "a", *a2 = "a";
	struct M_list_callbacks cb = {M_sort_compar_str_casecmp, nullptr, nullptr, nullptr};
	M_list_t               *l  = M_list_create(&cb, M_LIST_SORTED | M_LIST_STABLE);
	ASSERT_TRUE(M_list_insert(l, b));
	ASSERT_TRUE(M_list_insert(l, A));
	ASSERT_TRUE(M_list_insert(l, a));
	ASSERT_EQ(M_list_len(l), 3u);
	EXPECT_EQ(M_list_at(l, 0), A);
	EXPECT_EQ(M_list_at(l, 1), a);
	EXPECT_EQ(M_list_at(l, 2), b);
	/* Another equal key goes after the equal ones. */
	EXPECT_EQ(M_list_insert_idx(l, a2), 2u);
	ASSERT_TRUE(M_list_insert(l, a2));
	EXPECT_EQ(M_list_at(l, 2), a2);
	M_list_destroy(l, M_FALSE);

	/* A second equal value into a one-element stable list goes after it. */
	const char *x1 = "x1", *x2 = "x2";
	cb.equality = cmp_first_char;
	l           = M_list_create(&cb, M_LIST_SORTED | M_LIST_STABLE);
	ASSERT_TRUE(M_list_insert(l, x1));
	ASSERT_TRUE(M_list_insert(l, x2));
	EXPECT_EQ(M_list_at(l, 0), x1);
	EXPECT_EQ(M_list_at(l, 1), x2);
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, stable_order_survives_many_inserts)
{
	/* Many values over few keys: each key's values stay in insertion
	 * order, and the list stays sorted. */
	std::mt19937            rng(3);
	std::vector<int>        vals(2000);
	struct M_list_callbacks cb = {cmp_int, nullptr, nullptr, nullptr};
	M_list_t               *l  = M_list_create(&cb, M_LIST_SORTED | M_LIST_STABLE);
	for (int &v : vals) {
		v = static_cast<int>(rng() % 10);
		ASSERT_TRUE(M_list_insert(l, &v));
	}
	const int *prev = nullptr;
	for (size_t i = 0; i < M_list_len(l); i++) {
		const int *cur = static_cast<const int *>(M_list_at(l, i));
		if (prev != nullptr) {
			ASSERT_LE(*prev, *cur);
			if (*prev == *cur) {
				ASSERT_LT(prev, cur); /* insertion order = address order here */
			}
		}
		prev = cur;
	}
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, sorted_list_rules)
{
	int                     v[] = {5, 1, 4, 2, 3, 3};
	struct M_list_callbacks cb  = {cmp_int, nullptr, nullptr, nullptr};
	M_list_t               *l   = M_list_create(&cb, M_LIST_SORTED);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	EXPECT_EQ(contents(l), (std::vector<int>{1, 2, 3, 3, 4, 5}));

	int    seven = 7;
	size_t idx;
	/* Positional operations are refused on sorted lists. */
	EXPECT_FALSE(M_list_insert_at(l, &seven, 0));
	EXPECT_FALSE(M_list_replace_at(l, &seven, 0));
	EXPECT_FALSE(M_list_swap(l, 0, 1));
	EXPECT_EQ(M_list_len(l), 6u);

	/* Searches: first of the equal run; MATCH_PTR finds the very pointer. */
	int three = 3;
	ASSERT_TRUE(M_list_index_of(l, &three, M_LIST_MATCH_VAL, &idx));
	EXPECT_EQ(idx, 2u);
	EXPECT_FALSE(M_list_index_of(l, &three, M_LIST_MATCH_PTR, &idx));
	ASSERT_TRUE(M_list_index_of(l, &v[5], M_LIST_MATCH_PTR, &idx));
	EXPECT_EQ(M_list_at(l, idx), &v[5]);
	ASSERT_TRUE(M_list_index_of(l, &v[4], M_LIST_MATCH_PTR, &idx));
	EXPECT_EQ(M_list_at(l, idx), &v[4]);
	EXPECT_EQ(M_list_count(l, &three, M_LIST_MATCH_VAL), 2u);
	EXPECT_EQ(M_list_count(l, &v[4], M_LIST_MATCH_PTR), 1u);
	EXPECT_EQ(M_list_insert_idx(l, &seven), 6u);

	/* Batching: inserts append, searches scan, the end sorts once. */
	int late[] = {0, 9, 3};
	M_list_insert_begin(l);
	for (int &x : late)
		ASSERT_TRUE(M_list_insert(l, &x));
	EXPECT_EQ(M_list_at(l, 6), &late[0]);
	ASSERT_TRUE(M_list_index_of(l, &late[1], M_LIST_MATCH_VAL, &idx));
	EXPECT_EQ(idx, 7u);
	ASSERT_TRUE(M_list_insert_at(l, &seven, 0)); /* allowed while batching */
	M_list_insert_end(l);
	EXPECT_EQ(contents(l), (std::vector<int>{0, 1, 2, 3, 3, 3, 4, 5, 7, 9}));
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, set_tests)
{
	int                     a = 1, a_twin = 1, b = 2;
	struct M_list_callbacks cb = {cmp_int, nullptr, nullptr, nullptr};

	M_list_t *sv = M_list_create(&cb, M_LIST_SET_VAL);
	EXPECT_TRUE(M_list_insert(sv, &a));
	EXPECT_FALSE(M_list_insert(sv, &a_twin));
	EXPECT_FALSE(M_list_insert_at(sv, &a_twin, 0));
	EXPECT_TRUE(M_list_insert(sv, &b));
	EXPECT_EQ(M_list_len(sv), 2u);
	M_list_destroy(sv, M_FALSE);

	/* SET_PTR wins over SET_VAL: an equal value at another address is
	 * accepted, the same pointer is not. */
	M_list_t *sp = M_list_create(&cb, M_LIST_SET_PTR | M_LIST_SET_VAL | M_LIST_SORTED);
	EXPECT_TRUE(M_list_insert(sp, &a));
	EXPECT_TRUE(M_list_insert(sp, &a_twin));
	EXPECT_FALSE(M_list_insert(sp, &a));
	EXPECT_EQ(M_list_len(sp), 2u);
	M_list_destroy(sp, M_FALSE);
}

TEST(m_list, positional_operations)
{
	int       v[] = {0, 1, 2, 3, 4};
	M_list_t *l   = M_list_create(nullptr, M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(l, &v[0]));
	ASSERT_TRUE(M_list_insert_at(l, &v[2], 50)); /* past the end appends */
	ASSERT_TRUE(M_list_insert_at(l, &v[1], 1));
	EXPECT_EQ(contents(l), (std::vector<int>{0, 1, 2}));

	EXPECT_FALSE(M_list_swap(l, 0, 3)); /* index equal to the count */
	EXPECT_FALSE(M_list_swap(l, 1, 1));
	EXPECT_TRUE(M_list_swap(l, 0, 2));
	EXPECT_EQ(contents(l), (std::vector<int>{2, 1, 0}));

	EXPECT_TRUE(M_list_replace_at(l, &v[4], 1));
	EXPECT_FALSE(M_list_replace_at(l, &v[4], 3));
	EXPECT_EQ(contents(l), (std::vector<int>{2, 4, 0}));

	EXPECT_EQ(M_list_at(l, 3), nullptr);
	EXPECT_EQ(M_list_take_at(l, 3), nullptr);
	EXPECT_FALSE(M_list_remove_at(l, 3));
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, removal_releases_values)
{
	g_frees       = 0;
	M_list_t *l   = owning_list(M_LIST_NONE);
	int       v[] = {1, 2, 3, 2, 5, 2, 7, 8};
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	EXPECT_EQ(g_frees, 0);

	int two = 2;
	EXPECT_EQ(M_list_remove_val(l, &two, M_LIST_MATCH_VAL), 1u);
	EXPECT_EQ(g_frees, 1);
	EXPECT_EQ(contents(l), (std::vector<int>{1, 3, 2, 5, 2, 7, 8}));
	EXPECT_EQ(M_list_remove_val(l, &two, M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(g_frees, 3);
	/* Stored values are copies: the caller's pointer never matches. */
	EXPECT_EQ(M_list_remove_val(l, &v[0], M_LIST_MATCH_PTR), 0u);

	/* Range: end clamped; invalid ranges refused. */
	EXPECT_FALSE(M_list_remove_range(l, 3, 2));
	EXPECT_FALSE(M_list_remove_range(l, 5, 9));
	EXPECT_TRUE(M_list_remove_range(l, 3, 100));
	EXPECT_EQ(contents(l), (std::vector<int>{1, 3, 5}));
	EXPECT_EQ(g_frees, 5);

	/* take hands the value over without releasing it. */
	void *t = M_list_take_first(l);
	EXPECT_EQ(*static_cast<int *>(t), 1);
	EXPECT_EQ(g_frees, 5);
	M_free(t);

	EXPECT_TRUE(M_list_remove_first(l));
	EXPECT_TRUE(M_list_remove_last(l));
	EXPECT_FALSE(M_list_remove_last(l));
	EXPECT_EQ(g_frees, 7);
	M_list_destroy(l, M_TRUE);
}

TEST(m_list, remove_duplicates_keeps_first)
{
	int       v[] = {3, 1, 3, 2, 1, 3};
	M_list_t *l   = owning_list(M_LIST_NONE);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	g_frees = 0;
	M_list_remove_duplicates(l, M_LIST_MATCH_VAL);
	EXPECT_EQ(contents(l), (std::vector<int>{3, 1, 2}));
	EXPECT_EQ(g_frees, 3);
	M_list_destroy(l, M_TRUE);

	/* Sorted list, and by pointer. */
	l = owning_list(M_LIST_SORTED);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	M_list_remove_duplicates(l, M_LIST_MATCH_PTR);
	EXPECT_EQ(M_list_len(l), 6u); /* every stored copy is a distinct pointer */
	M_list_remove_duplicates(l, M_LIST_MATCH_VAL);
	EXPECT_EQ(contents(l), (std::vector<int>{1, 2, 3}));
	M_list_destroy(l, M_TRUE);

	l      = M_list_create(nullptr, M_LIST_NONE);
	int *p = &v[0];
	ASSERT_TRUE(M_list_insert(l, p));
	ASSERT_TRUE(M_list_insert(l, &v[2]));
	ASSERT_TRUE(M_list_insert(l, p));
	M_list_remove_duplicates(l, M_LIST_MATCH_PTR);
	EXPECT_EQ(M_list_len(l), 2u);
	M_list_remove_duplicates(l, M_LIST_MATCH_VAL); /* no equality: nothing */
	EXPECT_EQ(M_list_len(l), 2u);
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, replace_val)
{
	int       v[]  = {4, 1, 4, 2};
	int       four = 4, nine = 9, zero = 0;
	M_list_t *l = owning_list(M_LIST_NONE);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	EXPECT_EQ(M_list_replace_val(l, &four, &nine, M_LIST_MATCH_VAL), 1u);
	EXPECT_EQ(contents(l), (std::vector<int>{9, 1, 4, 2}));
	EXPECT_EQ(M_list_replace_val(l, &nine, &zero, M_LIST_MATCH_ALL), 1u);
	int four2 = 4;
	EXPECT_EQ(M_list_replace_val(l, &four, &four2, M_LIST_MATCH_VAL), 0u); /* new equals old */
	EXPECT_EQ(contents(l), (std::vector<int>{0, 1, 4, 2}));
	M_list_destroy(l, M_TRUE);

	/* Sorted: the replaced values move to the new value's place. */
	l = owning_list(M_LIST_SORTED);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	EXPECT_EQ(M_list_replace_val(l, &four, &zero, M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(contents(l), (std::vector<int>{0, 0, 1, 2}));
	M_list_destroy(l, M_TRUE);
}

TEST(m_list, change_sorting)
{
	int                     v[] = {3, 1, 2};
	struct M_list_callbacks cb  = {cmp_int, nullptr, nullptr, nullptr};
	M_list_t               *l   = M_list_create(&cb, M_LIST_NONE);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	M_list_change_sorting(l, nullptr, M_LIST_SORTED, nullptr); /* NULL equality refused */
	EXPECT_EQ(contents(l), (std::vector<int>{3, 1, 2}));
	M_list_change_sorting(l, cmp_int, M_LIST_SORTED | M_LIST_STABLE, nullptr);
	EXPECT_EQ(contents(l), (std::vector<int>{1, 2, 3}));
	EXPECT_FALSE(M_list_swap(l, 0, 1));
	/* Off: order kept, positional operations allowed again. */
	M_list_change_sorting(l, cmp_int, 0, nullptr);
	EXPECT_TRUE(M_list_swap(l, 0, 2));
	EXPECT_EQ(contents(l), (std::vector<int>{3, 2, 1}));
	int zero = 0;
	ASSERT_TRUE(M_list_insert(l, &zero));
	EXPECT_EQ(M_list_last(l), &zero);
	M_list_destroy(l, M_FALSE);

	/* Refused for STACK lists. */
	l = M_list_create(&cb, M_LIST_STACK);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	M_list_change_sorting(l, cmp_int, M_LIST_SORTED, nullptr);
	EXPECT_EQ(contents(l), (std::vector<int>{2, 1, 3}));
	M_list_destroy(l, M_FALSE);
}

TEST(m_list, duplicate_copies_values)
{
	int       v[]   = {2, 1, 3};
	int       calls = 0;
	M_list_t *l     = owning_list(M_LIST_SORTED);
	for (int &x : v)
		ASSERT_TRUE(M_list_insert(l, &x));
	g_copies    = 0;
	M_list_t *d = M_list_duplicate(l);
	EXPECT_EQ(g_copies, 3);
	EXPECT_EQ(contents(d), (std::vector<int>{1, 2, 3}));
	EXPECT_NE(M_list_at(d, 0), M_list_at(l, 0));
	int zero = 0;
	ASSERT_TRUE(M_list_insert(d, &zero)); /* still sorted */
	EXPECT_EQ(contents(d), (std::vector<int>{0, 1, 2, 3}));
	EXPECT_EQ(contents(l), (std::vector<int>{1, 2, 3}));
	M_list_destroy(l, M_TRUE);
	M_list_destroy(d, M_TRUE);

	/* The comparator's context comes along: sorted copies keep working. */
	struct M_list_callbacks cb = {cmp_first_char, nullptr, nullptr, nullptr};
	M_list_t               *s  = M_list_create(&cb, M_LIST_NONE);
	M_list_change_sorting(s, cmp_first_char, M_LIST_SORTED, &calls);
	ASSERT_TRUE(M_list_insert(s, "b"));
	ASSERT_TRUE(M_list_insert(s, "a"));
	M_list_t *sd     = M_list_duplicate(s);
	const int before = calls;
	ASSERT_TRUE(M_list_insert(sd, "c"));
	EXPECT_GT(calls, before);
	EXPECT_STREQ(static_cast<const char *>(M_list_last(sd)), "c");
	M_list_destroy(s, M_FALSE);
	M_list_destroy(sd, M_FALSE);
}

TEST(m_list, merge)
{
	int v[] = {1, 2, 3, 4};

	/* Empty or NULL destination: it becomes the source. */
	M_list_t *dest = nullptr;
	M_list_t *src  = M_list_create(nullptr, M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(src, &v[0]));
	M_list_merge(&dest, src, M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(dest, src);
	M_list_t *empty = M_list_create(nullptr, M_LIST_NONE);
	src             = dest;
	M_list_merge(&empty, src, M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(empty, src);
	M_list_destroy(empty, M_FALSE);

	/* Duplicates released with the source's value_free. */
	M_list_t *d = owning_list(M_LIST_SORTED);
	M_list_t *s = owning_list(M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(d, &v[2]));
	ASSERT_TRUE(M_list_insert(d, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[3]));
	ASSERT_TRUE(M_list_insert(s, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	g_frees = 0;
	M_list_merge(&d, s, M_FALSE, M_LIST_MATCH_VAL);
	EXPECT_EQ(g_frees, 1);
	EXPECT_EQ(contents(d), (std::vector<int>{1, 2, 3, 4}));
	M_list_destroy(d, M_TRUE);

	/* A value repeated within the source is already in the destination
	 * once its first copy has moved: moved once, the repeats released. */
	d = owning_list(M_LIST_NONE);
	s = owning_list(M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(d, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	ASSERT_TRUE(M_list_insert(s, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	g_frees = 0;
	M_list_merge(&d, s, M_FALSE, M_LIST_MATCH_VAL);
	EXPECT_EQ(g_frees, 3);
	EXPECT_EQ(contents(d), (std::vector<int>{1, 2}));
	M_list_destroy(d, M_TRUE);

	/* The same by pointer: the second copy of one pointer is dropped. */
	d = M_list_create(nullptr, M_LIST_NONE);
	s = M_list_create(nullptr, M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(d, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[2]));
	ASSERT_TRUE(M_list_insert(s, &v[2]));
	M_list_merge(&d, s, M_FALSE, M_LIST_MATCH_PTR);
	ASSERT_EQ(M_list_len(d), 2u);
	EXPECT_EQ(M_list_at(d, 1), &v[2]);
	M_list_destroy(d, M_FALSE);

	/* include_duplicates keeps them. */
	d = owning_list(M_LIST_NONE);
	s = owning_list(M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(d, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[0]));
	M_list_merge(&d, s, M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(contents(d), (std::vector<int>{1, 1}));
	M_list_destroy(d, M_TRUE);

	/* A SET destination never keeps duplicates, also among the source's
	 * own values. */
	d = owning_list(M_LIST_SET_VAL);
	s = owning_list(M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(d, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	ASSERT_TRUE(M_list_insert(s, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	g_frees = 0;
	M_list_merge(&d, s, M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(g_frees, 2);
	EXPECT_EQ(contents(d), (std::vector<int>{1, 2}));
	M_list_destroy(d, M_TRUE);

	/* By pointer. */
	d = M_list_create(nullptr, M_LIST_NONE);
	s = M_list_create(nullptr, M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(d, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[0]));
	ASSERT_TRUE(M_list_insert(s, &v[1]));
	M_list_merge(&d, s, M_FALSE, M_LIST_MATCH_PTR);
	EXPECT_EQ(M_list_len(d), 2u);
	M_list_merge(&d, nullptr, M_FALSE, M_LIST_MATCH_PTR);
	EXPECT_EQ(M_list_len(d), 2u);
	M_list_destroy(d, M_FALSE);
}

TEST(m_list, destroy_releases_only_when_asked)
{
	g_frees     = 0;
	M_list_t *l = owning_list(M_LIST_NONE);
	int       v = 1;
	ASSERT_TRUE(M_list_insert(l, &v));
	ASSERT_TRUE(M_list_insert(l, &v));
	M_list_destroy(l, M_TRUE);
	EXPECT_EQ(g_frees, 2);

	l = owning_list(M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(l, &v));
	void *kept = const_cast<void *>(M_list_at(l, 0));
	M_list_destroy(l, M_FALSE);
	EXPECT_EQ(g_frees, 2);
	M_free(kept);
}

TEST(m_list, random_operations_against_model)
{
	std::mt19937     rng(11);
	std::vector<int> pool(64);
	for (size_t i = 0; i < pool.size(); i++)
		pool[i] = static_cast<int>(i);
	for (uint32_t flags : {static_cast<uint32_t>(M_LIST_NONE), static_cast<uint32_t>(M_LIST_STACK)}) {
		M_list_t                *l = M_list_create(nullptr, flags);
		std::vector<const int *> model; /* logical order */
		for (int step = 0; step < 20000; step++) {
			const int *p  = &pool[rng() % pool.size()];
			const int  op = static_cast<int>(rng() % 6);
			if (op == 0) {
				ASSERT_TRUE(M_list_insert(l, p));
				if (flags & M_LIST_STACK)
					model.insert(model.begin(), p);
				else
					model.push_back(p);
			} else if (op == 1) {
				const size_t idx = rng() % (model.size() + 2);
				ASSERT_TRUE(M_list_insert_at(l, p, idx));
				model.insert(model.begin() + static_cast<long>(std::min(idx, model.size())), p);
			} else if (op == 2 && !model.empty()) {
				ASSERT_EQ(M_list_take_first(l), model.front());
				model.erase(model.begin());
			} else if (op == 3 && !model.empty()) {
				ASSERT_EQ(M_list_take_last(l), model.back());
				model.pop_back();
			} else if (op == 4 && !model.empty()) {
				const size_t idx = rng() % model.size();
				ASSERT_EQ(M_list_take_at(l, idx), model[idx]);
				model.erase(model.begin() + static_cast<long>(idx));
			} else if (op == 5 && !model.empty() && rng() % 4 == 0) {
				const size_t s = rng() % model.size();
				const size_t e = s + rng() % 5;
				ASSERT_TRUE(M_list_remove_range(l, s, e));
				model.erase(model.begin() + static_cast<long>(s),
				            model.begin() + static_cast<long>(std::min(e + 1, model.size())));
			}
			ASSERT_EQ(M_list_len(l), model.size());
			ASSERT_GE(list_capacity(l), 4u);
			ASSERT_LE(list_front_slack(l) + M_list_len(l), list_capacity(l));
			if (step % 97 == 0) {
				for (size_t i = 0; i < model.size(); i++)
					ASSERT_EQ(M_list_at(l, i), model[i]);
			}
		}
		M_list_destroy(l, M_FALSE);
	}
}

TEST(m_list, null_list_arguments)
{
	int    v   = 1;
	size_t idx = 5;
	EXPECT_EQ(M_list_len(nullptr), 0u);
	EXPECT_FALSE(M_list_insert(nullptr, &v));
	EXPECT_EQ(M_list_insert_idx(nullptr, &v), 0u);
	EXPECT_FALSE(M_list_insert_at(nullptr, &v, 0));
	M_list_insert_begin(nullptr);
	M_list_insert_end(nullptr);
	EXPECT_EQ(M_list_count(nullptr, &v, 0), 0u);
	EXPECT_FALSE(M_list_index_of(nullptr, &v, 0, &idx));
	EXPECT_EQ(idx, 5u);
	EXPECT_EQ(M_list_first(nullptr), nullptr);
	EXPECT_EQ(M_list_last(nullptr), nullptr);
	EXPECT_EQ(M_list_at(nullptr, 0), nullptr);
	EXPECT_EQ(M_list_take_first(nullptr), nullptr);
	EXPECT_EQ(M_list_take_last(nullptr), nullptr);
	EXPECT_EQ(M_list_take_at(nullptr, 0), nullptr);
	EXPECT_FALSE(M_list_remove_first(nullptr));
	EXPECT_FALSE(M_list_remove_last(nullptr));
	EXPECT_FALSE(M_list_remove_at(nullptr, 0));
	EXPECT_FALSE(M_list_remove_range(nullptr, 0, 1));
	EXPECT_EQ(M_list_remove_val(nullptr, &v, 0), 0u);
	M_list_remove_duplicates(nullptr, 0);
	EXPECT_EQ(M_list_replace_val(nullptr, &v, &idx, 0), 0u);
	EXPECT_FALSE(M_list_replace_at(nullptr, &v, 0));
	EXPECT_FALSE(M_list_swap(nullptr, 0, 1));
	EXPECT_EQ(M_list_duplicate(nullptr), nullptr);
	M_list_change_sorting(nullptr, cmp_int, M_LIST_SORTED, nullptr);
	M_list_merge(nullptr, nullptr, M_TRUE, 0);
	M_list_destroy(nullptr, M_TRUE);
	EXPECT_EQ(list_capacity(nullptr), 0u);

	/* Empty list and a list without equality. */
	M_list_t *l = M_list_create(nullptr, M_LIST_NONE);
	EXPECT_EQ(M_list_first(l), nullptr);
	EXPECT_EQ(M_list_last(l), nullptr);
	EXPECT_FALSE(M_list_index_of(l, &v, M_LIST_MATCH_VAL, nullptr));
	ASSERT_TRUE(M_list_insert(l, &v));
	EXPECT_FALSE(M_list_index_of(l, &v, M_LIST_MATCH_VAL, nullptr));
	EXPECT_TRUE(M_list_index_of(l, &v, M_LIST_MATCH_PTR, nullptr));
	EXPECT_EQ(M_list_count(l, &v, M_LIST_MATCH_VAL), 0u);
	ASSERT_TRUE(M_list_insert(l, nullptr)); /* NULL is a storable value */
	EXPECT_EQ(M_list_len(l), 2u);
	EXPECT_TRUE(M_list_index_of(l, nullptr, M_LIST_MATCH_PTR, &idx));
	EXPECT_EQ(idx, 1u);
	M_list_destroy(l, M_TRUE);
}
