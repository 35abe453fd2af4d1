/* The oracle of the block walk (m::detail::deflate_last_block), shared by its
 * fuzz target and the walk's benchmark: zlib inflating a raw DEFLATE stream
 * with Z_BLOCK, which stops after every block. data_type then has 128 set at a
 * block's end, 64 when that block was the last, and in its low three bits
 * the unused bits of the last byte taken. */
#ifndef TESTS_PGP_ZLIB_LAST_BLOCK_H
#define TESTS_PGP_ZLIB_LAST_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <tuple>

#include <zlib.h>

/* {found, bit of the last block's header, bit after the stream}, or all 0
 * when zlib does not find one whole stream at the start of s[0 .. len). */
inline std::tuple<bool, uint64_t, uint64_t> zlib_last_block(const unsigned char *s, size_t len)
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

#endif /* TESTS_PGP_ZLIB_LAST_BLOCK_H */
