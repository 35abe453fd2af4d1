#include <gtest/gtest.h>

#include "containers/m_hash_stridx.h"
#include "containers/m_hash_strvp.h"
#include "tests/containers/hash_test_util.h"

#include <string>
#include <vector>

using hash_test::stridx_keys;

TEST(m_hash_stridx, case_insensitive_keys)
{
	M_hash_stridx_t *h = M_hash_stridx_create(8, 75, M_HASH_STRIDX_CASECMP);
	EXPECT_TRUE(M_hash_stridx_insert(h, "Merchant_User", 3));
	size_t idx = 99;
	EXPECT_TRUE(M_hash_stridx_get(h, "MERCHANT_USER", &idx));
	EXPECT_EQ(idx, 3u);
	/* A later insert in other case replaces the value, keeps the first text. */
	EXPECT_TRUE(M_hash_stridx_insert(h, "merchant_user", 7));
	EXPECT_EQ(M_hash_stridx_num_keys(h), 1u);
	EXPECT_EQ(M_hash_stridx_get_direct(h, "mErChAnT_uSeR"), 7u);
	EXPECT_EQ(stridx_keys(h), (std::vector<std::string>{"Merchant_User"}));
	M_hash_stridx_destroy(h);

	/* Case-sensitive by default. */
	h = M_hash_stridx_create(8, 75, M_HASH_STRIDX_NONE);
	M_hash_stridx_insert(h, "Name", 1);
	EXPECT_FALSE(M_hash_stridx_get(h, "NAME", nullptr));
	M_hash_stridx_destroy(h);
}

TEST(m_hash_stridx, stored_key_case)
{
	struct {
		uint32_t    flags;
		const char *stored;
	} cases[] = {
	    {M_HASH_STRIDX_KEYS_UPPER, "MIXED_1"},
	    {M_HASH_STRIDX_KEYS_LOWER, "mixed_1"},
	    {M_HASH_STRIDX_KEYS_UPPER | M_HASH_STRIDX_KEYS_LOWER, "mixed_1"},
	};
	for (const auto &c : cases) {
		M_hash_stridx_t *h = M_hash_stridx_create(8, 75, c.flags);
		EXPECT_TRUE(M_hash_stridx_insert(h, "MiXed_1", 1));
		EXPECT_EQ(stridx_keys(h), (std::vector<std::string>{c.stored}));
		/* The key is found through the text it was inserted as, and a second
         * insert of it does not store it twice. */
		EXPECT_EQ(M_hash_stridx_get_direct(h, "MiXed_1"), 1u);
		EXPECT_TRUE(M_hash_stridx_insert(h, "MiXed_1", 2));
		EXPECT_EQ(M_hash_stridx_num_keys(h), 1u);
		M_hash_stridx_destroy(h);
	}
}

TEST(m_hash_stridx, sorted_stored_case_keeps_byte_order)
{
	/* Upper-cased keys sort in plain byte order: "_" (0x5F) and "^" (0x5E)
     * come after the capitals. Only CASECMP asks for the case-insensitive
     * order, which puts them before the letters. */
	const char *in[] = {"a_b", "ab", "a^", "aa"};
	struct {
		uint32_t                 flags;
		std::vector<std::string> want;
	} cases[] = {
	    {M_HASH_STRIDX_KEYS_UPPER | M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTASC, {"AA", "AB", "A^", "A_B"}},
	    {M_HASH_STRIDX_KEYS_UPPER | M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTDESC,
	     {"A_B", "A^", "AB", "AA"}},
	    {M_HASH_STRIDX_KEYS_UPPER | M_HASH_STRIDX_CASECMP | M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTASC,
	     {"A^", "A_B", "AA", "AB"}},
	    {M_HASH_STRIDX_KEYS_LOWER | M_HASH_STRIDX_KEYS_ORDERED | M_HASH_STRIDX_KEYS_SORTASC, {"a^", "a_b", "aa", "ab"}},
	};
	for (const auto &c : cases) {
		M_hash_stridx_t *h = M_hash_stridx_create(8, 75, c.flags);
		ASSERT_NE(h, nullptr);
		for (size_t i = 0; i < 4; i++)
			EXPECT_TRUE(M_hash_stridx_insert(h, in[i], i));
		EXPECT_EQ(stridx_keys(h), c.want) << c.flags;
		/* Look-ups still ignore case, and removal finds the key in the list. */
		EXPECT_EQ(M_hash_stridx_get_direct(h, "A_b"), 0u);
		EXPECT_EQ(M_hash_stridx_get_direct(h, "aB"), 1u);
		EXPECT_TRUE(M_hash_stridx_remove(h, "Ab"));
		EXPECT_EQ(M_hash_stridx_num_keys(h), 3u);
		EXPECT_EQ(stridx_keys(h).size(), 3u);
		M_hash_stridx_destroy(h);
	}
}

