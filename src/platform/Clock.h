#pragma once

#include <cstdint>

// The machine's local wall clock.
class Clock {
public:
    virtual ~Clock() = default;
    // The local time of day in whole seconds since midnight, 0..86399.
    virtual int32_t localSecondsOfDay() = 0;
};

Clock& systemClock();
