/* List of strings: an M_list_t that owns a copy of every string in it.
 *
 * Every insert stores an M_strdup copy of the caller's string; removal and
 * destruction release the copies with M_free. The accessors (at, first,
 * last) return the stored string, which stays owned by the list and is valid
 * until that element is removed, replaced or the list destroyed; the take
 * operations hand the stored copy to the caller, who frees it with M_free.
 *
 * Creation flags map onto the list flags: any of SORTASC, SORTDESC or SORTED
 * keeps the list sorted (never stable); STACK, SET and NEVERSHRINK map to the
 * list flags of the same meaning. The comparator is chosen in this order:
 * SORTASC with CASECMP: case-insensitive ascending; SORTDESC with CASECMP:
 * case-insensitive descending; SORTDESC: descending; otherwise ascending
 * case-sensitive. It is installed even for unsorted lists, where it serves
 * the searches (count, index_of, remove_val, replace_val, set tests).
 *
 * Match flags given to the searching operations are masked to
 * M_LIST_MATCH_PTR and M_LIST_MATCH_ALL.
 *
 * Failure leaves the list unchanged; see m_list.h for the storage rules. A
 * NULL list, like any failure, yields 0, NULL or M_FALSE by result type.
 */
#ifndef M_LIST_STR_H
#define M_LIST_STR_H

#include "core/m_defs.h"
#include "containers/m_list.h"

M_BEGIN_DECLS

/* Opaque string list (an M_list_t underneath). */
typedef struct M_list_str M_list_str_t;

/* Creation flags (bit values are fixed). */
typedef enum {
	M_LIST_STR_NONE        = 1 << 0, /* no effect: plain unsorted list */
	M_LIST_STR_SORTASC     = 1 << 1, /* sorted ascending */
	M_LIST_STR_SORTDESC    = 1 << 2, /* sorted descending */
	M_LIST_STR_CASECMP     = 1 << 3, /* case-insensitive comparator */
	M_LIST_STR_SORTED      = 1 << 5, /* sorted (ascending unless SORTDESC) */
	M_LIST_STR_STACK       = 1 << 6, /* list flag STACK */
	M_LIST_STR_SET         = 1 << 7, /* list flag SET_VAL */
	M_LIST_STR_NEVERSHRINK = 1 << 8  /* list flag NEVERSHRINK */
} M_list_str_flags_t;

/* Create an empty string list.
 *
 * flags: M_list_str_flags_t bits.
 * Returns the list (free with M_list_str_destroy), or NULL for an invalid
 * combination (a sorting bit together with STACK). NULL: yields a new list. */
M_API M_list_str_t *M_list_str_create(uint32_t flags) M_WARN_UNUSED_RESULT;

/* Destroy the list and every string in it. NULL is ignored. Every string
 * borrowed from the list is invalid afterwards. */
M_API void M_list_str_destroy(M_list_str_t *d);

/* Choose a new comparator and sorting as at creation.
 *
 * d:     NULL is ignored.
 * flags: M_list_str_flags_t bits; any of SORTASC, SORTDESC, SORTED sorts the
 *        list at once (refused, list unchanged, for a STACK list); none of
 *        them makes it unsorted keeping the current order. */
M_API void M_list_str_change_sorting(M_list_str_t *d, uint32_t flags);

/* Insert a copy of val (NULL stores NULL). Sorted lists place it in order,
 * others append. d: NULL fails. Returns M_FALSE (unchanged) when d is NULL
 * or the SET test finds an equal string. */
M_API M_bool M_list_str_insert(M_list_str_t *d, const char *val);

/* The index M_list_str_insert would use for val; 0 for NULL d. */
M_API size_t M_list_str_insert_idx(const M_list_str_t *d, const char *val);

/* Insert a copy of val at idx (past the end appends). Returns M_FALSE
 * (unchanged) for NULL d, a sorted list outside batching, or a SET hit. */
M_API M_bool M_list_str_insert_at(M_list_str_t *d, const char *val, size_t idx);

/* Start batching (inserts append unsorted). NULL is ignored. */
M_API void M_list_str_insert_begin(M_list_str_t *d);

/* End batching; a sorted list is sorted once. NULL is ignored. */
M_API void M_list_str_insert_end(M_list_str_t *d);

/* Number of strings; 0 for NULL. */
M_API size_t M_list_str_len(const M_list_str_t *d);

/* Number of strings equal to val (by the list's comparator; with
 * M_LIST_MATCH_PTR, the very pointer). NULL d yields 0. */
M_API size_t M_list_str_count(const M_list_str_t *d, const char *val, uint32_t type);

/* Find the first string equal to val; idx (NULL allowed) receives its
 * index. Returns M_FALSE when not found or d is NULL. */
M_API M_bool M_list_str_index_of(const M_list_str_t *d, const char *val, uint32_t type, size_t *idx);

/* First string, still owned by the list; NULL when empty or d is NULL. */
M_API const char *M_list_str_first(const M_list_str_t *d);

/* Last string, still owned by the list; NULL when empty or d is NULL. */
M_API const char *M_list_str_last(const M_list_str_t *d);

