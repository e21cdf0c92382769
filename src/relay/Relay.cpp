#include "relay/Relay.h"

#include "core/ProxyAccount.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
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

// The caller's address (its bytes), as its share of the relay is counted.
std::string CallerOf(const sockaddr_storage& caller)
{
    if (caller.ss_family == AF_INET6) {
        const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(caller).sin6_addr;
        return std::string(reinterpret_cast<const char*>(address.s6_addr), sizeof address.s6_addr);
    }
    const in_addr& address = reinterpret_cast<const sockaddr_in&>(caller).sin_addr;
    return std::string(reinterpret_cast<const char*>(&address), sizeof address);
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
    std::size_t mostLinks = Relay::kMostLinks;
    bool breakNow = false; // for tests: the relay's thread fails as if its work had thrown
    UniqueKernelHandle broken{CreateEventA(nullptr, TRUE, FALSE, nullptr)}; // set once it has

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
        try {
            while (TakeNews()) {
                Wait();
                const ULONGLONG now = GetTickCount64();
                AdvanceLinks(now);
                HoldWithinBound();
                Accept(now);
                Sweep();
            }
        } catch (...) {
            // No way through any proxy is left open, and the browser is answered 502 from now on,
            // never let through directly.
            links_.clear();
            callers_.clear();
            SetEvent(shared_->broken.get());
            Tell(std::string(), PathFailure::RelayBroke);
            AnswerEveryCaller();
        }
    }

