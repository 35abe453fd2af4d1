#include <gtest/gtest.h>

#include "core/m_mem.h"
#include "core/m_str.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

/* Owns a string from the library for the length of one check. */
std::string take(char *s)
{
	if (s == nullptr)
		return "<NULL>";
	std::string r(s);
	M_free(s);
	return r;
}

std::vector<std::string> pieces(char **parts, size_t count)
{
	std::vector<std::string> v;
	for (size_t i = 0; i < count; i++)
		v.emplace_back(parts[i]);
	M_str_explode_free(parts, count);
	return v;
}

using V = std::vector<std::string>;

} // namespace

/* ---- Length, emptiness, copies ------------------------------------------- */

TEST(m_str, length_and_emptiness)
{
	EXPECT_EQ(M_str_len(nullptr), 0u);
	EXPECT_EQ(M_str_len(""), 0u);
	EXPECT_EQ(M_str_len("abc"), 3u);
	EXPECT_EQ(M_str_len_max(nullptr, 5), 0u);
	EXPECT_EQ(M_str_len_max("abc", 0), 0u);
	EXPECT_EQ(M_str_len_max("abc", 2), 2u);
	EXPECT_EQ(M_str_len_max("abc", 10), 3u);
	EXPECT_EQ(M_str_len_max("abc", SIZE_MAX), 3u);
	/* The limit keeps the scan inside an unterminated array. */
	const char raw[3] = {'x', 'y', 'z'};
	EXPECT_EQ(M_str_len_max(raw, sizeof(raw)), 3u);

	EXPECT_TRUE(M_str_isempty(nullptr));
	EXPECT_TRUE(M_str_isempty(""));
	EXPECT_FALSE(M_str_isempty(" "));
	EXPECT_STREQ(M_str_safe(nullptr), "");
	const char *s = "x";
	EXPECT_EQ(M_str_safe(s), s);
}

TEST(m_str, strdup_family)
{
	EXPECT_EQ(M_strdup(nullptr), nullptr);
	char *e = M_strdup("");
	ASSERT_NE(e, nullptr);
	EXPECT_STREQ(e, "");
	M_free(e);
	EXPECT_EQ(take(M_strdup("abc")), "abc");
	EXPECT_EQ(M_strdup_max(nullptr, 3), nullptr);
	EXPECT_EQ(take(M_strdup_max("abcdef", 3)), "abc");
	EXPECT_EQ(take(M_strdup_max("ab", 3)), "ab");
	EXPECT_EQ(take(M_strdup_max("ab", 0)), "");

	EXPECT_EQ(take(M_strdup_upper("aBc1")), "ABC1");
	EXPECT_EQ(take(M_strdup_upper_max("abcd", 2)), "AB");
	EXPECT_EQ(take(M_strdup_lower("AbC1")), "abc1");
	EXPECT_EQ(take(M_strdup_lower_max("ABCD", 3)), "abc");
	EXPECT_EQ(take(M_strdup_title("hELLO wORLD")), "Hello World");
	EXPECT_EQ(take(M_strdup_title_max("hello world", 7)), "Hello W"); /* copy first, then title */
	EXPECT_EQ(take(M_strdup_trim("  a b \n")), "a b");
	EXPECT_EQ(take(M_strdup_trim_max("  ab   cd", 5)), "ab");
	EXPECT_EQ(M_strdup_upper(nullptr), nullptr);
	EXPECT_EQ(M_strdup_lower(nullptr), nullptr);
	EXPECT_EQ(M_strdup_title(nullptr), nullptr);
	EXPECT_EQ(M_strdup_trim(nullptr), nullptr);
	EXPECT_EQ(M_strdup_trim_max(nullptr, 2), nullptr);
	EXPECT_EQ(M_strdup_upper_max(nullptr, 2), nullptr);
	EXPECT_EQ(M_strdup_lower_max(nullptr, 2), nullptr);
	EXPECT_EQ(M_strdup_title_max(nullptr, 2), nullptr);
	EXPECT_EQ(M_strdup_unquote_max(nullptr, '"', '"', 2), nullptr);
}

TEST(m_str, cpy_and_cat)
{
	char d[4] = "zzz";
	EXPECT_TRUE(M_str_cpy(d, sizeof(d), "abcdef"));
	EXPECT_STREQ(d, "abc");
	EXPECT_TRUE(M_str_cpy(d, sizeof(d), nullptr));
	EXPECT_STREQ(d, "");
	EXPECT_TRUE(M_str_cpy(d, 1, "abc"));
	EXPECT_STREQ(d, "");
	EXPECT_FALSE(M_str_cpy(nullptr, 4, "abc"));
	std::strcpy(d, "xy");
	EXPECT_FALSE(M_str_cpy(d, 0, "abc"));
	EXPECT_STREQ(d, "xy");

	char c[6] = "ab";
	EXPECT_TRUE(M_str_cat(c, sizeof(c), "cd"));
	EXPECT_STREQ(c, "abcd");
	EXPECT_FALSE(M_str_cat(c, sizeof(c), "ef")); /* needs 7 bytes */
	EXPECT_STREQ(c, "abcd");
	EXPECT_TRUE(M_str_cat(c, sizeof(c), "e")); /* exactly fits */
	EXPECT_STREQ(c, "abcde");
	EXPECT_TRUE(M_str_cat(c, sizeof(c), ""));
	EXPECT_FALSE(M_str_cat(c, sizeof(c), nullptr));
	EXPECT_FALSE(M_str_cat(nullptr, 6, "x"));
	EXPECT_FALSE(M_str_cat(c, 0, "x"));
	EXPECT_STREQ(c, "abcde");
	/* A destination not terminated inside dest_size is refused. */
	char u[3] = {'a', 'b', 'c'};
	EXPECT_FALSE(M_str_cat(u, sizeof(u), ""));
}

