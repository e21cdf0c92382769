#include "Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

void LogLine(const std::string& line)
{
    static std::mutex lock;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    const std::lock_guard<std::mutex> hold(lock);
    std::printf("%s.%03dZ %s\n", stamp, static_cast<int>(millis), line.c_str());
    std::fflush(stdout);
}
