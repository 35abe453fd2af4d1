/* NUL-terminated string operations, NULL-tolerant throughout.
 *
 * Three ideas shape this file:
 * - NULL is an argument like any other: each entry point states what it
 *   means (mostly "the empty string") and handles it with a real branch.
 * - Equality tests never return at the first difference: they fold the XOR
 *   of each byte pair into an accumulator and decide at the end, so their
 *   running time depends on the lengths only, not on where inputs differ.
 * - Case and class decisions come from m_chr (ASCII tables), never from the
 *   locale-dependent C library.
 *
 * Exploded strings keep all pieces in one copy of the input with the
 * delimiters overwritten by 0, so a split costs two allocations whatever the
 * number of pieces, and M_str_explode_free needs only the first entry. */
#include "core/m_str.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str_num.h"
#include "core/m_text_int.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char kEmpty[] = "";

/* Case folding used by the case-insensitive forms. */
inline unsigned char fold_none(char c)
{
	return static_cast<unsigned char>(c);
}

/* ASCII folding done inline: the case-insensitive comparisons run once per
 * cell of large tables, where a call per byte showed in profiles. */
inline unsigned char fold_lower(char c)
{
	const auto u = static_cast<unsigned char>(c);
	return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

/* The shared equality walk: see the header for the NULL rules. max 0 means
 * no limit. The loop never exits on a difference. */
template <unsigned char (*Fold)(char)>
bool str_eq(const char *a, const char *b, size_t max)
{
	if (a == b)
		return true;
	if (a == nullptr)
		return *b == '\0';
	if (b == nullptr)
		return *a == '\0';

	unsigned char acc = 0;
	size_t        i   = 0;
	while (a[i] != '\0' && b[i] != '\0' && (max == 0 || i < max)) {
		acc |= static_cast<unsigned char>(Fold(a[i]) ^ Fold(b[i]));
		i++;
	}
	if (max != 0 && i == max)
		return acc == 0;
	return a[i] == '\0' && b[i] == '\0' && acc == 0;
}

template <unsigned char (*Fold)(char)>
bool str_eq_end(const char *s, const char *suffix)
{
	if (s == nullptr || suffix == nullptr)
		return false;
	const size_t slen = std::strlen(s);
	const size_t xlen = std::strlen(suffix);
	if (xlen > slen)
		return false;
	return str_eq<Fold>(s + (slen - xlen), suffix, 0);
}

/* strcmp order over unsigned bytes; max 0 with limited = true compares
 * nothing. */
template <unsigned char (*Fold)(char)>
int str_cmp(const char *a, const char *b, size_t max, bool limited)
{
	if (a == b)
		return 0;
	if (a == nullptr)
		a = kEmpty;
	if (b == nullptr)
		b = kEmpty;
	for (size_t i = 0; !limited || i < max; i++) {
		const unsigned char ca = Fold(a[i]);
		const unsigned char cb = Fold(b[i]);
		if (ca != cb)
			return ca < cb ? -1 : 1;
		if (ca == '\0')
			break;
	}
	return 0;
}

/* Every character of s (at most max) passes pred. */
bool str_is(const char *s, size_t max, M_chr_predicate_func pred)
{
	if (pred == nullptr)
		return false;
	if (s == nullptr)
		return true;
	for (size_t i = 0; i < max && s[i] != '\0'; i++) {
		if (!pred(s[i]))
			return false;
	}
	return true;
}

/* Apply a per-character map to at most max characters in place. */
template <char (*Map)(char)>
char *str_map(char *s, size_t max)
{
	if (s == nullptr)
		return nullptr;
	for (size_t i = 0; i < max && s[i] != '\0'; i++)
		s[i] = Map(s[i]);
	return s;
}

char *title_max(char *s, size_t max)
{
	if (s == nullptr)
		return nullptr;
	bool word_start = true;
	for (size_t i = 0; i < max && s[i] != '\0'; i++) {
		s[i]       = word_start ? M_chr_toupper(s[i]) : M_chr_tolower(s[i]);
		word_start = M_chr_isspace(s[i]);
	}
	return s;
}

/* Drop every character for which drop() holds, in place. */
template <bool (*Drop)(char)>
char *str_delete(char *s)
{
	if (s == nullptr)
		return nullptr;
	size_t w = 0;
	for (size_t r = 0; s[r] != '\0'; r++) {
		if (!Drop(s[r]))
			s[w++] = s[r];
	}
	s[w] = '\0';
	return s;
}

bool is_space(char c)
{
	return M_chr_isspace(c);
}

bool is_newline(char c)
{
	return c == '\n' || c == '\r';
}

/* Copy of at most max characters, then fn applied in place. */
template <char *(*Fn)(char *)>
char *dup_apply(const char *s, size_t max)
{
	char *d = M_strdup_max(s, max);
	return Fn(d);
}

char *upper_all(char *s)
{
	return M_str_upper(s);
}
char *lower_all(char *s)
{
	return M_str_lower(s);
}
char *title_all(char *s)
{
	return M_str_title(s);
}
char *trim_all(char *s)
{
	return M_str_trim(s);
}

bool in_set(char c, const char *set)
{
	if (set == nullptr)
		return false;
	for (; *set != '\0'; set++) {
		if (*set == c)
			return true;
	}
	return false;
}

/* Shared splitter over a byte range. quote 0 disables quoting. */
char **explode_common(unsigned char delim, const char *bytes, size_t len, char quote, char escape, size_t max_pieces,
                      size_t *count, size_t **lengths)
{
	if (count != nullptr)
		*count = 0;
	if (lengths != nullptr)
		*lengths = nullptr;
	if (bytes == nullptr || len == 0 || count == nullptr || len == SIZE_MAX)
		return nullptr;

	auto *block = static_cast<char *>(M_malloc(len + 1));
	std::memcpy(block, bytes, len);
	block[len] = '\0';

	/* First pass marks the splitting delimiters by counting them; second
	 * pass (same rules) writes the 0 bytes and the entries. */
	auto walk = [&](char **parts, size_t *lens) -> size_t {
		size_t n        = 1;
		size_t start    = 0;
		bool   in_quote = false;
		bool   escaped  = false;
		for (size_t i = 0; i < len; i++) {
			const char c = block[i];
			if (quote != '\0') {
				if (escaped) {
					escaped = false;
					continue;
				}
				if (in_quote && escape != quote && escape != '\0' && c == escape) {
					escaped = true;
					continue;
				}
				if (c == quote) {
					/* With escape == quote a doubled quote toggles twice and
					 * so stays inside the quoted part. */
					in_quote = !in_quote;
					continue;
				}
				if (in_quote)
					continue;
			}
			if (static_cast<unsigned char>(c) != delim)
				continue;
			if (max_pieces != 0 && n >= max_pieces)
				break;
			if (parts != nullptr) {
				block[i] = '\0';
				if (lens != nullptr)
					lens[n - 1] = i - start;
				parts[n] = block + i + 1;
			}
			start = i + 1;
			n++;
		}
		if (lens != nullptr)
			lens[n - 1] = len - start;
		return n;
	};

	const size_t n     = walk(nullptr, nullptr);
	auto        *parts = static_cast<char **>(M_malloc(n * sizeof(char *)));
	size_t      *lens  = nullptr;
	if (lengths != nullptr)
		lens = static_cast<size_t *>(M_malloc(n * sizeof(size_t)));
	parts[0] = block;
	walk(parts, lens);

	*count = n;
	if (lengths != nullptr)
		*lengths = lens;
	return parts;
}

/* Quote s (at most max characters) into buf: quote, escaped content, quote.
 * escape 0 doubles quote characters. */
void add_quoted(M_buf_t *buf, const char *s, size_t max, char quote, char escape)
{
	if (escape == '\0')
		escape = quote;
	M_buf_add_char(buf, quote);
	for (size_t i = 0; s != nullptr && i < max && s[i] != '\0'; i++) {
		if (s[i] == quote || s[i] == escape)
			M_buf_add_char(buf, escape);
		M_buf_add_char(buf, s[i]);
	}
	M_buf_add_char(buf, quote);
}

bool needs_quote(const char *s, char quote, char escape, char delim)
{
	return m::detail::needs_quoting(s, M_str_len(s), m::detail::quote_classes(delim, quote, escape));
}

/* Finish a buffer as a string; an empty result is an empty string. */
char *finish(M_buf_t *buf)
{
	char *s = M_buf_finish_str(buf, nullptr);
	return s != nullptr ? s : M_strdup(kEmpty);
}

/* Remove or keep the parts of s that lie between open and close, with
 * optional quoting (quote 0: none) that hides brackets. keep_inner selects
 * the parts inside. The brackets themselves never survive; quote characters
 * are ordinary text here. */
char *bracket_filter(char *s, char open, char close, char quote, char escape, bool keep_inner)
{
	if (s == nullptr)
		return nullptr;
	size_t w        = 0;
	bool   inside   = false;
	bool   in_quote = false;
	bool   escaped  = false;
	for (size_t r = 0; s[r] != '\0'; r++) {
		const char c    = s[r];
		bool       keep = (inside == keep_inner);
		if (escaped) {
			escaped = false;
		} else if (quote != '\0' && in_quote && escape != '\0' && escape != quote && c == escape) {
			escaped = true;
		} else if (quote != '\0' && c == quote) {
			in_quote = !in_quote;
		} else if (!in_quote && !inside && c == open) {
			inside = true;
			keep   = false;
		} else if (!in_quote && inside && c == close) {
			inside = false;
			keep   = false;
		}
		if (keep)
			s[w++] = c;
	}
	s[w] = '\0';
	return s;
}

/* Remove or keep the quoted parts of s (quote characters never kept when
 * keeping, always removed when removing). Inside quotes, an escaped
 * character is kept without its escape when keeping. */
char *quoted_filter(char *s, char quote, char escape, bool keep_inner)
{
	if (s == nullptr)
		return nullptr;
	if (quote == '\0')
		return keep_inner ? (s[0] = '\0', s) : s;
	size_t w        = 0;
	bool   in_quote = false;
	for (size_t r = 0; s[r] != '\0'; r++) {
		const char c = s[r];
		if (!in_quote) {
			if (c == quote) {
				in_quote = true;
			} else if (!keep_inner) {
				s[w++] = c;
			}
			continue;
		}
		/* Inside quotes. */
		if (escape != '\0' && escape != quote && c == escape && s[r + 1] != '\0') {
			r++;
			if (keep_inner)
				s[w++] = s[r];
			continue;
		}
		if (c == quote) {
			if (escape == quote && s[r + 1] == quote) {
				r++;
				if (keep_inner)
					s[w++] = quote;
				continue;
			}
			in_quote = false;
			continue;
		}
		if (keep_inner)
			s[w++] = c;
	}
	s[w] = '\0';
	return s;
}

} // namespace

