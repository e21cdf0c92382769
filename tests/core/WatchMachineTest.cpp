// The watch's decisions, driven through every path in simulated time: a harness plays the carrier,
// answering each check, learning and switch the machine asks for.
#include "core/WatchMachine.h"

#include "Verdicts.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Kind = WatchAction::Kind;
using verdicts::Failed;
using verdicts::Passed;

constexpr const char* kUser = "198.51.100.1";

CheckedProxy Proxy(const std::string& address, Anonymity anonymity = Anonymity::Elite, bool https = true,
                   unsigned webMs = 50, const std::string& country = "DE", ProxyKind kind = ProxyKind::Http)
{
    return {address, country, anonymity, https, webMs, kind};
}

ProxyVerdict Elite(unsigned webMs = 40, bool https = true)
{
    return Passed(webMs, https, Anonymity::Elite);
}

ProxyVerdict Refused()
{
    ProxyVerdict verdict;
    verdict.refused = true;
    return verdict;
}

class WatchMachineTest : public testing::Test {
protected:
    static WatchMachine::Times Times()
    {
        WatchMachine::Times times;
        times.periodMs = 10000;
        times.limitMs = 3000;
        times.doubtMs = 1000;
        times.relearnMs = 300000;
        return times;
    }

    // Picks `proxy`, checked by its list, and answers the first learning with the user's address.
    void Pick(const CheckedProxy& proxy, bool relayed = false, bool checked = true)
    {
        Take(machine.Begin(now, {proxy, checked, relayed}, [this] { return list; }));
        AnswerLearning({kUser});
    }

    // Carries the actions out as the program would, the switches succeeding unless told.
    void Take(const WatchActions& actions)
    {
        for (const WatchAction& action : actions) {
            done.push_back(action);
            if (action.kind == Kind::Check)
                checks.push_back(action);
            else if (action.kind == Kind::Learn)
                learning = action.id;
            else if (action.kind == Kind::Notice)
                notice = action.text;
            else if (action.kind == Kind::SwitchTo)
                Take(switchError.empty() ? machine.Switched(now, relayedAfterSwitch)
                                         : machine.SwitchFailed(now, switchError));
            else if (action.kind == Kind::SwitchOff)
                Take(offError.empty() ? machine.SwitchedOff(now) : machine.SwitchOffFailed(now, offError));
        }
    }

    // The open checks of `address`, oldest first.
    std::vector<WatchAction> ChecksOf(const std::string& address) const
    {
        std::vector<WatchAction> found;
        for (const WatchAction& check : checks)
            if (check.proxy == address)
                found.push_back(check);
        return found;
    }
    // Answers the oldest open check of `address`.
    void Answer(const std::string& address, const ProxyVerdict& verdict)
    {
        const auto check = std::find_if(checks.begin(), checks.end(), [&](const WatchAction& c) { return c.proxy == address; });
        ASSERT_NE(check, checks.end()) << "no check of " << address;
        const std::uint64_t id = check->id;
        checks.erase(check);
        Take(machine.CheckCame(now, id, verdict));
    }
    void AnswerAll(const std::string& address, const ProxyVerdict& verdict)
    {
        while (!ChecksOf(address).empty())
            Answer(address, verdict);
    }
    void AnswerLearning(const std::vector<std::string>& addresses)
    {
        Take(machine.Learned(now, learning, addresses, true));
    }
    // Runs the clock on to `until`, the machine's moments in between as they come.
    void RunTo(std::uint64_t until)
    {
        for (auto next = machine.NextTick(); next && *next <= until; next = machine.NextTick()) {
            now = std::max(now, *next);
            Take(machine.Tick(now));
        }
        now = until;
    }
    // Runs on to the next cycle's check of `address`.
    void NextCycle(const std::string& address)
    {
        const std::size_t before = ChecksOf(address).size();
        for (int i = 0; i < 50 && ChecksOf(address).size() == before; ++i)
            if (const auto next = machine.NextTick())
                RunTo(std::max(now, *next));
    }

