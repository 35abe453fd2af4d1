/* Hash functions and key helpers for the hash tables (m_hashtable.h).
 *
 * Every hash of the family is 32-bit FNV-1a whose starting value is the
 * table's seed instead of the published offset basis:
 *
 *     h = seed;  for each byte b:  h = (h XOR b) * 16777619  (mod 2^32)
 *
 * Starting from a per-table random seed makes the bucket layout, and so the
 * enumeration order of unordered tables, differ from table to table and from
 * run to run; tables created with M_HASHTABLE_STATIC_SEED use the constant
 * seed 16777619 and are reproducible.
 *
 * The functions have the shape of a table's hash callback:
 * (key, seed) -> 32-bit hash. They are pure and never allocate, except for the
 * two duplicators at the end, which allocate the copy they return.
 */
#ifndef M_HASH_FUNC_H
#define M_HASH_FUNC_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Hash a NUL-terminated string, byte by byte.
 *
 * key:  a const char * (passed as const void *). NULL counts as the empty
 *       string.
 * seed: the starting value of the FNV-1a walk.
 *
 * Returns the 32-bit hash. An empty or NULL string yields seed unchanged.
 * Nothing is allocated and no pointer is invalidated. */
M_API uint32_t M_hash_func_hash_str(const void *key, uint32_t seed);

/* Hash a NUL-terminated string case-insensitively: each byte is lower-cased
 * with M_chr_tolower (ASCII only, locale-independent) before it is mixed in,
 * so "Name", "NAME" and "name" hash alike. Pair it with a case-insensitive
 * key comparator (M_sort_compar_str_casecmp).
 *
 * key:  a const char *; NULL counts as the empty string.
 * seed: the starting value.
 *
 * Returns the 32-bit hash; seed unchanged for an empty or NULL string.
 * Nothing is allocated and no pointer is invalidated. */
M_API uint32_t M_hash_func_hash_str_casecmp(const void *key, uint32_t seed);

/* Hash a pointer value itself (identity keys): the 8 bytes of the address,
 * least significant byte first, whatever the host's byte order.
 *
 * key:  any pointer; it is never dereferenced. NULL hashes as the address 0.
 * seed: the starting value.
 *
 * Returns the 32-bit hash. Nothing is allocated. This is the default hash of
 * a table created without a hash function. */
M_API uint32_t M_hash_func_hash_vp(const void *key, uint32_t seed);

/* Hash the 64-bit unsigned integer that key points to: its 8 bytes in memory
 * order (so the result follows the host's byte order).
 *
 * key:  address of a uint64_t. NULL is treated as a pointer to the value 0.
 * seed: the starting value.
 *
 * Returns the 32-bit hash. Nothing is allocated. */
M_API uint32_t M_hash_func_hash_u64(const void *key, uint32_t seed);

/* Key duplicator for 64-bit integer keys: copies the 8 bytes key points to
 * into a new block.
 *
 * arg: address of a uint64_t. NULL yields NULL.
 *
 * Returns a new 8-byte block owned by the caller (the table, when used as a
 * key_duplicate callback); free with M_free. */
M_API void *M_hash_func_u64dup(const void *arg) M_WARN_UNUSED_RESULT;

/* M_strdup with the shape of a duplicate callback (const void * in,
 * void * out), for tables whose keys or values are copied strings.
 *
 * arg: a const char *. NULL yields NULL.
 *
 * Returns a new NUL-terminated copy owned by the caller; free with M_free. */
M_API void *M_hash_void_strdup(const void *arg) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_HASH_FUNC_H */
