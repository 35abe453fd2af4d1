/* Process protections on POSIX: mlock/munlock, the standard descriptors,
 * the core limit and the dumpable flag; the memory limits and the memory
 * in use. */
#include "sys/m_proc.h"

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

/* The address space and the data (with the stack) the process uses now,
 * from the first and sixth fields of /proc/self/statm, in bytes; false
 * when they cannot be read. */
bool memory_in_use(uint64_t *address, uint64_t *data)
{
	const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	char          text[128];
	const ssize_t got = ::read(fd, text, sizeof(text) - 1);
	(void)::close(fd);
	uint64_t fields[6] = {0};
	size_t   field     = 0;
	for (ssize_t i = 0; i < got && field < 6; i++) {
		if (text[i] >= '0' && text[i] <= '9')
			fields[field] = fields[field] * 10 + static_cast<uint64_t>(text[i] - '0');
		else
			field++;
	}
	const long page = ::sysconf(_SC_PAGESIZE);
	if (field < 5 || page <= 0)
		return false;
	*address = fields[0] * static_cast<uint64_t>(page);
	*data    = fields[5] * static_cast<uint64_t>(page);
	return true;
}

/* The soft limit of resource, UINT64_MAX for none. */
uint64_t soft_limit(int resource)
{
	struct rlimit limit {};
	if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
		return UINT64_MAX;
	return static_cast<uint64_t>(limit.rlim_cur);
}

uint64_t room_under(uint64_t limit, uint64_t used)
{
	if (limit == UINT64_MAX)
		return UINT64_MAX;
	return limit > used ? limit - used : 0;
}

} // namespace

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

M_bool M_proc_mem_room(uint64_t *address_room, uint64_t *data_room)
{
	const uint64_t as_limit   = soft_limit(RLIMIT_AS);
	const uint64_t data_limit = soft_limit(RLIMIT_DATA);
	uint64_t       address    = 0;
	uint64_t       data       = 0;
	const bool     known      = (as_limit == UINT64_MAX && data_limit == UINT64_MAX) || memory_in_use(&address, &data);
	if (address_room != nullptr)
		*address_room = known ? room_under(as_limit, address) : UINT64_MAX;
	if (data_room != nullptr)
		*data_room = known ? room_under(data_limit, data) : UINT64_MAX;
	return known;
}

} // extern "C"
