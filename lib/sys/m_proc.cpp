/* Process protections on POSIX: mlock/munlock. */
#include "sys/m_proc.h"

#include <sys/mman.h>

extern "C" {

M_bool M_proc_mem_lock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return M_FALSE;
	return ::mlock(ptr, len) == 0;
}

void M_proc_mem_unlock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return;
	(void)::munlock(ptr, len);
}

} // extern "C"
