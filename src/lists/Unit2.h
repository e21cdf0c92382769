#pragma once
// The proxy checker window: the user pastes address:port lines and gets each one's ping or
// "BAD PROXY", and can use a listed proxy as on the main window. Created hidden at start-up and
// kept until the program ends; it is shown modally over the main window, and closing it only
// hides it, so the pasted text, the rows and the label stay from one showing to the next.

#include "lists/ListCommand.h"
#include "lists/ProxyListView.h"
#include "lists/ProxyWatch.h"
#include "win/Controls.h"
#include "win/Form.h"
#include "win/StatusBar.h"

#include <functional>
#include <string>

class TPingThread;

class TForm2 : public Form {
public:
    TForm2() = default;
    // The window goes first, while everything its messages reach is still there.
    ~TForm2() override { Destroy(); }

    // The browser that "IP" starts: the path the main window shows at the time of the click.
    using BrowserPathSource = std::function<std::string()>;

    // Creates the window hidden, owned by `owner`, which it disables while it is shown. A proxy
    // used from its list is put in place through `route` and watched by `watch`, the program's
    // one route and one watch.
    void Create(HWND owner, BrowserPathSource browserPath, ProxyWatch& watch, ProxyRoute& route);
    // Keeps the window's size and its list's columns in the user's profile for the next start.
    void StoreLayout() const;

    Control GroupBox1;
    Label Label11, Label1, Label2;
    Edit HostNames;
    ProxyListView ListView1;
    Button Button5, Button1, Button2;
    PopupMenu& PopupMenu1 = ListView1.PopupMenu1;
    // Below everything: what the check is doing, or what it found.
    StatusBar StatusBar1;

    // "Check &List" and one probe's completion.
    void doPingClick();
    void PingThreadTerminate(TPingThread& Sender);
    // "&Close", the title bar's close and Esc: hides the window, which ends its modal showing.
    void Button1Click();
    // "IP": the what-is-my-IP page in the browser named on the main window.
    void Button2Click();

    void ListView1ColumnClick(int column) { ListView1.SortByColumn(column); }
    void Delete1Click() { ListView1.DeleteSelected(); }
    void CopytoClipboard1Click() { ListView1.CopySelectedCaption(Handle()); }
    void CopyWorkingProxies1Click() { ListView1.CopyWorkingProxies(Handle()); }
    void ListView1DblClick();
    void SelectProxy1Click();
    void StopHideMyIP1Click();

private:
    void CreateControls();
    void BindEvents();

    BrowserPathSource browserPath_;
    ProxyWatch* watch_ = nullptr;
    ProxyRoute* route_ = nullptr;
    ListCommand check_; // the check's probes, checks and progress
};
