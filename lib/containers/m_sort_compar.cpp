/* The standard comparators of the sorting kit.
 *
 * Every comparator receives element ADDRESSES. For the pointer lists of the
 * library an element is a stored pointer, so each function first reads the
 * pointer stored at the address, treating a NULL address as documented in
 * the header.
 */
#include "containers/m_sort_compar.h"

#include "core/m_mem.h"
#include "core/m_str.h"

#include <cstring>

namespace {

/* The pointer stored at an element address (NULL for a NULL address). */
template <typename T>
inline const T *stored(const void *elem)
{
	if (elem == nullptr)
		return nullptr;
	const T *p;
	std::memcpy(&p, elem, sizeof(p));
	return p;
}

inline int three_way(uint64_t a, uint64_t b)
{
	if (a < b)
		return -1;
	return a > b ? 1 : 0;
}

int cmp_u64(const void *a, const void *b)
{
	const uint64_t *pa = stored<uint64_t>(a);
	const uint64_t *pb = stored<uint64_t>(b);
	return three_way(pa == nullptr ? 0 : *pa, pb == nullptr ? 0 : *pb);
}

/* The order NULL decides: the same pointer twice is equal, NULL sorts first.
 * Sets *order and returns true when that decides, false when a and b are two
 * different non-NULL pointers. */
bool order_by_null(const void *a, const void *b, int *order)
{
	if (a == b)
		*order = 0;
	else if (a == nullptr)
		*order = -1;
	else if (b == nullptr)
		*order = 1;
	else
		return false;
	return true;
}

int cmp_vp(const void *a, const void *b)
{
	int order = 0;
	if (order_by_null(a, b, &order))
		return order;
	return three_way(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(stored<void>(a))),
	                 static_cast<uint64_t>(reinterpret_cast<uintptr_t>(stored<void>(b))));
}

/* Size of a wrapped block: its 8-byte length plus the length itself,
 * saturated so that a corrupt length cannot wrap. */
size_t wrapped_size(const unsigned char *block)
{
	uint64_t len;
	std::memcpy(&len, block, sizeof(len));
	if (len > SIZE_MAX - 8)
		return SIZE_MAX;
	return static_cast<size_t>(len) + 8;
}

} // namespace

extern "C" {

int M_sort_compar_str(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	return M_str_cmpsort(stored<char>(arg1), stored<char>(arg2));
}

int M_sort_compar_str_desc(const void *arg1, const void *arg2, void *thunk)
{
	/* Descending order: the arguments are swapped on purpose. */
	return M_sort_compar_str(arg2, arg1, thunk); // NOLINT(readability-suspicious-call-argument)
}

int M_sort_compar_str_casecmp(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	return M_str_casecmpsort(stored<char>(arg1), stored<char>(arg2));
}

int M_sort_compar_str_casecmp_desc(const void *arg1, const void *arg2, void *thunk)
{
	/* Descending order: the arguments are swapped on purpose. */
	return M_sort_compar_str_casecmp(arg2, arg1, thunk); // NOLINT(readability-suspicious-call-argument)
}

int M_sort_compar_u64(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	return cmp_u64(arg1, arg2);
}

int M_sort_compar_u64_desc(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	return cmp_u64(arg2, arg1);
}

int M_sort_compar_vp(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	return cmp_vp(arg1, arg2);
}

int M_sort_compar_vp_desc(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	return cmp_vp(arg2, arg1);
}

int M_sort_compar_binwraped(const void *arg1, const void *arg2, void *thunk)
{
	M_UNUSED(thunk);
	int order = 0;
	if (order_by_null(arg1, arg2, &order))
		return order;

	const unsigned char *a = stored<unsigned char>(arg1);
	const unsigned char *b = stored<unsigned char>(arg2);
	if (order_by_null(a, b, &order))
		return order;
	return M_mem_cmpsort(a, wrapped_size(a), b, wrapped_size(b));
}

} // extern "C"
