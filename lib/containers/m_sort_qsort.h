/* In-place unstable sort of an array of fixed-size elements.
 *
 * A three-way partitioning quicksort: the pivot is the median of three (of
 * three spaced medians above 40 elements), elements equal to the pivot are
 * gathered in the middle and never visited again, arrays below 7 elements
 * are finished by insertion sort. Elements are exchanged as 64-bit words
 * when the array address and the element size are multiples of 8, else byte
 * by byte. Nothing is allocated; of the two parts left by a partition the
 * sort recurses on the smaller and loops on the larger, so the stack depth
 * stays below log2(nmemb) for any input.
 */
#ifndef M_SORT_QSORT_H
#define M_SORT_QSORT_H

#include "core/m_defs.h"
#include "containers/m_sort_compar.h"

M_BEGIN_DECLS

/* Sort nmemb elements of size bytes at base, unstable.
 *
 * base:   the array; NULL does nothing.
 * compar: receives two element addresses and thunk; NULL does nothing.
 * thunk:  handed to compar unchanged; may be NULL.
 * nmemb below 2 or size 0 does nothing. Nothing is allocated or returned.
 * Pointers into the array keep their addresses but see other elements. */
M_API void M_sort_qsort(void *base, size_t nmemb, size_t size, M_sort_compar_t compar, void *thunk);

M_END_DECLS

#endif /* M_SORT_QSORT_H */
