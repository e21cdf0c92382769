#include "WindowTestSupport.h"

#include <commctrl.h>

namespace {

class MainWindowLayoutTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Start();
    }
};

struct Placement {
    const char* name;
    const Control& control;
    const char* windowClass;
    int left, top, width, height;
    const char* text;
};

TEST_F(MainWindowLayoutTest, EveryControlHasItsKindPlaceAndText)
{
    const Placement placements[] = {
        {"listrep1", main.listrep1, "SysListView32", 8, 40, 429, 257, ""},
        {"Button2", main.Button2, "Button", 240, 8, 105, 25, "&What Is My IP ?"},
        {"Button3", main.Button3, "Button", 352, 8, 83, 25, "&Close"},
        {"OSAgentCombo", main.OSAgentCombo, "ComboBox", 8, 360, 257, -1, ""},
        {"BrowserAgentCombo", main.BrowserAgentCombo, "ComboBox", 272, 360, 166, -1, ""},
        {"Button4", main.Button4, "Button", 8, 384, 431, 25, "Refresh &Browser User Agent List"},
        {"txtRegEmail", main.txtRegEmail, "Edit", 272, 320, 166, 21, ""},
        {"Button6", main.Button6, "Button", 128, 8, 105, 25, "&Proxy Checker"},
        {"HostNames", main.HostNames, "Edit", 8, 168, 425, 121, ""},
        {"Button5", main.Button5, "Button", 8, 8, 113, 25, "&Refresh Proxy List"},
        {"edtBrowser", main.edtBrowser, "Edit", 8, 416, 257, 21, DefaultBrowserPath},
        {"Button1", main.Button1, "Button", 272, 416, 167, 25, "Setup &IE Browser"},
        {"Label1", main.Label1, "Static", 64, 320, -1, -1, "[unknown]"},
        {"Label2", main.Label2, "Static", 64, 336, -1, -1, "[unknown]"},
        {"Label3", main.Label3, "Static", 8, 304, -1, -1, "Information About Your New IP"},
        {"Label4", main.Label4, "Static", 8, 320, -1, -1, "IP Address:"},
        {"Label5", main.Label5, "Static", 8, 336, -1, -1, "IP Country:"},
        {"Memo1", main.Memo1, "Edit", 8, 442, 430, 73, nullptr},
    };
    for (const Placement& p : placements) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(ClassOf(p.control.Handle()), p.windowClass);
        const RECT bounds = p.control.Bounds();
        EXPECT_EQ(bounds.left, p.left);
        EXPECT_EQ(bounds.top, p.top);
        if (p.width >= 0) {
            EXPECT_EQ(bounds.right - bounds.left, p.width);
        }
        if (p.height >= 0) {
            EXPECT_EQ(bounds.bottom - bounds.top, p.height);
        }
        if (p.text) {
            EXPECT_EQ(p.control.Text(), p.text);
        }
        EXPECT_EQ((p.control.Style() & WS_VISIBLE) != 0, &p.control != &main.HostNames);
    }
}

TEST_F(MainWindowLayoutTest, TheWindowCanBeResizedAndHasItsTitle)
{
    RECT client{};
    GetClientRect(main.Handle(), &client);
    EXPECT_EQ(client.right, 445);
    // The status bar below everything: the window grew by its height only.
    const RECT bar = main.StatusBar1.Bounds();
    EXPECT_EQ(bar.top, 517);
    EXPECT_EQ(client.bottom, 517 + main.StatusBar1.Height());
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.right - bar.left, 445);
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(main.Handle(), GWL_STYLE));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_THICKFRAME);
    char caption[128] = {};
    GetWindowTextA(main.Handle(), caption, sizeof caption);
    EXPECT_NE(std::string(caption).find("Zarnu"), std::string::npos);
    EXPECT_NE(std::string(caption).find("1.2"), std::string::npos);
}

