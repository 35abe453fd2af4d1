/* Internal seam of the dynamic list, for the library's own tests only.
 *
 * Lets the tests observe the storage (capacity and front slack), which the
 * public API deliberately hides, so the growth and shrink rules can be
 * checked. Not part of the public API.
 */
#ifndef M_LIST_INT_H
#define M_LIST_INT_H

#include "containers/m_list.h"

namespace m::detail {

/* Number of pointer slots allocated; 0 for NULL. */
size_t list_capacity(const M_list_t *d) noexcept;

/* Number of unused slots before the first element (front slack); 0 for
 * NULL. */
size_t list_front_slack(const M_list_t *d) noexcept;

} // namespace m::detail

#endif
