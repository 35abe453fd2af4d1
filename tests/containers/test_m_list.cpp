/* The dynamic list: random walks against a std::vector model are the main
 * check; the cases around them pin the storage rules, sets, duplicate and merge. */
#include "tests/test_util.h"

#include "containers/m_list.h"
#include "containers/m_list_int.h"
#include "containers/m_sort_compar.h"

using m::detail::list_capacity;
using m::detail::list_front_slack;
using Ints = std::vector<int>;

namespace {

/* Values are pointers to ints; the comparator reads the ints. */
int cmp_int(const void *a, const void *b, void *thunk)
{
	if (thunk != nullptr)
		++*static_cast<int *>(thunk);
	const int x = **static_cast<const int *const *>(a), y = **static_cast<const int *const *>(b);
	return x < y ? -1 : (x > y ? 1 : 0);
}

using counted = test_util::counting<0>;
void *int_dup(const void *v)
{
	counted::dups++;
	return M_memdup(v, sizeof(int));
}

/* pool[v] == v: one address per value. */
int pool[64] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

Ints contents(const M_list_t *l)
{
	Ints out;
	for (size_t i = 0; i < M_list_len(l); i++)
		out.push_back(*static_cast<const int *>(M_list_at(l, i)));
	return out;
}

/* A list of the given values: counted owned copies, or the pool's addresses. */
M_list_t *make(uint32_t flags, const Ints &vals, bool owning = true)
{
	struct M_list_callbacks cb = {cmp_int, owning ? int_dup : nullptr, owning ? int_dup : nullptr,
	                              owning ? counted::free : nullptr};
	M_list_t               *l  = M_list_create(&cb, flags);
	for (int v : vals)
		EXPECT_TRUE(M_list_insert(l, &pool[v]));
	return l;
}

} // namespace

TEST(m_list, storage_rules)
{
	/* Capacity after each step: + insert, - remove_last, < remove_first,
	 * t take_last. Doubling from 4; halving once the count drops to a
	 * quarter below half (hysteresis), never below 4, never with NEVERSHRINK. */
	const struct {
		uint32_t            flags;
		const char         *ops;
		std::vector<size_t> caps;
	} cases[] = {
	    {M_LIST_NONE, "+++++++++---++-----<<<", {4, 4, 4, 4, 8, 8, 8, 8, 16, 16, 16, 8, 8, 8, 8, 8, 8, 8, 4, 4, 4, 4}},
	    {M_LIST_NEVERSHRINK, "+++++++++++++++++tttttttttttttttt", {}}};
	for (const auto &c : cases) {
		M_list_t           *l = M_list_create(nullptr, c.flags);
		std::vector<size_t> caps;
		for (const char *op = c.ops; *op != '\0'; op++) {
			if (*op == '+')
				ASSERT_TRUE(M_list_insert(l, &pool[1]));
			else if (*op == '-')
				ASSERT_TRUE(M_list_remove_last(l));
			else if (*op == '<')
				ASSERT_TRUE(M_list_remove_first(l));
			else
				ASSERT_NE(M_list_take_last(l), nullptr);
			caps.push_back(list_capacity(l));
		}
		if (c.caps.empty())
			EXPECT_EQ(caps.back(), 32u);
		else
			EXPECT_EQ(caps, c.caps);
		M_list_destroy(l, M_FALSE);
	}
}

