/* Export key entry: the prompt with console echo turned off. The key text
 * is turned into AES key bytes by the key object of tokenexp_cipher.h. */
#ifndef TOKENEXP_KEY_H
#define TOKENEXP_KEY_H

#include "core/m_defs.h"

/* Size of the key text area: 64 hexadecimal digits and the NUL. */
#define TOKENEXP_KEY_LEN 65

/* Prompt for the export key on standard error and read it from descriptor
 * 0 into key (TOKENEXP_KEY_LEN bytes), with echo off while it is typed when
 * standard input is a terminal.
 *
 * The whole line is read, a byte at a time and without stdio (no copy of
 * the key stays in a stream buffer), up to its line feed, however long it
 * is (at most M_TERM_LINE_MAX bytes are consumed). The key text is the line
 * with surrounding whitespace removed, of which only the first 64
 * characters are used. At a terminal, anything still pending after the line
 * (a second pasted line, keys typed ahead) is discarded, so nothing meant
 * for the key reaches the shell afterwards. From a file or a pipe only the
 * first line is consumed; what follows it is left unread.
 *
 * On end of input or a read error the area is wiped, "\n" and "Couldn't read
 * quorvel key entered by user.\n" are written to standard error and M_FALSE
 * is returned. An empty line is a key (an empty one).
 *
 * At a terminal, echo is restored on every path, also when a signal ends
 * the process at the prompt; SIGTSTP restores echo and stops the process,
 * and SIGCONT turns echo off again and repeats the prompt (M_term_echo_off).
 * The caller owns key and wipes it when done (OPENSSL_cleanse). */
M_bool tokenexp_read_key(char *key);

#endif
