/* Formatted output engine.
 *
 * One interpreter (M_str_fmt_do_print) walks the format with a constant
 * parser over the format text and hands every piece of output to a Target,
 * a small writer that knows one of five destinations: a runtime stream, a
 * caller's sink (the file layer's library files write through one), a raw
 * descriptor (staged in 512 bytes), a fixed character array, or a byte
 * buffer. The target lives on the caller's stack; nothing
 * here allocates (the buffer target's buffer grows by itself).
 *
 * Numbers are converted here rather than by the C library so the text never
 * depends on the runtime or its locale:
 *   - integers go through M_str_fmt_add_integer_just: digits produced least
 *     significant first in a stack area, then reversed, then sign, prefix
 *     and justification;
 *   - doubles are printed in fixed-point by scaling the binary fraction:
 *     I = integer part, S = round_half_away(F * 10^p), carrying into I while
 *     S >= 10^p. The digits of I and S are exact decimal expansions of the
 *     doubles (through 64-bit arithmetic when they fit, otherwise through a
 *     small base-10^9 big integer), so even 1e308 prints all 309 digits.
 *     Rounding happens once, on the scaled double, which is why 1.2345
 *     (stored as 1.23449999999999993...) gives "1.234" at three places.
 *     Where the double product cannot hold the digits (p > 22, or a product
 *     of 2^52 and more) F is scaled exactly instead; see kExactPow10.
 *
 * Literal text between directives is handed to the target as one run rather
 * than byte by byte. The bytes and the order are the same; it only saves a
 * call per byte, which matters for the fixed-string and buffer targets. The
 * descriptor target still stages such runs as single bytes, so its write(2)
 * calls fall where byte-wise writing would put them.
 */
#include "core/m_str_fmt.h"
#include "core/m_str_fmt_int.h"
#include "core/m_text_int.h"

#include "core/m_buf.h"
#include "core/m_float.h"
#include "core/m_parser.h"

#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

/* ---------------------------------------------------------------------------
 * Targets
 * ------------------------------------------------------------------------- */

enum class TargetKind : uint8_t {
	STREAM = 0, /* runtime FILE, fwrite */
	SINK   = 1, /* caller's sink function */
	FD     = 2, /* raw descriptor, write(2) through the stage */
	FIXED  = 3, /* fixed character array */
	BUF    = 4  /* growable M_buf_t */
};

constexpr size_t kStageSize = 512; /* descriptor staging area */

struct Target {
	TargetKind         kind;
	FILE              *stream;            /* STREAM */
	m::detail::FmtSink sink;              /* SINK */
	void              *sink_ctx;          /* SINK: the sink's own state */
	int                fd;                /* FD */
	size_t             staged;            /* FD: bytes held in stage */
	char              *dest;              /* FIXED: destination, may be NULL */
	size_t             dest_used;         /* FIXED: bytes copied so far */
	size_t             dest_size;         /* FIXED: destination size, terminator included */
	M_buf_t           *buf;               /* BUF: may be NULL */
	unsigned char      stage[kStageSize]; /* FD: staging area */
};

Target make_target(TargetKind kind)
{
	Target t;
	t.kind      = kind;
	t.stream    = nullptr;
	t.sink      = nullptr;
	t.sink_ctx  = nullptr;
	t.fd        = -1;
	t.staged    = 0;
	t.dest      = nullptr;
	t.dest_used = 0;
	t.dest_size = 0;
	t.buf       = nullptr;
	return t;
}

[[nodiscard]] bool fd_flush_stage(Target &t)
{
	if (t.staged == 0)
		return true;
	const size_t n = t.staged;
	t.staged       = 0;
	return m::detail::fmt_fd_write_exact(t.fd, t.stage, n);
}

/* Staging rule: when the staged count plus n would exceed 511, the stage is
 * written first; then, while more than 512 bytes of the new data remain,
 * they go out directly 512 at a time; the remainder is staged. */
[[nodiscard]] bool fd_write(Target &t, const unsigned char *data, size_t n)
{
	if (t.staged + n > kStageSize - 1) {
		if (!fd_flush_stage(t))
			return false;
		while (n > kStageSize) {
			if (!m::detail::fmt_fd_write_exact(t.fd, data, kStageSize))
				return false;
			data += kStageSize;
			n -= kStageSize;
		}
	}
	std::memcpy(t.stage + t.staged, data, n);
	t.staged += n;
	return true;
}

/* Hand n bytes to the target. Returns false only when the target failed;
 * the fixed string and the buffer never fail (dropped bytes still count). */
[[nodiscard]] bool target_write(Target &t, const void *data, size_t n)
{
	if (n == 0)
		return true;
	switch (t.kind) {
		case TargetKind::STREAM:
			return std::fwrite(data, 1, n, t.stream) == n;
		case TargetKind::SINK:
			return t.sink(t.sink_ctx, static_cast<const unsigned char *>(data), n);
		case TargetKind::FD:
			return fd_write(t, static_cast<const unsigned char *>(data), n);
		case TargetKind::FIXED:
			if (t.dest != nullptr && t.dest_size > 0 && t.dest_used < t.dest_size - 1) {
				size_t room = t.dest_size - 1 - t.dest_used;
				if (room > n)
					room = n;
				std::memcpy(t.dest + t.dest_used, data, room);
				t.dest_used += room;
			}
			return true;
		case TargetKind::BUF:
			M_buf_add_bytes(t.buf, data, n);
			return true;
	}
	return false;
}