// The visible controls of `controls` whose places overlap, by name.
std::vector<std::string> Overlapping(const std::vector<std::pair<const char*, const Control*>>& controls)
{
    std::vector<std::string> overlapping;
    for (std::size_t a = 0; a < controls.size(); ++a)
        for (std::size_t b = a + 1; b < controls.size(); ++b) {
            RECT both{};
            const RECT first = controls[a].second->Bounds(), second = controls[b].second->Bounds();
            if (IntersectRect(&both, &first, &second))
                overlapping.push_back(std::string(controls[a].first) + " and " + controls[b].first);
        }
    return overlapping;
}

// The window grows and shrinks back, maximized too: the list takes the room, what is below it
// keeps to the bottom edge and the rest to the top, the status bar stays at the bottom, and no
// control overlaps another that it did not at the default size; the user cannot make it smaller
// than it starts.
TEST_F(MainWindowLayoutTest, ResizedOrMaximizedTheListTakesTheRoomAndNothingOverlaps)
{
    const std::vector<std::pair<const char*, const Control*>> controls = {
        {"listrep1", &main.listrep1}, {"Button2", &main.Button2}, {"Button3", &main.Button3},
        {"OSAgentCombo", &main.OSAgentCombo}, {"BrowserAgentCombo", &main.BrowserAgentCombo}, {"Button4", &main.Button4},
        {"txtRegEmail", &main.txtRegEmail}, {"Button6", &main.Button6}, {"Button5", &main.Button5},
        {"edtBrowser", &main.edtBrowser}, {"Button1", &main.Button1}, {"Memo1", &main.Memo1}, {"Label1", &main.Label1},
        {"Label2", &main.Label2}, {"Label3", &main.Label3}, {"Label4", &main.Label4}, {"Label5", &main.Label5},
        {"Label6", &main.Label6}, {"StatusBar1", &main.StatusBar1}};
    // Under Wine "IP Address:" is drawn a little wider than its place at the default size already.
    const std::vector<std::string> atDefault = Overlapping(controls);
    EXPECT_LE(atDefault.size(), 1u) << testing::PrintToString(atDefault);
    RECT window{};
    GetWindowRect(main.Handle(), &window);
    MINMAXINFO least{};
    SendMessageA(main.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&least));
    EXPECT_EQ(least.ptMinTrackSize.x, window.right - window.left);
    EXPECT_EQ(least.ptMinTrackSize.y, window.bottom - window.top);

    const auto expectLaidOutFor = [&](int dx, int dy) {
        RECT client{};
        GetClientRect(main.Handle(), &client);
        EXPECT_EQ(client.right, 445 + dx);
        EXPECT_EQ(main.listrep1.Bounds(), (RECT{8, 40, 437 + dx, 297 + dy}));
        EXPECT_EQ(main.Memo1.Bounds(), (RECT{8, 442 + dy, 438, 515 + dy}));
        EXPECT_EQ(main.Button1.Bounds(), (RECT{272, 416 + dy, 439, 441 + dy}));
        EXPECT_EQ(main.Label3.Bounds().top, 304 + dy);
        EXPECT_EQ(main.Button3.Bounds(), (RECT{352, 8, 435, 33}));
        EXPECT_EQ(main.StatusBar1.Bounds().bottom, client.bottom);
        EXPECT_EQ(main.StatusBar1.Bounds().right, client.right);
        EXPECT_EQ(main.StatusBar1.Bounds().top, 517 + dy);
        EXPECT_EQ(Overlapping(controls), atDefault);
    };
    SetWindowPos(main.Handle(), nullptr, 0, 0, window.right - window.left + 300, window.bottom - window.top + 200,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    expectLaidOutFor(300, 200);

    ShowWindow(main.Handle(), SW_MAXIMIZE);
    RECT maximized{};
    GetClientRect(main.Handle(), &maximized);
    EXPECT_GT(maximized.right, 445 + 300);
    expectLaidOutFor(maximized.right - 445, maximized.bottom - 517 - main.StatusBar1.Height());
    ShowWindow(main.Handle(), SW_RESTORE);
    expectLaidOutFor(300, 200);
    SetWindowPos(main.Handle(), nullptr, 0, 0, window.right - window.left, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    expectLaidOutFor(0, 0);
}

// The windows' sizes, whether the main one was maximized, and the lists' column widths and order
// are kept in the profile and come back at the next start; a value that is no layout is passed over.
TEST_F(MainWindowLayoutTest, TheSizesAndTheColumnsComeBackAtTheNextStart)
{
    RECT window{}, checkerWindow{};
    GetWindowRect(main.Handle(), &window);
    GetWindowRect(checker.Handle(), &checkerWindow);
    SetWindowPos(main.Handle(), nullptr, 0, 0, window.right - window.left + 200, window.bottom - window.top + 100,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(checker.Handle(), nullptr, 0, 0, checkerWindow.right - checkerWindow.left + 50,
                 checkerWindow.bottom - checkerWindow.top + 60, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    main.listrep1.SetColumnWidth(0, 321);
    const std::vector<int> order = {8, 0, 1, 2, 3, 4, 5, 6, 7};
    main.listrep1.SetColumnOrder(order);
    checker.ListView1.SetColumnWidth(7, 99);
    ShowWindow(main.Handle(), SW_MAXIMIZE);
    main.ExitCleanup();
    checker.Destroy();
    main.Destroy();

    const auto sizeOf = [](const Form& form) {
        RECT bounds{};
        GetWindowRect(form.Handle(), &bounds);
        return SIZE{bounds.right - bounds.left, bounds.bottom - bounds.top};
    };
    {
        TForm1 restarted;
        TForm2 restartedChecker;
        restarted.Create();
        restarted.CreateChecker(restartedChecker);
        EXPECT_EQ(sizeOf(restarted).cx, window.right - window.left + 200);
        EXPECT_EQ(sizeOf(restarted).cy, window.bottom - window.top + 100);
        EXPECT_EQ(restarted.TakeShowCommand(), SW_SHOWMAXIMIZED);
        EXPECT_EQ(restarted.listrep1.ColumnWidth(0), 321);
        EXPECT_EQ(restarted.listrep1.ColumnOrder(), order);
        EXPECT_EQ(sizeOf(restartedChecker).cx, checkerWindow.right - checkerWindow.left + 50);
        EXPECT_EQ(sizeOf(restartedChecker).cy, checkerWindow.bottom - checkerWindow.top + 60);
        EXPECT_EQ(restartedChecker.ListView1.ColumnWidth(7), 99);
        EXPECT_EQ(restartedChecker.TakeShowCommand(), SW_SHOW);
        restartedChecker.Destroy();
    }
    raw::SetNumber(SettingsKey, "Zarnumainwindow", 5);
    raw::SetText(SettingsKey, "Zarnucheckerwindow", "9999 9999 1|1,2|0,1");
    TForm1 again;
    TForm2 againChecker;
    again.Create();
    again.CreateChecker(againChecker);
    EXPECT_EQ(sizeOf(again).cx, window.right - window.left);
    EXPECT_EQ(again.listrep1.ColumnWidth(0), 200);
    EXPECT_EQ(sizeOf(againChecker).cx, checkerWindow.right - checkerWindow.left);
    EXPECT_TRUE(errors.empty());
    againChecker.Destroy();
}

TEST_F(MainWindowLayoutTest, LabelsSizeThemselvesToTheirText)
{
    const RECT before = main.Label1.Bounds();
    main.Label1.SetText("127.100.200.250:65535");
    const RECT after = main.Label1.Bounds();
    EXPECT_GT(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.left, before.left);
    main.Label2.SetText("Germany\r\n15\r\n");
    const RECT twoLines = main.Label2.Bounds();
    EXPECT_GE(twoLines.bottom - twoLines.top, 2 * (before.bottom - before.top));
}

TEST_F(MainWindowLayoutTest, TheProgramFontIsMsSansSerifEightPointWithBoldHeadings)
{
    for (const Control* control : {static_cast<const Control*>(&main.Button5), static_cast<const Control*>(&main.Memo1),
                                   static_cast<const Control*>(&main.Label1)}) {
        const LOGFONTA font = FontOf(control->Handle());
        EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
        EXPECT_EQ(font.lfHeight, -11);
        EXPECT_EQ(font.lfWeight, FW_NORMAL);
    }
    EXPECT_EQ(FontOf(main.Label3.Handle()).lfWeight, FW_BOLD);
    EXPECT_EQ(FontOf(main.Label6.Handle()).lfWeight, FW_BOLD);
}

TEST_F(MainWindowLayoutTest, TheHelpTextIsReadOnlyWhiteOnRed)
{
    EXPECT_EQ(main.Memo1.Text(),
              "How to use?\r\n"
              "Click Refresh Proxy List button and select New IP Address. Open new \r\n"
              "Internet Explorer Browser everytime change Proxy. Close all Internet \r\n"
              "Explorer Browser everytime change User Agent. Setup your IExplore.exe path "
              "directory. \r\n"
              "Click What Is My IP button for check your new IP Address.");
    EXPECT_TRUE(main.Memo1.Style() & ES_READONLY);
    EXPECT_TRUE(main.Memo1.Style() & ES_MULTILINE);
    EXPECT_FALSE(main.Memo1.Style() & (WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL));

    const HDC dc = CreateCompatibleDC(nullptr);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
        main.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
        reinterpret_cast<LPARAM>(main.Memo1.Handle())));
    LOGBRUSH fill{};
    ASSERT_TRUE(GetObjectA(brush, sizeof fill, &fill));
    EXPECT_EQ(fill.lbColor, RGB(255, 0, 0));
    EXPECT_EQ(GetTextColor(dc), RGB(255, 255, 255));
    DeleteDC(dc);
}

TEST_F(MainWindowLayoutTest, TheListHasItsColumnsStylesHintAndMenu)
{
    // The specified columns, then the check's and the speed test's.
    EXPECT_EQ(main.listrep1.ColumnCount(), 9);
    EXPECT_EQ(main.listrep1.ColumnCaption(0), "IP Address");
    EXPECT_EQ(main.listrep1.ColumnCaption(1), "IP Country");
    EXPECT_EQ(main.listrep1.ColumnCaption(2), "Ping (ms)");
    EXPECT_EQ(main.listrep1.ColumnWidth(0), 200);
    EXPECT_EQ(main.listrep1.ColumnWidth(1), 150);
    EXPECT_EQ(main.listrep1.ColumnWidth(2), 75);
    EXPECT_EQ(main.listrep1.ColumnCaption(3), "Web (ms)");
    EXPECT_EQ(main.listrep1.ColumnCaption(4), "HTTPS");
    EXPECT_EQ(main.listrep1.ColumnCaption(5), "Anonymity");
    EXPECT_EQ(main.listrep1.ColumnCaption(6), "Exit");
    EXPECT_EQ(main.listrep1.ColumnCaption(8), "Speed (kB/s)");
    EXPECT_EQ((main.listrep1.Style() & LVS_TYPEMASK), static_cast<DWORD>(LVS_REPORT));
    EXPECT_TRUE(main.listrep1.Style() & LVS_SINGLESEL);
    EXPECT_FALSE(main.listrep1.Style() & LVS_EDITLABELS);
    EXPECT_TRUE(main.listrep1.ExtendedStyle() & LVS_EX_GRIDLINES);
    EXPECT_TRUE(main.listrep1.ExtendedStyle() & LVS_EX_FULLROWSELECT);

    ASSERT_EQ(main.PopupMenu1.Count(), 9);
    EXPECT_EQ(main.PopupMenu1.ItemCaption(0), "Delete");
    EXPECT_EQ(main.PopupMenu1.ItemCaption(1), "Use This Proxy");
    EXPECT_EQ(main.PopupMenu1.ItemCaption(2), "Stop Hide My IP");
    EXPECT_EQ(main.PopupMenu1.ItemCaption(3), "Copy to Clipboard");
    EXPECT_EQ(main.PopupMenu1.ItemCaption(4), "Copy Working Proxies");
    EXPECT_FALSE(main.PopupMenu1.ItemEnabled(4)) << "no proxy has passed its check yet";
    EXPECT_EQ(main.PopupMenu1.ItemCaption(5), "Copy Working Proxies with Details");
    EXPECT_FALSE(main.PopupMenu1.ItemEnabled(5));
    EXPECT_EQ(main.PopupMenu1.ItemCaption(6), "Test Speed");
    EXPECT_EQ(main.PopupMenu1.ItemCaption(7), "Switch Automatically");
    EXPECT_TRUE(main.PopupMenu1.Checked(main.PopupMenu1.ItemId(7)));
    EXPECT_EQ(main.PopupMenu1.ItemCaption(8), "Route Through Zarnu");
    EXPECT_FALSE(main.PopupMenu1.Checked(main.PopupMenu1.ItemId(8)));
}

TEST_F(MainWindowLayoutTest, TheUserAgentListsArePickOnlyAndEmpty)
{
    for (const ComboBox* combo : {&main.OSAgentCombo, &main.BrowserAgentCombo}) {
        EXPECT_EQ(combo->Style() & 3u, static_cast<DWORD>(CBS_DROPDOWNLIST));
        EXPECT_FALSE(combo->Style() & CBS_SORT);
        EXPECT_EQ(combo->Count(), 0);
        EXPECT_EQ(combo->SelectedIndex(), CB_ERR);
    }
}

TEST_F(MainWindowLayoutTest, TabVisitsTheControlsInTheirOrderAndSkipsTheHiddenBuffer)
{
    const HWND expected[] = {
        main.listrep1.Handle(), main.Button2.Handle(),      main.Button3.Handle(),
        main.OSAgentCombo.Handle(), main.BrowserAgentCombo.Handle(), main.Button4.Handle(),
        main.txtRegEmail.Handle(), main.Button6.Handle(),   main.Button5.Handle(),
        main.edtBrowser.Handle(), main.Button1.Handle(),    main.Memo1.Handle(),
        main.listrep1.Handle(),
    };
    main.Show();
    HWND current = expected[0];
    for (size_t i = 1; i < std::size(expected); ++i) {
        current = GetNextDlgTabItem(main.Handle(), current, FALSE);
        EXPECT_EQ(current, expected[i]) << "stop " << i;
    }
}

TEST_F(MainWindowLayoutTest, TabAndAltMnemonicsWorkFromTheMessageLoop)
{
    main.Show();
    SetForegroundWindow(main.Handle());
    SetFocus(main.listrep1.Handle());
    PostMessageA(main.listrep1.Handle(), WM_KEYDOWN, VK_TAB, 0);
    DispatchPending();
    EXPECT_EQ(GetFocus(), main.Button2.Handle());

    main.txtRegEmail.SetText("grace");
    PostMessageA(GetFocus(), WM_SYSCHAR, 'c', 1 << 29); // Alt+C: "&Close"
    EXPECT_TRUE(DispatchPending());
    EXPECT_EQ(raw::GetText(SettingsKey, "Zarnuinfo"), "grace");
}

} // namespace

