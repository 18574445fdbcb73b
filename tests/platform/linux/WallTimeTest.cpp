#include "platform/linux/SystemZone.h"

#include <gtest/gtest.h>

namespace {

// Zones of their own, never the machine's: each case names the zone and an instant in UTC.
class WallTime_ : public ::testing::Test {
protected:
    ~WallTime_() override { systemZone().useFile(SystemZone::MachineZoneFile); }
    static WallTime in(const char* zone, std::time_t utc) {
        systemZone().useFile(std::string("/usr/share/zoneinfo/") + zone);
        return wallTimeIn(systemZone(), utc);
    }
};

constexpr std::time_t Oct25th2026 = 1792886400; // 2026-10-25 00:00 UTC, a Sunday
constexpr std::time_t Nov1st2026 = 1793491200;  // 2026-11-01 00:00 UTC, a Sunday
constexpr std::time_t Mar29th2026 = 1774742400; // 2026-03-29 00:00 UTC, a Sunday
constexpr int Hour = 3600;

TEST_F(WallTime_, TheSecondPassOverAnHourTheClockWentBackOverIsToldWithItsEndInTwoZones) {
    // Berlin: 03:00 summer time becomes 02:00 winter time at 01:00 UTC.
    const WallTime first = in("Europe/Berlin", Oct25th2026 + Hour / 2);
    EXPECT_EQ(first.weekday, 6);
    EXPECT_EQ(first.seconds, 2 * Hour + Hour / 2);
    EXPECT_EQ(first.repeatedUntil, -1);
    const WallTime second = in("Europe/Berlin", Oct25th2026 + Hour + Hour / 2);
    EXPECT_EQ(second.seconds, 2 * Hour + Hour / 2);
    EXPECT_EQ(second.repeatedUntil, 3 * Hour);
    EXPECT_EQ(in("Europe/Berlin", Oct25th2026 + 2 * Hour + 1).repeatedUntil, -1) << "past the repeated hour";
    // New York: 02:00 daylight time becomes 01:00 standard time at 06:00 UTC.
    EXPECT_EQ(in("America/New_York", Nov1st2026 + 5 * Hour + Hour / 2).repeatedUntil, -1);
    const WallTime again = in("America/New_York", Nov1st2026 + 6 * Hour + Hour / 2);
    EXPECT_EQ(again.seconds, Hour + Hour / 2);
    EXPECT_EQ(again.repeatedUntil, 2 * Hour);
    // A skipped hour repeats nothing: 02:00 becomes 03:00.
    const WallTime skipped = in("Europe/Berlin", Mar29th2026 + Hour);
    EXPECT_EQ(skipped.seconds, 3 * Hour);
    EXPECT_EQ(skipped.repeatedUntil, -1);
}

} // namespace
