/* Process protections: memory kept out of swap, and the safeguards a
 * program holding secrets sets up before anything else.
 *
 * Locking keeps the pages holding a range (a key, a passphrase) in memory,
 * so that they are never written to a swap device. The system may refuse a
 * lock (a limit on locked memory, no privilege): the memory stays usable,
 * the refusal is only reported, and callers go on without the lock.
 *
 * Locks work on whole pages and do not nest: unlocking a range unlocks
 * every page it touches, also for another locked range sharing a page.
 * Lock ranges that live in distinct pages, or unlock only once every range
 * on the page is done.
 *
 * A process that holds secrets also calls, first thing in main,
 * M_proc_std_fds_open (so that no file it opens later takes the number of a
 * closed standard stream) and M_proc_forbid_core_dumps (so that no crash
 * writes its memory to a core file).
 *
 * A NULL range is refused by the lock and ignored by the unlock.
 */
#ifndef M_PROC_H
#define M_PROC_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Lock the pages holding len bytes at ptr into memory (mlock; VirtualLock).
 *
 * ptr: start of the range; NULL: M_FALSE, nothing locked.
 * len: bytes; 0: M_FALSE, nothing locked.
 *
 * Returns M_TRUE when every page of the range is locked, M_FALSE when the
 * system refused (the memory is unchanged and usable). Release the lock
 * with M_proc_mem_unlock before the memory is freed or reused. */
M_API M_bool M_proc_mem_lock(const void *ptr, size_t len);

/* Unlock the pages holding len bytes at ptr (munlock; VirtualUnlock). Does
 * not wipe.
 *
 * ptr: start of the range; NULL (or len 0) is ignored.
 * Unlocking pages that were not locked does nothing. */
M_API void M_proc_mem_unlock(const void *ptr, size_t len);

/* Make sure descriptors 0, 1 and 2 are open: each closed one is opened on
 * the null device (read and write). Were one left closed, the next file the
 * process opens would take its number, and data meant for that file would
 * go to the stream's readers and writers, or the other way round. Open
 * descriptors are not touched. On Windows the same holds for the three
 * standard handles (GetStdHandle): a missing one is set to a handle on NUL;
 * and the C runtime's streams 0, 1 and 2 are put in binary mode, and
 * stderr is made unbuffered, so that they carry bytes as written (a line
 * feed stays a line feed) and messages leave at once, as on POSIX. A
 * console that standard output or error shows on is given the process's
 * ANSI code page (UTF-8 under the program's manifest), so that it shows
 * the text's letters, and its own code page back at the exit and on
 * Ctrl+C, Ctrl+Break or its closing.
 *
 * Returns M_TRUE when all three are open afterwards, M_FALSE otherwise. */
M_API M_bool M_proc_std_fds_open(void);

/* Forbid core files for this process: the core size limit is set to 0, and
 * on Linux the process is made non-dumpable, so no crash, abort or signal
 * writes its memory to disk and no other process of the same user may
 * read its memory (ptrace, /proc/PID/mem). Lasts until the process ends;
 * an abort still aborts, it only leaves no core. On Windows, which has no
 * core files, the error mode turns off the crash dialog and the error
 * report (with its memory dump) for this process, a report made all the
 * same leaves the heap out, and an unhandled exception ends the process at
 * once with the exception's code, never reaching a debugger registered to
 * start on crashes; dumps an administrator configured by other means are
 * beyond its reach.
 *
 * Returns M_TRUE when every step was applied, M_FALSE when the system
 * refused one (the others are still applied). */
M_API M_bool M_proc_forbid_core_dumps(void);

/* Make a write past the file size limit (ulimit -f) fail with an error
 * (EFBIG) instead of ending the process: SIGXFSZ is ignored for the rest of
 * the process's life. A program that reports its failed writes needs this,
 * or the limit ends it silently, even while it reports a write to the file
 * that hit the limit. Windows has no such limit: nothing to do there.
 *
 * Returns M_TRUE when the signal is ignored (or there is none), M_FALSE
 * when the system refused. */
M_API M_bool M_proc_file_size_limit_fails_writes(void);

/* How much more memory the process may take under the limits it runs
 * with: on POSIX the address space limit (RLIMIT_AS, ulimit -v) less the
 * address space in use, and the data limit (RLIMIT_DATA, ulimit -d; private
 * writable memory: the heap, anonymous mappings, thread stacks) less the
 * data in use (Linux: /proc/self/statm); on Windows the memory limit of the
 * job object the process runs in (per process, else for the job), where one
 * is set, less the process's committed private memory, given as both
 * figures. Read anew on every call (two or three system calls).
 *
 * address_room: bytes left under the address space limit; UINT64_MAX when
 *               there is none. NULL: not wanted.
 * data_room:    bytes left under the data limit; UINT64_MAX when there is
 *               none. NULL: not wanted.
 *
 * Returns M_TRUE when the figures could be read; M_FALSE when the use could
 * not be read while a limit is set (both figures are then UINT64_MAX: no
 * limit known). Invalidates nothing. */
M_API M_bool M_proc_mem_room(uint64_t *address_room, uint64_t *data_room);

M_END_DECLS

#endif /* M_PROC_H */
