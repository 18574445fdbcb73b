#include "platform/Clock.h"
#include "platform/linux/SystemZone.h"

#include <ctime>

namespace {

class LinuxClock final : public Clock {
public:
    int32_t localSecondsOfDay() override {
        const std::tm local = systemZone().localTime(std::time(nullptr));
        return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec % 60; // a leap second counts as :59
    }
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
