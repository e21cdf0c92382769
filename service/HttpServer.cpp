#include "HttpServer.h"

#include "Caller.h"
#include "ConnectionRoom.h"
#include "Log.h"

#include "core/IpCheckPage.h"
#include "core/ServiceUrl.h"

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>


namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

std::string RandomBytes(std::size_t count)
{
    std::mt19937_64 generator{std::random_device{}()};
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; i += 8) {
        const std::uint64_t word = generator();
        std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, count - i));
    }
    return bytes;
}

} // namespace

struct HttpServer::Shared {
    Shared(const ServiceConfig& config, const ServedFiles& files, const StatementSigner& signer,
           const GeoDatabase* countries, const GeoDatabase* networks)
        : config(config), files(files), signer(signer), countries(countries), networks(networks), callerRates(config.rateLimitPerMinute),
          accountRates(config.accountRateLimitPerMinute), failures(config.authFailuresPerMinute),
          accountFailures(config.authFailuresPerMinute),
          pages(config.pageRateLimitPerMinute), speedBytes(RandomBytes(2 * std::size_t{config.speedTestBytes})),
          rooms{ConnectionRoom(config.maxConnections, config.maxConnectionsPerCaller),
                ConnectionRoom(config.maxConnections, config.maxConnectionsPerCaller)}
    {
    }

    const ServiceConfig& config;
    const ServedFiles& files;
    const StatementSigner& signer;
    const GeoDatabase* countries;
    const GeoDatabase* networks;
    RateLimit callerRates, accountRates, failures, accountFailures, pages;
    // Random bytes twice the speed page's size: each page is a window of them from a random place.
    const std::string speedBytes;
    ConnectionRoom rooms[2]; // the web side's, the tunnel side's
    std::atomic<bool> stopping{false};
};

namespace {

constexpr std::uint64_t kMostBodyBytes = 1024;
// A chunk's size line with its extensions, and the room that reading takes beside the head and
// the body: a connection holds at most its head's bound and this.
constexpr std::size_t kMostChunkLineBytes = 1024;
// A request's head comes whole within this (or the request timeout, where that is shorter), from
// its first byte.
constexpr auto kMostHeadTime = std::chrono::seconds(5);
constexpr unsigned kMostRequestsPerConnection = 1000;
constexpr std::size_t kMostAccountBytes = 256;
constexpr auto kFailureDelay = std::chrono::seconds(1);
constexpr const char* kListPath = ProxyListPath;
constexpr const char* kAgentPath = AgentListPath;
constexpr const char* kPagePath = IpCheckPagePath;
constexpr const char* kSpeedPath = SpeedPagePath;

using Request = http::request<http::string_body>;
// An answer's body is a view of text that the connection holds while it writes: its own, or the
// served version's (a list is sent without a copy of it).
using Response = http::response<http::span_body<const char>>;

// The value of the query parameter `name` of `target`; nullopt where it has none.
std::optional<std::string> QueryValue(std::string_view target, std::string_view name)
{
    const std::size_t query = target.find('?');
    if (query == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = target.substr(query + 1);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        if (pair.substr(0, name.size()) == name && pair.size() > name.size() && pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
    return std::nullopt;
}

// One connection: requests read one after the other, each within the request timeout.
// The values of every `name` field of `request`, in order.
std::vector<std::string_view> Lines(const Request& request, std::string_view name)
{
    std::vector<std::string_view> lines;
    for (auto [field, end] = request.equal_range(beast::string_view(name.data(), name.size())); field != end; ++field)
        lines.emplace_back(field->value().data(), field->value().size());
    return lines;
}

class Connection : public ReclaimableConnection, public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<HttpServer::Shared> shared, bool tunnelSide, std::string peer,
               std::unique_ptr<ConnectionRoom::Place> place)
        : stream_(std::move(socket)), shared_(std::move(shared)), tunnelSide_(tunnelSide), peer_(std::move(peer)),
          caller_(peer_), place_(std::move(place)), delay_(stream_.get_executor()),
          buffer_(shared_->config.maxHeaderBytes + kMostBodyBytes + kMostChunkLineBytes)
    {
    }

    void ReadRequest()
    {
        // Once the service stops, a connection's first request (queued when it stopped) is still
        // answered; no next one is waited for.
        if ((shared_->stopping && requests_ > 0) || requests_ >= kMostRequestsPerConnection)
            return Close();
        parser_.emplace();
        parser_->header_limit(shared_->config.maxHeaderBytes);
        parser_->body_limit(kMostBodyBytes);
        // Until its head is whole, the connection is the room's to reclaim.
        waiting_ = true;
        place_->Waiting(weak_from_this());
        if (buffer_.size() > 0) // the next request came with the last one
            return ReadRest();
        // Idle until the first byte: waited for without reading it.
        delay_.expires_after(std::chrono::seconds(shared_->config.idleTimeoutSeconds));
        delay_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error && self->waiting_ && !self->reading_)
                self->Close();
        });
        stream_.socket().async_wait(tcp::socket::wait_read,
                                    [self = shared_from_this()](beast::error_code error) { self->Readable(error); });
    }

    void Reclaim() override
    {
        asio::post(stream_.get_executor(), [self = shared_from_this()] {
            if (self->waiting_)
                self->Close();
            else // its request's head has come
                self->place_->Spared();
        });
    }

