/* The program's own parts below what the end-to-end tests see byte for byte:
 * the Luhn digit of a huge token, the local dates against an oracle, the
 * expiry filter's byte order, the pool (on one thread and on many, the table
 * it makes of blocks whose header rows come from other blocks, as gpg
 * decrypts it), and the memory a damaged export may cost. */
#include "tests/pgp/pgp_test_util.h"

#include <tuple>

#include <zlib.h>

#include "app/tokenexp.h"
#include "app/tokenexp_export.h"
#include "app/tokenexp_pool.h"
#include "app/tokenexp_report.h"
#include "app/tokenexp_table.h"
#include "formats/m_bincodec.h"
#include "formats/m_csv.h"
#include "fs/m_fs_file.h"

namespace {

/* One cell as the table writes it; used tells whether the writer took it. */
std::string write_cell(const std::string &cell, const char *header, bool *used = nullptr)
{
	M_buf_t *buf = M_buf_create();
	M_bool   ok  = cell_writer_cb(buf, cell.c_str(), header, nullptr);
	if (used != nullptr)
		*used = ok;
	return test_util::take(buf);
}

} // namespace

/* Digit-only token cells get their check digit, whatever the case of the
 * column's name; a token so long that 9 x (sum of its digits) no longer fits
 * 32 bits too. Anything else is left to the output unchanged. (The end-to-end
 * tests check random tokens against a Luhn sum of their own, and the other
 * cells.) */
TEST(tokenexp, luhn_digit_of_a_known_number_and_a_huge_token)
{
	EXPECT_EQ(write_cell("7992739871", "TOKEN"), "79927398713");
	/* Each 9 adds 9, doubled or not: 81 x 30,000,000 ends in 0. */
	const std::string nines(30000000, '9');
	const std::string out = write_cell(nines, "Token");
	ASSERT_EQ(out.size(), nines.size() + 1);
	EXPECT_EQ(out.back(), '0');
	bool used = true;
	EXPECT_EQ(write_cell("12a", "token", &used), "");
	EXPECT_FALSE(used) << "a token with a letter is left as it is";
}

/* Each date cell is the local calendar date of its time: every hour of two
 * years, the instants around New York's switches, and random times, in zones
 * with daylight saving (30-minute shifts included), odd offsets and offsets
 * beyond 12 hours, in and out of order, so that dates the writer has already
 * seen are asked for again across daylight-saving changes. Cells are read in
 * base 10 from leading white space and a sign up to the first non-digit. */
