#include <gtest/gtest.h>

#include "core/m_str_num.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct U64Case {
	const char        *s;
	size_t             len; /* SIZE_MAX: strlen */
	unsigned char      base;
	uint64_t           value;
	M_str_int_retval_t rv;
	size_t             used; /* offset of end */
};

size_t len_of(const U64Case &c)
{
	return c.len == SIZE_MAX ? std::strlen(c.s) : c.len;
}

} // namespace

TEST(m_str_num, uint64_ex_table)
{
	const U64Case cases[] = {
	    {"  +42xyz", 8, 10, 42, M_STR_INT_SUCCESS, 5},
	    {"42", SIZE_MAX, 10, 42, M_STR_INT_SUCCESS, 2},
	    /* Base detection. */
	    {"0x1F", SIZE_MAX, 0, 31, M_STR_INT_SUCCESS, 4},
	    {"0X1f", SIZE_MAX, 0, 31, M_STR_INT_SUCCESS, 4},
	    {"017", SIZE_MAX, 0, 15, M_STR_INT_SUCCESS, 3},
	    {"018", SIZE_MAX, 0, 1, M_STR_INT_SUCCESS, 2}, /* 8 is no octal digit */
	    {"17", SIZE_MAX, 0, 17, M_STR_INT_SUCCESS, 2},
	    {"0", SIZE_MAX, 0, 0, M_STR_INT_SUCCESS, 1},
	    {" -0x10", SIZE_MAX, 0, UINT64_MAX - 15, M_STR_INT_SUCCESS, 6},
	    /* Base 16 given: the prefix is optional. */
	    {"0x1F", SIZE_MAX, 16, 31, M_STR_INT_SUCCESS, 4},
	    {"1f", SIZE_MAX, 16, 31, M_STR_INT_SUCCESS, 2},
	    {"0x", SIZE_MAX, 16, 0, M_STR_INT_INVALID, 2},
	    /* Base 10 given: "0x" is a zero followed by text. */
	    {"0x1F", SIZE_MAX, 10, 0, M_STR_INT_SUCCESS, 1},
	    {"z", SIZE_MAX, 36, 35, M_STR_INT_SUCCESS, 1},
	    {"Zz", SIZE_MAX, 36, 35 * 36 + 35, M_STR_INT_SUCCESS, 2},
	    {"1012", SIZE_MAX, 2, 5, M_STR_INT_SUCCESS, 3},
	    /* Limits and overflow: end still passes every digit. */
	    {"18446744073709551615", SIZE_MAX, 10, UINT64_MAX, M_STR_INT_SUCCESS, 20},
	    {"18446744073709551616", SIZE_MAX, 10, UINT64_MAX, M_STR_INT_OVERFLOW, 20},
	    {"99999999999999999999x", SIZE_MAX, 10, UINT64_MAX, M_STR_INT_OVERFLOW, 20},
	    {"0xffffffffffffffff", SIZE_MAX, 0, UINT64_MAX, M_STR_INT_SUCCESS, 18},
	    {"0x10000000000000000", SIZE_MAX, 0, UINT64_MAX, M_STR_INT_OVERFLOW, 19},
	    /* Negative text wraps (two's complement). */
	    {"-1", SIZE_MAX, 10, UINT64_MAX, M_STR_INT_SUCCESS, 2},
	    {"-0", SIZE_MAX, 10, 0, M_STR_INT_SUCCESS, 2},
	    /* No digit. */
	    {"abc", SIZE_MAX, 10, 0, M_STR_INT_INVALID, 0},
	    {"-", SIZE_MAX, 10, 0, M_STR_INT_INVALID, 1},
	    {"   ", SIZE_MAX, 10, 0, M_STR_INT_INVALID, 3},
	    {"+-1", SIZE_MAX, 10, 0, M_STR_INT_INVALID, 1},
	    /* The length bounds the conversion. */
	    {"12345", 3, 10, 123, M_STR_INT_SUCCESS, 3},
	    {"0x1F", 2, 0, 0, M_STR_INT_INVALID, 2}, /* "0x" then nothing */
	    {"0x1F", 3, 0, 1, M_STR_INT_SUCCESS, 3},
	    {"  7", 2, 10, 0, M_STR_INT_INVALID, 2},
	    /* A terminator inside len ends the number. */
	    {"12\0"
	     "34",
	     5, 10, 12, M_STR_INT_SUCCESS, 2},
	    /* Unusable bases. */
	    {"12", SIZE_MAX, 1, 0, M_STR_INT_INVALID, 0},
	    {" -12", SIZE_MAX, 37, 0, M_STR_INT_INVALID, 2},
	};
	for (const U64Case &c : cases) {
		uint64_t           v   = 12345;
		const char        *end = nullptr;
		M_str_int_retval_t rv  = M_str_to_uint64_ex(c.s, len_of(c), c.base, &v, &end);
		EXPECT_EQ(rv, c.rv) << c.s << " base " << int(c.base);
		EXPECT_EQ(v, c.value) << c.s << " base " << int(c.base);
		EXPECT_EQ(end, c.s + c.used) << c.s << " base " << int(c.base);
	}
}

