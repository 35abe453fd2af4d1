#include "tests/test_util.h"

#include "core/m_chr.h"
#include "core/m_str_num.h"

#include <strings.h>

namespace {

using test_util::take;

/* An in-place operation applied to a copy of in: what it returned. */
template <typename F, typename... A>
std::string ip(const char *in, F f, A... args)
{
	char buf[64];
	std::strcpy(buf, in);
	const char *r = f(buf, args...);
	return r == nullptr ? "(null)" : r;
}

long off(const char *base, const char *p)
{
	return p == nullptr ? -1 : p - base;
}

std::vector<std::string> pieces(char **parts, const size_t &count) /* count read after the call */
{
	std::vector<std::string> v(parts, parts + count);
	M_str_explode_free(parts, count);
	return v;
}

using V = std::vector<std::string>;

void expect_rows(const std::vector<std::pair<std::string, std::string>> &rows)
{
	for (size_t i = 0; i < rows.size(); i++)
		EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
}

} // namespace

TEST(m_str, copies_and_in_place_changes)
{
	expect_rows({{take(M_strdup_max("abcdef", 3)), "abc"},
	             {take(M_strdup_upper_max("abcd", 2)), "AB"},
	             {take(M_strdup_lower_max("ABCD", 3)), "abc"},
	             {take(M_strdup_title_max("hello world", 7)), "Hello W"}, /* copy first, then title */
	             {take(M_strdup_trim_max("  ab   cd", 5)), "ab"},
	             {ip("\t\r\n x \v\f", M_str_trim), "x"},
	             {ip("  ab  cd  ", M_str_trim_max, 6), "ab"},
	             {ip(" a ", M_str_trim_max, 0), " a "},
	             {ip("Hello, World 1", M_str_upper), "HELLO, WORLD 1"},
	             {ip("abcdef", M_str_upper_max, 3), "ABCdef"},
	             {ip("ABCDEF", M_str_lower_max, 1), "aBCDEF"},
	             {ip("the  QUICK\tbrown", M_str_title), "The  Quick\tBrown"},
	             {ip("aa bb", M_str_title_max, 2), "Aa bb"},
	             {ip(" a b\tc\r\nd ", M_str_delete_spaces), "abcd"},
	             {ip("a\r\nb\nc\r", M_str_delete_newlines), "abc"},
	             {ip("a.b.c", M_str_replace_chr, '.', '/'), "a/b/c"},
	             {ip("a.b.c", M_str_replace_chr, '.', '\0'), "a.b.c"}, /* would cut: refused */
	             {ip("key=value=x", M_str_split_on_char, '='), "value=x"},
	             {ip("novalue", M_str_split_on_char, '\0'), "(null)"},
	             {ip("novalue", M_str_split_on_char, '='), ""}}); /* no separator: the end */
	EXPECT_STREQ(M_str_safe(nullptr), "");                        /* NULL reads as empty */
	EXPECT_EQ(M_str_len_max("abc", 2), 2u);
	EXPECT_TRUE(M_str_isempty(nullptr) && M_str_isempty(""));
	EXPECT_FALSE(M_str_isempty(" "));

	/* Bounded copy and append: truncation is success for cpy; cat refuses
	 * what does not fit, and a destination unterminated inside its size. */
	char d[4] = "zzz", c[6] = "ab", u[3] = {'a', 'b', 'c'};
	EXPECT_EQ((std::vector<int>{M_str_cpy(d, sizeof(d), "abcdef"), M_str_cpy(d, 1, "abc"), M_str_cpy(d, 0, "abc"),
	                            M_str_cat(c, sizeof(c), "cd"), M_str_cat(c, sizeof(c), "ef"),
	                            M_str_cat(c, sizeof(c), "e"), M_str_cat(c, sizeof(c), ""),
	                            M_str_cat(c, sizeof(c), nullptr), M_str_cat(c, 0, "x"), M_str_cat(u, sizeof(u), "")}),
	          (std::vector<int>{1, 1, 0, 1, 0, 1, 1, 0, 0, 0}));
	EXPECT_STREQ(c, "abcde");
	EXPECT_TRUE(M_str_cpy(d, sizeof(d), "abcdef") && std::strcmp(d, "abc") == 0);
	EXPECT_TRUE(M_str_cpy(d, sizeof(d), nullptr) && d[0] == '\0');
}

