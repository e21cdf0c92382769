#pragma once
// The watch's tests with real proxies of the tests' namespace: the main window and the checker,
// the service, proxies on 127.0.0.10N, and what a browser and the settings show.

#include "BrowserClient.h"
#include "BrowsingLoad.h"
#include "HostTools.h"
#include "ListTestSupport.h"
#include "TestService.h"

#include "core/ProxyWorks.h"
#include "core/ServiceUrl.h"
#include "lists/ProxyWatch.h"
#include "verify/ProxyCheckPool.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

using namespace lists;


// The watch over the proxy in use, with real proxies of the tests' namespace dying under it in
// every way a proxy dies: killed (its connections refused), stopped (it takes connections and
// answers none), and answering every request with a refusal of its own. The watch's times are
// shortened, as the checks' limit is: a second a cycle.
class WatchTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        previousTimes = ProxyWatch::UseTimes({1000, 1000, 300, 600000, 600000});
        previousLimit = ProxyCheckPool::LimitChecksTo(2000);
        service.emplace("127.0.0.1", std::vector<std::string>{"--https-port", "443"});
        _putenv_s("ZARNU_SERVICE_HOST", service->Host().c_str());
        Start();
    }

    void TearDown() override
    {
        WindowTest::TearDown();
        ProxyWatch::UseTimes(previousTimes);
        ProxyCheckPool::LimitChecksTo(previousLimit);
        raw::RemoveValue(SettingsKey, "Zarnuautoswitch");
        raw::RemoveValue(SettingsKey, "Zarnurelay");
    }

    // An elite proxy (or a transparent one) on 127.0.0.10N:8888.
    void Proxy(int n, bool transparent = false)
    {
        proxies[n] = std::make_unique<host::Tinyproxy>(
            Address(n), 8888, transparent ? std::vector<std::string>{"XTinyproxy Yes"} : std::vector<std::string>{"DisableViaHeader Yes"});
    }
    static std::string Address(int n) { return "127.0.0.10" + std::to_string(n); }
    static std::string Host(int n) { return Address(n) + ":8888"; }

    // Refreshes the main list with `lines` and waits for every verdict.
    void Refresh(const std::string& lines, std::size_t rows)
    {
        service->Serve("paidencrypt.txt", TestService::EncodedProxyList(lines));
        main.Button5.Click();
        ASSERT_TRUE(PumpMessagesUntil([&] {
            const Rows verdicts = ListedVerdicts(main.listrep1);
            return verdicts.size() == rows &&
                   std::all_of(verdicts.begin(), verdicts.end(), [](const auto& row) { return !row[2].empty(); }) &&
                   main.StatusBar1.Text().find(" probed in ") != std::string::npos;
        })) << "not every verdict arrived";
    }

    // Two elite proxies listed, the first in use.
    void UseTheFirstOfTwo()
    {
        Proxy(1);
        Proxy(2);
        Refresh(Host(1) + ";DE\r\n" + Host(2) + ";DE\r\n", 2);
        Use(Host(1));
    }

    // Uses the main list's row of `host` with a double click.
    void Use(const std::string& host)
    {
        const Rows rows = ListedRows(main.listrep1);
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& cells) { return cells[0] == host; });
        ASSERT_NE(row, rows.end()) << host;
        SelectItem(main.listrep1, static_cast<int>(row - rows.begin()));
        DoubleClickItem(main.listrep1, static_cast<int>(row - rows.begin()));
        ASSERT_EQ(raw::GetText(SettingsKey, "ProxyServer").value_or(""), host);
    }

    // Uses the main list's row of `host` with a double click, through the program's relay: the
    // settings name the relay; returns its address.
    std::string UseThroughRelay(const std::string& host)
    {
        const Rows rows = ListedRows(main.listrep1);
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& cells) { return cells[0] == host; });
        EXPECT_NE(row, rows.end()) << host;
        SelectItem(main.listrep1, static_cast<int>(row - rows.begin()));
        DoubleClickItem(main.listrep1, static_cast<int>(row - rows.begin()));
        const std::string relay = raw::GetText(SettingsKey, "ProxyServer").value_or("");
        EXPECT_EQ(relay.rfind("127.0.0.1:", 0), 0u) << relay;
        EXPECT_EQ(main.Label1.Text(), host) << "the label names the proxy, not the relay";
        return relay;
    }

    // Waits until the system proxy is one of `hosts` (or, with none, until the status bar says
    // `told`), checking all along that "ProxyEnable" never leaves 1: the user is never left
    // browsing under their own address.
    std::string AwaitSwitch(const std::vector<std::string>& hosts, const std::string& told = "")
    {
        std::string server;
        const bool came = PumpMessagesUntil([&] {
            EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), std::optional<DWORD>(1));
            server = raw::GetText(SettingsKey, "ProxyServer").value_or("");
            return hosts.empty() ? main.StatusBar1.Text().find(told) != std::string::npos
                                 : std::find(hosts.begin(), hosts.end(), server) != hosts.end();
        }, 20000);
        EXPECT_TRUE(came) << "in use: " << server << "; status: " << main.StatusBar1.Text();
        return server;
    }

    // Waits until the status bar says `told`.
    bool AwaitStatus(const std::string& told, DWORD patienceMs = 20000)
    {
        const bool came = PumpMessagesUntil([&] { return main.StatusBar1.Text().find(told) != std::string::npos; }, patienceMs);
        EXPECT_TRUE(came) << "not told: " << told << "\nstatus: " << main.StatusBar1.Text();
        return came;
    }

    // Holds the service's page for requests from `caller` for `milliseconds` (0: no more).
    void HoldPageFor(const std::string& caller, int milliseconds)
    {
        service->Serve("whatismyip.php", "", milliseconds ? "hold " + std::to_string(milliseconds) + " " + caller : "");
    }

    // The user's own proxy settings, as they set them before they ever used Zarnu: a proxy of
    // their own, switched off, and a bypass list.
    static void SetUsersOwnSettings()
    {
        raw::SetNumber(SettingsKey, "ProxyEnable", 0);
        raw::SetText(SettingsKey, "ProxyServer", "10.9.9.9:3128");
        raw::SetText(SettingsKey, "ProxyOverride", "intranet");
    }
    static void ExpectUsersOwnSettings()
    {
        EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), std::optional<DWORD>(0));
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), std::optional<std::string>("10.9.9.9:3128"));
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyOverride"), std::optional<std::string>("intranet"));
        EXPECT_FALSE(raw::Get(SettingsKey, "AutoConfigURL"));
        EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));
    }

    // Requests of the service's page from `address`: the watch's checks through that proxy.
    std::size_t ChecksThrough(const std::string& address) const
    {
        std::size_t count = 0;
        for (const TestService::Request& request : service->Requests(IpCheckPagePath))
            count += request.from == address;
        return count;
    }

    ProxyWatch::Times previousTimes;
    unsigned previousLimit = 0;
    std::optional<TestService> service;
    std::unique_ptr<host::Tinyproxy> proxies[10];
};
