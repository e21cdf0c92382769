#pragma once
// The project's service for tests under Wine: started as a Linux process in a fresh folder,
// reached on 127.0.0.1, stopped when the object goes. The folder's files are what it serves.
// Raises std::runtime_error when it cannot be started.

#include "win/UniqueHandle.h"

#include <fstream>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

class TestService {
public:
    struct Request {
        std::string path;
        bool credentialsSent;
        std::string user;
        std::string password;
        std::string userAgent;
    };

    TestService()
    {
        static int serial = 0;
        unixRoot_ = "/tmp/zarnu-service-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(++serial);
        root_ = WindowsPath(unixRoot_);
        CreateDirectoryA(root_.c_str(), nullptr);

        const char* program = getenv("ZARNU_TEST_SERVICE");
        if (!program)
            throw std::runtime_error("ZARNU_TEST_SERVICE names no service program");
        std::string command = WindowsPath(program) + " --root " + unixRoot_ + " --lifetime 300";
        STARTUPINFOA startup{sizeof startup};
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            throw std::runtime_error("cannot start " + command + ": " + std::to_string(GetLastError()));
        }
        process_.reset(process.hProcess);
        CloseHandle(process.hThread);
        for (int i = 0; i < 1000 && port_.empty(); ++i) {
            std::ifstream(root_ + "\\port") >> port_;
            if (port_.empty())
                Sleep(10);
        }
        if (port_.empty())
            throw std::runtime_error("the service did not start");
    }

    ~TestService()
    {
        if (!port_.empty()) {
            const UniqueHInternet internet(InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
            const UniqueHInternet stop(InternetOpenUrlA(internet.get(), ("http://" + Host() + "/stop").c_str(),
                                                        nullptr, 0, INTERNET_FLAG_RELOAD, 0));
        }
        if (process_)
            WaitForSingleObject(process_.get(), 5000);
        for (const char* name : {"port", "requests.log", "paidencrypt.txt", "paidencrypt.txt.mode",
                                 "useragent.txt", "useragent.txt.mode"})
            DeleteFileA((root_ + "\\" + name).c_str());
        RemoveDirectoryA(root_.c_str());
    }

    std::string Host() const { return "127.0.0.1:" + port_; }
    const std::string& Root() const { return root_; }

    void Serve(const std::string& name, const std::string& body, const std::string& mode = "")
    {
        std::ofstream(root_ + "\\" + name, std::ios::binary) << body;
        std::ofstream(root_ + "\\" + name + ".mode", std::ios::binary) << mode;
    }

    std::vector<Request> Requests() const
    {
        std::vector<Request> requests;
        std::ifstream log(root_ + "\\requests.log", std::ios::binary);
        std::string line;
        while (std::getline(log, line)) {
            std::vector<std::string> fields;
            std::string field;
            for (size_t i = 0; i <= line.size(); ++i) {
                if (i == line.size() || line[i] == '\t') {
                    fields.push_back(field);
                    field.clear();
                } else if (line[i] == '\\' && i + 1 < line.size()) {
                    const char next = line[++i];
                    field += next == 't' ? '\t' : next == 'n' ? '\n' : next;
                } else {
                    field += line[i];
                }
            }
            fields.resize(5);
            requests.push_back({fields[0], fields[1] == "1", fields[2], fields[3], fields[4]});
        }
        return requests;
    }

    // A proxy list in the form the service delivers it: the inverse of the program's decoding.
    static std::string EncodedProxyList(std::string text)
    {
        for (char& c : text) {
            if (c == '.') c = '%';
            else if (c == ':') c = '&';
            else if (c == ';') c = '@';
            else if (c >= '2' && c <= '9') c = static_cast<char>('0' + 11 - (c - '0'));
        }
        return text;
    }

    static std::string WindowsPath(std::string unixPath)
    {
        for (char& c : unixPath)
            if (c == '/')
                c = '\\';
        return "Z:" + unixPath;
    }

private:
    std::string unixRoot_;
    std::string root_;
    std::string port_;
    UniqueKernelHandle process_;
};
