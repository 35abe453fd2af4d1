/* Stable top-down merge sort over fixed-size elements.
 *
 * Each level copies its two halves (left ceil(n/2), right floor(n/2)) into
 * blocks of its own, sorts them recursively and merges them back into the
 * caller's array. A right element is taken only when the comparator says the
 * left one is strictly greater, so equal elements keep their input order.
 * Memory: every level allocates its two blocks from M_malloc and frees them
 * before returning; at most about 2n elements are live at once. Running out
 * of memory ends the process (allocator policy).
 */
#include "containers/m_sort_mergesort.h"

#include "core/m_mem.h"

#include <cstring>

namespace {

struct Ctx {
	size_t          es;    /* element size */
	M_sort_compar_t cmp;   /* comparator */
	void           *thunk; /* comparator context */
};

void merge_sort(const Ctx &c, unsigned char *base, size_t n)
{
	if (n < 2)
		return;

	const size_t es     = c.es;
	const size_t nleft  = n - n / 2; /* ceil(n / 2) */
	const size_t nright = n / 2;

	auto *left  = static_cast<unsigned char *>(M_malloc(nleft * es));
	auto *right = static_cast<unsigned char *>(M_malloc(nright * es));
	std::memcpy(left, base, nleft * es);
	std::memcpy(right, base + nleft * es, nright * es);

	merge_sort(c, left, nleft);
	merge_sort(c, right, nright);

	size_t         i   = 0;
	size_t         j   = 0;
	unsigned char *out = base;
	while (i < nleft && j < nright) {
		const unsigned char *l = left + i * es;
		const unsigned char *r = right + j * es;
		if (c.cmp(l, r, c.thunk) > 0) {
			std::memcpy(out, r, es);
			j++;
		} else {
			std::memcpy(out, l, es);
			i++;
		}
		out += es;
	}
	if (i < nleft)
		std::memcpy(out, left + i * es, (nleft - i) * es);
	else if (j < nright)
		std::memcpy(out, right + j * es, (nright - j) * es);

	M_free(left);
	M_free(right);
}

} // namespace

extern "C" {

void M_sort_mergesort(void *base, size_t nmemb, size_t size, M_sort_compar_t compar, void *thunk)
{
	if (base == nullptr || compar == nullptr || nmemb < 2 || size == 0)
		return;
	/* The caller's array exists, so nmemb * size fits; check anyway before
	 * any size reaches the allocator. */
	if (nmemb > SIZE_MAX / size)
		return;

	Ctx c;
	c.es    = size;
	c.cmp   = compar;
	c.thunk = thunk;
	merge_sort(c, static_cast<unsigned char *>(base), nmemb);
}

} // extern "C"
