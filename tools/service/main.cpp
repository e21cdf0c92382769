// The Zarnu service as the tests and the demo need it: the two list files and the
// what-is-my-IP page, on 127.0.0.1, behind HTTP Basic authentication.
//
//   zarnu-service --root DIR [--port N] [--address A] [--https-port N] [--never-answer yes]
//                 [--hostile drip|redirect|binary|huge]
//
// Serves DIR/paidencrypt.txt and DIR/useragent.txt under /download/encrypt/, and at
// /whatismyip.php what a site sees of its caller: "REMOTE_ADDR = a.b.c.d", then every request
// header as a server variable ("HTTP_VIA = ..."), one per line. Listens on A
// (127.0.0.1 by default), writes the port to DIR/port and appends one line per request to
// DIR/requests.log:
//   path TAB credentials-sent(0/1) TAB user TAB password TAB user-agent TAB caller's address
// (tab, line feed and backslash escaped as \t \n \\). A file DIR/NAME.mode changes how NAME is
// answered: "empty" (no body), "status CODE" (that status, the file as body), "cut N" (the full
// length announced, N bytes sent, connection dropped), "slow MS" (256 bytes every MS ms).
// --https-port N also listens on A:N (443 for the HTTPS side of a proxy's tunnel), accepting and
// answering like the rest. --never-answer makes it accept every connection and answer none, as
// a server that hangs. --hostile makes it a proxy with a hostile answer to every request
// (nothing else is served): "drip", "HTTP/1.1 200 OK" and a header that never ends, one byte
// every 250 ms; "redirect", a 302 whose body is a good page; "binary", a good page with NUL
// bytes; "huge", a good page repeated for 64 MB.
// It runs until it is ended by a signal.

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
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

