#include "RateLimit.h"

#include <algorithm>

namespace {

// Beyond this many keys, the full buckets (which a new bucket equals) are forgotten.
constexpr std::size_t kMostKeys = 100000;

} // namespace

double RateLimit::Filled(const Bucket& bucket, std::chrono::steady_clock::time_point now) const
{
    const double seconds = std::chrono::duration<double>(now - bucket.filled).count();
    return std::min<double>(perMinute_, bucket.tokens + seconds * perMinute_ / 60.0);
}

bool RateLimit::Take(const std::string& key, std::chrono::steady_clock::time_point now)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (buckets_.size() > kMostKeys)
        for (auto bucket = buckets_.begin(); bucket != buckets_.end();)
            bucket = Filled(bucket->second, now) >= perMinute_ ? buckets_.erase(bucket) : std::next(bucket);
    const auto [bucket, added] = buckets_.try_emplace(key, Bucket{static_cast<double>(perMinute_), now});
    bucket->second.tokens = Filled(bucket->second, now);
    bucket->second.filled = now;
    if (bucket->second.tokens < 1.0)
        return false;
    bucket->second.tokens -= 1.0;
    return true;
}
