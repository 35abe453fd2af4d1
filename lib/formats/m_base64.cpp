/* Base64 coding, RFC 4648 section 4 (standard alphabet, "=" padding).
 *
 * Decoding sits on the hot path of large exports (every data block is Base64
 * text wrapped into lines), so it is table-driven: four 256-entry tables give
 * each character's 6-bit value already shifted into its place in the 24-bit
 * group, with a high marker bit for anything that is not in the alphabet. A
 * group of four characters is then four loads, three ORs and one test; only a
 * group that holds white space or a bad character takes the per-character
 * path, which also decides between the two.
 *
 * The tables are built at compile time from the canonical 80-entry table that
 * covers "+" to "z", the only range in which alphabet characters lie.
 */
#include "formats/m_base64.h"

#include <array>
#include <cstdint>
#include <limits>

namespace {

static_assert('+' == 43 && 'z' == 122 && 'A' == 65, "character set must be ASCII");

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(sizeof(kAlphabet) == 65);

constexpr unsigned char kBad = 0xFF; /* not in the alphabet */
constexpr unsigned char kWs  = 0xFE; /* white space: skipped between characters */

/* One entry for each character from "+" to "z": its 6-bit value, or kBad. */
constexpr std::array<unsigned char, 80> make_range_table()
{
	std::array<unsigned char, 80> t{};
	for (auto &e : t)
		e = kBad;
	for (unsigned v = 0; v < 64; v++)
		t[static_cast<unsigned char>(kAlphabet[v]) - '+'] = static_cast<unsigned char>(v);
	return t;
}
constexpr auto kRange = make_range_table();
static_assert(kRange.size() == 'z' - '+' + 1, "80 entries from + to z");
static_assert(kRange['+' - '+'] == 62 && kRange['/' - '+'] == 63 && kRange['z' - '+'] == 51);
static_assert(kRange['=' - '+'] == kBad, "= is handled apart from the alphabet");

/* The range table widened to every byte, with white space marked. */
constexpr std::array<unsigned char, 256> make_value_table()
{
	std::array<unsigned char, 256> t{};
	for (unsigned c = 0; c < 256; c++)
		t[c] = (c >= '+' && c <= 'z') ? kRange[c - '+'] : kBad;
	for (unsigned c = 9; c <= 13; c++)
		t[c] = kWs;
	t[' '] = kWs;
	return t;
}
constexpr auto kValue = make_value_table();

/* The value of a character at position pos (0 to 3) of a group, shifted into
 * place; anything outside the alphabet sets bit 24 or above. */
constexpr uint32_t                  kInvalidMark = 0x01000000;
constexpr std::array<uint32_t, 256> make_shifted_table(unsigned pos)
{
	std::array<uint32_t, 256> t{};
	for (unsigned c = 0; c < 256; c++) {
		const unsigned char v = kValue[c];
		t[c]                  = (v < 64) ? (static_cast<uint32_t>(v) << (6 * (3 - pos))) : kInvalidMark;
	}
	return t;
}
constexpr auto kD0 = make_shifted_table(0);
constexpr auto kD1 = make_shifted_table(1);
constexpr auto kD2 = make_shifted_table(2);
constexpr auto kD3 = make_shifted_table(3);
static_assert(kD0['/'] == (63u << 18) && kD3['/'] == 63u && kD1['\n'] == kInvalidMark);

inline bool is_space(unsigned char c)
{
	return kValue[c] == kWs;
}

inline void put3(unsigned char *o, uint32_t v)
{
	o[0] = static_cast<unsigned char>(v >> 16);
	o[1] = static_cast<unsigned char>(v >> 8);
	o[2] = static_cast<unsigned char>(v);
}

/* The group being read by the character path. */
struct Group {
	uint32_t acc = 0; /* 6-bit values read so far */
	unsigned k   = 0; /* characters in acc */
};

/* Where the text's main part ends (*end) and how many padding characters
 * follow it (*pad). Trailing white space does not count. Padding may only be
 * the last significant character or the last two, white space allowed
 * between them. False when the text holds nothing but white space. */
[[nodiscard]] bool find_padding(const unsigned char *s, size_t len, size_t *end, size_t *pad)
{
	size_t eff = len;
	while (eff > 0 && is_space(s[eff - 1]))
		eff--;
	if (eff == 0)
		return false;
	*pad = 0;
	*end = eff;
	if (s[eff - 1] == '=') {
		*pad     = 1;
		*end     = eff - 1;
		size_t j = *end;
		while (j > 0 && is_space(s[j - 1]))
			j--;
		if (j > 0 && s[j - 1] == '=') {
			*pad = 2;
			*end = j - 1;
		}
	}
	return true;
}

/* The fast path, at a group boundary: whole groups of four alphabet
 * characters from s[i] up to end, two groups at a time, then one, while out
 * (outlen bytes, o written) has room; i and o move on. Returns true when it
 * decoded the single group (the caller goes round again); false when it
 * stopped at white space, a bad character, the end or too little room, which
 * the character path then handles. */
[[nodiscard]] inline bool whole_groups(const unsigned char *s, size_t end, unsigned char *out, size_t outlen, size_t &i,
                                       size_t &o)
{
	while (end - i >= 8 && outlen - o >= 6) {
		const uint32_t a = kD0[s[i]] | kD1[s[i + 1]] | kD2[s[i + 2]] | kD3[s[i + 3]];
		const uint32_t b = kD0[s[i + 4]] | kD1[s[i + 5]] | kD2[s[i + 6]] | kD3[s[i + 7]];
		if ((a | b) >= kInvalidMark)
			break;
		put3(out + o, a);
		put3(out + o + 3, b);
		o += 6;
		i += 8;
	}
	if (end - i >= 4 && outlen - o >= 3) {
		const uint32_t a = kD0[s[i]] | kD1[s[i + 1]] | kD2[s[i + 2]] | kD3[s[i + 3]];
		if (a < kInvalidMark) {
			put3(out + o, a);
			o += 3;
			i += 4;
			return true;
		}
	}
	return false;
}

/* One character c at a time: white space is skipped, an alphabet character
 * joins the group g, and a complete group is written to out (outlen bytes, o
 * written). False on a bad character ("=" before the padding and every byte
 * >= 128 among them) or when out has no room for the group. */
[[nodiscard]] inline bool take_char(unsigned char c, Group &g, unsigned char *out, size_t outlen, size_t &o)
{
	const unsigned char v = kValue[c];
	if (v == kWs)
		return true;
	if (v == kBad)
		return false;
	g.acc = (g.acc << 6) | v;
	if (++g.k == 4) {
		if (outlen - o < 3)
			return false;
		put3(out + o, g.acc);
		o += 3;
		g = Group{};
	}
	return true;
}

/* The end of the text: the pad characters complete the last group g, and
 * without them the text must end on a group boundary. Returns the bytes
 * decoded into out (outlen bytes, o written before), or 0. */
size_t finish_padding(Group g, size_t pad, unsigned char *out, size_t outlen, size_t o)
{
	if (g.k + pad != 4 && !(g.k == 0 && pad == 0))
		return 0;
	if (pad != 0) {
		g.acc <<= 6 * pad;
		const size_t n = 3 - pad;
		if (outlen - o < n)
			return 0;
		out[o++] = static_cast<unsigned char>(g.acc >> 16);
		if (n == 2)
			out[o++] = static_cast<unsigned char>(g.acc >> 8);
	}
	return o;
}

} // namespace

