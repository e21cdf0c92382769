#include "probe/icmp.h"

#include "EchoReplies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kPayload[] = "Echo request sent by the proxy latency probe.";

// One echo client with its notices and the echoed data, read while the reply area still exists.
struct Probe {
    Probe()
    {
        client.OnNotice = [this](TICMP&, const std::string& text) { notices.push_back(text); };
        client.OnBeforeEcho = [this](TICMP&) { ++beforeEchoes; };
        client.OnAfterEcho = [this](TICMP& sender, std::int32_t replies) {
            afterEchoResult = replies;
            const ICMP_ECHO_REPLY& reply = sender.LastReply();
            if (replies > 0 && reply.Data)
                echoedData.assign(static_cast<const char*>(reply.Data), reply.DataSize);
        };
    }

    std::int32_t EchoTo(const std::string& host)
    {
        client.SetHost(host);
        return client.Echo();
    }

    TICMP client;
    std::vector<std::string> notices;
    int beforeEchoes = 0;
    std::int32_t afterEchoResult = -1;
    std::string echoedData;
};

std::string Address(std::uint32_t networkOrder)
{
    in_addr address;
    address.s_addr = networkOrder;
    return inet_ntoa(address);
}

} // namespace

TEST(Echo, LoopbackAnswersWithThePayloadPaddedToTheDefaultSize)
{
    Probe probe;
    ASSERT_EQ(probe.EchoTo("127.0.0.1"), 1);

    const ICMP_ECHO_REPLY& reply = probe.client.LastReply();
    EXPECT_EQ(reply.Status, 0u);
    EXPECT_EQ(Address(reply.Address), "127.0.0.1");
    EXPECT_EQ(reply.DataSize, 56);
    EXPECT_EQ(probe.echoedData, std::string(kPayload) + std::string(11, ' '));
    EXPECT_EQ(probe.client.ResolvedName(), "127.0.0.1");
    EXPECT_EQ(probe.client.AddressText(), "127.0.0.1");
    EXPECT_EQ(probe.beforeEchoes, 1);
    EXPECT_EQ(probe.afterEchoResult, 1);
    EXPECT_TRUE(probe.notices.empty());
}

TEST(Echo, ASmallPacketCarriesTheStartOfThePayload)
{
    Probe probe;
    probe.client.PacketSize = 20;
    ASSERT_EQ(probe.EchoTo("127.0.0.3"), 1);
    EXPECT_EQ(probe.client.LastReply().DataSize, 20);
    EXPECT_EQ(probe.echoedData, std::string(kPayload, 20));
    EXPECT_EQ(Address(probe.client.LastReply().Address), "127.0.0.3");
}

TEST(Echo, ShortDottedTextNeedsNoLookupAndIsNormalised)
{
    Probe probe;
    ASSERT_EQ(probe.EchoTo("127.1"), 1);
    EXPECT_EQ(probe.client.AddressText(), "127.0.0.1");
    EXPECT_EQ(probe.client.ResolvedName(), "127.1");
    EXPECT_TRUE(probe.client.Resolved());

    probe.client.SetHost("127.1");   // the same text keeps the resolution
    EXPECT_TRUE(probe.client.Resolved());
    probe.client.SetHost("LOCALHOST");
    EXPECT_FALSE(probe.client.Resolved());
    probe.client.SetHost("localhost"); // case matters
    EXPECT_FALSE(probe.client.Resolved());
    EXPECT_EQ(probe.client.Echo(), 1);
    EXPECT_EQ(probe.client.ResolvedName(), "localhost");
    EXPECT_EQ(probe.client.AddressText(), "127.0.0.1");
}

TEST(Echo, TheBroadcastAddressIsNeverProbed)
{
    Probe probe;
    EXPECT_EQ(probe.EchoTo("255.255.255.255"), 0);
    EXPECT_EQ(probe.client.LastStatus(), 11018u);
    EXPECT_EQ(probe.client.StatusText(), "Bad Destination");
    EXPECT_EQ(probe.notices, std::vector<std::string>{"Invalid host address"});
    EXPECT_EQ(probe.beforeEchoes, 0);
    EXPECT_EQ(probe.afterEchoResult, -1);
}

TEST(Echo, AnUnresolvableNameIsReportedAndLookedUpAgainNextTime)
{
    Probe probe;
    ASSERT_EQ(probe.EchoTo("127.0.0.1"), 1);
    const std::uint32_t answeredFrom = probe.client.LastReply().Address;

    EXPECT_EQ(probe.EchoTo("no-such-proxy.invalid"), 0);
    EXPECT_EQ(probe.client.LastStatus(), 11018u);
    EXPECT_EQ(probe.notices, (std::vector<std::string>{"Unable to resolve no-such-proxy.invalid",
                                                       "Invalid host address"}));
    EXPECT_FALSE(probe.client.Resolved());
    EXPECT_EQ(probe.client.TargetAddress(), INADDR_NONE);
    // The earlier resolution's texts and reply stay: nothing was sent.
    EXPECT_EQ(probe.client.AddressText(), "127.0.0.1");
    EXPECT_EQ(probe.client.ResolvedName(), "127.0.0.1");
    EXPECT_EQ(probe.client.LastReply().Address, answeredFrom);

    probe.notices.clear();
    EXPECT_EQ(probe.client.Echo(), 0);
    EXPECT_EQ(probe.notices.front(), "Unable to resolve no-such-proxy.invalid");
}

TEST(Echo, NoAnswerEndsAfterTheTimeoutWithItsStatus)
{
    Probe probe;
    ASSERT_EQ(probe.EchoTo("127.0.0.1"), 1);

    EchoRepliesOff silence;
    probe.client.TimeoutMs = 500;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(probe.client.Echo(), 0);
    const ULONGLONG elapsed = GetTickCount64() - start;

    EXPECT_EQ(probe.client.LastStatus(), 11010u);
    EXPECT_EQ(probe.client.StatusText(), "Request timed out");
    EXPECT_EQ(probe.afterEchoResult, 0);
    EXPECT_EQ(probe.client.LastReply().Address, 0u); // this call's record, not the earlier reply
    EXPECT_GE(elapsed, 400u);
    EXPECT_LT(elapsed, 3000u); // the set timeout, not the default of 4000 ms
}
