#pragma once
// One browser connection through the relay, and its way on through the upstream proxy. Each of
// the browser's requests is read as a request: its head (at most 16 KB), then its body by its
// length or chunks. Through an HTTP proxy the bytes go on as they came, since that proxy reads
// requests itself, unless it has an account: then each request goes with the account (and without
// any "Proxy-" line of the browser's), its answer is read to its end before the next goes, and a
// proxy that refuses the account gets the browser a 502, never a 407 of its own. Through a SOCKS proxy the relay is the browser's proxy: a request goes in the
// server's form over a way opened through the proxy to the server it names, its answer is read
// to its end, and only then the next request goes, over the same way where it is for the same
// server and the server keeps it, over a new one where not. A tunnel ("CONNECT") and a switched
// protocol pass bytes both ways; an end from one side goes on to the other.
//
// Non-blocking: driven by the relay's one wait for every socket, on the relay's thread. Bad input
// from either side ends this link and nothing else; what the browser is told then is an HTTP
// answer where it still waits for one, and the link ends only once the browser has it. While the
// upstream's kind is not known, a request waits for it (within the time for the opening). A link
// that passes nothing for long ends, and so does one half-closed for long.

#include "core/PathFailure.h"
#include "core/ProxyHandshake.h"
#include "core/RelayAnswer.h"
#include "core/RelayRequest.h"
#include "win/UniqueSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The proxy that the relay's browser connections go through.
struct Upstream {
    std::string proxy; // address:port, as the list names it
    std::optional<ProxyKind> kind; // nullopt: not known yet
    std::optional<ProxyAccount> account; // given to it and to nothing else
    bool lookingUp = false;        // its name is being looked up
    sockaddr_storage address{};
    int addressLength = 0;         // 0: its name has no address
};

// The upstream in use right now (null: none), read when a request is about to open its way.
using LatestUpstream = std::function<std::shared_ptr<const Upstream>()>;

class RelayLink {
public:
    static constexpr ULONGLONG kHeadMs = 30000;       // for a request's head, from the link's start or the last answer
    static constexpr ULONGLONG kOpeningMs = 10000;    // for the upstream to open the way
    static constexpr ULONGLONG kQuietMs = 300000;     // for a request's answer, or a tunnel, passing nothing
    static constexpr ULONGLONG kHalfClosedMs = 30000; // for the other side to end after one has
    static constexpr ULONGLONG kLingerMs = 2000;      // for the browser to take the last answer and end

    // What the wait found a socket to be.
    static constexpr unsigned kRead = 1;
    static constexpr unsigned kWrite = 2;
    static constexpr unsigned kFailed = 4;

    RelayLink(UniqueSocket browser, ULONGLONG now);

    SOCKET BrowserSocket() const { return browser_.get(); }
    SOCKET UpstreamSocket() const { return upstream_.get(); }
    unsigned BrowserWants() const;
    unsigned UpstreamWants() const;

    // Goes on after the wait with what each socket became.
    void Advance(unsigned browserReady, unsigned upstreamReady, const LatestUpstream& latest, ULONGLONG now);
    // Ends the link, or tells the browser, where its time for what it waits for has passed.
    void Expire(ULONGLONG now);
    // The upstream has changed: a request that waited for its kind goes on.
    void Resume(const LatestUpstream& latest, ULONGLONG now);
    // Ends it now, as when its upstream has been left.
    void Close();

    bool Ended() const { return phase_ == Phase::Ended; }
    // The bytes that the link's buffers take.
    std::size_t Held() const;
    // While the relay holds much in all, each of its links on this thread reads only a little
    // ahead of what it has passed on, and gives back what it held.
    static void HoldLittle(bool little);
    // Once, right after the way through the upstream could not be opened (before the browser is
    // told), or an HTTP upstream refused a tunnel: why.
    std::optional<PathFailure> TakeFailure() { return std::exchange(failure_, std::nullopt); }
    // The upstream the link goes through; null before its first way.
    const std::shared_ptr<const Upstream>& Through() const { return through_; }
    // When the link's time for what it waits for ends.
    ULONGLONG Deadline() const;
    // When bytes last moved on it: the link quiet longest is the first to go when the relay is full.
    ULONGLONG LastMoved() const { return lastMoved_; }

private:
    enum class Phase { ReadingHead, Holding, Connecting, Opening, Exchanging, Passing, Answering, Ended };

