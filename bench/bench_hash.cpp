/* String-keyed index table against the standard unordered map.
 *
 * 1,000,000 short keys ("k" followed by a decimal number, 2 to 7 bytes) are
 * inserted into a fresh table, then looked up in a second pass. The table
 * starts at 16 buckets with fill 75, as a caller that does not know the size
 * ahead would create it, so the insert figures include every doubling.
 */
#include <benchmark/benchmark.h>

#include "containers/m_hash_stridx.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

constexpr size_t kKeys = 1000000;

const std::vector<std::string> &keys()
{
	static const std::vector<std::string> k = [] {
		std::vector<std::string> v;
		v.reserve(kKeys);
		for (size_t i = 0; i < kKeys; i++) {
			// Appended, not "k" + ...: that form makes GCC 12 at -O3 report a
			// false -Wrestrict overlap inside std::string.
			std::string key = "k";
			key += std::to_string(i);
			v.push_back(std::move(key));
		}
		return v;
	}();
	return k;
}

void BM_stridx_insert(benchmark::State &state)
{
	const auto &k = keys();
	for (auto _ : state) {
		M_hash_stridx_t *h = M_hash_stridx_create(16, 75, M_HASH_STRIDX_NONE);
		for (size_t i = 0; i < kKeys; i++)
			M_hash_stridx_insert(h, k[i].c_str(), i);
		state.PauseTiming();
		M_hash_stridx_destroy(h);
		state.ResumeTiming();
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeys));
}

void BM_unordered_map_insert(benchmark::State &state)
{
	const auto &k = keys();
	for (auto _ : state) {
		auto *m = new std::unordered_map<std::string, size_t>();
		for (size_t i = 0; i < kKeys; i++)
			m->emplace(k[i], i);
		state.PauseTiming();
		delete m;
		state.ResumeTiming();
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeys));
}

void BM_stridx_lookup(benchmark::State &state)
{
	const auto      &k = keys();
	M_hash_stridx_t *h = M_hash_stridx_create(16, 75, M_HASH_STRIDX_NONE);
	for (size_t i = 0; i < kKeys; i++)
		M_hash_stridx_insert(h, k[i].c_str(), i);
	for (auto _ : state) {
		size_t sum = 0;
		for (size_t i = 0; i < kKeys; i++)
			sum += M_hash_stridx_get_direct(h, k[i].c_str());
		benchmark::DoNotOptimize(sum);
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeys));
	M_hash_stridx_destroy(h);
}

void BM_unordered_map_lookup(benchmark::State &state)
{
	const auto                             &k = keys();
	std::unordered_map<std::string, size_t> m;
	for (size_t i = 0; i < kKeys; i++)
		m.emplace(k[i], i);
	for (auto _ : state) {
		size_t sum = 0;
		for (size_t i = 0; i < kKeys; i++)
			sum += m.find(k[i])->second;
		benchmark::DoNotOptimize(sum);
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeys));
}

} // namespace

BENCHMARK(BM_stridx_insert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_unordered_map_insert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_stridx_lookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_unordered_map_lookup)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
