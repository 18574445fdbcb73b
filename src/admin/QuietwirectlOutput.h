#pragma once

#include "platform/ProgramProcesses.h"
#include "settings/CurfewWindow.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What quietwirectl's status and show tell: as text for a person, or as one JSON object for a script.
namespace Quietwirectl {

// The in-line block's rules as the system holds them now; nothing: the system cannot be asked.
using RulesInForce = std::optional<std::vector<uint16_t>>;

// What status found. The settings' part means something only where they could be read.
struct StatusFacts {
    std::vector<ProgramCopy> copies; // by process id
    bool serviceRegistered = false;
    bool serviceRunning = false;
    std::string cannotCloseHere; // why this user cannot close connections here; empty when it can
    bool settingsRead = false;
    CurfewReason curfew = CurfewReason::NoWindow;
    std::string start;
    std::string end;
    bool alarm = false;
    bool blockChosen = false;
    size_t entries = 0;
    RulesInForce rulesInForce;
};

// What show found in the settings.
struct ShowFacts {
    std::string start;
    std::string end;
    std::vector<std::string> entries;
    bool alarm = false;
    bool serviceRegistered = false;
    bool blockChosen = false;
    RulesInForce rulesInForce;
};

std::string statusText(const StatusFacts& facts);
std::string statusJson(const StatusFacts& facts);
std::string showText(const ShowFacts& facts);
std::string showJson(const ShowFacts& facts);

// "22:00:00 to 06:00:00".
std::string windowText(const std::string& start, const std::string& end);

// The dialog's messages are made for a box; a console shows each on one line.
std::string oneLine(const std::string& text);

} // namespace Quietwirectl
