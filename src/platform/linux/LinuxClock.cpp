#include "platform/Clock.h"
#include "platform/linux/SystemZone.h"

#include <ctime>

WallTime wallTimeIn(SystemZone& zone, std::time_t now) {
    const std::tm local = zone.localTime(now);
    WallTime wall{(local.tm_wday + 6) % 7, local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec % 60, -1};
    // The clock went back within the last hours: find when, and whether this is the wall time's second pass.
    constexpr std::time_t Look = 3 * 3600;
    const long back = zone.localTime(now - Look).tm_gmtoff - local.tm_gmtoff;
    if (back <= 0) {
        return wall;
    }
    std::time_t before = now - Look; // still at the earlier offset
    std::time_t after = now;         // at the later one
    while (after - before > 1) {
        const std::time_t middle = before + (after - before) / 2;
        (zone.localTime(middle).tm_gmtoff == local.tm_gmtoff ? after : before) = middle;
    }
    if (now - after < back) {
        const std::tm turned = zone.localTime(after);
        wall.repeatedUntil = turned.tm_hour * 3600 + turned.tm_min * 60 + turned.tm_sec + static_cast<int32_t>(back);
    }
    return wall;
}

namespace {

class LinuxClock final : public Clock {
public:
    int32_t localSecondsOfDay() override {
        const std::tm local = systemZone().localTime(std::time(nullptr));
        return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec % 60; // a leap second counts as :59
    }
    WallTime localWallTime() override { return wallTimeIn(systemZone(), std::time(nullptr)); }
    int64_t offsetMilliseconds() override { return milliseconds(CLOCK_REALTIME) - milliseconds(CLOCK_BOOTTIME); }

private:
    static int64_t milliseconds(clockid_t clock) {
        timespec now{};
        ::clock_gettime(clock, &now);
        return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    }
};

} // namespace

Clock& systemClock() {
    static LinuxClock instance;
    return instance;
}
