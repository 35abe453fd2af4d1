/* Byte buffer.
 *
 * One storage block of alloc_size + 1 bytes holds dropped bytes (0xFF), the
 * content and a terminator. All writes funnel through make_room(), which
 * applies the growth rule: use the free tail if it is strictly larger than the
 * request, else compact the dropped front away, else double the capacity.
 * Compaction happens only when space runs short, so dropping from the front
 * stays constant time and a consumer that drops as it reads never pays for a
 * move per read.
 *
 * Every byte that leaves the content (truncated, dropped, or left behind by
 * compaction) is overwritten with 0xFF here; bytes left behind in a block that
 * growth replaced are wiped by M_realloc.
 */
#include "core/m_buf.h"

#include <cstring>
#include <limits>

#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_num.h"
#include "core/m_text_int.h"

/* Four fields, in this order: the storage pointer and three 64-bit counts. */
struct M_buf {
	unsigned char *data;        /* storage of alloc_size + 1 bytes; NULL until the first write */
	uint64_t       alloc_size;  /* capacity without the terminator byte: 0 or 1024 * 2^k */
	uint64_t       data_length; /* content bytes */
	uint64_t       offset;      /* dropped bytes at the front; content starts at data + offset */
};

static_assert(sizeof(size_t) == sizeof(uint64_t), "the buffer's counts are 64-bit sizes");
static_assert(sizeof(M_buf) == sizeof(void *) + 3 * sizeof(uint64_t), "four fields, no padding");

