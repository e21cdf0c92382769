#pragma once

#include "relay/Relay.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

// The failures the relay tells, "proxy: why", as they come on its thread (right after the browser
// has been answered, or while it is).
class Failures {
public:
    Relay::OpeningFailed Recorder()
    {
        return [this](const std::string& proxy, PathFailure failure) {
            const std::lock_guard<std::mutex> hold(lock_);
            told_.push_back(proxy + ": " + PathFailureText(failure));
        };
    }
    // Once `count` have come, or after 5 s.
    std::vector<std::string> Told(std::size_t count)
    {
        for (int i = 0; i < 500; ++i) {
            {
                const std::lock_guard<std::mutex> hold(lock_);
                if (told_.size() >= count)
                    return told_;
            }
            Sleep(10);
        }
        const std::lock_guard<std::mutex> hold(lock_);
        return told_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> told_;
};
