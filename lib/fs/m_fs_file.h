/* File I/O: open files with optional user-space buffering.
 *
 * An M_fs_file_t is one open file: a path opened with M_fs_file_open or one
 * of the three standard streams wrapped with M_fs_file_open_iostream. It is
 * read, written, moved with seek, flushed with sync and ended with
 * M_fs_file_close. Two whole-file operations, M_fs_file_read_bytes and
 * M_fs_file_write_bytes, open, transfer and close in one call.
 *
 * Buffering. A file opened with a buffer size above 0 keeps two buffers of
 * that size in user space:
 *   - a read buffer of bytes already fetched from the file that the caller
 *     has not received yet (the "read-ahead": the system's file position lies
 *     that many bytes ahead of the caller's position);
 *   - a write buffer of bytes the caller has written that are not in the file
 *     yet.
 * At most one of them holds data. A read first writes out the write buffer;
 * a write first gives back the read-ahead (the system position is moved back
 * to the caller's). A fetch asks the system for the request plus a whole
 * buffer's worth, so reading a byte at a time costs one system read per
 * buffer. A forward seek within the buffered bytes costs no system call. A
 * write smaller than the remaining room stays in memory until the buffer
 * fills, or until sync, read, seek or close writes it out.
 *
 * Results: M_fs_error_t (m_fs_error.h). The layer prints nothing.
 *
 * An M_fs_file_t has no lock: one thread at a time.
 */
#ifndef M_FS_FILE_H
#define M_FS_FILE_H

#include <stdarg.h>
#include <sys/types.h>

#include "core/m_defs.h"
#include "fs/m_fs_error.h"

M_BEGIN_DECLS

/* Open mode: a bit set (uint32_t). At least one of READ and WRITE. */
typedef enum {
	M_FS_FILE_MODE_NONE      = 0,
	M_FS_FILE_MODE_READ      = 1u << 0, /* open for reading */
	M_FS_FILE_MODE_WRITE     = 1u << 1, /* open for writing */
	M_FS_FILE_MODE_NOCREATE  = 1u << 2, /* the file must already exist */
	M_FS_FILE_MODE_APPEND    = 1u << 3, /* every write goes to the end of the file */
	M_FS_FILE_MODE_OVERWRITE = 1u << 4  /* an existing file is emptied at open */
} M_fs_file_mode_t;

/* Read/write flags (uint32_t). */
typedef enum {
	M_FS_FILE_RW_NORMAL  = 0,      /* move what one system call moves */
	M_FS_FILE_RW_FULLBUF = 1u << 0 /* repeat until the whole request is moved,
                                       an error occurs, or (reading) the end of
                                       the file is reached */
} M_fs_file_read_write_t;

/* Sync flags (uint32_t); both may be given. */
typedef enum {
	M_FS_FILE_SYNC_NONE   = 0,
	M_FS_FILE_SYNC_BUFFER = 1u << 0, /* write out the write buffer */
	M_FS_FILE_SYNC_OS     = 1u << 1  /* ask the system to flush its caches of
                                        the file to the device */
} M_fs_file_sync_t;

/* Seek origins. Note the order: the current position is 2, the end is 1. */
typedef enum {
	M_FS_FILE_SEEK_BEGIN = 0, /* from the start of the file */
	M_FS_FILE_SEEK_END   = 1, /* from the end of the file */
	M_FS_FILE_SEEK_CUR   = 2  /* from the current position */
} M_fs_file_seek_t;

/* Standard streams for M_fs_file_open_iostream (descriptors 0, 1, 2). */
typedef enum { M_FS_IOSTREAM_IN = 0, M_FS_IOSTREAM_OUT = 1, M_FS_IOSTREAM_ERR = 2 } M_fs_iostream_t;

/* Open a file by path.
 *
 * The path is normalised first (M_fs_path_norm with link resolution and "~"
 * expansion, in the host's path style); a normalisation failure is returned
 * unchanged. Access follows READ/WRITE/APPEND; the disposition follows
 * NOCREATE and OVERWRITE:
 *   NOCREATE + OVERWRITE: the file must exist and is emptied;
 *   OVERWRITE alone:      created, or emptied when it exists;
 *   NOCREATE alone:       the file must exist;
 *   neither:              created when missing, kept as it is otherwise.
 * Opening an existing file with OVERWRITE alone sets its access and
 * modification times to now (a failure of that step is ignored). No other
 * open sets the times itself, a must-exist open (NOCREATE alone) included:
 * opening a file to read it must not change it. (Emptying a file still
 * updates its modification time, as any change of its contents does.)
 *
 * fd:       receives the new file; set to NULL first (before the other
 *           arguments are checked), and left NULL on any failure. NULL:
 *           M_FS_ERROR_INVALID.
 * path:     NULL or "": M_FS_ERROR_INVALID.
 * buf_size: size of each user-space buffer; 0 means unbuffered.
 * mode:     M_fs_file_mode_t bits; without READ and WRITE:
 *           M_FS_ERROR_INVALID.
 * perms:    mode bits (and owner and group) for a file this call creates;
 *           NULL: 0666 less the process umask. An existing file keeps its
 *           permissions. Borrowed, not kept.
 *
 * Returns M_FS_ERROR_SUCCESS, M_FS_ERROR_INVALID, a normalisation code
 * (M_FS_ERROR_NAME_TOO_LONG, M_FS_ERROR_LINK_LOOP, M_FS_ERROR_GENERIC) or the
 * translated system error (e.g. M_FS_ERROR_NOT_FOUND, M_FS_ERROR_PERMISSION).
 * A directory is refused with M_FS_ERROR_PERMISSION (with or without perms,
 * for reading or for writing).
 * On success *fd is owned by the caller: release it with M_fs_file_close.
 * A failed open allocates nothing that survives. */
