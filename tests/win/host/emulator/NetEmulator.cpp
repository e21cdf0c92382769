// The packets of an emulated internet: every packet that the kernel hands to queue 0 (those that
// cross between the tests' namespace and the emulated addresses, both ways) is passed on, lost
// or answered as the host table says of the emulated address it comes from or goes to, each
// passed packet after its one-way delay (see HostTable.h). Echoes and TCP alike.
//   zarnu-net-emulator HOSTS [READY]
// Writes the file READY once it takes packets; runs until it is ended (SIGTERM, SIGINT).

#include "HostTable.h"

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <queue>
#include <random>
#include <vector>

namespace {

// The verdicts of the kernel's queue (linux/netfilter.h, whose other names clash with the C library's).
constexpr std::uint32_t kDrop = 0;
constexpr std::uint32_t kAccept = 1;

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t ending = 0;

// A verdict that waits for its time, and where a host is unreachable, the error to send then.
struct Due {
    Clock::time_point at;
    std::uint32_t packet;
    std::uint32_t verdict;
    std::uint32_t errorTo = 0;       // network order; 0: none
    std::vector<unsigned char> error; // the ICMP message
    bool operator>(const Due& other) const { return at > other.at; }
};

struct Emulator {
    HostTable hosts;
    nfq_q_handle* queue = nullptr;
    int icmp = -1;
    std::mt19937 random{2026};
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due;
    std::size_t passed = 0, lost = 0;

