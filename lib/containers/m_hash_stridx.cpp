/* String-keyed table of indexes over the generic hash table.
 *
 * Keys are copied strings released with M_free; the size_t values are stored
 * in the value pointers themselves, so no value callbacks are needed.
 *
 * Keys stored upper- or lower-cased (KEYS_UPPER, KEYS_LOWER) are hashed and
 * compared without regard to case. With case-sensitive hashing a stored
 * "ABC" could never be found again through the "abc" it was inserted as, and
 * inserting "abc" twice would store the key twice. Their comparator folds to
 * the case the keys are stored in, so that a sorted key list still comes out
 * in the plain byte order of the stored keys: folding upper-cased keys to
 * lower case would move "[", "_" and the other bytes between "Z" and "a"
 * from after the letters to before them.
 */
#include "containers/m_hash_stridx.h"
#include "containers/m_hash_func.h"
#include "containers/m_hash_stridx_int.h"
#include "containers/m_hashtable.h"
#include "containers/m_sort_compar.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <cstdint>

namespace {

static_assert(sizeof(size_t) <= sizeof(void *), "indexes are stored in value pointers");

void *strdup_upper_cb(const void *arg) noexcept
{
	return M_strdup_upper(static_cast<const char *>(arg));
}

void *strdup_lower_cb(const void *arg) noexcept
{
	return M_strdup_lower(static_cast<const char *>(arg));
}

constexpr unsigned char fold_upper(char c) noexcept
{
	const auto u = static_cast<unsigned char>(c);
	return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

static_assert(fold_upper('a') == 'A' && fold_upper('z') == 'Z' && fold_upper('_') == '_' && fold_upper('A') == 'A',
              "upper fold touches ASCII lower-case letters only");

/* Order of two strings with ASCII letters folded to upper case; NULL sorts
 * as the empty string. Over upper-cased keys this is the byte order of
 * M_str_cmpsort, while "abc" and "ABC" compare equal for look-ups. */
int cmp_upper_fold(const char *a, const char *b) noexcept
{
	if (a == b)
		return 0;
	if (a == nullptr)
		a = "";
	if (b == nullptr)
		b = "";
	for (;; a++, b++) {
		const unsigned char ca = fold_upper(*a);
		const unsigned char cb = fold_upper(*b);
		if (ca != cb)
			return ca < cb ? -1 : 1;
		if (ca == '\0')
			return 0;
	}
}

const char *stored_str(const void *arg) noexcept
{
	return arg == nullptr ? nullptr : *static_cast<const char *const *>(arg);
}

int compar_str_upper(const void *arg1, const void *arg2, void *thunk) noexcept
{
	(void)thunk;
	return cmp_upper_fold(stored_str(arg1), stored_str(arg2));
}

int compar_str_upper_desc(const void *arg1, const void *arg2, void *thunk) noexcept
{
	// Swapped on purpose: the descending order.
	// NOLINTNEXTLINE(readability-suspicious-call-argument)
	return compar_str_upper(arg2, arg1, thunk);
}

M_hashtable_t *table(M_hash_stridx_t *h) noexcept
{
	return reinterpret_cast<M_hashtable_t *>(h);
}

const M_hashtable_t *table(const M_hash_stridx_t *h) noexcept
{
	return reinterpret_cast<const M_hashtable_t *>(h);
}

void *to_vp(size_t v) noexcept
{
	// An index stored as a value, never dereferenced.
	// NOLINTNEXTLINE(performance-no-int-to-ptr)
	return reinterpret_cast<void *>(static_cast<uintptr_t>(v));
}

size_t from_vp(const void *v) noexcept
{
	return static_cast<size_t>(reinterpret_cast<uintptr_t>(v));
}

bool key_ok(const char *key) noexcept
{
	return key != nullptr && *key != '\0';
}

} // namespace

namespace m::detail {

M_hashtable_t *hash_str_create(size_t size, uint8_t fill_pct, uint32_t flags, M_hashtable_free_func value_free) noexcept
{
	if ((flags & M_HASH_STRIDX_MULTI_GETLAST) && !(flags & M_HASH_STRIDX_MULTI_VALUE))
		return nullptr;

	const bool ordered = (flags & M_HASH_STRIDX_KEYS_ORDERED) != 0;
	const bool desc    = ordered && (flags & M_HASH_STRIDX_KEYS_SORTDESC);
	const bool sorted  = ordered && (flags & (M_HASH_STRIDX_KEYS_SORTASC | M_HASH_STRIDX_KEYS_SORTDESC));
	const bool fold    = (flags & (M_HASH_STRIDX_CASECMP | M_HASH_STRIDX_KEYS_UPPER | M_HASH_STRIDX_KEYS_LOWER)) != 0;

	M_hashtable_hash_func   hash = fold ? M_hash_func_hash_str_casecmp : M_hash_func_hash_str;
	M_hashtable_compar_func cmp;
	if (flags & (M_HASH_STRIDX_CASECMP | M_HASH_STRIDX_KEYS_LOWER))
		/* Folds to lower case: for lower-cased keys that is their byte order. */
		cmp = desc ? M_sort_compar_str_casecmp_desc : M_sort_compar_str_casecmp;
	else if (flags & M_HASH_STRIDX_KEYS_UPPER)
		cmp = desc ? compar_str_upper_desc : compar_str_upper;
	else
		cmp = desc ? M_sort_compar_str_desc : M_sort_compar_str;

	M_hashtable_duplicate_func keydup = M_hash_void_strdup;
	if (flags & M_HASH_STRIDX_KEYS_LOWER)
		keydup = strdup_lower_cb;
	else if (flags & M_HASH_STRIDX_KEYS_UPPER)
		keydup = strdup_upper_cb;

	uint32_t tflags = M_HASHTABLE_NONE;
	if (ordered)
		tflags |= M_HASHTABLE_KEYS_ORDERED;
	if (sorted)
		tflags |= M_HASHTABLE_KEYS_SORTED;
	if (flags & M_HASH_STRIDX_MULTI_VALUE)
		tflags |= M_HASHTABLE_MULTI_VALUE;
	if (flags & M_HASH_STRIDX_MULTI_GETLAST)
		tflags |= M_HASHTABLE_MULTI_GETLAST;
	if (flags & M_HASH_STRIDX_STATIC_SEED)
		tflags |= M_HASHTABLE_STATIC_SEED;

	struct M_hashtable_callbacks cbs = {keydup, keydup, M_free, nullptr, nullptr, nullptr, value_free};
	return M_hashtable_create(size, fill_pct, hash, cmp, tflags, &cbs);
}

M_hashtable_enum_t *hash_str_enumerate(const M_hashtable_t *h, size_t *count) noexcept
{
	*count = 0;
	if (h == nullptr)
		return nullptr;
	auto        *he  = static_cast<M_hashtable_enum_t *>(M_malloc_zero(sizeof(M_hashtable_enum_t)));
	const size_t cnt = M_hashtable_enumerate(h, he);
	if (cnt == 0) {
		M_free(he);
		return nullptr;
	}
	*count = cnt;
	return he;
}

bool hash_str_enumerate_next(const M_hashtable_t *h, M_hashtable_enum_t *hashenum, const char **key,
                             const void **value) noexcept
{
	const void *k = nullptr;
	if (!M_hashtable_enumerate_next(h, hashenum, &k, value))
		return false;
	if (key != nullptr)
		*key = static_cast<const char *>(k);
	return true;
}

} // namespace m::detail

extern "C" {

M_hash_stridx_t *M_hash_stridx_create(size_t size, uint8_t fill_pct, uint32_t flags)
{
	return reinterpret_cast<M_hash_stridx_t *>(m::detail::hash_str_create(size, fill_pct, flags, nullptr));
}

void M_hash_stridx_destroy(M_hash_stridx_t *h)
{
	M_hashtable_destroy(table(h), M_TRUE);
}

M_bool M_hash_stridx_insert(M_hash_stridx_t *h, const char *key, size_t value)
{
	if (!key_ok(key))
		return M_FALSE;
	return M_hashtable_insert(table(h), key, to_vp(value));
}

M_bool M_hash_stridx_remove(M_hash_stridx_t *h, const char *key)
{
	return M_hashtable_remove(table(h), key, M_TRUE);
}

M_bool M_hash_stridx_get(const M_hash_stridx_t *h, const char *key, size_t *value)
{
	void        *v     = nullptr; /* left so by a key that is not there */
	const M_bool found = M_hashtable_get(table(h), key, &v);
	if (value != nullptr)
		*value = from_vp(v);
	return found;
}

size_t M_hash_stridx_get_direct(const M_hash_stridx_t *h, const char *key)
{
	size_t v = 0;
	M_hash_stridx_get(h, key, &v);
	return v;
}

M_bool M_hash_stridx_multi_len(const M_hash_stridx_t *h, const char *key, size_t *len)
{
	return M_hashtable_multi_len(table(h), key, len);
}

M_bool M_hash_stridx_multi_get(const M_hash_stridx_t *h, const char *key, size_t idx, size_t *value)
{
	void *v = nullptr;
	if (!M_hashtable_multi_get(table(h), key, idx, &v))
		return M_FALSE;
	if (value != nullptr)
		*value = from_vp(v);
	return M_TRUE;
}

size_t M_hash_stridx_multi_get_direct(const M_hash_stridx_t *h, const char *key, size_t idx)
{
	size_t v = 0;
	if (!M_hash_stridx_multi_get(h, key, idx, &v))
		return 0;
	return v;
}

M_bool M_hash_stridx_multi_remove(M_hash_stridx_t *h, const char *key, size_t idx)
{
	return M_hashtable_multi_remove(table(h), key, idx, M_TRUE);
}

uint32_t M_hash_stridx_size(const M_hash_stridx_t *h)
{
	return M_hashtable_size(table(h));
}

uint64_t M_hash_stridx_num_keys(const M_hash_stridx_t *h)
{
	return M_hashtable_num_keys(table(h));
}

uint64_t M_hash_stridx_num_collisions(const M_hash_stridx_t *h)
{
	return M_hashtable_num_collisions(table(h));
}

uint64_t M_hash_stridx_num_expansions(const M_hash_stridx_t *h)
{
	return M_hashtable_num_expansions(table(h));
}

size_t M_hash_stridx_enumerate(const M_hash_stridx_t *h, M_hash_stridx_enum_t **hashenum)
{
	size_t cnt = 0;
	if (hashenum != nullptr)
		*hashenum = reinterpret_cast<M_hash_stridx_enum_t *>(m::detail::hash_str_enumerate(table(h), &cnt));
	return cnt;
}

M_bool M_hash_stridx_enumerate_next(const M_hash_stridx_t *h, M_hash_stridx_enum_t *hashenum, const char **key,
                                    size_t *value)
{
	const void *v = nullptr;
	if (!m::detail::hash_str_enumerate_next(table(h), reinterpret_cast<M_hashtable_enum_t *>(hashenum), key, &v))
		return M_FALSE;
	if (value != nullptr)
		*value = from_vp(v);
	return M_TRUE;
}

void M_hash_stridx_enumerate_free(M_hash_stridx_enum_t *hashenum)
{
	M_free(hashenum);
}

void M_hash_stridx_merge(M_hash_stridx_t **dest, M_hash_stridx_t *src)
{
	M_hashtable_merge(reinterpret_cast<M_hashtable_t **>(dest), table(src));
}

M_hash_stridx_t *M_hash_stridx_duplicate(const M_hash_stridx_t *h)
{
	return reinterpret_cast<M_hash_stridx_t *>(M_hashtable_duplicate(table(h)));
}

} /* extern "C" */
