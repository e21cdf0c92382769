#include "core/HttpHead.h"

#include <algorithm>
#include <cctype>

namespace {

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::size_t HeadEnd(std::string_view text)
{
    const std::size_t end = text.find("\r\n\r\n");
    return end == std::string_view::npos ? end : end + 4;
}

int StatusOf(std::string_view head)
{
    // "HTTP/1.x NNN"
    if (head.size() < 12 || head.compare(0, 7, "HTTP/1.") != 0 || head[8] != ' ')
        return 0;
    int status = 0;
    for (std::size_t digit = 9; digit < 12; ++digit) {
        if (head[digit] < '0' || head[digit] > '9')
            return 0;
        status = status * 10 + (head[digit] - '0');
    }
    return status;
}

bool StartsWithNoCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && EqualNoCase(text.substr(0, start.size()), start);
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::optional<std::vector<std::string_view>> HeadLines(std::string_view head)
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

std::optional<std::string_view> FieldValue(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':' || !StartsWithNoCase(line, name))
        return std::nullopt;
    return Trimmed(line.substr(name.size() + 1));
}

bool ListHolds(std::string_view value, std::string_view token)
{
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        if (EqualNoCase(Trimmed(value.substr(0, comma)), token))
            return true;
        value.remove_prefix(comma == std::string_view::npos ? value.size() : comma + 1);
    }
    return false;
}

std::optional<std::uint64_t> ContentLength(std::string_view digits)
{
    if (digits.empty() || digits.size() > 18 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::uint64_t length = 0;
    for (const char digit : digits)
        length = length * 10 + static_cast<unsigned>(digit - '0');
    return length;
}

bool FramingFields::ConnectionSays(std::string_view token) const
{
    return std::any_of(connection.begin(), connection.end(), [&](std::string_view value) { return ListHolds(value, token); });
}

FramingFields ReadFramingFields(const std::vector<std::string_view>& lines, bool withProxyConnection)
{
    FramingFields fields;
    for (std::size_t line = 1; line + 1 < lines.size(); ++line) {
        const std::string_view text = lines[line];
        if (auto value = FieldValue(text, "Connection")) {
            fields.connection.push_back(*value);
        } else if (auto proxyValue = withProxyConnection ? FieldValue(text, "Proxy-Connection") : std::nullopt) {
            fields.connection.push_back(*proxyValue);
        } else if (auto length = FieldValue(text, "Content-Length")) {
            fields.lengthsDiffer = fields.lengthsDiffer || (fields.length && *fields.length != *length);
            fields.length = length;
        } else if (auto coding = FieldValue(text, "Transfer-Encoding")) {
            fields.codingTwice = fields.codingTwice || fields.coding.has_value();
            fields.coding = coding;
        }
    }
    return fields;
}