    Clock::duration OneWay(const HostBehaviour& host)
    {
        const int jitter = host.jitterMs == 0 ? 0
                                              : std::uniform_int_distribution<int>(-static_cast<int>(host.jitterMs),
                                                                                   static_cast<int>(host.jitterMs))(random);
        return std::chrono::milliseconds(static_cast<int>(host.delayMs) + jitter);
    }
    bool Lost(const HostBehaviour& host) { return std::uniform_real_distribution<double>(0, 1)(random) < host.loss; }
};

std::uint16_t Checksum(const unsigned char* bytes, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at + 1 < size; at += 2)
        sum += static_cast<std::uint32_t>(bytes[at] << 8 | bytes[at + 1]);
    if (size % 2)
        sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// "Destination host unreachable" for the packet `packet`: its head and 8 bytes more.
std::vector<unsigned char> HostUnreachable(const unsigned char* packet, std::size_t size)
{
    const std::size_t quoted = std::min<std::size_t>(size, static_cast<std::size_t>((packet[0] & 0x0F) * 4) + 8);
    std::vector<unsigned char> message(8 + quoted, 0);
    message[0] = ICMP_DEST_UNREACH;
    message[1] = ICMP_HOST_UNREACH;
    std::memcpy(message.data() + 8, packet, quoted);
    const std::uint16_t sum = Checksum(message.data(), message.size());
    message[2] = static_cast<unsigned char>(sum >> 8);
    message[3] = static_cast<unsigned char>(sum & 0xFF);
    return message;
}

int OnPacket(nfq_q_handle*, nfgenmsg*, nfq_data* data, void* context)
{
    Emulator& emulator = *static_cast<Emulator*>(context);
    const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(data);
    unsigned char* packet = nullptr;
    const int size = nfq_get_payload(data, &packet);
    if (!header)
        return 0;
    const std::uint32_t id = ntohl(header->packet_id);
    const Clock::time_point now = Clock::now();
    std::uint32_t source = 0, destination = 0;
    if (size >= 20) {
        std::memcpy(&source, packet + 12, 4);
        std::memcpy(&destination, packet + 16, 4);
    }
    auto host = emulator.hosts.Find(destination);
    const bool inbound = host.has_value();
    if (!host)
        host = emulator.hosts.Find(source);
    if (!host) {
        emulator.due.push({now, id, kAccept});
        return 0;
    }
    const bool echo = size > 20 && packet[9] == IPPROTO_ICMP;
    switch (host->kind) {
    case HostBehaviour::Kind::NoEcho:
        if (echo) {
            emulator.due.push({now, id, kDrop});
            break;
        }
        [[fallthrough]];
    case HostBehaviour::Kind::Answers:
        if (emulator.Lost(*host)) {
            ++emulator.lost;
            if (echo) // a ping that will go unanswered
                std::cout << "lost echo " << inet_ntoa(in_addr{inbound ? destination : source}) << std::endl;
            emulator.due.push({now, id, kDrop});
        } else {
            ++emulator.passed;
            emulator.due.push({now + emulator.OneWay(*host), id, kAccept});
        }
        break;
    case HostBehaviour::Kind::Silent: emulator.due.push({now, id, kDrop}); break;
    case HostBehaviour::Kind::Unreachable:
        emulator.due.push({now, id, kDrop});
        if (inbound)
            emulator.due.push({now + 2 * emulator.OneWay(*host), 0, 0, source,
                               HostUnreachable(packet, static_cast<std::size_t>(size))});
        break;
    }
    return 0;
}

// Gives every verdict whose time has come; the time to wait for the next, -1 for none.
int GiveDueVerdicts(Emulator& emulator)
{
    while (!emulator.due.empty()) {
        const Due& next = emulator.due.top();
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next.at - Clock::now()).count();
        if (wait > 0)
            return static_cast<int>(wait);
        if (!next.error.empty()) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = next.errorTo;
            sendto(emulator.icmp, next.error.data(), next.error.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to);
        } else {
            nfq_set_verdict(emulator.queue, next.packet, next.verdict, 0, nullptr);
        }
        emulator.due.pop();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: zarnu-net-emulator HOSTS [READY]\n";
        return 2;
    }
    Emulator emulator;
    try {
        std::ifstream file(argv[1]);
        if (!file)
            throw std::runtime_error(std::string("cannot read ") + argv[1]);
        emulator.hosts = HostTable::Read(file);
    } catch (const std::exception& error) {
        std::cerr << "zarnu-net-emulator: " << error.what() << "\n";
        return 2;
    }
    nfq_handle* netlink = nfq_open();
    if (!netlink || nfq_bind_pf(netlink, AF_INET) < 0 ||
        !(emulator.queue = nfq_create_queue(netlink, 0, &OnPacket, &emulator)) ||
        nfq_set_mode(emulator.queue, NFQNL_COPY_PACKET, 128) < 0) {
        std::cerr << "zarnu-net-emulator: cannot take the packets of queue 0\n";
        return 1;
    }
    nfq_set_queue_maxlen(emulator.queue, 1 << 20); // a burst of echoes to every address at once
    const int fd = nfq_fd(netlink);
    const int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    emulator.icmp = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (emulator.icmp < 0) {
        std::cerr << "zarnu-net-emulator: cannot send ICMP\n";
        return 1;
    }
    std::signal(SIGTERM, [](int) { ending = 1; });
    std::signal(SIGINT, [](int) { ending = 1; });
    if (argc > 2)
        std::ofstream(argv[2]) << "ready\n";
    std::cout << "zarnu-net-emulator: " << emulator.hosts.Size() << " hosts" << std::endl;

    std::vector<char> received(1 << 16);
    while (!ending) {
        pollfd wait{fd, POLLIN, 0};
        const int waitMs = GiveDueVerdicts(emulator);
        if (poll(&wait, 1, waitMs) > 0)
            for (ssize_t count; (count = recv(fd, received.data(), received.size(), MSG_DONTWAIT)) > 0;)
                nfq_handle_packet(netlink, received.data(), static_cast<int>(count));
    }
    std::cout << "zarnu-net-emulator: " << emulator.passed << " packets passed, " << emulator.lost << " lost"
              << std::endl;
    nfq_destroy_queue(emulator.queue);
    nfq_close(netlink);
    return 0;
}
