#include "tests/test_util.h"

#include "core/m_chr.h"
#include "core/m_parser.h"

namespace {

using P = M_parser_t *;
using test_util::take;

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

/* A dynamic parser holding a copy of a string. */
P dp(const char *s, uint32_t flags = M_PARSER_FLAG_NONE)
{
	P p = M_parser_create(flags);
	EXPECT_TRUE(M_parser_append(p, U(s), std::strlen(s)));
	return p;
}

M_bool is_x(unsigned char c)
{
	return c == 'x';
}

bool all_ff(const unsigned char *p, size_t n)
{
	return std::all_of(p, p + n, [](unsigned char c) { return c == 0xFF; });
}

/* ----- reader results as text, so every family fits one table ----- */

unsigned char g_bytes[16];
char          g_str[8];
M_bool        g_found;

std::string B(bool b)
{
	return b ? "1" : "0";
}

std::string N(size_t n)
{
	return std::to_string(n);
}

/* "-" for nothing read. */
std::string bytes(size_t n)
{
	return n == 0 ? "-" : std::string(reinterpret_cast<char *>(g_bytes), n);
}

std::string str(size_t n)
{
	EXPECT_EQ(std::strlen(g_str), n); /* terminated right after the bytes read */
	return n == 0 ? "-" : g_str;
}

std::string sub(P q)
{
	std::string r = q == nullptr ? "(null)" : rest(q);
	M_parser_destroy(q);
	return r;
}

/* What a read that returned n appended to g_buf (it holds a byte before); the
 * count must match (a hex reader counts the bytes read: two characters each). */
M_buf_t *g_buf;

std::string buf(size_t n, size_t chars_per_byte = 1)
{
	std::string r(M_buf_peek(g_buf) + 1, M_buf_len(g_buf) - 1);
	EXPECT_EQ(r.size(), n * chars_per_byte);
	M_buf_truncate(g_buf, 1);
	return n == 0 ? "-" : r;
}

/* Split pieces joined by "|", or "<fail>" (then no count); freed. */
size_t g_num;

std::string pieces(M_parser_t **out)
{
	std::string r = out == nullptr ? "<fail>" : "";
	for (size_t i = 0; out != nullptr && i < g_num; i++) {
		if (i != 0)
			r += '|';
		r += rest(out[i]);
	}
	EXPECT_EQ(g_num == 0, out == nullptr);
	M_parser_split_free(out, g_num);
	return r;
}

std::string found(const std::string &r)
{
	return r + (g_found ? "!" : "");
}

std::string at(P p)
{
	return "@" + N(M_parser_current_line(p)) + ":" + N(M_parser_current_column(p));
}

/* A number read, or "fail" (the output untouched); then the unread count. */
std::string uint_of(P p, M_parser_integer_type_t type, size_t len, unsigned char base)
{
	uint64_t   v  = 77;
	const bool ok = M_parser_read_uint(p, type, len, base, &v);
	return (ok ? std::to_string(v) : v == 77 ? "fail" : "clobbered") + "," + N(M_parser_len(p));
}

std::string int_of(P p, M_parser_integer_type_t type, size_t len)
{
	int64_t    v  = 77;
	const bool ok = M_parser_read_int(p, type, len, 10, &v);
	return (ok ? std::to_string(v) : v == 77 ? "fail" : "clobbered") + "," + N(M_parser_len(p));
}

std::string bcd_of(P p, size_t len)
{
	uint64_t   v  = 77;
	const bool ok = M_parser_read_uint_bcd(p, len, &v);
	return (ok ? std::to_string(v) : v == 77 ? "fail" : "clobbered") + "," + N(M_parser_len(p));
}

std::string dec_of(P p, size_t len, M_bool truncation_fail)
{
	M_decimal_t              d    = {};
	const M_decimal_retval_t rv   = M_parser_read_decimal(p, len, truncation_fail, &d);
	const char              *name = rv == M_DECIMAL_SUCCESS      ? "ok"
	                                : rv == M_DECIMAL_TRUNCATION ? "trunc"
	                                : rv == M_DECIMAL_OVERFLOW   ? "over"
	                                                             : "inv";
	return std::string(name) + " " + std::to_string(d.num) + "e-" + N(d.num_dec) + "," + N(M_parser_len(p));
}

/* Joined in order (the elements of a braced list are evaluated left to right). */
std::string S(std::initializer_list<std::string> parts)
{
	std::string r;
	for (const std::string &x : parts)
		r += x;
	return r;
}

/* Consume n bytes, then set the mark when asked. */
std::string skip(P p, size_t n, bool mark)
{
	EXPECT_TRUE(M_parser_consume(p, n));
	if (mark)
		M_parser_mark(p);
	return "";
}

std::string set_str(const char *s)
{
	std::strcpy(g_str, s);
	return "";
}

#define ROW(in, expr, want, left)                                                                                      \
	{                                                                                                                  \
		in, [](P p) -> std::string { return expr; }, want, left                                                        \
	}

/* Shorthands for the table: a call on the row's parser p. */
#define RD(fn, ...) M_parser_read_##fn(p __VA_OPT__(, ) __VA_ARGS__)
#define CS(fn, ...) M_parser_consume_##fn(p __VA_OPT__(, ) __VA_ARGS__)
#define TR(fn, ...) M_parser_truncate_##fn(p __VA_OPT__(, ) __VA_ARGS__)
#define IS(fn, ...) M_parser_is_##fn(p __VA_OPT__(, ) __VA_ARGS__)
#define BUF(fn, ...) buf(M_parser_read_buf_##fn(p, g_buf __VA_OPT__(, ) __VA_ARGS__))

struct Row {
	const char *in;
	std::string (*op)(P);
	const char *want;
	const char *left; /* unread after op; NULL: not checked */
};

const char kBin[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x09";

/* Every reader, consumer, truncator and test: input, operation, result. */
const Row kRows[] = {
    /* Inspection: nothing consumed. */
    ROW("Hello",
        S({B(M_parser_peek_bytes(p, 6, g_bytes)), B(M_parser_peek_bytes(p, 0, g_bytes)),
           B(M_parser_peek_bytes(p, 5, g_bytes)), bytes(5)}),
        "001Hello", "Hello"),
    ROW("Hello",
        S({B(M_parser_compare(p, U("Hel"), 3)), B(M_parser_compare(p, U("Hex"), 3)),
           B(M_parser_compare(p, U("Hello!"), 6)), B(M_parser_compare(p, U("H"), 0))}),
        "1000", "Hello"),
    ROW("Hello",
        S({B(M_parser_compare_str(p, "Hello", 0, M_FALSE)), B(M_parser_compare_str(p, "hello", 0, M_FALSE)),
           B(M_parser_compare_str(p, "hELLO", 0, M_TRUE)), B(M_parser_compare_str(p, "Help", 3, M_FALSE)),
           B(M_parser_compare_str(p, "Hello world", 0, M_FALSE)), B(M_parser_compare_str(p, "", 0, M_FALSE))}),
        "101100", "Hello"),
    ROW("123abc",
        S({B(IS(chr_predicate, 3, M_chr_isdigit)), B(IS(chr_predicate, 4, M_chr_isdigit)),
           B(IS(chr_predicate, 0, M_chr_isdigit)), B(IS(chr_predicate, 0, M_chr_isalnum)),
           B(IS(chr_predicate, 7, M_chr_isalnum))}),
        "10010", "123abc"),
    ROW("123abc",
        S({B(IS(not_chr_predicate, 3, M_chr_isalpha)), B(IS(not_chr_predicate, 4, M_chr_isalpha)),
           B(IS(charset, 2, U("12"), 2)), B(IS(charset, 3, U("12"), 2)), B(IS(not_charset, 0, U("xyz"), 3)),
           B(IS(not_charset, 0, nullptr, 0))}),
        "101011", "123abc"),
    ROW("123abc",
        S({B(IS(str_charset, 0, "abc123")), B(IS(not_str_charset, 2, "abc")), B(IS(predicate, 1, is_x)),
           B(IS(not_predicate, 0, is_x))}),
        "1101", "123abc"),
    ROW("", S({B(IS(not_predicate, 0, is_x)), B(M_parser_peek_byte(p, g_bytes))}), "00", ""),
    /* Binary, text and BCD integers: the value (or "fail", output untouched) and what is left. */
    ROW(kBin, uint_of(p, M_PARSER_INTEGER_BIGENDIAN, 2, 10), "258,7", nullptr),
    ROW(kBin, uint_of(p, M_PARSER_INTEGER_LITTLEENDIAN, 4, 10), "67305985,5", nullptr),
    ROW(kBin, uint_of(p, M_PARSER_INTEGER_BIGENDIAN, 8, 10), "72623859790382856,1", nullptr),
    ROW(kBin,
        S({uint_of(p, M_PARSER_INTEGER_BIGENDIAN, 9, 10), uint_of(p, M_PARSER_INTEGER_LITTLEENDIAN, 0, 10),
           uint_of(p, static_cast<M_parser_integer_type_t>(3), 2, 10)}),
        "fail,9fail,9fail,9", nullptr),
    ROW("\x01\x02\x03", uint_of(p, M_PARSER_INTEGER_BIGENDIAN, 4, 0), "fail,3", nullptr),
    ROW("\xff\xff\x80",
        S({int_of(p, M_PARSER_INTEGER_BIGENDIAN, 2), int_of(p, M_PARSER_INTEGER_LITTLEENDIAN, 1),
           int_of(p, M_PARSER_INTEGER_LITTLEENDIAN, 1)}),
        "65535,1128,0fail,0", nullptr), /* no sign extension */
    ROW("  +42xyz", S({uint_of(p, M_PARSER_INTEGER_ASCII, 0, 10), uint_of(p, M_PARSER_INTEGER_ASCII, 0, 10)}),
        "42,3fail,3", "xyz"),
    ROW("0x1F99", S({uint_of(p, M_PARSER_INTEGER_ASCII, 4, 0), uint_of(p, M_PARSER_INTEGER_ASCII, 3, 10)}),
        "31,2fail,2", "99"),
    ROW("18446744073709551616", uint_of(p, M_PARSER_INTEGER_ASCII, 0, 10), "fail,20", nullptr),
    ROW("-17,", int_of(p, M_PARSER_INTEGER_ASCII, 0), "-17,1", ","),
    ROW("", uint_of(p, M_PARSER_INTEGER_ASCII, 0, 10), "fail,0", ""),
    ROW("\x12\x34\x56", S({bcd_of(p, 2), bcd_of(p, 2), bcd_of(p, 0)}), "1234,1fail,1fail,1", nullptr),
    ROW("\x12\x3A", bcd_of(p, 2), "fail,2", nullptr),
    ROW("\x18\x44\x67\x44\x07\x37\x09\x55\x16\x15", bcd_of(p, 10), "18446744073709551615,0", nullptr),
    ROW("\x18\x44\x67\x44\x07\x37\x09\x55\x16\x16", S({bcd_of(p, 10), bcd_of(p, 11)}), "fail,10fail,10", nullptr),
    /* Decimals: only what the number used is consumed. */
    ROW("  -12.50 rest", S({dec_of(p, 0, M_FALSE), ";", dec_of(p, 0, M_FALSE)}), "ok -125e-1,5;inv 0e-0,5", " rest"),
    ROW("1.2345", S({dec_of(p, 4, M_FALSE), ";", dec_of(p, 3, M_FALSE)}), "ok 123e-2,2;inv 0e-0,2", "45"),
    ROW("0.12345678901234567890123;", S({dec_of(p, 0, M_TRUE), ";", dec_of(p, 0, M_FALSE)}),
        "trunc 1234567890123456789e-19,26;trunc 1234567890123456789e-19,1", ";"),
    ROW("99999999999999999999 x", dec_of(p, 0, M_FALSE), "over 0e-0,22", nullptr),
    ROW("", dec_of(p, 0, M_FALSE), "inv 0e-0,0", ""),
    /* Consumers: the count. */
    ROW(" \t\r\n x", N(CS(whitespace, 0)), "5", "x"),
    ROW(" \t\n x", N(CS(whitespace, M_PARSER_WHITESPACE_TO_NEWLINE)), "3", " x"),
    ROW("  \tx", N(CS(whitespace, M_PARSER_WHITESPACE_SPACEONLY)), "2", "\tx"),
    ROW("ab--cd", N(CS(until, U("--"), 2, M_FALSE)), "2", "--cd"),
    ROW("ab--cd", N(CS(until, U("--"), 2, M_TRUE)), "4", "cd"),
    ROW("ab-cd", N(CS(until, U("--"), 2, M_TRUE)), "0", "ab-cd"),
    ROW("ab--cd", found(N(CS(boundary, U("--"), 2, M_TRUE, &g_found))), "4!", "cd"),
    ROW("abc-", N(CS(boundary, U("--"), 2, M_FALSE, nullptr)), "3", "-"),
    ROW("abc", N(CS(boundary, U("--"), 2, M_FALSE, nullptr)), "3", ""),
    ROW("abc--", found(N(CS(boundary, U("---"), 3, M_TRUE, &g_found))), "3", "--"),
    ROW("abc---x", found(N(CS(boundary, U("---"), 3, M_FALSE, &g_found))), "3!", "---x"),
    ROW("abbaXab", N(CS(charset, U("ab"), 2)), "4", "Xab"),
    ROW("xyz;a", N(CS(not_charset, U(";,"), 2)), "3", ";a"),
    ROW("xyz", N(CS(not_charset, nullptr, 0)), "3", ""),
    ROW("xxxy", N(CS(predicate, is_x)), "3", "y"),
    ROW("xxxy", N(CS(predicate_max, is_x, 2)), "2", "xy"),
    ROW("123a", N(CS(chr_predicate, M_chr_isdigit)), "3", "a"),
    ROW("123a", N(CS(chr_predicate_max, M_chr_isdigit, 0)), "0", "123a"),
    ROW("key=value", S({N(CS(str_until, "", M_TRUE)), N(CS(str_until, "=", M_TRUE))}), "04", "value"),
    ROW("data\r\n\r", N(CS(str_boundary, "\r\n\r\n", M_TRUE, nullptr)), "4", "\r\n\r"),
    ROW("aabbc", N(CS(str_charset, "ab")), "4", "c"),
    ROW("hello world", N(CS(str_not_charset, " ")), "5", " world"),
    ROW("line", N(CS(eol)), "4", ""),
    ROW("a\nbb\nccc",
        S({N(CS(eol)), at(p), N(CS(str_until, "c", M_TRUE)), at(p), B(M_parser_consume(p, 0)),
           B(M_parser_consume(p, 3)), B(M_parser_consume(p, 2)), at(p)}),
        "2@2:14@3:2101@3:4", ""),
    /* Truncation from the end: the count removed. */
    ROW("ab \r\n\t", N(TR(whitespace, 0)), "4", "ab"),
    ROW("ab \n \n ", N(TR(whitespace, M_PARSER_WHITESPACE_TO_NEWLINE)), "2", "ab \n "),
    ROW("ab\t  ", N(TR(whitespace, M_PARSER_WHITESPACE_SPACEONLY)), "2", "ab\t"),
    ROW("abc;;,", N(TR(charset, U(";,"), 2)), "3", "abc"),
    ROW("abc", N(TR(str_charset, "xy")), "0", "abc"),
    ROW("abxxx", N(TR(predicate, is_x)), "3", "ab"),
    ROW("abxxx", N(TR(predicate_max, is_x, 2)), "2", "abx"),
    ROW("ab12", N(TR(chr_predicate, M_chr_isdigit)), "2", "ab"),
    ROW("ab12", N(TR(chr_predicate_max, M_chr_isdigit, 1)), "1", "ab1"),
    ROW("a;b;c", N(TR(until, U(";"), 1, M_FALSE)), "1", "a;b;"),
    ROW("a;b;c", N(TR(until, U(";"), 1, M_TRUE)), "2", "a;b"),
    ROW("abc", N(TR(until, U(";"), 1, M_TRUE)), "0", "abc"),
    ROW("k=v=w", N(TR(str_until, "=", M_TRUE)), "2", "k=v"),
    ROW("keep-drop", S({B(M_parser_truncate(p, 10)), B(M_parser_truncate(p, 4))}), "01", "keep"),
    /* Into caller bytes: "-" when nothing was read (too big for the buffer counts as nothing). */
    ROW("abc,def", S({B(RD(bytes, 0, g_bytes)), B(RD(bytes, 8, g_bytes)), B(RD(bytes, 2, g_bytes)), bytes(2)}), "001ab",
        "c,def"),
    ROW("abc,def",
        S({bytes(RD(bytes_until, g_bytes, 2, U(","), 1, M_FALSE)),
           bytes(RD(bytes_until, g_bytes, 16, U(";"), 1, M_FALSE))}),
        "--", "abc,def"),
    ROW("abc,def", bytes(RD(bytes_until, g_bytes, 16, U(","), 1, M_TRUE)), "abc,", "def"),
    ROW("def--ghi", found(bytes(RD(bytes_boundary, g_bytes, 16, U("--"), 2, M_FALSE, &g_found))), "def!", "--ghi"),
    ROW("ghi", found(bytes(RD(bytes_boundary, g_bytes, 16, U("ix"), 2, M_FALSE, &g_found))), "gh", "i"),
    ROW("aab123xyz",
        S({bytes(RD(bytes_charset, U("ab"), 2, g_bytes, 2)), bytes(RD(bytes_charset, U("ab"), 2, g_bytes, 16)),
           bytes(RD(bytes_charset, U("ab"), 2, g_bytes, 16))}),
        "-aab-", "123xyz"),
    ROW("123xyz",
        S({bytes(RD(bytes_chr_predicate, M_chr_isdigit, g_bytes, 16)), bytes(RD(bytes_predicate, is_x, g_bytes, 16)),
           bytes(RD(bytes_predicate, is_x, g_bytes, 16))}),
        "123x-", "yz"),
    ROW("yz",
        S({bytes(RD(bytes_max, 10, g_bytes, 1)), bytes(RD(bytes_max, 10, g_bytes, 16)),
           bytes(RD(bytes_max, 10, g_bytes, 16))}),
        "-yz-", ""),
    ROW("0123456789",
        S({bytes(RD(bytes_mark, g_bytes, 16)), skip(p, 2, true), skip(p, 5, false), bytes(RD(bytes_mark, g_bytes, 4)),
           N(M_parser_mark_len(p)), bytes(RD(bytes_mark, g_bytes, 16)), N(M_parser_mark_len(p))}),
        "--5234560", "789"),
    /* NULL destinations consume nothing. */
    ROW("aaa;bbb",
        S({B(RD(byte, nullptr)), N(RD(bytes_until, nullptr, 10, U(";"), 1, M_TRUE)),
           N(RD(str_until, nullptr, 10, ";", M_TRUE)), N(RD(buf_until, nullptr, U(";"), 1, M_TRUE)),
           N(RD(buf_hex, nullptr, 1)), N(RD(buf, nullptr, 1)), B(RD(uint, M_PARSER_INTEGER_BIGENDIAN, 1, 0, nullptr))}),
        "0000000", "aaa;bbb"),
    /* Into caller strings: terminated; no room for the terminator is failure. */
    ROW("abcdef",
        S({set_str("zz"), B(RD(str, 3, g_str, 3)), g_str, B(RD(str, 0, g_str, 4)), B(RD(str, 3, g_str, 4)), g_str}),
        "001abc", "def"),
    ROW("defghij;k",
        S({str(RD(str_max, 2, g_str, 8)), str(RD(str_until, g_str, 8, ";", M_FALSE)),
           str(RD(str_until, g_str, 8, "z", M_FALSE))}),
        "defghij-", ";k"),
    ROW(";k", S({str(RD(str_max, 99, g_str, 8)), str(RD(str_max, 99, g_str, 8))}), ";k-", ""),
    ROW("12ab  xy<<",
        S({str(RD(str_chr_predicate, M_chr_isdigit, g_str, 8)), str(RD(str_charset, "ba", g_str, 8)),
           str(RD(str_predicate, is_x, g_str, 8))}),
        "12ab-", "  xy<<"),
    ROW("xy<<",
        S({str(RD(str_predicate, is_x, g_str, 8)), found(str(RD(str_boundary, g_str, 8, "<<<", M_TRUE, &g_found)))}),
        "xy", "<<"),
    ROW("mark me",
        S({skip(p, 0, true), skip(p, 4, false), str(RD(str_mark, g_str, 4)), str(RD(str_mark, g_str, 5)),
           str(RD(str_mark, g_str, 5))}),
        "-mark-", " me"),
    /* A failed read clears the string; a size of 0 leaves it alone. */
    ROW("xyz",
        S({set_str("zz"), N(RD(str_boundary, g_str, 2, "q", M_TRUE, nullptr)), g_str, set_str("zz"),
           N(RD(str_until, g_str, 2, "z", M_TRUE)), g_str, set_str("zz"), N(RD(str_predicate, is_x, g_str, 1)), g_str}),
        "000", "xyz"),
    ROW("xyz",
        S({set_str("zz"), N(RD(str_predicate, is_x, g_str, 0)), g_str,
           N(RD(str_chr_predicate, M_chr_isalpha, g_str, 0)), g_str, N(RD(str_charset, "xyz", g_str, 0)), g_str,
           N(RD(str_boundary, g_str, 0, "q", M_TRUE, nullptr)), g_str, N(RD(str_max, 2, g_str, 0)), g_str}),
        "0zz0zz0zz0zz0zz", "xyz"),
    /* New strings: NULL when nothing was read. */
    ROW("name: value",
        S({take(RD(strdup_until, ":", M_FALSE)), take(RD(strdup_until, "#", M_FALSE)),
           take(RD(strdup_until, ":", M_FALSE)), take(RD(strdup_charset, ": "))}),
        "name(null)(null): ", "value"),
    ROW("value\r\nx",
        S({take(RD(strdup_chr_predicate_max, M_chr_isalpha, 3)), take(RD(strdup_chr_predicate, M_chr_isalpha)),
           take(RD(strdup_chr_predicate, M_chr_isalpha)), found(take(RD(strdup_boundary, "\r\n", M_TRUE, &g_found)))}),
        "value(null)\r\n!", "x"),
    ROW("\x01\xAB", S({take(RD(strdup_hex, 3)), take(RD(strdup_hex, 2)), take(RD(strdup, 1))}), "(null)01AB(null)", ""),
    ROW("xxxyyy",
        S({take(RD(strdup_predicate_max, is_x, 2)), take(RD(strdup_predicate, is_x)), take(RD(strdup, 0)),
           take(RD(strdup_mark))}),
        "xxx(null)(null)", "yyy"),
    ROW("yyy",
        S({skip(p, 0, true), take(RD(strdup_mark)), skip(p, 2, false), take(RD(strdup_mark)), N(M_parser_mark_len(p)),
           take(RD(strdup, 1))}),
        "(null)yy0y", ""),
    /* New parsers. */
    ROW("ab|efgh", S({sub(RD(parser_until, U("|"), 1, M_TRUE)), sub(RD(parser_until, U("|"), 1, M_TRUE))}), "ab|(null)",
        "efgh"),
    ROW("efgh",
        S({sub(RD(parser, 5)), sub(RD(parser, 0)), sub(RD(parser, 1)),
           found(sub(RD(parser_boundary, U("hz"), 2, M_FALSE, &g_found)))}),
        "(null)(null)efg", "h"),
    ROW("aab12xxq",
        S({sub(RD(parser_charset, U("a"), 1)), sub(RD(parser_charset, U("a"), 1)),
           sub(M_parser_read_parser_predicate_max(
               p, [](unsigned char c) -> M_bool { return c == 'b'; }, 5))}),
        "aa(null)b", "12xxq"),
    ROW("12xxq",
        S({sub(RD(parser_chr_predicate_max, M_chr_isdigit, 1)), sub(RD(parser_chr_predicate, M_chr_isdigit)),
           sub(RD(parser_predicate_max, is_x, 1))}),
        "12x", "xq"),
    ROW("xxq", S({skip(p, 0, true), sub(RD(parser_predicate, is_x)), sub(RD(parser_mark)), sub(RD(parser_mark))}),
        "xxxx(null)", "q"),
    /* Split: the whole text goes into the pieces. */
    ROW("a,b,,c", pieces(M_parser_split(p, ',', 0, 0, &g_num)), "a|b||c", ""),
    ROW("a,b,,c", pieces(M_parser_split(p, ',', 2, 0, &g_num)), "a|b,,c", ""),
    ROW("a,b,", pieces(M_parser_split(p, ',', 0, 0, &g_num)), "a|b|", ""),
    ROW("abc", pieces(M_parser_split(p, ',', 0, 0, &g_num)), "abc", ""),
    ROW("abc", pieces(M_parser_split(p, ',', 0, M_PARSER_SPLIT_FLAG_NODELIM_FAIL, &g_num)), "<fail>", "abc"),
    ROW(",", pieces(M_parser_split(p, ',', 1, 0, &g_num)), ",", ""),
    ROW("one<->two<->three", pieces(M_parser_split_str_pat(p, "<->", 0, 0, &g_num)), "one|two|three", ""),
    ROW("a,b", pieces(M_parser_split_str_pat(p, "", 0, 0, &g_num)), "<fail>", "a,b"),
    ROW("1--2--3",
        S({pieces(M_parser_split_pat(p, U("--"), 2, 2, 0, &g_num)),
           pieces(M_parser_split_pat(p, U("--"), 2, 0, 0, &g_num))}),
        "1|2--3<fail>", ""),
    /* Appended to a buffer. */
    ROW("\x0a\xff"
        "abc",
        S({buf(RD(buf_hex, g_buf, 6), 2), buf(RD(buf_hex, g_buf, 2), 2)}), "-0AFF", "abc"),
    ROW("abc;def;gh",
        S({buf(M_parser_read_buf(p, g_buf, 1)), buf(M_parser_read_buf(p, g_buf, 0)), BUF(until, U(";"), 1, M_TRUE),
           BUF(until, U("#"), 1, M_TRUE)}),
        "a-bc;-", "def;gh"),
    ROW("def;gh",
        S({found(BUF(boundary, U(";g"), 2, M_FALSE, &g_found)), found(BUF(boundary, U("h!"), 2, M_FALSE, &g_found)),
           BUF(max, 10)}),
        "def!;gh", ""),
    ROW("aa--12xy!",
        S({BUF(charset, U("a"), 1), BUF(not_charset, U("0123456789"), 10), BUF(chr_predicate_max, M_chr_isdigit, 1),
           BUF(chr_predicate, M_chr_isdigit)}),
        "aa--12", "xy!"),
    ROW("xy!", S({skip(p, 0, true), BUF(predicate_max, is_x, 0), BUF(predicate, is_x), BUF(mark), BUF(mark)}), "-xx-",
        "y!"),
};

} // namespace

TEST(m_parser, readers_table)
{
	/* Each row alike on a constant parser and a dynamic one, which has wiped
	 * every byte it consumed or truncated unless a mark still holds them. */
	for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); i++) {
		const Row   &r = kRows[i];
		const size_t n = std::strlen(r.in);
		for (const bool dynamic : {false, true}) {
			SCOPED_TRACE("row " + std::to_string(i) + " [" + r.in + (dynamic ? "] dynamic" : "] constant"));
			std::memset(g_str, 0, sizeof(g_str));
			g_found = M_FALSE;
			g_num   = 99;
			P p     = M_parser_create(M_PARSER_FLAG_TRACKLINES);
			if (!dynamic && n > 0) {
				M_parser_destroy(p);
				p = M_parser_create_const(U(r.in), n, M_PARSER_FLAG_TRACKLINES);
			} else if (n > 0) {
				ASSERT_TRUE(M_parser_append(p, U(r.in), n));
			}
			const unsigned char *base = M_parser_peek(p);
			g_buf                     = M_buf_create();
			M_buf_add_byte(g_buf, '>');
			EXPECT_EQ(r.op(p), r.want);
			M_buf_cancel(g_buf);
			EXPECT_TRUE(r.left == nullptr || rest(p) == r.left) << rest(p);
			if (dynamic && n > 0 && M_parser_mark_len(p) == 0) {
				const size_t off = M_parser_current_offset(p);
				const size_t len = M_parser_len(p);
				EXPECT_TRUE(all_ff(base, off)) << "consumed bytes kept";
				EXPECT_TRUE(all_ff(base + off + len, n - off - len)) << "truncated bytes kept";
			}
			M_parser_destroy(p);
		}
	}
}

