#pragma once
// What a browser asks of the program's relay, which it takes for an HTTP proxy: the head of each
// request on its connection, read into where it goes and how its body is framed, and the head as
// the far server is to get it where no HTTP proxy stands between (through a SOCKS proxy).

#include "core/HttpBody.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct RelayRequest {
    std::string method;
    bool tunnel = false; // "CONNECT host:port": a tunnel, bytes both ways once it is open
    std::string host;    // as given, without brackets: a name is looked up by the proxy, not here
    unsigned short port = 0;
    // Where its body ends (none for a tunnel).
    BodyReader body = BodyReader::None();
    // The browser ends its connection with this request's answer ("Connection: close", or
    // HTTP/1.0 without keep-alive).
    bool lastOnConnection = false;
    // For a plain request: its head in origin form ("GET /path HTTP/1.1"), with a Host line,
    // without the lines meant for a proxy or the connection ("Proxy-*", "Connection",
    // "Keep-Alive" and those that "Connection" names); "Connection: close" where it is the last.
    std::string serverHead;
};

// The request of `head` (whole, up to and with its empty line); nullopt for anything that is no
// request to an HTTP proxy: a request line that is not "METHOD target HTTP/1.x", a CONNECT target
// without a port, a plain request whose target is not an absolute "http://" URL with a host, a
// port that is no number from 1 to 65535, a line with a lone CR or a NUL, and a body whose end
// cannot be told for sure (a transfer coding other than chunked alone, a length that is no number
// or that two lines give differently, or a length beside chunks).
std::optional<RelayRequest> ReadRelayRequest(std::string_view head);

// What the bytes a browser sent start with.
struct RelayHead {
    enum State {
        More,     // a head not whole yet, and not beyond the bound
        TooLarge, // more than kMostHeadBytes without the head's end
        Bad,      // a whole head that is no request ReadRelayRequest takes
        Whole,
    };
    State state = More;
    std::size_t length = 0; // of the whole head
    std::optional<RelayRequest> request;
};
RelayHead ReadRelayHead(std::string_view received);

// The server's form of `proxyRequest`, a whole head in an HTTP proxy's form ("GET http://host/
// ..."): what goes to the far end of a SOCKS proxy; empty where it is no request ReadRelayRequest
// takes.
std::string ServerForm(std::string_view proxyRequest);

// `proxyRequest` (a whole head) as an HTTP proxy with an account gets it: without the lines meant
// for a proxy ("Proxy-*"), with `authorizationLine` (a whole line, with its CR LF) after the
// request line; empty where it is no head.
std::string WithProxyAuthorization(std::string_view proxyRequest, const std::string& authorizationLine);
