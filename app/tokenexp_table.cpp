/* Token selection and table output. */
#include "app/tokenexp_table.h"

#include "core/m_str.h"
#include "core/m_str_num.h"
#include "sys/m_time.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

/* Luhn (mod 10) check digit of a string of decimal digits: starting from the
 * last digit, every second digit is doubled (9 taken off a doubled value
 * above 9); the digit is (9 * sum) mod 10. Only the sum's last decimal digit
 * matters, so it is kept modulo 10: a plain 32-bit sum would overflow on a
 * cell of some 27 million digits and give no digit at all. */
char luhn_check_digit(const char *digits, size_t len)
{
	uint32_t sum       = 0;
	bool     double_it = true;
	for (size_t i = len; i-- > 0;) {
		uint32_t d = static_cast<uint32_t>(digits[i] - '0');
		if (double_it) {
			d *= 2;
			if (d > 9)
				d -= 9;
		}
		sum += d;
		if (sum >= 10)
			sum -= 10;
		double_it = !double_it;
	}
	return static_cast<char>('0' + (9 * sum) % 10);
}

/* A date cell is nearly always 1 to 19 plain digits, which the number rules
 * read as exactly their decimal value (below 10^19, so no overflow). Those
 * are converted here; anything else (white space, a sign, more digits, a
 * trailing non-digit) is left to M_str_to_uint64_ex. */
bool plain_number(const char *s, uint64_t *value)
{
	uint64_t v = 0;
	size_t   i = 0;
	for (; i < 19 && s[i] >= '0' && s[i] <= '9'; i++)
		v = v * 10 + static_cast<uint64_t>(s[i] - '0');
	if (i == 0 || s[i] != '\0')
		return false;
	*value = v;
	return true;
}

/* Columns the writer rewrites, by name without regard to case. The first
 * letter settles most columns without a full comparison: the writer runs
 * once per cell of a table of millions of rows. */
enum class column_kind : uint8_t { other, token, date };

column_kind kind_of(const char *header)
{
	if (header == nullptr)
		return column_kind::other;
	switch (header[0]) {
		case 't':
		case 'T':
			return M_str_caseeq(header, "token") ? column_kind::token : column_kind::other;
		case 'b':
		case 'B':
		case 'e':
		case 'E':
		case 'l':
		case 'L':
		case 'n':
		case 'N':
			return (M_str_caseeq(header, "bdate") || M_str_caseeq(header, "edate") ||
			        M_str_caseeq(header, "last_run") || M_str_caseeq(header, "next_run"))
			           ? column_kind::date
			           : column_kind::other;
		default:
			return column_kind::other;
	}
}

/* Local dates of recently seen days. Converting a time to local calendar
 * time costs a zone lookup; a token table holds millions of date cells over
 * a few thousand days, so each local day is converted once (per thread): the UTC range
 * [lo, hi] of a day whose start, end and the converted second share one UTC
 * offset all map to the same date. The cache is dropped when TZ changes.
 * Measured with the zone's rules read once per process on both hosts, a run
 * without this cache took 1.3 to 2 times as long (bench_export.py --exe);
 * a cache per thread needs no lock and fills in a few milliseconds, so it
 * stays one per thread rather than one shared. */
struct day_entry_t {
	M_time_t lo;
	M_time_t hi;
	char     text[8];
	bool     used;
};

constexpr size_t kDaySlots = 4096;

struct day_cache_t {
	day_entry_t slots[kDaySlots];
	char        tz[128];   /* its text */
	bool        tz_set;    /* TZ was set then */
	bool        tz_cached; /* tz/tz_set describe the cache's zone */
};

/* One cache per thread: the rows of blocks are written on worker threads. */
thread_local day_cache_t g_days;

size_t day_slot(M_time_t t)
{
	const M_time_t day = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
	return static_cast<size_t>(static_cast<uint64_t>(day) % kDaySlots);
}

/* Drop the cache when the zone setting differs from the one it was made in. */
void check_zone()
{
	const char  *tz  = getenv("TZ");
	const bool   set = tz != nullptr;
	const size_t len = set ? std::strlen(tz) : 0;
	if (g_days.tz_cached && set == g_days.tz_set &&
	    (!set || (len < sizeof(g_days.tz) && std::memcmp(tz, g_days.tz, len + 1) == 0)))
		return;
	std::memset(g_days.slots, 0, sizeof(g_days.slots));
	g_days.tz_cached = len < sizeof(g_days.tz);
	g_days.tz_set    = set;
	if (set && len < sizeof(g_days.tz))
		std::memcpy(g_days.tz, tz, len + 1);
}

