#pragma once
// Echo requests without a thread each: one echo handle sends them with the echo library's
// asynchronous call, and each answer (or its time-out) comes back on the thread that sent it,
// while that thread waits alertably (WaitForSingleObjectEx and the like with bAlertable TRUE).
// The request's data and the reply area are the echo client's (TICMP), so a probe sent here gets
// the same answer as one that sends its own echo. One thread owns an instance.

#include "probe/PingThrd.h"
#include "win/UniqueHandle.h"

#include <cstdint>
#include <functional>

class AsyncEcho {
public:
    // Ready() tells whether the echo library has the asynchronous calls and gave a handle.
    AsyncEcho();
    // Requests still out are abandoned with their areas (the platform may still write to them);
    // their probes never complete.
    ~AsyncEcho();
    AsyncEcho(const AsyncEcho&) = delete;
    AsyncEcho& operator=(const AsyncEcho&) = delete;

    bool Ready() const { return static_cast<bool>(handle_); }

    using Answered = std::function<void(TPingThread& probe)>;
    // Sends the echo of `probe` (PacketSize, TimeoutMs, Ttl, OptionFlags as TICMP takes them) to
    // `address` (IPv4, network byte order). Once it is answered or timed out, on this thread in an
    // alertable wait, the probe's result fields are written and `answered` runs. Where the
    // platform hands the request back untaken, for want of room (its completion carries a failure
    // and no reply), nothing is written and `notTaken` runs instead; Room() learns from it. A
    // request handed back while no other was out counts as answered without a reply. False when
    // the request could not be sent: nothing was written then.
    bool Send(TPingThread& probe, std::uint32_t address, Answered answered, Answered notTaken);

    // Requests sent and not answered yet, by every instance.
    static std::size_t Outstanding();
    // How many requests the platform takes at once, as learned: the fewest that were out when it
    // handed one back untaken; unbounded until it has.
    static std::size_t Room();

private:
    struct Request;
    static void NTAPI Came(void* context, void* ioStatus, unsigned long reserved);

    UniqueHModule library_;
    void* sendEcho2_ = nullptr;
    void* parseReplies_ = nullptr;
    UniqueEchoHandle handle_;
};
