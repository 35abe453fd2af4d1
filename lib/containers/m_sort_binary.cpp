/* Binary search and binary insertion point over sorted arrays.
 *
 * Both halve over lo = 0, hi = nmemb - 1 with mid = (lo + hi) / 2. The
 * non-stable forms first test the ends of the array, which answers appends
 * and prepends (the common case when loading sorted data) with two
 * comparisons. The stable forms answer the first of a run of equal elements
 * (search) or the slot after the last of them (insertion), so values equal
 * to each other stay in insertion order.
 */
#include "containers/m_sort_binary.h"

namespace {

inline const void *elem(const void *base, size_t size, size_t i)
{
	return static_cast<const unsigned char *>(base) + i * size;
}

/* The halving both calls share, over a non-empty array. True with *at on an
 * element equal to key (any one of a run); false with *at on the slot where
 * key belongs, before the first element that sorts after it. */
bool bisect(const void *base, size_t nmemb, size_t size, const void *key, M_sort_compar_t compar, void *thunk,
            size_t *at)
{
	size_t lo = 0;
	size_t hi = nmemb - 1;
	while (lo <= hi) {
		const size_t mid = lo + (hi - lo) / 2;
		const int    r   = compar(key, elem(base, size, mid), thunk);
		if (r < 0) {
			if (mid == 0)
				break; /* lo is 0 as well */
			hi = mid - 1;
		} else if (r > 0) {
			lo = mid + 1;
		} else {
			*at = mid;
			return true;
		}
	}
	*at = lo;
	return false;
}

} // namespace

extern "C" {

M_bool M_sort_binary_search(const void *base, size_t nmemb, size_t size, const void *key, M_bool stable,
                            M_sort_compar_t compar, void *thunk, size_t *idx)
{
	if (base == nullptr || key == nullptr || compar == nullptr || nmemb == 0)
		return M_FALSE;

	if (!stable) {
		int r = compar(key, elem(base, size, nmemb - 1), thunk);
		if (r == 0) {
			if (idx != nullptr)
				*idx = nmemb - 1;
			return M_TRUE;
		}
		if (r > 0)
			return M_FALSE;
		r = compar(key, elem(base, size, 0), thunk);
		if (r == 0) {
			if (idx != nullptr)
				*idx = 0;
			return M_TRUE;
		}
		if (r < 0)
			return M_FALSE;
	}

	size_t mid = 0;
	if (!bisect(base, nmemb, size, key, compar, thunk, &mid))
		return M_FALSE;
	if (stable) {
		while (mid > 0 && compar(key, elem(base, size, mid - 1), thunk) == 0)
			mid--;
	}
	if (idx != nullptr)
		*idx = mid;
	return M_TRUE;
}

size_t M_sort_binary_insert_idx(const void *base, size_t nmemb, size_t size, const void *key, M_bool stable,
                                M_sort_compar_t compar, void *thunk)
{
	if (base == nullptr || key == nullptr || compar == nullptr)
		return nmemb;
	if (nmemb == 0)
		return 0;

	if (!stable) {
		if (compar(key, elem(base, size, nmemb - 1), thunk) >= 0)
			return nmemb;
		if (compar(key, elem(base, size, 0), thunk) <= 0)
			return 0;
	}

	size_t at = 0;
	if (!bisect(base, nmemb, size, key, compar, thunk, &at) || !stable)
		return at;
	size_t i = at + 1;
	while (i < nmemb && compar(key, elem(base, size, i), thunk) == 0)
		i++;
	return i;
}

} // extern "C"
