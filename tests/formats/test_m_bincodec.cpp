#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/m_mem.h"
#include "formats/m_base64.h"
#include "formats/m_bincodec.h"
#include "formats/m_bincodec_conv.h"
#include "formats/m_hex.h"

namespace {

const unsigned char *u(const char *s)
{
	return reinterpret_cast<const unsigned char *>(s);
}

std::vector<unsigned char> random_bytes(std::mt19937 &rng, size_t n)
{
	std::vector<unsigned char> v(n);
	for (auto &b : v)
		b = static_cast<unsigned char>(rng());
	return v;
}

/* Base64-decode a text; "" with ok == false on failure. */
std::string b64dec(const std::string &text, size_t room = 1024, bool *ok = nullptr)
{
	std::vector<unsigned char> out(room + 1);
	const size_t               n = M_base64_decode(out.data(), room, text.data(), text.size());
	if (ok != nullptr)
		*ok = n != 0;
	return std::string(reinterpret_cast<char *>(out.data()), n);
}

/* The lines of a text split at "\n". */
std::vector<std::string> lines_of(const std::string &s)
{
	std::vector<std::string> out;
	size_t                   start = 0;
	for (;;) {
		const size_t nl = s.find('\n', start);
		out.push_back(s.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
		if (nl == std::string::npos)
			return out;
		start = nl + 1;
	}
}

} // namespace

/* ---------------------------------------------------------------------------
 * Hexadecimal
 * ------------------------------------------------------------------------- */

TEST(m_bincodec, hex_encode_and_wrapping)
{
	const unsigned char in[] = {0x00, 0xAB, 0xFF};
	const struct {
		size_t      wrap;
		const char *out;
	} cases[] = {
	    {0, "00ABFF"},     {4, "00AB\nFF"}, {3, "00A\nBFF"}, {1, "0\n0\nA\nB\nF\nF"},
	    {2, "00\nAB\nFF"}, {6, "00ABFF"},   {100, "00ABFF"},
	};
	for (const auto &c : cases) {
		char out[64];
		std::memset(out, 'x', sizeof(out));
		const size_t n = M_hex_encode(in, 3, out, sizeof(out), c.wrap);
		EXPECT_EQ(std::string(out, n), c.out) << "wrap " << c.wrap;
		EXPECT_EQ(out[n], '\0');
		EXPECT_LT(n, M_hex_target_size(3, c.wrap) + 1);
	}
}

TEST(m_bincodec, hex_encode_room_and_terminator)
{
	const unsigned char in[] = {0x12, 0x34};
	char                out[8];
	std::memset(out, 'x', sizeof(out));
	EXPECT_EQ(M_hex_target_size(2, 0), 4u);
	EXPECT_EQ(M_hex_encode(in, 2, out, 3, 0), 0u);
	EXPECT_EQ(out[0], 'x');
	EXPECT_EQ(M_hex_encode(in, 2, out, 4, 0), 4u); /* exact room: no terminator */
	EXPECT_EQ(out[4], 'x');
	EXPECT_EQ(M_hex_encode(in, 2, out, 5, 0), 4u);
	EXPECT_EQ(out[4], '\0');
	EXPECT_EQ(M_hex_encode(nullptr, 2, out, 8, 0), 0u);
	EXPECT_EQ(M_hex_encode(in, 2, nullptr, 8, 0), 0u);
	EXPECT_EQ(M_hex_encode(in, 0, out, 8, 0), 0u);
}

TEST(m_bincodec, hex_target_size)
{
	EXPECT_EQ(M_hex_target_size(3, 0), 6u);
	EXPECT_EQ(M_hex_target_size(3, 4), 8u);
	EXPECT_EQ(M_hex_target_size(0, 0), 0u);
	EXPECT_EQ(M_hex_target_size(0, 4), 0u);
	EXPECT_EQ(M_hex_target_size(SIZE_MAX / 2, 0), 0u);
}

TEST(m_bincodec, hex_decode)
{
	const struct {
		const char *in;
		bool        ok;
		std::string out;
	} cases[] = {
	    {"00abFF", true, std::string("\x00\xAB\xFF", 3)},
	    {"00 AB ff", true, std::string("\x00\xAB\xFF", 3)},
	    {"0\n0AB\nFF", true, std::string("\x00\xAB\xFF", 3)},
	    {"00A", false, ""},
	    {"ZZ", true, "\x33"}, /* not validated: arithmetic on any character */
	    {"0 ", false, ""},    /* a high digit with nothing after it: 0 bytes */
	    {"  ", false, ""},
	};
	for (const auto &c : cases) {
		unsigned char out[16];
		const size_t  n = M_hex_decode(c.in, std::strlen(c.in), out, sizeof(out));
		EXPECT_EQ(n != 0, c.ok) << c.in;
		EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), c.ok ? c.out : "") << c.in;
	}
	/* "gG": high (103 - 7) % 16 = 0, low 71 - 55 = 16: the byte is 0x10. */
	unsigned char b = 0;
	EXPECT_EQ(M_hex_decode("gG", 2, &b, 1), 1u);
	EXPECT_EQ(b, 0x10);
	/* A character below "0": 33 - 48 taken modulo 256. */
	EXPECT_EQ(M_hex_decode("1!", 2, &b, 1), 1u);
	EXPECT_EQ(b, 0x10 | 0xF1);

	unsigned char out[2];
	EXPECT_EQ(M_hex_decode("000000", 6, out, 2), 0u); /* inlen / 2 exceeds outlen */
	EXPECT_EQ(M_hex_decode(nullptr, 2, out, 2), 0u);
	EXPECT_EQ(M_hex_decode("00", 2, nullptr, 2), 0u);
	EXPECT_EQ(M_hex_decode("00", 0, out, 2), 0u);
}

