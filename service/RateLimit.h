#pragma once
// At most `perMinute` requests a minute for each key (an account, a caller's address), as a token
// bucket that holds a minute's worth and fills evenly. Any thread. Each instance of the service
// keeps its own: behind one name, n instances allow n times the rate.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

class RateLimit {
public:
    explicit RateLimit(unsigned perMinute) : perMinute_(perMinute) {}

    // Takes one request of `key`'s; false when its bucket is empty.
    bool Take(const std::string& key, std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

private:
    struct Bucket {
        double tokens;
        std::chrono::steady_clock::time_point filled;
    };
    double Filled(const Bucket& bucket, std::chrono::steady_clock::time_point now) const;

    unsigned perMinute_;
    std::mutex lock_;
    std::unordered_map<std::string, Bucket> buckets_;
};
