#pragma once
// The watch over the proxy of the program's in place. From the moment a proxy is picked in either
// list until it is switched off (or another is picked), it is checked every 10 s through itself
// off the UI thread, with the check of the verdicts (the service's page with its evidence; the
// tunnel too while the proxy's HTTPS is not known), judged as a list judges it: within a limit
// that follows the proxy's own last passing time (core/ProxyWorks.h), so that a far proxy is not
// called dead for being far. A check that fails, or has not passed by the proxy's own time, is
// joined by two more (one more where the connection was refused), all ending with the first
// one's limit; the proxy is dead when all fail. Before it calls a proxy dead, the watch asks the
// service directly and the program's own way: where no answer comes, the user is offline, which
// it says, and it goes on watching. The proxy's verdict is its latest check's, the list's or the
// watch's own; the user's own addresses are learned when the watch begins and again whenever the
// last learning failed.
//
// A proxy that passes the user's address on is left at once: the best checked proxy of the list
// it was picked from that is no worse takes over (core/WatchRules.h), checked right before; where
// none can (or switching is off, or three automatic switches in ten minutes are spent), the
// proxy is switched off as "Stop Hide My IP" does, since the direct way exposes nothing more. A
// dead proxy is replaced the same way; where none can take over it stays in place, so that the
// browser fails rather than going out under the user's own address, the watch goes on checking
// it, and the next command of that list brings the best of its proxies in. At most five are
// tried a time; one that fails then is set aside for ten minutes, and the watch never goes back
// to a proxy it left. What needs the user stands in the picking window's status bar until the
// user acts; every death and switch is told there, and its taskbar button flashes until the
// window is in front.
//
// The watch writes the system settings only while they still route through the proxy it watches,
// put there by this program: once the user has switched it off, or anyone has set another proxy,
// the watch ends and says so. A registry error in a switch of its own is told, not raised. Where
// the browser goes through the program's relay, a switch changes the relay's upstream only
// (settings/ProxyRoute.h), and a browser connection that could not be opened through the proxy
// starts a check at once, without waiting for the next one. UI thread only.

#include "core/ProxyWorks.h"
#include "core/WatchRules.h"
#include "lists/ProxyListView.h"
#include "settings/ProxyRoute.h"
#include "verify/CheckEngine.h"
#include "verify/ProxyCheck.h"
#include "win/StatusBar.h"
#include "win/ThreadTimer.h"
#include "win/UiMailbox.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
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
        std::function<void()> showOff;    // the labels once the proxy is switched off
    };
    // The watch's times; tests shorten them. The limit and the doubt moment are those of a proxy
    // that answers at once: a slower one gets more (WatchTimesFor), up to the lists' limit.
    struct Times {
        unsigned periodMs = 10000;
        unsigned limitMs = 3000;
        unsigned doubtMs = 1000;
        std::uint64_t asideMs = 600000;
        std::uint64_t budgetWindowMs = 600000;
    };
    static Times UseTimes(const Times& times); // the previous ones

    // Switches through `route`, which outlives the watch.
    explicit ProxyWatch(ProxyRoute& route);
    ProxyWatch(const ProxyWatch&) = delete;
    ProxyWatch& operator=(const ProxyWatch&) = delete;
    // Ends the watch; the picking window, which may have gone, is not touched.
    ~ProxyWatch();

    // `address` is now in place, picked in `picker`'s list; the watch over an earlier one ends.
    // `way` is the program's own way out. Raises std::runtime_error when the watch's threads
    // cannot be had.
    void Watch(const std::string& address, Picker picker, RequestWay way, std::string userAgent);
    // No proxy of the program's in place: nothing is checked any more, and what stood in the
    // status bar goes.
    void Stop();
    bool Watching() const { return watching_; }

    // When off, the watch checks and tells, but switches nothing; a takeover under way ends.
    void SwitchAutomatically(bool on);

    // A command of `list` has ended: its verdict of the proxy in use is the latest; where the
    // proxy died and none could take over, the best of the list's proxies takes over now.
    void ListChecked(const ProxyListView& list);

private:
    struct Machinery {
        UiMailbox mailbox;
        CheckEngine engine;
    };
    // One check of `proxy` within `limitMs` (the tunnel too where `tunnel`); `came` gets its
    // verdict on the UI thread, unless the watch has ended.
    void Check(const std::string& proxy, std::optional<ProxyKind> kind, unsigned limitMs, bool tunnel,
               std::function<void(const ProxyVerdict&)> came);
    // A browser connection could not be opened through `proxy`.
    void OpeningFailed(const std::string& proxy);
    void LearnUsersAddresses();
    void UsersAddressesCame(std::uint64_t learning, const std::vector<std::string>& addresses);

    void StartCycle();
    void JoinChecks(int more);
    void CycleCheckCame(const ProxyVerdict& verdict, bool tunnel);
    void Passed(const ProxyVerdict& verdict, bool tunnel);
    void CycleFailed();
    void Decide();
    void EndCycle();

    void Died(const std::string& reason);
    void Leaked();
    void MarkRow(const std::string& address, std::vector<std::string> cells);
    void TakeOver();
    void TryNext();
    void Tried(CheckedProxy candidate, const ProxyVerdict& verdict);
    void SwitchTo(const CheckedProxy& successor);
    void Stranded(const std::string& line);
    void SwitchOff(const std::string& why);
    void NotSwitched(const std::string& why);

    // Whether the system settings still route through the watched proxy; where not, the watch
    // has ended and said so.
    bool StillInUse();
    void Tell(const std::string& line) const;
    void Notice(const std::string& line) const;
    void Flash() const;
    std::uint64_t Now() const;

    ProxyRoute& route_;
    std::unique_ptr<Machinery> machinery_;
    std::shared_ptr<std::atomic<bool>> cancelled_; // the current watch's
    bool watching_ = false;
    bool switching_ = true;
    Picker picker_;
    RequestWay way_;
    std::string userAgent_;
    std::string service_;
    // The proxy in use as its latest check tells it (the kind as the list's check found it).
    CheckedProxy current_;
    bool httpsKnown_ = false;
    std::optional<unsigned> lastPassMs_;
    // The user's own addresses, and the latest learning of them.
    std::vector<std::string> usersAddresses_;
    std::uint64_t learning_ = 0;
    int learningAwaited_ = 0;
    bool learningReached_ = false; // an answer came: the service can be reached
    // The check cycle under way: its checks started and failed, when it began, its times.
    bool inCycle_ = false;
    std::uint64_t cycle_ = 0;
    int cycleChecks_ = 0;
    int cycleFailures_ = 0;
    bool joined_ = false;
    bool deciding_ = false; // all failed: dead, or the user offline?
    std::uint64_t cycleStart_ = 0;
    WatchTimes cycleTimes_;
    std::string failedReason_;
    // After a death or a leak: why, and the proxies still to try.
    bool stranded_ = false; // dead, and none took over
    bool leaking_ = false;
    bool takingOver_ = false;
    std::uint64_t takeover_ = 0;
    std::string deathReason_;
    std::string dead_;
    std::vector<CheckedProxy> successors_;
    int tried_ = 0;
    SwitchBudget budget_{3, 600000};
    SetAside aside_;
    ThreadTimer cycleTimer_;
    ThreadTimer doubtTimer_;
};
