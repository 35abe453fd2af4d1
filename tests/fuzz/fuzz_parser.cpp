/* The parser's readers on arbitrary bytes, the integer conversions' _ex forms
 * and the decimal reader.
 *
 * Input layout: byte 0 gives the number of script bytes that follow (0-31);
 * the rest is the data. Each script byte picks one parser operation (low 6
 * bits) and a small argument (high 2 bits); patterns and sets are cut from the
 * data itself so that they match now and then. The data is read by a
 * constant parser and, in pieces, by a dynamic one, so the buffer moves,
 * marks and the wipe rule are all exercised. */
#include <algorithm>

#include "core/m_chr.h"
#include "core/m_parser.h"
#include "core/m_str_num.h"
#include "core/m_decimal.h"
#include "fuzz_common.h"

namespace {

M_bool is_digit(unsigned char c)
{
	return c >= '0' && c <= '9';
}

void check_end(const char *s, size_t len, const char *end)
{
	FUZZ_CHECK(end >= s && end <= s + len);
}

void int_conversions(const unsigned char *data, size_t size)
{
	if (size == 0)
		return;
	/* Exact-size copy: the conversions must stop at len. */
	fuzz_copy<char> copy(data, size);
	const char     *s   = copy.get();
	const char     *end = nullptr;
	for (unsigned char base : {0, 2, 8, 10, 16, 36, 1, 37}) {
		uint64_t u64 = 0;
		int64_t  i64 = 0;
		uint32_t u32 = 0;
		int32_t  i32 = 0;
		if (M_str_to_uint64_ex(s, size, base, &u64, &end) == M_STR_INT_INVALID)
			FUZZ_CHECK(u64 == 0);
		check_end(s, size, end);
		M_str_to_int64_ex(s, size, base, &i64, &end);
		check_end(s, size, end);
		M_str_to_uint32_ex(s, size, base, &u32, &end);
		check_end(s, size, end);
		M_str_to_int32_ex(s, size, base, &i32, &end);
		check_end(s, size, end);
	}
	fuzz_copy<char> cstr(data, size, true);
	M_str_to_uint64(cstr.get());
	M_str_to_int64(cstr.get());
	M_str_to_uint32(cstr.get());
	M_str_to_int32(cstr.get());
	M_atofi_prec(cstr.get(), size % 20);
	M_atofi100(cstr.get());
	M_decimal_t              dec;
	const M_decimal_retval_t r = M_decimal_from_str(s, size, &dec, &end);
	check_end(s, size, end);
	if (r == M_DECIMAL_SUCCESS || r == M_DECIMAL_TRUNCATION) {
		/* The text of a value reads back as the same value. */
		char        buf[300];
		M_decimal_t back;
		FUZZ_CHECK(M_decimal_to_str(&dec, buf, sizeof(buf)) == M_DECIMAL_SUCCESS);
		FUZZ_CHECK(M_decimal_from_str(buf, M_str_len(buf), &back, nullptr) == M_DECIMAL_SUCCESS);
		FUZZ_CHECK(M_decimal_cmp(&dec, &back) == 0);
	}
}

/* One operation's state: the parser, a piece of the data as pattern (bytes
 * and string), the argument, and places for results. */
struct op_ctx {
	M_parser_t          *p;
	const unsigned char *pat;
	size_t               plen;
	const char          *cpat;
	size_t               arg, n, before;
	unsigned char        buf[16]  = {};
	char                 sbuf[16] = {};
	uint64_t             u        = 0;
	int64_t              i        = 0;
	unsigned char        b        = 0;
	M_bool               found    = M_FALSE;
	size_t               num      = 0;
};

using op_fn = void (*)(op_ctx &);

/* Indexed by the low 6 bits of a script byte. */
const op_fn kOps[] = {
    [](op_ctx &c) {
	    (void)M_parser_read_uint(c.p, M_PARSER_INTEGER_ASCII, c.arg ? c.n : 0, static_cast<unsigned char>(c.arg * 8),
	                             &c.u);
    },
    [](op_ctx &c) { (void)M_parser_read_int(c.p, M_PARSER_INTEGER_ASCII, c.arg ? c.n : 0, 0, &c.i); },
    [](op_ctx &c) { (void)M_parser_read_uint(c.p, M_PARSER_INTEGER_BIGENDIAN, c.n + 1, 0, &c.u); },
    [](op_ctx &c) { (void)M_parser_read_int(c.p, M_PARSER_INTEGER_LITTLEENDIAN, c.n + 2, 0, &c.i); },
    [](op_ctx &c) { (void)M_parser_read_uint_bcd(c.p, c.n, &c.u); },
    [](op_ctx &c) { M_parser_consume_whitespace(c.p, static_cast<uint32_t>(c.arg)); },
    [](op_ctx &c) { M_parser_consume_until(c.p, c.pat, c.plen, c.arg & 1); },
    [](op_ctx &c) { M_parser_consume_boundary(c.p, c.pat, c.plen, c.arg & 1, &c.found); },
    [](op_ctx &c) { M_parser_consume_charset(c.p, c.pat, c.plen); },
    [](op_ctx &c) { M_parser_consume_not_charset(c.p, c.pat, c.plen); },
    [](op_ctx &c) { M_parser_consume_predicate_max(c.p, is_digit, c.n); },
    [](op_ctx &c) { M_parser_consume_chr_predicate(c.p, M_chr_isalnum); },
    [](op_ctx &c) { M_parser_consume_str_until(c.p, c.cpat, c.arg & 1); },
    [](op_ctx &c) { M_parser_consume_eol(c.p); },
    [](op_ctx &c) { M_parser_read_bytes_max(c.p, c.n, c.buf, sizeof(c.buf)); },
    [](op_ctx &c) { M_parser_read_bytes_until(c.p, c.buf, sizeof(c.buf), c.pat, c.plen, c.arg & 1); },
    [](op_ctx &c) { M_parser_read_bytes_boundary(c.p, c.buf, c.arg * 5, c.pat, c.plen, c.arg & 1, &c.found); },
    [](op_ctx &c) { M_parser_read_bytes_charset(c.p, c.pat, c.plen, c.buf, c.n); },
    [](op_ctx &c) { M_parser_read_str_max(c.p, c.n, c.sbuf, sizeof(c.sbuf)); },
    [](op_ctx &c) { M_parser_read_str_until(c.p, c.sbuf, c.arg * 5, c.cpat, c.arg & 1); },
    [](op_ctx &c) { M_parser_read_str_boundary(c.p, c.sbuf, sizeof(c.sbuf), c.cpat, c.arg & 1, &c.found); },
    [](op_ctx &c) { M_parser_read_str_charset(c.p, c.cpat, c.sbuf, c.arg * 5); },
    [](op_ctx &c) { M_parser_read_str_chr_predicate(c.p, M_chr_isdigit, c.sbuf, sizeof(c.sbuf)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup(c.p, c.n)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_hex(c.p, c.n)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_until(c.p, c.cpat, c.arg & 1)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_boundary(c.p, c.cpat, c.arg & 1, &c.found)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_charset(c.p, c.cpat)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_predicate_max(c.p, is_digit, c.n)); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_mark(c.p)); },
    [](op_ctx &c) { M_parser_destroy(M_parser_read_parser(c.p, c.n)); },
    [](op_ctx &c) { M_parser_destroy(M_parser_read_parser_until(c.p, c.pat, c.plen, c.arg & 1)); },
    [](op_ctx &c) { M_parser_destroy(M_parser_read_parser_boundary(c.p, c.pat, c.plen, c.arg & 1, &c.found)); },
    [](op_ctx &c) { M_parser_destroy(M_parser_read_parser_chr_predicate_max(c.p, M_chr_isspace, c.n)); },
    [](op_ctx &c) { M_parser_destroy(M_parser_read_parser_mark(c.p)); },
    [](op_ctx &c) {
	    M_buf_t *mb = M_buf_create();
	    M_parser_read_buf_hex(c.p, mb, c.n);
	    M_parser_read_buf_until(c.p, mb, c.pat, c.plen, c.arg & 1);
	    M_parser_read_buf_boundary(c.p, mb, c.pat, c.plen, c.arg & 1, &c.found);
	    M_parser_read_buf_not_charset(c.p, mb, c.pat, c.plen);
	    M_parser_read_buf_mark(c.p, mb);
	    M_buf_cancel(mb);
    },
    [](op_ctx &c) { M_parser_mark(c.p); },
    [](op_ctx &c) { M_parser_mark_clear(c.p); },
    [](op_ctx &c) { M_parser_mark_rewind(c.p); },
    [](op_ctx &c) { M_parser_reset(c.p); },
    [](op_ctx &c) { M_parser_read_bytes_mark(c.p, c.buf, c.arg * 5); },
    [](op_ctx &c) { M_parser_truncate(c.p, c.before > c.n ? c.before - c.n : 0); },
    [](op_ctx &c) { M_parser_truncate_whitespace(c.p, static_cast<uint32_t>(c.arg)); },
    [](op_ctx &c) { M_parser_truncate_charset(c.p, c.pat, c.plen); },
    [](op_ctx &c) { M_parser_truncate_until(c.p, c.pat, c.plen, c.arg & 1); },
    [](op_ctx &c) { M_parser_truncate_str_until(c.p, c.cpat, c.arg & 1); },
    [](op_ctx &c) { M_parser_truncate_predicate_max(c.p, is_digit, c.n); },
    /* The split's result is taken before its count is read: the order in
     * which one call's arguments are evaluated is unspecified. */
    [](op_ctx &c) {
	    M_parser_t **parts = M_parser_split(c.p, c.plen ? c.pat[0] : ',', c.arg, 0, &c.num);
	    M_parser_split_free(parts, c.num);
    },
    [](op_ctx &c) {
	    const uint32_t flags = M_PARSER_SPLIT_FLAG_NODELIM_FAIL;
	    M_parser_t   **parts = M_parser_split_pat(c.p, c.pat, c.plen, c.arg, flags, &c.num);
	    M_parser_split_free(parts, c.num);
    },
    [](op_ctx &c) {
	    M_parser_t *msg = nullptr;
	    M_parser_read_stxetxlrc_message(c.p, &msg, static_cast<uint32_t>(c.arg));
	    M_parser_destroy(msg);
    },
    [](op_ctx &c) {
	    M_parser_is_charset(c.p, c.n, c.pat, c.plen);
	    M_parser_is_not_str_charset(c.p, c.n, c.cpat);
    },
    [](op_ctx &c) {
	    M_parser_compare(c.p, c.pat, c.plen);
	    M_parser_compare_str(c.p, c.cpat, c.n, c.arg & 1);
    },
    [](op_ctx &c) {
	    M_parser_peek_bytes(c.p, c.n, c.buf);
	    M_parser_peek_byte(c.p, &c.b);
    },
    [](op_ctx &c) { (void)M_parser_read_byte(c.p, &c.b); },
    [](op_ctx &c) { (void)M_parser_read_bytes(c.p, c.n, c.buf); },
    [](op_ctx &c) { (void)M_parser_read_str(c.p, c.n, c.sbuf, sizeof(c.sbuf)); },
    [](op_ctx &c) { M_parser_consume(c.p, c.n); },
    [](op_ctx &c) { M_parser_consume_str_boundary(c.p, c.cpat, c.arg & 1, &c.found); },
    [](op_ctx &c) { M_parser_consume_str_charset(c.p, c.cpat); },
    [](op_ctx &c) { M_free(M_parser_read_strdup_chr_predicate_max(c.p, M_chr_ishex, c.n)); },
    [](op_ctx &c) { M_parser_destroy(M_parser_read_parser_charset(c.p, c.pat, c.plen)); },
    [](op_ctx &c) { M_parser_truncate_chr_predicate(c.p, M_chr_isspace); },
    [](op_ctx &c) { M_parser_read_bytes_predicate(c.p, is_digit, c.buf, c.arg * 5); },
    [](op_ctx &c) {
	    /* Direct write on a dynamic parser; a constant one refuses. */
	    size_t         room = c.n;
	    unsigned char *w    = M_parser_direct_write_start(c.p, &room);
	    if (w != nullptr) {
		    const size_t k = room < c.plen ? room : c.plen;
		    if (k > 0)
			    std::memcpy(w, c.pat, k);
		    M_parser_direct_write_end(c.p, k);
	    }
    },
};
static_assert(sizeof(kOps) / sizeof(kOps[0]) == 64, "one operation for each of the 64 script values");

