/* What a run tells the person who runs it beyond the messages of its phases:
 * the run report of -v (whom the table was encrypted to, how many rows went
 * in and how many were left out), and the progress line shown while a long
 * export file is read at a terminal. */
#ifndef TOKENEXP_REPORT_H
#define TOKENEXP_REPORT_H

#include "app/tokenexp_table.h"
#include "core/m_buf.h"
#include "core/m_defs.h"
#include "fs/m_fs_error.h"
#include "fs/m_fs_file.h"
#include "pgp/pgp_pubkey.h"
#include "sys/m_time.h"

/* What one run did, added up as the blocks join the table (in file order),
 * and completed after the encryption. */
struct tokenexp_run_totals_t {
	tokenexp_row_counts_t rows{};                /* the rows of every block, added up */
	uint64_t              blocks      = 0;       /* blocks of RECURRING sections handed over by the walk */
	uint64_t              sections    = 0;       /* RECURRING sections (each starts with a block) */
	size_t                table_len   = 0;       /* bytes of the CSV token table */
	size_t                message_len = 0;       /* bytes of the encrypted message */
	M_bool                mdc         = M_FALSE; /* the message is the integrity-protected form */
	M_bool                crlf_lines  = M_FALSE; /* the export file's first header line ended in CR LF */
};

/* Count one block the walk handed over: a block, a section when it starts
 * one, and the rows the row stage counted for it (NULL: none). */
void tokenexp_totals_add_block(tokenexp_run_totals_t *totals, M_bool first_of_section,
                               const tokenexp_row_counts_t *rows);

/* Append len bytes of text to out as a terminal may show them: printable
 * ASCII and well-formed UTF-8 as they are; control characters (C0 with NUL,
 * DEL and the C1 range), bytes that are not well-formed UTF-8, and the
 * backslash as "\xNN"; characters that show as nothing or reorder the text
 * (bidirectional controls, line and paragraph separators, zero-width and
 * other default-invisible characters) as "\uNNNN" or "\UNNNNNNNN". Text
 * from a key file cannot move the cursor, rewrite a line of the report, or
 * read as other text than it is. NULL text appends nothing. */
void tokenexp_report_add_text(M_buf_t *out, const char *text, size_t len);

/* A command-line argument (an option, its value, a path) as a message may
 * echo it: escaped as tokenexp_report_add_text escapes, but for the
 * backslash, which stays as it is (Windows paths are full of them). A name
 * in plain text or UTF-8 comes back unchanged; control characters (an
 * escape sequence pasted with the argument) cannot reach the terminal.
 * Returns a new string (free with M_free); NULL for NULL arg. */
char *tokenexp_shown_arg(const char *arg);

/* Why a file operation failed with result res, for the line
 * "<path>: <reason>" that follows the line of the failing phase: the
 * system's own words ("No such file or directory", "No space left on
 * device") for the last failure of a system call on this thread
 * (M_platform_strerror; call it right after the failing operation), or the
 * program's words where res is no failure of the system (a key file over the
 * 64 MiB limit, too many links, a name too long) or no system call failed (a
 * path naming an unset variable). Written into reason (reason_len bytes,
 * cut to fit); nothing for NULL reason or reason_len 0. */
void tokenexp_fs_reason(M_fs_error_t res, char *reason, size_t reason_len);

/* Append a 20-byte fingerprint as gpg --fingerprint shows it: ten groups of
 * four upper-case hex digits, one space between them and two after the
 * fifth. NULL fpr appends nothing. */
void tokenexp_report_add_fingerprint(M_buf_t *out, const unsigned char *fpr);

/* Append the -v report to out: eight lines, each a label padded to 15
 * characters and its value, ending in "\n":
 *   Recipient:     the primary user ID (escaped), or "(no valid user ID)"
 *   Fingerprint:   the primary key's fingerprint, 10 groups of 4 upper-case
 *                  hex digits, two spaces after the fifth group
 *   Encrypted to:  ALGO/KEYID, created YYYY-MM-DD, expires YYYY-MM-DD|never
 *                  (ALGO rsaBITS, elgBITS or the curve; dates in UTC)
 *   Rows:          N read, N kept, N left out by -u, N left out by -s/-e
 *   Blocks:        N
 *   Sections:      N RECURRING
 *   Table:         N bytes
 *   Message:       N bytes, legacy|mdc
 * key and totals are read only; a NULL key or totals appends nothing. */
void tokenexp_report_write(M_buf_t *out, const M_pgp_pubkey_t *key, const tokenexp_run_totals_t *totals);

/* The progress line: shown only while standard error is a terminal, once
 * the walk has run for more than a second, redrawn at most four times a
 * second in place ("\r" and the text), and erased ("\r", spaces, "\r")
 * before anything else is printed. Used by the thread that reads the
 * export file. */
struct tokenexp_progress_t {
	M_bool      on    = M_FALSE; /* standard error is a terminal */
	uint64_t    total = 0;       /* bytes of the export file; 0: unknown (a pipe) */
	M_timeval_t start{};         /* when the walk began */
	uint64_t    last_ms = 0;     /* when the line was last drawn, in ms after start */
	size_t      shown   = 0;     /* characters of the line on the screen; 0: none */
};

/* Start the clock of the walk over file, whose size (when the library can
 * tell it) makes the percentage; decide whether the line may be shown. */
void tokenexp_progress_start(tokenexp_progress_t *p, M_fs_file_t *file);

/* The walk has read bytes_read bytes of the export file (0: unknown) and
 * rows_kept rows have joined the table: redraw the line when it is due. */
void tokenexp_progress_update(tokenexp_progress_t *p, uint64_t bytes_read, uint64_t rows_kept);

/* Erase the line if it is shown. Call it before printing anything else. */
void tokenexp_progress_clear(tokenexp_progress_t *p);

#endif
