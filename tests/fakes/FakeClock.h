#pragma once

#include "platform/Clock.h"

// A clock the test sets.
class FakeClock : public Clock {
public:
    int32_t now = 0;
    int64_t offset = 0; // moved by a test that sets the clock
    int reads = 0;

    void set(int hours, int minutes, int seconds) { now = hours * 3600 + minutes * 60 + seconds; }
    int32_t localSecondsOfDay() override {
        ++reads;
        return now;
    }
    int64_t offsetMilliseconds() override { return offset; }
    int weekday = 0;
    int32_t repeatedUntil = -1;
    WallTime localWallTime() override {
        ++reads;
        return {weekday, now, repeatedUntil};
    }
};