/* Hand over n bytes that the engine writes one at a time (literal text,
 * fill characters): the same bytes as target_write, but the descriptor stage
 * sees them as single bytes, so it fills up to 511 before each write rather
 * than applying the block rule. Other targets take the run in one piece. */
[[nodiscard]] bool target_write_each(Target &t, const void *data, size_t n)
{
	if (t.kind != TargetKind::FD)
		return target_write(t, data, n);
	const unsigned char *p = static_cast<const unsigned char *>(data);
	while (n > 0) {
		if (t.staged >= kStageSize - 1 && !fd_flush_stage(t))
			return false;
		size_t k = kStageSize - 1 - t.staged;
		if (k > n)
			k = n;
		std::memcpy(t.stage + t.staged, p, k);
		t.staged += k;
		p += k;
		n -= k;
	}
	return true;
}

/* End of a call: write what the descriptor stage holds, terminate the fixed
 * string after the bytes copied. */
[[nodiscard]] bool target_finish(Target &t)
{
	switch (t.kind) {
		case TargetKind::FD:
			return fd_flush_stage(t);
		case TargetKind::FIXED:
			if (t.dest != nullptr && t.dest_size > 0)
				t.dest[t.dest_used] = '\0';
			return true;
		default:
			return true;
	}
}

/* Write count copies of ch, in chunks from a small stack area. */
[[nodiscard]] bool target_fill(Target &t, char ch, size_t count)
{
	char chunk[64];
	std::memset(chunk, ch, count < sizeof(chunk) ? count : sizeof(chunk));
	while (count > 0) {
		const size_t n = count < sizeof(chunk) ? count : sizeof(chunk);
		if (!target_write_each(t, chunk, n))
			return false;
		count -= n;
	}
	return true;
}

/* Result accumulation: -1 as soon as a write failed. */
constexpr ssize_t kFail = -1;

/* ---------------------------------------------------------------------------
 * Justification and integers
 * ------------------------------------------------------------------------- */

/* Write len bytes justified to width: width - len fill bytes in front of
 * them, or after them when left is set. Returns the bytes written or -1. */
ssize_t M_str_fmt_add_bytes_just(Target &t, const void *bytes, size_t len, size_t width, char fill, bool left)
{
	const size_t pad = width > len ? width - len : 0;
	if (!left && !target_fill(t, fill, pad))
		return kFail;
	if (!target_write(t, bytes, len))
		return kFail;
	if (left && !target_fill(t, fill, pad))
		return kFail;
	return static_cast<ssize_t>(len + pad);
}

/* How a non-negative number shows its sign. */
enum class SignMode : uint8_t {
	NONE  = 0, /* nothing */
	PLUS  = 1, /* "+" */
	SPACE = 2  /* " " */
};

/* The integer area holds the digits of any 64-bit magnitude in any base from
 * 2 up: 64 binary digits at most. (A 32-byte area, enough for octal, would
 * overflow for small bases.) */
constexpr size_t kIntArea = 65;

/* Sign character for a value, or 0 for none. */
constexpr char sign_char(bool negative, SignMode mode)
{
	if (negative)
		return '-';
	if (mode == SignMode::PLUS)
		return '+';
	if (mode == SignMode::SPACE)
		return ' ';
	return 0;
}

/* Write an integer given as magnitude plus sign in base 2..16, with an
 * optional prefix ("0", "0x", "0X") and justification.
 *
 * With fill "0" the sign is written first and the width shrinks by one, then
 * the prefix and the width shrinks by its length, then the digits are
 * justified with zeros. With any other fill, sign and prefix go in front of
 * the digits and the whole is justified with the fill.
 *
 * Base 1 (and anything outside 2..16) is refused with -1: a base-1 digit
 * loop would never end. */
ssize_t M_str_fmt_add_integer_just(Target &t, uint64_t magnitude, bool negative, unsigned base, bool upper,
                                   const char *prefix, SignMode sign, size_t width, char fill, bool left)
{
	if (base < 2 || base > 16)
		return kFail;

	const char *digits = m::detail::hex_digits(upper);
	char        area[kIntArea];
	size_t      pos = sizeof(area);
	/* Digits land from the end of the area backwards, which is the same as
	 * producing them least significant first and reversing. */
	do {
		area[--pos] = digits[magnitude % base];
		magnitude /= base;
	} while (magnitude != 0);

	const char   sc      = sign_char(negative, sign);
	const size_t pre_len = prefix != nullptr ? std::strlen(prefix) : 0;
	if (pre_len > 2)
		return kFail; /* only "0", "0x", "0X" are meant here */

	if (fill == '0') {
		ssize_t total = 0;
		if (sc != 0) {
			if (!target_write(t, &sc, 1))
				return kFail;
			total += 1;
			width = width > 0 ? width - 1 : 0;
		}
		if (pre_len > 0) {
			if (!target_write(t, prefix, pre_len))
				return kFail;
			total += static_cast<ssize_t>(pre_len);
			width = width > pre_len ? width - pre_len : 0;
		}
		const ssize_t r = M_str_fmt_add_bytes_just(t, area + pos, sizeof(area) - pos, width, '0', left);
		return r < 0 ? kFail : total + r;
	}

	/* Sign, then prefix, in front of the digits. */
	char   text[kIntArea + 4];
	size_t tl = 0;
	if (sc != 0)
		text[tl++] = sc;
	std::memcpy(text + tl, prefix != nullptr ? prefix : "", pre_len);
	tl += pre_len;
	std::memcpy(text + tl, area + pos, sizeof(area) - pos);
	tl += sizeof(area) - pos;
	return M_str_fmt_add_bytes_just(t, text, tl, width, fill, left);
}

