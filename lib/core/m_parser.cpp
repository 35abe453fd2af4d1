/* Parser: forward read cursor over a constant or growable byte range.
 *
 * Layout notes:
 * - The cursor and the user mark are kept as offsets from the start of the
 *   data (const_data or buf), so a reallocation of a dynamic parser's buffer
 *   needs no pointer fix-ups.
 * - Every reader first measures how many bytes it would take, without
 *   touching the parser, then checks that the result fits its destination,
 *   and only then copies and consumes. A reader that fails therefore leaves
 *   the parser exactly as it was. This is the observable effect of "set the
 *   internal mark, consume, copy out, clear the internal mark": the taken
 *   bytes are wiped in a dynamic parser unless the user mark protects them.
 * - The line and column at the user mark are remembered when it is set, so a
 *   rewind restores them exactly. Recounting the column by scanning back for
 *   a line feed would walk into bytes that the wipe rule has already
 *   overwritten (or that compaction dropped) and give a wrong column.
 * - Size: this file runs a little past 1500 lines only because the public
 *   API has about 120 thin entry points (each family times each way of
 *   matching); the logic itself is the two dozen helpers in the anonymous
 *   namespace, and splitting the wrappers away would not make them clearer.
 */
#include "core/m_parser.h"

#include <new>
#include <cstring>

#include "core/m_bithacks.h"
#include "core/m_buf.h"
#include "core/m_chr.h"
#include "core/m_decimal.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_num.h"
#include "core/m_text_int.h"

struct M_parser {
	const unsigned char *const_data;  /* caller's bytes (constant parser) */
	unsigned char       *buf;         /* owned buffer (dynamic parser) */
	size_t               cur;         /* offset of the next unread byte */
	uint32_t             flags;       /* M_PARSER_FLAG_* */
	size_t               buf_size;    /* allocated size of buf */
	size_t               len;         /* unread bytes from cur on */
	size_t               consumed;    /* bytes consumed since creation/reset */
	size_t               mark_user;   /* user mark offset, or kNoMark */
	size_t               mark_line;   /* line at the user mark */
	size_t               mark_column; /* column at the user mark */
	size_t               column;      /* 0-based column of cur (tracking) */
	size_t               line;        /* 0-based line of cur (tracking) */
	bool                 is_const;    /* views caller bytes, never writes */
	bool                 is_storage;  /* lives in M_parser_storage_t */
};

static_assert(sizeof(M_parser) <= sizeof(M_parser_storage_t), "parser must fit the public storage");
static_assert(alignof(M_parser) <= alignof(M_parser_storage_t), "storage alignment too weak");

namespace {

constexpr size_t        kNoMark = static_cast<size_t>(-1);
constexpr unsigned char kWipe   = 0xFF;
constexpr unsigned char kStx    = 0x02;
constexpr unsigned char kEtx    = 0x03;

static_assert('\n' == 10 && ' ' == 32 && 'A' == 0x41, "character set must be ASCII");

/* ----- basic access ----------------------------------------------------- */

const unsigned char *data_start(const M_parser_t *p) noexcept
{
	return p->is_const ? p->const_data : p->buf;
}

const unsigned char *cur_ptr(const M_parser_t *p) noexcept
{
	const unsigned char *d = data_start(p);
	return d == nullptr ? nullptr : d + p->cur;
}

bool tracking(const M_parser_t *p) noexcept
{
	return (p->flags & M_PARSER_FLAG_TRACKLINES) != 0;
}

bool mark_set(const M_parser_t *p) noexcept
{
	return p->mark_user != kNoMark;
}

void wipe(M_parser_t *p, size_t off, size_t n) noexcept
{
	if (p->is_const || p->buf == nullptr || n == 0)
		return;
	M_mem_set(p->buf + off, kWipe, n);
}

/* Move the cursor forward over n unread bytes (n <= len), counting lines and
 * applying the wipe rule. */
void advance(M_parser_t *p, size_t n) noexcept
{
	if (n == 0)
		return;
	if (tracking(p)) {
		const unsigned char *c = cur_ptr(p);
		for (size_t i = 0; i < n; i++) {
			if (c[i] == '\n') {
				p->line++;
				p->column = 0;
			} else {
				p->column++;
			}
		}
	}
	if (!mark_set(p))
		wipe(p, p->cur, n);
	p->cur += n;
	p->len -= n;
	p->consumed += n;
}

void init_fields(M_parser_t *p, uint32_t flags) noexcept
{
	p->const_data  = nullptr;
	p->buf         = nullptr;
	p->cur         = 0;
	p->flags       = flags & M_PARSER_FLAG_TRACKLINES;
	p->buf_size    = 0;
	p->len         = 0;
	p->consumed    = 0;
	p->mark_user   = kNoMark;
	p->mark_line   = 0;
	p->mark_column = 0;
	p->column      = 0;
	p->line        = 0;
	p->is_const    = false;
	p->is_storage  = false;
}

/* Make room for n more bytes after the unread data of a dynamic parser.
 * False only when the size arithmetic would overflow. */
[[nodiscard]] bool make_room(M_parser_t *p, size_t n) noexcept
{
	size_t keep = mark_set(p) ? p->mark_user : p->cur;
	size_t end  = p->cur + p->len;
	size_t kept = end - keep;

	if (keep != 0 && p->buf != nullptr) {
		if (kept != 0)
			M_mem_move(p->buf, p->buf + keep, kept);
		/* The vacated tail held copies of bytes now living further up; leave
         * no stale copy of them behind. */
		M_mem_set(p->buf + kept, kWipe, end - kept);
		if (mark_set(p))
			p->mark_user -= keep;
		p->cur -= keep;
	}

	if (n > p->buf_size - kept) {
		if (n > SIZE_MAX - kept)
			return false;
		size_t want = M_size_t_round_up_to_power_of_two(n + kept);
		if (want == 0)
			return false;
		unsigned char *nb = static_cast<unsigned char *>(M_realloc(p->buf, want));
		if (nb == nullptr)
			return false;
		p->buf      = nb;
		p->buf_size = want;
	}
	return true;
}

M_parser_t *new_dynamic(uint32_t flags, const unsigned char *data, size_t len) noexcept
{
	M_parser_t *np = M_parser_create(flags);
	if (len != 0 && !M_parser_append(np, data, len)) {
		M_parser_destroy(np);
		return nullptr;
	}
	return np;
}

/* ----- measuring (never changes the parser) ----------------------------- */

struct Pattern {
	const unsigned char *pat;
	size_t               len;
};

Pattern str_pattern(const char *s) noexcept
{
	return {reinterpret_cast<const unsigned char *>(s), M_str_len(s)};
}

/* Bytes an "until" operation takes; false when the pattern is not found. */
bool measure_until(const M_parser_t *p, Pattern pat, bool eat, size_t *n) noexcept
{
	*n = 0;
	if (pat.pat == nullptr || pat.len == 0 || p->len == 0)
		return false;
	const unsigned char *c = cur_ptr(p);
	const unsigned char *m = static_cast<const unsigned char *>(M_mem_mem(c, p->len, pat.pat, pat.len));
	if (m == nullptr)
		return false;
	*n = static_cast<size_t>(m - c) + (eat ? pat.len : 0);
	return true;
}

/* Bytes a "boundary" operation takes; *found tells whether the whole pattern
 * was there. Without it, the bytes before a partial match at the end (a
 * suffix of the data that begins the pattern) are taken, or all of them. */
size_t measure_boundary(const M_parser_t *p, Pattern pat, bool eat, bool *found) noexcept
{
	size_t n = 0;
	*found   = false;
	if (pat.pat == nullptr || pat.len == 0 || p->len == 0)
		return 0;
	if (measure_until(p, pat, eat, &n)) {
		*found = true;
		return n;
	}
	const unsigned char *c     = cur_ptr(p);
	size_t               start = p->len >= pat.len ? p->len - pat.len + 1 : 0;
	for (size_t i = start; i < p->len; i++) {
		if (M_mem_eq(c + i, pat.pat, p->len - i))
			return i;
	}
	return p->len;
}

bool in_set(const unsigned char *set, size_t set_len, unsigned char b) noexcept
{
	return set != nullptr && set_len != 0 && M_mem_chr(set, b, set_len) != nullptr;
}

size_t measure_charset(const M_parser_t *p, const unsigned char *set, size_t set_len, bool invert) noexcept
{
	const unsigned char *c = cur_ptr(p);
	size_t               i = 0;
	while (i < p->len && in_set(set, set_len, c[i]) != invert)
		i++;
	return i;
}

/* One test for every byte-class family: a callback on the unsigned byte, on
 * the byte as char, or membership of a set. */
struct ByteTest {
	M_parser_predicate_func pred     = nullptr;
	M_chr_predicate_func    chr_pred = nullptr;
	const unsigned char    *set      = nullptr;
	size_t                  set_len  = 0;
	bool                    use_set  = false;

