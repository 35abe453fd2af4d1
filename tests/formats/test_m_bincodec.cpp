/* Hex, Base64 and the codec front end: round trips, Base64 against OpenSSL and
 * the decoding rules written out plainly, and tables of exact outputs. */
#include "tests/test_util.h"

#include <openssl/evp.h>

#include "formats/m_base64.h"
#include "formats/m_bincodec.h"
#include "formats/m_bincodec_conv.h"
#include "formats/m_hex.h"

using Bytes = std::vector<unsigned char>;

namespace {

using test_util::take;

const unsigned char *u(const char *s)
{
	return reinterpret_cast<const unsigned char *>(s);
}

Bytes random_bytes(std::mt19937 &rng, size_t n)
{
	Bytes v(n);
	for (auto &b : v)
		b = static_cast<unsigned char>(rng());
	return v;
}

/* The text's lines: every one but the last exactly `wrap` long, none empty;
 * returns them joined. */
std::string unwrap(const std::string &s, size_t wrap)
{
	std::string joined;
	size_t      start = 0, nl;
	while ((nl = s.find('\n', start)) != std::string::npos) {
		EXPECT_EQ(nl - start, wrap) << s;
		joined += s.substr(start, nl - start);
		start = nl + 1;
	}
	EXPECT_LT(start, s.size()) << "ends with a line feed: " << s;
	return joined + s.substr(start);
}

std::string openssl_base64(const Bytes &data)
{
	std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
	out.resize(static_cast<size_t>(
	    EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), data.data(), static_cast<int>(data.size()))));
	return out;
}

TEST(m_bincodec, hex)
{
	const unsigned char in[] = {0x00, 0xAB, 0xFF};
	const struct {
		size_t      wrap, room;
		const char *out; /* nullptr: nothing written */
	} enc[] = {{4, 64, "00AB\nFF"}, {0, 6, "00ABFF"} /* exact room: no terminator */, {0, 5, nullptr}};
	for (const auto &c : enc) {
		char out[64];
		std::memset(out, 'x', sizeof(out));
		const size_t n = M_hex_encode(in, 3, out, c.room, c.wrap);
		EXPECT_EQ(std::string(out, n), c.out ? c.out : "") << c.wrap << " " << c.room;
		EXPECT_EQ(out[n], n == 0 || c.room == n ? 'x' : '\0');
	}
	EXPECT_EQ(M_hex_target_size(SIZE_MAX / 2, 0), 0u) << "overflow";

	/* Decoding skips white space but validates nothing: any character is
	 * arithmetic ("gG": high (103 - 7) % 16 = 0, low 71 - 55; "!" below "0"
	 * wraps modulo 256). Half the input length must fit. */
	const struct {
		const char *in;
		size_t      room;
		std::string out; /* empty: fails */
	} dec[] = {{"00 AB ff", 4, std::string("\x00\xAB\xFF", 3)},
	           {"00A", 4, ""},
	           {"0 ", 4, ""}, /* a high digit, then only space */
	           {"  ", 4, ""},
	           {"gG", 1, "\x10"},
	           {"1!", 1, "\xF1"},
	           {"000000", 2, ""}};
	for (const auto &c : dec) {
		unsigned char out[16];
		const size_t  n = M_hex_decode(c.in, std::strlen(c.in), out, c.room);
		EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), c.out) << c.in;
	}

	/* Round trip over lengths and line widths (odd ones break lines inside a
	 * byte). The decoder wants an even length (padded with a space) and room
	 * for inlen / 2, line feeds included. */
	std::mt19937 rng(1234);
	for (size_t len = 1; len < 70; len++) {
		const Bytes data = random_bytes(rng, len);
		for (size_t wrap : {0, 1, 2, 3, 7, 16, 64}) {
			std::vector<char> text(M_hex_target_size(len, wrap) + 1);
			const size_t      n = M_hex_encode(data.data(), len, text.data(), text.size(), wrap);
			ASSERT_EQ(n, 2 * len + (wrap ? (2 * len - 1) / wrap : 0));
			std::string t(text.data(), n);
			EXPECT_EQ(unwrap(t, wrap).size(), 2 * len);
			if (t.size() % 2)
				t += ' ';
			Bytes back(t.size() / 2);
			ASSERT_EQ(M_hex_decode(t.data(), t.size(), back.data(), back.size()), len);
			back.resize(len);
			ASSERT_EQ(back, data);
		}
	}
}

