// Refreshes the main proxy list from the project's service with N loopback proxies, the way the
// user does it (a click on "Refresh Proxy List" in the shown main window), or checks N pasted
// loopback lines in the checker, and prints the time from the click to the last row listed,
// sorted and drawn, the completion handler times, any error box and the process's peak memory.
//   refresh_benchmark [--checker] [--verdicts [--half-silent]] [--targets FILE] [--most-live N]
//                     [PROXIES...]   (default 1000 5000)
// --verdicts lists proxies served by one real proxy (tinyproxy on every loopback address) and
// also waits for every row's verdict; --half-silent makes every second one a server that accepts
// and never answers.
// --targets writes the addresses of the last round to FILE, one per line, for fping. --most-live
// bounds the live workers (ProbeLauncher::BoundLiveWorkers), to see what the bound costs.
// Needs ZARNU_TEST_SERVICE (the service program), ZARNU_TEST_HOST_TOOLS and a display.

#include "app/Unit1.h"
#include "lists/Unit2.h"
#include "probe/PingThrd.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

#include "BenchSupport.h"
#include "ListTestSupport.h"
#include "MessagePump.h"
#include "TestService.h"

#include <psapi.h>

#include <algorithm>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Where the listed proxies listen: nowhere (8080), the real proxy (8888), the silent server (8889).
bool verdicts = false;
bool halfSilent = false;

std::string ProxyPort(int index)
{
    if (!verdicts)
        return ":8080";
    return halfSilent && index % 2 == 1 ? ":8889" : ":8888";
}

// A list of distinct loopback proxies, with countries as the service delivers it, or as pasted.
std::string ProxyLines(int proxies, bool withCountries)
{
    const char* countries[] = {";Germany", ";Japan", ";Brazil", ";Canada", ";France"};
    std::string list;
    for (int i = 0; i < proxies; ++i)
        list += LoopbackAddress(i) + ProxyPort(i) + (withCountries ? countries[i % 5] : "") + "\r\n";
    return list;
}

int errorBoxes = 0;

// Completion handlers are timed where the hand-over message reaches the completion window: its
// window procedure is wrapped (a subclass costs nothing worth measuring, unlike a message hook).
std::vector<double> handlerTimes;
WNDPROC completionProcedure = nullptr;

LRESULT CALLBACK TimedCompletion(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LARGE_INTEGER start = Now();
    const LRESULT result = CallWindowProcA(completionProcedure, window, message, wParam, lParam);
    if (message == WM_USER + 1)
        handlerTimes.push_back(Milliseconds(start, Now()));
    return result;
}

// Once the first worker has made the completion window.
void TimeCompletions()
{
    const HWND window = FindWindowExA(HWND_MESSAGE, nullptr, "ZarnuWorkerCompletion", nullptr);
    if (window && !completionProcedure)
        completionProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TimedCompletion)));
}

// The status bar's cost: every message its bar and progress bar handle (texts, positions,
// paints), timed by wrapping their window procedures.
struct StatusBarTime {
    WNDPROC bar = nullptr;
    WNDPROC progress = nullptr;
    double milliseconds = 0;
    std::size_t texts = 0;
} statusBarTime;

LRESULT CALLBACK TimedStatusBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LARGE_INTEGER start = Now();
    const LRESULT result = CallWindowProcA(statusBarTime.bar, window, message, wParam, lParam);
    statusBarTime.milliseconds += Milliseconds(start, Now());
    statusBarTime.texts += message == SB_SETTEXTA;
    return result;
}

LRESULT CALLBACK TimedProgressBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LARGE_INTEGER start = Now();
    const LRESULT result = CallWindowProcA(statusBarTime.progress, window, message, wParam, lParam);
    statusBarTime.milliseconds += Milliseconds(start, Now());
    return result;
}

void TimeStatusBar(const StatusBar& bar)
{
    statusBarTime.bar = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TimedStatusBar)));
    statusBarTime.progress = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar.Progress(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TimedProgressBar)));
}

// Where the UI thread's time goes while the rows arrive: in completions (delivered while it looks
// for messages), in timers (the launcher's steps, the list's count), in paints, elsewhere, idle.
struct UiTime {
    double completions = 0, timers = 0, paints = 0, other = 0, idle = 0;
};

