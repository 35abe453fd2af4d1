/* Threads on POSIX: pthreads, and sched_getaffinity for the processors the
 * process may run on. */
#include "sys/m_thread.h"

#include "core/m_mem.h"
#include "sys/m_proc.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

namespace {

/* Every thread's stack: what the work needs, with room to spare. */
constexpr size_t kStackSize = size_t{4} << 20;

/* The address space glibc's allocator reserves for an arena of its own,
 * which each new thread gets until there are eight per processor (later
 * threads share them): 64 MiB on 64-bit systems. */
constexpr uint64_t kArenaReserve = uint64_t{64} << 20;
constexpr size_t   kArenasPerCpu = 8;

/* What n threads take of the data limit: each its working memory, and each
 * but the calling one its stack. An arena's reservation is not data until
 * it is used (it is mapped without access), and its use is the working
 * memory. */
uint64_t threads_data(uint64_t n, uint64_t per_thread)
{
	return n * per_thread + (n - 1) * kStackSize;
}

/* What n threads take of the address space: their data and, while there
 * are arenas to be made, an arena's reservation for each but the calling
 * one. */
uint64_t threads_cost(uint64_t n, uint64_t per_thread, uint64_t arenas)
{
	const uint64_t extra = n - 1;
	return threads_data(n, per_thread) + (extra < arenas ? extra : arenas - 1) * kArenaReserve;
}

} // namespace

struct M_thread {
	pthread_t id; /* the running thread */
};

struct M_thread_mutex {
	pthread_mutex_t m; /* default (not recursive) */
};

struct M_thread_cond {
	pthread_cond_t c; /* default attributes */
};

extern "C" {

M_thread_t *M_thread_start(M_thread_func_t func, void *arg)
{
	if (func == nullptr)
		return nullptr;
	auto *thread = static_cast<M_thread_t *>(M_malloc_zero(sizeof(M_thread_t)));
	/* The new thread inherits the mask in force while it is created: block
	 * everything for the creation only, then give the caller its own mask
	 * back. */
	sigset_t all;
	sigset_t old;
	sigfillset(&all);
	const bool     masked = ::pthread_sigmask(SIG_SETMASK, &all, &old) == 0;
	pthread_attr_t attr;
	const bool     sized = ::pthread_attr_init(&attr) == 0 && ::pthread_attr_setstacksize(&attr, kStackSize) == 0;
	const int      rc    = ::pthread_create(&thread->id, sized ? &attr : nullptr, func, arg);
	(void)::pthread_attr_destroy(&attr);
	if (masked)
		(void)::pthread_sigmask(SIG_SETMASK, &old, nullptr);
	if (rc != 0) {
		M_free(thread);
		return nullptr;
	}
	return thread;
}

void *M_thread_join(M_thread_t *thread)
{
	if (thread == nullptr)
		return nullptr;
	void *result = nullptr;
	(void)::pthread_join(thread->id, &result);
	M_free(thread);
	return result;
}

size_t M_thread_num_cpus(void)
{
	cpu_set_t set;
	CPU_ZERO(&set);
	if (::sched_getaffinity(0, sizeof(set), &set) != 0)
		return 1;
	const int count = CPU_COUNT(&set);
	return count > 0 ? static_cast<size_t>(count) : 1;
}

size_t M_thread_affordable(size_t want, size_t per_thread)
{
	uint64_t as_room   = UINT64_MAX;
	uint64_t data_room = UINT64_MAX;
	if (want < 1)
		want = 1;
	(void)M_proc_mem_room(&as_room, &data_room);
	const long     cpus   = ::sysconf(_SC_NPROCESSORS_CONF);
	const uint64_t arenas = kArenasPerCpu * static_cast<uint64_t>(cpus > 0 ? cpus : 1);
	size_t         n      = want;
	while (n > 0 && (threads_cost(n, per_thread, arenas) > as_room || threads_data(n, per_thread) > data_room))
		n--;
	return n;
}

M_thread_mutex_t *M_thread_mutex_create(void)
{
	auto *mutex = static_cast<M_thread_mutex_t *>(M_malloc_zero(sizeof(M_thread_mutex_t)));
	(void)::pthread_mutex_init(&mutex->m, nullptr);
	return mutex;
}

void M_thread_mutex_destroy(M_thread_mutex_t *mutex)
{
	if (mutex == nullptr)
		return;
	(void)::pthread_mutex_destroy(&mutex->m);
	M_free(mutex);
}

void M_thread_mutex_lock(M_thread_mutex_t *mutex)
{
	if (mutex != nullptr)
		(void)::pthread_mutex_lock(&mutex->m);
}

void M_thread_mutex_unlock(M_thread_mutex_t *mutex)
{
	if (mutex != nullptr)
		(void)::pthread_mutex_unlock(&mutex->m);
}

M_thread_cond_t *M_thread_cond_create(void)
{
	auto *cond = static_cast<M_thread_cond_t *>(M_malloc_zero(sizeof(M_thread_cond_t)));
	(void)::pthread_cond_init(&cond->c, nullptr);
	return cond;
}

void M_thread_cond_destroy(M_thread_cond_t *cond)
{
	if (cond == nullptr)
		return;
	(void)::pthread_cond_destroy(&cond->c);
	M_free(cond);
}

void M_thread_cond_wait(M_thread_cond_t *cond, M_thread_mutex_t *mutex)
{
	if (cond != nullptr && mutex != nullptr)
		(void)::pthread_cond_wait(&cond->c, &mutex->m);
}

void M_thread_cond_signal(M_thread_cond_t *cond)
{
	if (cond != nullptr)
		(void)::pthread_cond_signal(&cond->c);
}

void M_thread_cond_broadcast(M_thread_cond_t *cond)
{
	if (cond != nullptr)
		(void)::pthread_cond_broadcast(&cond->c);
}

} // extern "C"
