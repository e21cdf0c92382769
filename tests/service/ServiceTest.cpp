#include "ServiceProcess.h"

#include "core/ProxyList.h"
#include "core/ServiceUrl.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <set>

namespace {

using service::Folder;
using service::RawClient;
using service::ServiceProcess;

// The list of version `version`: its port tells it.
std::string Lines(int count, int version)
{
    return service::ProxyLines(count, 1000 + version, "Germany");
}

class ServiceTest : public testing::Test {
protected:
    // Starts the service on the folder's files, with more configuration lines.
    std::unique_ptr<ServiceProcess> Start(const std::string& more = "", int tunnelPort = 0)
    {
        return std::make_unique<ServiceProcess>(folder, "listen = 127.0.0.1:0\ntunnel_port = " + std::to_string(tunnelPort) +
                                                            "\nproxy_list = proxies.txt\nuser_agents = useragent.txt\n"
                                                            "signing_key = " ZARNU_DEMO_SIGNING_KEY "\n" + more);
    }

    static httplib::Client Client(const ServiceProcess& service, const std::string& account = "alice",
                                  const std::string& password = ServicePassword)
    {
        httplib::Client client("127.0.0.1", service.Port());
        if (!account.empty())
            client.set_basic_auth(account.c_str(), password.c_str());
        client.set_read_timeout(10, 0);
        return client;
    }

    Folder folder;
};

TEST_F(ServiceTest, TheListsGoToAnAllowedAccountEncodedAsTheProgramDecodesThem)
{
    ASSERT_EQ(std::system(("\"" ZARNU_TEST_TOOLS "/make-country-database\" " + (folder.Path() / "countries.mmdb").string())
                              .c_str()),
              0);
    folder.Write("proxies.txt", "203.0.113.7:8080;United States\n# a comment\nnot a proxy\n10.0.0.1:99999;Nowhere\n"
                                "  127.0.3.5:3128  \n127.0.4.5:80\n127.0.4.6:0\nproxy.example:8080;Trinidad & Tobago\n");
    folder.Write("useragent.txt", "[OSPaid]\r\ncountos=1\r\n0=Windows NT 10.0\r\n");
    folder.Write("accounts.txt", "alice\nbob@mail.example\n");
    const int tunnelPort = service::FreePort();
    ASSERT_EQ(std::system(("\"" ZARNU_TEST_TOOLS "/make-country-database\" " + (folder.Path() / "networks.mmdb").string() +
                           " asn").c_str()),
              0);
    const auto service =
        Start("accounts = accounts.txt\ncountry_database = countries.mmdb\nnetwork_database = networks.mmdb\n", tunnelPort);
    ASSERT_TRUE(service->Running()) << service->Errors();

    const auto list = Client(*service).Get(ProxyListPath);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
    EXPECT_EQ(DecodeProxyList(list->body), "203.0.113.7:8080;United States\r\n127.0.3.5:3128;Germany\r\n127.0.4.5:80\r\n"
                                           "proxy.example:8080;Trinidad and Tobago\r\n");
    EXPECT_NE(service->Log().find("4 proxies, 3 lines skipped"), std::string::npos) << service->Log();
    const auto agents = Client(*service, "bob@mail.example").Get(AgentListPath);
    ASSERT_TRUE(agents);
    EXPECT_EQ(agents->body, "[OSPaid]\r\ncountos=1\r\n0=Windows NT 10.0\r\n");

    for (const auto& [account, password] : std::vector<std::pair<std::string, std::string>>{
             {"carol", ServicePassword}, {"alice", "Tordane42"}, {"", ""}}) {
        const auto refused = Client(*service, account, password).Get(ProxyListPath);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 401) << account;
    }
    httplib::Client client = Client(*service);
    for (const auto& [path, status] : std::vector<std::pair<std::string, int>>{
             {"/download/encrypt/../encrypt/paidencrypt.txt", 404}, {"/download/encrypt%2Fpaidencrypt.txt", 404},
             {"/download/encrypt/paidencrypt.txt/", 404}, {"/index.html", 404}})
        EXPECT_EQ(client.Get(path)->status, status) << path;
    EXPECT_EQ(client.Post(ProxyListPath)->status, 405);
    const auto head = client.Head(ProxyListPath);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(list->body.size()));
    EXPECT_TRUE(service->AwaitLog("127.0.0.1 alice GET /download/encrypt/paidencrypt.txt 200 ")) << service->Log();
    EXPECT_EQ(service->Log().find(ServicePassword), std::string::npos) << "the password is never logged";

    // The tunnels' far end serves the page only, and names its side.
    httplib::Client tunnelSide("127.0.0.1", tunnelPort);
    tunnelSide.set_basic_auth("alice", ServicePassword);
    EXPECT_EQ(tunnelSide.Get(ProxyListPath)->status, 404);
    EXPECT_EQ(tunnelSide.Get(AgentListPath)->status, 404);
    const std::string token(32, 'a');
    const auto page = tunnelSide.Get(std::string(IpCheckPagePath) + "?token=" + token + "&lang=en");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("ZARNU_SIDE = tunnel\n"), std::string::npos) << page->body;
    EXPECT_NE(page->body.find("ZARNU_TOKEN = " + token + "\n"), std::string::npos) << page->body;
    // Where the caller is, for a program that asks: 127.0.3.0/24 is in the test's databases.
    RawClient placed(service->Port(), "127.0.3.9");
    placed.Send(std::string("GET ") + IpCheckPagePath + "?token=" + token + "&v=2 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::string placedPage = placed.Rest();
    EXPECT_NE(placedPage.find("ZARNU_COUNTRY = DE Germany\nZARNU_NETWORK = AS64500 Zarnu Test Net\nZARNU_TOKEN = "),
              std::string::npos) << placedPage;
    const auto unplaced = Client(*service).Get(std::string(IpCheckPagePath) + "?token=" + token + "&v=2");
    EXPECT_NE(unplaced->body.find("ZARNU_COUNTRY = \nZARNU_NETWORK = \nZARNU_TOKEN = "), std::string::npos)
        << "127.0.0.1 is in neither database: " << unplaced->body;
    EXPECT_EQ(page->body.find("ZARNU_COUNTRY"), std::string::npos) << "a program that did not ask gets what it knows";
    // Only a parameter named "token" asks for a statement.
    const auto unsigned_ = Client(*service).Get(std::string(IpCheckPagePath) + "?xtoken=" + token);
    EXPECT_EQ(unsigned_->body.find("ZARNU_SIGNATURE"), std::string::npos) << unsigned_->body;
}

