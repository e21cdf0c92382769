#pragma once
// The way one of the program's own requests leaves the machine.

#include <string>

struct RequestWay {
    enum class Kind {
        SystemSettings, // as the system's configured proxy settings say
        Direct,         // to the server itself
        Proxy,          // through `proxy`, except for the hosts that `bypass` names
    };
    Kind kind = Kind::SystemSettings;
    std::u16string proxy;  // a proxy list as "ProxyServer" holds one
    std::u16string bypass; // a bypass list as "ProxyOverride" holds one

    bool operator==(const RequestWay&) const = default;
};
