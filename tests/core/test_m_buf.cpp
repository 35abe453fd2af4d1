#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/m_buf.h"
#include "core/m_mem.h"

namespace {

/* The content as a std::string (embedded zero bytes kept). */
std::string content(const M_buf_t *buf)
{
	const char *p = M_buf_peek(buf);
	return p == nullptr ? std::string() : std::string(p, M_buf_len(buf));
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

} // namespace

/* ---------------------------------------------------------------------------
 * Lifetime and growth
 * ------------------------------------------------------------------------- */

TEST(m_buf, new_buffer_is_empty_and_finishes_to_null)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_EQ(M_buf_len(buf), 0u);
	EXPECT_EQ(M_buf_peek(buf), nullptr);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	size_t len = 99;
	EXPECT_EQ(M_buf_finish_str(buf, &len), nullptr);
	EXPECT_EQ(len, 0u);

	buf = M_buf_create();
	EXPECT_EQ(M_buf_finish(buf, nullptr), nullptr);
}

TEST(m_buf, truncated_to_zero_finishes_to_empty_string)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_str(buf, "abc");
	M_buf_truncate(buf, 0);
	size_t len = 99;
	char  *s   = M_buf_finish_str(buf, &len);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "");
	EXPECT_EQ(len, 0u);
	M_free(s);
}

TEST(m_buf, capacity_after_appends)
{
	struct Case {
		std::vector<size_t> appends; /* lengths appended in order */
		size_t              capacity;
	};
	const Case cases[] = {
	    {{1}, 1024},
	    {{1024}, 1024},
	    {{1000, 24}, 1024},
	    {{1024, 1}, 2048},
	    {{1025}, 2048},
	    {{3000}, 4096},
	    {{2048}, 2048},
	    {{2049}, 4096},
	    {{1000, 25}, 2048},
	    {{2048, 2048}, 4096},
	    {{4096, 1}, 8192},
	    {{1, 1, 1}, 1024},
	    {{1000, 1000, 3000}, 8192},
	};
	for (const Case &c : cases) {
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
}

TEST(m_buf, appending_exactly_to_capacity_does_not_move_storage)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_fill(buf, 'a', 1000);
	const char *before = M_buf_peek(buf);
	M_buf_add_fill(buf, 'b', 24);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(M_buf_peek(buf), before);
	EXPECT_EQ(M_buf_peek(buf)[1024], '\0'); /* the extra terminator byte */
	M_buf_add_byte(buf, 'c');
	EXPECT_EQ(M_buf_alloc_size(buf), 2048u);
	EXPECT_EQ(M_buf_len(buf), 1025u);
	EXPECT_EQ(content(buf), std::string(1000, 'a') + std::string(24, 'b') + "c");
	M_buf_cancel(buf);
}

TEST(m_buf, drop_compacts_only_when_space_runs_short)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_fill(buf, 'a', 900);
	M_buf_add_fill(buf, 'b', 100);
	const char *base = M_buf_peek(buf);
	M_buf_drop(buf, 900);
	EXPECT_EQ(M_buf_peek(buf), base + 900);

	/* 100 + 23 stays strictly below the 124 free bytes behind the offset. */
	M_buf_add_fill(buf, 'c', 23);
	EXPECT_EQ(M_buf_peek(buf), base + 900);

	/* 123 + 1 is not below 124: the content moves to the start, no growth. */
	M_buf_add_byte(buf, 'd');
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(M_buf_peek(buf), base);
	EXPECT_EQ(content(buf), std::string(100, 'b') + std::string(23, 'c') + "d");
	/* Terminator after the content, and the copies left behind are wiped. */
	const unsigned char *raw = reinterpret_cast<const unsigned char *>(base);
	EXPECT_EQ(raw[124], 0);
	for (size_t i = 125; i < 1024; i++)
		ASSERT_EQ(raw[i], 0xFF) << i;
	M_buf_cancel(buf);
}

TEST(m_buf, drop_then_finish_moves_content_to_start)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_str(buf, "0123456789ABCDEFGHIJ");
	const char *before = M_buf_peek(buf);
	M_buf_drop(buf, 10);
	EXPECT_EQ(M_buf_peek(buf), before + 10);
	EXPECT_EQ(M_buf_len(buf), 10u);
	size_t         len  = 0;
	unsigned char *data = M_buf_finish(buf, &len);
	ASSERT_NE(data, nullptr);
	EXPECT_EQ(len, 10u);
	EXPECT_EQ(data[0], 'A');
	EXPECT_EQ(data[10], 0);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(data)), "ABCDEFGHIJ");
	M_free(data);
}

TEST(m_buf, dropped_and_truncated_bytes_are_wiped)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_str(buf, "secret-key-material!");
	const unsigned char *raw = reinterpret_cast<const unsigned char *>(M_buf_peek(buf));

	M_buf_drop(buf, 7);
	for (size_t i = 0; i < 7; i++)
		EXPECT_EQ(raw[i], 0xFF) << i;
	EXPECT_EQ(content(buf), "key-material!");

	M_buf_truncate(buf, 3);
	EXPECT_EQ(content(buf), "key");
	EXPECT_EQ(raw[7 + 3], 0);
	for (size_t i = 7 + 4; i < 20; i++)
		EXPECT_EQ(raw[i], 0xFF) << i;
	M_buf_cancel(buf);
}

