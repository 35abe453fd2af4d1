/* The time module's calls to the system (C++ only, not a public header):
 * one implementation per platform (m_time_posix.cpp and
 * m_time_local_posix.cpp, m_time_win.cpp and m_time_local_win.cpp).
 */
#ifndef M_TIME_INT_H
#define M_TIME_INT_H

#include "sys/m_time.h"

#include <atomic>
#include <mutex>

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

/* A zone's rules for one year, in the form the Windows zone services give
 * them: biases in minutes west of UTC, and two transition dates in local
 * time as SYSTEMTIME records. A date with wYear 0 means the wDay-th
 * (1 to 5, 5 = the last) weekday wDayOfWeek of wMonth at the time of day it
 * holds, every year; with a year, day wDay of wMonth. Daylight time begins
 * at dst_date (read in local standard time) and ends at std_date (read in
 * local daylight time); a dst_date month of 0 means the zone keeps one
 * offset all year. ok is false when the system gave no rules. */
struct zone_rules_t {
	bool                ok;
	int32_t             bias;
	int32_t             std_bias;
	int32_t             dst_bias;
	M_time_systemtime_t std_date;
	M_time_systemtime_t dst_date;
	char                std_name[32]; /* UTF-8, NUL-terminated */
	char                dst_name[32];
};

/* The local second (a local wall-clock reading counted as if it were UTC)
 * at which rule takes effect in year. Pure arithmetic. */
M_time_t zone_transition(int64_t year, const M_time_systemtime_t &rule) noexcept;

/* Fill tm (zeroed by the caller) with the local reading of t by the rules
 * z, deciding daylight time as the Windows UTC-to-local conversion does:
 * offset, daylight flag and the zone's name of the time converted. False
 * (tm untouched) when the rules are unusable or the local time falls
 * outside the SYSTEMTIME years 1601 to 30827. */
bool zone_tolocal(const zone_rules_t &z, M_time_t t, M_time_tm_t &tm) noexcept;

/* The UTC time of the local reading local (counted as if UTC) by the rules
 * z, as the Windows local-to-UTC conversion decides it: a time in the hour
 * repeated when daylight time ends, and one in the hour skipped when it
 * begins, are read as daylight time. False when the rules are unusable or
 * the result is outside the SYSTEMTIME years. */
bool zone_fromlocal(const zone_rules_t &z, M_time_t local, M_time_t &out) noexcept;

/* The rules of each year met, read from the system once per year and kept
 * for the life of the table: one table serves every thread. A year's
 * record is filled under a lock and published through an atomic pointer,
 * so readers of a year already met take no lock. Years outside 1601 to
 * 30827 have no record. */
class zone_years_t {
  public:
	/* Reads the rules of year into out (zeroed by the caller). */
	using reader_t = void (*)(int year, zone_rules_t &out) noexcept;

	static constexpr int kFirstYear = 1601;
	static constexpr int kLastYear  = 30827;

	explicit zone_years_t(reader_t reader) noexcept : m_reader(reader) {}
	~zone_years_t();
	zone_years_t(const zone_years_t &)            = delete;
	zone_years_t &operator=(const zone_years_t &) = delete;

	/* The rules of year, read on first use; NULL outside the years. */
	const zone_rules_t *of_year(int64_t year) noexcept;

  private:
	reader_t                    m_reader;
	std::mutex                  m_lock;
	std::atomic<zone_rules_t *> m_years[kLastYear - kFirstYear + 1] = {};
};

} // namespace m::detail

#endif
