/* Process protections on POSIX: mlock/munlock, the standard descriptors,
 * the core limit and the dumpable flag. */
#include "sys/m_proc.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

extern "C" {

M_bool M_proc_mem_lock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return M_FALSE;
	return ::mlock(ptr, len) == 0;
}

void M_proc_mem_unlock(const void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return;
	(void)::munlock(ptr, len);
}

M_bool M_proc_std_fds_open(void)
{
	bool all = true;
	for (int fd = 0; fd <= 2; fd++) {
		if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		/* open() takes the lowest free number: this one. */
		const int null_fd = ::open("/dev/null", O_RDWR);
		if (null_fd != fd) {
			all = false;
			if (null_fd >= 0)
				(void)::close(null_fd);
		}
	}
	return all;
}

M_bool M_proc_forbid_core_dumps(void)
{
	const struct rlimit none = {0, 0};
	bool                ok   = ::setrlimit(RLIMIT_CORE, &none) == 0;
#ifdef __linux__
	ok = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && ok;
#endif
	return ok;
}

M_bool M_proc_file_size_limit_fails_writes(void)
{
	return ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
}

} // extern "C"
