/* The terminal module's byte reads and its record of the one terminal (C++
 * only, not a public header): one implementation per platform,
 * m_term_posix.cpp and m_term_win.cpp. */
#ifndef M_TERM_INT_H
#define M_TERM_INT_H

#include "sys/m_term.h"

namespace m::detail {

/* The one terminal of the process (M_term_create refuses a second), for
 * the signal or console handlers; NULL when there is none. */
extern M_term_t *volatile term_live;

/* M_term_echo_off and M_term_echo_on for a term that is not NULL: the
 * system's mode set and the handlers put in place or taken away. Echo off
 * when it is off already succeeds at once. Return whether the mode is set. */
bool term_echo_off_sys(M_term_t *term, int prompt_fd, const char *prompt) noexcept;
bool term_echo_on_sys(M_term_t *term) noexcept;

/* Read one byte of fd into *c, retried when a signal interrupts the read.
 * Returns 1 when a byte was read, 0 at the end of input, -1 on an error. */
int term_read_byte(int fd, char *c) noexcept;

/* When fd is a terminal, discard the input still pending there (typed or
 * pasted beyond what was read); otherwise do nothing. */
void term_discard_pending(int fd) noexcept;

} // namespace m::detail

#endif
