/* The host's zone on Windows: the zone's rules from the system's zone
 * services, applied by the portable arithmetic (m_time_local.cpp).
 *
 * A time converts by the rules the zone has for its year (those of the
 * dynamic zone, GetTimeZoneInformationForYear, else the current ones of
 * GetTimeZoneInformation): a UTC time by the rules of its UTC year, a local
 * reading by those of its local year, as the system's own conversions
 * (SystemTimeToTzSpecificLocalTime, TzSpecificLocalTimeToSystemTime) were
 * given them. The system is asked once per year met, into one table for
 * the whole process: asking it for every date cost a millisecond or more a
 * call, on every thread. So the zone is the one the process met first; a
 * change of the machine's zone during a run is not followed.
 *
 * The offset, the daylight flag and the zone's name describe the time
 * converted, not the moment of the call: the daylight name when the offset
 * is the zone's daylight offset and that differs from the standard one,
 * the standard name otherwise. A zone without daylight time is in standard
 * time all year.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include <cstring>

namespace {

using m::detail::zone_rules_t;

/* A zone name (UTF-16) as UTF-8, cut to 31 bytes. */
void name_into(char (&out)[32], const WCHAR *name) noexcept
{
	char        text[96];
	M_time_tm_t tm = {};
	if (WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof(text), nullptr, nullptr) <= 0)
		text[0] = '\0';
	m::detail::set_abbr(tm, text);
	static_assert(sizeof(out) == sizeof(tm.abbr), "zone name room");
	std::memcpy(out, tm.abbr, sizeof(out));
}

void systemtime_into(M_time_systemtime_t &out, const SYSTEMTIME &st) noexcept
{
	static_assert(sizeof(out) == sizeof(st), "SYSTEMTIME layout");
	std::memcpy(&out, &st, sizeof(out));
}

/* The zone's rules for a year: those of the dynamic zone for that year,
 * else the current ones. */
void read_year(int year, zone_rules_t &out) noexcept
{
	DYNAMIC_TIME_ZONE_INFORMATION dtzi;
	TIME_ZONE_INFORMATION         tzi;
	out.ok = (GetDynamicTimeZoneInformation(&dtzi) != TIME_ZONE_ID_INVALID &&
	          GetTimeZoneInformationForYear(static_cast<USHORT>(year), &dtzi, &tzi)) ||
	         GetTimeZoneInformation(&tzi) != TIME_ZONE_ID_INVALID;
	if (!out.ok)
		return;
	out.bias     = tzi.Bias;
	out.std_bias = tzi.StandardBias;
	out.dst_bias = tzi.DaylightBias;
	systemtime_into(out.std_date, tzi.StandardDate);
	systemtime_into(out.dst_date, tzi.DaylightDate);
	name_into(out.std_name, tzi.StandardName);
	name_into(out.dst_name, tzi.DaylightName);
}

/* The process's table, made on first use (so also for a conversion made
 * while other static objects are built). */
m::detail::zone_years_t &zone() noexcept
{
	static m::detail::zone_years_t years(read_year);
	return years;
}

} // namespace

namespace m::detail {

void host_tolocal(M_time_t t, M_time_tm_t &tm) noexcept
{
	M_time_systemtime_t utc;
	const zone_rules_t *z = M_time_to_systemtime(t, &utc) ? zone().of_year(utc.wYear) : nullptr;
	if (z == nullptr || !zone_tolocal(*z, t, tm)) {
		/* Outside the system's range (before 1601, after 30827): the UTC
		 * reading with the daylight flag unknown. */
		M_time_togm(t, &tm);
		tm.isdst = -1;
		return;
	}
	M_time_normalize_tm(&tm);
}

bool host_fromlocal(const M_time_tm_t &tm, M_time_t &out) noexcept
{
	const zone_rules_t *z = zone().of_year(tm.year);
	if (z == nullptr)
		return false;
	M_time_tm_t local = tm;
	return zone_fromlocal(*z, M_time_fromgm(&local), out);
}

} // namespace m::detail