template <typename Condition>
UiTime PumpTimedUntil(Condition done)
{
    UiTime time;
    MSG message;
    for (;;) {
        for (;;) {
            const LARGE_INTEGER before = Now();
            const bool got = PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
            const LARGE_INTEGER peeked = Now();
            time.completions += Milliseconds(before, peeked);
            if (!got)
                break;
            TApplication::DispatchOne(message);
            const double dispatch = Milliseconds(peeked, Now());
            (message.message == WM_TIMER ? time.timers : message.message == WM_PAINT ? time.paints : time.other) +=
                dispatch;
            // After each message: while verdicts keep coming, the queue may not run dry for
            // seconds after the last row.
            if (done())
                return time;
        }
        if (done())
            return time;
        const LARGE_INTEGER before = Now();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        time.idle += Milliseconds(before, Now());
    }
}

void Run(TForm1& main, TForm2& checker, TestService& service, int proxies, bool inChecker)
{
    ProxyListView& list = inChecker ? checker.ListView1 : main.listrep1;
    if (inChecker)
        checker.HostNames.SetText(ProxyLines(proxies, false));
    else
        service.Serve("paidencrypt.txt", TestService::EncodedProxyList(ProxyLines(proxies, true)));
    handlerTimes.clear();
    const std::size_t probedAgainBefore = ProbeLauncher::LinesProbedAgain();
    const StatusBar& bar = inChecker ? checker.StatusBar1 : main.StatusBar1;
    statusBarTime.milliseconds = 0;
    statusBarTime.texts = 0;

    const LARGE_INTEGER click = Now();
    (inChecker ? checker.Button5 : main.Button5).Click();
    const LARGE_INTEGER started = Now();
    TimeCompletions();
    // Every loopback proxy answers: the last row is listed when every line has its row.
    const UiTime ui = PumpTimedUntil([&] { return list.Count() == static_cast<std::size_t>(proxies); });
    const LARGE_INTEGER lastCompletion = Now();
    std::size_t verdictsByLastRow = 0;
    for (std::size_t i = 0; i < list.Count(); ++i)
        verdictsByLastRow += !list.Row(i).Checks.empty();
    // The list view learns the last rows from its own timer, as in the program.
    PumpMessagesUntil([&] { return list.ItemCount() == static_cast<int>(list.Count()); }, 10000);
    UpdateWindow(list.Handle());
    const LARGE_INTEGER drawn = Now();
    PumpMessagesUntil([] { return RegisteredWorkerSlots() == 0; }, 60000);
    UiTime verdictUi;
    if (verdicts)
        verdictUi = PumpTimedUntil([&] { return lists::AllVerdictsIn(list); });
    const LARGE_INTEGER lastVerdict = Now();
    // The summary follows the last verdict within a tick of the status bar's.
    PumpMessagesUntil([&] { return bar.Text().find(" probed in ") != std::string::npos; }, 60000);

    std::sort(handlerTimes.begin(), handlerTimes.end());
    double total = 0;
    for (const double time : handlerTimes)
        total += time;
    const auto percentile = [&](double share) {
        return handlerTimes.empty() ? 0.0 : handlerTimes[static_cast<std::size_t>(share * (handlerTimes.size() - 1))];
    };
    const auto over5 = handlerTimes.end() - std::upper_bound(handlerTimes.begin(), handlerTimes.end(), 5.0);

    std::printf("%s of %d proxies\n", inChecker ? "check" : "refresh", proxies);
    std::printf("  rows listed:                    %zu\n", list.Count());
    std::printf("  error boxes:                    %d\n", errorBoxes);
    std::printf("  completions handled:            %zu\n", handlerTimes.size());
    std::printf("  lines probed again:             %zu (their thread ended without an answer)\n",
                ProbeLauncher::LinesProbedAgain() - probedAgainBefore);
    std::printf("  click to the handler's return:  %.0f ms\n", Milliseconds(click, started));
    std::printf("  click to last row listed, sorted: %.0f ms\n", Milliseconds(click, lastCompletion));
    std::printf("  click to the list drawn:        %.0f ms\n", Milliseconds(click, drawn));
    if (verdicts)
        std::printf("  last row to last verdict:       %.0f ms (%zu verdicts in by the last row)\n",
                    Milliseconds(lastCompletion, lastVerdict), verdictsByLastRow);
    std::printf("  completion handler, wall time:  mean %.3f ms, median %.3f, 99th percentile %.3f, "
                "longest %.2f; %d over 5 ms\n",
                handlerTimes.empty() ? 0.0 : total / handlerTimes.size(), percentile(0.5),
                percentile(0.99), percentile(1.0), static_cast<int>(over5));
    std::printf("  UI thread after the click:      %.0f ms completions (%.0f ms in their handlers), %.0f ms "
                "timers, %.0f ms paints, %.0f ms other messages, %.0f ms idle\n",
                ui.completions, total, ui.timers, ui.paints, ui.other, ui.idle);
    const double busy = ui.completions + ui.timers + ui.paints + ui.other;
    std::printf("  UI thread busy while probes ran: %.0f %%\n", busy + ui.idle > 0 ? 100 * busy / (busy + ui.idle) : 0.0);
    std::printf("  status bar:                     %.1f ms of the UI thread in %zu texts and their progress bar; "
                "summary: %s\n",
                statusBarTime.milliseconds, statusBarTime.texts, bar.Text().c_str());
    if (verdicts)
        std::printf("  UI thread while verdicts came:  %.0f ms completions, %.0f ms timers (the checks' starts), "
                    "%.0f ms paints, %.0f ms other messages, %.0f ms idle\n",
                    verdictUi.completions, verdictUi.timers, verdictUi.paints, verdictUi.other, verdictUi.idle);
}

} // namespace

