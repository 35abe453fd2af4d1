/* Tests for the string list: owned copies, flag mapping and comparator
 * choice, split and join. */
#include <gtest/gtest.h>

#include "containers/m_list_str.h"
#include "core/m_mem.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> items(const M_list_str_t *l)
{
	std::vector<std::string> out;
	for (size_t i = 0; i < M_list_str_len(l); i++) {
		const char *s = M_list_str_at(l, i);
		out.emplace_back(s == nullptr ? "<null>" : s);
	}
	return out;
}

M_list_str_t *from(uint32_t flags, std::initializer_list<const char *> vals)
{
	M_list_str_t *l = M_list_str_create(flags);
	for (const char *v : vals)
		(void)M_list_str_insert(l, v);
	return l;
}

using V = std::vector<std::string>;

} // namespace

TEST(m_list_str, stores_copies)
{
	char          buf[] = "hello";
	M_list_str_t *l     = M_list_str_create(M_LIST_STR_NONE);
	ASSERT_TRUE(M_list_str_insert(l, buf));
	buf[0] = 'j';
	EXPECT_STREQ(M_list_str_at(l, 0), "hello");
	EXPECT_NE(M_list_str_at(l, 0), buf);

	/* take hands the stored copy over. */
	char *t = M_list_str_take_first(l);
	EXPECT_STREQ(t, "hello");
	M_free(t);
	EXPECT_EQ(M_list_str_len(l), 0u);
	M_list_str_destroy(l);
}

TEST(m_list_str, flag_mapping_and_comparators)
{
	struct {
		uint32_t flags;
		V        expect;
	} const cases[] = {
	    {M_LIST_STR_NONE, {"b", "A", "c", "a", "B"}},
	    {M_LIST_STR_SORTASC, {"A", "B", "a", "b", "c"}},
	    {M_LIST_STR_SORTED, {"A", "B", "a", "b", "c"}},
	    {M_LIST_STR_SORTDESC, {"c", "b", "a", "B", "A"}},
	    {M_LIST_STR_SORTDESC | M_LIST_STR_CASECMP, {"c", "b", "B", "A", "a"}},
	    {M_LIST_STR_STACK, {"B", "a", "c", "A", "b"}},
	};
	for (const auto &c : cases) {
		M_list_str_t *l = from(c.flags, {"b", "A", "c", "a", "B"});
		ASSERT_NE(l, nullptr);
		if (c.flags == (M_LIST_STR_SORTDESC | M_LIST_STR_CASECMP)) {
			/* Equal keys in either order: compare case-folded. */
			V got = items(l);
			ASSERT_EQ(got.size(), 5u);
			EXPECT_EQ(got[0], "c");
			EXPECT_EQ(got[1][0] | 0x20, 'b');
			EXPECT_EQ(got[2][0] | 0x20, 'b');
			EXPECT_EQ(got[3][0] | 0x20, 'a');
			EXPECT_EQ(got[4][0] | 0x20, 'a');
		} else {
			EXPECT_EQ(items(l), c.expect) << c.flags;
		}
		M_list_str_destroy(l);
	}

	/* SORTASC with CASECMP: case-insensitive ascending. */
	M_list_str_t *l = from(M_LIST_STR_SORTASC | M_LIST_STR_CASECMP, {"b", "C", "a"});
	EXPECT_EQ(items(l), (V{"a", "b", "C"}));
	M_list_str_destroy(l);

	/* CASECMP alone selects no case-insensitive comparator (that needs
	 * SORTASC or SORTDESC with it): searches stay case-sensitive. */
	l = from(M_LIST_STR_CASECMP, {"Abc"});
	EXPECT_FALSE(M_list_str_index_of(l, "abc", 0, nullptr));
	EXPECT_TRUE(M_list_str_index_of(l, "Abc", 0, nullptr));
	M_list_str_destroy(l);

	/* Sorting with STACK is refused. */
	EXPECT_EQ(M_list_str_create(M_LIST_STR_SORTED | M_LIST_STR_STACK), nullptr);
}

