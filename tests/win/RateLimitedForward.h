#pragma once
// A forwarder of the test's own in front of a proxy, on one address of the loopback: every
// connection to it goes on to the proxy, and what comes back is passed on at no more than a rate
// it is given, as a proxy behind a slow line. Everything it starts ends with it.

#include "win/UniqueSocket.h"

#include <winsock2.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class RateLimitedForward {
public:
    // Listens on `address`:`port` and forwards to `to` (an IPv4 "address:port"), at most
    // `bytesPerSecond` back.
    RateLimitedForward(const std::string& address, unsigned short port, const std::string& to, std::size_t bytesPerSecond)
        : listener_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)), rate_(bytesPerSecond)
    {
        const auto colon = to.rfind(':');
        target_.sin_family = AF_INET;
        target_.sin_port = htons(static_cast<u_short>(std::stoi(to.substr(colon + 1))));
        target_.sin_addr.s_addr = inet_addr(to.substr(0, colon).c_str());
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = inet_addr(address.c_str());
        if (bind(listener_.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
            listen(listener_.get(), SOMAXCONN) != 0)
            throw std::runtime_error("the forwarder cannot listen on " + address);
        accepting_ = std::thread([this] { Accept(); });
    }
    ~RateLimitedForward()
    {
        listener_.reset();
        accepting_.join();
        {
            const std::lock_guard<std::mutex> hold(lock_);
            for (const auto& open : open_)
                shutdown(open->get(), SD_BOTH);
        }
        for (std::thread& passing : passing_)
            passing.join();
    }
    RateLimitedForward(const RateLimitedForward&) = delete;
    RateLimitedForward& operator=(const RateLimitedForward&) = delete;

private:
    void Accept()
    {
        for (;;) {
            auto caller = std::make_shared<UniqueSocket>(accept(listener_.get(), nullptr, nullptr));
            if (!*caller)
                return;
            auto proxy = std::make_shared<UniqueSocket>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            if (connect(proxy->get(), reinterpret_cast<const sockaddr*>(&target_), sizeof target_) != 0)
                continue;
            const std::lock_guard<std::mutex> hold(lock_);
            open_.push_back(caller);
            open_.push_back(proxy);
            passing_.emplace_back([caller, proxy] { Pass(caller->get(), proxy->get(), 0); });
            passing_.emplace_back([this, caller, proxy] { Pass(proxy->get(), caller->get(), rate_); });
        }
    }

    // Passes what `from` sends on to `to` until either ends, at most `rate` bytes a second (0: as
    // it comes).
    static void Pass(SOCKET from, SOCKET to, std::size_t rate)
    {
        const auto start = std::chrono::steady_clock::now();
        std::size_t passed = 0;
        char buffer[4096];
        for (;;) {
            const int count = recv(from, buffer, rate ? 1024 : sizeof buffer, 0);
            if (count <= 0 || send(to, buffer, count, 0) != count)
                break;
            passed += static_cast<std::size_t>(count);
            if (rate)
                std::this_thread::sleep_until(start + std::chrono::microseconds(passed * 1000000 / rate));
        }
        shutdown(to, SD_SEND);
    }

    UniqueSocket listener_;
    sockaddr_in target_{};
    std::size_t rate_;
    std::mutex lock_;
    std::vector<std::shared_ptr<UniqueSocket>> open_; // closed only once the forwarder ends
    std::vector<std::thread> passing_;
    std::thread accepting_;
};
