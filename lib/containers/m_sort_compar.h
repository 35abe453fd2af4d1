/* Comparison functions for sorting and searching.
 *
 * Every ordered operation of the library (the sorts, the binary searches,
 * the sorted lists, the hash tables' key and value comparisons) takes a
 * comparator of one shape, M_sort_compar_t: it receives the ADDRESSES of two
 * elements and the caller's context ("thunk") and answers negative, 0 or
 * positive for "a before b", "a equal to b", "a after b".
 *
 * For lists of pointers (M_list_t, M_list_str_t) an element is a stored
 * pointer, so a comparator receives the address of that pointer: a string
 * comparator receives a "const char * const *" in disguise, not the string.
 *
 * None of these functions allocates or keeps a pointer after returning.
 */
#ifndef M_SORT_COMPAR_H
#define M_SORT_COMPAR_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Comparator: arg1 and arg2 are element addresses, thunk is the caller's
 * context handed through unchanged. Returns negative when arg1 sorts before
 * arg2, 0 when they are equal, positive when arg1 sorts after arg2. */
typedef int (*M_sort_compar_t)(const void *arg1, const void *arg2, void *thunk);

/* Strings, ascending, case-sensitive.
 *
 * arg1, arg2: addresses of "const char *" elements. A NULL address and a NULL
 *             string both count as the empty string.
 * thunk:      unused; NULL is fine.
 * Returns the result of M_str_cmpsort on the two pointed-to strings. */
M_API int M_sort_compar_str(const void *arg1, const void *arg2, void *thunk);

/* As M_sort_compar_str with the operands swapped (descending order). */
M_API int M_sort_compar_str_desc(const void *arg1, const void *arg2, void *thunk);

/* Strings, ascending, ASCII case-insensitive.
 *
 * arg1, arg2: addresses of "const char *" elements; NULL as for
 *             M_sort_compar_str.
 * thunk:      unused.
 * Returns the result of M_str_casecmpsort on the two pointed-to strings. */
M_API int M_sort_compar_str_casecmp(const void *arg1, const void *arg2, void *thunk);

/* As M_sort_compar_str_casecmp with the operands swapped (descending). */
M_API int M_sort_compar_str_casecmp_desc(const void *arg1, const void *arg2, void *thunk);

/* Unsigned 64-bit numbers reached through pointers, ascending.
 *
 * arg1, arg2: addresses of "const uint64_t *" elements (each element is a
 *             pointer to the number). A NULL element address, or a NULL
 *             stored pointer, counts as the number 0.
 * thunk:      unused.
 * Returns -1, 0 or 1 by numeric order. */
M_API int M_sort_compar_u64(const void *arg1, const void *arg2, void *thunk);

/* As M_sort_compar_u64, descending. */
M_API int M_sort_compar_u64_desc(const void *arg1, const void *arg2, void *thunk);

/* Stored pointer values themselves, compared as unsigned addresses.
 *
 * arg1, arg2: addresses of "const void *" elements. Equal element addresses
 *             give 0; a NULL element address sorts first.
 * thunk:      unused.
 * Returns -1, 0 or 1. */
M_API int M_sort_compar_vp(const void *arg1, const void *arg2, void *thunk);

/* As M_sort_compar_vp, descending; a NULL element address sorts last. */
M_API int M_sort_compar_vp_desc(const void *arg1, const void *arg2, void *thunk);

/* Wrapped byte blocks.
 *
 * arg1, arg2: addresses of pointers to a wrapped block: an 8-byte length in
 *             host order followed by that many bytes. Equal element addresses
 *             give 0; a NULL element address sorts first, and so does a
 *             NULL stored pointer.
 * thunk:      unused.
 * The blocks are compared with M_mem_cmpsort over length + 8 bytes each, so
 * a shorter block sorts first and equal lengths compare bytewise.
 * Returns negative, 0 or positive. */
M_API int M_sort_compar_binwraped(const void *arg1, const void *arg2, void *thunk);

M_END_DECLS

#endif /* M_SORT_COMPAR_H */
