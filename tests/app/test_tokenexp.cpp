#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include <openssl/evp.h>

#include "app/tokenexp.h"
#include "app/tokenexp_export.h"
#include "app/tokenexp_key.h"
#include "app/tokenexp_table.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "formats/m_bincodec.h"
#include "formats/m_csv.h"
#include "fs/m_fs_file.h"
#include "pgp/pgp_encrypt.h"
#include "tests/test_util.h"

namespace {

std::string write_cell(const char *cell, const char *header, bool *used = nullptr)
{
	M_buf_t *buf = M_buf_create();
	M_bool   ok  = cell_writer_cb(buf, cell, header, nullptr);
	if (used != nullptr)
		*used = ok;
	std::string s(M_buf_len(buf) == 0 ? "" : M_buf_peek(buf), M_buf_len(buf));
	M_buf_cancel(buf);
	return s;
}

} // namespace

TEST(tokenexp, luhn_check_digit_on_digit_tokens)
{
	EXPECT_EQ(write_cell("7992739871", "token"), "79927398713");
	EXPECT_EQ(write_cell("0", "TOKEN"), "00");
	/* Known card numbers: the payload without its last digit gets it back. */
	const char *cards[] = {"4111111111111111", "5500000000000004", "378282246310005", "6011111111111117",
	                       "4012888888881881"};
	for (const char *card : cards) {
		std::string payload(card, std::string(card).size() - 1);
		EXPECT_EQ(write_cell(payload.c_str(), "Token"), card);
	}
	bool used = true;
	EXPECT_EQ(write_cell("1234-5678", "token", &used), "");
	EXPECT_FALSE(used); /* written unchanged by the output */
	EXPECT_EQ(write_cell("12a", "token", &used), "");
	EXPECT_FALSE(used);
	EXPECT_EQ(write_cell("", "token", &used), "");
	EXPECT_FALSE(used);
	EXPECT_EQ(write_cell(nullptr, "token", &used), "");
	EXPECT_FALSE(used);
	EXPECT_EQ(write_cell("123", "name", &used), "");
	EXPECT_FALSE(used);
}

TEST(tokenexp, date_cells)
{
	test_util::TzGuard utc("UTC");
	bool               used = false;
	EXPECT_EQ(write_cell("0", "bdate", &used), "");
	EXPECT_TRUE(used); /* written empty */
	EXPECT_EQ(write_cell("1546300800", "next_run"), "20190101");
	EXPECT_EQ(write_cell("1546300800x", "LAST_RUN"), "20190101");
	EXPECT_EQ(write_cell(" +86400", "edate"), "19700102");
	EXPECT_EQ(write_cell("abc", "edate"), "FAIL: Case 1");
	EXPECT_EQ(write_cell("99999999999999999999", "edate"), "FAIL: Case 1");
	EXPECT_EQ(write_cell("-5", "bdate"), "FAIL: Case 2");
	EXPECT_EQ(write_cell("9223372036854775808", "bdate"), "FAIL: Case 2");
	EXPECT_EQ(write_cell("9999999999999999999", "bdate"), "FAIL: Case 2"); /* 19 digits, above 2^63 */
	EXPECT_EQ(write_cell("0000000000000086400", "bdate"), "19700102");     /* 19 digits, leading zeros */
	EXPECT_EQ(write_cell("00000000000000086400", "bdate"), "19700102");    /* 20 digits, no overflow */
	{
		test_util::TzGuard west("America/Los_Angeles");
		EXPECT_EQ(write_cell("1546300800", "next_run"), "20181231");
	}
	{
		test_util::TzGuard east("Asia/Tokyo");
		EXPECT_EQ(write_cell("1546300800", "next_run"), "20190101");
	}
}

