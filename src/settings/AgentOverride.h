#pragma once
// The browser identity override: the platform and version tokens the system browser puts into
// its user-agent text.

// Below HKEY_CURRENT_USER, beside the browser's other per-user settings.
inline constexpr const char* AgentKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\User Agent";

#include <string>

// Writes the override: "Platform", then "Version", under AgentKey (created when missing).
// Raises ERegistryException; a value written before the failure stays.
void ApplyAgentOverride(const std::string& platform, const std::string& version);

// Removes the override: afterwards neither "Platform" nor "Version" exists under AgentKey.
// Everything else there, and the key itself, stays; nothing is created. Reports nothing.
void ClearAgentOverride();

// The User-Agent that the checks of proxies send, so that they tell a proxy nothing of the
// program: the system browser's as the override makes it where one is in place, else a common
// browser's. Reads the override; a value of the wrong type counts as none.
std::string CheckUserAgent();
