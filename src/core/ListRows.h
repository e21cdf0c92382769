#pragma once
// The rows of a proxy list: a caption and sub-item texts per row, the ordering rule, and the
// selected row, which follows its row through inserts, deletes and sorts. Position 0 is the top;
// rows stay where they are put until a sort is asked for.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ListRow {
    std::string Caption;
    std::vector<std::string> SubItems;
};

// Replaces the row's sub-items by the lines of `text`: a line ends at CR LF, a lone CR or a lone
// LF, a break at the very end starts no further line, and a NUL ends the text.
void AssignSubItemText(ListRow& row, const std::string& text);

// Byte-wise comparison as unsigned 8-bit values; the shorter of two texts where one is the
// start of the other is the smaller. Only the sign of the result counts.
int CompareText(const std::string& text1, const std::string& text2);

// The list order: negative when `item1` goes first. `data` 0 compares the captions, k >= 1
// sub-item k - 1, and rows equal there are ordered by their captions. A row without sub-item
// k - 1 counts as equal to the other in that column, so the captions decide. Absent rows go
// first.
int CompareListItems(const ListRow* item1, const ListRow* item2, int data);

class ListRows {
public:
    std::size_t Count() const { return rows_.size(); }
    const ListRow& At(std::size_t position) const { return rows_[position].row; }
    ListRow& At(std::size_t position) { return rows_[position].row; }

    void Clear();
    // A new row with an empty caption and no sub-items at `position` (at most Count()).
    ListRow& Insert(std::size_t position);
    void Delete(std::size_t position);
    // Ascending by CompareListItems with `data`; rows that compare equal keep their order.
    void Sort(int data);

    // The selected row's position, if a row is selected.
    std::optional<std::size_t> Selected() const;
    void Select(std::optional<std::size_t> position);

private:
    struct Entry {
        std::uint64_t id;
        ListRow row;
    };
    std::vector<Entry> rows_;
    std::uint64_t nextId_ = 1;
    std::uint64_t selectedId_ = 0; // 0: none
};
