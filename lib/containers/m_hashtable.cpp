/* Generic hash table with chaining, in-array first entries and doubling.
 *
 * Each bucket of the array is itself the first entry of its chain; later keys
 * landing in an occupied bucket get a separately allocated entry linked right
 * after the array entry. A NULL key marks an empty bucket. Bucket selection
 * masks the hash with size - 1 (sizes are powers of two).
 *
 * Growth: after every insert the table doubles once num_keys * 100 / size
 * reaches fill_pct, up to 16,777,216 buckets; beyond that chains just get
 * longer. Expansion moves the key and value pointers as they are (no
 * callbacks) and recounts the rebuilt chains as collisions. Tables never
 * shrink.
 *
 * Multi-value tables keep an M_list_t of values per key; ordered tables also
 * keep the stored key pointers in an M_llist_t (sorted with KEYS_SORTED),
 * which enumeration follows.
 */
#include "containers/m_hashtable.h"
#include "containers/m_hash_func.h"
#include "containers/m_list.h"
#include "containers/m_llist.h"
#include "containers/m_merge_int.h"
#include "containers/m_sort_compar.h"
#include "core/m_bithacks.h"
#include "core/m_mem.h"
#include "sys/m_rand.h"

#include <type_traits>

namespace {

struct entry {
	void  *key;   /* stored key; NULL marks an empty bucket */
	void  *value; /* stored value, or the M_list_t of values (MULTI_VALUE) */
	entry *next;  /* next entry of the chain */
};

constexpr uint32_t kMaxBuckets = 16777216u; /* 0x1000000 */
constexpr uint32_t kStaticSeed = 16777619u; /* 0x01000193 */
constexpr uint8_t  kMaxFillPct = 99;

constexpr uint32_t kValidFlags = M_HASHTABLE_KEYS_ORDERED | M_HASHTABLE_KEYS_SORTED | M_HASHTABLE_MULTI_VALUE |
                                 M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_MULTI_GETLAST | M_HASHTABLE_STATIC_SEED;

static_assert((kMaxBuckets & (kMaxBuckets - 1)) == 0, "bucket cap is a power of two");
static_assert(static_cast<uint64_t>(kMaxBuckets) * 2 <= UINT32_MAX, "doubling the cap fits the size field");

} // namespace

struct M_hashtable {
	M_hashtable_compar_func    key_equality;           /* key comparison (never NULL) */
	M_hashtable_hash_func      hash_func;              /* hash (never NULL) */
	M_hashtable_duplicate_func key_duplicate_insert;   /* never NULL */
	M_hashtable_duplicate_func key_duplicate_copy;     /* never NULL */
	M_hashtable_free_func      key_free;               /* never NULL */
	M_hashtable_duplicate_func value_duplicate_insert; /* never NULL */
	M_hashtable_duplicate_func value_duplicate_copy;   /* never NULL */
	M_hashtable_compar_func    value_equality;         /* never NULL */
	M_hashtable_free_func      value_free;             /* never NULL */
	entry                     *buckets;                /* size array entries */
	M_llist_t                 *keys;                   /* stored keys in order (KEYS_ORDERED) */
	uint32_t                   seed;                   /* FNV-1a starting value */
	uint32_t                   size;                   /* buckets; power of two */
	uint64_t                   num_keys;               /* distinct keys */
	uint64_t                   num_values;             /* values (== num_keys unless MULTI_VALUE) */
	uint64_t                   num_collisions;         /* chained entries ever allocated */
	uint64_t                   num_expansions;         /* doublings */
	uint8_t                    fill_pct;               /* growth threshold; 0 never grows */
	uint32_t                   flags;                  /* M_hashtable_flags_t */
};