extern "C" {

/* ---- Length, emptiness, copies ---------------------------------------- */

size_t M_str_len(const char *s)
{
	return s == nullptr ? 0 : std::strlen(s);
}

size_t M_str_len_max(const char *s, size_t max)
{
	if (s == nullptr || max == 0)
		return 0;
	size_t n = 0;
	while (n < max && s[n] != '\0')
		n++;
	return n;
}

M_bool M_str_isempty(const char *s)
{
	return s == nullptr || s[0] == '\0';
}

const char *M_str_safe(const char *s)
{
	return s == nullptr ? kEmpty : s;
}

char *M_strdup(const char *s)
{
	if (s == nullptr)
		return nullptr;
	return static_cast<char *>(M_memdup(s, std::strlen(s) + 1));
}

char *M_strdup_max(const char *s, size_t max)
{
	if (s == nullptr)
		return nullptr;
	const size_t len = M_str_len_max(s, max);
	/* len < max or len == max == SIZE_MAX is impossible for a real string,
	 * so len + 1 cannot wrap; the check of the block only tells the compiler
	 * so (M_malloc refuses the sizes next to SIZE_MAX). */
	auto *d = static_cast<char *>(M_malloc(len + 1));
	if (d == nullptr)
		return nullptr;
	std::memcpy(d, s, len);
	d[len] = '\0';
	return d;
}

char *M_strdup_upper(const char *s)
{
	return dup_apply<upper_all>(s, SIZE_MAX);
}
char *M_strdup_upper_max(const char *s, size_t max)
{
	return dup_apply<upper_all>(s, max);
}
char *M_strdup_lower(const char *s)
{
	return dup_apply<lower_all>(s, SIZE_MAX);
}
char *M_strdup_lower_max(const char *s, size_t max)
{
	return dup_apply<lower_all>(s, max);
}
char *M_strdup_title(const char *s)
{
	return dup_apply<title_all>(s, SIZE_MAX);
}
char *M_strdup_title_max(const char *s, size_t max)
{
	return dup_apply<title_all>(s, max);
}
char *M_strdup_trim(const char *s)
{
	return dup_apply<trim_all>(s, SIZE_MAX);
}
char *M_strdup_trim_max(const char *s, size_t max)
{
	return dup_apply<trim_all>(s, max);
}

char *M_strdup_justify(const char *s, M_str_justify_type_t type, char fill, size_t width)
{
	const size_t len = M_str_len(s);
	if (static_cast<unsigned>(type) > M_STR_JUSTIFY_CENTER_NOTRUNC || width == SIZE_MAX)
		return nullptr;
	/* Decide the refusal here: M_str_justify_max also yields 0 for a valid
	 * empty result, so its return value cannot tell the two apart. */
	if (len > width && (type == M_STR_JUSTIFY_RIGHT_NOTRUNC || type == M_STR_JUSTIFY_LEFT_NOTRUNC ||
	                    type == M_STR_JUSTIFY_CENTER_NOTRUNC))
		return nullptr;
	auto *d = static_cast<char *>(M_malloc(width + 1));
	d[0]    = '\0';
	(void)M_str_justify_max(d, width + 1, s, len, type, fill, width);
	return d;
}

char *M_strdup_unquote(const char *s, char quote, char escape)
{
	return M_str_unquote(M_strdup(s), quote, escape);
}

char *M_strdup_unquote_max(const char *s, char quote, char escape, size_t max)
{
	return M_str_unquote(M_strdup_max(s, max), quote, escape);
}

/* Replacements grow the text by an amount known only while scanning, so
 * the copy is built in a byte buffer rather than sized in advance. */
char *M_strdup_replace_charset(const char *s, const unsigned char *set, size_t set_len, const char *replacement)
{
	if (s == nullptr)
		return nullptr;
	if (set == nullptr || set_len == 0)
		return M_strdup(s);
	bool in[256] = {};
	for (size_t i = 0; i < set_len; i++)
		in[set[i]] = true;
	M_buf_t *buf = M_buf_create();
	for (const char *p = s; *p != '\0'; p++) {
		if (in[static_cast<unsigned char>(*p)])
			M_buf_add_str(buf, replacement);
		else
			M_buf_add_char(buf, *p);
	}
	return finish(buf);
}

char *M_strdup_replace_str(const char *s, const char *search, const char *replacement)
{
	if (s == nullptr)
		return nullptr;
	if (M_str_isempty(search))
		return M_strdup(s);
	M_buf_t *buf = M_buf_create();
	(void)M_buf_add_str_replace(buf, s, search, replacement);
	return finish(buf);
}

/* Both copies use memmove: callers copy within one array (shifting a
 * string inside its own buffer), which memcpy would leave undefined. A
 * silent cut is the documented contract of M_str_cpy; M_str_cat refuses
 * instead, because half an appended string is rarely what a caller wants. */
M_bool M_str_cpy(char *dest, size_t dest_size, const char *src)
{
	if (dest == nullptr || dest_size == 0)
		return M_FALSE;
	const size_t len = M_str_len_max(src, dest_size - 1);
	if (len > 0)
		std::memmove(dest, src, len);
	dest[len] = '\0';
	return M_TRUE;
}

M_bool M_str_cat(char *dest, size_t dest_size, const char *src)
{
	if (dest == nullptr || src == nullptr || dest_size == 0)
		return M_FALSE;
	const size_t dlen = M_str_len_max(dest, dest_size);
	if (dlen == dest_size)
		return M_FALSE; /* dest is not terminated inside its own size */
	const size_t slen = std::strlen(src);
	if (slen >= dest_size - dlen)
		return M_FALSE; /* joined string plus terminator would not fit */
	std::memmove(dest + dlen, src, slen + 1);
	return M_TRUE;
}

/* ---- In-place changes ---------------------------------------------------- */

char *M_str_upper(char *s)
{
	return str_map<M_chr_toupper>(s, SIZE_MAX);
}
char *M_str_upper_max(char *s, size_t max)
{
	return str_map<M_chr_toupper>(s, max);
}
char *M_str_lower(char *s)
{
	return str_map<M_chr_tolower>(s, SIZE_MAX);
}
char *M_str_lower_max(char *s, size_t max)
{
	return str_map<M_chr_tolower>(s, max);
}
char *M_str_title(char *s)
{
	return title_max(s, SIZE_MAX);
}
char *M_str_title_max(char *s, size_t max)
{
	return title_max(s, max);
}

/* Trim: count the leading white space, move the rest to the start in one
 * memmove, then walk back over the trailing white space. A string of white
 * space only is emptied without moving anything. */
char *M_str_trim(char *s)
{
	if (s == nullptr || s[0] == '\0')
		return s;
	size_t lead = 0;
	while (M_chr_isspace(s[lead]))
		lead++;
	if (s[lead] == '\0') {
		s[0] = '\0';
		return s;
	}
	size_t len = std::strlen(s + lead);
	if (lead > 0)
		std::memmove(s, s + lead, len + 1);
	while (len > 0 && M_chr_isspace(s[len - 1]))
		len--;
	s[len] = '\0';
	return s;
}

char *M_str_trim_max(char *s, size_t max)
{
	if (s == nullptr || max == 0)
		return s;
	const size_t len = M_str_len_max(s, max);
	s[len]           = '\0';
	return M_str_trim(s);
}

char *M_str_delete_spaces(char *s)
{
	return str_delete<is_space>(s);
}

char *M_str_delete_newlines(char *s)
{
	return str_delete<is_newline>(s);
}

char *M_str_replace_chr(char *s, char b, char a)
{
	if (s == nullptr || a == '\0' || b == '\0')
		return s;
	for (char *p = s; *p != '\0'; p++) {
		if (*p == b)
			*p = a;
	}
	return s;
}

char *M_str_split_on_char(char *s, char ch)
{
	if (s == nullptr || ch == '\0')
		return nullptr;
	char *p = s;
	while (*p != '\0' && *p != ch)
		p++;
	if (*p == '\0')
		return p;
	*p = '\0';
	return p + 1;
}

/* ---- Search -------------------------------------------------------------- */

/* The terminator is not part of the string's content, so searching for 0
 * finds nothing (strchr would return the end). */
char *M_str_chr(const char *s, char ch)
{
	if (s == nullptr || ch == '\0')
		return nullptr;
	return const_cast<char *>(std::strchr(s, ch));
}

char *M_str_rchr(const char *s, char ch)
{
	if (s == nullptr || ch == '\0')
		return nullptr;
	return const_cast<char *>(std::strrchr(s, ch));
}

char *M_str_str(const char *hay, const char *needle)
{
	if (hay == nullptr)
		return nullptr;
	if (needle == nullptr || needle[0] == '\0')
		return const_cast<char *>(hay);
	return const_cast<char *>(std::strstr(hay, needle));
}

/* A plain quadratic scan: the strings searched here are header names and
 * short fields, where a table-driven search would cost more to set up than
 * it saves. The scan stops as soon as the rest of hay is shorter than the
 * needle. */
char *M_str_casestr(const char *hay, const char *needle)
{
	if (hay == nullptr)
		return nullptr;
	if (needle == nullptr || needle[0] == '\0')
		return const_cast<char *>(hay);
	const size_t nlen = std::strlen(needle);
	for (const char *p = hay; *p != '\0'; p++) {
		size_t i = 0;
		while (i < nlen && p[i] != '\0' && M_chr_tolower(p[i]) == M_chr_tolower(needle[i]))
			i++;
		if (i == nlen)
			return const_cast<char *>(p);
		if (p[i] == '\0')
			break; /* the rest of hay is shorter than needle */
	}
	return nullptr;
}

size_t M_str_casestr_pos(const char *hay, const char *needle)
{
	if (hay == nullptr || needle == nullptr)
		return SIZE_MAX;
	const char *p = M_str_casestr(hay, needle);
	return p == nullptr ? SIZE_MAX : static_cast<size_t>(p - hay);
}

char *M_str_find_first_from_charset(const char *s, const char *set)
{
	if (M_str_isempty(s) || M_str_isempty(set))
		return nullptr;
	const char *p = std::strpbrk(s, set);
	return const_cast<char *>(p);
}

char *M_str_find_first_not_from_charset(const char *s, const char *set)
{
	if (M_str_isempty(s))
		return nullptr;
	if (M_str_isempty(set))
		return const_cast<char *>(s);
	const size_t n = std::strspn(s, set);
	return s[n] == '\0' ? nullptr : const_cast<char *>(s + n);
}

/* ---- Predicates ---------------------------------------------------------- */

M_bool M_str_ispredicate(const char *s, M_chr_predicate_func pred)
{
	return str_is(s, SIZE_MAX, pred);
}
M_bool M_str_ispredicate_max(const char *s, size_t max, M_chr_predicate_func pred)
{
	return str_is(s, max, pred);
}
M_bool M_str_isnum(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isdigit);
}
M_bool M_str_isnum_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isdigit);
}
M_bool M_str_ishex(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_ishex);
}
M_bool M_str_ishex_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_ishex);
}
M_bool M_str_isalnum(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isalnum);
}
M_bool M_str_isalnum_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isalnum);
}
M_bool M_str_isalnumsp(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isalnumsp);
}
M_bool M_str_isalnumsp_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isalnumsp);
}
M_bool M_str_isalpha(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isalpha);
}
M_bool M_str_isalpha_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isalpha);
}
M_bool M_str_isalphasp(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isalphasp);
}
M_bool M_str_isalphasp_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isalphasp);
}
M_bool M_str_isspace(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isspace);
}
M_bool M_str_isspace_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isspace);
}
M_bool M_str_isascii(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isascii);
}
M_bool M_str_isascii_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isascii);
}
M_bool M_str_isgraph(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isgraph);
}
M_bool M_str_isgraph_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isgraph);
}
M_bool M_str_isprint(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isprint);
}
M_bool M_str_isprint_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isprint);
}
M_bool M_str_isdec(const char *s)
{
	return str_is(s, SIZE_MAX, M_chr_isdec);
}
M_bool M_str_isdec_max(const char *s, size_t max)
{
	return str_is(s, max, M_chr_isdec);
}

