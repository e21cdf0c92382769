#pragma once
// One registry value as it is stored, and the text forms the program reads and writes. Strings
// are kept in the form the platform's wide calls give them (UTF-16, little-endian), so that
// whatever characters a user's value holds comes back exactly.

#include <cstdint>
#include <optional>
#include <string>

// The platform's numbers for the value types the program handles.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

struct RegistryValue {
    std::uint32_t type = 0;
    std::string data; // the value's bytes

    bool operator==(const RegistryValue&) const = default;
};

// What a user had of one value: nothing (nullopt), or the value as it was stored.
using UserValue = std::optional<RegistryValue>;

// A REG_DWORD of `number`.
RegistryValue DwordValue(std::uint32_t number);
// A REG_SZ holding `text` and its terminating zero, in the wide form.
RegistryValue WideTextValue(const std::u16string& text);
// The text of a string value (REG_SZ or REG_EXPAND_SZ) in the wide form, up to its first zero;
// nullopt for a value of another type or none at all.
std::optional<std::u16string> WideText(const UserValue& value);
// True for a REG_DWORD whose number is not 0.
bool IsNonZeroDword(const UserValue& value);