    std::size_t Count(Kind kind, std::size_t from = 0) const
    {
        return static_cast<std::size_t>(std::count_if(done.begin() + static_cast<std::ptrdiff_t>(from), done.end(),
                                                      [kind](const WatchAction& a) { return a.kind == kind; }));
    }
    const WatchAction* Last(Kind kind) const
    {
        const auto found = std::find_if(done.rbegin(), done.rend(), [kind](const WatchAction& a) { return a.kind == kind; });
        return found == done.rend() ? nullptr : &*found;
    }
    std::string Told() const { return Last(Kind::Tell) ? Last(Kind::Tell)->text : ""; }
    std::string SwitchedTo() const { return Last(Kind::SwitchTo) ? Last(Kind::SwitchTo)->proxy : ""; }

    WatchMachine machine{Times()};
    std::vector<CheckedProxy> list;
    std::uint64_t now = 1000;
    std::vector<WatchAction> done;
    std::vector<WatchAction> checks;
    std::uint64_t learning = 0;
    std::string notice;
    std::string switchError, offError;
    bool relayedAfterSwitch = false;
};

TEST_F(WatchMachineTest, ADeadProxyIsReplacedByTheBestThatPassesOfThoseCheckedAtOnce)
{
    list = {Proxy("in-use:1"), Proxy("slow:1", Anonymity::Elite, true, 400), Proxy("fast:1", Anonymity::Elite, true, 20),
            Proxy("leaky:1", Anonymity::Transparent, true, 5), Proxy("anonymous:1", Anonymity::Anonymous)};
    Pick(list[0]);
    NextCycle("in-use:1");
    ASSERT_EQ(ChecksOf("in-use:1").size(), 1u);
    EXPECT_TRUE(ChecksOf("in-use:1")[0].tunnel) << "the tunnel of a proxy that had HTTPS, every cycle";
    EXPECT_EQ(ChecksOf("in-use:1")[0].usersAddresses, std::vector<std::string>{kUser});
    Answer("in-use:1", Elite());
    EXPECT_EQ(Count(Kind::SwitchTo), 0u);

    // Refused: one more check joins; slow: two more at the doubt moment.
    NextCycle("in-use:1");
    Answer("in-use:1", Refused());
    EXPECT_EQ(ChecksOf("in-use:1").size(), 1u);
    EXPECT_EQ(Count(Kind::Learn), 2u) << "whether the service can be reached, should all fail";
    Answer("in-use:1", Refused());
    EXPECT_EQ(Count(Kind::Mark), 0u) << "dead only once the service is known to answer";
    AnswerLearning({kUser});
    EXPECT_EQ(Last(Kind::Mark)->proxy, "in-use:1");
    EXPECT_FALSE(Last(Kind::Mark)->verdict.webMs);
    EXPECT_NE(Told().find("in-use:1 stopped working (2 checks failed in "), std::string::npos) << Told();
    // The candidates no worse are all checked at once, best first.
    std::vector<std::string> checked;
    for (const WatchAction& check : checks)
        checked.push_back(check.proxy);
    EXPECT_EQ(checked, (std::vector<std::string>{"fast:1", "slow:1"}));
    // The better one's verdict is awaited before a worse one takes over.
    Answer("slow:1", Elite(1500));
    EXPECT_EQ(Count(Kind::SwitchTo), 0u);
    Answer("fast:1", Failed());
    EXPECT_EQ(SwitchedTo(), "slow:1");
    EXPECT_EQ(Told(), "in-use:1 stopped working (2 checks failed in 0.0 s); now slow:1 (DE, elite)");
    EXPECT_EQ(Last(Kind::ShowInUse)->successor.address, "slow:1");

    // The successor is watched now, by its own time.
    NextCycle("slow:1");
    EXPECT_EQ(ChecksOf("slow:1")[0].limitMs, 2 * 1500u + 1000u);
}

