/* The host's zone on POSIX: localtime_r and mktime under the TZ environment
 * variable, the offset from tm_gmtoff, the daylight flag from tm_isdst and
 * the zone name from tm_zone.
 *
 * localtime_r need not re-read TZ, and callers (the tests among them) may
 * change it between calls, so tzset() must run after every change. It is not
 * cheap: with TZ unset it stats /etc/localtime each time, which dominated the
 * profile of a table with millions of dates. So tzset() runs only when TZ's
 * value (unset, or its text) differs from the one seen at the last call; a
 * value too long to remember makes every call run it, and so does a change
 * of the C library's zone globals by a tzset() elsewhere. A change of the
 * zone file itself while TZ stays the same is not picked up by UTC-to-local
 * readings without a zone object (mktime runs its own tzset regardless).
 */
#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include "core/m_mem.h"

#include <climits>
#include <pthread.h>
#include <cstdlib>
#include <cstring>
#include <time.h>

namespace {

/* TZ as seen at the last tzset() call made here, and the C library's zone
 * globals that call left. Other code of the process may run tzset() (or
 * mktime(), which runs it) under another TZ and then put TZ back; the globals
 * then differ, and the next call reloads. */
struct tz_seen_t {
	bool        valid; /* the fields below describe the last call */
	bool        set;   /* TZ was set */
	size_t      len;   /* its length */
	char        text[256];
	const char *name0; /* tzname[0], tzname[1], timezone, daylight after it */
	const char *name1;
	long        offset;
	int         dst;
};

tz_seen_t       g_tz_seen;
pthread_mutex_t g_tz_lock = PTHREAD_MUTEX_INITIALIZER;

/* Run tzset() when TZ differs from what the last call saw. */
void tzset_if_changed()
{
	pthread_mutex_lock(&g_tz_lock);
	const char  *tz   = std::getenv("TZ");
	const bool   set  = tz != nullptr;
	const size_t len  = set ? std::strlen(tz) : 0;
	const bool   same = g_tz_seen.valid && set == g_tz_seen.set && len == g_tz_seen.len &&
	                  (!set || std::memcmp(tz, g_tz_seen.text, len) == 0) && tzname[0] == g_tz_seen.name0 &&
	                  tzname[1] == g_tz_seen.name1 && timezone == g_tz_seen.offset && daylight == g_tz_seen.dst;
	if (!same) {
		tzset();
		g_tz_seen.set    = set;
		g_tz_seen.len    = len;
		g_tz_seen.valid  = len < sizeof(g_tz_seen.text);
		g_tz_seen.name0  = tzname[0];
		g_tz_seen.name1  = tzname[1];
		g_tz_seen.offset = timezone;
		g_tz_seen.dst    = daylight;
		if (set && g_tz_seen.valid)
			std::memcpy(g_tz_seen.text, tz, len);
	}
	pthread_mutex_unlock(&g_tz_lock);
}

} // namespace

namespace m::detail {

void host_tolocal(M_time_t t, M_time_tm_t &tm) noexcept
{
	struct tm lt;
	time_t    tt = static_cast<time_t>(t);

	tzset_if_changed();
	if (localtime_r(&tt, &lt) == nullptr) {
		/* Outside the host's range (its year is an int): the UTC reading
		 * with the daylight flag unknown. */
		M_time_togm(t, &tm);
		tm.isdst = -1;
		return;
	}
	M_time_togm(t + static_cast<M_time_t>(lt.tm_gmtoff), &tm);
	tm.gmtoff = static_cast<int64_t>(lt.tm_gmtoff);
	tm.isdst  = lt.tm_isdst > 0 ? 1 : (lt.tm_isdst == 0 ? 0 : -1);
	set_abbr(tm, lt.tm_zone);
	M_time_normalize_tm(&tm);
}

bool host_fromlocal(const M_time_tm_t &tm, M_time_t &out) noexcept
{
	struct tm lt;

	if (tm.year - 1900 < INT_MIN || tm.year - 1900 > INT_MAX)
		return false;
	M_mem_set(&lt, 0, sizeof(lt));
	lt.tm_year = static_cast<int>(tm.year - 1900);
	lt.tm_mon  = static_cast<int>(tm.month - 1);
	lt.tm_mday = static_cast<int>(tm.day);
	lt.tm_hour = static_cast<int>(tm.hour);
	lt.tm_min  = static_cast<int>(tm.min);
	lt.tm_sec  = static_cast<int>(tm.sec);
	/* The zone decides whether daylight time applies, as the Windows
	 * conversion does; the caller's flag is not consulted. */
	lt.tm_isdst = -1;
	/* mktime() returns -1 both for failure and for 1969-12-31 23:59:59 UTC;
	 * it sets tm_wday only on success, so a sentinel tells them apart. */
	lt.tm_wday = -1;

	tzset_if_changed();
	const time_t r = mktime(&lt);
	if (r == static_cast<time_t>(-1) && lt.tm_wday == -1)
		return false;
	out = static_cast<M_time_t>(r);
	return true;
}

} // namespace m::detail
