/* The sorting kit in one include.
 *
 * Convenience header for callers that use several parts of the kit:
 *  - m_sort_compar.h:    the comparator type M_sort_compar_t and the
 *                        standard comparators (strings, numbers, pointers,
 *                        wrapped byte blocks);
 *  - m_sort_qsort.h:     M_sort_qsort, in-place unstable quicksort;
 *  - m_sort_mergesort.h: M_sort_mergesort, stable merge sort;
 *  - m_sort_binary.h:    M_sort_binary_search and M_sort_binary_insert_idx.
 *
 * It declares nothing of its own.
 */
#ifndef M_SORT_H
#define M_SORT_H

#include "containers/m_sort_compar.h"
#include "containers/m_sort_qsort.h"
#include "containers/m_sort_mergesort.h"
#include "containers/m_sort_binary.h"

#endif /* M_SORT_H */
