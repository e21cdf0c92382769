#pragma once
// The service's HTTP side (Boost.Beast over Asio): the two lists behind HTTP Basic
// authentication (the account as the user name, the program's fixed password), the
// what-is-my-IP page, and the far end of the proxies' tunnels, which serves only that page.
//
// Its manners: one log line a request (time, caller, account, method and path, status, the body's
// bytes that reached the caller, milliseconds; never the password; each field escaped, see
// LogField), malformed (400) and timed-out (408) ones included; a request's first byte must come
// within the idle timeout, its head within 5 s of that and the whole request within the request
// timeout, or the connection is closed; its line and headers within max_header_bytes (431), a
// body of at most 1 KB and a chunk's line or trailer of at most about 1 KB (413); at most 1000
// requests a connection. Connections: each side has its own room (ConnectionRoom). List downloads
// are limited per caller, then per account (429, which takes nothing from the account), failed
// authentications per caller (429, answered a second late) and per account (every try late),
// pages and error answers per caller. Unknown paths (path tricks among them: paths are matched as
// sent, never decoded) 404; methods other than GET and HEAD 405. Stop closes the idle and
// half-sent connections at once, answers those the system had queued, and ends after the
// requests in flight, within a grace time.

#include "Config.h"
#include "GeoDatabase.h"
#include "RateLimit.h"
#include "ServedFiles.h"
#include "StatementSigner.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HttpServer {
public:
    // Binds the web side and the tunnel's side. `countries` and `networks` (either may be null)
    // place the callers in the page's statements. Raises std::runtime_error when it cannot bind.
    HttpServer(boost::asio::io_context& io, const ServiceConfig& config, const ServedFiles& files,
               const StatementSigner& signer, const GeoDatabase* countries, const GeoDatabase* networks);

    // The web side's port (the one bound, where the configuration asked for any).
    unsigned short Port() const;
    // Starts accepting.
    void Start();
    // Accepts no more; the requests in flight end, or are cut after the grace time. Any thread.
    void Stop();

    struct Shared; // what the connections share with the server

private:
    struct Newcomer {
        boost::asio::ip::tcp::socket socket;
        std::string peer;
    };

    void Accept(std::size_t side);
    // Gives `newcomer` its place, or closes it where its caller has its share; false, with it
    // kept, where the room is full and none of its connections waits.
    bool Admit(std::size_t side, Newcomer& newcomer);
    void AcceptLater(std::size_t side, std::chrono::milliseconds wait);
    // The service stops: the connections that the system had queued for `side`, and that have
    // sent something, are answered their first request; the rest are closed.
    void AnswerQueued(std::size_t side);
    void AwaitQuiet(std::chrono::steady_clock::time_point deadline);

    boost::asio::io_context& io_;
    std::shared_ptr<Shared> shared_;
    std::vector<boost::asio::ip::tcp::acceptor> acceptors_; // web, then the tunnel's
    boost::asio::steady_timer graceTimer_;
    std::vector<boost::asio::steady_timer> resumeTimers_; // a side's, while it waits for room
    std::optional<Newcomer> newcomers_[2];                // a side's, waiting for room
};