private:
    void Readable(beast::error_code error)
    {
        delay_.cancel();
        if (error) // closed for room, idle too long, or the service stops: there was no request
            return;
        ReadRest();
    }

    void ReadRest()
    {
        reading_ = true;
        started_ = std::chrono::steady_clock::now();
        const auto whole = std::chrono::seconds(shared_->config.requestTimeoutSeconds);
        stream_.expires_after(std::min<std::chrono::steady_clock::duration>(whole, kMostHeadTime));
        http::async_read_header(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            self->waiting_ = false;
            self->reading_ = false;
            self->place_->Busy();
            if (error || self->parser_->is_done())
                return self->RequestRead(error);
            self->stream_.expires_at(self->started_ + std::chrono::seconds(self->shared_->config.requestTimeoutSeconds));
            http::async_read(self->stream_, self->buffer_, *self->parser_,
                             [self](beast::error_code error, std::size_t) { self->RequestRead(error); });
        });
    }

    void RequestRead(beast::error_code error)
    {
        ++requests_;
        if (parser_->is_header_done()) {
            method_ = std::string(parser_->get().method_string());
            path_ = std::string(parser_->get().target());
        }
        if (error == http::error::header_limit)
            return Answer(Refusal(431, "Request header fields too large"), false);
        if (error == http::error::body_limit || (error == http::error::buffer_overflow && parser_->is_header_done()))
            return Answer(Refusal(413, "Payload too large"), false); // a body, a chunk's line or a trailer too long
        if (error == http::error::buffer_overflow)
            return Answer(Refusal(431, "Request header fields too large"), false);
        if (error == beast::error::timeout)
            return LogRequest(408, 0); // the deadline closed the connection
        if (error == asio::error::operation_aborted || error == http::error::end_of_stream)
            return; // closed, or the peer went before a request
        if (error && (error == http::error::partial_message ||
                      error.category() != beast::error_code(http::error::bad_target).category()))
            return LogRequest(400, 0); // the peer went in the middle of its request
        if (error)
            return Answer(Refusal(400, "Bad request"), false);
        const Request& request = parser_->get();
        caller_ = RequestCaller(peer_, Lines(request, "X-Forwarded-For"), Lines(request, "Forwarded"),
                                shared_->config.trustedProxies);
        Answer(Respond(request), request.keep_alive());
    }

    Response Plain(unsigned status, const std::string& text)
    {
        Response response{static_cast<http::status>(status), 11};
        response.set(http::field::content_type, "text/plain");
        ownBody_ = text + "\n";
        response.body() = {ownBody_.data(), ownBody_.size()};
        return response;
    }

    // An error's answer: it counts toward the caller's limit of pages, beyond which it is 429.
    Response Refusal(unsigned status, const std::string& text)
    {
        return shared_->pages.Take(CallerKey(caller_)) ? Plain(status, text) : TooMany();
    }

    Response TooMany()
    {
        Response response = Plain(429, "Too many requests");
        response.set(http::field::retry_after, "60");
        return response;
    }

    // The page over the caller's limit: said, and signed for the check's token where the request
    // names one, so that the check knows the proxy carried it (a proxy's exit address is shared
    // by all its users); nothing more is stated.
    Response LimitedPage()
    {
        IpStatement statement{caller_, tunnelSide_ ? kTunnelSide : kWebSide, QueryValue(path_, "token").value_or(""), {}};
        statement.limited = true;
        std::string page = ServedIpCheckPage(statement, [&](std::string_view message) { return shared_->signer.Sign(message); });
        Response response = TooMany();
        if (!page.empty()) {
            ownBody_ = std::move(page);
            response.body() = {ownBody_.data(), ownBody_.size()};
            response.set(http::field::cache_control, "no-store");
        }
        return response;
    }

    Response Respond(const Request& request)
    {
        const std::string path = path_.substr(0, path_.find('?'));
        const bool list = !tunnelSide_ && (path == kListPath || path == kAgentPath);
        const bool speed = !tunnelSide_ && path == kSpeedPath && shared_->config.speedTestBytes > 0;
        if (!list && !speed && path != kPagePath)
            return Refusal(404, "Not found");
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            Response response = Refusal(405, "Method not allowed");
            if (response.result_int() == 405)
                response.set(http::field::allow, "GET, HEAD");
            return response;
        }
        const std::string caller = CallerKey(caller_);
        if (speed)
            return shared_->pages.Take(caller) ? SpeedPage() : TooMany();
        if (!list)
            return shared_->pages.Take(caller) ? Page(request) : LimitedPage();
        if (!shared_->callerRates.Take(caller))
            return TooMany();
        if (!shared_->failures.CanTake(caller)) {
            delayed_ = true; // guessing costs time as well
            return TooMany();
        }
        const auto version = shared_->files.Current();
        const auto credentials = ReadBasicAuthorization(std::string(request[http::field::authorization]));
        if (credentials)
            account_ = credentials->user;
        // An account that many have failed for: every try for it is slowed, and a caller that has
        // failed lately learns nothing more; one that has not gets its answer, late.
        if (credentials && credentials->user.size() <= kMostAccountBytes &&
            !shared_->accountFailures.CanTake(credentials->user)) {
            delayed_ = true;
            if (!shared_->failures.Untouched(caller))
                return TooMany();
        }
        if (!credentials || credentials->password != ServicePassword || credentials->user.size() > kMostAccountBytes ||
            (version->accounts && !version->accounts->count(credentials->user))) {
            shared_->failures.Take(caller);
            if (credentials && credentials->user.size() <= kMostAccountBytes)
                shared_->accountFailures.Take(credentials->user);
            Response response = Plain(401, "Authorization required");
            response.set(http::field::www_authenticate, "Basic realm=\"Zarnu\"");
            return response;
        }
        if (!shared_->accountRates.Take(credentials->user))
            return TooMany();
        Response response{http::status::ok, 11};
        response.set(http::field::content_type, "text/plain");
        served_ = version;
        const std::string& body = path == kListPath ? version->encodedList : version->userAgents;
        response.body() = {body.data(), body.size()};
        return response;
    }

    Response Page(const Request& request)
    {
        IpStatement statement{caller_, tunnelSide_ ? kTunnelSide : kWebSide, {}, {}};
        statement.token = QueryValue(path_, "token").value_or("");
        // Where the caller is, for programs that ask (older ones know no such lines).
        if (QueryValue(path_, "v") == std::optional<std::string>("2")) {
            statement.placed = true;
            if (shared_->countries)
                statement.country = shared_->countries->CountryCodeAndName(caller_);
            if (shared_->networks)
                statement.network = shared_->networks->Network(caller_);
        }
        for (const auto& field : request)
            statement.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        Response response{http::status::ok, 11};
        response.set(http::field::content_type, "text/plain");
        response.set(http::field::cache_control, "no-store");
        ownBody_ = ServedIpCheckPage(statement, [&](std::string_view message) { return shared_->signer.Sign(message); });
        response.body() = {ownBody_.data(), ownBody_.size()};
        return response;
    }

    // The speed page: bytes fresh to every request, never to be stored.
    Response SpeedPage()
    {
        const std::size_t size = shared_->config.speedTestBytes;
        thread_local std::mt19937_64 generator{std::random_device{}()};
        const std::size_t from = std::uniform_int_distribution<std::size_t>(0, size)(generator);
        Response response{http::status::ok, 11};
        response.set(http::field::content_type, "application/octet-stream");
        response.set(http::field::cache_control, "no-store");
        response.body() = {shared_->speedBytes.data() + from, size};
        return response;
    }

    void Answer(Response response, bool keepAlive)
    {
        const bool head = method_ == "HEAD";
        response.keep_alive(keepAlive && !shared_->stopping && requests_ < kMostRequestsPerConnection);
        response.prepare_payload();
        response_ = std::make_shared<Response>(std::move(response));
        if (delayed_) {
            delayed_ = false;
            delay_.expires_after(kFailureDelay);
            delay_.async_wait([self = shared_from_this(), head](beast::error_code) { self->Write(head); });
            return;
        }
        Write(head);
    }

    void Write(bool head)
    {
        stream_.expires_after(std::chrono::seconds(shared_->config.requestTimeoutSeconds));
        serializer_.emplace(*response_);
        if (head) { // a HEAD answer is its header alone
            http::async_write_header(stream_, *serializer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
                self->Written(error, 0);
            });
            return;
        }
        // In one write; the log counts the body's bytes that reached the caller.
        http::async_write(stream_, *serializer_, [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
            self->Written(error, error ? BodyPart(bytes, *self->response_) : self->response_->body().size());
        });
    }

    // What of `written` bytes of `response` was its body.
    static std::size_t BodyPart(std::size_t written, const Response& response)
    {
        std::ostringstream header;
        header << response.base();
        const std::size_t headerBytes = header.str().size();
        return written > headerBytes ? written - headerBytes : 0;
    }

    void LogRequest(unsigned status, std::size_t bytes) const
    {
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_).count();
        LogLine(LogField(caller_) + " " + (account_ ? LogField(*account_) : "-") + " " +
                (method_.empty() ? "-" : LogField(method_)) + " " + (path_.empty() ? "-" : LogField(path_)) + " " +
                std::to_string(status) + " " + std::to_string(bytes) + " " + std::to_string(milliseconds) + "ms" +
                (tunnelSide_ ? " tunnel" : ""));
    }

    void Written(beast::error_code error, std::size_t bytes)
    {
        LogRequest(response_->result_int(), bytes);
        const bool again = !error && response_->keep_alive() && !shared_->stopping;
        response_.reset();
        serializer_.reset();
        served_.reset();
        account_.reset();
        method_.clear();
        path_.clear();
        if (again)
            return ReadRequest();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    void Close()
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    std::shared_ptr<HttpServer::Shared> shared_;
    bool tunnelSide_;
    std::string peer_;   // the connection's far end
    std::string caller_; // the request's: the peer, or whom a trusted proxy names
    std::unique_ptr<ConnectionRoom::Place> place_;
    asio::steady_timer delay_;
    bool delayed_ = false;
    bool waiting_ = false; // for a request or its head: the room may reclaim it
    bool reading_ = false; // its request's first byte has come
    unsigned requests_ = 0;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<Response> response_;
    std::optional<http::response_serializer<http::span_body<const char>>> serializer_;
    std::string ownBody_;
    std::shared_ptr<const ServedVersion> served_;
    std::chrono::steady_clock::time_point started_;
    std::string method_, path_;
    std::optional<std::string> account_;
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
                       const StatementSigner& signer, const GeoDatabase* countries, const GeoDatabase* networks)
    : io_(io), shared_(std::make_shared<Shared>(config, files, signer, countries, networks)),
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
    if (auto& newcomer = newcomers_[side]) {
        // Accepted while room could be made, but by then every connection was busy: it waits
        // for one to end, and no other is accepted meanwhile.
        if (!Admit(side, *newcomer))
            return AcceptLater(side, std::chrono::milliseconds(10));
        newcomer.reset();
    }
    if (!shared_->rooms[side].CanAdmit()) {
        // Full of connections busy with their requests: newcomers wait to be accepted until one ends.
        acceptors_[side].async_wait(tcp::acceptor::wait_read, [this, side](beast::error_code error) {
            if (!error && !shared_->stopping)
                AcceptLater(side, std::chrono::milliseconds(10));
        });
        return;
    }
    acceptors_[side].async_accept(asio::make_strand(io_), [this, side](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || shared_->stopping)
            return; // closed: the server stops
        if (error) // out of descriptors, say: try again in a moment
            return AcceptLater(side, std::chrono::milliseconds(100));
        beast::error_code unknown;
        const std::string peer = CallerText(socket.remote_endpoint(unknown).address());
        if (unknown) // gone already
            return Accept(side);
        Newcomer newcomer{std::move(socket), peer};
        if (!Admit(side, newcomer))
            newcomers_[side].emplace(std::move(newcomer));
        Accept(side);
    });
}

