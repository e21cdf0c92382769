#include "HostTable.h"

#include <arpa/inet.h>

#include <sstream>
#include <stdexcept>

HostTable HostTable::Read(std::istream& lines)
{
    HostTable table;
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream fields(line);
        std::string address, kind;
        HostBehaviour behaviour;
        if (!(fields >> address) || address[0] == '#')
            continue;
        in_addr parsed{};
        fields >> kind >> behaviour.delayMs >> behaviour.jitterMs >> behaviour.loss;
        if (inet_pton(AF_INET, address.c_str(), &parsed) != 1 || !fields || behaviour.loss < 0 || behaviour.loss > 1 ||
            behaviour.jitterMs > behaviour.delayMs)
            throw std::runtime_error("line " + std::to_string(number) + " is no host: " + line);
        if (kind == "answers")
            behaviour.kind = HostBehaviour::Kind::Answers;
        else if (kind == "no-echo")
            behaviour.kind = HostBehaviour::Kind::NoEcho;
        else if (kind == "silent")
            behaviour.kind = HostBehaviour::Kind::Silent;
        else if (kind == "unreachable")
            behaviour.kind = HostBehaviour::Kind::Unreachable;
        else
            throw std::runtime_error("line " + std::to_string(number) + " names no kind: " + line);
        table.hosts_[parsed.s_addr] = behaviour;
    }
    return table;
}

std::optional<HostBehaviour> HostTable::Find(std::uint32_t address) const
{
    const auto found = hosts_.find(address);
    if (found == hosts_.end())
        return std::nullopt;
    return found->second;
}
