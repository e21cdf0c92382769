#include "core/RegistryValue.h"

RegistryValue DwordValue(std::uint32_t number)
{
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((number >> shift) & 0xFF);
    return RegistryValue{kRegDword, bytes};
}

RegistryValue WideTextValue(const std::u16string& text)
{
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    bytes.append(2, '\0');
    return RegistryValue{kRegSz, bytes};
}

std::optional<std::u16string> WideText(const UserValue& value)
{
    if (!value || (value->type != kRegSz && value->type != kRegExpandSz))
        return std::nullopt;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(value->data[i]) |
                                                static_cast<unsigned char>(value->data[i + 1]) << 8);
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

bool IsNonZeroDword(const UserValue& value)
{
    return value && value->type == kRegDword && value->data.size() >= 4 &&
           value->data.substr(0, 4) != std::string(4, '\0');
}