/* String at idx, still owned by the list; NULL when out of range or d NULL. */
M_API const char *M_list_str_at(const M_list_str_t *d, size_t idx);

/* Remove the first string and hand it to the caller (free with M_free);
 * NULL when empty or d is NULL. */
M_API char *M_list_str_take_first(M_list_str_t *d) M_WARN_UNUSED_RESULT;

/* Remove the last string and hand it to the caller (free with M_free). */
M_API char *M_list_str_take_last(M_list_str_t *d) M_WARN_UNUSED_RESULT;

/* Remove the string at idx and hand it to the caller (free with M_free);
 * NULL when out of range or d is NULL. */
M_API char *M_list_str_take_at(M_list_str_t *d, size_t idx) M_WARN_UNUSED_RESULT;

/* Remove and free the first string. M_FALSE when empty or d is NULL. */
M_API M_bool M_list_str_remove_first(M_list_str_t *d);

/* Remove and free the last string. M_FALSE when empty or d is NULL. */
M_API M_bool M_list_str_remove_last(M_list_str_t *d);

/* Remove and free the string at idx. M_FALSE when out of range or d NULL. */
M_API M_bool M_list_str_remove_at(M_list_str_t *d, size_t idx);

/* Remove and free the first string equal to val (all of them with
 * M_LIST_MATCH_ALL). Returns the number removed; 0 for NULL d. */
M_API size_t M_list_str_remove_val(M_list_str_t *d, const char *val, uint32_t type);

/* Remove and free the strings at start to end inclusive (end clamped).
 * M_FALSE (unchanged) when start > end, start not below the length, or d is
 * NULL. */
M_API M_bool M_list_str_remove_range(M_list_str_t *d, size_t start, size_t end);

/* Keep the first of each group of equal strings (by the list's comparator)
 * and free the others. NULL is ignored. */
M_API void M_list_str_remove_duplicates(M_list_str_t *d);

/* Replace the first string equal to old_val (every one with
 * M_LIST_MATCH_ALL) with a copy of new_val. Returns the number replaced; 0
 * for NULL d or when new_val equals old_val. */
M_API size_t M_list_str_replace_val(M_list_str_t *d, const char *old_val, const char *new_val, uint32_t type);

/* Free the string at idx and store a copy of val there. M_FALSE
 * (unchanged) when out of range, d is NULL, or the list is sorted. */
M_API M_bool M_list_str_replace_at(M_list_str_t *d, const char *val, size_t idx);

/* Exchange two strings. M_FALSE (unchanged) when an index is out of range,
 * the two are equal, the list is sorted, or d is NULL. */
M_API M_bool M_list_str_swap(M_list_str_t *d, size_t idx1, size_t idx2);

/* Copy the list and every string in it.
 * Returns a new list (free with M_list_str_destroy); NULL for NULL d. */
M_API M_list_str_t *M_list_str_duplicate(const M_list_str_t *d) M_WARN_UNUSED_RESULT;

/* Move the strings of src into *dest (see M_list_merge).
 *
 * dest: NULL does nothing; *dest NULL or empty becomes src.
 * src:  consumed, invalid afterwards; NULL does nothing.
 * include_duplicates: M_FALSE frees each src string equal to one already in
 *       *dest (the strings moved before it included) instead of moving it. */
M_API void M_list_str_merge(M_list_str_t **dest, M_list_str_t *src, M_bool include_duplicates);

/* ---------------------------------------------------------------------------
 * Text operations
 * ------------------------------------------------------------------------- */

/* Split str at every delim byte into a new list.
 *
 * delim:      the separating byte.
 * str:        the text; NULL yields an empty list.
 * flags:      creation flags of the new list (a sorted list sorts the
 *             pieces).
 * keep_empty: M_TRUE keeps empty pieces as empty strings; M_FALSE drops them.
 * Returns a new list (free with M_list_str_destroy); NULL only for invalid
 * flags. NULL: yields a new list. */
M_API M_list_str_t *M_list_str_split(unsigned char delim, const char *str, uint32_t flags,
                                     M_bool keep_empty) M_WARN_UNUSED_RESULT;

/* Join every string in index order with the byte sep between them.
 *
 * d: NULL or empty yields NULL. A stored NULL joins as the empty string.
 * Returns a new string (free with M_free). */
M_API char *M_list_str_join(const M_list_str_t *d, unsigned char sep) M_WARN_UNUSED_RESULT;

/* As M_list_str_join with a separator string; NULL sep is the empty string. */
M_API char *M_list_str_join_str(const M_list_str_t *d, const char *sep) M_WARN_UNUSED_RESULT;

/* Join the strings at start to end inclusive (end clamped to the last
 * index) with the byte sep. NULL when d is NULL, start > end or start is not
 * below the length. Returns a new string (free with M_free). */
M_API char *M_list_str_join_range(const M_list_str_t *d, unsigned char sep, size_t start,
                                  size_t end) M_WARN_UNUSED_RESULT;

/* As M_list_str_join_range with a separator string (NULL: empty). */
M_API char *M_list_str_join_range_str(const M_list_str_t *d, const char *sep, size_t start,
                                      size_t end) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_LIST_STR_H */
