/* Memory locking, observed from outside: the kernel's count of locked
 * memory (VmLck in /proc/self/status). The process protections are
 * observed on the program itself (tests/e2e/test_safety.py), and so is the
 * room under memory limits (tests/e2e/test_parallel.py). */
#include "tests/test_util.h"

#include "sys/m_proc.h"

#include <fstream>

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
