#include "verify/ProxyCheck.h"

#include "core/ProxyAccount.h"
#include "core/RelayRequest.h"
#include "core/ServiceUrl.h"
#include "net/InternetSession.h"
#include "verify/ServiceKey.h"
#include "win/UniqueHandle.h"
#include "win/WinsockSession.h"

#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace {

constexpr unsigned short kTunnelPort = 443;
constexpr std::size_t kMostPageBytes = 64 * 1024;
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_AUTH;

// A host as a URL or a Host line names it: an IPv6 address in brackets.
std::string UrlHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

// The page's target for a statement for `token`; `placed`: one that also says where the caller
// is ("v=2": services that know no such thing ignore it).
std::string PageTarget(const std::string& token, bool placed = false)
{
    return std::string(IpCheckPagePath) + "?token=" + token + (placed ? "&v=2" : "");
}

std::string GetRequest(const std::string& target, const std::string& host, const std::string& userAgent,
                       const std::string& extraLines = {})
{
    return "GET " + target + " HTTP/1.0\r\nHost: " + host + "\r\nUser-Agent: " + userAgent + "\r\nAccept: */*\r\n" +
           extraLines + "\r\n";
}

// The statement in a part's answer, if it holds for `token` and `side`: a full one in a 200, or,
// in a 429, one that says only that the caller is over the service's limit.
std::optional<IpStatement> Statement(const PartResult& result, const std::string& token, const char* side)
{
    const int status = result.answer.status;
    if (!result.answer.complete || (status != 200 && status != 429))
        return std::nullopt;
    auto statement = AcceptStatement(result.answer.body, token, side, &VerifyServiceSignature);
    if (statement && statement->limited != (status == 429))
        return std::nullopt;
    return statement;
}

// The parts that ask for the page, and for it through the tunnel, in one kind of proxy.
struct KindParts {
    ProxyKind kind;
    int web = -1;
    int tunnel = -1;
};

// Where the check's parts go: the service's host and port, its host as a Host line names it, and
// the far end of its tunnel.
struct FarEnd {
    HostPort service;
    std::string host;
    std::string tunnel;
};

FarEnd FarEndOf(const std::string& service)
{
    FarEnd end{SplitHostPort(service, 80)};
    end.host = UrlHost(end.service.host);
    end.tunnel = end.host + ":" + std::to_string(kTunnelPort);
    return end;
}

// Adds to `job` the parts that check `order.proxy` as a proxy of `kind`; in a job that asks in
// several kinds, each kind's parts are its group. A SOCKS proxy's tunnel is asked for once the
// proxy has answered the page's part in its kind.
KindParts AddKindParts(CheckJob& job, const CheckOrder& order, ProxyKind kind, bool grouped,
                       const std::string& webToken, const std::string& tunnelToken)
{
    const FarEnd end = FarEndOf(order.service);
    const int group = grouped ? static_cast<int>(kind) + 1 : 0;
    const bool http = kind == ProxyKind::Http;
    const ProxyAccount* account = order.account ? &*order.account : nullptr;
    KindParts parts{kind};
    parts.web = static_cast<int>(job.parts.size());
    if (http)
        job.parts.push_back({order.proxy, {},
                             GetRequest("http://" + order.service + PageTarget(webToken, true), order.service,
                                        order.userAgent, account ? ProxyAuthorizationLine(*account) : ""),
                             group});
    else
        job.parts.push_back({order.proxy, SocksSteps(kind, end.service.host, end.service.port, account),
                             ServerForm(GetRequest("http://" + order.service + PageTarget(webToken, true), order.service,
                                                   order.userAgent)),
                             group});
    if (!order.tunnel)
        return parts;
    parts.tunnel = static_cast<int>(job.parts.size());
    const std::string tunnelPage = GetRequest(PageTarget(tunnelToken), end.host, order.userAgent);
    if (http)
        job.parts.push_back({order.proxy,
                             {TunnelStep(TunnelRequest(end.tunnel, order.userAgent, account), account != nullptr)},
                             tunnelPage, group});
    else
        job.parts.push_back(
            {order.proxy, SocksSteps(kind, end.service.host, kTunnelPort, account), tunnelPage, group, parts.web});
    return parts;
}

