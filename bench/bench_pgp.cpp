/* OpenPGP message encryption of a large token table, against gpg; and the
 * two ways of finding a compressed piece's last DEFLATE block.
 *
 * The table is 100 MB of CSV text shaped like the program's output (quoted
 * cells, card tokens, expiry dates, CRLF line ends). It is encrypted with
 * AES-256 to the RSA-2048 test key by M_pgp_encrypt_buf, and, in the same
 * run, by `gpg --batch --trust-model always --compress-algo zlib -e` on the
 * same bytes (read from a file, output thrown away). Both compress (ours with
 * libdeflate at level 6, piece by piece; gpg with zlib at its default
 * level), which is most of the work, then run one pass of AES-256 in CFB
 * mode; gpg also hashes the data for its integrity packet.
 *
 * A piece that another follows is left open, which needs the bit where its
 * last DEFLATE block starts: BM_last_block_walk finds it with the library's
 * walk over the blocks (pgp_deflate_walk), BM_last_block_zlib with zlib's
 * inflate stopping at each block (Z_BLOCK), on the table's pieces.
 *
 * Wall-clock times are reported (gpg runs as a child process), and at the end
 * the ratio of our time to gpg's. The copy of the table into the input
 * buffer, which M_pgp_encrypt_buf empties, is not timed.
 *
 * Run: bench/bench_pgp in a build folder (gpg must be on the PATH). The test
 * keys are found beside this source, or under $BENCH_PGP_KEYS when set.
 */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "core/m_buf.h"
#include "pgp/pgp_deflate_int.h"
#include "pgp/pgp_deflate_walk_int.h"
#include "pgp/pgp_encrypt.h"
#include "pgp/pgp_pubkey.h"
#include "tests/pgp/zlib_last_block.h"

namespace {

constexpr size_t kTableSize = 100u * 1000u * 1000u;

const std::vector<unsigned char> &table()
{
	static const std::vector<unsigned char> t = [] {
		std::vector<unsigned char> v;
		v.reserve(kTableSize + 256);
		const char *header = "\"Merchant User\",\"Customer ID\",\"Token\",\"Card Type\",\"Expiry\","
		                     "\"Last Four\",\"Amount\",\"Created\"\r\n";
		v.insert(v.end(), header, header + std::char_traits<char>::length(header));
		unsigned                 x = 2463534242u;
		char                     line[256];
		static const char *const types[] = {"VISA", "MC", "AMEX", "DISC"};
		for (unsigned row = 0; v.size() < kTableSize; row++) {
			x ^= x << 13;
			x ^= x >> 17;
			x ^= x << 5;
			const unsigned y = x * 2654435761u;
			const int      n = std::snprintf(line, sizeof(line),
			                                 "\"merchant%02u\",\"C%07u\",\"%08X%08X%04X\",\"%s\",\"20%02u%02u\","
			                                      "\"%04u\",\"%u.%02u\",\"2024-%02u-%02u 1%u:%02u:%02u\"\r\n",
			                                 x % 40, row, x, y, row & 0xffff, types[y % 4], 25 + y % 8, 1 + x % 12,
			                                 y % 10000, x % 2000, y % 100, 1 + y % 12, 1 + x % 28, x % 10, y % 60, x % 60);
			v.insert(v.end(), line, line + n);
		}
		v.resize(kTableSize);
		return v;
	}();
	return t;
}

std::string key_file(const char *name)
{
	const char *dir = std::getenv("BENCH_PGP_KEYS");
	if (dir != nullptr && *dir != '\0')
		return std::string(dir) + "/" + name;
	/* This file is bench/bench_pgp.cpp under the project root. */
	std::string  root = __FILE__;
	const size_t cut  = root.rfind("bench/");
	root              = cut == std::string::npos ? std::string("./") : root.substr(0, cut);
	return root + "tests/data/keys/" + name;
}

std::vector<unsigned char> read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_pgp_encrypt_buf(benchmark::State &state)
{
	const std::vector<unsigned char> keydata  = read_file(key_file("rsa2048.asc"));
	char                             err[256] = "";
	M_pgp_pubkey_t                  *key      = M_pgp_pubkey_create(keydata.data(), keydata.size(), err, sizeof(err));
	if (key == nullptr) {
		state.SkipWithError(err);
		return;
	}
	const std::vector<unsigned char> &t       = table();
	M_buf_t                          *in      = M_buf_create();
	M_buf_t                          *out     = M_buf_create();
	size_t                            out_len = 0;
	for (auto _ : state) {
		state.PauseTiming();
		M_buf_add_bytes(in, t.data(), t.size());
		state.ResumeTiming();
		if (!M_pgp_encrypt_buf(out, in, key, M_PGP_SYMALG_AES256)) {
			state.SkipWithError("M_pgp_encrypt_buf failed");
			break;
		}
		out_len = M_buf_len(out);
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * t.size()));
	state.counters["out_MB"] = static_cast<double>(out_len) / 1e6;
	M_buf_cancel(in);
	M_buf_cancel(out);
	M_pgp_pubkey_destroy(key);
}

std::string shell_quote(const std::string &s)
{
	std::string q = "'";
	for (char c : s)
		q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
	return q + "'";
}

