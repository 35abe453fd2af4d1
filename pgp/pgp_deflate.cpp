/* The compressor of the message's pieces: libdeflate at level 6, whose
 * streams are no larger than zlib's default level on token tables (a 155 MB
 * table: 44.9 MB against 45.5 MB) and made in well under half the time. See
 * pgp_deflate_int.h for how pieces join. */
#include "pgp/pgp_deflate_int.h"

#include <libdeflate.h>
#include <zlib.h>

#include "core/m_mem.h"
#include "pgp/pgp_deflate_walk_int.h"

struct M_pgp_deflater {
	libdeflate_compressor *c;
};

namespace {

constexpr int kDeflateLevel = 6;

/* The empty stored block that brings an open piece to a byte boundary: at
 * most 3 header bits and 7 padding bits before its LEN and NLEN. */
constexpr size_t kSyncLen = 2 + 4;

/* libdeflate's working memory comes from the library's allocator, so the
 * compressor's state (which holds pieces of the plaintext table) is wiped
 * when it is freed. libdeflate's hook is process-wide and may only be set
 * while none of its objects exists: a function-local static sets it exactly
 * once, before the first one is made, and is safe against concurrent first
 * calls. */
void *deflate_malloc(size_t n) noexcept
{
	return n == 0 ? nullptr : M_malloc(n);
}

void deflate_free(void *p) noexcept
{
	M_free(p);
}

void install_deflate_allocator() noexcept
{
	static const bool installed = [] {
		::libdeflate_set_memory_allocator(deflate_malloc, deflate_free);
		return true;
	}();
	(void)installed;
}

/* Leave the raw stream at a (alen bytes) open: its last block, whose header
 * starts at bit last and which ends at bit end, loses its final-block bit,
 * and an empty stored block that is not the last (header bits and padding
 * all zero, LEN 0, NLEN 0xFFFF) follows. a has room for kSyncLen more bytes.
 * Returns the stream's new length. */
size_t leave_open(unsigned char *a, uint64_t last, uint64_t end) noexcept
{
	a[last / 8] &= static_cast<unsigned char>(~(1U << (last % 8)));
	size_t k = static_cast<size_t>(end / 8);
	if (end % 8 != 0)
		a[k++] &= static_cast<unsigned char>((1U << (end % 8)) - 1);
	const size_t q = static_cast<size_t>((end + 3 + 7) / 8);
	for (; k < q; k++)
		a[k] = 0;
	a[q]     = 0x00;
	a[q + 1] = 0x00;
	a[q + 2] = 0xFF;
	a[q + 3] = 0xFF;
	return q + 4;
}

} // namespace

namespace m::detail {

size_t deflate_piece_bound(size_t len) noexcept
{
	return ::libdeflate_deflate_compress_bound(nullptr, len) + kSyncLen;
}

size_t deflate_piece(M_pgp_deflater_t *d, const unsigned char *src, size_t len, unsigned char *dst, size_t cap,
                     bool last) noexcept
{
	static const unsigned char empty = 0;
	if (d == nullptr || dst == nullptr || (src == nullptr && len != 0) || cap < kSyncLen)
		return 0;
	const size_t out = ::libdeflate_deflate_compress(d->c, len != 0 ? src : &empty, len, dst, cap - kSyncLen);
	if (out == 0 || last)
		return out;
	/* The walk must find one whole stream ending in the last byte. */
	uint64_t at_last = 0;
	uint64_t end     = 0;
	if (!deflate_last_block(dst, out, &at_last, &end) || end > static_cast<uint64_t>(out) * 8 ||
	    end + 8 <= static_cast<uint64_t>(out) * 8)
		return 0;
	return leave_open(dst, at_last, end);
}

uint32_t adler32_of(uint32_t adler, const unsigned char *bytes, size_t len) noexcept
{
	return len == 0 ? adler : ::libdeflate_adler32(adler, bytes, len);
}

uint32_t adler32_join(uint32_t a, uint32_t b, uint64_t b_len) noexcept
{
	/* The combination needs the length only modulo Adler-32's base, which
	 * keeps it within every z_off_t (32 bits on Windows). */
	constexpr uint64_t kAdlerBase = 65521;
	return static_cast<uint32_t>(::adler32_combine(a, b, static_cast<z_off_t>(b_len % kAdlerBase)));
}

} // namespace m::detail

extern "C" {

void M_pgp_deflate_use_library_memory(void)
{
	install_deflate_allocator();
}

M_pgp_deflater_t *M_pgp_deflater_create(void)
{
	install_deflate_allocator();
	libdeflate_compressor *c = ::libdeflate_alloc_compressor(kDeflateLevel);
	if (c == nullptr)
		return nullptr;
	auto *d = static_cast<M_pgp_deflater_t *>(M_malloc_zero(sizeof(M_pgp_deflater_t)));
	d->c    = c;
	return d;
}

void M_pgp_deflater_destroy(M_pgp_deflater_t *d)
{
	if (d == nullptr)
		return;
	::libdeflate_free_compressor(d->c);
	M_free(d);
}

} // extern "C"
