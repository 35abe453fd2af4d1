/* Time: one representation of calendar time, a stopwatch, calendar
 * conversions in UTC and in the local zone, and the Windows FILETIME and
 * SYSTEMTIME forms.
 *
 * M_time_t counts seconds since 1970-01-01 00:00:00 UTC in a signed 64-bit
 * number, so it covers every date the Gregorian calendar arithmetic below
 * can express; nothing wraps in 2038.
 *
 * The UTC conversions (M_time_togm, M_time_fromgm, M_time_normalize_tm) are
 * pure arithmetic and never call the C library's time functions, so they
 * behave the same on every platform and for any 64-bit input. The FILETIME
 * and SYSTEMTIME conversions are pure arithmetic as well.
 *
 * Local conversions take an optional zone object (M_time_tz_t). Without one
 * the host's zone is used: on Windows the rules the system's zone services
 * give for the year converted, read once per year and process and applied
 * by arithmetic (a change of the machine's zone during a run is not
 * followed); on Linux localtime_r/mktime
 * under the TZ
 * environment variable (offset from tm_gmtoff, daylight flag from tm_isdst,
 * zone name from tm_zone). The host's zone data is (re)loaded with tzset()
 * only when TZ's value (unset, or its text) differs from the one the previous
 * local conversion saw, so setting or changing TZ between calls takes effect
 * at the next call, while repeated calls under one TZ skip the reload (with
 * TZ unset, tzset() stats the zone file on every call). A zone file replaced
 * while TZ stays the same is therefore not noticed by M_time_tolocal.
 *
 * The stopwatch reads a monotonic clock (CLOCK_MONOTONIC; the performance
 * counter on Windows), so a change of
 * the wall clock never makes an elapsed time negative.
 *
 * Source files: m_time (clock, FILETIME/SYSTEMTIME, small helpers),
 * m_time_gm (UTC arithmetic), m_time_local (local zone), m_time_elapsed
 * (stopwatch), m_time_zone_map (the zone-name table).
 *
 * Concurrency: the local conversions without a zone object read the
 * process-wide TZ setting and keep the last TZ value seen under a lock, so
 * they may run from several threads (as long as none changes TZ meanwhile).
 * On Windows they share one table of the zone's rules by year, filled under
 * a lock the first time a year is met and read without one afterwards.
 */
#ifndef M_TIME_H
#define M_TIME_H

#include "core/m_defs.h"
#include <time.h>

M_BEGIN_DECLS

/* Seconds since 1970-01-01 00:00:00 UTC, signed 64 bits. */
typedef int64_t M_time_t;

/* Seconds and microseconds. */
typedef struct {
	int64_t sec;  /* seconds since the epoch, or any base for the stopwatch */
	int64_t usec; /* microseconds, 0 to 999,999 */
} M_timeval_t;

/* Broken-down calendar time. Every numeric field is signed 64 bits so that
 * out-of-range values (month 13, day 0, negative seconds) can be given to
 * the normalising conversions. */
typedef struct {
	int64_t month;    /* 1 to 12 */
	int64_t day;      /* day of month, 1 to 31 */
	int64_t year;     /* full year, e.g. 2018 */
	int64_t year2;    /* year modulo 100 */
	int64_t hour;     /* 0 to 23 */
	int64_t min;      /* 0 to 59 */
	int64_t sec;      /* 0 to 59 */
	int64_t wday;     /* day of week, 0 = Sunday to 6 = Saturday */
	int64_t yday;     /* day of year, 0 to 365 */
	int64_t isdst;    /* 1 daylight, 0 standard, -1 unknown (local only) */
	int64_t gmtoff;   /* local offset from UTC in seconds, east positive (local only) */
	char    abbr[32]; /* zone name in effect, NUL-terminated (local only) */
} M_time_tm_t;

/* Windows FILETIME: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC,
 * as two unsigned 32-bit halves. */
typedef struct {
	uint32_t dwLowDateTime;  /* low 32 bits */
	uint32_t dwHighDateTime; /* high 32 bits */
} M_time_filetime_t;

/* Windows SYSTEMTIME: a broken-down UTC time of 16-bit fields. */
typedef struct {
	uint16_t wYear;         /* 1601 to 30827 */
	uint16_t wMonth;        /* 1 to 12 */
	uint16_t wDayOfWeek;    /* 0 = Sunday to 6 */
	uint16_t wDay;          /* 1 to 31 */
	uint16_t wHour;         /* 0 to 23 */
	uint16_t wMinute;       /* 0 to 59 */
	uint16_t wSecond;       /* 0 to 59 */
	uint16_t wMilliseconds; /* 0 to 999 */
} M_time_systemtime_t;

/* A timeval of two signed 32-bit fields, as platforms with a 32-bit long
 * define struct timeval. */
