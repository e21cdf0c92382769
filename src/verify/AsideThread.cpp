#include "verify/AsideThread.h"

#include "win/SystemErrorText.h"
#include "win/UniqueHandle.h"
#include "win/WinsockSession.h"

#include <process.h>

#include <deque>
#include <mutex>
#include <stdexcept>

namespace {

constexpr unsigned kStackReservation = 256 * 1024;

} // namespace

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
    auto* start = new std::shared_ptr<Shared>(shared_);
    const UniqueKernelHandle thread(shared_->wake ? reinterpret_cast<HANDLE>(_beginthreadex(
                                                        nullptr, kStackReservation, &Shared::Run, start,
                                                        STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr))
                                                  : nullptr);
    if (!thread) {
        delete start;
        throw std::runtime_error("Thread creation error: " + SystemErrorText(GetLastError()));
    }
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
