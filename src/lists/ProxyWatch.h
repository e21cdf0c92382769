#pragma once
// The watch over the proxy of the program's in place. From the moment a proxy is picked in either
// list until it is switched off (or another is picked), it is checked every 10 s through itself,
// with the check of the verdicts (the service's page with its evidence, without the tunnel:
// under 1 KB a check), within 3 s, off the UI thread. A check that fails, or has not passed after
// 1 s, is joined by two more side by side (one more where the connection was refused), all of
// them ending within the 3 s; the proxy is dead when all fail, and at once when it passes the
// user's own address on. Before it calls a proxy dead, the watch asks the service the program's
// own way: where that fails too, the user is offline, which it says, and goes on watching.
//
// Where switching is on and allowed (at most three automatic switches in ten minutes), the best
// checked proxy of the list it was picked from that is no worse takes over (core/WatchRules.h),
// checked once more right before; at most five are tried, and one that fails then is set aside
// for ten minutes. The watch never goes back to a proxy it left. Where none can take over, the
// dead proxy stays in place, so that the browser fails rather than going out under the user's own
// address, and the watch goes on checking it and says when it answers again; a refresh of that
// list then brings the best of its new proxies in at once. Every death and switch is one line in
// the picking window's status bar, whose taskbar button flashes until the window is in front.
// UI thread only.

#include "core/WatchRules.h"
#include "lists/ProxyListView.h"
#include "verify/CheckEngine.h"
#include "verify/ProxyCheck.h"
#include "win/StatusBar.h"
#include "win/ThreadTimer.h"
#include "win/UiMailbox.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ProxyWatch {
public:
    // The window whose list the proxy was picked from.
    struct Picker {
        HWND window = nullptr;           // flashed (its taskbar button's window) when not in front
        StatusBar* bar = nullptr;         // where the watch tells what it did
        ProxyListView* list = nullptr;    // where proxies to take over come from
        int countryItem = -1;             // the sub-item of its rows that holds the country
        std::function<void(const CheckedProxy& proxy)> showInUse; // the window's labels
    };
    // The watch's times; tests shorten them.
    struct Times {
        unsigned periodMs = 10000;
        unsigned limitMs = 3000;
        unsigned doubtMs = 1000; // a check without an answer by then is joined by two more
        std::uint64_t asideMs = 600000;
        std::uint64_t budgetWindowMs = 600000;
    };
    static Times UseTimes(const Times& times); // the previous ones

    ProxyWatch() = default;
    ProxyWatch(const ProxyWatch&) = delete;
    ProxyWatch& operator=(const ProxyWatch&) = delete;
    ~ProxyWatch();

    // `address` is now in place, picked in `picker`'s list; the watch over an earlier one ends.
    // The user's own addresses are learned first, `way` being the program's own way out.
    // Raises std::runtime_error when the watch's threads cannot be had.
    void Watch(const std::string& address, Picker picker, RequestWay way, std::string userAgent);
    // No proxy of the program's in place: nothing is checked any more.
    void Stop();
    bool Watching() const { return watching_; }

    // When off, the watch checks and tells, but switches nothing.
    void SwitchAutomatically(bool on) { switching_ = on; }

    // A command of `list` has ended: where the proxy in use died and none could take over, the
    // best of the list's proxies takes over now.
    void ListChecked(const ProxyListView& list);

private:
    struct Machinery {
        UiMailbox mailbox;
        CheckEngine engine;
    };
    // One check of `proxy` within `limitMs` (the tunnel too where `tunnel`); `came` gets its
    // verdict on the UI thread, unless the watch has moved on.
    void Check(const std::string& proxy, unsigned limitMs, bool tunnel, std::function<void(const ProxyVerdict&)> came);
    void StartCycle();
    void CycleCheckCame(const ProxyVerdict& verdict);
    void JoinChecks(int more, unsigned limitMs);
    void CycleFailed();
    void Died(const std::string& reason);
    void TakeOver();
    void TryNext();
    void SwitchTo(const CheckedProxy& successor);
    void Tell(const std::string& line) const;
    std::uint64_t Now() const;

    std::unique_ptr<Machinery> machinery_;
    std::shared_ptr<std::atomic<bool>> cancelled_; // the current watch's
    bool watching_ = false;
    bool switching_ = true;
    Picker picker_;
    RequestWay way_;
    std::string userAgent_;
    std::string service_;
    std::vector<std::string> usersAddresses_;
    CheckedProxy current_;
    // The check cycle under way: checks started and failed, when it began.
    bool inCycle_ = false;
    int cycleChecks_ = 0;
    int cycleFailures_ = 0;
    bool joined_ = false;
    std::uint64_t cycleStart_ = 0;
    // After a death: why, and the proxies still to try.
    bool stranded_ = false; // dead, and none took over
    bool switchingNow_ = false;
    std::string deathReason_;
    std::string dead_;
    std::vector<CheckedProxy> successors_;
    int tried_ = 0;
    SwitchBudget budget_{3, 600000};
    SetAside aside_;
    ThreadTimer cycleTimer_;
    ThreadTimer doubtTimer_;
};
