#include "platform/Clock.h"
#include "platform/win32/Win32WallTime.h"

#include <windows.h>

namespace {

constexpr int64_t UnixEpochIn100ns = 116444736000000000LL;

// The local time in zone at utcSeconds, and how far it stands from UTC, in seconds.
struct Local {
    SYSTEMTIME time{};
    int64_t offset = 0;
    bool known = false;
};
Local localAt(const DYNAMIC_TIME_ZONE_INFORMATION& zone, int64_t utcSeconds) {
    const uint64_t utc100ns = static_cast<uint64_t>(utcSeconds * 10'000'000 + UnixEpochIn100ns);
    const FILETIME utcFile{static_cast<DWORD>(utc100ns), static_cast<DWORD>(utc100ns >> 32)};
    // The zone's rules as the older call takes them: the same fields, in the same order.
    TIME_ZONE_INFORMATION rules{};
    rules.Bias = zone.Bias;
    rules.StandardDate = zone.StandardDate;
    rules.StandardBias = zone.StandardBias;
    rules.DaylightDate = zone.DaylightDate;
    rules.DaylightBias = zone.DaylightBias;
    SYSTEMTIME utc;
    Local local;
    FILETIME localFile;
    if (!FileTimeToSystemTime(&utcFile, &utc) || !SystemTimeToTzSpecificLocalTime(&rules, &utc, &local.time) ||
        !SystemTimeToFileTime(&local.time, &localFile)) {
        return local;
    }
    const uint64_t local100ns = (static_cast<uint64_t>(localFile.dwHighDateTime) << 32) | localFile.dwLowDateTime;
    local.offset = (static_cast<int64_t>(local100ns) - static_cast<int64_t>(utc100ns)) / 10'000'000;
    local.known = true;
    return local;
}

int32_t secondsOf(const SYSTEMTIME& time) {
    return time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
}

} // namespace

WallTime wallTimeIn(const DYNAMIC_TIME_ZONE_INFORMATION& zone, int64_t utcSeconds) {
    const Local now = localAt(zone, utcSeconds);
    if (!now.known) {
        SYSTEMTIME local;
        GetLocalTime(&local);
        return {(local.wDayOfWeek + 6) % 7, secondsOf(local), -1};
    }
    WallTime wall{(now.time.wDayOfWeek + 6) % 7, secondsOf(now.time), -1};
    // The clock went back within the last hours: find when, and whether this is the wall time's second pass.
    constexpr int64_t Look = 3 * 3600;
    const int64_t back = localAt(zone, utcSeconds - Look).offset - now.offset;
    if (back <= 0) {
        return wall;
    }
    int64_t before = utcSeconds - Look; // still at the earlier offset
    int64_t after = utcSeconds;         // at the later one
    while (after - before > 1) {
        const int64_t middle = before + (after - before) / 2;
        (localAt(zone, middle).offset == now.offset ? after : before) = middle;
    }
    if (utcSeconds - after < back) {
        wall.repeatedUntil = secondsOf(localAt(zone, after).time) + static_cast<int32_t>(back);
    }
    return wall;
}

namespace {

class Win32Clock final : public Clock {
public:
    int32_t localSecondsOfDay() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
    }
    WallTime localWallTime() override {
        DYNAMIC_TIME_ZONE_INFORMATION zone{};
        GetDynamicTimeZoneInformation(&zone);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const int64_t utc100ns =
            static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
        return wallTimeIn(zone, (utc100ns - UnixEpochIn100ns) / 10'000'000);
    }
    // GetTickCount64 counts a machine's sleep too.
    int64_t offsetMilliseconds() override {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const uint64_t hundredNanoseconds = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        return static_cast<int64_t>(hundredNanoseconds / 10'000) - static_cast<int64_t>(GetTickCount64());
    }
};

} // namespace

Clock& systemClock() {
    static Win32Clock instance;
    return instance;
}
