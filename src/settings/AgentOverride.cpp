#include "settings/AgentOverride.h"

#include "app/Registry.h"

void ClearAgentOverride()
{
    TRegistry registry;
    if (!registry.OpenExistingUserKey(AgentKey))
        return;
    registry.RemoveValue("Platform");
    registry.RemoveValue("Version");
}
