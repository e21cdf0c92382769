// Refreshes the main list from a list as users get it, on the emulated internet (tests/win/host):
// of its lines 60 % never answer, 10 % are unreachable, 15 % refuse, 5 % take connections and
// answer nothing, 8 % are real proxies (elite, anonymous and transparent, 10 to 450 ms away), 2 %
// of them behind a filter that drops echoes, 2 % are hostile (forgers, drips), and 1 % of every
// packet is lost. Prints the time from the click to the first row, to the first verified elite
// proxy with HTTPS, to 50 % and 90 % of the working proxies shown (a row) and verified (a working
// verdict), to the last row and to the last verdict; the working proxies found against those
// there are, by kind; the peak of checks at once; then the same list checked by a plain parallel
// client (curl, 256 at a time, 10 s each), and the ratio.
//   emulated_benchmark [LINES]   (default 10000)
// Needs ZARNU_TEST_SERVICE, ZARNU_NET_EMULATOR, ZARNU_TEST_HOST_TOOLS and a display.

#include "app/Unit1.h"
#include "lists/Unit2.h"
#include "probe/PingThrd.h"
#include "verify/CheckEngine.h"
#include "verify/ProxyCheckPool.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

#include "BenchSupport.h"
#include "EmulatedList.h"
#include "ListTestSupport.h"
#include "MessagePump.h"
#include "TestService.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

// The addresses whose echo the emulator lost, one way or the other.
std::set<std::string> LostEchoes(const std::string& emulatorLog)
{
    std::set<std::string> lost;
    std::istringstream lines(emulatorLog);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("lost echo ", 0) == 0)
            lost.insert(line.substr(10));
    return lost;
}

} // namespace