M_bool M_str_ischarset(const char *s, const char *set)
{
	if (s == nullptr)
		return M_TRUE;
	for (; *s != '\0'; s++) {
		if (!in_set(*s, set))
			return M_FALSE;
	}
	return M_TRUE;
}

M_bool M_str_isnotcharset(const char *s, const char *set)
{
	if (s == nullptr)
		return M_TRUE;
	for (; *s != '\0'; s++) {
		if (in_set(*s, set))
			return M_FALSE;
	}
	return M_TRUE;
}

/* Money text: digits with at most one "." and at most two decimals. A lone
 * "." holds no digit and is not an amount. */
M_bool M_str_ismoney(const char *s)
{
	if (M_str_isempty(s))
		return M_FALSE;
	bool   seen_dot = false;
	size_t decimals = 0;
	size_t digits   = 0;
	for (; *s != '\0'; s++) {
		if (*s == '.') {
			if (seen_dot)
				return M_FALSE;
			seen_dot = true;
			continue;
		}
		if (!M_chr_isdigit(*s))
			return M_FALSE;
		digits++;
		if (seen_dot && ++decimals > 2)
			return M_FALSE;
	}
	return digits > 0;
}

/* Used on bytes from outside (packets, files) before treating them as a C
 * string: exactly one terminator, at the very end, and printable text. */
