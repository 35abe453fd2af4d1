/* CSV parsing with both quote characters the program meets (the double quote
 * of its output and the backtick of the export), then CSV output of the
 * parsed table, then parsing that output again: every cell must survive the
 * round trip. Output writes an empty cell as nothing, so a present but empty
 * cell comes back absent. */

#include "formats/m_csv.h"
#include "fuzz_common.h"

namespace {

bool same_cell(const char *a, const char *b)
{
	if (a == nullptr || *a == '\0')
		return b == nullptr;
	return b != nullptr && std::strcmp(a, b) == 0;
}

void round_trip(const char *text, size_t len, char quote, uint32_t flags)
{
	M_csv_t *csv = M_csv_parse(text, len, ',', quote, flags);
	if (csv == nullptr)
		return;
	const size_t rows = M_csv_raw_num_rows(csv);
	const size_t cols = M_csv_raw_num_cols(csv);

	M_buf_t *out = M_buf_create();
	M_csv_output_headers_buf(out, csv, nullptr);
	M_csv_output_rows_buf(out, csv, nullptr, nullptr, nullptr, nullptr, nullptr);

	/* Reparse without trimming: output quotes every cell that starts or ends
	 * with white space, and trimming leaves quoted cells alone. */
	M_csv_t *again = M_csv_parse(M_buf_peek(out), M_buf_len(out), ',', quote, flags);
	FUZZ_CHECK(again != nullptr);
	FUZZ_CHECK(M_csv_raw_num_cols(again) == cols);
	/* A table whose data rows were all dropped still writes its header row. */
	FUZZ_CHECK(M_csv_raw_num_rows(again) == rows);
	for (size_t r = 0; r < rows; r++) {
		for (size_t c = 0; c < cols; c++) {
			FUZZ_CHECK(same_cell(M_csv_raw_cell(csv, r, c), M_csv_raw_cell(again, r, c)));
		}
	}
	/* Out-of-range access is refused, not read. */
	FUZZ_CHECK(M_csv_raw_cell(csv, rows, 0) == nullptr);
	FUZZ_CHECK(M_csv_raw_cell(csv, 0, cols) == nullptr);
	FUZZ_CHECK(M_csv_get_cellbynum(csv, rows, 0) == nullptr);
	for (size_t c = 0; c < cols && c < 4; c++) {
		const char *h = M_csv_get_header(csv, c);
		/* Empty names are not indexed. */
		if (h != nullptr && h[0] != '\0') {
			const size_t num = M_csv_get_cell_num(csv, h);
			FUZZ_CHECK(num != static_cast<size_t>(-1) && num < cols);
			if (rows > 1)
				(void)M_csv_get_cell(csv, 0, h);
		}
	}

	M_csv_destroy(again);
	M_buf_cancel(out);
	M_csv_destroy(csv);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* Exact-size copy: the parser must not read past len. */
	fuzz_copy<char> in(data, size);
	for (char quote : {'"', '`'}) {
		round_trip(in.get(), size, quote, M_CSV_FLAG_NONE);
		round_trip(in.get(), size, quote, M_CSV_FLAG_TRIM_WHITESPACE);
	}
	return 0;
}
