#pragma once
// Room for the connections of one side of the service: at most `most` open at once, and at most
// `perCaller` for each of a caller's keys (its address and, for IPv6, its /64 and its /48; see
// CallerKeys). A connection that waits for a request, or whose request's head has begun but not
// ended, can be reclaimed: when the room is full, each newcomer has one closed for it at once,
// taken from the caller holding the most places, the one of that caller's waiting longest. A
// connection that has waited less than a grace time is taken only where no other can be, so that
// a caller's own burst of new connections does not close its first ones before they are served. So connections held open, silent or half-sent, keep no one else out,
// a crowd of newcomers has room made as fast as it is accepted, and no newcomer is closed for an
// old crowd. The connection decides at the last moment: one whose request's head has come whole
// by then is spared. Any thread.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// What the room can do to a connection that it closes: end it on its own thread.
class ReclaimableConnection {
public:
    virtual ~ReclaimableConnection() = default;
    virtual void Reclaim() = 0;
};

class ConnectionRoom {
public:
    static constexpr std::chrono::milliseconds kGrace{250};

    ConnectionRoom(unsigned most, unsigned perCaller) : most_(most), perCaller_(perCaller) {}

    // A place in the room, held for the life of a connection.
    class Place {
    public:
        Place(ConnectionRoom& room, std::vector<std::string> keys) : room_(&room), keys_(std::move(keys)) {}
        ~Place() { room_->Leave(*this); }
        Place(const Place&) = delete;
        Place& operator=(const Place&) = delete;

        // The connection waits for a request or its head now (and can be reclaimed), or no longer.
        void Waiting(const std::weak_ptr<ReclaimableConnection>& connection) { room_->MarkWaiting(*this, connection); }
        void Busy() { room_->MarkBusy(*this); }
        // The connection was not closed when asked: its request's head had come by then.
        void Spared() { room_->MarkSpared(*this); }

    private:
        friend class ConnectionRoom;
        ConnectionRoom* room_;
        std::vector<std::string> keys_; // the caller's, narrowest first
        const unsigned* held_ = nullptr; // what its caller holds under the widest of them
        std::uint64_t waitingSince_ = 0; // 0: busy
        bool closing_ = false;
    };

    // A place whatever the room holds: for the connections that were queued when the service
    // stopped, and are answered before it ends.
    std::unique_ptr<Place> EnterRegardless(const std::vector<std::string>& keys);
    // Whether a new connection could have a place now: there is room, or room can be made.
    bool CanAdmit() const;
    // A place for a new connection of the caller with `keys` (at least one); null when the caller
    // has its share under one of them already (`shared`: the caller is many, a trusted proxy, and
    // has no share of its own), or the room is full and none of its connections waits (`full`).
    std::unique_ptr<Place> Enter(const std::vector<std::string>& keys, bool shared, bool& full);
    // Closes every connection that waits (the service stops).
    void ReclaimAll();
    unsigned Open() const;

private:
    struct Waiter {
        std::weak_ptr<ReclaimableConnection> connection;
        Place* place;
        std::chrono::steady_clock::time_point since;
    };
    using Waiters = std::map<std::uint64_t, Waiter>; // longest waiting first

    // A place counted in; the lock is held.
    std::unique_ptr<Place> Seat(const std::vector<std::string>& keys);
    void Leave(Place& place);
    void MarkWaiting(Place& place, const std::weak_ptr<ReclaimableConnection>& connection);
    void MarkBusy(Place& place);
    void MarkSpared(Place& place);
    // The waiting place to close for a newcomer: of the caller holding the most, the one waiting
    // longest, among those waiting past their grace (or among all, where none is). There is one.
    Waiters::iterator NextToReclaim();

    const unsigned most_;
    const unsigned perCaller_;
    mutable std::mutex lock_;
    unsigned open_ = 0;
    std::unordered_map<std::string, unsigned> holding_; // places by each key
    unsigned closing_ = 0; // asked to close, not gone yet
    std::uint64_t nextWaiting_ = 1;
    Waiters waiting_;
};
