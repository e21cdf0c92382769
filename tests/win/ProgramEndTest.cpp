#include "EchoReplies.h"
#include "ListTestSupport.h"
#include "TestService.h"

#include "core/ServiceUrl.h"
#include "probe/WorkerThread.h"

namespace {

// Starts the program as a user starts it, against the project's service.
PROCESS_INFORMATION StartProgram(const TestService& service)
{
    const char* program = getenv("ZARNU_PROGRAM");
    if (!program)
        throw std::runtime_error("ZARNU_PROGRAM names no program");
    SetEnvironmentVariableA("ZARNU_SERVICE_HOST", service.Host().c_str());
    std::string commandLine = "\"" + TestService::WindowsPath(program) + "\"";
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        throw std::runtime_error("cannot start " + commandLine);
    CloseHandle(started.hThread);
    return started;
}

// The program, running with its main window shown.
class RunningProgram {
public:
    explicit RunningProgram(const TestService& service)
    {
        const PROCESS_INFORMATION started = StartProgram(service);
        process_.reset(started.hProcess);
        for (int i = 0; i < 200 && !window_; ++i) {
            window_ = FindWindowA("TForm1", nullptr);
            DWORD owner = 0;
            if (window_ && (GetWindowThreadProcessId(window_, &owner), owner != started.dwProcessId ||
                            !IsWindowVisible(window_)))
                window_ = nullptr;
            if (!window_)
                Sleep(50);
        }
        if (!window_)
            throw std::runtime_error("the main window did not appear");
        WaitForInputIdle(process_.get(), 5000);
    }

    HWND Window() const { return window_; }
    HANDLE Process() const { return process_.get(); }
    HWND Control(const char* windowClass, const char* caption = nullptr) const
    {
        return FindWindowExA(window_, nullptr, windowClass, caption);
    }

