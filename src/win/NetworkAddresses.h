#pragma once
// This machine's own addresses on its networks, as a list that changes when the network does (a
// reconnect, another network, a new address from the provider). Any thread.

#include <string>
#include <vector>

// The unicast addresses of every interface that is up, sorted; none where the platform cannot say.
std::vector<std::string> LocalAddresses();
