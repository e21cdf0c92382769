#pragma once
// Room for the connections of one side of the service: at most `most` open at once, and at most
// `perCaller` for each of a caller's keys (its address and, for IPv6, its /64 and its /48; see
// CallerKeys). A connection that waits for a request, or whose request's head has begun but not
// ended, can be reclaimed: when the room is full and connections wait to come in, as many as wait
// are closed at once, each taken from the caller holding the most places (the one waiting
// longest of that caller's), so that connections held open, silent or half-sent, keep no one
// else out and no newcomer is closed for an old crowd. The connection decides at the last
// moment: one whose request's head has come whole by then is spared. Any thread.

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
    // At most this many are closed at once for those waiting to come in.
    static constexpr unsigned kMostReclaimedAtOnce = 256;

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
        std::uint64_t waitingSince_ = 0; // 0: busy
        bool closing_ = false;
    };

    // Whether a new connection could have a place now.
    bool HasRoom() const;
    // A place for a new connection of the caller with `keys` (at least one); null when the room
    // is full or the caller has its share under one of them already (`shared`: the caller is
    // many, a trusted proxy, and has no share of its own).
    std::unique_ptr<Place> Enter(const std::vector<std::string>& keys, bool shared = false);
    // `waiting` connections wait to come in: as many are closed, less those closing already.
    // False when none is closing, and none could be.
    bool MakeRoom(unsigned waiting);
    // Closes every connection that waits (the service stops).
    void ReclaimAll();
    unsigned Open() const;

private:
    struct Waiter {
        std::weak_ptr<ReclaimableConnection> connection;
        Place* place;
    };
    using Waiters = std::map<std::uint64_t, Waiter>; // longest waiting first

    void Leave(Place& place);
    void MarkWaiting(Place& place, const std::weak_ptr<ReclaimableConnection>& connection);
    void MarkBusy(Place& place);
    void MarkSpared(Place& place);
    // The waiting place to close next: of the caller holding the most (`taken` already closing
    // counted off), the one waiting longest.
    Waiters::iterator NextToReclaim(const std::unordered_map<std::string, unsigned>& taken);
    const std::string& HolderOf(const Place& place) const;

    const unsigned most_;
    const unsigned perCaller_;
    mutable std::mutex lock_;
    unsigned open_ = 0;
    std::unordered_map<std::string, unsigned> holding_; // places by each key
    unsigned closing_ = 0; // asked to close, not gone yet
    std::uint64_t nextWaiting_ = 1;
    Waiters waiting_;
};
