#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "app/tokenexp.h"
#include "app/tokenexp_table.h"
#include "core/m_buf.h"
#include "formats/m_csv.h"
#include "tests/test_util.h"

namespace {

std::string write_cell(const std::string &cell, const char *header, bool *used = nullptr)
{
	M_buf_t *buf = M_buf_create();
	M_bool   ok  = cell_writer_cb(buf, cell.c_str(), header, nullptr);
	if (used != nullptr)
		*used = ok;
	std::string s(M_buf_len(buf) == 0 ? "" : M_buf_peek(buf), M_buf_len(buf));
	M_buf_cancel(buf);
	return s;
}

/* The Luhn digit computed the long way, over arbitrary-precision sums. */
char luhn_oracle(const std::string &digits)
{
	unsigned long long sum       = 0;
	bool               double_it = true;
	for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
		unsigned d = static_cast<unsigned>(*it - '0');
		if (double_it)
			d = d * 2 > 9 ? d * 2 - 9 : d * 2;
		sum += d;
		double_it = !double_it;
	}
	return static_cast<char>('0' + (9 * sum) % 10);
}

std::string local_date_oracle(long long t)
{
	const time_t tt = static_cast<time_t>(t);
	struct tm    tm {};
	localtime_r(&tt, &tm);
	char text[32];
	snprintf(text, sizeof(text), "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
	return text;
}

/* The run's table building state over a fresh buffer. */
struct Builder {
	tokenexp_opts_t  opts{};
	tokenexp_table_t t{};

	Builder()
	{
		t.table = M_buf_create();
		t.opts  = &opts;
	}
	~Builder()
	{
		tokenexp_table_clear(&t);
		M_buf_cancel(t.table);
	}
	bool add(const std::string &csv, bool first)
	{
		return tokenexp_table_add_block(&t, csv.data(), csv.size(), first ? M_TRUE : M_FALSE);
	}
	std::string text() const
	{
		return std::string(M_buf_len(t.table) == 0 ? "" : M_buf_peek(t.table), M_buf_len(t.table));
	}
};

} // namespace

TEST(tokenexp_table, luhn_digit_matches_the_long_sum)
{
	std::mt19937 rng(7);
	for (int i = 0; i < 2000; i++) {
		std::string digits(1 + rng() % 40, '0');
		for (char &c : digits)
			c = static_cast<char>('0' + rng() % 10);
		EXPECT_EQ(write_cell(digits, "token"), digits + luhn_oracle(digits)) << digits;
	}
}

/* A token cell long enough that 9 x (sum of the digits) no longer fits a
 * 32-bit signed integer still gets its true check digit. */
TEST(tokenexp_table, luhn_digit_of_a_very_long_token)
{
	const std::string nines(30000000, '9'); /* sum 270,000,000: 9 x sum > 2^31 */
	const std::string out = write_cell(nines, "token");
	ASSERT_EQ(out.size(), nines.size() + 1);
	EXPECT_EQ(out.back(), luhn_oracle(nines));
	EXPECT_EQ(out.back(), '0');
}

/* Each date cell is the local calendar date of its time: every hour of two
 * years and random times, in zones with daylight saving (30-minute shifts
 * included), odd offsets and offsets beyond 12 hours, in and out of order,
 * so that dates the writer has already seen are asked for again across
 * daylight-saving changes. */
TEST(tokenexp_table, dates_are_local_calendar_dates_in_every_zone)
{
	const char            *zones[] = {"UTC",
	                                  "America/New_York",
	                                  "Europe/London",
	                                  "Australia/Lord_Howe",
	                                  "Asia/Kathmandu",
	                                  "Pacific/Kiritimati",
	                                  "Pacific/Pago_Pago",
	                                  "America/St_Johns"};
	std::mt19937_64        rng(11);
	std::vector<long long> times;
	for (long long t = 1704067200 - 86400; t < 1704067200 + 2 * 366 * 86400; t += 3600)
		times.push_back(t + static_cast<long long>(rng() % 3600));
	for (int i = 0; i < 10000; i++)
		times.push_back(1 + static_cast<long long>(rng() % 4102444800ULL)); /* up to 2100 */
	std::vector<long long> shuffled = times;
	std::shuffle(shuffled.begin(), shuffled.end(), rng);

	const char *columns[] = {"bdate", "EDATE", "Last_Run", "next_run"};
	for (const char *zone : zones) {
		test_util::TzGuard z(zone);
		size_t             n = 0;
		for (const auto *list : {&times, &shuffled}) {
			for (long long t : *list) {
				const std::string cell = std::to_string(t);
				ASSERT_EQ(write_cell(cell, columns[n++ % 4]), local_date_oracle(t)) << zone << " " << t;
			}
		}
	}
}