bool HttpServer::Admit(std::size_t side, Newcomer& newcomer)
{
    bool full = false;
    const bool trusted = InNetworks(newcomer.peer, shared_->config.trustedProxies);
    auto place = shared_->rooms[side].Enter(CallerKeys(newcomer.peer), trusted, full);
    if (place)
        std::make_shared<Connection>(std::move(newcomer.socket), shared_, side == 1, newcomer.peer, std::move(place))
            ->ReadRequest();
    // else where the room is not full: the caller has its share of connections, and this one is
    // closed at once
    return !full;
}

void HttpServer::AcceptLater(std::size_t side, std::chrono::milliseconds wait)
{
    resumeTimers_[side].expires_after(wait);
    resumeTimers_[side].async_wait([this, side](beast::error_code error) {
        if (!error)
            Accept(side);
    });
}

void HttpServer::Stop()
{
    asio::post(io_, [this] {
        shared_->stopping = true;
        for (ConnectionRoom& room : shared_->rooms)
            room.ReclaimAll(); // idle, or their heads not whole: they end at once
        for (std::size_t side = 0; side < acceptors_.size(); ++side) {
            AnswerQueued(side);
            beast::error_code ignored;
            acceptors_[side].close(ignored);
        }
        for (asio::steady_timer& timer : resumeTimers_)
            timer.cancel();
        AwaitQuiet(std::chrono::steady_clock::now() + std::chrono::seconds(shared_->config.shutdownGraceSeconds));
    });
}