TEST(m_str, search)
{
	const char *s = "abcabc", *h = "Hello World";
	const struct {
		long got, want;
	} cases[] = {{off(s, M_str_chr(s, 'b')), 1},
	             {off(s, M_str_rchr(s, 'b')), 4},
	             /* A NULL string with a real character: the guard, not libc. */
	             {M_str_chr(nullptr, 'b') == nullptr, 1},
	             {M_str_rchr(nullptr, 'b') == nullptr, 1},
	             {off(s, M_str_str(s, "ca")), 2},
	             {off(s, M_str_str(s, "")), 0},
	             {off(s, M_str_str(s, nullptr)), 0},
	             {off(h, M_str_casestr(h, "")), 0},
	             {off(h, M_str_casestr(h, "WORLD")), 6},
	             {off(h, M_str_casestr(h, "worlds")), -1},
	             {static_cast<long>(M_str_casestr_pos(h, "o w")), 4},
	             {M_str_casestr_pos(h, nullptr) == SIZE_MAX, 1},
	             {M_str_casestr_pos(h, "xyz") == SIZE_MAX, 1},
	             {off(s, M_str_find_first_from_charset(s, "xc")), 2},
	             {off(s, M_str_find_first_from_charset(s, "")), -1},
	             {off(s, M_str_find_first_not_from_charset(s, "ab")), 2},
	             {off(s, M_str_find_first_not_from_charset(s, "abc")), -1},
	             {off(s, M_str_find_first_not_from_charset(s, nullptr)), 0}};
	for (size_t i = 0; i < std::size(cases); i++)
		EXPECT_EQ(cases[i].got, cases[i].want) << "row " << i;
}

