#pragma once
// The service's proxy list: the character substitution it is delivered in, its line structure,
// and the fields of one host line ("address:port;country", or "address:port" as pasted).
// Pure functions on 8-bit text.

#include <string>
#include <string_view>
#include <vector>

// Undoes the service's substitution: "%" "&" "@" become "." ":" ";", each digit d from 2 to 9
// becomes 11 - d; every other byte stays. The result has the same length.
std::string DecodeProxyList(std::string_view text);

// The service's substitution: the inverse of DecodeProxyList for text without "%", "&" and "@",
// which the encoded form cannot tell from ".", ":" and ";".
std::string EncodeProxyList(std::string_view text);

// Before the first ";" (the whole line without one): the address and port shown in a row.
std::string ProxyLineLabel(std::string_view line);
// The proxy a line names, as a check reaches it: its label without blanks around it.
std::string ProxyLineAddress(std::string_view line);
// After the first ";" (empty without one): the country.
std::string ProxyLineCountry(std::string_view line);
// Before the first ":" (the whole line without one): the host that is probed.
std::string ProxyLineHost(std::string_view line);

// Turns every bare LF and every bare CR into CR LF; CR LF stays.
std::string NormalizeLineEnds(std::string_view text);

// Splits at CR LF. A final empty line does not count: "" has no lines, "a" and "a\r\n" one each,
// "a\r\n\r\nb" three with the middle one empty. Empty lines are kept for the caller to skip.
std::vector<std::string> SplitLines(std::string_view text);
