/* Threads: the processor count follows the affinity mask. Threads, mutexes
 * and conditions are the export pool's, and its tests run them under load;
 * the thread count a memory limit can serve is test_parallel.py's. */
#include "tests/test_util.h"

#include "sys/m_thread.h"

#ifdef _WIN32
#include <windows.h>

#include <bit>
#else
#include <sched.h>
#endif

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
