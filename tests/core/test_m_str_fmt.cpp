#include "tests/test_util.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <fcntl.h>
#include <limits>

#include "core/m_str_fmt.h"
#include "fs/m_fs_file.h"

namespace {

using test_util::drain;

/* Format into a std::string through M_vsnprintf, sized by a first NULL call. */
std::string fmt(const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	va_list ap2;
	va_copy(ap2, ap);
	const ssize_t need = M_vsnprintf(nullptr, 0, format, ap);
	va_end(ap);
	std::string   out(static_cast<size_t>(need) + 1, '\x7f');
	const ssize_t got = M_vsnprintf(out.data(), out.size(), format, ap2);
	va_end(ap2);
	EXPECT_EQ(got, need) << format;
	EXPECT_EQ(out[static_cast<size_t>(need)], '\0') << format;
	out.resize(static_cast<size_t>(need));
	return out;
}

std::string crt(const char *format, ...)
{
	char    out[16384]; /* the longest text here is two 5000-byte pieces */
	va_list ap;
	va_start(ap, format);
	std::vsnprintf(out, sizeof(out), format, ap);
	va_end(ap);
	return out;
}

} /* namespace */

/* What the oracles below do not reach: floats rounded on the scaled binary
 * fraction, halves away from zero, "%e"/"%g" as fixed, "<NULL>", "%p", sign
 * flags on octal and hexadecimal, arguments read at their length. */
