#include "tests/test_util.h"

#include "core/m_decimal.h"
#include "core/m_str_num.h"

#include <bit>
#include <cinttypes>

namespace {

using test_util::content;
using test_util::hex;
using test_util::take;

/* A buffer holding s, with the first drop bytes dropped. */
M_buf_t *holding(const std::string &s, size_t drop = 0)
{
	M_buf_t *b = M_buf_create();
	M_buf_add_bytes(b, s.data(), s.size());
	M_buf_drop(b, drop);
	return b;
}

std::string rep(const std::string &s, size_t n)
{
	std::string r;
	while (n-- > 0)
		r += s;
	return r;
}

} // namespace

TEST(m_buf, capacity_compaction_and_wiping)
{
	const struct {
		std::vector<size_t> appends; /* lengths appended in order */
		size_t              capacity;
	} cases[] = {{{1024}, 1024}, {{1024, 1}, 2048}, {{1025}, 2048}, {{1000, 1000, 3000}, 8192}};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		for (size_t n : c.appends)
			M_buf_add_fill(buf, 'x', n);
		EXPECT_EQ(M_buf_alloc_size(buf), c.capacity) << "after " << c.appends.size() << " appends";
		EXPECT_EQ(M_buf_peek(buf)[M_buf_len(buf)], '\0');
		M_buf_cancel(buf);
	}

	/* A new buffer has no storage and finishes to NULL; emptied storage to "". */
	M_buf_t *buf = M_buf_create();
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(M_buf_finish(buf, nullptr), nullptr);
	buf = holding("abc");
	M_buf_truncate(buf, 0);
	size_t len   = 99;
	char  *empty = M_buf_finish_str(buf, &len);
	EXPECT_STREQ(empty, "");
	EXPECT_EQ(len, 0u);
	M_free(empty);

	/* Appends compact only when the free space behind the offset runs short
	 * (strictly below); the terminator follows the content and the copies
	 * left behind are wiped. */
	buf                       = holding(std::string(900, 'a') + std::string(100, 'b'), 900);
	const unsigned char *base = reinterpret_cast<const unsigned char *>(M_buf_peek(buf)) - 900;
	M_buf_add_fill(buf, 'c', 23); /* 100 + 23 < 124 */
	EXPECT_EQ(reinterpret_cast<const unsigned char *>(M_buf_peek(buf)), base + 900);
	M_buf_add_byte(buf, 'd'); /* 123 + 1 is not below 124 */
	EXPECT_EQ(M_buf_alloc_size(buf), 1024u);
	EXPECT_EQ(reinterpret_cast<const unsigned char *>(M_buf_peek(buf)), base);
	EXPECT_EQ(content(buf), std::string(100, 'b') + std::string(23, 'c') + "d");
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(base) + 124, 900), '\0' + std::string(899, '\xFF'));
	M_buf_cancel(buf);

	/* Dropped and truncated bytes are wiped; finishing moves the content to the front. */
	buf  = holding("secret-key-material!", 7);
	base = reinterpret_cast<const unsigned char *>(M_buf_peek(buf)) - 7;
	M_buf_truncate(buf, 3);
	M_buf_truncate(buf, 100);
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(base), 20),
	          std::string(7, '\xFF') + "key" + '\0' + std::string(9, '\xFF'));
	M_buf_drop(buf, 1);
	unsigned char *data = M_buf_finish(buf, &len);
	EXPECT_EQ(std::string(reinterpret_cast<char *>(data), len + 1), std::string("ey", 3));
	M_free(data);

	buf = M_buf_create();
	M_buf_drop(buf, 5);             /* no storage: nothing happens */
	M_buf_direct_write_end(buf, 5); /* nor here */
	EXPECT_EQ(M_buf_peek(buf), nullptr);
	M_buf_cancel(buf);
	for (const auto &[in, out] : {std::pair{" \t ab c \r\n", "ab c"}, {"   ", ""}}) {
		buf = holding(in);
		M_buf_trim(buf);
		EXPECT_EQ(M_buf_peek(buf)[M_buf_len(buf)], '\0');
		EXPECT_EQ(take(buf), out) << in;
	}

	/* Needs more than 2^63: doubling overflows; nothing written, the bytes never read. */
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

