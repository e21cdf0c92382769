#include "core/ListRows.h"

#include "core/ProxyList.h"

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

int CompareCells(const std::string& cell1, const std::string& cell2)
{
    const auto isNumber = [](const std::string& cell) {
        return !cell.empty() && cell.find_first_not_of("0123456789") == std::string::npos;
    };
    if (isNumber(cell1) && cell2 == kNoPing)
        return -1;
    if (cell1 == kNoPing && isNumber(cell2))
        return 1;
    if (!isNumber(cell1) || !isNumber(cell2))
        return CompareText(cell1, cell2);
    const auto digits = [](const std::string& number) {
        const std::string_view view(number);
        return view.substr(std::min(view.find_first_not_of('0'), view.size()));
    };
    const std::string_view number1 = digits(cell1);
    const std::string_view number2 = digits(cell2);
    if (number1.size() != number2.size())
        return number1.size() < number2.size() ? -1 : 1;
    return number1.compare(number2);
}

namespace {

// Speed cells: numbers, the largest first, then other texts, then empty cells.
int CompareSpeeds(const std::string& speed1, const std::string& speed2)
{
    const auto rank = [](const std::string& speed) {
        return speed.empty() ? 2 : speed.find_first_not_of("0123456789") == std::string::npos ? 0 : 1;
    };
    if (rank(speed1) != rank(speed2))
        return rank(speed1) - rank(speed2);
    return rank(speed1) == 0 ? CompareCells(speed2, speed1) : CompareText(speed1, speed2);
}

} // namespace

int CompareListItems(const ListRow* item1, const ListRow* item2, int data)
{
    if (!item1 || !item2)
        return item1 == item2 ? 0 : item1 ? 1 : -1;
    int result = 0;
    if (data == 0) {
        result = CompareCells(item1->Caption, item2->Caption);
    } else if (data == kSpeedColumnData) {
        result = CompareSpeeds(item1->Speed, item2->Speed);
    } else if (data >= kCheckColumnData) {
        const auto index = static_cast<std::size_t>(data - kCheckColumnData);
        if (index < item1->Checks.size() && index < item2->Checks.size())
            result = CompareCells(item1->Checks[index], item2->Checks[index]);
    } else if (data > 0) {
        const auto index = static_cast<std::size_t>(data) - 1;
        if (index < item1->SubItems.size() && index < item2->SubItems.size())
            result = CompareCells(item1->SubItems[index], item2->SubItems[index]);
    }
    if (result == 0)
        result = CompareText(item1->Caption, item2->Caption);
    return result;
}

bool ListRows::Less(const Entry& a, const Entry& b, int data) const
{
    return CompareListItems(&a.row, &b.row, data) < 0;
}

bool ListRows::PairInOrder(std::size_t left, int data) const
{
    return left + 1 >= rows_.size() || !Less(*rows_[left + 1], *rows_[left], data);
}

std::size_t ListRows::PlaceOf(const Entry& entry, std::size_t from, int data) const
{
    const auto place = std::lower_bound(
        rows_.begin() + static_cast<std::ptrdiff_t>(from), rows_.end(), entry,
        [&](const std::unique_ptr<Entry>& row, const Entry& value) { return Less(*row, value, data); });
    return static_cast<std::size_t>(place - rows_.begin());
}

void ListRows::Inserted(std::size_t position, std::optional<int> data)
{
    if (selected_ && *selected_ >= position)
        ++*selected_;
    inOrderBy_ = data;
}

ListRow& ListRows::Edit(std::size_t position)
{
    inOrderBy_.reset();
    return rows_[position]->row;
}

bool ListRows::SetVerdict(std::uint64_t id, const ProxyVerdict& verdict)
{
    const auto entry = byId_.find(id);
    if (entry == byId_.end())
        return false;
    entry->second->row.Verdict = verdict;
    entry->second->row.Checks = VerdictCells(verdict);
    if (inOrderBy_ >= kCheckColumnData)
        inOrderBy_.reset();
    return true;
}

bool ListRows::SetSpeed(std::uint64_t id, const std::string& speed)
{
    const auto entry = byId_.find(id);
    if (entry == byId_.end())
        return false;
    entry->second->row.Speed = speed;
    if (inOrderBy_ == kSpeedColumnData)
        inOrderBy_.reset();
    return true;
}

const ListRow* ListRows::Find(std::uint64_t id) const
{
    const auto entry = byId_.find(id);
    return entry == byId_.end() ? nullptr : &entry->second->row;
}

bool ListRows::SetSubItem(std::uint64_t id, std::size_t index, const std::string& text, int data)
{
    const auto found = byId_.find(id);
    if (found == byId_.end())
        return false;
    ListRow& row = found->second->row;
    if (row.SubItems.size() <= index)
        row.SubItems.resize(index + 1);
    row.SubItems[index] = text;
    if (inOrderBy_ != data) {
        inOrderBy_.reset();
        Sort(data);
        return true;
    }
    const auto at = std::find_if(rows_.begin(), rows_.end(), [&](const auto& entry) { return entry->id == id; });
    const std::uint64_t selectedId = selected_ ? rows_[*selected_]->id : 0;
    std::unique_ptr<Entry> entry = std::move(*at);
    rows_.erase(at);
    const std::size_t place = PlaceOf(*entry, 0, data);
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(place), std::move(entry));
    if (selected_)
        for (std::size_t position = 0; position < rows_.size(); ++position)
            if (rows_[position]->id == selectedId)
                selected_ = position;
    return true; // in order by `data` still: see PlaceOf
}

