#pragma once
// The service's list of user-agent tokens, as stored in the profile file browser.cfg: section
// "OSPaid" with "countos" and the platform tokens under keys "0", "1", ...; section
// "BrowserPaid" with "countbrowser" and the version tokens.

#include <string>
#include <vector>

struct AgentTokens {
    std::vector<std::string> platforms;
    std::vector<std::string> versions;
};

// No list of either kind is read beyond this many entries: a garbled or hostile count (up to
// 2,147,483,647) would otherwise hold the window for hours. Real lists hold a few dozen; the
// platform's profile reader takes about 0.2 ms a key here, so two full lists take under a second.
inline constexpr int kMostAgentTokens = 2048;

// Reads both lists with the platform's profile reader, after it has dropped any cached copy of
// the file: both counts first, then the tokens in key order (at most 2047 characters each; a
// missing key gives an empty token). A missing file or section gives empty lists.
AgentTokens ReadAgentTokens(const std::string& path);

// Downloads the service's list for `account` into browser.cfg beside the executable (never
// through a proxy of the program's own) and reads it. Network trouble is silent (the lists come back empty or as far as the file got). Raises
// EInOutError for trouble with the file.
AgentTokens FetchAgentTokens(const std::string& account);
