/* Paths as text in both styles. */
#include "tests/fs/fs_test.h"

#include "containers/m_list_str.h"

namespace {

using namespace fs_test;

/* One text function: 'a' isabs, 'u' isunc ("1"/"0"), 'c' components (each
 * in brackets), 'p' join_parts of a split at '|', 'j' join(a, b),
 * 'r' join_resolved(a, b, c), 'b' basename, 'd' dirname, 'l' length,
 * 's' the file part of a stream name ("-": no stream). */
std::string apply(char op, M_fs_system_t sys, const char *a, const char *b, const char *c)
{
	M_list_str_t *l = nullptr;
	std::string   out, s = a != nullptr ? a : "";
	switch (op) {
		case 'a':
			return M_fs_path_isabs(a, sys) ? "1" : "0";
		case 'u':
			return M_fs_path_isunc(a) ? "1" : "0";
		case 'c':
			l = M_fs_path_componentize_path(a, sys);
			for (size_t i = 0; i < M_list_str_len(l); i++)
				out += std::string("[") + M_list_str_at(l, i) + "]";
			break;
		case 'p':
			l = M_list_str_create(M_LIST_STR_NONE);
			for (size_t pos = 0, bar = 0; bar != std::string::npos; pos = bar + 1) {
				bar = s.find('|', pos);
				M_list_str_insert(l, s.substr(pos, bar - pos).c_str());
			}
			out = take(M_fs_path_join_parts(l, sys));
			break;
		case 'j':
			return take(M_fs_path_join(a, b, sys));
		case 'r':
			return take(M_fs_path_join_resolved(a, b, c, sys));
		case 'b':
			return take(M_fs_path_basename(a, sys));
		case 'l':
			return std::to_string(M_fs_path_length(a, sys));
		case 's': {
			size_t len = 0;
			return M_fs_path_has_stream(a, sys, &len) ? s.substr(0, len) : "-";
		}
		default:
			return take(M_fs_path_dirname(a, sys));
	}
	M_list_str_destroy(l);
	return out;
}

TEST(m_fs_path, text_functions)
{
	const struct {
		char          op;
		M_fs_system_t sys;
		const char   *a, *b, *c, *want;
	} rows[] = {{'a', WIN, "C:\\x", 0, 0, "1"},
	            {'a', WIN, "C:", 0, 0, "1"},
	            {'a', WIN, "C:name", 0, 0, "1"},
	            {'a', WIN, "\\\\srv\\s", 0, 0, "1"},
	            {'a', WIN, "\\x", 0, 0, "0"},
	            {'a', UNIX, "/x", 0, 0, "1"},
	            {'a', UNIX, "C:\\x", 0, 0, "0"},
	            {'a', static_cast<M_fs_system_t>(3), "/x", 0, 0, "0"},
	            {'u', UNIX, "\\\\", 0, 0, "1"},
	            {'u', UNIX, "\\srv", 0, 0, "0"},
	            /* A root is one empty component. */
	            {'c', WIN, "C:\\data\\x", 0, 0, "[C:][data][x]"},
	            {'c', WIN, "\\\\srv\\share", 0, 0, "[][srv][share]"},
	            {'c', WIN, "\\lost", 0, 0, "[lost]"},
	            {'c', WIN, "\\", 0, 0, ""},
	            {'c', WIN, "\\\\", 0, 0, "[]"},
	            {'c', UNIX, "/usr/lib", 0, 0, "[][usr][lib]"},
	            {'c', UNIX, "a//b\\\\c/", 0, 0, "[a][b][c]"},
	            {'p', WIN, "C:|data|x", 0, 0, "C:\\data\\x"},
	            {'p', WIN, "C:", 0, 0, "C:\\"},
	            {'p', WIN, "|srv|share", 0, 0, "\\\\srv\\share"},
	            {'p', WIN, "", 0, 0, "\\\\"},
	            {'p', UNIX, "", 0, 0, "/"},
	            {'p', UNIX, "a||b|", 0, 0, "a/b"},
	            {'j', WIN, "C:\\a", "b", 0, "C:\\a\\b"},
	            {'j', WIN, "C:\\a", "D:\\x", 0, "D:\\x"},
	            {'j', UNIX, "/a/", "b", 0, "/a/b"},
	            {'j', UNIX, "/a", "/b", 0, "/b"},
	            {'j', UNIX, nullptr, "b", 0, "b"},
	            {'j', UNIX, "a", nullptr, 0, "a"},
	            {'r', UNIX, "/etc", "conf/main.cfg", "other.cfg", "/etc/conf/other.cfg"},
	            {'r', UNIX, "/etc", "main.cfg", "/abs/x", "/abs/x"},
	            {'r', WIN, "C:\\d", "f.txt", "g.txt", "C:\\d\\g.txt"},
	            {'r', UNIX, nullptr, "f.txt", "g.txt", "./g.txt"},
	            {'r', UNIX, "", nullptr, "", "(null)"},
	            {'b', WIN, "C:\\exports\\today.exp", 0, 0, "today.exp"},
	            {'b', WIN, "C:", 0, 0, "(null)"},
	            {'b', WIN, "\\\\srv\\share\\x", 0, 0, "x"},
	            {'b', UNIX, "/exports/today.exp", 0, 0, "today.exp"},
	            {'b', UNIX, "dir/", 0, 0, "dir"},
	            {'b', UNIX, "/", 0, 0, "(null)"},
	            {'d', WIN, "C:\\exports\\today.exp", 0, 0, "C:\\exports"},
	            {'d', WIN, "C:", 0, 0, "C:\\"},
	            {'d', WIN, "\\\\srv\\share\\x", 0, 0, "\\\\srv\\share"},
	            {'d', UNIX, "/exports/today.exp", 0, 0, "/exports"},
	            {'d', UNIX, "/", 0, 0, "/"},
	            {'d', UNIX, nullptr, 0, 0, "."},
	            /* Characters as the system counts them: UTF-16 units on Windows. */
	            {'l', WIN, "\xD0\x96x\xF0\x9F\x98\x80", 0, 0, "4"},
	            {'l', UNIX, "\xD0\x96x\xF0\x9F\x98\x80", 0, 0, "7"},
	            /* Streams: a colon but that of a drive. */
	            {'s', WIN, "out.gpg:hidden", 0, 0, "out.gpg"},
	            {'s', WIN, "x.exp::$DATA", 0, 0, "x.exp"},
	            {'s', WIN, "C:f.gpg:s", 0, 0, "C:f.gpg"},
	            {'s', WIN, "\\\\?\\C:\\x:s", 0, 0, "\\\\?\\C:\\x"},
	            {'s', WIN, "C:\\d\\f.gpg", 0, 0, "-"},
	            {'s', UNIX, "out.gpg:hidden", 0, 0, "-"}};
	EXPECT_EQ(M_fs_path_get_system_sep(WIN), '\\');
	for (const auto &r : rows)
		EXPECT_EQ(apply(r.op, r.sys, r.a, r.b, r.c), r.want)
		    << r.op << " style " << r.sys << " " << (r.a ? r.a : "NULL") << " " << (r.b ? r.b : "NULL");

	M_list_str_t *none = M_list_str_create(M_LIST_STR_NONE);
	EXPECT_EQ(take(M_fs_path_join_parts(none, UNIX)), "(null)");
	M_list_str_destroy(none);
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 3, "", "a", "b")), "/a/b");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 2, "a", static_cast<const char *>(nullptr))), "a");
	EXPECT_EQ(take(M_fs_path_join_vparts(UNIX, 0)), "(null)");
}

} // namespace
