/* Whole-line reads through a pipe: what is left unread is the oracle for
 * what was consumed. Echo, its signals (the guard shared with the file
 * replace, tested in tests/fs) and the discarding of pending input are
 * tested at a real prompt on a pseudo-terminal: tests/e2e/test_tty.py. */
#include "tests/test_util.h"

#include "sys/m_term.h"

TEST(m_term, read_line_consumes_the_whole_line_and_keeps_what_fits)
{
	const std::string long_line = std::string(5000, 'x') + "\nz";
	const struct {
		std::string input;
		size_t      buf_size;
		bool        ok;
		std::string kept;
		std::string unread;
	} cases[] = {
	    {"abc\nrest", 16, true, "abc", "rest"},
	    {"abcdef\nrest", 4, true, "abc", "rest"},
	    {"\n\n", 4, true, "", "\n"},
	    {"tail", 8, true, "tail", ""},
	    {"", 8, false, "", ""},
	    /* Bounded: a line never ends, the reading does. */
	    {long_line, 3, true, "xx", long_line.substr(M_TERM_LINE_MAX)},
	    /* No room or no area: nothing is read. */
	    {"abc\n", 0, false, "", "abc\n"},
	};
	for (const auto &c : cases) {
		int p[2];
		ASSERT_EQ(test_util::make_pipe(p), 0);
		ASSERT_EQ(::write(p[1], c.input.data(), c.input.size()), static_cast<ssize_t>(c.input.size()));
		::close(p[1]);
		char   buf[16] = "unchanged";
		size_t len     = 99;
		EXPECT_EQ(M_term_read_line(p[0], c.buf_size ? buf : nullptr, c.buf_size, &len, M_TERM_READ_DISCARD), c.ok)
		    << c.input.substr(0, 20);
		if (c.buf_size) {
			EXPECT_EQ(std::string(buf), c.kept);
			EXPECT_EQ(len, c.kept.size());
		}
		EXPECT_EQ(test_util::drain(p[0]), c.unread);
		::close(p[0]);
	}
}
