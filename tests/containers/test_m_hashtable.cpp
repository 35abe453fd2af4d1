#include <gtest/gtest.h>

#include "containers/m_hash_func.h"
#include "containers/m_hash_stridx.h"
#include "containers/m_hashtable.h"
#include "containers/m_sort_compar.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "tests/containers/hash_test_util.h"
#include "tests/test_util.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

/* Counting callbacks: every copy made and every release, so tests can prove
 * each key and value is released exactly once. */
struct counters {
	static inline int key_dups   = 0;
	static inline int key_frees  = 0;
	static inline int val_dups   = 0;
	static inline int val_frees  = 0;
	static inline int copy_calls = 0;
	static void       reset()
	{
		key_dups = key_frees = val_dups = val_frees = copy_calls = 0;
	}
};

void *key_dup(const void *p)
{
	counters::key_dups++;
	return M_strdup(static_cast<const char *>(p));
}
void *key_dup_copy(const void *p)
{
	counters::copy_calls++;
	return key_dup(p);
}
void key_free(void *p)
{
	counters::key_frees++;
	M_free(p);
}
void *val_dup(const void *p)
{
	counters::val_dups++;
	return M_strdup(static_cast<const char *>(p));
}
void *val_dup_copy(const void *p)
{
	counters::copy_calls++;
	return val_dup(p);
}
void val_free(void *p)
{
	counters::val_frees++;
	M_free(p);
}
/* Releases a caller's value that was stored as is (no duplicator). */
void val_free_only_count(void *p)
{
	(void)p;
	counters::val_frees++;
}

/* String keys and string values, both copied and counted. */
M_hashtable_t *counted_table(uint32_t flags, size_t size = 16, uint8_t fill = 75)
{
	struct M_hashtable_callbacks cbs = {key_dup,      key_dup_copy,      key_free, val_dup,
	                                    val_dup_copy, M_sort_compar_str, val_free};
	return M_hashtable_create(size, fill, M_hash_func_hash_str, M_sort_compar_str, flags, &cbs);
}

/* A hash that ignores the seed and uses the number a key points to, so
 * bucket placement (and so chains and their order) is under test control. */
uint32_t hash_number(const void *key, uint32_t seed)
{
	(void)seed;
	return static_cast<uint32_t>(*static_cast<const uint64_t *>(key));
}
uint32_t hash_zero(const void *key, uint32_t seed)
{
	(void)key;
	(void)seed;
	return 0;
}

std::string str(const void *p)
{
	return std::string(static_cast<const char *>(p));
}

/* All pairs in enumeration order. */
std::vector<std::pair<std::string, std::string>> pairs(const M_hashtable_t *h)
{
	std::vector<std::pair<std::string, std::string>> out;
	M_hashtable_enum_t                               he;
	const void                                      *k;
	const void                                      *v;
	size_t                                           n = M_hashtable_enumerate(h, &he);
	while (M_hashtable_enumerate_next(h, &he, &k, &v))
		out.emplace_back(str(k), str(v));
	EXPECT_EQ(out.size(), n);
	return out;
}

using hash_test::stridx_keys;

} // namespace

/* ---- creation ---------------------------------------------------------- */

TEST(m_hashtable, create_refusals)
{
	struct M_hashtable_callbacks with_eq = {nullptr, nullptr, nullptr, nullptr, nullptr, M_sort_compar_str, nullptr};
	struct {
		size_t   size;
		uint8_t  fill;
		uint32_t flags;
		bool     value_eq;
		bool     ok;
	} cases[] = {
	    {0, 75, 0, false, false},
	    {16, 100, 0, false, false},
	    {16, 99, 0, false, true},
	    {16, 0, 0, false, true},
	    {16, 75, M_HASHTABLE_KEYS_SORTED, false, false},
	    {16, 75, M_HASHTABLE_KEYS_SORTED | M_HASHTABLE_KEYS_ORDERED, false, true},
	    {16, 75, M_HASHTABLE_MULTI_GETLAST, false, false},
	    {16, 75, M_HASHTABLE_MULTI_GETLAST | M_HASHTABLE_MULTI_VALUE, false, true},
	    {16, 75, M_HASHTABLE_MULTI_SORTED, true, false},
	    {16, 75, M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_MULTI_VALUE, false, false},
	    {16, 75, M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_MULTI_VALUE, true, true},
	};
	for (const auto &c : cases) {
		M_hashtable_t *h =
		    M_hashtable_create(c.size, c.fill, nullptr, nullptr, c.flags, c.value_eq ? &with_eq : nullptr);
		EXPECT_EQ(h != nullptr, c.ok) << "size " << c.size << " fill " << int(c.fill) << " flags " << c.flags;
		M_hashtable_destroy(h, M_TRUE);
	}
}

