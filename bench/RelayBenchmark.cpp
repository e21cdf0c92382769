// What the program's relay costs a browser: a 10 MB download from the local service through a
// local tinyproxy, and many small requests (a connection each, as a browser's first request to a
// server), each straight to tinyproxy and through the relay in front of it, rounds taken in turn
// in the same run; then the same through the relay to a SOCKS 5 proxy (microsocks); and, for the
// cost of one hop through a thread of the program's, the relay answering by itself beside a bare
// blocking thread that does the same. Then requests kept alive on one connection to a web server
// of the benchmark's own, straight and through the relay to microsocks; and 1000 connections at
// once through that relay, each asking one request.
//   relay_benchmark [DOWNLOADS [REQUESTS]]   (default 7 and 500)
// Needs ZARNU_TEST_SERVICE (the service program) and ZARNU_TEST_HOST_TOOLS.

#include "BenchSupport.h"
#include "HostTools.h"
#include "RecordingSite.h"
#include "TestService.h"

#include "core/ServiceUrl.h"
#include "relay/Relay.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {

constexpr std::size_t kDownloadBytes = 10 * 1024 * 1024;

// The whole answer to `request`, sent to the proxy at 127.0.0.1-style `address`:`port`; the bytes
// that came (0 where no connection could be made).
std::size_t Fetch(const std::string& address, unsigned short port, const std::string& request)
{
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = inet_addr(address.c_str());
    std::size_t received = 0;
    if (connect(connection, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 &&
        send(connection, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size())) {
        static char buffer[256 * 1024];
        for (int count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;)
            received += static_cast<std::size_t>(count);
    }
    closesocket(connection);
    return received;
}

struct Way {
    const char* name;
    std::string address;
    unsigned short port;
};

// A thread of the benchmark's own that answers every connection on 127.0.0.1 with the relay's
// 502, blocking, one connection after another: what one hop through a thread of this process
// costs, without the relay.
class BareAnswerer {
public:
    BareAnswerer() : listener_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(listener_, SOMAXCONN);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = CreateThread(nullptr, 0, &Serve, this, 0, nullptr);
    }
    ~BareAnswerer()
    {
        closesocket(listener_); // its accept fails, and the thread ends
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    unsigned short Port() const { return port_; }

private:
    static DWORD WINAPI Serve(void* self)
    {
        const SOCKET listener = static_cast<BareAnswerer*>(self)->listener_;
        const std::string answer = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        for (SOCKET browser; (browser = accept(listener, nullptr, nullptr)) != INVALID_SOCKET; closesocket(browser)) {
            char head[4096];
            recv(browser, head, sizeof head, 0);
            send(browser, answer.data(), static_cast<int>(answer.size()), 0);
        }
        return 0;
    }

    SOCKET listener_;
    unsigned short port_ = 0;
    HANDLE thread_ = nullptr;
};

SOCKET Connect(unsigned short port, const char* address = "127.0.0.1")
{
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = inet_addr(address);
    connect(connection, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return connection;
}

// Reads from `connection` until `end` has come; false where the connection ended first.
bool ReadUntil(SOCKET connection, char end)
{
    char buffer[4096];
    for (int count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;)
        if (buffer[count - 1] == end)
            return true;
    return false;
}

// The mean time of `count` requests on one connection to `address`:`port`, each sent once the
// answer before it has come (the site's answers end with ';').
double KeptAliveMs(const char* address, unsigned short port, const std::string& request, int count)
{
    const SOCKET connection = Connect(port, address);
    const LARGE_INTEGER start = Now();
    for (int sent = 0; sent < count; ++sent) {
        send(connection, request.data(), static_cast<int>(request.size()), 0);
        if (!ReadUntil(connection, ';')) {
            std::cerr << "a kept-alive request got no answer\n";
            break;
        }
    }
    const double ms = Milliseconds(start, Now()) / count;
    closesocket(connection);
    return ms;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int downloads = argc > 1 ? std::atoi(argv[1]) : 7;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 500;
    try {
        const WinsockSession winsock(MAKEWORD(2, 2));
        TestService service{"127.0.0.1"};
        std::string file;
        while (file.size() < kDownloadBytes)
            file += "127.0.0.1:8080;Benchmark land, a line of a long proxy list\r\n";
        file.resize(kDownloadBytes);
        service.Serve("paidencrypt.txt", file);
        const host::Tinyproxy tinyproxy{"127.0.0.121", 8888};
        const host::Microsocks microsocks{"127.0.0.122", 1080};
        Relay relay;
        Relay socksRelay;
        Relay idleRelay; // no upstream: it answers every request itself
        BareAnswerer bare;
        relay.SetUpstream(tinyproxy.Host(), ProxyKind::Http);
        socksRelay.SetUpstream(microsocks.Host(), ProxyKind::Socks5);

        const std::string host = service.Host();
        const std::string download = "GET http://" + host + ProxyListPath + " HTTP/1.0\r\nHost: " + host +
                                     "\r\nAuthorization: " + BasicAuthorization("bench", ServicePassword) + "\r\n\r\n";
        const std::string small = "GET http://" + host + IpCheckPagePath + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
        const Way ways[] = {{"straight to tinyproxy", "127.0.0.121", 8888},
                            {"through the relay to tinyproxy", "127.0.0.1", relay.Port()},
                            {"through the relay to microsocks (SOCKS 5)", "127.0.0.1", socksRelay.Port()}};
        std::vector<double> downloadMs[3], requestMs[3], ownAnswerMs, bareAnswerMs;
        for (int round = 0; round < downloads; ++round)
            for (int way = 0; way < 3; ++way) {
                const LARGE_INTEGER start = Now();
                const std::size_t got = Fetch(ways[way].address, ways[way].port, download);
                if (got < kDownloadBytes)
                    std::cerr << ways[way].name << ": only " << got << " bytes came\n";
                downloadMs[way].push_back(Milliseconds(start, Now()));
            }
        for (int round = 0; round < 5; ++round) // five rounds in turn, each of a fifth of the requests
            for (int way = 0; way < 3; ++way) {
                const LARGE_INTEGER start = Now();
                for (int request = 0; request < requests / 5; ++request)
                    if (Fetch(ways[way].address, ways[way].port, small) == 0)
                        std::cerr << ways[way].name << ": a request got nothing\n";
                requestMs[way].push_back(Milliseconds(start, Now()) / (requests / 5));
            }
        for (int round = 0; round < 5; ++round) {
            const LARGE_INTEGER start = Now();
            for (int request = 0; request < requests / 5; ++request)
                Fetch("127.0.0.1", idleRelay.Port(), small);
            ownAnswerMs.push_back(Milliseconds(start, Now()) / (requests / 5));
            const LARGE_INTEGER bareStart = Now();
            for (int request = 0; request < requests / 5; ++request)
                Fetch("127.0.0.1", bare.Port(), small);
            bareAnswerMs.push_back(Milliseconds(bareStart, Now()) / (requests / 5));
        }
        // Kept alive: the site straight, and through the relay to microsocks.
        const RecordingSite site("S", "127.0.0.123", 8080);
        const std::string serverForm = "GET /kept HTTP/1.1\r\nHost: " + site.Host() + "\r\n\r\n";
        const std::string proxyForm = "GET http://" + site.Host() + "/kept HTTP/1.1\r\nHost: " + site.Host() + "\r\n\r\n";
        std::vector<double> keptStraightMs, keptRelayedMs;
        for (int round = 0; round < 5; ++round) {
            keptStraightMs.push_back(KeptAliveMs("127.0.0.123", 8080, serverForm, requests / 5));
            keptRelayedMs.push_back(KeptAliveMs("127.0.0.1", socksRelay.Port(), proxyForm, requests / 5));
        }
        // A thousand at once through the relay.
        constexpr int kCrowd = 1000;
        std::vector<SOCKET> crowd;
        const LARGE_INTEGER crowdStart = Now();
        for (int link = 0; link < kCrowd; ++link) {
            crowd.push_back(Connect(socksRelay.Port()));
            send(crowd.back(), proxyForm.data(), static_cast<int>(proxyForm.size()), 0);
        }
        int answered = 0;
        for (const SOCKET link : crowd)
            answered += ReadUntil(link, ';') ? 1 : 0;
        const double crowdMs = Milliseconds(crowdStart, Now());
        for (const SOCKET link : crowd)
            closesocket(link);

        std::printf("a 10 MB download, median of %d:\n", downloads);
        for (int way = 0; way < 3; ++way)
            std::printf("  %-44s %8.1f ms (%+.1f %%)\n", ways[way].name, Median(downloadMs[way]),
                        100.0 * (Median(downloadMs[way]) / Median(downloadMs[0]) - 1));
        std::printf("a small request on a connection of its own, %d each (median of five rounds' means):\n", requests);
        for (int way = 0; way < 3; ++way)
            std::printf("  %-44s %8.3f ms (%+.3f ms)\n", ways[way].name, Median(requestMs[way]),
                        Median(requestMs[way]) - Median(requestMs[0]));
        std::printf("  %-44s %8.3f ms\n", "the relay's own answer (it has no upstream)", Median(ownAnswerMs));
        std::printf("  %-44s %8.3f ms: one hop through a thread of this process\n",
                    "the same answer from a bare blocking thread", Median(bareAnswerMs));
        std::printf("requests kept alive on one connection, %d each (median of five rounds' means):\n", requests);
        std::printf("  %-44s %8.3f ms\n", "straight to the site", Median(keptStraightMs));
        std::printf("  %-44s %8.3f ms (%+.3f ms)\n", "through the relay to microsocks (SOCKS 5)", Median(keptRelayedMs),
                    Median(keptRelayedMs) - Median(keptStraightMs));
        std::printf("%d connections at once through the relay to microsocks, a request each: %d answered in %.0f ms\n",
                    kCrowd, answered, crowdMs);
    } catch (const std::exception& error) {
        std::cerr << "relay_benchmark: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
