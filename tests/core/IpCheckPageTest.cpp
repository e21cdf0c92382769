#include "core/IpCheckPage.h"

#include "StatementSigner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

const StatementSigner& DemoSigner()
{
    static const StatementSigner signer = [] {
        std::ifstream file(ZARNU_DEMO_SIGNING_KEY);
        std::ostringstream pem;
        pem << file.rdbuf();
        return StatementSigner(pem.str());
    }();
    return signer;
}

std::string Signed(const IpStatement& statement)
{
    return SignedIpCheckPage(statement, [](std::string_view message) { return DemoSigner().Sign(message); });
}

std::optional<IpStatement> Accepted(std::string_view page, std::string_view token = "0123456789abcdef",
                                    std::string_view side = kWebSide)
{
    static const std::string key = DemoSigner().PublicKeyHex();
    return AcceptStatement(page, token, side, [](std::string_view message, std::string_view signature) {
        return VerifyStatementSignature(key, message, signature);
    });
}

// What the service says of a request that came through a proxy which announced itself.
const IpStatement kThroughProxy{"127.0.0.77", kWebSide, "0123456789abcdef",
                                {{"HOST", "127.0.0.1:8000"}, {"VIA", "1.1 tinyproxy (tinyproxy/1.11.1)"}}};

// Asked where the caller is, the service says it inside what it signs; older services do not,
// and their statements still count.
TEST(IpCheckPage, WhereTheCallerIsCountsOnlyAsSigned)
{
    IpStatement placed = kThroughProxy;
    placed.callerAddress = "2001:db8::7";
    placed.placed = true;
    placed.country = "JP Japan";
    placed.network = "AS64500 Zarnu Test Net";
    const std::string page = Signed(placed);
    const auto read = Accepted(page);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->placed);
    EXPECT_EQ(read->country, "JP Japan");
    EXPECT_EQ(read->network, "AS64500 Zarnu Test Net");
    EXPECT_EQ(read->callerAddress, "2001:db8::7");
    std::string moved = page;
    moved.replace(moved.find("JP Japan"), 8, "US United States");
    EXPECT_FALSE(Accepted(moved)) << "a country changed on the way";

    placed.country.clear(); // not in the service's database, or none configured
    placed.network.clear();
    const auto unknown = Accepted(Signed(placed));
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown->placed);
    EXPECT_EQ(unknown->country, "");

    const auto older = Accepted(Signed(kThroughProxy));
    ASSERT_TRUE(older);
    EXPECT_FALSE(older->placed);
}

// A caller over the service's limit gets a statement that it was seen, signed for its token, and
// nothing more: a proxy's exit shared by many is still known to carry the request.
TEST(IpCheckPage, ALimitedCallerIsStatedSeenAndNothingMore)
{
    IpStatement limited = kThroughProxy;
    limited.limited = true;
    limited.placed = true;
    limited.country = "JP Japan";
    const std::string page = Signed(limited);
    EXPECT_EQ(page.find("VIA"), std::string::npos);
    EXPECT_EQ(page.find("Japan"), std::string::npos);
    const auto read = Accepted(page);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->limited);
    EXPECT_TRUE(read->headers.empty());
    EXPECT_FALSE(Accepted(page, "fedcba9876543210")) << "another check's";
    std::string unlimited = page;
    unlimited.erase(unlimited.find("ZARNU_LIMITED = 1\n"), 18);
    EXPECT_FALSE(Accepted(unlimited)) << "the line is signed like the rest";
    EXPECT_FALSE(Accepted(Signed(kThroughProxy))->limited);
    limited.token = "no token";
    EXPECT_EQ(ServedIpCheckPage(limited, [](std::string_view) { return std::string(); }), "") << "no page for a browser";
}

