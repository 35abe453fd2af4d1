/* The host's last system error on Windows: GetLastError, already a Windows
 * error number, handed to the one table (M_fs_error_from_syserr). */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "fs/m_platform.h"

extern "C" {

uint32_t M_platform_errno(void)
{
	return static_cast<uint32_t>(GetLastError());
}

} // extern "C"
