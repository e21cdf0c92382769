#include "settings/ProxyRoute.h"

#include "core/ProxyList.h"
#include "settings/SystemProxy.h"

#include <stdexcept>

ProxyRoute::~ProxyRoute()
{
    relay_.reset(); // before the mailbox it posts to
}

void ProxyRoute::SetThroughRelay(bool on)
{
    throughRelay_ = on;
    // Only while the browser still goes through it: a proxy that the user has switched off or
    // replaced since stays so.
    if (!inUse_.empty() && inUseKind_.value_or(ProxyKind::Http) == ProxyKind::Http && InUse(inUse_))
        Use(inUse_, inUseKind_);
}

void ProxyRoute::Use(const std::string& proxy, std::optional<ProxyKind> kind)
{
    const ProxyKind as = kind.value_or(ProxyKind::Http);
    if (as != ProxyKind::Http || throughRelay_) {
        Relay(proxy, as);
    } else {
        ApplySystemProxy(proxy);
        relayed_.clear();
        if (relay_)
            relay_->ClearUpstream();
    }
    inUse_ = proxy;
    inUseKind_ = kind;
}

void ProxyRoute::SwitchTo(const std::string& proxy, std::optional<ProxyKind> kind)
{
    if (relayed_.empty()) {
        Use(proxy, kind);
        return;
    }
    Relay(proxy, kind.value_or(ProxyKind::Http));
    inUse_ = proxy;
    inUseKind_ = kind;
}

void ProxyRoute::Relay(const std::string& proxy, ProxyKind kind)
{
    if (!relay_) {
        mailbox_ = std::make_unique<UiMailbox>();
        relay_ = std::make_unique<::Relay>([mailbox = mailbox_.get(), this](const std::string& failed) {
            mailbox->Post([this, failed] {
                if (openingFailed_)
                    openingFailed_(failed);
            });
        });
    }
    const std::string address = ProxyLineAddress(proxy);
    if (!relay_->SetUpstream(address, kind))
        throw std::runtime_error("The address of the proxy " + address + " cannot be found");
    // The settings are written only where they do not route through the relay already.
    if (relayed_.empty() || !SystemProxyInUse(relay_->Address()))
        ApplySystemProxy(relay_->Address());
    relayed_ = address;
}

void ProxyRoute::Off()
{
    relayed_.clear();
    inUse_.clear();
    if (relay_)
        relay_->ClearUpstream();
    ClearSystemProxy();
}

bool ProxyRoute::InUse(const std::string& proxy)
{
    if (!relayed_.empty())
        return relayed_ == ProxyLineAddress(proxy) && SystemProxyInUse(relay_->Address());
    return SystemProxyInUse(proxy);
}