TEST(m_list, random_walk_plain_and_stack)
{
	std::mt19937 rng(11);
	for (uint32_t flags : {0u, static_cast<uint32_t>(M_LIST_STACK)}) {
		M_list_t                *l = M_list_create(nullptr, flags);
		std::vector<const int *> model; /* logical order */
		for (int step = 0; step < 30000; step++) {
			const int   *p   = &pool[rng() % 64];
			const size_t n   = model.size();
			const size_t idx = rng() % (n + 2);
			const long   at  = static_cast<long>(std::min(idx, n));
			switch (rng() % 10) {
				case 0:
				case 1:
					ASSERT_EQ(M_list_insert_idx(l, p), flags ? 0 : n);
					ASSERT_TRUE(M_list_insert(l, p));
					model.insert(flags ? model.begin() : model.end(), p);
					break;
				case 2:
					ASSERT_TRUE(M_list_insert_at(l, p, idx));
					model.insert(model.begin() + at, p);
					break;
				case 3:
					ASSERT_EQ(M_list_take_first(l), n ? model.front() : nullptr);
					if (n)
						model.erase(model.begin());
					break;
				case 4:
					ASSERT_EQ(M_list_remove_last(l), n > 0);
					if (n)
						model.pop_back();
					break;
				case 5:
					ASSERT_EQ(M_list_take_at(l, idx), idx < n ? model[idx] : nullptr);
					if (idx < n)
						model.erase(model.begin() + at);
					break;
				case 6: {
					const size_t e = idx + rng() % 5;
					ASSERT_EQ(M_list_remove_range(l, idx, e), idx < n);
					if (idx < n)
						model.erase(model.begin() + at, model.begin() + static_cast<long>(std::min(e + 1, n)));
					break;
				}
				case 7:
					ASSERT_EQ(M_list_replace_at(l, p, idx), idx < n);
					if (idx < n)
						model[idx] = p;
					break;
				case 8: {
					const size_t j = rng() % (n + 1);
					ASSERT_EQ(M_list_swap(l, idx, j), idx < n && j < n && idx != j);
					if (idx < n && j < n)
						std::swap(model[idx], model[j]);
					break;
				}
				case 9: {
					size_t     got  = 0;
					const auto it   = std::find(model.begin(), model.end(), p);
					const bool seen = M_list_index_of(l, p, M_LIST_MATCH_PTR, &got);
					ASSERT_EQ(seen, it != model.end());
					ASSERT_EQ(seen ? got : 0, seen ? static_cast<size_t>(it - model.begin()) : 0);
					ASSERT_EQ(M_list_count(l, p, M_LIST_MATCH_PTR),
					          static_cast<size_t>(std::count(model.begin(), model.end(), p)));
					break;
				}
			}
			ASSERT_EQ(M_list_len(l), model.size());
			ASSERT_GE(list_capacity(l), 4u);
			ASSERT_LE(list_front_slack(l) + M_list_len(l), list_capacity(l));
			ASSERT_EQ(M_list_first(l), model.empty() ? nullptr : model.front());
			ASSERT_EQ(M_list_last(l), model.empty() ? nullptr : model.back());
			if (step % 97 == 0) {
				for (size_t i = 0; i < model.size(); i++)
					ASSERT_EQ(M_list_at(l, i), model[i]);
			}
		}
		M_list_destroy(l, M_FALSE);
	}
}

