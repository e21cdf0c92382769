#include "core/IpCheckPage.h"

#include <gtest/gtest.h>

namespace {

// The service's page, as it shows a request that came through a proxy which announced itself.
const char kServicePage[] = "REMOTE_ADDR = 127.0.0.77\n"
                            "HTTP_HOST = 127.0.0.1:8000\n"
                            "HTTP_USER_AGENT = zarnu.exe\n"
                            "HTTP_VIA = 1.1 tinyproxy (tinyproxy/1.11.1)\n";

TEST(IpCheckPage, TheCallerIsRemoteAddrOrElseTheFirstAddress)
{
    EXPECT_EQ(CallerAddress(kServicePage), "127.0.0.77");
    EXPECT_EQ(CallerAddress("HTTP_X_FORWARDED_FOR = 10.0.0.1\nREMOTE_ADDR=192.168.1.5\n"), "192.168.1.5");
    EXPECT_EQ(CallerAddress("<p>Your IP address is 203.0.113.9.</p> (seen 2026-12-08)"), "203.0.113.9");
    EXPECT_EQ(CallerAddress("version 1.2.3.4.5, then 256.1.1.1 and 1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(CallerAddress("REMOTE_ADDR = 300.1.1.1\n"), std::nullopt);
    EXPECT_EQ(CallerAddress("no address here"), std::nullopt);
}

TEST(IpCheckPage, AnAddressCountsOnlyWhole)
{
    EXPECT_TRUE(MentionsAddress("HTTP_X_TINYPROXY = 127.0.0.1\n", "127.0.0.1"));
    EXPECT_TRUE(MentionsAddress("is 127.0.0.1.", "127.0.0.1"));
    EXPECT_FALSE(MentionsAddress("REMOTE_ADDR = 127.0.0.10\n", "127.0.0.1"));
    EXPECT_FALSE(MentionsAddress("REMOTE_ADDR = 127.0.0.1.5\n", "127.0.0.1"));
    EXPECT_FALSE(MentionsAddress("REMOTE_ADDR = 1127.0.0.1\n", "127.0.0.1"));
    EXPECT_FALSE(MentionsAddress("anything", ""));
}

TEST(IpCheckPage, TracesInEitherSpellingMakeAProxyAnonymousAndTheUsersAddressTransparent)
{
    EXPECT_TRUE(HasProxyTraces(kServicePage));
    EXPECT_TRUE(HasProxyTraces("X-Forwarded-For: 10.1.1.1\r\n"));
    EXPECT_TRUE(HasProxyTraces("http_client_ip=10.1.1.1"));
    EXPECT_FALSE(HasProxyTraces("HTTP_VIA = \nHTTP_VIAGRA = no\nHTTP_USER_AGENT = Via: me\n"));

    EXPECT_EQ(JudgeAnonymity(kServicePage, "127.0.0.1"), Anonymity::Anonymous);
    EXPECT_EQ(JudgeAnonymity("REMOTE_ADDR = 127.0.0.77\n", "127.0.0.1"), Anonymity::Elite);
    EXPECT_EQ(JudgeAnonymity("REMOTE_ADDR = 127.0.0.77\nHTTP_X_TINYPROXY = 127.0.0.1\n", "127.0.0.1"),
              Anonymity::Transparent);
    EXPECT_EQ(JudgeAnonymity("Your IP address is 127.0.0.1", "127.0.0.1"), Anonymity::Transparent);
    EXPECT_EQ(JudgeAnonymity(kServicePage, std::nullopt), Anonymity::Unknown);
    EXPECT_STREQ(AnonymityText(Anonymity::Transparent), "transparent");
}

TEST(IpCheckPage, AHostilePageGivesNoFalseVerdict)
{
    std::string hostile(1 << 20, '9');
    hostile += std::string("\0\xff\n:=\n=:", 7) + "999.999.999.999 1.2.3";
    EXPECT_EQ(CallerAddress(hostile), std::nullopt);
    EXPECT_FALSE(HasProxyTraces(hostile));
    EXPECT_EQ(JudgeAnonymity(hostile, "127.0.0.1"), Anonymity::Elite);
}

} // namespace
