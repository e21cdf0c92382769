#pragma once
// The operator's service (zarnu-service, whose path ZARNU_SERVICE names) run for a test: its
// files and configuration in a folder of the test's own, listening on a free loopback port, ended
// when the object goes.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

namespace service {

namespace fs = std::filesystem;

inline std::string FileText(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// `count` proxy lines on distinct loopback addresses, each with `port` and, where given, `country`.
inline std::string ProxyLines(int count, int port, const std::string& country = "")
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "127.0." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250 + 1) + ":" + std::to_string(port) +
                 (country.empty() ? "" : ";" + country) + "\n";
    return lines;
}

// A loopback port that nothing listens on now.
inline int FreePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    close(probe);
    return ntohs(address.sin_port);
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

// A new P-256 signing key (or of another `curve`) in `folder`, with the file mode `mode`; its path.
inline std::string NewSigningKey(const Folder& folder, const std::string& name, const std::string& curve = "prime256v1",
                                 const char* mode = "600")
{
    const std::string path = (folder.Path() / name).string();
    EXPECT_EQ(std::system(("openssl ecparam -name " + curve + " -genkey -noout 2>/dev/null | openssl pkcs8 -topk8 "
                           "-nocrypt -out " + path + " && chmod " + mode + " " + path).c_str()),
              0);
    return path;
}

class ServiceProcess {
public:
    // Where the service's standard output goes: a file (Log() reads it), or a pipe that is read
    // only until the service says where it listens, and then left full.
    enum class Output { File, StalledPipe };

    // Runs the service with `config` ("key = value" lines) in `folder`; see Running().
    ServiceProcess(const Folder& folder, const std::string& config, Output output = Output::File) : folder_(folder)
    {
        folder.Write("zarnu.conf", config);
        const std::string program = std::getenv("ZARNU_SERVICE") ? std::getenv("ZARNU_SERVICE") : "zarnu-service";
        const std::string configPath = (folder.Path() / "zarnu.conf").string();
        int pipeEnds[2] = {-1, -1};
        if (output == Output::StalledPipe && pipe2(pipeEnds, O_CLOEXEC) == 0) {
            stalled_ = pipeEnds[0];
            fcntl(stalled_, F_SETFL, O_NONBLOCK);
        }
        const std::string log = (folder.Path() / "log").string(), errors = (folder.Path() / "errors").string();
        // Emptied before it starts, so that an earlier run's lines in the same folder never count.
        folder.Write("log", "");
        folder.Write("errors", "");
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // It ends with the test program, also when that crashes.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            const int in = open("/dev/null", O_RDONLY);
            const int out = pipeEnds[1] >= 0 ? pipeEnds[1] : open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
                _exit(127);
            execl(program.c_str(), program.c_str(), "--config", configPath.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0)
            pid_ = 0;
        if (pipeEnds[1] >= 0)
            close(pipeEnds[1]);
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
        if (stalled_ >= 0)
            close(stalled_);
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The pipe's reader goes away: whatever the service writes from now on has no reader.
    void CloseOutput()
    {
        if (stalled_ >= 0)
            close(stalled_);
        stalled_ = -1;
    }

    bool Running() const { return port_ != 0; }
    // The most memory the service has held at once, in kB (0: not known).
    long PeakMemoryKb() const
    {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stol(line.substr(6));
        return 0;
    }
    int Port() const { return port_; }
    std::string Log()
    {
        if (stalled_ < 0)
            return FileText(folder_.Path() / "log");
        if (!port_) { // until it listens
            char bytes[4096];
            for (ssize_t got; (got = read(stalled_, bytes, sizeof bytes)) > 0;)
                piped_.append(bytes, static_cast<std::size_t>(got));
        }
        return piped_;
    }
    std::string Errors() const { return FileText(folder_.Path() / "errors"); }
    // Waits up to 5 s until the log has `text` `times` times. A request's line is written after
    // its answer, by the log's own thread: a client that has its answer may not see the line yet.
    bool AwaitLog(const std::string& text, std::size_t times = 1)
    {
        for (int i = 0; i < 500; ++i) {
            const std::string log = Log();
            std::size_t found = 0;
            for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                ++found;
            if (found >= times)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

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
    int stalled_ = -1;
    std::string piped_;
};

// A connected socket to the service, for requests no ordinary client makes.
class RawClient {
public:
    // Connects to `port` on `to` from the loopback address `from`.
    explicit RawClient(int port, const char* from = "127.0.0.1", const char* to = "127.0.0.1")
        : socket_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, from, &source.sin_addr);
        // The port is chosen on connecting, for the whole address pair: thousands of connections
        // a second do not run out of ports.
        const int one = 1;
        setsockopt(socket_, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
        bind(socket_, reinterpret_cast<sockaddr*>(&source), sizeof source);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, to, &address.sin_addr);
        connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        timeval wait{5, 0};
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~RawClient() { close(socket_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    // Whether the service has closed the connection (without a word), looking without waiting.
    bool ClosedByPeer() const
    {
        char byte = 0;
        const ssize_t got = recv(socket_, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    bool Send(const std::string& bytes) { return send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0; }
    // What came back until the connection ended (or 5 s passed without a byte).
    std::string Rest()
    {
        std::string answer;
        char bytes[4096];
        for (ssize_t got; (got = recv(socket_, bytes, sizeof bytes, 0)) > 0;)
            answer.append(bytes, static_cast<std::size_t>(got));
        return answer;
    }
    // The answer's status line; empty when the connection ended without one.
    std::string StatusLine()
    {
        std::string answer;
        char byte = 0;
        while (answer.find("\r\n") == std::string::npos && recv(socket_, &byte, 1, 0) == 1)
            answer += byte;
        return answer.substr(0, answer.find("\r\n"));
    }

private:
    int socket_;
    bool connected_ = false;
};

} // namespace service
