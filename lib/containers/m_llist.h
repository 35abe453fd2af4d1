/* Linked list of opaque values: M_llist_t.
 *
 * Two representations, chosen at creation:
 *
 *  - plain: a doubly linked list, optionally circular (the tail links back to
 *    the head). Callers hold nodes (M_llist_node_t) as handles and can insert
 *    next to them, move them and remove them in constant time.
 *  - sorted (M_LLIST_SORTED): a skip list (W. Pugh, "Skip Lists: A
 *    Probabilistic Alternative to Balanced Trees", 1990) so that sorted
 *    insertion, search and removal take logarithmic expected time. Node
 *    heights are drawn from the list's own random generator and capped near
 *    log2 of the list size (4 levels up to 16 values); the level array grows
 *    by at most one level per insertion and shrinks again when removals
 *    empty its top levels. Among equal values a new one never lands before
 *    the first of them; its place within the run is otherwise undefined.
 *    Positional operations (insert_first/before/after, set_first/last,
 *    move_before/after) are refused on sorted lists.
 *
 * Ownership: inserts store duplicate_insert(value) (the pointer itself by
 * default); value_free releases stored values where an operation says so.
 * A node handle stays valid until its node is removed or taken, or the list
 * is destroyed or merged away.
 *
 * Match flags of find, count and the removals are M_LIST_MATCH_PTR (1:
 * compare stored pointers instead of calling equality) and M_LIST_MATCH_ALL
 * (2: act on every match) from m_list.h.
 *
 * Failure: operations yield 0, NULL or M_FALSE for NULL arguments,
 * positional operations on a sorted list, nodes of another list, and
 * equality-based searches on a list without an equality callback; the list
 * is then unchanged. No locks: a list and its nodes belong to one thread.
 */
#ifndef M_LLIST_H
#define M_LLIST_H

#include "core/m_defs.h"

M_BEGIN_DECLS

struct M_llist;
/* Opaque list object. */
typedef struct M_llist M_llist_t;

struct M_llist_node;
/* Opaque node handle; owned by its list. */
typedef struct M_llist_node M_llist_node_t;

/* Comparator: addresses of two stored pointers plus the list's thunk;
 * negative, 0 or positive. The M_sort_compar_* functions fit it. */
typedef int (*M_llist_compar_func)(const void *arg1, const void *arg2, void *thunk);

/* Duplicate callback: value -> stored value. */
typedef void *(*M_llist_duplicate_func)(const void *arg);

/* Release callback for stored values. */
typedef void (*M_llist_free_func)(void *arg);

/* Optional callbacks, in this order; NULL members take the default. */
struct M_llist_callbacks {
	M_llist_compar_func    equality;         /* no default: equality searches fail */
	M_llist_duplicate_func duplicate_insert; /* default: identity */
	M_llist_duplicate_func duplicate_copy;   /* default: identity */
	M_llist_free_func      value_free;       /* default: nothing */
};
typedef struct M_llist_callbacks M_llist_callbacks;

/* List flags. */
typedef enum {
	M_LLIST_NONE     = 0,
	M_LLIST_SORTED   = 1 << 0, /* keep values in comparator order (skip list) */
	M_LLIST_CIRCULAR = 1 << 1  /* tail links back to head; not with SORTED */
} M_llist_flags_t;

/* ---------------------------------------------------------------------------
 * Creation and destruction
 * ------------------------------------------------------------------------- */

/* Create an empty list.
 *
 * callbacks: NULL means every default (and no equality). Copied.
 * flags:     M_llist_flags_t bits.
 *
 * Returns a new list (release with M_llist_destroy), or NULL for SORTED
 * together with CIRCULAR. A sorted list created without an equality callback
 * refuses inserts until M_llist_change_sorting installs one.
 * NULL: yields a new list. */
