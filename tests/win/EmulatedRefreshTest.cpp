#include "EmulatedList.h"
#include "HostTools.h"
#include "ListTestSupport.h"
#include "TestService.h"

#include <map>

using namespace lists;

namespace {

// A refresh of the main list from a list as users get it, on the emulated internet: most lines
// never answer, proxies answer from 10 to 450 ms away, some behind a filter of echoes. Every line
// that answers or works is listed, every row's verdict is the truth of its line, and the first
// verified proxy shows before the echoes of the silent lines have timed out.
TEST_F(WindowTest, ARefreshOfAListAsUsersHaveItEarnsTheTruthAndTheFastFirst)
{
    // silent, unreachable, refusing, swallowing, elite, anonymous, transparent, forger, dripper,
    // filtered. More silent lines than the platform lets echoes out at once: none of the others may
    // be lost.
    const emulated::World world = emulated::MakeWorld({300, 25, 35, 15, 10, 8, 6, 3, 3, 4}, 10, 450);
    const host::EmulatedInternet internet(world.HostTable(10, 0));
    TestService service{emulated::kServiceAddress, {"--port", "80", "--https-port", "443"}, internet.Namespace()};
    _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
    Start();
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(world.ProxyList()));

    const ULONGLONG click = GetTickCount64();
    main.Button5.Click();
    std::optional<ULONGLONG> firstVerified;
    bool probingAtFirst = false;
    ASSERT_TRUE(PumpMessagesUntil([&] {
        if (!firstVerified && ShowsVerifiedElite(main.listrep1)) {
            firstVerified = GetTickCount64() - click;
            probingAtFirst = main.StatusBar1.Text().find(" of " + std::to_string(world.lines.size()) + " probed") !=
                             std::string::npos;
        }
        return main.StatusBar1.Text().find(" probed in ") != std::string::npos;
    }, 60000)) << main.StatusBar1.Text();
    std::cout << "emulated refresh of " << world.lines.size() << " lines: first verified elite proxy with HTTPS after "
              << firstVerified.value_or(0) << " ms; " << main.StatusBar1.Text() << "\n";
    ASSERT_TRUE(firstVerified);
    EXPECT_TRUE(probingAtFirst) << "the first verified proxy came after the last echo";

    std::map<std::string, std::vector<std::string>> shown;
    for (const auto& row : ListedVerdicts(main.listrep1))
        shown[row[0]] = row;
    std::map<std::string, std::string> pings; // "-" for a proxy behind a filter of echoes
    for (const auto& row : ListedRows(main.listrep1))
        pings[row[0]] = row[2];
    for (const emulated::Line& line : world.lines) {
        SCOPED_TRACE(line.Host() + ", " + std::to_string(line.delayMs) + " ms away");
        const auto row = shown.find(line.Host());
        ASSERT_EQ(row != shown.end(), emulated::Listed(line.kind));
        if (row == shown.end())
            continue;
        const std::vector<std::string>& cells = row->second;
        EXPECT_EQ(pings[line.Host()] == kNoPing, !emulated::Echoes(line.kind)) << pings[line.Host()];
        if (const auto anonymity = emulated::TrueAnonymity(line.kind)) {
            EXPECT_NE(cells[1], "fails");
            EXPECT_EQ(cells[2], "yes");
            EXPECT_EQ(cells[3], AnonymityText(*anonymity));
        } else {
            EXPECT_EQ(cells[1], "fails");
            EXPECT_EQ(cells[2], "no");
        }
    }
    EXPECT_TRUE(errors.empty());
}

// An echo that comes back after 1.2 s could never be listed: the checker says "BAD PROXY" of it
// as of a silent line, and a near line gets its ping.
TEST_F(WindowTest, TheCheckerCallsAnEchoTooLateToListABadProxy)
{
    const host::EmulatedInternet internet("198.18.0.1 answers 600 0 0\n198.18.0.2 silent 0 0 0\n"
                                          "198.18.0.3 answers 50 0 0\n");
    Start();
    const ULONGLONG click = GetTickCount64();
    checker.HostNames.SetText("198.18.0.1:8080\r\n198.18.0.2:8080\r\n198.18.0.3:8080\r\n");
    checker.Button5.Click();
    AwaitProbes();
    std::cout << "three lines checked in " << GetTickCount64() - click << " ms\n";
    std::map<std::string, std::string> pings;
    for (const auto& row : ListedRows(checker.ListView1))
        pings[row[0]] = row[1];
    EXPECT_EQ(pings["198.18.0.1:8080"], "BAD PROXY");
    EXPECT_EQ(pings["198.18.0.2:8080"], "BAD PROXY");
    EXPECT_NE(pings["198.18.0.3:8080"], "BAD PROXY");
    EXPECT_NE(pings["198.18.0.3:8080"], "");
}

} // namespace
