#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "containers/m_list_str.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "formats/m_csv.h"
#include "tests/test_util.h"

namespace {

struct CsvDeleter {
	void operator()(M_csv_t *c) const
	{
		M_csv_destroy(c);
	}
};
using CsvPtr = std::unique_ptr<M_csv_t, CsvDeleter>;

CsvPtr parse(const std::string &s, char delim = ',', char quote = '"', uint32_t flags = M_CSV_FLAG_NONE)
{
	return CsvPtr(M_csv_parse(s.data(), s.size(), delim, quote, flags));
}

std::string take(M_buf_t *buf)
{
	std::string s(M_buf_peek(buf) == nullptr ? "" : M_buf_peek(buf), M_buf_len(buf));
	M_buf_cancel(buf);
	return s;
}

M_list_str_t *make_list(const std::vector<const char *> &names)
{
	M_list_str_t *l = M_list_str_create(M_LIST_STR_NONE);
	for (const char *n : names)
		M_list_str_insert(l, n);
	return l;
}

} // namespace

TEST(m_csv, crlf_lines_and_case_insensitive_lookup)
{
	auto csv = parse("a,b,c\r\n1,2,3\r\n");
	ASSERT_NE(csv, nullptr);
	EXPECT_EQ(M_csv_raw_num_rows(csv.get()), 2u);
	EXPECT_EQ(M_csv_raw_num_cols(csv.get()), 3u);
	EXPECT_EQ(M_csv_get_numrows(csv.get()), 1u);
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 0, "B"), "2");
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 2), "3");
	EXPECT_STREQ(M_csv_get_header(csv.get(), 2), "c");
	EXPECT_EQ(M_csv_get_cell_num(csv.get(), "nope"), static_cast<size_t>(-1));
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 1, 0), nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 0, 3), nullptr);
	EXPECT_EQ(M_csv_raw_cell(csv.get(), 2, 0), nullptr);
}

TEST(m_csv, final_line_and_blank_lines)
{
	auto with    = parse("a,b\n1,2\n");
	auto without = parse("a,b\n1,2");
	auto trailer = parse("a,b\n1,2\n\r");
	for (auto *c : {with.get(), without.get(), trailer.get()}) {
		ASSERT_NE(c, nullptr);
		EXPECT_EQ(M_csv_get_numrows(c), 1u);
		EXPECT_STREQ(M_csv_get_cell(c, 0, "b"), "2");
	}
	/* A blank line between data rows is a row of absent cells. */
	auto blank = parse("a,b\n1,2\n\n3,4\n");
	ASSERT_EQ(M_csv_get_numrows(blank.get()), 3u);
	EXPECT_EQ(M_csv_get_cellbynum(blank.get(), 1, 0), nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(blank.get(), 1, 1), nullptr);
	EXPECT_STREQ(M_csv_get_cellbynum(blank.get(), 2, 1), "4");
	/* A header-only text has no data rows. */
	EXPECT_EQ(M_csv_get_numrows(parse("x,y").get()), 0u);
}

TEST(m_csv, backtick_quoting_and_empty_cells)
{
	auto csv = parse("a,b,c,d\n`x,y`,`p``q`,``,\n", ',', '`');
	ASSERT_NE(csv, nullptr);
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 0), "x,y");
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 1), "p`q");
	const char *empty_quoted = M_csv_get_cellbynum(csv.get(), 0, 2);
	ASSERT_NE(empty_quoted, nullptr);
	EXPECT_STREQ(empty_quoted, "");
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 0, 3), nullptr);
}

TEST(m_csv, quoted_cell_spans_lines_and_cr_ends_cell)
{
	auto csv = parse("a,b\n\"line1\nline2\",z\n");
	ASSERT_EQ(M_csv_get_numrows(csv.get()), 1u);
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 0), "line1\nline2");
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 1), "z");

	/* A carriage return outside quotes ends the cell's text. */
	auto cr = parse("a,b\nab\rcd,2\n");
	EXPECT_STREQ(M_csv_get_cellbynum(cr.get(), 0, 0), "ab");
	EXPECT_STREQ(M_csv_get_cellbynum(cr.get(), 0, 1), "2");
}