TEST(m_bincodec, hex_round_trip)
{
	std::mt19937 rng(1234);
	for (size_t len = 1; len < 70; len++) {
		const auto in = random_bytes(rng, len);
		for (size_t wrap : {0, 1, 2, 3, 7, 16, 64}) {
			std::vector<char> text(M_hex_target_size(len, wrap) + 1);
			const size_t      n = M_hex_encode(in.data(), len, text.data(), text.size(), wrap);
			ASSERT_GT(n, 0u);
			const auto lines = lines_of(std::string(text.data(), n));
			for (size_t i = 0; i + 1 < lines.size(); i++) {
				ASSERT_EQ(lines[i].size(), wrap) << "len " << len << " wrap " << wrap;
			}
			ASSERT_FALSE(lines.back().empty());
			ASSERT_EQ(n, 2 * len + (wrap ? (2 * len - 1) / wrap : 0));
			/* The decoder is given an even length: pad with a space when the
			 * line feeds make it odd. */
			std::string t(text.data(), n);
			if (t.size() % 2)
				t += ' ';
			/* Room is checked against inlen / 2, line feeds included. */
			std::vector<unsigned char> back(t.size() / 2);
			ASSERT_EQ(M_hex_decode(t.data(), t.size(), back.data(), back.size()), len);
			back.resize(len);
			ASSERT_EQ(back, in);
		}
	}
}

/* ---------------------------------------------------------------------------
 * Base64
 * ------------------------------------------------------------------------- */

TEST(m_bincodec, base64_encode_known_values)
{
	const struct {
		const char *in;
		const char *out;
	} cases[] = {
	    {"abc", "YWJj"},
	    {"ab", "YWI="},
	    {"a", "YQ=="},
	    {"\xff\x01\xfe\x02", "/wH+Ag=="},
	    {"\xff\xff\xff\xff", "/////w=="},
	    {"hello world", "aGVsbG8gd29ybGQ="},
	};
	for (const auto &c : cases) {
		char         out[64];
		const size_t n = M_base64_encode(out, sizeof(out), u(c.in), std::strlen(c.in), 0);
		EXPECT_EQ(std::string(out, n), c.out);
		EXPECT_EQ(out[n], '\0');
	}
}