/* ---- In-place changes ---------------------------------------------------- */

TEST(m_str, trim)
{
	struct Case {
		const char *in;
		const char *out;
	};
	const Case cases[] = {
	    {"  a b  ", "a b"}, {"   ", ""}, {"", ""}, {"abc", "abc"}, {"\t\r\n x \v\f", "x"}, {"x  ", "x"}, {"  x", "x"},
	};
	for (const Case &c : cases) {
		char buf[32];
		std::strcpy(buf, c.in);
		EXPECT_EQ(M_str_trim(buf), buf);
		EXPECT_STREQ(buf, c.out) << '"' << c.in << '"';
	}
	EXPECT_EQ(M_str_trim(nullptr), nullptr);

	char t[] = "  ab  cd  ";
	EXPECT_STREQ(M_str_trim_max(t, 6), "ab");
	char t0[] = " a ";
	EXPECT_STREQ(M_str_trim_max(t0, 0), " a ");
	EXPECT_EQ(M_str_trim_max(nullptr, 3), nullptr);
}

TEST(m_str, case_changes)
{
	char a[] = "Hello, World 1";
	EXPECT_STREQ(M_str_upper(a), "HELLO, WORLD 1");
	EXPECT_STREQ(M_str_lower(a), "hello, world 1");
	char b[] = "abcdef";
	EXPECT_STREQ(M_str_upper_max(b, 3), "ABCdef");
	EXPECT_STREQ(M_str_lower_max(b, 1), "aBCdef");
	char t[] = "the  QUICK\tbrown";
	EXPECT_STREQ(M_str_title(t), "The  Quick\tBrown");
	char tm[] = "aa bb";
	EXPECT_STREQ(M_str_title_max(tm, 2), "Aa bb");
	char hi[] = "\xe9t\xe9";
	EXPECT_STREQ(M_str_upper(hi), "\xe9T\xe9"); /* only ASCII letters change */
	EXPECT_EQ(M_str_upper(nullptr), nullptr);
	EXPECT_EQ(M_str_lower(nullptr), nullptr);
	EXPECT_EQ(M_str_title(nullptr), nullptr);
	EXPECT_EQ(M_str_upper_max(nullptr, 1), nullptr);
	EXPECT_EQ(M_str_lower_max(nullptr, 1), nullptr);
	EXPECT_EQ(M_str_title_max(nullptr, 1), nullptr);
}

TEST(m_str, delete_and_replace_chr)
{
	char a[] = " a b\tc\r\nd ";
	EXPECT_STREQ(M_str_delete_spaces(a), "abcd");
	char b[] = "a\r\nb\nc\r";
	EXPECT_STREQ(M_str_delete_newlines(b), "abc");
	char c[] = "a.b.c";
	EXPECT_STREQ(M_str_replace_chr(c, '.', '/'), "a/b/c");
	EXPECT_STREQ(M_str_replace_chr(c, '/', '\0'), "a/b/c"); /* would cut: refused */
	EXPECT_EQ(M_str_delete_spaces(nullptr), nullptr);
	EXPECT_EQ(M_str_delete_newlines(nullptr), nullptr);
	EXPECT_EQ(M_str_replace_chr(nullptr, 'a', 'b'), nullptr);
}

TEST(m_str, split_on_char)
{
	char  s[] = "key=value=x";
	char *v   = M_str_split_on_char(s, '=');
	EXPECT_STREQ(s, "key");
	EXPECT_STREQ(v, "value=x");
	char  n[] = "novalue";
	char *e   = M_str_split_on_char(n, '=');
	EXPECT_EQ(e, n + 7);
	EXPECT_STREQ(n, "novalue");
	EXPECT_EQ(M_str_split_on_char(nullptr, '='), nullptr);
	EXPECT_EQ(M_str_split_on_char(n, '\0'), nullptr);
}

/* ---- Search -------------------------------------------------------------- */

TEST(m_str, search)
{
	const char *s = "abcabc";
	EXPECT_EQ(M_str_chr(s, 'b'), s + 1);
	EXPECT_EQ(M_str_rchr(s, 'b'), s + 4);
	EXPECT_EQ(M_str_chr(s, 'x'), nullptr);
	EXPECT_EQ(M_str_chr(nullptr, 'a'), nullptr);
	EXPECT_EQ(M_str_rchr(nullptr, 'a'), nullptr);

	EXPECT_EQ(M_str_str(s, "ca"), s + 2);
	EXPECT_EQ(M_str_str(s, "cb"), nullptr);
	EXPECT_EQ(M_str_str(s, ""), s);
	EXPECT_EQ(M_str_str(s, nullptr), s);
	EXPECT_EQ(M_str_str(nullptr, "a"), nullptr);

	const char *h = "Hello World";
	EXPECT_EQ(M_str_casestr(h, "WORLD"), h + 6);
	EXPECT_EQ(M_str_casestr(h, "worlds"), nullptr);
	EXPECT_EQ(M_str_casestr(h, nullptr), h);
	EXPECT_EQ(M_str_casestr(nullptr, "a"), nullptr);
	EXPECT_EQ(M_str_casestr_pos(h, "o w"), 4u);
	EXPECT_EQ(M_str_casestr_pos(h, "xyz"), SIZE_MAX);
	EXPECT_EQ(M_str_casestr_pos(nullptr, "a"), SIZE_MAX);
	EXPECT_EQ(M_str_casestr_pos(h, nullptr), SIZE_MAX);

	EXPECT_EQ(M_str_find_first_from_charset(s, "xc"), s + 2);
	EXPECT_EQ(M_str_find_first_from_charset(s, "xy"), nullptr);
	EXPECT_EQ(M_str_find_first_from_charset(s, ""), nullptr);
	EXPECT_EQ(M_str_find_first_from_charset(s, nullptr), nullptr);
	EXPECT_EQ(M_str_find_first_from_charset("", "a"), nullptr);
	EXPECT_EQ(M_str_find_first_from_charset(nullptr, "a"), nullptr);

	EXPECT_EQ(M_str_find_first_not_from_charset(s, "ab"), s + 2);
	EXPECT_EQ(M_str_find_first_not_from_charset(s, "abc"), nullptr);
	EXPECT_EQ(M_str_find_first_not_from_charset(s, nullptr), s);
	EXPECT_EQ(M_str_find_first_not_from_charset(s, ""), s);
	EXPECT_EQ(M_str_find_first_not_from_charset("", nullptr), nullptr);
	EXPECT_EQ(M_str_find_first_not_from_charset(nullptr, "a"), nullptr);
}

