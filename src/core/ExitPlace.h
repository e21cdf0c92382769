#pragma once
// Where the user appears through a row's proxy: the exit address and country that its check
// found, beside the country that the list says. Many proxies leave from another address than the
// one they listen on, and lists carry wrong countries; users pick by where they will appear.

#include "core/ListRows.h"

#include <string>
#include <vector>

// The name of a country given as "JP Japan"; empty for empty.
std::string CountryName(const std::string& codeAndName);

// True when `listed` names the country given as `codeAndName`: its code or its name, in any case.
bool SameCountry(const std::string& listed, const std::string& codeAndName);

// The country the user appears in through the row's proxy: the exit country's name once the
// check found it, the listed country (sub-item `countryItem`; -1: the list has none) until then.
std::string AppearsIn(const ListRow& row, int countryItem);

// The country column's text: as AppearsIn, marked where the list says another country:
// "Japan (listed: US)".
std::string ShownCountry(const ListRow& row, int countryItem);

// The "Exit" column's text: the exit country's name, and the exit address where it is not the
// proxy's own ("Japan, 203.0.113.9"); empty while the check has found neither.
std::string ExitText(const ListRow& row);

// The working rows, best first (WorkingRowsBestFirst), as tab-separated lines: address:port,
// exit address, exit country, anonymity, HTTPS ("yes"/"no"), web time in ms.
std::vector<std::string> WorkingProxyDetails(const ListRows& rows);