namespace {

constexpr uint64_t      kFirstCapacity = 1024; /* capacity of the first storage block */
constexpr unsigned char kWipe          = 0xFF; /* pattern for bytes that leave the buffer */

/* Write the terminator after the content. Only called with storage. */
inline void terminate(M_buf_t *buf)
{
	buf->data[buf->offset + buf->data_length] = 0;
}

/* Room for n more bytes by the growth rule. Returns where the bytes go (just
 * past the content) or nullptr when the capacity would overflow; the content
 * length is not changed. */
[[nodiscard]] unsigned char *make_room(M_buf_t *buf, size_t n)
{
	if (n > std::numeric_limits<uint64_t>::max() - buf->data_length)
		return nullptr;
	const uint64_t needed = buf->data_length + n;

	/* 1: strictly below the free room behind the offset: write in place. */
	if (needed < buf->alloc_size - buf->offset)
		return buf->data + buf->offset + buf->data_length;

	/* 2: compact the dropped front away. The copies left behind between the
	 * new terminator and the old end of the content are wiped. */
	if (buf->offset != 0) {
		const uint64_t off = buf->offset;
		std::memmove(buf->data, buf->data + off, buf->data_length);
		buf->offset = 0;
		terminate(buf);
		std::memset(buf->data + buf->data_length + 1, kWipe, off);
	}

	/* 3: fits now. */
	if (needed <= buf->alloc_size)
		return buf->data + buf->data_length;

	/* 4: pick the new capacity by doubling; give up on overflow. */
	uint64_t cap;
	if (buf->data == nullptr) {
		cap = (needed <= kFirstCapacity) ? kFirstCapacity : 2 * kFirstCapacity;
	} else {
		cap = buf->alloc_size * 2;
		if (cap < buf->alloc_size)
			return nullptr;
	}
	while (cap < needed) {
		const uint64_t next = cap * 2;
		if (next < cap)
			return nullptr;
		cap = next;
	}
	/* The block needs one more byte for the terminator; M_malloc refuses sizes
	 * near the top of the range, and a refusal must not lose the content. */
	if (cap >= std::numeric_limits<uint64_t>::max() - 16)
		return nullptr;

	/* 5: move to the larger block; M_realloc wipes the old one. */
	const bool     first = (buf->data == nullptr);
	unsigned char *grown = static_cast<unsigned char *>(M_realloc(buf->data, cap + 1));
	if (grown == nullptr)
		return nullptr;
	buf->data       = grown;
	buf->alloc_size = cap;
	if (first)
		terminate(buf);
	return buf->data + buf->data_length;
}

/* Copy 1 to 64 bytes with fixed-size moves: whole 16-byte blocks and a last
 * block that may overlap the one before it; below 16, the first and the last
 * 8 (or 4) bytes, overlapping in the middle. */
inline void copy_small(unsigned char *dst, const unsigned char *src, size_t len)
{
	if (len > 16) {
		unsigned char block[16];
		for (size_t i = 0; i + 16 < len; i += 16) {
			std::memcpy(block, src + i, 16);
			std::memcpy(dst + i, block, 16);
		}
		std::memcpy(block, src + len - 16, 16);
		std::memcpy(dst + len - 16, block, 16);
	} else if (len >= 8) {
		uint64_t a, b;
		std::memcpy(&a, src, 8);
		std::memcpy(&b, src + len - 8, 8);
		std::memcpy(dst, &a, 8);
		std::memcpy(dst + len - 8, &b, 8);
	} else if (len >= 4) {
		uint32_t a, b;
		std::memcpy(&a, src, 4);
		std::memcpy(&b, src + len - 4, 4);
		std::memcpy(dst, &a, 4);
		std::memcpy(dst + len - 4, &b, 4);
	} else if (len != 0) {
		dst[0]       = src[0];
		dst[len / 2] = src[len / 2];
		dst[len - 1] = src[len - 1];
	}
}

/* Account for n bytes just written at make_room()'s pointer. */
inline void commit(M_buf_t *buf, size_t n)
{
	buf->data_length += n;
	terminate(buf);
}

/* Does the range [p, p + len) share a byte with the buffer's storage block?
 * Addresses are compared as integers: the pointers may be unrelated. */
bool touches_storage(const M_buf_t *buf, const void *p, size_t len)
{
	if (buf == nullptr || buf->data == nullptr || p == nullptr || len == 0)
		return false;
	const uintptr_t at    = reinterpret_cast<uintptr_t>(p);
	const uintptr_t first = reinterpret_cast<uintptr_t>(buf->data);
	return at >= first ? at - first <= buf->alloc_size : first - at < len;
}

/* The same for a string, its terminator included; NULL never touches. */
bool str_touches_storage(const M_buf_t *buf, const char *str)
{
	return str != nullptr && touches_storage(buf, str, std::strlen(str) + 1);
}

/* M_buf_add_bytes when the bytes do not fit behind the content: growth or
 * compaction first. Kept out of line so the common path stays small. */
[[gnu::noinline]] void add_bytes_slow(M_buf_t *buf, const unsigned char *src, size_t len)
{
	/* The source may be the buffer's own storage (from M_buf_peek): growth or
	 * compaction moves it. A range inside the content is found again by its
	 * place relative to the content; any other range that touches the storage
	 * (the dropped front, the terminator, the free tail) is copied out first,
	 * so it is appended as it read on entry. */
	const uintptr_t at      = reinterpret_cast<uintptr_t>(src);
	const uintptr_t start   = reinterpret_cast<uintptr_t>(buf->data) + buf->offset;
	const bool      touches = touches_storage(buf, src, len);
	const bool in_content   = touches && at >= start && len <= buf->data_length && at - start <= buf->data_length - len;
	if (touches && !in_content) {
		unsigned char *copy = static_cast<unsigned char *>(M_memdup(src, len));
		unsigned char *p    = make_room(buf, len);
		if (p != nullptr) {
			std::memcpy(p, copy, len);
			commit(buf, len);
		}
		M_free(copy);
		return;
	}
	const size_t rel = in_content ? static_cast<size_t>(at - start) : 0;

	unsigned char *p = make_room(buf, len);
	if (p == nullptr)
		return;
	if (in_content)
		src = buf->data + buf->offset + rel;
	std::memmove(p, src, len);
	commit(buf, len);
}

using m::detail::decimal_digits;
using m::detail::magnitude;

/* Replace each of len characters at start by fn of it; 0 for a NULL start,
 * else len (the case transforms keep the length). */
size_t map_chars(char *start, size_t len, char (*fn)(char))
{
	if (start == nullptr)
		return 0;
	for (size_t i = 0; i < len; i++)
		start[i] = fn(start[i]);
	return len;
}

using m::detail::JustifyPlan;
using m::detail::plan_justify;

/* Append src justified by plan. src must not point into buf. */
void add_planned(M_buf_t *buf, const JustifyPlan &plan, char fill, const unsigned char *src)
{
	const size_t total = plan.left + plan.keep + plan.right;
	if (buf == nullptr || total == 0)
		return;
	unsigned char *p = make_room(buf, total);
	if (p == nullptr)
		return;
	std::memset(p, static_cast<unsigned char>(fill), plan.left);
	if (plan.keep != 0 && src != nullptr)
		std::memcpy(p + plan.left, src + plan.cut_front, plan.keep);
	std::memset(p + plan.left + plan.keep, static_cast<unsigned char>(fill), plan.right);
	commit(buf, total);
}

/* Apply the transformation steps to the region [start, start + len). */
size_t apply_transform(char *start, size_t len, uint32_t flags)
{
	if (flags & M_BUF_TRANSFORM_UPPER)
		len = M_buf_transform_upper_cb(start, len);
	if (flags & M_BUF_TRANSFORM_LOWER)
		len = M_buf_transform_lower_cb(start, len);
	if (flags & M_BUF_TRANSFORM_LTRIM)
		len = M_buf_transform_ltrim_cb(start, len);
	if (flags & M_BUF_TRANSFORM_RTRIM)
		len = M_buf_transform_rtrim_cb(start, len);
	return len;
}

/* Read an unsigned number from the text as M_str_to_uint64_ex does: leading
 * white space, a sign and a base prefix are taken, and the number ends at the
 * first character that is not a digit of the base; what follows is not an
 * error. Only text without a digit and an overflowing value do not parse. */
bool parse_uint(const char *str, unsigned char base, uint64_t *out)
{
	if (str == nullptr)
		return false;
	return M_str_to_uint64_ex(str, std::strlen(str), base, out, nullptr) == M_STR_INT_SUCCESS;
}

bool uintbin_ok(uint64_t value, size_t width)
{
	if (width < 1 || width > 8)
		return false;
	return width == 8 || value < (uint64_t{1} << (8 * width));
}

bool uintbcd_ok(uint64_t value, size_t width)
{
	return width != 0 && (decimal_digits(value) + 1) / 2 <= width;
}

void write_uintbin(M_buf_t *buf, uint64_t value, size_t width, bool little_endian)
{
	unsigned char tmp[8];
	for (size_t i = 0; i < width; i++) {
		const unsigned char b                  = static_cast<unsigned char>(value >> (8 * i));
		tmp[little_endian ? i : width - 1 - i] = b;
	}
	M_buf_add_bytes(buf, tmp, width);
}

void write_uintbcd(M_buf_t *buf, uint64_t value, size_t width)
{
	unsigned char *p = make_room(buf, width);
	if (p == nullptr)
		return;
	std::memset(p, 0, width);
	for (size_t i = width; i-- > 0 && value != 0;) {
		const unsigned lo = static_cast<unsigned>(value % 10);
		value /= 10;
		const unsigned hi = static_cast<unsigned>(value % 10);
		value /= 10;
		p[i] = static_cast<unsigned char>((hi << 4) | lo);
	}
	commit(buf, width);
}

/* Append and destroy each buffer, with sep after every entry but the last. */
void join_bufs(M_buf_t *buf, const void *sep, size_t sep_len, M_buf_t **bufs, size_t count)
{
	if (bufs == nullptr)
		return;
	/* A separator inside the buffer's storage would move away as it grows. */
	unsigned char *own =
	    touches_storage(buf, sep, sep_len) ? static_cast<unsigned char *>(M_memdup(sep, sep_len)) : nullptr;
	if (own != nullptr)
		sep = own;
	for (size_t i = 0; i < count; i++) {
		M_buf_merge(buf, bufs[i]);
		if (i + 1 < count)
			M_buf_add_bytes(buf, sep, sep_len);
	}
	M_free(own);
}

/* Does any of the strings (or the separator) lie in the buffer's storage? */
bool strs_touch_storage(const M_buf_t *buf, const char *sep, const char *const *strs, size_t count)
{
	if (buf == nullptr || buf->data == nullptr)
		return false;
	if (str_touches_storage(buf, sep))
		return true;
	for (size_t i = 0; i < count; i++) {
		if (str_touches_storage(buf, strs[i]))
			return true;
	}
	return false;
}

/* Join count strings with sep (sep_len bytes) between them. sep_may_touch:
 * sep is the caller's and may point into buf's own storage. */
void join_strs(M_buf_t *buf, const char *sep, size_t sep_len, bool sep_may_touch, const char *const *strs, size_t count)
{
	if (strs == nullptr)
		return;
	if (strs_touch_storage(buf, sep_may_touch ? sep : nullptr, strs, count)) { /* read while the buffer grows */
		M_buf_t *tmp = M_buf_create();
		join_strs(tmp, sep, sep_len, false, strs, count);
		M_buf_merge(buf, tmp);
		return;
	}
	for (size_t i = 0; i < count; i++) {
		M_buf_add_str(buf, strs[i]);
		if (i + 1 < count)
			M_buf_add_bytes(buf, sep, sep_len);
	}
}

/* A number of exactly width characters: the sign, zeros, the digits of mag.
 * They are written straight into the room behind the content, so a wide field
 * needs no scratch of its size. M_FALSE when they do not fit (or width is 0);
 * with buf NULL only says whether they would. */
M_bool add_decimal_just(M_buf_t *buf, bool negative, uint64_t mag, size_t width)
{
	const size_t need = decimal_digits(mag) + (negative ? 1 : 0);
	if (width == 0 || width < need)
		return M_FALSE;
	if (buf == nullptr)
		return M_TRUE;
	unsigned char *p = make_room(buf, width);
	if (p == nullptr)
		return M_FALSE;
	size_t pos = 0;
	if (negative)
		p[pos++] = '-';
	std::memset(p + pos, '0', width - need);
	m::detail::put_decimal_backwards(reinterpret_cast<char *>(p + width), mag);
	commit(buf, width);
	return M_TRUE;
}

} // namespace

