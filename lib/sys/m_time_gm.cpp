/* UTC calendar arithmetic: normalisation, M_time_togm, M_time_fromgm.
 *
 * Pure integer arithmetic over the proleptic Gregorian calendar; no C
 * library time function is used, so the results are the same on every host
 * and for times far outside the 32-bit range.
 *
 * Normalisation carries seconds, minutes and hours with floor division (a
 * negative value borrows from the next larger field), moves whole years out
 * of the day count, brings the month into range and finally walks the day
 * through the months. Two details differ from a literal "year walk on the
 * raw fields":
 *  - the month is brought into range BEFORE years are moved out of the day
 *    count, and the length of the year moved is the length of the twelve
 *    months actually crossed (which holds February of the next year when the
 *    month is March or later). Walking by the calendar year's length gave
 *    wrong dates, e.g. 2016-12-01 plus 366 days read as 2017-12-01;
 *  - year2 is set last, after the month and day walks may have changed the
 *    year (1970-01-01 minus one second is 1969, year2 69, not 70).
 * When the month is already January (always the case for M_time_togm) both
 * orders give identical results.
 *
 * Whole 400-year cycles (146,097 days, the same length from any starting
 * month) are moved by division before the year-by-year walk, so even the
 * extreme 64-bit times convert in constant time.
 */
#include "sys/m_time.h"

#include "core/m_mem.h"

namespace {

constexpr int32_t kMdays[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

/* Weekday of day number d since 1970-01-01 (a Thursday): wdaymap[d % 7] for
 * d >= 0, rwdaymap[(-d) % 7] for d < 0. */
constexpr int64_t kWdaymap[7]  = {4, 5, 6, 0, 1, 2, 3};
constexpr int64_t kRwdaymap[7] = {4, 3, 2, 1, 0, 6, 5};

constexpr int64_t kDaysPer400Years = 146097;
constexpr int64_t kSecsPerDay      = 86400;

constexpr bool is_leap(int64_t year)
{
	return (year % 400 == 0) || (year % 4 == 0 && year % 100 != 0);
}

static_assert(is_leap(2000) && is_leap(2016) && !is_leap(1900) && !is_leap(2100) && is_leap(-4) && is_leap(0));

constexpr int64_t year_len(int64_t year)
{
	return is_leap(year) ? 366 : 365;
}

/* Floor division and its non-negative remainder. */
constexpr void floor_divmod(int64_t v, int64_t d, int64_t &q, int64_t &r)
{
	q = v / d;
	r = v % d;
	if (r < 0) {
		r += d;
		q -= 1;
	}
}

/* Carry field into 0 .. base-1, moving the excess into next. */
void carry(int64_t &field, int64_t &next, int64_t base)
{
	int64_t q;
	int64_t r;
	floor_divmod(field, base, q, r);
	field = r;
	next += q;
}

/* Length of the twelve months starting at 0-based month m of year y. */
constexpr int64_t span_len(int64_t y, int64_t m)
{
	return year_len(m < 2 ? y : y + 1);
}

/* Steps 2-7 of normalisation on 1-based month and day. */
void normalize(M_time_tm_t &tm)
{
	int64_t month = tm.month - 1;
	int64_t day   = tm.day - 1;
	int64_t year  = tm.year;
	int64_t q;

	/* Seconds -> minutes -> hours -> days. */
	carry(tm.sec, tm.min, 60);
	carry(tm.min, tm.hour, 60);
	carry(tm.hour, day, 24);

	/* Month into 0..11, whole years of months into the year. */
	floor_divmod(month, 12, q, month);
	year += q;

	/* Whole 400-year cycles out of the day count. */
	q = day / kDaysPer400Years;
	day -= q * kDaysPer400Years;
	year += q * 400;

	/* Then single years: forward while the day count covers the next twelve
	 * months, backward while its magnitude covers the previous twelve. */
	for (;;) {
		if (day >= 0) {
			const int64_t len = span_len(year, month);
			if (day < len)
				break;
			day -= len;
			year++;
		} else {
			const int64_t len = span_len(year - 1, month);
			if (-day < len)
				break;
			day += len;
			year--;
		}
	}

	/* Walk the day through the months. */
	while (day >= kMdays[is_leap(year)][month]) {
		day -= kMdays[is_leap(year)][month];
		if (++month == 12) {
			month = 0;
			year++;
		}
	}
	while (day < 0) {
		if (--month == -1) {
			month = 11;
			year--;
		}
		day += kMdays[is_leap(year)][month];
	}

	tm.month = month + 1;
	tm.day   = day + 1;
	tm.year  = year;
	int64_t y2;
	floor_divmod(year, 100, q, y2);
	tm.year2 = y2;
}

/* Days from January 1 to the first of 1-based month m of year y. */
int64_t days_before_month(int64_t y, int64_t m)
{
	int64_t days = 0;
	for (int64_t i = 0; i < m - 1 && i < 12; i++)
		days += kMdays[is_leap(y)][i];
	return days;
}

} // namespace

extern "C" {

int M_time_days_in_month(int64_t year, int64_t month)
{
	if (month < 1 || month > 12)
		return 0;
	return kMdays[is_leap(year)][month - 1];
}

M_bool M_time_is_valid_day(int64_t year, int64_t month, int64_t day)
{
	const int len = M_time_days_in_month(year, month);
	return len != 0 && day >= 1 && day <= len;
}

void M_time_normalize_tm(M_time_tm_t *tm)
{
	if (tm == nullptr)
		return;
	normalize(*tm);
}

void M_time_togm(M_time_t t, M_time_tm_t *tm)
{
	int64_t days;
	int64_t rem;

	if (tm == nullptr)
		return;
	M_mem_set(tm, 0, sizeof(*tm));

	floor_divmod(t, kSecsPerDay, days, rem);
	tm->wday = days >= 0 ? kWdaymap[days % 7] : kRwdaymap[(-days) % 7];

	/* 1970-01-01 00:00:00 with all of t in the seconds field. The carry into
	 * minutes is split off here so that no field ever leaves the 64-bit
	 * range (t itself may be INT64_MIN). */
	tm->year  = 1970;
	tm->month = 1;
	tm->day   = 1 + days;
	tm->sec   = rem;
	normalize(*tm);

	tm->yday = tm->day - 1 + days_before_month(tm->year, tm->month);
}

M_time_t M_time_fromgm(M_time_tm_t *tm)
{
	if (tm == nullptr)
		return 0;
	normalize(*tm);

	/* Seconds from the start of tm's year. */
	int64_t t = ((days_before_month(tm->year, tm->month) + tm->day - 1) * 24 + tm->hour) * 60 + tm->min;
	t         = t * 60 + tm->sec;

	/* Whole years between 1970 and tm's year: 400-year cycles first, then
	 * one year at a time toward 1970. */
	int64_t       y     = tm->year;
	const int64_t cycle = kDaysPer400Years * kSecsPerDay;
	const int64_t n     = (y - 1970) / 400;
	t += n * cycle;
	y -= n * 400;
	while (y > 1970) {
		y--;
		t += year_len(y) * kSecsPerDay;
	}
	while (y < 1970) {
		t -= year_len(y) * kSecsPerDay;
		y++;
	}

	M_time_togm(t, tm);
	return t;
}

} // extern "C"
