/* Process protections on Windows: VirtualLock/VirtualUnlock, the standard
 * handles, and the error modes that keep a crash from being reported with
 * the process's memory.
 *
 * The standard streams here are the process's standard handles (the
 * library reads and writes them through GetStdHandle); a missing one is
 * replaced by a handle on the null device, so that no file opened later is
 * mistaken for it. The C runtime's streams on them are put in binary mode:
 * in its default text mode every line feed written would reach a file or a
 * pipe as CR LF, and the program's messages would differ from its messages
 * on POSIX.
 *
 * Core files do not exist on Windows: what comes nearest is the error
 * report with a memory dump, and a debugger registered to start on every
 * crash (which may write a dump of its own). The error mode keeps the
 * report from being made, its flags keep the heap out of any report still
 * made, and an exception nothing handled ends the process at once, before
 * the system would hand it to either (a dump that an administrator
 * configured by other means, or a debugger already attached, is outside
 * its reach).
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <psapi.h>

#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include "sys/m_proc.h"

/* kernel32's error report settings (declared here: mingw-w64's werapi.h
 * does not compile on its own). */
extern "C" HRESULT WINAPI WerSetFlags(DWORD flags);

namespace {

/* The three standard handles, in the order of descriptors 0, 1 and 2. */
constexpr DWORD kStdHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

/* WER_FAULT_REPORTING_FLAG_NOHEAP: a report, if one is still made, holds no
 * heap memory, where keys and data live. */
constexpr DWORD kWerNoHeap = 1;

/* The last word on an exception no handler took: the process ends with the
 * exception's code as its status. Returning "handled" here keeps the system
 * from going on to the error report and to a registered crash debugger. */
LONG WINAPI end_at_once(EXCEPTION_POINTERS *)
{
	return EXCEPTION_EXECUTE_HANDLER;
}

/* The console's output code page as found, while the process has changed
 * it; 0 otherwise. */
volatile LONG g_console_cp = 0;

void restore_console_cp()
{
	const LONG was = InterlockedExchange(&g_console_cp, 0);
	if (was != 0)
		(void)SetConsoleOutputCP(static_cast<UINT>(was));
}

/* Runs last of the control handlers (it is the first in place): the
 * console's code page back before the process ends. */
BOOL WINAPI restore_on_control(DWORD)
{
	restore_console_cp();
	return FALSE;
}

/* A console shows the bytes written to it in its output code page, which
 * is not the ANSI code page the program's text is in (UTF-8 under its
 * manifest): "Müller" would show as "MÃ¼ller". The console is given the
 * ANSI code page for the process's life and its own back at the exit and
 * on a control event. */
void console_speaks_ansi()
{
	DWORD      mode    = 0;
	const UINT ansi    = GetACP();
	const UINT console = GetConsoleOutputCP();
	if (console == 0 || console == ansi || g_console_cp != 0 ||
	    (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
	     !GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) ||
	    !SetConsoleOutputCP(ansi))
		return;
	InterlockedExchange(&g_console_cp, static_cast<LONG>(console));
	(void)atexit(restore_console_cp);
	(void)SetConsoleCtrlHandler(restore_on_control, TRUE);
}

} // namespace

extern "C" {

M_bool M_proc_mem_lock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return M_FALSE;
	return VirtualLock(const_cast<void *>(ptr), len) != 0;
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
	/* Bytes as written: no CR added before a line feed. Standard error
	 * unbuffered, as C has it: the runtime here buffers it when it is not a
	 * console, and a message would wait there until the process ends (or
	 * be lost when Ctrl+C ends it). */
	for (int fd = 0; fd < 3; fd++)
		(void)_setmode(fd, _O_BINARY);
	(void)setvbuf(stderr, nullptr, _IONBF, 0);
	console_speaks_ansi();
	return all;
}

M_bool M_proc_forbid_core_dumps(void)
{
	/* No error report (and so no dump sent with it), no dialog box. */
	const UINT mode = SetErrorMode(0);
	SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
	(void)SetUnhandledExceptionFilter(end_at_once);
	return SUCCEEDED(WerSetFlags(kWerNoHeap));
}

M_bool M_proc_file_size_limit_fails_writes(void)
{
	return M_TRUE;
}

M_bool M_proc_mem_room(uint64_t *address_room, uint64_t *data_room)
{
	/* A job object may cap a process's committed memory, or the whole
	 * job's; the process's own commit is what it can count against either. */
	uint64_t                             limit = UINT64_MAX;
	JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
	PROCESS_MEMORY_COUNTERS_EX           use{};
	bool                                 known = true;
	if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof(job), nullptr)) {
		const DWORD flags = job.BasicLimitInformation.LimitFlags;
		if ((flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0)
			limit = job.ProcessMemoryLimit;
		if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0 && job.JobMemoryLimit < limit)
			limit = job.JobMemoryLimit;
	}
	uint64_t room = UINT64_MAX;
	if (limit != UINT64_MAX) {
		known = K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&use),
		                                sizeof(use)) != 0;
		if (known)
			room = limit > use.PrivateUsage ? limit - use.PrivateUsage : 0;
	}
	if (address_room != nullptr)
		*address_room = room;
	if (data_room != nullptr)
		*data_room = room;
	return known;
}

} // extern "C"
