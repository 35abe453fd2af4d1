/* Handlers put in front of the signals that would end the process, for the
 * time a part of the library holds something that must be undone before
 * the process ends (a terminal without echo, a temporary file), and the way
 * back to what was there before. Internal: not part of the public C surface.
 *
 * "Terminating" means: the signal can be caught and its default action ends
 * the process (with or without a core): SIGHUP, SIGINT, SIGQUIT, SIGILL,
 * SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE,
 * SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,
 * SIGPWR, SIGSYS and every real-time signal. SIGKILL and SIGSTOP cannot be
 * caught; the job-control and ignored-by-default signals do not end it.
 *
 * A guard lives in static storage (zero-initialised it is a valid empty
 * state, so a handler may consult it at any time). Guards may nest when they
 * are restored in the reverse order of installation: each passes a signal on
 * to what it found, which may be the other guard's handler.
 */
#ifndef M_SIG_INT_H
#define M_SIG_INT_H

#include <csignal>
#include <cstddef>

namespace m::detail {

/* Whether sig is a terminating signal (see above). */
bool sig_terminates(int sig) noexcept;

class SigGuard {
  public:
	using Handler = void (*)(int, siginfo_t *, void *);

	/* Put handler (SA_SIGINFO, every handled signal blocked while it runs)
	 * in front of every terminating signal and of the num_extra signals of
	 * extra (may be NULL). A signal the process ignores stays ignored: under
	 * nohup a hang-up must not end the run. */
	void install(Handler handler, const int *extra, size_t num_extra) noexcept;

	/* Put back every disposition install() replaced. */
	void restore() noexcept;

	/* From a handler: put back sig's previous disposition and raise sig
	 * again, so that once the handler returns it does what it would have
	 * done (normally end the process). Async-signal-safe. */
	void pass_on(int sig) noexcept;

	/* Block every signal install() would handle, for this thread; the mask
	 * before in *old. Put it back with unblock(old). */
	static void block(sigset_t *old) noexcept;
	static void unblock(const sigset_t *old) noexcept;

  private:
	struct sigaction old_[NSIG];       /* dispositions found, by number */
	bool             installed_[NSIG]; /* which carry our handler now */
};

} // namespace m::detail

#endif /* M_SIG_INT_H */
