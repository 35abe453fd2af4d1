/* The clock on POSIX: CLOCK_REALTIME for the time of day, CLOCK_MONOTONIC
 * for the stopwatch. */
#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include <time.h>

namespace m::detail {

void stopwatch_reading(M_timeval_t &tv) noexcept
{
	struct timespec ts;

	if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
		tv.sec  = 0;
		tv.usec = 0;
		return;
	}
	const uint64_t us = static_cast<uint64_t>(ts.tv_sec) * 1000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000ULL;
	tv.sec            = static_cast<int64_t>(us / 1000000ULL);
	tv.usec           = static_cast<int64_t>(us % 1000000ULL);
}

} // namespace m::detail

extern "C" {

M_time_t M_time(void)
{
	struct timespec ts;
	if (clock_gettime(CLOCK_REALTIME, &ts) != 0)
		return 0;
	return static_cast<M_time_t>(ts.tv_sec);
}

void M_time_gettimeofday(M_timeval_t *tv)
{
	struct timespec ts;

	if (tv == nullptr)
		return;
	if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
		tv->sec  = 0;
		tv->usec = 0;
		return;
	}
	tv->sec  = static_cast<int64_t>(ts.tv_sec);
	tv->usec = static_cast<int64_t>(ts.tv_nsec / 1000);
}

} // extern "C"
