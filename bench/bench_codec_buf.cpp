/* Base64 decoding and small byte-buffer appends.
 *
 * Base64: 1 MiB of text wrapped at 76 characters, the shape of an export data
 * block, decoded by M_base64_decode and by OpenSSL. EVP_DecodeBlock does not
 * accept line feeds inside its input, so on the wrapped bytes it is called
 * once per line (the way a caller would have to use it); it is also run on the
 * same text without line feeds, and OpenSSL's streaming decoder (which does
 * accept line feeds) runs on the wrapped text as it is. Throughput counts
 * input characters.
 *
 * Buffer: many small M_buf_add_bytes calls into a fresh buffer (growth,
 * wiping of replaced blocks and first-touch page faults included), and into a
 * buffer reused at its full capacity; std::string appends of the same pieces
 * as a reference.
 */
#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "formats/m_base64.h"

namespace {

constexpr size_t kTextSize = 1024 * 1024;
constexpr size_t kWrap     = 76;

struct Corpus {
	std::string wrapped;   /* ~1 MiB of Base64 text, lines of 76 characters */
	std::string unwrapped; /* the same characters without line feeds */
	size_t      bytes;     /* decoded size */
};

const Corpus &corpus()
{
	static const Corpus c = [] {
		Corpus k;
		/* 57 bytes make one 76-character line; fill 1 MiB with whole lines. */
		const size_t lines = kTextSize / (kWrap + 1);
		k.bytes            = lines * 57;
		std::vector<unsigned char> raw(k.bytes);
		std::mt19937               rng(42);
		for (auto &b : raw)
			b = static_cast<unsigned char>(rng());
		std::vector<char> text(M_base64_encode_size(k.bytes, kWrap));
		const size_t      n = M_base64_encode(text.data(), text.size(), raw.data(), raw.size(), kWrap);
		k.wrapped.assign(text.data(), n);
		k.wrapped += '\n';
		for (char ch : k.wrapped) {
			if (ch != '\n')
				k.unwrapped += ch;
		}
		return k;
	}();
	return c;
}

void BM_M_base64_decode_wrapped(benchmark::State &state)
{
	const Corpus              &c = corpus();
	std::vector<unsigned char> out(c.bytes + 3);
	for (auto _ : state) {
		const size_t n = M_base64_decode(out.data(), out.size(), c.wrapped.data(), c.wrapped.size());
		if (n != c.bytes)
			state.SkipWithError("decode failed");
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.wrapped.size()));
}
BENCHMARK(BM_M_base64_decode_wrapped);

void BM_M_base64_decode_unwrapped(benchmark::State &state)
{
	const Corpus              &c = corpus();
	std::vector<unsigned char> out(c.bytes + 3);
	for (auto _ : state) {
		const size_t n = M_base64_decode(out.data(), out.size(), c.unwrapped.data(), c.unwrapped.size());
		if (n != c.bytes)
			state.SkipWithError("decode failed");
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.unwrapped.size()));
}
BENCHMARK(BM_M_base64_decode_unwrapped);

/* EVP_DecodeBlock on the wrapped bytes, one call per line. */
void BM_OpenSSL_DecodeBlock_wrapped_per_line(benchmark::State &state)
{
	const Corpus              &c = corpus();
	std::vector<unsigned char> out(c.bytes + 3);
	const unsigned char       *text = reinterpret_cast<const unsigned char *>(c.wrapped.data());
	for (auto _ : state) {
		size_t pos = 0;
		size_t o   = 0;
		while (pos < c.wrapped.size()) {
			const void  *nl = std::memchr(text + pos, '\n', c.wrapped.size() - pos);
			const size_t end =
			    nl ? static_cast<size_t>(static_cast<const unsigned char *>(nl) - text) : c.wrapped.size();
			const int n = EVP_DecodeBlock(out.data() + o, text + pos, static_cast<int>(end - pos));
			if (n < 0) {
				state.SkipWithError("decode failed");
				break;
			}
			o += static_cast<size_t>(n);
			pos = end + 1;
		}
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.wrapped.size()));
}
BENCHMARK(BM_OpenSSL_DecodeBlock_wrapped_per_line);

