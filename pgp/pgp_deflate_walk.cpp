/* The walk over a raw DEFLATE stream's blocks that finds where its last block
 * starts, so that streams compressed apart can be joined into one.
 *
 * Only the positions are wanted, not the inflated bytes, so the walk decodes
 * each Huffman symbol and skips it with its extra bits, and copies nothing.
 * Every check inflating would make is made all the same (code sets that are
 * over-subscribed or incomplete, symbols no block may use, repeats past the
 * code lengths, stored lengths that disagree, distances reaching before the
 * stream's start), so a stream the walk accepts is exactly one zlib inflates.
 * Distances can only reach too far back within the first 32 KiB of output;
 * after that the lengths are no longer added up. */
#include "pgp/pgp_deflate_walk_int.h"

#include <cstring>
#include <new>

#include "core/m_mem.h"

namespace m::detail {

namespace {

constexpr unsigned kMaxBits  = 15;
constexpr unsigned kRootBits = 11; /* bits of the first lookup */
constexpr unsigned kSubBits  = kMaxBits - kRootBits;
constexpr uint64_t kWindow   = 32768;

/* One table entry, 32 bits: in bits 0-4 the bits the symbol takes with its
 * extra bits, bits 5-6 its kind, bits 8-11 the code's length, bits 12-15 the
 * extra bits' count (of a literal entry: the literals it stands for) and
 * bits 16-31 the base value (a length or a distance), or for kSub the
 * subtable's offset. */
enum : uint32_t { kEnd = 0, kLiteral = 1, kMatch = 2, kSub = 3 };
constexpr uint32_t kInvalid = 0; /* an end that takes 0 bits; zeroed tables hold it */

constexpr uint32_t entry(unsigned total, uint32_t kind, unsigned code_len, unsigned extra, unsigned base) noexcept
{
	return total | kind << 5 | code_len << 8 | extra << 12 | static_cast<uint32_t>(base) << 16;
}

constexpr unsigned total_of(uint32_t e) noexcept
{
	return e & 31;
}

constexpr uint32_t kind_of(uint32_t e) noexcept
{
	return e >> 5 & 3;
}

/* The value a length or distance entry stands for, from the bits in front. */
unsigned value_of(uint32_t e, uint64_t bits) noexcept
{
	const unsigned code_len = e >> 8 & 15;
	const unsigned extra    = e >> 12 & 15;
	return (e >> 16) + static_cast<unsigned>((bits >> code_len) & ((1U << extra) - 1));
}

/* The symbols' meanings (RFC 1951 3.2.5): bases and extra bits of the length
 * symbols 257-285 and of the distance symbols 0-29. */
constexpr unsigned short kLenBase[29]   = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned char  kLenExtra[29]  = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned short kDistBase[30]  = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                           33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned char  kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

enum class alphabet { codes, litlen, dist };

/* The entry of symbol sym with a code of len bits in the given alphabet.
 * Symbols no stream may use (literal/length 286 and 287, distances 30 and
 * 31) get kInvalid, as inflating rejects them when they appear. */
uint32_t symbol_entry(alphabet a, unsigned sym, unsigned len) noexcept
{
	if (a == alphabet::codes)
		return entry(len, kLiteral, len, 0, sym);
	if (a == alphabet::dist)
		return sym < 30 ? entry(len + kDistExtra[sym], kMatch, len, kDistExtra[sym], kDistBase[sym]) : kInvalid;
	if (sym < 256)
		return entry(len, kLiteral, len, 1, 0);
	if (sym == 256)
		return entry(len, kEnd, len, 0, 0);
	sym -= 257;
	return sym < 29 ? entry(len + kLenExtra[sym], kMatch, len, kLenExtra[sym], kLenBase[sym]) : kInvalid;
}

/* A decoding table: 2^kRootBits entries looked up by the next bits, and
 * subtables of 2^kSubBits for codes longer than kRootBits (at most one per
 * root entry that a long code starts with, so at most one per symbol). */
struct table {
	uint32_t root[1U << kRootBits];
	uint32_t sub[288][1U << kSubBits];
};

unsigned reverse_bits(unsigned code, unsigned len) noexcept
{
	unsigned r = 0;
	for (unsigned i = 0; i < len; i++, code >>= 1)
		r = r << 1 | (code & 1);
	return r;
}

/* Builds t for the n code lengths in lens. False when the lengths are
 * over-subscribed, or incomplete other than by inflating's one exception
 * (a single code of one bit in a literal/length or distance set). A set
 * with no codes at all is accepted; its symbols are then all invalid. */
bool build(table &t, alphabet a, const unsigned char *lens, unsigned n) noexcept
{
	unsigned count[kMaxBits + 1] = {};
	for (unsigned s = 0; s < n; s++)
		count[lens[s]]++;
	count[0]      = 0;
	int      left = 1;
	unsigned max  = 0;
	for (unsigned len = 1; len <= kMaxBits; len++) {
		left = left * 2 - static_cast<int>(count[len]);
		if (left < 0)
			return false;
		if (count[len] != 0)
			max = len;
	}
	if (left > 0 && max != 0 && (a == alphabet::codes || max != 1))
		return false;
	std::memset(t.root, 0, sizeof(t.root));
	unsigned next[kMaxBits + 2] = {};
	for (unsigned len = 1; len <= kMaxBits; len++)
		next[len + 1] = (next[len] + count[len]) << 1;
	unsigned subs = 0;
	for (unsigned s = 0; s < n; s++) {
		const unsigned len = lens[s];
		if (len == 0)
			continue;
		const unsigned code = reverse_bits(next[len]++, len);
		const uint32_t e    = symbol_entry(a, s, len);
		if (len <= kRootBits) {
			for (unsigned i = code; i < (1U << kRootBits); i += 1U << len)
				t.root[i] = e;
			continue;
		}
		uint32_t &r = t.root[code & ((1U << kRootBits) - 1)];
		if (kind_of(r) != kSub) {
			std::memset(t.sub[subs], 0, sizeof(t.sub[subs]));
			r = entry(kRootBits, kSub, 0, 0, subs++);
		}
		for (unsigned i = code >> kRootBits; i < (1U << kSubBits); i += 1U << (len - kRootBits))
			t.sub[r >> 16][i] = e;
	}
	return true;
}

/* Literal runs: a root entry whose literal leaves room within the bits
 * looked up for more whole literal codes stands for all of them. Only their
 * number matters to the walk, so one lookup skips several. */
void join_literals(table &t) noexcept
{
	uint32_t one[1U << kRootBits];
	std::memcpy(one, t.root, sizeof(one));
	for (unsigned i = 0; i < (1U << kRootBits); i++) {
		if (kind_of(one[i]) != kLiteral)
			continue;
		unsigned bits  = total_of(one[i]);
		unsigned count = 1;
		/* i >> bits holds kRootBits - bits known bits (zeros above them): the
		 * entry there is right for any code no longer than that. */
		for (uint32_t f = one[i >> bits]; kind_of(f) == kLiteral && total_of(f) <= kRootBits - bits && count < 15;
		     f          = one[i >> bits]) {
			bits += total_of(f);
			count++;
		}
		t.root[i] = entry(bits, kLiteral, 0, count, 0);
	}
}

/* Lookup of the symbol in front of bits (at least kMaxBits of them valid). */
uint32_t lookup(const table &t, uint64_t bits) noexcept
{
	const uint32_t e = t.root[bits & ((1U << kRootBits) - 1)];
	if (kind_of(e) != kSub)
		return e;
	return t.sub[e >> 16][(bits >> kRootBits) & ((1U << kSubBits) - 1)];
}

/* Bits read least significant first from s[0 .. len). Past the end zero
 * bytes are fed, counted in over, so a truncated stream is seen for what it
 * is by its position and never read outside s. */
struct bit_reader {
	const unsigned char *start;
	const unsigned char *p;
	const unsigned char *e;
	uint64_t             buf  = 0;
	unsigned             n    = 0;
	uint64_t             over = 0;

