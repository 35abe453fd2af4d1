#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/m_buf.h"
#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_parser.h"

namespace {

const unsigned char *U(const char *s)
{
	return reinterpret_cast<const unsigned char *>(s);
}

/* Unread bytes of a parser as a string. */
std::string rest(const M_parser_t *p)
{
	const unsigned char *c = M_parser_peek(p);
	return c == nullptr ? std::string() : std::string(reinterpret_cast<const char *>(c), M_parser_len(p));
}

/* A constant parser over a string (the string must outlive the parser). */
M_parser_t *cp(const char *s, uint32_t flags = M_PARSER_FLAG_NONE)
{
	return M_parser_create_const(U(s), std::strlen(s), flags);
}

/* A dynamic parser holding a copy of a string. */
M_parser_t *dp(const char *s, uint32_t flags = M_PARSER_FLAG_NONE)
{
	M_parser_t *p = M_parser_create(flags);
	EXPECT_TRUE(M_parser_append(p, U(s), std::strlen(s)));
	return p;
}

M_bool is_x(unsigned char c)
{
	return c == 'x';
}

bool all_ff(const unsigned char *p, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		if (p[i] != 0xFF)
			return false;
	}
	return true;
}

std::string take_str(char *s)
{
	std::string r = s == nullptr ? "<null>" : s;
	M_free(s);
	return r;
}

std::string buf_str(M_buf_t *b)
{
	return std::string(M_buf_peek(b) == nullptr ? "" : M_buf_peek(b), M_buf_len(b));
}

} // namespace

/* ---------------------------------------------------------------------------
 * Lifecycle and caller storage
 * ------------------------------------------------------------------------- */

TEST(m_parser, create_const_and_init)
{
	EXPECT_EQ(M_parser_create_const(nullptr, 5, 0), nullptr);
	EXPECT_EQ(M_parser_init(nullptr, U("abc"), 3, 0), nullptr);

	const char         text[] = "hello";
	M_parser_storage_t st;
	M_parser_t        *p = M_parser_init(&st, U(text), 5, M_PARSER_FLAG_TRACKLINES);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(M_parser_len(p), 5u);
	EXPECT_EQ(M_parser_peek(p), U(text)); /* not copied */
	EXPECT_EQ(M_parser_current_line(p), 1u);
	/* A constant parser refuses data. */
	EXPECT_FALSE(M_parser_append(p, U("x"), 1));
	size_t n = 4;
	EXPECT_EQ(M_parser_direct_write_start(p, &n), nullptr);
	M_parser_direct_write_end(p, 1);
	EXPECT_EQ(M_parser_len(p), 5u);
	/* Not destroyed: destroy must leave stack storage alone. */
	M_parser_destroy(p);
	EXPECT_EQ(M_parser_len(p), 5u);

	/* Re-initialising zeroes everything; NULL data leaves it empty. */
	p = M_parser_init(&st, nullptr, 99, 0);
	EXPECT_EQ(M_parser_len(p), 0u);
	EXPECT_EQ(M_parser_current_line(p), 0u);
	unsigned char b = 0;
	EXPECT_FALSE(M_parser_read_byte(p, &b));

	M_parser_destroy(nullptr);
}

TEST(m_parser, append_arguments)
{
	M_parser_t *p = M_parser_create(0);
	EXPECT_EQ(M_parser_peek(p), nullptr); /* never received data */
	EXPECT_FALSE(M_parser_append(nullptr, U("a"), 1));
	EXPECT_TRUE(M_parser_append(p, nullptr, 0));
	EXPECT_FALSE(M_parser_append(p, nullptr, 1));
	EXPECT_TRUE(M_parser_append(p, U("ab"), 0));
	EXPECT_EQ(M_parser_len(p), 0u);
	EXPECT_TRUE(M_parser_append(p, U("ab"), 2));
	EXPECT_TRUE(M_parser_append(p, U("cd"), 2));
	EXPECT_EQ(rest(p), "abcd");
	M_parser_destroy(p);
}

TEST(m_parser, append_from_own_buffer)
{
	/* Appending the parser's own unread bytes forces a move: the source must
	 * be copied aside before the old block goes away. */
	M_parser_t *p = dp("abcdefgh"); /* 8 bytes: the buffer is full */
	ASSERT_TRUE(M_parser_append(p, M_parser_peek(p), M_parser_len(p)));
	EXPECT_EQ(rest(p), "abcdefghabcdefgh");
	ASSERT_TRUE(M_parser_consume(p, 10));
	/* The compaction moves the rest to the front of the buffer. */
	ASSERT_TRUE(M_parser_append(p, M_parser_peek(p), 3));
	EXPECT_EQ(rest(p), "cdefghcde");
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * Making room: growth, reuse, compaction behind the marks
 * ------------------------------------------------------------------------- */

TEST(m_parser, growth_by_powers_of_two)
{
	M_parser_t *p = M_parser_create(0);
	/* First request of 10 bytes: 16 bytes allocated, all free. */
	size_t         n = 10;
	unsigned char *w = M_parser_direct_write_start(p, &n);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(n, 16u);
	M_mem_copy(w, "0123456789", 10);
	M_parser_direct_write_end(p, 10);
	EXPECT_EQ(rest(p), "0123456789");
	/* 10 kept + 7 new = 17: rounded up to 32. */
	n = 7;
	w = M_parser_direct_write_start(p, &n);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(n, 22u);
	/* A count beyond the window is refused. */
	M_parser_direct_write_end(p, 23);
	EXPECT_EQ(M_parser_len(p), 10u);
	M_parser_direct_write_end(p, 0);
	EXPECT_EQ(M_parser_len(p), 10u);

	/* Zero or NULL length, NULL parser. */
	n = 0;
	EXPECT_EQ(M_parser_direct_write_start(p, &n), nullptr);
	EXPECT_EQ(M_parser_direct_write_start(p, nullptr), nullptr);
	n = 1;
	EXPECT_EQ(M_parser_direct_write_start(nullptr, &n), nullptr);
	M_parser_direct_write_end(nullptr, 1);
	M_parser_destroy(p);
}

TEST(m_parser, buffer_reused_after_reading_to_the_end)
{
	M_parser_t          *p     = dp("abcdefghijklmnop"); /* exactly 16: buffer of 16 */
	const unsigned char *start = M_parser_peek(p);
	ASSERT_TRUE(M_parser_consume(p, 16));
	EXPECT_TRUE(M_parser_append(p, U("QRSTUVWXYZ012345"), 16));
	/* Same block, from its start: no growth, no new allocation. */
	EXPECT_EQ(M_parser_peek(p), start);
	EXPECT_EQ(rest(p), "QRSTUVWXYZ012345");
	size_t         n = 1;
	unsigned char *w = M_parser_direct_write_start(p, &n);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(n, 16u); /* 16 kept + 1 needed = 17 -> 32 */
	M_parser_destroy(p);
}

TEST(m_parser, compaction_keeps_marked_bytes)
{
	M_parser_t *p = dp("0123456789ABCDEF", M_PARSER_FLAG_TRACKLINES);
	ASSERT_TRUE(M_parser_consume(p, 4));
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 6));
	/* 16 - 4 = 12 kept bytes; 4 more fit without growth. */
	EXPECT_TRUE(M_parser_append(p, U("wxyz"), 4));
	EXPECT_EQ(rest(p), "ABCDEFwxyz");
	EXPECT_EQ(M_parser_mark_len(p), 6u);
	EXPECT_EQ(M_parser_current_offset(p), 10u); /* compaction changes no offset */
	EXPECT_EQ(M_parser_mark_rewind(p), 6u);
	EXPECT_EQ(rest(p), "456789ABCDEFwxyz");
	EXPECT_EQ(M_parser_current_offset(p), 4u);
	EXPECT_EQ(M_parser_current_column(p), 5u);
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * Wipe and mark rules
 * ------------------------------------------------------------------------- */

TEST(m_parser, consumed_bytes_wiped_without_mark)
{
	M_parser_t          *p = dp("secret");
	const unsigned char *c = M_parser_peek(p);
	unsigned char        b = 0;
	ASSERT_TRUE(M_parser_read_byte(p, &b));
	EXPECT_EQ(b, 's');
	EXPECT_EQ(c[0], 0xFF);
	EXPECT_EQ(c[1], 'e');
	unsigned char two[2];
	ASSERT_TRUE(M_parser_read_bytes(p, 2, two));
	EXPECT_TRUE(all_ff(c, 3));
	/* Reader families wipe what they take, too. */
	char *s = M_parser_read_strdup(p, 3);
	EXPECT_EQ(take_str(s), "ret");
	EXPECT_TRUE(all_ff(c, 6));
	M_parser_destroy(p);
}

