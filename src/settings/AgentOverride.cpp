#include "settings/AgentOverride.h"
#include "settings/SettingsChanges.h"

#include "win/Registry.h"

namespace {

constexpr const char* kCommonBrowserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Safari/537.36";

} // namespace

void ApplyAgentOverride(const std::string& platform, const std::string& version)
{
    CountSettingsChange();
    TRegistry registry;
    registry.OpenOrCreateUserKey(AgentKey);
    registry.StoreText("Platform", platform);
    registry.StoreText("Version", version);
}

void ClearAgentOverride()
{
    TRegistry registry;
    if (!registry.OpenExistingUserKey(AgentKey))
        return;
    registry.RemoveValue("Platform");
    registry.RemoveValue("Version");
}

std::string CheckUserAgent()
{
    try {
        TRegistry registry;
        if (registry.OpenExistingUserKey(AgentKey)) {
            const std::string platform = registry.LoadText("Platform");
            const std::string version = registry.LoadText("Version");
            if (!platform.empty() && !version.empty())
                return "Mozilla/4.0 (compatible; " + version + "; " + platform + ")"; // as the browser builds it
        }
    } catch (const ERegistryException&) {
        // not an override this program wrote
    }
    return kCommonBrowserAgent;
}
