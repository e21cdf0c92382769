#pragma once
// What the service serves from the operator's files: the proxy list (its lines checked, missing
// countries filled in where a country database is configured, encoded as the program decodes
// it), the user-agent list as it is, and the accounts that may have them. Each file is read whole
// and put in place in one step, so that a request gets one version of it, never half of an old
// and half of a new one. The files are looked at again when asked (on a timer, or SIGHUP): one
// that changed is read again; one that cannot be read keeps its last good version served, and
// the log says so. A file is read only once it has been unchanged for the settle time, so that
// one that is still being written (in place, with pauses) is not taken half; one that changes
// while it is read is not taken either. A new version is refused, and the last good one kept, when its
// list is not whole by its own measure (a line that is no proxy line, the last line not ended), has
// fewer than the configured share of the served one's proxies, its user-agent file is empty, or
// its accounts file names fewer than that share of the served accounts; unless the operator asks
// with SIGHUP, which takes the files as they are then (settled or not). An accounts file that
// names no account is never taken, nor a list without a proxy.

#include "Config.h"
#include "GeoDatabase.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

// One version of what is served; never changed once made.
struct ServedVersion {
    std::string encodedList;
    std::string userAgents;
    std::optional<std::set<std::string>> accounts; // nullopt: every account may have the lists
};

// The proxy list file's lines as the service delivers them: "address:port;country" lines (or
// "address:port:user:password;country" for a proxy with an account that the list's substitution
// carries), each checked (an IPv4 address or a host name, a port from 1 to 65535), the country filled in by
// `countries` where the line has none and the database knows the address. Lines that are not
// address:port are skipped and counted in `skipped`. Not encoded yet.
std::string ServedProxyLines(const std::string& file, const GeoDatabase* countries, std::size_t& skipped);

// What tells one version of a file from another: the file (a file moved into place is another
// one), its size and the time it was last written.
struct FileStamp {
    unsigned long long inode = 0, size = 0;
    long long writtenNs = 0;
    bool operator==(const FileStamp& other) const
    {
        return inode == other.inode && size == other.size && writtenNs == other.writtenNs;
    }
};

class ServedFiles {
public:
    // Reads every file; `countries` (optional) fills in missing countries. Raises
    // std::runtime_error when one cannot be read.
    ServedFiles(const ServiceConfig& config, const GeoDatabase* countries);

    // The version to serve now; any thread.
    std::shared_ptr<const ServedVersion> Current() const;

    // Reads again the files that changed since they were last read; `asked`: all of them, and a
    // much shorter list is taken. Any thread, one at a time.
    void LookAgain(bool asked);

private:
    struct Watched {
        std::filesystem::path path;
        FileStamp stamp;
        std::string content;                // the one served
        std::optional<std::string> pending; // read, not yet served
    };
    // Reads `file` again where it changed (or `always`) into its `pending`; where it cannot be
    // read (whole, or yet), the log says so.
    void Refresh(Watched& file, bool always);
    // Serves what was read, unless it is refused: then the last good version stays, and the log
    // says why.
    void Publish(bool asked);
    // Why the new `version` (made from the list file `list`, with `proxies` lines served and
    // `skipped` lines that are none) is not served; empty where it may be. `asked`: by SIGHUP.
    std::string Refusal(const std::string& list, std::size_t proxies, std::size_t skipped, const ServedVersion& version,
                        bool asked) const;

    unsigned settleSeconds_;
    unsigned leastSharePercent_;
    std::size_t servedProxies_ = 0;
    std::size_t servedAccounts_ = 0;
    const GeoDatabase* countries_;
    Watched list_;
    Watched agents_;
    std::optional<Watched> accounts_;
    std::mutex looking_; // one look at a time
    mutable std::mutex lock_;
    std::shared_ptr<const ServedVersion> current_;
};
