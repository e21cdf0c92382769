#pragma once
// Texts of the echo status codes (the platform's IP_STATUS numbering).

#include <cstdint>
#include <string>

inline constexpr std::uint32_t kIcmpSuccess = 0;
inline constexpr std::uint32_t kIcmpBadDestination = 11018;

// The text for `status`; a code without one gives "ICMP error #" and the code in unsigned decimal.
std::string IcmpStatusText(std::uint32_t status);
