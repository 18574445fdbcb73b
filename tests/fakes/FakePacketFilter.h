#pragma once

#include "platform/PacketFilter.h"

#include <string>
#include <vector>

// The system's packet filter as the program's rules leave it; `refusal` makes every change fail.
class FakePacketFilter : public PacketFilter {
public:
    std::vector<uint16_t> inForce;
    std::vector<std::vector<uint16_t>> changes; // every set of rules asked for, in order
    std::string refusal;
    bool askable = true;

    Result Refuse(const std::vector<uint16_t>& ports) override {
        changes.push_back(ports);
        if (!refusal.empty()) {
            return Result::Failed(refusal);
        }
        inForce = ports;
        return Result::Done();
    }
    std::optional<std::vector<uint16_t>> InForce() override { return askable ? std::optional(inForce) : std::nullopt; }
};
