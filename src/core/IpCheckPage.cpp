#include "core/IpCheckPage.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kContext = "Zarnu what-is-my-IP statement 1\n";
constexpr std::string_view kSignatureName = "ZARNU_SIGNATURE = ";
// Headers that proxies add, in server-variable spelling.
constexpr std::string_view kTraces[] = {
    "VIA",       "X_FORWARDED_FOR", "X_FORWARDED", "FORWARDED_FOR", "FORWARDED",       "X_REAL_IP",
    "CLIENT_IP", "X_CLIENT_IP",     "X_PROXY_ID",  "PROXY_CONNECTION", "X_ORIGINATING_IP", "X_PROXYUSER_IP",
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Four decimal numbers of 1 to 3 digits, each at most 255, joined by dots.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text)
{
    std::array<std::uint8_t, 4> bytes{};
    std::size_t at = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return std::nullopt;
        unsigned value = 0;
        std::size_t digits = 0;
        for (; at < text.size() && IsDigit(text[at]) && digits < 4; ++at, ++digits)
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size())
        return std::nullopt;
    return bytes;
}

// The 16-bit groups of one side of an IPv6 address ("2001:db8", or "ffff:192.0.2.1" whose
// dotted end counts as two groups); nullopt when a group is malformed.
std::optional<std::vector<std::uint16_t>> Ipv6Groups(std::string_view text)
{
    std::vector<std::uint16_t> groups;
    if (text.empty())
        return groups;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        const std::string_view group = text.substr(start, end - start);
        if (end == text.size() && group.find('.') != std::string_view::npos) {
            const auto v4 = ParseIpv4(group);
            if (!v4)
                return std::nullopt;
            groups.push_back(static_cast<std::uint16_t>((*v4)[0] << 8 | (*v4)[1]));
            groups.push_back(static_cast<std::uint16_t>((*v4)[2] << 8 | (*v4)[3]));
            return groups;
        }
        if (group.empty() || group.size() > 4)
            return std::nullopt;
        unsigned value = 0;
        for (const char c : group) {
            if (HexValue(c) < 0)
                return std::nullopt;
            value = value * 16 + static_cast<unsigned>(HexValue(c));
        }
        groups.push_back(static_cast<std::uint16_t>(value));
        if (end == text.size())
            return groups;
        start = end + 1;
    }
}