TEST(tokenexp, filter_by_user_and_expiry)
{
	const char text[] = "user,expdate\nalice,202401\nAlice,202412\nalice,202312\nalice,202501\nalice,\n,202405\n";
	M_csv_t   *csv    = M_csv_parse(text, sizeof(text) - 1, ',', '`', M_CSV_FLAG_NONE);
	ASSERT_NE(csv, nullptr);

	auto kept = [&](const char *user, const char *start, const char *end) {
		tokenexp_opts_t opts{};
		opts.user      = user;
		opts.exp_start = start;
		opts.exp_end   = end;
		std::string rows;
		for (size_t r = 0; r < M_csv_get_numrows(csv); r++)
			rows += filter_cb(csv, r, &opts) ? '1' : '0';
		return rows;
	};
	EXPECT_EQ(kept(nullptr, nullptr, nullptr), "111111");
	EXPECT_EQ(kept("alice", nullptr, nullptr), "101110");
	EXPECT_EQ(kept("", nullptr, nullptr), "111111");
	EXPECT_EQ(kept(nullptr, "202401", "202412"), "110001");
	EXPECT_EQ(kept(nullptr, "202401", nullptr), "110101"); /* no expdate: dropped by -s */
	EXPECT_EQ(kept(nullptr, nullptr, "202412"), "111011"); /* kept by -e alone */
	EXPECT_EQ(kept("alice", "202401", "202412"), "100000");
	M_csv_destroy(csv);
}

TEST(tokenexp, options)
{
	auto parse = [](std::initializer_list<const char *> args, tokenexp_opts_t *o) {
		std::vector<char *> argv{const_cast<char *>("prog"), const_cast<char *>("exp"), const_cast<char *>("key")};
		for (const char *a : args)
			argv.push_back(const_cast<char *>(a));
		*o = tokenexp_opts_t{};
		return tokenexp_parse_options(static_cast<int>(argv.size()), argv.data(), o);
	};
	tokenexp_opts_t o{};
	testing::internal::CaptureStderr();
	EXPECT_TRUE(parse({"-ofile.gpg", "-x", "-u", "a", "-o", "last.gpg"}, &o));
	EXPECT_STREQ(o.output_file, "last.gpg");
	EXPECT_EQ(o.user, nullptr);
	EXPECT_EQ(o.filter, nullptr);
	EXPECT_TRUE(parse({"-u"}, &o));
	EXPECT_EQ(o.user, nullptr);
	EXPECT_NE(o.filter, nullptr);
	EXPECT_TRUE(parse({"-s202413"}, &o));
	EXPECT_FALSE(parse({"-e", "2024"}, &o));
	/* -m: both forms of the value, the last one wins, anything else stops. */
	const struct {
		std::initializer_list<const char *> args;
		bool                                ok;
		unsigned int                        flags;
	} formats[] = {
	    {{}, true, 0},
	    {{"-m", "mdc"}, true, M_PGP_ENCRYPT_MDC},
	    {{"-mmdc", "-mlegacy"}, true, 0},
	    {{"-m", "legacy", "-m", "mdc"}, true, M_PGP_ENCRYPT_MDC},
	    {{"-m", "MDC"}, false, 0},
	    {{"-m", ""}, false, 0},
	    {{"-m"}, false, 0},
	    {{"-mmdc", "-m", "tag18"}, false, M_PGP_ENCRYPT_MDC},
	};
	for (const auto &f : formats) {
		EXPECT_EQ(parse(f.args, &o), f.ok) << f.args.size();
		EXPECT_EQ(o.pgp_flags, f.flags) << f.args.size();
	}
	testing::internal::GetCapturedStderr();
}

