/* Internal seam of the allocator, for the library's own tests only.
 *
 * The tests replace the runtime's malloc and free to observe what M_free
 * hands back (the 0xFF wipe) and to simulate an exhausted runtime (the
 * out-of-memory callbacks). Not part of the public API.
 */
#ifndef M_MEM_INT_H
#define M_MEM_INT_H

#include <stddef.h>

namespace m::detail {

using runtime_malloc_fn = void *(*)(size_t);
using runtime_free_fn   = void (*)(void *);

/* Replace the runtime calls under the allocator; NULL restores malloc/free.
 * While a runtime is replaced, every block comes from it (none is mapped). */
void mem_set_runtime(runtime_malloc_fn alloc, runtime_free_fn release) noexcept;

/* Blocks of at least this many caller bytes (with the runtime not replaced)
 * are anonymous mappings of their own, grown by moving their pages. */
size_t mem_map_threshold() noexcept;

using unmap_fn = void (*)(void *base, size_t len);

/* Replace the munmap that releases a mapped block (after its wipe), so a test
 * can look at the wiped pages before they go; the replacement must unmap
 * them itself. NULL restores munmap. */
void mem_set_unmap(unmap_fn unmap) noexcept;

} // namespace m::detail

#endif