	bool valid() const noexcept
	{
		return use_set || pred != nullptr || chr_pred != nullptr;
	}

	bool operator()(unsigned char b) const noexcept
	{
		if (use_set)
			return in_set(set, set_len, b);
		if (pred != nullptr)
			return pred(b);
		return chr_pred(static_cast<char>(b));
	}
};

ByteTest by_pred(M_parser_predicate_func f) noexcept
{
	ByteTest t;
	t.pred = f;
	return t;
}

ByteTest by_chr(M_chr_predicate_func f) noexcept
{
	ByteTest t;
	t.chr_pred = f;
	return t;
}

ByteTest by_set(const unsigned char *set, size_t set_len) noexcept
{
	ByteTest t;
	t.set     = set;
	t.set_len = set_len;
	t.use_set = true;
	return t;
}

ByteTest by_str_set(const char *set) noexcept
{
	return by_set(reinterpret_cast<const unsigned char *>(set), M_str_len(set));
}

/* Leading bytes passing (or, inverted, failing) the test, at most max. */
size_t measure_test(const M_parser_t *p, const ByteTest &t, size_t max, bool invert = false) noexcept
{
	if (!t.valid())
		return 0;
	const unsigned char *c   = cur_ptr(p);
	size_t               lim = p->len < max ? p->len : max;
	size_t               i   = 0;
	while (i < lim && t(c[i]) != invert)
		i++;
	return i;
}

/* Trailing bytes passing the test, at most max. */
size_t measure_test_tail(const M_parser_t *p, const ByteTest &t, size_t max) noexcept
{
	if (!t.valid())
		return 0;
	const unsigned char *c   = cur_ptr(p);
	size_t               lim = p->len < max ? p->len : max;
	size_t               i   = 0;
	while (i < lim && t(c[p->len - 1 - i]))
		i++;
	return i;
}

bool is_ws(unsigned char b, uint32_t flags) noexcept
{
	if (flags & M_PARSER_WHITESPACE_SPACEONLY)
		return b == ' ';
	return M_chr_isspace(static_cast<char>(b));
}

size_t measure_whitespace(const M_parser_t *p, uint32_t flags) noexcept
{
	const unsigned char *c = cur_ptr(p);
	size_t               i = 0;
	while (i < p->len && is_ws(c[i], flags)) {
		i++;
		if ((flags & M_PARSER_WHITESPACE_TO_NEWLINE) && c[i - 1] == '\n')
			break;
	}
	return i;
}

/* ----- taking (copy out, then consume) ---------------------------------- */

size_t take_bytes(M_parser_t *p, size_t n, unsigned char *buf, size_t buf_len) noexcept
{
	if (n == 0 || buf == nullptr || n > buf_len)
		return 0;
	M_mem_copy(buf, cur_ptr(p), n);
	advance(p, n);
	return n;
}

size_t take_str(M_parser_t *p, size_t n, char *buf, size_t buf_len) noexcept
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (n == 0 || buf == nullptr || n >= buf_len)
		return 0;
	M_mem_copy(buf, cur_ptr(p), n);
	buf[n] = '\0';
	advance(p, n);
	return n;
}

char *dup_str(const unsigned char *src, size_t n) noexcept
{
	if (n == SIZE_MAX)
		return nullptr;
	char *s = static_cast<char *>(M_malloc(n + 1));
	M_mem_copy(s, src, n);
	s[n] = '\0';
	return s;
}

char *take_strdup(M_parser_t *p, size_t n) noexcept
{
	if (n == 0)
		return nullptr;
	char *s = dup_str(cur_ptr(p), n);
	if (s != nullptr)
		advance(p, n);
	return s;
}

M_parser_t *take_parser(M_parser_t *p, size_t n) noexcept
{
	if (n == 0)
		return nullptr;
	M_parser_t *np = new_dynamic(p->flags, cur_ptr(p), n);
	if (np != nullptr)
		advance(p, n);
	return np;
}

size_t take_buf(M_parser_t *p, size_t n, M_buf_t *buf) noexcept
{
	if (n == 0 || buf == nullptr)
		return 0;
	M_buf_add_bytes(buf, cur_ptr(p), n);
	advance(p, n);
	return n;
}

