#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str_fmt.h"
#include "fs/m_fs_file.h"

namespace {

/* Format into a std::string through M_snprintf, sized by a first NULL call. */
std::string fmt(const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	va_list ap2;
	va_copy(ap2, ap);
	const ssize_t need = M_vsnprintf(nullptr, 0, format, ap);
	va_end(ap);
	std::string   out(static_cast<size_t>(need) + 1, '\x7f');
	const ssize_t got = M_vsnprintf(out.data(), out.size(), format, ap2);
	va_end(ap2);
	EXPECT_EQ(got, need) << format;
	EXPECT_EQ(out[static_cast<size_t>(need)], '\0') << format;
	out.resize(static_cast<size_t>(need));
	return out;
}

/* The C library's text, for the cases where the two engines must agree. */
std::string crt(const char *format, ...)
{
	char    buf[512];
	va_list ap;
	va_start(ap, format);
	const int n = std::vsnprintf(buf, sizeof(buf), format, ap);
	va_end(ap);
	return std::string(buf, static_cast<size_t>(n));
}

} /* namespace */

/* ---------------------------------------------------------------------------
 * Floating point
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, float_rounds_the_scaled_binary_fraction)
{
	struct Case {
		const char *format;
		double      value;
		const char *want;
	};
	const Case cases[] = {
	    {"%0.3f", 1.2346, "1.235"}, /* "0" is a flag: width 0 */
	    {"%0.3f", 1.2345, "1.234"}, /* nearest double lies just below */
	    {"%0.3f", 43.0, "43.000"},
	    {"%0.3f", 0.043, "0.043"},
	    {"%.2f", 0.125, "0.13"}, /* exact half: away from zero */
	    {"%.0f", 2.5, "3"},
	    {"%.0f", 0.5, "1"},
	    {"%.0f", -2.5, "-3"},
	    {"%.2f", 9.999, "10.00"}, /* carry into the integer part */
	    {"%.1f", 99.96, "100.0"},
	    {"%.2f", 1.005, "1.00"},
	    {"%.1f", 0.15, "0.2"}, /* 0.1499999... times 10 rounds to the double 1.5 */
	    {"%f", -1.5, "-1.500000"},
	    {"%+f", 0.0, "+0.000000"},
	    {"% f", 2.0, " 2.000000"},
	    {"%+ f", 2.0, "+2.000000"},
	    {"%f", -0.0, "0.000000"}, /* negative zero is not negative */
	    {"%.2f", -0.001, "-0.00"},
	    {"%.f", 7.5, "8"}, /* "." alone: precision 0 */
	    {"%e", 1.5, "1.500000"},
	    {"%E", 1.5, "1.500000"},
	    {"%g", 100000000.0, "100000000.000000"},
	    {"%G", 0.25, "0.250000"},
	    {"%F", 3.0, "3.000000"},
	    {"%10.2f", 3.14159, "      3.14"},
	    {"%-10.2f|", 3.14159, "3.14      |"},
	    {"%010.2f", -3.14159, "-000003.14"},
	    {"%+08.1f", 2.25, "+00002.3"},
	    {"%.3f", 1e15 + 0.25, "1000000000000000.250"},
	    {"%.0f", 1e300,
	     "100000000000000005250476025520442024870446858110815915491585411551180245798890819578637137508044"
	     "786404370444383288387817694252323536043057564479218478670698284838720092657580373783023379478809"
	     "005936895323497079994508111903896764088007465274278014249457925878882005684283811566947219638686"
	     "5459400540160"},
	};
	for (const Case &c : cases)
		EXPECT_EQ(fmt(c.format, c.value), c.want) << c.format << " of " << c.value;
}

