#include "core/IcmpStatus.h"

std::string IcmpStatusText(std::uint32_t status)
{
    switch (status) {
    case 0: return "No error";
    case 11001: return "Buffer too small";
    case 11002: return "Destination network unreachable";
    case 11003: return "Destination host unreachable";
    case 11004: return "Destination protocol unreachable";
    case 11005: return "Destination port unreachable";
    case 11006: return "No resources";
    case 11007: return "Bad option";
    case 11008: return "Hardware error";
    case 11009: return "Packet too big";
    case 11010: return "Request timed out";
    case 11011: return "Bad request";
    case 11012: return "Bad route";
    case 11013: return "TTL expired in transit";
    case 11014: return "TTL expired in reassembly";
    case 11015: return "Parameter problem";
    case 11016: return "Source quench";
    case 11017: return "Option too big";
    case 11018: return "Bad Destination";
    case 11019: return "Address deleted";
    case 11020: return "Spec MTU change";
    case 11021: return "MTU change";
    case 11050: return "General failure";
    case 11255: return "Pending";
    default: return "ICMP error #" + std::to_string(status);
    }
}