TEST(m_buf, drop_and_truncate_limits)
{
	M_buf_t *buf = M_buf_create();
	M_buf_drop(buf, 5); /* no storage: nothing happens */
	M_buf_truncate(buf, 0);
	EXPECT_EQ(M_buf_peek(buf), nullptr);

	M_buf_add_str(buf, "abcdef");
	M_buf_truncate(buf, 6);
	M_buf_truncate(buf, 100);
	EXPECT_EQ(content(buf), "abcdef");
	M_buf_drop(buf, 100);
	EXPECT_EQ(M_buf_len(buf), 0u);
	EXPECT_EQ(*M_buf_peek(buf), '\0');
	M_buf_add_str(buf, "x");
	EXPECT_EQ(content(buf), "x");
	M_buf_cancel(buf);
}

TEST(m_buf, trim_removes_white_space_at_both_ends)
{
	const struct {
		const char *in;
		const char *out;
	} cases[] = {
	    {" \t ab c \r\n", "ab c"},
	    {"abc", "abc"},
	    {"   ", ""},
	    {"\va\f", "a"},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		M_buf_add_str(buf, c.in);
		M_buf_trim(buf);
		EXPECT_EQ(content(buf), c.out) << c.in;
		EXPECT_EQ(M_buf_peek(buf)[M_buf_len(buf)], '\0');
		M_buf_cancel(buf);
	}
}

TEST(m_buf, capacity_overflow_writes_nothing)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_str(buf, "keep");
	/* Needs more than 2^63: doubling overflows, nothing is written and the
	 * bytes argument is never read. */
	M_buf_add_bytes(buf, "x", SIZE_MAX);
	M_buf_add_fill(buf, 'x', SIZE_MAX / 2 + 1);
	size_t len = SIZE_MAX - 2;
	EXPECT_EQ(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(content(buf), "keep");
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	M_buf_cancel(buf);

	buf = M_buf_create();
	M_buf_add_fill(buf, 'x', SIZE_MAX / 2 + 2); /* no storage yet; 2^63 + 1 */
	EXPECT_EQ(M_buf_peek(buf), nullptr);
	M_buf_cancel(buf);
}

TEST(m_buf, random_operations_match_a_model)
{
	/* Appends, drops, truncations and direct writes in random order against a
	 * plain string, checking the invariants after each step. */
	unsigned seed = 12345;
	auto     next = [&seed](unsigned mod) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % mod;
	};
	M_buf_t    *buf = M_buf_create();
	std::string model;
	for (int step = 0; step < 5000; step++) {
		switch (next(5)) {
			case 0:
			case 1: {
				const std::string piece(next(300), static_cast<char>('a' + next(26)));
				M_buf_add_bytes(buf, piece.data(), piece.size());
				model += piece;
				break;
			}
			case 2: {
				const size_t n = next(400);
				M_buf_drop(buf, n);
				model.erase(0, n);
				break;
			}
			case 3: {
				const size_t n = next(2000);
				M_buf_truncate(buf, n);
				if (n < model.size())
					model.resize(n);
				break;
			}
			default: {
				size_t         len = 1 + next(700);
				const size_t   ask = len;
				unsigned char *w   = M_buf_direct_write_start(buf, &len);
				ASSERT_NE(w, nullptr);
				ASSERT_GE(len, ask);
				const size_t used = next(static_cast<unsigned>(ask + 1));
				std::memset(w, '#', used);
				M_buf_direct_write_end(buf, used);
				model.append(used, '#');
				break;
			}
		}
		const size_t cap = M_buf_alloc_size(buf);
		ASSERT_GE(cap, 1024u);
		ASSERT_EQ(cap & (cap - 1), 0u);
		ASSERT_EQ(content(buf), model) << "step " << step;
		if (M_buf_peek(buf) != nullptr) {
			ASSERT_EQ(M_buf_peek(buf)[model.size()], '\0');
		}
	}
	EXPECT_EQ(finish(buf), model);
}

/* ---------------------------------------------------------------------------
 * Direct-write windows
 * ------------------------------------------------------------------------- */

TEST(m_buf, direct_write_window_sizes)
{
	M_buf_t       *buf = M_buf_create();
	size_t         len = 10;
	unsigned char *w   = M_buf_direct_write_start(buf, &len);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(len, 1024u);
	std::memcpy(w, "ABCDEFGHIJ", 10);
	M_buf_direct_write_end(buf, 7);
	EXPECT_EQ(M_buf_len(buf), 7u);
	EXPECT_EQ(M_buf_peek(buf)[7], '\0');
	EXPECT_EQ(content(buf), "ABCDEFG");

	/* Room behind existing content. */
	len = 1;
	w   = M_buf_direct_write_start(buf, &len);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(len, 1017u);
	EXPECT_EQ(w, reinterpret_cast<const unsigned char *>(M_buf_peek(buf)) + 7);

	/* Asking for the whole remaining room is not "strictly below": with no
	 * offset it still fits without growth. */
	len = 1017;
	w   = M_buf_direct_write_start(buf, &len);
	EXPECT_EQ(len, 1017u);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);

	/* More than the room: the buffer grows by doubling. */
	len = 1018;
	w   = M_buf_direct_write_start(buf, &len);
	ASSERT_NE(w, nullptr);
	EXPECT_EQ(M_buf_alloc_size(buf), 2048u);
	EXPECT_EQ(len, 2048u - 7u);
	EXPECT_EQ(content(buf), "ABCDEFG");
	M_buf_cancel(buf);
}

