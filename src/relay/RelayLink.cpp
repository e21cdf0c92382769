#include "relay/RelayLink.h"

#include "core/ProxyAccount.h"

#include <algorithm>
#include <tuple>

namespace {

// What waits for a side at most: as much as a socket's buffers hold here, so that a download moves
// in few calls; while the relay holds much in all, as much as a request's head.
constexpr std::size_t kMostWaiting = 256 * 1024;
constexpr std::size_t kMostWaitingWhenTight = kMostHeadBytes;
thread_local std::size_t mostWaiting = kMostWaiting;
constexpr const char* kTunnelOpen = "HTTP/1.1 200 Connection established\r\n\r\n";

// Bytes are passed on as they come: no small write waits for the one before it to be acknowledged.
void SendAtOnce(SOCKET socket)
{
    BOOL noDelay = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
}

bool WouldBlock()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// Moves the first `count` bytes of `from` to the end of `to`.
void Move(std::string& from, std::size_t count, std::string& to)
{
    if (to.empty() && count == from.size()) {
        to.swap(from);
        return;
    }
    to.append(from, 0, count);
    from.erase(0, count);
}

std::size_t RoomIn(const std::string& buffer)
{
    return buffer.size() < mostWaiting ? mostWaiting - buffer.size() : 0;
}

std::string WayOf(const RelayRequest& request)
{
    return request.host + ":" + std::to_string(request.port);
}

// The way that a plain request through an HTTP proxy with an account goes: to the proxy, for any site.
constexpr const char* kProxysWay = "the proxy";

} // namespace

RelayLink::RelayLink(UniqueSocket browser, ULONGLONG now)
    : browser_(std::move(browser)), deadline_(now + kHeadMs), lastMoved_(now)
{
    SendAtOnce(browser_.get());
}

unsigned RelayLink::BrowserWants() const
{
    const unsigned write = toBrowser_.empty() ? 0 : kWrite;
    switch (phase_) {
    case Phase::ReadingHead:
    case Phase::Exchanging: return (!browserEnded_ && RoomIn(fromBrowser_) ? kRead : 0) | write;
    case Phase::Passing: return (!browserEnded_ && RoomIn(toUpstream_) ? kRead : 0) | write;
    case Phase::Answering: return write ? write : kRead; // once it has all, the browser's end is waited for
    case Phase::Ended: return 0;
    default: return write;
    }
}

unsigned RelayLink::UpstreamWants() const
{
    const unsigned write = toUpstream_.empty() ? 0 : kWrite;
    switch (phase_) {
    case Phase::Connecting: return kWrite;
    case Phase::Opening: return write ? write : kRead;
    case Phase::ReadingHead: return upstream_ ? kRead : 0; // a way kept: its end is noticed
    case Phase::Exchanging: return (!upstreamEnded_ && RoomIn(fromUpstream_) ? kRead : 0) | write;
    case Phase::Passing: return (!upstreamEnded_ && RoomIn(toBrowser_) ? kRead : 0) | write;
    default: return 0;
    }
}

ULONGLONG RelayLink::Deadline() const
{
    switch (phase_) {
    case Phase::Exchanging:
    case Phase::Passing:
        return halfClosedSince_ ? std::min(lastMoved_ + kQuietMs, halfClosedSince_ + kHalfClosedMs) : lastMoved_ + kQuietMs;
    case Phase::Ended: return ~0ull;
    default: return deadline_;
    }
}

void RelayLink::Advance(unsigned browserReady, unsigned upstreamReady, const LatestUpstream& latest, ULONGLONG now)
{
    // A hang-up or an error shows in the next read or write.
    if (browserReady & kFailed)
        browserReady |= kRead | kWrite;
    // The last answer's rest, where the next request has gone on already.
    if ((browserReady & kWrite) && phase_ != Phase::Answering && !Flush(now))
        return;
    // Each phase goes on into the next at once where it can: a socket has room to write far more
    // often than not, and trying costs less than another wait.
    if (phase_ == Phase::ReadingHead) {
        ReadHead(browserReady, upstreamReady, latest, now);
        upstreamReady = 0;
    }
    if (phase_ == Phase::Connecting || phase_ == Phase::Opening)
        upstreamReady = Open(upstreamReady, now);
    if (phase_ == Phase::Exchanging)
        Exchange(browserReady, upstreamReady, latest, now);
    if (phase_ == Phase::Passing)
        Pass(browserReady, upstreamReady, now);
    if (phase_ == Phase::Answering)
        Linger(browserReady, now);
}

