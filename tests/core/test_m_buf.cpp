#include <gtest/gtest.h>

#include "core/m_buf.h"
#include "core/m_decimal.h"
#include "core/m_mem.h"
#include "core/m_str_num.h"

#include <cinttypes>
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

/* The byte buffer (m_buf.cpp) and its money and decimal appends
 * (m_buf_money.cpp). */

namespace {

/* The content as a std::string (embedded zero bytes kept). */
std::string content(const M_buf_t *buf)
{
	const char *p = M_buf_peek(buf);
	return p == nullptr ? std::string() : std::string(p, M_buf_len(buf));
}

/* The content, then cancel the buffer. */
std::string take(M_buf_t *buf)
{
	std::string s = content(buf);
	M_buf_cancel(buf);
	return s;
}

/* Finish a buffer as a std::string and free the block. */
std::string finish(M_buf_t *buf)
{
	size_t      len = 0;
	char       *s   = M_buf_finish_str(buf, &len);
	std::string out(s == nullptr ? "" : s, len);
	M_free(s);
	return out;
}

std::string rep(const std::string &s, size_t n)
{
	std::string r;
	for (size_t i = 0; i < n; i++)
		r += s;
	return r;
}

/* A buffer holding s, with the first drop bytes dropped. */
M_buf_t *holding(const std::string &s, size_t drop = 0)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_bytes(buf, s.data(), s.size());
	M_buf_drop(buf, drop);
	return buf;
}

const unsigned char *raw(const M_buf_t *buf)
{
	return reinterpret_cast<const unsigned char *>(M_buf_peek(buf));
}

} // namespace

/* ---------------------------------------------------------------------------
 * Storage: growth, compaction, wiping
 * ------------------------------------------------------------------------- */

TEST(m_buf, capacity_after_appends)
{
	const struct {
		std::vector<size_t> appends; /* lengths appended in order */
		size_t              capacity;
	} cases[] = {{{1}, 1024},        {{1024}, 1024},       {{1000, 24}, 1024}, {{1024, 1}, 2048},
	             {{1025}, 2048},     {{3000}, 4096},       {{2048}, 2048},     {{2049}, 4096},
	             {{1000, 25}, 2048}, {{2048, 2048}, 4096}, {{4096, 1}, 8192},  {{1000, 1000, 3000}, 8192}};
	for (const auto &c : cases) {
		M_buf_t *buf   = M_buf_create();
		size_t   total = 0;
		for (size_t n : c.appends) {
			M_buf_add_fill(buf, 'x', n);
			total += n;
		}
		EXPECT_EQ(M_buf_alloc_size(buf), c.capacity) << "after " << c.appends.size() << " appends";
		EXPECT_EQ(M_buf_len(buf), total);
		EXPECT_EQ(M_buf_peek(buf)[total], '\0');
		M_buf_cancel(buf);
	}

	/* A new buffer has no storage and finishes to NULL; emptied storage
	 * finishes to "". Filling exactly to capacity keeps the storage (and
	 * its extra terminator byte). */
	M_buf_t *buf = M_buf_create();
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(M_buf_peek(buf), nullptr);
	size_t len = 99;
	EXPECT_EQ(M_buf_finish_str(buf, &len), nullptr);
	EXPECT_EQ(len, 0u);
	buf = holding("abc");
	M_buf_truncate(buf, 0);
	char *empty = M_buf_finish_str(buf, &len);
	ASSERT_NE(empty, nullptr);
	EXPECT_STREQ(empty, "");
	M_free(empty);
	buf                = holding(std::string(1000, 'a'));
	const char *before = M_buf_peek(buf);
	M_buf_add_fill(buf, 'b', 24);
	EXPECT_EQ(M_buf_peek(buf), before);
	EXPECT_EQ(M_buf_peek(buf)[1024], '\0');
	M_buf_add_byte(buf, 'c');
	EXPECT_EQ(M_buf_alloc_size(buf), 2048u);
	EXPECT_EQ(take(buf), std::string(1000, 'a') + std::string(24, 'b') + "c");

	/* Needs more than 2^63: doubling overflows, nothing is written and the
	 * bytes argument is never read. */
	buf = holding("keep");
	M_buf_add_bytes(buf, "x", SIZE_MAX);
	M_buf_add_fill(buf, 'x', SIZE_MAX / 2 + 1);
	len = SIZE_MAX - 2;
	EXPECT_EQ(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(take(buf), "keep");
	buf = M_buf_create();
	M_buf_add_fill(buf, 'x', SIZE_MAX / 2 + 2); /* no storage yet; 2^63 + 1 */
	EXPECT_EQ(M_buf_peek(buf), nullptr);
	M_buf_cancel(buf);
}

TEST(m_buf, drop_and_truncate_compact_late_and_wipe)
{
	M_buf_t    *buf  = holding(std::string(900, 'a') + std::string(100, 'b'));
	const char *base = M_buf_peek(buf);
	M_buf_drop(buf, 900);
	EXPECT_EQ(M_buf_peek(buf), base + 900);
	/* 100 + 23 stays strictly below the 124 free bytes behind the offset. */
	M_buf_add_fill(buf, 'c', 23);
	EXPECT_EQ(M_buf_peek(buf), base + 900);
	/* 123 + 1 is not below 124: the content moves to the start, no growth;
	 * the terminator follows it and the copies left behind are wiped. */
	M_buf_add_byte(buf, 'd');
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(M_buf_peek(buf), base);
	EXPECT_EQ(content(buf), std::string(100, 'b') + std::string(23, 'c') + "d");
	EXPECT_EQ(raw(buf)[124], 0);
	for (size_t i = 125; i < 1024; i++)
		ASSERT_EQ(raw(buf)[i], 0xFF) << i;
	M_buf_cancel(buf);

	buf                    = holding("secret-key-material!");
	const unsigned char *r = raw(buf);
	M_buf_drop(buf, 7);
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(r), 7), std::string(7, '\xFF'));
	M_buf_truncate(buf, 3);
	EXPECT_EQ(content(buf), "key");
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(r) + 10, 10), std::string(1, '\0') + std::string(9, '\xFF'));
	M_buf_truncate(buf, 100); /* beyond the content: nothing */
	EXPECT_EQ(content(buf), "key");
	/* Finishing moves dropped-from content to the start of the block. */
	M_buf_drop(buf, 1);
	size_t         len  = 0;
	unsigned char *data = M_buf_finish(buf, &len);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(data), len + 1), std::string("ey", 3));
	M_free(data);

	buf = M_buf_create();
	M_buf_drop(buf, 5); /* no storage: nothing happens */
	M_buf_truncate(buf, 0);
	EXPECT_EQ(M_buf_peek(buf), nullptr);
	M_buf_add_str(buf, "abcdef");
	M_buf_drop(buf, 100);
	EXPECT_STREQ(M_buf_peek(buf), "");
	M_buf_add_str(buf, "x");
	EXPECT_EQ(take(buf), "x");

	for (const auto &[in, out] : {std::pair{" \t ab c \r\n", "ab c"}, {"abc", "abc"}, {"   ", ""}, {"\va\f", "a"}}) {
		buf = holding(in);
		M_buf_trim(buf);
		EXPECT_EQ(M_buf_peek(buf)[M_buf_len(buf)], '\0');
		EXPECT_EQ(take(buf), out) << in;
	}
}