TEST(m_parser, lifecycle_and_caller_storage)
{
	EXPECT_EQ(M_parser_create_const(nullptr, 5, 0), nullptr);
	const char         text[] = "hello";
	M_parser_storage_t st;
	P                  p = M_parser_init(&st, U(text), 5, M_PARSER_FLAG_TRACKLINES);
	EXPECT_EQ(M_parser_peek(p), U(text)); /* not copied */
	EXPECT_EQ(M_parser_current_line(p), 1u);
	/* A constant parser refuses data. */
	EXPECT_FALSE(M_parser_append(p, U("x"), 1));
	size_t n = 4;
	EXPECT_EQ(M_parser_direct_write_start(p, &n), nullptr);
	M_parser_direct_write_end(p, 1);
	M_parser_destroy(p); /* must leave caller storage alone */
	EXPECT_EQ(M_parser_len(p), 5u);
	p = M_parser_init(&st, nullptr, 99, 0); /* no data: empty; no tracking: no line or column */
	EXPECT_EQ(N(M_parser_len(p)) + at(p), "0@0:0");

	P d = M_parser_create(0);
	EXPECT_EQ(M_parser_peek(d), nullptr); /* never received data */
	EXPECT_TRUE(M_parser_append(d, nullptr, 0));
	EXPECT_FALSE(M_parser_append(d, nullptr, 1));
	EXPECT_TRUE(M_parser_append(d, U("abcdefgh"), 8)); /* the buffer is full */
	/* Its own unread bytes: copied aside before the old block goes away. */
	ASSERT_TRUE(M_parser_append(d, M_parser_peek(d), M_parser_len(d)));
	EXPECT_EQ(rest(d), "abcdefghabcdefgh");
	ASSERT_TRUE(M_parser_consume(d, 10));
	ASSERT_TRUE(M_parser_append(d, M_parser_peek(d), 3)); /* after compaction */
	EXPECT_EQ(rest(d), "cdefghcde");
	M_parser_destroy(d);

	/* Reset: a constant parser goes back to its start, a dynamic one drops the mark. */
	p = M_parser_create_const(U("x\nyz"), 4, M_PARSER_FLAG_TRACKLINES);
	ASSERT_TRUE(M_parser_consume(p, 3));
	M_parser_mark(p);
	EXPECT_EQ(M_parser_reset(p), 3u);
	EXPECT_EQ(rest(p) + at(p) + N(M_parser_current_offset(p) + M_parser_mark_len(p)), "x\nyz@1:10");
	M_parser_destroy(p);
	d = dp("abc");
	ASSERT_TRUE(M_parser_consume(d, 2));
	EXPECT_EQ(M_parser_reset(d), 0u);
	EXPECT_EQ(rest(d) + N(M_parser_current_offset(d)), "c2");
	M_parser_destroy(d);
}

