#pragma once
// The rows of a proxy list: a caption and sub-item texts per row, the ordering rule, and the
// selected row, which follows its row through inserts, deletes and sorts. Position 0 is the top;
// rows stay where they are put until a sort is asked for.

#include "core/ProxyVerdict.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct ListRow {
    std::string Caption;
    std::vector<std::string> SubItems;
    // What the check of the row's proxy found (nullopt while it runs), and the cells of the
    // columns after the specified ones that show it (VerdictCells; empty while it runs).
    std::optional<ProxyVerdict> Verdict;
    std::vector<std::string> Checks;
    // The proxy as its line named it where the caption does not: one with an account, whose
    // caption shows no password. Empty otherwise.
    std::string Proxy;
    // The "Speed (kB/s)" cell: kB/s, "fails", "testing", or empty before any speed test.
    std::string Speed;
};

// The row's proxy, as its line named it (its account with it): what a check, the relay and a copy
// get.
std::string RowProxy(const ListRow& row);

// Replaces the row's sub-items by the lines of `text`: a line ends at CR LF, a lone CR or a lone
// LF, a break at the very end starts no further line, and a NUL ends the text.
void AssignSubItemText(ListRow& row, const std::string& text);

// Byte-wise comparison as unsigned 8-bit values; the shorter of two texts where one is the
// start of the other is the smaller. Only the sign of the result counts.
int CompareText(const std::string& text1, const std::string& text2);

// The ping cell of a row listed before its echo answered in time, or whose echo never did.
inline constexpr const char* kNoPing = "-";

// Two cells of a column: as numbers where both are decimal numbers (digits only), so that "15"
// goes before "120", and a number before kNoPing; otherwise as CompareText does.
int CompareCells(const std::string& cell1, const std::string& cell2);

// True when the check of the row's proxy got the page through it.
bool IsWorking(const ListRow& row);

// `data` for the columns after the specified ones: kCheckColumnData + k compares check cell k.
inline constexpr int kCheckColumnData = 1000;
// `data` for the speed column: the fastest first, then the cells that are no number, then the
// rows never tested.
inline constexpr int kSpeedColumnData = 2000;

// The kind of the row's proxy as its check found it (the proxy answered in its protocol, though the
// check may have failed); nullopt where it did not.
std::optional<ProxyKind> KindOf(const ListRow& row);

// The list order: negative when `item1` goes first. `data` 0 compares the captions, k >= 1
// sub-item k - 1, kCheckColumnData + k check cell k (all with CompareCells), and rows equal there
// are ordered by their captions as text. A row without the compared cell counts as equal to the
// other in that column, so the captions decide. Absent rows go first.
int CompareListItems(const ListRow* item1, const ListRow* item2, int data);

// The list keeps whether its rows are in order by a column, so that a row added to an ordered
// list finds its place by a binary search: adding one, sorting after it, finding the selected
// row and deleting one cost no more than a logarithmic number of comparisons (and the moving of
// pointers), whatever the length of the list.
class ListRows {
public:
    std::size_t Count() const { return rows_.size(); }
    const ListRow& At(std::size_t position) const { return rows_[position]->row; }
    // For changing the row: the list no longer counts as in order.
    ListRow& Edit(std::size_t position);

    // A row's identity: its own as long as it is in the list, never another's.
    std::uint64_t IdAt(std::size_t position) const { return rows_[position]->id; }
    // Gives the row `id`, wherever it stands, `verdict` and the cells that show it; false when it
    // is gone.
    bool SetVerdict(std::uint64_t id, const ProxyVerdict& verdict);
    // Gives the row `id` its speed cell; false when it is gone.
    bool SetSpeed(std::uint64_t id, const std::string& speed);
    // The row `id`, wherever it stands; null when it is gone.
    const ListRow* Find(std::uint64_t id) const;
    // Sets sub-item `index` of the row `id` to `text` and sorts the list by `data`, as
    // InsertInOrder leaves it (the row alone moves where the list was in order by `data`); false
    // when the row is gone.
    bool SetSubItem(std::uint64_t id, std::size_t index, const std::string& text, int data);

    void Clear();
    // A new row with an empty caption and no sub-items at `position` (at most Count()).
    ListRow& Insert(std::size_t position);
    void Delete(std::size_t position);
    // Ascending by CompareListItems with `data`; rows that compare equal keep their order. Where
    // the rows below the top one are in order, the top row moves before the first of them that
    // does not go before it (its place in a binary search): the list needs no more than that
    // after a row was put on top.
    void Sort(int data);
    // What putting `row` on top and then calling Sort(data) does, in logarithmic time where the
    // list is known to be in order by `data`. Returns the new row's identity.
    std::uint64_t InsertInOrder(ListRow row, int data);

    // The selected row's position, if a row is selected.
    std::optional<std::size_t> Selected() const { return selected_; }
    void Select(std::optional<std::size_t> position);

private:
    struct Entry {
        std::uint64_t id;
        ListRow row;
    };
    bool Less(const Entry& a, const Entry& b, int data) const;
    // The rows at `left` and `left` + 1 (where both exist) are in order by `data`.
    bool PairInOrder(std::size_t left, int data) const;
    // The first position from `from` on whose row does not go before `entry`, by binary search.
    // In a list in order by `data` the row before that place goes before `entry` and the row at
    // it does not (the search ends only on rows it has compared), so `entry` put there keeps its
    // neighbours in order, even where the order is not transitive.
    std::size_t PlaceOf(const Entry& entry, std::size_t from, int data) const;
    // After a row went in at `position`: `data` still holds where the rows around it are in order.
    void Inserted(std::size_t position, std::optional<int> data);

    std::vector<std::unique_ptr<Entry>> rows_;
    std::unordered_map<std::uint64_t, Entry*> byId_;
    std::uint64_t nextId_ = 1;
    std::optional<std::size_t> selected_;
    // Every two neighbouring rows are in order by this column's `data`; nullopt: not known.
    std::optional<int> inOrderBy_;
};

// The positions of the working rows, best first: elite before anonymous before transparent
// before unknown, HTTPS before none, then the lower web time; rows equal in all of these keep
// their order.
std::vector<std::size_t> WorkingRowsBestFirst(const ListRows& rows);

// The proxies of the working rows as "address:port" (the caption up to its ";", without blanks
// around it), a SOCKS proxy as "socks5://address:port" or "socks4://address:port", and one with an
// account as its line gave it; best first: elite before anonymous before transparent before
// unknown, HTTPS before none, then the lower web time; rows equal in all of these keep their order.
std::vector<std::string> WorkingProxies(const ListRows& rows);
