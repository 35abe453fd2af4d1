/* Generic hash table: opaque pointer keys mapped to opaque pointer values.
 *
 * One table type serves the whole library. Callers supply the hash function,
 * the key comparison and up to seven optional callbacks that copy and release
 * keys and values. A table can keep several values per key (MULTI_VALUE),
 * remember its keys in insertion or sorted order (KEYS_ORDERED, KEYS_SORTED),
 * and grows itself by doubling when a fill percentage is reached.
 *
 * Layout: the bucket array holds the first entry of each chain in place, so
 * a key that does not collide costs no allocation beyond its key copy. Later
 * keys of an occupied bucket get their own entry, linked directly after the
 * array entry (before older chained entries). Bucket selection is
 * hash AND (size - 1); sizes are powers of two, at most 16,777,216 buckets.
 * A NULL key marks an empty bucket, so a NULL key is never stored.
 *
 * Hashing is seeded FNV-1a (m_hash_func.h). The seed is drawn from the random
 * number generator once per table unless M_HASHTABLE_STATIC_SEED is given, so
 * the enumeration order of an unordered table changes from run to run: callers
 * (and tests) that need an order must ask for KEYS_ORDERED or sort the result.
 *
 * Ownership: on insert a key is stored as key_duplicate_insert(key) and a
 * value as value_duplicate_insert(value); without those callbacks the caller's
 * pointers themselves are stored and must outlive their use in the table.
 * Stored keys are released with key_free on removal and destruction; stored
 * values with value_free wherever an operation says so (destroy_vals).
 *
 * Concurrency: no locks; a table belongs to one thread at a time. A table
 * must not be changed while an enumeration of it is under way: the
 * enumeration state holds positions, not references.
 *
 * Failure: operations report failure only through their M_bool, count or
 * NULL results. A failed operation leaves the table unchanged. A NULL table
 * or key yields 0, NULL or M_FALSE by result type. Running out of
 * memory ends the process (m_mem.h).
 */
#ifndef M_HASHTABLE_H
#define M_HASHTABLE_H

#include "core/m_defs.h"

M_BEGIN_DECLS

struct M_hashtable;
/* Opaque table object. Create with M_hashtable_create, release with
 * M_hashtable_destroy. */
typedef struct M_hashtable M_hashtable_t;

struct M_llist_node;

/* Hash callback: (key, 32-bit seed) -> 32-bit hash. See m_hash_func.h. */
typedef uint32_t (*M_hashtable_hash_func)(const void *key, uint32_t seed);

/* Comparison callback, the library's sort comparator shape: receives the
 * addresses of two stored pointers (not the pointers themselves) and a
 * context, which the table always passes as NULL. Returns negative, 0 or
 * positive; 0 means equal. M_sort_compar_str and friends fit it. */
typedef int (*M_hashtable_compar_func)(const void *arg1, const void *arg2, void *thunk);

/* Duplicate callback: value -> stored value (a copy, or the pointer itself). */
typedef void *(*M_hashtable_duplicate_func)(const void *arg);

/* Release callback for stored keys and values. */
typedef void (*M_hashtable_free_func)(void *arg);

/* Optional callbacks, in this order. A NULL member takes the default given.
 * The insert-flavoured duplicators are applied when a caller inserts; the
 * copy-flavoured ones when a whole table is duplicated. */
struct M_hashtable_callbacks {
	M_hashtable_duplicate_func key_duplicate_insert;   /* default: identity */
	M_hashtable_duplicate_func key_duplicate_copy;     /* default: identity */
	M_hashtable_free_func      key_free;               /* default: nothing  */
	M_hashtable_duplicate_func value_duplicate_insert; /* default: identity */
	M_hashtable_duplicate_func value_duplicate_copy;   /* default: identity */
	M_hashtable_compar_func    value_equality;         /* default: all equal */
	M_hashtable_free_func      value_free;             /* default: nothing  */
};
typedef struct M_hashtable_callbacks M_hashtable_callbacks;

/* Table flags (combine with |). */
typedef enum {
	M_HASHTABLE_NONE = 0,
	/* Keys are also kept in a linked list in insertion order; enumeration
     * follows that list. */
	M_HASHTABLE_KEYS_ORDERED = 1 << 0,
	/* The key list is sorted by the key comparison. Requires KEYS_ORDERED. */
	M_HASHTABLE_KEYS_SORTED = 1 << 1,
	/* A key holds a list of values; inserting an existing key appends. */
	M_HASHTABLE_MULTI_VALUE = 1 << 2,
	/* Each value list stays sorted by value_equality. Requires MULTI_VALUE
     * and a value_equality callback. */
	M_HASHTABLE_MULTI_SORTED = 1 << 3,
	/* M_hashtable_get returns a key's last value instead of its first.
     * Requires MULTI_VALUE. */
	M_HASHTABLE_MULTI_GETLAST = 1 << 4,
	/* The seed is the constant 16777619 instead of a random number, so two
     * tables fed the same keys in the same order enumerate alike. */
	M_HASHTABLE_STATIC_SEED = 1 << 5
} M_hashtable_flags_t;

