#pragma once
// The current user's system proxy, as browsers read it from the Internet Settings.

#include <string>

// The Internet Settings key below HKEY_CURRENT_USER; the program's two settings live there too.
inline constexpr const char* SettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Routes the browser through `address` (address:port, written as it is): "ProxyEnable" 1, then
// "ProxyServer". Raises ERegistryException; a value written before the failure stays.
void ApplySystemProxy(const std::string& address);

// Switches the proxy off: "ProxyEnable" 0, then "ProxyServer" ":". Raises ERegistryException.
void ClearSystemProxy();