TEST(m_buf, direct_write_after_drop_compacts_when_short)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_fill(buf, 'z', 1000);
	M_buf_drop(buf, 990);
	size_t len = 20; /* 10 + 20 < 34 free behind the offset */
	ASSERT_NE(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(len, 24u);
	len = 24; /* 10 + 24 is not below 34: compaction */
	ASSERT_NE(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(len, 1014u);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(content(buf), std::string(10, 'z'));
	M_buf_cancel(buf);
}

TEST(m_buf, direct_write_refusals)
{
	M_buf_t *buf = M_buf_create();
	size_t   len = 0;
	EXPECT_EQ(M_buf_direct_write_start(buf, &len), nullptr);
	EXPECT_EQ(M_buf_direct_write_start(buf, nullptr), nullptr);
	len = 5;
	EXPECT_EQ(M_buf_direct_write_start(nullptr, &len), nullptr);
	EXPECT_EQ(len, 5u);
	M_buf_direct_write_end(buf, 5); /* no storage: ignored */
	EXPECT_EQ(M_buf_len(buf), 0u);

	len = 5;
	ASSERT_NE(M_buf_direct_write_start(buf, &len), nullptr);
	M_buf_direct_write_end(buf, 0);
	EXPECT_EQ(M_buf_len(buf), 0u);
	M_buf_direct_write_end(buf, 1025); /* beyond the window: refused */
	EXPECT_EQ(M_buf_len(buf), 0u);
	M_buf_direct_write_end(nullptr, 3);
	M_buf_cancel(buf);
}

/* ---------------------------------------------------------------------------
 * Byte and string appends
 * ------------------------------------------------------------------------- */

TEST(m_buf, add_bytes_keeps_zero_bytes_and_ignores_empty_input)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_bytes(buf, "a\0b", 3);
	M_buf_add_bytes(buf, nullptr, 5);
	M_buf_add_bytes(buf, "zz", 0);
	M_buf_add_str(buf, nullptr);
	M_buf_add_str(buf, "");
	EXPECT_EQ(content(buf), std::string("a\0b", 3));
	M_buf_add_byte(buf, 0xFE);
	M_buf_add_char(buf, 'c');
	M_buf_add_fill(buf, '-', 3);
	M_buf_add_fill(buf, '-', 0);
	EXPECT_EQ(content(buf), std::string("a\0b\xFE"
	                                    "c---",
	                                    8));
	M_buf_cancel(buf);
}

TEST(m_buf, add_bytes_copies_every_length_exactly)
{
	/* Distinct bytes for each length, so a misplaced block shows. */
	unsigned char src[200];
	for (size_t i = 0; i < sizeof(src); i++)
		src[i] = static_cast<unsigned char>(i * 7 + 1);
	M_buf_t    *buf = M_buf_create();
	std::string model;
	for (size_t len = 1; len <= 130; len++) {
		M_buf_add_bytes(buf, src + len % 5, len);
		model.append(reinterpret_cast<const char *>(src + len % 5), len);
		ASSERT_EQ(content(buf), model) << len;
		ASSERT_EQ(M_buf_peek(buf)[model.size()], '\0');
	}
	M_buf_cancel(buf);
}

TEST(m_buf, add_from_own_content_survives_growth)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_fill(buf, 'q', 1000);
	M_buf_add_bytes(buf, M_buf_peek(buf), 1000); /* forces growth to 2048 */
	EXPECT_EQ(M_buf_alloc_size(buf), 2048u);
	EXPECT_EQ(content(buf), std::string(2000, 'q'));

	M_buf_cancel(buf);

	/* And through compaction: 30 bytes at offset 970 appended to themselves
	 * need 60, not below the 54 free behind the offset. */
	buf = M_buf_create();
	std::string pattern;
	for (int i = 0; i < 1000; i++)
		pattern += static_cast<char>('A' + i % 26);
	M_buf_add_str(buf, pattern.c_str());
	M_buf_drop(buf, 970);
	const char *before = M_buf_peek(buf);
	M_buf_add_bytes(buf, M_buf_peek(buf), 30);
	EXPECT_EQ(M_buf_peek(buf), before - 970);
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(content(buf), pattern.substr(970) + pattern.substr(970));
	M_buf_cancel(buf);
}

TEST(m_buf, add_bytes_from_own_storage_beyond_the_content)
{
	/* A range that starts in the content and takes in the terminator is
	 * appended as it read on entry, also when the append has to grow. */
	M_buf_t          *buf = M_buf_create();
	const std::string text(1000, 'k');
	M_buf_add_str(buf, text.c_str());
	M_buf_add_bytes(buf, M_buf_peek(buf), 1001);
	EXPECT_EQ(M_buf_len(buf), 2001u);
	EXPECT_EQ(content(buf), text + text + std::string(1, '\0'));

	/* The same without growth: source and destination overlap in the
	 * terminator byte. */
	M_buf_cancel(buf);
	for (size_t n : {size_t{5}, size_t{40}, size_t{100}}) {
		buf = M_buf_create();
		std::string small;
		for (size_t i = 0; i < n; i++)
			small += static_cast<char>('a' + i % 26);
		M_buf_add_str(buf, small.c_str());
		M_buf_add_bytes(buf, M_buf_peek(buf), n + 1);
		EXPECT_EQ(content(buf), small + small + std::string(1, '\0')) << n;
		M_buf_cancel(buf);
	}

	/* A range that starts in the dropped (wiped) front and runs into the
	 * content, where the append compacts the buffer first. */
	buf = M_buf_create();
	M_buf_add_str(buf, "0123456789abcdefghij");
	M_buf_add_fill(buf, '.', 980);
	M_buf_drop(buf, 10);
	M_buf_add_bytes(buf, M_buf_peek(buf) - 4, 30); /* 990 + 30 is not below 1014 */
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	const std::string expect = std::string("abcdefghij") + std::string(980, '.') + std::string(4, '\xFF') +
	                           "abcdefghij" + std::string(16, '.');
	EXPECT_EQ(content(buf), expect);
	M_buf_cancel(buf);
}

