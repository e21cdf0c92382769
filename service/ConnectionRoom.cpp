#include "ConnectionRoom.h"

#include <vector>

bool ConnectionRoom::HasRoom() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return open_ < most_;
}

unsigned ConnectionRoom::Open() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

std::unique_ptr<ConnectionRoom::Place> ConnectionRoom::Enter(const std::string& caller)
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        unsigned& theirs = callers_[caller];
        if (open_ >= most_ || theirs >= perCaller_) {
            if (theirs == 0)
                callers_.erase(caller);
            return nullptr;
        }
        ++theirs;
        ++open_;
    }
    return std::make_unique<Place>(*this, caller);
}

void ConnectionRoom::Leave(Place& place)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.idleSince_)
        idle_.erase(place.idleSince_);
    if (place.closing_)
        --closing_;
    const auto caller = callers_.find(place.caller_);
    if (caller != callers_.end() && --caller->second == 0)
        callers_.erase(caller);
    --open_;
}

void ConnectionRoom::MarkIdle(Place& place, const std::weak_ptr<IdleConnection>& connection)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.idleSince_)
        idle_.erase(place.idleSince_);
    place.idleSince_ = nextIdle_++;
    idle_.emplace(place.idleSince_, Idle{connection, &place});
}

void ConnectionRoom::MarkBusy(Place& place)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.idleSince_)
        idle_.erase(place.idleSince_);
    place.idleSince_ = 0;
}

void ConnectionRoom::MarkSpared(Place& place)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.closing_) {
        place.closing_ = false;
        --closing_;
    }
}

bool ConnectionRoom::CloseOldestIdle()
{
    std::shared_ptr<IdleConnection> oldest;
    bool closing = false;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        closing = closing_ > 0;
        while (closing_ == 0 && !oldest && !idle_.empty()) {
            oldest = idle_.begin()->second.connection.lock();
            if (oldest) {
                idle_.begin()->second.place->closing_ = true;
                ++closing_;
            }
            idle_.erase(idle_.begin()); // closing: it is no longer anyone's to close
        }
    }
    if (oldest)
        oldest->CloseIdle();
    return oldest != nullptr || closing;
}

void ConnectionRoom::CloseAllIdle()
{
    std::vector<std::shared_ptr<IdleConnection>> all;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        for (const auto& [order, idle] : idle_)
            if (auto open = idle.connection.lock())
                all.push_back(std::move(open));
        idle_.clear();
    }
    for (const auto& connection : all)
        connection->CloseIdle();
}