TEST_F(WatchMachineTest, AllFailingWhileTheServiceCannotBeReachedIsTheUserOffline)
{
    list = {Proxy("in-use:1"), Proxy("other:1")};
    Pick(list[0]);
    NextCycle("in-use:1");
    RunTo(now + 1000); // the doubt moment: two more join
    ASSERT_EQ(ChecksOf("in-use:1").size(), 3u);
    AnswerAll("in-use:1", Failed());
    AnswerLearning({});
    EXPECT_NE(Told().find("You are offline"), std::string::npos) << Told();
    EXPECT_EQ(Count(Kind::SwitchTo) + Count(Kind::Mark), 0u);
    NextCycle("in-use:1");
    EXPECT_EQ(ChecksOf("in-use:1").size(), 1u) << "the watch goes on";
}

// The leak is cut at the moment it is seen, before any successor is checked; successors are
// judged against what the proxy was before it leaked.
TEST_F(WatchMachineTest, ALeakIsCutAtOnceAndItsSuccessorIsNoWorseThanTheProxyWas)
{
    for (const bool relayed : {true, false}) {
        SCOPED_TRACE(relayed ? "behind the relay" : "in the settings");
        machine = WatchMachine(Times());
        done.clear();
        checks.clear();
        list = {Proxy("in-use:1"), Proxy("anonymous:1", Anonymity::Anonymous, true, 10), Proxy("elite:1")};
        Pick(list[0], relayed);
        relayedAfterSwitch = relayed;
        NextCycle("in-use:1");
        const std::size_t before = done.size();
        Answer("in-use:1", Passed(40, true, Anonymity::Transparent, kUser));
        ASSERT_GT(done.size(), before);
        EXPECT_EQ(done[before].kind, Kind::Mark);
        EXPECT_EQ(done[before].verdict.anonymity, Anonymity::Transparent);
        EXPECT_EQ(done[before + 1].kind, relayed ? Kind::Cut : Kind::SwitchOff) << "first, before anything else";
        EXPECT_NE(notice.find("in-use:1 passes your address on: Zarnu "), std::string::npos) << notice;
        EXPECT_EQ(ChecksOf("anonymous:1").size(), 0u) << "an anonymous proxy is worse than the elite one was";
        ASSERT_EQ(ChecksOf("elite:1").size(), 1u);
        Answer("elite:1", Elite());
        EXPECT_EQ(SwitchedTo(), "elite:1");
        EXPECT_NE(Told().find("in-use:1 stopped working (passes your address on); now elite:1"), std::string::npos);
        EXPECT_EQ(notice, "");
    }
}

TEST_F(WatchMachineTest, ALeakWithNoneToTakeOverEndsSwitchedOffAndSaysSo)
{
    list = {Proxy("in-use:1"), Proxy("a:1"), Proxy("b:1")};
    Pick(list[0], true);
    NextCycle("in-use:1");
    Answer("in-use:1", Passed(40, true, Anonymity::Transparent));
    EXPECT_EQ(Count(Kind::Cut), 1u);
    EXPECT_EQ(Count(Kind::SwitchOff), 0u) << "the browser waits while the others are checked";
    Answer("a:1", Failed());
    Answer("b:1", Passed(40, true, Anonymity::Transparent));
    EXPECT_EQ(Count(Kind::SwitchOff), 1u);
    EXPECT_EQ(Count(Kind::ShowOff), 1u);
    EXPECT_EQ(notice, "in-use:1 passed your address on and no checked proxy could take over, so Zarnu switched it off: "
                      "you browse under your own address. \"Refresh Proxy List\" or \"Use This Proxy\" to hide it again");
    EXPECT_FALSE(machine.Watching());

    // Switching automatically off: switched off at once, nothing checked.
    Take(machine.SwitchAutomatically(now, false));
    Pick(Proxy("a:1"), true);
    checks.clear();
    NextCycle("a:1");
    Answer("a:1", Passed(40, true, Anonymity::Transparent));
    EXPECT_EQ(Count(Kind::SwitchOff), 2u);
    EXPECT_TRUE(checks.empty());
    EXPECT_NE(notice.find("a:1 passed your address on and switching automatically is off"), std::string::npos);

    // A switch-off that the registry refuses is told, and the watch goes on.
    Take(machine.SwitchAutomatically(now, true));
    offError = "Access is denied.";
    Pick(Proxy("b:1"));
    NextCycle("b:1");
    Answer("b:1", Passed(40, true, Anonymity::Transparent));
    EXPECT_NE(notice.find("b:1 passes your address on and could not be switched off (Access is denied.)"),
              std::string::npos) << notice;
    EXPECT_TRUE(machine.Watching());
}

