#pragma once
// One start-up of the socket layer, paired with its cleanup. The platform counts start-ups per
// process, so every owner of a session may start and end its own at any time, on any thread.

#include <winsock2.h>

class WinsockSession {
public:
    explicit WinsockSession(WORD version) noexcept
    {
        WSADATA data;
        started_ = WSAStartup(version, &data) == 0;
    }
    ~WinsockSession()
    {
        // A start-up that failed counted nothing: cleaning up after it would end the session of
        // another owner in this process.
        if (started_)
            WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool Started() const noexcept { return started_; }

private:
    bool started_ = false;
};
