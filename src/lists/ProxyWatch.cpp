#include "lists/ProxyWatch.h"

#include "core/ExitPlace.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "settings/SystemProxy.h"
#include "verify/ProxyCheckPool.h"
#include "verify/UsersAddresses.h"
#include "win/Registry.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

constexpr int kMostTried = 5;
constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();
ProxyWatch::Times times;

std::string LocalTime()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    return text;
}

// The position of the row of `list` whose proxy is `address`.
std::optional<std::size_t> RowOf(const ProxyListView& list, const std::string& address)
{
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (ProxyLineAddress(list.Row(position).Caption) == address)
            return position;
    return std::nullopt;
}

// The limits of a check of a proxy whose last check passed in `lastPassMs`.
WatchTimes TimesFor(std::optional<unsigned> lastPassMs)
{
    return WatchTimesFor(lastPassMs, {times.limitMs, times.doubtMs}, ProxyCheckPool::CheckLimitMs());
}

} // namespace

ProxyWatch::Times ProxyWatch::UseTimes(const Times& use)
{
    return std::exchange(times, use);
}

ProxyWatch::ProxyWatch(ProxyRoute& route) : route_(route)
{
    route_.OnOpeningFailed([this](const std::string& proxy) { OpeningFailed(proxy); });
}

ProxyWatch::~ProxyWatch()
{
    route_.OnOpeningFailed({});
    if (cancelled_)
        *cancelled_ = true;
}

std::uint64_t ProxyWatch::Now() const
{
    return GetTickCount64();
}

void ProxyWatch::Watch(const std::string& address, Picker picker, RequestWay way, std::string userAgent)
{
    if (!machinery_)
        machinery_ = std::make_unique<Machinery>();
    Stop();
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    watching_ = true;
    picker_ = std::move(picker);
    way_ = std::move(way);
    userAgent_ = std::move(userAgent);
    service_ = ServiceHost();
    current_ = CheckedProxy{ProxyLineAddress(address)};
    httpsKnown_ = false;
    lastPassMs_.reset();
    if (const auto position = RowOf(*picker_.list, current_.address)) {
        const ListRow& row = picker_.list->Row(*position);
        current_.country = AppearsIn(row, picker_.countryItem);
        current_.kind = KindOf(row);
        if (const auto checked = CheckedProxyOf(row, picker_.countryItem)) {
            current_ = *checked;
            httpsKnown_ = true;
            lastPassMs_ = checked->webMs;
        }
    }
    aside_.Remove(current_.address); // the user's own choice
    budget_ = SwitchBudget(3, times.budgetWindowMs);
    usersAddresses_.clear();
    LearnUsersAddresses();
    cycleTimer_.Start(times.periodMs, [this] { StartCycle(); });
}

void ProxyWatch::Stop()
{
    if (cancelled_)
        *cancelled_ = true;
    if (picker_.bar)
        picker_.bar->SetNotice("");
    watching_ = inCycle_ = deciding_ = stranded_ = leaking_ = takingOver_ = false;
    learningAwaited_ = 0;
    cycleTimer_.Stop();
    doubtTimer_.Stop();
}

void ProxyWatch::SwitchAutomatically(bool on)
{
    switching_ = on;
    if (!on && takingOver_)
        NotSwitched(kSwitchingOffWhy);
}

void ProxyWatch::Check(const std::string& proxy, std::optional<ProxyKind> kind, unsigned limitMs, bool tunnel,
                       std::function<void(const ProxyVerdict&)> came)
{
    Machinery& machinery = *machinery_;
    CheckJob job = ProxyCheckJob(CheckOrder{proxy, service_, userAgent_, usersAddresses_, limitMs, tunnel, kind},
                                 [&machinery, cancelled = cancelled_, came](const ProxyVerdict& verdict) {
                                     machinery.mailbox.Post([cancelled, came, verdict] {
                                         if (!cancelled->load())
                                             came(verdict);
                                     });
                                 });
    job.cancelled = cancelled_;
    machinery.engine.Submit(std::move(job));
}

