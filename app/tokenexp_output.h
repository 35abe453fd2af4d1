/* Writing the encrypted result: the output file is replaced as a whole or
 * not at all, is never written through a link planted at its path, and is
 * never one of the run's input files. The work is the library's staged
 * replace (fs/m_fs_replace.h): begun before the key is asked for, so that an
 * output that cannot be written stops the run before anything is read, and
 * finished once the message is complete. This module names the program's
 * use of it. */
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

/* Begin replacing the file at path (M_fs_replace_begin): decide how it is
 * written and, for a file, create its temporary file beside it now (mode
 * 0600; removed on any failure and on every catchable signal that ends the
 * process). A directory, a missing or unwritable directory, a read-only
 * existing output fail here.
 *
 * rep:    receives the replace; emptied first. NULL: M_FALSE.
 * path:   NULL or "": M_FALSE.
 * reason: the reason of a failure (tokenexp_fs_reason), reason_len bytes.
 *
 * Returns M_TRUE with the replace in rep; M_FALSE with rep empty and the
 * reason written. Prints nothing; the caller reports. */
M_bool tokenexp_output_begin(tokenexp::replace_guard *rep, const char *path, char *reason, size_t reason_len);

/* Write len bytes of data as the whole new content of the output and put it
 * in place (M_fs_replace_write, then M_fs_replace_commit).
 *
 * rep:    the replace begun by tokenexp_output_begin; empty: M_FALSE.
 *         Empty afterwards when the commit was reached; a replace whose
 *         write failed stays for the guard to cancel.
 * data:   the bytes; NULL with len 0 is allowed (an empty output).
 * reason: the reason of a failure (tokenexp_fs_reason), reason_len bytes.
 *
 * Returns M_TRUE when every byte is in place, M_FALSE with the reason
 * written. Prints nothing. */
M_bool tokenexp_output_finish(tokenexp::replace_guard *rep, const unsigned char *data, size_t len, char *reason,
                              size_t reason_len);

/* Whether path, as a replace would reach it, is the same file (device and
 * inode) as export_path or key_path, each as the file layer opens it
 * (M_fs_replace_reaches), or as the regular file standard input is open on,
 * where the export key may come from (M_fs_replace_reaches_stream). A path that does not exist or cannot be examined
 * is no input. NULL or "" for any argument: that comparison is false. */
M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path);

#endif
