/* Export key entry. */
#include "app/tokenexp_key.h"
#include "app/tokenexp_signals_int.h"

#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr char kPrompt[] = "Enter quorvel export key: ";

/* Terminal modes: as found, and with echo off. The signal handlers read
 * them, so they live in static storage and are written before the handlers
 * are installed. */
struct termios        g_saved_mode;
struct termios        g_quiet_mode;
volatile sig_atomic_t g_echo_off  = 0; /* echo is off right now */
volatile sig_atomic_t g_prompting = 0; /* waiting at the prompt on a terminal */

/* Signals that end the process at the prompt (echo is put back first), and
 * the job-control pair that stops and resumes it. */
constexpr int                                 kSignals[]  = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};
constexpr size_t                              kNumSignals = sizeof(kSignals) / sizeof(kSignals[0]);
tokenexp::detail::SignalHandlers<kNumSignals> g_handlers  = {kSignals, {}, {}};

void echo_back_on()
{
	if (g_echo_off) {
		tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
		g_echo_off = 0;
	}
}

/* A signal at the prompt. Job control: SIGTSTP (Ctrl-Z) puts echo back and
 * stops the process, so the shell the user returns to echoes; SIGCONT turns
 * echo off again and repeats the prompt, whose line the shell has covered.
 * Any other: put echo back, then let the signal do what it would have done
 * (the previous disposition, normally ending the process). */
void on_signal(int sig)
{
	const int saved_errno = errno;
	if (sig == SIGCONT) {
		if (g_prompting) {
			tcsetattr(STDIN_FILENO, TCSANOW, &g_quiet_mode);
			g_echo_off = 1;
			(void)!write(STDERR_FILENO, kPrompt, sizeof(kPrompt) - 1);
		}
		errno = saved_errno;
		return;
	}
	echo_back_on();
	if (sig == SIGTSTP) {
		/* Stop with the default action, then take the signal again once
		 * continued (SIGCONT's handler has restored the prompt by then). */
		struct sigaction dfl;
		struct sigaction mine;
		std::memset(&dfl, 0, sizeof(dfl));
		dfl.sa_handler = SIG_DFL;
		sigemptyset(&dfl.sa_mask);
		sigaction(SIGTSTP, &dfl, &mine);
		sigset_t tstp;
		sigemptyset(&tstp);
		sigaddset(&tstp, SIGTSTP);
		sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
		raise(SIGTSTP);
		sigprocmask(SIG_BLOCK, &tstp, nullptr);
		sigaction(SIGTSTP, &mine, nullptr);
		errno = saved_errno;
		return;
	}
	g_prompting = 0;
	g_handlers.pass_on(sig);
}

bool echo_off()
{
	if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_saved_mode) != 0)
		return false;
	g_quiet_mode = g_saved_mode;
	g_quiet_mode.c_lflag &= static_cast<tcflag_t>(~ECHO);

	/* A signal the caller ignores stays ignored: under nohup a hang-up must
	 * not end the run, and a shell without job control cannot resume us. */
	g_handlers.install(on_signal);

	g_prompting = 1;
	g_echo_off  = 1;
	tcsetattr(STDIN_FILENO, TCSANOW, &g_quiet_mode);
	return true;
}

void echo_restore(bool console)
{
	if (!console)
		return;
	g_prompting = 0;
	echo_back_on();
	g_handlers.restore();
}

/* Read one line of at most TOKENEXP_KEY_LEN - 1 bytes from descriptor 0
 * into key, as fgets would, but a byte at a time and without stdio: no copy
 * of the key stays behind in a stream buffer, and input after the line (or
 * after the 64th byte) is left unread. Returns false at end of input with
 * nothing read and on a read error. */
bool read_key_line(char *key)
{
	size_t n = 0;
	while (n < TOKENEXP_KEY_LEN - 1) {
		char          c = 0;
		const ssize_t r = read(STDIN_FILENO, &c, 1);
		if (r < 0) {
			if (errno == EINTR)
				continue; /* a stop and resume at the prompt */
			return false;
		}
		if (r == 0)
			break;
		key[n++] = c;
		if (c == '\n')
			break;
	}
	key[n] = '\0';
	return n > 0;
}

} // namespace

M_bool tokenexp_read_key(char *key)
{
	const bool console = echo_off();

	M_fprintf(stderr, "%s", kPrompt);
	fflush(stderr);

	if (!read_key_line(key) || key[0] == '\0') {
		OPENSSL_cleanse(key, TOKENEXP_KEY_LEN);
		M_fprintf(stderr, "\n");
		echo_restore(console);
		M_fprintf(stderr, "Couldn't read quorvel key entered by user.\n");
		return M_FALSE;
	}

	M_str_trim(key);
	M_fprintf(stderr, "\n");
	echo_restore(console);
	return M_TRUE;
}
