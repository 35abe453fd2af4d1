#include <gtest/gtest.h>

#include "core/m_buf.h"
#include "core/m_decimal.h"
#include "core/m_mem.h"
#include "core/m_str_num.h"

#include <cstdint>
#include <random>
#include <string>

/* The money and decimal appends of the byte buffer, and the money text of
 * the number conversions. */

namespace {

/* Contents of a buffer, then cancel it. */
std::string take(M_buf_t *buf)
{
	std::string s(M_buf_peek(buf) == nullptr ? "" : M_buf_peek(buf), M_buf_len(buf));
	M_buf_cancel(buf);
	return s;
}

std::string take_str(char *s)
{
	std::string r = s == nullptr ? "<null>" : s;
	M_free(s);
	return r;
}

M_decimal_t dec(int64_t num, uint8_t places)
{
	M_decimal_t d;
	d.num     = num;
	d.num_dec = places;
	return d;
}

} // namespace

TEST(m_buf_money, money_from_text)
{
	struct Case {
		const char *amount;
		bool        ok;
		const char *plain; /* M_buf_add_money */
		const char *dot;   /* M_buf_add_money_dot */
	};
	const Case cases[] = {
	    {"12.5", true, "1250", "12.50"},
	    {"12.34", true, "1234", "12.34"},
	    {"7", true, "700", "7.00"},
	    {"0.05", true, "5", "0.05"},
	    {"-0.05", true, "-5", "-0.05"},
	    {"-.05", true, "-5", "-0.05"},
	    {".5", true, "50", "0.50"},
	    {"+3", true, "300", "3.00"},
	    {"-12.5", true, "-1250", "-12.50"},
	    {"-1.05", true, "-105", "-1.05"},
	    {"  3.1  ", true, "310", "3.10"},
	    {"12.345", true, "1235", "12.35"},    /* rounded half up */
	    {"-12.345", true, "-1235", "-12.35"}, /* the magnitude the same way */
	    {"12.344", true, "1234", "12.34"},
	    {"0.005", true, "1", "0.01"},
	    {"-0.005", true, "-1", "-0.01"},
	    {"0.004", true, "0", "0.00"},
	    {"12.3456789", true, "1235", "12.35"}, /* the third decimal decides, then ends */
	    {"0", true, "0", "0.00"},
	    {"-0", true, "0", "0.00"},
	    /* Grouping commas are skipped; the number ends at a second "." or any
		 * other character. */
	    {"1,234.56", true, "123456", "1234.56"},
	    {"-1,000,000", true, "-100000000", "-1000000.00"},
	    {"1.2.3", true, "120", "1.20"},
	    {"12abc", true, "1200", "12.00"},
	    {"1.5e2", true, "150", "1.50"},
	    {"92233720368547758.07", true, "9223372036854775807", "92233720368547758.07"},
	    {"92233720368547758.074", true, "9223372036854775807", "92233720368547758.07"},
	    {"-92233720368547758.08", true, "-9223372036854775808", "-92233720368547758.08"},
	    /* Refused rather than saturated or read as 0. */
	    {"92233720368547758.08", false, "", ""},
	    {"92233720368547758.075", false, "", ""}, /* rounding takes it over */
	    {"-92233720368547758.09", false, "", ""},
	    {"99999999999999999999", false, "", ""},
	    {"abc", false, "", ""},
	    {"", false, "", ""},
	    {"   ", false, "", ""},
	    {"-", false, "", ""},
	    {".", false, "", ""},
	    {",", false, "", ""},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.amount);
		M_buf_t *buf = M_buf_create();
		M_buf_add_str(buf, "[");
		EXPECT_EQ(M_buf_add_money(buf, c.amount), c.ok);
		EXPECT_EQ(take(buf), std::string("[") + c.plain);

		buf = M_buf_create();
		M_buf_add_str(buf, "[");
		EXPECT_EQ(M_buf_add_money_dot(buf, c.amount), c.ok);
		EXPECT_EQ(take(buf), std::string("[") + c.dot);
	}
}

