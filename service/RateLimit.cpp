#include "RateLimit.h"

#include <algorithm>
#include <vector>

double RateLimit::Filled(const Bucket& bucket, Clock::time_point now) const
{
    const double seconds = std::chrono::duration<double>(now - bucket.filled).count();
    return std::min<double>(perMinute_, bucket.tokens + seconds * perMinute_ / 60.0);
}

void RateLimit::MakeRoom(Clock::time_point now)
{
    for (auto bucket = buckets_.begin(); bucket != buckets_.end();)
        bucket = Filled(bucket->second, now) >= perMinute_ ? buckets_.erase(bucket) : std::next(bucket);
    if (buckets_.size() < mostKeys_)
        return;
    // Still full: the older half goes (each of them starts again from a full bucket).
    std::vector<Clock::time_point> times;
    times.reserve(buckets_.size());
    for (const auto& [key, bucket] : buckets_)
        times.push_back(bucket.filled);
    const auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
    std::nth_element(times.begin(), middle, times.end());
    for (auto bucket = buckets_.begin(); bucket != buckets_.end();)
        bucket = bucket->second.filled <= *middle ? buckets_.erase(bucket) : std::next(bucket);
}

bool RateLimit::Take(const std::string& key, Clock::time_point now)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (buckets_.size() >= mostKeys_ && !buckets_.count(key))
        MakeRoom(now);
    const auto [bucket, added] = buckets_.try_emplace(key, Bucket{static_cast<double>(perMinute_), now});
    bucket->second.tokens = Filled(bucket->second, now);
    bucket->second.filled = now;
    if (bucket->second.tokens < 1.0)
        return false;
    bucket->second.tokens -= 1.0;
    return true;
}

bool RateLimit::CanTake(const std::string& key, Clock::time_point now)
{
    const std::lock_guard<std::mutex> hold(lock_);
    const auto bucket = buckets_.find(key);
    return bucket == buckets_.end() || Filled(bucket->second, now) >= 1.0;
}

bool RateLimit::Untouched(const std::string& key, Clock::time_point now)
{
    const std::lock_guard<std::mutex> hold(lock_);
    const auto bucket = buckets_.find(key);
    return bucket == buckets_.end() || Filled(bucket->second, now) >= perMinute_;
}

std::size_t RateLimit::Keys() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return buckets_.size();
}
