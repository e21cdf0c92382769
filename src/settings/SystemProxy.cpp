#include "settings/SystemProxy.h"

#include "core/ProxySwitch.h"
#include "settings/SettingsChanges.h"
#include "win/Registry.h"

#include <wininet.h>

namespace {

std::u16string FromAnsi(std::string_view text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
}

std::wstring Wide(const std::u16string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The default connection's settings as the platform reports them; nullopt when it cannot.
std::optional<ConnectionSettings> QueryConnection()
{
    INTERNET_PER_CONN_OPTIONW options[4]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS_UI;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    INTERNET_PER_CONN_OPTION_LISTW list{sizeof list, nullptr, 4, 0, options};
    DWORD size = sizeof list;
    if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
        options[0].dwOption = INTERNET_PER_CONN_FLAGS; // what platforms before Windows 7 know
        size = sizeof list;
        if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size))
            return std::nullopt;
    }
    ConnectionSettings connection;
    connection.flags = options[0].Value.dwValue;
    std::u16string* texts[] = {&connection.server, &connection.bypass, &connection.autoConfigUrl};
    for (int i = 0; i < 3; ++i) {
        if (const wchar_t* text = options[i + 1].Value.pszValue) {
            *texts[i] = std::u16string(text, text + wcslen(text));
            GlobalFree(options[i + 1].Value.pszValue);
        }
    }
    return connection;
}

// Best effort: a platform that lacks it keeps going by the registry.
void SetConnection(const ConnectionSettings& connection)
{
    std::wstring server = Wide(connection.server);
    std::wstring bypass = Wide(connection.bypass);
    std::wstring script = Wide(connection.autoConfigUrl);
    INTERNET_PER_CONN_OPTIONW options[4]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = connection.flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = server.data();
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[2].Value.pszValue = bypass.data();
    options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[3].Value.pszValue = script.data();
    INTERNET_PER_CONN_OPTION_LISTW list{sizeof list, nullptr, 4, 0, options};
    InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list);
}

// Tells running programs that the Internet settings changed, so that they read them again.
void AnnounceSettingsChanged()
{
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

// The connection is asked for only where a switch may change it: some platforms write missing
// proxy values when they are asked.
enum class Purpose { Switch, Repair, Way };

ProxyState ReadState(TRegistry& registry, Purpose purpose)
{
    ProxyState state{registry.LoadWideValue(kProxyEnableName), registry.LoadWideValue(kProxyServerName),
                     registry.LoadWideValue(kProxyOverrideName), registry.LoadWideValue(kAutoConfigUrlName)};
    const std::optional<RegistryValue> copy = registry.LoadValue(SavedProxyValue);
    state.copyPresent = copy.has_value();
    if (copy && copy->type == REG_BINARY)
        state.copy = DecodeSavedProxy(copy->data, FromAnsi);
    if (purpose == Purpose::Switch || (purpose == Purpose::Repair && state.copy))
        state.connection = QueryConnection();
    return state;
}

void Run(TRegistry& registry, const ProxyPlan& plan)
{
    for (const ProxyStep& step : plan) {
        switch (step.kind) {
        case ProxyStep::Kind::StoreCopy:
            registry.StoreValue(SavedProxyValue, RegistryValue{REG_BINARY, EncodeSavedProxy(step.copy)});
            break;
        case ProxyStep::Kind::DeleteCopy: registry.DeleteValue(SavedProxyValue); break;
        case ProxyStep::Kind::StoreValue: registry.StoreWideValue(step.name, step.value); break;
        case ProxyStep::Kind::DeleteValue: registry.DeleteValue(step.name); break;
        case ProxyStep::Kind::SetConnection: SetConnection(step.connection); break;
        case ProxyStep::Kind::Announce: AnnounceSettingsChanged(); break;
        }
    }
}

} // namespace

void ApplySystemProxy(const std::string& address)
{
    CountSettingsChange();
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    const std::optional<ProxyPlan> plan = PlanSwitchOn(ReadState(registry, Purpose::Switch), FromAnsi(address));
    if (!plan)
        throw ERegistryException(std::string("Cannot keep your own proxy settings: '") + SavedProxyValue +
                                 "' holds a copy of them that this version cannot read");
    Run(registry, *plan);
}

void ClearSystemProxy()
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    Run(registry, PlanSwitchOff(ReadState(registry, Purpose::Switch)));
}

bool SystemProxyInUse(const std::string& address)
{
    TRegistry registry;
    return registry.OpenExistingUserKey(SettingsKey) &&
           ProgramProxyInUse(ReadState(registry, Purpose::Way), FromAnsi(address));
}

std::vector<UserValue> SystemProxyValues()
{
    TRegistry registry;
    if (!registry.OpenExistingUserKey(SettingsKey))
        return {};
    const ProxyState state = ReadState(registry, Purpose::Way);
    return {state.enable, state.server, state.bypass, state.autoConfigUrl};
}

void RepairSystemProxy()
{
    TRegistry registry;
    if (registry.OpenExistingUserKey(SettingsKey))
        Run(registry, PlanRepair(ReadState(registry, Purpose::Repair)));
}

RequestWay ServiceRequestWay()
{
    TRegistry registry;
    if (!registry.OpenExistingUserKey(SettingsKey))
        return {};
    return OwnRequestWayFor(ReadState(registry, Purpose::Way));
}
