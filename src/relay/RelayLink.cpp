#include "relay/RelayLink.h"

namespace {

constexpr std::size_t kMostHeadBytes = 16 * 1024;
// What waits for a side at most: as much as a socket's buffers hold here, so that a download moves
// in few calls.
constexpr std::size_t kMostWaiting = 256 * 1024;
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

} // namespace

RelayLink::RelayLink(UniqueSocket browser, ULONGLONG now) : browser_(std::move(browser)), deadline_(now + kHeadMs)
{
    SendAtOnce(browser_.get());
}

unsigned RelayLink::BrowserWants() const
{
    switch (phase_) {
    case Phase::ReadingHead: return kRead;
    case Phase::Answering: return kWrite;
    case Phase::Passing:
        return (!browserEnded_ && fromBrowser_.size() < kMostWaiting ? kRead : 0) | (fromUpstream_.empty() ? 0 : kWrite);
    default: return 0;
    }
}

unsigned RelayLink::UpstreamWants() const
{
    switch (phase_) {
    case Phase::Connecting: return kWrite;
    case Phase::Opening: return fromBrowser_.empty() ? kRead : kWrite;
    case Phase::Passing:
        return (!upstreamEnded_ && fromUpstream_.size() < kMostWaiting ? kRead : 0) | (fromBrowser_.empty() ? 0 : kWrite);
    default: return 0;
    }
}

ULONGLONG RelayLink::Deadline() const
{
    return phase_ == Phase::Passing || phase_ == Phase::Ended ? ~0ull : deadline_;
}

void RelayLink::Advance(bool browserReadable, bool browserWritable, bool upstreamReadable, bool upstreamWritable,
                        bool upstreamFailed, const std::shared_ptr<const Upstream>& current, ULONGLONG now)
{
    // Each phase goes on into the next at once where it can: a socket has room to write far more
    // often than not, and trying costs less than another wait.
    if (phase_ == Phase::ReadingHead) {
        if (!browserReadable)
            return;
        bool ended = false, failed = false;
        ReadInto(browser_.get(), fromBrowser_, ended, failed);
        if (ended || failed) {
            Close();
            return;
        }
        HeadRead(current, now);
        upstreamReadable = false;
    }
    if (phase_ == Phase::Connecting) {
        if (upstreamFailed) {
            FailOpening("502 Bad Gateway", PathFailure::ProxyRefused);
        } else if (upstreamWritable) {
            Connected();
            upstreamReadable = false;
        }
    }
    if (phase_ == Phase::Opening) {
        if (upstreamFailed)
            FailOpening("502 Bad Gateway", PathFailure::ProxyBroke);
        else if (fromBrowser_.empty() && upstreamReadable)
            StepRead();
        if (phase_ == Phase::Opening && !fromBrowser_.empty() && !WriteFrom(upstream_.get(), fromBrowser_))
            FailOpening("502 Bad Gateway", PathFailure::ProxyBroke);
    }
    if (phase_ == Phase::Passing)
        Pass(browserReadable, upstreamReadable);
    if (phase_ == Phase::Answering && (browserWritable || !fromUpstream_.empty()) &&
        (!WriteFrom(browser_.get(), fromUpstream_) || fromUpstream_.empty()))
        Close();
}

void RelayLink::Expire(ULONGLONG now)
{
    if (now < Deadline())
        return;
    if (phase_ == Phase::Connecting)
        FailOpening("504 Gateway Timeout", PathFailure::ProxyTimedOut);
    else if (phase_ == Phase::Opening) // past its first step, a SOCKS 5 proxy waits for the site
        FailOpening("504 Gateway Timeout", step_ > 0 ? PathFailure::SiteTimedOut : PathFailure::ProxyTimedOut);
    else if (phase_ == Phase::Holding)
        Answer("504 Gateway Timeout");
    else
        Close();
}

void RelayLink::Resume(const std::shared_ptr<const Upstream>& current, ULONGLONG now)
{
    if (phase_ == Phase::Holding)
        HeadRead(current, now);
}

void RelayLink::Close()
{
    phase_ = Phase::Ended;
    upstream_.reset();
    browser_.reset();
}

void RelayLink::HeadRead(const std::shared_ptr<const Upstream>& current, ULONGLONG now)
{
    const std::size_t end = HeadEnd(fromBrowser_);
    if (end == std::string::npos) {
        if (fromBrowser_.size() > kMostHeadBytes)
            Answer("431 Request Header Fields Too Large");
        return;
    }
    if (end > kMostHeadBytes) {
        Answer("431 Request Header Fields Too Large");
        return;
    }
    request_ = ReadRelayRequest(std::string_view(fromBrowser_).substr(0, end));
    if (!request_) {
        Answer("400 Bad Request");
        return;
    }
    if (!current) {
        Answer("502 Bad Gateway");
        return;
    }
    if (!current->kind) {
        phase_ = Phase::Holding;
        deadline_ = now + kOpeningMs;
        return;
    }
    through_ = current;
    if (through_->kind != ProxyKind::Http) {
        steps_ = SocksSteps(*through_->kind, request_->host, request_->port);
        if (steps_.empty()) {
            Answer("502 Bad Gateway"); // a host that this kind of proxy cannot be told
            return;
        }
        // The head goes no further as it came: a tunnel's is answered here, a request's goes in
        // a server's form.
        fromBrowser_.erase(0, end);
        if (!request_->tunnel)
            fromBrowser_.insert(0, request_->serverHead);
    }
    ConnectUpstream(now);
}

