/* Writing the encrypted result: the output file is replaced as a whole or
 * not at all, is never written through a link planted at its path, and is
 * never one of the run's input files. The work is the library's
 * (M_fs_replace_bytes, fs/m_fs_replace.h); this module names the program's
 * use of it. */
#ifndef TOKENEXP_OUTPUT_H
#define TOKENEXP_OUTPUT_H

#include "core/m_defs.h"

#include <stddef.h>

/* Write len bytes of data as the new content of the file at path, with
 * M_fs_replace_bytes: atomically through a temporary file beside it (mode
 * 0600 until complete; removed on any failure and on every catchable
 * signal that ends the process), keeping an existing output's mode, and
 * its owner and group where the process may set them; directly when path
 * is a device, a FIFO, one of the process's own descriptors (/dev/stdout)
 * or an entry of /dev or /proc; in place, not atomically, when the output
 * is a mount point. A directory, or a read-only existing output, fails.
 *
 * path: NULL or "": M_FALSE.
 * data: the bytes; NULL with len 0 is allowed (an empty output).
 *
 * Returns M_TRUE when every byte is in place, M_FALSE otherwise. Prints
 * nothing; the caller reports. One write at a time per process. */
M_bool tokenexp_write_output(const char *path, const unsigned char *data, size_t len);

/* Whether path, as tokenexp_write_output would reach it, is the same file
 * (device and inode) as export_path or key_path, each as the file layer
 * opens it (M_fs_replace_reaches). A path that does not exist or
 * cannot be examined is no input. NULL or "" for any argument: that
 * comparison is false. */
M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path);

#endif
