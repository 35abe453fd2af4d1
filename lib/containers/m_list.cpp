/* Dynamic list: a growable array of pointers with optional ordering.
 *
 * Layout: base is the allocation of capacity pointers; the live elements are
 * base[off] .. base[off + count - 1]. Removing at the front only advances off
 * (front slack) and inserting at the front reuses that slack, so a queue
 * never shifts. Slots outside the live range are always NULL.
 *
 * Growth: before an insert, elements that touch the end of the allocation
 * while slack exists are moved down to base; a full array doubles.
 * Reduction: after a removal (unless NEVERSHRINK), when half the capacity is
 * at least 4 and count <= half / 1.25 (40 % of the capacity), the elements
 * move to base and the allocation halves. Doubling at 100 % and halving at
 * 40 % leaves a gap, so alternating inserts and removals at a boundary do not
 * reallocate every time.
 *
 * Logical and physical indexes: callers see logical indexes; a STACK list
 * maps logical i to physical count - 1 - i, so index 0 is the newest value.
 * Sorted lists are never STACK lists, so sorting and binary searches work on
 * physical order directly.
 */
#include "containers/m_list.h"

#include "containers/m_list_int.h"
#include "containers/m_sort_binary.h"
#include "containers/m_sort_mergesort.h"
#include "containers/m_sort_qsort.h"
#include "core/m_mem.h"

#include <cstring>

struct M_list {
	M_sort_compar_t       equality;         /* comparator, may be NULL */
	M_list_duplicate_func duplicate_insert; /* value -> stored value on insert, NULL: identity */
	M_list_duplicate_func duplicate_copy;   /* stored value -> copy for duplicate, NULL: identity */
	M_list_free_func      value_free;       /* releases a stored value, NULL: nothing */
	uint32_t              flags;            /* M_list_flags_t */
	void                **base;             /* allocation of capacity slots */
	size_t                off;              /* index in base of the first element (front slack) */
	size_t                count;            /* number of elements */
	size_t                capacity;         /* slots allocated */
	bool                  batching;         /* between insert_begin and insert_end */
	void                 *thunk;            /* comparator context */
};

