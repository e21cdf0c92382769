#include "app/Unit1.h"

#include "win/Registry.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "lists/ProxyProbes.h"
#include "lists/Unit2.h"
#include "net/DownloadToFile.h"
#include "settings/AgentList.h"
#include "settings/AgentOverride.h"
#include "settings/BrowserLaunch.h"
#include "settings/SystemProxy.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

namespace {

enum CommandId : int {
    kListrep1 = 100,
    kButton1,
    kButton2,
    kButton3,
    kButton4,
    kButton5,
    kButton6,
    kDelete1,
    kSelectProxy1,
    kStopHideMyIP1,
    kCopytoClipboard1,
};

constexpr const char* kCaption = "Zarnu 1.2 - Support: support@zarnu.example";
constexpr const char* kListHint = "Double or Right click here to Hide Your IP";
constexpr const char* kHelpText =
    "How to use?\r\n"
    "Click Refresh Proxy List button and select New IP Address. Open new \r\n"
    "Internet Explorer Browser everytime change Proxy. Close all Internet \r\n"
    "Explorer Browser everytime change User Agent. Setup your IExplore.exe path directory. \r\n"
    "Click What Is My IP button for check your new IP Address.";
constexpr COLORREF kHelpBackground = RGB(255, 0, 0);
constexpr COLORREF kHelpForeground = RGB(255, 255, 255);

constexpr DWORD kButtonStyle = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kEditStyle = WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kComboStyle = WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
constexpr DWORD kLabelStyle = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
// The drop-down part of a list is laid out below its 21-pixel field.
constexpr int kComboDropHeight = 200;

} // namespace

void TForm1::Create()
{
    CreateForm(Frame{"TForm1", kCaption, 445, 517,
                     WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN},
               nullptr);
    CreateControls();
    RunHandler([this] { FormCreate(); });
}

void TForm1::CreateChecker(TForm2& checker)
{
    checker.Create(Handle(), [this] { return edtBrowser.Text(); });
    checker_ = &checker;
}

void TForm1::CreateControls()
{
    // Created in tab order; the labels, which take no focus, last.
    listrep1.Attach(AddControl(WC_LISTVIEWA, "", WS_VISIBLE | WS_TABSTOP | ProxyListView::kStyle,
                               WS_EX_CLIENTEDGE, 8, 40, 429, 257, kListrep1));
    Button2.Attach(AddControl(WC_BUTTONA, "&What Is My IP ?", kButtonStyle, 0, 240, 8, 105, 25, kButton2));
    Button3.Attach(AddControl(WC_BUTTONA, "&Close", kButtonStyle, 0, 352, 8, 83, 25, kButton3));
    OSAgentCombo.Attach(AddControl(WC_COMBOBOXA, "", kComboStyle, 0, 8, 360, 257,
                                   kComboDropHeight, 0));
    BrowserAgentCombo.Attach(AddControl(WC_COMBOBOXA, "", kComboStyle, 0, 272, 360, 166,
                                        kComboDropHeight, 0));
    Button4.Attach(AddControl(WC_BUTTONA, "Refresh &Browser User Agent List", kButtonStyle, 0, 8,
                              384, 431, 25, kButton4));
    txtRegEmail.Attach(AddControl(WC_EDITA, "", kEditStyle, WS_EX_CLIENTEDGE, 272, 320, 166, 21, 0));
    Button6.Attach(AddControl(WC_BUTTONA, "&Proxy Checker", kButtonStyle, 0, 128, 8, 105, 25, kButton6));
    HostNames.Attach(AddControl(WC_EDITA, "",
                                WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                WS_EX_CLIENTEDGE, 8, 168, 425, 121, 0));
    Button5.Attach(AddControl(WC_BUTTONA, "&Refresh Proxy List", kButtonStyle, 0, 8, 8, 113, 25, kButton5));
    edtBrowser.Attach(AddControl(WC_EDITA, DefaultBrowserPath, kEditStyle, WS_EX_CLIENTEDGE, 8,
                                 416, 257, 21, 0));
    Button1.Attach(AddControl(WC_BUTTONA, "Setup &IE Browser", kButtonStyle, 0, 272, 416, 167, 25, kButton1));
    Memo1.Attach(AddControl(WC_EDITA, kHelpText,
                            WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY,
                            WS_EX_CLIENTEDGE, 8, 442, 430, 73, 0));

    Label1.Attach(AddControl(WC_STATICA, "", kLabelStyle, 0, 64, 320, 50, 13, 0));
    Label2.Attach(AddControl(WC_STATICA, "", kLabelStyle, 0, 64, 336, 50, 13, 0));
    Label3.Attach(AddControl(WC_STATICA, "", kLabelStyle, 0, 8, 304, 176, 13, 0, true));
    Label4.Attach(AddControl(WC_STATICA, "", kLabelStyle, 0, 8, 320, 54, 13, 0));
    Label5.Attach(AddControl(WC_STATICA, "", kLabelStyle, 0, 8, 336, 52, 13, 0));
    Label6.Attach(AddControl(WC_STATICA, "", kLabelStyle, 0, 272, 304, 77, 13, 0, true));
    Label1.SetText("[unknown]");
    Label2.SetText("[unknown]");
    Label3.SetText("Information About Your New IP");
    Label4.SetText("IP Address:");
    Label5.SetText("IP Country:");
    Label6.SetText("Account Name:");

    listrep1.SetUp();
    listrep1.AddColumn("IP Address", Scale(200));
    listrep1.AddColumn("IP Country", Scale(150));
    listrep1.AddColumn("Ping (ms)", Scale(75));
    listHint_.Attach(Handle(), listrep1.Handle(), kListHint);

    PopupMenu1.Add(kDelete1, "Delete");
    PopupMenu1.Add(kSelectProxy1, "Use This Proxy");
    PopupMenu1.Add(kStopHideMyIP1, "Stop Hide My IP");
    PopupMenu1.Add(kCopytoClipboard1, "Copy to Clipboard");

    OSAgentCombo.SetItemHeight(Scale(13));
    BrowserAgentCombo.SetItemHeight(Scale(13));
    txtRegEmail.RemoveTextLimit();
    edtBrowser.RemoveTextLimit();
    HostNames.RemoveTextLimit();
    memoBrush_.reset(CreateSolidBrush(kHelpBackground));

    OP1.SetFilter("*.exe|*.exe");
    OP1.SetOptions(OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING);
}

