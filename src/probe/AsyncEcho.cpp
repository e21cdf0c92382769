#include "probe/AsyncEcho.h"

#include "probe/icmp.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using ApcRoutine = void(NTAPI*)(void*, void*, unsigned long);
using SendEcho2Entry = DWORD(WINAPI*)(HANDLE, HANDLE, ApcRoutine, void*, IPAddr, void*, WORD, IP_OPTION_INFORMATION*,
                                      void*, DWORD, DWORD);
using ParseRepliesEntry = DWORD(WINAPI*)(void*, DWORD);
using CreateFileEntry = HANDLE(WINAPI*)();

constexpr std::size_t kPayloadLength = sizeof TICMP::EchoPayload - 1;
constexpr std::size_t kErrorMessageRoom = 8; // as TICMP: room for an ICMP error message
// An asynchronous call also needs room in the reply area for the status block of its I/O, as the
// platform documents for IcmpSendEcho2 with a completion routine.
constexpr std::size_t kIoStatusRoom = sizeof(IO_STATUS_BLOCK);

std::atomic<std::size_t> outstanding{0};
std::atomic<std::size_t> room{SIZE_MAX};

template <typename Entry>
Entry EntryPoint(HMODULE module, const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

struct AsyncEcho::Request {
    AsyncEcho* owner;
    TPingThread* probe;
    std::uint32_t address;
    Answered answered;
    Answered notTaken;
    std::size_t outAtSend; // the requests out when it was sent, itself not counted
    IP_OPTION_INFORMATION options{};
    std::vector<char> data;
    std::vector<unsigned char> reply;
};

AsyncEcho::AsyncEcho() : library_(LoadLibraryA("icmp.dll"))
{
    if (!library_)
        return;
    const auto create = EntryPoint<CreateFileEntry>(library_.get(), "IcmpCreateFile");
    sendEcho2_ = reinterpret_cast<void*>(EntryPoint<SendEcho2Entry>(library_.get(), "IcmpSendEcho2"));
    parseReplies_ = reinterpret_cast<void*>(EntryPoint<ParseRepliesEntry>(library_.get(), "IcmpParseReplies"));
    if (create && sendEcho2_ && parseReplies_ && GetProcAddress(library_.get(), "IcmpCloseHandle"))
        handle_.reset(create());
}

AsyncEcho::~AsyncEcho()
{
    handle_.reset();
}

std::size_t AsyncEcho::Outstanding()
{
    return outstanding.load();
}

std::size_t AsyncEcho::Room()
{
    return room.load();
}

bool AsyncEcho::Send(TPingThread& probe, std::uint32_t address, Answered answered, Answered notTaken)
{
    if (!Ready())
        return false;
    const std::int32_t packetSize = probe.PacketSize != 0 ? probe.PacketSize : 56;
    // The platform sends the low 16 bits of the size; the request area never holds less.
    const WORD requestSize = static_cast<WORD>(packetSize);
    auto request = std::make_unique<Request>(
        Request{this, &probe, address, std::move(answered), std::move(notTaken), outstanding.load()});
    request->data.assign(packetSize > 0 ? std::max<std::size_t>(packetSize, requestSize) : requestSize, ' ');
    std::memcpy(request->data.data(), TICMP::EchoPayload, std::min(request->data.size(), kPayloadLength));
    request->reply.assign(sizeof(ICMP_ECHO_REPLY) + requestSize + kErrorMessageRoom + kIoStatusRoom, 0);
    request->options.Ttl = static_cast<UCHAR>(probe.Ttl != 0 ? probe.Ttl : 64);
    request->options.Flags = static_cast<UCHAR>(probe.OptionFlags);
    const DWORD sent = reinterpret_cast<SendEcho2Entry>(sendEcho2_)(
        handle_.get(), nullptr, &AsyncEcho::Came, request.get(), address, request->data.data(), requestSize,
        &request->options, request->reply.data(), static_cast<DWORD>(request->reply.size()),
        probe.TimeoutMs != 0 ? probe.TimeoutMs : 4000);
    if (sent == 0 && GetLastError() != ERROR_IO_PENDING)
        return false;
    ++outstanding;
    request.release(); // until its answer comes
    return true;
}

void NTAPI AsyncEcho::Came(void* context, void* ioStatus, unsigned long)
{
    const std::unique_ptr<Request> request(static_cast<Request*>(context));
    --outstanding;
    const auto parse = reinterpret_cast<ParseRepliesEntry>(request->owner->parseReplies_);
    const DWORD replies = parse(request->reply.data(), static_cast<DWORD>(request->reply.size()));
    const DWORD status = GetLastError();
    // Handed back untaken (Wine does so past 256 out at once, with STATUS_NO_MEMORY): it was never
    // sent, and it waits for room, unless none other was out to make room.
    const auto* io = static_cast<const IO_STATUS_BLOCK*>(ioStatus);
    if (io && io->Status < 0 && replies == 0 && request->outAtSend > 0) {
        std::size_t learned = room.load();
        while (request->outAtSend < learned && !room.compare_exchange_weak(learned, request->outAtSend)) {
        }
        request->notTaken(*request->probe);
        return;
    }
    ICMP_ECHO_REPLY first;
    std::memcpy(&first, request->reply.data(), sizeof first);
    request->probe->RecordEcho(request->address, static_cast<std::int32_t>(replies), first,
                               replies == 0 && status == 0 ? first.Status : status);
    request->answered(*request->probe);
}
