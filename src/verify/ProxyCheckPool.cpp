#include "verify/ProxyCheckPool.h"

#include "core/ServiceUrl.h"
#include "verify/UsersAddresses.h"
#include "win/Application.h"

#include <algorithm>
#include <set>
#include <utility>

namespace {

// Beyond the check's limit, how long the batch waits for the user's addresses before its checks
// go on with those known (the platform's client may keep its own time).
constexpr UINT kAddressGraceMs = 1000;
unsigned checkLimitMs = kProxyCheckLimitMs;
// While the list's probes run: this many checks start every so often.
constexpr std::size_t kPacedChecks = 128;
constexpr UINT kPacedMs = 20;
std::set<const ProxyCheckPool*> pools; // UI thread only

} // namespace

ProxyCheckPool::ProxyCheckPool()
{
    pools.insert(this);
}

bool ProxyCheckPool::AnyBusy()
{
    for (const ProxyCheckPool* pool : pools)
        if (pool->Running() > 0 || pool->Waiting() > 0)
            return true;
    return false;
}

unsigned ProxyCheckPool::LimitChecksTo(unsigned milliseconds)
{
    return std::exchange(checkLimitMs, milliseconds);
}

unsigned ProxyCheckPool::CheckLimitMs()
{
    return checkLimitMs;
}

ProxyCheckPool::~ProxyCheckPool()
{
    pools.erase(this);
    if (cancelled_)
        *cancelled_ = true;
}

void ProxyCheckPool::Begin(RequestWay way, std::string userAgent, VerdictHandler onVerdict,
                           std::function<bool()> probing)
{
    if (!machinery_)
        machinery_ = std::make_unique<Machinery>();
    if (cancelled_)
        *cancelled_ = true;
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    ++batch_;
    waiting_.clear();
    early_.clear();
    earlyByKey_.clear();
    inFlight_ = earlyInFlight_ = 0;
    startTimer_.Stop();
    way_ = std::move(way);
    userAgent_ = std::move(userAgent);
    service_ = ServiceHost();
    limitMs_ = checkLimitMs;
    onVerdict_ = std::move(onVerdict);
    probing_ = std::move(probing);
    usersAddresses_.clear();
    LearnUsersAddresses();
}

void ProxyCheckPool::Add(std::uint64_t key, std::string proxy, bool early)
{
    if (batch_ == 0)
        return; // no batch has begun: there is no one to tell
    if (early) {
        early_.push_back({key, std::move(proxy)});
        earlyByKey_[key] = std::prev(early_.end());
    } else {
        waiting_.push_back({key, std::move(proxy)});
    }
    if (!startTimer_.Running() && addressesAwaited_ == 0)
        startTimer_.Start(USER_TIMER_MINIMUM, [this] { StartWaiting(); });
}

void ProxyCheckPool::Hurry(std::uint64_t key)
{
    const auto found = earlyByKey_.find(key);
    if (found == earlyByKey_.end())
        return; // started, or never early
    waiting_.push_back(std::move(*found->second));
    early_.erase(found->second);
    earlyByKey_.erase(found);
    if (!startTimer_.Running() && addressesAwaited_ == 0)
        startTimer_.Start(USER_TIMER_MINIMUM, [this] { StartWaiting(); });
}

void ProxyCheckPool::LearnUsersAddresses()
{
    Machinery& machinery = *machinery_;
    const unsigned batch = batch_;
    // Runs on the engine's thread, where the mailbox is alive.
    addressesAwaited_ = ::LearnUsersAddresses(
        machinery.engine, service_, way_, userAgent_, limitMs_, cancelled_,
        [&machinery, this, batch](std::vector<std::string> addresses) {
            machinery.mailbox.Post([this, batch, addresses] { UsersAddressesCame(batch, addresses); });
        });
    addressTimer_.Start(limitMs_ + kAddressGraceMs, [this] { AddressesKnown(); });
}

void ProxyCheckPool::UsersAddressesCame(unsigned batch, const std::vector<std::string>& addresses)
{
    if (batch != batch_ || addressesAwaited_ == 0)
        return;
    for (const std::string& address : addresses)
        if (std::find(usersAddresses_.begin(), usersAddresses_.end(), address) == usersAddresses_.end())
            usersAddresses_.push_back(address);
    if (--addressesAwaited_ == 0)
        AddressesKnown();
}

void ProxyCheckPool::AddressesKnown()
{
    addressTimer_.Stop();
    addressesAwaited_ = 0; // the checks go on with what is known: no proxy is judged on traces alone
    StartWaiting();
}

void ProxyCheckPool::StartWaiting()
{
    startTimer_.Stop();
    if (Application.Terminated()) {
        waiting_.clear();
        early_.clear();
        earlyByKey_.clear();
        return;
    }
    if (addressesAwaited_ > 0)
        return;
    // While the probes run, a few at a time, so that the rows still come as fast as without
    // checks: the checks' sockets and verdicts cost the platform what the echoes need too.
    const bool paced = probing_ && probing_();
    std::size_t room = paced ? kPacedChecks : SIZE_MAX;
    for (; room > 0 && !waiting_.empty(); --room) {
        Start(waiting_.front(), false);
        waiting_.pop_front();
    }
    for (; room > 0 && !early_.empty() && earlyInFlight_ < kMostEarlyAtOnce; --room)
        StartNextEarly();
    // More once the pace allows; early checks wait for places, which verdicts free.
    if (!waiting_.empty() || (!early_.empty() && earlyInFlight_ < kMostEarlyAtOnce))
        startTimer_.Start(kPacedMs, [this] { StartWaiting(); });
}

void ProxyCheckPool::StartNextEarly()
{
    Start(early_.front(), true);
    earlyByKey_.erase(early_.front().key);
    early_.pop_front();
}

void ProxyCheckPool::Start(const Check& check, bool early)
{
    Machinery& machinery = *machinery_;
    const unsigned batch = batch_;
    CheckJob job = ProxyCheckJob(CheckOrder{check.proxy, service_, userAgent_, usersAddresses_, limitMs_},
                                 [&machinery, this, batch, key = check.key, early](const ProxyVerdict& verdict) {
                                     machinery.mailbox.Post([this, batch, key, early, verdict] {
                                         Verdict(batch, key, early, verdict);
                                     });
                                 });
    job.cancelled = cancelled_;
    job.unconnectedGiveUpMs = early ? kKnockGiveUpMs : kUnconnectedGiveUpMs;
    job.knock = early;
    (early ? machinery.earlyEngine : machinery.engine).Submit(std::move(job));
    ++inFlight_;
    earlyInFlight_ += early;
}

void ProxyCheckPool::Verdict(unsigned batch, std::uint64_t key, bool early, const ProxyVerdict& verdict)
{
    if (batch != batch_)
        return;
    --inFlight_;
    earlyInFlight_ -= early;
    // Its place goes to the next early check at once: a timer's tick waits behind every message
    // of a busy window.
    if (early && !early_.empty() && earlyInFlight_ < kMostEarlyAtOnce && !Application.Terminated())
        StartNextEarly();
    if (onVerdict_)
        onVerdict_(key, verdict);
}