/* The user-mark readers: the bytes [mark, cur) were consumed already. */
const unsigned char *mark_range(const M_parser_t *p, size_t *n) noexcept
{
	*n = 0;
	if (!mark_set(p))
		return nullptr;
	*n = p->cur - p->mark_user;
	return data_start(p) + p->mark_user;
}

/* Hand the marked bytes to take(src, n) and clear the mark when take did not
 * answer none; none without calling take when nothing is marked. */
template <typename R, typename Take>
R take_marked(M_parser_t *p, R none, Take take) noexcept
{
	size_t               n   = 0;
	const unsigned char *src = mark_range(p, &n);
	if (n == 0)
		return none;
	R r = take(src, n);
	if (r != none)
		M_parser_mark_clear(p);
	return r;
}

/* Remove n unread bytes from the end, wiping them in a dynamic parser. */
void cut_tail(M_parser_t *p, size_t n) noexcept
{
	if (n == 0)
		return;
	wipe(p, p->cur + p->len - n, n);
	p->len -= n;
}

bool is_test(const M_parser_t *p, size_t len, const ByteTest &t, bool invert) noexcept
{
	if (p == nullptr || p->len == 0 || len > p->len || !t.valid())
		return false;
	if (len == 0)
		len = p->len;
	const unsigned char *c = cur_ptr(p);
	for (size_t i = 0; i < len; i++) {
		if (t(c[i]) == invert)
			return false;
	}
	return true;
}

M_parser_t **split_impl(M_parser_t *p, Pattern pat, size_t maxcnt, uint32_t flags, size_t *num_output) noexcept
{
	if (num_output != nullptr)
		*num_output = 0;
	if (p == nullptr || num_output == nullptr || pat.pat == nullptr || pat.len == 0 || p->len == 0)
		return nullptr;

	const unsigned char *c = cur_ptr(p);

	/* Count the pieces first so the array is allocated once. */
	size_t pieces = 1;
	size_t pos    = 0;
	while (maxcnt == 0 || pieces < maxcnt) {
		size_t idx = 0;
		if (!M_mem_mempos(c + pos, p->len - pos, pat.pat, pat.len, &idx))
			break;
		pieces++;
		pos += idx + pat.len;
	}
	if ((flags & M_PARSER_SPLIT_FLAG_NODELIM_FAIL) && !M_mem_contains(c, p->len, pat.pat, pat.len))
		return nullptr;
	if (pieces > SIZE_MAX / sizeof(M_parser_t *))
		return nullptr;

	M_parser_t **out = static_cast<M_parser_t **>(M_malloc_zero(pieces * sizeof(M_parser_t *)));
	pos              = 0;
	for (size_t k = 0; k < pieces; k++) {
		size_t piece_len = p->len - pos;
		size_t idx       = 0;
		if (k + 1 < pieces && M_mem_mempos(c + pos, p->len - pos, pat.pat, pat.len, &idx))
			piece_len = idx;
		out[k] = new_dynamic(p->flags, c + pos, piece_len);
		if (out[k] == nullptr) {
			M_parser_split_free(out, pieces);
			return nullptr;
		}
		pos += piece_len + (k + 1 < pieces ? pat.len : 0);
	}
	advance(p, p->len);
	*num_output = pieces;
	return out;
}

template <typename T>
bool read_binary(M_parser_t *p, M_parser_integer_type_t type, size_t len, T *out) noexcept
{
	if (len == 0 || len > 8 || len > p->len)
		return false;
	const unsigned char *c = cur_ptr(p);
	uint64_t             v = 0;
	for (size_t i = 0; i < len; i++) {
		size_t idx = (type == M_PARSER_INTEGER_BIGENDIAN) ? i : len - 1 - i;
		v          = (v << 8) | c[idx];
	}
	*out = static_cast<T>(v);
	advance(p, len);
	return true;
}

} // namespace

