/* The hash functions and the string-keyed tables (to index, to pointer); the
 * general table is tested on its own. */
#include "tests/test_util.h"

#include "containers/m_hash_func.h"
#include "containers/m_hash_stridx.h"
#include "containers/m_hash_strvp.h"

using V = std::vector<std::string>;

namespace {

/* Keys in enumeration order (asked only where that order is defined). */
V keys(const M_hash_stridx_t *h)
{
	V                     out;
	M_hash_stridx_enum_t *he = nullptr;
	const char           *k;
	M_hash_stridx_enumerate(h, &he);
	while (M_hash_stridx_enumerate_next(h, he, &k, nullptr))
		out.emplace_back(k);
	M_hash_stridx_enumerate_free(he);
	return out;
}

using vals = test_util::counting<0>;

} // namespace

TEST(m_hash, functions)
{
	/* With the published offset basis as seed: the FNV-1a 32-bit vectors. */
	constexpr uint32_t basis = 2166136261u;
	EXPECT_EQ(M_hash_func_hash_str("a", basis), 0xe40c292cu);
	EXPECT_EQ(M_hash_func_hash_str("foobar", basis), 0xbf9cf968u);
	/* Empty and NULL strings give the seed back; only A to Z fold. */
	EXPECT_EQ(M_hash_func_hash_str(nullptr, 77u), 77u);
	EXPECT_EQ(M_hash_func_hash_str_casecmp(nullptr, 5u), 5u);
	EXPECT_EQ(M_hash_func_hash_str_casecmp("AZ@[`{HeLLo", 99u), M_hash_func_hash_str("az@[`{hello", 99u));
	/* A pointer hashes as its 8 address bytes, least significant first; NULL
	 * as the number 0. */
	uint64_t addr = 0x0102030405060708ull, zero = 0;
	EXPECT_EQ(M_hash_func_hash_vp(reinterpret_cast<const void *>(addr), 3u), M_hash_func_hash_u64(&addr, 3u));
	EXPECT_EQ(M_hash_func_hash_vp(nullptr, 3u), M_hash_func_hash_u64(&zero, 3u));
	EXPECT_EQ(M_hash_func_hash_u64(nullptr, 3u), M_hash_func_hash_u64(&zero, 3u));
	uint64_t *copy = static_cast<uint64_t *>(M_hash_func_u64dup(&addr));
	EXPECT_EQ(*copy, addr);
	M_free(copy);
}

TEST(m_hash, stridx_key_case_and_order)
{
	/* Four keys, then the first again in upper case. Without a case flag that
	 * is a new key; with one, keys are found in any case and keep their
	 * stored text: the first insert's, or upper- or lower-cased when asked.
	 * Upper-cased keys sort in byte order ("_" and "^" after the capitals),
	 * CASECMP and lower-cased ones in the lower-cased order. */
	const uint32_t ord = M_HASH_STRIDX_KEYS_ORDERED, up = M_HASH_STRIDX_KEYS_UPPER, low = M_HASH_STRIDX_KEYS_LOWER;
	const uint32_t asc = M_HASH_STRIDX_KEYS_SORTASC, desc = M_HASH_STRIDX_KEYS_SORTDESC;
	const struct {
		uint32_t flags;
		V        want;
	} cases[] = {{ord, {"a_b", "ab", "a^", "aa", "A_B"}},
	             {ord | desc, {"ab", "aa", "a_b", "a^", "A_B"}},
	             {M_HASH_STRIDX_CASECMP | ord, {"a_b", "ab", "a^", "aa"}},
	             {up | ord, {"A_B", "AB", "A^", "AA"}},
	             {low | up | ord, {"a_b", "ab", "a^", "aa"}},
	             {up | ord | asc, {"AA", "AB", "A^", "A_B"}},
	             {up | ord | desc, {"A_B", "A^", "AB", "AA"}},
	             {up | M_HASH_STRIDX_CASECMP | ord | asc, {"A^", "A_B", "AA", "AB"}},
	             {low | ord | asc, {"a^", "a_b", "aa", "ab"}}};
	for (const auto &c : cases) {
		M_hash_stridx_t *h    = M_hash_stridx_create(8, 75, c.flags);
		const bool       fold = c.want.size() == 4;
		for (size_t i = 0; i < 4; i++)
			EXPECT_TRUE(M_hash_stridx_insert(h, V{"a_b", "ab", "a^", "aa"}[i].c_str(), i));
		EXPECT_TRUE(M_hash_stridx_insert(h, "A_B", 9));
		EXPECT_EQ(keys(h), c.want) << c.flags;
		EXPECT_EQ(M_hash_stridx_get_direct(h, "a_b"), fold ? 9u : 0u) << c.flags;
		EXPECT_EQ(M_hash_stridx_get_direct(h, "aB"), fold ? 1u : 0u) << c.flags;
		EXPECT_EQ(M_hash_stridx_remove(h, "Ab"), fold) << c.flags;
		EXPECT_EQ(M_hash_stridx_num_keys(h), c.want.size() - (fold ? 1 : 0)) << c.flags;
		M_hash_stridx_destroy(h);
	}
}

