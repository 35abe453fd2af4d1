/* The allocator (size header, 0xFF wipe on free, out-of-memory callbacks)
 * and the NULL-tolerant byte operations with their table-driven CRCs.
 *
 * Why a header: the runtime does not tell how large a block is, and both
 * M_realloc (which always moves, so it must know how much to copy) and
 * M_free (which wipes the whole block) need that size. Sixteen bytes keep
 * the caller's pointer on the runtime's 16-byte alignment.
 *
 * Why the wipe: key material, card tokens and decrypted text pass through
 * ordinary heap blocks; filling every block with 0xFF before it goes back
 * to the runtime leaves nothing behind for a later allocation (or a core
 * dump) to find. The all-ones size it leaves in the header doubles as a
 * marker that catches a second free while the memory is still unused.
 *
 * Why callbacks: the program has no sensible way to continue without
 * memory, so exhaustion is not reported to callers at all; the callback
 * table lets an embedding application release caches and retry first.
 *
 * Why large blocks are mappings of their own: the byte buffer grows a table
 * of hundreds of megabytes by doubling. Moving such a block the ordinary way
 * (new block, copy, wipe and free the old one) costs a copy, a wipe and fresh
 * page faults for every byte at every doubling. A block of kMapThreshold
 * bytes or more is therefore an anonymous mapping of its own, aligned to and
 * sized in 2 MiB steps. Where the system can move pages (Linux's mremap), a
 * growing mapping moves them: no byte is copied and no copy is left behind,
 * so the wipe rule holds without a wipe at growth; the mappings are marked
 * for transparent huge pages, so a fresh table costs one page fault per
 * 2 MiB instead of one per 4 KiB. Elsewhere a mapping grows by copy, and the
 * old one is wiped before it goes (m_mem_posix.cpp, m_mem_win.cpp).
 *
 * The wipe rule for mappings (M_free): every page of the mapping that is
 * resident is filled with 0xFF before it is unmapped. A page that is not
 * resident was never written (it reads as zeros and holds nothing) or was
 * swapped out, and then its bytes already lie in the swap area, where a wipe
 * in memory cannot reach them (swapping it back in to wipe it would leave
 * the swap copy as it is). Skipping those pages, where the system tells which
 * they are, spares faulting in the unused tail of a doubled capacity just to
 * overwrite it.
 *
 * The CRC tables are generated at compile time from their polynomials
 * (catalogue parameters in m_mem.h) and pinned by static_asserts. */
#include "core/m_mem.h"
#include "core/m_mem_int.h"
#include "core/m_mem_sys_int.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t   kHeaderSize = 16;
constexpr uint64_t kAllOnes    = ~static_cast<uint64_t>(0);

static_assert(sizeof(size_t) == sizeof(uint64_t), "the size header holds a 64-bit size");

m::detail::runtime_malloc_fn g_alloc   = nullptr;
m::detail::runtime_free_fn   g_release = nullptr;
m::detail::unmap_fn          g_unmap   = nullptr;

/* Blocks (header included) of this many bytes or more are mappings of their
 * own; smaller ones come from the runtime, which reuses its memory without
 * new page faults. The CSV blocks of an export stay well below it; the token
 * table and the message buffers built from it cross it early. */
constexpr size_t kMapThreshold = static_cast<size_t>(16) << 20;

/* Mappings are aligned to and sized in steps of the huge page size. */
constexpr size_t kMapAlign = m::detail::kMemMapAlign;

void *runtime_alloc(size_t len) noexcept
{
	return g_alloc != nullptr ? g_alloc(len) : std::malloc(len);
}

void runtime_release(void *p) noexcept
{
	if (g_release != nullptr) {
		g_release(p);
	} else {
		std::free(p);
	}
}

/* Out-of-memory callback table: slot 0 is the permanent default handler,
 * slots 1..12 the user's callbacks in order of registration. */