TEST(m_buf, random_operations_match_a_model)
{
	/* Appends of distinct bytes (so a misplaced block shows), drops, truncations
	 * and direct writes in random order against a plain string. */
	std::mt19937 rng(12345);
	auto         next = [&rng](size_t mod) { return static_cast<size_t>(rng() % mod); };
	M_buf_t     *buf  = M_buf_create();
	std::string  model;
	for (int step = 0; step < 5000; step++) {
		const size_t op = next(5), n = next(op == 2 ? 400 : 2000);
		if (op <= 1) {
			std::string piece(n % 300, '\0');
			for (size_t i = 0; i < piece.size(); i++)
				piece[i] = static_cast<char>(step + i * 7);
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
			const size_t   ask = len, used = next(ask + 1);
			unsigned char *w = M_buf_direct_write_start(buf, &len);
			ASSERT_TRUE(w != nullptr && len >= ask);
			std::memset(w, '#', used);
			M_buf_direct_write_end(buf, len + 1); /* beyond the window: refused */
			M_buf_direct_write_end(buf, used);
			model.append(used, '#');
		}
		const size_t cap = M_buf_alloc_size(buf);
		ASSERT_TRUE(cap >= 1024 && (cap & (cap - 1)) == 0) << cap;
		ASSERT_EQ(content(buf), model) << "step " << step;
		ASSERT_TRUE(M_buf_peek(buf) == nullptr || M_buf_peek(buf)[model.size()] == '\0');
	}
	size_t len = 0;
	char  *s   = M_buf_finish_str(buf, &len);
	EXPECT_EQ(std::string(s, len), model);
	M_free(s);
}

TEST(m_buf, text_appends)
{
	M_buf_t *buf = M_buf_create();
	M_buf_add_bytes(buf, "a\0b", 3);
	M_buf_add_bytes(buf, nullptr, 5);
	M_buf_add_bytes(buf, "zz", 0);
	M_buf_add_byte(buf, 0xFE);
	M_buf_add_char(buf, 'c');
	M_buf_add_fill(buf, '-', 3);
	M_buf_add_str_hex(buf, "\x01\xAB");
	M_buf_add_str_upper(buf, "ab");
	M_buf_add_str_lower(buf, "CD");
	/* Hex decoding: white space counts towards the length, which must be even. */
	EXPECT_EQ((std::vector<int>{M_buf_add_bytes_hex(buf, "0a1B"), M_buf_add_bytes_hex(buf, "abc"),
	                            M_buf_add_bytes_hex(buf, "0a 1b"), M_buf_add_bytes_hex(buf, "0a 1b "),
	                            M_buf_add_bytes_hex(buf, nullptr), M_buf_add_bytes_hex(nullptr, "")}),
	          (std::vector<int>{1, 0, 0, 1, 1, 0}));
	EXPECT_EQ(M_buf_peek(buf)[M_buf_len(buf)], '\0');
	EXPECT_EQ(take(buf), std::string("a\0b\xFE", 4) + "c---01ABABcd\x0a\x1b\x0a\x1b");

	buf = M_buf_create();
	/* Line counts (the wrapping is M_str_explode_lines'); a NULL buffer counts too. */
	EXPECT_EQ((std::vector<size_t>{M_buf_add_str_lines(buf, "one\ntwo\nthree", 5, 10, M_FALSE, "\r\n"),
	                               M_buf_add_str_lines(buf, "", 5, 10, M_FALSE, "\n"),
	                               M_buf_add_str_lines(buf, "a\nb\nc", 2, 10, M_TRUE, nullptr),
	                               M_buf_add_str_lines(nullptr, "a\nb", 5, 10, M_FALSE, "\n")}),
	          (std::vector<size_t>{3, 0, 2, 2}));
	EXPECT_EQ(take(buf), "one\r\ntwo\r\nthree\r\nab");

	/* Transforms: upper before lower, trimming white space at either end. */
	const uint32_t U = M_BUF_TRANSFORM_UPPER, L = M_BUF_TRANSFORM_LOWER, LT = M_BUF_TRANSFORM_LTRIM;
	const uint32_t RT = M_BUF_TRANSFORM_RTRIM;
	const struct {
		uint32_t    flags;
		const char *in, *out;
	} cases[] = {{LT | RT, "\t\n Ab \r\n", "Ab"}, {U | L, " aB ", " ab "}, {LT | RT, "    ", ""}, {U, nullptr, ""}};
	for (const auto &c : cases) {
		buf = holding("<");
		M_buf_add_str_transform(buf, c.flags, c.in);
		M_buf_add_str(buf, ">");
		EXPECT_EQ(take(buf), std::string("<") + c.out + ">") << (c.in ? c.in : "NULL") << " flags " << c.flags;
	}
}

