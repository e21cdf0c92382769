// The service facing the public: one abusive client at a time, against the real program.
#include "NginxInFront.h"
#include "ServiceProcess.h"

#include "core/ProxyList.h"
#include "core/ServiceUrl.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <list>
#include <map>
#include <sstream>
#include <tuple>

namespace {

using service::Folder;
using service::ProxyLines;
using service::RawClient;
using service::ServiceProcess;

class AbuseTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder.Write("proxies.txt", ProxyLines(100, 8080));
        folder.Write("useragent.txt", "");
    }

    std::unique_ptr<ServiceProcess> Start(const std::string& more,
                                          ServiceProcess::Output output = ServiceProcess::Output::File)
    {
        return std::make_unique<ServiceProcess>(folder, "listen = 127.0.0.1:0\ntunnel_port = 0\nproxy_list = proxies.txt\n"
                                                        "user_agents = useragent.txt\nsigning_key = " + signingKey + "\n" + more,
                                                output);
    }

    // A request from the loopback address `from`, with a header block of its own; the status,
    // 0 when none came.
    static int Status(const ServiceProcess& service, const char* from, const std::string& path,
                      const std::string& headers = "")
    {
        RawClient client(service.Port(), from);
        client.Send("GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers + "\r\n");
        const std::string line = client.StatusLine();
        return line.size() >= 12 ? std::stoi(line.substr(9, 3)) : 0;
    }

    static std::string As(const std::string& account, const std::string& password = ServicePassword)
    {
        return "Authorization: " + BasicAuthorization(account, password) + "\r\n";
    }

    // The list that `service` serves alice now, line by line; none where it serves none.
    static std::vector<std::string> ServedList(const ServiceProcess& service)
    {
        httplib::Client client("127.0.0.1", service.Port());
        client.set_basic_auth("alice", ServicePassword);
        const auto list = client.Get(ProxyListPath);
        return list && list->status == 200 ? SplitLines(DecodeProxyList(list->body)) : std::vector<std::string>();
    }

    // Replaces a file as operators are told to: written aside, then moved into place.
    void Replace(const std::string& name, const std::string& text) const
    {
        folder.Write(name + ".new", text);
        std::filesystem::rename(folder.Path() / (name + ".new"), folder.Path() / name);
    }

    Folder folder;
    std::string signingKey = ZARNU_DEMO_SIGNING_KEY;
};