namespace {

void *dup_identity(const void *arg) noexcept
{
	return const_cast<void *>(arg);
}

void free_nothing(void *arg) noexcept
{
	(void)arg;
}

int compar_all_equal(const void *a, const void *b, void *thunk) noexcept
{
	(void)a;
	(void)b;
	(void)thunk;
	return 0;
}

bool is_multi(const M_hashtable_t *h) noexcept
{
	return (h->flags & M_HASHTABLE_MULTI_VALUE) != 0;
}

bool is_ordered(const M_hashtable_t *h) noexcept
{
	return (h->flags & M_HASHTABLE_KEYS_ORDERED) != 0;
}

uint32_t bucket_of(const M_hashtable_t *h, const void *key, uint32_t size) noexcept
{
	return h->hash_func(key, h->seed) & (size - 1);
}

bool keys_equal(const M_hashtable_t *h, const void *stored, const void *key) noexcept
{
	return h->key_equality(&stored, &key, nullptr) == 0;
}

/* Entry holding key, or NULL. With prev non-NULL the chain predecessor is
 * stored there (NULL for the array entry). */
entry *find_entry(const M_hashtable_t *h, const void *key, entry **prev) noexcept
{
	entry *e = &h->buckets[bucket_of(h, key, h->size)];
	if (prev != nullptr)
		*prev = nullptr;
	if (e->key == nullptr)
		return nullptr;
	for (entry *p = nullptr; e != nullptr; p = e, e = e->next) {
		if (keys_equal(h, e->key, key)) {
			if (prev != nullptr)
				*prev = p;
			return e;
		}
	}
	return nullptr;
}

/* Place key/value into bucket array buckets of size entries: the array entry
 * when free, else a new entry right after it. Counts the collision. */
entry *place(M_hashtable_t *h, entry *buckets, uint32_t size, void *key, void *value) noexcept
{
	entry *slot = &buckets[bucket_of(h, key, size)];
	if (slot->key != nullptr) {
		auto *ne   = static_cast<entry *>(M_malloc_zero(sizeof(entry)));
		ne->next   = slot->next;
		slot->next = ne;
		h->num_collisions++;
		slot = ne;
	}
	slot->key   = key;
	slot->value = value;
	return slot;
}

void expand(M_hashtable_t *h) noexcept
{
	if (h->size >= kMaxBuckets)
		return;
	const uint32_t new_size = h->size * 2;
	auto          *nb       = static_cast<entry *>(M_malloc_zero(static_cast<size_t>(new_size) * sizeof(entry)));
	h->num_expansions++;

	for (uint32_t i = 0; i < h->size; i++) {
		entry *e = &h->buckets[i];
		if (e->key == nullptr)
			continue;
		place(h, nb, new_size, e->key, e->value);
		for (entry *c = e->next; c != nullptr;) {
			entry *nx = c->next;
			place(h, nb, new_size, c->key, c->value);
			M_free(c);
			c = nx;
		}
	}
	M_free(h->buckets);
	h->buckets = nb;
	h->size    = new_size;
}

void grow_if_due(M_hashtable_t *h) noexcept
{
	if (h->fill_pct == 0)
		return;
	if (h->num_keys * 100 / h->size >= h->fill_pct)
		expand(h);
}

M_list_t *value_list_create(const M_hashtable_t *h) noexcept
{
	struct M_list_callbacks cbs = {h->value_equality, nullptr, nullptr, h->value_free};
	return M_list_create(&cbs, (h->flags & M_HASHTABLE_MULTI_SORTED) ? M_LIST_SORTED : M_LIST_NONE);
}

enum class dup_mode { none, insert, copy };

/* The insert step shared by M_hashtable_insert, duplicate and merge. The key
 * is copied only when it is new to the table. */
bool insert_int(M_hashtable_t *h, const void *key, const void *value, dup_mode mode) noexcept
{
	void *val = const_cast<void *>(value);
	if (mode == dup_mode::insert)
		val = h->value_duplicate_insert(value);
	else if (mode == dup_mode::copy)
		val = h->value_duplicate_copy(value);

	entry *e = find_entry(h, key, nullptr);
	if (e != nullptr) {
		if (is_multi(h)) {
			M_list_insert(static_cast<M_list_t *>(e->value), val);
			h->num_values++;
		} else if (e->value != val) {
			h->value_free(e->value);
			e->value = val;
		}
		grow_if_due(h);
		return true;
	}

	void *stored_key = const_cast<void *>(key);
	if (mode == dup_mode::insert)
		stored_key = h->key_duplicate_insert(key);
	else if (mode == dup_mode::copy)
		stored_key = h->key_duplicate_copy(key);
	if (stored_key == nullptr) {
		/* A duplicator that yields nothing: a NULL key would read as an
         * empty bucket, so refuse and give the value copy back. */
		if (mode != dup_mode::none)
			h->value_free(val);
		return false;
	}

	void *stored_val = val;
	if (is_multi(h)) {
		M_list_t *l = value_list_create(h);
		M_list_insert(l, val);
		stored_val = l;
	}
	place(h, h->buckets, h->size, stored_key, stored_val);
	h->num_keys++;
	h->num_values++;
	if (is_ordered(h))
		M_llist_insert(h->keys, stored_key);
	grow_if_due(h);
	return true;
}

/* Release an entry's key and values. Returns the number of values it held. */
uint64_t release_entry(M_hashtable_t *h, entry *e, bool destroy_vals) noexcept
{
	uint64_t nvals = 1;
	h->key_free(e->key);
	if (is_multi(h)) {
		auto *l = static_cast<M_list_t *>(e->value);
		nvals   = M_list_len(l);
		M_list_destroy(l, destroy_vals);
	} else if (destroy_vals) {
		h->value_free(e->value);
	}
	return nvals;
}

bool remove_int(M_hashtable_t *h, const void *key, bool destroy_vals) noexcept
{
	entry *prev = nullptr;
	entry *e    = find_entry(h, key, &prev);
	if (e == nullptr)
		return false;

	if (is_ordered(h))
		M_llist_remove_val(h->keys, e->key, M_LIST_MATCH_PTR);
	const uint64_t nvals = release_entry(h, e, destroy_vals);

	if (e->next != nullptr) {
		/* The successor moves into this place; works for the array entry
         * and chained entries alike. */
		entry *succ = e->next;
		*e          = *succ;
		M_free(succ);
	} else if (prev == nullptr) {
		e->key   = nullptr;
		e->value = nullptr;
	} else {
		prev->next = nullptr;
		M_free(e);
	}
	h->num_keys--;
	h->num_values -= nvals;
	return true;
}

/* Value of an entry as get reports it. */
void *entry_get_value(const M_hashtable_t *h, const entry *e) noexcept
{
	if (!is_multi(h))
		return e->value;
	auto       *l = static_cast<const M_list_t *>(e->value);
	const void *v = (h->flags & M_HASHTABLE_MULTI_GETLAST) ? M_list_last(l) : M_list_first(l);
	return const_cast<void *>(v);
}

/* The entry for key; NULL when h or key is NULL, when multi_only and h keeps
 * one value a key, or when key is not in h. */
entry *lookup(const M_hashtable_t *h, const void *key, bool multi_only) noexcept
{
	if (h == nullptr || key == nullptr || (multi_only && !is_multi(h)))
		return nullptr;
	return find_entry(h, key, nullptr);
}

/* For an enumeration: e's value at *valueidx in *v, then *valueidx moves on.
 * Returns true when that was e's last value (the index is back at 0 and the
 * enumeration moves on to the next entry). */
bool take_value(const M_hashtable_t *h, const entry *e, size_t *valueidx, const void **v) noexcept
{
	if (!is_multi(h)) {
		*v = e->value;
		return true;
	}
	auto *l = static_cast<const M_list_t *>(e->value);
	*v      = M_list_at(l, *valueidx);
	(*valueidx)++;
	if (*valueidx < M_list_len(l))
		return false;
	*valueidx = 0;
	return true;
}

/* The caller's callback in field where callbacks gives one, else fallback. */
template <typename F>
F callback_or(const M_hashtable_callbacks *callbacks, F M_hashtable_callbacks::*field,
              std::type_identity_t<F> fallback) noexcept
{
	return callbacks != nullptr && callbacks->*field != nullptr ? callbacks->*field : fallback;
}

} // namespace

