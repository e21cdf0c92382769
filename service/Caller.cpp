#include "Caller.h"

#include <algorithm>

namespace ip = boost::asio::ip;

std::string CallerText(const ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

std::string CallerKey(const std::string& address)
{
    boost::system::error_code error;
    const ip::address parsed = ip::make_address(address, error);
    if (error || !parsed.is_v6())
        return address;
    ip::address_v6::bytes_type bytes = parsed.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return ip::address_v6(bytes).to_string() + "/64";
}

std::string RequestCaller(const std::string& peer, std::string_view forwarded, const std::vector<std::string>& trusted)
{
    if (forwarded.empty() || std::find(trusted.begin(), trusted.end(), peer) == trusted.end())
        return peer;
    const std::size_t comma = forwarded.rfind(',');
    std::string last(forwarded.substr(comma == std::string_view::npos ? 0 : comma + 1));
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    boost::system::error_code error;
    const ip::address address = ip::make_address(last, error);
    return error ? peer : CallerText(address);
}
