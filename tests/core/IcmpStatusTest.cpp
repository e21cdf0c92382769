#include "core/IcmpStatus.h"

#include <gtest/gtest.h>

TEST(IcmpStatusText, KnownCodesHaveTheirTexts)
{
    EXPECT_EQ(IcmpStatusText(0), "No error");
    EXPECT_EQ(IcmpStatusText(11010), "Request timed out");
    EXPECT_EQ(IcmpStatusText(11018), "Bad Destination");
    EXPECT_EQ(IcmpStatusText(11050), "General failure");
    EXPECT_EQ(IcmpStatusText(11255), "Pending");
}

TEST(IcmpStatusText, OtherCodesGiveTheirNumberUnsigned)
{
    EXPECT_EQ(IcmpStatusText(12345), "ICMP error #12345");
    EXPECT_EQ(IcmpStatusText(11022), "ICMP error #11022"); // gaps in the numbering
    EXPECT_EQ(IcmpStatusText(1), "ICMP error #1");
    EXPECT_EQ(IcmpStatusText(4294967295u), "ICMP error #4294967295");
}