TEST(m_buf, random_operations_match_a_model)
{
	/* Appends, drops, truncations and direct writes in random order against a
	 * plain string, checking the invariants after each step. */
	std::mt19937 rng(12345);
	auto         next = [&rng](unsigned mod) { return static_cast<size_t>(rng() % mod); };
	M_buf_t     *buf  = M_buf_create();
	std::string  model;
	for (int step = 0; step < 5000; step++) {
		const size_t op = next(5), n = next(op == 2 ? 400 : 2000);
		if (op <= 1) {
			const std::string piece(n % 300, static_cast<char>('a' + next(26)));
			M_buf_add_bytes(buf, piece.data(), piece.size());
			model += piece;
		} else if (op == 2) {
			M_buf_drop(buf, n);
			model.erase(0, n);
		} else if (op == 3) {
			M_buf_truncate(buf, n);
			model.resize(std::min(n, model.size()));
		} else {
			size_t         len = 1 + n % 700;
			const size_t   ask = len, used = next(static_cast<unsigned>(ask + 1));
			unsigned char *w = M_buf_direct_write_start(buf, &len);
			ASSERT_NE(w, nullptr);
			ASSERT_GE(len, ask);
			std::memset(w, '#', used);
			M_buf_direct_write_end(buf, used);
			model.append(used, '#');
		}
		const size_t cap = M_buf_alloc_size(buf);
		ASSERT_TRUE(cap >= 1024 && (cap & (cap - 1)) == 0) << cap;
		ASSERT_EQ(content(buf), model) << "step " << step;
		ASSERT_TRUE(M_buf_peek(buf) == nullptr || M_buf_peek(buf)[model.size()] == '\0');
	}
	EXPECT_EQ(finish(buf), model);
}

