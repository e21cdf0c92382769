#include "settings/AgentList.h"

#include "core/ProfileValue.h"
#include "core/ServiceUrl.h"
#include "net/DownloadToFile.h"
#include "settings/SystemProxy.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr DWORD kValueBuffer = 2048;

std::string ProfileString(const std::string& path, const char* section, const std::string& key)
{
    char value[kValueBuffer];
    const DWORD length = GetPrivateProfileStringA(section, key.c_str(), "", value, kValueBuffer, path.c_str());
    return std::string(value, length);
}

std::vector<std::string> Tokens(const std::string& path, const char* section, int count)
{
    std::vector<std::string> tokens;
    for (int i = 0; i < std::min(count, kMostAgentTokens); ++i)
        tokens.push_back(ProfileString(path, section, std::to_string(i)));
    return tokens;
}

} // namespace

AgentTokens ReadAgentTokens(const std::string& path)
{
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
    const int platforms = ProfileInteger(ProfileString(path, "OSPaid", "countos"));
    const int versions = ProfileInteger(ProfileString(path, "BrowserPaid", "countbrowser"));
    AgentTokens tokens;
    tokens.platforms = Tokens(path, "OSPaid", platforms);
    tokens.versions = Tokens(path, "BrowserPaid", versions);
    return tokens;
}

AgentTokens FetchAgentTokens(const std::string& account)
{
    const std::string path = ExecutableDirectory() + "browser.cfg";
    if (!DownloadToFile(ServiceUrl(account, ServiceHost(), AgentListPath), path, ServiceRequestWay()))
        return {};
    return ReadAgentTokens(path);
}