TEST(m_list, random_walk_sorted)
{
	/* Many values over few keys. Stable lists keep equal values in insertion
	 * order (checked by pointer); plain sorted ones by value. Searches find
	 * the first of an equal run; batches sort once at the end. */
	std::mt19937     rng(3);
	std::vector<int> vals(8000);
	auto             less = [](const int *a, const int *b) { return *a < *b; };
	for (uint32_t flags : {0u + (M_LIST_SORTED | M_LIST_STABLE), 0u + M_LIST_SORTED}) {
		const bool               stable = flags & M_LIST_STABLE;
		M_list_t                *l      = make(flags, {}, false);
		std::vector<const int *> model;
		size_t                   used = 0;
		for (int round = 0; round < 3000; round++) {
			int        key = static_cast<int>(rng() % 10);
			const auto lo  = std::lower_bound(model.begin(), model.end(), &key, less);
			const auto hi  = std::upper_bound(model.begin(), model.end(), &key, less);
			if (rng() % 3 == 0) {
				size_t idx = 99999;
				ASSERT_EQ(M_list_index_of(l, &key, M_LIST_MATCH_VAL, &idx), lo != hi);
				ASSERT_EQ(M_list_count(l, &key, M_LIST_MATCH_VAL), static_cast<size_t>(hi - lo));
				ASSERT_EQ(M_list_remove_val(l, &key, M_LIST_MATCH_VAL), lo != hi ? 1u : 0u);
				if (lo != hi) {
					ASSERT_EQ(idx, static_cast<size_t>(lo - model.begin()));
					model.erase(lo);
				}
				continue;
			}
			const size_t ins = M_list_insert_idx(l, &key);
			ASSERT_TRUE(stable ? ins == static_cast<size_t>(hi - model.begin())
			                   : ins >= static_cast<size_t>(lo - model.begin()) &&
			                         ins <= static_cast<size_t>(hi - model.begin()));
			const bool batch = round % 100 == 0;
			if (batch)
				M_list_insert_begin(l);
			for (int k = 0; k < (batch ? 20 : 1); k++) {
				int *p = &vals[used++];
				*p     = static_cast<int>(rng() % 10);
				ASSERT_TRUE(M_list_insert(l, p));
				model.insert(std::upper_bound(model.begin(), model.end(), p, less), p);
			}
			if (batch)
				M_list_insert_end(l);
		}
		ASSERT_EQ(M_list_len(l), model.size());
		for (size_t i = 0; i < model.size(); i++) {
			ASSERT_EQ(*static_cast<const int *>(M_list_at(l, i)), *model[i]) << i;
			ASSERT_TRUE(!stable || M_list_at(l, i) == model[i]) << i;
		}
		M_list_destroy(l, M_FALSE);
	}
}

TEST(m_list, flags_sets_and_sorted_refusals)
{
	struct M_list_callbacks cb = {cmp_int, nullptr, nullptr, nullptr}, nocmp = {};
	EXPECT_EQ(M_list_create(nullptr, M_LIST_SORTED), nullptr);
	EXPECT_EQ(M_list_create(nullptr, M_LIST_SET_VAL), nullptr);
	EXPECT_EQ(M_list_create(&cb, M_LIST_SORTED | M_LIST_STACK), nullptr);
	EXPECT_EQ(M_list_create(&nocmp, M_LIST_SORTED), nullptr);

	/* SET_VAL refuses an equal value; SET_PTR wins over it: an equal value at
	 * another address is accepted, the same pointer is not. */
	int       twin = 1;
	M_list_t *l    = make(M_LIST_SET_VAL, {1, 2}, false);
	EXPECT_FALSE(M_list_insert_at(l, &twin, 0));
	M_list_destroy(l, M_FALSE);
	l = make(M_LIST_SET_PTR | M_LIST_SET_VAL | M_LIST_SORTED, {1}, false);
	EXPECT_TRUE(M_list_insert(l, &twin));
	EXPECT_FALSE(M_list_insert(l, &pool[1]));
	M_list_destroy(l, M_FALSE);

	/* Sorted lists refuse positional changes, except while batching; by
	 * pointer a search walks the equal run to the very pointer. */
	l = make(M_LIST_SORTED, {5, 1, 3}, false);
	EXPECT_FALSE(M_list_insert_at(l, &pool[7], 0));
	EXPECT_FALSE(M_list_replace_at(l, &pool[7], 0));
	EXPECT_FALSE(M_list_swap(l, 0, 1));
	EXPECT_FALSE(M_list_index_of(l, &twin, M_LIST_MATCH_PTR, nullptr));
	EXPECT_TRUE(M_list_index_of(l, &pool[3], M_LIST_MATCH_PTR, nullptr));
	M_list_insert_begin(l);
	EXPECT_TRUE(M_list_insert_at(l, &pool[0], 0));
	M_list_insert_end(l);
	EXPECT_EQ(contents(l), (Ints{0, 1, 3, 5}));
	M_list_destroy(l, M_FALSE);

	/* Without equality a value search finds nothing. */
	l = M_list_create(nullptr, M_LIST_NONE);
	ASSERT_TRUE(M_list_insert(l, &twin));
	EXPECT_FALSE(M_list_index_of(l, &twin, M_LIST_MATCH_VAL, nullptr));
	EXPECT_EQ(M_list_count(l, &twin, M_LIST_MATCH_VAL), 0u);
	ASSERT_TRUE(M_list_insert(l, &twin));
	M_list_remove_duplicates(l, M_LIST_MATCH_VAL);
	EXPECT_EQ(M_list_len(l), 2u);
	M_list_destroy(l, M_TRUE);
}

