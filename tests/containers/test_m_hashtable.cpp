/* The general hash table: a random walk against a std::map is the main check;
 * the cases around it pin exact counts and orders. Every copy is released once. */
#include "tests/test_util.h"

#include "containers/m_hash_func.h"
#include "containers/m_hashtable.h"
#include "containers/m_sort_compar.h"

#include <map>

namespace {

using keys = test_util::counting<0>;
using vals = test_util::counting<1>;

/* Releases a caller's value stored as is (no duplicator). */
void count_only(void *)
{
	vals::frees++;
}

/* Counted copies of string keys and values; the counters restart unless reset is false. */
M_hashtable_t *table(uint32_t flags, size_t size = 16, uint8_t fill = 75, bool reset = true)
{
	if (reset) {
		keys::reset();
		vals::reset();
	}
	struct M_hashtable_callbacks cbs = {keys::dup_str, keys::dup_str,     keys::free, vals::dup_str,
	                                    vals::dup_str, M_sort_compar_str, vals::free};
	return M_hashtable_create(size, fill, M_hash_func_hash_str, M_sort_compar_str, flags, &cbs);
}

void destroy_balanced(M_hashtable_t *h)
{
	M_hashtable_destroy(h, M_TRUE);
	EXPECT_EQ(keys::frees, keys::dups);
	EXPECT_EQ(vals::frees, vals::dups);
}

/* A hash that ignores the seed and uses the number a key points to (or 0),
 * so bucket placement is under the test's control. */
uint32_t hash_number(const void *key, uint32_t)
{
	return static_cast<uint32_t>(*static_cast<const uint64_t *>(key));
}
uint32_t hash_zero(const void *, uint32_t)
{
	return 0;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs(const M_hashtable_t *h)
{
	Pairs              out;
	M_hashtable_enum_t he;
	const void        *k, *v;
	size_t             n = M_hashtable_enumerate(h, &he);
	while (M_hashtable_enumerate_next(h, &he, &k, &v))
		out.emplace_back(static_cast<const char *>(k), static_cast<const char *>(v));
	EXPECT_EQ(out.size(), n);
	return out;
}

std::string get(const M_hashtable_t *h, const char *k, size_t idx = 0)
{
	void *v = nullptr;
	return M_hashtable_multi_get(h, k, idx, &v) || M_hashtable_get(h, k, &v) ? static_cast<char *>(v) : "<none>";
}

} // namespace

/* The valid sorted forms are made by multi_value and test_m_hash's ordered keys. */
TEST(m_hashtable, create_rules)
{
	struct M_hashtable_callbacks with_eq = {nullptr, nullptr, nullptr, nullptr, nullptr, M_sort_compar_str, nullptr};
	const struct {
		size_t   size;
		uint8_t  fill;
		uint32_t flags;
		bool     value_eq;
		uint32_t got; /* buckets, 0: refused */
	} cases[] = {{0, 75, 0, false, 0},
	             {16, 100, 0, false, 0},
	             {16, 99, 0, false, 16},
	             {1, 0, 0, false, 1},
	             {3, 75, 0, false, 4},
	             {65, 75, 0, false, 128},
	             {16, 75, M_HASHTABLE_KEYS_SORTED, false, 0},
	             {16, 75, M_HASHTABLE_MULTI_GETLAST, false, 0},
	             {16, 75, M_HASHTABLE_MULTI_SORTED, true, 0},
	             {16, 75, M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_MULTI_VALUE, false, 0}};
	for (const auto &c : cases) {
		M_hashtable_t *h =
		    M_hashtable_create(c.size, c.fill, nullptr, nullptr, c.flags, c.value_eq ? &with_eq : nullptr);
		EXPECT_EQ(M_hashtable_size(h), c.got) << "size " << c.size << " fill " << int(c.fill) << " flags " << c.flags;
		M_hashtable_destroy(h, M_TRUE);
	}
}

TEST(m_hashtable, growth_collisions_and_chains)
{
	/* Size 20 rounds to 32 buckets, which hold 23 keys at 75 %: the 24th
	 * doubles them; re-inserting a present key adds none. */
	M_hashtable_t *h = table(0, 20, 75);
	for (int i = 1; i <= 23; i++)
		ASSERT_TRUE(M_hashtable_insert(h, ("key" + std::to_string(i)).c_str(), "v"));
	EXPECT_TRUE(M_hashtable_insert(h, "key1", "again"));
	EXPECT_EQ(M_hashtable_size(h), 32u);
	EXPECT_EQ(M_hashtable_num_expansions(h), 0u);
	ASSERT_TRUE(M_hashtable_insert(h, "key24", "v"));
	EXPECT_EQ(M_hashtable_size(h), 64u);
	EXPECT_EQ(M_hashtable_num_expansions(h), 1u);
	EXPECT_EQ(M_hashtable_num_keys(h), 24u);
	EXPECT_EQ(get(h, "key1"), "again");
	destroy_balanced(h);

	/* Numbers hashed as themselves in 4 buckets: 0, 4, 8 share bucket 0. The
	 * third key chains (2), then 3 * 100 / 4 = 75 doubles to 8 buckets where
	 * 0 and 8 still share: one more. Removing never lowers the count. */
	uint64_t k[]          = {0, 4, 8, 1};
	h                     = M_hashtable_create(4, 75, hash_number, M_sort_compar_u64, 0, nullptr);
	const uint64_t want[] = {0, 1, 3, 3};
	for (int i = 0; i < 4; i++) {
		M_hashtable_insert(h, &k[i], "x");
		EXPECT_EQ(M_hashtable_num_collisions(h), want[i]) << i;
	}
	EXPECT_EQ(M_hashtable_size(h), 8u);
	EXPECT_TRUE(M_hashtable_remove(h, &k[0], M_FALSE));
	EXPECT_EQ(M_hashtable_num_collisions(h), 3u);
	M_hashtable_destroy(h, M_FALSE);

	/* One bucket: the chain reads the first key, then the later ones newest
	 * first. (The walk removes from chains at every place.) */
	uint64_t c[] = {10, 11, 12, 13, 14};
	h            = M_hashtable_create(8, 0, hash_zero, M_sort_compar_u64, 0, nullptr);
	for (auto &key : c)
		M_hashtable_insert(h, &key, &key);
	std::vector<uint64_t> order;
	M_hashtable_enum_t    he;
	const void           *key;
	M_hashtable_enumerate(h, &he);
	while (M_hashtable_enumerate_next(h, &he, &key, nullptr))
		order.push_back(*static_cast<const uint64_t *>(key));
	EXPECT_EQ(order, (std::vector<uint64_t>{10, 14, 13, 12, 11}));
	M_hashtable_destroy(h, M_FALSE);
}

TEST(m_hashtable, single_value_ownership)
{
	M_hashtable_t *h = table(0);
	void          *v = nullptr;
	EXPECT_FALSE(M_hashtable_insert(h, nullptr, "v"));
	EXPECT_TRUE(M_hashtable_insert(h, "k", "v1"));
	EXPECT_TRUE(M_hashtable_insert(h, "k", "v2"));
	EXPECT_EQ(keys::dups, 1);                      /* the second insert kept the stored key */
	EXPECT_EQ(vals::frees, 1);                     /* v1's copy */
	EXPECT_FALSE(M_hashtable_get(h, nullptr, &v)); /* NULL keys and enumerators with a live table */
	EXPECT_FALSE(M_hashtable_remove(h, nullptr, M_TRUE));
	EXPECT_EQ(M_hashtable_enumerate(h, nullptr), 0u);
	EXPECT_FALSE(M_hashtable_enumerate_next(h, nullptr, nullptr, nullptr));
	size_t len = 9;
	EXPECT_FALSE(M_hashtable_multi_len(h, "k", &len));
	EXPECT_FALSE(M_hashtable_multi_get(h, "k", 0, &v));
	EXPECT_FALSE(M_hashtable_multi_remove(h, "k", 0, M_TRUE));
	M_hashtable_merge(&h, nullptr);
	EXPECT_EQ(M_hashtable_num_keys(h), 1u);
	destroy_balanced(h);

	/* The very same value pointer again releases nothing; removal releases
	 * only when asked. */
	vals::frees                      = 0;
	struct M_hashtable_callbacks cbs = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, count_only};
	h                                = M_hashtable_create(8, 75, M_hash_func_hash_str, M_sort_compar_str, 0, &cbs);
	static char value[]              = "same";
	M_hashtable_insert(h, "k", value);
	M_hashtable_insert(h, "k", value);
	EXPECT_TRUE(M_hashtable_remove(h, "k", M_FALSE));
	EXPECT_EQ(vals::frees, 0);
	M_hashtable_insert(h, "k", value);
	EXPECT_TRUE(M_hashtable_remove(h, "k", M_TRUE));
	EXPECT_EQ(vals::frees, 1);
	M_hashtable_destroy(h, M_TRUE);
}

