#pragma once
// What the service serves from the operator's files: the proxy list (its lines checked, missing
// countries filled in where a country database is configured, encoded as the program decodes
// it), the user-agent list as it is, and the accounts that may have them. Each file is read whole
// and put in place in one step, so that a request gets one version of it, never half of an old
// and half of a new one. The files are looked at again when asked (on a timer, or SIGHUP): one
// that changed is read again; one that cannot be read keeps its last good version served, and
// the log says so.

#include "Config.h"
#include "CountryDatabase.h"

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

// The proxy list file's lines as the service delivers them: "address:port;country" lines, each
// checked (an IPv4 address or a host name, a port from 1 to 65535), the country filled in by
// `countries` where the line has none and the database knows the address. Lines that are not
// address:port are skipped and counted in `skipped`. Not encoded yet.
std::string ServedProxyLines(const std::string& file, const CountryDatabase* countries, std::size_t& skipped);

class ServedFiles {
public:
    // Reads every file. Raises std::runtime_error when one cannot be read.
    explicit ServedFiles(const ServiceConfig& config);

    // The version to serve now; any thread.
    std::shared_ptr<const ServedVersion> Current() const;

    // Reads again the files that changed since they were last read (all of them with `always`).
    // Any thread, one at a time.
    void LookAgain(bool always);

private:
    struct Watched {
        std::filesystem::path path;
        std::filesystem::file_time_type written{};
        std::uintmax_t size = 0;
        std::string content; // the last good one
    };
    // Reads `file` again where it changed (or `always`); false where it could not be read whole.
    static bool Refresh(Watched& file, bool always, bool& changed);
    void Publish();

    std::unique_ptr<CountryDatabase> countries_;
    Watched list_;
    Watched agents_;
    std::optional<Watched> accounts_;
    std::mutex looking_; // one look at a time
    mutable std::mutex lock_;
    std::shared_ptr<const ServedVersion> current_;
};