// The verdict of the parts' `results`: by the kind that answered in its own protocol, the first
// asked where none did.
ProxyVerdict VerdictOf(const std::vector<PartResult>& results, const std::vector<KindParts>& kinds,
                       const std::string& webToken, const std::string& tunnelToken,
                       const std::vector<std::string>& users, unsigned limitMs, bool withAccount)
{
    const auto provedBy = [&](const KindParts& parts) {
        return results[static_cast<std::size_t>(parts.web)].proved ||
               (parts.tunnel >= 0 && results[static_cast<std::size_t>(parts.tunnel)].proved);
    };
    const auto proved = std::find_if(kinds.begin(), kinds.end(), provedBy);
    const KindParts& chosen = proved != kinds.end() ? *proved : kinds.front();
    const PartResult& web = results[static_cast<std::size_t>(chosen.web)];
    ProxyVerdict verdict;
    const auto statement = Statement(web, webToken, kWebSide);
    if (statement && Works(web.milliseconds, limitMs)) {
        verdict.webMs = web.milliseconds;
        verdict.limited = statement->limited;
        if (!statement->limited) {
            verdict.anonymity = JudgeAnonymity(*statement, users);
            verdict.exitAddress = statement->callerAddress;
            verdict.exitCountry = statement->country;
            verdict.exitNetwork = statement->network;
        }
    }
    verdict.refused = web.answer.refused;
    verdict.unreached = !verdict.refused && std::none_of(results.begin(), results.end(),
                                                         [](const PartResult& part) { return part.connected; });
    verdict.https = chosen.tunnel >= 0 &&
                    Statement(results[static_cast<std::size_t>(chosen.tunnel)], tunnelToken, kTunnelSide).has_value();
    if (proved != kinds.end())
        verdict.kind = chosen.kind;
    // A proxy that asks for an account says so in its kind: a 407 (a 401 to a wrong one, from some),
    // or a step refused for it.
    for (const PartResult& part : results) {
        const int status = part.answer.complete ? part.answer.status : 0;
        const bool asked = status == 407 || (withAccount && status == 401);
        const auto account = asked ? (withAccount ? StepReply::Account::Refused : StepReply::Account::Needed)
                                   : part.answer.account;
        if (!verdict.webMs && account != StepReply::Account::Fine)
            verdict.account = account;
    }
    return verdict;
}

} // namespace

CheckJob ProxyCheckJob(const CheckOrder& given, std::function<void(const ProxyVerdict&)> onVerdict)
{
    CheckOrder order = given;
    if (ProxyTarget target = TargetOf(given.proxy); target.account) {
        order.proxy = target.address;
        order.account = order.account ? order.account : target.account;
        order.kind = order.kind ? order.kind : target.kind;
    }
    const std::string webToken = FreshToken();
    const std::string tunnelToken = FreshToken();
    CheckJob job;
    job.limitMs = order.limitMs;
    std::vector<KindParts> kinds;
    const bool grouped = !order.kind;
    for (const ProxyKind kind : {ProxyKind::Http, ProxyKind::Socks5, ProxyKind::Socks4})
        if (!order.kind || order.kind == kind)
            kinds.push_back(AddKindParts(job, order, kind, grouped, webToken, tunnelToken));
    // SOCKS 4 is asked only where SOCKS 5 failed: a server of both kinds is used in the later one,
    // which names the far end to the proxy in every form.
    if (grouped) {
        CheckPart& socks4 = job.parts[static_cast<std::size_t>(kinds[2].web)];
        socks4.startsAfter = kinds[1].web;
        socks4.ifFailed = true;
    }
    job.done = [webToken, tunnelToken, kinds, users = order.usersAddresses, limitMs = order.limitMs,
                withAccount = order.account.has_value(),
                onVerdict = std::move(onVerdict)](const std::vector<PartResult>& results) {
        onVerdict(VerdictOf(results, kinds, webToken, tunnelToken, users, limitMs, withAccount));
    };
    return job;
}

