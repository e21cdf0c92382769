#pragma once
// A browser in miniature for the tests: WinINet set to a proxy, and a connection of its own to a
// proxy for what WinINet does not show (a tunnel held open, bytes of no protocol).

#include "win/UniqueHandle.h"
#include "win/UniqueSocket.h"
#include "win/WinsockSession.h"

#include <winsock2.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>

namespace browser {

struct Page {
    DWORD status = 0;
    std::string body;
};

// What WinINet, as a browser set to `proxy`, fetches of `url`.
inline Page FetchThrough(const std::string& proxy, const std::string& url)
{
    const UniqueHInternet internet(
        InternetOpenA("Mozilla/5.0 (Test)", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0));
    const UniqueHInternet request(
        internet ? InternetOpenUrlA(internet.get(), url.c_str(), nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                 : nullptr);
    Page page;
    DWORD size = sizeof page.status;
    if (!request ||
        !HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &page.status, &size, nullptr))
        return page;
    char buffer[4096];
    for (DWORD count = 0; InternetReadFile(request.get(), buffer, sizeof buffer, &count) && count > 0;)
        page.body.append(buffer, count);
    return page;
}

// A browser's connection of its own to the relay, from `from` where given; its reads wait at
// most 5 s.
class Browser {
public:
    explicit Browser(unsigned short port, const char* from = nullptr) : socket_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        DWORD waitMs = 5000;
        setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&waitMs), sizeof waitMs);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (from) {
            address.sin_addr.s_addr = inet_addr(from);
            EXPECT_EQ(bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        }
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }

    void Send(const std::string& bytes) { send(socket_.get(), bytes.data(), static_cast<int>(bytes.size()), 0); }
    // Sends nothing more; the answers still come.
    void EndSending() { shutdown(socket_.get(), SD_SEND); }
    // The relay ended the connection (not a read's wait running out).
    bool Ended() const { return ended_; }
    // What comes until `end` has come, the connection ends, or 5 s pass.
    std::string ReadUntil(const std::string& end = {})
    {
        std::string read;
        char buffer[4096];
        while (end.empty() || read.find(end) == std::string::npos) {
            const int count = recv(socket_.get(), buffer, sizeof buffer, 0);
            ended_ = count == 0;
            if (count <= 0)
                break;
            read.append(buffer, static_cast<std::size_t>(count));
        }
        return read;
    }
private:
    WinsockSession winsock_{MAKEWORD(2, 2)};
    UniqueSocket socket_;
    bool ended_ = false;
};

inline std::string PortOf(const std::string& host)
{
    return host.substr(host.rfind(':') + 1);
}

// The caller's address that the service's page names.
inline std::string Caller(const std::string& page)
{
    const std::size_t start = page.find("REMOTE_ADDR = ");
    return start == std::string::npos ? "" : page.substr(start + 14, page.find('\n', start) - start - 14);
}

} // namespace browser
