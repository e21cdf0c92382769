#include "core/RelayRequest.h"

#include "core/HttpHead.h"
#include "core/ServiceUrl.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

bool Token(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

// "METHOD target HTTP/1.x", taken apart; nullopt for any other line.
struct RequestLine {
    std::string_view method;
    std::string_view target;
    std::string_view version;
};
std::optional<RequestLine> ReadRequestLine(std::string_view line)
{
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace)
        return std::nullopt;
    const RequestLine read{line.substr(0, firstSpace), line.substr(firstSpace + 1, lastSpace - firstSpace - 1),
                           line.substr(lastSpace + 1)};
    if (!Token(read.method) || read.target.empty() || read.target.find(' ') != std::string_view::npos ||
        (read.version != "HTTP/1.0" && read.version != "HTTP/1.1"))
        return std::nullopt;
    return read;
}

// Where the body ends; nullopt where that cannot be told for sure.
std::optional<BodyReader> BodyOf(const FramingFields& fields)
{
    if (fields.coding)
        return !fields.length && !fields.codingTwice && EqualNoCase(*fields.coding, "chunked") ? std::optional(BodyReader::Chunked())
                                                                        : std::nullopt;
    if (!fields.length)
        return BodyReader::None();
    const auto length = ContentLength(*fields.length);
    if (fields.lengthsDiffer || !length)
        return std::nullopt;
    return BodyReader::Length(*length);
}

// A field that goes no further than the relay: meant for a proxy, for the connection, or named
// by "Connection".
bool HopByHop(std::string_view line, const FramingFields& fields)
{
    if (StartsWithNoCase(line, "Proxy-") || FieldValue(line, "Connection") || FieldValue(line, "Keep-Alive"))
        return true;
    const std::string_view name = line.substr(0, line.find(':'));
    return fields.ConnectionSays(name);
}

// The head as the server at `authority` is asked for `path`: the request line in origin form, the
// header lines that are not hop-by-hop, a Host line where none came.
std::string ServerHead(const RequestLine& request, std::string_view path, std::string_view authority,
                       const std::vector<std::string_view>& lines, const FramingFields& fields, bool last)
{
    std::string head = std::string(request.method) + " " + (path.front() == '?' ? "/" : "") + std::string(path) + " " +
                       std::string(request.version) + "\r\n";
    bool hostLine = false;
    for (std::size_t line = 1; line + 1 < lines.size(); ++line) {
        const std::string_view text = lines[line];
        if (HopByHop(text, fields))
            continue;
        hostLine = hostLine || FieldValue(text, "Host");
        head += std::string(text) + "\r\n";
    }
    if (!hostLine)
        head += "Host: " + std::string(authority) + "\r\n";
    return head + (last ? "Connection: close\r\n\r\n" : "\r\n");
}

} // namespace

std::optional<RelayRequest> ReadRelayRequest(std::string_view head)
{
    const auto lines = HeadLines(head);
    if (!lines || lines->size() < 2 || !lines->back().empty())
        return std::nullopt;
    const auto requestLine = ReadRequestLine(lines->front());
    if (!requestLine)
        return std::nullopt;
    const FramingFields fields = ReadFramingFields(*lines, true);

    RelayRequest request;
    request.method = std::string(requestLine->method);
    std::string_view authority = requestLine->target;
    std::string_view path = "/";
    request.tunnel = requestLine->method == "CONNECT";
    if (!request.tunnel) {
        if (!StartsWithNoCase(authority, "http://"))
            return std::nullopt;
        authority.remove_prefix(7);
        const std::size_t pathStart = authority.find_first_of("/?");
        if (pathStart != std::string_view::npos) {
            path = authority.substr(pathStart);
            authority = authority.substr(0, pathStart);
        }
        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
            authority.remove_prefix(at + 1); // no credentials go to the server in the URL's place
        const auto body = BodyOf(fields);
        if (!body)
            return std::nullopt;
        request.body = *body;
    }
    const HostPort where = SplitHostPort(authority, request.tunnel ? 0 : 80);
    if (where.host.empty() || where.port == 0)
        return std::nullopt;
    request.host = where.host;
    request.port = where.port;
    request.lastOnConnection = fields.ConnectionSays("close") ||
                               (requestLine->version == "HTTP/1.0" && !fields.ConnectionSays("keep-alive"));
    if (!request.tunnel)
        request.serverHead = ServerHead(*requestLine, path, authority, *lines, fields, request.lastOnConnection);
    return request;
}

RelayHead ReadRelayHead(std::string_view received)
{
    const std::size_t end = HeadEnd(received.substr(0, kMostHeadBytes + 3));
    if (end == std::string_view::npos)
        return {received.size() >= kMostHeadBytes ? RelayHead::TooLarge : RelayHead::More};
    if (end > kMostHeadBytes)
        return {RelayHead::TooLarge};
    auto request = ReadRelayRequest(received.substr(0, end));
    if (!request)
        return {RelayHead::Bad, end};
    return {RelayHead::Whole, end, std::move(request)};
}

std::string WithProxyAuthorization(std::string_view proxyRequest, const std::string& authorizationLine)
{
    const auto lines = HeadLines(proxyRequest);
    if (!lines || lines->size() < 2)
        return {};
    std::string head = std::string(lines->front()) + "\r\n" + authorizationLine;
    for (std::size_t line = 1; line + 1 < lines->size(); ++line)
        if (!StartsWithNoCase((*lines)[line], "Proxy-"))
            head += std::string((*lines)[line]) + "\r\n";
    return head + "\r\n";
}

std::string ServerForm(std::string_view proxyRequest)
{
    const auto request = ReadRelayRequest(proxyRequest);
    return request ? request->serverHead : std::string();
}