TEST(m_list, owning_walk_against_model)
{
	/* Value operations on lists that own copies, against a vector of the
	 * values (a merged value repeated within the source counts once its first
	 * copy moved). Every copy made is released exactly once. */
	std::mt19937 rng(17);
	for (uint32_t flags : {0u, 0u + M_LIST_SORTED}) {
		M_list_t *l = make(flags, {});
		Ints      model;
		counted::dups = counted::frees = 0;
		auto add                       = [&](int v) {
            model.insert(flags ? std::upper_bound(model.begin(), model.end(), v) : model.end(), v);
		};
		for (int step = 0; step < 3000; step++) {
			const int      v = static_cast<int>(rng() % 8), w = static_cast<int>(rng() % 8);
			const auto     n    = model.size();
			const uint32_t type = rng() % 2 ? M_LIST_MATCH_ALL : M_LIST_MATCH_VAL;
			const auto     hits = static_cast<size_t>(std::count(model.begin(), model.end(), v));
			const size_t   want = type == M_LIST_MATCH_ALL ? hits : std::min<size_t>(hits, 1);
			switch (rng() % 8) {
				case 0:
				case 1:
					ASSERT_TRUE(M_list_insert(l, &pool[v]));
					add(v);
					break;
				case 2:
					ASSERT_EQ(M_list_remove_val(l, &pool[v], type), want);
					for (size_t k = 0; k < want; k++)
						model.erase(std::find(model.begin(), model.end(), v));
					break;
				case 3:
					ASSERT_EQ(M_list_replace_val(l, &pool[v], &pool[w], type), v == w ? 0 : want);
					for (size_t k = 0; k < want && v != w; k++) {
						const auto it = std::find(model.begin(), model.end(), v);
						if (flags == 0) {
							*it = w; /* in place; a sorted list moves it */
							continue;
						}
						model.erase(it);
						add(w);
					}
					break;
				case 4: {
					M_list_remove_duplicates(l, M_LIST_MATCH_VAL);
					Ints seen;
					for (int x : model)
						if (std::find(seen.begin(), seen.end(), x) == seen.end())
							seen.push_back(x);
					model = seen;
					break;
				}
				case 5: {
					const size_t i = rng() % (n + 1), j = i + rng() % 3;
					ASSERT_EQ(M_list_remove_range(l, i, j), i < n);
					if (i < n)
						model.erase(model.begin() + static_cast<long>(i),
						            model.begin() + static_cast<long>(std::min(j + 1, n)));
					break;
				}
				case 6: {
					const bool include = rng() % 2 || n == 0; /* an empty list becomes the source */
					const Ints vals    = {v, w, v};
					M_list_merge(&l, make(flags, vals), include, M_LIST_MATCH_VAL);
					for (int x : vals)
						if (include || std::find(model.begin(), model.end(), x) == model.end())
							add(x);
					break;
				}
				case 7: {
					void *t = M_list_take_at(l, 0); /* handed over, not released */
					ASSERT_EQ(t == nullptr, n == 0);
					if (n == 0)
						break;
					model.erase(model.begin());
					counted::free(t);
					break;
				}
			}
			ASSERT_EQ(contents(l), model) << "step " << step;
			ASSERT_EQ(counted::dups - counted::frees, static_cast<int>(model.size())) << "step " << step;
		}
		M_list_destroy(l, M_TRUE);
		EXPECT_EQ(counted::dups, counted::frees);
	}

	/* Matching by pointer: every copy is a distinct pointer. Out of range
	 * changes fail; destroy releases only when asked. */
	M_list_t *l = make(M_LIST_SORTED, {1, 1});
	EXPECT_EQ(M_list_remove_val(l, &pool[1], M_LIST_MATCH_PTR), 0u);
	M_list_remove_duplicates(l, M_LIST_MATCH_PTR);
	EXPECT_EQ(M_list_len(l), 2u);
	counted::frees = 0;
	void *t        = const_cast<void *>(M_list_at(l, 0));
	EXPECT_FALSE(M_list_remove_range(l, 1, 0));
	EXPECT_TRUE(M_list_remove_at(l, 1));
	EXPECT_FALSE(M_list_remove_at(l, 1));
	M_list_destroy(l, M_FALSE);
	EXPECT_EQ(counted::frees, 1);
	M_free(t);
}

