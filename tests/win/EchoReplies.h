#pragma once
// Switches this network namespace's answers to echo requests off for a test's scope. The test
// programs run in a namespace of their own (the Wine wrapper sees to it), where only the loopback
// interface exists; the switch refuses to act anywhere else.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

class EchoRepliesOff {
public:
    EchoRepliesOff()
    {
        if (!OnlyLoopbackHere()) {
            ADD_FAILURE() << "not in a network namespace of the tests' own: echo replies stay on";
            return;
        }
        std::ifstream(kSetting) >> previous_;
        switched_ = Write("1");
        EXPECT_TRUE(switched_) << "cannot write " << kSetting;
    }
    ~EchoRepliesOff()
    {
        if (switched_)
            Write(previous_.empty() ? "0" : previous_);
    }
    EchoRepliesOff(const EchoRepliesOff&) = delete;
    EchoRepliesOff& operator=(const EchoRepliesOff&) = delete;

private:
    static constexpr char kSetting[] = "Z:\\proc\\sys\\net\\ipv4\\icmp_echo_ignore_all";

    // The interfaces of this process's namespace, one per line after two header lines.
    static bool OnlyLoopbackHere()
    {
        std::ifstream interfaces("Z:\\proc\\self\\net\\dev");
        std::string line;
        int found = 0;
        for (int number = 0; std::getline(interfaces, line); ++number) {
            if (number < 2)
                continue;
            const auto name = line.substr(0, line.find(':'));
            if (name.find_first_not_of(' ') == std::string::npos ||
                name.substr(name.find_first_not_of(' ')) != "lo")
                return false;
            ++found;
        }
        return found == 1;
    }

    static bool Write(const std::string& value)
    {
        const HANDLE setting = CreateFileA(kSetting, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        if (setting == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const bool done = WriteFile(setting, value.data(), static_cast<DWORD>(value.size()),
                                    &written, nullptr) && written == value.size();
        CloseHandle(setting);
        return done;
    }

    std::string previous_;
    bool switched_ = false;
};

// How many echo requests this network namespace has received, answered or not.
inline long EchoRequestsReceived()
{
    std::ifstream counters("Z:\\proc\\self\\net\\snmp");
    std::string names;
    std::string values;
    while (std::getline(counters, names) && std::getline(counters, values)) {
        if (names.rfind("Icmp: ", 0) != 0)
            continue;
        std::istringstream nameWords(names);
        std::istringstream valueWords(values);
        std::string name;
        std::string value;
        while (nameWords >> name && valueWords >> value)
            if (name == "InEchos")
                return std::stol(value);
    }
    return -1;
}