TEST(m_parser, marks_hold_and_release_bytes)
{
	/* Moving or clearing a set mark releases what it protected. */
	P                    p = dp("abcdef");
	const unsigned char *c = M_parser_peek(p);
	ASSERT_TRUE(M_parser_consume(p, 1));
	M_parser_mark(p);
	ASSERT_TRUE(M_parser_consume(p, 2));
	EXPECT_EQ(std::string(reinterpret_cast<const char *>(c), 3), "\xFF"
	                                                             "bc");
	M_parser_mark(p);
	EXPECT_TRUE(all_ff(c, 3));
	ASSERT_TRUE(M_parser_consume(p, 1));
	EXPECT_EQ(c[3], 'd');
	M_parser_mark_clear(p);
	EXPECT_TRUE(all_ff(c, 4));
	M_parser_destroy(p);
}

TEST(m_parser, frames)
{
	/* "AB": LRC of the message alone 'A'^'B' = 0x03; with ETX 0x00; with STX
	 * and ETX 0x02. */
	const struct {
		const char            *text; /* "{" is STX, "}" ETX */
		int                    lrc;  /* the byte after the text; -1: none */
		uint32_t               flags;
		M_parser_frame_error_t result;
		const char            *message;
		size_t                 left;
	} frames[] = {
	    {"{AB}", 0x03, 0, M_PARSER_FRAME_ERROR_SUCCESS, "AB", 1},
	    {"{AB}", 0x00, M_PARSER_FRAME_LRC_INCLUDE_ETX, M_PARSER_FRAME_ERROR_SUCCESS, "AB", 0},
	    {"{AB}", 0x02, M_PARSER_FRAME_LRC_INCLUDE_STX | M_PARSER_FRAME_LRC_INCLUDE_ETX, M_PARSER_FRAME_ERROR_SUCCESS,
	     "AB", 0},
	    {"{A}", -1, 0, M_PARSER_FRAME_ERROR_INVALID, nullptr, 3},
	    {"XAB}", 0x03, 0, M_PARSER_FRAME_ERROR_NO_STX, nullptr, 5},
	    {"{ABCD", -1, 0, M_PARSER_FRAME_ERROR_NO_ETX, nullptr, 5},
	    {"{ABC}", -1, 0, M_PARSER_FRAME_ERROR_NO_LRC, nullptr, 5},
	    {"{AB}", 0x07, 0, M_PARSER_FRAME_ERROR_LRC_CALC, nullptr, 1},
	};
	for (const auto &c : frames) {
		std::string bytes = c.text;
		std::replace(bytes.begin(), bytes.end(), '{', '\x02');
		std::replace(bytes.begin(), bytes.end(), '}', '\x03');
		if (c.lrc >= 0)
			bytes += std::string(1, static_cast<char>(c.lrc)) + (c.left == 1 ? "z" : "");
		P p       = M_parser_create_const(U(bytes.data()), bytes.size(), 0);
		P message = reinterpret_cast<P>(1);
		EXPECT_EQ(M_parser_read_stxetxlrc_message(p, &message, c.flags), c.result) << c.text;
		EXPECT_EQ(c.message == nullptr ? message == nullptr : sub(message) == c.message, true) << c.text;
		EXPECT_EQ(M_parser_len(p), c.left) << c.text;
		M_parser_destroy(p);
	}
}

