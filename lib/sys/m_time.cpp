/* Time: the clock, the Windows FILETIME/SYSTEMTIME forms and small helpers.
 *
 * The FILETIME arithmetic is kept exactly as the Windows forms define it
 * (100-ns ticks since 1601-01-01 UTC) and is pure integer arithmetic, so it
 * is tested on every host. The clock itself is the platform's
 * (m_time_posix.cpp, m_time_win.cpp).
 */
#include "sys/m_time.h"

#include "core/m_mem.h"

#include <climits>
#include <ctime>

namespace {

static_assert(sizeof(M_time_t) == 8, "M_time_t is 64 bits");
static_assert(sizeof(M_timeval_t) == 16, "M_timeval_t is two 64-bit fields");
static_assert(sizeof(M_time_tm_t) == 11 * 8 + 32, "M_time_tm_t is 11 64-bit fields and a 32-byte text");
static_assert(sizeof(M_time_filetime_t) == 8, "FILETIME is two 32-bit halves");
static_assert(sizeof(M_time_systemtime_t) == 16, "SYSTEMTIME is eight 16-bit fields");

/* FILETIME ticks per second and the ticks from 1601-01-01 to 1970-01-01. */
constexpr int64_t kTicksPerSec   = 10000000;
constexpr int64_t kEpochDiffSecs = 11644473600LL;
constexpr int64_t kEpochDiff     = kEpochDiffSecs * kTicksPerSec; /* 116,444,736,000,000,000 */

/* The largest year a SYSTEMTIME can hold (the Windows conversion's limit). */
constexpr int64_t kSystemtimeMaxYear = 30827;

int32_t clamp32(int64_t v, int64_t lo)
{
	if (v < lo)
		return static_cast<int32_t>(lo);
	if (v > INT32_MAX)
		return INT32_MAX;
	return static_cast<int32_t>(v);
}

} // namespace

extern "C" {

int64_t M_time_filetime_to_int64(const M_time_filetime_t *ft)
{
	if (ft == nullptr)
		return 0;
	const uint64_t v = (static_cast<uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
	return static_cast<int64_t>(v);
}

void M_time_filetime_from_int64(int64_t v, M_time_filetime_t *ft)
{
	if (ft == nullptr)
		return;
	const uint64_t u   = static_cast<uint64_t>(v);
	ft->dwLowDateTime  = static_cast<uint32_t>(u & 0xFFFFFFFFU);
	ft->dwHighDateTime = static_cast<uint32_t>(u >> 32);
}

M_time_t M_time_from_filetime(const M_time_filetime_t *ft)
{
	if (ft == nullptr)
		return 0;
	return M_time_filetime_to_int64(ft) / kTicksPerSec - kEpochDiffSecs;
}

void M_time_to_filetime(M_time_t t, M_time_filetime_t *ft)
{
	if (ft == nullptr)
		return;
	/* Unsigned arithmetic: wraps modulo 2^64 for times whose tick count does
	 * not fit (beyond about year 30828) instead of overflowing a signed
	 * number; every representable FILETIME comes out exact. */
	const uint64_t v =
	    static_cast<uint64_t>(t) * static_cast<uint64_t>(kTicksPerSec) + static_cast<uint64_t>(kEpochDiff);
	M_time_filetime_from_int64(static_cast<int64_t>(v), ft);
}

M_bool M_time_to_systemtime(M_time_t t, M_time_systemtime_t *st)
{
	M_time_filetime_t ft;
	M_time_tm_t       tm;

	if (st == nullptr)
		return M_FALSE;
	M_mem_set(st, 0, sizeof(*st));

	/* A FILETIME with the top bit set (before 1601, or a tick count that
	 * wrapped) is refused, as the Windows conversion refuses it. */
	if (t < -kEpochDiffSecs || t > (INT64_MAX - kEpochDiff) / kTicksPerSec)
		return M_FALSE;
	M_time_to_filetime(t, &ft);
	const int64_t ticks = M_time_filetime_to_int64(&ft);
	if (ticks < 0)
		return M_FALSE;

	M_time_togm(ticks / kTicksPerSec - kEpochDiffSecs, &tm);
	if (tm.year > kSystemtimeMaxYear)
		return M_FALSE;

	st->wYear         = static_cast<uint16_t>(tm.year);
	st->wMonth        = static_cast<uint16_t>(tm.month);
	st->wDayOfWeek    = static_cast<uint16_t>(tm.wday);
	st->wDay          = static_cast<uint16_t>(tm.day);
	st->wHour         = static_cast<uint16_t>(tm.hour);
	st->wMinute       = static_cast<uint16_t>(tm.min);
	st->wSecond       = static_cast<uint16_t>(tm.sec);
	st->wMilliseconds = static_cast<uint16_t>((ticks / 10000) % 1000);
	return M_TRUE;
}

void M_time_timeval_from_filetime(const M_time_filetime_t *ft, M_timeval_t *tv)
{
	if (tv == nullptr)
		return;
	if (ft == nullptr) {
		tv->sec  = 0;
		tv->usec = 0;
		return;
	}
	/* Unsigned subtraction, then read as signed: the wrap of an
	 * out-of-range FILETIME is defined instead of overflowing. */
	const int64_t d =
	    static_cast<int64_t>(static_cast<uint64_t>(M_time_filetime_to_int64(ft)) - static_cast<uint64_t>(kEpochDiff));
	/* Floor division, so that times before 1970 keep usec in 0..999,999
	 * (truncation would give a negative usec with sec rounded up). */
	int64_t us = d / 10;
	if (d % 10 < 0)
		us--;
	int64_t sec = us / 1000000;
	int64_t rem = us % 1000000;
	if (rem < 0) {
		rem += 1000000;
		sec--;
	}
	tv->sec  = sec;
	tv->usec = rem;
}

time_t M_time_M_time_t_to_time_t(M_time_t t)
{
	static_assert(sizeof(time_t) == sizeof(M_time_t), "time_t is 64 bits on this host");
	return static_cast<time_t>(t);
}

void M_time_M_timeval_t_to_struct_timeval(const M_timeval_t *tv, M_time_timeval32_t *out, M_bool allow_negative)
{
	if (out == nullptr)
		return;
	if (tv == nullptr) {
		out->tv_sec  = 0;
		out->tv_usec = 0;
		return;
	}
	const int64_t lo = allow_negative ? static_cast<int64_t>(INT32_MIN) : 0;
	out->tv_sec      = clamp32(tv->sec, lo);
	out->tv_usec     = clamp32(tv->usec, lo);
}

} // extern "C"
