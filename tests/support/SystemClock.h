#pragma once

#include "support/TempDir.h"

#include <cerrno>
#include <ctime>
#include <linux/capability.h>
#include <string>

// Sets the system time to its own current value: the only change of the clock a test may make on a
// shared machine, and still a setting of the clock to every watch. 0, or the errno of clock_settime
// (it needs CAP_SYS_TIME).
inline int setClockToItself() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return clock_settime(CLOCK_REALTIME, &now) == 0 ? 0 : errno;
}

// Whether this process may set the clock (CAP_SYS_TIME among its effective capabilities).
inline bool maySetTheClock() {
    const std::string status = readBytes("/proc/self/status");
    const size_t at = status.find("CapEff:");
    return at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) >> CAP_SYS_TIME & 1) != 0;
}
