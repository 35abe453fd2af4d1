#include "tests/test_util.h"

#include "core/m_str_num.h"

namespace {
constexpr size_t kStrlen = SIZE_MAX;
} // namespace

TEST(m_str_num, uint64_ex_table)
{
	struct Case {
		const char        *s;
		size_t             len; /* kStrlen: the whole string */
		unsigned char      base;
		uint64_t           value;
		M_str_int_retval_t rv;
		size_t             used; /* offset of end */
	};
	const Case cases[] = {
	    {"  +42xyz", 8, 10, 42, M_STR_INT_SUCCESS, 5},
	    {"0x1F", kStrlen, 0, 31, M_STR_INT_SUCCESS, 4}, /* base detection */
	    {"017", kStrlen, 0, 15, M_STR_INT_SUCCESS, 3},
	    {"0", kStrlen, 0, 0, M_STR_INT_SUCCESS, 1},
	    {" -0x10", kStrlen, 0, UINT64_MAX - 15, M_STR_INT_SUCCESS, 6},
	    {"0x1F", kStrlen, 16, 31, M_STR_INT_SUCCESS, 4}, /* base 16: the prefix is optional */
	    {"0x", kStrlen, 16, 0, M_STR_INT_INVALID, 2},
	    {"0x1F", kStrlen, 10, 0, M_STR_INT_SUCCESS, 1}, /* base 10: a zero, then text */
	    {"aF", kStrlen, 16, 0xaf, M_STR_INT_SUCCESS, 2},
	    {"AZz", kStrlen, 36, 14255, M_STR_INT_SUCCESS, 3},
	    /* Limits and overflow: end still passes every digit. */
	    {"18446744073709551615", kStrlen, 10, UINT64_MAX, M_STR_INT_SUCCESS, 20},
	    {"99999999999999999999x", kStrlen, 10, UINT64_MAX, M_STR_INT_OVERFLOW, 20},
	    {"-1", kStrlen, 10, UINT64_MAX, M_STR_INT_SUCCESS, 2}, /* two's complement */
	    {"abc", kStrlen, 10, 0, M_STR_INT_INVALID, 0},         /* no digit */
	    {"12345", 3, 10, 123, M_STR_INT_SUCCESS, 3},           /* the length bounds the conversion */
	    {"0x1F", 2, 0, 0, M_STR_INT_INVALID, 2},
	    {"  7", 2, 0, 0, M_STR_INT_INVALID, 2},
	    {"12\0"
	     "34",
	     5, 10, 12, M_STR_INT_SUCCESS, 2},           /* a terminator inside len ends it */
	    {"12", kStrlen, 1, 0, M_STR_INT_INVALID, 0}, /* unusable bases */
	    {" -12", kStrlen, 37, 0, M_STR_INT_INVALID, 2},
	};
	for (const Case &c : cases) {
		uint64_t           v   = 12345;
		const char        *end = nullptr;
		const size_t       len = c.len == kStrlen ? std::strlen(c.s) : c.len;
		M_str_int_retval_t rv  = M_str_to_uint64_ex(c.s, len, c.base, &v, &end);
		EXPECT_EQ(rv, c.rv) << c.s << " base " << int(c.base);
		EXPECT_EQ(v, c.value) << c.s << " base " << int(c.base);
		EXPECT_EQ(end, c.s + c.used) << c.s << " base " << int(c.base);
	}
}