/* ---- Predicates ---------------------------------------------------------- */

TEST(m_str, class_predicates)
{
	EXPECT_TRUE(M_str_isnum(nullptr));
	EXPECT_TRUE(M_str_isnum(""));
	EXPECT_TRUE(M_str_isnum("0123456789"));
	EXPECT_FALSE(M_str_isnum("20251a"));
	EXPECT_FALSE(M_str_isnum("-1"));
	EXPECT_TRUE(M_str_isnum_max("12ab", 2));
	EXPECT_FALSE(M_str_isnum_max("12ab", 3));
	EXPECT_TRUE(M_str_ishex("09afAF"));
	EXPECT_FALSE(M_str_ishex("0g"));
	EXPECT_TRUE(M_str_ishex(nullptr));
	EXPECT_TRUE(M_str_ishex_max("ffz", 2));
	EXPECT_TRUE(M_str_isalnum("ab12"));
	EXPECT_FALSE(M_str_isalnum("ab 12"));
	EXPECT_TRUE(M_str_isalnum_max("ab 12", 2));
	EXPECT_TRUE(M_str_isalnumsp("ab 12"));
	EXPECT_FALSE(M_str_isalnumsp_max("a_", 2));
	EXPECT_TRUE(M_str_isalpha("abC"));
	EXPECT_FALSE(M_str_isalpha("ab1"));
	EXPECT_TRUE(M_str_isalpha_max("ab1", 2));
	EXPECT_TRUE(M_str_isalphasp("a b"));
	EXPECT_FALSE(M_str_isalphasp_max("a 1", 3));
	EXPECT_TRUE(M_str_isspace(" \t\n"));
	EXPECT_FALSE(M_str_isspace(" x"));
	EXPECT_TRUE(M_str_isspace_max(" x", 1));
	EXPECT_TRUE(M_str_isascii("abc\x7f"));
	EXPECT_FALSE(M_str_isascii("ab\x80"));
	EXPECT_TRUE(M_str_isascii_max("ab\x80", 2));
	EXPECT_TRUE(M_str_isgraph("a!~"));
	EXPECT_FALSE(M_str_isgraph("a b"));
	EXPECT_TRUE(M_str_isgraph_max("ab c", 2));
	EXPECT_TRUE(M_str_isprint("a b\t\r\n"));
	EXPECT_FALSE(M_str_isprint("a\x01"));
	EXPECT_TRUE(M_str_isprint_max("a\x01", 1));
	EXPECT_TRUE(M_str_isdec("12.5"));
	EXPECT_FALSE(M_str_isdec("1,5"));
	EXPECT_TRUE(M_str_isdec_max("1.,", 2));

	EXPECT_TRUE(M_str_ispredicate("abc", M_chr_islower));
	EXPECT_FALSE(M_str_ispredicate("aBc", M_chr_islower));
	EXPECT_TRUE(M_str_ispredicate(nullptr, M_chr_islower));
	EXPECT_FALSE(M_str_ispredicate("abc", nullptr));
	EXPECT_TRUE(M_str_ispredicate_max("abC", 2, M_chr_islower));
	EXPECT_FALSE(M_str_ispredicate_max("abC", 3, M_chr_islower));

	EXPECT_TRUE(M_str_ischarset("abba", "ab"));
	EXPECT_FALSE(M_str_ischarset("abc", "ab"));
	EXPECT_TRUE(M_str_ischarset(nullptr, "ab"));
	EXPECT_FALSE(M_str_ischarset("a", nullptr));
	EXPECT_TRUE(M_str_isnotcharset("xyz", "ab"));
	EXPECT_FALSE(M_str_isnotcharset("xaz", "ab"));
	EXPECT_TRUE(M_str_isnotcharset("xyz", nullptr));
	EXPECT_TRUE(M_str_isnotcharset(nullptr, "a"));
}

TEST(m_str, money_and_truth)
{
	const char *money[] = {"0", "12", "12.3", "12.34", ".5", "5."};
	for (const char *m : money)
		EXPECT_TRUE(M_str_ismoney(m)) << m;
	const char *not_money[] = {"", "12.345", "1.2.3", "-1", "1,000", "abc", "."};
	for (const char *m : not_money)
		EXPECT_FALSE(M_str_ismoney(m)) << m;
	EXPECT_FALSE(M_str_ismoney(nullptr));

	const char *yes[] = {"yes", "Y", "TRUE", "t", "1", "On"};
	for (const char *y : yes)
		EXPECT_TRUE(M_str_istrue(y)) << y;
	const char *no[] = {"", "no", "0", "off", "yes ", "tru", "10"};
	for (const char *n : no)
		EXPECT_FALSE(M_str_istrue(n)) << n;
	EXPECT_FALSE(M_str_istrue(nullptr));
}