void ProxyWatch::OpeningFailed(const std::string& proxy)
{
    if (watching_ && proxy == current_.address)
        StartCycle(); // unless one runs: the death is noticed now, not at the next cycle
}

void ProxyWatch::LearnUsersAddresses()
{
    const std::uint64_t learning = ++learning_;
    learningReached_ = false;
    Machinery& machinery = *machinery_;
    learningAwaited_ = ::LearnUsersAddresses(
        machinery.engine, service_, way_, userAgent_, times.limitMs, cancelled_,
        [&machinery, this, learning, cancelled = cancelled_](std::vector<std::string> addresses) {
            machinery.mailbox.Post([this, learning, cancelled, addresses] {
                if (!cancelled->load())
                    UsersAddressesCame(learning, addresses);
            });
        });
}

void ProxyWatch::UsersAddressesCame(std::uint64_t learning, const std::vector<std::string>& addresses)
{
    for (const std::string& address : addresses)
        if (std::find(usersAddresses_.begin(), usersAddresses_.end(), address) == usersAddresses_.end())
            usersAddresses_.push_back(address);
    if (learning != learning_)
        return;
    learningReached_ = learningReached_ || !addresses.empty();
    --learningAwaited_;
    if (deciding_)
        Decide();
}

void ProxyWatch::StartCycle()
{
    if (!watching_ || inCycle_ || takingOver_ || !StillInUse())
        return;
    if (usersAddresses_.empty() && learningAwaited_ == 0)
        LearnUsersAddresses(); // the last learning failed
    inCycle_ = true;
    joined_ = deciding_ = false;
    cycleChecks_ = 1;
    cycleFailures_ = 0;
    cycleStart_ = Now();
    cycleTimes_ = TimesFor(lastPassMs_);
    const std::uint64_t cycle = ++cycle_;
    const bool tunnel = !httpsKnown_;
    const auto came = [this, cycle, tunnel, proxy = current_.address](const ProxyVerdict& verdict) {
        if (inCycle_ && cycle_ == cycle) {
            CycleCheckCame(verdict, tunnel);
        } else if (tunnel && verdict.webMs && current_.address == proxy) { // a joined check passed first
            current_.https = verdict.https;
            httpsKnown_ = true;
        }
    };
    Check(current_.address, current_.kind, cycleTimes_.limitMs, tunnel, came);
    doubtTimer_.Start(cycleTimes_.doubtMs, [this] {
        doubtTimer_.Stop();
        if (inCycle_ && !joined_)
            JoinChecks(2);
    });
}

void ProxyWatch::JoinChecks(int more)
{
    joined_ = true;
    LearnUsersAddresses(); // whether the service can be reached, should all fail
    const std::uint64_t elapsed = Now() - cycleStart_;
    if (elapsed >= cycleTimes_.limitMs)
        return;
    cycleChecks_ += more;
    const std::uint64_t cycle = cycle_;
    for (int check = 0; check < more; ++check)
        Check(current_.address, current_.kind, static_cast<unsigned>(cycleTimes_.limitMs - elapsed), false,
              [this, cycle](const ProxyVerdict& verdict) {
                  if (inCycle_ && cycle_ == cycle)
                      CycleCheckCame(verdict, false);
              });
}

void ProxyWatch::CycleCheckCame(const ProxyVerdict& verdict, bool tunnel)
{
    if (deciding_)
        return;
    if (verdict.webMs) {
        EndCycle();
        Passed(verdict, tunnel);
        return;
    }
    ++cycleFailures_;
    if (!joined_)
        JoinChecks(verdict.refused ? 1 : 2);
    if (cycleFailures_ == cycleChecks_)
        CycleFailed();
}

