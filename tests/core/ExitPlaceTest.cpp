#include "core/ExitPlace.h"
#include "core/WatchRules.h"

#include "Verdicts.h"

#include <gtest/gtest.h>

namespace {

using verdicts::Failed;
using verdicts::Passed;

ListRow Row(const std::string& caption, const std::string& listed, const std::optional<ProxyVerdict>& verdict)
{
    ListRow row;
    row.Caption = caption;
    row.SubItems = {listed, "20"};
    if (verdict)
        verdicts::Judge(row, *verdict);
    return row;
}

ProxyVerdict Elite(unsigned webMs, bool https, const std::string& exitAddress = "", const std::string& exitCountry = "")
{
    return Passed(webMs, https, Anonymity::Elite, exitAddress, exitCountry);
}

TEST(ExitPlace, TheUserAppearsWhereTheCheckFoundNotWhereTheListSays)
{
    const ListRow unchecked = Row("203.0.113.7:8080;US", "US", std::nullopt);
    EXPECT_EQ(ShownCountry(unchecked, 0), "US");
    EXPECT_EQ(AppearsIn(unchecked, 0), "US");
    EXPECT_EQ(ExitText(unchecked), "");

    const ListRow elsewhere = Row("203.0.113.7:8080;US", "US", Elite(120, true, "198.51.100.9", "JP Japan"));
    EXPECT_EQ(ShownCountry(elsewhere, 0), "Japan (listed: US)");
    EXPECT_EQ(AppearsIn(elsewhere, 0), "Japan");
    EXPECT_EQ(ExitText(elsewhere), "Japan, 198.51.100.9");
    EXPECT_EQ(CheckedProxyOf(elsewhere, 0)->country, "Japan") << "the watch's same country is where the user appears";

    // The list was right, by code or by name, in any case: nothing to mark.
    for (const std::string listed : {"JP", "jp", "Japan", "JAPAN"})
        EXPECT_EQ(ShownCountry(Row("203.0.113.7:8080", listed, Elite(120, true, "203.0.113.7", "JP Japan")), 0),
                  "Japan") << listed;
    EXPECT_EQ(ExitText(Row("203.0.113.7:8080", "JP", Elite(120, true, "203.0.113.7", "JP Japan"))), "Japan")
        << "its own address is no news";
    EXPECT_EQ(ExitText(Row("[2001:db8::7]:8080", "", Elite(120, true, "2001:db8::7"))), "");
    // A service without a country database: the address alone; a list without countries.
    EXPECT_EQ(ExitText(Row("203.0.113.7:8080", "", Elite(120, true, "198.51.100.9"))), "198.51.100.9");
    EXPECT_EQ(ShownCountry(Row("203.0.113.7:8080", "", Elite(120, true, "198.51.100.9", "JP Japan")), -1),
              "Japan");
    EXPECT_EQ(ShownCountry(Row("203.0.113.7:8080", "Germany", Failed()), 0), "Germany");
}

TEST(ExitPlace, DetailsOfTheWorkingProxiesBestFirstOneTabSeparatedLineEach)
{
    ListRows rows;
    rows.Insert(0) = Row("203.0.113.1:80;US", "US", Passed(300, false, Anonymity::Anonymous, "203.0.113.1", "US United States"));
    rows.Insert(1) = Row("203.0.113.2:80;US", "US", Failed());
    rows.Insert(2) = Row("203.0.113.3:3128;DE", "DE", Elite(450, true, "198.51.100.9", "JP Japan"));
    rows.Insert(3) = Row("203.0.113.4:8080", "", Elite(90, true)); // checked before exits were known
    EXPECT_EQ(WorkingProxyDetails(rows), (std::vector<std::string>{
                                             "203.0.113.4:8080\t\t\telite\tyes\t90",
                                             "203.0.113.3:3128\t198.51.100.9\tJapan\telite\tyes\t450",
                                             "203.0.113.1:80\t203.0.113.1\tUnited States\tanonymous\tno\t300",
                                         }));
}

} // namespace
