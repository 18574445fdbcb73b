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
};

} // namespace

Clock& systemClock() {
    static LinuxClock instance;
    return instance;
}