TEST(m_buf, appends_that_read_the_buffers_own_content_while_growing)
{
	/* Each input below is the buffer's own content (or part of it), and each
	 * append grows the storage while it still reads that input. */
	std::string s(600, 'z');
	M_buf_t    *buf = M_buf_create();
	M_buf_add_str(buf, s.c_str());
	M_buf_add_str_hex(buf, M_buf_peek(buf));
	std::string hex;
	for (size_t i = 0; i < 600; i++)
		hex += "7A";
	EXPECT_EQ(content(buf), s + hex);
	M_buf_cancel(buf);

	std::string digits;
	for (size_t i = 0; i < 900; i++)
		digits += "41";
	buf = M_buf_create();
	M_buf_add_str(buf, digits.c_str());
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, M_buf_peek(buf)));
	EXPECT_EQ(content(buf), digits + std::string(900, 'A'));
	M_buf_cancel(buf);

	std::string csv, replaced;
	for (size_t i = 0; i < 400; i++) {
		csv += "a,";
		replaced += "a;;";
	}
	buf = M_buf_create();
	M_buf_add_str(buf, csv.c_str());
	EXPECT_TRUE(M_buf_add_str_replace(buf, M_buf_peek(buf), ",", ";;"));
	EXPECT_EQ(content(buf), csv + replaced);
	M_buf_cancel(buf);

	/* Search and replacement taken from the content as well. */
	buf = M_buf_create();
	M_buf_add_str(buf, ",;");
	M_buf_add_str(buf, csv.c_str());
	const char *p = M_buf_peek(buf);
	EXPECT_TRUE(M_buf_add_bytes_replace(buf, p + 2, csv.size(), p, 1, p + 1, 1));
	std::string semis = csv;
	for (char &ch : semis)
		ch = ch == ',' ? ';' : ch;
	EXPECT_EQ(content(buf), ",;" + csv + semis);
	M_buf_cancel(buf);

	std::string quoted = "\"";
	std::string raw;
	for (size_t i = 0; i < 200; i++) {
		raw += "a,\"";
		quoted += "a,\\\"";
	}
	quoted += "\"";
	buf = M_buf_create();
	M_buf_add_str(buf, raw.c_str());
	EXPECT_TRUE(M_buf_add_str_quoted(buf, '"', '\\', ",", 0, M_buf_peek(buf)));
	EXPECT_EQ(content(buf), raw + quoted);
	M_buf_cancel(buf);

	buf = M_buf_create();
	M_buf_add_str(buf, s.c_str());
	const char *strs[] = {M_buf_peek(buf), M_buf_peek(buf) + 590};
	M_buf_sjoin_str(buf, M_buf_peek(buf) + 595, strs, 2);
	EXPECT_EQ(content(buf), s + s + std::string(5, 'z') + std::string(10, 'z'));
	M_buf_cancel(buf);

	buf = M_buf_create();
	M_buf_add_str(buf, "<EOL>");
	std::string lines, expect_lines;
	for (size_t i = 0; i < 300; i++) {
		lines += "ab\n";
		expect_lines += "ab<EOL>";
	}
	EXPECT_EQ(M_buf_add_str_lines(buf, lines.c_str(), 1000, 10, M_FALSE, M_buf_peek(buf)), 300u);
	EXPECT_EQ(content(buf), "<EOL>" + expect_lines);
	M_buf_cancel(buf);

	/* A separator inside the destination while joining buffers. */
	buf = M_buf_create();
	M_buf_add_str(buf, "|");
	M_buf_t *parts[3] = {M_buf_create(), M_buf_create(), M_buf_create()};
	for (M_buf_t *part : parts)
		M_buf_add_fill(part, 'p', 700);
	M_buf_sjoin_buf(buf, M_buf_peek(buf), parts, 3);
	const std::string pp(700, 'p');
	EXPECT_EQ(content(buf), "|" + pp + "|" + pp + "|" + pp);
	M_buf_cancel(buf);
}

TEST(m_buf, str_transform)
{
	const struct {
		uint32_t    flags;
		const char *in;
		const char *out;
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
		M_buf_t *buf = M_buf_create();
		M_buf_add_str(buf, "<");
		M_buf_add_str_transform(buf, c.flags, c.in);
		M_buf_add_str(buf, ">");
		EXPECT_EQ(content(buf), std::string("<") + c.out + ">") << c.in << " flags " << c.flags;
		M_buf_cancel(buf);
	}

	M_buf_t *buf = M_buf_create();
	M_buf_add_str_upper(buf, "abc");
	M_buf_add_str_lower(buf, "DEF");
	M_buf_add_str_transform(buf, M_BUF_TRANSFORM_UPPER, nullptr);
	EXPECT_EQ(content(buf), "ABCdef");
	M_buf_cancel(buf);
}