namespace {

TEST_F(MainWindowLayoutTest, TheBrowserDialogOffersExecutablesAndKeepsTheNameOnCancel)
{
    std::vector<OPENFILENAMEA> requests;
    std::vector<std::string> prefilled;
    BOOL answer = TRUE;
    const auto previous = ReplaceOpenFileDialog([&](OPENFILENAMEA& request) {
        requests.push_back(request);
        prefilled.push_back(request.lpstrFile);
        if (answer)
            lstrcpyA(request.lpstrFile, "D:\\Tools\\browser.exe");
        return answer;
    });
    EXPECT_TRUE(main.OP1.Execute(main.Handle()));
    answer = FALSE;
    EXPECT_FALSE(main.OP1.Execute(main.Handle()));
    ReplaceOpenFileDialog(previous);

    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(std::string(requests[0].lpstrFilter, 14), std::string("*.exe\0*.exe\0\0", 14));
    EXPECT_EQ(requests[0].hwndOwner, main.Handle());
    EXPECT_TRUE(requests[0].Flags & OFN_HIDEREADONLY);
    EXPECT_TRUE(requests[0].Flags & OFN_ENABLESIZING);
    EXPECT_EQ(prefilled, (std::vector<std::string>{"", "D:\\Tools\\browser.exe"}));
    EXPECT_EQ(main.OP1.FileName(), "D:\\Tools\\browser.exe");
}

} // namespace
