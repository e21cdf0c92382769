#include "lists/ProxyWatch.h"

#include "core/ExitPlace.h"
#include "core/ProxyList.h"
#include "core/ServiceUrl.h"
#include "verify/ProxyCheck.h"
#include "verify/ProxyCheckPool.h"
#include "verify/UsersAddresses.h"
#include "win/NetworkAddresses.h"
#include "win/Registry.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace {

using Kind = WatchAction::Kind;

ProxyWatch::Times times;

std::string LocalTime()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    return text;
}

std::uint64_t Now()
{
    return GetTickCount64();
}

// The position of the row of `list` whose proxy is `address`.
std::optional<std::size_t> RowOf(const ProxyListView& list, const std::string& address)
{
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (RowProxy(list.Row(position)) == address)
            return position;
    return std::nullopt;
}

} // namespace

ProxyWatch::Times ProxyWatch::UseTimes(const Times& use)
{
    return std::exchange(times, use);
}

ProxyWatch::ProxyWatch(ProxyRoute& route) : route_(route), machine_(times)
{
    route_.OnPathFailed([this](const std::string& proxy, PathFailure failure) {
        Carry(machine_.RelayFailed(Now(), ProxyLineAddress(proxy), failure));
    });
}

ProxyWatch::~ProxyWatch()
{
    route_.OnPathFailed({});
    if (cancelled_)
        *cancelled_ = true;
}

void ProxyWatch::Watch(const std::string& address, Picker picker, RequestWay way, std::string userAgent)
{
    if (!machinery_)
        machinery_ = std::make_unique<Machinery>();
    Stop();
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    picker_ = std::move(picker);
    way_ = std::move(way);
    userAgent_ = std::move(userAgent);
    service_ = ServiceHost();
    localAddresses_ = LocalAddresses();
    WatchMachine::Pick pick{CheckedProxy{ProxyLineAddress(address)}, false, route_.Relayed()};
    if (const auto position = RowOf(*picker_.list, pick.proxy.address)) {
        const ListRow& row = picker_.list->Row(*position);
        pick.proxy.country = AppearsIn(row, picker_.countryItem);
        pick.proxy.kind = KindOf(row);
        if (const auto checked = CheckedProxyOf(row, picker_.countryItem)) {
            pick.proxy = *checked;
            pick.checked = true;
        }
    }
    Times use = times;
    use.listLimitMs = ProxyCheckPool::CheckLimitMs();
    machine_.UseTimes(use);
    Carry(machine_.Begin(Now(), pick, [this] { return Candidates(); }));
}

void ProxyWatch::Stop()
{
    if (cancelled_)
        *cancelled_ = true;
    learningsLeft_.clear();
    Carry(machine_.Stop());
    timer_.Stop();
}

void ProxyWatch::SwitchAutomatically(bool on)
{
    Carry(machine_.SwitchAutomatically(Now(), on));
}

void ProxyWatch::ListChecked(const ProxyListView& list)
{
    if (&list == picker_.list)
        Carry(machine_.ListEnded(Now()));
}

void ProxyWatch::Carry(const WatchActions& actions)
{
    for (const WatchAction& action : actions)
        Carry(action);
    Schedule();
}

void ProxyWatch::Carry(const WatchAction& action)
{
    switch (action.kind) {
    case Kind::Learn: Learn(action.id); break;
    case Kind::Check: Check(action); break;
    case Kind::SetKind: route_.SetKind(action.proxy, *action.kindOfProxy); break;
    case Kind::Cut: route_.Cut(); break;
    case Kind::SwitchTo: SwitchTo(action); break;
    case Kind::SwitchOff: SwitchOff(); break;
    case Kind::Mark: Mark(action); break;
    case Kind::Tell:
        if (picker_.bar)
            picker_.bar->SetText(LocalTime() + " " + action.text);
        Flash();
        break;
    case Kind::Notice:
        if (picker_.bar)
            picker_.bar->SetNotice(action.text.empty() ? "" : LocalTime() + " " + action.text);
        if (!action.text.empty())
            Flash();
        break;
    case Kind::ShowInUse:
        if (picker_.showInUse)
            picker_.showInUse(action.successor);
        break;
    case Kind::ShowOff:
        if (picker_.showOff)
            picker_.showOff();
        break;
    }
}