M_API M_fs_error_t M_fs_file_open(M_fs_file_t **fd, const char *path, size_t buf_size, uint32_t mode,
                                  const M_fs_perms_t *perms) M_WARN_UNUSED_RESULT;

/* Wrap a standard stream (descriptor 0, 1 or 2) as an unbuffered file.
 *
 * fd:     receives the new object; NULL: M_FS_ERROR_INVALID.
 * stream: M_FS_IOSTREAM_IN, _OUT or _ERR; any other number:
 *         M_FS_ERROR_INVALID (and *fd is NULL).
 *
 * On success *fd is owned by the caller; M_fs_file_close frees the object
 * but never closes the standard descriptor itself. */
M_API M_fs_error_t M_fs_file_open_iostream(M_fs_file_t **fd, M_fs_iostream_t stream) M_WARN_UNUSED_RESULT;

/* Read up to buf_len bytes.
 *
 * fd:       the file; NULL: M_FS_ERROR_INVALID.
 * buf:      destination of buf_len bytes; NULL: M_FS_ERROR_INVALID.
 * buf_len:  0: M_FS_ERROR_INVALID.
 * read_len: receives the count delivered (0 at the end of the file, and 0
 *           after an argument error); NULL: not reported.
 * flags:    M_FS_FILE_RW_FULLBUF repeats the system read until the request
 *           (buffered: request plus a buffer's worth) is filled, an error
 *           occurs or the end is reached.
 *
 * Buffered files first write out the write buffer (its result is ignored).
 * Returns M_FS_ERROR_SUCCESS or the translated system error; bytes delivered
 * before an error are still counted in *read_len. */
M_API M_fs_error_t M_fs_file_read(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len,
                                  uint32_t flags);

/* Write count bytes.
 *
 * fd:        the file; NULL: M_FS_ERROR_INVALID.
 * buf:       source bytes; NULL: M_FS_ERROR_INVALID.
 * count:     0: M_FS_ERROR_INVALID.
 * wrote_len: receives the count accepted; NULL: not reported.
 * flags:     M_FS_FILE_RW_FULLBUF repeats the system write until everything
 *            is written or an error occurs.
 *
 * Buffered files give back the read-ahead, append the bytes to the write
 * buffer and report count; the buffer is written to the file only once it
 * holds buf_size bytes or more (bytes that could not be written stay
 * buffered). Unbuffered files report the count the system accepted.
 * Returns M_FS_ERROR_SUCCESS or the translated system error. */
M_API M_fs_error_t M_fs_file_write(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len,
                                   uint32_t flags);

/* Move the file position. The new position is not reported.
 *
 * fd:     the file; NULL: M_FS_ERROR_INVALID.
 * offset: signed distance from the origin.
 * from:   M_FS_FILE_SEEK_BEGIN, _END or _CUR; any other number:
 *         M_FS_ERROR_INVALID, refused before any buffer is touched (the
 *         file and the caller's position are unchanged).
 *
 * Offset 0 from the current position succeeds at once and touches nothing
 * (a pending write buffer stays pending). Otherwise a pending write buffer
 * is written out (result ignored); a forward move from the current position
 * that fits in the read buffer is served from it without a system call.
 * Returns M_FS_ERROR_SUCCESS or the translated system error (e.g.
 * M_FS_ERROR_SEEK for a stream that cannot seek, M_FS_ERROR_INVALID for a
 * position before the start). */
M_API M_fs_error_t M_fs_file_seek(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from);

/* The caller's position in the file: the bytes read or written from the
 * start, as the caller sees them (bytes fetched ahead into the read buffer
 * not counted, bytes waiting in the write buffer counted).
 *
 * fd:  the file; NULL: M_FS_ERROR_INVALID.
 * pos: receives the position, 0 first and on failure; NULL:
 *      M_FS_ERROR_INVALID.
 *
 * Returns M_FS_ERROR_SUCCESS, or the translated system error of asking for
 * the system's position (M_FS_ERROR_SEEK for a pipe, a FIFO or a terminal,
 * which have no position). Moves nothing, writes nothing out. */