TEST(m_hashtable, size_rounding)
{
	struct {
		size_t   req;
		uint32_t got;
	} cases[] = {{1, 1}, {2, 2}, {3, 4}, {20, 32}, {64, 64}, {65, 128}};
	/* The 16,777,216-bucket cap is not exercised here: one such table is a
     * 400 MB array. */
	for (const auto &c : cases) {
		M_hashtable_t *h = M_hashtable_create(c.req, 0, nullptr, nullptr, 0, nullptr);
		ASSERT_NE(h, nullptr);
		EXPECT_EQ(M_hashtable_size(h), c.got) << c.req;
		M_hashtable_destroy(h, M_FALSE);
	}
}

TEST(m_hashtable, null_arguments)
{
	void              *v   = nullptr;
	size_t             len = 9;
	M_hashtable_enum_t he;
	M_hashtable_destroy(nullptr, M_TRUE);
	EXPECT_FALSE(M_hashtable_insert(nullptr, "k", "v"));
	EXPECT_FALSE(M_hashtable_remove(nullptr, "k", M_TRUE));
	EXPECT_FALSE(M_hashtable_get(nullptr, "k", &v));
	EXPECT_FALSE(M_hashtable_multi_len(nullptr, "k", &len));
	EXPECT_EQ(len, 0u);
	EXPECT_FALSE(M_hashtable_multi_get(nullptr, "k", 0, &v));
	EXPECT_FALSE(M_hashtable_multi_remove(nullptr, "k", 0, M_TRUE));
	EXPECT_EQ(M_hashtable_size(nullptr), 0u);
	EXPECT_EQ(M_hashtable_num_keys(nullptr), 0u);
	EXPECT_EQ(M_hashtable_num_collisions(nullptr), 0u);
	EXPECT_EQ(M_hashtable_num_expansions(nullptr), 0u);
	EXPECT_EQ(M_hashtable_enumerate(nullptr, &he), 0u);
	EXPECT_FALSE(M_hashtable_enumerate_next(nullptr, &he, nullptr, nullptr));
	EXPECT_EQ(M_hashtable_duplicate(nullptr), nullptr);
	M_hashtable_merge(nullptr, nullptr);

	M_hashtable_t *h = counted_table(0);
	EXPECT_FALSE(M_hashtable_insert(h, nullptr, "v"));
	EXPECT_FALSE(M_hashtable_remove(h, nullptr, M_TRUE));
	EXPECT_FALSE(M_hashtable_get(h, nullptr, &v));
	EXPECT_EQ(M_hashtable_enumerate(h, nullptr), 0u);
	EXPECT_FALSE(M_hashtable_enumerate_next(h, nullptr, nullptr, nullptr));
	EXPECT_TRUE(M_hashtable_insert(h, "k", "v"));
	EXPECT_TRUE(M_hashtable_get(h, "k", nullptr)); /* presence test */
	/* Multi-value operations on a single-value table fail. */
	EXPECT_FALSE(M_hashtable_multi_len(h, "k", &len));
	EXPECT_FALSE(M_hashtable_multi_get(h, "k", 0, &v));
	EXPECT_FALSE(M_hashtable_multi_remove(h, "k", 0, M_TRUE));
	M_hashtable_merge(&h, nullptr);
	EXPECT_EQ(M_hashtable_num_keys(h), 1u);
	M_hashtable_destroy(h, M_TRUE);
}

/* ---- growth and collisions ------------------------------------------- */