TEST(m_str, isstr)
{
	const unsigned char ok[]     = {'a', 'b', 0};
	const unsigned char inner0[] = {'a', 0, 'b', 0};
	const unsigned char unterm[] = {'a', 'b'};
	const unsigned char ctrl[]   = {'a', 1, 0};
	const unsigned char empty[]  = {0};
	EXPECT_TRUE(M_str_isstr(ok, sizeof(ok)));
	EXPECT_FALSE(M_str_isstr(inner0, sizeof(inner0)));
	EXPECT_FALSE(M_str_isstr(unterm, sizeof(unterm)));
	EXPECT_FALSE(M_str_isstr(ctrl, sizeof(ctrl)));
	EXPECT_TRUE(M_str_isstr(empty, 1));
	EXPECT_FALSE(M_str_isstr(ok, 0));
	EXPECT_FALSE(M_str_isstr(nullptr, 3));
}

/* ---- Comparison ---------------------------------------------------------- */

TEST(m_str, equality_table)
{
	struct Case {
		const char *a;
		const char *b;
		size_t      max;
		bool        eq_max;     /* M_str_eq_max(a, b, max) */
		bool        caseeq_max; /* M_str_caseeq_max(a, b, max) */
	};
	const Case cases[] = {
	    {nullptr, nullptr, 0, true, true}, {nullptr, "", 0, true, true},     {"", nullptr, 0, true, true},
	    {nullptr, "a", 0, false, false},   {"a", nullptr, 0, false, false},  {"abc", "abc", 0, true, true},
	    {"abc", "abd", 0, false, false},   {"abc", "abcd", 0, false, false}, {"abcd", "abc", 0, false, false},
	    {"ABC", "abc", 0, false, true},    {"abc", "abd", 2, true, true},    {"abc", "abd", 3, false, false},
	    {"ab", "abc", 3, false, false},                                     /* a terminator before max */
	    {"ab", "ab", 5, true, true},       {"xbc", "abc", 2, false, false}, /* difference before the limit */
	    {"", "", 0, true, true},           {"[", "{", 0, false, false},     /* only letters fold */
	};
	for (const Case &c : cases) {
		const std::string label =
		    std::string(c.a ? c.a : "NULL") + "|" + (c.b ? c.b : "NULL") + "|" + std::to_string(c.max);
		EXPECT_EQ(M_str_eq_max(c.a, c.b, c.max), c.eq_max) << label;
		EXPECT_EQ(M_str_caseeq_max(c.a, c.b, c.max), c.caseeq_max) << label;
		if (c.max == 0) {
			EXPECT_EQ(M_str_eq(c.a, c.b), c.eq_max) << label;
			EXPECT_EQ(M_str_caseeq(c.a, c.b), c.caseeq_max) << label;
		}
	}
	const char *same = "x";
	EXPECT_TRUE(M_str_eq(same, same));
}

TEST(m_str, starts_and_ends)
{
	EXPECT_TRUE(M_str_eq_start("abc", "ab"));
	EXPECT_TRUE(M_str_eq_start("abc", "abc"));
	EXPECT_FALSE(M_str_eq_start("abc", "abcd"));
	EXPECT_FALSE(M_str_eq_start("abc", "b"));
	/* An empty prefix means "no limit": it matches only an empty s. */
	EXPECT_FALSE(M_str_eq_start("abc", ""));
	EXPECT_FALSE(M_str_eq_start("abc", nullptr));
	EXPECT_TRUE(M_str_eq_start("", ""));
	EXPECT_TRUE(M_str_eq_start(nullptr, ""));
	EXPECT_TRUE(M_str_eq_start("", nullptr));
	EXPECT_FALSE(M_str_eq_start(nullptr, "a"));
	EXPECT_TRUE(M_str_caseeq_start("ABCdef", "abc"));
	EXPECT_FALSE(M_str_caseeq_start("ABCdef", "abd"));
	EXPECT_FALSE(M_str_caseeq_start("abc", ""));
	EXPECT_TRUE(M_str_caseeq_start(nullptr, ""));
	EXPECT_TRUE(M_str_caseeq_start("", nullptr));
	EXPECT_FALSE(M_str_caseeq_start(nullptr, "a"));

	EXPECT_TRUE(M_str_eq_end("abc", "bc"));
	EXPECT_TRUE(M_str_eq_end("abc", ""));
	EXPECT_TRUE(M_str_eq_end("abc", "abc"));
	EXPECT_FALSE(M_str_eq_end("b", "abc"));
	EXPECT_FALSE(M_str_eq_end("abc", "bd"));
	EXPECT_FALSE(M_str_eq_end(nullptr, ""));
	EXPECT_FALSE(M_str_eq_end("abc", nullptr));
	EXPECT_TRUE(M_str_caseeq_end("file.GPG", ".gpg"));
	EXPECT_FALSE(M_str_caseeq_end("file.GPG", ".pgp"));
	EXPECT_FALSE(M_str_caseeq_end(nullptr, "a"));
}

TEST(m_str, sort_orders)
{
	EXPECT_LT(M_str_cmpsort("a", "b"), 0);
	EXPECT_GT(M_str_cmpsort("b", "a"), 0);
	EXPECT_EQ(M_str_cmpsort("abc", "abc"), 0);
	EXPECT_LT(M_str_cmpsort("ab", "abc"), 0);
	EXPECT_LT(M_str_cmpsort("202401", "202402"), 0);
	EXPECT_GT(M_str_cmpsort("\xe9", "z"), 0); /* bytes compare unsigned */
	EXPECT_EQ(M_str_cmpsort(nullptr, ""), 0);
	EXPECT_LT(M_str_cmpsort(nullptr, "a"), 0);
	EXPECT_GT(M_str_cmpsort("a", nullptr), 0);
	EXPECT_EQ(M_str_cmpsort(nullptr, nullptr), 0);
	EXPECT_LT(M_str_cmpsort("B", "a"), 0);

	EXPECT_EQ(M_str_casecmpsort("ABC", "abc"), 0);
	EXPECT_GT(M_str_casecmpsort("B", "a"), 0);
	EXPECT_LT(M_str_casecmpsort(nullptr, "a"), 0);

	EXPECT_EQ(M_str_cmpsort_max("abcX", "abcY", 3), 0);
	EXPECT_LT(M_str_cmpsort_max("abcX", "abcY", 4), 0);
	EXPECT_EQ(M_str_cmpsort_max("a", "b", 0), 0);
	EXPECT_LT(M_str_cmpsort_max("ab", "abc", 5), 0);
	EXPECT_EQ(M_str_casecmpsort_max("ABx", "aby", 2), 0);
	EXPECT_LT(M_str_casecmpsort_max("ABx", "aby", 3), 0);
	EXPECT_EQ(M_str_cmpsort_max(nullptr, "", 3), 0);
	EXPECT_LT(M_str_cmpsort_max(nullptr, "a", 3), 0);
	EXPECT_GT(M_str_casecmpsort_max("a", nullptr, 3), 0);
}