M_bool M_str_isstr(const unsigned char *bytes, size_t len)
{
	if (bytes == nullptr || len == 0 || bytes[len - 1] != 0)
		return M_FALSE;
	for (size_t i = 0; i + 1 < len; i++) {
		if (bytes[i] == 0 || !M_chr_isprint(static_cast<char>(bytes[i])))
			return M_FALSE;
	}
	return M_TRUE;
}

M_bool M_str_istrue(const char *s)
{
	static constexpr const char *kTrue[] = {"yes", "y", "true", "t", "1", "on"};
	if (M_str_isempty(s))
		return M_FALSE;
	for (const char *t : kTrue) {
		if (M_str_caseeq(s, t))
			return M_TRUE;
	}
	return M_FALSE;
}

/* ---- Comparison ---------------------------------------------------------- */

M_bool M_str_eq(const char *a, const char *b)
{
	return str_eq<fold_none>(a, b, 0);
}
M_bool M_str_eq_max(const char *a, const char *b, size_t max)
{
	return str_eq<fold_none>(a, b, max);
}
M_bool M_str_caseeq(const char *a, const char *b)
{
	return str_eq<fold_lower>(a, b, 0);
}
M_bool M_str_caseeq_max(const char *a, const char *b, size_t max)
{
	return str_eq<fold_lower>(a, b, max);
}
M_bool M_str_eq_start(const char *s, const char *prefix)
{
	return str_eq<fold_none>(s, prefix, M_str_len(prefix));
}
M_bool M_str_caseeq_start(const char *s, const char *prefix)
{
	return str_eq<fold_lower>(s, prefix, M_str_len(prefix));
}
M_bool M_str_eq_end(const char *s, const char *suffix)
{
	return str_eq_end<fold_none>(s, suffix);
}
M_bool M_str_caseeq_end(const char *s, const char *suffix)
{
	return str_eq_end<fold_lower>(s, suffix);
}