TEST(m_str_fmt, float_specials_and_precision_cap)
{
	const double inf = std::numeric_limits<double>::infinity();
	const double nan = std::numeric_limits<double>::quiet_NaN();
	EXPECT_EQ(fmt("%f", nan), "nan");
	EXPECT_EQ(fmt("%f", -nan), "nan"); /* NaN counts as non-negative */
	EXPECT_EQ(fmt("%+f", nan), "+nan");
	EXPECT_EQ(fmt("%f", inf), "inf");
	EXPECT_EQ(fmt("%f", -inf), "-inf");
	EXPECT_EQ(fmt("%6f|%-6f|", -inf, inf), "  -inf|inf   |");
	EXPECT_EQ(fmt("%06f", -inf), "-00inf");

	/* The precision is capped at 100 digits. */
	const std::string capped = fmt("%.150f", 0.5);
	EXPECT_EQ(capped, "0." + std::string("5") + std::string(99, '0'));
	/* The largest double prints every one of its 309 digits. */
	const std::string biggest = fmt("%.0f", std::numeric_limits<double>::max());
	EXPECT_EQ(biggest.size(), 309u);
	EXPECT_EQ(biggest, crt("%.0f", std::numeric_limits<double>::max()));
}

TEST(m_str_fmt, float_whole_numbers_agree_with_crt)
{
	/* With no fraction the two engines have nothing to round differently,
	 * so powers of two and large values test the exact integer digits. */
	std::mt19937_64 rng(7);
	for (int e = 0; e < 1024; e += 3) {
		const double v = std::ldexp(1.0 + static_cast<double>(rng() >> 12) / 4503599627370496.0, e);
		const double w = std::floor(v);
		ASSERT_EQ(fmt("%.0f", w), crt("%.0f", w)) << e;
		ASSERT_EQ(fmt("%.2f", -w), crt("%.2f", -w)) << e;
	}
}

TEST(m_str_fmt, float_long_precisions_are_exact)
{
	/* Beyond 22 places 10^p is no double, and once F * 10^p reaches 2^52 the
	 * product has lost digits; the fraction is then scaled exactly, so the
	 * digits are the true expansion of the double. Random
	 * values below 1000 have expansions of 43 places or more, so up to 30
	 * places there are no ties and the C library (which rounds the exact
	 * value too) agrees. */
	std::mt19937_64                        rng(99);
	std::uniform_real_distribution<double> dist(0.0, 1000.0);
	for (int i = 0; i < 2000; i++) {
		const double v = dist(rng);
		for (const char *f : {"%.23f", "%.26f", "%.30f"})
			ASSERT_EQ(fmt(f, v), crt(f, v)) << f << " of " << v;
	}
	EXPECT_EQ(fmt("%.30f", 0.1), "0.100000000000000005551115123126");
	/* 0.1 * 10^18 is past 2^52: exact digits at 18 places, too. */
	EXPECT_EQ(fmt("%.18f", 1.1), "1.100000000000000089");
	/* An exact tie (the expansion ends in 5 at place 41): away from zero. */
	EXPECT_EQ(fmt("%.40f", 873.69384988217325), "873.6938498821732537180650979280471801757813");
	/* Exact digits just below a whole number, rounded at the last place. */
	EXPECT_EQ(fmt("%.25f", 1.9999999999999998), "1.9999999999999997779553951");
	EXPECT_EQ(fmt("%.23f", 0.9999999999999999), "0.99999999999999988897770");
	EXPECT_EQ(fmt("%.23f", std::numeric_limits<double>::denorm_min()), "0.00000000000000000000000");
}

/* ---------------------------------------------------------------------------
 * Strings and characters
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, string_padding_and_precision)
{
	struct Case {
		const char *format;
		const char *value;
		const char *want;
	};
	const Case cases[] = {
	    {"%s", nullptr, "<NULL>"},    {"%.2s", nullptr, "<NULL>"}, /* precision does not apply to <NULL> */
	    {"%8s", nullptr, "  <NULL>"}, {"%.2s", "abc", "ab"},       {"%.0s|", "abc", "|"},   {"%.10s", "abc", "abc"},
	    {"%5s", "ab", "   ab"},       {"%-5s|", "ab", "ab   |"},   {"%05s", "ab", "   ab"}, /* always spaces */
	    {"%-05s|", "ab", "ab   |"},   {"%1s", "abc", "abc"},       {"%s", "", ""},
	};
	for (const Case &c : cases)
		EXPECT_EQ(fmt(c.format, c.value), c.want) << c.format;

	/* The precision bounds the read: an unterminated array is safe. */
	const char raw[3] = {'x', 'y', 'z'};
	EXPECT_EQ(fmt("%.3s", raw), "xyz");
}