TEST(m_hashtable, growth_at_24th_key_of_size_20)
{
	M_hash_stridx_t *h = M_hash_stridx_create(20, 75, M_HASH_STRIDX_NONE);
	ASSERT_EQ(M_hash_stridx_size(h), 32u);
	for (size_t i = 1; i <= 23; i++)
		ASSERT_TRUE(M_hash_stridx_insert(h, ("key" + std::to_string(i)).c_str(), i));
	EXPECT_EQ(M_hash_stridx_size(h), 32u);
	EXPECT_EQ(M_hash_stridx_num_expansions(h), 0u);
	/* Re-inserting a present key adds no key and so does not grow. */
	EXPECT_TRUE(M_hash_stridx_insert(h, "key1", 100));
	EXPECT_EQ(M_hash_stridx_size(h), 32u);
	ASSERT_TRUE(M_hash_stridx_insert(h, "key24", 24));
	EXPECT_EQ(M_hash_stridx_size(h), 64u);
	EXPECT_EQ(M_hash_stridx_num_expansions(h), 1u);
	EXPECT_EQ(M_hash_stridx_num_keys(h), 24u);
	for (size_t i = 2; i <= 24; i++)
		EXPECT_EQ(M_hash_stridx_get_direct(h, ("key" + std::to_string(i)).c_str()), i);
	EXPECT_EQ(M_hash_stridx_get_direct(h, "key1"), 100u);
	M_hash_stridx_destroy(h);
}

TEST(m_hashtable, fill_zero_never_grows)
{
	M_hash_stridx_t *h = M_hash_stridx_create(4, 0, M_HASH_STRIDX_NONE);
	for (size_t i = 0; i < 1000; i++)
		M_hash_stridx_insert(h, std::to_string(i).c_str(), i);
	EXPECT_EQ(M_hash_stridx_size(h), 4u);
	EXPECT_EQ(M_hash_stridx_num_expansions(h), 0u);
	EXPECT_EQ(M_hash_stridx_num_keys(h), 1000u);
	/* 1000 keys in 4 buckets: all but at most 4 are chained. */
	EXPECT_GE(M_hash_stridx_num_collisions(h), 996u);
	for (size_t i = 0; i < 1000; i++)
		ASSERT_EQ(M_hash_stridx_get_direct(h, std::to_string(i).c_str()), i);
	M_hash_stridx_destroy(h);
}

TEST(m_hashtable, collision_counting_and_rebuild)
{
	/* Keys are numbers hashed as themselves: with 4 buckets, 0, 4 and 8 share
     * bucket 0. */
	uint64_t       k[] = {0, 4, 8, 1};
	M_hashtable_t *h   = M_hashtable_create(4, 75, hash_number, M_sort_compar_u64, 0, nullptr);
	M_hashtable_insert(h, &k[0], "zero");
	EXPECT_EQ(M_hashtable_num_collisions(h), 0u);
	M_hashtable_insert(h, &k[1], "four");
	EXPECT_EQ(M_hashtable_num_collisions(h), 1u);
	/* Third key: chained again (2), then 3 * 100 / 4 = 75 doubles to 8
     * buckets, where 0 and 8 still share bucket 0: one more collision. */
	M_hashtable_insert(h, &k[2], "eight");
	EXPECT_EQ(M_hashtable_size(h), 8u);
	EXPECT_EQ(M_hashtable_num_expansions(h), 1u);
	EXPECT_EQ(M_hashtable_num_collisions(h), 3u);
	M_hashtable_insert(h, &k[3], "one");
	EXPECT_EQ(M_hashtable_num_collisions(h), 3u);
	for (uint64_t key : {0, 4, 8, 1})
		EXPECT_TRUE(M_hashtable_get(h, &key, nullptr)) << key;
	/* Removing never lowers the collision count. */
	EXPECT_TRUE(M_hashtable_remove(h, &k[0], M_FALSE));
	EXPECT_EQ(M_hashtable_num_collisions(h), 3u);
	EXPECT_EQ(M_hashtable_num_keys(h), 3u);
	M_hashtable_destroy(h, M_FALSE);
}