    // What the browser sent, read while its next request's head comes.
    void ReadHead(unsigned browserReady, unsigned upstreamReady, const LatestUpstream& latest, ULONGLONG now);
    // The way through the upstream, connected and opened step by step; what to try on it next.
    unsigned Open(unsigned upstreamReady, ULONGLONG now);
    // The next request's head, where it is whole, tells where it goes.
    void NextRequest(const LatestUpstream& latest, ULONGLONG now);
    void Route(const std::shared_ptr<const Upstream>& upstream, ULONGLONG now);
    void ConnectUpstream(ULONGLONG now);
    void Connected();
    void StepRead();
    void WayOpen(ULONGLONG now);
    // The request goes over the open way; `reused`: the way carried a request before.
    void BeginExchange(bool reused);
    void Exchange(unsigned browserReady, unsigned upstreamReady, const LatestUpstream& latest, ULONGLONG now);
    void MoveBody();
    void MoveAnswer();
    void UpstreamEnded();
    void AnswerEnded(const LatestUpstream& latest, ULONGLONG now);
    void Pass(unsigned browserReady, unsigned upstreamReady, ULONGLONG now);
    void PassEnds(ULONGLONG now);
    void Linger(unsigned browserReady, ULONGLONG now);
    // The browser is told `status` (a status line's code and text) and why, and the link ends
    // once it has taken it.
    void Answer(const char* status, const std::string& why);
    void FailOpening(const char* status, PathFailure failure);
    // What the browser has been given ends the link, once it has taken it all.
    void EndAfterAnswer(ULONGLONG now);
    // An HTTP upstream's answer to a tunnel: anything but 2xx is told.
    void SeeTunnelAnswer();
    // An HTTP upstream with an account: the relay reads each request's answer.
    bool ThroughAccountedHttp() const;
    // Reads what `from` has into `into` (up to the limit); false where nothing came.
    static bool ReadInto(SOCKET from, std::string& into, bool& ended, bool& failed);
    // Writes what `from` holds; false on an error.
    static bool WriteFrom(SOCKET to, std::string& from);
    bool ReadBrowser();
    bool ReadUpstream();
    bool Flush(ULONGLONG now);

    UniqueSocket browser_;
    UniqueSocket upstream_;
    Phase phase_ = Phase::ReadingHead;
    ULONGLONG deadline_;
    ULONGLONG lastMoved_;
    ULONGLONG halfClosedSince_ = 0;
    std::shared_ptr<const Upstream> through_;
    std::string way_; // "host:port" that the open way through a SOCKS upstream goes to
    std::optional<RelayRequest> request_;
    std::string head_; // the request's head as it came
    std::optional<RelayAnswer> answer_;
    bool answerStarted_ = false; // some of the request's answer has gone to the browser
    bool wayReused_ = false;
    std::vector<HandshakeStep> steps_;
    std::size_t step_ = 0;
    std::string replies_;      // the upstream's reply to the handshake's step, so far
    std::string fromBrowser_;  // read from the browser, not yet taken as a request's
    std::string toUpstream_;
    std::string fromUpstream_; // read from the upstream, not yet taken as an answer's
    std::string toBrowser_;
    bool raw_ = false;         // bytes pass as they come, both ways
    bool upstreamSpoke_ = false;
    bool browserEnded_ = false;
    bool upstreamEnded_ = false;
    bool upstreamShut_ = false;
    bool browserShut_ = false;
    bool answerSeen_ = false;
    bool failedIo_ = false;
    std::optional<PathFailure> failure_;
};
