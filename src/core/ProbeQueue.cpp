#include "core/ProbeQueue.h"

void ProbeQueue::StartAll(std::vector<std::string> lines, const Starter& start)
{
    waiting_.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    StartWaiting(start);
}

std::size_t ProbeQueue::StartWaiting(const Starter& start)
{
    std::size_t started = 0;
    while (!waiting_.empty() && start(waiting_.front())) {
        waiting_.pop_front();
        ++started;
    }
    return started;
}
