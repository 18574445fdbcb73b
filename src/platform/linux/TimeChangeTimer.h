#pragma once

#include "platform/Result.h"
#include "platform/linux/UniqueFd.h"

#include <cstdint>

// CLOCK_REALTIME, CLOCK_MONOTONIC and CLOCK_BOOTTIME in nanoseconds, read back to back in this order:
// REALTIME, MONOTONIC, BOOTTIME, MONOTONIC, REALTIME. Each offset between two of them is then known
// within a bracket as wide as the reading took.
struct ClockReading {
    int64_t realtimeBefore = 0;
    int64_t monotonicBefore = 0;
    int64_t boottime = 0;
    int64_t monotonicAfter = 0;
    int64_t realtimeAfter = 0;
};

ClockReading readClocks();

// The kernel cancels a timer armed with TFD_TIMER_CANCEL_ON_SET when the system time is set, and also
// when the machine resumes from suspend, which changes no time. Given the readings taken when the
// timer was armed and when its cancel was seen, tells whether the cancel was a change of the system
// time: any cancel without a suspend in between, or one after which REALTIME - BOOTTIME moved by more
// than the clock may slew while awake.
bool isSystemTimeChange(const ClockReading& armed, const ClockReading& cancelled);

// A timerfd on CLOCK_REALTIME that never expires and is cancelled whenever the system time is set.
class TimeChangeTimer {
public:
    Result open(); // done, or the system's words with the errno
    int fd() const { return fd_.get(); }
    // Reads the timer once its fd is readable and arms it again; true when the system time was changed.
    bool takeChange();

private:
    Result arm();

    UniqueFd fd_;
    ClockReading armed_;
};
