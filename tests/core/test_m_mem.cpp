#include <gtest/gtest.h>

#include "core/m_mem.h"

TEST(m_mem, crc_check_values)
{
	const char *s = "123456789";
	EXPECT_EQ(M_mem_calc_crc8_ccitt(s, 9), 0xF4);
	EXPECT_EQ(M_mem_calc_crc16_ccitt(s, 9), 0x29B1);
	EXPECT_EQ(M_mem_calc_crc32(s, 9), 0xCBF43926u);
}
