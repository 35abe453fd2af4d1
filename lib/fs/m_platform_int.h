/* Library-internal part of the errno translation (C++ only). */
#ifndef M_PLATFORM_INT_H
#define M_PLATFORM_INT_H

#include <cstdint>

#include "fs/m_platform.h"
#include "fs/m_fs_syserr.h"

namespace m::detail {

/* The Windows error number equivalent to an errno value (the table of
 * m_platform.h); M_PLATFORM_SYSERR_OTHER for anything else. */
uint32_t syserr_from_errno(int err) noexcept;

/* The result code of a failed system call: errno through both tables. */
inline M_fs_error_t fs_error_from_errno(int err) noexcept
{
	return M_fs_error_from_syserr(syserr_from_errno(err));
}

/* The result code of the calling thread's last failed system call
 * (M_platform_errno: GetLastError on Windows, errno elsewhere). */
inline M_fs_error_t last_error() noexcept
{
	return M_fs_error_from_syserr(M_platform_errno());
}

} // namespace m::detail

#endif /* M_PLATFORM_INT_H */
