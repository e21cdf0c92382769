#include "Caller.h"

#include <algorithm>

namespace ip = boost::asio::ip;

namespace {

std::string_view Trimmed(std::string_view text)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(" \t") + 1 - start);
}

// The items of comma-separated `lines`, in order.
std::vector<std::string_view> Items(const std::vector<std::string_view>& lines)
{
    std::vector<std::string_view> items;
    for (std::string_view line : lines)
        for (std::size_t start = 0; start <= line.size();) {
            const std::size_t comma = std::min(line.find(',', start), line.size());
            items.push_back(Trimmed(line.substr(start, comma - start)));
            start = comma + 1;
        }
    return items;
}

// A Forwarded element's "for=" node as an address: "192.0.2.7", "192.0.2.7:80", "[2001:db8::1]",
// "[2001:db8::1]:80", quoted or not; empty where it names none.
std::string ForwardedFor(std::string_view element)
{
    for (std::size_t start = 0; start <= element.size();) {
        const std::size_t semicolon = std::min(element.find(';', start), element.size());
        std::string_view pair = Trimmed(element.substr(start, semicolon - start));
        start = semicolon + 1;
        if (pair.size() < 4 || !std::equal(pair.begin(), pair.begin() + 4, "for=", [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            }))
            continue;
        std::string_view node = pair.substr(4);
        if (node.size() >= 2 && node.front() == '"' && node.back() == '"')
            node = node.substr(1, node.size() - 2);
        if (!node.empty() && node.front() == '[')
            return std::string(node.substr(1, node.find(']') == std::string_view::npos ? 0 : node.find(']') - 1));
        return std::string(node.substr(0, node.find(':')));
    }
    return {};
}

std::optional<ip::address_v6> AsV6(std::string_view text)
{
    boost::system::error_code error;
    const ip::address address = ip::make_address(std::string(text), error);
    if (error)
        return std::nullopt;
    return address.is_v4() ? ip::make_address_v6(ip::v4_mapped, address.to_v4()) : address.to_v6();
}

} // namespace

std::optional<CallerNetwork> ParseCallerNetwork(std::string_view text)
{
    const std::size_t slash = text.find('/');
    const auto address = AsV6(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    const bool v4 = address->is_v4_mapped();
    CallerNetwork network{*address, 128};
    if (slash != std::string_view::npos) {
        const std::string_view bits = text.substr(slash + 1);
        if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        const unsigned given = static_cast<unsigned>(std::stoul(std::string(bits)));
        if (given > (v4 ? 32u : 128u))
            return std::nullopt;
        network.bits = v4 ? given + 96 : given;
    }
    return network;
}

bool InNetworks(const std::string& address, const std::vector<CallerNetwork>& networks)
{
    const auto parsed = AsV6(address);
    if (!parsed)
        return false;
    const auto bytes = parsed->to_bytes();
    return std::any_of(networks.begin(), networks.end(), [&](const CallerNetwork& network) {
        const auto wanted = network.address.to_bytes();
        for (unsigned bit = 0; bit < network.bits; bit += 8) {
            const unsigned mask = network.bits - bit >= 8 ? 0xFF : (0xFF << (8 - (network.bits - bit))) & 0xFF;
            if ((bytes[bit / 8] & mask) != (wanted[bit / 8] & mask))
                return false;
        }
        return true;
    });
}

std::string CallerText(const ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

namespace {

// `address`'s network of its first `bits`, as a key; nullopt where it is no IPv6 address.
std::optional<std::string> V6Prefix(const std::string& address, unsigned bits)
{
    boost::system::error_code error;
    const ip::address parsed = ip::make_address(address, error);
    if (error || !parsed.is_v6())
        return std::nullopt;
    ip::address_v6::bytes_type bytes = parsed.to_v6().to_bytes();
    std::fill(bytes.begin() + bits / 8, bytes.end(), 0);
    return ip::address_v6(bytes).to_string() + "/" + std::to_string(bits);
}

} // namespace

std::string CallerKey(const std::string& address)
{
    return V6Prefix(address, 64).value_or(address);
}

std::vector<std::string> CallerKeys(const std::string& address)
{
    const auto slash64 = V6Prefix(address, 64);
    if (!slash64)
        return {address};
    return {address, *slash64, *V6Prefix(address, 48)};
}

std::string RequestCaller(const std::string& peer, const std::vector<std::string_view>& forwardedFor,
                          const std::vector<std::string_view>& forwarded, const std::vector<CallerNetwork>& trusted)
{
    if (!InNetworks(peer, trusted))
        return peer;
    std::vector<std::string> chain; // left to right: the client first, then each proxy before the last
    if (!forwardedFor.empty())
        for (std::string_view item : Items(forwardedFor))
            chain.emplace_back(item);
    else
        for (std::string_view element : Items(forwarded))
            chain.push_back(ForwardedFor(element));
    // From the right, past the trusted proxies: the first that no trusted proxy is, is the caller.
    for (auto hop = chain.rbegin(); hop != chain.rend(); ++hop) {
        boost::system::error_code error;
        const ip::address address = ip::make_address(*hop, error);
        if (error)
            return peer; // a name, a port, garbage: no one is named that a trusted proxy vouches for
        const std::string caller = CallerText(address);
        if (!InNetworks(caller, trusted) || std::next(hop) == chain.rend())
            return caller;
    }
    return peer;
}
