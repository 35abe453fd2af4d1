/* Linked list: plain (optionally circular) doubly linked lists and sorted
 * lists kept as skip lists.
 *
 * The skip list follows W. Pugh, "Skip Lists: A Probabilistic Alternative to
 * Balanced Trees" (CACM 33(6), 1990), with these changes:
 *  - nodes are doubly linked at every level, so a node handle can be removed
 *    without a search;
 *  - the height of a new node is capped at min(levels + 1, 4) while the list
 *    holds at most 16 values and at min(levels + 1, log2 of the size rounded
 *    up to a power of two) above that, so the level array grows by at most
 *    one level per insertion and stays near log2 of the size;
 *  - empty top levels are dropped on removal (never below one level);
 *  - a new value is linked after every value that compares equal to it, so
 *    equal values keep their insertion order and never land before the first
 *    of their run.
 * Heights are drawn from the list's own generator so that lists never share
 * random state.
 *
 * Node storage: one block per node holds the node record followed by its
 * next and prev arrays (height entries each). A plain list's node has height
 * 1, so level 0 is walked the same way in both representations.
 */
#include "containers/m_llist.h"
#include "containers/m_list.h"
#include "containers/m_llist_int.h"
#include "containers/m_merge_int.h"
#include "core/m_bithacks.h"
#include "core/m_mem.h"
#include "sys/m_rand.h"

struct M_llist_node {
	M_llist_t     *parent; /* owning list */
	void          *val;    /* stored value */
	M_llist_node **next;   /* height successors (level 0 first) */
	M_llist_node **prev;   /* height predecessors (level 0 first) */
	size_t         height; /* number of levels of this node; 1 in plain lists */
};

struct M_llist {
	M_llist_compar_func    equality;         /* comparator; may be NULL */
	void                  *thunk;            /* comparator context */
	M_llist_duplicate_func duplicate_insert; /* never NULL after create */
	M_llist_duplicate_func duplicate_copy;   /* never NULL after create */
	M_llist_free_func      value_free;       /* never NULL after create */
	uint32_t               flags;            /* M_llist_flags_t */
	size_t                 count;            /* number of nodes */
	M_llist_node         **head;             /* first node per level */
	size_t                 levels;           /* levels in use (1 for plain lists) */
	size_t                 levels_alloc;     /* slots allocated in head */
	M_rand_t              *rng;              /* height generator (sorted lists) */
	M_llist_node          *tail;             /* last node */
};