/* The decoding rules written out plainly: a check of the table-driven decoder. */
size_t reference_b64(unsigned char *out, size_t outlen, const std::string &in)
{
	auto              ws    = [](unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); };
	const std::string alpha = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	std::string       sig;
	for (char c : in)
		sig += ws(static_cast<unsigned char>(c)) ? "" : std::string(1, c);
	const size_t n = sig.size();
	if (n == 0 || n % 4 != 0)
		return 0;
	std::vector<unsigned> vals;
	for (size_t j = 0; j < n; j++) {
		const size_t p = alpha.find(sig[j]);
		if (sig[j] == '=' && (j == n - 1 || (j == n - 2 && sig[n - 1] == '=')))
			vals.push_back(0);
		else if (p == std::string::npos || sig[j] == '\0')
			return 0;
		else
			vals.push_back(static_cast<unsigned>(p));
	}
	const size_t pad = sig[n - 1] == '=' ? (sig[n - 2] == '=' ? 2 : 1) : 0;
	if (n / 4 * 3 - pad > outlen)
		return 0;
	for (size_t o = 0; o < n / 4 * 3 - pad; o++)
		out[o] = static_cast<unsigned char>(((vals[o / 3 * 4] << 18) | (vals[o / 3 * 4 + 1] << 12) |
		                                     (vals[o / 3 * 4 + 2] << 6) | vals[o / 3 * 4 + 3]) >>
		                                    (16 - 8 * (o % 3)));
	return n / 4 * 3 - pad;
}

/* Encoding against OpenSSL's in lines of every width; decoding against the
 * plain rules, on valid encodings with a character or two changed or added
 * and on random text, with too little room and enough. */
