/* Writing the encrypted result: the output file is replaced as a whole or
 * not at all, is never written through a link planted at its path, and is
 * never one of the run's input files. */
#ifndef TOKENEXP_OUTPUT_H
#define TOKENEXP_OUTPUT_H

#include "core/m_defs.h"

#include <stddef.h>

/* Write len bytes of data as the new content of the file at path.
 *
 * The path is read as the file layer reads paths ("~" and "$NAME"
 * components expanded, "." and ".." folded), except that its last component
 * is never followed when it is a symbolic link.
 *
 * When nothing is at path, or a regular file, or a symbolic link to one (or
 * a dangling link), the bytes go to a new temporary file ".NAME.XXXXXX" in
 * the same directory (NAME the output's file name, the X's random), created
 * exclusively with mode 0600 (a name that exists already, a link included,
 * is never opened). It is written whole, given the mode the output gets (an
 * existing regular file's permission bits, else 0666 less the umask), synced
 * to the device, closed, and renamed over path; the directory is then
 * synced as well. A link at path is thereby replaced, not written through,
 * and the other names of a hard-linked output keep their old content.
 *
 * On any failure (creating, writing, a short write, a full device, a file
 * size limit, syncing, closing, renaming) the temporary file is removed and
 * whatever was at path is left exactly as it was. SIGINT, SIGTERM, SIGHUP
 * and SIGXFSZ arriving while the temporary file exists remove it and then
 * end the process as they would have (signals that were ignored stay
 * ignored). A process killed outright (SIGKILL, power loss) may leave the
 * temporary file behind but never a damaged output.
 *
 * An existing regular file the user has no write permission for is a
 * failure, as opening it for writing would be, although the rename itself
 * would be allowed.
 *
 * When path names something that is not a regular file, a directory or a
 * link to one (a character or block device, a FIFO, a socket: "-o
 * /dev/stdout"), the bytes are written to it directly, as a stream is
 * written; nothing is renamed over it. A directory is a failure.
 *
 * path: NULL or "": M_FALSE.
 * data: the bytes; NULL with len 0 is allowed (an empty output).
 *
 * Returns M_TRUE when every byte is in place, M_FALSE otherwise. Prints
 * nothing; the caller reports. Not reentrant: one write at a time per
 * process (the signal handlers share one record). */
M_bool tokenexp_write_output(const char *path, const unsigned char *data, size_t len);

/* Whether path, as tokenexp_write_output would reach it, is the same file
 * (device and inode) as export_path or key_path, each as the file layer
 * opens it. A path that does not exist or cannot be examined is no input.
 * NULL or "" for any argument: that comparison is false. */
M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path);

#endif
