#include "settings/ProxyRoute.h"

#include "core/ProxyAccount.h"
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
    if (!inUse_.empty() && inUseKind_ == ProxyKind::Http && InUse(inUse_))
        Use(inUse_, inUseKind_);
}

void ProxyRoute::Use(const std::string& proxy, std::optional<ProxyKind> kind)
{
    leftOff_.reset();
    // An account is the relay's to give: the settings and the browser never see it.
    if (kind != ProxyKind::Http || throughRelay_ || TargetOf(proxy).account) {
        Relay(proxy, kind);
    } else {
        ApplySystemProxy(proxy);
        relayed_.clear();
        if (relay_)
            relay_->ClearUpstream();
    }
    inUse_ = proxy;
    inUseKind_ = kind;
}

void ProxyRoute::SetKind(const std::string& proxy, ProxyKind kind)
{
    if (proxy != inUse_ || inUseKind_ == kind)
        return;
    inUseKind_ = kind;
    if (!relayed_.empty())
        relay_->SetUpstream(relayed_, kind);
}

void ProxyRoute::SwitchTo(const std::string& proxy, std::optional<ProxyKind> kind)
{
    if (relayed_.empty()) {
        Use(proxy, kind);
        return;
    }
    Relay(proxy, kind);
    inUse_ = proxy;
    inUseKind_ = kind;
}

void ProxyRoute::Cut()
{
    if (relay_)
        relay_->ClearUpstream();
}

void ProxyRoute::Relay(const std::string& proxy, std::optional<ProxyKind> kind)
{
    if (!relay_) {
        mailbox_ = std::make_unique<UiMailbox>();
        relay_ = std::make_unique<::Relay>([mailbox = mailbox_.get(), this](const std::string& failed, PathFailure why) {
            mailbox->Post([this, failed, why] {
                if (pathFailed_)
                    pathFailed_(failed, why);
            });
        });
    }
    const std::string address = ProxyLineAddress(proxy);
    if (!relay_->SetUpstream(address, kind))
        throw std::runtime_error("The address of the proxy " + ShownProxy(address) + " cannot be found");
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
    leftOff_ = SystemProxyValues();
}

bool ProxyRoute::StillAsLeft()
{
    if (!inUse_.empty())
        return InUse(inUse_);
    return leftOff_ && SystemProxyValues() == *leftOff_;
}

bool ProxyRoute::InUse(const std::string& proxy)
{
    if (!relayed_.empty())
        return relayed_ == ProxyLineAddress(proxy) && SystemProxyInUse(relay_->Address());
    return SystemProxyInUse(proxy);
}
