#include "verify/CheckEngine.h"

#include "core/ProxyWorks.h"
#include "core/ServiceUrl.h"
#include "win/SocketSet.h"
#include "win/StartThread.h"
#include "win/WinsockSession.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <unordered_map>

namespace {

std::atomic<std::size_t> peakRunning{0};

// How long the engine's thread waits for its sockets before it looks for new checks.
constexpr DWORD kLongestWaitMs = 10;
constexpr std::size_t kMostPartsPerCheck = 6;

using CheckSockets = SocketSet<CheckEngine::kMostAtOnce * kMostPartsPerCheck>;

struct Address {
    sockaddr_storage address{};
    int length = 0;
};

// The first address of `host` for `port`; nullopt when there is none. With `numericOnly`, no
// name is looked up.
std::optional<Address> Resolve(const std::string& host, unsigned short port, bool numericOnly)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    if (port == 0 || getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return std::nullopt;
    Address address;
    std::memcpy(&address.address, found->ai_addr, found->ai_addrlen);
    address.length = static_cast<int>(found->ai_addrlen);
    freeaddrinfo(found);
    return address;
}

} // namespace

struct CheckEngine::Shared {
    struct Lookup {
        std::uint64_t serial;
        std::size_t part;
        std::optional<Address> address;
    };

    std::mutex lock;
    std::deque<CheckJob> submitted;
    std::vector<Lookup> lookedUp;
    std::vector<std::function<void()>> continuations; // of work done aside
    bool ending = false;
    std::atomic<std::size_t> pending{0};
    UniqueKernelHandle wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

namespace {

// The engine's thread: the checks waiting and running, and the wait for their sockets.
class Loop {
public:
    Loop(std::shared_ptr<CheckEngine::Shared> shared, AsideThread& aside) : shared_(std::move(shared)), aside_(aside) {}

    void Run()
    {
        const WinsockSession winsock(MAKEWORD(2, 2));
        while (TakeNews()) {
            StartWaiting();
            if (running_.empty()) {
                WaitForSingleObject(shared_->wake.get(), INFINITE);
                continue;
            }
            WaitForSockets();
            FinishEnded();
        }
    }

private:
    struct Running {
        CheckJob job;
        std::uint64_t serial;
        ULONGLONG start;
        std::vector<std::unique_ptr<HttpExchange>> exchanges; // null while its address is looked up
        std::vector<PartResult> results;
        std::vector<bool> started;
        std::vector<bool> ended;
        std::vector<bool> connected;
        int provenKind = 0;
    };

    // New checks, and addresses looked up; false once the engine is ending.
    bool TakeNews()
    {
        std::vector<CheckEngine::Shared::Lookup> lookedUp;
        std::vector<std::function<void()>> continuations;
        {
            const std::lock_guard<std::mutex> hold(shared_->lock);
            if (shared_->ending)
                return false;
            std::move(shared_->submitted.begin(), shared_->submitted.end(), std::back_inserter(waiting_));
            shared_->submitted.clear();
            lookedUp.swap(shared_->lookedUp);
            continuations.swap(shared_->continuations);
        }
        for (const auto& continuation : continuations)
            RunGuarded(continuation);
        for (const auto& lookup : lookedUp)
            for (Running& check : running_)
                if (check.serial == lookup.serial)
                    Connect(check, lookup.part, lookup.address);
        return true;
    }

    void StartWaiting()
    {
        while (!waiting_.empty() && running_.size() < CheckEngine::kMostAtOnce) {
            CheckJob job = std::move(waiting_.front());
            waiting_.pop_front();
            if (Cancelled(job)) {
                --shared_->pending;
                continue;
            }
            Running& check = running_.emplace_back();
            const std::size_t parts = job.parts.size();
            check.job = std::move(job);
            check.serial = ++serial_;
            check.start = GetTickCount64();
            check.exchanges.resize(parts);
            check.results.resize(parts);
            check.started.resize(parts, false);
            check.ended.resize(parts, false);
            check.connected.resize(parts, false);
            for (std::size_t part = 0; part < parts; ++part)
                if (check.job.parts[part].startsAfter < 0 && !WaitsForKnock(check, part))
                    StartPart(check, part);
        }
        if (running_.size() > peakRunning.load())
            peakRunning = running_.size();
    }

