// Kills the proxy in use again and again, each time at a random moment of the watch's cycle, with
// the watch's real times (a check every 10 s, within 3 s for a proxy that answers at once, longer
// for a far one), and prints the median and the longest time from the kill until the system
// proxy names another proxy; then the bytes one watch check moves and the watch's bytes per hour.
// Every other proxy is killed outright (its connections are refused), the rest are stopped (they
// take connections and answer none). Two rounds: near proxies, then far ones, whose pages take
// some 3.5 s (a relay in front of each holds every chunk 1.7 s each way). Then a third: the proxy
// in use starts to pass the user's address on, at a random moment of the cycle, under a browser
// that asks a page every 50 ms the way the system settings say; printed is the time from the
// leak's start to the last of the browser's requests that went out through the leaking proxy.
//   watch_benchmark [KILLS [FAR_KILLS [LEAKS]]]   (default 20, 10 and 10)
// Every proxy is a real one (tinyproxy) on an address of its own; after each switch the user picks
// the new proxy, so that the watch's bound of three switches in ten minutes does not end the run.
// Needs ZARNU_TEST_SERVICE (the service program), ZARNU_TEST_HOST_TOOLS and a display.

#include "app/Unit1.h"
#include "lists/Unit2.h"
#include "settings/SystemProxy.h"
#include "verify/ProxyCheck.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

#include "BenchSupport.h"
#include "BrowsingLoad.h"
#include "ListTestSupport.h"
#include "RawRegistry.h"
#include "TestService.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

std::string SystemProxy()
{
    return raw::GetText(SettingsKey, "ProxyServer").value_or("");
}

// Uses the main list's row of `host`, as the user does with a double click.
void Use(TForm1& main, const std::string& host)
{
    for (std::size_t position = 0; position < main.listrep1.Count(); ++position)
        if (main.listrep1.Row(position).Caption == host) {
            lists::SelectItem(main.listrep1, static_cast<int>(position));
            lists::DoubleClickItem(main.listrep1, static_cast<int>(position));
        }
}

// The bytes one check of the watch moves through `proxy`: its request and the whole answer.
std::size_t WatchCheckBytes(const std::string& proxy, const std::string& service)
{
    CheckEngine engine;
    std::size_t bytes = 0;
    const UniqueKernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CheckJob job = ProxyCheckJob(CheckOrder{proxy, service, CheckUserAgent(), {}, 3000, false}, [](const ProxyVerdict&) {});
    job.done = [&](const std::vector<PartResult>& results) {
        bytes = results[0].answer.bytesSent + results[0].answer.bytesReceived;
        SetEvent(done.get());
    };
    engine.Submit(std::move(job));
    WaitForSingleObject(done.get(), 10000);
    return bytes;
}

// A round's proxies: each listed host, and how it dies.
struct Round {
    const char* name;
    std::vector<std::string> hosts;
    std::function<void(std::size_t proxy, bool silent)> kill;
};

// Refreshes the main list with the round's proxies, then kills the one in use `kills` times.
void Run(TForm1& main, TestService& service, const Round& round, int kills, std::mt19937& random)
{
    std::string lines;
    for (const std::string& host : round.hosts)
        lines += host + ";Germany\r\n";
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(lines));
    main.Button5.Click();
    PumpMessagesUntil([&] { return main.StatusBar1.Text().find(" probed in ") != std::string::npos; }, 60000);
    std::printf("  %s proxies, refreshed: %s\n", round.name, main.StatusBar1.Text().c_str());

    std::vector<double> times[2]; // refused, silent
    std::string inUse = round.hosts.front();
    Use(main, inUse);
    for (int kill = 0; kill < kills; ++kill) {
        const auto wait = std::uniform_int_distribution<DWORD>(0, 9999)(random);
        PumpMessagesUntil([] { return false; }, wait);
        const auto dying = static_cast<std::size_t>(
            std::find(round.hosts.begin(), round.hosts.end(), inUse) - round.hosts.begin());
        const bool silent = kill % 2 == 1;
        const LARGE_INTEGER killed = Now();
        round.kill(dying, silent);
        const bool switched = PumpMessagesUntil([&] { return SystemProxy() != inUse; }, 90000);
        times[silent].push_back(Milliseconds(killed, Now()));
        std::printf("  %s %2d, %4lu ms into the cycle: %s after %.1f s\n", silent ? "stop" : "kill", kill + 1,
                    static_cast<unsigned long>(wait), switched ? SystemProxy().c_str() : "nothing switched",
                    times[silent].back() / 1000);
        if (!switched)
            break;
        inUse = SystemProxy();
        Use(main, inUse); // the user's pick: the watch's bound of switches starts afresh
    }
    for (const bool silent : {false, true}) {
        std::vector<double>& series = times[silent];
        std::sort(series.begin(), series.end());
        if (!series.empty())
            std::printf("  %s proxies %s to a working proxy in place: median %.1f s, longest %.1f s (%zu times)\n",
                        round.name, silent ? "stopped (no answer)" : "killed (refused)",
                        series[series.size() / 2] / 1000, series.back() / 1000, series.size());
    }
}