constexpr size_t  kErrorCbSlots              = 13;
M_malloc_error_cb g_error_cbs[kErrorCbSlots] = {M_malloc_error};
size_t            g_error_cb_count           = 1;

[[noreturn]] void die(const char *msg) noexcept
{
	m::detail::mem_write_stderr(msg);
	std::abort();
}

bool size_refused(size_t size) noexcept
{
	return size == 0 || size >= SIZE_MAX - (kHeaderSize - 1);
}

/* The out-of-memory policy around one way of getting memory: attempt() is
 * tried, and while it yields nullptr the callbacks are consulted.
 *
 * The callback count is read once per request and n only ever steps down,
 * so every callback runs at most once per request, newest first, and the
 * default handler in slot 0 (which aborts) runs last. A callback returning
 * true sends us back to attempt(); one returning false passes the request
 * on to the next older callback. */
template <typename Attempt>
unsigned char *with_oom_policy(Attempt attempt) noexcept
{
	size_t n = g_error_cb_count;
	for (;;) {
		unsigned char *got = attempt();
		if (got != nullptr)
			return got;
		if (n == 0)
			return nullptr;
		bool retry = false;
		while (n > 0) {
			n--;
			M_malloc_error_cb cb = g_error_cbs[n];
			if (cb != nullptr && cb()) {
				retry = true;
				break;
			}
		}
		if (!retry)
			return nullptr;
	}
}

void write_header(unsigned char *block, uint64_t size, uint64_t map_len) noexcept
{
	std::memcpy(block, &size, sizeof(size));
	std::memcpy(block + sizeof(size), &map_len, sizeof(map_len));
}

/* Whether a block of size caller bytes is a mapping of its own. A replaced
 * runtime (the tests' observer) sees every block. */
bool maps(size_t size) noexcept
{
	return g_alloc == nullptr && size >= kMapThreshold - kHeaderSize;
}

/* Mapping length for size caller bytes: header included, rounded up to the
 * alignment step. 0 when that does not fit a size_t. */
size_t map_length(size_t size) noexcept
{
	if (size > SIZE_MAX - kHeaderSize - kMapAlign)
		return 0;
	return (size + kHeaderSize + kMapAlign - 1) & ~(kMapAlign - 1);
}

void release_mapping(void *base, size_t len) noexcept
{
	if (g_unmap != nullptr) {
		g_unmap(base, len);
	} else {
		m::detail::mem_map_release(base, len);
	}
}

/* Allocation with the out-of-memory policy; size already checked. */
void *alloc_block(size_t size) noexcept
{
	if (maps(size)) {
		const size_t len = map_length(size);
		if (len == 0)
			return nullptr;
		unsigned char *block = with_oom_policy([len] { return m::detail::mem_map_new(len); });
		if (block == nullptr)
			return nullptr;
		write_header(block, size, len);
		return block + kHeaderSize;
	}
	unsigned char *block =
	    with_oom_policy([size] { return static_cast<unsigned char *>(runtime_alloc(size + kHeaderSize)); });
	if (block == nullptr)
		return nullptr;
	write_header(block, size, 0);
	return block + kHeaderSize;
}

uint64_t stored_size(const void *ptr) noexcept
{
	uint64_t size;
	std::memcpy(&size, static_cast<const unsigned char *>(ptr) - kHeaderSize, sizeof(size));
	return size;
}

/* The header checks of M_free: the pointer -1, a header that would lie at
 * or below address 0, and a recorded size that no live block can have (0,
 * all ones, or any size the allocator refuses) end the process. Yields the
 * recorded size of a sound block. */
size_t checked_size(const void *ptr) noexcept
{
	if (reinterpret_cast<uintptr_t>(ptr) == UINTPTR_MAX)
		die("M_free(): invalid pointer address\n");
	if (reinterpret_cast<uintptr_t>(ptr) <= kHeaderSize)
		die("M_free(): double-free or corrupt memory\n");
	const uint64_t size = stored_size(ptr);
	if (size == kAllOnes || size_refused(static_cast<size_t>(size)))
		die("M_free(): double-free or corrupt memory\n");
	return static_cast<size_t>(size);
}

