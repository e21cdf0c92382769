#include "core/ProxyWorks.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::size_t kLatest = 64;
constexpr std::size_t kFewest = 8;
constexpr unsigned kQuickMs = 1000;

} // namespace

bool Works(std::optional<unsigned> webMs, unsigned limitMs)
{
    return webMs && *webMs <= limitMs;
}

WatchTimes WatchTimesFor(std::optional<unsigned> lastPassMs, WatchTimes floor, unsigned listLimitMs)
{
    using Wide = unsigned long long;
    const auto within = [](Wide wanted, Wide least, Wide most) {
        return static_cast<unsigned>(std::min(std::max(wanted, least), most));
    };
    if (!lastPassMs)
        return {listLimitMs, within(0, floor.doubtMs, listLimitMs)};
    const Wide last = *lastPassMs;
    const unsigned limit = within(2 * last + 1000, floor.limitMs, listLimitMs);
    // Joined checks end with the first one's limit: they must still have the proxy's own time.
    const Wide latest = limit > last + 500 ? limit - last - 500 : 0;
    return {limit, within(std::min(last + 500, latest), floor.doubtMs, limit)};
}

void ConnectTimes::Add(unsigned milliseconds)
{
    latest_.push_back(milliseconds);
    if (latest_.size() > kLatest)
        latest_.pop_front();
}

bool ConnectTimes::Quick() const
{
    if (latest_.size() < kFewest)
        return false;
    std::vector<unsigned> sorted(latest_.begin(), latest_.end());
    // The slowest of the quickest nine tenths.
    const auto ninth = sorted.begin() + static_cast<std::ptrdiff_t>((sorted.size() * 9 + 9) / 10 - 1);
    std::nth_element(sorted.begin(), ninth, sorted.end());
    return *ninth < kQuickMs;
}

unsigned SpeedKBps(std::size_t bytes, unsigned milliseconds)
{
    return static_cast<unsigned>(bytes / std::max(milliseconds, 1u));
}