    void StartPart(Running& check, std::size_t part)
    {
        check.started[part] = true;
        const HostPort target = SplitHostPort(check.job.parts[part].target, 0);
        if (const auto address = Resolve(target.host, target.port, true)) {
            Connect(check, part, address);
            return;
        }
        // A name: looked up aside, within the check's deadline.
        aside_.Run([shared = shared_, serial = check.serial, part, target] {
            const auto address = Resolve(target.host, target.port, false);
            const std::lock_guard<std::mutex> hold(shared->lock);
            shared->lookedUp.push_back({serial, part, address});
            SetEvent(shared->wake.get());
        });
    }

    static void Connect(Running& check, std::size_t part, const std::optional<Address>& address)
    {
        if (!address) {
            check.ended[part] = true;
            return;
        }
        const CheckPart& plan = check.job.parts[part];
        ExchangePlan exchange{address->address, address->length, plan.handshake, plan.request, plan.counted};
        check.exchanges[part] = std::make_unique<HttpExchange>(std::move(exchange));
        check.exchanges[part]->Start(); // one that fails at once is done, and told as refused
    }

    void WaitForSockets()
    {
        CheckSockets& readable = sets_[0];
        CheckSockets& writable = sets_[1];
        CheckSockets& failed = sets_[2];
        readable.Clear();
        writable.Clear();
        failed.Clear();
        std::unordered_map<SOCKET, HttpExchange*> bySocket;
        ULONGLONG nearest = ~0ull;
        for (Running& check : running_) {
            nearest = std::min(nearest, check.start + check.job.limitMs);
            for (std::size_t part = 0; part < check.exchanges.size(); ++part) {
                HttpExchange* exchange = check.exchanges[part].get();
                if (!exchange || check.ended[part] || exchange->Done())
                    continue;
                bySocket[exchange->Socket()] = exchange;
                (exchange->WantsWrite() ? writable : readable).Add(exchange->Socket());
                failed.Add(exchange->Socket());
            }
        }
        const ULONGLONG now = GetTickCount64();
        const DWORD waitMs = static_cast<DWORD>(std::min<ULONGLONG>(kLongestWaitMs, nearest > now ? nearest - now : 0));
        if (bySocket.empty()) { // only lookups under way
            WaitForSingleObject(shared_->wake.get(), waitMs);
            return;
        }
        timeval timeout{0, static_cast<long>(waitMs * 1000)};
        if (select(0, readable.Get(), writable.Get(), failed.Get(), &timeout) <= 0)
            return;
        std::unordered_map<HttpExchange*, unsigned> ready; // 1 readable, 2 writable, 4 failed
        for (u_int i = 0; i < readable.fd_count; ++i)
            ready[bySocket[readable.fd_array[i]]] |= 1;
        for (u_int i = 0; i < writable.fd_count; ++i)
            ready[bySocket[writable.fd_array[i]]] |= 2;
        for (u_int i = 0; i < failed.fd_count; ++i)
            ready[bySocket[failed.fd_array[i]]] |= 4;
        for (const auto& [exchange, how] : ready)
            exchange->Advance(how & 1, how & 2, how & 4);
    }

    // Notes the time each part that connected since the last look took to connect; true when any
    // part of the check has connected.
    bool NoteConnections(Running& check, ULONGLONG now)
    {
        bool any = false;
        for (std::size_t part = 0; part < check.exchanges.size(); ++part) {
            const HttpExchange* exchange = check.exchanges[part].get();
            if (exchange && exchange->Connected() && !check.connected[part]) {
                check.connected[part] = true;
                connectTimes_.Add(static_cast<unsigned>(now - check.start));
            }
            any = any || check.connected[part];
        }
        return any;
    }

    static bool WaitsForKnock(const Running& check, std::size_t part)
    {
        return check.job.knock && part > 0 && check.job.parts[part].startsAfter < 0;
    }

    // The kind that proved itself ends the parts of the other kinds; a part that waits for another
    // (or for the knock) starts or ends as its CheckPart (or its job) says.
    void Settle(Running& check)
    {
        const std::vector<CheckPart>& parts = check.job.parts;
        for (std::size_t part = 0; part < parts.size() && !check.provenKind; ++part)
            if (parts[part].kind && check.exchanges[part] && check.exchanges[part]->Proved())
                check.provenKind = parts[part].kind;
        const bool knocked = check.exchanges[0] && check.exchanges[0]->Connected();
        const bool knockFailed = check.job.knock && check.ended[0] && !knocked;
        for (std::size_t part = 0; part < parts.size(); ++part) {
            if (check.ended[part])
                continue;
            if (check.provenKind && parts[part].kind && parts[part].kind != check.provenKind) {
                check.exchanges[part].reset();
                check.started[part] = check.ended[part] = true;
            } else if (!check.started[part] && knockFailed) {
                check.started[part] = check.ended[part] = true;
            } else if (!check.started[part] && WaitsForKnock(check, part)) {
                if (knocked)
                    StartPart(check, part);
            } else if (!check.started[part]) {
                const auto after = static_cast<std::size_t>(parts[part].startsAfter);
                const HttpExchange* earlier = check.exchanges[after].get();
                const bool failed = check.ended[after] && !(earlier && earlier->Proved());
                if (parts[part].ifFailed ? failed : earlier && earlier->Answered())
                    StartPart(check, part);
                else if (check.ended[after])
                    check.started[part] = check.ended[part] = true;
            }
        }
    }

