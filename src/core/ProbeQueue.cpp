#include "core/ProbeQueue.h"

std::size_t ProbeQueue::StartAll(std::vector<std::string> lines, const Starter& start, std::size_t most)
{
    waiting_.clear();
    for (std::size_t number = 0; number < lines.size(); ++number)
        waiting_.push_back({std::move(lines[number]), number, false});
    return StartWaiting(start, most);
}

std::size_t ProbeQueue::StartWaiting(const Starter& start, std::size_t most)
{
    std::size_t started = 0;
    while (started < most && !waiting_.empty() && start(waiting_.front())) {
        waiting_.pop_front();
        ++started;
    }
    return started;
}
