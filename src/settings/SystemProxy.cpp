#include "settings/SystemProxy.h"

#include "win/Registry.h"
#include "core/SavedProxy.h"

#include <wininet.h>

#include <optional>

namespace {

constexpr const char* kEnable = "ProxyEnable";
constexpr const char* kServer = "ProxyServer";

// The saved copy, and whether the proxy it was saved for is still in place: "ProxyServer" holds
// the address the program wrote. A copy that cannot be read counts as saved for a user without
// values of their own, with the program's proxy in place.
struct ProxyCopy {
    std::optional<SavedProxy> saved;
    bool inPlace = false;
};

ProxyCopy LoadCopy(TRegistry& registry)
{
    const std::optional<RegistryValue> stored = registry.LoadValue(SavedProxyValue);
    if (!stored)
        return {};
    const std::optional<SavedProxy> saved =
        stored->type == REG_BINARY ? DecodeSavedProxy(stored->data) : std::nullopt;
    if (!saved)
        return {SavedProxy{}, true};
    const std::optional<RegistryValue> server = registry.LoadValue(kServer);
    return {saved, server && server->type == REG_SZ && ValueText(*server) == saved->applied};
}

// The platform's own record of the default connection's proxy, which newer systems read rather
// than the two values. Only the proxy flag and the server change; automatic configuration stays
// as the user set it. Best effort: a platform that lacks it keeps going by the registry.
void SetConnectionProxy(bool enabled, const std::string& server)
{
    INTERNET_PER_CONN_OPTIONA options[2]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    INTERNET_PER_CONN_OPTION_LISTA list{sizeof list, nullptr, 1, 0, options};
    DWORD size = sizeof list;
    if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size))
        return;
    const DWORD automatic = PROXY_TYPE_AUTO_PROXY_URL | PROXY_TYPE_AUTO_DETECT;
    options[0].Value.dwValue = (options[0].Value.dwValue & automatic) | PROXY_TYPE_DIRECT |
                               (enabled ? PROXY_TYPE_PROXY : 0);
    options[1].Value.pszValue = const_cast<char*>(server.c_str());
    list.dwOptionCount = 2;
    InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list);
}

// Tells running programs that the Internet settings changed, so that they read them again.
void AnnounceSettingsChanged()
{
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

// Writes both values as given, "ProxyEnable" first, after the platform's own record (which
// some platforms mirror into the same two values), so that the registry ends exactly so.
void PutProxyValues(TRegistry& registry, const RegistryValue& enable, const RegistryValue& server)
{
    SetConnectionProxy(enable.type == REG_DWORD && enable != NumberValue(0), ValueText(server));
    registry.StoreValue(kEnable, enable);
    registry.StoreValue(kServer, server);
}

// Puts the values of `copy` back where its proxy is in place, and drops it.
void RestoreFromCopy(TRegistry& registry, const ProxyCopy& copy)
{
    if (copy.inPlace)
        PutProxyValues(registry, copy.saved->enable.value_or(NumberValue(0)),
                       copy.saved->server.value_or(TextValue(":")));
    registry.DeleteValue(SavedProxyValue);
    if (copy.inPlace)
        AnnounceSettingsChanged();
}

} // namespace

void ApplySystemProxy(const std::string& address)
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    const ProxyCopy copy = LoadCopy(registry);
    SavedProxy saved = copy.inPlace ? *copy.saved
                                    : SavedProxy{registry.LoadValue(kEnable), registry.LoadValue(kServer), {}};
    saved.applied = address;
    // Saved before the proxy is written, so that a run ending at any later point is repaired.
    registry.StoreValue(SavedProxyValue, RegistryValue{REG_BINARY, EncodeSavedProxy(saved)});

    // The server first: once it holds the address, the copy is known to be in place.
    SetConnectionProxy(true, address);
    registry.StoreText(kServer, address);
    registry.StoreNumber(kEnable, 1);
    AnnounceSettingsChanged();
}

void ClearSystemProxy()
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    const ProxyCopy copy = LoadCopy(registry);
    if (copy.saved) {
        RestoreFromCopy(registry, copy);
        return;
    }
    const std::optional<RegistryValue> enable = registry.LoadValue(kEnable);
    const std::optional<RegistryValue> server = registry.LoadValue(kServer);
    if (enable && server)
        return;
    PutProxyValues(registry, enable.value_or(NumberValue(0)), server.value_or(TextValue(":")));
    AnnounceSettingsChanged();
}

void RepairSystemProxy()
{
    TRegistry registry;
    if (!registry.OpenExistingUserKey(SettingsKey))
        return;
    const ProxyCopy copy = LoadCopy(registry);
    if (copy.saved)
        RestoreFromCopy(registry, copy);
}