TEST(m_parser, mark_keeps_bytes_and_clear_wipes)
{
	M_parser_t          *p = dp("abcdef");
	const unsigned char *c = M_parser_peek(p);
	ASSERT_TRUE(M_parser_consume(p, 1));
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 3));
	EXPECT_EQ(c[0], 0xFF);
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(c + 1), 3), "bcd");
	size_t len = 0;
	EXPECT_EQ(M_parser_peek_mark(p, &len), c + 1);
	EXPECT_EQ(len, 3u);
	EXPECT_EQ(M_parser_mark_len(p), 3u);

	M_parser_mark_clear(p);
	EXPECT_TRUE(all_ff(c, 4));
	EXPECT_EQ(M_parser_mark_len(p), 0u);
	EXPECT_EQ(M_parser_peek_mark(p, &len), c + 4); /* no mark: the cursor */
	EXPECT_EQ(len, 0u);
	EXPECT_EQ(M_parser_mark_rewind(p), 0u);
	EXPECT_EQ(rest(p), "ef");

	/* Moving a set mark releases what it protected. */
	M_parser_t          *q  = dp("123456");
	const unsigned char *qc = M_parser_peek(q);
	M_parser_mark(q);
	ASSERT_TRUE(M_parser_consume(q, 2));
	EXPECT_EQ(qc[0], '1');
	M_parser_mark(q);
	EXPECT_TRUE(all_ff(qc, 2));
	ASSERT_TRUE(M_parser_consume(q, 2));
	EXPECT_EQ(qc[2], '3');
	EXPECT_EQ(M_parser_mark_rewind(q), 2u);
	EXPECT_EQ(M_parser_mark_rewind(q), 0u); /* mark stays, nothing to move */
	EXPECT_EQ(M_parser_mark_len(q), 0u);
	M_parser_destroy(q);
	M_parser_destroy(p);
}

TEST(m_parser, readers_keep_bytes_under_user_mark)
{
	/* The searching readers take their bytes through the internal mark: with
	 * the user mark set nothing is wiped, so a rewind gives the bytes back,
	 * line and column included; clearing the user mark then wipes them. */
	M_parser_t          *p = dp("ab\ncd;ef|gh", M_PARSER_FLAG_TRACKLINES);
	const unsigned char *c = M_parser_peek(p);
	M_parser_mark(p);
	EXPECT_EQ(take_str(M_parser_read_strdup_until(p, ";", M_TRUE)), "ab\ncd;");
	EXPECT_EQ(M_parser_current_line(p), 2u);
	M_buf_t *b = M_buf_create();
	EXPECT_EQ(M_parser_read_buf_not_charset(p, b, U("|"), 1), 2u);
	M_buf_cancel(b);
	size_t       num    = 0;
	M_parser_t **pieces = M_parser_split(p, '|', 0, 0, &num);
	ASSERT_EQ(num, 2u);
	M_parser_split_free(pieces, num);
	EXPECT_EQ(M_parser_len(p), 0u);
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(c), 11), "ab\ncd;ef|gh");

	EXPECT_EQ(M_parser_mark_rewind(p), 11u);
	EXPECT_EQ(rest(p), "ab\ncd;ef|gh");
	EXPECT_EQ(M_parser_current_line(p), 1u);
	EXPECT_EQ(M_parser_current_column(p), 1u);
	ASSERT_TRUE(M_parser_consume(p, 4));
	M_parser_mark_clear(p);
	EXPECT_TRUE(all_ff(c, 4));
	EXPECT_EQ(rest(p), "d;ef|gh");
	M_parser_destroy(p);
}

TEST(m_parser, constant_parser_never_written)
{
	unsigned char data[] = {'a', 'b', '\n', 'c', 'd', 'e'};
	unsigned char copy[sizeof(data)];
	M_mem_copy(copy, data, sizeof(data));
	M_parser_t *p = M_parser_create_const(data, sizeof(data), 0);
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 3));
	M_parser_mark_clear(p);
	EXPECT_TRUE(M_parser_truncate(p, 1));
	EXPECT_EQ(M_parser_consume_eol(p), 1u);
	EXPECT_EQ(std::memcmp(data, copy, sizeof(data)), 0);
	M_parser_destroy(p);
}

TEST(m_parser, rewind_restores_line_and_column)
{
	M_parser_t *p = dp("ab\ncd\n\nef", M_PARSER_FLAG_TRACKLINES);
	EXPECT_EQ(M_parser_current_line(p), 1u);
	EXPECT_EQ(M_parser_current_column(p), 1u);
	ASSERT_TRUE(M_parser_consume(p, 4)); /* "ab\nc" */
	EXPECT_EQ(M_parser_current_line(p), 2u);
	EXPECT_EQ(M_parser_current_column(p), 2u);
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 4)); /* "d\n\ne" */
	EXPECT_EQ(M_parser_current_line(p), 4u);
	EXPECT_EQ(M_parser_current_column(p), 2u);
	EXPECT_EQ(M_parser_current_offset(p), 8u);
	EXPECT_EQ(M_parser_mark_rewind(p), 4u);
	EXPECT_EQ(M_parser_current_line(p), 2u);
	EXPECT_EQ(M_parser_current_column(p), 2u);
	EXPECT_EQ(M_parser_current_offset(p), 4u);
	EXPECT_EQ(rest(p), "d\n\nef");
	M_parser_destroy(p);

	/* Tracking off: 0 for line and column. */
	p = cp("a\nb");
	ASSERT_TRUE(M_parser_consume(p, 2));
	EXPECT_EQ(M_parser_current_line(p), 0u);
	EXPECT_EQ(M_parser_current_column(p), 0u);
	M_parser_destroy(p);
}

TEST(m_parser, reset)
{
	M_parser_t *p = cp("x\nyz", M_PARSER_FLAG_TRACKLINES);
	ASSERT_TRUE(M_parser_consume(p, 3));
	M_parser_mark(p);
	EXPECT_EQ(M_parser_reset(p), 3u);
	EXPECT_EQ(M_parser_len(p), 4u);
	EXPECT_EQ(M_parser_current_offset(p), 0u);
	EXPECT_EQ(M_parser_current_line(p), 1u);
	EXPECT_EQ(M_parser_current_column(p), 1u);
	EXPECT_EQ(M_parser_mark_len(p), 0u);
	M_parser_destroy(p);

	M_parser_t *d = dp("abc");
	ASSERT_TRUE(M_parser_consume(d, 2));
	EXPECT_EQ(M_parser_reset(d), 0u);
	EXPECT_EQ(rest(d), "c");
	EXPECT_EQ(M_parser_current_offset(d), 2u);
	M_parser_destroy(d);
	EXPECT_EQ(M_parser_reset(nullptr), 0u);
}

/* ---------------------------------------------------------------------------
 * Inspection
 * ------------------------------------------------------------------------- */

