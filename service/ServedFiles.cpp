#include "ServedFiles.h"

#include "Log.h"

#include "core/IpCheckPage.h"
#include "core/ProxyList.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

bool IsHostName(const std::string& host)
{
    if (host.empty() || host.size() > 253 || host.front() == '-' || host.front() == '.')
        return false;
    for (const char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'))
            return false;
    return true;
}

bool IsPort(const std::string& port)
{
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long number = std::stoul(port);
    return number >= 1 && number <= 65535;
}

// A country as the encoded list can carry it: no character that the encoding cannot tell apart.
std::string CarriedCountry(const std::string& country)
{
    std::string carried;
    for (const char c : country) {
        if (c == '&')
            carried += "and";
        else if (c != '%' && c != '@' && static_cast<unsigned char>(c) >= 0x20)
            carried += c;
    }
    return Trimmed(carried);
}

std::set<std::string> Accounts(const std::string& file)
{
    std::set<std::string> accounts;
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);)
        if (const std::string account = Trimmed(line); !account.empty() && account[0] != '#')
            accounts.insert(account);
    return accounts;
}

} // namespace

std::string ServedProxyLines(const std::string& file, const CountryDatabase* countries, std::size_t& skipped)
{
    std::string served;
    skipped = 0;
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string label = ProxyLineLabel(line);
        const std::size_t colon = label.rfind(':');
        const std::string host = colon == std::string::npos ? std::string() : Trimmed(label.substr(0, colon));
        const std::string port = colon == std::string::npos ? std::string() : Trimmed(label.substr(colon + 1));
        const bool address = ParseIpAddress(host) && host.find(':') == std::string::npos;
        if (!(address || IsHostName(host)) || !IsPort(port)) {
            ++skipped;
            continue;
        }
        std::string country = CarriedCountry(ProxyLineCountry(line));
        if (country.empty() && countries && address)
            country = CarriedCountry(countries->Country(host));
        served += host + ":" + port + (country.empty() ? "" : ";" + country) + "\r\n";
    }
    return served;
}

ServedFiles::ServedFiles(const ServiceConfig& config)
{
    if (config.countryDatabase)
        countries_ = std::make_unique<CountryDatabase>(*config.countryDatabase);
    list_.path = config.proxyList;
    agents_.path = config.userAgents;
    if (config.accounts)
        accounts_ = Watched{*config.accounts};
    bool changed = false;
    for (Watched* file : {&list_, &agents_, accounts_ ? &*accounts_ : nullptr})
        if (file && !Refresh(*file, true, changed))
            throw std::runtime_error(file->path.string() + ": cannot be read");
    Publish();
}

std::shared_ptr<const ServedVersion> ServedFiles::Current() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return current_;
}

bool ServedFiles::Refresh(Watched& file, bool always, bool& changed)
{
    std::error_code error;
    const auto written = fs::last_write_time(file.path, error);
    const auto size = error ? 0 : fs::file_size(file.path, error);
    if (error)
        return false;
    if (!always && written == file.written && size == file.size)
        return true;
    std::ifstream in(file.path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    // Whole: the file did not change while it was read.
    const auto writtenAfter = fs::last_write_time(file.path, error);
    if (!in || error || writtenAfter != written || content.str().size() != size)
        return false;
    file.written = written;
    file.size = size;
    file.content = content.str();
    changed = true;
    return true;
}

void ServedFiles::LookAgain(bool always)
{
    const std::lock_guard<std::mutex> one(looking_);
    bool changed = false;
    for (Watched* file : {&list_, &agents_, accounts_ ? &*accounts_ : nullptr})
        if (file && !Refresh(*file, always, changed))
            LogLine("cannot read " + file->path.string() + ": the last good version stays served");
    if (changed)
        Publish();
}

void ServedFiles::Publish()
{
    auto version = std::make_shared<ServedVersion>();
    std::size_t skipped = 0;
    const std::string lines = ServedProxyLines(list_.content, countries_.get(), skipped);
    version->encodedList = EncodeProxyList(lines);
    version->userAgents = agents_.content;
    if (accounts_)
        version->accounts = Accounts(accounts_->content);
    LogLine("serving " + list_.path.string() + ": " + std::to_string(std::count(lines.begin(), lines.end(), '\n')) +
            " proxies, " + std::to_string(skipped) + " lines skipped (not address:port)");
    const std::lock_guard<std::mutex> hold(lock_);
    current_ = std::move(version);
}