TEST(m_hashtable, multi_value)
{
	for (bool getlast : {false, true}) {
		M_hashtable_t *h = table(M_HASHTABLE_MULTI_VALUE | (getlast ? M_HASHTABLE_MULTI_GETLAST : 0));
		for (const char *v : {"a", "b", "c"})
			M_hashtable_insert(h, "k", v);
		M_hashtable_insert(h, "other", "x");
		size_t len = 0;
		EXPECT_TRUE(M_hashtable_multi_len(h, "k", &len));
		EXPECT_EQ(len, 3u);
		void *v = nullptr;
		EXPECT_TRUE(M_hashtable_get(h, "k", &v));
		EXPECT_STREQ(static_cast<char *>(v), getlast ? "c" : "a");
		EXPECT_EQ(get(h, "k", 1), "b");
		EXPECT_FALSE(M_hashtable_multi_get(h, "k", 3, &v));
		M_hashtable_enum_t he;
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 4u);
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 1, M_TRUE));
		EXPECT_EQ(vals::frees, 1);
		EXPECT_EQ(get(h, "k", 1), "c");
		EXPECT_FALSE(M_hashtable_multi_remove(h, "k", 2, M_TRUE));
		/* Taken out without releasing: the caller now owns the copy. */
		void *taken = nullptr;
		EXPECT_TRUE(M_hashtable_multi_get(h, "k", 1, &taken));
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 1, M_FALSE));
		EXPECT_EQ(vals::frees, 1);
		vals::free(taken);
		/* The last value takes the key with it. */
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 0, M_TRUE));
		EXPECT_FALSE(M_hashtable_get(h, "k", nullptr));
		EXPECT_EQ(keys::frees, 1);
		destroy_balanced(h);
	}
	/* Sorted values, and removing a key removes all of them. */
	M_hashtable_t *h = table(M_HASHTABLE_MULTI_VALUE | M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_KEYS_ORDERED);
	for (const char *v : {"m", "c", "x", "a"})
		M_hashtable_insert(h, "k", v);
	M_hashtable_insert(h, "j", "q");
	EXPECT_EQ(pairs(h), (Pairs{{"k", "a"}, {"k", "c"}, {"k", "m"}, {"k", "x"}, {"j", "q"}}));
	EXPECT_TRUE(M_hashtable_remove(h, "k", M_TRUE));
	EXPECT_EQ(vals::frees, 4);
	EXPECT_EQ(pairs(h), (Pairs{{"j", "q"}}));
	destroy_balanced(h);
}

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_hashtable, random_walk_against_model)
{
	/* Inserts, replacements and removals over a small table that grows many
	 * times, then a duplicate and a merge of an overlapping table; an ordered
	 * table keeps the insertion order of its keys throughout, and merged-in
	 * keys follow in the source's order. */
	for (uint32_t flags : {0u, static_cast<uint32_t>(M_HASHTABLE_KEYS_ORDERED)}) {
		std::mt19937                       gen(7);
		std::map<std::string, std::string> model;
		std::vector<std::string>           order;
		M_hashtable_t                     *h    = table(flags, 2, 60);
		auto                               want = [&]() {
            Pairs w;
            for (const auto &k : order)
                w.emplace_back(k, model[k]);
            return w;
		};
		auto check = [&](const M_hashtable_t *t) {
			Pairs got = pairs(t), w = flags ? want() : Pairs(model.begin(), model.end());
			if (flags == 0)
				std::sort(got.begin(), got.end());
			EXPECT_EQ(got, w);
			EXPECT_EQ(M_hashtable_num_keys(t), model.size());
		};
		for (int i = 0; i < 20000; i++) {
			std::string k = "k" + std::to_string(gen() % 3000);
			if (gen() % 4 == 0) {
				ASSERT_EQ(M_hashtable_remove(h, k.c_str(), M_TRUE), model.erase(k) == 1);
				order.erase(std::remove(order.begin(), order.end(), k), order.end());
				continue;
			}
			std::string v = std::to_string(i);
			ASSERT_TRUE(M_hashtable_insert(h, k.c_str(), v.c_str()));
			if (model.count(k) == 0)
				order.push_back(k);
			model[k] = v;
		}
		EXPECT_GT(M_hashtable_num_expansions(h), 5u);
		check(h);
		for (const auto &[k, v] : model)
			ASSERT_EQ(get(h, k.c_str()), v);
		M_hashtable_t *d = M_hashtable_duplicate(h);
		EXPECT_EQ(M_hashtable_size(d), M_hashtable_size(h));
		check(d);
		/* Merge a table of the same kind: overlapping keys take src's values
		 * (both old copies released), new keys are adopted without copying, in
		 * src's enumeration order. About half of src's keys are already here,
		 * many in shared buckets, which an ordered merge must survive. */
		M_hashtable_t                     *src = table(flags, 16, 75, false);
		std::map<std::string, std::string> src_model;
		for (int i = 0; i < 2000; i++) {
			std::string k = "k" + std::to_string(gen() % 6000), v = "m" + std::to_string(i);
			M_hashtable_insert(src, k.c_str(), v.c_str());
			src_model[k] = v;
		}
		std::vector<std::string> src_order;
		for (const auto &[k, v] : pairs(src))
			src_order.push_back(k);
		const int dups = keys::dups + vals::dups, frees = keys::frees + vals::frees;
		int       overlap = 0;
		M_hashtable_merge(&h, src);
		for (const auto &k : src_order) {
			overlap += model.count(k) != 0;
			if (model.count(k) == 0)
				order.push_back(k);
			model[k] = src_model[k];
		}
		EXPECT_EQ(keys::dups + vals::dups, dups);
		EXPECT_EQ(keys::frees + vals::frees, frees + 2 * overlap);
		check(h);
		M_hashtable_destroy(d, M_TRUE);
		destroy_balanced(h);
	}
}
TEST_GCC12_FALSE_POSITIVE_END()

