#include "relay/Relay.h"

#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "win/SocketSet.h"
#include "win/StartThread.h"
#include "win/SystemErrorText.h"
#include "win/WinsockSession.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace {

// How long the relay's thread waits at most before it looks at the links' deadlines again.
constexpr ULONGLONG kLongestWaitMs = 1000;
// The listener, the wake-up socket and two sockets a link.
using RelaySockets = SocketSet<2 + 2 * Relay::kMostLinks>;

sockaddr_in Loopback(unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket of `type` on 127.0.0.1:`port`, non-blocking; raises std::runtime_error with `what`.
UniqueSocket BoundSocket(int type, unsigned short port, const char* what)
{
    UniqueSocket bound(socket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP));
    const sockaddr_in address = Loopback(port);
    u_long nonBlocking = 1;
    // No other program may take the port beside it (where the platform offers that).
    BOOL exclusive = TRUE;
    if (bound)
        setsockopt(bound.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (!bound || bind(bound.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(bound.get(), SOMAXCONN) != 0) ||
        ioctlsocket(bound.get(), FIONBIO, &nonBlocking) != 0)
        throw std::runtime_error(std::string(what) + ": " + SystemErrorText(static_cast<DWORD>(WSAGetLastError())));
    return bound;
}

unsigned short PortOf(SOCKET bound)
{
    sockaddr_in address{};
    int length = sizeof address;
    getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A caller of this machine's loopback: 127.0.0.0/8, ::1, or 127.x mapped into IPv6.
bool FromLoopback(const sockaddr_storage& caller)
{
    if (caller.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(caller).sin_addr.s_addr) >> 24) == 127;
    if (caller.ss_family != AF_INET6)
        return false;
    const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(caller).sin6_addr;
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(address.s6_addr, loopback, 16) == 0 ||
           (std::memcmp(address.s6_addr, mapped, 12) == 0 && address.s6_addr[12] == 127);
}

} // namespace

struct Relay::Shared {
    WinsockSession winsock{MAKEWORD(2, 2)};
    UniqueSocket listener;
    UniqueSocket wake; // a datagram to it ends the thread's wait
    sockaddr_in wakeAddress{};
    Relay::OpeningFailed openingFailed;

    std::mutex lock;
    std::shared_ptr<const Upstream> upstream;
    bool ending = false;

    void Wake()
    {
        const char poke = 0;
        sendto(wake.get(), &poke, 1, 0, reinterpret_cast<const sockaddr*>(&wakeAddress), sizeof wakeAddress);
    }
};

namespace {

class Loop {
public:
    explicit Loop(std::shared_ptr<Relay::Shared> shared) : shared_(std::move(shared)) {}

    void Run()
    {
        while (TakeNews()) {
            Wait();
            const ULONGLONG now = GetTickCount64();
            Accept(now);
            AdvanceLinks(now);
        }
    }

private:
    enum Ready : unsigned { kReadable = 1, kWritable = 2, kFailed = 4 };

    // The upstream in use; false once the relay is ending. Links through one left are closed.
    bool TakeNews()
    {
        std::shared_ptr<const Upstream> upstream;
        {
            const std::lock_guard<std::mutex> hold(shared_->lock);
            if (shared_->ending)
                return false;
            upstream = shared_->upstream;
        }
        if (upstream != current_) {
            current_ = std::move(upstream);
            const ULONGLONG now = GetTickCount64();
            for (const auto& link : links_) {
                if (link->Through() && link->Through() != current_)
                    link->Close();
                link->Resume(current_, now);
            }
            Sweep();
        }
        return true;
    }

    void Wait()
    {
        for (RelaySockets& set : sets_)
            set.Clear();
        sets_[0].Add(shared_->listener.get());
        sets_[0].Add(shared_->wake.get());
        ULONGLONG nearest = GetTickCount64() + kLongestWaitMs;
        for (const auto& link : links_) {
            nearest = std::min(nearest, link->Deadline());
            Add(link->BrowserSocket(), link->BrowserWants(), false);
            Add(link->UpstreamSocket(), link->UpstreamWants(), link->UpstreamSocket() != INVALID_SOCKET);
        }
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG waitMs = nearest > now ? nearest - now : 0;
        timeval timeout{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000 * 1000)};
        ready_.clear();
        if (select(0, sets_[0].Get(), sets_[1].Get(), sets_[2].Get(), &timeout) <= 0)
            return;
        const unsigned flags[] = {kReadable, kWritable, kFailed};
        for (int set = 0; set < 3; ++set)
            for (u_int i = 0; i < sets_[set].fd_count; ++i)
                ready_[sets_[set].fd_array[i]] |= flags[set];
        if (ready_.count(shared_->wake.get())) {
            char pokes[64];
            while (recv(shared_->wake.get(), pokes, sizeof pokes, 0) > 0) {
            }
        }
    }