TEST(m_buf, direct_write_windows)
{
	M_buf_t       *buf = M_buf_create();
	size_t         len = 10;
	unsigned char *w   = M_buf_direct_write_start(buf, &len);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(len, 1024u);
	std::memcpy(w, "ABCDEFGHIJ", 10);
	M_buf_direct_write_end(buf, 7);
	EXPECT_EQ(M_buf_peek(buf)[7], '\0');
	EXPECT_EQ(content(buf), "ABCDEFG");
	/* Room behind the content; asking for all of it is not "strictly
	 * below", yet fits without growth; one more doubles the storage. */
	const struct {
		size_t ask, window, capacity;
	} steps[] = {{1, 1017, 1024}, {1017, 1017, 1024}, {1018, 2041, 2048}};
	for (const auto &s : steps) {
		len = s.ask;
		w   = M_buf_direct_write_start(buf, &len);
		EXPECT_EQ(w, raw(buf) + 7);
		EXPECT_EQ(len, s.window);
		EXPECT_EQ(M_buf_alloc_size(buf), s.capacity);
	}
	EXPECT_EQ(content(buf), "ABCDEFG");
	M_buf_direct_write_end(buf, 2042); /* beyond the window: refused */
	M_buf_direct_write_end(buf, 0);
	EXPECT_EQ(take(buf), "ABCDEFG");

	buf = holding(std::string(1000, 'z'), 990);
	len = 20; /* 10 + 20 < 34 free behind the offset */
	ASSERT_NE(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(len, 24u);
	len = 24; /* 10 + 24 is not below 34: compaction */
	ASSERT_NE(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(len, 1014u);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(take(buf), std::string(10, 'z'));

	buf = M_buf_create();
	len = 0;
	EXPECT_EQ(M_buf_direct_write_start(buf, &len), nullptr);
	M_buf_direct_write_end(buf, 5); /* no storage: ignored */
	EXPECT_EQ(M_buf_len(buf), 0u);
	M_buf_cancel(buf);
}

/* ---------------------------------------------------------------------------
 * Appends
 * ------------------------------------------------------------------------- */

TEST(m_buf, byte_and_string_appends)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_bytes(buf, "a\0b", 3);
	M_buf_add_bytes(buf, nullptr, 5);
	M_buf_add_bytes(buf, "zz", 0);
	M_buf_add_str(buf, nullptr);
	M_buf_add_byte(buf, 0xFE);
	M_buf_add_char(buf, 'c');
	M_buf_add_fill(buf, '-', 3);
	M_buf_add_fill(buf, '-', 0);
	M_buf_add_str_hex(buf, "\x01\xAB");
	M_buf_add_str_hex(buf, "");
	M_buf_add_str_upper(buf, "ab");
	M_buf_add_str_lower(buf, "CD");
	M_buf_add_str_transform(buf, M_BUF_TRANSFORM_UPPER, nullptr);
	EXPECT_EQ(take(buf), std::string("a\0b\xFE"
	                                 "c---01ABABcd",
	                                 16));

	/* Distinct bytes for each length, so a misplaced block shows. */
	unsigned char src[200];
	for (size_t i = 0; i < sizeof(src); i++)
		src[i] = static_cast<unsigned char>(i * 7 + 1);
	buf = M_buf_create();
	std::string model;
	for (size_t len = 1; len <= 130; len++) {
		M_buf_add_bytes(buf, src + len % 5, len);
		model.append(reinterpret_cast<const char *>(src + len % 5), len);
		ASSERT_EQ(content(buf), model) << len;
		ASSERT_EQ(M_buf_peek(buf)[model.size()], '\0');
	}
	M_buf_cancel(buf);

	/* Hex decoding: white space counts towards the length, which must be
	 * even; a NULL buffer always fails. */
	buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, "0a1B"));
	EXPECT_FALSE(M_buf_add_bytes_hex(buf, "abc"));
	EXPECT_FALSE(M_buf_add_bytes_hex(buf, "0a 1b"));
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, "0a 1b "));
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, nullptr));
	EXPECT_FALSE(M_buf_add_bytes_hex(nullptr, ""));
	EXPECT_EQ(M_buf_peek(buf)[4], '\0');
	EXPECT_EQ(take(buf), "\x0a\x1b\x0a\x1b");

	buf = M_buf_create();
	EXPECT_EQ(M_buf_add_str_lines(buf, "one\ntwo\nthree", 5, 10, M_FALSE, "\r\n"), 3u);
	EXPECT_EQ(M_buf_add_str_lines(buf, "", 5, 10, M_FALSE, "\n"), 0u);
	EXPECT_EQ(M_buf_add_str_lines(buf, "a\nb\nc", 2, 10, M_TRUE, nullptr), 2u);
	EXPECT_EQ(M_buf_add_str_lines(buf, "a\nb\nc", 2, 10, M_FALSE, "\n"), 0u);
	EXPECT_EQ(M_buf_add_str_lines(nullptr, "a\nb", 5, 10, M_FALSE, "\n"), 2u); /* still counted */
	EXPECT_EQ(take(buf), "one\r\ntwo\r\nthree\r\nab");
}

TEST(m_buf, transforms)
{
	const struct {
		uint32_t    flags;
		const char *in, *out;
	} cases[] = {
	    {M_BUF_TRANSFORM_LTRIM | M_BUF_TRANSFORM_RTRIM, "  Ab  ", "Ab"},
	    {M_BUF_TRANSFORM_UPPER, "  Ab  ", "  AB  "},
	    {M_BUF_TRANSFORM_LOWER, "xY1\xC4z", "xy1\xC4z"},
	    {M_BUF_TRANSFORM_LTRIM, "\t\n a b ", "a b "},
	    {M_BUF_TRANSFORM_RTRIM, "\t a b \r\n", "\t a b"},
	    {M_BUF_TRANSFORM_UPPER | M_BUF_TRANSFORM_LOWER, "aB", "ab"}, /* upper, then lower */
	    {M_BUF_TRANSFORM_LTRIM | M_BUF_TRANSFORM_RTRIM, "    ", ""},
	    {M_BUF_TRANSFORM_NONE, " x ", " x "},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = holding("<");
		M_buf_add_str_transform(buf, c.flags, c.in);
		M_buf_add_str(buf, ">");
		EXPECT_EQ(take(buf), std::string("<") + c.out + ">") << c.in << " flags " << c.flags;
	}
	char s1[] = "  ab\t", s2[] = "aZ";
	EXPECT_EQ(M_buf_transform_ltrim_cb(s1, 5), 3u);
	EXPECT_EQ(std::string(s1, 3), "ab\t");
	EXPECT_EQ(M_buf_transform_rtrim_cb(s1, 3), 2u);
	EXPECT_EQ(M_buf_transform_upper_cb(s2, 2), 2u);
	EXPECT_STREQ(s2, "AZ");
	EXPECT_EQ(M_buf_transform_lower_cb(s2, 2), 2u);
	EXPECT_STREQ(s2, "az");
}

