/* One system call, repeated while a signal interrupts it before it moved
 * anything (EINTR), so that no caller in the library ever sees EINTR from a
 * read or a write. Used by the POSIX halves of the terminal and the file
 * layer. Internal: not part of the public C surface.
 */
#ifndef M_IO_INT_H
#define M_IO_INT_H

#include <cerrno>
#include <sys/types.h>

namespace m::detail {

/* Run call() (a read(2)/write(2)-like call returning ssize_t) until it does
 * not fail with EINTR; returns its last result, errno as it left it. */
template <typename Call>
ssize_t retry_eintr(Call call) noexcept
{
	ssize_t n;
	do {
		n = call();
	} while (n < 0 && errno == EINTR);
	return n;
}

} /* namespace m::detail */

#endif /* M_IO_INT_H */
