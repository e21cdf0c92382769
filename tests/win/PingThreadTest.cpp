#include "probe/PingThrd.h"

#include "EchoReplies.h"
#include "MessagePump.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// What a completion handler saw, copied while the worker waited for it.
struct Completion {
    bool onUiThread = false;
    bool workerThreadAlive = false;
    std::uint32_t threadId = 0;
    std::string targetIp, replyAddress, replyHostName, errorText;
    std::int32_t replyCount = -1;
    std::uint32_t errorCode = 0, replyStatus = 0;
    std::uint16_t replyDataSize = 0;
};

bool ThreadAlive(std::uint32_t threadId)
{
    const UniqueKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, threadId));
    return thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
}

// Counts the workers that have been freed.
int freedWorkers = 0;
class CountedPingThread : public TPingThread {
public:
    ~CountedPingThread() override { ++freedWorkers; }
};

class PingThreadTest : public testing::Test {
protected:
    void SetUp() override { freedWorkers = 0; }

    // Creates and starts a worker the way the windows do, with the given target.
    CountedPingThread& StartWorker(const std::string& target, bool resolveNames = false,
                                   std::uint32_t timeoutMs = 4000)
    {
        auto* worker = new CountedPingThread;
        worker->SourceLine = target + ":8080";
        RegisterWorker(worker->ThreadID());
        worker->FreeOnTerminate = true;
        worker->OnTerminate = [this](WorkerThread& sender) { Record(static_cast<TPingThread&>(sender)); };
        worker->Target = target;
        worker->TimeoutMs = timeoutMs;
        worker->Ttl = 32;
        worker->ResolveNames = resolveNames;
        worker->Start();
        ++started_;
        return *worker;
    }

    // Handles messages until every started worker has completed and been freed.
    void AwaitCompletions()
    {
        PumpMessagesUntil([&] {
            return static_cast<int>(completions.size()) >= started_ && freedWorkers >= started_;
        });
        ASSERT_EQ(static_cast<int>(completions.size()), started_);
        ASSERT_EQ(freedWorkers, started_);
    }

    void Record(TPingThread& worker)
    {
        Completion seen;
        seen.onUiThread = GetCurrentThreadId() == uiThread_;
        seen.workerThreadAlive = ThreadAlive(worker.ThreadID());
        seen.threadId = worker.ThreadID();
        seen.targetIp = worker.TargetIp;
        seen.replyAddress = worker.ReplyAddress;
        seen.replyHostName = worker.ReplyHostName;
        seen.errorText = worker.ErrorText;
        seen.replyCount = worker.ReplyCount;
        seen.errorCode = worker.ErrorCode;
        seen.replyStatus = worker.ReplyStatus;
        seen.replyDataSize = worker.ReplyDataSize;
        completions.push_back(seen);
    }

    std::vector<Completion> completions;

private:
    const DWORD uiThread_ = GetCurrentThreadId();
    int started_ = 0;
};

} // namespace

TEST_F(PingThreadTest, EachWorkerCompletesOnceOnTheUiThreadBeforeItsThreadEnds)
{
    const std::uint32_t answered = StartWorker("127.0.0.1").ThreadID();
    const std::uint32_t unresolvable = StartWorker("no-such-proxy.invalid").ThreadID();
    const std::uint32_t padded = StartWorker(" \t127.0.0.2 \t").ThreadID();
    AwaitCompletions();

    for (const Completion& seen : completions) {
        EXPECT_TRUE(seen.onUiThread);
        EXPECT_TRUE(seen.workerThreadAlive);
    }
    auto find = [&](std::uint32_t id) {
        for (const Completion& seen : completions)
            if (seen.threadId == id)
                return seen;
        ADD_FAILURE() << "no completion for thread " << id;
        return Completion{};
    };

    const Completion reply = find(answered);
    EXPECT_EQ(reply.replyCount, 1);
    EXPECT_EQ(reply.errorCode, 0u);
    EXPECT_EQ(reply.errorText, "");
    EXPECT_EQ(reply.targetIp, "127.0.0.1");
    EXPECT_EQ(reply.replyAddress, "127.0.0.1");
    EXPECT_EQ(reply.replyHostName, "127.0.0.1"); // no reverse lookup asked for
    EXPECT_EQ(reply.replyStatus, 0u);
    EXPECT_EQ(reply.replyDataSize, 56);

    const Completion nameless = find(unresolvable);
    EXPECT_EQ(nameless.replyCount, 0);
    EXPECT_EQ(nameless.errorCode, 11018u);
    EXPECT_EQ(nameless.errorText, "Bad Destination");
    EXPECT_EQ(nameless.targetIp, "");
    EXPECT_EQ(nameless.replyAddress, "");

    const Completion trimmed = find(padded);
    EXPECT_EQ(trimmed.replyCount, 1);
    EXPECT_EQ(trimmed.targetIp, "127.0.0.2");
    EXPECT_EQ(trimmed.replyAddress, "127.0.0.2");

    // Completed workers leave no id behind for the stop request at program end.
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
}