TEST(m_bincodec, base64_encode_sizes_and_room)
{
	EXPECT_EQ(M_base64_encode_size(1, 0), 5u);
	EXPECT_EQ(M_base64_encode_size(3, 0), 5u);
	EXPECT_EQ(M_base64_encode_size(4, 0), 9u);
	EXPECT_EQ(M_base64_encode_size(0, 0), 0u);
	EXPECT_EQ(M_base64_encode_size(6, 4), 8u + 2u + 1u);
	EXPECT_EQ(M_base64_decode_size(8), 6u);
	EXPECT_EQ(M_base64_decode_size(7), 3u);
	EXPECT_EQ(M_base64_decode_size(0), 0u);

	char out[5];
	std::memset(out, 'x', sizeof(out));
	EXPECT_EQ(M_base64_encode(out, 4, u("a"), 1, 0), 0u);
	EXPECT_EQ(out[0], 'x');
	EXPECT_EQ(M_base64_encode(out, 5, u("a"), 1, 0), 4u);
	EXPECT_STREQ(out, "YQ==");
	EXPECT_EQ(M_base64_encode(nullptr, 5, u("a"), 1, 0), 0u);
	EXPECT_EQ(M_base64_encode(out, 5, nullptr, 1, 0), 0u);
	EXPECT_EQ(M_base64_encode(out, 0, u("a"), 1, 0), 0u);
	EXPECT_EQ(M_base64_encode(out, 5, u("a"), 0, 0), 0u);
}

TEST(m_bincodec, base64_wrapping_never_ends_with_line_feed)
{
	char out[64];
	/* 6 bytes -> 8 characters; with lines of 4 the second line feed would end
	 * the output and is not written. */
	size_t n = M_base64_encode(out, sizeof(out), u("abcabc"), 6, 4);
	EXPECT_EQ(std::string(out, n), "YWJj\nYWJj");
	n = M_base64_encode(out, sizeof(out), u("abcabc"), 6, 3);
	EXPECT_EQ(std::string(out, n), "YWJ\njYW\nJj");
	n = M_base64_encode(out, sizeof(out), u("abcabc"), 6, 8);
	EXPECT_EQ(std::string(out, n), "YWJjYWJj");
}

TEST(m_bincodec, base64_matches_openssl_and_round_trips)
{
	std::mt19937 rng(99);
	for (size_t len = 1; len < 300; len += (len < 40 ? 1 : 17)) {
		const auto                 in = random_bytes(rng, len);
		std::vector<unsigned char> ref(4 * ((len + 2) / 3) + 1);
		const int                  rn = EVP_EncodeBlock(ref.data(), in.data(), static_cast<int>(len));
		const std::string          expect(reinterpret_cast<char *>(ref.data()), static_cast<size_t>(rn));
		for (size_t wrap : {0, 1, 4, 5, 64, 76}) {
			const size_t      size = M_base64_encode_size(len, wrap);
			std::vector<char> out(size);
			const size_t      n = M_base64_encode(out.data(), size, in.data(), len, wrap);
			ASSERT_GT(n, 0u);
			ASSERT_EQ(out[n], '\0');
			std::string text(out.data(), n);
			const auto  lines = lines_of(text);
			std::string joined;
			for (size_t i = 0; i < lines.size(); i++) {
				if (i + 1 < lines.size()) {
					ASSERT_EQ(lines[i].size(), wrap) << "len " << len << " wrap " << wrap;
				}
				joined += lines[i];
			}
			ASSERT_FALSE(lines.back().empty());
			ASSERT_EQ(joined, expect);

			std::vector<unsigned char> back(M_base64_decode_size(n) + 3);
			const size_t               bn = M_base64_decode(back.data(), back.size(), text.data(), text.size());
			ASSERT_EQ(bn, len) << "len " << len << " wrap " << wrap;
			back.resize(bn);
			ASSERT_EQ(back, in);
		}
	}
}

