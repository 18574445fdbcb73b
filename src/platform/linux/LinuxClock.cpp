#include "platform/Clock.h"

#include <ctime>

namespace {

class LinuxClock final : public Clock {
public:
    int32_t localSecondsOfDay() override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec % 60; // a leap second counts as :59
    }
};

} // namespace

Clock& systemClock() {
    static LinuxClock instance;
    return instance;
}
