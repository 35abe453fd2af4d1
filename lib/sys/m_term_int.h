/* The terminal module's byte reads and its record of the one terminal (C++
 * only, not a public header): one implementation per platform,
 * m_term_posix.cpp and m_term_win.cpp. */
#ifndef M_TERM_INT_H
#define M_TERM_INT_H

#include "sys/m_term.h"

namespace m::detail {

/* The terminal is going: the handlers stop looking at it. */
void term_forget(const M_term_t *term) noexcept;

/* Read one byte of fd into *c, retried when a signal interrupts the read.
 * Returns 1 when a byte was read, 0 at the end of input, -1 on an error. */
int term_read_byte(int fd, char *c) noexcept;

/* When fd is a terminal, discard the input still pending there (typed or
 * pasted beyond what was read); otherwise do nothing. */
void term_discard_pending(int fd) noexcept;

} // namespace m::detail

#endif
