#include "core/WindowLayout.h"

#include <algorithm>

namespace {

// A whole number from `least` to 32767, digits only.
std::optional<int> Number(std::string_view text, int least)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const int number = std::stoi(std::string(text));
    return number >= least && number <= 32767 ? std::optional(number) : std::nullopt;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::optional<std::vector<int>> Numbers(std::string_view text, std::size_t count)
{
    std::vector<int> numbers;
    for (const std::string_view part : Split(text, ',')) {
        const auto number = Number(part, 0);
        if (!number)
            return std::nullopt;
        numbers.push_back(*number);
    }
    return numbers.size() == count ? std::optional(numbers) : std::nullopt;
}

std::string Joined(const std::vector<int>& numbers)
{
    std::string text;
    for (const int number : numbers)
        text += (text.empty() ? "" : ",") + std::to_string(number);
    return text;
}

} // namespace

std::string FormatWindowLayout(const WindowLayout& layout)
{
    return std::to_string(layout.width) + " " + std::to_string(layout.height) + " " + (layout.maximized ? "1" : "0") +
           "|" + Joined(layout.widths) + "|" + Joined(layout.order);
}

std::optional<WindowLayout> ParseWindowLayout(std::string_view text, std::size_t columns)
{
    const auto parts = Split(text, '|');
    if (parts.size() != 3 || columns == 0)
        return std::nullopt;
    const auto size = Split(parts[0], ' ');
    if (size.size() != 3 || (size[2] != "0" && size[2] != "1"))
        return std::nullopt;
    WindowLayout layout;
    const auto width = Number(size[0], 1);
    const auto height = Number(size[1], 1);
    auto widths = Numbers(parts[1], columns);
    auto order = Numbers(parts[2], columns);
    if (!width || !height || !widths || !order)
        return std::nullopt;
    std::vector<int> sorted = *order;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t column = 0; column < columns; ++column)
        if (sorted[column] != static_cast<int>(column))
            return std::nullopt;
    layout.width = *width;
    layout.height = *height;
    layout.maximized = size[2] == "1";
    layout.widths = std::move(*widths);
    layout.order = std::move(*order);
    return layout;
}