TEST(m_parser, peek_and_compare)
{
	M_parser_t   *p = cp("Hello");
	unsigned char b = 0;
	EXPECT_TRUE(M_parser_peek_byte(p, &b));
	EXPECT_EQ(b, 'H');
	EXPECT_FALSE(M_parser_peek_byte(p, nullptr));
	unsigned char buf[8] = {};
	EXPECT_TRUE(M_parser_peek_bytes(p, 5, buf));
	EXPECT_FALSE(M_parser_peek_bytes(p, 6, buf));
	EXPECT_FALSE(M_parser_peek_bytes(p, 0, buf));
	EXPECT_FALSE(M_parser_peek_bytes(p, 1, nullptr));
	EXPECT_EQ(M_parser_len(p), 5u);

	EXPECT_TRUE(M_parser_compare(p, U("Hel"), 3));
	EXPECT_FALSE(M_parser_compare(p, U("Hex"), 3));
	EXPECT_FALSE(M_parser_compare(p, U("Hello!"), 6));
	EXPECT_FALSE(M_parser_compare(p, U("H"), 0));
	EXPECT_FALSE(M_parser_compare(p, nullptr, 1));

	EXPECT_TRUE(M_parser_compare_str(p, "Hello", 0, M_FALSE));
	EXPECT_FALSE(M_parser_compare_str(p, "hello", 0, M_FALSE));
	EXPECT_TRUE(M_parser_compare_str(p, "hELLO", 0, M_TRUE));
	EXPECT_TRUE(M_parser_compare_str(p, "Help", 3, M_FALSE));
	EXPECT_FALSE(M_parser_compare_str(p, "Hello world", 0, M_FALSE));
	EXPECT_FALSE(M_parser_compare_str(p, nullptr, 0, M_FALSE));
	EXPECT_FALSE(M_parser_compare_str(p, "", 0, M_FALSE));
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * Integers
 * ------------------------------------------------------------------------- */

TEST(m_parser, binary_integers)
{
	const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
	struct {
		M_parser_integer_type_t type;
		size_t                  len;
		bool                    ok;
		uint64_t                value;
	} cases[] = {
	    {M_PARSER_INTEGER_BIGENDIAN, 1, true, 0x01},
	    {M_PARSER_INTEGER_BIGENDIAN, 2, true, 258},
	    {M_PARSER_INTEGER_LITTLEENDIAN, 2, true, 513},
	    {M_PARSER_INTEGER_BIGENDIAN, 4, true, 0x01020304},
	    {M_PARSER_INTEGER_LITTLEENDIAN, 4, true, 0x04030201},
	    {M_PARSER_INTEGER_BIGENDIAN, 8, true, 0x0102030405060708ULL},
	    {M_PARSER_INTEGER_LITTLEENDIAN, 8, true, 0x0807060504030201ULL},
	    {M_PARSER_INTEGER_BIGENDIAN, 9, false, 0},
	    {M_PARSER_INTEGER_LITTLEENDIAN, 0, false, 0},
	    {static_cast<M_parser_integer_type_t>(3), 2, false, 0},
	};
	for (const auto &c : cases) {
		M_parser_t *p = M_parser_create_const(bytes, sizeof(bytes), 0);
		uint64_t    v = 77;
		EXPECT_EQ(M_parser_read_uint(p, c.type, c.len, 10, &v), c.ok) << c.type << "/" << c.len;
		if (c.ok) {
			EXPECT_EQ(v, c.value);
			EXPECT_EQ(M_parser_len(p), sizeof(bytes) - c.len);
		} else {
			EXPECT_EQ(v, 77u);
			EXPECT_EQ(M_parser_len(p), sizeof(bytes));
		}
		M_parser_destroy(p);
	}

	/* More than remain. */
	M_parser_t *p = M_parser_create_const(bytes, 3, 0);
	uint64_t    v = 0;
	EXPECT_FALSE(M_parser_read_uint(p, M_PARSER_INTEGER_BIGENDIAN, 4, 0, &v));
	EXPECT_FALSE(M_parser_read_uint(p, M_PARSER_INTEGER_BIGENDIAN, 2, 0, nullptr));
	/* Signed: no sign extension of the binary forms. */
	const unsigned char ff[] = {0xFF, 0xFF, 0x80};
	M_parser_t         *s    = M_parser_create_const(ff, sizeof(ff), 0);
	int64_t             i    = 0;
	EXPECT_TRUE(M_parser_read_int(s, M_PARSER_INTEGER_BIGENDIAN, 2, 0, &i));
	EXPECT_EQ(i, 65535);
	EXPECT_TRUE(M_parser_read_int(s, M_PARSER_INTEGER_LITTLEENDIAN, 1, 0, &i));
	EXPECT_EQ(i, 128);
	EXPECT_FALSE(M_parser_read_int(s, M_PARSER_INTEGER_LITTLEENDIAN, 1, 0, &i));
	M_parser_destroy(s);
	M_parser_destroy(p);
}

TEST(m_parser, text_integers)
{
	M_parser_t *p = cp("  +42xyz");
	uint64_t    v = 0;
	EXPECT_TRUE(M_parser_read_uint(p, M_PARSER_INTEGER_ASCII, 0, 10, &v));
	EXPECT_EQ(v, 42u);
	EXPECT_EQ(rest(p), "xyz");
	EXPECT_FALSE(M_parser_read_uint(p, M_PARSER_INTEGER_ASCII, 0, 10, &v)); /* no digit */
	EXPECT_EQ(rest(p), "xyz");
	M_parser_destroy(p);

	/* len limits the text looked at; base 0 detects the prefix. */
	p = cp("0x1F99");
	EXPECT_TRUE(M_parser_read_uint(p, M_PARSER_INTEGER_ASCII, 4, 0, &v));
	EXPECT_EQ(v, 0x1Fu);
	EXPECT_EQ(rest(p), "99");
	EXPECT_FALSE(M_parser_read_uint(p, M_PARSER_INTEGER_ASCII, 3, 10, &v)); /* len > unread */
	M_parser_destroy(p);

	/* Overflow fails and consumes nothing. */
	p = cp("18446744073709551616");
	EXPECT_FALSE(M_parser_read_uint(p, M_PARSER_INTEGER_ASCII, 0, 10, &v));
	EXPECT_EQ(M_parser_len(p), 20u);
	M_parser_destroy(p);

	p         = cp("-17,");
	int64_t i = 0;
	EXPECT_TRUE(M_parser_read_int(p, M_PARSER_INTEGER_ASCII, 0, 10, &i));
	EXPECT_EQ(i, -17);
	EXPECT_EQ(rest(p), ",");
	M_parser_destroy(p);

	/* Empty parser. */
	M_parser_t *e = M_parser_create(0);
	EXPECT_FALSE(M_parser_read_uint(e, M_PARSER_INTEGER_ASCII, 0, 10, &v));
	EXPECT_FALSE(M_parser_read_int(nullptr, M_PARSER_INTEGER_ASCII, 0, 10, &i));
	M_parser_destroy(e);
}

TEST(m_parser, bcd)
{
	const unsigned char ok[]   = {0x12, 0x34, 0x56};
	const unsigned char bad[]  = {0x12, 0x3A};
	const unsigned char max[]  = {0x18, 0x44, 0x67, 0x44, 0x07, 0x37, 0x09, 0x55, 0x16, 0x15};
	const unsigned char over[] = {0x18, 0x44, 0x67, 0x44, 0x07, 0x37, 0x09, 0x55, 0x16, 0x16};
	uint64_t            v      = 0;

	M_parser_t *p = M_parser_create_const(ok, sizeof(ok), 0);
	EXPECT_TRUE(M_parser_read_uint_bcd(p, 2, &v));
	EXPECT_EQ(v, 1234u);
	EXPECT_FALSE(M_parser_read_uint_bcd(p, 2, &v)); /* only one left */
	EXPECT_FALSE(M_parser_read_uint_bcd(p, 0, &v));
	EXPECT_FALSE(M_parser_read_uint_bcd(p, 1, nullptr));
	M_parser_destroy(p);

	p = M_parser_create_const(bad, sizeof(bad), 0);
	EXPECT_FALSE(M_parser_read_uint_bcd(p, 2, &v));
	EXPECT_EQ(M_parser_len(p), 2u);
	M_parser_destroy(p);

	p = M_parser_create_const(max, sizeof(max), 0);
	EXPECT_TRUE(M_parser_read_uint_bcd(p, 10, &v));
	EXPECT_EQ(v, UINT64_MAX);
	M_parser_destroy(p);

	p = M_parser_create_const(over, sizeof(over), 0);
	EXPECT_FALSE(M_parser_read_uint_bcd(p, 10, &v));
	EXPECT_FALSE(M_parser_read_uint_bcd(p, 11, &v));
	EXPECT_EQ(M_parser_len(p), 10u);
	M_parser_destroy(p);
}

TEST(m_parser, read_decimal)
{
	M_decimal_t d;
	M_parser_t *p = dp("  -12.50 rest");
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, &d), M_DECIMAL_SUCCESS);
	EXPECT_EQ(d.num, -125);
	EXPECT_EQ(d.num_dec, 1);
	EXPECT_EQ(rest(p), " rest"); /* only what the number used is consumed */
	/* No number at the cursor: invalid, nothing consumed. */
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, &d), M_DECIMAL_INVALID);
	EXPECT_EQ(rest(p), " rest");
	M_parser_destroy(p);

	/* len limits the text the conversion sees. */
	p = cp("1.2345");
	EXPECT_EQ(M_parser_read_decimal(p, 4, M_FALSE, &d), M_DECIMAL_SUCCESS);
	EXPECT_EQ(d.num, 123);
	EXPECT_EQ(d.num_dec, 2);
	EXPECT_EQ(rest(p), "45");
	EXPECT_EQ(M_parser_read_decimal(p, 3, M_FALSE, &d), M_DECIMAL_INVALID); /* more than remain */
	EXPECT_EQ(rest(p), "45");
	M_parser_destroy(p);

	/* Truncation: consumed unless refused. */
	const char *longnum = "0.12345678901234567890123;";
	p                   = cp(longnum);
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_TRUE, &d), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(M_parser_len(p), std::strlen(longnum));
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, &d), M_DECIMAL_TRUNCATION);
	EXPECT_EQ(d.num, 1234567890123456789LL);
	EXPECT_EQ(d.num_dec, 19);
	EXPECT_EQ(rest(p), ";");
	M_parser_destroy(p);

	/* Overflow: nothing consumed, value 0. */
	p = cp("99999999999999999999 x");
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, &d), M_DECIMAL_OVERFLOW);
	EXPECT_EQ(d.num, 0);
	EXPECT_EQ(M_parser_len(p), 22u);
	M_parser_destroy(p);

	/* Line and column follow the consumed bytes. */
	p = cp("\n\n 7.5e1;", M_PARSER_FLAG_TRACKLINES);
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, &d), M_DECIMAL_SUCCESS);
	EXPECT_EQ(d.num, 75);
	EXPECT_EQ(d.num_dec, 0);
	EXPECT_EQ(M_parser_current_line(p), 3u);
	EXPECT_EQ(M_parser_current_column(p), 7u);
	EXPECT_EQ(rest(p), ";");
	M_parser_destroy(p);

	/* NULL and empty. */
	EXPECT_EQ(M_parser_read_decimal(nullptr, 0, M_FALSE, &d), M_DECIMAL_INVALID);
	p = cp("5");
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, nullptr), M_DECIMAL_INVALID);
	EXPECT_EQ(M_parser_len(p), 1u);
	M_parser_destroy(p);
	p = M_parser_create(M_PARSER_FLAG_NONE);
	EXPECT_EQ(M_parser_read_decimal(p, 0, M_FALSE, &d), M_DECIMAL_INVALID);
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * The consume family
 * ------------------------------------------------------------------------- */

