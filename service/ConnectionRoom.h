#pragma once
// Room for the connections of one side of the service: at most `most` open at once and at most
// `perCaller` from one caller (counted by CallerKey). A connection that waits for the first byte
// of a request is idle; when the room is full, the one idle longest is closed to make room, so
// that connections held open and silent cannot keep others out (the connection decides at the
// last moment: one whose request has begun to arrive is spared). Any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// What the room can do to a connection that it closes: end it on its own thread.
class IdleConnection {
public:
    virtual ~IdleConnection() = default;
    virtual void CloseIdle() = 0;
};

class ConnectionRoom {
public:
    ConnectionRoom(unsigned most, unsigned perCaller) : most_(most), perCaller_(perCaller) {}

    // A place in the room, held for the life of a connection.
    class Place {
    public:
        Place(ConnectionRoom& room, std::string caller) : room_(&room), caller_(std::move(caller)) {}
        ~Place() { room_->Leave(*this); }
        Place(const Place&) = delete;
        Place& operator=(const Place&) = delete;

        // The connection waits for a request now, or no longer.
        void Idle(const std::weak_ptr<IdleConnection>& connection) { room_->MarkIdle(*this, connection); }
        void Busy() { room_->MarkBusy(*this); }
        // The connection was not closed when asked: it had got its first byte by then.
        void Spared() { room_->MarkSpared(*this); }

    private:
        friend class ConnectionRoom;
        ConnectionRoom* room_;
        std::string caller_;
        std::uint64_t idleSince_ = 0; // 0: busy
        bool closing_ = false;
    };

    // Whether a new connection could have a place now.
    bool HasRoom() const;
    // A place for a new connection of `caller`; null when the caller has its share already or
    // the room is full.
    std::unique_ptr<Place> Enter(const std::string& caller);
    // Closes the connection idle longest, unless one is being closed already; false when none is.
    bool CloseOldestIdle();
    // Closes every idle connection (the service stops).
    void CloseAllIdle();
    unsigned Open() const;

private:
    void Leave(Place& place);
    void MarkIdle(Place& place, const std::weak_ptr<IdleConnection>& connection);
    void MarkBusy(Place& place);
    void MarkSpared(Place& place);

    const unsigned most_;
    const unsigned perCaller_;
    mutable std::mutex lock_;
    unsigned open_ = 0;
    std::unordered_map<std::string, unsigned> callers_;
    unsigned closing_ = 0; // asked to close, not gone yet
    std::uint64_t nextIdle_ = 1;
    struct Idle {
        std::weak_ptr<IdleConnection> connection;
        Place* place;
    };
    std::map<std::uint64_t, Idle> idle_; // oldest first
};
