#pragma once
// TICMP: one ICMP echo client over the platform's "icmp.dll", for one IPv4 host at a time.
// Only construction raises (TICMPException); afterwards every outcome is a return value, the
// status code and the optional events. An instance belongs to the thread that uses it.

#include "win/UniqueHandle.h"
#include "win/WinsockSession.h"

#include <ipexport.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// The failed step's message, and the platform's error code of its failure.
class TICMPException : public std::runtime_error {
public:
    TICMPException(const std::string& message, DWORD code) : std::runtime_error(message), code_(code) {}
    DWORD Code() const { return code_; }

private:
    DWORD code_;
};

// Keeps the echo library loaded and the socket layer started for as long as it lives. Every
// TICMP still loads and starts its own; with one of these around, those are counts kept by the
// platform instead of a loading and unloading per probe, which costs thousands of probes dearly.
class TICMPLibraryHold {
public:
    TICMPLibraryHold() : winsock_(MAKEWORD(1, 1)), library_(LoadLibraryA("icmp.dll")) {}

private:
    WinsockSession winsock_;
    UniqueHModule library_;
};

class TICMP {
public:
    using TNoticeEvent = std::function<void(TICMP& sender, const std::string& text)>;
    using TEchoEvent = std::function<void(TICMP& sender)>;
    using TRepliesEvent = std::function<void(TICMP& sender, std::int32_t replies)>;

    // The fixed text at the start of every request's data.
    static constexpr char EchoPayload[] = "Echo request sent by the proxy latency probe.";

    // Starts the socket layer, loads the library and opens an echo handle. Raises
    // TICMPException with the failed step's message; what was acquired is released first.
    TICMP();
    TICMP(const TICMP&) = delete;
    TICMP& operator=(const TICMP&) = delete;

    // Sets the host to probe. The same text again (compared case-sensitively) keeps the earlier
    // resolution. A host of nothing but blanks is a bad destination, never this machine.
    void SetHost(const std::string& host);

    // Sends one echo request and waits at most TimeoutMs for the answer. Returns the number of
    // reply records (0: no answer, the reason in LastStatus). Raises only when memory runs out.
    std::int32_t Echo();

    // The text of LastStatus.
    std::string StatusText() const;

    const std::string& HostText() const { return hostText_; }
    const std::string& ResolvedName() const { return resolvedName_; }
    const std::string& AddressText() const { return addressText_; }
    // Network byte order; INADDR_NONE after a failed resolution.
    std::uint32_t TargetAddress() const { return targetAddress_; }
    // The platform's own first reply record of the last echo that was sent. Its data pointer
    // points into storage that is released when Echo returns: read it only in OnAfterEcho.
    const ICMP_ECHO_REPLY& LastReply() const { return lastReply_; }
    std::uint32_t LastStatus() const { return lastStatus_; }
    bool Resolved() const { return resolved_; }

    // Request parameters, set before Echo.
    std::int32_t PacketSize = 56; // data bytes; the low 16 bits are the size sent
    std::uint32_t TimeoutMs = 4000;
    std::uint32_t Ttl = 64;         // low byte used
    std::uint32_t OptionFlags = 0;  // low byte used

    // Run on the thread that calls Echo.
    TNoticeEvent OnNotice;
    TEchoEvent OnBeforeEcho;
    TRepliesEvent OnAfterEcho;

private:
    using CreateFileEntry = HANDLE(WINAPI*)();
    using SendEchoEntry = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION,
                                         LPVOID, DWORD, DWORD);

    void ResolveHost();
    void Notice(const std::string& text);

    // Declared in the order of acquisition, so that they are released in reverse: the echo
    // handle, then the library, then the socket session.
    WinsockSession winsock_;
    UniqueHModule EchoLibrary;
    CreateFileEntry icmpCreateFile_ = nullptr;
    SendEchoEntry icmpSendEcho_ = nullptr;
    UniqueEchoHandle EchoHandle;

    ICMP_ECHO_REPLY lastReply_{};
    std::string hostText_;
    std::string resolvedName_;
    std::string addressText_;
    std::uint32_t targetAddress_ = 0;
    std::uint32_t lastStatus_ = 0;
    bool resolved_ = false;
};
