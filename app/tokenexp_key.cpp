/* Export key entry. */
#include "app/tokenexp_key.h"

#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "sys/m_proc.h"
#include "sys/m_term.h"

#include <openssl/crypto.h>

#include <cstdio>

namespace {

constexpr char kPrompt[] = "Enter quorvel export key: ";

/* Room for the typed line, of which the key text is taken: the whole of the
 * longest line read, so that however much whitespace surrounds the key, it
 * is trimmed before anything is cut. */
constexpr size_t kLineRoom = M_TERM_LINE_MAX;

/* Descriptors of the standard streams. */
constexpr int kStdin  = 0;
constexpr int kStderr = 2;

/* The key text of a typed line: surrounding whitespace removed, then at
 * most the first TOKENEXP_KEY_LEN - 1 characters, trimmed again. */
void take_key(char *key, char *line)
{
	M_str_trim_max(M_str_trim(line), TOKENEXP_KEY_LEN - 1);
	M_mem_copy(key, line, M_str_len(line) + 1);
}

} // namespace

M_bool tokenexp_read_key(char *key)
{
	/* NULL when standard input is no terminal: nothing to turn off. */
	M_term_t *term = M_term_create(kStdin);
	(void)M_term_echo_off(term, kStderr, kPrompt);

	M_fprintf(stderr, "%s", kPrompt);
	fflush(stderr);

	/* The typed line, kept out of swap where allowed and wiped below. */
	char       line[kLineRoom];
	const bool locked = M_proc_mem_lock(line, sizeof(line));
	const bool read   = M_term_read_line(kStdin, line, sizeof(line), nullptr, M_TERM_READ_DISCARD);
	if (read)
		take_key(key, line);
	OPENSSL_cleanse(line, sizeof(line));
	if (locked)
		M_proc_mem_unlock(line, sizeof(line));

	if (!read) {
		OPENSSL_cleanse(key, TOKENEXP_KEY_LEN);
		M_fprintf(stderr, "\n");
		M_term_destroy(term);
		M_fprintf(stderr, "Couldn't read quorvel key entered by user.\n");
		return M_FALSE;
	}

	M_fprintf(stderr, "\n");
	M_term_destroy(term);
	return M_TRUE;
}
