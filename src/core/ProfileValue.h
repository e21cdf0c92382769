#pragma once
// The integer rule for values of the user-agent profile file.

#include <cstdint>
#include <string_view>

// A text longer than 2 characters that starts with "0x" or "0X" is hexadecimal. Otherwise it is
// a signed 32-bit number: leading blanks, then an optional sign, then decimal digits or "$" and
// hexadecimal digits. Hexadecimal values of up to 8 digits wrap into the signed range. Anything
// else, the empty text and values out of range included, gives `fallback`.
std::int32_t ProfileInteger(std::string_view text, std::int32_t fallback = 0);
