/* Portable half of the file layer: user-space buffering and the whole-file
 * operations, on top of the platform half (m_fs_file_posix.cpp,
 * m_fs_file_win.cpp).
 *
 * Buffering rules, which keep the caller's view of the file consistent:
 *   - read_ahead always equals the length of read_buf: it is how far the
 *     system's position lies ahead of the caller's;
 *   - at most one of read_buf and write_buf holds data: a read first writes
 *     out write_buf, and a write first gives back the read-ahead (moves the
 *     system position back and empties read_buf);
 *   - a fetch asks for the request plus a whole buffer (and takes all the room
 *     the byte buffer offers), so one system read serves the request and
 *     refills the buffer;
 *   - a forward seek from the current position within read_buf only drops
 *     bytes; a seek of 0 from the current position does nothing at all.
 */
#include "fs/m_fs_int.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt_int.h"

namespace {

m::detail::SysCounters g_counters = {0, 0, 0, 0, 0, 0};

/* Read into buf: one platform read, or with FULLBUF repeated until len bytes
 * arrived, an error occurred, or a read returned 0 bytes (end of file). */
M_fs_error_t read_loop(M_fs_file_t *fd, unsigned char *buf, size_t len, size_t *got, uint32_t flags)
{
	size_t       total = 0;
	M_fs_error_t res   = M_FS_ERROR_SUCCESS;

	do {
		size_t n = 0;
		res      = m::detail::file_read_sys(fd, buf + total, len - total, &n);
		total += n;
		if (res != M_FS_ERROR_SUCCESS || n == 0)
			break;
	} while ((flags & M_FS_FILE_RW_FULLBUF) && total < len);

	*got = total;
	return res;
}

/* Write from buf: one platform write, or with FULLBUF repeated until all len
 * bytes are written or an error occurred. A write that accepts nothing ends
 * the loop with M_FS_ERROR_IO rather than spinning. */
M_fs_error_t write_loop(M_fs_file_t *fd, const unsigned char *buf, size_t len, size_t *put, uint32_t flags)
{
	size_t       total = 0;
	M_fs_error_t res   = M_FS_ERROR_SUCCESS;

	do {
		size_t n = 0;
		res      = m::detail::file_write_sys(fd, buf + total, len - total, &n);
		total += n;
		if (res != M_FS_ERROR_SUCCESS)
			break;
		if (n == 0) {
			res = M_FS_ERROR_IO;
			break;
		}
	} while ((flags & M_FS_FILE_RW_FULLBUF) && total < len);

	*put = total;
	return res;
}

/* Write out the write buffer with FULLBUF. Bytes that could not be written
 * are kept in a fresh write buffer and the result is M_FS_ERROR_IO. */
M_fs_error_t flush_write_buf(M_fs_file_t *fd)
{
	if (fd->buf_size == 0 || M_buf_len(fd->write_buf) == 0)
		return M_FS_ERROR_SUCCESS;

	size_t         len  = 0;
	unsigned char *data = M_buf_finish(fd->write_buf, &len);
	fd->write_buf       = M_buf_create();

	size_t             put = 0;
	const M_fs_error_t res = write_loop(fd, data, len, &put, M_FS_FILE_RW_FULLBUF);
	if (res != M_FS_ERROR_SUCCESS || put < len) {
		M_buf_add_bytes(fd->write_buf, data + put, len - put);
		M_free(data);
		return M_FS_ERROR_IO;
	}
	M_free(data);
	return M_FS_ERROR_SUCCESS;
}

/* Move the system position back to the caller's and drop the read buffer.
 * Only done when something was read ahead, so a run of writes costs no
 * system call until the write buffer fills. */
void give_back_read_ahead(M_fs_file_t *fd)
{
	if (fd->read_ahead > 0) {
		(void)m::detail::file_seek_sys(fd, -static_cast<int64_t>(fd->read_ahead), M_FS_FILE_SEEK_CUR);
	}
	M_buf_truncate(fd->read_buf, 0);
	fd->read_ahead = 0;
}

M_fs_error_t read_buffered(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len, uint32_t flags)
{
	if (M_buf_len(fd->write_buf) > 0)
		(void)flush_write_buf(fd);

	const size_t have = M_buf_len(fd->read_buf);
	if (have >= buf_len) {
		M_mem_copy(buf, M_buf_peek(fd->read_buf), buf_len);
		M_buf_drop(fd->read_buf, buf_len);
		fd->read_ahead -= buf_len;
		*read_len = buf_len;
		return M_FS_ERROR_SUCCESS;
	}

	/* Room for the rest of the request plus a whole buffer. */
	if (buf_len > SIZE_MAX - fd->buf_size)
		return M_FS_ERROR_INVALID;
	size_t         room = buf_len + fd->buf_size - have;
	unsigned char *win  = M_buf_direct_write_start(fd->read_buf, &room);
	if (win == nullptr)
		return M_FS_ERROR_INVALID;

	size_t             got = 0;
	const M_fs_error_t res = read_loop(fd, win, room, &got, flags);
	M_buf_direct_write_end(fd->read_buf, got);

	/* Deliver what is there, even when the fetch found the end of the file
     * or failed after some bytes: the caller gets both the bytes and the
     * result. */
	size_t give = M_buf_len(fd->read_buf);
	if (give > buf_len)
		give = buf_len;
	if (give > 0) {
		M_mem_copy(buf, M_buf_peek(fd->read_buf), give);
		M_buf_drop(fd->read_buf, give);
	}
	fd->read_ahead = M_buf_len(fd->read_buf);
	*read_len      = give;
	return res;
}

M_fs_error_t write_buffered(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len, uint32_t flags)
{
	give_back_read_ahead(fd);

	M_buf_add_bytes(fd->write_buf, buf, count);
	*wrote_len = count;
	if (M_buf_len(fd->write_buf) < fd->buf_size)
		return M_FS_ERROR_SUCCESS;

	size_t             put = 0;
	const M_fs_error_t res = write_loop(fd, reinterpret_cast<const unsigned char *>(M_buf_peek(fd->write_buf)),
	                                    M_buf_len(fd->write_buf), &put, flags);
	M_buf_drop(fd->write_buf, put);
	return res;
}

} // namespace