extern "C" {

/* ----- lifecycle ------------------------------------------------------- */

M_parser_t *M_parser_create(uint32_t flags)
{
	M_parser_t *p = static_cast<M_parser_t *>(M_malloc_zero(sizeof(M_parser_t)));
	init_fields(p, flags);
	return p;
}

M_parser_t *M_parser_create_const(const unsigned char *data, size_t len, uint32_t flags)
{
	if (data == nullptr)
		return nullptr;
	M_parser_t *p = static_cast<M_parser_t *>(M_malloc_zero(sizeof(M_parser_t)));
	init_fields(p, flags);
	p->is_const   = true;
	p->const_data = data;
	p->len        = len;
	return p;
}

M_parser_t *M_parser_init(M_parser_storage_t *storage, const unsigned char *data, size_t len, uint32_t flags)
{
	if (storage == nullptr)
		return nullptr;
	M_mem_set(storage, 0, sizeof(*storage));
	/* init_fields sets every field of the fresh object. */
	// cppcheck-suppress legacyUninitvar
	M_parser_t *p = ::new (static_cast<void *>(storage->opaque.bytes)) M_parser_t;
	init_fields(p, flags);
	p->is_const   = true;
	p->is_storage = true;
	p->const_data = data;
	p->len        = data == nullptr ? 0 : len;
	return p;
}

void M_parser_destroy(M_parser_t *parser)
{
	if (parser == nullptr || parser->is_storage)
		return;
	M_free(parser->buf); /* M_free wipes the whole block */
	M_free(parser);
}

M_bool M_parser_append(M_parser_t *parser, const unsigned char *data, size_t len)
{
	if (parser == nullptr || parser->is_const)
		return M_FALSE;
	if (data == nullptr)
		return len == 0;
	if (len == 0)
		return M_TRUE;

	/* Bytes from the parser's own buffer would be moved or freed by making
     * room; copy them aside first. */
	if (parser->buf != nullptr) {
		const auto lo = reinterpret_cast<uintptr_t>(parser->buf);
		const auto at = reinterpret_cast<uintptr_t>(data);
		if (at >= lo && at - lo < parser->buf_size) {
			unsigned char *tmp = static_cast<unsigned char *>(M_memdup(data, len));
			M_bool         ok  = M_parser_append(parser, tmp, len);
			M_free(tmp);
			return ok;
		}
	}

	if (!make_room(parser, len))
		return M_FALSE;
	M_mem_copy(parser->buf + parser->cur + parser->len, data, len);
	parser->len += len;
	return M_TRUE;
}

unsigned char *M_parser_direct_write_start(M_parser_t *parser, size_t *len)
{
	if (parser == nullptr || parser->is_const || len == nullptr || *len == 0)
		return nullptr;
	if (!make_room(parser, *len))
		return nullptr;
	size_t end = parser->cur + parser->len;
	*len       = parser->buf_size - end;
	return parser->buf + end;
}

void M_parser_direct_write_end(M_parser_t *parser, size_t count)
{
	if (parser == nullptr || parser->is_const || parser->buf == nullptr)
		return;
	if (count > parser->buf_size - (parser->cur + parser->len))
		return;
	parser->len += count;
}

/* ----- position and inspection ----------------------------------------- */

size_t M_parser_len(const M_parser_t *parser)
{
	return parser == nullptr ? 0 : parser->len;
}

size_t M_parser_current_offset(const M_parser_t *parser)
{
	return parser == nullptr ? 0 : parser->consumed;
}

size_t M_parser_current_line(const M_parser_t *parser)
{
	if (parser == nullptr || !tracking(parser))
		return 0;
	return parser->line + 1;
}

size_t M_parser_current_column(const M_parser_t *parser)
{
	if (parser == nullptr || !tracking(parser))
		return 0;
	return parser->column + 1;
}

const unsigned char *M_parser_peek(const M_parser_t *parser)
{
	return parser == nullptr ? nullptr : cur_ptr(parser);
}

M_bool M_parser_peek_byte(const M_parser_t *parser, unsigned char *byte)
{
	if (parser == nullptr || byte == nullptr || parser->len == 0)
		return M_FALSE;
	*byte = *cur_ptr(parser);
	return M_TRUE;
}

M_bool M_parser_peek_bytes(const M_parser_t *parser, size_t len, unsigned char *buf)
{
	if (parser == nullptr || buf == nullptr || len == 0 || len > parser->len)
		return M_FALSE;
	M_mem_copy(buf, cur_ptr(parser), len);
	return M_TRUE;
}

M_bool M_parser_compare(const M_parser_t *parser, const unsigned char *data, size_t len)
{
	if (parser == nullptr || data == nullptr || len == 0 || len > parser->len)
		return M_FALSE;
	return M_mem_eq(cur_ptr(parser), data, len);
}

M_bool M_parser_compare_str(const M_parser_t *parser, const char *str, size_t max_len, M_bool case_insensitive)
{
	if (parser == nullptr)
		return M_FALSE;
	size_t n = M_str_len(str);
	if (max_len != 0 && max_len < n)
		n = max_len;
	if (n == 0 || n > parser->len)
		return M_FALSE;
	if (!case_insensitive)
		return M_mem_eq(cur_ptr(parser), str, n);
	/* Examine every byte, as the library's comparisons do. */
	const unsigned char *c    = cur_ptr(parser);
	unsigned int         diff = 0;
	for (size_t i = 0; i < n; i++) {
		diff |= static_cast<unsigned char>(M_chr_tolower(static_cast<char>(c[i]))) ^
		        static_cast<unsigned char>(M_chr_tolower(str[i]));
	}
	return diff == 0;
}

/* ----- marks ----------------------------------------------------------- */

void M_parser_mark(M_parser_t *parser)
{
	if (parser == nullptr)
		return;
	/* Moving a set mark releases the bytes it protected. */
	M_parser_mark_clear(parser);
	parser->mark_user   = parser->cur;
	parser->mark_line   = parser->line;
	parser->mark_column = parser->column;
}

void M_parser_mark_clear(M_parser_t *parser)
{
	if (parser == nullptr || !mark_set(parser))
		return;
	wipe(parser, parser->mark_user, parser->cur - parser->mark_user);
	parser->mark_user = kNoMark;
}

size_t M_parser_mark_len(const M_parser_t *parser)
{
	if (parser == nullptr || !mark_set(parser))
		return 0;
	return parser->cur - parser->mark_user;
}

const unsigned char *M_parser_peek_mark(const M_parser_t *parser, size_t *len)
{
	if (len != nullptr)
		*len = 0;
	if (parser == nullptr)
		return nullptr;
	if (!mark_set(parser))
		return cur_ptr(parser);
	if (len != nullptr)
		*len = parser->cur - parser->mark_user;
	return data_start(parser) + parser->mark_user;
}

size_t M_parser_mark_rewind(M_parser_t *parser)
{
	if (parser == nullptr || !mark_set(parser))
		return 0;
	size_t n    = parser->cur - parser->mark_user;
	parser->cur = parser->mark_user;
	parser->len += n;
	parser->consumed -= n;
	parser->line   = parser->mark_line;
	parser->column = parser->mark_column;
	return n;
}

size_t M_parser_reset(M_parser_t *parser)
{
	if (parser == nullptr || !parser->is_const)
		return 0;
	size_t n = parser->cur;
	parser->len += n;
	parser->cur       = 0;
	parser->consumed  = 0;
	parser->line      = 0;
	parser->column    = 0;
	parser->mark_user = kNoMark;
	return n;
}

/* ----- basic reads ----------------------------------------------------- */

M_bool M_parser_read_byte(M_parser_t *parser, unsigned char *byte)
{
	if (parser == nullptr || byte == nullptr || parser->len == 0)
		return M_FALSE;
	*byte = *cur_ptr(parser);
	advance(parser, 1);
	return M_TRUE;
}

M_bool M_parser_read_bytes(M_parser_t *parser, size_t len, unsigned char *buf)
{
	if (parser == nullptr || buf == nullptr || len == 0 || len > parser->len)
		return M_FALSE;
	return take_bytes(parser, len, buf, len) == len;
}

M_bool M_parser_consume(M_parser_t *parser, size_t len)
{
	if (parser == nullptr || len > parser->len)
		return M_FALSE;
	advance(parser, len);
	return M_TRUE;
}

M_bool M_parser_read_uint(M_parser_t *parser, M_parser_integer_type_t type, size_t len, unsigned char base,
                          uint64_t *integer)
{
	if (parser == nullptr || integer == nullptr || parser->len == 0 || len > parser->len)
		return M_FALSE;
	if (type == M_PARSER_INTEGER_BIGENDIAN || type == M_PARSER_INTEGER_LITTLEENDIAN)
		return read_binary(parser, type, len, integer);
	if (type != M_PARSER_INTEGER_ASCII)
		return M_FALSE;

	const char *s   = reinterpret_cast<const char *>(cur_ptr(parser));
	const char *end = nullptr;
	uint64_t    v   = 0;
	if (M_str_to_uint64_ex(s, len == 0 ? parser->len : len, base, &v, &end) != M_STR_INT_SUCCESS || end == nullptr)
		return M_FALSE;
	*integer = v;
	advance(parser, static_cast<size_t>(end - s));
	return M_TRUE;
}

M_bool M_parser_read_int(M_parser_t *parser, M_parser_integer_type_t type, size_t len, unsigned char base,
                         int64_t *integer)
{
	if (parser == nullptr || integer == nullptr || parser->len == 0 || len > parser->len)
		return M_FALSE;
	if (type == M_PARSER_INTEGER_BIGENDIAN || type == M_PARSER_INTEGER_LITTLEENDIAN) {
		uint64_t u = 0;
		if (!read_binary(parser, type, len, &u))
			return M_FALSE;
		*integer = static_cast<int64_t>(u);
		return M_TRUE;
	}
	if (type != M_PARSER_INTEGER_ASCII)
		return M_FALSE;

	const char *s   = reinterpret_cast<const char *>(cur_ptr(parser));
	const char *end = nullptr;
	int64_t     v   = 0;
	if (M_str_to_int64_ex(s, len == 0 ? parser->len : len, base, &v, &end) != M_STR_INT_SUCCESS || end == nullptr)
		return M_FALSE;
	*integer = v;
	advance(parser, static_cast<size_t>(end - s));
	return M_TRUE;
}

M_bool M_parser_read_uint_bcd(M_parser_t *parser, size_t len, uint64_t *integer)
{
	if (parser == nullptr || integer == nullptr || len == 0 || len > 10 || len > parser->len)
		return M_FALSE;
	const unsigned char *c = cur_ptr(parser);
	uint64_t             v = 0;
	for (size_t i = 0; i < len; i++) {
		unsigned int hi = c[i] >> 4;
		unsigned int lo = c[i] & 0x0F;
		if (hi > 9 || lo > 9)
			return M_FALSE;
		unsigned int pair = hi * 10 + lo;
		if (v > (UINT64_MAX - pair) / 100)
			return M_FALSE;
		v = v * 100 + pair;
	}
	*integer = v;
	advance(parser, len);
	return M_TRUE;
}

M_decimal_retval_t M_parser_read_decimal(M_parser_t *parser, size_t len, M_bool truncation_fail, M_decimal_t *decimal)
{
	if (parser == nullptr || decimal == nullptr || parser->len == 0 || len > parser->len) {
		M_decimal_create(decimal);
		return M_DECIMAL_INVALID;
	}
	const char              *s   = reinterpret_cast<const char *>(cur_ptr(parser));
	const char              *end = nullptr;
	const M_decimal_retval_t rv  = M_decimal_from_str(s, len == 0 ? parser->len : len, decimal, &end);
	if (rv == M_DECIMAL_OVERFLOW || rv == M_DECIMAL_INVALID)
		return rv;
	if (rv == M_DECIMAL_TRUNCATION && truncation_fail)
		return rv;
	advance(parser, static_cast<size_t>(end - s));
	return rv;
}

/* ----- consume family -------------------------------------------------- */

size_t M_parser_consume_whitespace(M_parser_t *parser, uint32_t flags)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_whitespace(parser, flags);
	advance(parser, n);
	return n;
}