TEST_F(WatchMachineTest, AProxyThatLostHttpsIsLeftForOneWithHttpsOrStaysSaid)
{
    list = {Proxy("in-use:1"), Proxy("no-https:1", Anonymity::Elite, false), Proxy("https:1")};
    Pick(list[0]);
    NextCycle("in-use:1");
    Answer("in-use:1", Elite(40, false));
    EXPECT_EQ(ChecksOf("in-use:1").size(), 2u) << "a page without its tunnel is doubted";
    AnswerAll("in-use:1", Elite(40, false));
    EXPECT_EQ(Last(Kind::Mark)->verdict, Elite(40, false));
    EXPECT_EQ(ChecksOf("no-https:1").size(), 0u);
    Answer("https:1", Elite());
    EXPECT_EQ(SwitchedTo(), "https:1");
    EXPECT_NE(Told().find("in-use:1 stopped working (carries no HTTPS any more); now https:1"), std::string::npos);

    // None with HTTPS: it stays, said, and is in use as before once its tunnel comes back.
    NextCycle("https:1");
    AnswerAll("https:1", Elite(40, false));
    EXPECT_NE(notice.find("https:1 stopped working (carries no HTTPS any more) and no checked proxy"), std::string::npos);
    NextCycle("https:1");
    Answer("https:1", Elite());
    EXPECT_EQ(notice, "");
    EXPECT_EQ(Told(), "https:1 answers again and is in use as before");

    // A proxy known to carry no HTTPS is not asked for a tunnel.
    Pick(Proxy("no-https:1", Anonymity::Elite, false));
    NextCycle("no-https:1");
    EXPECT_FALSE(ChecksOf("no-https:1")[0].tunnel);
}

TEST_F(WatchMachineTest, OnlyTheProxysOwnFailuresStartACheckOneAtATime)
{
    list = {Proxy("in-use:1")};
    Pick(list[0], true);
    for (int site = 0; site < 40; ++site) {
        Take(machine.RelayFailed(now, "in-use:1", PathFailure::SiteRefused));
        Take(machine.RelayFailed(now, "in-use:1", PathFailure::SiteTimedOut));
    }
    EXPECT_TRUE(checks.empty());
    Take(machine.RelayFailed(now, "other:1", PathFailure::ProxyRefused));
    EXPECT_TRUE(checks.empty()) << "not the proxy in use";
    for (int failure = 0; failure < 40; ++failure)
        Take(machine.RelayFailed(now, "in-use:1", PathFailure::ProxyBroke));
    EXPECT_EQ(checks.size(), 1u);
    Answer("in-use:1", Elite());
    // The relay's own trouble is no proxy's: told, and nothing checked.
    for (const PathFailure relays : {PathFailure::RelayFull, PathFailure::RelayBroke}) {
        Take(machine.RelayFailed(now + 5000, "", relays));
        EXPECT_EQ(Told(), PathFailureText(relays));
    }
    EXPECT_TRUE(checks.empty());
    Take(machine.RelayFailed(now, "in-use:1", PathFailure::TunnelRefused));
    EXPECT_TRUE(checks.empty()) << "one a second";
    RunTo(now + 999);
    EXPECT_TRUE(checks.empty());
    RunTo(now + 1);
    EXPECT_EQ(checks.size(), 1u);
    EXPECT_TRUE(checks[0].tunnel);
}

