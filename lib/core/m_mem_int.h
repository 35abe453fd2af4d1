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

/* Replace the runtime calls under the allocator; NULL restores malloc/free. */
void mem_set_runtime(runtime_malloc_fn alloc, runtime_free_fn release) noexcept;

} // namespace m::detail

#endif