namespace {

/* Levels of a new sorted list, and the most a node can ever have (the cap is
 * log2 of a 64-bit count, so 63 at most). */
constexpr size_t kInitialLevels = 4;
constexpr size_t kMaxLevels     = 64;
constexpr size_t kSmallList     = 16;

static_assert(static_cast<uint32_t>(M_LIST_MATCH_PTR) == 1 && static_cast<uint32_t>(M_LIST_MATCH_ALL) == 2,
              "match flags are shared with the array list");

void *dup_identity(const void *arg) noexcept
{
	return const_cast<void *>(arg);
}

void free_nothing(void *arg) noexcept
{
	(void)arg;
}

bool is_sorted(const M_llist_t *d) noexcept
{
	return (d->flags & M_LLIST_SORTED) != 0;
}

bool is_circular(const M_llist_t *d) noexcept
{
	return (d->flags & M_LLIST_CIRCULAR) != 0;
}

int compare(const M_llist_t *d, const void *stored, const void *val) noexcept
{
	return d->equality(&stored, &val, d->thunk);
}

M_llist_node *node_alloc(M_llist_t *d, void *val, size_t height) noexcept
{
	/* height is at most kMaxLevels, so the size cannot overflow. */
	auto *n   = static_cast<M_llist_node *>(M_malloc_zero(
	      sizeof(M_llist_node) +
	      2 * height *
	          sizeof(M_llist_node *))); // NOLINT(bugprone-sizeof-expression): an array of node pointers follows the node
	n->parent = d;
	n->val    = val;
	n->height = height;
	n->next   = reinterpret_cast<M_llist_node **>(n + 1);
	n->prev   = n->next + height;
	return n;
}

/* Make room for levels entries in the level array; new levels start empty. */
void ensure_levels(M_llist_t *d, size_t levels) noexcept
{
	if (levels > d->levels_alloc) {
		M_llist_node **h = static_cast<M_llist_node **>(
		    M_malloc_zero(levels * sizeof(*h))); // NOLINT(bugprone-sizeof-expression): an array of level heads
		for (size_t i = 0; i < d->levels; i++)
			h[i] = d->head[i];
		M_free(d->head);
		d->head         = h;
		d->levels_alloc = levels;
	}
	for (size_t i = d->levels; i < levels; i++)
		d->head[i] = nullptr;
	if (levels > d->levels)
		d->levels = levels;
}

/* Height of a new node: count bits from the least significant upward up to
 * and including the first 1 bit (1 with probability 1/2, 2 with 1/4, ...),
 * capped so that the list gains at most one level per insertion. */
size_t draw_height(M_llist_t *d) noexcept
{
	const uint64_t c = static_cast<uint64_t>(d->count) + 1;
	size_t         cap;
	if (c <= kSmallList) {
		cap = d->levels + 1 < kInitialLevels ? d->levels + 1 : kInitialLevels;
	} else {
		const size_t lg = M_uint64_log2(M_uint64_round_up_to_power_of_two(c));
		cap             = d->levels + 1 < lg ? d->levels + 1 : lg;
	}

	size_t height = 0;
	for (;;) {
		const uint64_t r   = M_rand(d->rng);
		bool           hit = false;
		for (size_t bit = 0; bit < 64; bit++) {
			height++;
			if ((r >> bit) & 1u) {
				hit = true;
				break;
			}
			if (height >= cap)
				break;
		}
		if (hit || height >= cap)
			break;
	}
	if (height > cap)
		height = cap;
	if (height < 1)
		height = 1;
	return height;
}

/* ---- plain list linking ------------------------------------------------- */

void plain_link_empty(M_llist_t *d, M_llist_node *n) noexcept
{
	d->head[0] = n;
	d->tail    = n;
	if (is_circular(d)) {
		n->next[0] = n;
		n->prev[0] = n;
	}
	d->count = 1;
}

void plain_link_after(M_llist_t *d, M_llist_node *n, M_llist_node *at) noexcept
{
	M_llist_node *nx = at->next[0];
	n->prev[0]       = at;
	n->next[0]       = nx;
	at->next[0]      = n;
	if (nx != nullptr)
		nx->prev[0] = n;
	if (d->tail == at)
		d->tail = n;
	d->count++;
}

void plain_link_before(M_llist_t *d, M_llist_node *n, M_llist_node *at) noexcept
{
	M_llist_node *pv = at->prev[0];
	n->next[0]       = at;
	n->prev[0]       = pv;
	at->prev[0]      = n;
	if (pv != nullptr)
		pv->next[0] = n;
	if (d->head[0] == at)
		d->head[0] = n;
	d->count++;
}

void plain_unlink(M_llist_t *d, M_llist_node *n) noexcept
{
	if (d->count == 1) {
		d->head[0] = nullptr;
		d->tail    = nullptr;
	} else {
		M_llist_node *pv = n->prev[0];
		M_llist_node *nx = n->next[0];
		if (pv != nullptr)
			pv->next[0] = nx;
		if (nx != nullptr)
			nx->prev[0] = pv;
		if (d->head[0] == n)
			d->head[0] = nx;
		if (d->tail == n)
			d->tail = pv;
	}
	n->next[0] = nullptr;
	n->prev[0] = nullptr;
	d->count--;
}

/* ---- skip list ---------------------------------------------------------- */

M_llist_node *sorted_link(M_llist_t *d, void *val) noexcept
{
	const size_t height = draw_height(d);
	if (height > d->levels)
		ensure_levels(d, height);

	/* Per level, the node after which the new one goes (NULL: the front).
     * From the top down: a level's first node becomes current when it does
     * not sort after the value; then move right over every node that does
     * not sort after it, so equal values stay in insertion order. */
	M_llist_node *update[kMaxLevels] = {};
	M_llist_node *cur                = nullptr;
	for (size_t lvl = d->levels; lvl-- > 0;) {
		if (cur == nullptr) {
			M_llist_node *first = d->head[lvl];
			if (first != nullptr && compare(d, first->val, val) <= 0)
				cur = first;
		}
		if (cur != nullptr) {
			while (cur->next[lvl] != nullptr && compare(d, cur->next[lvl]->val, val) <= 0)
				cur = cur->next[lvl];
		}
		update[lvl] = cur;
	}

	M_llist_node *n = node_alloc(d, val, height);
	for (size_t lvl = 0; lvl < height; lvl++) {
		M_llist_node *nx;
		if (update[lvl] != nullptr) {
			nx                     = update[lvl]->next[lvl];
			update[lvl]->next[lvl] = n;
			n->prev[lvl]           = update[lvl];
		} else {
			nx           = d->head[lvl];
			d->head[lvl] = n;
			n->prev[lvl] = nullptr;
		}
		n->next[lvl] = nx;
		if (nx != nullptr)
			nx->prev[lvl] = n;
	}
	if (n->next[0] == nullptr)
		d->tail = n;
	d->count++;
	return n;
}

void sorted_unlink(M_llist_t *d, M_llist_node *n) noexcept
{
	for (size_t lvl = 0; lvl < n->height; lvl++) {
		M_llist_node *pv = n->prev[lvl];
		M_llist_node *nx = n->next[lvl];
		if (pv != nullptr)
			pv->next[lvl] = nx;
		else
			d->head[lvl] = nx;
		if (nx != nullptr)
			nx->prev[lvl] = pv;
	}
	if (d->tail == n)
		d->tail = n->prev[0];
	/* Drop empty top levels, keeping at least one. */
	while (d->levels > 1 && d->head[d->levels - 1] == nullptr)
		d->levels--;
	d->count--;
}

/* First node whose value compares equal to val, or NULL. A standard top-down
 * search for the last node sorting before val; its level-0 successor is the
 * first of the equal run when there is one. */
M_llist_node *sorted_find_first(const M_llist_t *d, const void *val) noexcept
{
	M_llist_node *cur = nullptr;
	for (size_t lvl = d->levels; lvl-- > 0;) {
		M_llist_node *x = (cur != nullptr) ? cur->next[lvl] : d->head[lvl];
		while (x != nullptr && compare(d, x->val, val) < 0) {
			cur = x;
			x   = x->next[lvl];
		}
	}
	M_llist_node *cand = (cur != nullptr) ? cur->next[0] : d->head[0];
	if (cand != nullptr && compare(d, cand->val, val) == 0)
		return cand;
	return nullptr;
}

/* ---- shared helpers ----------------------------------------------------- */

/* Store an already duplicated value. */
M_llist_node *insert_raw(M_llist_t *d, void *val) noexcept
{
	if (is_sorted(d)) {
		if (d->equality == nullptr)
			return nullptr;
		return sorted_link(d, val);
	}
	M_llist_node *n = node_alloc(d, val, 1);
	if (d->count == 0)
		plain_link_empty(d, n);
	else
		plain_link_after(d, n, d->tail);
	return n;
}

void unlink_node(M_llist_node *n) noexcept
{
	if (is_sorted(n->parent))
		sorted_unlink(n->parent, n);
	else
		plain_unlink(n->parent, n);
}

bool matches(const M_llist_t *d, const M_llist_node *n, const void *val, uint32_t match_flags) noexcept
{
	if (match_flags & M_LIST_MATCH_PTR)
		return n->val == val;
	return d->equality != nullptr && compare(d, n->val, val) == 0;
}

/* Level-0 successor that stops at the end of a circular list. */
M_llist_node *walk_next(const M_llist_t *d, const M_llist_node *n) noexcept
{
	if (n == d->tail)
		return nullptr;
	return n->next[0];
}

/* Positional operations need a plain list. */
bool positional_ok(const M_llist_node *n) noexcept
{
	return n != nullptr && n->parent != nullptr && !is_sorted(n->parent);
}

void free_nodes(M_llist_t *d, bool destroy_vals) noexcept
{
	M_llist_node *n = d->head[0];
	for (size_t i = 0; i < d->count && n != nullptr; i++) {
		M_llist_node *nx = n->next[0];
		if (destroy_vals)
			d->value_free(n->val);
		M_free(n);
		n = nx;
	}
	d->count = 0;
	d->tail  = nullptr;
	for (size_t i = 0; i < d->levels; i++)
		d->head[i] = nullptr;
}

} // namespace

