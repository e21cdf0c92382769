#include "core/IpCheckPage.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether text[at, end) stands alone as an address: no digit or dot just before it, and no digit,
// nor a dot followed by a digit, just after it (a full stop may end a sentence).
bool StandsAlone(std::string_view text, std::size_t at, std::size_t end)
{
    const bool before = at == 0 || !(IsDigit(text[at - 1]) || text[at - 1] == '.');
    const bool after = end == text.size() ||
                       !(IsDigit(text[end]) || (text[end] == '.' && end + 1 < text.size() && IsDigit(text[end + 1])));
    return before && after;
}

// The dotted IPv4 address that starts at `at`, if one does (four numbers of 1 to 3 digits, each
// at most 255), and is not part of a longer run of digits and dots.
std::optional<std::string_view> AddressAt(std::string_view text, std::size_t at)
{
    std::size_t end = at;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (end >= text.size() || text[end] != '.')
                return std::nullopt;
            ++end;
        }
        const std::size_t start = end;
        while (end < text.size() && IsDigit(text[end]) && end - start < 4)
            ++end;
        if (end == start || end - start > 3 || std::stoi(std::string(text.substr(start, end - start))) > 255)
            return std::nullopt;
    }
    if (!StandsAlone(text, at, end))
        return std::nullopt;
    return text.substr(at, end - at);
}

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

template <typename Visit>
void ForEachLine(std::string_view page, Visit visit)
{
    for (std::size_t start = 0; start < page.size();) {
        const std::size_t end = std::min(page.find('\n', start), page.size());
        visit(page.substr(start, end - start));
        start = end + 1;
    }
}

// A line's name and value, split at its first ":" or "="; an empty name where it has neither.
std::pair<std::string_view, std::string_view> Field(std::string_view line)
{
    const std::size_t split = line.find_first_of(":=");
    if (split == std::string_view::npos)
        return {{}, line};
    return {Trimmed(line.substr(0, split)), Trimmed(line.substr(split + 1))};
}

// A header's name as a server variable names it: upper case, "-" as "_", without "HTTP_".
std::string VariableName(std::string_view name)
{
    std::string variable;
    for (const char c : name)
        variable += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (variable.rfind("HTTP_", 0) == 0)
        variable.erase(0, 5);
    return variable;
}

} // namespace

std::optional<std::string> CallerAddress(std::string_view page)
{
    std::optional<std::string> remote;
    ForEachLine(page, [&](std::string_view line) {
        const auto [name, value] = Field(line);
        if (!remote && VariableName(name) == "REMOTE_ADDR")
            if (const auto address = AddressAt(value, 0); address && address->size() == value.size())
                remote = std::string(*address);
    });
    if (remote)
        return remote;
    for (std::size_t at = 0; at < page.size(); ++at)
        if (IsDigit(page[at]))
            if (const auto address = AddressAt(page, at))
                return std::string(*address);
    return std::nullopt;
}

bool MentionsAddress(std::string_view page, std::string_view address)
{
    if (address.empty())
        return false;
    for (std::size_t at = page.find(address); at != std::string_view::npos; at = page.find(address, at + 1))
        if (StandsAlone(page, at, at + address.size()))
            return true;
    return false;
}

bool HasProxyTraces(std::string_view page)
{
    static const char* const kTraces[] = {
        "VIA",       "X_FORWARDED_FOR", "X_FORWARDED", "FORWARDED_FOR", "FORWARDED",       "X_REAL_IP",
        "CLIENT_IP", "X_CLIENT_IP",     "X_PROXY_ID",  "PROXY_CONNECTION", "X_ORIGINATING_IP", "X_PROXYUSER_IP",
    };
    bool found = false;
    ForEachLine(page, [&](std::string_view line) {
        const auto [name, value] = Field(line);
        const std::string variable = VariableName(name);
        if (!value.empty() && std::find(std::begin(kTraces), std::end(kTraces), variable) != std::end(kTraces))
            found = true;
    });
    return found;
}

Anonymity JudgeAnonymity(std::string_view page, const std::optional<std::string>& usersAddress)
{
    if (!usersAddress)
        return Anonymity::Unknown;
    // Every line but the one that names the server the page was asked of.
    bool mentioned = false;
    ForEachLine(page, [&](std::string_view line) {
        mentioned = mentioned || (VariableName(Field(line).first) != "HOST" && MentionsAddress(line, *usersAddress));
    });
    if (mentioned)
        return Anonymity::Transparent;
    return HasProxyTraces(page) ? Anonymity::Anonymous : Anonymity::Elite;
}

const char* AnonymityText(Anonymity anonymity)
{
    switch (anonymity) {
    case Anonymity::Elite: return "elite";
    case Anonymity::Anonymous: return "anonymous";
    case Anonymity::Transparent: return "transparent";
    case Anonymity::Unknown: break;
    }
    return "unknown";
}
