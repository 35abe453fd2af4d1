/* Stopwatch: millisecond intervals on the monotonic clock.
 *
 * A reading is the platform's monotonic clock in whole microseconds, split
 * into sec and usec (m_time_posix.cpp, m_time_win.cpp). A monotonic clock is
 * used rather than the wall clock so that a clock adjustment during a run
 * can neither stretch a measured interval nor make it negative;
 * M_time_elapsed still floors at 0 should two readings ever come out of
 * order.
 */
#include "sys/m_time.h"
#include "sys/m_time_int.h"

namespace {

using m::detail::stopwatch_reading;

constexpr int64_t diff_ms(const M_timeval_t &start, const M_timeval_t &end)
{
	return (end.sec - start.sec) * 1000 + end.usec / 1000 - start.usec / 1000;
}

} // namespace

extern "C" {

void M_time_elapsed_start(M_timeval_t *tv)
{
	if (tv == nullptr)
		return;
	stopwatch_reading(*tv);
}

uint64_t M_time_elapsed(const M_timeval_t *start_tv)
{
	M_timeval_t now;

	if (start_tv == nullptr)
		return 0;
	stopwatch_reading(now);
	const int64_t ms = diff_ms(*start_tv, now);
	return ms < 0 ? 0 : static_cast<uint64_t>(ms);
}

int64_t M_time_timeval_diff(const M_timeval_t *start_tv, const M_timeval_t *end_tv)
{
	if (start_tv == nullptr || end_tv == nullptr)
		return 0;
	return diff_ms(*start_tv, *end_tv);
}

} // extern "C"
