#pragma once
// Runs checks on a thread of its own, many side by side, with no thread per check: each check is
// a few HTTP exchanges (one socket each) under one deadline, and every socket is waited for in
// one place. At most kMostAtOnce checks run at once, so that a list's slow or silent proxies do
// not hold its near ones back; the rest wait in order of submission. When a check's deadline
// comes, its sockets are closed and what did not finish counts as failed: a check holds nothing
// past its limit. Name lookups run aside (AsideThread), within the same deadline. Created and
// destroyed on one thread; Submit and RunAside from any.

#include "verify/AsideThread.h"
#include "verify/HttpExchange.h"
#include "win/UniqueHandle.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One exchange of a check: to `target` ("host:port", the host a name or an address), first the
// `handshake` that opens the way through a proxy, then `request`.
struct CheckPart {
    std::string target;
    std::vector<HandshakeStep> handshake;
    std::string request;
    // Where the kind of proxy at `target` is not known, a check asks in each kind at once: once a
    // part of one kind (not 0) has proved itself (HttpExchange::Proved), the parts of the other
    // kinds end, failed.
    int kind = 0;
    // Where not -1, the part waits for that earlier part: it starts once that one's first step
    // was answered (HttpExchange::Answered), and ends, failed, where that one ended without; with
    // `ifFailed`, it starts once that one ended without proving itself instead.
    int startsAfter = -1;
    bool ifFailed = false;
    // A measured download (ExchangePlan::counted): where the limit comes first, its result holds
    // what came so far.
    bool counted = false;
};

struct PartResult {
    HttpAnswer answer;         // complete only where a whole answer came in time
    unsigned milliseconds = 0; // from the check's start to the whole answer
    bool proved = false;       // HttpExchange::Proved
    bool connected = false;    // its connection was made, whether or not it ended in time
};

struct CheckJob {
    std::vector<CheckPart> parts;
    unsigned limitMs = 0;
    // Where not 0: a check none of whose parts has connected this long after its start ends then,
    // as failed, while the engine's other checks connect quickly (ConnectTimes::Quick).
    unsigned unconnectedGiveUpMs = 0;
    // For a target not known to be there: only the first part connects at first, and the others
    // start once it has connected (none where it ended without); the check gives up unconnected
    // whatever the others do. A silent address then costs one socket, not one per part.
    bool knock = false;
    // Runs on the engine's thread once every part has ended or the limit has come, with the
    // parts' results in their order. Not for a cancelled job.
    std::function<void(const std::vector<PartResult>& results)> done;
    // Once set, the job is dropped, waiting or running, without `done`. May be null.
    std::shared_ptr<const std::atomic<bool>> cancelled;
};

class CheckEngine {
public:
    // Six sockets each at most, well within the 64 K that one wait of the platform's watches; two
    // thousand connections being made at once are far from what a home router keeps track of.
    static constexpr std::size_t kMostAtOnce = 2048;

    // Starts the engine's thread and its aside thread. Raises std::runtime_error when no thread
    // can be had.
    CheckEngine();
    // Ends every check without its `done` and waits for the engine's thread.
    ~CheckEngine();
    CheckEngine(const CheckEngine&) = delete;
    CheckEngine& operator=(const CheckEngine&) = delete;

    void Submit(CheckJob job);
    // Blocking work off the engine's thread, one piece after another (see AsideThread). The
    // work may outlive the engine, so it touches nothing but what it holds; what it returns (if
    // anything) then runs on the engine's thread, unless the engine has gone, and may reach
    // whatever outlives the engine.
    void RunAside(std::function<std::function<void()>()> work);

    // Checks submitted and not yet done or dropped; any thread.
    std::size_t Pending() const;
    // The most checks that ever ran at once on any engine of this process; for the benchmark.
    static std::size_t PeakRunning();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    AsideThread aside_;
    UniqueKernelHandle thread_;
};