int M_str_cmpsort(const char *a, const char *b)
{
	return str_cmp<fold_none>(a, b, 0, false);
}
int M_str_cmpsort_max(const char *a, const char *b, size_t max)
{
	return str_cmp<fold_none>(a, b, max, true);
}
int M_str_casecmpsort(const char *a, const char *b)
{
	return str_cmp<fold_lower>(a, b, 0, false);
}
int M_str_casecmpsort_max(const char *a, const char *b, size_t max)
{
	return str_cmp<fold_lower>(a, b, max, true);
}

/* ---- Justification ------------------------------------------------------- */

size_t M_str_justify_max(char *dest, size_t dest_size, const char *src, size_t src_len, M_str_justify_type_t type,
                         char fill, size_t width)
{
	if (dest == nullptr || width >= dest_size)
		return 0;
	if (src == nullptr)
		src_len = 0;
	m::detail::JustifyPlan plan;
	if (!m::detail::plan_justify(type, src_len, width, &plan))
		return 0;

	/* Move the text first (memmove: src may overlap dest), then fill around
	 * it, so the fill never overwrites text not yet moved. */
	if (plan.keep > 0)
		std::memmove(dest + plan.left, src + plan.cut_front, plan.keep);
	std::memset(dest, fill, plan.left);
	std::memset(dest + plan.left + plan.keep, fill, plan.right);
	const size_t out = plan.left + plan.keep + plan.right;
	dest[out]        = '\0';
	return out;
}

