#include "core/ListRows.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

ListRow Row(std::string caption, std::vector<std::string> subItems = {})
{
    return ListRow{std::move(caption), std::move(subItems)};
}

std::vector<std::string> Captions(const ListRows& rows)
{
    std::vector<std::string> captions;
    for (std::size_t i = 0; i < rows.Count(); ++i)
        captions.push_back(rows.At(i).Caption);
    return captions;
}

// Puts rows into a list in the given order, each inserted at the top as the windows do.
ListRows ListOf(const std::vector<ListRow>& rows)
{
    ListRows list;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        list.Insert(0) = *it;
    return list;
}

} // namespace

TEST(AssignSubItemText, EveryKindOfLineBreakCutsTheText)
{
    ListRow row = Row("x", {"old"});
    const auto subItems = [&](const std::string& text) {
        AssignSubItemText(row, text);
        return row.SubItems;
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ(subItems(""), Lines{});
    EXPECT_EQ(subItems("abc"), Lines{"abc"});
    EXPECT_EQ(subItems("a\r\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(subItems("abc\r\n"), Lines{"abc"});
    EXPECT_EQ(subItems("\r\n"), Lines{""});
    EXPECT_EQ(subItems("a\rb\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(subItems("a\n\rb"), (Lines{"a", "", "b"})); // LF CR is two breaks
    EXPECT_EQ(subItems(std::string("a\r\nb\0c", 7)), (Lines{"a", "b"}));
}

TEST(CompareListItems, TextsCompareByteByByte)
{
    EXPECT_LT(CompareText("", "0"), 0);
    EXPECT_LT(CompareText("120", "35"), 0);
    EXPECT_LT(CompareText("999", "BAD PROXY"), 0);
    EXPECT_LT(CompareText("Z", "a"), 0);          // no case folding
    EXPECT_GT(CompareText("\xE9", "z"), 0);       // bytes are unsigned
    EXPECT_LT(CompareText("abc", "abcd"), 0);
    EXPECT_EQ(CompareText("abc", "abc"), 0);
}

TEST(CompareListItems, ColumnsThenCaptions)
{
    const ListRow a = Row("10.0.0.1:80", {"DE", "35"});
    const ListRow b = Row("9.9.9.9:80", {"AT", "35"});
    EXPECT_LT(CompareListItems(&a, &b, 0), 0);  // captions as text
    EXPECT_GT(CompareListItems(&a, &b, 1), 0);  // "DE" after "AT"
    EXPECT_LT(CompareListItems(&a, &b, 2), 0);  // equal pings: captions decide
    EXPECT_EQ(CompareListItems(&a, &a, 2), 0);
    EXPECT_EQ(CompareListItems(nullptr, nullptr, 1), 0);
    EXPECT_LT(CompareListItems(nullptr, &a, 1), 0);
    EXPECT_GT(CompareListItems(&a, nullptr, 1), 0);
}

TEST(CompareListItems, ARowLackingTheColumnIsOrderedByCaptionBothWays)
{
    const ListRow full = Row("b:80", {"DE", "1"});
    const ListRow noCountry = Row("a:80", {"5"}); // the ping landed in the country column
    EXPECT_GT(CompareListItems(&full, &noCountry, 2), 0);
    EXPECT_LT(CompareListItems(&noCountry, &full, 2), 0);
}

TEST(ListRows, SortingByThePingColumnOrdersAsText)
{
    ListRows list = ListOf({Row("e", {"", "35"}), Row("d", {"", "BAD PROXY"}), Row("c", {"", "999"}),
                            Row("b", {"", "15"}), Row("a", {"", "120"}), Row("f", {"", "0"}),
                            Row("g", {"", "35"})});
    list.Sort(2);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"f", "a", "b", "e", "g", "c", "d"}));
    list.Sort(0);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));
    list.Sort(0); // again ascending, never reversed
    EXPECT_EQ(Captions(list).front(), "a");
}

TEST(ListRows, TheSelectionFollowsItsRow)
{
    ListRows list = ListOf({Row("b", {"20"}), Row("a", {"30"})});
    list.Select(1); // "a"
    list.Insert(0).Caption = "c";
    EXPECT_EQ(list.Selected(), std::optional<std::size_t>(2));
    list.Sort(0);
    EXPECT_EQ(list.Selected(), std::optional<std::size_t>(0));
    list.Delete(2);
    EXPECT_EQ(list.Selected(), std::optional<std::size_t>(0));
    list.Delete(0);
    EXPECT_EQ(list.Selected(), std::nullopt);
    list.Select(0);
    list.Clear();
    EXPECT_EQ(list.Selected(), std::nullopt);
    list.Insert(0);
    EXPECT_EQ(list.Selected(), std::nullopt); // a new row is not the old selection
}

TEST(ListRows, ARowPutOnTopOfASortedListLandsWhereAFullSortPutsIt)
{
    ListRows list;
    std::vector<ListRow> expected;
    unsigned seed = 7;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1103515245u + 12345u;
        const ListRow row = Row("127.0.0." + std::to_string(seed % 13), {"C", std::to_string(seed / 7 % 40)});
        list.Insert(0) = row;
        list.Sort(2);
        expected.insert(expected.begin(), row);
        std::stable_sort(expected.begin(), expected.end(), [](const ListRow& a, const ListRow& b) {
            return CompareListItems(&a, &b, 2) < 0;
        });
        ASSERT_EQ(list.Count(), expected.size());
        for (std::size_t at = 0; at < expected.size(); ++at) {
            ASSERT_EQ(list.At(at).Caption, expected[at].Caption) << "after " << i + 1 << " rows, at " << at;
            ASSERT_EQ(list.At(at).SubItems, expected[at].SubItems);
        }
    }
}