TEST(m_str_num, bad_arguments)
{
	uint64_t    v   = 7;
	const char *end = nullptr;
	const char *s   = "123";
	EXPECT_EQ(M_str_to_uint64_ex(nullptr, 3, 10, &v, &end), M_STR_INT_INVALID);
	EXPECT_EQ(v, 0u);
	EXPECT_EQ(end, nullptr);
	v = 7;
	EXPECT_EQ(M_str_to_uint64_ex(s, 0, 10, &v, &end), M_STR_INT_INVALID);
	EXPECT_EQ(v, 0u);
	EXPECT_EQ(end, s);
	EXPECT_EQ(M_str_to_uint64_ex(s, 3, 10, nullptr, &end), M_STR_INT_INVALID);
	EXPECT_EQ(M_str_to_uint64_ex(s, 3, 10, &v, nullptr), M_STR_INT_SUCCESS);
	EXPECT_EQ(v, 123u);

	int64_t  i64 = 1;
	int32_t  i32 = 1;
	uint32_t u32 = 1;
	EXPECT_EQ(M_str_to_int64_ex(nullptr, 3, 10, &i64, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(i64, 0);
	EXPECT_EQ(M_str_to_int32_ex(s, 0, 10, &i32, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(i32, 0);
	EXPECT_EQ(M_str_to_uint32_ex(s, 3, 99, &u32, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(u32, 0u);
	EXPECT_EQ(M_str_to_int64_ex(s, 3, 10, nullptr, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(M_str_to_int32_ex(s, 3, 10, nullptr, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(M_str_to_uint32_ex(s, 3, 10, nullptr, nullptr), M_STR_INT_INVALID);
}

TEST(m_str_num, length_zero_reads_nothing)
{
	/* The text lies on a page that may not be read at all: a length of 0
	 * must be refused before the front end looks at a single byte. */
	const long page = ::sysconf(_SC_PAGESIZE);
	ASSERT_GT(page, 0);
	void *m = ::mmap(nullptr, static_cast<size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	ASSERT_NE(m, MAP_FAILED);
	const char *s = static_cast<const char *>(m);

	uint64_t    u64 = 9;
	int64_t     i64 = 9;
	uint32_t    u32 = 9;
	int32_t     i32 = 9;
	const char *end = nullptr;
	EXPECT_EQ(M_str_to_uint64_ex(s, 0, 10, &u64, &end), M_STR_INT_INVALID);
	EXPECT_EQ(u64, 0u);
	EXPECT_EQ(end, s);
	EXPECT_EQ(M_str_to_int64_ex(s, 0, 0, &i64, &end), M_STR_INT_INVALID);
	EXPECT_EQ(i64, 0);
	EXPECT_EQ(M_str_to_uint32_ex(s, 0, 16, &u32, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(u32, 0u);
	EXPECT_EQ(M_str_to_int32_ex(s, 0, 10, &i32, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(i32, 0);
	::munmap(m, static_cast<size_t>(page));
}

TEST(m_str_num, int64_ex_limits)
{
	struct Case {
		const char        *s;
		int64_t            value;
		M_str_int_retval_t rv;
	};
	const Case cases[] = {
	    {"-1", -1, M_STR_INT_SUCCESS},
	    {"9223372036854775807", INT64_MAX, M_STR_INT_SUCCESS},
	    {"9223372036854775808", INT64_MAX, M_STR_INT_OVERFLOW},
	    {"-9223372036854775808", INT64_MIN, M_STR_INT_SUCCESS},
	    {"-9223372036854775809", INT64_MIN, M_STR_INT_OVERFLOW},
	    {"-99999999999999999999999", INT64_MIN, M_STR_INT_OVERFLOW},
	    {"99999999999999999999999", INT64_MAX, M_STR_INT_OVERFLOW},
	    {"  -17 apples", -17, M_STR_INT_SUCCESS},
	    {"x", 0, M_STR_INT_INVALID},
	};
	for (const Case &c : cases) {
		int64_t v = 5;
		EXPECT_EQ(M_str_to_int64_ex(c.s, std::strlen(c.s), 10, &v, nullptr), c.rv) << c.s;
		EXPECT_EQ(v, c.value) << c.s;
	}
	int64_t v = 0;
	EXPECT_EQ(M_str_to_int64_ex("-0x80", 5, 0, &v, nullptr), M_STR_INT_SUCCESS);
	EXPECT_EQ(v, -128);
}

TEST(m_str_num, int32_and_uint32_ex_limits)
{
	struct Case {
		const char        *s;
		int64_t            i32;
		M_str_int_retval_t irv;
		uint64_t           u32;
		M_str_int_retval_t urv;
	};
	const Case cases[] = {
	    {"2147483647", INT32_MAX, M_STR_INT_SUCCESS, 2147483647u, M_STR_INT_SUCCESS},
	    {"2147483648", INT32_MAX, M_STR_INT_OVERFLOW, 2147483648u, M_STR_INT_SUCCESS},
	    {"-2147483648", INT32_MIN, M_STR_INT_SUCCESS, UINT32_MAX, M_STR_INT_OVERFLOW},
	    {"-2147483649", INT32_MIN, M_STR_INT_OVERFLOW, UINT32_MAX, M_STR_INT_OVERFLOW},
	    {"4294967295", INT32_MAX, M_STR_INT_OVERFLOW, UINT32_MAX, M_STR_INT_SUCCESS},
	    {"4294967296", INT32_MAX, M_STR_INT_OVERFLOW, UINT32_MAX, M_STR_INT_OVERFLOW},
	    {"-5", -5, M_STR_INT_SUCCESS, UINT32_MAX, M_STR_INT_OVERFLOW},
	    {"-0", 0, M_STR_INT_SUCCESS, 0, M_STR_INT_SUCCESS},
	    {"99999999999999999999", INT32_MAX, M_STR_INT_OVERFLOW, UINT32_MAX, M_STR_INT_OVERFLOW},
	};
	for (const Case &c : cases) {
		int32_t  i = 3;
		uint32_t u = 3;
		EXPECT_EQ(M_str_to_int32_ex(c.s, std::strlen(c.s), 10, &i, nullptr), c.irv) << c.s;
		EXPECT_EQ(i, c.i32) << c.s;
		EXPECT_EQ(M_str_to_uint32_ex(c.s, std::strlen(c.s), 10, &u, nullptr), c.urv) << c.s;
		EXPECT_EQ(u, c.u32) << c.s;
	}
}

TEST(m_str_num, short_forms_saturate)
{
	EXPECT_EQ(M_str_to_uint64(nullptr), 0u);
	EXPECT_EQ(M_str_to_uint64(""), 0u);
	EXPECT_EQ(M_str_to_uint64("abc"), 0u);
	EXPECT_EQ(M_str_to_uint64(" 42 "), 42u);
	EXPECT_EQ(M_str_to_uint64("0x10"), 0u); /* base 10: no prefix */
	EXPECT_EQ(M_str_to_uint64("010"), 10u); /* base 10: no octal */
	EXPECT_EQ(M_str_to_uint64("-1"), UINT64_MAX);
	EXPECT_EQ(M_str_to_uint64("99999999999999999999"), UINT64_MAX);

	EXPECT_EQ(M_str_to_int64(nullptr), 0);
	EXPECT_EQ(M_str_to_int64("-42"), -42);
	EXPECT_EQ(M_str_to_int64("9223372036854775808"), INT64_MAX);
	EXPECT_EQ(M_str_to_int64("-9223372036854775809"), INT64_MIN);

	EXPECT_EQ(M_str_to_int32(nullptr), 0);
	EXPECT_EQ(M_str_to_int32("3000000000"), INT32_MAX);
	EXPECT_EQ(M_str_to_int32("-3000000000"), INT32_MIN);
	EXPECT_EQ(M_str_to_int32("-7"), -7);

	EXPECT_EQ(M_str_to_uint32(nullptr), 0u);
	EXPECT_EQ(M_str_to_uint32("-5"), UINT32_MAX);
	EXPECT_EQ(M_str_to_uint32("-0"), 0u);
	EXPECT_EQ(M_str_to_uint32("4294967295"), UINT32_MAX);
	EXPECT_EQ(M_str_to_uint32("4294967296"), UINT32_MAX);
}

TEST(m_str_num, intconv_prep)
{
	const char   *s    = " \t-0x1Fz";
	size_t        len  = std::strlen(s);
	unsigned char base = 0;
	M_bool        neg  = M_FALSE;
	M_str_intconv_prep(&s, &len, &base, &neg);
	EXPECT_STREQ(s, "1Fz");
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(base, 16);
	EXPECT_TRUE(neg);

	s    = "+0755";
	len  = 5;
	base = 0;
	M_str_intconv_prep(&s, &len, &base, &neg);
	EXPECT_STREQ(s, "0755"); /* the octal zero is a digit, not a prefix */
	EXPECT_EQ(base, 8);
	EXPECT_FALSE(neg);

	s    = "0x12";
	len  = 4;
	base = 2; /* other bases are left alone */
	M_str_intconv_prep(&s, &len, &base, &neg);
	EXPECT_STREQ(s, "0x12");
	EXPECT_EQ(base, 2);

	/* The front end does not step past its count. */
	s    = "   5";
	len  = 2;
	base = 0;
	M_str_intconv_prep(&s, &len, &base, &neg);
	EXPECT_EQ(len, 0u);
	EXPECT_STREQ(s, " 5");
	EXPECT_EQ(base, 10);

	/* NULL arguments: nothing happens. */
	const char *null_s = nullptr;
	len                = 4;
	base               = 0;
	M_str_intconv_prep(&null_s, &len, &base, &neg);
	EXPECT_EQ(len, 4u);
	EXPECT_EQ(base, 0);
	EXPECT_FALSE(neg);
	M_str_intconv_prep(nullptr, &len, &base, &neg);
	M_str_intconv_prep(&s, nullptr, &base, &neg);
	M_str_intconv_prep(&s, &len, nullptr, &neg);
	M_str_intconv_prep(&s, &len, &base, nullptr);
	EXPECT_STREQ(s, " 5");
}

TEST(m_str_num, atofi_prec)
{
	struct Case {
		const char *s;
		size_t      places;
		int64_t     value;
	};
	const Case cases[] = {
	    {"1,234.567", 2, 123457}, /* grouping commas skipped, rounded up */
	    {"1,234.564", 2, 123456}, /* rounded down */
	    {"12", 2, 1200},
	    {"-0.5", 2, -50},
	    {"1.2.3", 2, 120}, /* a second "." ends the number */
	    {"  +3.14159", 4, 31416},
	    {"2.5", 0, 3},
	    {"2.4", 0, 2},
	    {"-2.5", 0, -3}, /* rounding away from zero on the magnitude */
	    {"0.999", 2, 100},
	    {"1,0,0", 0, 100},
	    {".5", 2, 50},
	    {"12abc", 2, 1200},
	    {"abc", 2, 0},
	    {"", 2, 0},
	    {"   ", 2, 0},
	    {"0", 1000000, 0}, /* many places of zero stay cheap */
	    /* Saturation instead of signed overflow. */
	    {"99999999999999999999", 2, INT64_MAX},
	    {"-99999999999999999999", 2, INT64_MIN},
	    {"1", 30, INT64_MAX},
	    {"9223372036854775807", 0, INT64_MAX},
	    {"-9223372036854775808", 0, INT64_MIN},
	};
	for (const Case &c : cases)
		EXPECT_EQ(M_atofi_prec(c.s, c.places), c.value) << c.s << " places " << c.places;
	EXPECT_EQ(M_atofi_prec(nullptr, 2), 0);
}

TEST(m_str_num, atofi100)
{
	EXPECT_EQ(M_atofi100(nullptr), 0);
	EXPECT_EQ(M_atofi100("12.34"), 1234);
	EXPECT_EQ(M_atofi100("-12.345"), -1235);
	EXPECT_EQ(M_atofi100("21474836.47"), INT32_MAX);
	EXPECT_EQ(M_atofi100("21474836.48"), -1); /* does not fit */
	EXPECT_EQ(M_atofi100("-21474836.48"), INT32_MIN);
	EXPECT_EQ(M_atofi100("-21474836.49"), -1);
	EXPECT_EQ(M_atofi100("99999999999999999999"), -1);
}
