#include "core/RelayRequest.h"

#include "core/ServiceUrl.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() &&
           std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// The head's lines, without their CR LF; nullopt where a line holds a lone CR or a NUL.
std::optional<std::vector<std::string_view>> Lines(std::string_view head)
{
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const std::size_t end = head.find("\r\n");
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = head.substr(0, end);
        if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos)
            return std::nullopt;
        lines.push_back(line);
        head.remove_prefix(end + 2);
    }
    return lines;
}

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

// The head as the server at `authority` is asked for `path`: the request line in origin form, the
// header lines but those meant for a proxy or the connection, a Host line where none came.
std::string ServerHead(const RequestLine& request, std::string_view path, std::string_view authority,
                       const std::vector<std::string_view>& lines)
{
    std::string head = std::string(request.method) + " " + (path.front() == '?' ? "/" : "") + std::string(path) + " " +
                       std::string(request.version) + "\r\n";
    bool hostLine = false;
    for (std::size_t line = 1; line + 1 < lines.size(); ++line) {
        const std::string_view text = lines[line];
        if (StartsWithNoCase(text, "Proxy-") || StartsWithNoCase(text, "Connection:") ||
            StartsWithNoCase(text, "Keep-Alive:"))
            continue;
        hostLine = hostLine || StartsWithNoCase(text, "Host:");
        head += std::string(text) + "\r\n";
    }
    if (!hostLine)
        head += "Host: " + std::string(authority) + "\r\n";
    return head + "Connection: close\r\n\r\n";
}

} // namespace

std::optional<RelayRequest> ReadRelayRequest(std::string_view head)
{
    const auto lines = Lines(head);
    if (!lines || lines->size() < 2 || !lines->back().empty())
        return std::nullopt;
    const auto requestLine = ReadRequestLine(lines->front());
    if (!requestLine)
        return std::nullopt;

    RelayRequest request;
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
    }
    const HostPort where = SplitHostPort(authority, request.tunnel ? 0 : 80);
    if (where.host.empty() || where.port == 0)
        return std::nullopt;
    request.host = where.host;
    request.port = where.port;
    if (!request.tunnel)
        request.serverHead = ServerHead(*requestLine, path, authority, *lines);
    return request;
}
