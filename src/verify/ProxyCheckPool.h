#pragma once
// Checks the proxies of a list off the UI thread (on check engines: no thread per check), as many
// at once as an engine runs (the rest wait), each within one time limit; each verdict reaches the
// UI thread like a probe completion. Every line's check is added with its command, while the
// echoes are out ("early": whether its host answers is not known); the early checks run on an
// engine of their own, so that the many sockets of silent lines slow no other check, and each
// knocks at its port before it asks in every kind (CheckJob::knock). The check of a line whose
// echo answered, where it has not started, is hurried onto the other engine, so that the nearest
// proxies are verified first. Checks start paced while the probes run, and an early one takes
// the place that an early verdict frees at once. An early check that has not even connected after
// 2 s gives up then, another one after 3 s while its peers connect within a second. The checks of
// one list command form a batch: before its
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
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

class ProxyCheckPool {
public:
    using VerdictHandler = std::function<void(std::uint64_t key, const ProxyVerdict& verdict)>;
    static constexpr std::size_t kMostAtOnce = CheckEngine::kMostAtOnce;
    static constexpr std::size_t kMostEarlyAtOnce = CheckEngine::kMostAtOnce;

    ProxyCheckPool();
    ProxyCheckPool(const ProxyCheckPool&) = delete;
    ProxyCheckPool& operator=(const ProxyCheckPool&) = delete;
    // The checks still running end at once, without verdicts.
    ~ProxyCheckPool();

    // A new batch, whose checks send `userAgent`, whose user's addresses are learned directly
    // and the way `way` says, and whose verdicts go to `onVerdict`; its checks start a few at a
    // time while `probing` holds. Raises std::runtime_error when the engine's threads cannot be
    // had.
    void Begin(RequestWay way, std::string userAgent, VerdictHandler onVerdict, std::function<bool()> probing = {});
    // The check of the proxy at `proxy` (host:port) for `key`, in the current batch (none before
    // the first batch): `early` for a line not known to answer, otherwise one that goes first.
    void Add(std::uint64_t key, std::string proxy, bool early = false);
    // The early check of `key`, where it still waits, goes before the other early ones, and asks
    // in every kind at once.
    void Hurry(std::uint64_t key);

    // The time limit of each check (by default kProxyCheckLimitMs); the previous one is returned.
    // For tests, which need not wait 10 s for a proxy that never answers.
    static unsigned LimitChecksTo(unsigned milliseconds);
    static unsigned CheckLimitMs();

    // Checks of this batch handed to the engine whose verdict has not come yet, and checks that
    // wait for the user's addresses; for the benchmark.
    std::size_t Running() const { return inFlight_; }
    std::size_t Waiting() const { return waiting_.size() + early_.size(); }
    // True while any pool has checks running or waiting; for tests, which wait for a command.
    static bool AnyBusy();

private:
    struct Check {
        std::uint64_t key;
        std::string proxy;
    };
    // The engines and the mailbox through which their results reach the UI thread; the engines go
    // first, so that nothing they run can post to a mailbox that has gone.
    struct Machinery {
        UiMailbox mailbox;
        CheckEngine engine;
        CheckEngine earlyEngine;
    };

    void LearnUsersAddresses();
    void UsersAddressesCame(unsigned batch, const std::vector<std::string>& addresses);
    void AddressesKnown();
    void StartWaiting();
    // Hands `check` to the engine; `early`: it knocks, and takes an early place.
    void Start(const Check& check, bool early);
    void StartNextEarly();
    void Verdict(unsigned batch, std::uint64_t key, bool early, const ProxyVerdict& verdict);

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
    std::deque<Check> waiting_; // hurried, or not early
    std::list<Check> early_;
    std::unordered_map<std::uint64_t, std::list<Check>::iterator> earlyByKey_;
    std::size_t inFlight_ = 0;
    std::size_t earlyInFlight_ = 0;
    ThreadTimer startTimer_;   // hands the checks added meanwhile, or the next few, to the engine
    ThreadTimer addressTimer_; // gives up waiting for the user's addresses
};