TEST(m_csv, extra_and_missing_cells)
{
	auto csv = parse("a,b\n1,2,3,4\n5\n");
	ASSERT_EQ(M_csv_get_numrows(csv.get()), 2u);
	EXPECT_EQ(M_csv_get_numcols(csv.get()), 2u);
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 1), "2");
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 1, 0), "5");
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 1, 1), nullptr);
}

TEST(m_csv, later_duplicate_header_wins)
{
	auto csv = parse("a,b,User,c,d,user\n0,1,2,3,4,5\n");
	EXPECT_EQ(M_csv_get_cell_num(csv.get(), "USER"), 5u);
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 0, "user"), "5");
}

TEST(m_csv, trim_flag_and_failures)
{
	auto csv = parse("a,b\n  x  ,\" y \"\n", ',', '"', M_CSV_FLAG_TRIM_WHITESPACE);
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 0), "x");
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 1), " y ");
	auto untrimmed = parse("a\n  x  \n");
	EXPECT_STREQ(M_csv_get_cellbynum(untrimmed.get(), 0, 0), "  x  ");

	EXPECT_EQ(M_csv_parse(nullptr, 5, ',', '"', 0), nullptr);
	EXPECT_EQ(M_csv_parse("a", 0, ',', '"', 0), nullptr);
	EXPECT_EQ(M_csv_parse("\r\r", 2, ',', '"', 0), nullptr);
	EXPECT_EQ(M_csv_parse_inplace(nullptr, 3, ',', '"', 0), nullptr);
	EXPECT_EQ(M_csv_parse_add_headers(nullptr, 3, ',', '"', 0, nullptr), nullptr);

	/* NULL tables everywhere. */
	M_csv_destroy(nullptr);
	EXPECT_EQ(M_csv_raw_num_rows(nullptr), 0u);
	EXPECT_EQ(M_csv_get_numrows(nullptr), 0u);
	EXPECT_EQ(M_csv_get_numcols(nullptr), 0u);
	EXPECT_EQ(M_csv_get_cell(nullptr, 0, "a"), nullptr);
	EXPECT_EQ(M_csv_get_cell_num(nullptr, "a"), static_cast<size_t>(-1));
	EXPECT_EQ(M_csv_get_cell(csv.get(), 0, nullptr), nullptr);
	M_csv_output_set_control_chars(nullptr, ',', '"');
}

TEST(m_csv, parse_inplace_takes_the_text)
{
	const char src[] = "h1,h2\nv1,v2\n";
	char      *text  = static_cast<char *>(M_memdup(src, sizeof(src)));
	M_csv_t   *csv   = M_csv_parse_inplace(text, sizeof(src) - 1, ',', '"', 0);
	ASSERT_NE(csv, nullptr);
	EXPECT_STREQ(M_csv_get_cell(csv, 0, "h2"), "v2");
	M_csv_destroy(csv); /* frees text as well: the sanitizer build checks it */
}

TEST(m_csv, parse_add_headers)
{
	M_list_str_t *h   = make_list({"token", "user"});
	std::string   txt = "123,bob\r\n456,`a,b`\n";
	auto          csv = CsvPtr(M_csv_parse_add_headers(txt.data(), txt.size(), ',', '`', 0, h));
	ASSERT_NE(csv, nullptr);
	EXPECT_EQ(M_csv_get_numrows(csv.get()), 2u);
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 0, "token"), "123");
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 0, "user"), "bob");
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 1, "user"), "a,b");

	/* Header names that need quoting survive. */
	M_list_str_t *odd  = make_list({"a,b", " c"});
	auto          csv2 = CsvPtr(M_csv_parse_add_headers("1,2\n", 4, ',', '"', 0, odd));
	EXPECT_STREQ(M_csv_get_header(csv2.get(), 0), "a,b");
	EXPECT_STREQ(M_csv_get_header(csv2.get(), 1), " c");

	/* An empty list acts as a plain parse. */
	M_list_str_t *empty = M_list_str_create(M_LIST_STR_NONE);
	auto          csv3  = CsvPtr(M_csv_parse_add_headers("x\n1\n", 4, ',', '"', 0, empty));
	EXPECT_STREQ(M_csv_get_cell(csv3.get(), 0, "x"), "1");
	M_list_str_destroy(h);
	M_list_str_destroy(odd);
	M_list_str_destroy(empty);
}