TEST(m_buf, justified_appends)
{
	/* A NULL buffer gives the same answer for every row. */
	const struct {
		M_str_justify_type_t type;
		const char          *in;
		size_t               width;
		bool                 ok;
		const char          *out;
	} cases[] = {
	    {M_STR_JUSTIFY_RIGHT, "abc", 5, true, "**abc"},
	    {M_STR_JUSTIFY_LEFT, "abc", 5, true, "abc**"},
	    {M_STR_JUSTIFY_CENTER, "abc", 5, true, "*abc*"},
	    {M_STR_JUSTIFY_CENTER, "abc", 6, true, "**abc*"},
	    {M_STR_JUSTIFY_RIGHT, "abcdef", 3, true, "def"},
	    {M_STR_JUSTIFY_RIGHT_TRUNC_RIGHT, "abcdef", 3, true, "abc"},
	    {M_STR_JUSTIFY_LEFT_TRUNC_RIGHT, "ab", 3, true, "ab*"},
	    {M_STR_JUSTIFY_RIGHT_NOTRUNC, "abcdef", 3, false, ""},
	    {M_STR_JUSTIFY_LEFT_NOTRUNC, "abcdef", 3, false, ""},
	    {M_STR_JUSTIFY_CENTER_NOTRUNC, "abcdef", 3, false, ""},
	    {M_STR_JUSTIFY_LEFT_NOTRUNC, "abc", 3, true, "abc"},
	    {M_STR_JUSTIFY_TRUNC_RIGHT, "ab", 5, true, "ab"},
	    {M_STR_JUSTIFY_TRUNC_LEFT, "abcdef", 2, true, "ef"},
	    {M_STR_JUSTIFY_CENTER_TRUNC_RIGHT, "abcdef", 4, true, "abcd"},
	    {M_STR_JUSTIFY_RIGHT, nullptr, 2, true, "**"},
	    {M_STR_JUSTIFY_RIGHT, "abc", 0, false, ""},
	    {static_cast<M_str_justify_type_t>(11), "abc", 5, false, ""},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_just(buf, c.type, '*', c.in, c.width), c.ok) << c.type << " " << c.width;
		EXPECT_EQ(take(buf), c.out) << c.type << " " << c.width;
		EXPECT_EQ(M_buf_add_str_just(nullptr, c.type, '*', c.in, c.width), c.ok);
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_just(buf, M_STR_JUSTIFY_RIGHT, '0', "\x01\x02", 2, 4));
	EXPECT_TRUE(M_buf_add_str_just_transform(buf, M_STR_JUSTIFY_LEFT, M_BUF_TRANSFORM_UPPER | M_BUF_TRANSFORM_LTRIM,
	                                         '.', "   ab", 4));
	EXPECT_FALSE(
	    M_buf_add_str_just_transform(buf, M_STR_JUSTIFY_LEFT_NOTRUNC, M_BUF_TRANSFORM_UPPER, '.', "abcdef", 4));
	EXPECT_EQ(take(buf), std::string("00\x01\x02"
	                                 "AB..",
	                                 8));
}

/* ---------------------------------------------------------------------------
 * Numbers, against snprintf
 * ------------------------------------------------------------------------- */

TEST(m_buf, number_appends_match_snprintf)
{
	/* Random values of every magnitude and the edges, each at widths around
	 * its length: a justified append gives exactly the zero-padded printf
	 * text, or refuses (appending nothing) when that is wider than a
	 * non-zero width; the width check holds for a NULL buffer too. */
	std::mt19937_64       rng(11);
	std::vector<uint64_t> values{0, 1, 9, 10, 99, 100, 0xABC, UINT64_MAX, 1ULL << 63, (1ULL << 63) - 1};
	for (int i = 0; i < 300; i++)
		values.push_back(rng() >> (rng() % 64));
	char expect[80];
	auto text = [&expect](const char *fmt, int width, auto v) {
		std::snprintf(expect, sizeof(expect), fmt, width, v);
		return std::string(expect);
	};
	for (uint64_t u : values) {
		for (int64_t v : {static_cast<int64_t>(u), -static_cast<int64_t>(u)}) {
			M_buf_t *buf = M_buf_create();
			M_buf_add_int(buf, v);
			EXPECT_EQ(take(buf), text("%0*" PRId64, 0, v));
		}
		M_buf_t *buf = M_buf_create();
		M_buf_add_uint(buf, u);
		EXPECT_EQ(take(buf), text("%0*" PRIu64, 0, u));
		const size_t digits = text("%0*" PRIu64, 0, u).size();
		for (size_t width = digits > 2 ? digits - 2 : 0; width < digits + 3; width++) {
			SCOPED_TRACE(testing::Message() << u << " width " << width);
			const int     w   = static_cast<int>(width);
			const int64_t neg = -static_cast<int64_t>(u >> 1);
			const struct {
				std::string want;
				bool (*add)(M_buf_t *, uint64_t, size_t, bool);
				bool any_width; /* width 0 means no padding */
			} forms[] = {
			    {text("%0*" PRIu64, w, u),
			     [](M_buf_t *b, uint64_t x, size_t n, bool) -> bool { return M_buf_add_uint_just(b, x, n); }, false},
			    {text("%0*" PRId64, w, neg),
			     [](M_buf_t *b, uint64_t x, size_t n, bool) -> bool {
				     return M_buf_add_int_just(b, -static_cast<int64_t>(x >> 1), n);
			     },
			     false},
			    {text("%0*" PRIX64, w, u),
			     [](M_buf_t *b, uint64_t x, size_t n, bool) -> bool { return M_buf_add_uinthex(b, x, M_TRUE, n); },
			     true},
			    {text("%0*" PRIx64, w, u),
			     [](M_buf_t *b, uint64_t x, size_t n, bool) -> bool { return M_buf_add_uinthex(b, x, M_FALSE, n); },
			     true},
			};
			for (const auto &f : forms) {
				const bool ok = (width == 0 && f.any_width) || (width > 0 && f.want.size() <= width);
				buf           = M_buf_create();
				EXPECT_EQ(f.add(buf, u, width, false), ok) << f.want;
				EXPECT_EQ(take(buf), ok ? f.want : "");
				EXPECT_EQ(f.add(nullptr, u, width, false), ok) << f.want;
			}
		}
	}
	M_buf_t *buf = M_buf_create();
	M_buf_add_bytehex(buf, 0x0F, M_TRUE);
	M_buf_add_bytehex(buf, 0xA0, M_FALSE);
	M_buf_add_ptr(buf, nullptr);
	int local = 0;
	M_buf_add_ptr(buf, &local);
	std::snprintf(expect, sizeof(expect), "0Fa00x00x%" PRIxPTR, reinterpret_cast<uintptr_t>(&local));
	EXPECT_EQ(take(buf), expect);
}

