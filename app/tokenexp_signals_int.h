/* Handlers the program puts in front of a fixed set of signals for a while
 * (at the key prompt, while a temporary output file exists), and the way back
 * to what was there before. Internal to the program.
 */
#ifndef TOKENEXP_SIGNALS_INT_H
#define TOKENEXP_SIGNALS_INT_H

#include <csignal>
#include <cstddef>
#include <cstring>

namespace tokenexp::detail {

/* The signals, their previous dispositions and which of them carry our
 * handler. Zero-initialised static storage is a valid empty state, so a
 * handler may consult it at any time. */
template <size_t N>
struct SignalHandlers {
	const int       *signals;
	struct sigaction old[N];
	bool             installed[N];

	/* Put handler in front of every signal, leaving alone one the caller
	 * ignores (under nohup a hang-up must not end the run). */
	void install(void (*handler)(int))
	{
		struct sigaction sa;
		std::memset(&sa, 0, sizeof(sa));
		sa.sa_handler = handler;
		sigemptyset(&sa.sa_mask);
		for (size_t i = 0; i < N; i++) {
			installed[i] = false;
			if (sigaction(signals[i], nullptr, &old[i]) != 0 || old[i].sa_handler == SIG_IGN)
				continue;
			installed[i] = sigaction(signals[i], &sa, nullptr) == 0;
		}
	}

	/* Put back every disposition install() replaced. */
	void restore()
	{
		for (size_t i = 0; i < N; i++) {
			if (installed[i])
				sigaction(signals[i], &old[i], nullptr);
			installed[i] = false;
		}
	}

	/* From a handler: put back sig's previous disposition and raise sig
	 * again, so it does what it would have done (normally end the process).
	 * Async-signal-safe. */
	void pass_on(int sig)
	{
		for (size_t i = 0; i < N; i++) {
			if (signals[i] == sig)
				sigaction(sig, &old[i], nullptr);
		}
		raise(sig);
	}

	/* The signals as a set, for blocking them. */
	sigset_t set() const
	{
		sigset_t s;
		sigemptyset(&s);
		for (size_t i = 0; i < N; i++)
			sigaddset(&s, signals[i]);
		return s;
	}
};

} // namespace tokenexp::detail

#endif