TEST(m_csv, output_cell_quoting)
{
	auto csv = parse("a,b,c,d,e,f\n`\"hi\"`,`a,b`,` lead`,123,,`x\ny`\n", ',', '`');
	ASSERT_NE(csv, nullptr);
	M_csv_output_set_control_chars(csv.get(), ',', '"');
	M_buf_t *buf = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), nullptr);
	M_csv_output_rows_buf(buf, csv.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "a,b,c,d,e,f\r\n\"\"\"hi\"\"\",\"a,b\",\" lead\",123,,\"x\ny\"\r\n");

	/* An absent last cell leaves the row ending with a delimiter. */
	auto last = parse("a,b,c\n1,,\n");
	buf       = M_buf_create();
	M_csv_output_rows_buf(buf, last.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "1,,\r\n");
}

TEST(m_csv, output_column_list_filter_and_writer)
{
	auto csv = parse("user,token,extra\nalice,1,x\nbob,2,y\ncarol,3,z\n");
	ASSERT_NE(csv, nullptr);
	M_list_str_t *cols = make_list({"TOKEN", "missing", "user"});

	M_buf_t *buf = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), cols);
	auto drop_bob = [](const M_csv_t *t, size_t row, void *thunk) -> M_bool {
		EXPECT_EQ(thunk, reinterpret_cast<void *>(0x1));
		return !M_str_eq(M_csv_get_cell(t, row, "user"), "bob");
	};
	auto writer = [](M_buf_t *scratch, const char *cell, const char *header, void *) -> M_bool {
		if (M_str_eq(header, "TOKEN")) {
			M_buf_add_str(scratch, "t");
			M_buf_add_str(scratch, cell);
			return M_TRUE;
		}
		if (M_str_eq(header, "user") && M_str_eq(cell, "carol"))
			return M_TRUE; /* written empty */
		M_buf_add_str(scratch, "ignored");
		return M_FALSE;
	};
	M_csv_output_rows_buf(buf, csv.get(), cols, drop_bob, reinterpret_cast<void *>(0x1), writer, nullptr);
	EXPECT_EQ(take(buf), "TOKEN,missing,user\r\nt1,,alice\r\nt3,,\r\n");

	/* A filter that rejects everything appends nothing. */
	buf = M_buf_create();
	M_buf_add_str(buf, "keep");
	M_csv_output_rows_buf(
	    buf, csv.get(), nullptr, [](const M_csv_t *, size_t, void *) -> M_bool { return M_FALSE; }, nullptr, nullptr,
	    nullptr);
	EXPECT_EQ(take(buf), "keep");
	M_list_str_destroy(cols);
}

/* Writing random tables and parsing the output back gives the same cells; an
 * empty cell comes back absent. */
TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_csv, round_trip_random_tables)
{
	std::mt19937                       rng(12345);
	const char                         alphabet[] = {'a', 'b', ',', ';', '"', '`', '\r', '\n', ' ', '\t', '1', 'Z'};
	std::uniform_int_distribution<int> pick(0, sizeof(alphabet) - 1);
	const std::pair<char, char>        controls[] = {{',', '"'}, {',', '`'}, {';', '"'}};

	for (int iter = 0; iter < 10000; iter++) {
		const auto [delim, quote]                  = controls[iter % 3];
		const size_t                          rows = 1 + rng() % 4;
		const size_t                          cols = 1 + rng() % 4;
		std::vector<std::vector<std::string>> cells(rows, std::vector<std::string>(cols));
		for (auto &row : cells) {
			for (auto &cell : row) {
				size_t len = rng() % 5;
				for (size_t i = 0; i < len; i++)
					cell.push_back(alphabet[pick(rng)]);
			}
		}
		/* The header row must have a visible first cell so the first line is not blank. */
		cells[0][0] = "h" + cells[0][0];

		/* Build a table in memory by writing through the library itself:
		 * parse a header list, then output rows via a cell writer. */
		M_list_str_t *hdr = M_list_str_create(M_LIST_STR_NONE);
		for (auto &h : cells[0])
			M_list_str_insert(hdr, h.c_str());
		std::string data_rows;
		for (size_t r = 1; r < rows; r++) {
			for (size_t c = 0; c < cols; c++)
				data_rows += "x" + std::to_string(c) + (c + 1 < cols ? std::string(1, delim) : "");
			data_rows += "\n";
		}
		if (data_rows.empty()) {
			M_list_str_destroy(hdr);
			continue;
		}
		auto src = CsvPtr(M_csv_parse_add_headers(data_rows.data(), data_rows.size(), delim, quote, 0, hdr));
		ASSERT_NE(src, nullptr);
		for (size_t c = 0; c < cols; c++) {
			const char *h = M_csv_get_header(src.get(), c);
			ASSERT_EQ(std::string(h == nullptr ? "" : h), cells[0][c]) << "iter " << iter;
		}

		struct ctx_t {
			std::vector<std::vector<std::string>> *cells;
			size_t                                 cols;
			size_t                                 n;
		} ctx{&cells, cols, 0};
		auto writer = [](M_buf_t *scratch, const char *, const char *, void *thunk) -> M_bool {
			auto  *c = static_cast<ctx_t *>(thunk);
			size_t r = 1 + c->n / c->cols, col = c->n % c->cols;
			c->n++;
			M_buf_add_bytes(scratch, (*c->cells)[r][col].data(), (*c->cells)[r][col].size());
			return M_TRUE;
		};
		M_buf_t *out = M_buf_create();
		M_csv_output_headers_buf(out, src.get(), nullptr);
		M_csv_output_rows_buf(out, src.get(), nullptr, nullptr, nullptr, writer, &ctx);
		std::string text = take(out);

		auto back = parse(text, delim, quote);
		ASSERT_NE(back, nullptr);
		ASSERT_EQ(M_csv_raw_num_rows(back.get()), rows) << text;
		for (size_t r = 0; r < rows; r++) {
			for (size_t c = 0; c < cols; c++) {
				const char *got = M_csv_raw_cell(back.get(), r, c);
				if (cells[r][c].empty()) {
					EXPECT_EQ(got, nullptr) << "iter " << iter << " r" << r << " c" << c;
				} else {
					ASSERT_NE(got, nullptr) << "iter " << iter;
					EXPECT_EQ(std::string(got), cells[r][c]) << "iter " << iter << " text " << text;
				}
			}
		}
		M_list_str_destroy(hdr);
	}
}
TEST_GCC12_FALSE_POSITIVE_END()

TEST(m_csv, quotes_inside_cells)
{
	/* An unbalanced quote keeps the rest of the text in one cell. */
	auto open = parse("a,b\n\"x,y\n1,2\n");
	ASSERT_NE(open, nullptr);
	EXPECT_EQ(M_csv_get_numrows(open.get()), 1u);
	EXPECT_STREQ(M_csv_get_cellbynum(open.get(), 0, 0), "x,y\n1,2\n");
	EXPECT_EQ(M_csv_get_cellbynum(open.get(), 0, 1), nullptr);

	/* Text outside the quotes stays part of the cell. */
	auto around = parse("a,b\n \"x\",a\"b,c\"d\n");
	EXPECT_STREQ(M_csv_get_cellbynum(around.get(), 0, 0), " x");
	EXPECT_STREQ(M_csv_get_cellbynum(around.get(), 0, 1), "ab,cd");

	/* Carriage returns and line feeds inside quotes belong to the cell. */
	auto crlf = parse("a,b\n\"1\r\n2\",3\r\n");
	EXPECT_EQ(M_csv_get_numrows(crlf.get()), 1u);
	EXPECT_STREQ(M_csv_get_cellbynum(crlf.get(), 0, 0), "1\r\n2");
	EXPECT_STREQ(M_csv_get_cellbynum(crlf.get(), 0, 1), "3");

	/* Quoted delimiters and line feeds on the header line add no column. */
	auto hdr = parse("\"a\nb\",\"c,d\"\n1,2\n");
	EXPECT_EQ(M_csv_get_numcols(hdr.get()), 2u);
	EXPECT_EQ(M_csv_get_numrows(hdr.get()), 1u);
	EXPECT_STREQ(M_csv_get_cell(hdr.get(), 0, "C,D"), "2");
	EXPECT_STREQ(M_csv_get_cell(hdr.get(), 0, "A\nB"), "1");
}