TEST(m_str, class_predicates_agree_with_the_character_classes)
{
	/* For every byte b: {member, b} passes exactly when b is in the class, and
	 * the _max form stops before a non-member after it. */
	const struct {
		M_bool (*str)(const char *);
		M_bool (*str_max)(const char *, size_t);
		M_chr_predicate_func chr;
	} classes[] = {
	    {M_str_isnum, M_str_isnum_max, M_chr_isdigit},     {M_str_ishex, M_str_ishex_max, M_chr_ishex},
	    {M_str_isalnum, M_str_isalnum_max, M_chr_isalnum}, {M_str_isalnumsp, M_str_isalnumsp_max, M_chr_isalnumsp},
	    {M_str_isalpha, M_str_isalpha_max, M_chr_isalpha}, {M_str_isalphasp, M_str_isalphasp_max, M_chr_isalphasp},
	    {M_str_isspace, M_str_isspace_max, M_chr_isspace}, {M_str_isascii, M_str_isascii_max, M_chr_isascii},
	    {M_str_isgraph, M_str_isgraph_max, M_chr_isgraph}, {M_str_isprint, M_str_isprint_max, M_chr_isprint},
	    {M_str_isdec, M_str_isdec_max, M_chr_isdec},       {nullptr, nullptr, M_chr_islower}};
	for (const auto &k : classes) {
		char member = 1, other = 1;
		while (!k.chr(member))
			member++;
		while (k.chr(other))
			other++;
		auto is     = [&k](const char *s) { return k.str ? k.str(s) : M_str_ispredicate(s, k.chr); };
		auto is_max = [&k](const char *s, size_t max) {
			return k.str_max ? k.str_max(s, max) : M_str_ispredicate_max(s, max, k.chr);
		};
		EXPECT_TRUE(is(nullptr) && is("") && is_max(nullptr, 3) && is_max(&other, 0));
		for (int b = 1; b < 256; b++) {
			const char s[] = {member, static_cast<char>(b), other, member, 0};
			EXPECT_EQ(is(std::string(s, 2).c_str()), k.chr(s[1])) << b;
			EXPECT_EQ(is_max(s, 2), k.chr(s[1])) << b;
			EXPECT_FALSE(is_max(s, 3)) << b;
		}
	}
	EXPECT_FALSE(M_str_ispredicate("abc", nullptr));

	const struct {
		M_bool (*fn)(const char *, const char *);
		const char *s, *set;
		bool        want;
	} sets[] = {{M_str_ischarset, "abba", "ab", true},      {M_str_ischarset, "abc", "ab", false},
	            {M_str_ischarset, nullptr, "ab", true},     {M_str_ischarset, "a", nullptr, false},
	            {M_str_isnotcharset, "xyz", "ab", true},    {M_str_isnotcharset, "xaz", "ab", false},
	            {M_str_isnotcharset, "xyz", nullptr, true}, {M_str_isnotcharset, nullptr, "a", true}};
	for (const auto &c : sets)
		EXPECT_EQ(c.fn(c.s, c.set), c.want) << (c.s ? c.s : "NULL") << "/" << (c.set ? c.set : "NULL");

	for (const char *m : {"12.34", ".5", "5."})
		EXPECT_TRUE(M_str_ismoney(m)) << m;
	for (const char *m : {"", "12.345", "1.2.3", "-1"})
		EXPECT_FALSE(M_str_ismoney(m)) << m;
	for (const char *y : {"yes", "t", "On"})
		EXPECT_TRUE(M_str_istrue(y)) << y;
	for (const char *n : {"no", "yes "})
		EXPECT_FALSE(M_str_istrue(n)) << n;

	const struct {
		std::string bytes;
		bool        want;
	} strs[] = {{std::string("ab\0", 3), true},   {std::string("a\0b\0", 4), false}, {"ab", false},
	            {std::string("a\1\0", 3), false}, {std::string(1, '\0'), true},      {"", false}};
	for (const auto &c : strs)
		EXPECT_EQ(M_str_isstr(reinterpret_cast<const unsigned char *>(c.bytes.data()), c.bytes.size()), c.want)
		    << c.bytes.size();
}

namespace {

/* The case-insensitive model: bytes compare unsigned after folding only
 * ASCII capitals (Windows' runtime folds to capitals, so "[" and "a" sort
 * the other way there); max 0 compares nothing. */
int model_casecmp(const char *x, const char *y, size_t max = SIZE_MAX)
{
	auto fold = [](char c) {
		const unsigned char u = static_cast<unsigned char>(c);
		return u >= 'A' && u <= 'Z' ? u + 32 : u;
	};
	for (size_t i = 0; i < max; i++) {
		const int a = fold(x[i]), b = fold(y[i]);
		if (a != b || a == 0)
			return a - b;
	}
	return 0;
}

} // namespace

