#include "core/WatchMachine.h"

#include "core/ExitPlace.h"

#include <algorithm>
#include <limits>

namespace {

using Kind = WatchAction::Kind;

constexpr std::size_t kMostTried = 5;
constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();
// A relay failure's cycle comes no sooner than this after the last one that a failure started.
constexpr std::uint64_t kFailureSpacingMs = 1000;
// While the service limits the proxy's caller, the period grows up to this many times.
constexpr unsigned kMostSpacing = 8;

WatchAction Act(Kind kind, std::string text = {})
{
    WatchAction action{kind};
    action.text = std::move(text);
    return action;
}

WatchAction ProxyAct(Kind kind, const CheckedProxy& proxy)
{
    WatchAction action{kind};
    action.proxy = proxy.address;
    action.kindOfProxy = proxy.kind;
    action.successor = proxy;
    return action;
}

// The verdict of a list's row as a check's.
ProxyVerdict VerdictOf(const CheckedProxy& proxy)
{
    ProxyVerdict verdict;
    verdict.webMs = proxy.webMs;
    verdict.https = proxy.https;
    verdict.anonymity = proxy.anonymity;
    verdict.kind = proxy.kind;
    return verdict;
}

bool Holds(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace

WatchActions WatchMachine::Begin(std::uint64_t now, const Pick& pick, Candidates candidates)
{
    WatchActions out;
    End(out);
    candidates_ = std::move(candidates);
    phase_ = Phase::Watching;
    current_ = pick.proxy;
    relayed_ = pick.relayed;
    httpsKnown_ = pick.checked;
    lastPassMs_ = pick.checked ? std::optional<unsigned>(pick.proxy.webMs) : std::nullopt;
    spacing_ = 1;
    lastFailureCycle_ = 0;
    aside_.Remove(current_.address); // the user's own choice
    budget_ = SwitchBudget(3, times_.budgetWindowMs);
    usersAddresses_.clear();
    Learn(now, out);
    nextCycle_ = now + times_.periodMs;
    if (!current_.kind)
        StartCycle(now, out); // at once: the relay holds the browser until its kind is known
    return out;
}

WatchActions WatchMachine::Stop()
{
    WatchActions out;
    End(out);
    return out;
}

void WatchMachine::End(WatchActions& out)
{
    phase_ = Phase::Ended;
    cycle_ = Cycle{};
    doubtAt_.reset();
    failureCycleAt_.reset();
    relearnAt_.reset();
    learning_ = Learning{};
    search_.clear();
    leakCut_ = false;
    off_ = Off::None;
    notice_.clear();
    blind_ = false;
    out.push_back(Act(Kind::Notice));
}

std::optional<std::uint64_t> WatchMachine::NextTick() const
{
    if (phase_ == Phase::Ended)
        return std::nullopt;
    std::uint64_t next = nextCycle_;
    for (const auto& moment : {doubtAt_, failureCycleAt_, learning_.running ? std::nullopt : relearnAt_})
        if (moment)
            next = std::min(next, *moment);
    return next;
}

WatchActions WatchMachine::Tick(std::uint64_t now)
{
    WatchActions out;
    if (phase_ == Phase::Ended)
        return out;
    if (relearnAt_ && now >= *relearnAt_ && !learning_.running)
        Learn(now, out);
    if (doubtAt_ && now >= *doubtAt_) {
        doubtAt_.reset();
        if (cycle_.running && !cycle_.joined && !cycle_.deciding)
            JoinChecks(now, 2, out);
    }
    if (failureCycleAt_ && now >= *failureCycleAt_) {
        failureCycleAt_.reset();
        lastFailureCycle_ = now;
        StartCycle(now, out);
    }
    if (now >= nextCycle_) {
        nextCycle_ = now + times_.periodMs;
        StartCycle(now, out);
    }
    return out;
}

void WatchMachine::StartCycle(std::uint64_t now, WatchActions& out)
{
    if ((phase_ != Phase::Watching && phase_ != Phase::Stranded) || cycle_.running)
        return;
    if (usersAddresses_.empty() && !learning_.running)
        Learn(now, out); // the last learning failed
    cycle_ = Cycle{};
    cycle_.running = true;
    cycle_.start = now;
    cycle_.times = TimesFor(lastPassMs_);
    cycle_.tunnel = !(httpsKnown_ && !current_.https);
    nextCycle_ = now + std::uint64_t{times_.periodMs} * spacing_;
    doubtAt_ = now + cycle_.times.doubtMs;
    Check(current_, current_.kind, cycle_.times.limitMs, cycle_.tunnel, out);
    cycle_.ids.push_back(out.back().id);
}

void WatchMachine::JoinChecks(std::uint64_t now, int more, WatchActions& out)
{
    cycle_.joined = true;
    if (!learning_.running)
        Learn(now, out); // whether the service can be reached, should all fail
    const std::uint64_t elapsed = now - cycle_.start;
    if (elapsed >= cycle_.times.limitMs)
        return;
    for (int check = 0; check < more; ++check) {
        Check(current_, current_.kind, static_cast<unsigned>(cycle_.times.limitMs - elapsed), cycle_.tunnel, out);
        cycle_.ids.push_back(out.back().id);
    }
}

WatchActions WatchMachine::CheckCame(std::uint64_t now, std::uint64_t id, const ProxyVerdict& verdict)
{
    WatchActions out;
    if (cycle_.running && std::find(cycle_.ids.begin(), cycle_.ids.end(), id) != cycle_.ids.end()) {
        CycleCheckCame(now, verdict, out);
        return out;
    }
    if (phase_ != Phase::Searching)
        return out;
    const auto candidate = std::find_if(search_.begin(), search_.end(), [id](const Candidate& c) { return c.check == id; });
    if (candidate != search_.end() && candidate->state == Candidate::Waiting)
        CandidateCame(now, *candidate, verdict, out);
    return out;
}

void WatchMachine::CycleCheckCame(std::uint64_t now, const ProxyVerdict& verdict, WatchActions& out)
{
    if (cycle_.deciding)
        return;
    const bool wantsHttps = cycle_.tunnel && httpsKnown_ && current_.https;
    if (verdict.webMs && (verdict.https || !wantsHttps)) {
        const bool tunnel = cycle_.tunnel;
        EndCycle();
        Passed(now, verdict, tunnel, out);
        return;
    }
    if (verdict.webMs)
        cycle_.page = verdict;
    else
        cycle_.lastFailure = verdict;
    if (!cycle_.joined)
        JoinChecks(now, verdict.webMs || !verdict.refused ? 2 : 1, out);
    if (++cycle_.results == static_cast<int>(cycle_.ids.size()))
        CycleDone(now, out);
}

// Every check of the cycle has failed, or brought the page without the tunnel the proxy had.
void WatchMachine::CycleDone(std::uint64_t now, WatchActions& out)
{
    doubtAt_.reset();
    if (cycle_.page) {
        const ProxyVerdict page = *cycle_.page;
        EndCycle();
        if (Judged(now, page, out) && phase_ == Phase::Watching)
            Leave(now, Leaving::LostHttps, kLostHttpsReason, page, out);
        return;
    }
    if (phase_ == Phase::Stranded) {
        EndCycle(); // told already; the watch goes on
        return;
    }
    cycle_.deciding = true;
    Decide(now, out);
}

// Dead, or the user offline: the learning that the cycle started tells whether the service can
// be reached, by the first answer that came.
void WatchMachine::Decide(std::uint64_t now, WatchActions& out)
{
    if (!learning_.reached && learning_.running)
        return;
    const std::string reason = FailedChecksReason(static_cast<int>(cycle_.ids.size()), now - cycle_.start);
    const ProxyVerdict failed = cycle_.lastFailure;
    EndCycle();
    if (learning_.reached)
        Leave(now, Leaving::Died, reason, failed, out);
    else
        out.push_back(Act(Kind::Tell, OfflineText(current_.address)));
}

void WatchMachine::EndCycle()
{
    cycle_.running = cycle_.deciding = false;
    doubtAt_.reset();
}

void WatchMachine::Passed(std::uint64_t now, const ProxyVerdict& verdict, bool tunnel, WatchActions& out)
{
    if (tunnel) {
        current_.https = verdict.https;
        httpsKnown_ = true;
    }
    if (!Judged(now, verdict, out) || phase_ != Phase::Stranded)
        return;
    phase_ = Phase::Watching;
    notice_.clear();
    ShowNotice(out);
    out.push_back(Act(Kind::Tell, AnswersAgainText(current_.address)));
}

bool WatchMachine::Judged(std::uint64_t now, const ProxyVerdict& verdict, WatchActions& out)
{
    current_.webMs = *verdict.webMs;
    lastPassMs_ = current_.webMs;
    if (verdict.limited) {
        spacing_ = std::min(spacing_ * 2, kMostSpacing);
    } else {
        spacing_ = 1;
        nextCycle_ = std::min(nextCycle_, now + times_.periodMs);
    }
    if (verdict.kind && verdict.kind != current_.kind) {
        current_.kind = verdict.kind;
        out.push_back(ProxyAct(Kind::SetKind, current_));
    }
    if (verdict.anonymity == Anonymity::Transparent) {
        Leak(now, verdict, out); // judged against what it was before: its successor must be no worse than that
        return false;
    }
    if (verdict.anonymity && verdict.anonymity != Anonymity::Unknown)
        current_.anonymity = verdict.anonymity;
    if (!verdict.exitCountry.empty())
        current_.country = CountryName(verdict.exitCountry);
    return true;
}

void WatchMachine::Leave(std::uint64_t now, Leaving why, const std::string& reason, const ProxyVerdict& seen,
                         WatchActions& out)
{
    if (phase_ != Phase::Watching)
        return;
    leaving_ = why;
    leavingReason_ = reason;
    left_ = current_;
    aside_.Add(current_.address, kForever); // never taken again by the watch itself
    WatchAction mark = ProxyAct(Kind::Mark, current_);
    mark.verdict = seen;
    out.push_back(mark);
    std::string whyNot;
    if (!SwitchingAllowed(now, whyNot)) {
        Strand(NotSwitchedText(current_.address, reason, whyNot), out);
        return;
    }
    out.push_back(Act(Kind::Tell, SearchText(current_.address, reason)));
    Search(now, out);
}

void WatchMachine::Leak(std::uint64_t now, const ProxyVerdict& seen, WatchActions& out)
{
    EndCycle();
    leaving_ = Leaving::Leaked;
    leavingReason_ = kPassesAddressReason;
    left_ = current_;
    aside_.Add(current_.address, kForever);
    if (seen.webMs) {
        WatchAction mark = ProxyAct(Kind::Mark, current_);
        mark.verdict = seen;
        out.push_back(mark);
    }
    std::string whyNot;
    const bool allowed = SwitchingAllowed(now, whyNot);
    if (!relayed_ || !allowed) {
        SwitchOffLeak(allowed ? Off::ThenSearch : Off::Final, whyNot, out);
        return;
    }
    out.push_back(Act(Kind::Cut));
    leakCut_ = true;
    notice_ = LeakCutText(current_.address, true);
    ShowNotice(out);
    Search(now, out);
}

void WatchMachine::Search(std::uint64_t now, WatchActions& out)
{
    phase_ = Phase::Searching;
    search_.clear();
    AddCandidates(now, out);
    if (search_.empty())
        NoSuccessor(kNoSuccessorWhy, out);
}

// The best of the list's proxies that may take over, and are not checked already, are checked
// at once, as many as make up the most tried.
void WatchMachine::AddCandidates(std::uint64_t now, WatchActions& out)
{
    std::vector<CheckedProxy> fresh;
    for (const CheckedProxy& proxy : candidates_ ? candidates_() : std::vector<CheckedProxy>())
        if (!aside_.Holds(proxy.address, now) &&
            std::none_of(search_.begin(), search_.end(), [&](const Candidate& c) { return c.proxy.address == proxy.address; }))
            fresh.push_back(proxy);
    for (const CheckedProxy& proxy : Successors(left_, fresh)) {
        if (std::count_if(search_.begin(), search_.end(), [](const Candidate& c) { return c.state == Candidate::Waiting; }) >=
            static_cast<std::ptrdiff_t>(kMostTried))
            break;
        Check(proxy, proxy.kind, TimesFor(proxy.webMs).limitMs, left_.https, out);
        search_.push_back(Candidate{proxy, out.back().id});
    }
}

void WatchMachine::CandidateCame(std::uint64_t now, Candidate& candidate, const ProxyVerdict& verdict, WatchActions& out)
{
    CheckedProxy& proxy = candidate.proxy;
    proxy.webMs = verdict.webMs.value_or(0);
    if (!verdict.limited) // a limited answer tells nothing of how it hides: the list's verdict stands
        proxy.anonymity = verdict.anonymity;
    if (left_.https)
        proxy.https = verdict.https;
    if (verdict.kind)
        proxy.kind = verdict.kind;
    if (!verdict.exitCountry.empty())
        proxy.country = CountryName(verdict.exitCountry);
    const bool passes = verdict.webMs && !Successors(left_, {proxy}).empty();
    candidate.state = passes ? Candidate::Passed : Candidate::Failed;
    if (!passes)
        aside_.Add(proxy.address, now + times_.asideMs);
    PickSuccessor(out);
}

// The first of the candidates, in their order, that passed takes over, once every one before it
// has failed.
void WatchMachine::PickSuccessor(WatchActions& out)
{
    for (const Candidate& candidate : search_) {
        if (candidate.state == Candidate::Waiting)
            return;
        if (candidate.state == Candidate::Passed) {
            switchingTo_ = candidate.proxy;
            search_.clear();
            phase_ = Phase::Switching;
            off_ = Off::None;
            out.push_back(ProxyAct(Kind::SwitchTo, switchingTo_));
            return;
        }
    }
    NoSuccessor(kNoSuccessorWhy, out);
}

// No proxy takes over, for `why`: a leaking one is switched off, a dead one stays in place.
void WatchMachine::NoSuccessor(const std::string& why, WatchActions& out)
{
    search_.clear();
    if (leaving_ != Leaving::Leaked)
        Strand(why == kNoSuccessorWhy ? StrandedText(left_.address, leavingReason_)
                                      : NotSwitchedText(left_.address, leavingReason_, why),
               out);
    else if (relayed_ || !leakCut_)
        SwitchOffLeak(Off::Final, why, out);
    else
        LeakOff(why, out); // switched off already
}

void WatchMachine::Strand(const std::string& line, WatchActions& out)
{
    phase_ = Phase::Stranded;
    notice_ = line;
    ShowNotice(out);
}

void WatchMachine::SwitchOffLeak(Off off, const std::string& why, WatchActions& out)
{
    phase_ = Phase::Switching;
    off_ = off;
    offWhy_ = why;
    out.push_back(Act(Kind::SwitchOff));
}

void WatchMachine::LeakOff(const std::string& why, WatchActions& out)
{
    const std::string proxy = left_.address;
    End(out);
    out.push_back(Act(Kind::ShowOff));
    out.push_back(Act(Kind::Notice, LeakSwitchedOffText(proxy, why)));
}

WatchActions WatchMachine::Switched(std::uint64_t now, bool relayed)
{
    WatchActions out;
    if (phase_ != Phase::Switching || off_ != Off::None)
        return out;
    budget_.Spend(now);
    current_ = switchingTo_;
    relayed_ = relayed;
    httpsKnown_ = true;
    lastPassMs_ = current_.webMs;
    leakCut_ = false;
    spacing_ = 1;
    phase_ = Phase::Watching;
    nextCycle_ = now + times_.periodMs;
    notice_.clear();
    ShowNotice(out);
    out.push_back(ProxyAct(Kind::ShowInUse, current_));
    out.push_back(Act(Kind::Tell, SwitchedText(left_.address, leavingReason_, current_)));
    return out;
}

WatchActions WatchMachine::SwitchFailed(std::uint64_t, const std::string& error)
{
    WatchActions out;
    if (phase_ != Phase::Switching || off_ != Off::None)
        return out;
    if (leaving_ == Leaving::Leaked)
        NoSuccessor(kNoSuccessorWhy, out);
    else
        Strand(SwitchFailedText(left_.address, switchingTo_.address, error), out);
    return out;
}

WatchActions WatchMachine::SwitchedOff(std::uint64_t now)
{
    WatchActions out;
    if (phase_ != Phase::Switching || off_ == Off::None)
        return out;
    if (off_ == Off::Final) {
        LeakOff(offWhy_, out);
        return out;
    }
    leakCut_ = true;
    relayed_ = false;
    notice_ = LeakCutText(left_.address, false);
    ShowNotice(out);
    Search(now, out);
    return out;
}

WatchActions WatchMachine::SwitchOffFailed(std::uint64_t now, const std::string& error)
{
    WatchActions out;
    if (phase_ != Phase::Switching || off_ == Off::None)
        return out;
    notice_ = LeakNotSwitchedOffText(left_.address, error);
    if (off_ == Off::ThenSearch) {
        ShowNotice(out);
        Search(now, out); // a successor ends the leak too
        return out;
    }
    Strand(notice_, out); // still watched: the next leak seen tries again
    return out;
}

WatchActions WatchMachine::Learned(std::uint64_t now, std::uint64_t id, const std::vector<std::string>& addresses,
                                   bool last)
{
    WatchActions out;
    if (phase_ == Phase::Ended || id != learning_.id || !learning_.running)
        return out;
    for (const std::string& address : addresses) {
        if (!Holds(learning_.found, address))
            learning_.found.push_back(address);
        if (!Holds(usersAddresses_, address))
            usersAddresses_.push_back(address); // the checks started from now on know it
    }
    learning_.reached = learning_.reached || !addresses.empty();
    if (last)
        LearningDone(now, out);
    if (cycle_.deciding)
        Decide(now, out);
    return out;
}

void WatchMachine::Learn(std::uint64_t, WatchActions& out)
{
    learning_ = Learning{nextId_++, true};
    relearnAt_.reset();
    WatchAction learn = Act(Kind::Learn);
    learn.id = learning_.id;
    out.push_back(learn);
}

// The addresses that the learning found are the user's from now on (an address the user had
// before a reconnect is no longer theirs); where it found none, those known before stay.
void WatchMachine::LearningDone(std::uint64_t now, WatchActions& out)
{
    learning_.running = false;
    if (!learning_.found.empty())
        usersAddresses_ = learning_.found;
    relearnAt_ = now + times_.relearnMs;
    const bool blind = usersAddresses_.empty();
    if (blind != blind_) {
        blind_ = blind;
        ShowNotice(out);
    }
}

WatchActions WatchMachine::NetworkChanged(std::uint64_t now)
{
    WatchActions out;
    if (phase_ != Phase::Ended)
        Learn(now, out);
    return out;
}

WatchActions WatchMachine::RelayFailed(std::uint64_t now, const std::string& proxy, PathFailure failure)
{
    WatchActions out;
    if (IsRelaysOwn(failure) && phase_ != Phase::Ended) {
        out.push_back(Act(Kind::Tell, PathFailureText(failure)));
        return out;
    }
    if ((phase_ != Phase::Watching && phase_ != Phase::Stranded) || proxy != current_.address || !IsProxysOwn(failure))
        return out;
    if (failure == PathFailure::TunnelRefused && httpsKnown_ && !current_.https)
        return out; // it never carried a tunnel
    if (cycle_.running || failureCycleAt_)
        return out;
    if (lastFailureCycle_ != 0 && now < lastFailureCycle_ + kFailureSpacingMs) {
        failureCycleAt_ = lastFailureCycle_ + kFailureSpacingMs;
        return out;
    }
    lastFailureCycle_ = now;
    StartCycle(now, out);
    return out;
}

WatchActions WatchMachine::ListEnded(std::uint64_t now)
{
    WatchActions out;
    std::string whyNot;
    if (phase_ == Phase::Searching) {
        AddCandidates(now, out); // beside those under way
    } else if (phase_ == Phase::Stranded) {
        if (SwitchingAllowed(now, whyNot))
            Search(now, out); // from the list as it is now
    } else if (phase_ == Phase::Watching && !cycle_.running && candidates_) {
        for (const CheckedProxy& proxy : candidates_())
            if (proxy.address == current_.address) {
                current_.country = proxy.country;
                const bool lostHttps = httpsKnown_ && current_.https && !proxy.https;
                Passed(now, VerdictOf(proxy), !lostHttps, out);
                if (lostHttps && phase_ == Phase::Watching)
                    Leave(now, Leaving::LostHttps, kLostHttpsReason, VerdictOf(proxy), out);
                break;
            }
    }
    return out;
}

WatchActions WatchMachine::SwitchAutomatically(std::uint64_t, bool on)
{
    WatchActions out;
    switching_ = on;
    if (!on && phase_ == Phase::Searching)
        NoSuccessor(kSwitchingOffWhy, out);
    return out;
}

WatchActions WatchMachine::SettingsChanged(std::uint64_t)
{
    WatchActions out;
    if (phase_ == Phase::Ended)
        return out;
    const std::string proxy = current_.address;
    End(out);
    out.push_back(Act(Kind::ShowOff));
    out.push_back(Act(Kind::Tell, WatchEndedText(proxy)));
    return out;
}

void WatchMachine::ShowNotice(WatchActions& out)
{
    std::string text = notice_;
    if (blind_)
        text += (text.empty() ? "" : "; ") + BlindText(current_.address);
    out.push_back(Act(Kind::Notice, text));
}

void WatchMachine::Check(const CheckedProxy& proxy, std::optional<ProxyKind> kind, unsigned limitMs, bool tunnel,
                         WatchActions& out)
{
    WatchAction check{Kind::Check, nextId_++, proxy.address, kind, limitMs, tunnel, usersAddresses_};
    out.push_back(std::move(check));
}

bool WatchMachine::SwitchingAllowed(std::uint64_t now, std::string& why)
{
    if (!switching_)
        why = kSwitchingOffWhy;
    else if (!budget_.Allows(now))
        why = kBudgetSpentWhy;
    else
        return true;
    return false;
}

WatchTimes WatchMachine::TimesFor(std::optional<unsigned> lastPassMs) const
{
    return WatchTimesFor(lastPassMs, {times_.limitMs, times_.doubtMs}, times_.listLimitMs);
}
