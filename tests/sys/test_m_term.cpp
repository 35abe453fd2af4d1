/* Terminal echo and whole-line reads: lines through a pipe (what is left
 * unread is the oracle for what was consumed), echo on a pseudo-terminal
 * of the test's own, and signals in a child process. */
#include <gtest/gtest.h>

#include "sys/m_term.h"

#include <csignal>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

/* The bytes a descriptor still holds (non-blocking read to the end). */
std::string rest_of(int fd)
{
	std::string out;
	char        buf[4096];
	ssize_t     n;
	while ((n = ::read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	return out;
}

bool echo_on(int fd)
{
	struct termios mode;
	return ::tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

/* A pseudo-terminal pair, closed at the end of the scope. */
struct Pty {
	int master = -1;
	int slave  = -1;
	Pty()
	{
		EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
	}
	~Pty()
	{
		::close(master);
		::close(slave);
	}
};

} // namespace

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
		ASSERT_EQ(::pipe(p), 0);
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
		EXPECT_EQ(rest_of(p[0]), c.unread);
		::close(p[0]);
	}
}

TEST(m_term, echo_off_and_back_and_pending_input_discarded)
{
	Pty pty;
	int p[2];
	ASSERT_EQ(::pipe(p), 0);
	EXPECT_EQ(M_term_create(p[0]), nullptr); /* no terminal */
	::close(p[0]);
	::close(p[1]);

	M_term_t *term = M_term_create(pty.slave);
	ASSERT_NE(term, nullptr);
	EXPECT_EQ(M_term_create(pty.slave), nullptr); /* one at a time */
	EXPECT_TRUE(M_term_echo_off(term, -1, nullptr));
	EXPECT_FALSE(echo_on(pty.slave));

	const char typed[] = "secret\nsecond line\n";
	ASSERT_EQ(::write(pty.master, typed, sizeof(typed) - 1), static_cast<ssize_t>(sizeof(typed) - 1));
	char buf[32];
	EXPECT_TRUE(M_term_read_line(pty.slave, buf, sizeof(buf), nullptr, M_TERM_READ_DISCARD));
	EXPECT_STREQ(buf, "secret");
	int waiting = -1;
	EXPECT_EQ(::ioctl(pty.slave, FIONREAD, &waiting), 0);
	EXPECT_EQ(waiting, 0);

	EXPECT_TRUE(M_term_echo_on(term));
	EXPECT_TRUE(echo_on(pty.slave));
	M_term_destroy(term);
}

TEST(m_term, ending_signal_puts_echo_back_and_ignored_ones_stay_ignored)
{
	const struct {
		int  sig;
		bool ignored;
	} cases[] = {{SIGINT, false},  {SIGTERM, false},      {SIGUSR1, false}, {SIGALRM, false},
	             {SIGPIPE, false}, {SIGRTMIN + 1, false}, {SIGHUP, true}};
	for (const auto &c : cases) {
		Pty         pty;
		const pid_t pid = ::fork();
		if (pid == 0) {
			if (c.ignored)
				::signal(c.sig, SIG_IGN);
			M_term_t *term = M_term_create(pty.slave);
			if (term == nullptr || !M_term_echo_off(term, -1, nullptr))
				::_exit(2);
			::raise(c.sig);
			if (echo_on(pty.slave)) /* survived: echo must still be off */
				::_exit(3);
			M_term_destroy(term);
			::_exit(0);
		}
		int status = 0;
		ASSERT_EQ(::waitpid(pid, &status, 0), pid);
		if (c.ignored)
			EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.sig;
		else
			EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.sig;
		EXPECT_TRUE(echo_on(pty.slave)) << c.sig;
	}
}
