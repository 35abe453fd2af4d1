/* The time module: calendar arithmetic against the C library's (POSIX), known
 * local readings (every host), Windows-form zone rules against the C library's
 * reading of the same rules (Linux), FILETIME forms and the stopwatch. */
#include "tests/test_util.h"

#include "sys/m_time.h"
#include "sys/m_time_int.h"

#include <array>
#include <atomic>
#include <thread>

namespace {

M_time_tm_t make_tm(int64_t y, int64_t mo, int64_t d, int64_t h = 0, int64_t mi = 0, int64_t s = 0)
{
	return M_time_tm_t{mo, d, y, 0, h, mi, s, 0, 0, 0, 0, {}};
}

/* All fields of a reading in one value, so a difference shows every field. */
using fields_t = std::array<int64_t, 11>;

fields_t fields(const M_time_tm_t &tm)
{
	return fields_t{tm.year, tm.month, tm.day,   tm.hour,  tm.min,   tm.sec,
	                tm.wday, tm.yday,  tm.year2, tm.isdst, tm.gmtoff};
}

#if M_TEST_POSIX /* the C library is the calendar's oracle (Windows' gmtime stops at the year 3000) */
fields_t ref_fields_of(const struct tm &r)
{
	const int64_t y = r.tm_year + int64_t{1900};
	return fields_t{y,         r.tm_mon + 1,          r.tm_mday,  r.tm_hour,  r.tm_min, r.tm_sec, r.tm_wday,
	                r.tm_yday, (y % 100 + 100) % 100, r.tm_isdst, r.tm_gmtoff};
}

void expect_gmtime(M_time_t t)
{
	M_time_tm_t  tm;
	struct tm    ref;
	const time_t tt = static_cast<time_t>(t);
	M_time_togm(t, &tm);
	ASSERT_NE(gmtime_r(&tt, &ref), nullptr) << t;
	ASSERT_EQ(fields(tm), ref_fields_of(ref)) << "t=" << t;
	ASSERT_EQ(tm.abbr[0], '\0');
}
#endif

using test_util::TzGuard;

TEST(m_time, month_lengths_and_valid_days)
{
	const struct {
		int64_t year, month;
		int     days;
	} cases[] = {{2016, 2, 29}, {2100, 2, 28}, {2000, 2, 29}, {2018, 13, 0}, {2018, 0, 0}, {2018, 4, 30}};
	for (const auto &c : cases) {
		EXPECT_EQ(M_time_days_in_month(c.year, c.month), c.days) << c.year << "-" << c.month;
		for (int64_t d : {int64_t{0}, int64_t{1}, int64_t{c.days}, int64_t{c.days + 1}})
			EXPECT_EQ(M_time_is_valid_day(c.year, c.month, d), d >= 1 && d <= c.days) << c.year << "-" << c.month;
	}
}

#if M_TEST_POSIX /* the C library's calendar as the oracle */
TEST(m_time, togm_matches_the_c_library)
{
	/* Hour boundaries 1850 to 2150 (every day, leap days included), random
	 * times across about +-3000 years, and each second around the epoch. */
	for (M_time_t t = -3786825600LL; t < 5680281600LL; t += 3599)
		expect_gmtime(t);
	std::mt19937_64                        rng(12345);
	std::uniform_int_distribution<int64_t> wide(-100000000000LL, 100000000000LL);
	for (int i = 0; i < 1500000; i++)
		expect_gmtime(wide(rng));
	for (M_time_t t = -200000; t < 200000; t++)
		expect_gmtime(t);
}

TEST(m_time, fromgm_normalises_as_the_c_library)
{
	/* Out-of-range fields carried in both directions over years and months. */
	std::mt19937_64                    rng(4242);
	std::uniform_int_distribution<int> year(1, 4000), mon(-40, 40), day(-1500, 1500), hour(-100, 100),
	    minute(-5000, 5000), sec(-200000, 200000);
	for (int i = 0; i < 300000; i++) {
		struct tm r {};
		r.tm_year      = year(rng) - 1900;
		r.tm_mon       = mon(rng);
		r.tm_mday      = day(rng);
		r.tm_hour      = hour(rng);
		r.tm_min       = minute(rng);
		r.tm_sec       = sec(rng);
		M_time_tm_t tm = make_tm(r.tm_year + 1900, r.tm_mon + 1, r.tm_mday, r.tm_hour, r.tm_min, r.tm_sec);
		ASSERT_EQ(M_time_fromgm(&tm), timegm(&r)) << "iteration " << i;
		ASSERT_EQ(fields(tm), ref_fields_of(r));
	}
}
#endif

TEST(m_time, extremes_round_trip_without_overflow)
{
	const struct {
		M_time_t t;
		int64_t  y, mo, d, h, mi, s;
	} cases[] = {{INT64_MAX, 292277026596LL, 12, 4, 15, 30, 7}, {INT64_MIN, -292277022657LL, 1, 27, 8, 29, 52}};
	for (const auto &c : cases) {
		M_time_tm_t tm;
		M_time_togm(c.t, &tm);
		EXPECT_EQ(std::vector<int64_t>({tm.year, tm.month, tm.day, tm.hour, tm.min, tm.sec}),
		          std::vector<int64_t>({c.y, c.mo, c.d, c.h, c.mi, c.s}));
		EXPECT_EQ(M_time_fromgm(&tm), c.t);
	}
}

/* Walks longer than the random ones: 366 days over a short February,
 * three 400-year cycles. */
TEST(m_time, fromgm_long_walks)
{
	const struct {
		M_time_tm_t in;
		int64_t     y, mo, d;
	} cases[] = {{make_tm(2016, 12, 367), 2017, 12, 2},
	             {make_tm(2017, 3, -365), 2016, 2, 29},
	             {make_tm(2000, 1, 146097 * 3 + 1), 3200, 1, 1},
	             {make_tm(2018, -12, 1), 2016, 12, 1}};
	for (const auto &c : cases) {
		M_time_tm_t tm = c.in;
		M_time_t    t  = M_time_fromgm(&tm);
		M_time_tm_t n  = make_tm(c.y, c.mo, c.d);
		EXPECT_EQ(M_time_fromgm(&n), t) << c.y << "-" << c.mo << "-" << c.d;
		EXPECT_EQ(fields(tm), fields(n));
	}
}

TEST(m_time, filetime_and_systemtime)
{
	/* Times beyond 32 bits and before 1601 (negative FILETIME). */
	for (M_time_t t : {0LL, -1LL, 2147483648LL, 253402300799LL, -2147483649LL, -11644473600LL, -11644473601LL,
	                   -30000000000LL, 910692730085LL}) {
		M_time_filetime_t ft;
		M_timeval_t       tv;
		M_time_to_filetime(t, &ft);
		EXPECT_EQ(M_time_filetime_to_int64(&ft), t * 10000000 + 116444736000000000LL) << t;
		EXPECT_EQ(M_time_from_filetime(&ft), t) << t;
		M_time_timeval_from_filetime(&ft, &tv);
		EXPECT_EQ(tv.sec, t);
		EXPECT_EQ(tv.usec, 0);
	}
	M_time_filetime_t ft;

	/* Fractions: before 1970 the microseconds stay in range. */
	const struct {
		int64_t ticks, sec, usec;
	} fractions[] = {{12345678, 1, 234567}, {-15000000, -2, 500000}};
	for (const auto &f : fractions) {
		M_timeval_t tv;
		M_time_filetime_from_int64(116444736000000000LL + f.ticks, &ft);
		M_time_timeval_from_filetime(&ft, &tv);
		EXPECT_EQ(tv.sec, f.sec);
		EXPECT_EQ(tv.usec, f.usec);
	}
	M_timeval_t tv{5, 5};
	M_time_timeval_from_filetime(nullptr, &tv); /* NULL time reads as 0, not "unchanged" */
	EXPECT_EQ(tv.sec + tv.usec, 0);

	M_time_systemtime_t st;
	ASSERT_TRUE(M_time_to_systemtime(4102444799LL, &st)); /* 2099-12-31 23:59:59, Thursday */
	EXPECT_EQ(std::vector<int>(
	              {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek, st.wMilliseconds}),
	          std::vector<int>({2099, 12, 31, 23, 59, 59, 4, 0}));
	EXPECT_FALSE(M_time_to_systemtime(-11644473601LL, &st));
	EXPECT_EQ(st.wYear, 0);
	EXPECT_FALSE(M_time_to_systemtime(INT64_MAX, &st));
}

TEST(m_time, timeval32_clamping)
{
	const struct {
		int64_t sec, usec;
		bool    neg;
		int32_t esec, eusec;
	} cases[] = {{-5, -6, false, 0, 0},
	             {-5, -6, true, -5, -6},
	             {3000000000LL, 999999, false, INT32_MAX, 999999},
	             {INT64_MAX, INT64_MIN, true, INT32_MAX, INT32_MIN}};
	for (const auto &c : cases) {
		M_timeval_t        tv{c.sec, c.usec};
		M_time_timeval32_t out;
		M_time_M_timeval_t_to_struct_timeval(&tv, &out, c.neg);
		EXPECT_EQ(out.tv_sec, c.esec) << c.sec;
		EXPECT_EQ(out.tv_usec, c.eusec) << c.usec;
	}
	M_time_timeval32_t out{7, 7};
	M_time_M_timeval_t_to_struct_timeval(nullptr, &out, M_TRUE); /* NULL reads as 0 */
	EXPECT_EQ(out.tv_sec + out.tv_usec, 0);
}

TEST(m_time, clock_and_stopwatch)
{
	M_timeval_t start;
	M_time_elapsed_start(&start);
	start.sec += 100000; /* a start in the future would be negative: 0 */
	EXPECT_EQ(M_time_elapsed(&start), 0u);

	const M_timeval_t x{10, 999999}, y{12, 1000};
	EXPECT_EQ(M_time_timeval_diff(&x, &y), 1002); /* (12 - 10) * 1000 + 1 - 999 */
	EXPECT_EQ(M_time_timeval_diff(&y, &x), -1002);
}

/* The zone the process was started in (TZ in its environment; the build
 * runs this test once for each zone below): known readings around daylight
 * changes, in 1970 and in a year of older rules, and back. */
TEST(m_time, local_known_values_in_the_process_zone)
{
	struct row {
		M_time_t t;
		int64_t  y, mo, d, h, mi, s, gmtoff, isdst;
	};
	const std::vector<std::pair<std::string, std::vector<row>>> zones = {
	    {"UTC", {{1705320000, 2024, 1, 15, 12, 0, 0, 0, 0}, {0, 1970, 1, 1, 0, 0, 0, 0, 0}}},
	    {"Europe/Berlin",
	     {{0, 1970, 1, 1, 1, 0, 0, 3600, 0},
	      {2531955599, 2050, 3, 27, 1, 59, 59, 3600, 0},
	      {2531955600, 2050, 3, 27, 3, 0, 0, 7200, 1},
	      {2550704400, 2050, 10, 30, 2, 0, 0, 3600, 0},
	      {1705320000, 2024, 1, 15, 13, 0, 0, 3600, 0},
	      {1721044800, 2024, 7, 15, 14, 0, 0, 7200, 1}}},
	    {"America/New_York",
	     {{1710053999, 2024, 3, 10, 1, 59, 59, -18000, 0},
	      {1710054000, 2024, 3, 10, 3, 0, 0, -14400, 1},
	      {1730613600, 2024, 11, 3, 1, 0, 0, -18000, 0},
	      {0, 1969, 12, 31, 19, 0, 0, -18000, 0},
	      {1143892800, 2006, 4, 1, 7, 0, 0, -18000, 0}, /* before daylight time began in April, until 2006 */
	      {2256292800, 2041, 7, 1, 8, 0, 0, -14400, 1}}},
	    {"Australia/Sydney", /* daylight time across the turn of the year */
	     {{1712419199, 2024, 4, 7, 2, 59, 59, 39600, 1},
	      {1712419200, 2024, 4, 7, 2, 0, 0, 36000, 0},
	      {1728143999, 2024, 10, 6, 1, 59, 59, 36000, 0},
	      {1728144000, 2024, 10, 6, 3, 0, 0, 39600, 1}}},
	    {"Asia/Kolkata",
	     {{1705320000, 2024, 1, 15, 17, 30, 0, 19800, 0}, {1721044800, 2024, 7, 15, 17, 30, 0, 19800, 0}}},
	};
	const char *tz = std::getenv("TZ");
	const auto  it =
	    std::find_if(zones.begin(), zones.end(), [&](const auto &z) { return tz != nullptr && z.first == tz; });
	if (it == zones.end())
		GTEST_SKIP() << "no known values for TZ=" << (tz != nullptr ? tz : "(unset)");
	for (const row &r : it->second) {
		M_time_tm_t tm;
		M_time_tolocal(r.t, &tm, nullptr);
		EXPECT_EQ(std::vector<int64_t>({tm.year, tm.month, tm.day, tm.hour, tm.min, tm.sec, tm.gmtoff, tm.isdst}),
		          std::vector<int64_t>({r.y, r.mo, r.d, r.h, r.mi, r.s, r.gmtoff, r.isdst}))
		    << tz << " " << r.t;
		EXPECT_NE(tm.abbr[0], '\0') << tz;
		/* Back: the same instant, but in the hour repeated when daylight time
		 * ends, where the zone may take the other reading. */
		M_time_tm_t    back = tm;
		const M_time_t t    = M_time_fromlocal(&back, nullptr);
		EXPECT_TRUE(t == r.t || t == r.t - 3600 || t == r.t + 3600) << tz << " " << r.t;
	}
	/* Beyond the system's calendar: the UTC reading, daylight flag unknown;
	 * a local time it cannot convert gives 0 and the reading of 0. */
	M_time_tm_t tm;
	M_time_tolocal(INT64_MAX, &tm, nullptr);
	EXPECT_EQ(tm.isdst, -1);
	EXPECT_EQ(tm.gmtoff, 0);
	M_time_tm_t l = make_tm(4000000000LL, 1, 1);
	EXPECT_EQ(M_time_fromlocal(&l, nullptr), 0);
	EXPECT_EQ(l.year, 1970 - (it->second[0].gmtoff < 0));
}

/* A fixed-offset zone object: +1 hour, daylight always, an over-long name. */
M_time_t fixed_fromlocal(const void *data, const M_time_tm_t *)
{
	return -*static_cast<const M_time_t *>(data);
}

M_time_t fixed_tolocal(const void *data, M_time_t, M_bool *isdst, const char **abbr)
{
	*isdst = M_TRUE;
	*abbr  = "TST-with-a-name-much-longer-than-thirty-one-characters";
	return *static_cast<const M_time_t *>(data);
}

TEST(m_time, local_with_zone_object)
{
	const M_time_t    offset = 3600;
	const M_time_tz_t tz{&offset, fixed_fromlocal, fixed_tolocal};
	M_time_tm_t       tm;
	M_time_tolocal(0, &tm, &tz);
	EXPECT_EQ(tm.year * 100 + tm.hour, 197001);
	EXPECT_EQ(tm.gmtoff, 3600);
	EXPECT_EQ(tm.isdst, 1);
	EXPECT_EQ(std::string(tm.abbr), "TST-with-a-name-much-longer-tha"); /* cut to 31 */
	M_time_tm_t l = make_tm(1970, 1, 1, 1, 0, 0);
	EXPECT_EQ(M_time_fromlocal(&l, &tz), 0);
	EXPECT_EQ(l.hour, 1);
	EXPECT_EQ(l.gmtoff, 3600);

	/* A zone object without operations reads as UTC. */
	const M_time_tz_t empty{nullptr, nullptr, nullptr};
	M_time_tolocal(86400, &tm, &empty);
	EXPECT_EQ(tm.day, 2);
	EXPECT_EQ(tm.gmtoff + tm.isdst, 0);
	EXPECT_STREQ(tm.abbr, "");
	l = make_tm(1970, 1, 2);
	EXPECT_EQ(M_time_fromlocal(&l, &empty), 86400);
}

using m::detail::zone_rules_t;

/* Zone rules in the Windows form, with the same zone in POSIX form. */
struct rules_row {
	const char  *posix;
	zone_rules_t z;
};
const rules_row kRules[] = {
    {"EST5EDT,M3.2.0,M11.1.0", {true, 300, 0, -60, {0, 11, 0, 1, 2, 0, 0, 0}, {0, 3, 0, 2, 2, 0, 0, 0}, "EST", "EDT"}},
    {"AEST-10AEDT,M10.1.0,M4.1.0/3",
     {true, -600, 0, -60, {0, 4, 0, 1, 3, 0, 0, 0}, {0, 10, 0, 1, 2, 0, 0, 0}, "AEST", "AEDT"}},
    {"CET-1CEST,M3.5.0,M10.5.0/3",
     {true, -60, 0, -60, {0, 10, 0, 5, 3, 0, 0, 0}, {0, 3, 0, 5, 2, 0, 0, 0}, "CET", "CEST"}},
    {"IST-5:30", {true, -330, 0, 0, {}, {}, "IST", ""}},
};

/* The Windows half applies the rules the system gives for a year by
 * arithmetic. The hours a change skips or repeats read as daylight time
 * going back to UTC, as the system's conversion reads them. */
TEST(m_time, zone_rules_applied_as_the_system_applies_them)
{
	const struct {
		size_t   zone;
		int64_t  y, mo, d, h, mi;
		M_time_t utc;
	} back[] = {{0, 2024, 3, 10, 2, 30, 1710052200},  {0, 2024, 11, 3, 1, 30, 1730611800},
	            {1, 2024, 4, 7, 2, 30, 1712417400},   {1, 2024, 10, 6, 2, 30, 1728142200},
	            {2, 2050, 10, 30, 2, 30, 2550702600}, {3, 2024, 7, 1, 12, 0, 1719815400}};
	for (const auto &b : back) {
		M_time_tm_t tm = make_tm(b.y, b.mo, b.d, b.h, b.mi);
		M_time_t    t  = 0;
		EXPECT_TRUE(m::detail::zone_fromlocal(kRules[b.zone].z, M_time_fromgm(&tm), t));
		EXPECT_EQ(t, b.utc) << kRules[b.zone].posix << " " << b.y << "-" << b.mo << "-" << b.d;
	}
	/* Rules the system would refuse convert nothing: a sixth week, a start
	 * without an end, no rules read at all. */
	zone_rules_t bad  = kRules[0].z;
	bad.dst_date.wDay = 6;
	zone_rules_t none = kRules[0].z;
	none.std_date     = {};
	zone_rules_t unread{};
	for (const zone_rules_t &z : {bad, none, unread}) {
		M_time_tm_t tm{};
		M_time_t    t = 0;
		EXPECT_FALSE(m::detail::zone_tolocal(z, 0, tm));
		EXPECT_FALSE(m::detail::zone_fromlocal(z, 0, t));
	}
#if M_TEST_POSIX /* the C library's reading of the same rules as the oracle */
	for (const rules_row &r : kRules) {
		TzGuard tz(r.posix);
		for (int64_t year : {1970, 2024, 2041, 2100}) {
			M_time_tm_t    first = make_tm(year, 1, 1);
			const M_time_t start = M_time_fromgm(&first) - 86400;
			for (M_time_t t = start; t < start + 368 * 86400; t += 3600) {
				for (const M_time_t u : {t, t - 1}) {
					struct tm   ref;
					time_t      tt = static_cast<time_t>(u);
					M_time_tm_t tm{};
					ASSERT_NE(localtime_r(&tt, &ref), nullptr);
					ASSERT_TRUE(m::detail::zone_tolocal(r.z, u, tm)) << r.posix << " " << u;
					ASSERT_EQ(fields(tm), ref_fields_of(ref)) << r.posix << " " << u;
					ASSERT_STREQ(tm.abbr, ref.tm_zone);
					/* Back to the same instant, or an hour earlier (daylight
					 * time) for a reading the change to standard time repeats. */
					M_time_t b = 0;
					ASSERT_TRUE(m::detail::zone_fromlocal(r.z, u + tm.gmtoff, b));
					ASSERT_TRUE(b == u || (b == u - 3600 && tm.isdst == 0)) << r.posix << " " << u;
				}
			}
		}
	}
#endif
}

/* One table for the process: every year read once whatever the number of
 * threads asking, each thread given that year's record. */
TEST(m_time, zone_years_read_once_for_all_threads)
{
	static std::atomic<int>        reads{0};
	static m::detail::zone_years_t years([](int year, zone_rules_t &out) noexcept {
		reads++;
		out.bias = year;
	});
	std::atomic<int>               wrong{0};
	std::vector<std::thread>       threads;
	for (int i = 0; i < 4; i++) {
		threads.emplace_back([i, &wrong] {
			for (int k = 0; k <= 140; k++) {
				const int year = i % 2 == 0 ? 1960 + k : 2100 - k;
				wrong += years.of_year(year)->bias != year ? 1 : 0;
			}
		});
	}
	for (std::thread &t : threads)
		t.join();
	EXPECT_EQ(reads.load(), 141);
	EXPECT_EQ(wrong.load(), 0);
	EXPECT_EQ(years.of_year(1600), nullptr);
	EXPECT_EQ(years.of_year(30828), nullptr);
	EXPECT_NE(years.of_year(30827), nullptr);
}

} // namespace