TEST(m_parser, consume_family)
{
	struct Case {
		const char *name;
		const char *input;
		size_t (*op)(M_parser_t *);
		size_t      count;
		const char *left;
	};
	static const Case cases[] = {
	    {"consume_whitespace", " \t\r\n x", [](M_parser_t *p) { return M_parser_consume_whitespace(p, 0); }, 5, "x"},
	    {"whitespace_to_newline", " \t\n x",
	     [](M_parser_t *p) { return M_parser_consume_whitespace(p, M_PARSER_WHITESPACE_TO_NEWLINE); }, 3, " x"},
	    {"whitespace_spaceonly", "  \tx",
	     [](M_parser_t *p) { return M_parser_consume_whitespace(p, M_PARSER_WHITESPACE_SPACEONLY); }, 2, "\tx"},
	    {"until_match", "ab--cd", [](M_parser_t *p) { return M_parser_consume_until(p, U("--"), 2, M_FALSE); }, 2,
	     "--cd"},
	    {"until_eat", "ab--cd", [](M_parser_t *p) { return M_parser_consume_until(p, U("--"), 2, M_TRUE); }, 4, "cd"},
	    {"until_none", "ab-cd", [](M_parser_t *p) { return M_parser_consume_until(p, U("--"), 2, M_TRUE); }, 0,
	     "ab-cd"},
	    {"until_null_pat", "ab", [](M_parser_t *p) { return M_parser_consume_until(p, nullptr, 2, M_TRUE); }, 0, "ab"},
	    {"boundary_match", "ab--cd",
	     [](M_parser_t *p) { return M_parser_consume_boundary(p, U("--"), 2, M_TRUE, nullptr); }, 4, "cd"},
	    {"boundary_partial", "abc-",
	     [](M_parser_t *p) { return M_parser_consume_boundary(p, U("--"), 2, M_FALSE, nullptr); }, 3, "-"},
	    {"boundary_none", "abc",
	     [](M_parser_t *p) { return M_parser_consume_boundary(p, U("--"), 2, M_FALSE, nullptr); }, 3, ""},
	    {"charset", "abbaXab", [](M_parser_t *p) { return M_parser_consume_charset(p, U("ab"), 2); }, 4, "Xab"},
	    {"charset_none", "Xab", [](M_parser_t *p) { return M_parser_consume_charset(p, U("ab"), 2); }, 0, "Xab"},
	    {"not_charset", "xyz;a", [](M_parser_t *p) { return M_parser_consume_not_charset(p, U(";,"), 2); }, 3, ";a"},
	    {"not_charset_null", "xyz", [](M_parser_t *p) { return M_parser_consume_not_charset(p, nullptr, 0); }, 3, ""},
	    {"predicate", "xxxy", [](M_parser_t *p) { return M_parser_consume_predicate(p, is_x); }, 3, "y"},
	    {"predicate_max", "xxxy", [](M_parser_t *p) { return M_parser_consume_predicate_max(p, is_x, 2); }, 2, "xy"},
	    {"predicate_null", "xxxy", [](M_parser_t *p) { return M_parser_consume_predicate(p, nullptr); }, 0, "xxxy"},
	    {"chr_predicate", "123a", [](M_parser_t *p) { return M_parser_consume_chr_predicate(p, M_chr_isdigit); }, 3,
	     "a"},
	    {"chr_predicate_max", "123a",
	     [](M_parser_t *p) { return M_parser_consume_chr_predicate_max(p, M_chr_isdigit, 0); }, 0, "123a"},
	    {"str_until", "key=value", [](M_parser_t *p) { return M_parser_consume_str_until(p, "=", M_TRUE); }, 4,
	     "value"},
	    {"str_until_empty", "key=value", [](M_parser_t *p) { return M_parser_consume_str_until(p, "", M_TRUE); }, 0,
	     "key=value"},
	    {"str_boundary_partial", "data\r\n\r",
	     [](M_parser_t *p) { return M_parser_consume_str_boundary(p, "\r\n\r\n", M_TRUE, nullptr); }, 4, "\r\n\r"},
	    {"str_charset", "aabbc", [](M_parser_t *p) { return M_parser_consume_str_charset(p, "ab"); }, 4, "c"},
	    {"str_not_charset", "hello world", [](M_parser_t *p) { return M_parser_consume_str_not_charset(p, " "); }, 5,
	     " world"},
	    {"eol", "line1\nline2", [](M_parser_t *p) { return M_parser_consume_eol(p); }, 6, "line2"},
	    {"eol_none", "line", [](M_parser_t *p) { return M_parser_consume_eol(p); }, 4, ""},
	};
	for (const auto &c : cases) {
		M_parser_t *p = cp(c.input);
		EXPECT_EQ(c.op(p), c.count) << c.name;
		EXPECT_EQ(rest(p), c.left) << c.name;
		M_parser_destroy(p);
		EXPECT_EQ(c.op(nullptr), 0u) << c.name;
	}
}

TEST(m_parser, boundary_reports_found)
{
	M_bool      found = M_TRUE;
	M_parser_t *p     = cp("abc--");
	EXPECT_EQ(M_parser_consume_boundary(p, U("---"), 3, M_TRUE, &found), 3u);
	EXPECT_FALSE(found);
	EXPECT_EQ(rest(p), "--");
	M_parser_destroy(p);

	p = cp("abc---x");
	EXPECT_EQ(M_parser_consume_boundary(p, U("---"), 3, M_FALSE, &found), 3u);
	EXPECT_TRUE(found);
	M_parser_destroy(p);

	/* Streaming: a boundary split across two appends. */
	M_parser_t *d = dp("part one-");
	EXPECT_EQ(M_parser_consume_str_boundary(d, "--END", M_TRUE, &found), 8u);
	EXPECT_FALSE(found);
	ASSERT_TRUE(M_parser_append(d, U("-END tail"), 9));
	EXPECT_EQ(M_parser_consume_str_boundary(d, "--END", M_TRUE, &found), 5u);
	EXPECT_TRUE(found);
	EXPECT_EQ(rest(d), " tail");
	M_parser_destroy(d);
}

TEST(m_parser, consume_tracks_lines)
{
	M_parser_t *p = cp("a\nbb\nccc", M_PARSER_FLAG_TRACKLINES);
	EXPECT_EQ(M_parser_consume_eol(p), 2u);
	EXPECT_EQ(M_parser_current_line(p), 2u);
	EXPECT_EQ(M_parser_current_column(p), 1u);
	EXPECT_EQ(M_parser_consume_str_until(p, "c", M_TRUE), 4u);
	EXPECT_EQ(M_parser_current_line(p), 3u);
	EXPECT_EQ(M_parser_current_column(p), 2u);
	EXPECT_TRUE(M_parser_consume(p, 0));
	EXPECT_FALSE(M_parser_consume(p, 3));
	EXPECT_TRUE(M_parser_consume(p, 2));
	EXPECT_EQ(M_parser_current_column(p), 4u);
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * Reading into caller buffers
 * ------------------------------------------------------------------------- */

TEST(m_parser, read_bytes_family)
{
	unsigned char buf[16];
	M_parser_t   *p = cp("abc,def--ghi");

	EXPECT_FALSE(M_parser_read_bytes(p, 0, buf));
	EXPECT_FALSE(M_parser_read_bytes(p, 1, nullptr));
	EXPECT_FALSE(M_parser_read_bytes(p, 13, buf));

	/* until: match, no match, does not fit (nothing consumed). */
	EXPECT_EQ(M_parser_read_bytes_until(p, buf, 2, U(","), 1, M_FALSE), 0u);
	EXPECT_EQ(M_parser_read_bytes_until(p, buf, sizeof(buf), U(";"), 1, M_FALSE), 0u);
	EXPECT_EQ(M_parser_read_bytes_until(p, buf, sizeof(buf), U(","), 1, M_TRUE), 4u);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), "abc,");

	/* boundary: whole and partial. */
	M_bool found = M_FALSE;
	EXPECT_EQ(M_parser_read_bytes_boundary(p, buf, sizeof(buf), U("--"), 2, M_FALSE, &found), 3u);
	EXPECT_TRUE(found);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 3), "def");
	EXPECT_TRUE(M_parser_consume(p, 2));
	EXPECT_EQ(M_parser_read_bytes_boundary(p, buf, sizeof(buf), U("ix"), 2, M_FALSE, &found), 2u);
	EXPECT_FALSE(found);
	EXPECT_EQ(rest(p), "i");
	M_parser_destroy(p);

	p = cp("aab123xyz");
	EXPECT_EQ(M_parser_read_bytes_charset(p, U("ab"), 2, buf, 2), 0u); /* 3 do not fit 2 */
	EXPECT_EQ(M_parser_read_bytes_charset(p, U("ab"), 2, buf, sizeof(buf)), 3u);
	EXPECT_EQ(M_parser_read_bytes_charset(p, U("ab"), 2, buf, sizeof(buf)), 0u);
	EXPECT_EQ(M_parser_read_bytes_chr_predicate(p, M_chr_isdigit, buf, sizeof(buf)), 3u);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 3), "123");
	EXPECT_EQ(M_parser_read_bytes_predicate(p, is_x, buf, sizeof(buf)), 1u);
	EXPECT_EQ(M_parser_read_bytes_predicate(p, is_x, buf, sizeof(buf)), 0u);
	EXPECT_EQ(M_parser_read_bytes_max(p, 10, buf, 1), 0u);
	EXPECT_EQ(M_parser_read_bytes_max(p, 10, buf, sizeof(buf)), 2u);
	EXPECT_EQ(M_parser_read_bytes_max(p, 10, buf, sizeof(buf)), 0u);
	M_parser_destroy(p);

	p = cp("0123456789");
	EXPECT_EQ(M_parser_read_bytes_mark(p, buf, sizeof(buf)), 0u); /* no mark */
	ASSERT_TRUE(M_parser_consume(p, 2));
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 5));
	EXPECT_EQ(M_parser_read_bytes_mark(p, buf, 4), 0u); /* does not fit: mark kept */
	EXPECT_EQ(M_parser_mark_len(p), 5u);
	EXPECT_EQ(M_parser_read_bytes_mark(p, buf, sizeof(buf)), 5u);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 5), "23456");
	EXPECT_EQ(M_parser_mark_len(p), 0u);
	EXPECT_EQ(rest(p), "789");
	M_parser_destroy(p);
}