private:
    // The upstream in use; false once the relay is ending. Links through one left are closed.
    bool TakeNews()
    {
        std::shared_ptr<const Upstream> upstream;
        {
            const std::lock_guard<std::mutex> hold(shared_->lock);
            if (shared_->ending)
                return false;
            if (shared_->breakNow)
                throw std::runtime_error("the relay was broken on purpose");
            upstream = shared_->upstream;
        }
        if (upstream != current_) {
            current_ = std::move(upstream);
            const ULONGLONG now = GetTickCount64();
            for (const auto& link : links_) {
                if (link->Through() && link->Through() != current_)
                    link->Close();
                link->Resume(latest_, now);
            }
            Sweep();
        }
        return true;
    }

    void Wait()
    {
        polled_.clear();
        polled_.push_back({shared_->listener.get(), POLLRDNORM, 0});
        polled_.push_back({shared_->wake.get(), POLLRDNORM, 0});
        ULONGLONG nearest = GetTickCount64() + kLongestWaitMs;
        for (const auto& link : links_) {
            nearest = std::min(nearest, link->Deadline());
            Add(link->BrowserSocket(), link->BrowserWants());
            Add(link->UpstreamSocket(), link->UpstreamWants());
        }
        const ULONGLONG now = GetTickCount64();
        const int waitMs = static_cast<int>(nearest > now ? nearest - now : 0);
        ready_.clear();
        if (WSAPoll(polled_.data(), static_cast<ULONG>(polled_.size()), waitMs) <= 0)
            return;
        for (const WSAPOLLFD& polled : polled_) {
            if (!polled.revents)
                continue;
            unsigned& ready = ready_[polled.fd];
            if (polled.revents & (POLLRDNORM | POLLRDBAND))
                ready |= RelayLink::kRead;
            if (polled.revents & POLLWRNORM)
                ready |= RelayLink::kWrite;
            if (polled.revents & (POLLERR | POLLHUP | POLLNVAL))
                ready |= RelayLink::kFailed;
        }
        if (ready_.count(shared_->wake.get())) {
            char pokes[64];
            while (recv(shared_->wake.get(), pokes, sizeof pokes, 0) > 0) {
            }
        }
    }

    void Add(SOCKET socket, unsigned wants)
    {
        if (socket == INVALID_SOCKET || !wants)
            return;
        polled_.push_back({socket, static_cast<SHORT>(((wants & RelayLink::kRead) ? POLLRDNORM : 0) |
                                                      ((wants & RelayLink::kWrite) ? POLLWRNORM : 0)),
                           0});
    }

    unsigned ReadyOf(SOCKET socket) const
    {
        const auto found = socket == INVALID_SOCKET ? ready_.end() : ready_.find(socket);
        return found == ready_.end() ? 0 : found->second;
    }

    void Accept(ULONGLONG now)
    {
        if (!(ReadyOf(shared_->listener.get()) & (RelayLink::kRead | RelayLink::kFailed)))
            return;
        for (;;) {
            sockaddr_storage caller{};
            int length = sizeof caller;
            UniqueSocket browser(accept(shared_->listener.get(), reinterpret_cast<sockaddr*>(&caller), &length));
            if (!browser)
                return;
            u_long nonBlocking = 1;
            if (!FromLoopback(caller) || ioctlsocket(browser.get(), FIONBIO, &nonBlocking) != 0)
                continue; // closed unanswered
            if (links_.size() >= shared_->mostLinks)
                MakeRoom();
            links_.push_back(std::make_unique<RelayLink>(std::move(browser), now));
            callers_.push_back(CallerOf(caller));
            // A browser sends its request with the connection: it is read now, not after a wait.
            links_.back()->Advance(RelayLink::kRead | RelayLink::kWrite, 0, latest_, now);
            Told(*links_.back());
        }
    }

    // The relay is full: of the caller that holds the most links, the link quiet longest goes, so
    // that no crowd of idle connections keeps a new one out and no caller holds more than its
    // share. The owner hears of it once a second at most.
    void MakeRoom()
    {
        Sweep();
        if (links_.size() < shared_->mostLinks)
            return;
        std::unordered_map<std::string, std::size_t> held;
        for (const std::string& caller : callers_)
            ++held[caller];
        const std::string greediest =
            std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; })->first;
        std::size_t quietest = links_.size();
        for (std::size_t link = 0; link < links_.size(); ++link)
            if (callers_[link] == greediest && (quietest == links_.size() || links_[link]->LastMoved() < links_[quietest]->LastMoved()))
                quietest = link;
        links_[quietest]->Close();
        Sweep();
        const ULONGLONG now = GetTickCount64();
        if (now - lastFullTold_ >= 1000 || !lastFullTold_) {
            lastFullTold_ = now;
            Tell(current_ ? current_->proxy : std::string(), PathFailure::RelayFull);
        }
    }

    void AdvanceLinks(ULONGLONG now)
    {
        for (const auto& link : links_) {
            const unsigned browser = ReadyOf(link->BrowserSocket());
            const unsigned upstream = ReadyOf(link->UpstreamSocket());
            if (browser || upstream)
                link->Advance(browser, upstream, latest_, now);
            link->Expire(now);
            Told(*link);
        }
    }

    // Many downloads at once to slow readers would each hold a socket's worth for each side; past
    // a bound in all, each holds no more than a request's head.
    void HoldWithinBound()
    {
        std::size_t held = 0;
        for (const auto& link : links_)
            held += link->Held();
        RelayLink::HoldLittle(held > Relay::kMostHeldInAll);
    }

    void Told(RelayLink& link)
    {
        if (const auto failure = link.TakeFailure())
            Tell(link.Through() ? link.Through()->proxy : std::string(), *failure);
    }

    void Tell(const std::string& proxy, PathFailure failure)
    {
        if (!shared_->openingFailed)
            return;
        try {
            shared_->openingFailed(proxy, failure);
        } catch (...) {
            // out of memory: this failure goes untold
        }
    }

    void Sweep()
    {
        std::size_t kept = 0;
        for (std::size_t link = 0; link < links_.size(); ++link)
            if (!links_[link]->Ended()) {
                if (kept != link) {
                    links_[kept] = std::move(links_[link]);
                    callers_[kept] = std::move(callers_[link]);
                }
                ++kept;
            }
        links_.resize(kept);
        callers_.resize(kept);
    }

    // What is left when the relay's own work has failed: every caller is answered 502 and
    // closed, until the relay ends.
    void AnswerEveryCaller()
    {
        static const char kBroken[] = "HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/plain\r\nContent-Length: 29\r\n"
                                      "Connection: close\r\n\r\nZarnu's relay has failed.\r\n\r\n";
        for (;;) {
            {
                const std::lock_guard<std::mutex> hold(shared_->lock);
                if (shared_->ending)
                    return;
            }
            WSAPOLLFD polled[] = {{shared_->listener.get(), POLLRDNORM, 0}, {shared_->wake.get(), POLLRDNORM, 0}};
            if (WSAPoll(polled, 2, static_cast<INT>(kLongestWaitMs)) <= 0)
                continue;
            char pokes[64];
            while (recv(shared_->wake.get(), pokes, sizeof pokes, 0) > 0) {
            }
            while (UniqueSocket caller{accept(shared_->listener.get(), nullptr, nullptr)}) {
                send(caller.get(), kBroken, static_cast<int>(sizeof kBroken - 1), 0);
                shutdown(caller.get(), SD_SEND);
            }
        }
    }

    std::shared_ptr<Relay::Shared> shared_;
    std::shared_ptr<const Upstream> current_;
    // The upstream right now, read when a request opens its way, so that none opened after a
    // switch goes through the proxy left.
    LatestUpstream latest_ = [this] {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        return shared_->upstream;
    };
    std::vector<std::unique_ptr<RelayLink>> links_;
    std::vector<std::string> callers_; // each link's caller's address, as CallerOf gives it
    std::vector<WSAPOLLFD> polled_;
    std::unordered_map<SOCKET, unsigned> ready_;
    ULONGLONG lastFullTold_ = 0;
};