std::string Base64Decode(const std::string& text)
{
    std::string decoded;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* found = c ? std::strchr(alphabet, c) : nullptr;
        if (!found)
            break; // "=" padding or the end of the value
        buffer = (buffer << 6) | static_cast<unsigned>(found - alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            decoded += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return decoded;
}

struct Credentials {
    bool sent = false;
    std::string user;
    std::string password;
};

Credentials BasicCredentials(const httplib::Request& request)
{
    Credentials credentials;
    const std::string header = request.get_header_value("Authorization");
    if (header.rfind("Basic ", 0) != 0)
        return credentials;
    const std::string plain = Base64Decode(header.substr(6));
    const size_t colon = plain.find(':');
    credentials.sent = true;
    credentials.user = plain.substr(0, colon);
    if (colon != std::string::npos)
        credentials.password = plain.substr(colon + 1);
    return credentials;
}

void WritePortFile(const fs::path& root, int port)
{
    // Written whole, then renamed, so a reader never sees half a number.
    std::ofstream(root / "port.tmp") << port << '\n';
    fs::rename(root / "port.tmp", root / "port");
}

// One hostile answer of --hostile, to whatever the caller asked.
void AnswerHostile(int connection, const std::string& kind)
{
    char request[8192];
    timeval wait{1, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    recv(connection, request, sizeof request, 0); // read, so that closing does not reset the answer
    const std::string page = "REMOTE_ADDR = 127.0.0.1\n";
    const auto sendAll = [connection](const std::string& bytes) {
        return send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    };
    if (kind == "drip") {
        const std::string start = "HTTP/1.1 200 OK\r\nX-Drip: ";
        for (std::size_t sent = 0; sendAll(std::string(1, sent < start.size() ? start[sent] : 'x')); ++sent)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    } else if (kind == "redirect" || kind == "binary") {
        const std::string body = kind == "binary" ? page + std::string("\0\1\2\3", 4) + page : page;
        sendAll(std::string(kind == "binary" ? "HTTP/1.1 200 OK" : "HTTP/1.1 302 Found\r\nLocation: /") +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    } else if (kind == "huge") {
        const std::size_t size = 64u << 20;
        std::string block;
        while (block.size() < 64 * 1024)
            block += page;
        if (sendAll("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size / block.size() * block.size()) +
                    "\r\nConnection: close\r\n\r\n"))
            for (std::size_t sent = 0; sent + block.size() <= size && sendAll(block); sent += block.size()) {
            }
    }
    shutdown(connection, SHUT_WR);
    while (recv(connection, request, sizeof request, 0) > 0) {
    }
    close(connection);
}

int ServeHostile(const fs::path& root, const std::string& address, int port, const std::string& kind)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof local;
    if (listener < 0 || inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        std::cerr << "zarnu-service: cannot listen on " << address << "\n";
        return 1;
    }
    WritePortFile(root, ntohs(local.sin_port));
    for (;;) {
        const int connection = accept(listener, nullptr, nullptr);
        if (connection >= 0)
            std::thread(AnswerHostile, connection, kind).detach();
    }
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
        const Credentials credentials = BasicCredentials(request);
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

private:
    fs::path root_;
    std::mutex logMutex_;
};

} // namespace

int main(int argc, char** argv)
{
    fs::path root;
    int port = 0;
    std::string address = "127.0.0.1";
    int httpsPort = 0;
    bool neverAnswer = false;
    std::string hostile;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--root")
            root = argv[i + 1];
        else if (option == "--port")
            port = std::stoi(argv[i + 1]);
        else if (option == "--address")
            address = argv[i + 1];
        else if (option == "--https-port")
            httpsPort = std::stoi(argv[i + 1]);
        else if (option == "--never-answer")
            neverAnswer = std::string(argv[i + 1]) == "yes";
        else if (option == "--hostile")
            hostile = argv[i + 1];
    }
    if (root.empty()) {
        std::cerr << "usage: zarnu-service --root DIR [--port N] [--address A] [--https-port N] [--never-answer yes]"
                     " [--hostile drip|redirect|binary|huge]\n";
        return 2;
    }
    if (!hostile.empty())
        return ServeHostile(root, address, port, hostile);

    Service service(root);
    httplib::Server server;
    if (neverAnswer)
        server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(std::chrono::hours(1));
            return httplib::Server::HandlerResponse::Handled;
        });
    server.Get("/download/encrypt/paidencrypt.txt",
               [&](const httplib::Request& q, httplib::Response& r) { service.ServeFile(q, r, "paidencrypt.txt"); });
    server.Get("/download/encrypt/useragent.txt",
               [&](const httplib::Request& q, httplib::Response& r) { service.ServeFile(q, r, "useragent.txt"); });
    // What a site sees of its caller, in the server variables' spelling, one per line.
    server.Get("/whatismyip.php", [&](const httplib::Request& q, httplib::Response& r) {
        service.Record(q, BasicCredentials(q));
        std::string page = "REMOTE_ADDR = " + q.remote_addr + "\n";
        for (const auto& [name, value] : q.headers) {
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
                continue; // the library's own notes, not the request's headers
            std::string variable = "HTTP_";
            for (const char c : name)
                variable += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            page += variable + " = " + value + "\n";
        }
        r.set_content(page, "text/plain");
    });

    if (port == 0)
        port = server.bind_to_any_port(address);
    else if (!server.bind_to_port(address, port))
        port = -1;
    if (port <= 0) {
        std::cerr << "zarnu-service: cannot listen on " << address << "\n";
        return 1;
    }

    // The far end of a tunnel to the HTTPS port: only its accepting counts. Bound before the
    // port is told, so that a test finds both ready.
    httplib::Server httpsSide;
    if (httpsPort > 0 && !httpsSide.bind_to_port(address, httpsPort)) {
        std::cerr << "zarnu-service: cannot listen on " << address << ":" << httpsPort << "\n";
        return 1;
    }
    std::thread httpsThread([&] {
        if (httpsPort > 0)
            httpsSide.listen_after_bind();
    });

    WritePortFile(root, port);
    std::cout << "zarnu-service listening on " << address << ":" << port << std::endl;
    server.listen_after_bind();
    httpsSide.stop();
    httpsThread.join();
    return 0;
}
