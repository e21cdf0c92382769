#include "verify/ProxyCheckPool.h"

#include "core/IpCheckPage.h"
#include "core/ServiceUrl.h"
#include "win/Application.h"

#include <memory>
#include <utility>

namespace {

constexpr std::size_t kStartsPerStep = 32;
constexpr UINT kWaitForRoomMs = 50;
unsigned checkLimitMs = kProxyCheckLimitMs;

class Task : public WorkerThread {
public:
    explicit Task(std::function<void()> body) : body_(std::move(body)) {}

protected:
    void Execute() override { body_(); }

private:
    std::function<void()> body_;
};

} // namespace

unsigned ProxyCheckPool::LimitChecksTo(unsigned milliseconds)
{
    return std::exchange(checkLimitMs, milliseconds);
}

ProxyCheckPool::~ProxyCheckPool()
{
    for (WorkerThread* worker : running_)
        worker->OnTerminate = nullptr;
}

void ProxyCheckPool::Begin(RequestWay way, VerdictHandler onVerdict, std::function<bool()> probing)
{
    ++batch_;
    waiting_.clear();
    way_ = std::move(way);
    service_ = ServiceHost();
    onVerdict_ = std::move(onVerdict);
    probing_ = std::move(probing);
    addressKnown_ = false;
    usersAddress_.reset();
    LearnUsersAddress();
}

void ProxyCheckPool::Add(std::uint64_t rowId, std::string proxy)
{
    waiting_.push_back({rowId, std::move(proxy)});
    if (!timer_.Running())
        ScheduleStart(USER_TIMER_MINIMUM);
}

bool ProxyCheckPool::Run(std::function<void()> body, std::function<void()> done)
{
    if (Application.Terminated())
        return false;
    std::unique_ptr<Task> task;
    try {
        task = std::make_unique<Task>(std::move(body));
    } catch (const EThreadCreation&) {
        return false;
    }
    task->FreeOnTerminate = true;
    task->OnTerminate = [this, done = std::move(done)](WorkerThread& sender) {
        running_.erase(&sender);
        done();
    };
    running_.insert(task.get());
    task.release()->Start();
    return true;
}

void ProxyCheckPool::LearnUsersAddress()
{
    auto address = std::make_shared<std::optional<std::string>>();
    const unsigned batch = batch_;
    const bool started = Run([address, service = service_, way = way_] {
        const PageFetch page = FetchIpCheckPage(service, way);
        if (page.fetched)
            *address = CallerAddress(page.page);
    },
                             [this, address, batch] {
                                 if (batch != batch_)
                                     return;
                                 usersAddress_ = *address;
                                 addressKnown_ = true;
                                 ScheduleStart(USER_TIMER_MINIMUM);
                             });
    if (!started) // the checks go on without it: no proxy is judged on traces alone
        addressKnown_ = true;
}

void ProxyCheckPool::StartWaiting()
{
    timer_.Stop();
    if (Application.Terminated())
        waiting_.clear();
    const std::size_t most = probing_ && probing_() ? 0 : kMostAtOnce;
    for (std::size_t started = 0; addressKnown_ && !waiting_.empty() && running_.size() < most; ++started) {
        if (started == kStartsPerStep) { // the rest after the window's messages
            ScheduleStart(USER_TIMER_MINIMUM);
            return;
        }
        const Check check = waiting_.front();
        auto verdict = std::make_shared<ProxyVerdict>();
        const unsigned batch = batch_;
        const bool run = Run([verdict, check, service = service_, users = usersAddress_, limit = checkLimitMs] {
            *verdict = CheckProxy(check.proxy, service, users, limit);
        },
                             [this, verdict, check, batch] {
                                 if (batch == batch_ && onVerdict_)
                                     onVerdict_(check.rowId, *verdict);
                                 if (!timer_.Running())
                                     ScheduleStart(USER_TIMER_MINIMUM);
                             });
        if (!run)
            break; // a running one makes room when it ends
        waiting_.pop_front();
    }
    if (addressKnown_ && !waiting_.empty())
        ScheduleStart(kWaitForRoomMs); // room comes as checks, and probes, end
}

void ProxyCheckPool::ScheduleStart(UINT afterMs)
{
    timer_.Start(afterMs, [this] { StartWaiting(); });
}
