/* Replacing a file whole: the path shows the old content or the new one,
 * never a mix, and never an incomplete file.
 *
 * The output's folder is opened when the replace begins and held until it
 * ends: the temporary file is created, renamed and removed in that folder
 * wherever it may be moved meanwhile. A folder moved or swapped for another
 * before the commit fails the commit with M_FS_ERROR_DIR_CHANGED: the old
 * output stays, the temporary file is removed, and nothing found under its
 * name but not written by the replace is ever put in place.
 *
 * A replace is staged. M_fs_replace_begin decides what the path is and, for
 * a file, creates the temporary file that will take its place, so that a
 * missing or unwritable directory is known before any data is produced;
 * M_fs_replace_write adds bytes as they become available; M_fs_replace_commit
 * puts the result in place, M_fs_replace_cancel leaves the path as it was.
 * M_fs_replace_bytes does all of it for data already in memory.
 *
 * Reading the path: "~" and "$NAME" components are expanded as
 * M_fs_path_norm does, and "." components dropped, but ".." is left to the
 * system: the directory part is resolved as the system resolves it (links
 * first, then ".."), so with "sl" a link to "real/sub", "sl/../x" is
 * "real/x", and "nodir/../x" fails when "nodir" does not exist. A path that
 * ends with "/", "." or ".." names a directory and fails. The last
 * component is never followed when it is a symbolic link: the link is
 * replaced, not written through.
 *
 * What is at the path decides how it is written:
 *   - nothing, a regular file, or a link to one (or a dangling link): a new
 *     temporary file ".NAME.XXXXXX" in the same directory (NAME the file
 *     name, at most its first 240 bytes; the X's random) is created
 *     exclusively with mode 0600 when the replace begins, written, given its
 *     final owner, group and mode only at the commit (an existing regular
 *     file's owner, group and permission bits; else the process's, and 0666
 *     less the umask), synced to the device, closed and renamed over the
 *     path; then the directory is synced. Owner and group are kept where the
 *     process may set them: root keeps both; another user keeps the group
 *     when a member of it, and otherwise the new file is the user's own. The
 *     other names of a hard-linked file keep the old content.
 *   - an existing regular file the user may not write: M_FS_ERROR_PERMISSION,
 *     nothing changes (the rename would be allowed, but a read-only file was
 *     meant to stay).
 *   - an entry of a sticky folder (such as /tmp) that belongs to another
 *     user, when the folder is not the user's either and the process lacks
 *     CAP_FOWNER: the system would refuse the rename, so the begin does
 *     (M_FS_ERROR_PERMISSION, "Operation not permitted").
 *   - a file that is a mount point (a single bind-mounted file, which the
 *     system refuses to rename over): at the commit the temporary file's
 *     content is copied into it in place, and the temporary file removed.
 *     This case is NOT atomic: a failure part-way leaves it incomplete.
 *   - anything that is not a regular file or a directory, also through
 *     links (a device, a FIFO, a socket), and any existing entry of /dev or
 *     /proc: written directly, as a stream; nothing is renamed over it. It
 *     must be writable when the replace begins; it is opened (and emptied)
 *     by the first write, or by the commit when nothing was written, so that
 *     a FIFO is not waited on before there is data.
 *   - one of the process's own descriptors (/dev/stdout, /dev/fd/N,
 *     /proc/self/fd/N): written to the open descriptor itself, at its
 *     position.
 *   - a directory: M_FS_ERROR_PERMISSION.
 *
 * Failures and signals. On any failure, and on cancel, the temporary file is
 * removed and the path keeps what it had. From the begin to the commit or
 * cancel, every catchable signal whose default action ends the process
 * (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU,
 * ..., the real-time signals) removes the temporary file and is then passed
 * on to what the process had for it (normally ending the process); signals
 * the process ignores stay ignored. SIGPIPE is ignored meanwhile: a pipe
 * whose reader went away fails the write (EPIPE, "Broken pipe") like any
 * other failure. A file size limit hit by a write is a failure like any
 * other, not the end of the process (SIGXFSZ the write itself causes is
 * held back). Handlers other parts install later (such as
 * the terminal's while the key is typed) pass signals on to these. A process
 * killed outright (SIGKILL, a power cut) may leave the temporary file: with
 * mode 0600 until its data is complete and synced, and at worst, killed
 * between the mode change and the rename, a complete file with the output's
 * mode; the output itself is never damaged.
 *
 * On Windows the same holds in the system's own terms: "~", "%NAME%" and
 * "$NAME" are expanded and the rest is resolved as the system resolves it
 * (".." is taken out of the text, so "nodir\..\x" is "x"; a device name
 * such as NUL or CON is the device, "\\.\" with a drive and a path, such
 * as \\.\C:\data\old.gpg, a file like any other); the output's folder is
 * held without sharing deletion, so it cannot be moved or deleted while the
 * replace works; a file is replaced by renaming the temporary file over it
 * by its handle, the temporary file having taken the old file's access
 * list; a device (opened when the replace begins, so that a console that is
 * not there, say, is refused then), anything but a disk file, and the file
 * a standard output or error handle is open on are written directly (the
 * last at the handle's position); a read-only file or a folder is refused.
 * In place of signals, a console control handler removes the temporary file
 * on Ctrl+C, Ctrl+Break and the closing of the console, and passes the
 * event on; a process ended outright (TerminateProcess, and logoff and
 * shutdown for a process that loads user32.dll, whose handlers the system
 * does not call for those) may leave the temporary file.
 *
 * One replace at a time per process (the signal handlers share one record);
 * an M_fs_replace_t is used by one thread at a time.
 */
