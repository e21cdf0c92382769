#include "ConnectionRoom.h"

bool ConnectionRoom::CanAdmit() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return open_ - closing_ < most_ || !waiting_.empty();
}

unsigned ConnectionRoom::Open() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

std::unique_ptr<ConnectionRoom::Place> ConnectionRoom::Enter(const std::vector<std::string>& keys, bool shared, bool& full)
{
    full = false;
    std::shared_ptr<ReclaimableConnection> reclaimed;
    std::unique_ptr<Place> place;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        for (const std::string& key : keys)
            if (const auto held = holding_.find(key); !shared && held != holding_.end() && held->second >= perCaller_)
                return nullptr;
        while (open_ - closing_ >= most_ && !reclaimed) {
            if (waiting_.empty()) {
                full = true;
                return nullptr;
            }
            const auto next = NextToReclaim();
            reclaimed = next->second.connection.lock();
            if (reclaimed) {
                next->second.place->closing_ = true;
                next->second.place->waitingSince_ = 0; // closing: it is no longer anyone's to close
                ++closing_;
            }
            waiting_.erase(next);
        }
        place = Seat(keys);
    }
    if (reclaimed)
        reclaimed->Reclaim();
    return place;
}

std::unique_ptr<ConnectionRoom::Place> ConnectionRoom::EnterRegardless(const std::vector<std::string>& keys)
{
    const std::lock_guard<std::mutex> hold(lock_);
    return Seat(keys);
}

std::unique_ptr<ConnectionRoom::Place> ConnectionRoom::Seat(const std::vector<std::string>& keys)
{
    for (const std::string& key : keys)
        ++holding_[key];
    ++open_;
    auto place = std::make_unique<Place>(*this, keys);
    place->held_ = &holding_[keys.back()]; // stays while the place holds it
    return place;
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
    waiting_.emplace(place.waitingSince_, Waiter{connection, &place, std::chrono::steady_clock::now()});
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

ConnectionRoom::Waiters::iterator ConnectionRoom::NextToReclaim()
{
    // Of the caller holding the most, the one waiting longest (met first: oldest first), among
    // those that waited until `end`.
    const auto greediest = [this](std::chrono::steady_clock::time_point end) {
        auto next = waiting_.end();
        unsigned most = 0;
        for (auto waiter = waiting_.begin(); waiter != waiting_.end() && waiter->second.since <= end; ++waiter)
            if (next == waiting_.end() || *waiter->second.place->held_ > most) {
                next = waiter;
                most = *waiter->second.place->held_;
            }
        return next;
    };
    const auto pastGrace = greediest(std::chrono::steady_clock::now() - kGrace);
    return pastGrace != waiting_.end() ? pastGrace : greediest(std::chrono::steady_clock::time_point::max());
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
