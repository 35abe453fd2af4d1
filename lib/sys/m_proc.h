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
 * standard handles (GetStdHandle): a missing one is set to a handle on NUL.
 *
 * Returns M_TRUE when all three are open afterwards, M_FALSE otherwise. */
M_API M_bool M_proc_std_fds_open(void);

/* Forbid core files for this process: the core size limit is set to 0, and
 * on Linux the process is made non-dumpable, so no crash, abort or signal
 * writes its memory to disk and no other process of the same user may
 * read its memory (ptrace, /proc/PID/mem). Lasts until the process ends;
 * an abort still aborts, it only leaves no core. On Windows, which has no
 * core files, the error mode turns off the crash dialog and the error
 * report (with its memory dump) for this process; dumps an administrator
 * configured for every program are beyond its reach.
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

M_END_DECLS

#endif /* M_PROC_H */
