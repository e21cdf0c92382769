#include "EchoReplies.h"
#include "ListTestSupport.h"
#include "TestService.h"

namespace {

// The program itself, started as a user starts it, against the project's service.
TEST(ProgramEnd, ClosingDoesNotWaitForProbesStillRunning)
{
    const char* program = getenv("ZARNU_PROGRAM");
    ASSERT_TRUE(program) << "ZARNU_PROGRAM names no program";
    TestService service;
    service.Serve("paidencrypt.txt",
                  TestService::EncodedProxyList("127.0.0.1:8080;Germany\r\n127.0.0.2:80;Japan\r\n"));
    raw::SetNumber(SettingsKey, "ProxyEnable", 1);

    EchoRepliesOff silence; // the probes wait for their whole timeout of 4000 ms
    SetEnvironmentVariableA("ZARNU_SERVICE_HOST", service.Host().c_str());
    std::string commandLine = "\"" + TestService::WindowsPath(program) + "\"";
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
    const UniqueKernelHandle process(started.hProcess);
    CloseHandle(started.hThread);

    HWND window = nullptr;
    for (int i = 0; i < 200 && !window; ++i) {
        window = FindWindowA("TForm1", nullptr);
        DWORD owner = 0;
        if (window && (GetWindowThreadProcessId(window, &owner), owner != started.dwProcessId ||
                       !IsWindowVisible(window)))
            window = nullptr;
        if (!window)
            Sleep(50);
    }
    ASSERT_TRUE(window) << "the main window did not appear";
    WaitForInputIdle(process.get(), 5000);
    SendMessageA(FindWindowExA(window, nullptr, "Button", "&Refresh Proxy List"), BM_CLICK, 0, 0);
    ASSERT_EQ(service.Requests().size(), 1u); // the probes are running
    PostMessageA(window, WM_CLOSE, 0, 0);

    // Well before the probes' timeout, and without a crash.
    ASSERT_EQ(WaitForSingleObject(process.get(), 3000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(raw::GetNumber(SettingsKey, "ProxyEnable"), 0u);
}

} // namespace
