/* The CSV reader and writer: tables of exact cells and written text, the
 * writer's options, and a round trip of random tables through both. */
#include "tests/test_util.h"

#include "containers/m_list_str.h"
#include "formats/m_csv.h"

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

/* Every raw cell, header row included: [text] or - when absent; rows end
 * with "/". "<null>" when the parse failed. */
std::string dump(const M_csv_t *csv)
{
	if (csv == nullptr)
		return "<null>";
	std::string out;
	for (size_t r = 0; r < M_csv_raw_num_rows(csv); r++) {
		for (size_t c = 0; c < M_csv_raw_num_cols(csv); c++) {
			const char *cell = M_csv_raw_cell(csv, r, c);
			if (cell == nullptr)
				out += "-";
			else
				out.append("[").append(cell).append("]");
		}
		out += "/";
	}
	return out;
}

using test_util::take;

M_list_str_t *make_list(const std::vector<const char *> &names)
{
	M_list_str_t *l = M_list_str_create(M_LIST_STR_NONE);
	for (const char *n : names)
		M_list_str_insert(l, n);
	return l;
}

} // namespace

TEST(m_csv, reader_table)
{
	/* Line ends LF or CRLF, the last optional; a blank line between rows is a
	 * row of absent cells; extra cells are dropped, missing ones absent; a CR
	 * outside quotes ends the cell; an unbalanced quote runs to the end; text
	 * outside quotes stays part of the cell; an unquoted empty cell is absent,
	 * a quoted one empty; trimming leaves quoted text alone. (Quoted
	 * delimiters, line ends and quotes: the round trip below.) */
	const struct {
		std::string in;
		const char *cells;
		uint32_t    flags = 0;
	} cases[] = {{"a,b,c\r\n1,2,3\r\n", "[a][b][c]/[1][2][3]/"},
	             {"a,b\n1,2", "[a][b]/[1][2]/"},
	             {"a,b\n1,2\n\r", "[a][b]/[1][2]/"},
	             {"a,b\n1,2\n\n3,4\n", "[a][b]/[1][2]/--/[3][4]/"},
	             {"x,y", "[x][y]/"},
	             {"a,b\n1,2,3,4\n5\n", "[a][b]/[1][2]/[5]-/"},
	             {"a,b\nab\rcd,2\n", "[a][b]/[ab][2]/"},
	             {"a,b\n\"x,y\n1,2\n", "[a][b]/[x,y\n1,2\n]-/"},
	             {"a,b\n \"x\",a\"b,c\"d\n", "[a][b]/[ x][ab,cd]/"},
	             {"a,\"\",,b\n1,2,3,4\n", "[a][]-[b]/[1][2][3][4]/"},
	             {"\n", "-/"},
	             {"\r\n", "-/"},
	             {",,\n,,\n", "---/---/"},
	             {"a\n  x  \n", "[a]/[  x  ]/"},
	             {"a,b\n  x  ,\" y \"\n", "[a][b]/[x][ y ]/", M_CSV_FLAG_TRIM_WHITESPACE},
	             {"a,b,c\n \t ,\"  \",` `\n", "[a][b][c]/-[  ][` `]/", M_CSV_FLAG_TRIM_WHITESPACE},
	             {"\r", "<null>"},
	             {"", "<null>"}};
	for (const auto &c : cases)
		EXPECT_EQ(dump(parse(c.in, ',', '"', c.flags).get()), c.cells) << c.in;
	EXPECT_EQ(M_csv_parse(nullptr, 5, ',', '"', 0), nullptr);
}