TEST(m_buf, transform_callbacks)
{
	char s1[] = "  ab\t";
	EXPECT_EQ(M_buf_transform_ltrim_cb(s1, 5), 3u);
	EXPECT_EQ(std::string(s1, 3), "ab\t");
	EXPECT_EQ(M_buf_transform_rtrim_cb(s1, 3), 2u);
	char s2[] = "aZ";
	EXPECT_EQ(M_buf_transform_upper_cb(s2, 2), 2u);
	EXPECT_STREQ(s2, "AZ");
	EXPECT_EQ(M_buf_transform_lower_cb(s2, 2), 2u);
	EXPECT_STREQ(s2, "az");
	EXPECT_EQ(M_buf_transform_upper_cb(nullptr, 4), 0u);
	EXPECT_EQ(M_buf_transform_lower_cb(nullptr, 4), 0u);
	EXPECT_EQ(M_buf_transform_ltrim_cb(nullptr, 4), 0u);
	EXPECT_EQ(M_buf_transform_rtrim_cb(nullptr, 4), 0u);
}

TEST(m_buf, add_bytes_hex)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, "0a1B"));
	EXPECT_EQ(content(buf), "\x0a\x1b");
	EXPECT_FALSE(M_buf_add_bytes_hex(buf, "abc"));
	EXPECT_FALSE(M_buf_add_bytes_hex(buf, "0a 1b")); /* 5 characters with the space */
	EXPECT_EQ(M_buf_len(buf), 2u);
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, "0a 1b "));
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, ""));
	EXPECT_TRUE(M_buf_add_bytes_hex(buf, nullptr));
	EXPECT_EQ(content(buf), "\x0a\x1b\x0a\x1b");
	EXPECT_EQ(M_buf_peek(buf)[4], '\0');
	EXPECT_FALSE(M_buf_add_bytes_hex(nullptr, "00"));
	EXPECT_FALSE(M_buf_add_bytes_hex(nullptr, ""));
	EXPECT_FALSE(M_buf_add_bytes_hex(nullptr, nullptr));
	M_buf_cancel(buf);
}

TEST(m_buf, add_str_hex)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_str_hex(buf, "\x01\xAB"
	                       "z");
	M_buf_add_str_hex(buf, nullptr);
	M_buf_add_str_hex(buf, "");
	EXPECT_EQ(content(buf), "01AB7A");
	M_buf_cancel(buf);
}

TEST(m_buf, add_str_lines)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_EQ(M_buf_add_str_lines(buf, "one\ntwo\nthree", 5, 10, M_FALSE, "\r\n"), 3u);
	EXPECT_EQ(content(buf), "one\r\ntwo\r\nthree\r\n");
	EXPECT_EQ(M_buf_add_str_lines(buf, nullptr, 5, 10, M_FALSE, "\n"), 0u);
	EXPECT_EQ(M_buf_add_str_lines(buf, "", 5, 10, M_FALSE, "\n"), 0u);
	M_buf_truncate(buf, 0);
	EXPECT_EQ(M_buf_add_str_lines(buf, "a\nb\nc", 2, 10, M_TRUE, nullptr), 2u);
	EXPECT_EQ(content(buf), "ab");
	EXPECT_EQ(M_buf_add_str_lines(nullptr, "a\nb", 5, 10, M_FALSE, "\n"), 2u);
	M_buf_cancel(buf);
}

/* ---------------------------------------------------------------------------
 * Justified appends
 * ------------------------------------------------------------------------- */

TEST(m_buf, add_str_just)
{
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
		EXPECT_EQ(content(buf), c.out) << c.type << " " << c.width;
		EXPECT_EQ(M_buf_add_str_just(nullptr, c.type, '*', c.in, c.width), c.ok);
		M_buf_cancel(buf);
	}
}

TEST(m_buf, add_bytes_just_and_transform)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_just(buf, M_STR_JUSTIFY_RIGHT, '0', "\x01\x02", 2, 4));
	EXPECT_EQ(content(buf), std::string("00\x01\x02", 4));
	M_buf_truncate(buf, 0);
	EXPECT_TRUE(M_buf_add_str_just_transform(buf, M_STR_JUSTIFY_LEFT, M_BUF_TRANSFORM_UPPER | M_BUF_TRANSFORM_LTRIM,
	                                         '.', "   ab", 4));
	EXPECT_EQ(content(buf), "AB..");
	EXPECT_FALSE(
	    M_buf_add_str_just_transform(buf, M_STR_JUSTIFY_LEFT_NOTRUNC, M_BUF_TRANSFORM_UPPER, '.', "abcdef", 4));
	EXPECT_EQ(content(buf), "AB..");
	/* Justifying the buffer's own content. */
	M_buf_add_bytes_just(buf, M_STR_JUSTIFY_RIGHT, '#', M_buf_peek(buf), 2, 3);
	EXPECT_EQ(content(buf), "AB..#AB");
	M_buf_cancel(buf);
}

/* ---------------------------------------------------------------------------
 * Numbers
 * ------------------------------------------------------------------------- */