void ProxyWatch::Passed(const ProxyVerdict& verdict, bool tunnel)
{
    current_.webMs = *verdict.webMs;
    lastPassMs_ = current_.webMs;
    if (tunnel) {
        current_.https = verdict.https;
        httpsKnown_ = true;
    }
    if (verdict.anonymity == Anonymity::Transparent) {
        Leaked(); // judged against what it was before: its successor must be no worse than that
        return;
    }
    if (verdict.anonymity && verdict.anonymity != Anonymity::Unknown)
        current_.anonymity = verdict.anonymity;
    if (stranded_) {
        stranded_ = false;
        Notice("");
        Tell(AnswersAgainText(LocalTime(), current_.address));
    }
}

void ProxyWatch::CycleFailed()
{
    doubtTimer_.Stop();
    if (stranded_) {
        EndCycle(); // told already; the watch goes on
        return;
    }
    failedReason_ = FailedChecksReason(cycleChecks_, Now() - cycleStart_);
    deciding_ = true;
    Decide();
}

// Dead, or the user offline: the learning that the cycle started tells whether the service can
// be reached, by the first answer that came.
void ProxyWatch::Decide()
{
    if (!learningReached_ && learningAwaited_ > 0)
        return;
    EndCycle();
    if (learningReached_)
        Died(failedReason_);
    else
        Tell(OfflineText(LocalTime(), current_.address));
}

void ProxyWatch::EndCycle()
{
    inCycle_ = deciding_ = false;
    doubtTimer_.Stop();
}

void ProxyWatch::Died(const std::string& reason)
{
    if (!StillInUse())
        return;
    dead_ = current_.address;
    deathReason_ = reason;
    aside_.Add(dead_, kForever); // never taken again by the watch itself
    MarkRow(dead_, {"fails", "no", ""});
    stranded_ = true;
    if (!switching_)
        Stranded(NotSwitchedText(LocalTime(), dead_, reason, kSwitchingOffWhy));
    else if (!budget_.Allows(Now()))
        Stranded(NotSwitchedText(LocalTime(), dead_, reason, kBudgetSpentWhy));
    else
        TakeOver();
}

void ProxyWatch::Leaked()
{
    if (!StillInUse())
        return;
    dead_ = current_.address;
    deathReason_ = kPassesAddressReason;
    aside_.Add(dead_, kForever);
    MarkRow(dead_,
            {std::to_string(current_.webMs), current_.https ? "yes" : "no", AnonymityText(Anonymity::Transparent)});
    leaking_ = true;
    stranded_ = false;
    if (!switching_)
        SwitchOff(kSwitchingOffWhy);
    else if (!budget_.Allows(Now()))
        SwitchOff(kBudgetSpentWhy);
    else
        TakeOver();
}

void ProxyWatch::MarkRow(const std::string& address, std::vector<std::string> cells)
{
    ProxyListView& list = *picker_.list;
    if (const auto position = RowOf(list, address))
        list.SetChecks(list.IdAt(*position), std::move(cells));
}

void ProxyWatch::TakeOver()
{
    EndCycle();
    std::vector<CheckedProxy> candidates;
    const ProxyListView& list = *picker_.list;
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (const auto proxy = CheckedProxyOf(list.Row(position), picker_.countryItem))
            if (!aside_.Holds(proxy->address, Now()))
                candidates.push_back(*proxy);
    successors_ = Successors(current_, candidates);
    tried_ = 0;
    ++takeover_;
    takingOver_ = true;
    TryNext();
}

void ProxyWatch::TryNext()
{
    if (tried_ == kMostTried || successors_.empty()) {
        NotSwitched(kNoSuccessorWhy);
        return;
    }
    const CheckedProxy candidate = successors_.front();
    successors_.erase(successors_.begin());
    ++tried_;
    const std::uint64_t takeover = takeover_;
    Check(candidate.address, candidate.kind, TimesFor(candidate.webMs).limitMs, current_.https,
          [this, candidate, takeover](const ProxyVerdict& verdict) {
              if (takingOver_ && takeover_ == takeover)
                  Tried(candidate, verdict);
          });
}

