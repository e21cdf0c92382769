#pragma once
// The copy of the user's own proxy values that the program keeps in the registry while a proxy
// of its own is in place, with the address it wrote. A byte layout of its own, read back
// defensively: the registry value holding it may have been changed by anyone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One registry value as it is stored: its type number and its bytes.
struct RegistryValue {
    std::uint32_t type = 0;
    std::string data;

    bool operator==(const RegistryValue&) const = default;
};

struct SavedProxy {
    std::optional<RegistryValue> enable; // the user's "ProxyEnable"; nullopt: there was none
    std::optional<RegistryValue> server; // the user's "ProxyServer"; nullopt: there was none
    std::string applied;                 // the address the program wrote as "ProxyServer"

    bool operator==(const SavedProxy&) const = default;
};

std::string EncodeSavedProxy(const SavedProxy& saved);

// nullopt for anything EncodeSavedProxy did not make: another layout, a copy cut short or
// followed by more bytes, a length beyond the end.
std::optional<SavedProxy> DecodeSavedProxy(std::string_view bytes);