// `leaks` times: the proxy in use, a relay on 127.0.5.N in front of an elite tinyproxy on
// 127.0.6.N, is turned to a transparent one at a random moment of the cycle.
void RunLeaks(TForm1& main, TestService& service, int leaks, std::mt19937& random)
{
    const host::Tinyproxy leaking{"127.0.7.1", 8888, {"XTinyproxy Yes"}};
    std::vector<std::unique_ptr<host::Tinyproxy>> elite;
    std::vector<std::unique_ptr<TestService>> relays;
    std::string lines;
    for (int i = 0; i <= leaks; ++i) {
        const std::string n = std::to_string(i + 1);
        elite.push_back(std::make_unique<host::Tinyproxy>("127.0.6." + n, 8888, std::vector<std::string>{"DisableViaHeader Yes"}));
        relays.push_back(std::make_unique<TestService>(
            "127.0.5." + n, std::vector<std::string>{"--port", "8888", "--hostile", "far", "--relay-to", elite.back()->Host(),
                                                      "--delay", "0"}));
        lines += "127.0.5." + n + ":8888;Germany\r\n";
    }
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(lines));
    main.Button5.Click();
    PumpMessagesUntil([&] { return main.StatusBar1.Text().find(" probed in ") != std::string::npos; }, 60000);
    std::printf("  leaking proxies, refreshed: %s\n", main.StatusBar1.Text().c_str());
    BrowsingLoad browser("http://" + service.Host() + "/whatismyip.php");
    std::vector<double> lasts;
    for (int leak = 0; leak < leaks; ++leak) {
        const std::string inUse = "127.0.5." + std::to_string(leak + 1) + ":8888";
        Use(main, inUse);
        PumpMessagesUntil([] { return false; }, std::uniform_int_distribution<DWORD>(0, 9999)(random));
        const ULONGLONG began = GetTickCount64();
        relays[static_cast<std::size_t>(leak)]->Serve("relay-to", leaking.Host());
        PumpMessagesUntil([&] { return SystemProxy() != inUse; }, 60000);
        PumpMessagesUntil([] { return false; }, 1000); // requests under way end
        const auto last = browser.LastFrom("127.0.7.1", began);
        lasts.push_back(last ? static_cast<double>(*last - began) : 0);
        std::printf("  leak %2d: %s in place; the last request through the leak began %.2f s after the leak began\n",
                    leak + 1, SystemProxy().c_str(), lasts.back() / 1000);
    }
    std::sort(lasts.begin(), lasts.end());
    if (!lasts.empty())
        std::printf("  from a leak's start to the last browser request through the leaking proxy: median %.2f s, "
                    "longest %.2f s (%zu leaks)\n", lasts[lasts.size() / 2] / 1000, lasts.back() / 1000, lasts.size());
}

} // namespace

int main(int argc, char** argv)
{
    const int kills = argc > 1 ? std::atoi(argv[1]) : 20;
    const int farKills = argc > 2 ? std::atoi(argv[2]) : 10;
    const int leaks = argc > 3 ? std::atoi(argv[3]) : 10;
    Application.Initialize();
    Application.SetTitle("Zarnu");
    ReplaceErrorBox([](const std::string& text) { std::printf("  error box: %s\n", text.c_str()); });
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
    std::printf("the watch over the proxy in use: %d kills of near proxies and %d of far ones, at random moments "
                "of its 10 s cycle\n", kills, farKills);

    std::vector<std::unique_ptr<host::Tinyproxy>> nearProxies;
    Round nearRound{"near", {}, [&](std::size_t proxy, bool silent) {
                        if (silent)
                            nearProxies[proxy]->Pause();
                        else
                            nearProxies[proxy].reset();
                    }};
    for (int i = 0; i <= kills; ++i) {
        nearProxies.push_back(std::make_unique<host::Tinyproxy>("127.0.2." + std::to_string(i + 1), 8888,
                                                         std::vector<std::string>{"DisableViaHeader Yes"}));
        nearRound.hosts.push_back(nearProxies.back()->Host());
    }
    // Far: a relay on 127.0.3.N in front of a tinyproxy on 127.0.4.N.
    std::vector<std::unique_ptr<host::Tinyproxy>> behind;
    std::vector<std::unique_ptr<TestService>> relays;
    Round farRound{"far", {}, [&](std::size_t proxy, bool silent) {
                       if (silent)
                           behind[proxy]->Pause();
                       else
                           relays[proxy].reset();
                   }};
    for (int i = 0; i <= farKills; ++i) {
        const std::string n = std::to_string(i + 1);
        behind.push_back(std::make_unique<host::Tinyproxy>("127.0.4." + n, 8888, std::vector<std::string>{"DisableViaHeader Yes"}));
        relays.push_back(std::make_unique<TestService>(
            "127.0.3." + n, std::vector<std::string>{"--port", "8888", "--hostile", "far", "--relay-to",
                                                      behind.back()->Host(), "--delay", "1700"}));
        farRound.hosts.push_back("127.0.3." + n + ":8888");
    }
    const std::size_t bytes = WatchCheckBytes(nearRound.hosts.front(), service.Host());
    std::printf("  one check of the watch: %zu bytes; %.0f KB an hour (a check every 10 s)\n", bytes, bytes * 360 / 1024.0);

    TForm1 main;
    TForm2 checker;
    main.Create();
    main.CreateChecker(checker);
    main.Show();
    std::mt19937 random(2026);
    Run(main, service, nearRound, kills, random);
    if (farKills > 0)
        Run(main, service, farRound, farKills, random);
    if (leaks > 0)
        RunLeaks(main, service, leaks, random);
    main.ExitCleanup();
    main.Destroy();
    return 0;
}