    // Refreshes the list, and double-clicks its first row once the refresh has listed one, as a
    // user does with the mouse.
    bool UseFirstListedProxy() const
    {
        SendMessageA(Control("Button", "&Refresh Proxy List"), BM_CLICK, 0, 0);
        ListView list;
        list.Attach(Control("SysListView32"));
        for (int i = 0; i < 200 && list.ItemCount() == 0; ++i)
            Sleep(50);
        RECT header{};
        GetWindowRect(list.Header(), &header);
        const LPARAM row = MAKELPARAM(20, header.bottom - header.top + 6);
        PostMessageA(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, row);
        PostMessageA(list.Handle(), WM_LBUTTONUP, 0, row);
        PostMessageA(list.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, row);
        PostMessageA(list.Handle(), WM_LBUTTONUP, 0, row);
        for (int i = 0; i < 200 && raw::GetText(SettingsKey, "ProxyServer") == "corp:3128"; ++i)
            Sleep(50);
        return raw::GetText(SettingsKey, "ProxyServer") != "corp:3128";
    }

private:
    UniqueKernelHandle process_;
    HWND window_ = nullptr;
};

// A proxy the user has set up but switched off (switched on, it would carry the program's own
// download of the list too).
void SetUsersProxy()
{
    raw::RemoveValue(SettingsKey, SavedProxyValue);
    raw::SetNumber(SettingsKey, "ProxyEnable", 0);
    raw::SetText(SettingsKey, "ProxyServer", "corp:3128");
}

// A service whose list holds one proxy, for a program that uses it over the user's own proxy.
std::unique_ptr<TestService> ServiceOfOneProxy()
{
    auto service = std::make_unique<TestService>();
    service->Serve("paidencrypt.txt", TestService::EncodedProxyList("127.0.0.1:8080;Germany\r\n"));
    SetUsersProxy();
    return service;
}

// The settings name the program's relay, which ended with it: the listed proxy, of no kind its
// check could find, went through the relay, as every proxy does with "Route Through Zarnu".
TEST(ProgramEnd, AKilledRunIsRepairedBeforeTheNextStartShowsItsWindow)
{
    for (const bool relayed : {false, true}) {
        SCOPED_TRACE(relayed ? "Route Through Zarnu" : "of unknown kind");
        const auto service = ServiceOfOneProxy();
        raw::SetNumber(SettingsKey, "Zarnurelay", relayed ? 1 : 0);
        {
            RunningProgram killed(*service);
            ASSERT_TRUE(killed.UseFirstListedProxy());
            const std::string server = raw::GetText(SettingsKey, "ProxyServer").value_or("");
            EXPECT_TRUE(server.rfind("127.0.0.1:", 0) == 0 && server != "127.0.0.1:8080") << server;
            EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 1u);
            TerminateProcess(killed.Process(), 9);
            ASSERT_EQ(WaitForSingleObject(killed.Process(), 10000), WAIT_OBJECT_0);
        }
        EXPECT_NE(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128"); // nothing ran at the end

        RunningProgram next(*service); // returns once the window shows
        EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128");
        EXPECT_FALSE(raw::Get(SettingsKey, SavedProxyValue));
        PostMessageA(next.Window(), WM_CLOSE, 0, 0);
        ASSERT_EQ(WaitForSingleObject(next.Process(), 10000), WAIT_OBJECT_0);
        EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128");
    }
    raw::RemoveValue(SettingsKey, "Zarnurelay");
}

TEST(ProgramEnd, ASecondStartChangesNothingAndBringsTheRunningWindowToTheFront)
{
    const auto service = ServiceOfOneProxy();
    RunningProgram first(*service);
    ASSERT_TRUE(first.UseFirstListedProxy());
    const std::string names[] = {"ProxyEnable", "ProxyServer", "ProxyOverride", SavedProxyValue};
    std::vector<std::optional<raw::Value>> before;
    for (const std::string& name : names)
        before.push_back(raw::Get(SettingsKey, name));

    // Another window in front, as when the user starts the program again from somewhere else.
    const HWND other = CreateWindowExA(0, "STATIC", "elsewhere", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                       100, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    // The window system takes its time to tell which window is in front.
    const auto inFront = [](HWND window) {
        for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i)
            Sleep(50);
        return GetForegroundWindow() == window;
    };
    ASSERT_TRUE(inFront(other));
    const PROCESS_INFORMATION second = StartProgram(*service);
    const UniqueKernelHandle secondProcess(second.hProcess);
    ASSERT_EQ(WaitForSingleObject(secondProcess.get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(inFront(first.Window()));
    DestroyWindow(other);
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const auto now = raw::Get(SettingsKey, names[i]);
        ASSERT_EQ(now.has_value(), before[i].has_value()) << names[i];
        if (now) {
            EXPECT_EQ(now->bytes, before[i]->bytes) << names[i];
        }
    }

    PostMessageA(first.Window(), WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(first.Process(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(raw::GetText(SettingsKey, "ProxyServer"), "corp:3128");
}

TEST(ProgramEnd, ClosingDoesNotWaitForProbesStillRunning)
{
    TestService service;
    service.Serve("paidencrypt.txt",
                  TestService::EncodedProxyList("127.0.0.1:8080;Germany\r\n127.0.0.2:80;Japan\r\n"));
    for (const char* name : {"ProxyEnable", "ProxyServer", SavedProxyValue})
        raw::RemoveValue(SettingsKey, name);

    EchoRepliesOff silence; // the probes wait for their whole timeout of 4000 ms
    RunningProgram program(service);
    SendMessageA(program.Control("Button", "&Refresh Proxy List"), BM_CLICK, 0, 0);
    ASSERT_EQ(service.Requests(ProxyListPath).size(), 1u); // the probes are running
    PostMessageA(program.Window(), WM_CLOSE, 0, 0);

    // Well before the probes' timeout, and without a crash.
    ASSERT_EQ(WaitForSingleObject(program.Process(), 3000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(program.Process(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
}

// A worker whose body only signals that it ran.
class SignallingWorker : public WorkerThread {
public:
    explicit SignallingWorker(HANDLE ran) : ran_(ran) {}

protected:
    void Execute() override { SetEvent(ran_); }

private:
    HANDLE ran_;
};

// Last: once termination has begun in this test program, no completion runs in it again.
TEST(ProgramEnd, AWorkerFinishingAfterCompletionsEndedKeepsItsIdUntilAskedToStop)
{
    const UniqueKernelHandle ran(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto* worker = new SignallingWorker(ran.get());
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [](WorkerThread&) { ADD_FAILURE() << "a completion ran after the end"; };
    const DWORD threadId = worker->ThreadID();
    RegisterWorker(threadId);
    const UniqueKernelHandle thread(OpenThread(SYNCHRONIZE, FALSE, threadId));
    Application.MarkTerminating(); // as at program end, for good: this test comes last
    worker->Start();
    ASSERT_EQ(WaitForSingleObject(ran.get(), 10000), WAIT_OBJECT_0);

    // The thread lives on under its registered id, with a queue for the stop request...
    ASSERT_EQ(WaitForSingleObject(thread.get(), 200), WAIT_TIMEOUT)
        << "the worker's thread ended with its id still registered";
    for (int i = 0; i < 1000 && !PostThreadMessageA(threadId, WM_NULL, 0, 0); ++i)
        Sleep(5);
    EXPECT_EQ(RegisteredWorkerSlots(), 1u);

    // ...which reaches it and ends it.
    StopAllWorkers();
    EXPECT_EQ(RegisteredWorkerSlots(), 0u);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
}

} // namespace
