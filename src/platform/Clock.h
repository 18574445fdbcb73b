#pragma once

#include <cstdint>

// The machine's local wall clock, in the system's time zone (never TZ from the environment).
class Clock {
public:
    virtual ~Clock() = default;
    // The local time of day in whole seconds since midnight, 0..86399.
    virtual int32_t localSecondsOfDay() = 0;
    // How far the system clock stands from one that only runs forward (suspend included), in milliseconds:
    // it moves only when the clock is set.
    virtual int64_t offsetMilliseconds() = 0;
};

Clock& systemClock();
