#pragma once
// One HTTP/1.0 exchange on a non-blocking socket of its own, driven by its owner's wait for the
// socket: connect, open the way through a proxy first where the plan says so (an HTTP tunnel, a
// SOCKS connection), send the request, and read the answer whole. Nothing in it blocks and
// nothing of it outlives the object: the owner holds the deadline and drops the exchange when it
// passes. The answer's head is capped at 16 KB (a tunnel's and the page's each) and its body at
// 64 KB; beyond that the exchange fails. A download that is measured (ExchangePlan::counted) has
// its body counted, not kept, without a bound.

#include "core/ProxyHandshake.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

#include <string>

struct HttpAnswer {
    bool complete = false; // a whole answer came
    bool refused = false;  // no connection could be made (refused, unreachable)
    StepReply::Account account = StepReply::Account::Fine; // a step refused for the account
    int status = 0;
    std::string body;
    std::size_t bytesSent = 0; // on the wire, the tunnel's request and answer head included
    std::size_t bytesReceived = 0;
    // A measured download's, so far (also where it did not end whole): the status, the body's
    // bytes, and the milliseconds from the head's end to the last of them.
    std::size_t bodyBytes = 0;
    unsigned bodyMs = 0;
};

struct ExchangePlan {
    sockaddr_storage address{}; // where to connect: the server, or the proxy
    int addressLength = 0;
    std::vector<HandshakeStep> handshake; // sent first, one step after another, going on only where granted
    std::string request;        // the request, sent to the server or through the way opened
    bool counted = false;       // the answer's body is counted, not kept
};

class HttpExchange {
public:
    explicit HttpExchange(ExchangePlan plan);
    ~HttpExchange();
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // Opens the socket and starts connecting; false when it failed at once (Done() then holds).
    bool Start();

    SOCKET Socket() const { return socket_; }
    bool Done() const { return phase_ == Phase::Finished; }
    // Its connection was made (and may have ended since).
    bool Connected() const { return connected_; }
    // The other end answered the handshake's first step in the protocol asked of it, granted or
    // not.
    bool Answered() const { return answered_; }
    // The other end is a proxy of the kind asked: it granted the whole handshake, or, without a
    // handshake, its answer began as HTTP's do.
    bool Proved() const { return proved_; }
    // What the exchange waits for: to write (connecting, sending) or to read.
    bool WantsWrite() const;

    // Goes on after the wait for the socket: it became readable or writable, or reported a failure
    // (a refused connection among them).
    void Advance(bool readable, bool writable, bool failed);

    const HttpAnswer& Answer() const { return answer_; }

private:
    enum class Phase { Idle, Connecting, SendingStep, ReadingStep, SendingRequest, ReadingAnswer, Finished };

    void Fail();
    void Send(Phase next);
    void Receive();
    // The next step of the handshake is sent, or the request once none is left.
    void SendNext();
    void StepRead(bool ended);
    void AnswerRead(bool ended);
    // `count` more bytes of a counted body came (none: its end, where `ended`).
    void Counted(std::size_t count, bool ended);

    ExchangePlan plan_;
    SOCKET socket_ = INVALID_SOCKET;
    Phase phase_ = Phase::Idle;
    bool connected_ = false;
    bool answered_ = false;
    bool proved_ = false;
    std::size_t step_ = 0;
    std::string outgoing_;
    std::size_t sent_ = 0;
    std::string incoming_;
    std::size_t bytesSent_ = 0;
    std::size_t bytesReceived_ = 0;
    bool counting_ = false; // past a counted answer's head
    long long length_ = -1; // its length (-1: to the connection's end)
    ULONGLONG headAt_ = 0;
    HttpAnswer answer_;
};