TEST(m_bincodec, base64_decode_skips_white_space)
{
	const char *texts[] = {"YWJj", "Y W J j", "YW\r\nJj\n", "\tYWJj", "YWJj   \n", "Y\nW\nJ\nj"};
	for (const char *t : texts) {
		bool ok = false;
		EXPECT_EQ(b64dec(t, 16, &ok), "abc") << t;
		EXPECT_TRUE(ok) << t;
	}
	bool ok = false;
	EXPECT_EQ(b64dec("YQ=\n=", 16, &ok), "a");
	EXPECT_TRUE(ok);
	EXPECT_EQ(b64dec("YW\nI=\n", 16, &ok), "ab");
	EXPECT_TRUE(ok);
}

TEST(m_bincodec, base64_decode_rejects_malformed_input)
{
	const std::string bad[] = {
	    "YWJ",                 /* 3 characters */
	    "Y=Jj",                /* misplaced padding */
	    "YW=j",     "YWJ{",    /* above "z" */
	    "YWJ*",                /* below "+" */
	    "YWJ,",                /* inside the range but not in the alphabet */
	    "YWJ@",     "YWJ\x80", /* bytes of 128 and more */
	    "YWJ\xFF",  std::string("YW\0j", 4),
	    "====",     "Y===",
	    "=",        "YQ=", /* padding does not complete the group */
	    "YQ===",    "YWJj=",
	    "YWJj==",   "=YWJ",
	    "YQ==YWJj", /* padding in the middle */
	    "YWJjY",    "YWJjYW",
	    "   ", /* white space only */
	    "\n",
	};
	for (const std::string &t : bad) {
		bool ok = true;
		b64dec(t, 64, &ok);
		EXPECT_FALSE(ok) << "'" << t << "'";
	}
	unsigned char out[8];
	EXPECT_EQ(M_base64_decode(nullptr, 8, "YWJj", 4), 0u);
	EXPECT_EQ(M_base64_decode(out, 8, nullptr, 4), 0u);
	EXPECT_EQ(M_base64_decode(out, 8, "YWJj", 0), 0u);
}

TEST(m_bincodec, base64_decode_needs_room_for_every_byte)
{
	const struct {
		const char *text;
		size_t      need;
	} cases[] = {{"YWJj", 3}, {"YWI=", 2}, {"YQ==", 1}, {"YWJjYWJjYWJj", 9}, {"YWJjYWJjYQ==", 7}};
	for (const auto &c : cases) {
		bool ok = false;
		b64dec(c.text, c.need, &ok);
		EXPECT_TRUE(ok) << c.text;
		b64dec(c.text, c.need - 1, &ok);
		EXPECT_FALSE(ok) << c.text;
	}
	bool ok = true;
	b64dec("YWJj", 0, &ok);
	EXPECT_FALSE(ok);
}

TEST(m_bincodec, base64_decode_long_wrapped_text)
{
	/* Long enough for the group-at-a-time path, broken at every line length,
	 * with one bad character placed at each position in turn. */
	std::mt19937               rng(7);
	const auto                 in = random_bytes(rng, 300);
	std::vector<char>          text(M_base64_encode_size(300, 76));
	const size_t               n = M_base64_encode(text.data(), text.size(), in.data(), 300, 76);
	std::vector<unsigned char> out(300);
	ASSERT_EQ(M_base64_decode(out.data(), out.size(), text.data(), n), 300u);
	ASSERT_EQ(out, in);
	for (size_t pos = 0; pos < n; pos++) {
		if (text[pos] == '\n')
			continue;
		std::string broken(text.data(), n);
		broken[pos] = '!';
		ASSERT_EQ(M_base64_decode(out.data(), out.size(), broken.data(), broken.size()), 0u) << pos;
	}
}

