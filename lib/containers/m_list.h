/* Dynamic list: a growable array of opaque pointers.
 *
 * The list stores "void *" values. It can keep them in comparator order
 * (SORTED, optionally STABLE), refuse duplicates (SET_VAL, SET_PTR), or
 * present them newest-first (STACK). Callbacks given at creation decide what
 * is stored (duplicate_insert: a copy of the caller's value, or the value
 * itself) and how a stored value is released (value_free).
 *
 * Storage: one array of pointers. Removing the first element only moves the
 * start of the live range forward (front slack), and inserting at the front
 * reuses that slack, so a list used as a queue does not shift its elements.
 * The capacity starts at 4 and doubles when the array is full; after a
 * removal it halves when the elements fit in 40 % of it (count <= half/1.25)
 * and the half is at least 4 slots, unless NEVERSHRINK is set. Vacated slots
 * are zeroed.
 *
 * Indexes: every index is logical. In a STACK list index 0 is the newest
 * element (the last one appended) and first/last are swapped accordingly.
 *
 * Batching: between M_list_insert_begin and M_list_insert_end inserts append
 * without sorting and sorted searches fall back to scans; ending the batch
 * sorts once (merge sort when STABLE, else quicksort).
 *
 * Ownership: values returned by the "at"/"first"/"last" accessors stay owned
 * by the list and are valid until the value is removed or replaced; the
 * "take" operations hand the stored value to the caller, who releases it as
 * the value_free callback would. Borrowed values stay valid across inserts
 * (the list moves pointers, not the values they point to).
 *
 * Failure: every operation that fails (NULL list, index out of range,
 * refused insert, invalid flags) leaves the list unchanged and reports it:
 * it yields 0, NULL or M_FALSE by its result type. Nothing is printed.
 *
 * Concurrency: no locks; a list belongs to one thread at a time. The
 * comparator's thunk is stored in the list and must stay valid while the
 * list sorts or searches.
 */
#ifndef M_LIST_H
#define M_LIST_H

#include "core/m_defs.h"
#include "containers/m_sort_compar.h"

M_BEGIN_DECLS

/* Opaque list object. */
typedef struct M_list M_list_t;

/* Makes the value to store from a caller's value (insert) or from a stored
 * value (duplicate of the list). Returns the value to store. */
typedef void *(*M_list_duplicate_func)(const void *);

/* Releases a stored value. */
typedef void (*M_list_free_func)(void *);

/* Callbacks of a list; every member may be NULL. */
struct M_list_callbacks {
	M_sort_compar_t       equality;         /* order and equality of values; no default (needed by
	                                           SORTED and SET_VAL and the value searches) */
	M_list_duplicate_func duplicate_insert; /* value -> stored value on insert; default identity */
	M_list_duplicate_func duplicate_copy;   /* stored value -> copy for M_list_duplicate; default identity */
	M_list_free_func      value_free;       /* releases a stored value; default does nothing */
};

/* List flags (bit values are fixed). */
typedef enum {
	M_LIST_NONE        = 0,      /* plain unsorted list */
	M_LIST_SORTED      = 1 << 0, /* keep comparator order; needs equality; not with STACK */
	M_LIST_STABLE      = 1 << 1, /* equal values keep insertion order (merge sort; insert after equals) */
	M_LIST_STACK       = 1 << 2, /* index 0 is the newest element; first/last swapped */
	M_LIST_SET_VAL     = 1 << 3, /* refuse a value equal (by equality) to one present; needs equality */
	M_LIST_SET_PTR     = 1 << 4, /* refuse a pointer already present; wins over SET_VAL */
	M_LIST_NEVERSHRINK = 1 << 5  /* never reduce the storage after removals */
} M_list_flags_t;

/* Match flags of the searching and removing operations. */
typedef enum {
	M_LIST_MATCH_VAL = 0,      /* compare with the equality callback */
	M_LIST_MATCH_PTR = 1 << 0, /* compare the pointers themselves */
	M_LIST_MATCH_ALL = 1 << 1  /* act on every match instead of the first */
} M_list_match_type_t;

/* ---------------------------------------------------------------------------
 * Life cycle
 * ------------------------------------------------------------------------- */

/* Create an empty list of capacity 4.
 *
 * callbacks: copied into the list; NULL means no callbacks (identity copies,
 *            no release, no equality).
 * flags:     M_list_flags_t bits.
 * Returns the list (free with M_list_destroy), or NULL when SORTED or
 * SET_VAL is asked without an equality callback, or SORTED with STACK.
 * NULL: yields a new list. */
