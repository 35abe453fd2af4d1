/* Formatted output: M_snprintf beside the C library's snprintf on the
 * program's own message formats, into a stack buffer. The ratio of the two
 * times is the figure of interest; both write the same text. */
#include <benchmark/benchmark.h>

#include <cstdio>

#include "core/m_str_fmt.h"

namespace {

constexpr const char *kWrote    = "Wrote encrypted file %s (took %0.3f sec)\n";
constexpr const char *kParseErr = "Error parsing export file: %s\n";
constexpr const char *kExpdate  = "Restricting output to expdates >= '%s'.\n";
constexpr const char *kMixed    = "block %d of %s: %zu bytes at 0x%08x, %+.2f%%\n";

void BM_M_snprintf_wrote(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(M_snprintf(buf, sizeof(buf), kWrote, "merchant_2026.qte.gpg", 1.23456));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_M_snprintf_wrote);

void BM_crt_snprintf_wrote(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(std::snprintf(buf, sizeof(buf), kWrote, "merchant_2026.qte.gpg", 1.23456));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_crt_snprintf_wrote);

void BM_M_snprintf_parse_error(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(M_snprintf(buf, sizeof(buf), kParseErr, "invalid Base64 in data block"));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_M_snprintf_parse_error);

void BM_crt_snprintf_parse_error(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(std::snprintf(buf, sizeof(buf), kParseErr, "invalid Base64 in data block"));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_crt_snprintf_parse_error);

void BM_M_snprintf_expdate(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(M_snprintf(buf, sizeof(buf), kExpdate, "202612"));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_M_snprintf_expdate);

void BM_crt_snprintf_expdate(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(std::snprintf(buf, sizeof(buf), kExpdate, "202612"));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_crt_snprintf_expdate);

void BM_M_snprintf_mixed(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(
		    M_snprintf(buf, sizeof(buf), kMixed, 17, "RECURRING", static_cast<size_t>(65536), 0xbeefu, -12.345));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_M_snprintf_mixed);

void BM_crt_snprintf_mixed(benchmark::State &state)
{
	char buf[256];
	for (auto _ : state) {
		benchmark::DoNotOptimize(
		    std::snprintf(buf, sizeof(buf), kMixed, 17, "RECURRING", static_cast<size_t>(65536), 0xbeefu, -12.345));
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_crt_snprintf_mixed);

} /* namespace */

BENCHMARK_MAIN();