void RelayLink::ReadHead(unsigned browserReady, unsigned upstreamReady, const LatestUpstream& latest, ULONGLONG now)
{
    if (upstream_ && (upstreamReady & (kRead | kFailed))) {
        // A kept way that the server ends, or speaks on unasked, is no way for the next request.
        upstream_.reset();
        way_.clear();
    }
    if (browserReady & kRead) {
        if (ReadBrowser())
            lastMoved_ = now;
        if (failedIo_) {
            Close();
            return;
        }
    }
    NextRequest(latest, now);
}

unsigned RelayLink::Open(unsigned upstreamReady, ULONGLONG now)
{
    if (phase_ == Phase::Connecting) {
        if (upstreamReady & kFailed) {
            FailOpening("502 Bad Gateway", PathFailure::ProxyRefused);
        } else if (upstreamReady & kWrite) {
            Connected();
            upstreamReady = 0;
        }
    }
    if (phase_ != Phase::Opening)
        return upstreamReady;
    if (step_ < steps_.size() && toUpstream_.empty() && (upstreamReady & (kRead | kFailed)))
        StepRead();
    if (phase_ == Phase::Opening && !toUpstream_.empty() && !WriteFrom(upstream_.get(), toUpstream_))
        FailOpening("502 Bad Gateway", PathFailure::ProxyBroke);
    if (phase_ == Phase::Opening && step_ == steps_.size())
        WayOpen(now);
    // An open way is tried at once: the far end's first bytes may have come with the last reply.
    return phase_ == Phase::Opening ? 0 : kRead | kWrite;
}

void RelayLink::Expire(ULONGLONG now)
{
    if (now < Deadline())
        return;
    switch (phase_) {
    case Phase::Connecting: FailOpening("504 Gateway Timeout", PathFailure::ProxyTimedOut); break;
    case Phase::Opening: // past its first step, a SOCKS 5 proxy waits for the site
        FailOpening("504 Gateway Timeout", step_ > 0 ? PathFailure::SiteTimedOut : PathFailure::ProxyTimedOut);
        break;
    case Phase::Holding: Answer("504 Gateway Timeout", "The proxy was not ready in time: its kind or its address was not known."); break;
    case Phase::ReadingHead:
        if (fromBrowser_.empty())
            Close(); // an idle connection
        else
            Answer("408 Request Timeout", "The request did not come whole in time.");
        break;
    case Phase::Exchanging:
        if (!answerStarted_)
            Answer("504 Gateway Timeout", "The site did not answer in time.");
        else
            Close();
        break;
    default: Close(); break;
    }
}

void RelayLink::Resume(const LatestUpstream& latest, ULONGLONG now)
{
    if (phase_ == Phase::Holding) {
        phase_ = Phase::ReadingHead;
        NextRequest(latest, now);
    }
}

void RelayLink::Close()
{
    phase_ = Phase::Ended;
    upstream_.reset();
    browser_.reset();
}

void RelayLink::NextRequest(const LatestUpstream& latest, ULONGLONG now)
{
    RelayHead head = ReadRelayHead(fromBrowser_);
    switch (head.state) {
    case RelayHead::More:
        if (browserEnded_)
            EndAfterAnswer(now); // where an answer is still on its way, once the browser has it
        return;
    case RelayHead::TooLarge: Answer("431 Request Header Fields Too Large", "A request's head may take 16 KB at most."); return;
    case RelayHead::Bad: Answer("400 Bad Request", "This is no request that a proxy can serve."); return;
    case RelayHead::Whole: break;
    }
    request_ = std::move(head.request);
    head_ = fromBrowser_.substr(0, head.length);
    fromBrowser_.erase(0, head.length);
    const std::shared_ptr<const Upstream> upstream = latest();
    if (!upstream) {
        Answer("502 Bad Gateway", "No proxy is in use.");
        return;
    }
    if (!upstream->lookingUp && upstream->addressLength == 0) {
        through_ = upstream;
        FailOpening("502 Bad Gateway", PathFailure::ProxyRefused);
        return;
    }
    if (!upstream->kind || upstream->lookingUp) {
        // Back to a head where it goes on, with the head where it was.
        fromBrowser_.insert(0, head_);
        request_.reset();
        phase_ = Phase::Holding;
        deadline_ = now + kOpeningMs;
        return;
    }
    Route(upstream, now);
}

