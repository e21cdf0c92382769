#include "WindowTestSupport.h"

#include <functional>

namespace {

class KeyboardTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Start();
        main.Show();
        DispatchPending();
    }
};

// Runs `inside` from the message loop of whatever modal loop is running 20 ms from now.
struct Later {
    static inline std::function<void()> inside;
    static void CALLBACK Fire(HWND, UINT, UINT_PTR timer, DWORD)
    {
        KillTimer(nullptr, timer);
        inside();
    }
    static void Run(std::function<void()> action)
    {
        inside = std::move(action);
        SetTimer(nullptr, 0, 20, &Fire);
    }
};

TEST_F(KeyboardTest, TheMainWindowStartsOnItsFirstControl)
{
    EXPECT_EQ(GetFocus(), main.listrep1.Handle());
}

TEST_F(KeyboardTest, EscFromAnyControlOfTheMainWindowLeavesTheProgramRunning)
{
    for (HWND control : {main.Memo1.Handle(), main.listrep1.Handle(), main.txtRegEmail.Handle(),
                         main.Button5.Handle()}) {
        SetFocus(control);
        PressKey(VK_ESCAPE);
        EXPECT_FALSE(Application.Terminated());
        EXPECT_TRUE(IsWindowVisible(main.Handle()));
    }
    EXPECT_FALSE(raw::Get(SettingsKey, "Zarnuinfo")); // the exit sequence never ran
}

TEST_F(KeyboardTest, TabAndShiftTabLeaveTheMultiLineBoxes)
{
    SetFocus(main.Memo1.Handle());
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), main.listrep1.Handle());
    PressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), main.Memo1.Handle());
    PressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), main.Button1.Handle());

    checker.Show();
    SetForegroundWindow(checker.Handle());
    checker.HostNames.SetText("127.0.0.1:80");
    SetFocus(checker.HostNames.Handle());
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), checker.ListView1.Handle());
    SetFocus(checker.HostNames.Handle());
    PressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), checker.Button2.Handle());
    EXPECT_EQ(checker.HostNames.Text(), "127.0.0.1:80"); // no tab typed into it
}

TEST_F(KeyboardTest, TheCheckerOpensInItsPasteBoxEscClosesItAndTheFocusComesBack)
{
    SetFocus(main.edtBrowser.Handle());
    HWND focusWhileShown = nullptr;
    Later::Run([&] {
        focusWhileShown = GetFocus();
        PressKey(VK_ESCAPE);
    });
    main.Button6Click(); // as an accelerator would, with the focus left where it is
    EXPECT_EQ(focusWhileShown, checker.HostNames.Handle());
    EXPECT_FALSE(checker.Visible());
    EXPECT_EQ(GetFocus(), main.edtBrowser.Handle());
    EXPECT_FALSE(Application.Terminated());
}

// Whether the list's context menu opens for what `open` does; the menu is closed again at once.
bool OpensTheMenu(const std::function<void()>& open)
{
    bool shown = false;
    Later::Run([&] {
        const HWND menu = FindWindowA("#32768", nullptr);
        shown = menu && IsWindowVisible(menu);
        EndMenu();
    });
    open();
    PumpMessagesUntil([&] { return shown; }, 1000);
    return shown;
}

TEST_F(KeyboardTest, TheContextMenuOpensFromTheHeaderAndTheMenuKeyOnBothLists)
{
    checker.Show();
    for (ProxyListView* list : {&main.listrep1, &checker.ListView1}) {
        const HWND header = list->Header();
        EXPECT_TRUE(OpensTheMenu([&] {
            PostMessageA(header, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(10, 5));
            PostMessageA(header, WM_RBUTTONUP, 0, MAKELPARAM(10, 5));
        })) << "header";
        EXPECT_TRUE(OpensTheMenu([&] {
            SetForegroundWindow(GetParent(list->Handle()));
            SetFocus(list->Handle());
            PressKey(VK_APPS);
        })) << "menu key";
    }
}

} // namespace
