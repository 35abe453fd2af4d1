/* Tests for the string list: owned copies, flag mapping and comparator
 * choice, strings borrowed from the list itself, split and join. */
#include "tests/test_util.h"

#include "containers/m_list_str.h"

using V = std::vector<std::string>;
using test_util::take;

namespace {

V items(const M_list_str_t *l, bool fold = false)
{
	V out;
	for (size_t i = 0; i < M_list_str_len(l); i++) {
		const char *s = M_list_str_at(l, i);
		out.emplace_back(s == nullptr ? "<null>" : s);
		for (char &c : out.back())
			c = fold ? static_cast<char>(c | 0x20) : c;
	}
	return out;
}

M_list_str_t *from(uint32_t flags, std::initializer_list<const char *> vals)
{
	M_list_str_t *l = M_list_str_create(flags);
	for (const char *v : vals)
		EXPECT_TRUE(M_list_str_insert(l, v));
	return l;
}

} // namespace

TEST(m_list_str, flags_and_comparators)
{
	/* Case-insensitive orders are checked case-folded (equal keys may come
	 * in either order). CASECMP alone selects no case-insensitive
	 * comparator: that needs SORTASC or SORTDESC with it. */
	const struct {
		uint32_t flags;
		V        expect;
		bool     fold;
	} cases[] = {{M_LIST_STR_NONE, {"b", "A", "c", "a", "B"}, false},
	             {M_LIST_STR_SORTASC, {"A", "B", "a", "b", "c"}, false},
	             {M_LIST_STR_SORTED, {"A", "B", "a", "b", "c"}, false},
	             {M_LIST_STR_SORTDESC, {"c", "b", "a", "B", "A"}, false},
	             {M_LIST_STR_SORTDESC | M_LIST_STR_CASECMP, {"c", "b", "b", "a", "a"}, true},
	             {M_LIST_STR_SORTASC | M_LIST_STR_CASECMP, {"a", "a", "b", "b", "c"}, true},
	             {M_LIST_STR_CASECMP, {"b", "A", "c", "a", "B"}, false},
	             {M_LIST_STR_STACK, {"B", "a", "c", "A", "b"}, false}};
	for (const auto &c : cases) {
		M_list_str_t *l = from(c.flags, {"b", "A", "c", "a", "B"});
		EXPECT_EQ(items(l, c.fold), c.expect) << c.flags;
		EXPECT_EQ(M_list_str_count(l, "a", 0), c.fold ? 2u : 1u) << c.flags;
		M_list_str_destroy(l);
	}
	EXPECT_EQ(M_list_str_create(M_LIST_STR_SORTED | M_LIST_STR_STACK), nullptr);

	/* Copies are stored; NULL is stored as NULL and sorts as the empty
	 * string; a set refuses an equal string. */
	char          buf[] = "hello";
	M_list_str_t *l     = from(M_LIST_STR_SORTED, {buf, nullptr});
	buf[0]              = 'j';
	EXPECT_EQ(items(l), (V{"<null>", "hello"}));
	EXPECT_EQ(take(M_list_str_join(l, ',')), ",hello");
	M_list_str_destroy(l);
	l = from(M_LIST_STR_SET, {"x", "y"});
	EXPECT_FALSE(M_list_str_insert(l, "x"));
	EXPECT_EQ(M_list_str_len(l), 2u);
	M_list_str_destroy(l);
}

/* A string of the list itself as the argument: replaced with itself
 * (copied before the release), or matched against the rest after its own
 * slot is gone, unsorted and sorted. (The searches and changes themselves
 * are the list's: test_m_list.) */
