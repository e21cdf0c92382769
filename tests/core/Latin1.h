#pragma once
// The system code page as the core's tests take it: one character per byte.

#include <string>
#include <string_view>

inline std::u16string Latin1(std::string_view bytes)
{
    std::u16string text;
    for (const char c : bytes)
        text += static_cast<unsigned char>(c);
    return text;
}
