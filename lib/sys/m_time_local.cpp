/* Local time: conversions with a caller's zone object or the host's zone.
 *
 * With a zone object only its two operations are used: adjust_tolocal
 * (UTC -> offset, daylight flag, name) and adjust_fromlocal (local reading
 * -> offset to UTC). Without one, the host's zone applies
 * (m_time_local_posix.cpp, m_time_local_win.cpp).
 *
 * The calendar fields are always produced by the library's own UTC
 * arithmetic (M_time_togm of the local count), so local and UTC readings
 * share one calendar implementation; the host only supplies the offset.
 *
 * Zone rules in the Windows form (zone_rules_t) are applied here by
 * arithmetic: the Windows half reads a year's rules from the system once
 * into a zone_years_t and converts every time of that year without asking
 * the system again. The decisions follow the system's own conversions:
 * UTC to local takes daylight time when the time read in local daylight
 * time is before the end date and the time read in local standard time is
 * at or after the start date (either one, where daylight time spans the
 * turn of the year); local to UTC compares the local reading with both
 * dates directly, so the repeated and the skipped hour read as daylight.
 */
#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include "core/m_mem.h"

namespace {

/* The SYSTEMTIME years, as local seconds: 1601-01-01 00:00:00 to
 * 30827-12-31 23:59:59; a converted time may go on to the last second of
 * a FILETIME (in September 30828), as the system's conversions allow. */
constexpr M_time_t kSystemtimeFirst = -11644473600LL;
constexpr M_time_t kSystemtimeLast  = 910670515199LL;
constexpr M_time_t kFiletimeLast    = 910692730085LL;

/* The seconds of a UTC calendar reading, and the year of a second count:
 * the library's own calendar arithmetic. */
M_time_t seconds_of(int64_t year, int64_t month, int64_t day, int64_t hour = 0, int64_t min = 0, int64_t sec = 0)
{
	M_time_tm_t tm = {};
	tm.year        = year;
	tm.month       = month;
	tm.day         = day;
	tm.hour        = hour;
	tm.min         = min;
	tm.sec         = sec;
	return M_time_fromgm(&tm);
}

int64_t year_of(M_time_t t)
{
	M_time_tm_t tm;
	M_time_togm(t, &tm);
	return tm.year;
}

bool in_systemtime(M_time_t t, M_time_t last = kSystemtimeLast)
{
	return t >= kSystemtimeFirst && t <= last;
}

/* The rules as the system accepts them: without daylight time any, with it
 * both dates, weekday rules counting weeks 1 to 5. */
bool rules_usable(const m::detail::zone_rules_t &z)
{
	if (!z.ok)
		return false;
	if (z.dst_date.wMonth == 0)
		return true;
	if (z.std_date.wMonth == 0)
		return false;
	return z.std_date.wYear != 0 ||
	       (z.std_date.wDay >= 1 && z.std_date.wDay <= 5 && z.dst_date.wDay >= 1 && z.dst_date.wDay <= 5);
}

/* Daylight time from the two comparisons: between the dates in the north,
 * outside them (across the turn of the year) in the south. */
bool daylight_of(const m::detail::zone_rules_t &z, bool before_end, bool after_start)
{
	if (z.dst_date.wMonth < z.std_date.wMonth)
		return before_end && after_start;
	return before_end || after_start;
}

/* The offset (seconds east of UTC) of a UTC time t by usable rules z. */
M_time_t utc_offset(const m::detail::zone_rules_t &z, M_time_t t)
{
	if (z.dst_date.wMonth == 0)
		return -static_cast<M_time_t>(z.bias) * 60;
	/* The year of the local reading without either bias decides which
	 * year's dates apply; a reading that falls into another year is before
	 * or after both dates. */
	const int64_t  year   = year_of(t - static_cast<M_time_t>(z.bias) * 60);
	const M_time_t in_dst = t - static_cast<M_time_t>(z.bias + z.dst_bias) * 60;
	const M_time_t in_std = t - static_cast<M_time_t>(z.bias + z.std_bias) * 60;
	const bool     before_end =
        year_of(in_dst) == year ? in_dst < m::detail::zone_transition(year, z.std_date) : year_of(in_dst) < year;
	const bool after_start =
	    year_of(in_std) == year ? in_std >= m::detail::zone_transition(year, z.dst_date) : year_of(in_std) > year;
	const int32_t extra = daylight_of(z, before_end, after_start) ? z.dst_bias : z.std_bias;
	return -static_cast<M_time_t>(z.bias + extra) * 60;
}

/* Fill tm from t with a zone object (step 2 of the local reading). */
void tolocal_tz(M_time_t t, M_time_tm_t &tm, const M_time_tz_t &tz)
{
	M_bool      isdst  = M_FALSE;
	const char *name   = nullptr;
	M_time_t    offset = 0;

	if (tz.adjust_tolocal != nullptr)
		offset = tz.adjust_tolocal(tz.data, t, &isdst, &name);
	M_time_togm(t + offset, &tm);
	tm.gmtoff = offset;
	tm.isdst  = isdst ? 1 : 0;
	m::detail::set_abbr(tm, name);
}

} // namespace