TEST(m_buf, justified_appends)
{
	/* The layout is the string justifier's (tested there); a refusal appends nothing. */
	const struct {
		M_str_justify_type_t type;
		const char          *in;
		size_t               width;
		const char          *out;
	} cases[] = {{M_STR_JUSTIFY_RIGHT, "abcdef", 3, "def"},
	             {M_STR_JUSTIFY_LEFT_NOTRUNC, "abcdef", 3, ""},
	             {M_STR_JUSTIFY_RIGHT, nullptr, 2, "**"},
	             {M_STR_JUSTIFY_RIGHT, "abc", 0, ""}};
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_just(buf, c.type, '*', c.in, c.width), *c.out != '\0') << c.type << " " << c.width;
		EXPECT_EQ(take(buf), c.out) << c.type << " " << c.width;
		EXPECT_EQ(M_buf_add_str_just(nullptr, c.type, '*', c.in, c.width), *c.out != '\0');
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_just(buf, M_STR_JUSTIFY_RIGHT, '0', "\x01\x02", 2, 4));
	EXPECT_TRUE(M_buf_add_str_just_transform(buf, M_STR_JUSTIFY_LEFT, M_BUF_TRANSFORM_UPPER | M_BUF_TRANSFORM_LTRIM,
	                                         '.', "   ab", 4));
	EXPECT_FALSE(
	    M_buf_add_str_just_transform(buf, M_STR_JUSTIFY_LEFT_NOTRUNC, M_BUF_TRANSFORM_UPPER, '.', "abcdef", 4));
	EXPECT_EQ(take(buf), std::string("00\x01\x02", 4) + "AB..");
}

TEST(m_buf, number_appends_match_snprintf)
{
	/* At widths around each value's length: the zero-padded printf text, or a
	 * refusal when that is wider than a non-zero width (hex: 0 is no padding). */
	std::mt19937_64       rng(11);
	std::vector<uint64_t> values{0, 1, 9, 10, 99, 100, 0xABC, UINT64_MAX, 1ULL << 63, (1ULL << 63) - 1};
	for (int i = 0; i < 300; i++)
		values.push_back(rng() >> (rng() % 64));
	auto text = [](const char *fmt, int width, auto v) {
		char out[80];
		std::snprintf(out, sizeof(out), fmt, width, v);
		return std::string(out);
	};
	for (uint64_t u : values) {
		const int64_t neg = -static_cast<int64_t>(u >> 1);
		M_buf_t      *buf = M_buf_create();
		M_buf_add_int(buf, static_cast<int64_t>(u));
		M_buf_add_int(buf, neg);
		M_buf_add_uint(buf, u);
		EXPECT_EQ(take(buf), text("%0*" PRId64, 0, static_cast<int64_t>(u)) + text("%0*" PRId64, 0, neg) +
		                         text("%0*" PRIu64, 0, u));
		const size_t digits = text("%0*" PRIu64, 0, u).size();
		for (size_t width = digits > 2 ? digits - 2 : 0; width < digits + 3; width++) {
			const int         w      = static_cast<int>(width);
			const std::string want[] = {text("%0*" PRIu64, w, u), text("%0*" PRId64, w, neg), text("%0*" PRIX64, w, u),
			                            text("%0*" PRIx64, w, u)};
			for (M_buf_t *b : {M_buf_create(), static_cast<M_buf_t *>(nullptr)}) {
				const bool  got[] = {M_buf_add_uint_just(b, u, width), M_buf_add_int_just(b, neg, width),
				                     M_buf_add_uinthex(b, u, M_TRUE, width), M_buf_add_uinthex(b, u, M_FALSE, width)};
				std::string all;
				for (size_t i = 0; i < 4; i++) {
					const bool ok = width > 0 ? want[i].size() <= width : i >= 2;
					EXPECT_EQ(got[i], ok) << want[i] << " width " << width;
					all += ok ? want[i] : "";
				}
				EXPECT_EQ(b ? take(b) : all, all);
			}
		}
	}
	M_buf_t *buf = M_buf_create();
	M_buf_add_bytehex(buf, 0x0F, M_TRUE);
	M_buf_add_bytehex(buf, 0xA0, M_FALSE);
	M_buf_add_ptr(buf, nullptr);
	int local = 0;
	M_buf_add_ptr(buf, &local);
	EXPECT_EQ(take(buf), text("0Fa00x00x%0*" PRIxPTR, 0, reinterpret_cast<uintptr_t>(&local)));
}