    void Add(SOCKET socket, unsigned wants, bool failures)
    {
        if (socket == INVALID_SOCKET)
            return;
        if (wants & RelayLink::kRead)
            sets_[0].Add(socket);
        if (wants & RelayLink::kWrite)
            sets_[1].Add(socket);
        if (failures)
            sets_[2].Add(socket);
    }

    unsigned ReadyOf(SOCKET socket) const
    {
        const auto found = socket == INVALID_SOCKET ? ready_.end() : ready_.find(socket);
        return found == ready_.end() ? 0 : found->second;
    }

    void Accept(ULONGLONG now)
    {
        if (!(ReadyOf(shared_->listener.get()) & kReadable))
            return;
        for (;;) {
            sockaddr_storage caller{};
            int length = sizeof caller;
            UniqueSocket browser(accept(shared_->listener.get(), reinterpret_cast<sockaddr*>(&caller), &length));
            if (!browser)
                return;
            u_long nonBlocking = 1;
            if (!FromLoopback(caller) || links_.size() >= Relay::kMostLinks ||
                ioctlsocket(browser.get(), FIONBIO, &nonBlocking) != 0)
                continue; // closed unanswered
            links_.push_back(std::make_unique<RelayLink>(std::move(browser), now));
            // A browser sends its request with the connection: it is read now, not after a wait.
            links_.back()->Advance(true, true, false, false, false, current_, now);
        }
    }

    void AdvanceLinks(ULONGLONG now)
    {
        for (const auto& link : links_) {
            const unsigned browser = ReadyOf(link->BrowserSocket());
            const unsigned upstream = ReadyOf(link->UpstreamSocket());
            if (browser || upstream)
                link->Advance(browser & kReadable, browser & kWritable, upstream & kReadable, upstream & kWritable,
                              upstream & kFailed, current_, now);
            link->Expire(now);
            const auto failure = link->TakeFailure();
            if (failure && shared_->openingFailed) {
                try {
                    shared_->openingFailed(link->Through()->proxy, *failure);
                } catch (...) {
                    // out of memory: this failure goes untold
                }
            }
        }
        Sweep();
    }

    void Sweep()
    {
        links_.erase(std::remove_if(links_.begin(), links_.end(), [](const auto& link) { return link->Ended(); }),
                     links_.end());
    }

    std::shared_ptr<Relay::Shared> shared_;
    std::shared_ptr<const Upstream> current_;
    std::vector<std::unique_ptr<RelayLink>> links_;
    RelaySockets sets_[3]; // readable, writable, failed
    std::unordered_map<SOCKET, unsigned> ready_;
};

unsigned WINAPI RunLoop(void* loop)
{
    const std::unique_ptr<Loop> owned(static_cast<Loop*>(loop));
    owned->Run();
    return 0;
}

} // namespace

Relay::Relay(OpeningFailed openingFailed, unsigned short port) : shared_(std::make_shared<Shared>())
{
    shared_->openingFailed = std::move(openingFailed);
    shared_->listener = BoundSocket(SOCK_STREAM, port, "The relay cannot listen");
    shared_->wake = BoundSocket(SOCK_DGRAM, 0, "The relay cannot listen");
    shared_->wakeAddress = Loopback(PortOf(shared_->wake.get()));
    port_ = PortOf(shared_->listener.get());
    thread_ = StartThread(&RunLoop, std::make_unique<Loop>(shared_));
}

Relay::~Relay()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->ending = true;
    }
    shared_->Wake();
    WaitForSingleObject(thread_.get(), INFINITE);
}

std::string Relay::Address() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

bool Relay::SetUpstream(const std::string& proxy, std::optional<ProxyKind> kind)
{
    const HostPort where = SplitHostPort(ProxyLineAddress(proxy), 0);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (where.host.empty() || where.port == 0 ||
        getaddrinfo(where.host.c_str(), std::to_string(where.port).c_str(), &hints, &found) != 0 || !found)
        return false;
    auto upstream = std::make_shared<Upstream>();
    upstream->proxy = proxy;
    upstream->kind = kind;
    std::memcpy(&upstream->address, found->ai_addr, found->ai_addrlen);
    upstream->addressLength = static_cast<int>(found->ai_addrlen);
    freeaddrinfo(found);
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        const auto& now = shared_->upstream;
        if (now && now->proxy == proxy && now->kind == kind)
            return true; // its connections stay
        shared_->upstream = std::move(upstream);
    }
    shared_->Wake();
    return true;
}

void Relay::ClearUpstream()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->upstream.reset();
    }
    shared_->Wake();
}
