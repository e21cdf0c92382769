#include "HostileProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kForeignCaller = "203.0.113.50";

bool SendAll(int connection, const std::string& bytes)
{
    return send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// A request's head, up to its empty line (at most 8 KB, waiting at most a second).
std::string ReadHead(int connection)
{
    timeval wait{1, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string head;
    char byte = 0;
    while (head.size() < 8192 && head.find("\r\n\r\n") == std::string::npos && recv(connection, &byte, 1, 0) == 1)
        head += byte;
    return head;
}

std::string ReadToEnd(int connection)
{
    std::string all;
    char buffer[4096];
    for (ssize_t count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, static_cast<std::size_t>(count));
    return all;
}

std::string Ok(const std::string& body)
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The request line's target, and its token.
std::string Target(const std::string& head)
{
    std::istringstream line(head);
    std::string method, target;
    line >> method >> target;
    return target;
}

std::string TokenOf(const std::string& head)
{
    std::smatch match;
    const std::string target = Target(head);
    return std::regex_search(target, match, std::regex("token=([0-9a-fA-F]+)")) ? match[1].str() : "";
}

std::string ForgedPage(const std::string& head, const char* side)
{
    return std::string("REMOTE_ADDR = ") + kForeignCaller + "\nZARNU_SIDE = " + side +
           "\nHTTP_USER_AGENT = Mozilla/5.0\nZARNU_TOKEN = " + TokenOf(head) + "\nZARNU_SIGNATURE = " +
           std::string(128, 'a') + "\n";
}

int ConnectTo(const std::string& hostAndPort)
{
    const std::size_t colon = hostAndPort.rfind(':');
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(std::stoi(hostAndPort.substr(colon + 1))));
    const int connection = socket(AF_INET, SOCK_STREAM, 0);
    if (inet_pton(AF_INET, hostAndPort.substr(0, colon).c_str(), &target.sin_addr) != 1 ||
        connect(connection, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(connection);
        return -1;
    }
    return connection;
}

// Sends `request` to `hostAndPort` and returns its whole answer, the caller's address in it
// replaced.
std::string RelayRewritten(const std::string& hostAndPort, const std::string& request)
{
    const int upstream = ConnectTo(hostAndPort);
    if (upstream < 0)
        return "";
    SendAll(upstream, request);
    const std::string answer = ReadToEnd(upstream);
    close(upstream);
    const std::size_t split = answer.find("\r\n\r\n");
    if (split == std::string::npos)
        return answer;
    const std::string body = std::regex_replace(answer.substr(split + 4), std::regex("REMOTE_ADDR = [^\n]*"),
                                                std::string("REMOTE_ADDR = ") + kForeignCaller);
    const std::string head = std::regex_replace(answer.substr(0, split + 4), std::regex("Content-Length: [0-9]+"),
                                                "Content-Length: " + std::to_string(body.size()));
    return head + body;
}

// "GET http://host:port/path HTTP/1.x" as the server itself is asked: "GET /path HTTP/1.0".
std::string AsOriginRequest(const std::string& head, std::string& hostAndPort)
{
    const std::string target = Target(head);
    const std::size_t hostStart = target.find("//") + 2;
    const std::size_t pathStart = target.find('/', hostStart);
    hostAndPort = target.substr(hostStart, pathStart - hostStart);
    return "GET " + target.substr(pathStart) + " HTTP/1.0" + head.substr(head.find("\r\n"));
}

// "drip" and "flood": a head that never ends.
void EndlessHead(int connection, const std::string& kind)
{
    if (kind == "drip") {
        const std::string start = "HTTP/1.1 200 OK\r\nX-Drip: ";
        for (std::size_t sent = 0; SendAll(connection, std::string(1, sent < start.size() ? start[sent] : 'x')); ++sent)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        return;
    }
    const std::string line = "X-Flood: " + std::string(1000, 'x') + "\r\n";
    for (bool sent = SendAll(connection, "HTTP/1.1 200 OK\r\n"); sent;)
        sent = SendAll(connection, line);
}

// "redirect", "binary" and "huge": a good page in a way no check may take.
void SpoiltPage(int connection, const std::string& kind)
{
    const std::string page = "REMOTE_ADDR = 127.0.0.1\n";
    if (kind == "huge") {
        const std::size_t size = 64u << 20;
        std::string block;
        while (block.size() < 64 * 1024)
            block += page;
        if (SendAll(connection, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                    std::to_string(size / block.size() * block.size()) + "\r\nConnection: close\r\n\r\n"))
            for (std::size_t sent = 0; sent + block.size() <= size && SendAll(connection, block); sent += block.size()) {
            }
        return;
    }
    const std::string body = kind == "binary" ? page + std::string("\0\1\2\3", 4) + page : page;
    SendAll(connection, std::string(kind == "binary" ? "HTTP/1.1 200 OK" : "HTTP/1.1 302 Found\r\nLocation: /") +
                            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

// "forge" and "replay": a page of its own for every request, the tunnel's included.
void OwnPage(int connection, const std::string& kind, const std::string& head, const std::filesystem::path& root)
{
    const auto answer = [&](const std::string& request, const char* side) {
        if (kind == "forge")
            return Ok(ForgedPage(request, side));
        std::ifstream recorded(root / "replay.page", std::ios::binary);
        std::ostringstream body;
        body << recorded.rdbuf();
        return Ok(body.str());
    };
    const bool tunnel = head.rfind("CONNECT ", 0) == 0;
    if (tunnel && SendAll(connection, "HTTP/1.0 200 Connection established\r\n\r\n"))
        SendAll(connection, answer(ReadHead(connection), "tunnel"));
    else if (!tunnel)
        SendAll(connection, answer(head, "web"));
}

// "rewrite": a real proxy that changes the page it relays.
void RewritingRelay(int connection, const std::string& head)
{
    if (head.rfind("CONNECT ", 0) == 0) {
        if (SendAll(connection, "HTTP/1.0 200 Connection established\r\n\r\n"))
            SendAll(connection, RelayRewritten(Target(head), ReadHead(connection)));
        return;
    }
    std::string hostAndPort;
    const std::string request = AsOriginRequest(head, hostAndPort);
    SendAll(connection, RelayRewritten(hostAndPort, request));
}

// Passes what `from` sends on to `to`, each chunk `delay` after it came, until `from` ends; then
// ends `to`'s sending side.
void DelayedPipe(int from, int to, std::chrono::milliseconds delay)
{
    struct Chunk {
        std::chrono::steady_clock::time_point due;
        std::string bytes; // empty: `from` has ended
    };
    std::mutex lock;
    std::condition_variable added;
    std::deque<Chunk> chunks;
    std::thread sender([&] {
        for (bool sending = true; sending;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> hold(lock);
                added.wait(hold, [&] { return !chunks.empty(); });
                chunk = std::move(chunks.front());
                chunks.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            sending = !chunk.bytes.empty() && SendAll(to, chunk.bytes);
        }
        shutdown(to, SHUT_WR);
    });
    char buffer[16384];
    for (ssize_t count = 1; count > 0;) {
        count = recv(from, buffer, sizeof buffer, 0);
        {
            const std::lock_guard<std::mutex> hold(lock);
            chunks.push_back({std::chrono::steady_clock::now() + delay,
                              std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)))});
        }
        added.notify_one();
    }
    sender.join();
}

// "far": every chunk held `delayMs` on its way, each way; to the proxy that `root`/relay-to names
// where that file is there.
void FarRelay(int connection, const HostileOptions& options, const std::filesystem::path& root)
{
    std::string to;
    std::ifstream(root / "relay-to") >> to;
    const int upstream = ConnectTo(to.empty() ? options.relayTo : to);
    if (upstream >= 0) {
        const std::chrono::milliseconds delay(options.delayMs);
        std::thread down(DelayedPipe, upstream, connection, delay);
        DelayedPipe(connection, upstream, delay);
        down.join();
        close(upstream);
    }
    close(connection);
}

// "socks-garble": a SOCKS 5 proxy that opens a connection to port 443 (to `relayTo`, whatever the
// host asked) and answers any other with bytes of no protocol.
void GarblingSocks(int connection, const HostileOptions& options)
{
    timeval wait{5, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    unsigned char request[262];
    if (recv(connection, request, 3, MSG_WAITALL) != 3 || request[0] != 5 || !SendAll(connection, std::string("\x05\x00", 2)) ||
        recv(connection, request, 5, MSG_WAITALL) != 5)
        return;
    const std::size_t rest = (request[3] == 1 ? 4 : request[3] == 3 ? request[4] + 1 : 16) + 2 - 1;
    if (recv(connection, request + 5, rest, MSG_WAITALL) != static_cast<ssize_t>(rest))
        return;
    const unsigned port = request[5 + rest - 2] << 8 | request[5 + rest - 1];
    const int upstream = port == 443 ? ConnectTo(options.relayTo) : -1;
    if (upstream < 0) {
        SendAll(connection, "\x17\x03\x03 no protocol at all\r\n\r\n");
        return;
    }
    if (SendAll(connection, std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x01\xbb", 10))) {
        std::thread down(DelayedPipe, upstream, connection, std::chrono::milliseconds(0));
        DelayedPipe(connection, upstream, std::chrono::milliseconds(0));
        down.join();
    }
    close(upstream);
}

void Answer(int connection, const HostileOptions& options, const std::filesystem::path& root)
{
    const std::string& kind = options.kind;
    if (kind == "far") {
        FarRelay(connection, options, root);
        return;
    }
    if (kind == "socks-garble") {
        GarblingSocks(connection, options);
        close(connection);
        return;
    }
    if (kind == "hangup") { // whatever comes first, in any protocol
        timeval wait{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char first[4096];
        recv(connection, first, sizeof first, 0);
        close(connection);
        return;
    }
    const std::string head = ReadHead(connection);
    if (kind == "drip" || kind == "flood")
        EndlessHead(connection, kind);
    else if (kind == "redirect" || kind == "binary" || kind == "huge")
        SpoiltPage(connection, kind);
    else if (kind == "forge" || kind == "replay")
        OwnPage(connection, kind, head, root);
    else if (kind == "rewrite")
        RewritingRelay(connection, head);
    else if (kind == "refuse-account")
        SendAll(connection, "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"proxy\"\r\n"
                            "Content-Length: 0\r\n\r\n");
    shutdown(connection, SHUT_WR);
    char rest[4096];
    while (recv(connection, rest, sizeof rest, 0) > 0) {
    }
    close(connection);
}

void WritePortFile(const std::filesystem::path& root, int port)
{
    // Written whole, then renamed, so a reader never sees half a number.
    std::ofstream(root / "port.tmp") << port << '\n';
    std::filesystem::rename(root / "port.tmp", root / "port");
}

} // namespace

int ServeHostile(const std::filesystem::path& root, const std::string& address, int port, const HostileOptions& options)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof local;
    const int reuse = 1; // a port that an earlier proxy of the test left in TIME_WAIT
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (listener < 0 || inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener, 512) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        std::cerr << "zarnu-service: cannot listen on " << address << "\n";
        return 1;
    }
    WritePortFile(root, ntohs(local.sin_port));
    for (;;) {
        const int connection = accept(listener, nullptr, nullptr);
        if (connection >= 0)
            std::thread(Answer, connection, options, root).detach();
    }
}
