#include "verify/ProxyCheckPool.h"

#include "core/IpCheckPage.h"
#include "core/ServiceUrl.h"
#include "win/Application.h"

#include <memory>

namespace {

class Task : public WorkerThread {
public:
    explicit Task(std::function<void()> body) : body_(std::move(body)) {}

protected:
    void Execute() override { body_(); }

private:
    std::function<void()> body_;
};

} // namespace

ProxyCheckPool::~ProxyCheckPool()
{
    for (WorkerThread* worker : running_)
        worker->OnTerminate = nullptr;
}

void ProxyCheckPool::Begin(RequestWay way, VerdictHandler onVerdict)
{
    ++batch_;
    waiting_.clear();
    way_ = std::move(way);
    onVerdict_ = std::move(onVerdict);
    addressKnown_ = false;
    usersAddress_.reset();
    LearnUsersAddress();
}

void ProxyCheckPool::Add(std::uint64_t rowId, std::string proxy)
{
    waiting_.push_back({rowId, std::move(proxy)});
    StartWaiting();
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
    const std::string service = ServiceHost();
    const unsigned batch = batch_;
    const bool started = Run([address, service, way = way_] {
        const PageFetch page = FetchIpCheckPage(service, way);
        if (page.fetched)
            *address = CallerAddress(page.page);
    },
                             [this, address, batch] {
                                 if (batch != batch_)
                                     return;
                                 usersAddress_ = *address;
                                 addressKnown_ = true;
                                 StartWaiting();
                             });
    if (!started) { // the checks go on without it: no proxy is judged on traces alone
        addressKnown_ = true;
        StartWaiting();
    }
}

void ProxyCheckPool::StartWaiting()
{
    if (Application.Terminated())
        waiting_.clear();
    while (addressKnown_ && !waiting_.empty() && running_.size() < kMostAtOnce) {
        const Check check = waiting_.front();
        auto verdict = std::make_shared<ProxyVerdict>();
        const unsigned batch = batch_;
        const bool started = Run([verdict, check, service = ServiceHost(), users = usersAddress_] {
            *verdict = CheckProxy(check.proxy, service, users);
        },
                                 [this, verdict, check, batch] {
                                     if (batch == batch_ && onVerdict_)
                                         onVerdict_(check.rowId, *verdict);
                                     StartWaiting();
                                 });
        if (!started)
            return; // a running one makes room when it ends
        waiting_.pop_front();
    }
}