/* A dynamic parser against a plain model through a long random walk, so
 * compaction behind the marks and growth are exercised at every offset. */
TEST(m_parser, random_walk_matches_model)
{
	uint64_t state = 0x9E3779B97F4A7C15ULL;
	auto     rnd   = [&state](size_t n) -> size_t {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<size_t>((state >> 33) % n);
	};
	P           p = M_parser_create(M_PARSER_FLAG_TRACKLINES);
	std::string all;      /* every byte not truncated, consumed or not */
	size_t      cur  = 0; /* model cursor into all */
	size_t      mark = SIZE_MAX;
	for (int step = 0; step < 4000; step++) {
		const size_t unread = all.size() - cur;
		switch (rnd(8)) {
			case 0:
			case 1: { /* append */
				std::string add;
				for (size_t i = 1 + rnd(40); i > 0; i--)
					add.push_back(static_cast<char>(rnd(4) == 0 ? '\n' : 'a' + rnd(26)));
				ASSERT_TRUE(M_parser_append(p, U(add.c_str()), add.size()));
				all += add;
				break;
			}
			case 2: { /* direct write */
				const size_t   want = 1 + rnd(30);
				size_t         room = want;
				unsigned char *w    = M_parser_direct_write_start(p, &room);
				ASSERT_NE(w, nullptr);
				ASSERT_GE(room, want);
				const size_t n = rnd(want + 1);
				for (size_t i = 0; i < n; i++)
					w[i] = static_cast<unsigned char>('A' + rnd(26));
				all.append(reinterpret_cast<char *>(w), n);
				M_parser_direct_write_end(p, room + 1); /* beyond the window: refused */
				M_parser_direct_write_end(p, n);
				break;
			}
			case 3:
			case 4: { /* consume */
				const size_t n = rnd(unread + 1);
				ASSERT_TRUE(M_parser_consume(p, n));
				cur += n;
				break;
			}
			case 5:
				M_parser_mark(p);
				mark = cur;
				break;
			case 6:
				if (rnd(2) == 0) {
					EXPECT_EQ(M_parser_mark_rewind(p), mark == SIZE_MAX ? 0 : cur - mark);
					cur = mark == SIZE_MAX ? cur : mark;
				} else {
					M_parser_mark_clear(p);
					mark = SIZE_MAX;
				}
				break;
			case 7: { /* truncate a little */
				const size_t keep = unread - rnd(unread < 5 ? unread + 1 : 5);
				ASSERT_TRUE(M_parser_truncate(p, keep));
				all.resize(cur + keep);
				break;
			}
		}
		ASSERT_EQ(rest(p), all.substr(cur)) << "step " << step;
		ASSERT_EQ(M_parser_current_offset(p), cur);
		ASSERT_EQ(M_parser_mark_len(p), mark == SIZE_MAX ? 0 : cur - mark);
		const size_t nl = all.rfind('\n', cur == 0 ? std::string::npos : cur - 1);
		const size_t line =
		    1 + static_cast<size_t>(std::count(all.begin(), all.begin() + static_cast<long>(cur), '\n'));
		const size_t col = cur == 0 || nl == std::string::npos ? cur + 1 : cur - nl;
		ASSERT_EQ(at(p), std::string("@") + N(line) + ":" + N(col)) << "step " << step;
		size_t               len = 99;
		const unsigned char *m   = M_parser_peek_mark(p, &len); /* no mark: the cursor */
		ASSERT_EQ(m + len, M_parser_peek(p));
		ASSERT_EQ(std::string(reinterpret_cast<const char *>(m), len),
		          mark == SIZE_MAX ? "" : all.substr(mark, cur - mark));
	}
	M_parser_destroy(p);
}