TEST(m_str_num, length_zero_reads_nothing)
{
	/* The text's address is in the unreadable first page: a length of 0 is
	 * refused before a byte is read, and the value cleared. */
	const char *s   = reinterpret_cast<const char *>(uintptr_t{16});
	uint64_t    u64 = 9;
	int32_t     i32 = 9;
	const char *end = nullptr;
	EXPECT_EQ(M_str_to_uint64_ex(s, 0, 10, &u64, &end), M_STR_INT_INVALID);
	EXPECT_EQ(end, s);
	EXPECT_EQ(u64, 0u);
	EXPECT_EQ(M_str_to_int32_ex(s, 0, 0, &i32, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(i32, 0);
}

TEST(m_str_num, signed_and_narrow_limits)
{
	/* Each row: the _ex forms at base 10; the short forms must give the
	 * same (saturated) value, and 0 for invalid text. */
	struct Case {
		const char        *s;
		int64_t            i64;
		M_str_int_retval_t rv64;
		int32_t            i32;
		M_str_int_retval_t rv32;
		uint32_t           u32;
		M_str_int_retval_t rvu32;
	};
	constexpr auto OK = M_STR_INT_SUCCESS, OV = M_STR_INT_OVERFLOW, IN = M_STR_INT_INVALID;
	const Case     cases[] = {
	        {"2147483647", INT32_MAX, OK, INT32_MAX, OK, 2147483647u, OK},
	        {"2147483648", 2147483648LL, OK, INT32_MAX, OV, 2147483648u, OK},
	        {"-2147483648", INT32_MIN, OK, INT32_MIN, OK, UINT32_MAX, OV},
	        {"-2147483649", -2147483649LL, OK, INT32_MIN, OV, UINT32_MAX, OV},
	        {"4294967295", 4294967295LL, OK, INT32_MAX, OV, UINT32_MAX, OK},
	        {"4294967296", 4294967296LL, OK, INT32_MAX, OV, UINT32_MAX, OV},
	        {"9223372036854775807", INT64_MAX, OK, INT32_MAX, OV, UINT32_MAX, OV},
	        {"9223372036854775808", INT64_MAX, OV, INT32_MAX, OV, UINT32_MAX, OV},
	        {"-9223372036854775808", INT64_MIN, OK, INT32_MIN, OV, UINT32_MAX, OV},
	        {"-9223372036854775809", INT64_MIN, OV, INT32_MIN, OV, UINT32_MAX, OV},
	        {"-99999999999999999999999", INT64_MIN, OV, INT32_MIN, OV, UINT32_MAX, OV},
	        {"x", 0, IN, 0, IN, 0, IN},
    };
	for (const Case &c : cases) {
		const size_t len = std::strlen(c.s);
		int64_t      i   = 5;
		int32_t      j   = 5;
		uint32_t     u   = 5;
		EXPECT_EQ(M_str_to_int64_ex(c.s, len, 10, &i, nullptr), c.rv64) << c.s;
		EXPECT_EQ(M_str_to_int32_ex(c.s, len, 10, &j, nullptr), c.rv32) << c.s;
		EXPECT_EQ(M_str_to_uint32_ex(c.s, len, 10, &u, nullptr), c.rvu32) << c.s;
		EXPECT_EQ(i, c.i64) << c.s;
		EXPECT_EQ(j, c.i32) << c.s;
		EXPECT_EQ(u, c.u32) << c.s;
		EXPECT_EQ(M_str_to_int64(c.s), c.i64) << c.s;
		EXPECT_EQ(M_str_to_int32(c.s), c.i32) << c.s;
		EXPECT_EQ(M_str_to_uint32(c.s), c.u32) << c.s;
	}
	int64_t v = 0;
	EXPECT_EQ(M_str_to_int64_ex("-0x80", 5, 0, &v, nullptr), M_STR_INT_SUCCESS);
	EXPECT_EQ(v, -128);
	uint32_t u = 1;
	EXPECT_EQ(M_str_to_uint32_ex("123", 3, 99, &u, nullptr), M_STR_INT_INVALID);
	EXPECT_EQ(u, 0u);
	EXPECT_EQ(M_str_to_uint64("010"), 10u); /* base 10: no octal */
}

TEST(m_str_num, atofi_prec_and_atofi100)
{
	struct Case {
		const char *s;
		size_t      places;
		int64_t     value;
	};
	const Case cases[] = {
	    {"1,234.567", 2, 123457}, /* grouping commas skipped, rounded up */
	    {"1.2.3", 2, 120},        /* a second "." ends the number */
	    {"  +3.14159", 4, 31416},
	    {"-2.5", 0, -3},                        /* away from zero on the magnitude */
	    {"0", 1000000, 0},                      /* many places of zero stay cheap */
	    {"99999999999999999999", 2, INT64_MAX}, /* saturation, not signed overflow */
	    {"-99999999999999999999", 2, INT64_MIN},
	    {"1", 30, INT64_MAX},
	    {"9223372036854775807", 0, INT64_MAX},
	    {"-9223372036854775808", 0, INT64_MIN},
	};
	for (const Case &c : cases)
		EXPECT_EQ(M_atofi_prec(c.s, c.places), c.value) << c.s << " places " << c.places;

	EXPECT_EQ(M_atofi100("21474836.47"), INT32_MAX);
	EXPECT_EQ(M_atofi100("21474836.48"), -1); /* does not fit */
	EXPECT_EQ(M_atofi100("-21474836.48"), INT32_MIN);
	EXPECT_EQ(M_atofi100("-21474836.49"), -1);
}