unsigned WINAPI RunLoop(void* loop)
{
    const std::unique_ptr<Loop> owned(static_cast<Loop*>(loop));
    owned->Run();
    return 0;
}

} // namespace

Relay::Relay(OpeningFailed openingFailed, unsigned short port, std::size_t mostLinks) : shared_(std::make_shared<Shared>())
{
    shared_->mostLinks = std::min(mostLinks, kMostLinks);
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
    // A lookup that the name server keeps waiting holds only what it shares with the relay.
    for (const UniqueKernelHandle& lookup : lookups_)
        WaitForSingleObject(lookup.get(), 2000);
}

std::string Relay::Address() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

namespace {

// `upstream`'s address for `where`; false where it has none. `numericOnly`: an address written
// out, nothing looked up.
bool FindAddress(const HostPort& where, bool numericOnly, Upstream& upstream)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    if (getaddrinfo(where.host.c_str(), std::to_string(where.port).c_str(), &hints, &found) != 0 || !found)
        return false;
    std::memcpy(&upstream.address, found->ai_addr, found->ai_addrlen);
    upstream.addressLength = static_cast<int>(found->ai_addrlen);
    freeaddrinfo(found);
    return true;
}

// A proxy named by a host name is looked up on a thread of its own, so that no caller waits for
// the name server; meanwhile the relay's requests wait as for an unknown kind.
struct Lookup {
    std::shared_ptr<Relay::Shared> shared;
    std::shared_ptr<const Upstream> pending;
    HostPort where;
};

unsigned WINAPI RunLookup(void* argument)
{
    const std::unique_ptr<Lookup> lookup(static_cast<Lookup*>(argument));
    auto found = std::make_shared<Upstream>(*lookup->pending);
    found->lookingUp = false;
    if (!FindAddress(lookup->where, false, *found))
        found->addressLength = 0; // its links are answered that it cannot be found
    {
        const std::lock_guard<std::mutex> hold(lookup->shared->lock);
        if (lookup->shared->upstream != lookup->pending)
            return 0; // another has been chosen meanwhile
        lookup->shared->upstream = std::move(found);
    }
    lookup->shared->Wake();
    return 0;
}

} // namespace

bool Relay::SetUpstream(const std::string& proxy, std::optional<ProxyKind> kind)
{
    const ProxyTarget target = TargetOf(ProxyLineAddress(proxy));
    const HostPort where = SplitHostPort(target.address, 0);
    if (where.host.empty() || where.port == 0)
        return false;
    auto upstream = std::make_shared<Upstream>();
    upstream->proxy = proxy;
    upstream->kind = kind ? kind : target.kind;
    upstream->account = target.account;
    upstream->lookingUp = !FindAddress(where, true, *upstream);
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        const auto& now = shared_->upstream;
        if (now && now->proxy == proxy && now->kind == kind)
            return true; // its connections stay
        shared_->upstream = upstream;
    }
    shared_->Wake();
    if (upstream->lookingUp) {
        lookups_.push_back(StartThread(&RunLookup, std::make_unique<Lookup>(Lookup{shared_, upstream, where})));
        // Those done are let go; the rest are waited for (a little) when the relay ends.
        lookups_.erase(std::remove_if(lookups_.begin(), lookups_.end(),
                                      [](const UniqueKernelHandle& thread) {
                                          return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
                                      }),
                       lookups_.end());
    }
    return true;
}

void Relay::BreakForTest()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->breakNow = true;
    }
    shared_->Wake();
    WaitForSingleObject(shared_->broken.get(), 5000);
}

void Relay::ClearUpstream()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->upstream.reset();
    }
    shared_->Wake();
}
