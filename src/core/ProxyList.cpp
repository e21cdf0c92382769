#include "core/ProxyList.h"

namespace {

char DecodeCharacter(char c)
{
    switch (c) {
    case '%': return '.';
    case '&': return ':';
    case '@': return ';';
    default:
        if (c >= '2' && c <= '9')
            return static_cast<char>('0' + 11 - (c - '0'));
        return c;
    }
}

std::string_view Before(std::string_view line, char separator)
{
    return line.substr(0, line.find(separator));
}

} // namespace

std::string DecodeProxyList(std::string_view text)
{
    std::string decoded(text);
    for (char& c : decoded)
        c = DecodeCharacter(c);
    return decoded;
}

std::string EncodeProxyList(std::string_view text)
{
    std::string encoded(text);
    for (char& c : encoded) {
        if (c == '.')
            c = '%';
        else if (c == ':')
            c = '&';
        else if (c == ';')
            c = '@';
        else if (c >= '2' && c <= '9')
            c = static_cast<char>('0' + 11 - (c - '0'));
    }
    return encoded;
}

std::string ProxyLineLabel(std::string_view line)
{
    return std::string(Before(line, ';'));
}

std::string ProxyLineCountry(std::string_view line)
{
    const size_t separator = line.find(';');
    return separator == std::string_view::npos ? std::string() : std::string(line.substr(separator + 1));
}

std::string ProxyLineHost(std::string_view line)
{
    return std::string(Before(line, ':'));
}

std::string NormalizeLineEnds(std::string_view text)
{
    std::string normalized;
    normalized.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            normalized += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            normalized += "\r\n";
        } else {
            normalized += c;
        }
    }
    return normalized;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string ProxyLineAddress(std::string_view line)
{
    const std::string label = ProxyLineLabel(line);
    const auto first = label.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return label.substr(first, label.find_last_not_of(" \t") - first + 1);
}