namespace {

/* The decoding rules written out plainly, one character at a time, as an
 * independent check of the table-driven decoder. */
size_t reference_b64(unsigned char *out, size_t outlen, const std::string &in)
{
	auto              ws    = [](unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); };
	const std::string alpha = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	size_t            eff   = in.size();
	while (eff > 0 && ws(static_cast<unsigned char>(in[eff - 1])))
		eff--;
	std::string sig;
	for (size_t i = 0; i < eff; i++) {
		if (!ws(static_cast<unsigned char>(in[i])))
			sig += in[i];
	}
	const size_t n = sig.size();
	if (n == 0 || n % 4 != 0)
		return 0;
	std::vector<unsigned> vals;
	for (size_t j = 0; j < n; j++) {
		if (sig[j] == '=') {
			if (!(j == n - 1 || (j == n - 2 && sig[n - 1] == '=')))
				return 0;
			vals.push_back(0);
		} else {
			const size_t p = alpha.find(sig[j]);
			if (p == std::string::npos || sig[j] == '\0')
				return 0;
			vals.push_back(static_cast<unsigned>(p));
		}
	}
	size_t o = 0;
	for (size_t g = 0; g < n; g += 4) {
		const unsigned v     = (vals[g] << 18) | (vals[g + 1] << 12) | (vals[g + 2] << 6) | vals[g + 3];
		size_t         count = 3;
		if (g + 4 == n && sig[n - 1] == '=')
			count = (sig[n - 2] == '=') ? 1 : 2;
		for (size_t k = 0; k < count; k++) {
			if (o >= outlen)
				return 0;
			out[o++] = static_cast<unsigned char>(v >> (16 - 8 * k));
		}
	}
	return o;
}

} // namespace