size_t M_parser_consume_until(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat)
{
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, {pat, len}, eat_pat, &n))
		return 0;
	advance(parser, n);
	return n;
}

size_t M_parser_consume_boundary(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat,
                                 M_bool *found)
{
	bool   f = false;
	size_t n = parser == nullptr ? 0 : measure_boundary(parser, {pat, len}, eat_pat, &f);
	if (found != nullptr)
		*found = f;
	if (parser != nullptr)
		advance(parser, n);
	return n;
}

size_t M_parser_consume_charset(M_parser_t *parser, const unsigned char *charset, size_t len)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_charset(parser, charset, len, false);
	advance(parser, n);
	return n;
}

size_t M_parser_consume_not_charset(M_parser_t *parser, const unsigned char *charset, size_t len)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_charset(parser, charset, len, true);
	advance(parser, n);
	return n;
}

size_t M_parser_consume_predicate(M_parser_t *parser, M_parser_predicate_func func)
{
	return M_parser_consume_predicate_max(parser, func, SIZE_MAX);
}

size_t M_parser_consume_predicate_max(M_parser_t *parser, M_parser_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_test(parser, by_pred(func), max);
	advance(parser, n);
	return n;
}

size_t M_parser_consume_chr_predicate(M_parser_t *parser, M_chr_predicate_func func)
{
	return M_parser_consume_chr_predicate_max(parser, func, SIZE_MAX);
}

size_t M_parser_consume_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_test(parser, by_chr(func), max);
	advance(parser, n);
	return n;
}

size_t M_parser_consume_str_until(M_parser_t *parser, const char *pat, M_bool eat_pat)
{
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, str_pattern(pat), eat_pat, &n))
		return 0;
	advance(parser, n);
	return n;
}

size_t M_parser_consume_str_boundary(M_parser_t *parser, const char *pat, M_bool eat_pat, M_bool *found)
{
	Pattern p = str_pattern(pat);
	return M_parser_consume_boundary(parser, p.pat, p.len, eat_pat, found);
}

size_t M_parser_consume_str_charset(M_parser_t *parser, const char *charset)
{
	return M_parser_consume_charset(parser, reinterpret_cast<const unsigned char *>(charset), M_str_len(charset));
}

size_t M_parser_consume_str_not_charset(M_parser_t *parser, const char *charset)
{
	return M_parser_consume_not_charset(parser, reinterpret_cast<const unsigned char *>(charset), M_str_len(charset));
}

size_t M_parser_consume_eol(M_parser_t *parser)
{
	if (parser == nullptr)
		return 0;
	size_t                         n    = 0;
	static constexpr unsigned char lf[] = {'\n'};
	if (!measure_until(parser, {lf, 1}, true, &n))
		n = parser->len;
	advance(parser, n);
	return n;
}

/* ----- bytes into a caller buffer -------------------------------------- */

size_t M_parser_read_bytes_max(M_parser_t *parser, size_t len, unsigned char *buf, size_t buf_len)
{
	if (parser == nullptr)
		return 0;
	return take_bytes(parser, len < parser->len ? len : parser->len, buf, buf_len);
}

size_t M_parser_read_bytes_until(M_parser_t *parser, unsigned char *buf, size_t buf_len, const unsigned char *pat,
                                 size_t pat_len, M_bool eat_pat)
{
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, {pat, pat_len}, eat_pat, &n))
		return 0;
	return take_bytes(parser, n, buf, buf_len);
}

size_t M_parser_read_bytes_boundary(M_parser_t *parser, unsigned char *buf, size_t buf_len, const unsigned char *pat,
                                    size_t pat_len, M_bool eat_pat, M_bool *found)
{
	bool   f = false;
	size_t r = 0;
	if (parser != nullptr) {
		size_t n = measure_boundary(parser, {pat, pat_len}, eat_pat, &f);
		r        = take_bytes(parser, n, buf, buf_len);
	}
	if (found != nullptr)
		*found = f && r != 0;
	return r;
}

