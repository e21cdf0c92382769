#include "settings/SystemProxy.h"

#include "app/Registry.h"

void ClearSystemProxy()
{
    TRegistry registry;
    if (!registry.OpenUserKey(SettingsKey))
        registry.CreateUserKey(SettingsKey);
    registry.StoreNumber("ProxyEnable", 0);
    registry.StoreText("ProxyServer", ":");
}
