#pragma once
// Checks the proxies of a list off the UI thread (on a check engine: no thread per check), as many
// at once as the engine runs (the rest wait), each within one time limit; each verdict reaches the
// UI thread like a probe completion. A row's check starts as soon as its row is in, while the
// echoes to the rest of the list are still out, so that the nearest proxies are verified first
// (paced meanwhile, so that the rows still come as fast); one that has not even connected after
// 3 s, while its peers connect within a second, gives up then. The checks of one list command
// form a batch: before its
// first check starts, the user's own addresses are learned: as the service sees the user
// directly (which is how every check reaches its proxy), over IPv4 and over IPv6 where the
// service has both, and the way the program's own requests go where that is another (the user's
// own proxy). A new batch drops the checks of the old one, waiting or running, and their
// verdicts. Nothing starts once the program has begun to end. UI thread only.

#include "core/RequestWay.h"
#include "verify/CheckEngine.h"
#include "verify/ProxyCheck.h"
#include "win/ThreadTimer.h"
#include "win/UiMailbox.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class ProxyCheckPool {
public:
    using VerdictHandler = std::function<void(std::uint64_t rowId, const ProxyVerdict& verdict)>;
    static constexpr std::size_t kMostAtOnce = CheckEngine::kMostAtOnce;

    ProxyCheckPool() = default;
    ProxyCheckPool(const ProxyCheckPool&) = delete;
    ProxyCheckPool& operator=(const ProxyCheckPool&) = delete;
    // The checks still running end at once, without verdicts.
    ~ProxyCheckPool();

    // A new batch, whose checks send `userAgent`, whose user's addresses are learned directly
    // and the way `way` says, and whose verdicts go to `onVerdict`; its checks start a few at a
    // time while `probing` holds. Raises std::runtime_error when the engine's threads cannot be
    // had.
    void Begin(RequestWay way, std::string userAgent, VerdictHandler onVerdict, std::function<bool()> probing = {});
    // The check of the proxy at `proxy` (host:port) for the row `rowId`, in the current batch.
    void Add(std::uint64_t rowId, std::string proxy);

    // The time limit of each check (by default kProxyCheckLimitMs); the previous one is returned.
    // For tests, which need not wait 10 s for a proxy that never answers.
    static unsigned LimitChecksTo(unsigned milliseconds);
    static unsigned CheckLimitMs();

    // Checks of this batch handed to the engine whose verdict has not come yet, and checks that
    // wait for the user's addresses; for the benchmark.
    std::size_t Running() const { return inFlight_; }
    std::size_t Waiting() const { return waiting_.size(); }

private:
    struct Check {
        std::uint64_t rowId;
        std::string proxy;
    };
    // The engine and the mailbox through which its results reach the UI thread; the engine goes
    // first, so that nothing it runs can post to a mailbox that has gone.
    struct Machinery {
        UiMailbox mailbox;
        CheckEngine engine;
    };

    void LearnUsersAddresses();
    void UsersAddressesCame(unsigned batch, const std::vector<std::string>& addresses);
    void AddressesKnown();
    void StartWaiting();
    void Verdict(unsigned batch, std::uint64_t rowId, const ProxyVerdict& verdict);

    std::unique_ptr<Machinery> machinery_; // made for the first batch
    unsigned batch_ = 0;
    std::shared_ptr<std::atomic<bool>> cancelled_; // the current batch's
    RequestWay way_;
    std::string userAgent_;
    std::string service_; // the batch's service, "host" or "host:port"
    unsigned limitMs_ = kProxyCheckLimitMs;
    VerdictHandler onVerdict_;
    std::function<bool()> probing_;
    int addressesAwaited_ = 0; // the ways of learning the user's address still under way
    std::vector<std::string> usersAddresses_;
    std::deque<Check> waiting_;
    std::size_t inFlight_ = 0;
    ThreadTimer startTimer_;   // hands the checks added meanwhile, or the next few, to the engine
    ThreadTimer addressTimer_; // gives up waiting for the user's addresses
};
