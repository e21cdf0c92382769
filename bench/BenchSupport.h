#pragma once
// What the benchmarks share: a clock in milliseconds and distinct loopback addresses.

#include <windows.h>

#include <string>

inline LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

inline double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// 127.a.b.c with every part from 1 to 250: distinct for the first 15 million indexes.
inline std::string LoopbackAddress(int index)
{
    return "127." + std::to_string(index / 62500 % 250 + 1) + "." +
           std::to_string(index / 250 % 250 + 1) + "." + std::to_string(index % 250 + 1);
}