/* ---------------------------------------------------------------------------
 * Floating point
 * ------------------------------------------------------------------------- */

constexpr size_t   kFloatArea   = 512; /* text area, at most 511 characters */
constexpr size_t   kMaxPrec     = 100; /* precision cap */
constexpr size_t   kDefaultPrec = 6;
constexpr uint64_t kBigBase     = 1000000000u; /* big integer limb base, 10^9 */
constexpr size_t   kBigLimbs    = 40;          /* 360 digits > DBL_MAX's 309 */

/* Decimal digits of v, most significant first, into out; returns the count.
 * out must hold 20 bytes. */
size_t u64_to_dec(uint64_t v, char *out)
{
	char   tmp[20];
	size_t n = 0;
	do {
		tmp[n++] = static_cast<char>('0' + v % 10);
		v /= 10;
	} while (v != 0);
	for (size_t i = 0; i < n; i++)
		out[i] = tmp[n - 1 - i];
	return n;
}

/* Exact decimal digits of a finite, non-negative, integral double into out
 * (which must hold 310 bytes); returns the count. */
size_t dbl_int_to_dec(double v, char *out)
{
	/* 2^64 exactly: below it the value converts to uint64_t without loss. */
	constexpr double kTwo64 = 18446744073709551616.0;
	if (v < kTwo64)
		return u64_to_dec(static_cast<uint64_t>(v), out);

	/* v = mantissa * 2^shift with shift > 0 (v >= 2^64, so its exponent is at
	 * least 64 and the 53-bit mantissa sits 12 or more places up). */
	const uint64_t bits     = std::bit_cast<uint64_t>(v);
	const int      exponent = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
	const uint64_t mantissa = (bits & 0x000FFFFFFFFFFFFFULL) | 0x0010000000000000ULL;
	int            shift    = exponent - 52;

	uint32_t limbs[kBigLimbs]; /* base 10^9, least significant first */
	size_t   nl = 0;
	uint64_t m  = mantissa;
	while (m != 0) {
		limbs[nl++] = static_cast<uint32_t>(m % kBigBase);
		m /= kBigBase;
	}
	/* Multiply by 2^shift in steps of at most 2^28: limb (< 2^30) times 2^28
	 * plus carry stays far below 2^64. */
	while (shift > 0) {
		const int step  = shift > 28 ? 28 : shift;
		uint64_t  carry = 0;
		for (size_t i = 0; i < nl; i++) {
			const uint64_t x = (static_cast<uint64_t>(limbs[i]) << step) + carry;
			limbs[i]         = static_cast<uint32_t>(x % kBigBase);
			carry            = x / kBigBase;
		}
		while (carry != 0 && nl < kBigLimbs) {
			limbs[nl++] = static_cast<uint32_t>(carry % kBigBase);
			carry /= kBigBase;
		}
		shift -= step;
	}

	/* Most significant limb without padding, the others as 9 digits each. */
	size_t n = u64_to_dec(limbs[nl - 1], out);
	for (size_t i = nl - 1; i-- > 0;) {
		uint32_t x = limbs[i];
		for (size_t k = 9; k-- > 0;) {
			out[n + k] = static_cast<char>('0' + x % 10);
			x /= 10;
		}
		n += 9;
	}
	return n;
}

/* Where the double product F * 10^p is used. The rounding rule is defined
 * on that product: it is one correctly rounded multiplication while 10^p is
 * an exact double (p <= 22), and it still holds a fraction to round while it
 * is below 2^52. Past either bound the product has already lost the low
 * digits, and printing its exact digits would show noise ("%.100f" of 0.5
 * would read "0.50000000000000029935..."), so there the fraction is scaled
 * exactly with a big integer and rounded half away from zero the same way. */
constexpr size_t kExactPow10 = 22;
constexpr double kTwo52      = 4503599627370496.0;
constexpr size_t kBinLimbs   = 16; /* 53 + 333 bits of mant * 10^100 fit in 13 */

/* N = mant * 10^p in the binary limbs n (32 bits each, least significant
 * first), which hold mant in their first nl limbs on entry. Returns N's limb
 * count. */