TEST(m_str_fmt, pinned_outputs)
{
	const double                              inf     = std::numeric_limits<double>::infinity();
	const double                              nan     = std::numeric_limits<double>::quiet_NaN();
	void                                     *p1f     = reinterpret_cast<void *>(uintptr_t{0x1f});
	const std::pair<std::string, std::string> cases[] = {
	    {fmt("%.2f|%.0f|%.0f|%.0f", 0.125, 2.5, 0.5, -2.5), "0.13|3|1|-3"}, /* halves: away from zero */
	    {fmt("%.2f|%.1f|%.2f|%.1f", 9.999, 99.96, 1.005, 0.15), "10.00|100.0|1.00|0.2"},
	    {fmt("%f|%+f|% f|%+ f", -1.5, 0.0, 2.0, 2.0), "-1.500000|+0.000000| 2.000000|+2.000000"},
	    {fmt("%f|%.2f|%.f", -0.0, -0.001, 7.5), "0.000000|-0.00|8"}, /* -0 is not negative */
	    {fmt("%e|%E|%g|%G|%F", 1.5, 1.5, 1e8, 0.25, 3.0), "1.500000|1.500000|100000000.000000|0.250000|3.000000"},
	    {fmt("%10.2f|%-10.2f|%010.2f|%+08.1f", 3.14159, 3.14159, -3.14159, 2.25),
	     "      3.14|3.14      |-000003.14|+00002.3"},
	    {fmt("%f|%f|%+f|%f|%f", nan, -nan, nan, inf, -inf), "nan|nan|+nan|inf|-inf"},
	    {fmt("%.18f", 1.1), "1.100000000000000089"},
	    {fmt("%.150f", 0.5), "0.5" + std::string(99, '0')}, /* precision capped at 100 */
	    {fmt("%.40f", 873.69384988217325), "873.6938498821732537180650979280471801757813"}, /* exact tie */
	    {fmt("%.23f", std::numeric_limits<double>::denorm_min()), "0.00000000000000000000000"},
	    {fmt("%s|%.2s|%8s|%05s|%-05s|", nullptr, nullptr, nullptr, "ab", "ab"), "<NULL>|<NULL>|  <NULL>|   ab|ab   |"},
	    {fmt("a%cb", 0), std::string("a\0b", 3)},
	    {fmt("%I64d|%I64x|%I32d", INT64_MIN, UINT64_C(0x123456789abcdef0), -5),
	     "-9223372036854775808|123456789abcdef0|-5"},
	    {fmt("%zu|%hhd|%hhu|%hu|%hd", SIZE_MAX, 255, 257, 65537, 32768), "18446744073709551615|-1|1|1|-32768"},
	    {fmt("%lld|%d|%+0d|%#0x", LLONG_MIN, INT_MIN, 5, 255), "-9223372036854775808|-2147483648|+5|0xff"},
	    {fmt("%#x|%#o|%#o|%O", 0, 0, 8, 8), "0x0|0|010|10"},
	    {fmt("%0-5d|%-05d|%.3d", 7, 7, 7), "7    |7    |7"}, /* no precision for integers */
	    {fmt("%*d|%*d|%.*s|%.*s|", 4, 7, -4, 7, 2, "abc", -1, "abc"), "   7|7|ab||"},
	    {fmt("%.5s|", "ab"), "ab|"}, /* the text ends before the precision */
	    {fmt("%%|100%% %d%%", 5), "%|100% 5%"},
	    {fmt("%d|%d|%I32d|%u", INT64_C(0x100000005), INT64_C(0x1FFFFFFFF), INT64_C(0x1FFFFFFFF), INT64_C(0x1FFFFFFFF)),
	     "5|-1|-1|4294967295"}, /* low 32 bits, and the next argument still right */
	    {fmt("%p|%p|%P|%+p", nullptr, reinterpret_cast<void *>(uintptr_t{0xabc}),
	         reinterpret_cast<void *>(uintptr_t{0xabc}), reinterpret_cast<void *>(uintptr_t{0x1})),
	     "0x0|0xabc|0XABC|0x1"},
	    {fmt("%8p|%-8p|%08p|%p", p1f, p1f, p1f, reinterpret_cast<void *>(UINTPTR_MAX)),
	     "    0x1f|0x1f    |0x00001f|0xffffffffffffffff"},
	    {fmt("%+x|% x|%+ x|% +X|%+x|%+o|% o|%+O", 255, 255, 255, 255, 0, 8, 8, 8), "+ff| ff|+ff|+FF|+0|+10| 10|+10"},
	    {fmt("%+#x|% #X|%+#o|%+#o|%+06x|%+#08x", 255, 255, 8, 0, 255, 255), "+0xff| 0XFF|+010|+0|+000ff|+0x000ff"},
	    /* Malformed directives: one "?" per character, and no argument used
	     * (except by "*", read before the fault is found). */
	    {fmt("%y|%q|%5.2.1f|%hld|%lhd|%hhhd|%zld|%lzd|%llld"), "%?|%?|%????1f|%??d|%??d|%???d|%??d|%??d|%???d"},
	    {fmt("%I64ld|%Id|%I6d|%Lf|%5-d|%#5k;|a%yb%zq"), "%????d|%?d|%?6d|%?f|%??d|%???;|a%?b%??"},
	    {fmt("%y%d|%*y%d", 12, 3, 4), "%?12|%??4"},
	    {fmt("abc%") + fmt("%5") + fmt("%-") + fmt("%I"), "abc%%?%?%?"}, /* cut short at the end */
	};
	for (const auto &c : cases)
		EXPECT_EQ(c.first, c.second);
}

TEST(m_str_fmt, floats_agree_with_crt_where_nothing_ties)
{
	/* Whole numbers (up to 309 digits) have nothing to round differently;
	 * beyond 22 places the fraction is scaled exactly, and random values below
	 * 1000 have expansions of 43 places or more, so up to 30 places nothing ties. */
	std::mt19937_64 rng(7);
	for (int e = 0; e < 1024; e += 3) {
		const double w = std::floor(std::ldexp(1.0 + static_cast<double>(rng() >> 12) / 4503599627370496.0, e));
		ASSERT_EQ(fmt("%.0f|%.2f", w, -w), crt("%.0f|%.2f", w, -w)) << e;
	}
	std::uniform_real_distribution<double> dist(0.0, 1000.0);
	for (int i = 0; i < 2000; i++) {
		const double v = dist(rng);
		ASSERT_EQ(fmt("%.23f|%.26f|%.30f", v, v, v), crt("%.23f|%.26f|%.30f", v, v, v)) << v;
	}
}

