/* String-keyed hash table of indexes: M_hash_stridx_t.
 *
 * A front end over M_hashtable_t (m_hashtable.h) whose keys are strings that
 * the table copies on insert and releases with M_free, and whose values are
 * size_t numbers stored as they are (nothing to copy or release). The CSV
 * reader maps column header names to column numbers with one, created
 * case-insensitive.
 *
 * Everything the generic table says about growth, enumeration order, the
 * seed and concurrency holds here; in particular an unordered table
 * enumerates in an order that differs from run to run.
 *
 * Failure: operations report failure only through their results; a failed
 * operation leaves the table unchanged. A NULL table or key yields 0, NULL
 * or M_FALSE by result type.
 */
#ifndef M_HASH_STRIDX_H
#define M_HASH_STRIDX_H

#include "core/m_defs.h"

M_BEGIN_DECLS

struct M_hash_stridx;
/* Opaque table object (an M_hashtable_t underneath). */
typedef struct M_hash_stridx M_hash_stridx_t;

struct M_hash_stridx_enum;
/* Opaque, heap-allocated enumeration state: from M_hash_stridx_enumerate,
 * freed with M_hash_stridx_enumerate_free. */
typedef struct M_hash_stridx_enum M_hash_stridx_enum_t;

/* Creation flags; M_hash_strvp_create takes the same values. */
typedef enum {
	M_HASH_STRIDX_NONE = 0,
	/* Compare and hash keys without regard to ASCII case. */
	M_HASH_STRIDX_CASECMP = 1 << 0,
	/* Store keys upper-cased. Look-ups ignore case: a key stored as "ABC"
     * is found again through "abc", the text it was inserted as. Without
     * CASECMP a sorted key list keeps the byte order of the stored
     * (upper-cased) keys; with CASECMP it is the case-insensitive order. */
	M_HASH_STRIDX_KEYS_UPPER = 1 << 1,
	/* Store keys lower-cased; wins over KEYS_UPPER. Look-ups ignore case;
     * a sorted key list keeps the byte order of the stored keys. */
	M_HASH_STRIDX_KEYS_LOWER = 1 << 2,
	/* Remember insertion order; enumeration follows it. */
	M_HASH_STRIDX_KEYS_ORDERED = 1 << 3,
	/* With KEYS_ORDERED: keep keys sorted ascending. Ignored without it. */
	M_HASH_STRIDX_KEYS_SORTASC = 1 << 4,
	/* With KEYS_ORDERED: keep keys sorted descending; wins over SORTASC.
     * Ignored without KEYS_ORDERED. */
	M_HASH_STRIDX_KEYS_SORTDESC = 1 << 5,
	/* A key holds a list of values; inserting an existing key appends. */
	M_HASH_STRIDX_MULTI_VALUE = 1 << 6,
	/* get returns a key's last value; creation fails without MULTI_VALUE. */
	M_HASH_STRIDX_MULTI_GETLAST = 1 << 7,
	/* Constant seed: reproducible enumeration order. */
	M_HASH_STRIDX_STATIC_SEED = 1 << 8
} M_hash_stridx_flags_t;

/* Create a table.
 *
 * size:     requested bucket count (rounded up to a power of two, capped at
 *           16,777,216); 0 is refused.
 * fill_pct: growth threshold 0 to 99 (0: never grow); above 99 is refused.
 * flags:    M_hash_stridx_flags_t bits.
 *
 * Returns a new table (release with M_hash_stridx_destroy) or NULL for a
 * refused argument or MULTI_GETLAST without MULTI_VALUE. */
M_API M_hash_stridx_t *M_hash_stridx_create(size_t size, uint8_t fill_pct, uint32_t flags) M_WARN_UNUSED_RESULT;

/* Destroy the table and every stored key. h: NULL is ignored. Invalidates
 * h, every key pointer obtained from it and its enumeration states. */
M_API void M_hash_stridx_destroy(M_hash_stridx_t *h);

/* Insert key -> value. The key is copied (upper- or lower-cased by the
 * flags); an existing key keeps its stored text and gets the new value (or,
 * MULTI_VALUE, one more value).
 *
 * h:   NULL fails.
 * key: NULL or "" is refused.
 *
 * Returns M_TRUE on success, M_FALSE for a refused argument (table
 * unchanged). Invalidates enumeration states of h. */
M_API M_bool M_hash_stridx_insert(M_hash_stridx_t *h, const char *key, size_t value);