TEST(IpCheckPage, OnlyTheServicesSignedStatementForThisTokenCounts)
{
    const std::string page = Signed(kThroughProxy);
    const auto statement = Accepted(page);
    ASSERT_TRUE(statement);
    EXPECT_EQ(statement->callerAddress, "127.0.0.77");
    EXPECT_EQ(statement->headers, kThroughProxy.headers);

    EXPECT_FALSE(Accepted(page, "0123456789abcdee")) << "an earlier page replayed";
    EXPECT_FALSE(Accepted(page, "0123456789abcdef", kTunnelSide)) << "the web side's page for the tunnel's";
    std::string rewritten = page;
    rewritten.replace(rewritten.find("127.0.0.77"), 10, "127.0.0.78");
    EXPECT_FALSE(Accepted(rewritten)) << "a field changed on the way";
    EXPECT_FALSE(Accepted(page + "HTTP_VIA = added later\n"));
    EXPECT_FALSE(Accepted(page.substr(0, page.find("ZARNU_SIGNATURE"))));

    // A signature of the wrong length: the right one with a byte more, or cut short.
    const std::string message = "REMOTE_ADDR = 127.0.0.77\n";
    const std::string signature = DemoSigner().Sign(message);
    const std::string key = DemoSigner().PublicKeyHex();
    EXPECT_TRUE(VerifyStatementSignature(key, message, signature));
    EXPECT_FALSE(VerifyStatementSignature(key, message, signature + '\0'));
    EXPECT_FALSE(VerifyStatementSignature(key, message, signature.substr(0, signature.size() - 1)));

    IpStatement tokenless = kThroughProxy;
    tokenless.token.clear();
    EXPECT_FALSE(Accepted(Signed(tokenless), ""));
    std::string untold = Signed(kThroughProxy);
    untold.erase(untold.find("ZARNU_TOKEN"), untold.find('\n', untold.find("ZARNU_TOKEN")) + 1 - untold.find("ZARNU_TOKEN"));
    EXPECT_FALSE(Accepted(untold)) << "a statement that names no token";

    // A header cannot add a line of its own to the statement.
    IpStatement smuggling = kThroughProxy;
    smuggling.headers.push_back({"X", "1\nZARNU_TOKEN = 0123456789abcdef"});
    const auto read = Accepted(Signed(smuggling));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->headers.back().second, "1?ZARNU_TOKEN = 0123456789abcdef");
}

TEST(IpCheckPage, AnAddressCountsWholeInAnySpelling)
{
    EXPECT_TRUE(MentionsAddress("127.0.0.1", "127.0.0.1"));
    EXPECT_TRUE(MentionsAddress("is 127.0.0.1.", "127.0.0.1"));
    EXPECT_TRUE(MentionsAddress("for=\"[::ffff:127.0.0.1]:4711\"", "127.0.0.1"));
    EXPECT_TRUE(MentionsAddress("10.0.0.1, 127.0.0.1:80", "127.0.0.1"));
    EXPECT_FALSE(MentionsAddress("127.0.0.10, 127.0.0.1.5, 1127.0.0.1, 27.0.0.1", "127.0.0.1"));
    EXPECT_FALSE(MentionsAddress("version 1.2.3.4.5, then 256.1.1.1", "1.2.3.4"));
    EXPECT_TRUE(MentionsAddress("version 1.2.3.4.5, then 256.1.1.1 and 1.2.3.4", "1.2.3.4"));

    EXPECT_TRUE(MentionsAddress("for=\"[2001:DB8:0:0::7]:4711\"", "2001:db8::7"));
    EXPECT_FALSE(MentionsAddress("2001:db8::70, 2001:db8::7:1", "2001:db8::7"));
    EXPECT_FALSE(MentionsAddress("anything", ""));
    EXPECT_FALSE(ParseIpAddress("1:2:3:4:5:6:7:8:9"));
    EXPECT_FALSE(ParseIpAddress("1:2:3:4::5:6:7:8:9"));
    EXPECT_FALSE(ParseIpAddress("1:2:3:4::5:6:7:8")) << "\"::\" stands for one group at least";
    EXPECT_TRUE(ParseIpAddress("1:2:3::5:6:7:8"));
    EXPECT_FALSE(ParseIpAddress("1::2::3"));
    EXPECT_EQ(ParseIpAddress("::ffff:192.0.2.1"), ParseIpAddress("192.0.2.1"));
}

