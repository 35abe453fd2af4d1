/* Temporary placeholder bodies so dependants link while the module is written. */
#include "containers/m_hash_stridx.h"

extern "C" {

M_hash_stridx_t * M_hash_stridx_create(size_t size, uint8_t fill_pct, uint32_t flags) noexcept { (void)size; (void)fill_pct; (void)flags; return nullptr; }
void M_hash_stridx_destroy(M_hash_stridx_t *h) noexcept { (void)h;  }
M_bool M_hash_stridx_insert(M_hash_stridx_t *h, const char *key, size_t value) noexcept { (void)h; (void)key; (void)value; return M_FALSE; }
M_bool M_hash_stridx_remove(M_hash_stridx_t *h, const char *key) noexcept { (void)h; (void)key; return M_FALSE; }
M_bool M_hash_stridx_get(const M_hash_stridx_t *h, const char *key, size_t *value) noexcept { (void)h; (void)key; (void)value; return M_FALSE; }
size_t M_hash_stridx_get_direct(const M_hash_stridx_t *h, const char *key) noexcept { (void)h; (void)key; return 0; }
M_bool M_hash_stridx_multi_len(const M_hash_stridx_t *h, const char *key, size_t *len) noexcept { (void)h; (void)key; (void)len; return M_FALSE; }
M_bool M_hash_stridx_multi_get(const M_hash_stridx_t *h, const char *key, size_t idx, size_t *value) noexcept { (void)h; (void)key; (void)idx; (void)value; return M_FALSE; }
size_t M_hash_stridx_multi_get_direct(const M_hash_stridx_t *h, const char *key, size_t idx) noexcept { (void)h; (void)key; (void)idx; return 0; }
M_bool M_hash_stridx_multi_remove(M_hash_stridx_t *h, const char *key, size_t idx) noexcept { (void)h; (void)key; (void)idx; return M_FALSE; }
uint32_t M_hash_stridx_size(const M_hash_stridx_t *h) noexcept { (void)h; return 0; }
uint64_t M_hash_stridx_num_keys(const M_hash_stridx_t *h) noexcept { (void)h; return 0; }
uint64_t M_hash_stridx_num_collisions(const M_hash_stridx_t *h) noexcept { (void)h; return 0; }
uint64_t M_hash_stridx_num_expansions(const M_hash_stridx_t *h) noexcept { (void)h; return 0; }
size_t M_hash_stridx_enumerate(const M_hash_stridx_t *h, M_hash_stridx_enum_t **hashenum) noexcept { (void)h; (void)hashenum; return 0; }
M_bool M_hash_stridx_enumerate_next(const M_hash_stridx_t *h, M_hash_stridx_enum_t *hashenum, const char **key, size_t *value) noexcept { (void)h; (void)hashenum; (void)key; (void)value; return M_FALSE; }
void M_hash_stridx_enumerate_free(M_hash_stridx_enum_t *hashenum) noexcept { (void)hashenum;  }
void M_hash_stridx_merge(M_hash_stridx_t **dest, M_hash_stridx_t *src) noexcept { (void)dest; (void)src;  }
M_hash_stridx_t * M_hash_stridx_duplicate(const M_hash_stridx_t *h) noexcept { (void)h; return nullptr; }

} /* extern "C" */