void RelayLink::Route(const std::shared_ptr<const Upstream>& upstream, ULONGLONG now)
{
    if (upstream->kind == ProxyKind::Http && !upstream->account) {
        // The proxy reads the requests: from here on the browser's bytes go to it as they came.
        through_ = upstream;
        toUpstream_ = head_ + fromBrowser_;
        fromBrowser_.clear();
        raw_ = true;
        ConnectUpstream(now);
        return;
    }
    const bool http = upstream->kind == ProxyKind::Http;
    if (!request_->tunnel && upstream_ && through_ == upstream && way_ == (http ? kProxysWay : WayOf(*request_))) {
        BeginExchange(true);
        return;
    }
    upstream_.reset();
    way_.clear();
    through_ = upstream;
    const ProxyAccount* account = upstream->account ? &*upstream->account : nullptr;
    if (http) {
        // A tunnel is asked for with the account; a plain request goes as soon as the way is.
        steps_.clear();
        if (request_->tunnel)
            steps_.push_back(TunnelStep(WithProxyAuthorization(head_, ProxyAuthorizationLine(*account)), true));
        step_ = 0;
        ConnectUpstream(now);
        return;
    }
    steps_ = SocksSteps(*upstream->kind, request_->host, request_->port, account);
    step_ = 0;
    if (steps_.empty()) {
        Answer("502 Bad Gateway", request_->host.find(':') != std::string::npos && upstream->kind == ProxyKind::Socks4
                                      ? "A SOCKS 4 proxy cannot reach an IPv6 address."
                                      : "This host cannot be named to a SOCKS proxy.");
        return;
    }
    ConnectUpstream(now);
}

void RelayLink::ConnectUpstream(ULONGLONG now)
{
    deadline_ = now + kOpeningMs;
    phase_ = Phase::Connecting;
    upstreamEnded_ = upstreamShut_ = upstreamSpoke_ = false;
    upstream_ = StartConnecting(through_->address, through_->addressLength);
    if (!upstream_) {
        FailOpening("502 Bad Gateway", PathFailure::ProxyRefused);
        return;
    }
    SendAtOnce(upstream_.get());
    // A near proxy has often taken the connection already: the way goes on without a wait.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(upstream_.get(), &writable);
    FD_SET(upstream_.get(), &failed);
    timeval atOnce{0, 0};
    if (select(0, nullptr, &writable, &failed, &atOnce) > 0 && !FD_ISSET(upstream_.get(), &failed))
        Connected();
}

void RelayLink::Connected()
{
    if (through_->kind == ProxyKind::Http && !through_->account) {
        phase_ = Phase::Passing;
        return;
    }
    phase_ = Phase::Opening;
    replies_.clear();
    toUpstream_ = steps_.empty() ? std::string() : steps_[0].request;
}

bool RelayLink::ThroughAccountedHttp() const
{
    return through_ && through_->kind == ProxyKind::Http && through_->account;
}

void RelayLink::StepRead()
{
    bool ended = false, failed = false;
    ReadInto(upstream_.get(), replies_, ended, failed);
    const StepReply read = failed ? StepReply{StepReply::Garbled} : steps_[step_].read(replies_);
    if (read.state == StepReply::More && !ended)
        return;
    if (read.state != StepReply::Granted) {
        FailOpening("502 Bad Gateway", read.account != StepReply::Account::Fine ? PathFailure::AccountRefused
                                       : read.farEnd                            ? PathFailure::SiteRefused
                                       : ThroughAccountedHttp()                 ? PathFailure::TunnelRefused
                                                                                : PathFailure::ProxyBroke);
        return;
    }
    replies_.erase(0, read.length);
    step_ = std::min(step_ + 1 + read.skip, steps_.size());
    if (step_ < steps_.size())
        toUpstream_ = steps_[step_].request;
}

