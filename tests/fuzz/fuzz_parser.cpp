/* The parser's readers on arbitrary bytes, the integer conversions' _ex forms
 * and the decimal reader.
 *
 * Input layout: byte 0 gives the number of script bytes that follow (0-31);
 * the rest is the data. Each script byte picks one parser operation (low 6
 * bits) and a small argument (high 2 bits); patterns and sets are cut from the
 * data itself so that they match now and then. The data is read by a
 * constant parser and, in pieces, by a dynamic one, so the buffer moves,
 * marks and the wipe rule are all exercised. */
#include <cstdint>

#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_parser.h"
#include "core/m_str.h"
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
	/* Exact-size copy: the conversions must stop at len. */
	std::vector<char> copy(data, data + size);
	const char       *s = size == 0 ? "" : copy.data();
	for (unsigned char base : {0, 2, 8, 10, 16, 36, 1, 37}) {
		const char *end = nullptr;
		uint64_t    u64 = 0;
		int64_t     i64 = 0;
		uint32_t    u32 = 0;
		int32_t     i32 = 0;
		if (size == 0)
			continue;
		const M_str_int_retval_t r = M_str_to_uint64_ex(s, size, base, &u64, &end);
		check_end(s, size, end);
		if (r == M_STR_INT_INVALID)
			FUZZ_CHECK(u64 == 0);
		(void)M_str_to_int64_ex(s, size, base, &i64, &end);
		check_end(s, size, end);
		(void)M_str_to_uint32_ex(s, size, base, &u32, &end);
		check_end(s, size, end);
		(void)M_str_to_int32_ex(s, size, base, &i32, &end);
		check_end(s, size, end);
	}
	std::vector<char> cstr = fuzz_cstr(data, size);
	(void)M_str_to_uint64(cstr.data());
	(void)M_str_to_int64(cstr.data());
	(void)M_str_to_uint32(cstr.data());
	(void)M_str_to_int32(cstr.data());
	(void)M_atofi_prec(cstr.data(), size % 20);
	(void)M_atofi100(cstr.data());
	if (size > 0) {
		M_decimal_t              dec;
		const char              *end = nullptr;
		const M_decimal_retval_t r   = M_decimal_from_str(s, size, &dec, &end);
		check_end(s, size, end);
		if (r == M_DECIMAL_SUCCESS || r == M_DECIMAL_TRUNCATION) {
			char buf[300];
			FUZZ_CHECK(M_decimal_to_str(&dec, buf, sizeof(buf)) == M_DECIMAL_SUCCESS);
			/* The text of a value reads back as the same value. */
			M_decimal_t back;
			FUZZ_CHECK(M_decimal_from_str(buf, M_str_len(buf), &back, nullptr) == M_DECIMAL_SUCCESS);
			FUZZ_CHECK(M_decimal_cmp(&dec, &back) == 0);
		}
	}
}