std::function<void(std::function<void()>)> ProxyWatch::Poster()
{
    return [mailbox = &machinery_->mailbox, cancelled = cancelled_](std::function<void()> work) {
        mailbox->Post([cancelled, work = std::move(work)] {
            if (!cancelled->load())
                work();
        });
    };
}

void ProxyWatch::Check(const WatchAction& action)
{
    const std::uint64_t id = action.id;
    CheckJob job = ProxyCheckJob(
        CheckOrder{action.proxy, service_, userAgent_, action.usersAddresses, action.limitMs, action.tunnel,
                   action.kindOfProxy},
        [this, id, post = Poster()](const ProxyVerdict& verdict) {
            post([this, id, verdict] { Carry(machine_.CheckCame(Now(), id, verdict)); });
        });
    job.cancelled = cancelled_;
    machinery_->engine.Submit(std::move(job));
}

void ProxyWatch::Learn(std::uint64_t id)
{
    learningsLeft_[id] = ::LearnUsersAddresses(
        machinery_->engine, service_, way_, userAgent_, times.limitMs, cancelled_,
        [this, id, post = Poster()](std::vector<std::string> addresses) {
            post([this, id, addresses] {
                const auto left = learningsLeft_.find(id);
                if (left == learningsLeft_.end())
                    return;
                const bool last = --left->second <= 0;
                if (last)
                    learningsLeft_.erase(left);
                Carry(machine_.Learned(Now(), id, addresses, last));
            });
        });
}

void ProxyWatch::SwitchTo(const WatchAction& action)
{
    if (!SettingsAsLeft())
        return;
    try {
        route_.SwitchTo(action.proxy, action.kindOfProxy); // keeps the user's settings safe
    } catch (const std::runtime_error& error) {
        Carry(machine_.SwitchFailed(Now(), error.what()));
        return;
    }
    Carry(machine_.Switched(Now(), route_.Relayed()));
}

void ProxyWatch::SwitchOff()
{
    if (!SettingsAsLeft())
        return;
    try {
        route_.Off();
    } catch (const ERegistryException& error) {
        Carry(machine_.SwitchOffFailed(Now(), error.what()));
        return;
    }
    Carry(machine_.SwitchedOff(Now()));
}

void ProxyWatch::Mark(const WatchAction& action)
{
    ProxyListView& list = *picker_.list;
    if (const auto position = RowOf(list, action.proxy))
        list.SetVerdict(list.IdAt(*position), action.verdict);
}

void ProxyWatch::Schedule()
{
    const auto next = machine_.NextTick();
    if (!next) {
        timer_.Stop();
        return;
    }
    const std::uint64_t now = Now();
    const std::uint64_t waitMs = *next > now ? *next - now : 0;
    timer_.Start(static_cast<UINT>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(waitMs, 0x7FFFFFFF))),
                 [this] { Tick(); });
}

void ProxyWatch::Tick()
{
    timer_.Stop();
    if (!machine_.Watching() || !SettingsAsLeft())
        return;
    std::vector<std::string> addresses = LocalAddresses();
    if (addresses != localAddresses_) {
        localAddresses_ = std::move(addresses);
        Carry(machine_.NetworkChanged(Now()));
    }
    Carry(machine_.Tick(Now()));
}

bool ProxyWatch::SettingsAsLeft()
{
    bool asLeft = false;
    try {
        asLeft = route_.StillAsLeft();
    } catch (const ERegistryException&) {
        // unreadable: nothing is written
    }
    if (!asLeft)
        Carry(machine_.SettingsChanged(Now()));
    return asLeft;
}

std::vector<CheckedProxy> ProxyWatch::Candidates() const
{
    std::vector<CheckedProxy> candidates;
    const ProxyListView& list = *picker_.list;
    for (std::size_t position = 0; position < list.Count(); ++position)
        if (const auto proxy = CheckedProxyOf(list.Row(position), picker_.countryItem))
            candidates.push_back(*proxy);
    return candidates;
}

void ProxyWatch::Flash() const
{
    // The taskbar button belongs to the window that owns the picking one.
    const HWND button = GetAncestor(picker_.window, GA_ROOTOWNER);
    const HWND front = GetForegroundWindow();
    if (button && front != button && front != picker_.window) {
        FLASHWINFO flash{sizeof flash, button, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
    }
}
