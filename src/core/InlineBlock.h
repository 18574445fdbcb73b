#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <optional>
#include <vector>

// The ports the in-line block refuses: the number of every closed-port entry that is a port, sorted,
// each once (an entry that is not a port is passed over, as by the sweep).
std::vector<uint16_t> RefusedPorts();

// The in-line block beside the sweep, an administrator's choice (modGlobals::BlockChosen): while the
// curfew is in force the system's packet filter refuses the closed ports, so a connection cannot
// slip through between two sweeps; otherwise the program has no rules of its own there.
class InlineBlock {
public:
    // Makes the rules what the tick wants: the closed ports while `enforcing` with the block chosen,
    // none otherwise. The first call takes over whatever rules a copy before this one left; later
    // calls ask the system again only while rules are wanted (another program may have removed them)
    // or when the wanted set changes. After a failure the system is left alone for a while (one tick,
    // then twice as many, up to a minute), so a copy without the rights does not ask twice a second.
    Result Enforce(bool enforcing);
    // A clean end: the program's rules go. Nothing to do when it never set any.
    void Lift();

private:
    Result remember(Result outcome);
    void settle(const std::vector<uint16_t>& rules);

    std::optional<std::vector<uint16_t>> applied_; // unknown until the first call
    Result lastFailure_ = Result::Done();
    int backOff_ = 0;   // ticks to leave the system alone after the last failure
    int waitTicks_ = 0; // of those, still to go
};