TEST(m_parser, read_str_family)
{
	char        buf[8];
	M_parser_t *p = cp("abcdefghij;k");

	EXPECT_FALSE(M_parser_read_str(p, 3, buf, 3)); /* no room for the terminator */
	EXPECT_STREQ(buf, "");
	EXPECT_TRUE(M_parser_read_str(p, 3, buf, 4));
	EXPECT_STREQ(buf, "abc");
	EXPECT_FALSE(M_parser_read_str(p, 0, buf, 4));
	EXPECT_FALSE(M_parser_read_str(p, 3, nullptr, 4));

	EXPECT_EQ(M_parser_read_str_max(p, 2, buf, sizeof(buf)), 2u);
	EXPECT_STREQ(buf, "de");
	EXPECT_EQ(M_parser_read_str_until(p, buf, sizeof(buf), ";", M_FALSE), 5u);
	EXPECT_STREQ(buf, "fghij");
	EXPECT_EQ(M_parser_read_str_until(p, buf, sizeof(buf), "z", M_FALSE), 0u);
	EXPECT_EQ(M_parser_read_str_max(p, 99, buf, sizeof(buf)), 2u);
	EXPECT_STREQ(buf, ";k");
	EXPECT_EQ(M_parser_read_str_max(p, 99, buf, sizeof(buf)), 0u);
	M_parser_destroy(p);

	M_bool found = M_TRUE;
	p            = cp("12ab  xy<<");
	EXPECT_EQ(M_parser_read_str_chr_predicate(p, M_chr_isdigit, buf, sizeof(buf)), 2u);
	EXPECT_STREQ(buf, "12");
	EXPECT_EQ(M_parser_read_str_charset(p, "ba", buf, sizeof(buf)), 2u);
	EXPECT_STREQ(buf, "ab");
	EXPECT_EQ(M_parser_read_str_predicate(p, is_x, buf, sizeof(buf)), 0u);
	EXPECT_TRUE(M_parser_consume(p, 2));
	EXPECT_EQ(M_parser_read_str_predicate(p, is_x, buf, sizeof(buf)), 1u);
	EXPECT_EQ(M_parser_read_str_boundary(p, buf, sizeof(buf), "<<<", M_TRUE, &found), 1u);
	EXPECT_FALSE(found);
	EXPECT_STREQ(buf, "y");
	EXPECT_EQ(rest(p), "<<");
	M_parser_destroy(p);

	p = cp("mark me");
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 4));
	EXPECT_EQ(M_parser_read_str_mark(p, buf, 4), 0u); /* 4 + 1 do not fit */
	EXPECT_EQ(M_parser_read_str_mark(p, buf, 5), 4u);
	EXPECT_STREQ(buf, "mark");
	EXPECT_EQ(M_parser_read_str_mark(p, buf, 5), 0u);
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * New strings and parsers
 * ------------------------------------------------------------------------- */

TEST(m_parser, strdup_family)
{
	M_parser_t *p = cp("name: value\r\n\x01\xAB");
	EXPECT_EQ(take_str(M_parser_read_strdup_until(p, ":", M_FALSE)), "name");
	EXPECT_EQ(take_str(M_parser_read_strdup_until(p, "#", M_FALSE)), "<null>");
	EXPECT_EQ(take_str(M_parser_read_strdup_until(p, ":", M_FALSE)), "<null>"); /* nothing before */
	EXPECT_EQ(take_str(M_parser_read_strdup_charset(p, ": ")), ": ");
	EXPECT_EQ(take_str(M_parser_read_strdup_chr_predicate_max(p, M_chr_isalpha, 3)), "val");
	EXPECT_EQ(take_str(M_parser_read_strdup_chr_predicate(p, M_chr_isalpha)), "ue");
	EXPECT_EQ(take_str(M_parser_read_strdup_chr_predicate(p, M_chr_isalpha)), "<null>");
	M_bool found = M_FALSE;
	EXPECT_EQ(take_str(M_parser_read_strdup_boundary(p, "\r\n", M_TRUE, &found)), "\r\n");
	EXPECT_TRUE(found);
	EXPECT_EQ(take_str(M_parser_read_strdup_hex(p, 3)), "<null>");
	EXPECT_EQ(take_str(M_parser_read_strdup_hex(p, 2)), "01AB");
	EXPECT_EQ(take_str(M_parser_read_strdup(p, 1)), "<null>");
	M_parser_destroy(p);

	p = cp("xxxyyy");
	EXPECT_EQ(take_str(M_parser_read_strdup_predicate_max(p, is_x, 2)), "xx");
	EXPECT_EQ(take_str(M_parser_read_strdup_predicate(p, is_x)), "x");
	EXPECT_EQ(take_str(M_parser_read_strdup(p, 0)), "<null>");
	EXPECT_EQ(take_str(M_parser_read_strdup_mark(p)), "<null>");
	M_parser_mark(p);
	EXPECT_EQ(take_str(M_parser_read_strdup_mark(p)), "<null>"); /* empty range */
	ASSERT_TRUE(M_parser_consume(p, 2));
	EXPECT_EQ(take_str(M_parser_read_strdup_mark(p)), "yy");
	EXPECT_EQ(M_parser_mark_len(p), 0u);
	EXPECT_EQ(take_str(M_parser_read_strdup(p, 1)), "y");
	M_parser_destroy(p);
}

TEST(m_parser, read_parser_family)
{
	M_parser_t *p = cp("ab\ncd|efgh", M_PARSER_FLAG_TRACKLINES);
	M_parser_t *q = M_parser_read_parser_until(p, U("|"), 1, M_TRUE);
	ASSERT_NE(q, nullptr);
	EXPECT_EQ(rest(q), "ab\ncd|");
	/* Same flags: the copy tracks lines from its own start. */
	EXPECT_EQ(M_parser_current_line(q), 1u);
	ASSERT_TRUE(M_parser_consume(q, 4));
	EXPECT_EQ(M_parser_current_line(q), 2u);
	/* A dynamic copy: it takes appends. */
	EXPECT_TRUE(M_parser_append(q, U("!"), 1));
	EXPECT_EQ(rest(q), "d|!");
	M_parser_destroy(q);

	EXPECT_EQ(M_parser_read_parser_until(p, U("|"), 1, M_TRUE), nullptr);
	EXPECT_EQ(M_parser_read_parser(p, 5), nullptr); /* more than remain */
	EXPECT_EQ(M_parser_read_parser(p, 0), nullptr);
	q = M_parser_read_parser(p, 1);
	EXPECT_EQ(rest(q), "e");
	M_parser_destroy(q);

	M_bool found = M_TRUE;
	q            = M_parser_read_parser_boundary(p, U("hz"), 2, M_FALSE, &found);
	EXPECT_FALSE(found);
	EXPECT_EQ(rest(q), "fg");
	M_parser_destroy(q);
	M_parser_destroy(p);

	p = cp("aab12xxq");
	q = M_parser_read_parser_charset(p, U("a"), 1);
	EXPECT_EQ(rest(q), "aa");
	M_parser_destroy(q);
	EXPECT_EQ(M_parser_read_parser_charset(p, U("a"), 1), nullptr);
	q = M_parser_read_parser_predicate_max(
	    p, [](unsigned char c) -> M_bool { return c == 'b'; }, 5);
	EXPECT_EQ(rest(q), "b");
	M_parser_destroy(q);
	q = M_parser_read_parser_chr_predicate_max(p, M_chr_isdigit, 1);
	EXPECT_EQ(rest(q), "1");
	M_parser_destroy(q);
	q = M_parser_read_parser_chr_predicate(p, M_chr_isdigit);
	EXPECT_EQ(rest(q), "2");
	M_parser_destroy(q);
	M_parser_mark(p);
	q = M_parser_read_parser_predicate(p, is_x);
	EXPECT_EQ(rest(q), "xx");
	M_parser_destroy(q);
	q = M_parser_read_parser_mark(p);
	EXPECT_EQ(rest(q), "xx");
	M_parser_destroy(q);
	EXPECT_EQ(M_parser_read_parser_mark(p), nullptr);
	EXPECT_EQ(rest(p), "q");
	M_parser_destroy(p);
}