/* One operation on parser p; pat is a piece of the data. */
void step(M_parser_t *p, unsigned char op, const unsigned char *pat, size_t patlen)
{
	const size_t      arg = op >> 6;
	const size_t      n   = arg * 3 + 1;
	unsigned char     buf[16];
	char              sbuf[16];
	uint64_t          u     = 0;
	int64_t           i     = 0;
	unsigned char     b     = 0;
	M_bool            found = M_FALSE;
	std::vector<char> cpat(reinterpret_cast<const char *>(pat), reinterpret_cast<const char *>(pat) + patlen);
	cpat.push_back('\0');
	const size_t before = M_parser_len(p);

	switch (op & 63) {
		case 0:
			(void)M_parser_read_uint(p, M_PARSER_INTEGER_ASCII, arg == 0 ? 0 : n, static_cast<unsigned char>(arg * 8),
			                         &u);
			break;
		case 1:
			(void)M_parser_read_int(p, M_PARSER_INTEGER_ASCII, arg == 0 ? 0 : n, 0, &i);
			break;
		case 2:
			(void)M_parser_read_uint(p, M_PARSER_INTEGER_BIGENDIAN, n + 1, 0, &u);
			break;
		case 3:
			(void)M_parser_read_int(p, M_PARSER_INTEGER_LITTLEENDIAN, n + 2, 0, &i);
			break;
		case 4:
			(void)M_parser_read_uint_bcd(p, n, &u);
			break;
		case 5:
			(void)M_parser_consume_whitespace(p, static_cast<uint32_t>(arg));
			break;
		case 6:
			(void)M_parser_consume_until(p, pat, patlen, arg & 1);
			break;
		case 7:
			(void)M_parser_consume_boundary(p, pat, patlen, arg & 1, &found);
			break;
		case 8:
			(void)M_parser_consume_charset(p, pat, patlen);
			break;
		case 9:
			(void)M_parser_consume_not_charset(p, pat, patlen);
			break;
		case 10:
			(void)M_parser_consume_predicate_max(p, is_digit, n);
			break;
		case 11:
			(void)M_parser_consume_chr_predicate(p, M_chr_isalnum);
			break;
		case 12:
			(void)M_parser_consume_str_until(p, cpat.data(), arg & 1);
			break;
		case 13:
			(void)M_parser_consume_eol(p);
			break;
		case 14:
			(void)M_parser_read_bytes_max(p, n, buf, sizeof(buf));
			break;
		case 15:
			(void)M_parser_read_bytes_until(p, buf, sizeof(buf), pat, patlen, arg & 1);
			break;
		case 16:
			(void)M_parser_read_bytes_boundary(p, buf, arg * 5, pat, patlen, arg & 1, &found);
			break;
		case 17:
			(void)M_parser_read_bytes_charset(p, pat, patlen, buf, n);
			break;
		case 18:
			(void)M_parser_read_str_max(p, n, sbuf, sizeof(sbuf));
			break;
		case 19:
			(void)M_parser_read_str_until(p, sbuf, arg * 5, cpat.data(), arg & 1);
			break;
		case 20:
			(void)M_parser_read_str_boundary(p, sbuf, sizeof(sbuf), cpat.data(), arg & 1, &found);
			break;
		case 21:
			(void)M_parser_read_str_charset(p, cpat.data(), sbuf, arg * 5);
			break;
		case 22:
			(void)M_parser_read_str_chr_predicate(p, M_chr_isdigit, sbuf, sizeof(sbuf));
			break;
		case 23:
			M_free(M_parser_read_strdup(p, n));
			break;
		case 24:
			M_free(M_parser_read_strdup_hex(p, n));
			break;
		case 25:
			M_free(M_parser_read_strdup_until(p, cpat.data(), arg & 1));
			break;
		case 26:
			M_free(M_parser_read_strdup_boundary(p, cpat.data(), arg & 1, &found));
			break;
		case 27:
			M_free(M_parser_read_strdup_charset(p, cpat.data()));
			break;
		case 28:
			M_free(M_parser_read_strdup_predicate_max(p, is_digit, n));
			break;
		case 29:
			M_free(M_parser_read_strdup_mark(p));
			break;
		case 30:
			M_parser_destroy(M_parser_read_parser(p, n));
			break;
		case 31:
			M_parser_destroy(M_parser_read_parser_until(p, pat, patlen, arg & 1));
			break;
		case 32:
			M_parser_destroy(M_parser_read_parser_boundary(p, pat, patlen, arg & 1, &found));
			break;
		case 33:
			M_parser_destroy(M_parser_read_parser_chr_predicate_max(p, M_chr_isspace, n));
			break;
		case 34:
			M_parser_destroy(M_parser_read_parser_mark(p));
			break;
		case 35: {
			M_buf_t *mb = M_buf_create();
			(void)M_parser_read_buf_hex(p, mb, n);
			(void)M_parser_read_buf_until(p, mb, pat, patlen, arg & 1);
			(void)M_parser_read_buf_boundary(p, mb, pat, patlen, arg & 1, &found);
			(void)M_parser_read_buf_not_charset(p, mb, pat, patlen);
			(void)M_parser_read_buf_mark(p, mb);
			M_buf_cancel(mb);
			break;
		}
		case 36:
			M_parser_mark(p);
			break;
		case 37:
			M_parser_mark_clear(p);
			break;
		case 38:
			(void)M_parser_mark_rewind(p);
			break;
		case 39:
			(void)M_parser_reset(p);
			break;
		case 40: {
			size_t               l = 0;
			const unsigned char *m = M_parser_peek_mark(p, &l);
			if (m != nullptr && l > 0)
				b = m[l - 1];
			(void)M_parser_read_bytes_mark(p, buf, arg * 5);
			break;
		}
		case 41:
			(void)M_parser_truncate(p, before > n ? before - n : 0);
			break;
		case 42:
			(void)M_parser_truncate_whitespace(p, static_cast<uint32_t>(arg));
			break;
		case 43:
			(void)M_parser_truncate_charset(p, pat, patlen);
			break;
		case 44:
			(void)M_parser_truncate_until(p, pat, patlen, arg & 1);
			break;
		case 45:
			(void)M_parser_truncate_str_until(p, cpat.data(), arg & 1);
			break;
		case 46:
			(void)M_parser_truncate_predicate_max(p, is_digit, n);
			break;
		case 47: {
			size_t       num   = 0;
			M_parser_t **parts = M_parser_split(p, pat != nullptr && patlen > 0 ? pat[0] : ',', arg, 0, &num);
			M_parser_split_free(parts, num);
			break;
		}
		case 48: {
			size_t       num   = 0;
			M_parser_t **parts = M_parser_split_pat(p, pat, patlen, arg, M_PARSER_SPLIT_FLAG_NODELIM_FAIL, &num);
			M_parser_split_free(parts, num);
			break;
		}
		case 49: {
			M_parser_t *msg = nullptr;
			(void)M_parser_read_stxetxlrc_message(p, &msg, static_cast<uint32_t>(arg));
			M_parser_destroy(msg);
			break;
		}
		case 50:
			(void)M_parser_is_charset(p, n, pat, patlen);
			(void)M_parser_is_not_str_charset(p, n, cpat.data());
			break;
		case 51:
			(void)M_parser_compare(p, pat, patlen);
			(void)M_parser_compare_str(p, cpat.data(), n, arg & 1);
			break;
		case 52:
			(void)M_parser_peek_bytes(p, n, buf);
			(void)M_parser_peek_byte(p, &b);
			break;
		case 53:
			(void)M_parser_read_byte(p, &b);
			break;
		case 54:
			(void)M_parser_read_bytes(p, n, buf);
			break;
		case 55:
			(void)M_parser_read_str(p, n, sbuf, sizeof(sbuf));
			break;
		case 56:
			(void)M_parser_consume(p, n);
			break;
		case 57:
			(void)M_parser_consume_str_boundary(p, cpat.data(), arg & 1, &found);
			break;
		case 58:
			(void)M_parser_consume_str_charset(p, cpat.data());
			break;
		case 59:
			M_free(M_parser_read_strdup_chr_predicate_max(p, M_chr_ishex, n));
			break;
		case 60:
			M_parser_destroy(M_parser_read_parser_charset(p, pat, patlen));
			break;
		case 61:
			(void)M_parser_truncate_chr_predicate(p, M_chr_isspace);
			break;
		case 62:
			(void)M_parser_read_bytes_predicate(p, is_digit, buf, arg * 5);
			break;
		default: {
			/* Direct write on a dynamic parser; a constant one refuses. */
			size_t         room = n;
			unsigned char *w    = M_parser_direct_write_start(p, &room);
			if (w != nullptr) {
				const size_t k = room < patlen ? room : patlen;
				if (k > 0)
					std::memcpy(w, pat, k);
				M_parser_direct_write_end(p, k);
			}
			break;
		}
	}
	(void)b;
	(void)u;
	(void)i;
	/* Whatever happened, the unread count and the views stay consistent. */
	const size_t         after = M_parser_len(p);
	const unsigned char *view  = M_parser_peek(p);
	if (after > 0) {
		FUZZ_CHECK(view != nullptr);
		volatile unsigned char last = view[after - 1];
		(void)last;
	}
	(void)M_parser_current_offset(p);
	(void)M_parser_current_line(p);
	(void)M_parser_current_column(p);
	size_t               ml = 0;
	const unsigned char *mv = M_parser_peek_mark(p, &ml);
	if (mv != nullptr && ml > 0) {
		volatile unsigned char last = mv[ml - 1];
		(void)last;
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	size_t nops = data[0] & 31;
	if (nops > size - 1)
		nops = size - 1;
	const unsigned char       *ops  = data + 1;
	const unsigned char       *body = data + 1 + nops;
	const size_t               blen = size - 1 - nops;
	std::vector<unsigned char> copy(body, body + blen);
	const unsigned char       *bp = blen == 0 ? nullptr : copy.data();

	int_conversions(body, blen);

	/* Patterns: cut from the data at a place picked by the op byte. */
	auto pattern = [&](unsigned char op, size_t *plen) -> const unsigned char * {
		if (blen == 0) {
			*plen = 0;
			return nullptr;
		}
		const size_t at  = (op * 7u) % blen;
		size_t       len = 1 + (op >> 6);
		if (len > blen - at)
			len = blen - at;
		*plen = len;
		return bp + at;
	};

	/* A constant parser over the caller's bytes. */
	M_parser_t *p = M_parser_create_const(bp, blen, (data[0] & 32) ? M_PARSER_FLAG_TRACKLINES : 0);
	if (p != nullptr) {
		for (size_t k = 0; k < nops; k++) {
			size_t               plen = 0;
			const unsigned char *pat  = pattern(ops[k], &plen);
			step(p, ops[k], pat, plen);
		}
		M_parser_destroy(p);
	}

	/* A dynamic parser fed in pieces between the operations. */
	p = M_parser_create((data[0] & 64) ? M_PARSER_FLAG_TRACKLINES : 0);
	FUZZ_CHECK(p != nullptr);
	size_t fed = 0;
	for (size_t k = 0; k < nops || fed < blen; k++) {
		const size_t chunk = 1 + (k < nops ? ops[k] % 13 : blen);
		const size_t take  = chunk < blen - fed ? chunk : blen - fed;
		if (take > 0) {
			FUZZ_CHECK(M_parser_append(p, bp + fed, take));
			fed += take;
		}
		if (k < nops) {
			size_t               plen = 0;
			const unsigned char *pat  = pattern(ops[k], &plen);
			step(p, ops[k], pat, plen);
		}
		if (k > nops + 2)
			break;
	}
	M_parser_destroy(p);
	return 0;
}
