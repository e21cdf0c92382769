#include "HttpServer.h"

#include "Log.h"

#include "core/IpCheckPage.h"
#include "core/ServiceUrl.h"

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>


namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct HttpServer::Shared {
    Shared(const ServiceConfig& config, const ServedFiles& files, const StatementSigner& signer)
        : config(config), files(files), signer(signer), rates(config.rateLimitPerMinute)
    {
    }

    const ServiceConfig& config;
    const ServedFiles& files;
    const StatementSigner& signer;
    RateLimit rates;
    std::atomic<unsigned> connections{0};
    std::atomic<bool> stopping{false};
};

namespace {

constexpr std::uint64_t kMostBodyBytes = 1024;
constexpr const char* kListPath = ProxyListPath;
constexpr const char* kAgentPath = AgentListPath;
constexpr const char* kPagePath = IpCheckPagePath;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// One connection: requests read one after the other, each within the request timeout.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<HttpServer::Shared> shared, bool tunnelSide)
        : stream_(std::move(socket)), shared_(std::move(shared)), tunnelSide_(tunnelSide)
    {
        beast::error_code error;
        const asio::ip::address remote = stream_.socket().remote_endpoint(error).address();
        const bool mapped = !error && remote.is_v6() && remote.to_v6().is_v4_mapped();
        caller_ = error ? "-" : mapped ? remote.to_v6().to_v4().to_string() : remote.to_string();
    }
    ~Connection() { --shared_->connections; }

    void ReadRequest()
    {
        parser_.emplace();
        parser_->header_limit(shared_->config.maxHeaderBytes);
        parser_->body_limit(kMostBodyBytes);
        stream_.expires_after(std::chrono::seconds(shared_->config.requestTimeoutSeconds));
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) { self->RequestRead(error); });
    }

private:
    void RequestRead(beast::error_code error)
    {
        started_ = std::chrono::steady_clock::now();
        if (error == http::error::header_limit)
            return Answer(Plain(431, "Request header fields too large"), false);
        if (error == http::error::body_limit)
            return Answer(Plain(413, "Payload too large"), false);
        if (error) // the peer went, or was too slow (the deadline closed the connection)
            return;
        const Request& request = parser_->get();
        Answer(Respond(request), request.keep_alive());
    }

    Response Plain(unsigned status, const std::string& text) const
    {
        Response response{static_cast<http::status>(status), 11};
        response.set(http::field::content_type, "text/plain");
        response.body() = text + "\n";
        return response;
    }

    Response Respond(const Request& request)
    {
        method_ = std::string(request.method_string());
        path_ = std::string(request.target());
        const std::string path = path_.substr(0, path_.find('?'));
        const bool list = !tunnelSide_ && (path == kListPath || path == kAgentPath);
        if (!list && path != kPagePath)
            return Plain(404, "Not found");
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            Response response = Plain(405, "Method not allowed");
            response.set(http::field::allow, "GET, HEAD");
            return response;
        }
        if (!list)
            return Page(request);
        const auto version = shared_->files.Current();
        const auto credentials = ReadBasicAuthorization(std::string(request[http::field::authorization]));
        if (credentials)
            account_ = credentials->user;
        if (!credentials || credentials->password != ServicePassword ||
            (version->accounts && !version->accounts->count(credentials->user))) {
            Response response = Plain(401, "Authorization required");
            response.set(http::field::www_authenticate, "Basic realm=\"Zarnu\"");
            return response;
        }
        if (!shared_->rates.Take("account " + credentials->user) || !shared_->rates.Take("caller " + caller_)) {
            Response response = Plain(429, "Too many requests");
            response.set(http::field::retry_after, "60");
            return response;
        }
        Response response{http::status::ok, 11};
        response.set(http::field::content_type, "text/plain");
        response.body() = path == kListPath ? version->encodedList : version->userAgents;
        return response;
    }

    Response Page(const Request& request) const
    {
        IpStatement statement{caller_, tunnelSide_ ? kTunnelSide : kWebSide, {}, {}};
        const std::string target(request.target());
        const std::size_t token = target.find("token=");
        if (token != std::string::npos)
            statement.token = target.substr(token + 6, target.find('&', token) - token - 6);
        for (const auto& field : request)
            statement.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        Response response{http::status::ok, 11};
        response.set(http::field::content_type, "text/plain");
        response.set(http::field::cache_control, "no-store");
        response.body() =
            ServedIpCheckPage(statement, [&](std::string_view message) { return shared_->signer.Sign(message); });
        return response;
    }

    void Answer(Response response, bool keepAlive)
    {
        const bool head = method_ == "HEAD";
        response.keep_alive(keepAlive && !shared_->stopping);
        response.prepare_payload();
        bytes_ = head ? 0 : response.body().size();
        if (head)
            response.body().clear(); // the length stays announced
        response_ = std::make_shared<Response>(std::move(response));
        stream_.expires_after(std::chrono::seconds(shared_->config.requestTimeoutSeconds));
        if (head) {
            serializer_.emplace(*response_);
            http::async_write_header(stream_, *serializer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
                self->Written(error);
            });
            return;
        }
        http::async_write(stream_, *response_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) { self->Written(error); });
    }

    void Written(beast::error_code error)
    {
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_).count();
        LogLine(caller_ + " " + (account_.empty() ? "-" : account_) + " " + method_ + " " + path_ + " " +
                std::to_string(response_->result_int()) + " " + std::to_string(bytes_) + " " +
                std::to_string(milliseconds) + "ms" + (tunnelSide_ ? " tunnel" : ""));
        const bool again = !error && response_->keep_alive() && !shared_->stopping;
        response_.reset();
        serializer_.reset();
        account_.clear();
        if (again)
            return ReadRequest();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream stream_;
    std::shared_ptr<HttpServer::Shared> shared_;
    bool tunnelSide_;
    std::string caller_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<Response> response_;
    std::optional<http::response_serializer<http::string_body>> serializer_;
    std::chrono::steady_clock::time_point started_;
    std::string method_, path_, account_;
    std::size_t bytes_ = 0;
};

