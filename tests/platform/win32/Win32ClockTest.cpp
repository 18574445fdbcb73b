#include "platform/Clock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

// The Windows clock tells local time in the system's time zone. The C runtime's localtime takes the zone
// from TZ in the environment, which whoever starts the program sets as they like.
namespace {

int32_t daySeconds(int64_t seconds) {
    return static_cast<int32_t>((seconds % 86400 + 86400) % 86400);
}

// The local time of day in the system's zone, worked out from UTC and the zone's bias.
int32_t systemLocalSeconds() {
    TIME_ZONE_INFORMATION zone{};
    const DWORD state = GetTimeZoneInformation(&zone);
    const LONG bias = zone.Bias + (state == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias);
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    return daySeconds(utc.wHour * 3600 + utc.wMinute * 60 + utc.wSecond - int64_t{bias} * 60);
}

int32_t runtimeLocalSeconds() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec;
}

bool withinASecond(int32_t a, int32_t b) {
    const int32_t apart = daySeconds(int64_t{a} - b);
    return apart <= 1 || apart >= 86399;
}

} // namespace

TEST(Win32Clock, TZInTheEnvironmentNeverMovesTheClock) {
    // Seven hours east of the system's zone.
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    char tz[32];
    std::snprintf(tz, sizeof tz, "TZ=QWT%ld", zone.Bias / 60 - 7);
    _putenv(tz);
    _tzset();

    const int32_t system = systemLocalSeconds();
    EXPECT_TRUE(withinASecond(runtimeLocalSeconds(), daySeconds(system + 7 * 3600)))
        << "the runtime did not take " << tz << "; the test proves nothing";
    EXPECT_TRUE(withinASecond(systemClock().localSecondsOfDay(), system));

    _putenv("TZ=");
    _tzset();
}