TEST(m_buf, binary_and_bcd_appends)
{
	/* Binary: width 1 to 8 bytes, the value below 2^(8 * width), either
	 * byte order. BCD: the printf digits packed two a byte, zero bytes in
	 * front. Refused widths append nothing, also with a NULL buffer. */
	std::mt19937_64       rng(13);
	std::vector<uint64_t> values{
	    0, 1, 9, 99, 100, 255, 256, 0x0102, 0x00FFFFFFFFFFFFFFULL, 0x0100000000000000ULL, UINT64_MAX};
	for (int i = 0; i < 200; i++)
		values.push_back(rng() >> (rng() % 64));
	for (uint64_t v : values) {
		char digits[32];
		std::snprintf(digits, sizeof(digits), "%" PRIu64, v);
		const size_t ndigits = std::strlen(digits);
		for (size_t width = 0; width <= 11; width++) {
			SCOPED_TRACE(testing::Message() << v << " width " << width);
			for (bool little : {false, true}) {
				const bool  ok = width >= 1 && width <= 8 && (width == 8 || v < (1ULL << (8 * width)));
				std::string want;
				for (size_t i = 0; ok && i < width; i++)
					want += static_cast<char>(v >> (8 * (little ? i : width - 1 - i)));
				M_buf_t *buf = M_buf_create();
				EXPECT_EQ(M_buf_add_uintbin(buf, v, width, little), ok);
				EXPECT_EQ(take(buf), want);
				EXPECT_EQ(M_buf_add_uintbin(nullptr, v, width, little), ok);
			}
			const bool  ok     = width >= 1 && ndigits <= 2 * width;
			std::string padded = std::string(ok ? 2 * width - ndigits : 0, '0') + digits, want;
			for (size_t i = 0; ok && i < width; i++)
				want += static_cast<char>((padded[2 * i] - '0') << 4 | (padded[2 * i + 1] - '0'));
			M_buf_t *buf = M_buf_create();
			EXPECT_EQ(M_buf_add_uintbcd(buf, v, width), ok);
			EXPECT_EQ(take(buf), want);
			EXPECT_EQ(M_buf_add_uintbcd(nullptr, v, width), ok);
		}
	}
}

TEST(m_buf, number_text_parsed_then_encoded)
{
	/* The text is read as M_str_to_uint64_ex reads it: white space, a sign
	 * and a base prefix in front; the number ends at the first character that
	 * is not a digit and what follows is ignored. Only text without a digit
	 * or an overflowing value fails to parse. */
	const struct {
		const char   *str;
		unsigned char base;
		size_t        width;
		bool          little;
		bool          ok;
		std::string   out;
	} cases[] = {
	    {"258", 10, 2, false, true, std::string("\x01\x02", 2)},
	    {"0x0304", 16, 2, true, true, std::string("\x04\x03", 2)},
	    {" 11 ", 2, 1, false, true, "\x03"},
	    {"12x", 10, 2, false, true, std::string("\x00\x0C", 2)},
	    {"  +42xyz", 10, 1, false, true, "\x2A"},
	    {"0x1F", 0, 1, false, true, "\x1F"},
	    {"017", 0, 1, false, true, "\x0F"},
	    {"-1", 10, 8, false, true, std::string(8, '\xFF')},
	    {"-1", 10, 1, false, false, ""}, /* the largest value does not fit a byte */
	    {"99999999999999999999999", 10, 8, false, false, ""},
	    {"abc", 10, 2, false, false, ""},
	    {"-", 10, 2, false, false, ""},
	    {"0x", 16, 1, false, false, ""},
	    {"", 10, 2, false, false, ""},
	    {"5", 10, 0, false, false, ""},
	    {"5", 37, 1, false, false, ""},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_uintstrbin(buf, c.str, c.base, c.width, c.little), c.ok) << c.str;
		EXPECT_EQ(take(buf), c.out) << c.str;
		EXPECT_EQ(M_buf_add_uintstrbin(nullptr, c.str, c.base, c.width, c.little), c.ok) << c.str;
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_uintstrbcd(buf, "1234", 10, 2));
	EXPECT_FALSE(M_buf_add_uintstrbcd(buf, "123456", 10, 2));
	EXPECT_FALSE(M_buf_add_uintstrbcd(buf, "abc", 10, 2));
	EXPECT_TRUE(M_buf_add_uintstrbcd(buf, " 56 apples", 10, 1));
	EXPECT_TRUE(M_buf_add_uintstrbcd(buf, "0x63", 0, 1)); /* 99 */
	EXPECT_TRUE(M_buf_add_uintstrbcd(nullptr, "12", 10, 1));
	EXPECT_FALSE(M_buf_add_uintstrbcd(nullptr, "123", 10, 1));
	EXPECT_EQ(take(buf), "\x12\x34\x56\x99");
}

/* ---------------------------------------------------------------------------
 * Replace, quote, merge, join
 * ------------------------------------------------------------------------- */