TEST(m_str_fmt, char_uses_width_and_fill)
{
	EXPECT_EQ(fmt("%c", 'a'), "a");
	EXPECT_EQ(fmt("%3c", 'a'), "  a");
	EXPECT_EQ(fmt("%-3c|", 'a'), "a  |");
	EXPECT_EQ(fmt("%03c", 'a'), "00a");
	EXPECT_EQ(fmt("%c", 0x141), "A"); /* one byte of the int */
	const std::string nul = fmt("a%cb", 0);
	EXPECT_EQ(nul, std::string("a\0b", 3));
}

/* ---------------------------------------------------------------------------
 * Integers
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, integer_named_cases)
{
	EXPECT_EQ(fmt("%llu", std::numeric_limits<unsigned long long>::max()), "18446744073709551615");
	EXPECT_EQ(fmt("%lld", std::numeric_limits<long long>::min()), "-9223372036854775808");
	EXPECT_EQ(fmt("%ld", std::numeric_limits<long>::min()), "-9223372036854775808");
	EXPECT_EQ(fmt("%I64d", std::numeric_limits<int64_t>::min()), "-9223372036854775808");
	EXPECT_EQ(fmt("%I64x", UINT64_C(0x123456789abcdef0)), "123456789abcdef0");
	EXPECT_EQ(fmt("%zu", SIZE_MAX), "18446744073709551615");
	EXPECT_EQ(fmt("%I32d", -5), "-5");
	EXPECT_EQ(fmt("%d", INT_MIN), "-2147483648");
	EXPECT_EQ(fmt("%hhd", 255), "-1");
	EXPECT_EQ(fmt("%hhu", 257), "1");
	EXPECT_EQ(fmt("%hu", 65537), "1");
	EXPECT_EQ(fmt("%hd", 32768), "-32768");
	EXPECT_EQ(fmt("%#x", 0), "0x0");
	EXPECT_EQ(fmt("%#X", 255), "0XFF");
	EXPECT_EQ(fmt("%#o", 0), "0");
	EXPECT_EQ(fmt("%#o", 8), "010");
	EXPECT_EQ(fmt("%O", 8), "10");
	EXPECT_EQ(fmt("%05d", -42), "-0042");
	EXPECT_EQ(fmt("%#06x", 255), "0x00ff");
	EXPECT_EQ(fmt("%5d", -42), "  -42");
	EXPECT_EQ(fmt("%-5d|", -42), "-42  |");
	EXPECT_EQ(fmt("%+ d", 5), "+5");
	EXPECT_EQ(fmt("% +d", 5), "+5");
	EXPECT_EQ(fmt("% d", 5), " 5");
	EXPECT_EQ(fmt("%+u", 5u), "5");
	EXPECT_EQ(fmt("%0-5d|", 7), "7    |"); /* "-" after "0": back to spaces */
	EXPECT_EQ(fmt("%-05d|", 7), "7    |");
	EXPECT_EQ(fmt("%.3d", 7), "7"); /* no precision for integers */
	EXPECT_EQ(fmt("%*d", 4, 7), "   7");
	EXPECT_EQ(fmt("%*d", -4, 7), "7"); /* negative width: ignored */
	EXPECT_EQ(fmt("%.*s", 2, "abc"), "ab");
	EXPECT_EQ(fmt("%.*s", -1, "abc"), ""); /* "." read: precision stays 0 */
	EXPECT_EQ(fmt("%%"), "%");
	EXPECT_EQ(fmt("100%% %d%%", 5), "100% 5%");
}

