// The service's parts that decide alone: rate limits, callers, log fields.
#include "Caller.h"
#include "Config.h"
#include "Log.h"
#include "RateLimit.h"
#include "ServedFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;

int Taken(RateLimit& limit, const std::string& key, RateLimit::Clock::time_point when, int tries)
{
    int taken = 0;
    for (int i = 0; i < tries; ++i)
        taken += limit.Take(key, when);
    return taken;
}

TEST(RateLimit, AMinutesWorthAtOnceThenEvenlyAndIdleTimeBanksNoMore)
{
    RateLimit limit(60);
    const auto start = RateLimit::Clock::now();
    EXPECT_EQ(Taken(limit, "caller a", start, 100), 60);
    EXPECT_EQ(Taken(limit, "caller b", start, 1), 1) << "each key has its own";
    EXPECT_EQ(Taken(limit, "caller a", start + 1s, 5), 1);
    EXPECT_EQ(Taken(limit, "caller a", start + 1s, 5), 0) << "the same second's token counted twice";
    EXPECT_EQ(Taken(limit, "caller a", start + 3s, 5), 2);
    EXPECT_FALSE(limit.CanTake("caller a", start + 3s));
    EXPECT_TRUE(limit.CanTake("caller a", start + 4s));
    EXPECT_EQ(Taken(limit, "caller a", start + 1h, 1000), 60) << "an hour idle is still a minute's worth";
}

TEST(RateLimit, FreshKeysWithoutEndKeepItsSizeBoundedAndAUsedKeyLimited)
{
    RateLimit limit(60, 20000);
    const auto start = RateLimit::Clock::now();
    EXPECT_EQ(Taken(limit, "account steady", start, 60), 60);
    for (int key = 0; key < 100000; ++key) {
        limit.Take("account " + std::to_string(key), start);
        ASSERT_LE(limit.Keys(), 20000u);
    }
    // Forgotten keys start again full; a key in use keeps its count while it is among the newest.
    EXPECT_EQ(Taken(limit, "account 99999", start, 100), 59);
}

TEST(Caller, AnIPv6CallerCountsByItsNetworksAndOnlyATrustedProxyNamesAnother)
{
    EXPECT_EQ(CallerKey("2001:db8:1:2:aaaa::1"), CallerKey("2001:db8:1:2:bbbb::7"));
    EXPECT_NE(CallerKey("2001:db8:1:2::1"), CallerKey("2001:db8:1:3::1"));
    EXPECT_EQ(CallerKey("203.0.113.7"), "203.0.113.7");
    EXPECT_EQ(CallerText(boost::asio::ip::make_address("::ffff:203.0.113.7")), "203.0.113.7");
    EXPECT_EQ(CallerKeys("203.0.113.7"), std::vector<std::string>{"203.0.113.7"});
    const auto one = CallerKeys("2001:db8:1:2::1"), other = CallerKeys("2001:db8:1:3::1");
    ASSERT_EQ(one.size(), 3u);
    EXPECT_NE(one[1], other[1]); // another /64
    EXPECT_EQ(one[2], other[2]); // of the same /48

    std::vector<CallerNetwork> trusted;
    for (const char* network : {"127.0.0.1", "10.0.0.0/8", "2001:db8:ff::/48"})
        trusted.push_back(*ParseCallerNetwork(network));
    for (const char* bad : {"10.0.0.0/33", "10.0.0.0/", "proxy.example", "10.0.0.0/8x", "::/129"})
        EXPECT_FALSE(ParseCallerNetwork(bad)) << bad;
    using Lines = std::vector<std::string_view>;
    const auto caller = [&](const std::string& peer, Lines forwardedFor, Lines forwarded = {}) {
        return RequestCaller(peer, forwardedFor, forwarded, trusted);
    };
    // The right-most that no trusted proxy is, over every line: what a client forges comes first.
    EXPECT_EQ(caller("127.0.0.1", {"10.0.0.1, 198.51.100.7"}), "198.51.100.7");
    EXPECT_EQ(caller("127.0.0.1", {"6.6.6.6", "198.51.100.7, 10.1.2.3"}), "198.51.100.7");
    EXPECT_EQ(caller("10.9.9.9", {"6.6.6.6, 198.51.100.7", "2001:db8:ff:1::2"}), "198.51.100.7");
    EXPECT_EQ(caller("127.0.0.1", {" 2001:db8::5 "}), "2001:db8::5");
    EXPECT_EQ(caller("127.0.0.1", {"10.0.0.1, 10.0.0.2"}), "10.0.0.1"); // only proxies: the first
    EXPECT_EQ(caller("127.0.0.1", {"198.51.100.7, evil\r\nline"}), "127.0.0.1");
    EXPECT_EQ(caller("127.0.0.1", {}), "127.0.0.1");
    EXPECT_EQ(caller("203.0.113.9", {"198.51.100.7"}), "203.0.113.9");
    EXPECT_EQ(caller("127.0.0.1", {}, {"for=6.6.6.6, for=\"[2001:db8::9]:4711\";proto=https, For=10.0.0.3"}), "2001:db8::9");
    EXPECT_EQ(caller("127.0.0.1", {}, {"for=198.51.100.7:80;by=10.0.0.1"}), "198.51.100.7");
    EXPECT_EQ(caller("127.0.0.1", {}, {"for=_hidden"}), "127.0.0.1");
}

