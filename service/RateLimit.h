#pragma once
// At most `perMinute` requests a minute for each key (an account, a caller), as a token bucket
// that holds a minute's worth and fills evenly. It keeps at most `mostKeys` buckets: beyond them,
// the full ones (which a new bucket equals) are forgotten, then the ones used longest ago. Any
// thread. Each instance of the service keeps its own: behind one name, n instances allow n times
// the rate.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

class RateLimit {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateLimit(unsigned perMinute, std::size_t mostKeys = 20000) : perMinute_(perMinute), mostKeys_(mostKeys) {}

    // Takes one request of `key`'s; false when its bucket is empty.
    bool Take(const std::string& key, Clock::time_point now = Clock::now());
    // Whether `key` could take one now; takes nothing.
    bool CanTake(const std::string& key, Clock::time_point now = Clock::now());
    // Whether `key`'s bucket is full: it has taken nothing for long enough.
    bool Untouched(const std::string& key, Clock::time_point now = Clock::now());

    std::size_t Keys() const;

private:
    struct Bucket {
        double tokens;
        Clock::time_point filled;
    };
    double Filled(const Bucket& bucket, Clock::time_point now) const;
    void MakeRoom(Clock::time_point now);

    const unsigned perMinute_;
    const std::size_t mostKeys_;
    mutable std::mutex lock_;
    std::unordered_map<std::string, Bucket> buckets_;
};