TEST(m_str_fmt, integer_reads_the_argument_at_its_length)
{
	/* "%d" of a 64-bit argument prints only its low 32 bits, signed. */
	EXPECT_EQ(fmt("%d", INT64_C(0x100000005)), "5");
	EXPECT_EQ(fmt("%d", INT64_C(0x1FFFFFFFF)), "-1");
	EXPECT_EQ(fmt("%I32d", INT64_C(0x1FFFFFFFF)), "-1");
	EXPECT_EQ(fmt("%u", INT64_C(0x1FFFFFFFF)), "4294967295");
	/* Arguments after it are still read from the right place. */
	EXPECT_EQ(fmt("%d %s", INT64_C(0x100000002), "x"), "2 x");
	/* "l" is 64-bit on this host: a long prints whole. */
	EXPECT_EQ(fmt("%lx", 0x123456789L), "123456789");
}

TEST(m_str_fmt, pointers)
{
	EXPECT_EQ(fmt("%p", static_cast<void *>(nullptr)), "0x0");
	EXPECT_EQ(fmt("%p", reinterpret_cast<void *>(uintptr_t{0xabc})), "0xabc");
	EXPECT_EQ(fmt("%P", reinterpret_cast<void *>(uintptr_t{0xabc})), "0XABC");
	EXPECT_EQ(fmt("%+p", reinterpret_cast<void *>(uintptr_t{0x1})), "0x1");
	EXPECT_EQ(fmt("%8p|%-8p|", reinterpret_cast<void *>(uintptr_t{0x1f}), reinterpret_cast<void *>(uintptr_t{0x1f})),
	          "    0x1f|0x1f    |");
	EXPECT_EQ(fmt("%08p", reinterpret_cast<void *>(uintptr_t{0x1f})), "0x00001f");
	EXPECT_EQ(fmt("%p", reinterpret_cast<void *>(UINTPTR_MAX)), "0xffffffffffffffff");
}

TEST(m_str_fmt, integers_agree_with_crt_on_generated_cases)
{
	/* Every flag set, width and length where the two engines are meant to
	 * agree: the precision (ignored here) and "#x" of 0 ("0x0" here) are left
	 * out. */
	const char *flag_sets[] = {"", "-", "+", " ", "#", "0", "+0", " 0", "-+", "#0", "-#", "0+ "};
	const char *widths[]    = {"", "1", "5", "12", "25"};
	const char *lengths[]   = {"hh", "h", "", "l", "ll"};
	const char  convs[]     = {'d', 'i', 'u', 'o', 'x', 'X'};

	std::vector<uint64_t> values = {0,          1,
	                                7,          8,
	                                9,          10,
	                                127,        128,
	                                255,        256,
	                                32767,      32768,
	                                65535,      65536,
	                                INT32_MAX,  UINT64_C(0x80000000),
	                                UINT32_MAX, UINT64_C(0x100000000),
	                                INT64_MAX,  UINT64_C(0x8000000000000000),
	                                UINT64_MAX};
	std::mt19937_64       rng(42);
	for (int i = 0; i < 40; i++)
		values.push_back(rng() >> (rng() % 64));
	const size_t edge_count = values.size();
	for (size_t i = 0; i < edge_count; i++)
		values.push_back(0 - values[i]); /* the negatives too */

	size_t checked = 0;
	for (const char *flags : flag_sets) {
		for (const char *width : widths) {
			for (const char *len : lengths) {
				for (const char conv : convs) {
					/* "+" and " " sign octal and hexadecimal here, where the C
					 * library ignores them: pinned separately below. */
					const bool signed_flag = std::strpbrk(flags, "+ ") != nullptr;
					if (signed_flag && conv != 'd' && conv != 'i' && conv != 'u')
						continue;
					const std::string f = std::string("[%") + flags + width + len + conv + "]";
					for (const uint64_t v : values) {
						const bool wide = len[0] == 'l';
						if (std::strchr(flags, '#') != nullptr && (conv == 'x' || conv == 'X')) {
							/* "#x" of 0 differs on purpose; compare the rest. */
							const uint64_t narrowed = wide                             ? v
							                          : len[0] == 'h' && len[1] == 'h' ? (v & 0xFF)
							                          : len[0] == 'h'                  ? (v & 0xFFFF)
							                                                           : (v & 0xFFFFFFFF);
							if (narrowed == 0)
								continue;
						}
						std::string ours;
						std::string theirs;
						if (wide) {
							ours   = fmt(f.c_str(), static_cast<long long>(v));
							theirs = crt(f.c_str(), static_cast<long long>(v));
						} else {
							ours   = fmt(f.c_str(), static_cast<int>(static_cast<uint32_t>(v)));
							theirs = crt(f.c_str(), static_cast<int>(static_cast<uint32_t>(v)));
						}
						ASSERT_EQ(ours, theirs) << f << " of " << v;
						checked++;
					}
				}
			}
		}
	}
	EXPECT_GT(checked, 60000u);
}