double children_cpu_seconds()
{
	struct rusage ru {};
	getrusage(RUSAGE_CHILDREN, &ru);
	return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
	       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void BM_gpg_encrypt(benchmark::State &state)
{
	char dir[] = "/tmp/bench_pgp.XXXXXX";
	if (mkdtemp(dir) == nullptr) {
		state.SkipWithError("mkdtemp failed");
		return;
	}
	const std::string home  = dir;
	const std::string input = home + "/table.csv";
	{
		const std::vector<unsigned char> &t = table();
		std::ofstream                     f(input, std::ios::binary);
		f.write(reinterpret_cast<const char *>(t.data()), static_cast<std::streamsize>(t.size()));
	}
	const std::string env = "GNUPGHOME=" + shell_quote(home) + " ";
	const std::string key = "rsa2048@test.invalid";
	if (std::system((env + "gpg --batch --quiet --import " + shell_quote(key_file("rsa2048.asc")) + " >/dev/null 2>&1")
	                    .c_str()) != 0) {
		state.SkipWithError("gpg could not import the key");
	} else {
		const std::string cmd = env + "gpg --batch --trust-model always --compress-algo zlib -e -r " + key + " -o - " +
		                        shell_quote(input) + " >/dev/null 2>&1";
		const double cpu0 = children_cpu_seconds();
		for (auto _ : state) {
			if (std::system(cmd.c_str()) != 0) {
				state.SkipWithError("gpg failed");
				break;
			}
		}
		state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTableSize));
		/* gpg's own processor time, which the machine's load does not skew. */
		state.counters["gpg_cpu_s"] =
		    benchmark::Counter(children_cpu_seconds() - cpu0, benchmark::Counter::kAvgIterations);
	}
	(void)std::system((env + "gpgconf --kill gpg-agent >/dev/null 2>&1").c_str());
	(void)std::system(("rm -rf " + shell_quote(home)).c_str());
}

/* The table's pieces as the message compresses them, each closed. */
const std::vector<std::vector<unsigned char>> &piece_streams()
{
	static const std::vector<std::vector<unsigned char>> pieces = [] {
		std::vector<std::vector<unsigned char>> v;
		M_pgp_deflater_t                       *d = M_pgp_deflater_create();
		const std::vector<unsigned char>       &t = table();
		for (size_t at = 0; at < t.size(); at += M_PGP_PIECE_LEN) {
			const size_t               n = std::min<size_t>(M_PGP_PIECE_LEN, t.size() - at);
			std::vector<unsigned char> s(m::detail::deflate_piece_bound(n));
			s.resize(m::detail::deflate_piece(d, t.data() + at, n, s.data(), s.size(), true));
			v.push_back(std::move(s));
		}
		M_pgp_deflater_destroy(d);
		return v;
	}();
	return pieces;
}

void BM_last_block_walk(benchmark::State &state)
{
	const auto &pieces = piece_streams();
	for (auto _ : state) {
		for (const auto &s : pieces) {
			uint64_t last = 0;
			uint64_t end  = 0;
			if (!m::detail::deflate_last_block(s.data(), s.size(), &last, &end))
				state.SkipWithError("the walk refused a piece");
			benchmark::DoNotOptimize(last);
		}
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTableSize));
}

void BM_last_block_zlib(benchmark::State &state)
{
	const auto &pieces = piece_streams();
	for (auto _ : state) {
		for (const auto &s : pieces) {
			const auto found = zlib_last_block(s.data(), s.size());
			if (!std::get<0>(found))
				state.SkipWithError("zlib refused a piece");
			benchmark::DoNotOptimize(found);
		}
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTableSize));
}

BENCHMARK(BM_pgp_encrypt_buf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_last_block_walk)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_last_block_zlib)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_gpg_encrypt)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

/* Console output as usual, and the mean wall time of each run kept for the
 * ratio printed at the end. */
class ratio_reporter : public benchmark::ConsoleReporter {
  public:
	void ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run &r : runs) {
			if (r.error_occurred || r.iterations <= 0)
				continue;
			const std::string name = r.run_name.function_name;
			seconds[name]          = r.real_accumulated_time / static_cast<double>(r.iterations);
			const auto c           = r.counters.find("gpg_cpu_s");
			cpu[name]              = c != r.counters.end() ? static_cast<double>(c->second)
			                                               : r.cpu_accumulated_time / static_cast<double>(r.iterations);
		}
	}
	std::map<std::string, double> seconds; /* wall time per iteration */
	std::map<std::string, double> cpu;     /* processor time per iteration */
};

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	ratio_reporter rep;
	benchmark::RunSpecifiedBenchmarks(&rep);
	const auto ours = rep.seconds.find("BM_pgp_encrypt_buf");
	const auto gpg  = rep.seconds.find("BM_gpg_encrypt");
	if (ours != rep.seconds.end() && gpg != rep.seconds.end() && gpg->second > 0) {
		std::printf("\nwall time per 100 MB: M_pgp_encrypt_buf %.3f s, gpg %.3f s, ratio %.2f (ours / gpg)\n",
		            ours->second, gpg->second, ours->second / gpg->second);
		const double oc = rep.cpu["BM_pgp_encrypt_buf"], gc = rep.cpu["BM_gpg_encrypt"];
		if (gc > 0)
			std::printf("cpu time per 100 MB:  M_pgp_encrypt_buf %.3f s, gpg %.3f s, ratio %.2f (ours / gpg)\n", oc, gc,
			            oc / gc);
	}
	benchmark::Shutdown();
	return 0;
}