namespace m::detail {

SysCounters &sys_counters() noexcept
{
	return g_counters;
}

void sys_counters_reset() noexcept
{
	g_counters = SysCounters{0, 0, 0, 0, 0, 0};
}

M_fs_file_t *file_wrap(M_fs_handle_t handle, bool own, char *path) noexcept
{
	auto *f       = static_cast<M_fs_file_t *>(M_malloc_zero(sizeof(M_fs_file_t)));
	f->handle     = handle;
	f->own_handle = own;
	f->path       = path;
	return f;
}

} // namespace m::detail

extern "C" {

M_fs_error_t M_fs_file_open_iostream(M_fs_file_t **fd, M_fs_iostream_t stream)
{
	if (fd == nullptr)
		return M_FS_ERROR_INVALID;
	*fd = nullptr;
	if (stream != M_FS_IOSTREAM_IN && stream != M_FS_IOSTREAM_OUT && stream != M_FS_IOSTREAM_ERR)
		return M_FS_ERROR_INVALID;
	/* The process's stream outlives the wrapper: never closed here. */
	*fd = m::detail::file_wrap(m::detail::file_std_handle(stream), false, nullptr);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_file_open(M_fs_file_t **fd, const char *path, size_t buf_size, uint32_t mode,
                            const M_fs_perms_t *perms)
{
	/* *fd is cleared before any other check, so that every failure, an
	 * argument error included, leaves it NULL. */
	if (fd == nullptr)
		return M_FS_ERROR_INVALID;
	*fd = nullptr;
	if (M_str_isempty(path) || (mode & (M_FS_FILE_MODE_READ | M_FS_FILE_MODE_WRITE)) == 0)
		return M_FS_ERROR_INVALID;
	/* Links and "~" resolved; bit 4 is accepted for the Windows layout's
	 * sake and has no effect. */
	char        *norm = nullptr;
	M_fs_error_t res =
	    M_fs_path_norm(&norm, path, M_FS_PATH_NORM_RESOLVE_LINK | 4u | M_FS_PATH_NORM_HOME, M_FS_SYSTEM_AUTO);
	if (res == M_FS_ERROR_SUCCESS)
		res = m::detail::file_open_sys(fd, norm, mode, perms);
	if (res != M_FS_ERROR_SUCCESS)
		return res;

	(*fd)->buf_size   = buf_size;
	(*fd)->read_ahead = 0;
	if (buf_size != 0) {
		(*fd)->read_buf  = M_buf_create();
		(*fd)->write_buf = M_buf_create();
	}
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_file_read(M_fs_file_t *fd, unsigned char *buf, size_t buf_len, size_t *read_len, uint32_t flags)
{
	size_t local = 0;
	if (read_len == nullptr)
		read_len = &local;
	*read_len = 0;
	if (fd == nullptr || buf == nullptr || buf_len == 0)
		return M_FS_ERROR_INVALID;

	if (fd->buf_size == 0)
		return read_loop(fd, buf, buf_len, read_len, flags);
	return read_buffered(fd, buf, buf_len, read_len, flags);
}

M_fs_error_t M_fs_file_write(M_fs_file_t *fd, const unsigned char *buf, size_t count, size_t *wrote_len, uint32_t flags)
{
	size_t local = 0;
	if (wrote_len == nullptr)
		wrote_len = &local;
	*wrote_len = 0;
	if (fd == nullptr || buf == nullptr || count == 0)
		return M_FS_ERROR_INVALID;

	if (fd->buf_size == 0)
		return write_loop(fd, buf, count, wrote_len, flags);
	return write_buffered(fd, buf, count, wrote_len, flags);
}

M_fs_error_t M_fs_file_seek(M_fs_file_t *fd, int64_t offset, M_fs_file_seek_t from)
{
	if (fd == nullptr)
		return M_FS_ERROR_INVALID;
	if (from == M_FS_FILE_SEEK_CUR && offset == 0)
		return M_FS_ERROR_SUCCESS;
	/* Refuse an unknown origin before any buffer is touched. */
	if (from != M_FS_FILE_SEEK_BEGIN && from != M_FS_FILE_SEEK_END && from != M_FS_FILE_SEEK_CUR)
		return M_FS_ERROR_INVALID;

	if (fd->buf_size != 0) {
		if (M_buf_len(fd->write_buf) > 0)
			(void)flush_write_buf(fd);

		if (from == M_FS_FILE_SEEK_CUR && offset > 0 &&
		    static_cast<uint64_t>(offset) <= static_cast<uint64_t>(M_buf_len(fd->read_buf))) {
			M_buf_drop(fd->read_buf, static_cast<size_t>(offset));
			fd->read_ahead -= static_cast<size_t>(offset);
			return M_FS_ERROR_SUCCESS;
		}

		if (from == M_FS_FILE_SEEK_CUR && fd->read_ahead > 0) {
			/* The system's position is read_ahead bytes past the caller's.
             * A distance that cannot be corrected is refused before the
             * read buffer is given up, so the caller's position survives. */
			const int64_t ahead = static_cast<int64_t>(fd->read_ahead);
			if (offset < INT64_MIN + ahead)
				return M_FS_ERROR_INVALID;
			offset -= ahead;
		}
		M_buf_truncate(fd->read_buf, 0);
		fd->read_ahead = 0;
	}
	return m::detail::file_seek_sys(fd, offset, from);
}

M_fs_error_t M_fs_file_tell(M_fs_file_t *fd, uint64_t *pos)
{
	if (pos != nullptr)
		*pos = 0;
	if (fd == nullptr || pos == nullptr)
		return M_FS_ERROR_INVALID;
	uint64_t           sys = 0;
	const M_fs_error_t res = m::detail::file_tell_sys(fd, &sys);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	/* The system is read_ahead bytes past the caller when reading, and
	 * the write buffer's bytes short of it when writing. */
	*pos = sys - fd->read_ahead + M_buf_len(fd->write_buf);
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_file_sync(M_fs_file_t *fd, uint32_t flags)
{
	if (fd == nullptr)
		return M_FS_ERROR_INVALID;

	if ((flags & M_FS_FILE_SYNC_BUFFER) && flush_write_buf(fd) != M_FS_ERROR_SUCCESS)
		return M_FS_ERROR_IO;
	if (flags & M_FS_FILE_SYNC_OS)
		return m::detail::file_fsync_sys(fd);
	return M_FS_ERROR_SUCCESS;
}

void M_fs_file_close(M_fs_file_t *fd)
{
	if (fd == nullptr)
		return;
	/* Closing cannot report anything: what fails to go out here is lost. */
	(void)flush_write_buf(fd);
	M_buf_cancel(fd->read_buf);
	M_buf_cancel(fd->write_buf);
	fd->read_buf  = nullptr;
	fd->write_buf = nullptr;
	m::detail::file_close_sys(fd);
}

M_fs_error_t M_fs_file_read_bytes(const char *path, size_t max_read, unsigned char **buf, size_t *buf_len)
{
	if (buf_len != nullptr)
		*buf_len = 0;
	if (buf == nullptr)
		return M_FS_ERROR_INVALID;
	*buf = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;

	M_fs_file_t *fd  = nullptr;
	M_fs_error_t res = M_fs_file_open(&fd, path, 0, M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE, nullptr);
	if (res != M_FS_ERROR_SUCCESS)
		return res;

	/* Grow as the data arrives; the size is never asked for, so files whose
     * size the system does not know (pipes, /proc) read whole too. */
	M_buf_t *data = M_buf_create();
	for (;;) {
		size_t         room = 1024;
		unsigned char *win  = M_buf_direct_write_start(data, &room);
		if (win == nullptr) {
			res = M_FS_ERROR_FILE_TOO_BIG;
			break;
		}
		size_t got = 0;
		res        = M_fs_file_read(fd, win, room, &got, M_FS_FILE_RW_NORMAL);
		M_buf_direct_write_end(data, got);
		if (max_read != 0 && M_buf_len(data) > max_read) {
			res = M_FS_ERROR_FILE_TOO_BIG;
			break;
		}
		if (res != M_FS_ERROR_SUCCESS || got == 0)
			break;
	}
	M_fs_file_close(fd);

	if (res != M_FS_ERROR_SUCCESS) {
		M_buf_cancel(data);
		return res;
	}

	size_t         len   = 0;
	unsigned char *block = M_buf_finish(data, &len);
	if (block == nullptr) {
		/* Success always hands over a block: an empty, terminated one. */
		block = static_cast<unsigned char *>(M_malloc_zero(1));
		len   = 0;
	}
	*buf = block;
	if (buf_len != nullptr)
		*buf_len = len;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_file_write_bytes(const char *path, const unsigned char *buf, size_t write_len, uint32_t mode,
                                   size_t *wrote_len)
{
	if (wrote_len != nullptr)
		*wrote_len = 0;
	if (M_str_isempty(path) || buf == nullptr)
		return M_FS_ERROR_INVALID;

	const uint32_t open_mode = (mode & M_FS_FILE_MODE_APPEND) ? (M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_APPEND)
	                                                          : (M_FS_FILE_MODE_WRITE | M_FS_FILE_MODE_OVERWRITE);
	M_fs_file_t   *fd        = nullptr;
	M_fs_error_t   res       = M_fs_file_open(&fd, path, 0, open_mode, nullptr);
	if (res != M_FS_ERROR_SUCCESS)
		return res;

	if (write_len == 0)
		write_len = M_str_len(reinterpret_cast<const char *>(buf));
	if (write_len == 0) {
		/* The file has been created or emptied already; that stays. */
		M_fs_file_close(fd);
		return M_FS_ERROR_INVALID;
	}

	size_t put = 0;
	res        = write_loop(fd, buf, write_len, &put, M_FS_FILE_RW_FULLBUF);
	if (wrote_len != nullptr)
		*wrote_len = put;
	M_fs_file_close(fd);
	return res;
}

M_fs_error_t M_fs_file_write_all(M_fs_file_t *fd, const unsigned char *buf, size_t len)
{
	if (fd == nullptr || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	if (fd->buf_size != 0) {
		give_back_read_ahead(fd);
		if (flush_write_buf(fd) != M_FS_ERROR_SUCCESS)
			return M_FS_ERROR_IO;
	}
	if (len == 0)
		return M_FS_ERROR_SUCCESS;
	size_t put = 0;
	return write_loop(fd, buf, len, &put, M_FS_FILE_RW_FULLBUF);
}

} // extern "C"

namespace {

/* The engine's sink for a library file: the file's own buffering applies,
 * and a write that moved fewer bytes than asked is a failure. */
bool file_sink(void *ctx, const unsigned char *data, size_t len)
{
	size_t wrote = 0;
	if (M_fs_file_write(static_cast<M_fs_file_t *>(ctx), data, len, &wrote, M_FS_FILE_RW_FULLBUF) != M_FS_ERROR_SUCCESS)
		return false;
	return wrote == len;
}

} // namespace

extern "C" {

ssize_t M_vmdprintf(M_fs_file_t *fd, const char *fmt, va_list ap)
{
	if (fd == nullptr)
		return -1;
	return m::detail::str_fmt_to_sink(file_sink, fd, fmt, ap);
}

ssize_t M_mdprintf(M_fs_file_t *fd, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vmdprintf(fd, fmt, ap);
	va_end(ap);
	return r;
}

} // extern "C"
