/* List of strings: M_list_t with string-copying callbacks and text ops.
 *
 * An M_list_str_t is an M_list_t in disguise (the string type only exists so
 * that callers cannot mix the two by accident). Its callbacks copy every
 * inserted string with M_strdup and release stored strings with M_free; its
 * comparator is chosen from the creation flags and installed even when the
 * list is unsorted, because the searches use it.
 */
#include "containers/m_list_str.h"

#include "containers/m_list.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"

namespace {

M_list_t *L(M_list_str_t *d)
{
	return reinterpret_cast<M_list_t *>(d);
}

const M_list_t *L(const M_list_str_t *d)
{
	return reinterpret_cast<const M_list_t *>(d);
}

constexpr uint32_t kSortBits  = M_LIST_STR_SORTASC | M_LIST_STR_SORTDESC | M_LIST_STR_SORTED;
constexpr uint32_t kMatchMask = M_LIST_MATCH_PTR | M_LIST_MATCH_ALL;

void *str_dup(const void *s)
{
	return M_strdup(static_cast<const char *>(s));
}

void str_free(void *s)
{
	M_free(s);
}

/* The comparator for a set of creation flags, in the documented order. */
M_sort_compar_t choose_compar(uint32_t flags)
{
	if ((flags & M_LIST_STR_SORTASC) && (flags & M_LIST_STR_CASECMP))
		return M_sort_compar_str_casecmp;
	if ((flags & M_LIST_STR_SORTDESC) && (flags & M_LIST_STR_CASECMP))
		return M_sort_compar_str_casecmp_desc;
	if (flags & M_LIST_STR_SORTDESC)
		return M_sort_compar_str_desc;
	return M_sort_compar_str;
}

uint32_t list_flags(uint32_t flags)
{
	uint32_t f = 0;
	if (flags & kSortBits)
		f |= M_LIST_SORTED;
	if (flags & M_LIST_STR_STACK)
		f |= M_LIST_STACK;
	if (flags & M_LIST_STR_SET)
		f |= M_LIST_SET_VAL;
	if (flags & M_LIST_STR_NEVERSHRINK)
		f |= M_LIST_NEVERSHRINK;
	return f;
}

/* Join indexes start..end (validated by the caller) with sep of seplen. */
char *join(const M_list_t *l, const char *sep, size_t start, size_t end)
{
	M_buf_t *buf = M_buf_create();
	for (size_t i = start; i <= end; i++) {
		if (i != start)
			M_buf_add_str(buf, sep);
		M_buf_add_str(buf, static_cast<const char *>(M_list_at(l, i)));
	}
	char *out = M_buf_finish_str(buf, nullptr);
	/* Nothing written (every piece and separator empty) is still a join of
	 * a non-empty range: an empty string, not NULL. */
	if (out == nullptr)
		out = M_strdup("");
	return out;
}

char *join_range(const M_list_str_t *d, const char *sep, size_t start, size_t end)
{
	const size_t len = M_list_str_len(d);
	if (d == nullptr || start > end || start >= len)
		return nullptr;
	if (end >= len)
		end = len - 1;
	return join(L(d), sep == nullptr ? "" : sep, start, end);
}

} // namespace

