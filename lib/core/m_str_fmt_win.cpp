/* The formatting engine's descriptor write on Windows: the C runtime's
 * descriptors (_write), which stand over the process's handles. */
#include "core/m_str_fmt_int.h"

#include <io.h>

bool m::detail::fmt_fd_write_exact(int fd, const unsigned char *data, size_t len) noexcept
{
	/* One _write carries at most INT_MAX bytes; the engine stages 512. */
	const int r = ::_write(fd, data, static_cast<unsigned int>(len));
	return r >= 0 && static_cast<size_t>(r) == len;
}
