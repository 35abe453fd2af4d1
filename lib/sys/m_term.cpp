/* The end of a terminal, and whole-line reads, a byte at a time through the
 * platform's reader (m_term_posix.cpp, m_term_win.cpp), so no copy of a line
 * stays in a stream buffer and nothing after the line is consumed. */
#include "sys/m_term.h"
#include "sys/m_term_int.h"

#include "core/m_mem.h"

M_term_t *volatile m::detail::term_live = nullptr;

extern "C" {

M_bool M_term_echo_off(M_term_t *term, int prompt_fd, const char *prompt)
{
	if (term == nullptr)
		return M_FALSE;
	if (m::detail::term_echo_off_sys(term, prompt_fd, prompt))
		return M_TRUE;
	(void)M_term_echo_on(term);
	return M_FALSE;
}

M_bool M_term_echo_on(M_term_t *term)
{
	return term != nullptr && m::detail::term_echo_on_sys(term);
}

void M_term_destroy(M_term_t *term)
{
	if (term == nullptr)
		return;
	(void)M_term_echo_on(term);
	if (m::detail::term_live == term)
		m::detail::term_live = nullptr;
	M_free(term);
}

M_bool M_term_read_line(int fd, char *buf, size_t buf_size, size_t *len, uint32_t flags)
{
	if (len != nullptr)
		*len = 0;
	if (buf == nullptr || buf_size == 0)
		return M_FALSE;
	buf[0] = '\0';
	if (fd < 0)
		return M_FALSE;

	size_t kept = 0;
	size_t seen = 0;
	bool   ok   = true;
	while (seen < M_TERM_LINE_MAX) {
		char      c = 0;
		const int n = m::detail::term_read_byte(fd, &c);
		if (n <= 0) {
			ok = n == 0;
			break;
		}
		seen++;
		if (c == '\n')
			break;
		if (kept < buf_size - 1)
			buf[kept++] = c;
		*static_cast<volatile char *>(&c) = 0;
	}
	buf[kept] = '\0';
	if (flags & M_TERM_READ_DISCARD)
		m::detail::term_discard_pending(fd);
	if (len != nullptr)
		*len = kept;
	return ok && seen > 0;
}

} // extern "C"