TEST(m_buf, replace_quote_merge_join)
{
	const struct {
		const char *in, *search, *repl;
		bool        ok;
		const char *out;
	} replaces[] = {{"a,b,,c", ",", ";;", true, "a;;b;;;;c"}, {"aaaa", "aa", "b", true, "bb"},
	                {"abcabc", "bc", nullptr, true, "aa"},    {"abc", "", "y", false, ""},
	                {"abc", nullptr, "y", false, ""},         {nullptr, "a", "b", true, ""}};
	for (const auto &c : replaces) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_replace(buf, c.in, c.search, c.repl), c.ok) << (c.in ? c.in : "NULL");
		EXPECT_EQ(take(buf), c.out) << (c.in ? c.in : "NULL");
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_replace(buf, "a\0b", 3, "\0", 1, "\\0", 2));
	EXPECT_EQ(take(buf), "a\\0b");

	/* A 0 quote character: text that needs no quotes still goes out
	 * unchanged; text that needs them is refused. */
	const struct {
		char        quote, escape;
		const char *chars;
		uint32_t    flags;
		const char *in;
		bool        ok;
		const char *out;
	} quotes[] = {
	    {'"', '\\', ",", 0, "plain", true, "plain"},
	    {'"', '\\', ",", 0, "a,b", true, "\"a,b\""},
	    {'"', '\\', ",", 0, "say \"hi\"", true, "\"say \\\"hi\\\"\""},
	    {'"', '\\', nullptr, 0, "back\\slash", true, "\"back\\\\slash\""},
	    {'"', '"', ",", 0, "a\"b", true, "\"a\"\"b\""},
	    {'"', '\0', ",", 0, "a\"b", true, "\"a\"\"b\""},
	    {'\'', '\\', nullptr, M_BUF_QUOTE_FLAG_ALWAYS, "x", true, "'x'"},
	    {'\'', '\\', nullptr, M_BUF_QUOTE_FLAG_EMPTY, "", true, "''"},
	    {'\'', '\\', nullptr, 0, nullptr, true, ""},
	    {'\0', '\\', nullptr, 0, "x", true, "x"},
	    {'\0', '\\', ",", 0, "a,b", false, ""},
	    {'\0', '\\', nullptr, M_BUF_QUOTE_FLAG_ALWAYS, "x", false, ""},
	};
	for (const auto &c : quotes) {
		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_quoted(buf, c.quote, c.escape, c.chars, c.flags, c.in), c.ok);
		EXPECT_EQ(take(buf), c.out) << (c.in ? c.in : "NULL");
		EXPECT_EQ(M_buf_add_str_quoted(nullptr, c.quote, c.escape, c.chars, c.flags, c.in), c.ok);
	}

	M_buf_t *dest = holding("ab");
	M_buf_merge(dest, holding("cd")); /* the source is destroyed (ASan would report a leak) */
	M_buf_merge(dest, nullptr);
	M_buf_merge(dest, dest);
	EXPECT_EQ(content(dest), "abcd");
	M_buf_merge(nullptr, M_buf_create());
	M_buf_truncate(dest, 0);
	M_buf_t *parts[4] = {holding("x"), nullptr, M_buf_create(), holding("z")};
	M_buf_bjoin_buf(dest, ',', parts, 4);
	M_buf_t *parts2[2] = {holding("1"), holding("2")};
	M_buf_sjoin_buf(dest, " | ", parts2, 2);
	const char *strs[] = {"a", nullptr, "", "d"};
	M_buf_bjoin_str(dest, ';', strs, 4);
	M_buf_add_char(dest, '/');
	M_buf_sjoin_str(dest, "--", strs, 4);
	M_buf_bjoin_str(dest, ';', strs, 0);
	EXPECT_EQ(take(dest), "x,,,z1 | 2a;;;d/a------d");
	M_buf_t *parts3[1] = {M_buf_create()};
	M_buf_bjoin_buf(nullptr, ',', parts3, 1); /* still destroyed */
}

TEST(m_buf, appends_reading_the_buffers_own_storage)
{
	/* Each input is the buffer's own content (or storage around it), read as
	 * it was on entry although the append grows or compacts the storage. */
	using Op = void (*)(M_buf_t *);
	std::string alpha;
	for (int i = 0; i < 1000; i++)
		alpha += static_cast<char>('A' + i % 26);
	const std::string csv = rep("a,", 400), raw_q = rep("a,\"", 200);
	const struct {
		std::string init;
		size_t      drop;
		Op          op;
		std::string want;
	} cases[] = {
	    {std::string(1000, 'q'), 0, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 1000); },
	     std::string(2000, 'q')},
	    /* 30 bytes at offset 970 appended to themselves need 60, not below the
	     * 54 free behind the offset: compaction. */
	    {alpha, 970, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 30); }, rep(alpha.substr(970), 2)},
	    /* A range that takes in the terminator, with and without growth. */
	    {std::string(1000, 'k'), 0, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 1001); },
	     std::string(2000, 'k') + std::string(1, '\0')},
	    {"abcde", 0, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 6); }, std::string("abcdeabcde\0", 11)},
	    {alpha.substr(0, 100), 0, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 101); },
	     rep(alpha.substr(0, 100), 2) + std::string(1, '\0')},
	    /* From the dropped (wiped) front into the content, compacting first. */
	    {"0123456789abcdefghij" + std::string(980, '.'), 10,
	     [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b) - 4, 30); },
	     "abcdefghij" + std::string(980, '.') + std::string(4, '\xFF') + "abcdefghij" + std::string(16, '.')},
	    {std::string(600, 'z'), 0, [](M_buf_t *b) { M_buf_add_str_hex(b, M_buf_peek(b)); },
	     std::string(600, 'z') + rep("7A", 600)},
	    {rep("41", 900), 0, [](M_buf_t *b) { EXPECT_TRUE(M_buf_add_bytes_hex(b, M_buf_peek(b))); },
	     rep("41", 900) + std::string(900, 'A')},
	    {csv, 0, [](M_buf_t *b) { EXPECT_TRUE(M_buf_add_str_replace(b, M_buf_peek(b), ",", ";;")); },
	     csv + rep("a;;", 400)},
	    /* Search and replacement taken from the content as well. */
	    {",;" + csv, 0,
	     [](M_buf_t *b) {
		     const char *p = M_buf_peek(b);
		     EXPECT_TRUE(M_buf_add_bytes_replace(b, p + 2, 800, p, 1, p + 1, 1));
	     },
	     ",;" + csv + rep("a;", 400)},
	    {raw_q, 0, [](M_buf_t *b) { EXPECT_TRUE(M_buf_add_str_quoted(b, '"', '\\', ",", 0, M_buf_peek(b))); },
	     raw_q + "\"" + rep("a,\\\"", 200) + "\""},
	    {std::string(600, 'z'), 0,
	     [](M_buf_t *b) {
		     const char *strs[] = {M_buf_peek(b), M_buf_peek(b) + 590};
		     M_buf_sjoin_str(b, M_buf_peek(b) + 595, strs, 2);
	     },
	     std::string(1215, 'z')},
	    {"<EOL>", 0,
	     [](M_buf_t *b) {
		     EXPECT_EQ(M_buf_add_str_lines(b, rep("ab\n", 300).c_str(), 1000, 10, M_FALSE, M_buf_peek(b)), 300u);
	     },
	     "<EOL>" + rep("ab<EOL>", 300)},
	    {"|", 0,
	     [](M_buf_t *b) {
		     M_buf_t *parts[3] = {holding(std::string(700, 'p')), holding(std::string(700, 'p')),
		                          holding(std::string(700, 'p'))};
		     M_buf_sjoin_buf(b, M_buf_peek(b), parts, 3);
	     },
	     rep("|" + std::string(700, 'p'), 3)},
	    {"AB..", 0, [](M_buf_t *b) { M_buf_add_bytes_just(b, M_STR_JUSTIFY_RIGHT, '#', M_buf_peek(b), 2, 3); },
	     "AB..#AB"},
	};
	for (size_t i = 0; i < std::size(cases); i++) {
		M_buf_t *buf = holding(cases[i].init, cases[i].drop);
		cases[i].op(buf);
		/* Grown only as far as the content needs: compaction came first. */
		EXPECT_EQ(M_buf_alloc_size(buf), std::bit_ceil(std::max<size_t>(1024, cases[i].want.size()))) << "row " << i;
		EXPECT_EQ(take(buf), cases[i].want) << "row " << i;
	}
}