M_API M_list_t *M_list_create(const struct M_list_callbacks *callbacks, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Destroy a list.
 *
 * d:            the list; NULL is ignored.
 * destroy_vals: M_TRUE releases every stored value with value_free first;
 *               M_FALSE leaves the values to whoever still holds them.
 * Every value borrowed from the list is invalid afterwards when destroy_vals
 * is set. */
M_API void M_list_destroy(M_list_t *d, M_bool destroy_vals);

/* Change the ordering of a list.
 *
 * d:          the list; NULL is ignored.
 * equality:   the comparator to install.
 * sort_flags: bit M_LIST_SORTED on: install equality and thunk, set SORTED
 *             (and STABLE from bit M_LIST_STABLE) and re-sort at once (merge
 *             sort when stable, else quicksort). Refused (list unchanged)
 *             for a STACK list or a NULL equality; nothing is done when the
 *             list is already sorted the same way with the same comparator
 *             and thunk. Bit M_LIST_SORTED off: clear SORTED, set STABLE from
 *             its bit, install equality and thunk; the order is kept.
 * thunk:      context handed to the comparator; may be NULL.
 * Indexes of values may change. */
M_API void M_list_change_sorting(M_list_t *d, M_sort_compar_t equality, uint32_t sort_flags, void *thunk);

/* Copy a list.
 *
 * d: the list; NULL yields NULL.
 * Returns a new list (free with M_list_destroy) with the same callbacks and
 * flags, every value copied with duplicate_copy, the order kept (a sorted
 * copy is sorted once at the end). The copy's thunk starts NULL. */
M_API M_list_t *M_list_duplicate(const M_list_t *d) M_WARN_UNUSED_RESULT;

/* Move the values of src into *dest.
 *
 * dest:               address of the destination list; NULL does nothing
 *                     (src is left alone). When *dest is NULL or empty, its
 *                     storage is freed and *dest becomes src.
 * src:                consumed: its values move to *dest and its storage is
 *                     freed; NULL does nothing.
 * include_duplicates: M_FALSE releases (with src's value_free) each src
 *                     value already in *dest instead of moving it; the
 *                     values moved before it count as in *dest, so a value
 *                     repeated within src is moved once. A SET
 *                     destination never keeps duplicates; its set test
 *                     (pointer or equality) decides.
 * type:               M_LIST_MATCH_PTR: duplicates are the same pointer;
 *                     otherwise *dest's equality decides.
 * The values are appended and *dest is sorted once if it is SORTED. src is
 * invalid afterwards. */
M_API void M_list_merge(M_list_t **dest, M_list_t *src, M_bool include_duplicates, uint32_t type);

/* ---------------------------------------------------------------------------
 * Inserting
 * ------------------------------------------------------------------------- */

/* Insert a value.
 *
 * d:   the list; NULL fails.
 * val: the value; duplicate_insert(val) is stored. NULL is stored as given
 *      (through duplicate_insert) like any value.
 * Placement: a sorted list (outside batching) at the binary insertion point,
 * STABLE lists after every equal value; other lists at the end (logical
 * index 0 of a STACK list).
 * Returns M_FALSE (list unchanged, nothing copied) when d is NULL or a SET
 * test finds the value already present. */
M_API M_bool M_list_insert(M_list_t *d, const void *val);

/* The logical index at which M_list_insert would place val.
 *
 * d: the list; NULL yields 0. val: as for M_list_insert. */
M_API size_t M_list_insert_idx(const M_list_t *d, const void *val);

/* Insert a value at a logical index.
 *
 * d:   the list; NULL fails.
 * val: as for M_list_insert.
 * idx: the position; an index past the end appends.
 * Returns M_FALSE (list unchanged) for a NULL list, for a sorted list outside
 * batching, and when a SET test finds the value. */
M_API M_bool M_list_insert_at(M_list_t *d, const void *val, size_t idx);

/* Start batching: inserts append unsorted until M_list_insert_end.
 * d: NULL is ignored. */
M_API void M_list_insert_begin(M_list_t *d);

/* End batching and sort once if the list is SORTED (merge sort when STABLE,
 * else quicksort). d: NULL is ignored. Indexes of values may change. */
M_API void M_list_insert_end(M_list_t *d);

/* ---------------------------------------------------------------------------
 * Reading and searching
 * ------------------------------------------------------------------------- */

/* Number of values; 0 for NULL. */
M_API size_t M_list_len(const M_list_t *d);

/* Number of values matching val.
 *
 * d:    the list; NULL yields 0.
 * val:  the value to compare with.
 * type: M_LIST_MATCH_PTR compares pointers; otherwise the equality callback
 *       (no equality: 0). M_LIST_MATCH_ALL makes no difference here. */
M_API size_t M_list_count(const M_list_t *d, const void *val, uint32_t type);

/* Find the first value matching val.
 *
 * d:    the list; NULL finds nothing.
 * val:  the value to compare with.
 * type: M_LIST_MATCH_PTR compares pointers (in a sorted list: the run of
 *       values equal to val is searched for the very pointer); otherwise the
 *       equality callback (no equality: nothing is found).
 * idx:  receives the logical index; NULL allowed.
 * Sorted lists outside batching search by halving (the first of a run of
 * equal values); others scan from the first element.
 * Returns M_TRUE when found. */
M_API M_bool M_list_index_of(const M_list_t *d, const void *val, uint32_t type, size_t *idx);

/* The first value (logical index 0), still owned by the list; NULL for an
 * empty or NULL list. */
M_API const void *M_list_first(const M_list_t *d);

/* The last value (logical index len - 1), still owned by the list; NULL for
 * an empty or NULL list. */
M_API const void *M_list_last(const M_list_t *d);

/* The value at logical index idx, still owned by the list; NULL when d is
 * NULL or idx is out of range (a stored NULL also reads as NULL). */
M_API const void *M_list_at(const M_list_t *d, size_t idx);

/* ---------------------------------------------------------------------------
 * Removing (take: hand the value to the caller; remove: release it)
 * ------------------------------------------------------------------------- */

/* Remove the first value and return it without releasing it; the caller
 * owns it. NULL for an empty or NULL list. */
M_API void *M_list_take_first(M_list_t *d);

/* Remove the last value and return it without releasing it. */
M_API void *M_list_take_last(M_list_t *d);

/* Remove the value at idx and return it without releasing it; NULL when d
 * is NULL or idx is out of range. */
M_API void *M_list_take_at(M_list_t *d, size_t idx);

/* Remove the first value and release it with value_free.
 * Returns M_FALSE for an empty or NULL list. */
M_API M_bool M_list_remove_first(M_list_t *d);

/* Remove the last value and release it. M_FALSE for an empty or NULL list. */
M_API M_bool M_list_remove_last(M_list_t *d);

/* Remove the value at idx and release it. M_FALSE when d is NULL or idx is
 * out of range. */
M_API M_bool M_list_remove_at(M_list_t *d, size_t idx);

/* Remove and release the values at logical indexes start to end inclusive.
 *
 * d: the list; NULL fails. end is clamped to the last index.
 * Returns M_FALSE (list unchanged) when start > end or start is not below the
 * length. */
M_API M_bool M_list_remove_range(M_list_t *d, size_t start, size_t end);

/* Remove and release the first match of val (every match with
 * M_LIST_MATCH_ALL).
 *
 * d:   NULL yields 0.
 * val: may be a value borrowed from d itself (M_list_at); it is compared
 *      with every element before it is released.
 * type: match flags as for M_list_index_of.
 * Returns the number of values removed. Borrowed removed values are invalid
 * afterwards. */
M_API size_t M_list_remove_val(M_list_t *d, const void *val, uint32_t type);

/* Keep the first of each group of matching values; release the others.
 *
 * d:    NULL is ignored.
 * type: M_LIST_MATCH_PTR: values match when they are the same pointer;
 *       otherwise by the equality callback (no equality: nothing removed). */
M_API void M_list_remove_duplicates(M_list_t *d, uint32_t type);

/* ---------------------------------------------------------------------------
 * Replacing and moving
 * ------------------------------------------------------------------------- */

/* Replace the first match of old_val (every match with M_LIST_MATCH_ALL)
 * with a copy (duplicate_insert) of new_val, releasing the old values.
 *
 * d: NULL yields 0. type: match flags as for M_list_index_of.
 * old_val, new_val: may be values borrowed from d itself; old_val is
 * compared with every element before it is released.
 * In a sorted list the matched values are removed and as many copies of
 * new_val inserted at its sorted place. Nothing happens when new_val equals
 * old_val (same pointer, or equal by the equality callback without
 * M_LIST_MATCH_PTR).
 * Returns the number of values replaced. Borrowed replaced values are
 * invalid afterwards. */
M_API size_t M_list_replace_val(M_list_t *d, const void *old_val, const void *new_val, uint32_t type);

/* Release the value at idx and store a copy of val there.
 *
 * val: may be the value stored at idx itself (it is copied first).
 * d: NULL fails. Returns M_FALSE (list unchanged) when idx is out of range or
 * the list is sorted outside batching. */
M_API M_bool M_list_replace_at(M_list_t *d, const void *val, size_t idx);

/* Exchange the values at idx1 and idx2.
 *
 * d: NULL fails. Returns M_FALSE (list unchanged) when an index is not below
 * the length, the two are equal, or the list is sorted. */
M_API M_bool M_list_swap(M_list_t *d, size_t idx1, size_t idx2);

M_END_DECLS

#endif /* M_LIST_H */
