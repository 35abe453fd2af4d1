/* The host's zone on Windows: the system's zone services.
 *
 * A reading goes through the rules the zone has for the year of the time
 * converted (GetTimeZoneInformationForYear of the dynamic zone), so a date
 * in a year whose daylight rules differed converts by that year's rules.
 * UTC to local: SystemTimeToTzSpecificLocalTime; local to UTC:
 * TzSpecificLocalTimeToSystemTime; both through SYSTEMTIME and FILETIME.
 *
 * The offset, the daylight flag and the zone's name describe the time
 * converted, not the moment of the call: the offset is the difference the
 * conversion made, and the flag and name follow from it (the daylight name
 * when the offset is the zone's daylight offset and that differs from the
 * standard one, the standard name otherwise). A zone without daylight time
 * is in standard time all year. Asking GetTimeZoneInformation which of the
 * two applies would describe today instead: a winter date converted in
 * summer would carry the summer offset.
 */
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include <cstring>

namespace {

/* The zone's rules for a year: those of the dynamic zone for that year,
 * else the current ones. */
bool zone_for_year(USHORT year, TIME_ZONE_INFORMATION &tzi) noexcept
{
	DYNAMIC_TIME_ZONE_INFORMATION dtzi;
	if (GetDynamicTimeZoneInformation(&dtzi) != TIME_ZONE_ID_INVALID &&
	    GetTimeZoneInformationForYear(year, &dtzi, &tzi))
		return true;
	return GetTimeZoneInformation(&tzi) != TIME_ZONE_ID_INVALID;
}

M_time_t from_systemtime(const SYSTEMTIME &st, bool &ok) noexcept
{
	FILETIME ft;
	ok = SystemTimeToFileTime(&st, &ft) != 0;
	if (!ok)
		return 0;
	const M_time_filetime_t mft = {ft.dwLowDateTime, ft.dwHighDateTime};
	return M_time_from_filetime(&mft);
}

/* A zone name (UTF-16) into tm.abbr as UTF-8, cut to 31 bytes. */
void name_into(M_time_tm_t &tm, const WCHAR *name) noexcept
{
	char text[96];
	if (WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof(text), nullptr, nullptr) <= 0)
		text[0] = '\0';
	m::detail::set_abbr(tm, text);
}

} // namespace

namespace m::detail {

void host_tolocal(M_time_t t, M_time_tm_t &tm) noexcept
{
	M_time_systemtime_t   ust;
	SYSTEMTIME            utc;
	SYSTEMTIME            local;
	TIME_ZONE_INFORMATION tzi;
	bool                  ok = M_time_to_systemtime(t, &ust);
	if (ok) {
		static_assert(sizeof(ust) == sizeof(utc), "SYSTEMTIME layout");
		std::memcpy(&utc, &ust, sizeof(utc));
		ok = zone_for_year(utc.wYear, tzi) && SystemTimeToTzSpecificLocalTime(&tzi, &utc, &local);
	}
	const M_time_t lt = ok ? from_systemtime(local, ok) : 0;
	if (!ok) {
		/* Outside the system's range (before 1601, after 30827): the UTC
		 * reading with the daylight flag unknown. */
		M_time_togm(t, &tm);
		tm.isdst = -1;
		return;
	}
	const M_time_t offset  = lt - t;
	const bool     has_dst = tzi.DaylightDate.wMonth != 0 && tzi.DaylightBias != tzi.StandardBias;
	const bool     in_dst  = has_dst && offset == -static_cast<M_time_t>(tzi.Bias + tzi.DaylightBias) * 60;
	M_time_togm(lt, &tm);
	tm.gmtoff = offset;
	tm.isdst  = in_dst ? 1 : 0;
	name_into(tm, in_dst ? tzi.DaylightName : tzi.StandardName);
	M_time_normalize_tm(&tm);
}

bool host_fromlocal(const M_time_tm_t &tm, M_time_t &out) noexcept
{
	if (tm.year < 1601 || tm.year > 30827)
		return false;
	SYSTEMTIME local = {};
	local.wYear      = static_cast<WORD>(tm.year);
	local.wMonth     = static_cast<WORD>(tm.month);
	local.wDay       = static_cast<WORD>(tm.day);
	local.wHour      = static_cast<WORD>(tm.hour);
	local.wMinute    = static_cast<WORD>(tm.min);
	local.wSecond    = static_cast<WORD>(tm.sec);
	TIME_ZONE_INFORMATION tzi;
	SYSTEMTIME            utc;
	if (!zone_for_year(local.wYear, tzi) || !TzSpecificLocalTimeToSystemTime(&tzi, &local, &utc))
		return false;
	bool ok = false;
	out     = from_systemtime(utc, ok);
	return ok;
}

} // namespace m::detail
