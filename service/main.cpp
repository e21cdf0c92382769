// The Zarnu service, as an operator runs it for the program's users:
//
//   zarnu-service --config FILE      serves until SIGTERM (SIGHUP: read the files again)
//   zarnu-service --public-key PEM   prints the public key of a signing key, as a release of the
//                                    program takes it (scripts/release --service ... --public-key)
//
// The configuration is described in Config.h. A mistake in it, or a file it names that cannot be
// read, is one line on standard error and exit status 2, before anything listens; the log (one
// line a request) goes to standard output.

#include "Config.h"
#include "GeoDatabase.h"
#include "HttpServer.h"
#include "Log.h"
#include "ServedFiles.h"
#include "StatementSigner.h"

#include <sys/stat.h>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <csignal>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

namespace {

std::string FileText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ConfigError(path.string() + ": cannot be read");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int Usage()
{
    std::cerr << "usage: zarnu-service --config FILE | --public-key PEMFILE\n";
    return 2;
}

// Reads the files again every `interval`.
void LookAgainEvery(boost::asio::steady_timer& timer, std::chrono::seconds interval, ServedFiles& files)
{
    timer.expires_after(interval);
    timer.async_wait([&timer, interval, &files](boost::system::error_code error) {
        if (error)
            return;
        files.LookAgain(false);
        LookAgainEvery(timer, interval, files);
    });
}

void AwaitSignals(boost::asio::signal_set& signals, ServedFiles& files, HttpServer& server)
{
    signals.async_wait([&signals, &files, &server](boost::system::error_code error, int signal) {
        if (error)
            return;
        if (signal == SIGHUP) {
            LogLine("SIGHUP: reading the files again, and taking them as they are");
            files.LookAgain(true);
            AwaitSignals(signals, files, server);
            return;
        }
        LogLine("stopping: the requests in flight end first");
        server.Stop();
    });
}

// The public half of the demo's key (service/demo), which anyone can read in this repository.
constexpr const char* kDemoPublicKey = "c0799530472647b49241aef8b14b491cf6ab580e4c78678f1e761b448d090224"
                                       "2506e69fac1ebb71fd9869132a4bf8593cf8faa9b93d2068cccfebc0aee828f4";

bool Loopback(const std::string& address)
{
    boost::system::error_code error;
    const auto parsed = boost::asio::ip::make_address(address, error);
    return !error && parsed.is_loopback();
}

// The signing key, which only the operator may know: one that anyone on the machine can read is
// refused, and so is the demo's wherever the service can be reached from beyond the machine: on an
// address other than loopback, or behind a reverse proxy (the demo and the tests need neither).
std::unique_ptr<StatementSigner> SecretSigner(const ServiceConfig& config)
{
    const std::string where = config.signingKey.string();
    std::unique_ptr<StatementSigner> signer;
    try {
        signer = std::make_unique<StatementSigner>(FileText(config.signingKey));
    } catch (const std::runtime_error& error) {
        throw ConfigError(where + ": " + error.what());
    }
    const bool demo = signer->PublicKeyHex() == kDemoPublicKey;
    if (demo && (!Loopback(config.listenAddress) || !config.trustedProxies.empty()))
        throw ConfigError(where + ": this is the demo's key, which anyone can read, and the service can be reached from "
                                  "beyond this machine: make a key of your own (README)");
    struct stat status {};
    if (!demo && ::stat(config.signingKey.c_str(), &status) == 0 && (status.st_mode & S_IROTH))
        throw ConfigError(where + ": anyone on this machine can read this secret key: chmod o-r it (README)");
    if (demo)
        LogLine("signing with the demo's key, which anyone can read: for this machine's own tests and demo only");
    return signer;
}

// Serves until a signal ends it.
int Serve(const ServiceConfig& config)
{
    const std::unique_ptr<StatementSigner> signer = SecretSigner(config);
    const auto database = [](const std::optional<std::filesystem::path>& path) -> std::unique_ptr<GeoDatabase> {
        if (!path)
            return nullptr;
        try {
            return std::make_unique<GeoDatabase>(*path);
        } catch (const std::runtime_error& error) {
            throw ConfigError(error.what());
        }
    };
    const std::unique_ptr<GeoDatabase> countries = database(config.countryDatabase);
    const std::unique_ptr<GeoDatabase> networks = database(config.networkDatabase);
    ServedFiles files(config, countries.get());
    boost::asio::io_context io;
    HttpServer server(io, config, files, *signer, countries.get(), networks.get());
    LogLine("listening on " + config.listenAddress + ":" + std::to_string(server.Port()) +
            (config.tunnelPort ? ", tunnels' far end on port " + std::to_string(config.tunnelPort) : ""));
    boost::asio::signal_set signals(io, SIGTERM, SIGINT, SIGHUP);
    AwaitSignals(signals, files, server);
    boost::asio::steady_timer reload(io);
    LookAgainEvery(reload, std::chrono::seconds(config.reloadIntervalSeconds), files);
    server.Start();
    std::vector<std::thread> threads(ServingThreads(std::thread::hardware_concurrency()) - 1);
    for (std::thread& thread : threads)
        thread = std::thread([&io] { io.run(); });
    io.run();
    for (std::thread& thread : threads)
        thread.join();
    LogLine("stopped");
    FlushLog(std::chrono::seconds(1)); // a blocked standard output does not hold the end up longer
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Usage();
    // A standard output whose reader has gone makes a write fail, not the service end.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string option = argv[1];
    try {
        if (option == "--public-key") {
            std::cout << StatementSigner(FileText(argv[2])).PublicKeyHex() << "\n";
            return 0;
        }
        if (option != "--config")
            return Usage();
        return Serve(ReadServiceConfig(argv[2]));
    } catch (const std::exception& error) {
        std::cerr << "zarnu-service: " << error.what() << std::endl;
        return 2;
    }
}