M_API M_llist_t *M_llist_create(const struct M_llist_callbacks *callbacks, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Destroy a list: every node is freed, values released with value_free when
 * destroy_vals is true. d: NULL is ignored. Invalidates d and all its nodes. */
M_API void M_llist_destroy(M_llist_t *d, M_bool destroy_vals);

/* Install a new comparator and/or context on an EMPTY sorted list.
 *
 * d:        NULL fails.
 * equality: new comparator; NULL keeps the current one.
 * thunk:    context handed to the comparator; may be NULL.
 *
 * Returns M_FALSE for a NULL list, a plain or non-empty list, or when both
 * equality and thunk are NULL (list unchanged). */
M_API M_bool M_llist_change_sorting(M_llist_t *d, M_llist_compar_func equality, void *thunk);

/* ---------------------------------------------------------------------------
 * Insertion and positioning
 * ------------------------------------------------------------------------- */

/* Store duplicate_insert(val): sorted lists at its sorted place, plain lists
 * after the tail.
 *
 * d, val: NULL fails (NULL values cannot be stored).
 *
 * Returns the new node (owned by the list), or NULL on failure. */
M_API M_llist_node_t *M_llist_insert(M_llist_t *d, const void *val);

/* Plain lists only: store duplicate_insert(val) as the new head.
 * d, val: NULL fails. Returns the new node or NULL (also for sorted lists). */
M_API M_llist_node_t *M_llist_insert_first(M_llist_t *d, const void *val);

/* Plain lists only: store duplicate_insert(val) just before n (before the
 * head: a new head).
 * n, val: NULL fails. Returns the new node or NULL (also for sorted lists). */
M_API M_llist_node_t *M_llist_insert_before(M_llist_node_t *n, const void *val);

/* Plain lists only: store duplicate_insert(val) just after n (after the
 * tail: a new tail).
 * n, val: NULL fails. Returns the new node or NULL (also for sorted lists). */
M_API M_llist_node_t *M_llist_insert_after(M_llist_node_t *n, const void *val);

/* Plain lists with at least two nodes: make n the head. In a circular list
 * only the head and tail pointers turn (n becomes head, its prev the tail).
 * n: NULL fails. Returns M_FALSE when nothing could be done. */
M_API M_bool M_llist_set_first(M_llist_node_t *n);

/* Plain lists with at least two nodes: make n the tail. In a circular list
 * only the head and tail pointers turn (n becomes tail, its next the head).
 * n: NULL fails. Returns M_FALSE when nothing could be done. */
M_API M_bool M_llist_set_last(M_llist_node_t *n);

/* Plain lists: unlink move and relink it just before target.
 * move, target: NULL fails; both must belong to the same list and differ.
 * Returns M_FALSE on failure (list unchanged). Node handles stay valid. */
M_API M_bool M_llist_move_before(M_llist_node_t *move, M_llist_node_t *target);

/* Plain lists: unlink move and relink it just after target.
 * move, target: NULL fails; both must belong to the same list and differ.
 * Returns M_FALSE on failure (list unchanged). Node handles stay valid. */
M_API M_bool M_llist_move_after(M_llist_node_t *move, M_llist_node_t *target);

/* ---------------------------------------------------------------------------
 * Walking
 * ------------------------------------------------------------------------- */

/* Number of nodes; 0 for NULL. */
M_API size_t M_llist_len(const M_llist_t *d);

/* First node (lowest value of a sorted list), or NULL for an empty or NULL
 * list. */
M_API M_llist_node_t *M_llist_first(const M_llist_t *d);

/* Last node (the tail), or NULL for an empty or NULL list. */
M_API M_llist_node_t *M_llist_last(const M_llist_t *d);

/* Next node in list order; a circular list never ends. NULL for NULL or
 * past the tail of a non-circular list. */
M_API M_llist_node_t *M_llist_node_next(const M_llist_node_t *n);

/* Previous node in list order; NULL for NULL or before the head of a
 * non-circular list. */
M_API M_llist_node_t *M_llist_node_prev(const M_llist_node_t *n);

/* The stored value (owned by the list); NULL for a NULL node. */
M_API void *M_llist_node_val(const M_llist_node_t *n);

/* ---------------------------------------------------------------------------
 * Searching and removing
 * ------------------------------------------------------------------------- */

/* First node matching val: by pointer with M_LIST_MATCH_PTR, else by the
 * equality callback. Plain lists scan from the head (one pass for circular
 * ones); sorted lists search the skip list, then step back to the first of
 * the equal run and, with MATCH_PTR, forward through the run to the node
 * holding that very pointer.
 *
 * d, val: NULL yields NULL. Returns the node (owned by the list) or NULL. */
M_API M_llist_node_t *M_llist_find(const M_llist_t *d, const void *val, uint32_t match_flags);

/* Number of nodes matching val (match_flags as M_llist_find; MATCH_ALL is
 * implied). d, val: NULL yields 0. */
M_API size_t M_llist_count(const M_llist_t *d, const void *val, uint32_t match_flags);

/* Unlink and free n, returning its value unreleased: the caller now owns it.
 * n: NULL yields NULL. Invalidates n. */
M_API void *M_llist_take_node(M_llist_node_t *n);

/* Unlink and free n, releasing its value with value_free.
 * n: NULL yields M_FALSE. Invalidates n and its value. */
M_API M_bool M_llist_remove_node(M_llist_node_t *n);

/* Remove the first match of val (every match with M_LIST_MATCH_ALL),
 * releasing values with value_free.
 * d, val: NULL yields 0. Returns the number removed. Invalidates the
 * removed nodes and values. */
M_API size_t M_llist_remove_val(M_llist_t *d, const void *val, uint32_t match_flags);

/* Keep the first of each group of matching values (by pointer with
 * M_LIST_MATCH_PTR, else by equality), releasing the others.
 * d: NULL is ignored. Invalidates the removed nodes and values. */
M_API void M_llist_remove_duplicates(M_llist_t *d, uint32_t match_flags);

/* ---------------------------------------------------------------------------
 * Duplicate and merge
 * ------------------------------------------------------------------------- */

/* New list with the same callbacks and flags (its thunk starts NULL), every
 * value copied with duplicate_copy, in list order.
 * d: NULL yields NULL. Returns the new list (release with M_llist_destroy). */
M_API M_llist_t *M_llist_duplicate(const M_llist_t *d) M_WARN_UNUSED_RESULT;

/* Move src's values into *dest (appended, or placed in order when *dest is
 * sorted). Without include_duplicates a src value already in *dest (by
 * pointer with M_LIST_MATCH_PTR, else by *dest's equality) is released with
 * src's value_free instead. src is freed.
 *
 * dest: NULL is ignored (src is left alone). *dest NULL becomes src.
 * src:  NULL is ignored; consumed otherwise (it and its nodes are invalid).
 */
M_API void M_llist_merge(M_llist_t **dest, M_llist_t *src, M_bool include_duplicates, uint32_t match_flags);

M_END_DECLS

#endif /* M_LLIST_H */
