#pragma once
// The user's own addresses as the service states them: asked directly (which is how the checks
// reach their proxies), over IPv4 and over IPv6 where the service has both, and the way `way`
// goes where that is not direct (through the user's own proxy, say). What a proxy must not pass
// on, and, for the watch, whether the service can be reached at all.

#include "core/RequestWay.h"
#include "verify/CheckEngine.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Starts the questions on `engine`, each within `limitMs`; `deliver` runs on the engine's thread
// once for each of them with the addresses it learned (none where it failed). Returns how many
// deliveries will come, unless `cancelled` is set first.
int LearnUsersAddresses(CheckEngine& engine, const std::string& service, const RequestWay& way,
                        const std::string& userAgent, unsigned limitMs,
                        std::shared_ptr<const std::atomic<bool>> cancelled,
                        std::function<void(std::vector<std::string> addresses)> deliver);