namespace {

constexpr size_t kMinCapacity = 4;

bool is_sorted(const M_list_t &l)
{
	return (l.flags & M_LIST_SORTED) != 0;
}

/* Sorted and not batching: binary searches and sorted placement apply. */
bool sorted_active(const M_list_t &l)
{
	return is_sorted(l) && !l.batching && l.equality != nullptr;
}

void **elems(const M_list_t &l)
{
	return l.base + l.off;
}

size_t to_phys(const M_list_t &l, size_t idx)
{
	return (l.flags & M_LIST_STACK) ? l.count - 1 - idx : idx;
}

/* Physical index back to logical (the map is its own inverse). */
size_t to_logical(const M_list_t &l, size_t phys)
{
	return to_phys(l, phys);
}

void *dup_insert(const M_list_t &l, const void *val)
{
	if (l.duplicate_insert != nullptr)
		return l.duplicate_insert(val);
	return const_cast<void *>(val);
}

void release(const M_list_t &l, void *val)
{
	if (l.value_free != nullptr)
		l.value_free(val);
}

void *alloc_slots(size_t n)
{
	if (n > SIZE_MAX / sizeof(void *))
		return nullptr;
	return M_malloc_zero(n * sizeof(void *));
}

/* Sort the whole list: merge sort when STABLE, else quicksort. */
void sort_all(M_list_t &l)
{
	if (l.equality == nullptr || l.count < 2)
		return;
	if (l.flags & M_LIST_STABLE)
		M_sort_mergesort(elems(l), l.count, sizeof(void *), l.equality, l.thunk);
	else
		M_sort_qsort(elems(l), l.count, sizeof(void *), l.equality, l.thunk);
}

/* Make room for one element at physical index p (0 .. count) and return
 * the slot. The slot holds NULL; count is already incremented. */
void **open_slot(M_list_t &l, size_t p)
{
	if (l.count == 0)
		l.off = 0;

	if (p == 0 && l.off > 0) {
		/* Front slack: only the start moves. */
		l.off--;
		l.count++;
		return &l.base[l.off];
	}

	if (l.off + l.count == l.capacity && l.off > 0) {
		std::memmove(l.base, l.base + l.off, l.count * sizeof(void *));
		std::memset(l.base + l.count, 0, l.off * sizeof(void *));
		l.off = 0;
	}

	if (l.count == l.capacity) {
		const size_t newcap = l.capacity * 2;
		void       **nb     = static_cast<void **>(alloc_slots(newcap));
		if (nb == nullptr)
			return nullptr;
		std::memcpy(nb, l.base, l.count * sizeof(void *));
		M_free(l.base);
		l.base     = nb;
		l.capacity = newcap;
		l.off      = 0;
	}

	void **e = elems(l);
	std::memmove(e + p + 1, e + p, (l.count - p) * sizeof(void *));
	e[p] = nullptr;
	l.count++;
	return &e[p];
}

/* Halve the storage when the elements fit in 40 % of it. */
void maybe_shrink(M_list_t &l)
{
	if (l.flags & M_LIST_NEVERSHRINK)
		return;
	const size_t half = l.capacity / 2;
	/* count <= whole part of half / 1.25, i.e. of half * 4 / 5. */
	if (half < kMinCapacity || l.count > half * 4 / 5)
		return;
	void **nb = static_cast<void **>(alloc_slots(half));
	if (l.count > 0)
		std::memcpy(nb, elems(l), l.count * sizeof(void *));
	M_free(l.base);
	l.base     = nb;
	l.capacity = half;
	l.off      = 0;
}

/* Remove the element at physical index p and return its value. */
void *close_slot(M_list_t &l, size_t p)
{
	void **e   = elems(l);
	void  *val = e[p];

	if (p == 0) {
		e[0] = nullptr;
		l.off++;
	} else {
		std::memmove(e + p, e + p + 1, (l.count - p - 1) * sizeof(void *));
		e[l.count - 1] = nullptr;
	}
	l.count--;
	if (l.count == 0)
		l.off = 0;
	maybe_shrink(l);
	return val;
}

/* Do two stored values match by the given match flags? */
bool matches(const M_list_t &l, const void *stored, const void *val, uint32_t type)
{
	if (type & M_LIST_MATCH_PTR)
		return stored == val;
	if (l.equality == nullptr)
		return false;
	/* Key first, as the binary searches call the comparator. */
	return l.equality(&val, &stored, l.thunk) == 0;
}

/* Physical index of the first match, scanning in logical order from
 * logical index from. */
bool scan_first(const M_list_t &l, const void *val, uint32_t type, size_t from, size_t &phys)
{
	void **e = elems(l);
	for (size_t i = from; i < l.count; i++) {
		const size_t p = to_phys(l, i);
		if (matches(l, e[p], val, type)) {
			phys = p;
			return true;
		}
	}
	return false;
}

/* Physical index of the first match (logical order). */
bool find_first(const M_list_t &l, const void *val, uint32_t type, size_t &phys)
{
	if (l.count == 0)
		return false;

	if (sorted_active(l)) {
		void **e = elems(l);
		size_t hit;
		if (!M_sort_binary_search(e, l.count, sizeof(void *), &val, M_TRUE, l.equality, l.thunk, &hit))
			return false;
		if (!(type & M_LIST_MATCH_PTR)) {
			phys = hit;
			return true;
		}
		/* The very pointer within the run of equal values. */
		for (size_t i = hit; i < l.count && l.equality(&val, &e[i], l.thunk) == 0; i++) {
			if (e[i] == val) {
				phys = i;
				return true;
			}
		}
		return false;
	}

	if (!(type & M_LIST_MATCH_PTR) && l.equality == nullptr)
		return false;
	return scan_first(l, val, type, 0, phys);
}

/* The set test of an insert: is val already present? */
bool set_refuses(const M_list_t &l, const void *val)
{
	size_t phys;
	if (l.flags & M_LIST_SET_PTR)
		return find_first(l, val, M_LIST_MATCH_PTR, phys);
	if (l.flags & M_LIST_SET_VAL)
		return find_first(l, val, M_LIST_MATCH_VAL, phys);
	return false;
}

/* Physical index at which an insert places val. */
size_t insert_phys(const M_list_t &l, const void *val)
{
	if (sorted_active(l))
		return M_sort_binary_insert_idx(elems(l), l.count, sizeof(void *), &val, (l.flags & M_LIST_STABLE) != 0,
		                                l.equality, l.thunk);
	/* The end of the array (logical index 0 of a STACK list). */
	return l.count;
}

/* Store an already duplicated value at physical index p. */
bool store_at(M_list_t &l, size_t p, void *stored)
{
	void **slot = open_slot(l, p);
	if (slot == nullptr)
		return false;
	*slot = stored;
	return true;
}

} // namespace

size_t m::detail::list_capacity(const M_list_t *d) noexcept
{
	return d == nullptr ? 0 : d->capacity;
}

