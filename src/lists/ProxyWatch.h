#pragma once
// The watch over the proxy of the program's in place, from the moment it is picked in either list
// until it is switched off (or another is picked). What it decides is the core's
// (core/WatchMachine.h); this carries its events in and its actions out: the checks run off the
// UI thread on a check engine of the watch's own, the user's addresses are learned the service's
// way (verify/UsersAddresses.h), switches go through `route`, which also tells of the browser's
// connections that failed through the relay, the picking window's status bar and labels show what
// happened, and its taskbar button flashes until the window is in front. The watch writes the
// system settings only while they still stand as the program left them; a registry error in a
// switch of its own is told, not raised. UI thread only.

#include "core/RequestWay.h"
#include "core/WatchMachine.h"
#include "lists/ProxyListView.h"
#include "settings/ProxyRoute.h"
#include "verify/CheckEngine.h"
#include "win/StatusBar.h"
#include "win/ThreadTimer.h"
#include "win/UiMailbox.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ProxyWatch {
public:
    // The window whose list the proxy was picked from.
    struct Picker {
        HWND window = nullptr;           // flashed (its taskbar button's window) when not in front
        StatusBar* bar = nullptr;         // where the watch tells what it did
        ProxyListView* list = nullptr;    // where proxies to take over come from
        int countryItem = -1;             // the sub-item of its rows that holds the country
        std::function<void(const CheckedProxy& proxy)> showInUse; // the window's labels
        std::function<void()> showOff;    // the labels once no proxy of the program's is in use
    };
    using Times = WatchSchedule;
    // The watch's times from now on (the check limit of the lists aside); the previous ones.
    static Times UseTimes(const Times& times);

    // Switches through `route`, which outlives the watch.
    explicit ProxyWatch(ProxyRoute& route);
    ProxyWatch(const ProxyWatch&) = delete;
    ProxyWatch& operator=(const ProxyWatch&) = delete;
    // Ends the watch; the picking window, which may have gone, is not touched.
    ~ProxyWatch();

    // `address` is now in place, picked in `picker`'s list; the watch over an earlier one ends.
    // `way` is the program's own way out. Raises std::runtime_error when the watch's threads
    // cannot be had.
    void Watch(const std::string& address, Picker picker, RequestWay way, std::string userAgent);
    // No proxy of the program's in place: nothing is checked any more, and what stood in the
    // status bar goes.
    void Stop();
    bool Watching() const { return machine_.Watching(); }

    // When off, the watch checks and tells, but switches nothing; a search under way ends.
    void SwitchAutomatically(bool on);

    // A command of `list` has ended: its verdicts are the latest.
    void ListChecked(const ProxyListView& list);

private:
    struct Machinery {
        UiMailbox mailbox;
        CheckEngine engine;
    };

    // Carries out what the machine answered, in order; the outcome of a switch goes back to it.
    void Carry(const WatchActions& actions);
    void Carry(const WatchAction& action);
    void Check(const WatchAction& action);
    void Learn(std::uint64_t id);
    void SwitchTo(const WatchAction& action);
    void SwitchOff();
    void Mark(const WatchAction& action);
    // The machine's next moment, on the thread's timer.
    void Schedule();
    void Tick();
    // Whether the settings stand as the program left them; where not, the machine is told.
    bool SettingsAsLeft();
    std::vector<CheckedProxy> Candidates() const;
    // Runs `work` on the UI thread unless this watch has ended by then.
    std::function<void(std::function<void()>)> Poster();
    void Flash() const;

    ProxyRoute& route_;
    std::unique_ptr<Machinery> machinery_;
    std::shared_ptr<std::atomic<bool>> cancelled_; // the current watch's
    WatchMachine machine_;
    Picker picker_;
    RequestWay way_;
    std::string userAgent_;
    std::string service_;
    std::map<std::uint64_t, int> learningsLeft_; // answers still to come, by learning
    std::vector<std::string> localAddresses_;    // this machine's, when last looked at
    ThreadTimer timer_;
};
