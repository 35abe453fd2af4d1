/* The clock on Windows: _time64 for the time in seconds, the system time as
 * a FILETIME for the time of day, and the performance counter for the
 * stopwatch. */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include <ctime>

namespace m::detail {

/* The counter's ticks in microseconds, split so that no product overflows:
 * whole seconds of ticks, then the rest of a second. */
void stopwatch_reading(M_timeval_t &tv) noexcept
{
	LARGE_INTEGER count;
	LARGE_INTEGER freq;
	if (!QueryPerformanceFrequency(&freq) || freq.QuadPart <= 0 || !QueryPerformanceCounter(&count)) {
		tv.sec  = 0;
		tv.usec = 0;
		return;
	}
	const uint64_t c = static_cast<uint64_t>(count.QuadPart);
	const uint64_t f = static_cast<uint64_t>(freq.QuadPart);
	tv.sec           = static_cast<int64_t>(c / f);
	tv.usec          = static_cast<int64_t>((c % f) * 1000000ULL / f);
}

} // namespace m::detail

extern "C" {

M_time_t M_time(void)
{
	return static_cast<M_time_t>(_time64(nullptr));
}

void M_time_gettimeofday(M_timeval_t *tv)
{
	if (tv == nullptr)
		return;
	FILETIME ft;
	GetSystemTimeAsFileTime(&ft);
	const M_time_filetime_t mft = {ft.dwLowDateTime, ft.dwHighDateTime};
	M_time_timeval_from_filetime(&mft, tv);
}

} // extern "C"
