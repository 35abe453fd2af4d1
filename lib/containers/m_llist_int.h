/* Internal seam of the linked list, for the library's own tests only.
 *
 * Lets the tests observe the skip list's level array, which the public API
 * does not expose. Not part of the public API.
 */
#ifndef M_LLIST_INT_H
#define M_LLIST_INT_H

#include "containers/m_llist.h"

namespace m::detail {

/* Number of levels in use: 4 for a new sorted list, 1 for a plain list, 0 for
 * NULL. */
size_t llist_levels(const M_llist_t *d) noexcept;

} // namespace m::detail

#endif
