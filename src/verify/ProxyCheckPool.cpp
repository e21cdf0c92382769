#include "verify/ProxyCheckPool.h"

#include "core/ServiceUrl.h"
#include "verify/UsersAddresses.h"
#include "win/Application.h"

#include <algorithm>
#include <utility>

namespace {

// Beyond the check's limit, how long the batch waits for the user's addresses before its checks
// go on with those known (the platform's client may keep its own time).
constexpr UINT kAddressGraceMs = 1000;
unsigned checkLimitMs = kProxyCheckLimitMs;
// While the list's probes run: this many checks start every so often.
constexpr std::size_t kPacedChecks = 16;
constexpr UINT kPacedMs = 50;

} // namespace

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
    inFlight_ = 0;
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

void ProxyCheckPool::Add(std::uint64_t rowId, std::string proxy)
{
    waiting_.push_back({rowId, std::move(proxy)});
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
        return;
    }
    if (addressesAwaited_ > 0 || waiting_.empty())
        return;
    // While the probes run, a few at a time, so that the rows still come as fast as without
    // checks: the checks' sockets and verdicts cost the platform what the echoes need too.
    const bool paced = probing_ && probing_();
    const std::size_t count = paced ? std::min(waiting_.size(), kPacedChecks) : waiting_.size();
    Machinery& machinery = *machinery_;
    const unsigned batch = batch_;
    for (std::size_t started = 0; started < count; ++started) {
        const Check& check = waiting_[started];
        CheckJob job = ProxyCheckJob(CheckOrder{check.proxy, service_, userAgent_, usersAddresses_, limitMs_},
                                     [&machinery, this, batch, rowId = check.rowId](const ProxyVerdict& verdict) {
                                         machinery.mailbox.Post([this, batch, rowId, verdict] { Verdict(batch, rowId, verdict); });
                                     });
        job.cancelled = cancelled_;
        job.unconnectedGiveUpMs = kUnconnectedGiveUpMs;
        machinery.engine.Submit(std::move(job));
        ++inFlight_;
    }
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(count));
    if (!waiting_.empty())
        startTimer_.Start(kPacedMs, [this] { StartWaiting(); });
}

void ProxyCheckPool::Verdict(unsigned batch, std::uint64_t rowId, const ProxyVerdict& verdict)
{
    if (batch != batch_)
        return;
    --inFlight_;
    if (onVerdict_)
        onVerdict_(rowId, verdict);
}
