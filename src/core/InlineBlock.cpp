#include "core/InlineBlock.h"

#include "core/ConnectionScan.h"
#include "platform/PacketFilter.h"
#include "platform/Platform.h"
#include "settings/Journal.h"
#include "settings/modGlobals.h"

#include <algorithm>

std::vector<uint16_t> RefusedPorts() {
    std::vector<uint16_t> ports = ClosedPortsInRange();
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

Result InlineBlock::remember(Result outcome) {
    constexpr int LongestBackOff = 120; // a minute of ticks
    backOff_ = outcome ? 0 : std::min(std::max(1, backOff_ * 2), LongestBackOff);
    waitTicks_ = backOff_;
    lastFailure_ = outcome;
    return outcome;
}

// The rules now in force, recorded when they change: put in force (or another set), or lifted.
void InlineBlock::settle(const std::vector<uint16_t>& rules) {
    if (!rules.empty() && applied_ != rules) {
        Journal::BlockInForce(rules);
    } else if (rules.empty() && applied_ && !applied_->empty()) {
        Journal::BlockLifted();
    }
    applied_ = rules;
}

Result InlineBlock::Enforce(bool enforcing) {
    if (waitTicks_ > 0) {
        --waitTicks_;
        return lastFailure_;
    }
    PacketFilter& filter = platform::get<PacketFilter>();
    const std::vector<uint16_t> wanted =
        enforcing && modGlobals::BlockChosen ? RefusedPorts() : std::vector<uint16_t>{};
    if (applied_ && applied_->empty() && wanted.empty()) {
        return Result::Done();
    }
    // While rules are wanted the system is asked each time: a firewall reload or another copy's clean
    // end may have taken them away, and the block must be back within a tick.
    const std::optional<std::vector<uint16_t>> found = filter.InForce();
    if (found && *found == wanted) {
        settle(wanted);
        return remember(Result::Done());
    }
    if (!found && wanted.empty() && !applied_) {
        // A system that cannot even be asked holds no rules a copy of this program could have set.
        applied_ = wanted;
        return remember(Result::Done());
    }
    Result refused = filter.Refuse(wanted);
    if (refused) {
        settle(wanted);
    } else {
        applied_.reset();
    }
    return remember(std::move(refused));
}

void InlineBlock::Lift() {
    if (applied_ && applied_->empty()) {
        return;
    }
    if (platform::get<PacketFilter>().Refuse({})) {
        settle({});
    }
}
