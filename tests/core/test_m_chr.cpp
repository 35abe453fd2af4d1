#include "tests/test_util.h"

#include "core/m_chr.h"

#include <cctype>

/* The C locale's <ctype.h> is the oracle (no setlocale call), but for the
 * few classes that add a byte or two. Bytes 128 to 255 belong to no class. */
TEST(m_chr, classes_and_conversions_agree_with_ctype_on_every_byte)
{
	const struct {
		const char *name;
		M_bool (*fn)(char);
		bool (*oracle)(int);
	} classes[] = {{"space", M_chr_isspace, [](int c) { return isspace(c) != 0; }},
	               {"blank", M_chr_isblank, [](int c) { return isblank(c) != 0; }},
	               {"cntrl", M_chr_iscntrl, [](int c) { return iscntrl(c) != 0; }},
	               {"ascii", M_chr_isascii, [](int c) { return c < 128; }},
	               {"graph", M_chr_isgraph, [](int c) { return isgraph(c) != 0; }},
	               {"print", M_chr_isprint, [](int c) { return isprint(c) || (c >= 9 && c <= 13); }},
	               {"upper", M_chr_isupper, [](int c) { return isupper(c) != 0; }},
	               {"lower", M_chr_islower, [](int c) { return islower(c) != 0; }},
	               {"alpha", M_chr_isalpha, [](int c) { return isalpha(c) != 0; }},
	               {"alphasp", M_chr_isalphasp, [](int c) { return isalpha(c) || c == ' '; }},
	               {"digit", M_chr_isdigit, [](int c) { return isdigit(c) != 0; }},
	               {"dec", M_chr_isdec, [](int c) { return isdigit(c) || c == '.'; }},
	               {"alnum", M_chr_isalnum, [](int c) { return isalnum(c) != 0; }},
	               {"alnumsp", M_chr_isalnumsp, [](int c) { return isalnum(c) || c == ' '; }},
	               {"hex", M_chr_ishex, [](int c) { return isxdigit(c) != 0; }},
	               {"punct", M_chr_ispunct, [](int c) { return ispunct(c) != 0; }}};
	for (int i = 0; i < 256; i++) {
		const char c = static_cast<char>(i);
		for (const auto &k : classes)
			EXPECT_EQ(k.fn(c), k.oracle(i)) << k.name << " " << i;
		EXPECT_EQ(M_chr_toupper(c), static_cast<char>(toupper(i))) << i;
		EXPECT_EQ(M_chr_tolower(c), static_cast<char>(tolower(i))) << i;
		EXPECT_EQ(M_chr_digit(c), isdigit(i) ? i - '0' : -1) << i;
		const int x = isdigit(i) ? i - '0' : isxdigit(i) ? tolower(i) - 'a' + 10 : -1;
		EXPECT_EQ(M_chr_xdigit(c), x) << i;
	}
}