namespace {

/* Every output target gives what std::snprintf gives, at every size class
 * (the descriptor's 511/512-byte staging, the allocated ones' growth). */
template <typename... A>
void check_targets(const char *format, A... args)
{
	const std::string want = crt(format, args...);
	const ssize_t     n    = static_cast<ssize_t>(want.size());
	SCOPED_TRACE(::testing::Message() << std::string_view(format).substr(0, 20) << " size " << n);

	for (const size_t size : {size_t{1}, size_t{4}, want.size(), want.size() + 1}) {
		std::vector<char> buf(size + 1, 'x'), cbuf(size + 1, 'x');
		EXPECT_EQ(M_snprintf(buf.data(), size, format, args...), n);
		std::snprintf(cbuf.data(), size, format, args...);
		EXPECT_EQ(buf, cbuf) << "snprintf size " << size; /* nothing written past size */
	}
	M_buf_t *b = M_buf_create();
	M_buf_add_str(b, ">");
	EXPECT_EQ(M_bprintf(b, format, args...), n);
	char *s = M_buf_finish_str(b, nullptr);
	EXPECT_EQ(std::string(s), ">" + want);
	M_free(s);
	EXPECT_EQ(M_asprintf(&s, format, args...), n);
	EXPECT_EQ(s == nullptr ? std::string() : std::string(s), want);
	EXPECT_EQ(s == nullptr, want.empty()); /* empty output: NULL */
	M_free(s);

	FILE *f = std::tmpfile();
	EXPECT_EQ(M_fprintf(f, format, args...), n);
	std::rewind(f);
	EXPECT_EQ(drain(::fileno(f)), want);
	std::fclose(f);

	int p[2];
	ASSERT_EQ(test_util::make_pipe(p), 0);
	EXPECT_EQ(M_dprintf(p[1], format, args...), n);
	::close(p[1]);
	EXPECT_EQ(drain(p[0]), want);
	::close(p[0]);

	const std::string path = std::string(M_TEST_BINARY_DIR) + "/test_m_str_fmt_mdprintf.txt";
	for (const size_t buf_size : {size_t{0}, size_t{64}}) {
		M_fs_file_t *mf = nullptr;
		ASSERT_EQ(M_fs_file_open(&mf, path.c_str(), buf_size, M_FS_FILE_MODE_WRITE, nullptr), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_mdprintf(mf, format, args...), n);
		M_fs_file_close(mf);
		const int fd = ::open(path.c_str(), O_RDONLY);
		EXPECT_EQ(drain(fd), want) << "buffer " << buf_size;
		::close(fd);
	}
	::unlink(path.c_str());
}

} /* namespace */

TEST(m_str_fmt, output_targets_agree_with_snprintf)
{
	check_targets("%s", "");
	check_targets("Wrote encrypted file %s (took %0.3f sec)\n", "out.csv.gpg", 1.23456);
	for (const size_t n : {510, 511, 512, 513, 1023, 1024, 1025, 5000}) {
		const std::string literal(n, 'L');
		const std::string big(n, 'q');
		check_targets((literal + "%s|%d").c_str(), big.c_str(), 7);
	}
}

TEST(m_str_fmt, target_failures)
{
	/* Refused: descriptor 0, targets open only for reading (the read end
	 * of a pipe, this source file). */
	EXPECT_EQ(M_dprintf(0, "x"), -1);
	int p[2];
	ASSERT_EQ(test_util::make_pipe(p), 0);
	EXPECT_EQ(M_dprintf(p[0], "abc"), -1);
	FILE *ro = ::fdopen(p[0], "r");
	EXPECT_EQ(M_fprintf(ro, "abc"), -1);
	std::fclose(ro);
	::close(p[1]);
	const std::string path = std::string(M_TEST_SOURCE_DIR) + "/tests/core/test_m_str_fmt.cpp";
	M_fs_file_t      *mf   = nullptr;
	ASSERT_EQ(M_fs_file_open(&mf, path.c_str(), 0, M_FS_FILE_MODE_READ, nullptr), M_FS_ERROR_SUCCESS);
	EXPECT_EQ(M_mdprintf(mf, "abc"), -1);
	M_fs_file_close(mf);
}
