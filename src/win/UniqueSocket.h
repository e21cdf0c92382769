#pragma once
// Move-only owner of one socket, closed when it goes.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

class UniqueSocket {
public:
    UniqueSocket() noexcept = default;
    explicit UniqueSocket(SOCKET socket) noexcept : socket_(socket) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    SOCKET get() const noexcept { return socket_; }
    explicit operator bool() const noexcept { return socket_ != INVALID_SOCKET; }
    SOCKET release() noexcept { return std::exchange(socket_, INVALID_SOCKET); }
    // Closes the held socket, if any; WSAGetLastError() is left as it was.
    void reset(SOCKET socket = INVALID_SOCKET) noexcept
    {
        const SOCKET old = std::exchange(socket_, socket);
        if (old != INVALID_SOCKET) {
            const int lastError = WSAGetLastError();
            closesocket(old);
            WSASetLastError(lastError);
        }
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

// A non-blocking TCP socket that has begun to connect to `address`; none where that failed at
// once (no socket to be had, or the connection refused before any wait).
inline UniqueSocket StartConnecting(const sockaddr_storage& address, int length)
{
    UniqueSocket connecting(socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    if (!connecting || ioctlsocket(connecting.get(), FIONBIO, &nonBlocking) != 0 ||
        (connect(connecting.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
         WSAGetLastError() != WSAEWOULDBLOCK))
        connecting.reset();
    return connecting;
}