TEST(m_buf, add_int_and_uint_match_printf)
{
	const int64_t  ivals[] = {0, 1, -1, 9, 10, -10, 123456789, INT64_MAX, INT64_MIN, -9000000000000000000LL};
	const uint64_t uvals[] = {0, 1, 10, 99, 100, UINT64_MAX, 18446744073709551610ULL};
	for (int64_t v : ivals) {
		char expect[64];
		std::snprintf(expect, sizeof(expect), "%" PRId64, v);
		M_buf_t *buf = M_buf_create();
		M_buf_add_int(buf, v);
		EXPECT_EQ(finish(buf), expect);
	}
	for (uint64_t v : uvals) {
		char expect[64];
		std::snprintf(expect, sizeof(expect), "%" PRIu64, v);
		M_buf_t *buf = M_buf_create();
		M_buf_add_uint(buf, v);
		EXPECT_EQ(finish(buf), expect);
	}
}

TEST(m_buf, add_int_just)
{
	const struct {
		int64_t     value;
		size_t      width;
		bool        ok;
		const char *out;
	} cases[] = {
	    {-5, 3, true, "-05"},       {42, 5, true, "00042"},  {123, 2, false, ""},
	    {123, 3, true, "123"},      {-123, 3, false, ""},    {-123, 4, true, "-123"},
	    {0, 1, true, "0"},          {0, 0, false, ""},       {INT64_MIN, 20, true, "-9223372036854775808"},
	    {INT64_MIN, 19, false, ""}, {-1, 6, true, "-00001"},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_int_just(buf, c.value, c.width), c.ok) << c.value << "/" << c.width;
		EXPECT_EQ(content(buf), c.out) << c.value << "/" << c.width;
		EXPECT_EQ(M_buf_add_int_just(nullptr, c.value, c.width), c.ok);
		M_buf_cancel(buf);
	}
}

TEST(m_buf, add_uint_just)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_uint_just(buf, 7, 3));
	EXPECT_FALSE(M_buf_add_uint_just(buf, 1000, 3));
	EXPECT_FALSE(M_buf_add_uint_just(buf, 1, 0));
	EXPECT_TRUE(M_buf_add_uint_just(buf, UINT64_MAX, 20));
	EXPECT_EQ(content(buf), "00718446744073709551615");
	M_buf_cancel(buf);
}

TEST(m_buf, add_hex_numbers_and_pointer)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_uinthex(buf, 0xABC, M_TRUE, 0));
	M_buf_add_char(buf, ' ');
	EXPECT_TRUE(M_buf_add_uinthex(buf, 0xabc, M_FALSE, 6));
	M_buf_add_char(buf, ' ');
	EXPECT_FALSE(M_buf_add_uinthex(buf, 0x12345, M_TRUE, 4));
	EXPECT_TRUE(M_buf_add_uinthex(buf, 0, M_TRUE, 0));
	M_buf_add_char(buf, ' ');
	M_buf_add_bytehex(buf, 0x0F, M_TRUE);
	M_buf_add_bytehex(buf, 0xA0, M_FALSE);
	EXPECT_EQ(content(buf), "ABC 000abc 0 0Fa0");
	EXPECT_TRUE(M_buf_add_uinthex(nullptr, 1, M_TRUE, 1));
	EXPECT_FALSE(M_buf_add_uinthex(nullptr, 0x100, M_TRUE, 2));

	M_buf_truncate(buf, 0);
	int  local = 0;
	char expect[64];
	std::snprintf(expect, sizeof(expect), "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(&local));
	M_buf_add_ptr(buf, &local);
	EXPECT_EQ(content(buf), expect);
	M_buf_truncate(buf, 0);
	M_buf_add_ptr(buf, nullptr);
	EXPECT_EQ(content(buf), "0x0");
	M_buf_cancel(buf);
}

TEST(m_buf, add_uintbin)
{
	const struct {
		uint64_t    value;
		size_t      width;
		bool        little;
		bool        ok;
		std::string out;
	} cases[] = {
	    {0x0102, 2, false, true, std::string("\x01\x02", 2)},
	    {0x0102, 2, true, true, std::string("\x02\x01", 2)},
	    {256, 1, false, false, ""},
	    {255, 1, false, true, "\xFF"},
	    {0, 4, false, true, std::string(4, '\0')},
	    {0x0102030405060708ULL, 8, false, true, "\x01\x02\x03\x04\x05\x06\x07\x08"},
	    {0x0102030405060708ULL, 8, true, true, "\x08\x07\x06\x05\x04\x03\x02\x01"},
	    {UINT64_MAX, 8, false, true, std::string(8, '\xFF')},
	    {0x0100000000000000ULL, 7, false, false, ""},
	    {0x00FFFFFFFFFFFFFFULL, 7, false, true, std::string(7, '\xFF')},
	    {1, 0, false, false, ""},
	    {1, 9, false, false, ""},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_uintbin(buf, c.value, c.width, c.little), c.ok) << c.value << "/" << c.width;
		EXPECT_EQ(content(buf), c.out) << c.value << "/" << c.width;
		EXPECT_EQ(M_buf_add_uintbin(nullptr, c.value, c.width, c.little), c.ok);
		M_buf_cancel(buf);
	}
}