int main(int argc, char** argv)
{
    Application.Initialize();
    Application.SetTitle("Zarnu");
    // What the user would see in an error box is printed instead.
    ReplaceErrorBox([](const std::string& text) {
        ++errorBoxes;
        std::printf("  error box: %s\n", text.c_str());
    });
    for (int i = 1; i < argc; ++i) {
        verdicts = verdicts || std::string(argv[i]) == "--verdicts";
        halfSilent = halfSilent || std::string(argv[i]) == "--half-silent";
    }
    TestService service{"127.0.0.1", {"--https-port", "443"}};
    _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
    std::unique_ptr<host::Tinyproxy> proxy;
    std::unique_ptr<TestService> silent;
    if (verdicts)
        proxy = std::make_unique<host::Tinyproxy>("0.0.0.0", 8888, std::vector<std::string>{"MaxClients 1000"});
    if (halfSilent)
        silent = std::make_unique<TestService>("0.0.0.0", std::vector<std::string>{"--port", "8889", "--never-answer", "yes"});

    TForm1 main;
    TForm2 checker;
    main.Create();
    main.CreateChecker(checker);
    main.Show();
    UpdateWindow(main.Handle());

    std::vector<int> rounds;
    bool inChecker = false;
    std::string targets;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--checker")
            inChecker = true;
        else if (std::string(argv[i]) == "--targets" && i + 1 < argc)
            targets = argv[++i];
        else if (std::string(argv[i]) == "--most-live" && i + 1 < argc)
            ProbeLauncher::BoundLiveWorkers(static_cast<std::size_t>(std::atoi(argv[++i])));
        else if (std::string(argv[i]).rfind("--", 0) == 0)
            continue;
        else
            rounds.push_back(std::atoi(argv[i]));
    }
    if (rounds.empty())
        rounds = {1000, 5000};
    TimeStatusBar(inChecker ? checker.StatusBar1 : main.StatusBar1);
    bool allListed = true;
    for (const int proxies : rounds) {
        Run(main, checker, service, proxies, inChecker);
        const ProxyListView& list = inChecker ? checker.ListView1 : main.listrep1;
        allListed = allListed && list.Count() == static_cast<std::size_t>(proxies) && errorBoxes == 0;
    }
    if (!targets.empty()) {
        std::string addresses;
        for (int i = 0; i < rounds.back(); ++i)
            addresses += LoopbackAddress(i) + "\n";
        std::ofstream(host::WindowsPath(targets), std::ios::binary) << addresses;
    }

    PROCESS_MEMORY_COUNTERS memory{sizeof memory};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("peak working set:   %.1f MB\n", static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0);
    std::printf("peak private bytes: %.1f MB\n", static_cast<double>(memory.PeakPagefileUsage) / 1048576.0);
    main.Destroy();
    return allListed ? 0 : 1;
}
