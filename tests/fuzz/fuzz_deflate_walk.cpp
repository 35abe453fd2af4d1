/* The walk that finds a raw DEFLATE stream's last block, against zlib's
 * inflate: both accept the same inputs, and find the last block's header
 * and the stream's end at the same bits. The corpus holds streams of every
 * block kind zlib writes (stored, fixed, dynamic, empty flush blocks, a
 * preset dictionary), hand-made fixed blocks with the length symbols 285 to
 * 287, and such streams cut short or with single bits flipped; the empty
 * input reaches the walk as NULL. */
#include "fuzz_common.h"
#include "pgp/pgp_deflate_walk_int.h"
#include "tests/pgp/zlib_last_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_copy<unsigned char> in(data, size);
	uint64_t                 last = 0, end = 0;
	const bool               ok = m::detail::deflate_last_block(in.get(), size, &last, &end);
	FUZZ_CHECK(std::make_tuple(ok, ok ? last : 0, ok ? end : 0) == zlib_last_block(in.get(), size));
	return 0;
}