TEST_F(ServiceTest, EveryDownloadIsOneWholeVersionWhileTheListIsReplacedAThousandTimes)
{
    constexpr int kLines = 500;
    folder.Write("proxies.txt", Lines(kLines, 0));
    folder.Write("useragent.txt", "");
    const auto service = Start("reload_interval = 1\nsettle_time = 0\nrate_limit = 1000000\n");
    ASSERT_TRUE(service->Running()) << service->Errors();

    std::atomic<bool> replacing{true};
    std::atomic<int> downloads{0};
    std::mutex lock;
    std::set<std::string> versions;
    std::vector<std::string> broken;
    std::vector<std::thread> clients;
    for (int c = 0; c < 20; ++c)
        clients.emplace_back([&] {
            httplib::Client client = Client(*service);
            while (replacing) {
                const auto list = client.Get(ProxyListPath);
                if (!list || list->status != 200)
                    continue;
                ++downloads;
                // One version: all of its lines, each naming the version's port.
                const std::vector<std::string> lines = SplitLines(DecodeProxyList(list->body));
                const std::string port = lines.empty() ? "" : lines[0].substr(lines[0].find(':') + 1, 4);
                const bool whole = lines.size() == kLines && std::all_of(lines.begin(), lines.end(), [&](const std::string& line) {
                    return line.find(":" + port + ";Germany") != std::string::npos;
                });
                const std::lock_guard<std::mutex> hold(lock);
                versions.insert(port);
                if (!whole)
                    broken.push_back(std::to_string(lines.size()) + " lines, the first " + (lines.empty() ? "" : lines[0]));
            }
        });
    for (int version = 1; version <= 1000; ++version) {
        // Replaced as operators do: written aside, then moved over the old one; every tenth time
        // it is asked to read at once.
        folder.Write("proxies.new", Lines(kLines, version));
        std::filesystem::rename(folder.Path() / "proxies.new", folder.Path() / "proxies.txt");
        if (version % 10 == 0)
            service->Signal(SIGHUP);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    replacing = false;
    for (std::thread& client : clients)
        client.join();
    EXPECT_TRUE(broken.empty()) << broken.size() << " broken, the first: " << (broken.empty() ? "" : broken.front());
    EXPECT_GT(versions.size(), 10u) << "the list was not read again";
    EXPECT_GT(downloads.load(), 100);
    EXPECT_EQ(DecodeProxyList(Client(*service).Get(ProxyListPath)->body).substr(0, 20),
              Lines(1, 1000).substr(0, 20)) << "the last version is served in the end";
}

TEST_F(ServiceTest, AMistakeInTheConfigurationIsOneLineOnStandardErrorAndNothingListens)
{
    folder.Write("proxies.txt", "203.0.113.7:8080\n");
    folder.Write("useragent.txt", "");
    for (const auto& [more, said] : std::vector<std::pair<std::string, std::string>>{
             {"colour = blue\n", "unknown key 'colour'"},
             {"max_connections = lots\n", "'max_connections' must be a whole number from 1 to 100000, not 'lots'"},
             {"rate_limit = -1\n", "'rate_limit' must be a whole number"},
             {"accounts = missing.txt\n", "'accounts' names no readable file"},
             {"rate_limit = 5\nrate_limit = 6\n", "'rate_limit' is given twice"},
             {"just words\n", "a line must be 'key = value'"},
             {"shutdown_grace = 1.5\n", "'shutdown_grace' must be a whole number from 0 to 25, not '1.5'"},
             {"max_connections = 0\n", "'max_connections' must be a whole number from 1 to"},
             {"request_timeout = 0\n", "'request_timeout' must be a whole number from 1 to"},
             {"idle_timeout = 0\n", "'idle_timeout' must be a whole number from 1 to"},
             {"speed_test_bytes = 16777217\n", "'speed_test_bytes' must be a whole number from 0 to 16777216"},
             {"trusted_proxies = 127.0.0.1, proxy.example\n", "'trusted_proxies' must be addresses"}}) {
        SCOPED_TRACE(more);
        ServiceProcess service(folder, "listen = 127.0.0.1:0\ntunnel_port = 0\nproxy_list = proxies.txt\n"
                                       "user_agents = useragent.txt\nsigning_key = " ZARNU_DEMO_SIGNING_KEY "\n" + more);
        EXPECT_EQ(service.AwaitEnd(std::chrono::seconds(5)), 2);
        const std::string errors = service.Errors();
        EXPECT_NE(errors.find(said), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_EQ(service.Log().find("listening"), std::string::npos);
    }
    ServiceProcess withoutKey(folder, "listen = 127.0.0.1:0\nproxy_list = proxies.txt\nuser_agents = useragent.txt\n");
    EXPECT_EQ(withoutKey.AwaitEnd(std::chrono::seconds(5)), 2);
    EXPECT_NE(withoutKey.Errors().find("'signing_key' is missing"), std::string::npos);

    // The signing key: the operator's secret, of the one curve the program checks.
    const auto key = [&](const std::string& name, const std::string& curve, const char* mode) {
        return service::NewSigningKey(folder, name, curve, mode);
    };
    for (const auto& [listen, signingKey, said] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"127.0.0.1:0", key("readable.pem", "prime256v1", "644"), "anyone on this machine can read this secret key"},
             {"127.0.0.1:0", key("p384.pem", "secp384r1", "600"), "p384.pem"},
             {"0.0.0.0:0", ZARNU_DEMO_SIGNING_KEY, "this is the demo's key"},
             {"127.0.0.1:0\ntrusted_proxies = 127.0.0.1", ZARNU_DEMO_SIGNING_KEY, "this is the demo's key"}}) {
        SCOPED_TRACE(signingKey);
        ServiceProcess service(folder, "listen = " + listen + "\ntunnel_port = 0\nproxy_list = proxies.txt\n"
                                       "user_agents = useragent.txt\nsigning_key = " + signingKey + "\n");
        EXPECT_EQ(service.AwaitEnd(std::chrono::seconds(5)), 2);
        EXPECT_NE(service.Errors().find(said), std::string::npos) << service.Errors();
    }
    ServiceProcess ownKey(folder, "listen = 127.0.0.1:0\ntunnel_port = 0\nproxy_list = proxies.txt\n"
                                  "user_agents = useragent.txt\nsigning_key = " + key("own.pem", "prime256v1", "640") + "\n");
    EXPECT_TRUE(ownKey.Running()) << ownKey.Errors();
}

