/* Stable sort of an array of fixed-size elements.
 *
 * A top-down copying merge sort: the array is cut into a left part of
 * ceil(n/2) and a right part of floor(n/2) elements, each copied into its own
 * block from M_malloc, sorted recursively and merged back, taking the right
 * element only when it compares strictly smaller. Ties therefore keep their
 * input order. Every level allocates its blocks and frees them before it
 * returns; the caller provides no buffer.
 */
#ifndef M_SORT_MERGESORT_H
#define M_SORT_MERGESORT_H

#include "core/m_defs.h"
#include "containers/m_sort_compar.h"

M_BEGIN_DECLS

/* Sort nmemb elements of size bytes at base; equal elements keep their order.
 *
 * base:   the array; NULL does nothing.
 * compar: receives two element addresses and thunk; NULL does nothing.
 * thunk:  handed to compar unchanged; may be NULL.
 * nmemb below 2 or size 0 does nothing. Running out of memory ends the
 * process (allocator policy), so the sort has no failure result. Pointers
 * into the array keep their addresses but see other elements. */
M_API void M_sort_mergesort(void *base, size_t nmemb, size_t size, M_sort_compar_t compar, void *thunk);

M_END_DECLS

#endif /* M_SORT_MERGESORT_H */
