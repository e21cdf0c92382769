// The watch guards the path the browser really takes: a leak cut at once under a browser's load,
// tunnels that start to fail, a pick before its kind is known, sites that refuse, a proxy whose
// exit is over the service's limit, the user's bypass entries.
#include "WatchSupport.h"

#include <future>
#include <iostream>

namespace {

// The browser's requests in these tests: a path of the service's that no check asks for.
constexpr const char* kBrowserPath = "/download/encrypt/useragent.txt";

class WatchPathTest : public WatchTest {
protected:
    // The browser's requests that reached the service from `address`.
    std::size_t BrowserRequestsFrom(const std::string& address) const
    {
        std::size_t count = 0;
        for (const TestService::Request& request : service->Requests(kBrowserPath))
            count += request.from == address;
        return count;
    }
    std::string BrowserUrl() const { return "http://" + service->Host() + kBrowserPath; }

    // Host(1) in use (`relayed`: behind the relay), a browser on it, five silent candidates; then
    // Host(1) passes the user's address on.
    void LeakUnderLoad(bool relayed)
    {
        const host::Tinyproxy elite{"127.0.0.201", 8888, {"DisableViaHeader Yes"}};
        const host::Tinyproxy leaking{"127.0.0.202", 8888, {"XTinyproxy Yes"}};
        SetUsersOwnSettings();
        const auto changing = Changing(elite.Host());
        std::string lines = Host(1) + ";DE\r\n";
        for (int n = 2; n <= 6; ++n) {
            Proxy(n);
            lines += Host(n) + ";DE\r\n";
        }
        Refresh(lines, 6);
        for (int n = 2; n <= 6; ++n)
            proxies[n]->Pause();
        relayed ? (void)UseThroughRelay(Host(1)) : Use(Host(1));
        const BrowsingLoad browser(BrowserUrl());
        ASSERT_TRUE(PumpMessagesUntil([&] { return BrowserRequestsFrom("127.0.0.201") >= 3; })) << "the browser goes through";

        changing->Serve("relay-to", leaking.Host()); // from now on it passes the user's address on
        ASSERT_TRUE(AwaitStatus(Host(1) + " passes your address on: Zarnu "));
        const ULONGLONG found = GetTickCount64();
        const std::size_t atTheCheck = BrowserRequestsFrom("127.0.0.202");
        PumpMessagesUntil([] { return false; }, 500);
        const std::size_t halfASecondOn = BrowserRequestsFrom("127.0.0.202");
        ASSERT_TRUE(AwaitStatus(Host(1) + " passed your address on and no checked proxy could take over"));
        std::cout << "the browser's requests through the leak: " << atTheCheck << " before the check that found it, "
                  << halfASecondOn - atTheCheck << " in the 500 ms after it; the search ended "
                  << GetTickCount64() - found << " ms after it\n";
        EXPECT_EQ(BrowserRequestsFrom("127.0.0.202"), halfASecondOn);
        ExpectUsersOwnSettings();
        EXPECT_TRUE(errors.empty());
    }