TEST(m_hashtable, chain_order_and_unlinking)
{
	/* Every key lands in bucket 0; the chain then reads: the first key, then
     * the later ones newest first. */
	uint64_t       k[] = {10, 11, 12, 13, 14};
	M_hashtable_t *h   = M_hashtable_create(8, 0, hash_zero, M_sort_compar_u64, 0, nullptr);
	for (auto &key : k)
		M_hashtable_insert(h, &key, &key);
	EXPECT_EQ(M_hashtable_num_collisions(h), 4u);

	auto order = [&]() {
		std::vector<uint64_t> out;
		M_hashtable_enum_t    he;
		const void           *key;
		M_hashtable_enumerate(h, &he);
		while (M_hashtable_enumerate_next(h, &he, &key, nullptr))
			out.push_back(*static_cast<const uint64_t *>(key));
		return out;
	};
	EXPECT_EQ(order(), (std::vector<uint64_t>{10, 14, 13, 12, 11}));

	/* Array entry with successors: the successor moves into the array. */
	EXPECT_TRUE(M_hashtable_remove(h, &k[0], M_FALSE));
	EXPECT_EQ(order(), (std::vector<uint64_t>{14, 13, 12, 11}));
	/* A middle chained entry. */
	EXPECT_TRUE(M_hashtable_remove(h, &k[2], M_FALSE));
	EXPECT_EQ(order(), (std::vector<uint64_t>{14, 13, 11}));
	/* The last chained entry. */
	EXPECT_TRUE(M_hashtable_remove(h, &k[1], M_FALSE));
	EXPECT_EQ(order(), (std::vector<uint64_t>{14, 13}));
	EXPECT_FALSE(M_hashtable_remove(h, &k[1], M_FALSE));
	EXPECT_TRUE(M_hashtable_remove(h, &k[4], M_FALSE));
	EXPECT_TRUE(M_hashtable_remove(h, &k[3], M_FALSE));
	EXPECT_EQ(M_hashtable_num_keys(h), 0u);
	EXPECT_TRUE(order().empty());
	/* The emptied bucket takes keys again. */
	M_hashtable_insert(h, &k[2], &k[2]);
	EXPECT_EQ(order(), (std::vector<uint64_t>{12}));
	M_hashtable_destroy(h, M_FALSE);
}

/* ---- values and ownership -------------------------------------------- */

TEST(m_hashtable, single_value_replace_releases_once)
{
	counters::reset();
	M_hashtable_t *h = counted_table(0);
	EXPECT_TRUE(M_hashtable_insert(h, "k", "v1"));
	EXPECT_TRUE(M_hashtable_insert(h, "k", "v2"));
	EXPECT_EQ(M_hashtable_num_keys(h), 1u);
	EXPECT_EQ(counters::key_dups, 1);  /* the second insert kept the stored key */
	EXPECT_EQ(counters::val_frees, 1); /* v1's copy */
	void *v = nullptr;
	ASSERT_TRUE(M_hashtable_get(h, "k", &v));
	EXPECT_EQ(str(v), "v2");
	M_hashtable_destroy(h, M_TRUE);
	EXPECT_EQ(counters::key_frees, 1);
	EXPECT_EQ(counters::val_frees, 2);

	/* The very same value pointer again releases nothing. */
	counters::reset();
	struct M_hashtable_callbacks cbs     = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, val_free_only_count};
	M_hashtable_t               *p       = M_hashtable_create(8, 75, M_hash_func_hash_str, M_sort_compar_str, 0, &cbs);
	static char                  value[] = "same";
	M_hashtable_insert(p, "k", value);
	M_hashtable_insert(p, "k", value);
	EXPECT_EQ(counters::val_frees, 0);
	EXPECT_TRUE(M_hashtable_remove(p, "k", M_FALSE));
	EXPECT_EQ(counters::val_frees, 0);
	M_hashtable_insert(p, "k", value);
	EXPECT_TRUE(M_hashtable_remove(p, "k", M_TRUE));
	EXPECT_EQ(counters::val_frees, 1);
	M_hashtable_destroy(p, M_TRUE);
}

