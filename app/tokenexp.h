/* The token export run: command line, inputs, section walk, encryption and
 * output, with one clean-up sequence on every exit path. */
#ifndef TOKENEXP_H
#define TOKENEXP_H

#include "core/m_defs.h"
#include "formats/m_csv.h"

/* The options of one run, cleared to all-absent at start. The record is the
 * row filter's thunk, so filter_cb reads user, exp_start and exp_end. */
typedef struct {
	const char         *export_file;   /* argument 1, borrowed from argv */
	const char         *key_file;      /* argument 2, borrowed from argv */
	const char         *output_file;   /* -o, or NULL; replaced by the default name when absent or empty */
	const char         *user;          /* -u: merchant user whose rows are kept, or NULL */
	const char         *exp_start;     /* -s: lowest expiry date kept (YYYYMM), or NULL */
	const char         *exp_end;       /* -e: highest expiry date kept (YYYYMM), or NULL */
	M_csv_row_filter_cb filter;        /* filter_cb once any of -u, -s, -e is seen, else NULL */
	unsigned int        pgp_flags;     /* -m: M_PGP_ENCRYPT_MDC for "mdc" (the caller's default), 0 for "legacy" */
	M_bool              verbose;       /* -v: report the run before the final line */
	M_bool              pinned;        /* -r was given: the key must have the fingerprint below */
	unsigned char       recipient[20]; /* -r: fingerprint of the primary key or of the key encrypted to */
} tokenexp_opts_t;

/* Read the options from argv[3] on into opts (which must already hold the
 * two paths and the default form), printing to standard error the
 * "Restricting ..." lines, a warning for each unknown option (skipped with
 * its value), and the error that stops the run: an expiry date, message
 * format or fingerprint (-r) it cannot use, -u or -o without a value, or
 * an argument that is no option (one that opens with neither "-" nor "/",
 * or, where paths are in the Unix style, opens with "/" and is longer than
 * two characters: an absolute path; and is no option's value; arguments
 * shorter than two characters are ignored). Arguments are echoed escaped
 * (tokenexp_shown_arg). Every option but -v takes a value (the next
 * argument, or the rest of its own); -v takes none, and an argument such as
 * -vX is -v as well. Returns M_FALSE when the run must stop. */
M_bool tokenexp_parse_options(int argc, char **argv, tokenexp_opts_t *opts);

/* Run one whole export job; returns the process exit status (0 or 1). */
int tokenexp_main(int argc, char **argv);

#endif