TEST_F(PingThreadTest, AskedForNamesTheReplyAddressIsLookedUp)
{
    StartWorker("127.0.0.1", /*resolveNames=*/true);
    AwaitCompletions();
    EXPECT_EQ(completions[0].replyAddress, "127.0.0.1");
    EXPECT_EQ(completions[0].replyHostName, "localhost");
}

TEST_F(PingThreadTest, NoAnswerGivesTheTimeoutStatus)
{
    EchoRepliesOff silence;
    StartWorker("127.0.0.4", false, 300);
    AwaitCompletions();
    EXPECT_EQ(completions[0].replyCount, 0);
    EXPECT_EQ(completions[0].errorCode, 11010u);
    EXPECT_EQ(completions[0].errorText, "Request timed out");
    EXPECT_EQ(completions[0].targetIp, "127.0.0.4");
    EXPECT_EQ(completions[0].replyAddress, "");
}

namespace {

// A worker whose body is given by the test.
class ScriptedWorker : public WorkerThread {
public:
    explicit ScriptedWorker(std::function<void()> body) : body_(std::move(body)) {}

protected:
    void Execute() override { body_(); }

private:
    std::function<void()> body_;
};

} // namespace

TEST(WorkerThread, AnExceptionInTheBodyIsDroppedAndTheCompletionStillRuns)
{
    int completed = 0;
    auto* worker = new ScriptedWorker([] { throw std::runtime_error("lost"); });
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [&](WorkerThread&) { ++completed; };
    worker->Start();
    PumpMessagesUntil([&] { return completed > 0; });
    EXPECT_EQ(completed, 1);
}

TEST(WorkerThread, NoCompletionRunsWhileTheUiThreadHandlesNoMessages)
{
    const UniqueKernelHandle bodyDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    int completed = 0;
    auto* worker = new ScriptedWorker([&] { SetEvent(bodyDone.get()); });
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [&](WorkerThread&) { ++completed; };
    const std::uint32_t threadId = worker->ThreadID();
    worker->Start();

    // Busy without retrieving messages: the worker finishes its body and then waits.
    ASSERT_EQ(WaitForSingleObject(bodyDone.get(), 10000), WAIT_OBJECT_0);
    const UniqueKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, threadId));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 200), WAIT_TIMEOUT);
    EXPECT_EQ(completed, 0);

    PumpMessagesUntil([&] { return completed > 0; });
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0); // freed and ended
}

TEST(WorkerThread, AWorkerNeverStartedEndsWithoutRunningItsBody)
{
    bool ran = false;
    auto worker = std::make_unique<ScriptedWorker>([&] { ran = true; });
    RegisterWorker(worker->ThreadID());
    const UniqueKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, worker->ThreadID()));
    worker.reset();
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
}

TEST(WorkerRegistry, StopAllWorkersEndsTheParkedWorkersAndPostsToNoThread)
{
    // A thread of another program that was given a registered id meanwhile: it reads its
    // messages, and must get no quit request.
    const auto listen = [](void*) -> DWORD {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        }
        return 42;
    };
    DWORD strangerId = 0;
    const UniqueKernelHandle stranger(CreateThread(nullptr, 0, listen, nullptr, 0, &strangerId));
    while (!PostThreadMessageA(strangerId, WM_NULL, 0, 0)) // its queue exists
        SwitchToThread();
    RegisterWorker(strangerId);

    // Two workers that ended after completions ended: parked, still registered.
    Application.MarkTerminating();
    UniqueKernelHandle parked[2];
    for (UniqueKernelHandle& thread : parked) {
        auto* worker = new ScriptedWorker([] {});
        worker->FreeOnTerminate = true;
        RegisterWorker(worker->ThreadID());
        thread.reset(OpenThread(SYNCHRONIZE, FALSE, worker->ThreadID()));
        worker->Start();
    }
    for (const UniqueKernelHandle& thread : parked)
        EXPECT_EQ(WaitForSingleObject(thread.get(), 200), WAIT_TIMEOUT);
    StopWorker(0);
    StopWorker(4);
    EXPECT_EQ(RegisteredWorkerSlots(), 3u);

    StopAllWorkers();
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
    for (const UniqueKernelHandle& thread : parked)
        EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(stranger.get(), 200), WAIT_TIMEOUT);
    PostThreadMessageA(strangerId, WM_QUIT, 0, 0);
    EXPECT_EQ(WaitForSingleObject(stranger.get(), 10000), WAIT_OBJECT_0);
    Application.ResetTermination();
    StopAllWorkers(); // empty: nothing to do
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
}
