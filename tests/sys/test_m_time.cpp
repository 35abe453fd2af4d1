/* Tests for the time module: calendar arithmetic against the C library,
 * normalisation, FILETIME forms, the stopwatch, local conversions under two
 * TZ settings and the zone-name table. */
#include <gtest/gtest.h>

#include "sys/m_time.h"
#include "tests/test_util.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <set>
#include <string>

namespace {

M_time_tm_t make_tm(int64_t y, int64_t mo, int64_t d, int64_t h = 0, int64_t mi = 0, int64_t s = 0)
{
	M_time_tm_t tm;
	std::memset(&tm, 0, sizeof(tm));
	tm.year  = y;
	tm.month = mo;
	tm.day   = d;
	tm.hour  = h;
	tm.min   = mi;
	tm.sec   = s;
	return tm;
}

int64_t floor_mod(int64_t a, int64_t b)
{
	int64_t r = a % b;
	return r < 0 ? r + b : r;
}

/* Compare M_time_togm(t) with the C library's reading. */
::testing::AssertionResult same_as_gmtime(M_time_t t)
{
	struct tm   ref;
	time_t      tt = static_cast<time_t>(t);
	M_time_tm_t tm;

	if (gmtime_r(&tt, &ref) == nullptr)
		return ::testing::AssertionFailure() << "gmtime_r failed for " << t;
	M_time_togm(t, &tm);
	const int64_t year = static_cast<int64_t>(ref.tm_year) + 1900;
	if (tm.year != year || tm.month != ref.tm_mon + 1 || tm.day != ref.tm_mday || tm.hour != ref.tm_hour ||
	    tm.min != ref.tm_min || tm.sec != ref.tm_sec || tm.wday != ref.tm_wday || tm.yday != ref.tm_yday ||
	    tm.year2 != floor_mod(year, 100) || tm.isdst != 0 || tm.gmtoff != 0 || tm.abbr[0] != '\0') {
		return ::testing::AssertionFailure()
		       << "t=" << t << " got " << tm.year << "-" << tm.month << "-" << tm.day << " " << tm.hour << ":" << tm.min
		       << ":" << tm.sec << " wday " << tm.wday << " yday " << tm.yday << " year2 " << tm.year2 << ", expected "
		       << year << "-" << ref.tm_mon + 1 << "-" << ref.tm_mday << " " << ref.tm_hour << ":" << ref.tm_min << ":"
		       << ref.tm_sec << " wday " << ref.tm_wday << " yday " << ref.tm_yday;
	}
	return ::testing::AssertionSuccess();
}

using test_util::TzGuard;

} // namespace

/* ---------------------------------------------------------------------------
 * Calendar basics
 * ------------------------------------------------------------------------- */

TEST(m_time, leap_years_and_month_lengths)
{
	struct {
		int64_t year, month;
		int     days;
	} const cases[] = {
	    {2016, 2, 29}, {2100, 2, 28}, {2000, 2, 29}, {1900, 2, 28},  {2400, 2, 29}, {2019, 2, 28}, {2018, 13, 0},
	    {2018, 0, 0},  {2018, 1, 31}, {2018, 4, 30}, {2018, 12, 31}, {-4, 2, 29},   {-100, 2, 28}, {0, 2, 29},
	};
	for (const auto &c : cases)
		EXPECT_EQ(M_time_days_in_month(c.year, c.month), c.days) << c.year << "-" << c.month;

	EXPECT_TRUE(M_time_is_valid_day(2000, 2, 29));
	EXPECT_TRUE(M_time_is_valid_day(2400, 2, 29));
	EXPECT_FALSE(M_time_is_valid_day(1900, 2, 29));
	EXPECT_FALSE(M_time_is_valid_day(2100, 2, 29));
	EXPECT_FALSE(M_time_is_valid_day(2018, 4, 31));
	EXPECT_FALSE(M_time_is_valid_day(2018, 4, 0));
	EXPECT_FALSE(M_time_is_valid_day(2018, 13, 1));
	EXPECT_TRUE(M_time_is_valid_day(2018, 12, 31));
}