TEST(m_bincodec, base64_decode_agrees_with_plain_rules_on_random_text)
{
	std::mt19937      rng(2024);
	const std::string pool = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo0123456789+/abcxyz====    \n\n\r\t!*{@\x80";
	for (int iter = 0; iter < 20000; iter++) {
		std::string text;
		if (iter % 2 == 0) {
			/* A valid encoding with one or two characters changed or inserted. */
			const auto        raw  = random_bytes(rng, 1 + rng() % 40);
			const size_t      wrap = (rng() % 3 == 0) ? 8 : 0;
			std::vector<char> enc(M_base64_encode_size(raw.size(), wrap));
			const size_t      n = M_base64_encode(enc.data(), enc.size(), raw.data(), raw.size(), wrap);
			text.assign(enc.data(), n);
			for (unsigned m = rng() % 3; m > 0; m--) {
				const size_t pos = rng() % (text.size() + 1);
				const char   ch  = pool[rng() % pool.size()];
				if (rng() % 2 && pos < text.size())
					text[pos] = ch;
				else
					text.insert(text.begin() + static_cast<long>(pos), ch);
			}
		} else {
			for (size_t len = rng() % 24; len > 0; len--)
				text += pool[rng() % pool.size()];
		}
		for (size_t room : {size_t{0}, size_t{1}, text.size() / 2, text.size()}) {
			std::vector<unsigned char> a(room + 1, 0xAA), b(room + 1, 0xAA);
			const size_t               ra = M_base64_decode(a.data(), room, text.data(), text.size());
			const size_t               rb = reference_b64(b.data(), room, text);
			ASSERT_EQ(ra, rb) << "'" << text << "' room " << room;
			ASSERT_TRUE(std::equal(a.begin(), a.begin() + static_cast<long>(ra), b.begin())) << text;
		}
	}
}

/* ---------------------------------------------------------------------------
 * Front end and conversions
 * ------------------------------------------------------------------------- */

TEST(m_bincodec, front_end_sizes)
{
	EXPECT_EQ(M_bincodec_decode_size(8, M_BINCODEC_BASE64), 6u);
	EXPECT_EQ(M_bincodec_decode_size(8, M_BINCODEC_HEX), 4u);
	EXPECT_EQ(M_bincodec_decode_size(8, M_BINCODEC_HEX_OR_BASE64), 6u);
	/* A bound for whichever codec the text selects: "14" is hex, one byte. */
	EXPECT_EQ(M_bincodec_decode_size(2, M_BINCODEC_HEX_OR_BASE64), 1u);
	{
		unsigned char out[1] = {0};
		const size_t  room   = M_bincodec_decode_size(2, M_BINCODEC_HEX_OR_BASE64);
		EXPECT_EQ(M_bincodec_decode(out, room, "14", 2, M_BINCODEC_HEX_OR_BASE64), 1u);
		EXPECT_EQ(out[0], 0x14);
	}
	EXPECT_EQ(M_bincodec_decode_size(8, static_cast<M_bincodec_codec_t>(7)), 0u);
	EXPECT_EQ(M_bincodec_encode_size(3, 0, M_BINCODEC_BASE64), 5u);
	EXPECT_EQ(M_bincodec_encode_size(3, 4, M_BINCODEC_HEX), 8u);
	EXPECT_EQ(M_bincodec_encode_size(3, 0, M_BINCODEC_HEX_OR_BASE64), 6u);
	EXPECT_EQ(M_bincodec_encode_size(3, 0, static_cast<M_bincodec_codec_t>(-1)), 0u);
}

TEST(m_bincodec, front_end_encode_and_decode)
{
	char out[16];
	EXPECT_EQ(M_bincodec_encode(out, sizeof(out), u("abc"), 3, 0, M_BINCODEC_BASE64), 4u);
	EXPECT_STREQ(out, "YWJj");
	EXPECT_EQ(M_bincodec_encode(out, sizeof(out), u("abc"), 3, 0, M_BINCODEC_HEX), 6u);
	EXPECT_STREQ(out, "616263");
	EXPECT_EQ(M_bincodec_encode(out, sizeof(out), u("abc"), 3, 0, M_BINCODEC_HEX_OR_BASE64), 0u);
	EXPECT_EQ(M_bincodec_encode(out, sizeof(out), u("abc"), 3, 0, static_cast<M_bincodec_codec_t>(9)), 0u);

	unsigned char bytes[16];
	EXPECT_EQ(M_bincodec_decode(bytes, sizeof(bytes), "YWJj", 4, M_BINCODEC_BASE64), 3u);
	EXPECT_EQ(M_bincodec_decode(bytes, sizeof(bytes), "616263", 6, M_BINCODEC_HEX), 3u);
	EXPECT_EQ(M_bincodec_decode(bytes, sizeof(bytes), "616263", 6, M_BINCODEC_HEX_OR_BASE64), 3u);
	EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
	EXPECT_EQ(M_bincodec_decode(bytes, sizeof(bytes), "YWJj", 4, static_cast<M_bincodec_codec_t>(3)), 0u);

	/* NULL for each pointer, with every codec: no output, nothing read. */
	for (M_bincodec_codec_t codec : {M_BINCODEC_BASE64, M_BINCODEC_HEX, M_BINCODEC_HEX_OR_BASE64}) {
		EXPECT_EQ(M_bincodec_encode(nullptr, sizeof(out), u("abc"), 3, 0, codec), 0u) << codec;
		EXPECT_EQ(M_bincodec_encode(out, sizeof(out), nullptr, 3, 0, codec), 0u) << codec;
		EXPECT_EQ(M_bincodec_decode(nullptr, sizeof(bytes), "414243", 6, codec), 0u) << codec;
		EXPECT_EQ(M_bincodec_decode(bytes, sizeof(bytes), nullptr, 6, codec), 0u) << codec;
		EXPECT_EQ(M_bincodec_decode(bytes, sizeof(bytes), "414243", 0, codec), 0u) << codec;
	}
}

TEST(m_bincodec, hex_or_base64_chooses_by_the_text)
{
	const struct {
		const char *in;
		size_t      n;
		std::string out;
	} cases[] = {
	    {"414243", 3, "ABC"},    /* hex */
	    {"QUJD", 3, "ABC"},      /* Base64 (not all hex digits) */
	    {"41424", 0, ""},        /* odd: Base64, which fails */
	    {"41 42 43", 0, ""},     /* white space: not hex, and bad Base64 */
	    {"41424344", 4, "ABCD"}, /* valid as both: hex wins */
	    {"", 0, ""},
	};
	for (const auto &c : cases) {
		unsigned char out[16];
		const size_t  n = M_hex_or_base64_to_bin(out, sizeof(out), c.in, std::strlen(c.in));
		EXPECT_EQ(n, c.n) << c.in;
		EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), c.out) << c.in;
	}
	unsigned char out[4];
	EXPECT_EQ(M_hex_or_base64_to_bin(out, 4, nullptr, 4), 0u);
	EXPECT_EQ(M_hex_or_base64_to_bin(nullptr, 4, "4142", 4), 0u);
	/* Not terminated within inlen: the check stops at inlen. */
	const char raw[] = {'4', '1', '4', '2', 'z', 'z'};
	EXPECT_EQ(M_hex_or_base64_to_bin(out, 4, raw, 4), 2u);
	EXPECT_EQ(std::memcmp(out, "AB", 2), 0);
}

