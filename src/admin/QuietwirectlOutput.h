#pragma once

#include "platform/OneLine.h"
#include "platform/ProgramProcesses.h"
#include "settings/CurfewWindow.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What quietwirectl's status and show tell: as text for a person, or as one JSON object for a script.
namespace Quietwirectl {

// The in-line block's rules as the system holds them now; nothing: the system cannot be asked.
using RulesInForce = std::optional<std::vector<uint16_t>>;

// What status and show found; show leaves the program's copies and the service's state out. The settings'
// part means something only where they could be read.
struct Facts {
    std::vector<ProgramCopy> copies{}; // by process id
    bool serviceRegistered = false;
    bool serviceRunning = false;
    std::string cannotCloseHere{}; // why this user cannot close connections here; empty when it can
    bool settingsRead = true;
    CurfewReason curfew = CurfewReason::NoWindow;
    std::string start{};
    std::string end{};
    std::vector<std::string> entries{};
    bool alarm = false;
    bool blockChosen = false;
    RulesInForce rulesInForce{};
    std::array<std::string, 7> week{}; // each day's rule as kept; all "" when no day has its own
    std::string next{};                // when the week next opens or closes the ports; "" without a week
    int32_t warn = 0;                  // minutes of warning before the ports close; 0: none
};

std::string statusText(const Facts& facts);
std::string statusJson(const Facts& facts);
std::string showText(const Facts& facts);
std::string showJson(const Facts& facts);

// "22:00:00 to 06:00:00".
std::string windowText(const std::string& start, const std::string& end);

// "5 minutes", "1 minute".
std::string minutesText(int minutes);

} // namespace Quietwirectl
