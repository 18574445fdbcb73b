#pragma once

#include "settings/modGlobals.h"

#include <cstdint>
#include <string>
#include <vector>

// Settings as they stand when the process starts and the start-up path has cleared the list.
inline void resetSettings() {
    modGlobals::PasswordOK = false;
    modGlobals::AdminPassword.clear();
    modGlobals::StartTime.clear();
    modGlobals::EndTime.clear();
    modGlobals::ClosedPorts.clear();
    modGlobals::LastPortIndex = -1;
    modGlobals::AlarmRaised = false;
    modGlobals::BlockChosen = false;
    modGlobals::WeekDays = {};
    modGlobals::WarnMinutes = 0;
}

inline void setPorts(const std::vector<std::string>& ports) {
    modGlobals::ClosedPorts = ports;
    modGlobals::LastPortIndex = static_cast<int32_t>(ports.size()) - 1;
}

// The ports in memory, 0..LastPortIndex.
inline std::vector<std::string> listedPorts() {
    std::vector<std::string> ports;
    for (int32_t i = 0; i <= modGlobals::LastPortIndex; ++i) {
        ports.push_back(modGlobals::ClosedPorts.at(static_cast<size_t>(i)));
    }
    return ports;
}