TEST(m_bincodec, encode_alloc)
{
	char *s = M_bincodec_encode_alloc(u("abc"), 3, 0, M_BINCODEC_BASE64);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "YWJj");
	M_free(s);
	s = M_bincodec_encode_alloc(u("\x00\xAB\xFF"), 3, 4, M_BINCODEC_HEX);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "00AB\nFF");
	M_free(s);
	EXPECT_EQ(M_bincodec_encode_alloc(u("abc"), 3, 0, M_BINCODEC_HEX_OR_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_encode_alloc(u("abc"), 3, 0, static_cast<M_bincodec_codec_t>(5)), nullptr);
	EXPECT_EQ(M_bincodec_encode_alloc(nullptr, 3, 0, M_BINCODEC_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_encode_alloc(u("abc"), 0, 0, M_BINCODEC_BASE64), nullptr);
}

TEST(m_bincodec, decode_alloc)
{
	size_t         len  = 99;
	unsigned char *data = M_bincodec_decode_alloc("YWJjZA==", 8, &len, M_BINCODEC_BASE64);
	ASSERT_NE(data, nullptr);
	EXPECT_EQ(len, 4u);
	EXPECT_STREQ(reinterpret_cast<char *>(data), "abcd");
	M_free(data);

	data = M_bincodec_decode_alloc("6162", 4, &len, M_BINCODEC_HEX);
	ASSERT_NE(data, nullptr);
	EXPECT_EQ(len, 2u);
	EXPECT_EQ(data[2], 0);
	M_free(data);

	/* A 2-digit hex text through hex-or-Base64 (the Base64 bound alone is 0). */
	data = M_bincodec_decode_alloc("41", 2, &len, M_BINCODEC_HEX_OR_BASE64);
	ASSERT_NE(data, nullptr);
	EXPECT_EQ(len, 1u);
	EXPECT_EQ(data[0], 'A');
	M_free(data);

	EXPECT_EQ(M_bincodec_decode_alloc("6", 1, &len, M_BINCODEC_HEX), nullptr);
	EXPECT_EQ(len, 0u);
	EXPECT_EQ(M_bincodec_decode_alloc("YWJ", 3, &len, M_BINCODEC_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_decode_alloc("YW=j", 4, &len, M_BINCODEC_BASE64), nullptr);
	EXPECT_EQ(len, 0u);
	EXPECT_EQ(M_bincodec_decode_alloc("YWJj", 4, nullptr, M_BINCODEC_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_decode_alloc(nullptr, 4, &len, M_BINCODEC_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_decode_alloc("YWJj", 0, &len, M_BINCODEC_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_decode_alloc("YWJj", 4, &len, static_cast<M_bincodec_codec_t>(4)), nullptr);
	EXPECT_EQ(M_bincodec_decode_alloc("    ", 4, &len, M_BINCODEC_BASE64), nullptr);
}

TEST(m_bincodec, decode_str_alloc_requires_text)
{
	char *s = M_bincodec_decode_str_alloc("aGVsbG8=", M_BINCODEC_BASE64);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "hello");
	M_free(s);
	s = M_bincodec_decode_str_alloc("6869090A7E", M_BINCODEC_HEX);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "hi\t\n~");
	M_free(s);
	EXPECT_EQ(M_bincodec_decode_str_alloc("AAEC", M_BINCODEC_BASE64), nullptr);  /* 00 01 02 */
	EXPECT_EQ(M_bincodec_decode_str_alloc("61006263", M_BINCODEC_HEX), nullptr); /* NUL inside */
	EXPECT_EQ(M_bincodec_decode_str_alloc("617F", M_BINCODEC_HEX), nullptr);     /* DEL */
	EXPECT_EQ(M_bincodec_decode_str_alloc("61FF", M_BINCODEC_HEX), nullptr);
	EXPECT_EQ(M_bincodec_decode_str_alloc("", M_BINCODEC_HEX), nullptr);
	EXPECT_EQ(M_bincodec_decode_str_alloc(nullptr, M_BINCODEC_HEX), nullptr);
}

TEST(m_bincodec, convert)
{
	char out[32];
	EXPECT_EQ(M_bincodec_convert(out, sizeof(out), 0, M_BINCODEC_BASE64, "616263", 6, M_BINCODEC_HEX), 4u);
	EXPECT_STREQ(out, "YWJj");
	EXPECT_EQ(M_bincodec_convert(out, sizeof(out), 2, M_BINCODEC_HEX, "YWJj", 4, M_BINCODEC_BASE64), 8u);
	EXPECT_STREQ(out, "61\n62\n63");
	EXPECT_EQ(M_bincodec_convert(out, sizeof(out), 0, M_BINCODEC_HEX, "QUJD", 4, M_BINCODEC_HEX_OR_BASE64), 6u);
	EXPECT_STREQ(out, "414243");
	EXPECT_EQ(M_bincodec_convert(out, 4, 0, M_BINCODEC_BASE64, "616263", 6, M_BINCODEC_HEX), 0u); /* no room */
	EXPECT_EQ(M_bincodec_convert(out, sizeof(out), 0, M_BINCODEC_HEX_OR_BASE64, "6162", 4, M_BINCODEC_HEX), 0u);
	EXPECT_EQ(M_bincodec_convert(out, sizeof(out), 0, M_BINCODEC_HEX, "YWJ", 3, M_BINCODEC_BASE64), 0u);
	EXPECT_EQ(M_bincodec_convert(nullptr, 8, 0, M_BINCODEC_HEX, "YWJj", 4, M_BINCODEC_BASE64), 0u);
	EXPECT_EQ(M_bincodec_convert(out, 8, 0, M_BINCODEC_HEX, nullptr, 4, M_BINCODEC_BASE64), 0u);

	char *s = M_bincodec_convert_alloc("YWJj", 4, 0, M_BINCODEC_BASE64, M_BINCODEC_HEX);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "616263");
	M_free(s);
	s = M_bincodec_convert_alloc("61626364", 8, 4, M_BINCODEC_HEX, M_BINCODEC_BASE64);
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "YWJj\nZA==");
	M_free(s);
	EXPECT_EQ(M_bincodec_convert_alloc("YWJj", 4, 0, M_BINCODEC_BASE64, M_BINCODEC_HEX_OR_BASE64), nullptr);
	EXPECT_EQ(M_bincodec_convert_alloc("Y", 1, 0, M_BINCODEC_BASE64, M_BINCODEC_HEX), nullptr);
	EXPECT_EQ(M_bincodec_convert_alloc(nullptr, 4, 0, M_BINCODEC_BASE64, M_BINCODEC_HEX), nullptr);
}
