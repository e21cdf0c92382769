#include "verify/ProxyCheck.h"

#include "core/ServiceUrl.h"
#include "net/InternetSession.h"
#include "win/UniqueHandle.h"
#include "win/WinsockSession.h"

#include <windows.h>
#include <process.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kMostPageBytes = 64 * 1024;
// Address space reserved for the stack of a page fetched aside; it needs a small part of it.
constexpr unsigned kAsideStack = 256 * 1024;
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_AUTH;

class Deadline {
public:
    explicit Deadline(unsigned limitMs) : start_(GetTickCount64()), limitMs_(limitMs) {}
    DWORD Left() const { return Elapsed() >= limitMs_ ? 0 : static_cast<DWORD>(limitMs_ - Elapsed()); }
    bool Passed() const { return Left() == 0; }
    unsigned Elapsed() const { return static_cast<unsigned>(GetTickCount64() - start_); }

private:
    ULONGLONG start_;
    unsigned limitMs_;
};

// What the platform's client may wait for in one step: no more than what is left.
void LimitWaits(HINTERNET handle, DWORD milliseconds)
{
    for (const DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds);
}

std::string HostOf(const std::string& hostAndPort)
{
    return hostAndPort.substr(0, hostAndPort.rfind(':'));
}

// The port of "host:port"; `otherwise` where there is none.
unsigned short PortOf(const std::string& hostAndPort, unsigned short otherwise)
{
    const std::size_t colon = hostAndPort.rfind(':');
    return colon == std::string::npos ? otherwise
                                      : static_cast<unsigned short>(std::atoi(hostAndPort.c_str() + colon + 1));
}

// A connected socket, closed when the object goes.
class Connection {
public:
    ~Connection()
    {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
    }

    // Connects to `hostAndPort` without blocking longer than `deadline` allows.
    bool Open(const std::string& hostAndPort, const Deadline& deadline)
    {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(PortOf(hostAndPort, 0));
        if (target.sin_port == 0)
            return false;
        target.sin_addr.s_addr = inet_addr(HostOf(hostAndPort).c_str());
        if (target.sin_addr.s_addr == INADDR_NONE) {
            const hostent* entry = gethostbyname(HostOf(hostAndPort).c_str());
            if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0])
                return false;
            std::memcpy(&target.sin_addr, entry->h_addr_list[0], sizeof target.sin_addr);
        }
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        if (socket_ == INVALID_SOCKET || ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0)
            return false;
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
            return true;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        // A connection that fails (refused, say) is reported among the exceptions, at once.
        const DWORD left = deadline.Left();
        fd_set connected;
        fd_set failed;
        FD_ZERO(&connected);
        FD_SET(socket_, &connected);
        FD_ZERO(&failed);
        FD_SET(socket_, &failed);
        timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
        return select(0, nullptr, &connected, &failed, &timeout) == 1 && FD_ISSET(socket_, &connected);
    }

    bool SendAll(const std::string& text, const Deadline& deadline)
    {
        for (std::size_t sent = 0; sent < text.size();) {
            if (!Wait(false, deadline))
                return false;
            const int count = send(socket_, text.data() + sent, static_cast<int>(text.size() - sent), 0);
            if (count <= 0)
                return false;
            sent += static_cast<std::size_t>(count);
        }
        return true;
    }

    // The first line of the answer, up to 512 bytes; empty where it did not end in time.
    std::string FirstLine(const Deadline& deadline)
    {
        std::string line;
        char buffer[512];
        while (line.find('\n') == std::string::npos && line.size() < sizeof buffer && Wait(true, deadline)) {
            const int count = recv(socket_, buffer, static_cast<int>(sizeof buffer - line.size()), 0);
            if (count <= 0)
                break;
            line.append(buffer, static_cast<std::size_t>(count));
        }
        const std::size_t end = line.find('\n');
        return end == std::string::npos ? std::string() : line.substr(0, end);
    }

private:
    bool Wait(bool forReading, const Deadline& deadline) const
    {
        const DWORD left = deadline.Left();
        if (left == 0)
            return false;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket_, &set);
        timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
        return select(0, forReading ? &set : nullptr, forReading ? nullptr : &set, nullptr, &timeout) == 1;
    }

    SOCKET socket_ = INVALID_SOCKET;
};

// The page's part of a check, fetched on a thread of its own. The check and the thread share
// it; whichever lets go last frees it.
struct AsideFetch : std::enable_shared_from_this<AsideFetch> {
    AsideFetch(std::string service, RequestWay way, unsigned limitMs)
        : service(std::move(service)), way(std::move(way)), limitMs(limitMs)
    {
    }