extern "C" {

/* ---------------------------------------------------------------------------
 * Lifetime and access
 * ------------------------------------------------------------------------- */

M_buf_t *M_buf_create(void)
{
	return static_cast<M_buf_t *>(M_malloc_zero(sizeof(M_buf_t)));
}

void M_buf_cancel(M_buf_t *buf)
{
	if (buf == nullptr)
		return;
	M_free(buf->data);
	M_free(buf);
}

unsigned char *M_buf_finish(M_buf_t *buf, size_t *out_len)
{
	if (out_len != nullptr)
		*out_len = 0;
	if (buf == nullptr)
		return nullptr;

	unsigned char *data = buf->data;
	if (data != nullptr && buf->offset != 0) {
		/* The caller gets a plain block that starts with the content. The copies
		 * left behind the new terminator are wiped like any dropped bytes. */
		const uint64_t off = buf->offset;
		std::memmove(data, data + off, buf->data_length);
		data[buf->data_length] = 0;
		std::memset(data + buf->data_length + 1, kWipe, off);
	}
	if (out_len != nullptr && data != nullptr)
		*out_len = buf->data_length;
	M_free(buf);
	return data;
}

char *M_buf_finish_str(M_buf_t *buf, size_t *out_len)
{
	return reinterpret_cast<char *>(M_buf_finish(buf, out_len));
}

size_t M_buf_len(const M_buf_t *buf)
{
	return buf == nullptr ? 0 : buf->data_length;
}

size_t M_buf_alloc_size(const M_buf_t *buf)
{
	if (buf == nullptr)
		return 0;
	return buf->data == nullptr ? kFirstCapacity : buf->alloc_size;
}

const char *M_buf_peek(const M_buf_t *buf)
{
	if (buf == nullptr || buf->data == nullptr)
		return nullptr;
	return reinterpret_cast<const char *>(buf->data + buf->offset);
}

/* The cut-off tail is wiped at once: a buffer emptied for reuse must not keep
 * the previous content (key text, decrypted rows) behind its terminator. */
void M_buf_truncate(M_buf_t *buf, size_t len)
{
	if (buf == nullptr || buf->data == nullptr || buf->data_length <= len)
		return;
	std::memset(buf->data + buf->offset + len, kWipe, buf->data_length - len);
	buf->data_length = len;
	terminate(buf);
}

/* Constant time apart from the wipe: the content is not moved here but only
 * when an append runs short of room (see make_room). */
void M_buf_drop(M_buf_t *buf, size_t n)
{
	if (buf == nullptr || buf->data == nullptr)
		return;
	if (n > buf->data_length)
		n = buf->data_length;
	if (n == 0)
		return;
	std::memset(buf->data + buf->offset, kWipe, n);
	buf->offset += n;
	buf->data_length -= n;
}

/* The end first, so the front scan never walks over bytes about to be cut. */
void M_buf_trim(M_buf_t *buf)
{
	if (buf == nullptr || buf->data == nullptr)
		return;
	const unsigned char *s   = buf->data + buf->offset;
	size_t               end = buf->data_length;
	while (end > 0 && M_chr_isspace(static_cast<char>(s[end - 1])))
		end--;
	M_buf_truncate(buf, end);
	size_t start = 0;
	while (start < buf->data_length && M_chr_isspace(static_cast<char>(s[start])))
		start++;
	M_buf_drop(buf, start);
}

unsigned char *M_buf_direct_write_start(M_buf_t *buf, size_t *len)
{
	if (buf == nullptr || len == nullptr || *len == 0)
		return nullptr;
	unsigned char *p = make_room(buf, *len);
	if (p == nullptr)
		return nullptr;
	*len = buf->alloc_size - buf->offset - buf->data_length;
	return p;
}

/* A length beyond the window would put the terminator (and later appends)
 * outside the storage, so it is refused rather than trusted. */
void M_buf_direct_write_end(M_buf_t *buf, size_t len)
{
	if (buf == nullptr || len == 0 || buf->data == nullptr)
		return;
	if (len > buf->alloc_size - buf->offset - buf->data_length)
		return;
	commit(buf, len);
}

/* ---------------------------------------------------------------------------
 * Appending bytes and strings
 * ------------------------------------------------------------------------- */

void M_buf_add_bytes(M_buf_t *buf, const void *bytes, size_t len)
{
	if (buf == nullptr || bytes == nullptr || len == 0)
		return;
	const unsigned char *src = static_cast<const unsigned char *>(bytes);

	/* Fast path: strictly below the free room, no growth or compaction. */
	if (len < buf->alloc_size - buf->offset - buf->data_length) {
		unsigned char *dst = buf->data + buf->offset + buf->data_length;
		/* A source that runs from the content into the room behind it (the
		 * terminator, say) overlaps the destination: copied apart, slowly. */
		const uintptr_t s = reinterpret_cast<uintptr_t>(src);
		const uintptr_t d = reinterpret_cast<uintptr_t>(dst);
		if (s < d + len && d < s + len) {
			add_bytes_slow(buf, src, len);
			return;
		}
		/* Output is built from many tiny pieces (separators, single cells);
		 * fixed-size, possibly overlapping copies beat a call into the C
		 * library for those. */
		if (len <= 64)
			copy_small(dst, src, len);
		else
			std::memcpy(dst, src, len);
		buf->data_length += len;
		dst[len] = 0;
		return;
	}

	add_bytes_slow(buf, src, len);
}

void M_buf_add_byte(M_buf_t *buf, unsigned char byte)
{
	M_buf_add_bytes(buf, &byte, 1);
}

void M_buf_add_char(M_buf_t *buf, char ch)
{
	M_buf_add_bytes(buf, &ch, 1);
}

void M_buf_add_fill(M_buf_t *buf, unsigned char byte, size_t count)
{
	if (buf == nullptr || count == 0)
		return;
	unsigned char *p = make_room(buf, count);
	if (p == nullptr)
		return;
	std::memset(p, byte, count);
	commit(buf, count);
}

void M_buf_add_str(M_buf_t *buf, const char *str)
{
	if (str == nullptr)
		return;
	M_buf_add_bytes(buf, str, std::strlen(str));
}

void M_buf_add_str_upper(M_buf_t *buf, const char *str)
{
	M_buf_add_str_transform(buf, M_BUF_TRANSFORM_UPPER, str);
}

void M_buf_add_str_lower(M_buf_t *buf, const char *str)
{
	M_buf_add_str_transform(buf, M_BUF_TRANSFORM_LOWER, str);
}

void M_buf_add_str_transform(M_buf_t *buf, uint32_t flags, const char *str)
{
	if (buf == nullptr || str == nullptr || *str == '\0')
		return;
	const size_t before = buf->data_length;
	M_buf_add_str(buf, str);
	if (buf->data_length == before)
		return; /* refused by the growth rule */
	char  *start = reinterpret_cast<char *>(buf->data + buf->offset + before);
	size_t len   = buf->data_length - before;
	/* Each step corrects the length; the bytes a trim gives up are wiped. */
	const size_t newlen = apply_transform(start, len, flags);
	M_buf_truncate(buf, before + newlen);
}

size_t M_buf_transform_upper_cb(char *start, size_t len)
{
	return map_chars(start, len, M_chr_toupper);
}

size_t M_buf_transform_lower_cb(char *start, size_t len)
{
	return map_chars(start, len, M_chr_tolower);
}

size_t M_buf_transform_ltrim_cb(char *start, size_t len)
{
	if (start == nullptr)
		return 0;
	size_t skip = 0;
	while (skip < len && M_chr_isspace(start[skip]))
		skip++;
	if (skip != 0)
		std::memmove(start, start + skip, len - skip);
	return len - skip;
}

size_t M_buf_transform_rtrim_cb(char *start, size_t len)
{
	if (start == nullptr)
		return 0;
	while (len > 0 && M_chr_isspace(start[len - 1]))
		len--;
	return len;
}

void M_buf_add_str_hex(M_buf_t *buf, const char *str)
{
	if (buf == nullptr || str == nullptr || *str == '\0')
		return;
	if (str_touches_storage(buf, str)) { /* growth would move the text away */
		M_buf_t *tmp = M_buf_create();
		M_buf_add_str_hex(tmp, str);
		M_buf_merge(buf, tmp);
		return;
	}
	const size_t len = std::strlen(str);
	if (len > std::numeric_limits<size_t>::max() / 2)
		return;
	unsigned char *p = make_room(buf, len * 2);
	if (p == nullptr)
		return;
	commit(buf,
	       m::detail::hex_encode(reinterpret_cast<const unsigned char *>(str), len, reinterpret_cast<char *>(p), 0));
}

M_bool M_buf_add_bytes_hex(M_buf_t *buf, const char *hex)
{
	/* Unlike the other checked appends, a missing buffer is a failure here: a
	 * caller decoding key material must not mistake "nowhere to put it" for
	 * success. */
	if (buf == nullptr)
		return M_FALSE;
	if (hex == nullptr || *hex == '\0')
		return M_TRUE;
	const size_t len = std::strlen(hex);
	if (len % 2 != 0)
		return M_FALSE;
	if (touches_storage(buf, hex, len)) { /* growth would move the text away */
		M_buf_t     *tmp = M_buf_create();
		const M_bool ok  = M_buf_add_bytes_hex(tmp, hex);
		M_buf_merge(buf, tmp);
		return ok;
	}
	unsigned char *p = make_room(buf, len / 2);
	if (p == nullptr)
		return M_FALSE;
	commit(buf, m::detail::hex_decode(hex, len, p));
	return M_TRUE;
}

size_t M_buf_add_str_lines(M_buf_t *buf, const char *str, size_t max_lines, size_t max_chars, M_bool truncate,
                           const char *newline)
{
	if (str == nullptr || *str == '\0')
		return 0;
	size_t count = 0;
	char **lines = M_str_explode_lines(max_lines, max_chars, str,
	                                   truncate ? M_STR_EXPLODE_LINES_TRUNCATE : M_STR_EXPLODE_LINES_NONE, &count);
	if (lines == nullptr)
		return 0;
	if (str_touches_storage(buf, newline)) { /* the ending is read while the buffer grows */
		M_buf_t *tmp = M_buf_create();
		for (size_t i = 0; i < count; i++) {
			M_buf_add_str(tmp, lines[i]);
			M_buf_add_str(tmp, newline);
		}
		M_buf_merge(buf, tmp);
		M_str_explode_free(lines, count);
		return count;
	}
	for (size_t i = 0; i < count; i++) {
		M_buf_add_str(buf, lines[i]);
		M_buf_add_str(buf, newline);
	}
	M_str_explode_free(lines, count);
	return count;
}

/* ---------------------------------------------------------------------------
 * Justified appends
 * ------------------------------------------------------------------------- */

M_bool M_buf_add_bytes_just(M_buf_t *buf, M_str_justify_type_t justify_type, char fill, const void *bytes, size_t len,
                            size_t width)
{
	if (bytes == nullptr)
		len = 0;
	JustifyPlan plan;
	if (width == 0 || !plan_justify(justify_type, len, width, &plan))
		return M_FALSE;
	if (buf == nullptr)
		return M_TRUE;

	/* The source may be the buffer's own content: justify from a copy. */
	const unsigned char *src = static_cast<const unsigned char *>(bytes);
	if (touches_storage(buf, src, len)) {
		unsigned char *copy = static_cast<unsigned char *>(M_memdup(src, len));
		add_planned(buf, plan, fill, copy);
		M_free(copy);
		return M_TRUE;
	}
	add_planned(buf, plan, fill, src);
	return M_TRUE;
}

M_bool M_buf_add_str_just(M_buf_t *buf, M_str_justify_type_t justify_type, char fill, const char *str, size_t width)
{
	return M_buf_add_bytes_just(buf, justify_type, fill, str, str == nullptr ? 0 : std::strlen(str), width);
}

M_bool M_buf_add_str_just_transform(M_buf_t *buf, M_str_justify_type_t justify_type, uint32_t flags, char fill,
                                    const char *str, size_t width)
{
	if (str == nullptr || *str == '\0' || flags == M_BUF_TRANSFORM_NONE)
		return M_buf_add_str_just(buf, justify_type, fill, str, width);
	/* Transform a private copy first so trimmed white space does not count
	 * towards the width. */
	const size_t len  = std::strlen(str);
	char        *copy = static_cast<char *>(M_memdup(str, len));
	const size_t n    = apply_transform(copy, len, flags);
	const M_bool ok   = M_buf_add_bytes_just(buf, justify_type, fill, copy, n, width);
	M_free(copy);
	return ok;
}

/* ---------------------------------------------------------------------------
 * Numbers as text
 * ------------------------------------------------------------------------- */

void M_buf_add_int(M_buf_t *buf, int64_t value)
{
	char  scratch[32];
	char *end = scratch + sizeof(scratch);
	char *p   = m::detail::put_decimal_backwards(end, magnitude(value));
	if (value < 0)
		*--p = '-';
	M_buf_add_bytes(buf, p, static_cast<size_t>(end - p));
}

void M_buf_add_uint(M_buf_t *buf, uint64_t value)
{
	char  scratch[32];
	char *end = scratch + sizeof(scratch);
	char *p   = m::detail::put_decimal_backwards(end, value);
	M_buf_add_bytes(buf, p, static_cast<size_t>(end - p));
}

M_bool M_buf_add_int_just(M_buf_t *buf, int64_t value, size_t width)
{
	return add_decimal_just(buf, value < 0, magnitude(value), width);
}

M_bool M_buf_add_uint_just(M_buf_t *buf, uint64_t value, size_t width)
{
	return add_decimal_just(buf, false, value, width);
}

M_bool M_buf_add_uinthex(M_buf_t *buf, uint64_t value, M_bool upper, size_t width)
{
	char         scratch[32];
	char        *end = scratch + sizeof(scratch);
	char        *p   = m::detail::put_hex_backwards(end, value, upper);
	const size_t len = static_cast<size_t>(end - p);
	if (width != 0 && len > width)
		return M_FALSE;
	if (buf == nullptr)
		return M_TRUE;
	if (width > len)
		M_buf_add_fill(buf, '0', width - len);
	M_buf_add_bytes(buf, p, len);
	return M_TRUE;
}

void M_buf_add_bytehex(M_buf_t *buf, unsigned char byte, M_bool upper)
{
	const char *digits  = m::detail::hex_digits(upper);
	const char  pair[2] = {digits[byte >> 4], digits[byte & 0xF]};
	M_buf_add_bytes(buf, pair, 2);
}

void M_buf_add_ptr(M_buf_t *buf, const void *ptr)
{
	char  scratch[64];
	char *end = scratch + sizeof(scratch);
	char *p   = m::detail::put_hex_backwards(end, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(ptr)), false);
	*--p      = 'x';
	*--p      = '0';
	M_buf_add_bytes(buf, p, static_cast<size_t>(end - p));
}