#ifndef M_FS_REPLACE_H
#define M_FS_REPLACE_H

#include "core/m_defs.h"
#include "fs/m_fs_error.h"
#include "fs/m_fs_file.h"

M_BEGIN_DECLS

/* A replace in progress, from M_fs_replace_begin to M_fs_replace_commit or
 * M_fs_replace_cancel, which both release it. Opaque. */
struct M_fs_replace;
typedef struct M_fs_replace M_fs_replace_t;

/* Begin replacing the file at path: resolve the path, decide how it is
 * written (above) and, for a file, create the temporary file now.
 *
 * rep:  receives the new replace; NULL: M_FS_ERROR_INVALID. Set to NULL on
 *       every failure.
 * path: NULL or "": M_FS_ERROR_INVALID.
 *
 * Returns M_FS_ERROR_SUCCESS with *rep to be ended by M_fs_replace_commit or
 * M_fs_replace_cancel; else a normalisation code, M_FS_ERROR_PERMISSION (a
 * directory, a read-only file, an entry the system would not let go),
 * M_FS_ERROR_NAME_TOO_LONG, the translated
 * system error of resolving the directory or creating the temporary file,
 * or M_FS_ERROR_GENERIC while another replace of this process is open. On
 * failure nothing was created. */
M_API M_fs_error_t M_fs_replace_begin(M_fs_replace_t **rep, const char *path) M_WARN_UNUSED_RESULT;

/* Add len bytes to the new content.
 *
 * rep: the replace; NULL: M_FS_ERROR_INVALID.
 * buf: the bytes; NULL: M_FS_ERROR_INVALID unless len is 0.
 *
 * Returns M_FS_ERROR_SUCCESS when every byte is with the system, else the
 * translated system error (a full disk, a file size limit). A failure sticks:
 * every later write and the commit return it; the replace is then only to
 * be cancelled (the commit does that too). */
M_API M_fs_error_t M_fs_replace_write(M_fs_replace_t *rep, const unsigned char *buf, size_t len);

/* Put the new content in place (above) and release rep.
 *
 * rep: the replace; NULL: M_FS_ERROR_INVALID.
 *
 * Returns M_FS_ERROR_SUCCESS when the path holds every byte written, else
 * the first failure, a failed write's included, or M_FS_ERROR_DIR_CHANGED
 * when the output's folder was moved or replaced, or the temporary file's
 * name taken by another file; on failure the temporary file is removed and
 * a file at the path keeps what it had. rep is released either way. */
M_API M_fs_error_t M_fs_replace_commit(M_fs_replace_t *rep);

/* Give up: remove the temporary file, leave the path as it was, release rep.
 * A stream target already written to keeps what it was given. NULL is
 * ignored. */
M_API void M_fs_replace_cancel(M_fs_replace_t *rep);

/* Replace the file at path with len bytes in one call: begin, write,
 * commit.
 *
 * path: NULL or "": M_FS_ERROR_INVALID.
 * buf:  the bytes; NULL: M_FS_ERROR_INVALID unless len is 0 (empty output).
 *
 * Returns M_FS_ERROR_SUCCESS when every byte is in place, else the first
 * failure of the three steps. */
M_API M_fs_error_t M_fs_replace_bytes(const char *path, const unsigned char *buf, size_t len);

/* Whether a replace of path would reach the same file (device and inode,
 * links at the end followed) as M_fs_file_open(other) opens.
 *
 * path, other: NULL or "": M_FALSE. A path that does not exist or cannot be
 * examined reaches nothing: M_FALSE. */
M_API M_bool M_fs_replace_reaches(const char *path, const char *other);

/* Whether a replace of path would reach the regular file that one of the
 * process's standard streams is open on (say, the file standard input reads
 * a secret from): the same file, by its device and inode (by its volume and
 * file index on Windows). A stream open on anything but a regular file (a
 * terminal, a pipe, a device) is reached by nothing, as nothing there would
 * be replaced.
 *
 * path:   NULL or "": M_FALSE. A path that does not exist or cannot be
 *         examined reaches nothing: M_FALSE.
 * stream: M_FS_IOSTREAM_IN, _OUT or _ERR (fs/m_fs_file.h); any other value:
 *         M_FALSE. */
M_API M_bool M_fs_replace_reaches_stream(const char *path, M_fs_iostream_t stream);

M_END_DECLS

#endif /* M_FS_REPLACE_H */
