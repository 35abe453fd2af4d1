/* The terminal module's byte reads (C++ only, not a public header): one
 * implementation per platform, m_term_posix.cpp and m_term_win.cpp. */
#ifndef M_TERM_INT_H
#define M_TERM_INT_H

namespace m::detail {

/* Read one byte of fd into *c, retried when a signal interrupts the read.
 * Returns 1 when a byte was read, 0 at the end of input, -1 on an error. */
int term_read_byte(int fd, char *c) noexcept;

/* When fd is a terminal, discard the input still pending there (typed or
 * pasted beyond what was read); otherwise do nothing. */
void term_discard_pending(int fd) noexcept;

} // namespace m::detail

#endif
