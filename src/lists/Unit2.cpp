#include "lists/Unit2.h"

#include "core/ProxyAccount.h"
#include "core/ProxyList.h"
#include "lists/ProxyProbes.h"
#include "lists/WindowProfile.h"
#include "settings/AgentOverride.h"
#include "settings/BrowserLaunch.h"
#include "settings/SystemProxy.h"

namespace {

constexpr DWORD kButtonStyle = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabelStyle = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;

// The profile's value that keeps the window's layout.
constexpr const char* kLayoutValue = "Zarnucheckerwindow";

// The controls are laid out inside the group box, whose client origin is here in the window.
constexpr int kGroupLeft = 7;
constexpr int kGroupTop = 0;

} // namespace

void TForm2::Create(HWND owner, BrowserPathSource browserPath, ProxyWatch& watch, ProxyRoute& route)
{
    browserPath_ = std::move(browserPath);
    watch_ = &watch;
    route_ = &route;
    CreateForm(Frame{"TForm2", "Zarnu Proxy Checker", 568, 417,
                     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME},
               owner);
    CreateControls();
    BindEvents();
    CreateStatusBar(StatusBar1);
    // The frame and the two boxes take what the window grows by, the list all of the width; the
    // buttons keep to the bottom edge and "IP" to the right one.
    MakeResizable({{&GroupBox1, kGrowWidth | kGrowHeight}, {&HostNames, kGrowHeight},
                   {&ListView1, kGrowWidth | kGrowHeight}, {&Button5, kFollowBottom}, {&Button1, kFollowBottom},
                   {&Button2, kFollowRight}});
    LoadWindowLayout(*this, ListView1, kLayoutValue);
    check_.progress.Attach(Handle(), StatusBar1, [this] { return check_.Working(); },
                           [this] { watch_->ListChecked(ListView1); });
}

void TForm2::CreateControls()
{
    Form::CreateControls({{GroupBox1, WC_BUTTONA, "Proxy Checker", kGroupLeft, kGroupTop, 554, 409,
                           WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX}});
    // Siblings of the group box rather than its children, so that their events reach this
    // window. In tab order; the labels, which take no focus, last.
    Form::CreateControls(
        {
            {HostNames, WC_EDITA, "", 8, 32, 265, 337,
             WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, WS_EX_CLIENTEDGE},
            {ListView1, WC_LISTVIEWA, "", 280, 32, 265, 337, WS_VISIBLE | ProxyListView::kStyle, WS_EX_CLIENTEDGE},
            {Button5, WC_BUTTONA, "Check &List", 8, 376, 265, 25, kButtonStyle, 0, [this] { doPingClick(); }},
            {Button1, WC_BUTTONA, "&Close", 280, 376, 265, 25, kButtonStyle, 0, [this] { Button1Click(); }},
            {Button2, WC_BUTTONA, "IP", 520, 15, 22, 17, kButtonStyle, 0, [this] { Button2Click(); }},
            {Label11, WC_STATICA, "Paste proxy list here (Ex: 12.42.322.56:80)", 8, 16, 199, 13, kLabelStyle},
            {Label1, WC_STATICA, "Your New IP: ", 280, 16, 80, 13, kLabelStyle, 0, {}, true},
            {Label2, WC_STATICA, "[unknown]", 360, 16, 60, 13, kLabelStyle, 0, {}, true},
        },
        kGroupLeft, kGroupTop);
    // The frame lies beneath what it holds and paints none of it. It takes no focus, so its
    // place in the tab order does not matter.
    SetWindowPos(GroupBox1.Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    HostNames.RemoveTextLimit();
    SetColors(Label2.Handle(), RGB(255, 0, 0), GetSysColor(COLOR_BTNFACE)); // red
}

void TForm2::BindEvents()
{
    ListView1.SetUp(*this, {{"IP Address", Scale(186)}, {"Ping (ms)", Scale(75)}}, -1,
                    {Scale(60), Scale(50), Scale(75), Scale(120), Scale(60), Scale(80)},
                    ProxyListView::CommandsOf(*this, &TForm2::ListView1DblClick, &TForm2::ListView1ColumnClick));
    OnClose([this] { Button1Click(); });
    OnCancel([this] { Button1Click(); }); // Esc, as in a modal dialog
}

void TForm2::doPingClick()
{
    CheckProxyLines(HostNames.Text(), ListView1, check_, [this](TPingThread& probe) { PingThreadTerminate(probe); });
}

void TForm2::PingThreadTerminate(TPingThread& Sender)
{
    ListCheckedProbe(ListView1, check_, Sender);
}

void TForm2::StoreLayout() const
{
    StoreWindowLayout(*this, ListView1, kLayoutValue);
}

void TForm2::Button1Click()
{
    Hide();
}

void TForm2::Button2Click()
{
    LaunchIpCheckPage(browserPath_());
}

void TForm2::ListView1DblClick()
{
    SelectProxy1Click();
}

void TForm2::SelectProxy1Click()
{
    const auto selected = ListView1.SelectedPosition();
    if (!selected)
        return;
    const ListRow& row = ListView1.Row(*selected);
    Label2.SetText(row.Caption);
    // The label names a plain proxy as its row does; one with an account, its row keeps.
    const std::string proxy = row.Proxy.empty() ? Label2.Text() : row.Proxy;
    route_->Use(proxy, KindOf(row));
    watch_->Watch(ProxyLineAddress(proxy),
                  {Handle(), &StatusBar1, &ListView1, -1,
                   [this](const CheckedProxy& proxy) { Label2.SetText(ShownProxy(proxy.address)); },
                   [this] { Label2.SetText("[unknown]"); }},
                  ServiceRequestWay(), CheckUserAgent());
}

void TForm2::StopHideMyIP1Click()
{
    watch_->Stop();
    Label2.SetText("[unknown]");
    route_->Off();
}
