#include "core/ProxySwitch.h"

#include "Latin1.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// The user's Internet Settings as the platform keeps them: the values, the copy, the connection.
struct Machine {
    std::map<std::string, RegistryValue> values;
    std::optional<std::string> copy;
    ConnectionSettings connection;

    bool operator==(const Machine&) const = default;

    UserValue Value(const char* name) const
    {
        const auto found = values.find(name);
        return found == values.end() ? UserValue() : found->second;
    }

    ProxyState State() const
    {
        ProxyState state{Value(kProxyEnableName), Value(kProxyServerName), Value(kProxyOverrideName),
                         Value(kAutoConfigUrlName)};
        state.copyPresent = copy.has_value();
        state.copy = copy ? DecodeSavedProxy(*copy, Latin1) : std::nullopt;
        state.connection = connection;
        return state;
    }

    void Run(const ProxyStep& step)
    {
        switch (step.kind) {
        case ProxyStep::Kind::StoreCopy: copy = EncodeSavedProxy(step.copy); break;
        case ProxyStep::Kind::DeleteCopy: copy.reset(); break;
        case ProxyStep::Kind::StoreValue: values[step.name] = step.value; break;
        case ProxyStep::Kind::DeleteValue: values.erase(step.name); break;
        case ProxyStep::Kind::SetConnection: // the platform copies the connection into the two values
            connection = step.connection;
            values[kProxyEnableName] = DwordValue(connection.flags & kProxyTypeProxy ? 1 : 0);
            if (!connection.server.empty())
                values[kProxyServerName] = WideTextValue(connection.server);
            break;
        case ProxyStep::Kind::Announce: break;
        }
    }

    void Run(const ProxyPlan& plan, std::size_t steps = SIZE_MAX)
    {
        for (std::size_t i = 0; i < plan.size() && i < steps; ++i)
            Run(plan[i]);
    }
};