extern "C" {

M_list_str_t *M_list_str_create(uint32_t flags)
{
	struct M_list_callbacks cb;
	cb.equality         = choose_compar(flags);
	cb.duplicate_insert = str_dup;
	cb.duplicate_copy   = str_dup;
	cb.value_free       = str_free;
	return reinterpret_cast<M_list_str_t *>(M_list_create(&cb, list_flags(flags)));
}

void M_list_str_destroy(M_list_str_t *d)
{
	M_list_destroy(L(d), M_TRUE);
}

void M_list_str_change_sorting(M_list_str_t *d, uint32_t flags)
{
	M_list_change_sorting(L(d), choose_compar(flags), (flags & kSortBits) ? M_LIST_SORTED : 0, nullptr);
}

M_bool M_list_str_insert(M_list_str_t *d, const char *val)
{
	return M_list_insert(L(d), val);
}

size_t M_list_str_insert_idx(const M_list_str_t *d, const char *val)
{
	return M_list_insert_idx(L(d), val);
}

M_bool M_list_str_insert_at(M_list_str_t *d, const char *val, size_t idx)
{
	return M_list_insert_at(L(d), val, idx);
}

void M_list_str_insert_begin(M_list_str_t *d)
{
	M_list_insert_begin(L(d));
}

void M_list_str_insert_end(M_list_str_t *d)
{
	M_list_insert_end(L(d));
}

size_t M_list_str_len(const M_list_str_t *d)
{
	return M_list_len(L(d));
}

size_t M_list_str_count(const M_list_str_t *d, const char *val, uint32_t type)
{
	return M_list_count(L(d), val, type & kMatchMask);
}

M_bool M_list_str_index_of(const M_list_str_t *d, const char *val, uint32_t type, size_t *idx)
{
	return M_list_index_of(L(d), val, type & kMatchMask, idx);
}

const char *M_list_str_first(const M_list_str_t *d)
{
	return static_cast<const char *>(M_list_first(L(d)));
}

const char *M_list_str_last(const M_list_str_t *d)
{
	return static_cast<const char *>(M_list_last(L(d)));
}

const char *M_list_str_at(const M_list_str_t *d, size_t idx)
{
	return static_cast<const char *>(M_list_at(L(d), idx));
}

char *M_list_str_take_first(M_list_str_t *d)
{
	return static_cast<char *>(M_list_take_first(L(d)));
}

char *M_list_str_take_last(M_list_str_t *d)
{
	return static_cast<char *>(M_list_take_last(L(d)));
}

char *M_list_str_take_at(M_list_str_t *d, size_t idx)
{
	return static_cast<char *>(M_list_take_at(L(d), idx));
}

M_bool M_list_str_remove_first(M_list_str_t *d)
{
	return M_list_remove_first(L(d));
}

M_bool M_list_str_remove_last(M_list_str_t *d)
{
	return M_list_remove_last(L(d));
}

M_bool M_list_str_remove_at(M_list_str_t *d, size_t idx)
{
	return M_list_remove_at(L(d), idx);
}

size_t M_list_str_remove_val(M_list_str_t *d, const char *val, uint32_t type)
{
	return M_list_remove_val(L(d), val, type & kMatchMask);
}

M_bool M_list_str_remove_range(M_list_str_t *d, size_t start, size_t end)
{
	return M_list_remove_range(L(d), start, end);
}

void M_list_str_remove_duplicates(M_list_str_t *d)
{
	M_list_remove_duplicates(L(d), M_LIST_MATCH_VAL);
}

size_t M_list_str_replace_val(M_list_str_t *d, const char *old_val, const char *new_val, uint32_t type)
{
	return M_list_replace_val(L(d), old_val, new_val, type & kMatchMask);
}

M_bool M_list_str_replace_at(M_list_str_t *d, const char *val, size_t idx)
{
	return M_list_replace_at(L(d), val, idx);
}

M_bool M_list_str_swap(M_list_str_t *d, size_t idx1, size_t idx2)
{
	return M_list_swap(L(d), idx1, idx2);
}

M_list_str_t *M_list_str_duplicate(const M_list_str_t *d)
{
	return reinterpret_cast<M_list_str_t *>(M_list_duplicate(L(d)));
}

void M_list_str_merge(M_list_str_t **dest, M_list_str_t *src, M_bool include_duplicates)
{
	M_list_merge(reinterpret_cast<M_list_t **>(dest), L(src), include_duplicates, M_LIST_MATCH_VAL);
}

M_list_str_t *M_list_str_split(unsigned char delim, const char *str, uint32_t flags, M_bool keep_empty)
{
	M_list_str_t *d = M_list_str_create(flags);
	if (d == nullptr)
		return nullptr;

	size_t count = 0;
	char **parts = M_str_explode_str(delim, str, &count);
	for (size_t i = 0; i < count; i++) {
		if (!keep_empty && parts[i][0] == '\0')
			continue;
		(void)M_list_str_insert(d, parts[i]);
	}
	M_str_explode_free(parts, count);
	return d;
}

char *M_list_str_join(const M_list_str_t *d, unsigned char sep)
{
	const char s[2] = {static_cast<char>(sep), '\0'};
	return M_list_str_join_range_str(d, s, 0, SIZE_MAX);
}

char *M_list_str_join_str(const M_list_str_t *d, const char *sep)
{
	return join_range(d, sep, 0, SIZE_MAX);
}

char *M_list_str_join_range(const M_list_str_t *d, unsigned char sep, size_t start, size_t end)
{
	const char s[2] = {static_cast<char>(sep), '\0'};
	return join_range(d, s, start, end);
}

char *M_list_str_join_range_str(const M_list_str_t *d, const char *sep, size_t start, size_t end)
{
	return join_range(d, sep, start, end);
}

} // extern "C"
