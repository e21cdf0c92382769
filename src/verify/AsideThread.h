#pragma once
// A thread of its own for blocking work that the check engine must not wait for (name lookups,
// a request through the platform's client), one piece after the other. It is never waited for:
// when the object goes, the thread ends after the piece it runs, however long that takes (a
// lookup cannot be cut short), and the pieces still waiting are dropped. Any thread.

#include <functional>
#include <memory>

class AsideThread {
public:
    // Raises std::runtime_error when no thread can be had.
    AsideThread();
    ~AsideThread();
    AsideThread(const AsideThread&) = delete;
    AsideThread& operator=(const AsideThread&) = delete;

    void Run(std::function<void()> work);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