	/* At least 56 bits in buf afterwards. False once more than 8 bytes of
	 * padding were fed, which puts the position past the end for certain:
	 * a stream cut short ends there instead of decoding zeros forever. */
	bool refill() noexcept
	{
		if (e - p >= 8) {
			uint64_t w = 0;
			for (unsigned i = 0; i < 8; i++)
				w |= static_cast<uint64_t>(p[i]) << (8 * i);
			buf |= w << n;
			p += (63 - n) >> 3;
			n |= 56;
			return true;
		}
		for (; n <= 56; n += 8)
			buf |= static_cast<uint64_t>(p < e ? *p++ : (over++, 0)) << n;
		return over <= 8;
	}
	void skip(unsigned k) noexcept
	{
		buf >>= k;
		n -= k;
	}
	unsigned take(unsigned k) noexcept
	{
		const auto v = static_cast<unsigned>(buf & ((static_cast<uint64_t>(1) << k) - 1));
		skip(k);
		return v;
	}
	/* Bits taken so far. */
	uint64_t pos() const noexcept
	{
		return static_cast<uint64_t>(p - start) * 8 + over * 8 - n;
	}
	/* Whether the bits taken lie within s, with a margin of bytes that may
	 * have been fed as padding but not yet taken. */
	bool past_end() const noexcept
	{
		return pos() > static_cast<uint64_t>(e - start) * 8;
	}
};

/* The state of the walk: the reader, the two tables and the output count
 * while distances may still reach before the start. */
struct walker {
	bit_reader    r;
	uint64_t      out = 0;
	table         litlen;
	table         dist;
	unsigned char lens[286 + 30];
};

bool stored_block(walker &w) noexcept
{
	w.r.skip(w.r.n % 8);
	w.r.refill();
	const unsigned len  = w.r.take(16);
	const unsigned nlen = w.r.take(16);
	if (len != (~nlen & 0xFFFF))
		return false;
	/* The reader starts again at the byte after the stored bytes (after NLEN
	 * it stands on a byte boundary, so pos() counts whole bytes). */
	const uint64_t at = w.r.pos() / 8 + len;
	if (at > static_cast<uint64_t>(w.r.e - w.r.start))
		return false;
	w.r.p    = w.r.start + at;
	w.r.buf  = 0;
	w.r.n    = 0;
	w.r.over = 0;
	w.out += len;
	return true;
}

/* Reads a dynamic block's code lengths and builds its two tables. */
bool dynamic_tables(walker &w) noexcept
{
	static const unsigned char order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
	w.r.refill();
	const unsigned nlen  = w.r.take(5) + 257;
	const unsigned ndist = w.r.take(5) + 1;
	const unsigned ncode = w.r.take(4) + 4;
	if (nlen > 286 || ndist > 30)
		return false;
	unsigned char code_lens[19] = {};
	for (unsigned i = 0; i < ncode; i++) {
		w.r.refill();
		code_lens[order[i]] = static_cast<unsigned char>(w.r.take(3));
	}
	if (!build(w.litlen, alphabet::codes, code_lens, 19))
		return false;
	for (unsigned i = 0; i < nlen + ndist;) {
		if (!w.r.refill())
			return false;
		const uint32_t e = lookup(w.litlen, w.r.buf);
		if (e == kInvalid)
			return false;
		w.r.skip(total_of(e));
		const unsigned sym = e >> 16;
		if (sym < 16) {
			w.lens[i++] = static_cast<unsigned char>(sym);
			continue;
		}
		if (sym == 16 && i == 0)
			return false;
		const unsigned char fill = sym == 16 ? w.lens[i - 1] : 0;
		const unsigned      rep  = sym == 16 ? 3 + w.r.take(2) : sym == 17 ? 3 + w.r.take(3) : 11 + w.r.take(7);
		if (rep > nlen + ndist - i)
			return false;
		std::memset(w.lens + i, fill, rep);
		i += rep;
	}
	if (w.lens[256] == 0)
		return false;
	if (!build(w.litlen, alphabet::litlen, w.lens, nlen) || !build(w.dist, alphabet::dist, w.lens + nlen, ndist))
		return false;
	join_literals(w.litlen);
	return true;
}

void fixed_tables(walker &w) noexcept
{
	unsigned char *l = w.lens;
	std::memset(l, 8, 144);
	std::memset(l + 144, 9, 112);
	std::memset(l + 256, 7, 24);
	std::memset(l + 280, 8, 8);
	(void)build(w.litlen, alphabet::litlen, l, 288);
	join_literals(w.litlen);
	/* 32 distance codes of 5 bits, of which 30 and 31 are invalid symbols. */
	std::memset(l, 5, 32);
	(void)build(w.dist, alphabet::dist, l, 32);
}

/* Decodes one compressed block's symbols up to its end-of-block code. */
bool huffman_block(walker &w) noexcept
{
	bit_reader   r   = w.r; /* in registers for the loop */
	uint64_t     out = w.out;
	const table &lt  = w.litlen;
	bool         ok  = false;
	while (r.refill()) {
		/* Up to three lookups of literals per refill: 56 bits hold three
		 * codes of 15. */
		uint32_t e = lookup(lt, r.buf);
		if (kind_of(e) == kLiteral) {
			r.skip(total_of(e));
			out += e >> 12 & 15;
			e = lookup(lt, r.buf);
			if (kind_of(e) == kLiteral) {
				r.skip(total_of(e));
				out += e >> 12 & 15;
				e = lookup(lt, r.buf);
				if (kind_of(e) == kLiteral) {
					r.skip(total_of(e));
					out += e >> 12 & 15;
					continue;
				}
			}
		}
		/* 26 bits at least are left, enough for a length code and its extra
		 * bits (20); the distance may need a refill. */
		if (kind_of(e) == kEnd) {
			ok = e != kInvalid;
			r.skip(total_of(e));
			break;
		}
		const unsigned length = out < kWindow ? value_of(e, r.buf) : 0;
		r.skip(total_of(e));
		if (r.n < kMaxBits + 13 && !r.refill()) /* a distance code and its extra bits */
			break;
		const uint32_t d = lookup(w.dist, r.buf);
		if (d == kInvalid || (out < kWindow && value_of(d, r.buf) > out))
			break;
		out += length;
		r.skip(total_of(d));
	}
	w.r   = r;
	w.out = out;
	return ok;
}

/* Walks the blocks up to the last; see deflate_last_block. */
bool walk(walker &w, uint64_t *last, uint64_t *end) noexcept
{
	for (;;) {
		const uint64_t start = w.r.pos();
		w.r.refill();
		const bool     final = w.r.take(1) != 0;
		const unsigned type  = w.r.take(2);
		bool           ok    = false;
		if (type == 0) {
			ok = stored_block(w);
		} else if (type == 1) {
			fixed_tables(w);
			ok = huffman_block(w);
		} else if (type == 2) {
			ok = dynamic_tables(w) && huffman_block(w);
		}
		if (!ok || w.r.past_end())
			return false;
		if (final) {
			*last = start;
			*end  = w.r.pos();
			return true;
		}
	}
}

} // namespace

bool deflate_last_block(const unsigned char *s, size_t len, uint64_t *last, uint64_t *end) noexcept
{
	if (s == nullptr || last == nullptr || end == nullptr)
		return false;
	/* The tables are too large for a thread's stack: one heap block per walk. */
	auto *w          = new (M_malloc(sizeof(walker))) walker;
	w->r             = bit_reader{s, s, s + len};
	const bool found = walk(*w, last, end);
	M_free(w);
	return found;
}

} // namespace m::detail