    void FinishEnded()
    {
        const ULONGLONG now = GetTickCount64();
        const bool peersQuick = connectTimes_.Quick();
        for (auto check = running_.begin(); check != running_.end();) {
            for (std::size_t part = 0; part < check->exchanges.size(); ++part) {
                const HttpExchange* exchange = check->exchanges[part].get();
                if (!check->ended[part] && exchange && exchange->Done()) {
                    check->ended[part] = true;
                    check->results[part] = {exchange->Answer(), static_cast<unsigned>(now - check->start),
                                            exchange->Proved()};
                }
            }
            Settle(*check);
            const bool allEnded = std::all_of(check->ended.begin(), check->ended.end(), [](bool ended) { return ended; });
            const bool cancelled = Cancelled(check->job);
            const bool connected = NoteConnections(*check, now);
            const unsigned giveUpMs = check->job.unconnectedGiveUpMs;
            const bool givenUp =
                !connected && giveUpMs && now >= check->start + giveUpMs && (peersQuick || check->job.knock);
            if (!cancelled && !allEnded && !givenUp && now < check->start + check->job.limitMs) {
                ++check;
                continue;
            }
            for (std::size_t part = 0; part < check->exchanges.size(); ++part) {
                check->results[part].connected = check->connected[part];
                if (!check->ended[part] && check->exchanges[part] && check->job.parts[part].counted)
                    check->results[part].answer = check->exchanges[part]->Answer();
            }
            CheckJob job = std::move(check->job);
            std::vector<PartResult> results = std::move(check->results);
            check = running_.erase(check); // its sockets close here
            if (!cancelled && job.done)
                RunGuarded([&] { job.done(results); });
            --shared_->pending;
        }
    }

    static bool Cancelled(const CheckJob& job) { return job.cancelled && job.cancelled->load(); }

    template <typename Work>
    static void RunGuarded(const Work& work)
    {
        try {
            work();
        } catch (...) {
            // out of memory: what that piece was to deliver is lost
        }
    }

    std::shared_ptr<CheckEngine::Shared> shared_;
    AsideThread& aside_;
    std::deque<CheckJob> waiting_;
    std::list<Running> running_;
    std::uint64_t serial_ = 0;
    ConnectTimes connectTimes_;
    CheckSockets sets_[3]; // readable, writable, failed
};

unsigned WINAPI RunLoop(void* loop)
{
    const std::unique_ptr<Loop> owned(static_cast<Loop*>(loop));
    owned->Run();
    return 0;
}

} // namespace

CheckEngine::CheckEngine() : shared_(std::make_shared<Shared>())
{
    if (!shared_->wake)
        throw std::runtime_error("Thread creation error: " + SystemErrorText(GetLastError()));
    thread_ = StartThread(&RunLoop, std::make_unique<Loop>(shared_, aside_));
}

CheckEngine::~CheckEngine()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->ending = true;
    }
    SetEvent(shared_->wake.get());
    WaitForSingleObject(thread_.get(), INFINITE);
}

void CheckEngine::Submit(CheckJob job)
{
    ++shared_->pending;
    const std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->submitted.push_back(std::move(job));
    SetEvent(shared_->wake.get());
}

void CheckEngine::RunAside(std::function<std::function<void()>()> work)
{
    aside_.Run([shared = shared_, work = std::move(work)] {
        std::function<void()> continuation = work();
        if (!continuation)
            return;
        const std::lock_guard<std::mutex> hold(shared->lock);
        shared->continuations.push_back(std::move(continuation));
        SetEvent(shared->wake.get());
    });
}

std::size_t CheckEngine::PeakRunning()
{
    return peakRunning.load();
}

std::size_t CheckEngine::Pending() const
{
    return shared_->pending.load();
}
