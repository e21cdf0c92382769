#pragma once
// The copy of the user's own proxy settings that the program keeps in the registry while a
// proxy of its own may be in place, with every address it may have put there. A byte layout of
// its own with a version, read back defensively: the registry value holding it may have been
// changed by anyone, or written by a later version of the program.

#include "core/RegistryValue.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The platform's per-connection flags of the default connection.
inline constexpr std::uint32_t kProxyTypeDirect = 0x1;
inline constexpr std::uint32_t kProxyTypeProxy = 0x2;
inline constexpr std::uint32_t kProxyTypeAutoProxyUrl = 0x4;
inline constexpr std::uint32_t kProxyTypeAutoDetect = 0x8;

// The default connection's settings as the platform keeps them beside the registry values.
struct ConnectionSettings {
    std::uint32_t flags = kProxyTypeDirect;
    std::u16string server;
    std::u16string bypass;
    std::u16string autoConfigUrl;

    bool operator==(const ConnectionSettings&) const = default;
};

struct SavedProxy {
    // The user's own values, in the wide form: "ProxyEnable", "ProxyServer", "ProxyOverride"
    // and "AutoConfigURL".
    UserValue enable;
    UserValue server;
    UserValue bypass;
    UserValue autoConfigUrl;
    // The user's connection settings; nullopt where the platform did not tell them.
    std::optional<ConnectionSettings> connection;
    // False for a copy of the first layout, which held only the two proxy values: the program
    // that wrote it changed nothing else.
    bool holdsEverything = true;
    // Every address the program may have in place as "ProxyServer".
    std::vector<std::u16string> applied;
    // The user's settings are being put back: whatever stands now, they are to come back.
    bool restoring = false;

    bool operator==(const SavedProxy&) const = default;
};

// The current layout.
std::string EncodeSavedProxy(const SavedProxy& saved);

// The current layout, or the first one ("ZSP1": the two values and one address, with text as the
// system code page's ANSI calls give it, which `fromAnsi` turns into the wide form of the same
// text). nullopt for anything else: another layout or a later version, a copy cut short or
// followed by more bytes, a length beyond the end.
std::optional<SavedProxy> DecodeSavedProxy(std::string_view bytes,
                                           const std::function<std::u16string(std::string_view)>& fromAnsi);
