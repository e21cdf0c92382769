#pragma once
// One browser connection through the relay, and its way on through the upstream proxy: the
// browser's request head is read (at most 16 KB), the upstream is connected and the way through
// it opened in its kind (an HTTP proxy gets the browser's request as it came; a SOCKS proxy is
// asked for a connection to the request's host by name, and the browser is answered the tunnel
// or its request goes on in a server's form), then bytes pass both ways, at most 256 KB waiting
// each way. Non-blocking: driven by the relay's one wait for every socket, on the relay's thread.
// Bad input from either side ends this link and nothing else; what the browser is told then is
// an HTTP answer where it still waits for one. While the upstream's kind is not known, a request
// waits for it (within the time for the opening).

#include "core/PathFailure.h"
#include "core/ProxyHandshake.h"
#include "core/RelayRequest.h"
#include "win/UniqueSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The proxy that the relay's browser connections go through.
struct Upstream {
    std::string proxy; // address:port, as the list names it
    std::optional<ProxyKind> kind; // nullopt: not known yet
    sockaddr_storage address{};
    int addressLength = 0;
};

class RelayLink {
public:
    // How long a browser may take to send its request's head, and the upstream to open the way.
    static constexpr ULONGLONG kHeadMs = 60000;
    static constexpr ULONGLONG kOpeningMs = 10000;

    RelayLink(UniqueSocket browser, ULONGLONG now);

    static constexpr unsigned kRead = 1;
    static constexpr unsigned kWrite = 2;
    SOCKET BrowserSocket() const { return browser_.get(); }
    SOCKET UpstreamSocket() const { return upstream_.get(); }
    unsigned BrowserWants() const;
    unsigned UpstreamWants() const;

    // Goes on after the wait: what each socket became. `current` is the upstream that a request
    // whose head is complete now goes through (null: none; the browser is answered 502).
    void Advance(bool browserReadable, bool browserWritable, bool upstreamReadable, bool upstreamWritable,
                 bool upstreamFailed, const std::shared_ptr<const Upstream>& current, ULONGLONG now);
    // Ends the link where its time for the head or the opening has passed.
    void Expire(ULONGLONG now);
    // The upstream is now `current`: a request that waited for its kind goes on.
    void Resume(const std::shared_ptr<const Upstream>& current, ULONGLONG now);
    // Ends it now, as when its upstream has been left.
    void Close();

    bool Ended() const { return phase_ == Phase::Ended; }
    // Once, right after the way through the upstream could not be opened (before the browser is
    // told), or an HTTP upstream refused a tunnel: why.
    std::optional<PathFailure> TakeFailure() { return std::exchange(failure_, std::nullopt); }
    // The upstream the link goes through; null before its head was read.
    const std::shared_ptr<const Upstream>& Through() const { return through_; }
    // When the link's time for its head or its opening ends; ~0 while none runs.
    ULONGLONG Deadline() const;

private:
    enum class Phase { ReadingHead, Holding, Connecting, Opening, Passing, Answering, Ended };

    // The browser's head, once whole, tells where the link goes through `current`.
    void HeadRead(const std::shared_ptr<const Upstream>& current, ULONGLONG now);
    // The upstream is connected, without waiting where it can be.
    void ConnectUpstream(ULONGLONG now);
    void Connected();
    void StepRead();
    void WayOpen();
    // The browser is told `status` (a full status line's code and text) and the link ends.
    void Answer(const char* status);
    void FailOpening(const char* status, PathFailure failure);
    // An HTTP upstream's answer to a tunnel: anything but 2xx is told.
    void SeeTunnelAnswer();
    void Pass(bool browserReadable, bool upstreamReadable);
    // After passing: a side's end goes on to the other, a failure ends the link.
    void Passed(bool failed);
    // Reads what `from` has into `into` (up to the limit); false at its end or on an error.
    static bool ReadInto(SOCKET from, std::string& into, bool& ended, bool& failed);
    // Writes what `from` holds; false on an error.
    static bool WriteFrom(SOCKET to, std::string& from);

    UniqueSocket browser_;
    UniqueSocket upstream_;
    Phase phase_ = Phase::ReadingHead;
    ULONGLONG deadline_;
    std::shared_ptr<const Upstream> through_;
    std::optional<RelayRequest> request_;
    std::vector<HandshakeStep> steps_;
    std::size_t step_ = 0;
    std::string fromBrowser_; // waiting for the upstream
    std::string fromUpstream_; // waiting for the browser
    std::string replies_;      // the upstream's reply to the handshake's step, so far
    bool upstreamSpoke_ = false;
    bool browserEnded_ = false;
    bool upstreamEnded_ = false;
    bool upstreamShut_ = false;
    bool answerSeen_ = false;
    std::optional<PathFailure> failure_;
};