TEST(m_time, togm_epoch_and_negative)
{
	M_time_tm_t tm;
	M_time_togm(0, &tm);
	EXPECT_EQ(tm.year, 1970);
	EXPECT_EQ(tm.month, 1);
	EXPECT_EQ(tm.day, 1);
	EXPECT_EQ(tm.hour, 0);
	EXPECT_EQ(tm.wday, 4);
	EXPECT_EQ(tm.yday, 0);
	EXPECT_EQ(tm.year2, 70);

	M_time_togm(-1, &tm);
	EXPECT_EQ(tm.year, 1969);
	EXPECT_EQ(tm.month, 12);
	EXPECT_EQ(tm.day, 31);
	EXPECT_EQ(tm.hour, 23);
	EXPECT_EQ(tm.min, 59);
	EXPECT_EQ(tm.sec, 59);
	EXPECT_EQ(tm.wday, 3);
	EXPECT_EQ(tm.yday, 364);
	/* year2 follows the year the walk ended in, not the starting year. */
	EXPECT_EQ(tm.year2, 69);

	M_time_togm(0, nullptr); /* ignored */
}

TEST(m_time, togm_matches_gmtime_sweep)
{
	/* Every hour boundary region from 1850 to 2150, plus millions of random
	 * times across about +-3000 years, negative ones included. */
	size_t checked = 0;
	for (M_time_t t = -3786825600LL; t < 5680281600LL; t += 3599) {
		ASSERT_TRUE(same_as_gmtime(t));
		checked++;
	}
	std::mt19937_64                        rng(12345);
	std::uniform_int_distribution<int64_t> wide(-100000000000LL, 100000000000LL);
	for (int i = 0; i < 1500000; i++) {
		ASSERT_TRUE(same_as_gmtime(wide(rng)));
		checked++;
	}
	/* Each second around the epoch and around leap days. */
	for (M_time_t t = -200000; t < 200000; t++)
		ASSERT_TRUE(same_as_gmtime(t));
	for (M_time_t t = 951782400 - 100000; t < 951782400 + 100000; t += 7) /* 2000-02-29 */
		ASSERT_TRUE(same_as_gmtime(t));
	EXPECT_GT(checked, 2000000u);
}

TEST(m_time, togm_extremes_do_not_overflow)
{
	M_time_tm_t tm;
	M_time_togm(INT64_MAX, &tm);
	EXPECT_EQ(tm.year, 292277026596LL);
	EXPECT_EQ(tm.month, 12);
	EXPECT_EQ(tm.day, 4);
	EXPECT_EQ(tm.hour, 15);
	EXPECT_EQ(tm.min, 30);
	EXPECT_EQ(tm.sec, 7);
	EXPECT_EQ(M_time_fromgm(&tm), INT64_MAX);

	M_time_togm(INT64_MIN, &tm);
	EXPECT_EQ(tm.year, -292277022657LL);
	EXPECT_EQ(tm.month, 1);
	EXPECT_EQ(tm.day, 27);
	EXPECT_EQ(tm.hour, 8);
	EXPECT_EQ(tm.min, 29);
	EXPECT_EQ(tm.sec, 52);
	EXPECT_EQ(M_time_fromgm(&tm), INT64_MIN);
}

TEST(m_time, fromgm_roundtrip_and_timegm)
{
	std::mt19937_64                        rng(777);
	std::uniform_int_distribution<int64_t> wide(-60000000000LL, 60000000000LL);
	for (int i = 0; i < 300000; i++) {
		const M_time_t t = wide(rng);
		M_time_tm_t    tm;
		M_time_togm(t, &tm);
		ASSERT_EQ(M_time_fromgm(&tm), t);
	}
}

/* ---------------------------------------------------------------------------
 * Normalisation
 * ------------------------------------------------------------------------- */