/* ---------------------------------------------------------------------------
 * Numbers as binary
 * ------------------------------------------------------------------------- */

M_bool M_buf_add_uintbin(M_buf_t *buf, uint64_t value, size_t width, M_bool little_endian)
{
	if (!uintbin_ok(value, width))
		return M_FALSE;
	write_uintbin(buf, value, width, little_endian);
	return M_TRUE;
}

M_bool M_buf_add_uintbcd(M_buf_t *buf, uint64_t value, size_t width)
{
	if (!uintbcd_ok(value, width))
		return M_FALSE;
	if (buf != nullptr)
		write_uintbcd(buf, value, width);
	return M_TRUE;
}

M_bool M_buf_add_uintstrbin(M_buf_t *buf, const char *str, unsigned char base, size_t width, M_bool little_endian)
{
	uint64_t value = 0;
	if (!parse_uint(str, base, &value))
		return M_FALSE;
	return M_buf_add_uintbin(buf, value, width, little_endian);
}

M_bool M_buf_add_uintstrbcd(M_buf_t *buf, const char *str, unsigned char base, size_t width)
{
	uint64_t value = 0;
	if (!parse_uint(str, base, &value))
		return M_FALSE;
	return M_buf_add_uintbcd(buf, value, width);
}

/* ---------------------------------------------------------------------------
 * Replacing and quoting
 * ------------------------------------------------------------------------- */