void HttpServer::AnswerQueued(std::size_t side)
{
    std::vector<Newcomer> queued;
    if (newcomers_[side])
        queued.push_back(std::move(*newcomers_[side]));
    newcomers_[side].reset();
    beast::error_code error;
    acceptors_[side].non_blocking(true, error);
    for (;;) {
        tcp::socket socket(asio::make_strand(io_));
        acceptors_[side].accept(socket, error);
        if (error)
            break;
        const std::string peer = CallerText(socket.remote_endpoint(error).address());
        if (!error)
            queued.push_back(Newcomer{std::move(socket), peer});
    }
    for (Newcomer& newcomer : queued) {
        beast::error_code unknown;
        if (newcomer.socket.available(unknown) == 0 || unknown)
            continue; // it has asked nothing yet: closed
        std::make_shared<Connection>(std::move(newcomer.socket), shared_, side == 1, newcomer.peer,
                                     shared_->rooms[side].EnterRegardless(CallerKeys(newcomer.peer)))
            ->ReadRequest();
    }
}

void HttpServer::AwaitQuiet(std::chrono::steady_clock::time_point deadline)
{
    // Every connection gone, or the grace time over: what is still in flight is cut.
    if (shared_->rooms[0].Open() + shared_->rooms[1].Open() == 0 || std::chrono::steady_clock::now() >= deadline) {
        io_.stop();
        return;
    }
    graceTimer_.expires_after(std::chrono::milliseconds(50));
    graceTimer_.async_wait([this, deadline](beast::error_code error) {
        if (!error)
            AwaitQuiet(deadline);
    });
}
