#pragma once
// The main list's two choices about the proxy in use, each an item with a check mark in the
// list's menu and a DWORD beside the Internet Settings: "Switch Automatically" (the watch may put
// another proxy in place by itself; on unless a 0 is stored) and "Route Through Zarnu" (HTTP
// proxies go through the program's relay too; off unless a 1 is stored). UI thread only.

#include "lists/ProxyWatch.h"
#include "settings/ProxyRoute.h"
#include "win/Controls.h"
#include "win/Window.h"

class WatchChoices {
public:
    static constexpr UINT kSwitchAutomaticallyCommand = 2000;
    static constexpr UINT kRouteThroughZarnuCommand = 2001;

    // Adds the two items to `menu`, whose commands reach `window`; they act on `watch` and `route`,
    // which outlive this.
    void Add(Window& window, PopupMenu& menu, ProxyWatch& watch, ProxyRoute& route);
    // Shows the stored choices and acts on them. Raises ERegistryException.
    void Load();

private:
    void ShowSwitchAutomatically(bool on);
    void ShowRouteThroughZarnu(bool on);
    // The item's choice turned the other way, and stored; the new choice.
    bool Toggle(UINT command, const char* value);

    PopupMenu* menu_ = nullptr;
    ProxyWatch* watch_ = nullptr;
    ProxyRoute* route_ = nullptr;
};