size_t scale_by_pow10(uint32_t (&n)[kBinLimbs], size_t nl, size_t p)
{
	for (size_t left = p; left > 0;) {
		const size_t step = left > 9 ? 9 : left;
		uint64_t     mul  = 1;
		for (size_t i = 0; i < step; i++)
			mul *= 10;
		uint64_t carry = 0;
		for (size_t i = 0; i < nl; i++) {
			const uint64_t x = static_cast<uint64_t>(n[i]) * mul + carry;
			n[i]             = static_cast<uint32_t>(x);
			carry            = x >> 32;
		}
		if (carry != 0 && nl < kBinLimbs)
			n[nl++] = static_cast<uint32_t>(carry);
		left -= step;
	}
	return nl;
}

/* S = N >> k into s, plus one when the bit below the cut (one half) is set.
 * Returns S's limb count without leading zero limbs (0 for S = 0). */
size_t shift_round_half(const uint32_t (&n)[kBinLimbs], size_t nl, size_t k, uint32_t (&s)[kBinLimbs])
{
	auto       bit_at = [&](size_t b) -> bool { return b / 32 < nl && ((n[b / 32] >> (b % 32)) & 1u) != 0; };
	const bool half   = bit_at(k - 1);
	size_t     sl     = 0;
	for (size_t i = k / 32; i < nl; i++) {
		const size_t sh = k % 32;
		uint64_t     x  = n[i] >> sh;
		if (sh != 0 && i + 1 < nl)
			x |= static_cast<uint64_t>(n[i + 1]) << (32 - sh);
		s[sl++] = static_cast<uint32_t>(x);
	}
	if (half) {
		size_t i = 0;
		for (; i < sl && ++s[i] == 0; i++) {
		}
		if (i == sl && sl < kBinLimbs)
			s[sl++] = 1;
	}
	while (sl > 0 && s[sl - 1] == 0)
		sl--;
	return sl;
}

/* Decimal digits of S (sl limbs, used up) into dec, least significant first,
 * by division by 10^9; at most cap digits. Returns the digit count. */
size_t limbs_to_decimal(uint32_t (&s)[kBinLimbs], size_t sl, char *dec, size_t cap)
{
	size_t dl = 0;
	while (sl > 0) {
		uint64_t r = 0;
		for (size_t i = sl; i-- > 0;) {
			const uint64_t x = (r << 32) | s[i];
			s[i]             = static_cast<uint32_t>(x / kBigBase);
			r                = x % kBigBase;
		}
		while (sl > 0 && s[sl - 1] == 0)
			sl--;
		/* Lower chunks give exactly 9 digits; the top chunk (S now 0, so
		 * r > 0) gives its digits without leading zeros. */
		for (size_t j = 0; (sl > 0 ? j < 9 : r != 0) && dl < cap; j++) {
			dec[dl++] = static_cast<char>('0' + r % 10);
			r /= 10;
		}
	}
	return dl;
}

/* The p digits of a fraction 0 < frac < 1 scaled by 10^p and rounded half
 * away from zero, computed exactly, into out (p bytes). Returns true when the
 * rounding reached 10^p, which carries into the integer part; out then holds
 * p zeros. */
bool exact_fraction_digits(double frac, size_t p, char *out)
{
	const uint64_t bits  = std::bit_cast<uint64_t>(frac);
	const int      field = static_cast<int>((bits >> 52) & 0x7FF);
	uint64_t       mant  = bits & 0x000FFFFFFFFFFFFFULL;
	int            e     = -1022; /* subnormal */
	if (field != 0) {
		mant |= 0x0010000000000000ULL;
		e = field - 1023;
	}
	/* frac = mant * 2^-k, and frac < 1 means k >= 53. */
	const size_t k = static_cast<size_t>(52 - e);

	uint32_t     n[kBinLimbs] = {static_cast<uint32_t>(mant), static_cast<uint32_t>(mant >> 32)};
	const size_t nl           = scale_by_pow10(n, 2, p);
	uint32_t     s[kBinLimbs];
	const size_t sl = shift_round_half(n, nl, k, s);
	char         dec[kMaxPrec + 10];
	const size_t dl = limbs_to_decimal(s, sl, dec, sizeof(dec));

	std::memset(out, '0', p);
	if (dl > p)
		return true; /* S == 10^p: carry, fraction digits all zero */
	for (size_t i = 0; i < dl; i++)
		out[p - 1 - i] = dec[i];
	return false;
}

/* "nan" or "inf" into text + 1 for a double whose exponent field is all ones;
 * returns the text's length counted from text[0]. NaN counts as
 * non-negative; *neg is set for minus infinity. */
size_t special_text(uint64_t bits, char *text, bool *neg)
{
	if ((bits & 0x000FFFFFFFFFFFFFULL) != 0) {
		/* The text's length is returned, not a NUL. */
		std::memcpy(text + 1, "nan", 3); // NOLINT(bugprone-not-null-terminated-result)
	} else {
		*neg = (bits >> 63) != 0;
		std::memcpy(text + 1, "inf", 3); // NOLINT(bugprone-not-null-terminated-result)
	}
	return 1 + 3;
}