TEST(m_time, fromgm_normalises_out_of_range_fields)
{
	struct {
		M_time_tm_t in;
		int64_t     y, mo, d, h, mi, s;
	} const cases[] = {
	    {make_tm(2017, 13, 1), 2018, 1, 1, 0, 0, 0},
	    {make_tm(2018, 3, 0), 2018, 2, 28, 0, 0, 0},
	    {make_tm(2016, 3, 0), 2016, 2, 29, 0, 0, 0},
	    {make_tm(2000, 2, 29), 2000, 2, 29, 0, 0, 0},
	    {make_tm(2400, 2, 29), 2400, 2, 29, 0, 0, 0},
	    {make_tm(1900, 2, 29), 1900, 3, 1, 0, 0, 0},
	    {make_tm(2100, 2, 29), 2100, 3, 1, 0, 0, 0},
	    {make_tm(1970, 1, 1, 0, 0, -1), 1969, 12, 31, 23, 59, 59},
	    {make_tm(1970, 1, 1, -25, 0, 0), 1969, 12, 30, 23, 0, 0},
	    {make_tm(2018, 0, 1), 2017, 12, 1, 0, 0, 0},
	    {make_tm(2018, -11, 1), 2017, 1, 1, 0, 0, 0},
	    {make_tm(2018, -12, 1), 2016, 12, 1, 0, 0, 0},
	    {make_tm(2018, 25, 1), 2020, 1, 1, 0, 0, 0},
	    {make_tm(2018, 1, 1, 0, 0, 86400 * 365), 2019, 1, 1, 0, 0, 0},
	    {make_tm(2018, 1, 1, 0, -61, 0), 2017, 12, 31, 22, 59, 0},
	    {make_tm(2018, 1, 1, 0, 0, -3601), 2017, 12, 31, 22, 59, 59},
	    {make_tm(2018, 1, -364), 2017, 1, 1, 0, 0, 0},
	    {make_tm(2018, 1, -365), 2016, 12, 31, 0, 0, 0},
	    /* Twelve months from December 2016 hold 365 days (February 2017 is
		 * short): 2016-12-01 plus 366 days is 2017-12-02. */
	    {make_tm(2016, 12, 367), 2017, 12, 2, 0, 0, 0},
	    {make_tm(2016, 3, 366), 2017, 3, 1, 0, 0, 0},
	    {make_tm(2017, 3, -365), 2016, 2, 29, 0, 0, 0},
	    {make_tm(2000, 1, 146097 * 3 + 1), 3200, 1, 1, 0, 0, 0},
	};
	for (const auto &c : cases) {
		M_time_tm_t tm = c.in;
		M_time_t    t  = M_time_fromgm(&tm);
		EXPECT_EQ(tm.year, c.y) << c.in.year << "-" << c.in.month << "-" << c.in.day;
		EXPECT_EQ(tm.month, c.mo) << c.in.year << "-" << c.in.month << "-" << c.in.day;
		EXPECT_EQ(tm.day, c.d) << c.in.year << "-" << c.in.month << "-" << c.in.day;
		EXPECT_EQ(tm.hour, c.h);
		EXPECT_EQ(tm.min, c.mi);
		EXPECT_EQ(tm.sec, c.s);
		/* The result is the time of the normalised fields. */
		M_time_tm_t n = make_tm(c.y, c.mo, c.d, c.h, c.mi, c.s);
		EXPECT_EQ(M_time_fromgm(&n), t);
	}
	EXPECT_EQ(M_time_fromgm(nullptr), 0);
}

TEST(m_time, fromgm_matches_timegm_on_random_fields)
{
	/* timegm normalises out-of-range int fields too: an independent check of
	 * carries, year and month walking in both directions. */
	std::mt19937_64                    rng(4242);
	std::uniform_int_distribution<int> year(1, 4000), mon(-40, 40), day(-1500, 1500), hour(-100, 100),
	    minute(-5000, 5000), sec(-200000, 200000);
	for (int i = 0; i < 300000; i++) {
		struct tm ref;
		std::memset(&ref, 0, sizeof(ref));
		ref.tm_year     = year(rng) - 1900;
		ref.tm_mon      = mon(rng);
		ref.tm_mday     = day(rng);
		ref.tm_hour     = hour(rng);
		ref.tm_min      = minute(rng);
		ref.tm_sec      = sec(rng);
		M_time_tm_t  tm = make_tm(ref.tm_year + 1900, ref.tm_mon + 1, ref.tm_mday, ref.tm_hour, ref.tm_min, ref.tm_sec);
		const time_t expect = timegm(&ref);
		ASSERT_EQ(M_time_fromgm(&tm), static_cast<M_time_t>(expect)) << "iteration " << i;
		EXPECT_EQ(tm.year, ref.tm_year + 1900);
		EXPECT_EQ(tm.month, ref.tm_mon + 1);
		EXPECT_EQ(tm.day, ref.tm_mday);
		EXPECT_EQ(tm.wday, ref.tm_wday);
		EXPECT_EQ(tm.yday, ref.tm_yday);
	}
}

