// The Zarnu service as the tests need it: the two list files and the
// what-is-my-IP page, on 127.0.0.1, behind HTTP Basic authentication.
//
//   zarnu-test-service --root DIR [--port N] [--address A] [--https-port N] [--never-answer yes]
//                 [--signing-key PEMFILE] [--hostile KIND [--relay-to A:P --delay MS]]
//
// Serves DIR/paidencrypt.txt and DIR/useragent.txt under /download/encrypt/, and at
// /whatismyip.php what a site sees of its caller: "REMOTE_ADDR = a.b.c.d", then every request
// header as a server variable ("HTTP_VIA = ..."), one per line. Asked with "?token=HEX" (32 to 64
// hex digits), the page is the signed statement that core/IpCheckPage.h describes, signed with
// the key of PEMFILE (by default the demo key, which is no secret). Listens on A (127.0.0.1 by
// default), writes the port to DIR/port and appends one line per request to DIR/requests.log:
//   path TAB credentials-sent(0/1) TAB user TAB password TAB user-agent TAB caller's address
// (tab, line feed and backslash escaped as \t \n \\). A file DIR/NAME.mode changes how NAME is
// answered: "empty" (no body), "status CODE" (that status, the file as body), "cut N" (the full
// length announced, N bytes sent, connection dropped), "slow MS" (256 bytes every MS ms); for
// the page, "hold MS ADDRESS" holds each answer to ADDRESS for MS ms, and "limit 0 ADDRESS"
// answers ADDRESS as a caller over the service's limit (429, signed for a check's token, both
// sides). Asked with "&v=2", the
// page says where its caller is as DIR/places.txt has it: "ADDRESS|COUNTRY|NETWORK" lines, each
// empty for an address the file does not name. At /speedtest.bin it serves 2 MB of random bytes
// (the operator's service's default), fresh to every request, for a speed test.
// --https-port N also listens on A:N (443 for the far end of a proxy's tunnel), where the page
// states that it was asked through a tunnel. --never-answer makes it accept every connection and
// answer none, as a server that hangs. --hostile makes it a proxy with a hostile answer to every
// request (nothing else is served; see HostileProxy.h).
// It runs until it is ended by a signal.

#include "HostileProxy.h"
#include "StatementSigner.h"

#include "core/IpCheckPage.h"
#include "core/ServiceUrl.h"

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <random>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "Tordane41";

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string Escape(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\\')
            escaped += "\\\\";
        else
            escaped += c;
    }
    return escaped;
}

struct Credentials {
    bool sent = false;
    std::string user;
    std::string password;
};

Credentials CredentialsOf(const httplib::Request& request)
{
    const auto credentials = ReadBasicAuthorization(request.get_header_value("Authorization"));
    return credentials ? Credentials{true, credentials->user, credentials->password} : Credentials{};
}

void WritePortFile(const fs::path& root, int port)
{
    // Written whole, then renamed, so a reader never sees half a number.
    std::ofstream(root / "port.tmp") << port << '\n';
    fs::rename(root / "port.tmp", root / "port");
}

class Service {
public:
    explicit Service(fs::path root) : root_(std::move(root)) {}