    // A proxy on 127.0.0.101:8888 that passes everything on to `to`, and to whatever its
    // "relay-to" file names from then on: a proxy that changes under its users.
    std::unique_ptr<TestService> Changing(const std::string& to) const
    {
        return std::make_unique<TestService>(
            Address(1), std::vector<std::string>{"--port", "8888", "--hostile", "far", "--relay-to", to, "--delay", "0"});
    }
};

// With five candidates that passed the list's check and then went silent, and a browser asking a
// page every 50 ms: once the check that finds the leak is in, nothing of the browser's goes out
// through the leaking proxy.
TEST_F(WatchPathTest, ALeakIsCutAtOnceWhileTheSuccessorsAreChecked)
{
    LeakUnderLoad(false);
}

TEST_F(WatchPathTest, ALeakBehindTheRelayIsCutAtOnceWhileTheSuccessorsAreChecked)
{
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Route Through Zarnu");
    LeakUnderLoad(true);
}

// A proxy whose tunnels start to fail (its page still comes) is left for one with HTTPS within
// two of the watch's cycles.
TEST_F(WatchPathTest, AProxyThatStopsCarryingHttpsIsLeft)
{
    const host::Tinyproxy withTunnels{"127.0.0.203", 8888, {"DisableViaHeader Yes"}};
    const host::Tinyproxy withoutTunnels{"127.0.0.204", 8888, {"DisableViaHeader Yes", "ConnectPort 563"}};
    const auto changing = Changing(withTunnels.Host());
    Proxy(2);
    Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n", 2);
    Use(Host(1));
    changing->Serve("relay-to", withoutTunnels.Host());
    EXPECT_EQ(AwaitSwitch({Host(2)}), Host(2));
    EXPECT_NE(main.StatusBar1.Text().find(Host(1) + " stopped working (carries no HTTPS any more); now " + Host(2)),
              std::string::npos) << main.StatusBar1.Text();
    EXPECT_LE(ChecksThrough("127.0.0.204"), 2u * 3u) << "two cycles of three checks at the most";
}

// A SOCKS proxy picked before its check has told its kind goes through the relay, which holds the
// browser's request until the watch's first check has found the kind, then carries it.
TEST_F(WatchPathTest, ASocksProxyPickedBeforeItsVerdictCarriesTheBrowsersPage)
{
    const host::Microsocks socks{Address(1), 1080};
    const std::string proxy = Address(1) + ":1080";
    HoldPageFor("127.0.0.1", 1500); // the list's checks wait for the user's addresses
    service->Serve("paidencrypt.txt", TestService::EncodedProxyList(proxy + ";DE\r\n"));
    main.Button5.Click();
    ASSERT_TRUE(PumpMessagesUntil([&] { return ListedRows(main.listrep1).size() == 1; }));
    ASSERT_EQ(ListedVerdicts(main.listrep1)[0][1], "") << "a verdict came before the pick";
    const std::string relay = UseThroughRelay(proxy);
    std::future<browser::Page> page = std::async(std::launch::async, [&] {
        return browser::FetchThrough(relay, "http://" + service->Host() + "/whatismyip.php");
    });
    ASSERT_TRUE(PumpMessagesUntil([&] { return page.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    const browser::Page fetched = page.get();
    EXPECT_EQ(fetched.status, 200u);
    EXPECT_EQ(browser::Caller(fetched.body), Address(1));
    HoldPageFor("127.0.0.1", 0);
}

// Sites that refuse connections through a healthy SOCKS proxy say nothing about the proxy.
TEST_F(WatchPathTest, FortySitesRefusingThroughTheProxyStartAtMostOneCheck)
{
    ProxyWatch::UseTimes({60000, 1000, 300, 600000, 600000});
    const host::Microsocks socks{Address(1), 1080};
    const std::string proxy = Address(1) + ":1080";
    Refresh(proxy + ";DE\r\n", 1);
    const std::string relay = UseThroughRelay(proxy);
    PumpMessagesUntil([] { return false; }, 300); // a check under way ends
    const std::size_t before = ChecksThrough(Address(1));
    for (int site = 0; site < 40; ++site) {
        browser::Browser browser(static_cast<unsigned short>(std::stoi(browser::PortOf(relay))));
        browser.Send("CONNECT 127.0.0." + std::to_string(site + 2) + ":9 HTTP/1.1\r\n\r\n"); // nothing listens there
        EXPECT_EQ(browser.ReadUntil().rfind("HTTP/1.1 502 ", 0), 0u);
        PumpMessagesUntil([] { return false; }, 10);
    }
    PumpMessagesUntil([] { return false; }, 1000);
    EXPECT_LE(ChecksThrough(Address(1)) - before, 2u) << "a check asks for the page and the tunnel";
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), relay);
    EXPECT_EQ(main.Label1.Text(), proxy);
}

// A public proxy's exit address is shared by everyone on it: the service's signed answer that it
// is over its limit proves that the proxy carries the check, and the proxy stays.
TEST_F(WatchPathTest, AProxyWhoseExitIsOverTheServicesLimitStaysInUse)
{
    UseTheFirstOfTwo();
    service->Serve("whatismyip.php", "", "limit 0 " + Address(1));
    const std::size_t before = ChecksThrough(Address(1));
    PumpMessagesUntil([&] {
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), Host(1)) << main.StatusBar1.Text();
        return ChecksThrough(Address(1)) >= before + 6; // three cycles, page and tunnel each
    }, 10000);
    EXPECT_GE(ChecksThrough(Address(1)), before + 6);
    EXPECT_EQ(main.StatusBar1.Text().find("stopped working"), std::string::npos) << main.StatusBar1.Text();
}

// Bypass entries the user adds while a proxy of Zarnu's is on are theirs: a switch keeps them,
// and "Stop Hide My IP" puts them back with the user's own.
TEST_F(WatchPathTest, ABypassEntryAddedMeanwhileSurvivesASwitchAndStopHideMyIp)
{
    SetUsersOwnSettings();
    UseTheFirstOfTwo();
    raw::SetText(SettingsKey, "ProxyOverride", raw::GetText(SettingsKey, "ProxyOverride").value_or("") + ";printer.example");
    proxies[1].reset();
    EXPECT_EQ(AwaitSwitch({Host(2)}), Host(2));
    EXPECT_NE(raw::GetText(SettingsKey, "ProxyOverride").value_or("").find("intranet;printer.example;<local>"),
              std::string::npos) << raw::GetText(SettingsKey, "ProxyOverride").value_or("");
    ChooseMenuItem(main.Handle(), main.PopupMenu1, "Stop Hide My IP");
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyOverride"), std::optional<std::string>("intranet;printer.example"));
    EXPECT_TRUE(errors.empty());
}

} // namespace
