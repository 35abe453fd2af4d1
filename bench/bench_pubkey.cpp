/* Reading every key of a real keyring with the public key reader.
 *
 * The keyring (default: the Debian developer keyring of package
 * debian-keyring, /usr/share/keyrings/debian-keyring.gpg; $BENCH_KEYRING to
 * choose another) is cut into its keys, at each primary key packet, before
 * timing; one iteration then reads each key on its own with
 * M_pgp_pubkey_create, as the program reads a key file. Keys the reader
 * refuses count like the others: the time is that of reading, whatever the
 * outcome. The counters give the number of keys and how many were refused.
 *
 * Run: bench/bench_pubkey in a Release build folder; note the machine's load
 * (uptime) with the figures.
 */
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pgp/pgp_pubkey.h"

namespace {

using bytes = std::vector<unsigned char>;

/* Offsets of the primary key packets (tag 6) of a run of packets, and the
 * end; empty when the packet framing breaks. Old and new packet headers. */
std::vector<size_t> key_starts(const bytes &d)
{
	std::vector<size_t> starts;
	size_t              i = 0;
	while (i < d.size()) {
		const size_t   at  = i;
		const unsigned ctb = d[i++];
		unsigned       tag = 0;
		uint64_t       len = 0;
		if ((ctb & 0x80) == 0)
			return {};
		if (ctb & 0x40) {
			tag = ctb & 0x3f;
			if (i >= d.size())
				return {};
			if (d[i] < 192) {
				len = d[i++];
			} else if (d[i] < 224 && i + 1 < d.size()) {
				len = ((uint64_t)(d[i] - 192) << 8) + d[i + 1] + 192;
				i += 2;
			} else if (d[i] == 255 && i + 4 < d.size()) {
				len = (uint64_t)d[i + 1] << 24 | (uint64_t)d[i + 2] << 16 | (uint64_t)d[i + 3] << 8 | d[i + 4];
				i += 5;
			} else {
				return {}; /* partial lengths: never in a key */
			}
		} else {
			tag             = (ctb >> 2) & 0x0f;
			const size_t nl = (size_t)1 << (ctb & 3);
			if ((ctb & 3) == 3 || i + nl > d.size())
				return {};
			for (size_t k = 0; k < nl; k++)
				len = len << 8 | d[i++];
		}
		if (len > d.size() - i)
			return {};
		if (tag == 6)
			starts.push_back(at);
		i += (size_t)len;
	}
	starts.push_back(d.size());
	return starts;
}

void BM_pubkey_read_keyring(benchmark::State &state)
{
	const char               *env  = std::getenv("BENCH_KEYRING");
	const std::string         path = env != nullptr && *env != '\0' ? env : "/usr/share/keyrings/debian-keyring.gpg";
	std::ifstream             in(path, std::ios::binary);
	const bytes               ring((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	const std::vector<size_t> starts = key_starts(ring);
	if (starts.size() < 2) {
		state.SkipWithError(("no keys read from " + path).c_str());
		return;
	}
	size_t refused = 0;
	for (auto _ : state) {
		refused = 0;
		for (size_t k = 0; k + 1 < starts.size(); k++) {
			char            err[256];
			M_pgp_pubkey_t *key =
			    M_pgp_pubkey_create(ring.data() + starts[k], starts[k + 1] - starts[k], err, sizeof(err));
			refused += key == nullptr;
			M_pgp_pubkey_destroy(key);
		}
	}
	state.counters["keys"]    = static_cast<double>(starts.size() - 1);
	state.counters["refused"] = static_cast<double>(refused);
}

BENCHMARK(BM_pubkey_read_keyring)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(2);

} // namespace

BENCHMARK_MAIN();