    void Record(const httplib::Request& request, const Credentials& credentials)
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        std::ofstream log(root_ / "requests.log", std::ios::app | std::ios::binary);
        log << Escape(request.path) << '\t' << (credentials.sent ? 1 : 0) << '\t'
            << Escape(credentials.user) << '\t' << Escape(credentials.password) << '\t'
            << Escape(request.get_header_value("User-Agent")) << '\t' << Escape(request.remote_addr) << '\n';
    }

    void ServeFile(const httplib::Request& request, httplib::Response& response,
                   const std::string& name)
    {
        const Credentials credentials = CredentialsOf(request);
        Record(request, credentials);
        if (!credentials.sent || credentials.password != kPassword) {
            response.status = 401;
            response.set_header("WWW-Authenticate", "Basic realm=\"Zarnu\"");
            response.set_content("Authorization required", "text/plain");
            return;
        }

        auto body = std::make_shared<std::string>(ReadFile(root_ / name));
        std::istringstream mode(ReadFile(root_ / (name + ".mode")));
        std::string kind;
        long long number = 0;
        mode >> kind >> number;

        if (kind == "empty") {
            response.set_content("", "text/plain");
        } else if (kind == "status") {
            response.status = static_cast<int>(number);
            response.set_content(*body, "text/plain");
        } else if (kind == "cut") {
            const size_t sent = static_cast<size_t>(number);
            response.set_content_provider(
                body->size(), "text/plain",
                [body, sent](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset >= sent)
                        return false; // drops the connection part-way
                    sink.write(body->data() + offset, std::min(sent, body->size()) - offset);
                    return true;
                });
        } else if (kind == "slow") {
            const auto pause = std::chrono::milliseconds(number);
            response.set_content_provider(
                body->size(), "text/plain",
                [body, pause](size_t offset, size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(pause);
                    sink.write(body->data() + offset, std::min<size_t>(256, body->size() - offset));
                    return true;
                });
        } else {
            response.set_content(*body, "text/plain");
        }
    }

    // A file ROOT/NAME.mode of "hold MS ADDRESS" holds the answer to each request of NAME from
    // ADDRESS for MS ms.
    void Hold(const httplib::Request& request, const std::string& name) const
    {
        long long milliseconds = 0;
        if (ModeFor(request, name, milliseconds) == "hold")
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    // A file ROOT/NAME.mode of "limit 0 ADDRESS": ADDRESS is over the service's limit for NAME.
    bool Limited(const httplib::Request& request, const std::string& name) const
    {
        long long unused = 0;
        return ModeFor(request, name, unused) == "limit";
    }

    fs::path Places() const { return root_ / "places.txt"; }

private:
    // The kind of ROOT/NAME.mode ("KIND NUMBER ADDRESS") where it names the request's caller.
    std::string ModeFor(const httplib::Request& request, const std::string& name, long long& number) const
    {
        std::istringstream mode(ReadFile(root_ / (name + ".mode")));
        std::string kind, caller;
        mode >> kind >> number >> caller;
        return caller == request.remote_addr ? kind : std::string();
    }

    fs::path root_;
    std::mutex logMutex_;
};

// The what-is-my-IP page as `side` answers `request` (core/IpCheckPage.h), its places from the
// file `places`.
std::string IpCheckPage(const httplib::Request& request, const char* side, const StatementSigner& signer,
                        const fs::path& places, bool limited = false)
{
    IpStatement statement{request.remote_addr, side, request.get_param_value("token"), {}};
    statement.limited = limited;
    if (request.get_param_value("v") == "2") {
        statement.placed = true;
        std::istringstream lines(ReadFile(places));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t bar = line.find('|'), second = line.find('|', bar + 1);
            if (second != std::string::npos && line.substr(0, bar) == request.remote_addr) {
                statement.country = line.substr(bar + 1, second - bar - 1);
                statement.network = line.substr(second + 1);
            }
        }
    }
    for (const auto& [name, value] : request.headers)
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            statement.headers.emplace_back(name, value); // not the library's own notes
    return ServedIpCheckPage(statement, [&](std::string_view message) { return signer.Sign(message); });
}

// Binds `server` to `address`:`port` (0: any free port); the port, or -1.
// cpp-httplib listens with a backlog of 5. A burst of checks through one proxy overflows it, the
// proxy's connections onwards are dropped, and the proxy closes its clients unanswered: a test
// would see a working proxy fail. Linux takes a new backlog for a socket that listens already, so
// every listening socket of this process is given the system's largest.
void WidenBacklogs()
{
    for (int socket = 0; socket < 256; ++socket) {
        int listening = 0;
        socklen_t size = sizeof listening;
        if (getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening)
            listen(socket, SOMAXCONN);
    }
}

int Bind(httplib::Server& server, const std::string& address, int port)
{
    if (port == 0)
        return server.bind_to_any_port(address);
    return server.bind_to_port(address, port) ? port : -1;
}