TEST(m_time, normalize_tm_keeps_wday_and_yday)
{
	M_time_tm_t tm = make_tm(2017, 14, 32, 25, 61, 61);
	tm.wday        = 99;
	tm.yday        = 77;
	M_time_normalize_tm(&tm);
	EXPECT_EQ(tm.year, 2018);
	EXPECT_EQ(tm.month, 3);
	EXPECT_EQ(tm.day, 5);
	EXPECT_EQ(tm.hour, 2);
	EXPECT_EQ(tm.min, 2);
	EXPECT_EQ(tm.sec, 1);
	EXPECT_EQ(tm.year2, 18);
	EXPECT_EQ(tm.wday, 99);
	EXPECT_EQ(tm.yday, 77);
	M_time_normalize_tm(nullptr); /* ignored */
}

/* ---------------------------------------------------------------------------
 * FILETIME and SYSTEMTIME
 * ------------------------------------------------------------------------- */

TEST(m_time, filetime_roundtrips_beyond_32_bits)
{
	const M_time_t times[] = {
	    0,
	    1,
	    -1,
	    2147483647LL,   /* 2038-01-19 03:14:07 */
	    2147483648LL,   /* one second later */
	    4102444800LL,   /* 2100-01-01 */
	    253402300799LL, /* 9999-12-31 23:59:59 */
	    -2147483648LL,  /* 1901-12-13 20:45:52 */
	    -2147483649LL,  /* one second earlier */
	    -5000000000LL,  /* 1811 */
	    -11644473600LL, /* 1601-01-01, FILETIME 0 */
	    -11644473601LL, /* before 1601: negative FILETIME */
	    -30000000000LL,
	    910692730085LL, /* near the FILETIME's top */
	};
	for (M_time_t t : times) {
		M_time_filetime_t ft;
		M_time_to_filetime(t, &ft);
		const int64_t ticks = M_time_filetime_to_int64(&ft);
		EXPECT_EQ(ticks, t * 10000000 + 116444736000000000LL) << t;
		EXPECT_EQ(M_time_from_filetime(&ft), t) << t;

		M_timeval_t tv;
		M_time_timeval_from_filetime(&ft, &tv);
		EXPECT_EQ(tv.sec, t);
		EXPECT_EQ(tv.usec, 0);
	}

	M_time_filetime_t ft;
	M_time_filetime_from_int64(116444736000000000LL, &ft);
	EXPECT_EQ(M_time_from_filetime(&ft), 0);
	EXPECT_EQ(ft.dwHighDateTime, 0x019DB1DEu);
	EXPECT_EQ(ft.dwLowDateTime, 0xD53E8000u);
	EXPECT_EQ(M_time_from_filetime(nullptr), 0);
	EXPECT_EQ(M_time_filetime_to_int64(nullptr), 0);
	M_time_to_filetime(0, nullptr);
	M_time_filetime_from_int64(0, nullptr);
}

TEST(m_time, timeval_from_filetime_fractions)
{
	M_time_filetime_t ft;
	M_timeval_t       tv;

	M_time_filetime_from_int64(116444736000000000LL + 12345678, &ft);
	M_time_timeval_from_filetime(&ft, &tv);
	EXPECT_EQ(tv.sec, 1);
	EXPECT_EQ(tv.usec, 234567);

	/* Before 1970 the microseconds stay in range. */
	M_time_filetime_from_int64(116444736000000000LL - 10, &ft);
	M_time_timeval_from_filetime(&ft, &tv);
	EXPECT_EQ(tv.sec, -1);
	EXPECT_EQ(tv.usec, 999999);
	M_time_filetime_from_int64(116444736000000000LL - 15000000, &ft);
	M_time_timeval_from_filetime(&ft, &tv);
	EXPECT_EQ(tv.sec, -2);
	EXPECT_EQ(tv.usec, 500000);

	tv.sec  = 5;
	tv.usec = 5;
	M_time_timeval_from_filetime(nullptr, &tv);
	EXPECT_EQ(tv.sec, 0);
	EXPECT_EQ(tv.usec, 0);
	M_time_timeval_from_filetime(&ft, nullptr);
}