/* ---- Justification -------------------------------------------------------- */

TEST(m_str, justify_types)
{
	struct Case {
		const char *src;
		int         type;
		size_t      width;
		const char *out; /* NULL: refused */
	};
	const Case cases[] = {
	    {"abc", 0, 5, "**abc"},    {"abc", 1, 5, "abc**"},  {"abc", 2, 5, "**abc"},
	    {"abc", 3, 5, "abc**"},    {"abc", 4, 5, "**abc"},  {"abc", 5, 5, "abc**"},
	    {"abc", 6, 5, "abc"},      {"abc", 7, 5, "abc"},    {"abc", 8, 5, "*abc*"},
	    {"abc", 9, 5, "*abc*"},    {"abc", 10, 5, "*abc*"}, {"abc", 8, 6, "**abc*"},
	    {"abc", 10, 7, "**abc**"}, {"abcdef", 0, 3, "def"}, {"abcdef", 1, 3, "def"},
	    {"abcdef", 2, 3, "abc"},   {"abcdef", 3, 3, "abc"}, {"abcdef", 4, 3, nullptr},
	    {"abcdef", 5, 3, nullptr}, {"abcdef", 6, 3, "abc"}, {"abcdef", 7, 3, "def"},
	    {"abcdef", 8, 3, "def"},   {"abcdef", 9, 3, "abc"}, {"abcdef", 10, 3, nullptr},
	    {"abc", 4, 3, "abc"}, /* exactly the width: not refused */
	    {"ab", 6, 5, "ab"},        {"", 0, 3, "***"},       {nullptr, 1, 2, "**"},
	    {"abc", 11, 5, nullptr}, /* unknown type */
	};
	for (const Case &c : cases) {
		char         dest[16];
		const size_t n =
		    M_str_justify(dest, sizeof(dest), c.src, static_cast<M_str_justify_type_t>(c.type), '*', c.width);
		const std::string label = std::string(c.src ? c.src : "NULL") + " type " + std::to_string(c.type) + " width " +
		                          std::to_string(c.width);
		/* The counted form with the whole length gives the same answer. */
		char         dest_max[16];
		const size_t n_max = M_str_justify_max(dest_max, sizeof(dest_max), c.src, c.src ? std::strlen(c.src) : 0,
		                                       static_cast<M_str_justify_type_t>(c.type), '*', c.width);
		EXPECT_EQ(n_max, n) << label;
		if (c.out == nullptr) {
			EXPECT_EQ(n, 0u) << label;
			EXPECT_EQ(take(M_strdup_justify(c.src, static_cast<M_str_justify_type_t>(c.type), '*', c.width)), "<NULL>")
			    << label;
			continue;
		}
		EXPECT_EQ(n, std::strlen(c.out)) << label;
		EXPECT_STREQ(dest, c.out) << label;
		EXPECT_STREQ(dest_max, c.out) << label;
		EXPECT_EQ(take(M_strdup_justify(c.src, static_cast<M_str_justify_type_t>(c.type), '*', c.width)), c.out)
		    << label;
	}
}

TEST(m_str, justify_refusals_and_sizes)
{
	char d[6] = "zzzzz";
	/* width must leave room for the terminator */
	EXPECT_EQ(M_str_justify(d, 5, "ab", M_STR_JUSTIFY_RIGHT, ' ', 5), 0u);
	EXPECT_STREQ(d, "zzzzz");
	EXPECT_EQ(M_str_justify(d, 6, "ab", M_STR_JUSTIFY_RIGHT, ' ', 5), 5u);
	EXPECT_STREQ(d, "   ab");
	EXPECT_EQ(M_str_justify(nullptr, 6, "ab", M_STR_JUSTIFY_RIGHT, ' ', 5), 0u);
	EXPECT_EQ(M_str_justify(d, 0, "ab", M_STR_JUSTIFY_RIGHT, ' ', 0), 0u);
	/* Width 0 gives an empty string. */
	EXPECT_EQ(M_str_justify(d, 6, "ab", M_STR_JUSTIFY_LEFT, ' ', 0), 0u);
	EXPECT_STREQ(d, "");
	/* src_len counts bytes of src, not up to a terminator. */
	EXPECT_EQ(M_str_justify_max(d, 6, "abcdef", 2, M_STR_JUSTIFY_LEFT, '.', 4), 4u);
	EXPECT_STREQ(d, "ab..");
	EXPECT_EQ(M_str_justify_max(d, 6, nullptr, 4, M_STR_JUSTIFY_LEFT, '.', 3), 3u);
	EXPECT_STREQ(d, "...");
}