void BM_OpenSSL_DecodeBlock_unwrapped(benchmark::State &state)
{
	const Corpus              &c = corpus();
	std::vector<unsigned char> out(c.bytes + 3);
	for (auto _ : state) {
		const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(c.unwrapped.data()),
		                              static_cast<int>(c.unwrapped.size()));
		if (n < 0)
			state.SkipWithError("decode failed");
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.unwrapped.size()));
}
BENCHMARK(BM_OpenSSL_DecodeBlock_unwrapped);

void BM_OpenSSL_DecodeUpdate_wrapped(benchmark::State &state)
{
	const Corpus              &c = corpus();
	std::vector<unsigned char> out(c.bytes + 80);
	EVP_ENCODE_CTX            *ctx = EVP_ENCODE_CTX_new();
	for (auto _ : state) {
		EVP_DecodeInit(ctx);
		int n   = 0;
		int fin = 0;
		if (EVP_DecodeUpdate(ctx, out.data(), &n, reinterpret_cast<const unsigned char *>(c.wrapped.data()),
		                     static_cast<int>(c.wrapped.size())) < 0 ||
		    EVP_DecodeFinal(ctx, out.data() + n, &fin) < 0)
			state.SkipWithError("decode failed");
		benchmark::DoNotOptimize(out.data());
	}
	EVP_ENCODE_CTX_free(ctx);
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.wrapped.size()));
}
BENCHMARK(BM_OpenSSL_DecodeUpdate_wrapped);

/* 64 Ki appends of state.range(0) bytes into a new buffer. */
constexpr size_t kPieces = 64 * 1024;

void BM_M_buf_add_bytes_small(benchmark::State &state)
{
	const size_t      piece = static_cast<size_t>(state.range(0));
	const std::string data(piece, 'x');
	for (auto _ : state) {
		M_buf_t *buf = M_buf_create();
		for (size_t i = 0; i < kPieces; i++)
			M_buf_add_bytes(buf, data.data(), piece);
		benchmark::DoNotOptimize(M_buf_peek(buf));
		M_buf_cancel(buf);
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPieces));
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPieces * piece));
}
BENCHMARK(BM_M_buf_add_bytes_small)->Arg(1)->Arg(4)->Arg(16)->Arg(64);

/* The same appends into a buffer that already has its capacity (emptied
 * with M_buf_truncate between rounds): the steady-state cost of one append,
 * without growth, page faults or wiping of replaced blocks. */
void BM_M_buf_add_bytes_small_reused(benchmark::State &state)
{
	const size_t      piece = static_cast<size_t>(state.range(0));
	const std::string data(piece, 'x');
	M_buf_t          *buf = M_buf_create();
	for (auto _ : state) {
		M_buf_truncate(buf, 0);
		for (size_t i = 0; i < kPieces; i++)
			M_buf_add_bytes(buf, data.data(), piece);
		benchmark::DoNotOptimize(M_buf_peek(buf));
	}
	M_buf_cancel(buf);
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPieces));
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPieces * piece));
}
BENCHMARK(BM_M_buf_add_bytes_small_reused)->Arg(1)->Arg(4)->Arg(16)->Arg(64);

void BM_std_string_append_small_reused(benchmark::State &state)
{
	const size_t      piece = static_cast<size_t>(state.range(0));
	const std::string data(piece, 'x');
	std::string       s;
	for (auto _ : state) {
		s.clear();
		for (size_t i = 0; i < kPieces; i++)
			s.append(data.data(), piece);
		benchmark::DoNotOptimize(s.data());
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPieces));
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPieces * piece));
}
BENCHMARK(BM_std_string_append_small_reused)->Arg(1)->Arg(4)->Arg(16)->Arg(64);

void BM_std_string_append_small(benchmark::State &state)
{
	const size_t      piece = static_cast<size_t>(state.range(0));
	const std::string data(piece, 'x');
	for (auto _ : state) {
		std::string s;
		for (size_t i = 0; i < kPieces; i++)
			s.append(data.data(), piece);
		benchmark::DoNotOptimize(s.data());
	}
	state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPieces));
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPieces * piece));
}
BENCHMARK(BM_std_string_append_small)->Arg(1)->Arg(4)->Arg(16)->Arg(64);

} // namespace

BENCHMARK_MAIN();
