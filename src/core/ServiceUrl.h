#pragma once
// Addresses on the Zarnu service: the download URLs, which carry the account name and the fixed
// password as the URL's user information, and the what-is-my-IP page.

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* ServicePassword = "Tordane41";
inline constexpr const char* ProxyListPath = "/download/encrypt/paidencrypt.txt";
inline constexpr const char* AgentListPath = "/download/encrypt/useragent.txt";
inline constexpr const char* IpCheckPagePath = "/whatismyip.php";
// Bytes that no proxy can have cached, for a speed test through it.
inline constexpr const char* SpeedPagePath = "/speedtest.bin";

// "host" or "host:port": ZARNU_SERVICE_HOST when set and not empty, else the compiled-in host.
std::string ServiceHost();

// `text` percent-encoded except for letters, digits and "-" "." "_" "~".
std::string PercentEncode(std::string_view text);

// "http://" account ":" password "@" host path. The account is percent-encoded except for
// letters, digits and "-" "." "_" "~", so an ordinary account name stands unchanged and no
// account text can move the request, or the password, to another host.
std::string ServiceUrl(std::string_view account, std::string_view host, std::string_view path);

// A URL taken apart into the address without its user information and the percent-decoded
// user name and password. Without user information, `url` is the URL unchanged.
struct UrlCredentials {
    std::string url;
    bool hasUserInfo = false;
    std::string user;
    std::string password;
};
UrlCredentials SplitUrlCredentials(std::string_view url);

// The value of an HTTP Basic "Authorization" header for these credentials.
std::string BasicAuthorization(std::string_view user, std::string_view password);

// The user name and password of such a value (the user name up to the first ":"); nullopt for a
// value that is not "Basic " and base64.
struct BasicCredentials {
    std::string user;
    std::string password;
};
std::optional<BasicCredentials> ReadBasicAuthorization(std::string_view value);

// "host", "host:port", "[v6]" or "[v6]:port" taken apart: the host without brackets, and the port
// (`defaultPort` where none is given, 0 where the one given is no number from 1 to 65535).
struct HostPort {
    std::string host;
    unsigned short port = 0;
};
HostPort SplitHostPort(std::string_view text, unsigned short defaultPort);