/* Enumeration state: a caller-owned record, filled by M_hashtable_enumerate
 * and advanced by M_hashtable_enumerate_next. It holds positions only; it
 * stays valid while the table is not changed and needs no release. */
typedef struct {
	union {
		uint64_t             hash; /* bucket number (unordered tables) */
		struct M_llist_node *node; /* current key-list node (ordered tables) */
	} entry;
	size_t chainid;  /* position in the bucket's chain; 0 is the array entry */
	size_t valueidx; /* index within the current key's value list */
} M_hashtable_enum_t;

/* ---------------------------------------------------------------------------
 * Creation and destruction
 * ------------------------------------------------------------------------- */

/* Create a table.
 *
 * size:         requested bucket count; rounded up to a power of two and
 *               capped at 16,777,216. 0 is refused.
 * fill_pct:     0 to 99: the table doubles when num_keys * 100 / size reaches
 *               it after an insert; 0 means never grow. Above 99 is refused.
 * hash_func:    NULL means M_hash_func_hash_vp (pointer identity).
 * key_equality: NULL means M_sort_compar_vp (pointer identity).
 * flags:        M_hashtable_flags_t bits.
 * callbacks:    NULL means every default. The record is copied; the caller
 *               keeps ownership of it.
 *
 * Returns a new table (release with M_hashtable_destroy), or NULL when size
 * is 0, fill_pct is above 99, MULTI_SORTED or MULTI_GETLAST is set without
 * MULTI_VALUE, MULTI_SORTED is set without a value_equality callback, or
 * KEYS_SORTED is set without KEYS_ORDERED. The seed is drawn here. */
M_API M_hashtable_t *M_hashtable_create(size_t size, uint8_t fill_pct, M_hashtable_hash_func hash_func,
                                        M_hashtable_compar_func key_equality, uint32_t flags,
                                        const struct M_hashtable_callbacks *callbacks) M_WARN_UNUSED_RESULT;

/* Destroy a table: every key is released with key_free and, when
 * destroy_vals is true, every value with value_free (a multi-value list is
 * destroyed with the same choice); then the key list, the array and the
 * table itself.
 *
 * h: NULL is ignored.
 *
 * Invalidates h, every stored key and value it released, and every
 * enumeration state of h. */
M_API void M_hashtable_destroy(M_hashtable_t *h, M_bool destroy_vals);

/* ---------------------------------------------------------------------------
 * Insert, remove, look up
 * ------------------------------------------------------------------------- */

/* Insert a key/value pair.
 *
 * h:     NULL fails.
 * key:   NULL fails. A new key is stored as key_duplicate_insert(key); for a
 *        key already present the stored key stays and the caller's key is
 *        neither copied nor kept.
 * value: stored as value_duplicate_insert(value); NULL is a legal value.
 *
 * Behaviour for a key already present: a multi-value table appends the value
 * to the key's list (at its sorted place with MULTI_SORTED); a single-value
 * table replaces the stored value, releasing the old one with value_free,
 * unless the stored value is the very same pointer (then nothing changes).
 * The table then doubles when its fill percentage is reached.
 *
 * Returns M_TRUE on success; M_FALSE for a NULL table or key, or when the
 * key duplicator yields NULL for a new key (a NULL key cannot be stored; the
 * value copy is then released with value_free). The table is unchanged on
 * failure. Invalidates enumeration states of h and, on replacement, the
 * released old value. */
M_API M_bool M_hashtable_insert(M_hashtable_t *h, const void *key, const void *value);

/* Remove a key with all its values.
 *
 * h, key:       NULL fails.
 * destroy_vals: release the values with value_free (the key is always
 *               released with key_free).
 *
 * Returns M_TRUE when the key was present and is gone; M_FALSE for a NULL
 * argument or an absent key (table unchanged). Invalidates the released key
 * and values and enumeration states of h. */
M_API M_bool M_hashtable_remove(M_hashtable_t *h, const void *key, M_bool destroy_vals);

/* Look a key up.
 *
 * h, key: NULL yields M_FALSE.
 * value:  receives the stored value (still owned by the table) when the key
 *         is present: in a multi-value table the key's first value, or its
 *         last with MULTI_GETLAST. NULL makes this a presence test. Left
 *         untouched when the key is absent.
 *
 * Returns M_TRUE when the key is present. Invalidates nothing. */
M_API M_bool M_hashtable_get(const M_hashtable_t *h, const void *key, void **value);

/* Number of values of a key in a multi-value table.
 *
 * h, key: NULL yields M_FALSE.
 * len:    receives the count, or 0 on failure; may be NULL.
 *
 * Returns M_TRUE when the table is MULTI_VALUE and the key is present;
 * M_FALSE otherwise. Invalidates nothing. */