TEST(m_hashtable, multi_value)
{
	for (bool getlast : {false, true}) {
		counters::reset();
		uint32_t       flags = M_HASHTABLE_MULTI_VALUE | (getlast ? M_HASHTABLE_MULTI_GETLAST : 0);
		M_hashtable_t *h     = counted_table(flags);
		for (const char *v : {"a", "b", "c"})
			M_hashtable_insert(h, "k", v);
		M_hashtable_insert(h, "other", "x");
		EXPECT_EQ(M_hashtable_num_keys(h), 2u);
		size_t len = 0;
		EXPECT_TRUE(M_hashtable_multi_len(h, "k", &len));
		EXPECT_EQ(len, 3u);
		void *v = nullptr;
		EXPECT_TRUE(M_hashtable_get(h, "k", &v));
		EXPECT_EQ(str(v), getlast ? "c" : "a");
		EXPECT_TRUE(M_hashtable_multi_get(h, "k", 1, &v));
		EXPECT_EQ(str(v), "b");
		EXPECT_FALSE(M_hashtable_multi_get(h, "k", 3, &v));
		EXPECT_FALSE(M_hashtable_multi_len(h, "absent", &len));

		M_hashtable_enum_t he;
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 4u);
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 1, M_TRUE));
		EXPECT_EQ(counters::val_frees, 1);
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 3u);
		EXPECT_TRUE(M_hashtable_multi_get(h, "k", 1, &v));
		EXPECT_EQ(str(v), "c");
		EXPECT_FALSE(M_hashtable_multi_remove(h, "k", 2, M_TRUE));

		/* Taken out without releasing: the caller now owns the copy. */
		void *taken = nullptr;
		EXPECT_TRUE(M_hashtable_multi_get(h, "k", 1, &taken));
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 1, M_FALSE));
		EXPECT_EQ(counters::val_frees, 1);
		val_free(taken);
		/* The last value takes the key with it. */
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 0, M_TRUE));
		EXPECT_FALSE(M_hashtable_get(h, "k", nullptr));
		EXPECT_EQ(M_hashtable_num_keys(h), 1u);
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 1u);
		EXPECT_EQ(counters::key_frees, 1);
		M_hashtable_destroy(h, M_TRUE);
		EXPECT_EQ(counters::key_frees, counters::key_dups);
		EXPECT_EQ(counters::val_frees, counters::val_dups);
	}
}

TEST(m_hashtable, multi_value_one_key_counts)
{
	/* One key holding a, b and c: the enumeration count follows the values,
     * and the key goes with its last value. */
	for (bool getlast : {false, true}) {
		counters::reset();
		M_hashtable_t *h = counted_table(M_HASHTABLE_MULTI_VALUE | (getlast ? M_HASHTABLE_MULTI_GETLAST : 0));
		for (const char *v : {"a", "b", "c"})
			ASSERT_TRUE(M_hashtable_insert(h, "k", v));
		EXPECT_EQ(M_hashtable_num_keys(h), 1u);
		size_t len = 0;
		EXPECT_TRUE(M_hashtable_multi_len(h, "k", &len));
		EXPECT_EQ(len, 3u);
		void *v = nullptr;
		EXPECT_TRUE(M_hashtable_get(h, "k", &v));
		EXPECT_EQ(str(v), getlast ? "c" : "a");

		M_hashtable_enum_t he;
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 3u);
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 1, M_TRUE));
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 2u);
		EXPECT_EQ(pairs(h), (std::vector<std::pair<std::string, std::string>>{{"k", "a"}, {"k", "c"}}));

		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 0, M_TRUE));
		EXPECT_TRUE(M_hashtable_multi_len(h, "k", &len));
		EXPECT_EQ(len, 1u);
		EXPECT_TRUE(M_hashtable_multi_remove(h, "k", 0, M_TRUE));
		EXPECT_FALSE(M_hashtable_get(h, "k", nullptr));
		EXPECT_FALSE(M_hashtable_multi_len(h, "k", &len));
		EXPECT_EQ(len, 0u);
		EXPECT_EQ(M_hashtable_num_keys(h), 0u);
		EXPECT_EQ(M_hashtable_enumerate(h, &he), 0u);
		EXPECT_EQ(counters::key_frees, 1);
		EXPECT_EQ(counters::val_frees, 3);
		M_hashtable_destroy(h, M_TRUE);
	}
}