TEST(m_parser, read_buf_family)
{
	M_buf_t    *b = M_buf_create();
	M_parser_t *p = cp("\x0a\xff"
	                   "abc;def;gh");

	EXPECT_EQ(M_parser_read_buf_hex(p, b, 3 + 99), 0u);
	EXPECT_EQ(M_parser_read_buf_hex(p, b, 2), 2u);
	EXPECT_EQ(buf_str(b), "0AFF");
	EXPECT_EQ(M_parser_read_buf(p, b, 1), 1u);
	EXPECT_EQ(M_parser_read_buf(p, b, 0), 0u);
	EXPECT_EQ(M_parser_read_buf(p, nullptr, 1), 0u);
	EXPECT_EQ(M_parser_read_buf_until(p, b, U(";"), 1, M_TRUE), 3u);
	EXPECT_EQ(M_parser_read_buf_until(p, b, U("#"), 1, M_TRUE), 0u);
	EXPECT_EQ(buf_str(b), "0AFFabc;");
	M_bool found = M_FALSE;
	EXPECT_EQ(M_parser_read_buf_boundary(p, b, U(";g"), 2, M_FALSE, &found), 3u);
	EXPECT_TRUE(found);
	EXPECT_EQ(M_parser_read_buf_boundary(p, b, U("h!"), 2, M_FALSE, &found), 2u); /* ";g", then "h" waits */
	EXPECT_FALSE(found);
	EXPECT_EQ(rest(p), "h");
	EXPECT_EQ(M_parser_read_buf_max(p, b, 10), 1u);
	EXPECT_EQ(buf_str(b), "0AFFabc;def;gh");
	M_parser_destroy(p);

	M_buf_truncate(b, 0);
	p = cp("aa--12xy!");
	EXPECT_EQ(M_parser_read_buf_charset(p, b, U("a"), 1), 2u);
	EXPECT_EQ(M_parser_read_buf_not_charset(p, b, U("0123456789"), 10), 2u);
	EXPECT_EQ(M_parser_read_buf_chr_predicate_max(p, b, M_chr_isdigit, 1), 1u);
	EXPECT_EQ(M_parser_read_buf_chr_predicate(p, b, M_chr_isdigit), 1u);
	M_parser_mark(p);
	EXPECT_EQ(M_parser_read_buf_predicate_max(p, b, is_x, 0), 0u);
	EXPECT_EQ(M_parser_read_buf_predicate(p, b, is_x), 1u);
	EXPECT_EQ(M_parser_read_buf_mark(p, b), 1u);
	EXPECT_EQ(M_parser_read_buf_mark(p, b), 0u);
	EXPECT_EQ(buf_str(b), "aa--12xx");
	EXPECT_EQ(rest(p), "y!");
	M_parser_destroy(p);
	M_buf_cancel(b);
}

/* ---------------------------------------------------------------------------
 * Truncation
 * ------------------------------------------------------------------------- */

TEST(m_parser, truncate_family)
{
	struct Case {
		const char *name;
		const char *input;
		size_t (*op)(M_parser_t *);
		size_t      removed;
		const char *left;
	};
	static const Case cases[] = {
	    {"whitespace", "ab \r\n\t", [](M_parser_t *p) { return M_parser_truncate_whitespace(p, 0); }, 4, "ab"},
	    {"whitespace_to_newline", "ab \n \n ",
	     [](M_parser_t *p) { return M_parser_truncate_whitespace(p, M_PARSER_WHITESPACE_TO_NEWLINE); }, 2, "ab \n "},
	    {"whitespace_spaceonly", "ab\t  ",
	     [](M_parser_t *p) { return M_parser_truncate_whitespace(p, M_PARSER_WHITESPACE_SPACEONLY); }, 2, "ab\t"},
	    {"charset", "abc;;,", [](M_parser_t *p) { return M_parser_truncate_charset(p, U(";,"), 2); }, 3, "abc"},
	    {"str_charset", "abc", [](M_parser_t *p) { return M_parser_truncate_str_charset(p, "xy"); }, 0, "abc"},
	    {"predicate", "abxxx", [](M_parser_t *p) { return M_parser_truncate_predicate(p, is_x); }, 3, "ab"},
	    {"predicate_max", "abxxx", [](M_parser_t *p) { return M_parser_truncate_predicate_max(p, is_x, 2); }, 2, "abx"},
	    {"chr_predicate", "ab12", [](M_parser_t *p) { return M_parser_truncate_chr_predicate(p, M_chr_isdigit); }, 2,
	     "ab"},
	    {"chr_predicate_max", "ab12",
	     [](M_parser_t *p) { return M_parser_truncate_chr_predicate_max(p, M_chr_isdigit, 1); }, 1, "ab1"},
	    {"until", "a;b;c", [](M_parser_t *p) { return M_parser_truncate_until(p, U(";"), 1, M_FALSE); }, 1, "a;b;"},
	    {"until_eat", "a;b;c", [](M_parser_t *p) { return M_parser_truncate_until(p, U(";"), 1, M_TRUE); }, 2, "a;b"},
	    {"until_none", "abc", [](M_parser_t *p) { return M_parser_truncate_until(p, U(";"), 1, M_TRUE); }, 0, "abc"},
	    {"str_until", "k=v=w", [](M_parser_t *p) { return M_parser_truncate_str_until(p, "=", M_TRUE); }, 2, "k=v"},
	};
	for (const auto &c : cases) {
		M_parser_t *p = cp(c.input);
		EXPECT_EQ(c.op(p), c.removed) << c.name;
		EXPECT_EQ(rest(p), c.left) << c.name;
		M_parser_destroy(p);
		EXPECT_EQ(c.op(nullptr), 0u) << c.name;
	}
}

