#include "ConnectionRoom.h"

#include <algorithm>

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

std::unique_ptr<ConnectionRoom::Place> ConnectionRoom::Enter(const std::vector<std::string>& keys, bool shared)
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (open_ >= most_)
            return nullptr;
        for (const std::string& key : keys)
            if (const auto held = holding_.find(key); !shared && held != holding_.end() && held->second >= perCaller_)
                return nullptr;
        for (const std::string& key : keys)
            ++holding_[key];
        ++open_;
    }
    return std::make_unique<Place>(*this, keys);
}

const std::string& ConnectionRoom::HolderOf(const Place& place) const
{
    return place.keys_.back();
}

void ConnectionRoom::Leave(Place& place)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.waitingSince_)
        waiting_.erase(place.waitingSince_);
    if (place.closing_)
        --closing_;
    for (const std::string& key : place.keys_)
        if (const auto held = holding_.find(key); held != holding_.end() && --held->second == 0)
            holding_.erase(held);
    --open_;
}

void ConnectionRoom::MarkWaiting(Place& place, const std::weak_ptr<ReclaimableConnection>& connection)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.waitingSince_)
        waiting_.erase(place.waitingSince_);
    place.waitingSince_ = nextWaiting_++;
    waiting_.emplace(place.waitingSince_, Waiter{connection, &place});
}

void ConnectionRoom::MarkBusy(Place& place)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.waitingSince_)
        waiting_.erase(place.waitingSince_);
    place.waitingSince_ = 0;
}

void ConnectionRoom::MarkSpared(Place& place)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (place.closing_) {
        place.closing_ = false;
        --closing_;
    }
}

ConnectionRoom::Waiters::iterator ConnectionRoom::NextToReclaim(const std::unordered_map<std::string, unsigned>& taken)
{
    auto next = waiting_.end();
    unsigned most = 0;
    for (auto waiter = waiting_.begin(); waiter != waiting_.end(); ++waiter) {
        const std::string& holder = HolderOf(*waiter->second.place);
        const auto held = holding_.find(holder);
        const auto gone = taken.find(holder);
        const unsigned holds = (held == holding_.end() ? 0 : held->second) - (gone == taken.end() ? 0 : gone->second);
        if (next == waiting_.end() || holds > most) { // ties: the one waiting longest, met first
            next = waiter;
            most = holds;
        }
    }
    return next;
}

bool ConnectionRoom::MakeRoom(unsigned waiting)
{
    std::vector<std::shared_ptr<ReclaimableConnection>> reclaimed;
    bool closing = false;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        std::unordered_map<std::string, unsigned> taken;
        const unsigned wanted = std::min(waiting, kMostReclaimedAtOnce);
        while (closing_ < wanted && !waiting_.empty()) {
            const auto next = NextToReclaim(taken);
            if (auto connection = next->second.connection.lock()) {
                next->second.place->closing_ = true;
                next->second.place->waitingSince_ = 0; // closing: it is no longer anyone's to close
                ++closing_;
                ++taken[HolderOf(*next->second.place)];
                reclaimed.push_back(std::move(connection));
            }
            waiting_.erase(next);
        }
        closing = closing_ > 0;
    }
    for (const auto& connection : reclaimed)
        connection->Reclaim();
    return closing;
}

void ConnectionRoom::ReclaimAll()
{
    std::vector<std::shared_ptr<ReclaimableConnection>> all;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        for (auto& [order, waiter] : waiting_) {
            waiter.place->waitingSince_ = 0;
            if (auto open = waiter.connection.lock())
                all.push_back(std::move(open));
        }
        waiting_.clear();
    }
    for (const auto& connection : all)
        connection->Reclaim();
}
