/* Byte comparison, CRC and integer text conversion.
 *
 * M_mem_eq is meant to take the same time wherever two ranges differ; the
 * first pair of benchmarks compares 4096-byte ranges that differ in the
 * first byte and in the last byte, next to memcmp (which stops early) for
 * contrast. The others give throughput figures for the table-driven CRC-32
 * and for M_str_to_uint64_ex on 20-digit text.
 */
#include <benchmark/benchmark.h>

#include "core/m_mem.h"
#include "core/m_str_num.h"

#include <cstring>
#include <vector>

namespace {

constexpr size_t kLen = 4096;

void compare(benchmark::State &state, bool use_memcmp)
{
	std::vector<unsigned char> a(kLen, 0x5A);
	std::vector<unsigned char> b(kLen, 0x5A);
	const size_t               pos = static_cast<size_t>(state.range(0));
	b[pos] ^= 1;
	for (auto _ : state) {
		if (use_memcmp)
			benchmark::DoNotOptimize(std::memcmp(a.data(), b.data(), kLen));
		else
			benchmark::DoNotOptimize(M_mem_eq(a.data(), b.data(), kLen));
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kLen));
}

void BM_mem_eq(benchmark::State &state)
{
	compare(state, false);
}

void BM_memcmp(benchmark::State &state)
{
	compare(state, true);
}

void BM_crc32(benchmark::State &state)
{
	std::vector<unsigned char> a(1 << 16, 0xA5);
	for (auto _ : state)
		benchmark::DoNotOptimize(M_mem_calc_crc32(a.data(), a.size()));
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(a.size()));
}

void BM_str_to_uint64_ex(benchmark::State &state)
{
	const char *text = "18446744073709551615";
	for (auto _ : state) {
		uint64_t v = 0;
		benchmark::DoNotOptimize(M_str_to_uint64_ex(text, 20, 10, &v, nullptr));
		benchmark::DoNotOptimize(v);
	}
}

} // namespace

BENCHMARK(BM_mem_eq)->Arg(0)->Arg(kLen - 1);
BENCHMARK(BM_memcmp)->Arg(0)->Arg(kLen - 1);
BENCHMARK(BM_crc32);
BENCHMARK(BM_str_to_uint64_ex);

BENCHMARK_MAIN();
