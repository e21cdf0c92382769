#include "ServedFiles.h"

#include "Log.h"

#include "core/IpCheckPage.h"
#include "core/ProxyAccount.h"
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

// ":user:password" at the end of `label` where it names a proxy with an account as
// "host:port:user:password" whose account the list's substitution carries (without "%", "&",
// "@" and blanks); empty otherwise.
std::string CarriedAccount(const std::string& label)
{
    const auto proxy = ParseAccountedProxy(label);
    if (!proxy || proxy->form != AccountedProxy::Form::Colons)
        return {};
    const std::string account = ":" + proxy->account.user + ":" + proxy->account.password;
    if (account.find_first_of("%&@ \t") != std::string::npos || !label.ends_with(account))
        return {};
    return account;
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
        std::string label = ProxyLineLabel(line);
        const std::string account = CarriedAccount(label);
        label.resize(label.size() - account.size());
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
        served += host + ":" + port + account + (country.empty() ? "" : ";" + country) + "\r\n";
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
    if (!always && WrittenAgo(now) < std::chrono::seconds(settleSeconds_)) {
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

std::string ServedFiles::Refusal(const std::string& list, std::size_t proxies, std::size_t skipped,
                                 const ServedVersion& version, bool asked) const
{
    const auto share = [this](std::size_t count, std::size_t served) { return count * 100 < served * leastSharePercent_; };
    if (proxies == 0)
        return "it has no proxy";
    if (version.accounts && version.accounts->empty())
        return "its accounts file names no account";
    if (asked)
        return {};
    // Each file that changed is whole by its own measure.
    if (list_.pending && !list.empty() && list.back() != '\n')
        return "its last line is not ended, as where it is still being written (SIGHUP takes it)";
    if (list_.pending && skipped > 0)
        return std::to_string(skipped) + " of its lines are no proxy line, as where it is cut or garbled (SIGHUP takes it)";
    if (list_.pending && share(proxies, servedProxies_))
        return "it has fewer than " + std::to_string(leastSharePercent_) + " % of the " + std::to_string(servedProxies_) +
               " proxies served (SIGHUP takes it)";
    if (agents_.pending && version.userAgents.find_first_not_of(" \t\r\n") == std::string::npos)
        return "its user-agent file is empty (SIGHUP takes it)";
    if (accounts_ && accounts_->pending && share(version.accounts->size(), servedAccounts_))
        return "its accounts file names fewer than " + std::to_string(leastSharePercent_) + " % of the " +
               std::to_string(servedAccounts_) + " accounts served (SIGHUP takes it)";
    return {};
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
    const bool first = current_ == nullptr;
    std::string counts = list_.path.string() + ": " + std::to_string(proxies) + " proxies, " + std::to_string(skipped) +
                         " lines skipped (not address:port)";
    if (accounts_)
        counts += "; " + accounts_->path.string() + ": " + std::to_string(version->accounts->size()) + " accounts";

    const std::string refusal = first ? std::string() : Refusal(contentOf(list_), proxies, skipped, *version, asked);
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
    LogLine(std::string(asked && !first ? "asked: " : "") + "serving " + counts);
    servedProxies_ = proxies;
    servedAccounts_ = version->accounts ? version->accounts->size() : 0;
    const std::lock_guard<std::mutex> hold(lock_);
    current_ = std::move(version);
}
