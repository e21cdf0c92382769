#include "verify/HttpExchange.h"

#include <algorithm>

#include "win/UniqueSocket.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMostBodyBytes = 64 * 1024;

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

HttpExchange::HttpExchange(ExchangePlan plan) : plan_(std::move(plan)) {}

HttpExchange::~HttpExchange()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

bool HttpExchange::Start()
{
    socket_ = StartConnecting(plan_.address, plan_.addressLength).release();
    phase_ = Phase::Connecting;
    if (socket_ == INVALID_SOCKET) {
        Fail(); // told as refused
        return false;
    }
    return true;
}

bool HttpExchange::WantsWrite() const
{
    return phase_ == Phase::Connecting || phase_ == Phase::SendingStep || phase_ == Phase::SendingRequest;
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
        SendNext();
    }
    if (phase_ == Phase::SendingStep && writable)
        Send(Phase::ReadingStep);
    else if (phase_ == Phase::SendingRequest && writable)
        Send(Phase::ReadingAnswer);
    else if ((phase_ == Phase::ReadingStep || phase_ == Phase::ReadingAnswer) && readable)
        Receive();
}

void HttpExchange::SendNext()
{
    const bool stepsLeft = step_ < plan_.handshake.size();
    outgoing_ = stepsLeft ? plan_.handshake[step_].request : plan_.request;
    phase_ = stepsLeft ? Phase::SendingStep : Phase::SendingRequest;
    sent_ = 0;
}

void HttpExchange::Fail()
{
    const HttpAnswer counted = answer_;
    answer_ = {};
    answer_.status = counted.status; // a measured download's, so far
    answer_.bodyBytes = counted.bodyBytes;
    answer_.bodyMs = counted.bodyMs;
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
    bytesReceived_ += static_cast<std::size_t>(count);
    if (counting_) {
        Counted(static_cast<std::size_t>(count), count == 0);
        return;
    }
    incoming_.append(buffer, static_cast<std::size_t>(count));
    if (phase_ == Phase::ReadingStep)
        StepRead(count == 0);
    else
        AnswerRead(count == 0);
}

void HttpExchange::StepRead(bool ended)
{
    const StepReply reply = plan_.handshake[step_].read(incoming_);
    if (step_ == 0 && (reply.state == StepReply::Granted || reply.state == StepReply::Refused))
        answered_ = true;
    if (reply.state != StepReply::Granted) {
        if (reply.state != StepReply::More || ended) { // a socket at its end stays readable
            Fail();
            answer_.account = reply.account;
        }
        return;
    }
    incoming_.erase(0, reply.length); // what follows came from the far end
    step_ = std::min(step_ + 1 + reply.skip, plan_.handshake.size());
    proved_ = step_ == plan_.handshake.size();
    SendNext();
}

void HttpExchange::Counted(std::size_t count, bool ended)
{
    answer_.bodyBytes += count;
    answer_.bodyMs = static_cast<unsigned>(GetTickCount64() - headAt_);
    const bool whole = length_ >= 0 ? answer_.bodyBytes >= static_cast<unsigned long long>(length_) : ended;
    if (!whole) {
        if (ended)
            Fail(); // cut short
        return;
    }
    answer_.complete = true;
    answer_.bytesSent = bytesSent_;
    answer_.bytesReceived = bytesReceived_;
    phase_ = Phase::Finished;
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

void HttpExchange::AnswerRead(bool ended)
{
    if (plan_.handshake.empty() && StatusOf(incoming_) != 0)
        proved_ = true;
    const std::size_t end = HeadEnd(incoming_);
    if (end == std::string::npos || end > kMostHeadBytes) {
        if (ended || incoming_.size() > kMostHeadBytes)
            Fail();
        return;
    }
    const std::size_t body = incoming_.size() - end;
    const long long length = ContentLength(incoming_.substr(0, end));
    if (plan_.counted) {
        answer_.status = StatusOf(incoming_);
        counting_ = true;
        length_ = length;
        headAt_ = GetTickCount64();
        incoming_.clear();
        Counted(body, ended);
        return;
    }
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
