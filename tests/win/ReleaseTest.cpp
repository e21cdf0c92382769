#include "HostTools.h"

#include "win/Controls.h"

#include <windows.h>

namespace {

// The version information's "Comments" of the program at `path`.
std::string VersionComments(const std::string& path)
{
    DWORD ignored = 0;
    std::string info(GetFileVersionInfoSizeA(path.c_str(), &ignored), '\0');
    char* comments = nullptr;
    UINT length = 0;
    if (info.empty() || !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) ||
        !VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\Comments", reinterpret_cast<void**>(&comments), &length))
        return {};
    return std::string(comments, length > 0 ? length - 1 : 0);
}

// The text of the first edit box of `window` that holds `part`.
std::string EditHolding(HWND window, const std::string& part)
{
    for (HWND edit = FindWindowExA(window, nullptr, "Edit", nullptr); edit; edit = FindWindowExA(window, edit, "Edit", nullptr)) {
        char text[4096] = {};
        SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        if (std::string(text).find(part) != std::string::npos)
            return text;
    }
    return {};
}

// A release built for an operator's service (scripts/release --service 127.0.0.1:18080), started
// as a user starts it, without any override of its service, lists the proxies of a real
// zarnu-service there.
TEST(Release, AReleaseForAnOperatorsServiceListsItsProxies)
{
    const std::string program = host::WindowsPath(host::Environment("ZARNU_RELEASE_PROGRAM"));
    EXPECT_EQ(VersionComments(program), "Talks to the Zarnu service at 127.0.0.1:18080");

    const host::OwnFolder files("operator");
    std::ofstream(files.File("proxies.txt")) << "127.0.5.1:8080;Operatorland\nnonsense\n127.0.5.2:8080;Operatorland\n";
    std::ofstream(files.File("useragent.txt")) << "";
    std::ofstream(files.File("zarnu-service.conf"))
        << "listen = 127.0.0.1:18080\ntunnel_port = 0\nproxy_list = proxies.txt\nuser_agents = useragent.txt\n"
           "signing_key = " << host::Environment("ZARNU_SERVICE_DEMO_KEY") << "\n";
    host::Helper service("operator-service", host::Environment("ZARNU_OPERATOR_SERVICE"),
                         {"--config", files.UnixPath() + "/zarnu-service.conf"});
    for (int i = 0; i < 500 && service.Log().find("listening on") == std::string::npos; ++i)
        Sleep(10);
    ASSERT_NE(service.Log().find("listening on 127.0.0.1:18080"), std::string::npos) << service.Log();

    SetEnvironmentVariableA("ZARNU_SERVICE_HOST", nullptr);
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
    const UniqueKernelHandle process(started.hProcess);
    CloseHandle(started.hThread);
    HWND window = nullptr;
    for (int i = 0; i < 200 && !(window = FindWindowA("TForm1", nullptr)); ++i)
        Sleep(50);
    ASSERT_TRUE(window) << "the main window did not appear";
    WaitForInputIdle(process.get(), 5000);

    SendMessageA(FindWindowExA(window, nullptr, "Button", "&Refresh Proxy List"), BM_CLICK, 0, 0);
    ListView list;
    list.Attach(FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr));
    for (int i = 0; i < 200 && list.ItemCount() < 2; ++i)
        Sleep(50);
    EXPECT_EQ(list.ItemCount(), 2);
    EXPECT_EQ(EditHolding(window, "Operatorland"), "127.0.5.1:8080;Operatorland\r\n127.0.5.2:8080;Operatorland\r\n");
    EXPECT_NE(service.Log().find("GET /download/encrypt/paidencrypt.txt 200"), std::string::npos) << service.Log();

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process.get(), 15000), WAIT_OBJECT_0);
}

} // namespace