TEST(m_buf, add_uintbcd)
{
	const struct {
		uint64_t    value;
		size_t      width;
		bool        ok;
		std::string out;
	} cases[] = {
	    {1234, 3, true, std::string("\x00\x12\x34", 3)},
	    {12345, 3, true, "\x01\x23\x45"},
	    {12345, 2, false, ""},
	    {0, 1, true, std::string(1, '\0')},
	    {9, 1, true, "\x09"},
	    {99, 1, true, "\x99"},
	    {100, 1, false, ""},
	    {5, 0, false, ""},
	    {UINT64_MAX, 10, true, "\x18\x44\x67\x44\x07\x37\x09\x55\x16\x15"},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_uintbcd(buf, c.value, c.width), c.ok) << c.value << "/" << c.width;
		EXPECT_EQ(content(buf), c.out) << c.value << "/" << c.width;
		M_buf_cancel(buf);
	}
	EXPECT_TRUE(M_buf_add_uintbcd(nullptr, 1, 1));
}

TEST(m_buf, add_uintstr_parses_then_encodes)
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
	    {"1f", 16, 1, false, true, "\x1F"},
	    {"-1", 10, 8, false, true, std::string(8, '\xFF')},
	    {"-1", 10, 1, false, false, ""}, /* the largest value does not fit a byte */
	    {"256", 10, 1, false, false, ""},
	    {"99999999999999999999999", 10, 8, false, false, ""}, /* overflow */
	    {"abc", 10, 2, false, false, ""},
	    {"-", 10, 2, false, false, ""},
	    {"0x", 16, 1, false, false, ""},
	    {"", 10, 2, false, false, ""},
	    {nullptr, 10, 2, false, false, ""},
	    {"5", 10, 0, false, false, ""}, /* width outside 1 to 8 */
	    {"5", 37, 1, false, false, ""}, /* base outside 2 to 36 */
	};
	for (const auto &c : cases) {
		const char *label = c.str == nullptr ? "NULL" : c.str;
		M_buf_t    *buf   = M_buf_create();
		EXPECT_EQ(M_buf_add_uintstrbin(buf, c.str, c.base, c.width, c.little), c.ok) << label;
		EXPECT_EQ(content(buf), c.out) << label;
		EXPECT_EQ(M_buf_add_uintstrbin(nullptr, c.str, c.base, c.width, c.little), c.ok) << label;
		M_buf_cancel(buf);
	}

	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_uintstrbcd(buf, "1234", 10, 2));
	EXPECT_FALSE(M_buf_add_uintstrbcd(buf, "123456", 10, 2));
	EXPECT_FALSE(M_buf_add_uintstrbcd(buf, "abc", 10, 2));
	EXPECT_FALSE(M_buf_add_uintstrbcd(buf, nullptr, 10, 2));
	EXPECT_TRUE(M_buf_add_uintstrbcd(buf, " 56 apples", 10, 1));
	EXPECT_TRUE(M_buf_add_uintstrbcd(buf, "0x63", 0, 1)); /* 99 */
	EXPECT_EQ(content(buf), "\x12\x34\x56\x99");
	EXPECT_TRUE(M_buf_add_uintstrbcd(nullptr, "12", 10, 1));
	EXPECT_FALSE(M_buf_add_uintstrbcd(nullptr, "123", 10, 1));
	M_buf_cancel(buf);
}

/* ---------------------------------------------------------------------------
 * Replace, quote, merge, join
 * ------------------------------------------------------------------------- */

TEST(m_buf, replace)
{
	const struct {
		const char *in;
		const char *search;
		const char *repl;
		bool        ok;
		const char *out;
	} cases[] = {
	    {"a,b,,c", ",", ";;", true, "a;;b;;;;c"},
	    {"aaaa", "aa", "b", true, "bb"},
	    {"abc", "x", "y", true, "abc"},
	    {"abcabc", "bc", nullptr, true, "aa"},
	    {"abc", "", "y", false, ""},
	    {"abc", nullptr, "y", false, ""},
	    {nullptr, "a", "b", true, ""},
	    {"abc", "abc", "", true, ""},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_replace(buf, c.in, c.search, c.repl), c.ok) << (c.in ? c.in : "NULL");
		EXPECT_EQ(content(buf), c.out) << (c.in ? c.in : "NULL");
		M_buf_cancel(buf);
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_replace(buf, "a\0b", 3, "\0", 1, "\\0", 2));
	EXPECT_EQ(content(buf), "a\\0b");
	EXPECT_TRUE(M_buf_add_bytes_replace(nullptr, "a", 1, "a", 1, "b", 1));
	M_buf_cancel(buf);
}

TEST(m_buf, quoted)
{
	const struct {
		char        quote;
		char        escape;
		const char *chars;
		uint32_t    flags;
		const char *in;
		bool        ok;
		const char *out;
	} cases[] = {
	    {'"', '\\', ",", 0, "plain", true, "plain"},
	    {'"', '\\', ",", 0, "a,b", true, "\"a,b\""},
	    {'"', '\\', ",", 0, "say \"hi\"", true, "\"say \\\"hi\\\"\""},
	    {'"', '\\', nullptr, 0, "back\\slash", true, "\"back\\\\slash\""},
	    {'"', '"', ",", 0, "a\"b", true, "\"a\"\"b\""},
	    {'"', '\0', ",", 0, "a\"b", true, "\"a\"\"b\""},
	    {'\'', '\\', nullptr, M_BUF_QUOTE_FLAG_ALWAYS, "x", true, "'x'"},
	    {'\'', '\\', nullptr, M_BUF_QUOTE_FLAG_EMPTY, "", true, "''"},
	    {'\'', '\\', nullptr, 0, nullptr, true, ""},
	    /* A 0 quote character: text that needs no quotes still goes out
		 * unchanged; text that needs them is refused. */
	    {'\0', '\\', nullptr, 0, "x", true, "x"},
	    {'\0', '\\', ",", 0, "a,b", false, ""},
	    {'\0', '\\', nullptr, M_BUF_QUOTE_FLAG_ALWAYS, "x", false, ""},
	};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_quoted(buf, c.quote, c.escape, c.chars, c.flags, c.in), c.ok);
		EXPECT_EQ(content(buf), c.out) << (c.in ? c.in : "NULL");
		M_buf_cancel(buf);
	}
	EXPECT_TRUE(M_buf_add_str_quoted(nullptr, '"', '\\', nullptr, 0, "x"));
	EXPECT_TRUE(M_buf_add_str_quoted(nullptr, '\0', '\\', nullptr, 0, "x"));
	EXPECT_FALSE(M_buf_add_str_quoted(nullptr, '\0', '\\', ",", 0, "a,b"));
}

