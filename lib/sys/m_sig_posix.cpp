/* Signal guards: the terminating signals and their handlers (m_sig_int.h). */
#include "sys/m_sig_int.h"

#include <pthread.h>

namespace {

/* Catchable signals whose default action ends the process, real-time
 * signals aside (their numbers are known only at run time). */
constexpr int kTerminating[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

/* Every terminating signal as a set. */
sigset_t terminating_set() noexcept
{
	sigset_t set;
	sigemptyset(&set);
	for (int sig = 1; sig < NSIG; sig++) {
		if (m::detail::sig_terminates(sig))
			sigaddset(&set, sig);
	}
	return set;
}

} // namespace

namespace m::detail {

bool sig_terminates(int sig) noexcept
{
	for (const int s : kTerminating) {
		if (s == sig)
			return true;
	}
	return sig >= SIGRTMIN && sig <= SIGRTMAX;
}

void SigGuard::install(Handler handler, const int *extra, size_t num_extra) noexcept
{
	struct sigaction sa = {};
	sa.sa_sigaction     = handler;
	sa.sa_flags         = SA_SIGINFO;
	sa.sa_mask          = terminating_set();
	for (size_t i = 0; extra != nullptr && i < num_extra; i++)
		sigaddset(&sa.sa_mask, extra[i]);

	for (int sig = 1; sig < NSIG; sig++) {
		installed_[sig] = false;
		if (sigismember(&sa.sa_mask, sig) != 1)
			continue;
		/* A number the system keeps for itself refuses to be read or set. */
		if (sigaction(sig, nullptr, &old_[sig]) != 0 || old_[sig].sa_handler == SIG_IGN)
			continue;
		installed_[sig] = sigaction(sig, &sa, nullptr) == 0;
	}
}

void SigGuard::restore() noexcept
{
	for (int sig = 1; sig < NSIG; sig++) {
		if (installed_[sig])
			sigaction(sig, &old_[sig], nullptr);
		installed_[sig] = false;
	}
}

void SigGuard::pass_on(int sig) noexcept
{
	if (sig > 0 && sig < NSIG && installed_[sig]) {
		sigaction(sig, &old_[sig], nullptr);
		installed_[sig] = false;
	}
	raise(sig);
}

void SigGuard::block(sigset_t *old) noexcept
{
	const sigset_t set = terminating_set();
	pthread_sigmask(SIG_BLOCK, &set, old);
}

void SigGuard::unblock(const sigset_t *old) noexcept
{
	pthread_sigmask(SIG_SETMASK, old, nullptr);
}

} // namespace m::detail
