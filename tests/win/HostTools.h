#pragma once
// The Linux programs that tests under Wine start beside the program: the project's service and
// the scripts of tests/win/host, whose folder ZARNU_TEST_HOST_TOOLS names. Wine starts a Linux
// program but can neither wait for it, read its output nor end it, so each one runs through the
// `helper` script in a folder of its own, and reports through files there that these classes
// poll. Every folder is made inside the one the Wine wrapper made for this test program
// (ZARNU_TEST_TMP), which the wrapper removes, ending whatever still runs, when the program ends.

#include "win/WinsockSession.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

inline std::string WindowsPath(std::string unixPath)
{
    for (char& c : unixPath)
        if (c == '/')
            c = '\\';
    return "Z:" + unixPath;
}

inline std::string Environment(const char* name)
{
    const char* value = getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string(name) + " is not set: run the tests through scripts/wine-run");
    return value;
}

// The Linux path of a Windows path on drive Z: ("Z:\\tmp\\x" is "/tmp/x").
inline std::string UnixPath(std::string windowsPath)
{
    if (windowsPath.rfind("Z:", 0) == 0)
        windowsPath.erase(0, 2);
    for (char& c : windowsPath)
        if (c == '\\')
            c = '/';
    return windowsPath;
}

inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string FileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Removes `path` with everything below it; what cannot be removed stays.
inline void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + "\\" + name);
            else
                DeleteFileA((path + "\\" + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// A new folder in this test program's own, which nothing else names: "WHAT-N", created here
// (never one that exists already) and removed with everything in it when the object goes.
class OwnFolder {
public:
    explicit OwnFolder(const std::string& what)
    {
        static int serial = 0;
        const std::string run = Environment("ZARNU_TEST_TMP");
        for (;;) {
            name_ = what + "-" + std::to_string(++serial);
            unixPath_ = run + "/" + name_;
            if (CreateDirectoryA(Path().c_str(), nullptr))
                break;
            if (GetLastError() != ERROR_ALREADY_EXISTS)
                throw std::runtime_error("cannot create " + unixPath_);
        }
    }
    ~OwnFolder() { RemoveTree(Path()); }
    OwnFolder(const OwnFolder&) = delete;
    OwnFolder& operator=(const OwnFolder&) = delete;

    // A name that no other program or run uses: the wrapper's folder name, then this folder's.
    // The wrapper removes network namespaces of such names with its folder.
    std::string UniqueName() const
    {
        const std::string run = Environment("ZARNU_TEST_TMP");
        return run.substr(run.rfind('/') + 1) + "-" + name_;
    }
    const std::string& UnixPath() const { return unixPath_; }
    std::string Path() const { return WindowsPath(unixPath_); }
    std::string File(const std::string& name) const { return Path() + "\\" + name; }

private:
    std::string name_;
    std::string unixPath_;
};

inline std::string ToolPath(const std::string& tool)
{
    return Environment("ZARNU_TEST_HOST_TOOLS") + "/" + tool;
}

// A Linux program run for a test through the `helper` script, in a folder of its own that holds
// its output ("log"). It is ended when the object goes; one that does not end then fails the
// test (the wrapper ends it with the test program).
class Helper {
public:
    Helper(const std::string& what, const std::string& program, const std::vector<std::string>& arguments)
        : folder_(what)
    {
        std::string command = Quoted(WindowsPath(ToolPath("helper"))) + " " + Quoted(folder_.UnixPath()) +
                              " " + Quoted(program);
        for (const std::string& argument : arguments)
            command += " " + Quoted(argument);
        STARTUPINFOA startup{sizeof startup};
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            throw std::runtime_error("cannot start " + command + ": " + std::to_string(GetLastError()));
        // Wine gives no handle of a Linux process to wait on.
        if (process.hThread)
            CloseHandle(process.hThread);
        if (process.hProcess)
            CloseHandle(process.hProcess);
    }
    ~Helper()
    {
        if (!Stop())
            ADD_FAILURE() << folder_.UnixPath() << ": the helper did not end when asked\n" << Log();
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    const OwnFolder& Folder() const { return folder_; }
    std::string Log() const { return FileText(folder_.File("log")); }

    // The program's exit status once it has ended, waiting at most `milliseconds` for it.
    std::optional<int> WaitForExit(DWORD milliseconds) const
    {
        const DWORD start = GetTickCount();
        while (!FileExists(folder_.File("exit"))) {
            if (GetTickCount() - start >= milliseconds)
                return std::nullopt;
            Sleep(10);
        }
        int status = -1;
        std::ifstream(folder_.File("exit")) >> status;
        return status;
    }
    bool Ended() const { return FileExists(folder_.File("exit")); }

    // Sends the program the signal `name` ("STOP", "CONT") and waits until it is sent.
    void Signal(const std::string& name) const
    {
        std::ofstream(folder_.File("signal.tmp")) << name;
        MoveFileA(folder_.File("signal.tmp").c_str(), folder_.File("signal").c_str());
        for (int i = 0; i < 500 && FileExists(folder_.File("signal")); ++i)
            Sleep(10);
    }

    // Ends the program and waits for it; false when it has not ended within 10 s.
    bool Stop()
    {
        if (!Ended())
            std::ofstream(folder_.File("stop")) << "stop\n";
        return WaitForExit(10000).has_value();
    }

private:
    static std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

    OwnFolder folder_;
};

// Runs `tool` with `arguments` to its end, for at most 30 s. Returns its exit status, -1 when it
// did not end; its output goes to the test's output when it failed.
inline int Run(const std::string& tool, const std::vector<std::string>& arguments)
{
    Helper run(tool, ToolPath(tool), arguments);
    const int status = run.WaitForExit(30000).value_or(-1);
    if (status != 0)
        std::cerr << tool << " ended with " << status << ":\n" << run.Log();
    return status;
}

// A router in a network namespace of the test's own that answers every probe of
// 198.51.100.0/24 with "destination host unreachable".
class UnreachableRouter {
public:
    static constexpr const char* kAddress = "198.51.100.7";

    UnreachableRouter() : name_(OwnFolder("router").UniqueName())
    {
        if (Run("unreachable-router", {"up", name_}) != 0)
            throw std::runtime_error("cannot set up the router namespace " + name_);
    }
    ~UnreachableRouter() { EXPECT_EQ(Run("unreachable-router", {"down", name_}), 0); }
    UnreachableRouter(const UnreachableRouter&) = delete;
    UnreachableRouter& operator=(const UnreachableRouter&) = delete;

private:
    std::string name_;
};

// An address of a private range on an interface of the tests' own network namespace, for
// as long as the object lives: a host of the user's own network.
class PrivateAddress {
public:
    explicit PrivateAddress(const std::string& address) : address_(address)
    {
        if (Run("private-address", {"up", address_}) != 0)
            throw std::runtime_error("cannot add the address " + address_);
    }
    ~PrivateAddress() { EXPECT_EQ(Run("private-address", {"down", address_}), 0); }
    PrivateAddress(const PrivateAddress&) = delete;
    PrivateAddress& operator=(const PrivateAddress&) = delete;

private:
    std::string address_;
};

// A Linux server program of a test, listening on `address`:`port`: ready when constructed, ended
// when the object goes.
class ListeningServer {
public:
    ListeningServer(const std::string& what, const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& address, int port)
        : server_(what, program, arguments), host_(address + ":" + std::to_string(port))
    {
        for (int i = 0; i < 500 && !server_.Ended() && !Accepts(address, port); ++i)
            Sleep(10);
        // One that could not listen has ended: what answers then is not this test's.
        if (server_.Ended() || !Accepts(address, port))
            throw std::runtime_error(what + " does not listen on " + host_ + ":\n" + server_.Log());
    }

    // "address:port"
    const std::string& Host() const { return host_; }
    // Stops it where it stands: it still takes connections (the system does), and answers none.
    void Pause() const { server_.Signal("STOP"); }
    // What it wrote.
    std::string Log() const { return server_.Log(); }

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

    Helper server_;
    std::string host_;
};

// Debian's tinyproxy on `address`:`port`, leaving from `address`, with more lines of its
// configuration where given ("DisableViaHeader Yes").
class Tinyproxy : public ListeningServer {
public:
    Tinyproxy(const std::string& address, int port, std::vector<std::string> configuration = {})
        : ListeningServer("tinyproxy", ToolPath("tinyproxy"), Arguments(address, port, std::move(configuration)),
                          address, port)
    {
    }

private:
    static std::vector<std::string> Arguments(const std::string& address, int port, std::vector<std::string> lines)
    {
        lines.insert(lines.begin(), {address, std::to_string(port)});
        return lines;
    }
};

// Debian's dante: SOCKS 5 and SOCKS 4 (or SOCKS 4 only) without authentication on
// `address`:`port`, leaving from `address`; with `hostsFile` (a Windows path), looking names up in
// that file only.
class Dante : public ListeningServer {
public:
    enum Versions { Socks4And5, Socks4Only };

    Dante(const std::string& address, int port, Versions versions = Socks4And5, const std::string& hostsFile = {})
        : ListeningServer("dante", ToolPath("dante"), Arguments(address, port, versions, hostsFile), address, port)
    {
    }

private:
    static std::vector<std::string> Arguments(const std::string& address, int port, Versions versions,
                                              const std::string& hostsFile)
    {
        std::vector<std::string> arguments{address, std::to_string(port),
                                           versions == Socks4Only ? "socks_v4" : "socks_v4 socks_v5"};
        if (!hostsFile.empty())
            arguments.push_back(UnixPath(hostsFile));
        return arguments;
    }
};

// Debian's microsocks: SOCKS 5 only, without authentication, on `address`:`port`, leaving from
// `address`.
class Microsocks : public ListeningServer {
public:
    // With `user` and `password`, it asks every client for that account (SOCKS 5's username method).
    Microsocks(const std::string& address, int port, const std::string& user = "", const std::string& password = "")
        : ListeningServer("microsocks", "/usr/bin/microsocks", Arguments(address, port, user, password), address, port)
    {
    }

private:
    static std::vector<std::string> Arguments(const std::string& address, int port, const std::string& user,
                                              const std::string& password)
    {
        std::vector<std::string> arguments{"-i", address, "-p", std::to_string(port), "-b", address};
        if (!user.empty())
            arguments.insert(arguments.end(), {"-u", user, "-P", password});
        return arguments;
    }
};

// The emulated internet of `emulated-internet`: a network namespace of the test's own in which
// every address of 198.18.0.0/15 is a host, each answering, silent or unreachable as `hostTable`
// says (lines "ADDRESS KIND DELAY_MS JITTER_MS LOSS", see emulator/HostTable.h), with a public
// proxy of a kind on each port (see the script). Up when constructed; removed when the object
// goes. A service inside it runs as TestService(address, options, Namespace()).
class EmulatedInternet {
public:
    static constexpr const char* kUsersAddress = "10.200.0.1"; // this side's, as the hosts see it

    explicit EmulatedInternet(const std::string& hostTable)
        : table_("hosts"), internet_("internet", ToolPath("emulated-internet"), Arguments(table_, hostTable))
    {
        for (int i = 0; i < 3000 && !internet_.Ended() && !FileExists(internet_.Folder().File("ready")); ++i)
            Sleep(10);
        if (!FileExists(internet_.Folder().File("ready")))
            throw std::runtime_error("the emulated internet did not come up:\n" + internet_.Log());
    }
    EmulatedInternet(const EmulatedInternet&) = delete;
    EmulatedInternet& operator=(const EmulatedInternet&) = delete;

    const std::string& Namespace() const { return name_; }
    // What the packets' emulator wrote: its counts, and each echo it lost ("lost echo ADDRESS").
    std::string EmulatorLog() const { return FileText(internet_.Folder().File("emulator\\log")); }

private:
    std::vector<std::string> Arguments(const OwnFolder& table, const std::string& hostTable)
    {
        std::ofstream(table.File("hosts"), std::ios::binary) << hostTable;
        name_ = table.UniqueName();
        return {name_, table.UnixPath() + "/hosts", Environment("ZARNU_NET_EMULATOR"), Environment("ZARNU_TEST_SERVICE")};
    }

    OwnFolder table_;
    std::string name_;
    Helper internet_;
};

} // namespace host
