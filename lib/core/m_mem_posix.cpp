/* The allocator's system calls on POSIX: mmap, mremap, mincore, madvise and
 * write(2) for the fatal messages.
 *
 * A growing mapping moves its pages with mremap: the kernel relinks the page
 * tables, no byte is copied, and no copy is left behind in memory the
 * process gives up. Mappings are marked for transparent huge pages.
 */
#include "core/m_mem_sys_int.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr size_t kMapAlign = m::detail::kMemMapAlign;

/* A fresh address range of len bytes (a multiple of kMapAlign) starting on a
 * kMapAlign boundary, mapped with prot; nullptr when the kernel refuses.
 * Over-reserving by one step and trimming both ends is what aligns it.
 * Writable memory is committed as the runtime's own large blocks are, so the
 * kernel refuses what it cannot back and the out-of-memory policy runs; a
 * range that only reserves addresses (PROT_NONE) commits nothing. */
unsigned char *aligned_range(size_t len, int prot) noexcept
{
	const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (prot == PROT_NONE ? MAP_NORESERVE : 0);
	void     *raw   = ::mmap(nullptr, len + kMapAlign, prot, flags, -1, 0);
	if (raw == MAP_FAILED)
		return nullptr;
	/* Keep the aligned stretch of len bytes and give back the slack before
	 * and after it (kMapAlign bytes in all). */
	const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
	const size_t lead = static_cast<size_t>(((start + kMapAlign - 1) & ~static_cast<uintptr_t>(kMapAlign - 1)) - start);
	unsigned char *at = static_cast<unsigned char *>(raw) + lead;
	if (lead > 0)
		::munmap(raw, lead);
	if (kMapAlign > lead)
		::munmap(at + len, kMapAlign - lead);
	return at;
}

/* Ask for huge pages; a kernel without them simply keeps small ones. */
void prefer_huge_pages(unsigned char *base, size_t len) noexcept
{
#ifdef MADV_HUGEPAGE
	(void)::madvise(base, len, MADV_HUGEPAGE);
#else
	(void)base;
	(void)len;
#endif
}

} // namespace

namespace m::detail {

void mem_write_stderr(const char *msg) noexcept
{
	size_t len = std::strlen(msg);
	while (len > 0) {
		ssize_t n = ::write(STDERR_FILENO, msg, len);
		if (n <= 0)
			break;
		msg += n;
		len -= static_cast<size_t>(n);
	}
}

size_t mem_page_size() noexcept
{
	return static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

unsigned char *mem_map_new(size_t len) noexcept
{
	unsigned char *base = aligned_range(len, PROT_READ | PROT_WRITE);
	if (base != nullptr)
		prefer_huge_pages(base, len);
	return base;
}

/* In place when the addresses behind the mapping are free, else onto a fresh
 * aligned range (the old range is unmapped by the move). */
unsigned char *mem_map_grow(unsigned char *base, size_t old_len, size_t new_len) noexcept
{
	void *moved = ::mremap(base, old_len, new_len, 0);
	if (moved == MAP_FAILED) {
		unsigned char *to = aligned_range(new_len, PROT_NONE);
		if (to == nullptr)
			return nullptr;
		moved = ::mremap(base, old_len, new_len, MREMAP_MAYMOVE | MREMAP_FIXED, to);
		if (moved == MAP_FAILED) {
			::munmap(to, new_len);
			return nullptr;
		}
	}
	auto *grown = static_cast<unsigned char *>(moved);
	prefer_huge_pages(grown, new_len);
	return grown;
}

/* A slice at a time, so the residency table stays on the stack. */
void mem_map_wipe(unsigned char *base, size_t len) noexcept
{
	const size_t  page = mem_page_size();
	unsigned char vec[4096];
	const size_t  slice = sizeof(vec) * page;
	for (size_t at = 0; at < len; at += slice) {
		const size_t n     = len - at < slice ? len - at : slice;
		const size_t pages = (n + page - 1) / page;
		if (::mincore(base + at, n, vec) != 0) {
			std::memset(base + at, 0xFF, n); /* no residency known: wipe it all */
			continue;
		}
		size_t i = 0;
		while (i < pages) {
			if ((vec[i] & 1) == 0) {
				i++;
				continue;
			}
			size_t j = i;
			while (j < pages && (vec[j] & 1) != 0)
				j++;
			const size_t from = i * page;
			const size_t to   = j * page < n ? j * page : n;
			std::memset(base + at + from, 0xFF, to - from);
			i = j;
		}
	}
}

void mem_map_release(void *base, size_t len) noexcept
{
	::munmap(base, len);
}

/* MADV_DONTNEED drops the pages from a private mapping (the runtime's heap
 * or a block's own), which then reads them as zero pages on the next touch. */
void mem_pages_discard(void *p, size_t len) noexcept
{
	(void)::madvise(p, len, MADV_DONTNEED);
}

} // namespace m::detail
