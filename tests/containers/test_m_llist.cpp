/* The linked list: random walks against a vector model are the main check;
 * the cases around them pin skip levels, circular lists, merge and sorting. */
#include "tests/test_util.h"

#include "containers/m_list.h"
#include "containers/m_llist.h"
#include "containers/m_llist_int.h"
#include "containers/m_sort_compar.h"

#include <deque>

using m::detail::llist_levels;
using U64s = std::vector<uint64_t>;
using V    = std::vector<std::string>;

namespace {

/* Stable storage for the numbers the lists point to. */
std::deque<uint64_t> store;
uint64_t            *num(uint64_t v)
{
	store.push_back(v);
	return &store.back();
}
uint64_t num(const M_llist_node_t *n)
{
	return *static_cast<const uint64_t *>(M_llist_node_val(n));
}

/* Level 0 walked forward, checking the back links and the tail agree. */
U64s forward(const M_llist_t *l)
{
	U64s                  out;
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

/* The first len values as strings (also for circular lists). */
V strings(const M_llist_t *l)
{
	V      out;
	size_t left = M_llist_len(l);
	for (M_llist_node_t *n = M_llist_first(l); left > 0; n = M_llist_node_next(n), left--)
		out.emplace_back(static_cast<const char *>(M_llist_node_val(n)));
	return out;
}

using counted = test_util::counting<0>;

/* A string list that owns copies and counts releases. */
M_llist_t *strs(uint32_t flags, const V &vals = {})
{
	struct M_llist_callbacks cbs = {M_sort_compar_str, counted::dup_str, counted::dup_str, counted::free};
	M_llist_t               *l   = M_llist_create(&cbs, flags);
	for (const auto &v : vals)
		M_llist_insert(l, v.c_str());
	return l;
}

M_llist_t *sorted_u64()
{
	struct M_llist_callbacks cbs = {M_sort_compar_u64, nullptr, nullptr, nullptr};
	return M_llist_create(&cbs, M_LLIST_SORTED);
}

} // namespace

TEST(m_llist, sorted_random_walk)
{
	/* Plain lists have one level, a new sorted one 4. */
	M_llist_t *plain = M_llist_create(nullptr, M_LLIST_NONE);
	EXPECT_EQ(llist_levels(plain), 1u);
	M_llist_destroy(plain, M_TRUE);
	std::mt19937_64 gen(12345);
	M_llist_t      *l = sorted_u64();
	EXPECT_EQ(llist_levels(l), 4u);
	U64s                          model;
	std::vector<M_llist_node_t *> nodes;
	for (int round = 0; round < 6000; round++) {
		if (model.empty() || gen() % 3 != 0) {
			const uint64_t  v = gen() % 500; /* plenty of equal values */
			M_llist_node_t *n = M_llist_insert(l, num(v));
			ASSERT_NE(n, nullptr);
			nodes.push_back(n);
			model.insert(std::upper_bound(model.begin(), model.end(), v), v);
		} else {
			const size_t i = gen() % nodes.size();
			model.erase(std::find(model.begin(), model.end(), num(nodes[i])));
			ASSERT_TRUE(M_llist_remove_node(nodes[i]));
			nodes.erase(nodes.begin() + static_cast<long>(i));
		}
		if (round % 500 == 0) {
			ASSERT_EQ(forward(l), model);
		}
	}
	EXPECT_EQ(forward(l), model);
	/* Every value present is found as the first of its equal run and counted;
	 * absent values are not found. */
	for (uint64_t v = 0; v < 500; v++) {
		M_llist_node_t *n   = M_llist_find(l, &v, M_LIST_MATCH_VAL);
		const auto      cnt = static_cast<size_t>(std::count(model.begin(), model.end(), v));
		EXPECT_EQ(M_llist_count(l, &v, M_LIST_MATCH_VAL), cnt);
		ASSERT_EQ(n != nullptr, cnt > 0) << v;
		if (n != nullptr) {
			EXPECT_EQ(num(n), v);
			EXPECT_TRUE(M_llist_node_prev(n) == nullptr || num(M_llist_node_prev(n)) < v);
		}
	}
	EXPECT_GT(llist_levels(l), 4u);
	for (M_llist_node_t *n : nodes)
		ASSERT_TRUE(M_llist_remove_node(n));
	EXPECT_EQ(M_llist_first(l), nullptr);
	EXPECT_EQ(M_llist_last(l), nullptr);
	EXPECT_EQ(llist_levels(l), 1u);
	/* From one level it grows again by at most one level per insert. Heights
	 * are drawn at random, so the list is filled and emptied often enough
	 * for a too-high draw to meet the cap. */
	for (int cycle = 0; cycle < 200; cycle++) {
		std::vector<M_llist_node_t *> fresh;
		for (uint64_t v = 0; v < 16; v++) {
			const size_t before = llist_levels(l);
			fresh.push_back(M_llist_insert(l, num(v)));
			ASSERT_NE(fresh.back(), nullptr);
			ASSERT_LE(llist_levels(l), before + 1) << cycle << ", value " << v;
		}
		for (M_llist_node_t *n : fresh)
			ASSERT_TRUE(M_llist_remove_node(n));
		ASSERT_EQ(llist_levels(l), 1u);
	}
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, sorted_equal_runs_and_refusals)
{
	M_llist_t *l = sorted_u64();
	uint64_t  *a = num(4), *b = num(4), *c = num(4), four = 4;
	for (uint64_t *v : {num(9), a, num(2), b, c})
		M_llist_insert(l, v);
	/* Equal values keep insertion order; MATCH_PTR walks the run. */
	EXPECT_EQ(M_llist_node_val(M_llist_find(l, &four, M_LIST_MATCH_VAL)), a);
	EXPECT_EQ(M_llist_node_val(M_llist_find(l, c, M_LIST_MATCH_PTR)), c);
	EXPECT_EQ(M_llist_find(l, &four, M_LIST_MATCH_PTR), nullptr);
	EXPECT_EQ(M_llist_count(l, b, M_LIST_MATCH_PTR), 1u);
	EXPECT_EQ(M_llist_remove_val(l, b, M_LIST_MATCH_PTR), 1u);
	EXPECT_EQ(M_llist_remove_val(l, &four, M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(forward(l), (U64s{2, 9}));
	/* Positional operations are refused; so is a NULL value. */
	EXPECT_EQ(M_llist_insert(l, nullptr), nullptr);
	EXPECT_EQ(M_llist_insert_first(l, num(uint64_t{0})), nullptr);
	EXPECT_EQ(M_llist_insert_before(M_llist_last(l), num(uint64_t{0})), nullptr);
	EXPECT_EQ(M_llist_insert_after(M_llist_first(l), num(uint64_t{0})), nullptr);
	EXPECT_FALSE(M_llist_set_first(M_llist_last(l)));
	EXPECT_FALSE(M_llist_set_last(M_llist_first(l)));
	EXPECT_FALSE(M_llist_move_before(M_llist_last(l), M_llist_first(l)));
	EXPECT_EQ(forward(l), (U64s{2, 9}));
	M_llist_destroy(l, M_FALSE);
	struct M_llist_callbacks cbs = {M_sort_compar_u64, nullptr, nullptr, nullptr};
	EXPECT_EQ(M_llist_create(&cbs, M_LLIST_SORTED | M_LLIST_CIRCULAR), nullptr);
}

TEST(m_llist, plain_random_walk)
{
	std::mt19937                  gen(5);
	M_llist_t                    *l = M_llist_create(nullptr, M_LLIST_NONE);
	std::vector<M_llist_node_t *> model;
	for (int round = 0; round < 5000; round++) {
		const size_t    n = model.size();
		const size_t    i = n ? gen() % n : 0, j = n ? gen() % n : 0;
		M_llist_node_t *ni = n ? model[i] : nullptr, *nj = n ? model[j] : nullptr;
		const long      at  = static_cast<long>(i);
		uint64_t       *val = num(gen() % 1000);
		switch (n < 3 ? 0 : gen() % 8) {
			case 0:
				model.push_back(M_llist_insert(l, val));
				break;
			case 1:
				model.insert(model.begin(), M_llist_insert_first(l, val));
				break;
			case 2:
				model.insert(model.begin() + at, M_llist_insert_before(ni, val));
				break;
			case 3:
				model.insert(model.begin() + at + 1, M_llist_insert_after(ni, val));
				break;
			case 4:
				ASSERT_EQ(M_llist_set_first(ni), n > 1);
				model.erase(model.begin() + at);
				model.insert(model.begin(), ni);
				break;
			case 5:
				ASSERT_EQ(M_llist_set_last(ni), n > 1);
				model.erase(model.begin() + at);
				model.push_back(ni);
				break;
			case 6:
			case 7: {
				const bool before = gen() % 2;
				ASSERT_EQ(before ? M_llist_move_before(ni, nj) : M_llist_move_after(ni, nj), i != j);
				if (i == j)
					break;
				model.erase(model.begin() + at);
				const auto t = std::find(model.begin(), model.end(), nj);
				model.insert(before ? t : t + 1, ni);
				break;
			}
		}
		if (n > 20 && gen() % 3 == 0) {
			void *v = M_llist_node_val(model[i]);
			ASSERT_EQ(M_llist_take_node(model[i]), v);
			model.erase(model.begin() + at);
		}
		ASSERT_EQ(M_llist_len(l), model.size());
		ASSERT_EQ(M_llist_first(l), model.front());
		ASSERT_EQ(M_llist_last(l), model.back());
		if (round % 50 == 0) {
			U64s want;
			for (M_llist_node_t *m : model)
				want.push_back(num(m));
			ASSERT_EQ(forward(l), want);
		}
	}
	M_llist_t      *other = M_llist_create(nullptr, M_LLIST_NONE);
	M_llist_node_t *x     = M_llist_insert(other, num(1));
	EXPECT_FALSE(M_llist_move_before(x, model[0]));
	EXPECT_FALSE(M_llist_move_after(model[0], x));
	EXPECT_FALSE(M_llist_set_first(x)); /* a single node stays */
	EXPECT_FALSE(M_llist_set_last(x));
	EXPECT_EQ(M_llist_len(other), 1u);
	M_llist_destroy(other, M_FALSE);
	M_llist_destroy(l, M_FALSE);
}

TEST(m_llist, circular)
{
	M_llist_t      *l = strs(M_LLIST_CIRCULAR);
	M_llist_node_t *a = M_llist_insert(l, "a"), *b = M_llist_insert(l, "b"), *c = M_llist_insert(l, "c");
	EXPECT_EQ(M_llist_node_next(c), a);
	EXPECT_EQ(M_llist_node_prev(a), c);
	EXPECT_EQ(M_llist_find(l, "zz", M_LIST_MATCH_VAL), nullptr); /* one pass, no endless loop */
	EXPECT_EQ(M_llist_count(l, "c", M_LIST_MATCH_VAL), 1u);
	/* set_first / set_last only turn the ring; inserting before the head
	 * makes a new head inside it. */
	EXPECT_TRUE(M_llist_set_first(b));
	EXPECT_EQ(strings(l), (V{"b", "c", "a"}));
	EXPECT_TRUE(M_llist_set_last(b));
	EXPECT_EQ(strings(l), (V{"c", "a", "b"}));
	M_llist_node_t *z = M_llist_insert_before(c, "z");
	EXPECT_EQ(M_llist_first(l), z);
	EXPECT_EQ(M_llist_node_next(b), z);
	counted::frees = 0;
	EXPECT_EQ(M_llist_remove_val(l, "a", M_LIST_MATCH_VAL), 1u);
	EXPECT_EQ(strings(l), (V{"z", "c", "b"}));
	M_llist_destroy(l, M_TRUE);
	EXPECT_EQ(counted::frees, 4);
}

TEST(m_llist, duplicates_merge_and_sorting)
{
	const struct {
		uint32_t flags;
		V        in, want;
	} dups[] = {{M_LLIST_NONE, {"x", "y", "x", "z", "y", "x"}, {"x", "y", "z"}},
	            {M_LLIST_SORTED, {"m", "b", "m", "a", "b", "m"}, {"a", "b", "m"}}};
	for (const auto &c : dups) {
		M_llist_t *l   = strs(c.flags, c.in);
		counted::frees = 0;
		M_llist_remove_duplicates(l, M_LIST_MATCH_VAL);
		EXPECT_EQ(counted::frees, 3);
		EXPECT_EQ(strings(l), c.want);
		M_llist_destroy(l, M_TRUE);
	}
	M_llist_t *p   = sorted_u64();
	uint64_t  *one = num(1);
	for (uint64_t *v : {one, num(1), one})
		M_llist_insert(p, v);
	M_llist_remove_duplicates(p, M_LIST_MATCH_PTR); /* by pointer: equal copies stay */
	EXPECT_EQ(M_llist_len(p), 2u);
	M_llist_destroy(p, M_FALSE);

	/* A duplicate holds copies. Merging without duplicates releases the
	 * values *dest has and moves the others; with them everything moves to
	 * its sorted place; a NULL destination takes src over. */
	M_llist_t *s   = strs(M_LLIST_SORTED, {"c", "a", "b"});
	M_llist_t *dup = M_llist_duplicate(s);
	EXPECT_EQ(strings(dup), (V{"a", "b", "c"}));
	counted::frees = 0;
	M_llist_merge(&dup, strs(M_LLIST_NONE, {"b", "d", "a"}), M_FALSE, M_LIST_MATCH_VAL);
	EXPECT_EQ(counted::frees, 2);
	M_llist_merge(&dup, strs(M_LLIST_NONE, {"b"}), M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(strings(dup), (V{"a", "b", "b", "c", "d"}));
	M_llist_merge(&dup, nullptr, M_TRUE, 0);
	M_llist_t *none = nullptr;
	M_llist_merge(&none, s, M_FALSE, 0);
	EXPECT_EQ(none, s);
	counted::frees = 0;
	M_llist_destroy(dup, M_TRUE);
	M_llist_destroy(none, M_TRUE);
	EXPECT_EQ(counted::frees, 8);

	/* Without a comparator a sorted list places nothing; change_sorting only
	 * on an empty sorted list. No equality: value searches find nothing,
	 * pointer ones work. */
	M_llist_t *l = M_llist_create(nullptr, M_LLIST_SORTED);
	EXPECT_EQ(M_llist_insert(l, num(1)), nullptr);
	EXPECT_FALSE(M_llist_change_sorting(l, nullptr, nullptr));
	EXPECT_TRUE(M_llist_change_sorting(l, M_sort_compar_u64_desc, nullptr));
	for (uint64_t v : {2, 9, 4})
		M_llist_insert(l, num(v));
	EXPECT_EQ(forward(l), (U64s{9, 4, 2}));
	EXPECT_FALSE(M_llist_change_sorting(l, M_sort_compar_u64, nullptr));
	M_llist_destroy(l, M_FALSE);
	l           = M_llist_create(nullptr, M_LLIST_NONE);
	uint64_t *v = num(7);
	M_llist_insert(l, v);
	EXPECT_EQ(M_llist_find(l, v, M_LIST_MATCH_VAL), nullptr);
	EXPECT_NE(M_llist_find(l, v, M_LIST_MATCH_PTR), nullptr);
	EXPECT_EQ(M_llist_find(l, nullptr, M_LIST_MATCH_PTR), nullptr);
	EXPECT_FALSE(M_llist_change_sorting(l, M_sort_compar_u64, nullptr));
	M_llist_destroy(l, M_FALSE);
}
