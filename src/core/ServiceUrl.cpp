#include "core/ServiceUrl.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#ifndef ZARNU_DEFAULT_SERVICE_HOST
#define ZARNU_DEFAULT_SERVICE_HOST "zarnu.example"
#endif

namespace {

bool StaysUnencoded(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A "%" not followed by two hexadecimal digits stands for itself.
std::string PercentDecode(std::string_view text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

} // namespace

std::string PercentEncode(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (StaysUnencoded(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

std::string ServiceHost()
{
    const char* host = std::getenv("ZARNU_SERVICE_HOST");
    return host && *host ? host : ZARNU_DEFAULT_SERVICE_HOST;
}

std::string ServiceUrl(std::string_view account, std::string_view host, std::string_view path)
{
    return "http://" + PercentEncode(account) + ":" + ServicePassword + "@" + std::string(host) +
           std::string(path);
}

UrlCredentials SplitUrlCredentials(std::string_view url)
{
    UrlCredentials parts;
    parts.url = url;
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos)
        return parts;
    const size_t authorityStart = schemeEnd + 3;
    const size_t authorityEnd = url.find_first_of("/?#", authorityStart);
    const std::string_view authority = url.substr(authorityStart, authorityEnd - authorityStart);
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return parts;

    const std::string_view userInfo = authority.substr(0, at);
    const size_t colon = userInfo.find(':');
    parts.hasUserInfo = true;
    parts.user = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string_view::npos)
        parts.password = PercentDecode(userInfo.substr(colon + 1));
    parts.url = std::string(url.substr(0, authorityStart)) +
                std::string(url.substr(authorityStart + at + 1));
    return parts;
}

std::string BasicAuthorization(std::string_view user, std::string_view password)
{
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = std::string(user) + ":" + std::string(password);
    std::string encoded = "Basic ";
    for (size_t i = 0; i < plain.size(); i += 3) {
        const size_t left = plain.size() - i;
        unsigned value = static_cast<unsigned char>(plain[i]) << 16;
        if (left > 1)
            value |= static_cast<unsigned char>(plain[i + 1]) << 8;
        if (left > 2)
            value |= static_cast<unsigned char>(plain[i + 2]);
        encoded += kAlphabet[(value >> 18) & 63];
        encoded += kAlphabet[(value >> 12) & 63];
        encoded += left > 1 ? kAlphabet[(value >> 6) & 63] : '=';
        encoded += left > 2 ? kAlphabet[value & 63] : '=';
    }
    return encoded;
}

HostPort SplitHostPort(std::string_view text, unsigned short defaultPort)
{
    HostPort split;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return {std::string(text), 0};
        split.host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.rfind(':');
        // More than one colon without brackets: an IPv6 address without a port.
        const bool ipv6 = colon != std::string_view::npos && text.find(':') != colon;
        split.host = text.substr(0, ipv6 ? text.size() : colon);
        rest = ipv6 || colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (rest.empty()) {
        split.port = defaultPort;
        return split;
    }
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6)
        return split;
    unsigned long port = 0;
    for (const char c : rest.substr(1)) {
        if (c < '0' || c > '9')
            return split;
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    split.port = port >= 1 && port <= 65535 ? static_cast<unsigned short>(port) : 0;
    return split;
}

std::optional<BasicCredentials> ReadBasicAuthorization(std::string_view value)
{
    static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    // The scheme's name is case-insensitive.
    const std::string_view scheme = value.substr(0, 6);
    if (scheme.size() != 6 || !std::equal(scheme.begin(), scheme.end(), "basic ", [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        }))
        return std::nullopt;
    value.remove_prefix(6);
    while (!value.empty() && value.back() == '=')
        value.remove_suffix(1);
    std::string plain;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : value) {
        const std::size_t digit = kAlphabet.find(c);
        if (digit == std::string_view::npos)
            return std::nullopt;
        buffer = (buffer << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            plain += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    const std::size_t colon = plain.find(':');
    if (colon == std::string::npos)
        return BasicCredentials{plain, {}};
    return BasicCredentials{plain.substr(0, colon), plain.substr(colon + 1)};
}
