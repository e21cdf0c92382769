#include "Log.h"

#include <algorithm>

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr std::size_t kMostQueuedBytes = 4 * 1024 * 1024;
constexpr std::size_t kMostFieldBytes = 256;

// `line` with the UTC time before it and a line feed after it.
std::string Stamped(const std::string& line)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    char millisText[8];
    std::snprintf(millisText, sizeof millisText, ".%03dZ ", static_cast<int>(millis));
    return stamp + std::string(millisText) + line + "\n";
}

class LogWriter {
public:
    LogWriter() { std::thread([this] { Write(); }).detach(); } // lives as long as the process

    void Add(std::string line)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (queuedBytes_ + line.size() > kMostQueuedBytes) {
            ++dropped_;
            return;
        }
        queuedBytes_ += line.size();
        queue_.push_back(std::move(line));
        waiting_.notify_one();
    }

    void Flush(std::chrono::milliseconds patience)
    {
        std::unique_lock<std::mutex> hold(lock_);
        written_.wait_for(hold, patience, [this] { return queue_.empty() && !writing_; });
    }

private:
    void Write()
    {
        for (;;) {
            std::string batch;
            {
                std::unique_lock<std::mutex> hold(lock_);
                writing_ = false;
                written_.notify_all();
                waiting_.wait(hold, [this] { return !queue_.empty(); });
                if (dropped_) {
                    batch = Stamped(std::to_string(dropped_) + " log lines dropped: standard output did not take them");
                    dropped_ = 0;
                }
                while (!queue_.empty()) {
                    batch += queue_.front();
                    queue_.pop_front();
                }
                queuedBytes_ = 0;
                writing_ = true;
            }
            for (std::size_t done = 0; done < batch.size();) {
                const ssize_t wrote = ::write(STDOUT_FILENO, batch.data() + done, batch.size() - done);
                if (wrote <= 0) {
                    // Standard output is gone: the lines are lost and counted, the service goes on.
                    const std::size_t lost = static_cast<std::size_t>(
                        std::count(batch.begin() + static_cast<std::ptrdiff_t>(done), batch.end(), '\n'));
                    const std::lock_guard<std::mutex> hold(lock_);
                    dropped_ += lost;
                    break;
                }
                done += static_cast<std::size_t>(wrote);
            }
        }
    }

    std::mutex lock_;
    std::condition_variable waiting_, written_;
    std::deque<std::string> queue_;
    std::size_t queuedBytes_ = 0;
    std::size_t dropped_ = 0;
    bool writing_ = false;

};

LogWriter& Writer()
{
    static LogWriter* writer = new LogWriter; // never destroyed: its thread may still be writing at exit
    return *writer;
}

} // namespace

void LogLine(const std::string& line)
{
    Writer().Add(Stamped(line));
}

void FlushLog(std::chrono::milliseconds patience)
{
    Writer().Flush(patience);
}

std::string LogField(std::string_view text)
{
    if (text.empty())
        return "\"\"";
    if (text == "-")
        return "\\x2d";
    std::string field;
    for (const char c : text.substr(0, kMostFieldBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte > 0x7E || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            field += escaped;
        } else {
            field += c;
        }
    }
    if (text.size() > kMostFieldBytes)
        field += "...";
    return field;
}