M_bool M_buf_add_bytes_replace(M_buf_t *buf, const void *bytes, size_t len, const void *search, size_t search_len,
                               const void *repl, size_t repl_len)
{
	if (search == nullptr || search_len == 0)
		return M_FALSE;
	if (buf == nullptr || bytes == nullptr || len == 0)
		return M_TRUE;
	if (repl == nullptr)
		repl_len = 0;
	if (touches_storage(buf, bytes, len) || touches_storage(buf, search, search_len) ||
	    touches_storage(buf, repl, repl_len)) {
		/* The inputs are read while the buffer grows: build apart, then append. */
		M_buf_t *tmp = M_buf_create();
		M_buf_add_bytes_replace(tmp, bytes, len, search, search_len, repl, repl_len);
		M_buf_merge(buf, tmp);
		return M_TRUE;
	}

	const unsigned char *p   = static_cast<const unsigned char *>(bytes);
	const unsigned char *end = p + len;
	while (p < end) {
		const void *hit = M_mem_mem(p, static_cast<size_t>(end - p), search, search_len);
		if (hit == nullptr)
			break;
		const unsigned char *h = static_cast<const unsigned char *>(hit);
		M_buf_add_bytes(buf, p, static_cast<size_t>(h - p));
		M_buf_add_bytes(buf, repl, repl_len);
		p = h + search_len;
	}
	M_buf_add_bytes(buf, p, static_cast<size_t>(end - p));
	return M_TRUE;
}

