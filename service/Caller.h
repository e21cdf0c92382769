#pragma once
// Who is calling: the address a request is counted and logged under. An IPv4 caller that arrives
// mapped into IPv6 is its IPv4 address; behind a trusted reverse proxy, the caller is the one the
// proxy names last in X-Forwarded-For. Limits count an IPv6 caller by its /64, which one
// subscriber usually holds whole.

#include <boost/asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

// The address as it is logged and signed.
std::string CallerText(const boost::asio::ip::address& address);

// The key that limits count the caller `address` (its text form, as CallerText gives) under.
std::string CallerKey(const std::string& address);

// The caller of a request that came from `peer` with the X-Forwarded-For value `forwarded`: the
// last address there when `peer` is one of `trusted` and that address is one; `peer` otherwise.
std::string RequestCaller(const std::string& peer, std::string_view forwarded, const std::vector<std::string>& trusted);