size_t m::detail::list_front_slack(const M_list_t *d) noexcept
{
	return d == nullptr ? 0 : d->off;
}

extern "C" {

M_list_t *M_list_create(const struct M_list_callbacks *callbacks, uint32_t flags)
{
	M_sort_compar_t equality = callbacks != nullptr ? callbacks->equality : nullptr;

	if ((flags & (M_LIST_SORTED | M_LIST_SET_VAL)) && equality == nullptr)
		return nullptr;
	if ((flags & M_LIST_SORTED) && (flags & M_LIST_STACK))
		return nullptr;

	M_list_t *l = static_cast<M_list_t *>(M_malloc_zero(sizeof(*l)));
	if (callbacks != nullptr) {
		l->equality         = callbacks->equality;
		l->duplicate_insert = callbacks->duplicate_insert;
		l->duplicate_copy   = callbacks->duplicate_copy;
		l->value_free       = callbacks->value_free;
	}
	l->flags    = flags;
	l->capacity = kMinCapacity;
	l->base     = static_cast<void **>(alloc_slots(kMinCapacity));
	return l;
}

void M_list_destroy(M_list_t *d, M_bool destroy_vals)
{
	if (d == nullptr)
		return;
	if (destroy_vals) {
		void **e = elems(*d);
		for (size_t i = 0; i < d->count; i++)
			release(*d, e[i]);
	}
	M_free(d->base);
	M_free(d);
}

void M_list_change_sorting(M_list_t *d, M_sort_compar_t equality, uint32_t sort_flags, void *thunk)
{
	if (d == nullptr)
		return;

	if (sort_flags & M_LIST_SORTED) {
		if ((d->flags & M_LIST_STACK) || equality == nullptr)
			return;
		const uint32_t want = M_LIST_SORTED | (sort_flags & M_LIST_STABLE);
		if ((d->flags & (M_LIST_SORTED | M_LIST_STABLE)) == want && d->equality == equality && d->thunk == thunk)
			return;
		d->equality = equality;
		d->thunk    = thunk;
		d->flags    = (d->flags & ~static_cast<uint32_t>(M_LIST_SORTED | M_LIST_STABLE)) | want;
		sort_all(*d);
		return;
	}

	d->flags &= ~static_cast<uint32_t>(M_LIST_SORTED | M_LIST_STABLE);
	d->flags |= sort_flags & M_LIST_STABLE;
	d->equality = equality;
	d->thunk    = thunk;
}

M_bool M_list_insert(M_list_t *d, const void *val)
{
	if (d == nullptr)
		return M_FALSE;
	if (set_refuses(*d, val))
		return M_FALSE;
	const size_t p = insert_phys(*d, val);
	return store_at(*d, p, dup_insert(*d, val));
}

size_t M_list_insert_idx(const M_list_t *d, const void *val)
{
	if (d == nullptr)
		return 0;
	const size_t p = insert_phys(*d, val);
	/* For a STACK list the new value becomes logical index 0. */
	if (d->flags & M_LIST_STACK)
		return 0;
	return p;
}

M_bool M_list_insert_at(M_list_t *d, const void *val, size_t idx)
{
	if (d == nullptr)
		return M_FALSE;
	if (is_sorted(*d) && !d->batching)
		return M_FALSE;
	if (set_refuses(*d, val))
		return M_FALSE;
	if (idx > d->count)
		idx = d->count;
	/* Logical idx in the grown list: STACK maps it to count - idx. */
	const size_t p = (d->flags & M_LIST_STACK) ? d->count - idx : idx;
	return store_at(*d, p, dup_insert(*d, val));
}

void M_list_insert_begin(M_list_t *d)
{
	if (d == nullptr)
		return;
	d->batching = true;
}

void M_list_insert_end(M_list_t *d)
{
	if (d == nullptr || !d->batching)
		return;
	d->batching = false;
	if (is_sorted(*d))
		sort_all(*d);
}

size_t M_list_len(const M_list_t *d)
{
	return d == nullptr ? 0 : d->count;
}

size_t M_list_count(const M_list_t *d, const void *val, uint32_t type)
{
	if (d == nullptr)
		return 0;
	if (!(type & M_LIST_MATCH_PTR) && d->equality == nullptr)
		return 0;
	size_t n = 0;
	void **e = elems(*d);
	for (size_t i = 0; i < d->count; i++) {
		if (matches(*d, e[i], val, type))
			n++;
	}
	return n;
}

M_bool M_list_index_of(const M_list_t *d, const void *val, uint32_t type, size_t *idx)
{
	size_t phys;

	if (d == nullptr)
		return M_FALSE;
	if (!find_first(*d, val, type, phys))
		return M_FALSE;
	if (idx != nullptr)
		*idx = to_logical(*d, phys);
	return M_TRUE;
}

const void *M_list_at(const M_list_t *d, size_t idx)
{
	if (d == nullptr || idx >= d->count)
		return nullptr;
	return elems(*d)[to_phys(*d, idx)];
}

const void *M_list_first(const M_list_t *d)
{
	return M_list_at(d, 0);
}

const void *M_list_last(const M_list_t *d)
{
	if (d == nullptr || d->count == 0)
		return nullptr;
	return M_list_at(d, d->count - 1);
}

void *M_list_take_at(M_list_t *d, size_t idx)
{
	if (d == nullptr || idx >= d->count)
		return nullptr;
	return close_slot(*d, to_phys(*d, idx));
}

void *M_list_take_first(M_list_t *d)
{
	return M_list_take_at(d, 0);
}

void *M_list_take_last(M_list_t *d)
{
	if (d == nullptr || d->count == 0)
		return nullptr;
	return M_list_take_at(d, d->count - 1);
}

M_bool M_list_remove_at(M_list_t *d, size_t idx)
{
	if (d == nullptr || idx >= d->count)
		return M_FALSE;
	release(*d, close_slot(*d, to_phys(*d, idx)));
	return M_TRUE;
}

M_bool M_list_remove_first(M_list_t *d)
{
	return M_list_remove_at(d, 0);
}

M_bool M_list_remove_last(M_list_t *d)
{
	if (d == nullptr || d->count == 0)
		return M_FALSE;
	return M_list_remove_at(d, d->count - 1);
}

M_bool M_list_remove_range(M_list_t *d, size_t start, size_t end)
{
	if (d == nullptr || start > end || start >= d->count)
		return M_FALSE;
	if (end >= d->count)
		end = d->count - 1;
	/* Remove from the highest logical index down so the lower indexes stay
	 * put while the loop runs. */
	for (size_t i = end + 1; i-- > start;)
		(void)M_list_remove_at(d, i);
	return M_TRUE;
}

size_t M_list_remove_val(M_list_t *d, const void *val, uint32_t type)
{
	if (d == nullptr)
		return 0;

	if (!(type & M_LIST_MATCH_ALL)) {
		size_t phys;
		if (!find_first(*d, val, type, phys))
			return 0;
		release(*d, close_slot(*d, phys));
		return 1;
	}

	if (!(type & M_LIST_MATCH_PTR) && d->equality == nullptr)
		return 0;
	/* val may be a value borrowed from this very list: a stored value that
	 * is val itself is released only after the loop, as later elements are
	 * still compared with it. */
	size_t n        = 0;
	size_t deferred = 0;
	for (size_t i = d->count; i-- > 0;) {
		if (!matches(*d, M_list_at(d, i), val, type))
			continue;
		void *taken = close_slot(*d, to_phys(*d, i));
		if (taken == val)
			deferred++;
		else
			release(*d, taken);
		n++;
	}
	for (; deferred > 0; deferred--)
		release(*d, const_cast<void *>(val));
	return n;
}

void M_list_remove_duplicates(M_list_t *d, uint32_t type)
{
	if (d == nullptr)
		return;
	if (!(type & M_LIST_MATCH_PTR) && d->equality == nullptr)
		return;

	if (sorted_active(*d) && !(type & M_LIST_MATCH_PTR)) {
		/* Equal values are neighbours in a sorted list. */
		for (size_t i = 1; i < d->count;) {
			if (matches(*d, M_list_at(d, i), M_list_at(d, i - 1), type))
				(void)M_list_remove_at(d, i);
			else
				i++;
		}
		return;
	}

	for (size_t i = 0; i < d->count; i++) {
		const void *v = M_list_at(d, i);
		for (size_t j = i + 1; j < d->count;) {
			if (matches(*d, M_list_at(d, j), v, type))
				(void)M_list_remove_at(d, j);
			else
				j++;
		}
	}
}

size_t M_list_replace_val(M_list_t *d, const void *old_val, const void *new_val, uint32_t type)
{
	if (d == nullptr)
		return 0;
	if (old_val == new_val)
		return 0;
	if (!(type & M_LIST_MATCH_PTR)) {
		if (d->equality == nullptr || d->equality(&old_val, &new_val, d->thunk) == 0)
			return 0;
	}

	if (sorted_active(*d)) {
		/* Remove the matches, then insert as many copies at the sorted
		 * place of the new value. */
		const size_t n = M_list_remove_val(d, old_val, type);
		for (size_t i = 0; i < n; i++)
			(void)M_list_insert(d, new_val);
		return n;
	}

	/* old_val may be a value borrowed from this very list: the stored value
	 * that is old_val itself is released only after the loop, as later
	 * elements are still compared with it. */
	size_t n        = 0;
	size_t deferred = 0;
	void **e        = elems(*d);
	for (size_t i = 0; i < d->count; i++) {
		const size_t p = to_phys(*d, i);
		if (!matches(*d, e[p], old_val, type))
			continue;
		void *copy = dup_insert(*d, new_val);
		if (e[p] == old_val)
			deferred++;
		else
			release(*d, e[p]);
		e[p] = copy;
		n++;
		if (!(type & M_LIST_MATCH_ALL))
			break;
	}
	for (; deferred > 0; deferred--)
		release(*d, const_cast<void *>(old_val));
	return n;
}

M_bool M_list_replace_at(M_list_t *d, const void *val, size_t idx)
{
	if (d == nullptr || idx >= d->count)
		return M_FALSE;
	if (is_sorted(*d) && !d->batching)
		return M_FALSE;
	/* Copy before releasing: val may be the very value stored at idx. */
	void **slot = &elems(*d)[to_phys(*d, idx)];
	void  *copy = dup_insert(*d, val);
	release(*d, *slot);
	*slot = copy;
	return M_TRUE;
}

M_bool M_list_swap(M_list_t *d, size_t idx1, size_t idx2)
{
	if (d == nullptr || idx1 >= d->count || idx2 >= d->count || idx1 == idx2)
		return M_FALSE;
	if (is_sorted(*d))
		return M_FALSE;
	void **e = elems(*d);
	void **a = &e[to_phys(*d, idx1)];
	void **b = &e[to_phys(*d, idx2)];
	void  *t = *a;
	*a       = *b;
	*b       = t;
	return M_TRUE;
}

M_list_t *M_list_duplicate(const M_list_t *d)
{
	if (d == nullptr)
		return nullptr;

	M_list_t *n = static_cast<M_list_t *>(M_malloc_zero(sizeof(*n)));
	*n          = *d;
	n->batching = false;
	/* The copy keeps the source's comparator context: a sorted copy whose
	 * comparator needs it would otherwise break on its first insert. */
	n->thunk = d->thunk;

	size_t cap = kMinCapacity;
	while (cap < d->count)
		cap *= 2;
	n->capacity = cap;
	n->off      = 0;
	n->base     = static_cast<void **>(alloc_slots(cap));
	void **src  = elems(*d);
	for (size_t i = 0; i < d->count; i++)
		n->base[i] = d->duplicate_copy != nullptr ? d->duplicate_copy(src[i]) : src[i];
	/* The copies keep the source's order, which is already sorted when the
	 * source is (a sorted source outside batching); a source caught in a
	 * batch is sorted once. */
	if (is_sorted(*d) && d->batching)
		sort_all(*n);
	return n;
}

void M_list_merge(M_list_t **dest, M_list_t *src, M_bool include_duplicates, uint32_t type)
{
	if (dest == nullptr || src == nullptr)
		return;
	if (*dest == src)
		return;

	if (*dest == nullptr || (*dest)->count == 0) {
		M_list_destroy(*dest, M_FALSE);
		*dest = src;
		return;
	}

	M_list_t  &dl           = **dest;
	const bool set_list     = (dl.flags & (M_LIST_SET_PTR | M_LIST_SET_VAL)) != 0;
	const bool was_batching = dl.batching;
	dl.batching             = true;

	void **se = elems(*src);
	for (size_t i = 0; i < src->count; i++) {
		void *v    = se[i];
		bool  drop = false;
		if (set_list) {
			drop = set_refuses(dl, v);
		} else if (!include_duplicates) {
			/* Against everything *dest holds at this point, the values
			 * already moved from src included, so a value repeated within
			 * src is moved once. */
			size_t phys;
			drop = find_first(dl, v, type & M_LIST_MATCH_PTR, phys);
		}
		if (drop) {
			release(*src, v);
			continue;
		}
		(void)store_at(dl, dl.count, v);
	}

	dl.batching = was_batching;
	if (!was_batching && is_sorted(dl))
		sort_all(dl);

	M_free(src->base);
	M_free(src);
}

} // extern "C"
