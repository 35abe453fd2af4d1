/* Temporary placeholder bodies so dependants link while the module is written. */
#include "containers/m_hashtable.h"

extern "C" {

M_hashtable_t * M_hashtable_create(size_t size, uint8_t fill_pct, M_hashtable_hash_func hash_func, M_hashtable_compar_func key_equality, uint32_t flags, const struct M_hashtable_callbacks *callbacks) noexcept { (void)size; (void)fill_pct; (void)hash_func; (void)key_equality; (void)flags; (void)callbacks; return nullptr; }
void M_hashtable_destroy(M_hashtable_t *h, M_bool destroy_vals) noexcept { (void)h; (void)destroy_vals;  }
M_bool M_hashtable_insert(M_hashtable_t *h, const void *key, const void *value) noexcept { (void)h; (void)key; (void)value; return M_FALSE; }
M_bool M_hashtable_remove(M_hashtable_t *h, const void *key, M_bool destroy_vals) noexcept { (void)h; (void)key; (void)destroy_vals; return M_FALSE; }
M_bool M_hashtable_get(const M_hashtable_t *h, const void *key, void **value) noexcept { (void)h; (void)key; (void)value; return M_FALSE; }
M_bool M_hashtable_multi_len(const M_hashtable_t *h, const void *key, size_t *len) noexcept { (void)h; (void)key; (void)len; return M_FALSE; }
M_bool M_hashtable_multi_get(const M_hashtable_t *h, const void *key, size_t idx, void **value) noexcept { (void)h; (void)key; (void)idx; (void)value; return M_FALSE; }
M_bool M_hashtable_multi_remove(M_hashtable_t *h, const void *key, size_t idx, M_bool destroy_vals) noexcept { (void)h; (void)key; (void)idx; (void)destroy_vals; return M_FALSE; }
uint32_t M_hashtable_size(const M_hashtable_t *h) noexcept { (void)h; return 0; }
uint64_t M_hashtable_num_keys(const M_hashtable_t *h) noexcept { (void)h; return 0; }
uint64_t M_hashtable_num_collisions(const M_hashtable_t *h) noexcept { (void)h; return 0; }
uint64_t M_hashtable_num_expansions(const M_hashtable_t *h) noexcept { (void)h; return 0; }
size_t M_hashtable_enumerate(const M_hashtable_t *h, M_hashtable_enum_t *hashenum) noexcept { (void)h; (void)hashenum; return 0; }
M_bool M_hashtable_enumerate_next(const M_hashtable_t *h, M_hashtable_enum_t *hashenum, const void **key, const void **value) noexcept { (void)h; (void)hashenum; (void)key; (void)value; return M_FALSE; }
M_hashtable_t * M_hashtable_duplicate(const M_hashtable_t *h) noexcept { (void)h; return nullptr; }
void M_hashtable_merge(M_hashtable_t **dest, M_hashtable_t *src) noexcept { (void)dest; (void)src;  }

} /* extern "C" */
