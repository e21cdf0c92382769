#pragma once
// Why a browser connection through the relay could not be opened, as the relay saw it: the
// proxy's own failure (it refused the connection, broke or dropped the handshake, took too long,
// or an HTTP proxy refused a tunnel), or the site's, as the proxy reported it (the site refused
// the connection, or could not be reached in time). Only the proxy's own failures say anything
// about the proxy.

enum class PathFailure {
    ProxyRefused,  // no connection to the proxy could be made
    ProxyBroke,    // the proxy answered in no protocol, refused the handshake, or hung up
    ProxyTimedOut, // the proxy did not finish the handshake in time
    TunnelRefused, // an HTTP proxy answered a CONNECT with anything but 2xx
    AccountRefused, // the proxy refused the account it was given, or asked for one
    SiteRefused,   // the proxy said the site refused the connection or cannot be reached
    SiteTimedOut,  // the proxy took the request, but the site did not answer it in time
    RelayFull,     // the relay had no room for a new connection: the one quiet longest went
    RelayBroke,    // the relay's own work failed: every connection is answered 502 from now on
};

// True for the proxy's own failures.
bool IsProxysOwn(PathFailure failure);

// True for the relay's own: the path the browser takes is in trouble whatever the proxy.
bool IsRelaysOwn(PathFailure failure);

// "the proxy refused the connection", "the site timed out", ...
const char* PathFailureText(PathFailure failure);
