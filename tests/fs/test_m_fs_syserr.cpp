/* The Windows error table's module: size checks and UTF-16 text. */
#include "tests/fs/fs_test.h"

#include "fs/m_fs_syserr.h"

namespace {

using namespace fs_test;

TEST(m_fs_win, size_conversions)
{
	uint32_t d = 7;
	EXPECT_TRUE(M_win32_size_t_to_dword(0xFFFFFFFFu, &d));
	EXPECT_EQ(d, 0xFFFFFFFFu);
	EXPECT_FALSE(M_win32_size_t_to_dword(static_cast<size_t>(0x100000000ull), &d));
	EXPECT_EQ(d, 0u);
	int32_t i = 7;
	EXPECT_TRUE(M_win32_size_t_to_int(0x7FFFFFFF, &i));
	EXPECT_EQ(i, 0x7FFFFFFF);
	EXPECT_FALSE(M_win32_size_t_to_int(0x80000000u, &i));
	EXPECT_EQ(i, 0);
}

TEST(m_fs_win, wide_text_to_utf8)
{
	const char16_t lone_high[] = {u'a', 0xDBFF, u'b', 0}, swapped_pair[] = {0xDFFF, 0xD800, 0};
	const std::pair<const char16_t *, const char *> cases[] = {
	    {u"", ""},
	    {u"\u007f\u0080", "\x7f\xc2\x80"},                     /* both sides of the 1/2-byte edge */
	    {u"\u07ff\u0800", "\xdf\xbf\xe0\xa0\x80"},             /* both sides of the 2/3-byte edge */
	    {u"\uffff\U00010000", "\xef\xbf\xbf\xf0\x90\x80\x80"}, /* the 3/4-byte edge, a pair */
	    {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},                   /* the last code point */
	    /* Lone surrogates cannot be represented: U+FFFD each. */
	    {lone_high, "a\xef\xbf\xbd"
	                "b"},
	    {swapped_pair, "\xef\xbf\xbd\xef\xbf\xbd"}}; /* lone low, high at the end */
	for (const auto &[in, want] : cases) {
		char *r = M_win32_wchar_to_char(in);
		ASSERT_NE(r, nullptr);
		EXPECT_EQ(std::string(r), want);
		EXPECT_EQ(r[std::strlen(want)], '\0') << "terminated right after the text";
		M_free(r);
	}
}

} // namespace
