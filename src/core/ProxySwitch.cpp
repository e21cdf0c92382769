#include "core/ProxySwitch.h"

#include <algorithm>

namespace {

using Kind = ProxyStep::Kind;

ProxyStep Store(const char* name, const RegistryValue& value)
{
    return ProxyStep{Kind::StoreValue, name, value, {}, {}};
}

ProxyStep Delete(const char* name)
{
    return ProxyStep{Kind::DeleteValue, name, {}, {}, {}};
}

ProxyStep PutBack(const char* name, const UserValue& value)
{
    return value ? Store(name, *value) : Delete(name);
}

ProxyStep StoreCopy(const SavedProxy& copy)
{
    return ProxyStep{Kind::StoreCopy, {}, {}, copy, {}};
}

ProxyStep SetConnection(const ConnectionSettings& connection)
{
    return ProxyStep{Kind::SetConnection, {}, {}, {}, connection};
}

const ProxyStep kDeleteCopy{Kind::DeleteCopy, {}, {}, {}, {}};
const ProxyStep kAnnounce{Kind::Announce, {}, {}, {}, {}};

bool Holds(const std::vector<std::u16string>& addresses, const std::u16string& address)
{
    return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

std::u16string TextOr(const UserValue& value, const std::u16string& otherwise = {})
{
    return WideText(value).value_or(otherwise);
}

// The user's connection settings: as saved, or as the saved values describe them.
ConnectionSettings UsersConnection(const SavedProxy& saved)
{
    if (saved.connection)
        return *saved.connection;
    return ConnectionSettings{kProxyTypeDirect | (IsNonZeroDword(saved.enable) ? kProxyTypeProxy : 0u),
                              TextOr(saved.server), TextOr(saved.bypass), TextOr(saved.autoConfigUrl)};
}

// Puts the user's settings back, the copy marked first so that a run ending part-way is
// completed by the next start. "ProxyEnable" and "ProxyServer" are written after the connection,
// which some platforms mirror into them, so that they end exactly as the user had them.
ProxyPlan Restore(SavedProxy saved)
{
    ProxyPlan plan;
    if (!saved.restoring) {
        saved.restoring = true;
        plan.push_back(StoreCopy(saved));
    }
    plan.push_back(SetConnection(UsersConnection(saved)));
    if (saved.holdsEverything) {
        plan.push_back(PutBack(kProxyOverrideName, saved.bypass));
        plan.push_back(PutBack(kAutoConfigUrlName, saved.autoConfigUrl));
    }
    plan.push_back(Store(kProxyEnableName, saved.enable.value_or(DwordValue(0))));
    plan.push_back(Store(kProxyServerName, saved.server.value_or(WideTextValue(u":"))));
    plan.push_back(kDeleteCopy);
    plan.push_back(kAnnounce);
    return plan;
}

std::u16string Trimmed(const std::u16string& text)
{
    const auto first = text.find_first_not_of(u" \t");
    if (first == std::u16string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

bool SameEntry(const std::u16string& a, const std::u16string& b)
{
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// The entries of a bypass list, blanks around them dropped, empty ones left out.
std::vector<std::u16string> Entries(const std::u16string& list)
{
    std::vector<std::u16string> entries;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(u';', start), list.size());
        if (const std::u16string entry = Trimmed(list.substr(start, end - start)); !entry.empty())
            entries.push_back(entry);
        start = end + 1;
    }
    return entries;
}

// The user's own bypass list with the entries that they added to "ProxyOverride" (`now`) while
// the program's proxy was on: those that the program did not write. Unchanged where none was added.
UserValue WithEntriesAddedMeanwhile(const UserValue& usersBypass, const UserValue& now)
{
    const std::vector<std::u16string> written = Entries(BypassWithLocalAddresses(usersBypass));
    std::u16string merged = TextOr(usersBypass);
    bool added = false;
    for (const std::u16string& entry : Entries(TextOr(now))) {
        if (std::any_of(written.begin(), written.end(), [&](const std::u16string& e) { return SameEntry(e, entry); }))
            continue;
        merged += (merged.empty() ? u"" : u";") + entry;
        added = true;
    }
    return added ? UserValue(WideTextValue(merged)) : usersBypass;
}

// The copy of the user's settings with what they added to the bypass list meanwhile, where the
// program's proxy is in place.
SavedProxy WithUsersLatestBypass(SavedProxy saved, const ProxyState& state)
{
    if (saved.holdsEverything && ProgramProxyInPlace(state))
        saved.bypass = WithEntriesAddedMeanwhile(saved.bypass, state.bypass);
    return saved;
}

} // namespace

bool ProgramProxyInPlace(const ProxyState& state)
{
    if (!state.copy)
        return false;
    const std::optional<std::u16string> server = WideText(state.server);
    return server && Holds(state.copy->applied, *server);
}

bool ProgramProxyInUse(const ProxyState& state, const std::u16string& address)
{
    const std::optional<std::u16string> server = WideText(state.server);
    return ProgramProxyInPlace(state) && Trimmed(server->substr(0, server->find(u';'))) == address &&
           IsNonZeroDword(state.enable) && !state.autoConfigUrl;
}

namespace {

// The user's settings to keep while `address` is in place: in the copy while a proxy of the
// program's is (or may still be) in place, otherwise as they stand; `address` among the applied.
SavedProxy UsersSettingsFor(const ProxyState& state, const std::u16string& address)
{
    SavedProxy saved;
    if (state.copy && (state.copy->restoring || ProgramProxyInPlace(state))) {
        saved = WithUsersLatestBypass(*state.copy, state);
        saved.restoring = false;
    } else {
        saved.enable = state.enable;
        saved.server = state.server;
        saved.connection = state.connection;
        saved.holdsEverything = false;
    }
    if (!saved.holdsEverything) {
        // Not saved yet, or by a version that left these as the user had them.
        saved.bypass = state.bypass;
        saved.autoConfigUrl = state.autoConfigUrl;
        saved.holdsEverything = true;
    }
    if (!Holds(saved.applied, address))
        saved.applied.push_back(address);
    return saved;
}

} // namespace

std::optional<ProxyPlan> PlanSwitchOn(const ProxyState& state, const std::u16string& address)
{
    if (state.copyPresent && !state.copy)
        return std::nullopt;
    SavedProxy saved = UsersSettingsFor(state, address);
    const std::u16string bypass = BypassWithLocalAddresses(saved.bypass);
    const std::u16string usersScript = saved.connection ? saved.connection->autoConfigUrl : std::u16string();
    // The copy first, knowing the new address, so that a run ending at any later point is
    // repaired; then "ProxyServer", which tells that the proxy is in place.
    ProxyPlan plan{StoreCopy(saved), Store(kProxyServerName, WideTextValue(address))};
    // Automatic configuration off, so that it cannot override the proxy; the script stays named.
    plan.push_back(SetConnection({kProxyTypeDirect | kProxyTypeProxy, address, bypass, usersScript}));
    plan.push_back(Store(kProxyOverrideName, WideTextValue(bypass)));
    if (state.autoConfigUrl)
        plan.push_back(Delete(kAutoConfigUrlName));
    plan.push_back(Store(kProxyEnableName, DwordValue(1)));
    if (saved.applied.size() > 1) {
        saved.applied = {address};
        plan.push_back(StoreCopy(saved));
    }
    plan.push_back(kAnnounce);
    return plan;
}

ProxyPlan PlanSwitchOff(const ProxyState& state)
{
    if (state.copyPresent)
        return PlanRepair(state);
    if (state.enable && state.server)
        return {};
    ConnectionSettings connection = state.connection.value_or(ConnectionSettings{});
    connection.flags = (connection.flags & (kProxyTypeAutoDetect | kProxyTypeAutoProxyUrl)) |
                       kProxyTypeDirect | (IsNonZeroDword(state.enable) ? kProxyTypeProxy : 0u);
    connection.server = TextOr(state.server, u":");
    return {SetConnection(connection), Store(kProxyEnableName, state.enable.value_or(DwordValue(0))),
            Store(kProxyServerName, state.server.value_or(WideTextValue(u":"))), kAnnounce};
}

ProxyPlan PlanRepair(const ProxyState& state)
{
    if (!state.copy)
        return {}; // none, or one this version cannot read: left alone
    if (state.copy->restoring || ProgramProxyInPlace(state))
        return Restore(WithUsersLatestBypass(*state.copy, state));
    return {kDeleteCopy}; // the user has set a proxy of their own since
}

std::u16string BypassWithLocalAddresses(const UserValue& usersBypass)
{
    std::vector<std::u16string> entries;
    const auto add = [&](const std::u16string& entry) {
        if (std::none_of(entries.begin(), entries.end(), [&](const std::u16string& e) { return SameEntry(e, entry); }))
            entries.push_back(entry);
    };
    for (const std::u16string& entry : Entries(TextOr(usersBypass)))
        add(entry);
    for (const char16_t* local : {u"<local>", u"10.*"})
        add(local);
    for (int second = 16; second <= 31; ++second) {
        const std::string range = "172." + std::to_string(second) + ".*";
        add(std::u16string(range.begin(), range.end()));
    }
    for (const char16_t* local : {u"192.168.*", u"169.254.*"})
        add(local);

    std::u16string joined;
    for (const std::u16string& entry : entries)
        joined += (joined.empty() ? u"" : u";") + entry;
    return joined;
}

RequestWay OwnRequestWayFor(const ProxyState& state)
{
    if (!state.copy || !(state.copy->restoring || ProgramProxyInPlace(state)))
        return {};
    const SavedProxy& saved = *state.copy;
    const std::u16string server = TextOr(saved.server);
    if (!IsNonZeroDword(saved.enable) || server.empty())
        return {RequestWay::Kind::Direct, {}, {}};
    return {RequestWay::Kind::Proxy, server, TextOr(saved.holdsEverything ? saved.bypass : state.bypass)};
}
