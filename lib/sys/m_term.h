/* Terminal input: echo turned off while a secret is typed, whole-line
 * reads, and whether a descriptor is a terminal.
 *
 * An M_term_t holds one terminal's mode as it was found. While its echo is
 * off, every signal that would end the process first puts the terminal's
 * mode back (and then ends the process as it would have), so a user is
 * never left at a shell that does not echo. Job control keeps working:
 * SIGTSTP (Ctrl-Z) puts the mode back and stops the process; SIGCONT turns
 * echo off again and writes the prompt once more, since the shell has
 * covered its line. Where the system discards the stop (a process group
 * without a parent in its session: the program leads its session), echo is
 * off again at once. Signals the process ignores stay ignored, and a
 * handler the process had is called after the terminal has been put back.
 *
 * On Windows the terminal is the console of the standard input: echo is
 * ENABLE_ECHO_INPUT of its mode (SetConsoleMode), and a console control
 * handler puts the mode back on Ctrl+C, Ctrl+Break and the closing of the
 * console before the process ends; there is no stop and resume, so the
 * prompt is never written again. Descriptors 0, 1 and 2 stand for the
 * standard handles.
 *
 * M_term_read_line reads one line from any descriptor, a byte at a time
 * (no copy of the line stays in a stream buffer, and nothing after the line
 * is consumed), always up to its line feed, bounded by M_TERM_LINE_MAX.
 *
 * At most one M_term_t exists at a time: the signal handlers share its
 * record. Not for use by two threads at once.
 */
#ifndef M_TERM_H
#define M_TERM_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Opaque: a terminal and its mode as found. */
typedef struct M_term M_term_t;

/* Most bytes M_term_read_line consumes for one line, the line feed included
 * (a terminal's line holds at most 4095 characters and the line feed). */
#define M_TERM_LINE_MAX 4096

/* Flags of M_term_read_line (uint32_t). */
typedef enum {
	M_TERM_READ_NONE    = 0,
	M_TERM_READ_DISCARD = 1u << 0 /* after the line, discard input still
	                                 pending at the terminal (anything typed
	                                 or pasted beyond the line); no effect
	                                 when the descriptor is no terminal */
} M_term_read_flags_t;

/* Take hold of the terminal at fd and remember its mode. Nothing changes
 * until M_term_echo_off.
 *
 * fd: an open descriptor.
 * Returns a new object (release with M_term_destroy), or NULL when fd is no
 * terminal, its mode cannot be read, or another M_term_t exists. */
M_API M_term_t *M_term_create(int fd) M_WARN_UNUSED_RESULT;

/* Turn echo off and put the signal handlers described above in place.
 *
 * term:      the terminal; NULL: M_FALSE.
 * prompt_fd: where the prompt is written again after a stop and resume.
 * prompt:    NUL-terminated text written then, borrowed until echo is on
 *            again; NULL writes nothing.
 *
 * Returns M_TRUE when echo is off, M_FALSE when the mode could not be set
 * (the handlers are then not in place). Calling it again while echo is off
 * changes nothing and returns M_TRUE. */
M_API M_bool M_term_echo_off(M_term_t *term, int prompt_fd, const char *prompt);

/* Put the terminal's mode back as it was found and remove the handlers.
 *
 * term: the terminal; NULL: M_FALSE.
 * Returns M_TRUE when the mode is back (also when echo was not off). */
M_API M_bool M_term_echo_on(M_term_t *term);

/* M_term_echo_on, then release the object.
 *
 * term: the terminal; NULL is ignored. term is invalid afterwards. */
M_API void M_term_destroy(M_term_t *term);

/* Whether fd is open on a terminal (isatty; on Windows a console handle,
 * which descriptors 0, 1 and 2 stand for). Programs use it to decide
 * whether output meant for a person's eyes (a progress line rewritten in
 * place) may be written: a file or a pipe must see none of it.
 *
 * fd: the descriptor; a negative or closed one: M_FALSE.
 * Returns M_TRUE for a terminal, M_FALSE otherwise. Changes nothing. */
M_API M_bool M_term_is_terminal(int fd);

/* Read one line from fd into buf.
 *
 * Bytes are read one at a time up to and including the line feed, at most
 * M_TERM_LINE_MAX of them, or until the end of input. The first
 * buf_size - 1 bytes of the line (the line feed not counted, never stored)
 * are kept in buf; the rest of the line is read and dropped. A signal that
 * interrupts a read does not end the line.
 *
 * fd:       the descriptor; a negative one: M_FALSE.
 * buf:      the caller's area, always NUL-terminated on return; NULL:
 *           M_FALSE and nothing is read.
 * buf_size: bytes of buf; 0: M_FALSE and nothing is read.
 * len:      receives the bytes kept in buf; NULL: not reported.
 * flags:    M_term_read_flags_t bits.
 *
 * Returns M_TRUE when a line was read (an empty line, and bytes ended by the
 * end of input without a line feed, are lines), M_FALSE at the end of input
 * with nothing read and on a read error. The caller wipes buf when it holds
 * a secret. */
M_API M_bool M_term_read_line(int fd, char *buf, size_t buf_size, size_t *len, uint32_t flags);

M_END_DECLS

#endif /* M_TERM_H */
