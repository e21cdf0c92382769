#include "verify/AsideThread.h"

#include "win/StartThread.h"
#include "win/WinsockSession.h"

#include <deque>
#include <mutex>
#include <stdexcept>

struct AsideThread::Shared {
    std::mutex lock;
    std::deque<std::function<void()>> work;
    bool ending = false;
    UniqueKernelHandle wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};

    static unsigned WINAPI Run(void* start)
    {
        const std::unique_ptr<std::shared_ptr<Shared>> self(static_cast<std::shared_ptr<Shared>*>(start));
        Shared& shared = **self;
        const WinsockSession winsock(MAKEWORD(2, 2)); // for the lookups
        for (;;) {
            std::function<void()> next;
            {
                const std::lock_guard<std::mutex> hold(shared.lock);
                if (shared.ending)
                    return 0;
                if (!shared.work.empty()) {
                    next = std::move(shared.work.front());
                    shared.work.pop_front();
                }
            }
            if (!next) {
                WaitForSingleObject(shared.wake.get(), INFINITE);
                continue;
            }
            try {
                next();
            } catch (...) {
                // out of memory: that piece is lost, the next one runs
            }
        }
    }
};

AsideThread::AsideThread() : shared_(std::make_shared<Shared>())
{
    if (!shared_->wake)
        throw std::runtime_error("Thread creation error: " + SystemErrorText(GetLastError()));
    StartThread(&Shared::Run, std::make_unique<std::shared_ptr<Shared>>(shared_)); // never waited for
}

AsideThread::~AsideThread()
{
    const std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->ending = true;
    shared_->work.clear();
    SetEvent(shared_->wake.get());
}

void AsideThread::Run(std::function<void()> work)
{
    const std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->work.push_back(std::move(work));
    SetEvent(shared_->wake.get());
}