TEST(m_csv, unnamed_headers_are_not_indexed)
{
	auto csv = parse("a,\"\",,b\n1,2,3,4\n");
	ASSERT_NE(csv, nullptr);
	ASSERT_NE(M_csv_get_header(csv.get(), 1), nullptr); /* quoted empty: present */
	EXPECT_STREQ(M_csv_get_header(csv.get(), 1), "");
	EXPECT_EQ(M_csv_get_header(csv.get(), 2), nullptr); /* unquoted empty: absent */
	EXPECT_EQ(M_csv_get_cell_num(csv.get(), ""), static_cast<size_t>(-1));
	EXPECT_EQ(M_csv_get_cell(csv.get(), 0, ""), nullptr);
	EXPECT_EQ(M_csv_get_cell_num(csv.get(), "B"), 3u);
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 2), "3");
}

TEST(m_csv, smallest_tables)
{
	/* One line feed: one row, one absent cell. */
	auto lf = parse("\n");
	ASSERT_NE(lf, nullptr);
	EXPECT_EQ(M_csv_raw_num_rows(lf.get()), 1u);
	EXPECT_EQ(M_csv_raw_num_cols(lf.get()), 1u);
	EXPECT_EQ(M_csv_get_header(lf.get(), 0), nullptr);
	EXPECT_EQ(M_csv_get_numrows(lf.get()), 0u);
	auto crlf = parse("\r\n");
	ASSERT_NE(crlf, nullptr);
	EXPECT_EQ(M_csv_raw_num_rows(crlf.get()), 1u);
	/* One cell without a line end. */
	auto one = parse("x");
	ASSERT_NE(one, nullptr);
	EXPECT_STREQ(M_csv_get_header(one.get(), 0), "x");
	/* Delimiters only. */
	auto delims = parse(",,\n,,\n");
	ASSERT_NE(delims, nullptr);
	EXPECT_EQ(M_csv_get_numcols(delims.get()), 3u);
	EXPECT_EQ(M_csv_get_numrows(delims.get()), 1u);
	for (size_t c = 0; c < 3; c++)
		EXPECT_EQ(M_csv_get_cellbynum(delims.get(), 0, c), nullptr);
}

TEST(m_csv, trim_flag_on_whitespace_only_cells)
{
	auto csv = parse("a,b,c\n \t ,\"  \",` `\n", ',', '"', M_CSV_FLAG_TRIM_WHITESPACE);
	ASSERT_NE(csv, nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 0, 0), nullptr); /* trimmed to nothing: absent */
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 1), "  "); /* quoted: untouched */
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 0, 2), "` `");
}

TEST(m_csv, parse_inplace_failure_leaves_the_text)
{
	char *text = static_cast<char *>(M_memdup("\r\r", 3));
	EXPECT_EQ(M_csv_parse_inplace(text, 2, ',', '"', 0), nullptr);
	EXPECT_EQ(M_csv_parse_inplace(text, 0, ',', '"', 0), nullptr);
	M_free(text); /* still the caller's: the sanitizer build checks it */
	EXPECT_EQ(M_csv_parse_add_headers("\r", 1, ',', '"', 0, nullptr), nullptr);
}