std::optional<IpAddress> ParseIpv6(std::string_view text)
{
    const std::size_t gap = text.find("::");
    const auto head = Ipv6Groups(gap == std::string_view::npos ? text : text.substr(0, gap));
    const auto tail = gap == std::string_view::npos ? std::optional<std::vector<std::uint16_t>>(std::vector<std::uint16_t>())
                                                    : Ipv6Groups(text.substr(gap + 2));
    if (!head || !tail)
        return std::nullopt;
    const std::size_t count = head->size() + tail->size();
    if (gap == std::string_view::npos ? count != 8 : count > 7)
        return std::nullopt;
    std::vector<std::uint16_t> groups = *head;
    groups.resize(8 - tail->size(), 0);
    groups.insert(groups.end(), tail->begin(), tail->end());
    IpAddress address{};
    for (std::size_t i = 0; i < 8; ++i) {
        address[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
        address[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
    }
    return address;
}

bool IsAddressCharacter(char c)
{
    return HexValue(c) >= 0 || c == ':' || c == '.';
}

// The addresses a run of hex digits, colons and dots may hold: the run itself (without a full
// stop that ends a sentence), and in each of its colon-separated pieces the dotted IPv4 address
// that ends it ("1.2.3.4:4711", "::ffff:1.2.3.4", "abc1.2.3.4").
template <typename Visit>
void ForEachAddressIn(std::string_view run, Visit visit)
{
    while (!run.empty() && run.back() == '.')
        run.remove_suffix(1);
    if (const auto whole = ParseIpAddress(run))
        visit(*whole);
    for (std::size_t start = 0; start <= run.size();) {
        const std::size_t end = std::min(run.find(':', start), run.size());
        std::string_view piece = run.substr(start, end - start);
        const auto first = piece.find_last_not_of("0123456789.");
        if (first != std::string_view::npos)
            piece.remove_prefix(first + 1);
        if (const auto v4 = ParseIpv4(piece))
            visit(*ParseIpAddress(piece));
        start = end + 1;
    }
}

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A header's name as a server variable spells it: upper case, "-" as "_".
std::string VariableName(std::string_view name)
{
    std::string variable;
    for (const char c : name)
        variable += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return variable;
}

// A field as one line of the page: control characters (line ends among them) as "?".
std::string OneLine(std::string_view text)
{
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return line;
}

} // namespace

std::optional<IpAddress> ParseIpAddress(std::string_view text)
{
    if (const auto v4 = ParseIpv4(text)) {
        IpAddress mapped{};
        mapped[10] = mapped[11] = 0xFF;
        std::copy(v4->begin(), v4->end(), mapped.begin() + 12);
        return mapped;
    }
    if (text.find(':') == std::string_view::npos)
        return std::nullopt;
    return ParseIpv6(text);
}

bool MentionsAddress(std::string_view text, std::string_view address)
{
    const auto wanted = ParseIpAddress(address);
    if (!wanted)
        return false;
    bool found = false;
    for (std::size_t at = 0; at < text.size() && !found;) {
        if (!IsAddressCharacter(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && IsAddressCharacter(text[end]))
            ++end;
        ForEachAddressIn(text.substr(at, end - at), [&](const IpAddress& seen) { found = found || seen == *wanted; });
        at = end;
    }
    return found;
}

std::string StatementMessage(std::string_view statement)
{
    std::string message(kContext);
    message += statement;
    return message;
}

std::string SignedIpCheckPage(const IpStatement& statement,
                              const std::function<std::string(std::string_view message)>& sign)
{
    std::string page = "REMOTE_ADDR = " + OneLine(statement.callerAddress) + "\nZARNU_SIDE = " +
                       OneLine(statement.side) + "\n";
    if (statement.limited)
        page += "ZARNU_LIMITED = 1\n";
    for (const auto& [name, value] : statement.limited ? decltype(statement.headers){} : statement.headers)
        page += "HTTP_" + OneLine(VariableName(name)) + " = " + OneLine(value) + "\n";
    if (statement.placed && !statement.limited)
        page += "ZARNU_COUNTRY = " + OneLine(statement.country) + "\nZARNU_NETWORK = " + OneLine(statement.network) + "\n";
    page += "ZARNU_TOKEN = " + OneLine(statement.token) + "\n";
    return page + std::string(kSignatureName) + HexText(sign(StatementMessage(page))) + "\n";
}

std::string ServedIpCheckPage(const IpStatement& statement,
                              const std::function<std::string(std::string_view message)>& sign)
{
    const std::string& token = statement.token;
    if (token.size() >= 32 && token.size() <= 64 && HexBytes(token))
        return SignedIpCheckPage(statement, sign);
    if (statement.limited)
        return {};
    std::string page = "REMOTE_ADDR = " + OneLine(statement.callerAddress) + "\n";
    for (const auto& [name, value] : statement.headers)
        page += "HTTP_" + OneLine(VariableName(name)) + " = " + OneLine(value) + "\n";
    return page;
}

std::optional<IpStatement> AcceptStatement(std::string_view page, std::string_view token, std::string_view side,
                                           const SignatureCheck& check)
{
    if (!page.empty() && page.back() == '\n')
        page.remove_suffix(1);
    const std::size_t split = page.rfind(std::string("\n") + std::string(kSignatureName));
    if (split == std::string_view::npos || token.empty())
        return std::nullopt;
    const std::string_view statement = page.substr(0, split + 1);
    const auto signature = HexBytes(page.substr(split + 1 + kSignatureName.size()));
    if (!signature || !check(StatementMessage(statement), *signature))
        return std::nullopt;

    IpStatement read;
    bool hasCaller = false;
    bool hasSide = false;
    bool hasCountry = false;
    bool hasNetwork = false;
    std::string_view lastName;
    for (std::size_t start = 0; start < statement.size();) {
        const std::size_t end = statement.find('\n', start);
        const std::string_view line = statement.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find(" = ");
        if (equals == std::string_view::npos)
            return std::nullopt;
        const std::string_view name = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 3);
        lastName = name;
        if (name == "REMOTE_ADDR" && !hasCaller) {
            read.callerAddress = value;
            hasCaller = true;
        } else if (name == "ZARNU_SIDE" && !hasSide) {
            read.side = value;
            hasSide = true;
        } else if (name == "ZARNU_TOKEN" && read.token.empty()) {
            read.token = value;
        } else if (name == "ZARNU_COUNTRY" && !hasCountry) {
            read.country = value;
            hasCountry = true;
        } else if (name == "ZARNU_NETWORK" && !hasNetwork) {
            read.network = value;
            hasNetwork = true;
        } else if (name == "ZARNU_LIMITED" && value == "1" && !read.limited) {
            read.limited = true;
        } else if (name.substr(0, 5) == "HTTP_") {
            read.headers.emplace_back(name.substr(5), value);
        } else {
            return std::nullopt; // a field twice, or one this program does not know
        }
    }
    read.placed = hasCountry && hasNetwork;
    if (lastName != "ZARNU_TOKEN" || read.token != token || read.side != side || hasCountry != hasNetwork ||
        !ParseIpAddress(read.callerAddress))
        return std::nullopt;
    return read;
}

bool HasProxyTraces(const IpStatement& statement)
{
    return std::any_of(statement.headers.begin(), statement.headers.end(), [](const auto& header) {
        return !Trimmed(header.second).empty() &&
               std::find(std::begin(kTraces), std::end(kTraces), header.first) != std::end(kTraces);
    });
}

Anonymity JudgeAnonymity(const IpStatement& statement, const std::vector<std::string>& usersAddresses)
{
    if (usersAddresses.empty())
        return Anonymity::Unknown;
    const auto caller = ParseIpAddress(statement.callerAddress);
    for (const std::string& users : usersAddresses) {
        if (caller && caller == ParseIpAddress(users))
            return Anonymity::Transparent;
        // The line that names the server asked does not count: it may be the user's own address.
        for (const auto& [name, value] : statement.headers)
            if (name != "HOST" && MentionsAddress(value, users))
                return Anonymity::Transparent;
    }
    return HasProxyTraces(statement) ? Anonymity::Anonymous : Anonymity::Elite;
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

std::string HexText(std::string_view bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        hex += kDigits[static_cast<unsigned char>(byte) >> 4];
        hex += kDigits[static_cast<unsigned char>(byte) & 0x0F];
    }
    return hex;
}

std::optional<std::string> HexBytes(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t at = 0; at < hex.size(); at += 2) {
        const int high = HexValue(hex[at]);
        const int low = HexValue(hex[at + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += static_cast<char>(high << 4 | low);
    }
    return bytes;
}
