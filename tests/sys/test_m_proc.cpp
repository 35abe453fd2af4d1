/* Memory locking, observed from outside: the kernel's count of locked
 * memory (VmLck in /proc/self/status). The process protections are
 * observed on the program itself (tests/e2e/test_safety.py). */
#include "tests/test_util.h"

#include "sys/m_proc.h"

#include <fstream>

#if M_TEST_POSIX /* Linux only: the kernel's count of locked memory (VmLck in /proc/self/status) */
namespace {

/* Locked memory of this process in kB, as the kernel counts it. */
long locked_kb()
{
	std::ifstream status("/proc/self/status");
	std::string   line;
	while (std::getline(status, line)) {
		if (line.rfind("VmLck:", 0) == 0)
			return std::stol(line.substr(6));
	}
	return -1;
}

} // namespace

TEST(m_proc, mem_lock_is_counted_by_the_kernel_and_undone)
{
#ifdef __SANITIZE_ADDRESS__
	GTEST_SKIP() << "AddressSanitizer replaces mlock by a call that locks nothing";
#endif
	alignas(4096) static unsigned char pages[3 * 4096];
	const long                         before = locked_kb();
	ASSERT_GE(before, 0);
	if (!M_proc_mem_lock(pages, sizeof(pages)))
		GTEST_SKIP() << "this process may not lock memory";
	EXPECT_EQ(locked_kb(), before + 12);
	M_proc_mem_unlock(pages, sizeof(pages));
	EXPECT_EQ(locked_kb(), before);
	EXPECT_FALSE(M_proc_mem_lock(pages, 0));
}
#endif

#if M_TEST_POSIX && !defined(__SANITIZE_ADDRESS__) &&                                                                  \
    !defined(__SANITIZE_THREAD__) /* Linux only: RLIMIT_DATA, which the sanitizers' shadow memory does not mix with */
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

/* The room under a data limit is the limit less the data in use: under a
 * limit of 1000 MiB it reads a little less, and 16 MiB more data taken
 * brings it down by that much. No limit: no room figure. */
TEST(m_proc, mem_room_is_the_limit_less_the_use)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(
	    {
		    constexpr uint64_t kMiB = uint64_t{1} << 20;
		    struct rlimit      lim {};
		    uint64_t           address = 0;
		    uint64_t           data    = 0;
		    getrlimit(RLIMIT_DATA, &lim);
		    int bad      = lim.rlim_cur == RLIM_INFINITY && (!M_proc_mem_room(nullptr, &data) || data != UINT64_MAX);
		    lim.rlim_cur = static_cast<rlim_t>(1000 * kMiB);
		    setrlimit(RLIMIT_DATA, &lim);
		    uint64_t before = 0;
		    uint64_t after  = 0;
		    bad |= !M_proc_mem_room(&address, &before) || before >= 1000 * kMiB || before < 900 * kMiB ? 2 : 0;
		    void *p = std::malloc(16 * kMiB);
		    std::memset(p, 1, 16 * kMiB);
		    /* The pages are touched, and the compiler may not drop them unused. */
		    asm volatile("" : : "r"(p) : "memory");
		    (void)M_proc_mem_room(nullptr, &after);
		    bad |= before - after < 16 * kMiB || before - after > 18 * kMiB ? 4 : 0;
		    std::free(p);
		    std::_Exit(bad);
	    },
	    ::testing::ExitedWithCode(0), "");
}
#endif
