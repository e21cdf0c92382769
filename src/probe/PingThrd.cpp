#include "probe/PingThrd.h"

#include "probe/icmp.h"


namespace {

// `text` without the characters with codes 0 to 32 at either end.
std::string TrimControls(const std::string& text)
{
    const auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && !kept(text[first]))
        ++first;
    while (last > first && !kept(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string ReverseLookup(std::uint32_t address, const std::string& fallback)
{
    const hostent* entry = gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    return entry && entry->h_name ? std::string(entry->h_name) : fallback;
}

} // namespace

void TPingThread::Execute()
{
    // Outside any guard: when the client cannot be built, no result field is written.
    TICMP echoClient;

    if (PacketSize != 0)
        echoClient.PacketSize = PacketSize;
    if (TimeoutMs != 0)
        echoClient.TimeoutMs = TimeoutMs;
    if (Ttl != 0)
        echoClient.Ttl = Ttl;
    echoClient.OptionFlags = OptionFlags;

    echoClient.SetHost(TrimControls(Target));
    ReplyCount = echoClient.Echo();
    TargetIp = echoClient.AddressText();

    if (ReplyCount == 0) {
        ErrorCode = echoClient.LastStatus();
        ErrorText = echoClient.StatusText();
        return;
    }
    ErrorCode = 0;
    const ICMP_ECHO_REPLY& reply = echoClient.LastReply();
    in_addr source;
    source.s_addr = reply.Address;
    ReplyAddress = inet_ntoa(source); // thread-owned storage: copied at once
    ReplyHostName = ReplyAddress;
    ReplyStatus = reply.Status;
    RoundTripMs = reply.RoundTripTime;
    ReplyDataSize = reply.DataSize;
    if (ResolveNames && reply.Address != 0)
        ReplyHostName = ReverseLookup(reply.Address, ReplyAddress);
}
