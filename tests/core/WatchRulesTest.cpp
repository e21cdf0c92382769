#include "core/WatchRules.h"

#include "core/ListRows.h"

#include "Verdicts.h"

#include <gtest/gtest.h>

namespace {

CheckedProxy Proxy(std::string address, std::string country, std::optional<Anonymity> anonymity, bool https,
                   unsigned webMs)
{
    return {std::move(address), std::move(country), anonymity, https, webMs};
}

std::vector<std::string> Addresses(const std::vector<CheckedProxy>& proxies)
{
    std::vector<std::string> addresses;
    for (const CheckedProxy& proxy : proxies)
        addresses.push_back(proxy.address);
    return addresses;
}

TEST(WatchRules, OnlyAProxyNoWorseTakesOverSameCountryFirstThenTheFastest)
{
    const std::vector<CheckedProxy> candidates = {
        Proxy("dead:1", "DE", Anonymity::Anonymous, true, 5),       Proxy("fast-fr:1", "FR", Anonymity::Elite, true, 10),
        Proxy("slow-de:1", "DE", Anonymity::Anonymous, true, 900),  Proxy("leaky:1", "DE", Anonymity::Transparent, true, 1),
        Proxy("no-https:1", "DE", Anonymity::Elite, false, 2),      Proxy("unknown:1", "DE", Anonymity::Unknown, true, 3),
        Proxy("untold:1", "DE", std::nullopt, true, 3),             Proxy("fast-de:1", "DE", Anonymity::Elite, true, 50)};
    EXPECT_EQ(Addresses(Successors(Proxy("dead:1", "DE", Anonymity::Anonymous, true, 5), candidates)),
              (std::vector<std::string>{"fast-de:1", "slow-de:1", "fast-fr:1"}));
    EXPECT_EQ(Addresses(Successors(Proxy("dead:1", "DE", Anonymity::Elite, false, 5), candidates)),
              (std::vector<std::string>{"no-https:1", "fast-de:1", "fast-fr:1"}));
    // Of one whose anonymity was never told, or told as unknown, any that passed and does not leak.
    for (const std::optional<Anonymity> untold : {std::optional<Anonymity>(), std::optional(Anonymity::Unknown)})
        EXPECT_EQ(Addresses(Successors(Proxy("dead:1", "DE", untold, false, 5), candidates)),
                  (std::vector<std::string>{"no-https:1", "unknown:1", "untold:1", "fast-de:1", "slow-de:1",
                                            "fast-fr:1"}));
    // Without a country, none is of "the same country": the fastest first.
    EXPECT_EQ(Addresses(Successors(Proxy("dead:1", "", Anonymity::Elite, false, 5),
                                   {Proxy("nowhere:1", "", Anonymity::Elite, false, 700),
                                    Proxy("fr:1", "FR", Anonymity::Elite, false, 20)})),
              (std::vector<std::string>{"fr:1", "nowhere:1"}));
}

TEST(WatchRules, ThreeSwitchesInTenMinutesAndAProxySetAsideStaysAside)
{
    SwitchBudget budget(3, 600000);
    for (std::uint64_t at : {0u, 1000u, 2000u}) {
        EXPECT_TRUE(budget.Allows(at));
        budget.Spend(at);
    }
    EXPECT_FALSE(budget.Allows(599999));
    EXPECT_TRUE(budget.Allows(600000));

    SetAside aside;
    aside.Add("dead:1", 600000);
    EXPECT_TRUE(aside.Holds("dead:1", 599999));
    EXPECT_FALSE(aside.Holds("dead:1", 600000));
    EXPECT_FALSE(aside.Holds("other:1", 0));
}

TEST(WatchRules, ARowTellsItsProxysVerdict)
{
    ListRow row{"127.0.0.5:80;x", {"Germany", "12"}};
    verdicts::Judge(row, verdicts::Passed(35, true, Anonymity::Elite, "", "", ProxyKind::Socks5));
    const auto proxy = CheckedProxyOf(row, 0);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->address, "127.0.0.5:80");
    EXPECT_EQ(proxy->country, "Germany");
    EXPECT_EQ(proxy->anonymity, Anonymity::Elite);
    EXPECT_TRUE(proxy->https);
    EXPECT_EQ(proxy->webMs, 35u);
    EXPECT_EQ(proxy->kind, ProxyKind::Socks5);
    EXPECT_EQ(CheckedProxyOf(row, -1)->country, "");
    verdicts::Judge(row, verdicts::Failed(true));
    EXPECT_FALSE(CheckedProxyOf(row, -1));

    EXPECT_EQ(SwitchedText("127.0.0.5:80", FailedChecksReason(3, 6950), *proxy),
              "127.0.0.5:80 stopped working (3 checks failed in 7.0 s); now 127.0.0.5:80 (Germany, elite)");
    EXPECT_EQ(NotSwitchedText("127.0.0.5:80", FailedChecksReason(2, 40), kSwitchingOffWhy),
              "127.0.0.5:80 stopped working (2 checks failed in 0.0 s); switching automatically is off: "
              "\"Refresh Proxy List\" or \"Use This Proxy\" for another, or \"Stop Hide My IP\" to browse directly");
}

} // namespace
