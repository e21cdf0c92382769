#include "core/ExitPlace.h"

#include "core/ProxyAccount.h"
#include "core/ProxyList.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Cell(const ListRow& row, std::size_t cell)
{
    return cell < row.Checks.size() ? row.Checks[cell] : std::string();
}

std::string ExitCountry(const ListRow& row)
{
    return row.Verdict ? row.Verdict->exitCountry : std::string();
}

std::string ExitAddress(const ListRow& row)
{
    return row.Verdict ? row.Verdict->exitAddress : std::string();
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Listed(const ListRow& row, int countryItem)
{
    return countryItem >= 0 && static_cast<std::size_t>(countryItem) < row.SubItems.size()
               ? row.SubItems[static_cast<std::size_t>(countryItem)]
               : std::string();
}

// The host part of the row's proxy.
std::string ProxyHost(const ListRow& row)
{
    std::string host = TargetOf(RowProxy(row)).address;
    host = host.substr(0, host.rfind(':'));
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

} // namespace

std::string CountryName(const std::string& codeAndName)
{
    const std::size_t space = codeAndName.find(' ');
    return space == std::string::npos ? codeAndName : codeAndName.substr(space + 1);
}

bool SameCountry(const std::string& listed, const std::string& codeAndName)
{
    const std::size_t space = codeAndName.find(' ');
    const std::string code = codeAndName.substr(0, space);
    return EqualIgnoringCase(listed, code) || EqualIgnoringCase(listed, CountryName(codeAndName));
}

std::string AppearsIn(const ListRow& row, int countryItem)
{
    const std::string exit = ExitCountry(row);
    return exit.empty() ? Listed(row, countryItem) : CountryName(exit);
}

std::string ShownCountry(const ListRow& row, int countryItem)
{
    const std::string exit = ExitCountry(row);
    const std::string listed = Listed(row, countryItem);
    if (exit.empty())
        return listed;
    if (listed.empty() || SameCountry(listed, exit))
        return CountryName(exit);
    return CountryName(exit) + " (listed: " + listed + ")";
}

std::string ExitText(const ListRow& row)
{
    const std::string country = CountryName(ExitCountry(row));
    const std::string address = ExitAddress(row);
    const bool elsewhere = !address.empty() && address != ProxyHost(row);
    if (!elsewhere)
        return country;
    return country.empty() ? address : country + ", " + address;
}

std::vector<std::string> WorkingProxyDetails(const ListRows& rows)
{
    std::vector<std::string> lines;
    for (const std::size_t position : WorkingRowsBestFirst(rows)) {
        const ListRow& row = rows.At(position);
        lines.push_back(RowProxy(row) + "\t" + ExitAddress(row) + "\t" +
                        CountryName(ExitCountry(row)) + "\t" + Cell(row, 2) + "\t" + Cell(row, 1) + "\t" +
                        Cell(row, 0));
    }
    return lines;
}