/* Mapping length recorded for a checked block: 0 for a runtime block. A
 * length that cannot belong to the recorded size is a corrupt header. */
size_t checked_map_length(const void *ptr, size_t size) noexcept
{
	uint64_t len;
	std::memcpy(&len, static_cast<const unsigned char *>(ptr) - kHeaderSize + sizeof(uint64_t), sizeof(len));
	if (len == 0)
		return 0;
	if (len % kMapAlign != 0 || len < map_length(size))
		die("M_free(): double-free or corrupt memory\n");
	return static_cast<size_t>(len);
}

/* Shared body of M_realloc and M_realloc_zero. The old header is checked
 * before its size is trusted for the copy: a corrupt size would otherwise
 * drive an out-of-bounds read (and an all-ones size a wrapped allocation)
 * before M_free ever saw it. */
void *realloc_common(void *ptr, size_t size, bool zero) noexcept
{
	if (ptr == nullptr)
		return zero ? M_malloc_zero(size) : M_malloc(size);
	if (size == 0) {
		M_free(ptr);
		return nullptr;
	}
	if (size_refused(size))
		return nullptr;

	const size_t old_size = checked_size(ptr);
	const size_t old_map  = checked_map_length(ptr, old_size);
	const size_t new_size = size > old_size ? size : old_size;

	if (old_map != 0) {
		/* A mapping grows by moving its pages; it never shrinks. Bytes past the
		 * old mapping come from the kernel as zeros, so only the rest of the old
		 * mapping needs clearing for the zeroing form. */
		unsigned char *block = static_cast<unsigned char *>(ptr) - kHeaderSize;
		const size_t   len   = map_length(new_size);
		if (len == 0)
			return nullptr;
		if (len > old_map) {
			block = with_oom_policy([block, old_map, len] { return m::detail::mem_map_grow(block, old_map, len); });
			if (block == nullptr)
				return nullptr;
		}
		write_header(block, new_size, len > old_map ? len : old_map);
		if (zero && size > old_size) {
			const size_t old_end = old_map - kHeaderSize;
			const size_t clear   = (size < old_end ? size : old_end);
			if (clear > old_size)
				std::memset(block + kHeaderSize + old_size, 0, clear - old_size);
		}
		return block + kHeaderSize;
	}

	auto *block = static_cast<unsigned char *>(alloc_block(new_size));
	if (block == nullptr)
		return nullptr;
	std::memcpy(block, ptr, old_size);
	if (zero && size > old_size)
		std::memset(block + old_size, 0, size - old_size);
	M_free(ptr);
	return block;
}

/* CRC tables generated at compile time from their polynomials: most
 * significant bit first (CRC-8, CRC-16) or, with reflect, least significant
 * bit first with the reversed polynomial (CRC-32). */
template <typename T, uint32_t kPoly, bool kReflect>
constexpr std::array<T, 256> make_crc_table()
{
	constexpr uint32_t kTop = uint32_t{1} << (sizeof(T) * 8 - 1);
	std::array<T, 256> t{};
	for (uint32_t i = 0; i < 256; i++) {
		uint32_t crc = kReflect ? i : i << (sizeof(T) * 8 - 8);
		for (int b = 0; b < 8; b++) {
			if (kReflect)
				crc = (crc & 1) ? ((crc >> 1) ^ kPoly) : (crc >> 1);
			else
				crc = (crc & kTop) ? ((crc << 1) ^ kPoly) : (crc << 1);
		}
		t[i] = static_cast<T>(crc);
	}
	return t;
}

constexpr auto kCrc8Table  = make_crc_table<uint8_t, 0x07u, false>();
constexpr auto kCrc16Table = make_crc_table<uint16_t, 0x1021u, false>();
constexpr auto kCrc32Table = make_crc_table<uint32_t, 0xEDB88320u, true>();