void TForm1::FormCreate()
{
    AgentListPending = true;
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    txtRegEmail.SetText(registry.LoadText("Zarnuinfo"));
    edtBrowser.SetText(registry.LoadText("Zarnubrowser"));
    if (edtBrowser.Text().empty())
        edtBrowser.SetText(DefaultBrowserPath);
}

void TForm1::FormClose()
{
    ExitCleanup();
}

void TForm1::Button3Click()
{
    ExitCleanup();
    Application.Terminate();
}

void TForm1::Button6Click()
{
    if (checker_)
        checker_->ShowModal();
}

void TForm1::doPingClick()
{
    const std::string path = ExecutableDirectory() + "paidproxy.cfg";
    if (!DownloadToFile(ServiceUrl(txtRegEmail.Text(), ServiceHost(), ProxyListPath), path))
        return;
    listrep1.Clear();
    // Decoded on the way in: the box then lays out its lines once, not twice.
    SetBoxText(HostNames, DecodeProxyList(NormalizeLineEnds(ReadFileText(path))));
    for (const std::string& line : SplitLines(HostNames.Text())) // the box holds CR LF lines
        if (!line.empty())
            StartProbe(line, ProxyLineCountry(line), [this](WorkerThread& worker) {
                PingThreadTerminate(static_cast<TPingThread&>(worker));
            });
}

void TForm1::PingThreadTerminate(TPingThread& Sender)
{
    if (Application.Terminated())
        return;
    ListAnsweredProbe(listrep1, Sender);
}

void TForm1::listrep1ColumnClick(int column)
{
    listrep1.Sort(column);
}

void TForm1::Delete1Click()
{
    listrep1.DeleteSelected();
}

void TForm1::CopytoClipboard1Click()
{
    listrep1.CopySelectedCaption(Handle());
}

void TForm1::Button4Click()
{
    if (AgentListPending) {
        AgentListPending = false;
        Button4.SetText("&Select and change Browser User Agent");
        FetchAgentList();
    }
    const std::string platform = OSAgentCombo.Text();
    const std::string version = BrowserAgentCombo.Text();
    if (!platform.empty() && !version.empty())
        ApplyAgentOverride(platform, version);
}

