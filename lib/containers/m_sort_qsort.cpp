/* Three-way partitioning quicksort over fixed-size elements.
 *
 * The algorithm is the classic engineered quicksort of Bentley and McIlroy
 * ("Engineering a Sort Function", 1993): median-of-three pivots (the "ninther"
 * of three spaced medians above 40 elements), a split-end partition that
 * gathers elements equal to the pivot at both ends and swaps them into the
 * middle afterwards, and insertion sort for arrays below 7 elements.
 *
 * One change to the textbook loop: of the two parts left after a partition,
 * the smaller one is sorted by recursion and the larger one by the loop. The
 * result is the same (the parts are disjoint), but the stack depth is bounded
 * by log2(n) whatever the input, so a hostile input can cost time but cannot
 * exhaust the stack.
 */
#include "containers/m_sort_qsort.h"

#include <cstring>

namespace {

/* How elements are exchanged: 64-bit words when the array and the element
 * size allow it (the common case of pointer arrays), else bytes. */
enum class Swap { word_one, words, bytes };

struct Ctx {
	size_t          es;    /* element size */
	Swap            swap;  /* exchange method */
	M_sort_compar_t cmp;   /* comparator */
	void           *thunk; /* comparator context */
};

inline void swap_words(unsigned char *a, unsigned char *b, size_t n)
{
	for (size_t i = 0; i < n; i += 8) {
		uint64_t x;
		uint64_t y;
		std::memcpy(&x, a + i, 8);
		std::memcpy(&y, b + i, 8);
		std::memcpy(a + i, &y, 8);
		std::memcpy(b + i, &x, 8);
	}
}

inline void swap_bytes(unsigned char *a, unsigned char *b, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		const unsigned char t = a[i];
		a[i]                  = b[i];
		b[i]                  = t;
	}
}

/* Exchange one element. */
inline void swap(const Ctx &c, unsigned char *a, unsigned char *b)
{
	switch (c.swap) {
		case Swap::word_one: {
			uint64_t x;
			uint64_t y;
			std::memcpy(&x, a, 8);
			std::memcpy(&y, b, 8);
			std::memcpy(a, &y, 8);
			std::memcpy(b, &x, 8);
			break;
		}
		case Swap::words:
			swap_words(a, b, c.es);
			break;
		case Swap::bytes:
			swap_bytes(a, b, c.es);
			break;
	}
}

/* Exchange two blocks of n bytes (a whole number of elements). */
inline void vecswap(const Ctx &c, unsigned char *a, unsigned char *b, size_t n)
{
	if (n == 0)
		return;
	if (c.swap == Swap::bytes)
		swap_bytes(a, b, n);
	else
		swap_words(a, b, n);
}

inline int cmp(const Ctx &c, const unsigned char *a, const unsigned char *b)
{
	return c.cmp(a, b, c.thunk);
}

/* Median of three elements by the comparator. */
unsigned char *med3(const Ctx &c, unsigned char *a, unsigned char *b, unsigned char *cc)
{
	if (cmp(c, a, b) < 0) {
		if (cmp(c, b, cc) < 0)
			return b;
		return cmp(c, a, cc) < 0 ? cc : a;
	}
	if (cmp(c, b, cc) > 0)
		return b;
	return cmp(c, a, cc) < 0 ? a : cc;
}

void insertion_sort(const Ctx &c, unsigned char *a, size_t n)
{
	const size_t es = c.es;
	for (unsigned char *pm = a + es; pm < a + n * es; pm += es) {
		for (unsigned char *pl = pm; pl > a && cmp(c, pl - es, pl) > 0; pl -= es)
			swap(c, pl, pl - es);
	}
}

/* The helpers below take the element size es from the caller instead of
 * reading c.es: the comparator is opaque code, so after each call the
 * compiler would have to load c.es again (0.3% more instructions in a sort). */

/* The pivot of n > 6 elements: the middle one; above 7 the median of the
 * first, middle and last; above 40 the median of three spaced medians (the
 * "ninther"). */
