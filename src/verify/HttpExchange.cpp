#include "verify/HttpExchange.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMostHeadBytes = 16 * 1024;
constexpr std::size_t kMostBodyBytes = 64 * 1024;

// Where a head ends (after its empty line); npos while it has not.
std::size_t HeadEnd(const std::string& text)
{
    const std::size_t end = text.find("\r\n\r\n");
    return end == std::string::npos ? end : end + 4;
}

// The value of a "Content-Length" line of `head`; -1 where it has none.
long long ContentLength(const std::string& head)
{
    for (std::size_t start = head.find("\r\n"); start != std::string::npos; start = head.find("\r\n", start + 2)) {
        const char* line = head.c_str() + start + 2;
        if (_strnicmp(line, "Content-Length:", 15) == 0)
            return std::strtoll(line + 15, nullptr, 10);
    }
    return -1;
}

} // namespace

int StatusOf(const std::string& head)
{
    // "HTTP/1.x NNN"
    if (head.size() < 12 || head.compare(0, 7, "HTTP/1.") != 0 || head[8] != ' ')
        return 0;
    for (int digit = 9; digit < 12; ++digit)
        if (head[digit] < '0' || head[digit] > '9')
            return 0;
    return std::atoi(head.substr(9, 3).c_str());
}

HttpExchange::HttpExchange(ExchangePlan plan) : plan_(std::move(plan)) {}

HttpExchange::~HttpExchange()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

bool HttpExchange::Start()
{
    socket_ = socket(plan_.address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    if (socket_ == INVALID_SOCKET || ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) {
        Fail();
        return false;
    }
    phase_ = Phase::Connecting;
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&plan_.address), plan_.addressLength) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        Fail();
        return false;
    }
    return true;
}

bool HttpExchange::WantsWrite() const
{
    return phase_ == Phase::Connecting || phase_ == Phase::SendingTunnelRequest || phase_ == Phase::SendingRequest;
}

void HttpExchange::Advance(bool readable, bool writable, bool failed)
{
    if (Done())
        return;
    if (failed) {
        Fail();
        return;
    }
    if (phase_ == Phase::Connecting && writable) {
        connected_ = true;
        const bool tunnel = !plan_.tunnelRequest.empty();
        outgoing_ = tunnel ? plan_.tunnelRequest : plan_.request;
        phase_ = tunnel ? Phase::SendingTunnelRequest : Phase::SendingRequest;
        sent_ = 0;
    }
    if (phase_ == Phase::SendingTunnelRequest && writable)
        Send(Phase::ReadingTunnelHead);
    else if (phase_ == Phase::SendingRequest && writable)
        Send(Phase::ReadingAnswer);
    else if ((phase_ == Phase::ReadingTunnelHead || phase_ == Phase::ReadingAnswer) && readable)
        Receive();
}

void HttpExchange::Fail()
{
    answer_ = {};
    answer_.refused = phase_ == Phase::Connecting || phase_ == Phase::Idle;
    phase_ = Phase::Finished;
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

void HttpExchange::Send(Phase next)
{
    const int count = send(socket_, outgoing_.data() + sent_, static_cast<int>(outgoing_.size() - sent_), 0);
    if (count <= 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            Fail();
        return;
    }
    sent_ += static_cast<std::size_t>(count);
    bytesSent_ += static_cast<std::size_t>(count);
    if (sent_ == outgoing_.size())
        phase_ = next;
}

void HttpExchange::Receive()
{
    char buffer[8192];
    const int count = recv(socket_, buffer, sizeof buffer, 0);
    if (count < 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            Fail();
        return;
    }
    incoming_.append(buffer, static_cast<std::size_t>(count));
    bytesReceived_ += static_cast<std::size_t>(count);
    if (phase_ == Phase::ReadingTunnelHead && count == 0)
        Fail(); // closed before the tunnel was granted: a socket at its end stays readable
    else if (phase_ == Phase::ReadingTunnelHead)
        TunnelHeadRead();
    else
        AnswerRead(count == 0);
}

void HttpExchange::TunnelHeadRead()
{
    const std::size_t end = HeadEnd(incoming_);
    if (end == std::string::npos) {
        if (incoming_.size() > kMostHeadBytes)
            Fail();
        return;
    }
    if (end > kMostHeadBytes || StatusOf(incoming_) / 100 != 2) {
        Fail();
        return;
    }
    incoming_.erase(0, end); // what follows came through the tunnel
    outgoing_ = plan_.request;
    sent_ = 0;
    phase_ = Phase::SendingRequest;
}

void HttpExchange::AnswerRead(bool ended)
{
    const std::size_t end = HeadEnd(incoming_);
    if (end == std::string::npos || end > kMostHeadBytes) {
        if (ended || incoming_.size() > kMostHeadBytes)
            Fail();
        return;
    }
    const std::size_t body = incoming_.size() - end;
    const long long length = ContentLength(incoming_.substr(0, end));
    if (body > kMostBodyBytes || (length >= 0 && static_cast<unsigned long long>(length) > kMostBodyBytes)) {
        Fail();
        return;
    }
    const bool whole = length >= 0 ? body >= static_cast<std::size_t>(length) : ended;
    if (length >= 0 && ended && !whole) {
        Fail(); // cut short
        return;
    }
    if (!whole)
        return;
    answer_.complete = true;
    answer_.bytesSent = bytesSent_;
    answer_.bytesReceived = bytesReceived_;
    answer_.status = StatusOf(incoming_);
    answer_.body = incoming_.substr(end, length >= 0 ? static_cast<std::size_t>(length) : std::string::npos);
    phase_ = Phase::Finished;
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
}