M_API M_bool M_hashtable_multi_len(const M_hashtable_t *h, const void *key, size_t *len);

/* The idx-th value (0-based, list order) of a key in a multi-value table.
 *
 * h, key: NULL yields M_FALSE.
 * value:  receives the value (still owned by the table); may be NULL; left
 *         untouched on failure.
 *
 * Returns M_TRUE on success; M_FALSE for a table without MULTI_VALUE, an
 * absent key or idx not below the key's value count. Invalidates nothing. */
M_API M_bool M_hashtable_multi_get(const M_hashtable_t *h, const void *key, size_t idx, void **value);

/* Remove one value of a key in a multi-value table. When it is the key's only
 * value the key goes as with M_hashtable_remove; otherwise the value leaves
 * the list (released with value_free when destroy_vals) and the value count
 * drops by one.
 *
 * h, key: NULL yields M_FALSE.
 *
 * Returns M_TRUE on success; M_FALSE for a table without MULTI_VALUE, an
 * absent key or idx out of range (table unchanged). Invalidates the released
 * value (and key) and enumeration states of h. */
M_API M_bool M_hashtable_multi_remove(M_hashtable_t *h, const void *key, size_t idx, M_bool destroy_vals);

/* ---------------------------------------------------------------------------
 * Counters
 * ------------------------------------------------------------------------- */

/* Number of buckets (a power of two). h: NULL yields 0. */
M_API uint32_t M_hashtable_size(const M_hashtable_t *h);

/* Number of distinct keys stored. h: NULL yields 0. */
M_API uint64_t M_hashtable_num_keys(const M_hashtable_t *h);

/* Number of chained entries ever allocated: it never decreases, and the
 * chains rebuilt by an expansion count again. h: NULL yields 0. */
M_API uint64_t M_hashtable_num_collisions(const M_hashtable_t *h);

/* Number of doublings so far. h: NULL yields 0. */
M_API uint64_t M_hashtable_num_expansions(const M_hashtable_t *h);

/* ---------------------------------------------------------------------------
 * Enumeration
 * ------------------------------------------------------------------------- */

/* Start an enumeration: reset *hashenum to the first position.
 *
 * h:        NULL yields 0.
 * hashenum: caller-owned state to reset; NULL yields 0.
 *
 * Returns the number of key/value pairs the enumeration will yield (the
 * number of values: equal to the key count unless MULTI_VALUE). */
M_API size_t M_hashtable_enumerate(const M_hashtable_t *h, M_hashtable_enum_t *hashenum);

/* Yield the next key/value pair.
 *
 * Order: KEYS_ORDERED tables follow the key list (insertion order, or sorted
 * order with KEYS_SORTED), a multi-value key yielding each of its values in
 * list order. Other tables walk the buckets in array order and each chain
 * from the array entry; this order depends on the seed.
 *
 * h, hashenum: NULL yields M_FALSE.
 * key, value:  receive the stored key and value (still owned by the table);
 *              either may be NULL.
 *
 * Returns M_FALSE when the enumeration is exhausted. Invalidates nothing. */
M_API M_bool M_hashtable_enumerate_next(const M_hashtable_t *h, M_hashtable_enum_t *hashenum, const void **key,
                                        const void **value);

/* ---------------------------------------------------------------------------
 * Duplicate and merge
 * ------------------------------------------------------------------------- */

/* Copy a table: same bucket count, fill percentage, functions, flags and
 * callbacks; a fresh seed unless STATIC_SEED. Every pair is inserted with the
 * copy-flavoured duplicators (key_duplicate_copy, value_duplicate_copy).
 *
 * h: NULL yields NULL.
 *
 * Returns the new table (release with M_hashtable_destroy). Invalidates
 * nothing. */
M_API M_hashtable_t *M_hashtable_duplicate(const M_hashtable_t *h) M_WARN_UNUSED_RESULT;

/* Move every pair of src into *dest and destroy src.
 *
 * For a key already in *dest, the pair is inserted as by M_hashtable_insert
 * without copying (a single value replaces *dest's, releasing the old one
 * with *dest's value_free; a multi-value key appends) and src's copy of the
 * key is released once with src's key_free. For a key new to *dest, *dest
 * adopts src's key pointer and value(s) as they are. *dest then grows as
 * needed. Values are never released twice and keys exactly once.
 *
 * dest: NULL is ignored (src is left alone). When *dest is NULL, *dest simply
 *       becomes src.
 * src:  NULL is ignored. Consumed: invalid after the call.
 *
 * Invalidates src and enumeration states of *dest. */
M_API void M_hashtable_merge(M_hashtable_t **dest, M_hashtable_t *src);

M_END_DECLS

#endif /* M_HASHTABLE_H */