TEST(m_hashtable, multi_sorted_and_remove_all)
{
	counters::reset();
	M_hashtable_t *h = counted_table(M_HASHTABLE_MULTI_VALUE | M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_KEYS_ORDERED);
	ASSERT_NE(h, nullptr);
	for (const char *v : {"m", "c", "x", "a"})
		M_hashtable_insert(h, "k", v);
	M_hashtable_insert(h, "j", "q");
	EXPECT_EQ(pairs(h), (std::vector<std::pair<std::string, std::string>>{
	                        {"k", "a"}, {"k", "c"}, {"k", "m"}, {"k", "x"}, {"j", "q"}}));
	EXPECT_TRUE(M_hashtable_remove(h, "k", M_TRUE));
	EXPECT_EQ(counters::val_frees, 4);
	M_hashtable_enum_t he;
	EXPECT_EQ(M_hashtable_enumerate(h, &he), 1u);
	M_hashtable_destroy(h, M_TRUE);
	EXPECT_EQ(counters::val_frees, counters::val_dups);
	EXPECT_EQ(counters::key_frees, counters::key_dups);
}

/* ---- enumeration order ----------------------------------------------- */

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_hashtable, ordered_enumeration)
{
	M_hashtable_t                                   *h = counted_table(M_HASHTABLE_KEYS_ORDERED, 4, 75);
	std::vector<std::pair<std::string, std::string>> want;
	for (int i = 0; i < 50; i++) {
		std::string k = "k" + std::to_string((i * 37) % 101);
		M_hashtable_insert(h, k.c_str(), ("v" + std::to_string(i)).c_str());
		want.emplace_back(k, "v" + std::to_string(i));
	}
	/* Growth does not disturb the key list's order. */
	EXPECT_GT(M_hashtable_num_expansions(h), 0u);
	EXPECT_EQ(pairs(h), want);
	/* Removal takes the key out of the order too. */
	EXPECT_TRUE(M_hashtable_remove(h, want[10].first.c_str(), M_TRUE));
	want.erase(want.begin() + 10);
	EXPECT_EQ(pairs(h), want);
	M_hashtable_destroy(h, M_TRUE);
}
TEST_GCC12_FALSE_POSITIVE_END()

TEST(m_hashtable, sorted_enumeration)
{
	const std::vector<std::string> keys = {"pear", "apple", "fig", "kiwi", "banana", "cherry"};
	std::vector<std::string>       asc  = keys;
	std::sort(asc.begin(), asc.end());
	std::vector<std::string> desc(asc.rbegin(), asc.rend());

	struct {
		uint32_t                        flags;
		const std::vector<std::string> *want;
	} cases[] = {
	    {M_HASH_STRIDX_KEYS_ORDERED, &keys},
	    {M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTASC, &asc},
	    {M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTDESC, &desc},
	    {M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTASC | M_HASH_STRIDX_KEYS_SORTDESC, &desc},
	};
	for (const auto &c : cases) {
		M_hash_stridx_t *h = M_hash_stridx_create(8, 75, c.flags);
		for (size_t i = 0; i < keys.size(); i++)
			M_hash_stridx_insert(h, keys[i].c_str(), i);
		EXPECT_EQ(stridx_keys(h), *c.want) << c.flags;
		M_hash_stridx_destroy(h);
	}

	/* SORTASC without KEYS_ORDERED is ignored: an unordered table. */
	M_hash_stridx_t *h = M_hash_stridx_create(8, 75, M_HASH_STRIDX_KEYS_SORTASC);
	for (size_t i = 0; i < keys.size(); i++)
		M_hash_stridx_insert(h, keys[i].c_str(), i);
	std::vector<std::string> got = stridx_keys(h);
	std::sort(got.begin(), got.end());
	EXPECT_EQ(got, asc);
	M_hash_stridx_destroy(h);
}