TEST(m_csv, lookups)
{
	/* Header names match case-insensitively; a later duplicate wins; unnamed
	 * columns are not indexed; data rows and columns exclude the header. */
	auto csv = parse("a,b,User,,d,user\n0,1,2,3,4,5\n6\n");
	EXPECT_EQ(M_csv_get_numrows(csv.get()), 2u);
	EXPECT_EQ(M_csv_get_numcols(csv.get()), 6u);
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 0, "B"), "1");
	EXPECT_STREQ(M_csv_get_cell(csv.get(), 0, "user"), "5");
	EXPECT_EQ(M_csv_get_cell(csv.get(), 1, "user"), nullptr);
	EXPECT_EQ(M_csv_get_cell_num(csv.get(), ""), static_cast<size_t>(-1));
	EXPECT_EQ(M_csv_get_cell_num(csv.get(), "nope"), static_cast<size_t>(-1));
	EXPECT_STREQ(M_csv_get_cellbynum(csv.get(), 1, 0), "6");
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 2, 0), nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), 0, 6), nullptr);
	EXPECT_EQ(M_csv_get_cellbynum(csv.get(), static_cast<size_t>(-1), 0), nullptr);
	EXPECT_STREQ(M_csv_get_header(csv.get(), 2), "User");
	EXPECT_EQ(M_csv_get_header(csv.get(), 3), nullptr);
	EXPECT_EQ(M_csv_get_header(csv.get(), 6), nullptr);
	EXPECT_EQ(M_csv_get_cell(csv.get(), 0, nullptr), nullptr);
	/* In place: the table takes the text (the sanitizer build checks it is
	 * freed once); an empty text is no table and stays the caller's. */
	char    *text  = static_cast<char *>(M_memdup("h\nv\n", 5));
	M_csv_t *owned = M_csv_parse_inplace(text, 4, ',', '"', 0);
	EXPECT_STREQ(M_csv_get_cell(owned, 0, "h"), "v");
	M_csv_destroy(owned);
	char empty[] = "x";
	EXPECT_EQ(M_csv_parse_inplace(empty, 0, ',', '"', 0), nullptr);
}

TEST(m_csv, writer_quoting_and_control_characters)
{
	/* A cell is quoted when it holds the quote, a line end, or white space at
	 * either end; quotes inside are doubled. Other delimiters pass. */
	const struct {
		const char *cell, *written;
	} cases[] = {{"plain", "plain"},   {"trail ", "\"trail \""},     {"\tlead", "\"\tlead\""},
	             {" ", "\" \""},       {"a\rb", "\"a\rb\""},         {"a\nb", "\"a\nb\""},
	             {"q\"", "\"q\"\"\""}, {"semi;colon", "semi;colon"}, {"a,b", "\"a,b\""}};
	auto one  = parse("h\nx\n");
	for (const auto &c : cases) {
		M_buf_t *buf = M_buf_create();
		M_csv_output_rows_buf(
		    buf, one.get(), nullptr, nullptr, nullptr,
		    [](M_buf_t *scratch, const char *, const char *, void *thunk) -> M_bool {
			    M_buf_add_str(scratch, static_cast<const char *>(thunk));
			    return M_TRUE;
		    },
		    const_cast<char *>(c.cell));
		EXPECT_EQ(take(buf), std::string(c.written) + "\r\n") << c.cell;
	}

	/* Parsed with ";" and the backtick, written with "|" and "'" (and the
	 * named header row by the same rule); an absent last cell leaves the row
	 * ending with a delimiter; a header-only table writes no rows. */
	auto csv = parse("a;b b;;`c;d`\n1;`x|y`;`it's`;`q```\n;;;\n", ';', '`');
	M_csv_output_set_control_chars(csv.get(), '|', '\'');
	M_buf_t *buf = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), nullptr);
	M_csv_output_rows_buf(buf, csv.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "a|b b||c;d\r\n1|'x|y'|'it''s'|q`\r\n|||\r\n");
	M_list_str_t *cols = make_list({"x|y", "plain", ""});
	buf                = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), cols);
	M_csv_output_rows_buf(buf, parse("a,b\n").get(), nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "'x|y'|plain|\r\n");
	M_list_str_destroy(cols);
}