void RelayLink::WayOpen(ULONGLONG now)
{
    // What came after the last reply is the far end's.
    fromUpstream_ = std::move(replies_);
    replies_.clear();
    way_ = ThroughAccountedHttp() ? kProxysWay : WayOf(*request_);
    lastMoved_ = now;
    if (!request_->tunnel) {
        BeginExchange(false);
        return;
    }
    raw_ = true;
    phase_ = Phase::Passing;
    toBrowser_ += kTunnelOpen;
    Move(fromUpstream_, fromUpstream_.size(), toBrowser_);
    toUpstream_ = std::move(fromBrowser_);
    fromBrowser_.clear();
}

void RelayLink::BeginExchange(bool reused)
{
    phase_ = Phase::Exchanging;
    wayReused_ = reused;
    answer_.reset();
    answerStarted_ = false;
    toUpstream_ = ThroughAccountedHttp() ? WithProxyAuthorization(head_, ProxyAuthorizationLine(*through_->account))
                                         : request_->serverHead;
    MoveBody();
}

void RelayLink::Exchange(unsigned browserReady, unsigned upstreamReady, const LatestUpstream& latest, ULONGLONG now)
{
    // Until nothing moves: the request's body on to the server, its answer back to the browser.
    const auto state = [this] {
        return std::tuple(fromBrowser_.size(), toUpstream_.size(), fromUpstream_.size(), toBrowser_.size(), browserEnded_,
                          upstreamEnded_);
    };
    for (auto before = state();; before = state()) {
        if ((browserReady & kRead) && !browserEnded_ && RoomIn(fromBrowser_) && !ReadBrowser())
            browserReady = 0;
        MoveBody();
        if (phase_ != Phase::Exchanging)
            return;
        if (!toUpstream_.empty() && !WriteFrom(upstream_.get(), toUpstream_))
            failedIo_ = true;
        if ((upstreamReady & (kRead | kFailed)) && !upstreamEnded_ && RoomIn(fromUpstream_) && !ReadUpstream())
            upstreamReady = 0;
        MoveAnswer();
        if (phase_ != Phase::Exchanging)
            return;
        if (answer_ && answer_->body.Ended()) {
            AnswerEnded(latest, now);
            return;
        }
        if (!Flush(now))
            return;
        if (failedIo_) {
            Close();
            return;
        }
        if (state() == before)
            break;
        lastMoved_ = now;
    }
    if (browserEnded_ && !request_->body.Ended())
        Close(); // the browser gave up on its own request
}

void RelayLink::MoveBody()
{
    RelayRequest& request = *request_;
    while (!request.body.Ended() && !fromBrowser_.empty() && RoomIn(toUpstream_)) {
        const std::size_t count = request.body.Take(std::string_view(fromBrowser_).substr(0, RoomIn(toUpstream_)));
        if (request.body.Broken())
            break;
        Move(fromBrowser_, count, toUpstream_);
    }
    if (request.body.Broken()) {
        if (answerStarted_)
            Close();
        else
            Answer("400 Bad Request", "The request's chunks cannot be read.");
    }
}

void RelayLink::MoveAnswer()
{
    while (!answer_ && !fromUpstream_.empty()) {
        RelayAnswer read = ReadRelayAnswer(fromUpstream_, request_->method);
        if (read.state == RelayAnswer::More)
            break;
        if (read.state == RelayAnswer::Bad) {
            if (answerStarted_)
                Close();
            else
                Answer("502 Bad Gateway", "The site's answer cannot be read.");
            return;
        }
        if (read.status == 407 && ThroughAccountedHttp()) {
            upstream_.reset(); // its answer's rest goes nowhere
            FailOpening("502 Bad Gateway", PathFailure::AccountRefused);
            return;
        }
        Move(fromUpstream_, read.length, toBrowser_);
        answerStarted_ = true;
        if (read.switched) {
            // Another protocol from here on: bytes pass both ways.
            raw_ = true;
            phase_ = Phase::Passing;
            Move(fromUpstream_, fromUpstream_.size(), toBrowser_);
            Move(fromBrowser_, fromBrowser_.size(), toUpstream_);
            return;
        }
        if (!read.interim)
            answer_ = std::move(read);
    }
    if (answer_ && !answer_->body.Ended()) {
        const std::size_t count = answer_->body.Take(std::string_view(fromUpstream_).substr(0, RoomIn(toBrowser_)));
        if (answer_->body.Broken()) {
            EndAfterAnswer(0);
            return;
        }
        Move(fromUpstream_, count, toBrowser_);
    }
    if (upstreamEnded_ && !(answer_ && !answer_->body.Ended() && !fromUpstream_.empty()))
        UpstreamEnded();
}

