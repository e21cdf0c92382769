#pragma once
// The current user's system proxy, as browsers read it from the Internet Settings. The user's
// own settings are never lost: before the program first routes the browser through a proxy of
// its own it saves them beside them (the copy, with every address it may put in place), and
// switching off puts them back exactly. While its proxy is on, local addresses bypass it and
// automatic configuration is off. Every change is announced to the platform, so that programs
// already running can follow it. The rules, and the order of the writes that keeps a run ended
// at any moment repairable, are the core's (core/ProxySwitch.h). UI thread only.

#include "core/RegistryValue.h"
#include "core/RequestWay.h"

#include <string>
#include <vector>

// The Internet Settings key below HKEY_CURRENT_USER; the program's two settings live there too.
inline constexpr const char* SettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The value beside them that holds the copy of the user's own settings.
inline constexpr const char* SavedProxyValue = "Zarnusavedproxy";

// Routes the browser through `address` (address:port, written as it is). Raises
// ERegistryException: when the copy cannot be saved, or when a copy this version cannot read is
// in the way, nothing is switched on; a value written before a later failure stays.
void ApplySystemProxy(const std::string& address);

// Switches the program's proxy off (see PlanSwitchOff). Raises ERegistryException.
void ClearSystemProxy();

// Whether the browser still goes through the program's proxy at `address` (see
// ProgramProxyInUse). Raises ERegistryException.
bool SystemProxyInUse(const std::string& address);

// The values that the switch writes, as they stand now: the same as long as nobody changes them.
// Raises ERegistryException.
std::vector<UserValue> SystemProxyValues();

// At start-up: puts the user's settings back after a run that ended with its proxy in place (or
// while putting them back), and otherwise changes nothing. Raises ERegistryException.
void RepairSystemProxy();

// The way the program's own requests to its service go: never through a proxy of the program's
// own (see OwnRequestWayFor).
RequestWay ServiceRequestWay();