TEST(tokenexp, dates_are_local_calendar_dates_in_every_zone)
{
#if M_TEST_POSIX /* Linux only: the zone set in the process through TZ (Windows takes it from the system) */
	std::mt19937_64        rng(11);
	std::vector<long long> times;
	for (long long t = 1704067200 - 86400; t < 1704067200 + 2 * 366 * 86400; t += 3600)
		times.push_back(t + static_cast<long long>(rng() % 3600));
	for (long long t : {1710046800LL, 1710054000LL, 1710129600LL, 1730606400LL, 1730613600LL, 1730696400LL})
		for (long long d : {-1, 0})
			times.push_back(t + d);
	for (int i = 0; i < 10000; i++)
		times.push_back(1 + static_cast<long long>(rng() % 4102444800ULL)); /* up to 2100 */
	std::vector<long long> shuffled = times;
	std::shuffle(shuffled.begin(), shuffled.end(), rng);

	const auto local_date_oracle = [](long long t) {
		const time_t tt = static_cast<time_t>(t);
		struct tm    tm {};
		localtime_r(&tt, &tm);
		char text[32];
		snprintf(text, sizeof(text), "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
		return std::string(text);
	};
	const char *columns[] = {"bdate", "EDATE", "Last_Run", "next_run"};
	for (const char *zone : {"UTC", "America/New_York", "Europe/London", "Australia/Lord_Howe", "Asia/Kathmandu",
	                         "Pacific/Kiritimati", "Pacific/Pago_Pago", "America/St_Johns"}) {
		test_util::TzGuard z(zone);
		size_t             n = 0;
		for (const auto *list : {&times, &shuffled}) {
			for (long long t : *list)
				ASSERT_EQ(write_cell(std::to_string(t), columns[n++ % 4]), local_date_oracle(t)) << zone << " " << t;
		}
	}
#endif

	test_util::TzGuard                          utc("UTC");
	const std::pair<const char *, const char *> cells[] = {
	    {"-0", ""},          /* written empty */
	    {"010", "19700101"}, /* decimal, not octal */
	    {"\t +86400", "19700102"},
	    {"0000000000000086400", "19700102"},  /* 19 digits, leading zeros */
	    {"00000000000000086400", "19700102"}, /* 20 digits, no overflow */
	    {" ", "FAIL: Case 1"},
	    {"18446744073709551616", "FAIL: Case 1"}, /* overflow */
	    {"9223372036854775808", "FAIL: Case 2"},
	    {"9999999999999999999", "FAIL: Case 2"},  /* 19 digits, above 2^63 */
	    {"18446744073709551615", "FAIL: Case 2"}, /* 2^64 - 1 is -1 as a signed value */
	};
	for (const auto &[cell, want] : cells) {
		bool used = false;
		EXPECT_EQ(write_cell(cell, "bdate", &used), want) << cell;
		EXPECT_TRUE(used) << cell;
	}
}

/* Expiry dates compare byte by byte as unsigned bytes, as strcmp orders
 * them, and a missing one is empty (the end-to-end tests filter by user and
 * by ordinary dates). */
TEST(tokenexp, filter_by_user_and_expiry)
{
	const char text[] = "user,expdate\nalice,202401\nAlice,202412\nalice,202312\nalice,202501\nalice,\n,202405\n"
	                    "bob,\xc3\xa9\nbob,20240\nbob,202401x\nbob\n";
	M_csv_t   *csv    = M_csv_parse(text, sizeof(text) - 1, ',', '`', M_CSV_FLAG_NONE);
	M_csv_t   *other  = M_csv_parse("a\n1\n", 4, ',', '`', M_CSV_FLAG_NONE);
	ASSERT_TRUE(csv && other);
	auto kept = [&](M_csv_t *c, const char *user, const char *start, const char *end) {
		tokenexp_opts_t opts{};
		opts.user      = user;
		opts.exp_start = start;
		opts.exp_end   = end;
		std::string rows;
		for (size_t r = 0; r < M_csv_get_numrows(c); r++)
			rows += filter_cb(c, r, &opts) ? '1' : '0';
		return rows;
	};
	EXPECT_EQ(kept(csv, nullptr, "202401", "202412"), "1100010010");
	EXPECT_EQ(kept(csv, nullptr, "202401", nullptr), "1101011010"); /* a prefix sorts first */
	EXPECT_EQ(kept(csv, nullptr, nullptr, "202412"), "1110110111");
	/* A table without the columns: nothing matches a user. */
	EXPECT_EQ(kept(other, "a", nullptr, nullptr), "0");
	EXPECT_EQ(kept(other, nullptr, "000000", nullptr), "0");
	EXPECT_EQ(kept(other, nullptr, nullptr, "000000"), "1");
	M_csv_destroy(other);
	M_csv_destroy(csv);
}

/* A key file's user ID reaches the terminal as printable text: well-formed
 * UTF-8 passes; controls (C0 with NUL, DEL, C1 in either form), the
 * backslash and malformed sequences (overlong, surrogate, past U+10FFFF, cut
 * short) are spelled out, so no user ID can move the cursor or rewrite a
 * report line; characters that show as nothing or reorder what follows are
 * spelled out as code points, so none reads as other text than it is. */
TEST(tokenexp, report_text_cannot_steer_the_terminal)
{
	const std::pair<std::string, const char *> cases[] = {
	    {"J\xc3\xbcrgen \xe2\x82\xac \xf0\x9f\x94\x91 <j@x>", "J\xc3\xbcrgen \xe2\x82\xac \xf0\x9f\x94\x91 <j@x>"},
	    {"a\rRecipient: b\x1b[2K\x7f\\", "a\\x0DRecipient: b\\x1B[2K\\x7F\\x5C"},
	    {"\xc2\x9bm\x9b", "\\xC2\\x9Bm\\x9B"},
	    {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82", "\\xC0\\xAF\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80\\xE2\\x82"},
	    {std::string("Alice <a@x>\0 Mallory", 20), "Alice <a@x>\\x00 Mallory"},
	    {"A \xe2\x80\xaegpj.exe\xe2\x80\xac", "A \\u202Egpj.exe\\u202C"},
	    /* the edges of the ranges beside what passes: U+2027, U+2030, U+FEFE */
	    {"\xe2\x80\xa7\xe2\x80\xa8\xe2\x80\x8b\xef\xbb\xbf\xe2\x80\xb0\xef\xbb\xbe",
	     "\xe2\x80\xa7\\u2028\\u200B\\uFEFF\xe2\x80\xb0\xef\xbb\xbe"},
	    {"\xf3\xa0\x81\x81\xc2\xad", "\\U000E0041\\u00AD"},
	};
	for (const auto &[in, out] : cases) {
		M_buf_t *buf = M_buf_create();
		tokenexp_report_add_text(buf, in.data(), in.size());
		EXPECT_EQ(test_util::take(buf), out) << in;
	}
}

namespace {

constexpr char kPoolKey[] = "00112233445566778899aabbccddeeff";

/* What one pool run gave: result, reason, counts and the message. */
struct pool_outcome {
	int                   result;
	std::string           err;
	tokenexp_run_totals_t totals;
	pgp_test::bytes       message;
};

pool_outcome run_pool(const std::string &path, size_t threads, size_t max_table = kTokenexpMaxTable)
{
	M_fs_file_t *f = nullptr;
	EXPECT_EQ(M_fs_file_open(&f, path.c_str(), 8192, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	const pgp_test::bytes keyfile = pgp_test::read_file(pgp_test::key_path("rsa2048.asc"));
	M_pgp_pubkey_t       *pub     = M_pgp_pubkey_create(keyfile.data(), keyfile.size(), nullptr, 0);
	pool_outcome          o{};
	M_pgp_msg_t    *msg = M_pgp_msg_create(pub, M_PGP_SYMALG_AES256, M_PGP_ENCRYPT_MDC, pgp_test::add_to, &o.message);
	tokenexp_opts_t opts{};
	char            err[256] = {0};
	const tokenexp_export_key key(kPoolKey);
	o.result = tokenexp_pool_run(f, key, &opts, threads, max_table, msg, &o.totals, nullptr, err, sizeof(err));
	o.err    = err;
	if (o.result != TOKENEXP_WALK_DONE || !M_pgp_msg_finish(msg))
		o.message.clear();
	M_pgp_msg_destroy(msg);
	M_pgp_pubkey_destroy(pub);
	M_fs_file_close(f);
	return o;
}

} // namespace

#if M_TEST_POSIX /* Linux only: gpg, the peer that opens the message, runs through a POSIX shell */
namespace {

/* One export block of csv: zlib, AES-128-CBC under kPoolKey and the
 * export IV, Base64 on one line, after its header line. */
std::string export_block(const std::string &csv, bool first_of_section)
{
	uLongf                     clen = compressBound(static_cast<uLong>(csv.size()));
	std::vector<unsigned char> z(clen), c(clen + 16);
	EXPECT_EQ(compress(z.data(), &clen, reinterpret_cast<const Bytef *>(csv.data()), csv.size()), Z_OK);
	unsigned char   key[16];
	EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
	int             n1 = 0, n2 = 0;
	for (size_t i = 0; i < sizeof(key); i++)
		key[i] = static_cast<unsigned char>(0x11 * i);
	EXPECT_TRUE(EVP_EncryptInit_ex(ctx, tokenexp_key_cipher(16), nullptr, key, tokenexp_export_iv) == 1 &&
	            EVP_EncryptUpdate(ctx, c.data(), &n1, z.data(), static_cast<int>(clen)) == 1 &&
	            EVP_EncryptFinal_ex(ctx, c.data() + n1, &n2) == 1);
	EVP_CIPHER_CTX_free(ctx);
	const std::string data =
	    test_util::take(M_bincodec_encode_alloc(c.data(), static_cast<size_t>(n1 + n2), 0, M_BINCODEC_BASE64));
	const std::string size = "---DATABLOCK_SIZE=" + std::to_string(data.size()) + ":" + std::to_string(csv.size());
	return (first_of_section ? "--QUORVEL--ENCRYPTED--DATA--EXPORT---(RECURRING)\n" : "") + size + "\n" + data;
}

} // namespace

/* Blocks join into one table by the first header row's names: an unnamed
 * column is written empty, a continuation is read with its section's header
 * row, or with the table's columns when its section's first block held no
 * table, or, before the table has any, with its own first line, which then
 * fixes them; on one thread and on eight alike (gpg opens the message). */
TEST(tokenexp, pool_joins_blocks_by_the_first_header_row)
{
	const struct {
		std::vector<std::pair<std::string, bool>> blocks; /* text, first of its section */
		std::string                               table;
	} cases[] = {
	    {{{"user,,token\na,b,1\n", true}, {"\r", true}, {"", false}, {"e,f,3\n", false}},
	     "user,,token\r\na,,18\r\ne,,34\r\n"},
	    {{{"\r", true}, {"x,token\n1,5\n", false}, {"2,6\n", false}, {"token,x\n3,4\n", true}},
	     "x,token\r\n1,59\r\n2,67\r\n4,34\r\n"},
	    {{{"\r", true}, {"\r", false}, {"token\n1\n", false}}, "token\r\n18\r\n"},
	};
	pgp_test::gpg_home home;
	ASSERT_TRUE(home.ok() && home.import(pgp_test::key_path("rsa2048.sec.asc")));
	const std::string path = home.file("t.exp"), msg = home.file("t.gpg");
	for (const auto &c : cases) {
		std::string text;
		for (const auto &[csv, first] : c.blocks)
			text += export_block(csv, first) + "\n";
		std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
		for (size_t threads : {1, 8}) {
			const pool_outcome o = run_pool(path, threads);
			ASSERT_EQ(o.result, TOKENEXP_WALK_DONE) << o.err;
			std::ofstream(msg, std::ios::binary | std::ios::trunc)
			    .write(reinterpret_cast<const char *>(o.message.data()), static_cast<long>(o.message.size()));
			std::string table;
			EXPECT_EQ(pgp_test::run(home.gpg("--decrypt " + pgp_test::shell_quote(msg)), &table), 0);
			EXPECT_EQ(table, c.table) << c.table << " on " << threads << " threads";
		}
	}
}

namespace {

/* Runs the pool over an export file holding text in a child process;
 * returns its result (99 when its message is not want, -1 when the child
 * died) and how far the child's peak resident size rose above this
 * process's. */
int pool_in_child(const std::string &text, const char *want, long *max_rss_kib)
{
	char path[] = "/tmp/tokenexp_pool_XXXXXX";
	int  fd     = mkstemp(path);
	if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
		return -1;
	close(fd);
	const pid_t pid = fork();
	if (pid == 0) {
		const pool_outcome o = run_pool(path, 1);
		_exit(o.err == want ? o.result : 99);
	}
	int           status = 0;
	struct rusage ru {};
	const pid_t   w = wait4(pid, &status, 0, &ru);
	unlink(path);
	struct rusage self {};
	getrusage(RUSAGE_SELF, &self);
	*max_rss_kib = ru.ru_maxrss - self.ru_maxrss; /* the child starts with what it inherits */
	return w == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

/* Sizes come from the file and must not make the run reserve room for data
 * the file does not hold. A damaged block size ("-55" reads as 2^64 - 55 by
 * the number rules) is cut off inside the block, a parse failure (it once
 * reserved 1 GiB a step, 3 GiB in all); a block declaring 4 GiB of inflated
 * data inflates into what its bytes can hold. */
TEST(tokenexp, pool_sizes_from_the_file_cost_no_memory)
{
	const std::string head = "--QUORVEL--ENCRYPTED--DATA--EXPORT---(RECURRING)\n---DATABLOCK_SIZE=";
	const std::string cut  = "Po7tojN7OQ93DaRdfEAUgAeINZx/hBbNUr3xUmhw\n";
	/* "a,b\n1,2\n" as the export holds it (export_block). */
	const std::string b64 = "nb6l1rdCRRld8R+BqpEfnoEht5/6J3RIoPzZOuhPazs=";
	const struct {
		std::string text;
		int         result;
		const char *err;
	} rows[] = {
	    {head + "-55:134\n" + cut, TOKENEXP_WALK_PARSE, "couldn't read section header from export file"},
	    {head + "0xFFFFFFFFFFFF:134\n" + cut, TOKENEXP_WALK_PARSE, "couldn't read section header from export file"},
	    {head + "4000000000:134\n" + cut, TOKENEXP_WALK_PARSE, "couldn't read section header from export file"},
	    {head + std::to_string(b64.size()) + ":4294967295\n" + b64 + "\n", TOKENEXP_WALK_DONE, ""}};
	for (const auto &r : rows) {
		long rss_kib = 0;
		EXPECT_EQ(pool_in_child(r.text, r.err, &rss_kib), r.result) << r.text;
		EXPECT_LT(rss_kib, 256L * 1024) << r.text;
	}
}
#endif

/* The pool on eight threads against the pool on one: an export of a few
 * hundred blocks in three sections, whole and stopped by the table limit
 * in the middle, gives the same result, counts and table, and the same
 * message but for the session key. */
TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(tokenexp, pool_on_many_threads_is_the_pool_on_one)
{
	std::mt19937 rng(5);
	std::string  csv = "user,token,expdate,bdate,edate,last_run,next_run,name,note\n";
	for (int i = 0; i < 80000; i++) {
		csv += "user_" + std::to_string(rng() % 40) + ",";
		for (unsigned d = 16 + rng() % 4; d > 0; d--)
			csv += static_cast<char>('0' + rng() % 10);
		csv += "," + std::to_string(202500 + rng() % 12 + 1);
		for (int t = 0; t < 4; t++)
			csv += "," + std::to_string(1500000000 + rng() % 260000000);
		csv += i % 2 ? ",`SMITH, Jo`,monthly plan\n" : ",Doe,weekly coffee club box\n";
	}
	const std::string rows = testing::TempDir() + "/pool_rows.csv", exp = testing::TempDir() + "/pool.exp";
	std::ofstream(rows, std::ios::binary) << csv;
	const std::string cmd = std::string(M_TEST_BINARY_DIR) + "/mkexport -k " + kPoolKey + " -o " + exp +
	                        " -r 500 RECURRING=" + rows + " OTHER=" + rows + " RECURRING=" + rows;
	ASSERT_EQ(system(cmd.c_str()), 0);

	const pool_outcome whole = run_pool(exp, 1);
	ASSERT_EQ(whole.result, TOKENEXP_WALK_DONE) << whole.err;
	EXPECT_GT(whole.totals.table_len, 2 * M_PGP_PIECE_LEN) << "a table of several pieces";
	for (size_t limit : {kTokenexpMaxTable, whole.totals.table_len / 2}) {
		const pool_outcome one  = run_pool(exp, 1, limit);
		const pool_outcome many = run_pool(exp, 8, limit);
		EXPECT_EQ(std::tie(one.result, one.err, one.totals.blocks, one.totals.sections, one.totals.table_len),
		          std::tie(many.result, many.err, many.totals.blocks, many.totals.sections, many.totals.table_len));
		EXPECT_EQ(one.totals.rows.kept, many.totals.rows.kept);
		EXPECT_EQ(one.result, limit == kTokenexpMaxTable ? TOKENEXP_WALK_DONE : TOKENEXP_WALK_TOO_LARGE);
		/* Pieces cut at the same bytes compress alike: the messages differ
		 * in the session key packet's number (a byte, when it has a zero
		 * leading byte) and in their random bytes only. */
		EXPECT_NEAR(static_cast<double>(many.message.size()), static_cast<double>(one.message.size()), 1.0);
	}
}
TEST_GCC12_FALSE_POSITIVE_END()
