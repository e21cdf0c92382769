#include "probe/icmp.h"

#include "core/IcmpStatus.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(1, 1);
constexpr std::size_t kPayloadLength = sizeof TICMP::EchoPayload - 1;
// Room the platform requires after the echoed data for an ICMP error message.
constexpr std::size_t kErrorMessageRoom = 8;

template <typename Entry>
Entry EntryPoint(HMODULE module, const char* name)
{
    // Through the generic function pointer type: the cast between two function types is the
    // documented use of GetProcAddress.
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string DottedText(std::uint32_t address)
{
    in_addr value;
    value.s_addr = address;
    return inet_ntoa(value); // thread-owned storage: copied at once
}

} // namespace

TICMP::TICMP() : winsock_(kWinsockVersion)
{
    if (!winsock_.Started())
        throw TICMPException("Error initialising Winsock", WSAGetLastError());

    EchoLibrary.reset(LoadLibraryA("icmp.dll"));
    if (!EchoLibrary)
        throw TICMPException("Unable to register icmp.dll", GetLastError());

    icmpCreateFile_ = EntryPoint<CreateFileEntry>(EchoLibrary.get(), "IcmpCreateFile");
    const bool closeFound = GetProcAddress(EchoLibrary.get(), "IcmpCloseHandle") != nullptr;
    icmpSendEcho_ = EntryPoint<SendEchoEntry>(EchoLibrary.get(), "IcmpSendEcho");
    if (!icmpCreateFile_ || !closeFound || !icmpSendEcho_)
        throw TICMPException("Error loading dll functions", ERROR_PROC_NOT_FOUND);

    EchoHandle.reset(icmpCreateFile_());
    if (!EchoHandle)
        throw TICMPException("Unable to get ping handle", GetLastError());
}

void TICMP::SetHost(const std::string& host)
{
    if (host == hostText_)
        return;
    hostText_ = host;
    resolved_ = false;
}

void TICMP::Notice(const std::string& text)
{
    if (OnNotice)
        OnNotice(*this, text);
}

void TICMP::ResolveHost()
{
    // The platform's lookup would take an empty name for this machine.
    if (hostText_.find_first_not_of(" \t") == std::string::npos) {
        targetAddress_ = INADDR_NONE;
        return;
    }
    targetAddress_ = inet_addr(hostText_.c_str());
    if (targetAddress_ != INADDR_NONE) {
        resolvedName_ = hostText_;
    } else {
        const hostent* entry = gethostbyname(hostText_.c_str());
        if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) {
            lastStatus_ = entry ? WSANO_DATA : WSAGetLastError();
            Notice("Unable to resolve " + hostText_);
            return;
        }
        std::memcpy(&targetAddress_, entry->h_addr_list[0], sizeof targetAddress_);
        resolvedName_ = entry->h_name;
    }
    addressText_ = DottedText(targetAddress_);
    resolved_ = true;
}

std::int32_t TICMP::Echo()
{
    lastStatus_ = kIcmpSuccess;
    if (!resolved_)
        ResolveHost();
    if (targetAddress_ == INADDR_NONE) {
        lastStatus_ = kIcmpBadDestination;
        Notice("Invalid host address");
        return 0;
    }

    // The platform sends the low 16 bits of PacketSize; the request area never holds less.
    const WORD requestSize = static_cast<WORD>(PacketSize);
    const std::size_t requestArea =
        PacketSize > 0 ? std::max<std::size_t>(PacketSize, requestSize) : requestSize;
    std::vector<char> request(requestArea, ' ');
    std::memcpy(request.data(), EchoPayload, std::min(request.size(), kPayloadLength));

    // The platform's minimum: one reply record, the echoed data and an ICMP error message.
    std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + requestSize + kErrorMessageRoom, 0);

    if (OnBeforeEcho)
        OnBeforeEcho(*this);

    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(Ttl);
    options.Flags = static_cast<UCHAR>(OptionFlags);

    const DWORD replies =
        icmpSendEcho_(EchoHandle.get(), targetAddress_, request.data(), requestSize, &options,
                      reply.data(), static_cast<DWORD>(reply.size()), TimeoutMs);
    lastStatus_ = GetLastError();
    std::memcpy(&lastReply_, reply.data(), sizeof lastReply_);

    const auto result = static_cast<std::int32_t>(replies);
    if (OnAfterEcho)
        OnAfterEcho(*this, result);
    return result;
}

std::string TICMP::StatusText() const
{
    return IcmpStatusText(lastStatus_);
}
