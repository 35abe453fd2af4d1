/* The allocator's calls to the system (C++ only, not a public header): one
 * implementation per platform, m_mem_posix.cpp and m_mem_win.cpp.
 *
 * Mappings here are the large blocks of m_mem.cpp: committed, readable and
 * writable anonymous memory, zero when new, aligned to and sized in steps of
 * kMemMapAlign. None of these functions allocates through the allocator or
 * reports anything but its result.
 */
#ifndef M_MEM_SYS_INT_H
#define M_MEM_SYS_INT_H

#include <cstddef>

namespace m::detail {

/* Alignment and size step of every mapping (the huge page size). */
constexpr size_t kMemMapAlign = static_cast<size_t>(2) << 20;

/* Write a fixed message to standard error without touching the allocator. */
void mem_write_stderr(const char *msg) noexcept;

/* The system's page size. */
size_t mem_page_size() noexcept;

/* A new mapping of len bytes (a multiple of kMemMapAlign) on a kMemMapAlign
 * boundary; nullptr when the system refuses. */
unsigned char *mem_map_new(size_t len) noexcept;

/* The mapping at base grown from old_len to new_len bytes, its bytes kept;
 * the old range is gone afterwards and no copy of its bytes stays behind.
 * nullptr when the system refuses; the old mapping is then untouched. */
unsigned char *mem_map_grow(unsigned char *base, size_t old_len, size_t new_len) noexcept;

/* Fill the resident pages of a mapping with 0xFF (the wipe rule). */
void mem_map_wipe(unsigned char *base, size_t len) noexcept;

/* Unmap a mapping (after its wipe). */
void mem_map_release(void *base, size_t len) noexcept;

/* Hand len bytes of whole pages at p back to the system; the range stays
 * usable, its content afterwards unspecified. Failure is harmless. */
void mem_pages_discard(void *p, size_t len) noexcept;

} // namespace m::detail

#endif