void RelayLink::UpstreamEnded()
{
    // The server has ended its way, and all it sent is on its way to the browser.
    if (answer_ && answer_->body.EndsWithTheConnection()) {
        answer_->body = BodyReader::None(); // whole now
        answer_->lastOnConnection = true;
    } else if (!answerStarted_ && wayReused_) {
        Close(); // as a kept connection ends: the browser asks again on a new one
    } else if (!answerStarted_) {
        Answer("502 Bad Gateway", "The site closed the connection unanswered.");
    } else if (!answer_ || !answer_->body.Ended()) {
        EndAfterAnswer(0); // cut short: the browser sees the end
    }
}

void RelayLink::AnswerEnded(const LatestUpstream& latest, ULONGLONG now)
{
    lastMoved_ = now;
    if (answer_->lastOnConnection || upstreamEnded_ || !fromUpstream_.empty()) {
        // A server that ends its way, or speaks beyond its answer, is not asked again on it.
        fromUpstream_.clear();
        upstream_.reset();
        way_.clear();
    }
    if (answer_->lastOnConnection || request_->lastOnConnection || !request_->body.Ended()) {
        EndAfterAnswer(now);
        return;
    }
    // The next request, where the browser has sent it already, goes once this answer is on its way.
    phase_ = Phase::ReadingHead;
    deadline_ = now + kHeadMs;
    request_.reset();
    answer_.reset();
    if (!Flush(now))
        return;
    NextRequest(latest, now);
    if (phase_ == Phase::Exchanging)
        Exchange(kRead, kRead | kWrite, latest, now);
}

bool RelayLink::Flush(ULONGLONG now)
{
    if (toBrowser_.empty())
        return true;
    const std::size_t before = toBrowser_.size();
    if (!WriteFrom(browser_.get(), toBrowser_)) {
        Close();
        return false;
    }
    if (toBrowser_.size() < before)
        lastMoved_ = now;
    return true;
}

void RelayLink::Pass(unsigned browserReady, unsigned upstreamReady, ULONGLONG now)
{
    // Until nothing moves: a side read from while it has more, every write tried while bytes wait.
    for (bool moved = true; moved && !failedIo_;) {
        moved = false;
        if ((browserReady & kRead) && !browserEnded_ && RoomIn(toUpstream_)) {
            browserReady = ReadInto(browser_.get(), toUpstream_, browserEnded_, failedIo_) ? kRead : 0;
            moved = browserReady != 0;
        }
        if (!toUpstream_.empty()) {
            const std::size_t before = toUpstream_.size();
            failedIo_ = !WriteFrom(upstream_.get(), toUpstream_) || failedIo_;
            moved = moved || toUpstream_.size() < before;
        }
        if ((upstreamReady & (kRead | kFailed)) && !upstreamEnded_ && RoomIn(toBrowser_)) {
            bool upstreamFailed = false;
            upstreamReady = ReadInto(upstream_.get(), toBrowser_, upstreamEnded_, upstreamFailed) ? kRead : 0;
            upstreamSpoke_ = upstreamSpoke_ || upstreamReady;
            if ((upstreamEnded_ || upstreamFailed) && !upstreamSpoke_ && through_->kind == ProxyKind::Http) {
                FailOpening("502 Bad Gateway", PathFailure::ProxyBroke); // an HTTP proxy that hung up unanswered
                return;
            }
            SeeTunnelAnswer();
            moved = moved || upstreamReady;
            failedIo_ = failedIo_ || upstreamFailed;
        }
        if (!toBrowser_.empty()) {
            const std::size_t before = toBrowser_.size();
            failedIo_ = !WriteFrom(browser_.get(), toBrowser_) || failedIo_;
            moved = moved || toBrowser_.size() < before;
        }
        if (moved)
            lastMoved_ = now;
    }
    if (failedIo_)
        Close();
    else
        PassEnds(now);
}

