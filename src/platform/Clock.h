#pragma once

#include <cstdint>

// The local wall time with its day of the week. In the second pass over an hour the clock went back over
// (the end of daylight saving), repeatedUntil is the second of the day at which that hour ends; else -1.
struct WallTime {
    int weekday = 0; // 0 Monday … 6 Sunday
    int32_t seconds = 0;
    int32_t repeatedUntil = -1;
};

// The machine's local wall clock, in the system's time zone (never TZ from the environment).
class Clock {
public:
    virtual ~Clock() = default;
    // The local time of day in whole seconds since midnight, 0..86399.
    virtual int32_t localSecondsOfDay() = 0;
    virtual WallTime localWallTime() = 0;
    // How far the system clock stands from one that only runs forward (suspend included), in milliseconds:
    // it moves only when the clock is set.
    virtual int64_t offsetMilliseconds() = 0;
};

Clock& systemClock();