namespace m::detail {

void set_abbr(M_time_tm_t &tm, const char *name) noexcept
{
	size_t i = 0;

	if (name != nullptr) {
		for (; i < sizeof(tm.abbr) - 1 && name[i] != '\0'; i++)
			tm.abbr[i] = name[i];
	}
	tm.abbr[i] = '\0';
}

M_time_t zone_transition(int64_t year, const M_time_systemtime_t &rule) noexcept
{
	int64_t day = rule.wDay;
	if (rule.wYear == 0) {
		/* The first such weekday of the month, then whole weeks; a fifth
		 * week the month does not have is its last such weekday. */
		M_time_tm_t first;
		M_time_togm(seconds_of(year, rule.wMonth, 1), &first);
		day = 1 + (rule.wDayOfWeek - first.wday + 7) % 7 + 7 * (static_cast<int64_t>(rule.wDay) - 1);
		if (day > M_time_days_in_month(year, rule.wMonth))
			day -= 7;
	}
	/* Milliseconds past a whole second move the change to the next one. */
	return seconds_of(year, rule.wMonth, day, rule.wHour, rule.wMinute, rule.wSecond) +
	       (rule.wMilliseconds != 0 ? 1 : 0);
}

bool zone_tolocal(const zone_rules_t &z, M_time_t t, M_time_tm_t &tm) noexcept
{
	if (!in_systemtime(t) || !rules_usable(z))
		return false;
	const M_time_t offset = utc_offset(z, t);
	if (!in_systemtime(t + offset, kFiletimeLast))
		return false;
	const bool has_dst = z.dst_date.wMonth != 0 && z.dst_bias != z.std_bias;
	const bool in_dst  = has_dst && offset == -static_cast<M_time_t>(z.bias + z.dst_bias) * 60;
	M_time_togm(t + offset, &tm);
	tm.gmtoff = offset;
	tm.isdst  = in_dst ? 1 : 0;
	set_abbr(tm, in_dst ? z.dst_name : z.std_name);
	return true;
}

bool zone_fromlocal(const zone_rules_t &z, M_time_t local, M_time_t &out) noexcept
{
	if (!in_systemtime(local) || !rules_usable(z))
		return false;
	int32_t bias = z.bias;
	if (z.dst_date.wMonth != 0) {
		const int64_t year        = year_of(local);
		const bool    before_end  = local < zone_transition(year, z.std_date);
		const bool    after_start = local >= zone_transition(year, z.dst_date);
		bias += daylight_of(z, before_end, after_start) ? z.dst_bias : z.std_bias;
	}
	out = local + static_cast<M_time_t>(bias) * 60;
	return in_systemtime(out, kFiletimeLast);
}

zone_years_t::~zone_years_t()
{
	for (auto &slot : m_years)
		M_free(slot.exchange(nullptr));
}

const zone_rules_t *zone_years_t::of_year(int64_t year) noexcept
{
	if (year < kFirstYear || year > kLastYear)
		return nullptr;
	std::atomic<zone_rules_t *> &slot = m_years[year - kFirstYear];
	if (const zone_rules_t *z = slot.load(std::memory_order_acquire); z != nullptr)
		return z;
	const std::lock_guard<std::mutex> hold(m_lock);
	zone_rules_t                     *z = slot.load(std::memory_order_relaxed);
	if (z == nullptr) {
		z = static_cast<zone_rules_t *>(M_malloc_zero(sizeof(*z)));
		m_reader(static_cast<int>(year), *z);
		slot.store(z, std::memory_order_release);
	}
	return z;
}

} // namespace m::detail

extern "C" {

void M_time_tolocal(M_time_t t, M_time_tm_t *tm, const M_time_tz_t *tz)
{
	if (tm == nullptr)
		return;
	M_mem_set(tm, 0, sizeof(*tm));
	if (tz != nullptr)
		tolocal_tz(t, *tm, *tz);
	else
		m::detail::host_tolocal(t, *tm);
}

M_time_t M_time_fromlocal(M_time_tm_t *tm, const M_time_tz_t *tz)
{
	M_time_t t = 0;

	if (tm == nullptr)
		return 0;

	if (tz != nullptr) {
		/* Read the fields as if UTC, keep the caller's daylight flag for the
		 * zone's local-to-UTC operation, then apply its offset. */
		const int64_t  isdst = tm->isdst;
		const M_time_t u     = M_time_fromgm(tm);
		tm->isdst            = isdst;
		t                    = u;
		if (tz->adjust_fromlocal != nullptr)
			t += tz->adjust_fromlocal(tz->data, tm);
		M_mem_set(tm, 0, sizeof(*tm));
		tolocal_tz(t, *tm, *tz);
		return t;
	}

	M_time_tm_t copy = *tm;
	(void)M_time_fromgm(&copy);
	if (!m::detail::host_fromlocal(copy, t))
		t = 0;
	M_mem_set(tm, 0, sizeof(*tm));
	m::detail::host_tolocal(t, *tm);
	return t;
}

} // extern "C"