TEST_F(WatchMachineTest, AProxyWhoseCallerIsOverTheServicesLimitStaysAndIsCheckedLessOften)
{
    list = {Proxy("in-use:1"), Proxy("other:1")};
    Pick(list[0]);
    ProxyVerdict limited = Passed(40, true, Anonymity::Elite);
    limited.anonymity.reset();
    limited.limited = true;
    std::uint64_t last = now;
    std::vector<std::uint64_t> gaps;
    for (int cycle = 0; cycle < 5; ++cycle) {
        NextCycle("in-use:1");
        gaps.push_back(now - last);
        last = now;
        Answer("in-use:1", limited);
    }
    EXPECT_EQ(Count(Kind::SwitchTo) + Count(Kind::Mark), 0u);
    EXPECT_GT(gaps[3], gaps[1]);
    EXPECT_GT(gaps[4], 2 * Times().periodMs);
    NextCycle("in-use:1");
    Answer("in-use:1", Elite());
    last = now;
    NextCycle("in-use:1");
    EXPECT_EQ(now - last, Times().periodMs) << "back to the period once the limit is over";
}

TEST_F(WatchMachineTest, TheUsersAddressesAreLearnedAgainAndWhileNoneIsKnownTheUserIsTold)
{
    list = {Proxy("in-use:1")};
    Take(machine.Begin(now, {list[0], true, false}, [this] { return list; }));
    AnswerLearning({});
    EXPECT_NE(notice.find("cannot see whether in-use:1 passes it on"), std::string::npos) << notice;
    NextCycle("in-use:1");
    EXPECT_EQ(Count(Kind::Learn), 2u) << "learned again at every cycle while none is known";
    AnswerLearning({kUser});
    EXPECT_EQ(notice, "");
    Answer("in-use:1", Elite());

    // A reconnect: the network changes, the new address replaces the old one.
    Take(machine.NetworkChanged(now));
    AnswerLearning({"203.0.113.50"});
    NextCycle("in-use:1");
    EXPECT_EQ(ChecksOf("in-use:1")[0].usersAddresses, std::vector<std::string>{"203.0.113.50"});
    Answer("in-use:1", Elite());
    // And every few minutes, whatever happens; a failed learning keeps what was known.
    const std::size_t learnings = Count(Kind::Learn);
    const std::uint64_t learned = now;
    while (Count(Kind::Learn) == learnings && now < learned + 2 * Times().relearnMs) {
        NextCycle("in-use:1");
        AnswerAll("in-use:1", Elite());
    }
    EXPECT_EQ(Count(Kind::Learn), learnings + 1);
    EXPECT_GE(now, learned + Times().relearnMs - Times().periodMs);
    AnswerLearning({});
    NextCycle("in-use:1");
    EXPECT_EQ(ChecksOf("in-use:1")[0].usersAddresses, std::vector<std::string>{"203.0.113.50"});
    EXPECT_EQ(notice, "");
}

TEST_F(WatchMachineTest, APickOfUnknownKindIsCheckedAtOnceInEveryKindAndTheRelayTold)
{
    CheckedProxy picked{"socks:1", "DE"};
    Pick(picked, true, false);
    ASSERT_EQ(ChecksOf("socks:1").size(), 1u) << "at once, not after a period";
    EXPECT_FALSE(ChecksOf("socks:1")[0].kindOfProxy);
    Answer("socks:1", Passed(30, true, Anonymity::Elite, "", "", ProxyKind::Socks5));
    ASSERT_TRUE(Last(Kind::SetKind));
    EXPECT_EQ(Last(Kind::SetKind)->kindOfProxy, ProxyKind::Socks5);
    NextCycle("socks:1");
    EXPECT_EQ(ChecksOf("socks:1")[0].kindOfProxy, ProxyKind::Socks5);
}