const day_entry_t *find_day(M_time_t t)
{
	const size_t here = day_slot(t);
	const size_t prev = (here + kDaySlots - 1) % kDaySlots;
	for (size_t slot : {here, prev}) {
		const day_entry_t &e = g_days.slots[slot];
		if (e.used && t >= e.lo && t <= e.hi)
			return &e;
	}
	return nullptr;
}

bool same_day(const M_time_tm_t &a, const M_time_tm_t &b)
{
	return a.year == b.year && a.month == b.month && a.day == b.day && a.gmtoff == b.gmtoff;
}

/* Write t as the local date YYYYMMDD (the time of day is not written). */
void write_local_date(M_buf_t *buf, M_time_t t, tokenexp_writer_ctx_t *ctx)
{
	if (ctx == nullptr || !ctx->zone_ok) {
		check_zone();
		if (ctx != nullptr)
			ctx->zone_ok = M_TRUE;
	}
	if (const day_entry_t *hit = find_day(t); hit != nullptr) {
		M_buf_add_bytes(buf, hit->text, sizeof(hit->text));
		return;
	}

	M_time_tm_t tm;
	std::memset(&tm, 0, sizeof(tm));
	M_time_tolocal(t, &tm, nullptr);
	const size_t start = M_buf_len(buf);
	M_buf_add_int_just(buf, tm.year, 4);
	M_buf_add_int_just(buf, tm.month, 2);
	M_buf_add_int_just(buf, tm.day, 2);

	if (!g_days.tz_cached || M_buf_len(buf) - start != 8 || t < INT64_MIN / 2 || t > INT64_MAX / 2)
		return;
	const M_time_t lo = t - (tm.hour * 3600 + tm.min * 60 + tm.sec);
	const M_time_t hi = lo + 86399;
	M_time_tm_t    a;
	M_time_tm_t    b;
	std::memset(&a, 0, sizeof(a));
	std::memset(&b, 0, sizeof(b));
	M_time_tolocal(lo, &a, nullptr);
	M_time_tolocal(hi, &b, nullptr);
	if (!same_day(a, tm) || !same_day(b, tm))
		return;
	day_entry_t &e = g_days.slots[day_slot(lo)];
	e.lo           = lo;
	e.hi           = hi;
	e.used         = true;
	std::memcpy(e.text, M_buf_peek(buf) + start, sizeof(e.text));
}

} // namespace

namespace {

/* Why a row is left out; a row that fails both filters counts under -u. */
enum class row_verdict : uint8_t { keep, user, date };

row_verdict judge_row(const M_csv_t *table, size_t row, const tokenexp_opts_t *opts)
{
	if (opts == nullptr)
		return row_verdict::keep;

	if (!M_str_isempty(opts->user) && !M_str_eq(M_csv_get_cell(table, row, "user"), opts->user))
		return row_verdict::user;

	if (M_str_isempty(opts->exp_start) && M_str_isempty(opts->exp_end))
		return row_verdict::keep;

	const char *expdate = M_csv_get_cell(table, row, "expdate");
	if (expdate == nullptr)
		expdate = "";
	if (!M_str_isempty(opts->exp_start) && M_str_cmpsort(expdate, opts->exp_start) < 0)
		return row_verdict::date;
	if (!M_str_isempty(opts->exp_end) && M_str_cmpsort(expdate, opts->exp_end) > 0)
		return row_verdict::date;
	return row_verdict::keep;
}

/* The row filter of one block's output, counting what it leaves out. */
struct counting_filter_t {
	const tokenexp_opts_t *opts;
	tokenexp_row_counts_t *counts;
};

M_bool counting_filter_cb(const M_csv_t *table, size_t row, void *thunk)
{
	const auto *f = static_cast<const counting_filter_t *>(thunk);
	switch (judge_row(table, row, f->opts)) {
		case row_verdict::keep:
			return M_TRUE;
		case row_verdict::user:
			f->counts->left_user++;
			return M_FALSE;
		case row_verdict::date:
			f->counts->left_date++;
			return M_FALSE;
	}
	return M_TRUE;
}

} // namespace

