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
 * Functions that take a range yield 0, NULL or M_FALSE for a NULL range.
 */
#ifndef M_PROC_H
#define M_PROC_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Lock the pages holding len bytes at ptr into memory (mlock).
 *
 * ptr: start of the range; NULL: M_FALSE, nothing locked.
 * len: bytes; 0: M_FALSE, nothing locked.
 *
 * Returns M_TRUE when every page of the range is locked, M_FALSE when the
 * system refused (the memory is unchanged and usable). Release the lock
 * with M_proc_mem_unlock before the memory is freed or reused. */
M_API M_bool M_proc_mem_lock(const void *ptr, size_t len);

/* Unlock the pages holding len bytes at ptr (munlock). Does not wipe.
 *
 * ptr: start of the range; NULL (or len 0) is ignored.
 * Unlocking pages that were not locked does nothing. */
M_API void M_proc_mem_unlock(const void *ptr, size_t len);

M_END_DECLS

#endif /* M_PROC_H */