TEST(m_bincodec, base64_matches_openssl_and_the_plain_rules)
{
	const size_t wraps[] = {0, 0, 1, 3, 4, 8, 76};
	std::mt19937 rng(2024);
	std::string  pool = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo0123456789+/abcxyz====    \n\n\r\t!*{@,\x80\xFF";
	pool += '\0';
	for (int iter = 0; iter < 20000; iter++) {
		std::string text;
		if (iter % 2 == 0) {
			const Bytes       raw  = random_bytes(rng, 1 + rng() % 60);
			const size_t      wrap = wraps[rng() % std::size(wraps)];
			std::vector<char> enc(M_base64_encode_size(raw.size(), wrap));
			text.assign(enc.data(), M_base64_encode(enc.data(), enc.size(), raw.data(), raw.size(), wrap));
			ASSERT_EQ(enc[text.size()], '\0');
			ASSERT_EQ(unwrap(text, wrap), openssl_base64(raw)) << "wrap " << wrap;
			ASSERT_EQ(M_base64_encode(enc.data(), enc.size() - 1, raw.data(), raw.size(), wrap), 0u)
			    << "no room for the terminator";
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
			Bytes        a(room + 1, 0xAA), b(room + 1, 0xAA);
			const size_t ra = M_base64_decode(a.data(), room, text.data(), text.size());
			ASSERT_EQ(ra, reference_b64(b.data(), room, text)) << "'" << text << "' room " << room;
			ASSERT_TRUE(std::equal(a.begin(), a.begin() + static_cast<long>(ra), b.begin())) << text;
		}
	}
	EXPECT_EQ(M_base64_encode_size(SIZE_MAX, 0), 0u) << "overflow";
}

TEST(m_bincodec, front_end)
{
	const auto B64 = M_BINCODEC_BASE64, HEX = M_BINCODEC_HEX, EITHER = M_BINCODEC_HEX_OR_BASE64;
	const auto BAD = static_cast<M_bincodec_codec_t>(3); /* in the enum's range, not a codec */
	/* Sizes: a bound for whichever codec the text selects. */
	EXPECT_EQ(M_bincodec_decode_size(8, EITHER), 6u);
	EXPECT_EQ(M_bincodec_decode_size(2, EITHER), 1u);
	EXPECT_EQ(M_bincodec_decode_size(8, BAD), 0u);
	EXPECT_EQ(M_bincodec_encode_size(3, 0, EITHER), 6u);
	EXPECT_EQ(M_bincodec_encode_size(3, 0, BAD), 0u);

	/* Encoding: only a real codec writes; the allocating form agrees. */
	const struct {
		M_bincodec_codec_t codec;
		size_t             wrap;
		const char        *out;
	} enc[] = {{B64, 0, "YWJj"}, {HEX, 0, "616263"}, {HEX, 4, "6162\n63"}, {EITHER, 0, nullptr}, {BAD, 0, nullptr}};
	for (const auto &c : enc) {
		char out[16] = "";
		EXPECT_EQ(M_bincodec_encode(out, sizeof(out), u("abc"), 3, c.wrap, c.codec), c.out ? std::strlen(c.out) : 0);
		EXPECT_STREQ(out, c.out ? c.out : "");
		EXPECT_EQ(take(M_bincodec_encode_alloc(u("abc"), 3, c.wrap, c.codec)), c.out ? c.out : "(null)");
	}
	EXPECT_EQ(M_bincodec_encode_alloc(u("abc"), 0, 0, B64), nullptr);

	/* Decoding: hex-or-Base64 takes hex when every character is a hex digit
	 * and the length is even (hex wins when both fit), else Base64. The
	 * allocating form terminates the bytes and fails on bad or empty text;
	 * the string form wants printable text. */
	const struct {
		const char        *in;
		M_bincodec_codec_t codec;
		const char        *out; /* nullptr: fails */
	} dec[] = {{"YWJjZA==", B64, "abcd"},    {"6162", HEX, "ab"},   {"QUJD", EITHER, "ABC"},
	           {"41424344", EITHER, "ABCD"}, {"41", EITHER, "A"},   {"41424", EITHER, nullptr},
	           {"6", HEX, nullptr},          {"YWJ", B64, nullptr}, {"YWJj", BAD, nullptr}};
	for (const auto &c : dec) {
		unsigned char  out[16];
		size_t         len  = 99;
		const size_t   n    = M_bincodec_decode(out, M_bincodec_decode_size(std::strlen(c.in), c.codec), c.in,
		                                        std::strlen(c.in), c.codec);
		unsigned char *data = M_bincodec_decode_alloc(c.in, std::strlen(c.in), &len, c.codec);
		EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), c.out ? c.out : "") << c.in;
		EXPECT_EQ(len, c.out ? std::strlen(c.out) : 0) << c.in;
		EXPECT_EQ(take(reinterpret_cast<char *>(data)), c.out ? c.out : "(null)") << c.in; /* terminated */
		if (c.codec == EITHER) {
			EXPECT_EQ(M_hex_or_base64_to_bin(out, sizeof(out), c.in, std::strlen(c.in)), n);
		}
	}
	const char    raw[] = {'4', '1', '4', '2', 'z', 'z'}; /* the hex check stops at inlen */
	unsigned char out[4];
	EXPECT_EQ(M_hex_or_base64_to_bin(out, 4, raw, 4), 2u);
	EXPECT_EQ(take(M_bincodec_decode_str_alloc("aGVsbG8=", B64)), "hello");
	EXPECT_EQ(take(M_bincodec_decode_str_alloc("6869090A7E", HEX)), "hi\t\n~");
	for (const char *bad : {"000102", "61006263", "617F", "61FF", ""})
		EXPECT_EQ(M_bincodec_decode_str_alloc(bad, HEX), nullptr) << bad;

	/* One NULL pointer with the others live (the generated sweep passes NULL
	 * for all at once): nothing written, nothing read. */
	char          text[16];
	unsigned char bin[16];
	size_t        len = 0;
	// clang-format off
	const std::pair<const char *, size_t> one_null[] = {
	    {"hex encode, no input", M_hex_encode(nullptr, 2, text, 8, 0)},
	    {"hex encode, no output", M_hex_encode(u("ab"), 2, nullptr, 8, 0)},
	    {"hex decode, no input", M_hex_decode(nullptr, 2, bin, 2)},
	    {"hex decode, no output", M_hex_decode("00", 2, nullptr, 2)},
	    {"Base64 encode, no input", M_base64_encode(text, 5, nullptr, 1, 0)},
	    {"Base64 encode, no output", M_base64_encode(nullptr, 5, u("a"), 1, 0)},
	    {"Base64 decode, no input", M_base64_decode(bin, 8, nullptr, 4)},
	    {"Base64 decode, no output", M_base64_decode(nullptr, 8, "YWJj", 4)},
	    {"front end encode, no input", M_bincodec_encode(text, 16, nullptr, 3, 0, B64)},
	    {"front end decode, no input", M_bincodec_decode(bin, 16, nullptr, 6, HEX)},
	    {"convert, no input", M_bincodec_convert(text, 8, 0, HEX, nullptr, 4, B64)},
	    {"convert, no output", M_bincodec_convert(nullptr, 8, 0, HEX, "YWJj", 4, B64)},
	    {"hex or Base64, no input", M_hex_or_base64_to_bin(bin, 4, nullptr, 4)},
	    {"hex or Base64, no output", M_hex_or_base64_to_bin(nullptr, 4, "4142", 4)}};
	// clang-format on
	for (const auto &[what, result] : one_null)
		EXPECT_EQ(result, 0u) << what;
	EXPECT_EQ(M_bincodec_decode_alloc(nullptr, 6, &len, EITHER), nullptr);

	const struct {
		const char        *in;
		M_bincodec_codec_t from, to;
		size_t             wrap, room;
		const char        *out;
	} conv[] = {{"YWJj", B64, HEX, 2, 32, "61\n62\n63"},     {"QUJD", EITHER, HEX, 0, 32, "414243"},
	            {"61626364", HEX, B64, 4, 32, "YWJj\nZA=="}, {"616263", HEX, B64, 0, 4, nullptr},
	            {"6162", HEX, EITHER, 0, 32, nullptr},       {"YWJ", B64, HEX, 0, 32, nullptr}};
	for (const auto &c : conv) {
		char buf[32] = "";
		EXPECT_EQ(M_bincodec_convert(buf, c.room, c.wrap, c.to, c.in, std::strlen(c.in), c.from),
		          c.out ? std::strlen(c.out) : 0);
		EXPECT_STREQ(buf, c.out ? c.out : "");
		if (c.room == 32) {
			EXPECT_EQ(take(M_bincodec_convert_alloc(c.in, std::strlen(c.in), c.wrap, c.from, c.to)),
			          c.out ? c.out : "(null)");
		}
	}
}

} // namespace