TEST(m_hashtable, static_seed_reproducible)
{
	auto run = [](uint32_t flags) {
		M_hash_stridx_t *h = M_hash_stridx_create(16, 75, flags);
		for (int i = 0; i < 200; i++)
			M_hash_stridx_insert(h, ("name-" + std::to_string(i)).c_str(), static_cast<size_t>(i));
		std::vector<std::string> k = stridx_keys(h);
		M_hash_stridx_destroy(h);
		return k;
	};
	std::vector<std::string> a = run(M_HASH_STRIDX_STATIC_SEED);
	std::vector<std::string> b = run(M_HASH_STRIDX_STATIC_SEED);
	EXPECT_EQ(a.size(), 200u);
	EXPECT_EQ(a, b);
}

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_hashtable, random_churn_against_model)
{
	std::mt19937                       gen(7);
	std::map<std::string, std::string> model;
	counters::reset();
	M_hashtable_t *h = counted_table(0, 2, 60);
	for (int i = 0; i < 20000; i++) {
		std::string k = "k" + std::to_string(gen() % 3000);
		if (gen() % 4 == 0) {
			EXPECT_EQ(M_hashtable_remove(h, k.c_str(), M_TRUE), model.erase(k) == 1);
		} else {
			std::string v = std::to_string(i);
			M_hashtable_insert(h, k.c_str(), v.c_str());
			model[k] = v;
		}
	}
	EXPECT_EQ(M_hashtable_num_keys(h), model.size());
	auto got = pairs(h);
	std::sort(got.begin(), got.end());
	const std::vector<std::pair<std::string, std::string>> want(model.begin(), model.end());
	EXPECT_EQ(got, want);
	for (const auto &[k, v] : model) {
		void *val = nullptr;
		ASSERT_TRUE(M_hashtable_get(h, k.c_str(), &val));
		EXPECT_EQ(str(val), v);
	}
	M_hashtable_destroy(h, M_TRUE);
	EXPECT_EQ(counters::key_frees, counters::key_dups);
	EXPECT_EQ(counters::val_frees, counters::val_dups);
}
TEST_GCC12_FALSE_POSITIVE_END()

/* ---- duplicate and merge --------------------------------------------- */

TEST(m_hashtable, duplicate_uses_copy_callbacks)
{
	counters::reset();
	M_hashtable_t *h = counted_table(M_HASHTABLE_KEYS_ORDERED | M_HASHTABLE_STATIC_SEED, 4, 50);
	for (const char *k : {"c", "a", "b", "d"})
		M_hashtable_insert(h, k, (std::string("v") + k).c_str());
	const int      inserts = counters::key_dups + counters::val_dups;
	M_hashtable_t *d       = M_hashtable_duplicate(h);
	ASSERT_NE(d, nullptr);
	EXPECT_EQ(counters::copy_calls, 8); /* four keys, four values */
	EXPECT_EQ(counters::key_dups + counters::val_dups, inserts + 8);
	EXPECT_EQ(M_hashtable_size(d), M_hashtable_size(h));
	EXPECT_EQ(pairs(d), pairs(h));

	/* Independent copies: changing one leaves the other alone. */
	M_hashtable_remove(h, "a", M_TRUE);
	void *v = nullptr;
	EXPECT_TRUE(M_hashtable_get(d, "a", &v));
	EXPECT_EQ(str(v), "va");
	M_hashtable_destroy(h, M_TRUE);
	M_hashtable_destroy(d, M_TRUE);
	EXPECT_EQ(counters::key_frees, counters::key_dups);
	EXPECT_EQ(counters::val_frees, counters::val_dups);
}

