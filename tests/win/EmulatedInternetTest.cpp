#include "HostTools.h"

#include "probe/icmp.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The echo of `address` within `timeoutMs`: its round trip in ms, or nullopt with `status`.
std::optional<unsigned> EchoTime(const std::string& address, DWORD timeoutMs, std::uint32_t* status = nullptr)
{
    TICMP client;
    client.SetHost(address);
    client.TimeoutMs = timeoutMs;
    // An error that a router sends back comes as a reply record of its own status.
    const bool replied = client.Echo() > 0;
    const bool answered = replied && client.LastReply().Status == IP_SUCCESS;
    if (status)
        *status = replied ? client.LastReply().Status : client.LastStatus();
    return answered ? std::optional<unsigned>(client.LastReply().RoundTripTime) : std::nullopt;
}

// A TCP connection to `address`:`port`: how long it took, or nullopt with the socket's error.
std::optional<ULONGLONG> ConnectTime(const std::string& address, int port, int* error = nullptr)
{
    const WinsockSession winsock(MAKEWORD(2, 2));
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port));
    target.sin_addr.s_addr = inet_addr(address.c_str());
    const ULONGLONG start = GetTickCount64();
    const bool connected = connect(connection, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    const ULONGLONG elapsed = GetTickCount64() - start;
    if (error)
        *error = connected ? 0 : WSAGetLastError();
    closesocket(connection);
    return connected ? std::optional<ULONGLONG>(elapsed) : std::nullopt;
}

// What the emulator is asked is what the program meets: a delay asked is the delay measured,
// for echoes and TCP alike, within a few ms; a silent host never answers; an unreachable one is
// reported so, a delay later; a refusing port refuses, a swallowing one takes the connection.
TEST(EmulatedInternet, EachHostIsAsFarAndAsAnsweringAsAsked)
{
    const host::EmulatedInternet internet("198.18.0.1 answers 100 0 0\n"
                                          "198.18.0.2 silent 0 0 0\n"
                                          "198.18.0.3 unreachable 60 0 0\n"
                                          "198.18.0.4 answers 20 0 1\n"
                                          "198.18.0.5 answers 250 0 0\n");
    for (const auto& [address, oneWay] : {std::pair{"198.18.0.1", 100u}, std::pair{"198.18.0.5", 250u}}) {
        SCOPED_TRACE(address);
        const auto echo = EchoTime(address, 2000);
        ASSERT_TRUE(echo);
        EXPECT_GE(*echo, 2 * oneWay - 1);
        EXPECT_LE(*echo, 2 * oneWay + 10);
        const auto connect = ConnectTime(address, 8001);
        ASSERT_TRUE(connect);
        EXPECT_GE(*connect, 2 * oneWay - 1ull);
        EXPECT_LE(*connect, 2 * oneWay + 15ull);
    }
    EXPECT_LE(EchoTime("198.18.0.9", 2000).value_or(9999), 5u) << "an address not asked for is near";

    std::uint32_t status = 0;
    EXPECT_FALSE(EchoTime("198.18.0.2", 500, &status));
    EXPECT_EQ(status, 11010u); // timed out
    EXPECT_FALSE(EchoTime("198.18.0.4", 500, &status)) << "every packet lost";
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(EchoTime("198.18.0.3", 2000, &status));
    EXPECT_EQ(status, 11003u); // destination host unreachable
    EXPECT_GE(GetTickCount64() - start, 110u);
    int error = 0;
    EXPECT_FALSE(ConnectTime("198.18.0.3", 8001, &error));

    EXPECT_FALSE(ConnectTime("198.18.0.1", 8080, &error));
    EXPECT_EQ(error, WSAECONNREFUSED);
    EXPECT_TRUE(ConnectTime("198.18.0.1", 3128)) << "a port that swallows connections";
}

} // namespace