/* ---------------------------------------------------------------------------
 * Money and decimals
 * ------------------------------------------------------------------------- */

TEST(m_buf, money_from_text)
{
	/* Boundary rows; the property below covers ordinary amounts. */
	const struct {
		const char *amount;
		bool        ok;
		const char *plain, *dot;
	} cases[] = {
	    {"12.5", true, "1250", "12.50"},
	    {"-.05", true, "-5", "-0.05"},
	    {"-1.05", true, "-105", "-1.05"},
	    {"  3.1  ", true, "310", "3.10"},
	    {"12.345", true, "1235", "12.35"},    /* rounded half up */
	    {"-12.345", true, "-1235", "-12.35"}, /* the magnitude the same way */
	    {"12.344", true, "1234", "12.34"},
	    {"0.005", true, "1", "0.01"},
	    {"12.3456789", true, "1235", "12.35"}, /* the third decimal decides, then ends */
	    {"-0", true, "0", "0.00"},
	    /* Grouping commas are skipped; the number ends at a second "." or
	     * any other character. */
	    {"-1,000,000", true, "-100000000", "-1000000.00"},
	    {"1.2.3", true, "120", "1.20"},
	    {"92233720368547758.074", true, "9223372036854775807", "92233720368547758.07"},
	    {"-92233720368547758.08", true, "-9223372036854775808", "-92233720368547758.08"},
	    /* Refused rather than saturated or read as 0. */
	    {"92233720368547758.08", false, "", ""},
	    {"92233720368547758.075", false, "", ""}, /* rounding takes it over */
	    {"-92233720368547758.09", false, "", ""},
	    {"99999999999999999999", false, "", ""},
	    {"abc", false, "", ""},
	    {"-", false, "", ""},
	    {".", false, "", ""},
	    {",", false, "", ""},
	    {nullptr, false, "", ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.amount ? c.amount : "NULL");
		M_buf_t *buf = holding("[");
		EXPECT_EQ(M_buf_add_money(buf, c.amount), c.ok);
		EXPECT_EQ(take(buf), std::string("[") + c.plain);
		buf = holding("[");
		EXPECT_EQ(M_buf_add_money_dot(buf, c.amount), c.ok);
		EXPECT_EQ(take(buf), std::string("[") + c.dot);
		EXPECT_EQ(M_buf_add_money(nullptr, c.amount), c.ok); /* a NULL buffer still checks */
	}

	/* Random short texts of amount characters: an accepted text appends
	 * exactly M_atofi_prec's hundredths; a refused one is one M_atofi_prec
	 * can only read as 0 (no digit). Short texts cannot overflow. */
	const char      alphabet[] = "0123456789,.-+ x5";
	std::mt19937_64 rng(7);
	int             accepted = 0;
	for (int i = 0; i < 20000; i++) {
		std::string text;
		for (int k = static_cast<int>(rng() % 11); k > 0; k--)
			text.push_back(alphabet[rng() % (sizeof(alphabet) - 1)]);
		M_buf_t          *buf = M_buf_create();
		const bool        ok  = M_buf_add_money(buf, text.c_str());
		const std::string got = take(buf);
		const int64_t     v   = M_atofi_prec(text.c_str(), 2);
		accepted += ok;
		ASSERT_EQ(got, ok ? std::to_string(v) : "") << "[" << text << "]";
		ASSERT_TRUE(ok || v == 0) << "[" << text << "]";
	}
	EXPECT_GT(accepted, 2000);
}

