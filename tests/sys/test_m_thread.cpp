/* Threads: many threads adding under one mutex lose no update, a waiter
 * wakes on the condition it waits for, and the processor count follows the
 * affinity mask. (The thread count a memory limit can serve is
 * test_parallel.py's memory limits, on the program.) */
#include "tests/test_util.h"

#include "sys/m_thread.h"

#ifdef _WIN32
#include <windows.h>

#include <bit>
#else
#include <sched.h>
#endif

namespace {

struct shared_t {
	M_thread_mutex_t *mutex;
	M_thread_cond_t  *cond;
	long              count;
	bool              go;
};

void *add_many(void *arg)
{
	auto *s = static_cast<shared_t *>(arg);
	M_thread_mutex_lock(s->mutex);
	while (!s->go)
		M_thread_cond_wait(s->cond, s->mutex);
	M_thread_mutex_unlock(s->mutex);
	for (int i = 0; i < 10000; i++) {
		M_thread_mutex_lock(s->mutex);
		s->count++;
		M_thread_mutex_unlock(s->mutex);
	}
	return s;
}

} // namespace

TEST(m_thread, workers_wait_for_the_signal_and_lose_no_update)
{
	shared_t    s{M_thread_mutex_create(), M_thread_cond_create(), 0, false};
	M_thread_t *threads[4];
	for (M_thread_t *&t : threads) {
		t = M_thread_start(add_many, &s);
		ASSERT_NE(t, nullptr);
	}
	M_thread_mutex_lock(s.mutex);
	s.go = true;
	M_thread_cond_broadcast(s.cond);
	M_thread_mutex_unlock(s.mutex);
	for (M_thread_t *t : threads)
		EXPECT_EQ(M_thread_join(t), &s);
	EXPECT_EQ(s.count, 40000);
	M_thread_cond_destroy(s.cond);
	M_thread_mutex_destroy(s.mutex);
}

namespace {

/* The process's affinity mask, read and set the host's way. */
#ifdef _WIN32
using cpu_mask = DWORD_PTR;
bool get_mask(cpu_mask &m)
{
	DWORD_PTR system = 0;
	return GetProcessAffinityMask(GetCurrentProcess(), &m, &system) != 0;
}
bool set_mask(const cpu_mask &m)
{
	return SetProcessAffinityMask(GetCurrentProcess(), m) != 0;
}
size_t count(const cpu_mask &m)
{
	return static_cast<size_t>(std::popcount(static_cast<uint64_t>(m)));
}
cpu_mask lowest(const cpu_mask &m)
{
	return m & (~m + 1);
}
#else
using cpu_mask = cpu_set_t;
bool get_mask(cpu_mask &m)
{
	return sched_getaffinity(0, sizeof(m), &m) == 0;
}
bool set_mask(const cpu_mask &m)
{
	return sched_setaffinity(0, sizeof(m), &m) == 0;
}
size_t count(const cpu_mask &m)
{
	return static_cast<size_t>(CPU_COUNT(&m));
}
cpu_mask lowest(const cpu_mask &m)
{
	cpu_set_t one;
	CPU_ZERO(&one);
	for (int cpu = 0; cpu < CPU_SETSIZE; cpu++) {
		if (CPU_ISSET(cpu, &m)) {
			CPU_SET(cpu, &one);
			break;
		}
	}
	return one;
}
#endif

} // namespace

TEST(m_thread, processors_are_those_of_the_affinity_mask)
{
	cpu_mask mask;
	ASSERT_TRUE(get_mask(mask));
	EXPECT_EQ(M_thread_num_cpus(), count(mask));
	ASSERT_TRUE(set_mask(lowest(mask)));
	EXPECT_EQ(M_thread_num_cpus(), 1u);
	ASSERT_TRUE(set_mask(mask));
}
