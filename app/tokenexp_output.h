/* Writing the encrypted result: the output file is replaced as a whole or
 * not at all, is never written through a link planted at its path, and is
 * never one of the run's input files. The work is the library's staged
 * replace (fs/m_fs_replace.h): begun before the key is asked for, so that an
 * output that cannot be written stops the run before anything is read,
 * written as the message is made, and committed once it is complete. This
 * module names the program's use of it. */
#ifndef TOKENEXP_OUTPUT_H
#define TOKENEXP_OUTPUT_H

#include "app/tokenexp_guard.h"
#include "core/m_defs.h"
#include "fs/m_fs_replace.h"

#include <stddef.h>

namespace tokenexp {

/* A replace in progress, cancelled when the guard goes out of scope while
 * still holding it (a commit takes it out first): every way out of a run
 * removes the temporary file and leaves the output as it was. */
using replace_guard = guard<M_fs_replace_t, M_fs_replace_cancel>;

} // namespace tokenexp

/* The output while it is written: the replace, and what became of the
 * message's bytes. */
struct tokenexp_output_t {
	tokenexp::replace_guard replace;           /* until the commit */
	size_t                  written = 0;       /* bytes given to the replace */
	M_bool                  failed  = M_FALSE; /* a write failed: the commit reports why */
	char                    reason[256]{};     /* why, in the words of the thread that wrote */
};

/* Begin replacing the file at path (M_fs_replace_begin): decide how it is
 * written and, for a file, create its temporary file beside it now (mode
 * 0600; removed on any failure and on every catchable signal that ends the
 * process). A directory, a missing or unwritable directory, a read-only
 * existing output, an entry the system would not let the user replace, a
 * device that cannot be written, and the file standard error is open on
 * (the messages would land inside the message) fail here.
 *
 * out:    receives the replace; emptied first. NULL: M_FALSE.
 * path:   NULL or "": M_FALSE.
 * reason: the reason of a failure (tokenexp_fs_reason), reason_len bytes.
 *
 * Returns M_TRUE with the replace in out; M_FALSE with out empty and the
 * reason written. Prints nothing; the caller reports. */
M_bool tokenexp_output_begin(tokenexp_output_t *out, const char *path, char *reason, size_t reason_len);

/* The message's write function (M_pgp_msg_write_cb): len bytes at bytes to
 * the replace (M_fs_replace_write), on whichever thread the message is
 * written from, one at a time. thunk is the tokenexp_output_t. Returns
 * M_FALSE once a write has failed (the failure sticks: the commit reports
 * it), or with no replace begun. */
M_bool tokenexp_output_write(const unsigned char *bytes, size_t len, void *thunk);

/* Put the new content in place (M_fs_replace_commit): the output then holds
 * every byte written, or, after any failure, what it held before.
 *
 * out:    the output begun by tokenexp_output_begin; empty: M_FALSE. Its
 *         replace is ended either way.
 * reason: the reason of a failure (tokenexp_fs_reason), reason_len bytes.
 *
 * Returns M_TRUE when every byte is in place, M_FALSE with the reason
 * written. Prints nothing. */
M_bool tokenexp_output_commit(tokenexp_output_t *out, char *reason, size_t reason_len);

/* Whether path, as a replace would reach it, is the same file (device and
 * inode) as export_path or key_path, each as the file layer opens it
 * (M_fs_replace_reaches), or as the regular file standard input is open on,
 * where the export key may come from (M_fs_replace_reaches_stream). A path that does not exist or cannot be examined
 * is no input. NULL or "" for any argument: that comparison is false. */
M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path);

#endif