TEST_F(ServiceTest, ClientsAreKeptInCheckByRateAndRequestLimits)
{
    folder.Write("proxies.txt", "203.0.113.7:8080\n");
    folder.Write("useragent.txt", "");
    const auto service = Start("rate_limit = 5\npage_rate_limit = 3\nrequest_timeout = 1\nmax_header_bytes = 2048\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    httplib::Client client = Client(*service);
    for (int request = 0; request < 5; ++request)
        EXPECT_EQ(client.Get(ProxyListPath)->status, 200);
    EXPECT_EQ(client.Get(ProxyListPath)->status, 429);
    EXPECT_EQ(Client(*service, "bob").Get(AgentListPath)->status, 429) << "the caller is limited too";
    EXPECT_EQ(client.Get(IpCheckPagePath)->status, 200) << "the page has a limit of its own";

    // Over the page's limit, a check's request is told so in a statement signed for its token.
    const std::string token(32, 'b');
    for (int request = 0; request < 2; ++request)
        EXPECT_EQ(client.Get(IpCheckPagePath)->status, 200);
    const auto limited = client.Get(std::string(IpCheckPagePath) + "?token=" + token);
    EXPECT_EQ(limited->status, 429);
    EXPECT_EQ(limited->get_header_value("Retry-After"), "60");
    EXPECT_NE(limited->body.find("\nZARNU_LIMITED = 1\nZARNU_TOKEN = " + token + "\nZARNU_SIGNATURE = "), std::string::npos)
        << limited->body;
    EXPECT_EQ(limited->body.find("HTTP_"), std::string::npos) << "nothing more is stated";
    EXPECT_EQ(client.Get(IpCheckPagePath)->body, "Too many requests\n");

    // Another caller, whose page limit is its own: errors count toward it.
    RawClient bigHeader(service->Port(), "127.0.0.2");
    bigHeader.Send("GET /whatismyip.php HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(4096, 'x') + "\r\n\r\n");
    EXPECT_EQ(bigHeader.StatusLine(), "HTTP/1.1 431 Request Header Fields Too Large");
    RawClient bigBody(service->Port(), "127.0.0.2");
    bigBody.Send("POST /whatismyip.php HTTP/1.1\r\nHost: x\r\nContent-Length: 4096\r\n\r\n" + std::string(4096, 'x'));
    EXPECT_EQ(bigBody.StatusLine(), "HTTP/1.1 413 Payload Too Large");

    // A client that dribbles its request is cut off once the request's time is up.
    RawClient dribbling(service->Port());
    const auto start = std::chrono::steady_clock::now();
    const std::string request = "GET /whatismyip.php HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(200, 'x');
    std::size_t sent = 0;
    while (sent < request.size() && dribbling.Send(request.substr(sent, 1))) {
        ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5))
            break;
    }
    EXPECT_EQ(dribbling.StatusLine(), "") << "cut off without an answer";
    EXPECT_LT(sent, request.size()) << "the connection stayed open for the whole dribble";
}