TEST(m_hash_stridx, refusals_and_absent_keys)
{
	EXPECT_EQ(M_hash_stridx_create(0, 75, 0), nullptr);
	EXPECT_EQ(M_hash_stridx_create(8, 100, 0), nullptr);
	EXPECT_EQ(M_hash_stridx_create(8, 75, M_HASH_STRIDX_MULTI_GETLAST), nullptr);
	EXPECT_EQ(M_hash_strvp_create(8, 75, M_HASH_STRIDX_MULTI_GETLAST, nullptr), nullptr);

	M_hash_stridx_t *h = M_hash_stridx_create(8, 75, 0);
	EXPECT_FALSE(M_hash_stridx_insert(h, "", 1));
	EXPECT_FALSE(M_hash_stridx_insert(h, nullptr, 1));
	EXPECT_EQ(M_hash_stridx_num_keys(h), 0u);

	M_hash_stridx_enum_t *he = reinterpret_cast<M_hash_stridx_enum_t *>(&h); /* must be overwritten */
	EXPECT_EQ(M_hash_stridx_enumerate(h, &he), 0u);
	EXPECT_EQ(he, nullptr);
	EXPECT_EQ(M_hash_stridx_enumerate(h, nullptr), 0u);

	size_t idx = 42;
	EXPECT_FALSE(M_hash_stridx_get(h, "absent", &idx));
	EXPECT_EQ(idx, 0u);
	EXPECT_EQ(M_hash_stridx_get_direct(h, "absent"), 0u);
	/* A stored 0 is told apart from absence by get. */
	M_hash_stridx_insert(h, "zero", 0);
	EXPECT_TRUE(M_hash_stridx_get(h, "zero", &idx));
	EXPECT_EQ(idx, 0u);
	EXPECT_TRUE(M_hash_stridx_remove(h, "zero"));
	EXPECT_FALSE(M_hash_stridx_remove(h, "zero"));
	EXPECT_FALSE(M_hash_stridx_multi_len(h, "zero", nullptr));
	M_hash_stridx_destroy(h);

	/* NULL tables. */
	M_hash_stridx_destroy(nullptr);
	EXPECT_FALSE(M_hash_stridx_insert(nullptr, "k", 1));
	EXPECT_FALSE(M_hash_stridx_remove(nullptr, "k"));
	EXPECT_FALSE(M_hash_stridx_get(nullptr, "k", &idx));
	EXPECT_EQ(M_hash_stridx_get_direct(nullptr, "k"), 0u);
	EXPECT_EQ(M_hash_stridx_multi_get_direct(nullptr, "k", 0), 0u);
	EXPECT_FALSE(M_hash_stridx_multi_get(nullptr, "k", 0, &idx));
	EXPECT_FALSE(M_hash_stridx_multi_remove(nullptr, "k", 0));
	EXPECT_EQ(M_hash_stridx_size(nullptr), 0u);
	EXPECT_EQ(M_hash_stridx_num_keys(nullptr), 0u);
	EXPECT_EQ(M_hash_stridx_num_collisions(nullptr), 0u);
	EXPECT_EQ(M_hash_stridx_num_expansions(nullptr), 0u);
	EXPECT_EQ(M_hash_stridx_enumerate(nullptr, &he), 0u);
	EXPECT_EQ(he, nullptr);
	EXPECT_FALSE(M_hash_stridx_enumerate_next(nullptr, nullptr, nullptr, nullptr));
	M_hash_stridx_enumerate_free(nullptr);
	EXPECT_EQ(M_hash_stridx_duplicate(nullptr), nullptr);
	M_hash_stridx_merge(nullptr, nullptr);
}

TEST(m_hash_stridx, multi_value_duplicate_merge)
{
	M_hash_stridx_t *h = M_hash_stridx_create(8, 75, M_HASH_STRIDX_MULTI_VALUE | M_HASH_STRIDX_MULTI_GETLAST);
	ASSERT_NE(h, nullptr);
	for (size_t v : {5, 0, 9})
		M_hash_stridx_insert(h, "col", v);
	size_t len = 0;
	EXPECT_TRUE(M_hash_stridx_multi_len(h, "col", &len));
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(M_hash_stridx_get_direct(h, "col"), 9u); /* GETLAST */
	EXPECT_EQ(M_hash_stridx_multi_get_direct(h, "col", 1), 0u);
	EXPECT_EQ(M_hash_stridx_multi_get_direct(h, "col", 0), 5u);
	EXPECT_EQ(M_hash_stridx_multi_get_direct(h, "col", 3), 0u);
	EXPECT_TRUE(M_hash_stridx_multi_remove(h, "col", 0));
	EXPECT_EQ(M_hash_stridx_multi_get_direct(h, "col", 0), 0u);

	M_hash_stridx_t *d = M_hash_stridx_duplicate(h);
	ASSERT_NE(d, nullptr);
	EXPECT_TRUE(M_hash_stridx_multi_len(d, "col", &len));
	EXPECT_EQ(len, 2u);

	M_hash_stridx_t *src = M_hash_stridx_create(8, 75, M_HASH_STRIDX_MULTI_VALUE);
	M_hash_stridx_insert(src, "col", 11);
	M_hash_stridx_insert(src, "new", 12);
	M_hash_stridx_merge(&d, src);
	EXPECT_TRUE(M_hash_stridx_multi_len(d, "col", &len));
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(M_hash_stridx_get_direct(d, "col"), 11u);
	EXPECT_EQ(M_hash_stridx_get_direct(d, "new"), 12u);
	M_hash_stridx_destroy(d);
	M_hash_stridx_destroy(h);
}
