// What the program's relay costs a browser: a 10 MB download from the local service through a
// local tinyproxy, and many small requests (a connection each, as a browser's first request to a
// server), each straight to tinyproxy and through the relay in front of it, rounds taken in turn
// in the same run; then the same through the relay to a SOCKS 5 proxy (microsocks); and small
// requests on one kept connection (a browser's usual), through a tunnel that microsocks opens,
// asked of it straight and through the relay.
//   relay_benchmark [DOWNLOADS [REQUESTS]]   (default 7 and 500)
// Needs ZARNU_TEST_SERVICE (the service program) and ZARNU_TEST_HOST_TOOLS.

#include "BenchSupport.h"
#include "HostTools.h"
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

// A connection to `address`:`port`; INVALID_SOCKET where none could be made.
SOCKET ConnectTo(const std::string& address, unsigned short port)
{
    SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = inet_addr(address.c_str());
    BOOL noDelay = TRUE;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    if (connect(connection, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        closesocket(connection);
        return INVALID_SOCKET;
    }
    return connection;
}

// Sends `bytes` and reads until `done` says the bytes read are whole; false where the connection
// failed first.
template <typename Done>
bool Exchange(SOCKET connection, const std::string& bytes, Done done)
{
    if (send(connection, bytes.data(), static_cast<int>(bytes.size()), 0) != static_cast<int>(bytes.size()))
        return false;
    std::string read;
    char buffer[16384];
    while (!done(read)) {
        const int count = recv(connection, buffer, sizeof buffer, 0);
        if (count <= 0)
            return false;
        read.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

// A whole HTTP answer with a Content-Length.
bool WholeAnswer(const std::string& read)
{
    const std::size_t end = read.find("\r\n\r\n");
    const std::size_t length = read.find("Content-Length: ");
    return end != std::string::npos && length != std::string::npos &&
           read.size() >= end + 4 + std::stoul(read.substr(length + 16));
}

// The time each of `requests` requests takes on one connection through a tunnel to the
// service's `port` that `open` opened on `connection`.
double KeptRequestMs(SOCKET connection, unsigned short port, int requests)
{
    const std::string request = "GET " + std::string(IpCheckPagePath) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(port) + "\r\n\r\n";
    const LARGE_INTEGER start = Now();
    for (int i = 0; i < requests; ++i)
        if (!Exchange(connection, request, WholeAnswer)) {
            std::cerr << "a kept connection failed after " << i << " requests\n";
            return 0;
        }
    return Milliseconds(start, Now()) / requests;
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
        relay.SetUpstream(tinyproxy.Host(), ProxyKind::Http);
        socksRelay.SetUpstream(microsocks.Host(), ProxyKind::Socks5);

        const std::string host = service.Host();
        const std::string download = "GET http://" + host + ProxyListPath + " HTTP/1.0\r\nHost: " + host +
                                     "\r\nAuthorization: " + BasicAuthorization("bench", ServicePassword) + "\r\n\r\n";
        const std::string small = "GET http://" + host + IpCheckPagePath + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
        const Way ways[] = {{"straight to tinyproxy", "127.0.0.121", 8888},
                            {"through the relay to tinyproxy", "127.0.0.1", relay.Port()},
                            {"through the relay to microsocks (SOCKS 5)", "127.0.0.1", socksRelay.Port()}};
        std::vector<double> downloadMs[3], requestMs[3], ownAnswerMs;
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
        }
        // Kept connections: straight through microsocks (its handshake done here), and through
        // the relay, which is asked for the tunnel as a browser asks.
        const auto servicePort = static_cast<unsigned short>(std::stoi(host.substr(host.rfind(':') + 1)));
        std::vector<double> keptMs[2];
        for (int round = 0; round < 5; ++round) {
            const SOCKET straight = ConnectTo("127.0.0.122", 1080);
            for (const HandshakeStep& step : SocksSteps(ProxyKind::Socks5, "127.0.0.1", servicePort))
                Exchange(straight, step.request, [&](const std::string& read) { return step.read(read).state != StepReply::More; });
            keptMs[0].push_back(KeptRequestMs(straight, servicePort, requests / 5));
            closesocket(straight);
            const SOCKET relayed = ConnectTo("127.0.0.1", socksRelay.Port());
            Exchange(relayed, "CONNECT 127.0.0.1:" + std::to_string(servicePort) + " HTTP/1.1\r\n\r\n",
                     [](const std::string& read) { return read.find("\r\n\r\n") != std::string::npos; });
            keptMs[1].push_back(KeptRequestMs(relayed, servicePort, requests / 5));
            closesocket(relayed);
        }

        std::printf("a 10 MB download, median of %d:\n", downloads);
        for (int way = 0; way < 3; ++way)
            std::printf("  %-44s %8.1f ms (%+.1f %%)\n", ways[way].name, Median(downloadMs[way]),
                        100.0 * (Median(downloadMs[way]) / Median(downloadMs[0]) - 1));
        std::printf("a small request on a connection of its own, %d each (median of five rounds' means):\n", requests);
        for (int way = 0; way < 3; ++way)
            std::printf("  %-44s %8.3f ms (%+.3f ms)\n", ways[way].name, Median(requestMs[way]),
                        Median(requestMs[way]) - Median(requestMs[0]));
        std::printf("  %-44s %8.3f ms: what the platform's sockets cost a hop, with no proxy\n",
                    "the relay's own answer (it has no upstream)", Median(ownAnswerMs));
        std::printf("a small request on one kept connection, through a tunnel of microsocks, %d each:\n", requests);
        std::printf("  %-44s %8.3f ms\n", "straight to microsocks", Median(keptMs[0]));
        std::printf("  %-44s %8.3f ms (%+.3f ms)\n", "through the relay to microsocks", Median(keptMs[1]),
                    Median(keptMs[1]) - Median(keptMs[0]));
    } catch (const std::exception& error) {
        std::cerr << "relay_benchmark: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
