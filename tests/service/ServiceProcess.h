#pragma once
// The operator's service (zarnu-service, whose path ZARNU_SERVICE names) run for a test: its
// files and configuration in a folder of the test's own, listening on a free loopback port, ended
// when the object goes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace service {

namespace fs = std::filesystem;

inline std::string FileText(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A new folder of the test's own, removed with what is in it.
class Folder {
public:
    Folder()
    {
        std::string name = (fs::temp_directory_path() / "zarnu-service-test.XXXXXX").string();
        if (!mkdtemp(name.data()))
            throw std::runtime_error("cannot make a folder");
        path_ = name;
    }
    ~Folder() { fs::remove_all(path_); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const fs::path& Path() const { return path_; }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }

private:
    fs::path path_;
};

class ServiceProcess {
public:
    // Runs the service with `config` ("key = value" lines) in `folder`; see Running().
    ServiceProcess(const Folder& folder, const std::string& config) : folder_(folder)
    {
        folder.Write("zarnu.conf", config);
        const std::string program = std::getenv("ZARNU_SERVICE") ? std::getenv("ZARNU_SERVICE") : "zarnu-service";
        const std::string configPath = (folder.Path() / "zarnu.conf").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (folder.Path() / "log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (folder.Path() / "errors").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> arguments{const_cast<char*>(program.c_str()), const_cast<char*>("--config"),
                                     const_cast<char*>(configPath.c_str()), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, arguments.data(), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        // Ready once it says where it listens, or ended.
        for (int i = 0; i < 500 && pid_ && !status_; ++i) {
            const std::string log = Log();
            const std::size_t at = log.find("listening on ");
            if (at != std::string::npos) {
                const std::string rest = log.substr(at + 13);
                host_ = rest.substr(0, rest.find_first_of(",\n"));
                port_ = std::stoi(host_.substr(host_.rfind(':') + 1));
                break;
            }
            Ended();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~ServiceProcess()
    {
        if (pid_ && !Ended()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Running() const { return port_ != 0; }
    int Port() const { return port_; }
    std::string Log() const { return FileText(folder_.Path() / "log"); }
    std::string Errors() const { return FileText(folder_.Path() / "errors"); }

    void Signal(int signal) const { kill(pid_, signal); }
    // Its exit status once it has ended; nullopt while it runs.
    std::optional<int> Ended()
    {
        if (!status_ && pid_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_;
    }
    // Waits at most `patience` for its end.
    std::optional<int> AwaitEnd(std::chrono::milliseconds patience)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!Ended() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return Ended();
    }

private:
    const Folder& folder_;
    pid_t pid_ = 0;
    std::optional<int> status_;
    std::string host_;
    int port_ = 0;
};

} // namespace service
