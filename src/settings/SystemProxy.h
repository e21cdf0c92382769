#pragma once
// The current user's system proxy, as browsers read it from the Internet Settings. The user's
// own values are never lost: before the program first routes the browser through a proxy of
// its own it saves them beside them (the copy, with the address it wrote), and switching off
// puts them back. Every change is announced to the platform, so that programs already running
// can follow it. UI thread only.

#include <string>

// The Internet Settings key below HKEY_CURRENT_USER; the program's two settings live there too.
inline constexpr const char* SettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The value beside them that holds the copy of the user's own "ProxyEnable" and "ProxyServer".
inline constexpr const char* SavedProxyValue = "Zarnusavedproxy";

// Routes the browser through `address` (address:port, written as it is). Unless a proxy of the
// program's own is in place already (its copy is kept then), the user's values are saved first;
// then "ProxyServer" := `address` and "ProxyEnable" := 1. Raises ERegistryException: when the
// copy cannot be saved, nothing is switched on; a value written before a failure stays.
void ApplySystemProxy(const std::string& address);

// Switches the program's proxy off. When it is in place, the user's two values are put back
// (a value the user did not have becomes "ProxyEnable" 0 / "ProxyServer" ":") and the copy is
// dropped. When the user has changed "ProxyServer" since, only the copy is dropped. Without a
// copy the values are the user's own: only a missing one is written. Raises ERegistryException.
void ClearSystemProxy();

// At start-up: puts the user's values back after a run that ended with its proxy in place,
// as ClearSystemProxy does, and otherwise changes no proxy value. Raises ERegistryException.
void RepairSystemProxy();
