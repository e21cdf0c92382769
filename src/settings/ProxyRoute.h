#pragma once
// How the browser reaches the proxy in use: named in the system settings as it is, or through
// the program's relay (relay/Relay.h), which the settings name instead. A SOCKS proxy always goes
// through the relay, since the settings cannot carry one that browsers use safely, and so does a
// proxy with an account, which the relay gives it (no password goes into the settings); an HTTP proxy
// does where "Route Through Zarnu" is on. While the relay is in place, the watch's switch to
// another proxy changes only the relay's upstream: the settings stay as they are, and the
// browser's connections through the proxy left are closed, so that it opens new ones. The user's
// own settings are saved and put back as with any proxy of the program's (settings/SystemProxy.h):
// the relay's address is one of those the saved copy knows, so a start after a killed run repairs
// it. A proxy whose kind is not known yet goes through the relay too, which holds the browser's
// requests until it is told the kind. The relay starts on first use, on a port the system picks.
// UI thread only.

#include "core/PathFailure.h"
#include "core/ProxyHandshake.h"
#include "core/RegistryValue.h"
#include "relay/Relay.h"
#include "win/UiMailbox.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ProxyRoute {
public:
    ProxyRoute() = default;
    // The relay ends with it: its connections close.
    ~ProxyRoute();
    ProxyRoute(const ProxyRoute&) = delete;
    ProxyRoute& operator=(const ProxyRoute&) = delete;

    // "Route Through Zarnu": HTTP proxies go through the relay too, from now on and the one in
    // use at once (while the browser still goes through it). Raises as Use does; the choice holds
    // all the same.
    void SetThroughRelay(bool on);

    // Puts `proxy` (address:port, as a list's line names it) of `kind` (nullopt: not known yet)
    // in place, as the user picked it. Raises ERegistryException as ApplySystemProxy does, and
    // std::runtime_error where the relay cannot listen or the proxy's address cannot be found.
    void Use(const std::string& proxy, std::optional<ProxyKind> kind);
    // The proxy in use, `proxy`, is of `kind`: the relay speaks it from now on.
    void SetKind(const std::string& proxy, ProxyKind kind);
    // The watch's switch to `proxy`: inside the relay where it is in place, otherwise as Use.
    void SwitchTo(const std::string& proxy, std::optional<ProxyKind> kind);
    // The relay carries nothing more through the proxy in use (the browser's requests are
    // answered 502) until SwitchTo; the settings stay as they are.
    void Cut();
    // No proxy of the program's: the user's own settings come back (ClearSystemProxy) and the
    // relay's connections close. Raises ERegistryException.
    void Off();
    // Whether the browser still goes through `proxy`: the settings name it (or the relay, whose
    // upstream it is). Raises ERegistryException.
    bool InUse(const std::string& proxy);
    // Whether the browser reaches the proxy in use through the relay.
    bool Relayed() const { return !relayed_.empty(); }
    // Whether the settings stand as the program left them: routing through the proxy in use, or,
    // after Off, holding what Off left. Raises ERegistryException.
    bool StillAsLeft();

    // Runs on the UI thread for each browser connection whose way through `proxy` could not be
    // opened, or whose tunnel `proxy` refused, with why.
    void OnPathFailed(std::function<void(const std::string& proxy, PathFailure failure)> failed)
    {
        pathFailed_ = std::move(failed);
    }

private:
    void Relay(const std::string& proxy, std::optional<ProxyKind> kind);

    std::function<void(const std::string& proxy, PathFailure failure)> pathFailed_;
    std::unique_ptr<UiMailbox> mailbox_; // outlives the relay, whose thread posts to it
    std::unique_ptr<::Relay> relay_;
    // The proxy the relay carries the browser to; empty where the settings name the proxy itself.
    std::string relayed_;
    // The proxy in place and its kind (as Use was told); empty once switched off.
    std::string inUse_;
    std::optional<ProxyKind> inUseKind_;
    bool throughRelay_ = false;
    // The settings as Off left them; nullopt while a proxy is in use.
    std::optional<std::vector<UserValue>> leftOff_;
};