TEST(m_time, systemtime)
{
	M_time_systemtime_t st;
	ASSERT_TRUE(M_time_to_systemtime(4102444799LL, &st)); /* 2099-12-31 23:59:59, Thursday */
	EXPECT_EQ(st.wYear, 2099);
	EXPECT_EQ(st.wMonth, 12);
	EXPECT_EQ(st.wDay, 31);
	EXPECT_EQ(st.wHour, 23);
	EXPECT_EQ(st.wMinute, 59);
	EXPECT_EQ(st.wSecond, 59);
	EXPECT_EQ(st.wDayOfWeek, 4);
	EXPECT_EQ(st.wMilliseconds, 0);

	ASSERT_TRUE(M_time_to_systemtime(-11644473600LL, &st)); /* 1601-01-01, Monday */
	EXPECT_EQ(st.wYear, 1601);
	EXPECT_EQ(st.wMonth, 1);
	EXPECT_EQ(st.wDay, 1);
	EXPECT_EQ(st.wDayOfWeek, 1);

	EXPECT_FALSE(M_time_to_systemtime(-11644473601LL, &st));
	EXPECT_EQ(st.wYear, 0);
	EXPECT_FALSE(M_time_to_systemtime(INT64_MAX, &st));
	EXPECT_FALSE(M_time_to_systemtime(0, nullptr));
}

TEST(m_time, timeval32_clamping)
{
	struct {
		int64_t sec, usec;
		bool    neg;
		int32_t esec, eusec;
	} const cases[] = {
	    {5, 6, false, 5, 6},
	    {-5, -6, false, 0, 0},
	    {-5, -6, true, -5, -6},
	    {3000000000LL, 999999, false, INT32_MAX, 999999},
	    {-3000000000LL, 1, true, INT32_MIN, 1},
	    {-3000000000LL, 1, false, 0, 1},
	    {INT64_MAX, INT64_MIN, true, INT32_MAX, INT32_MIN},
	};
	for (const auto &c : cases) {
		M_timeval_t        tv{c.sec, c.usec};
		M_time_timeval32_t out;
		M_time_M_timeval_t_to_struct_timeval(&tv, &out, c.neg);
		EXPECT_EQ(out.tv_sec, c.esec);
		EXPECT_EQ(out.tv_usec, c.eusec);
	}
	M_time_timeval32_t out{7, 7};
	M_time_M_timeval_t_to_struct_timeval(nullptr, &out, M_TRUE);
	EXPECT_EQ(out.tv_sec, 0);
	EXPECT_EQ(out.tv_usec, 0);
	M_time_M_timeval_t_to_struct_timeval(nullptr, nullptr, M_TRUE);
	EXPECT_EQ(M_time_M_time_t_to_time_t(-12345), static_cast<time_t>(-12345));
}

/* ---------------------------------------------------------------------------
 * Clock and stopwatch
 * ------------------------------------------------------------------------- */

TEST(m_time, clock_reads_current_time)
{
	const time_t   before = time(nullptr);
	const M_time_t now    = M_time();
	M_timeval_t    tv;
	M_time_gettimeofday(&tv);
	const time_t after = time(nullptr);
	EXPECT_GE(now, before);
	EXPECT_LE(now, after);
	EXPECT_GE(tv.sec, before);
	EXPECT_LE(tv.sec, after);
	EXPECT_GE(tv.usec, 0);
	EXPECT_LT(tv.usec, 1000000);
	M_time_gettimeofday(nullptr);
}

TEST(m_time, stopwatch_never_negative)
{
	M_timeval_t start;
	M_time_elapsed_start(&start);
	EXPECT_GE(start.usec, 0);
	EXPECT_LT(start.usec, 1000000);
	const uint64_t a = M_time_elapsed(&start);
	const uint64_t b = M_time_elapsed(&start);
	EXPECT_LE(a, b);

	/* A start reading in the future would give a negative interval: 0. */
	M_timeval_t future = start;
	future.sec += 100000;
	EXPECT_EQ(M_time_elapsed(&future), 0u);
	EXPECT_EQ(M_time_elapsed(nullptr), 0u);
	M_time_elapsed_start(nullptr);
}