TEST(IpCheckPage, TheUsersAddressMakesAProxyTransparentWhateverItsTraces)
{
    const std::vector<std::string> users{"127.0.0.1"};
    EXPECT_EQ(JudgeAnonymity(kThroughProxy, users), Anonymity::Anonymous) << "the Host line does not count";
    EXPECT_EQ(JudgeAnonymity({"127.0.0.77", kWebSide, "t", {{"VIA", " "}, {"USER_AGENT", "Via"}}}, users),
              Anonymity::Elite);
    IpStatement passing = kThroughProxy;
    passing.headers.push_back({"X_FORWARDED_FOR", "127.0.0.1"});
    EXPECT_EQ(JudgeAnonymity(passing, users), Anonymity::Transparent);
    EXPECT_EQ(JudgeAnonymity({"127.0.0.1", kWebSide, "t", {}}, users), Anonymity::Transparent)
        << "the request came from the user";
    EXPECT_EQ(JudgeAnonymity({"127.0.0.1", kWebSide, "t", {}}, {"192.0.2.1", "127.0.0.1"}), Anonymity::Transparent)
        << "from the user's second address";
    // The standard header of proxies (RFC 7239) is a trace too.
    EXPECT_EQ(JudgeAnonymity({"127.0.0.77", kWebSide, "t", {{"FORWARDED", "for=192.0.2.60;by=203.0.113.43"}}}, users),
              Anonymity::Anonymous);
    EXPECT_EQ(JudgeAnonymity(kThroughProxy, {}), Anonymity::Unknown);

    // Learned directly and through the user's own proxy: passing either on gives the user away.
    EXPECT_EQ(JudgeAnonymity(passing, {"127.0.0.78", "127.0.0.1"}), Anonymity::Transparent);
    // An IPv6 caller, and a user known by an IPv6 address.
    const IpStatement overIpv6{"2001:db8::5", kWebSide, "t", {{"X_REAL_IP", "2001:DB8::7"}}};
    EXPECT_EQ(JudgeAnonymity(overIpv6, {"192.0.2.1", "2001:db8:0::7"}), Anonymity::Transparent);
    EXPECT_EQ(JudgeAnonymity(overIpv6, {"192.0.2.1"}), Anonymity::Anonymous);
    IpStatement ipv6Page = overIpv6;
    ipv6Page.token = "0123456789abcdef";
    EXPECT_EQ(Accepted(Signed(ipv6Page))->callerAddress, "2001:db8::5");
}

TEST(IpCheckPage, AHostilePageIsRefusedWhole)
{
    std::string hostile(1 << 20, '9');
    hostile += std::string("\0\xff\n:=\n=:", 7) + "ZARNU_SIGNATURE = zz\n";
    EXPECT_FALSE(Accepted(hostile));
    EXPECT_FALSE(Accepted("REMOTE_ADDR = 203.0.113.50\nZARNU_SIDE = web\nZARNU_TOKEN = 0123456789abcdef\n"
                          "ZARNU_SIGNATURE = " + std::string(128, '0') + "\n"));
    EXPECT_STREQ(AnonymityText(Anonymity::Transparent), "transparent");
    // Signed, but naming no caller that could be compared with the user's addresses.
    for (const char* caller : {"unknown", "", "127.0.0.1, 10.0.0.1"}) {
        IpStatement callerless = kThroughProxy;
        callerless.callerAddress = caller;
        EXPECT_FALSE(Accepted(Signed(callerless))) << caller;
    }
}

// The service signs every token the program may send: 32 to 64 hex digits.
TEST(IpCheckPage, TheServiceSignsEveryTokenOfTheProgramsLengths)
{
    const auto served = [](std::size_t digits) {
        IpStatement statement = kThroughProxy;
        statement.token = std::string(digits, 'a');
        return ServedIpCheckPage(statement, [](std::string_view message) { return DemoSigner().Sign(message); });
    };
    for (const std::size_t digits : {32u, 40u, 64u})
        EXPECT_TRUE(Accepted(served(digits), std::string(digits, 'a'))) << digits;
    for (const std::size_t digits : {0u, 31u, 65u})
        EXPECT_EQ(served(digits).find("ZARNU_SIGNATURE"), std::string::npos) << digits;
}

} // namespace
