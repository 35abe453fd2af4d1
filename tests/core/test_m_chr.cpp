#include <gtest/gtest.h>

#include "core/m_chr.h"

#include <clocale>
#include <string>

namespace {

/* Reference membership of each class, written from the definitions. */
bool ref_space(int c)
{
	return (c >= 9 && c <= 13) || c == 32;
}
bool ref_upper(int c)
{
	return c >= 'A' && c <= 'Z';
}
bool ref_lower(int c)
{
	return c >= 'a' && c <= 'z';
}
bool ref_digit(int c)
{
	return c >= '0' && c <= '9';
}
bool ref_alpha(int c)
{
	return ref_upper(c) || ref_lower(c);
}
bool ref_graph(int c)
{
	return c >= 33 && c <= 126;
}

} // namespace

TEST(m_chr, classes_over_every_byte)
{
	for (int i = 0; i < 256; i++) {
		const char c = static_cast<char>(i);
		SCOPED_TRACE(i);
		EXPECT_EQ(M_chr_isspace(c), ref_space(i));
		EXPECT_EQ(M_chr_isblank(c), i == ' ' || i == '\t');
		EXPECT_EQ(M_chr_iscntrl(c), i < 32 || i == 127);
		EXPECT_EQ(M_chr_isascii(c), i < 128);
		EXPECT_EQ(M_chr_isgraph(c), ref_graph(i));
		EXPECT_EQ(M_chr_isprint(c), (i >= 32 && i <= 126) || (i >= 9 && i <= 13));
		EXPECT_EQ(M_chr_isupper(c), ref_upper(i));
		EXPECT_EQ(M_chr_islower(c), ref_lower(i));
		EXPECT_EQ(M_chr_isalpha(c), ref_alpha(i));
		EXPECT_EQ(M_chr_isalphasp(c), ref_alpha(i) || i == ' ');
		EXPECT_EQ(M_chr_isdigit(c), ref_digit(i));
		EXPECT_EQ(M_chr_isdec(c), ref_digit(i) || i == '.');
		EXPECT_EQ(M_chr_isalnum(c), ref_alpha(i) || ref_digit(i));
		EXPECT_EQ(M_chr_isalnumsp(c), ref_alpha(i) || ref_digit(i) || i == ' ');
		EXPECT_EQ(M_chr_ishex(c), ref_digit(i) || (i >= 'a' && i <= 'f') || (i >= 'A' && i <= 'F'));
		EXPECT_EQ(M_chr_ispunct(c), ref_graph(i) && !ref_alpha(i) && !ref_digit(i));
	}
}

TEST(m_chr, spot_checks)
{
	EXPECT_TRUE(M_chr_isprint('\t'));
	EXPECT_TRUE(M_chr_isprint('\n'));
	EXPECT_FALSE(M_chr_isprint('\x7f'));
	EXPECT_FALSE(M_chr_isgraph(' '));
	EXPECT_TRUE(M_chr_ispunct('_'));
	EXPECT_TRUE(M_chr_ispunct('~'));
	EXPECT_TRUE(M_chr_isspace('\v'));
	EXPECT_FALSE(M_chr_isalpha('\xe9')); /* Latin-1 e-acute is not ASCII */
	EXPECT_FALSE(M_chr_isspace('\xa0')); /* nor is no-break space */
}

TEST(m_chr, case_conversion)
{
	for (int i = 0; i < 256; i++) {
		const char c = static_cast<char>(i);
		const char u = ref_lower(i) ? static_cast<char>(i - 32) : c;
		const char l = ref_upper(i) ? static_cast<char>(i + 32) : c;
		EXPECT_EQ(M_chr_toupper(c), u) << i;
		EXPECT_EQ(M_chr_tolower(c), l) << i;
	}
}

TEST(m_chr, digit_values)
{
	EXPECT_EQ(M_chr_digit('0'), 0);
	EXPECT_EQ(M_chr_digit('9'), 9);
	EXPECT_EQ(M_chr_digit('a'), -1);
	EXPECT_EQ(M_chr_digit('/'), -1);
	EXPECT_EQ(M_chr_digit(':'), -1);
	EXPECT_EQ(M_chr_xdigit('f'), 15);
	EXPECT_EQ(M_chr_xdigit('F'), 15);
	EXPECT_EQ(M_chr_xdigit('A'), 10);
	EXPECT_EQ(M_chr_xdigit('7'), 7);
	EXPECT_EQ(M_chr_xdigit('g'), -1);
	EXPECT_EQ(M_chr_xdigit('G'), -1);
	EXPECT_EQ(M_chr_xdigit('@'), -1);
	EXPECT_EQ(M_chr_xdigit('`'), -1);
	EXPECT_EQ(M_chr_xdigit('\0'), -1);
}

TEST(m_chr, independent_of_locale)
{
	/* A Latin-1 locale would make 0xE9 a letter for <ctype.h>; ours must
	 * not change. Skipped silently where the locale is not installed, as
	 * the table is compile-time data either way. */
	const char *old = std::setlocale(LC_ALL, nullptr);
	std::string saved(old != nullptr ? old : "C");
	std::setlocale(LC_ALL, "de_DE.ISO-8859-1");
	EXPECT_FALSE(M_chr_isalpha('\xe9'));
	EXPECT_EQ(M_chr_toupper('\xe9'), '\xe9');
	std::setlocale(LC_ALL, saved.c_str());
}