size_t M_parser_read_bytes_charset(M_parser_t *parser, const unsigned char *charset, size_t charset_len,
                                   unsigned char *buf, size_t buf_len)
{
	if (parser == nullptr)
		return 0;
	return take_bytes(parser, measure_charset(parser, charset, charset_len, false), buf, buf_len);
}

size_t M_parser_read_bytes_predicate(M_parser_t *parser, M_parser_predicate_func func, unsigned char *buf,
                                     size_t buf_len)
{
	if (parser == nullptr)
		return 0;
	return take_bytes(parser, measure_test(parser, by_pred(func), SIZE_MAX), buf, buf_len);
}

size_t M_parser_read_bytes_chr_predicate(M_parser_t *parser, M_chr_predicate_func func, unsigned char *buf,
                                         size_t buf_len)
{
	if (parser == nullptr)
		return 0;
	return take_bytes(parser, measure_test(parser, by_chr(func), SIZE_MAX), buf, buf_len);
}

size_t M_parser_read_bytes_mark(M_parser_t *parser, unsigned char *buf, size_t buf_len)
{
	if (parser == nullptr || buf == nullptr)
		return 0;
	return take_marked(parser, size_t{0}, [&](const unsigned char *src, size_t n) -> size_t {
		if (n > buf_len)
			return 0;
		M_mem_copy(buf, src, n);
		return n;
	});
}

/* ----- NUL-terminated strings into a caller buffer --------------------- */

M_bool M_parser_read_str(M_parser_t *parser, size_t len, char *buf, size_t buf_len)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (parser == nullptr || len == 0 || len > parser->len)
		return M_FALSE;
	return take_str(parser, len, buf, buf_len) == len;
}

size_t M_parser_read_str_max(M_parser_t *parser, size_t len, char *buf, size_t buf_len)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (parser == nullptr)
		return 0;
	return take_str(parser, len < parser->len ? len : parser->len, buf, buf_len);
}

size_t M_parser_read_str_until(M_parser_t *parser, char *buf, size_t buf_len, const char *pat, M_bool eat_pat)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, str_pattern(pat), eat_pat, &n))
		return 0;
	return take_str(parser, n, buf, buf_len);
}

size_t M_parser_read_str_boundary(M_parser_t *parser, char *buf, size_t buf_len, const char *pat, M_bool eat_pat,
                                  M_bool *found)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	bool   f = false;
	size_t r = 0;
	if (parser != nullptr)
		r = take_str(parser, measure_boundary(parser, str_pattern(pat), eat_pat, &f), buf, buf_len);
	if (found != nullptr)
		*found = f && r != 0;
	return r;
}

size_t M_parser_read_str_charset(M_parser_t *parser, const char *charset, char *buf, size_t buf_len)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (parser == nullptr)
		return 0;
	return take_str(parser, measure_test(parser, by_str_set(charset), SIZE_MAX), buf, buf_len);
}

size_t M_parser_read_str_predicate(M_parser_t *parser, M_parser_predicate_func func, char *buf, size_t buf_len)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (parser == nullptr)
		return 0;
	return take_str(parser, measure_test(parser, by_pred(func), SIZE_MAX), buf, buf_len);
}

size_t M_parser_read_str_chr_predicate(M_parser_t *parser, M_chr_predicate_func func, char *buf, size_t buf_len)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (parser == nullptr)
		return 0;
	return take_str(parser, measure_test(parser, by_chr(func), SIZE_MAX), buf, buf_len);
}

size_t M_parser_read_str_mark(M_parser_t *parser, char *buf, size_t buf_len)
{
	if (buf != nullptr && buf_len != 0)
		buf[0] = '\0';
	if (parser == nullptr || buf == nullptr)
		return 0;
	return take_marked(parser, size_t{0}, [&](const unsigned char *src, size_t n) -> size_t {
		if (n >= buf_len)
			return 0;
		M_mem_copy(buf, src, n);
		buf[n] = '\0';
		return n;
	});
}

/* ----- new strings ----------------------------------------------------- */

char *M_parser_read_strdup(M_parser_t *parser, size_t len)
{
	if (parser == nullptr || len > parser->len)
		return nullptr;
	return take_strdup(parser, len);
}

char *M_parser_read_strdup_hex(M_parser_t *parser, size_t len)
{
	if (parser == nullptr || len == 0 || len > parser->len || len > (SIZE_MAX - 1) / 2)
		return nullptr;
	const unsigned char *c                 = cur_ptr(parser);
	char                *s                 = static_cast<char *>(M_malloc(len * 2 + 1));
	s[m::detail::hex_encode(c, len, s, 0)] = '\0';
	advance(parser, len);
	return s;
}

char *M_parser_read_strdup_until(M_parser_t *parser, const char *pat, M_bool eat_pat)
{
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, str_pattern(pat), eat_pat, &n))
		return nullptr;
	return take_strdup(parser, n);
}

char *M_parser_read_strdup_boundary(M_parser_t *parser, const char *pat, M_bool eat_pat, M_bool *found)
{
	bool  f = false;
	char *s = nullptr;
	if (parser != nullptr)
		s = take_strdup(parser, measure_boundary(parser, str_pattern(pat), eat_pat, &f));
	if (found != nullptr)
		*found = f && s != nullptr;
	return s;
}

char *M_parser_read_strdup_charset(M_parser_t *parser, const char *charset)
{
	if (parser == nullptr)
		return nullptr;
	return take_strdup(parser, measure_test(parser, by_str_set(charset), SIZE_MAX));
}

char *M_parser_read_strdup_predicate(M_parser_t *parser, M_parser_predicate_func func)
{
	return M_parser_read_strdup_predicate_max(parser, func, SIZE_MAX);
}

char *M_parser_read_strdup_predicate_max(M_parser_t *parser, M_parser_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return nullptr;
	return take_strdup(parser, measure_test(parser, by_pred(func), max));
}

char *M_parser_read_strdup_chr_predicate(M_parser_t *parser, M_chr_predicate_func func)
{
	return M_parser_read_strdup_chr_predicate_max(parser, func, SIZE_MAX);
}

char *M_parser_read_strdup_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return nullptr;
	return take_strdup(parser, measure_test(parser, by_chr(func), max));
}

char *M_parser_read_strdup_mark(M_parser_t *parser)
{
	if (parser == nullptr)
		return nullptr;
	return take_marked(parser, static_cast<char *>(nullptr), dup_str);
}