TEST(m_str_fmt, sign_flags_apply_to_octal_and_hex_but_not_to_unsigned_decimal)
{
	/* The sign rule covers every integer conversion; only "u" drops it. So an
	 * octal or hexadecimal value, never negative, gets "+" or " " in front,
	 * before any "0"/"0x" prefix, and zero fill goes after both. */
	struct Case {
		const char *format;
		unsigned    value;
		const char *want;
	};
	const Case cases[] = {
	    {"%+x", 255, "+ff"},
	    {"% x", 255, " ff"},
	    {"%+ x", 255, "+ff"},
	    {"% +X", 255, "+FF"},
	    {"%+x", 0, "+0"},
	    {"%+o", 8, "+10"},
	    {"% o", 8, " 10"},
	    {"%+O", 8, "+10"},
	    {"%+#x", 255, "+0xff"},
	    {"% #X", 255, " 0XFF"},
	    {"%+#o", 8, "+010"},
	    {"%+#o", 0, "+0"},
	    {"%+06x", 255, "+000ff"},
	    {"%+#08x", 255, "+0x000ff"},
	    {"% 6x", 255, "    ff"},
	    {"%-+6x|", 255, "+ff   |"},
	    {"%+hhx", 0xFFFFFFFFu, "+ff"},
	    {"%+u", 5, "5"},
	    {"% u", 5, "5"},
	    {"%+05u", 5, "00005"},
	};
	for (const Case &c : cases)
		EXPECT_EQ(fmt(c.format, c.value), c.want) << c.format << " of " << c.value;
	EXPECT_EQ(fmt("%+llx", UINT64_MAX), "+ffffffffffffffff");
}

TEST(m_str_fmt, strings_and_chars_agree_with_crt_on_generated_cases)
{
	const char *strs[]   = {"", "a", "ab", "hello", "quorvel export", "0123456789abcdefghij"};
	const char *widths[] = {"", "1", "3", "8", "21"};
	const char *precs[]  = {"", ".0", ".1", ".4", ".30"};
	const char *flags[]  = {"", "-"};
	size_t      checked  = 0;
	for (const char *fl : flags) {
		for (const char *w : widths) {
			for (const char *p : precs) {
				const std::string f = std::string("<%") + fl + w + p + "s>";
				for (const char *s : strs) {
					ASSERT_EQ(fmt(f.c_str(), s), crt(f.c_str(), s)) << f << " of " << s;
					checked++;
				}
				const std::string fc = std::string("<%") + fl + w + "c>";
				for (const int c : {'a', 'Z', ' '}) {
					ASSERT_EQ(fmt(fc.c_str(), c), crt(fc.c_str(), c)) << fc;
					checked++;
				}
			}
		}
	}
	EXPECT_GT(checked, 300u);
}