TEST(m_str, comparisons_agree_with_libc)
{
	/* Every pair of samples against <string.h> and the case-folding model.
	 * NULL reads as the empty string, except that a NULL s has no suffix;
	 * max 0 means no limit for equality, "compare nothing" for sorting. */
	const char *samples[] = {nullptr, "", "a", "B", "ab", "abc", "ABC", "abd", "abcd", "bc", "xbc", "[", "{", "\xe9"};
	auto        sign      = [](int v) { return (v > 0) - (v < 0); };
	for (const char *a : samples) {
		for (const char *b : samples) {
			SCOPED_TRACE(testing::Message() << (a ? a : "NULL") << " | " << (b ? b : "NULL"));
			const char  *x = a ? a : "", *y = b ? b : "";
			const size_t xl = std::strlen(x), yl = std::strlen(y);
			EXPECT_EQ(M_str_eq(a, b), std::strcmp(x, y) == 0);
			EXPECT_EQ(M_str_caseeq(a, b), model_casecmp(x, y) == 0);
			EXPECT_EQ(sign(M_str_cmpsort(a, b)), sign(std::strcmp(x, y)));
			EXPECT_EQ(sign(M_str_casecmpsort(a, b)), sign(model_casecmp(x, y)));
			for (size_t max = 0; max < 5; max++) {
				EXPECT_EQ(M_str_eq_max(a, b, max), (max ? std::strncmp(x, y, max) : std::strcmp(x, y)) == 0) << max;
				EXPECT_EQ(M_str_caseeq_max(a, b, max), (max ? model_casecmp(x, y, max) : model_casecmp(x, y)) == 0);
				EXPECT_EQ(sign(M_str_cmpsort_max(a, b, max)), sign(std::strncmp(x, y, max))) << max;
				EXPECT_EQ(sign(M_str_casecmpsort_max(a, b, max)), sign(model_casecmp(x, y, max))) << max;
			}
			const bool starts  = yl == 0 ? xl == 0 : xl >= yl && std::strncmp(x, y, yl) == 0;
			const bool cstarts = yl == 0 ? xl == 0 : xl >= yl && model_casecmp(x, y, yl) == 0;
			EXPECT_EQ(M_str_eq_start(a, b), starts);
			EXPECT_EQ(M_str_caseeq_start(a, b), cstarts);
			EXPECT_EQ(M_str_eq_end(a, b), a && b && xl >= yl && std::strcmp(x + xl - yl, y) == 0);
			EXPECT_EQ(M_str_caseeq_end(a, b), a && b && xl >= yl && model_casecmp(x + xl - yl, y) == 0);
		}
	}
}

TEST(m_str, justify)
{
	struct Case {
		const char *src;
		int         type;
		size_t      width;
		const char *out; /* NULL: refused */
	};
	const Case cases[] = {
	    {"abc", 0, 5, "**abc"},     {"abc", 1, 5, "abc**"},    {"abc", 6, 5, "abc"},    {"abc", 8, 6, "**abc*"},
	    {"abc", 10, 7, "**abc**"},  {"abc", 4, 3, "abc"},      {"abcdef", 0, 3, "def"}, {"abcdef", 3, 3, "abc"},
	    {"abcdef", 4, 3, nullptr},  {"abcdef", 5, 3, nullptr}, {"abcdef", 7, 3, "def"}, {"abcdef", 9, 3, "abc"},
	    {"abcdef", 10, 3, nullptr}, {"", 0, 3, "***"},         {nullptr, 1, 2, "**"},   {"abc", 11, 5, nullptr}};
	for (const Case &c : cases) {
		const auto type = static_cast<M_str_justify_type_t>(c.type);
		SCOPED_TRACE(testing::Message() << (c.src ? c.src : "NULL") << " type " << c.type << " width " << c.width);
		char         dest[16];
		const size_t n = M_str_justify(dest, sizeof(dest), c.src, type, '*', c.width);
		EXPECT_EQ(n, c.out ? std::strlen(c.out) : 0);
		EXPECT_EQ(take(M_strdup_justify(c.src, type, '*', c.width)), c.out ? c.out : "(null)");
		EXPECT_STREQ(c.out ? dest : nullptr, c.out); /* dest unspecified after a refusal */
	}

	char d[16] = "zzzzz";
	/* width must leave room for the terminator; width 0 gives "". */
	EXPECT_EQ(M_str_justify(d, 5, "ab", M_STR_JUSTIFY_RIGHT, ' ', 5), 0u);
	EXPECT_STREQ(d, "zzzzz");
	EXPECT_EQ(M_str_justify(d, 6, "ab", M_STR_JUSTIFY_LEFT, ' ', 0), 0u);
	EXPECT_STREQ(d, "");
	/* dest and src overlapping, either way round. */
	std::strcpy(d, "abc");
	EXPECT_EQ(M_str_justify(d, sizeof(d), d, M_STR_JUSTIFY_RIGHT, '0', 8), 8u);
	EXPECT_STREQ(d, "00000abc");
}