M_API M_fs_error_t M_fs_file_tell(M_fs_file_t *fd, uint64_t *pos);

/* Write out the write buffer and/or flush the system's caches.
 *
 * fd:    the file; NULL: M_FS_ERROR_INVALID.
 * flags: M_fs_file_sync_t bits.
 *
 * With SYNC_BUFFER, a write-out that fails or is short keeps the unwritten
 * tail buffered and returns M_FS_ERROR_IO without doing SYNC_OS. With
 * SYNC_OS the result is that of the system flush. No flag: success. */
M_API M_fs_error_t M_fs_file_sync(M_fs_file_t *fd, uint32_t flags);

/* Write out the write buffer (a failure is ignored and the bytes are lost),
 * release the buffers, close the descriptor and free the object.
 *
 * fd: the file; NULL is ignored. fd is invalid afterwards. */
M_API void M_fs_file_close(M_fs_file_t *fd);

/* Read a whole file into one new block.
 *
 * The file is opened unbuffered for reading (it must exist) and read in
 * steps of at least 1024 bytes until a read returns 0 bytes; its size is
 * never asked for first, so pipes and special files work.
 *
 * path:     NULL or "": M_FS_ERROR_INVALID.
 * max_read: limit in bytes; 0 means no limit. A file holding more than
 *           max_read bytes fails with M_FS_ERROR_FILE_TOO_BIG.
 * buf:      receives the block, NUL-terminated after its bytes; NULL:
 *           M_FS_ERROR_INVALID. Set to NULL first and on any failure. On
 *           success it is always a block (an empty file gives an empty,
 *           terminated one) that belongs to the caller (free with M_free).
 * buf_len:  receives the byte count (0 on failure); NULL: not reported.
 *
 * Returns M_FS_ERROR_SUCCESS, M_FS_ERROR_FILE_TOO_BIG, or the open's or the
 * read's code (a missing file gives M_FS_ERROR_NOT_FOUND and creates
 * nothing). */
M_API M_fs_error_t M_fs_file_read_bytes(const char *path, size_t max_read, unsigned char **buf,
                                        size_t *buf_len) M_WARN_UNUSED_RESULT;

/* Write a whole file in one call: create or replace it, or append to it when
 * mode holds M_FS_FILE_MODE_APPEND (no other bit of mode is used).
 *
 * path:      NULL or "": M_FS_ERROR_INVALID.
 * buf:       the bytes; NULL: M_FS_ERROR_INVALID.
 * write_len: byte count; 0 means buf is a NUL-terminated string and its
 *            length is used. An empty string gives M_FS_ERROR_INVALID after
 *            the file was opened, so it is left created (or emptied).
 * wrote_len: receives the bytes written (0 first); NULL: not reported.
 *
 * Returns M_FS_ERROR_SUCCESS, M_FS_ERROR_INVALID, or the open's or the
 * write's translated system error. */
M_API M_fs_error_t M_fs_file_write_bytes(const char *path, const unsigned char *buf, size_t write_len, uint32_t mode,
                                         size_t *wrote_len);

/* Write all len bytes, handed to the system before it returns.
 *
 * A buffered file first writes out its write buffer (and gives back its
 * read-ahead); then the bytes go to the system directly, repeated across
 * short writes and interruptions until every byte is written or a write
 * fails. A write that accepts nothing is M_FS_ERROR_IO.
 *
 * fd:  the file; NULL: M_FS_ERROR_INVALID.
 * buf: the bytes; NULL: M_FS_ERROR_INVALID unless len is 0.
 * len: byte count; 0 only writes out the write buffer.
 *
 * Returns M_FS_ERROR_SUCCESS when every byte is with the system, else the
 * translated system error.
 * Bytes written before a failure stay written. */
M_API M_fs_error_t M_fs_file_write_all(M_fs_file_t *fd, const unsigned char *buf, size_t len);

/* ---------------------------------------------------------------------------
 * Formatted output (the format language of m_str_fmt.h)
 * ------------------------------------------------------------------------- */

/* Format into an open library file through M_fs_file_write with
 * M_FS_FILE_RW_FULLBUF, so the file's own buffering applies.
 *
 * fd:  the open file; NULL yields -1.
 * fmt: the format; NULL formats nothing.
 *
 * Returns the number of bytes written, or -1 when fd is NULL, a write
 * reported an error or moved fewer bytes than asked. Output written before a
 * failure stays written (possibly still in the file's buffer). */
M_API ssize_t M_vmdprintf(M_fs_file_t *fd, const char *fmt, va_list ap);

/* As M_vmdprintf with variable arguments. */
M_API ssize_t M_mdprintf(M_fs_file_t *fd, const char *fmt, ...);

M_END_DECLS

#endif /* M_FS_FILE_H */