TEST(m_time, timeval_diff)
{
	const M_timeval_t a{10, 999999};
	const M_timeval_t b{12, 1000};
	/* (12 - 10) * 1000 + 1 - 999 */
	EXPECT_EQ(M_time_timeval_diff(&a, &b), 1002);
	EXPECT_EQ(M_time_timeval_diff(&b, &a), -1002);
	EXPECT_EQ(M_time_timeval_diff(nullptr, &a), 0);
	EXPECT_EQ(M_time_timeval_diff(&a, nullptr), 0);
}

/* ---------------------------------------------------------------------------
 * Local time
 * ------------------------------------------------------------------------- */

TEST(m_time, local_new_york_rules)
{
	TzGuard tz("EST5EDT,M3.2.0,M11.1.0");

	M_time_tm_t tm;
	M_time_tolocal(1625140800, &tm, nullptr); /* 2021-07-01 12:00 UTC */
	EXPECT_EQ(tm.year, 2021);
	EXPECT_EQ(tm.month, 7);
	EXPECT_EQ(tm.day, 1);
	EXPECT_EQ(tm.hour, 8);
	EXPECT_EQ(tm.isdst, 1);
	EXPECT_EQ(tm.gmtoff, -4 * 3600);
	EXPECT_STREQ(tm.abbr, "EDT");

	M_time_tolocal(1610712000, &tm, nullptr); /* 2021-01-15 12:00 UTC */
	EXPECT_EQ(tm.hour, 7);
	EXPECT_EQ(tm.isdst, 0);
	EXPECT_EQ(tm.gmtoff, -5 * 3600);
	EXPECT_STREQ(tm.abbr, "EST");

	/* Back from local: 2021-07-01 08:00 local. */
	M_time_tm_t l = make_tm(2021, 7, 1, 8, 0, 0);
	EXPECT_EQ(M_time_fromlocal(&l, nullptr), 1625140800);
	EXPECT_EQ(l.hour, 8);
	EXPECT_EQ(l.isdst, 1);
	EXPECT_STREQ(l.abbr, "EDT");

	/* Out-of-range local fields are normalised: 2021-06-30 32:00. */
	l = make_tm(2021, 6, 30, 32, 0, 0);
	EXPECT_EQ(M_time_fromlocal(&l, nullptr), 1625140800);
	EXPECT_EQ(l.day, 1);
	EXPECT_EQ(l.month, 7);
}

TEST(m_time, local_berlin_rules)
{
	TzGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");

	M_time_tm_t tm;
	M_time_tolocal(1625140800, &tm, nullptr); /* 2021-07-01 12:00 UTC */
	EXPECT_EQ(tm.hour, 14);
	EXPECT_EQ(tm.isdst, 1);
	EXPECT_EQ(tm.gmtoff, 7200);
	EXPECT_STREQ(tm.abbr, "CEST");

	M_time_tolocal(1610712000, &tm, nullptr); /* 2021-01-15 12:00 UTC */
	EXPECT_EQ(tm.hour, 13);
	EXPECT_EQ(tm.isdst, 0);
	EXPECT_EQ(tm.gmtoff, 3600);
	EXPECT_STREQ(tm.abbr, "CET");

	/* New Year's Eve crossing: 2020-12-31 23:30 UTC is 2021-01-01 local. */
	M_time_tolocal(1609457400, &tm, nullptr);
	EXPECT_EQ(tm.year, 2021);
	EXPECT_EQ(tm.month, 1);
	EXPECT_EQ(tm.day, 1);
	EXPECT_EQ(tm.hour, 0);
	EXPECT_EQ(tm.min, 30);
	EXPECT_EQ(tm.yday, 0);
	EXPECT_EQ(tm.year2, 21);

	M_time_tolocal(0, nullptr, nullptr); /* ignored */
	EXPECT_EQ(M_time_fromlocal(nullptr, nullptr), 0);
}