/* Remove a key with all its values.
 *
 * h, key: NULL fails.
 *
 * Returns M_TRUE when the key was present. Invalidates the stored key and
 * enumeration states of h. */
M_API M_bool M_hash_stridx_remove(M_hash_stridx_t *h, const char *key);

/* Look a key up.
 *
 * h, key: NULL yields M_FALSE.
 * value:  receives the value (multi-value: the first, or the last with
 *         MULTI_GETLAST), or 0 when the key is absent; may be NULL.
 *
 * Returns M_TRUE when the key is present. */
M_API M_bool M_hash_stridx_get(const M_hash_stridx_t *h, const char *key, size_t *value);

/* The value of a key, or 0 when it is absent (or h or key is NULL). Use
 * M_hash_stridx_get to tell an absent key from a stored 0. */
M_API size_t M_hash_stridx_get_direct(const M_hash_stridx_t *h, const char *key);

/* Number of values of a key (MULTI_VALUE tables only).
 *
 * h, key: NULL yields M_FALSE. len: may be NULL; receives 0 on failure.
 *
 * Returns M_FALSE without MULTI_VALUE or for an absent key. */
M_API M_bool M_hash_stridx_multi_len(const M_hash_stridx_t *h, const char *key, size_t *len);

/* The idx-th value of a key (MULTI_VALUE tables only).
 *
 * h, key: NULL yields M_FALSE. value: may be NULL; untouched on failure.
 *
 * Returns M_FALSE without MULTI_VALUE, for an absent key or idx out of
 * range. */
M_API M_bool M_hash_stridx_multi_get(const M_hash_stridx_t *h, const char *key, size_t idx, size_t *value);

/* The idx-th value of a key, or 0 on any failure of M_hash_stridx_multi_get. */
M_API size_t M_hash_stridx_multi_get_direct(const M_hash_stridx_t *h, const char *key, size_t idx);

/* Remove the idx-th value of a key; the key goes with its last value.
 *
 * h, key: NULL yields M_FALSE.
 *
 * Returns M_FALSE without MULTI_VALUE, for an absent key or idx out of range
 * (table unchanged). Invalidates enumeration states of h. */
M_API M_bool M_hash_stridx_multi_remove(M_hash_stridx_t *h, const char *key, size_t idx);

/* Number of buckets; 0 for NULL. */
M_API uint32_t M_hash_stridx_size(const M_hash_stridx_t *h);

/* Number of keys; 0 for NULL. */
M_API uint64_t M_hash_stridx_num_keys(const M_hash_stridx_t *h);

/* Chained entries ever allocated; 0 for NULL. */
M_API uint64_t M_hash_stridx_num_collisions(const M_hash_stridx_t *h);

/* Doublings so far; 0 for NULL. */
M_API uint64_t M_hash_stridx_num_expansions(const M_hash_stridx_t *h);

/* Start an enumeration.
 *
 * h:        NULL yields 0.
 * hashenum: receives a new state owned by the caller (free with
 *           M_hash_stridx_enumerate_free), or NULL when the table holds no
 *           values or h is NULL. NULL itself yields 0.
 *
 * Returns the number of key/value pairs to come. */
M_API size_t M_hash_stridx_enumerate(const M_hash_stridx_t *h, M_hash_stridx_enum_t **hashenum);

/* Yield the next pair, in the order M_hashtable_enumerate_next describes.
 *
 * h, hashenum: NULL yields M_FALSE.
 * key:   receives the stored key (owned by the table, valid until the key is
 *        removed or the table destroyed); may be NULL.
 * value: receives the value; may be NULL.
 *
 * Returns M_FALSE when exhausted. */
M_API M_bool M_hash_stridx_enumerate_next(const M_hash_stridx_t *h, M_hash_stridx_enum_t *hashenum, const char **key,
                                          size_t *value);

/* Free an enumeration state. hashenum: NULL is ignored. */
M_API void M_hash_stridx_enumerate_free(M_hash_stridx_enum_t *hashenum);

/* Move every pair of src into *dest and destroy src (see M_hashtable_merge).
 * dest: NULL is ignored; *dest NULL becomes src. src: NULL is ignored;
 * consumed otherwise. */
M_API void M_hash_stridx_merge(M_hash_stridx_t **dest, M_hash_stridx_t *src);

/* Copy a table with its settings and every pair (keys copied).
 * h: NULL yields NULL. Returns a new table; release with
 * M_hash_stridx_destroy. */
M_API M_hash_stridx_t *M_hash_stridx_duplicate(const M_hash_stridx_t *h) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_HASH_STRIDX_H */