extern "C" {

size_t M_base64_encode_size(size_t len, size_t wrap)
{
	if (len == 0 || len / 3 >= std::numeric_limits<size_t>::max() / 8)
		return 0;
	const size_t chars = 4 * ((len + 2) / 3);
	return chars + (wrap != 0 ? chars / wrap : 0) + 1;
}

size_t M_base64_decode_size(size_t len)
{
	return (len / 4) * 3;
}

size_t M_base64_encode(char *out, size_t outlen, const unsigned char *in, size_t inlen, size_t wrap)
{
	if (out == nullptr || in == nullptr || outlen == 0 || inlen == 0)
		return 0;
	const size_t need = M_base64_encode_size(inlen, wrap);
	if (need == 0 || outlen < need)
		return 0;

	/* Characters of the encoding without line feeds, gathered in groups. */
	size_t pos  = 0;
	size_t line = 0;
	auto   emit = [&](char c) {
        if (wrap != 0 && line == wrap) { /* a line feed only before a further character */
            out[pos++] = '\n';
            line       = 0;
        }
        out[pos++] = c;
        line++;
	};

	size_t i = 0;
	if (wrap == 0) {
		for (; i + 3 <= inlen; i += 3) {
			const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
			out[pos++]       = kAlphabet[(v >> 18) & 0x3F];
			out[pos++]       = kAlphabet[(v >> 12) & 0x3F];
			out[pos++]       = kAlphabet[(v >> 6) & 0x3F];
			out[pos++]       = kAlphabet[v & 0x3F];
		}
	} else {
		for (; i + 3 <= inlen; i += 3) {
			const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
			emit(kAlphabet[(v >> 18) & 0x3F]);
			emit(kAlphabet[(v >> 12) & 0x3F]);
			emit(kAlphabet[(v >> 6) & 0x3F]);
			emit(kAlphabet[v & 0x3F]);
		}
	}
	const size_t rest = inlen - i;
	if (rest != 0) {
		const uint32_t v = (uint32_t{in[i]} << 16) | (rest == 2 ? uint32_t{in[i + 1]} << 8 : 0);
		emit(kAlphabet[(v >> 18) & 0x3F]);
		emit(kAlphabet[(v >> 12) & 0x3F]);
		emit(rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=');
		emit('=');
	}
	out[pos] = '\0';
	return pos;
}

size_t M_base64_decode(unsigned char *out, size_t outlen, const char *in, size_t inlen)
{
	if (out == nullptr || in == nullptr || inlen == 0)
		return 0;
	const unsigned char *s   = reinterpret_cast<const unsigned char *>(in);
	size_t               end = 0;
	size_t               pad = 0;
	if (!find_padding(s, inlen, &end, &pad))
		return 0;

	size_t i = 0;
	size_t o = 0;
	Group  g;
	while (i < end) {
		if (g.k == 0) {
			if (whole_groups(s, end, out, outlen, i, o))
				continue;
			if (i >= end)
				break;
		}
		if (!take_char(s[i++], g, out, outlen, o))
			return 0;
	}
	return finish_padding(g, pad, out, outlen, o);
}

} // extern "C"