M_bool M_buf_add_str_replace(M_buf_t *buf, const char *str, const char *search, const char *repl)
{
	return M_buf_add_bytes_replace(buf, str, str == nullptr ? 0 : std::strlen(str), search,
	                               search == nullptr ? 0 : std::strlen(search), repl,
	                               repl == nullptr ? 0 : std::strlen(repl));
}

M_bool M_buf_add_str_quoted(M_buf_t *buf, char quote, char escape, const char *quote_chars, uint32_t flags,
                            const char *str)
{
	if (str == nullptr)
		str = "";

	bool need = (flags & M_BUF_QUOTE_FLAG_ALWAYS) != 0 || ((flags & M_BUF_QUOTE_FLAG_EMPTY) != 0 && *str == '\0');
	for (const char *s = str; !need && *s != '\0'; s++) {
		if (*s == quote || (escape != '\0' && *s == escape) ||
		    (quote_chars != nullptr && std::strchr(quote_chars, *s) != nullptr))
			need = true;
	}
	/* A string that needs no quotes goes out unchanged whatever the quote
	 * character; one that needs them cannot be enclosed in a 0 byte, which
	 * would end the text early for every reader of it as a string. */
	if (need && quote == '\0')
		return M_FALSE;
	if (buf == nullptr)
		return M_TRUE;
	if (!need) {
		M_buf_add_str(buf, str);
		return M_TRUE;
	}
	if (str_touches_storage(buf, str)) { /* the text is read while the buffer grows */
		M_buf_t     *tmp = M_buf_create();
		const M_bool ok  = M_buf_add_str_quoted(tmp, quote, escape, quote_chars, flags, str);
		M_buf_merge(buf, tmp);
		return ok;
	}

	/* Without an escape character a quote inside is doubled, as CSV does.
	 * Characters are copied in runs; each quote or escape character ends a run
	 * and is preceded by the escape before the next run starts with it. */
	const char esc = (escape != '\0') ? escape : quote;
	M_buf_add_char(buf, quote);
	const char *run = str;
	for (const char *s = str; *s != '\0'; s++) {
		if (*s == quote || *s == esc) {
			M_buf_add_bytes(buf, run, static_cast<size_t>(s - run));
			M_buf_add_char(buf, esc);
			run = s; /* the character itself goes out with the next run */
		}
	}
	M_buf_add_str(buf, run);
	M_buf_add_char(buf, quote);
	return M_TRUE;
}

