/* Threads on Windows: _beginthreadex (so the C runtime is set up for the
 * thread), slim reader/writer locks used exclusively as mutexes, condition
 * variables, and the process's affinity mask for the processors it may run
 * on.
 *
 * Windows delivers no POSIX signals to threads, so there is nothing to
 * block in a new thread: a console's Ctrl+C runs its handlers on a thread of
 * their own.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <process.h>

#include "sys/m_thread.h"

#include "core/m_mem.h"
#include "sys/m_proc.h"

#include <bit>

struct M_thread {
	HANDLE          handle; /* the running thread */
	M_thread_func_t func;   /* what it runs */
	void           *arg;
	void           *result; /* func's result, once it returned */
};

struct M_thread_mutex {
	SRWLOCK lock; /* taken exclusively only */
};

struct M_thread_cond {
	CONDITION_VARIABLE cond;
};

namespace {

unsigned __stdcall run_thread(void *p)
{
	auto *t   = static_cast<M_thread_t *>(p);
	t->result = t->func(t->arg);
	return 0;
}

} // namespace

extern "C" {

M_thread_t *M_thread_start(M_thread_func_t func, void *arg)
{
	if (func == nullptr)
		return nullptr;
	auto *thread        = static_cast<M_thread_t *>(M_malloc_zero(sizeof(M_thread_t)));
	thread->func        = func;
	thread->arg         = arg;
	const uintptr_t ret = _beginthreadex(nullptr, 0, run_thread, thread, 0, nullptr);
	if (ret == 0) {
		M_free(thread);
		return nullptr;
	}
	// _beginthreadex gives the thread's handle as an integer.
	// NOLINTNEXTLINE(performance-no-int-to-ptr)
	thread->handle = reinterpret_cast<HANDLE>(ret);
	return thread;
}

void *M_thread_join(M_thread_t *thread)
{
	if (thread == nullptr)
		return nullptr;
	(void)WaitForSingleObject(thread->handle, INFINITE);
	CloseHandle(thread->handle);
	void *result = thread->result;
	M_free(thread);
	return result;
}

size_t M_thread_num_cpus(void)
{
	DWORD_PTR process = 0;
	DWORD_PTR system  = 0;
	if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
		return 1;
	const int count = std::popcount(static_cast<uint64_t>(process));
	return count > 0 ? static_cast<size_t>(count) : 1;
}

size_t M_thread_affordable(size_t want, size_t per_thread)
{
	/* Windows sets no limit on a process's address space; a job object may
	 * limit its committed memory, which a thread's stack barely touches
	 * (it is reserved, and committed as it is used). */
	uint64_t room = UINT64_MAX;
	(void)M_proc_mem_room(nullptr, &room);
	size_t n = want < 1 ? 1 : want;
	while (n > 0 && static_cast<uint64_t>(n) * per_thread > room)
		n--;
	return n;
}

M_thread_mutex_t *M_thread_mutex_create(void)
{
	auto *mutex = static_cast<M_thread_mutex_t *>(M_malloc_zero(sizeof(M_thread_mutex_t)));
	InitializeSRWLock(&mutex->lock);
	return mutex;
}

void M_thread_mutex_destroy(M_thread_mutex_t *mutex)
{
	M_free(mutex);
}

void M_thread_mutex_lock(M_thread_mutex_t *mutex)
{
	if (mutex != nullptr)
		AcquireSRWLockExclusive(&mutex->lock);
}

void M_thread_mutex_unlock(M_thread_mutex_t *mutex)
{
	if (mutex != nullptr)
		ReleaseSRWLockExclusive(&mutex->lock);
}

M_thread_cond_t *M_thread_cond_create(void)
{
	auto *cond = static_cast<M_thread_cond_t *>(M_malloc_zero(sizeof(M_thread_cond_t)));
	InitializeConditionVariable(&cond->cond);
	return cond;
}

void M_thread_cond_destroy(M_thread_cond_t *cond)
{
	M_free(cond);
}

void M_thread_cond_wait(M_thread_cond_t *cond, M_thread_mutex_t *mutex)
{
	if (cond != nullptr && mutex != nullptr)
		(void)SleepConditionVariableSRW(&cond->cond, &mutex->lock, INFINITE, 0);
}

void M_thread_cond_signal(M_thread_cond_t *cond)
{
	if (cond != nullptr)
		WakeConditionVariable(&cond->cond);
}

void M_thread_cond_broadcast(M_thread_cond_t *cond)
{
	if (cond != nullptr)
		WakeAllConditionVariable(&cond->cond);
}

} // extern "C"
