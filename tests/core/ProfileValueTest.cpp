#include "core/ProfileValue.h"

#include <gtest/gtest.h>

TEST(ProfileInteger, DecimalWithBlanksAndSign)
{
    EXPECT_EQ(ProfileInteger("3"), 3);
    EXPECT_EQ(ProfileInteger(" -2"), -2);
    EXPECT_EQ(ProfileInteger("+7"), 7);
    EXPECT_EQ(ProfileInteger("2147483647"), 2147483647);
    EXPECT_EQ(ProfileInteger("-2147483648"), -2147483647 - 1);
}

TEST(ProfileInteger, HexadecimalWithEitherPrefix)
{
    EXPECT_EQ(ProfileInteger("0x10"), 16);
    EXPECT_EQ(ProfileInteger("0X1f"), 31);
    EXPECT_EQ(ProfileInteger("$1F"), 31);
    EXPECT_EQ(ProfileInteger("-$10"), -16);
    EXPECT_EQ(ProfileInteger("0xFFFFFFFF"), -1); // wraps into the signed range
    EXPECT_EQ(ProfileInteger("0x"), 0);          // too short to be hexadecimal, not decimal either
}

TEST(ProfileInteger, AnythingElseGivesTheFallback)
{
    EXPECT_EQ(ProfileInteger("12abc"), 0);
    EXPECT_EQ(ProfileInteger(""), 0);
    EXPECT_EQ(ProfileInteger("   "), 0);
    EXPECT_EQ(ProfileInteger("99999999999"), 0);
    EXPECT_EQ(ProfileInteger("2147483648"), 0);
    EXPECT_EQ(ProfileInteger("0x100000000"), 0);
    EXPECT_EQ(ProfileInteger("3 "), 0);  // trailing blanks are not allowed
    EXPECT_EQ(ProfileInteger("- 3"), 0);
    EXPECT_EQ(ProfileInteger(" 0x10"), 0); // the prefix only at the very start
    EXPECT_EQ(ProfileInteger("$"), 0);
    EXPECT_EQ(ProfileInteger("x", 5), 5);
}