CheckJob SpeedTestJob(const SpeedOrder& given, std::function<void(std::optional<unsigned> kBps)> onSpeed)
{
    const ProxyTarget target = TargetOf(given.proxy);
    const ProxyAccount* account = target.account ? &*target.account : nullptr;
    const FarEnd end = FarEndOf(given.service);
    // A fresh query to every request: nothing on the way can answer it from a store.
    const std::string page = std::string(SpeedPagePath) + "?n=" + FreshToken();
    CheckPart part{target.address};
    if (given.kind == ProxyKind::Http) {
        part.request = GetRequest("http://" + given.service + page, given.service, given.userAgent,
                                  account ? ProxyAuthorizationLine(*account) : "");
    } else {
        part.handshake = SocksSteps(given.kind, end.service.host, end.service.port, account);
        part.request = GetRequest(page, given.service, given.userAgent);
    }
    part.counted = true;
    CheckJob job;
    job.parts.push_back(std::move(part));
    job.limitMs = given.limitMs;
    job.done = [onSpeed = std::move(onSpeed)](const std::vector<PartResult>& results) {
        const HttpAnswer& answer = results[0].answer;
        onSpeed(answer.status == 200 && answer.bodyBytes > 0 ? std::optional(SpeedKBps(answer.bodyBytes, answer.bodyMs))
                                                             : std::nullopt);
    };
    return job;
}

std::vector<std::string> ServiceAddresses(const std::string& service)
{
    const HostPort target = SplitHostPort(service, 80);
    const WinsockSession winsock(MAKEWORD(2, 2));
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (target.port == 0 || getaddrinfo(target.host.c_str(), std::to_string(target.port).c_str(), &hints, &found) != 0)
        return {};
    std::vector<std::string> addresses;
    bool seen[2] = {false, false}; // IPv4, IPv6
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        const bool v6 = entry->ai_family == AF_INET6;
        char text[INET6_ADDRSTRLEN] = {};
        if ((entry->ai_family != AF_INET && !v6) || seen[v6] ||
            getnameinfo(entry->ai_addr, static_cast<socklen_t>(entry->ai_addrlen), text, sizeof text, nullptr, 0,
                        NI_NUMERICHOST) != 0)
            continue;
        seen[v6] = true;
        addresses.push_back(UrlHost(text) + ":" + std::to_string(target.port));
    }
    freeaddrinfo(found);
    return addresses;
}

CheckJob UsersAddressJob(const std::vector<std::string>& addresses, const std::string& service,
                         const std::string& userAgent, unsigned limitMs,
                         std::function<void(std::vector<std::string> usersAddresses)> onAddresses)
{
    CheckJob job;
    job.limitMs = limitMs;
    std::vector<std::string> tokens;
    for (const std::string& address : addresses) {
        tokens.push_back(FreshToken());
        job.parts.push_back({address, {}, GetRequest(PageTarget(tokens.back()), service, userAgent)});
    }
    job.done = [tokens, onAddresses = std::move(onAddresses)](const std::vector<PartResult>& results) {
        std::vector<std::string> stated;
        for (std::size_t part = 0; part < results.size(); ++part)
            if (const auto statement = Statement(results[part], tokens[part], kWebSide))
                stated.push_back(statement->callerAddress);
        onAddresses(stated);
    };
    return job;
}

std::optional<std::string> UsersAddressTheWay(const std::string& service, const RequestWay& way,
                                              const std::string& userAgent, unsigned limitMs)
{
    const HostPort target = SplitHostPort(service, INTERNET_DEFAULT_HTTP_PORT);
    const UniqueHInternet internet = OpenInternetSession(way, userAgent);
    DWORD milliseconds = limitMs;
    for (const DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(internet.get(), option, &milliseconds, sizeof milliseconds);
    const UniqueHInternet connection(internet ? InternetConnectA(internet.get(), target.host.c_str(), target.port,
                                                                 nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)
                                              : nullptr);
    const std::string token = FreshToken();
    const UniqueHInternet request(connection ? HttpOpenRequestA(connection.get(), "GET", PageTarget(token).c_str(),
                                                                nullptr, nullptr, nullptr, kRequestFlags, 0)
                                             : nullptr);
    // One request a connection: Wine's client would hand a kept connection to the same server
    // to a later request that is to go another way (through a proxy, or not).
    const char headers[] = "Connection: close\r\n";
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!request || !HttpSendRequestA(request.get(), headers, sizeof headers - 1, nullptr, 0) ||
        !HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != 200)
        return std::nullopt;
    std::string page;
    char buffer[4096];
    for (DWORD count = 0; InternetReadFile(request.get(), buffer, sizeof buffer, &count) && count > 0;) {
        page.append(buffer, count);
        if (page.size() > kMostPageBytes)
            return std::nullopt;
    }
    const auto statement = AcceptStatement(page, token, kWebSide, &VerifyServiceSignature);
    return statement ? std::optional<std::string>(statement->callerAddress) : std::nullopt;
}
