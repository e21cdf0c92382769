#include "settings/BrowserLaunch.h"

#include "core/ServiceUrl.h"

#include <utility>

namespace {

ProgramStarter& Replacement()
{
    static ProgramStarter replacement;
    return replacement;
}

bool IsExistingFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::string IpCheckPageAddress()
{
    return "http://" + ServiceHost() + "/whatismyip.php";
}

void LaunchIpCheckPage(const std::string& browserPath)
{
    // Unquoted, a path with spaces is tried part by part, and "C:\Program.exe" would start
    // instead of "C:\Program Files\...": a browser that exists is named exactly.
    const std::string program = IsExistingFile(browserPath) ? "\"" + browserPath + "\"" : browserPath;
    const std::string commandLine = program + " " + IpCheckPageAddress();
    if (Replacement())
        Replacement()(commandLine, SW_SHOW);
    else
        WinExec(commandLine.c_str(), SW_SHOW);
}

ProgramStarter ReplaceProgramStarter(ProgramStarter start)
{
    return std::exchange(Replacement(), std::move(start));
}
