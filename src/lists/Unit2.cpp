#include "lists/Unit2.h"

#include "lists/ProxyProbes.h"
#include "settings/BrowserLaunch.h"
#include "settings/SystemProxy.h"
#include "win/Application.h"

namespace {

enum CommandId : int {
    kListView1 = 200,
    kButton5,
    kButton1,
    kButton2,
    kDelete1,
    kSelectProxy1,
    kStopHideMyIP1,
    kCopytoClipboard1,
};

constexpr const char* kListHint = "Double or Right click here to Hide Your IP";
constexpr COLORREF kProxyLabelColor = RGB(255, 0, 0);
constexpr DWORD kButtonStyle = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabelStyle = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;

// The controls are laid out inside the group box, whose client origin is here in the window.
constexpr int kGroupLeft = 7;
constexpr int kGroupTop = 0;

} // namespace

void TForm2::Create(HWND owner, BrowserPathSource browserPath)
{
    browserPath_ = std::move(browserPath);
    CreateForm(Frame{"TForm2", "Zarnu Proxy Checker", 568, 417,
                     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME},
               owner);
    CreateControls();
}

void TForm2::CreateControls()
{
    // Siblings of the group box rather than its children, so that their notifications reach
    // this window. Created in tab order; the labels, which take no focus, last.
    const auto add = [this](const char* windowClass, const char* text, DWORD style, DWORD exStyle,
                            int left, int top, int width, int height, int id, bool bold = false) {
        return AddControl(windowClass, text, style, exStyle, kGroupLeft + left, kGroupTop + top,
                          width, height, id, bold);
    };
    GroupBox1.Attach(AddControl(WC_BUTTONA, "Proxy Checker",
                                WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, kGroupLeft,
                                kGroupTop, 554, 409, 0));
    HostNames.Attach(add(WC_EDITA, "",
                         WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                         WS_EX_CLIENTEDGE, 8, 32, 265, 337, 0));
    ListView1.Attach(add(WC_LISTVIEWA, "", WS_VISIBLE | WS_TABSTOP | ProxyListView::kStyle,
                         WS_EX_CLIENTEDGE, 280, 32, 265, 337, kListView1));
    Button5.Attach(add(WC_BUTTONA, "Check &List", kButtonStyle, 0, 8, 376, 265, 25, kButton5));
    Button1.Attach(add(WC_BUTTONA, "&Close", kButtonStyle, 0, 280, 376, 265, 25, kButton1));
    Button2.Attach(add(WC_BUTTONA, "IP", kButtonStyle, 0, 520, 15, 22, 17, kButton2));
    Label11.Attach(add(WC_STATICA, "", kLabelStyle, 0, 8, 16, 199, 13, 0));
    Label1.Attach(add(WC_STATICA, "", kLabelStyle, 0, 280, 16, 80, 13, 0, true));
    Label2.Attach(add(WC_STATICA, "", kLabelStyle, 0, 360, 16, 60, 13, 0, true));
    Label11.SetText("Paste proxy list here (Ex: 12.42.322.56:80)");
    Label1.SetText("Your New IP: ");
    Label2.SetText("[unknown]");

    // The frame lies beneath what it holds and paints none of it. It takes no focus, so its
    // place in the tab order does not matter.
    SetWindowPos(GroupBox1.Handle(), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    HostNames.RemoveTextLimit();
    ListView1.SetUp();
    ListView1.AddColumn("IP Address", Scale(186));
    ListView1.AddColumn("Ping (ms)", Scale(75));
    listHint_.Attach(Handle(), ListView1.Handle(), kListHint);

    PopupMenu1.Add(kDelete1, "Delete");
    PopupMenu1.Add(kSelectProxy1, "Use This Proxy");
    PopupMenu1.Add(kStopHideMyIP1, "Stop Hide My IP");
    PopupMenu1.Add(kCopytoClipboard1, "Copy to Clipboard");
}

void TForm2::doPingClick()
{
    const std::vector<std::string> lines = TextLines(HostNames.Text());
    for (const std::string& line : lines) {
        ListView1.Clear(); // only the first pass finds rows: no completion runs in this loop
        if (!line.empty())
            StartProbe(line, "", [this](WorkerThread& worker) {
                PingThreadTerminate(static_cast<TPingThread&>(worker));
            });
    }
}

void TForm2::PingThreadTerminate(TPingThread& Sender)
{
    if (Application.Terminated())
        return;
    ListCheckedProbe(ListView1, Sender);
}

void TForm2::Button1Click()
{
    Hide();
}

void TForm2::Button2Click()
{
    LaunchIpCheckPage(browserPath_());
}

void TForm2::ListView1ColumnClick(int column)
{
    ListView1.Sort(column);
}

void TForm2::Delete1Click()
{
    ListView1.DeleteSelected();
}

void TForm2::CopytoClipboard1Click()
{
    ListView1.CopySelectedCaption(Handle());
}

void TForm2::ListView1DblClick()
{
    UseSelectedProxy();
}

void TForm2::SelectProxy1Click()
{
    UseSelectedProxy();
}

void TForm2::UseSelectedProxy()
{
    const auto selected = ListView1.SelectedPosition();
    if (!selected)
        return;
    Label2.SetText(ListView1.Row(*selected).Caption);
    ApplySystemProxy(Label2.Text());
}

void TForm2::StopHideMyIP1Click()
{
    Label2.SetText("[unknown]");
    ClearSystemProxy();
}

LRESULT TForm2::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        Hide();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            OnCommand(LOWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CONTEXTMENU:
        OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Label2.Handle()) {
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kProxyLabelColor);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

void TForm2::OnCommand(int id)
{
    switch (id) {
    case IDCANCEL: Button1Click(); break; // Esc, as in a modal dialog
    case kButton5: doPingClick(); break;
    case kButton1: Button1Click(); break;
    case kButton2: Button2Click(); break;
    case kDelete1: Delete1Click(); break;
    case kSelectProxy1: SelectProxy1Click(); break;
    case kStopHideMyIP1: StopHideMyIP1Click(); break;
    case kCopytoClipboard1: CopytoClipboard1Click(); break;
    }
}

LRESULT TForm2::OnNotify(const NMHDR& header)
{
    LRESULT result = 0;
    if (header.hwndFrom != ListView1.Handle())
        return result;
    const ProxyListView::Event event = ListView1.HandleNotify(header, result);
    switch (event.kind) {
    case ProxyListView::Event::ColumnClick: ListView1ColumnClick(event.column); break;
    case ProxyListView::Event::DoubleClick: ListView1DblClick(); break;
    case ProxyListView::Event::None: break;
    }
    return result;
}

void TForm2::OnContextMenu(HWND target, LPARAM position)
{
    // The list's menu, also from its column header and from the keyboard's menu key.
    if (target == ListView1.Handle() || target == ListView1.Header())
        PopupMenu1.PopupFor(Handle(), ListView1.Handle(), position);
}
