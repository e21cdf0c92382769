#pragma once
// The program's own proxy for the browser, on 127.0.0.1: it speaks HTTP proxy to the browser
// (plain requests and CONNECT) and goes on through the upstream proxy in use, in that proxy's
// kind (RelayLink), so that the system settings, which cannot carry a SOCKS 5 proxy, name only the
// relay. The upstream can change without the browser noticing: the connections through the one
// left are closed at once, so that the browser opens new ones, which go through the new one.
//
// One thread of its own waits for every socket; no thread per connection. At most kMostLinks
// connections at once, from this machine's loopback only: any other caller is closed at once, and
// when the relay is full the connection quiet longest makes room for the new one (and the owner
// is told). Where the thread's work fails, every caller is answered 502 from then on, never let
// through, and the owner is told. Created and destroyed on one thread; the rest from any.

#include "relay/RelayLink.h"
#include "win/UniqueHandle.h"
#include "win/UniqueSocket.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Relay {
public:
    static constexpr std::size_t kMostLinks = 4096;
    // What its links hold in all before each holds no more than a request's head.
    static constexpr std::size_t kMostHeldInAll = 64 * 1024 * 1024;

    // Runs on the relay's thread, for each connection whose way through `proxy` could not be
    // opened, or whose tunnel an HTTP `proxy` refused, with why; and when the relay is full or
    // its thread has failed (`proxy` is then the one in use, or empty).
    using OpeningFailed = std::function<void(const std::string& proxy, PathFailure failure)>;

    // Listens on 127.0.0.1:`port` (0: a port the system picks). Raises std::runtime_error when it
    // cannot listen or no thread can be had.
    // `mostLinks`: fewer than kMostLinks, for tests.
    explicit Relay(OpeningFailed openingFailed = {}, unsigned short port = 0, std::size_t mostLinks = kMostLinks);
    // Closes every connection and waits for the thread.
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    unsigned short Port() const { return port_; }
    // "127.0.0.1:port", as the system settings name it.
    std::string Address() const;

    // New requests go through `proxy` ("address:port", or a host name, looked up on a thread of
    // its own while requests wait; or one with an account, core/ProxyAccount.h, which the relay
    // gives it) of `kind` from now on (nullopt: not known yet; requests wait
    // until it is), and the connections through any other are closed. False, with nothing
    // changed, where `proxy` names no host and port.
    bool SetUpstream(const std::string& proxy, std::optional<ProxyKind> kind);
    // No upstream: every connection is closed, and requests are answered 502.
    void ClearUpstream();
    // For tests: the relay's thread fails, as where its work throws; returns once it has (the
    // connections open then are closed).
    void BreakForTest();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    unsigned short port_ = 0;
    UniqueKernelHandle thread_;
    std::vector<UniqueKernelHandle> lookups_;
};