TEST(m_time, local_matches_localtime_sweep)
{
	const char *zones[] = {"EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3", "IST-5:30"};
	for (const char *z : zones) {
		TzGuard tz(z);
		for (M_time_t t = -2000000000LL; t < 4000000000LL; t += 86400 * 3 + 3607) {
			struct tm   ref;
			time_t      tt = static_cast<time_t>(t);
			M_time_tm_t tm;
			ASSERT_NE(localtime_r(&tt, &ref), nullptr);
			M_time_tolocal(t, &tm, nullptr);
			ASSERT_EQ(tm.year, ref.tm_year + 1900) << z << " " << t;
			ASSERT_EQ(tm.month, ref.tm_mon + 1);
			ASSERT_EQ(tm.day, ref.tm_mday);
			ASSERT_EQ(tm.hour, ref.tm_hour);
			ASSERT_EQ(tm.min, ref.tm_min);
			ASSERT_EQ(tm.wday, ref.tm_wday);
			ASSERT_EQ(tm.gmtoff, ref.tm_gmtoff);
			ASSERT_EQ(tm.isdst, ref.tm_isdst);
			/* And back: the same instant, except in the repeated hour of a
			 * change back to standard time, where the zone may choose the
			 * other reading of the same wall-clock time. */
			M_time_tm_t    back = tm;
			const M_time_t r    = M_time_fromlocal(&back, nullptr);
			if (r != t) {
				ASSERT_EQ(r > t ? r - t : t - r, 3600) << z << " " << t;
				ASSERT_EQ(back.hour, tm.hour);
				ASSERT_EQ(back.min, tm.min);
			}
		}
	}
}

TEST(m_time, local_outside_host_range)
{
	TzGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");

	/* The host's calendar year is an int: beyond it the UTC reading comes
	 * back with the daylight flag unknown. */
	M_time_tm_t tm;
	M_time_tolocal(INT64_MAX, &tm, nullptr);
	EXPECT_EQ(tm.year, 292277026596LL);
	EXPECT_EQ(tm.isdst, -1);
	EXPECT_EQ(tm.gmtoff, 0);

	/* A local time the host cannot convert yields 0, and tm is the local
	 * reading of 0. */
	M_time_tm_t l = make_tm(4000000000LL, 1, 1);
	EXPECT_EQ(M_time_fromlocal(&l, nullptr), 0);
	EXPECT_EQ(l.year, 1970);
	EXPECT_EQ(l.hour, 1);
	EXPECT_EQ(l.gmtoff, 3600);
}

namespace {

/* A fixed-offset zone object: +1 hour, name "TST", daylight always. */
M_time_t fixed_fromlocal(const void *data, const M_time_tm_t *tm)
{
	(void)tm;
	return -*static_cast<const M_time_t *>(data);
}

M_time_t fixed_tolocal(const void *data, M_time_t gmt, M_bool *isdst, const char **abbr)
{
	(void)gmt;
	*isdst = M_TRUE;
	*abbr  = "TST-with-a-name-much-longer-than-thirty-one-characters";
	return *static_cast<const M_time_t *>(data);
}

} // namespace

TEST(m_time, local_with_zone_object)
{
	const M_time_t    offset = 3600;
	const M_time_tz_t tz{&offset, fixed_fromlocal, fixed_tolocal};

	M_time_tm_t tm;
	M_time_tolocal(0, &tm, &tz);
	EXPECT_EQ(tm.year, 1970);
	EXPECT_EQ(tm.hour, 1);
	EXPECT_EQ(tm.gmtoff, 3600);
	EXPECT_EQ(tm.isdst, 1);
	EXPECT_EQ(std::strlen(tm.abbr), 31u);
	EXPECT_EQ(std::string(tm.abbr),
	          std::string("TST-with-a-name-much-longer-than-thirty-one-characters").substr(0, 31));

	M_time_tm_t l = make_tm(1970, 1, 1, 1, 0, 0);
	EXPECT_EQ(M_time_fromlocal(&l, &tz), 0);
	EXPECT_EQ(l.hour, 1);
	EXPECT_EQ(l.gmtoff, 3600);

	/* A zone object without operations reads as UTC. */
	const M_time_tz_t empty{nullptr, nullptr, nullptr};
	M_time_tolocal(86400, &tm, &empty);
	EXPECT_EQ(tm.day, 2);
	EXPECT_EQ(tm.gmtoff, 0);
	EXPECT_EQ(tm.isdst, 0);
	EXPECT_STREQ(tm.abbr, "");
	l = make_tm(1970, 1, 2);
	EXPECT_EQ(M_time_fromlocal(&l, &empty), 86400);
}