TEST(m_list_str, set_and_searches)
{
	M_list_str_t *l = from(M_LIST_STR_SET, {"x", "y"});
	EXPECT_FALSE(M_list_str_insert(l, "x"));
	EXPECT_TRUE(M_list_str_insert(l, "z"));
	EXPECT_EQ(M_list_str_len(l), 3u);
	M_list_str_destroy(l);

	l = from(M_LIST_STR_NONE, {"a", "b", "a", "c", "a"});
	EXPECT_EQ(M_list_str_count(l, "a", 0), 3u);
	size_t idx = 0;
	ASSERT_TRUE(M_list_str_index_of(l, "c", 0, &idx));
	EXPECT_EQ(idx, 3u);
	/* Masked match flags: stray bits do not matter. */
	EXPECT_EQ(M_list_str_count(l, "a", 0x100), 3u);
	/* By pointer: only the stored copy itself matches. */
	EXPECT_FALSE(M_list_str_index_of(l, "c", M_LIST_MATCH_PTR, nullptr));
	EXPECT_TRUE(M_list_str_index_of(l, M_list_str_at(l, 3), M_LIST_MATCH_PTR, &idx));

	EXPECT_EQ(M_list_str_remove_val(l, "a", 0), 1u);
	EXPECT_EQ(items(l), (V{"b", "a", "c", "a"}));
	EXPECT_EQ(M_list_str_replace_val(l, "a", "q", M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(items(l), (V{"b", "q", "c", "q"}));
	M_list_str_remove_duplicates(l);
	EXPECT_EQ(items(l), (V{"b", "q", "c"}));
	EXPECT_EQ(M_list_str_remove_val(l, "nope", M_LIST_MATCH_ALL), 0u);
	M_list_str_destroy(l);
}

TEST(m_list_str, values_borrowed_from_the_list_itself)
{
	/* Replacing a string with itself copies before releasing. */
	M_list_str_t *l = from(M_LIST_STR_NONE, {"a", "b"});
	EXPECT_TRUE(M_list_str_replace_at(l, M_list_str_at(l, 1), 1));
	EXPECT_EQ(items(l), (V{"a", "b"}));
	M_list_str_destroy(l);

	/* Removing every match of a stored string: it is compared with the
	 * elements before it after its own slot is gone. */
	l = from(M_LIST_STR_NONE, {"a", "b", "a", "c", "a"});
	EXPECT_EQ(M_list_str_remove_val(l, M_list_str_at(l, 2), M_LIST_MATCH_ALL), 3u);
	EXPECT_EQ(items(l), (V{"b", "c"}));
	M_list_str_destroy(l);

	/* Replacing every match of a stored string, unsorted and sorted. */
	l = from(M_LIST_STR_NONE, {"a", "b", "a"});
	EXPECT_EQ(M_list_str_replace_val(l, M_list_str_at(l, 0), "x", M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(items(l), (V{"x", "b", "x"}));
	M_list_str_destroy(l);
	l = from(M_LIST_STR_SORTED, {"a", "b", "a"});
	EXPECT_EQ(M_list_str_replace_val(l, M_list_str_at(l, 1), "c", M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(items(l), (V{"b", "c", "c"}));
	M_list_str_destroy(l);
}

TEST(m_list_str, positional_and_range)
{
	M_list_str_t *l = from(M_LIST_STR_NONE, {"a", "b", "c", "d", "e"});
	EXPECT_TRUE(M_list_str_insert_at(l, "X", 1));
	EXPECT_TRUE(M_list_str_replace_at(l, "Y", 0));
	EXPECT_TRUE(M_list_str_swap(l, 0, 5));
	EXPECT_FALSE(M_list_str_swap(l, 0, 6));
	EXPECT_EQ(items(l), (V{"e", "X", "b", "c", "d", "Y"}));
	EXPECT_EQ(M_list_str_insert_idx(l, "q"), 6u);
	EXPECT_TRUE(M_list_str_remove_range(l, 1, 2));
	EXPECT_TRUE(M_list_str_remove_first(l));
	EXPECT_TRUE(M_list_str_remove_last(l));
	EXPECT_TRUE(M_list_str_remove_at(l, 0));
	EXPECT_EQ(items(l), (V{"d"}));
	EXPECT_STREQ(M_list_str_first(l), "d");
	EXPECT_STREQ(M_list_str_last(l), "d");
	char *t = M_list_str_take_last(l);
	EXPECT_STREQ(t, "d");
	M_free(t);
	EXPECT_EQ(M_list_str_take_at(l, 0), nullptr);
	M_list_str_destroy(l);
}

TEST(m_list_str, batching_change_sorting_duplicate_merge)
{
	M_list_str_t *l = M_list_str_create(M_LIST_STR_SORTED);
	M_list_str_insert_begin(l);
	EXPECT_TRUE(M_list_str_insert(l, "c"));
	EXPECT_TRUE(M_list_str_insert(l, "a"));
	EXPECT_TRUE(M_list_str_insert(l, "b"));
	EXPECT_EQ(items(l), (V{"c", "a", "b"}));
	M_list_str_insert_end(l);
	EXPECT_EQ(items(l), (V{"a", "b", "c"}));

	M_list_str_change_sorting(l, M_LIST_STR_SORTDESC);
	EXPECT_EQ(items(l), (V{"c", "b", "a"}));
	M_list_str_change_sorting(l, M_LIST_STR_NONE);
	EXPECT_TRUE(M_list_str_insert(l, "z"));
	EXPECT_EQ(items(l), (V{"c", "b", "a", "z"}));

	M_list_str_t *d = M_list_str_duplicate(l);
	EXPECT_EQ(items(d), items(l));
	EXPECT_NE(M_list_str_at(d, 0), M_list_str_at(l, 0));

	M_list_str_t *src = from(M_LIST_STR_NONE, {"a", "new"});
	M_list_str_merge(&d, src, M_FALSE);
	EXPECT_EQ(items(d), (V{"c", "b", "a", "z", "new"}));
	/* Repeats within the source are moved once. */
	src = from(M_LIST_STR_NONE, {"q", "q", "c", "q"});
	M_list_str_merge(&d, src, M_FALSE);
	EXPECT_EQ(items(d), (V{"c", "b", "a", "z", "new", "q"}));
	src = from(M_LIST_STR_NONE, {"a"});
	M_list_str_merge(&d, src, M_TRUE);
	EXPECT_EQ(M_list_str_count(d, "a", 0), 2u);
	M_list_str_destroy(d);
	M_list_str_destroy(l);
}

TEST(m_list_str, split)
{
	struct {
		const char *in;
		bool        keep_empty;
		V           expect;
	} const cases[] = {
	    {"a,,b", false, {"a", "b"}}, {"a,,b", true, {"a", "", "b"}}, {",a,", true, {"", "a", ""}},
	    {",a,", false, {"a"}},       {"abc", false, {"abc"}},        {"", true, {}},
	    {nullptr, true, {}},
	};
	for (const auto &c : cases) {
		M_list_str_t *l = M_list_str_split(',', c.in, M_LIST_STR_NONE, c.keep_empty);
		ASSERT_NE(l, nullptr);
		EXPECT_EQ(items(l), c.expect) << (c.in ? c.in : "NULL") << " keep_empty=" << c.keep_empty;
		M_list_str_destroy(l);
	}
	/* A sorted list sorts the pieces. */
	M_list_str_t *l = M_list_str_split('/', "c/a/b", M_LIST_STR_SORTASC, M_FALSE);
	EXPECT_EQ(items(l), (V{"a", "b", "c"}));
	M_list_str_destroy(l);
	EXPECT_EQ(M_list_str_split(',', "a", M_LIST_STR_SORTED | M_LIST_STR_STACK, M_FALSE), nullptr);
}

TEST(m_list_str, join)
{
	M_list_str_t *l = from(M_LIST_STR_NONE, {"a", "b", "c"});
	char         *s = M_list_str_join(l, '/');
	EXPECT_STREQ(s, "a/b/c");
	M_free(s);
	s = M_list_str_join_str(l, ", ");
	EXPECT_STREQ(s, "a, b, c");
	M_free(s);
	s = M_list_str_join_str(l, nullptr);
	EXPECT_STREQ(s, "abc");
	M_free(s);
	s = M_list_str_join_range(l, '-', 1, 99);
	EXPECT_STREQ(s, "b-c");
	M_free(s);
	s = M_list_str_join_range_str(l, "::", 0, 1);
	EXPECT_STREQ(s, "a::b");
	M_free(s);
	EXPECT_EQ(M_list_str_join_range(l, '-', 2, 1), nullptr);
	EXPECT_EQ(M_list_str_join_range(l, '-', 3, 5), nullptr);
	EXPECT_EQ(M_list_str_join_range_str(l, "-", 3, 3), nullptr);
	M_list_str_destroy(l);

	/* Empty list: NULL. One empty string: an empty string. */
	l = M_list_str_create(M_LIST_STR_NONE);
	EXPECT_EQ(M_list_str_join(l, '/'), nullptr);
	ASSERT_TRUE(M_list_str_insert(l, ""));
	s = M_list_str_join(l, '/');
	EXPECT_STREQ(s, "");
	M_free(s);
	M_list_str_destroy(l);
	EXPECT_EQ(M_list_str_join(nullptr, '/'), nullptr);
	EXPECT_EQ(M_list_str_join_str(nullptr, "/"), nullptr);
}

TEST(m_list_str, null_arguments)
{
	size_t idx = 3;
	EXPECT_EQ(M_list_str_len(nullptr), 0u);
	EXPECT_FALSE(M_list_str_insert(nullptr, "a"));
	EXPECT_EQ(M_list_str_insert_idx(nullptr, "a"), 0u);
	EXPECT_FALSE(M_list_str_insert_at(nullptr, "a", 0));
	M_list_str_insert_begin(nullptr);
	M_list_str_insert_end(nullptr);
	EXPECT_EQ(M_list_str_count(nullptr, "a", 0), 0u);
	EXPECT_FALSE(M_list_str_index_of(nullptr, "a", 0, &idx));
	EXPECT_EQ(M_list_str_first(nullptr), nullptr);
	EXPECT_EQ(M_list_str_last(nullptr), nullptr);
	EXPECT_EQ(M_list_str_at(nullptr, 0), nullptr);
	EXPECT_EQ(M_list_str_take_first(nullptr), nullptr);
	EXPECT_EQ(M_list_str_take_last(nullptr), nullptr);
	EXPECT_EQ(M_list_str_take_at(nullptr, 0), nullptr);
	EXPECT_FALSE(M_list_str_remove_first(nullptr));
	EXPECT_FALSE(M_list_str_remove_last(nullptr));
	EXPECT_FALSE(M_list_str_remove_at(nullptr, 0));
	EXPECT_EQ(M_list_str_remove_val(nullptr, "a", 0), 0u);
	EXPECT_FALSE(M_list_str_remove_range(nullptr, 0, 0));
	M_list_str_remove_duplicates(nullptr);
	EXPECT_EQ(M_list_str_replace_val(nullptr, "a", "b", 0), 0u);
	EXPECT_FALSE(M_list_str_replace_at(nullptr, "a", 0));
	EXPECT_FALSE(M_list_str_swap(nullptr, 0, 1));
	EXPECT_EQ(M_list_str_duplicate(nullptr), nullptr);
	M_list_str_change_sorting(nullptr, M_LIST_STR_SORTED);
	M_list_str_merge(nullptr, nullptr, M_TRUE);
	M_list_str_destroy(nullptr);

	/* NULL values are stored as NULL and sort as the empty string. */
	M_list_str_t *l = M_list_str_create(M_LIST_STR_SORTED);
	ASSERT_TRUE(M_list_str_insert(l, "b"));
	ASSERT_TRUE(M_list_str_insert(l, nullptr));
	EXPECT_EQ(M_list_str_at(l, 0), nullptr);
	EXPECT_STREQ(M_list_str_at(l, 1), "b");
	char *s = M_list_str_join(l, ',');
	EXPECT_STREQ(s, ",b");
	M_free(s);
	M_list_str_destroy(l);
}
