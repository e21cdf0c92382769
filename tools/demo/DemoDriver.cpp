// Drives a running zarnu.exe the way a user would, for the screenshots of scripts/run:
//   zarnu-demo-driver refresh          refresh the proxy list, wait for the rows, sort them by the
//                                      web time, use the first
//   zarnu-demo-driver check LINES...   open the checker, paste the lines, check them, wait, and
//                                      print how many rows it lists
//   zarnu-demo-driver close-checker    close the checker window
//   zarnu-demo-driver scroll-to-verdicts WINDOWCLASS
//                                      scroll that window's list to the verdict columns
// It talks to the windows only through window messages, as input from the user would.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

constexpr DWORD kPatience = 20000; // ms for the program to react

template <typename Condition>
bool WaitFor(Condition condition, DWORD patience = kPatience)
{
    const ULONGLONG deadline = GetTickCount64() + patience;
    while (!condition()) {
        if (GetTickCount64() > deadline)
            return false;
        Sleep(50);
    }
    return true;
}

HWND Child(HWND parent, const char* windowClass, const char* text)
{
    return FindWindowExA(parent, nullptr, windowClass, text);
}

int RowCount(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

// Waits until the list has rows and no new one has arrived for a second.
bool WaitForRowsToSettle(HWND list)
{
    int count = -1;
    ULONGLONG changed = GetTickCount64();
    return WaitFor([&] {
        const int now = RowCount(list);
        if (now != count) {
            count = now;
            changed = GetTickCount64();
        }
        return count > 0 && GetTickCount64() - changed > 1000;
    });
}

int Fail(const char* what)
{
    std::fprintf(stderr, "zarnu-demo-driver: %s\n", what);
    return 1;
}

int Refresh()
{
    const HWND main = FindWindowA("TForm1", nullptr);
    if (!main)
        return Fail("no main window");
    const HWND list = Child(main, WC_LISTVIEWA, nullptr);
    PostMessageA(Child(main, "Button", "&Refresh Proxy List"), BM_CLICK, 0, 0);
    if (!WaitForRowsToSettle(list))
        return Fail("no rows arrived");

    // Sort by the web time, as a user who wants a working proxy does (a click on the "Web (ms)"
    // header: working proxies first, the fastest on top), once the checks have had a moment.
    Sleep(1000);
    SendMessageA(list, LVM_SCROLL, SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), 0); // the column in sight
    const HWND headerControl = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int webColumn = 0; // its middle, in the header's coordinates
    for (int column = 0; column < 3; ++column)
        webColumn += static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
    webColumn += static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 3, 0)) / 2;
    const LPARAM at = MAKELPARAM(webColumn, 5);
    PostMessageA(headerControl, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(headerControl, WM_LBUTTONUP, 0, at);
    Sleep(300);

    // Select the first row from the keyboard, then double-click it.
    PostMessageA(list, WM_KEYDOWN, VK_HOME, 0);
    RECT header{};
    GetWindowRect(headerControl, &header);
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, header.bottom - header.top + 6));
    return 0;
}

int Check(int count, char** lines)
{
    const HWND main = FindWindowA("TForm1", nullptr);
    if (!main)
        return Fail("no main window");
    PostMessageA(Child(main, "Button", "&Proxy Checker"), BM_CLICK, 0, 0);
    HWND checker = nullptr;
    if (!WaitFor([&] { return (checker = FindWindowA("TForm2", nullptr)) && IsWindowVisible(checker); }))
        return Fail("the checker did not open");

    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(lines[i]) + "\r\n";
    SendMessageA(Child(checker, "Edit", nullptr), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageA(Child(checker, "Button", "Check &List"), BM_CLICK, 0, 0);
    const HWND list = Child(checker, WC_LISTVIEWA, nullptr);
    if (!WaitForRowsToSettle(list))
        return Fail("no rows arrived in the checker");
    std::printf("%d rows\n", RowCount(list));
    // Under Wine without a window manager the main window can end up stacked above its owned
    // checker; a window manager keeps an owned window above its owner.
    SetWindowPos(checker, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return 0;
}

int CloseChecker()
{
    if (const HWND checker = FindWindowA("TForm2", nullptr))
        PostMessageA(checker, WM_CLOSE, 0, 0);
    return 0;
}

// Scrolls the list of the window of class `windowClass` past its address column, as the user does
// with the scroll bar, so that the columns of the checks' verdicts show.
int ScrollToVerdicts(const char* windowClass)
{
    const HWND window = FindWindowA(windowClass, nullptr);
    if (!window)
        return Fail("no such window");
    const HWND list = Child(window, WC_LISTVIEWA, nullptr);
    SendMessageA(list, LVM_SCROLL, SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "refresh")
        return Refresh();
    if (command == "check")
        return Check(argc - 2, argv + 2);
    if (command == "close-checker")
        return CloseChecker();
    if (command == "scroll-to-verdicts" && argc > 2)
        return ScrollToVerdicts(argv[2]);
    std::fprintf(stderr, "usage: zarnu-demo-driver refresh | check LINES... | close-checker | "
                         "scroll-to-verdicts TForm1|TForm2\n");
    return 2;
}
