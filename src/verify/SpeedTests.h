#pragma once
// Speed tests of a list's proxies, on demand: the service's speed page downloaded through each
// proxy in its kind, a few at a time (so that they do not share the user's line), each within
// kSpeedTestLimitMs; each result reaches the UI thread. A new round drops the tests of the last,
// waiting or running, and their results. UI thread only.

#include "core/ProxyHandshake.h"
#include "verify/CheckEngine.h"
#include "win/UiMailbox.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SpeedTests {
public:
    static constexpr std::size_t kAtOnce = 3;

    struct Test {
        std::uint64_t key;
        std::string proxy; // as a row names it, with its account
        ProxyKind kind;
    };
    // `kBps` nullopt: nothing of the page came through.
    using SpeedHandler = std::function<void(std::uint64_t key, std::optional<unsigned> kBps)>;

    SpeedTests() = default;
    // The tests still running end at once, without results.
    ~SpeedTests();
    SpeedTests(const SpeedTests&) = delete;
    SpeedTests& operator=(const SpeedTests&) = delete;

    // A new round: `tests`, asking the speed page of `service` as `userAgent`. Raises
    // std::runtime_error when the engine's threads cannot be had.
    void Start(std::vector<Test> tests, std::string service, std::string userAgent, SpeedHandler onSpeed);

    // The time limit of each test (by default kSpeedTestLimitMs); the previous one is returned.
    // For tests.
    static unsigned LimitTestsTo(unsigned milliseconds);

private:
    void StartNext();

    // The engine goes first, so that nothing it runs can post to a mailbox that has gone.
    struct Machinery {
        UiMailbox mailbox;
        CheckEngine engine;
    };
    std::unique_ptr<Machinery> machinery_;
    std::deque<Test> waiting_;
    std::size_t running_ = 0;
    std::string service_;
    std::string userAgent_;
    SpeedHandler onSpeed_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
};
