#pragma once
// Starting the user's browser on the service's what-is-my-IP page.

#include <windows.h>

#include <functional>
#include <string>

// "http://" + the service host + "/whatismyip.php".
std::string IpCheckPageAddress();

// Starts the browser at `browserPath` on the what-is-my-IP page, shown normally. Failures are
// silent. When the path names an existing file, exactly that file is started (its path quoted).
// Otherwise, when the path's text up to and including its first ".exe" names one, that file is
// started (quoted) with the rest of the text as its first arguments; else nothing starts.
void LaunchIpCheckPage(const std::string& browserPath);

// Replaces the platform's WinExec for every launch; an empty function restores it. Returns the
// previous replacement. UI thread only.
using ProgramStarter = std::function<void(const std::string& commandLine, UINT show)>;
ProgramStarter ReplaceProgramStarter(ProgramStarter start);
