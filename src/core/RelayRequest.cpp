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

} // namespace

std::optional<RelayRequest> ReadRelayRequest(std::string_view head)
{
    const auto lines = Lines(head);
    if (!lines || lines->size() < 2 || !lines->back().empty())
        return std::nullopt;
    const std::string_view requestLine = lines->front();
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace)
        return std::nullopt;
    const std::string_view method = requestLine.substr(0, firstSpace);
    const std::string_view target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version = requestLine.substr(lastSpace + 1);
    if (!Token(method) || target.empty() || target.find(' ') != std::string_view::npos ||
        (version != "HTTP/1.0" && version != "HTTP/1.1"))
        return std::nullopt;

    RelayRequest request;
    std::string_view authority = target;
    std::string_view path = "/";
    request.tunnel = method == "CONNECT";
    if (!request.tunnel) {
        if (!StartsWithNoCase(target, "http://"))
            return std::nullopt;
        authority = target.substr(7);
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
    if (request.tunnel)
        return request;

    std::string serverHead = std::string(method) + " " + (path.front() == '?' ? "/" : "") + std::string(path) + " " +
                             std::string(version) + "\r\n";
    bool hostLine = false;
    for (std::size_t line = 1; line + 1 < lines->size(); ++line) {
        const std::string_view text = (*lines)[line];
        if (StartsWithNoCase(text, "Proxy-") || StartsWithNoCase(text, "Connection:") ||
            StartsWithNoCase(text, "Keep-Alive:"))
            continue;
        hostLine = hostLine || StartsWithNoCase(text, "Host:");
        serverHead += std::string(text) + "\r\n";
    }
    if (!hostLine)
        serverHead += "Host: " + std::string(authority) + "\r\n";
    request.serverHead = serverHead + "Connection: close\r\n\r\n";
    return request;
}