void RelayLink::ConnectUpstream(ULONGLONG now)
{
    deadline_ = now + kOpeningMs;
    phase_ = Phase::Connecting;
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
    if (through_->kind == ProxyKind::Http) {
        phase_ = Phase::Passing; // the browser's bytes as they came, the answers as they come
        return;
    }
    phase_ = Phase::Opening;
    // The browser's bytes wait behind the handshake.
    fromUpstream_.swap(fromBrowser_);
    fromBrowser_ = steps_[0].request;
}

void RelayLink::StepRead()
{
    bool ended = false, failed = false;
    std::string& received = replies_;
    ReadInto(upstream_.get(), received, ended, failed);
    const StepReply read = failed ? StepReply{StepReply::Garbled} : steps_[step_].read(received);
    if (read.state == StepReply::More && !ended)
        return;
    if (read.state != StepReply::Granted) {
        FailOpening("502 Bad Gateway", read.farEnd ? PathFailure::SiteRefused : PathFailure::ProxyBroke);
        return;
    }
    received.erase(0, read.length);
    if (++step_ < steps_.size()) {
        fromBrowser_ = steps_[step_].request;
        return;
    }
    WayOpen();
}

void RelayLink::WayOpen()
{
    // What came after the last reply is the far end's; what the browser sent waits in
    // fromUpstream_ since the handshake began.
    std::string toUpstream;
    toUpstream.swap(fromUpstream_);
    fromBrowser_ = std::move(toUpstream);
    fromUpstream_ = (request_->tunnel ? std::string(kTunnelOpen) : std::string()) + replies_;
    replies_.clear();
    upstreamSpoke_ = true;
    phase_ = Phase::Passing;
}

void RelayLink::Answer(const char* status)
{
    upstream_.reset();
    fromUpstream_ = std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    phase_ = Phase::Answering;
}

void RelayLink::FailOpening(const char* status, PathFailure failure)
{
    failure_ = failure;
    Answer(status);
}

void RelayLink::SeeTunnelAnswer()
{
    if (answerSeen_ || !request_->tunnel || through_->kind != ProxyKind::Http || fromUpstream_.size() < 12)
        return;
    answerSeen_ = true;
    if (StatusOf(fromUpstream_) / 100 != 2)
        failure_ = PathFailure::TunnelRefused;
}

void RelayLink::Pass(bool browserReadable, bool upstreamReadable)
{
    // Until nothing moves: a side read from while it has more, every write tried while bytes wait.
    bool failed = false;
    for (bool moved = true; moved && !failed;) {
        moved = false;
        if (browserReadable && !browserEnded_ && fromBrowser_.size() < kMostWaiting)
            moved = browserReadable = ReadInto(browser_.get(), fromBrowser_, browserEnded_, failed);
        if (!fromBrowser_.empty()) {
            const std::size_t before = fromBrowser_.size();
            failed = !WriteFrom(upstream_.get(), fromBrowser_) || failed;
            moved = moved || fromBrowser_.size() < before;
        }
        if (upstreamReadable && !upstreamEnded_ && fromUpstream_.size() < kMostWaiting) {
            bool upstreamFailed = false;
            upstreamReadable = ReadInto(upstream_.get(), fromUpstream_, upstreamEnded_, upstreamFailed);
            upstreamSpoke_ = upstreamSpoke_ || upstreamReadable;
            if ((upstreamEnded_ || upstreamFailed) && !upstreamSpoke_) {
                FailOpening("502 Bad Gateway", PathFailure::ProxyBroke); // an HTTP proxy that hung up unanswered
                return;
            }
            SeeTunnelAnswer();
            moved = moved || upstreamReadable;
            failed = failed || upstreamFailed;
        }
        if (!fromUpstream_.empty()) {
            const std::size_t before = fromUpstream_.size();
            failed = !WriteFrom(browser_.get(), fromUpstream_) || failed;
            moved = moved || fromUpstream_.size() < before;
        }
    }
    Passed(failed);
}

void RelayLink::Passed(bool failed)
{
    if (failed) {
        Close();
        return;
    }
    if (browserEnded_ && fromBrowser_.empty() && !upstreamShut_) {
        shutdown(upstream_.get(), SD_SEND);
        upstreamShut_ = true;
    }
    // The far end has said all: once the browser has it, the link ends.
    if (upstreamEnded_ && fromUpstream_.empty())
        Close();
}

bool RelayLink::ReadInto(SOCKET from, std::string& into, bool& ended, bool& failed)
{
    // Read into one buffer of the relay's thread, so that a link holds only what waits.
    thread_local std::vector<char> buffer(kMostWaiting);
    const std::size_t room = kMostWaiting > into.size() ? kMostWaiting - into.size() : 0;
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
    return true;
}