TEST_F(WatchMachineTest, SwitchingOffTheBudgetAndTheUsersOwnChangesStopTheSwitches)
{
    list = {Proxy("a:1"), Proxy("b:1"), Proxy("c:1"), Proxy("d:1"), Proxy("e:1")};
    Pick(list[0]);
    const auto kill = [&](const std::string& proxy) {
        NextCycle(proxy);
        AnswerAll(proxy, Refused());
        AnswerLearning({kUser});
    };
    for (const char* next : {"b:1", "c:1", "d:1"}) {
        kill(SwitchedTo().empty() ? "a:1" : SwitchedTo());
        AnswerAll(next, Elite());
        for (const CheckedProxy& proxy : list)
            AnswerAll(proxy.address, Failed());
        EXPECT_EQ(SwitchedTo(), next);
    }
    kill("d:1");
    EXPECT_NE(notice.find("three automatic switches in ten minutes, no more"), std::string::npos) << notice;
    EXPECT_TRUE(checks.empty());

    // Switching off during a search ends it; the dead proxy stays, said.
    list.push_back(Proxy("f:1"));
    Pick(Proxy("e:1"));
    kill("e:1");
    ASSERT_FALSE(checks.empty());
    Take(machine.SwitchAutomatically(now, false));
    EXPECT_NE(notice.find("e:1 stopped working (2 checks failed in 0.0 s); switching automatically is off"),
              std::string::npos) << notice;
    AnswerAll("f:1", Elite());
    EXPECT_EQ(SwitchedTo(), "d:1");

    // Settings changed from outside: the watch ends, says so, the labels follow.
    Take(machine.SettingsChanged(now));
    EXPECT_FALSE(machine.Watching());
    EXPECT_EQ(done.back().kind, Kind::Tell);
    EXPECT_NE(Told().find("Your proxy settings no longer use e:1"), std::string::npos);
    EXPECT_EQ(Count(Kind::ShowOff), 1u);
    EXPECT_FALSE(machine.NextTick());
}

TEST_F(WatchMachineTest, AListThatEndsDuringASearchAddsToItAndAStrandedProxyIsReplacedFromTheNextList)
{
    list = {Proxy("in-use:1"), Proxy("silent:1")};
    Pick(list[0]);
    NextCycle("in-use:1");
    AnswerAll("in-use:1", Refused());
    AnswerLearning({kUser});
    ASSERT_EQ(ChecksOf("silent:1").size(), 1u);
    list.push_back(Proxy("new:1"));
    Take(machine.ListEnded(now));
    EXPECT_EQ(ChecksOf("silent:1").size(), 1u) << "not asked again";
    Answer("new:1", Elite());
    EXPECT_EQ(Count(Kind::SwitchTo), 0u) << "the one asked first, as good, is awaited";
    Answer("silent:1", Failed());
    EXPECT_EQ(SwitchedTo(), "new:1");

    // Stranded: none could take over; a list's end brings its best in.
    list = {Proxy("new:1")};
    NextCycle("new:1");
    AnswerAll("new:1", Refused());
    AnswerLearning({kUser});
    EXPECT_NE(notice.find("new:1 stopped working"), std::string::npos);
    list.push_back(Proxy("fresh:1"));
    Take(machine.ListEnded(now));
    Answer("fresh:1", Elite());
    EXPECT_EQ(SwitchedTo(), "fresh:1");

    // While watching, the list's verdict of the proxy in use is the latest: a leak there is left.
    list = {Proxy("fresh:1", Anonymity::Transparent), Proxy("next:1")};
    Take(machine.ListEnded(now));
    Answer("next:1", Elite());
    EXPECT_EQ(SwitchedTo(), "next:1");
}

} // namespace
