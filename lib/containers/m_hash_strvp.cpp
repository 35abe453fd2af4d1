/* Temporary placeholder bodies so dependants link while the module is written. */
#include "containers/m_hash_strvp.h"

extern "C" {

M_hash_strvp_t * M_hash_strvp_create(size_t size, uint8_t fill_pct, uint32_t flags, M_hash_strvp_free_func value_free) noexcept { (void)size; (void)fill_pct; (void)flags; (void)value_free; return nullptr; }
void M_hash_strvp_destroy(M_hash_strvp_t *h, M_bool destroy_vals) noexcept { (void)h; (void)destroy_vals;  }
M_bool M_hash_strvp_insert(M_hash_strvp_t *h, const char *key, void *value) noexcept { (void)h; (void)key; (void)value; return M_FALSE; }
M_bool M_hash_strvp_remove(M_hash_strvp_t *h, const char *key, M_bool destroy_vals) noexcept { (void)h; (void)key; (void)destroy_vals; return M_FALSE; }
M_bool M_hash_strvp_get(const M_hash_strvp_t *h, const char *key, void **value) noexcept { (void)h; (void)key; (void)value; return M_FALSE; }
void * M_hash_strvp_get_direct(const M_hash_strvp_t *h, const char *key) noexcept { (void)h; (void)key; return nullptr; }
M_bool M_hash_strvp_multi_len(const M_hash_strvp_t *h, const char *key, size_t *len) noexcept { (void)h; (void)key; (void)len; return M_FALSE; }
M_bool M_hash_strvp_multi_get(const M_hash_strvp_t *h, const char *key, size_t idx, void **value) noexcept { (void)h; (void)key; (void)idx; (void)value; return M_FALSE; }
void * M_hash_strvp_multi_get_direct(const M_hash_strvp_t *h, const char *key, size_t idx) noexcept { (void)h; (void)key; (void)idx; return nullptr; }
M_bool M_hash_strvp_multi_remove(M_hash_strvp_t *h, const char *key, size_t idx, M_bool destroy_vals) noexcept { (void)h; (void)key; (void)idx; (void)destroy_vals; return M_FALSE; }
uint32_t M_hash_strvp_size(const M_hash_strvp_t *h) noexcept { (void)h; return 0; }
uint64_t M_hash_strvp_num_keys(const M_hash_strvp_t *h) noexcept { (void)h; return 0; }
uint64_t M_hash_strvp_num_collisions(const M_hash_strvp_t *h) noexcept { (void)h; return 0; }
uint64_t M_hash_strvp_num_expansions(const M_hash_strvp_t *h) noexcept { (void)h; return 0; }
size_t M_hash_strvp_enumerate(const M_hash_strvp_t *h, M_hash_strvp_enum_t **hashenum) noexcept { (void)h; (void)hashenum; return 0; }
M_bool M_hash_strvp_enumerate_next(const M_hash_strvp_t *h, M_hash_strvp_enum_t *hashenum, const char **key, void **value) noexcept { (void)h; (void)hashenum; (void)key; (void)value; return M_FALSE; }
void M_hash_strvp_enumerate_free(M_hash_strvp_enum_t *hashenum) noexcept { (void)hashenum;  }
void M_hash_strvp_merge(M_hash_strvp_t **dest, M_hash_strvp_t *src) noexcept { (void)dest; (void)src;  }

} /* extern "C" */
