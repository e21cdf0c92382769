#include "lists/WatchChoices.h"

#include "settings/SystemProxy.h"
#include "win/Registry.h"

namespace {

constexpr const char* kAutoSwitchValue = "Zarnuautoswitch";
constexpr const char* kRouteThroughZarnuValue = "Zarnurelay";

} // namespace

void WatchChoices::Add(Window& window, PopupMenu& menu, ProxyWatch& watch, ProxyRoute& route)
{
    menu_ = &menu;
    watch_ = &watch;
    route_ = &route;
    menu.Add(kSwitchAutomaticallyCommand, "Switch Automatically");
    window.OnMenuCommand(kSwitchAutomaticallyCommand,
                         [this] { ShowSwitchAutomatically(Toggle(kSwitchAutomaticallyCommand, kAutoSwitchValue)); });
    ShowSwitchAutomatically(true);
    menu.Add(kRouteThroughZarnuCommand, "Route Through Zarnu");
    // The choice is stored first: moving the proxy in use behind the relay, or out, may fail.
    window.OnMenuCommand(kRouteThroughZarnuCommand,
                         [this] { ShowRouteThroughZarnu(Toggle(kRouteThroughZarnuCommand, kRouteThroughZarnuValue)); });
}

void WatchChoices::Load()
{
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    // Anything but a stored 0 leaves it on.
    const auto autoSwitch = registry.LoadValue(kAutoSwitchValue);
    ShowSwitchAutomatically(!(autoSwitch && autoSwitch->type == REG_DWORD && autoSwitch->data == std::string(4, '\0')));
    // Only a stored 1 turns it on.
    const auto relay = registry.LoadValue(kRouteThroughZarnuValue);
    ShowRouteThroughZarnu(relay && relay->type == REG_DWORD && relay->data == std::string("\1\0\0\0", 4));
}

bool WatchChoices::Toggle(UINT command, const char* value)
{
    const bool on = !menu_->Checked(command);
    TRegistry registry;
    registry.OpenOrCreateUserKey(SettingsKey);
    registry.StoreNumber(value, on ? 1 : 0);
    return on;
}

void WatchChoices::ShowSwitchAutomatically(bool on)
{
    menu_->Check(kSwitchAutomaticallyCommand, on);
    watch_->SwitchAutomatically(on);
}

void WatchChoices::ShowRouteThroughZarnu(bool on)
{
    menu_->Check(kRouteThroughZarnuCommand, on);
    route_->SetThroughRelay(on); // moves an HTTP proxy in use behind the relay, or out again
}
