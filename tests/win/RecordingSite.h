#pragma once
// A web server of the test's own, on one address of the loopback: it keeps every connection
// open whatever the request says (as a careless site does), answers each request with its name
// and the request's path, and records every request whole, body and all, in the order it came,
// and the address it came from.
// Everything it starts ends with it.

#include "win/UniqueSocket.h"
#include "win/WinsockSession.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RecordingSite {
public:
    RecordingSite(const std::string& name, const char* address, unsigned short port)
        : name_(name), listener_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = inet_addr(address);
        if (bind(listener_.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
            listen(listener_.get(), SOMAXCONN) != 0)
            throw std::runtime_error("the site cannot listen on " + std::string(address));
        host_ = std::string(address) + ":" + std::to_string(port);
        accepting_ = std::thread([this] { Accept(); });
    }
    ~RecordingSite()
    {
        listener_.reset();
        accepting_.join();
        {
            const std::lock_guard<std::mutex> hold(lock_);
            for (SOCKET open : open_)
                shutdown(open, SD_BOTH);
        }
        for (std::thread& serving : serving_)
            serving.join();
    }
    RecordingSite(const RecordingSite&) = delete;
    RecordingSite& operator=(const RecordingSite&) = delete;

    const std::string& Host() const { return host_; }
    std::vector<std::string> Requests() const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return requests_;
    }
    // The address each request came from, in the same order.
    std::vector<std::string> Callers() const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return callers_;
    }
    std::size_t Connections() const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return open_.size();
    }

private:
    void Accept()
    {
        for (;;) {
            sockaddr_in from{};
            int length = sizeof from;
            UniqueSocket caller(accept(listener_.get(), reinterpret_cast<sockaddr*>(&from), &length));
            if (!caller)
                return;
            const std::lock_guard<std::mutex> hold(lock_);
            open_.push_back(caller.get());
            serving_.emplace_back([this, address = std::string(inet_ntoa(from.sin_addr)),
                                   owned = std::make_shared<UniqueSocket>(std::move(caller))] { Serve(owned->get(), address); });
        }
    }

    void Serve(SOCKET caller, const std::string& address)
    {
        std::string received;
        for (;;) {
            const std::size_t end = received.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (!Read(caller, received))
                    return;
                continue;
            }
            std::size_t whole = end + 4;
            const std::string head = received.substr(0, whole);
            if (const std::size_t length = head.find("Content-Length: "); length != std::string::npos)
                whole += std::stoul(head.substr(length + 16));
            else if (head.find("Transfer-Encoding: chunked") != std::string::npos)
                whole = received.find("\r\n0\r\n\r\n", end) == std::string::npos ? ~std::size_t{0}
                                                                                : received.find("\r\n0\r\n\r\n", end) + 7;
            if (received.size() < whole || whole == ~std::size_t{0}) {
                if (!Read(caller, received))
                    return;
                continue;
            }
            const std::string path = head.substr(head.find(' ') + 1, head.find(' ', head.find(' ') + 1) - head.find(' ') - 1);
            {
                const std::lock_guard<std::mutex> hold(lock_);
                requests_.push_back(received.substr(0, whole));
                callers_.push_back(address);
            }
            received.erase(0, whole);
            const std::string body = name_ + ":" + path + ";";
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            send(caller, answer.data(), static_cast<int>(answer.size()), 0);
        }
    }

    static bool Read(SOCKET from, std::string& into)
    {
        char buffer[4096];
        const int count = recv(from, buffer, sizeof buffer, 0);
        if (count <= 0)
            return false;
        into.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    WinsockSession winsock_{MAKEWORD(2, 2)};
    std::string name_;
    std::string host_;
    UniqueSocket listener_;
    std::thread accepting_;
    mutable std::mutex lock_;
    std::vector<SOCKET> open_;
    std::vector<std::thread> serving_;
    std::vector<std::string> requests_;
    std::vector<std::string> callers_;
};