size_t M_str_justify(char *dest, size_t dest_size, const char *src, M_str_justify_type_t type, char fill, size_t width)
{
	return M_str_justify_max(dest, dest_size, src, M_str_len(src), type, fill, width);
}

/* ---- Quoting ------------------------------------------------------------- */

char *M_str_quote(const char *s, char quote, char escape)
{
	return M_str_quote_max(s, quote, escape, SIZE_MAX);
}

char *M_str_quote_max(const char *s, char quote, char escape, size_t max)
{
	if (quote == '\0')
		return nullptr;
	M_buf_t *buf = M_buf_create();
	add_quoted(buf, s, max, quote, escape);
	return finish(buf);
}

M_bool M_str_quote_if_necessary(char **out, const char *s, char quote, char escape, char delim)
{
	if (out == nullptr)
		return M_FALSE;
	*out = nullptr;
	if (s == nullptr || quote == '\0' || !needs_quote(s, quote, escape, delim))
		return M_FALSE;
	*out = M_str_quote(s, quote, escape);
	return M_TRUE;
}

char *M_str_unquote(char *s, char quote, char escape)
{
	return M_str_unquote_max(s, quote, escape, SIZE_MAX);
}

/* Unquoting undoes M_str_quote: outer quotes off, then every escape that
 * stands before a quote or escape character is dropped. An escape before
 * any other character is kept as text, so stray backslashes survive. */
