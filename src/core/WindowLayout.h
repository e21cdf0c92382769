#pragma once
// What a window keeps of its layout in the user's profile, and its text there: the window's size
// as restored, whether it was maximized, and its list's column widths and order of display.
// Pure functions on 8-bit text.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct WindowLayout {
    int width = 0;  // pixels, of the window restored
    int height = 0;
    bool maximized = false;
    std::vector<int> widths; // each column's, in pixels
    std::vector<int> order;  // the columns in the order they are shown

    bool operator==(const WindowLayout&) const = default;
};

// "width height maximized(0/1) | widths, comma-separated | order, comma-separated".
std::string FormatWindowLayout(const WindowLayout& layout);

// The layout of a window whose list has `columns` columns; nullopt for any other text: a size
// not from 1 to 32767, a width not from 0 to 32767, not `columns` widths, an order that is not
// each column once, anything more or less.
std::optional<WindowLayout> ParseWindowLayout(std::string_view text, std::size_t columns);
