#pragma once
// The rules of the system proxy switch, apart from the platform: given the user's proxy settings
// as they stand, each switch is planned as an ordered list of writes. The order is what keeps the
// user's settings safe: a run that ends after any write of any plan leaves a state from which
// the repair plan brings the user's own settings back, whatever characters they hold.
//
// While a proxy of the program's is on, "ProxyServer" holds its address, "ProxyEnable" 1,
// "ProxyOverride" the user's own entries followed by the local addresses, and automatic
// configuration is off; the user's values wait in the copy.

#include "core/RequestWay.h"
#include "core/SavedProxy.h"

#include <optional>
#include <string>
#include <vector>

// The values under the Internet Settings key that the switch reads and writes, by name.
inline constexpr const char* kProxyEnableName = "ProxyEnable";
inline constexpr const char* kProxyServerName = "ProxyServer";
inline constexpr const char* kProxyOverrideName = "ProxyOverride";
inline constexpr const char* kAutoConfigUrlName = "AutoConfigURL";

// What the switch sees before it plans: the four values (wide form), the copy beside them and
// the default connection's settings.
struct ProxyState {
    UserValue enable;
    UserValue server;
    UserValue bypass;
    UserValue autoConfigUrl;
    bool copyPresent = false;          // the copy's value exists...
    std::optional<SavedProxy> copy;    // ...and this version can read it
    std::optional<ConnectionSettings> connection; // nullopt where the platform cannot tell
};

struct ProxyStep {
    enum class Kind {
        StoreCopy,     // `copy`
        DeleteCopy,
        StoreValue,    // `name` := `value`
        DeleteValue,   // `name`
        SetConnection, // the default connection := `connection`
        Announce,      // tell running programs that the settings changed
    };
    Kind kind;
    std::string name;
    RegistryValue value;
    SavedProxy copy;
    ConnectionSettings connection;

    bool operator==(const ProxyStep&) const = default;
};
using ProxyPlan = std::vector<ProxyStep>;

// True where a copy is readable and "ProxyServer" holds one of its addresses.
bool ProgramProxyInPlace(const ProxyState& state);

// True where the program's proxy in place is `address` and the browser goes through it: in place
// (ProgramProxyInPlace), "ProxyServer" naming it as a list line does (its label, blanks aside),
// "ProxyEnable" on, and no automatic configuration script that would take its place. False once
// the user has switched it off or anyone has set another proxy.
bool ProgramProxyInUse(const ProxyState& state, const std::u16string& address);

// Routes through `address`. The user's settings are saved first unless a proxy of the program's
// is in place (its copy is kept, and learns the new address before it is written). nullopt when
// a copy this version cannot read is in the way: nothing may be switched on then, or the user's
// settings that it may hold would be lost.
std::optional<ProxyPlan> PlanSwitchOn(const ProxyState& state, const std::u16string& address);

// Switches the program's proxy off: where it is in place, the user's settings come back (a
// "ProxyEnable" or "ProxyServer" the user did not have becomes 0 / ":", the other two values are
// removed) and the copy goes; where the user has changed "ProxyServer" since, only the copy goes.
// Without a copy the values are the user's own: only a missing "ProxyEnable" or "ProxyServer" is
// written. A copy that cannot be read is left alone, and so is everything beside it.
ProxyPlan PlanSwitchOff(const ProxyState& state);

// At start-up: as PlanSwitchOff where a readable copy exists; otherwise nothing.
ProxyPlan PlanRepair(const ProxyState& state);

// "ProxyOverride" while the program's proxy is on: the user's own entries, then "<local>" and
// the private and link-local ranges, each entry once.
std::u16string BypassWithLocalAddresses(const UserValue& usersBypass);

// The way the program's own requests to its service go. With a proxy of the program's in place: through the user's own proxy where the copy holds one
// that is enabled, otherwise direct. Without one, the system's settings apply.
RequestWay OwnRequestWayFor(const ProxyState& state);
