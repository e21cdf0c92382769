#include "net/InternetSession.h"

#include "net/LocalFile.h"

std::string ExecutableFileName()
{
    const std::string path = ExecutablePath();
    return path.substr(path.find_last_of("\\/") + 1);
}

UniqueHInternet OpenInternetSession(const RequestWay& way, const std::string& agent)
{
    switch (way.kind) {
    case RequestWay::Kind::Direct:
        return UniqueHInternet(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    case RequestWay::Kind::Proxy: {
        const std::wstring wideAgent(agent.begin(), agent.end());
        const std::wstring proxy(way.proxy.begin(), way.proxy.end());
        const std::wstring bypass(way.bypass.begin(), way.bypass.end());
        return UniqueHInternet(InternetOpenW(wideAgent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(),
                                             bypass.empty() ? nullptr : bypass.c_str(), 0));
    }
    case RequestWay::Kind::SystemSettings:
        break;
    }
    return UniqueHInternet(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}
