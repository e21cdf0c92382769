#pragma once
// A set of sockets for `select`, of any size: the platform's fd_set holds 64, but `select` reads
// as many as the count says.

#include <winsock2.h>

#include <cstddef>

template <std::size_t Capacity>
struct SocketSet {
    u_int fd_count = 0;
    SOCKET fd_array[Capacity];

    // Beyond the capacity a socket is not waited for.
    void Add(SOCKET socket)
    {
        if (fd_count < Capacity)
            fd_array[fd_count++] = socket;
    }
    void Clear() { fd_count = 0; }
    fd_set* Get() { return reinterpret_cast<fd_set*>(this); }
};
