#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <optional>
#include <vector>

// The in-line block: rules of the program's own in the system's packet filter that refuse every TCP
// and UDP packet to or from given ports, IPv4 and IPv6, in both directions. The system keeps them
// when the process ends, however it ends, so a program killed while they are in force fails closed.
class PacketFilter {
public:
    virtual ~PacketFilter() = default;

    // Makes the program's rules refuse exactly `ports` (sorted, no repeats), in one transaction that
    // replaces whatever rules of its own were there; an empty list removes them all.
    virtual Result Refuse(const std::vector<uint16_t>& ports) = 0;
    // The ports the program's rules refuse now, read from the system (empty: no rules of its own);
    // nothing when the system cannot be asked.
    virtual std::optional<std::vector<uint16_t>> InForce() = 0;
};

PacketFilter& systemPacketFilter();
