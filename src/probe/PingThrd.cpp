#include "probe/PingThrd.h"

#include "probe/icmp.h"

#include "core/IcmpStatus.h"


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
    const std::int32_t replies = echoClient.Echo();
    if (replies == 0 && !echoClient.Resolved()) {
        TargetIp = echoClient.AddressText();
        ErrorText = echoClient.StatusText();
        ErrorCode = echoClient.LastStatus();
        return;
    }
    RecordEcho(echoClient.TargetAddress(), replies, echoClient.LastReply(), echoClient.LastStatus());
}

std::uint32_t TPingThread::AddressOf(const std::string& target)
{
    const std::string host = TrimControls(target);
    return host.empty() ? INADDR_NONE : inet_addr(host.c_str());
}

void TPingThread::RecordEcho(std::uint32_t targetAddress, std::int32_t replies, const ICMP_ECHO_REPLY& reply,
                             std::uint32_t status)
{
    in_addr target;
    target.s_addr = targetAddress;
    TargetIp = inet_ntoa(target); // thread-owned storage: copied at once
    if (replies == 0) {
        ErrorText = IcmpStatusText(status);
        ErrorCode = status;
        return;
    }
    // All or nothing: what says that an answer came is written last, after everything that
    // may fail on the way (a lookup, an allocation).
    in_addr source;
    source.s_addr = reply.Address;
    ReplyAddress = inet_ntoa(source);
    ReplyHostName = ResolveNames && reply.Address != 0 ? ReverseLookup(reply.Address, ReplyAddress) : ReplyAddress;
    ReplyDataSize = reply.DataSize;
    RoundTripMs = reply.RoundTripTime;
    ReplyStatus = reply.Status;
    ErrorCode = 0;
    ReplyCount = replies;
}