/* ----- new parsers ----------------------------------------------------- */

M_parser_t *M_parser_read_parser(M_parser_t *parser, size_t len)
{
	if (parser == nullptr || len > parser->len)
		return nullptr;
	return take_parser(parser, len);
}

M_parser_t *M_parser_read_parser_until(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat)
{
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, {pat, len}, eat_pat, &n))
		return nullptr;
	return take_parser(parser, n);
}

M_parser_t *M_parser_read_parser_boundary(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat,
                                          M_bool *found)
{
	bool        f  = false;
	M_parser_t *np = nullptr;
	if (parser != nullptr)
		np = take_parser(parser, measure_boundary(parser, {pat, len}, eat_pat, &f));
	if (found != nullptr)
		*found = f && np != nullptr;
	return np;
}

M_parser_t *M_parser_read_parser_charset(M_parser_t *parser, const unsigned char *charset, size_t len)
{
	if (parser == nullptr)
		return nullptr;
	return take_parser(parser, measure_charset(parser, charset, len, false));
}

M_parser_t *M_parser_read_parser_predicate(M_parser_t *parser, M_parser_predicate_func func)
{
	return M_parser_read_parser_predicate_max(parser, func, SIZE_MAX);
}

M_parser_t *M_parser_read_parser_predicate_max(M_parser_t *parser, M_parser_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return nullptr;
	return take_parser(parser, measure_test(parser, by_pred(func), max));
}

M_parser_t *M_parser_read_parser_chr_predicate(M_parser_t *parser, M_chr_predicate_func func)
{
	return M_parser_read_parser_chr_predicate_max(parser, func, SIZE_MAX);
}

M_parser_t *M_parser_read_parser_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return nullptr;
	return take_parser(parser, measure_test(parser, by_chr(func), max));
}

M_parser_t *M_parser_read_parser_mark(M_parser_t *parser)
{
	if (parser == nullptr)
		return nullptr;
	return take_marked(parser, static_cast<M_parser_t *>(nullptr),
	                   [parser](const unsigned char *src, size_t n) { return new_dynamic(parser->flags, src, n); });
}

/* ----- appending to an M_buf_t ----------------------------------------- */

size_t M_parser_read_buf(M_parser_t *parser, M_buf_t *buf, size_t len)
{
	if (parser == nullptr || len > parser->len)
		return 0;
	return take_buf(parser, len, buf);
}

size_t M_parser_read_buf_hex(M_parser_t *parser, M_buf_t *buf, size_t len)
{
	if (parser == nullptr || buf == nullptr || len == 0 || len > parser->len || len > SIZE_MAX / 2)
		return 0;
	size_t         room = len * 2;
	unsigned char *w    = M_buf_direct_write_start(buf, &room);
	if (w == nullptr || room < len * 2)
		return 0;
	const unsigned char *c = cur_ptr(parser);
	M_buf_direct_write_end(buf, m::detail::hex_encode(c, len, reinterpret_cast<char *>(w), 0));
	advance(parser, len);
	return len;
}

size_t M_parser_read_buf_max(M_parser_t *parser, M_buf_t *buf, size_t len)
{
	if (parser == nullptr)
		return 0;
	return take_buf(parser, len < parser->len ? len : parser->len, buf);
}

size_t M_parser_read_buf_until(M_parser_t *parser, M_buf_t *buf, const unsigned char *pat, size_t len, M_bool eat_pat)
{
	size_t n = 0;
	if (parser == nullptr || !measure_until(parser, {pat, len}, eat_pat, &n))
		return 0;
	return take_buf(parser, n, buf);
}

size_t M_parser_read_buf_boundary(M_parser_t *parser, M_buf_t *buf, const unsigned char *pat, size_t len,
                                  M_bool eat_pat, M_bool *found)
{
	bool   f = false;
	size_t r = 0;
	if (parser != nullptr)
		r = take_buf(parser, measure_boundary(parser, {pat, len}, eat_pat, &f), buf);
	if (found != nullptr)
		*found = f && r != 0;
	return r;
}

size_t M_parser_read_buf_charset(M_parser_t *parser, M_buf_t *buf, const unsigned char *charset, size_t len)
{
	if (parser == nullptr)
		return 0;
	return take_buf(parser, measure_charset(parser, charset, len, false), buf);
}

size_t M_parser_read_buf_not_charset(M_parser_t *parser, M_buf_t *buf, const unsigned char *charset, size_t len)
{
	if (parser == nullptr)
		return 0;
	return take_buf(parser, measure_charset(parser, charset, len, true), buf);
}

size_t M_parser_read_buf_predicate(M_parser_t *parser, M_buf_t *buf, M_parser_predicate_func func)
{
	return M_parser_read_buf_predicate_max(parser, buf, func, SIZE_MAX);
}

size_t M_parser_read_buf_predicate_max(M_parser_t *parser, M_buf_t *buf, M_parser_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return 0;
	return take_buf(parser, measure_test(parser, by_pred(func), max), buf);
}

size_t M_parser_read_buf_chr_predicate(M_parser_t *parser, M_buf_t *buf, M_chr_predicate_func func)
{
	return M_parser_read_buf_chr_predicate_max(parser, buf, func, SIZE_MAX);
}

size_t M_parser_read_buf_chr_predicate_max(M_parser_t *parser, M_buf_t *buf, M_chr_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return 0;
	return take_buf(parser, measure_test(parser, by_chr(func), max), buf);
}

size_t M_parser_read_buf_mark(M_parser_t *parser, M_buf_t *buf)
{
	if (parser == nullptr || buf == nullptr)
		return 0;
	return take_marked(parser, size_t{0}, [buf](const unsigned char *src, size_t n) {
		M_buf_add_bytes(buf, src, n);
		return n;
	});
}

/* ----- truncation ------------------------------------------------------ */

M_bool M_parser_truncate(M_parser_t *parser, size_t len)
{
	if (parser == nullptr || len > parser->len)
		return M_FALSE;
	cut_tail(parser, parser->len - len);
	return M_TRUE;
}

size_t M_parser_truncate_whitespace(M_parser_t *parser, uint32_t flags)
{
	if (parser == nullptr)
		return 0;
	const unsigned char *c = cur_ptr(parser);
	size_t               n = 0;
	while (n < parser->len && is_ws(c[parser->len - 1 - n], flags)) {
		n++;
		if ((flags & M_PARSER_WHITESPACE_TO_NEWLINE) && c[parser->len - n] == '\n')
			break;
	}
	cut_tail(parser, n);
	return n;
}