TEST(m_list_str, own_strings_as_arguments)
{
	M_list_str_t *l = from(M_LIST_STR_NONE, {"a", "b"});
	EXPECT_TRUE(M_list_str_replace_at(l, M_list_str_at(l, 1), 1));
	EXPECT_EQ(items(l), (V{"a", "b"}));
	M_list_str_destroy(l);
	l = from(M_LIST_STR_NONE, {"a", "b", "a", "c", "a"});
	EXPECT_EQ(M_list_str_remove_val(l, M_list_str_at(l, 2), M_LIST_MATCH_ALL), 3u);
	EXPECT_EQ(items(l), (V{"b", "c"}));
	M_list_str_destroy(l);
	l = from(M_LIST_STR_NONE, {"a", "b", "a"});
	EXPECT_EQ(M_list_str_replace_val(l, M_list_str_at(l, 0), "x", M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(items(l), (V{"x", "b", "x"}));
	M_list_str_destroy(l);
	l = from(M_LIST_STR_SORTED, {"a", "b", "a"});
	EXPECT_EQ(M_list_str_replace_val(l, M_list_str_at(l, 1), "c", M_LIST_MATCH_ALL), 2u);
	EXPECT_EQ(items(l), (V{"b", "c", "c"}));
	M_list_str_destroy(l);
}

TEST(m_list_str, sorting_duplicate_merge)
{
	M_list_str_t *l = from(M_LIST_STR_SORTED, {"c", "a", "b"});
	M_list_str_change_sorting(l, M_LIST_STR_SORTDESC);
	EXPECT_EQ(items(l), (V{"c", "b", "a"}));
	M_list_str_change_sorting(l, M_LIST_STR_NONE);
	EXPECT_TRUE(M_list_str_insert(l, "z"));
	M_list_str_t *d = M_list_str_duplicate(l);
	EXPECT_EQ(items(d), (V{"c", "b", "a", "z"}));
	EXPECT_NE(M_list_str_at(d, 0), M_list_str_at(l, 0));
	M_list_str_destroy(l);
	/* Merge: new strings move, repeats within the source move once. */
	M_list_str_merge(&d, from(M_LIST_STR_NONE, {"a", "new", "q", "q", "c", "q"}), M_FALSE);
	EXPECT_EQ(items(d), (V{"c", "b", "a", "z", "new", "q"}));
	M_list_str_merge(&d, from(M_LIST_STR_NONE, {"a"}), M_TRUE);
	EXPECT_EQ(M_list_str_count(d, "a", 0), 2u);
	M_list_str_destroy(d);
}

TEST(m_list_str, split_and_join)
{
	const struct {
		const char *in;
		bool        keep_empty;
		V           expect;
	} cases[] = {{"a,,b", false, {"a", "b"}}, {",a,", true, {"", "a", ""}}, {"", true, {}}, {nullptr, true, {}}};
	for (const auto &c : cases) {
		M_list_str_t *l = M_list_str_split(',', c.in, M_LIST_STR_NONE, c.keep_empty);
		EXPECT_EQ(items(l), c.expect) << (c.in ? c.in : "NULL") << " keep_empty=" << c.keep_empty;
		M_list_str_destroy(l);
	}
	M_list_str_t *l = M_list_str_split('/', "c/a/b", M_LIST_STR_SORTASC, M_FALSE);
	EXPECT_EQ(items(l), (V{"a", "b", "c"}));
	M_list_str_destroy(l);
	EXPECT_EQ(M_list_str_split(',', "a", M_LIST_STR_SORTED | M_LIST_STR_STACK, M_FALSE), nullptr);

	/* Ranges end clamped; an empty list or range joins to NULL, one empty
	 * string to an empty string; a NULL separator is none. */
	l = from(M_LIST_STR_NONE, {"a", "b", "c"});
	EXPECT_EQ(take(M_list_str_join(l, '/')), "a/b/c");
	EXPECT_EQ(take(M_list_str_join_str(l, nullptr)), "abc");
	EXPECT_EQ(take(M_list_str_join_range(l, '-', 1, 99)), "b-c");
	EXPECT_EQ(take(M_list_str_join_range_str(l, "::", 0, 1)), "a::b");
	EXPECT_EQ(take(M_list_str_join_range(l, '-', 2, 1)), "(null)");
	EXPECT_EQ(take(M_list_str_join_range(l, '-', 3, 5)), "(null)");
	M_list_str_destroy(l);
	l = M_list_str_create(M_LIST_STR_NONE);
	EXPECT_EQ(take(M_list_str_join(l, '/')), "(null)");
	ASSERT_TRUE(M_list_str_insert(l, ""));
	EXPECT_EQ(take(M_list_str_join(l, '/')), "");
	M_list_str_destroy(l);
}
