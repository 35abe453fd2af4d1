/* String-keyed table of pointers over the generic hash table.
 *
 * Keys are copied strings released with M_free (built exactly as for
 * M_hash_stridx_t); values are the caller's pointers, released with the
 * value_free given at creation wherever an operation asks for it.
 */
#include "containers/m_hash_strvp.h"
#include "containers/m_hash_stridx_int.h"
#include "containers/m_hashtable.h"
#include "core/m_mem.h"

namespace {

M_hashtable_t *table(M_hash_strvp_t *h) noexcept
{
	return reinterpret_cast<M_hashtable_t *>(h);
}

const M_hashtable_t *table(const M_hash_strvp_t *h) noexcept
{
	return reinterpret_cast<const M_hashtable_t *>(h);
}

} // namespace

extern "C" {

M_hash_strvp_t *M_hash_strvp_create(size_t size, uint8_t fill_pct, uint32_t flags, M_hash_strvp_free_func value_free)
{
	return reinterpret_cast<M_hash_strvp_t *>(m::detail::hash_str_create(size, fill_pct, flags, value_free));
}

void M_hash_strvp_destroy(M_hash_strvp_t *h, M_bool destroy_vals)
{
	M_hashtable_destroy(table(h), destroy_vals);
}

M_bool M_hash_strvp_insert(M_hash_strvp_t *h, const char *key, void *value)
{
	if (key == nullptr || *key == '\0')
		return M_FALSE;
	return M_hashtable_insert(table(h), key, value);
}

M_bool M_hash_strvp_remove(M_hash_strvp_t *h, const char *key, M_bool destroy_vals)
{
	return M_hashtable_remove(table(h), key, destroy_vals);
}

M_bool M_hash_strvp_get(const M_hash_strvp_t *h, const char *key, void **value)
{
	void        *v     = nullptr; /* left so by a key that is not there */
	const M_bool found = M_hashtable_get(table(h), key, &v);
	if (value != nullptr)
		*value = v;
	return found;
}

void *M_hash_strvp_get_direct(const M_hash_strvp_t *h, const char *key)
{
	void *v = nullptr;
	M_hash_strvp_get(h, key, &v);
	return v;
}

M_bool M_hash_strvp_multi_len(const M_hash_strvp_t *h, const char *key, size_t *len)
{
	return M_hashtable_multi_len(table(h), key, len);
}

M_bool M_hash_strvp_multi_get(const M_hash_strvp_t *h, const char *key, size_t idx, void **value)
{
	return M_hashtable_multi_get(table(h), key, idx, value);
}

void *M_hash_strvp_multi_get_direct(const M_hash_strvp_t *h, const char *key, size_t idx)
{
	void *v = nullptr;
	if (!M_hashtable_multi_get(table(h), key, idx, &v))
		return nullptr;
	return v;
}

M_bool M_hash_strvp_multi_remove(M_hash_strvp_t *h, const char *key, size_t idx, M_bool destroy_vals)
{
	return M_hashtable_multi_remove(table(h), key, idx, destroy_vals);
}

uint32_t M_hash_strvp_size(const M_hash_strvp_t *h)
{
	return M_hashtable_size(table(h));
}

uint64_t M_hash_strvp_num_keys(const M_hash_strvp_t *h)
{
	return M_hashtable_num_keys(table(h));
}

uint64_t M_hash_strvp_num_collisions(const M_hash_strvp_t *h)
{
	return M_hashtable_num_collisions(table(h));
}

uint64_t M_hash_strvp_num_expansions(const M_hash_strvp_t *h)
{
	return M_hashtable_num_expansions(table(h));
}

size_t M_hash_strvp_enumerate(const M_hash_strvp_t *h, M_hash_strvp_enum_t **hashenum)
{
	size_t cnt = 0;
	if (hashenum != nullptr)
		*hashenum = reinterpret_cast<M_hash_strvp_enum_t *>(m::detail::hash_str_enumerate(table(h), &cnt));
	return cnt;
}

M_bool M_hash_strvp_enumerate_next(const M_hash_strvp_t *h, M_hash_strvp_enum_t *hashenum, const char **key,
                                   void **value)
{
	const void *v = nullptr;
	if (!m::detail::hash_str_enumerate_next(table(h), reinterpret_cast<M_hashtable_enum_t *>(hashenum), key, &v))
		return M_FALSE;
	if (value != nullptr)
		*value = const_cast<void *>(v);
	return M_TRUE;
}

void M_hash_strvp_enumerate_free(M_hash_strvp_enum_t *hashenum)
{
	M_free(hashenum);
}

void M_hash_strvp_merge(M_hash_strvp_t **dest, M_hash_strvp_t *src)
{
	M_hashtable_merge(reinterpret_cast<M_hashtable_t **>(dest), table(src));
}

} /* extern "C" */