size_t M_parser_truncate_charset(M_parser_t *parser, const unsigned char *charset, size_t len)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_test_tail(parser, by_set(charset, len), SIZE_MAX);
	cut_tail(parser, n);
	return n;
}

size_t M_parser_truncate_predicate(M_parser_t *parser, M_parser_predicate_func func)
{
	return M_parser_truncate_predicate_max(parser, func, SIZE_MAX);
}

size_t M_parser_truncate_predicate_max(M_parser_t *parser, M_parser_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_test_tail(parser, by_pred(func), max);
	cut_tail(parser, n);
	return n;
}

size_t M_parser_truncate_chr_predicate(M_parser_t *parser, M_chr_predicate_func func)
{
	return M_parser_truncate_chr_predicate_max(parser, func, SIZE_MAX);
}

size_t M_parser_truncate_chr_predicate_max(M_parser_t *parser, M_chr_predicate_func func, size_t max)
{
	if (parser == nullptr)
		return 0;
	size_t n = measure_test_tail(parser, by_chr(func), max);
	cut_tail(parser, n);
	return n;
}

size_t M_parser_truncate_str_charset(M_parser_t *parser, const char *charset)
{
	return M_parser_truncate_charset(parser, reinterpret_cast<const unsigned char *>(charset), M_str_len(charset));
}

size_t M_parser_truncate_until(M_parser_t *parser, const unsigned char *pat, size_t len, M_bool eat_pat)
{
	if (parser == nullptr || pat == nullptr || len == 0 || parser->len == 0)
		return 0;
	const unsigned char *c = cur_ptr(parser);
	const unsigned char *m = static_cast<const unsigned char *>(M_mem_rmem(c, parser->len, pat, len));
	if (m == nullptr)
		return 0;
	size_t keep = static_cast<size_t>(m - c) + (eat_pat ? 0 : len);
	size_t n    = parser->len - keep;
	cut_tail(parser, n);
	return n;
}

size_t M_parser_truncate_str_until(M_parser_t *parser, const char *pat, M_bool eat_pat)
{
	Pattern p = str_pattern(pat);
	return M_parser_truncate_until(parser, p.pat, p.len, eat_pat);
}

/* ----- tests ----------------------------------------------------------- */

M_bool M_parser_is_predicate(const M_parser_t *parser, size_t len, M_parser_predicate_func func)
{
	return is_test(parser, len, by_pred(func), false);
}

M_bool M_parser_is_chr_predicate(const M_parser_t *parser, size_t len, M_chr_predicate_func func)
{
	return is_test(parser, len, by_chr(func), false);
}

M_bool M_parser_is_charset(const M_parser_t *parser, size_t len, const unsigned char *charset, size_t charset_len)
{
	return is_test(parser, len, by_set(charset, charset_len), false);
}

M_bool M_parser_is_str_charset(const M_parser_t *parser, size_t len, const char *charset)
{
	return is_test(parser, len, by_str_set(charset), false);
}

M_bool M_parser_is_not_predicate(const M_parser_t *parser, size_t len, M_parser_predicate_func func)
{
	return is_test(parser, len, by_pred(func), true);
}

M_bool M_parser_is_not_chr_predicate(const M_parser_t *parser, size_t len, M_chr_predicate_func func)
{
	return is_test(parser, len, by_chr(func), true);
}

M_bool M_parser_is_not_charset(const M_parser_t *parser, size_t len, const unsigned char *charset, size_t charset_len)
{
	return is_test(parser, len, by_set(charset, charset_len), true);
}

M_bool M_parser_is_not_str_charset(const M_parser_t *parser, size_t len, const char *charset)
{
	return is_test(parser, len, by_str_set(charset), true);
}

/* ----- split ----------------------------------------------------------- */

M_parser_t **M_parser_split(M_parser_t *parser, unsigned char delim, size_t maxcnt, uint32_t flags, size_t *num_output)
{
	return split_impl(parser, {&delim, 1}, maxcnt, flags, num_output);
}

M_parser_t **M_parser_split_pat(M_parser_t *parser, const unsigned char *pat, size_t len, size_t maxcnt, uint32_t flags,
                                size_t *num_output)
{
	return split_impl(parser, {pat, len}, maxcnt, flags, num_output);
}

M_parser_t **M_parser_split_str_pat(M_parser_t *parser, const char *pat, size_t maxcnt, uint32_t flags,
                                    size_t *num_output)
{
	return split_impl(parser, str_pattern(pat), maxcnt, flags, num_output);
}

void M_parser_split_free(M_parser_t **parsers, size_t num)
{
	if (parsers == nullptr)
		return;
	for (size_t i = 0; i < num; i++)
		M_parser_destroy(parsers[i]);
	M_free(parsers);
}

/* ----- framed message -------------------------------------------------- */

M_parser_frame_error_t M_parser_read_stxetxlrc_message(M_parser_t *parser, M_parser_t **message, uint32_t flags)
{
	if (message != nullptr)
		*message = nullptr;
	if (parser == nullptr || message == nullptr || parser->len < 4)
		return M_PARSER_FRAME_ERROR_INVALID;

	const unsigned char *c = cur_ptr(parser);
	if (c[0] != kStx)
		return M_PARSER_FRAME_ERROR_NO_STX;

	const unsigned char *etx = static_cast<const unsigned char *>(M_mem_chr(c + 1, kEtx, parser->len - 1));
	if (etx == nullptr)
		return M_PARSER_FRAME_ERROR_NO_ETX;
	size_t msg_len   = static_cast<size_t>(etx - (c + 1));
	size_t frame_len = msg_len + 3; /* STX, message, ETX, LRC */
	if (frame_len > parser->len)
		return M_PARSER_FRAME_ERROR_NO_LRC;

	uint8_t lrc = M_mem_calc_lrc(c + 1, msg_len);
	if (flags & M_PARSER_FRAME_LRC_INCLUDE_STX)
		lrc ^= kStx;
	if (flags & M_PARSER_FRAME_LRC_INCLUDE_ETX)
		lrc ^= kEtx;
	if (lrc != etx[1]) {
		/* Drop the damaged frame: leaving it would make every later call
         * stop at the same bytes. */
		advance(parser, frame_len);
		return M_PARSER_FRAME_ERROR_LRC_CALC;
	}

	M_parser_t *msg = new_dynamic(parser->flags, c + 1, msg_len);
	if (msg == nullptr)
		return M_PARSER_FRAME_ERROR_INVALID;
	advance(parser, frame_len);
	*message = msg;
	return M_PARSER_FRAME_ERROR_SUCCESS;
}

} // extern "C"