TEST(m_parser, truncate_wipes_in_dynamic_parser)
{
	M_parser_t          *p = dp("keep-drop");
	const unsigned char *c = M_parser_peek(p);
	EXPECT_FALSE(M_parser_truncate(p, 10));
	EXPECT_TRUE(M_parser_truncate(p, 4));
	EXPECT_EQ(rest(p), "keep");
	EXPECT_TRUE(all_ff(c + 4, 5));
	/* New data follows the kept bytes. */
	EXPECT_TRUE(M_parser_append(p, U("!"), 1));
	EXPECT_EQ(rest(p), "keep!");
	EXPECT_FALSE(M_parser_truncate(nullptr, 0));
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * Tests without consuming
 * ------------------------------------------------------------------------- */

TEST(m_parser, is_tests)
{
	M_parser_t *p = cp("123abc");
	EXPECT_TRUE(M_parser_is_chr_predicate(p, 3, M_chr_isdigit));
	EXPECT_FALSE(M_parser_is_chr_predicate(p, 4, M_chr_isdigit));
	EXPECT_FALSE(M_parser_is_chr_predicate(p, 0, M_chr_isdigit));
	EXPECT_TRUE(M_parser_is_chr_predicate(p, 0, M_chr_isalnum));
	EXPECT_FALSE(M_parser_is_chr_predicate(p, 7, M_chr_isalnum));
	EXPECT_FALSE(M_parser_is_chr_predicate(p, 1, nullptr));
	EXPECT_TRUE(M_parser_is_not_chr_predicate(p, 3, M_chr_isalpha));
	EXPECT_FALSE(M_parser_is_not_chr_predicate(p, 4, M_chr_isalpha));
	EXPECT_TRUE(M_parser_is_charset(p, 2, U("12"), 2));
	EXPECT_FALSE(M_parser_is_charset(p, 3, U("12"), 2));
	EXPECT_TRUE(M_parser_is_not_charset(p, 0, U("xyz"), 3));
	EXPECT_TRUE(M_parser_is_not_charset(p, 0, nullptr, 0));
	EXPECT_TRUE(M_parser_is_str_charset(p, 0, "abc123"));
	EXPECT_FALSE(M_parser_is_str_charset(p, 0, nullptr));
	EXPECT_TRUE(M_parser_is_not_str_charset(p, 2, "abc"));
	EXPECT_FALSE(M_parser_is_predicate(p, 1, is_x));
	EXPECT_TRUE(M_parser_is_not_predicate(p, 0, is_x));
	EXPECT_EQ(M_parser_len(p), 6u);
	M_parser_destroy(p);

	M_parser_t *e = M_parser_create(0);
	EXPECT_FALSE(M_parser_is_not_predicate(e, 0, is_x));
	EXPECT_FALSE(M_parser_is_predicate(nullptr, 0, is_x));
	M_parser_destroy(e);
}

/* ---------------------------------------------------------------------------
 * Split
 * ------------------------------------------------------------------------- */

TEST(m_parser, split)
{
	struct Case {
		const char              *input;
		size_t                   maxcnt;
		uint32_t                 flags;
		std::vector<std::string> pieces; /* empty: failure */
	};
	const Case cases[] = {
	    {"a,b,,c", 0, 0, {"a", "b", "", "c"}},
	    {"a,b,,c", 2, 0, {"a", "b,,c"}},
	    {"a,b,", 0, 0, {"a", "b", ""}},
	    {"abc", 0, 0, {"abc"}},
	    {"abc", 0, M_PARSER_SPLIT_FLAG_NODELIM_FAIL, {}},
	    {",", 1, 0, {","}},
	};
	for (const auto &c : cases) {
		M_parser_t  *p   = cp(c.input);
		size_t       num = 99;
		M_parser_t **out = M_parser_split(p, ',', c.maxcnt, c.flags, &num);
		if (c.pieces.empty()) {
			EXPECT_EQ(out, nullptr) << c.input;
			EXPECT_EQ(num, 0u);
			EXPECT_EQ(M_parser_len(p), std::strlen(c.input));
		} else {
			ASSERT_NE(out, nullptr) << c.input;
			ASSERT_EQ(num, c.pieces.size()) << c.input;
			for (size_t i = 0; i < num; i++)
				EXPECT_EQ(rest(out[i]), c.pieces[i]) << c.input << " piece " << i;
			EXPECT_EQ(M_parser_len(p), 0u);
		}
		M_parser_split_free(out, num);
		M_parser_destroy(p);
	}

	size_t       num = 0;
	M_parser_t  *p   = cp("one<->two<->three");
	M_parser_t **out = M_parser_split_str_pat(p, "<->", 0, 0, &num);
	ASSERT_EQ(num, 3u);
	EXPECT_EQ(rest(out[2]), "three");
	M_parser_split_free(out, num);
	M_parser_destroy(p);

	p   = cp("1--2");
	out = M_parser_split_pat(p, U("--"), 2, 0, 0, &num);
	ASSERT_EQ(num, 2u);
	EXPECT_EQ(rest(out[0]), "1");
	M_parser_split_free(out, num);
	EXPECT_EQ(M_parser_split_pat(p, U("--"), 2, 0, 0, &num), nullptr); /* empty now */
	M_parser_destroy(p);

	p = cp("a,b");
	EXPECT_EQ(M_parser_split(p, ',', 0, 0, nullptr), nullptr);
	EXPECT_EQ(M_parser_split_str_pat(p, "", 0, 0, &num), nullptr);
	EXPECT_EQ(M_parser_split_pat(p, nullptr, 1, 0, 0, &num), nullptr);
	EXPECT_EQ(M_parser_split(nullptr, ',', 0, 0, &num), nullptr);
	EXPECT_EQ(M_parser_len(p), 3u);
	M_parser_destroy(p);
	M_parser_split_free(nullptr, 3);
}

/* ---------------------------------------------------------------------------
 * STX/ETX/LRC framed message
 * ------------------------------------------------------------------------- */

TEST(m_parser, stxetxlrc_message)
{
	/* "AB": LRC of the message alone 'A'^'B' = 0x03; with ETX 0x00; with STX
	 * and ETX 0x02. */
	struct Case {
		std::string            bytes;
		uint32_t               flags;
		M_parser_frame_error_t result;
		const char            *message;
		size_t                 left;
	};
	const Case cases[] = {
	    {std::string("\x02"
	                 "AB\x03\x03"
	                 "z",
	                 6),
	     0, M_PARSER_FRAME_ERROR_SUCCESS, "AB", 1},
	    {std::string("\x02"
	                 "AB\x03\x00",
	                 5),
	     M_PARSER_FRAME_LRC_INCLUDE_ETX, M_PARSER_FRAME_ERROR_SUCCESS, "AB", 0},
	    {std::string("\x02"
	                 "AB\x03\x02",
	                 5),
	     M_PARSER_FRAME_LRC_INCLUDE_STX | M_PARSER_FRAME_LRC_INCLUDE_ETX, M_PARSER_FRAME_ERROR_SUCCESS, "AB", 0},
	    {std::string("\x02"
	                 "A\x03",
	                 3),
	     0, M_PARSER_FRAME_ERROR_INVALID, nullptr, 3},
	    {std::string("X"
	                 "AB\x03\x03",
	                 5),
	     0, M_PARSER_FRAME_ERROR_NO_STX, nullptr, 5},
	    {std::string("\x02"
	                 "ABCD",
	                 5),
	     0, M_PARSER_FRAME_ERROR_NO_ETX, nullptr, 5},
	    {std::string("\x02"
	                 "ABC\x03",
	                 5),
	     0, M_PARSER_FRAME_ERROR_NO_LRC, nullptr, 5},
	    {std::string("\x02"
	                 "AB\x03\x07"
	                 "z",
	                 6),
	     0, M_PARSER_FRAME_ERROR_LRC_CALC, nullptr, 1},
	};
	for (const auto &c : cases) {
		M_parser_t *p   = M_parser_create_const(U(c.bytes.data()), c.bytes.size(), 0);
		M_parser_t *msg = reinterpret_cast<M_parser_t *>(1);
		EXPECT_EQ(M_parser_read_stxetxlrc_message(p, &msg, c.flags), c.result);
		if (c.message != nullptr) {
			ASSERT_NE(msg, nullptr);
			EXPECT_EQ(rest(msg), c.message);
			M_parser_destroy(msg);
		} else {
			EXPECT_EQ(msg, nullptr);
		}
		EXPECT_EQ(M_parser_len(p), c.left);
		M_parser_destroy(p);
	}

	/* Incomplete frame, completed by an append: the cursor waited at STX. */
	M_parser_t *d   = dp("\x02"
	                       "hello");
	M_parser_t *msg = nullptr;
	EXPECT_EQ(M_parser_read_stxetxlrc_message(d, &msg, 0), M_PARSER_FRAME_ERROR_NO_ETX);
	const unsigned char tail[] = {0x03, 'h' ^ 'e' ^ 'l' ^ 'l' ^ 'o'};
	ASSERT_TRUE(M_parser_append(d, tail, sizeof(tail)));
	EXPECT_EQ(M_parser_read_stxetxlrc_message(d, &msg, 0), M_PARSER_FRAME_ERROR_SUCCESS);
	EXPECT_EQ(rest(msg), "hello");
	EXPECT_EQ(M_parser_len(d), 0u);
	M_parser_destroy(msg);

	EXPECT_EQ(M_parser_read_stxetxlrc_message(nullptr, &msg, 0), M_PARSER_FRAME_ERROR_INVALID);
	EXPECT_EQ(M_parser_read_stxetxlrc_message(d, nullptr, 0), M_PARSER_FRAME_ERROR_INVALID);
	M_parser_destroy(d);
}

/* ---------------------------------------------------------------------------
 * NULL parser everywhere
 * ------------------------------------------------------------------------- */

TEST(m_parser, null_parser)
{
	unsigned char b   = 0;
	size_t        len = 7;
	uint64_t      u   = 0;
	char          s[4];
	M_buf_t      *buf = M_buf_create();

	EXPECT_EQ(M_parser_len(nullptr), 0u);
	EXPECT_EQ(M_parser_current_offset(nullptr), 0u);
	EXPECT_EQ(M_parser_current_line(nullptr), 0u);
	EXPECT_EQ(M_parser_current_column(nullptr), 0u);
	EXPECT_EQ(M_parser_peek(nullptr), nullptr);
	EXPECT_FALSE(M_parser_peek_byte(nullptr, &b));
	EXPECT_FALSE(M_parser_peek_bytes(nullptr, 1, &b));
	EXPECT_FALSE(M_parser_compare(nullptr, U("a"), 1));
	EXPECT_FALSE(M_parser_compare_str(nullptr, "a", 0, M_FALSE));
	M_parser_mark(nullptr);
	M_parser_mark_clear(nullptr);
	EXPECT_EQ(M_parser_mark_len(nullptr), 0u);
	EXPECT_EQ(M_parser_peek_mark(nullptr, &len), nullptr);
	EXPECT_EQ(len, 0u);
	EXPECT_EQ(M_parser_mark_rewind(nullptr), 0u);
	EXPECT_FALSE(M_parser_read_byte(nullptr, &b));
	EXPECT_FALSE(M_parser_read_bytes(nullptr, 1, &b));
	EXPECT_FALSE(M_parser_consume(nullptr, 0));
	EXPECT_FALSE(M_parser_read_uint(nullptr, M_PARSER_INTEGER_BIGENDIAN, 1, 0, &u));
	EXPECT_FALSE(M_parser_read_uint_bcd(nullptr, 1, &u));
	EXPECT_EQ(M_parser_read_bytes_max(nullptr, 1, &b, 1), 0u);
	EXPECT_EQ(M_parser_read_bytes_until(nullptr, &b, 1, U("a"), 1, M_TRUE), 0u);
	EXPECT_EQ(M_parser_read_bytes_boundary(nullptr, &b, 1, U("a"), 1, M_TRUE, nullptr), 0u);
	EXPECT_EQ(M_parser_read_bytes_charset(nullptr, U("a"), 1, &b, 1), 0u);
	EXPECT_EQ(M_parser_read_bytes_predicate(nullptr, is_x, &b, 1), 0u);
	EXPECT_EQ(M_parser_read_bytes_chr_predicate(nullptr, M_chr_isdigit, &b, 1), 0u);
	EXPECT_EQ(M_parser_read_bytes_mark(nullptr, &b, 1), 0u);
	EXPECT_FALSE(M_parser_read_str(nullptr, 1, s, sizeof(s)));
	EXPECT_EQ(M_parser_read_str_max(nullptr, 1, s, sizeof(s)), 0u);
	EXPECT_EQ(M_parser_read_str_until(nullptr, s, sizeof(s), "a", M_TRUE), 0u);
	EXPECT_EQ(M_parser_read_str_boundary(nullptr, s, sizeof(s), "a", M_TRUE, nullptr), 0u);
	EXPECT_EQ(M_parser_read_str_charset(nullptr, "a", s, sizeof(s)), 0u);
	EXPECT_EQ(M_parser_read_str_predicate(nullptr, is_x, s, sizeof(s)), 0u);
	EXPECT_EQ(M_parser_read_str_chr_predicate(nullptr, M_chr_isdigit, s, sizeof(s)), 0u);
	EXPECT_EQ(M_parser_read_str_mark(nullptr, s, sizeof(s)), 0u);
	EXPECT_EQ(M_parser_read_strdup(nullptr, 1), nullptr);
	EXPECT_EQ(M_parser_read_strdup_hex(nullptr, 1), nullptr);
	EXPECT_EQ(M_parser_read_strdup_until(nullptr, "a", M_TRUE), nullptr);
	EXPECT_EQ(M_parser_read_strdup_boundary(nullptr, "a", M_TRUE, nullptr), nullptr);
	EXPECT_EQ(M_parser_read_strdup_charset(nullptr, "a"), nullptr);
	EXPECT_EQ(M_parser_read_strdup_predicate(nullptr, is_x), nullptr);
	EXPECT_EQ(M_parser_read_strdup_predicate_max(nullptr, is_x, 1), nullptr);
	EXPECT_EQ(M_parser_read_strdup_chr_predicate(nullptr, M_chr_isdigit), nullptr);
	EXPECT_EQ(M_parser_read_strdup_chr_predicate_max(nullptr, M_chr_isdigit, 1), nullptr);
	EXPECT_EQ(M_parser_read_strdup_mark(nullptr), nullptr);
	EXPECT_EQ(M_parser_read_parser(nullptr, 1), nullptr);
	EXPECT_EQ(M_parser_read_parser_until(nullptr, U("a"), 1, M_TRUE), nullptr);
	EXPECT_EQ(M_parser_read_parser_boundary(nullptr, U("a"), 1, M_TRUE, nullptr), nullptr);
	EXPECT_EQ(M_parser_read_parser_charset(nullptr, U("a"), 1), nullptr);
	EXPECT_EQ(M_parser_read_parser_predicate(nullptr, is_x), nullptr);
	EXPECT_EQ(M_parser_read_parser_predicate_max(nullptr, is_x, 1), nullptr);
	EXPECT_EQ(M_parser_read_parser_chr_predicate(nullptr, M_chr_isdigit), nullptr);
	EXPECT_EQ(M_parser_read_parser_chr_predicate_max(nullptr, M_chr_isdigit, 1), nullptr);
	EXPECT_EQ(M_parser_read_parser_mark(nullptr), nullptr);
	EXPECT_EQ(M_parser_read_buf(nullptr, buf, 1), 0u);
	EXPECT_EQ(M_parser_read_buf_hex(nullptr, buf, 1), 0u);
	EXPECT_EQ(M_parser_read_buf_max(nullptr, buf, 1), 0u);
	EXPECT_EQ(M_parser_read_buf_until(nullptr, buf, U("a"), 1, M_TRUE), 0u);
	EXPECT_EQ(M_parser_read_buf_boundary(nullptr, buf, U("a"), 1, M_TRUE, nullptr), 0u);
	EXPECT_EQ(M_parser_read_buf_charset(nullptr, buf, U("a"), 1), 0u);
	EXPECT_EQ(M_parser_read_buf_not_charset(nullptr, buf, U("a"), 1), 0u);
	EXPECT_EQ(M_parser_read_buf_predicate(nullptr, buf, is_x), 0u);
	EXPECT_EQ(M_parser_read_buf_predicate_max(nullptr, buf, is_x, 1), 0u);
	EXPECT_EQ(M_parser_read_buf_chr_predicate(nullptr, buf, M_chr_isdigit), 0u);
	EXPECT_EQ(M_parser_read_buf_chr_predicate_max(nullptr, buf, M_chr_isdigit, 1), 0u);
	EXPECT_EQ(M_parser_read_buf_mark(nullptr, buf), 0u);
	EXPECT_EQ(M_buf_len(buf), 0u);
	M_buf_cancel(buf);
}

TEST(m_parser, null_destinations_consume_nothing)
{
	M_parser_t *p = cp("aaa;bbb");
	M_parser_mark(p);
	unsigned char b = 0;
	EXPECT_FALSE(M_parser_read_byte(p, nullptr));
	EXPECT_EQ(M_parser_read_bytes_until(p, nullptr, 10, U(";"), 1, M_TRUE), 0u);
	EXPECT_EQ(M_parser_read_str_until(p, nullptr, 10, ";", M_TRUE), 0u);
	EXPECT_EQ(M_parser_read_buf_until(p, nullptr, U(";"), 1, M_TRUE), 0u);
	EXPECT_EQ(M_parser_read_buf_hex(p, nullptr, 1), 0u);
	EXPECT_FALSE(M_parser_read_uint(p, M_PARSER_INTEGER_BIGENDIAN, 1, 0, nullptr));
	EXPECT_EQ(M_parser_read_bytes_mark(p, nullptr, 10), 0u);
	EXPECT_EQ(M_parser_read_buf_mark(p, nullptr), 0u);
	EXPECT_EQ(M_parser_len(p), 7u);
	EXPECT_TRUE(M_parser_peek_byte(p, &b));
	EXPECT_EQ(b, 'a');
	M_parser_destroy(p);
}

/* ---------------------------------------------------------------------------
 * A long random walk of a dynamic parser against a plain model: appends,
 * direct writes, reads, marks, rewinds and truncation in any order, so the
 * compaction behind the marks and the growth are exercised at every offset.
 * ------------------------------------------------------------------------- */

TEST(m_parser, random_walk_matches_model)
{
	uint64_t state = 0x9E3779B97F4A7C15ULL;
	auto     rnd   = [&state](size_t n) -> size_t {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<size_t>((state >> 33) % n);
	};

	M_parser_t *p = M_parser_create(M_PARSER_FLAG_TRACKLINES);
	std::string all;      /* every byte not truncated, consumed or not */
	size_t      cur  = 0; /* model cursor into all */
	size_t      mark = SIZE_MAX;

	for (int step = 0; step < 4000; step++) {
		switch (rnd(8)) {
			case 0:
			case 1: { /* append */
				std::string add;
				size_t      n = 1 + rnd(40);
				for (size_t i = 0; i < n; i++)
					add.push_back(static_cast<char>(rnd(4) == 0 ? '\n' : 'a' + rnd(26)));
				ASSERT_TRUE(M_parser_append(p, U(add.c_str()), add.size()));
				all += add;
				break;
			}
			case 2: { /* direct write */
				size_t         want = 1 + rnd(30);
				size_t         room = want;
				unsigned char *w    = M_parser_direct_write_start(p, &room);
				ASSERT_NE(w, nullptr);
				ASSERT_GE(room, want);
				size_t n = rnd(want + 1);
				for (size_t i = 0; i < n; i++)
					w[i] = static_cast<unsigned char>('A' + rnd(26));
				all.append(reinterpret_cast<char *>(w), n);
				M_parser_direct_write_end(p, n);
				break;
			}
			case 3:
			case 4: { /* consume */
				size_t n = rnd(all.size() - cur + 1);
				ASSERT_TRUE(M_parser_consume(p, n));
				cur += n;
				break;
			}
			case 5: /* mark */
				M_parser_mark(p);
				mark = cur;
				break;
			case 6: /* rewind or clear */
				if (rnd(2) == 0) {
					EXPECT_EQ(M_parser_mark_rewind(p), mark == SIZE_MAX ? 0 : cur - mark);
					if (mark != SIZE_MAX)
						cur = mark;
				} else {
					M_parser_mark_clear(p);
					mark = SIZE_MAX;
				}
				break;
			case 7: { /* truncate a little */
				size_t unread = all.size() - cur;
				size_t keep   = unread - rnd(unread < 5 ? unread + 1 : 5);
				ASSERT_TRUE(M_parser_truncate(p, keep));
				all.resize(cur + keep);
				break;
			}
		}

		ASSERT_EQ(rest(p), all.substr(cur)) << "step " << step;
		ASSERT_EQ(M_parser_current_offset(p), cur);
		ASSERT_EQ(M_parser_mark_len(p), mark == SIZE_MAX ? 0 : cur - mark);
		size_t line = 1, col = 1;
		for (size_t i = 0; i < cur; i++) {
			if (all[i] == '\n') {
				line++;
				col = 1;
			} else {
				col++;
			}
		}
		ASSERT_EQ(M_parser_current_line(p), line) << "step " << step;
		ASSERT_EQ(M_parser_current_column(p), col) << "step " << step;
		if (mark != SIZE_MAX) {
			size_t               len = 0;
			const unsigned char *m   = M_parser_peek_mark(p, &len);
			ASSERT_EQ(std::string(reinterpret_cast<const char *>(m), len), all.substr(mark, cur - mark));
		}
	}
	M_parser_destroy(p);
}
