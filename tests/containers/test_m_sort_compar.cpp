/* Tests for the standard comparators: each receives element addresses, so
 * the tests pass the addresses of stored pointers as the lists do. */
#include <gtest/gtest.h>

#include "containers/m_sort_compar.h"

#include <cstring>
#include <vector>

namespace {

int sign(int v)
{
	return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

TEST(m_sort_compar, strings)
{
	struct {
		const char *a, *b;
		int         cmp, casecmp;
	} const cases[] = {
	    {"a", "b", -1, -1},  {"b", "a", 1, 1},       {"abc", "abc", 0, 0}, {"A", "a", -1, 0},   {"ab", "abc", -1, -1},
	    {nullptr, "", 0, 0}, {nullptr, "a", -1, -1}, {"B", "a", -1, 1},    {"\xff", "a", 1, 1},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(sign(M_sort_compar_str(&c.a, &c.b, nullptr)), c.cmp) << c.a << " " << c.b;
		EXPECT_EQ(sign(M_sort_compar_str_desc(&c.a, &c.b, nullptr)), -c.cmp);
		EXPECT_EQ(sign(M_sort_compar_str_casecmp(&c.a, &c.b, nullptr)), c.casecmp);
		EXPECT_EQ(sign(M_sort_compar_str_casecmp_desc(&c.a, &c.b, nullptr)), -c.casecmp);
	}
	/* A NULL element address is the empty string. */
	const char *e = "";
	const char *x = "x";
	EXPECT_EQ(M_sort_compar_str(nullptr, &e, nullptr), 0);
	EXPECT_LT(M_sort_compar_str(nullptr, &x, nullptr), 0);
	EXPECT_GT(M_sort_compar_str_casecmp(&x, nullptr, nullptr), 0);
}

TEST(m_sort_compar, u64)
{
	uint64_t        a = 5, b = 7, z = 0;
	const uint64_t *pa = &a, *pb = &b, *pz = &z, *pn = nullptr;
	EXPECT_EQ(M_sort_compar_u64(&pa, &pb, nullptr), -1);
	EXPECT_EQ(M_sort_compar_u64(&pb, &pa, nullptr), 1);
	EXPECT_EQ(M_sort_compar_u64(&pa, &pa, nullptr), 0);
	EXPECT_EQ(M_sort_compar_u64_desc(&pa, &pb, nullptr), 1);
	EXPECT_EQ(M_sort_compar_u64_desc(&pb, &pa, nullptr), -1);
	/* NULL element address and NULL stored pointer both count as 0. */
	EXPECT_EQ(M_sort_compar_u64(nullptr, &pz, nullptr), 0);
	EXPECT_EQ(M_sort_compar_u64(nullptr, &pa, nullptr), -1);
	EXPECT_EQ(M_sort_compar_u64(&pn, &pz, nullptr), 0);
	EXPECT_EQ(M_sort_compar_u64(&pa, &pn, nullptr), 1);
	/* Full unsigned range. */
	uint64_t        big  = UINT64_MAX;
	const uint64_t *pbig = &big;
	EXPECT_EQ(M_sort_compar_u64(&pbig, &pa, nullptr), 1);
}

TEST(m_sort_compar, pointers)
{
	int         arr[2];
	const void *lo = &arr[0];
	const void *hi = &arr[1];
	EXPECT_EQ(M_sort_compar_vp(&lo, &hi, nullptr), -1);
	EXPECT_EQ(M_sort_compar_vp(&hi, &lo, nullptr), 1);
	EXPECT_EQ(M_sort_compar_vp(&lo, &lo, nullptr), 0);
	const void *lo2 = lo;
	EXPECT_EQ(M_sort_compar_vp(&lo, &lo2, nullptr), 0);
	EXPECT_EQ(M_sort_compar_vp_desc(&lo, &hi, nullptr), 1);
	/* NULL element address: first ascending, last descending. */
	EXPECT_EQ(M_sort_compar_vp(nullptr, &lo, nullptr), -1);
	EXPECT_EQ(M_sort_compar_vp(&lo, nullptr, nullptr), 1);
	EXPECT_EQ(M_sort_compar_vp_desc(nullptr, &lo, nullptr), 1);
	EXPECT_EQ(M_sort_compar_vp(nullptr, nullptr, nullptr), 0);
}

namespace {

std::vector<unsigned char> wrap(const std::string &s)
{
	std::vector<unsigned char> w(8 + s.size());
	const uint64_t             len = s.size();
	std::memcpy(w.data(), &len, 8);
	std::memcpy(w.data() + 8, s.data(), s.size());
	return w;
}

} // namespace

TEST(m_sort_compar, wrapped_blocks)
{
	auto w_ab  = wrap("ab");
	auto w_ac  = wrap("ac");
	auto w_abc = wrap("abc");
	auto w_z   = wrap("z");
	auto w_ab2 = wrap("ab");

	const unsigned char *ab = w_ab.data(), *ac = w_ac.data(), *abc = w_abc.data(), *z = w_z.data(), *ab2 = w_ab2.data(),
	                    *nul = nullptr;
	EXPECT_LT(M_sort_compar_binwraped(&ab, &ac, nullptr), 0);
	EXPECT_GT(M_sort_compar_binwraped(&ac, &ab, nullptr), 0);
	/* Shorter first whatever the bytes: "z" before "ab". */
	EXPECT_LT(M_sort_compar_binwraped(&z, &ab, nullptr), 0);
	EXPECT_LT(M_sort_compar_binwraped(&ab, &abc, nullptr), 0);
	EXPECT_EQ(M_sort_compar_binwraped(&ab, &ab2, nullptr), 0);
	EXPECT_EQ(M_sort_compar_binwraped(&ab, &ab, nullptr), 0);
	EXPECT_LT(M_sort_compar_binwraped(nullptr, &ab, nullptr), 0);
	EXPECT_GT(M_sort_compar_binwraped(&ab, nullptr, nullptr), 0);
	EXPECT_LT(M_sort_compar_binwraped(&nul, &ab, nullptr), 0);
	EXPECT_EQ(M_sort_compar_binwraped(&nul, &nul, nullptr), 0);
}
