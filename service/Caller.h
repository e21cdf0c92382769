#pragma once
// Who is calling: the address a request is counted and logged under. An IPv4 caller that arrives
// mapped into IPv6 is its IPv4 address. Behind a trusted reverse proxy, the caller is the one the
// proxies name: the right-most address of X-Forwarded-For (all its lines, in order) that is not a
// trusted proxy's, or of Forwarded's "for=" where no X-Forwarded-For came. Limits count an IPv6
// caller by its /64, which one subscriber usually holds whole; its share of connections is bounded
// by its address, its /64 and its /48.

#include <boost/asio/ip/address.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An address and the leading bits that a network shares ("192.0.2.0/24", or one address).
struct CallerNetwork {
    boost::asio::ip::address_v6 address; // IPv4 as mapped into IPv6
    unsigned bits = 128;
};

// "address" or "address/bits"; nullopt where it is neither.
std::optional<CallerNetwork> ParseCallerNetwork(std::string_view text);
bool InNetworks(const std::string& address, const std::vector<CallerNetwork>& networks);

// The address as it is logged and signed.
std::string CallerText(const boost::asio::ip::address& address);

// The key that limits count the caller `address` (its text form, as CallerText gives) under.
std::string CallerKey(const std::string& address);
// The keys that its share of connections is counted under, narrowest first.
std::vector<std::string> CallerKeys(const std::string& address);

// The caller of a request that came from `peer` with these X-Forwarded-For lines and Forwarded
// lines: as above where `peer` is trusted and the address named is one; `peer` otherwise.
std::string RequestCaller(const std::string& peer, const std::vector<std::string_view>& forwardedFor,
                          const std::vector<std::string_view>& forwarded, const std::vector<CallerNetwork>& trusted);