/* ---------------------------------------------------------------------------
 * Merging and joining
 * ------------------------------------------------------------------------- */

/* Merging a buffer into itself would append freed storage: refused. */
void M_buf_merge(M_buf_t *dest, M_buf_t *src)
{
	if (src == nullptr || src == dest)
		return;
	if (dest != nullptr && src->data != nullptr)
		M_buf_add_bytes(dest, src->data + src->offset, src->data_length);
	M_buf_cancel(src);
}

void M_buf_bjoin_buf(M_buf_t *buf, unsigned char sep, M_buf_t **bufs, size_t count)
{
	join_bufs(buf, &sep, 1, bufs, count);
}

void M_buf_sjoin_buf(M_buf_t *buf, const char *sep, M_buf_t **bufs, size_t count)
{
	join_bufs(buf, sep, sep == nullptr ? 0 : std::strlen(sep), bufs, count);
}

void M_buf_bjoin_str(M_buf_t *buf, unsigned char sep, const char *const *strs, size_t count)
{
	const char byte = static_cast<char>(sep);
	join_strs(buf, &byte, 1, false, strs, count);
}

void M_buf_sjoin_str(M_buf_t *buf, const char *sep, const char *const *strs, size_t count)
{
	join_strs(buf, sep, sep == nullptr ? 0 : std::strlen(sep), true, strs, count);
}

} // extern "C"