/* The fraction frac (0 <= frac < 1) of a magnitude at p places: its digits
 * into sd, without the leading zeros that pad them to p, and the count
 * returned; a rounding up to 10^p adds one to *ip instead. */
size_t fraction_digits(double frac, size_t p, double pow10, double *ip, char *sd)
{
	if (p <= kExactPow10 && frac * pow10 < kTwo52) {
		/* Rounded, then truncated to a whole number (a no-op for any
		 * double that M_math_round returns below 2^52). */
		double s = M_math_round(frac * pow10);
		M_math_modf(s, &s);
		while (s >= pow10) {
			s -= pow10;
			*ip += 1.0;
		}
		return dbl_int_to_dec(s, sd);
	}
	if (frac == 0)
		return 0;
	if (exact_fraction_digits(frac, p, sd))
		*ip += 1.0;
	return p;
}

/* Fixed-point text of a finite magnitude with p fraction digits into
 * text + 1; returns the text's length counted from text[0]. */
size_t fixed_text(double mag, size_t p, char *text)
{
	double pow10 = 1.0;
	for (size_t i = 0; i < p; i++)
		pow10 *= 10.0;

	double       ip;
	const double frac = M_math_modf(mag, &ip);
	char         sd[kFloatArea]; /* fraction digits */
	const size_t sl = fraction_digits(frac, p, pow10, &ip, sd);

	size_t tl = 1;
	tl += dbl_int_to_dec(ip, text + tl);
	if (p > 0) {
		text[tl++] = '.';
		for (size_t i = sl; i < p; i++)
			text[tl++] = '0';
		std::memcpy(text + tl, sd, sl);
		tl += sl;
	}
	return tl;
}

/* Write the number text[1 .. tl) with its sign character sc (0 for none)
 * and justification; text[0] is free for the sign. With fill "0" the sign
 * goes first and the zeros after it, as for integers. */
ssize_t add_signed_text_just(Target &t, char *text, size_t tl, char sc, size_t width, char fill, bool left)
{
	if (fill == '0') {
		ssize_t total = 0;
		if (sc != 0) {
			if (!target_write(t, &sc, 1))
				return kFail;
			total = 1;
			width = width > 0 ? width - 1 : 0;
		}
		const ssize_t r = M_str_fmt_add_bytes_just(t, text + 1, tl - 1, width, '0', left);
		return r < 0 ? kFail : total + r;
	}
	if (sc != 0) {
		text[0] = sc;
		return M_str_fmt_add_bytes_just(t, text, tl, width, fill, left);
	}
	return M_str_fmt_add_bytes_just(t, text + 1, tl - 1, width, fill, left);
}

/* Fixed-point text of a double (see the module comment), with sign and
 * justification as for integers. */
ssize_t add_double_just(Target &t, double value, bool has_prec, size_t prec, SignMode sign, size_t width, char fill,
                        bool left)
{
	char           text[kFloatArea]; /* text[0] is reserved for the sign */
	size_t         tl   = 0;
	bool           neg  = false;
	const uint64_t bits = std::bit_cast<uint64_t>(value);

	/* Room: 1 sign + 309 integer digits + 1 point + up to 101 fraction digits
	 * (S below a rounded-up 10^p may spill one digit) stays below 512. */
	static_assert(1 + 309 + 1 + kMaxPrec + 1 < kFloatArea, "float text area too small");

	if (((bits >> 52) & 0x7FF) == 0x7FF) {
		tl = special_text(bits, text, &neg);
	} else {
		neg            = value < 0;
		const size_t p = has_prec ? (prec > kMaxPrec ? kMaxPrec : prec) : kDefaultPrec;
		tl             = fixed_text(std::bit_cast<double>(bits & ~(1ULL << 63)), p, text);
	}
	return add_signed_text_just(t, text, tl, sign_char(neg, sign), width, fill, left);
}

/* ---------------------------------------------------------------------------
 * The interpreter
 * ------------------------------------------------------------------------- */

/* Length of an integer argument. */
enum class Length : uint8_t {
	DEFAULT = 0, /* 32-bit */
	H,           /* 16-bit */
	HH,          /* 8-bit */
	L,           /* long: the host's size (64-bit on Linux, 32-bit on Windows) */
	LL,          /* 64-bit */
	Z,           /* size_t: 64-bit */
	I64,         /* 64-bit */
	I32          /* 32-bit */
};

static_assert(sizeof(long) == 8 || sizeof(long) == 4, "\"l\" reads a long of 32 or 64 bits");
static_assert(sizeof(size_t) == 8, "\"z\" is documented as 64-bit");
static_assert(sizeof(void *) == 8, "pointers print as 64-bit values");

constexpr size_t kMaxField = INT_MAX; /* width and precision saturate here */

/* Accumulate a decimal digit into a width or precision, saturating. */
constexpr size_t add_digit(size_t field, unsigned d)
{
	if (field > (kMaxField - d) / 10)
		return kMaxField;
	return field * 10 + d;
}

/* The argument readers take the caller's started va_list by address; the
 * analyser does not follow va_start across the call and reports every
 * va_arg here as reading an uninitialised list. */
