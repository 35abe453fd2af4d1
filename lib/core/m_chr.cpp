/* ASCII character classes driven by one compile-time table.
 *
 * Each byte value maps to a set of class bits; every M_chr_is* function is a
 * single table lookup, so no branch depends on the locale or on the C
 * library's <ctype.h>, whose answers change with setlocale(). Bytes 128 to
 * 255 belong to no class. */
#include "core/m_chr.h"
#include "core/m_text_int.h"

#include <array>
#include <cstdint>

namespace {

static_assert('0' == 0x30 && 'A' == 0x41 && 'a' == 0x61 && ' ' == 0x20, "Character set must be ASCII.");

enum : uint16_t {
	kSpace = 1 << 0, /* 9..13 and space */
	kBlank = 1 << 1, /* space and tab */
	kCntrl = 1 << 2, /* 0..31 and 127 */
	kGraph = 1 << 3, /* 33..126 */
	kPrint = 1 << 4, /* 32..126 and 9..13 */
	kUpper = 1 << 5, /* A..Z */
	kLower = 1 << 6, /* a..z */
	kDigit = 1 << 7, /* 0..9 */
	kHex   = 1 << 8, /* 0..9, A..F, a..f */
	kPunct = 1 << 9  /* graph, neither letter nor digit */
};

constexpr std::array<uint16_t, 256> make_class_table()
{
	std::array<uint16_t, 256> t{};
	for (unsigned c = 0; c < 256; c++) {
		uint16_t bits = 0;
		if ((c >= 9 && c <= 13) || c == 32)
			bits |= kSpace;
		if (c == ' ' || c == '\t')
			bits |= kBlank;
		if (c < 32 || c == 127)
			bits |= kCntrl;
		if (c >= 33 && c <= 126)
			bits |= kGraph;
		if ((c >= 32 && c <= 126) || (c >= 9 && c <= 13))
			bits |= kPrint;
		if (c >= 'A' && c <= 'Z')
			bits |= kUpper;
		if (c >= 'a' && c <= 'z')
			bits |= kLower;
		if (c >= '0' && c <= '9')
			bits |= kDigit | kHex;
		if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
			bits |= kHex;
		if ((bits & kGraph) && !(bits & (kUpper | kLower | kDigit)))
			bits |= kPunct;
		t[c] = bits;
	}
	return t;
}

constexpr auto kClass = make_class_table();

static_assert(kClass['\t'] & kPrint, "tab counts as printable");
static_assert((kClass[0x80] | kClass[0xFF]) == 0, "high bytes belong to no class");
static_assert(kClass['_'] & kPunct, "underscore is punctuation");

constexpr bool has(char c, uint16_t bits)
{
	return (kClass[static_cast<unsigned char>(c)] & bits) != 0;
}

} // namespace

extern "C" {

M_bool M_chr_isspace(char c)
{
	return has(c, kSpace);
}
M_bool M_chr_isblank(char c)
{
	return has(c, kBlank);
}
M_bool M_chr_iscntrl(char c)
{
	return has(c, kCntrl);
}
M_bool M_chr_isascii(char c)
{
	return static_cast<unsigned char>(c) < 128;
}
M_bool M_chr_isgraph(char c)
{
	return has(c, kGraph);
}
M_bool M_chr_isprint(char c)
{
	return has(c, kPrint);
}
M_bool M_chr_isupper(char c)
{
	return has(c, kUpper);
}
M_bool M_chr_islower(char c)
{
	return has(c, kLower);
}
M_bool M_chr_isalpha(char c)
{
	return has(c, kUpper | kLower);
}
M_bool M_chr_isalphasp(char c)
{
	return c == ' ' || has(c, kUpper | kLower);
}
M_bool M_chr_isdigit(char c)
{
	return has(c, kDigit);
}
M_bool M_chr_isdec(char c)
{
	return c == '.' || has(c, kDigit);
}
M_bool M_chr_isalnum(char c)
{
	return has(c, kUpper | kLower | kDigit);
}
M_bool M_chr_isalnumsp(char c)
{
	return c == ' ' || has(c, kUpper | kLower | kDigit);
}
M_bool M_chr_ishex(char c)
{
	return has(c, kHex);
}
M_bool M_chr_ispunct(char c)
{
	return has(c, kPunct);
}

char M_chr_toupper(char c)
{
	return has(c, kLower) ? static_cast<char>(c - ('a' - 'A')) : c;
}

char M_chr_tolower(char c)
{
	return has(c, kUpper) ? static_cast<char>(c + ('a' - 'A')) : c;
}

int M_chr_digit(char c)
{
	return has(c, kDigit) ? c - '0' : -1;
}

int M_chr_xdigit(char c)
{
	return m::detail::hex_value(static_cast<unsigned char>(c));
}

} // extern "C"
