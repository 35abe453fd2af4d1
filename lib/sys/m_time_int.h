/* The time module's calls to the system (C++ only, not a public header):
 * one implementation per platform (m_time_posix.cpp and
 * m_time_local_posix.cpp, m_time_win.cpp and m_time_local_win.cpp).
 */
#ifndef M_TIME_INT_H
#define M_TIME_INT_H

#include "sys/m_time.h"

namespace m::detail {

/* The monotonic clock in whole microseconds, split into sec and usec; zeros
 * when it cannot be read. */
void stopwatch_reading(M_timeval_t &tv) noexcept;

/* The local reading of t in the host's zone (step 3 of M_time_tolocal): tm
 * (zeroed by the caller) gets the calendar fields of the local count, the
 * offset, the daylight flag and the zone's name. When the host cannot
 * convert t, tm holds the UTC reading with isdst -1. */
void host_tolocal(M_time_t t, M_time_tm_t &tm) noexcept;

/* The UTC time of a normalised local reading tm in the host's zone; the
 * zone decides whether daylight time applies (tm's isdst is not read).
 * False when the host cannot convert it. */
bool host_fromlocal(const M_time_tm_t &tm, M_time_t &out) noexcept;

/* Copy a zone name into tm.abbr, cut to 31 characters; NULL gives "". */
void set_abbr(M_time_tm_t &tm, const char *name) noexcept;

} // namespace m::detail

#endif
