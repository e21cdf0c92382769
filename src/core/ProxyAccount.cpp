#include "core/ProxyAccount.h"

#include "core/ProxyList.h"
#include "core/ServiceUrl.h"

#include <algorithm>
#include <cctype>

namespace {

std::string_view Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<unsigned short> PortOf(std::string_view text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const unsigned long port = std::stoul(std::string(text));
    if (port == 0 || port > 65535)
        return std::nullopt;
    return static_cast<unsigned short>(port);
}

// "host:port", the host a name or an IPv4 address, or an IPv6 one in brackets where `brackets`.
bool SplitHostPort(std::string_view text, bool brackets, AccountedProxy& proxy)
{
    std::size_t colon;
    if (brackets && !text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        colon = close + 1;
    } else {
        colon = text.find(':');
        if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos ||
            text.find_first_of("[]") != std::string_view::npos)
            return false;
    }
    const auto port = PortOf(text.substr(colon + 1));
    if (colon == 0 || !port)
        return false;
    proxy.host = std::string(text.substr(0, colon));
    proxy.port = *port;
    return true;
}

std::optional<std::string> PercentDecoded(std::string_view text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (i + 2 >= text.size() || !hex(text[i + 1]) || !hex(text[i + 2]))
            return std::nullopt;
        decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return decoded;
}

// "user:password", the password after the first ":".
bool SplitAccount(std::string_view text, ProxyAccount& account)
{
    const std::size_t colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return false;
    account.user = std::string(text.substr(0, colon));
    account.password = std::string(text.substr(colon + 1));
    return true;
}

std::optional<ProxyKind> SchemeKind(std::string_view scheme)
{
    std::string lower;
    for (const char c : scheme)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "http")
        return ProxyKind::Http;
    if (lower == "socks5")
        return ProxyKind::Socks5;
    if (lower == "socks4")
        return ProxyKind::Socks4;
    return std::nullopt;
}

const char* SchemeOf(ProxyKind kind)
{
    return kind == ProxyKind::Socks5 ? "socks5" : kind == ProxyKind::Socks4 ? "socks4" : "http";
}

} // namespace

std::optional<AccountedProxy> ParseAccountedProxy(std::string_view address)
{
    address = Trimmed(address);
    for (const char c : address)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    AccountedProxy proxy;
    const std::size_t scheme = address.find("://");
    if (scheme != std::string_view::npos) {
        proxy.form = AccountedProxy::Form::Url;
        proxy.kind = SchemeKind(address.substr(0, scheme));
        std::string_view rest = address.substr(scheme + 3);
        if (!rest.empty() && rest.back() == '/')
            rest.remove_suffix(1);
        const std::size_t at = rest.rfind('@');
        ProxyAccount encoded;
        if (!proxy.kind || at == std::string_view::npos || !SplitAccount(rest.substr(0, at), encoded) ||
            !SplitHostPort(rest.substr(at + 1), true, proxy))
            return std::nullopt;
        const auto user = PercentDecoded(encoded.user);
        const auto password = PercentDecoded(encoded.password);
        if (!user || !password || user->empty())
            return std::nullopt;
        proxy.account = {*user, *password};
        return proxy;
    }
    const std::size_t at = address.rfind('@');
    if (at != std::string_view::npos) {
        proxy.form = AccountedProxy::Form::At;
        if (!SplitAccount(address.substr(0, at), proxy.account) || !SplitHostPort(address.substr(at + 1), true, proxy))
            return std::nullopt;
        return proxy;
    }
    // host:port:user:password, the password being the rest
    const std::size_t first = address.find(':');
    const std::size_t second = first == std::string_view::npos ? first : address.find(':', first + 1);
    if (second == std::string_view::npos || !SplitHostPort(address.substr(0, second), false, proxy) ||
        !SplitAccount(address.substr(second + 1), proxy.account))
        return std::nullopt;
    return proxy;
}

std::string ShownAddress(const AccountedProxy& proxy)
{
    return proxy.account.user + "@" + proxy.host + ":" + std::to_string(proxy.port);
}

std::string GivenForm(const AccountedProxy& proxy)
{
    const std::string hostPort = proxy.host + ":" + std::to_string(proxy.port);
    const ProxyAccount& account = proxy.account;
    switch (proxy.form) {
    case AccountedProxy::Form::Colons: return hostPort + ":" + account.user + ":" + account.password;
    case AccountedProxy::Form::At: return account.user + ":" + account.password + "@" + hostPort;
    case AccountedProxy::Form::Url: break;
    }
    return std::string(SchemeOf(proxy.kind.value_or(ProxyKind::Http))) + "://" + PercentEncode(account.user) + ":" +
           PercentEncode(account.password) + "@" + hostPort;
}

namespace {

std::string HostPortOf(const AccountedProxy& proxy)
{
    return proxy.host + ":" + std::to_string(proxy.port);
}

// `line` with its address (up to its first ";") as `replaced` gives the proxy with an account that
// it names; nullopt where it names none.
template <typename Replaced>
std::optional<std::string> WithAccountedAddress(std::string_view line, Replaced replaced)
{
    const std::size_t end = std::min(line.find(';'), line.size());
    const auto accounted = ParseAccountedProxy(line.substr(0, end));
    if (!accounted)
        return std::nullopt;
    return replaced(*accounted) + std::string(line.substr(end));
}

} // namespace

ProxyTarget TargetOf(std::string_view proxy)
{
    const auto accounted = ParseAccountedProxy(proxy);
    if (!accounted)
        return {std::string(Trimmed(proxy)), std::nullopt, std::nullopt};
    return {HostPortOf(*accounted), accounted->account, accounted->kind};
}

std::string ShownProxy(std::string_view proxy)
{
    const auto accounted = ParseAccountedProxy(proxy);
    return accounted ? ShownAddress(*accounted) : std::string(proxy);
}

std::string ShownLine(std::string_view line)
{
    return WithAccountedAddress(line, ShownAddress).value_or(std::string(line));
}

std::string ProbedHost(std::string_view line)
{
    const std::string address = ProxyLineAddress(line);
    if (address.find('@') == std::string::npos)
        return ProxyLineHost(line); // plain, or in the colons form: most lines need no parse
    const auto accounted = ParseAccountedProxy(address);
    return accounted && accounted->form != AccountedProxy::Form::Colons ? accounted->host : ProxyLineHost(line);
}

std::optional<std::string> WithoutAccounts(std::string_view lines)
{
    std::string kept;
    bool any = false;
    for (const std::string& line : SplitLines(lines)) {
        const auto without = WithAccountedAddress(line, HostPortOf);
        any = any || without;
        kept += without.value_or(line) + "\r\n";
    }
    return any ? std::optional(kept) : std::nullopt;
}