// One caller holds as many connections as it can, silent or with a request's first bytes only, and
// opens new ones as they are closed.
class ConnectionHog {
public:
    ConnectionHog(int port, int connections, const std::string& from = "127.0.0.1", const std::string& first = "")
        : thread_([this, port, connections, from, first] {
              std::list<RawClient> held;
              while (!stop_) {
                  held.remove_if([](const RawClient& client) { return client.ClosedByPeer(); });
                  while (held.size() < static_cast<std::size_t>(connections) && !stop_) {
                      held.emplace_back(port, from.c_str());
                      if (!first.empty())
                          held.back().Send(first);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          })
    {
    }
    ~ConnectionHog()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Callers that send a request's start and then bytes without end, each on connections of its own,
// opening a new one where the service closes one.
class EndlessSenders {
public:
    EndlessSenders(int port, const std::vector<std::string>& from, int each, const std::string& start)
    {
        for (const std::string& address : from)
            for (int connection = 0; connection < each; ++connection)
                threads_.emplace_back([this, port, address, start] {
                    const std::string filler(16 * 1024, 'a');
                    while (!stop_) {
                        RawClient client(port, address.c_str());
                        for (bool sent = client.Send(start); sent && !stop_;)
                            sent = client.Send(filler);
                    }
                });
    }
    ~EndlessSenders()
    {
        stop_ = true;
        for (std::thread& thread : threads_)
            thread.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// A page asked from `from` is answered, and soon: well within the seconds that a room which
// never makes room keeps a caller waiting (a busy machine's scheduling included; the figures of a
// quiet one come from bench/service-benchmark).
void ExpectAnsweredSoon(const ServiceProcess& service, const char* from)
{
    const auto asked = std::chrono::steady_clock::now();
    RawClient client(service.Port(), from);
    client.Send("GET " + std::string(IpCheckPagePath) + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(client.StatusLine(), "HTTP/1.1 200 OK");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1000));
}

// A request's every part is bounded: a chunk's size line, its extensions, a trailer, a head sent
// without end. However long the senders go on, the service stays small and answers others.
TEST_F(AbuseTest, EndlessPartsOfRequestsCostBoundedMemory)
{
    // The sanitizers' build would keep what is freed for a while; the service's own need is counted.
    setenv("ASAN_OPTIONS", "quarantine_size_mb=0:thread_local_quarantine_size_kb=0", 1);
    const auto service = Start("page_rate_limit = 100000\n");
    unsetenv("ASAN_OPTIONS");
    ASSERT_TRUE(service->Running()) << service->Errors();
    const std::string post = "POST /whatismyip.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const std::string& start : {post + "1", post + "1;", post + "1\r\na\r\n0\r\nX-Trailer: ", std::string("GET /")}) {
        SCOPED_TRACE(start);
        const EndlessSenders senders(service->Port(), {"127.0.0.7"}, 12, start);
        for (int page = 0; page < 10; ++page) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ExpectAnsweredSoon(*service, "127.0.0.8");
        }
    }
    EXPECT_LT(service->PeakMemoryKb(), 64 * 1024);
}

TEST_F(AbuseTest, OneCallerHoldingConnectionsKeepsNoOneElseOut)
{
    // Its share per caller; then a room so small that the hog fills it.
    for (const std::string limits : {"max_connections = 50\n", "max_connections = 4\nmax_connections_per_caller = 100\n"}) {
        SCOPED_TRACE(limits);
        const auto service = Start(limits + "rate_limit = 1000\n");
        ASSERT_TRUE(service->Running()) << service->Errors();
        const ConnectionHog hog(service->Port(), 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // the room is taken
        for (int download = 0; download < 5; ++download) {
            const auto asked = std::chrono::steady_clock::now();
            EXPECT_EQ(Status(*service, "127.0.0.2", ProxyListPath, As("bob")), 200);
            EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
        }
    }
}

// One caller's connections beyond its share are closed as they come, however many places are free.
TEST_F(AbuseTest, ACallerHoldsNoMoreThanItsShare)
{
    const auto service = Start("max_connections_per_caller = 10\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    std::list<RawClient> held;
    for (int connection = 0; connection < 30; ++connection)
        held.emplace_back(service->Port(), "127.0.0.9");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(std::count_if(held.begin(), held.end(), [](const RawClient& client) { return client.ClosedByPeer(); }), 20);
}

// When the room is full, a crowd of newcomers has room made for it at once, and only as much as it
// needs: one waiting connection closed for each, none more.
TEST_F(AbuseTest, AFullRoomClosesOneWaitingConnectionForEachNewcomer)
{
    const auto service = Start("max_connections = 40\nidle_timeout = 60\npage_rate_limit = 1000\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    std::list<RawClient> idle;
    for (int connection = 0; connection < 40; ++connection)
        idle.emplace_back(service->Port(), ("127.0.3." + std::to_string(connection + 1)).c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // past their grace
    std::vector<std::unique_ptr<RawClient>> newcomers;
    const auto asked = std::chrono::steady_clock::now();
    for (int newcomer = 0; newcomer < 10; ++newcomer) {
        newcomers.push_back(std::make_unique<RawClient>(service->Port(), "127.0.0.10"));
        newcomers.back()->Send("GET " + std::string(IpCheckPagePath) + " HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    for (const auto& newcomer : newcomers)
        EXPECT_EQ(newcomer->StatusLine(), "HTTP/1.1 200 OK");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(2000)) << "room was not made as they came";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(std::count_if(idle.begin(), idle.end(), [](const RawClient& client) { return client.ClosedByPeer(); }), 10);
}

// 50 callers each holding their share of connections that sent a request's first byte only, and
// opening new ones as the old are closed, keep no one else waiting.
TEST_F(AbuseTest, HalfSentRequestsFromACrowdKeepNoOneWaiting)
{
    const auto service = Start("request_timeout = 60\npage_rate_limit = 1000\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    std::list<ConnectionHog> crowd;
    for (int caller = 1; caller <= 50; ++caller)
        crowd.emplace_back(service->Port(), 32, "127.0.2." + std::to_string(caller), "G");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the room is taken
    for (int page = 0; page < 5; ++page)
        ExpectAnsweredSoon(*service, "127.0.0.8");
}

TEST_F(AbuseTest, NoOneCanLockAnAccountOutOrGuessAccountsFreely)
{
    folder.Write("accounts.txt", "alice\nbob\n");
    const auto service = Start("accounts = accounts.txt\nrate_limit = 5\nauth_failures = 3\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    // 30 downloads as alice from one address: it gets its five; alice still gets hers elsewhere.
    int served = 0;
    for (int request = 0; request < 30; ++request)
        served += Status(*service, "127.0.0.3", ProxyListPath, As("alice")) == 200;
    EXPECT_EQ(served, 5);
    EXPECT_EQ(Status(*service, "127.0.0.4", ProxyListPath, As("alice")), 200) << "alice is locked out";

    // Guesses: three failures, then nothing more to learn, and each answer a second late.
    std::vector<int> answers;
    for (const std::string guess : {"carol", "dave", "erin"})
        answers.push_back(Status(*service, "127.0.0.5", ProxyListPath, As(guess)));
    EXPECT_EQ(answers, std::vector<int>(3, 401));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(Status(*service, "127.0.0.5", ProxyListPath, As("bob")), 429) << "a right guess is not told apart";
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(900));
    EXPECT_EQ(Status(*service, "127.0.0.6", ProxyListPath, As("bob")), 200);
    EXPECT_EQ(Status(*service, "127.0.0.6", ProxyListPath, As(std::string(300, 'b'))), 401) << "an overlong name";
}

// 50 callers guess one account's password together: once the account has had its failures, each
// try for it is late, and a caller that has failed learns nothing more; its owner still gets in.
// Error answers count toward a caller's limit as well.
TEST_F(AbuseTest, GuessingOneAccountFromManyCallersIsSlowedAndErrorsAreLimited)
{
    folder.Write("accounts.txt", "alice\nbob\n");
    const auto service = Start("accounts = accounts.txt\nauth_failures = 3\npage_rate_limit = 20\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    std::atomic<int> verdicts{0};
    std::vector<std::thread> guessers;
    for (int caller = 1; caller <= 50; ++caller)
        guessers.emplace_back([&, from = "127.0.4." + std::to_string(caller)] {
            for (int guess = 0; guess < 3; ++guess)
                verdicts += Status(*service, from.c_str(), ProxyListPath, As("alice", "guess" + std::to_string(guess))) == 401;
        });
    for (std::thread& guesser : guessers)
        guesser.join();
    EXPECT_LE(verdicts.load(), 3 + 50) << "each caller had its own three verdicts";
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(Status(*service, "127.0.0.20", ProxyListPath, As("alice")), 200) << "the owner is locked out";
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(900)) << "the account's tries are not slowed";
    EXPECT_EQ(Status(*service, "127.0.0.20", ProxyListPath, As("bob")), 200) << "another account is slowed";

    int refused = 0;
    for (int request = 0; request < 30; ++request)
        refused += Status(*service, "127.0.0.21", "/nothing") == 429;
    EXPECT_EQ(refused, 10);
}

TEST_F(AbuseTest, BehindATrustedProxyEachRealCallerIsCountedAndStated)
{
    signingKey = service::NewSigningKey(folder, "own.pem"); // the demo's is refused behind a proxy
    const auto service = Start("trusted_proxies = 127.0.0.7\nrate_limit = 3\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    const auto forwardedFor = [](const std::string& caller) { return "X-Forwarded-For: 10.9.9.9, " + caller + "\r\n"; };
    for (int request = 0; request < 3; ++request)
        EXPECT_EQ(Status(*service, "127.0.0.7", ProxyListPath, As("alice") + forwardedFor("198.51.100.7")), 200);
    EXPECT_EQ(Status(*service, "127.0.0.7", ProxyListPath, As("bob") + forwardedFor("198.51.100.7")), 429);
    EXPECT_EQ(Status(*service, "127.0.0.7", ProxyListPath, As("bob") + forwardedFor("198.51.100.8")), 200);

    RawClient trusted(service->Port(), "127.0.0.7");
    trusted.Send(std::string("GET ") + IpCheckPagePath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
                 forwardedFor("198.51.100.8") + "\r\n");
    EXPECT_NE(trusted.Rest().find("REMOTE_ADDR = 198.51.100.8\n"), std::string::npos);
    // Anyone else's X-Forwarded-For is only a header.
    RawClient other(service->Port(), "127.0.0.8");
    other.Send(std::string("GET ") + IpCheckPagePath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
               forwardedFor("198.51.100.8") + "\r\n");
    EXPECT_NE(other.Rest().find("REMOTE_ADDR = 127.0.0.8\n"), std::string::npos);
}

// Behind nginx as the README sets it up, 100 clients at once each get every answer (none is
// refused for the proxy's many connections), each counted and stated as itself, whatever it forged.
TEST_F(AbuseTest, BehindNginxEveryClientIsAnsweredAsItself)
{
    signingKey = service::NewSigningKey(folder, "own.pem");
    const auto service = Start("trusted_proxies = 127.0.0.1\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    const service::NginxInFront nginx(folder, "127.0.6.1", service->Port());
    ASSERT_TRUE(nginx.Ready()) << nginx.Errors();
    std::atomic<int> answered{0}, asThemselves{0};
    std::vector<std::thread> clients;
    for (int client = 1; client <= 100; ++client)
        clients.emplace_back([&, from = "127.0.5." + std::to_string(client)] {
            for (int request = 0; request < 5; ++request) {
                RawClient browser(8080, from.c_str(), "127.0.6.1");
                browser.Send(std::string("GET ") + IpCheckPagePath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                             "X-Forwarded-For: 6.6.6.6\r\n\r\n");
                const std::string answer = browser.Rest();
                answered += answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
                asThemselves += answer.find("REMOTE_ADDR = " + from + "\n") != std::string::npos;
            }
        });
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(answered.load(), 500);
    EXPECT_EQ(asThemselves.load(), 500);
}

TEST_F(AbuseTest, EveryRequestIsOneLogLineThatNoCallerCanForge)
{
    const auto service = Start("request_timeout = 1\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    const std::string forged = "x 200 0 0ms\r\n2026-01-01T00.00.00.000Z 127.0.0.9 root GET /admin";
    EXPECT_EQ(Status(*service, "127.0.0.2", ProxyListPath, As(forged)), 200);
    EXPECT_EQ(Status(*service, "127.0.0.2", ProxyListPath, As(std::string("\x1b[2Jnul\0led\xff", 12))), 200);
    EXPECT_EQ(Status(*service, "127.0.0.2", ProxyListPath, As("")), 200);
    EXPECT_EQ(Status(*service, "127.0.0.2", ProxyListPath, As("-")), 200);
    RawClient garbage(service->Port(), "127.0.0.2");
    garbage.Send("HELLO\x01 there\r\n\r\n");
    EXPECT_EQ(garbage.StatusLine(), "HTTP/1.1 400 Bad Request");
    RawClient slow(service->Port(), "127.0.0.2");
    slow.Send("GET /whatismyip.php HTTP/1.1\r\nHost:");
    EXPECT_EQ(slow.StatusLine(), "") << "cut when its time was up";

    // Each line: time, caller, account, method, path, status, bytes, milliseconds. Requests on
    // separate connections are logged as each ends, in no promised order.
    ASSERT_TRUE(service->AwaitLog(" 127.0.0.2 ", 6)) << service->Log();
    std::vector<std::string> lines;
    std::istringstream log(service->Log());
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string time, caller, account, method, path, status;
        fields >> time >> caller >> account >> method >> path >> status;
        if (caller == "127.0.0.2")
            lines.push_back(caller + " " + account + " " + method + " " + path + " " + status);
    }
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected{
        "127.0.0.2 x\\x20200\\x200\\x200ms\\x0D\\x0A2026-01-01T00.00.00.000Z\\x20127.0.0.9\\x20root"
        "\\x20GET\\x20/admin GET /download/encrypt/paidencrypt.txt 200",
        "127.0.0.2 \\x1B[2Jnul\\x00led\\xFF GET /download/encrypt/paidencrypt.txt 200",
        "127.0.0.2 \"\" GET /download/encrypt/paidencrypt.txt 200",
        "127.0.0.2 \\x2d GET /download/encrypt/paidencrypt.txt 200",
        "127.0.0.2 - - - 400",
        "127.0.0.2 - - - 408",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected) << service->Log();
}

TEST_F(AbuseTest, ABadOrHalfWrittenListNeverReplacesAGoodOne)
{
    const std::map<std::string, std::string> good{
        {"proxies.txt", ProxyLines(100, 8080)}, {"accounts.txt", "alice\nbob\ncarol\n"}, {"useragent.txt", "Agent/1.0\n"}};
    for (const auto& [name, text] : good)
        folder.Write(name, text);
    const auto service = Start("accounts = accounts.txt\nreload_interval = 1\nsettle_time = 0\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    const auto served = [&] { return ServedList(*service).size(); };
    ASSERT_EQ(served(), 100u);
    EXPECT_NE(service->Log().find("serving " + (folder.Path() / "proxies.txt").string() + ": 100 proxies, 0 lines skipped "
                                  "(not address:port); " + (folder.Path() / "accounts.txt").string() + ": 3 accounts"),
              std::string::npos) << service->Log();
    std::size_t refusals = 0;
    const std::string lines = ProxyLines(100, 3128);
    for (const auto& [name, text, why] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"proxies.txt", "<html>garbage</html>\n\x01\x02\n", "it has no proxy"},
             {"proxies.txt", "", "it has no proxy"},
             {"proxies.txt", ProxyLines(40, 8080), "it has fewer than 50 % of the 100 proxies served"},
             {"proxies.txt", lines.substr(0, lines.size() * 3 / 4 + 5), "its last line is not ended"},
             {"proxies.txt", lines + "<b>garbage</b>:80\n", "1 of its lines are no proxy line"},
             {"useragent.txt", "\n", "its user-agent file is empty"},
             {"accounts.txt", "alice\n", "its accounts file names fewer than 50 % of the 3 accounts served"},
             {"accounts.txt", "\n# nobody\n", "its accounts file names no account"}}) {
        SCOPED_TRACE(why);
        Replace(name, text);
        EXPECT_TRUE(service->AwaitLog("refused the new version", ++refusals)) << service->Log();
        EXPECT_NE(service->Log().find(why), std::string::npos);
        EXPECT_EQ(served(), 100u);
        Replace(name, good.at(name));
    }
    // The operator asks for a much shorter list: it is taken.
    Replace("proxies.txt", ProxyLines(40, 8080));
    service->Signal(SIGHUP);
    EXPECT_TRUE(service->AwaitLog("serving " + (folder.Path() / "proxies.txt").string() + ": 40 proxies"));
    EXPECT_EQ(served(), 40u);
}

TEST_F(AbuseTest, AListWrittenInPlaceIsTakenOnlyOnceItIsWhole)
{
    const auto service = Start("reload_interval = 1\nsettle_time = 1\nrate_limit = 1000\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    const auto firstLine = [&] {
        const std::vector<std::string> lines = ServedList(*service);
        return std::to_string(lines.size()) + " " + (lines.empty() ? "" : lines.back());
    };
    const std::string before = firstLine();
    // Written in place, with a pause halfway longer than the time to settle, as a slow copy writes it.
    const std::string next = ProxyLines(100, 3128);
    {
        std::ofstream file(folder.Path() / "proxies.txt", std::ios::binary | std::ios::trunc);
        file << next.substr(0, next.size() / 2 + 3) << std::flush;
        for (int look = 0; look < 25; ++look) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(firstLine(), before) << "half a list was served";
        }
        file << next.substr(next.size() / 2 + 3);
    }
    EXPECT_TRUE(service->AwaitLog("serving", 2));
    EXPECT_EQ(firstLine(), "100 127.0.0.100:3128");

    // A much shorter list just moved in, and SIGHUP at once: taken as it is, not yet settled.
    Replace("proxies.txt", ProxyLines(40, 8080));
    service->Signal(SIGHUP);
    EXPECT_TRUE(service->AwaitLog("asked: serving " + (folder.Path() / "proxies.txt").string() + ": 40 proxies"))
        << service->Log();
    EXPECT_EQ(firstLine(), "40 127.0.0.40:8080");
}

TEST_F(AbuseTest, AListThatChangesWhileItIsReadIsNotTaken)
{
    // A long list, then bytes added to it without a pause while the service looks at it twice:
    // each look reads it while it changes.
    const std::string quarter = ProxyLines(62500, 8080);
    folder.Write("proxies.txt", quarter + quarter + quarter + quarter);
    const auto service = Start("reload_interval = 1\nsettle_time = 0\n");
    ASSERT_TRUE(service->Running()) << service->Errors();
    std::ofstream file(folder.Path() / "proxies.txt", std::ios::binary | std::ios::app);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    while (std::chrono::steady_clock::now() < until)
        file << '0' << std::flush;
    EXPECT_TRUE(service->AwaitLog("whole (it changed while it was read)"));
    const std::string log = service->Log();
    EXPECT_EQ(log.find("serving", log.find("serving") + 1), std::string::npos) << "a list read while it changed was served";
}

TEST_F(AbuseTest, AStalledStandardOutputHoldsUpNeitherRequestsNorTheEnd)
{
    const auto service = Start("page_rate_limit = 100000\n", ServiceProcess::Output::StalledPipe);
    ASSERT_TRUE(service->Running()) << service->Errors();
    // Far more log lines than a pipe holds, none of them read.
    httplib::Client client("127.0.0.1", service->Port());
    client.set_read_timeout(2, 0);
    int served = 0;
    for (int request = 0; request < 3000; ++request)
        served += client.Get(std::string(IpCheckPagePath) + "?padding=" + std::string(100, 'p'))->status == 200;
    EXPECT_EQ(served, 3000);
    RawClient keptAlive(service->Port(), "127.0.0.2");
    keptAlive.Send("GET /whatismyip.php HTTP/1.1\r\nHost: x\r\n\r\n"); // then idle
    const auto signalled = std::chrono::steady_clock::now();
    service->Signal(SIGTERM);
    EXPECT_EQ(service->AwaitEnd(std::chrono::seconds(5)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::milliseconds(2500));
}

// Standard output whose reader has gone: the lines are lost, the service is not.
TEST_F(AbuseTest, AStandardOutputWithoutReaderEndsNothing)
{
    const auto service = Start("page_rate_limit = 100000\n", ServiceProcess::Output::StalledPipe);
    ASSERT_TRUE(service->Running()) << service->Errors();
    service->CloseOutput();
    httplib::Client client("127.0.0.1", service->Port());
    client.set_read_timeout(2, 0);
    for (int request = 0; request < 20; ++request) {
        const auto answer = client.Get(IpCheckPagePath);
        ASSERT_TRUE(answer) << "request " << request << ": " << service->Errors();
        EXPECT_EQ(answer->status, 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // each line written on its own
    }
    service->Signal(SIGTERM);
    EXPECT_EQ(service->AwaitEnd(std::chrono::seconds(5)), 0);
}

} // namespace
