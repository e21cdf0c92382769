#include "lists/ProxyWatch.h"

#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "settings/SystemProxy.h"
#include "verify/UsersAddresses.h"

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

// The row of `list` whose proxy is `address`, as its verdict shows it; without one that passed,
// the address alone (with the country where the row has one).
CheckedProxy Checked(const ProxyListView& list, int countryItem, const std::string& address)
{
    for (std::size_t position = 0; position < list.Count(); ++position) {
        const ListRow& row = list.Row(position);
        if (ProxyLineAddress(row.Caption) != address)
            continue;
        if (const auto checked = CheckedProxyOf(row, countryItem))
            return *checked;
        CheckedProxy proxy{address};
        if (countryItem >= 0 && static_cast<std::size_t>(countryItem) < row.SubItems.size())
            proxy.country = row.SubItems[static_cast<std::size_t>(countryItem)];
        return proxy;
    }
    return CheckedProxy{address};
}

} // namespace

ProxyWatch::Times ProxyWatch::UseTimes(const Times& use)
{
    return std::exchange(times, use);
}

ProxyWatch::~ProxyWatch()
{
    Stop();
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
    current_ = Checked(*picker_.list, picker_.countryItem, address);
    aside_.Remove(address); // the user's own choice
    budget_ = SwitchBudget(3, times.budgetWindowMs);
    usersAddresses_.clear();
    Machinery& machinery = *machinery_;
    LearnUsersAddresses(machinery.engine, service_, way_, userAgent_, times.limitMs, cancelled_,
                        [&machinery, this, cancelled = cancelled_](std::vector<std::string> addresses) {
                            machinery.mailbox.Post([this, cancelled, addresses] {
                                if (!cancelled->load())
                                    usersAddresses_.insert(usersAddresses_.end(), addresses.begin(), addresses.end());
                            });
                        });
    cycleTimer_.Start(times.periodMs, [this] { StartCycle(); });
}

void ProxyWatch::Stop()
{
    if (cancelled_)
        *cancelled_ = true;
    watching_ = inCycle_ = stranded_ = switchingNow_ = false;
    cycleTimer_.Stop();
    doubtTimer_.Stop();
}

void ProxyWatch::Check(const std::string& proxy, unsigned limitMs, bool tunnel,
                       std::function<void(const ProxyVerdict&)> came)
{
    Machinery& machinery = *machinery_;
    CheckJob job = ProxyCheckJob(CheckOrder{proxy, service_, userAgent_, usersAddresses_, limitMs, tunnel},
                                 [&machinery, cancelled = cancelled_, came](const ProxyVerdict& verdict) {
                                     machinery.mailbox.Post([cancelled, came, verdict] {
                                         if (!cancelled->load())
                                             came(verdict);
                                     });
                                 });
    job.cancelled = cancelled_;
    machinery.engine.Submit(std::move(job));
}

void ProxyWatch::StartCycle()
{
    if (!watching_ || inCycle_ || switchingNow_)
        return;
    inCycle_ = true;
    joined_ = false;
    cycleChecks_ = 1;
    cycleFailures_ = 0;
    cycleStart_ = Now();
    const auto came = [this, start = cycleStart_](const ProxyVerdict& verdict) {
        if (inCycle_ && cycleStart_ == start)
            CycleCheckCame(verdict);
    };
    Check(current_.address, times.limitMs, false, came);
    doubtTimer_.Start(times.doubtMs, [this] {
        doubtTimer_.Stop();
        if (inCycle_ && !joined_)
            JoinChecks(2, times.limitMs > times.doubtMs ? times.limitMs - times.doubtMs : times.limitMs);
    });
}

void ProxyWatch::JoinChecks(int more, unsigned limitMs)
{
    joined_ = true;
    cycleChecks_ += more;
    for (int check = 0; check < more; ++check)
        Check(current_.address, limitMs, false, [this, start = cycleStart_](const ProxyVerdict& verdict) {
            if (inCycle_ && cycleStart_ == start)
                CycleCheckCame(verdict);
        });
}

void ProxyWatch::CycleCheckCame(const ProxyVerdict& verdict)
{
    if (verdict.webMs) {
        inCycle_ = false;
        doubtTimer_.Stop();
        if (verdict.anonymity == Anonymity::Transparent) {
            if (!stranded_)
                Died(kPassesAddressReason);
            return;
        }
        if (stranded_) {
            stranded_ = false;
            Tell(AnswersAgainText(LocalTime(), current_.address));
        }
        return;
    }
    ++cycleFailures_;
    if (!joined_)
        JoinChecks(verdict.refused ? 1 : 2, times.limitMs);
    if (cycleFailures_ == cycleChecks_)
        CycleFailed();
}

