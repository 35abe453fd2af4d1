/* Threads on POSIX: pthreads, and sched_getaffinity for the processors the
 * process may run on. */
#include "sys/m_thread.h"

#include "core/m_mem.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

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
	const bool masked = ::pthread_sigmask(SIG_SETMASK, &all, &old) == 0;
	const int  rc     = ::pthread_create(&thread->id, nullptr, func, arg);
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
