/* Terminal echo on POSIX (termios), and the byte reads of M_term_read_line
 * (read(2), tcflush).
 *
 * The signal handlers find the terminal through one static pointer, set
 * before they are installed and cleared after they are removed; they only
 * call async-signal-safe functions (tcsetattr, write, sigaction,
 * pthread_sigmask, raise) and never allocate.
 */
#include "sys/m_term.h"
#include "sys/m_term_int.h"

#include "sys/m_io_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "sys/m_sig_int.h"

#include <cerrno>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

struct M_term {
	int                   fd;         /* the terminal */
	struct termios        saved;      /* mode as found */
	struct termios        quiet;      /* the same with echo off */
	int                   prompt_fd;  /* where the prompt is repeated */
	const char           *prompt;     /* borrowed; NULL: none */
	size_t                prompt_len; /* bytes of prompt */
	volatile sig_atomic_t echo_off;   /* echo is off right now */
	volatile sig_atomic_t guarded;    /* the handlers are in place */
};

namespace {

/* The job-control pair handled besides the terminating signals. */
constexpr int kJobControl[] = {SIGTSTP, SIGCONT};

m::detail::SigGuard g_guard;

void mode_back(M_term_t *t) noexcept
{
	if (t->echo_off) {
		(void)tcsetattr(t->fd, TCSANOW, &t->saved);
		t->echo_off = 0;
	}
}

/* Ctrl-Z at the prompt: the mode goes back and the process stops with the
 * default action; once continued, the signal is taken again (SIGCONT's
 * handler restores the prompt, after this one returns). */
void stop_here() noexcept
{
	struct sigaction dfl = {};
	struct sigaction mine;
	dfl.sa_handler = SIG_DFL;
	sigemptyset(&dfl.sa_mask);
	sigaction(SIGTSTP, &dfl, &mine);
	sigset_t tstp;
	sigemptyset(&tstp);
	sigaddset(&tstp, SIGTSTP);
	pthread_sigmask(SIG_UNBLOCK, &tstp, nullptr);
	raise(SIGTSTP);
	pthread_sigmask(SIG_BLOCK, &tstp, nullptr);
	sigaction(SIGTSTP, &mine, nullptr);
}

void on_signal(int sig, siginfo_t *, void *)
{
	const int saved_errno = errno;
	M_term_t *t           = m::detail::term_live;
	if (t == nullptr || !t->guarded) {
		if (sig != SIGCONT && sig != SIGTSTP)
			g_guard.pass_on(sig);
	} else if (sig == SIGCONT) {
		(void)tcsetattr(t->fd, TCSANOW, &t->quiet);
		t->echo_off = 1;
		if (t->prompt_len > 0)
			(void)!write(t->prompt_fd, t->prompt, t->prompt_len);
	} else if (sig == SIGTSTP) {
		mode_back(t);
		stop_here();
		/* Back here either continued (SIGCONT's handler then writes the
		 * prompt again) or never stopped: the kernel discards the stop of a
		 * process group with no parent in its session to resume it, as when
		 * the program leads its session (ssh -t, tmux, script -c). The line
		 * is still being read either way, so echo goes off again. */
		(void)tcsetattr(t->fd, TCSANOW, &t->quiet);
		t->echo_off = 1;
	} else {
		mode_back(t);
		g_guard.pass_on(sig);
	}
	errno = saved_errno;
}

} // namespace

extern "C" {

M_term_t *M_term_create(int fd)
{
	struct termios mode;
	if (m::detail::term_live != nullptr || fd < 0 || !isatty(fd) || tcgetattr(fd, &mode) != 0)
		return nullptr;
	M_term_t *t = static_cast<M_term_t *>(M_malloc_zero(sizeof(*t)));
	t->fd       = fd;
	t->saved    = mode;
	t->quiet    = mode;
	t->quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
	m::detail::term_live = t;
	return t;
}

} // extern "C"

bool m::detail::term_echo_off_sys(M_term_t *term, int prompt_fd, const char *prompt) noexcept
{
	if (term->echo_off)
		return true;
	term->prompt_fd  = prompt_fd;
	term->prompt     = prompt;
	term->prompt_len = prompt != nullptr ? M_str_len(prompt) : 0;
	if (!term->guarded) {
		g_guard.install(on_signal, kJobControl, M_ARRAY_LEN(kJobControl));
		term->guarded = 1;
	}
	/* Marked first: a signal between the two must put the mode back. */
	term->echo_off = 1;
	return tcsetattr(term->fd, TCSANOW, &term->quiet) == 0;
}

bool m::detail::term_echo_on_sys(M_term_t *term) noexcept
{
	/* The handlers go only once the mode is back, and never run halfway
	 * through it. */
	sigset_t old;
	m::detail::SigGuard::block(&old);
	term->echo_off = 0;
	const bool ok  = tcsetattr(term->fd, TCSANOW, &term->saved) == 0;
	if (term->guarded) {
		g_guard.restore();
		term->guarded = 0;
	}
	m::detail::SigGuard::unblock(&old);
	return ok;
}

extern "C" {

M_bool M_term_is_terminal(int fd)
{
	return fd >= 0 && isatty(fd) == 1;
}

} // extern "C"

namespace m::detail {

int term_read_byte(int fd, char *c) noexcept
{
	const ssize_t n = retry_eintr([&] { return ::read(fd, c, 1); });
	return n > 0 ? 1 : (n == 0 ? 0 : -1);
}

void term_discard_pending(int fd) noexcept
{
	if (isatty(fd))
		(void)tcflush(fd, TCIFLUSH);
}

} // namespace m::detail
