/* Formatted output into a writer the caller supplies, and the one system
 * call of the descriptor target.
 *
 * Layers above the core (the file layer's library files) format through the
 * same engine as every other target without the core knowing their types:
 * the engine hands each piece of output to the sink, in order. The write to
 * a descriptor is the engine's platform half (m_str_fmt_posix.cpp,
 * m_str_fmt_win.cpp), as the allocator's page calls are m_mem's.
 */
#ifndef M_STR_FMT_INT_H
#define M_STR_FMT_INT_H

#include <cstdarg>
#include <cstddef>
#include <sys/types.h>

namespace m::detail {

/* Writes len bytes (len > 0) for the engine; returns false when the
 * destination failed, which makes the call's result -1. */
using FmtSink = bool (*)(void *ctx, const unsigned char *data, size_t len);

/* Run the engine over fmt into sink. ctx is passed to every sink call. The
 * caller's ap is not consumed (it is copied). Returns the number of bytes
 * written, or -1 when sink is NULL or a sink call failed. */
[[nodiscard]] ssize_t str_fmt_to_sink(FmtSink sink, void *ctx, const char *fmt, va_list ap);

/* One write of exactly len bytes to descriptor fd (write(2), repeated
 * while a signal interrupts it before it moved anything; the C runtime's
 * _write on Windows). Any other short count is a failure: false. */
[[nodiscard]] bool fmt_fd_write_exact(int fd, const unsigned char *data, size_t len) noexcept;

} /* namespace m::detail */

#endif /* M_STR_FMT_INT_H */