TEST(m_str, justify_in_place_overlap)
{
	/* dest and src the same memory, padding to the left moves text right. */
	char a[16] = "abc";
	EXPECT_EQ(M_str_justify(a, sizeof(a), a, M_STR_JUSTIFY_RIGHT, '0', 8), 8u);
	EXPECT_STREQ(a, "00000abc");
	/* Source further into the destination, keeping the last characters. */
	char b[16] = "xxhello";
	EXPECT_EQ(M_str_justify_max(b, sizeof(b), b + 2, 5, M_STR_JUSTIFY_RIGHT, '-', 3), 3u);
	EXPECT_STREQ(b, "llo");
	char c[16] = "xxhi";
	EXPECT_EQ(M_str_justify_max(c, sizeof(c), c + 2, 2, M_STR_JUSTIFY_CENTER, '-', 7), 7u);
	EXPECT_STREQ(c, "---hi--");
	/* Source before the destination start within one array. */
	char d[16] = "hello";
	EXPECT_EQ(M_str_justify_max(d + 2, sizeof(d) - 2, d, 5, M_STR_JUSTIFY_LEFT, '.', 7), 7u);
	EXPECT_STREQ(d, "hehello..");
}

/* ---- Splitting and joining ----------------------------------------------- */

TEST(m_str, explode_str)
{
	size_t n     = 99;
	char **parts = M_str_explode_str(',', "a,,b,", &n);
	ASSERT_NE(parts, nullptr);
	EXPECT_EQ(n, 4u);
	EXPECT_EQ(pieces(parts, n), (V{"a", "", "b", ""}));

	parts = M_str_explode_str(',', ",", &n);
	EXPECT_EQ(pieces(parts, n), (V{"", ""}));
	parts = M_str_explode_str(',', "abc", &n);
	EXPECT_EQ(pieces(parts, n), (V{"abc"}));

	n = 99;
	EXPECT_EQ(M_str_explode_str(',', "", &n), nullptr);
	EXPECT_EQ(n, 0u);
	n = 99;
	EXPECT_EQ(M_str_explode_str(',', nullptr, &n), nullptr);
	EXPECT_EQ(n, 0u);
	EXPECT_EQ(M_str_explode_str(',', "a,b", nullptr), nullptr);

	/* The pieces lie in one block; the first entry is its start. */
	parts = M_str_explode_str('|', "x|y", &n);
	ASSERT_EQ(n, 2u);
	EXPECT_EQ(parts[1], parts[0] + 2);
	M_str_explode_free(parts, n);
	M_str_explode_free(nullptr, 3);
}

TEST(m_str, explode_bytes_with_lengths)
{
	const char data[] = {'a', 0, 'b', ';', ';', 'c'};
	size_t     n      = 0;
	size_t    *lens   = nullptr;
	char     **parts  = M_str_explode(';', data, sizeof(data), &n, &lens);
	ASSERT_NE(parts, nullptr);
	ASSERT_EQ(n, 3u);
	ASSERT_NE(lens, nullptr);
	EXPECT_EQ(lens[0], 3u);
	EXPECT_EQ(std::memcmp(parts[0], data, 3), 0);
	EXPECT_EQ(lens[1], 0u);
	EXPECT_EQ(lens[2], 1u);
	EXPECT_STREQ(parts[2], "c");
	M_free(lens);
	M_str_explode_free(parts, n);

	lens = reinterpret_cast<size_t *>(1);
	EXPECT_EQ(M_str_explode(';', nullptr, 4, &n, &lens), nullptr);
	EXPECT_EQ(lens, nullptr);
	EXPECT_EQ(M_str_explode(';', data, 0, &n, nullptr), nullptr);
	parts = M_str_explode(';', data, sizeof(data), &n, nullptr);
	EXPECT_EQ(n, 3u);
	M_str_explode_free(parts, n);
}

TEST(m_str, explode_quoted)
{
	size_t n     = 0;
	char **parts = M_str_explode_str_quoted(',', "a,\"b,c\",d", '"', '"', 0, &n);
	EXPECT_EQ(pieces(parts, n), (V{"a", "\"b,c\"", "d"}));
	/* A doubled quote stays inside the quoted part. */
	parts = M_str_explode_str_quoted(',', "\"x\"\",y\",z", '"', '"', 0, &n);
	EXPECT_EQ(pieces(parts, n), (V{"\"x\"\",y\"", "z"}));
	/* A distinct escape protects a quote. */
	parts = M_str_explode_str_quoted(',', "'a\\',b',c", '\'', '\\', 0, &n);
	EXPECT_EQ(pieces(parts, n), (V{"'a\\',b'", "c"}));
	/* Piece limit: the last piece keeps the rest. */
	parts = M_str_explode_str_quoted(',', "a,b,c,d", '"', '"', 2, &n);
	EXPECT_EQ(pieces(parts, n), (V{"a", "b,c,d"}));
	parts = M_str_explode_str_quoted(',', "a,b", 0, 0, 1, &n);
	EXPECT_EQ(pieces(parts, n), (V{"a,b"}));

	size_t *lens = nullptr;
	parts        = M_str_explode_quoted(' ', "x 'y z'", 7, '\'', '\'', 0, &n, &lens);
	ASSERT_EQ(n, 2u);
	EXPECT_EQ(lens[1], 5u);
	M_free(lens);
	M_str_explode_free(parts, n);
	EXPECT_EQ(M_str_explode_str_quoted(',', nullptr, '"', '"', 0, &n), nullptr);
}

TEST(m_str, explode_int)
{
	/* One value per piece: empty and digitless pieces read as 0. */
	size_t   n = 0;
	int64_t *v = M_str_explode_int(',', " 1, -2,,x, 30 ,99999999999999999999", &n);
	ASSERT_NE(v, nullptr);
	ASSERT_EQ(n, 6u);
	EXPECT_EQ(v[0], 1);
	EXPECT_EQ(v[1], -2);
	EXPECT_EQ(v[2], 0); /* empty piece */
	EXPECT_EQ(v[3], 0); /* digitless text converts to 0 */
	EXPECT_EQ(v[4], 30);
	EXPECT_EQ(v[5], INT64_MAX); /* saturates */
	M_free(v);
	v = M_str_explode_int(',', ",,", &n);
	ASSERT_NE(v, nullptr);
	ASSERT_EQ(n, 3u);
	EXPECT_EQ(v[0] | v[1] | v[2], 0);
	M_free(v);
	n = 99;
	EXPECT_EQ(M_str_explode_int(',', nullptr, &n), nullptr);
	EXPECT_EQ(n, 0u);
	n = 99;
	EXPECT_EQ(M_str_explode_int(',', "", &n), nullptr);
	EXPECT_EQ(n, 0u);
	EXPECT_EQ(M_str_explode_int(',', "1", nullptr), nullptr);
}

