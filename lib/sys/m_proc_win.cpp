/* Process protections on Windows: VirtualLock/VirtualUnlock, the standard
 * handles, and the error modes that keep a crash from being reported with
 * the process's memory.
 *
 * The standard streams here are the process's standard handles (the
 * library reads and writes them through GetStdHandle); a missing one is
 * replaced by a handle on the null device, so that no file opened later is
 * mistaken for it. Core files do not exist on Windows: what comes nearest is
 * the error report with a memory dump, which the error mode turns off for
 * this process (a dump that an administrator configured for every program
 * is outside its reach).
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "sys/m_proc.h"

namespace {

/* The three standard handles, in the order of descriptors 0, 1 and 2. */
constexpr DWORD kStdHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

} // namespace

extern "C" {

M_bool M_proc_mem_lock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return M_FALSE;
	return VirtualLock(const_cast<void *>(ptr), len) ? M_TRUE : M_FALSE;
}

void M_proc_mem_unlock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return;
	(void)VirtualUnlock(const_cast<void *>(ptr), len);
}

M_bool M_proc_std_fds_open(void)
{
	bool all = true;
	for (const DWORD which : kStdHandles) {
		HANDLE h = GetStdHandle(which);
		if (h != nullptr && h != INVALID_HANDLE_VALUE)
			continue;
		h = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
		                FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE || !SetStdHandle(which, h)) {
			if (h != INVALID_HANDLE_VALUE)
				CloseHandle(h);
			all = false;
		}
	}
	return all;
}

M_bool M_proc_forbid_core_dumps(void)
{
	/* No error report (and so no dump sent with it), no dialog box. */
	const UINT mode = SetErrorMode(0);
	SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
	return M_TRUE;
}

M_bool M_proc_file_size_limit_fails_writes(void)
{
	return M_TRUE;
}

} // extern "C"
