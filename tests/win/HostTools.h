#pragma once
// The Linux programs that tests under Wine need beside the program: the scripts of tests/win/host,
// whose folder ZARNU_TEST_HOST_TOOLS names. Wine starts a Linux program but can neither wait for
// it nor read its output, so the scripts report through files, which these helpers poll.

#include "TestService.h"

#include "win/WinsockSession.h"

#include <windows.h>

#include <fstream>
#include <stdexcept>
#include <string>

namespace host {

inline std::string UniqueUnixPath(const std::string& what)
{
    static int serial = 0;
    return "/tmp/zarnu-" + what + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
}

inline std::string ToolPath(const std::string& tool)
{
    const char* folder = getenv("ZARNU_TEST_HOST_TOOLS");
    if (!folder)
        throw std::runtime_error("ZARNU_TEST_HOST_TOOLS names no folder");
    return std::string(folder) + "/" + tool;
}

// Starts `tool` with `arguments` (Unix paths) and returns at once.
inline void Start(const std::string& commandLine)
{
    std::string command = commandLine;
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        throw std::runtime_error("cannot start " + commandLine);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// Runs `tool` to its end, for at most 30 s. Returns its exit status, -1 when it did not end.
inline int Run(const std::string& tool, const std::string& arguments)
{
    const std::string done = UniqueUnixPath("done");
    Start(TestService::WindowsPath(ToolPath("run")) + " " + done + " " + ToolPath(tool) + " " + arguments);
    const std::string doneFile = TestService::WindowsPath(done);
    int status = -1;
    for (int i = 0; i < 3000 && status < 0; ++i) {
        std::ifstream(doneFile) >> status;
        if (status < 0)
            Sleep(10);
    }
    DeleteFileA(doneFile.c_str());
    DeleteFileA((doneFile + ".log").c_str());
    return status;
}

// A router in a network namespace of the test's own that answers every probe of
// 198.51.100.0/24 with "destination host unreachable".
class UnreachableRouter {
public:
    static constexpr const char* kAddress = "198.51.100.7";

    UnreachableRouter() : name_("zarnu-router-" + std::to_string(GetCurrentProcessId()))
    {
        if (Run("unreachable-router", "up " + name_) != 0)
            throw std::runtime_error("cannot set up the router namespace " + name_);
    }
    ~UnreachableRouter() { Run("unreachable-router", "down " + name_); }
    UnreachableRouter(const UnreachableRouter&) = delete;
    UnreachableRouter& operator=(const UnreachableRouter&) = delete;

private:
    std::string name_;
};

// Debian's tinyproxy on `address`:`port`, leaving from `address`. Ready when constructed;
// asked to end when the object goes (use a new address for the next one).
class Tinyproxy {
public:
    Tinyproxy(const std::string& address, int port) : stop_(UniqueUnixPath("proxy-stop"))
    {
        Start(TestService::WindowsPath(ToolPath("tinyproxy")) + " " + address + " " +
              std::to_string(port) + " " + stop_);
        for (int i = 0; i < 500 && !Accepts(address, port); ++i)
            Sleep(10);
        if (!Accepts(address, port))
            throw std::runtime_error("tinyproxy does not listen on " + address);
    }
    ~Tinyproxy() { std::ofstream(TestService::WindowsPath(stop_)) << "stop\n"; }
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

private:
    static bool Accepts(const std::string& address, int port)
    {
        const WinsockSession winsock(MAKEWORD(2, 2));
        const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<u_short>(port));
        target.sin_addr.s_addr = inet_addr(address.c_str());
        const bool connected = connect(probe, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
        closesocket(probe);
        return connected;
    }

    std::string stop_;
};

} // namespace host
