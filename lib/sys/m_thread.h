/* Threads: start and join, mutual exclusion, condition variables, and the
 * number of processors the process may run on.
 *
 * The program decodes export blocks and compresses its table on worker
 * threads; this module is the one place that talks to the system's threads
 * (POSIX threads on Linux; _beginthreadex, slim locks and condition
 * variables on Windows), so the program above it calls no thread function of
 * the system directly.
 *
 * A thread started here runs with every blockable signal blocked: signals
 * sent to the process are taken by the threads that did not start here (the
 * main thread), whose handlers clean up after a run (the output's temporary
 * file) as they would without workers. On Linux its stack is 4 MiB, whatever
 * the stack limit of the process (ulimit -s): the work of a thread here
 * needs far less, and a small, known reservation leaves more of a limited
 * address space to its data (M_thread_affordable).
 *
 * Each object is created and destroyed by one thread; locking, waiting and
 * signalling may come from any thread. NULL objects are ignored by every
 * call that takes one, and destroy accepts NULL.
 */
#ifndef M_THREAD_H
#define M_THREAD_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* A running (or finished, not yet joined) thread. Opaque. */
typedef struct M_thread M_thread_t;
/* A mutual exclusion lock (not recursive). Opaque. */
typedef struct M_thread_mutex M_thread_mutex_t;
/* A condition variable, used with one mutex at a time. Opaque. */
typedef struct M_thread_cond M_thread_cond_t;

/* The function a thread runs: it gets the argument given to
 * M_thread_start; its result comes back from M_thread_join. */
typedef void *(*M_thread_func_t)(void *arg);

/* Start a thread that runs func(arg), with every blockable signal blocked.
 *
 * func: NULL yields NULL (nothing started).
 * arg:  passed to func as it is; NULL is a valid argument.
 *
 * Returns a new thread handle, owned by the caller and released only by
 * M_thread_join (every thread started must be joined). NULL when the system
 * refuses a new thread (a limit on threads or memory): callers then do the
 * work on the threads they have. Invalidates nothing. */
M_API M_thread_t *M_thread_start(M_thread_func_t func, void *arg) M_WARN_UNUSED_RESULT;

/* Wait until the thread has returned, and release its handle.
 *
 * thread: the handle of M_thread_start; NULL yields NULL (nothing waited
 *         for). The handle is invalid afterwards.
 *
 * Returns what the thread's function returned. */
M_API void *M_thread_join(M_thread_t *thread);

/* How many processors this process may run on: those of its affinity mask
 * (what taskset or a container's limit leaves it), not the machine's total.
 * Returns at least 1, also when the mask cannot be read. */
M_API size_t M_thread_num_cpus(void);

/* How many of want threads (the calling thread among them) the process's
 * memory limits (M_proc_mem_room: its address space, RLIMIT_AS, ulimit -v;
 * its data, RLIMIT_DATA, ulimit -d; on Windows a job object's memory limit)
 * can serve, when each brings per_thread bytes of working memory besides
 * its stack and what the C library's allocator reserves for a thread of its
 * own. Threads asked for beyond that would make some allocation fail, which
 * ends the process.
 *
 * Returns want when the process has no such limit, else the most threads,
 * up to want, whose stacks, reservations and working memory fit in what the
 * limits leave now; 0 when not even the calling thread's working memory
 * fits. want 0 counts as 1. Invalidates nothing. */
M_API size_t M_thread_affordable(size_t want, size_t per_thread);

/* Create a mutex, unlocked.
 *
 * Returns a new mutex, owned by the caller and released with
 * M_thread_mutex_destroy; never NULL (out of memory ends the process, as
 * for every allocation of the library). */
M_API M_thread_mutex_t *M_thread_mutex_create(void) M_WARN_UNUSED_RESULT;

/* Destroy a mutex that no thread holds or waits for.
 *
 * mutex: NULL is ignored. Invalid afterwards. */
M_API void M_thread_mutex_destroy(M_thread_mutex_t *mutex);

/* Lock a mutex, waiting while another thread holds it. Locking a mutex the
 * calling thread already holds deadlocks.
 *
 * mutex: NULL is ignored. */
M_API void M_thread_mutex_lock(M_thread_mutex_t *mutex);

/* Unlock a mutex the calling thread holds.
 *
 * mutex: NULL is ignored. */
M_API void M_thread_mutex_unlock(M_thread_mutex_t *mutex);

/* Create a condition variable.
 *
 * Returns a new condition variable, owned by the caller and released with
 * M_thread_cond_destroy; never NULL. */
M_API M_thread_cond_t *M_thread_cond_create(void) M_WARN_UNUSED_RESULT;

/* Destroy a condition variable that no thread waits on.
 *
 * cond: NULL is ignored. Invalid afterwards. */
M_API void M_thread_cond_destroy(M_thread_cond_t *cond);

/* Atomically unlock mutex (held by the caller) and wait until cond is
 * signalled, then lock mutex again before returning. A wait may also end
 * without a signal: callers wait in a loop over the state they expect.
 *
 * cond:  NULL is ignored (returns at once, mutex still held).
 * mutex: NULL is ignored (returns at once). */
M_API void M_thread_cond_wait(M_thread_cond_t *cond, M_thread_mutex_t *mutex);

/* Wake one thread waiting on cond (none: nothing happens).
 *
 * cond: NULL is ignored. */
M_API void M_thread_cond_signal(M_thread_cond_t *cond);

/* Wake every thread waiting on cond.
 *
 * cond: NULL is ignored. */
M_API void M_thread_cond_broadcast(M_thread_cond_t *cond);

M_END_DECLS

#endif /* M_THREAD_H */