/* ---------------------------------------------------------------------------
 * Malformed directives
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, malformed_directives_write_question_marks)
{
	struct Case {
		const char *format;
		const char *want;
	};
	const Case
	    cases
	        [] =
	            {
	                {"%y", "%?"},       {"%q", "%?"},           {"abc%", "abc%"}, /* "%" at the very end */
	                {"%5", "%?"},                               /* the format ends inside the directive */
	                {"%-", "%?"},       {"%5.2.1f", "%????1f"}, /* second "." */
	                {"%hld", "%??d"},                           /* a modifier after another */
	                {"%lhd", "%??d"},   {"%hhhd", "%???d"},     {"%zld", "%??d"},
	                {"%lzd", "%??d"},   {"%llld", "%???d"},     {"%I64ld", "%????d"},
	                {"%Id", "%?d"}, /* bare "I" */
	                {"%I6d", "%?6d"},   {"%I", "%?"},           {"%Lf", "%?f"},
	                {"%5-d", "%??d"}, /* a flag after the width is no conversion */
	                {"%#5k;", "%???;"}, {"a%yb%zq", "a%?b%??"},
	            };
	for (const Case &c : cases)
		EXPECT_EQ(fmt(c.format), c.want) << c.format;

	/* A malformed directive consumes no argument; the next one gets it. */
	EXPECT_EQ(fmt("%y%d", 12), "%?12");
	/* "%*" reads its argument before the malformation is found. */
	EXPECT_EQ(fmt("%*y%d", 3, 4), "%??4");
}

/* ---------------------------------------------------------------------------
 * Fixed-string target
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, snprintf_truncates_and_sizes)
{
	char buf[8];

	std::memset(buf, 'x', sizeof(buf));
	EXPECT_EQ(M_snprintf(buf, 4, "hello"), 5);
	EXPECT_STREQ(buf, "hel");
	EXPECT_EQ(buf[4], 'x'); /* nothing written past size */

	std::memset(buf, 'x', sizeof(buf));
	EXPECT_EQ(M_snprintf(buf, 5, "hello"), 5);
	EXPECT_STREQ(buf, "hell");
	EXPECT_EQ(M_snprintf(buf, 6, "hello"), 5);
	EXPECT_STREQ(buf, "hello");

	/* Sizing: NULL destination, or size 0, stores nothing. */
	EXPECT_EQ(M_snprintf(nullptr, 0, "hello"), 5);
	EXPECT_EQ(M_snprintf(nullptr, 100, "%d-%s", 42, "x"), 4);
	std::memset(buf, 'x', sizeof(buf));
	EXPECT_EQ(M_snprintf(buf, 0, "hello"), 5);
	EXPECT_EQ(buf[0], 'x');

	/* Size 1: only the terminator. */
	EXPECT_EQ(M_snprintf(buf, 1, "%s", "hello"), 5);
	EXPECT_EQ(buf[0], '\0');

	/* A directive cut in the middle, and padding that does not fit. */
	EXPECT_EQ(M_snprintf(buf, sizeof(buf), "ab%10d", 5), 12);
	EXPECT_STREQ(buf, "ab     ");

	/* NULL format: nothing, but still terminated. */
	std::memset(buf, 'x', sizeof(buf));
	EXPECT_EQ(M_snprintf(buf, sizeof(buf), nullptr), 0);
	EXPECT_EQ(buf[0], '\0');
}

TEST(m_str_fmt, program_messages)
{
	char buf[256];
	EXPECT_EQ(M_snprintf(buf, sizeof(buf), "Wrote encrypted file %s (took %0.3f sec)\n", "out.csv.gpg", 1.23456), 50);
	EXPECT_STREQ(buf, "Wrote encrypted file out.csv.gpg (took 1.235 sec)\n");
	M_snprintf(buf, sizeof(buf), "Error parsing export file: %s\n", "bad block");
	EXPECT_STREQ(buf, "Error parsing export file: bad block\n");
	M_snprintf(buf, sizeof(buf), "took %0.3f sec", 0.0004);
	EXPECT_STREQ(buf, "took 0.000 sec");
}

/* ---------------------------------------------------------------------------
 * Buffer targets
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, bprintf_appends)
{
	M_buf_t *buf = M_buf_create();
	EXPECT_EQ(M_bprintf(buf, "a=%d", 1), 3);
	EXPECT_EQ(M_bprintf(buf, ", b=%s", "two"), 7);
	EXPECT_EQ(M_bprintf(buf, nullptr), 0);
	size_t len = 0;
	char  *s   = M_buf_finish_str(buf, &len);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "a=1, b=two");
	EXPECT_EQ(len, 10u);
	M_free(s);

	/* A NULL buffer receives nothing; the length is still reported. */
	EXPECT_EQ(M_bprintf(nullptr, "%s", "abc"), 3);
}

