/* The format engine on format strings drawn from a grammar of valid and
 * malformed directives, each called with arguments of the type its
 * conversion reads (a "*" gets an int). Every directive goes through the
 * growable-buffer target and, with a small fixed array, the truncating one;
 * the integer directives that mean the same in the C library's printf are
 * checked against it byte for byte. */
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "fuzz_common.h"

namespace {

enum class kind { none, i32, i64, dbl, str, ptr };

struct directive {
	std::string fmt;
	kind        k      = kind::none;
	int         stars  = 0;
	bool        simple = true; /* has the same meaning in the C library */
	bool        longer = false;
};

constexpr const char  kFlags[]   = "-+ #0";
constexpr const char  kConvs[]   = "diuoOxXpPcsfFeEgG%";
constexpr const char *kLengths[] = {"", "hh", "h", "l", "ll", "z", "I64", "I32", "I", "lh", "I6", "q"};

directive build(fuzz_reader &r)
{
	directive d;
	d.fmt                        = "%";
	const unsigned char fl       = r.byte();
	bool                has_hash = false;
	for (int i = 0; i < 5; i++) {
		if (fl & (1u << i)) {
			d.fmt += kFlags[i];
			if (kFlags[i] == '#')
				has_hash = true;
		}
	}
	if (fl & 0x20) {
		/* A repeated flag in another order. */
		d.fmt += kFlags[fl % 5];
	}
	const unsigned char w = r.byte();
	switch (w & 3) {
		case 0:
			break;
		case 1:
			d.fmt += std::to_string(w >> 2);
			break;
		case 2:
			d.fmt += "*";
			d.stars++;
			d.simple = false;
			break;
		case 3:
			d.fmt += (w & 4) ? "1000" : "200";
			d.simple = false;
			break;
	}
	const unsigned char pr = r.byte();
	switch (pr & 7) {
		case 0:
		case 1:
		case 2:
			break;
		case 3:
			d.fmt += ".";
			d.simple = false;
			break;
		case 4:
			d.fmt += "." + std::to_string(pr >> 3);
			d.simple = false;
			break;
		case 5:
			d.fmt += ".*";
			d.stars++;
			d.simple = false;
			break;
		case 6:
			d.fmt += ".5.1";
			d.simple = false;
			break; /* malformed: a second "." */
		case 7:
			d.fmt += ".99999999999";
			d.simple = false;
			break;
	}
	const unsigned char ln  = r.byte();
	const char         *len = kLengths[ln % (sizeof(kLengths) / sizeof(kLengths[0]))];
	d.fmt += len;
	const std::string L(len);
	if (L != "" && L != "ll" && L != "hh" && L != "h")
		d.simple = false;
	d.longer               = L == "l" || L == "ll" || L == "z" || L == "I64";
	const unsigned char cv = r.byte();
	char                conv;
	if (cv < 0xF0) {
		conv = kConvs[cv % (sizeof(kConvs) - 1)];
	} else {
		/* Any byte at all, NUL aside (it would end the format). */
		conv = static_cast<char>(r.byte());
		if (conv == '\0')
			conv = 'y';
	}
	d.fmt += conv;
	switch (conv) {
		case 'd':
		case 'i':
		case 'u':
		case 'o':
		case 'x':
		case 'X':
			d.k = d.longer ? kind::i64 : kind::i32;
			break;
		case 'O':
			d.k      = d.longer ? kind::i64 : kind::i32;
			d.simple = false;
			break;
		case 'c':
			d.k      = kind::i32;
			d.simple = false;
			break;
		case 'p':
		case 'P':
			d.k      = kind::ptr;
			d.simple = false;
			break;
		case 's':
			d.k      = kind::str;
			d.simple = false;
			break;
		case 'f':
		case 'F':
		case 'e':
		case 'E':
		case 'g':
		case 'G':
			d.k      = kind::dbl;
			d.simple = false;
			break;
		default:
			d.k      = kind::none;
			d.simple = false;
			break;
	}
	if (has_hash && conv != 'o' && conv != 'x' && conv != 'X')
		d.simple = false;
	/* The engine applies "+" and " " to octal and hexadecimal too (only "u"
	 * ignores them); printf ignores them for every unsigned conversion. */
	if ((conv == 'o' || conv == 'x' || conv == 'X') && d.fmt.find_first_of("+ ") != std::string::npos)
		d.simple = false;
	return d;
}

uint64_t take64(fuzz_reader &r)
{
	uint64_t v = 0;
	for (int i = 0; i < 8; i++)
		v = (v << 8) | r.byte();
	return v;
}

/* Calls one of the engine's front ends with the directive's arguments. */
template <typename F>
ssize_t with_args(const directive &d, int s1, int s2, uint64_t v, double dv, const char *str, F &&call)
{
	switch (d.k) {
		case kind::none:
			return d.stars == 0 ? call(0) : d.stars == 1 ? call(s1) : call(s1, s2);
		case kind::i32: {
			const int iv = static_cast<int>(static_cast<uint32_t>(v));
			return d.stars == 0 ? call(iv) : d.stars == 1 ? call(s1, iv) : call(s1, s2, iv);
		}
		case kind::i64: {
			const long long lv = static_cast<long long>(v);
			return d.stars == 0 ? call(lv) : d.stars == 1 ? call(s1, lv) : call(s1, s2, lv);
		}
		case kind::dbl:
			return d.stars == 0 ? call(dv) : d.stars == 1 ? call(s1, dv) : call(s1, s2, dv);
		case kind::str:
			return d.stars == 0 ? call(str) : d.stars == 1 ? call(s1, str) : call(s1, s2, str);
		case kind::ptr: {
			void *pv = reinterpret_cast<void *>(static_cast<uintptr_t>(v));
			return d.stars == 0 ? call(pv) : d.stars == 1 ? call(s1, pv) : call(s1, s2, pv);
		}
	}
	return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_reader r{data, size};
	M_buf_t    *buf = M_buf_create();
	std::string expected_total;
	size_t      before = 0;
	for (int n = 0; n < 8 && r.n > 0; n++) {
		/* Literal text around the directive. */
		std::string fmt = (r.byte() & 1) ? "ab" : "";
		directive   d   = build(r);
		fmt += d.fmt;
		if (r.byte() & 1)
			fmt += "z";
		const int      s1 = static_cast<int>(static_cast<int8_t>(r.byte())) * ((r.byte() & 1) ? 8 : 1);
		const int      s2 = static_cast<int>(static_cast<int8_t>(r.byte()));
		const uint64_t v  = take64(r);
		double         dv;
		std::memcpy(&dv, &v, sizeof(dv));
		if (r.byte() & 1)
			dv = static_cast<double>(static_cast<int64_t>(v)) / 1000.0;
		const char *strs[] = {"text", "", nullptr, "a longer piece of text"};
		const char *str    = strs[v & 3];

		const ssize_t got =
		    with_args(d, s1, s2, v, dv, str, [&](auto... a) { return M_bprintf(buf, fmt.c_str(), a...); });
		FUZZ_CHECK(got >= 0);
		FUZZ_CHECK(M_buf_len(buf) == before + static_cast<size_t>(got));
		const std::string produced(M_buf_peek(buf) + before, static_cast<size_t>(got));
		before = M_buf_len(buf);

		/* The same into a small array: cut, terminated, same count. */
		char small[8];
		std::memset(small, 'x', sizeof(small));
		const ssize_t got2 = with_args(d, s1, s2, v, dv, str,
		                               [&](auto... a) { return M_snprintf(small, sizeof(small), fmt.c_str(), a...); });
		FUZZ_CHECK(got2 == got);
		const size_t kept = static_cast<size_t>(got) < sizeof(small) ? static_cast<size_t>(got) : sizeof(small) - 1;
		FUZZ_CHECK(small[kept] == '\0');
		FUZZ_CHECK(std::memcmp(small, produced.data(), kept) == 0);

		char         *heap = nullptr;
		const ssize_t got3 =
		    with_args(d, s1, s2, v, dv, str, [&](auto... a) { return M_asprintf(&heap, fmt.c_str(), a...); });
		if (got3 != got || (got > 0 && heap == nullptr) || (got == 0 && heap != nullptr) ||
		    (heap != nullptr && produced != std::string(heap, static_cast<size_t>(got3)))) {
			std::fprintf(stderr, "format [%s]: buffer %zd [%s], allocated %zd [%s]\n", fmt.c_str(), got,
			             produced.c_str(), got3, heap != nullptr ? heap : "(null)");
			FUZZ_CHECK(!"allocating target differs from the buffer target");
		}
		M_free(heap);

		/* Integer directives shared with the C library agree with it. */
		if (d.simple && (d.k == kind::i32 || d.k == kind::i64)) {
			std::string cfmt = fmt;
			char        cbuf[512];
			int         cn;
			if (d.k == kind::i64)
				cn = std::snprintf(cbuf, sizeof(cbuf), cfmt.c_str(), static_cast<long long>(v));
			else
				cn = std::snprintf(cbuf, sizeof(cbuf), cfmt.c_str(), static_cast<int>(static_cast<uint32_t>(v)));
			/* The C library prints no "0x" for a zero with "#"; the engine does. */
			const bool zero_hash =
			    fmt.find('#') != std::string::npos && (d.k == kind::i64 ? v == 0 : static_cast<uint32_t>(v) == 0);
			const bool narrowed_zero = fmt.find('#') != std::string::npos; /* h/hh narrowing may give 0 */
			if (!zero_hash && !narrowed_zero && cn >= 0 && static_cast<size_t>(cn) < sizeof(cbuf)) {
				if (produced != cbuf) {
					std::fprintf(stderr, "format [%s] value %" PRIu64 ": engine [%s] C library [%s]\n", fmt.c_str(), v,
					             produced.c_str(), cbuf);
					FUZZ_CHECK(!"integer directive differs from the C library");
				}
			}
		}
	}
	M_buf_cancel(buf);
	return 0;
}