TEST(m_hashtable, merge_overlapping_keys_releases_each_key_once)
{
	counters::reset();
	M_hashtable_t *dest = counted_table(0);
	M_hashtable_t *src  = counted_table(0);
	for (const char *k : {"a", "b", "c"})
		M_hashtable_insert(dest, k, (std::string("dest-") + k).c_str());
	for (const char *k : {"b", "c", "d", "e"})
		M_hashtable_insert(src, k, (std::string("src-") + k).c_str());
	ASSERT_EQ(counters::key_dups, 7);

	M_hashtable_merge(&dest, src);
	/* src's copies of b and c were released; d and e were adopted. */
	EXPECT_EQ(counters::key_frees, 2);
	/* dest's old values of b and c were replaced and released. */
	EXPECT_EQ(counters::val_frees, 2);
	EXPECT_EQ(M_hashtable_num_keys(dest), 5u);
	auto got = pairs(dest);
	std::sort(got.begin(), got.end());
	EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
	                   {"a", "dest-a"}, {"b", "src-b"}, {"c", "src-c"}, {"d", "src-d"}, {"e", "src-e"}}));
	M_hashtable_destroy(dest, M_TRUE);
	EXPECT_EQ(counters::key_frees, 7);
	EXPECT_EQ(counters::val_frees, 7);
	EXPECT_EQ(counters::val_dups, 7);
}

TEST(m_hashtable, merge_multi_value_and_null_dest)
{
	counters::reset();
	M_hashtable_t *dest = counted_table(M_HASHTABLE_MULTI_VALUE);
	M_hashtable_t *src  = counted_table(M_HASHTABLE_MULTI_VALUE | M_HASHTABLE_KEYS_ORDERED);
	M_hashtable_insert(dest, "k", "1");
	M_hashtable_insert(src, "k", "2");
	M_hashtable_insert(src, "k", "3");
	M_hashtable_insert(src, "n", "4");
	M_hashtable_insert(src, "n", "5");
	M_hashtable_merge(&dest, src);
	EXPECT_EQ(counters::key_frees, 1); /* src's "k" */
	EXPECT_EQ(counters::val_frees, 0); /* values only move */
	size_t len = 0;
	EXPECT_TRUE(M_hashtable_multi_len(dest, "k", &len));
	EXPECT_EQ(len, 3u);
	EXPECT_TRUE(M_hashtable_multi_len(dest, "n", &len));
	EXPECT_EQ(len, 2u);
	M_hashtable_enum_t he;
	EXPECT_EQ(M_hashtable_enumerate(dest, &he), 5u);

	M_hashtable_t *none = nullptr;
	M_hashtable_merge(&none, dest);
	EXPECT_EQ(none, dest);
	M_hashtable_destroy(none, M_TRUE);
	EXPECT_EQ(counters::key_frees, counters::key_dups);
	EXPECT_EQ(counters::val_frees, counters::val_dups);
}

TEST(m_hashtable, merge_into_ordered_dest_appends_new_keys)
{
	/* A key *dest already has keeps its place; keys new to *dest follow in
     * src's order, as the pointers src held. */
	counters::reset();
	M_hashtable_t *dest = counted_table(M_HASHTABLE_KEYS_ORDERED);
	M_hashtable_t *src  = counted_table(M_HASHTABLE_KEYS_ORDERED);
	M_hashtable_insert(dest, "x", "1");
	M_hashtable_insert(dest, "y", "2");
	for (const char *k : {"z", "y", "w"})
		M_hashtable_insert(src, k, (std::string("s") + k).c_str());
	const void        *src_w = nullptr;
	M_hashtable_enum_t he;
	M_hashtable_enumerate(src, &he);
	for (int i = 0; i < 3; i++)
		ASSERT_TRUE(M_hashtable_enumerate_next(src, &he, &src_w, nullptr));

	M_hashtable_merge(&dest, src);
	EXPECT_EQ(pairs(dest),
	          (std::vector<std::pair<std::string, std::string>>{{"x", "1"}, {"y", "sy"}, {"z", "sz"}, {"w", "sw"}}));
	const void *last = nullptr;
	M_hashtable_enumerate(dest, &he);
	while (M_hashtable_enumerate_next(dest, &he, &last, nullptr)) {
	}
	EXPECT_EQ(last, src_w);            /* adopted, not copied */
	EXPECT_EQ(counters::key_frees, 1); /* src's "y" */
	M_hashtable_destroy(dest, M_TRUE);
	EXPECT_EQ(counters::key_frees, counters::key_dups);
	EXPECT_EQ(counters::val_frees, counters::val_dups);
}
