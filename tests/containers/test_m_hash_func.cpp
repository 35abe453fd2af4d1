#include <gtest/gtest.h>

#include "containers/m_hash_func.h"
#include "core/m_mem.h"

#include <cstdint>

TEST(m_hash_func, fnv1a_vectors)
{
	/* With the published offset basis as seed, the results are the published
     * FNV-1a 32-bit test vectors. */
	constexpr uint32_t basis = 2166136261u;
	EXPECT_EQ(M_hash_func_hash_str("", basis), basis);
	EXPECT_EQ(M_hash_func_hash_str("a", basis), 0xe40c292cu);
	EXPECT_EQ(M_hash_func_hash_str("foobar", basis), 0xbf9cf968u);
	/* Empty and NULL strings give the seed back. */
	EXPECT_EQ(M_hash_func_hash_str(nullptr, 77u), 77u);
	EXPECT_EQ(M_hash_func_hash_str_casecmp("", 5u), 5u);
	EXPECT_EQ(M_hash_func_hash_str_casecmp(nullptr, 5u), 5u);
	/* One step by hand: (seed ^ 'a') * 16777619. */
	EXPECT_EQ(M_hash_func_hash_str("a", 1u), (1u ^ 0x61u) * 16777619u);
}

TEST(m_hash_func, casecmp_and_binary_keys)
{
	EXPECT_EQ(M_hash_func_hash_str_casecmp("HeLLo_1", 99u), M_hash_func_hash_str("hello_1", 99u));
	EXPECT_NE(M_hash_func_hash_str("HeLLo", 99u), M_hash_func_hash_str("hello", 99u));

	/* A pointer hashes as its 8 address bytes, least significant first:
     * on this little-endian host that is the u64 hash of the address. */
	uint64_t    addr = 0x0102030405060708ull;
	const void *p    = reinterpret_cast<const void *>(static_cast<uintptr_t>(addr));
	EXPECT_EQ(M_hash_func_hash_vp(p, 3u), M_hash_func_hash_u64(&addr, 3u));
	uint64_t zero = 0;
	EXPECT_EQ(M_hash_func_hash_vp(nullptr, 3u), M_hash_func_hash_u64(&zero, 3u));
	EXPECT_EQ(M_hash_func_hash_u64(nullptr, 3u), M_hash_func_hash_u64(&zero, 3u));

	uint64_t *copy = static_cast<uint64_t *>(M_hash_func_u64dup(&addr));
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(*copy, addr);
	M_free(copy);
	EXPECT_EQ(M_hash_func_u64dup(nullptr), nullptr);
	char *s = static_cast<char *>(M_hash_void_strdup("abc"));
	EXPECT_STREQ(s, "abc");
	M_free(s);
	EXPECT_EQ(M_hash_void_strdup(nullptr), nullptr);
}