TEST(m_buf_money, money_text_agrees_with_atofi_prec)
{
	/* Random short texts of amount characters: an accepted text appends
	 * exactly M_atofi_prec's hundredths; a refused one is one M_atofi_prec
	 * can only read as 0 (no digit). Short texts cannot overflow. */
	const char      alphabet[] = "0123456789,.-+ x5";
	std::mt19937_64 rng(7);
	int             accepted = 0;
	for (int i = 0; i < 20000; i++) {
		std::string text;
		const int   n = static_cast<int>(rng() % 11);
		for (int k = 0; k < n; k++)
			text.push_back(alphabet[rng() % (sizeof(alphabet) - 1)]);
		M_buf_t          *buf = M_buf_create();
		const bool        ok  = M_buf_add_money(buf, text.c_str());
		const std::string got = take(buf);
		const int64_t     v   = M_atofi_prec(text.c_str(), 2);
		if (ok) {
			accepted++;
			ASSERT_EQ(got, std::to_string(v)) << "[" << text << "]";
		} else {
			ASSERT_EQ(got, "") << "[" << text << "]";
			ASSERT_EQ(v, 0) << "[" << text << "]";
		}
	}
	EXPECT_GT(accepted, 2000);
}

TEST(m_buf_money, money_justified)
{
	struct Case {
		const char *amount;
		size_t      width;
		const char *plain; /* nullptr: refused */
		const char *dot;
	};
	const Case cases[] = {
	    {"1.5", 6, "000150", "001.50"},   {"-0.05", 4, "-005", nullptr},       {"-0.05", 5, "-0005", "-0.05"},
	    {"-0.05", 6, "-00005", "-00.05"}, {"12.5", 8, "00001250", "00012.50"}, {"12.5", 4, "1250", nullptr},
	    {"12.5", 3, nullptr, nullptr},    {"12.5", 0, nullptr, nullptr},       {"-12.5", 5, "-1250", nullptr},
	    {"-12.5", 6, "-01250", "-12.50"}, {"x", 10, nullptr, nullptr},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(std::string(c.amount) + " width " + std::to_string(c.width));
		M_buf_t *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_money_just(buf, c.amount, c.width), c.plain != nullptr);
		EXPECT_EQ(take(buf), c.plain == nullptr ? "" : c.plain);

		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_money_dot_just(buf, c.amount, c.width), c.dot != nullptr);
		EXPECT_EQ(take(buf), c.dot == nullptr ? "" : c.dot);
	}
}

TEST(m_buf_money, int_money)
{
	struct Case {
		int64_t     amount;
		const char *plain;
		const char *dot;
		size_t      width;
		const char *plain_just; /* nullptr: refused */
		const char *dot_just;
	};
	const Case cases[] = {
	    {1205, "1205", "12.05", 7, "0001205", "0012.05"},
	    {-5, "-5", "-0.05", 6, "-00005", "-00.05"},
	    {0, "0", "0.00", 4, "0000", "0.00"},
	    {99, "99", "0.99", 3, "099", nullptr},
	    {-100, "-100", "-1.00", 5, "-0100", "-1.00"},
	    {-105, "-105", "-1.05", 7, "-000105", "-001.05"}, /* not "-1.-5" */
	    {-1, "-1", "-0.01", 5, "-0001", "-0.01"},
	    {INT64_MAX, "9223372036854775807", "92233720368547758.07", 20, "09223372036854775807", "92233720368547758.07"},
	    {INT64_MIN, "-9223372036854775808", "-92233720368547758.08", 20, "-9223372036854775808", nullptr},
	    {12345, "12345", "123.45", 0, nullptr, nullptr},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.amount);
		M_buf_t *buf = M_buf_create();
		EXPECT_TRUE(M_buf_add_int_money(buf, c.amount));
		EXPECT_EQ(take(buf), c.plain);
		buf = M_buf_create();
		EXPECT_TRUE(M_buf_add_int_money_dot(buf, c.amount));
		EXPECT_EQ(take(buf), c.dot);
		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_int_money_just(buf, c.amount, c.width), c.plain_just != nullptr);
		EXPECT_EQ(take(buf), c.plain_just == nullptr ? "" : c.plain_just);
		buf = M_buf_create();
		EXPECT_EQ(M_buf_add_int_money_dot_just(buf, c.amount, c.width), c.dot_just != nullptr);
		EXPECT_EQ(take(buf), c.dot_just == nullptr ? "" : c.dot_just);
	}
}