TEST(m_csv, null_arguments)
{
	auto csv = parse("a,b\n1,2\n");
	ASSERT_NE(csv, nullptr);
	M_list_str_t *list = make_list({"a"});
	EXPECT_EQ(M_csv_parse_add_headers(nullptr, 4, ',', '"', 0, list), nullptr);
	EXPECT_EQ(M_csv_parse_add_headers("1\n", 0, ',', '"', 0, list), nullptr);
	EXPECT_EQ(M_csv_raw_num_cols(nullptr), 0u);
	EXPECT_EQ(M_csv_raw_cell(nullptr, 0, 0), nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(nullptr, 0, 0), nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), static_cast<size_t>(-1), 0), nullptr);
	EXPECT_EQ(M_csv_get_header(nullptr, 0), nullptr);
	EXPECT_EQ(M_csv_get_header(csv.get(), 2), nullptr);

	/* Output with a NULL buffer or table writes nothing and does not crash. */
	M_csv_output_headers_buf(nullptr, csv.get(), nullptr);
	M_csv_output_rows_buf(nullptr, csv.get(), list, nullptr, nullptr, nullptr, nullptr);
	M_buf_t *buf = M_buf_create();
	M_csv_output_headers_buf(buf, nullptr, list);
	M_csv_output_rows_buf(buf, nullptr, list, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(M_buf_len(buf), 0u);
	/* A header-only table has no data rows to write. */
	auto hdr_only = parse("a,b\n");
	M_csv_output_rows_buf(buf, hdr_only.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(M_buf_len(buf), 0u);
	/* A NULL column list is the table's own columns. */
	M_csv_output_headers_buf(buf, csv.get(), nullptr);
	M_csv_output_rows_buf(buf, csv.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "a,b\r\n1,2\r\n");
	M_list_str_destroy(list);
}

TEST(m_csv, output_quoting_rules)
{
	const struct {
		const char *cell;
		const char *written;
	} cases[] = {
	    {"plain", "plain"},     {"trail ", "\"trail \""},     {"\tlead", "\"\tlead\""},   {" ", "\" \""},
	    {"a\rb", "\"a\rb\""},   {"a\nb", "\"a\nb\""},         {"q\"", "\"q\"\"\""},       {"\"", "\"\"\"\""},
	    {"in side", "in side"}, {"semi;colon", "semi;colon"}, {"back`tick", "back`tick"},
	};
	for (const auto &c : cases) {
		auto csv = parse("h\nx\n");
		ASSERT_NE(csv, nullptr);
		M_csv_output_set_control_chars(csv.get(), ',', '"');
		M_buf_t *buf = M_buf_create();
		M_csv_output_rows_buf(
		    buf, csv.get(), nullptr, nullptr, nullptr,
		    [](M_buf_t *scratch, const char *, const char *, void *thunk) -> M_bool {
			    M_buf_add_str(scratch, static_cast<const char *>(thunk));
			    return M_TRUE;
		    },
		    const_cast<char *>(c.cell));
		EXPECT_EQ(take(buf), std::string(c.written) + "\r\n") << c.cell;
	}
}

TEST(m_csv, output_uses_the_tables_control_characters)
{
	/* Parsed with ";" and the backtick, written with "|" and "'". */
	auto csv = parse("a;b b;;`c;d`\n1;`x|y`;`it's`;`q```\n", ';', '`');
	ASSERT_NE(csv, nullptr);
	M_csv_output_set_control_chars(csv.get(), '|', '\'');
	M_buf_t *buf = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), nullptr);
	M_csv_output_rows_buf(buf, csv.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "a|b b||c;d\r\n1|'x|y'|'it''s'|q`\r\n");

	/* The named header row quotes names by the same rule. */
	M_list_str_t *cols = make_list({"x|y", "plain", ""});
	buf                = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), cols);
	EXPECT_EQ(take(buf), "'x|y'|plain|\r\n");
	M_list_str_destroy(cols);
}

TEST(m_csv, writer_and_filter_see_rows_names_and_an_empty_scratch_buffer)
{
	/* Column 1 has no name. */
	auto csv = parse("a,,c\n1,2,3\n4,5,6\n7,8,9\n");
	ASSERT_NE(csv, nullptr);
	struct seen_t {
		std::vector<size_t>      rows;
		std::vector<std::string> names;
		bool                     scratch_dirty = false;
		M_buf_t                 *scratch       = nullptr;
		bool                     one_scratch   = true;
	} seen;
	M_buf_t *buf = M_buf_create();
	M_csv_output_rows_buf(
	    buf, csv.get(), nullptr,
	    [](const M_csv_t *, size_t row, void *thunk) -> M_bool {
		    static_cast<seen_t *>(thunk)->rows.push_back(row);
		    return row != 1;
	    },
	    &seen,
	    [](M_buf_t *scratch, const char *cell, const char *header, void *thunk) -> M_bool {
		    auto *s = static_cast<seen_t *>(thunk);
		    if (M_buf_len(scratch) != 0)
			    s->scratch_dirty = true;
		    if (s->scratch != nullptr && s->scratch != scratch)
			    s->one_scratch = false;
		    s->scratch = scratch;
		    s->names.push_back(header == nullptr ? "<absent>" : header);
		    M_buf_add_str(scratch, "left behind");
		    return M_str_eq(cell, "3") ? M_TRUE : M_FALSE;
	    },
	    &seen);
	EXPECT_EQ(take(buf), "1,2,left behind\r\n7,8,9\r\n");
	EXPECT_EQ(seen.rows, (std::vector<size_t>{0, 1, 2}));
	EXPECT_EQ(seen.names, (std::vector<std::string>{"a", "<absent>", "c", "a", "<absent>", "c"}));
	EXPECT_FALSE(seen.scratch_dirty);
	EXPECT_TRUE(seen.one_scratch);
}
