#pragma once

#include "platform/Clock.h"

#include <cstdint>
#include <windows.h>

// The wall time at utcSeconds (since 1970) in zone, with the day of the week and, in the second pass over an
// hour the clock went back over, where that hour ends.
WallTime wallTimeIn(const DYNAMIC_TIME_ZONE_INFORMATION& zone, int64_t utcSeconds);