    // False when no thread could be had.
    bool Start()
    {
        if (!done)
            return false;
        auto* share = new std::shared_ptr<AsideFetch>(shared_from_this());
        const UniqueKernelHandle thread(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, kAsideStack, &Run, share, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)));
        if (!thread)
            delete share;
        return static_cast<bool>(thread);
    }

    static unsigned WINAPI Run(void* share)
    {
        const std::unique_ptr<std::shared_ptr<AsideFetch>> self(static_cast<std::shared_ptr<AsideFetch>*>(share));
        AsideFetch& fetch = **self;
        try {
            fetch.result = FetchIpCheckPage(fetch.service, fetch.way, fetch.limitMs);
        } catch (...) {
            // out of memory: the page failed
        }
        SetEvent(fetch.done.get()); // after the result: a waiter that sees it set reads it whole
        return 0;
    }

    const std::string service;
    const RequestWay way;
    const unsigned limitMs;
    PageFetch result;
    const UniqueKernelHandle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

} // namespace

PageFetch FetchIpCheckPage(const std::string& service, const RequestWay& way, unsigned limitMs)
{
    const Deadline deadline(limitMs);
    const UniqueHInternet internet = OpenInternetSession(way, ExecutableFileName());
    if (!internet)
        return {};
    LimitWaits(internet.get(), deadline.Left());
    const UniqueHInternet connection(InternetConnectA(internet.get(), HostOf(service).c_str(),
                                                      PortOf(service, INTERNET_DEFAULT_HTTP_PORT), nullptr, nullptr,
                                                      INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return {};
    LimitWaits(connection.get(), deadline.Left());
    const UniqueHInternet request(
        HttpOpenRequestA(connection.get(), "GET", IpCheckPagePath, nullptr, nullptr, nullptr, kRequestFlags, 0));
    if (!request)
        return {};
    LimitWaits(request.get(), deadline.Left());
    // One request a connection: Wine's client would hand a kept connection to the same server
    // to a later request that is to go another way (through a proxy, or not).
    const char headers[] = "Connection: close\r\n";
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpSendRequestA(request.get(), headers, sizeof headers - 1, nullptr, 0) || deadline.Passed() ||
        !HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != 200)
        return {};
    std::string page;
    char buffer[4096];
    for (;;) {
        if (deadline.Passed())
            return {}; // cut off, however much keeps dripping in
        LimitWaits(request.get(), deadline.Left());
        DWORD count = 0;
        if (!InternetReadFile(request.get(), buffer, sizeof buffer, &count))
            return {};
        if (count == 0)
            break;
        page.append(buffer, count);
        if (page.size() > kMostPageBytes)
            return {};
    }
    if (page.find('\0') != std::string::npos)
        return {};
    return {true, deadline.Elapsed(), page};
}

bool TunnelsToHttps(const std::string& proxy, const std::string& service, unsigned limitMs)
{
    const Deadline deadline(limitMs);
    const WinsockSession winsock(MAKEWORD(2, 2));
    Connection connection;
    const std::string target = HostOf(service) + ":443";
    if (!winsock.Started() || !connection.Open(proxy, deadline) ||
        !connection.SendAll("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n", deadline))
        return false;
    const std::string line = connection.FirstLine(deadline);
    // "HTTP/1.x 2nn ..."
    return line.size() >= 12 && line.compare(0, 7, "HTTP/1.") == 0 && line[8] == ' ' && line[9] == '2' &&
           std::isdigit(static_cast<unsigned char>(line[10])) && std::isdigit(static_cast<unsigned char>(line[11]));
}

ProxyVerdict CheckProxy(const std::string& proxy, const std::string& service,
                        const std::optional<std::string>& usersAddress, unsigned limitMs)
{
    // "<-loopback>": through the proxy even where the service is on this machine.
    const RequestWay throughProxy{RequestWay::Kind::Proxy, std::u16string(proxy.begin(), proxy.end()), u"<-loopback>"};
    const Deadline deadline(limitMs);
    // The two parts side by side: the check takes the limit at the most. The platform's client
    // times each receive, not the whole answer, so a proxy that drips its headers byte by byte
    // could hold the page's part for as long as it likes; and closing its handles does not
    // always end a request in progress. The page is therefore fetched on a thread of its own,
    // which a check that reaches its limit leaves behind to end on its own (when the proxy
    // stops), counting the page as failed.
    const auto aside = std::make_shared<AsideFetch>(service, throughProxy, limitMs);
    const bool fetchingAside = aside->Start();
    ProxyVerdict verdict;
    verdict.https = TunnelsToHttps(proxy, service, limitMs);
    PageFetch web; // failed, unless it came in time
    if (!fetchingAside) // short of threads: one part after the other, here
        web = FetchIpCheckPage(service, throughProxy, limitMs);
    else if (WaitForSingleObject(aside->done.get(), deadline.Left()) == WAIT_OBJECT_0)
        web = aside->result;
    // A page that shows no caller is not the page asked for: some server answered in its place.
    if (web.fetched && CallerAddress(web.page)) {
        verdict.webMs = web.milliseconds;
        verdict.anonymity = JudgeAnonymity(web.page, usersAddress);
    }
    return verdict;
}

std::vector<std::string> VerdictCells(const ProxyVerdict& verdict)
{
    return {verdict.webMs ? std::to_string(*verdict.webMs) : "fails", verdict.https ? "yes" : "no",
            verdict.anonymity ? AnonymityText(*verdict.anonymity) : ""};
}
