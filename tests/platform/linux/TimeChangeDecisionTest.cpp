#include "platform/linux/TimeChangeTimer.h"

#include <gtest/gtest.h>

// Whether a cancel of the clock's timer was a change of the system time or a resume from suspend,
// decided from the clocks read when the timer was armed and when it was cancelled.
namespace {

constexpr int64_t ms = 1'000'000;
constexpr int64_t s = 1000 * ms;

// Clocks read over 20 µs, with the machine asleep for `slept` since boot and the wall clock `wall`
// ahead of the boot clock.
ClockReading reading(int64_t monotonic, int64_t slept, int64_t wall) {
    const int64_t boottime = monotonic + 10'000 + slept;
    return {.realtimeBefore = boottime + wall - 10'000,
            .monotonicBefore = monotonic,
            .boottime = boottime,
            .monotonicAfter = monotonic + 20'000,
            .realtimeAfter = boottime + wall + 10'000};
}

const ClockReading armed = reading(100 * s, 0, 1'700'000'000 * s);

} // namespace

TEST(TimeChangeDecision, ACancelWithoutSuspendIsAChangeEvenWhenTheTimeWasSetToItself) {
    EXPECT_TRUE(isSystemTimeChange(armed, reading(160 * s, 0, 1'700'000'000 * s)));
}

TEST(TimeChangeDecision, AResumeWithTheWallClockWhereItWasIsNoChange) {
    // Awake 60 s: the clock may have slewed by 1 ms + 30 ms.
    EXPECT_FALSE(isSystemTimeChange(armed, reading(160 * s, 3600 * s, 1'700'000'000 * s + 30 * ms)));
    EXPECT_FALSE(isSystemTimeChange(armed, reading(160 * s, 3600 * s, 1'700'000'000 * s - 30 * ms)));
}

TEST(TimeChangeDecision, AResumeAfterWhichTheWallClockMovedFurtherThanItsSlewIsAChange) {
    EXPECT_TRUE(isSystemTimeChange(armed, reading(160 * s, 3600 * s, 1'700'000'000 * s - 5 * s)));
    EXPECT_TRUE(isSystemTimeChange(armed, reading(160 * s, 3600 * s, 1'700'000'000 * s + 32 * ms)));
}
