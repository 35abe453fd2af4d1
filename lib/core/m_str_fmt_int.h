/* Formatted output into a writer the caller supplies.
 *
 * Layers above the core (the file layer's library files) format through the
 * same engine as every other target without the core knowing their types:
 * the engine hands each piece of output to the sink, in order.
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

} /* namespace m::detail */

#endif /* M_STR_FMT_INT_H */