// NOLINTBEGIN(clang-analyzer-valist.Uninitialized)

/* Read a signed integer argument of the given length, narrowed to it. */
int64_t arg_signed(va_list *ap, Length len)
{
	switch (len) {
		case Length::HH:
			return static_cast<int8_t>(va_arg(*ap, int));
		case Length::H:
			return static_cast<int16_t>(va_arg(*ap, int));
		case Length::L:
			return static_cast<int64_t>(va_arg(*ap, long));
		case Length::LL:
		case Length::Z:
		case Length::I64:
			return static_cast<int64_t>(va_arg(*ap, long long));
		case Length::DEFAULT:
		case Length::I32:
			break;
	}
	return static_cast<int32_t>(va_arg(*ap, int));
}

/* Read an unsigned integer argument of the given length, narrowed to it. */
uint64_t arg_unsigned(va_list *ap, Length len)
{
	switch (len) {
		case Length::HH:
			return static_cast<uint8_t>(va_arg(*ap, unsigned int));
		case Length::H:
			return static_cast<uint16_t>(va_arg(*ap, unsigned int));
		case Length::L:
			return static_cast<uint64_t>(va_arg(*ap, unsigned long));
		case Length::LL:
		case Length::Z:
		case Length::I64:
			return static_cast<uint64_t>(va_arg(*ap, unsigned long long));
		case Length::DEFAULT:
		case Length::I32:
			break;
	}
	return static_cast<uint32_t>(va_arg(*ap, unsigned int));
}

// NOLINTEND(clang-analyzer-valist.Uninitialized)

/* One parsed directive. */
struct Spec {
	bool   left     = false; /* "-" */
	bool   plus     = false; /* "+" */
	bool   space    = false; /* " " */
	bool   alt      = false; /* "#" */
	char   fill     = ' ';   /* " " or "0" */
	size_t width    = 0;
	bool   has_prec = false; /* a "." was read */
	size_t prec     = 0;
	Length len      = Length::DEFAULT;
};

/* Write one conversion. Returns the bytes written, or -1 on a target
 * failure; *known is cleared when conv is not a conversion character. */
ssize_t convert(Target &t, const Spec &sp, unsigned char conv, va_list *ap, bool *known)
{
	const SignMode sign = sp.plus ? SignMode::PLUS : (sp.space ? SignMode::SPACE : SignMode::NONE);
	*known              = true;

	switch (conv) {
		case 'd':
		case 'i': {
			const int64_t  v   = arg_signed(ap, sp.len);
			const uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
			return M_str_fmt_add_integer_just(t, mag, v < 0, 10, false, nullptr, sign, sp.width, sp.fill, sp.left);
		}
		case 'u':
			/* Unsigned decimal is the one integer conversion that drops the
			 * "+" and " " flags; octal and hexadecimal keep them (below). */
			return M_str_fmt_add_integer_just(t, arg_unsigned(ap, sp.len), false, 10, false, nullptr, SignMode::NONE,
			                                  sp.width, sp.fill, sp.left);
		case 'o':
		case 'O': {
			const uint64_t v = arg_unsigned(ap, sp.len);
			/* "#" adds "0" unless the digits already begin with one (only 0). */
			const char *prefix = (sp.alt && v != 0) ? "0" : nullptr;
			/* The value is never negative, so "+" or " " (when given) stands
			 * in front, before the prefix: "%+#o" of 8 is "+010". */
			return M_str_fmt_add_integer_just(t, v, false, 8, false, prefix, sign, sp.width, sp.fill, sp.left);
		}
		case 'x':
		case 'X': {
			const bool  upper  = conv == 'X';
			const char *prefix = sp.alt ? (upper ? "0X" : "0x") : nullptr;
			/* Sign flags apply as for octal: "%+x" of 255 is "+ff". */
			return M_str_fmt_add_integer_just(t, arg_unsigned(ap, sp.len), false, 16, upper, prefix, sign, sp.width,
			                                  sp.fill, sp.left);
		}
		case 'p':
		case 'P': {
			/* A pointer has no sign: "+" and " " are ignored. */
			const bool     upper = conv == 'P';
			const uint64_t v     = reinterpret_cast<uintptr_t>(va_arg(*ap, void *));
			return M_str_fmt_add_integer_just(t, v, false, 16, upper, upper ? "0X" : "0x", SignMode::NONE, sp.width,
			                                  sp.fill, sp.left);
		}
		case 'c': {
			const char ch = static_cast<char>(va_arg(*ap, int));
			return M_str_fmt_add_bytes_just(t, &ch, 1, sp.width, sp.fill, sp.left);
		}
		case 's': {
			const char *s = va_arg(*ap, const char *);
			size_t      n;
			if (s == nullptr) {
				s = "<NULL>";
				n = 6;
			} else if (sp.has_prec) {
				/* Never look past the precision: the text need not be terminated. */
				const void *end = std::memchr(s, '\0', sp.prec);
				n               = end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - s) : sp.prec;
			} else {
				n = std::strlen(s);
			}
			return M_str_fmt_add_bytes_just(t, s, n, sp.width, ' ', sp.left);
		}
		case 'f':
		case 'F':
		case 'e':
		case 'E':
		case 'g':
		case 'G':
			return add_double_just(t, va_arg(*ap, double), sp.has_prec, sp.prec, sign, sp.width, sp.fill, sp.left);
		default:
			break;
	}
	*known = false;
	return 0;
}