TEST(m_str, explode_lines)
{
	size_t n     = 0;
	char **lines = M_str_explode_lines(5, 10, "the quick brown fox jumps", 0, &n);
	EXPECT_EQ(pieces(lines, n), (V{"the quick", "brown fox", "jumps"}));
	/* A word longer than a line is cut; leading white space is skipped. */
	lines = M_str_explode_lines(5, 4, "  abcdefghij k", 0, &n);
	EXPECT_EQ(pieces(lines, n), (V{"abcd", "efgh", "ij k"}));
	/* Line feeds end lines; CR LF loses its CR; an empty line is kept. */
	lines = M_str_explode_lines(5, 20, "one\r\n\n  two\n", 0, &n);
	EXPECT_EQ(pieces(lines, n), (V{"one", "", "two"}));
	/* Too many lines: refused, or cut with the truncate flag. */
	n = 99;
	EXPECT_EQ(M_str_explode_lines(2, 3, "aaa bbb ccc", 0, &n), nullptr);
	EXPECT_EQ(n, 0u);
	lines = M_str_explode_lines(2, 3, "aaa bbb ccc", M_STR_EXPLODE_LINES_TRUNCATE, &n);
	EXPECT_EQ(pieces(lines, n), (V{"aaa", "bbb"}));
	/* Exactly the width breaks at the space after it. */
	lines = M_str_explode_lines(3, 3, "abc def", 0, &n);
	EXPECT_EQ(pieces(lines, n), (V{"abc", "def"}));

	EXPECT_EQ(M_str_explode_lines(3, 3, nullptr, 0, &n), nullptr);
	EXPECT_EQ(M_str_explode_lines(3, 3, "", 0, &n), nullptr);
	EXPECT_EQ(M_str_explode_lines(3, 3, "   ", 0, &n), nullptr);
	EXPECT_EQ(M_str_explode_lines(0, 3, "a", 0, &n), nullptr);
	EXPECT_EQ(M_str_explode_lines(3, 0, "a", 0, &n), nullptr);
	EXPECT_EQ(M_str_explode_lines(3, 3, "a", 0, nullptr), nullptr);
}

TEST(m_str, implode)
{
	const char *in[] = {"a", "b c", "d,e", "q\"t", "", nullptr};
	char      **p    = const_cast<char **>(in);
	EXPECT_EQ(take(M_str_implode(',', '"', '"', p, 6, M_STR_IMPLODE_NONE)), "a,b c,\"d,e\",\"q\"\"t\",,");
	EXPECT_EQ(take(M_str_implode(',', '"', '\\', p, 4, M_STR_IMPLODE_NONE)), "a,b c,\"d,e\",\"q\\\"t\"");
	EXPECT_EQ(take(M_str_implode(';', '\'', '\'', p, 2, M_STR_IMPLODE_ALWAYS_QUOTE)), "'a';'b c'");
	EXPECT_EQ(take(M_str_implode(',', 0, 0, p, 3, M_STR_IMPLODE_ALWAYS_QUOTE)), "a,b c,d,e");
	const char *lead[] = {" x"};
	EXPECT_EQ(take(M_str_implode(',', '"', '"', const_cast<char **>(lead), 1, 0)), "\" x\"");
	const char *one_empty[] = {""};
	EXPECT_EQ(take(M_str_implode(',', '"', '"', const_cast<char **>(one_empty), 1, 0)), "");
	EXPECT_EQ(M_str_implode(',', '"', '"', nullptr, 3, 0), nullptr);
	EXPECT_EQ(M_str_implode(',', '"', '"', p, 0, 0), nullptr);

	const int64_t v[] = {1, -20, INT64_MIN};
	EXPECT_EQ(take(M_str_implode_int('|', v, 3)), "1|-20|-9223372036854775808");
	EXPECT_EQ(M_str_implode_int('|', nullptr, 3), nullptr);
	EXPECT_EQ(M_str_implode_int('|', v, 0), nullptr);

	/* Explode and implode are inverse for plain pieces. */
	size_t n     = 0;
	char **parts = M_str_explode_str(',', "x,,y,", &n);
	EXPECT_EQ(take(M_str_implode(',', 0, 0, parts, n, 0)), "x,,y,");
	M_str_explode_free(parts, n);
}

/* ---- Quoting ------------------------------------------------------------- */

