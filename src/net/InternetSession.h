#pragma once
// The platform's HTTP client session for requests that go a given way.

#include "core/RequestWay.h"
#include "win/UniqueHandle.h"

#include <string>

// The executable's file name without its directory: the agent name the program's requests send.
std::string ExecutableFileName();

// A new internet handle (null when the platform refuses one) whose requests go `way`, sending
// `agent` as their User-Agent. The proxy lists are taken in the wide form, whatever characters
// the user's own settings hold.
UniqueHInternet OpenInternetSession(const RequestWay& way, const std::string& agent);