/* Outcome of reading one directive. */
enum class Parsed : uint8_t {
	OK,        /* conversion written */
	MALFORMED, /* write the "%" and "?" text */
	FAILED     /* the target failed */
};

/* Read the flags, in any order and any number, into sp. c holds the byte
 * read last: on entry the first after the "%", on return the first after
 * the flags. *nread counts the bytes read. False when the format ends among
 * the flags. */
[[nodiscard]] bool read_flags(M_parser_t *p, Spec &sp, unsigned char &c, size_t *nread)
{
	for (;;) {
		switch (c) {
			case '-':
				sp.left = true;
				sp.fill = ' ';
				break;
			case '+':
				sp.plus = true;
				break;
			case ' ':
				sp.space = true;
				break;
			case '#':
				sp.alt = true;
				break;
			case '0':
				if (!sp.left)
					sp.fill = '0';
				break;
			default:
				return true;
		}
		if (!M_parser_read_byte(p, &c))
			return false;
		(*nread)++;
	}
}

/* Read a length ("h", "hh", "l", "ll", "z", "I64", "I32") byte c into sp;
 * prev is the byte before it. "I" reads its two digits from p and counts
 * them in *nread, then sets c to a byte that is neither "h" nor "l". False
 * when the length is malformed; a bare "I" is malformed at the "I". */
[[nodiscard]] bool read_length(M_parser_t *p, Spec &sp, unsigned char &c, unsigned char prev, size_t *nread)
{
	if (c == 'h' || c == 'l') {
		const Length one = c == 'h' ? Length::H : Length::L;
		if (sp.len == Length::DEFAULT)
			sp.len = one;
		else if (sp.len == one && prev == c)
			sp.len = c == 'h' ? Length::HH : Length::LL;
		else
			return false;
		return true;
	}
	if (sp.len != Length::DEFAULT)
		return false;
	if (c == 'z') {
		sp.len = Length::Z;
		return true;
	}
	unsigned char two[2];
	if (!M_parser_peek_bytes(p, 2, two))
		return false;
	if (two[0] == '6' && two[1] == '4')
		sp.len = Length::I64;
	else if (two[0] == '3' && two[1] == '2')
		sp.len = Length::I32;
	else
		return false;
	M_parser_consume(p, 2);
	*nread += 2;
	c = '2';
	return true;
}

/* What a byte between the flags and the conversion turned out to be. */
enum class Step : uint8_t {
	MODIFIER,   /* width, precision or length: read on */
	CONVERSION, /* none of those: the conversion character */
	MALFORMED   /* a second ".", or a malformed length */
};

/* Take one width, precision ("." and digits) or length byte c into sp; "*"
 * takes its value from ap, and only when above 0 (a negative width does not
 * left-justify). */
Step read_modifier(M_parser_t *p, Spec &sp, unsigned char &c, unsigned char prev, va_list *ap, size_t *nread)
{
	if (c >= '0' && c <= '9') {
		const unsigned d = static_cast<unsigned>(c - '0');
		if (sp.has_prec)
			sp.prec = add_digit(sp.prec, d);
		else
			sp.width = add_digit(sp.width, d);
	} else if (c == '.') {
		if (sp.has_prec)
			return Step::MALFORMED;
		sp.has_prec = true;
		sp.prec     = 0;
	} else if (c == '*') {
		const int v = va_arg(*ap, int);
		if (v > 0) {
			if (sp.has_prec)
				sp.prec = static_cast<size_t>(v);
			else
				sp.width = static_cast<size_t>(v);
		}
	} else if (c == 'h' || c == 'l' || c == 'z' || c == 'I') {
		if (!read_length(p, sp, c, prev, nread))
			return Step::MALFORMED;
	} else {
		return Step::CONVERSION;
	}
	return Step::MODIFIER;
}

/* Read and carry out one directive; the "%" is already consumed. *nread
 * counts the bytes read after it; *written the bytes output. */
Parsed do_directive(Target &t, M_parser_t *p, va_list *ap, size_t *nread, ssize_t *written)
{
	Spec          sp;
	unsigned char c;

	*nread   = 0;
	*written = 0;

	if (!M_parser_read_byte(p, &c))
		return Parsed::MALFORMED;
	(*nread)++;

	if (c == '%') {
		if (!target_write(t, "%", 1))
			return Parsed::FAILED;
		*written = 1;
		return Parsed::OK;
	}
	if (!read_flags(p, sp, c, nread))
		return Parsed::MALFORMED;

	/* Width, precision and length, one byte at a time, until a conversion. */
	unsigned char prev = 0;
	for (;;) {
		const Step step = read_modifier(p, sp, c, prev, ap, nread);
		if (step == Step::MALFORMED)
			return Parsed::MALFORMED;
		if (step == Step::CONVERSION)
			break;
		prev = c;
		if (!M_parser_read_byte(p, &c))
			return Parsed::MALFORMED;
		(*nread)++;
	}

	bool          known = false;
	const ssize_t r     = convert(t, sp, c, ap, &known);
	if (!known)
		return Parsed::MALFORMED;
	if (r < 0)
		return Parsed::FAILED;
	*written = r;
	return Parsed::OK;
}

