#pragma once
// The watch over the proxy of the program's in use, as a machine of its own: fed what happens (a
// check's verdict, the user's addresses learned, a failure the relay saw, a list's end, the
// user's acts, the clock) and answering with what to do (check these proxies, learn the user's
// addresses, cut the relay's upstream, switch to another proxy or off, mark a row, tell the
// user). It touches nothing itself; its carrier (lists/ProxyWatch.h) does what it answers and
// feeds the outcome of each switch back. Times are milliseconds of a steady clock.
//
// The proxy in use is checked every period, in its kind (in every kind until that is known), the
// tunnel too unless the proxy is known to carry no HTTPS, within a limit that follows its own last
// passing time (core/ProxyWorks.h). A check that fails, or has not passed by the proxy's own time,
// is joined by two more (one where the connection was refused); the proxy is dead when all fail,
// unless the service cannot be reached either (the user is offline: said, and the watch goes on),
// and it has lost HTTPS when the page came but no tunnel did. A relay failure that is the proxy's
// own starts a cycle at once, at most one at a time and one a second; a site's failure starts
// none. A proxy whose caller is over the service's limit carries the checks but gets no new
// verdict, and the checks are spaced out while that lasts.
//
// A proxy that passes the user's address on is cut off from the browser at the moment it is seen:
// behind the relay its upstream is cut (the browser gets 502), otherwise it is switched off (the
// user's own settings back). Up to five proxies of the picking list that are no worse than it was
// before (core/WatchRules.h) are checked at once, and the best of them that passes takes over;
// where none does, or switching is off or spent (three in ten minutes), it stays switched off. A
// dead proxy, or one that lost HTTPS, is replaced the same way; where none can take over it stays
// in place (the browser fails rather than going out unprotected), the watch goes on checking it,
// and the next end of a command of its list brings the best of that list's proxies in. A proxy
// that failed a search is set aside for ten minutes; one that was left is never taken again.
//
// The user's own addresses are learned at the start, every few minutes and whenever the network
// changes; while none is known, the user is told that leaks cannot be seen. Once the settings are
// changed from outside (the carrier feeds SettingsChanged), the watch ends and says so.

#include "core/PathFailure.h"
#include "core/ProxyVerdict.h"
#include "core/ProxyWorks.h"
#include "core/WatchRules.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct WatchAction {
    enum class Kind {
        Learn,     // learn the user's addresses; answer with Learned(`id`, ...)
        Check,     // check `proxy` of `kind` (nullopt: every kind) within `limitMs`, the tunnel too
                   // where `tunnel`, judged against `usersAddresses`; answer with CheckCame(`id`)
        SetKind,   // the proxy in use, `proxy`, is of `kind`: the relay speaks it from now on
        Cut,       // the relay carries nothing more through the proxy in use; it stays in place
        SwitchTo,  // put `proxy` of `kind` in place; answer with Switched or SwitchFailed
        SwitchOff, // the user's own settings back; answer with SwitchedOff or SwitchOffFailed
        Mark,      // the picking list's row of `proxy` shows `verdict`
        Tell,      // `text` in the status bar, until the next text (the local time before it)
        Notice,    // `text` stands before the status bar's text until the next notice ("": none)
        ShowInUse, // the picking window's labels name `successor`
        ShowOff,   // the labels say that no proxy of the program's is in use
    };
    Kind kind;
    std::uint64_t id = 0;
    std::string proxy;
    std::optional<ProxyKind> kindOfProxy;
    unsigned limitMs = 0;
    bool tunnel = false;
    std::vector<std::string> usersAddresses;
    ProxyVerdict verdict;
    CheckedProxy successor;
    std::string text;
};
using WatchActions = std::vector<WatchAction>;

// The watch's times; tests shorten them.
struct WatchSchedule {
    unsigned periodMs = 10000;
    unsigned limitMs = 3000; // the limit and the doubt moment of a proxy that answers at once
    unsigned doubtMs = 1000;
    std::uint64_t asideMs = 600000;
    std::uint64_t budgetWindowMs = 600000;
    std::uint64_t relearnMs = 300000;          // the user's addresses are learned again
    unsigned listLimitMs = kProxyCheckLimitMs; // no check gets more
};

class WatchMachine {
public:
    using Times = WatchSchedule;
    // The working proxies of the picking list as it stands now (CheckedProxyOf of each row).
    using Candidates = std::function<std::vector<CheckedProxy>()>;

    // The proxy picked: `picked` as its row shows it, `checked` where its row's check passed (its
    // verdict then counts), `relayed` where the browser reaches it through the relay.
    struct Pick {
        CheckedProxy proxy;
        bool checked = false;
        bool relayed = false;
    };

    explicit WatchMachine(const Times& times) : times_(times) {}
    // From the next Begin on.
    void UseTimes(const Times& times) { times_ = times; }

    // A watch begins; one under way ends.
    WatchActions Begin(std::uint64_t now, const Pick& pick, Candidates candidates);
    // No proxy of the program's in use: the watch ends, and its notice goes.
    WatchActions Stop();
    bool Watching() const { return phase_ != Phase::Ended; }

    // The earliest moment at which Tick has something to do; nullopt: none.
    std::optional<std::uint64_t> NextTick() const;
    WatchActions Tick(std::uint64_t now);