TEST(m_str, quote_and_unquote)
{
	EXPECT_EQ(take(M_str_quote("ab\"c", '"', '\\')), "\"ab\\\"c\"");
	EXPECT_EQ(take(M_str_quote("a\\b", '"', '\\')), "\"a\\\\b\"");
	EXPECT_EQ(take(M_str_quote("a\"b", '"', '"')), "\"a\"\"b\"");
	EXPECT_EQ(take(M_str_quote("a\"b", '"', 0)), "\"a\"\"b\"");
	EXPECT_EQ(take(M_str_quote(nullptr, '"', '"')), "\"\"");
	EXPECT_EQ(take(M_str_quote("abc", 0, '"')), "<NULL>");
	EXPECT_EQ(take(M_str_quote_max("abcdef", '\'', '\\', 3)), "'abc'");

	char *q = reinterpret_cast<char *>(1);
	EXPECT_FALSE(M_str_quote_if_necessary(&q, "plain", '"', '"', ','));
	EXPECT_EQ(q, nullptr);
	EXPECT_TRUE(M_str_quote_if_necessary(&q, "a,b", '"', '"', ','));
	EXPECT_EQ(take(q), "\"a,b\"");
	EXPECT_TRUE(M_str_quote_if_necessary(&q, "x ", '"', '"', ','));
	EXPECT_EQ(take(q), "\"x \"");
	EXPECT_TRUE(M_str_quote_if_necessary(&q, "l1\nl2", '"', '"', ','));
	EXPECT_EQ(take(q), "\"l1\nl2\"");
	EXPECT_FALSE(M_str_quote_if_necessary(&q, nullptr, '"', '"', ','));
	EXPECT_EQ(q, nullptr);
	EXPECT_FALSE(M_str_quote_if_necessary(nullptr, "a,b", '"', '"', ','));

	char a[] = "  \"ab\\\"c\\\\d\"  ";
	EXPECT_STREQ(M_str_unquote(a, '"', '\\'), "ab\"c\\d");
	char b[] = "\"a\"\"b\"";
	EXPECT_STREQ(M_str_unquote(b, '"', '"'), "a\"b");
	char c[] = " not quoted ";
	EXPECT_STREQ(M_str_unquote(c, '"', '"'), "not quoted");
	char d[] = "\"";
	EXPECT_STREQ(M_str_unquote(d, '"', '"'), "\"");
	char e[] = "\"\"";
	EXPECT_STREQ(M_str_unquote(e, '"', '"'), "");
	char f[] = "'abc'tail";
	EXPECT_STREQ(M_str_unquote_max(f, '\'', '\\', 5), "abc");
	EXPECT_EQ(M_str_unquote(nullptr, '"', '"'), nullptr);

	EXPECT_EQ(take(M_strdup_unquote("'x''y'", '\'', '\'')), "x'y");
	EXPECT_EQ(take(M_strdup_unquote_max("'x'yz", '\'', '\'', 3)), "x");
	EXPECT_EQ(M_strdup_unquote(nullptr, '"', '"'), nullptr);

	/* Round trip through quote and unquote. */
	const char *samples[] = {"", "a", "\"", "\\\"\\", "a\"\"b"};
	for (const char *s : samples) {
		char *quoted = M_str_quote(s, '"', '\\');
		EXPECT_EQ(take(M_strdup_unquote(quoted, '"', '\\')), s) << s;
		M_free(quoted);
	}
}

TEST(m_str, quoted_and_bracketed_parts)
{
	char a[] = "keep \"drop, \\\"this\" end";
	EXPECT_STREQ(M_str_remove_quoted(a, '"', '\\'), "keep  end");
	char b[] = "keep \"take \\\"this\" and \"that\"";
	EXPECT_STREQ(M_str_keep_quoted(b, '"', '\\'), "take \"thisthat");
	char c[] = "x 'a''b' y";
	EXPECT_STREQ(M_str_keep_quoted(c, '\'', '\''), "a'b");
	char d[] = "f(x) + g(y)";
	EXPECT_STREQ(M_str_remove_bracketed(d, '(', ')'), "f + g");
	char e[] = "f(x) + g(y)";
	EXPECT_STREQ(M_str_keep_bracketed(e, '(', ')'), "xy");
	char f[] = "a(b\")\"c)d";
	EXPECT_STREQ(M_str_remove_bracketed_quoted(f, '(', ')', '"', '"'), "ad");
	char g[] = "a(b\")\"c)d";
	EXPECT_STREQ(M_str_keep_bracketed_quoted(g, '(', ')', '"', '"'), "b\")\"c");
	char h[] = "a(open";
	EXPECT_STREQ(M_str_remove_bracketed(h, '(', ')'), "a");
	EXPECT_EQ(M_str_remove_quoted(nullptr, '"', '"'), nullptr);
	EXPECT_EQ(M_str_keep_quoted(nullptr, '"', '"'), nullptr);
	EXPECT_EQ(M_str_remove_bracketed(nullptr, '(', ')'), nullptr);
	EXPECT_EQ(M_str_keep_bracketed(nullptr, '(', ')'), nullptr);
	EXPECT_EQ(M_str_remove_bracketed_quoted(nullptr, '(', ')', '"', '"'), nullptr);
	EXPECT_EQ(M_str_keep_bracketed_quoted(nullptr, '(', ')', '"', '"'), nullptr);
}

/* ---- Replacing ------------------------------------------------------------ */

TEST(m_str, replace)
{
	const unsigned char set[] = {',', ';'};
	EXPECT_EQ(take(M_strdup_replace_charset("a,b;c", set, 2, "--")), "a--b--c");
	EXPECT_EQ(take(M_strdup_replace_charset("a,b;c", set, 2, nullptr)), "abc");
	EXPECT_EQ(take(M_strdup_replace_charset("a,b", nullptr, 2, "x")), "a,b");
	EXPECT_EQ(take(M_strdup_replace_charset(",", set, 1, nullptr)), "");
	EXPECT_EQ(M_strdup_replace_charset(nullptr, set, 2, "x"), nullptr);

	EXPECT_EQ(take(M_strdup_replace_str("aaa", "aa", "b")), "ba");
	EXPECT_EQ(take(M_strdup_replace_str("a.b.c", ".", "::")), "a::b::c");
	EXPECT_EQ(take(M_strdup_replace_str("abc", "abc", nullptr)), "");
	EXPECT_EQ(take(M_strdup_replace_str("abc", "", "x")), "abc");
	EXPECT_EQ(take(M_strdup_replace_str("abc", nullptr, "x")), "abc");
	EXPECT_EQ(take(M_strdup_replace_str("", "a", "x")), "");
	EXPECT_EQ(M_strdup_replace_str(nullptr, "a", "x"), nullptr);
}
