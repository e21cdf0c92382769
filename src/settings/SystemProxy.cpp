#include "settings/SystemProxy.h"

#include "app/Registry.h"

void ClearSystemProxy()
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    registry.StoreNumber("ProxyEnable", 0);
    registry.StoreText("ProxyServer", ":");
}
