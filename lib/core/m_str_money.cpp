/* Number text: money amounts written with two decimals.
 *
 * Kept apart from m_str_num.cpp because it sits on top of the decimal type
 * (m_decimal.h), which in turn uses the number conversions of m_str_num.
 */
#include "core/m_str_num.h"

#include "core/m_chr.h"
#include "core/m_decimal.h"
#include "core/m_str.h"

extern "C" {

char *M_str_dot_money_out(const char *s)
{
	const size_t len = M_str_len(s);
	if (len == 0)
		return nullptr;

	M_decimal_t d;
	const char *end = nullptr;
	if (M_decimal_from_str(s, len, &d, &end) != M_DECIMAL_SUCCESS)
		return nullptr;
	/* Only white space may follow the amount: "1,234.56" must not come out
	 * as "1.00". */
	for (const char *c = end; *c != '\0'; c++) {
		if (!M_chr_isspace(*c))
			return nullptr;
	}
	if (M_decimal_transform(&d, 2) != M_DECIMAL_SUCCESS)
		return nullptr;

	/* Two places and at most 19 digits: sign, digits, point, terminator. */
	char text[32];
	if (M_decimal_to_str(&d, text, sizeof(text)) != M_DECIMAL_SUCCESS)
		return nullptr;
	return M_strdup(text);
}

} /* extern "C" */