M_bool filter_cb(const M_csv_t *table, size_t row, void *thunk)
{
	return judge_row(table, row, static_cast<const tokenexp_opts_t *>(thunk)) == row_verdict::keep;
}

namespace {

/* The column's kind, remembered by the name's address for one output call. */
column_kind cached_kind_of(const char *header, tokenexp_writer_ctx_t *ctx)
{
	if (ctx == nullptr)
		return kind_of(header);
	for (size_t i = 0; i < ctx->count; i++) {
		if (ctx->names[i] == header)
			return static_cast<column_kind>(ctx->kinds[i]);
	}
	const column_kind kind = kind_of(header);
	if (ctx->count < M_ARRAY_LEN(ctx->names)) {
		ctx->names[ctx->count] = header;
		ctx->kinds[ctx->count] = static_cast<uint8_t>(kind);
		ctx->count++;
	}
	return kind;
}

} // namespace

M_bool cell_writer_cb(M_buf_t *buf, const char *cell, const char *header, void *thunk)
{
	auto *ctx = static_cast<tokenexp_writer_ctx_t *>(thunk);
	if (M_str_isempty(cell))
		return M_FALSE;

	const column_kind kind = cached_kind_of(header, ctx);
	if (kind == column_kind::token) {
		const size_t len = std::strlen(cell);
		if (!M_str_isnum_max(cell, len))
			return M_FALSE;
		M_buf_add_bytes(buf, cell, len);
		M_buf_add_byte(buf, static_cast<unsigned char>(luhn_check_digit(cell, len)));
		return M_TRUE;
	}

	if (kind != column_kind::date)
		return M_FALSE;

	uint64_t value = 0;
	if (!plain_number(cell, &value) &&
	    M_str_to_uint64_ex(cell, std::strlen(cell), 10, &value, nullptr) != M_STR_INT_SUCCESS) {
		M_buf_add_str(buf, "FAIL: Case 1");
		return M_TRUE;
	}
	if (static_cast<int64_t>(value) < 0) {
		M_buf_add_str(buf, "FAIL: Case 2");
		return M_TRUE;
	}
	if (value == 0)
		return M_TRUE;
	write_local_date(buf, static_cast<M_time_t>(value), ctx);
	return M_TRUE;
}

namespace {

/* Header row of a parsed block as a list; absent names become empty so the
 * positions stay those of the columns. */
M_list_str_t *header_list(const M_csv_t *csv, bool keep_positions)
{
	M_list_str_t *list = M_list_str_create(M_LIST_STR_NONE);
	const size_t  cols = M_csv_raw_num_cols(csv);
	for (size_t c = 0; c < cols; c++) {
		const char *name = M_csv_get_header(csv, c);
		if (name == nullptr && keep_positions)
			name = "";
		M_list_str_insert(list, name);
	}
	return list;
}

} // namespace

M_list_str_t *tokenexp_header_list(const M_csv_t *csv, M_bool keep_positions)
{
	return header_list(csv, keep_positions);
}

M_csv_t *tokenexp_parse_block(char *csv, size_t len, const M_list_str_t *header_row)
{
	return M_csv_parse_borrow(csv, len, ',', '`', M_CSV_FLAG_NONE, header_row);
}

tokenexp_row_counts_t tokenexp_append_rows(M_buf_t *out, M_csv_t *parsed, const M_list_str_t *columns,
                                           tokenexp_opts_t *opts)
{
	M_csv_output_set_control_chars(parsed, ',', '"');
	tokenexp_writer_ctx_t ctx;
	std::memset(&ctx, 0, sizeof(ctx));
	tokenexp_row_counts_t counts{};
	counts.read = M_csv_get_numrows(parsed);
	/* Without a filter every row is kept: nothing to count per row. */
	counting_filter_t filter{opts, &counts};
	M_csv_output_rows_buf_direct(out, parsed, columns, opts->filter != nullptr ? counting_filter_cb : nullptr, &filter,
	                             cell_writer_cb, &ctx);
	counts.kept = counts.read - counts.left_user - counts.left_date;
	return counts;
}
