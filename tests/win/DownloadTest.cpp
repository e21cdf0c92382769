#include "core/ServiceUrl.h"
#include "net/DownloadToFile.h"
#include "settings/SystemProxy.h"

#include "RawRegistry.h"
#include "TestService.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <wininet.h>

namespace {

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

class DownloadTest : public testing::Test {
protected:
    // Downloads go to the service directly, whatever system proxy an earlier run left behind.
    void SetUp() override { raw::RemoveValue(SettingsKey, "ProxyEnable"); }

    std::string Url(const std::string& account = "alice", const char* path = ProxyListPath) const
    {
        return ServiceUrl(account, service.Host(), path);
    }
    std::string Target() const { return service.Root() + "\\paidproxy.cfg"; }
    std::string Stored() const { return ReadFileBytes(Target()); }

    TestService service;
};

TEST_F(DownloadTest, AnEmptyBodyGivesAnEmptyFile)
{
    service.Serve("paidencrypt.txt", "ignored", "empty");
    std::ofstream(Target()) << "earlier list";
    EXPECT_TRUE(DownloadToFile(Url(), Target()));
    EXPECT_EQ(GetFileAttributesA(Target().c_str()) != INVALID_FILE_ATTRIBUTES, true);
    EXPECT_EQ(Stored(), "");
}

TEST_F(DownloadTest, BodiesArriveByteForByte)
{
    std::string exact(1024, 'x');
    exact[0] = '\n';
    exact[1023] = '\0';
    std::string odd;
    for (int i = 0; i < 2500; ++i)
        odd += static_cast<char>(i % 7 == 0 ? '\n' : i % 11 == 0 ? '\0' : 'a' + i % 26);
    odd += "\r\r\n\xFF";

    for (const std::string& body : {exact, odd, std::string(1, '\0')}) {
        service.Serve("paidencrypt.txt", body);
        EXPECT_TRUE(DownloadToFile(Url(), Target()));
        EXPECT_EQ(Stored(), body) << body.size() << " bytes";
    }
}

TEST_F(DownloadTest, AnErrorStatusStoresItsBody)
{
    service.Serve("paidencrypt.txt", "<h1>Not here</h1>", "status 404");
    EXPECT_TRUE(DownloadToFile(Url(), Target()));
    EXPECT_EQ(Stored(), "<h1>Not here</h1>");
}

TEST_F(DownloadTest, ABodyCutOffPartWayStoresWhatArrived)
{
    std::string body;
    for (int i = 0; i < 6000; ++i)
        body += static_cast<char>('0' + i % 10);
    service.Serve("paidencrypt.txt", body, "cut 2500");
    EXPECT_TRUE(DownloadToFile(Url(), Target()));
    EXPECT_EQ(Stored(), body.substr(0, 2500));
}

TEST_F(DownloadTest, ASlowBodyArrivesWhole)
{
    const std::string body(3000, 's');
    service.Serve("paidencrypt.txt", body, "slow 5");
    EXPECT_TRUE(DownloadToFile(Url(), Target()));
    EXPECT_EQ(Stored(), body);
}

// A loopback port on which nothing listens.
std::string ClosedPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    WSACleanup();
    return std::to_string(ntohs(address.sin_port));
}

TEST_F(DownloadTest, NoServerOrAnUnknownHostTruncatesTheFileSilently)
{
    for (const std::string& host : {"127.0.0.1:" + ClosedPort(), std::string("zarnu-nowhere.invalid")}) {
        std::ofstream(Target()) << "earlier list";
        EXPECT_TRUE(DownloadToFile(ServiceUrl("alice", host, ProxyListPath), Target())) << host;
        EXPECT_NE(GetFileAttributesA(Target().c_str()), INVALID_FILE_ATTRIBUTES) << host; // there, and
        EXPECT_EQ(Stored(), "") << host;                                              // empty
    }
}

// The value the next internet handle gets. Handles are reused lowest first, so it only changes
// while a handle opened in between is still open.
HINTERNET NextInternetHandle()
{
    const HINTERNET handle = InternetOpenA("probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InternetCloseHandle(handle);
    return handle;
}

TEST_F(DownloadTest, AnUnwritableFileRaisesTheIoErrorAndReleasesTheHandles)
{
    service.Serve("paidencrypt.txt", "list");
    const HINTERNET before = NextInternetHandle();
    try {
        DownloadToFile(Url(), service.Root() + "\\no such folder\\paidproxy.cfg");
        ADD_FAILURE() << "no error raised";
    } catch (const EInOutError& error) {
        EXPECT_STREQ(error.what(), "Path not found");
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_EQ(NextInternetHandle(), before);

    CreateDirectoryA(Target().c_str(), nullptr); // a folder where the file should go
    EXPECT_THROW(DownloadToFile(Url(), Target()), EInOutError);
    RemoveDirectoryA(Target().c_str());
    EXPECT_EQ(NextInternetHandle(), before);
}

TEST_F(DownloadTest, TheServiceSeesThePathTheAccountThePasswordAndTheProgramName)
{
    service.Serve("useragent.txt", "[OSPaid]\r\n");
    const char* accounts[] = {"alice", "", "bob@mail.example", "y/z@evil.invalid?#%41"};
    for (const char* account : accounts)
        EXPECT_TRUE(DownloadToFile(Url(account, AgentListPath), Target()));

    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(accounts[i]);
        EXPECT_EQ(requests[i].path, "/download/encrypt/useragent.txt");
        EXPECT_TRUE(requests[i].credentialsSent);
        EXPECT_EQ(requests[i].user, accounts[i]);
        EXPECT_EQ(requests[i].password, "Tordane41");
        EXPECT_EQ(requests[i].userAgent, "download_tests.exe");
    }
    EXPECT_EQ(Stored(), "[OSPaid]\r\n");
}

TEST_F(DownloadTest, AnAccountWithAColonStillGoesToTheService)
{
    // Basic credentials end the user name at the first ":", so the service sees the rest as part
    // of the password and refuses; the request, and the password, go nowhere else.
    service.Serve("paidencrypt.txt", "list");
    EXPECT_TRUE(DownloadToFile(Url("x:y@evil.invalid/"), Target()));
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/download/encrypt/paidencrypt.txt");
    EXPECT_EQ(requests[0].user, "x");
    EXPECT_EQ(requests[0].password, "y@evil.invalid/:Tordane41");
    EXPECT_EQ(Stored(), "Authorization required");
}

} // namespace