/* Touches the last byte of a view, so a view past the data is caught. */
void touch(const unsigned char *view, size_t len)
{
	if (len > 0) {
		FUZZ_CHECK(view != nullptr);
		volatile unsigned char last = view[len - 1];
		(void)last;
	}
}

void step(M_parser_t *p, unsigned char op, const unsigned char *pat, size_t plen)
{
	std::vector<char> cpat(plen + 1, '\0');
	std::copy_n(pat, plen, cpat.begin());
	const size_t arg = op >> 6;
	op_ctx       c{p, pat, plen, cpat.data(), arg, arg * 3 + 1, M_parser_len(p)};
	kOps[op & 63](c);
	/* Whatever happened, the unread count and the views stay consistent. */
	touch(M_parser_peek(p), M_parser_len(p));
	M_parser_current_offset(p);
	M_parser_current_line(p);
	M_parser_current_column(p);
	size_t               ml = 0;
	const unsigned char *mv = M_parser_peek_mark(p, &ml);
	touch(mv, mv != nullptr ? ml : 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	const size_t             nops = (data[0] & 31u) < size - 1 ? data[0] & 31u : size - 1;
	const unsigned char     *ops  = data + 1;
	const size_t             blen = size - 1 - nops;
	fuzz_copy<unsigned char> copy(data + 1 + nops, blen);
	const unsigned char     *bp = copy.get();
	int_conversions(data + 1 + nops, blen);

	/* A pattern: cut from the data at a place picked by the op byte. */
	auto run = [&](M_parser_t *p, unsigned char op) {
		const size_t at = blen == 0 ? 0 : (op * 7u) % blen;
		step(p, op, blen == 0 ? nullptr : bp + at, std::min<size_t>(1 + (op >> 6), blen - at));
	};

	/* A constant parser over the caller's bytes. */
	M_parser_t *p = M_parser_create_const(bp, blen, (data[0] & 32) ? M_PARSER_FLAG_TRACKLINES : 0);
	if (p != nullptr) {
		for (size_t k = 0; k < nops; k++)
			run(p, ops[k]);
		M_parser_destroy(p);
	}

	/* A dynamic parser fed in pieces between the operations. */
	p          = M_parser_create((data[0] & 64) ? M_PARSER_FLAG_TRACKLINES : 0);
	size_t fed = 0;
	for (size_t k = 0; (k < nops || fed < blen) && k <= nops + 3; k++) {
		const size_t chunk = 1 + (k < nops ? ops[k] % 13 : blen);
		const size_t take  = chunk < blen - fed ? chunk : blen - fed;
		if (take > 0) {
			FUZZ_CHECK(M_parser_append(p, bp + fed, take));
			fed += take;
		}
		if (k < nops)
			run(p, ops[k]);
	}
	M_parser_destroy(p);
	return 0;
}
