#pragma once
// A browser under load for the tests and the benchmarks: it asks for a page every 50 ms, the way
// the system's settings say at that moment (a new session each time, its connection closed after
// the answer), on a thread of its own until it goes, and keeps when each request began and which
// caller the service's page named (none where the page names none).

#include "win/UniqueHandle.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class BrowsingLoad {
public:
    explicit BrowsingLoad(std::string url) : thread_([this, url = std::move(url)] {
        while (!stop_) {
            const ULONGLONG began = GetTickCount64();
            const std::string page = Fetch(url);
            const std::size_t at = page.find("REMOTE_ADDR = ");
            {
                const std::lock_guard<std::mutex> hold(lock_);
                asked_.push_back({began, at == std::string::npos ? "" : page.substr(at + 14, page.find('\n', at) - at - 14)});
            }
            Sleep(50);
        }
    })
    {
    }
    ~BrowsingLoad()
    {
        stop_ = true;
        thread_.join();
    }
    BrowsingLoad(const BrowsingLoad&) = delete;
    BrowsingLoad& operator=(const BrowsingLoad&) = delete;

    // When the last request begun at `from` or later that the page says came from `caller` began.
    std::optional<ULONGLONG> LastFrom(const std::string& caller, ULONGLONG from)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        std::optional<ULONGLONG> last;
        for (const Asked& asked : asked_)
            if (asked.caller == caller && asked.began >= from)
                last = asked.began;
        return last;
    }

private:
    static std::string Fetch(const std::string& url)
    {
        const UniqueHInternet internet(InternetOpenA("Mozilla/5.0 (Test)", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        const char headers[] = "Connection: close\r\n";
        const UniqueHInternet request(internet ? InternetOpenUrlA(internet.get(), url.c_str(), headers, sizeof headers - 1,
                                                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                                      INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI, 0)
                                               : nullptr);
        std::string page;
        char buffer[4096];
        for (DWORD count = 0; request && InternetReadFile(request.get(), buffer, sizeof buffer, &count) && count > 0;)
            page.append(buffer, count);
        return page;
    }

    struct Asked {
        ULONGLONG began;
        std::string caller;
    };
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<Asked> asked_;
    std::thread thread_;
};