/* The interpreter: walk fmt, write to t, finish the target. Yields the byte
 * count or -1 as soon as a write failed. ap is advanced through the pointer,
 * so callers hand in a copy of their own list. */
ssize_t M_str_fmt_do_print(Target &t, const char *fmt, va_list *ap)
{
	size_t total = 0;

	if (fmt != nullptr) {
		M_parser_storage_t storage;
		M_parser_t        *p =
		    M_parser_init(&storage, reinterpret_cast<const unsigned char *>(fmt), std::strlen(fmt), M_PARSER_FLAG_NONE);

		while (M_parser_len(p) > 0) {
			/* Literal text up to the next "%", handed over as one run. */
			const unsigned char *cur = M_parser_peek(p);
			const size_t         len = M_parser_len(p);
			const void          *pct = std::memchr(cur, '%', len);
			const size_t         run =
                pct != nullptr ? static_cast<size_t>(static_cast<const unsigned char *>(pct) - cur) : len;
			if (run > 0) {
				if (!target_write_each(t, cur, run))
					return kFail;
				M_parser_consume(p, run);
				total += run;
				continue;
			}
			M_parser_consume(p, 1); /* the "%" */

			size_t       nread   = 0;
			ssize_t      written = 0;
			const Parsed res     = do_directive(t, p, ap, &nread, &written);
			if (res == Parsed::FAILED)
				return kFail;
			if (res == Parsed::MALFORMED) {
				/* "%" then one "?" per byte read after it; the walk carries on
				 * after those bytes. */
				if (!target_write(t, "%", 1) || !target_fill(t, '?', nread))
					return kFail;
				written = static_cast<ssize_t>(1 + nread);
			}
			total += static_cast<size_t>(written);
		}
	}

	if (!target_finish(t))
		return kFail;
	return static_cast<ssize_t>(total);
}

/* Run the interpreter on a private copy of the caller's list. */
ssize_t run(Target &t, const char *fmt, va_list ap)
{
	va_list copy;
	va_copy(copy, ap);
	const ssize_t r = M_str_fmt_do_print(t, fmt, &copy);
	va_end(copy);
	return r;
}

} /* namespace */

ssize_t m::detail::str_fmt_to_sink(FmtSink sink, void *ctx, const char *fmt, va_list ap)
{
	if (sink == nullptr)
		return -1;
	Target t   = make_target(TargetKind::SINK);
	t.sink     = sink;
	t.sink_ctx = ctx;
	return run(t, fmt, ap);
}

extern "C" {

ssize_t M_vfprintf(FILE *stream, const char *fmt, va_list ap)
{
	if (stream == nullptr)
		return -1;
	Target t = make_target(TargetKind::STREAM);
	t.stream = stream;
	return run(t, fmt, ap);
}

ssize_t M_fprintf(FILE *stream, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vfprintf(stream, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vprintf(const char *fmt, va_list ap)
{
	return M_vfprintf(stdout, fmt, ap);
}

ssize_t M_printf(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vfprintf(stdout, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vdprintf(int fd, const char *fmt, va_list ap)
{
	if (fd < 1)
		return -1;
	Target t = make_target(TargetKind::FD);
	t.fd     = fd;
	return run(t, fmt, ap);
}

ssize_t M_dprintf(int fd, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vdprintf(fd, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vsnprintf(char *buf, size_t size, const char *fmt, va_list ap)
{
	Target t        = make_target(TargetKind::FIXED);
	t.dest          = buf;
	t.dest_size     = size;
	const ssize_t r = run(t, fmt, ap);
	return r < 0 ? 0 : r;
}

ssize_t M_snprintf(char *buf, size_t size, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vsnprintf(buf, size, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vbprintf(M_buf_t *buf, const char *fmt, va_list ap)
{
	Target t        = make_target(TargetKind::BUF);
	t.buf           = buf;
	const ssize_t r = run(t, fmt, ap);
	return r < 0 ? 0 : r;
}

ssize_t M_bprintf(M_buf_t *buf, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vbprintf(buf, fmt, ap);
	va_end(ap);
	return r;
}

ssize_t M_vasprintf(char **out, const char *fmt, va_list ap)
{
	if (out != nullptr)
		*out = nullptr;

	M_buf_t      *buf = M_buf_create();
	const ssize_t r   = M_vbprintf(buf, fmt, ap);
	if (out != nullptr && r > 0) {
		/* NULL when nothing was written, as M_buf_finish_str defines. */
		*out = M_buf_finish_str(buf, nullptr);
	} else {
		M_buf_cancel(buf);
	}
	return r;
}

ssize_t M_asprintf(char **out, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	const ssize_t r = M_vasprintf(out, fmt, ap);
	va_end(ap);
	return r;
}

} /* extern "C" */
