#include "core/PathFailure.h"

bool IsProxysOwn(PathFailure failure)
{
    return failure != PathFailure::SiteRefused && failure != PathFailure::SiteTimedOut && !IsRelaysOwn(failure);
}

bool IsRelaysOwn(PathFailure failure)
{
    return failure == PathFailure::RelayFull || failure == PathFailure::RelayBroke;
}

const char* PathFailureText(PathFailure failure)
{
    switch (failure) {
    case PathFailure::ProxyRefused: return "the proxy refused the connection";
    case PathFailure::ProxyBroke: return "the proxy broke the handshake";
    case PathFailure::ProxyTimedOut: return "the proxy timed out";
    case PathFailure::TunnelRefused: return "the proxy refused a tunnel";
    case PathFailure::AccountRefused: return "the proxy refused its password";
    case PathFailure::SiteRefused: return "the site refused the connection";
    case PathFailure::SiteTimedOut: return "the site timed out";
    case PathFailure::RelayFull: return "Zarnu's relay is full: the connections quiet longest make room for new ones";
    case PathFailure::RelayBroke: return "Zarnu's relay has failed: pages get an error until you stop Hide My IP";
    }
    return "";
}
