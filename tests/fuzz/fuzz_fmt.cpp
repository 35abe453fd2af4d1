/* The format engine on format strings drawn from a grammar of valid and
 * malformed directives, each called with arguments of the type its
 * conversion reads (a "*" gets an int). Every directive goes through the
 * growable-buffer target and, with a small fixed array, the truncating one;
 * the integer directives that mean the same in the C library's printf are
 * checked against it byte for byte. */
#include <cinttypes>

#include "core/m_str_fmt.h"
#include "fuzz_common.h"

namespace {

enum class kind { none, i32, i64, dbl, str, ptr };

/* The C library's formatter as the oracle: on Windows mingw-w64's own C99
 * one, which still writes the " " flag before an unsigned number (the
 * standard ignores it there), so it judges no format with a space. */
#ifdef _WIN32
constexpr bool kSpaceJudged = false;
#define c_snprintf __mingw_snprintf
#else
constexpr bool kSpaceJudged = true;
#define c_snprintf std::snprintf
#endif

struct directive {
	std::string fmt = "%";
	kind        k   = kind::none;
	int         stars;
	bool        simple; /* an integer directive with the same meaning in the C library */
};

constexpr const char  kFlags[]   = "-+ #0";
constexpr const char  kConvs[]   = "diuoOxXpPcsfFeEgG%";
constexpr const char *kLengths[] = {"", "hh", "h", "l", "ll", "z", "I64", "I32", "I", "lh", "I6", "q"};

directive build(fuzz_reader &r)
{
	directive           d;
	const unsigned char fl = r.byte();
	for (int i = 0; i < 5; i++) {
		if (fl & (1u << i))
			d.fmt += kFlags[i];
	}
	if (fl & 0x20)
		d.fmt += kFlags[fl % 5]; /* a repeated flag in another order */
	/* Width: none, a number, "*" or a large one; precision: none (three in
	 * eight), ".", a number, ".*", a malformed second "." or a huge one. */
	const unsigned char w        = r.byte();
	const unsigned char pr       = r.byte();
	const std::string   widths[] = {"", std::to_string(w >> 2), "*", (w & 4) ? "1000" : "200"};
	const std::string   precs[]  = {
	       "", "", "", ".", std::string(".").append(std::to_string(pr >> 3)), ".*", ".5.1", ".99999999999"};
	d.fmt += widths[w & 3] + precs[pr & 7];
	d.stars             = ((w & 3) == 2) + ((pr & 7) == 5);
	const std::string L = kLengths[r.byte() % (sizeof(kLengths) / sizeof(kLengths[0]))];
	d.fmt += L;
	const bool          longer = L == "l" || L == "ll" || L == "z" || L == "I64";
	const unsigned char cv     = r.byte();
	/* A conversion, or any byte at all, NUL aside (it would end the format). */
	char conv = cv < 0xF0 ? kConvs[cv % (sizeof(kConvs) - 1)] : static_cast<char>(r.byte());
	if (conv == '\0')
		conv = 'y';
	d.fmt += conv;
	if (std::strchr("diuoxXO", conv) != nullptr)
		d.k = longer ? kind::i64 : kind::i32;
	else if (conv == 'c')
		d.k = kind::i32;
	else if (conv == 'p' || conv == 'P')
		d.k = kind::ptr;
	else if (conv == 's')
		d.k = kind::str;
	else if (std::strchr("fFeEgG", conv) != nullptr)
		d.k = kind::dbl;
	/* The engine applies "+" and " " to octal and hexadecimal too (only "u"
	 * ignores them); printf ignores them for every unsigned conversion. */
	const bool oct_hex = std::strchr("oxX", conv) != nullptr;
	d.simple           = (w & 3) < 2 && (pr & 7) < 3 && (L == "" || L == "ll" || L == "hh" || L == "h") &&
	           std::strchr("diuoxX", conv) != nullptr && !(oct_hex && d.fmt.find_first_of("+ ") != std::string::npos);
	return d;
}

uint64_t take64(fuzz_reader &r)
{
	uint64_t v = 0;
	for (int i = 0; i < 8; i++)
		v = (v << 8) | r.byte();
	return v;
}

/* Calls one of the engine's front ends with the "*" values, then the value
 * (a directive that reads none ignores it). */
template <typename V, typename F>
ssize_t with_stars(int stars, int s1, int s2, V value, F &&call)
{
	return stars == 0 ? call(value) : stars == 1 ? call(s1, value) : call(s1, s2, value);
}

template <typename F>
ssize_t with_args(const directive &d, int s1, int s2, uint64_t v, double dv, const char *str, F &&call)
{
	switch (d.k) {
		case kind::none:
		case kind::i32:
			return with_stars(d.stars, s1, s2, static_cast<int>(static_cast<uint32_t>(v)), call);
		case kind::i64:
			return with_stars(d.stars, s1, s2, static_cast<long long>(v), call);
		case kind::dbl:
			return with_stars(d.stars, s1, s2, dv, call);
		case kind::str:
			return with_stars(d.stars, s1, s2, str, call);
		case kind::ptr:
			return with_stars(d.stars, s1, s2, reinterpret_cast<void *>(static_cast<uintptr_t>(v)), call);
	}
	return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_reader r{data, size};
	M_buf_t    *buf    = M_buf_create();
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
		FUZZ_CHECK(got3 == got && (heap != nullptr) == (got > 0));
		FUZZ_CHECK(heap == nullptr || produced == std::string(heap, static_cast<size_t>(got3)));
		M_free(heap);

		/* Integer directives shared with the C library agree with it. The C
		 * library prints no "0x" for a zero with "#" (h/hh narrowing may
		 * make one), so "#" is left out. */
		if (d.simple && fmt.find('#') == std::string::npos && (kSpaceJudged || fmt.find(' ') == std::string::npos)) {
			char      cbuf[512];
			const int cn = d.k == kind::i64 ? c_snprintf(cbuf, sizeof(cbuf), fmt.c_str(), static_cast<long long>(v))
			                                : c_snprintf(cbuf, sizeof(cbuf), fmt.c_str(), static_cast<int>(v));
			if (cn >= 0 && static_cast<size_t>(cn) < sizeof(cbuf) && produced != cbuf) {
				std::fprintf(stderr, "format [%s] value %" PRIu64 ": engine [%s] C library [%s]\n", fmt.c_str(), v,
				             produced.c_str(), cbuf);
				FUZZ_CHECK(!"integer directive differs from the C library");
			}
		}
	}
	M_buf_cancel(buf);
	return 0;
}