TEST(tokenexp, key_conversion)
{
	char     err[256] = {0};
	M_buf_t *buf      = M_buf_create();
	EXPECT_EQ(tokenexp_key_convert(buf, "000102030405060708090a0b0c0d0e0f", err, sizeof(err)), EVP_aes_128_cbc());
	EXPECT_EQ(M_buf_len(buf), 16u);
	EXPECT_EQ(tokenexp_key_convert(buf, "00 0102030405060708090a0b0c0d0e0f0001020304050607", err, sizeof(err)),
	          nullptr);
	EXPECT_STREQ(err, "given quorvel key was incorrectly formatted, couldn't convert from hex to binary");
	EXPECT_EQ(tokenexp_key_convert(buf, "000102030405060708090a0b0c0d0e0f0001020304050607", err, sizeof(err)),
	          EVP_aes_192_cbc());
	EXPECT_EQ(tokenexp_key_convert(buf, "0001020304050607", err, sizeof(err)), nullptr);
	EXPECT_STREQ(err, "unsupported quorvel key size: 64 bits (expected 128, 192 or 256 bits)");
	M_buf_cancel(buf);
}

TEST(tokenexp, read_line_buf_skips_blank_lines_and_trailing_space)
{
	char path[] = "/tmp/tokenexp_lines_XXXXXX";
	int  fd     = mkstemp(path);
	ASSERT_GE(fd, 0);
	const char data[] = "\n  \r\nfirst line \t\r\n\n\nsecond\nlast-no-lf  ";
	ASSERT_EQ(write(fd, data, sizeof(data) - 1), static_cast<ssize_t>(sizeof(data) - 1));
	close(fd);

	M_fs_file_t *f = nullptr;
	ASSERT_EQ(M_fs_file_open(&f, path, 8192, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	M_buf_t *buf = M_buf_create();
	M_bool   eof = M_TRUE;
	EXPECT_TRUE(read_line_buf(buf, f, &eof));
	EXPECT_FALSE(eof);
	EXPECT_EQ(std::string(M_buf_peek(buf)), "first line");
	EXPECT_TRUE(read_line_buf(buf, f, &eof)); /* appends */
	EXPECT_EQ(std::string(M_buf_peek(buf)), "first linesecond");
	M_buf_truncate(buf, 0);
	EXPECT_TRUE(read_line_buf(buf, f, nullptr));
	EXPECT_EQ(std::string(M_buf_peek(buf)), "last-no-lf");
	EXPECT_FALSE(read_line_buf(buf, f, &eof));
	EXPECT_TRUE(eof);
	M_buf_cancel(buf);
	M_fs_file_close(f);
	unlink(path);
}

namespace {

/* Walk an export file holding text in a child process; returns the walk's
 * result (or -1 when the child died) and the child's peak resident size. */
int walk_in_child(const std::string &text, long *max_rss_kib, std::string *err_text)
{
	char path[] = "/tmp/tokenexp_walk_XXXXXX";
	int  fd     = mkstemp(path);
	if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
		return -1;
	close(fd);
	int pipefd[2];
	if (pipe(pipefd) != 0)
		return -1;
	const pid_t pid = fork();
	if (pid == 0) {
		close(pipefd[0]);
		M_fs_file_t *f = nullptr;
		if (M_fs_file_open(&f, path, 8192, M_FS_FILE_MODE_READ, nullptr) != M_FS_ERROR_SUCCESS)
			_exit(100);
		M_buf_t                     *line     = M_buf_create();
		M_buf_t                     *work     = M_buf_create();
		char                        *section  = nullptr;
		char                         err[256] = {0};
		const tokenexp_walk_result_t r        = tokenexp_walk(
		           f, "00112233445566778899aabbccddeeff", line, work, &section, err, sizeof(err),
		           [](const char *, size_t, M_bool, void *) -> M_bool { return M_TRUE; }, nullptr);
		(void)!write(pipefd[1], err, strlen(err));
		M_free(section);
		M_buf_cancel(line);
		M_buf_cancel(work);
		M_fs_file_close(f);
		_exit(static_cast<int>(r));
	}
	close(pipefd[1]);
	char    buf[256];
	ssize_t n;
	while ((n = read(pipefd[0], buf, sizeof(buf))) > 0)
		err_text->append(buf, static_cast<size_t>(n));
	close(pipefd[0]);
	int           status = 0;
	struct rusage ru {};
	const pid_t   w = wait4(pid, &status, 0, &ru);
	unlink(path);
	*max_rss_kib = ru.ru_maxrss;
	if (w != pid || !WIFEXITED(status))
		return -1;
	return WEXITSTATUS(status);
}

} // namespace

/* A damaged size in a block header ("-55" reads as 2^64 - 55 by the number
 * rules) must not make the walk reserve room for data the file does not hold:
 * the file is cut off inside the block, which is a parse failure, and memory
 * stays at what the file holds (it once reserved 1 GiB a step, 3 GiB in all). */
/* One block of CSV text as the export holds it: zlib, AES-128-CBC under the
 * key 00112233445566778899aabbccddeeff and the export IV, Base64. */
std::string export_block(const std::string &csv)
{
	static const unsigned char key[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
	                                      0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
	static const unsigned char iv[16]  = {0x7a, 0x1e, 0x44, 0xc9, 0xb0, 0xd2, 0x83, 0x5f,
	                                      0x7a, 0x1e, 0x44, 0xc9, 0xb0, 0xd2, 0x83, 0x5f};
	std::vector<unsigned char> comp(compressBound(csv.size()));
	uLongf                     clen = comp.size();
	EXPECT_EQ(compress(comp.data(), &clen, reinterpret_cast<const Bytef *>(csv.data()), csv.size()), Z_OK);
	std::vector<unsigned char> enc(clen + 32);
	int                        l1 = 0, l2 = 0;
	EVP_CIPHER_CTX            *ctx = EVP_CIPHER_CTX_new();
	EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv), 1);
	EXPECT_EQ(EVP_EncryptUpdate(ctx, enc.data(), &l1, comp.data(), static_cast<int>(clen)), 1);
	EXPECT_EQ(EVP_EncryptFinal_ex(ctx, enc.data() + l1, &l2), 1);
	EVP_CIPHER_CTX_free(ctx);
	char       *b64 = M_bincodec_encode_alloc(enc.data(), static_cast<size_t>(l1 + l2), 0, M_BINCODEC_BASE64);
	std::string out(b64);
	M_free(b64);
	return out;
}

TEST(tokenexp, walk_damaged_block_size_costs_no_memory)
{
	for (const char *size : {"-55", "0xFFFFFFFFFFFF", "4000000000"}) {
		const std::string text = std::string("--QUORVEL--ENCRYPTED--DATA--EXPORT---(RECURRING)\n---DATABLOCK_SIZE=") +
		                         size + ":134\nPo7tojN7OQ93DaRdfEAUgAeINZx/hBbNUr3xUmhw\n";
		long        rss_kib = 0;
		std::string err;
		EXPECT_EQ(walk_in_child(text, &rss_kib, &err), static_cast<int>(TOKENEXP_WALK_PARSE)) << size;
		EXPECT_EQ(err, "couldn't read section header from export file") << size;
		EXPECT_LT(rss_kib, 256L * 1024) << size;
	}
}

/* The declared uncompressed size comes from the file: a block declaring
 * 4 GiB still inflates into what its bytes can hold, and costs no more. */
TEST(tokenexp, walk_huge_declared_size_costs_no_memory)
{
	const std::string b64 = export_block("a,b\n1,2\n");
	const std::string text =
	    "--QUORVEL--ENCRYPTED--DATA--EXPORT---(RECURRING)\n---DATABLOCK_SIZE=" + std::to_string(b64.size()) +
	    ":4294967295\n" + b64 + "\n";
	long        rss_kib = 0;
	std::string err;
	EXPECT_EQ(walk_in_child(text, &rss_kib, &err), static_cast<int>(TOKENEXP_WALK_DONE)) << err;
	EXPECT_LT(rss_kib, 256L * 1024);
}
