#include <gtest/gtest.h>

#include "containers/m_hash_strvp.h"
#include "containers/m_hash_stridx.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <string>
#include <vector>

namespace {

int val_frees = 0;

/* Releases a value and counts it, so tests can prove each value is released
 * exactly once. */
void val_free(void *p)
{
	val_frees++;
	M_free(p);
}

} // namespace

TEST(m_hash_strvp, values_and_release)
{
	val_frees         = 0;
	M_hash_strvp_t *h = M_hash_strvp_create(8, 75, M_HASH_STRIDX_KEYS_ORDERED, val_free);
	EXPECT_TRUE(M_hash_strvp_insert(h, "one", M_strdup("1")));
	EXPECT_TRUE(M_hash_strvp_insert(h, "two", M_strdup("2")));
	EXPECT_TRUE(M_hash_strvp_insert(h, "three", nullptr)); /* NULL values are legal */
	EXPECT_FALSE(M_hash_strvp_insert(h, "", nullptr));
	EXPECT_FALSE(M_hash_strvp_insert(h, nullptr, nullptr));
	EXPECT_TRUE(M_hash_strvp_get(h, "three", nullptr));
	EXPECT_STREQ(static_cast<const char *>(M_hash_strvp_get_direct(h, "two")), "2");
	void *v = reinterpret_cast<void *>(1);
	EXPECT_FALSE(M_hash_strvp_get(h, "absent", &v));
	EXPECT_EQ(v, nullptr);

	/* Replacement releases the old value once. */
	EXPECT_TRUE(M_hash_strvp_insert(h, "one", M_strdup("1b")));
	EXPECT_EQ(val_frees, 1);

	M_hash_strvp_enum_t     *he = nullptr;
	const char              *k;
	std::vector<std::string> keys;
	EXPECT_EQ(M_hash_strvp_enumerate(h, &he), 3u);
	while (M_hash_strvp_enumerate_next(h, he, &k, &v))
		keys.emplace_back(k);
	M_hash_strvp_enumerate_free(he);
	EXPECT_EQ(keys, (std::vector<std::string>{"one", "two", "three"}));

	/* Removal without release hands the value back to the caller. */
	void *two = M_hash_strvp_get_direct(h, "two");
	EXPECT_TRUE(M_hash_strvp_remove(h, "two", M_FALSE));
	EXPECT_EQ(val_frees, 1);
	M_free(two);

	M_hash_strvp_t *src = M_hash_strvp_create(8, 75, 0, val_free);
	M_hash_strvp_insert(src, "one", M_strdup("1c"));
	M_hash_strvp_insert(src, "four", M_strdup("4"));
	M_hash_strvp_merge(&h, src);
	EXPECT_EQ(val_frees, 2); /* "1b" replaced */
	EXPECT_STREQ(static_cast<const char *>(M_hash_strvp_get_direct(h, "one")), "1c");
	EXPECT_EQ(M_hash_strvp_num_keys(h), 3u); /* one, three, four */
	EXPECT_GE(M_hash_strvp_size(h), 8u);
	EXPECT_EQ(M_hash_strvp_num_expansions(h), 0u);
	EXPECT_LE(M_hash_strvp_num_collisions(h), 3u);
	M_hash_strvp_destroy(h, M_TRUE);
	EXPECT_EQ(val_frees, 5); /* 1c, 4 and NULL for "three" */
}

TEST(m_hash_strvp, multi_and_nulls)
{
	static char     a[] = "a", b[] = "b";
	M_hash_strvp_t *h = M_hash_strvp_create(4, 75, M_HASH_STRIDX_MULTI_VALUE, nullptr);
	M_hash_strvp_insert(h, "k", a);
	M_hash_strvp_insert(h, "k", b);
	size_t len = 0;
	EXPECT_TRUE(M_hash_strvp_multi_len(h, "k", &len));
	EXPECT_EQ(len, 2u);
	void *v = nullptr;
	EXPECT_TRUE(M_hash_strvp_multi_get(h, "k", 1, &v));
	EXPECT_EQ(v, b);
	EXPECT_EQ(M_hash_strvp_multi_get_direct(h, "k", 0), a);
	EXPECT_EQ(M_hash_strvp_multi_get_direct(h, "k", 2), nullptr);
	EXPECT_TRUE(M_hash_strvp_multi_remove(h, "k", 0, M_TRUE)); /* no value_free: nothing released */
	EXPECT_EQ(M_hash_strvp_get_direct(h, "k"), b);
	M_hash_strvp_destroy(h, M_TRUE);

	M_hash_strvp_destroy(nullptr, M_TRUE);
	EXPECT_FALSE(M_hash_strvp_insert(nullptr, "k", nullptr));
	EXPECT_FALSE(M_hash_strvp_remove(nullptr, "k", M_TRUE));
	EXPECT_FALSE(M_hash_strvp_get(nullptr, "k", &v));
	EXPECT_EQ(M_hash_strvp_get_direct(nullptr, nullptr), nullptr);
	EXPECT_FALSE(M_hash_strvp_multi_len(nullptr, "k", &len));
	EXPECT_FALSE(M_hash_strvp_multi_get(nullptr, "k", 0, &v));
	EXPECT_FALSE(M_hash_strvp_multi_remove(nullptr, "k", 0, M_TRUE));
	EXPECT_EQ(M_hash_strvp_size(nullptr), 0u);
	EXPECT_EQ(M_hash_strvp_num_keys(nullptr), 0u);
	EXPECT_EQ(M_hash_strvp_num_collisions(nullptr), 0u);
	EXPECT_EQ(M_hash_strvp_num_expansions(nullptr), 0u);
	M_hash_strvp_enum_t *he = nullptr;
	EXPECT_EQ(M_hash_strvp_enumerate(nullptr, &he), 0u);
	EXPECT_EQ(he, nullptr);
	EXPECT_FALSE(M_hash_strvp_enumerate_next(nullptr, nullptr, nullptr, nullptr));
	M_hash_strvp_enumerate_free(nullptr);
	M_hash_strvp_merge(nullptr, nullptr);
}