/* Date cells are read in base 10 only, from leading whitespace and a sign
 * up to the first character that is not a digit. */
TEST(tokenexp_table, date_cells_as_numbers)
{
	test_util::TzGuard z("UTC");
	const struct {
		const char *cell;
		const char *out;
	} cases[] = {
	    {"0x10", ""},        /* reads 0: written empty */
	    {"010", "19700101"}, /* decimal, not octal */
	    {"\t +86400", "19700102"},
	    {"-0", ""},
	    {"86400.9", "19700102"},
	    {"18446744073709551615", "FAIL: Case 2"}, /* 2^64 - 1 is -1 as a signed value */
	    {"18446744073709551616", "FAIL: Case 1"}, /* overflow */
	    {"+", "FAIL: Case 1"},
	    {" ", "FAIL: Case 1"},
	};
	for (const auto &c : cases) {
		bool used = false;
		EXPECT_EQ(write_cell(c.cell, "bdate", &used), c.out) << c.cell;
		EXPECT_TRUE(used) << c.cell;
	}
}

TEST(tokenexp_table, date_switch_instants)
{
	/* New York: spring forward 2024-03-10 07:00 UTC, fall back 2024-11-03
	 * 06:00 UTC. */
	test_util::TzGuard z("America/New_York");
	const struct {
		long long   t;
		const char *date;
	} cases[] = {
	    {1710046799, "20240309"}, {1710046800, "20240310"}, {1710053999, "20240310"}, {1710054000, "20240310"},
	    {1710129599, "20240310"}, {1710129600, "20240311"}, {1730606400, "20241103"}, {1730613599, "20241103"},
	    {1730613600, "20241103"}, {1730696399, "20241103"}, {1730696400, "20241104"},
	};
	for (int round = 0; round < 2; round++) {
		for (const auto &c : cases)
			EXPECT_EQ(write_cell(std::to_string(c.t), "next_run"), c.date) << c.t << " round " << round;
	}
}

TEST(tokenexp_table, filter_reads_the_options_record)
{
	const char text[] = "user,expdate\nalice,202401\n,202401\nbob\n";
	M_csv_t   *csv    = M_csv_parse(text, sizeof(text) - 1, ',', '`', M_CSV_FLAG_NONE);
	ASSERT_NE(csv, nullptr);
	tokenexp_opts_t opts{};
	opts.user = "alice";
	EXPECT_TRUE(filter_cb(csv, 0, &opts));
	EXPECT_FALSE(filter_cb(csv, 1, &opts)); /* an absent user cell never equals a user */
	EXPECT_FALSE(filter_cb(csv, 2, &opts));
	opts.user    = nullptr;
	opts.exp_end = "202312";
	EXPECT_FALSE(filter_cb(csv, 0, &opts));
	EXPECT_TRUE(filter_cb(csv, 2, &opts)); /* no expdate: kept by -e alone */
	opts.exp_start = "";
	opts.exp_end   = "";
	EXPECT_TRUE(filter_cb(csv, 0, &opts));
	/* A table without the columns: nothing matches a user, expdates read
	 * as empty. */
	M_csv_t *other = M_csv_parse("a\n1\n", 4, ',', '`', M_CSV_FLAG_NONE);
	opts.exp_start = "000000";
	EXPECT_FALSE(filter_cb(other, 0, &opts));
	opts.exp_start = nullptr;
	opts.exp_end   = "000000";
	EXPECT_TRUE(filter_cb(other, 0, &opts));
	M_csv_destroy(other);
	M_csv_destroy(csv);
}

