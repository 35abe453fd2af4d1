/* The walk that finds a raw DEFLATE stream's last block, against zlib's
 * inflate: both accept the same inputs, and find the last block's header
 * and the stream's end at the same bits. The corpus holds streams of every
 * block kind zlib writes (stored, fixed, dynamic, empty flush blocks, a
 * preset dictionary), hand-made fixed blocks with the length symbols 285 to
 * 287, and such streams cut short or with single bits flipped; the empty
 * input reaches the walk as NULL. */
#include <tuple>

#include <zlib.h>

#include "fuzz_common.h"
#include "pgp/pgp_deflate_walk_int.h"

namespace {

/* The oracle: zlib inflating with Z_BLOCK, which stops after every block.
 * data_type then has 128 set at a block's end, 64 when that block was the
 * last, and in its low three bits the unused bits of the last byte taken.
 * {found, bit of the last block's header, bit after the stream}, or all 0
 * when zlib does not find one whole stream at the start of s[0 .. len). */
std::tuple<bool, uint64_t, uint64_t> zlib_last_block(const unsigned char *s, size_t len)
{
	z_stream z{};
	if (inflateInit2(&z, -15) != Z_OK)
		return {};
	unsigned char out[16384];
	uint64_t      start = 0;
	z.next_in           = const_cast<Bytef *>(s);
	z.avail_in          = static_cast<uInt>(len);
	std::tuple<bool, uint64_t, uint64_t> r{};
	for (;;) {
		z.next_out  = out;
		z.avail_out = sizeof(out);
		if (inflate(&z, Z_BLOCK) != Z_OK)
			break;
		if ((z.data_type & 128) == 0)
			continue;
		const uint64_t at = static_cast<uint64_t>(z.total_in) * 8 - static_cast<unsigned>(z.data_type & 7);
		if ((z.data_type & 64) != 0) {
			r = {true, start, at};
			break;
		}
		start = at;
	}
	inflateEnd(&z);
	return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_copy<unsigned char> in(data, size);
	uint64_t                 last = 0;
	uint64_t                 end  = 0;
	const bool               ok   = m::detail::deflate_last_block(in.get(), size, &last, &end);
	FUZZ_CHECK(std::make_tuple(ok, ok ? last : 0, ok ? end : 0) == zlib_last_block(in.get(), size));
	return 0;
}
