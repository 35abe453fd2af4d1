/* Process protections, observed from outside: the kernel's count of locked
 * memory (VmLck in /proc/self/status), and a child process that may not
 * lock. */
#include <gtest/gtest.h>

#include "sys/m_proc.h"

#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

/* Run fn in a child process; its exit status (fn's result), or -1. */
template <typename Fn>
int in_child(Fn fn)
{
	const pid_t pid = ::fork();
	if (pid == 0)
		::_exit(fn());
	int status = 0;
	if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
		return -1;
	return WEXITSTATUS(status);
}

} // namespace

TEST(m_proc, mem_lock_is_counted_by_the_kernel_and_undone)
{
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

TEST(m_proc, refused_lock_is_reported)
{
	const int status = in_child([] {
		const struct rlimit none = {0, 0};
		/* Without privilege (root ignores the limit), no lock is allowed. */
		if (::setrlimit(RLIMIT_MEMLOCK, &none) != 0 || (::getuid() == 0 && ::setuid(65534) != 0))
			return 2;
		unsigned char key[32] = {0};
		return M_proc_mem_lock(key, sizeof(key)) ? 3 : 0;
	});
	EXPECT_EQ(status, 0);
}

TEST(m_proc, protections_hold_in_the_process)
{
	/* Closed standard descriptors are taken by the null device, so the next
	 * file opened gets a number above 2. */
	EXPECT_EQ(in_child([] {
		          ::close(0);
		          ::close(2);
		          if (!M_proc_std_fds_open() || ::fcntl(0, F_GETFD) < 0 || ::fcntl(2, F_GETFD) < 0)
			          return 1;
		          return ::dup(1) > 2 ? 0 : 2;
	          }),
	          0);
	EXPECT_EQ(in_child([] {
		          struct rlimit core = {1, 1};
		          if (!M_proc_forbid_core_dumps() || ::getrlimit(RLIMIT_CORE, &core) != 0)
			          return 1;
		          return core.rlim_cur == 0 && core.rlim_max == 0 && ::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 2;
	          }),
	          0);
}