void TForm1::FetchAgentList()
{
    const std::string path = ExecutableDirectory() + "browser.cfg";
    if (!DownloadToFile(ServiceUrl(txtRegEmail.Text(), ServiceHost(), AgentListPath), path))
        return;
    const AgentTokens tokens = ReadAgentTokens(path);
    for (const std::string& platform : tokens.platforms)
        OSAgentCombo.Add(platform);
    for (const std::string& version : tokens.versions)
        BrowserAgentCombo.Add(version);
}

void TForm1::Button2Click()
{
    LaunchIpCheckPage(edtBrowser.Text());
}

void TForm1::Button1Click()
{
    OP1.Execute(Handle()); // a cancelled dialog keeps the name chosen last
    if (!OP1.FileName().empty())
        edtBrowser.SetText(OP1.FileName());
}

void TForm1::listrep1DblClick()
{
    const auto selected = listrep1.SelectedPosition();
    if (!selected)
        return;
    const ListRow& row = listrep1.Row(*selected);
    Label1.SetText(row.Caption);
    Label2.SetText(row.SubItems.empty() ? std::string() : row.SubItems.front());
    ApplySystemProxy(Label1.Text());
}

void TForm1::SelectProxy1Click()
{
    const auto selected = listrep1.SelectedPosition();
    if (!selected)
        return;
    const ListRow& row = listrep1.Row(*selected);
    std::string subItems;
    for (const std::string& subItem : row.SubItems)
        subItems += subItem + "\r\n";
    Label1.SetText(row.Caption);
    Label2.SetText(subItems);
    ApplySystemProxy(Label1.Text());
}

void TForm1::StopHideMyIP1Click()
{
    Label1.SetText("[unknown]");
    Label2.SetText("[unknown]");
    ClearSystemProxy();
}

void TForm1::ExitCleanup()
{
    if (exitCleanupDone_)
        return;
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    registry.StoreText("Zarnuinfo", txtRegEmail.Text());
    registry.StoreText("Zarnubrowser", edtBrowser.Text());
    ClearSystemProxy();
    ClearAgentOverride();
    exitCleanupDone_ = true;
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            OnCommand(LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            OnEndSession();
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CONTEXTMENU:
        OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Memo1.Handle()) {
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kHelpForeground);
            SetBkColor(dc, kHelpBackground);
            return reinterpret_cast<LRESULT>(memoBrush_.get());
        }
        break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

void TForm1::OnCommand(int id)
{
    switch (id) {
    case kButton1: Button1Click(); break;
    case kButton2: Button2Click(); break;
    case kButton3: Button3Click(); break;
    case kButton4: Button4Click(); break;
    case kButton5: doPingClick(); break;
    case kButton6: Button6Click(); break;
    case kDelete1: Delete1Click(); break;
    case kSelectProxy1: SelectProxy1Click(); break;
    case kStopHideMyIP1: StopHideMyIP1Click(); break;
    case kCopytoClipboard1: CopytoClipboard1Click(); break;
    }
}

LRESULT TForm1::OnNotify(const NMHDR& header)
{
    LRESULT result = 0;
    if (header.hwndFrom != listrep1.Handle())
        return result;
    const ProxyListView::Event event = listrep1.HandleNotify(header, result);
    switch (event.kind) {
    case ProxyListView::Event::ColumnClick: listrep1ColumnClick(event.column); break;
    case ProxyListView::Event::DoubleClick: listrep1DblClick(); break;
    case ProxyListView::Event::None: break;
    }
    return result;
}

// Every close command of the window system. The main window closes only by ending the program.
void TForm1::OnClose()
{
    FormClose();
    Application.Terminate();
}

// The user logs off or Windows shuts down: the process ends after this message without a close
// event, so the exit sequence runs here, or the browser would stay routed through the proxy.
void TForm1::OnEndSession()
{
    Application.MarkTerminating();
    ExitCleanup();
}

void TForm1::OnContextMenu(HWND target, LPARAM position)
{
    // The list's menu, also from its column header and from the keyboard's menu key.
    if (target == listrep1.Handle() || target == listrep1.Header())
        PopupMenu1.PopupFor(Handle(), listrep1.Handle(), position);
}