/* ---------------------------------------------------------------------------
 * Zone-name table
 * ------------------------------------------------------------------------- */

TEST(m_time, zone_map_shape)
{
	const std::map<std::string, uint32_t> regions = {
	    {"Africa", M_TIME_TZ_REGION_AFRICA},
	    {"America", M_TIME_TZ_REGION_AMERICA},
	    {"Antarctica", M_TIME_TZ_REGION_ANTARCTICA},
	    {"Arctic", M_TIME_TZ_REGION_ARCTIC},
	    {"Asia", M_TIME_TZ_REGION_ASIA},
	    {"Atlantic", M_TIME_TZ_REGION_ATLANTIC},
	    {"Australia", M_TIME_TZ_REGION_AUSTRALIA},
	    {"Europe", M_TIME_TZ_REGION_EUROPE},
	    {"Indian", M_TIME_TZ_REGION_INDIAN},
	    {"Pacific", M_TIME_TZ_REGION_PACIFIC},
	    {"Etc", M_TIME_TZ_REGION_ETC},
	};
	std::set<std::string>       windows;
	std::map<std::string, int>  mains;
	size_t                      rows = 0;
	const M_time_tz_zone_map_t *prev = nullptr;
	for (const M_time_tz_zone_map_t *r = M_time_tz_zone_map; r->zone_name != nullptr; r++, rows++) {
		ASSERT_NE(r->windows_name, nullptr);
		if (prev != nullptr) {
			EXPECT_LT(std::strcmp(prev->zone_name, r->zone_name), 0) << r->zone_name;
		}
		prev                    = r;
		const std::string name  = r->zone_name;
		const std::string first = name.substr(0, name.find('/'));
		ASSERT_TRUE(regions.count(first)) << name;
		EXPECT_EQ(r->region, regions.at(first)) << name;
		windows.insert(r->windows_name);
		EXPECT_LE(r->main, 1u);
		mains[r->windows_name] += static_cast<int>(r->main);
	}
	const M_time_tz_zone_map_t &end = M_time_tz_zone_map[rows];
	EXPECT_EQ(end.windows_name, nullptr);
	EXPECT_EQ(end.region, 0u);
	EXPECT_EQ(end.main, 0u);
	/* A fixed shape: 428 rows over 100 Windows names, whatever the version
	 * of the data the table was taken from. */
	EXPECT_EQ(rows, 428u);
	EXPECT_EQ(windows.size(), 100u);
	EXPECT_EQ(mains.size(), 100u);
	for (const auto &m : mains)
		EXPECT_EQ(m.second, 1) << m.first;
}

TEST(m_time, zone_map_known_rows)
{
	struct {
		const char *zone, *windows;
		uint32_t    main;
	} const cases[] = {
	    {"Africa/Abidjan", "Greenwich Standard Time", 0},
	    {"America/New_York", "Eastern Standard Time", 1},
	    {"America/Detroit", "Eastern Standard Time", 0},
	    {"Europe/Berlin", "W. Europe Standard Time", 1},
	    {"Europe/Zurich", "W. Europe Standard Time", 0},
	    {"Atlantic/Reykjavik", "Greenwich Standard Time", 1},
	    {"Etc/UTC", "UTC", 1},
	    {"Asia/Tokyo", "Tokyo Standard Time", 1},
	};
	for (const auto &c : cases) {
		const M_time_tz_zone_map_t *r = M_time_tz_zone_map;
		while (r->zone_name != nullptr && std::strcmp(r->zone_name, c.zone) != 0)
			r++;
		ASSERT_NE(r->zone_name, nullptr) << c.zone;
		EXPECT_STREQ(r->windows_name, c.windows);
		EXPECT_EQ(r->main, c.main) << c.zone;
	}
}