extern "C" {

M_hashtable_t *M_hashtable_create(size_t size, uint8_t fill_pct, M_hashtable_hash_func hash_func,
                                  M_hashtable_compar_func key_equality, uint32_t flags,
                                  const struct M_hashtable_callbacks *callbacks)
{
	if (size == 0 || fill_pct > kMaxFillPct)
		return nullptr;
	if ((flags & (M_HASHTABLE_MULTI_SORTED | M_HASHTABLE_MULTI_GETLAST)) && !(flags & M_HASHTABLE_MULTI_VALUE))
		return nullptr;
	if ((flags & M_HASHTABLE_MULTI_SORTED) && (callbacks == nullptr || callbacks->value_equality == nullptr))
		return nullptr;
	if ((flags & M_HASHTABLE_KEYS_SORTED) && !(flags & M_HASHTABLE_KEYS_ORDERED))
		return nullptr;

	uint32_t buckets = kMaxBuckets;
	if (size < kMaxBuckets)
		buckets = static_cast<uint32_t>(M_uint64_round_up_to_power_of_two(size));

	auto *h         = static_cast<M_hashtable_t *>(M_malloc_zero(sizeof(M_hashtable_t)));
	h->hash_func    = hash_func != nullptr ? hash_func : M_hash_func_hash_vp;
	h->key_equality = key_equality != nullptr ? key_equality : M_sort_compar_vp;

	using cb                  = M_hashtable_callbacks;
	h->key_duplicate_insert   = callback_or(callbacks, &cb::key_duplicate_insert, dup_identity);
	h->key_duplicate_copy     = callback_or(callbacks, &cb::key_duplicate_copy, dup_identity);
	h->key_free               = callback_or(callbacks, &cb::key_free, free_nothing);
	h->value_duplicate_insert = callback_or(callbacks, &cb::value_duplicate_insert, dup_identity);
	h->value_duplicate_copy   = callback_or(callbacks, &cb::value_duplicate_copy, dup_identity);
	h->value_equality         = callback_or(callbacks, &cb::value_equality, compar_all_equal);
	h->value_free             = callback_or(callbacks, &cb::value_free, free_nothing);

	h->flags    = flags & kValidFlags;
	h->fill_pct = fill_pct;
	h->size     = buckets;
	h->buckets  = static_cast<entry *>(M_malloc_zero(static_cast<size_t>(buckets) * sizeof(entry)));
	if (h->flags & M_HASHTABLE_STATIC_SEED)
		h->seed = kStaticSeed;
	else
		h->seed = static_cast<uint32_t>(M_rand_range(nullptr, 1, 0x100000000ULL));

	if (is_ordered(h)) {
		struct M_llist_callbacks lcbs = {h->key_equality, nullptr, nullptr, nullptr};
		h->keys = M_llist_create(&lcbs, (h->flags & M_HASHTABLE_KEYS_SORTED) ? M_LLIST_SORTED : M_LLIST_NONE);
	}
	return h;
}

void M_hashtable_destroy(M_hashtable_t *h, M_bool destroy_vals)
{
	if (h == nullptr)
		return;
	for (uint32_t i = 0; i < h->size; i++) {
		entry *e = &h->buckets[i];
		if (e->key == nullptr)
			continue;
		release_entry(h, e, destroy_vals);
		for (entry *c = e->next; c != nullptr;) {
			entry *nx = c->next;
			release_entry(h, c, destroy_vals);
			M_free(c);
			c = nx;
		}
	}
	M_llist_destroy(h->keys, M_FALSE);
	M_free(h->buckets);
	M_free(h);
}

M_bool M_hashtable_insert(M_hashtable_t *h, const void *key, const void *value)
{
	if (h == nullptr || key == nullptr)
		return M_FALSE;
	return insert_int(h, key, value, dup_mode::insert);
}

M_bool M_hashtable_remove(M_hashtable_t *h, const void *key, M_bool destroy_vals)
{
	if (h == nullptr || key == nullptr)
		return M_FALSE;
	return remove_int(h, key, destroy_vals);
}

M_bool M_hashtable_get(const M_hashtable_t *h, const void *key, void **value)
{
	const entry *e = lookup(h, key, false);
	if (e == nullptr)
		return M_FALSE;
	if (value != nullptr)
		*value = entry_get_value(h, e);
	return M_TRUE;
}

M_bool M_hashtable_multi_len(const M_hashtable_t *h, const void *key, size_t *len)
{
	if (len != nullptr)
		*len = 0;
	const entry *e = lookup(h, key, true);
	if (e == nullptr)
		return M_FALSE;
	if (len != nullptr)
		*len = M_list_len(static_cast<const M_list_t *>(e->value));
	return M_TRUE;
}

M_bool M_hashtable_multi_get(const M_hashtable_t *h, const void *key, size_t idx, void **value)
{
	const entry *e = lookup(h, key, true);
	if (e == nullptr)
		return M_FALSE;
	auto *l = static_cast<const M_list_t *>(e->value);
	if (idx >= M_list_len(l))
		return M_FALSE;
	if (value != nullptr)
		*value = const_cast<void *>(M_list_at(l, idx));
	return M_TRUE;
}

M_bool M_hashtable_multi_remove(M_hashtable_t *h, const void *key, size_t idx, M_bool destroy_vals)
{
	entry *e = lookup(h, key, true);
	if (e == nullptr)
		return M_FALSE;
	auto        *l   = static_cast<M_list_t *>(e->value);
	const size_t len = M_list_len(l);
	if (idx >= len)
		return M_FALSE;
	if (len == 1)
		return remove_int(h, key, destroy_vals);
	if (destroy_vals)
		M_list_remove_at(l, idx);
	else
		(void)M_list_take_at(l, idx);
	h->num_values--;
	return M_TRUE;
}

uint32_t M_hashtable_size(const M_hashtable_t *h)
{
	return h == nullptr ? 0 : h->size;
}

uint64_t M_hashtable_num_keys(const M_hashtable_t *h)
{
	return h == nullptr ? 0 : h->num_keys;
}

uint64_t M_hashtable_num_collisions(const M_hashtable_t *h)
{
	return h == nullptr ? 0 : h->num_collisions;
}

uint64_t M_hashtable_num_expansions(const M_hashtable_t *h)
{
	return h == nullptr ? 0 : h->num_expansions;
}

size_t M_hashtable_enumerate(const M_hashtable_t *h, M_hashtable_enum_t *hashenum)
{
	if (h == nullptr || hashenum == nullptr)
		return 0;
	M_mem_set(hashenum, 0, sizeof(*hashenum));
	if (is_ordered(h))
		hashenum->entry.node = M_llist_first(h->keys);
	else
		hashenum->entry.hash = 0;
	return static_cast<size_t>(h->num_values);
}

M_bool M_hashtable_enumerate_next(const M_hashtable_t *h, M_hashtable_enum_t *hashenum, const void **key,
                                  const void **value)
{
	if (h == nullptr || hashenum == nullptr)
		return M_FALSE;

	if (is_ordered(h)) {
		M_llist_node_t *node = hashenum->entry.node;
		if (node == nullptr)
			return M_FALSE;
		const void  *k = M_llist_node_val(node);
		const entry *e = find_entry(h, k, nullptr);
		if (e == nullptr)
			return M_FALSE; /* the table changed under the enumeration */
		const void *v = nullptr;
		if (take_value(h, e, &hashenum->valueidx, &v))
			hashenum->entry.node = M_llist_node_next(node);
		if (key != nullptr)
			*key = e->key;
		if (value != nullptr)
			*value = v;
		return M_TRUE;
	}

	while (hashenum->entry.hash < h->size) {
		const entry *e = &h->buckets[hashenum->entry.hash];
		if (e->key != nullptr) {
			for (size_t i = 0; e != nullptr && i < hashenum->chainid; i++)
				e = e->next;
		} else {
			e = nullptr;
		}
		if (e == nullptr) {
			hashenum->entry.hash++;
			hashenum->chainid  = 0;
			hashenum->valueidx = 0;
			continue;
		}
		const void *v = nullptr;
		if (take_value(h, e, &hashenum->valueidx, &v))
			hashenum->chainid++;
		if (key != nullptr)
			*key = e->key;
		if (value != nullptr)
			*value = v;
		return M_TRUE;
	}
	return M_FALSE;
}

M_hashtable_t *M_hashtable_duplicate(const M_hashtable_t *h)
{
	if (h == nullptr)
		return nullptr;
	struct M_hashtable_callbacks cbs = {
	    h->key_duplicate_insert, h->key_duplicate_copy, h->key_free,  h->value_duplicate_insert,
	    h->value_duplicate_copy, h->value_equality,     h->value_free};
	M_hashtable_t *dup = M_hashtable_create(h->size, h->fill_pct, h->hash_func, h->key_equality, h->flags, &cbs);
	if (dup == nullptr)
		return nullptr;

	M_hashtable_enum_t he;
	const void        *k;
	const void        *v;
	M_hashtable_enumerate(h, &he);
	while (M_hashtable_enumerate_next(h, &he, &k, &v))
		insert_int(dup, k, v, dup_mode::copy);
	return dup;
}

void M_hashtable_merge(M_hashtable_t **dest, M_hashtable_t *src)
{
	if (m::detail::merge_settled(dest, src))
		return;

	M_hashtable_t *d = *dest;

	/* From here on destroying src releases neither keys nor values: every
     * value moves to *dest, and every key is either adopted by *dest or
     * released exactly once below with src's own key_free. */
	const M_hashtable_free_func src_key_free = src->key_free;
	src->key_free                            = free_nothing;
	src->value_free                          = free_nothing;

	/* Enumeration yields the pairs of one key back to back; remember the key
     * being moved and whether *dest already had it before the merge. */
	const void *cur_key      = nullptr;
	bool        cur_existing = false;

	/* The keys that *dest already had are released only once src is gone: an
     * ordered enumeration finds each next key by a lookup in src, which
     * compares it with the keys still stored there. */
	void **spent     = nullptr;
	size_t spent_len = 0;
	size_t spent_cap = 0;
	auto   release   = [&](const void *key) {
        if (spent_len == spent_cap) {
            spent_cap = spent_cap == 0 ? 16 : spent_cap * 2;
            spent     = static_cast<void **>(M_realloc(spent, spent_cap * sizeof(*spent)));
        }
        spent[spent_len++] = const_cast<void *>(key);
	};

	M_hashtable_enum_t he;
	const void        *k;
	const void        *v;
	M_hashtable_enumerate(src, &he);
	while (M_hashtable_enumerate_next(src, &he, &k, &v)) {
		if (k != cur_key) {
			if (cur_existing)
				release(cur_key);
			cur_key         = k;
			const entry *de = find_entry(d, k, nullptr);
			/* A key pointer shared by both tables belongs to *dest already;
             * treating it as adopted keeps it from being released. */
			cur_existing = (de != nullptr && de->key != k);
		}
		insert_int(d, k, v, dup_mode::none);
	}
	if (cur_existing)
		release(cur_key);

	M_hashtable_destroy(src, M_FALSE);
	for (size_t i = 0; i < spent_len; i++)
		src_key_free(spent[i]);
	M_free(spent);
}

} /* extern "C" */
