#pragma once
// Checks run on a check engine of the test's own, waited for.

#include "verify/ProxyCheck.h"
#include "win/UniqueHandle.h"

#include <gtest/gtest.h>

#include <string>

namespace checks {

// Runs the job that `makeJob` makes of a handler of its result on `engine`, and waits for it:
// at most `patienceMs`.
template <typename Result, typename MakeJob>
Result RunJob(CheckEngine& engine, MakeJob makeJob, DWORD patienceMs)
{
    Result result{};
    const UniqueKernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    engine.Submit(makeJob([&result, &done](Result got) {
        result = std::move(got);
        SetEvent(done.get());
    }));
    EXPECT_EQ(WaitForSingleObject(done.get(), patienceMs), WAIT_OBJECT_0) << "a check went past its limit";
    return result;
}

// The service's page for a token, whole as it came through `proxy` (host:port): what a hostile
// proxy can record and answer later.
inline std::string PageThrough(CheckEngine& engine, const std::string& proxy, const std::string& service)
{
    return RunJob<std::string>(
        engine,
        [&](auto done) {
            CheckJob job;
            job.limitMs = 2000;
            job.parts.push_back({proxy, {}, "GET http://" + service + "/whatismyip.php?token=" + std::string(32, 'a') +
                                                " HTTP/1.0\r\nHost: " + service + "\r\nUser-Agent: Mozilla/5.0 (Test)\r\n\r\n"});
            job.done = [done](const std::vector<PartResult>& results) { done(results[0].answer.body); };
            return job;
        },
        5000);
}

} // namespace checks
