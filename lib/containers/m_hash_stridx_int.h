/* Internal: the string-keyed table construction shared by the M_hash_stridx
 * and M_hash_strvp front ends. Not part of the public API.
 */
#ifndef M_HASH_STRIDX_INT_H
#define M_HASH_STRIDX_INT_H

#include "containers/m_hashtable.h"

namespace m::detail {

/* Build the generic table for a string-keyed front end from M_HASH_STRIDX_*
 * flags. value_free may be NULL. NULL for refused arguments or flags. */
M_hashtable_t *hash_str_create(size_t size, uint8_t fill_pct, uint32_t flags,
                               M_hashtable_free_func value_free) noexcept;

/* A fresh enumeration of h for the front ends' _enumerate calls, to be
 * released with M_free. NULL when h is NULL or holds no pairs. *count
 * receives the number of pairs (0 with NULL). */
M_hashtable_enum_t *hash_str_enumerate(const M_hashtable_t *h, size_t *count) noexcept;

/* The next pair of an enumeration made by hash_str_enumerate: *key (when
 * key is not NULL) receives the key string, *value the stored value as the
 * table holds it, for the front end to convert. M_FALSE at the end, or when h
 * or hashenum is NULL. */
bool hash_str_enumerate_next(const M_hashtable_t *h, M_hashtable_enum_t *hashenum, const char **key,
                             const void **value) noexcept;

} // namespace m::detail

#endif