TEST(m_str_fmt, asprintf_allocates)
{
	char *s = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_asprintf(&s, "%s-%05.1f", "v", 2.25), 7);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "v-002.3");
	M_free(s);

	/* Empty output: NULL and 0. */
	s = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_asprintf(&s, "%s", ""), 0);
	EXPECT_EQ(s, nullptr);
	s = reinterpret_cast<char *>(1);
	EXPECT_EQ(M_asprintf(&s, nullptr), 0);
	EXPECT_EQ(s, nullptr);

	/* NULL out: the text is discarded, the length reported. */
	EXPECT_EQ(M_asprintf(nullptr, "%d", 12345), 5);

	/* Long output grows the buffer. */
	EXPECT_EQ(M_asprintf(&s, "%3000s|", "x"), 3001);
	ASSERT_NE(s, nullptr);
	EXPECT_EQ(std::strlen(s), 3001u);
	EXPECT_EQ(s[2999], 'x');
	M_free(s);
}

/* ---------------------------------------------------------------------------
 * Stream and descriptor targets
 * ------------------------------------------------------------------------- */

TEST(m_str_fmt, fprintf_writes_and_reports_failures)
{
	FILE *f = std::tmpfile();
	ASSERT_NE(f, nullptr);
	EXPECT_EQ(M_fprintf(f, "x=%d %s\n", -3, "end"), 9);
	std::rewind(f);
	char line[32] = {0};
	ASSERT_NE(std::fgets(line, sizeof(line), f), nullptr);
	EXPECT_STREQ(line, "x=-3 end\n");
	std::fclose(f);

	EXPECT_EQ(M_fprintf(nullptr, "x"), -1);
	/* Standard output: nothing to write still succeeds with 0. */
	EXPECT_EQ(M_printf(nullptr), 0);
	EXPECT_EQ(M_printf("%s", ""), 0);

	/* A stream open only for reading refuses the write. */
	FILE *ro = std::fopen("/dev/null", "r");
	ASSERT_NE(ro, nullptr);
	EXPECT_EQ(M_fprintf(ro, "abc"), -1);
	std::fclose(ro);
}

namespace {

/* Everything readable from fd until end of file. */
std::string drain(int fd)
{
	std::string out;
	char        buf[4096];
	ssize_t     n;
	while ((n = ::read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	return out;
}

} /* namespace */

TEST(m_str_fmt, dprintf_stages_and_writes_everything)
{
	/* Sizes around the 511/512-byte staging boundaries, as literal text and
	 * as one large string argument. */
	const size_t sizes[] = {0, 1, 510, 511, 512, 513, 1023, 1024, 1025, 5000};
	for (const size_t n : sizes) {
		int p[2];
		ASSERT_EQ(::pipe(p), 0);
		const std::string big(n, 'q');
		const std::string literal(n, 'L');
		const ssize_t     r = M_dprintf(p[1], (literal + "%s|%d").c_str(), big.c_str(), 7);
		::close(p[1]);
		const std::string got = drain(p[0]);
		::close(p[0]);
		EXPECT_EQ(r, static_cast<ssize_t>(2 * n + 2)) << n;
		EXPECT_EQ(got, literal + big + "|7") << n;
	}

	EXPECT_EQ(M_dprintf(2, nullptr), 0); /* NULL format: nothing written */
	EXPECT_EQ(M_dprintf(0, "x"), -1);    /* descriptor 0 is refused */
	EXPECT_EQ(M_dprintf(-1, "x"), -1);

	/* A descriptor open only for reading fails the write. */
	const int ro = ::open("/dev/null", O_RDONLY);
	ASSERT_GE(ro, 0);
	EXPECT_EQ(M_dprintf(ro, "abc"), -1);
	::close(ro);
}

namespace {

/* Sizes of the write(2) calls M_dprintf makes for one call, seen as the
 * messages of a sequenced-packet socket (each write is one message). */
std::vector<size_t> dprintf_writes(const std::string &format, const char *arg)
{
	int sv[2];
	EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv), 0);
	M_dprintf(sv[0], format.c_str(), arg);
	::close(sv[0]);
	std::vector<size_t> sizes;
	char                buf[8192];
	ssize_t             n;
	while ((n = ::recv(sv[1], buf, sizeof(buf), 0)) > 0)
		sizes.push_back(static_cast<size_t>(n));
	::close(sv[1]);
	return sizes;
}

} /* namespace */

