#include "settings/BrowserLaunch.h"

#include "core/ServiceUrl.h"

#include <cctype>
#include <optional>
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

// The program the field names, quoted, and what follows it: the whole field when it names a file,
// else its text up to and including the first ".exe" when that names one. Unquoted, a path with
// spaces is tried part by part ("C:\Program.exe" before "C:\Program Files\..."), so nothing
// is left for the platform to guess: without such a file there is no command.
std::optional<std::string> BrowserCommand(const std::string& field)
{
    if (IsExistingFile(field))
        return "\"" + field + "\"";
    std::string lower = field;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t exe = lower.find(".exe");
    if (exe == std::string::npos)
        return std::nullopt;
    const std::string program = field.substr(0, exe + 4);
    if (!IsExistingFile(program))
        return std::nullopt;
    return "\"" + program + "\"" + field.substr(exe + 4);
}

} // namespace

std::string IpCheckPageAddress()
{
    return "http://" + ServiceHost() + IpCheckPagePath;
}

void LaunchIpCheckPage(const std::string& browserPath)
{
    const std::optional<std::string> program = BrowserCommand(browserPath);
    if (!program)
        return; // as a browser that cannot start: silently
    const std::string commandLine = *program + " " + IpCheckPageAddress();
    if (Replacement())
        Replacement()(commandLine, SW_SHOW);
    else
        WinExec(commandLine.c_str(), SW_SHOW);
}

ProgramStarter ReplaceProgramStarter(ProgramStarter start)
{
    return std::exchange(Replacement(), std::move(start));
}