static_assert(kCrc32Table[1] == 0x77073096u, "CRC-32 table generated from 0xEDB88320");
static_assert(kCrc16Table[1] == 0x1021u, "CRC-16 table generated from 0x1021");
static_assert(kCrc8Table[1] == 0x07u, "CRC-8 table generated from 0x07");

/* What both searches answer before looking: no hay finds nothing, an empty
 * needle is found at the hay's start, and a needle longer than the hay is not
 * in it. true when *found holds the answer. */
[[nodiscard]] bool search_decided(const void *hay, size_t hlen, const void *needle, size_t nlen, void **found) noexcept
{
	*found = nullptr;
	if (hay == nullptr || hlen == 0)
		return true;
	if (needle == nullptr || nlen == 0) {
		*found = const_cast<void *>(hay);
		return true;
	}
	return nlen > hlen;
}

} // namespace

namespace m::detail {

void mem_set_runtime(runtime_malloc_fn alloc, runtime_free_fn release) noexcept
{
	g_alloc   = alloc;
	g_release = release;
}

void mem_set_unmap(unmap_fn unmap) noexcept
{
	g_unmap = unmap;
}

size_t mem_map_threshold() noexcept
{
	return kMapThreshold;
}

} // namespace m::detail

extern "C" {

void *M_malloc(size_t size)
{
	if (size_refused(size))
		return nullptr;
	return alloc_block(size);
}

void *M_malloc_zero(size_t size)
{
	void *p = M_malloc(size);
	/* A fresh mapping is zero already; clearing it would only fault it in. */
	if (p != nullptr && checked_map_length(p, size) == 0)
		std::memset(p, 0, size);
	return p;
}

void *M_realloc(void *ptr, size_t size)
{
	return realloc_common(ptr, size, false);
}

void *M_realloc_zero(void *ptr, size_t size)
{
	return realloc_common(ptr, size, true);
}

void *M_memdup(const void *src, size_t len)
{
	if (src == nullptr || len == 0)
		return nullptr;
	void *p = M_malloc(len);
	if (p != nullptr)
		std::memcpy(p, src, len);
	return p;
}

void *M_memdup_max(const void *src, size_t len, size_t min_alloc)
{
	if (src == nullptr && len != 0)
		return nullptr;
	void *p = M_malloc(len > min_alloc ? len : min_alloc);
	if (p != nullptr && len != 0)
		std::memcpy(p, src, len);
	return p;
}

void M_free(void *ptr)
{
	if (ptr == nullptr)
		return;
	const size_t size    = checked_size(ptr);
	const size_t map_len = checked_map_length(ptr, size);
	auto        *block   = static_cast<unsigned char *>(ptr) - kHeaderSize;
	if (map_len != 0) {
		m::detail::mem_map_wipe(block, map_len);
		volatile unsigned char *vmap = block;
		// cppcheck-suppress selfAssignment ; the volatile read and write are the point
		vmap[0] = vmap[0];
		__asm__ __volatile__("" : : "r"(block) : "memory");
		release_mapping(block, map_len);
		return;
	}
	std::memset(block, 0xFF, size + kHeaderSize);
	/* Keep the wipe: a volatile read and write back of the first byte makes
	 * the fill observable, so it cannot be dropped as a dead store; the
	 * compiler barrier tells the optimiser that all of the block may be read
	 * before the release, so no part of the fill may be trimmed either. */
	volatile unsigned char *vblock = block;
	// cppcheck-suppress selfAssignment ; the volatile read and write are the point
	vblock[0] = vblock[0];
	__asm__ __volatile__("" : : "r"(block) : "memory");
	runtime_release(block);
}

M_bool M_malloc_register_errorcb(M_malloc_error_cb cb)
{
	if (cb == nullptr || g_error_cb_count >= kErrorCbSlots)
		return M_FALSE;
	g_error_cbs[g_error_cb_count++] = cb;
	return M_TRUE;
}

M_bool M_malloc_deregister_errorcb(M_malloc_error_cb cb)
{
	if (cb == nullptr || g_error_cb_count <= 1 || cb == M_malloc_error)
		return M_FALSE;
	for (size_t i = 1; i < g_error_cb_count; i++) {
		if (g_error_cbs[i] != cb)
			continue;
		for (size_t j = i; j + 1 < g_error_cb_count; j++)
			g_error_cbs[j] = g_error_cbs[j + 1];
		g_error_cb_count--;
		g_error_cbs[g_error_cb_count] = nullptr;
		return M_TRUE;
	}
	return M_FALSE;
}

void M_malloc_clear_errorcb(void)
{
	for (size_t i = 1; i < kErrorCbSlots; i++)
		g_error_cbs[i] = nullptr;
	g_error_cb_count = 1;
}

M_bool M_malloc_error(void)
{
	die("********OUT OF MEMORY*********\n");
}

void M_mem_wipe_release(void *ptr, size_t len)
{
	if (ptr == nullptr || len == 0)
		return;
	auto *p = static_cast<unsigned char *>(ptr);
	std::memset(p, 0xFF, len);
	/* Only whole pages can be given back. */
	const size_t page = m::detail::mem_page_size();
	const size_t head = (page - reinterpret_cast<uintptr_t>(p) % page) % page;
	if (len <= head)
		return;
	const size_t whole = (len - head) / page * page;
	if (whole != 0)
		m::detail::mem_pages_discard(p + head, whole);
}

void *M_mem_set(void *dst, int byte, size_t len)
{
	if (dst == nullptr || len == 0)
		return nullptr;
	return std::memset(dst, byte, len);
}

void *M_mem_copy(void *dst, const void *src, size_t len)
{
	if (dst == nullptr)
		return nullptr;
	if (src == nullptr || len == 0)
		return dst;
	return std::memmove(dst, src, len);
}

void *M_mem_move(void *dst, const void *src, size_t len)
{
	return M_mem_copy(dst, src, len);
}

/* Constant-time in the position of a difference: the loop folds every
 * pair into the accumulator and decides only at the end, so comparing
 * secrets (keys, MACs) does not leak where they first differ. */
M_bool M_mem_eq(const void *a, const void *b, size_t len)
{
	if (a == b)
		return M_TRUE;
	if (a == nullptr || b == nullptr)
		return M_FALSE;
	const auto   *pa  = static_cast<const unsigned char *>(a);
	const auto   *pb  = static_cast<const unsigned char *>(b);
	unsigned char acc = 0;
	for (size_t i = 0; i < len; i++)
		acc |= static_cast<unsigned char>(pa[i] ^ pb[i]);
	return acc == 0;
}

/* Length first, then content: this is an order for sorting and lookup,
 * not a lexical one, and it saves the byte walk for ranges of different
 * lengths. */
int M_mem_cmpsort(const void *a, size_t alen, const void *b, size_t blen)
{
	if (a == b || (alen == 0 && blen == 0))
		return 0;
	if (a == nullptr)
		return -1;
	if (b == nullptr)
		return 1;
	if (alen != blen)
		return alen < blen ? -1 : 1;
	return std::memcmp(a, b, alen);
}

void *M_mem_chr(const void *buf, int byte, size_t len)
{
	if (buf == nullptr || len == 0)
		return nullptr;
	return const_cast<void *>(std::memchr(buf, byte, len));
}

/* memchr finds each candidate start quickly; only there is the whole
 * needle compared (with the no-early-exit comparison). Candidates beyond
 * hlen - nlen are never examined, so the comparison never reads past hay. */
void *M_mem_mem(const void *hay, size_t hlen, const void *needle, size_t nlen)
{
	void *found = nullptr;
	if (search_decided(hay, hlen, needle, nlen, &found))
		return found;

	const auto  *h     = static_cast<const unsigned char *>(hay);
	const auto  *n     = static_cast<const unsigned char *>(needle);
	const size_t last  = hlen - nlen;
	size_t       start = 0;
	while (start <= last) {
		const void *hit = std::memchr(h + start, n[0], last - start + 1);
		if (hit == nullptr)
			return nullptr;
		size_t pos = static_cast<size_t>(static_cast<const unsigned char *>(hit) - h);
		if (M_mem_eq(h + pos, n, nlen))
			return const_cast<unsigned char *>(h + pos);
		start = pos + 1;
	}
	return nullptr;
}

void *M_mem_rmem(const void *hay, size_t hlen, const void *needle, size_t nlen)
{
	void *found = nullptr;
	if (search_decided(hay, hlen, needle, nlen, &found))
		return found;

	const auto *h = static_cast<const unsigned char *>(hay);
	for (size_t pos = hlen - nlen + 1; pos-- > 0;) {
		if (M_mem_eq(h + pos, needle, nlen))
			return const_cast<unsigned char *>(h + pos);
	}
	return nullptr;
}

M_bool M_mem_mempos(const void *hay, size_t hlen, const void *needle, size_t nlen, size_t *idx)
{
	const void *hit = M_mem_mem(hay, hlen, needle, nlen);
	if (hit == nullptr)
		return M_FALSE;
	if (idx != nullptr)
		*idx = static_cast<size_t>(static_cast<const unsigned char *>(hit) - static_cast<const unsigned char *>(hay));
	return M_TRUE;
}

M_bool M_mem_contains(const void *hay, size_t hlen, const void *needle, size_t nlen)
{
	return M_mem_mem(hay, hlen, needle, nlen) != nullptr;
}

size_t M_mem_count(const void *buf, size_t len, uint8_t byte)
{
	if (buf == nullptr)
		return 0;
	const auto *p     = static_cast<const uint8_t *>(buf);
	size_t      count = 0;
	for (size_t i = 0; i < len; i++)
		count += (p[i] == byte);
	return count;
}

M_bool M_mem_swap_bytes(uint8_t *buf, size_t len, size_t idx1, size_t idx2)
{
	if (buf == nullptr || len == 0 || idx1 >= len || idx2 >= len)
		return M_FALSE;
	if (idx1 == idx2)
		return M_TRUE;
	uint8_t t = buf[idx1];
	buf[idx1] = buf[idx2];
	buf[idx2] = t;
	return M_TRUE;
}

uint8_t M_mem_calc_lrc(const void *buf, size_t len)
{
	if (buf == nullptr)
		return 0;
	const auto *p   = static_cast<const uint8_t *>(buf);
	uint8_t     lrc = 0;
	for (size_t i = 0; i < len; i++)
		lrc ^= p[i];
	return lrc;
}

uint8_t M_mem_calc_crc8_ccitt(const void *buf, size_t len)
{
	if (buf == nullptr || len == 0)
		return 0;
	const auto *p   = static_cast<const uint8_t *>(buf);
	uint8_t     crc = 0x00;
	for (size_t i = 0; i < len; i++)
		crc = kCrc8Table[crc ^ p[i]];
	return crc;
}

uint16_t M_mem_calc_crc16_ccitt(const void *buf, size_t len)
{
	if (buf == nullptr || len == 0)
		return 0;
	const auto *p   = static_cast<const uint8_t *>(buf);
	uint16_t    crc = 0xFFFF;
	for (size_t i = 0; i < len; i++)
		crc = static_cast<uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ p[i]) & 0xFF]);
	return crc;
}

uint32_t M_mem_calc_crc32(const void *buf, size_t len)
{
	if (buf == nullptr || len == 0)
		return 0;
	const auto *p   = static_cast<const uint8_t *>(buf);
	uint32_t    crc = 0xFFFFFFFFu;
	for (size_t i = 0; i < len; i++)
		crc = (crc >> 8) ^ kCrc32Table[(crc ^ p[i]) & 0xFF];
	return crc ^ 0xFFFFFFFFu;
}

} // extern "C"