TEST(m_buf, money_justified)
{
	/* Text and integer amounts, plain and dotted, zero-padded after the sign
	 * to exactly width characters; nullptr: refused (nothing appended). */
	const struct {
		const char *amount;
		size_t      width;
		const char *plain, *dot;
	} texts[] = {
	    {"1.5", 6, "000150", "001.50"},   {"-0.05", 4, "-005", nullptr},  {"-0.05", 5, "-0005", "-0.05"},
	    {"-0.05", 6, "-00005", "-00.05"}, {"12.5", 4, "1250", nullptr},   {"12.5", 3, nullptr, nullptr},
	    {"12.5", 0, nullptr, nullptr},    {"-12.5", 5, "-1250", nullptr}, {"x", 10, nullptr, nullptr},
	};
	for (const auto &c : texts) {
		SCOPED_TRACE(std::string(c.amount) + " width " + std::to_string(c.width));
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_money_just(buf, c.amount, c.width), c.plain != nullptr);
		EXPECT_EQ(take(buf), c.plain ? c.plain : "");
		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_money_dot_just(buf, c.amount, c.width), c.dot != nullptr);
		EXPECT_EQ(take(buf), c.dot ? c.dot : "");
		EXPECT_EQ(M_buf_add_money_dot_just(nullptr, c.amount, c.width), c.dot != nullptr);
	}
	const struct {
		int64_t     amount;
		const char *plain, *dot;
		size_t      width;
		const char *plain_just, *dot_just;
	} ints[] = {
	    {1205, "1205", "12.05", 7, "0001205", "0012.05"},
	    {-5, "-5", "-0.05", 6, "-00005", "-00.05"},
	    {0, "0", "0.00", 4, "0000", "0.00"},
	    {99, "99", "0.99", 3, "099", nullptr},
	    {-105, "-105", "-1.05", 7, "-000105", "-001.05"}, /* not "-1.-5" */
	    {INT64_MAX, "9223372036854775807", "92233720368547758.07", 20, "09223372036854775807", "92233720368547758.07"},
	    {INT64_MIN, "-9223372036854775808", "-92233720368547758.08", 20, "-9223372036854775808", nullptr},
	    {12345, "12345", "123.45", 0, nullptr, nullptr},
	};
	for (const auto &c : ints) {
		SCOPED_TRACE(c.amount);
		M_buf_t *buf = M_buf_create();
		EXPECT_TRUE(M_buf_add_int_money(buf, c.amount));
		EXPECT_TRUE(M_buf_add_int_money_dot(buf, c.amount));
		EXPECT_EQ(take(buf), std::string(c.plain) + c.dot);
		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_int_money_just(buf, c.amount, c.width), c.plain_just != nullptr);
		EXPECT_EQ(M_buf_add_int_money_dot_just(buf, c.amount, c.width), c.dot_just != nullptr);
		EXPECT_EQ(take(buf), std::string(c.plain_just ? c.plain_just : "") + (c.dot_just ? c.dot_just : ""));
		EXPECT_EQ(M_buf_add_int_money_just(nullptr, c.amount, c.width), c.plain_just != nullptr);
	}

	/* The dotted text reads back as the same number of hundredths, and the
	 * justified form is the plain form padded after its sign. */
	std::mt19937_64 rng(42);
	for (int i = 0; i < 5000; i++) {
		const int64_t v   = static_cast<int64_t>(rng()) % (i % 3 == 0 ? 100000 : INT64_MAX);
		M_buf_t      *buf = M_buf_create();
		ASSERT_TRUE(M_buf_add_int_money_dot(buf, v));
		const std::string text = take(buf);
		buf                    = M_buf_create();
		ASSERT_TRUE(M_buf_add_money(buf, text.c_str())) << text;
		ASSERT_EQ(take(buf), std::to_string(v)) << text;
		const size_t width = text.size() + static_cast<size_t>(rng() % 4), sign = v < 0, pad = width - text.size();
		buf = M_buf_create();
		ASSERT_TRUE(M_buf_add_int_money_dot_just(buf, v, width));
		const std::string just = take(buf);
		ASSERT_EQ(just, text.substr(0, sign) + std::string(pad, '0') + text.substr(sign));
	}
}

TEST(m_buf, decimal)
{
	const struct {
		int64_t     num;
		uint8_t     places;
		uint8_t     to; /* 255: keep */
		size_t      width;
		const char *text, *just; /* nullptr: refused */
	} cases[] = {
	    {15, 1, 2, 7, "1.50", "0001.50"},
	    {-15, 1, 2, 7, "-1.50", "-001.50"},
	    {15, 1, 255, 0, "1.5", nullptr},
	    {125, 2, 1, 4, "1.3", "01.3"},
	    {-125, 2, 1, 3, "-1.3", nullptr},  /* not "-1.2" */
	    {-5, 2, 255, 5, "-0.05", "-0.05"}, /* not "-.05" */
	    {-5, 2, 0, 1, "0", "0"},
	    {-50, 2, 0, 2, "-1", "-1"},
	    {150, 2, 255, 4, "1.50", "1.50"},        /* kept as it is, not reduced */
	    {INT64_MAX, 0, 1, 40, nullptr, nullptr}, /* rescaling overflows */
	    {-1, 255, 255, 258, nullptr, nullptr},   /* the longest text, checked below */
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.num) + " places " + std::to_string(c.places) + " to " + std::to_string(c.to));
		M_decimal_t d{c.num, c.places};
		M_buf_t    *buf = holding("x");
		EXPECT_EQ(M_buf_add_decimal(buf, &d, c.to), c.text != nullptr || c.places == 255);
		EXPECT_EQ(M_buf_add_decimal_just(buf, &d, c.to, c.width), c.just != nullptr || c.places == 255);
		const std::string got = take(buf);
		EXPECT_EQ(d.num, c.num); /* the argument is not changed */
		EXPECT_EQ(d.num_dec, c.places);
		EXPECT_EQ(M_buf_add_decimal_just(nullptr, &d, c.to, c.width), c.just != nullptr || c.places == 255);
		if (c.places != 255)
			EXPECT_EQ(got, std::string("x") + (c.text ? c.text : "") + (c.just ? c.just : ""));
		else
			EXPECT_EQ(got, "x-0." + std::string(254, '0') + "1" + "-0." + std::string(254, '0') + "1");
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_FALSE(M_buf_add_decimal_just(buf, nullptr, 255, 10));
	EXPECT_EQ(M_buf_len(buf), 0u);
	M_buf_cancel(buf);
}