/* Expiry dates compare byte by byte as unsigned bytes, as strcmp orders
 * them: a cell starting with a byte above 0x7F sorts after every digit. */
TEST(tokenexp_table, expiry_dates_compare_as_unsigned_bytes)
{
	const char text[] = "expdate\n\xc3\xa9\n2024\n20240\n202401x\n";
	M_csv_t   *csv    = M_csv_parse(text, sizeof(text) - 1, ',', '`', M_CSV_FLAG_NONE);
	ASSERT_NE(csv, nullptr);
	auto kept = [&](const char *start, const char *end) {
		tokenexp_opts_t opts{};
		opts.exp_start = start;
		opts.exp_end   = end;
		std::string rows;
		for (size_t r = 0; r < M_csv_get_numrows(csv); r++)
			rows += filter_cb(csv, r, &opts) ? '1' : '0';
		return rows;
	};
	EXPECT_EQ(kept("202401", nullptr), "1001"); /* a prefix sorts first */
	EXPECT_EQ(kept(nullptr, "202401"), "0110");
	EXPECT_EQ(kept("202401", "202401"), "0000");
	M_csv_destroy(csv);
}

/* Blocks of the export join into one table: the first block's header row
 * gives the columns and is written once; a later section's columns are
 * matched by name; a continuation block is read with its own section's
 * header row. */
TEST(tokenexp_table, blocks_join_into_one_table)
{
	Builder b;
	ASSERT_TRUE(b.add("user,token,name\nalice,7992739871,`Doe, J`\n", true));
	ASSERT_TRUE(b.add("bob,0,x\n", false));
	/* A second section: columns reordered, "name" missing, "extra" added. */
	ASSERT_TRUE(b.add("extra,TOKEN,User\ne,12,carol\n", true));
	ASSERT_TRUE(b.add("f,34,dave\n", false));
	EXPECT_EQ(b.text(), "user,token,name\r\n"
	                    "alice,79927398713,\"Doe, J\"\r\n"
	                    "bob,00,x\r\n"
	                    "carol,125,\r\n"
	                    "dave,349,\r\n");
}

TEST(tokenexp_table, filters_apply_to_every_block)
{
	Builder b;
	b.opts.user   = "bob";
	b.opts.filter = filter_cb;
	ASSERT_TRUE(b.add("user,token\nalice,1\nbob,2\n", true));
	ASSERT_TRUE(b.add("bob,3\nBob,4\n", false));
	EXPECT_EQ(b.text(), "user,token\r\nbob,26\r\nbob,34\r\n");
}

TEST(tokenexp_table, header_only_and_empty_blocks)
{
	{
		Builder b;
		ASSERT_TRUE(b.add("user,token\n", true));
		EXPECT_EQ(b.text(), "user,token\r\n");
	}
	{
		/* A block without a table adds nothing and fixes no columns: the next
		 * section's first block does. */
		Builder b;
		EXPECT_FALSE(b.add("\r\r", true));
		EXPECT_FALSE(b.add("", false));
		EXPECT_EQ(b.text(), "");
		ASSERT_TRUE(b.add("token\n5\n", true));
		EXPECT_EQ(b.text(), "token\r\n59\r\n");
	}
	{
		/* A continuation whose section's first block held no table is read
		 * with the table's columns. */
		Builder b;
		ASSERT_TRUE(b.add("user,token\nalice,1\n", true));
		EXPECT_FALSE(b.add("\r", true));
		ASSERT_TRUE(b.add("bob,2\n", false));
		EXPECT_EQ(b.text(), "user,token\r\nalice,18\r\nbob,26\r\n");
	}
}

/* Columns of the first header row that have no name are written empty: the
 * table's cells are looked up by name. Blank names in a section's first block
 * keep the positions of that section's later blocks. */
TEST(tokenexp_table, unnamed_columns)
{
	Builder b;
	ASSERT_TRUE(b.add("user,,token\na,b,1\n", true));
	ASSERT_TRUE(b.add("c,d,2\n", false));
	EXPECT_EQ(b.text(), "user,,token\r\na,,18\r\nc,,26\r\n");
}
