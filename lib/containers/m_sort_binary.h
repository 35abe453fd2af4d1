/* Binary search and binary insertion point over a sorted array.
 *
 * The array holds nmemb elements of size bytes, sorted by compar. The
 * comparator is called with the address of the key first and the address of
 * an array element second, so the key need not be an element itself (for a
 * list of pointers it is the address of a pointer).
 *
 * "Stable" asks for the rules that keep equal elements in insertion order:
 * the search answers the FIRST of a run of equal elements, and the insertion
 * point lies AFTER the last of them, so a new value follows the values equal
 * to it.
 */
#ifndef M_SORT_BINARY_H
#define M_SORT_BINARY_H

#include "core/m_defs.h"
#include "containers/m_sort_compar.h"

M_BEGIN_DECLS

/* Find an element equal to key.
 *
 * base:   the sorted array; NULL finds nothing.
 * key:    address of the value to find (passed to compar as is); NULL finds
 *         nothing.
 * stable: M_TRUE to answer the first of a run of equal elements; M_FALSE
 *         answers whichever equal element the search meets first.
 * compar: NULL finds nothing.
 * thunk:  handed to compar; may be NULL.
 * idx:    receives the index on success; NULL is allowed (only the yes/no
 *         answer is wanted). Left untouched when nothing is found.
 * Returns M_TRUE when an equal element exists. Nothing is allocated. */
M_API M_bool M_sort_binary_search(const void *base, size_t nmemb, size_t size, const void *key, M_bool stable,
                                  M_sort_compar_t compar, void *thunk, size_t *idx);

/* Index at which key is to be inserted to keep the array sorted.
 *
 * base:   the sorted array; NULL answers nmemb.
 * key:    address of the value; NULL answers nmemb.
 * stable: M_TRUE: after every element equal to key. M_FALSE: anywhere the
 *         order stays valid (the first equal element the search meets;
 *         nmemb when key compares >= the last element, 0 when it compares
 *         <= the first).
 * compar: NULL answers nmemb.
 * thunk:  handed to compar; may be NULL.
 * Returns an index from 0 to nmemb; 0 when nmemb is 0. Nothing allocated. */
M_API size_t M_sort_binary_insert_idx(const void *base, size_t nmemb, size_t size, const void *key, M_bool stable,
                                      M_sort_compar_t compar, void *thunk);

M_END_DECLS

#endif /* M_SORT_BINARY_H */