TEST(m_buf_money, int_money_dot_property)
{
	/* The dotted text reads back as the same number of hundredths, and the
	 * justified form is the plain form padded after its sign. */
	std::mt19937_64 rng(42);
	for (int i = 0; i < 5000; i++) {
		int64_t v = static_cast<int64_t>(rng());
		if (i % 3 == 0)
			v %= 100000;
		M_buf_t *buf = M_buf_create();
		ASSERT_TRUE(M_buf_add_int_money_dot(buf, v));
		std::string text = take(buf);
		buf              = M_buf_create();
		ASSERT_TRUE(M_buf_add_money(buf, text.c_str())) << text;
		ASSERT_EQ(take(buf), std::to_string(v)) << text;

		const size_t width = text.size() + static_cast<size_t>(rng() % 4);
		buf                = M_buf_create();
		ASSERT_TRUE(M_buf_add_int_money_dot_just(buf, v, width));
		std::string just = take(buf);
		ASSERT_EQ(just.size(), width);
		const size_t sign = v < 0 ? 1 : 0;
		ASSERT_EQ(just.substr(0, sign) + just.substr(sign + width - text.size()), text);
		ASSERT_EQ(just.substr(sign, width - text.size()), std::string(width - text.size(), '0'));
	}
}

TEST(m_buf_money, decimal)
{
	struct Case {
		int64_t     num;
		uint8_t     places;
		uint8_t     to;   /* 255: keep */
		const char *text; /* nullptr: refused */
	};
	const Case cases[] = {
	    {15, 1, 2, "1.50"},
	    {15, 1, 255, "1.5"},
	    {125, 2, 1, "1.3"},
	    {-125, 2, 1, "-1.3"},  /* not "-1.2" */
	    {-5, 2, 255, "-0.05"}, /* not "-.05" */
	    {-5, 2, 0, "0"},
	    {-50, 2, 0, "-1"},
	    {12, 0, 0, "12"},
	    {150, 2, 255, "1.50"},      /* kept as it is, not reduced */
	    {INT64_MAX, 0, 1, nullptr}, /* rescaling overflows */
	    {1, 255, 255, nullptr},     /* set below: text of 259 bytes */
	};
	for (const Case &c : cases) {
		if (c.places == 255)
			continue;
		SCOPED_TRACE(std::to_string(c.num) + " places " + std::to_string(c.places) + " to " + std::to_string(c.to));
		M_decimal_t d   = dec(c.num, c.places);
		M_buf_t    *buf = M_buf_create();
		EXPECT_EQ(M_buf_add_decimal(buf, &d, c.to), c.text != nullptr);
		EXPECT_EQ(take(buf), c.text == nullptr ? "" : c.text);
		EXPECT_EQ(d.num, c.num); /* the argument is not changed */
		EXPECT_EQ(d.num_dec, c.places);
	}

	/* The longest text: 255 places. */
	M_decimal_t tiny = dec(-1, 255);
	M_buf_t    *buf  = M_buf_create();
	EXPECT_TRUE(M_buf_add_decimal(buf, &tiny, 255));
	std::string s = take(buf);
	EXPECT_EQ(s.size(), 258u);
	EXPECT_EQ(s.substr(0, 3), "-0.");
	EXPECT_EQ(s.back(), '1');
}

TEST(m_buf_money, decimal_justified)
{
	M_decimal_t d   = dec(15, 1);
	M_buf_t    *buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_decimal_just(buf, &d, 2, 7));
	EXPECT_EQ(take(buf), "0001.50");

	d   = dec(-15, 1);
	buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_decimal_just(buf, &d, 2, 7));
	EXPECT_EQ(take(buf), "-001.50");

	d   = dec(-5, 2);
	buf = M_buf_create();
	EXPECT_TRUE(M_buf_add_decimal_just(buf, &d, 255, 5));
	EXPECT_EQ(take(buf), "-0.05");

	buf = M_buf_create();
	M_buf_add_str(buf, "x");
	EXPECT_FALSE(M_buf_add_decimal_just(buf, &d, 255, 4)); /* too narrow */
	EXPECT_FALSE(M_buf_add_decimal_just(buf, &d, 255, 0));
	EXPECT_FALSE(M_buf_add_decimal_just(buf, nullptr, 255, 10));
	d = dec(INT64_MAX, 0);
	EXPECT_FALSE(M_buf_add_decimal_just(buf, &d, 3, 40));
	EXPECT_EQ(take(buf), "x"); /* unchanged after every failure */
}

