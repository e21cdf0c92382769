#include "ServedFiles.h"

#include "Log.h"

#include "core/IpCheckPage.h"
#include "core/ProxyList.h"

#include <sys/stat.h>
#include <time.h>

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

bool StampOf(const fs::path& path, FileStamp& stamp)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    stamp.inode = status.st_ino;
    stamp.size = static_cast<unsigned long long>(status.st_size);
    stamp.writtenNs = static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    return true;
}

std::chrono::nanoseconds WrittenAgo(const FileStamp& stamp)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::chrono::nanoseconds(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec - stamp.writtenNs);
}

// Reads `path`, which `stamp` describes, into `content`; false where it could not be read whole
// (it changed while it was read).
bool ReadWhole(const fs::path& path, FileStamp& stamp, std::string& content)
{
    if (!StampOf(path, stamp))
        return false;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    FileStamp after;
    if (!in || !StampOf(path, after) || !(after == stamp) || text.str().size() != stamp.size)
        return false;
    content = text.str();
    return true;
}

} // namespace

std::string ServedProxyLines(const std::string& file, const GeoDatabase* countries, std::size_t& skipped)
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

ServedFiles::ServedFiles(const ServiceConfig& config, const GeoDatabase* countries)
    : settleSeconds_(config.settleSeconds), leastSharePercent_(config.leastListSharePercent), countries_(countries)
{
    list_.path = config.proxyList;
    agents_.path = config.userAgents;
    if (config.accounts)
        accounts_ = Watched{*config.accounts, {}, {}, {}};
    for (Watched* file : {&list_, &agents_, accounts_ ? &*accounts_ : nullptr}) {
        std::string content;
        if (file && !ReadWhole(file->path, file->stamp, content))
            throw std::runtime_error(file->path.string() + ": cannot be read");
        if (file)
            file->pending = std::move(content);
    }
    Publish(true);
}

std::shared_ptr<const ServedVersion> ServedFiles::Current() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return current_;
}

void ServedFiles::Refresh(Watched& file, bool always)
{
    FileStamp now;
    if (!StampOf(file.path, now)) {
        LogLine("cannot read " + file.path.string() + ": the last good version stays served");
        return;
    }
    if (!always && now == file.stamp)
        return;
    if (WrittenAgo(now) < std::chrono::seconds(settleSeconds_)) {
        LogLine(file.path.string() + " was written less than " + std::to_string(settleSeconds_) +
                " s ago: it is read once it has been unchanged that long");
        return;
    }
    std::string content;
    if (!ReadWhole(file.path, now, content)) {
        LogLine("cannot read " + file.path.string() + " whole (it changed while it was read): the last good version "
                "stays served");
        return;
    }
    file.stamp = now;
    if (content != file.content)
        file.pending = std::move(content);
}

void ServedFiles::LookAgain(bool asked)
{
    const std::lock_guard<std::mutex> one(looking_);
    for (Watched* file : {&list_, &agents_, accounts_ ? &*accounts_ : nullptr})
        if (file)
            Refresh(*file, asked);
    if (list_.pending || agents_.pending || (accounts_ && accounts_->pending))
        Publish(asked);
}

void ServedFiles::Publish(bool asked)
{
    Watched* const files[] = {&list_, &agents_, accounts_ ? &*accounts_ : nullptr};
    const auto contentOf = [](const Watched& file) -> const std::string& { return file.pending ? *file.pending : file.content; };
    auto version = std::make_shared<ServedVersion>();
    std::size_t skipped = 0;
    const std::string lines = ServedProxyLines(contentOf(list_), countries_, skipped);
    const auto proxies = static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
    version->encodedList = EncodeProxyList(lines);
    version->userAgents = contentOf(agents_);
    if (accounts_)
        version->accounts = Accounts(contentOf(*accounts_));
    std::string counts = list_.path.string() + ": " + std::to_string(proxies) + " proxies, " + std::to_string(skipped) +
                         " lines skipped (not address:port)";
    if (accounts_)
        counts += "; " + accounts_->path.string() + ": " + std::to_string(version->accounts->size()) + " accounts";

    std::string refusal;
    const bool first = current_ == nullptr;
    if (!first && proxies == 0)
        refusal = "it has no proxy";
    else if (!first && !asked && proxies * 100 < servedProxies_ * leastSharePercent_)
        refusal = "it has fewer than " + std::to_string(leastSharePercent_) + " % of the " +
                  std::to_string(servedProxies_) + " proxies served (SIGHUP takes it)";
    else if (!first && accounts_ && version->accounts->empty())
        refusal = "its accounts file names no account";
    for (Watched* file : files)
        if (file && file->pending) {
            if (refusal.empty())
                file->content = std::move(*file->pending);
            file->pending.reset();
        }
    if (!refusal.empty()) {
        LogLine("refused the new version (" + counts + "): " + refusal + "; the last good version stays served");
        return;
    }
    LogLine("serving " + counts);
    servedProxies_ = proxies;
    const std::lock_guard<std::mutex> hold(lock_);
    current_ = std::move(version);
}
