#include "app/Unit1.h"

#include "core/ExitPlace.h"
#include "core/ProxyAccount.h"
#include "lists/ProxyProbes.h"
#include "lists/WindowProfile.h"
#include "lists/Unit2.h"
#include "settings/AgentList.h"
#include "settings/AgentOverride.h"
#include "settings/BrowserLaunch.h"
#include "settings/SettingsChanges.h"
#include "settings/SystemProxy.h"
#include "win/Application.h"
#include "win/ErrorBox.h"
#include "win/Registry.h"

namespace {

// The profile's value that keeps the window's layout.
constexpr const char* kLayoutValue = "Zarnumainwindow";
constexpr const char* kCaption = "Zarnu 1.2 - Support: support@zarnu.example";
constexpr const char* kHelpText =
    "How to use?\r\n"
    "Click Refresh Proxy List button and select New IP Address. Open new \r\n"
    "Internet Explorer Browser everytime change Proxy. Close all Internet \r\n"
    "Explorer Browser everytime change User Agent. Setup your IExplore.exe path directory. \r\n"
    "Click What Is My IP button for check your new IP Address.";

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
    BindEvents();
    CreateStatusBar(StatusBar1);
    // The list takes what the window grows by; what lies below it keeps to the bottom edge.
    MakeResizable({{&listrep1, kGrowWidth | kGrowHeight}, {&OSAgentCombo, kFollowBottom},
                   {&BrowserAgentCombo, kFollowBottom}, {&Button4, kFollowBottom}, {&txtRegEmail, kFollowBottom},
                   {&edtBrowser, kFollowBottom}, {&Button1, kFollowBottom}, {&Memo1, kFollowBottom},
                   {&Label1, kFollowBottom}, {&Label2, kFollowBottom}, {&Label3, kFollowBottom},
                   {&Label4, kFollowBottom}, {&Label5, kFollowBottom}, {&Label6, kFollowBottom}});
    LoadWindowLayout(*this, listrep1, kLayoutValue);
    refresh_.progress.Attach(Handle(), StatusBar1, [this] { return refresh_.Working(); },
                             [this] { watch_.ListChecked(listrep1); });
    RunHandler([this] { FormCreate(); });
}

void TForm1::CreateChecker(TForm2& checker)
{
    checker.Create(Handle(), [this] { return edtBrowser.Text(); }, watch_, route_);
    checker_ = &checker;
}