TEST(m_buf_money, null_arguments)
{
	/* A NULL buffer still reports the check of the other arguments. */
	M_decimal_t d = dec(15, 1);
	EXPECT_TRUE(M_buf_add_money(nullptr, "1.5"));
	EXPECT_FALSE(M_buf_add_money(nullptr, "x"));
	EXPECT_TRUE(M_buf_add_money_just(nullptr, "1.5", 3));
	EXPECT_FALSE(M_buf_add_money_just(nullptr, "1.5", 2));
	EXPECT_TRUE(M_buf_add_money_dot(nullptr, "1.5"));
	EXPECT_TRUE(M_buf_add_money_dot_just(nullptr, "1.5", 4));
	EXPECT_FALSE(M_buf_add_money_dot_just(nullptr, "1.5", 3));
	EXPECT_TRUE(M_buf_add_int_money(nullptr, 5));
	EXPECT_TRUE(M_buf_add_int_money_dot(nullptr, 5));
	EXPECT_TRUE(M_buf_add_int_money_just(nullptr, 5, 1));
	EXPECT_FALSE(M_buf_add_int_money_just(nullptr, -5, 1));
	EXPECT_TRUE(M_buf_add_int_money_dot_just(nullptr, 5, 4));
	EXPECT_FALSE(M_buf_add_int_money_dot_just(nullptr, 5, 3));
	EXPECT_TRUE(M_buf_add_decimal(nullptr, &d, 2));
	EXPECT_FALSE(M_buf_add_decimal(nullptr, nullptr, 2));
	EXPECT_TRUE(M_buf_add_decimal_just(nullptr, &d, 2, 4));
	EXPECT_FALSE(M_buf_add_decimal_just(nullptr, &d, 2, 3));

	/* NULL amount text does not parse; nothing is appended. */
	M_buf_t *buf = M_buf_create();
	EXPECT_FALSE(M_buf_add_money(buf, nullptr));
	EXPECT_FALSE(M_buf_add_money_just(buf, nullptr, 10));
	EXPECT_FALSE(M_buf_add_money_dot(buf, nullptr));
	EXPECT_FALSE(M_buf_add_money_dot_just(buf, nullptr, 10));
	EXPECT_FALSE(M_buf_add_decimal(buf, nullptr, 255));
	EXPECT_EQ(M_buf_len(buf), 0u);
	M_buf_cancel(buf);
}

TEST(m_buf_money, str_dot_money_out)
{
	struct Case {
		const char *in;
		const char *out; /* "<null>": refused */
	};
	const Case cases[] = {
	    {"12.5", "12.50"},
	    {"12.50", "12.50"},
	    {"7", "7.00"},
	    {"-0.05", "-0.05"}, /* not "-.05" */
	    {"-.05", "<null>"}, /* the integer part is needed after a sign */
	    {".5", "0.50"},
	    {"-1.05", "-1.05"},
	    {"1.2e1", "12.00"},
	    {"  42  ", "42.00"},
	    {"-0", "0.00"},
	    {"92233720368547758.07", "92233720368547758.07"},
	    {"-92233720368547758.08", "-92233720368547758.08"},
	    {"92233720368547758.08", "<null>"}, /* does not fit in hundredths */
	    {"1.234", "<null>"},                /* would have to be rounded */
	    {"1,234.56", "<null>"},             /* not "1.00" */
	    {"12abc", "<null>"},
	    {"abc", "<null>"},
	    {"", "<null>"},
	    {"1e300", "<null>"},
	    {"0.12345678901234567890123", "<null>"}, /* truncated when read */
	};
	for (const Case &c : cases)
		EXPECT_EQ(take_str(M_str_dot_money_out(c.in)), c.out) << c.in;
	EXPECT_EQ(M_str_dot_money_out(nullptr), nullptr);
}
