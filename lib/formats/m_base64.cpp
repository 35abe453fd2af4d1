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
	const unsigned char *s = reinterpret_cast<const unsigned char *>(in);

	/* 1: trailing white space does not count. */
	size_t eff = inlen;
	while (eff > 0 && is_space(s[eff - 1]))
		eff--;
	if (eff == 0)
		return 0;

	/* Padding may only be the last significant character or the last two; the
	 * main part before it must hold alphabet characters and white space only. */
	size_t pad      = 0;
	size_t end_main = eff;
	if (s[eff - 1] == '=') {
		pad      = 1;
		end_main = eff - 1;
		size_t j = end_main;
		while (j > 0 && is_space(s[j - 1]))
			j--;
		if (j > 0 && s[j - 1] == '=') {
			pad      = 2;
			end_main = j - 1;
		}
	}

	size_t   i   = 0;
	size_t   o   = 0;
	uint32_t acc = 0; /* 6-bit values of the group being read */
	unsigned k   = 0; /* characters in acc */
	while (i < end_main) {
		if (k == 0) {
			/* Whole groups of four alphabet characters, two at a time. */
			while (end_main - i >= 8 && outlen - o >= 6) {
				const uint32_t a = kD0[s[i]] | kD1[s[i + 1]] | kD2[s[i + 2]] | kD3[s[i + 3]];
				const uint32_t b = kD0[s[i + 4]] | kD1[s[i + 5]] | kD2[s[i + 6]] | kD3[s[i + 7]];
				if ((a | b) >= kInvalidMark)
					break;
				put3(out + o, a);
				put3(out + o + 3, b);
				o += 6;
				i += 8;
			}
			if (end_main - i >= 4 && outlen - o >= 3) {
				const uint32_t a = kD0[s[i]] | kD1[s[i + 1]] | kD2[s[i + 2]] | kD3[s[i + 3]];
				if (a < kInvalidMark) {
					put3(out + o, a);
					o += 3;
					i += 4;
					continue;
				}
			}
			if (i >= end_main)
				break;
		}
		/* One character at a time: white space, a bad character, a group split
		 * by white space, or too little room left for the fast path. */
		const unsigned char v = kValue[s[i++]];
		if (v == kWs)
			continue;
		if (v == kBad) /* includes "=" before the padding and every byte >= 128 */
			return 0;
		acc = (acc << 6) | v;
		if (++k == 4) {
			if (outlen - o < 3)
				return 0;
			put3(out + o, acc);
			o += 3;
			acc = 0;
			k   = 0;
		}
	}

	/* The padding completes the last group; without it the text must end on a
	 * group boundary. */
	if (k + pad != 4 && !(k == 0 && pad == 0))
		return 0;
	if (pad != 0) {
		acc <<= 6 * pad;
		const size_t n = 3 - pad;
		if (outlen - o < n)
			return 0;
		out[o++] = static_cast<unsigned char>(acc >> 16);
		if (n == 2)
			out[o++] = static_cast<unsigned char>(acc >> 8);
	}
	return o;
}

} // extern "C"
