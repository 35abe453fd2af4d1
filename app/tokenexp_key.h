/* Export key entry: the prompt with console echo turned off. The key text
 * is turned into AES key bytes by the key object of tokenexp_cipher.h. */
#ifndef TOKENEXP_KEY_H
#define TOKENEXP_KEY_H

#include "core/m_defs.h"

/* Size of the key text area: 64 hexadecimal digits and the NUL. */
#define TOKENEXP_KEY_LEN 65

/* Prompt for the export key on standard error and read one line of at most
 * 64 characters from descriptor 0 into key (TOKENEXP_KEY_LEN bytes), with
 * echo off while it is typed when standard input is a terminal. The line is
 * read without stdio, a byte at a time, so no copy of the key is left in a
 * stream buffer and nothing after the line (or after the 64th character)
 * is consumed. The text is trimmed. On end of input, a read error or an
 * empty line the area is wiped, "\n" and "Couldn't read quorvel key entered
 * by user.\n" are written to standard error and M_FALSE is returned.
 *
 * At a terminal, echo is restored on every path and also when a signal
 * ends the process at the prompt (SIGINT, SIGTERM, SIGHUP, SIGQUIT); SIGTSTP
 * restores echo and stops the process, and SIGCONT turns echo off again and
 * repeats the prompt. Signals ignored by the caller stay ignored. The caller
 * owns key and wipes it when done (OPENSSL_cleanse). */
M_bool tokenexp_read_key(char *key);

#endif