namespace m::detail {

size_t llist_levels(const M_llist_t *d) noexcept
{
	return d == nullptr ? 0 : d->levels;
}

} // namespace m::detail

extern "C" {

M_llist_t *M_llist_create(const struct M_llist_callbacks *callbacks, uint32_t flags)
{
	if ((flags & M_LLIST_SORTED) && (flags & M_LLIST_CIRCULAR))
		return nullptr;

	auto *d             = static_cast<M_llist_t *>(M_malloc_zero(sizeof(M_llist_t)));
	d->duplicate_insert = dup_identity;
	d->duplicate_copy   = dup_identity;
	d->value_free       = free_nothing;
	if (callbacks != nullptr) {
		d->equality = callbacks->equality;
		if (callbacks->duplicate_insert != nullptr)
			d->duplicate_insert = callbacks->duplicate_insert;
		if (callbacks->duplicate_copy != nullptr)
			d->duplicate_copy = callbacks->duplicate_copy;
		if (callbacks->value_free != nullptr)
			d->value_free = callbacks->value_free;
	}
	d->flags = flags & (M_LLIST_SORTED | M_LLIST_CIRCULAR);

	if (is_sorted(d)) {
		d->rng = M_rand_create(0);
		ensure_levels(d, kInitialLevels);
	} else {
		ensure_levels(d, 1);
	}
	return d;
}

void M_llist_destroy(M_llist_t *d, M_bool destroy_vals)
{
	if (d == nullptr)
		return;
	free_nodes(d, destroy_vals);
	M_free(d->head);
	M_rand_destroy(d->rng);
	M_free(d);
}

M_bool M_llist_change_sorting(M_llist_t *d, M_llist_compar_func equality, void *thunk)
{
	if (d == nullptr || !is_sorted(d) || d->count != 0)
		return M_FALSE;
	if (equality == nullptr && thunk == nullptr)
		return M_FALSE;
	if (equality != nullptr)
		d->equality = equality;
	d->thunk = thunk;
	return M_TRUE;
}

M_llist_node_t *M_llist_insert(M_llist_t *d, const void *val)
{
	if (d == nullptr || val == nullptr)
		return nullptr;
	if (is_sorted(d) && d->equality == nullptr)
		return nullptr;
	return insert_raw(d, d->duplicate_insert(val));
}

M_llist_node_t *M_llist_insert_first(M_llist_t *d, const void *val)
{
	if (d == nullptr || val == nullptr || is_sorted(d))
		return nullptr;
	M_llist_node *n = node_alloc(d, d->duplicate_insert(val), 1);
	if (d->count == 0)
		plain_link_empty(d, n);
	else
		plain_link_before(d, n, d->head[0]);
	return n;
}

M_llist_node_t *M_llist_insert_before(M_llist_node_t *at, const void *val)
{
	if (!positional_ok(at) || val == nullptr)
		return nullptr;
	M_llist_t    *d = at->parent;
	M_llist_node *n = node_alloc(d, d->duplicate_insert(val), 1);
	plain_link_before(d, n, at);
	return n;
}

M_llist_node_t *M_llist_insert_after(M_llist_node_t *at, const void *val)
{
	if (!positional_ok(at) || val == nullptr)
		return nullptr;
	M_llist_t    *d = at->parent;
	M_llist_node *n = node_alloc(d, d->duplicate_insert(val), 1);
	plain_link_after(d, n, at);
	return n;
}

M_bool M_llist_set_first(M_llist_node_t *n)
{
	if (!positional_ok(n) || n->parent->count < 2)
		return M_FALSE;
	M_llist_t *d = n->parent;
	if (d->head[0] == n)
		return M_TRUE;
	if (is_circular(d)) {
		/* The ring stays as it is; only where it starts moves. */
		d->head[0] = n;
		d->tail    = n->prev[0];
		return M_TRUE;
	}
	plain_unlink(d, n);
	plain_link_before(d, n, d->head[0]);
	return M_TRUE;
}

M_bool M_llist_set_last(M_llist_node_t *n)
{
	if (!positional_ok(n) || n->parent->count < 2)
		return M_FALSE;
	M_llist_t *d = n->parent;
	if (d->tail == n)
		return M_TRUE;
	if (is_circular(d)) {
		d->tail    = n;
		d->head[0] = n->next[0];
		return M_TRUE;
	}
	plain_unlink(d, n);
	plain_link_after(d, n, d->tail);
	return M_TRUE;
}

M_bool M_llist_move_before(M_llist_node_t *move, M_llist_node_t *target)
{
	if (!positional_ok(move) || !positional_ok(target) || move == target || move->parent != target->parent)
		return M_FALSE;
	M_llist_t *d = move->parent;
	plain_unlink(d, move);
	plain_link_before(d, move, target);
	return M_TRUE;
}

M_bool M_llist_move_after(M_llist_node_t *move, M_llist_node_t *target)
{
	if (!positional_ok(move) || !positional_ok(target) || move == target || move->parent != target->parent)
		return M_FALSE;
	M_llist_t *d = move->parent;
	plain_unlink(d, move);
	plain_link_after(d, move, target);
	return M_TRUE;
}

size_t M_llist_len(const M_llist_t *d)
{
	return d == nullptr ? 0 : d->count;
}

M_llist_node_t *M_llist_first(const M_llist_t *d)
{
	if (d == nullptr)
		return nullptr;
	return d->head[0];
}

M_llist_node_t *M_llist_last(const M_llist_t *d)
{
	if (d == nullptr)
		return nullptr;
	return d->tail;
}

M_llist_node_t *M_llist_node_next(const M_llist_node_t *n)
{
	if (n == nullptr)
		return nullptr;
	return n->next[0];
}

M_llist_node_t *M_llist_node_prev(const M_llist_node_t *n)
{
	if (n == nullptr)
		return nullptr;
	return n->prev[0];
}

void *M_llist_node_val(const M_llist_node_t *n)
{
	if (n == nullptr)
		return nullptr;
	return n->val;
}

M_llist_node_t *M_llist_find(const M_llist_t *d, const void *val, uint32_t match_flags)
{
	if (d == nullptr || val == nullptr || d->count == 0)
		return nullptr;

	if (is_sorted(d)) {
		if (d->equality == nullptr)
			return nullptr;
		M_llist_node *n = sorted_find_first(d, val);
		if (n == nullptr || !(match_flags & M_LIST_MATCH_PTR))
			return n;
		/* The very pointer can only sit inside the run of equal values. */
		for (; n != nullptr && compare(d, n->val, val) == 0; n = n->next[0]) {
			if (n->val == val)
				return n;
		}
		return nullptr;
	}

	if (!(match_flags & M_LIST_MATCH_PTR) && d->equality == nullptr)
		return nullptr;
	for (M_llist_node *n = d->head[0]; n != nullptr; n = walk_next(d, n)) {
		if (matches(d, n, val, match_flags))
			return n;
	}
	return nullptr;
}

size_t M_llist_count(const M_llist_t *d, const void *val, uint32_t match_flags)
{
	M_llist_node *n = M_llist_find(d, val, match_flags);
	if (n == nullptr)
		return 0;
	size_t cnt = 0;
	if (is_sorted(d)) {
		/* Every match lies in the equal run that starts at (or before) n. */
		for (; n != nullptr && compare(d, n->val, val) == 0; n = n->next[0]) {
			if (matches(d, n, val, match_flags))
				cnt++;
		}
		return cnt;
	}
	for (; n != nullptr; n = walk_next(d, n)) {
		if (matches(d, n, val, match_flags))
			cnt++;
	}
	return cnt;
}

void *M_llist_take_node(M_llist_node_t *n)
{
	if (n == nullptr || n->parent == nullptr)
		return nullptr;
	void *val = n->val;
	unlink_node(n);
	M_free(n);
	return val;
}

M_bool M_llist_remove_node(M_llist_node_t *n)
{
	if (n == nullptr || n->parent == nullptr)
		return M_FALSE;
	M_llist_t *d   = n->parent;
	void      *val = M_llist_take_node(n);
	d->value_free(val);
	return M_TRUE;
}

size_t M_llist_remove_val(M_llist_t *d, const void *val, uint32_t match_flags)
{
	M_llist_node *n = M_llist_find(d, val, match_flags);
	if (n == nullptr)
		return 0;

	size_t removed = 0;
	if (is_sorted(d)) {
		while (n != nullptr && compare(d, n->val, val) == 0) {
			M_llist_node *nx = n->next[0];
			if (matches(d, n, val, match_flags)) {
				M_llist_remove_node(n);
				removed++;
				if (!(match_flags & M_LIST_MATCH_ALL))
					break;
			}
			n = nx;
		}
		return removed;
	}

	/* Plain lists: walk a fixed number of nodes so a circular list is visited
     * once even while nodes leave it. */
	M_llist_node *cur  = d->head[0];
	size_t        left = d->count;
	for (; left > 0 && cur != nullptr; left--) {
		M_llist_node *nx = cur->next[0];
		if (matches(d, cur, val, match_flags)) {
			M_llist_remove_node(cur);
			removed++;
			if (!(match_flags & M_LIST_MATCH_ALL))
				break;
		}
		cur = nx;
	}
	return removed;
}

void M_llist_remove_duplicates(M_llist_t *d, uint32_t match_flags)
{
	if (d == nullptr || d->count < 2)
		return;
	if (!(match_flags & M_LIST_MATCH_PTR) && d->equality == nullptr)
		return;

	/* For each kept node, remove every later node matching its value. In a
     * sorted list those can only follow inside its equal run. */
	for (M_llist_node *keep = d->head[0]; keep != nullptr; keep = walk_next(d, keep)) {
		M_llist_node *n = walk_next(d, keep);
		while (n != nullptr) {
			M_llist_node *nx = walk_next(d, n);
			if (is_sorted(d) && compare(d, n->val, keep->val) != 0)
				break;
			if (matches(d, n, keep->val, match_flags))
				M_llist_remove_node(n);
			n = nx;
		}
	}
}

M_llist_t *M_llist_duplicate(const M_llist_t *d)
{
	if (d == nullptr)
		return nullptr;
	struct M_llist_callbacks cbs = {d->equality, d->duplicate_insert, d->duplicate_copy, d->value_free};
	M_llist_t               *dup = M_llist_create(&cbs, d->flags);
	if (dup == nullptr)
		return nullptr;
	/* Walking in list order keeps the order: equal values are appended after
     * their run, so a sorted copy comes out in the same sequence. */
	size_t        left = d->count;
	M_llist_node *n    = d->head[0];
	for (; left > 0 && n != nullptr; left--, n = n->next[0])
		insert_raw(dup, d->duplicate_copy(n->val));
	return dup;
}

void M_llist_merge(M_llist_t **dest, M_llist_t *src, M_bool include_duplicates, uint32_t match_flags)
{
	if (m::detail::merge_settled(dest, src))
		return;

	M_llist_t    *d    = *dest;
	M_llist_node *n    = src->head[0];
	size_t        left = src->count;
	for (; left > 0 && n != nullptr; left--) {
		M_llist_node *nx  = n->next[0];
		void         *val = n->val;
		if (!include_duplicates && M_llist_find(d, val, match_flags) != nullptr)
			src->value_free(val);
		else if (insert_raw(d, val) == nullptr)
			src->value_free(val); /* a sorted destination without a comparator */
		n = nx;
	}
	/* Nodes only: their values were moved or released above. */
	free_nodes(src, false);
	M_llist_destroy(src, M_FALSE);
}

} /* extern "C" */
