/* Console echo on Windows: GetConsoleMode/SetConsoleMode on the standard
 * input handle, and the byte reads of M_term_read_line (ReadFile,
 * FlushConsoleInputBuffer).
 *
 * Descriptors 0, 1 and 2 stand for the process's standard handles
 * (GetStdHandle), any other for the C runtime's descriptor of that number.
 * A handle is a terminal when the console accepts GetConsoleMode on it: a
 * file, a pipe or the null device is none (the C runtime's _isatty counts
 * the null device as one).
 *
 * While echo is off, a console control handler puts the mode back on
 * Ctrl+C, Ctrl+Break and the closing of the console, and then lets the
 * process end as it would have (the handler reports the event as not
 * handled). There is no stop and resume of a console program, so the
 * prompt is never written again here.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <io.h>

#include "sys/m_term.h"
#include "sys/m_term_int.h"

#include "core/m_mem.h"

struct M_term {
	HANDLE        handle;   /* the console input */
	DWORD         saved;    /* mode as found */
	volatile LONG echo_off; /* echo is off right now */
	bool          guarded;  /* the control handler is in place */
};

namespace {

HANDLE handle_of(int fd) noexcept
{
	switch (fd) {
		case 0:
			return GetStdHandle(STD_INPUT_HANDLE);
		case 1:
			return GetStdHandle(STD_OUTPUT_HANDLE);
		case 2:
			return GetStdHandle(STD_ERROR_HANDLE);
		default:
			break;
	}
	if (fd < 0)
		return INVALID_HANDLE_VALUE;
	// The runtime gives a descriptor's handle as an integer.
	// NOLINTNEXTLINE(performance-no-int-to-ptr)
	return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool usable(HANDLE h) noexcept
{
	return h != nullptr && h != INVALID_HANDLE_VALUE;
}

bool is_console(HANDLE h) noexcept
{
	DWORD mode = 0;
	return usable(h) && GetConsoleMode(h, &mode) != 0;
}

/* Runs on a thread of its own: put the mode back, then let the next handler
 * (normally the one that ends the process) have the event. */
BOOL WINAPI on_control(DWORD)
{
	M_term_t *t = m::detail::term_live;
	if (t != nullptr && InterlockedExchange(&t->echo_off, 0) != 0)
		(void)SetConsoleMode(t->handle, t->saved);
	return FALSE;
}

} // namespace

extern "C" {

M_term_t *M_term_create(int fd)
{
	const HANDLE h    = handle_of(fd);
	DWORD        mode = 0;
	if (m::detail::term_live != nullptr || !usable(h) || !GetConsoleMode(h, &mode))
		return nullptr;
	M_term_t *t          = static_cast<M_term_t *>(M_malloc_zero(sizeof(*t)));
	t->handle            = h;
	t->saved             = mode;
	m::detail::term_live = t;
	return t;
}

} // extern "C"

bool m::detail::term_echo_off_sys(M_term_t *term, int, const char *) noexcept
{
	if (term->echo_off)
		return true;
	if (!term->guarded)
		term->guarded = SetConsoleCtrlHandler(on_control, TRUE) != 0;
	/* Marked first: an event between the two must put the mode back. */
	InterlockedExchange(&term->echo_off, 1);
	return SetConsoleMode(term->handle, term->saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

bool m::detail::term_echo_on_sys(M_term_t *term) noexcept
{
	InterlockedExchange(&term->echo_off, 0);
	const bool ok = SetConsoleMode(term->handle, term->saved) != 0;
	if (term->guarded) {
		(void)SetConsoleCtrlHandler(on_control, FALSE);
		term->guarded = false;
	}
	return ok;
}

extern "C" {

M_bool M_term_is_terminal(int fd)
{
	return fd >= 0 && is_console(handle_of(fd));
}

} // extern "C"

namespace m::detail {

int term_read_byte(int fd, char *c) noexcept
{
	const HANDLE h = handle_of(fd);
	if (!usable(h))
		return -1;
	for (;;) {
		DWORD n = 0;
		SetLastError(ERROR_SUCCESS);
		const BOOL ok = ReadFile(h, c, 1, &n, nullptr);
		/* Ctrl+C or Ctrl+Break cuts a console read short: the control
		 * handlers decide whether the process ends (then it ends during the
		 * next read), as a signal does at a POSIX terminal, so the read is
		 * made again instead of taken for the end of input. */
		if (GetLastError() == ERROR_OPERATION_ABORTED && n == 0)
			continue;
		if (!ok)
			return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1; /* a pipe's writer closed: the end */
		return n == 1 ? 1 : 0;
	}
}

void term_discard_pending(int fd) noexcept
{
	const HANDLE h = handle_of(fd);
	if (is_console(h))
		(void)FlushConsoleInputBuffer(h);
}

} // namespace m::detail
