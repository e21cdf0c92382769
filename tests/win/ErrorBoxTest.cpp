#include "win/Registry.h"
#include "win/Application.h"
#include "win/ErrorBox.h"
#include "win/Window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

// What the user saw in a message box of this process, read and dismissed from another thread.
struct SeenBox {
    std::string title;
    std::string text;
    bool hasIcon = false;
    std::string button;
};

class BoxWatcher {
public:
    BoxWatcher() : thread_([this] { Watch(); }) {}
    ~BoxWatcher()
    {
        stop_ = true;
        thread_.join();
    }
    SeenBox Seen()
    {
        stop_ = true;
        thread_.join();
        stop_ = false;
        thread_ = std::thread([] {});
        return seen_;
    }

private:
    static BOOL CALLBACK Inspect(HWND child, LPARAM context)
    {
        auto* seen = reinterpret_cast<SeenBox*>(context);
        char cls[32] = {}, text[512] = {};
        GetClassNameA(child, cls, sizeof cls);
        GetWindowTextA(child, text, sizeof text);
        const auto style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
        if (lstrcmpiA(cls, "Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON)
                seen->hasIcon = true;
            else if (text[0])
                seen->text = text;
        } else if (lstrcmpiA(cls, "Button") == 0) {
            seen->button = text;
        }
        return TRUE;
    }

    void Watch()
    {
        while (!stop_) {
            const HWND box = FindWindowA("#32770", nullptr);
            DWORD process = 0;
            if (box && GetWindowThreadProcessId(box, &process) && process == GetCurrentProcessId() &&
                IsWindowVisible(box)) {
                char title[128] = {};
                GetWindowTextA(box, title, sizeof title);
                seen_.title = title;
                EnumChildWindows(box, &Inspect, reinterpret_cast<LPARAM>(&seen_));
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(5);
        }
    }

    std::atomic<bool> stop_{false};
    SeenBox seen_;
    std::thread thread_;
};

TEST(ErrorBox, AHandlerThatRaisesShowsTheMessageBoxAndTheProgramGoesOn)
{
    SeenBox seen;
    bool completed = true;
    {
        BoxWatcher watcher;
        completed = RunHandler([] { throw ERegistryException("Failed to create key Software\\X"); });
        seen = watcher.Seen();
    }
    EXPECT_FALSE(completed);
    EXPECT_EQ(seen.title, "Zarnu");
    EXPECT_EQ(seen.text, "Failed to create key Software\\X.");
    EXPECT_TRUE(seen.hasIcon);
    EXPECT_EQ(seen.button, "OK");
}

TEST(ErrorBox, NoFullStopAfterAClosingQuote)
{
    SeenBox seen;
    {
        BoxWatcher watcher;
        RunHandler([] { throw ERegistryException("Failed to set data for 'ProxyServer'"); });
        seen = watcher.Seen();
    }
    EXPECT_EQ(seen.text, "Failed to set data for 'ProxyServer'");
}

TEST(ErrorBox, AHandlerThatReturnsShowsNothing)
{
    std::vector<std::string> shown;
    const auto previous = ReplaceErrorBox([&](const std::string& text) { shown.push_back(text); });
    EXPECT_TRUE(RunHandler([] {}));
    EXPECT_TRUE(shown.empty());
    ReplaceErrorBox(previous);
}

// A window whose close handler fails half-way.
class FailingWindow : public Window {
public:
    void Create()
    {
        CreateBound("ZarnuFailingWindow", "", WS_POPUP, 0, RECT{0, 0, 10, 10}, nullptr);
        OnClose([this] {
            ++stepsDone;
            throw std::runtime_error("I/O error 5");
        });
    }
    int stepsDone = 0;
};

TEST(ErrorBox, AnExceptionNeverLeavesAWindowProcedure)
{
    std::vector<std::string> shown;
    const auto previous = ReplaceErrorBox([&](const std::string& text) { shown.push_back(text); });
    FailingWindow window;
    window.Create();
    EXPECT_EQ(SendMessageA(window.Handle(), WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window.Handle(), WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(window.stepsDone, 2);
    EXPECT_EQ(shown, (std::vector<std::string>{"I/O error 5.", "I/O error 5."}));
    EXPECT_TRUE(IsWindow(window.Handle()));
    window.Destroy();
    EXPECT_EQ(window.Handle(), nullptr);
    ReplaceErrorBox(previous);
}

} // namespace