// Only lines that the program reads as the proxy they name are served: a host of letters, digits,
// dots and dashes or an IPv4 address, and a port.
TEST(ServedProxyLines, EveryServedLineNamesAProxyAsTheProgramReadsIt)
{
    std::size_t skipped = 0;
    EXPECT_EQ(ServedProxyLines("203.0.113.7:8080\n# note\n\nproxy-1.example:3128;Germany\n", nullptr, skipped),
              "203.0.113.7:8080\r\nproxy-1.example:3128;Germany\r\n");
    EXPECT_EQ(skipped, 0u);
    // A proxy's account goes with it where the list's substitution carries it.
    EXPECT_EQ(ServedProxyLines("203.0.113.7:8080:alice:s3cr:et;Germany\n", nullptr, skipped),
              "203.0.113.7:8080:alice:s3cr:et;Germany\r\n");
    for (const char* line : {"203.0.113.7:8080:al%ice:pw", "203.0.113.7:8080:alice:p@w", "alice:pw@203.0.113.7:8080",
                             "bad%host@x:80", "<b>garbage</b>:80", "2001:db8::1:8080", "[2001:db8::1]:8080", "host:0",
                             "host:65536", "-host:80", "host:", "ho st:80"}) {
        EXPECT_EQ(ServedProxyLines(line, nullptr, skipped), "") << line;
        EXPECT_EQ(skipped, 1u) << line;
    }
}

TEST(LogField, NothingInAFieldCanEndItOrTheLineOrPassForNoValue)
{
    EXPECT_EQ(LogField("alice@mail.example"), "alice@mail.example");
    EXPECT_EQ(LogField("a b\r\n\x1b\"\\\x7f\xe9"), "a\\x20b\\x0D\\x0A\\x1B\\x22\\x5C\\x7F\\xE9");
    EXPECT_EQ(LogField(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(LogField(""), "\"\"");
    EXPECT_EQ(LogField("-"), "\\x2d");
    EXPECT_EQ(LogField(std::string(1000, 'x')), std::string(256, 'x') + "...");
}

} // namespace

// The service's threads stay within the unit's bound on tasks on a machine of any size.
TEST(ServingThreads, OneACoreWithinTheUnitsBoundOnTasks)
{
    EXPECT_EQ(ServingThreads(0), 2u);
    EXPECT_EQ(ServingThreads(1), 2u);
    EXPECT_EQ(ServingThreads(8), 8u);
    EXPECT_EQ(ServingThreads(256), kMostServingThreads);
    std::ifstream unit(ZARNU_SERVICE_UNIT);
    std::string line;
    unsigned tasksMax = 0;
    while (std::getline(unit, line))
        if (line.rfind("TasksMax=", 0) == 0)
            tasksMax = static_cast<unsigned>(std::stoul(line.substr(9)));
    // Beside the serving threads: the main thread, the log's, and room for what a library starts.
    EXPECT_GE(tasksMax, kMostServingThreads + 8) << ZARNU_SERVICE_UNIT;
}
