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
};

} // namespace

Clock& systemClock() {
    static Win32Clock instance;
    return instance;
}
