#include "settings/AgentOverride.h"
#include "settings/SettingsChanges.h"

#include "win/Registry.h"

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