unsigned char *choose_pivot(const Ctx &c, size_t es, unsigned char *a, size_t n)
{
	unsigned char *pm = a + (n / 2) * es;
	if (n > 7) {
		unsigned char *pl = a;
		unsigned char *pn = a + (n - 1) * es;
		if (n > 40) {
			const size_t d = (n / 8) * es;
			pl             = med3(c, pl, pl + d, pl + 2 * d);
			pm             = med3(c, pm - d, pm, pm + d);
			pn             = med3(c, pn - 2 * d, pn - d, pn);
		}
		pm = med3(c, pl, pm, pn);
	}
	return pm;
}

/* Moves the pivot-equal runs [a, pa) and (pd, a + n * es) of a partition
 * into the middle, between the smaller elements [pa, pb) and the greater
 * ones (pc, pd]. */
void gather_equal(const Ctx &c, size_t es, unsigned char *a, size_t n, unsigned char *pa, unsigned char *pb,
                  unsigned char *pc, unsigned char *pd)
{
	unsigned char *end = a + n * es;
	size_t         r   = static_cast<size_t>(pa - a) < static_cast<size_t>(pb - pa) ? static_cast<size_t>(pa - a)
	                                                                                : static_cast<size_t>(pb - pa);
	vecswap(c, a, pb - r, r);
	const size_t right_eq = static_cast<size_t>(end - pd) - es;
	r                     = static_cast<size_t>(pd - pc) < right_eq ? static_cast<size_t>(pd - pc) : right_eq;
	vecswap(c, pb, end - r, r);
}

/* How many elements a partition left below and above the pivot. */
struct Parts {
	size_t nl; /* smaller than the pivot, now at the start */
	size_t nr; /* greater than the pivot, now at the end */
};

/* Split-end partition of n elements around the pivot in a[0]: [a, pa) and
 * (pd, end) gather pivot-equal elements, [pa, pb) smaller ones, (pc, pd]
 * greater ones; then the equal runs move into the middle. */
Parts partition(const Ctx &c, size_t es, unsigned char *a, size_t n)
{
	unsigned char *pa = a + es;
	unsigned char *pb = pa;
	unsigned char *pc = a + (n - 1) * es;
	unsigned char *pd = pc;
	for (;;) {
		int r;
		while (pb <= pc && (r = cmp(c, pb, a)) <= 0) {
			if (r == 0) {
				swap(c, pa, pb);
				pa += es;
			}
			pb += es;
		}
		while (pb <= pc && (r = cmp(c, pc, a)) >= 0) {
			if (r == 0) {
				swap(c, pc, pd);
				pd -= es;
			}
			pc -= es;
		}
		if (pb > pc)
			break;
		swap(c, pb, pc);
		pb += es;
		pc -= es;
	}
	gather_equal(c, es, a, n, pa, pb, pc, pd);
	return {static_cast<size_t>(pb - pa) / es, static_cast<size_t>(pd - pc) / es};
}

/* Sorts n elements at a: below 7 by insertion, else a pivot, a partition,
 * then the smaller part by recursion and the larger by the loop. */
void qsort_impl(const Ctx &c, unsigned char *a, size_t n)
{
	const size_t es = c.es;

	for (;;) {
		if (n < 7) {
			insertion_sort(c, a, n);
			return;
		}

		swap(c, a, choose_pivot(c, es, a, n));

		const Parts    parts = partition(c, es, a, n);
		const size_t   nl    = parts.nl;
		const size_t   nr    = parts.nr;
		unsigned char *ar    = a + (n - nr) * es;

		/* Recurse on the smaller part, loop on the larger (bounded stack). */
		if (nl <= nr) {
			if (nl > 1)
				qsort_impl(c, a, nl);
			if (nr <= 1)
				return;
			a = ar;
			n = nr;
		} else {
			if (nr > 1)
				qsort_impl(c, ar, nr);
			if (nl <= 1)
				return;
			n = nl;
		}
	}
}

} // namespace

extern "C" {

void M_sort_qsort(void *base, size_t nmemb, size_t size, M_sort_compar_t compar, void *thunk)
{
	if (base == nullptr || compar == nullptr || nmemb < 2 || size == 0)
		return;

	Ctx c;
	c.es    = size;
	c.cmp   = compar;
	c.thunk = thunk;
	if (reinterpret_cast<uintptr_t>(base) % 8 == 0 && size % 8 == 0)
		c.swap = size == 8 ? Swap::word_one : Swap::words;
	else
		c.swap = Swap::bytes;

	qsort_impl(c, static_cast<unsigned char *>(base), nmemb);
}

} // extern "C"
