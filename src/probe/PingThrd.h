#pragma once
// TPingThread: a worker that carries one probe request through one echo and holds the outcome
// for the window that created it. The window writes the request fields before Start and reads
// the result fields in OnTerminate, on the UI thread, while the worker waits.

#include "probe/WorkerRegistry.h"
#include "probe/WorkerThread.h"

#include <winsock2.h>
#include <ipexport.h>

#include <cstddef>
#include <cstdint>
#include <string>

class TPingThread : public WorkerThread {
public:
    TPingThread() = default;
    // A probe whose echo is sent for it (AsyncEcho), without a thread of its own.
    explicit TPingThread(WithoutThread tag) : WorkerThread(tag) {}

    // Request, written by the window before Start.
    std::string Country;    // read back by the window, not by the worker
    std::string SourceLine; // read back by the window, not by the worker
    std::size_t LineNumber = 0; // the line's place in its command's lines; read back by the window
    std::string Target;     // host name or dotted address; blanks and control characters around it are ignored
    bool ResolveNames = false;       // look up the host name of the reply's source
    std::int32_t PacketSize = 0;     // 0 keeps the echo client's default, as do the next two
    std::uint32_t TimeoutMs = 0;
    std::uint32_t Ttl = 0;
    std::uint32_t OptionFlags = 0;   // passed on as it is

    // Result, written by the body.
    std::string TargetIp;            // empty when the host could not be resolved
    std::string ReplyAddress;        // this and the next four only when an answer came
    std::uint32_t ReplyStatus = 0;
    std::uint32_t RoundTripMs = 0;
    std::uint16_t ReplyDataSize = 0;
    std::string ReplyHostName;
    std::int32_t ReplyCount = 0;     // 0: no answer
    std::uint32_t ErrorCode = 0;     // 0 with ReplyCount 0: the echo client could not be built
    std::string ErrorText;           // the status text when no answer came

    // Writes the result fields for one echo to `targetAddress` (network byte order): `replies`
    // reply records, the first of them `reply`, or none for the reason `status`. All or nothing:
    // ReplyCount, which says that an answer came, is written last.
    void RecordEcho(std::uint32_t targetAddress, std::int32_t replies, const ICMP_ECHO_REPLY& reply, std::uint32_t status);

    // The IPv4 address (network byte order) that `target` names as a worker reads it, its ends
    // trimmed of blanks and control characters; INADDR_NONE where it names a host, or nothing.
    static std::uint32_t AddressOf(const std::string& target);

protected:
    void Execute() override;
};