void TForm1::CreateControls()
{
    // In tab order; the labels, which take no focus, last.
    Form::CreateControls({
        {listrep1, WC_LISTVIEWA, "", 8, 40, 429, 257, WS_VISIBLE | ProxyListView::kStyle, WS_EX_CLIENTEDGE},
        {Button2, WC_BUTTONA, "&What Is My IP ?", 240, 8, 105, 25, kButtonStyle, 0, [this] { Button2Click(); }},
        {Button3, WC_BUTTONA, "&Close", 352, 8, 83, 25, kButtonStyle, 0, [this] { Button3Click(); }},
        {OSAgentCombo, WC_COMBOBOXA, "", 8, 360, 257, kComboDropHeight, kComboStyle},
        {BrowserAgentCombo, WC_COMBOBOXA, "", 272, 360, 166, kComboDropHeight, kComboStyle},
        {Button4, WC_BUTTONA, "Refresh &Browser User Agent List", 8, 384, 431, 25, kButtonStyle, 0, [this] { Button4Click(); }},
        {txtRegEmail, WC_EDITA, "", 272, 320, 166, 21, kEditStyle, WS_EX_CLIENTEDGE},
        {Button6, WC_BUTTONA, "&Proxy Checker", 128, 8, 105, 25, kButtonStyle, 0, [this] { Button6Click(); }},
        {HostNames, WC_EDITA, "", 8, 168, 425, 121, WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
        {Button5, WC_BUTTONA, "&Refresh Proxy List", 8, 8, 113, 25, kButtonStyle, 0, [this] { doPingClick(); }},
        {edtBrowser, WC_EDITA, DefaultBrowserPath, 8, 416, 257, 21, kEditStyle, WS_EX_CLIENTEDGE},
        {Button1, WC_BUTTONA, "Setup &IE Browser", 272, 416, 167, 25, kButtonStyle, 0, [this] { Button1Click(); }},
        {Memo1, WC_EDITA, kHelpText, 8, 442, 430, 73, WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY, WS_EX_CLIENTEDGE},
        {Label1, WC_STATICA, "[unknown]", 64, 320, 50, 13, kLabelStyle},
        {Label2, WC_STATICA, "[unknown]", 64, 336, 50, 13, kLabelStyle},
        {Label3, WC_STATICA, "Information About Your New IP", 8, 304, 176, 13, kLabelStyle, 0, {}, true},
        {Label4, WC_STATICA, "IP Address:", 8, 320, 54, 13, kLabelStyle},
        {Label5, WC_STATICA, "IP Country:", 8, 336, 52, 13, kLabelStyle},
        {Label6, WC_STATICA, "Account Name:", 272, 304, 77, 13, kLabelStyle, 0, {}, true},
    });
    OSAgentCombo.SetItemHeight(Scale(13));
    BrowserAgentCombo.SetItemHeight(Scale(13));
    for (const Edit* box : {&txtRegEmail, &edtBrowser, &HostNames})
        box->RemoveTextLimit();
    SetColors(Memo1.Handle(), RGB(255, 255, 255), RGB(255, 0, 0)); // white on red
    OP1.SetFilter("*.exe|*.exe");
    OP1.SetOptions(OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING);
}

void TForm1::BindEvents()
{
    listrep1.SetUp(*this, {{"IP Address", Scale(200)}, {"IP Country", Scale(150)}, {"Ping (ms)", Scale(75)}}, 0,
                   {Scale(60), Scale(50), Scale(75), Scale(120), Scale(60), Scale(80)},
                   ProxyListView::CommandsOf(*this, &TForm1::listrep1DblClick, &TForm1::listrep1ColumnClick));
    choices_.Add(*this, PopupMenu1, watch_, route_);
    // Every close command of the window system: the main window closes only by ending the program.
    OnClose([this] {
        FormClose();
        Application.Terminate();
    });
    // The user logs off or Windows shuts down: the process ends without a close event, so the exit
    // sequence runs here, or the browser would stay routed through the proxy.
    OnEndSession([this] {
        Application.MarkTerminating();
        ExitCleanup();
    });
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
    choices_.Load();
}

void TForm1::WatchPicked(const std::string& address)
{
    watch_.Watch(address,
                 {Handle(), &StatusBar1, &listrep1, 0,
                  [this](const CheckedProxy& proxy) {
                      Label1.SetText(ShownProxy(proxy.address));
                      Label2.SetText(proxy.country);
                  },
                  [this] { ShowNoProxy(); }},
                 ServiceRequestWay(), CheckUserAgent());
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
    RefreshProxyList(txtRegEmail.Text(), listrep1, HostNames, refresh_,
                     [this](TPingThread& probe) { PingThreadTerminate(probe); });
}

void TForm1::PingThreadTerminate(TPingThread& Sender)
{
    ListAnsweredProbe(listrep1, refresh_, Sender);
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
    const AgentTokens tokens = FetchAgentTokens(txtRegEmail.Text());
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
    if (const auto selected = listrep1.SelectedPosition())
        UseRow(listrep1.Row(*selected), AppearsIn(listrep1.Row(*selected), 0)); // the exit country, once checked
}

void TForm1::SelectProxy1Click()
{
    const auto selected = listrep1.SelectedPosition();
    if (!selected)
        return;
    const ListRow& row = listrep1.Row(*selected);
    std::string subItems;
    for (std::size_t item = 0; item < row.SubItems.size(); ++item)
        subItems += (item == 0 ? AppearsIn(row, 0) : row.SubItems[item]) + "\r\n";
    UseRow(row, subItems);
}

void TForm1::UseRow(const ListRow& row, const std::string& about)
{
    Label1.SetText(row.Caption);
    Label2.SetText(about);
    // The label names a plain proxy as its row does; one with an account, its row keeps.
    const std::string proxy = row.Proxy.empty() ? Label1.Text() : row.Proxy;
    route_.Use(proxy, KindOf(row));
    WatchPicked(proxy);
}

void TForm1::StopHideMyIP1Click()
{
    watch_.Stop();
    ShowNoProxy();
    route_.Off();
}

void TForm1::ShowNoProxy()
{
    Label1.SetText("[unknown]");
    Label2.SetText("[unknown]");
}

void TForm1::ExitCleanup()
{
    StoreWindowLayout(*this, listrep1, kLayoutValue);
    if (checker_)
        checker_->StoreLayout();
    const unsigned changes = SettingsChangeCount();
    if (settingsBackAt_ == changes)
        return;
    // The proxy first: a failure to store the settings must not leave a public proxy on.
    watch_.Stop();
    route_.Off();
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    registry.StoreText("Zarnuinfo", txtRegEmail.Text());
    registry.StoreText("Zarnubrowser", edtBrowser.Text());
    ClearAgentOverride();
    settingsBackAt_ = changes;
}
