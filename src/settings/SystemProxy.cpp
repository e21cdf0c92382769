#include "settings/SystemProxy.h"

#include "app/Registry.h"

void ApplySystemProxy(const std::string& address)
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    registry.StoreNumber("ProxyEnable", 1);
    registry.StoreText("ProxyServer", address);
}

void ClearSystemProxy()
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    registry.StoreNumber("ProxyEnable", 0);
    registry.StoreText("ProxyServer", ":");
}