std::string Narrow(const std::u16string& text)
{
    std::string narrow;
    for (const char16_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

void PrintTo(const Machine& machine, std::ostream* out)
{
    for (const auto& [name, value] : machine.values)
        *out << "\n  " << name << " (" << value.type << ") " << Narrow(WideText(value).value_or(u"<bytes>"));
    *out << "\n  copy: " << (machine.copy ? "yes" : "no") << "; connection " << machine.connection.flags << " "
         << Narrow(machine.connection.server) << " / " << Narrow(machine.connection.bypass) << " / "
         << Narrow(machine.connection.autoConfigUrl);
}

// What switching off leaves for `user`: their values, where a "ProxyEnable" or "ProxyServer" they
// did not have is 0 / ":".
Machine SwitchedOff(Machine user)
{
    user.values.emplace(kProxyEnableName, DwordValue(0));
    user.values.emplace(kProxyServerName, WideTextValue(u":"));
    return user;
}

// Users as the switch meets them.
Machine Nobody()
{
    return Machine{};
}

Machine CorporateUser()
{
    Machine machine;
    machine.values[kProxyEnableName] = DwordValue(1);
    machine.values[kProxyServerName] = WideTextValue(u"corp:3128");
    machine.values[kProxyOverrideName] = WideTextValue(u"*.corp.example;intranet");
    machine.values[kAutoConfigUrlName] = WideTextValue(u"http://wpad.corp/proxy.pac");
    machine.connection = {kProxyTypeDirect | kProxyTypeProxy | kProxyTypeAutoProxyUrl | kProxyTypeAutoDetect,
                          u"corp:3128", u"*.corp.example;intranet", u"http://wpad.corp/proxy.pac"};
    return machine;
}

Machine UserWithOddValues()
{
    Machine machine;
    machine.values[kProxyEnableName] = RegistryValue{kRegSz, std::string("1\0\0\0", 4)};
    machine.values[kProxyServerName] = WideTextValue(u"\u043f\u0440\u043e\u043a\u0441\u0438.corp:3128");
    machine.values[kProxyOverrideName] = RegistryValue{kRegBinary, "\x01\x02"};
    return machine;
}

enum class Action { OnA, OnB, Off, Repair };

ProxyPlan Plan(Action action, const ProxyState& state)
{
    switch (action) {
    case Action::OnA: return PlanSwitchOn(state, u"127.0.0.9:8080").value();
    case Action::OnB: return PlanSwitchOn(state, u"127.0.0.10:80").value();
    case Action::Off: return PlanSwitchOff(state);
    case Action::Repair: return PlanRepair(state);
    }
    return {};
}

using Sequence = std::vector<Action>;

class KilledSwitchTest : public testing::TestWithParam<std::tuple<int, Sequence>> {
protected:
    static Machine User(int which)
    {
        return which == 0 ? Nobody() : which == 1 ? CorporateUser() : UserWithOddValues();
    }
};

// A run that ends after any step of the last switch of a sequence: the next start's repair
// brings the user's settings back exactly, and leaves no copy.
TEST_P(KilledSwitchTest, TheNextStartPutsTheUsersSettingsBack)
{
    const Machine user = User(std::get<0>(GetParam()));
    const Sequence& sequence = std::get<1>(GetParam());
    Machine before = user;
    for (std::size_t i = 0; i + 1 < sequence.size(); ++i)
        before.Run(Plan(sequence[i], before.State()));
    const ProxyPlan last = Plan(sequence.back(), before.State());
    for (std::size_t steps = 0; steps <= last.size(); ++steps) {
        Machine killed = before;
        killed.Run(last, steps);
        Machine repaired = killed;
        repaired.Run(PlanRepair(repaired.State()));
        // Untouched where the program's proxy never got in place.
        if (!(repaired == user)) {
            EXPECT_EQ(repaired, SwitchedOff(user)) << "killed after step " << steps << " of " << last.size();
        }
        EXPECT_TRUE(PlanRepair(repaired.State()).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    EverySwitch, KilledSwitchTest,
    testing::Combine(testing::Values(0, 1, 2),
                     testing::Values(Sequence{Action::OnA}, Sequence{Action::OnA, Action::OnB},
                                     Sequence{Action::OnA, Action::OnA}, Sequence{Action::OnA, Action::Off},
                                     Sequence{Action::OnA, Action::OnB, Action::Off},
                                     Sequence{Action::OnA, Action::Repair})));

TEST(ProxySwitch, WhileOnTheProxyHasTheLocalBypassAndNoAutomaticConfiguration)
{
    Machine machine = CorporateUser();
    machine.Run(Plan(Action::OnA, machine.State()));
    machine.Run(Plan(Action::OnB, machine.State()));
    EXPECT_EQ(machine.Value(kProxyEnableName), DwordValue(1));
    EXPECT_EQ(machine.Value(kProxyServerName), WideTextValue(u"127.0.0.10:80"));
    const std::u16string bypass = BypassWithLocalAddresses(WideTextValue(u"*.corp.example;intranet"));
    EXPECT_EQ(machine.Value(kProxyOverrideName), WideTextValue(bypass));
    EXPECT_FALSE(machine.Value(kAutoConfigUrlName));
    EXPECT_EQ(machine.connection, (ConnectionSettings{kProxyTypeDirect | kProxyTypeProxy, u"127.0.0.10:80",
                                                      bypass, u"http://wpad.corp/proxy.pac"}));
    EXPECT_EQ(machine.State().copy->applied, std::vector<std::u16string>{u"127.0.0.10:80"});

    machine.Run(Plan(Action::Off, machine.State()));
    EXPECT_EQ(machine, CorporateUser());
}

TEST(ProxySwitch, OnACleanMachineSwitchingOffLeavesTheStandardValues)
{
    Machine machine;
    machine.Run(Plan(Action::Off, machine.State()));
    EXPECT_EQ(machine.Value(kProxyEnableName), DwordValue(0));
    EXPECT_EQ(machine.Value(kProxyServerName), WideTextValue(u":"));
    EXPECT_FALSE(machine.copy);

    Machine used;
    used.Run(Plan(Action::OnA, used.State()));
    EXPECT_EQ(used.Value(kProxyOverrideName), WideTextValue(BypassWithLocalAddresses(std::nullopt)));
    used.Run(Plan(Action::Off, used.State()));
    EXPECT_EQ(used.Value(kProxyEnableName), DwordValue(0));
    EXPECT_EQ(used.Value(kProxyServerName), WideTextValue(u":"));
    EXPECT_FALSE(used.Value(kProxyOverrideName));
}

TEST(ProxySwitch, WithoutACopySwitchingOffKeepsTheUsersAutomaticConfiguration)
{
    Machine machine;
    machine.values[kProxyServerName] = WideTextValue(u"corp:3128"); // "ProxyEnable" missing
    machine.connection = {kProxyTypeDirect | kProxyTypeAutoProxyUrl | kProxyTypeAutoDetect, u"corp:3128", u"",
                          u"http://wpad.corp/proxy.pac"};
    const ConnectionSettings users = machine.connection;
    machine.Run(Plan(Action::Off, machine.State()));
    EXPECT_EQ(machine.connection, users);
    EXPECT_EQ(machine.Value(kProxyEnableName), DwordValue(0));
}

TEST(ProxySwitch, AProxyTheUserSetMeanwhileIsLeftAlone)
{
    Machine machine = CorporateUser();
    machine.Run(Plan(Action::OnA, machine.State()));
    machine.values[kProxyServerName] = WideTextValue(u"home:8080");
    machine.connection.server = u"home:8080";
    const Machine changed = machine;
    machine.Run(Plan(Action::Off, machine.State()));
    EXPECT_FALSE(machine.copy);
    machine.copy = changed.copy;
    EXPECT_EQ(machine, changed);
}

// Entries the user adds to the bypass list while the program's proxy is on are theirs: a switch to
// another proxy keeps them, and switching off puts them back with the user's own.
TEST(ProxySwitch, BypassEntriesAddedMeanwhileSurviveASwitchAndTheEnd)
{
    Machine machine = CorporateUser();
    machine.Run(Plan(Action::OnA, machine.State()));
    const std::u16string written = WideText(machine.Value(kProxyOverrideName)).value();
    machine.values[kProxyOverrideName] = WideTextValue(written + u"; *.new.example;192.168.*");
    machine.Run(Plan(Action::OnB, machine.State()));
    EXPECT_EQ(machine.Value(kProxyOverrideName), WideTextValue(u"*.corp.example;intranet;*.new.example" + written.substr(written.find(u";<local>"))));
    machine.Run(Plan(Action::Off, machine.State()));
    EXPECT_EQ(machine.Value(kProxyOverrideName), WideTextValue(u"*.corp.example;intranet;*.new.example"));

    // A repair after a killed run keeps them too.
    machine = CorporateUser();
    machine.Run(Plan(Action::OnA, machine.State()));
    machine.values[kProxyOverrideName] = WideTextValue(u"printer.local;" + written);
    machine.Run(Plan(Action::Repair, machine.State()));
    EXPECT_EQ(machine.Value(kProxyOverrideName), WideTextValue(u"*.corp.example;intranet;printer.local"));
}

// What the watch over the proxy in use asks before it writes: whether the browser still goes
// through the program's proxy, or the user (or another program) has changed that since.
TEST(ProxySwitch, TheProgramsProxyIsInUseOnlyUntilTheSettingsChangeOutsideIt)
{
    Machine machine = CorporateUser();
    EXPECT_FALSE(ProgramProxyInUse(machine.State(), u"corp:3128")) << "the user's own proxy";
    machine.Run(Plan(Action::OnA, machine.State()));
    EXPECT_TRUE(ProgramProxyInUse(machine.State(), u"127.0.0.9:8080"));
    EXPECT_FALSE(ProgramProxyInUse(machine.State(), u"127.0.0.10:80"));
    Machine pasted = machine;
    pasted.Run(PlanSwitchOn(pasted.State(), u" 127.0.0.11:80 ;DE").value());
    EXPECT_TRUE(ProgramProxyInUse(pasted.State(), u"127.0.0.11:80")) << "as a pasted line names it";

    const Machine inUse = machine;
    machine.values[kProxyEnableName] = DwordValue(0); // "Use a proxy server" unticked
    EXPECT_FALSE(ProgramProxyInUse(machine.State(), u"127.0.0.9:8080"));
    machine = inUse;
    machine.values[kProxyServerName] = WideTextValue(u"10.9.9.9:3128");
    EXPECT_FALSE(ProgramProxyInUse(machine.State(), u"127.0.0.9:8080"));
    machine = inUse;
    machine.values[kAutoConfigUrlName] = WideTextValue(u"http://wpad/proxy.pac");
    EXPECT_FALSE(ProgramProxyInUse(machine.State(), u"127.0.0.9:8080"));
    machine = inUse;
    machine.Run(Plan(Action::Off, machine.State()));
    EXPECT_FALSE(ProgramProxyInUse(machine.State(), u"127.0.0.9:8080"));
}

TEST(ProxySwitch, ACopyThisVersionCannotReadIsLeftAloneWithEverythingBesideIt)
{
    for (const std::string& foreign : {std::string("ZSP3 from a later version"), std::string("garbage")}) {
        Machine machine = CorporateUser();
        machine.copy = foreign;
        EXPECT_FALSE(PlanSwitchOn(machine.State(), u"127.0.0.9:8080"));
        EXPECT_TRUE(PlanSwitchOff(machine.State()).empty());
        EXPECT_TRUE(PlanRepair(machine.State()).empty());
        EXPECT_EQ(OwnRequestWayFor(machine.State()), RequestWay{});
    }
}

TEST(ProxySwitch, TheProgramsOwnRequestsGoTheUsersOwnWay)
{
    Machine corporate = CorporateUser();
    EXPECT_EQ(OwnRequestWayFor(corporate.State()).kind, RequestWay::Kind::SystemSettings);
    corporate.Run(Plan(Action::OnA, corporate.State()));
    EXPECT_EQ(OwnRequestWayFor(corporate.State()),
              (RequestWay{RequestWay::Kind::Proxy, u"corp:3128", u"*.corp.example;intranet"}));

    Machine switchedOff = CorporateUser();
    switchedOff.values[kProxyEnableName] = DwordValue(0);
    switchedOff.Run(Plan(Action::OnA, switchedOff.State()));
    EXPECT_EQ(OwnRequestWayFor(switchedOff.State()).kind, RequestWay::Kind::Direct);

    // "ProxyEnable" as text is no proxy that the platform would use.
    Machine odd = UserWithOddValues();
    odd.Run(Plan(Action::OnA, odd.State()));
    EXPECT_EQ(OwnRequestWayFor(odd.State()).kind, RequestWay::Kind::Direct);
}

TEST(ProxySwitch, TheBypassListKeepsTheUsersEntriesFirstAndEachEntryOnce)
{
    EXPECT_EQ(BypassWithLocalAddresses(WideTextValue(u" *.corp.example ; intranet;;10.*;<LOCAL>")),
              u"*.corp.example;intranet;10.*;<LOCAL>;172.16.*;172.17.*;172.18.*;172.19.*;172.20.*;"
              u"172.21.*;172.22.*;172.23.*;172.24.*;172.25.*;172.26.*;172.27.*;172.28.*;172.29.*;"
              u"172.30.*;172.31.*;192.168.*;169.254.*");
}

} // namespace