void ListRows::Clear()
{
    rows_.clear();
    byId_.clear();
    selected_.reset();
    inOrderBy_.reset();
}

ListRow& ListRows::Insert(std::size_t position)
{
    auto entry = std::make_unique<Entry>(Entry{nextId_++, {}});
    byId_[entry->id] = entry.get();
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
    Inserted(position, std::nullopt); // the row gets its texts after this
    return rows_[position]->row;
}

std::uint64_t ListRows::InsertInOrder(ListRow row, int data)
{
    auto entry = std::make_unique<Entry>(Entry{nextId_++, std::move(row)});
    const std::uint64_t id = entry->id;
    byId_[id] = entry.get();
    if (inOrderBy_ != data) {
        rows_.insert(rows_.begin(), std::move(entry));
        Inserted(0, std::nullopt);
        Sort(data);
        return id;
    }
    const std::size_t place = PlaceOf(*entry, 0, data);
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(place), std::move(entry));
    Inserted(place, data); // see PlaceOf: its neighbours are in order with it
    return id;
}

void ListRows::Delete(std::size_t position)
{
    if (selected_ == position)
        selected_.reset();
    else if (selected_ && *selected_ > position)
        --*selected_;
    byId_.erase(rows_[position]->id);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(position));
    if (inOrderBy_ && position > 0 && !PairInOrder(position - 1, *inOrderBy_))
        inOrderBy_.reset();
}

void ListRows::Sort(int data)
{
    const auto less = [&](const std::unique_ptr<Entry>& a, const std::unique_ptr<Entry>& b) {
        return Less(*a, *b, data);
    };
    if (rows_.size() < 2) {
        inOrderBy_ = data;
        return;
    }
    // The common case: a row just put on top of a list in order. Moving it before the first row
    // that does not go before it is what the stable sort would do.
    if (inOrderBy_ == data || std::is_sorted(rows_.begin() + 1, rows_.end(), less)) {
        const std::size_t place = PlaceOf(*rows_.front(), 1, data);
        std::rotate(rows_.begin(), rows_.begin() + 1, rows_.begin() + static_cast<std::ptrdiff_t>(place));
        if (selected_)
            selected_ = *selected_ == 0 ? place - 1 : *selected_ < place ? *selected_ - 1 : *selected_;
        inOrderBy_ = data; // see PlaceOf
        return;
    }
    // Stable, and safe with an order that is not transitive (rows lacking the compared sub-item
    // among rows that have it): the comparison gives the same answer for the same pair.
    const std::uint64_t selectedId = selected_ ? rows_[*selected_]->id : 0;
    std::stable_sort(rows_.begin(), rows_.end(), less);
    if (selected_) {
        for (std::size_t position = 0; position < rows_.size(); ++position)
            if (rows_[position]->id == selectedId)
                selected_ = position;
    }
    inOrderBy_ = std::is_sorted(rows_.begin(), rows_.end(), less) ? std::optional<int>(data) : std::nullopt;
}

void ListRows::Select(std::optional<std::size_t> position)
{
    selected_ = position && *position < rows_.size() ? position : std::nullopt;
}

std::optional<ProxyKind> KindOf(const ListRow& row)
{
    return row.Verdict ? row.Verdict->kind : std::nullopt;
}

bool IsWorking(const ListRow& row)
{
    return row.Verdict && row.Verdict->webMs;
}

std::vector<std::size_t> WorkingRowsBestFirst(const ListRows& rows)
{
    struct Working {
        int anonymity; // 0 elite ... 3 unknown
        bool https;
        std::size_t webMs;
        std::size_t position;
    };
    std::vector<Working> working;
    for (std::size_t position = 0; position < rows.Count(); ++position) {
        const ListRow& row = rows.At(position);
        if (!IsWorking(row))
            continue;
        const auto anonymity = row.Verdict->anonymity;
        const int rank = anonymity == Anonymity::Elite ? 0 : anonymity == Anonymity::Anonymous ? 1
                       : anonymity == Anonymity::Transparent ? 2 : 3;
        working.push_back({rank, row.Verdict->https, *row.Verdict->webMs, position});
    }
    std::stable_sort(working.begin(), working.end(), [](const Working& a, const Working& b) {
        if (a.anonymity != b.anonymity)
            return a.anonymity < b.anonymity;
        if (a.https != b.https)
            return a.https;
        return a.webMs < b.webMs;
    });
    std::vector<std::size_t> positions;
    for (const Working& row : working)
        positions.push_back(row.position);
    return positions;
}

std::vector<std::string> WorkingProxies(const ListRows& rows)
{
    std::vector<std::string> proxies;
    for (const std::size_t position : WorkingRowsBestFirst(rows)) {
        const ListRow& row = rows.At(position);
        if (!row.Proxy.empty()) {
            proxies.push_back(row.Proxy);
            continue;
        }
        const auto kind = KindOf(row);
        const std::string scheme = kind == ProxyKind::Socks5 ? "socks5://" : kind == ProxyKind::Socks4 ? "socks4://" : "";
        proxies.push_back(scheme + ProxyLineAddress(row.Caption));
    }
    return proxies;
}

std::string RowProxy(const ListRow& row)
{
    return row.Proxy.empty() ? ProxyLineAddress(row.Caption) : row.Proxy;
}
