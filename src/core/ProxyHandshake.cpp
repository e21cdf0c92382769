#include "core/ProxyHandshake.h"

#include "core/HttpHead.h"
#include "core/ServiceUrl.h"

#include <algorithm>

namespace {

// The four bytes of a dotted IPv4 address; nullopt for anything else.
std::optional<std::string> Ipv4Bytes(const std::string& host)
{
    std::string bytes;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= host.size() || host[at] != '.')
                return std::nullopt;
            ++at;
        }
        unsigned value = 0;
        const std::size_t start = at;
        while (at < host.size() && host[at] >= '0' && host[at] <= '9' && at - start < 3)
            value = value * 10 + static_cast<unsigned>(host[at++] - '0');
        if (at == start || value > 255)
            return std::nullopt;
        bytes += static_cast<char>(value);
    }
    return at == host.size() ? std::optional<std::string>(bytes) : std::nullopt;
}

// The sixteen bytes of an IPv6 address ("2001:db8::1", "::ffff:1.2.3.4"); nullopt for anything else.
std::optional<std::string> Ipv6Bytes(const std::string& host)
{
    std::string before, after; // the bytes before "::" and after it
    bool compressed = false;
    std::size_t at = 0;
    if (host.compare(0, 2, "::") == 0) {
        compressed = true;
        at = 2;
    }
    while (at < host.size()) {
        std::string& bytes = compressed ? after : before;
        const std::size_t end = std::min(host.find(':', at), host.size());
        const std::string group = host.substr(at, end - at);
        if (end == host.size() && group.find('.') != std::string::npos) {
            const auto ipv4 = Ipv4Bytes(group); // the last 32 bits as IPv4 writes them
            if (!ipv4)
                return std::nullopt;
            bytes += *ipv4;
            break;
        }
        if (group.empty() || group.size() > 4 || group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        const unsigned value = static_cast<unsigned>(std::stoul(group, nullptr, 16));
        bytes += static_cast<char>(value >> 8);
        bytes += static_cast<char>(value & 0xFF);
        at = end;
        if (at == host.size())
            break;
        if (host.compare(at, 2, "::") == 0) {
            if (compressed)
                return std::nullopt;
            compressed = true;
            at += 2;
        } else if (++at == host.size()) {
            return std::nullopt; // a lone ':' at the end
        }
    }
    const std::size_t given = before.size() + after.size();
    if (given > 16 || (!compressed && given != 16) || (compressed && given == 16))
        return std::nullopt;
    return before + std::string(16 - given, '\0') + after;
}

std::string PortBytes(unsigned short port)
{
    return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

unsigned char Byte(std::string_view text, std::size_t at)
{
    return static_cast<unsigned char>(text[at]);
}

// A refusal of `length` bytes, for `account`.
StepReply RefusedFor(std::size_t length, StepReply::Account account)
{
    StepReply refused{StepReply::Refused, length};
    refused.account = account;
    return refused;
}

StepReply ReadSocks5Choice(std::string_view received)
{
    if (received.empty())
        return {};
    if (Byte(received, 0) != 5)
        return {StepReply::Garbled};
    if (received.size() < 2)
        return {};
    if (Byte(received, 1) == 0)
        return {StepReply::Granted, 2};
    // No method offered will do: it wants an account.
    return RefusedFor(2, Byte(received, 1) == 0xFF ? StepReply::Account::Needed : StepReply::Account::Fine);
}

// The choice among no authentication and the username method, both offered.
StepReply ReadSocks5ChoiceOfTwo(std::string_view received)
{
    StepReply reply = ReadSocks5Choice(received);
    if (reply.state == StepReply::Refused && Byte(received, 1) == 2)
        return {StepReply::Granted, 2};
    if (reply.state == StepReply::Granted)
        reply.skip = 1; // no account asked for
    if (reply.state == StepReply::Refused)
        reply.account = StepReply::Account::Needed; // some other method
    return reply;
}

// The answer to the username and password (RFC 1929: version 1; some servers answer 5).
StepReply ReadSocks5AccountReply(std::string_view received)
{
    if (received.empty())
        return {};
    if (Byte(received, 0) != 1 && Byte(received, 0) != 5)
        return {StepReply::Garbled};
    if (received.size() < 2)
        return {};
    return Byte(received, 1) == 0 ? StepReply{StepReply::Granted, 2} : RefusedFor(2, StepReply::Account::Refused);
}

StepReply ReadSocks5Reply(std::string_view received)
{
    if (received.empty())
        return {};
    if (Byte(received, 0) != 5)
        return {StepReply::Garbled};
    if (received.size() < 5)
        return {};
    std::size_t address = 0;
    switch (Byte(received, 3)) {
    case 1: address = 4; break;
    case 3: address = 1 + Byte(received, 4); break;
    case 4: address = 16; break;
    default: return {StepReply::Garbled};
    }
    const std::size_t length = 4 + address + 2;
    if (received.size() < length)
        return {};
    const unsigned char code = Byte(received, 1);
    return {code == 0 ? StepReply::Granted : StepReply::Refused, length, code >= 3 && code <= 6};
}

StepReply ReadSocks4Reply(std::string_view received)
{
    if (received.empty())
        return {};
    if (Byte(received, 0) != 0 || (received.size() > 1 && (Byte(received, 1) < 0x5A || Byte(received, 1) > 0x5D)))
        return {StepReply::Garbled};
    if (received.size() < 8)
        return {};
    return {Byte(received, 1) == 0x5A ? StepReply::Granted : StepReply::Refused, 8, Byte(received, 1) == 0x5B};
}

StepReply ReadTunnelAnswer(std::string_view received)
{
    if (received.size() >= 12 && StatusOf(received) == 0)
        return {StepReply::Garbled};
    const std::size_t end = HeadEnd(received);
    if (end == std::string_view::npos)
        return {received.size() > kMostHeadBytes ? StepReply::Garbled : StepReply::More};
    if (end > kMostHeadBytes || StatusOf(received) == 0)
        return {StepReply::Garbled};
    StepReply reply{StatusOf(received) / 100 == 2 ? StepReply::Granted : StepReply::Refused, end};
    if (StatusOf(received) == 407)
        reply.account = StepReply::Account::Needed;
    return reply;
}

StepReply ReadTunnelAnswerWithAccount(std::string_view received)
{
    StepReply reply = ReadTunnelAnswer(received);
    // tinyproxy answers a wrong account with a 401
    if (reply.account == StepReply::Account::Needed || (reply.state == StepReply::Refused && StatusOf(received) == 401))
        reply.account = StepReply::Account::Refused;
    return reply;
}

} // namespace

const char* ProxyKindText(ProxyKind kind)
{
    switch (kind) {
    case ProxyKind::Socks5: return "SOCKS5";
    case ProxyKind::Socks4: return "SOCKS4";
    default: return "HTTP";
    }
}

std::optional<ProxyKind> ProxyKindOf(std::string_view text)
{
    for (const ProxyKind kind : {ProxyKind::Http, ProxyKind::Socks5, ProxyKind::Socks4})
        if (text == ProxyKindText(kind))
            return kind;
    return std::nullopt;
}

std::vector<HandshakeStep> SocksSteps(ProxyKind kind, const std::string& host, unsigned short port,
                                      const ProxyAccount* account)
{
    const std::optional<std::string> ipv4 = Ipv4Bytes(host);
    const bool literal6 = host.find(':') != std::string::npos;
    if (kind == ProxyKind::Socks5) {
        const std::optional<std::string> ipv6 = literal6 ? Ipv6Bytes(host) : std::nullopt;
        if (literal6 ? !ipv6 : !ipv4 && (host.empty() || host.size() > 255))
            return {};
        const std::string address = ipv4   ? std::string(1, '\x01') + *ipv4
                                    : ipv6 ? std::string(1, '\x04') + *ipv6
                                           : std::string(1, '\x03') + static_cast<char>(host.size()) + host;
        HandshakeStep connect{std::string("\x05\x01\x00", 3) + address + PortBytes(port), &ReadSocks5Reply};
        if (!account)
            return {{std::string("\x05\x01\x00", 3), &ReadSocks5Choice}, std::move(connect)};
        if (account->user.empty() || account->user.size() > 255 || account->password.size() > 255)
            return {};
        std::string login = std::string(1, '\x01') + static_cast<char>(account->user.size()) + account->user +
                            static_cast<char>(account->password.size()) + account->password;
        return {{std::string("\x05\x02\x00\x02", 4), &ReadSocks5ChoiceOfTwo},
                {std::move(login), &ReadSocks5AccountReply},
                std::move(connect)};
    }
    if (kind != ProxyKind::Socks4 || host.empty() || host.size() > 255 || literal6 ||
        (account && account->user.find('\0') != std::string::npos))
        return {};
    // The user id, where given; a name follows the address 0.0.0.1 (4a).
    const std::string user = account ? account->user : std::string();
    std::string request = std::string("\x04\x01", 2) + PortBytes(port) +
                          (ipv4 ? *ipv4 + user + '\0' : std::string("\0\0\0\x01", 4) + user + '\0' + host + '\0');
    return {{std::move(request), &ReadSocks4Reply}};
}

std::string TunnelRequest(const std::string& authority, const std::string& userAgent, const ProxyAccount* account)
{
    return "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\nUser-Agent: " + userAgent + "\r\n" +
           (account ? ProxyAuthorizationLine(*account) : std::string()) + "\r\n";
}

std::string ProxyAuthorizationLine(const ProxyAccount& account)
{
    return "Proxy-Authorization: " + BasicAuthorization(account.user, account.password) + "\r\n";
}

HandshakeStep TunnelStep(std::string request, bool withAccount)
{
    return {std::move(request), withAccount ? &ReadTunnelAnswerWithAccount : &ReadTunnelAnswer};
}