// The speed page: the size the operator set, bytes fresh to each request and never stored,
// counted toward the caller's pages and logged.
TEST_F(ServiceTest, TheSpeedPageIsBoundedFreshUnstoredAndLimited)
{
    folder.Write("proxies.txt", "203.0.113.7:8080\n");
    folder.Write("useragent.txt", "");
    const auto service = Start("speed_test_bytes = 100000\npage_rate_limit = 3\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    httplib::Client client = Client(*service, "");
    const auto first = client.Get(SpeedPagePath);
    const auto second = client.Get(std::string(SpeedPagePath) + "?n=2");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 200);
    EXPECT_EQ(first->body.size(), 100000u);
    EXPECT_EQ(second->body.size(), 100000u);
    EXPECT_NE(first->body, second->body);
    EXPECT_EQ(first->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(client.Get(IpCheckPagePath)->status, 200);
    EXPECT_EQ(client.Get(SpeedPagePath)->status, 429) << "it counts toward the caller's pages";
    EXPECT_TRUE(service->AwaitLog(std::string(SpeedPagePath), 3)) << service->Log();

    const auto without = Start("speed_test_bytes = 0\n");
    ASSERT_TRUE(without->Running()) << without->Errors();
    EXPECT_EQ(Client(*without, "").Get(SpeedPagePath)->status, 404);
}

TEST_F(ServiceTest, WhenFullAWaitingConnectionMakesRoomAndBusyOnesAreNeverCut)
{
    folder.Write("proxies.txt", "203.0.113.7:8080\n");
    folder.Write("useragent.txt", "");
    const auto service = Start("max_connections = 2\nrequest_timeout = 30\nidle_timeout = 30\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    // Two connections in the middle of their requests' bodies: a third waits.
    auto first = std::make_unique<RawClient>(service->Port());
    RawClient second(service->Port());
    const std::string headAndHalf = "POST /whatismyip.php HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\nab";
    first->Send(headAndHalf);
    second.Send(headAndHalf);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::atomic<int> status{0};
    std::thread third([&] {
        const auto answer = Client(*service).Get(IpCheckPagePath);
        status = answer ? answer->status : -1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(status.load(), 0) << "a third connection was served beyond the bound, or a busy one was cut";
    first.reset(); // room
    third.join();
    EXPECT_EQ(status.load(), 200);
    second.Send("cd");
    EXPECT_EQ(second.StatusLine(), "HTTP/1.1 405 Method Not Allowed") << "its request was cut";

    // An idle one and one whose head has not come whole: the older is closed for a new one, at once.
    RawClient older(service->Port());
    older.Send("GET /whatismyip.php HTTP/1.1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RawClient newer(service->Port());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(Client(*service).Get(IpCheckPagePath)->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    EXPECT_TRUE(older.ClosedByPeer());
    EXPECT_FALSE(newer.ClosedByPeer());
}

// SIGTERM: what was queued to come in is still answered, busy requests end whole, and requests
// whose heads have not come are ended at once rather than waited for.
TEST_F(ServiceTest, SigtermAnswersWhatWasQueuedAndEndsHalfSentRequestsAtOnce)
{
    folder.Write("proxies.txt", "203.0.113.7:8080\n");
    folder.Write("useragent.txt", "");
    const std::string limits = "max_connections = 2\nrequest_timeout = 30\nshutdown_grace = 10\n";
    {
        const auto service = Start(limits);
        ASSERT_TRUE(service->Running()) << service->Errors();
        std::list<RawClient> busy, queued;
        for (int connection = 0; connection < 2; ++connection) {
            busy.emplace_back(service->Port());
            busy.back().Send("POST /whatismyip.php HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\nab");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int connection = 0; connection < 5; ++connection) {
            queued.emplace_back(service->Port());
            queued.back().Send("GET /whatismyip.php HTTP/1.1\r\nHost: x\r\n\r\n");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        service->Signal(SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (RawClient& client : busy) {
            client.Send("cd");
            EXPECT_EQ(client.StatusLine(), "HTTP/1.1 405 Method Not Allowed");
        }
        for (RawClient& client : queued)
            EXPECT_EQ(client.StatusLine(), "HTTP/1.1 200 OK") << "a queued request went unanswered";
        EXPECT_EQ(service->AwaitEnd(std::chrono::seconds(5)), 0);
    }
    const auto service = Start(limits);
    ASSERT_TRUE(service->Running()) << service->Errors();
    RawClient halfSent(service->Port());
    halfSent.Send("GET /whatismyip.php HTTP/1.1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto signalled = std::chrono::steady_clock::now();
    service->Signal(SIGTERM);
    EXPECT_EQ(service->AwaitEnd(std::chrono::seconds(5)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(1)) << "a half-sent request was waited for";
}

TEST_F(ServiceTest, SigtermEndsItAfterTheRequestsInFlightEachWholeOrCut)
{
    constexpr int kLines = 10000;
    folder.Write("proxies.txt", Lines(kLines, 1));
    folder.Write("useragent.txt", "");
    auto service = Start("shutdown_grace = 3\nrate_limit = 100000\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    std::atomic<bool> stopping{false};
    std::atomic<int> whole{0}, cut{0}, partial{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 20; ++c)
        clients.emplace_back([&] {
            httplib::Client client = Client(*service);
            while (!stopping) {
                const auto list = client.Get(ProxyListPath);
                if (!list) {
                    ++cut;
                    if (service->Ended())
                        return;
                    continue;
                }
                const std::string lines = DecodeProxyList(list->body);
                (list->status == 200 && std::count(lines.begin(), lines.end(), '\n') == kLines ? whole : partial)++;
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto signalled = std::chrono::steady_clock::now();
    service->Signal(SIGTERM);
    EXPECT_EQ(service->AwaitEnd(std::chrono::seconds(5)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(4)) << "not within its grace time";
    stopping = true;
    for (std::thread& client : clients)
        client.join();
    EXPECT_GT(whole.load(), 0);
    EXPECT_EQ(partial.load(), 0) << "a download that arrived half, as if whole";
    EXPECT_NE(service->Log().find("stopped"), std::string::npos);
}

} // namespace
