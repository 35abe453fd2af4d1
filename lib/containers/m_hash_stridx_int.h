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

} // namespace m::detail

#endif
