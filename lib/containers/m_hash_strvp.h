/* String-keyed hash table of pointers: M_hash_strvp_t.
 *
 * A front end over M_hashtable_t (m_hashtable.h) whose keys are strings that
 * the table copies on insert and releases with M_free, and whose values are
 * caller pointers stored as they are and released, where an operation says
 * so, with the value_free callback given at creation. Path normalisation
 * keeps the set of visited paths in one.
 *
 * The flags are those of M_hash_stridx_t (M_HASH_STRIDX_*, m_hash_stridx.h).
 * Everything the generic table says about growth, enumeration order, the
 * seed and concurrency holds here.
 *
 * There is deliberately no duplicate operation: the table has no way to copy
 * values, and two tables sharing values that both release would release them
 * twice.
 *
 * Failure: operations report failure only through their results; a failed
 * operation leaves the table unchanged. A NULL table or key yields 0, NULL
 * or M_FALSE by result type.
 */
#ifndef M_HASH_STRVP_H
#define M_HASH_STRVP_H

#include "core/m_defs.h"
#include "containers/m_hash_stridx.h"

M_BEGIN_DECLS

struct M_hash_strvp;
/* Opaque table object (an M_hashtable_t underneath). */
typedef struct M_hash_strvp M_hash_strvp_t;

struct M_hash_strvp_enum;
/* Opaque, heap-allocated enumeration state: from M_hash_strvp_enumerate,
 * freed with M_hash_strvp_enumerate_free. */
typedef struct M_hash_strvp_enum M_hash_strvp_enum_t;

/* Release callback for stored values. */
typedef void (*M_hash_strvp_free_func)(void *value);

/* Create a table.
 *
 * size:       requested bucket count (power of two up, at most 16,777,216);
 *             0 is refused.
 * fill_pct:   growth threshold 0 to 99 (0: never grow); above 99 refused.
 * flags:      M_HASH_STRIDX_* bits.
 * value_free: releases values where an operation asks (destroy_vals); NULL
 *             means values are never released by the table.
 *
 * Returns a new table (release with M_hash_strvp_destroy) or NULL for a
 * refused argument or MULTI_GETLAST without MULTI_VALUE. */
M_API M_hash_strvp_t *M_hash_strvp_create(size_t size, uint8_t fill_pct, uint32_t flags,
                                          M_hash_strvp_free_func value_free) M_WARN_UNUSED_RESULT;

/* Destroy the table and every stored key; values are released with
 * value_free when destroy_vals is true. h: NULL is ignored. Invalidates h,
 * its keys, released values and enumeration states. */
M_API void M_hash_strvp_destroy(M_hash_strvp_t *h, M_bool destroy_vals);

/* Insert key -> value. The key is copied; the table stores value itself.
 * For an existing key in a single-value table the old value is released with
 * value_free (unless it is the same pointer) and replaced.
 *
 * h: NULL fails. key: NULL or "" is refused. value: NULL is legal.
 *
 * Returns M_TRUE on success, M_FALSE for a refused argument (table
 * unchanged). */
M_API M_bool M_hash_strvp_insert(M_hash_strvp_t *h, const char *key, void *value);

/* Remove a key with its values (released with value_free when destroy_vals).
 * h, key: NULL fails. Returns M_TRUE when the key was present. */
M_API M_bool M_hash_strvp_remove(M_hash_strvp_t *h, const char *key, M_bool destroy_vals);

/* Look a key up.
 *
 * h, key: NULL yields M_FALSE.
 * value:  receives the stored value (multi-value: first, or last with
 *         MULTI_GETLAST; still owned by the table), or NULL when the key is
 *         absent; may be NULL.
 *
 * Returns M_TRUE when the key is present. */
M_API M_bool M_hash_strvp_get(const M_hash_strvp_t *h, const char *key, void **value);

/* The value of a key, or NULL when absent (or h or key is NULL). */
M_API void *M_hash_strvp_get_direct(const M_hash_strvp_t *h, const char *key);

/* Number of values of a key (MULTI_VALUE only). h, key: NULL yields M_FALSE;
 * len may be NULL and receives 0 on failure. */
M_API M_bool M_hash_strvp_multi_len(const M_hash_strvp_t *h, const char *key, size_t *len);

/* The idx-th value of a key (MULTI_VALUE only). h, key: NULL yields M_FALSE;
 * value may be NULL and is untouched on failure. */
M_API M_bool M_hash_strvp_multi_get(const M_hash_strvp_t *h, const char *key, size_t idx, void **value);

/* The idx-th value of a key, or NULL on any failure. */
M_API void *M_hash_strvp_multi_get_direct(const M_hash_strvp_t *h, const char *key, size_t idx);

/* Remove the idx-th value of a key (released when destroy_vals); the key goes
 * with its last value. h, key: NULL yields M_FALSE. Returns M_FALSE without
 * MULTI_VALUE, for an absent key or idx out of range (table unchanged). */
M_API M_bool M_hash_strvp_multi_remove(M_hash_strvp_t *h, const char *key, size_t idx, M_bool destroy_vals);

/* Number of buckets; 0 for NULL. */
M_API uint32_t M_hash_strvp_size(const M_hash_strvp_t *h);

/* Number of keys; 0 for NULL. */
M_API uint64_t M_hash_strvp_num_keys(const M_hash_strvp_t *h);

/* Chained entries ever allocated; 0 for NULL. */
M_API uint64_t M_hash_strvp_num_collisions(const M_hash_strvp_t *h);

/* Doublings so far; 0 for NULL. */
M_API uint64_t M_hash_strvp_num_expansions(const M_hash_strvp_t *h);

/* Start an enumeration.
 *
 * h: NULL yields 0.
 * hashenum: receives a new state owned by the caller (free with
 *           M_hash_strvp_enumerate_free), or NULL when the table holds no
 *           values or h is NULL. NULL itself yields 0.
 *
 * Returns the number of key/value pairs to come. */
M_API size_t M_hash_strvp_enumerate(const M_hash_strvp_t *h, M_hash_strvp_enum_t **hashenum);

/* Yield the next pair (order as M_hashtable_enumerate_next).
 * h, hashenum: NULL yields M_FALSE. key, value: receive the stored key and
 * value (owned by the table); either may be NULL. Returns M_FALSE when
 * exhausted. */
M_API M_bool M_hash_strvp_enumerate_next(const M_hash_strvp_t *h, M_hash_strvp_enum_t *hashenum, const char **key,
                                         void **value);

/* Free an enumeration state. hashenum: NULL is ignored. */
M_API void M_hash_strvp_enumerate_free(M_hash_strvp_enum_t *hashenum);

/* Move every pair of src into *dest and destroy src (see M_hashtable_merge).
 * For a key in both, src's value replaces dest's, which is released with
 * dest's value_free. dest: NULL is ignored; *dest NULL becomes src.
 * src: NULL is ignored; consumed otherwise. */
M_API void M_hash_strvp_merge(M_hash_strvp_t **dest, M_hash_strvp_t *src);

M_END_DECLS

#endif /* M_HASH_STRVP_H */