TEST(m_list, change_sorting_and_duplicate)
{
	M_list_t *l = make(M_LIST_NONE, {3, 1, 2}, false);
	M_list_change_sorting(l, nullptr, M_LIST_SORTED, nullptr); /* NULL equality refused */
	EXPECT_EQ(contents(l), (Ints{3, 1, 2}));
	M_list_change_sorting(l, cmp_int, M_LIST_SORTED | M_LIST_STABLE, nullptr);
	EXPECT_EQ(contents(l), (Ints{1, 2, 3}));
	EXPECT_FALSE(M_list_swap(l, 0, 1));
	M_list_change_sorting(l, cmp_int, 0, nullptr); /* off: order kept, positions allowed */
	EXPECT_TRUE(M_list_swap(l, 0, 2));
	ASSERT_TRUE(M_list_insert(l, &pool[0]));
	EXPECT_EQ(contents(l), (Ints{3, 2, 1, 0}));
	M_list_destroy(l, M_FALSE);
	l = make(M_LIST_STACK, {3, 1, 2}, false); /* refused for STACK lists */
	M_list_change_sorting(l, cmp_int, M_LIST_SORTED, nullptr);
	EXPECT_EQ(contents(l), (Ints{2, 1, 3}));
	M_list_destroy(l, M_FALSE);

	/* A duplicate keeps the comparator's context. */
	int calls = 0;
	l         = make(M_LIST_NONE, {2, 1}, false);
	M_list_change_sorting(l, cmp_int, M_LIST_SORTED, &calls);
	M_list_t *d      = M_list_duplicate(l);
	const int before = calls;
	ASSERT_TRUE(M_list_insert(d, &pool[3]));
	EXPECT_GT(calls, before);
	EXPECT_EQ(contents(d), (Ints{1, 2, 3}));
	M_list_destroy(l, M_FALSE);
	M_list_destroy(d, M_FALSE);
}

TEST(m_list, merge_by_pointer_and_into_sets)
{
	/* The value cases are in the owning walk. By pointer the pool's
	 * addresses are the values; a SET destination never keeps duplicates,
	 * not even included ones; a NULL destination becomes the source. */
	M_list_t *d = make(M_LIST_NONE, {1}, false);
	M_list_merge(&d, make(M_LIST_NONE, {3, 3, 1}, false), M_FALSE, M_LIST_MATCH_PTR);
	EXPECT_EQ(contents(d), (Ints{1, 3}));
	M_list_merge(&d, nullptr, M_FALSE, M_LIST_MATCH_PTR);
	EXPECT_EQ(contents(d), (Ints{1, 3}));
	M_list_destroy(d, M_FALSE);
	d              = make(M_LIST_SET_VAL, {1});
	counted::frees = 0;
	M_list_merge(&d, make(M_LIST_NONE, {2, 1, 2}), M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(contents(d), (Ints{1, 2}));
	EXPECT_EQ(counted::frees, 2);
	M_list_destroy(d, M_TRUE);
	M_list_t *src = make(M_LIST_NONE, {1}), *dest = nullptr;
	M_list_merge(&dest, src, M_TRUE, M_LIST_MATCH_VAL);
	EXPECT_EQ(dest, src);
	M_list_destroy(dest, M_TRUE);
}
