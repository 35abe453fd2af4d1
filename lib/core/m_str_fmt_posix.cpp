/* The formatting engine's descriptor write on POSIX: write(2). */
#include "core/m_str_fmt_int.h"

#include <cerrno>
#include <unistd.h>

bool m::detail::fmt_fd_write_exact(int fd, const unsigned char *data, size_t len) noexcept
{
	ssize_t r;
	do {
		r = ::write(fd, data, len);
	} while (r < 0 && errno == EINTR);
	return r >= 0 && static_cast<size_t>(r) == len;
}
