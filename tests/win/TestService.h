#pragma once
// The project's service for tests under Wine: a Linux process serving the files of the folder of
// its own that it runs in (see HostTools.h), listening on 127.0.0.1 (or another address of the
// tests' namespace) and ended when the object goes. Raises std::runtime_error when it cannot be
// started.

#include "HostTools.h"

#include "core/ProxyList.h"

#include <fstream>
#include <stdexcept>
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
        std::string from; // the caller's address
    };

    // `options`: more of the service's options ("--https-port", "443"); `netns`: the network
    // namespace it runs in (an emulated internet's), where not the test's own.
    explicit TestService(const std::string& address = "127.0.0.1", std::vector<std::string> options = {},
                         const std::string& netns = "")
        : address_(address),
          service_("service", netns.empty() ? host::Environment("ZARNU_TEST_SERVICE") : "ip",
                   Arguments(address, options, netns))
    {
        // The folder is new and the service's alone: a port written there is this service's.
        for (int i = 0; i < 1000 && port_.empty() && !service_.Ended(); ++i) {
            std::ifstream(Folder().File("port")) >> port_;
            if (port_.empty())
                Sleep(10);
        }
        if (port_.empty())
            throw std::runtime_error("the service did not start:\n" + service_.Log());
    }

    // "address:port", an IPv6 address in brackets.
    std::string Host() const
    {
        return (address_.find(':') == std::string::npos ? address_ : "[" + address_ + "]") + ":" + port_;
    }
    std::string Root() const { return Folder().Path(); }

    void Serve(const std::string& name, const std::string& body, const std::string& mode = "")
    {
        std::ofstream(Folder().File(name), std::ios::binary) << body;
        std::ofstream(Folder().File(name) + ".mode", std::ios::binary) << mode;
    }

    // The requests of one path.
    std::vector<Request> Requests(const std::string& path) const
    {
        std::vector<Request> found;
        for (const Request& request : Requests())
            if (request.path == path)
                found.push_back(request);
        return found;
    }

    std::vector<Request> Requests() const
    {
        std::vector<Request> requests;
        std::ifstream log(Folder().File("requests.log"), std::ios::binary);
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
            fields.resize(6);
            requests.push_back({fields[0], fields[1] == "1", fields[2], fields[3], fields[4], fields[5]});
        }
        return requests;
    }

    // A proxy list in the form the service delivers it: the inverse of the program's decoding.
    static std::string EncodedProxyList(const std::string& text) { return EncodeProxyList(text); }

    static std::string WindowsPath(const std::string& unixPath) { return host::WindowsPath(unixPath); }

private:
    static std::vector<std::string> Arguments(const std::string& address, std::vector<std::string> options,
                                              const std::string& netns)
    {
        options.insert(options.begin(), {"--root", ".", "--address", address});
        if (!netns.empty())
            options.insert(options.begin(), {"netns", "exec", netns, host::Environment("ZARNU_TEST_SERVICE")});
        return options;
    }

    const host::OwnFolder& Folder() const { return service_.Folder(); }

    std::string address_;
    host::Helper service_;
    std::string port_;
};