void ProxyWatch::Tried(CheckedProxy candidate, const ProxyVerdict& verdict)
{
    candidate.webMs = verdict.webMs.value_or(0);
    candidate.anonymity = verdict.anonymity;
    if (current_.https)
        candidate.https = verdict.https;
    if (verdict.webMs && !Successors(current_, {candidate}).empty()) {
        SwitchTo(candidate);
        return;
    }
    aside_.Add(candidate.address, Now() + times.asideMs);
    TryNext();
}

void ProxyWatch::SwitchTo(const CheckedProxy& successor)
{
    takingOver_ = false;
    if (!StillInUse())
        return;
    try {
        route_.SwitchTo(successor.address, successor.kind); // keeps the user's settings safe
    } catch (const std::runtime_error& error) {
        if (leaking_)
            SwitchOff(kNoSuccessorWhy);
        else
            Stranded(SwitchFailedText(LocalTime(), dead_, successor.address, error.what()));
        return;
    }
    budget_.Spend(Now());
    current_ = successor;
    httpsKnown_ = true;
    lastPassMs_ = successor.webMs;
    stranded_ = leaking_ = false;
    Notice("");
    if (picker_.showInUse)
        picker_.showInUse(successor);
    Tell(SwitchedText(LocalTime(), dead_, deathReason_, successor));
    cycleTimer_.Start(times.periodMs, [this] { StartCycle(); });
}

// No proxy takes over, for `why`: a leaking one is switched off, a dead one stays in place.
void ProxyWatch::NotSwitched(const std::string& why)
{
    ++takeover_;
    takingOver_ = false;
    if (leaking_)
        SwitchOff(why);
    else if (why == kNoSuccessorWhy)
        Stranded(StrandedText(LocalTime(), dead_, deathReason_));
    else
        Stranded(NotSwitchedText(LocalTime(), dead_, deathReason_, why));
}

void ProxyWatch::Stranded(const std::string& line)
{
    stranded_ = true;
    Notice(line);
}

void ProxyWatch::SwitchOff(const std::string& why)
{
    takingOver_ = false;
    if (!StillInUse())
        return;
    const std::string proxy = current_.address;
    try {
        route_.Off();
    } catch (const ERegistryException& error) {
        Notice(LeakNotSwitchedOffText(LocalTime(), proxy, error.what()));
        return;
    }
    Stop();
    if (picker_.showOff)
        picker_.showOff();
    Notice(LeakSwitchedOffText(LocalTime(), proxy, why));
}

void ProxyWatch::ListChecked(const ProxyListView& list)
{
    if (!watching_ || &list != picker_.list)
        return;
    if (stranded_ || takingOver_) {
        if (switching_ && budget_.Allows(Now()))
            TakeOver(); // from the list as it is now, whatever the watch was doing
        return;
    }
    if (inCycle_)
        return; // the watch's own check comes after the list's
    const auto position = RowOf(list, current_.address);
    if (const auto checked = position ? CheckedProxyOf(list.Row(*position), picker_.countryItem) : std::nullopt)
        Passed(ProxyVerdict{checked->webMs, checked->https, checked->anonymity, false}, true);
}

bool ProxyWatch::StillInUse()
{
    bool inUse = false;
    try {
        inUse = route_.InUse(current_.address);
    } catch (const ERegistryException&) {
        // unreadable: nothing is written
    }
    if (inUse)
        return true;
    const std::string proxy = current_.address;
    Stop();
    Tell(WatchEndedText(LocalTime(), proxy));
    return false;
}

void ProxyWatch::Tell(const std::string& line) const
{
    if (picker_.bar)
        picker_.bar->SetText(line);
    Flash();
}

void ProxyWatch::Notice(const std::string& line) const
{
    if (picker_.bar)
        picker_.bar->SetNotice(line);
    if (!line.empty())
        Flash();
}

void ProxyWatch::Flash() const
{
    // The taskbar button belongs to the window that owns the picking one.
    const HWND button = GetAncestor(picker_.window, GA_ROOTOWNER);
    const HWND front = GetForegroundWindow();
    if (button && front != button && front != picker_.window) {
        FLASHWINFO flash{sizeof flash, button, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
    }
}
