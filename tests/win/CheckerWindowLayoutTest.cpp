#include "WindowTestSupport.h"

namespace {

class CheckerWindowLayoutTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Start();
    }
};

TEST_F(CheckerWindowLayoutTest, EveryControlHasItsKindPlaceAndTextInsideTheGroupBox)
{
    struct Placement {
        const char* name;
        const Control& control;
        const char* windowClass;
        int left, top, width, height; // relative to the group box; -1: sized by its text
        const char* text;
    };
    const Placement placements[] = {
        {"GroupBox1", checker.GroupBox1, "Button", 0, 0, 554, 409, "Proxy Checker"}, // itself
        {"Label11", checker.Label11, "Static", 8, 16, -1, -1, "Paste proxy list here (Ex: 12.42.322.56:80)"},
        {"Label1", checker.Label1, "Static", 280, 16, -1, -1, "Your New IP: "},
        {"Label2", checker.Label2, "Static", 360, 16, -1, -1, "[unknown]"},
        {"HostNames", checker.HostNames, "Edit", 8, 32, 265, 337, ""},
        {"ListView1", checker.ListView1, "SysListView32", 280, 32, 265, 337, ""},
        {"Button5", checker.Button5, "Button", 8, 376, 265, 25, "Check &List"},
        {"Button1", checker.Button1, "Button", 280, 376, 265, 25, "&Close"},
        {"Button2", checker.Button2, "Button", 520, 15, 22, 17, "IP"},
    };
    for (const Placement& p : placements) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(ClassOf(p.control.Handle()), p.windowClass);
        const RECT bounds = p.control.Bounds();
        EXPECT_EQ(bounds.left - 7, p.left); // the group box stands at 7, 0 in the window
        EXPECT_EQ(bounds.top, p.top);
        if (p.width >= 0) {
            EXPECT_EQ(bounds.right - bounds.left, p.width);
            EXPECT_EQ(bounds.bottom - bounds.top, p.height);
        }
        EXPECT_EQ(p.control.Text(), p.text);
    }
    RECT client{};
    GetClientRect(checker.Handle(), &client);
    EXPECT_EQ(client.right, 568);
    const RECT bar = checker.StatusBar1.Bounds();
    EXPECT_EQ(bar.top, 417);
    EXPECT_EQ(client.bottom, 417 + checker.StatusBar1.Height());
    EXPECT_EQ(bar.bottom, client.bottom);
    char caption[64] = {};
    GetWindowTextA(checker.Handle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "Zarnu Proxy Checker");
    const auto style = GetWindowLongPtrA(checker.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_THICKFRAME);
}

// Grown, the list takes the width and both boxes the height; the buttons keep to the bottom and
// "IP" to the right edge, and nothing comes to overlap.
TEST_F(CheckerWindowLayoutTest, ResizedTheListTakesTheRoomAndTheButtonsKeepToTheEdges)
{
    RECT window{};
    GetWindowRect(checker.Handle(), &window);
    for (const int grow : {0, 1, 0}) {
        SetWindowPos(checker.Handle(), nullptr, 0, 0, window.right - window.left + 250 * grow,
                     window.bottom - window.top + 150 * grow, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        const int dx = 250 * grow, dy = 150 * grow;
        EXPECT_EQ(checker.ListView1.Bounds(), (RECT{287, 32, 552 + dx, 369 + dy}));
        EXPECT_EQ(checker.HostNames.Bounds(), (RECT{15, 32, 280, 369 + dy}));
        EXPECT_EQ(checker.GroupBox1.Bounds(), (RECT{7, 0, 561 + dx, 409 + dy}));
        EXPECT_EQ(checker.Button5.Bounds(), (RECT{15, 376 + dy, 280, 401 + dy}));
        EXPECT_EQ(checker.Button1.Bounds(), (RECT{287, 376 + dy, 552, 401 + dy}));
        EXPECT_EQ(checker.Button2.Bounds(), (RECT{527 + dx, 15, 549 + dx, 32}));
        EXPECT_EQ(checker.StatusBar1.Bounds().top, 417 + dy);
    }
}

TEST_F(CheckerWindowLayoutTest, TheInputWrapsAndTheListHasItsColumnsAndMenu)
{
    EXPECT_TRUE(checker.HostNames.Style() & ES_MULTILINE);
    EXPECT_TRUE(checker.HostNames.Style() & ES_WANTRETURN);
    EXPECT_FALSE(checker.HostNames.Style() & (ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL | ES_READONLY));

    EXPECT_EQ(checker.ListView1.ColumnCount(), 8); // the specified columns, then the check's and the speed test's
    EXPECT_EQ(checker.ListView1.ColumnCaption(0), "IP Address");
    EXPECT_EQ(checker.ListView1.ColumnWidth(0), 186);
    EXPECT_EQ(checker.ListView1.ColumnCaption(1), "Ping (ms)");
    EXPECT_EQ(checker.ListView1.ColumnWidth(1), 75);
    EXPECT_TRUE(checker.ListView1.ExtendedStyle() & LVS_EX_GRIDLINES);
    EXPECT_TRUE(checker.ListView1.ExtendedStyle() & LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(checker.ListView1.Style() & LVS_SINGLESEL);
    EXPECT_FALSE(checker.ListView1.Style() & LVS_EDITLABELS);

    ASSERT_EQ(checker.PopupMenu1.Count(), 7);
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(0), "Delete");
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(1), "Use This Proxy");
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(2), "Stop Hide My IP");
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(3), "Copy to Clipboard");
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(4), "Copy Working Proxies");
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(5), "Copy Working Proxies with Details");
    EXPECT_EQ(checker.PopupMenu1.ItemCaption(6), "Test Speed");
}

TEST_F(CheckerWindowLayoutTest, TheProxyInUseIsBoldAndRed)
{
    EXPECT_EQ(FontOf(checker.Label1.Handle()).lfWeight, FW_BOLD);
    EXPECT_EQ(FontOf(checker.Label2.Handle()).lfWeight, FW_BOLD);
    EXPECT_EQ(FontOf(checker.Label11.Handle()).lfWeight, FW_NORMAL);
    const HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(checker.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(checker.Label2.Handle()));
    EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
    DeleteDC(dc);
}

TEST_F(CheckerWindowLayoutTest, TabVisitsTheControlsInTheirOrder)
{
    const HWND expected[] = {checker.HostNames.Handle(), checker.ListView1.Handle(), checker.Button5.Handle(),
                             checker.Button1.Handle(), checker.Button2.Handle()};
    HWND current = expected[0];
    for (std::size_t i = 1; i < std::size(expected); ++i) {
        current = GetNextDlgTabItem(checker.Handle(), current, FALSE);
        EXPECT_EQ(current, expected[i]) << "after tab stop " << i;
    }
    EXPECT_EQ(GetNextDlgTabItem(checker.Handle(), current, FALSE), expected[0]);
}

TEST_F(CheckerWindowLayoutTest, CloseEndsTheModalShowingAndOnlyHides)
{
    PostMessageA(checker.Button1.Handle(), BM_CLICK, 0, 0);
    main.Button6.Click(); // returns once the checker is closed
    EXPECT_FALSE(checker.Visible());
    EXPECT_TRUE(IsWindow(checker.Handle()));
    EXPECT_TRUE(IsWindowEnabled(main.Handle()));
}

} // namespace
