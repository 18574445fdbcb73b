#include "platform/win32/Win32WallTime.h"

#include <gtest/gtest.h>

namespace {

// Central European rules, written out: summer time from the last Sunday of March at 02:00 to the last Sunday
// of October at 03:00. A zone of the test's own, never the machine's.
DYNAMIC_TIME_ZONE_INFORMATION centralEurope() {
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    zone.Bias = -60;
    zone.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0};
    zone.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};
    zone.DaylightBias = -60;
    return zone;
}

constexpr int64_t Oct25th2026 = 1792886400; // 00:00 UTC, a Sunday
constexpr int64_t Mar29th2026 = 1774742400; // 00:00 UTC, a Sunday
constexpr int Hour = 3600;

TEST(Win32WallTime, TheSecondPassOverAnHourTheClockWentBackOverIsToldWithItsEnd) {
    const DYNAMIC_TIME_ZONE_INFORMATION zone = centralEurope();
    const WallTime first = wallTimeIn(zone, Oct25th2026 + Hour / 2);
    EXPECT_EQ(first.weekday, 6);
    EXPECT_EQ(first.seconds, 2 * Hour + Hour / 2);
    EXPECT_EQ(first.repeatedUntil, -1);
    const WallTime second = wallTimeIn(zone, Oct25th2026 + Hour + Hour / 2);
    EXPECT_EQ(second.seconds, 2 * Hour + Hour / 2);
    EXPECT_EQ(second.repeatedUntil, 3 * Hour);
    EXPECT_EQ(wallTimeIn(zone, Oct25th2026 + 2 * Hour + 1).repeatedUntil, -1) << "past the repeated hour";
    const WallTime skipped = wallTimeIn(zone, Mar29th2026 + Hour); // 02:00 becomes 03:00
    EXPECT_EQ(skipped.seconds, 3 * Hour);
    EXPECT_EQ(skipped.repeatedUntil, -1);
}

} // namespace