TEST(m_buf, merge_and_joins)
{
	M_buf_t *dest = M_buf_create();
	M_buf_t *src  = M_buf_create();
	M_buf_add_str(dest, "ab");
	M_buf_add_str(src, "cd");
	M_buf_merge(dest, src); /* src destroyed (ASan would report a leak otherwise) */
	M_buf_merge(dest, nullptr);
	M_buf_merge(dest, dest);
	EXPECT_EQ(content(dest), "abcd");
	M_buf_merge(nullptr, M_buf_create());

	M_buf_t *parts[4] = {M_buf_create(), nullptr, M_buf_create(), M_buf_create()};
	M_buf_add_str(parts[0], "x");
	M_buf_add_str(parts[3], "z"); /* parts[2] stays empty */
	M_buf_truncate(dest, 0);
	M_buf_bjoin_buf(dest, ',', parts, 4);
	EXPECT_EQ(content(dest), "x,,,z");

	M_buf_t *parts2[2] = {M_buf_create(), M_buf_create()};
	M_buf_add_str(parts2[0], "1");
	M_buf_add_str(parts2[1], "2");
	M_buf_sjoin_buf(dest, " | ", parts2, 2);
	EXPECT_EQ(content(dest), "x,,,z1 | 2");

	const char *strs[] = {"a", nullptr, "", "d"};
	M_buf_truncate(dest, 0);
	M_buf_bjoin_str(dest, ';', strs, 4);
	M_buf_add_char(dest, '/');
	M_buf_sjoin_str(dest, "--", strs, 4);
	M_buf_sjoin_str(dest, "--", nullptr, 4);
	M_buf_bjoin_str(dest, ';', strs, 0);
	EXPECT_EQ(content(dest), "a;;;d/a------d");

	M_buf_t *parts3[1] = {M_buf_create()};
	M_buf_bjoin_buf(nullptr, ',', parts3, 1); /* still destroyed */
	M_buf_cancel(dest);
}

/* ---------------------------------------------------------------------------
 * NULL buffers
 * ------------------------------------------------------------------------- */

TEST(m_buf, null_buffer_changes_nothing)
{
	M_buf_cancel(nullptr);
	size_t len = 7;
	EXPECT_EQ(M_buf_finish(nullptr, &len), nullptr);
	EXPECT_EQ(len, 0u);
	EXPECT_EQ(M_buf_finish_str(nullptr, nullptr), nullptr);
	EXPECT_EQ(M_buf_len(nullptr), 0u);
	EXPECT_EQ(M_buf_alloc_size(nullptr), 0u);
	EXPECT_EQ(M_buf_peek(nullptr), nullptr);
	M_buf_truncate(nullptr, 0);
	M_buf_drop(nullptr, 1);
	M_buf_trim(nullptr);
	M_buf_add_bytes(nullptr, "a", 1);
	M_buf_add_byte(nullptr, 1);
	M_buf_add_char(nullptr, 'a');
	M_buf_add_fill(nullptr, 'a', 4);
	M_buf_add_str(nullptr, "a");
	M_buf_add_str_upper(nullptr, "a");
	M_buf_add_str_lower(nullptr, "a");
	M_buf_add_str_transform(nullptr, M_BUF_TRANSFORM_UPPER, "a");
	M_buf_add_str_hex(nullptr, "a");
	M_buf_add_int(nullptr, -1);
	M_buf_add_uint(nullptr, 1);
	M_buf_add_bytehex(nullptr, 1, M_TRUE);
	M_buf_add_ptr(nullptr, &len);
	EXPECT_TRUE(M_buf_add_bytes_just(nullptr, M_STR_JUSTIFY_LEFT, ' ', "a", 1, 3));
	EXPECT_TRUE(M_buf_add_str_just_transform(nullptr, M_STR_JUSTIFY_LEFT, M_BUF_TRANSFORM_UPPER, ' ', "a", 3));
	EXPECT_TRUE(M_buf_add_int_just(nullptr, 5, 2));
	EXPECT_TRUE(M_buf_add_uint_just(nullptr, 5, 2));
	EXPECT_TRUE(M_buf_add_uintbin(nullptr, 5, 1, M_FALSE));
	EXPECT_TRUE(M_buf_add_uintstrbin(nullptr, "5", 10, 1, M_FALSE));
	EXPECT_TRUE(M_buf_add_str_replace(nullptr, "a", "a", "b"));
	M_buf_sjoin_buf(nullptr, ",", nullptr, 3);
}
