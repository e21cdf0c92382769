#include "core/ProfileValue.h"

#include <optional>

namespace {

int DigitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

// All of `digits` in `base`, at most `limit`; nothing for no digits, another character or a
// larger value.
std::optional<std::uint64_t> Digits(std::string_view digits, int base, std::uint64_t limit)
{
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = DigitValue(c, base);
        if (digit < 0)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

constexpr std::uint64_t kHexLimit = 0xFFFFFFFFu;

std::int32_t Wrapped(std::uint64_t value)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

} // namespace

std::int32_t ProfileInteger(std::string_view text, std::int32_t fallback)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const auto value = Digits(text.substr(2), 16, kHexLimit);
        return value ? Wrapped(*value) : fallback;
    }

    std::size_t at = text.find_first_not_of(' ');
    if (at == std::string_view::npos)
        return fallback;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-')
        negative = text[at++] == '-';
    if (at < text.size() && text[at] == '$') {
        const auto value = Digits(text.substr(at + 1), 16, kHexLimit);
        if (!value)
            return fallback;
        return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(*value)) : Wrapped(*value);
    }
    const auto value = Digits(text.substr(at), 10, negative ? 2147483648u : 2147483647u);
    if (!value)
        return fallback;
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(*value)) : static_cast<std::int32_t>(*value);
}
