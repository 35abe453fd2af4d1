/* Threads: many threads adding under one mutex lose no update, a waiter
 * wakes on the condition it waits for, the processor count follows the
 * affinity mask, and the thread count a memory limit can serve. */
#include "tests/test_util.h"

#include "sys/m_thread.h"

#ifdef _WIN32
#include <windows.h>

#include <bit>
#else
#include <sched.h>
#include <sys/resource.h>
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

#if M_TEST_POSIX && !defined(__SANITIZE_ADDRESS__) &&                                                                  \
    !defined(__SANITIZE_THREAD__) /* Linux only: RLIMIT_AS, which the sanitizers' shadow memory does not mix with */
namespace {

const size_t kWork = size_t{32} << 20;

/* A thread's working memory, taken (and touched) with the C library's own
 * allocator, which says when it cannot rather than ending the process. */
void *take_work(void *)
{
	void *p = std::malloc(kWork);
	if (p == nullptr)
		return nullptr;
	std::memset(p, 1, kWork);
	/* The pages are touched, and the compiler may not drop them unused. */
	asm volatile("" : : "r"(p) : "memory");
	std::free(p);
	static int taken = 0;
	return &taken;
}

/* The process's address space now, from /proc/self/statm (read only). */
rlim_t address_space_now()
{
	unsigned long pages = 0;
	FILE         *f     = std::fopen("/proc/self/statm", "r");
	if (f == nullptr || std::fscanf(f, "%lu", &pages) != 1)
		pages = 0;
	if (f != nullptr)
		std::fclose(f);
	return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

} // namespace

/* Under an address space limit the thread count comes down to what the
 * limit can serve, and every thread it allows gets its working memory; a
 * limit close to what the process holds leaves not even one; without a limit
 * every thread asked for. */
TEST(m_thread, thread_count_fits_the_address_space_limit)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(
	    {
		    struct rlimit lim {};
		    getrlimit(RLIMIT_AS, &lim);
		    int bad      = lim.rlim_cur == RLIM_INFINITY && M_thread_affordable(16, kWork) != 16 ? 1 : 0;
		    lim.rlim_cur = address_space_now() + (rlim_t{400} << 20);
		    setrlimit(RLIMIT_AS, &lim);
		    const size_t n = M_thread_affordable(16, kWork);
		    bad |= n < 2 || n >= 16 ? 2 : 0;
		    std::vector<M_thread_t *> threads;
		    for (size_t i = 0; i + 1 < n; i++)
			    threads.push_back(M_thread_start(take_work, nullptr));
		    for (M_thread_t *t : threads)
			    bad |= t == nullptr || M_thread_join(t) == nullptr ? 4 : 0;
		    lim.rlim_cur = address_space_now() + (rlim_t{8} << 20);
		    setrlimit(RLIMIT_AS, &lim);
		    bad |= M_thread_affordable(16, kWork) != 0 || M_thread_affordable(0, 0) != 1 ? 8 : 0;
		    std::_Exit(bad);
	    },
	    ::testing::ExitedWithCode(0), "");
}
#endif