char *M_str_unquote_max(char *s, char quote, char escape, size_t max)
{
	if (s == nullptr)
		return nullptr;
	M_str_trim_max(s, max);
	size_t len = std::strlen(s);
	if (quote == '\0' || len < 2 || s[0] != quote || s[len - 1] != quote)
		return s;
	if (escape == '\0')
		escape = quote;

	/* Drop the outer quotes, then the escape in front of each escaped
	 * quote or escape character. */
	len -= 2;
	std::memmove(s, s + 1, len);
	s[len]   = '\0';
	size_t w = 0;
	for (size_t r = 0; r < len; r++) {
		if (s[r] == escape && r + 1 < len && (s[r + 1] == quote || s[r + 1] == escape))
			r++;
		s[w++] = s[r];
	}
	s[w] = '\0';
	return s;
}

char *M_str_remove_quoted(char *s, char quote, char escape)
{
	return quoted_filter(s, quote, escape, false);
}

char *M_str_keep_quoted(char *s, char quote, char escape)
{
	return quoted_filter(s, quote, escape, true);
}

char *M_str_remove_bracketed(char *s, char open, char close)
{
	return bracket_filter(s, open, close, '\0', '\0', false);
}

char *M_str_keep_bracketed(char *s, char open, char close)
{
	return bracket_filter(s, open, close, '\0', '\0', true);
}

char *M_str_remove_bracketed_quoted(char *s, char open, char close, char quote, char escape)
{
	return bracket_filter(s, open, close, quote, escape, false);
}

char *M_str_keep_bracketed_quoted(char *s, char open, char close, char quote, char escape)
{
	return bracket_filter(s, open, close, quote, escape, true);
}

/* ---- Splitting ----------------------------------------------------------- */

char **M_str_explode_str(unsigned char delim, const char *s, size_t *count)
{
	return explode_common(delim, s, M_str_len(s), '\0', '\0', 0, count, nullptr);
}

char **M_str_explode(unsigned char delim, const char *bytes, size_t len, size_t *count, size_t **lengths)
{
	return explode_common(delim, bytes, len, '\0', '\0', 0, count, lengths);
}

char **M_str_explode_quoted(unsigned char delim, const char *bytes, size_t len, char quote, char escape,
                            size_t max_pieces, size_t *count, size_t **lengths)
{
	return explode_common(delim, bytes, len, quote, escape, max_pieces, count, lengths);
}

char **M_str_explode_str_quoted(unsigned char delim, const char *s, char quote, char escape, size_t max_pieces,
                                size_t *count)
{
	return explode_common(delim, s, M_str_len(s), quote, escape, max_pieces, count, nullptr);
}

/* Values are converted with the saturating short form: a list of numbers
 * typed by a person should not fail as a whole because one entry is odd.
 * Every piece gives one value, so the values line up with the pieces of
 * M_str_explode_str: an empty piece ("1,,2") and a digitless one both read
 * as 0. */
int64_t *M_str_explode_int(unsigned char delim, const char *s, size_t *count)
{
	if (count != nullptr)
		*count = 0;
	if (count == nullptr)
		return nullptr;
	size_t n     = 0;
	char **parts = M_str_explode_str(delim, s, &n);
	if (parts == nullptr)
		return nullptr;

	auto *values = static_cast<int64_t *>(M_malloc(n * sizeof(int64_t)));
	for (size_t i = 0; i < n; i++)
		values[i] = M_str_to_int64(parts[i]);
	M_str_explode_free(parts, n);
	*count = n;
	return values;
}

