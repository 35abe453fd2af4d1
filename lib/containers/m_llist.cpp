/* Temporary placeholder bodies so dependants link while the module is written. */
#include "containers/m_llist.h"

extern "C" {

M_llist_t * M_llist_create(const struct M_llist_callbacks *callbacks, uint32_t flags) noexcept { (void)callbacks; (void)flags; return nullptr; }
void M_llist_destroy(M_llist_t *d, M_bool destroy_vals) noexcept { (void)d; (void)destroy_vals;  }
M_bool M_llist_change_sorting(M_llist_t *d, M_llist_compar_func equality, void *thunk) noexcept { (void)d; (void)equality; (void)thunk; return M_FALSE; }
M_llist_node_t * M_llist_insert(M_llist_t *d, const void *val) noexcept { (void)d; (void)val; return nullptr; }
M_llist_node_t * M_llist_insert_first(M_llist_t *d, const void *val) noexcept { (void)d; (void)val; return nullptr; }
M_llist_node_t * M_llist_insert_before(M_llist_node_t *n, const void *val) noexcept { (void)n; (void)val; return nullptr; }
M_llist_node_t * M_llist_insert_after(M_llist_node_t *n, const void *val) noexcept { (void)n; (void)val; return nullptr; }
M_bool M_llist_set_first(M_llist_node_t *n) noexcept { (void)n; return M_FALSE; }
M_bool M_llist_set_last(M_llist_node_t *n) noexcept { (void)n; return M_FALSE; }
M_bool M_llist_move_before(M_llist_node_t *move, M_llist_node_t *target) noexcept { (void)move; (void)target; return M_FALSE; }
M_bool M_llist_move_after(M_llist_node_t *move, M_llist_node_t *target) noexcept { (void)move; (void)target; return M_FALSE; }
size_t M_llist_len(const M_llist_t *d) noexcept { (void)d; return 0; }
M_llist_node_t * M_llist_first(const M_llist_t *d) noexcept { (void)d; return nullptr; }
M_llist_node_t * M_llist_last(const M_llist_t *d) noexcept { (void)d; return nullptr; }
M_llist_node_t * M_llist_node_next(const M_llist_node_t *n) noexcept { (void)n; return nullptr; }
M_llist_node_t * M_llist_node_prev(const M_llist_node_t *n) noexcept { (void)n; return nullptr; }
void * M_llist_node_val(const M_llist_node_t *n) noexcept { (void)n; return nullptr; }
M_llist_node_t * M_llist_find(const M_llist_t *d, const void *val, uint32_t match_flags) noexcept { (void)d; (void)val; (void)match_flags; return nullptr; }
size_t M_llist_count(const M_llist_t *d, const void *val, uint32_t match_flags) noexcept { (void)d; (void)val; (void)match_flags; return 0; }
void * M_llist_take_node(M_llist_node_t *n) noexcept { (void)n; return nullptr; }
M_bool M_llist_remove_node(M_llist_node_t *n) noexcept { (void)n; return M_FALSE; }
size_t M_llist_remove_val(M_llist_t *d, const void *val, uint32_t match_flags) noexcept { (void)d; (void)val; (void)match_flags; return 0; }
void M_llist_remove_duplicates(M_llist_t *d, uint32_t match_flags) noexcept { (void)d; (void)match_flags;  }
M_llist_t * M_llist_duplicate(const M_llist_t *d) noexcept { (void)d; return nullptr; }
void M_llist_merge(M_llist_t **dest, M_llist_t *src, M_bool include_duplicates, uint32_t match_flags) noexcept { (void)dest; (void)src; (void)include_duplicates; (void)match_flags;  }

} /* extern "C" */
