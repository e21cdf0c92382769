#include "verify/SpeedTests.h"

#include "core/ProxyWorks.h"
#include "verify/ProxyCheck.h"

#include <utility>

namespace {

unsigned limitMs = kSpeedTestLimitMs;

} // namespace

SpeedTests::~SpeedTests()
{
    if (cancelled_)
        *cancelled_ = true;
}

unsigned SpeedTests::LimitTestsTo(unsigned milliseconds)
{
    return std::exchange(limitMs, milliseconds);
}

void SpeedTests::Start(std::vector<Test> tests, std::string service, std::string userAgent, SpeedHandler onSpeed)
{
    if (!machinery_)
        machinery_ = std::make_unique<Machinery>();
    if (cancelled_)
        *cancelled_ = true;
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    waiting_.assign(tests.begin(), tests.end());
    running_ = 0;
    service_ = std::move(service);
    userAgent_ = std::move(userAgent);
    onSpeed_ = std::move(onSpeed);
    StartNext();
}

void SpeedTests::StartNext()
{
    while (running_ < kAtOnce && !waiting_.empty()) {
        const Test test = waiting_.front();
        waiting_.pop_front();
        ++running_;
        const auto cancelled = cancelled_;
        CheckJob job = SpeedTestJob(
            {test.proxy, test.kind, service_, userAgent_, limitMs},
            [this, mailbox = &machinery_->mailbox, cancelled, key = test.key](std::optional<unsigned> kBps) {
                mailbox->Post([this, cancelled, key, kBps] {
                    if (*cancelled)
                        return; // a later round's, or the tests have gone
                    --running_;
                    StartNext();
                    onSpeed_(key, kBps); // last: the handler may start a new round
                });
            });
        job.cancelled = cancelled;
        machinery_->engine.Submit(std::move(job));
    }
}