void RelayLink::PassEnds(ULONGLONG now)
{
    // A side's end goes on to the other once what it sent is through; the link ends with both.
    if (browserEnded_ && toUpstream_.empty() && !upstreamShut_) {
        shutdown(upstream_.get(), SD_SEND);
        upstreamShut_ = true;
    }
    if (upstreamEnded_ && toBrowser_.empty() && !browserShut_) {
        shutdown(browser_.get(), SD_SEND);
        browserShut_ = true;
    }
    if ((browserEnded_ || upstreamEnded_) && !halfClosedSince_)
        halfClosedSince_ = now;
    if (upstreamShut_ && browserShut_)
        Close();
}

void RelayLink::Answer(const char* status, const std::string& why)
{
    const std::string body = why + "\r\n";
    toBrowser_ += std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    EndAfterAnswer(0);
}

void RelayLink::FailOpening(const char* status, PathFailure failure)
{
    failure_ = failure;
    Answer(status, "Through " + ShownProxy(through_->proxy) + ": " + PathFailureText(failure) + ".");
}

void RelayLink::EndAfterAnswer(ULONGLONG now)
{
    upstream_.reset();
    way_.clear();
    phase_ = Phase::Answering;
    // Time to take what it is given; once it has it, a little to end on its side.
    deadline_ = (now ? now : GetTickCount64()) + kHalfClosedMs;
    fromBrowser_.clear();
}

void RelayLink::Linger(unsigned browserReady, ULONGLONG now)
{
    if (!toBrowser_.empty()) {
        if (!Flush(now))
            return;
        if (!toBrowser_.empty())
            return;
    }
    if (!browserShut_) {
        // The browser's bytes still unread would turn the close into a reset, which can destroy
        // the answer before the browser reads it: its end is waited for, reading what it sends.
        shutdown(browser_.get(), SD_SEND);
        browserShut_ = true;
        deadline_ = now + kLingerMs;
        browserReady |= kRead;
    }
    if (!(browserReady & kRead))
        return;
    char unread[4096];
    for (;;) {
        const int count = recv(browser_.get(), unread, sizeof unread, 0);
        if (count > 0)
            continue;
        if (count == 0 || !WouldBlock())
            Close();
        return;
    }
}

void RelayLink::SeeTunnelAnswer()
{
    if (answerSeen_ || !request_ || !request_->tunnel || through_->kind != ProxyKind::Http || toBrowser_.size() < 12)
        return;
    answerSeen_ = true;
    if (StatusOf(toBrowser_) / 100 != 2)
        failure_ = PathFailure::TunnelRefused;
}

bool RelayLink::ReadBrowser()
{
    return ReadInto(browser_.get(), fromBrowser_, browserEnded_, failedIo_);
}

bool RelayLink::ReadUpstream()
{
    bool failed = false;
    const bool read = ReadInto(upstream_.get(), fromUpstream_, upstreamEnded_, failed);
    if (failed)
        upstreamEnded_ = true; // what it sent is the server's last
    return read;
}

bool RelayLink::ReadInto(SOCKET from, std::string& into, bool& ended, bool& failed)
{
    // Read into one buffer of the relay's thread, so that a link holds only what waits.
    thread_local std::vector<char> buffer(kMostWaiting);
    const std::size_t room = RoomIn(into);
    if (room == 0)
        return true;
    const int count = recv(from, buffer.data(), static_cast<int>(room), 0);
    if (count > 0)
        into.append(buffer.data(), static_cast<std::size_t>(count));
    else if (count == 0)
        ended = true;
    else if (!WouldBlock())
        failed = true;
    return count > 0;
}

bool RelayLink::WriteFrom(SOCKET to, std::string& from)
{
    const int count = send(to, from.data(), static_cast<int>(from.size()), 0);
    if (count < 0)
        return WouldBlock();
    from.erase(0, static_cast<std::size_t>(count));
    if (from.empty() && from.capacity() > mostWaiting)
        std::string().swap(from); // what a download held goes back while the relay is tight
    return true;
}

void RelayLink::HoldLittle(bool little)
{
    mostWaiting = little ? kMostWaitingWhenTight : kMostWaiting;
}

std::size_t RelayLink::Held() const
{
    return head_.capacity() + replies_.capacity() + fromBrowser_.capacity() + toUpstream_.capacity() +
           fromUpstream_.capacity() + toBrowser_.capacity();
}