TEST(m_csv, writer_columns_filter_and_cell_writer)
{
	/* A column list picks columns by name (a missing one writes empty); the
	 * filter drops rows; the writer fills a fresh scratch buffer every cell
	 * or declines (what it left behind is dropped). */
	auto csv      = parse("user,token\nalice,1\nbob,2\ncarol,3\n");
	auto drop_bob = [](const M_csv_t *t, size_t row, void *) -> M_bool {
		return !M_str_eq(M_csv_get_cell(t, row, "user"), "bob");
	};
	auto writer = [](M_buf_t *scratch, const char *cell, const char *header, void *thunk) -> M_bool {
		*static_cast<bool *>(thunk) |= M_buf_len(scratch) != 0;
		M_buf_add_str(scratch, "t");
		M_buf_add_str(scratch, cell);
		return M_str_eq(header, "TOKEN");
	};
	bool          dirty = false;
	M_list_str_t *cols  = make_list({"TOKEN", "missing", "user"});
	M_buf_t      *buf   = M_buf_create();
	M_csv_output_headers_buf(buf, csv.get(), cols);
	M_csv_output_rows_buf(buf, csv.get(), cols, drop_bob, nullptr, writer, &dirty);
	EXPECT_EQ(take(buf), "TOKEN,missing,user\r\nt1,,alice\r\nt3,,carol\r\n");
	EXPECT_FALSE(dirty) << "a scratch buffer was handed over with text in it";
	/* Straight into the output: what a declining writer appended goes. */
	buf = M_buf_create();
	M_buf_add_str(buf, "before\r\n");
	M_csv_output_rows_buf_direct(buf, csv.get(), cols, drop_bob, nullptr, writer, &dirty);
	EXPECT_EQ(take(buf), "before\r\nt1,,alice\r\nt3,,carol\r\n");
	buf = M_buf_create();
	M_csv_output_headers_buf(buf, nullptr, cols);
	M_csv_output_rows_buf(buf, nullptr, cols, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(take(buf), "") << "without a table nothing is written";
	M_list_str_destroy(cols);
}

/* Writing random tables (cells from a writer into a scratch buffer or
 * straight into the output) and parsing the output back gives the same
 * cells; an empty cell comes back absent. The header names come in through
 * parse_add_headers, which parses against given names (as
 * M_csv_parse_borrow, which reads continuation blocks, does in place). */
TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")
TEST(m_csv, round_trip_random_tables)
{
	std::mt19937                       rng(12345);
	const char                         alphabet[] = {'a', 'b', ',', ';', '"', '`', '\r', '\n', ' ', '\t', '1', 'Z'};
	std::uniform_int_distribution<int> pick(0, sizeof(alphabet) - 1);
	const std::pair<char, char>        controls[] = {{',', '"'}, {',', '`'}, {';', '"'}};
	for (int iter = 0; iter < 10000; iter++) {
		const auto [delim, quote]                  = controls[iter % 3];
		const size_t                          rows = 2 + rng() % 40, cols = 1 + rng() % 4;
		std::vector<std::vector<std::string>> cells(rows, std::vector<std::string>(cols));
		for (auto &row : cells)
			for (auto &cell : row)
				for (size_t len = rng() % 5; len > 0; len--)
					cell.push_back(alphabet[pick(rng)]);
		cells[0][0] = "h" + cells[0][0]; /* so the first line is not blank */
		/* The header names through parse_add_headers, the data rows through
		 * a cell writer. */
		M_list_str_t *hdr = M_list_str_create(M_LIST_STR_NONE);
		for (auto &h : cells[0])
			M_list_str_insert(hdr, h.c_str());
		std::string data_rows;
		for (size_t r = 1; r < rows; r++)
			data_rows += std::string(cols - 1, delim) + "x\n";
		auto src = CsvPtr(M_csv_parse_add_headers(data_rows.data(), data_rows.size(), delim, quote, 0, hdr));
		M_list_str_destroy(hdr);
		ASSERT_NE(src, nullptr);
		struct ctx_t {
			std::vector<std::vector<std::string>> *cells;
			size_t                                 cols, n;
		} ctx{&cells, cols, 0};
		auto writer = [](M_buf_t *scratch, const char *, const char *, void *thunk) -> M_bool {
			auto              *c    = static_cast<ctx_t *>(thunk);
			const std::string &cell = (*c->cells)[1 + c->n / c->cols][c->n % c->cols];
			c->n++;
			M_buf_add_bytes(scratch, cell.data(), cell.size());
			return M_TRUE;
		};
		M_buf_t *out = M_buf_create();
		M_csv_output_headers_buf(out, src.get(), nullptr);
		(iter % 2 ? M_csv_output_rows_buf : M_csv_output_rows_buf_direct)(out, src.get(), nullptr, nullptr, nullptr,
		                                                                  writer, &ctx);
		const std::string text = take(out);
		auto              back = parse(text, delim, quote);
		ASSERT_NE(back, nullptr);
		ASSERT_EQ(M_csv_raw_num_rows(back.get()), rows) << text;
		for (size_t r = 0; r < rows; r++)
			for (size_t c = 0; c < cols; c++) {
				const char *got = M_csv_raw_cell(back.get(), r, c);
				ASSERT_EQ(got == nullptr ? "<absent>" : got, cells[r][c].empty() ? "<absent>" : cells[r][c])
				    << "iter " << iter << " text " << text;
			}
	}
}
TEST_GCC12_FALSE_POSITIVE_END()