/* Word wrapping for fixed-width output (receipts, console columns). The
 * lines are built in a byte buffer, each followed by a 0 byte, so the result
 * has the same one-block layout as every other exploded string; the offsets
 * are turned into pointers only once the block can no longer move. */
char **M_str_explode_lines(size_t max_lines, size_t max_chars, const char *s, unsigned int flags, size_t *count)
{
	if (count != nullptr)
		*count = 0;
	if (count == nullptr || M_str_isempty(s) || max_lines == 0 || max_chars == 0)
		return nullptr;

	/* Every line takes at least one character (or line feed) of s, so the
	 * number of lines is bounded by its length plus one. */
	const size_t len      = std::strlen(s);
	const size_t cap      = max_lines < len + 1 ? max_lines : len + 1;
	auto        *offsets  = static_cast<size_t *>(M_malloc(cap * sizeof(size_t)));
	size_t       n        = 0;
	bool         overflow = false;
	M_buf_t     *buf      = M_buf_create();
	const char  *p        = s;

	for (;;) {
		/* White space at the start of a line is skipped; a line feed is not
		 * white space here, it ends an (empty) line. */
		while (*p != '\0' && *p != '\n' && M_chr_isspace(*p))
			p++;
		if (*p == '\0')
			break;
		if (n == max_lines) {
			overflow = true;
			break;
		}

		const char *start = p;
		size_t      hard  = 0; /* length up to the line feed or the end */
		while (start[hard] != '\0' && start[hard] != '\n')
			hard++;

		size_t take = hard;
		if (hard > max_chars) {
			/* Wrap at the last white space that keeps the line within
			 * max_chars; a longer word is cut. */
			take = max_chars;
			for (size_t k = max_chars; k > 0; k--) {
				if (M_chr_isspace(start[k])) {
					take = k;
					break;
				}
			}
			p = start + take;
		} else {
			p = start + hard;
			if (*p == '\n')
				p++;
		}
		while (take > 0 && M_chr_isspace(start[take - 1]))
			take--;

		offsets[n++] = M_buf_len(buf);
		M_buf_add_bytes(buf, start, take);
		M_buf_add_byte(buf, 0);
	}

	if (n == 0 || (overflow && !(flags & M_STR_EXPLODE_LINES_TRUNCATE))) {
		M_buf_cancel(buf);
		M_free(offsets);
		return nullptr;
	}

	auto *block = reinterpret_cast<char *>(M_buf_finish(buf, nullptr));
	auto *parts = static_cast<char **>(M_malloc(n * sizeof(char *)));
	for (size_t i = 0; i < n; i++)
		parts[i] = block + offsets[i];
	M_free(offsets);
	*count = n;
	return parts;
}

/* Joining mirrors M_str_explode_quoted: a piece is quoted exactly when
 * splitting the joined text again would otherwise change it (a delimiter,
 * quote, escape or line break inside, or white space a reader would trim). */
char *M_str_implode(unsigned char delim, char quote, char escape, char **parts, size_t count, unsigned int flags)
{
	if (parts == nullptr || count == 0)
		return nullptr;
	M_buf_t                      *buf     = M_buf_create();
	const m::detail::QuoteClasses classes = m::detail::quote_classes(static_cast<char>(delim), quote, escape);
	for (size_t i = 0; i < count; i++) {
		if (i > 0 && delim != 0)
			M_buf_add_byte(buf, delim);
		const char *piece = M_str_safe(parts[i]);
		if (quote != '\0' &&
		    ((flags & M_STR_IMPLODE_ALWAYS_QUOTE) || m::detail::needs_quoting(piece, M_str_len(piece), classes)))
			add_quoted(buf, piece, SIZE_MAX, quote, escape);
		else
			M_buf_add_str(buf, piece);
	}
	return finish(buf);
}

char *M_str_implode_int(unsigned char delim, const int64_t *values, size_t count)
{
	if (values == nullptr || count == 0)
		return nullptr;
	M_buf_t *buf = M_buf_create();
	for (size_t i = 0; i < count; i++) {
		if (i > 0 && delim != 0)
			M_buf_add_byte(buf, delim);
		M_buf_add_int(buf, values[i]);
	}
	return finish(buf);
}

void M_str_explode_free(char **parts, size_t count)
{
	if (parts == nullptr)
		return;
	if (count > 0)
		M_free(parts[0]);
	M_free(parts);
}

} // extern "C"