int main(int argc, char** argv)
{
    using emulated::Kind;
    const std::size_t lines = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 10000;
    const auto share = [&](double part) { return static_cast<std::size_t>(static_cast<double>(lines) * part); };
    // silent, unreachable, refusing, swallowing, elite, anonymous, transparent, forger, dripper,
    // filtered
    const emulated::Counts counts{share(0.58), share(0.10), share(0.15), share(0.05), share(0.03), share(0.03),
                                  share(0.02), share(0.01), share(0.01), share(0.02)};
    const emulated::World world = emulated::MakeWorld(counts, 10, 450);
    Application.Initialize();
    Application.SetTitle("Zarnu");
    ReplaceErrorBox([](const std::string& text) { std::printf("  error box: %s\n", text.c_str()); });
    const host::EmulatedInternet internet(world.HostTable(10, 0.01));
    TestService service{emulated::kServiceAddress, {"--port", "80", "--https-port", "443"}, internet.Namespace()};
    _putenv_s("ZARNU_SERVICE_HOST", service.Host().c_str());
    service.Serve("paidencrypt.txt", TestService::EncodedProxyList(world.ProxyList()));

    TForm1 main;
    TForm2 checker;
    main.Create();
    main.CreateChecker(checker);
    main.Show();
    UpdateWindow(main.Handle());
    ProxyListView& list = main.listrep1;
    std::printf("a refresh of %zu lines on the emulated internet (1 %% of packets lost)\n", world.lines.size());

    const LARGE_INTEGER click = Now();
    main.Button5.Click();
    double firstRow = 0, firstVerified = 0, lastRow = 0;
    std::size_t rows = 0;
    std::map<std::string, double> rowShown, verified; // by caption: when its row came, when it was found working
    PumpMessagesUntil([&] {
        const double now = Milliseconds(click, Now());
        if (list.Count() > rows) {
            rows = list.Count();
            lastRow = now;
            if (firstRow == 0)
                firstRow = now;
        }
        if (firstVerified == 0 && lists::ShowsVerifiedElite(list))
            firstVerified = now;
        for (std::size_t position = 0; position < list.Count(); ++position) {
            const ListRow& row = list.Row(position);
            rowShown.emplace(row.Caption, now);
            if (IsWorking(row))
                verified.emplace(row.Caption, now);
        }
        return !ProbeLauncher::AnyBusy() && !ProxyCheckPool::AnyBusy() && lists::AllVerdictsIn(list);
    }, 600000);
    const double lastVerdict = Milliseconds(click, Now());

    // The truth: every real proxy whose echo came back works, with its own anonymity; no other.
    const std::set<std::string> lostEchoes = LostEchoes(internet.EmulatorLog());
    std::map<std::string, std::vector<std::string>> shown;
    for (std::size_t position = 0; position < list.Count(); ++position)
        shown[list.Row(position).Caption] = list.Row(position).Checks;
    std::size_t real = 0, reachable = 0, found = 0, rightAnonymity = 0, wronglyWorking = 0;
    std::map<Kind, std::pair<std::size_t, std::size_t>> byKind; // found, there
    std::vector<double> shownTimes, verifiedTimes; // of the working proxies
    for (const emulated::Line& line : world.lines) {
        const auto row = shown.find(line.Host());
        const bool works = row != shown.end() && row->second.size() >= 3 && row->second[0] != "fails";
        if (const auto anonymity = emulated::TrueAnonymity(line.kind)) {
            ++real;
            reachable += emulated::Echoes(line.kind) && !lostEchoes.count(line.address);
            found += works;
            rightAnonymity += works && row->second[2] == AnonymityText(*anonymity);
            ++byKind[line.kind].second;
            byKind[line.kind].first += works;
            if (works) {
                shownTimes.push_back(rowShown[line.Host()]);
                verifiedTimes.push_back(verified[line.Host()]);
            }
        } else {
            wronglyWorking += works;
        }
    }
    // The time by which `part` of the `real` working proxies were in, from their times.
    const auto timeOf = [real](std::vector<double> times, double part) {
        std::sort(times.begin(), times.end());
        const auto needed = static_cast<std::size_t>(std::ceil(part * static_cast<double>(real)));
        return needed == 0 || needed > times.size() ? -1.0 : times[needed - 1];
    };
    std::printf("  click to the first row:                        %.0f ms\n", firstRow);
    std::printf("  click to the first verified elite proxy, HTTPS: %.0f ms\n", firstVerified);
    for (const double part : {0.5, 0.9})
        std::printf("  click to %2.0f %% of the working proxies shown:   %.0f ms, verified: %.0f ms\n", part * 100,
                    timeOf(shownTimes, part), timeOf(verifiedTimes, part));
    std::printf("  click to the last row:                         %.0f ms (%zu rows)\n", lastRow, rows);
    std::printf("  click to the last verdict:                     %.0f ms\n", lastVerdict);
    std::printf("  working proxies found: %zu of %zu real ones (%zu of them with their echo answered), %zu with "
                "their right anonymity; %zu others judged working\n",
                found, real, reachable, rightAnonymity, wronglyWorking);
    const char* kindNames[] = {"elite", "anonymous", "transparent", "elite behind a filter of echoes"};
    const Kind kinds[] = {Kind::Elite, Kind::Anonymous, Kind::Transparent, Kind::Filtered};
    for (std::size_t kind = 0; kind < 4; ++kind)
        std::printf("    %s: %zu of %zu\n", kindNames[kind], byKind[kinds[kind]].first, byKind[kinds[kind]].second);
    std::printf("  peak of checks at once: %zu\n", CheckEngine::PeakRunning());
    std::printf("  status bar: %s\n", main.StatusBar1.Text().c_str());
    main.ExitCleanup();
    main.Destroy();

    // The plain way, on the same emulated internet, right after.
    const host::OwnFolder plain("plain");
    std::string hosts;
    for (const emulated::Line& line : world.lines)
        hosts += line.Host() + "\n";
    std::ofstream(plain.File("list"), std::ios::binary) << hosts;
    host::Helper curl("plain-check", host::ToolPath("plain-check"),
                      {plain.UnixPath() + "/list", "http://" + service.Host() + "/whatismyip.php", "256", "10"});
    const auto status = curl.WaitForExit(1800000);
    std::printf("  %s", curl.Log().c_str());
    int plainMs = 0;
    std::sscanf(curl.Log().c_str(), "plain check of %*d proxies, %*d at a time: %d ms", &plainMs);
    if (status == 0 && plainMs > 0)
        std::printf("  the last verdict against the plain check's end: ratio %.2f\n", lastVerdict / plainMs);
    return 0;
}
