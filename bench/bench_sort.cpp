/* Sorting kit against the standard library: 1M random 64-bit values.
 *
 * M_sort_qsort / M_sort_mergesort call the comparator through a function
 * pointer for every comparison; std::sort / std::stable_sort get an inlined
 * operator<, and also the same out-of-line comparator through a function
 * pointer, to separate the algorithm's cost from the call overhead. */
#include <benchmark/benchmark.h>

#include "containers/m_sort_mergesort.h"
#include "containers/m_sort_qsort.h"

#include <algorithm>
#include <random>
#include <vector>

namespace {

constexpr size_t kCount = 1000000;

const std::vector<uint64_t> &input()
{
	static const std::vector<uint64_t> v = [] {
		std::mt19937_64       rng(42);
		std::vector<uint64_t> out(kCount);
		for (auto &x : out)
			x = rng();
		return out;
	}();
	return v;
}

__attribute__((noinline)) int cmp_u64(const void *a, const void *b, void *)
{
	const uint64_t x = *static_cast<const uint64_t *>(a);
	const uint64_t y = *static_cast<const uint64_t *>(b);
	return x < y ? -1 : (x > y ? 1 : 0);
}

__attribute__((noinline)) bool less_u64(const uint64_t &a, const uint64_t &b)
{
	return a < b;
}

template <typename Sort>
void run(benchmark::State &state, Sort sort)
{
	std::vector<uint64_t> v;
	for (auto _ : state) {
		state.PauseTiming();
		v = input();
		state.ResumeTiming();
		sort(v);
		benchmark::DoNotOptimize(v.data());
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCount));
}

void BM_M_sort_qsort(benchmark::State &state)
{
	run(state, [](std::vector<uint64_t> &v) { M_sort_qsort(v.data(), v.size(), sizeof(uint64_t), cmp_u64, nullptr); });
}

void BM_std_sort(benchmark::State &state)
{
	run(state, [](std::vector<uint64_t> &v) { std::sort(v.begin(), v.end()); });
}

void BM_std_sort_fnptr(benchmark::State &state)
{
	run(state, [](std::vector<uint64_t> &v) { std::sort(v.begin(), v.end(), less_u64); });
}

void BM_M_sort_mergesort(benchmark::State &state)
{
	run(state,
	    [](std::vector<uint64_t> &v) { M_sort_mergesort(v.data(), v.size(), sizeof(uint64_t), cmp_u64, nullptr); });
}

void BM_std_stable_sort(benchmark::State &state)
{
	run(state, [](std::vector<uint64_t> &v) { std::stable_sort(v.begin(), v.end()); });
}

void BM_std_stable_sort_fnptr(benchmark::State &state)
{
	run(state, [](std::vector<uint64_t> &v) { std::stable_sort(v.begin(), v.end(), less_u64); });
}

} // namespace

BENCHMARK(BM_M_sort_qsort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_sort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_sort_fnptr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_M_sort_mergesort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_stable_sort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_stable_sort_fnptr)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
