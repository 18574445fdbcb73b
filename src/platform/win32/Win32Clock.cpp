#include "platform/Clock.h"

#include <windows.h>

namespace {

class Win32Clock final : public Clock {
public:
    int32_t localSecondsOfDay() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
    }
    // Windows does not say here which pass over a repeated hour it is in: the first is taken.
    WallTime localWallTime() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return {(now.wDayOfWeek + 6) % 7, now.wHour * 3600 + now.wMinute * 60 + now.wSecond, -1};
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
