#pragma once
// What a browser asks of the program's relay, which it takes for an HTTP proxy: the head of its
// request, read into where it goes, and the head as the far server is to get it where no HTTP
// proxy stands between (through a SOCKS proxy).

#include <optional>
#include <string>
#include <string_view>

struct RelayRequest {
    bool tunnel = false; // "CONNECT host:port": a tunnel, bytes both ways once it is open
    std::string host;    // as given, without brackets: a name is looked up by the proxy, not here
    unsigned short port = 0;
    // For a plain request: its head in origin form ("GET /path HTTP/1.1"), with a Host line,
    // without the lines meant for a proxy or the connection ("Proxy-*", "Connection",
    // "Keep-Alive"), and with "Connection: close", since the next request on the browser's
    // connection may be for another server.
    std::string serverHead;
};

// The request of `head` (whole, up to and with its empty line); nullopt for anything that is no
// request to an HTTP proxy: a request line that is not "METHOD target HTTP/1.x", a CONNECT target
// without a port, a plain request whose target is not an absolute "http://" URL with a host, a
// port that is no number from 1 to 65535, a line with a lone CR or a NUL.
std::optional<RelayRequest> ReadRelayRequest(std::string_view head);
