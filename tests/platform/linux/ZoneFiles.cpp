#include "platform/linux/ZoneFiles.h"

#include "platform/Clock.h"
#include "support/Command.h"

#include <cstdio>
#include <filesystem>

namespace {

std::string zoneInfo(const std::string& zone) {
    return readBytes("/usr/share/zoneinfo/" + zone);
}

} // namespace

void ZoneFiles::replaceWith(const std::string& zone) const {
    writeBytes(path() + ".new", zoneInfo(zone));
    std::filesystem::rename(path() + ".new", path());
}

void ZoneFiles::rewriteWith(const std::string& zone) const {
    writeBytes(path(), zoneInfo(zone));
}

std::string ZoneFiles::replaceWithDaylightFrom(std::time_t at) const {
    std::tm utc{};
    gmtime_r(&at, &utc);
    char rule[128];
    std::strftime(rule, sizeof rule, "Rule Test %Y only - %b %d %H:%M:%Su 1:00 -\n", &utc);
    writeBytes(dir_.file("daylight.zic"), std::string("Rule Test 2000 only - Jan 1 0:00u 0 -\n") + rule +
                                              "Zone Test/Daylight 0:00 Test XST/XDT\n");
    std::string output;
    if (runCommand({"/usr/sbin/zic", "-d", dir_.file("compiled"), dir_.file("daylight.zic")}, output) != 0) {
        return "zic failed: " + output;
    }
    std::filesystem::rename(dir_.file("compiled/Test/Daylight"), path());
    return "";
}

int32_t secondsOfDayAt(std::time_t t, int hours) {
    return static_cast<int32_t>(((t + hours * 3600) % 86400 + 86400) % 86400);
}

::testing::AssertionResult clockIsAt(int hours) {
    const std::time_t before = std::time(nullptr);
    const int32_t answer = systemClock().localSecondsOfDay();
    const std::time_t after = std::time(nullptr);
    if (answer == secondsOfDayAt(before, hours) || answer == secondsOfDayAt(after, hours)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the clock says " << answer << " s; UTC" << (hours < 0 ? "" : "+") << hours
                                         << " is " << secondsOfDayAt(after, hours) << " s";
}
