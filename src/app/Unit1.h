#pragma once
// The main window: the proxy list, the proxy in use, the browser identity lists, the account name
// and the browser path, and the two ways to leave the program.

#include "lists/ListCommand.h"
#include "lists/ProxyListView.h"
#include "lists/ProxyWatch.h"
#include "lists/WatchChoices.h"
#include "settings/ProxyRoute.h"
#include "win/Controls.h"
#include "win/Form.h"
#include "win/OpenFileDialog.h"
#include "win/StatusBar.h"

#include <optional>
#include <string>

class TForm2;
class TPingThread;

// The browser path shown when none is stored.
inline constexpr const char* DefaultBrowserPath =
    "C:\\Program Files\\Internet Explorer\\Iexplore.exe";

class TForm1 : public Form {
public:
    TForm1() = default;
    // The window goes first, while everything its messages reach is still there.
    ~TForm1() override { Destroy(); }

    // Creates the window hidden with all its controls, then runs FormCreate. A registry error
    // in FormCreate is shown in the error box and the window is created all the same.
    void Create();
    // Creates the checker window that "&Proxy Checker" shows, owned by this one; it reads the
    // browser path from this window and lives as long as it.
    void CreateChecker(TForm2& checker);

    ProxyListView listrep1;
    Label Label1, Label2, Label3, Label4, Label5, Label6;
    PopupMenu& PopupMenu1 = listrep1.PopupMenu1;
    Button Button1, Button2, Button3, Button4, Button5, Button6;
    ComboBox OSAgentCombo, BrowserAgentCombo;
    Edit txtRegEmail, HostNames, edtBrowser, Memo1;
    OpenFileDialog OP1;
    // Below everything: what the refresh is doing, or what it found.
    StatusBar StatusBar1;

    // True until the browser identity list has been fetched in this run.
    bool AgentListPending = false;

    void FormCreate();
    void FormClose();
    void Button3Click();
    void Button6Click();

    // The proxy list: refresh, one probe's completion, sorting and the item commands.
    void doPingClick();
    void PingThreadTerminate(TPingThread& Sender);
    void listrep1ColumnClick(int column) { listrep1.SortByColumn(column); }
    void Delete1Click() { listrep1.DeleteSelected(); }
    void CopytoClipboard1Click() { listrep1.CopySelectedCaption(Handle()); }
    void CopyWorkingProxies1Click() { listrep1.CopyWorkingProxies(Handle()); }

    // The browser identity: the first click fetches the token lists, every click writes the
    // selected pair.
    void Button4Click();
    void FetchAgentList();

    // The browser: "&What Is My IP ?" and choosing the executable.
    void Button2Click();
    void Button1Click();

    // The system proxy: use the selected row's proxy, or none.
    void listrep1DblClick();
    void SelectProxy1Click();
    void StopHideMyIP1Click();
    // Switches the system proxy off, saves the two settings and removes the browser identity
    // override. Raises ERegistryException; the steps before the failing one stay done and a
    // later call runs the whole sequence again. Once it has succeeded, later calls do nothing
    // until the user's settings are changed again (after a session end that did not end the
    // program, say).
    void ExitCleanup();

private:
    void CreateControls();
    void BindEvents();
    // The proxy in use is now `address`, picked from the main list.
    void WatchPicked(const std::string& address);
    // The labels of the proxy in use once none is.
    void ShowNoProxy();
    // Puts the proxy of `row` in place and watches it; the labels name it and tell `about` it.
    void UseRow(const ListRow& row, const std::string& about);

    TForm2* checker_ = nullptr;
    ListCommand refresh_; // the refresh's probes, checks and progress
    ProxyRoute route_;           // how the browser reaches the proxy in use
    ProxyWatch watch_{route_};   // over the proxy in use, picked here or in the checker
    WatchChoices choices_;       // "Switch Automatically", "Route Through Zarnu"
    // The settings change count at which the exit sequence last put the user's settings back.
    std::optional<unsigned> settingsBackAt_;
};