TEST(m_buf, binary_and_bcd_appends)
{
	/* Binary: 1 to 8 bytes, the value below 2^(8 * width). BCD: the digits two
	 * a byte, zeros in front. The forms reading decimal text give the same. */
	std::mt19937_64       rng(13);
	std::vector<uint64_t> values{0, 1, 9, 99, 100, 255, 256, 0x0102, 0x00FFFFFFFFFFFFFFULL, 1ULL << 56, UINT64_MAX};
	for (int i = 0; i < 200; i++)
		values.push_back(rng() >> (rng() % 64));
	for (uint64_t v : values) {
		const std::string digits = std::to_string(v);
		for (size_t width = 0; width <= 11; width++) {
			SCOPED_TRACE(testing::Message() << v << " width " << width);
			for (bool little : {false, true}) {
				const bool  ok = width >= 1 && width <= 8 && (width == 8 || v < (1ULL << (8 * width)));
				std::string want;
				for (size_t i = 0; ok && i < width; i++)
					want += static_cast<char>(v >> (8 * (little ? i : width - 1 - i)));
				M_buf_t *buf = M_buf_create();
				EXPECT_EQ(M_buf_add_uintbin(buf, v, width, little), ok);
				EXPECT_EQ(M_buf_add_uintstrbin(buf, digits.c_str(), 10, width, little), ok);
				EXPECT_EQ(take(buf), want + want);
				EXPECT_EQ(M_buf_add_uintbin(nullptr, v, width, little), ok);
			}
			const bool ok  = width >= 1 && digits.size() <= 2 * width;
			M_buf_t   *buf = M_buf_create();
			EXPECT_EQ(M_buf_add_uintbcd(buf, v, width), ok);
			EXPECT_EQ(M_buf_add_uintstrbcd(buf, digits.c_str(), 10, width), ok);
			const std::string packed = ok ? std::string(2 * width - digits.size(), '0') + digits : "";
			EXPECT_EQ(hex(take(buf)), packed + packed);
			EXPECT_EQ(M_buf_add_uintbcd(nullptr, v, width), ok);
		}
	}
	/* Text that does not read as a number (as M_str_to_uint64_ex) appends nothing. */
	M_buf_t *buf = M_buf_create();
	EXPECT_FALSE(M_buf_add_uintstrbin(buf, "abc", 10, 2, M_FALSE));
	EXPECT_FALSE(M_buf_add_uintstrbcd(buf, "99999999999999999999999", 10, 8));
	EXPECT_EQ(take(buf), "");
}

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
		EXPECT_EQ(M_buf_add_str_replace(nullptr, c.in, c.search, c.repl), c.ok); /* a NULL buffer still checks */
	}
	M_buf_t *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_bytes_replace(buf, "a\0b", 3, "\0", 1, "\\0", 2));
	EXPECT_EQ(take(buf), "a\\0b");

	/* An escape of 0 doubles the quote; a 0 quote character lets text that
	 * needs no quotes through and refuses the rest (""). */
	const uint32_t ALWAYS = M_BUF_QUOTE_FLAG_ALWAYS, EMPTY = M_BUF_QUOTE_FLAG_EMPTY;
	const struct {
		char        quote, escape;
		const char *chars;
		uint32_t    flags;
		const char *in, *out;
	} quotes[] = {{'"', '\\', ",", 0, "plain", "plain"},
	              {'"', '\\', ",", 0, "a,b", "\"a,b\""},
	              {'"', '\\', ",", 0, "say \"hi\"", "\"say \\\"hi\\\"\""},
	              {'"', '\\', nullptr, 0, "back\\slash", "\"back\\\\slash\""},
	              {'"', '\0', ",", 0, "a\"b", "\"a\"\"b\""},
	              {'\'', '\\', nullptr, ALWAYS, "x", "'x'"},
	              {'\'', '\\', nullptr, EMPTY, nullptr, "''"},
	              {'\0', '\\', nullptr, 0, "x", "x"},
	              {'\0', '\\', ",", 0, "a,b", ""}};
	for (const auto &c : quotes) {
		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_str_quoted(buf, c.quote, c.escape, c.chars, c.flags, c.in), *c.out != '\0');
		EXPECT_EQ(take(buf), c.out) << (c.in ? c.in : "NULL");
		EXPECT_EQ(M_buf_add_str_quoted(nullptr, c.quote, c.escape, c.chars, c.flags, c.in), *c.out != '\0');
	}

	M_buf_t *dest = holding("ab");
	M_buf_merge(dest, holding("cd")); /* the source is destroyed (ASan would report a leak) */
	M_buf_merge(dest, nullptr);
	M_buf_merge(dest, dest);
	M_buf_merge(nullptr, M_buf_create());
	M_buf_t *parts[4] = {holding("x"), nullptr, M_buf_create(), holding("z")};
	M_buf_bjoin_buf(dest, ',', parts, 4);
	M_buf_t *parts2[2] = {holding("1"), holding("2")};
	M_buf_sjoin_buf(dest, " | ", parts2, 2);
	const char *strs[] = {"a", nullptr, "", "d"};
	M_buf_bjoin_str(dest, ';', strs, 4);
	M_buf_sjoin_str(dest, "--", strs, 4);
	M_buf_bjoin_str(dest, ';', strs, 0);
	EXPECT_EQ(take(dest), "abcdx,,,z1 | 2a;;;da------d");
	M_buf_t *parts3[1] = {M_buf_create()};
	M_buf_bjoin_buf(nullptr, ',', parts3, 1); /* still destroyed */
}

TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_buf, appends_reading_the_buffers_own_storage)
{
	/* Each input is the buffer's own storage, read as it was on entry although
	 * the append grows or compacts it (30 bytes at offset 970 doubled need 60,
	 * not below the 54 free: compaction); growth only as far as needed. */
	using Op = void (*)(M_buf_t *);
	std::string alpha;
	for (int i = 0; i < 1000; i++)
		alpha += static_cast<char>('A' + i % 26);
	const std::string csv = rep("a,", 400), raw_q = rep("a,\"", 200), nul(1, '\0');
	const struct {
		std::string init;
		size_t      drop;
		Op          op;
		std::string want;
	} cases[] = {{std::string(1000, 'q'), 0, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 1000); },
	              std::string(2000, 'q')},
	             {alpha, 970, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 30); }, rep(alpha.substr(970), 2)},
	             {"abcde", 0, [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b), 6); }, "abcdeabcde" + nul},
	             {"0123456789abcdefghij" + std::string(980, '.'), 10,
	              [](M_buf_t *b) { M_buf_add_bytes(b, M_buf_peek(b) - 4, 30); },
	              "abcdefghij" + std::string(980, '.') + std::string(4, '\xFF') + "abcdefghij" + std::string(16, '.')},
	             {std::string(600, 'z'), 0, [](M_buf_t *b) { M_buf_add_str_hex(b, M_buf_peek(b)); },
	              std::string(600, 'z') + rep("7A", 600)},
	             {rep("41", 900), 0, [](M_buf_t *b) { EXPECT_TRUE(M_buf_add_bytes_hex(b, M_buf_peek(b))); },
	              rep("41", 900) + std::string(900, 'A')},
	             {csv, 0, [](M_buf_t *b) { EXPECT_TRUE(M_buf_add_str_replace(b, M_buf_peek(b), ",", ";;")); },
	              csv + rep("a;;", 400)},
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
		              EXPECT_EQ(M_buf_add_str_lines(b, rep("ab\n", 300).c_str(), 1000, 10, M_FALSE, M_buf_peek(b)),
		                        300u);
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
	              "AB..#AB"}};
	for (size_t i = 0; i < std::size(cases); i++) {
		M_buf_t *buf = holding(cases[i].init, cases[i].drop);
		cases[i].op(buf);
		EXPECT_EQ(M_buf_alloc_size(buf), std::bit_ceil(std::max<size_t>(1024, cases[i].want.size()))) << "row " << i;
		EXPECT_EQ(take(buf), cases[i].want) << "row " << i;
	}
}