typedef struct {
	int32_t tv_sec;  /* seconds, clamped into 32 bits */
	int32_t tv_usec; /* microseconds, clamped into 32 bits */
} M_time_timeval32_t;

/* Offset, in seconds, to add to a local time read as if it were UTC to get
 * UTC. data: the zone's private data; tm: the local time (never NULL). */
typedef M_time_t (*M_time_tz_adjust_fromlocal_t)(const void *data, const M_time_tm_t *tm);

/* Offset, in seconds, of local time from UTC at the UTC time gmt (east
 * positive). data: the zone's private data. isdst: receives M_TRUE in
 * daylight time (never NULL). abbr: receives the zone name in effect, a
 * string owned by the zone, or NULL (never a NULL pointer to write to). */
typedef M_time_t (*M_time_tz_adjust_tolocal_t)(const void *data, M_time_t gmt, M_bool *isdst, const char **abbr);

/* Zone object: private data and its two operations. The library only calls
 * the operations; building a zone is the caller's business. */
typedef struct {
	const void                  *data;             /* the zone's private data */
	M_time_tz_adjust_fromlocal_t adjust_fromlocal; /* local -> UTC offset */
	M_time_tz_adjust_tolocal_t   adjust_tolocal;   /* UTC -> local offset, daylight flag, name */
} M_time_tz_t;

/* Region flags of the zone-name table. */
typedef enum {
	M_TIME_TZ_REGION_AFRICA     = 1 << 1,
	M_TIME_TZ_REGION_AMERICA    = 1 << 2,
	M_TIME_TZ_REGION_ANTARCTICA = 1 << 3,
	M_TIME_TZ_REGION_ARCTIC     = 1 << 4,
	M_TIME_TZ_REGION_ASIA       = 1 << 5,
	M_TIME_TZ_REGION_ATLANTIC   = 1 << 6,
	M_TIME_TZ_REGION_AUSTRALIA  = 1 << 7,
	M_TIME_TZ_REGION_EUROPE     = 1 << 8,
	M_TIME_TZ_REGION_INDIAN     = 1 << 9,
	M_TIME_TZ_REGION_PACIFIC    = 1 << 10,
	M_TIME_TZ_REGION_ETC        = 1 << 11
} M_time_tz_region_t;

/* One row of the zone-name table. */
typedef struct {
	const char *zone_name;    /* zone database name, e.g. "Europe/Berlin" */
	const char *windows_name; /* Windows zone name, e.g. "W. Europe Standard Time" */
	uint32_t    region;       /* one M_time_tz_region_t flag */
	uint32_t    main;         /* 1 on the one main row of each Windows name, else 0 */
} M_time_tz_zone_map_t;

/* Zone database names mapped to Windows zone names: 428 rows over 100
 * Windows names, sorted by zone_name (bytewise), ended by an all-zero row
 * (zone_name NULL). Exactly one row per
 * Windows name has main set: the name's main zone (the "001" territory of
 * the public mapping). Read-only data for zone loading. */
M_API extern const M_time_tz_zone_map_t M_time_tz_zone_map[];

/* ---------------------------------------------------------------------------
 * Clock and stopwatch
 * ------------------------------------------------------------------------- */

/* Current time in seconds since the epoch (CLOCK_REALTIME; _time64). */
M_API M_time_t M_time(void);

/* Fill tv with the current UTC time of day, to the microsecond.
 * tv: NULL is ignored. */
M_API void M_time_gettimeofday(M_timeval_t *tv);

/* Store a stopwatch start reading (monotonic clock, microseconds split into
 * sec and usec) in tv. tv: NULL is ignored. */
M_API void M_time_elapsed_start(M_timeval_t *tv);

/* Milliseconds since the start reading in start_tv:
 * (now.sec - start.sec) * 1000 + now.usec / 1000 - start.usec / 1000, or 0
 * when that is negative.
 * start_tv: NULL yields 0. */
M_API uint64_t M_time_elapsed(const M_timeval_t *start_tv);

/* Milliseconds from start_tv to end_tv, computed as M_time_elapsed does but
 * without the lower bound (negative when end is before start).
 * start_tv, end_tv: NULL yields 0. */
M_API int64_t M_time_timeval_diff(const M_timeval_t *start_tv, const M_timeval_t *end_tv);

/* ---------------------------------------------------------------------------
 * UTC calendar arithmetic
 * ------------------------------------------------------------------------- */

/* Fill tm with the UTC calendar reading of t (any 64-bit value whose year
 * fits in 64 bits). isdst, gmtoff and abbr are zero.
 * tm: NULL is ignored. */
M_API void M_time_togm(M_time_t t, M_time_tm_t *tm);

/* The M_time_t of a broken-down UTC time. The fields may be out of range and
 * are normalised first (M_time_normalize_tm); wday, yday, isdst, gmtoff and
 * abbr are ignored. tm is then refilled as by M_time_togm of the result.
 * tm: NULL yields 0. */