    WatchActions CheckCame(std::uint64_t now, std::uint64_t id, const ProxyVerdict& verdict);
    // One answer of the learning `id` (none where it failed); `last`: its last answer.
    WatchActions Learned(std::uint64_t now, std::uint64_t id, const std::vector<std::string>& addresses, bool last);
    WatchActions NetworkChanged(std::uint64_t now);
    WatchActions RelayFailed(std::uint64_t now, const std::string& proxy, PathFailure failure);
    // A command of the picking list has ended: its verdicts are the latest.
    WatchActions ListEnded(std::uint64_t now);
    WatchActions SwitchAutomatically(std::uint64_t now, bool on);
    // The settings no longer stand as the program left them.
    WatchActions SettingsChanged(std::uint64_t now);

    // The outcomes of SwitchTo and SwitchOff.
    WatchActions Switched(std::uint64_t now, bool relayed);
    WatchActions SwitchFailed(std::uint64_t now, const std::string& error);
    WatchActions SwitchedOff(std::uint64_t now);
    WatchActions SwitchOffFailed(std::uint64_t now, const std::string& error);

private:
    enum class Phase {
        Ended,
        Watching,   // the proxy in use is believed to work
        Stranded,   // it died or lost HTTPS, and none took over: it stays, still checked
        Searching,  // successors are checked; a leaking proxy is cut off meanwhile
        Switching,  // a SwitchTo or SwitchOff is under way
    };
    // Why the proxy in use is being left.
    enum class Leaving { Died, LostHttps, Leaked };

    // How a leaking proxy is being switched off: at once, with a search to follow; or for good.
    enum class Off { None, ThenSearch, Final };

    struct Cycle {
        bool running = false;
        std::uint64_t start = 0;
        WatchTimes times;
        bool tunnel = false;
        std::vector<std::uint64_t> ids; // its checks
        int results = 0;
        bool joined = false;
        bool deciding = false; // all failed: dead, or the user offline?
        std::optional<ProxyVerdict> page; // a page that came without the tunnel the proxy had
        ProxyVerdict lastFailure;
    };
    struct Candidate {
        CheckedProxy proxy;
        std::uint64_t check = 0;
        enum { Waiting, Passed, Failed } state = Waiting;
    };
    struct Learning {
        std::uint64_t id = 0;
        bool running = false;
        bool reached = false; // an answer came: the service can be reached
        std::vector<std::string> found;
    };

    void End(WatchActions& out);
    void StartCycle(std::uint64_t now, WatchActions& out);
    void JoinChecks(std::uint64_t now, int more, WatchActions& out);
    void CycleCheckCame(std::uint64_t now, const ProxyVerdict& verdict, WatchActions& out);
    void CycleDone(std::uint64_t now, WatchActions& out);
    void Decide(std::uint64_t now, WatchActions& out);
    void EndCycle();
    // A check of the proxy in use passed (`tunnel`: it asked for the tunnel too).
    void Passed(std::uint64_t now, const ProxyVerdict& verdict, bool tunnel, WatchActions& out);
    // What a page that came through the proxy in use tells of it; false where it leaked.
    bool Judged(std::uint64_t now, const ProxyVerdict& verdict, WatchActions& out);
    // The proxy in use is left, for `why`, as `seen` shows it.
    void Leave(std::uint64_t now, Leaving why, const std::string& reason, const ProxyVerdict& seen, WatchActions& out);
    void Leak(std::uint64_t now, const ProxyVerdict& seen, WatchActions& out);
    void Search(std::uint64_t now, WatchActions& out);
    void AddCandidates(std::uint64_t now, WatchActions& out);
    void CandidateCame(std::uint64_t now, Candidate& candidate, const ProxyVerdict& verdict, WatchActions& out);
    void PickSuccessor(WatchActions& out);
    void NoSuccessor(const std::string& why, WatchActions& out);
    void Strand(const std::string& line, WatchActions& out);
    void SwitchOffLeak(Off off, const std::string& why, WatchActions& out);
    void LeakOff(const std::string& why, WatchActions& out);
    void Learn(std::uint64_t now, WatchActions& out);
    void LearningDone(std::uint64_t now, WatchActions& out);
    void ShowNotice(WatchActions& out);
    void Check(const CheckedProxy& proxy, std::optional<ProxyKind> kind, unsigned limitMs, bool tunnel, WatchActions& out);
    bool SwitchingAllowed(std::uint64_t now, std::string& why);
    WatchTimes TimesFor(std::optional<unsigned> lastPassMs) const;

    Times times_;
    Candidates candidates_;
    Phase phase_ = Phase::Ended;
    bool switching_ = true;
    bool relayed_ = false;
    // The proxy in use, as its latest check tells it, and whether its HTTPS is known yet.
    CheckedProxy current_;
    bool httpsKnown_ = false;
    std::optional<unsigned> lastPassMs_;
    std::uint64_t nextId_ = 1;
    Cycle cycle_;
    std::uint64_t nextCycle_ = 0;
    std::optional<std::uint64_t> doubtAt_;
    unsigned spacing_ = 1; // the period's factor while the service limits the proxy's caller
    std::optional<std::uint64_t> failureCycleAt_; // a relay failure's cycle, held back
    std::uint64_t lastFailureCycle_ = 0;
    Learning learning_;
    std::vector<std::string> usersAddresses_;
    std::optional<std::uint64_t> relearnAt_;
    bool blind_ = false; // no address of the user's is known: leaks cannot be seen
    // Leaving the proxy in use: why, what successors must be no worse than, the candidates.
    Leaving leaving_ = Leaving::Died;
    std::string leavingReason_;
    CheckedProxy left_;
    bool leakCut_ = false; // the leaking proxy no longer carries the browser
    std::vector<Candidate> search_;
    CheckedProxy switchingTo_;
    Off off_ = Off::None;
    std::string offWhy_;
    std::string notice_;
    SwitchBudget budget_{3, 600000};
    SetAside aside_;
};