tcp::acceptor Listening(asio::io_context& io, const std::string& address, unsigned short port)
{
    beast::error_code error;
    const auto ip = asio::ip::make_address(address, error);
    if (error)
        throw std::runtime_error("cannot listen on '" + address + "': no address");
    tcp::acceptor acceptor(io);
    const tcp::endpoint endpoint(ip, port);
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " + error.message());
    return acceptor;
}

} // namespace

HttpServer::HttpServer(asio::io_context& io, const ServiceConfig& config, const ServedFiles& files,
                       const StatementSigner& signer)
    : io_(io), shared_(std::make_shared<Shared>(config, files, signer)),
      graceTimer_(io)
{
    acceptors_.push_back(Listening(io, config.listenAddress, config.listenPort));
    if (config.tunnelPort != 0)
        acceptors_.push_back(Listening(io, config.listenAddress, config.tunnelPort));
    for (std::size_t side = 0; side < acceptors_.size(); ++side)
        resumeTimers_.emplace_back(io);
}

unsigned short HttpServer::Port() const
{
    return acceptors_.front().local_endpoint().port();
}

void HttpServer::Start()
{
    for (std::size_t side = 0; side < acceptors_.size(); ++side)
        Accept(side);
}

void HttpServer::Accept(std::size_t side)
{
    if (shared_->stopping)
        return;
    if (shared_->connections >= shared_->config.maxConnections) {
        // The rest wait to be accepted until a connection ends.
        resumeTimers_[side].expires_after(std::chrono::milliseconds(10));
        resumeTimers_[side].async_wait([this, side](beast::error_code error) {
            if (!error)
                Accept(side);
        });
        return;
    }
    acceptors_[side].async_accept(asio::make_strand(io_), [this, side](beast::error_code error, tcp::socket socket) {
        if (error)
            return; // closed: the server stops
        ++shared_->connections;
        std::make_shared<Connection>(std::move(socket), shared_, side == 1)->ReadRequest();
        Accept(side);
    });
}

void HttpServer::Stop()
{
    asio::post(io_, [this] {
        shared_->stopping = true;
        for (tcp::acceptor& acceptor : acceptors_) {
            beast::error_code ignored;
            acceptor.close(ignored);
        }
        for (asio::steady_timer& timer : resumeTimers_)
            timer.cancel();
        AwaitQuiet(std::chrono::steady_clock::now() + std::chrono::seconds(shared_->config.shutdownGraceSeconds));
    });
}

void HttpServer::AwaitQuiet(std::chrono::steady_clock::time_point deadline)
{
    // Every connection gone, or the grace time over: what is still in flight is cut.
    if (shared_->connections == 0 || std::chrono::steady_clock::now() >= deadline) {
        io_.stop();
        return;
    }
    graceTimer_.expires_after(std::chrono::milliseconds(50));
    graceTimer_.async_wait([this, deadline](beast::error_code error) {
        if (!error)
            AwaitQuiet(deadline);
    });
}
