/* The start every container's merge shares. Internal: not part of the public
 * C surface.
 */
#ifndef M_MERGE_INT_H
#define M_MERGE_INT_H

namespace m::detail {

/* Settle the cases of a merge of src into *dest that move no element: nothing
 * happens when dest or src is NULL or src already is *dest, and src itself
 * becomes *dest when *dest is NULL. Returns true when that settled the merge,
 * false when the caller still has to move src's elements into *dest. */
template <typename T>
bool merge_settled(T **dest, T *src) noexcept
{
	if (dest == nullptr || src == nullptr)
		return true;
	if (*dest == nullptr) {
		*dest = src;
		return true;
	}
	return *dest == src;
}

} // namespace m::detail

#endif