TEST_GCC12_FALSE_POSITIVE_END()

TEST(m_buf, money_from_text)
{
	/* The amount is M_atofi_prec's (tested there), but too large is refused,
	 * not saturated, and so is a text that holds no digit ("" refused). */
	const struct {
		const char *amount, *plain, *dot;
	} cases[] = {{"12.5", "1250", "12.50"},
	             {"-.05", "-5", "-0.05"},
	             {"0.005", "1", "0.01"},
	             {"92233720368547758.08", "", ""},
	             {"-92233720368547758.09", "", ""},
	             {"92233720368547758.074", "9223372036854775807", "92233720368547758.07"},
	             {"-92233720368547758.08", "-9223372036854775808", "-92233720368547758.08"},
	             {"92233720368547758.075", "", ""},
	             {"99999999999999999999", "", ""},
	             {"abc", "", ""},
	             {"-.", "", ""},
	             {" ,+", "", ""},
	             {nullptr, "", ""}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.amount ? c.amount : "NULL");
		M_buf_t *buf = holding("[");
		EXPECT_EQ(M_buf_add_money(buf, c.amount), *c.plain != '\0');
		EXPECT_EQ(M_buf_add_money_dot(buf, c.amount), *c.plain != '\0');
		EXPECT_EQ(take(buf), std::string("[") + c.plain + c.dot);
		EXPECT_EQ(M_buf_add_money(nullptr, c.amount), *c.plain != '\0'); /* a NULL buffer still checks */
	}
}

TEST(m_buf, decimal)
{
	/* Rescaled to "to" places (255 keeps them, not reduced) and justified;
	 * "" refused (rescaling overflows, or too narrow). */
	const struct {
		int64_t     num;
		uint8_t     places, to;
		size_t      width;
		const char *text, *just;
	} cases[] = {{-15, 1, 2, 7, "-1.50", "-001.50"}, {15, 1, 255, 0, "1.5", ""},
	             {-125, 2, 1, 3, "-1.3", ""},        {-5, 2, 0, 1, "0", "0"},
	             {-50, 2, 0, 2, "-1", "-1"},         {INT64_MAX, 0, 1, 40, "", ""}};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::to_string(c.num) + " places " + std::to_string(c.places) + " to " + std::to_string(c.to));
		M_decimal_t d{c.num, c.places};
		M_buf_t    *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_decimal(buf, &d, c.to), *c.text != '\0');
		EXPECT_EQ(M_buf_add_decimal_just(buf, &d, c.to, c.width), *c.just != '\0');
		EXPECT_EQ(take(buf), std::string(c.text) + c.just);
		EXPECT_TRUE(d.num == c.num && d.num_dec == c.places);
		EXPECT_EQ(M_buf_add_decimal_just(nullptr, &d, c.to, c.width), *c.just != '\0');
		EXPECT_EQ(M_buf_add_decimal(nullptr, &d, c.to), *c.text != '\0');
	}
	/* The longest text: 255 places. */
	M_decimal_t tiny{-1, 255};
	M_buf_t    *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_decimal(buf, &tiny, 255));
	EXPECT_FALSE(M_buf_add_decimal_just(buf, nullptr, 255, 10));
	EXPECT_EQ(take(buf), "-0." + std::string(254, '0') + "1");
}
