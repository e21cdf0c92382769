#pragma once
// Checks proxies off the UI thread, at most 256 at once (the rest wait), each on a worker whose
// verdict reaches the UI thread like a probe completion. While the list's echo probes run, no
// check starts, so that the rows arrive as fast as without checks; checks are started a few at a
// time from a timer, after the window's other messages. The checks of one list command form a
// batch: before its first check starts, the user's own address is learned once, from the
// what-is-my-IP page fetched the way the program's own requests go. A new batch drops the checks
// of the old one that wait, and the verdicts of those still running. Nothing starts once the
// program has begun to end. UI thread only.

#include "core/RequestWay.h"
#include "probe/WorkerThread.h"
#include "verify/ProxyCheck.h"
#include "win/ThreadTimer.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_set>

class ProxyCheckPool {
public:
    using VerdictHandler = std::function<void(std::uint64_t rowId, const ProxyVerdict& verdict)>;
    static constexpr std::size_t kMostAtOnce = 256;

    ProxyCheckPool() = default;
    ProxyCheckPool(const ProxyCheckPool&) = delete;
    ProxyCheckPool& operator=(const ProxyCheckPool&) = delete;
    // The checks still running complete without a handler.
    ~ProxyCheckPool();

    // A new batch, whose user's address is learned the way `way` says and whose verdicts go to
    // `onVerdict`; its checks wait while `probing` holds.
    void Begin(RequestWay way, VerdictHandler onVerdict, std::function<bool()> probing);
    // The check of the proxy at `proxy` (host:port) for the row `rowId`, in the current batch.
    void Add(std::uint64_t rowId, std::string proxy);

    // The time limit of each part of a check (by default kProxyCheckLimitMs); the previous one is
    // returned. For tests, which need not wait 10 s for a proxy that never answers.
    static unsigned LimitChecksTo(unsigned milliseconds);

    // Workers of this pool running now, and checks waiting; for the benchmark.
    std::size_t Running() const { return running_.size(); }
    std::size_t Waiting() const { return waiting_.size(); }

private:
    struct Check {
        std::uint64_t rowId;
        std::string proxy;
    };
    // Starts `body` on a worker; `done` runs on the UI thread once it has. False when no thread
    // could be had (the caller keeps the work for later).
    bool Run(std::function<void()> body, std::function<void()> done);
    void LearnUsersAddress();
    void StartWaiting();
    void ScheduleStart(UINT afterMs);

    unsigned batch_ = 0;
    RequestWay way_;
    std::string service_; // the batch's service, "host" or "host:port"
    VerdictHandler onVerdict_;
    std::function<bool()> probing_;
    bool addressKnown_ = false;
    std::optional<std::string> usersAddress_;
    std::deque<Check> waiting_;
    std::unordered_set<WorkerThread*> running_;
    ThreadTimer timer_;
};
