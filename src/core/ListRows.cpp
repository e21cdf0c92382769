#include "core/ListRows.h"

#include <algorithm>

void AssignSubItemText(ListRow& row, const std::string& text)
{
    row.SubItems.clear();
    const std::string_view content(text.c_str()); // a NUL ends the text
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            row.SubItems.emplace_back(content.substr(start));
            break;
        }
        row.SubItems.emplace_back(content.substr(start, end - start));
        start = end + (content.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

int CompareText(const std::string& text1, const std::string& text2)
{
    const std::size_t common = std::min(text1.size(), text2.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = static_cast<unsigned char>(text1[i]) - static_cast<unsigned char>(text2[i]);
        if (difference != 0)
            return difference;
    }
    return text1.size() < text2.size() ? -1 : text1.size() > text2.size() ? 1 : 0;
}

int CompareListItems(const ListRow* item1, const ListRow* item2, int data)
{
    if (!item1 || !item2)
        return item1 == item2 ? 0 : item1 ? 1 : -1;
    int result = 0;
    if (data == 0) {
        result = CompareText(item1->Caption, item2->Caption);
    } else if (data > 0) {
        const auto index = static_cast<std::size_t>(data) - 1;
        if (index < item1->SubItems.size() && index < item2->SubItems.size())
            result = CompareText(item1->SubItems[index], item2->SubItems[index]);
    }
    if (result == 0 && data != 0)
        result = CompareText(item1->Caption, item2->Caption);
    return result;
}

void ListRows::Clear()
{
    rows_.clear();
    selectedId_ = 0;
}

ListRow& ListRows::Insert(std::size_t position)
{
    return rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(position), Entry{nextId_++, {}})->row;
}

void ListRows::Delete(std::size_t position)
{
    if (rows_[position].id == selectedId_)
        selectedId_ = 0;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(position));
}

void ListRows::Sort(int data)
{
    const auto less = [data](const Entry& a, const Entry& b) {
        return CompareListItems(&a.row, &b.row, data) < 0;
    };
    // The common case: a row just put on top of a sorted list. Moving it before the first row
    // that does not go before it is what the stable sort would do, in linear time.
    if (rows_.size() > 1 && std::is_sorted(rows_.begin() + 1, rows_.end(), less)) {
        const auto place = std::lower_bound(rows_.begin() + 1, rows_.end(), rows_.front(), less);
        std::rotate(rows_.begin(), rows_.begin() + 1, place);
        return;
    }
    // Stable, and safe with an order that is not transitive (rows lacking the compared sub-item
    // among rows that have it): the comparison gives the same answer for the same pair.
    std::stable_sort(rows_.begin(), rows_.end(), less);
}

std::optional<std::size_t> ListRows::Selected() const
{
    if (selectedId_ == 0)
        return std::nullopt;
    for (std::size_t position = 0; position < rows_.size(); ++position)
        if (rows_[position].id == selectedId_)
            return position;
    return std::nullopt;
}

void ListRows::Select(std::optional<std::size_t> position)
{
    selectedId_ = position && *position < rows_.size() ? rows_[*position].id : 0;
}
