/* Temporary placeholder bodies so dependants link while the module is written. */
#include "containers/m_hash_func.h"

extern "C" {

uint32_t M_hash_func_hash_str(const void *key, uint32_t seed) noexcept { (void)key; (void)seed; return 0; }
uint32_t M_hash_func_hash_str_casecmp(const void *key, uint32_t seed) noexcept { (void)key; (void)seed; return 0; }
uint32_t M_hash_func_hash_vp(const void *key, uint32_t seed) noexcept { (void)key; (void)seed; return 0; }
uint32_t M_hash_func_hash_u64(const void *key, uint32_t seed) noexcept { (void)key; (void)seed; return 0; }
void * M_hash_func_u64dup(const void *arg) noexcept { (void)arg; return nullptr; }
void * M_hash_void_strdup(const void *arg) noexcept { (void)arg; return nullptr; }

} /* extern "C" */