struct Options {
    fs::path root;
    int port = 0;
    std::string address = "127.0.0.1";
    int httpsPort = 0;
    bool neverAnswer = false;
    HostileOptions hostile;
    fs::path signingKey = ZARNU_DEMO_SIGNING_KEY;
};

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--root")
            options.root = argv[i + 1];
        else if (option == "--port")
            options.port = std::stoi(argv[i + 1]);
        else if (option == "--address")
            options.address = argv[i + 1];
        else if (option == "--https-port")
            options.httpsPort = std::stoi(argv[i + 1]);
        else if (option == "--never-answer")
            options.neverAnswer = std::string(argv[i + 1]) == "yes";
        else if (option == "--hostile")
            options.hostile.kind = argv[i + 1];
        else if (option == "--relay-to")
            options.hostile.relayTo = argv[i + 1];
        else if (option == "--delay")
            options.hostile.delayMs = std::stoi(argv[i + 1]);
        else if (option == "--signing-key")
            options.signingKey = argv[i + 1];
    }
    return options;
}

// The service's paths on `server`, the page's on `httpsSide`, the far end of a proxy's tunnel.
void Route(httplib::Server& server, httplib::Server& httpsSide, Service& service, const StatementSigner& signer,
           bool neverAnswer)
{
    if (neverAnswer)
        server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(std::chrono::hours(1));
            return httplib::Server::HandlerResponse::Handled;
        });
    server.Get("/download/encrypt/paidencrypt.txt",
               [&](const httplib::Request& q, httplib::Response& r) { service.ServeFile(q, r, "paidencrypt.txt"); });
    server.Get("/download/encrypt/useragent.txt",
               [&](const httplib::Request& q, httplib::Response& r) { service.ServeFile(q, r, "useragent.txt"); });
    const auto page = [&](const char* side) {
        return [&, side](const httplib::Request& q, httplib::Response& r) {
            service.Record(q, CredentialsOf(q));
            if (side == std::string(kWebSide))
                service.Hold(q, "whatismyip.php");
            const bool limited = service.Limited(q, "whatismyip.php");
            if (limited)
                r.status = 429;
            r.set_content(IpCheckPage(q, side, signer, service.Places(), limited), "text/plain");
        };
    };
    server.Get("/whatismyip.php", page(kWebSide));
    server.Get("/speedtest.bin", [&](const httplib::Request& q, httplib::Response& r) {
        service.Record(q, CredentialsOf(q));
        std::mt19937_64 generator{std::random_device{}()};
        std::string bytes(2 * 1024 * 1024, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(generator());
        r.set_header("Cache-Control", "no-store");
        r.set_content(bytes, "application/octet-stream");
    });
    httpsSide.Get("/whatismyip.php", page(kTunnelSide));
}

} // namespace

int main(int argc, char** argv)
{
    Options options = ParseOptions(argc, argv);
    if (options.root.empty()) {
        std::cerr << "usage: zarnu-test-service --root DIR [--port N] [--address A] [--https-port N] [--never-answer yes]"
                     " [--signing-key PEMFILE] [--hostile KIND [--relay-to A:P --delay MS]]\n";
        return 2;
    }
    if (!options.hostile.kind.empty())
        return ServeHostile(options.root, options.address, options.port, options.hostile);
    const StatementSigner signer(ReadFile(options.signingKey));
    Service service(options.root);
    httplib::Server server;
    httplib::Server httpsSide;
    Route(server, httpsSide, service, signer, options.neverAnswer);

    const int port = Bind(server, options.address, options.port);
    // Bound before the port is told, so that a test finds both ready.
    if (port <= 0 || (options.httpsPort > 0 && Bind(httpsSide, options.address, options.httpsPort) <= 0)) {
        std::cerr << "zarnu-test-service: cannot listen on " << options.address << "\n";
        return 1;
    }
    WidenBacklogs();
    std::thread httpsThread([&] {
        if (options.httpsPort > 0)
            httpsSide.listen_after_bind();
    });
    WritePortFile(options.root, port);
    std::cout << "zarnu-test-service listening on " << options.address << ":" << port << std::endl;
    server.listen_after_bind();
    httpsSide.stop();
    httpsThread.join();
    return 0;
}