M_API M_time_t M_time_fromgm(M_time_tm_t *tm);

/* Bring out-of-range fields of tm into range: seconds into minutes into
 * hours into days (negative values borrow), whole years out of the day
 * count, the month into 1 to 12, then the day through the months. year2 is
 * set; wday and yday are not touched. tm: NULL is ignored. */
M_API void M_time_normalize_tm(M_time_tm_t *tm);

/* Days in the month (28 to 31) of year; 0 for a month outside 1 to 12.
 * Leap years: divisible by 400, or by 4 and not by 100. */
M_API int M_time_days_in_month(int64_t year, int64_t month);

/* M_TRUE when month is 1 to 12 and day is 1 to the month's length. */
M_API M_bool M_time_is_valid_day(int64_t year, int64_t month, int64_t day);

/* ---------------------------------------------------------------------------
 * Local time
 * ------------------------------------------------------------------------- */

/* Fill tm with the local calendar reading of t, with gmtoff, isdst and abbr.
 *
 * tm: NULL is ignored.
 * tz: the zone object; NULL uses the host's zone (TZ). With a zone object its
 *     adjust_tolocal gives the offset, daylight flag and name; a zone object
 *     without that operation reads as UTC.
 * When the host cannot convert t (out of its range), tm holds the UTC
 * reading with isdst -1. */
M_API void M_time_tolocal(M_time_t t, M_time_tm_t *tm, const M_time_tz_t *tz);

/* The M_time_t of a broken-down local time; tm is refilled as
 * M_time_tolocal would for the result.
 *
 * tm: the local time; fields may be out of range. NULL yields 0. With a
 *     zone object, isdst is handed to its adjust_fromlocal (the zone may use
 *     it to pick one of an ambiguous pair of readings); without one, the
 *     host's zone decides and isdst is not consulted.
 * tz: the zone object; NULL uses the host's zone. A zone object without
 *     adjust_fromlocal reads the time as UTC.
 * Returns the time; 0 when the host cannot convert it (out of its range),
 * and tm is then filled from 0. */
M_API M_time_t M_time_fromlocal(M_time_tm_t *tm, const M_time_tz_t *tz);

/* ---------------------------------------------------------------------------
 * Windows forms (pure arithmetic)
 * ------------------------------------------------------------------------- */

/* FILETIME to M_time_t: ft / 10,000,000 - 11,644,473,600 with the FILETIME
 * read as a signed 64-bit number (signed division).
 * ft: NULL yields 0. */
M_API M_time_t M_time_from_filetime(const M_time_filetime_t *ft);

/* M_time_t to FILETIME: t * 10,000,000 + 116,444,736,000,000,000 over the
 * 64-bit t (times before 1601 give a FILETIME with the top bit set).
 * ft: NULL is ignored. */
M_API void M_time_to_filetime(M_time_t t, M_time_filetime_t *ft);

/* M_time_t to SYSTEMTIME through its FILETIME.
 * st: NULL fails.
 * Returns M_FALSE (st zeroed) when the FILETIME has its top bit set (before
 * 1601) or the year exceeds 30827, as the Windows conversion refuses them. */
M_API M_bool M_time_to_systemtime(M_time_t t, M_time_systemtime_t *st);

/* FILETIME to seconds and microseconds: d = ft - 116,444,736,000,000,000;
 * sec = d / 10,000,000; usec = (d / 10) mod 1,000,000. Divisions round
 * toward minus infinity, so usec is 0 to 999,999 before 1970 as well (one
 * tick before the epoch is sec -1, usec 999,999).
 * ft: NULL gives zeros. tv: NULL is ignored. */
M_API void M_time_timeval_from_filetime(const M_time_filetime_t *ft, M_timeval_t *tv);

/* The FILETIME's two halves as one 64-bit number (high half on top).
 * ft: NULL yields 0. */
M_API int64_t M_time_filetime_to_int64(const M_time_filetime_t *ft);

/* Split v into the two halves of a FILETIME. ft: NULL is ignored. */
M_API void M_time_filetime_from_int64(int64_t v, M_time_filetime_t *ft);

/* Identity: M_time_t and the host's time_t are both 64-bit seconds. */
M_API time_t M_time_M_time_t_to_time_t(M_time_t t);

/* Copy tv into a 32-bit timeval with clamping.
 *
 * tv:  NULL gives zeros.
 * out: NULL is ignored.
 * allow_negative: M_TRUE clamps each field into -2,147,483,648 to
 *                 2,147,483,647; M_FALSE into 0 to 2,147,483,647. */
M_API void M_time_M_timeval_t_to_struct_timeval(const M_timeval_t *tv, M_time_timeval32_t *out, M_bool allow_negative);

M_END_DECLS

#endif /* M_TIME_H */