TEST(m_hashtable, static_seed_and_multi_value_merge)
{
	auto run = []() {
		M_hashtable_t *h = table(M_HASHTABLE_STATIC_SEED);
		for (int i = 0; i < 200; i++)
			M_hashtable_insert(h, ("name-" + std::to_string(i)).c_str(), "v");
		Pairs p = pairs(h);
		destroy_balanced(h);
		return p;
	};
	EXPECT_EQ(run(), run());

	/* Multi-values only move (src's copy of a shared key is released); a
	 * NULL destination takes src over. */
	M_hashtable_t *dest = table(M_HASHTABLE_MULTI_VALUE);
	M_hashtable_t *src  = table(M_HASHTABLE_MULTI_VALUE | M_HASHTABLE_KEYS_ORDERED, 16, 75, false);
	M_hashtable_insert(dest, "k", "1");
	for (const char *kv : {"k2", "k3", "n4", "n5"})
		M_hashtable_insert(src, std::string(kv, 1).c_str(), kv + 1);
	M_hashtable_merge(&dest, src);
	EXPECT_EQ(keys::frees, 1);
	EXPECT_EQ(vals::frees, 0);
	EXPECT_EQ(pairs(dest).size(), 5u);
	size_t len = 0;
	EXPECT_TRUE(M_hashtable_multi_len(dest, "k", &len));
	EXPECT_EQ(len, 3u);
	M_hashtable_t *none = nullptr;
	M_hashtable_merge(&none, dest);
	EXPECT_EQ(none, dest);
	destroy_balanced(none);
}