TEST(m_str_fmt, dprintf_staging_rule)
{
	const std::string big(1000, 'b');
	using V = std::vector<size_t>;
	/* Literal text goes in byte by byte: the stage fills to 511 each time. */
	EXPECT_EQ(dprintf_writes(std::string(1000, 'L'), nullptr), (V{511, 489}));
	EXPECT_EQ(dprintf_writes(std::string(511, 'L'), nullptr), (V{511}));
	EXPECT_EQ(dprintf_writes(std::string(512, 'L'), nullptr), (V{511, 1}));
	/* A converted piece is one block: the stage is written first, then
	 * 512-byte writes while more than 512 remain, and the rest is staged. */
	EXPECT_EQ(dprintf_writes("ab%s", big.c_str()), (V{2, 512, 488}));
	EXPECT_EQ(dprintf_writes("%s", big.c_str()), (V{512, 488}));
	/* Exactly 512 left: all staged; the next byte flushes them. */
	EXPECT_EQ(dprintf_writes("%s!", std::string(512, 'b').c_str()), (V{512, 1}));
	/* Nothing to write: no write at all. */
	EXPECT_EQ(dprintf_writes("", nullptr), (V{}));
}

TEST(m_str_fmt, va_list_forms_leave_the_callers_list_alone)
{
	/* Each v-form copies the list, so one list can feed two calls. */
	struct Local {
		static std::string twice(const char *format, ...)
		{
			va_list ap;
			va_start(ap, format);
			char a[32];
			char b[32];
			M_vsnprintf(a, sizeof(a), format, ap);
			M_vsnprintf(b, sizeof(b), format, ap);
			va_end(ap);
			return std::string(a) + "/" + b;
		}
	};
	EXPECT_EQ(Local::twice("%d %s", 9, "z"), "9 z/9 z");
}

TEST(m_str_fmt, mdprintf_writes_through_the_file_layer)
{
	const std::string path = std::string(M_TEST_BINARY_DIR) + "/test_m_str_fmt_mdprintf.txt";
	const std::string long_text(3000, 'w');

	/* Buffered (a small buffer, so it fills several times) and unbuffered. */
	for (const size_t buf_size : {size_t{0}, size_t{64}}) {
		M_fs_file_t *f = nullptr;
		ASSERT_EQ(M_fs_file_open(&f, path.c_str(), buf_size, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_mdprintf(f, "%s=%05.1f;", "v", 2.25), 8);
		EXPECT_EQ(M_mdprintf(f, "%s|%d\n", long_text.c_str(), -1), 3004);
		M_fs_file_close(f);

		unsigned char *data = nullptr;
		size_t         len  = 0;
		ASSERT_EQ(M_fs_file_read_bytes(path.c_str(), 0, &data, &len), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(std::string(reinterpret_cast<char *>(data), len), "v=002.3;" + long_text + "|-1\n") << buf_size;
		M_free(data);
	}

	/* A file open only for reading refuses the write. */
	M_fs_file_t *ro = nullptr;
	ASSERT_EQ(M_fs_file_open(&ro, path.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_mdprintf(ro, "abc"), -1);
	M_fs_file_close(ro);
	::unlink(path.c_str());

	EXPECT_EQ(M_mdprintf(nullptr, "abc"), -1);
}
