#pragma once
// Debian's nginx in front of the service, configured as the README's deployment section tells
// (service/nginx-example.conf), listening on `address`:8080 and passing to the service's port.
#include "ServiceProcess.h"

namespace service {

class NginxInFront {
public:
    NginxInFront(const Folder& folder, const std::string& address, int servicePort)
    {
        std::string example = FileText(ZARNU_NGINX_EXAMPLE);
        Replace(example, "server 127.0.0.1:8080;", "server 127.0.0.1:" + std::to_string(servicePort) + ";");
        Replace(example, "listen 80;", "listen " + address + ":8080;");
        const std::string work = folder.Path().string();
        folder.Write("nginx-site.conf", example);
        folder.Write("nginx.conf", "pid " + work + "/nginx.pid;\nerror_log " + work + "/nginx-error.log;\n"
                                   "events { worker_connections 1024; }\nhttp {\n    access_log off;\n"
                                   "    client_body_temp_path " + work + "/body;\n    proxy_temp_path " + work + "/proxy;\n"
                                   "    include " + work + "/nginx-site.conf;\n}\n");
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 1);
            dup2(quiet, 2);
            execlp("nginx", "nginx", "-e", (work + "/nginx-error.log").c_str(), "-c", (work + "/nginx.conf").c_str(), "-g",
                   "daemon off;", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Ready once it takes connections.
        for (int i = 0; i < 300 && !ready_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(8080);
            inet_pton(AF_INET, address.c_str(), &to.sin_addr);
            ready_ = connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
            close(probe);
        }
        errors_ = work + "/nginx-error.log";
    }
    ~NginxInFront()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    NginxInFront(const NginxInFront&) = delete;
    NginxInFront& operator=(const NginxInFront&) = delete;

    bool Ready() const { return ready_; }
    std::string Errors() const { return FileText(errors_); }

private:
    static void Replace(std::string& text, const std::string& from, const std::string& to)
    {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
    }

    pid_t pid_ = -1;
    bool ready_ = false;
    std::string errors_;
};

} // namespace service