TEST(m_str, explode_and_implode)
{
	size_t n = 99;
	EXPECT_EQ(pieces(M_str_explode_str(',', "a,,b,", &n), n), (V{"a", "", "b", ""}));
	EXPECT_EQ(M_str_explode_str(',', "", &n), nullptr);
	EXPECT_EQ(n, 0u);
	const char data[] = {'a', 0, 'b', ';', ';', 'c'};
	size_t    *lens   = nullptr;
	char     **parts  = M_str_explode(';', data, sizeof(data), &n, &lens);
	ASSERT_EQ(n, 3u);
	EXPECT_EQ(std::vector<size_t>(lens, lens + 3), (std::vector<size_t>{3, 0, 1}));
	EXPECT_EQ(std::memcmp(parts[0], data, 3), 0);
	EXPECT_STREQ(parts[2], "c");
	M_free(lens);
	M_str_explode_free(parts, n);

	/* Quoted: a doubled quote or a distinct escape stays inside; the piece
	 * limit leaves the rest in the last piece. */
	EXPECT_EQ(pieces(M_str_explode_str_quoted(',', "a,\"b,c\",d", '"', '"', 0, &n), n), (V{"a", "\"b,c\"", "d"}));
	EXPECT_EQ(pieces(M_str_explode_str_quoted(',', "'a\\',b',c", '\'', '\\', 0, &n), n), (V{"'a\\',b'", "c"}));
	EXPECT_EQ(pieces(M_str_explode_str_quoted(',', "a,b,c,d", '"', '"', 2, &n), n), (V{"a", "b,c,d"}));

	/* Integers: empty and digitless pieces read as 0; overflow saturates. */
	int64_t *v = M_str_explode_int(',', " 1, -2,,x, 30 ,99999999999999999999", &n);
	ASSERT_EQ(n, 6u);
	EXPECT_EQ(std::vector<int64_t>(v, v + n), (std::vector<int64_t>{1, -2, 0, 0, 30, INT64_MAX}));
	M_free(v);

	/* Lines: a longer word is cut, leading white space goes, CR LF loses its
	 * CR; too many lines are refused, or cut with the flag. */
	EXPECT_EQ(pieces(M_str_explode_lines(5, 10, "the quick brown fox jumps", 0, &n), n),
	          (V{"the quick", "brown fox", "jumps"}));
	EXPECT_EQ(pieces(M_str_explode_lines(5, 4, "  abcdefghij k", 0, &n), n), (V{"abcd", "efgh", "ij k"}));
	EXPECT_EQ(pieces(M_str_explode_lines(5, 20, "one\r\n\n  two\n", 0, &n), n), (V{"one", "", "two"}));
	EXPECT_EQ(M_str_explode_lines(2, 3, "aaa bbb ccc", 0, &n), nullptr);
	EXPECT_EQ(pieces(M_str_explode_lines(2, 3, "aaa bbb ccc", M_STR_EXPLODE_LINES_TRUNCATE, &n), n), (V{"aaa", "bbb"}));
	EXPECT_EQ(M_str_explode_lines(3, 3, "   ", 0, &n), nullptr);

	const char   *in[]   = {"a", "b c", "d,e", "q\"t", "", nullptr};
	char        **p      = const_cast<char **>(in);
	const char   *lead[] = {" x"};
	const int64_t ints[] = {1, -20, INT64_MIN};
	parts                = M_str_explode_str(',', "x,,y,", &n);
	expect_rows({
	    {take(M_str_implode(',', '"', '"', p, 6, M_STR_IMPLODE_NONE)), "a,b c,\"d,e\",\"q\"\"t\",,"},
	    {take(M_str_implode(';', '\'', '\'', p, 2, M_STR_IMPLODE_ALWAYS_QUOTE)), "'a';'b c'"},
	    {take(M_str_implode(',', 0, 0, p, 3, M_STR_IMPLODE_ALWAYS_QUOTE)), "a,b c,d,e"},
	    {take(M_str_implode(',', '"', '"', const_cast<char **>(lead), 1, 0)), "\" x\""},
	    {take(M_str_implode_int('|', ints, 3)), "1|-20|-9223372036854775808"},
	    {take(M_str_implode(',', 0, 0, parts, n, 0)), "x,,y,"} /* the inverse of explode */
	});
	M_str_explode_free(parts, n);
}