TEST(m_hash, stridx_refusals_multi_duplicate_merge)
{
	EXPECT_EQ(M_hash_stridx_create(8, 75, M_HASH_STRIDX_MULTI_GETLAST), nullptr);
	M_hash_stridx_t *h = M_hash_stridx_create(8, 75, M_HASH_STRIDX_STATIC_SEED);
	EXPECT_FALSE(M_hash_stridx_insert(h, "", 1));
	M_hash_stridx_enum_t *he = reinterpret_cast<M_hash_stridx_enum_t *>(&h); /* must be overwritten */
	EXPECT_EQ(M_hash_stridx_enumerate(h, &he), 0u);
	EXPECT_EQ(he, nullptr);
	/* A stored 0 is told apart from absence only by get. */
	size_t idx = 42;
	EXPECT_FALSE(M_hash_stridx_get(h, "zero", &idx));
	EXPECT_EQ(idx, 0u);
	M_hash_stridx_insert(h, "zero", 0);
	EXPECT_TRUE(M_hash_stridx_get(h, "zero", &idx));
	M_hash_stridx_destroy(h);

	h = M_hash_stridx_create(8, 75, M_HASH_STRIDX_MULTI_VALUE | M_HASH_STRIDX_MULTI_GETLAST);
	for (size_t v : {5, 0, 9})
		M_hash_stridx_insert(h, "col", v);
	size_t len = 0;
	EXPECT_TRUE(M_hash_stridx_multi_len(h, "col", &len));
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(M_hash_stridx_get_direct(h, "col"), 9u); /* GETLAST */
	EXPECT_TRUE(M_hash_stridx_multi_get(h, "col", 0, &idx));
	EXPECT_EQ(idx, 5u);
	EXPECT_EQ(M_hash_stridx_multi_get_direct(h, "col", 3), 0u);
	EXPECT_TRUE(M_hash_stridx_multi_remove(h, "col", 0));
	/* The duplicate keeps the values; merged values follow them. */
	M_hash_stridx_t *d = M_hash_stridx_duplicate(h);
	M_hash_stridx_destroy(h);
	M_hash_stridx_t *src = M_hash_stridx_create(8, 75, M_HASH_STRIDX_MULTI_VALUE);
	M_hash_stridx_insert(src, "col", 11);
	M_hash_stridx_insert(src, "new", 12);
	M_hash_stridx_merge(&d, src);
	EXPECT_TRUE(M_hash_stridx_multi_len(d, "col", &len));
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(M_hash_stridx_multi_get_direct(d, "col", 0), 0u);
	EXPECT_EQ(M_hash_stridx_get_direct(d, "col"), 11u);
	EXPECT_EQ(M_hash_stridx_get_direct(d, "new"), 12u);
	M_hash_stridx_destroy(d);
}

TEST(m_hash, strvp_values_and_release)
{
	vals::frees       = 0;
	M_hash_strvp_t *h = M_hash_strvp_create(8, 75, M_HASH_STRIDX_KEYS_ORDERED, vals::free);
	EXPECT_TRUE(M_hash_strvp_insert(h, "one", M_strdup("1")));
	EXPECT_TRUE(M_hash_strvp_insert(h, "two", M_strdup("2")));
	EXPECT_TRUE(M_hash_strvp_insert(h, "three", nullptr)); /* NULL values are legal */
	EXPECT_FALSE(M_hash_strvp_insert(h, "", nullptr));
	EXPECT_TRUE(M_hash_strvp_get(h, "three", nullptr));
	void *v = reinterpret_cast<void *>(1);
	EXPECT_FALSE(M_hash_strvp_get(h, "absent", &v));
	EXPECT_EQ(v, nullptr);
	EXPECT_TRUE(M_hash_strvp_insert(h, "one", M_strdup("1b")));
	EXPECT_EQ(vals::frees, 1);
	M_hash_strvp_enum_t *he = nullptr;
	const char          *k;
	V                    got;
	EXPECT_EQ(M_hash_strvp_enumerate(h, &he), 3u);
	while (M_hash_strvp_enumerate_next(h, he, &k, &v))
		got.emplace_back(k);
	M_hash_strvp_enumerate_free(he);
	EXPECT_EQ(got, (V{"one", "two", "three"}));
	/* Removal without release hands the value back to the caller. */
	void *two = M_hash_strvp_get_direct(h, "two");
	EXPECT_STREQ(static_cast<const char *>(two), "2");
	EXPECT_TRUE(M_hash_strvp_remove(h, "two", M_FALSE));
	EXPECT_EQ(vals::frees, 1);
	M_free(two);
	M_hash_strvp_t *src = M_hash_strvp_create(8, 75, 0, vals::free);
	M_hash_strvp_insert(src, "one", M_strdup("1c"));
	M_hash_strvp_insert(src, "four", M_strdup("4"));
	M_hash_strvp_merge(&h, src);
	EXPECT_EQ(vals::frees, 2); /* "1b" replaced */
	EXPECT_STREQ(static_cast<const char *>(M_hash_strvp_get_direct(h, "one")), "1c");
	EXPECT_EQ(M_hash_strvp_num_keys(h), 3u);
	M_hash_strvp_destroy(h, M_TRUE);
	EXPECT_EQ(vals::frees, 5); /* 1c, 4 and NULL for "three" */

	/* A value by index, directly: NULL past the last. */
	static char a[] = "a", b[] = "b";
	h = M_hash_strvp_create(4, 75, M_HASH_STRIDX_MULTI_VALUE, nullptr);
	M_hash_strvp_insert(h, "k", a);
	M_hash_strvp_insert(h, "k", b);
	EXPECT_EQ(M_hash_strvp_multi_get_direct(h, "k", 1), b);
	EXPECT_EQ(M_hash_strvp_multi_get_direct(h, "k", 2), nullptr);
	M_hash_strvp_destroy(h, M_TRUE);
}
