#include "Config.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

unsigned long Number(const std::string& where, const std::string& key, const std::string& value, unsigned long least,
                     unsigned long most)
{
    std::size_t used = 0;
    unsigned long number = 0;
    try {
        number = value.empty() || value[0] == '-' ? most + 1 : std::stoul(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != value.size() || number < least || number > most)
        throw ConfigError(where + ": '" + key + "' must be a whole number from " + std::to_string(least) + " to " +
                          std::to_string(most) + ", not '" + value + "'");
    return number;
}

fs::path ReadableFile(const std::string& where, const std::string& key, const std::string& value, const fs::path& folder)
{
    const fs::path path = fs::path(value).is_absolute() ? fs::path(value) : folder / value;
    if (value.empty() || !std::ifstream(path).good() || fs::is_directory(path))
        throw ConfigError(where + ": '" + key + "' names no readable file: " + path.string());
    return path;
}

using Setter = std::function<void(const std::string& where, const std::string& key, const std::string& value)>;

Setter Whole(unsigned& field, unsigned long least, unsigned long most)
{
    return [&field, least, most](const std::string& where, const std::string& key, const std::string& value) {
        field = static_cast<unsigned>(Number(where, key, value, least, most));
    };
}

template <typename Field>
Setter Readable(Field& field, const fs::path& folder)
{
    return [&field, folder](const std::string& where, const std::string& key, const std::string& value) {
        field = ReadableFile(where, key, value, folder);
    };
}

void SetListen(ServiceConfig& config, const std::string& where, const std::string& key, const std::string& value)
{
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw ConfigError(where + ": '" + key + "' must be address:port, not '" + value + "'");
    config.listenAddress = value.substr(0, colon);
    if (config.listenAddress.front() == '[' && config.listenAddress.back() == ']')
        config.listenAddress = config.listenAddress.substr(1, config.listenAddress.size() - 2);
    config.listenPort = static_cast<unsigned short>(Number(where, key, value.substr(colon + 1), 0, 65535));
}

void SetTrustedProxies(ServiceConfig& config, const std::string& where, const std::string& key, const std::string& value)
{
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t comma = std::min(value.find(',', start), value.size());
        const auto network = ParseCallerNetwork(Trimmed(value.substr(start, comma - start)));
        if (!network)
            throw ConfigError(where + ": '" + key + "' must be addresses or ranges (address/bits) separated by commas, not '" +
                              value + "'");
        config.trustedProxies.push_back(*network);
        start = comma + 1;
    }
}

// What each key sets in `config` (`tunnelPort` before it is narrowed), files taken from `folder`.
std::map<std::string, Setter> Setters(ServiceConfig& config, unsigned& tunnelPort, const fs::path& folder)
{
    return {
        {"listen", [&config](const std::string& where, const std::string& key, const std::string& value) {
             SetListen(config, where, key, value);
         }},
        {"tunnel_port", Whole(tunnelPort, 0, 65535)},
        {"proxy_list", Readable(config.proxyList, folder)},
        {"user_agents", Readable(config.userAgents, folder)},
        {"accounts", Readable(config.accounts, folder)},
        {"signing_key", Readable(config.signingKey, folder)},
        {"country_database", Readable(config.countryDatabase, folder)},
        {"network_database", Readable(config.networkDatabase, folder)},
        {"max_connections", Whole(config.maxConnections, 1, 100000)},
        {"max_connections_per_caller", Whole(config.maxConnectionsPerCaller, 1, 100000)},
        {"idle_timeout", Whole(config.idleTimeoutSeconds, 1, 3600)},
        {"request_timeout", Whole(config.requestTimeoutSeconds, 1, 3600)},
        {"max_header_bytes", Whole(config.maxHeaderBytes, 1024, 1048576)},
        {"rate_limit", Whole(config.rateLimitPerMinute, 1, 1000000)},
        {"account_rate_limit", Whole(config.accountRateLimitPerMinute, 1, 1000000)},
        {"auth_failures", Whole(config.authFailuresPerMinute, 1, 1000000)},
        {"page_rate_limit", Whole(config.pageRateLimitPerMinute, 1, 1000000)},
        {"speed_test_bytes", Whole(config.speedTestBytes, 0, 16 * 1024 * 1024)},
        {"trusted_proxies", [&config](const std::string& where, const std::string& key, const std::string& value) {
             SetTrustedProxies(config, where, key, value);
         }},
        {"least_list_share", Whole(config.leastListSharePercent, 0, 100)},
        {"settle_time", Whole(config.settleSeconds, 0, 3600)},
        {"reload_interval", Whole(config.reloadIntervalSeconds, 1, 86400)},
        {"shutdown_grace", Whole(config.shutdownGraceSeconds, 0, 25)},
    };
}

} // namespace

ServiceConfig ReadServiceConfig(const fs::path& path)
{
    std::ifstream file(path);
    if (!file)
        throw ConfigError(path.string() + ": cannot be read");
    ServiceConfig config;
    unsigned tunnelPort = config.tunnelPort;
    const std::map<std::string, Setter> setters = Setters(config, tunnelPort, path.parent_path());
    std::set<std::string> given;
    std::string line;
    for (int lineNumber = 1; std::getline(file, line); ++lineNumber) {
        const std::string where = path.string() + ":" + std::to_string(lineNumber);
        const std::string content = Trimmed(line.substr(0, line.find('#')));
        if (content.empty())
            continue;
        const std::size_t equals = content.find('=');
        if (equals == std::string::npos)
            throw ConfigError(where + ": a line must be 'key = value', not '" + content + "'");
        const std::string key = Trimmed(content.substr(0, equals));
        const auto setter = setters.find(key);
        if (setter == setters.end())
            throw ConfigError(where + ": unknown key '" + key + "'");
        if (!given.insert(key).second)
            throw ConfigError(where + ": '" + key + "' is given twice");
        setter->second(where, key, Trimmed(content.substr(equals + 1)));
    }
    config.tunnelPort = static_cast<unsigned short>(tunnelPort);
    if (!given.count("account_rate_limit"))
        config.accountRateLimitPerMinute = config.rateLimitPerMinute * 4 > config.rateLimitPerMinute
                                               ? config.rateLimitPerMinute * 4
                                               : config.rateLimitPerMinute;
    for (const char* required : {"proxy_list", "user_agents", "signing_key"})
        if (!given.count(required))
            throw ConfigError(path.string() + ": '" + required + "' is missing");
    return config;
}

unsigned ServingThreads(unsigned cores)
{
    return std::clamp(cores, 2u, kMostServingThreads);
}