TEST(m_str, quoting_and_replacing)
{
	char *q = reinterpret_cast<char *>(1);
	EXPECT_FALSE(M_str_quote_if_necessary(&q, "plain", '"', '"', ','));
	EXPECT_EQ(q, nullptr);
	auto quote_if = [](const char *s) {
		char *out = nullptr;
		EXPECT_TRUE(M_str_quote_if_necessary(&out, s, '"', '"', ','));
		return take(out);
	};
	expect_rows(
	    {{take(M_str_quote("ab\"c", '"', '\\')), "\"ab\\\"c\""},
	     {take(M_str_quote("a\"b", '"', 0)), "\"a\"\"b\""},
	     {take(M_str_quote(nullptr, '"', '"')), "\"\""},
	     {take(M_str_quote("abc", 0, '"')), "(null)"},
	     {take(M_str_quote_max("abcdef", '\'', '\\', 3)), "'abc'"},
	     {quote_if("a,b"), "\"a,b\""},
	     {ip("  \"ab\\\"c\\\\d\"  ", M_str_unquote, '"', '\\'), "ab\"c\\d"},
	     {ip("\"", M_str_unquote, '"', '"'), "\""},
	     {ip("'abc'tail", M_str_unquote_max, '\'', '\\', 5), "abc"},
	     {take(M_strdup_unquote("'x''y'", '\'', '\'')), "x'y"},
	     {take(M_strdup_unquote_max("'x'yz", '\'', '\'', 3)), "x"},
	     {ip("keep \"drop, \\\"this\" end", M_str_remove_quoted, '"', '\\'), "keep  end"},
	     {ip("keep \"take \\\"this\" and \"that\"", M_str_keep_quoted, '"', '\\'), "take \"thisthat"},
	     {ip("x 'a''b' y", M_str_keep_quoted, '\'', '\''), "a'b"},
	     {ip("f(x) + g(y)", M_str_remove_bracketed, '(', ')'), "f + g"},
	     {ip("f(x) + g(y)", M_str_keep_bracketed, '(', ')'), "xy"},
	     {ip("a(b\")\"c)d", M_str_remove_bracketed_quoted, '(', ')', '"', '"'), "ad"},
	     {ip("a(b\")\"c)d", M_str_keep_bracketed_quoted, '(', ')', '"', '"'), "b\")\"c"},
	     {take(M_strdup_replace_charset("a,b;c", reinterpret_cast<const unsigned char *>(",;"), 2, "--")), "a--b--c"},
	     {take(M_strdup_replace_charset("a,b;c", reinterpret_cast<const unsigned char *>(",;"), 2, nullptr)), "abc"},
	     {take(M_strdup_replace_charset("a,b", nullptr, 0, "-")), "a,b"}, /* no set, no search: a copy */
	     {take(M_strdup_replace_str("a,b", "", "-")), "a,b"}});
	for (const char *s : {"", "a", "\"", "\\\"\\", "a\"\"b"}) {
		char *quoted = M_str_quote(s, '"', '\\');
		EXPECT_EQ(take(M_strdup_unquote(quoted, '"', '\\')), s) << s;
		M_free(quoted);
	}
}

TEST(m_str, dot_money_out)
{
	/* NULL where rounding would be needed, it does not fit, or it does not
	 * parse whole. */
	const struct {
		const char *in, *out;
	} cases[] = {{"12.5", "12.50"},
	             {"-0.05", "-0.05"}, /* not "-.05" */
	             {"  42  ", "42.00"},
	             {"92233720368547758.07", "92233720368547758.07"},
	             {"92233720368547758.08", "(null)"},
	             {"1.234", "(null)"},
	             {"12abc", "(null)"},
	             {"1e300", "(null)"}};
	for (const auto &c : cases)
		EXPECT_EQ(take(M_str_dot_money_out(c.in)), c.out) << c.in;
}