void ProxyWatch::CycleFailed()
{
    inCycle_ = false;
    doubtTimer_.Stop();
    if (stranded_)
        return; // told already; the watch goes on
    const std::string reason = FailedChecksReason(cycleChecks_, Now() - cycleStart_);
    // Dead, or the user offline: the service is asked the program's own way.
    switchingNow_ = true;
    struct Answers {
        int awaited = 0;
        bool reachable = false;
    };
    auto answers = std::make_shared<Answers>();
    Machinery& machinery = *machinery_;
    answers->awaited = LearnUsersAddresses(
        machinery.engine, service_, way_, userAgent_, times.limitMs, cancelled_,
        [&machinery, this, answers, reason, cancelled = cancelled_](std::vector<std::string> addresses) {
            machinery.mailbox.Post([this, answers, reason, cancelled, reached = !addresses.empty()] {
                answers->reachable = answers->reachable || reached;
                if (cancelled->load() || --answers->awaited > 0)
                    return;
                switchingNow_ = false;
                if (answers->reachable)
                    Died(reason);
                else
                    Tell(OfflineText(LocalTime(), current_.address));
            });
        });
}

void ProxyWatch::Died(const std::string& reason)
{
    dead_ = current_.address;
    deathReason_ = reason;
    aside_.Add(dead_, kForever); // never taken again by the watch itself
    ProxyListView& list = *picker_.list;
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (ProxyLineAddress(list.Row(position).Caption) == dead_)
            list.SetChecks(list.IdAt(position), {"fails", "no", ""});
    stranded_ = true;
    if (!switching_)
        Tell(NotSwitchedText(LocalTime(), dead_, reason, "switching automatically is off"));
    else if (!budget_.Allows(Now()))
        Tell(NotSwitchedText(LocalTime(), dead_, reason, "three automatic switches in ten minutes, no more"));
    else
        TakeOver();
}

void ProxyWatch::TakeOver()
{
    std::vector<CheckedProxy> candidates;
    const ProxyListView& list = *picker_.list;
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (const auto proxy = CheckedProxyOf(list.Row(position), picker_.countryItem))
            if (!aside_.Holds(proxy->address, Now()))
                candidates.push_back(*proxy);
    successors_ = Successors(current_, candidates);
    tried_ = 0;
    switchingNow_ = true;
    TryNext();
}

void ProxyWatch::TryNext()
{
    if (tried_ == kMostTried || successors_.empty()) {
        switchingNow_ = false;
        Tell(StrandedText(LocalTime(), dead_, deathReason_));
        return;
    }
    const CheckedProxy candidate = successors_.front();
    successors_.erase(successors_.begin());
    ++tried_;
    Check(candidate.address, times.limitMs, current_.https, [this, candidate](const ProxyVerdict& verdict) {
        CheckedProxy fresh = candidate;
        fresh.webMs = verdict.webMs.value_or(0);
        fresh.anonymity = verdict.anonymity;
        fresh.https = current_.https ? verdict.https : candidate.https;
        if (verdict.webMs && !Successors(current_, {fresh}).empty()) {
            SwitchTo(fresh);
            return;
        }
        aside_.Add(candidate.address, Now() + times.asideMs);
        TryNext();
    });
}

void ProxyWatch::SwitchTo(const CheckedProxy& successor)
{
    switchingNow_ = false;
    ApplySystemProxy(successor.address); // the switch from proxy to proxy that keeps the user's settings safe
    budget_.Spend(Now());
    current_ = successor;
    stranded_ = false;
    if (picker_.showInUse)
        picker_.showInUse(successor);
    Tell(SwitchedText(LocalTime(), dead_, deathReason_, successor));
    cycleTimer_.Start(times.periodMs, [this] { StartCycle(); });
}

void ProxyWatch::ListChecked(const ProxyListView& list)
{
    if (watching_ && stranded_ && !switchingNow_ && !inCycle_ && &list == picker_.list && switching_ &&
        budget_.Allows(Now()))
        TakeOver();
}

void ProxyWatch::Tell(const std::string& line) const
{
    if (picker_.bar)
        picker_.bar->SetText(line);
    // The taskbar button belongs to the window that owns the picking one.
    const HWND button = GetAncestor(picker_.window, GA_ROOTOWNER);
    const HWND front = GetForegroundWindow();
    if (button && front != button && front != picker_.window) {
        FLASHWINFO flash{sizeof flash, button, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
    }
}
