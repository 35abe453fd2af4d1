/* Tests for M_sort_mergesort: exact agreement with std::stable_sort (equal
 * keys keep their input order) over element sizes and input patterns. */
#include <gtest/gtest.h>

#include "containers/m_sort_mergesort.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

/* Key: byte 0 (sizes below 4) or the 32-bit number at offset 0. */
uint32_t key_of(const char *e, size_t size)
{
	if (size < 4)
		return static_cast<unsigned char>(e[0]);
	uint32_t k;
	std::memcpy(&k, e, 4);
	return k;
}

int cmp_key(const void *a, const void *b, void *thunk)
{
	const size_t   size = *static_cast<const size_t *>(thunk);
	const uint32_t ka   = key_of(static_cast<const char *>(a), size);
	const uint32_t kb   = key_of(static_cast<const char *>(b), size);
	return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

void check(size_t n, size_t size, int pattern, std::mt19937 &rng)
{
	std::vector<std::string> in;
	for (size_t i = 0; i < n; i++) {
		uint32_t k = 0;
		switch (pattern) {
			case 0:
				k = static_cast<uint32_t>(rng() % 8);
				break; /* many ties */
			case 1:
				k = static_cast<uint32_t>(rng());
				break;
			case 2:
				k = static_cast<uint32_t>(i);
				break;
			case 3:
				k = static_cast<uint32_t>(n - i);
				break;
			case 4:
				k = 1;
				break;
			case 5:
				k = static_cast<uint32_t>(i < n / 2 ? i : n - i);
				break;
		}
		std::string e(size, '\0');
		if (size < 4)
			e[0] = static_cast<char>(k & 0x3);
		else
			std::memcpy(e.data(), &k, 4);
		for (size_t b = (size < 4 ? 1 : 4); b < size; b++)
			e[b] = static_cast<char>((i >> (8 * ((b - 1) % 4))) & 0xFF);
		in.push_back(e);
	}

	std::vector<char> buf(n * size + 1);
	for (size_t i = 0; i < n; i++)
		std::memcpy(buf.data() + i * size, in[i].data(), size);
	size_t thunk = size;
	M_sort_mergesort(buf.data(), n, size, cmp_key, &thunk);

	std::vector<std::string> ref = in;
	std::stable_sort(ref.begin(), ref.end(), [size](const std::string &a, const std::string &b) {
		return key_of(a.data(), size) < key_of(b.data(), size);
	});
	for (size_t i = 0; i < n; i++)
		ASSERT_EQ(std::string(buf.data() + i * size, size), ref[i]) << "n=" << n << " size=" << size << " at " << i;
}

} // namespace

TEST(m_sort_mergesort, matches_std_stable_sort)
{
	std::mt19937 rng(31337);
	const size_t sizes[]  = {1, 2, 4, 5, 8, 11, 16, 24};
	const size_t counts[] = {0, 1, 2, 3, 5, 7, 8, 31, 64, 65, 500, 4097};
	for (size_t size : sizes)
		for (size_t n : counts)
			for (int p = 0; p < 6; p++) {
				check(n, size, p, rng);
				if (HasFatalFailure())
					return;
			}
	check(200000, 8, 0, rng);
	check(50000, 12, 1, rng);
}

TEST(m_sort_mergesort, records_with_equal_fields_keep_input_order)
{
	struct Rec {
		int  field;
		char name;
	};
	Rec recs[] = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {0, 'e'}, {2, 'f'}};
	M_sort_mergesort(
	    recs, 6, sizeof(Rec),
	    [](const void *a, const void *b, void *) {
		    return static_cast<const Rec *>(a)->field - static_cast<const Rec *>(b)->field;
	    },
	    nullptr);
	const char expect[] = "ebdacf";
	for (int i = 0; i < 6; i++)
		EXPECT_EQ(recs[i].name, expect[i]);
}

TEST(m_sort_mergesort, null_and_degenerate_arguments)
{
	int  v[3] = {3, 1, 2};
	auto cmp  = [](const void *a, const void *b, void *) {
        return *static_cast<const int *>(a) - *static_cast<const int *>(b);
	};
	M_sort_mergesort(nullptr, 3, sizeof(int), cmp, nullptr);
	M_sort_mergesort(v, 3, sizeof(int), nullptr, nullptr);
	M_sort_mergesort(v, 3, 0, cmp, nullptr);
	M_sort_mergesort(v, 1, sizeof(int), cmp, nullptr);
	EXPECT_EQ(v[0], 3);
	M_sort_mergesort(v, 3, sizeof(int), cmp, nullptr);
	EXPECT_EQ(v[0], 1);
	EXPECT_EQ(v[1], 2);
	EXPECT_EQ(v[2], 3);
}
